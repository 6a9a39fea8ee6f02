// Watchdog start: log lines as operators search for them.
#include "app/start_thread.h"

#include "core/helpers.h"
#include "core/log.h"
#include "platform/message.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

int StartProgramHidden(const char* path)
{
    if (::access(path, X_OK) != 0)
        return errno;
    // The watchdog learns which process to watch (the intermediate child
    // below runs this program too, briefly).
    std::vector<std::string> envText;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "QELM2_WATCH_CLIENT=", 19) != 0)
            envText.emplace_back(*e);
    }
    envText.push_back("QELM2_WATCH_CLIENT=" + std::to_string(::getpid()));
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    // A grandchild in its own session: it outlives the client and leaves no zombie.
    pid_t child = ::fork();
    if (child < 0)
        return errno;
    if (child == 0) {
        ::setsid();
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(path), nullptr};
        int rc = ::posix_spawn(&pid, path, nullptr, nullptr, argv, envp.data());
        ::_exit(rc == 0 ? 0 : 100 + (rc & 0x7F));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    return WIFEXITED(status) && WEXITSTATUS(status) >= 100 ? WEXITSTATUS(status) - 100 : ECHILD;
}

int CStartThread::Run()
{
    // Only our own watchdog counts: another install's (or another test
    // copy's) watches another client.
    if (IsOwnProcessRunning(kWatchName)) {
        WriteLog(6, "watch is running.");
    } else {
        char self[PATH_MAX] = {};
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
        std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
        size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            path.resize(slash + 1);
            path += kWatchName;
            WriteLog(6, "start watch: %s.", path.c_str());
            int err = StartProgramHidden(path.c_str());
            if (err == 0)
                WriteLog(6, "start watch success.");
            else
                WriteLog(6, "start watch failed, error=%d. ", err);
        }
    }
    ::PostMessage(m_hOwner, WM_START_THREAD_DONE, 0, 0);
    return 1;
}
