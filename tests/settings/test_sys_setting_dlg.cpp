// The system settings window: its tabs by login kind, its pages, the patrol
// page refreshed on every show, and keys and the close box that only hide.
#include "settings_test_util.h"

#include "liveview/patrol_tours.h"
#include "mainwnd/empty_page.h"
#include "media/dlg_broadcast.h"
#include "ptz/config_patrol.h"
#include "res/strings.h"
#include "settings/sys_setting_dlg.h"
#include "ui/report_ctrl.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QTabBar>

namespace {

class SysSettingTest : public settest::PageTest {
protected:
    std::unique_ptr<CSysSettingDlg> Make(int loginType)
    {
        g_DispInfoSetting.LoginType = loginType;
        auto dlg = std::make_unique<CSysSettingDlg>(host.get());
        dlg->Create(CSysSettingDlg::IDD, host.get());
        return dlg;
    }
    static std::vector<std::string> TabTexts(const CSysSettingDlg& dlg)
    {
        std::vector<std::string> texts;
        for (int i = 0; i < dlg.Tabs()->count(); ++i)
            texts.push_back(dlg.Tabs()->tabText(i).toStdString());
        return texts;
    }
};

} // namespace

TEST_F(SysSettingTest, EightTabsForLocalLoginsSixForCloudOnesAndEveryPageMade)
{
    for (int loginType : {0, 1}) {
        SCOPED_TRACE(loginType);
        auto dlg = Make(loginType);
        std::vector<std::string> expected;
        for (UINT id : {1052u, 1053u, 1054u, 1055u, 1056u, 294u, 1069u, 1059u})
            expected.push_back(LoadResString(id));
        if (loginType != 0)
            expected.resize(6);
        EXPECT_EQ(TabTexts(*dlg), expected);
        EXPECT_EQ(dlg->windowTitle().toStdString(), LoadResString(1050));
        EXPECT_NE(dynamic_cast<CConfigPatrol*>(dlg->GetPage(CSysSettingDlg::kPatrol)), nullptr);
        EXPECT_NE(dynamic_cast<CDlgBroadcast*>(dlg->GetPage(CSysSettingDlg::kBroadcast)), nullptr);
        EXPECT_EQ(PageClassName(dlg->GetPage(CSysSettingDlg::kForward)), "CForwardDlg");
        EXPECT_EQ(PageClassName(dlg->GetPage(CSysSettingDlg::kJoystick)), "CKbConfig");
        for (int p = 0; p < CSysSettingDlg::kPageCount; ++p) {
            QWidget* page = dlg->GetPage(static_cast<CSysSettingDlg::Page>(p));
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(page->parentWidget(), dlg.get());
            EXPECT_EQ(page->geometry().topLeft(), QPoint(10, 30));
        }
        // The patrol page offers its tours while it lives.
        EXPECT_EQ(&PatrolTours(), &static_cast<CConfigPatrol*>(dlg->GetPage(CSysSettingDlg::kPatrol))->Tours());
    }
    EXPECT_TRUE(PatrolTours().empty()); // withdrawn with the window
}

TEST_F(SysSettingTest, TabsShowTheirPageAndEveryShowRebuildsThePatrolRows)
{
    auto dlg = Make(0);
    dlg->show();
    auto* patrol = static_cast<CConfigPatrol*>(dlg->GetPage(CSysSettingDlg::kPatrol));
    dlg->Tabs()->setCurrentIndex(CSysSettingDlg::kPatrol);
    EXPECT_TRUE(patrol->isVisible());
    EXPECT_FALSE(dlg->GetPage(CSysSettingDlg::kStorage)->isVisible());

    // An unsaved row on another target goes when the window is shown again,
    // which brings the main screen's first pane back.
    auto* targets = patrol->findChild<QListWidget*>("id:1313");
    targets->setCurrentRow(5);
    EXPECT_STREQ(patrol->CurrentTarget(), "Player-6");
    patrol->PointList()->InsertItemWithImage(0, "", 1);
    dlg->hide();
    dlg->show();
    EXPECT_STREQ(patrol->CurrentTarget(), "Player-1");
    EXPECT_EQ(patrol->PointList()->GetItemCount(), 0);
}

TEST_F(SysSettingTest, KeysAndTheCloseBoxOnlyHide)
{
    auto dlg = Make(0);
    dlg->show();
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &press);
        EXPECT_TRUE(dlg->isVisible()) << key;
        QApplication::sendEvent(dlg->GetPage(CSysSettingDlg::kPatrol), &press);
        EXPECT_TRUE(dlg->isVisible()) << key;
    }
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_NE(dlg->GetPage(CSysSettingDlg::kPatrol), nullptr); // the pages stay
    dlg->show();
    EXPECT_TRUE(dlg->isVisible());
}
