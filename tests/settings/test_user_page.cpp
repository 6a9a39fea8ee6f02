// The users page: groups, users and roles of UserInfo.xml through the
// page's handlers, the file they write and the login that reads it.
#include "settings_test_util.h"

#include "core/helpers.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/login_logic.h"
#include "settings/setting_user_info_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <functional>

namespace {

using settest::PageTest;

std::string Md5(const std::string& text)
{
    char out[33];
    Md5HexUpper(text.c_str(), out);
    return out;
}

// The file without the blanks and line breaks between elements.
std::string Squeezed(const std::string& xml)
{
    std::string out;
    for (char c : xml)
        if (c != '\n' && c != '\r' && c != '\t' && !(c == ' ' && !out.empty() && out.back() == '>'))
            out += c;
    return out;
}

class UserPageTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        page = new CSettingUserInfoDlg(host.get());
        page->Create(CSettingUserInfoDlg::IDD, host.get());
        page->MoveWindow(0, 0, 1200, 800);
        page->ShowWindow(SW_SHOW);
        host->show();
    }
    std::string Msg() const { return PageTest::Msg(page->MsgDlg()); }
    void Type(UINT id, const std::string& text) { page->SetDlgItemText(id, text.c_str()); }
    // What a user does in a password edit (an edit, not a program's setText).
    void TypePassword(UINT id, const std::string& text)
    {
        auto* e = page->GetDlgItemT<QLineEdit>(id);
        e->clear();
        e->insert(QString::fromStdString(text));
    }
    void Choose(UINT id, const std::string& text)
    {
        auto* c = page->GetDlgItemT<QComboBox>(id);
        c->setCurrentIndex(c->findText(QString::fromStdString(text)));
    }
    void Rights(std::initializer_list<UINT> on)
    {
        for (UINT id : {1006u, 1011u, 1090u, 1091u, 1092u, 1093u})
            page->CheckDlgButton(id, std::find(on.begin(), on.end(), id) != on.end() ? 1 : 0);
    }
    void AddRole(const std::string& name, std::initializer_list<UINT> on)
    {
        Type(1106, name);
        Rights(on);
        page->OnBnClickedBtnAddRole();
    }
    void AddGroup(const std::string& name, const std::string& role)
    {
        page->FillRoleCombo();
        Type(1099, name);
        Choose(1079, role);
        page->OnBnClickedBtnAddGroup();
    }
    void AddUser(const std::string& name, const std::string& psw, const std::string& group)
    {
        Type(1083, name);
        TypePassword(1084, psw);
        TypePassword(1086, psw);
        Choose(1085, group);
        page->OnBnClickedBtnAddUser();
    }
    const User* FindUser(const std::string& name) const
    {
        for (const User& u : g_lstUserInfo)
            if (u.UserName == name)
                return &u;
        return nullptr;
    }
    // Reads the file again, as the next start does.
    void Reload()
    {
        g_lstUserInfo.clear();
        g_lstGroupInfo.clear();
        g_lstRoleInfo.clear();
        ASSERT_EQ(LoadUserInfo(), 0);
    }
    // The login dialog's checks in its order: the fields, then the user.
    UINT Login(const std::string& name, const std::string& typed, std::int32_t rights[7])
    {
        if (UINT msg = login::CheckLoginFields(name, typed))
            return msg;
        return login::CheckLocalUser(name, login::LoginDigest(typed, false), rights);
    }
    CSettingUserInfoDlg* page = nullptr;
};

