// Tests of the device-control event sink: which window gets which message
// with which payload, the direct calls, the alarm de-duplication, freeing of
// payloads that cannot be delivered, and one path from the device simulator.
#include "media/aux_ptz_events.h"

#include "controls/control_registry.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "media/control_wrappers.h"
#include "platform/message.h"
#include "platform/sync.h"
#include "sink_test_util.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace auxsinktest;
namespace fs = std::filesystem;

enum Which { kMain, kPtz, kSearch, kMaint };
const char* const kWhichName[] = {"main", "ptz", "search", "maint"};

// One message a window should get: lParam as a number, or a text.
struct Want {
    Which wnd;
    UINT msg;
    intptr_t wParam;
    intptr_t lParam = 0;
    const char* text = nullptr;  // text payload (lParam not compared)
};

constexpr int32_t kId = 7;         // a device-control id with a device record
constexpr int32_t kOtherId = 8;    // a second device with a record
constexpr int32_t kUnknownId = 99; // no record carries it

class AuxPtzEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log = fs::temp_directory_path() / ("auxptz_log_" + std::to_string(getpid()) + ".txt");
        fs::remove(m_log);
        CloseLog();
        ASSERT_EQ(OpenLog(m_log.c_str()), 0);
        SetMediaSinkTargets(&m_targets);
        AddDevice(kId);
        AddDevice(kOtherId);
    }
    void TearDown() override
    {
        SetMediaSinkTargets(nullptr);
        {
            qelm::CsLock lock(g_csDevList);
            for (auto it : m_added)
                g_lstDevInfo.erase(it);
        }
        Pump();
        CloseLog();
        fs::remove(m_log);
    }

    void AddDevice(int32_t auxPtzId)
    {
        qelm::CsLock lock(g_csDevList);
        auto dev = std::make_unique<DeviceInfo>();
        std::memset(dev.get(), 0, sizeof(DeviceInfo));
        dev->AuxPtzId = auxPtzId;
        m_added.push_back(g_lstDevInfo.insert(g_lstDevInfo.end(), *dev));
    }

    RecorderWnd& Wnd(Which w)
    {
        switch (w) {
        case kMain: return m_targets.main;
        case kPtz: return m_targets.ptz;
        case kSearch: return m_targets.search;
        default: return m_targets.maint;
        }
    }

    // Every window got exactly the wanted messages, in order.
    void ExpectPosts(const std::vector<Want>& wants, const std::string& label)
    {
        for (Which w : {kMain, kPtz, kSearch, kMaint}) {
            std::vector<Want> mine;
            for (const Want& x : wants)
                if (x.wnd == w)
                    mine.push_back(x);
            const auto& got = Wnd(w).got;
            ASSERT_EQ(got.size(), mine.size()) << label << " window " << kWhichName[w];
            for (size_t i = 0; i < mine.size(); ++i) {
                EXPECT_EQ(got[i].msg, mine[i].msg) << label << " " << kWhichName[w];
                EXPECT_EQ(static_cast<intptr_t>(got[i].wParam), mine[i].wParam) << label << " " << kWhichName[w];
                if (mine[i].text) {
                    EXPECT_EQ(got[i].text, mine[i].text) << label << " " << kWhichName[w];
                } else {
                    EXPECT_EQ(got[i].lParam, mine[i].lParam) << label << " " << kWhichName[w];
                }
            }
        }
    }

    std::string LogSince(std::streamoff from)
    {
        FlushLog(); // lines are queued; what was logged so far goes to the file now
        std::ifstream in(m_log, std::ios::binary);
        in.seekg(from);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    std::streamoff LogSize()
    {
        FlushLog();
        std::error_code ec;
        auto n = fs::file_size(m_log, ec);
        return ec ? 0 : std::streamoff(n);
    }

    static std::vector<uint8_t> Alarm(int32_t type, int32_t second, const char* text = "motion")
    {
        _ALARM_INFO a{};
        a.channelFlag = 1;
        a.channel = 2;
        a.year = 2026;
        a.month = 12;
        a.day = 10;
        a.hour = 16;
        a.minute = 30;
        a.second = second;
        a.alarmType = type;
        a.state = 1;
        std::strncpy(a.text, text, sizeof(a.text) - 1);
        const auto* p = reinterpret_cast<const uint8_t*>(&a);
        return std::vector<uint8_t>(p, p + sizeof(a));
    }

    fs::path m_log;
    TestTargets m_targets;
    CAuxPTZEvents m_sink;
    std::vector<std::list<DeviceInfo>::iterator> m_added;
};

