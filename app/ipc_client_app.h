// The application object: the whole life of the process runs in InitInstance.
#pragma once

#include "platform/winapp.h"

#include <memory>
#include <string>

class CSingleInstance;

class CIPCClientApp : public CWinApp {
public:
    CIPCClientApp();
    ~CIPCClientApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // No elevation exists here: the answer a system without UAC gives.
    bool CheckElevation();
    int GetElevationType();

    bool m_gdiplusToken = false; // drawing needs no start-up here; kept as "started"
    bool m_hLangDll = false;     // a language file was loaded

private:
    // The framework's switches; -1 none, else what InitInstance returns.
    int HandleFrameworkSwitches();
    void RestoreScreenSaver();

    std::unique_ptr<CSingleInstance> m_instance;
    bool m_bSavedScreenSaver = true;
};

// Where the program's own entry lives in the registry hive.
inline constexpr const char kAppIdKey[] = "AppID\\Corvane.exe";
