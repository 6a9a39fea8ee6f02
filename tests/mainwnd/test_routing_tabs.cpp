// The main window's routing, further monitors, page tab bar and user list,
// in-process: stand-in configuration and record search pages log what
// reaches them; two further screens are given through the screens hook.
#include "core/app_init.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/main_hooks.h"
#include "mainwnd/main_pages.h"
#include "media/sink_targets.h"
#include "mainwnd/page_dlg.h"
#include "mainwnd/user_list_dlg.h"
#include "res/strings.h"
#include "tests/core/config_globals.h"
#include "tests/support/watch_lock.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_calls;

std::string Name(const char* s)
{
    return s ? s : "none";
}

class FakeCfgPage : public CDialog, public ICfgManagerForwards {
public:
    explicit FakeCfgPage(CWnd* parent) : CDialog(324, parent)
    {
        SetChildStyle(true);
        setProperty("qelm2_class", "CCfgManagerDlg");
    }
    bool HasRecordPage() override { return false; }
    void EnsureDefaultStrategy() override {}
    void AddDeviceToDefaultStrategy(const DeviceInfo&) override {}
    bool DefaultSchemeCreated() override { return false; }
    void ShowSubPage(int) override {}
    void ResizeForMainWindow(int) override {}
    void ShowDeviceList(int on) override { g_calls.push_back("cfg.ShowDeviceList " + std::to_string(on)); }
    void ShowDevicePage() override { g_calls.push_back("cfg.ShowDevicePage"); }
    void DisplayDevInfo(DeviceInfo* d) override { g_calls.push_back("cfg.DisplayDevInfo " + Name(d ? d->DevName : nullptr)); }
    void ShowDeviceConfig(DeviceInfo* d) override { g_calls.push_back("cfg.ShowDeviceConfig " + Name(d ? d->DevName : nullptr)); }
    void ShowMaintDeviceInfo(DeviceInfo* d) override { g_calls.push_back("cfg.ShowMaintDeviceInfo " + Name(d ? d->DevName : nullptr)); }
    void ShowUser(const User* u) override { g_calls.push_back("ShowUser " + Name(u ? u->UserName : nullptr)); }
    void ShowGroup(const UserGroup* g) override { g_calls.push_back("ShowGroup " + Name(g ? g->GroupName : nullptr)); }
    void ShowRole(const Role* r) override { g_calls.push_back("ShowRole " + Name(r ? r->RoleName : nullptr)); }
};

class FakeRecPage : public CDialog, public ISearchRecForwards {
public:
    explicit FakeRecPage(CWnd* parent) : CDialog(149, parent)
    {
        SetChildStyle(true);
        setProperty("qelm2_class", "CSearchRecDlg");
    }
    void SetSearchDevInfo(DeviceInfo* d) override { g_calls.push_back("rec.SetSearchDevInfo " + Name(d ? d->DevName : nullptr)); }
    void SetOnExtScreen(int on) override { g_calls.push_back("rec.SetOnExtScreen " + std::to_string(on)); }
    void RefreshTimeBar() override { g_calls.push_back("rec.RefreshTimeBar"); }
    void ShowDevListGrouped() override { g_calls.push_back("rec.ShowDevListGrouped"); }
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const uint8_t*) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
};

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

MonitorRect Screen(int x, int w, int h, bool primary)
{
    MonitorRect m;
    m.rcMonitor = CRect(x, 0, x + w, h);
    m.rcWork = m.rcMonitor;
    m.primary = primary;
    m.name = "s" + std::to_string(x);
    return m;
}

class RoutingTest : public ::testing::Test {
protected:
    qelmtest::WatchLock m_watchLock; // closing ends the watchdog by name

