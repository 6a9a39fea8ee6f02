// The main window in-process: pages created once, the first page by rights,
// the layout of both window states, the left column, the start-up timer
// chain, the private messages with heap payloads, and the close that stops
// and joins every worker before the pages go.
#include "controls/alarm_info.h"
#include "controls/onvif.h"
#include "controls/ts_relay.h"
#include "core/app_init.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/cloud_notices.h"
#include "devices/connect_status.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "devices/onvif_supervision.h"
#include "liveview/live_view_host.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/main_hooks.h"
#include "mainwnd/main_pages.h"
#include "mainwnd/page_dlg.h"
#include "media/sink_targets.h"
#include "tests/core/config_globals.h"
#include "tests/support/fake_onvif_camera.h"
#include "ui/gdip_button.h"
#include "tests/support/watch_lock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// Runs the event loop until done() or a generous deadline (a loaded machine
// may be slow; nothing here measures time).
bool WaitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class MainWindowTest : public ::testing::Test {
protected:
    qelmtest::WatchLock m_watchLock; // closing ends the watchdog by name
    void SetUp() override
    {
        cfgtest::ResetConfigGlobals();
        g_lstRelayServer.clear();
        g_nCurPage = 0;
        g_nScreenWidth = 1920;
        g_nScreenHeight = 1080;
        for (int& r : g_UserRights)
            r = 1;
        g_DispInfoSetting.LoginType = 0;
        g_DispInfoSetting.MonitorMode = 1;
        g_strDispInfo.clear();
        ASSERT_TRUE(m_logDir.isValid());
        m_logPath = m_logDir.filePath("clientlog.txt").toStdString();
        CloseLog();
        ASSERT_EQ(OpenLog(m_logPath.c_str()), 0);
    }

    void TearDown() override
    {
        if (m_dlg)
            Close();
        CloseLog();
        CDevTree::GetInstance()->StopP2PStatusThread();
        g_nScreenWidth = 1024;
        g_nScreenHeight = 768;
        g_nLayoutHeight = 768;
        g_nCurPage = 0;
    }

    CIPCClientDlg* Open()
    {
        m_dlg = new CIPCClientDlg(nullptr);
        m_dlg->Create(CIPCClientDlg::IDD, nullptr);
        m_dlg->show();
        QApplication::processEvents();
        return m_dlg;
    }

    // The exit routine and the close handler, as the exit timer runs them.
    void Close()
    {
        m_dlg->ExitApp();
        EXPECT_TRUE(WaitFor([this] { return m_dlg->MainGrid() == nullptr; })) << "the close did not run";
        // The pages are gone: every worker that posts to them was stopped and joined.
        EXPECT_FALSE(IsConnectStatusThreadRunning());
        EXPECT_EQ(m_dlg->OnvifSupervisor(), nullptr);
        delete m_dlg;
        m_dlg = nullptr;
    }

    std::vector<std::string> LogLines()
    {
        FlushLog();
        std::ifstream f(m_logPath);
        std::vector<std::string> lines;
        for (std::string l; std::getline(f, l);)
            lines.push_back(l);
        return lines;
    }

    static CRect Geometry(QWidget* w)
    {
        return w ? CRect(w->x(), w->y(), w->x() + w->width(), w->y() + w->height()) : CRect();
    }

    QTemporaryDir m_logDir;
    std::string m_logPath;
    CIPCClientDlg* m_dlg = nullptr;
};

