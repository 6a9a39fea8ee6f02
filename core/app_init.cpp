// Core start-up and shut-down of the process.
#include "core/app_init.h"

#include "controls/control_registry.h"
#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "platform/monitor.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sync.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

int g_nScreenWidth = 1024;
int g_nScreenHeight = 768;
int g_nScreenHeight2 = 768;
int g_bAutoLoginArg = 0;

namespace {

bool g_screenSaverActive = true;

struct ControlLibrary {
    const char* name;
    const char* loadFailed;
    const char* noEntry;
    const char* regFailed;
};

constexpr ControlLibrary kControlLibraries[] = {
    {"DadAROZar", "LoadLibrary auxptznew failed.", "get auxptznew dllregister proc address failed.",
     "dadarozar dllregister failed."},
    {"ZeraRaroVozero", "LoadLibrary ZeraRaroVozero failed.", "get ZeraRaroVozero dllregister proc address failed.",
     "ZeraRaroVozero dllregister failed."},
    {"AviRecord", "LoadLibrary AviRecord failed.", "get AviRecord dllregister proc address failed.",
     "AviRecord dllregister failed."},
    {"ZizevaVED", "LoadLibrary ZizevaVED failed.", "get ZizevaVED dllregister proc address failed.",
     "ZizevaVED dllregister failed."},
    {"PlayBackCtrl", "LoadLibrary PlayBackCtrl failed.", "get PlayBackCtrl dllregister proc address failed.",
     "PlayBackCtrl dllregister failed."},
    {"StreamPlayer", "LoadLibrary StreamPlayer failed.", "get StreamPlayer dllregister proc address failed.",
     "StreamPlayer dllregister failed."},
};

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RenameOne(const char* storagePath)
{
    if (!storagePath[0])
        return;
    std::string base(storagePath, strnlen(storagePath, TextSize(1024)));
    std::string oldDir = qelm::ResolveDrivePath(base + "QelmRecord");
    std::string newDir = qelm::ResolveDrivePath(base + "Record");
    if (IsDirectory(oldDir) && !IsDirectory(newDir))
        std::rename(oldDir.c_str(), newDir.c_str()); // a failure leaves both as they were
}

} // namespace

std::string ControlLibraryFileName(const char* baseName)
{
    return std::string(baseName) + ".so";
}

void RegisterActiveXControls()
{
    // The libraries find this through the program's exported symbols: keep it linked in.
    [[maybe_unused]] static int (*const volatile keep)(const char*) = &qelm2_EnableControlClass;
    qelm::RegisterStandInFactories();
    using RegisterFn = long (*)();
    for (const ControlLibrary& lib : kControlLibraries) {
        std::string path = qelm::ProgramDir() + ControlLibraryFileName(lib.name);
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            WriteLog(6, "%s", lib.loadFailed);
            continue;
        }
        auto fn = reinterpret_cast<RegisterFn>(dlsym(handle, "DllRegisterServer"));
        if (!fn)
            WriteLog(6, "%s", lib.noEntry);
        else if (fn() < 0)
            WriteLog(6, "%s", lib.regFailed);
        dlclose(handle);
    }
}

void RemoveStaleConfigCopies()
{
    qelm::cfg::RemoveStaleTempFiles(ConfigDir(), {"DevInfo.xml", "UserInfo.xml", "RecInfo.xml", "Recover.xml", "PatrolInfo.xml"});
    const std::string hive = qelm::RegistryHivePath();
    const std::size_t slash = hive.rfind('/');
    if (slash != std::string::npos)
        qelm::cfg::RemoveStaleTempFiles(hive.substr(0, slash + 1), {hive.c_str() + slash + 1});
}

void RenameOldRecordFolders()
{
    for (const RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        RenameOne(plan->StoragePath1);
        RenameOne(plan->StoragePath2);
        RenameOne(plan->StoragePath3);
    }
}

void SetScreenSaverActive(bool active)
{
    g_screenSaverActive = active;
}

bool IsScreenSaverActive()
{
    return g_screenSaverActive;
}

bool IsAutoLoginArgs(int argc, const char* const* argv)
{
    return argc == 2 && argv[1] && std::strcmp(argv[1], "autologin") == 0;
}

void AppInit()
{
    g_DispInfoSetting.SyncTimeEnable = 0;
    g_DispInfoSetting.SyncTimeDiff = 10;
    g_DispInfoSetting.SyncTimeInterval = 60;

    std::string config = GetAppDir() + "Config";
    CreateDirTree(config.c_str());

    if (LoadUserInfo() != 0)
        LoadUserInfo();

    ReadVendorNumber();
    LoadLanguage();
    ReadAutoRun();

    WriteLog(6, "==================================Start Qelm2=================================");
    RegisterActiveXControls();
    InitializeCriticalSection(&g_csDevList);

    // The layout covers what a maximised window may: the screen less the
    // desktop's panels, or the bottom rows would end up under a panel.
    const CRect work = qelm::PrimaryWorkArea();
    g_nScreenWidth = work.Width();
    g_nScreenHeight = work.Height();
    g_nScreenHeight2 = g_nScreenHeight;
    WriteLog(6, "Get screen size: width=%d, height=%d", g_nScreenWidth, g_nScreenHeight);

    if (LoadDevInfo() != 0)
        LoadDevInfo();
    LoadRecInfo();
}

void AppExit()
{
    SaveUserInfo();
    if (g_DispInfoSetting.LoginType == 0)
        SaveDevInfo();
    SaveRecInfo();
    {
        qelm::CsLock lock(g_csDevList);
        WriteLog(6, "Prepare Exit: begin release RecSchemeInfo list ");
        // Deleted and taken out together, so no later walk meets a dangling
        // or null entry.
        for (RecScheme* plan : g_lstRecSchemeInfo)
            delete plan;
        g_lstRecSchemeInfo.clear();
    }
    WriteLog(6, "====================================End Qelm2 (USERS:%s)=================================", g_szUserName);
    CloseLog();
    DeleteCriticalSection(&g_csDevList);
}
