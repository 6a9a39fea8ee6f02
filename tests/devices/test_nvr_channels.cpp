// NVR channel rows: channel counts and state texts as the device-control and
// stream sinks post them, against a recorder in the device list.
#include "supervision_util.h"

#include "devices/nvr_channels.h"
#include "core/recinfo.h"
#include "media/sink_targets.h"

#include <cstring>

namespace {

using suptest::Dev;

class NvrChannelsTest : public testing::Test {
public:
    void SetUp() override
    {
        devtest::ResetAll();
        suptest::StartDrivers();
        SetDeviceServices(&host);
        ASSERT_TRUE(dir.isValid());
        journal = dir.filePath("journal.txt").toStdString();
        g_lstDevInfo.push_back(Dev("CAM1", "Gate", 1, "10.0.0.1", 11));
        DeviceInfo nvr = Dev("NVR1", "Recorder", 4, "10.0.0.3", 31);
        std::strcpy(nvr.LoginName, "admin");
        std::strcpy(nvr.LoginPsw, "pw");
        nvr.PtzPort = 8091;
        g_lstDevInfo.push_back(nvr);
        g_lstDevInfo.push_back(Dev("CAM2", "Yard", 1, "10.0.0.9", 12));
    }
    void TearDown() override { devtest::ResetAll(); }

    // Counts through the handler; returns the forwarding calls and the
    // device-control calls it made.
    std::pair<std::vector<std::string>, std::vector<std::string>> Count(const char* text, int id = 31)
    {
        host.Take();
        std::remove(journal.c_str());
        {
            qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
            OnNvrChannelList(id, qelm::NewText(text));
        }
        return {host.Take(), suptest::JournalCalls(journal, {"CAuxPtzCtrl::"})};
    }
    std::vector<std::string> States(WPARAM w, const char* text)
    {
        host.Take();
        OnChannelStates(w, qelm::NewText(text));
        return host.Take();
    }
    static std::vector<std::string> Rows(const char* devId = "NVR1")
    {
        std::vector<std::string> out;
        for (const DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevId, devId) == 0)
                out.push_back(std::string(d.DevName) + "/" + std::to_string(d.CurNVRChannel));
        return out;
    }
    static DeviceInfo& Row(const char* name) { return *devtest::FindDev("NVR1", name); }

    QTemporaryDir dir;
    std::string journal;
    suptest::Host host;
};

std::vector<std::string> Expect(std::initializer_list<std::string> v)
{
    return v;
}

TEST_F(NvrChannelsTest, CountsGrowShrinkAndRepeat)
{
    const std::string version = "CAuxPtzCtrl::WriteAUXStringEx\t31\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t";
    auto registration = [](int n) {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) {
            out.push_back("CAuxPtzCtrl::AddDevice\t10.0.0.3\t8091\tadmin\tpw");
            out.push_back("CAuxPtzCtrl::SetTimeSync");
        }
        return out;
    };
    auto stripSync = [](std::vector<std::string> v) {
        for (std::string& s : v)
            if (s.rfind("CAuxPtzCtrl::SetTimeSync", 0) == 0)
                s = "CAuxPtzCtrl::SetTimeSync";
        return v;
    };

    auto [calls, control] = Count("4");
    EXPECT_EQ(calls, Expect({"ReloadDevTrees", "TS_NotifyUpdateDeviceList", "UpdateDevTreeStatus"}));
    std::vector<std::string> want = {version};
    for (auto& s : registration(4))
        want.push_back(s);
    EXPECT_EQ(stripSync(control), want);
    EXPECT_EQ(Rows(), Expect({"Recorder/0", "Channel-1/1", "Channel-2/2", "Channel-3/3", "Channel-4/4"}));
    EXPECT_EQ(Row("Recorder").Online, 1);
    EXPECT_EQ(g_lstDevInfo.back().DevName, std::string("Yard")); // rows follow the recorder directly
    const int id2 = Row("Channel-2").AuxPtzId;
    EXPECT_GT(id2, 0);
    EXPECT_NE(id2, Row("Channel-3").AuxPtzId);

    std::tie(calls, control) = Count("8");
    EXPECT_EQ(calls, Expect({"ReloadDevTrees", "TS_NotifyUpdateDeviceList"}));
    want = {version};
    for (auto& s : registration(4))
        want.push_back(s);
    EXPECT_EQ(stripSync(control), want);
    EXPECT_EQ(Rows().size(), 9u);
    EXPECT_EQ(Rows()[8], "Channel-8/8");
    EXPECT_EQ(Row("Channel-2").AuxPtzId, id2); // existing rows keep their registration
    for (const DeviceInfo& d : g_lstDevInfo) {
        if (std::strcmp(d.DevId, "NVR1") == 0) {
            EXPECT_EQ(d.NVRChannels, 8) << d.DevName;
        }
    }

    std::tie(calls, control) = Count("8"); // a repeat: the version request only
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(control, Expect({version}));

    std::tie(calls, control) = Count("4");
    EXPECT_EQ(calls, Expect({"RemoveMaintRow 10.0.0.3", "MapRemoveDevice Channel-5", "RemoveMaintRow 10.0.0.3",
                             "MapRemoveDevice Channel-6", "RemoveMaintRow 10.0.0.3", "MapRemoveDevice Channel-7",
                             "RemoveMaintRow 10.0.0.3", "MapRemoveDevice Channel-8", "ReloadDevTrees",
                             "TS_NotifyUpdateDeviceList"}));
    EXPECT_EQ(control.size(), 5u); // the version request and four DelDevice
    EXPECT_EQ(Rows().size(), 5u);

    Row("Recorder").Online = 0;
    std::tie(calls, control) = Count("0"); // online, rows untouched
    EXPECT_EQ(calls, Expect({"UpdateDevTreeStatus"}));
    EXPECT_EQ(Row("Recorder").Online, 1);
    EXPECT_EQ(Rows().size(), 5u);

    std::tie(calls, control) = Count("4", 12345); // no recorder has the id
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(control.empty());
}

