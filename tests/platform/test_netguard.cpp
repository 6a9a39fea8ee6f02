// Tests of the network confinement. Nothing here sends to a non-loopback
// address: refused cases go through an invalid descriptor, so a guard that
// wrongly let them through fails with EBADF instead of sending.
#include "platform/logsink.h"
#include "platform/netguard.h"

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

using namespace qelm;

// Every name lookup in this test program passes through here, so that tests
// can tell that the guard did not ask the resolver. It forwards unchanged.
namespace {
std::atomic<int> g_lookups{0};
}

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res)
{
    using Fn = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "getaddrinfo"));
    ++g_lookups;
    if (!real)
        return EAI_SYSTEM;
    return real(node, service, hints, res);
}

namespace {

using qelmtest::ScopedEnv;

// Collects the platform log while it lives.
class LogCapture {
public:
    LogCapture()
    {
        SetPlatformLogSink([this](int level, const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.emplace_back(level, line);
        });
    }
    ~LogCapture() { SetPlatformLogSink(nullptr); }
    std::vector<std::pair<int, std::string>> Lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<int, std::string>> m_lines;
};

// A socket address for an IP literal, with port 554.
sockaddr_storage Addr(const char* ip, socklen_t& len)
{
    sockaddr_storage ss{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (inet_pton(AF_INET, ip, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(554);
        len = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, ip, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(554);
        len = sizeof(sockaddr_in6);
    } else {
        ADD_FAILURE() << "not an address: " << ip;
    }
    return ss;
}

struct AddrCase {
    const char* ip;
    bool allowed;
};
const AddrCase kAddresses[] = {
    {"127.0.0.1", true},        {"127.5.6.7", true},        {"127.255.255.254", true},
    {"::1", true},              {"::ffff:127.0.0.1", true}, {"::ffff:127.9.8.7", true},
    {"10.0.0.1", false},        {"192.168.1.1", false},     {"8.8.8.8", false},
    {"0.0.0.0", false},         {"128.0.0.1", false},       {"126.255.255.255", false},
    {"255.255.255.255", false}, {"239.255.255.250", false}, {"224.0.0.251", false},
    {"::", false},              {"::ffff:10.0.0.1", false}, {"::127.0.0.1", false},
    {"ff02::c", false},         {"fe80::1", false},         {"2001:db8::1", false},
};

} // namespace

TEST(NetGuardTest, AddressesInLoopbackMode)
{
    ScopedEnv env("QELM2_LOOPBACK_ONLY", "1");
    LogCapture log;
    ASSERT_TRUE(LoopbackOnly());
    for (const AddrCase& c : kAddresses) {
        SCOPED_TRACE(c.ip);
        EXPECT_EQ(NetAllowedIp(c.ip, "probe"), c.allowed);
        socklen_t len = 0;
        sockaddr_storage ss = Addr(c.ip, len);
        EXPECT_EQ(NetAllowed(reinterpret_cast<const sockaddr*>(&ss), len, "probe"), c.allowed);
        // Too short for its family: refused, not read past.
        EXPECT_FALSE(NetAllowed(reinterpret_cast<const sockaddr*>(&ss), len - 1, "probe"));
    }
    EXPECT_FALSE(NetAllowed(nullptr, 0, "probe"));
    EXPECT_TRUE(NetAllowedIp("[::1]", "probe"));
    for (const char* notIp : {"", "127.1", "localhost", "127.0.0.1 ", "0x7f000001", "999.0.0.1"})
        EXPECT_FALSE(NetAllowedIp(notIp, "probe")) << notIp;
    EXPECT_FALSE(NetAllowedIp(nullptr, "probe"));

    bool found = false;
    for (const auto& [level, line] : log.Lines()) {
        if (line == "NetGuard: refused probe to 10.0.0.1:554 (loopback only)") {
            found = true;
            EXPECT_EQ(level, 3);
        }
    }
    EXPECT_TRUE(found) << "no log line for a refused address";
}

TEST(NetGuardTest, LocalSocketsAreNotNetwork)
{
    ScopedEnv env("QELM2_LOOPBACK_ONLY", "1");
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::strcpy(un.sun_path, "/tmp/qelm2.sock");
    EXPECT_TRUE(NetAllowed(reinterpret_cast<const sockaddr*>(&un), sizeof un, "ipc"));
    sockaddr other{};
    other.sa_family = AF_PACKET;
    EXPECT_FALSE(NetAllowed(&other, sizeof other, "arp"));
}

TEST(NetGuardTest, EverythingAllowedWithoutTheVariable)
{
    for (const char* value : {static_cast<const char*>(nullptr), "", "0"}) {
        ScopedEnv env("QELM2_LOOPBACK_ONLY", value);
        EXPECT_FALSE(LoopbackOnly());
        for (const AddrCase& c : kAddresses) {
            EXPECT_TRUE(NetAllowedIp(c.ip, "probe")) << c.ip;
            socklen_t len = 0;
            sockaddr_storage ss = Addr(c.ip, len);
            EXPECT_TRUE(NetAllowed(reinterpret_cast<const sockaddr*>(&ss), len, "probe")) << c.ip;
        }
        int before = g_lookups;
        EXPECT_TRUE(NetAllowedHost("camera.example.com", "probe"));
        EXPECT_TRUE(NetAllowedUrl("rtsp://example.com/x", "probe"));
        EXPECT_EQ(g_lookups.load(), before) << "nothing to decide, nothing to look up";
    }
}

TEST(NetGuardTest, HostsAndUrls)
{
    ScopedEnv env("QELM2_LOOPBACK_ONLY", "1");
    LogCapture log;
    struct Case {
        const char* url;
        bool allowed;
        bool lookup = false; // only "localhost" is looked up
    } cases[] = {
        {"rtsp://admin:pw@127.0.0.1:554/x", true},
        {"rtsp://127.0.0.1/live", true},
        {"http://[::1]:8080/onvif/device_service", true},
        {"http://user:p@ss@127.0.0.2/", true},
        {"127.0.0.1:554/x", true},
        {"http://localhost/x", true, true},
        {"http://LOCALHOST:80", true, true},
        {"http://[::ffff:127.0.0.1]/", true},
        {"rtsp://example.com/x", false},
        {"rtsp://10.0.0.1:554/x", false},
        {"rtsp://127.0.0.1@10.0.0.1/x", false},
        {"http://127.0.0.1.example.com/", false},
        {"http://localhost.example.com/", false},
        {"http://[::1/", false},
        {"http://[2001:db8::1]:80/", false},
        {"http:///path", false},
        {"", false},
        {"udp://239.255.255.250:3702", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        int before = g_lookups;
        EXPECT_EQ(NetAllowedUrl(c.url, "connect"), c.allowed);
        EXPECT_EQ(g_lookups.load() - before, c.lookup ? 1 : 0);
    }

    int before = g_lookups;
    EXPECT_FALSE(NetAllowedHost("camera.example.com", "connect"));
    EXPECT_FALSE(NetAllowedHost("", "connect"));
    EXPECT_FALSE(NetAllowedHost(nullptr, "connect"));
    EXPECT_FALSE(NetAllowedHost("8.8.8.8", "connect"));
    EXPECT_TRUE(NetAllowedHost("127.0.0.1", "connect"));
    EXPECT_EQ(g_lookups.load(), before) << "refused names must not reach the resolver";
    EXPECT_TRUE(NetAllowedHost("localhost", "connect"));
    EXPECT_TRUE(NetAllowedHost("localhost.", "connect"));

    bool found = false;
    for (const auto& entry : log.Lines())
        found = found || entry.second.find("refused connect to camera.example.com") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST(NetGuardTest, GuardedCallsRefuseWithoutSending)
{
    ScopedEnv env("QELM2_LOOPBACK_ONLY", "1");
    const char payload[] = "M-SEARCH";
    for (const char* ip : {"10.0.0.1", "255.255.255.255", "239.255.255.250", "::"}) {
        SCOPED_TRACE(ip);
        socklen_t len = 0;
        sockaddr_storage ss = Addr(ip, len);
        const auto* sa = reinterpret_cast<const sockaddr*>(&ss);
        errno = 0;
        EXPECT_EQ(GuardedSendTo(-1, payload, sizeof payload, 0, sa, len, "search"), -1);
        EXPECT_EQ(errno, EACCES);
        errno = 0;
        EXPECT_EQ(GuardedConnect(-1, sa, len, "connect"), -1);
        EXPECT_EQ(errno, EACCES);
    }

    // Allowed: a datagram to a receiver on 127.0.0.1 arrives.
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    socklen_t atLen = sizeof at;
    ASSERT_EQ(getsockname(rx, reinterpret_cast<sockaddr*>(&at), &atLen), 0);
    EXPECT_EQ(GuardedSendTo(tx, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&at), sizeof at, "log copy"),
              static_cast<ssize_t>(sizeof payload));
    ASSERT_EQ(GuardedConnect(tx, reinterpret_cast<sockaddr*>(&at), sizeof at, "log copy"), 0);
    EXPECT_EQ(GuardedSendTo(tx, payload, sizeof payload, 0, nullptr, 0, "log copy"),
              static_cast<ssize_t>(sizeof payload));
    char buf[32];
    EXPECT_EQ(recv(rx, buf, sizeof buf, 0), static_cast<ssize_t>(sizeof payload));
    EXPECT_EQ(recv(rx, buf, sizeof buf, 0), static_cast<ssize_t>(sizeof payload));
    close(tx);
    close(rx);
}