TEST_F(MainWindowTest, StartUpCreatesEveryPageOnceAndRegistersItself)
{
    CIPCClientDlg* dlg = Open();
    const char* pages[] = {"CSysSettingDlg", "CAlmActDlg",      "CPageDlg",       "CVideoToolbarDlg",
                           "CLogToolDlg",    "CDeviceListDlg",  "CPTZDlg",        "CAlarmListDlg",
                           "CCfgManagerDlg", "CVideoManagerDlg", "CResMsgDlg",    "CSearchAlarmDlg",
                           "CSearchRecDlg",  "CTVWallManager",  "CMapManagerDlg", "CDrawTVwallDlg"};
    for (const char* cls : pages)
        EXPECT_NE(dlg->Page(cls), nullptr) << cls;
    // Pages of the folders below the main window stand as empty pages of their class until built.
    EXPECT_NE(dynamic_cast<CEmptyPage*>(dlg->Page("CCfgManagerDlg")), nullptr);
    EXPECT_FALSE(dlg->Page("CLogToolDlg")->isVisible());

    EXPECT_EQ(DeviceServices()->MainWnd(), dlg->m_hWnd);
    EXPECT_EQ(LiveViewHost()->MainGrid(), dlg->MainGrid());
    ASSERT_NE(GetMediaSinkTargets(), nullptr);
    EXPECT_EQ(GetMediaSinkTargets()->MainWnd(), dlg->m_hWnd);
    EXPECT_TRUE(dlg->WorkersRunning());
    // Six upper-case hexadecimal pairs joined by hyphens, or nothing without an adapter.
    const std::string mac = dlg->LocalMac();
    // "XX-XX-XX-XX-XX-XX", upper-case hex
    bool shaped = mac.size() == 17;
    for (size_t i = 0; shaped && i < mac.size(); ++i)
        shaped = i % 3 == 2 ? mac[i] == '-' : std::isxdigit(static_cast<unsigned char>(mac[i])) && !std::islower(mac[i]);
    EXPECT_TRUE(mac.empty() || shaped) << mac;
    EXPECT_TRUE(IsConnectStatusThreadRunning());

    const std::vector<std::string> lines = LogLines();
    auto at = [&](const char* text) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos)
                return int(i);
        return -1;
    };
    const int begin = at("CIPCClientDlg::CreateActiveDlg():Begin create active dialog...");
    const int end = at("CIPCClientDlg::CreateActiveDlg():End create active dialog...");
    EXPECT_GE(begin, 0);
    EXPECT_GT(end, begin);

    Close();
    // Closed: the lower layers reach nothing of it any more, every worker was joined.
    EXPECT_EQ(DeviceServices()->MainWnd(), nullptr);
    EXPECT_EQ(LiveViewHost()->MainGrid(), nullptr);
    EXPECT_FALSE(IsConnectStatusThreadRunning());
}

TEST_F(MainWindowTest, FirstPageFollowsTheRights)
{
    struct Case {
        int surPtz, record, alarm, userManager;
        int page;
    } cases[] = {
        {1, 1, 1, 1, 0}, {0, 1, 1, 1, 1}, {0, 0, 1, 0, 2}, {0, 0, 0, 1, 3}, {0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.surPtz << c.record << c.alarm << c.userManager);
        g_nCurPage = 0;
        for (int& r : g_UserRights)
            r = 0;
        g_UserRights[kRightSurPTZ] = c.surPtz;
        g_UserRights[kRightRecord] = c.record;
        g_UserRights[kRightAlarm] = c.alarm;
        g_UserRights[kRightUserManager] = c.userManager;
        CIPCClientDlg* dlg = Open();
        EXPECT_EQ(g_nCurPage, c.page);
        const char* shown[] = {"CVideoManagerDlg", "CSearchRecDlg", "CSearchAlarmDlg", "CCfgManagerDlg"};
        EXPECT_TRUE(dlg->Page(shown[c.page])->isVisible()) << shown[c.page];
        Close();
    }
}

TEST_F(MainWindowTest, LayoutOfTheMaximisedAndTheRestoredWindow)
{
    CIPCClientDlg* dlg = Open();
    struct Case {
        int maximised;
        int W, H; // window size and layout height
    } cases[] = {{1, 1920, 1080}, {0, 1024, 768}, {1, 1920, 1080}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maximised);
        dlg->LayoutForWindowState(c.maximised);
        QApplication::processEvents();
        const int T = c.H * 52 / 768;
        EXPECT_EQ(dlg->width(), c.W);
        EXPECT_EQ(dlg->height(), c.H);
        // Caption buttons: close, maximise, minimise, settings.
        const int x[] = {c.maximised ? c.W - 32 : 992, c.maximised ? c.W - 58 : 966, c.maximised ? c.W - 84 : 940,
                         c.maximised ? c.W - 110 : 914};
        const UINT ids[] = {CIPCClientDlg::IDC_BTN_CLOSE, CIPCClientDlg::IDC_BTN_MAXIMIZE,
                            CIPCClientDlg::IDC_BTN_MINIMIZE, CIPCClientDlg::IDC_BTN_SETTING};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Geometry(dlg->GetDlgItem(ids[i])), CRect(x[i], 2, x[i] + 26, 19)) << ids[i];
        EXPECT_EQ(Geometry(dlg->DeviceList()), CRect(10, T + 39, 229, T + 39 + c.H - T - 95));
        EXPECT_EQ(Geometry(dlg->GetDlgItem(CIPCClientDlg::IDC_BTN_PTZ)), CRect(10, c.H - 56, 229, c.H - 33));
        EXPECT_EQ(Geometry(dlg->GetDlgItem(CIPCClientDlg::IDC_BTN_ALARM)), CRect(10, c.H - 33, 229, c.H - 10));
        EXPECT_EQ(Geometry(dlg->Page("CPageDlg")), CRect(0, T - 35, 1030, T - 1));
        EXPECT_EQ(Geometry(dlg->Page("CVideoToolbarDlg")), CRect(10, T - 1, c.W - 8, T + 39));
        EXPECT_EQ(Geometry(dlg->Page("CSearchRecDlg")), CRect(235, T + 39, c.W - 8, c.H - 10));
    }
}

