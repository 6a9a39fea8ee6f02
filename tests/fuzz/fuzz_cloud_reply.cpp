// Fuzzes what the cloud client makes of a server's reply: the split into
// header and body, the session cookie, the server random and the err/ret
// values. Byte 0 picks the body buffer, byte 1 the cookie buffer; the rest is
// the reply as it came off the socket.
#include "core/cloud_client.h"
#include "core/cloud_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > 256 * 1024)
        return 0;
    // The callers' buffers: 1,024 bytes (random, report, rename), a login
    // dialog's larger one, or one too small for most bodies.
    static const int kCapacities[] = {1024, 65536, 16, 1};
    const int capacity = kCapacities[data[0] % 4];
    const int cookieSize = data[1] % 2 ? kCloudCookieSize : 1 + data[1] % 64;
    const char* reply = reinterpret_cast<const char*>(data + 2);
    const std::size_t replySize = size - 2;

    std::vector<char> body(static_cast<std::size_t>(capacity), 'B');
    std::vector<char> cookie(static_cast<std::size_t>(cookieSize), 'C');
    cookie.back() = '\0';
    const std::string before(cookie.data());
    int bodyLen = -1;
    const int result = ParseCloudReply(reply, replySize, cookie.data(), cookieSize, body.data(), capacity, &bodyLen);

    // The cookie is a terminated text of one line, or untouched.
    const std::string_view got(cookie.data(), strnlen(cookie.data(), cookie.size()));
    if (got.size() >= cookie.size() || got.find_first_of("\r\n") != std::string_view::npos)
        std::abort();
    if (result != kCloudOk) {
        if ((result != kCloudBadReply && result != kCloudTooBig) || bodyLen != 0 || got != before)
            std::abort();
        return 0;
    }
    // The body is the tail after the header, terminated, within the buffer.
    const std::string_view all(reply, replySize);
    if (bodyLen < 0 || bodyLen >= capacity || body[static_cast<std::size_t>(bodyLen)] != '\0' ||
        all.substr(replySize - static_cast<std::size_t>(bodyLen)) !=
            std::string_view(body.data(), static_cast<std::size_t>(bodyLen)) ||
        all.find("\r\n\r\n") != replySize - static_cast<std::size_t>(bodyLen) - 4)
        std::abort();

    // What the requests read from a body.
    const std::string random = CloudServerRandom(body.data());
    if (random.size() > static_cast<std::size_t>(bodyLen))
        std::abort();
    int value = 0;
    CloudReplyValue(body.data(), "err", &value);
    CloudReplyValue(body.data(), "ret", &value);
    return 0;
}
