// ONVIF supervision (see onvif_supervision.h).
#include "devices/onvif_supervision.h"

#include "controls/alarm_info.h"
#include "core/log.h"
#include "devices/device_services.h"
#include "devices/onvif_profile.h"
#include "media/sink_targets.h"
#include "platform/clock.h"

#include <cstring>
#include <future>
#include <list>
#include <memory>
#include <new>
#include <string>

std::vector<OnvifDeviceEntry*> g_vecOnvifEntry;
CRITICAL_SECTION g_csOnvifEntry;

namespace {

// The main window the threads and the alarm callback post to; set on the
// UI thread by Start, read by the other threads.
std::atomic<HWND> g_hOnvifMainWnd{nullptr};

template <std::size_t N>
void Copy(char (&dst)[N], const char* src)
{
    const std::size_t n = src ? strnlen(src, N - 1) : 0;
    if (n)
        std::memcpy(dst, src, n);
    std::memset(dst + n, 0, N - n);
}

template <std::size_t N>
bool SameText(const char (&field)[N], const char* text)
{
    return text && std::strncmp(field, text, N) == 0;
}

void PostStatus(const OnvifDeviceEntry& entry, LPARAM fromInfo)
{
    auto* copy = new (std::nothrow) OnvifDeviceEntry(entry);
    if (!copy)
        return;
    if (!PostMessage(g_hOnvifMainWnd.load(), WM_ONVIF_STATUS, reinterpret_cast<WPARAM>(copy), fromInfo,
                     [](WPARAM w, LPARAM) { delete reinterpret_cast<OnvifDeviceEntry*>(w); }))
        delete copy;
}

void PostInfoStatus(const char* serviceAddr, int state)
{
    OnvifDeviceEntry e{};
    Copy(e.ServiceAddr, serviceAddr);
    e.State = state;
    PostStatus(e, 1);
}

void FreeAlarmPayload(WPARAM wParam, LPARAM lParam)
{
    delete reinterpret_cast<_ALARM_SOURCE*>(wParam);
    delete reinterpret_cast<_ALARM_INFO*>(lParam);
}

// A subscription the information thread made outside the lock, for a record
// it saw holding no handle.
struct SubscribeJob {
    const DeviceInfo* record;
    std::string serviceAddr, eventAddr, user, password;
};

} // namespace

int AddOnvifEntry(DeviceInfo* device)
{
    if (!device)
        return -1;
    auto* e = new OnvifDeviceEntry{};
    Copy(e->ServiceAddr, device->OnvifSerAddr);
    char ip[256] = {};
    GetIpFromUrl(e->ServiceAddr, ip);
    Copy(e->IPAddr, ip);
    Copy(e->User, device->LoginName);
    Copy(e->Password, device->LoginPsw);
    e->State = -10;
    e->LastCheck = 0;
    qelm::CsLock lock(g_csOnvifEntry);
    g_vecOnvifEntry.push_back(e);
    return 0;
}

int DeleteOnvifEntry(OnvifDeviceEntry* entry)
{
    if (!entry)
        return -1;
    OnvifDeviceEntry* found = nullptr;
    {
        qelm::CsLock lock(g_csOnvifEntry);
        for (auto it = g_vecOnvifEntry.begin(); it != g_vecOnvifEntry.end(); ++it) {
            if (*it == entry) {
                found = *it;
                g_vecOnvifEntry.erase(it);
                break;
            }
        }
    }
    // Only an entry still in the list is ours to free: a stale pointer
    // (already deleted, or its memory reused by a new entry) frees nothing.
    delete found;
    return 0;
}

int OnvifAlarmCallback(_OVF_ALARM_EVENT* event)
{
    if (!event || event->AlarmType <= 0)
        return 0;
    auto* source = new (std::nothrow) _ALARM_SOURCE{};
    if (!source)
        return -1;
    source->kind = kAlarmSourceCameraAddr;
    Copy(source->cameraAddr, event->CameraAddr);
    auto* alarm = new (std::nothrow) _ALARM_INFO{};
    if (!alarm) {
        delete source;
        return -2;
    }
    // Field by field: the event's u16 date fields do not line up with the
    // alarm's i32 ones, and its order (day of week before day) differs.
    alarm->year = event->Year;
    alarm->month = event->Month;
    alarm->day = event->Day;
    alarm->dayOfWeek = event->DayOfWeek;
    alarm->hour = event->Hour;
    alarm->minute = event->Minute;
    alarm->second = event->Second;
    alarm->alarmType = event->AlarmType;
    alarm->state = 1;
    alarm->onvif = 1;
    Copy(alarm->text, event->Text);
    if (!PostMessage(g_hOnvifMainWnd.load(), WM_DEV_ALARM, reinterpret_cast<WPARAM>(source),
                     reinterpret_cast<LPARAM>(alarm), &FreeAlarmPayload))
        FreeAlarmPayload(reinterpret_cast<WPARAM>(source), reinterpret_cast<LPARAM>(alarm));
    return 0;
}

