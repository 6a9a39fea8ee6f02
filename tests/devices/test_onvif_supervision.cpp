// ONVIF supervision against the fake camera: reachability and information
// threads, subscriptions, removal, the status handler and the alarm callback.
#include "devices/device_services.h"
#include "devices/onvif_supervision.h"
#include "controls/alarm_info.h"
#include "controls/onvif_events.h"
#include "media/sink_targets.h"
#include "platform/wnd.h"
#include "tests/core/config_globals.h"
#include "tests/support/fake_onvif_camera.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A stand-in for the main window: receives the supervision's posts and runs
// its handler, as the main window's message map will.
class OnvifHost : public CWnd, public IDeviceServices {
public:
    explicit OnvifHost(COnvifSupervisor* s) : sup(s)
    {
        CreateHandle();
        SetDeviceServices(this);
    }
    ~OnvifHost() override { SetDeviceServices(nullptr); }

    HWND MainWnd() override { return m_hWnd; }
    void UpdateDevTreeStatus() override { ++treeUpdates; }

    BOOL PreTranslateMessage(MSG* m) override
    {
        if (m->message == WM_ONVIF_STATUS) {
            auto* e = reinterpret_cast<OnvifDeviceEntry*>(m->wParam);
            statuses.emplace_back(e->State, static_cast<int>(m->lParam));
            sup->OnOnvifStatus(m->wParam, m->lParam);
            return TRUE;
        }
        if (m->message == WM_DEV_ALARM) {
            std::unique_ptr<_ALARM_SOURCE> src(reinterpret_cast<_ALARM_SOURCE*>(m->wParam));
            std::unique_ptr<_ALARM_INFO> info(reinterpret_cast<_ALARM_INFO*>(m->lParam));
            alarms.emplace_back(*src, *info);
            return TRUE;
        }
        return CWnd::PreTranslateMessage(m);
    }

    COnvifSupervisor* sup;
    int treeUpdates = 0;
    std::vector<std::pair<int, int>> statuses; // state, lParam
    std::vector<std::pair<_ALARM_SOURCE, _ALARM_INFO>> alarms;
};

bool Pump(const std::function<bool()>& done, int ms = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

template <std::size_t N>
void Set(char (&dst)[N], const std::string& s)
{
    std::memset(dst, 0, N);
    std::memcpy(dst, s.data(), std::min(s.size(), N - 1));
}

class OnvifSupervision : public ::testing::Test {
protected:
    void SetUp() override
    {
        cfgtest::ResetConfigGlobals();
        OVF_SetTimeoutMs(5000);
        cam.Start();
        ASSERT_GT(cam.Port(), 0);
        sup = std::make_unique<COnvifSupervisor>();
        host = std::make_unique<OnvifHost>(sup.get());
        // Quick passes; the rules (first check always reported, three
        // information attempts) are the same.
        sup->SetTimings(300, 100);
    }
    void TearDown() override
    {
        sup->Stop();
        {
            qelm::CsLock lock(g_csDevList);
            for (DeviceInfo& d : g_lstDevInfo)
                if (d.OnvifAlarmHandle)
                    OVF_UnSetCallBackAlarmInfo(d.OnvifAlarmHandle);
        }
        host.reset();
        cfgtest::ResetConfigGlobals();
        cam.Stop();
    }

    DeviceInfo* AddCamera(const char* name, const char* password = "secret", std::string addr = {})
    {
        DeviceInfo d{};
        Set(d.DevName, name);
        Set(d.DevId, name);
        Set(d.IPAddr, "127.0.0.1");
        Set(d.LoginName, "admin");
        Set(d.LoginPsw, password);
        Set(d.OnvifSerAddr, addr.empty() ? cam.DeviceUrl() : addr);
        d.OnvifDev = 1;
        d.DevType = 1;
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(d);
        return &g_lstDevInfo.back();
    }
    int Online(DeviceInfo* d)
    {
        qelm::CsLock lock(g_csDevList);
        return d->Online;
    }
    int Handle(DeviceInfo* d)
    {
        qelm::CsLock lock(g_csDevList);
        return d->OnvifAlarmHandle;
    }
    std::size_t Entries()
    {
        qelm::CsLock lock(g_csOnvifEntry);
        return g_vecOnvifEntry.size();
    }

    fakeonvif::Camera cam;
    std::unique_ptr<COnvifSupervisor> sup;
    std::unique_ptr<OnvifHost> host;
};

} // namespace

