// Cloud-account HTTP client (see cloud_client.h).
#include "core/cloud_client.h"

#include "core/cloud_reply.h"
#include "core/textutil.h"
#include "platform/netguard.h"

#include <arpa/inet.h>
#include <md5.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char kSalt[] = "mirelta_vosk_tandem_okrue";
constexpr const char kXmlEnd[] = "</xml>";
using Clock = std::chrono::steady_clock;
constexpr const char kContentType[] =
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\t\t\t\t\t   \r\n";

std::atomic<int> g_timeoutMs{kCloudTimeoutMs};

std::mutex g_mutex; // the session cookie and the two servers
std::string g_sessionCookie;

struct Server {
    bool set = false;
    std::string host;
    int port = 80;
};
Server g_account, g_report;

Server FromEnv(const char* var)
{
    Server s;
    const char* v = std::getenv(var);
    if (!v || !*v)
        return s;
    std::string text = v;
    std::size_t colon = text.rfind(':');
    if (colon != std::string::npos && text.find(':') == colon) {
        s.host = text.substr(0, colon);
        s.port = std::atoi(text.c_str() + colon + 1);
        if (s.port <= 0)
            s.port = 80;
    } else {
        s.host = text;
    }
    return s;
}

Server AccountServer()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_account.set ? g_account : FromEnv("QELM2_CLOUD_ACCOUNT");
}

Server ReportServer()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_report.set ? g_report : FromEnv("QELM2_CLOUD_REPORT");
}

std::string SessionCookie()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_sessionCookie;
}

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// One exchange's time: each wait lasts at most waitMs, and all of them
// together end at the deadline, so a peer that trickles bytes cannot hold a
// call open.
struct Deadline {
    Clock::time_point end;
    int waitMs;
    // What the next wait may take in milliseconds; 0 once the deadline passed.
    int Next() const
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, waitMs));
    }
};

// poll() for one event within the deadline, restarted on signals; >0 ready,
// 0 time-out, <0 error.
int WaitFor(int fd, short events, const Deadline& deadline)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int ms = deadline.Next();
        if (ms == 0)
            return 0;
        int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

bool EndsWith(const std::vector<char>& buf, std::size_t len, const char* tail)
{
    std::size_t n = std::strlen(tail);
    return len >= n && std::memcmp(buf.data() + len - n, tail, n) == 0;
}

int Connect(int fd, const sockaddr_in& addr, const Deadline& deadline)
{
    if (qelm::GuardedConnect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr, "cloud client") == 0)
        return kCloudOk;
    if (errno != EINPROGRESS)
        return kCloudConnect;
    if (WaitFor(fd, POLLOUT, deadline) <= 0)
        return kCloudConnect;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
        return kCloudConnect;
    return kCloudOk;
}

int SendAll(int fd, const char* data, std::size_t len, const Deadline& deadline)
{
    while (len > 0) {
        ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFor(fd, POLLOUT, deadline) <= 0)
                return kCloudSend;
            continue;
        }
        if (n <= 0)
            return kCloudSend;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return kCloudOk;
}

// Form value: unreserved bytes as they are, every other byte as %XX.
std::string FormValue(const char* text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

// XML character data: the five reserved characters as entities.
std::string XmlValue(const char* text)
{
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out.push_back(*p);
        }
    }
    return out;
}

std::string Str(const char* text)
{
    return text ? text : "";
}

int Login(const char* host, int port, const char* user, const char* password, const char* devId, char* body,
          int* bodyLen, bool keepCookie)
{
    if (!body || !bodyLen)
        return kCloudNoBuffer;
    if (!user || !*user || !password || !*password) {
        *bodyLen = 0;
        return kCloudNoUser;
    }
    const std::string h = Str(host);

    // 1. The server random, with the session cookie.
    std::string request = "POST /comm/getrand.php HTTP/1.0\r\n"
                          "Accept-Language: zh-cn\n"
                          "Accept: */*;\r\n";
    request += kContentType;
    request += "User-Agent: Mivra/dev\n";
    request += "Host: " + h + ":" + std::to_string(port) + "\r\n";
    request += "Content-Length: 0\r\n"
               "Connection: Keep-Alive\r\n"
               "\r\n";
    std::vector<char> reply(1024);
    int replyLen = static_cast<int>(reply.size());
    char cookie[kCloudCookieSize] = "";
    int result = HttpPostRaw(cookie, sizeof cookie, &replyLen, host, port, request.data(),
                             static_cast<int>(request.size()), reply.data());
    if (result != kCloudOk) {
        *bodyLen = 0;
        return result;
    }
    if (!cookie[0]) {
        *bodyLen = 0;
        return kCloudNoCookie;
    }
    if (keepCookie) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_sessionCookie = cookie;
    }

    // 2. The credential: the login XML scrambled with the random's key.
    const std::string random = CloudServerRandom(reply.data());
    const std::string xml = "<xml><user>" + XmlValue(user) + "</user><pass>" + XmlValue(password) + "</pass></xml>";
    std::vector<char> credential(kCloudCredentialSize);
    if (EncodeLoginXml(random.c_str(), xml.data(), static_cast<int>(xml.size()), credential.data()) < 0)
        credential[0] = '\0';
    std::string content = "authcode=";
    for (const char* p = credential.data(); *p; ++p) {
        if (*p == '+')
            content += "%2B";
        else
            content.push_back(*p);
    }
    if (devId)
        content += "&devid=" + FormValue(devId);

    // 3. The login.
    request = "POST /client/login.php HTTP/1.0\r\n"
              "Accept-Language: zh-cn\n"
              "Accept: */*;\r\n";
    request += kContentType;
    request += "User-Agent: Mivra/dev\n";
    request += "Host: " + h + "\r\n";
    request += "Content-Length: " + std::to_string(content.size()) + "\r\n";
    request += "Connection: Keep-Alive\r\n";
    request += std::string("Cookie:") + cookie + "\r\n";
    request += "\r\n";
    request += content;
    return HttpPostRaw(nullptr, 0, bodyLen, host, port, request.data(), static_cast<int>(request.size()), body);
}

