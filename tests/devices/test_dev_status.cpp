// Device and stream status supervision: injected device-control and stream
// status events against a small device list, as the recorded forwarding
// calls, the journal of the device-control stand-in and the records show them.
#include "supervision_util.h"

#include "devices/dev_status.h"
#include "core/log.h"
#include "media/rtsp_events.h"

#include <cstring>
#include <fstream>

namespace {

using suptest::Dev;

const char* kMac = "00-11-22-33-44-55";

std::string Relay(const char* ip, int channel, int state)
{
    return std::string("TS_ReportDeviceState ") + kMac + ":" + ip + " " + std::to_string(channel) + " " +
           std::to_string(state);
}

class DevStatusTest : public testing::Test {
public:
    void SetUp() override
    {
        devtest::ResetAll();
        suptest::StartDrivers();
        SetDeviceServices(&host);
        ASSERT_TRUE(dir.isValid());
        journal = dir.filePath("journal.txt").toStdString();
        g_lstDevInfo.push_back(Dev("CAM1", "Gate", 1, "10.0.0.1", 11));
        for (int i = 1; i <= 5; ++i) {
            std::string name = "10.0.0.2-Stream" + std::to_string(i);
            g_lstDevInfo.push_back(Dev("10.0.0.2", name.c_str(), 0, "10.0.0.2", i == 1 ? 21 : 0));
        }
        g_lstDevInfo.push_back(Dev("NVR1", "Recorder", 4, "10.0.0.3", 31));
        DeviceInfo ch1 = Dev("NVR1", "Channel-1", 4, "10.0.0.3", 32, 1);
        ch1.CurNVRChannel = 1;
        DeviceInfo ch2 = Dev("NVR1", "Channel-2", 4, "10.0.0.3", 33, 1);
        ch2.CurNVRChannel = 2;
        g_lstDevInfo.push_back(ch1);
        g_lstDevInfo.push_back(ch2);
        DeviceInfo plt = Dev("9001", "Cloud", 1, "10.0.0.4", 41, 1);
        plt.nPltDev = 1;
        g_lstDevInfo.push_back(plt);
        g_lstDevInfo.push_back(Dev("MDEC", "Decoder", 5, "10.0.0.5", 51, 1));
    }
    void TearDown() override { devtest::ResetAll(); }

    DeviceInfo& Rec(const char* name) { return *devtest::FindDev(NameId(name), name); }
    static const char* NameId(const char* name)
    {
        for (const DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevName, name) == 0)
                return d.DevId;
        return "";
    }
    void SetDvsOnline(int online)
    {
        for (DeviceInfo& d : g_lstDevInfo)
            if (d.DevType == 0)
                d.Online = online;
    }

    QTemporaryDir dir;
    std::string journal;
    suptest::Host host;
};

