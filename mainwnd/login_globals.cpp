#include "mainwnd/login_globals.h"

std::int32_t g_UserRights[kUserRightCount] = {};
char g_szLoginPsw[100] = "";
int g_bUseLoginSvr = 0;
char g_szLoginSvrIp[64] = "";
int g_nLoginSvrPort = 0;
char g_szCloudServer[260] = "";
int g_nCloudPort = 80;
char g_szCloudUser[TextSize(256)] = "";
char g_szCloudPsw[100] = "";
