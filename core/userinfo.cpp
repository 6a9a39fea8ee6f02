// Settings, login history, users, groups and roles of Config/UserInfo.xml
// (see userinfo.h).
#include "core/userinfo.h"

#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"

#include <tinyxml.h>

#include <cstring>
#include <string>
#include <vector>

DispInfoSetting g_DispInfoSetting;
std::string g_strDispInfo;
std::string g_strVersion;
std::list<_LOGIN_INFO> g_lstLoginInfo;
std::list<User> g_lstUserInfo;
std::list<UserGroup> g_lstGroupInfo;
std::list<Role> g_lstRoleInfo;
char g_szUserName[TextSize(256)] = "";

const char kUserInfoTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
    "<UserInfo>\n"
    "\t<DispInfoSetting>\n"
    "\t\t<DispInfo></DispInfo>\n"
    "\t\t<Title>Qelm</Title>\n"
    "\t\t<Version></Version>\n"
    "\t\t<AutoSwitchStream>1</AutoSwitchStream>\n"
    "\t\t<ShowLastFrame>0</ShowLastFrame>\n"
    "\t\t<BufferTick>500</BufferTick>\n"
    "\t\t<ExitConfirm>1</ExitConfirm>\n"
    "\t</DispInfoSetting>\n"
    "\t<mlog>1</mlog>\n"
    "\t<LoginSetting>\n"
    "\t\t<AutoLogin>0</AutoLogin>\n"
    "\t</LoginSetting>\n"
    "\t<LoginList />\n"
    "\t<UserList>\n"
    "\t\t<User>\n"
    "\t\t\t<UserName>admin</UserName>\n"
    "\t\t\t<Password>21232F297A57A5A743894A0E4A801FC3</Password>\n"
    "\t\t\t<GroupName>default</GroupName>\n"
    "\t\t\t<RoleName>default</RoleName>\n"
    "\t\t\t<Desc></Desc>\n"
    "\t\t</User>\n"
    "\t</UserList>\n"
    "\t<GroupList>\n"
    "\t\t<Group>\n"
    "\t\t\t<GroupName>default</GroupName>\n"
    "\t\t\t<RoleName>default</RoleName>\n"
    "\t\t\t<Desc></Desc>\n"
    "\t\t</Group>\n"
    "\t</GroupList>\n"
    "\t<RoleList>\n"
    "\t\t<Role>\n"
    "\t\t\t<RoleName>default</RoleName>\n"
    "\t\t\t<SurPTZ>1</SurPTZ>\n"
    "\t\t\t<Record>1</Record>\n"
    "\t\t\t<Alarm>1</Alarm>\n"
    "\t\t\t<PTZ>1</PTZ>\n"
    "\t\t\t<UserManager>1</UserManager>\n"
    "\t\t\t<HighLeve>0</HighLeve>\n"
    "\t\t\t<Desc></Desc>\n"
    "\t\t</Role>\n"
    "\t</RoleList>\n"
    "</UserInfo>";

