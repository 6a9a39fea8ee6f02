// Parsing of cloud replies (see cloud_reply.h).
#include "core/cloud_reply.h"

#include "core/cloud_client.h"
#include "core/config_store.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

#include <tinyxml.h>

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view kXmlEnd = "</xml>";

} // namespace

int ParseCloudReply(const char* data, std::size_t size, char* cookie, int cookieSize, char* body, int capacity,
                    int* bodyLen)
{
    if (!body || !bodyLen)
        return kCloudNoBuffer;
    *bodyLen = 0;
    const std::string_view reply(data ? data : "", data ? size : 0);
    // Only a whole reply counts: one that was cut off, or did not fit, is a failure.
    if (reply.size() < kXmlEnd.size() || reply.substr(reply.size() - kXmlEnd.size()) != kXmlEnd)
        return kCloudBadReply;
    const std::size_t sep = reply.find("\r\n\r\n");
    if (sep == std::string_view::npos)
        return kCloudBadReply;
    const std::size_t length = reply.size() - sep - 4;
    if (length + 1 > static_cast<std::size_t>(capacity > 0 ? capacity : 0))
        return kCloudTooBig;
    std::memcpy(body, reply.data() + sep + 4, length);
    body[length] = '\0';
    *bodyLen = static_cast<int>(length);

    if (cookie && cookieSize > 0) {
        const std::string_view header = reply.substr(0, sep + 2);
        const std::size_t at = header.find("Set-Cookie:");
        if (at != std::string_view::npos) {
            std::string_view value = header.substr(at + 11);
            value = value.substr(0, value.find_first_of("\r\n")); // never a line break into a later request
            qelm::CopyBounded(cookie, static_cast<std::size_t>(cookieSize), value);
        }
    }
    return kCloudOk;
}

std::string CloudServerRandom(const char* body)
{
    const char* start = body ? std::strstr(body, "<rnd>") : nullptr;
    if (!start)
        return {};
    start += 5;
    const char* end = std::strstr(start, "</rnd>");
    return end ? std::string(start, static_cast<std::size_t>(end - start)) : std::string();
}

bool CloudReplyValue(const char* body, const char* name, int* value)
{
    if (!body || !name || !value || !qelm::XmlNestingWithin(body))
        return false;
    TiXmlDocument doc;
    doc.Parse(body, nullptr, TIXML_ENCODING_LEGACY);
    const TiXmlElement* root = doc.RootElement();
    if (doc.Error() || !root)
        return false;
    *value = 0;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (std::strcmp(e->Value(), name) == 0) {
            *value = qelm::cfg::ParseDecimal(e->GetText());
            break;
        }
    }
    return true;
}