TEST_F(OnvifSupervision, CameraUpDownAndRefusingMovesOnline)
{
    DeviceInfo* d = AddCamera("Gate");
    ASSERT_EQ(AddOnvifEntry(d), 0);
    {
        qelm::CsLock lock(g_csOnvifEntry);
        ASSERT_EQ(g_vecOnvifEntry.size(), 1u);
        EXPECT_STREQ(g_vecOnvifEntry[0]->IPAddr, "127.0.0.1");
        EXPECT_EQ(g_vecOnvifEntry[0]->State, -10);
    }
    sup->Start();
    EXPECT_NE(sup->CheckThreadId(), 0u);
    // The first answer is always reported; the information block and the
    // subscription follow.
    ASSERT_TRUE(Pump([&] { return Online(d) == 1; }));
    ASSERT_TRUE(Pump([&] { return Handle(d) > 0; }));
    {
        qelm::CsLock lock(g_csDevList);
        EXPECT_EQ(d->OnvifInfo.ProfileCount, 2);
        EXPECT_STREQ(d->OnvifInfo.Profiles[1].StreamUri, "rtsp://127.0.0.1:8554/Profile_2");
        EXPECT_EQ(d->OnvifInfoTries, 1);
    }
    EXPECT_GE(host->treeUpdates, 1);

    // Down: reported unreachable once.
    cam.Stop();
    ASSERT_TRUE(Pump([&] { return Online(d) == 0; }));
    const std::size_t posts = host->statuses.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    QCoreApplication::processEvents();
    EXPECT_EQ(host->statuses.size(), posts) << "an unchanged state is not posted again";

    // Back, but refusing the log-in: it answers, so it is reachable.
    cam.mode = fakeonvif::Camera::Refusing;
    cam.Start();
    ASSERT_TRUE(Pump([&] { return Online(d) == 1; }));
    EXPECT_EQ(host->statuses.back(), std::make_pair(1, 0));
}

