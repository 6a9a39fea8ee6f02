// Tests of the user file: first start, settings, passwords, login history,
// the log switch, damaged files and what the saver keeps, through real files.
#include "config_test_util.h"

#include <cstring>

using cfgtest::ChildNames;
using cfgtest::Gb;

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n";

const char kExpectedTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<UserInfo>\n\t<DispInfoSetting>\n\t\t<DispInfo></DispInfo>\n"
    "\t\t<Title>Qelm</Title>\n\t\t<Version></Version>\n\t\t<AutoSwitchStream>1</AutoSwitchStream>\n"
    "\t\t<ShowLastFrame>0</ShowLastFrame>\n\t\t<BufferTick>500</BufferTick>\n\t\t<ExitConfirm>1</ExitConfirm>\n"
    "\t</DispInfoSetting>\n\t<mlog>1</mlog>\n\t<LoginSetting>\n\t\t<AutoLogin>0</AutoLogin>\n\t</LoginSetting>\n"
    "\t<LoginList />\n\t<UserList>\n\t\t<User>\n\t\t\t<UserName>admin</UserName>\n"
    "\t\t\t<Password>21232F297A57A5A743894A0E4A801FC3</Password>\n\t\t\t<GroupName>default</GroupName>\n"
    "\t\t\t<RoleName>default</RoleName>\n\t\t\t<Desc></Desc>\n\t\t</User>\n\t</UserList>\n\t<GroupList>\n"
    "\t\t<Group>\n\t\t\t<GroupName>default</GroupName>\n\t\t\t<RoleName>default</RoleName>\n\t\t\t<Desc></Desc>\n"
    "\t\t</Group>\n\t</GroupList>\n\t<RoleList>\n\t\t<Role>\n\t\t\t<RoleName>default</RoleName>\n"
    "\t\t\t<SurPTZ>1</SurPTZ>\n\t\t\t<Record>1</Record>\n\t\t\t<Alarm>1</Alarm>\n\t\t\t<PTZ>1</PTZ>\n"
    "\t\t\t<UserManager>1</UserManager>\n\t\t\t<HighLeve>0</HighLeve>\n\t\t\t<Desc></Desc>\n\t\t</Role>\n"
    "\t</RoleList>\n</UserInfo>";

std::string Md5(const char* text)
{
    char out[33];
    Md5HexUpper(text, out);
    return out;
}

class UserInfoTest : public cfgtest::ConfigTest {
protected:
    std::string LogFolder() const { return m_tmp / "Qelm-Log"; }
};

TEST_F(UserInfoTest, FirstStartWritesTheTemplateAndOpensTheLog)
{
    EXPECT_EQ(LoadUserInfo(), -1);
    EXPECT_EQ(Read("UserInfo.xml"), kExpectedTemplate);
    EXPECT_FALSE(IsLogOpen()) << "nothing is read from the template yet";

    ASSERT_EQ(LoadUserInfo(), 0);
    EXPECT_EQ(g_strTitle, "Qelm");
    EXPECT_TRUE(IsLogOpen());
    WriteLog(6, "first line");
    FlushLog();
    EXPECT_NE(coretest::ReadAll(LogFolder() + "/clientlog.txt").find("first line"), std::string::npos);

    ASSERT_EQ(g_lstUserInfo.size(), 1u);
    const User& admin = g_lstUserInfo.front();
    EXPECT_STREQ(admin.UserName, "admin");
    EXPECT_EQ(admin.Password, Md5("admin")) << "the documented default password";
    EXPECT_STREQ(admin.GroupName, "default");
    EXPECT_STREQ(admin.RoleName, "default");
    ASSERT_EQ(g_lstRoleInfo.size(), 1u);
    const Role& role = g_lstRoleInfo.front();
    EXPECT_EQ((std::vector<int>{role.SurPTZ, role.Alarm, role.Record, role.PTZ, role.UserManager, role.HighLeve,
                                role.TvWallMap}),
              (std::vector<int>{1, 1, 1, 1, 1, 0, 0}));
    ASSERT_EQ(g_lstGroupInfo.size(), 1u);
    EXPECT_STREQ(g_lstGroupInfo.front().RoleName, "default");
    EXPECT_TRUE(g_lstLoginInfo.empty());
    EXPECT_EQ(g_DispInfoSetting.BufferTick, 300) << "the template's BufferTick sits where it is not read";
    EXPECT_EQ(g_DispInfoSetting.ExitConfirm, 1);
}

