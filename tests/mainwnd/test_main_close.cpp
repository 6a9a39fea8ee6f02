// The main window's close: the close button's confirmation and web-page
// boxes, the exit routine, the close handler's order with the subsystems'
// stop-and-join steps, the ignored early WM_CLOSE, and the saved panes of
// the further monitors.
#include "core/app_init.h"
#include "core/config_store.h"
#include "core/log.h"
#include "core/recover.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/close_steps.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "platform/dialog.h"
#include "platform/message.h"
#include "tests/core/config_globals.h"
#include "tests/support/watch_lock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QTemporaryDir>

#include <tinyxml.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

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

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class MainCloseTest : public ::testing::Test {
protected:
    qelmtest::WatchLock m_watchLock; // the exit routine ends the watchdog by name

    void SetUp() override
    {
        cfgtest::ResetConfigGlobals();
        g_lstRelayServer.clear();
        g_nCurPage = 0;
        g_nScreenWidth = 1920;
        g_nScreenHeight = 1080;
        for (int& r : g_UserRights)
            r = 1;
        g_DispInfoSetting.MonitorMode = 1;
        ASSERT_TRUE(m_dir.isValid());
        m_config = m_dir.filePath("Config/").toStdString();
        QDir().mkpath(QString::fromStdString(m_config));
        SetConfigDir(m_config);
        setenv("QELM2_DATA", m_dir.path().toUtf8().constData(), 1);
        CloseLog();
        m_logPath = m_dir.filePath("clientlog.txt").toStdString();
        ASSERT_EQ(OpenLog(m_logPath.c_str()), 0);
    }

    void TearDown() override
    {
        if (m_dlg)
            CloseNow();
        for (int id : m_steps)
            UnregisterCloseStep(id);
        CloseLog();
        CDevTree::GetInstance()->StopP2PStatusThread();
        SetConfigDir("");
        unsetenv("QELM2_DATA");
        g_nScreenWidth = 1024;
        g_nScreenHeight = 768;
        g_nLayoutHeight = 768;
        g_nCurPage = 0;
    }

    CIPCClientDlg* Open()
    {
        m_dlg = new CIPCClientDlg(nullptr);
        m_dlg->m_fnVerifyLogin = [this](int unlock) {
            m_verifies.push_back(unlock);
            WriteLog(6, "test: verify login");
            return m_verifyAnswer;
        };
        m_dlg->Create(CIPCClientDlg::IDD, nullptr);
        m_dlg->show();
        QApplication::processEvents();
        return m_dlg;
    }

    // The close button, then the exit timer and the close handler; the window
    // object is deleted once its pages are gone.
    void ClickCloseAndWait()
    {
        m_dlg->OnBnClickedClose();
        ASSERT_TRUE(WaitFor([this] { return m_dlg->MainGrid() == nullptr; })) << "the close did not run";
        delete m_dlg;
        m_dlg = nullptr;
    }

    void CloseNow()
    {
        m_dlg->ExitApp();
        EXPECT_TRUE(WaitFor([this] { return m_dlg->MainGrid() == nullptr; }));
        delete m_dlg;
        m_dlg = nullptr;
    }

    // A step that logs its name, so its place among the log lines shows.
    void AddStep(CloseStage stage, const std::string& name)
    {
        m_steps.push_back(RegisterCloseStep(stage, name, [name] { WriteLog(6, "test: step %s", name.c_str()); }));
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

    int At(const std::vector<std::string>& lines, const std::string& text, int from = 0)
    {
        for (int i = from; i < int(lines.size()); ++i)
            if (lines[i].find(text) != std::string::npos)
                return i;
        return -1;
    }

    QTemporaryDir m_dir;
    std::string m_config;
    std::string m_logPath;
    CIPCClientDlg* m_dlg = nullptr;
    std::vector<int> m_verifies;
    int m_verifyAnswer = IDOK;
    std::vector<int> m_steps;
};

TEST_F(MainCloseTest, TheCloseRunsEveryStepInItsOrder)
{
    g_DispInfoSetting.ExitConfirm = 1;
    AddStep(CloseStage::LinkageOff, "linkage off");
    AddStep(CloseStage::AlarmLogWriter, "alarm log writer joined");
    AddStep(CloseStage::RelaySessions, "relay sessions and downloads joined");
    AddStep(CloseStage::RelayReplays, "relay replays stopped");
    AddStep(CloseStage::BeforePages, "tv wall stopped");
    Open();
    ASSERT_TRUE(WaitFor([this] { return m_dlg->HasRecScheduler(); })) << "the recording threads did not start";
    ClickCloseAndWait();
    EXPECT_EQ(m_verifies, std::vector<int>{0});

    const std::vector<std::string> lines = LogLines();
    const char* order[] = {
        "test: step linkage off",
        "test: verify login",
        "CIPCClientDlg::OnClose():Stop record thread.",
        "CIPCClientDlg::OnClose():Stop record file manager thread.",
        "TerminProcessByName Watch.exe start...",
        "TerminProcessByName Watch.exe start...",
        "test: step relay replays stopped",
        "test: step relay sessions and downloads joined",
        "test: step alarm log writer joined",
        "CIPCClientDlg::OnClose():save the surveillance status",
        "CIPCClientDlg::OnClose():Release all com control.",
        "CIPCClientDlg::OnClose(): RTSP pull control stop all.",
        "CIPCClientDlg::OnClose(): Delete pRtspEvent1 && pRtspEvent2",
        "test: step tv wall stopped",
        "CIPCClientDlg::DestroyActiveDlg(): Begin destroy active dialog.",
        "CIPCClientDlg::DestroyActiveDlg(): End destroy active dialog.",
    };
    int pos = 0;
    for (const char* want : order) {
        const int at = At(lines, want, pos);
        ASSERT_GE(at, 0) << "missing or out of order: " << want;
        pos = at + 1;
    }
    // Each step once.
    EXPECT_EQ(At(lines, "test: step tv wall stopped", At(lines, "test: step tv wall stopped") + 1), -1);
}

TEST_F(MainCloseTest, CancellingTheConfirmationKeepsEverythingRunning)
{
    g_DispInfoSetting.ExitConfirm = 1;
    m_verifyAnswer = IDCANCEL;
    AddStep(CloseStage::LinkageOff, "linkage off");
    Open();
    ASSERT_TRUE(WaitFor([this] { return m_dlg->HasRecScheduler(); }));
    m_dlg->OnBnClickedClose();
    EXPECT_EQ(m_verifies, std::vector<int>{0});
    EXPECT_EQ(m_dlg->IsClosing(), 0);
    EXPECT_TRUE(m_dlg->HasRecScheduler());
    EXPECT_EQ(m_dlg->m_bCloseAllowed, 0);
    // Only the linkage went off.
    EXPECT_GE(At(LogLines(), "test: step linkage off"), 0);
    EXPECT_EQ(At(LogLines(), "Stop record thread."), -1);

    // The next click asks again and closes.
    m_verifyAnswer = IDOK;
    ClickCloseAndWait();
    EXPECT_EQ(m_verifies, (std::vector<int>{0, 0}));
}

TEST_F(MainCloseTest, WithoutConfirmationNoPasswordIsAsked)
{
    g_DispInfoSetting.ExitConfirm = 0;
    Open();
    ClickCloseAndWait();
    EXPECT_TRUE(m_verifies.empty());
}

TEST_F(MainCloseTest, CloseBeforeTheExitRoutineIsIgnored)
{
    Open();
    // Another program's WM_CLOSE and the window system's close.
    ::PostMessage(m_dlg->m_hWnd, WM_CLOSE, 0, 0);
    m_dlg->close();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_NE(m_dlg->MainGrid(), nullptr);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_EQ(At(LogLines(), "DestroyActiveDlg(): Begin"), -1);
}

TEST_F(MainCloseTest, WebPageBoxesAreClosedBeforeTheConfirmation)
{
    g_DispInfoSetting.ExitConfirm = 1;
    struct Box {
        const char* caption;
        bool closed;
    } boxes[] = {{"Message from webpage", true},
                 {"来自网页的消息", true},
                 {"Windows Internet Explorer", true},
                 {"Microsoft Internet Explorer", true},
                 {"Message from web page", false}};
    std::vector<CDialog*> windows;
    for (const Box& b : boxes) {
        auto* w = new CDialog(0, nullptr);
        w->Create(0, nullptr);
        w->setWindowTitle(QString::fromUtf8(b.caption));
        w->show();
        windows.push_back(w);
    }
    Open();
    std::vector<bool> shownAtConfirm;
    m_dlg->m_fnVerifyLogin = [&](int) {
        for (CDialog* w : windows)
            shownAtConfirm.push_back(w->isVisible());
        return IDCANCEL;
    };
    m_dlg->OnBnClickedClose();
    ASSERT_EQ(shownAtConfirm.size(), windows.size());
    for (size_t i = 0; i < windows.size(); ++i)
        EXPECT_EQ(shownAtConfirm[i], !boxes[i].closed) << boxes[i].caption;
    for (CDialog* w : windows) {
        w->DestroyWindow();
        delete w;
    }
}

TEST_F(MainCloseTest, RecoverKeepsTheFurtherMonitorsEntries)
{
    std::snprintf(g_szUserName, sizeof g_szUserName, "%s", "admin");
    {
        std::ofstream f(m_config + "Recover.xml");
        f << kRecoverTemplate;
    }
    // A pane of monitor 1's grid, saved when it was placed; the main grid shows nothing.
    SurStauts s{};
    std::snprintf(s.DevId, sizeof s.DevId, "%s", "IPC-M1");
    std::snprintf(s.DevName, sizeof s.DevName, "%s", "Yard");
    s.WndNo = 2;
    s.MonitorNum = 1;
    s.DispMode = 4;
    g_lstSurStatus.push_back(s);
    SurStauts gone = s;
    std::snprintf(gone.DevId, sizeof gone.DevId, "%s", "IPC-M0");
    gone.MonitorNum = 0;
    g_lstSurStatus.push_back(gone);
    Open();
    CloseNow();
    const std::string recover = ReadAll(m_config + "Recover.xml");
    EXPECT_NE(recover.find("IPC-M1"), std::string::npos) << recover;
    EXPECT_EQ(recover.find("IPC-M0"), std::string::npos) << recover;
    g_szUserName[0] = 0;
}

TEST_F(MainCloseTest, RemoteDevInfoHoldsTheWatchedParentChannels)
{
    std::list<RelayDevItem> channels(3);
    int n = 0;
    for (RelayDevItem& c : channels) {
        std::snprintf(c.Ip, sizeof c.Ip, "10.0.0.%d", ++n);
        std::snprintf(c.Mac, sizeof c.Mac, "%s", "00-11-22-33-44-55");
        std::snprintf(c.DevName, sizeof c.DevName, "cam%d", n);
    }
    auto it = channels.begin();
    (it++)->State = 2;
    (it++)->State = 1;
    it->State = 4;
    Qelm2Node server;
    server.LoginId = 7;
    std::snprintf(server.IPAddr, sizeof server.IPAddr, "%s", "127.0.0.1");
    server.nPort = 9000;
    server.pDevList = &channels;
    g_lstRelayServer.push_back(server);
    Open();
    m_dlg->SaveRemoteDevInfo();
    g_lstRelayServer.clear();
    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile((m_config + "RemoteDevInfo.xml").c_str()));
    std::vector<std::string> names;
    for (TiXmlElement* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        EXPECT_STREQ(e->Attribute("ParentIp"), "127.0.0.1");
        EXPECT_STREQ(e->Attribute("ParentPort"), "9000");
        names.push_back(e->Attribute("DevName"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"cam1", "cam3"}));
}

TEST(CloseSteps, RunInStageAndRegistrationOrderAndMayUnregister)
{
    std::vector<std::string> ran;
    int second = 0;
    const int a = RegisterCloseStep(CloseStage::RelaySessions, "a", [&] {
        ran.push_back("a");
        UnregisterCloseStep(second); // a later step removed by an earlier one does not run
    });
    second = RegisterCloseStep(CloseStage::RelaySessions, "b", [&] { ran.push_back("b"); });
    const int c = RegisterCloseStep(CloseStage::AlarmLogWriter, "c", [&] { ran.push_back("c"); });
    const int d = RegisterCloseStep(CloseStage::RelaySessions, "d", [&] { ran.push_back("d"); });
    EXPECT_EQ(CloseStepNames(CloseStage::RelaySessions), (std::vector<std::string>{"a", "b", "d"}));
    RunCloseSteps(CloseStage::RelaySessions);
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "d"}));
    for (int id : {a, c, d})
        UnregisterCloseStep(id);
    EXPECT_TRUE(CloseStepNames(CloseStage::RelaySessions).empty());
}

} // namespace