TEST_F(AuxPtzEventsTest, StatusEventsGoToTheirWindows)
{
    struct Case {
        int32_t type;
        const char* text;
        std::vector<Want> wants;
    } cases[] = {
        {15, "up", {{kMaint, WM_DEV_TRANSFER_FAILED, kId, 15}}},
        {16, "down", {{kMaint, WM_DEV_TRANSFER_FAILED, kId, 16}, {kSearch, WM_DEV_TRANSFER_FAILED, kId, 16}}},
        {17, "", {{kMaint, WM_DEV_TRANSFER_FAILED, kId, 17}, {kSearch, WM_DEV_TRANSFER_FAILED, kId, 17}}},
        {26, "16", {{kMain, WM_NVR_CHANNEL_LIST, kId, 0, "16"}}},
        {27, "1101", {{kMain, WM_CHANNEL_STATES, kId, 0, "1101"}}},
        {30, "37", {{kSearch, WM_DOWNLOAD_PROGRESS, kId, 0, "37"}}},
        {4, "dropped", {{kMain, WM_DEV_STATUS, kId, 4}}},
        {2, nullptr, {{kMain, WM_DEV_STATUS, kId, 2}}},
        {0, "", {{kMain, WM_DEV_STATUS, kId, 0}}},
    };
    for (const Case& c : cases) {
        m_targets.ClearAll();
        m_sink.StatusEvent(kId, c.type, c.text);
        Pump();
        ExpectPosts(c.wants, "type " + std::to_string(c.type));
    }
    // A null text of a text route still posts an empty text.
    m_targets.ClearAll();
    m_sink.StatusEvent(kId, 26, nullptr);
    Pump();
    ExpectPosts({{kMain, WM_NVR_CHANNEL_LIST, kId, 0, ""}}, "null text");
}

TEST_F(AuxPtzEventsTest, MaintenanceAnswersByCommandCode)
{
    struct Case {
        int32_t result;
        int32_t command;
        const char* text;
        std::vector<Want> wants;
        const char* log;  // a line the answer logs, or null
    } cases[] = {
        {0, 1021, "<files/>", {{kSearch, WM_DEV_RECFILE_RESPONSE, kId, 0, "<files/>"}},
         "CAuxPTZEvents::AUXResponse : get IPC record file success."},
        {1, 1021, "x", {}, "CAuxPTZEvents::AUXResponse : get IPC record  file failed. msg_flg = 1"},
        {-1, 1021, "x", {}, "CAuxPTZEvents::AUXResponse : get IPC record  file failed. msg_flg = -1"},
        {0, 3001, "<days/>", {{kSearch, WM_NVR_RECFILE_RESPONSE, kId, 0, "<days/>"}},
         "CAuxPTZEvents::AUXResponse : get NVR record file success."},
        {-128, 3001, "x", {}, "CAuxPTZEvents::AUXResponse : get NVR record  file failed. msg_flg = -128"},
        {0, 1002, "", {{kMaint, WM_DEV_CONFIG_RESPONSE, 1002, kId}},
         "CAuxPTZEvents::AUXResponse: rev CMD_CONFIG_RESTORE response, result=0"},
        {-2, 1002, "", {}, "CAuxPTZEvents::AUXResponse: rev CMD_CONFIG_RESTORE response, result=-2"},
        {-3, 1017, "", {{kMaint, WM_STORAGE_FORMAT_RESULT, -3, kId}},
         "CAuxPTZEvents::AUXResponse: rev CMD_STORAGE_DEVICE_FORMAT response, result=-3, auxPtzId=7"},
        {0, 1017, "", {{kMaint, WM_STORAGE_FORMAT_RESULT, 0, kId}}, nullptr},
        {-1, 1018, "", {{kMaint, WM_STORAGE_UNMOUNT_RESULT, -1, kId}},
         "CAuxPTZEvents::AUXResponse: rev CMD_STORAGE_DEVICE_UNMOUNT response, result=-1, auxPtzId=7"},
        {127, 1018, "", {{kMaint, WM_STORAGE_UNMOUNT_RESULT, 127, kId}}, nullptr},
        {0, 1009, "", {{kMaint, WM_DEV_CONFIG_RESPONSE, 20001, kId}}, nullptr},
        {4, 1009, "", {{kMaint, WM_DEV_CONFIG_RESPONSE, 20002, kId}}, nullptr},
        {-4, 1009, "", {{kMaint, WM_DEV_CONFIG_RESPONSE, 20002, kId}}, nullptr},
        {0, 1234, "ignored", {}, nullptr},
        {0, 1021 | 0x100000, "other command", {}, nullptr},
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.command) + "/" + std::to_string(c.result);
        m_targets.ClearAll();
        const auto from = LogSize();
        m_sink.AUXResponse(kId, PackAuxCode(c.result, c.command), c.text);
        Pump();
        ExpectPosts(c.wants, label);
        if (c.log) {
            EXPECT_NE(LogSince(from).find(c.log), std::string::npos) << label << ": " << LogSince(from);
        }
    }
}

