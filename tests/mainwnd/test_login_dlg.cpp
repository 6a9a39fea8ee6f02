// The login dialog driven as an operator would: typed input and its
// messages, stored digests, automatic login, the verify and unlock modes,
// the watchdog on cancel, and a cloud login against a fake service.
#include "mainwnd/login_dlg.h"

#include "core/app_init.h"
#include "core/cloud_client.h"
#include "core/helpers.h"
#include "mainwnd/login_globals.h"
#include "res/strings.h"
#include "tests/core/config_test_util.h"
#include "tests/support/fake_cloud_server.h"
#include "ui/res_msg_dlg.h"
#include "tests/support/watch_lock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace {

constexpr int kStillOpen = 77;

std::string Digest(const char* text)
{
    char d[33];
    Md5HexUpper(text, d);
    return d;
}

User MakeUser(const char* name, const char* password, const char* role)
{
    User u{};
    std::strcpy(u.UserName, name);
    std::strcpy(u.Password, Digest(password).c_str());
    std::strcpy(u.RoleName, role);
    u.PwdIsDigest = 1;
    return u;
}

Role MakeRole(const char* name, int surPtz, int alarm)
{
    Role r{};
    std::strcpy(r.RoleName, name);
    r.SurPTZ = surPtz;
    r.Alarm = alarm;
    return r;
}

_LOGIN_INFO Entry(const char* name, int last, int save, const std::string& password)
{
    _LOGIN_INFO e{};
    std::strcpy(e.UserName, name);
    std::strcpy(e.Password, password.c_str());
    e.LastUsingFlg = last;
    e.SaveFlg = save;
    return e;
}

class LoginDlgTest : public cfgtest::ConfigTest {
protected:
    qelmtest::WatchLock m_watchLock; // closing ends the watchdog by name
    void SetUp() override
    {
        ConfigTest::SetUp();
        LoadUserInfo(); // the template file, so saves have a file to rewrite
        g_lstRoleInfo = {MakeRole("viewer", 1, 0), MakeRole("alarm", 0, 1)};
        g_lstUserInfo = {MakeUser("admin", "admin", "viewer"), MakeUser("al", "pw", "alarm"),
                         MakeUser("lost", "pw", "missing"), MakeUser("op", "opw", "viewer")};
        g_lstLoginInfo.clear();
        Reset();
    }
    void TearDown() override
    {
        Reset();
        ConfigTest::TearDown();
    }
    static void Reset()
    {
        g_bAutoLoginArg = 0;
        g_bAutoRun = 0;
        g_bUseLoginSvr = 0;
        g_szLoginPsw[0] = '\0';
        g_szUserName[0] = '\0';
        std::memset(g_UserRights, 0, sizeof g_UserRights);
    }

    // Runs the dialog modally; act runs inside its loop. A dialog act leaves
    // open ends with kStillOpen. m_shown: the message box's text, when shown.
    INT_PTR Run(CLoginDlg& dlg, const std::function<void(CLoginDlg&)>& act)
    {
        m_ran = false;
        m_shown.clear();
        QTimer timer, still;
        timer.setSingleShot(true);
        still.setSingleShot(true);
        // Runs only while the dialog's loop still runs.
        QObject::connect(&still, &QTimer::timeout, [&] { dlg.EndDialog(kStillOpen); });
        QObject::connect(&timer, &QTimer::timeout, [&] {
            m_ran = true;
            act(dlg);
            ReadMessage(dlg);
            still.start(0);
        });
        timer.start(0);
        const INT_PTR result = dlg.DoModal();
        timer.stop();
        still.stop();
        if (!m_ran)
            ReadMessage(dlg);
        return result;
    }
    void ReadMessage(CLoginDlg& dlg)
    {
        CResMsgDlg* box = dlg.GetMsgDlg();
        if (box && box->isVisible())
            m_shown = qelm::ControlText(box->GetDlgItem(CResMsgDlg::IDC_TEXT));
    }
    static void Type(CLoginDlg& dlg, const std::string& name, const std::string& password)
    {
        auto* combo = dlg.GetDlgItemT<QComboBox>(CLoginDlg::IDC_COMBO_USER);
        if (combo->isEnabled()) {
            combo->setEditText(QString());
            QTest::keyClicks(combo->lineEdit(), QString::fromStdString(name));
        }
        auto* edit = dlg.GetDlgItemT<QLineEdit>(CLoginDlg::IDC_EDIT_PSW);
        edit->selectAll();
        if (password.empty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, QString::fromStdString(password));
    }
    static void Login(CLoginDlg& dlg) { dlg.OnBnClickedOk(); }

