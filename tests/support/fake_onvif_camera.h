// A fake ONVIF camera on 127.0.0.1 for the ONVIF client and supervision
// tests: it checks the WS-Security password digest (against its own clock,
// which may run apart from ours) or HTTP digest, answers the device, media,
// PTZ, network and event services, queues events for PullMessages, answers
// WS-Discovery probes, and records every request it got. It can be up,
// refusing every log-in, silent (accepts, never answers) or stopped.
#pragma once

#include <md5.h>
#include <sha1.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fakeonvif {

inline std::string Base64Decode(const std::string& in)
{
    auto val = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    int bits = 0, acc = 0;
    for (char c : in) {
        const int v = val(c);
        if (v < 0)
            continue;
        acc = (acc << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xff);
        }
    }
    return out;
}

inline std::string Base64Encode(const unsigned char* p, std::size_t n)
{
    static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < n; i += 3) {
        unsigned v = p[i] << 16;
        if (i + 1 < n) v |= p[i + 1] << 8;
        if (i + 2 < n) v |= p[i + 2];
        out += t[v >> 18];
        out += t[(v >> 12) & 63];
        out += i + 1 < n ? t[(v >> 6) & 63] : '=';
        out += i + 2 < n ? t[v & 63] : '=';
    }
    return out;
}

// Digest = Base64(SHA-1(nonce + created + password)).
inline std::string WsDigest(const std::string& nonce, const std::string& created, const std::string& password)
{
    SHA1_CTX c;
    SHA1Init(&c);
    const std::string all = nonce + created + password;
    SHA1Update(&c, reinterpret_cast<const std::uint8_t*>(all.data()), all.size());
    std::uint8_t d[SHA1_DIGEST_LENGTH];
    SHA1Final(d, &c);
    return Base64Encode(d, sizeof d);
}

inline std::string Md5(const std::string& s)
{
    char hex[MD5_DIGEST_STRING_LENGTH];
    MD5Data(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), hex);
    return hex;
}

// Text between <...local> and </...local> (any prefix), "" when absent.
inline std::string Element(const std::string& xml, const std::string& local, std::size_t from = 0)
{
    for (std::size_t at = xml.find(local, from); at != std::string::npos; at = xml.find(local, at + 1)) {
        if (at == 0 || (xml[at - 1] != ':' && xml[at - 1] != '<'))
            continue;
        const std::size_t open = xml.rfind('<', at);
        if (open == std::string::npos || xml[open + 1] == '/')
            continue;
        const std::size_t gt = xml.find('>', at);
        if (gt == std::string::npos)
            return {};
        const char after = xml[at + local.size()];
        if (after != ' ' && after != '>' && after != '/')
            continue;
        if (xml[gt - 1] == '/')
            return {};
        const std::size_t close = xml.find("</", gt);
        return close == std::string::npos ? std::string() : xml.substr(gt + 1, close - gt - 1);
    }
    return {};
}