namespace {

using namespace qelm::cfg;

constexpr std::size_t kMaxLogins = 5;

// The log is not open yet when the user file is read: notices about it wait
// for the log that the same file opens.
std::vector<std::string> g_pendingNotices;

void Notice(const std::string& text)
{
    if (IsLogOpen())
        WriteLog(3, "%s", text.c_str());
    else
        g_pendingNotices.push_back(text);
}

bool Is(const TiXmlElement* e, const char* name)
{
    return std::strcmp(e->Value(), name) == 0;
}

#define READ_TEXT(rec, field, e) CopyField((rec).field, sizeof (rec).field, Text(e), #field)

// Replaces out with one record per <tag> child of list, the first `limit`
// of them (or the last, when `keepLast`); read(record, e) takes each child
// element e of that record's element. Returns how many <tag> children there are.
template <class T, class Read>
std::size_t LoadRecords(const TiXmlElement* list, const char* tag, std::list<T>& out, Read read,
                        std::size_t limit = kMaxRecords, bool keepLast = false)
{
    out.clear();
    std::size_t total = 0;
    const TiXmlElement* re = list->FirstChildElement(tag);
    for (; re && (keepLast || total < limit); re = re->NextSiblingElement(tag), ++total) {
        T& rec = out.emplace_back();
        for (const TiXmlElement* e = re->FirstChildElement(); e; e = e->NextSiblingElement())
            read(rec, e);
        if (out.size() > limit)
            out.pop_front();
    }
    total += CountElements(re, tag);
    if (total > limit && !keepLast)
        Notice(RefusedRecords(ConfigFilePath("UserInfo.xml"), tag, total, limit));
    return total;
}

bool LooksLikeDigest(const char* text)
{
    if (std::strlen(text) != 32)
        return false;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

void LoadDispInfoSetting(const TiXmlElement* section)
{
    DispInfoSetting& s = g_DispInfoSetting;
    for (const TiXmlElement* e = section->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, "DispInfo"))
            g_strDispInfo = Text(e);
        else if (Is(e, "Title"))
            g_strTitle = Text(e);
        else if (Is(e, "Version"))
            g_strVersion = Text(e);
        else if (Is(e, "AutoSwitchStream"))
            s.AutoSwitchStream = ParseDecimal(Text(e));
        else if (Is(e, "ShowLastFrame"))
            s.ShowLastFrame = ParseDecimal(Text(e));
        else if (Is(e, "CapturePicFmt"))
            s.CapturePicFmt = ParseDecimal(Text(e));
        else if (Is(e, "DefDisplayMode"))
            s.DefDisplayMode = ParseDecimal(Text(e));
        else if (Is(e, "KbConfigMode"))
            s.KbConfigMode = ParseDecimal(Text(e));
        else if (Is(e, "MonitorMode"))
            s.MonitorMode = ParseDecimal(Text(e));
        else if (Is(e, "FilpMode"))
            s.FilpMode = ParseDecimal(Text(e));
        else if (Is(e, "FilterAlarm"))
            s.FilterAlarm = ParseDecimal(Text(e));
        else if (Is(e, "LoginType"))
            s.LoginType = ParseDecimal(Text(e));
        else if (Is(e, "ExitConfirm"))
            s.ExitConfirm = ParseDecimal(Text(e));
        else if (Is(e, "SyncTime")) {
            if (const char* v = e->Attribute("interval"))
                s.SyncTimeInterval = ParseDecimal(v);
            if (const char* v = e->Attribute("diff"))
                s.SyncTimeDiff = ParseDecimal(v);
            if (const char* v = e->Attribute("enable"))
                s.SyncTimeEnable = ParseDecimal(v);
        }
    }
}

void SaveDispInfoSetting(TiXmlElement* section)
{
    const DispInfoSetting& s = g_DispInfoSetting;
    ClearChildren(section);
    AppendText(section, "DispInfo", g_strDispInfo);
    AppendText(section, "Title", g_strTitle);
    AppendText(section, "Version", g_strVersion);
    AppendInt(section, "AutoSwitchStream", s.AutoSwitchStream);
    AppendInt(section, "ShowLastFrame", s.ShowLastFrame);
    AppendInt(section, "CapturePicFmt", s.CapturePicFmt);
    AppendInt(section, "DefDisplayMode", s.DefDisplayMode);
    AppendInt(section, "KbConfigMode", s.KbConfigMode);
    AppendInt(section, "MonitorMode", s.MonitorMode);
    AppendInt(section, "FilpMode", s.FilpMode);
    AppendInt(section, "FilterAlarm", s.FilterAlarm);
    AppendInt(section, "LoginType", s.LoginType);
    AppendInt(section, "ExitConfirm", s.ExitConfirm);
    TiXmlElement* sync = AppendElement(section, "SyncTime");
    SetAttr(sync, "enable", s.SyncTimeEnable);
    SetAttr(sync, "interval", s.SyncTimeInterval);
    SetAttr(sync, "diff", s.SyncTimeDiff);
}

void OpenLogFromFile(const TiXmlElement* e)
{
    if (ParseDecimal(Text(e)) == 0)
        return;
    // "D:\<title>-Log\clientlog.txt", under the data folder. The title comes
    // from the file: a separator in it must not lead the folder elsewhere.
    std::string title = g_strTitle;
    for (char& c : title) {
        if (c == '/' || c == '\\')
            c = '_';
    }
    if (OpenProgramLog(title.c_str()) == 0) {
        for (const std::string& notice : g_pendingNotices)
            WriteLog(3, "%s", notice.c_str());
        g_pendingNotices.clear();
    }
}

} // namespace