    bool m_ran = false;
    std::string m_shown;
};

TEST_F(LoginDlgTest, EachCheckMessageByTypedInput)
{
    const std::string n33(33, 'n'), p33(33, 'p');
    struct Case {
        std::string name, password;
        UINT msg; // 0: logged in
    } cases[] = {
        {"", "x", 223},       {n33, "x", 233},      {"admin", "", 224}, {"admin", p33, 234},
        {"nobody", "x", 227}, {"admin", "bad", 226}, {"lost", "pw", 225}, {"  admin ", " admin ", 0},
    };
    for (const Case& c : cases) {
        Reset();
        CLoginDlg dlg(nullptr, 0, 0);
        const INT_PTR r = Run(dlg, [&](CLoginDlg& d) {
            Type(d, c.name, c.password);
            Login(d);
        });
        if (c.msg == 0) {
            EXPECT_EQ(r, IDOK) << c.name;
            EXPECT_STREQ(g_szLoginUser, "admin");
            EXPECT_EQ(std::string(g_szLoginPsw), Digest("admin"));
        } else {
            EXPECT_EQ(r, kStillOpen) << c.name;
            EXPECT_EQ(m_shown, LoadResString(c.msg)) << c.name << " / " << c.password;
        }
    }
}

TEST_F(LoginDlgTest, UserWithOnlyTheAlarmRightHasThoseRightsAndEnterLogsIn)
{
    CLoginDlg dlg(nullptr, 0, 0);
    const INT_PTR r = Run(dlg, [&](CLoginDlg& d) {
        Type(d, "al", "pw");
        QTest::keyClick(d.GetDlgItem(CLoginDlg::IDC_COMBO_USER), Qt::Key_Escape); // never closes
        ASSERT_TRUE(d.isVisible());
        QTest::keyClick(d.GetDlgItem(CLoginDlg::IDC_EDIT_PSW), Qt::Key_Return);
    });
    EXPECT_EQ(r, IDOK);
    EXPECT_EQ(std::vector<int>(g_UserRights, g_UserRights + 7), (std::vector<int>{0, 1, 0, 0, 0, 0, 0}));
    ASSERT_EQ(g_lstLoginInfo.size(), 1u);
    EXPECT_STREQ(g_lstLoginInfo.front().UserName, "al");
    EXPECT_NE(Read("UserInfo.xml").find("<UserName>al</UserName>"), std::string::npos) << "history saved";
}

TEST_F(LoginDlgTest, StoredDigestLogsInButTheSameTextTypedIsAPassword)
{
    g_lstLoginInfo = {Entry("op", 1, 1, Digest("opw"))};
    {
        CLoginDlg dlg(nullptr, 0, 0);
        EXPECT_EQ(Run(dlg, [](CLoginDlg& d) {
                      EXPECT_TRUE(d.IsDlgButtonChecked(CLoginDlg::IDC_CHECK_SAVE_PSW));
                      Login(d);
                  }),
                  IDOK);
    }
    Reset();
    CLoginDlg dlg(nullptr, 0, 0);
    EXPECT_EQ(Run(dlg, [](CLoginDlg& d) {
                  Type(d, "op", Digest("opw"));
                  Login(d);
              }),
              kStillOpen);
    EXPECT_EQ(m_shown, LoadResString(226));
}