TEST_F(MainWindowTest, AlarmListShrinksTheDevicePanelAndClosesWhenThePageChanges)
{
    CIPCClientDlg* dlg = Open();
    const int H = 1080, T = H * 52 / 768;
    dlg->ShowAlarmList(1);
    EXPECT_EQ(Geometry(dlg->DeviceList()).Height(), H - T - 395);
    EXPECT_EQ(dlg->GetDlgItem(CIPCClientDlg::IDC_BTN_PTZ)->y(), H - 356);
    EXPECT_TRUE(dlg->Page("CAlarmListDlg")->isVisible());
    EXPECT_EQ(Geometry(dlg->Page("CAlarmListDlg")), CRect(10, H - 310, 229, H - 33));

    dlg->ShowAlarmSearchPage();
    EXPECT_EQ(g_nCurPage, 2);
    EXPECT_EQ(Geometry(dlg->DeviceList()).Height(), H - T - 49);
    EXPECT_FALSE(dlg->GetDlgItem(CIPCClientDlg::IDC_BTN_PTZ)->isVisible());
    EXPECT_FALSE(dlg->MainGrid()->isVisible());
    EXPECT_TRUE(dlg->Page("CSearchAlarmDlg")->isVisible());

    dlg->ShowCfgPage();
    EXPECT_FALSE(dlg->DeviceList()->isVisible()); // the configuration page has its own tree
    EXPECT_TRUE(dlg->Page("CCfgManagerDlg")->isVisible());
    EXPECT_FALSE(dlg->Page("CSearchAlarmDlg")->isVisible());

    dlg->ShowLivePage();
    EXPECT_EQ(g_nCurPage, 0);
    EXPECT_EQ(dlg->IsAlarmListShown(), 0);
    EXPECT_FALSE(dlg->Page("CAlarmListDlg")->isVisible());
    EXPECT_EQ(Geometry(dlg->DeviceList()).Height(), H - T - 95);
    EXPECT_TRUE(dlg->MainGrid()->isVisible());
    EXPECT_TRUE(dlg->DeviceList()->isVisible());
    EXPECT_FALSE(dlg->Page("CCfgManagerDlg")->isVisible());

    // The same switch again changes nothing.
    dlg->Page("CSearchRecDlg")->show();
    dlg->ShowLivePage();
    EXPECT_TRUE(dlg->Page("CSearchRecDlg")->isVisible());
}

TEST_F(MainWindowTest, TheTabBarSwitchesPagesOnlyWithTheRight)
{
    CIPCClientDlg* dlg = Open();
    g_UserRights[kRightRecord] = 0;
    auto* bar = dynamic_cast<CPageDlg*>(dlg->Page("CPageDlg"));
    ASSERT_NE(bar, nullptr);
    bar->OnBnClickedBtnRecord();
    EXPECT_EQ(g_nCurPage, 0);
    bar->OnBnClickedBtnAlarm();
    EXPECT_EQ(g_nCurPage, 2);
    EXPECT_EQ(bar->CurrentTab(), 3);
    bar->OnBnClickedBtnVideo();
    EXPECT_EQ(g_nCurPage, 0);
}

TEST_F(MainWindowTest, StartUpTimersRunInTheirChain)
{
    CIPCClientDlg* dlg = Open();
    ASSERT_TRUE(WaitFor([dlg] { return dlg->HasRecScheduler(); })) << "timer 900 never ran";
    const std::vector<std::string> lines = LogLines();
    int tree = -1, recover = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (tree < 0 && lines[i].find("CIPCClientDlg::OnTimer(): init device tree.") != std::string::npos)
            tree = int(i);
        if (recover < 0 &&
            lines[i].find("CIPCClientDlg::OnTimer(): recover surveillance and start record threads.") !=
                std::string::npos)
            recover = int(i);
    }
    EXPECT_GE(tree, 0);
    EXPECT_GT(recover, tree);
}