// The local name of the first element inside the Body.
inline std::string BodyOp(const std::string& xml)
{
    std::size_t b = xml.find("Body>");
    if (b == std::string::npos)
        return {};
    const std::size_t lt = xml.find('<', b);
    if (lt == std::string::npos)
        return {};
    std::size_t e = lt + 1;
    while (e < xml.size() && xml[e] != ' ' && xml[e] != '>' && xml[e] != '/')
        ++e;
    std::string name = xml.substr(lt + 1, e - lt - 1);
    const std::size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

struct Request {
    std::string path, op, body;
};

class Camera {
public:
    enum Mode { Up, Refusing, Silent };
    enum Auth { WsSecurity, HttpDigest };

    std::string user = "admin", password = "secret";
    std::atomic<int> mode{Up};
    std::atomic<int> auth{WsSecurity};
    std::atomic<int> clockSkew{0}; // seconds the camera's clock is ahead of ours
    std::atomic<int> profiles{2};
    std::atomic<bool> withEvents{true}, withPtz{true};

    ~Camera() { Stop(); }

    void Start()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(m_port)); // the same port again after a Stop
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 64) != 0) {
            std::perror("fake camera bind");
            return;
        }
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_stop = false;
        m_accept = std::thread([this] { AcceptLoop(); });
    }

    // Closes the port: connects are refused until Start again.
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_accept.joinable())
            m_accept.join();
        if (m_listen >= 0) {
            ::close(m_listen);
            m_listen = -1;
        }
        std::vector<std::thread> conns;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            conns.swap(m_conns);
        }
        for (auto& t : conns)
            t.join();
        StopDiscovery();
    }

    int Port() const { return m_port; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string DeviceUrl() const { return Base() + "/onvif/device_service"; }

    // Events the next PullMessages returns, in order.
    void QueueMotion(bool on = true)
    {
        Queue("tns1:VideoSource/MotionAlarm", "<tt:SimpleItem Name=\"Source\" Value=\"VideoSource_1\"/>",
              std::string("<tt:SimpleItem Name=\"State\" Value=\"") + (on ? "true" : "false") + "\"/>");
    }
    void QueueInput(const char* token, bool on = true)
    {
        Queue("tns1:Device/Trigger/DigitalInput",
              std::string("<tt:SimpleItem Name=\"InputToken\" Value=\"") + token + "\"/>",
              std::string("<tt:SimpleItem Name=\"LogicalState\" Value=\"") + (on ? "true" : "false") + "\"/>");
    }

    int Count(const std::string& op) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(),
                                              [&](const Request& r) { return r.op == op; }));
    }
    // Requests whose log-in passed, by operation.
    int Accepted(const std::string& op) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_accepted.begin(), m_accepted.end(), op));
    }
    std::vector<Request> Requests(const std::string& op) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Request> out;
        for (const Request& r : m_requests)
            if (r.op == op)
                out.push_back(r);
        return out;
    }
    // Every request so far, in arrival order.
    std::vector<Request> AllRequests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // Held requests of this operation whose client had closed the connection
    // by the time they were released.
    int Abandoned(const std::string& op) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_abandoned.begin(), m_abandoned.end(), op));
    }
    // Requests of this operation wait (after being recorded) until Release.
    void Hold(const std::string& op)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = op;
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hold.clear();
        }
        m_cv.notify_all();
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
        m_accepted.clear();
    }

    // WS-Discovery: a UDP responder on 127.0.0.1; answers each Probe with a
    // ProbeMatch naming the device service.
    std::string StartDiscovery()
    {
        m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_udp, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_udp, reinterpret_cast<sockaddr*>(&a), &len);
        m_udpStop = false;
        m_udpThread = std::thread([this] { DiscoveryLoop(); });
        return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    int Probes() const { return m_probes.load(); }