    void SetUp() override
    {
        cfgtest::ResetConfigGlobals();
        g_lstRelayServer.clear();
        g_nCurPage = 0;
        g_nCfgSubPage = 0;
        g_nScreenWidth = 1920;
        g_nScreenHeight = 1080;
        for (int& r : g_UserRights)
            r = 1;
        g_DispInfoSetting.LoginType = 0;
        g_DispInfoSetting.MonitorMode = 1;
        ASSERT_TRUE(m_logDir.isValid());
        m_logPath = m_logDir.filePath("clientlog.txt").toStdString();
        CloseLog();
        ASSERT_EQ(OpenLog(m_logPath.c_str()), 0);
        m_savedHooks = MainHooks();
        RegisterPageFactory("CCfgManagerDlg", [](CWnd* parent) -> CDialog* {
            auto* p = new FakeCfgPage(parent);
            p->Create(324, parent);
            return p;
        });
        RegisterPageFactory("CSearchRecDlg", [](CWnd* parent) -> CDialog* {
            auto* p = new FakeRecPage(parent);
            p->Create(149, parent);
            return p;
        });
        g_calls.clear();
    }

    void TearDown() override
    {
        if (m_dlg)
            Close();
        RegisterPageFactory("CCfgManagerDlg", {});
        RegisterPageFactory("CSearchRecDlg", {});
        SetMainWindowHooks(m_savedHooks);
        CloseLog();
        CDevTree::GetInstance()->StopP2PStatusThread();
        g_nScreenWidth = 1024;
        g_nScreenHeight = 768;
        g_nLayoutHeight = 768;
        g_nCurPage = 0;
        g_nCfgSubPage = 0;
        g_lstUserInfo.clear();
        g_lstGroupInfo.clear();
        g_lstRoleInfo.clear();
    }

    // furtherScreens: 0, 1 or 2 screens beside the primary one.
    CIPCClientDlg* Open(int furtherScreens)
    {
        MainWindowHooks hooks = m_savedHooks;
        hooks.monitors = [furtherScreens] {
            std::vector<MonitorRect> s{Screen(0, 1920, 1080, true)};
            if (furtherScreens >= 1)
                s.push_back(Screen(1920, 1280, 720, false));
            if (furtherScreens >= 2)
                s.push_back(Screen(3200, 1024, 768, false));
            return s;
        };
        SetMainWindowHooks(hooks);
        m_dlg = new CIPCClientDlg(nullptr);
        m_dlg->Create(CIPCClientDlg::IDD, nullptr);
        m_dlg->show();
        QApplication::processEvents();
        m_bar = dynamic_cast<CPageDlg*>(m_dlg->Page("CPageDlg"));
        return m_dlg;
    }

    void Close()
    {
        m_dlg->ExitApp();
        EXPECT_TRUE(WaitFor([this] { return m_dlg->MainGrid() == nullptr; })) << "the close did not run";
        delete m_dlg;
        m_dlg = nullptr;
        m_bar = nullptr;
    }

    // The move command as the tab's menu gives it.
    void Move(UINT tab, int monitor)
    {
        ASSERT_TRUE(m_bar->OpenTabMenu(tab, QPoint(10, 10))) << tab;
        m_bar->CurrentMenu()->close();
        m_bar->SendMessage(WM_COMMAND, CPageDlg::ID_MOVE_TO_SCREEN1 + monitor - 1, 0);
        QApplication::processEvents();
    }