TEST_F(UserPageTest, NewOperatorIsWrittenWithDigestAndLogsInWithRecordAndAlarmOnly)
{
    AddRole("ops", {1011, 1090});
    EXPECT_EQ(Msg(), "Add role success!");
    AddGroup("night", "ops");
    EXPECT_EQ(Msg(), "Add user group success!");
    AddUser("op1", "pw-1", "night");
    EXPECT_EQ(Msg(), "Add user success!");

    const std::string file = Squeezed(ConfigFile("UserInfo.xml"));
    const std::string digest = Md5("pw-1");
    EXPECT_NE(file.find("<UserName>op1</UserName><Password>" + digest +
                        "</Password><GroupName>night</GroupName><RoleName>ops</RoleName>"),
              std::string::npos)
        << file;
    EXPECT_EQ(file.find("pw-1"), std::string::npos) << "never the plain password";
    EXPECT_EQ(host->calls, (std::vector<std::string>{"RefreshRoleTree", "RefreshUserTree", "RefreshUserTree"}));

    Reload();
    std::int32_t rights[7];
    ASSERT_EQ(Login("op1", "pw-1", rights), 0u);
    // SurPTZ, Alarm, Record, PTZ, UserManager, HighLeve, TvWallMap.
    EXPECT_EQ(std::vector<int>(rights, rights + 7), (std::vector<int>{0, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Login("op1", "pw-2", rights), 226u);
}

TEST_F(UserPageTest, TypedPasswordsAreHashedWhateverTheirLength)
{
    // A typed text of 32 hexadecimal digits looks like a digest but is a password.
    const std::string hex32 = "0123456789ABCDEF0123456789ABCDEF";
    const std::string typed[] = {hex32, "abcdefabcdefabcdefabcdefabcdefab", "x"};
    AddGroup("night", "default");
    int n = 0;
    for (const std::string& psw : typed) {
        const std::string name = "u" + std::to_string(n++);
        AddUser(name, psw, "night");
        ASSERT_EQ(Msg(), "Add user success!") << name;
    }
    const std::string file = ConfigFile("UserInfo.xml");
    Reload();
    n = 0;
    for (const std::string& psw : typed) {
        const std::string name = "u" + std::to_string(n++);
        EXPECT_NE(file.find("<Password>" + Md5(psw) + "</Password>"), std::string::npos) << psw;
        std::int32_t rights[7];
        EXPECT_EQ(Login(name, psw, rights), 0u) << "after a restart, with " << psw;
    }
}

TEST_F(UserPageTest, ModifyKeepsTheShownDigestUnlessAPasswordIsTyped)
{
    AddGroup("night", "default");
    AddUser("op1", "pw-1", "night");
    Reload();
    page->FillGroupCombo();
    const std::string digest = Md5("pw-1");

    // Shown and written back untouched: the same digest, still a digest.
    page->ShowUser(FindUser("op1"));
    EXPECT_EQ(page->GetDlgItemText(1084), digest);
    EXPECT_EQ(page->GetDlgItemText(1086), digest);
    page->OnBnClickedBtnModifyUser();
    EXPECT_EQ(Msg(), "Modify user success!");
    ASSERT_NE(FindUser("op1"), nullptr);
    EXPECT_EQ(FindUser("op1")->Password, digest);
    std::int32_t rights[7];
    EXPECT_EQ(Login("op1", "pw-1", rights), 0u);

    // A typed password of 32 hex digits is a new password.
    const std::string hex32 = "FEDCBA9876543210FEDCBA9876543210";
    page->ShowUser(FindUser("op1"));
    TypePassword(1084, hex32);
    TypePassword(1086, hex32);
    page->OnBnClickedBtnModifyUser();
    EXPECT_EQ(Msg(), "Modify user success!");
    EXPECT_NE(ConfigFile("UserInfo.xml").find("<Password>" + Md5(hex32) + "</Password>"), std::string::npos);
    Reload();
    EXPECT_EQ(Login("op1", hex32, rights), 0u);
    EXPECT_EQ(Login("op1", "pw-1", rights), 226u);
}

// The page saves only what the login takes: a password it accepts logs in,
// one the login would refuse is refused here with the limit named, and
// nothing changes. The administrator changing his own password is the case
// that locked him out.
TEST_F(UserPageTest, PasswordsThePageSavesAreThoseTheLoginTakes)
{
    std::string han;
    for (int i = 0; i < 33; ++i)
        han += "\u5BC6"; // three bytes each
    const std::string tooLong = "The password is too long, it must be at most 32 characters!";
    struct Case {
        std::string psw;
        bool saved;
    } cases[] = {
        {std::string(31, 'a'), true},
        {std::string(32, 'b'), true},
        {"0123456789abcdef0123456789ABCDEF", true}, // looks like a digest, is a password
        {han.substr(0, 32 * 3), true},
        {std::string(33, 'c'), false},
        {std::string(99, 'd'), false},
        {han, false},
    };
    AddGroup("night", "default");
    std::string adminPsw = "admin", opPsw = "pw-1";
    AddUser("op1", opPsw, "night");
    std::int32_t rights[7];
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.psw.size()) + " bytes");
        // The administrator's own password, as in the lockout.
        const std::string before = ConfigFile("UserInfo.xml");
        page->ShowUser(FindUser("admin"));
        TypePassword(1084, c.psw);
        TypePassword(1086, c.psw);
        page->OnBnClickedBtnModifyUser();
        EXPECT_EQ(Msg(), c.saved ? "Modify user success!" : tooLong);
        if (c.saved) {
            adminPsw = c.psw;
            // The exit confirmation asks for the password he has now.
            EXPECT_EQ(std::string(g_szLoginPsw), Md5(c.psw));
        } else {
            EXPECT_EQ(ConfigFile("UserInfo.xml"), before) << "nothing saved";
        }
        // Another user's, added new.
        AddUser("new1", c.psw, "night");
        EXPECT_EQ(Msg(), c.saved ? "Add user success!" : tooLong);
        EXPECT_EQ(FindUser("new1") != nullptr, c.saved);

        Reload(); // as the next start
        EXPECT_EQ(Login("admin", adminPsw, rights), 0u);
        EXPECT_EQ(Login("op1", opPsw, rights), 0u);
        if (c.saved) {
            EXPECT_EQ(Login("new1", c.psw, rights), 0u);
            page->ShowUser(FindUser("new1"));
            page->OnBnClickedBtnDelUser();
        }
        page->FillGroupCombo();
    }
    g_szLoginPsw[0] = '\0';
}