TEST_F(OnvifSupervision, RefusedLogInShowsMinus99AsRefusedUntilAQuerySucceeds)
{
    DeviceInfo* d = AddCamera("Yard", "wrong");
    AddOnvifEntry(d);
    sup->Start();
    ASSERT_TRUE(Pump([&] { return Online(d) == -1; }));
    // The three attempts are used and reachability (which counts a refusal as
    // an answer) does not override -1.
    ASSERT_TRUE(Pump([&] {
        qelm::CsLock lock(g_csDevList);
        return d->OnvifInfoTries == 3;
    }));
    ASSERT_TRUE(Pump([&] {
        for (auto& s : host->statuses)
            if (s == std::make_pair(1, 0))
                return true;
        return false;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QCoreApplication::processEvents();
    EXPECT_EQ(Online(d), -1);
    EXPECT_EQ(cam.Accepted("GetProfiles"), 0);

    // A later successful query of a record at -1 sets it back to 1.
    {
        qelm::CsLock lock(g_csDevList);
        Set(d->LoginPsw, "secret");
        d->OnvifInfoTries = 0;
    }
    ASSERT_TRUE(Pump([&] { return Online(d) == 1; }));
    EXPECT_EQ(host->statuses.back(), std::make_pair(1, 1));
}

TEST_F(OnvifSupervision, MotionFromTheCameraReachesTheMainWindowAsAnAlarm)
{
    DeviceInfo* d = AddCamera("Gate");
    AddOnvifEntry(d);
    sup->Start();
    ASSERT_TRUE(Pump([&] { return Handle(d) > 0; }));
    cam.QueueMotion(true);
    cam.QueueInput("DI_1", true);
    ASSERT_TRUE(Pump([&] { return host->alarms.size() >= 2; }));
    const auto& [src, alarm] = host->alarms[0];
    EXPECT_EQ(src.kind, kAlarmSourceCameraAddr);
    EXPECT_STREQ(src.cameraAddr, "127.0.0.1");
    EXPECT_EQ(alarm.alarmType, 14);
    EXPECT_EQ(alarm.state, 1);
    EXPECT_EQ(alarm.onvif, 1);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(alarm.year, tm.tm_year + 1900);
    EXPECT_EQ(alarm.month, tm.tm_mon + 1);
    EXPECT_GE(alarm.day, 1);
    EXPECT_LE(alarm.day, 31);
    EXPECT_GE(alarm.dayOfWeek, 0);
    EXPECT_LE(alarm.dayOfWeek, 6);
    EXPECT_STREQ(alarm.text, "tns1:VideoSource/MotionAlarm");
    EXPECT_EQ(host->alarms[1].second.alarmType, 15);
}

TEST_F(OnvifSupervision, AlarmCallbackMapsEachDateFieldAndDropsNonAlarms)
{
    host->sup = sup.get();
    sup->Start();
    _OVF_ALARM_EVENT ev{};
    std::strcpy(ev.CameraAddr, "192.168.1.20");
    ev.Year = 2026;
    ev.Month = 12;
    ev.DayOfWeek = 5;
    ev.Day = 11;
    ev.Hour = 13;
    ev.Minute = 14;
    ev.Second = 15;
    ev.Millisecond = 999;
    ev.AlarmType = 16;
    std::memset(ev.Text, 'x', sizeof ev.Text); // no terminator: the copy bounds it
    EXPECT_EQ(OnvifAlarmCallback(&ev), 0);
    ev.AlarmType = 0;
    EXPECT_EQ(OnvifAlarmCallback(&ev), 0);
    EXPECT_EQ(OnvifAlarmCallback(nullptr), 0);
    ASSERT_TRUE(Pump([&] { return !host->alarms.empty(); }));
    QCoreApplication::processEvents();
    ASSERT_EQ(host->alarms.size(), 1u);
    const _ALARM_INFO& a = host->alarms[0].second;
    EXPECT_EQ(a.year, 2026);
    EXPECT_EQ(a.month, 12);
    EXPECT_EQ(a.day, 11);
    EXPECT_EQ(a.dayOfWeek, 5);
    EXPECT_EQ(a.hour, 13);
    EXPECT_EQ(a.minute, 14);
    EXPECT_EQ(a.second, 15);
    EXPECT_EQ(a.alarmType, 16);
    EXPECT_EQ(a.channelFlag, 0);
    EXPECT_EQ(std::strlen(a.text), sizeof a.text - 1);
    EXPECT_STREQ(host->alarms[0].first.cameraAddr, "192.168.1.20");
}

TEST_F(OnvifSupervision, DeletedCameraIsUnsubscribedOnceAndLeavesTheList)
{
    DeviceInfo* d = AddCamera("Gate");
    AddOnvifEntry(d);
    sup->Start();
    ASSERT_TRUE(Pump([&] { return Handle(d) > 0; }));
    // What the device delete does: the subscription, then the supervision entry.
    std::int32_t handle;
    {
        qelm::CsLock lock(g_csDevList);
        handle = d->OnvifAlarmHandle;
        d->OnvifAlarmHandle = 0;
        g_lstDevInfo.clear();
    }
    OVF_UnSetCallBackAlarmInfo(handle);
    EXPECT_EQ(sup->RemoveOnvifDevice(cam.DeviceUrl().c_str()), 0);
    ASSERT_TRUE(Pump([&] { return Entries() == 0; }));
    EXPECT_EQ(cam.Count("Unsubscribe"), 1);
    EXPECT_EQ(qelm::onvif::SubscriptionCount(), 0);
    EXPECT_EQ(sup->RemoveOnvifDevice(nullptr), -1);
    EXPECT_EQ(sup->RemoveOnvifDevice("http://127.0.0.1:1/none"), 0);
}

TEST_F(OnvifSupervision, QuickRemovalsAndReAddFreeEachEntryOnce)
{
    sup->Start();
    DeviceInfo* d = AddCamera("Gate");
    // Two quick removals of one camera.
    AddOnvifEntry(d);
    sup->RemoveOnvifDevice(d->OnvifSerAddr);
    sup->RemoveOnvifDevice(d->OnvifSerAddr);
    ASSERT_TRUE(Pump([&] { return Entries() == 0; }));
    // Remove, add again and remove before the thread's next pass, then add
    // once more: the last entry stays.
    for (int i = 0; i < 20; ++i) {
        AddOnvifEntry(d);
        sup->RemoveOnvifDevice(d->OnvifSerAddr);
        AddOnvifEntry(d);
        sup->RemoveOnvifDevice(d->OnvifSerAddr);
    }
    AddOnvifEntry(d);
    ASSERT_TRUE(Pump([&] { return Entries() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(Entries(), 1u);
    {
        qelm::CsLock lock(g_csOnvifEntry);
        EXPECT_EQ(g_vecOnvifEntry[0]->Removed, 0);
    }
    // Only the reachability thread deletes entries: stop it, then a pointer
    // no longer in the list is not freed again.
    sup->Stop();
    EXPECT_EQ(Entries(), 0u);
    AddOnvifEntry(d);
    OnvifDeviceEntry* stale;
    {
        qelm::CsLock lock(g_csOnvifEntry);
        stale = g_vecOnvifEntry[0];
    }
    EXPECT_EQ(DeleteOnvifEntry(stale), 0);
    EXPECT_EQ(Entries(), 0u);
    EXPECT_EQ(DeleteOnvifEntry(stale), 0);
    EXPECT_EQ(DeleteOnvifEntry(nullptr), -1);
    EXPECT_EQ(AddOnvifEntry(nullptr), -1);
}

TEST_F(OnvifSupervision, SubscribingDoesNotHoldTheDeviceList)
{
    cam.Hold("CreatePullPointSubscription");
    DeviceInfo* d = AddCamera("Gate");
    AddOnvifEntry(d);
    sup->Start();
    ASSERT_TRUE(Pump([&] { return cam.Count("CreatePullPointSubscription") >= 1; }));
    // While the camera keeps the subscription waiting, the UI thread can
    // still take the list.
    std::atomic<bool> got{false};
    std::thread ui([&] {
        if (TryEnterCriticalSection(&g_csDevList)) {
            got = true;
            LeaveCriticalSection(&g_csDevList);
        }
    });
    ui.join();
    EXPECT_TRUE(got.load());
    cam.Release();
    ASSERT_TRUE(Pump([&] { return Handle(d) > 0; }));
}

TEST_F(OnvifSupervision, RecordRemovedWhileSubscribingGetsNoHandleAndTheCameraIsUnsubscribed)
{
    cam.Hold("CreatePullPointSubscription");
    AddCamera("Gate");
    sup->Start();
    ASSERT_TRUE(Pump([&] { return cam.Count("CreatePullPointSubscription") >= 1; }));
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.clear();
    }
    cam.Release();
    ASSERT_TRUE(Pump([&] { return cam.Count("Unsubscribe") == 1; }));
    EXPECT_EQ(qelm::onvif::SubscriptionCount(), 0);
}

TEST_F(OnvifSupervision, StopEndsBothThreads)
{
    sup->Start();
    ASSERT_NE(sup->CheckThreadId(), 0u);
    sup->Stop();
    EXPECT_EQ(sup->CheckThreadId(), 0u);
    EXPECT_EQ(sup->InfoThreadId(), 0u);
    // Nothing checks or queries any more.
    DeviceInfo* d = AddCamera("Gate");
    AddOnvifEntry(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(cam.Count("GetCapabilities"), 0);
    // A second start and stop works too.
    sup->Start();
    ASSERT_TRUE(Pump([&] { return cam.Count("GetCapabilities") >= 1; }));
    sup->Stop();
    EXPECT_EQ(Entries(), 0u);
}

TEST_F(OnvifSupervision, TwoRecordsOfOneCameraBothGetTheBlockAndASubscription)
{
    DeviceInfo* a = AddCamera("A");
    DeviceInfo* b = AddCamera("B");
    AddOnvifEntry(a);
    sup->Start();
    ASSERT_TRUE(Pump([&] { return Handle(a) > 0 && Handle(b) > 0; }));
    qelm::CsLock lock(g_csDevList);
    EXPECT_EQ(a->OnvifInfo.ProfileCount, 2);
    EXPECT_EQ(b->OnvifInfo.ProfileCount, 2);
    EXPECT_NE(a->OnvifAlarmHandle, b->OnvifAlarmHandle);
    EXPECT_EQ(cam.Accepted("CreatePullPointSubscription"), 2);
}

TEST_F(OnvifSupervision, StatusHandlerRules)
{
    DeviceInfo* a = AddCamera("A");
    DeviceInfo* b = AddCamera("B"); // same address: only the first changes
    auto post = [&](const std::string& addr, int state, LPARAM from) {
        auto* e = new OnvifDeviceEntry{};
        Set(e->ServiceAddr, addr);
        e->State = state;
        return sup->OnOnvifStatus(reinterpret_cast<WPARAM>(e), from);
    };
    EXPECT_EQ(sup->OnOnvifStatus(0, 0), -1);
    EXPECT_EQ(post(cam.DeviceUrl(), 1, 0), 0);
    EXPECT_EQ(a->Online, 1);
    EXPECT_EQ(b->Online, 0);
    EXPECT_EQ(host->treeUpdates, 1);
    EXPECT_EQ(post(cam.DeviceUrl(), 1, 0), 0); // no change, no refresh
    EXPECT_EQ(host->treeUpdates, 1);
    EXPECT_EQ(post(cam.DeviceUrl(), -1, 1), 0);
    EXPECT_EQ(a->Online, -1);
    EXPECT_EQ(post(cam.DeviceUrl(), 0, 0), 0); // reachability does not override a refusal
    EXPECT_EQ(a->Online, -1);
    EXPECT_EQ(post(cam.DeviceUrl(), 1, 1), 0);
    EXPECT_EQ(a->Online, 1);
    EXPECT_EQ(post("http://127.0.0.1:9/none", 0, 0), 0); // no record: nothing
    EXPECT_EQ(a->Online, 1);
    a->OnvifDev = 0; // not an ONVIF record: the next one matches
    EXPECT_EQ(post(cam.DeviceUrl(), 1, 0), 0);
    EXPECT_EQ(b->Online, 1);
}
