// SOAP 1.2 messages of the ONVIF client: envelopes with a WS-Security
// UsernameToken (password digest), and the parsing of every reply it reads.
// No sockets here, so the parsing can be fuzzed on its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qelm::onvif {

std::string Base64Encode(std::string_view bytes);
// Digest = Base64(SHA-1(nonce + created + password)), nonce as raw bytes.
std::string PasswordDigest(std::string_view nonce, std::string_view created, std::string_view password);
// "2024-01-02T03:04:05Z" of a UTC time.
std::string UtcText(std::time_t t);
std::string XmlEscape(std::string_view text);

// The UsernameToken header block; empty when user is empty.
std::string SecurityHeader(const std::string& user, const std::string& password, std::time_t created,
                           std::string_view nonce);
// A whole envelope around body (one element, already namespaced).
std::string Envelope(const std::string& headers, const std::string& body);

struct SoapFault {
    std::string code, subcode, reason;
    // A refused log-in: NotAuthorized or a WS-Security failure.
    bool NotAuthorized() const;
};

// Every parser answers false for text that is not a SOAP envelope with the
// expected element (too deep, malformed, a fault). A fault fills *fault when given.
bool ParseFault(std::string_view xml, SoapFault* fault);
bool ParseSystemDateTime(std::string_view xml, std::time_t* utc);

struct Capabilities {
    std::string device, media, ptz, events;
    bool pullPoint = false;
};
bool ParseCapabilities(std::string_view xml, Capabilities* caps);

struct ProfileInfo {
    std::string token, name;
    int width = 0, height = 0;
};
// At most `limit` profiles, in the camera's order.
bool ParseProfiles(std::string_view xml, std::vector<ProfileInfo>* profiles, std::size_t limit = 64);
bool ParseStreamUri(std::string_view xml, std::string* uri);
bool ParseSubscription(std::string_view xml, std::string* address);

struct EventMessage {
    std::string topic;
    std::string utcTime;           // the message's UtcTime attribute
    std::string operation;         // Initialized, Changed, Deleted
    std::map<std::string, std::string> source, data; // SimpleItem Name -> Value
};
bool ParsePullMessages(std::string_view xml, std::vector<EventMessage>* events, std::size_t limit = 256);

struct PresetInfo {
    std::string token, name;
};
bool ParsePresets(std::string_view xml, std::vector<PresetInfo>* presets, std::size_t limit = 1024);
bool ParseSetPreset(std::string_view xml, std::string* token);
bool ParseNetworkInterfaces(std::string_view xml, std::vector<std::string>* tokens);
// The first XAddr of every ProbeMatch (a WS-Discovery reply, SOAP 1.2).
bool ParseProbeMatches(std::string_view xml, std::vector<std::string>* xaddrs, std::size_t limit = 64);
// "2024-01-02T03:04:05[.123][Z|+hh:mm]" into a UTC time and milliseconds.
bool ParseXsDateTime(std::string_view text, std::time_t* utc, int* millis = nullptr);

// Alarm type of an event: 14 motion, 15 or 16 a digital input going active;
// 0 for anything else (including a motion or input that ended).
int AlarmTypeOf(const EventMessage& event);

} // namespace qelm::onvif
