// Tests of the device control's real back end: the RTSP log-in over a table
// of peers (the camera fixture with and without a log-in, silent, garbage,
// huge and closed peers), loopback confinement, and the control's sessions
// for devices the simulator does not list.
#include "controls/device_real.h"
#include "controls/device_sim.h"

#include "tests/support/rtsp_camera.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace qelm::realdev;

namespace {

// A TCP peer on 127.0.0.1 that reads each request up to its blank line and
// answers what `answer` returns for it (nothing: keep silent).
class ScriptPeer {
public:
    explicit ScriptPeer(std::function<std::string(const std::string&)> answer) : m_answer(std::move(answer))
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_fd, 8) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(port) + "/mpeg4"; }
    int port = 0;

private:
    void Serve()
    {
        std::vector<int> clients;
        std::vector<std::string> pending;
        while (!m_stop) {
            std::vector<pollfd> fds{{m_fd, POLLIN, 0}};
            for (int c : clients)
                fds.push_back({c, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                clients.push_back(accept(m_fd, nullptr, nullptr));
                pending.emplace_back();
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buf[4096];
                const ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0)
                    continue;
                std::string& p = pending[i - 1];
                p.append(buf, size_t(n));
                size_t end;
                while ((end = p.find("\r\n\r\n")) != std::string::npos) {
                    const std::string reply = m_answer(p.substr(0, end + 4));
                    p.erase(0, end + 4);
                    for (size_t sent = 0; sent < reply.size();) {
                        const ssize_t w = send(fds[i].fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                        if (w <= 0)
                            break;
                        sent += size_t(w);
                    }
                }
            }
        }
        for (int c : clients)
            close(c);
    }

    std::function<std::string(const std::string&)> m_answer;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::string CSeqOf(const std::string& request)
{
    const size_t p = request.find("CSeq: ");
    return p == std::string::npos ? "0" : request.substr(p + 6, request.find("\r\n", p) - p - 6);
}

RtspLimits Short()
{
    RtspLimits l;
    l.connectMs = 1500;
    l.requestMs = 1500;
    l.exchangeMs = 4000;
    return l;
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(RtspUrlTest, PartsAndRefusals)
{
    struct Case {
        const char* url;
        bool ok;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"rtsp://127.0.0.1:8554/mpeg4", true, "127.0.0.1", 8554, "/mpeg4"},
        {"rtsp://admin:pw@127.0.0.1/live", true, "127.0.0.1", 554, "/live"},
        {"RTSP://[::1]:9000", true, "::1", 9000, "/"},
        {"rtsp://127.0.0.1:0/x", false, "", 0, ""},
        {"rtsp://127.0.0.1:99999/x", false, "", 0, ""},
        {"rtsp://127.0.0.1:12ab/x", false, "", 0, ""},
        {"http://127.0.0.1/x", false, "", 0, ""},
        {"rtsp:///x", false, "", 0, ""},
        {"rtsp://[::1/x", false, "", 0, ""},
    };
    for (const Case& c : cases) {
        RtspUrl u;
        EXPECT_EQ(ParseRtspUrl(c.url, &u), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(u.host, c.host) << c.url;
            EXPECT_EQ(u.port, c.port) << c.url;
            EXPECT_EQ(u.path, c.path) << c.url;
        }
    }
}

// The log-in against peers that answer, refuse, stay silent or misbehave.
TEST(RtspProbeTest, LoginOverPeerTable)
{
    ScriptPeer open([](const std::string& r) {
        return "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(r) + "\r\nContent-Length: 0\r\n\r\n";
    });
    // Always refuses, even with credentials: a wrong password.
    ScriptPeer refusing([](const std::string& r) {
        if (r.rfind("OPTIONS", 0) == 0)
            return "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(r) + "\r\n\r\n";
        return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) + "\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
    });
    ScriptPeer forbidden([](const std::string& r) {
        return std::string(r.rfind("OPTIONS", 0) == 0 ? "RTSP/1.0 200 OK" : "RTSP/1.0 403 Forbidden") +
               "\r\nCSeq: " + CSeqOf(r) + "\r\n\r\n";
    });
    ScriptPeer notFound([](const std::string& r) {
        return std::string(r.rfind("OPTIONS", 0) == 0 ? "RTSP/1.0 200 OK" : "RTSP/1.0 404 Not Found") +
               "\r\nCSeq: " + CSeqOf(r) + "\r\n\r\n";
    });
    ScriptPeer garbage([](const std::string&) { return std::string("SSH-2.0-OpenSSH\r\n\r\nnonsense\r\n\r\n"); });
    ScriptPeer httpPeer([](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); });
    ScriptPeer huge([](const std::string& r) {
        return "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(r) + "\r\nContent-Length: 400000\r\n\r\n" +
               std::string(400000, 'x');
    });
    ScriptPeer silent([](const std::string&) { return std::string(); });
    qelmtest::SilentServer backlog;  // never even accepts
    int closedPort = 0;
    {
        qelmtest::SilentServer gone;
        closedPort = gone.port;
    }
    const std::string closedUrl = "rtsp://127.0.0.1:" + std::to_string(closedPort) + "/mpeg4";

    struct Case {
        const char* name;
        std::string url;
        LinkState want;
        const char* reason;  // a part of the logged reason
    } cases[] = {
        {"answers", open.Url(), LinkState::Online, ""},
        {"wrong password", refusing.Url(), LinkState::Refused, "401"},
        {"forbidden", forbidden.Url(), LinkState::Refused, "403"},
        {"no such stream", notFound.Url(), LinkState::Lost, "404"},
        {"garbage", garbage.Url(), LinkState::Lost, "not an RTSP answer"},
        {"an HTTP server", httpPeer.Url(), LinkState::Lost, "not an RTSP answer"},
        {"huge answer", huge.Url(), LinkState::Lost, "larger than"},
        {"silent", silent.Url(), LinkState::Lost, "no answer in time"},
        {"never accepts", "rtsp://127.0.0.1:" + std::to_string(backlog.port) + "/mpeg4", LinkState::Lost,
         "no answer in time"},
        {"closed port", closedUrl, LinkState::Lost, "connect"},
        {"not RTSP", "http://127.0.0.1/x", LinkState::Lost, "not an RTSP URL"},
    };
    for (const Case& c : cases) {
        RtspProbe probe({c.url, "admin", "admin"}, Short());
        const Outcome o = probe.Login();
        EXPECT_EQ(o.state, c.want) << c.name << ": " << o.reason;
        EXPECT_NE(o.reason.find(c.reason), std::string::npos) << c.name << ": " << o.reason;
    }
}

