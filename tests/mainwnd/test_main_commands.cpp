// The main window's commands: the key filter (Enter, Space, Escape on a
// locked screen, Alt+F4 on key messages only), the settings menu against
// UserInfo.xml and the registry, the help files' order, the About text, the
// PTZ button's refusals, maximise while a page sits on a monitor, minimise
// and dragging the restored window.
#include "controls/journal.h"
#include "controls/onvif.h"
#include "controls/shell_execute.h"
#include "core/app_init.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "platform/registry.h"
#include "platform/wnd.h"
#include "res/strings.h"
#include "tests/core/config_globals.h"
#include "tests/support/fake_onvif_camera.h"
#include "tests/support/watch_lock.h"
#include "ui/res_msg_dlg.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
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

// Opens the protected pre-translation step for the filter's table.
class OpenDlg : public CIPCClientDlg {
public:
    using CIPCClientDlg::PreTranslateMessage;
};

class MainCommandsTest : public ::testing::Test {
protected:
    qelmtest::WatchLock m_watchLock;

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
        g_bAutoRun = 0;
        ASSERT_TRUE(m_dir.isValid());
        m_config = m_dir.filePath("Config/").toStdString();
        QDir().mkpath(QString::fromStdString(m_config));
        SetConfigDir(m_config);
        setenv("QELM2_DATA", m_dir.path().toUtf8().constData(), 1);
        qelm::SetRegistryHivePath(m_dir.filePath("Registry.xml").toStdString());
        qelm::ReloadRegistryHive();
        CloseLog();
        ASSERT_EQ(OpenLog(m_dir.filePath("clientlog.txt").toUtf8().constData()), 0);
    }

    void TearDown() override
    {
        if (m_dlg) {
            m_dlg->ExitApp();
            EXPECT_TRUE(WaitFor([this] { return m_dlg->MainGrid() == nullptr; }));
            delete m_dlg;
            m_dlg = nullptr;
        }
        CloseLog();
        CDevTree::GetInstance()->StopP2PStatusThread();
        SetShellOpener({});
        unsetenv("QELM2_JOURNAL");
        qelm::SetRegistryHivePath("");
        qelm::ReloadRegistryHive();
        SetConfigDir("");
        unsetenv("QELM2_DATA");
        g_bAutoRun = 0;
        g_nLanguage = 1;
        g_nScreenWidth = 1024;
        g_nScreenHeight = 768;
        g_nLayoutHeight = 768;
        g_nCurPage = 0;
    }

    OpenDlg* Open()
    {
        m_dlg = new OpenDlg;
        m_dlg->m_fnVerifyLogin = [this](int unlock) {
            m_verifies.push_back(unlock);
            return m_verifyAnswer;
        };
        m_dlg->Create(CIPCClientDlg::IDD, nullptr);
        m_dlg->show();
        QApplication::processEvents();
        return m_dlg;
    }

    std::string MsgText() const
    {
        auto* label = m_dlg->MsgDlg()->findChild<QLabel*>(QStringLiteral("id:1284"));
        return label ? label->text().toStdString() : std::string();
    }

    static bool AutoRunValueStored()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return false;
        char data[1024] = {};
        DWORD size = sizeof data;
        const bool found = RegQueryValueExA(key, kRunValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
                           ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }

    QTemporaryDir m_dir;
    std::string m_config;
    OpenDlg* m_dlg = nullptr;
    std::vector<int> m_verifies;
    int m_verifyAnswer = IDOK;
};

