#include "platform/winapp.h"

#include "platform/automation.h"

#include <QApplication>

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* pszAppName) : m_pszAppName(pszAppName ? pszAppName : "")
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

int CWinApp::Run(int argc, char** argv)
{
    m_argc = argc;
    if (!QApplication::instance())
        m_qtApp = std::make_unique<QApplication>(m_argc, argv);
    if (!m_pszAppName.empty())
        QApplication::setApplicationName(QString::fromStdString(m_pszAppName));
    // Windows here hide rather than close; the program ends when InitInstance says so.
    QApplication::setQuitOnLastWindowClosed(false);

    m_args.clear();
    m_lpCmdLine.clear();
    for (int i = 1; i < argc; ++i) {
        m_args.emplace_back(argv[i]);
        if (i > 1)
            m_lpCmdLine += ' ';
        m_lpCmdLine += argv[i];
    }

    qelm::StartAutomationFromEnvironment();
    if (InitInstance())
        QApplication::exec();
    const int code = ExitInstance();
    qelm::StopAutomation();
    return code;
}