TEST_F(UserInfoTest, SettingsAreReadAndWrittenInTheirOrder)
{
    Write("UserInfo.xml",
          std::string(kDecl) +
              "<UserInfo><DispInfoSetting><DispInfo>" + Gb("通知") + "</DispInfo><Title>Cam</Title>"
              "<Version>2.1</Version><AutoSwitchStream>0</AutoSwitchStream><ShowLastFrame>1</ShowLastFrame>"
              "<CapturePicFmt>2</CapturePicFmt><DefDisplayMode>16</DefDisplayMode><KbConfigMode>1</KbConfigMode>"
              "<MonitorMode>0</MonitorMode><FilpMode>1</FilpMode><FilterAlarm>1</FilterAlarm><LoginType>1</LoginType>"
              "<ExitConfirm>0</ExitConfirm><SyncTime diff=\"5\" enable=\"1\" interval=\"30\"/><Odd>1</Odd>"
              "</DispInfoSetting><mlog>0</mlog><BufferCount>40</BufferCount><BufferTick>200</BufferTick>"
              "<LoginSetting><AutoLogin>1</AutoLogin></LoginSetting><Extra a=\"b\"/></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    const DispInfoSetting& s = g_DispInfoSetting;
    EXPECT_EQ(g_strDispInfo, "通知");
    EXPECT_EQ(g_strTitle, "Cam");
    EXPECT_EQ(g_strVersion, "2.1");
    EXPECT_EQ((std::vector<int>{s.AutoSwitchStream, s.ShowLastFrame, s.CapturePicFmt, s.DefDisplayMode,
                                s.KbConfigMode, s.MonitorMode, s.FilpMode, s.FilterAlarm, s.LoginType,
                                s.ExitConfirm, s.SyncTimeEnable, s.SyncTimeInterval, s.SyncTimeDiff,
                                s.BufferCount, s.BufferTick, g_bAutoLogin}),
              (std::vector<int>{0, 1, 2, 16, 1, 0, 1, 1, 1, 0, 1, 30, 5, 40, 200, 1}));
    EXPECT_FALSE(IsLogOpen()) << "mlog 0 keeps the log closed";

    g_DispInfoSetting.DefDisplayMode = 4;
    g_bAutoLogin = 0;
    SaveUserInfo();
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("UserInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    const TiXmlElement* root = doc.RootElement();
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"DispInfoSetting", "mlog", "BufferCount", "BufferTick",
                                                         "LoginSetting", "Extra"}));
    EXPECT_EQ(ChildNames(root->FirstChildElement("DispInfoSetting")),
              (std::vector<std::string>{"DispInfo", "Title", "Version", "AutoSwitchStream", "ShowLastFrame",
                                        "CapturePicFmt", "DefDisplayMode", "KbConfigMode", "MonitorMode",
                                        "FilpMode", "FilterAlarm", "LoginType", "ExitConfirm", "SyncTime"}));
    const std::string text = Read("UserInfo.xml");
    EXPECT_NE(text.find("<SyncTime enable=\"1\" interval=\"30\" diff=\"5\" />"), std::string::npos) << text;
    EXPECT_NE(text.find("<DefDisplayMode>4</DefDisplayMode>"), std::string::npos);
    EXPECT_NE(text.find("<DispInfo>" + Gb("通知") + "</DispInfo>"), std::string::npos);
    EXPECT_NE(text.find("<AutoLogin>0</AutoLogin>"), std::string::npos);
    EXPECT_NE(text.find("<BufferCount>40</BufferCount>"), std::string::npos) << "root values are left alone";
}