TEST_F(AuxPtzEventsTest, VersionAndStorageAnswersCarryABlock)
{
    for (int32_t command : {1012, 1014}) {
        m_targets.ClearAll();
        const int32_t code = PackAuxCode(-5, command);
        const auto from = LogSize();
        m_sink.AUXResponse(kId, code, "<RESPONSE_PARAM FileSystemVersion=\"V2\" />");
        Pump();
        const auto& got = m_targets.maint.got;
        ASSERT_EQ(got.size(), 1u) << command;
        EXPECT_EQ(got[0].msg, WM_DEV_CONFIG_RESPONSE);
        EXPECT_EQ(got[0].wParam, WPARAM(command));
        ASSERT_TRUE(got[0].hasBlock);
        EXPECT_EQ(got[0].blockAuxPtzId, kId);
        EXPECT_EQ(got[0].blockCode, code);
        EXPECT_EQ(got[0].text, "<RESPONSE_PARAM FileSystemVersion=\"V2\" />");
        EXPECT_TRUE(m_targets.main.got.empty() && m_targets.search.got.empty());
        const bool logged =
            LogSince(from).find("CAuxPTZEvents::AUXResponse: receive system version info,lAuxPTZID=7") !=
            std::string::npos;
        EXPECT_EQ(logged, command == 1012);
    }
}

TEST_F(AuxPtzEventsTest, PtzAnswerGoesToThePtzPanelAndIsLogged)
{
    const auto from = LogSize();
    m_sink.PTZResponse(kId, PackAuxCode(1, 5), " 2^1^5^");
    Pump();
    ExpectPosts({{kPtz, WM_PTZ_RESPONSE, kId, 0, " 2^1^5^"}}, "ptz");
    EXPECT_NE(LogSince(from).find(" CAuxPTZEvents::PTZResponse(): AuxPTZID=7, msg_code=1, msg_flag=5, "
                                  "ResponseString= 2^1^5^"),
              std::string::npos);

    // No PTZ panel: logged, nothing posted.
    m_targets.ClearAll();
    m_targets.hasPtz = false;
    m_sink.PTZResponse(kId, 0, "x");
    Pump();
    ExpectPosts({}, "no ptz panel");
}