// A name the login would refuse is refused too: its user could never log in.
TEST_F(UserPageTest, UserNamesLongerThanTheLoginTakesAreRefused)
{
    AddGroup("night", "default");
    AddUser(std::string(33, 'n'), "pw", "night");
    EXPECT_EQ(Msg(), "The user name is too long, it must be at most 32 characters!");
    EXPECT_EQ(FindUser(std::string(33, 'n')), nullptr);

    const std::string name(32, 'n');
    AddUser(name, "pw", "night");
    EXPECT_EQ(Msg(), "Add user success!");
    page->ShowUser(FindUser(name));
    Type(1083, name + "x");
    page->OnBnClickedBtnModifyUser();
    EXPECT_EQ(Msg(), "The user name is too long, it must be at most 32 characters!");
    Reload();
    std::int32_t rights[7];
    EXPECT_EQ(Login(name, "pw", rights), 0u);
}

TEST_F(UserPageTest, RemovingAGroupAsksFirstAndTakesItsUsers)
{
    AddRole("ops", {1011});
    AddGroup("night", "ops");
    AddUser("op1", "pw-1", "night");
    page->ShowGroup(&g_lstGroupInfo.back());

    auto cancel = AnswerNextBox(IDCANCEL);
    page->OnBnClickedBtnDelGroup();
    EXPECT_EQ(cancel->text, "All the users of the group will be removed when remove the group,continue?");
    EXPECT_EQ(cancel->caption, "Corvane");
    EXPECT_NE(FindUser("op1"), nullptr);
    EXPECT_TRUE(page->IsGroupExist("night"));

    auto ok = AnswerNextBox(IDOK);
    page->OnBnClickedBtnDelGroup();
    EXPECT_EQ(ok->shown, 1);
    EXPECT_EQ(Msg(), "Remove user group success!");
    EXPECT_EQ(FindUser("op1"), nullptr);
    EXPECT_FALSE(page->IsGroupExist("night"));
    EXPECT_EQ(ConfigFile("UserInfo.xml").find("op1"), std::string::npos);
}

