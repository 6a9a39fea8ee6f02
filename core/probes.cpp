// Network and process probes (see probes.h).
#include "core/probes.h"

#include "platform/clock.h"
#include "platform/netguard.h"
#include "platform/text.h"
#include "platform/wnd.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

constexpr int kAttempts = 3;
constexpr int kWaitMs = 100;
constexpr std::size_t kEchoSize = 12;
constexpr int kMaxLocal = 32;

std::atomic<std::uint32_t> g_pingSerial{0};

std::uint16_t Checksum(const std::uint8_t* data, std::size_t len)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<std::uint32_t>(data[i] | (data[i + 1] << 8));
    if (len & 1)
        sum += data[len - 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t Get16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// A datagram ICMP socket where the system allows it, else a raw one.
int OpenIcmpSocket(bool& raw)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = false;
    if (fd >= 0)
        return fd;
    raw = true;
    return ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

// Waits up to the attempt's end for the echo reply of (id, seq) from addr:
// 0 got it, 1 time over, -1 error. Other packets are skipped.
int AwaitReply(int fd, bool raw, std::uint32_t addr, std::uint16_t id, std::uint16_t seq, std::int64_t endMs)
{
    for (;;) {
        std::int64_t left = endMs - qelm::SteadyMs();
        if (left <= 0)
            return 1;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            return 1;
        std::uint8_t buf[256];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            return -1;
        }
        std::size_t len = static_cast<std::size_t>(n);
        const std::uint8_t* icmp = buf;
        std::uint32_t source = from.sin_addr.s_addr;
        if (raw) {
            if (len < 20)
                continue;
            std::size_t hl = static_cast<std::size_t>(buf[0] & 0x0F) * 4;
            if (hl < 20 || len < hl + 8)
                continue;
            std::memcpy(&source, buf + 12, 4);
            icmp = buf + hl;
            len -= hl;
        }
        if (len < 8 || source != addr || icmp[0] != 0)
            continue;
        // A datagram socket has its identifier set by the system, which also
        // delivers only our replies; a raw one sees every reply on the host.
        if (raw && Get16(icmp + 4) != id)
            continue;
        if (Get16(icmp + 6) != seq)
            continue;
        return 0;
    }
}

bool ReadFile(const char* path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

} // namespace

int PintTest(std::uint32_t addr)
{
    bool raw = false;
    int fd = OpenIcmpSocket(raw);
    if (fd < 0)
        return -1;
    const std::uint16_t id = static_cast<std::uint16_t>(::getpid() ^ (g_pingSerial.fetch_add(1) * 0x9E37u));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addr;
    int result = 1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::uint8_t pkt[kEchoSize] = {8, 0};
        Put16(pkt + 4, id);
        Put16(pkt + 6, static_cast<std::uint16_t>(attempt));
        DWORD tick = GetTickCount();
        std::memcpy(pkt + 8, &tick, 4);
        Put16(pkt + 2, Checksum(pkt, sizeof pkt));
        ssize_t sent = qelm::GuardedSendTo(fd, pkt, sizeof pkt, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                                           sizeof to, "ping");
        if (sent != static_cast<ssize_t>(sizeof pkt)) {
            result = -1;
            break;
        }
        int r = AwaitReply(fd, raw, addr, id, static_cast<std::uint16_t>(attempt), qelm::SteadyMs() + kWaitMs);
        if (r <= 0) {
            result = r;
            break;
        }
    }
    ::close(fd);
    return result;
}

int GetLocalIpList(IpSlot* ips, int count)
{
    if (!ips || count <= 0)
        return 0;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 0;
    int n = 0;
    for (ifaddrs* i = list; i && n < count; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        sockaddr_in sin;
        std::memcpy(&sin, i->ifa_addr, sizeof sin);
        if (inet_ntop(AF_INET, &sin.sin_addr, ips[n], sizeof(IpSlot)))
            ++n;
    }
    ::freeifaddrs(list);
    return n;
}

int FindFreeIpAddrs(IpSlot* ips, int count, const LocalIpSource& local, const PingProbe& ping)
{
    if (!ips || count <= 0 || !local || !ping)
        return 0;
    IpSlot own[kMaxLocal] = {};
    int nLocal = local(own, kMaxLocal);
    if (nLocal <= 0)
        return 0;
    own[0][sizeof(IpSlot) - 1] = '\0';
    in_addr base{};
    if (inet_pton(AF_INET, own[0], &base) != 1)
        return 0;
    const std::uint32_t host = ntohl(base.s_addr);
    const std::uint32_t net = host & 0xFFFFFF00u;
    const std::uint32_t ownNumber = host & 0xFFu;
    int n = 0;
    for (std::uint32_t h = 254; h >= 1 && n < count; --h) {
        if (h == ownNumber)
            continue;
        std::uint32_t addr = htonl(net | h);
        if (ping(addr) != 1)
            continue;
        in_addr a{addr};
        if (inet_ntop(AF_INET, &a, ips[n], sizeof(IpSlot)))
            ++n;
    }
    return n;
}

int FindFreeIpAddrs(IpSlot* ips, int count)
{
    return FindFreeIpAddrs(ips, count, GetLocalIpList, PintTest);
}

int IsSameSubnet(const char* ip, const IpSlot* ips, int count)
{
    if (!ip || !ips)
        return 0;
    const char* dot = std::strrchr(ip, '.');
    if (!dot)
        return 0;
    const std::size_t prefix = static_cast<std::size_t>(dot - ip);
    for (int i = 0; i < count; ++i) {
        const char* entry = ips[i];
        std::size_t len = strnlen(entry, sizeof(IpSlot));
        std::size_t last = std::string_view(entry, len).rfind('.');
        if (last == std::string_view::npos)
            continue;
        if (last == prefix && std::memcmp(entry, ip, prefix) == 0)
            return 1;
    }
    return 0;
}

float GetProcessMemoryMB(HWND hWnd)
{
    // Every window of this program lives in this process.
    if (!hWnd || !IsWindow(hWnd))
        return 0.0f;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        unsigned long kb = 0;
        if (std::sscanf(line.c_str(), "VmRSS: %lu kB", &kb) == 1)
            return static_cast<float>(kb) / 1024.0f;
    }
    return 0.0f;
}

int GetProcessCpuUsage(int pid)
{
    static std::mutex mutex;
    static unsigned long long prevTotal = 0;
    static unsigned long long prevProc = 0;
    static int prevPid = 0;

    std::string stat;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    if (pid <= 0 || !ReadFile(path, stat))
        return 0;
    // Fields after the command name, which may hold blanks and parentheses.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && (fields >> field); ++i) {
        if (i == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    std::string all;
    if (!ReadFile("/proc/stat", all))
        return 0;
    std::istringstream cpu(all);
    std::string label;
    cpu >> label;
    if (label != "cpu")
        return 0;
    unsigned long long total = 0;
    for (int i = 0; i < 8; ++i) { // user nice system idle iowait irq softirq steal
        unsigned long long v = 0;
        if (!(cpu >> v))
            break;
        total += v;
    }
    const unsigned long long proc = utime + stime;

    std::lock_guard<std::mutex> lock(mutex);
    int result = 0;
    if (prevPid == pid && prevTotal != 0 && total > prevTotal && proc >= prevProc)
        result = static_cast<int>(100ULL * (proc - prevProc) / (total - prevTotal));
    prevTotal = total;
    prevProc = proc;
    prevPid = pid;
    return result;
}
