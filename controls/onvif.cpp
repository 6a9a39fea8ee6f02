// The OVF_ calls of the ONVIF stand-in: a hand-written ONVIF client (device,
// media, PTZ, network and event services, WS-Discovery).
#include "controls/onvif.h"

#include "controls/journal.h"
#include "controls/onvif_client.h"
#include "controls/onvif_discovery.h"
#include "controls/onvif_events.h"
#include "controls/onvif_soap.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace qelm::onvif;

namespace {

constexpr const char* kDevice = "http://www.onvif.org/ver10/device/wsdl/";
constexpr const char* kMedia = "http://www.onvif.org/ver10/media/wsdl/";
constexpr const char* kPtz = "http://www.onvif.org/ver20/ptz/wsdl/";

// What OVF_GetCapabilities leaves in its 1,556-byte buffer.
struct CapabilitiesBuffer {
    char Device[256];
    char Media[256];
    char Ptz[256];
    char Events[256];
    std::int32_t ClockOffset;
};
static_assert(sizeof(CapabilitiesBuffer) <= OVF_CAPABILITIES_SIZE);

std::string Str(const char* s)
{
    return s ? s : "";
}

std::string Num(float v)
{
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

SoapCall Make(const std::string& addr, const char* user, const char* password, const std::string& action,
              std::string body)
{
    SoapCall c;
    c.address = addr;
    c.user = Str(user);
    c.password = Str(password);
    c.action = action;
    c.body = std::move(body);
    if (!KnownClockOffset(addr, &c.clockOffset))
        c.clockOffset = 0;
    return c;
}

// Log-in on the camera's clock: asks for it once per camera.
int DeviceCall(const std::string& addr, const char* user, const char* password, const char* op, std::string body,
               std::string* reply, std::string* fault = nullptr)
{
    SoapCall c = Make(addr, user, password, std::string(kDevice) + op, std::move(body));
    c.fault = fault;
    return Call(c, reply);
}

int QueryCapabilities(const char* serviceAddr, const char* user, const char* password, Capabilities* caps,
                      int* clockOffset, bool freshClock)
{
    const std::string addr = Str(serviceAddr);
    int offset = 0;
    const bool cached = !freshClock && KnownClockOffset(addr, &offset);
    if (!cached && FetchClockOffset(addr, &offset) == kCallFailed)
        return kCallFailed; // nothing answers there
    std::string reply;
    int rc = DeviceCall(addr, user, password, "GetCapabilities",
                        "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", &reply);
    if (rc == kCallRefused && cached) {
        // The camera's clock may have moved since: learn it again, once.
        if (FetchClockOffset(addr, &offset) == kCallFailed)
            return kCallFailed;
        rc = DeviceCall(addr, user, password, "GetCapabilities",
                        "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", &reply);
    }
    if (clockOffset)
        *clockOffset = offset;
    if (rc != kCallOk)
        return rc;
    return ParseCapabilities(reply, caps) ? kCallOk : kCallFailed;
}

// The profile and PTZ service a PTZ call goes to, from the block.
bool PtzTarget(const _OVF_DEV_INFO* info, std::string* addr, std::string* token)
{
    if (!info)
        return false;
    const std::string ptz(info->PtzSerAddr, strnlen(info->PtzSerAddr, sizeof info->PtzSerAddr));
    const int count = std::clamp<int>(info->ProfileCount, 0, OVF_MAX_PROFILES);
    if (ptz.empty() || count <= 0)
        return false;
    const OvfProfileEntry& p = info->Profiles[0];
    *token = std::string(p.Token, strnlen(p.Token, sizeof p.Token));
    *addr = ptz;
    return !token->empty();
}

int PtzCall(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* op,
            const std::string& inner, std::string* reply = nullptr)
{
    std::string addr, token;
    if (!PtzTarget(info, &addr, &token))
        return kCallFailed;
    SoapCall c = Make(addr, user, password, std::string(kPtz) + op,
                      std::string("<tptz:") + op + "><tptz:ProfileToken>" + XmlEscape(token) + "</tptz:ProfileToken>" +
                          inner + "</tptz:" + op + ">");
    c.clockOffset = info->ClockOffset;
    return Call(c, reply);
}

// The running background search of OVF_StartSearch.
struct Search {
    std::mutex mutex;
    std::vector<std::string> found;
    std::thread thread;
    std::atomic<bool> stop{false};

    ~Search() { Stop(); }
    void Stop()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
} g_search;

void SearchFound(const std::string& addr)
{
    std::lock_guard<std::mutex> lock(g_search.mutex);
    if (g_search.found.size() < 1000)
        g_search.found.push_back(addr);
}

} // namespace

void OVF_StartSearch()
{
    qelm::Journal::Call("OVF_StartSearch", {});
    g_search.Stop();
    {
        std::lock_guard<std::mutex> lock(g_search.mutex);
        g_search.found.clear();
    }
    g_search.stop = false;
    g_search.thread = std::thread([] { Probe(SearchWaitMs(), nullptr, &g_search.stop, &SearchFound); });
}

void OVF_StopSearch()
{
    qelm::Journal::Call("OVF_StopSearch", {});
    g_search.Stop();
}

int OVF_GetSearchCount()
{
    std::lock_guard<std::mutex> lock(g_search.mutex);
    return static_cast<int>(g_search.found.size());
}

void OVF_GetSearchInfo(char out[256], int index)
{
    if (!out)
        return;
    std::lock_guard<std::mutex> lock(g_search.mutex);
    CopyText(out, 256, index >= 0 && index < static_cast<int>(g_search.found.size()) ? g_search.found[index] : "");
}

int OVF_Search(char (*out)[256], int* count)
{
    if (!out || !count || *count <= 0) {
        if (count)
            *count = 0;
        return 0;
    }
    std::vector<std::string> found;
    Probe(SearchWaitMs(), &found, nullptr);
    const int n = std::min(*count, static_cast<int>(found.size()));
    for (int i = 0; i < n; ++i)
        CopyText(out[i], 256, found[i]);
    *count = n;
    qelm::Journal::Call("OVF_Search", {}, n);
    return n;
}

int OVF_GetAddrByIP(const char* ip, char out[256])
{
    if (!ip || !*ip || !out)
        return -1;
    out[0] = '\0';
    std::vector<std::string> found;
    Probe(SearchWaitMs(), &found, nullptr);
    int rc = -1;
    for (const std::string& a : found) {
        if (HostOf(a) == ip) {
            CopyText(out, 256, a);
            rc = 0;
            break;
        }
    }
    qelm::Journal::Call("OVF_GetAddrByIP", {ip, out}, rc);
    return rc;
}

int OVF_GetCapabilities(const char* serviceAddr, const char* user, const char* password, void* out)
{
    if (!serviceAddr || !*serviceAddr)
        return -1;
    Capabilities caps;
    int offset = 0;
    const int rc = QueryCapabilities(serviceAddr, user, password, &caps, &offset, false);
    if (rc == kCallOk && out) {
        CapabilitiesBuffer b{};
        CopyText(b.Device, sizeof b.Device, caps.device);
        CopyText(b.Media, sizeof b.Media, caps.media);
        CopyText(b.Ptz, sizeof b.Ptz, caps.ptz);
        CopyText(b.Events, sizeof b.Events, caps.events);
        b.ClockOffset = offset;
        std::memcpy(out, &b, sizeof b);
    }
    const int result = rc == kCallOk || rc == kCallRefused ? rc : -1;
    qelm::Journal::Call("OVF_GetCapabilities", {serviceAddr, user}, result);
    return result;
}

int OVF_GetDevInfo(const char* serviceAddr, const char* user, const char* password, _OVF_DEV_INFO* info)
{
    if (!serviceAddr || !*serviceAddr || !info)
        return -1;
    auto result = [&](int rc) {
        qelm::Journal::Call("OVF_GetDevInfo", {serviceAddr, user}, rc);
        return rc;
    };
    Capabilities caps;
    int offset = 0;
    int rc = QueryCapabilities(serviceAddr, user, password, &caps, &offset, true);
    if (rc != kCallOk)
        return result(rc == kCallRefused ? OVF_ERR_LOGIN_REFUSED : -1);
    const std::string media = caps.media.empty() ? std::string(serviceAddr) : caps.media;
    SoapCall get = Make(media, user, password, std::string(kMedia) + "GetProfiles", "<trt:GetProfiles/>");
    get.clockOffset = offset;
    std::string reply;
    rc = Call(get, &reply);
    std::vector<ProfileInfo> profiles;
    if (rc != kCallOk || !ParseProfiles(reply, &profiles))
        return result(rc == kCallRefused ? OVF_ERR_LOGIN_REFUSED : -1);

    auto block = std::make_unique<_OVF_DEV_INFO>();
    std::memset(block.get(), 0, sizeof *block);
    CopyText(block->DeviceSerAddr, sizeof block->DeviceSerAddr, serviceAddr);
    CopyText(block->MediaSerAddr, sizeof block->MediaSerAddr, media);
    CopyText(block->PtzSerAddr, sizeof block->PtzSerAddr, caps.ptz);
    CopyText(block->EventSerAddr, sizeof block->EventSerAddr, caps.events);
    block->EventSupport = !caps.events.empty() && caps.pullPoint ? 1 : 0;
    block->ClockOffset = offset;
    // The block holds OVF_MAX_PROFILES; a camera may offer more.
    int stored = 0;
    for (const ProfileInfo& p : profiles) {
        if (stored >= OVF_MAX_PROFILES)
            break;
        if (p.token.size() >= sizeof block->Profiles[0].Token)
            continue; // a token that does not fit could not be sent back
        SoapCall uri = Make(media, user, password, std::string(kMedia) + "GetStreamUri",
                            "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                            "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>" +
                                XmlEscape(p.token) + "</trt:ProfileToken></trt:GetStreamUri>");
        uri.clockOffset = offset;
        std::string text;
        rc = Call(uri, &reply);
        if (rc == kCallRefused)
            return result(OVF_ERR_LOGIN_REFUSED);
        if (rc != kCallOk || !ParseStreamUri(reply, &text) || text.size() >= sizeof block->Profiles[0].StreamUri)
            continue;
        OvfProfileEntry& e = block->Profiles[stored++];
        CopyText(e.StreamUri, sizeof e.StreamUri, text);
        CopyText(e.Token, sizeof e.Token, p.token);
        e.Width = p.width;
        e.Height = p.height;
    }
    block->ProfileCount = stored;
    std::memcpy(info, block.get(), sizeof *info);
    return result(0);
}

int OVF_SetNetworkInterface(const char* serviceAddr, const char* user, const char* password, const char address[256],
                            const char mask[256], const char gateway[256], const char dns[256], char* error,
                            int errorSize)
{
    auto fail = [&](const std::string& text, int rc) {
        if (error && errorSize > 0)
            CopyText(error, static_cast<std::size_t>(errorSize), text);
        qelm::Journal::Call("OVF_SetNetworkInterface", {serviceAddr, user, address, mask, gateway, dns}, rc);
        return rc;
    };
    if (error && errorSize > 0)
        error[0] = '\0';
    if (!serviceAddr || !*serviceAddr || !address || !*address || !mask)
        return fail("bad argument", -1);
    const std::string ip(address, strnlen(address, 256)), maskText(mask, strnlen(mask, 256));
    const std::string gw = gateway ? std::string(gateway, strnlen(gateway, 256)) : "";
    const std::string dnsText = dns ? std::string(dns, strnlen(dns, 256)) : "";
    // Mask to prefix length; the ones must be contiguous.
    unsigned a = 0, b = 0, c = 0, d = 0;
    char extra = 0;
    if (std::sscanf(maskText.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 ||
        c > 255 || d > 255)
        return fail("bad network mask", -1);
    const std::uint32_t m = (a << 24) | (b << 16) | (c << 8) | d;
    int prefix = 0;
    while (prefix < 32 && (m & (0x80000000u >> prefix)))
        ++prefix;
    if (prefix == 0 || (prefix < 32 && (m << prefix) != 0))
        return fail("bad network mask", -1);
    const std::string addr(serviceAddr);
    int offset = 0;
    if (FetchClockOffset(addr, &offset) == kCallFailed)
        return fail("camera unreachable", -1);
    auto step = [&](const char* op, const std::string& body) {
        std::string fault;
        const int rc = DeviceCall(addr, user, password, op, body, nullptr, &fault);
        if (rc == kCallRefused)
            return std::string("log-in refused");
        if (rc == kCallFault)
            return std::string(op) + ": " + (fault.empty() ? "refused by the camera" : fault);
        if (rc != kCallOk)
            return std::string(op) + ": no answer";
        return std::string();
    };
    std::string reply;
    std::vector<std::string> tokens;
    int rc = DeviceCall(addr, user, password, "GetNetworkInterfaces", "<tds:GetNetworkInterfaces/>", &reply);
    if (rc == kCallRefused)
        return fail("log-in refused", OVF_ERR_LOGIN_REFUSED);
    if (rc != kCallOk || !ParseNetworkInterfaces(reply, &tokens) || tokens.empty() || tokens[0].empty())
        return fail("GetNetworkInterfaces: no interface", -1);
    // The address last: the camera may leave the old one at once.
    if (!dnsText.empty()) {
        if (std::string e = step("SetDNS", "<tds:SetDNS><tds:FromDHCP>false</tds:FromDHCP><tds:DNSManual>"
                                           "<tt:Type>IPv4</tt:Type><tt:IPv4Address>" +
                                               XmlEscape(dnsText) + "</tt:IPv4Address></tds:DNSManual></tds:SetDNS>");
            !e.empty())
            return fail(e, -1);
    }
    if (!gw.empty()) {
        if (std::string e = step("SetNetworkDefaultGateway",
                                 "<tds:SetNetworkDefaultGateway><tds:IPv4Address>" + XmlEscape(gw) +
                                     "</tds:IPv4Address></tds:SetNetworkDefaultGateway>");
            !e.empty())
            return fail(e, -1);
    }
    if (std::string e = step("SetNetworkInterfaces",
                             "<tds:SetNetworkInterfaces><tds:InterfaceToken>" + XmlEscape(tokens[0]) +
                                 "</tds:InterfaceToken><tds:NetworkInterface><tt:Enabled>true</tt:Enabled><tt:IPv4>"
                                 "<tt:Enabled>true</tt:Enabled><tt:Manual><tt:Address>" +
                                 XmlEscape(ip) + "</tt:Address><tt:PrefixLength>" + std::to_string(prefix) +
                                 "</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:IPv4>"
                                 "</tds:NetworkInterface></tds:SetNetworkInterfaces>");
        !e.empty())
        return fail(e, -1);
    qelm::Journal::Call("OVF_SetNetworkInterface", {serviceAddr, user, address, mask, gateway, dns}, 0);
    return 0;
}

std::int32_t OVF_SetCallBackAlarmInfo(const char* eventAddr, const char* user, const char* password,
                                      OVF_ALARM_CALLBACK callback, int)
{
    const std::int32_t handle = Subscribe(eventAddr, user, password, callback);
    qelm::Journal::Call("OVF_SetCallBackAlarmInfo", {eventAddr, user}, handle);
    return handle;
}

void OVF_UnSetCallBackAlarmInfo(std::int32_t handle)
{
    qelm::Journal::Call("OVF_UnSetCallBackAlarmInfo", {handle});
    if (handle > 0)
        Unsubscribe(handle);
}

int OVF_PTZ_ContinuousMove(const _OVF_DEV_INFO* info, int direction, float panSpeed, float tiltSpeed,
                           const char* user, const char* password)
{
    // x: +right, y: +up.
    static const int kDir[8][2] = {{0, 1}, {0, -1}, {-1, 0}, {1, 0}, {-1, 1}, {-1, -1}, {1, 1}, {1, -1}};
    int rc = -1;
    if (direction >= 0 && direction < 8) {
        const float pan = std::clamp(panSpeed, 0.0f, 1.0f), tilt = std::clamp(tiltSpeed, 0.0f, 1.0f);
        rc = PtzCall(info, user, password, "ContinuousMove",
                     "<tptz:Velocity><tt:PanTilt x=\"" + Num(pan * kDir[direction][0]) + "\" y=\"" +
                         Num(tilt * kDir[direction][1]) + "\"/></tptz:Velocity>");
    }
    qelm::Journal::Call("OVF_PTZ_ContinuousMove", {direction, panSpeed, tiltSpeed, user}, rc);
    return rc;
}

int OVF_PTZ_StopMove(const _OVF_DEV_INFO* info, const char* user, const char* password)
{
    const int rc = PtzCall(info, user, password, "Stop", "<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>false</tptz:Zoom>");
    qelm::Journal::Call("OVF_PTZ_StopMove", {user}, rc);
    return rc;
}

int OVF_PTZ_Zoom(const _OVF_DEV_INFO* info, int zoom, float speed, const char* user, const char* password)
{
    int rc = -1;
    if (zoom == 8 || zoom == 9) {
        const float v = std::clamp(speed, 0.0f, 1.0f) * (zoom == 8 ? 1.0f : -1.0f);
        rc = PtzCall(info, user, password, "ContinuousMove",
                     "<tptz:Velocity><tt:Zoom x=\"" + Num(v) + "\"/></tptz:Velocity>");
    }
    qelm::Journal::Call("OVF_PTZ_Zoom", {zoom, speed, user}, rc);
    return rc;
}

int OVF_PTZ_StopZoom(const _OVF_DEV_INFO* info, const char* user, const char* password)
{
    const int rc = PtzCall(info, user, password, "Stop", "<tptz:PanTilt>false</tptz:PanTilt><tptz:Zoom>true</tptz:Zoom>");
    qelm::Journal::Call("OVF_PTZ_StopZoom", {user}, rc);
    return rc;
}

int OVF_PTZ_GotoPreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* token)
{
    int rc = -1;
    if (token && *token)
        rc = PtzCall(info, user, password, "GotoPreset",
                     "<tptz:PresetToken>" + XmlEscape(std::string(token, strnlen(token, OVF_PRESET_SIZE))) +
                         "</tptz:PresetToken>");
    qelm::Journal::Call("OVF_PTZ_GotoPreset", {user, token}, rc);
    return rc;
}

int OVF_PTZ_RemovePreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* token)
{
    int rc = -1;
    if (token && *token)
        rc = PtzCall(info, user, password, "RemovePreset",
                     "<tptz:PresetToken>" + XmlEscape(std::string(token, strnlen(token, OVF_PRESET_SIZE))) +
                         "</tptz:PresetToken>");
    qelm::Journal::Call("OVF_PTZ_RemovePreset", {user, token}, rc);
    return rc;
}

