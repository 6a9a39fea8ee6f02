// The device list panel hosted in a stand-in main window, driven as a user
// drives it: layout, view buttons, search, clicks, double clicks, drags,
// right-click menus and relay requests.
#include "panel_host.h"

#include "core/recinfo.h"
#include "core/userinfo.h"
#include "res/strings.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

#include <cstring>
#include <functional>

namespace {

using devtest::FindItem;
using devtest::PanelHost;

class PanelTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        devtest::ResetAll();
        devtest::LoadFixture();
        host = std::make_unique<PanelHost>(900, 700);
        host->panel->OnBnClickedBtnOrigGroup();
    }
    void TearDown() override
    {
        host.reset();
        devtest::ResetAll();
    }
    QTreeWidget* Tree() { return host->panel->Tree(); }
    std::unique_ptr<PanelHost> host;
};

TEST_F(PanelTest, LayoutAtTwoScreenSizes)
{
    // The panel runs the full height of the main window on 1080- and
    // 768-line screens.
    for (QSize size : {QSize(1920, 1080), QSize(1024, 768)}) {
        const int h = size.height();
        SCOPED_TRACE(h);
        host->resize(size);
        host->panel->MoveWindow(0, 0, 219, h);
        CDeviceListDlg* p = host->panel;
        EXPECT_EQ(p->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP)->geometry(), QRect(1, h - 23, 108, 23));
        EXPECT_EQ(p->Button(CDeviceListDlg::IDC_BTN_ONLINE_GROUP)->geometry(), QRect(110, h - 23, 108, 23));
        EXPECT_EQ(p->SearchEdit()->geometry(), QRect(1, 1, 219 - 24, 22));
        EXPECT_EQ(p->Button(CDeviceListDlg::IDC_BTN_FIND)->geometry(), QRect(219 - 22, 1, 22, 22));
        EXPECT_EQ(p->Tree()->geometry(), QRect(1, 24, 217, h - 49));
        EXPECT_FALSE(p->Button(CDeviceListDlg::IDC_BTN_MAP_LIST)->isVisible());
        if (const char* dir = std::getenv("QELM2_TEST_SHOTS")) {
            p->grab().save(QString("%1/device_list_%2x%3.png").arg(dir).arg(size.width()).arg(h));
            p->OnBnClickedBtnOnlineGroup();
            p->grab().save(QString("%1/device_list_online_%2x%3.png").arg(dir).arg(size.width()).arg(h));
            p->OnBnClickedBtnOrigGroup();
        }
    }
    EXPECT_EQ(host->panel->Button(CDeviceListDlg::IDC_BTN_FIND)->toolTip(), QString("Search Device"));
    EXPECT_EQ(host->panel->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP)->text(), QString("Original"));
}

TEST_F(PanelTest, ViewButtonsSwitchTreesAndCaptionColours)
{
    CDeviceListDlg* p = host->panel;
    QTest::mouseClick(p->Button(CDeviceListDlg::IDC_BTN_ONLINE_GROUP), Qt::LeftButton);
    EXPECT_EQ(p->m_nViewMode, 2);
    EXPECT_EQ(Tree()->topLevelItem(0)->child(0)->text(0), QString("Online(4)"));
    EXPECT_EQ(p->Button(CDeviceListDlg::IDC_BTN_ONLINE_GROUP)->GetTextColor(), kSelectedCaptionColor);
    EXPECT_EQ(p->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP)->GetTextColor(), 0u);
    QTest::mouseClick(p->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP), Qt::LeftButton);
    EXPECT_EQ(p->m_nViewMode, 1);
    EXPECT_EQ(Tree()->topLevelItem(0)->child(0)->text(0), QString("Default"));
    p->ShowRecordStrategyTree();
    EXPECT_EQ(p->m_bPlanTree, 1);
    EXPECT_FALSE(p->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP)->isVisible());
    p->RefreshDevTree();
    EXPECT_EQ(p->m_bPlanTree, 0);
    EXPECT_TRUE(p->Button(CDeviceListDlg::IDC_BTN_ORIG_GROUP)->isVisible());
}

