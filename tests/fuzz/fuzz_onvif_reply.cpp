// Fuzzes what the ONVIF client makes of a camera's reply: the HTTP framing
// (whole and cut short), the digest challenge, and every SOAP reply parser
// on the body, as well as the event mapping of whatever events it finds.
#include "controls/onvif_events.h"
#include "controls/onvif_http.h"
#include "controls/onvif_soap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace qelm::onvif;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 2 * kMaxReply)
        return 0;
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    HttpReply reply;
    bool more = false;
    ParseHttpReply(raw, false, &reply, &more);
    const bool framed = ParseHttpReply(raw, true, &reply) == kHttpOk;
    DigestChallenge challenge;
    if (ParseDigestChallenge(reply.wwwAuthenticate, &challenge))
        DigestAuthorization(challenge, "u", "p", "POST", "/onvif", "c", 1);
    // Unframed input is a body too (WS-Discovery replies come bare).
    const std::string_view xml = framed ? std::string_view(reply.body) : raw;

    SoapFault fault;
    if (ParseFault(xml, &fault))
        (void)fault.NotAuthorized();
    std::time_t t;
    ParseSystemDateTime(xml, &t);
    Capabilities caps;
    ParseCapabilities(xml, &caps);
    std::vector<ProfileInfo> profiles;
    ParseProfiles(xml, &profiles);
    std::string text;
    ParseStreamUri(xml, &text);
    ParseSubscription(xml, &text);
    ParseSetPreset(xml, &text);
    std::vector<PresetInfo> presets;
    ParsePresets(xml, &presets);
    std::vector<std::string> list;
    ParseNetworkInterfaces(xml, &list);
    ParseProbeMatches(xml, &list);
    std::vector<EventMessage> events;
    if (ParsePullMessages(xml, &events)) {
        for (const EventMessage& m : events) {
            _OVF_ALARM_EVENT ev;
            MakeAlarmEvent(m, "127.0.0.1", &ev);
        }
    }
    ParseXsDateTime(raw.substr(0, 64), &t);
    return 0;
}