private:
    void Queue(const std::string& topic, const std::string& source, const std::string& data)
    {
        char when[32];
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&t, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("<wsnt:NotificationMessage><wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/"
                           "topicExpression/ConcreteSet\">" +
                           topic + "</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" + when +
                           "\" PropertyOperation=\"Changed\"><tt:Source>" + source + "</tt:Source><tt:Data>" + data +
                           "</tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>");
        m_cv.notify_all();
    }

    void StopDiscovery()
    {
        m_udpStop = true;
        if (m_udpThread.joinable())
            m_udpThread.join();
        if (m_udp >= 0) {
            ::close(m_udp);
            m_udp = -1;
        }
    }

    void DiscoveryLoop()
    {
        char buf[65536];
        while (!m_udpStop) {
            pollfd p{m_udp, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(m_udp, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0)
                continue;
            const std::string probe(buf, static_cast<std::size_t>(n));
            if (BodyOp(probe) != "Probe")
                continue;
            ++m_probes;
            const std::string id = Element(probe, "MessageID");
            const std::string reply =
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                "xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
                "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
                "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><SOAP-ENV:Header><wsa:RelatesTo>" +
                id +
                "</wsa:RelatesTo></SOAP-ENV:Header><SOAP-ENV:Body><d:ProbeMatches><d:ProbeMatch>"
                "<wsa:EndpointReference><wsa:Address>urn:uuid:1</wsa:Address></wsa:EndpointReference>"
                "<d:Types>dn:NetworkVideoTransmitter</d:Types><d:XAddrs>" +
                DeviceUrl() + " http://[::1]:" + std::to_string(m_port) +
                "/onvif/device_service</d:XAddrs></d:ProbeMatch></d:ProbeMatches></SOAP-ENV:Body></SOAP-ENV:Envelope>";
            ::sendto(m_udp, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    void AcceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_conns.emplace_back([this, fd] {
                Serve(fd);
                ::close(fd);
            });
        }
    }

    bool ReadRequest(int fd, std::string* head, std::string* body)
    {
        std::string raw;
        char buf[8192];
        for (;;) {
            const std::size_t end = raw.find("\r\n\r\n");
            if (end != std::string::npos) {
                *head = raw.substr(0, end);
                std::size_t length = 0;
                const std::size_t cl = head->find("Content-Length:");
                if (cl != std::string::npos)
                    length = std::strtoul(head->c_str() + cl + 15, nullptr, 10);
                if (raw.size() >= end + 4 + length) {
                    *body = raw.substr(end + 4, length);
                    return true;
                }
            }
            pollfd p{fd, POLLIN, 0};
            if (m_stop || ::poll(&p, 1, 50) < 0)
                return false;
            if (!(p.revents & POLLIN))
                continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            raw.append(buf, static_cast<std::size_t>(n));
        }
    }

    static void Send(int fd, const std::string& status, const std::string& extra, const std::string& body)
    {
        const std::string r = "HTTP/1.1 " + status + "\r\nContent-Type: application/soap+xml; charset=utf-8\r\n" +
                              extra + "Content-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
        std::size_t sent = 0;
        while (sent < r.size()) {
            const ssize_t n = ::send(fd, r.data() + sent, r.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }

    static std::string Env(const std::string& body)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<env:Envelope "
               "xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
               "xmlns:tt=\"http://www.onvif.org/ver10/schema\" xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
               "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\" "
               "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
               "xmlns:wsa5=\"http://www.w3.org/2005/08/addressing\" xmlns:ter=\"http://www.onvif.org/ver10/error\">\n"
               "<env:Body>" +
               body + "</env:Body></env:Envelope>";
    }

    static std::string NotAuthorized()
    {
        return Env("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized"
                   "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Sender not authorized"
                   "</env:Text></env:Reason></env:Fault>");
    }

    bool WsAuthorized(const std::string& body) const
    {
        const std::string name = Element(body, "Username");
        const std::string digest = Element(body, "Password");
        const std::string nonce = Base64Decode(Element(body, "Nonce"));
        const std::string created = Element(body, "Created");
        if (name != user || digest.empty() || created.size() != 20)
            return false;
        std::tm tm{};
        if (!strptime(created.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm))
            return false;
        const long long c = timegm(&tm);
        const long long cameraNow = std::time(nullptr) + clockSkew.load();
        if (c < cameraNow - 60 || c > cameraNow + 60)
            return false; // outside the camera's window: a replay or a wrong clock
        return WsDigest(nonce, created, password) == digest;
    }

    static std::string Param(const std::string& header, const std::string& name)
    {
        const std::size_t at = header.find(name + "=");
        if (at == std::string::npos)
            return {};
        std::size_t v = at + name.size() + 1;
        if (header[v] == '"') {
            const std::size_t e = header.find('"', v + 1);
            return header.substr(v + 1, e - v - 1);
        }
        const std::size_t e = header.find_first_of(", \r", v);
        return header.substr(v, e - v);
    }

    bool DigestAuthorized(const std::string& head, const std::string& path) const
    {
        const std::size_t at = head.find("\r\nAuthorization: Digest ");
        if (at == std::string::npos)
            return false;
        const std::string h = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
        if (Param(h, "username") != user || Param(h, "nonce") != "fakenonce42" || Param(h, "uri") != path)
            return false;
        const std::string ha1 = Md5(user + ":cam:" + password), ha2 = Md5("POST:" + path);
        const std::string expect =
            Md5(ha1 + ":fakenonce42:" + Param(h, "nc") + ":" + Param(h, "cnonce") + ":auth:" + ha2);
        return Param(h, "qop") == "auth" && Param(h, "response") == expect;
    }

    std::string Answer(const std::string& op, const std::string& path, const std::string& body)
    {
        const std::string base = Base();
        if (op == "GetSystemDateAndTime") {
            const std::time_t t = std::time(nullptr) + clockSkew.load();
            std::tm tm{};
            gmtime_r(&t, &tm);
            char x[512];
            std::snprintf(x, sizeof x,
                          "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>NTP"
                          "</tt:DateTimeType><tt:UTCDateTime><tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute>"
                          "<tt:Second>%d</tt:Second></tt:Time><tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month>"
                          "<tt:Day>%d</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime>"
                          "</tds:GetSystemDateAndTimeResponse>",
                          tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
            return x;
        }
        if (op == "GetCapabilities")
            return "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + base +
                   "/onvif/device_service</tt:XAddr></tt:Device>" +
                   (withEvents ? "<tt:Events><tt:XAddr>" + base +
                                     "/onvif/events</tt:XAddr><tt:WSPullPointSupport>true</tt:WSPullPointSupport>"
                                     "</tt:Events>"
                               : std::string()) +
                   "<tt:Media><tt:XAddr>" + base + "/onvif/media</tt:XAddr></tt:Media>" +
                   (withPtz ? "<tt:PTZ><tt:XAddr>" + base + "/onvif/ptz</tt:XAddr></tt:PTZ>" : std::string()) +
                   "</tds:Capabilities></tds:GetCapabilitiesResponse>";
        if (op == "GetProfiles") {
            std::string x = "<trt:GetProfilesResponse>";
            for (int i = 1; i <= profiles; ++i) {
                const int w = i == 1 ? 1920 : 640 / (i - 1), h = i == 1 ? 1080 : 360 / (i - 1);
                x += "<trt:Profiles token=\"Profile_" + std::to_string(i) + "\" fixed=\"true\"><tt:Name>P" +
                     std::to_string(i) +
                     "</tt:Name><tt:VideoEncoderConfiguration token=\"V\"><tt:Encoding>H264</tt:Encoding>"
                     "<tt:Resolution><tt:Width>" +
                     std::to_string(w) + "</tt:Width><tt:Height>" + std::to_string(h) +
                     "</tt:Height></tt:Resolution></tt:VideoEncoderConfiguration></trt:Profiles>";
            }
            return x + "</trt:GetProfilesResponse>";
        }
        if (op == "GetStreamUri") {
            const std::string token = Element(body, "ProfileToken");
            return "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://127.0.0.1:8554/" + token +
                   "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect></trt:MediaUri>"
                   "</trt:GetStreamUriResponse>";
        }
        if (op == "CreatePullPointSubscription") {
            const int n = ++m_subscriptions;
            return "<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference><wsa5:Address>" + base +
                   "/onvif/subscription/" + std::to_string(n) +
                   "</wsa5:Address></tev:SubscriptionReference></tev:CreatePullPointSubscriptionResponse>";
        }
        if (op == "PullMessages") {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait_for(lock, std::chrono::milliseconds(300), [this] { return m_stop || !m_events.empty(); });
            std::string x = "<tev:PullMessagesResponse><tev:CurrentTime>2026-01-01T00:00:00Z</tev:CurrentTime>"
                            "<tev:TerminationTime>2026-01-01T00:01:00Z</tev:TerminationTime>";
            while (!m_events.empty()) {
                x += m_events.front();
                m_events.pop_front();
            }
            return x + "</tev:PullMessagesResponse>";
        }
        if (op == "Renew")
            return "<wsnt:RenewResponse><wsnt:TerminationTime>2026-01-01T00:01:00Z</wsnt:TerminationTime>"
                   "</wsnt:RenewResponse>";
        if (op == "Unsubscribe")
            return "<wsnt:UnsubscribeResponse/>";
        if (op == "GetPresets")
            return "<tptz:GetPresetsResponse><tptz:Preset token=\"1\"><tt:Name>Gate</tt:Name></tptz:Preset>"
                   "<tptz:Preset token=\"2\"><tt:Name>Yard</tt:Name></tptz:Preset>"
                   "<tptz:Preset token=\"" +
                   std::string(70, 'x') + "\"><tt:Name>Long</tt:Name></tptz:Preset></tptz:GetPresetsResponse>";
        if (op == "SetPreset")
            return "<tptz:SetPresetResponse><tptz:PresetToken>" + Element(body, "PresetName") +
                   "</tptz:PresetToken></tptz:SetPresetResponse>";
        if (op == "GetNetworkInterfaces")
            return "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\"><tt:Enabled>true"
                   "</tt:Enabled></tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>";
        (void)path;
        return "<tptz:" + op + "Response/>"; // ContinuousMove, Stop, GotoPreset, RemovePreset, Set*
    }

    void Serve(int fd)
    {
        std::string head, body;
        if (!ReadRequest(fd, &head, &body))
            return;
        const std::size_t sp = head.find(' ');
        const std::string path = head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
        const std::string op = BodyOp(body);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back({path, op, body});
        }
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const bool held = !m_hold.empty() && m_hold == op;
            m_cv.wait(lock, [&] { return m_stop.load() || m_hold.empty() || m_hold != op; });
            // A held request whose client hung up meanwhile was given up on.
            char c;
            if (held && ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                m_abandoned.push_back(op);
        }
        if (mode == Silent) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stop.load(); });
            return;
        }
        if (op != "GetSystemDateAndTime") {
            if (auth == HttpDigest) {
                if (mode == Refusing || !DigestAuthorized(head, path)) {
                    Send(fd, "401 Unauthorized",
                         "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth\", nonce=\"fakenonce42\", "
                         "opaque=\"0a\"\r\n",
                         "");
                    return;
                }
            } else if (mode == Refusing || !WsAuthorized(body)) {
                Send(fd, "400 Bad Request", "", NotAuthorized());
                return;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_accepted.push_back(op);
        }
        Send(fd, "200 OK", "", Env(Answer(op, path, body)));
    }

    int m_listen = -1, m_port = 0, m_udp = -1;
    std::atomic<bool> m_stop{false}, m_udpStop{false};
    std::atomic<int> m_probes{0}, m_subscriptions{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::thread m_accept, m_udpThread;
    std::vector<std::thread> m_conns;
    std::vector<Request> m_requests;
    std::vector<std::string> m_accepted;
    std::vector<std::string> m_abandoned;
    std::deque<std::string> m_events;
    std::string m_hold;
};

} // namespace fakeonvif
