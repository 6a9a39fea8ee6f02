// The real back end of the device control: RTSP log-in and supervision.
#include "controls/device_real.h"

#include "controls/onvif_http.h"
#include "controls/onvif_soap.h"
#include "platform/logsink.h"
#include "platform/netguard.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <random>
#include <set>

namespace qelm::realdev {

namespace {

using Clock = std::chrono::steady_clock;

bool Stopped(const std::atomic<bool>* stop) { return stop && stop->load(); }

// Waits for one socket event in 50 ms slices so that a stop is seen.
// 1 ready, 0 timed out or stopped, -1 error.
int WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* stop)
{
    for (;;) {
        if (Stopped(stop))
            return 0;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, int(std::min<long long>(left, 50)));
        if (r > 0)
            return 1;
        if (r < 0 && errno != EINTR)
            return -1;
    }
}

Clock::time_point Earlier(Clock::time_point a, Clock::time_point b) { return a < b ? a : b; }

std::string CNonce()
{
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    std::lock_guard<std::mutex> lock(m);
    char buf[17];
    snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return buf;
}

bool StartsWithNoCase(const std::string& s, const char* prefix)
{
    const size_t n = strlen(prefix);
    return s.size() >= n && strncasecmp(s.c_str(), prefix, n) == 0;
}

} // namespace

bool ParseRtspUrl(const std::string& url, RtspUrl* out)
{
    static const char kScheme[] = "rtsp://";
    if (!out || url.size() <= sizeof kScheme - 1 || !StartsWithNoCase(url, kScheme))
        return false;
    std::string rest = url.substr(sizeof kScheme - 1);
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    RtspUrl u;
    u.path = slash == std::string::npos ? "/" : rest.substr(slash);
    if (const size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);
    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        u.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return false;
            portText = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.find(':');
        u.host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
    }
    if (u.host.empty())
        return false;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        u.port = atoi(portText.c_str());
        if (u.port <= 0 || u.port > 65535)
            return false;
    }
    *out = std::move(u);
    return true;
}

void LogOnce(const std::string& key, const std::string& line)
{
    static std::mutex m;
    static std::set<std::string> seen;
    {
        std::lock_guard<std::mutex> lock(m);
        if (seen.size() > 4096 || !seen.insert(key).second)
            return;
    }
    qelm::PlatformLog(4, "%s", line.c_str());
}

// ---- RtspProbe ----

struct RtspProbe::Answer {
    int status = 0;
    std::string challenge;
};

RtspProbe::RtspProbe(DeviceAccess access, RtspLimits limits, const std::atomic<bool>* stop)
    : m_access(std::move(access)), m_limits(limits), m_stop(stop)
{
}

RtspProbe::~RtspProbe() { Close(); }

void RtspProbe::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int RtspProbe::Connect(std::string* reason, bool* permanent)
{
    Close();
    RtspUrl u;
    if (!ParseRtspUrl(m_access.url, &u)) {
        *reason = "not an RTSP URL: " + m_access.url;
        *permanent = true;
        return -1;
    }
    // Names are looked up only where the guard allows them, so nothing
    // leaves the machine under loopback confinement.
    if (!qelm::NetAllowedHost(u.host.c_str(), "device control")) {
        *reason = "refused by the network guard: " + u.host;
        *permanent = true;
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(u.port);
    if (::getaddrinfo(u.host.c_str(), port.c_str(), &hints, &list) != 0 || !list) {
        *reason = "cannot resolve " + u.host;
        return -1;
    }
    const int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        freeaddrinfo(list);
        *reason = "no socket";
        return -1;
    }
    const int rc = qelm::GuardedConnect(fd, list->ai_addr, list->ai_addrlen, "device control");
    const int err = errno;
    freeaddrinfo(list);
    if (rc != 0) {
        int soErr = err;
        if (err == EINPROGRESS) {
            const auto deadline = Clock::now() + std::chrono::milliseconds(m_limits.connectMs);
            if (WaitFor(fd, POLLOUT, deadline, m_stop) == 1) {
                socklen_t len = sizeof soErr;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0)
                    soErr = EIO;
            } else {
                soErr = ETIMEDOUT;
            }
        }
        if (soErr != 0) {
            ::close(fd);
            *reason = "connect to " + u.host + ":" + port + " failed: " + strerror(soErr);
            return -1;
        }
    }
    m_fd = fd;
    m_cseq = 0;
    return 0;
}