TEST(RtspProbeTest, AddressOutsideLoopbackIsNotContacted)
{
    qelmtest::ScopedEnv env("QELM2_LOOPBACK_ONLY", "1");
    for (const char* url : {"rtsp://10.1.2.3:554/mpeg4", "rtsp://example.com/mpeg4"}) {
        RtspProbe probe({url, "admin", "admin"}, Short());
        const Outcome o = probe.Login();
        EXPECT_EQ(o.state, LinkState::Lost) << url;
        EXPECT_TRUE(o.permanent) << url;
        EXPECT_NE(o.reason.find("network guard"), std::string::npos) << o.reason;
    }
}

// The camera fixture, asking for no log-in, Basic, Digest or either.
TEST(RtspProbeTest, LoginAtTheCameraFixture)
{
    struct Case {
        std::vector<std::string> args;
        const char* user;
        const char* password;
        LinkState want;
    } cases[] = {
        {{}, "", "", LinkState::Online},
        {{"--user", "admin", "--password", "s3cret", "--auth", "basic"}, "admin", "s3cret", LinkState::Online},
        {{"--user", "admin", "--password", "s3cret", "--auth", "basic"}, "admin", "wrong", LinkState::Refused},
        {{"--user", "admin", "--password", "s3cret", "--auth", "digest"}, "admin", "s3cret", LinkState::Online},
        {{"--user", "admin", "--password", "s3cret", "--auth", "digest"}, "admin", "wrong", LinkState::Refused},
        {{"--user", "admin", "--password", "s3cret"}, "admin", "s3cret", LinkState::Online},
    };
    for (const Case& c : cases) {
        qelmtest::RtspCamera camera(0, c.args);
        ASSERT_TRUE(camera.Running());
        RtspProbe probe({camera.Url("/mpeg4"), c.user, c.password}, {});
        const Outcome o = probe.Login();
        EXPECT_EQ(o.state, c.want) << c.args.size() << " " << c.password << ": " << o.reason;
        if (o.state == LinkState::Online) {  // the kept connection answers the cheap check
            EXPECT_EQ(probe.Check().state, LinkState::Online);
        }
    }
}