TEST_F(LoginDlgTest, AutologinArgument)
{
    g_bAutoLoginArg = 1;
    // a saved entry: logged in before the dialog shows
    g_lstLoginInfo = {Entry("op", 1, 1, Digest("opw"))};
    {
        CLoginDlg dlg(nullptr, 0, 0);
        EXPECT_EQ(Run(dlg, [](CLoginDlg&) {}), IDOK);
        EXPECT_FALSE(m_ran);
        EXPECT_STREQ(g_szLoginUser, "op");
    }
    // an entry without a saved password (a restart by the watchdog after a
    // login that did not save it), and no history at all: the dialog shows
    // without an error box, waiting in the empty field; a password then
    // typed is hashed like any other
    struct Case {
        const char* name;
        std::list<_LOGIN_INFO> history;
        UINT waitsIn;
    } cases[] = {
        {"no saved password", {Entry("op", 1, 0, "")}, CLoginDlg::IDC_EDIT_PSW},
        {"no history", {}, CLoginDlg::IDC_COMBO_USER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        g_bAutoLoginArg = 1;
        g_lstLoginInfo = c.history;
        CLoginDlg dlg(nullptr, 0, 0);
        std::string first = "not read";
        QWidget* focus = nullptr;
        EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                      ReadMessage(d);
                      first = m_shown;
                      focus = d.focusWidget();
                      Type(d, "op", "opw");
                      Login(d);
                  }),
                  IDOK);
        EXPECT_EQ(first, "") << "no message box";
        QWidget* field = dlg.GetDlgItem(c.waitsIn);
        EXPECT_TRUE(focus == field || (focus && field->isAncestorOf(focus)));
        EXPECT_EQ(std::string(g_szLoginPsw), Digest("opw"));
    }
}

TEST_F(LoginDlgTest, AutomaticLoginWithAWrongStoredDigestShowsTheMessage)
{
    g_bAutoLogin = 1;
    g_lstLoginInfo = {Entry("op", 1, 1, Digest("old"))};
    CLoginDlg dlg(nullptr, 0, 0);
    std::string first;
    EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                  ReadMessage(d);
                  first = m_shown;
                  EXPECT_TRUE(d.IsDlgButtonChecked(CLoginDlg::IDC_CHECK_AUTO_LOGIN));
              }),
              kStillOpen);
    EXPECT_EQ(first, LoadResString(226));
}

TEST_F(LoginDlgTest, UnsavedPasswordIsNotStoredInTheHistory)
{
    CLoginDlg dlg(nullptr, 0, 0);
    EXPECT_EQ(Run(dlg, [](CLoginDlg& d) {
                  Type(d, "admin", "admin");
                  d.CheckDlgButton(CLoginDlg::IDC_CHECK_SAVE_PSW, 0);
                  Login(d);
              }),
              IDOK);
    ASSERT_EQ(g_lstLoginInfo.size(), 1u);
    EXPECT_STREQ(g_lstLoginInfo.front().Password, "");
    const std::string file = Read("UserInfo.xml");
    const std::size_t list = file.find("<LoginList>");
    ASSERT_NE(list, std::string::npos);
    EXPECT_EQ(file.substr(list, file.find("</LoginList>") - list).find(Digest("admin")), std::string::npos);
}