TEST_F(UserPageTest, GroupOrRoleHoldingTheAdministratorIsNotRemoved)
{
    AddRole("boss", {1006, 1011, 1090, 1091, 1092});
    AddGroup("top", "boss");
    page->FillGroupCombo();
    page->ShowUser(FindUser("admin"));
    Choose(1085, "top");
    page->OnBnClickedBtnModifyUser();
    ASSERT_EQ(Msg(), "Modify user success!");
    ASSERT_STREQ(FindUser("admin")->GroupName, "top");
    const std::string before = ConfigFile("UserInfo.xml");

    struct Case {
        const char* what;
        UINT edit;
        const char* name;
        std::function<void()> remove;
    };
    const Case cases[] = {
        {"group", 1099, "top", [this] { page->OnBnClickedBtnDelGroup(); }},
        {"role", 1106, "boss", [this] { page->OnBnClickedBtnDelRole(); }},
    };
    for (const Case& c : cases) {
        auto box = AnswerNextBox(IDOK);
        Type(c.edit, c.name);
        c.remove();
        EXPECT_EQ(Msg(), "Not allow to remove administrator!") << c.what;
        EXPECT_EQ(box->shown, 0) << c.what << ": refused before the question";
        ASSERT_NE(FindUser("admin"), nullptr) << c.what;
        EXPECT_EQ(ConfigFile("UserInfo.xml"), before) << c.what;
    }
}

TEST_F(UserPageTest, RemovingARoleTakesItsGroupsAndTheirUsers)
{
    AddRole("ops", {1011});
    AddGroup("night", "ops");
    AddGroup("day", "ops");
    AddGroup("other", "default");
    AddUser("n1", "p", "night");
    AddUser("d1", "p", "day");
    AddUser("o1", "p", "other");
    Type(1106, "ops");
    auto ok = AnswerNextBox(IDOK);
    page->OnBnClickedBtnDelRole();
    EXPECT_EQ(ok->text, "All the groups and users of the role will be removed when the role is removed,continue?");
    EXPECT_EQ(Msg(), "Remove role success!");
    EXPECT_FALSE(page->IsRoleExist("ops"));
    EXPECT_FALSE(page->IsGroupExist("night"));
    EXPECT_FALSE(page->IsGroupExist("day"));
    EXPECT_EQ(FindUser("n1"), nullptr);
    EXPECT_EQ(FindUser("d1"), nullptr);
    EXPECT_NE(FindUser("o1"), nullptr);
    EXPECT_EQ(page->GetDlgItemText(1106), "");
}

