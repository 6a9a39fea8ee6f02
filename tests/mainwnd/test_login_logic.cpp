// The login rules without a window: field checks, digests, local users and
// rights, the history, the background picture and the verify layout.
#include "mainwnd/login_logic.h"

#include "core/helpers.h"
#include "tests/core/config_globals.h"
#include "tests/core/core_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

std::string Digest(const char* text)
{
    char d[33];
    Md5HexUpper(text, d);
    return d;
}

User MakeUser(const char* name, const char* password, const char* role, int isDigest = 1)
{
    User u{};
    std::strcpy(u.UserName, name);
    std::strcpy(u.Password, isDigest ? Digest(password).c_str() : password);
    std::strcpy(u.RoleName, role);
    u.PwdIsDigest = isDigest;
    return u;
}

Role MakeRole(const char* name, std::initializer_list<int> rights)
{
    Role r{};
    std::strcpy(r.RoleName, name);
    std::int32_t* f[] = {&r.SurPTZ, &r.Alarm, &r.Record, &r.PTZ, &r.UserManager, &r.HighLeve};
    int i = 0;
    for (int v : rights)
        *f[i++] = v;
    return r;
}

_LOGIN_INFO Entry(const char* name, int last = 0, int save = 0, const char* password = "")
{
    _LOGIN_INFO e{};
    std::strcpy(e.UserName, name);
    std::strcpy(e.Password, password);
    e.LastUsingFlg = last;
    e.SaveFlg = save;
    return e;
}

std::vector<std::string> Names(const std::list<_LOGIN_INFO>& h)
{
    std::vector<std::string> out;
    for (const auto& e : h)
        out.push_back(e.UserName);
    return out;
}