TEST_F(MainCommandsTest, KeyFilterConsumesOnlyTheClosingKeys)
{
    Open();
    auto* edit = new QLineEdit(m_dlg);
    qelm::SetControlId(edit, 4711);
    const HWND main = m_dlg->m_hWnd;
    const HWND field = qelm::HandleOf(edit);
    const HWND page = m_dlg->MainGrid()->m_hWnd;
    const LPARAM alt = LPARAM(1) << 29;
    struct Case {
        const char* what;
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        BOOL consumed;
    } cases[] = {
        {"Enter", main, WM_KEYDOWN, VK_RETURN, 0, TRUE},
        {"Space on a button", main, WM_KEYDOWN, VK_SPACE, 0, TRUE},
        {"Space typed into a text field", field, WM_KEYDOWN, VK_SPACE, 0, FALSE},
        {"Alt+F4", main, WM_KEYDOWN, VK_F4, alt, TRUE},
        {"Alt+F4 as a system key", main, WM_SYSKEYDOWN, VK_F4, alt, TRUE},
        {"F4 alone", main, WM_KEYDOWN, VK_F4, 0, FALSE},
        // A page's own message whose numbers look like Alt+F4: device handle 115 and
        // a heap text whose address has bit 29.
        {"posted message with 115 and bit 29", page, WM_USER + 5202, 115, alt | 0x1000, FALSE},
        {"main-window message with 115 and bit 29", main, WM_USER + 7777, 115, alt, FALSE},
    };
    for (const Case& c : cases) {
        MSG msg{};
        msg.hwnd = c.hwnd;
        msg.message = c.message;
        msg.wParam = c.wParam;
        msg.lParam = c.lParam;
        EXPECT_EQ(m_dlg->PreTranslateMessage(&msg), c.consumed) << c.what;
    }
    // A real Alt+F4 through the window layer leaves the window as it is.
    QTest::keyClick(m_dlg, Qt::Key_F4, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_NE(m_dlg->MainGrid(), nullptr);
}

TEST_F(MainCommandsTest, EscapeOnALockedScreenAsksForThePassword)
{
    Open();
    CVideoManagerDlg* grid = m_dlg->MainGrid();
    grid->LockScreen();
    MSG esc{};
    esc.hwnd = m_dlg->m_hWnd;
    esc.message = WM_KEYDOWN;
    esc.wParam = VK_ESCAPE;
    m_verifyAnswer = IDCANCEL;
    EXPECT_TRUE(m_dlg->PreTranslateMessage(&esc));
    EXPECT_EQ(grid->IsScreenLocked(), 1) << "cancelling keeps the lock";
    m_verifyAnswer = IDOK;
    EXPECT_TRUE(m_dlg->PreTranslateMessage(&esc));
    EXPECT_EQ(grid->IsScreenLocked(), 0);
    EXPECT_EQ(m_verifies, (std::vector<int>{1, 1}));
    // Unlocked: Escape goes to the grid and asks nothing.
    EXPECT_TRUE(m_dlg->PreTranslateMessage(&esc));
    EXPECT_EQ(m_verifies.size(), 2u);
}

TEST_F(MainCommandsTest, SettingsMenuFollowsTheSwitchesAndTheRights)
{
    struct Case {
        int autoLogin, autoRun, userManager;
    } cases[] = {{0, 0, 1}, {1, 0, 0}, {1, 1, 1}};
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.autoLogin << c.autoRun << c.userManager);
        g_bAutoLogin = c.autoLogin;
        g_bAutoRun = c.autoRun;
        g_UserRights[kRightUserManager] = c.userManager;
        QMenu* menu = m_dlg->BuildSettingsMenu(m_dlg);
        m_dlg->OnInitMenuPopup(menu);
        std::vector<std::pair<UINT, QAction*>> items;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                items.emplace_back(a->data().toUInt(), a);
        ASSERT_EQ(items.size(), 5u);
        const UINT order[] = {32776, 32774, 32882, 32778, 32772};
        const UINT strings[] = {860, 861, 1050, 863, 862};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(items[i].first, order[i]);
            EXPECT_EQ(items[i].second->text().toStdString(), LoadResString(strings[i]));
        }
        EXPECT_EQ(items[0].second->isChecked(), c.autoLogin == 1);
        EXPECT_EQ(items[1].second->isChecked(), c.autoRun == 1);
        EXPECT_EQ(items[2].second->isEnabled(), c.userManager == 1);
        EXPECT_TRUE(items[3].second->isEnabled());
        delete menu;
    }
}

