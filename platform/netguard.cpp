// Network confinement (see netguard.h).
#include "platform/netguard.h"

#include "platform/logsink.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace qelm {

namespace {

const char* What(const char* what)
{
    return what && *what ? what : "send";
}

void Refuse(const char* what, const std::string& target)
{
    PlatformLog(3, "NetGuard: refused %s to %s (loopback only)", What(what), target.c_str());
}

bool LoopbackV4(const in_addr& a)
{
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool LoopbackV6(const in6_addr& a)
{
    if (IN6_IS_ADDR_LOOPBACK(&a))
        return true;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
        in_addr v4;
        std::memcpy(&v4, a.s6_addr + 12, 4);
        return LoopbackV4(v4);
    }
    return false;
}

std::string Describe(const sockaddr* addr, socklen_t len)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (addr && addr->sa_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in in;
        std::memcpy(&in, addr, sizeof in);
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(in.sin_port));
    }
    if (addr && addr->sa_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 in6;
        std::memcpy(&in6, addr, sizeof in6);
        inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    if (!addr)
        return "(no address)";
    return "address family " + std::to_string(addr->sa_family);
}

// Whether the text is an IP literal; *allowed tells whether it is loopback.
bool ParseLiteral(std::string_view text, bool* allowed)
{
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return false;
    std::string s(text);
    in_addr v4;
    if (inet_pton(AF_INET, s.c_str(), &v4) == 1) {
        *allowed = LoopbackV4(v4);
        return true;
    }
    in6_addr v6;
    if (inet_pton(AF_INET6, s.c_str(), &v6) == 1) {
        *allowed = LoopbackV6(v6);
        return true;
    }
    return false;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool LoopbackOnly()
{
    const char* v = std::getenv("QELM2_LOOPBACK_ONLY");
    return v && *v && std::strcmp(v, "0") != 0;
}

bool NetAllowed(const sockaddr* addr, socklen_t len, const char* what)
{
    if (!LoopbackOnly())
        return true;
    bool ok = false;
    if (addr && len >= static_cast<socklen_t>(sizeof(sa_family_t))) {
        if (addr->sa_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
            sockaddr_in in;
            std::memcpy(&in, addr, sizeof in);
            ok = LoopbackV4(in.sin_addr);
        } else if (addr->sa_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
            sockaddr_in6 in6;
            std::memcpy(&in6, addr, sizeof in6);
            ok = LoopbackV6(in6.sin6_addr);
        } else if (addr->sa_family == AF_UNIX) {
            ok = true; // a local socket, no network
        }
    }
    if (!ok)
        Refuse(what, Describe(addr, len));
    return ok;
}

bool NetAllowedIp(const char* ip, const char* what)
{
    if (!LoopbackOnly())
        return true;
    bool allowed = false;
    if (!ip || !ParseLiteral(ip, &allowed)) {
        Refuse(what, ip ? std::string(ip) + " (not an address)" : std::string("(no address)"));
        return false;
    }
    if (!allowed)
        Refuse(what, ip);
    return allowed;
}

bool NetAllowedHost(const char* host, const char* what)
{
    if (!LoopbackOnly())
        return true;
    if (!host || !*host) {
        Refuse(what, "(no host)");
        return false;
    }
    bool allowed = false;
    if (ParseLiteral(host, &allowed)) {
        if (!allowed)
            Refuse(what, host);
        return allowed;
    }
    std::string_view name(host);
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    if (!EqualNoCase(name, "localhost")) {
        Refuse(what, host);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &list) != 0 || !list) {
        Refuse(what, std::string(host) + " (does not resolve)");
        return false;
    }
    allowed = true;
    for (addrinfo* ai = list; ai && allowed; ai = ai->ai_next)
        allowed = NetAllowed(ai->ai_addr, ai->ai_addrlen, what);
    freeaddrinfo(list);
    return allowed;
}

bool NetAllowedUrl(const std::string& url, const char* what)
{
    if (!LoopbackOnly())
        return true;
    std::string_view rest(url);
    std::size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    // Authority ends where the path, query or fragment starts; the user part
    // ends at its last '@' (passwords may hold '@').
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            Refuse(what, url + " (bad host)");
            return false;
        }
        host = authority.substr(0, close + 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    if (host.empty()) {
        Refuse(what, url + " (no host)");
        return false;
    }
    return NetAllowedHost(std::string(host).c_str(), what);
}

int GuardedConnect(int fd, const sockaddr* addr, socklen_t len, const char* what)
{
    if (!NetAllowed(addr, len, what)) {
        errno = EACCES;
        return -1;
    }
    return ::connect(fd, addr, len);
}

ssize_t GuardedSendTo(int fd, const void* buf, size_t n, int flags, const sockaddr* addr, socklen_t len,
                      const char* what)
{
    if (addr) {
        if (!NetAllowed(addr, len, what)) {
            errno = EACCES;
            return -1;
        }
    } else if (LoopbackOnly()) {
        // A connected socket: check where it is connected to.
        sockaddr_storage peer{};
        socklen_t peerLen = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0 &&
            !NetAllowed(reinterpret_cast<const sockaddr*>(&peer), peerLen, what)) {
            errno = EACCES;
            return -1;
        }
    }
    return ::sendto(fd, buf, n, flags, addr, len);
}

} // namespace qelm
