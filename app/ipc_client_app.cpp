// Start-up and shut-down order of the client.
#include "app/ipc_client_app.h"

#include "alarms/udp_login.h"
#include "app/single_instance.h"
#include "app/splash_dlg.h"
#include "app/start_thread.h"
#include "core/app_init.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_dlg.h"
#include "mainwnd/main_hooks.h"
#include "playback/search_rec_dlg.h"
#include "settings/cfg_manager_dlg.h"
#include "settings/sys_setting_dlg.h"
#include "controls/device_sim.h"
#include "controls/ts_relay.h"
#include "media/mp4_writer.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "res/strings.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Finishes the MP4 recordings a crash or power cut left as ".tmp" in the
// record folders of every plan, before anything records again.
void RecoverInterruptedRecordings()
{
    std::vector<std::string> folders;
    for (const RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        for (const char* path : {plan->StoragePath1, plan->StoragePath2, plan->StoragePath3}) {
            if (!path[0])
                continue;
            std::string folder = qelm::ResolveDrivePath(std::string(path) + "Record");
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
    }
    for (const std::string& folder : folders) {
        const int n = CMP4Writer::RecoverTempFiles(folder.c_str());
        if (n > 0)
            WriteLog(6, "CIPCClientApp: recovered %d interrupted record files in %s", n, folder.c_str());
    }
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The framework's name for the program: the executable's name without extension.
std::string ExecutableBaseName()
{
    char self[4096] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return "Corvane";
    return QFileInfo(QString::fromLocal8Bit(self, int(n))).completeBaseName().toStdString();
}

void WriteAppEntry(bool registerIt)
{
    if (!registerIt) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, kAppIdKey);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kAppIdKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
        return;
    std::string exe = GetAppDir() + ExecutableBaseName();
    RegSetValueExA(key, "LocalServer32", 0, REG_SZ, reinterpret_cast<const BYTE*>(exe.c_str()), DWORD(exe.size() + 1));
    RegCloseKey(key);
}

// What the main window reaches in app/ and in the folders below it.
void InstallMainWindowHooks(CSingleInstance* instance)
{
    MainWindowHooks hooks;
    hooks.makeWatchStarter = [](HWND owner) -> CThread* { return new CStartThread(owner); };
    hooks.hideSplash = [] {
        if (g_pSplashDlg)
            g_pSplashDlg->ShowWindow(SW_HIDE);
    };
    hooks.publishWindow = [instance](CWnd* wnd) {
        if (instance)
            instance->SetMainWindow(wnd);
    };
    hooks.makeCloudSession = [](const char* user, const char* password, const char* host, int port,
                                HWND owner) -> std::unique_ptr<ICloudSession> {
        auto session = std::make_unique<CUdpLogin>(user, password, host, port);
        session->SetOwnerWnd(owner);
        session->Start();
        return session;
    };
    SetMainWindowHooks(std::move(hooks));
    RegisterSearchRecPage();
    RegisterCfgManagerPage();
    RegisterSysSettingPage();
}

} // namespace

CIPCClientApp::CIPCClientApp() : CWinApp(nullptr) {}

CIPCClientApp::~CIPCClientApp() = default;

bool CIPCClientApp::CheckElevation()
{
    return true;
}

int CIPCClientApp::GetElevationType()
{
    return 0;
}

void CIPCClientApp::RestoreScreenSaver()
{
    // Puts back what start-up found rather than forcing it on.
    SetScreenSaverActive(m_bSavedScreenSaver);
}

int CIPCClientApp::HandleFrameworkSwitches()
{
    for (const std::string& arg : m_args) {
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
            continue;
        const std::string sw = Lower(arg.substr(1));
        if (sw == "embedding" || sw == "automation")
            return TRUE;
        if (sw == "unregister" || sw == "unregserver") {
            WriteAppEntry(false);
            return FALSE;
        }
        if (sw == "register" || sw == "regserver") {
            WriteAppEntry(true);
            return FALSE;
        }
    }
    return -1;
}

BOOL CIPCClientApp::InitInstance()
{
    m_pszAppName = ExecutableBaseName();
    AppInit();

    if (!CheckElevation()) {
        std::fprintf(stderr, "需要runasadministrator\n");
        return FALSE;
    }

    m_bSavedScreenSaver = IsScreenSaverActive();
    SetScreenSaverActive(false);

    RenameOldRecordFolders();
    RecoverInterruptedRecordings();
    DeviceSimulator::Instance().LoadDemoFile();

    m_hLangDll = LoadLanguageFile((GetAppDir() + LanguageFileName(g_nLanguage)).c_str());

    std::string busy = LoadResString(228);
    m_instance = std::make_unique<CSingleInstance>(m_pszAppName);
    if (!m_instance->Acquire()) {
        MessageBoxA(nullptr, busy.c_str(), "", MB_OK);
        m_instance.reset();
        RestoreScreenSaver();
        return FALSE;
    }
    RemoveStaleConfigCopies();

    m_gdiplusToken = true;

    const int sw = HandleFrameworkSwitches();
    if (sw == TRUE)
        return TRUE; // kept running as a server, without a window
    if (sw == FALSE) {
        RestoreScreenSaver();
        return FALSE;
    }

    g_pSplashDlg = new CSplashDlg(nullptr);
    g_pSplashDlg->Create(CSplashDlg::IDD);
    g_pSplashDlg->ShowWindow(SW_SHOW);

    std::vector<const char*> argv{"", nullptr};
    argv.resize(1);
    for (const std::string& a : m_args)
        argv.push_back(a.c_str());
    if (IsAutoLoginArgs(int(argv.size()), argv.data()))
        g_bAutoLoginArg = 1;

    {
        CLoginDlg login(nullptr, 0, 0);
        if (login.DoModal() != IDOK) {
            g_pSplashDlg->DestroyWindow();
            delete g_pSplashDlg;
            g_pSplashDlg = nullptr;
            WriteLog(6, "CIPCClientApp: Login cancel");
            AppExit();
            RestoreScreenSaver();
            m_instance.reset();
            return FALSE;
        }
    }

    g_pSplashDlg->SetStatusText(LoadResString(275).c_str());

    InstallMainWindowHooks(m_instance.get());
    TS_Init();
    {
        CIPCClientDlg dlg(nullptr);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    SetMainWindowHooks({});
    TS_Release();

    g_pSplashDlg->DestroyWindow();
    delete g_pSplashDlg;
    g_pSplashDlg = nullptr;
    m_instance.reset();
    AppExit();
    RestoreScreenSaver();
    if (m_hLangDll) {
        UnloadLanguageFile();
        m_hLangDll = false;
    }
    return FALSE;
}

int CIPCClientApp::ExitInstance()
{
    return CWinApp::ExitInstance();
}
