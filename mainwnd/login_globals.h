// Who is logged in and how: the state the login dialog leaves for the rest
// of the program.
#pragma once

#include "core/devinfo.h" // TextSize
#include "core/userinfo.h"

#include <cstdint>

// The seven rights of the logged-in user, in this order.
enum UserRight {
    kRightSurPTZ = 0,
    kRightAlarm,
    kRightRecord,
    kRightPTZ,
    kRightUserManager,
    kRightHighLeve,
    kRightTvWallMap, // no role carries it: only "admin" and cloud logins
    kUserRightCount
};
extern std::int32_t g_UserRights[kUserRightCount];

// The logged-in user's name is the core's g_szUserName (the log and
// Recover.xml read it there); this is the name the login code uses for it.
inline auto& g_szLoginUser = g_szUserName;
// His password digest: 32 upper-case hex digits.
extern char g_szLoginPsw[100];

// Login-server mode and the resolved server.
extern int g_bUseLoginSvr;
extern char g_szLoginSvrIp[64];
extern int g_nLoginSvrPort;

// The cloud account of a cloud login.
extern char g_szCloudServer[260]; // the host, without a port
extern int g_nCloudPort;          // 80 unless the host field named one
extern char g_szCloudUser[TextSize(256)];
extern char g_szCloudPsw[100];