// A watched camera: online, lost when it stops, online again when it is back.
TEST(DeviceLinkTest, FollowsTheCameraGoingAndComing)
{
    qelmtest::RtspCamera camera;
    ASSERT_TRUE(camera.Running());
    std::mutex m;
    std::vector<LinkState> seen;
    auto last = [&] {
        std::lock_guard<std::mutex> lock(m);
        return seen.empty() ? LinkState::Refused : seen.back();
    };
    DeviceLink::Timing timing;
    timing.checkMs = 200;
    timing.retryCapMs = 400;
    DeviceLink link({camera.Url("/mpeg4"), "", ""},
                    [&](const Outcome& o) {
                        std::lock_guard<std::mutex> lock(m);
                        seen.push_back(o.state);
                    },
                    Short(), timing);
    ASSERT_TRUE(WaitFor([&] { return last() == LinkState::Online; }, 20000));
    const int port = camera.Port();
    camera.Stop();
    ASSERT_TRUE(WaitFor([&] { return last() == LinkState::Lost; }, 20000));
    // The camera on its old port: a peer that took the port meanwhile is
    // not the program's fault.
    if (!camera.Start(port))
        GTEST_SKIP() << "port " << port << " was taken meanwhile";
    ASSERT_TRUE(WaitFor([&] { return last() == LinkState::Online; }, 20000));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(seen, (std::vector<LinkState>{LinkState::Online, LinkState::Lost, LinkState::Online}));
}

TEST(DeviceLinkTest, RefusedLoginEndsTheWatchAndStopDoesNotWaitForThePeer)
{
    ScriptPeer refusing([](const std::string& r) {
        return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) + "\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n";
    });
    std::atomic<int> reports{0};
    DeviceLink refused({refusing.Url(), "admin", "bad"}, [&](const Outcome& o) {
        EXPECT_EQ(o.state, LinkState::Refused);
        ++reports;
    });
    ASSERT_TRUE(WaitFor([&] { return refused.Finished(); }, 20000));
    EXPECT_EQ(reports.load(), 1);

    // A silent peer with a minute-long time-out: the stop still ends the
    // worker at once (well before the peer's time-out could).
    ScriptPeer silent([](const std::string&) { return std::string(); });
    RtspLimits slow;
    slow.requestMs = slow.exchangeMs = 60000;
    QElapsedTimer t;
    t.start();
    {
        DeviceLink link({silent.Url(), "", ""}, nullptr, slow, {});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_LT(t.elapsed(), 30000);
}