TEST_F(NvrChannelsTest, HugeCountIsClampedToWhatTheStatesCanHold)
{
    Count("100000");
    EXPECT_EQ(Rows().size(), 1u + kMaxNvrChannels);
    EXPECT_EQ(Row("Recorder").NVRChannels, kMaxNvrChannels);
    EXPECT_EQ(Rows().back(), "Channel-127/127");
    auto [calls, control] = Count("100000"); // the same clamped count: nothing new
    EXPECT_TRUE(calls.empty());
}

TEST_F(NvrChannelsTest, RenamedChannelRowIsStillThatChannel)
{
    Count("4");
    std::strcpy(Row("Channel-2").DevName, "Front door");
    Count("5");
    EXPECT_EQ(Rows(), Expect({"Recorder/0", "Channel-1/1", "Front door/2", "Channel-3/3", "Channel-4/4",
                              "Channel-5/5"}));
}

TEST_F(NvrChannelsTest, StateTexts)
{
    Count("5");
    const char* mac = "00-11-22-33-44-55:10.0.0.3";
    auto report = [&](int c, int s) {
        return std::string("TS_ReportDeviceState ") + mac + " " + std::to_string(c) + " " + std::to_string(s);
    };
    EXPECT_EQ(States(31, "1101"), Expect({report(1, 1), report(2, 1), report(4, 1), "UpdateDevTreeStatus"}));
    EXPECT_EQ(Row("Channel-3").Online, 0);
    EXPECT_EQ(Row("Channel-5").Online, 0); // missing from the text: offline
    EXPECT_STREQ(Row("Recorder").ChannelStates, "1101");
    EXPECT_TRUE(States(31, "1101").empty()); // the same text again
    EXPECT_EQ(States(31, "0101x"), Expect({report(1, 0), "UpdateDevTreeStatus"}));
    EXPECT_TRUE(States(32, "11111").empty()); // a channel row's own id: only parents are handled
    EXPECT_EQ(Row("Channel-3").Online, 0);

    // A longer text than the field keeps its first 127 characters.
    std::string longText(300, '1');
    States(31, longText.c_str());
    EXPECT_EQ(std::strlen(Row("Recorder").ChannelStates), 127u);
    EXPECT_TRUE(States(31, longText.c_str()).empty());
    OnChannelStates(31, nullptr);
}

TEST_F(NvrChannelsTest, DeviceAndStreamIdsAreToldApart)
{
    // A cloud recorder whose P2P log-in id has the local recorder's number.
    DeviceInfo cloud = Dev("7001", "CloudNvr", 4, "10.0.0.7", 0);
    cloud.nPltDev = 1;
    cloud.P2pLoginId = 31;
    g_lstDevInfo.push_front(cloud);
    DeviceInfo cloudCh = Dev("7001", "Channel-1", 4, "10.0.0.7", 0);
    cloudCh.CurNVRChannel = 1;
    cloudCh.nPltDev = 1;
    g_lstDevInfo.insert(std::next(g_lstDevInfo.begin()), cloudCh);
    Count("2");

    States(31, "11"); // from the device-control sink: the local recorder
    EXPECT_EQ(Row("Channel-1").Online, 1);
    EXPECT_STREQ(devtest::FindDev("7001", "CloudNvr")->ChannelStates, "");
    EXPECT_EQ(devtest::FindDev("7001", "Channel-1")->Online, 0);

    States(31 | kChannelStatesFromStream, "1"); // from the stream sink: the cloud recorder
    EXPECT_STREQ(devtest::FindDev("7001", "CloudNvr")->ChannelStates, "1");
    EXPECT_EQ(devtest::FindDev("7001", "Channel-1")->Online, 1);
    EXPECT_STREQ(Row("Recorder").ChannelStates, "11");
}

TEST_F(NvrChannelsTest, ExistenceAndRemovalAbove)
{
    Count("3");
    DeviceInfo probe{};
    std::strcpy(probe.DevId, "NVR1");
    std::strcpy(probe.DevName, "Channel-3");
    EXPECT_TRUE(IsDevExist(probe));
    std::strcpy(probe.DevName, "Channel-4");
    EXPECT_FALSE(IsDevExist(probe));
    host.Take();
    EXPECT_EQ(RemoveNvrChannelsAbove(Row("Recorder"), 1), 2);
    EXPECT_EQ(Rows(), Expect({"Recorder/0", "Channel-1/1"}));
    EXPECT_EQ(host.Take().back(), "TS_NotifyUpdateDeviceList");
    EXPECT_EQ(RemoveNvrChannelsAbove(Row("Recorder"), 1), 0);
    EXPECT_TRUE(host.Take().empty());
}

TEST_F(NvrChannelsTest, ShrinkKeepsTheOtherRowsInPlans)
{
    Count("4");
    RecScheme* plan = new RecScheme{};
    for (DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevId, "NVR1") == 0)
            plan->lstDev.push_back(&d);
    g_lstRecSchemeInfo.push_back(plan);
    Count("2");
    std::vector<std::string> members;
    for (const DeviceInfo* d : plan->lstDev)
        members.push_back(d->DevName);
    EXPECT_EQ(members, Expect({"Recorder", "Channel-1", "Channel-2"}));
}

} // namespace