COnvifSupervisor::~COnvifSupervisor()
{
    Stop();
}

void COnvifSupervisor::SetTimings(std::uint32_t checkIntervalMs, DWORD infoIntervalMs)
{
    m_checkIntervalMs = checkIntervalMs;
    m_infoIntervalMs = infoIntervalMs;
}

void COnvifSupervisor::Start()
{
    if (m_check.joinable() || m_info.joinable())
        return;
    g_hOnvifMainWnd = DeviceServices()->MainWnd();
    m_stop = false;
    m_closing = false;
    // The thread id is known (and its queue exists) before Start returns,
    // so a removal right after start reaches it.
    std::promise<void> ready;
    auto started = ready.get_future();
    m_check = std::thread([this, &ready] {
        MSG msg;
        PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
        m_checkThreadId = GetCurrentThreadId();
        ready.set_value();
        OnvifOnlineCheckThread();
    });
    started.wait();
    m_info = std::thread([this] {
        m_infoThreadId = GetCurrentThreadId();
        OnvifInfoThread();
    });
}

void COnvifSupervisor::SetClosing()
{
    m_closing = true;
}

void COnvifSupervisor::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_check.joinable())
        m_check.join();
    if (m_info.joinable())
        m_info.join();
    m_checkThreadId = 0;
    m_infoThreadId = 0;
    std::vector<OnvifDeviceEntry*> left;
    {
        qelm::CsLock lock(g_csOnvifEntry);
        left.swap(g_vecOnvifEntry);
    }
    for (OnvifDeviceEntry* e : left)
        delete e;
}

bool COnvifSupervisor::Pause(DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
    return !m_stop.load();
}

int COnvifSupervisor::RemoveOnvifDevice(const char* serviceAddr)
{
    if (!serviceAddr)
        return -1;
    bool marked = false;
    {
        qelm::CsLock lock(g_csOnvifEntry);
        for (OnvifDeviceEntry* e : g_vecOnvifEntry) {
            if (!e->Removed && SameText(e->ServiceAddr, serviceAddr)) {
                e->Removed = 1;
                marked = true;
                break;
            }
        }
    }
    // Only a wake-up travels: the entry stays in the list, marked, until the
    // thread sweeps it, so no pointer can be freed twice or reach a new entry.
    if (marked && m_checkThreadId.load())
        PostThreadMessage(m_checkThreadId.load(), WM_ONVIF_REMOVE_CAMERA, 0, 0);
    return 0;
}

void COnvifSupervisor::SweepRemoved()
{
    std::vector<OnvifDeviceEntry*> gone;
    {
        qelm::CsLock lock(g_csOnvifEntry);
        for (OnvifDeviceEntry* e : g_vecOnvifEntry)
            if (e->Removed)
                gone.push_back(e);
    }
    for (OnvifDeviceEntry* e : gone)
        DeleteOnvifEntry(e);
}

void COnvifSupervisor::OnvifOnlineCheckThread()
{
    WriteLog(6, "COnvifSupervisor::OnvifOnlineCheckThread(): start");
    while (!m_stop) {
        MSG msg;
        bool removal = false;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
            removal = removal || msg.message == WM_ONVIF_REMOVE_CAMERA;
        // Marked entries go every pass; the message only brings it forward.
        (void)removal;
        SweepRemoved();
        std::vector<OnvifDeviceEntry*> entries;
        {
            qelm::CsLock lock(g_csOnvifEntry);
            entries.reserve(g_vecOnvifEntry.size());
            for (OnvifDeviceEntry* e : g_vecOnvifEntry)
                if (!e->Removed)
                    entries.push_back(e);
        }
        if (entries.empty()) {
            if (!Pause(300))
                break;
            continue;
        }
        const std::uint32_t now = GetTickCount();
        for (OnvifDeviceEntry* e : entries) {
            if (m_stop)
                break;
            // Only this thread frees entries, so e stays valid here even when
            // a removal marks it meanwhile.
            if (now - e->LastCheck < m_checkIntervalMs.load())
                continue;
            e->LastCheck = now;
            char caps[OVF_CAPABILITIES_SIZE] = {};
            const int rc = OVF_GetCapabilities(e->ServiceAddr, e->User, e->Password, caps);
            const int state = rc == 0 || rc == OVF_ERR_LOGIN_REFUSED ? 1 : 0;
            if (state != e->State) {
                e->State = state;
                PostStatus(*e, 0);
            }
        }
        if (!Pause(200))
            break;
    }
    WriteLog(6, "COnvifSupervisor::OnvifOnlineCheckThread(): end");
}