namespace {

struct StatusSink : IDeviceControlEvents {
    std::vector<std::pair<int32_t, int32_t>> status;  // id, type
    std::vector<std::pair<int32_t, int32_t>> aux;     // id, packed code
    void StatusEvent(int32_t id, int32_t type, const char*) override { status.emplace_back(id, type); }
    void PTZResponse(int32_t, int32_t, const char*) override {}
    void AUXResponse(int32_t id, int32_t code, const char*) override { aux.emplace_back(id, code); }
    void AlarmEvent(int32_t, const uint8_t*, int32_t) override {}
    void MediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void MediaParamRecv(int32_t, const char*, int32_t) override {}
    void NvrReplayEnd(int32_t, int32_t, int32_t) override {}
    void TimeDownloadProgress(int32_t, int32_t) override {}
    int32_t Last(int32_t id) const
    {
        for (auto it = status.rbegin(); it != status.rend(); ++it)
            if (it->first == id)
                return it->second;
        return 0;
    }
};

} // namespace

// Devices the simulator does not list: logged in over their stream, refused
// with a wrong password, lost without a stream; what RTSP cannot carry is
// answered as a refusing device answers.
TEST(DeviceControlRealTest, SessionsOfUnlistedDevices)
{
    DeviceSimulator::Instance().Clear();
    qelmtest::RtspCamera camera(0, {"--user", "admin", "--password", "admin"});
    ASSERT_TRUE(camera.Running());
    StatusSink sink;
    DeviceControl control;
    control.Advise(&sink);
    const std::string url = camera.Url("/mpeg4");
    const int32_t good = control.AddDevice("127.0.0.1", 5000, "admin", "admin");
    EXPECT_EQ(control.SetStreamUrl(good, url.c_str()), 0);
    const int32_t bad = control.AddDevice("127.0.0.1", 5000, "admin", "nope");
    EXPECT_EQ(control.SetStreamUrl(bad, url.c_str()), 0);
    const int32_t none = control.AddDevice("127.0.0.1", 5001, "admin", "admin");  // no stream given
    EXPECT_EQ(control.SetStreamUrl(999, url.c_str()), -1);

    ASSERT_TRUE(WaitFor([&] { return sink.Last(good) && sink.Last(bad) && sink.Last(none); }, 20000));
    EXPECT_EQ(sink.Last(good), kDevStatusLoggedIn);
    EXPECT_EQ(sink.Last(bad), kDevStatusRefused);
    EXPECT_EQ(sink.Last(none), kDevStatusLost);
    EXPECT_TRUE(control.IsReal(good));
    EXPECT_EQ(control.SetStreamUrl(good, url.c_str()), -1);  // handed over already

    // Taken, and answered as refused (no maintenance channel over RTSP).
    EXPECT_EQ(control.WriteAUXStringEx(good, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""), 0);
    EXPECT_EQ(control.WriteAUXStringEx(none, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""), -1);
    EXPECT_EQ(control.PtzControl(good, "<cmd>up</cmd>"), -1);
    ASSERT_TRUE(WaitFor([&] { return !sink.aux.empty(); }, 5000));
    EXPECT_EQ(sink.aux.front(), std::make_pair(good, PackAuxCode(-1, 1012)));

    EXPECT_EQ(control.DelDevice(good), 0);
    EXPECT_EQ(control.DelDevice(good), -1);
    control.Unadvise();
}

// A device the simulator lists stays simulated even when a stream is given.
TEST(DeviceControlRealTest, ListedDevicesStaySimulated)
{
    DeviceSimulator& sim = DeviceSimulator::Instance();
    sim.Clear();
    SimDevice d;
    d.address = "127.0.0.1";
    d.port = 5555;
    d.user = "admin";
    d.password = "admin";
    sim.AddDevice(d);
    StatusSink sink;
    DeviceControl control;
    control.Advise(&sink);
    const int32_t id = control.AddDevice("127.0.0.1", 5555, "admin", "admin");
    control.SetStreamUrl(id, "rtsp://127.0.0.1:1/none");
    ASSERT_TRUE(WaitFor([&] { return sink.Last(id) != 0; }, 5000));
    EXPECT_EQ(sink.Last(id), kDevStatusLoggedIn);
    EXPECT_FALSE(control.IsReal(id));
    control.Unadvise();
    sim.Clear();
}
