// Supervision of ONVIF cameras: the reachability thread (one capabilities
// query per camera and minute), the information thread (the camera's
// information block, at most three attempts per record, and its event
// subscription), the alarm callback and the handlers the main window runs
// for their messages. Posts go to the main window of DeviceServices().
#pragma once

#include "controls/onvif.h"
#include "core/devinfo.h"
#include "platform/message.h"
#include "platform/sync.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

enum : UINT {
    WM_ONVIF_STATUS = WM_USER + 2,        // heap OnvifDeviceEntry copy / 0 reachability, 1 information
    WM_ONVIF_REMOVE_CAMERA = WM_USER + 3, // thread message to the reachability thread
};

// One supervised camera.
struct OnvifDeviceEntry {
    char ServiceAddr[TextSize(256)];
    char IPAddr[32];
    char User[TextSize(40)];
    char Password[TextSize(40)];
    std::int32_t State;      // -10 never reported, then 1 reachable / 0 unreachable (-1 refused in posted copies)
    std::uint32_t LastCheck; // tick count of the last capabilities query
    // Set under g_csOnvifEntry by RemoveOnvifDevice; the reachability thread
    // then takes the entry out and frees it, so nobody frees it twice.
    std::int32_t Removed;
};

// Queue element of the information thread.
struct _OVF_GET_INFO {
    char ServiceAddr[TextSize(256)];
    char User[TextSize(40)];
    char Password[TextSize(40)];
};

extern std::vector<OnvifDeviceEntry*> g_vecOnvifEntry;
extern CRITICAL_SECTION g_csOnvifEntry;

// A new entry for an ONVIF record (state -10, never checked). -1 for null.
int AddOnvifEntry(DeviceInfo* device);
// Takes the entry out of the list and frees it, when it is still there; -1 for null.
int DeleteOnvifEntry(OnvifDeviceEntry* entry);
// Registered with OVF_SetCallBackAlarmInfo: posts WM_DEV_ALARM with a kind-2
// source and the alarm. 0, or -1/-2 when a payload cannot be allocated.
int OnvifAlarmCallback(_OVF_ALARM_EVENT* event);

// The two threads and the main window's ONVIF handlers. The main window
// starts it at initialisation and stops it when it closes.
class COnvifSupervisor {
public:
    COnvifSupervisor() = default;
    ~COnvifSupervisor();
    COnvifSupervisor(const COnvifSupervisor&) = delete;
    COnvifSupervisor& operator=(const COnvifSupervisor&) = delete;

    // UI thread: keeps DeviceServices()->MainWnd() as the target of the
    // posts and starts both threads.
    void Start();
    // The closing flag: the information thread ends after its pass.
    void SetClosing();
    // Stops and joins both threads, then frees the entries left.
    void Stop();

    // CIPCClientDlg::RemoveOnvifDevice: marks the first entry with the address
    // removed and wakes the reachability thread. -1 for null, else 0.
    int RemoveOnvifDevice(const char* serviceAddr);
    // Handler of WM_ONVIF_STATUS (it owns and frees the copy in wParam).
    LRESULT OnOnvifStatus(WPARAM wParam, LPARAM lParam);

    DWORD CheckThreadId() const { return m_checkThreadId.load(); }
    DWORD InfoThreadId() const { return m_infoThreadId.load(); }

    // Pass timings (the defaults are the system's; tests shorten them).
    void SetTimings(std::uint32_t checkIntervalMs, DWORD infoIntervalMs);

private:
    void OnvifOnlineCheckThread();
    void OnvifInfoThread();
    void SweepRemoved();
    // Waits up to ms; false once a stop was asked.
    bool Pause(DWORD ms);

    std::thread m_check, m_info;
    std::atomic<DWORD> m_checkThreadId{0}, m_infoThreadId{0};
    std::atomic<bool> m_stop{false}, m_closing{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<std::uint32_t> m_checkIntervalMs{60000};
    std::atomic<DWORD> m_infoIntervalMs{2000};
};