// Each refusal shows its message and changes neither the lists nor the file.
TEST_F(UserPageTest, RefusalsChangeNothing)
{
    AddRole("ops", {1011});
    AddGroup("night", "ops");
    AddUser("op1", "pw-1", "night");
    struct Case {
        const char* text;
        std::function<void()> act;
    };
    const std::string wideName = QString(200, QChar(0x540D)).toStdString(); // fits the edit, not the field
    const Case cases[] = {
        {"Please input user group name to be added!", [&] { Type(1099, "   "); page->OnBnClickedBtnAddGroup(); }},
        {"The user group already exist!", [&] { AddGroup("night", "ops"); }},
        {"Not allowed to delete default group.", [&] { Type(1099, "default"); page->OnBnClickedBtnDelGroup(); }},
        {"The user group to be removed not exist!", [&] { Type(1099, " night"); page->OnBnClickedBtnDelGroup(); }},
        {"Not allowed to modify default group.", [&] {
             page->ShowGroup(&g_lstGroupInfo.front());
             Type(1099, "def2");
             page->OnBnClickedBtnModifyGroup();
         }},
        // "default" always exists, so renaming another group to it meets the name check first.
        {"The user group already exist!", [&] {
             page->ShowGroup(&g_lstGroupInfo.back());
             Type(1099, "default");
             page->OnBnClickedBtnModifyGroup();
         }},
        {"Please input user name to be added!", [&] { AddUser("  ", "a", "night"); }},
        {"The comfirm password error, please input again!", [&] {
             Type(1083, "op2");
             TypePassword(1084, "a");
             TypePassword(1086, "A");
             page->OnBnClickedBtnAddUser();
         }},
        {"The user already exist!", [&] { AddUser(" op1 ", "a", "night"); }},
        {"Not allow to remove administrator!", [&] { Type(1083, "admin"); page->OnBnClickedBtnDelUser(); }},
        {"The user to be removed not exist!", [&] { Type(1083, " op1 "); page->OnBnClickedBtnDelUser(); }},
        {"Please select user to be modified!", [&] { page->OnBnClickedBtnModifyUser(); }},
        {"Not allowed to delete default role", [&] { Type(1106, "default"); page->OnBnClickedBtnDelRole(); }},
        {"Not allowed to modify default role.", [&] {
             page->ShowRole(&g_lstRoleInfo.front());
             page->OnBnClickedBtnModifyRole();
         }},
        {"The role already exist!", [&] { AddRole("ops", {}); }},
        {"The text is too long, please enter again!", [&] { AddRole(wideName, {1011}); }},
        // 99 characters fit the field but not the login.
        {"The password is too long, it must be at most 32 characters!",
         [&] { AddUser("op2", wideName.substr(0, 297), "night"); }},
    };
    for (const Case& c : cases) {
        // Fresh copies for each case: the Add that succeeded earlier set them.
        page->ShowUser(nullptr);
        const std::string file = ConfigFile("UserInfo.xml");
        const size_t users = g_lstUserInfo.size(), groups = g_lstGroupInfo.size(), roles = g_lstRoleInfo.size();
        HideMsg(page->MsgDlg());
        c.act();
        EXPECT_EQ(Msg(), c.text);
        EXPECT_EQ(ConfigFile("UserInfo.xml"), file) << c.text;
        EXPECT_EQ(g_lstUserInfo.size(), users) << c.text;
        EXPECT_EQ(g_lstGroupInfo.size(), groups) << c.text;
        EXPECT_EQ(g_lstRoleInfo.size(), roles) << c.text;
    }
}

TEST_F(UserPageTest, NamesAreTrimmedOnAddButNotOnRemove)
{
    AddUser("  bob  ", "  pw  ", "default");
    ASSERT_NE(FindUser("bob"), nullptr);
    Type(1083, "  bob  ");
    page->OnBnClickedBtnDelUser();
    EXPECT_EQ(Msg(), "The user to be removed not exist!");
    Type(1083, "bob");
    page->OnBnClickedBtnDelUser();
    EXPECT_EQ(Msg(), "Remove user success!");
    EXPECT_EQ(FindUser("bob"), nullptr);
}

TEST_F(UserPageTest, RenamesCarryIntoUsersAndGroups)
{
    AddRole("ops", {1011});
    AddRole("crew", {1090});
    AddGroup("night", "ops");
    AddUser("op1", "p", "night");
    // Group rename: its users follow, with the group's new role.
    page->FillRoleCombo();
    page->ShowGroup(&g_lstGroupInfo.back());
    Type(1099, "late");
    Choose(1079, "crew");
    page->OnBnClickedBtnModifyGroup();
    EXPECT_EQ(Msg(), "Modify user group success!");
    EXPECT_STREQ(FindUser("op1")->GroupName, "late");
    EXPECT_STREQ(FindUser("op1")->RoleName, "crew");
    // The copy still holds the old name.
    Type(1099, "later");
    page->OnBnClickedBtnModifyGroup();
    EXPECT_EQ(Msg(), "The user group to be modified not exist!");

    // Role rename: groups and users that named it follow.
    page->ShowRole(&g_lstRoleInfo.back());
    Type(1106, "team");
    page->OnBnClickedBtnModifyRole();
    EXPECT_EQ(Msg(), "Modify role success!");
    EXPECT_STREQ(g_lstGroupInfo.back().RoleName, "team");
    EXPECT_STREQ(FindUser("op1")->RoleName, "team");
    Type(1106, "team2");
    page->OnBnClickedBtnModifyRole();
    EXPECT_EQ(Msg(), "The role to be modified not exist!");
}