    bool LogHas(const std::string& text)
    {
        FlushLog();
        std::ifstream f(m_logPath);
        std::string line;
        while (std::getline(f, line))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    std::string MsgText()
    {
        auto* label = qobject_cast<QLabel*>(m_dlg->MsgDlg()->GetDlgItem(CResMsgDlg::IDC_TEXT));
        return label && m_dlg->MsgDlg()->isVisible() ? label->text().toStdString() : std::string();
    }

    QTemporaryDir m_logDir;
    std::string m_logPath;
    MainWindowHooks m_savedHooks;
    CIPCClientDlg* m_dlg = nullptr;
    CPageDlg* m_bar = nullptr;

    // The tab handler of tab 1..6.
    void ClickTab(int tab)
    {
        switch (tab) {
        case 1: m_bar->OnBnClickedBtnVideo(); break;
        case 2: m_bar->OnBnClickedBtnRecord(); break;
        case 3: m_bar->OnBnClickedBtnAlarm(); break;
        case 4: m_bar->OnBnClickedBtnConfig(); break;
        case 5: m_bar->OnBnClickedBtnTVWall(); break;
        case 6: m_bar->OnBnClickedBtnMap(); break;
        }
    }
};

// --- tab bar -------------------------------------------------------------------------

constexpr UINT kVisible[9] = {1281, 1012, 1280, 1013, 1282, 1014, 1283, 1015, 1286};

TEST_F(RoutingTest, TabPicturesPlacesAndCaptionsFollowTheCurrentTab)
{
    Open(0);
    ASSERT_NE(m_bar, nullptr);
    EXPECT_EQ(m_bar->geometry(), QRect(0, 1080 * 52 / 768 - 35, 1030, 34));
    // Left to right from x 7, 31 high; the TV wall and map tabs hidden.
    const int x[9] = {7, 36, 172, 201, 337, 366, 502, 531, 667};
    for (int i = 0; i < 9; ++i) {
        QWidget* b = m_bar->GetDlgItem(kVisible[i]);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(b->isVisible()) << kVisible[i];
        EXPECT_EQ(b->geometry(), QRect(x[i], 0, kVisible[i] >= 1280 ? 29 : 136, 31)) << kVisible[i];
    }
    for (UINT hidden : {1016u, 1017u, 1284u, 1285u})
        EXPECT_FALSE(m_bar->GetDlgItem(hidden)->isVisible()) << hidden;

    struct Case {
        int tab, page, videoTab;
        int pictures[9];
    } cases[] = {
        {2, 1, 1, {8, 4, 7, 2, 3, 4, 5, 4, 6}},
        {3, 2, 1, {8, 4, 5, 4, 7, 2, 3, 4, 6}},
        {4, 3, 0, {8, 4, 5, 4, 5, 4, 7, 2, 9}},
        {6, 5, 0, {8, 4, 5, 4, 5, 4, 5, 4, 9}},
        {5, 4, 0, {8, 4, 5, 4, 5, 4, 5, 4, 6}},
        {1, 0, 1, {1, 2, 3, 4, 5, 4, 5, 4, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tab);
        ClickTab(c.tab);
        EXPECT_EQ(m_bar->CurrentTab(), c.tab);
        EXPECT_EQ(g_nCurPage, c.page);
        EXPECT_EQ(g_bVideoTab, c.videoTab);
        for (int i = 0; i < 9; ++i)
            EXPECT_TRUE(m_bar->ButtonPicture(kVisible[i]).ends_with("tab" + std::to_string(c.pictures[i]) + ".png"))
                << kVisible[i] << " " << m_bar->ButtonPicture(kVisible[i]);
        for (UINT tab = 1012; tab <= 1017; ++tab)
            EXPECT_EQ(m_bar->CaptionColor(tab), tab - 1011 == UINT(c.tab) ? CPageDlg::kCurrentCaption : 0u) << tab;
        // The device panel's map list only on the map page.
        EXPECT_EQ(m_dlg->DeviceList()->GetDlgItem(CDeviceListDlg::IDC_BTN_MAP_LIST)->isEnabled(), c.page == 5);
    }
}

TEST_F(RoutingTest, ARefusedTabChangesNothingButShowsItsDenial)
{
    Open(0);
    m_bar->OnBnClickedBtnAlarm();
    std::vector<std::string> before;
    for (UINT id : CPageDlg::kButtonOrder)
        before.push_back(m_bar->ButtonPicture(id));
    struct Case {
        int right;
        int tab;
        unsigned denial;
    } cases[] = {
        {kRightSurPTZ, 1, 284}, {kRightRecord, 2, 285}, {kRightUserManager, 4, 287},
        {kRightTvWallMap, 5, 290}, {kRightTvWallMap, 6, 293},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.denial);
        g_UserRights[c.right] = 0;
        g_bVideoTab = 7;
        ClickTab(c.tab);
        g_UserRights[c.right] = 1;
        EXPECT_EQ(MsgText(), LoadResString(c.denial));
        EXPECT_EQ(m_bar->CurrentTab(), 3);
        EXPECT_EQ(g_nCurPage, 2);
        EXPECT_EQ(g_bVideoTab, 7);
        std::vector<std::string> after;
        for (UINT id : CPageDlg::kButtonOrder)
            after.push_back(m_bar->ButtonPicture(id));
        EXPECT_EQ(after, before);
        EXPECT_EQ(m_bar->CaptionColor(CPageDlg::IDC_TAB_ALARM), CPageDlg::kCurrentCaption);
    }
}

TEST_F(RoutingTest, TheMoveMenuOpensOnlyWhereItMayAndChecksThePagesMonitor)
{
    Open(2);
    struct Case {
        int monitorMode;
        UINT tab;
        int curPage;
        int right; // the tab's right, -1 to leave it
        bool opens;
    } cases[] = {
        {1, 1013, 0, -1, true},             {1, 1014, 0, -1, true},  {1, 1015, 0, -1, true},
        {1, 1012, 1, -1, false},            // the live tab has no menu
        {1, 1013, 1, -1, false},            // the current page's tab
        {0, 1013, 0, -1, false},            // further monitors switched off
        {1, 1013, 0, kRightRecord, false},  // without the right
        {1, 1015, 0, kRightUserManager, false},
        {1, 1017, 0, -1, true},             // hidden, but a movable page
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tab << " page " << c.curPage << " mode " << c.monitorMode);
        g_DispInfoSetting.MonitorMode = c.monitorMode;
        g_nCurPage = c.curPage;
        if (c.right >= 0)
            g_UserRights[c.right] = 0;
        const UINT before = m_bar->RClickedTabId();
        EXPECT_EQ(m_bar->OpenTabMenu(c.tab, QPoint(5, 5)), c.opens);
        EXPECT_EQ(m_bar->RClickedTabId(), c.opens ? c.tab : before);
        if (c.opens) {
            ASSERT_NE(m_bar->CurrentMenu(), nullptr);
            const QList<QAction*> items = m_bar->CurrentMenu()->actions();
            ASSERT_EQ(items.size(), 3);
            EXPECT_EQ(items[0]->text().toStdString(), LoadResString(948));
            EXPECT_EQ(items[2]->text().toStdString(), LoadResString(957));
            for (QAction* a : items)
                EXPECT_FALSE(a->isChecked());
            m_bar->CurrentMenu()->close();
        }
        if (c.right >= 0)
            g_UserRights[c.right] = 1;
    }
    g_DispInfoSetting.MonitorMode = 1;
    g_nCurPage = 0;

