// SOAP envelopes and reply parsing of the ONVIF client (see onvif_soap.h).
#include "controls/onvif_soap.h"

#include "platform/text.h"
#include "platform/xml_guard.h"

#include <sha1.h>
#include <tinyxml.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qelm::onvif {

namespace {

// Camera replies are far shallower than files; a tighter bound than the
// file readers' keeps TinyXML's recursion small on a hostile reply.
constexpr int kMaxReplyNesting = 64;

std::string_view LocalName(const char* value)
{
    if (!value)
        return {};
    std::string_view v(value);
    const std::size_t colon = v.rfind(':');
    return colon == std::string_view::npos ? v : v.substr(colon + 1);
}

bool Is(const TiXmlElement* e, std::string_view local)
{
    return e && LocalName(e->Value()) == local;
}

const TiXmlElement* Child(const TiXmlElement* parent, std::string_view local)
{
    if (!parent)
        return nullptr;
    for (const TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement())
        if (Is(e, local))
            return e;
    return nullptr;
}

const TiXmlElement* Next(const TiXmlElement* e, std::string_view local)
{
    for (e = e ? e->NextSiblingElement() : nullptr; e; e = e->NextSiblingElement())
        if (Is(e, local))
            return e;
    return nullptr;
}

// Depth-first search of a descendant, bounded by the nesting guard.
const TiXmlElement* Find(const TiXmlElement* parent, std::string_view local, int depth = 0)
{
    if (!parent || depth > kMaxReplyNesting)
        return nullptr;
    for (const TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, local))
            return e;
        if (const TiXmlElement* f = Find(e, local, depth + 1))
            return f;
    }
    return nullptr;
}

std::string Text(const TiXmlElement* e)
{
    const char* t = e ? e->GetText() : nullptr;
    std::string s = t ? t : "";
    std::size_t b = 0, n = s.size();
    while (b < n && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (n > b && std::isspace(static_cast<unsigned char>(s[n - 1])))
        --n;
    return s.substr(b, n - b);
}

std::string Attr(const TiXmlElement* e, const char* name)
{
    const char* v = e ? e->Attribute(name) : nullptr;
    return v ? v : "";
}

// A parsed reply: the document and its Body.
struct Reply {
    TiXmlDocument doc;
    const TiXmlElement* body = nullptr;

    bool Parse(std::string_view xml)
    {
        // TinyXML reads a C string and trusts UTF-8 lead bytes: give it
        // neither embedded NULs nor malformed sequences.
        if (xml.empty() || xml.find('\0') != std::string_view::npos || !IsValidUtf8(xml) ||
            !qelm::XmlNestingWithin(xml, kMaxReplyNesting))
            return false;
        const std::string text(xml);
        doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        const TiXmlElement* root = doc.RootElement();
        if (doc.Error() || !Is(root, "Envelope"))
            return false;
        body = Child(root, "Body");
        return body != nullptr;
    }
    // The body's response element, when it is not a fault.
    const TiXmlElement* Response(std::string_view local) const
    {
        const TiXmlElement* r = Child(body, local);
        return r;
    }
};

int Int(const TiXmlElement* e)
{
    const std::string t = Text(e);
    long v = 0;
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        neg = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        v = v * 10 + (t[i] - '0');
        if (v > 1000000000)
            return 0;
    }
    return static_cast<int>(neg ? -v : v);
}

void SimpleItems(const TiXmlElement* parent, std::map<std::string, std::string>* out)
{
    if (!parent)
        return;
    for (const TiXmlElement* e = parent->FirstChildElement(); e && out->size() < 32; e = e->NextSiblingElement())
        if (Is(e, "SimpleItem"))
            (*out)[Attr(e, "Name")] = Attr(e, "Value");
}

bool IsTrue(const std::string& v)
{
    return v == "true" || v == "1" || v == "True" || v == "TRUE";
}

} // namespace

