// The configuration manager in a test window: children, layout, sub-page
// switches, the tool bar's refusals and the default-plan button.
#include "controls/control_registry.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devconfig/setting_dev_info_dlg.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "mainwnd/empty_page.h"
#include "settings/setting_record_dlg.h"
#include "settings/setting_user_info_dlg.h"
#include "mainwnd/login_globals.h"
#include "res/strings.h"
#include "settings/cfg_manager_dlg.h"
#include "settings/config_tool_dlg.h"
#include "tests/core/config_globals.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QGroupBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

// A stand-in main window.
class HostWnd : public CWnd {
public:
    HostWnd() { CreateHandle(); }
};

class Services : public IDeviceServices {
public:
    std::vector<int> flags;
    void SetDefaultRecordFlag(int f) override { flags.push_back(f); }
};

class ManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        cfgtest::ResetConfigGlobals();
        g_nCfgSubPage = -1;
        g_nLanguage = 1;
        std::strcpy(g_szLoginUser, "admin");
        for (auto& r : g_UserRights)
            r = 1;
        ASSERT_TRUE(dir.isValid());
        SetConfigDir(dir.path().toStdString() + "/");
        std::ofstream(dir.filePath("RecInfo.xml").toStdString()) << kRecInfoTemplate;
        std::ofstream(dir.filePath("DevInfo.xml").toStdString()) << kDevInfoTemplate;
        SetDeviceServices(&services);
    }
    void TearDown() override
    {
        manager.reset();
        host.reset();
        SetDeviceServices(nullptr);
        DeleteDeviceSinks();
        cfgtest::ResetConfigGlobals();
        g_nCfgSubPage = -1;
        g_nLanguage = 1;
        SetConfigDir("");
    }
    void Build(int w = 1006, int h = 700)
    {
        host = std::make_unique<HostWnd>();
        host->resize(w + 20, h + 60);
        manager = std::make_unique<CCfgManagerDlg>(CRect(10, 51, 10 + w, 51 + h), host.get());
        manager->Create(CCfgManagerDlg::IDD, host.get());
        manager->MoveWindow(manager->Placement());
        manager->show();
        host->show();
        QApplication::processEvents();
    }
    RecScheme* Plan(const char* name, int on)
    {
        auto* p = new RecScheme;
        std::strcpy(p->SchemeName, name);
        p->OnOff = on;
        g_lstRecSchemeInfo.push_back(p);
        return p;
    }
    bool Shown(QWidget* w) const { return w && w->isVisible(); }
    std::string ToolMsg() const
    {
        return manager->DeviceForm()->MsgDlg()->GetDlgItemText(CResMsgDlg::IDC_TEXT);
    }

    QTemporaryDir dir;
    Services services;
    std::unique_ptr<HostWnd> host;
    std::unique_ptr<CCfgManagerDlg> manager;
};

