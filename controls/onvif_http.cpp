// HTTP exchanges of the ONVIF client (see onvif_http.h).
#include "controls/onvif_http.h"

#include "platform/netguard.h"

#include <md5.h>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace qelm::onvif {

namespace {

using Clock = std::chrono::steady_clock;

bool IEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Decimal or hex digits into a size; false on overflow or no digits.
bool ParseSize(std::string_view s, int base, std::size_t* out)
{
    s = Trim(s);
    if (s.empty())
        return false;
    std::size_t v = 0;
    std::size_t i = 0;
    for (; i < s.size(); ++i) {
        int d;
        const char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        // Anything past the reply bound is just "too big".
        if (v <= kMaxReply * 4)
            v = v * base + d;
    }
    if (i == 0)
        return false;
    *out = v;
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Waits for one event in slices, so a cancel is seen within 50 ms.
int WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    for (;;) {
        if (cancel && cancel->load())
            return kHttpCancelled;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return kHttpTimeout;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, cancel ? 50 : left)));
        if (r > 0)
            return kHttpOk;
        if (r < 0 && errno != EINTR)
            return kHttpUnreachable;
    }
}

} // namespace

bool ParseUrl(std::string_view url, Url* out)
{
    if (!out)
        return false;
    constexpr std::string_view scheme = "http://";
    if (url.size() < scheme.size() || !IEquals(url.substr(0, scheme.size()), scheme))
        return false;
    url.remove_prefix(scheme.size());
    const std::size_t end = url.find_first_of("/?#");
    std::string_view authority = url.substr(0, end);
    std::string_view path = end == std::string_view::npos ? std::string_view("/") : url.substr(end);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    Url u;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        u.host = std::string(authority.substr(1, close - 1));
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return false;
            portText = rest.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        u.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
    }
    if (u.host.empty() || u.host.size() > 255)
        return false;
    if (!portText.empty()) {
        int port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9' || port > 65535)
                return false;
            port = port * 10 + (c - '0');
        }
        if (port <= 0 || port > 65535)
            return false;
        u.port = port;
    }
    if (path.front() != '/')
        u.path = "/" + std::string(path);
    else
        u.path = std::string(path);
    if (const std::size_t hash = u.path.find('#'); hash != std::string::npos)
        u.path.resize(hash);
    *out = std::move(u);
    return true;
}

int ParseHttpReply(std::string_view raw, bool complete, HttpReply* reply, bool* needMore,
                   std::string_view protocol)
{
    if (needMore)
        *needMore = false;
    if (!reply)
        return kHttpMalformed;
    auto more = [&] {
        if (needMore && !complete)
            *needMore = true;
        return kHttpMalformed;
    };
    const std::size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string_view::npos)
        return more();
    std::string_view head = raw.substr(0, headEnd);
    std::string_view rest = raw.substr(headEnd + 4);
    // Status line: HTTP/1.x NNN text
    const std::size_t lineEnd = head.find("\r\n");
    std::string_view status = head.substr(0, lineEnd);
    if (status.size() < 12 || status.substr(0, protocol.size()) != protocol)
        return kHttpMalformed;
    const std::size_t sp = status.find(' ');
    if (sp == std::string_view::npos || sp + 4 > status.size())
        return kHttpMalformed;
    int code = 0;
    for (std::size_t i = sp + 1; i < sp + 4; ++i) {
        if (status[i] < '0' || status[i] > '9')
            return kHttpMalformed;
        code = code * 10 + (status[i] - '0');
    }
    HttpReply r;
    r.status = code;
    bool chunked = false, haveLength = false;
    std::size_t length = 0;
    std::string_view headers = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    while (!headers.empty()) {
        const std::size_t e = headers.find("\r\n");
        std::string_view line = headers.substr(0, e);
        headers = e == std::string_view::npos ? std::string_view() : headers.substr(e + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view name = Trim(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
        if (IEquals(name, "Content-Length")) {
            if (!ParseSize(value, 10, &length))
                return kHttpMalformed;
            haveLength = true;
        } else if (IEquals(name, "Transfer-Encoding")) {
            chunked = value.find("chunked") != std::string_view::npos;
        } else if (IEquals(name, "WWW-Authenticate")) {
            // Keep a Digest challenge over any other scheme offered.
            if (r.wwwAuthenticate.empty() || (value.size() >= 6 && IEquals(value.substr(0, 6), "Digest")))
                if (value.size() < 4096)
                    r.wwwAuthenticate = std::string(value);
        }
    }
    if (chunked) {
        std::string body;
        for (;;) {
            const std::size_t e = rest.find("\r\n");
            if (e == std::string_view::npos)
                return more();
            std::size_t size = 0;
            std::string_view sizeText = rest.substr(0, e);
            sizeText = sizeText.substr(0, sizeText.find(';'));
            if (!ParseSize(sizeText, 16, &size))
                return kHttpMalformed;
            rest.remove_prefix(e + 2);
            if (size == 0)
                break;
            if (body.size() + size > kMaxReply)
                return kHttpTooBig;
            if (rest.size() < size + 2)
                return more();
            body.append(rest.substr(0, size));
            rest.remove_prefix(size + 2);
        }
        r.body = std::move(body);
    } else if (haveLength) {
        if (length > kMaxReply)
            return kHttpTooBig;
        if (rest.size() < length)
            return more();
        r.body = std::string(rest.substr(0, length));
    } else if (protocol != "HTTP/") {
        // An RTSP answer without a length has no body.
    } else {
        // Body runs to the end of the connection.
        if (!complete)
            return more();
        if (rest.size() > kMaxReply)
            return kHttpTooBig;
        r.body = std::string(rest);
    }
    *reply = std::move(r);
    return kHttpOk;
}

int HttpPost(const Url& url, const std::string& headers, const std::string& contentType, const std::string& body,
             int timeoutMs, HttpReply* reply, const std::atomic<bool>* cancel)
{
    if (!reply)
        return kHttpMalformed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
    // Names are looked up only when the guard allows them (in loopback mode
    // only literals and localhost), so no query leaves under confinement.
    if (!qelm::NetAllowedHost(url.host.c_str(), "ONVIF request"))
        return kHttpUnreachable;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(url.port);
    if (::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &list) != 0 || !list)
        return kHttpUnreachable;
    Fd sock(::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.get() < 0) {
        freeaddrinfo(list);
        return kHttpUnreachable;
    }
    const int rc = qelm::GuardedConnect(sock.get(), list->ai_addr, list->ai_addrlen, "ONVIF request");
    const int connectErr = errno;
    freeaddrinfo(list);
    if (rc != 0) {
        if (connectErr != EINPROGRESS)
            return kHttpUnreachable;
        if (int w = WaitFor(sock.get(), POLLOUT, deadline, cancel); w != kHttpOk)
            return w;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            return kHttpUnreachable;
    }
    std::string hostHeader = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    if (url.port != 80)
        hostHeader += ":" + std::to_string(url.port);
    std::string request = "POST " + url.path + " HTTP/1.1\r\nHost: " + hostHeader +
                          "\r\nContent-Type: " + contentType + "\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(sock.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return kHttpUnreachable;
        if (int w = WaitFor(sock.get(), POLLOUT, deadline, cancel); w != kHttpOk)
            return w;
    }
    std::string raw;
    char buf[16384];
    for (;;) {
        bool needMore = false;
        if (!raw.empty()) {
            const int p = ParseHttpReply(raw, false, reply, &needMore);
            if (!needMore)
                return p;
        }
        if (int w = WaitFor(sock.get(), POLLIN, deadline, cancel); w != kHttpOk)
            return w;
        const ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
        if (n == 0)
            return ParseHttpReply(raw, true, reply);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return raw.empty() ? kHttpUnreachable : ParseHttpReply(raw, true, reply);
        }
        if (raw.size() + static_cast<std::size_t>(n) > kMaxReply + 16384)
            return kHttpTooBig;
        raw.append(buf, static_cast<std::size_t>(n));
    }
}