TEST_F(UserPageTest, ShowStatesAndSortedCombos)
{
    AddRole("b-role", {});
    AddRole("A-role", {});
    auto* roles = page->GetDlgItemT<QComboBox>(1079);
    EXPECT_EQ(roles->itemText(0), "A-role");
    EXPECT_EQ(roles->currentIndex(), 0);

    UserGroup upper{};
    std::strcpy(upper.GroupName, "Default");
    page->ShowGroup(&upper);
    EXPECT_FALSE(page->GetDlgItem(1080)->isEnabled());
    EXPECT_FALSE(page->GetDlgItem(1081)->isEnabled());
    page->ShowGroup(&g_lstGroupInfo.front()); // "default": the handlers refuse it
    EXPECT_TRUE(page->GetDlgItem(1080)->isEnabled());

    Role adminRole{};
    std::strcpy(adminRole.RoleName, "AdminRole");
    page->ShowRole(&adminRole);
    EXPECT_FALSE(page->GetDlgItem(1094)->isEnabled());
    EXPECT_FALSE(page->GetDlgItem(1095)->isEnabled());

    page->ShowUser(FindUser("admin"));
    EXPECT_FALSE(page->GetDlgItem(1083)->isEnabled());
    EXPECT_FALSE(page->GetDlgItem(1085)->isEnabled());
    EXPECT_TRUE(page->GetDlgItem(1084)->isEnabled());
}

// The edits take what the fields hold, so nothing typed is cut silently;
// what is saved is what the login takes, so every saved password logs in.
TEST_F(UserPageTest, EditsTakeWhatTheFieldsHold)
{
    EXPECT_EQ(page->GetDlgItemT<QLineEdit>(1084)->maxLength(), 99);
    EXPECT_EQ(page->GetDlgItemT<QLineEdit>(1083)->maxLength(), 255);
    AddUser("long", std::string(99, 'p'), "default");
    EXPECT_EQ(Msg(), "The password is too long, it must be at most 32 characters!");
    const std::string longest(32, 'p');
    AddUser("long", longest, "default");
    EXPECT_EQ(Msg(), "Add user success!");
    Reload();
    std::int32_t rights[7];
    EXPECT_EQ(Login("long", longest, rights), 0u);
}

TEST_F(UserPageTest, CaptionIsSavedAndShown)
{
    Type(1048, "Night shift");
    page->OnBnClickedBtnSaveTitle();
    EXPECT_EQ(Msg(), "Save Success!");
    EXPECT_EQ(host->calls, (std::vector<std::string>{"SetMarqueeText Night shift"}));
    EXPECT_NE(ConfigFile("UserInfo.xml").find("<DispInfo>Night shift</DispInfo>"), std::string::npos);
}

TEST_F(UserPageTest, KeysThatWouldCloseThePageAreSwallowed)
{
    auto key = [](UINT message, UINT vk, LPARAM lParam) {
        MSG m;
        m.message = message;
        m.wParam = vk;
        m.lParam = lParam;
        return m;
    };
    MSG esc = key(WM_KEYDOWN, VK_ESCAPE, 0);
    MSG enter = key(WM_KEYDOWN, VK_RETURN, 0);
    MSG altF4 = key(WM_SYSKEYDOWN, VK_F4, 1 << 29);
    MSG letter = key(WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(page->PreTranslateMessage(&esc));
    EXPECT_TRUE(page->PreTranslateMessage(&enter));
    EXPECT_TRUE(page->PreTranslateMessage(&altF4));
    EXPECT_FALSE(page->PreTranslateMessage(&letter));
}

} // namespace
