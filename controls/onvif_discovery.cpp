// WS-Discovery probe (see onvif_discovery.h).
#include "controls/onvif_discovery.h"

#include "controls/onvif_soap.h"
#include "platform/logsink.h"
#include "platform/netguard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qelm::onvif {

namespace {

std::mutex g_mutex;
std::string g_target; // set by SetProbeTarget
std::atomic<int> g_waitMs{3000};

bool ParseTarget(const std::string& text, sockaddr_in* out)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = text.substr(0, colon);
    const int port = std::atoi(text.c_str() + colon + 1);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1)
        return false;
    *out = a;
    return true;
}

std::string Uuid()
{
    unsigned char b[16] = {};
    if (::getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b))
        for (unsigned i = 0; i < sizeof b; ++i)
            b[i] = static_cast<unsigned char>(std::rand());
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

} // namespace

std::string ProbeTarget()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_target.empty())
            return g_target;
    }
    const char* env = std::getenv("QELM2_ONVIF_PROBE_TARGET");
    return env && *env ? env : "239.255.255.250:3702";
}

void SetProbeTarget(const std::string& hostPort)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_target = hostPort;
}

int SearchWaitMs()
{
    return g_waitMs.load();
}

void SetSearchWaitMs(int ms)
{
    g_waitMs = std::clamp(ms, 10, 60000);
}

std::string ProbeMessage(const std::string& messageId)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
           "<s:Header><a:MessageID>uuid:" +
           messageId +
           "</a:MessageID><a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
           "<a:Action s:mustUnderstand=\"1\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
           "</s:Header><s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body>"
           "</s:Envelope>";
}

int Probe(int waitMs, std::vector<std::string>* out, const std::atomic<bool>* stop,
          void (*found)(const std::string&))
{
    const std::string target = ProbeTarget();
    sockaddr_in to{};
    if (!ParseTarget(target, &to)) {
        PlatformLog(3, "ONVIF: discovery target \"%s\" is not host:port", target.c_str());
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (IN_MULTICAST(ntohl(to.sin_addr.s_addr))) {
        const unsigned char ttl = 4;
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    }
    const std::string probe = ProbeMessage(Uuid());
    if (qelm::GuardedSendTo(fd, probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to,
                            "ONVIF discovery probe") < 0) {
        ::close(fd);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    std::vector<std::string> seen;
    // One datagram is at most 64 KiB: the reply bound of the exchange.
    std::string buf(65536, '\0');
    for (;;) {
        if (stop && stop->load())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50)));
        if (r <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            continue;
        std::vector<std::string> addrs;
        if (!ParseProbeMatches(std::string_view(buf.data(), static_cast<std::size_t>(n)), &addrs))
            continue;
        for (std::string& a : addrs) {
            if (seen.size() >= 4096 || std::find(seen.begin(), seen.end(), a) != seen.end())
                continue;
            seen.push_back(a);
            if (found)
                found(a);
        }
    }
    ::close(fd);
    if (out)
        *out = seen;
    return static_cast<int>(seen.size());
}

} // namespace qelm::onvif