std::string Base64Encode(std::string_view bytes)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string PasswordDigest(std::string_view nonce, std::string_view created, std::string_view password)
{
    SHA1_CTX ctx;
    SHA1Init(&ctx);
    SHA1Update(&ctx, reinterpret_cast<const std::uint8_t*>(nonce.data()), nonce.size());
    SHA1Update(&ctx, reinterpret_cast<const std::uint8_t*>(created.data()), created.size());
    SHA1Update(&ctx, reinterpret_cast<const std::uint8_t*>(password.data()), password.size());
    std::uint8_t digest[SHA1_DIGEST_LENGTH];
    SHA1Final(digest, &ctx);
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string UtcText(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string XmlEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        }
    }
    return out;
}

std::string SecurityHeader(const std::string& user, const std::string& password, std::time_t created,
                           std::string_view nonce)
{
    if (user.empty())
        return {};
    const std::string createdText = UtcText(created);
    return "<wsse:Security s:mustUnderstand=\"1\" "
           "xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd\" "
           "xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">"
           "<wsse:UsernameToken><wsse:Username>" +
           XmlEscape(user) +
           "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
           PasswordDigest(nonce, createdText, password) +
           "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           Base64Encode(nonce) + "</wsse:Nonce><wsu:Created>" + createdText +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

std::string Envelope(const std::string& headers, const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\" "
           "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:wsa=\"http://www.w3.org/2005/08/addressing\" "
           "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\">"
           "<s:Header>" +
           headers + "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

bool SoapFault::NotAuthorized() const
{
    for (const std::string* s : {&code, &subcode, &reason}) {
        const std::string_view v(*s);
        if (v.find("NotAuthorized") != std::string_view::npos ||
            v.find("FailedAuthentication") != std::string_view::npos ||
            v.find("InvalidSecurity") != std::string_view::npos)
            return true;
    }
    return false;
}

bool ParseFault(std::string_view xml, SoapFault* fault)
{
    Reply r;
    if (!r.Parse(xml))
        return false;
    const TiXmlElement* f = Child(r.body, "Fault");
    if (!f)
        return false;
    if (fault) {
        SoapFault out;
        const TiXmlElement* code = Child(f, "Code");
        out.code = Text(Child(code, "Value"));
        // The most specific subcode says most.
        for (const TiXmlElement* sub = Child(code, "Subcode"); sub; sub = Child(sub, "Subcode")) {
            out.subcode = Text(Child(sub, "Value"));
            if (out.subcode.size() > 256)
                out.subcode.resize(256);
        }
        out.reason = Text(Child(Child(f, "Reason"), "Text"));
        if (out.reason.size() > 511)
            out.reason.resize(511);
        *fault = std::move(out);
    }
    return true;
}

bool ParseSystemDateTime(std::string_view xml, std::time_t* utc)
{
    Reply r;
    if (!utc || !r.Parse(xml))
        return false;
    const TiXmlElement* dt = Child(r.Response("GetSystemDateAndTimeResponse"), "SystemDateAndTime");
    const TiXmlElement* u = Child(dt, "UTCDateTime");
    if (!u)
        return false;
    const TiXmlElement* date = Child(u, "Date");
    const TiXmlElement* time = Child(u, "Time");
    std::tm tm{};
    tm.tm_year = Int(Child(date, "Year")) - 1900;
    tm.tm_mon = Int(Child(date, "Month")) - 1;
    tm.tm_mday = Int(Child(date, "Day"));
    tm.tm_hour = Int(Child(time, "Hour"));
    tm.tm_min = Int(Child(time, "Minute"));
    tm.tm_sec = Int(Child(time, "Second"));
    if (tm.tm_year < 70 || tm.tm_year > 1100 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 ||
        tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
        tm.tm_sec > 60)
        return false;
    *utc = timegm(&tm);
    return *utc != static_cast<std::time_t>(-1);
}

bool ParseCapabilities(std::string_view xml, Capabilities* caps)
{
    Reply r;
    if (!caps || !r.Parse(xml))
        return false;
    const TiXmlElement* c = Child(r.Response("GetCapabilitiesResponse"), "Capabilities");
    if (!c)
        return false;
    Capabilities out;
    out.device = Text(Child(Child(c, "Device"), "XAddr"));
    out.media = Text(Child(Child(c, "Media"), "XAddr"));
    out.ptz = Text(Child(Child(c, "PTZ"), "XAddr"));
    const TiXmlElement* ev = Child(c, "Events");
    out.events = Text(Child(ev, "XAddr"));
    out.pullPoint = IsTrue(Text(Child(ev, "WSPullPointSupport"))) || !out.events.empty();
    *caps = std::move(out);
    return true;
}

bool ParseProfiles(std::string_view xml, std::vector<ProfileInfo>* profiles, std::size_t limit)
{
    Reply r;
    if (!profiles || !r.Parse(xml))
        return false;
    const TiXmlElement* resp = r.Response("GetProfilesResponse");
    if (!resp)
        return false;
    profiles->clear();
    for (const TiXmlElement* p = Child(resp, "Profiles"); p && profiles->size() < limit; p = Next(p, "Profiles")) {
        ProfileInfo info;
        info.token = Attr(p, "token");
        info.name = Text(Child(p, "Name"));
        const TiXmlElement* res = Child(Child(p, "VideoEncoderConfiguration"), "Resolution");
        info.width = Int(Child(res, "Width"));
        info.height = Int(Child(res, "Height"));
        if (!info.token.empty())
            profiles->push_back(std::move(info));
    }
    return true;
}

bool ParseStreamUri(std::string_view xml, std::string* uri)
{
    Reply r;
    if (!uri || !r.Parse(xml))
        return false;
    const TiXmlElement* u = Child(Child(r.Response("GetStreamUriResponse"), "MediaUri"), "Uri");
    if (!u)
        return false;
    *uri = Text(u);
    return !uri->empty();
}

bool ParseSubscription(std::string_view xml, std::string* address)
{
    Reply r;
    if (!address || !r.Parse(xml))
        return false;
    const TiXmlElement* a =
        Child(Child(r.Response("CreatePullPointSubscriptionResponse"), "SubscriptionReference"), "Address");
    if (!a)
        return false;
    *address = Text(a);
    return !address->empty();
}

bool ParsePullMessages(std::string_view xml, std::vector<EventMessage>* events, std::size_t limit)
{
    Reply r;
    if (!events || !r.Parse(xml))
        return false;
    const TiXmlElement* resp = r.Response("PullMessagesResponse");
    if (!resp)
        return false;
    events->clear();
    for (const TiXmlElement* n = Child(resp, "NotificationMessage"); n && events->size() < limit;
         n = Next(n, "NotificationMessage")) {
        EventMessage ev;
        ev.topic = Text(Child(n, "Topic"));
        const TiXmlElement* outer = Child(n, "Message");
        const TiXmlElement* m = Child(outer, "Message");
        if (!m)
            m = outer;
        ev.utcTime = Attr(m, "UtcTime");
        ev.operation = Attr(m, "PropertyOperation");
        SimpleItems(Child(m, "Source"), &ev.source);
        SimpleItems(Child(m, "Data"), &ev.data);
        events->push_back(std::move(ev));
    }
    return true;
}

bool ParsePresets(std::string_view xml, std::vector<PresetInfo>* presets, std::size_t limit)
{
    Reply r;
    if (!presets || !r.Parse(xml))
        return false;
    const TiXmlElement* resp = r.Response("GetPresetsResponse");
    if (!resp)
        return false;
    presets->clear();
    for (const TiXmlElement* p = Child(resp, "Preset"); p && presets->size() < limit; p = Next(p, "Preset"))
        presets->push_back({Attr(p, "token"), Text(Child(p, "Name"))});
    return true;
}

bool ParseSetPreset(std::string_view xml, std::string* token)
{
    Reply r;
    if (!token || !r.Parse(xml))
        return false;
    const TiXmlElement* resp = r.Response("SetPresetResponse");
    if (!resp)
        return false;
    *token = Text(Child(resp, "PresetToken"));
    return true;
}

bool ParseNetworkInterfaces(std::string_view xml, std::vector<std::string>* tokens)
{
    Reply r;
    if (!tokens || !r.Parse(xml))
        return false;
    const TiXmlElement* resp = r.Response("GetNetworkInterfacesResponse");
    if (!resp)
        return false;
    tokens->clear();
    for (const TiXmlElement* n = Child(resp, "NetworkInterfaces"); n && tokens->size() < 16;
         n = Next(n, "NetworkInterfaces"))
        tokens->push_back(Attr(n, "token"));
    return true;
}

bool ParseProbeMatches(std::string_view xml, std::vector<std::string>* xaddrs, std::size_t limit)
{
    Reply r;
    if (!xaddrs || !r.Parse(xml))
        return false;
    const TiXmlElement* matches = Child(r.body, "ProbeMatches");
    if (!matches)
        return false;
    for (const TiXmlElement* m = Child(matches, "ProbeMatch"); m && xaddrs->size() < limit;
         m = Next(m, "ProbeMatch")) {
        const std::string all = Text(Child(m, "XAddrs"));
        const std::size_t end = all.find_first_of(" \t\r\n");
        std::string first = all.substr(0, end);
        if (!first.empty() && first.size() < 256)
            xaddrs->push_back(std::move(first));
    }
    return true;
}

bool ParseXsDateTime(std::string_view text, std::time_t* utc, int* millis)
{
    if (!utc)
        return false;
    int y, mo, d, h, mi, s;
    char tail[40] = {};
    const std::string t(text.substr(0, 60));
    const int n = std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%39s", &y, &mo, &d, &h, &mi, &s, tail);
    if (n < 6 || y < 1970 || y > 3000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || s < 0 || s > 60)
        return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    std::time_t v = timegm(&tm);
    const char* p = tail;
    int ms = 0;
    if (*p == '.') {
        ++p;
        int scale = 100;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            ms += (*p - '0') * scale;
            scale /= 10;
            ++p;
        }
    }
    if (*p == '+' || *p == '-') {
        int oh = 0, om = 0;
        if (std::sscanf(p + 1, "%2d:%2d", &oh, &om) >= 1 && oh <= 14 && om < 60) {
            const long off = oh * 3600L + om * 60L;
            v += *p == '+' ? -off : off;
        }
    }
    *utc = v;
    if (millis)
        *millis = ms;
    return true;
}

int AlarmTypeOf(const EventMessage& event)
{
    const std::string_view topic(event.topic);
    auto value = [&](const char* name) -> std::string {
        auto it = event.data.find(name);
        return it == event.data.end() ? std::string() : it->second;
    };
    if (topic.find("MotionAlarm") != std::string_view::npos)
        return IsTrue(value("State")) ? 14 : 0;
    if (topic.find("CellMotionDetector") != std::string_view::npos || topic.find("/Motion") != std::string_view::npos)
        return IsTrue(value("IsMotion")) || IsTrue(value("State")) ? 14 : 0;
    if (topic.find("DigitalInput") != std::string_view::npos) {
        std::string state = value("LogicalState");
        if (state.empty())
            state = value("State");
        if (!IsTrue(state))
            return 0;
        // The input's number is the trailing digits of its token: the
        // second input reports as 16, the first (and any other) as 15.
        std::string token;
        for (const char* key : {"InputToken", "DigitalInputToken", "Index"}) {
            auto it = event.source.find(key);
            if (it != event.source.end()) {
                token = it->second;
                break;
            }
        }
        std::size_t i = token.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(token[i - 1])))
            --i;
        const std::string digits = token.substr(i, 6);
        const int number = digits.empty() ? 0 : std::atoi(digits.c_str());
        return number == 2 ? 16 : 15;
    }
    return 0;
}

} // namespace qelm::onvif