void LoadLoginList(const TiXmlElement* list)
{
    // The login dialog keeps the history at five, dropping the oldest (the first).
    const std::size_t total = LoadRecords(list, "Login", g_lstLoginInfo, [](_LOGIN_INFO& info, const TiXmlElement* e) {
        if (Is(e, "UserName"))
            READ_TEXT(info, UserName, e);
        else if (Is(e, "Password"))
            READ_TEXT(info, Password, e);
        else if (Is(e, "SvrIp"))
            READ_TEXT(info, SvrIp, e);
        else if (Is(e, "SvrPort"))
            READ_TEXT(info, SvrPort, e);
        else if (Is(e, "SavePath"))
            READ_TEXT(info, SavePath, e);
        else if (Is(e, "SaveFlg"))
            info.SaveFlg = ParseDecimal(Text(e));
        else if (Is(e, "LoginSvrFlg"))
            info.LoginSvrFlg = ParseDecimal(Text(e));
        else if (Is(e, "LastUsingFlg"))
            info.LastUsingFlg = ParseDecimal(Text(e));
        else if (Is(e, "FullDisp"))
            g_DispInfoSetting.FilpMode = ParseDecimal(Text(e));
    }, kMaxLogins, true);
    if (total > kMaxLogins)
        Notice("LoadLoginList: " + std::to_string(total) + " login entries, the oldest " +
               std::to_string(total - kMaxLogins) + " dropped.");
}

void LoadUserList(const TiXmlElement* list)
{
    LoadRecords(list, "User", g_lstUserInfo, [](User& user, const TiXmlElement* e) {
        if (Is(e, "UserName"))
            READ_TEXT(user, UserName, e);
        else if (Is(e, "Password"))
            READ_TEXT(user, Password, e);
        else if (Is(e, "RoleName"))
            READ_TEXT(user, RoleName, e);
        else if (Is(e, "GroupName"))
            READ_TEXT(user, GroupName, e);
        else if (Is(e, "Desc"))
            READ_TEXT(user, Desc, e);
    });
    // A stored value that is not a digest is a plain text (written by hand):
    // the next save stores its digest.
    for (User& user : g_lstUserInfo)
        user.PwdIsDigest = LooksLikeDigest(user.Password) ? 1 : 0;
}

void LoadGroupList(const TiXmlElement* list)
{
    LoadRecords(list, "Group", g_lstGroupInfo, [](UserGroup& group, const TiXmlElement* e) {
        if (Is(e, "GroupName"))
            READ_TEXT(group, GroupName, e);
        else if (Is(e, "RoleName"))
            READ_TEXT(group, RoleName, e);
        else if (Is(e, "Desc"))
            READ_TEXT(group, Desc, e);
    });
}

void LoadRoleList(const TiXmlElement* list)
{
    LoadRecords(list, "Role", g_lstRoleInfo, [](Role& role, const TiXmlElement* e) {
        if (Is(e, "RoleName"))
            READ_TEXT(role, RoleName, e);
        else if (Is(e, "Desc"))
            READ_TEXT(role, Desc, e);
        else if (Is(e, "SurPTZ"))
            role.SurPTZ = ParseDecimal(Text(e));
        else if (Is(e, "Alarm"))
            role.Alarm = ParseDecimal(Text(e));
        else if (Is(e, "Record"))
            role.Record = ParseDecimal(Text(e));
        else if (Is(e, "PTZ"))
            role.PTZ = ParseDecimal(Text(e));
        else if (Is(e, "UserManager"))
            role.UserManager = ParseDecimal(Text(e));
        else if (Is(e, "HighLeve"))
            role.HighLeve = ParseDecimal(Text(e));
    });
}