    // With the record search page on monitor 2 its item 2 is checked.
    Move(CPageDlg::IDC_TAB_RECORD, 2);
    ASSERT_EQ(m_dlg->PageMonitor(CIPCClientDlg::kKindRecSearch), 2);
    ASSERT_TRUE(m_bar->OpenTabMenu(CPageDlg::IDC_TAB_RECORD, QPoint(5, 5)));
    const QList<QAction*> items = m_bar->CurrentMenu()->actions();
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isChecked());
    EXPECT_FALSE(items[2]->isChecked());
    m_bar->CurrentMenu()->close();
    EXPECT_TRUE(LogHas("CPageDlg: init record button menu, nMonitor=2"));
    // A command past the monitors listed does nothing.
    m_bar->SendMessage(WM_COMMAND, CPageDlg::ID_MOVE_TO_SCREEN3, 0);
    EXPECT_EQ(m_dlg->PageMonitor(CIPCClientDlg::kKindRecSearch), 2);
}

TEST_F(RoutingTest, NoMoveMenuWithoutAFurtherMonitor)
{
    Open(0);
    EXPECT_FALSE(m_bar->OpenTabMenu(CPageDlg::IDC_TAB_RECORD, QPoint(5, 5)));
    EXPECT_EQ(m_bar->CurrentMenu(), nullptr);
}