void COnvifSupervisor::OnvifInfoThread()
{
    std::list<_OVF_GET_INFO> queue;
    while (!m_closing && !m_stop) {
        {
            qelm::CsLock lock(g_csDevList);
            for (DeviceInfo& d : g_lstDevInfo) {
                if (d.OnvifDev != 1 || d.OnvifInfo.ProfileCount > 0 || !d.OnvifSerAddr[0] || d.OnvifInfoTries >= 3)
                    continue;
                ++d.OnvifInfoTries;
                _OVF_GET_INFO item{};
                Copy(item.ServiceAddr, d.OnvifSerAddr);
                Copy(item.User, d.LoginName);
                Copy(item.Password, d.LoginPsw);
                queue.push_back(item);
            }
        }
        for (const _OVF_GET_INFO& item : queue) {
            if (m_stop)
                break;
            auto block = std::make_unique<_OVF_DEV_INFO>();
            std::memset(block.get(), 0, sizeof *block);
            const int rc = OVF_GetDevInfo(item.ServiceAddr, item.User, item.Password, block.get());
            if (rc == OVF_ERR_LOGIN_REFUSED) {
                PostInfoStatus(item.ServiceAddr, -1);
                continue;
            }
            if (rc != 0)
                continue;
            const bool events = block->EventSupport != 0 && block->EventSerAddr[0] != '\0';
            const std::string eventAddr(block->EventSerAddr, strnlen(block->EventSerAddr, sizeof block->EventSerAddr));
            std::vector<SubscribeJob> jobs;
            {
                qelm::CsLock lock(g_csDevList);
                for (DeviceInfo& d : g_lstDevInfo) {
                    if (!SameText(d.OnvifSerAddr, item.ServiceAddr))
                        continue;
                    d.OnvifInfo = *block;
                    if (d.OnvifAlarmHandle == 0 && events)
                        jobs.push_back({&d, item.ServiceAddr, eventAddr, d.LoginName, d.LoginPsw});
                    if (d.Online == -1)
                        PostInfoStatus(item.ServiceAddr, 1);
                }
            }
            // Subscribing talks to the camera: never while holding the device
            // list, which the UI thread needs.
            for (const SubscribeJob& job : jobs) {
                if (m_stop)
                    break;
                const std::int32_t handle = OVF_SetCallBackAlarmInfo(job.eventAddr.c_str(), job.user.c_str(),
                                                                     job.password.c_str(), &OnvifAlarmCallback, 0);
                if (handle <= 0)
                    continue;
                bool kept = false;
                {
                    qelm::CsLock lock(g_csDevList);
                    for (DeviceInfo& d : g_lstDevInfo) {
                        // The record may have gone or changed meanwhile.
                        if (&d == job.record && d.OnvifDev == 1 && d.OnvifAlarmHandle == 0 &&
                            SameText(d.OnvifSerAddr, job.serviceAddr.c_str())) {
                            d.OnvifAlarmHandle = handle;
                            kept = true;
                            break;
                        }
                    }
                }
                if (!kept)
                    OVF_UnSetCallBackAlarmInfo(handle);
            }
        }
        queue.clear();
        if (!Pause(m_infoIntervalMs.load()))
            break;
    }
}

LRESULT COnvifSupervisor::OnOnvifStatus(WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<OnvifDeviceEntry> entry(reinterpret_cast<OnvifDeviceEntry*>(wParam));
    if (!entry)
        return -1;
    bool changed = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo) {
            if (d.OnvifDev != 1 || !SameText(d.OnvifSerAddr, entry->ServiceAddr))
                continue;
            // A refused log-in stays until the information query succeeds.
            if (d.Online != entry->State && (d.Online != -1 || lParam == 1)) {
                d.Online = entry->State;
                changed = true;
            }
            break;
        }
    }
    if (changed)
        DeviceServices()->UpdateDevTreeStatus();
    return 0;
}
