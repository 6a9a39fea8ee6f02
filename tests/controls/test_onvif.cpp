// The ONVIF client against a fake camera on 127.0.0.1, and its parsing of
// camera replies.
#include "controls/onvif.h"
#include "controls/onvif_client.h"
#include "controls/onvif_discovery.h"
#include "controls/onvif_events.h"
#include "controls/onvif_http.h"
#include "controls/onvif_soap.h"
#include "platform/logsink.h"
#include "tests/support/fake_onvif_camera.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace qelm::onvif;

namespace {

// Waits for a condition with a bound generous enough for a loaded machine.
bool WaitUntil(const std::function<bool()>& done, int ms = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::unique_ptr<_OVF_DEV_INFO> Block()
{
    auto b = std::make_unique<_OVF_DEV_INFO>();
    std::memset(b.get(), 0, sizeof *b);
    return b;
}

class OnvifCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        OVF_SetTimeoutMs(5000);
        cam.Start();
        ASSERT_GT(cam.Port(), 0);
    }
    fakeonvif::Camera cam;
};

} // namespace

TEST(OnvifWire, UrlsAndHttpReplies)
{
    struct {
        const char* url;
        bool ok;
        const char* host;
        int port;
        const char* path;
    } urls[] = {
        {"http://192.168.1.20:8080/onvif/device_service", true, "192.168.1.20", 8080, "/onvif/device_service"},
        {"http://10.0.0.1", true, "10.0.0.1", 80, "/"},
        {"HTTP://[::1]:81/x?y", true, "::1", 81, "/x?y"},
        {"http://u:p@127.0.0.1/a#frag", true, "127.0.0.1", 80, "/a"},
        {"https://10.0.0.1/", false, "", 0, ""},
        {"http://:80/", false, "", 0, ""},
        {"http://1.2.3.4:99999/", false, "", 0, ""},
        {"http://1.2.3.4:8a/", false, "", 0, ""},
    };
    for (const auto& c : urls) {
        Url u;
        EXPECT_EQ(ParseUrl(c.url, &u), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(u.host, c.host) << c.url;
            EXPECT_EQ(u.port, c.port) << c.url;
            EXPECT_EQ(u.path, c.path) << c.url;
        }
    }

    struct {
        std::string raw;
        bool complete;
        int rc;
        bool more;
        std::string body;
    } replies[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", false, kHttpOk, false, "abc"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", false, kHttpMalformed, true, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", true, kHttpMalformed, false, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x\r\nde\r\n0\r\n\r\n", false, kHttpOk,
         false, "abcde"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nab", false, kHttpMalformed, true, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffff\r\n", false, kHttpTooBig, false,
         ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n200000\r\n", false, kHttpTooBig, false, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n", false, kHttpTooBig, false, ""},
        {"HTTP/1.0 200 OK\r\n\r\nto the end", true, kHttpOk, false, "to the end"},
        {"HTTP/1.0 200 OK\r\n\r\nto the end", false, kHttpMalformed, true, ""},
        {"garbage\r\n\r\n", true, kHttpMalformed, false, ""},
    };
    for (const auto& c : replies) {
        HttpReply r;
        bool more = false;
        EXPECT_EQ(ParseHttpReply(c.raw, c.complete, &r, &more), c.rc) << c.raw;
        EXPECT_EQ(more, c.more) << c.raw;
        if (c.rc == kHttpOk) {
            EXPECT_EQ(r.body, c.body) << c.raw;
        }
    }
}