// --- further monitors -----------------------------------------------------------------

TEST_F(RoutingTest, PagesMoveToFurtherMonitorsAndBack)
{
    Open(2);
    QWidget* rec = m_dlg->Page("CSearchRecDlg");
    CVideoManagerDlg* grid1 = m_dlg->Monitors().front().pVideoManager;
    CVideoManagerDlg* grid2 = m_dlg->Monitors().back().pVideoManager;
    ASSERT_TRUE(grid1 && grid2);
    EXPECT_TRUE(grid1->isVisible());

    // To monitor 1: a top-level window over the monitor, its own device list, monitor 1's grid hidden.
    g_calls.clear();
    Move(CPageDlg::IDC_TAB_RECORD, 1);
    EXPECT_TRUE(rec->isWindow());
    EXPECT_EQ(rec->geometry(), QRect(1920, 0, 1280, 720));
    EXPECT_TRUE(rec->isVisible());
    EXPECT_FALSE(grid1->isVisible());
    EXPECT_EQ(m_dlg->Monitors().front().nPageKind, 1);
    EXPECT_EQ(m_dlg->m_bPageOnMonitor, 1);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"rec.SetOnExtScreen 1", "rec.ShowDevListGrouped", "rec.RefreshTimeBar"}));
    // It stays there across page switches.
    m_bar->OnBnClickedBtnAlarm();
    m_bar->OnBnClickedBtnVideo();
    EXPECT_TRUE(rec->isVisible());

    // 1 to 2: monitor 1's grid comes back.
    Move(CPageDlg::IDC_TAB_RECORD, 2);
    EXPECT_EQ(rec->geometry(), QRect(3200, 0, 1024, 768));
    EXPECT_TRUE(grid1->isVisible());
    EXPECT_FALSE(grid2->isVisible());
    EXPECT_EQ(m_dlg->Monitors().front().nPageKind, 0);
    EXPECT_EQ(m_dlg->Monitors().back().nPageKind, 1);
    EXPECT_EQ(m_dlg->PageMonitor(CIPCClientDlg::kKindRecSearch), 2);

    // The configuration page onto monitor 2 takes its place; record search goes home hidden.
    g_calls.clear();
    Move(CPageDlg::IDC_TAB_CONFIG, 2);
    QWidget* cfg = m_dlg->Page("CCfgManagerDlg");
    EXPECT_TRUE(cfg->isWindow());
    EXPECT_EQ(cfg->geometry(), QRect(3200, 0, 1024, 768));
    EXPECT_FALSE(rec->isWindow());
    EXPECT_EQ(rec->parentWidget(), m_dlg);
    EXPECT_FALSE(rec->isVisible());
    EXPECT_EQ(rec->geometry(), QRect(235, 1080 * 52 / 768 + 39, 1920 - 235 - 8, 1080 - 10 - (1080 * 52 / 768 + 39)));
    EXPECT_EQ(m_dlg->PageMonitor(CIPCClientDlg::kKindRecSearch), 0);
    EXPECT_FALSE(grid2->isVisible());
    EXPECT_EQ(g_calls, (std::vector<std::string>{"rec.SetOnExtScreen 0", "rec.RefreshTimeBar", "cfg.ShowDeviceList 1",
                                                 "cfg.ShowDevicePage"}));

    // The same command again brings it back and shows monitor 2's grid.
    Move(CPageDlg::IDC_TAB_CONFIG, 2);
    EXPECT_FALSE(cfg->isWindow());
    EXPECT_EQ(cfg->parentWidget(), m_dlg);
    EXPECT_TRUE(grid2->isVisible());
    EXPECT_EQ(m_dlg->Monitors().back().nPageKind, 0);
    EXPECT_EQ(m_dlg->m_bPageOnMonitor, 0);
}