TEST_F(AuxPtzEventsTest, MediaDataGoesToTalkOrReplayByKind)
{
    const uint8_t data[] = {1, 2, 3, 4, 5};
    int32_t value = 42;

    m_sink.MediaDataRecv(kId, data, 5, &value, 3);
    ASSERT_EQ(m_targets.calls.size(), 1u);
    EXPECT_EQ(m_targets.calls[0].name, "OnNVRSpeakMediaData");
    EXPECT_EQ(m_targets.calls[0].auxPtzId, kId);
    EXPECT_EQ(m_targets.calls[0].data, std::vector<uint8_t>(data, data + 5));
    EXPECT_EQ(m_targets.calls[0].pointer, &value);

    m_targets.ClearAll();
    m_sink.MediaDataRecv(kId, data, 4, &value, 4);
    ASSERT_EQ(m_targets.calls.size(), 1u);
    EXPECT_EQ(m_targets.calls[0].name, "OnMediaDataRecv");
    EXPECT_EQ(m_targets.calls[0].a, 4);
    EXPECT_EQ(m_targets.calls[0].b, 42);
    EXPECT_EQ(m_targets.calls[0].pointer, &value);

    m_targets.ClearAll();
    m_sink.MediaDataRecv(kId, data, 5, &value, 1);
    m_sink.MediaDataRecv(kId, data, 5, &value, 0);
    EXPECT_TRUE(m_targets.calls.empty());

    // Replay media without a record search page is dropped; talk is not.
    m_targets.hasSearch = false;
    m_sink.MediaDataRecv(kId, data, 5, &value, 4);
    EXPECT_TRUE(m_targets.calls.empty());
    m_sink.MediaDataRecv(kId, data, 5, &value, 3);
    ASSERT_EQ(m_targets.calls.size(), 1u);
    EXPECT_EQ(m_targets.calls[0].name, "OnNVRSpeakMediaData");
    Pump();
    ExpectPosts({}, "media data posts nothing");
}

TEST_F(AuxPtzEventsTest, MediaParametersByKind)
{
    struct Case {
        int32_t kind;
        const char* xml;
        bool searchPage;
        const char* call;   // null: no call
        int32_t passedKind;
        const char* log;
    } cases[] = {
        {3, "<talk/>", true, "OnNVRSpeakParam", 0, "CAuxPTZEvents: recv nvr speak param."},
        {3, "<talk/>", false, "OnNVRSpeakParam", 0, "CAuxPTZEvents: recv nvr speak param."},
        {4, "<nvr/>", true, "OnMediaParamRecv", 4, "CAuxPTZEvents: recv nvr replay param."},
        {1, "<ipc/>", true, "OnMediaParamRecv", 1, "CAuxPTZEvents: recv IPC replay param."},
        {2, "<ipc/>", true, "OnMediaParamRecv", 1, "CAuxPTZEvents: recv IPC replay param."},
        {4, "", true, nullptr, 0, "CAuxPTZEvents::MediaParamRecv(): strData is null, set media param refused."},
        {1, nullptr, true, nullptr, 0, "CAuxPTZEvents::MediaParamRecv(): strData is null, set media param refused."},
        {4, "<nvr/>", false, nullptr, 0, nullptr},
    };
    for (const Case& c : cases) {
        const std::string label =
            std::to_string(c.kind) + (c.xml ? c.xml : "(null)") + (c.searchPage ? "" : " without the page");
        m_targets.ClearAll();
        m_targets.hasSearch = c.searchPage;
        const auto from = LogSize();
        m_sink.MediaParamRecv(kId, c.xml, c.kind);
        if (!c.call) {
            EXPECT_TRUE(m_targets.calls.empty()) << label;
        } else {
            ASSERT_EQ(m_targets.calls.size(), 1u) << label;
            EXPECT_EQ(m_targets.calls[0].name, c.call) << label;
            EXPECT_EQ(m_targets.calls[0].auxPtzId, kId) << label;
            EXPECT_EQ(m_targets.calls[0].text, c.xml) << label;
            if (c.passedKind) {
                EXPECT_EQ(m_targets.calls[0].a, c.passedKind) << label;
            }
        }
        const std::string log = LogSince(from);
        if (c.log)
            EXPECT_NE(log.find(c.log), std::string::npos) << label << ": " << log;
        else
            EXPECT_EQ(log.find("CAuxPTZEvents"), std::string::npos) << label << ": " << log;
    }
}

TEST_F(AuxPtzEventsTest, ReplayEndAndDownloadProgressNeedTheRecordSearchPage)
{
    m_sink.NvrReplayEnd(kId, 7, 3);
    m_sink.TimeDownloadProgress(kId, 55);
    ASSERT_EQ(m_targets.calls.size(), 2u);
    EXPECT_EQ(m_targets.calls[0].name, "OnNVRReplayEnd");
    EXPECT_EQ(m_targets.calls[0].a, 7);
    EXPECT_EQ(m_targets.calls[0].b, 3);
    EXPECT_EQ(m_targets.calls[1].name, "OnTimeDownloadProgress");
    EXPECT_EQ(m_targets.calls[1].a, 55);

    m_targets.ClearAll();
    m_targets.hasSearch = false;
    m_sink.NvrReplayEnd(kId, 7, 3);
    m_sink.TimeDownloadProgress(kId, 55);
    EXPECT_TRUE(m_targets.calls.empty());
}

