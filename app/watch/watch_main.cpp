// The watchdog: watches the client beside it and starts it again when it
// disappears. The client ends the watchdog before an orderly exit, so a
// client that vanishes while the watchdog lives has crashed or been killed.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

#ifndef QELM2_CLIENT_NAME
#define QELM2_CLIENT_NAME "Corvane"
#endif

namespace {

std::string ReadLink(const std::string& path)
{
    char buf[PATH_MAX] = {};
    ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Pid of a process of this user running the client program, or 0.
pid_t FindClient(const std::string& clientPath)
{
    pid_t found = 0;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return 0;
    while (dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end)
            continue;
        if (ReadLink("/proc/" + std::string(e->d_name) + "/exe") == clientPath) {
            found = static_cast<pid_t>(pid);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool Alive(pid_t pid)
{
    // A zombie child of ours counts as gone.
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
        return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

pid_t StartClient(const std::string& clientPath)
{
    // Started again without waiting at the login.
    char arg0[] = QELM2_CLIENT_NAME;
    char arg1[] = "autologin";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, clientPath.c_str(), nullptr, nullptr, argv, environ) != 0)
        return 0;
    return pid;
}

} // namespace

int main()
{
    std::string self = ReadLink("/proc/self/exe");
    size_t slash = self.rfind('/');
    if (slash == std::string::npos)
        return 1;
    const std::string clientPath = self.substr(0, slash + 1) + QELM2_CLIENT_NAME;

    // The client that started us must show up soon; otherwise there is nothing to watch.
    pid_t client = 0;
    if (const char* given = std::getenv("QELM2_WATCH_CLIENT")) {
        long pid = std::strtol(given, nullptr, 10);
        if (pid > 0 && ReadLink("/proc/" + std::to_string(pid) + "/exe") == clientPath)
            client = static_cast<pid_t>(pid);
    }
    for (int i = 0; i < 100 && !client; ++i) {
        client = FindClient(clientPath);
        if (!client)
            ::usleep(100 * 1000);
    }
    if (!client)
        return 0;

    for (;;) {
        ::usleep(500 * 1000);
        if (Alive(client))
            continue;
        // Another copy may already have been started (by hand): watch that one.
        pid_t other = FindClient(clientPath);
        client = other ? other : StartClient(clientPath);
        if (!client)
            return 1;
    }
}
