// What the main window needs from the layers it cannot include (app/ and the
// folders below mainwnd/ in the layer order): app/ fills these in at start.
// Every hook may be empty; the main window then logs and goes on without it.
#pragma once

#include "controls/ts_relay.h"
#include "platform/monitor.h"
#include "platform/types.h"

#include <functional>
#include <memory>

class CThread;
class CWnd;
class ICloudSession;

// Private messages of the main window that no lower layer defines.
constexpr UINT WM_VSS_LOGIN_OK = WM_USER + 5910;      // heap Qelm2Node or 0 / 0, or 1 when the login thread ended
constexpr UINT WM_VSS_LOGIN_FAILED = WM_USER + 5912;  // heap Qelm2Node / 0
constexpr UINT WM_REPLAY_END = WM_USER + 6000;        // session id / 0
constexpr UINT WM_DOWNLOAD_END = WM_USER + 6001;      // session id / 0
constexpr UINT WM_REPLAY_BYDATE_END = WM_USER + 6002; // session id / 0
constexpr UINT WM_START_THREAD_DONE = WM_USER + 6003; // 0 / 0

// A long-running worker of the main window: started at initialisation,
// stopped and joined at close.
struct MainWorker {
    virtual ~MainWorker() = default;
    virtual unsigned long ThreadId() const = 0;
    virtual bool IsRunning() const = 0;
    // Asks the thread to end and joins it; safe to call twice.
    virtual void Stop() = 0;
};

struct MainWindowHooks {
    // Timer 1005: the thread that starts the watchdog; it posts
    // WM_START_THREAD_DONE to owner when done.
    std::function<CThread*(HWND owner)> makeWatchStarter;
    // Hides the splash window of the start-up.
    std::function<void()> hideSplash;
    // The window a second start of the program brings forward (null withdraws it).
    std::function<void(CWnd*)> publishWindow;
    // Timer 1004: the alarm-server session of a cloud login.
    std::function<std::unique_ptr<ICloudSession>(const char* user, const char* password, const char* host, int port,
                                                  HWND owner)>
        makeCloudSession;
    // The parent relay-server login thread (the relay bridge).
    std::function<std::unique_ptr<MainWorker>(HWND owner)> startRelayLoginWorker;
    // Timer 1002: the logins to the parent relay servers (the relay bridge);
    // it reports with WM_VSS_LOGIN_OK / WM_VSS_LOGIN_FAILED.
    std::function<CThread*(HWND owner)> makeRelayLogin;
    // Messages of the relay bridge (the library's range and the session
    // ends); true when handled. Unhandled ones give their records back
    // through the window layer.
    std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)> relayMessage;
    // The relay library's four callbacks, given with the main window as the
    // user value (the relay bridge and the record search page).
    TsGetUserIdCallback tsGetUserId = nullptr;
    TsReplayDataCallback tsReplayData = nullptr;
    TsDownloadDataCallback tsDownloadData = nullptr;
    TsReplayByDateCallback tsReplayByDate = nullptr;
    // The screens the main window finds at start (tests); empty: the platform's.
    std::function<std::vector<MonitorRect>()> monitors;
};

// UI thread, before the main window is created.
void SetMainWindowHooks(MainWindowHooks hooks);
const MainWindowHooks& MainHooks();