TEST_F(UserInfoTest, SyncTimeWithoutAttributesKeepsTheDefaults)
{
    Write("UserInfo.xml", std::string(kDecl) + "<UserInfo><DispInfoSetting><SyncTime/></DispInfoSetting></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    EXPECT_EQ(g_DispInfoSetting.SyncTimeEnable, 0);
    EXPECT_EQ(g_DispInfoSetting.SyncTimeDiff, 10);
    EXPECT_EQ(g_DispInfoSetting.SyncTimeInterval, 60);
}

TEST_F(UserInfoTest, PasswordsAreStoredAsDigests)
{
    Write("UserInfo.xml", std::string(kDecl) +
                              "<UserInfo><UserList>"
                              "<User><UserName>d</UserName><Password>" + Md5("x") + "</Password></User>"
                              "<User><UserName>h</UserName><Password>plain-by-hand</Password></User>"
                              "<User><UserName>w</UserName><Password>0123456789abcdefghijklmnopqrstuv</Password></User>"
                              "</UserList></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    auto user = [](const char* name) -> User& {
        for (User& u : g_lstUserInfo) {
            if (std::strcmp(u.UserName, name) == 0)
                return u;
        }
        return g_lstUserInfo.emplace_back();
    };
    EXPECT_EQ(user("d").PwdIsDigest, 1);
    EXPECT_EQ(user("h").PwdIsDigest, 0);
    EXPECT_EQ(user("w").PwdIsDigest, 0) << "32 characters but not a digest";

    // Typed on the user page: plain texts, one of exactly 32 hex digits.
    const char typed32[] = "0123456789ABCDEF0123456789ABCDEF";
    struct {
        const char* name;
        const char* typed;
    } added[] = {{"six", "abc123"}, {"hex32", typed32}, {"empty", ""}};
    for (const auto& a : added) {
        User& u = g_lstUserInfo.emplace_back();
        std::strcpy(u.UserName, a.name);
        std::strcpy(u.Password, a.typed);
    }
    // A copied record that kept the digest mark while a plain text was typed in.
    User& stale = g_lstUserInfo.emplace_back();
    std::strcpy(stale.UserName, "stale");
    std::strcpy(stale.Password, "short");
    stale.PwdIsDigest = 1;

    SaveUserInfo();
    SaveUserInfo(); // a second save changes nothing
    ResetGlobals();
    ASSERT_EQ(LoadUserInfo(), 0);
    struct {
        const char* name;
        std::string digest;
    } expected[] = {
        {"d", Md5("x")},          {"h", Md5("plain-by-hand")}, {"w", Md5("0123456789abcdefghijklmnopqrstuv")},
        {"six", Md5("abc123")},   {"hex32", Md5(typed32)},     {"empty", Md5("")},
        {"stale", Md5("short")},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(user(e.name).Password, e.digest) << e.name;
        EXPECT_EQ(user(e.name).PwdIsDigest, 1) << e.name;
    }
}

TEST_F(UserInfoTest, LoginHistory)
{
    std::string logins;
    for (int i = 1; i <= 7; ++i) {
        logins += "<Login><UserName>u" + std::to_string(i) + "</UserName><Password>" + Md5("p") +
                  "</Password><SvrIp>127.0.0.1</SvrIp><SvrPort>6060</SvrPort><LoginSvrFlg>1</LoginSvrFlg>"
                  "<SaveFlg>1</SaveFlg><LastUsingFlg>" + (i == 7 ? "1" : "0") +
                  "</LastUsingFlg><FullDisp>" + (i == 7 ? "1" : "0") + "</FullDisp><SavePath>" + Gb("D:\\录像") +
                  "</SavePath></Login>";
    }
    Write("UserInfo.xml", std::string(kDecl) + "<UserInfo><DispInfoSetting><FilpMode>0</FilpMode></DispInfoSetting>"
                                               "<LoginList>" + logins + "</LoginList></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    ASSERT_EQ(g_lstLoginInfo.size(), 5u) << "the history holds five";
    EXPECT_STREQ(g_lstLoginInfo.front().UserName, "u3");
    const _LOGIN_INFO& last = g_lstLoginInfo.back();
    EXPECT_STREQ(last.UserName, "u7");
    EXPECT_EQ(last.LastUsingFlg, 1);
    EXPECT_EQ(last.LoginSvrFlg, 1);
    EXPECT_STREQ(last.SvrPort, "6060");
    EXPECT_EQ(std::string(last.SavePath), "D:\\录像");
    EXPECT_EQ(g_DispInfoSetting.FilpMode, 1) << "the login entry is read after DispInfoSetting";

    SaveUserInfo();
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("UserInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    const TiXmlElement* list = doc.RootElement()->FirstChildElement("LoginList");
    EXPECT_EQ(ChildNames(list).size(), 5u);
    EXPECT_EQ(ChildNames(list->FirstChildElement("Login")),
              (std::vector<std::string>{"UserName", "Password", "SvrIp", "SvrPort", "LoginSvrFlg", "SaveFlg",
                                        "LastUsingFlg", "FullDisp", "SavePath"}));
    EXPECT_STREQ(list->FirstChildElement("Login")->FirstChildElement("FullDisp")->GetText(), "1")
        << "every entry writes the one FilpMode";
}

TEST_F(UserInfoTest, SaverRewritesOnlyTheSectionsThatExist)
{
    Write("UserInfo.xml", std::string(kDecl) + "<UserInfo><mlog>0</mlog><UserList/></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    _LOGIN_INFO& l = g_lstLoginInfo.emplace_back();
    std::strcpy(l.UserName, "someone");
    User& u = g_lstUserInfo.emplace_back();
    std::strcpy(u.UserName, "新用户");
    std::strcpy(u.Password, "pw");
    Role& r = g_lstRoleInfo.emplace_back();
    std::strcpy(r.RoleName, "viewer");
    SaveUserInfo();
    const std::string text = Read("UserInfo.xml");
    EXPECT_EQ(text.find("someone"), std::string::npos) << "no LoginList, no history saved";
    EXPECT_EQ(text.find("viewer"), std::string::npos);
    EXPECT_EQ(text.find("DispInfoSetting"), std::string::npos);
    EXPECT_NE(text.find("<UserName>" + Gb("新用户") + "</UserName>"), std::string::npos);
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("UserInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    EXPECT_EQ(ChildNames(doc.RootElement()->FirstChildElement("UserList")->FirstChildElement("User")),
              (std::vector<std::string>{"UserName", "Password", "GroupName", "RoleName", "Desc"}));
}

TEST_F(UserInfoTest, RolesAndGroupsRoundTrip)
{
    Write("UserInfo.xml", std::string(kDecl) +
                              "<UserInfo><GroupList><Group><GroupName>" + Gb("值班") + "</GroupName><RoleName>r</RoleName>"
                              "<Desc>d</Desc></Group></GroupList><RoleList><Role><RoleName>r</RoleName><SurPTZ>1</SurPTZ>"
                              "<Record>0</Record><Alarm>1</Alarm><PTZ>0</PTZ><UserManager>0</UserManager>"
                              "<HighLeve>1</HighLeve><Desc>" + Gb("说明") + "</Desc></Role></RoleList></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    const std::string before = Read("UserInfo.xml");
    SaveUserInfo();
    const std::string once = Read("UserInfo.xml");
    ResetGlobals();
    ASSERT_EQ(LoadUserInfo(), 0);
    SaveUserInfo();
    EXPECT_EQ(Read("UserInfo.xml"), once);
    const Role& r = g_lstRoleInfo.front();
    EXPECT_EQ((std::vector<int>{r.SurPTZ, r.Alarm, r.Record, r.PTZ, r.UserManager, r.HighLeve, r.TvWallMap}),
              (std::vector<int>{1, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(std::string(r.Desc), "说明");
    EXPECT_EQ(std::string(g_lstGroupInfo.front().GroupName), "值班");
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("UserInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    EXPECT_EQ(ChildNames(doc.RootElement()->FirstChildElement("RoleList")->FirstChildElement("Role")),
              (std::vector<std::string>{"RoleName", "SurPTZ", "Record", "Alarm", "PTZ", "UserManager", "HighLeve",
                                        "Desc"}));
    EXPECT_NE(before, once);
}

TEST_F(UserInfoTest, DamagedFileIsKeptAsideAndTheNoticeWaitsForTheLog)
{
    const std::string damaged = std::string(kDecl) + "<UserInfo><UserList><User><UserName>" + Gb("张三") +
                                "</UserName></User>"; // never closed
    Write("UserInfo.xml", damaged);
    EXPECT_EQ(LoadUserInfo(), -1);
    auto kept = cfgtest::FilesWith(m_config, "UserInfo.damaged-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(coretest::ReadAll(m_config + kept[0]), damaged);
    EXPECT_EQ(Read("UserInfo.xml"), kExpectedTemplate);

    ASSERT_EQ(LoadUserInfo(), 0); // opens the log, which then tells
    CloseLog();
    const std::string log = coretest::ReadAll(LogFolder() + "/clientlog.txt");
    EXPECT_NE(log.find("UserInfo.xml could not be read, kept as " + m_config + kept[0]), std::string::npos) << log;
}

TEST_F(UserInfoTest, LogFolderStaysInTheDataFolderWhateverTheTitle)
{
    Write("UserInfo.xml", std::string(kDecl) + "<UserInfo><DispInfoSetting><Title>../up\\x</Title></DispInfoSetting>"
                                               "<mlog>1</mlog></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    EXPECT_EQ(g_strTitle, "../up\\x");
    EXPECT_TRUE(IsLogOpen());
    EXPECT_TRUE(IsDirExist((m_tmp / ".._up_x-Log").c_str()));
}

TEST_F(UserInfoTest, SaveWithoutAFileWritesNothing)
{
    SaveUserInfo();
    struct stat st;
    EXPECT_NE(stat(Path("UserInfo.xml").c_str(), &st), 0);
}

} // namespace