TEST_F(ManagerTest, ChildrenAreCreatedOnceAndLaidOutByTheTable)
{
    Build(1006, 700);
    using M = CCfgManagerDlg;
    for (M::SubPage k : {M::kUserTree, M::kUserForm, M::kRecordForm, M::kRemoteConfig, M::kMaintenance,
                         M::kRecordConfig})
        ASSERT_NE(manager->Page(k), nullptr) << k;
    EXPECT_NE(dynamic_cast<CSettingRecordDlg*>(manager->Page(M::kRecordForm)), nullptr);
    EXPECT_NE(dynamic_cast<CSettingUserInfoDlg*>(manager->Page(M::kUserForm)), nullptr);
    EXPECT_TRUE(manager->HasRecordPage());
    EXPECT_EQ(PageClassName(manager->Page(M::kMaintenance)), "CSettingMaintDlg");
    EXPECT_FALSE(manager->DevicePanel()->GetDlgItem(CDeviceListDlg::IDC_BTN_MAP_LIST)->isEnabled());
    struct Case {
        QWidget* w;
        QRect r;
    };
    const Case cases[] = {
        {manager->ToolBar(), QRect(0, 0, 1006, 40)},
        {manager->DevicePanel(), QRect(0, 40, 220, 660)},
        {manager->Page(M::kUserTree), QRect(0, 40, 220, 660)},
        {manager->DefaultRecordButton(), QRect(230, 45, 77, 28)},
        {manager->RecordDetailButton(), QRect(309, 45, 77, 28)},
        {manager->Page(M::kRecordForm), QRect(225, 80, 781, 610)},
        {manager->DeviceForm(), QRect(225, 40, 781, 660)},
        {manager->Page(M::kMaintenance), QRect(225, 40, 781, 660)},
        {manager->Page(M::kRecordConfig), QRect(225, 40, 781, 660)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.w->geometry(), c.r) << c.w->metaObject()->className();
    EXPECT_EQ(manager->PageArea(), CRect(225, 40, 1006, 700));

    // A move while it sits in the main window puts it back.
    manager->MoveWindow(50, 50, 400, 300);
    QApplication::processEvents();
    EXPECT_EQ(manager->geometry(), manager->Placement().ToQ());

    manager->ResizeForMainWindow(0);
    EXPECT_EQ(manager->Placement(), CRect(10, CCfgManagerDlg::PlacementTop(host->height()), 1016, 758));
    EXPECT_EQ(CCfgManagerDlg::PlacementTop(768), 51);
}

TEST_F(ManagerTest, SwitchesShowAndHideByTheTable)
{
    Build();
    using M = CCfgManagerDlg;
    struct Case {
        void (M::*sw)();
        int sub;
        bool panel, userTree, devForm, userForm, remote, maint, buttons;
    };
    const Case cases[] = {
        {&M::ShowDevicePage, 0, true, false, true, false, false, false, false},
        {&M::ShowUserPage, 1, false, true, false, true, false, false, false},
        {&M::ShowRecordPage, 2, true, false, false, false, false, false, true},
        {&M::ShowRemoteConfigPage, 3, true, false, false, false, true, false, false},
        {&M::ShowMaintenancePage, 4, true, false, false, false, false, true, false},
        {&M::ShowDevicePage, 0, true, false, true, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sub);
        (manager.get()->*c.sw)();
        EXPECT_EQ(g_nCfgSubPage, c.sub);
        EXPECT_EQ(Shown(manager->DevicePanel()), c.panel);
        EXPECT_EQ(Shown(manager->Page(M::kUserTree)), c.userTree);
        EXPECT_EQ(Shown(manager->DeviceForm()), c.devForm);
        EXPECT_EQ(Shown(manager->Page(M::kUserForm)), c.userForm);
        EXPECT_EQ(Shown(manager->Page(M::kRemoteConfig)), c.remote);
        EXPECT_EQ(Shown(manager->Page(M::kMaintenance)), c.maint);
        EXPECT_EQ(Shown(manager->DefaultRecordButton()), c.buttons);
        EXPECT_EQ(Shown(manager->RecordDetailButton()), c.buttons);
        EXPECT_FALSE(Shown(manager->Page(M::kRecordForm))); // only Detail shows it
        EXPECT_FALSE(Shown(manager->Page(M::kRecordConfig)));
    }
    manager->ShowRecordPage();
    manager->OnBnClickedBtnRecordDetail();
    EXPECT_TRUE(Shown(manager->Page(M::kRecordForm)));
    EXPECT_EQ(manager->Page(M::kRecordForm)->geometry(), QRect(225, 80, manager->PageArea().Width(),
                                                               manager->PageArea().Height() - 50));
}

TEST_F(ManagerTest, DevicePageResetsThePanelOnlyAfterUsersPlansOrTheFirstTime)
{
    Build();
    struct Case {
        int previous;
        int viewAfter;
    };
    for (const Case& c : {Case{-1, 1}, Case{1, 1}, Case{2, 1}, Case{3, 2}, Case{4, 2}}) {
        SCOPED_TRACE(c.previous);
        manager->DevicePanel()->OnBnClickedBtnOnlineGroup();
        ASSERT_EQ(manager->DevicePanel()->m_nViewMode, 2);
        g_nCfgSubPage = c.previous;
        manager->ShowDevicePage();
        EXPECT_EQ(manager->DevicePanel()->m_nViewMode, c.viewAfter);
    }
}

TEST_F(ManagerTest, ToolBarRefusalsAndMarks)
{
    Build();
    CConfigToolDlg* bar = manager->ToolBar();
    manager->ShowDevicePage();
    struct Case {
        const char* user;
        int recordRight;
        UINT button;
        unsigned msg; // 0: switched
        int sub;
    };
    const Case cases[] = {
        {"Admin", 1, CConfigToolDlg::IDC_BTN_USER, 556, 0}, // exactly "admin"
        {"admin", 0, CConfigToolDlg::IDC_BTN_RECORD, 285, 0},
        {"admin", 1, CConfigToolDlg::IDC_BTN_RECORD, 0, 2},
        {"admin", 1, CConfigToolDlg::IDC_BTN_USER, 0, 1},
        {"guest", 1, CConfigToolDlg::IDC_BTN_MAINT, 0, 4},
        {"guest", 1, CConfigToolDlg::IDC_BTN_ALARM_LINK, 0, 4},
        {"guest", 1, CConfigToolDlg::IDC_BTN_DEVICE, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        std::strcpy(g_szLoginUser, c.user);
        g_UserRights[kRightRecord] = c.recordRight;
        manager->DeviceForm()->MsgDlg()->SetDlgItemText(CResMsgDlg::IDC_TEXT, "");
        bar->Button(c.button)->click();
        EXPECT_EQ(ToolMsg(), c.msg ? LoadResString(c.msg) : "");
        EXPECT_EQ(g_nCfgSubPage, c.sub);
    }
    EXPECT_EQ(bar->Button(CConfigToolDlg::IDC_BTN_DEVICE)->GetTextColor(), 0x2171F7u);
    EXPECT_EQ(bar->Button(CConfigToolDlg::IDC_BTN_MAINT)->GetTextColor(), 0u);
}

TEST_F(ManagerTest, ToolBarButtonsByLanguageAndLoginType)
{
    struct Case {
        int language, loginType;
        int width;
        bool deviceEnabled;
    };
    for (const Case& c : {Case{1, 0, 80, true}, Case{3, 1, 160, false}}) {
        SCOPED_TRACE(c.language);
        g_nLanguage = c.language;
        g_DispInfoSetting.LoginType = c.loginType;
        manager.reset();
        Build();
        CConfigToolDlg* bar = manager->ToolBar();
        const UINT order[] = {CConfigToolDlg::IDC_BTN_DEVICE, CConfigToolDlg::IDC_BTN_USER,
                              CConfigToolDlg::IDC_BTN_RECORD, CConfigToolDlg::IDC_BTN_REMOTE,
                              CConfigToolDlg::IDC_BTN_MAINT,  CConfigToolDlg::IDC_BTN_ALARM_LINK};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(bar->Button(order[i])->geometry(), QRect(20 + i * (c.width + 5), 5, c.width, 28)) << i;
        for (UINT id : {CConfigToolDlg::IDC_BTN_DEVICE, CConfigToolDlg::IDC_BTN_USER, CConfigToolDlg::IDC_BTN_REMOTE,
                        CConfigToolDlg::IDC_BTN_MAINT})
            EXPECT_EQ(bar->Button(id)->isEnabled(), c.deviceEnabled);
        EXPECT_TRUE(bar->Button(CConfigToolDlg::IDC_BTN_RECORD)->isEnabled());
        EXPECT_TRUE(bar->Button(CConfigToolDlg::IDC_BTN_ALARM_LINK)->isEnabled());
    }
}

TEST_F(ManagerTest, DefaultPlanButtonTogglesAndSaves)
{
    Plan("Night", 1);
    RecScheme* def = Plan("Default Strategy", 1);
    Build();
    EXPECT_EQ(manager->DefaultRecordButton()->GetButtonTextW(), LoadResStringW(253));
    manager->DefaultRecordButton()->click();
    EXPECT_EQ(def->OnOff, 0);
    EXPECT_EQ(manager->DefaultRecordButton()->GetButtonTextW(), LoadResStringW(252));
    EXPECT_EQ(services.flags, std::vector<int>{0});
    // Kept on disk at once, not only at exit.
    std::ifstream in(dir.filePath("RecInfo.xml").toStdString());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Default Strategy"), std::string::npos);

    manager->DefaultRecordButton()->click();
    EXPECT_EQ(def->OnOff, 1);
    EXPECT_EQ(services.flags, (std::vector<int>{0, 1}));
}

TEST_F(ManagerTest, WithoutADefaultPlanOnlyTheFlagIsRecomputed)
{
    RecScheme* other = Plan("Night", 0);
    Build();
    EXPECT_EQ(manager->DefaultRecordButton()->GetButtonTextW(), LoadResStringW(252));
    manager->DefaultRecordButton()->click();
    EXPECT_EQ(other->OnOff, 0);
    EXPECT_EQ(manager->DefaultRecordButton()->GetButtonTextW(), LoadResStringW(252));
    EXPECT_EQ(services.flags, std::vector<int>{0});
}

TEST_F(ManagerTest, PageFactoryBuildsTheManager)
{
    RegisterCfgManagerPage();
    HostWnd parent;
    parent.resize(1280, 768);
    std::unique_ptr<CDialog> page(CreateRegisteredPage("CCfgManagerDlg", &parent));
    ASSERT_NE(dynamic_cast<CCfgManagerDlg*>(page.get()), nullptr);
    EXPECT_EQ(static_cast<CCfgManagerDlg*>(page.get())->Placement().top, 51);
    RegisterPageFactory("CCfgManagerDlg", nullptr);
}

} // namespace

namespace {

// At both screen sizes the device form's controls stay inside the page and
// do not cover one another. QELM2_SHOT_DIR keeps the pictures for a look.
TEST_F(ManagerTest, DeviceFormFitsAtBothScreenSizes)
{
    struct Case {
        int screenW, screenH;
    };
    for (const Case& c : {Case{1920, 1080}, Case{1024, 768}}) {
        SCOPED_TRACE(c.screenW);
        manager.reset();
        const int top = CCfgManagerDlg::PlacementTop(c.screenH);
        Build(c.screenW - 8 - 10, c.screenH - 10 - top);
        manager->ShowDevicePage();
        QApplication::processEvents();
        CSettingDevInfoDlg* form = manager->DeviceForm();
        const QRect inside = form->rect();
        std::vector<QWidget*> controls;
        for (QWidget* w : form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (w->isVisible() && !qobject_cast<QGroupBox*>(w))
                controls.push_back(w);
        ASSERT_GT(controls.size(), 50u);
        for (std::size_t i = 0; i < controls.size(); ++i) {
            EXPECT_TRUE(inside.contains(controls[i]->geometry())) << controls[i]->objectName().toStdString();
            for (std::size_t j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << controls[i]->objectName().toStdString() << " " << controls[j]->objectName().toStdString();
        }
        if (const char* shots = std::getenv("QELM2_SHOT_DIR")) {
            const QString base = QString("%1/cfg_%2x%3").arg(shots).arg(c.screenW).arg(c.screenH);
            manager->grab().save(base + "_manager.png");
            form->grab().save(base + "_devform.png");
        }
    }
}

} // namespace