TEST_F(MainWindowTest, TheNoticeScrollsAndWrapsAtTheRightEdge)
{
    g_nScreenWidth = 400; // a short strip wraps soon
    g_nScreenHeight = 300;
    CIPCClientDlg* dlg = Open();
    dlg->SetMarqueeText("notice");
    int last = 0;
    bool wrapped = false;
    ASSERT_TRUE(WaitFor([&] {
        const int x = dlg->MarqueeX();
        EXPECT_LE(x, g_nScreenWidth - 105 + 5);
        if (x < last)
            wrapped = true;
        last = x;
        return wrapped;
    }, 60000));
}

TEST_F(MainWindowTest, ADeviceAlarmFreesItsPayloadsAndBlinksTheAlarmButton)
{
    CIPCClientDlg* dlg = Open();
    const COLORREF before = dlg->AlarmButtonColor();
    // For a device that is not in the list: nothing matches, both payloads are still freed.
    auto* source = new _ALARM_SOURCE{};
    source->kind = 1;
    std::strcpy(source->devId, "NO-SUCH-DEVICE");
    auto* info = new _ALARM_INFO{};
    ASSERT_TRUE(PostMessage(dlg->m_hWnd, WM_DEV_ALARM, reinterpret_cast<WPARAM>(source),
                            reinterpret_cast<LPARAM>(info), [](WPARAM w, LPARAM l) {
                                delete reinterpret_cast<_ALARM_SOURCE*>(w);
                                delete reinterpret_cast<_ALARM_INFO*>(l);
                            }));
    EXPECT_TRUE(WaitFor([&] { return dlg->AlarmButtonColor() != before; })) << "timer 500 was not armed";
}

// A device alarm blinks the device's icon for ten ticks of timer 400, then
// the icon is back to normal and the alarm flag cleared.
TEST_F(MainWindowTest, AnAlarmedDeviceBlinksTenTicksThenStops)
{
    DeviceInfo d{};
    std::strcpy(d.DevName, "Door");
    std::strcpy(d.DevId, "IPC-BLINK");
    d.AlarmFlag = 1;
    g_lstDevInfo.push_back(d);
    Open();
    DeviceInfo& rec = g_lstDevInfo.back();
    int most = 0, flips = 0, lastState = 0;
    ASSERT_TRUE(WaitFor([&] {
        most = std::max(most, rec.BlinkCount);
        if (rec.BlinkState != lastState) {
            ++flips;
            lastState = rec.BlinkState;
        }
        return rec.AlarmFlag == 0;
    }, 60000));
    EXPECT_EQ(most, 10);
    EXPECT_GE(flips, 2);
    EXPECT_EQ(rec.BlinkState, 0);
    EXPECT_EQ(rec.BlinkCount, 0);
}

TEST_F(MainWindowTest, ARelayPeerIsRefusedWithoutTheRelayBridge)
{
    CIPCClientDlg* dlg = Open();
    char user[] = "admin";
    char digest[] = "21232F297A57A5A743894A0E4A801FC3";
    // 0 would let any peer in.
    EXPECT_NE(dlg->SendMessage(WM_TS_LOGIN_CHECK, reinterpret_cast<WPARAM>(user), reinterpret_cast<LPARAM>(digest)), 0);
}

