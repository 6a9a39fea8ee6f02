// Test and bench support: runs the RTSP camera fixture and other child
// processes, offers a silent TCP peer on 127.0.0.1, and measures CPU time.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace qelmtest {

// Starts argv[0] (a full path) with the arguments that follow it. With outFd,
// the child's stdout goes to a pipe whose read end is stored there (-1 when
// nothing was started). Returns the child's pid, or 0 when it did not start.
inline pid_t Spawn(std::vector<const char*> argv, int* outFd = nullptr)
{
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (outFd) {
        *outFd = -1;
        if (pipe(fds) != 0)
            return 0;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (outFd) {
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
    }
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, const_cast<char**>(argv.data()), environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&fa);
    if (outFd) {
        close(fds[1]);
        if (pid == 0)
            close(fds[0]);
        else
            *outFd = fds[0];
    }
    return pid;
}

inline double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// User plus system CPU time spent between two samples a (earlier) and b.
inline double CpuSeconds(const rusage& a, const rusage& b)
{
    return Seconds(b.ru_utime) - Seconds(a.ru_utime) + Seconds(b.ru_stime) - Seconds(a.ru_stime);
}

// The fixture camera on 127.0.0.1, stopped at scope end. port 0 lets it pick a
// free port; extra arguments go to the script, e.g. {"--width", "1920"}.
class RtspCamera {
public:
    explicit RtspCamera(int port = 0, std::vector<std::string> extra = {}) : m_extra(std::move(extra))
    {
        Start(port);
    }
    ~RtspCamera() { Stop(); }
    RtspCamera(const RtspCamera&) = delete;
    RtspCamera& operator=(const RtspCamera&) = delete;

    // Starts the script and waits up to 15 s for its "PORT n" line.
    bool Start(int port)
    {
        Stop();
        const char* src = getenv("QELM2_TEST_SOURCE_DIR");
        std::string script = std::string(src ? src : ".") + "/tests/fixtures/rtsp_camera.py";
        std::string portArg = std::to_string(port);
        std::vector<const char*> argv = {"/usr/bin/python3", script.c_str(), "--port", portArg.c_str()};
        for (const std::string& e : m_extra)
            argv.push_back(e.c_str());
        int fd = -1;
        m_pid = Spawn(argv, &fd);
        if (m_pid <= 0) {
            m_pid = 0;
            return false;
        }
        std::string line;
        using Clock = std::chrono::steady_clock;
        auto until = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < until && line.find('\n') == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[128];
                ssize_t n = read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                line.append(buf, static_cast<size_t>(n));
            }
        }
        close(fd);
        if (sscanf(line.c_str(), "PORT %d", &m_port) != 1) {
            Stop();
            return false;
        }
        return true;
    }

    // SIGTERM, then SIGKILL when the camera has not ended within 2 s.
    void Stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 40; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = 0;
                return;
            }
            usleep(50000);
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }

    bool Running() const { return m_pid > 0; }
    int Port() const { return m_port; }
    std::string Url(const char* mount) const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + mount; }

private:
    std::vector<std::string> m_extra;
    pid_t m_pid = 0;
    int m_port = 0;
};

// A TCP listener on 127.0.0.1 that accepts nothing and answers nothing:
// connections stay in its backlog. port is 0 when it could not listen.
struct SilentServer {
    int fd = -1;
    int port = 0;
    SilentServer()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~SilentServer()
    {
        if (fd >= 0)
            close(fd);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
};

} // namespace qelmtest