TEST_F(DevStatusTest, DeviceEventsChangeStatesReportsAndAlarms)
{
    struct Case {
        const char* what;
        int auxPtzId, type;
        std::function<void(DevStatusTest&)> before;
        std::vector<std::string> calls;
        std::vector<std::string> control;   // journal of the device-control stand-in
        std::function<void(DevStatusTest&)> check;
    };
    std::vector<std::string> dvsUp, dvsDown;
    for (int i = 1; i <= 5; ++i) {
        dvsUp.push_back("Alarm 10.0.0.2-Stream1 2");
        dvsUp.push_back(Relay("10.0.0.2", i, 1));
        dvsDown.push_back("Alarm 10.0.0.2-Stream1 1");
        dvsDown.push_back(Relay("10.0.0.2", i, 0));
    }
    dvsUp.push_back("UpdateDevTreeStatus");
    dvsDown.insert(dvsDown.begin(), "RemoveMaintRow 10.0.0.2");
    dvsDown.push_back("UpdateDevTreeStatus");
    const std::string version = "CAuxPtzCtrl::WriteAUXStringEx\t";

    const Case cases[] = {
        {"camera logs in", 11, 4, [](DevStatusTest& t) { t.Rec("Gate").Online = 0; },
         {"Alarm Gate 2", Relay("10.0.0.1", 0, 1), "UpdateDevTreeStatus"},
         {version + "11\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t"},
         [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Gate").Online, 1); }},
        {"recording camera logs in: online and recording", 11, 4,
         [](DevStatusTest& t) {
             t.Rec("Gate").Online = 0;
             t.Rec("Gate").RecFlag = 1;
         },
         {"Alarm Gate 2", Relay("10.0.0.1", 0, 1), Relay("10.0.0.1", 0, 2), "UpdateDevTreeStatus"},
         {version + "11\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t"}, nullptr},
        {"online camera refused", 11, 5, [](DevStatusTest& t) { t.Rec("Gate").Online = 1; },
         {"Alarm Gate 1", Relay("10.0.0.1", 0, 0), "UpdateDevTreeStatus", "UpdateDevTreeStatus",
          "RemoveMaintRow 10.0.0.1"},
         {}, [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Gate").Online, -1); }},
        {"offline camera lost: nothing to report", 11, 2, [](DevStatusTest& t) { t.Rec("Gate").Online = 0; },
         {"RemoveMaintRow 10.0.0.1"}, {}, [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Gate").Online, 0); }},
        {"platform camera lost falls back to P2P", 41, 2, nullptr, {"Alarm Cloud 1", "RemoveMaintRow 10.0.0.4"},
         {"CAuxPtzCtrl::DelDevice\t41"},
         [](DevStatusTest& t) {
             DeviceInfo& d = t.Rec("Cloud");
             EXPECT_EQ(d.Online, 1);
             EXPECT_EQ(d.UseP2P, 1);
             EXPECT_EQ(d.VisitMod, 3);
             EXPECT_EQ(d.AuxPtzId, 0); // the dropped registration is not used again
         }},
        {"multi-channel decoder lost: no alarm", 51, 2, nullptr,
         {Relay("10.0.0.5", 0, 0), "UpdateDevTreeStatus", "RemoveMaintRow 10.0.0.5"}, {},
         [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Decoder").Online, 0); }},
        {"video server lost: every stream row", 21, 2, [](DevStatusTest& t) { t.SetDvsOnline(1); }, dvsDown, {},
         [](DevStatusTest&) {
             for (const DeviceInfo& d : g_lstDevInfo) {
                 if (d.DevType == 0) {
                     EXPECT_EQ(d.Online, 0) << d.DevName;
                 }
             }
         }},
        {"video server logs in: every stream row", 21, 4, [](DevStatusTest& t) { t.SetDvsOnline(0); }, dvsUp,
         {version + "21\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t"},
         [](DevStatusTest&) {
             for (const DeviceInfo& d : g_lstDevInfo) {
                 if (d.DevType == 0) {
                     EXPECT_EQ(d.Online, 1) << d.DevName;
                 }
             }
         }},
        {"NVR logs in: version only", 31, 4, nullptr, {}, {version + "31\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t"},
         [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Recorder").Online, 0); }},
        {"NVR lost with its channel states", 31, 3,
         [](DevStatusTest& t) {
             t.Rec("Recorder").Online = 1;
             std::strcpy(t.Rec("Recorder").ChannelStates, "11");
         },
         {"RemoveMaintRow 10.0.0.3", "UpdateDevTreeStatus"}, {},
         [](DevStatusTest& t) {
             EXPECT_EQ(t.Rec("Recorder").Online, 0);
             EXPECT_STREQ(t.Rec("Recorder").ChannelStates, "");
             EXPECT_EQ(t.Rec("Channel-1").Online, 0);
             EXPECT_EQ(t.Rec("Channel-2").Online, 0);
         }},
        {"NVR refused", 31, 5, nullptr, {"RemoveMaintRow 10.0.0.3", "UpdateDevTreeStatus"}, {},
         [](DevStatusTest& t) { EXPECT_EQ(t.Rec("Recorder").Online, -1); }},
        {"a channel row's own id: no log-in event for it", 32, 4, nullptr, {}, {}, nullptr},
        {"id 0 matches no unregistered row", 0, 4, [](DevStatusTest& t) { t.SetDvsOnline(0); }, {}, {},
         [](DevStatusTest& t) { EXPECT_EQ(t.Rec("10.0.0.2-Stream2").Online, 0); }},
        {"unknown id", 999, 2, nullptr, {}, {}, nullptr},
        {"type without a rule", 11, 12, nullptr, {}, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before)
            c.before(*this);
        host.Take();
        std::remove(journal.c_str());
        {
            qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
            OnDevStatusResponse(c.auxPtzId, c.type);
        }
        EXPECT_EQ(host.Take(), c.calls);
        EXPECT_EQ(suptest::JournalCalls(journal, {"CAuxPtzCtrl::WriteAUXStringEx", "CAuxPtzCtrl::DelDevice"}),
                  c.control);
        if (c.check)
            c.check(*this);
    }
}

TEST_F(DevStatusTest, TalkAnswers)
{
    DeviceInfo& gate = Rec("Gate");
    // Broadcast: requested, then confirmed without touching a pane.
    gate.BroadcastState = 1;
    OnDevStatusResponse(11, kDevEvTalkOk);
    EXPECT_EQ(gate.BroadcastState, 2);
    EXPECT_TRUE(host.Take().empty());
    OnDevStatusResponse(11, kDevEvTalkFailed);
    EXPECT_EQ(gate.BroadcastState, 0);
    EXPECT_TRUE(host.Take().empty());
    gate.BroadcastState = 1;
    OnDevStatusResponse(11, kDevEvTalkFailed); // a refused broadcast is silent
    EXPECT_EQ(gate.BroadcastState, 0);
    EXPECT_TRUE(host.Take().empty());

    // Talk in an extension grid's pane.
    host.grids = 2;
    host.paneKeys[1].insert("Gate");
    OnDevStatusResponse(11, kDevEvTalkOk);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"GridSetSpeakStatus 0 Gate 1", "GridSetSpeakStatus 1 Gate 1"}));
    OnDevStatusResponse(11, kDevEvTalkFailed);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"GridSetSpeakStatus 0 Gate 0", "GridSetSpeakStatus 1 Gate 0",
                                                     "ShowMsg 3 1 272"}));
    // The alarm-linkage popup holds the talk: its own message box.
    host.almTalk = true;
    OnDevStatusResponse(11, kDevEvTalkFailed);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"AlmActSetSpeakStatus Gate 0", "ShowMsg 1 0 272"}));
    // An NVR channel's pane key is address and name; channel rows match talk answers.
    host.almTalk = false;
    host.mapTalk = true;
    OnDevStatusResponse(33, kDevEvTalkOk);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"MapSetSpeakStatus 10.0.0.3-Channel-2 1"}));
    host.mapTalk = false;
    OnDevStatusResponse(33, kDevEvTalkStopped);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"GridSetSpeakStatus 0 10.0.0.3-Channel-2 0",
                                                     "AlmActSetSpeakStatus 10.0.0.3-Channel-2 0"}));
}