int LoadUserInfo()
{
    const std::string path = ConfigFilePath("UserInfo.xml");
    TiXmlDocument doc;
    LoadResult r = LoadXmlFile(path, doc);
    if (r != LoadResult::Ok) {
        std::string keptAs;
        bool written = ReplaceWithTemplate(path, r, kUserInfoTemplate, &keptAs);
        if (!keptAs.empty())
            Notice("AppInit: " + path + " could not be read, kept as " + keptAs + "; a new one is written.");
        if (!written)
            Notice("AppInit: " + path + " could not be replaced.");
        return -1;
    }
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return -1;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, "DispInfoSetting"))
            LoadDispInfoSetting(e);
        else if (Is(e, "BufferCount"))
            g_DispInfoSetting.BufferCount = ParseDecimal(Text(e));
        else if (Is(e, "BufferTick"))
            g_DispInfoSetting.BufferTick = ParseDecimal(Text(e));
        else if (Is(e, "mlog"))
            OpenLogFromFile(e);
        else if (Is(e, "LoginSetting")) {
            if (const TiXmlElement* a = e->FirstChildElement("AutoLogin"))
                g_bAutoLogin = ParseDecimal(Text(a));
        } else if (Is(e, "LoginList"))
            LoadLoginList(e);
        else if (Is(e, "UserList"))
            LoadUserList(e);
        else if (Is(e, "GroupList"))
            LoadGroupList(e);
        else if (Is(e, "RoleList"))
            LoadRoleList(e);
    }
    return 0;
}

void SaveLoginList(TiXmlElement* list)
{
    ClearChildren(list);
    for (const _LOGIN_INFO& info : g_lstLoginInfo) {
        TiXmlElement* le = AppendElement(list, "Login");
        AppendText(le, "UserName", info.UserName);
        AppendText(le, "Password", info.Password);
        AppendText(le, "SvrIp", info.SvrIp);
        AppendText(le, "SvrPort", info.SvrPort);
        AppendInt(le, "LoginSvrFlg", info.LoginSvrFlg);
        AppendInt(le, "SaveFlg", info.SaveFlg);
        AppendInt(le, "LastUsingFlg", info.LastUsingFlg);
        AppendInt(le, "FullDisp", g_DispInfoSetting.FilpMode);
        AppendText(le, "SavePath", info.SavePath);
    }
}

void SaveUserList(TiXmlElement* list)
{
    ClearChildren(list);
    for (User& user : g_lstUserInfo) {
        // Only a value known to be a digest is stored as it is; a plain
        // password, whatever its length, is stored as its digest, and the
        // record then holds what the file holds.
        if (!(user.PwdIsDigest && LooksLikeDigest(user.Password))) {
            char digest[33];
            Md5HexUpper(user.Password, digest);
            qelm::CopyBounded(user.Password, sizeof user.Password, digest);
            user.PwdIsDigest = 1;
        }
        TiXmlElement* ue = AppendElement(list, "User");
        AppendText(ue, "UserName", user.UserName);
        AppendText(ue, "Password", user.Password);
        AppendText(ue, "GroupName", user.GroupName);
        AppendText(ue, "RoleName", user.RoleName);
        AppendText(ue, "Desc", user.Desc);
    }
}

void SaveGroupList(TiXmlElement* list)
{
    ClearChildren(list);
    for (const UserGroup& group : g_lstGroupInfo) {
        TiXmlElement* ge = AppendElement(list, "Group");
        AppendText(ge, "GroupName", group.GroupName);
        AppendText(ge, "RoleName", group.RoleName);
        AppendText(ge, "Desc", group.Desc);
    }
}

void SaveRoleList(TiXmlElement* list)
{
    ClearChildren(list);
    for (const Role& role : g_lstRoleInfo) {
        TiXmlElement* re = AppendElement(list, "Role");
        AppendText(re, "RoleName", role.RoleName);
        AppendInt(re, "SurPTZ", role.SurPTZ);
        AppendInt(re, "Record", role.Record);
        AppendInt(re, "Alarm", role.Alarm);
        AppendInt(re, "PTZ", role.PTZ);
        AppendInt(re, "UserManager", role.UserManager);
        AppendInt(re, "HighLeve", role.HighLeve);
        AppendText(re, "Desc", role.Desc);
    }
}

void SaveUserInfo()
{
    SaveWithRoot(ConfigFilePath("UserInfo.xml"), "SaveUserInfo", [](TiXmlElement* root) {
        for (TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
            if (Is(e, "DispInfoSetting"))
                SaveDispInfoSetting(e);
            else if (Is(e, "LoginSetting")) {
                ClearChildren(e);
                AppendInt(e, "AutoLogin", g_bAutoLogin);
            } else if (Is(e, "LoginList"))
                SaveLoginList(e);
            else if (Is(e, "UserList"))
                SaveUserList(e);
            else if (Is(e, "GroupList"))
                SaveGroupList(e);
            else if (Is(e, "RoleList"))
                SaveRoleList(e);
        }
    });
}
