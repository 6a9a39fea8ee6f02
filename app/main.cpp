// The program's entry point: the application object runs the whole process.
#include "app/ipc_client_app.h"
#include "core/crash_report.h"

namespace {

// Fatal signals of this process append an entry to the crash report.
CExceptionReport g_exceptionReport;

} // namespace

int main(int argc, char** argv)
{
    CIPCClientApp app;
    return app.Run(argc, argv);
}