TEST_F(DevStatusTest, StreamStatusCodes)
{
    auto post = [](const char* id, int code) {
        char* block = new char[128]();
        std::strcpy(block, id);
        OnStreamStatus(block, code);
    };
    Rec("Recorder").Online = 1;
    std::strcpy(Rec("Recorder").ChannelStates, "11");
    post("NVR1", 6);
    EXPECT_EQ(host.Take(), std::vector<std::string>{"UpdateDevTreeStatus"});
    EXPECT_EQ(Rec("Recorder").Online, 0);
    EXPECT_EQ(Rec("Channel-1").Online, 0);
    EXPECT_EQ(Rec("Channel-2").Online, 0);
    EXPECT_STREQ(Rec("Recorder").ChannelStates, "");
    post("NVR1", 6); // already offline: no refresh
    EXPECT_TRUE(host.Take().empty());
    post("NVR1", 5);
    EXPECT_EQ(host.Take(), std::vector<std::string>{"UpdateDevTreeStatus"});
    EXPECT_EQ(Rec("Recorder").Online, 1);
    EXPECT_EQ(Rec("Channel-1").Online, 0); // the channels follow their own states
    post("NVR1", 64);                      // the sink's other codes change nothing
    post("nobody", 6);
    OnStreamStatus(nullptr, 6);
    EXPECT_TRUE(host.Take().empty());
    EXPECT_EQ(Rec("Recorder").Online, 1);
}

