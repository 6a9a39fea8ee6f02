#include "controls/shell_execute.h"

#include "controls/journal.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <mutex>
#include <sys/stat.h>

namespace {
std::mutex g_mutex;
ShellOpener g_opener;

constexpr intptr_t kFileNotFound = 2;
constexpr intptr_t kNoAssociation = 31;
constexpr intptr_t kOpened = 42;

intptr_t DefaultOpen(const std::string& file, const std::string&)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return kNoAssociation;
    return QProcess::startDetached(opener, {QString::fromStdString(file)}) ? kOpened : kNoAssociation;
}
} // namespace

void SetShellOpener(ShellOpener opener)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_opener = std::move(opener);
}

intptr_t ShellExecuteA(HWND, const char* verb, const char* file, const char* params, const char* dir, int show)
{
    intptr_t result = kFileNotFound;
    struct stat st{};
    if (file && *file && ::stat(file, &st) == 0 && S_ISREG(st.st_mode)) {
        ShellOpener opener;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            opener = g_opener;
        }
        result = opener ? opener(file, params ? params : "") : DefaultOpen(file, params ? params : "");
    }
    qelm::Journal::Call("ShellExecuteA", {verb, file, params, dir, show}, static_cast<long long>(result));
    return result;
}