// A stand-in watchdog: a copy of sleep named "Watch" in the program folder.
class Watchdog {
public:
    Watchdog()
    {
        m_path = GetAppDir() + "Watch";
        std::filesystem::copy_file("/bin/sleep", m_path, std::filesystem::copy_options::overwrite_existing);
        m_pid = fork();
        if (m_pid == 0) {
            execl(m_path.c_str(), "Watch", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        // running once /proc shows our copy as its program
        for (int i = 0; i < 500; ++i) {
            std::error_code ec;
            if (std::filesystem::read_symlink("/proc/" + std::to_string(m_pid) + "/exe", ec) == m_path)
                break;
            usleep(10000);
        }
    }
    ~Watchdog()
    {
        if (Running())
            kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        std::filesystem::remove(m_path);
    }
    bool Running()
    {
        if (m_ended)
            return false;
        int status = 0;
        for (int i = 0; i < 200; ++i) { // a signal is delivered soon, not at once
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_ended = true;
                return false;
            }
            usleep(5000);
        }
        return true;
    }

private:
    std::string m_path;
    pid_t m_pid = -1;
    bool m_ended = false;
};

TEST_F(LoginDlgTest, VerifyModesCheckOnlyTheOperatorsTypedPasswordAndKeepTheWatchdog)
{
    std::strcpy(g_szLoginUser, "op");
    std::strcpy(g_szLoginPsw, Digest("opw").c_str());
    Watchdog watch;
    for (int unlock : {0, 1}) {
        SCOPED_TRACE(unlock);
        CLoginDlg dlg(nullptr, 1, unlock);
        EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                      auto* combo = d.GetDlgItemT<QComboBox>(CLoginDlg::IDC_COMBO_USER);
                      EXPECT_EQ(combo->currentText(), QStringLiteral("op"));
                      EXPECT_FALSE(combo->isEnabled());
                      EXPECT_EQ(d.GetDlgItem(CLoginDlg::IDC_CHECK_NO_PROMPT)->isVisible(), unlock == 0);
                      EXPECT_EQ(qelm::ControlText(d.GetDlgItem(CLoginDlg::IDC_BTN_LOGIN)),
                                LoadResString(unlock ? 291 : 271));
                      Type(d, "op", Digest("opw")); // the digest typed is a password
                      Login(d);
                  }),
                  kStillOpen);
        EXPECT_EQ(m_shown, LoadResString(226));
        CLoginDlg ok(nullptr, 1, unlock);
        EXPECT_EQ(Run(ok, [](CLoginDlg& d) {
                      Type(d, "op", "opw");
                      Login(d);
                  }),
                  IDOK);
        CLoginDlg cancel(nullptr, 1, unlock);
        EXPECT_EQ(Run(cancel, [](CLoginDlg& d) { d.OnBnClickedCancel(); }), IDCANCEL);
        EXPECT_TRUE(watch.Running()) << "the client keeps running, so does its watchdog";
    }
    CLoginDlg login(nullptr, 0, 0);
    EXPECT_EQ(Run(login, [](CLoginDlg& d) { d.OnBnClickedCancel(); }), IDCANCEL);
    EXPECT_FALSE(watch.Running()) << "giving up the login ends the watchdog";
}

// The exit confirmation takes the passwords the login takes: 32 characters
// are a password like any other, 33 are refused as too long, as at login.
TEST_F(LoginDlgTest, VerifyModeTakesTheLoginsPasswordLengths)
{
    const std::string p32(32, 'p'), p33(33, 'p');
    std::strcpy(g_szLoginUser, "op");
    struct Case {
        std::string stored, typed;
        int result;
        UINT msg; // shown when the dialog stays open
    } cases[] = {
        {p32, p32, IDOK, 0},
        {p32, p33, kStillOpen, 234},
        {p33, p33, kStillOpen, 234}, // never a password: the users page does not save it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.size());
        std::strcpy(g_szLoginPsw, Digest(c.stored.c_str()).c_str());
        m_shown.clear();
        CLoginDlg dlg(nullptr, 1, 0);
        EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                      Type(d, "op", c.typed);
                      Login(d);
                  }),
                  c.result);
        if (c.msg) {
            EXPECT_EQ(m_shown, LoadResString(c.msg));
        }
    }
}

TEST_F(LoginDlgTest, NoPromptBoxSwitchesTheExitConfirmation)
{
    std::strcpy(g_szLoginUser, "op");
    CLoginDlg dlg(nullptr, 1, 0);
    Run(dlg, [](CLoginDlg& d) {
        d.GetDlgItemT<QCheckBox>(CLoginDlg::IDC_CHECK_NO_PROMPT)->click();
        EXPECT_EQ(g_DispInfoSetting.ExitConfirm, 0);
        d.GetDlgItemT<QCheckBox>(CLoginDlg::IDC_CHECK_NO_PROMPT)->click();
        EXPECT_EQ(g_DispInfoSetting.ExitConfirm, 1);
    });
}