// Host line and Referer of the report service.
std::string ReportRequest(const char* path, const char* requestedWith, const std::string& host,
                          const std::string& content, bool blankInLength)
{
    std::string request = std::string("POST ") + path + " HTTP/1.1\r\n";
    request += requestedWith;
    request += "Accept-Language: zh-cn\r\n";
    request += "Referer: http://" + host + "/\r\n";
    request += "Accept: */*\r\n";
    request += kContentType;
    request += "User-Agent: Mozilla/4.0\r\n";
    request += "Host: " + host + "\r\n";
    request += std::string(blankInLength ? "Content-Length: " : "Content-Length:") + std::to_string(content.size()) +
               "\r\n";
    request += "\r\n";
    request += content;
    return request;
}

} // namespace

int HttpPostRaw(char* cookie, int cookieSize, int* bodyLen, const char* host, int port, const char* request,
                int requestLen, char* body)
{
    if (!body || !bodyLen)
        return kCloudNoBuffer;
    const int capacity = *bodyLen;
    *bodyLen = 0;
    const int waitMs = g_timeoutMs.load();
    const auto budget = std::chrono::milliseconds(static_cast<long long>(kCloudExchangeWaits) * waitMs);
    const Deadline deadline{Clock::now() + budget, waitMs};

    if (!request || requestLen < 0)
        return kCloudSend;
    if (!host || !*host)
        return kCloudNoHost;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        // A name: in loopback mode only "localhost" is looked up, so no DNS
        // query leaves. An address literal is judged at connect.
        if (!qelm::NetAllowedHost(host, "cloud client"))
            return kCloudNoHost;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
            return kCloudNoHost;
        std::memcpy(&addr, found->ai_addr, sizeof addr);
        ::freeaddrinfo(found);
    }
    if (port <= 0 || port > 65535)
        return kCloudConnect;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));

    Socket sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (sock.fd() < 0)
        return kCloudNoSocket;
    int rcvbuf = kCloudRecvSize;
    if (::setsockopt(sock.fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf) != 0)
        return kCloudRcvBuf;
    if (int r = Connect(sock.fd(), addr, deadline); r != kCloudOk)
        return r;
    if (int r = SendAll(sock.fd(), request, static_cast<std::size_t>(requestLen), deadline); r != kCloudOk)
        return r;

    std::vector<char> buf(kCloudRecvSize);
    std::size_t received = 0;
    int result = kCloudOk;
    for (;;) {
        int ready = WaitFor(sock.fd(), POLLIN, deadline);
        if (ready == 0) {
            result = kCloudTimeout;
            break;
        }
        if (ready < 0) {
            result = kCloudRecv;
            break;
        }
        ssize_t n = ::recv(sock.fd(), buf.data() + received, buf.size() - received, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n < 0) {
            result = kCloudRecv;
            break;
        }
        if (n == 0)
            break; // the peer closed
        received += static_cast<std::size_t>(n);
        if (EndsWith(buf, received, kXmlEnd) || received == buf.size())
            break;
    }
    if (result != kCloudOk)
        return result;
    return ParseCloudReply(buf.data(), received, cookie, cookieSize, body, capacity, bodyLen);
}

int CloudLogin(const char* host, int port, const char* user, const char* password, char* body, int* bodyLen)
{
    return Login(host, port, user, password, nullptr, body, bodyLen, true);
}

int CloudLoginDevice(const char* host, int port, const char* user, const char* password, const char* devId,
                     char* body, int* bodyLen)
{
    return Login(host, port, user, password, devId ? devId : "", body, bodyLen, false);
}

int CloudGetDevInfo(const char* host, int port, const char* devId, const char* devUser, const char* devPass,
                    char* body, int* bodyLen)
{
    if (!body || !bodyLen)
        return kCloudNoBuffer;
    if (!devId || !*devId) {
        *bodyLen = 0;
        return kCloudNoDevId;
    }
    const std::string content =
        "devid=" + FormValue(devId) + "&devuser=" + FormValue(devUser) + "&devpass=" + FormValue(devPass);
    std::string request = "POST /client/getdevinfo.php HTTP/1.0\r\n"
                          "Accept-Language: zh-cn\n"
                          "Accept: */*;\r\n";
    request += kContentType;
    request += "User-Agent: Mivra/dev\n";
    request += "Host: " + Str(host) + ":" + std::to_string(port) + "\r\n";
    request += "Content-Length: " + std::to_string(content.size()) + "\r\n";
    request += "Connection: Keep-Alive\r\n"
               "\r\n";
    request += content;
    return HttpPostRaw(nullptr, 0, bodyLen, host, port, request.data(), static_cast<int>(request.size()), body);
}

