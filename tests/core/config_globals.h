// Empties the program-wide lists and settings the configuration files fill,
// for tests and the configuration fuzzer (no test framework needed).
#pragma once

#include "core/devinfo.h"
#include "core/helpers.h"
#include "core/recinfo.h"
#include "core/recover.h"
#include "core/userinfo.h"

namespace cfgtest {

inline void ResetConfigGlobals()
{
    for (RecScheme* plan : g_lstRecSchemeInfo)
        delete plan;
    g_lstRecSchemeInfo.clear();
    g_lstDevInfo.clear();
    g_lstDevGroupInfo.clear();
    g_bAlarmAudio = 0;
    g_lstLoginInfo.clear();
    g_lstUserInfo.clear();
    g_lstGroupInfo.clear();
    g_lstRoleInfo.clear();
    g_lstSurStatus.clear();
    g_DispInfoSetting = DispInfoSetting{};
    g_strTitle = "Corvane";
    g_strDispInfo.clear();
    g_strVersion.clear();
    g_bAutoLogin = 0;
}

} // namespace cfgtest
