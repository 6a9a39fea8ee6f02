// The application object: owns the Qt application, runs InitInstance (where a
// dialog-based program runs its main window modally) and ExitInstance.
#pragma once

#include "platform/types.h"

#include <memory>
#include <string>
#include <vector>

class CWnd;
class QApplication;

class CWinApp {
public:
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // Called by main(): creates the Qt application (unless one exists), starts
    // the automation endpoint when asked for, runs InitInstance, then the event
    // loop when InitInstance returned TRUE, then ExitInstance.
    int Run(int argc, char** argv);

    std::string m_pszAppName;
    std::string m_lpCmdLine;           // the arguments after the program name, blank-separated
    std::vector<std::string> m_args;   // the same, one by one
    CWnd* m_pMainWnd = nullptr;

private:
    std::unique_ptr<QApplication> m_qtApp;
    int m_argc = 0;
};

CWinApp* AfxGetApp();