TEST_F(PanelTest, EnterInTheSearchEditSearchesAndContinues)
{
    QLineEdit* edit = host->panel->SearchEdit();
    edit->setFocus();
    QTest::keyClicks(edit, "Channel");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_NE(Tree()->currentItem(), nullptr);
    EXPECT_EQ(Tree()->currentItem()->text(0), QString("Channel-1"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(Tree()->currentItem()->text(0), QString("Channel-2"));
    EXPECT_EQ(host->MsgText(), "");
    edit->clear();
    QTest::keyClicks(edit, "zzz");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(host->MsgText(), "Search result is null!");
}

TEST_F(PanelTest, ClicksReachTheMainWindow)
{
    host->Click(FindItem(Tree(), "Gate"));
    EXPECT_EQ(host->calls, (std::vector<std::string>{"ShowDevGroupInfo Gate", "OnDevTreeSelDevice none"}));
    host->calls.clear();
    host->Click(FindItem(Tree(), "Cam2"));
    EXPECT_EQ(host->calls, (std::vector<std::string>{"OnDevTreeSelDevice Cam2", "ShowDevGroupInfo none"}));
    EXPECT_STREQ(g_SelDevInfo.DevName, "Cam2");
    host->calls.clear();
    host->Click(FindItem(Tree(), "NVR-A"));
    EXPECT_EQ(host->calls, (std::vector<std::string>{"OnDevTreeSelDevice NVR-A", "ShowDevGroupInfo none"}));
    host->calls.clear();
    host->Click(FindItem(Tree(), "Channel-3"));
    EXPECT_EQ(host->calls, (std::vector<std::string>{"OnDevTreeSelDevice Channel-3"}));
}

TEST_F(PanelTest, DoubleClicksPlayOnlineDevicesOnly)
{
    struct Case {
        const char* item;
        const char* call; // null: refused
        const char* msg;
    };
    devtest::FindDev("NVR001", "Channel-3")->NVRChannels = 5;
    const Case cases[] = {
        {"Cam2", "PlayDevInFreePane Cam2 res=cif ch=0", ""},
        {"Side", "PlayDevInFreePane Side res=cif ch=0", ""}, // refused by the cloud, not offline
        {"Channel-3", "PlayDevInFreePane Channel-3 res= ch=3", ""},
        {"Channel-2", nullptr, "The device offline,can't do the operation!"},
    };
    std::strcpy(devtest::FindDev("IPC003", "Side")->DefRes, "cif");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        host->calls.clear();
        host->panel->m_pMsgDlg->hide();
        host->DoubleClick(FindItem(Tree(), c.item));
        if (c.call)
            EXPECT_TRUE(host->Called(c.call)) << (host->calls.empty() ? "" : host->calls.back());
        else
            EXPECT_TRUE(host->calls.empty() || host->calls.back().rfind("PlayDevInFreePane", 0) != 0);
        EXPECT_EQ(host->MsgText(), c.msg);
    }
    // Elsewhere than the live page a double click does nothing.
    g_nCurPage = 3;
    host->calls.clear();
    host->DoubleClick(FindItem(Tree(), "Cam2"));
    EXPECT_FALSE(host->Called("PlayDevInFreePane Cam2 res=cif ch=0"));
}

TEST_F(PanelTest, CloudLoginRefusesDevicesWithoutCredentials)
{
    g_DispInfoSetting.LoginType = 1;
    devtest::FindDev("IPC001", "Cam2")->LoginPsw[0] = 0;
    host->DoubleClick(FindItem(Tree(), "Cam2"));
    EXPECT_EQ(host->MsgText(), "Please add the device manager for the device login user name and password");
    EXPECT_FALSE(host->Called("PlayDevInFreePane Cam2 res=cif ch=0"));
}

TEST_F(PanelTest, DragAndDropOnAPaneAndOnEmptySpace)
{
    host->Drag(FindItem(Tree(), "Cam2"), host->PaneCenter());
    EXPECT_TRUE(host->Called("DropDevToPane pane Cam2"));
    EXPECT_EQ(host->panel->m_bDragging, 0);
    EXPECT_STREQ(devtest::FindDev("IPC001", "Cam2")->Resolution, "cif");
    host->calls.clear();
    // Offline: refused with 821.
    host->Drag(FindItem(Tree(), "Channel-2"), host->PaneCenter());
    EXPECT_EQ(host->MsgText(), "The device offline,can't do the operation!");
    EXPECT_TRUE(host->Actions().empty());
    // Nothing under the cursor on the live page: nothing happens.
    host->Drag(FindItem(Tree(), "Cam2"), QPoint(5000, 5000));
    EXPECT_TRUE(host->Actions().empty());
    // TV wall and map pages pass the position whatever lies under it.
    g_nCurPage = 4;
    host->panel->RefreshDevTree();
    host->Drag(FindItem(Tree(), "Decoder1"), QPoint(5000, 5000));
    host->Drag(FindItem(Tree(), "Cam2"), QPoint(5000, 5000));
    g_nCurPage = 5;
    host->Drag(FindItem(Tree(), "Cam2"), QPoint(5000, 5000));
    EXPECT_EQ(host->Actions(), (std::vector<std::string>{"DropDecoderToTVWall Decoder1", "DropCameraToTVWall Cam2",
                                                     "DropDevToMap Cam2"}));
    // Groups and nodes cannot be dragged.
    host->calls.clear();
    g_nCurPage = 0;
    host->Drag(FindItem(Tree(), "NVR-A"), host->PaneCenter());
    EXPECT_TRUE(host->Actions().empty());
}

// A drag ends on every path, and the pointer grab and the drag label go with
// it: a grab left behind locks every click of the desktop. The release goes
// through the window system, so it reaches whatever holds the grab.
TEST_F(PanelTest, EveryWayOutOfADragEndsItAndReleasesTheGrab)
{
    struct Case {
        const char* name;
        std::function<void(PanelHost&, QPoint target)> end;
        bool drops;
    };
    auto sendMove = [](QWidget* to, QPoint screen, Qt::MouseButtons buttons) {
        QMouseEvent move(QEvent::MouseMove, to->mapFromGlobal(screen), screen, Qt::NoButton, buttons,
                         Qt::NoModifier);
        QApplication::sendEvent(to, &move);
    };
    const Case cases[] = {
        {"release over a pane", [](PanelHost& h, QPoint t) {
             QTest::mouseRelease(h.Viewport(), Qt::LeftButton, {}, h.Viewport()->mapFromGlobal(t));
         }, true},
        {"Esc", [](PanelHost& h, QPoint) { QTest::keyClick(h.panel->window(), Qt::Key_Escape); }, false},
        {"another button", [](PanelHost& h, QPoint t) {
             QTest::mousePress(h.Viewport(), Qt::RightButton, {}, h.Viewport()->mapFromGlobal(t));
         }, false},
        {"the program loses the focus", [](PanelHost&, QPoint) {
             QEvent e(QEvent::ApplicationDeactivate);
             QApplication::sendEvent(qApp, &e);
         }, false},
        {"the panel hidden", [](PanelHost& h, QPoint) { h.panel->hide(); }, false},
        {"a move without the button (the release went elsewhere)", [&](PanelHost& h, QPoint t) {
             sendMove(h.Viewport(), t, Qt::NoButton);
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host->panel->show();
        host->calls.clear();
        const QPoint from = host->Center(FindItem(Tree(), "Cam2"));
        QTest::mousePress(host->Viewport(), Qt::LeftButton, {}, from);
        sendMove(host->Viewport(), host->Viewport()->mapToGlobal(from + QPoint(20, 0)), Qt::LeftButton);
        ASSERT_EQ(host->panel->m_bDragging, 1);
        const QPoint target = host->PaneCenter();
        sendMove(host->Viewport(), target, Qt::LeftButton);
        c.end(*host, target);
        EXPECT_EQ(host->panel->m_bDragging, 0);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        bool labelShown = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            labelShown |= w->isVisible() && qobject_cast<QLabel*>(w) && w->windowType() == Qt::ToolTip;
        EXPECT_FALSE(labelShown);
        EXPECT_EQ(host->Called("DropDevToPane pane Cam2"), c.drops);
        QTest::mouseRelease(host->Viewport(), Qt::LeftButton, {}, from); // whatever is still down
        // The next drag starts and drops as usual.
        host->panel->show();
        host->calls.clear();
        host->Drag(FindItem(Tree(), "Cam2"), host->PaneCenter());
        EXPECT_TRUE(host->Called("DropDevToPane pane Cam2"));
    }
}

TEST_F(PanelTest, ARebuildBetweenPressAndMoveStartsNoDrag)
{
    // A reload posted by a worker can rebuild the tree while the button is
    // down: the pressed item is gone, and no drag may start from it.
    QPoint at = host->Center(FindItem(Tree(), "Cam2"));
    QTest::mousePress(host->Viewport(), Qt::LeftButton, {}, at);
    host->panel->RefreshDevTree();
    QPoint step = at + QPoint(20, 0);
    QMouseEvent move(QEvent::MouseMove, step, host->Viewport()->mapToGlobal(step), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(host->Viewport(), &move);
    EXPECT_EQ(host->panel->m_bDragging, 0);
    QTest::mouseRelease(host->Viewport(), Qt::LeftButton, {}, step);
    EXPECT_TRUE(host->Actions().empty());
}

TEST_F(PanelTest, ItemsOfRemovedGroupsAndPlansReachNothing)
{
    // The pages remove groups and plans and rebuild afterwards; a click in
    // between must not hand the main window a deleted record.
    QTreeWidgetItem* store = FindItem(Tree(), "Store");
    g_lstDevGroupInfo.remove_if([](const DevGroupInfo& g) { return std::strcmp(g.GroupName, "Store") == 0; });
    host->calls.clear();
    host->Click(store);
    EXPECT_EQ(host->calls, (std::vector<std::string>{"ShowDevGroupInfo none", "OnDevTreeSelDevice none"}));

    auto* plan = new RecScheme;
    std::strcpy(plan->SchemeName, "Night");
    g_lstRecSchemeInfo.push_back(plan);
    host->panel->ShowRecordStrategyTree();
    QTreeWidgetItem* item = FindItem(Tree(), "Night");
    host->Click(item);
    EXPECT_TRUE(host->Called("ShowRecScheme"));
    g_lstRecSchemeInfo.clear();
    delete plan;
    host->calls.clear();
    host->Click(item);
    EXPECT_TRUE(host->Actions().empty());
}

TEST_F(PanelTest, MapListShowsTheFirstMapAndClicksShowMaps)
{
    host->maps = {{"Site", ""}, {"Floor1", "Site"}};
    CDeviceListDlg* p = host->panel;
    p->Button(CDeviceListDlg::IDC_BTN_MAP_LIST)->show();
    QTest::mouseClick(p->Button(CDeviceListDlg::IDC_BTN_MAP_LIST), Qt::LeftButton);
    EXPECT_EQ(p->m_nViewMode, 3);
    EXPECT_EQ(host->Actions(), std::vector<std::string>{"ShowMap Site"});
    EXPECT_EQ(Tree()->currentItem()->text(0), QString("Site"));
    host->Click(FindItem(Tree(), "Floor1"));
    EXPECT_EQ(host->Actions().back(), "ShowMap Floor1");
    host->calls.clear();
    host->Click(Tree()->topLevelItem(0)); // the root shows nothing
    EXPECT_TRUE(host->Actions().empty());
}

class RelayPanelTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        auto add = [&](int type, const char* ip, const char* name, int state) {
            RelayDevItem e;
            e.Type = type;
            std::strcpy(e.Ip, ip);
            std::strcpy(e.DevName, name);
            std::strcpy(e.Mac, "00:11");
            e.State = state;
            items.push_back(e);
        };
        add(0, "10.0.0.4", "DVSStream3", 1);
        add(4, "10.0.0.5", "Recorder", 1);
        add(4, "10.0.0.5", "Channel-12", 2);
        add(1, "10.0.0.6", "Offline", 0);
        Qelm2Node server;
        server.LoginId = 9;
        std::strcpy(server.DevName, "Relay1");
        server.pDevList = &items;
        g_lstRelayServer.push_back(server);
        g_DispInfoSetting.AutoSwitchStream = 0;
        host->panel->RefreshDevTree();
    }
    std::list<RelayDevItem> items;
};

TEST_F(RelayPanelTest, DropsAndDoubleClicksRequestChannelsByTheirRules)
{
    host->Drag(FindItem(Tree(), "Stream3"), host->PaneCenter());
    EXPECT_EQ(host->Actions(), (std::vector<std::string>{"EmptyPaneAt", "TS_InviteDeviceVideo 9 00:11:10.0.0.4 0 3",
                                                     "SetRelayTarget 0"}));
    host->calls.clear();
    host->Drag(FindItem(Tree(), "Channel-12"), host->PaneCenter()); // watched: its pane is closed first
    EXPECT_EQ(host->Actions(), (std::vector<std::string>{"EmptyPaneAt", "CloseRelayPaneOf Channel-12",
                                                     "TS_InviteDeviceVideo 9 00:11:10.0.0.5 0 12", "SetRelayTarget 0"}));
    host->calls.clear();
    host->DoubleClick(FindItem(Tree(), "Stream3")); // the double click reads after the first "-": none here
    EXPECT_EQ(host->Actions(), (std::vector<std::string>{"TS_InviteDeviceVideo 9 00:11:10.0.0.4 0 0"}));
    host->calls.clear();
    g_DispInfoSetting.AutoSwitchStream = 1; // 16 panes: no switch
    host->gridPanes = 4;
    host->DoubleClick(FindItem(Tree(), "Channel-12"));
    EXPECT_EQ(host->calls.back(), "TS_InviteDeviceVideo 9 00:11:10.0.0.5 1 12");
    host->calls.clear();
    host->DoubleClick(FindItem(Tree(), "Offline"));
    EXPECT_EQ(host->MsgText(), "The device offline,can't do the operation!");
    EXPECT_EQ(host->invites, 4);
}

TEST_F(RelayPanelTest, RelayGroupPlayRequestsOnlineEntries)
{
    host->Click(FindItem(Tree(), "Relay1"), Qt::RightButton);
    ASSERT_NE(host->panel->CurrentMenu(), nullptr);
    host->panel->CurrentMenu()->actions().front()->trigger();
    EXPECT_EQ(host->Actions(), (std::vector<std::string>{"EmptyAllPanes", "TS_InviteDeviceVideo 9 00:11:10.0.0.4 0 0",
                                                         "TS_InviteDeviceVideo 9 00:11:10.0.0.5 0 12"}));
}

TEST_F(RelayPanelTest, RelayGroupPlayCountsEveryExtensionGrid)
{
    // Five grids of one pane each take five channels; the sixth waits.
    items.clear();
    for (int i = 1; i <= 6; ++i) {
        RelayDevItem e;
        e.Type = 1;
        std::snprintf(e.Ip, sizeof e.Ip, "10.0.1.%d", i);
        std::snprintf(e.DevName, sizeof e.DevName, "Cam%d", i);
        std::strcpy(e.Mac, "00:11");
        e.State = 1;
        items.push_back(e);
    }
    host->panel->RefreshDevTree();
    g_DispInfoSetting.MonitorMode = 1;
    host->grids = 5;
    host->gridPanes = 1;
    host->Click(FindItem(Tree(), "Relay1"), Qt::RightButton);
    ASSERT_NE(host->panel->CurrentMenu(), nullptr);
    host->panel->CurrentMenu()->actions().front()->trigger();
    EXPECT_EQ(host->invites, 5);
    EXPECT_FALSE(host->Called("TS_InviteDeviceVideo 9 00:11:10.0.1.6 0 0"));
}

TEST_F(RelayPanelTest, RightClickMenusByPageAndItem)
{
    auto menuTexts = [&] {
        std::vector<std::string> out;
        if (QMenu* m = host->panel->CurrentMenu())
            for (QAction* a : m->actions())
                out.push_back(a->text().toStdString());
        return out;
    };
    auto closeMenu = [&] {
        if (QMenu* m = host->panel->CurrentMenu())
            m->close();
        QApplication::processEvents();
    };
    // Live page: a group, a relay server.
    host->Click(FindItem(Tree(), "Gate"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"Auto play the group's device"});
    EXPECT_EQ(host->panel->m_hCurGroupItem, FindItem(Tree(), "Gate"));
    closeMenu();
    host->Click(FindItem(Tree(), "Relay1"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"Auto play the group's device"});
    closeMenu();
    host->Click(FindItem(Tree(), "Cam2"), Qt::RightButton);
    EXPECT_TRUE(menuTexts().empty());
    // Configuration page, devices: groups sort and delete, rows move, channels rename.
    g_nCurPage = 3;
    g_nCfgSubPage = 0;
    host->panel->RefreshDevTree();
    host->Click(FindItem(Tree(), "Default"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), (std::vector<std::string>{"Sort Ascending", "Sort Descending", "Delete All"}));
    closeMenu();
    host->Click(FindItem(Tree(), "Cam2"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), (std::vector<std::string>{"Move Up", "Move Down"}));
    closeMenu();
    host->Click(FindItem(Tree(), "Channel-3"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"Modify Alias"});
    closeMenu();
    // Live page in cloud-login mode: rename for devices, not for channels.
    g_nCurPage = 0;
    g_DispInfoSetting.LoginType = 1;
    host->panel->RefreshDevTree();
    host->Click(FindItem(Tree(), "Cam2"), Qt::RightButton);
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"Modify Alias"});
    EXPECT_EQ(g_strRClickText, "Cam2");
    closeMenu();
    host->Click(FindItem(Tree(), "Channel-3"), Qt::RightButton);
    EXPECT_TRUE(menuTexts().empty());
}

} // namespace
