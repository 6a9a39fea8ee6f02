// Config/UserInfo.xml: display and behaviour settings, the log switch, login
// settings and history, local users, user groups and roles.
#pragma once

#include "core/devinfo.h" // TextSize

#include <cstdint>
#include <list>
#include <string>

class TiXmlElement;

// Login history entry (at most five are kept).
struct _LOGIN_INFO {
    char UserName[TextSize(256)];
    char Password[TextSize(100)]; // digest; only for entries that save it
    char SvrIp[TextSize(64)];
    char SvrPort[TextSize(10)];
    char SavePath[TextSize(1024)];
    std::int32_t SaveFlg;
    std::int32_t LoginSvrFlg;
    std::int32_t LastUsingFlg;
};

struct User {
    char UserName[TextSize(256)];
    char Password[TextSize(100)]; // 32 upper-case hex digits of the MD5 digest, or a new plain text
    char RoleName[TextSize(256)];
    char GroupName[TextSize(260)];
    char Desc[TextSize(512)];
    // Not in the file: 1 when Password holds a digest (as loaded), 0 when it
    // holds a newly typed plain password, which the saver stores as its digest.
    // Whoever puts a new password into a record sets this to 0.
    std::int32_t PwdIsDigest;
};

struct UserGroup {
    char GroupName[TextSize(256)];
    char RoleName[TextSize(256)];
    char Desc[TextSize(512)];
};

struct Role {
    char RoleName[TextSize(256)];
    char Desc[TextSize(512)];
    std::int32_t SurPTZ;      // live view
    std::int32_t Alarm;       // alarm page
    std::int32_t Record;      // record search and plans
    std::int32_t PTZ;         // PTZ control
    std::int32_t UserManager; // configuration pages
    std::int32_t HighLeve;
    std::int32_t TvWallMap;   // TV-wall and map pages; not in the file, so 0 when loaded
};

// The settings of DispInfoSetting (and the root's BufferCount and BufferTick),
// with their values before the file is read.
struct DispInfoSetting {
    std::int32_t AutoSwitchStream = 1;
    std::int32_t ShowLastFrame = 0;
    std::int32_t CapturePicFmt = 1; // 2 BMP, 1 JPG, 0 YUV
    std::int32_t DefDisplayMode = 9;
    std::int32_t KbConfigMode = 0;
    std::int32_t MonitorMode = 1;
    std::int32_t FilpMode = 0;      // also every login entry's FullDisp
    std::int32_t FilterAlarm = 0;
    std::int32_t LoginType = 0;     // 0 local, 1 cloud
    std::int32_t ExitConfirm = 1;
    std::int32_t SyncTimeEnable = 0;
    std::int32_t SyncTimeDiff = 10;
    std::int32_t SyncTimeInterval = 60;
    std::int32_t BufferCount = 20;
    std::int32_t BufferTick = 300;
};

extern DispInfoSetting g_DispInfoSetting;
extern std::string g_strDispInfo; // scrolling notice text
extern std::string g_strVersion;
// g_strTitle and g_bAutoLogin: core/helpers.h.

extern std::list<_LOGIN_INFO> g_lstLoginInfo;
extern std::list<User> g_lstUserInfo;
extern std::list<UserGroup> g_lstGroupInfo;
extern std::list<Role> g_lstRoleInfo;

// The logged-in user ("" before the first login); the login dialog sets it.
extern char g_szUserName[TextSize(256)];

// 0 read; -1 when the template was written (a damaged file is kept aside
// first) or the document has no root element. Opens the program log when
// the file's mlog says so.
int LoadUserInfo();
// Rewrites DispInfoSetting, LoginSetting and the four lists in the file and
// keeps its other elements; writes nothing when the file cannot be loaded.
void SaveUserInfo();

void LoadLoginList(const TiXmlElement* list);
void LoadUserList(const TiXmlElement* list);
void LoadGroupList(const TiXmlElement* list);
void LoadRoleList(const TiXmlElement* list);
void SaveLoginList(TiXmlElement* list);
void SaveUserList(TiXmlElement* list);
void SaveGroupList(TiXmlElement* list);
void SaveRoleList(TiXmlElement* list);

// The UserInfo.xml template, byte for byte; its administrator's password is
// "admin" until changed.
extern const char kUserInfoTemplate[];
