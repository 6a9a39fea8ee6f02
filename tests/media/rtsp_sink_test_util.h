// Test helpers for the stream sinks: the RTSP camera fixture on 127.0.0.1,
// a silent TCP peer, windows that record what the sinks post to them, and
// the sinks' targets built from such windows.
#pragma once

#include "controls/alarm_info.h"
#include "controls/control_registry.h"
#include "media/sink_targets.h"
#include "platform/wnd.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace rtspsinktest {

using Clock = std::chrono::steady_clock;

// Makes the stand-in controls creatable (once per process).
inline void EnableControls()
{
    static bool done = false;
    if (done)
        return;
    qelm::RegisterStandInFactories();
    for (const char* c : {qelm::kClsidRtspPull, qelm::kClsidAviRecord, qelm::kClsidStreamPlayer})
        qelm::EnableControlClass(c);
    done = true;
}

// Runs the UI event loop until pred holds or ms pass.
inline bool WaitFor(const std::function<bool()>& pred, int ms)
{
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

inline void Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

// The fixture camera (tests/fixtures/rtsp_camera.py), stopped at scope end.
class RtspCamera {
public:
    explicit RtspCamera(int port = 0, std::vector<std::string> extra = {}) : m_extra(std::move(extra))
    {
        Start(port);
    }
    ~RtspCamera() { Stop(); }
    RtspCamera(const RtspCamera&) = delete;
    RtspCamera& operator=(const RtspCamera&) = delete;

    bool Start(int port)
    {
        const char* src = getenv("QELM2_TEST_SOURCE_DIR");
        std::string script = std::string(src ? src : ".") + "/tests/fixtures/rtsp_camera.py";
        std::string portArg = std::to_string(port);
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        std::vector<const char*> argv = {"/usr/bin/python3", script.c_str(), "--port", portArg.c_str()};
        for (const std::string& e : m_extra)
            argv.push_back(e.c_str());
        argv.push_back(nullptr);
        int rc = posix_spawn(&m_pid, argv[0], &fa, nullptr, const_cast<char**>(argv.data()), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            m_pid = 0;
            return false;
        }
        std::string line;
        auto until = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < until && line.find('\n') == std::string::npos) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[128];
                ssize_t n = read(fds[0], buf, sizeof buf);
                if (n <= 0)
                    break;
                line.append(buf, static_cast<size_t>(n));
            }
        }
        close(fds[0]);
        if (sscanf(line.c_str(), "PORT %d", &m_port) != 1) {
            Stop();
            return false;
        }
        return true;
    }

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

// A TCP listener on 127.0.0.1 that accepts nothing and answers nothing.
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
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~SilentServer()
    {
        if (fd >= 0)
            close(fd);
    }
};

// One message a RecorderWnd received, with copies of its payload.
struct Posted {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string text;        // WM_STREAM_STATUS: the DevId block; text messages: the text
    size_t blockZeros = 0;   // WM_STREAM_STATUS: bytes after the DevId that are 0
    _ALARM_SOURCE source{};
    _ALARM_INFO alarm{};
};

// A real window that keeps every message posted to it and frees the payloads
// the way their handlers do.
class RecorderWnd : public CWnd {
public:
    explicit RecorderWnd(CWnd* parent = nullptr, const CRect& rc = CRect(0, 0, 320, 240))
    {
        Create(parent, rc);
        ShowWindow(SW_SHOW);
    }
    std::vector<Posted> got;

    int Count(UINT msg) const
    {
        int n = 0;
        for (const Posted& p : got)
            n += p.msg == msg;
        return n;
    }

    BOOL PreTranslateMessage(MSG* m) override
    {
        Posted p;
        p.msg = m->message;
        p.wParam = m->wParam;
        p.lParam = m->lParam;
        switch (m->message) {
        case WM_STREAM_STATUS: {
            const char* block = reinterpret_cast<const char*>(m->wParam);
            p.text.assign(block, strnlen(block, 128));
            for (size_t i = p.text.size(); i < 128; ++i)
                p.blockZeros += block[i] == 0;
            delete[] block;
            break;
        }
        case WM_CHANNEL_STATES:
        case WM_PTZ_RESPONSE:
            p.text = reinterpret_cast<const char*>(m->lParam);
            qelm::FreeText(reinterpret_cast<char*>(m->lParam));
            break;
        case WM_DEV_ALARM: {
            auto* src = reinterpret_cast<_ALARM_SOURCE*>(m->wParam);
            auto* info = reinterpret_cast<_ALARM_INFO*>(m->lParam);
            p.source = *src;
            p.alarm = *info;
            delete src;
            delete info;
            break;
        }
        case WM_STOP_TALK:
            break;
        default:
            return CWnd::PreTranslateMessage(m);
        }
        got.push_back(p);
        return TRUE;
    }
};

// The sinks' targets: a main window and a PTZ panel that record, and panes
// marked as alarm or map panes.
class Targets : public IMediaSinkTargets {
public:
    RecorderWnd main;
    RecorderWnd ptz;
    std::set<CWnd*> alarmPanes, mapPanes;
    std::vector<CWnd*> resetPanes;

    Targets() { SetMediaSinkTargets(this); }
    ~Targets() override { SetMediaSinkTargets(nullptr); }

    HWND MainWnd() override { return main.GetSafeHwnd(); }
    HWND PtzPanelWnd() override { return ptz.GetSafeHwnd(); }
    HWND SearchRecWnd() override { return nullptr; }
    HWND MaintPageWnd() override { return nullptr; }
    void OnNVRSpeakMediaData(int32_t, const uint8_t*, int32_t, const int32_t*) override {}
    int OnNVRSpeakParam(int32_t, char* xml) override
    {
        qelm::FreeText(xml);
        return 0;
    }
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t, int32_t) override {}
    bool IsAlarmPane(CWnd* area) override { return alarmPanes.count(area) != 0; }
    bool IsMapPane(CWnd* area) override { return mapPanes.count(area) != 0; }
    void ResetWatchInfo(CWnd* area) override { resetPanes.push_back(area); }
};

} // namespace rtspsinktest