TEST_F(RoutingTest, RestoringFromTheDisplaySettingsLeavesNoMonitorClaimingThePage)
{
    Open(1);
    Move(CPageDlg::IDC_TAB_RECORD, 1);
    QWidget* rec = m_dlg->Page("CSearchRecDlg");
    ASSERT_TRUE(rec->isWindow());
    // The display settings page switches the further monitors off.
    m_dlg->RestorePageFromMonitor(CIPCClientDlg::kKindRecSearch);
    EXPECT_FALSE(rec->isWindow());
    EXPECT_EQ(rec->parentWidget(), m_dlg);
    EXPECT_EQ(m_dlg->Monitors().front().nPageKind, 0);
    EXPECT_EQ(m_dlg->m_bPageOnMonitor, 0);
    EXPECT_EQ(m_dlg->PageMonitor(CIPCClientDlg::kKindRecSearch), 0);
    // The next switch shows it in the main window.
    m_bar->OnBnClickedBtnRecord();
    EXPECT_TRUE(rec->isVisible());
    EXPECT_EQ(rec->mapTo(m_dlg, QPoint(0, 0)), QPoint(235, 1080 * 52 / 768 + 39));
}

// --- routing ---------------------------------------------------------------------------

TEST_F(RoutingTest, ATreeClickGoesToTheCurrentPageAndToPagesOnMonitors)
{
    Open(2);
    DeviceInfo dev{};
    std::strcpy(dev.DevName, "Gate");
    struct Case {
        int page, subPage;
        std::vector<std::string> calls;
    } alone[] = {
        {0, 0, {}},
        {1, 0, {"rec.SetSearchDevInfo Gate"}},
        {2, 0, {}},
        {3, 0, {"cfg.DisplayDevInfo Gate"}},
        {3, 1, {}},
        {3, 2, {}},
        {3, 3, {"cfg.ShowDeviceConfig Gate"}},
        {3, 4, {"cfg.ShowMaintDeviceInfo Gate"}},
        {5, 0, {}},
    };
    for (const Case& c : alone) {
        SCOPED_TRACE(testing::Message() << c.page << "/" << c.subPage);
        g_nCurPage = c.page;
        g_nCfgSubPage = c.subPage;
        g_calls.clear();
        DeviceServices()->OnDevTreeSelDevice(&dev);
        EXPECT_EQ(g_calls, c.calls);
    }
    g_nCurPage = 0;
    g_nCfgSubPage = 0;
    // Pages on monitors receive the click whatever page is current.
    Move(CPageDlg::IDC_TAB_RECORD, 1);
    Move(CPageDlg::IDC_TAB_CONFIG, 2);
    const Case onMonitors[] = {
        {0, 0, {"cfg.DisplayDevInfo Gate", "rec.SetSearchDevInfo Gate"}},
        {2, 2, {"rec.SetSearchDevInfo Gate"}},
        {5, 4, {"cfg.ShowMaintDeviceInfo Gate", "rec.SetSearchDevInfo Gate"}},
    };
    for (const Case& c : onMonitors) {
        SCOPED_TRACE(testing::Message() << "on monitors " << c.page << "/" << c.subPage);
        g_nCurPage = c.page;
        g_nCfgSubPage = c.subPage;
        g_calls.clear();
        DeviceServices()->OnDevTreeSelDevice(&dev);
        EXPECT_EQ(g_calls, c.calls);
    }
    // Back home: only the current page again.
    g_nCurPage = 2;
    g_nCfgSubPage = 0;
    Move(CPageDlg::IDC_TAB_RECORD, 1);
    g_calls.clear();
    DeviceServices()->OnDevTreeSelDevice(&dev);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"cfg.DisplayDevInfo Gate"}));
}