int OVF_PTZ_AddPreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* name)
{
    int rc = -1;
    if (name && *name) {
        std::string reply, token;
        rc = PtzCall(info, user, password, "SetPreset",
                     "<tptz:PresetName>" + XmlEscape(std::string(name, strnlen(name, OVF_PRESET_SIZE))) +
                         "</tptz:PresetName>",
                     &reply);
        if (rc == kCallOk && !ParseSetPreset(reply, &token))
            rc = -1;
    }
    qelm::Journal::Call("OVF_PTZ_AddPreset", {user, name}, rc);
    return rc;
}

int OVF_PTZ_GetPresets(const _OVF_DEV_INFO* info, const char* user, const char* password, char* presets, int* count)
{
    if (!count)
        return -1;
    const int capacity = std::max(*count, 0);
    *count = 0;
    std::string reply;
    std::vector<PresetInfo> list;
    int rc = PtzCall(info, user, password, "GetPresets", "", &reply);
    if (rc == kCallOk && !ParsePresets(reply, &list))
        rc = -1;
    if (rc == kCallOk && presets) {
        int n = 0;
        for (const PresetInfo& p : list) {
            if (n >= capacity)
                break;
            if (p.token.empty() || p.token.size() >= OVF_PRESET_SIZE)
                continue; // a token that does not fit could not be sent back
            CopyText(presets + static_cast<std::size_t>(n) * OVF_PRESET_SIZE, OVF_PRESET_SIZE, p.token);
            ++n;
        }
        *count = n;
    }
    qelm::Journal::Call("OVF_PTZ_GetPresets", {user}, rc == kCallOk ? *count : rc);
    return rc;
}

void OVF_SetProbeTarget(const char* hostPort)
{
    SetProbeTarget(Str(hostPort));
}

void OVF_SetSearchWaitMs(int ms)
{
    SetSearchWaitMs(ms);
}

void OVF_SetTimeoutMs(int ms)
{
    SetTimeoutMs(ms);
}
