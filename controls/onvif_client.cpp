// SOAP exchanges with log-in (see onvif_client.h).
#include "controls/onvif_client.h"

#include "controls/onvif_http.h"
#include "controls/onvif_soap.h"

#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace qelm::onvif {

namespace {

std::atomic<int> g_timeoutMs{5000};

std::mutex g_clockMutex;
std::map<std::string, int> g_clockOffsets; // "host:port" -> seconds

std::string ClockKey(const std::string& address)
{
    Url u;
    if (!ParseUrl(address, &u))
        return {};
    return u.host + ":" + std::to_string(u.port);
}

std::string RandomBytes(std::size_t n)
{
    std::string out(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::getrandom(out.data() + got, n - got, 0);
        if (r <= 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    if (got < n) {
        // Nonces only need to differ; the time and a counter are enough then.
        static std::atomic<unsigned> counter{0};
        const unsigned c = counter++;
        const std::time_t t = std::time(nullptr);
        for (std::size_t i = got; i < n; ++i)
            out[i] = static_cast<char>((t >> (i % 8)) ^ (c >> (i % 4) * 8) ^ i);
    }
    return out;
}

std::string HexText(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

int FromFault(const std::string& body, std::string* reason)
{
    SoapFault f;
    if (!ParseFault(body, &f))
        return kCallFailed;
    if (reason)
        *reason = f.reason.empty() ? f.subcode : f.reason;
    return f.NotAuthorized() ? kCallRefused : kCallFault;
}

} // namespace

int TimeoutMs()
{
    return g_timeoutMs.load();
}

void SetTimeoutMs(int ms)
{
    g_timeoutMs = std::clamp(ms, 50, 120000);
}

std::string HostOf(const std::string& address)
{
    Url u;
    return ParseUrl(address, &u) ? u.host : std::string();
}

bool KnownClockOffset(const std::string& address, int* offset)
{
    const std::string key = ClockKey(address);
    std::lock_guard<std::mutex> lock(g_clockMutex);
    auto it = g_clockOffsets.find(key);
    if (key.empty() || it == g_clockOffsets.end())
        return false;
    if (offset)
        *offset = it->second;
    return true;
}

int FetchClockOffset(const std::string& address, int* offset)
{
    SoapCall c;
    c.address = address;
    c.action = "http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime";
    c.body = "<tds:GetSystemDateAndTime/>";
    std::string reply;
    const std::time_t before = std::time(nullptr);
    const int rc = Call(c, &reply);
    if (rc != kCallOk)
        return rc;
    std::time_t camera = 0;
    if (!ParseSystemDateTime(reply, &camera))
        return kCallFailed;
    const long long diff = static_cast<long long>(camera) - static_cast<long long>(before);
    const int value = static_cast<int>(std::clamp<long long>(diff, -0x7fffffffLL, 0x7fffffffLL));
    {
        std::lock_guard<std::mutex> lock(g_clockMutex);
        if (g_clockOffsets.size() > 4096)
            g_clockOffsets.clear();
        g_clockOffsets[ClockKey(address)] = value;
    }
    if (offset)
        *offset = value;
    return kCallOk;
}

int Call(const SoapCall& call, std::string* reply)
{
    Url url;
    if (!ParseUrl(call.address, &url))
        return kCallFailed;
    const int timeout = call.timeoutMs > 0 ? call.timeoutMs : TimeoutMs();
    const std::string contentType = "application/soap+xml; charset=utf-8; action=\"" + call.action + "\"";
    const std::string security =
        SecurityHeader(call.user, call.password, std::time(nullptr) + call.clockOffset, RandomBytes(16));
    HttpReply r;
    int rc = HttpPost(url, "", contentType, Envelope(security + call.headers, call.body), timeout, &r, call.cancel);
    if (rc != kHttpOk)
        return kCallFailed;
    if (r.status == 401) {
        DigestChallenge challenge;
        if (call.user.empty() || !ParseDigestChallenge(r.wwwAuthenticate, &challenge))
            return kCallRefused;
        // The camera wants HTTP digest instead of (or beside) the token:
        // answer its challenge once.
        const std::string auth = DigestAuthorization(challenge, call.user, call.password, "POST", url.path,
                                                     HexText(RandomBytes(8)), 1);
        HttpReply second;
        rc = HttpPost(url, "Authorization: " + auth + "\r\n", contentType, Envelope(call.headers, call.body),
                      timeout, &second, call.cancel);
        if (rc != kHttpOk)
            return kCallFailed;
        if (second.status == 401)
            return kCallRefused;
        r = std::move(second);
    }
    if (r.status == 200) {
        if (reply)
            *reply = std::move(r.body);
        return kCallOk;
    }
    // Faults come with 400 or 500 (some cameras also refuse with 403).
    const int f = FromFault(r.body, call.fault);
    if (f == kCallFailed && r.status == 403)
        return kCallRefused;
    return f;
}

void CopyText(char* dst, std::size_t size, const std::string& src)
{
    if (!dst || size == 0)
        return;
    const std::size_t n = std::min(src.size(), size - 1);
    std::memcpy(dst, src.data(), n);
    std::memset(dst + n, 0, size - n);
}

} // namespace qelm::onvif