TEST_F(AuxPtzEventsTest, AlarmIsPostedWithItsSourceAndACopy)
{
    const auto a = Alarm(14, 5);
    m_sink.AlarmEvent(kId, a.data(), int32_t(a.size()));
    Pump();
    const auto& got = m_targets.main.got;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg, WM_DEV_ALARM);
    ASSERT_TRUE(got[0].hasAlarm);
    _ALARM_SOURCE want{};
    want.kind = kAlarmSourceAuxPtzId;
    want.auxPtzId = kId;
    EXPECT_EQ(std::memcmp(&got[0].source, &want, sizeof(want)), 0);  // zero-filled but for kind and id
    EXPECT_EQ(std::memcmp(&got[0].alarm, a.data(), sizeof(_ALARM_INFO)), 0);
    EXPECT_TRUE(m_targets.ptz.got.empty() && m_targets.search.got.empty() && m_targets.maint.got.empty());

    // A longer block: the first 176 bytes are the record.
    auto longer = Alarm(15, 6);
    longer.resize(200, 0xEE);
    m_targets.ClearAll();
    m_sink.AlarmEvent(kId, longer.data(), int32_t(longer.size()));
    Pump();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::memcmp(&got[0].alarm, longer.data(), sizeof(_ALARM_INFO)), 0);
}

TEST_F(AuxPtzEventsTest, AlarmRepeatsAreDroppedPerDevice)
{
    const auto a = Alarm(14, 5);
    const auto b = Alarm(14, 6);
    const auto zero = std::vector<uint8_t>(sizeof(_ALARM_INFO), 0);
    struct Step {
        int32_t id;
        const std::vector<uint8_t>* alarm;
        int32_t length;
        bool posted;
        const char* why;
    } steps[] = {
        {kId, &a, 175, false, "too short"},
        {kId, &a, 176, true, "first alarm"},
        {kId, &a, 176, false, "repeat of the same device"},
        {kOtherId, &a, 176, true, "same record from another device"},
        {kOtherId, &a, 176, false, "repeat of the other device"},
        {kId, &b, 176, true, "new record"},
        {kId, &a, 176, true, "the earlier record again, after another"},
        {kUnknownId, &a, 176, false, "no device record"},
        {kUnknownId, &b, 176, false, "no device record, new record"},
        {kOtherId, &zero, 176, true, "an all-zero record is a record too"},
        {kOtherId, &zero, 176, false, "and is remembered"},
    };
    for (const Step& s : steps) {
        m_targets.ClearAll();
        m_sink.AlarmEvent(s.id, s.alarm->data(), s.length);
        Pump();
        ASSERT_EQ(m_targets.main.got.size(), s.posted ? 1u : 0u) << s.why;
        if (s.posted) {
            EXPECT_EQ(m_targets.main.got[0].source.auxPtzId, s.id) << s.why;
        }
    }

    // The unknown id's last alarm was kept: once a record carries the id, a
    // repeat of it is still dropped, and a new one is posted.
    AddDevice(kUnknownId);
    m_targets.ClearAll();
    m_sink.AlarmEvent(kUnknownId, b.data(), 176);
    Pump();
    EXPECT_TRUE(m_targets.main.got.empty());
    m_sink.AlarmEvent(kUnknownId, a.data(), 176);
    Pump();
    ASSERT_EQ(m_targets.main.got.size(), 1u);
    EXPECT_EQ(m_targets.main.got[0].source.auxPtzId, kUnknownId);

    // A null block is ignored.
    m_targets.ClearAll();
    m_sink.AlarmEvent(kId, nullptr, 176);
    Pump();
    EXPECT_TRUE(m_targets.main.got.empty());
}