int CloudPostReport(const char* devId, int conStat, int p2pType)
{
    const Server server = ReportServer();
    const std::string content = "devid=" + FormValue(devId) + "&constat=" + std::to_string(conStat) +
                                "&p2ptype=" + std::to_string(p2pType);
    const std::string request = ReportRequest("/report/postreport.php", "x-requested-with:XMLHttpRequest\r\n",
                                              server.host, content, false);
    char body[1024];
    int len = sizeof body;
    int result = HttpPostRaw(nullptr, 0, &len, server.host.c_str(), server.port, request.data(),
                             static_cast<int>(request.size()), body);
    if (result != kCloudOk)
        return result;
    int err = 0;
    return CloudReplyValue(body, "err", &err) ? err : kCloudBadReply;
}

int CloudPostPhonePv()
{
    const Server server = ReportServer();
    const std::string request = ReportRequest("/report/postphonepv.php", "x-requested-with: XMLHttpRequest\r\n",
                                              server.host, "type=3", true);
    char body[1024];
    int len = sizeof body;
    return HttpPostRaw(nullptr, 0, &len, server.host.c_str(), server.port, request.data(),
                       static_cast<int>(request.size()), body);
}

int CloudSetDevName(const char* devId, const char* name, const char* user, const char* password)
{
    const Server server = AccountServer();
    const std::string content = "devid=" + FormValue(devId) + "&devname=" + FormValue(name) +
                                "&u=" + FormValue(user) + "&p=" + FormValue(password);
    std::string request = "POST /client/setdevname.php HTTP/1.0\r\n"
                          "Accept: */*\r\n"
                          "Accept-Language: zh-cn\r\n"
                          "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
                          "User-Agent: Parlund/v1.1\r\n";
    request += "Host: " + server.host + "\r\n";
    request += "Connection:Keep-Alive\r\n";
    request += "Cookie:" + SessionCookie() + "\r\n";
    request += "Content-Length:" + std::to_string(content.size()) + "\r\n";
    request += "\r\n";
    request += content;
    char body[1024];
    int len = sizeof body;
    if (HttpPostRaw(nullptr, 0, &len, server.host.c_str(), server.port, request.data(),
                    static_cast<int>(request.size()), body) != kCloudOk)
        return -1;
    int ret = 0;
    return CloudReplyValue(body, "ret", &ret) ? ret : -1;
}

void Md5HexLower(const void* data, int len, char* out)
{
    if (!out)
        return;
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (data && len > 0)
        MD5Update(&ctx, static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(len));
    std::uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &ctx);
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i)
        std::snprintf(out + 2 * i, 3, "%02x", digest[i]);
}

int BuildLoginKey(const char* random, char* out)
{
    if (!random || !out)
        return -2;
    const std::string r = random;
    const std::string salt = kSalt;
    char key[129];
    Md5HexLower(r.data(), static_cast<int>(r.size()), key);
    const std::string saltRandom = salt + r;
    Md5HexLower(saltRandom.data(), static_cast<int>(saltRandom.size()), key + 32);
    const std::string randomSalt = r + salt;
    Md5HexLower(randomSalt.data(), static_cast<int>(randomSalt.size()), key + 64);
    Md5HexLower(key, 96, key + 96);
    std::memcpy(out, key, sizeof key);
    return 128;
}

int EncodeLoginXml(const char* random, const char* xml, int len, char* out)
{
    char key[129];
    int k = BuildLoginKey(random, key);
    if (k < 0)
        return k;
    if (!xml || !out || len < 0 || 3LL * len > 2LL * (kCloudCredentialSize - 1))
        return -1001;
    std::memset(out, 0, kCloudCredentialSize);
    std::vector<unsigned char> mixed(static_cast<std::size_t>(len));
    for (int i = 0; i < len; ++i)
        mixed[static_cast<std::size_t>(i)] = static_cast<unsigned char>(xml[i] ^ key[i % 128]);
    int n = Base64EncodeBuf(mixed.data(), len, out, kCloudCredentialSize);
    if (n < 0) {
        out[0] = '\0';
        return -1001;
    }
    return n;
}

void SetCloudAccountServer(const char* host, int port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_account = host ? Server{true, host, port > 0 ? port : 80} : Server{};
}

void SetCloudReportServer(const char* host, int port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_report = host ? Server{true, host, port > 0 ? port : 80} : Server{};
}

void SetCloudTimeout(int ms)
{
    g_timeoutMs.store(ms > 0 ? ms : kCloudTimeoutMs);
}

void ResetCloudSession()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sessionCookie.clear();
}