// Workers of other subsystems keep posting heap payloads while the window
// closes and is deleted: each payload is freed once, by the handler, by the
// window layer when the window went before delivery, or by the poster when
// the post failed (LeakSanitizer and AddressSanitizer check both).
TEST_F(MainWindowTest, PayloadStormWhileThePagesAreDestroyed)
{
    CIPCClientDlg* dlg = Open();
    const HWND hWnd = dlg->m_hWnd;
    std::atomic<bool> stop{false};
    std::atomic<int> failed{0}, posted{0};
    auto poster = [&](int kind) {
        while (!stop.load()) {
            BOOL ok = FALSE;
            switch (kind) {
            case 0: {
                char* id = new char[128]();
                std::strcpy(id, "IPC-NONE");
                ok = PostMessage(hWnd, WM_STREAM_STATUS, reinterpret_cast<WPARAM>(id), 5,
                                 [](WPARAM w, LPARAM) { delete[] reinterpret_cast<char*>(w); });
                if (!ok)
                    delete[] id;
                break;
            }
            case 1: {
                auto* s = new _ALARM_SOURCE{};
                auto* a = new _ALARM_INFO{};
                auto del = [](WPARAM w, LPARAM l) {
                    delete reinterpret_cast<_ALARM_SOURCE*>(w);
                    delete reinterpret_cast<_ALARM_INFO*>(l);
                };
                ok = PostMessage(hWnd, WM_DEV_ALARM, reinterpret_cast<WPARAM>(s), reinterpret_cast<LPARAM>(a), del);
                if (!ok)
                    del(reinterpret_cast<WPARAM>(s), reinterpret_cast<LPARAM>(a));
                break;
            }
            case 2: {
                auto* e = new OnvifDeviceEntry{};
                std::strcpy(e->ServiceAddr, "http://127.0.0.1:1/onvif/device_service");
                ok = PostMessage(hWnd, WM_ONVIF_STATUS, reinterpret_cast<WPARAM>(e), 0,
                                 [](WPARAM w, LPARAM) { delete reinterpret_cast<OnvifDeviceEntry*>(w); });
                if (!ok)
                    delete e;
                break;
            }
            case 3: {
                char* text = qelm::NewText("1^2");
                ok = qelm::PostText(hWnd, WM_NVR_CHANNEL_LIST, 77, text);
                qelm::FreeText(text); // PostText posts its own copy
                break;
            }
            default: {
                auto* node = new Qelm2Node{};
                ok = PostMessage(hWnd, WM_VSS_LOGIN_FAILED, reinterpret_cast<WPARAM>(node), 0,
                                 [](WPARAM w, LPARAM) { delete reinterpret_cast<Qelm2Node*>(w); });
                if (!ok)
                    delete node;
                break;
            }
            }
            (ok ? posted : failed).fetch_add(1);
            std::this_thread::yield();
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < 5; ++k)
        threads.emplace_back(poster, k);
    ASSERT_TRUE(WaitFor([&] { return posted.load() > 500; }));
    Close(); // pages destroyed while posts keep coming
    ASSERT_TRUE(WaitFor([&] { return failed.load() > 50; })) << "posts to the dead window must fail";
    stop = true;
    for (std::thread& t : threads)
        t.join();
    QApplication::processEvents(); // what was queued for the dead window is freed by the layer
    EXPECT_FALSE(IsWindow(hWnd));
}

int IgnoreAlarm(_OVF_ALARM_EVENT*)
{
    return 0;
}

// The close ends every camera's event subscription; a camera that does not
// answer its Unsubscribe must not hold up the others behind it, or a few
// silent cameras keep the window frozen for a time-out each. The cameras
// answer only once all three asked: one after another, the first would be
// given up on before the last one asks.
TEST_F(MainWindowTest, CloseUnsubscribesTheCamerasSideBySide)
{
    OVF_SetTimeoutMs(20000);
    fakeonvif::Camera cams[3];
    for (fakeonvif::Camera& cam : cams) {
        cam.Start();
        ASSERT_GT(cam.Port(), 0);
        const std::string events = cam.Base() + "/onvif/events";
        const int32_t handle = OVF_SetCallBackAlarmInfo(events.c_str(), "admin", "secret", &IgnoreAlarm, 0);
        ASSERT_GT(handle, 0);
        DeviceInfo d{};
        std::snprintf(d.DevName, sizeof d.DevName, "cam%d", cam.Port());
        d.OnvifDev = 1;
        d.OnvifAlarmHandle = handle;
        g_lstDevInfo.push_back(d);
        cam.Hold("Unsubscribe"); // answered only once released
    }
    Open();
    std::atomic<bool> allAtOnce{false};
    std::thread watcher([&] {
        // Released when all three wait together, or after a generous
        // deadline, so that a one-by-one close still ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            int waiting = 0;
            for (fakeonvif::Camera& cam : cams)
                waiting += cam.Count("Unsubscribe") > 0;
            if (waiting == 3) {
                allAtOnce = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (fakeonvif::Camera& cam : cams)
            cam.Release();
    });
    Close();
    watcher.join();
    EXPECT_TRUE(allAtOnce.load());
    for (fakeonvif::Camera& cam : cams) {
        EXPECT_EQ(cam.Count("Unsubscribe"), 1);
        EXPECT_EQ(cam.Abandoned("Unsubscribe"), 0) << "the unsubscriptions ran one after another";
    }
    for (const DeviceInfo& d : g_lstDevInfo)
        EXPECT_EQ(d.OnvifAlarmHandle, 0);
    OVF_SetTimeoutMs(5000);
}

} // namespace