// A record that never registered keeps AuxPtzId 0: an event with id 0 (or
// below) belongs to no device, even while such a record is in the list.
TEST_F(AuxPtzEventsTest, AlarmsWithIdZeroMatchNoUnregisteredRecord)
{
    AddDevice(0);
    for (int32_t id : {0, -1}) {
        m_targets.ClearAll();
        m_sink.AlarmEvent(id, Alarm(14, 9 - id).data(), 176);
        Pump();
        EXPECT_TRUE(m_targets.main.got.empty()) << id;
    }
}

// Every payload-carrying event, fired once.
void FireEverything(CAuxPTZEvents& sink, int second)
{
    sink.StatusEvent(kId, 26, "4");
    sink.StatusEvent(kId, 27, "1111");
    sink.StatusEvent(kId, 30, "50");
    sink.StatusEvent(kId, 16, "");
    sink.StatusEvent(kId, 2, "");
    sink.PTZResponse(kId, 0, "1^1^");
    sink.AUXResponse(kId, PackAuxCode(0, 1021), "<files/>");
    sink.AUXResponse(kId, PackAuxCode(0, 3001), "<days/>");
    sink.AUXResponse(kId, PackAuxCode(0, 1012), "<v/>");
    sink.AUXResponse(kId, PackAuxCode(0, 1014), "<s/>");
    sink.AUXResponse(kId, PackAuxCode(0, 1002), "");
    _ALARM_INFO a{};
    a.second = second;
    sink.AlarmEvent(kId, reinterpret_cast<const uint8_t*>(&a), sizeof(a));
}

// Payload posts of FireEverything: six texts, two blocks, one alarm.
constexpr long kPayloadPosts = 9;

TEST_F(AuxPtzEventsTest, NothingIsPostedOrLeakedWithoutTargetsOrWindows)
{
    // No targets registered.
    SetMediaSinkTargets(nullptr);
    FireEverything(m_sink, 1);
    m_sink.MediaDataRecv(kId, nullptr, 0, nullptr, 4);
    m_sink.MediaParamRecv(kId, "<x/>", 3);
    m_sink.NvrReplayEnd(kId, 7, 1);
    Pump();
    EXPECT_TRUE(m_targets.main.got.empty() && m_targets.calls.empty());

    // Targets without any window.
    SetMediaSinkTargets(&m_targets);
    m_targets.hasMain = m_targets.hasPtz = m_targets.hasSearch = m_targets.hasMaint = false;
    FireEverything(m_sink, 2);
    Pump();
    ExpectPosts({}, "no windows");

    // Windows destroyed, their stale handles still handed out: every post
    // fails and the sink frees what it made (the leak checker sees the rest).
    m_targets.hasMain = m_targets.hasPtz = m_targets.hasSearch = m_targets.hasMaint = true;
    const HWND oldMain = m_targets.main.GetSafeHwnd();
    for (RecorderWnd* w : {&m_targets.main, &m_targets.ptz, &m_targets.search, &m_targets.maint})
        w->DestroyWindow();
    struct StaleTargets : TestTargets {
        HWND stale;
        HWND MainWnd() override { return stale; }
        HWND PtzPanelWnd() override { return stale; }
        HWND SearchRecWnd() override { return stale; }
        HWND MaintPageWnd() override { return stale; }
    } stale;
    stale.stale = oldMain;
    ASSERT_FALSE(IsWindow(oldMain));
    SetMediaSinkTargets(&stale);
    const long freedBefore = qelm::UndeliveredPayloadsFreed();
    FireEverything(m_sink, 3);
    Pump();
    EXPECT_EQ(qelm::UndeliveredPayloadsFreed(), freedBefore);  // nothing was queued
    SetMediaSinkTargets(&m_targets);
}

TEST_F(AuxPtzEventsTest, PayloadsQueuedForAWindowThatDiesAreFreed)
{
    const long freedBefore = qelm::UndeliveredPayloadsFreed();
    FireEverything(m_sink, 4);
    for (RecorderWnd* w : {&m_targets.main, &m_targets.ptz, &m_targets.search, &m_targets.maint})
        w->DestroyWindow();
    Pump();
    EXPECT_TRUE(m_targets.main.got.empty() && m_targets.search.got.empty() && m_targets.maint.got.empty() &&
                m_targets.ptz.got.empty());
    EXPECT_EQ(qelm::UndeliveredPayloadsFreed() - freedBefore, kPayloadPosts);
}