TEST(LoginFieldsTest, EachCheckInOrder)
{
    const std::string n32(32, 'n'), p32(32, 'p');
    std::string chinese32;
    for (int i = 0; i < 32; ++i)
        chinese32 += "用";
    struct Case {
        std::string name, password;
        UINT msg;
    } cases[] = {
        {"", "", 223},          {"", "x", 223},         {n32 + "n", "", 233}, {"a", "", 224},
        {"a", p32 + "p", 234},  {n32, p32, 0},          {chinese32, "x", 0},  {chinese32 + "用", "x", 233},
        {"a", chinese32, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(login::CheckLoginFields(c.name, c.password), c.msg) << c.name << " / " << c.password;
    EXPECT_EQ(login::TrimBlanks(" \t ad min \r\n"), "ad min");
    EXPECT_EQ(login::TrimBlanks("   "), "");
}

TEST(LoginDigestTest, TypedTextIsAlwaysHashedOnlyAStoredDigestIsTakenAsIs)
{
    const std::string stored = Digest("secret");
    EXPECT_EQ(login::LoginDigest(stored, true), stored);
    // a typed text of 32 characters, even a digest, is a password like any other
    EXPECT_EQ(login::LoginDigest(stored, false), Digest(stored.c_str()));
    EXPECT_EQ(login::LoginDigest("admin", false), "21232F297A57A5A743894A0E4A801FC3");
}

class LocalUserTest : public testing::Test {
protected:
    void SetUp() override
    {
        cfgtest::ResetConfigGlobals();
        g_lstRoleInfo = {MakeRole("viewer", {1, 0, 0, 1, 0, 0}), MakeRole("alarm", {0, 1, 0, 0, 0, 0}),
                         MakeRole("empty", {0, 0, 0, 0, 0, 0})};
        g_lstUserInfo = {MakeUser("admin", "admin", "viewer"), MakeUser("Admin", "pw", "viewer"),
                         MakeUser("al", "pw", "alarm"),        MakeUser("nobody", "pw", "missing"),
                         MakeUser("none", "pw", "empty"),      MakeUser("fresh", "newpw", "viewer", 0)};
    }
    void TearDown() override { cfgtest::ResetConfigGlobals(); }
};

TEST_F(LocalUserTest, MessagesAndRights)
{
    struct Case {
        const char* name;
        const char* password;
        UINT msg;
        std::vector<int> rights;
    } cases[] = {
        {"admin", "admin", 0, {1, 1, 1, 1, 1, 1, 1}},
        {"Admin", "pw", 0, {1, 0, 0, 1, 0, 0, 0}}, // not "admin": its role's rights
        {"al", "pw", 0, {0, 1, 0, 0, 0, 0, 0}},
        {"nobody", "pw", 225, {0, 0, 0, 0, 0, 0, 0}},
        {"none", "pw", 225, {0, 0, 0, 0, 0, 0, 0}},
        {"fresh", "newpw", 0, {1, 0, 0, 1, 0, 0, 0}}, // a password not saved yet
        {"admin", "wrong", 226, {9, 9, 9, 9, 9, 9, 9}},
        {"ADMIN", "admin", 227, {9, 9, 9, 9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        std::int32_t rights[7] = {9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(login::CheckLocalUser(c.name, Digest(c.password), rights), c.msg) << c.name;
        EXPECT_EQ(std::vector<int>(rights, rights + 7), c.rights) << c.name;
    }
}

TEST(LoginHistoryTest, SixthUserDropsTheOldestAndAKnownUserOnlyMovesTheMark)
{
    std::list<_LOGIN_INFO> h = {Entry("a"), Entry("b"), Entry("c", 1), Entry("d"), Entry("e")};
    login::UpdateLoginHistory(h, {"f", "D", "", "", 1, 0});
    EXPECT_EQ(Names(h), (std::vector<std::string>{"b", "c", "d", "e", "f"}));
    EXPECT_EQ(login::LastUsedEntry(h)->UserName, std::string("f"));

    login::UpdateLoginHistory(h, {"d", "D2", "host", "81", 1, 1});
    EXPECT_EQ(Names(h), (std::vector<std::string>{"b", "c", "d", "e", "f"}));
    const _LOGIN_INFO* d = login::LastUsedEntry(h);
    EXPECT_EQ(d->UserName, std::string("d"));
    EXPECT_STREQ(d->Password, "D2");
    EXPECT_STREQ(d->SvrIp, "host");
    EXPECT_STREQ(d->SvrPort, "81");
    EXPECT_EQ(d->LoginSvrFlg, 1);

    // a file that held more than five is brought back to five
    std::list<_LOGIN_INFO> many = {Entry("1"), Entry("2"), Entry("3"), Entry("4"), Entry("5"), Entry("6")};
    login::UpdateLoginHistory(many, {"7", "", "", "", 0, 0});
    EXPECT_EQ(Names(many), (std::vector<std::string>{"3", "4", "5", "6", "7"}));
}

TEST(LoginHistoryTest, TheDigestIsKeptOnlyWhenThePasswordIsToBeSaved)
{
    std::list<_LOGIN_INFO> h = {Entry("kept", 1, 1, "OLDDIGEST")};
    login::UpdateLoginHistory(h, {"new", "NEWDIGEST", "", "", 0, 0});
    EXPECT_STREQ(h.back().Password, "");
    login::UpdateLoginHistory(h, {"kept", "DIGEST2", "", "", 0, 0});
    EXPECT_STREQ(h.front().Password, "") << "an entry no longer saved forgets its digest";
    EXPECT_EQ(h.front().SaveFlg, 0);
    login::UpdateLoginHistory(h, {"new", "NEWDIGEST", "", "", 1, 0});
    EXPECT_STREQ(h.back().Password, "NEWDIGEST");
    EXPECT_EQ(login::SavedEntry(h, "new"), &h.back());
    EXPECT_EQ(login::SavedEntry(h, "kept"), nullptr);
}

TEST(LoginPictureTest, ByLanguageWithTheEnglishPictureInstead)
{
    coretest::TempDir dir;
    const std::string app = dir.path() + "/";
    std::filesystem::create_directory(dir / "Images");
    for (const char* f : {"Login_ch.jpg", "Login_en.jpg", "Login_tc.jpg", "Login_tk.jpg"})
        std::ofstream(dir / (std::string("Images/") + f)) << "x";
    const char* expect[] = {"Login_ch.jpg", "Login_en.jpg", "Login_tc.jpg", "Login_en.jpg" /* rus missing */,
                            "Login_ch.jpg", "Login_tk.jpg", "Login_ch.jpg"};
    for (int lang = 0; lang < 7; ++lang)
        EXPECT_EQ(login::LoginPicturePath(app, lang, false), app + "Images/" + expect[lang]) << lang;
    std::filesystem::remove(dir / "Images/Login_ch.jpg");
    EXPECT_EQ(login::LoginPicturePath(app, 4, false), app + "Images/Login_en.jpg");
    EXPECT_EQ(login::LoginPicturePath(app, 1, true), app + "Images/LoginOut.jpg");
}

TEST(VerifyLayoutTest, ExitAndUnlockPlaces)
{
    auto find = [](const std::vector<login::CtrlPlace>& v, UINT id) {
        for (const auto& p : v)
            if (p.id == id)
                return p.rect;
        return CRect(-1, -1, -1, -1);
    };
    // 353 x 207: y0 = 103 - 35 = 68, x0 = 176 - 99 = 77
    const auto exitPlaces = login::VerifyLayout(353, 207, 0, false);
    EXPECT_EQ(find(exitPlaces, 1004), CRect(77, 68, 125, 88));
    EXPECT_EQ(find(exitPlaces, 1005), CRect(77, 105, 125, 125));
    EXPECT_EQ(find(exitPlaces, 1002), CRect(135, 63, 275, 83));
    EXPECT_EQ(find(exitPlaces, 1003), CRect(135, 100, 275, 120));
    EXPECT_EQ(find(exitPlaces, 1418), CRect(105, 133, 275, 156));
    EXPECT_EQ(find(exitPlaces, 1000), CRect(99, 168, 161, 191));
    EXPECT_EQ(find(exitPlaces, 1001), CRect(191, 168, 253, 191));
    const auto unlockPlaces = login::VerifyLayout(353, 207, 3, true);
    EXPECT_EQ(find(unlockPlaces, 1004), CRect(53, 68, 125, 88));
    EXPECT_EQ(find(unlockPlaces, 1418), CRect(-1, -1, -1, -1));
    EXPECT_EQ(find(unlockPlaces, 1000), CRect(99, 135, 161, 158));
}

TEST(CloudHostTest, PortOnlyFromOneValidColon)
{
    struct Case {
        const char* text;
        const char* host;
        int port;
    } cases[] = {
        {"cloud.example", "cloud.example", 80}, {"127.0.0.1:8080", "127.0.0.1", 8080},
        {"h:0", "h:0", 80},                     {"h:70000", "h:70000", 80},
        {"h:8x", "h:8x", 80},                   {"::1", "::1", 80},
        {"h:", "h:", 80},
    };
    for (const Case& c : cases) {
        std::string host;
        int port = 0;
        login::SplitCloudHost(c.text, &host, &port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

} // namespace