TEST_F(RoutingTest, RecordAllTogglesEveryPlanFromItsOwnFlag)
{
    Open(0);
    m_dlg->OnDefaultRec(); // no plan: nothing
    EXPECT_EQ(m_dlg->m_bRecordAll, 0);
    EXPECT_TRUE(LogHas("CIPCClientDlg::OnDefaultRec():g_lstRecSchemeInfo.size()==0"));
    RecScheme on, off;
    on.OnOff = 1;
    off.OnOff = 0;
    {
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo = {&on, &off};
    }
    // The first toggle enables every plan, also one that was on already; the second disables every plan.
    m_dlg->OnDefaultRec();
    EXPECT_EQ(m_dlg->m_bRecordAll, 1);
    EXPECT_EQ(on.OnOff + off.OnOff, 2);
    m_dlg->OnDefaultRec();
    EXPECT_EQ(m_dlg->m_bRecordAll, 0);
    EXPECT_EQ(on.OnOff + off.OnOff, 0);
    EXPECT_TRUE(LogHas("CIPCClientDlg::OnDefaultRec(): Begin..."));
    EXPECT_TRUE(LogHas("CIPCClientDlg::OnDefaultRec(): End."));
    qelm::CsLock lock(g_csDevList);
    g_lstRecSchemeInfo.clear();
}

// --- user list ----------------------------------------------------------------------------

TEST_F(RoutingTest, UserListClicksGoByTheItemUnderTheCursor)
{
    auto add = [](auto& list) -> auto& {
        list.emplace_back();
        auto& rec = list.back();
        std::memset(&rec, 0, sizeof rec);
        return rec;
    };
    std::strcpy(add(g_lstGroupInfo).GroupName, "Guards");
    std::strcpy(add(g_lstGroupInfo).GroupName, "Empty");
    User& u = add(g_lstUserInfo);
    std::strcpy(u.UserName, "op1");
    std::strcpy(u.GroupName, "Guards");
    std::strcpy(add(g_lstRoleInfo).RoleName, "Viewer");
    Open(0);

    CUserListDlg list(m_dlg);
    list.Create(CUserListDlg::IDD, m_dlg);
    list.resize(300, 400);
    list.show();
    QApplication::processEvents();
    // Two trees, one above the other.
    EXPECT_EQ(list.UserTree()->geometry(), QRect(1, 1, 298, 188));
    EXPECT_EQ(list.RoleTree()->geometry(), QRect(1, 210, 298, 188));

    QTreeWidget* users = list.UserTree();
    QTreeWidgetItem* root = users->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->childCount(), 2);
    auto click = [](QTreeWidget* tree, QTreeWidgetItem* item) {
        const QPoint at = item ? tree->visualItemRect(item).center() : QPoint(20, tree->viewport()->height() - 5);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    };
    struct Case {
        QTreeWidget* tree;
        QTreeWidgetItem* item;
        std::vector<std::string> calls;
    } cases[] = {
        {users, root, {"ShowUser none", "ShowGroup none"}},
        {users, root->child(0), {"ShowGroup Guards"}},
        {users, root->child(0)->child(0), {"ShowUser op1"}},
        {users, root->child(1), {"ShowGroup Empty"}}, // a group without users is still a group
        {users, nullptr, {}},                         // empty space
        {list.RoleTree(), list.RoleTree()->topLevelItem(0), {"ShowRole none"}},
        {list.RoleTree(), list.RoleTree()->topLevelItem(0)->child(0), {"ShowRole Viewer"}},
        {list.RoleTree(), nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item ? c.item->text(0).toStdString() : "empty space");
        g_calls.clear();
        click(c.tree, c.item);
        EXPECT_EQ(g_calls, c.calls);
    }
    // The selection moved by the keyboard shows nothing.
    g_calls.clear();
    users->setCurrentItem(root->child(0)->child(0));
    QTest::keyClick(users, Qt::Key_Down);
    EXPECT_TRUE(g_calls.empty());
    // A rebuild through the main window keeps the root selected and every item expanded.
    std::strcpy(add(g_lstRoleInfo).RoleName, "Admin2");
    list.RefreshRoleTree();
    EXPECT_EQ(list.RoleTree()->topLevelItem(0)->childCount(), 2);
}

} // namespace