// The real control, its driver and the simulator, through the sink to the windows.
class AuxPtzEventsEndToEnd : public AuxPtzEventsTest {
protected:
    void SetUp() override
    {
        AuxPtzEventsTest::SetUp();
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidAuxPtz);
        DeviceSimulator::Instance().Clear();
        SimDevice d;
        d.address = "127.0.0.1";
        d.port = 5000;
        d.user = "admin";
        d.password = "123456";
        d.version = "V2.3.1";
        d.storages = {{"sd1", 1, 30436, 1024, 29412, 3}};
        DeviceSimulator::Instance().AddDevice(d);
        Pump();
    }
    void TearDown() override
    {
        m_ctrl.Unadvise();
        m_ctrl.ReleaseDispatch();
        DeviceSimulator::Instance().Clear();
        AuxPtzEventsTest::TearDown();
    }

    bool WaitForMsg(RecorderWnd& w, UINT msg)
    {
        return WaitFor([&] {
            for (const Received& r : w.got)
                if (r.msg == msg)
                    return true;
            return false;
        });
    }
    const Received* Find(RecorderWnd& w, UINT msg)
    {
        for (const Received& r : w.got)
            if (r.msg == msg)
                return &r;
        return nullptr;
    }

    ControlClassesGuard m_classes;
    CAuxPtzCtrl m_ctrl;
};

TEST_F(AuxPtzEventsEndToEnd, DeviceEventsReachTheWindows)
{
    ASSERT_TRUE(m_ctrl.CreateDispatch());
    m_ctrl.Advise(&m_sink);
    const int32_t id = m_ctrl.AddDevice("127.0.0.1", 5000, "admin", "123456");
    ASSERT_GT(id, 0);
    AddDevice(id);

    // Log-in answer: a device status to the main window.
    ASSERT_TRUE(WaitForMsg(m_targets.main, WM_DEV_STATUS));
    EXPECT_EQ(Find(m_targets.main, WM_DEV_STATUS)->wParam, WPARAM(id));
    EXPECT_EQ(Find(m_targets.main, WM_DEV_STATUS)->lParam, LPARAM(kDevStatusLoggedIn));

    // A maintenance request answered by the device.
    m_targets.ClearAll();
    ASSERT_EQ(m_ctrl.WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""), 0);
    ASSERT_TRUE(WaitForMsg(m_targets.maint, WM_DEV_CONFIG_RESPONSE));
    const Received* version = Find(m_targets.maint, WM_DEV_CONFIG_RESPONSE);
    ASSERT_TRUE(version->hasBlock);
    EXPECT_EQ(version->blockAuxPtzId, id);
    EXPECT_EQ(version->text, "<RESPONSE_PARAM FileSystemVersion=\"V2.3.1\" />");

    // An unmount of a storage the device lacks fails with a negative result.
    ASSERT_EQ(m_ctrl.WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1018, 0, "<REQUEST_PARAM DevName = \"usb\" />"),
              0);
    ASSERT_TRUE(WaitForMsg(m_targets.maint, WM_STORAGE_UNMOUNT_RESULT));
    EXPECT_EQ(static_cast<intptr_t>(Find(m_targets.maint, WM_STORAGE_UNMOUNT_RESULT)->wParam), -1);
    EXPECT_EQ(Find(m_targets.maint, WM_STORAGE_UNMOUNT_RESULT)->lParam, LPARAM(id));

    // An alarm the device raises, twice: one WM_DEV_ALARM.
    SimEvent e;
    e.kind = 4;
    e.bytes = Alarm(14, 9);
    DeviceSimulator::Instance().Inject("127.0.0.1", 5000, e);
    DeviceSimulator::Instance().Inject("127.0.0.1", 5000, e);
    ASSERT_TRUE(WaitForMsg(m_targets.main, WM_DEV_ALARM));
    WaitFor([] { return false; }, 100);
    int alarms = 0;
    for (const Received& r : m_targets.main.got)
        if (r.msg == WM_DEV_ALARM) {
            ++alarms;
            EXPECT_EQ(r.source.auxPtzId, id);
            EXPECT_EQ(std::memcmp(&r.alarm, e.bytes.data(), sizeof(_ALARM_INFO)), 0);
        }
    EXPECT_EQ(alarms, 1);
}

} // namespace