bool RtspProbe::Request(const std::string& method, const std::string& uri, const std::string& extra, Answer* answer,
                        Clock::time_point deadline, std::string* reason)
{
    if (m_fd < 0) {
        *reason = "not connected";
        return false;
    }
    deadline = Earlier(deadline, Clock::now() + std::chrono::milliseconds(m_limits.requestMs));
    const std::string request = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(++m_cseq) +
                                "\r\nUser-Agent: qelm2\r\n" + extra + "\r\n";
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(m_fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            *reason = method + ": the connection is gone";
            return false;
        }
        if (WaitFor(m_fd, POLLOUT, deadline, m_stop) != 1) {
            *reason = method + ": no room to send";
            return false;
        }
    }
    std::string raw;
    char buf[16384];
    for (;;) {
        if (!raw.empty()) {
            onvif::HttpReply reply;
            bool needMore = false;
            const int p = onvif::ParseHttpReply(raw, false, &reply, &needMore, "RTSP/");
            if (p == onvif::kHttpOk) {
                answer->status = reply.status;
                answer->challenge = reply.wwwAuthenticate;
                return true;
            }
            if (!needMore) {
                *reason = method + ": not an RTSP answer";
                return false;
            }
        }
        const int w = WaitFor(m_fd, POLLIN, deadline, m_stop);
        if (w != 1) {
            *reason = method + (w == 0 ? ": no answer in time" : ": the connection failed");
            return false;
        }
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n == 0) {
            *reason = method + ": the device closed the connection";
            return false;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            *reason = method + ": " + strerror(errno);
            return false;
        }
        if (raw.size() + size_t(n) > m_limits.maxAnswer) {
            *reason = method + ": the answer is larger than " + std::to_string(m_limits.maxAnswer) + " bytes";
            return false;
        }
        raw.append(buf, size_t(n));
    }
}

Outcome RtspProbe::Login()
{
    Outcome out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_limits.exchangeMs);
    if (Connect(&out.reason, &out.permanent) != 0)
        return out;
    const std::string& uri = m_access.url;
    Answer a;
    if (!Request("OPTIONS", uri, {}, &a, deadline, &out.reason))
        return Close(), out;
    m_authorization.clear();
    const std::string accept = "Accept: application/sdp\r\n";
    if (!Request("DESCRIBE", uri, accept, &a, deadline, &out.reason))
        return Close(), out;
    if (a.status == 401 && !a.challenge.empty()) {
        onvif::DigestChallenge c;
        if (StartsWithNoCase(a.challenge, "Digest") && onvif::ParseDigestChallenge(a.challenge, &c))
            m_authorization = "Authorization: " +
                              onvif::DigestAuthorization(c, m_access.user, m_access.password, "DESCRIBE", uri,
                                                         CNonce(), 1) +
                              "\r\n";
        else if (StartsWithNoCase(a.challenge, "Basic"))
            m_authorization =
                "Authorization: Basic " + onvif::Base64Encode(m_access.user + ":" + m_access.password) + "\r\n";
        if (!m_authorization.empty() &&
            !Request("DESCRIBE", uri, accept + m_authorization, &a, deadline, &out.reason))
            return Close(), out;
    }
    if (a.status >= 200 && a.status < 300) {
        out.state = LinkState::Online;
        return out;
    }
    Close();
    if (a.status == 401 || a.status == 403) {
        out.state = LinkState::Refused;
        out.reason = "the device refused the log-in (" + std::to_string(a.status) + ")";
    } else {
        out.reason = "DESCRIBE answered " + std::to_string(a.status);
    }
    return out;
}

Outcome RtspProbe::Check()
{
    Outcome out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_limits.requestMs);
    Answer a;
    if (!Request("OPTIONS", m_access.url, m_authorization, &a, deadline, &out.reason)) {
        Close();
        return out;
    }
    if (a.status >= 200 && a.status < 300) {
        out.state = LinkState::Online;
        return out;
    }
    Close();
    out.reason = "OPTIONS answered " + std::to_string(a.status);
    return out;
}

// ---- DeviceLink ----

DeviceLink::DeviceLink(DeviceAccess access, Report report, RtspLimits limits, Timing timing)
    : m_access(std::move(access)), m_report(std::move(report)), m_limits(limits), m_timing(timing)
{
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        m_finished->store(true);
        if (m_report)
            m_report({LinkState::Lost, "no thread for the device"});
    }
}

DeviceLink::~DeviceLink()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void DeviceLink::RequestStop() { m_stop->store(true); }

void DeviceLink::Run()
{
    RtspProbe probe(m_access, m_limits, m_stop.get());
    // Sleeps in slices so that a stop ends the wait at once.
    auto pause = [this](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop->load() && Clock::now() < until)
            std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
    };
    bool online = false, reported = false;
    LinkState last = LinkState::Lost;
    int retryMs = m_timing.retryFirstMs;
    while (!m_stop->load()) {
        Outcome o = online ? probe.Check() : probe.Login();
        // A kept connection may simply have been closed by the device: one
        // fresh log-in tells that from a device that is gone.
        if (online && o.state != LinkState::Online && !m_stop->load())
            o = probe.Login();
        if (m_stop->load())
            break;
        if (!reported || o.state != last) {
            reported = true;
            last = o.state;
            if (m_report)
                m_report(o);
        }
        if (o.state == LinkState::Refused || o.permanent)
            break;
        online = o.state == LinkState::Online;
        if (online) {
            retryMs = m_timing.retryFirstMs;
            pause(m_timing.checkMs);
        } else {
            pause(retryMs);
            retryMs = std::min(retryMs * 2, m_timing.retryCapMs);
        }
    }
    m_finished->store(true);
}

} // namespace qelm::realdev