TEST(OnvifWire, PasswordDigestAndHttpDigest)
{
    // The worked example of the ONVIF programmer's guide.
    EXPECT_EQ(PasswordDigest(fakeonvif::Base64Decode("LKqI6G/AikKCQrN0zqZFlg=="), "2010-09-16T07:50:45Z",
                             "userpassword"),
              "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("a"), "YQ==");

    // RFC 2617's example.
    DigestChallenge c;
    ASSERT_TRUE(ParseDigestChallenge("Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                     "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
                                     "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
                                     &c));
    const std::string h = DigestAuthorization(c, "Mufasa", "Circle Of Life", "GET", "/dir/index.html", "0a4f113b", 1);
    EXPECT_NE(h.find("response=\"6629fae49393a05397450978507c4ef1\""), std::string::npos) << h;
    EXPECT_NE(h.find("nc=00000001"), std::string::npos);
    EXPECT_FALSE(ParseDigestChallenge("Basic realm=\"x\"", &c));
    EXPECT_FALSE(ParseDigestChallenge("Digest realm=\"x\", nonce=\"n\", algorithm=SHA-256", &c));
}

TEST(OnvifWire, AlarmTypesOfEvents)
{
    struct {
        const char* topic;
        std::map<std::string, std::string> source, data;
        int type;
    } cases[] = {
        {"tns1:VideoSource/MotionAlarm", {}, {{"State", "true"}}, 14},
        {"tns1:VideoSource/MotionAlarm", {}, {{"State", "false"}}, 0},
        {"tns1:RuleEngine/CellMotionDetector/Motion", {}, {{"IsMotion", "true"}}, 14},
        {"tns1:Device/Trigger/DigitalInput", {{"InputToken", "DI_1"}}, {{"LogicalState", "true"}}, 15},
        {"tns1:Device/Trigger/DigitalInput", {{"InputToken", "DI_2"}}, {{"LogicalState", "true"}}, 16},
        {"tns1:Device/Trigger/DigitalInput", {{"InputToken", "DI_2"}}, {{"LogicalState", "false"}}, 0},
        {"tns1:Device/Trigger/DigitalInput", {}, {{"LogicalState", "1"}}, 15},
        {"tns1:VideoSource/ImageTooBlurry", {}, {{"State", "true"}}, 0},
    };
    for (const auto& c : cases) {
        EventMessage m;
        m.topic = c.topic;
        m.source = c.source;
        m.data = c.data;
        EXPECT_EQ(AlarmTypeOf(m), c.type) << c.topic;
    }

    // The callback's record: local time of the event, address, type, topic.
    EventMessage m;
    m.topic = "tns1:VideoSource/MotionAlarm";
    m.data["State"] = "true";
    m.utcTime = "2026-03-04T05:06:07.250Z";
    _OVF_ALARM_EVENT ev;
    ASSERT_TRUE(MakeAlarmEvent(m, "192.168.1.20", &ev));
    std::time_t t = 0;
    ASSERT_TRUE(ParseXsDateTime(m.utcTime, &t));
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_STREQ(ev.CameraAddr, "192.168.1.20");
    EXPECT_EQ(ev.Year, tm.tm_year + 1900);
    EXPECT_EQ(ev.Month, tm.tm_mon + 1);
    EXPECT_EQ(ev.Day, tm.tm_mday);
    EXPECT_EQ(ev.DayOfWeek, tm.tm_wday);
    EXPECT_EQ(ev.Hour, tm.tm_hour);
    EXPECT_EQ(ev.Minute, 6);
    EXPECT_EQ(ev.Second, 7);
    EXPECT_EQ(ev.Millisecond, 250);
    EXPECT_EQ(ev.AlarmType, 14);
    EXPECT_STREQ(ev.Text, "tns1:VideoSource/MotionAlarm");
    std::time_t shifted = 0;
    ASSERT_TRUE(ParseXsDateTime("2026-03-04T07:06:07+02:00", &shifted));
    EXPECT_EQ(shifted, t);
}

TEST(OnvifWire, HostileRepliesAreRefused)
{
    std::string deep = "<s:Envelope><s:Body>";
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    std::vector<ProfileInfo> profiles;
    EXPECT_FALSE(ParseProfiles(deep, &profiles));
    EXPECT_FALSE(ParseProfiles("<notxml", &profiles));
    // Malformed UTF-8 (TinyXML would trust the lead bytes) and embedded NULs.
    SoapFault fault;
    EXPECT_FALSE(ParseFault("<s:Envelope xmlns:tt=\"http\xff\xff\xff\"><s:Body><s:Fault/></s:Body></s:Envelope>", &fault));
    EXPECT_FALSE(ParseFault(std::string("<s:Envelope><s:Body><s:Fault/>\0</s:Body></s:Envelope>", 48), &fault));
    EXPECT_TRUE(ParseFault("<s:Envelope><s:Body><s:Fault/></s:Body></s:Envelope>", &fault));
    std::time_t t;
    EXPECT_FALSE(ParseSystemDateTime(
        "<s:Envelope xmlns:s=\"x\"><s:Body><GetSystemDateAndTimeResponse><SystemDateAndTime><UTCDateTime><Date>"
        "<Year>2026</Year><Month>13</Month><Day>1</Day></Date><Time><Hour>0</Hour><Minute>0</Minute><Second>0"
        "</Second></Time></UTCDateTime></SystemDateAndTime></GetSystemDateAndTimeResponse></s:Body></s:Envelope>",
        &t));
}

TEST_F(OnvifCamera, GetDevInfoFillsProfilesAndStreamsTheCameraGives)
{
    cam.profiles = 2;
    auto b = Block();
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", b.get()), 0);
    EXPECT_EQ(b->ProfileCount, 2);
    EXPECT_STREQ(b->Profiles[0].StreamUri, "rtsp://127.0.0.1:8554/Profile_1");
    EXPECT_EQ(b->Profiles[0].Width, 1920);
    EXPECT_EQ(b->Profiles[0].Height, 1080);
    EXPECT_STREQ(b->Profiles[1].StreamUri, "rtsp://127.0.0.1:8554/Profile_2");
    EXPECT_EQ(b->Profiles[1].Width, 640);
    EXPECT_STREQ(b->Profiles[1].Token, "Profile_2");
    EXPECT_EQ(b->EventSupport, 1);
    EXPECT_EQ(std::string(b->EventSerAddr), cam.Base() + "/onvif/events");
    EXPECT_EQ(std::string(b->PtzSerAddr), cam.Base() + "/onvif/ptz");
    EXPECT_EQ(cam.Accepted("GetStreamUri"), 2);

    // More profiles than the block holds: the first four, and the count says four.
    cam.profiles = 6;
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", b.get()), 0);
    EXPECT_EQ(b->ProfileCount, OVF_MAX_PROFILES);
    EXPECT_STREQ(b->Profiles[3].Token, "Profile_4");

    // Without events the flag stays 0.
    cam.withEvents = false;
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", b.get()), 0);
    EXPECT_EQ(b->EventSupport, 0);
    EXPECT_EQ(b->EventSerAddr[0], '\0');
}

TEST_F(OnvifCamera, LogInIsCheckedByTheCameraAndARefusalIsMinus99)
{
    struct {
        int auth;
        int skew;
        const char* password;
        int mode;
        int expect;
    } cases[] = {
        {fakeonvif::Camera::WsSecurity, 0, "secret", fakeonvif::Camera::Up, 0},
        {fakeonvif::Camera::WsSecurity, 0, "wrong", fakeonvif::Camera::Up, OVF_ERR_LOGIN_REFUSED},
        // The camera's clock runs two hours ahead: the token is made on its clock.
        {fakeonvif::Camera::WsSecurity, 7200, "secret", fakeonvif::Camera::Up, 0},
        {fakeonvif::Camera::WsSecurity, -7200, "secret", fakeonvif::Camera::Up, 0},
        {fakeonvif::Camera::HttpDigest, 0, "secret", fakeonvif::Camera::Up, 0},
        {fakeonvif::Camera::HttpDigest, 0, "wrong", fakeonvif::Camera::Up, OVF_ERR_LOGIN_REFUSED},
        {fakeonvif::Camera::WsSecurity, 0, "secret", fakeonvif::Camera::Refusing, OVF_ERR_LOGIN_REFUSED},
    };
    for (const auto& c : cases) {
        cam.auth = c.auth;
        cam.clockSkew = c.skew;
        cam.mode = c.mode;
        cam.Clear();
        auto b = Block();
        const int rc = OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", c.password, b.get());
        EXPECT_EQ(rc, c.expect) << "auth " << c.auth << " skew " << c.skew << " password " << c.password;
        EXPECT_EQ(b->ProfileCount, c.expect == 0 ? 2 : 0);
        EXPECT_EQ(cam.Accepted("GetCapabilities"), c.expect == 0 ? 1 : 0);
        // Reachability counts a refusal as an answer.
        char caps[OVF_CAPABILITIES_SIZE] = {};
        EXPECT_EQ(OVF_GetCapabilities(cam.DeviceUrl().c_str(), "admin", c.password, caps), c.expect);
    }
}

TEST_F(OnvifCamera, ReachabilityQueryIsOneExchangeUntilTheCamerasClockMoves)
{
    char caps[OVF_CAPABILITIES_SIZE] = {};
    ASSERT_EQ(OVF_GetCapabilities(cam.DeviceUrl().c_str(), "admin", "secret", caps), 0);
    cam.Clear();
    EXPECT_EQ(OVF_GetCapabilities(cam.DeviceUrl().c_str(), "admin", "secret", caps), 0);
    EXPECT_EQ(cam.Count("GetSystemDateAndTime"), 0);
    EXPECT_EQ(cam.Count("GetCapabilities"), 1);
    // The camera's clock jumps: the refused token leads to one new clock query.
    cam.clockSkew = -5000;
    cam.Clear();
    EXPECT_EQ(OVF_GetCapabilities(cam.DeviceUrl().c_str(), "admin", "secret", caps), 0);
    EXPECT_EQ(cam.Count("GetSystemDateAndTime"), 1);
    EXPECT_EQ(cam.Accepted("GetCapabilities"), 1);
}

TEST_F(OnvifCamera, UnreachableAndSilentCamerasFailWithinTheTimeOut)
{
    const std::string url = cam.DeviceUrl();
    cam.mode = fakeonvif::Camera::Silent;
    OVF_SetTimeoutMs(300);
    char caps[OVF_CAPABILITIES_SIZE] = {};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(OVF_GetCapabilities(url.c_str(), "admin", "secret", caps), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
    OVF_SetTimeoutMs(5000);
    cam.Stop();
    EXPECT_EQ(OVF_GetCapabilities(url.c_str(), "admin", "secret", caps), -1);
    auto b = Block();
    EXPECT_EQ(OVF_GetDevInfo(url.c_str(), "admin", "secret", b.get()), -1);
    // Under loopback-only confinement a camera elsewhere is never contacted.
    qelmtest::ScopedEnv loop("QELM2_LOOPBACK_ONLY", "1");
    EXPECT_EQ(OVF_GetCapabilities("http://192.0.2.7/onvif/device_service", "admin", "secret", caps), -1);
    EXPECT_EQ(OVF_GetCapabilities("not a url", "admin", "secret", caps), -1);
    EXPECT_EQ(OVF_GetCapabilities(nullptr, "admin", "secret", caps), -1);
}

TEST_F(OnvifCamera, PtzAndPresetCallsReachTheCameraWithTheBlocksTokens)
{
    auto b = Block();
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", b.get()), 0);
    cam.Clear();
    EXPECT_EQ(OVF_PTZ_ContinuousMove(b.get(), 6, 0.5f, 0.3f, "admin", "secret"), 0);
    EXPECT_EQ(OVF_PTZ_ContinuousMove(b.get(), 1, 0.5f, 0.3f, "admin", "secret"), 0);
    EXPECT_EQ(OVF_PTZ_ContinuousMove(b.get(), 8, 0.5f, 0.3f, "admin", "secret"), -1);
    EXPECT_EQ(OVF_PTZ_StopMove(b.get(), "admin", "secret"), 0);
    EXPECT_EQ(OVF_PTZ_Zoom(b.get(), 9, 0.4f, "admin", "secret"), 0);
    EXPECT_EQ(OVF_PTZ_StopZoom(b.get(), "admin", "secret"), 0);
    EXPECT_EQ(OVF_PTZ_GotoPreset(b.get(), "admin", "secret", "2"), 0);
    EXPECT_EQ(OVF_PTZ_RemovePreset(b.get(), "admin", "secret", "1"), 0);
    EXPECT_EQ(OVF_PTZ_AddPreset(b.get(), "admin", "secret", "7"), 0);

    auto moves = cam.Requests("ContinuousMove");
    ASSERT_EQ(moves.size(), 3u);
    for (const auto& r : moves) {
        EXPECT_EQ(r.path, "/onvif/ptz");
        EXPECT_EQ(fakeonvif::Element(r.body, "ProfileToken"), "Profile_1");
    }
    EXPECT_NE(moves[0].body.find("PanTilt x=\"0.500\" y=\"0.300\""), std::string::npos) << moves[0].body;
    EXPECT_NE(moves[1].body.find("PanTilt x=\"0.000\" y=\"-0.300\""), std::string::npos) << moves[1].body;
    EXPECT_NE(moves[2].body.find("Zoom x=\"-0.400\""), std::string::npos) << moves[2].body;
    auto stops = cam.Requests("Stop");
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(fakeonvif::Element(stops[0].body, "PanTilt"), "true");
    EXPECT_EQ(fakeonvif::Element(stops[1].body, "Zoom"), "true");
    EXPECT_EQ(fakeonvif::Element(cam.Requests("GotoPreset").at(0).body, "PresetToken"), "2");
    EXPECT_EQ(fakeonvif::Element(cam.Requests("RemovePreset").at(0).body, "PresetToken"), "1");
    EXPECT_EQ(fakeonvif::Element(cam.Requests("SetPreset").at(0).body, "PresetName"), "7");
    EXPECT_EQ(cam.Accepted("ContinuousMove"), 3);

    // 256 entries of 64 bytes; a token that would not fit is left out.
    std::vector<char> presets(256 * OVF_PRESET_SIZE, 0);
    int count = 256;
    EXPECT_EQ(OVF_PTZ_GetPresets(b.get(), "admin", "secret", presets.data(), &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(presets.data(), "1");
    EXPECT_STREQ(presets.data() + OVF_PRESET_SIZE, "2");
    count = 1; // room for one only
    EXPECT_EQ(OVF_PTZ_GetPresets(b.get(), "admin", "secret", presets.data(), &count), 0);
    EXPECT_EQ(count, 1);

    // A wrong password is refused by the camera; an empty block reaches nothing.
    EXPECT_EQ(OVF_PTZ_StopMove(b.get(), "admin", "wrong"), OVF_ERR_LOGIN_REFUSED);
    auto empty = Block();
    cam.Clear();
    EXPECT_EQ(OVF_PTZ_StopMove(empty.get(), "admin", "secret"), -1);
    EXPECT_EQ(OVF_PTZ_StopMove(nullptr, "admin", "secret"), -1);
    EXPECT_EQ(cam.Count("Stop"), 0);
    // A camera without PTZ service leaves no PTZ address.
    cam.withPtz = false;
    ASSERT_EQ(OVF_GetDevInfo(cam.DeviceUrl().c_str(), "admin", "secret", b.get()), 0);
    EXPECT_EQ(OVF_PTZ_StopMove(b.get(), "admin", "secret"), -1);
}

TEST_F(OnvifCamera, NetworkChangeSendsAddressPrefixGatewayAndDns)
{
    char error[512] = "x";
    EXPECT_EQ(OVF_SetNetworkInterface(cam.DeviceUrl().c_str(), "admin", "secret", "127.0.0.9", "255.255.255.0",
                                      "127.0.0.1", "127.0.0.53", error, sizeof error),
              0);
    EXPECT_STREQ(error, "");
    const auto set = cam.Requests("SetNetworkInterfaces");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(fakeonvif::Element(set[0].body, "InterfaceToken"), "eth0");
    EXPECT_EQ(fakeonvif::Element(set[0].body, "Address"), "127.0.0.9");
    EXPECT_EQ(fakeonvif::Element(set[0].body, "PrefixLength"), "24");
    EXPECT_EQ(fakeonvif::Element(cam.Requests("SetNetworkDefaultGateway").at(0).body, "IPv4Address"), "127.0.0.1");
    EXPECT_EQ(fakeonvif::Element(cam.Requests("SetDNS").at(0).body, "IPv4Address"), "127.0.0.53");

    EXPECT_EQ(OVF_SetNetworkInterface(cam.DeviceUrl().c_str(), "admin", "secret", "127.0.0.9", "255.0.255.0", "", "",
                                      error, sizeof error),
              -1);
    EXPECT_STRNE(error, "");
    EXPECT_EQ(OVF_SetNetworkInterface(cam.DeviceUrl().c_str(), "admin", "bad", "127.0.0.9", "255.255.0.0", "", "",
                                      error, sizeof error),
              OVF_ERR_LOGIN_REFUSED);
    EXPECT_STREQ(error, "log-in refused");
}

namespace {
std::mutex g_alarmMutex;
std::vector<_OVF_ALARM_EVENT> g_alarms;
int RecordAlarm(_OVF_ALARM_EVENT* e)
{
    std::lock_guard<std::mutex> lock(g_alarmMutex);
    g_alarms.push_back(*e);
    return 0;
}
std::size_t AlarmCount()
{
    std::lock_guard<std::mutex> lock(g_alarmMutex);
    return g_alarms.size();
}
} // namespace

TEST_F(OnvifCamera, EventsReachTheCallbackAndUnsetUnsubscribesOnce)
{
    {
        std::lock_guard<std::mutex> lock(g_alarmMutex);
        g_alarms.clear();
    }
    const std::string events = cam.Base() + "/onvif/events";
    const std::int32_t h = OVF_SetCallBackAlarmInfo(events.c_str(), "admin", "secret", &RecordAlarm, 0);
    ASSERT_GT(h, 0);
    EXPECT_EQ(SubscriptionCount(), 1);
    EXPECT_EQ(cam.Accepted("CreatePullPointSubscription"), 1);

    cam.QueueMotion(false); // an ended motion is no alarm
    cam.QueueMotion(true);
    cam.QueueInput("DI_2", true);
    ASSERT_TRUE(WaitUntil([] { return AlarmCount() >= 2; }));
    {
        std::lock_guard<std::mutex> lock(g_alarmMutex);
        ASSERT_EQ(g_alarms.size(), 2u);
        EXPECT_EQ(g_alarms[0].AlarmType, 14);
        EXPECT_STREQ(g_alarms[0].CameraAddr, "127.0.0.1");
        EXPECT_EQ(g_alarms[1].AlarmType, 16);
    }
    // Pulls go to the subscription's own address, logged in.
    const auto pulls = cam.Requests("PullMessages");
    ASSERT_FALSE(pulls.empty());
    EXPECT_EQ(pulls[0].path, "/onvif/subscription/1");
    EXPECT_GE(cam.Accepted("PullMessages"), 1);

    const auto t0 = std::chrono::steady_clock::now();
    OVF_UnSetCallBackAlarmInfo(h);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(SubscriptionCount(), 0);
    EXPECT_EQ(cam.Count("Unsubscribe"), 1);
    EXPECT_EQ(cam.Requests("Unsubscribe").at(0).path, "/onvif/subscription/1");
    OVF_UnSetCallBackAlarmInfo(h); // a second time: nothing more
    OVF_UnSetCallBackAlarmInfo(0);
    EXPECT_EQ(cam.Count("Unsubscribe"), 1);

    // Nothing subscribes where the camera refuses or nothing answers.
    EXPECT_EQ(OVF_SetCallBackAlarmInfo(events.c_str(), "admin", "wrong", &RecordAlarm, 0), 0);
    EXPECT_EQ(OVF_SetCallBackAlarmInfo("", "admin", "secret", &RecordAlarm, 0), 0);
    EXPECT_EQ(SubscriptionCount(), 0);
}

TEST_F(OnvifCamera, UnsetStopsAPullThatTheCameraHoldsOpen)
{
    // A long time-out: without the cancel, the held pull would outlast the bound below.
    OVF_SetTimeoutMs(60000);
    const std::string events = cam.Base() + "/onvif/events";
    const std::int32_t h = OVF_SetCallBackAlarmInfo(events.c_str(), "admin", "secret", &RecordAlarm, 0);
    ASSERT_GT(h, 0);
    ASSERT_TRUE(WaitUntil([&] { return cam.Count("PullMessages") >= 1; }));
    cam.mode = fakeonvif::Camera::Silent; // the next pull hangs
    ASSERT_TRUE(WaitUntil([&] { return cam.Count("PullMessages") >= 2; }));
    const auto t0 = std::chrono::steady_clock::now();
    OVF_UnSetCallBackAlarmInfo(h);
    // The pull is cancelled at once; only the short Unsubscribe waits.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
    EXPECT_EQ(SubscriptionCount(), 0);
    OVF_SetTimeoutMs(5000);
}

TEST_F(OnvifCamera, DiscoveryProbeIsAnsweredByALoopbackTarget)
{
    const std::string target = cam.StartDiscovery();
    OVF_SetProbeTarget(target.c_str());
    OVF_SetSearchWaitMs(1500);
    char found[8][256] = {};
    int count = 8;
    EXPECT_EQ(OVF_Search(found, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(std::string(found[0]), cam.DeviceUrl());
    EXPECT_GE(cam.Probes(), 1);

    char addr[256] = {};
    EXPECT_EQ(OVF_GetAddrByIP("127.0.0.1", addr), 0);
    EXPECT_EQ(std::string(addr), cam.DeviceUrl());
    EXPECT_EQ(OVF_GetAddrByIP("127.0.0.2", addr), -1);
    EXPECT_STREQ(addr, "");

    OVF_StartSearch();
    ASSERT_TRUE(WaitUntil([] { return OVF_GetSearchCount() == 1; }));
    OVF_StopSearch();
    char info[256] = {};
    OVF_GetSearchInfo(info, 0);
    EXPECT_EQ(std::string(info), cam.DeviceUrl());
    OVF_GetSearchInfo(info, 5);
    EXPECT_STREQ(info, "");
    OVF_SetProbeTarget("");
}

TEST(OnvifDiscovery, MulticastProbeIsRefusedAndLoggedUnderLoopbackOnly)
{
    qelmtest::ScopedEnv loop("QELM2_LOOPBACK_ONLY", "1");
    qelmtest::ScopedEnv target("QELM2_ONVIF_PROBE_TARGET", nullptr);
    OVF_SetProbeTarget("");
    EXPECT_EQ(ProbeTarget(), "239.255.255.250:3702");
    std::vector<std::string> lines;
    std::mutex m;
    qelm::SetPlatformLogSink([&](int, const std::string& line) {
        std::lock_guard<std::mutex> lock(m);
        lines.push_back(line);
    });
    std::vector<std::string> found;
    EXPECT_EQ(Probe(50, &found, nullptr), -1);
    char out[4][256];
    int count = 4;
    OVF_SetSearchWaitMs(50);
    EXPECT_EQ(OVF_Search(out, &count), 0);
    EXPECT_EQ(count, 0);
    qelm::SetPlatformLogSink({});
    bool logged = false;
    for (const auto& l : lines)
        logged = logged || l.find("refused ONVIF discovery probe to 239.255.255.250:3702") != std::string::npos;
    EXPECT_TRUE(logged);

    // The environment variable names the target when no setter did.
    qelmtest::ScopedEnv other("QELM2_ONVIF_PROBE_TARGET", "127.0.0.1:3999");
    EXPECT_EQ(ProbeTarget(), "127.0.0.1:3999");
}