TEST_F(DevStatusTest, AlarmHookMarksTheChannelForRecording)
{
    host.scheduler = true;
    for (DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevName, "Channel-2") == 0) {
            DeviceInfo copy = d;
            std::strcpy(copy.DevName, "Channel-2b"); // a second row of the same channel
            g_lstDevInfo.push_back(copy);
            break;
        }
    _ALARM_INFO motion = devsup::MakeConnectionAlarm(14);
    OnDeviceAlarm(&Rec("Channel-2"), &motion);
    EXPECT_EQ(host.Take(), std::vector<std::string>{"Alarm Channel-2 14"});
    EXPECT_EQ(Rec("Channel-2").MotionAlarmType, 14);
    EXPECT_EQ(Rec("Channel-2b").MotionAlarmType, 14);
    EXPECT_EQ(Rec("Channel-1").MotionAlarmType, 0);
    EXPECT_EQ(Rec("Recorder").MotionAlarmType, 0);
    _ALARM_INFO input = devsup::MakeConnectionAlarm(16);
    _ALARM_SOURCE src{};
    src.kind = kAlarmSourceAuxPtzId;
    src.auxPtzId = 11;
    EXPECT_TRUE(DispatchDeviceAlarm(&src, &input));
    EXPECT_EQ(Rec("Gate").IOAlarmType, 16);
    src.auxPtzId = 0; // unregistered rows hold 0
    EXPECT_FALSE(DispatchDeviceAlarm(&src, &input));
    host.Take();
    host.closing = true;
    OnDeviceAlarm(&Rec("Gate"), &input);
    EXPECT_TRUE(host.Take().empty());
}

} // namespace

namespace {

std::vector<std::string> LogMessages(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        // "[Qelm2]:" + 19 characters of time + two blanks + the message.
        if (line.size() > 29)
            out.push_back(line.substr(29));
    }
    return out;
}

TEST_F(DevStatusTest, LogTexts)
{
    const std::string path = dir.filePath("clientlog.txt").toStdString();
    CloseLog();
    ASSERT_EQ(OpenLog(path.c_str()), 0);
    Rec("Gate").Online = 0;
    OnDevStatusResponse(11, kDevEvLoggedIn);
    OnDevStatusResponse(11, kDevEvLost);
    SetDvsOnline(0);
    OnDevStatusResponse(21, kDevEvLoggedIn);
    OnDevStatusResponse(11, kDevEvTalkOk);
    OnDevStatusResponse(11, kDevEvTalkFailed);
    CloseLog();
    const std::vector<std::string> lines = LogMessages(path);
    for (const char* want : {
             "CIPCClientDlg::OnDevStatusResponse: DevName=Gate login ok!",
             "CIPCClientDlg::OnDevStatusResponse: get system version info,DevName=Gate, lAuxPtzId=11",
             "CIPCClientDlg::OnDevStatusResponse: The device offline. DevName=Gate, lAuxPtzId=11",
             "CIPCClientDlg::OnDevStatusResponse(): get dvs system version info,DevName=10.0.0.2-Stream1, lAuxPtzId=21",
             "CIPCClientDlg::OnDevStatusResponse(): DVS DevName=10.0.0.2-Stream5 login ok!",
             "CIPCClientDlg::OnDevStatusResponse(): Receive  EVENT_STARTAUDIOOK, AuxPtzId=11",
             "CIPCClientDlg::OnDevStatusResponse(): Receive  EVENT_STARTAUDIOFAILED, AuxPtzId=11",
         })
        EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want;
}

} // namespace
