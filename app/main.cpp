// The program's entry point: the application object runs the first window.
#include "app/welcome_dlg.h"
#include "core/crash_report.h"
#include "platform/winapp.h"

namespace {

// Fatal signals of this process append an entry to the crash report.
CExceptionReport g_exceptionReport;

class CClientApp : public CWinApp {
public:
    CClientApp() : CWinApp("Corvane") {}

    BOOL InitInstance() override
    {
        CWelcomeDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
        return FALSE;
    }
};

} // namespace

int main(int argc, char** argv)
{
    CClientApp app;
    return app.Run(argc, argv);
}