TEST_F(MainCommandsTest, AutoStartAndAutoLoginAreCoupled)
{
    LoadUserInfo(); // the file the switches are saved into (the template)
    _LOGIN_INFO older{}, last{};
    std::snprintf(older.UserName, sizeof older.UserName, "%s", "guard");
    std::snprintf(last.UserName, sizeof last.UserName, "%s", "admin");
    std::snprintf(last.Password, sizeof last.Password, "%s", "21232F297A57A5A743894A0E4A801FC3");
    last.LastUsingFlg = 1;
    g_lstLoginInfo = {older, last};
    g_bAutoLogin = 0;
    Open();

    m_dlg->OnAutoStart();
    EXPECT_EQ(g_bAutoRun, 1);
    EXPECT_EQ(g_bAutoLogin, 1);
    EXPECT_EQ(g_lstLoginInfo.back().SaveFlg, 1);
    EXPECT_EQ(g_lstLoginInfo.front().SaveFlg, 0);
    EXPECT_TRUE(AutoRunValueStored());
    std::string file = ReadAll(m_config + "UserInfo.xml");
    EXPECT_NE(file.find("<AutoLogin>1</AutoLogin>"), std::string::npos) << file;
    EXPECT_NE(file.find("21232F297A57A5A743894A0E4A801FC3"), std::string::npos) << "the last user's password is kept";

    m_dlg->OnAutoLogin();
    EXPECT_EQ(g_bAutoLogin, 0);
    EXPECT_EQ(g_bAutoRun, 0);
    EXPECT_FALSE(AutoRunValueStored());
    file = ReadAll(m_config + "UserInfo.xml");
    EXPECT_NE(file.find("<AutoLogin>0</AutoLogin>"), std::string::npos) << file;

    // Auto-start off leaves the automatic login alone.
    m_dlg->OnAutoLogin();
    m_dlg->OnAutoStart();
    ASSERT_EQ(g_bAutoRun, 1);
    m_dlg->OnAutoStart();
    EXPECT_EQ(g_bAutoRun, 0);
    EXPECT_EQ(g_bAutoLogin, 1);
    EXPECT_FALSE(AutoRunValueStored());
}

TEST_F(MainCommandsTest, HelpTriesChmThenPdfThenDoc)
{
    struct Lang {
        int index;
        const char* suffix;
    } langs[] = {{0, "CH"}, {1, "EN"}, {2, "TC"}, {3, "RS"}, {4, "EN"}, {6, "EN"}};
    for (const Lang& l : langs) {
        const std::vector<std::string> names = CIPCClientDlg::HelpFiles(l.index);
        const std::string dir = GetAppDir();
        EXPECT_EQ(names, (std::vector<std::string>{dir + l.suffix + ".chm", dir + l.suffix + ".pdf",
                                                   dir + l.suffix + ".doc"}))
            << l.index;
    }

    const std::string journal = m_dir.filePath("journal.txt").toStdString();
    setenv("QELM2_JOURNAL", journal.c_str(), 1);
    std::vector<std::string> opened;
    SetShellOpener([&](const std::string& file, const std::string&) {
        opened.push_back(file);
        return intptr_t(42);
    });
    Open();
    g_nLanguage = 3;
    const std::vector<std::string> names = CIPCClientDlg::HelpFiles(3);
    auto tried = [&] {
        std::vector<std::pair<std::string, std::string>> calls;
        std::ifstream f(journal);
        for (std::string line; std::getline(f, line);) {
            const std::vector<std::string> fields = qelm::Journal::ParseLine(line);
            if (fields.size() >= 4 && fields[1] == "ShellExecuteA")
                calls.emplace_back(fields[3], fields.back());
        }
        std::remove(journal.c_str());
        return calls;
    };

    // None of the three: each is tried, nothing opens, the message says so
    // and the window is left as it was.
    m_dlg->OnHelp();
    QApplication::processEvents();
    EXPECT_EQ(tried(), (std::vector<std::pair<std::string, std::string>>{
                           {names[0], "=2"}, {names[1], "=2"}, {names[2], "=2"}}));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 0);
    EXPECT_FALSE(m_dlg->isMinimized());
    EXPECT_TRUE(m_dlg->MsgDlg()->isVisible());
    EXPECT_EQ(MsgText(), LoadResString(1570));
    m_dlg->MsgDlg()->hide();

    // Only the .pdf exists: the .doc is never tried; the window makes room
    // for the viewer and no message shows.
    { std::ofstream(names[1]) << "%PDF-1.4\n"; }
    m_dlg->OnHelp();
    std::remove(names[1].c_str());
    EXPECT_EQ(tried(), (std::vector<std::pair<std::string, std::string>>{{names[0], "=2"}, {names[1], "=42"}}));
    EXPECT_EQ(opened, std::vector<std::string>{names[1]});
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 1);
    EXPECT_FALSE(m_dlg->MsgDlg()->isVisible());
}

TEST_F(MainCommandsTest, AboutShowsTheVersion)
{
    const std::string label = LoadResString(259);
    struct Case {
        const char* fileVersion;
        std::string text;
    } cases[] = {
        {"5.2.0.7", label + ":5.2.0.7"},
        {nullptr, label + ":1.0.0"}, // no version information in the program file
        {"", label + ":5.0.0.3"},    // an empty version text
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CIPCClientDlg::AboutText(c.fileVersion), c.text);
        EXPECT_EQ(g_strVersion, c.fileVersion ? c.fileVersion : "1.0.0");
    }
    Open();
    m_dlg->OnAbout();
    EXPECT_EQ(MsgText().rfind(label + ":", 0), 0u) << MsgText();
    EXPECT_TRUE(m_dlg->MsgDlg()->isVisible());
}