TEST_F(LoginDlgTest, CloudLoginGrantsAllRightsAndAFailedExchangeShowsItsCode)
{
    fakecloud::FakeCloudServer server;
    SetCloudTimeout(2000);
    g_DispInfoSetting.LoginType = 1;
    server.Script({fakecloud::Reply(fakecloud::Http("<xml><rnd>15</rnd></xml>", "Set-Cookie: s=1\r\n")),
                   fakecloud::Reply(fakecloud::Http("<xml><err>0</err><ls><DevID>c1</DevID><devip>2.2.2.2</devip>"
                                                    "</ls></xml>"))});
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    {
        CLoginDlg dlg(nullptr, 0, 0);
        EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                      EXPECT_TRUE(d.GetDlgItem(CLoginDlg::IDC_EDIT_CLOUD_SVR)->isEnabled());
                      d.SetDlgItemText(CLoginDlg::IDC_EDIT_CLOUD_SVR, host.c_str());
                      Type(d, "acct", "secret");
                      Login(d);
                  }),
                  IDOK);
    }
    EXPECT_STREQ(g_szCloudServer, "127.0.0.1");
    EXPECT_EQ(g_nCloudPort, server.port());
    EXPECT_STREQ(g_szCloudUser, "acct");
    EXPECT_EQ(std::string(g_szCloudPsw), Digest("secret"));
    EXPECT_EQ(std::vector<int>(g_UserRights, g_UserRights + 7), std::vector<int>(7, 1));
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_STREQ(g_lstDevInfo.front().DevDomainName, "c1.127.0.0.1");
    ASSERT_FALSE(g_lstLoginInfo.empty());
    EXPECT_EQ(std::string(g_lstLoginInfo.back().SvrIp), host);

    // empty host: nothing happens; a failed exchange: "Login Failed" and the code
    Reset();
    server.Script({fakecloud::Exchange{fakecloud::Exchange::Close, {}, false}});
    const int language = g_nLanguage;
    for (int lang : {1, 0}) {
        g_nLanguage = lang;
        CLoginDlg dlg(nullptr, 0, 0);
        std::string empty;
        EXPECT_EQ(Run(dlg, [&](CLoginDlg& d) {
                      d.SetDlgItemText(CLoginDlg::IDC_EDIT_CLOUD_SVR, "");
                      Type(d, "acct", "secret");
                      Login(d);
                      ReadMessage(d);
                      empty = m_shown;
                      d.SetDlgItemText(CLoginDlg::IDC_EDIT_CLOUD_SVR, "127.0.0.1:1");
                      Login(d);
                  }),
                  kStillOpen);
        EXPECT_EQ(empty, "");
        EXPECT_EQ(m_shown, LoadResString(1443) + (lang == 0 ? ",错误代码5" : ""));
    }
    g_nLanguage = language;
    EXPECT_EQ(g_UserRights[0], 0);
    SetCloudTimeout(0);
}

} // namespace

namespace {

// Each mode's picture: the background, the controls of the mode, and in
// verify mode the rounded window. QELM2_PICTURES names a folder to keep them.
TEST_F(LoginDlgTest, PictureOfEachMode)
{
    std::strcpy(g_szLoginUser, "op");
    const char* folder = std::getenv("QELM2_PICTURES");
    struct Mode {
        int verify, unlock;
        const char* name;
    } modes[] = {{0, 0, "login"}, {1, 0, "exit"}, {1, 1, "unlock"}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        CLoginDlg dlg(nullptr, m.verify, m.unlock);
        Run(dlg, [&](CLoginDlg& d) {
            QCoreApplication::processEvents(); // the posted layout
            const QImage picture = d.grab().toImage();
            EXPECT_EQ(picture.size(), d.size());
            if (m.verify == 0) {
                EXPECT_TRUE(d.mask().isEmpty());
            } else {
                EXPECT_FALSE(d.mask().contains(QPoint(0, 0))); // the rounded corner
                EXPECT_TRUE(d.mask().contains(d.rect().center()));
            }
            const bool verify = m.verify == 1;
            for (UINT id : {CLoginDlg::IDC_CHECK_AUTO_LOGIN, CLoginDlg::IDC_CHECK_SAVE_PSW, CLoginDlg::IDC_CHECK_CLOUD,
                            CLoginDlg::IDC_EDIT_CLOUD_SVR})
                EXPECT_EQ(d.GetDlgItem(id)->isVisible(), !verify) << id;
            if (verify) {
                // the password field sits below the middle, 140 pixels wide
                const QRect psw = d.GetDlgItem(CLoginDlg::IDC_EDIT_PSW)->geometry();
                EXPECT_EQ(psw.width(), 140);
                EXPECT_EQ(psw.top(), d.height() / 2 - 35 + 32);
            }
            if (folder)
                picture.save(QString::fromUtf8(folder) + "/login-mode-" + m.name + ".png");
        });
    }
}

} // namespace