bool ParseDigestChallenge(std::string_view header, DigestChallenge* out)
{
    if (!out)
        return false;
    header = Trim(header);
    if (header.size() < 6 || !IEquals(header.substr(0, 6), "Digest"))
        return false;
    header.remove_prefix(6);
    DigestChallenge c;
    while (!header.empty()) {
        while (!header.empty() && (header.front() == ' ' || header.front() == ',' || header.front() == '\t'))
            header.remove_prefix(1);
        const std::size_t eq = header.find('=');
        if (eq == std::string_view::npos)
            break;
        std::string_view name = Trim(header.substr(0, eq));
        header.remove_prefix(eq + 1);
        std::string value;
        if (!header.empty() && header.front() == '"') {
            header.remove_prefix(1);
            std::size_t i = 0;
            for (; i < header.size() && header[i] != '"'; ++i) {
                if (header[i] == '\\' && i + 1 < header.size())
                    ++i;
                value += header[i];
            }
            header.remove_prefix(std::min(i + 1, header.size()));
        } else {
            const std::size_t e = header.find(',');
            value = std::string(Trim(header.substr(0, e)));
            header = e == std::string_view::npos ? std::string_view() : header.substr(e);
        }
        if (value.size() > 1024)
            return false;
        if (IEquals(name, "realm"))
            c.realm = value;
        else if (IEquals(name, "nonce"))
            c.nonce = value;
        else if (IEquals(name, "opaque"))
            c.opaque = value;
        else if (IEquals(name, "qop"))
            c.qop = value;
        else if (IEquals(name, "algorithm"))
            c.algorithm = value;
    }
    if (c.nonce.empty() || (!c.algorithm.empty() && !IEquals(c.algorithm, "MD5")))
        return false;
    *out = std::move(c);
    return true;
}

std::string Md5Hex(std::string_view text)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &ctx);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::string DigestAuthorization(const DigestChallenge& c, const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri, const std::string& cnonce,
                                unsigned nc)
{
    const std::string ha1 = Md5Hex(user + ":" + c.realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    // qop may list several options; "auth" is the one spoken here.
    const bool qopAuth = c.qop.find("auth") != std::string::npos;
    char ncText[9];
    std::snprintf(ncText, sizeof ncText, "%08x", nc);
    std::string response = qopAuth ? Md5Hex(ha1 + ":" + c.nonce + ":" + ncText + ":" + cnonce + ":auth:" + ha2)
                                   : Md5Hex(ha1 + ":" + c.nonce + ":" + ha2);
    auto quote = [](const std::string& v) {
        std::string q = "\"";
        for (char ch : v) {
            if (ch == '"' || ch == '\\')
                q += '\\';
            if (ch != '\r' && ch != '\n')
                q += ch;
        }
        return q + "\"";
    };
    std::string h = "Digest username=" + quote(user) + ", realm=" + quote(c.realm) + ", nonce=" + quote(c.nonce) +
                    ", uri=" + quote(uri) + ", response=\"" + response + "\"";
    if (!c.opaque.empty())
        h += ", opaque=" + quote(c.opaque);
    if (!c.algorithm.empty())
        h += ", algorithm=MD5";
    if (qopAuth)
        h += ", qop=auth, nc=" + std::string(ncText) + ", cnonce=" + quote(cnonce);
    return h;
}

} // namespace qelm::onvif
