// The HTTP side of the ONVIF client: one POST per exchange over a fresh TCP
// connection, every step bounded by one deadline, the reply bounded in size,
// and HTTP digest authentication for cameras that ask for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace qelm::onvif {

// Largest reply read from a camera (headers and body together).
constexpr std::size_t kMaxReply = 1 << 20;

struct Url {
    std::string host; // without brackets
    int port = 80;
    std::string path = "/";
};
// http://host[:port][/path]; false for anything else (https is not spoken).
bool ParseUrl(std::string_view url, Url* out);

struct HttpReply {
    int status = 0;
    std::string wwwAuthenticate; // the Digest challenge, when one came
    std::string body;
};

enum HttpResult {
    kHttpOk = 0,
    kHttpUnreachable = -1, // refused by the network guard, no route, connect failed
    kHttpTimeout = -2,
    kHttpTooBig = -3,
    kHttpMalformed = -4,
    kHttpCancelled = -5,
};

// Parses a whole reply (status line, headers, body plain or chunked). With
// `complete` false, an unfinished reply gives kHttpMalformed and *needMore
// true. The body is bounded by kMaxReply. `protocol` is the status line's
// start ("RTSP/" answers have the same form).
int ParseHttpReply(std::string_view raw, bool complete, HttpReply* reply, bool* needMore = nullptr,
                   std::string_view protocol = "HTTP/");

// One POST. `headers` are extra header lines, each ending in "\r\n".
// `cancel` (may be null) ends the wait early when it becomes true.
int HttpPost(const Url& url, const std::string& headers, const std::string& contentType, const std::string& body,
             int timeoutMs, HttpReply* reply, const std::atomic<bool>* cancel = nullptr);

struct DigestChallenge {
    std::string realm, nonce, opaque, qop, algorithm;
};
// From a WWW-Authenticate value; false when it is not a usable Digest one.
bool ParseDigestChallenge(std::string_view header, DigestChallenge* out);
// The Authorization header value for one request (RFC 2617, MD5, qop auth or none).
std::string DigestAuthorization(const DigestChallenge& c, const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri, const std::string& cnonce,
                                unsigned nc);
std::string Md5Hex(std::string_view text);

} // namespace qelm::onvif