TEST_F(MainCommandsTest, PtzButtonRefusals)
{
    Open();
    QWidget* ptz = m_dlg->Page("CPTZDlg");
    ASSERT_NE(ptz, nullptr);
    ptz->hide();
    struct Case {
        int right;
        UINT message;
    } cases[] = {{0, 284}, {1, 1497}}; // no PTZ right; a pane that shows nothing
    for (const Case& c : cases) {
        g_UserRights[kRightPTZ] = c.right;
        m_dlg->MsgDlg()->hide();
        m_dlg->OnBnClickedPtz();
        EXPECT_EQ(MsgText(), QString::fromStdWString(LoadResStringW(c.message)).toStdString()) << c.message;
        EXPECT_FALSE(ptz->isVisible()) << c.message;
    }
    EXPECT_TRUE(m_dlg->PtzPresets().empty());
}

TEST_F(MainCommandsTest, OnvifPresetsFillTheListInOrder)
{
    fakeonvif::Camera cam;
    cam.Start();
    ASSERT_GT(cam.Port(), 0);
    DeviceInfo dev{};
    dev.OnvifDev = 1;
    std::snprintf(dev.LoginName, sizeof dev.LoginName, "%s", "admin");
    std::snprintf(dev.LoginPsw, sizeof dev.LoginPsw, "%s", "secret");
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", &dev.OnvifInfo), 0);
    Open();
    std::list<std::string> presets = {"stale"};
    EXPECT_EQ(m_dlg->GetOnvifPresets(nullptr, presets), -1);
    EXPECT_EQ(presets, std::list<std::string>{"stale"});
    EXPECT_EQ(m_dlg->GetOnvifPresets(&dev, presets), 0);
    // The camera's third token does not fit an entry and is left out.
    EXPECT_EQ(presets, (std::list<std::string>{"1", "2"}));
    EXPECT_EQ(cam.Requests("GetPresets").size(), 1u);
}

TEST_F(MainCommandsTest, MaximiseIsIgnoredWhileAPageIsOnAMonitor)
{
    Open();
    const int before = m_dlg->IsMaximized();
    m_dlg->m_bPageOnMonitor = 1;
    m_dlg->OnBnClickedMaximize();
    EXPECT_EQ(m_dlg->IsMaximized(), before);
    m_dlg->m_bPageOnMonitor = 0;
    m_dlg->OnBnClickedMaximize();
    EXPECT_EQ(m_dlg->IsMaximized(), before ? 0 : 1);
    m_dlg->OnBnClickedMaximize();
    EXPECT_EQ(m_dlg->IsMaximized(), before);
}

TEST_F(MainCommandsTest, MinimiseAndRestoreSetTheFlag)
{
    Open();
    m_dlg->OnBnClickedMinimize();
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 1);
    m_dlg->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 0);
    m_dlg->OnSysCommand(0xF020);
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 1);
    m_dlg->OnSysCommand(0xF120);
    EXPECT_EQ(m_dlg->IsMinimizedFlag(), 0);
}

TEST_F(MainCommandsTest, TheRestoredWindowMovesWithADragOnItsBackground)
{
    Open();
    // An empty spot of the caption area, left of the title buttons.
    const QPoint spot(600, 10);
    auto drag = [this, spot] {
        const QPoint start = m_dlg->pos();
        QTest::mousePress(m_dlg, Qt::LeftButton, Qt::NoModifier, spot);
        const QPoint to = spot + QPoint(40, 30);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(m_dlg->mapToGlobal(to)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_dlg, &move);
        QTest::mouseRelease(m_dlg, Qt::LeftButton, Qt::NoModifier, spot + QPoint(40, 30));
        return m_dlg->pos() - start;
    };
    ASSERT_EQ(m_dlg->IsMaximized(), 1);
    EXPECT_EQ(drag(), QPoint(0, 0)) << "the maximised window stays";
    m_dlg->LayoutForWindowState(0);
    QApplication::processEvents();
    EXPECT_NE(drag(), QPoint(0, 0)) << "the restored window follows the drag";
}

} // namespace
