// Tests of the recording scheduler on synthetic streams: folders, the stream
// opener's URLs and results, scheduled starts and stops, the day change, the
// storage-path rules, alarm recordings and the thread's stop.
#include "media/rec_scheme_manager.h"

#include "core/config_store.h"
#include "tests/media/rec_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <sstream>

namespace {

using namespace rectest;

StreamMediaParam FakeParams()
{
    StreamMediaParam p{};
    memcpy(p.marker, kStreamMediaMarker, sizeof kStreamMediaMarker);
    p.hasVideo = 1;
    snprintf(p.video.codecName, sizeof p.video.codecName, "H264");
    p.video.width = 320;
    p.video.height = 240;
    p.video.frameRate = 25;
    return p;
}

// The recorder's streams here: the ONVIF profile addresses point at a
// synthetic source that connects and sends its parameters.
class RecScheduler : public ::testing::Test {
protected:
    void SetUp() override
    {
        PinWallClockToNoon();
        StreamPullControl::RegisterSchemeHandler(
            "recfake", [](StreamPullFeed& feed, const std::string&, const std::string&, const std::string&) {
                feed.Status(5, "connected");
                feed.Params(FakeParams());
                while (feed.Wait(20)) {
                }
            });
    }
    void TearDown() override
    {
        StreamPullControl::UnregisterSchemeHandler("recfake");
        qelm::ResetTestClock();
    }

    // Runs passes (pumping the UI thread, which takes the parameters) until
    // pred holds.
    bool PassUntil(const std::function<bool()>& pred, int ms = 5000)
    {
        return WaitFor(
            [&] {
                sched.RunPass();
                return RecLists::Locked(pred);
            },
            ms);
    }
    // Stops every plan's recordings as the exit step does.
    void StopAll()
    {
        std::vector<RecScheme*> plans = RecLists::Locked([] { return std::vector<RecScheme*>(
                                                                  g_lstRecSchemeInfo.begin(), g_lstRecSchemeInfo.end()); });
        for (RecScheme* p : plans)
            if (p)
                sched.OnStopRecord(p, p->SchemeName, 0);
    }

    SinkEnv env;
    RecTargets targets;
    Drives drives{3};
    RecLists lists{&env.pull};
    CRecSchemeManager sched;
};

TEST(RecFolders, DeviceFolderNamesAndDayFolders)
{
    struct Case {
        const char* name;
        const char* id;
        int type;
        const char* folder;
    } cases[] = {
        {"Gate", "ID1", 1, "Gate"},
        {"a/b\\c", "ID1", 1, "a_b_c"},
        {"..", "ID1", 1, "_.."},
        {".", "ID1", 1, "_."},
        {"", "ID1", 1, "_"},
        {"Channel-3", "NVR9", 4, "NVR9-Channel-3"},
        {"x", "../..", 4, ".._..-x"},
    };
    for (const Case& c : cases) {
        DeviceInfo d{};
        snprintf(d.DevName, sizeof d.DevName, "%s", c.name);
        snprintf(d.DevId, sizeof d.DevId, "%s", c.id);
        d.DevType = c.type;
        EXPECT_EQ(RecDeviceFolderName(d), c.folder) << c.name;
    }
    std::tm date{};
    date.tm_year = 2026 - 1900;
    date.tm_mon = 2;
    date.tm_mday = 5;
    EXPECT_EQ(RecordFolderPath("/srv/rec/", "Gate", "Motion", date), "/srv/rec/Record/Gate/Local/Motion/2026/3/5/");
    EXPECT_STREQ(RecKindWord(2), "IO");
    EXPECT_EQ(RecKindWord(3), nullptr);
}

TEST(RecStreamOpener, UrlForms)
{
    struct Case {
        int type, visit, stream;
        const char* resolution;
        const char* url;   // null: no form
        bool byName;
    } cases[] = {
        {1, 0, 1, "", "rtsp://192.168.1.10:554/mpeg4", false},
        {1, 0, 0, "", "rtsp://192.168.1.10:554/mpeg4cif", false},
        {1, 1, 1, "", "dovra://192.168.1.10:554/mpeg4", false},
        {1, 2, 0, "", "mpeg4cif", true},
        {1, 3, 1, "", "p2p://DEV1@svr/mpeg4#list", false},
        {1, 4, 1, "", nullptr, false},
        {0, 0, 1, "", "rtsp://192.168.1.10:554/h264-", false},
        {0, 0, 1, "cif", "rtsp://192.168.1.10:554/h264cif", false},
        {0, 0, 0, "d1", "rtsp://192.168.1.10:554/h264-d1", false},   // the stream type is not used
        {0, 2, 1, "d1", "h264-d1", true},
        {0, 3, 1, "", nullptr, false},
        {4, 3, 1, "", "p2p://DEV1@svr/mpeg4#list-3", false},
        {4, 0, 0, "", "dovra://10.0.0.7:8000/mpeg4cif-3", false},   // the caller's address
        {2, 0, 1, "", nullptr, false},
    };
    for (const Case& c : cases) {
        DeviceInfo d{}, r{};
        d.DevType = c.type;
        d.VisitMod = c.visit;
        snprintf(d.IPAddr, sizeof d.IPAddr, "192.168.1.10");
        d.VideoPort = 554;
        snprintf(d.DevId, sizeof d.DevId, "DEV1");
        snprintf(d.p2pSvr, sizeof d.p2pSvr, "svr");
        snprintf(d.p2pSvrList, sizeof d.p2pSvrList, "list");
        snprintf(d.Resolution, sizeof d.Resolution, "%s", c.resolution);
        d.CurNVRChannel = 3;
        snprintf(r.IPAddr, sizeof r.IPAddr, "10.0.0.7");
        r.VideoPort = 8000;
        r.CurNVRChannel = 3;
        std::string url;
        bool byName = false;
        const bool ok = BuildRecordUrl(d, r, c.stream, url, byName);
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.visit));
        EXPECT_EQ(ok, c.url != nullptr);
        if (c.url) {
            EXPECT_EQ(url, c.url);
            EXPECT_EQ(byName, c.byName);
        }
    }
    // Fields from devices and the cloud that would not fit 255 characters.
    DeviceInfo d{}, r{};
    d.DevType = 1;
    d.VisitMod = 3;
    memset(d.p2pSvrList, 'x', 250);
    snprintf(d.DevId, sizeof d.DevId, "DEV1");
    std::string url;
    bool byName;
    EXPECT_FALSE(BuildRecordUrl(d, r, 1, url, byName));
    EXPECT_TRUE(url.empty());
}

TEST(RecStreamOpener, Results)
{
    SilentServer silent;   // a camera address that never answers
    ASSERT_GT(silent.port, 0);
    SinkEnv env;
    RecTargets targets;
    RecLists lists(&env.pull);
    CRecSchemeManager sched;
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", silent.port);

    EXPECT_EQ(sched.AddWatch(nullptr, 1, 0, 0), -1);
    DeviceInfo stranger{};
    snprintf(stranger.DevName, sizeof stranger.DevName, "Nobody");
    EXPECT_EQ(sched.AddWatch(&stranger, 1, 0, 0), 0);

    RecLists::Locked([&] { return cam->Online = 0; });
    EXPECT_EQ(sched.AddWatch(cam, 1, 0, 0), 0) << "offline: never opened";
    EXPECT_EQ(cam->pRtspEvent1->GetStreamId(), 0);

    RecLists::Locked([&] { return cam->Online = -1; });
    EXPECT_EQ(sched.AddWatch(cam, 1, 3, 1), 1);
    EXPECT_GT(cam->pRtspEvent1->GetStreamId(), 0);
    EXPECT_EQ(cam->StreamId1, cam->pRtspEvent1->GetStreamId());
    EXPECT_EQ(cam->pRtspEvent1->GetStreamType(), 1);
    EXPECT_EQ(sched.AddWatch(cam, 0, 0, 0), 2);
    EXPECT_EQ(cam->pRtspEvent2->GetStreamType(), 0);
    EXPECT_EQ(cam->CurStreamType, 0);
    EXPECT_EQ(sched.AddWatch(cam, 0, 0, 0), 0) << "both sinks busy";

    // Login-server mode refuses a host-and-stream device without a serial.
    targets.loginServer = true;
    RecLists::Locked([&] { return cam->VisitMod = 2; });
    EXPECT_EQ(sched.AddWatch(cam, 1, 0, 0), -1);
    targets.loginServer = false;

    // A device type without a stream form is refused before the pull control.
    DeviceInfo* decoder = lists.AddCamera("Dec", "ID2", "127.0.0.1", silent.port);
    RecLists::Locked([&] { return decoder->DevType = 2; });
    EXPECT_EQ(sched.AddWatch(decoder, 1, 0, 0), 0);
    EXPECT_EQ(decoder->pRtspEvent1->GetStreamId(), 0);
}

// Work queued outside the lock holds its sink: a record's teardown deleting
// the sink meanwhile waits until the work has released it.
TEST(RecSinkUse, DeleteWaitsForTheUse)
{
    SinkEnv env;
    auto* sink = new CRtspEvents(nullptr, &env.pull);
    sink->AddUse();
    std::atomic<bool> deleted{false};
    std::thread teardown([&] {
        delete sink;
        deleted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(deleted) << "the sink is still in use";
    sink->ReleaseUse();
    teardown.join();
    EXPECT_TRUE(deleted);
}

// A scheduled recording starts in today's folder and reports state 2; the
// plan switched off stops it, deletes the stream opened for it and reports 3.
TEST_F(RecScheduler, ScheduledRecordingStartsAndStops)
{
    DeviceInfo* cam = lists.AddCamera("Cam/1", "ID1", "127.0.0.1", 554, 1);
    RecScheme* plan = lists.AddPlan("Plan", {cam}, {drives.paths[0]});

    ASSERT_TRUE(PassUntil([&] { return cam->RecFlag == 1; }));
    EXPECT_EQ(targets.ovfQueries, 1) << "the ONVIF description is fetched once";
    const std::string folder = TodayFolder(drives.paths[0], "Cam_1");
    EXPECT_STREQ(cam->SavePath, folder.c_str());
    EXPECT_EQ(cam->CurStoragePath, 1);
    EXPECT_STREQ(cam->RecSchemeName, "Plan");
    EXPECT_EQ(cam->RecTimeDuration, 1);
    EXPECT_EQ(cam->pRtspEvent1->IsRecording(), 1);
    EXPECT_EQ(FilesEndingIn(folder, ".mp4.tmp").size(), 1u);
    EXPECT_EQ(targets.Reports(), std::vector<std::string>{"00:11:22:33:44:55:127.0.0.1 0 2"});
    Pump(50);
    EXPECT_GE(env.targets.mainWnd.Count(WM_DEVSTATUS_REFRESH), 1);

    RecLists::Locked([&] { return plan->OnOff = 0; });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 0);
    EXPECT_STREQ(cam->RecSchemeName, "");
    EXPECT_EQ(cam->pRtspEvent1->IsRecording(), 0);
    EXPECT_EQ(cam->pRtspEvent1->GetStreamId(), 0) << "the stream opened only for recording is gone";
    EXPECT_EQ(cam->StreamId1, 0);
    EXPECT_TRUE(FilesEndingIn(folder, ".tmp").empty());
    EXPECT_EQ(FilesEndingIn(folder, ".mp4").size(), 1u);
    EXPECT_EQ(targets.Reports().back(), "00:11:22:33:44:55:127.0.0.1 0 3");
    sched.RunPass();
    EXPECT_EQ(targets.Reports().size(), 2u) << "a switched-off plan costs nothing after its first stop";
}

// The segment's bounds are strict; its end stops the recording.
TEST_F(RecScheduler, SegmentEndStopsOnlyItsOwnRow)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    RecScheme* plan = lists.AddPlan("Plan", {cam}, {drives.paths[0]});
    ASSERT_TRUE(PassUntil([&] { return cam->RecFlag == 1; }));
    const std::tm now = qelm::LocalNow();
    const int tod = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    RecLists::Locked([&] {
        // A second row ending now: the running recording (row 1) keeps going.
        plan->lstRecTime.push_back(RecTime{2, 8, 0, tod});
        return 0;
    });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 1);
    RecLists::Locked([&] {
        plan->lstRecTime.front().EndTime = tod;   // row 1 ends now too
        return 0;
    });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 0);
}

// Past midnight the running recording moves into the new day's folder.
TEST_F(RecScheduler, DayChangeMovesToTheNewDayFolder)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    lists.AddPlan("Plan", {cam}, {drives.paths[0]});
    ASSERT_TRUE(PassUntil([&] { return cam->RecFlag == 1; }));
    const std::string day1 = TodayFolder(drives.paths[0], "Cam");
    const std::tm now = qelm::LocalNow();
    const int tod = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    qelm::AdvanceTestClock(std::chrono::milliseconds(0), std::chrono::seconds(86400 - tod + 10));
    const std::string day2 = TodayFolder(drives.paths[0], "Cam");
    ASSERT_NE(day1, day2);
    sched.RunPass();
    EXPECT_STREQ(cam->SavePath, day2.c_str());
    EXPECT_EQ(cam->RecFlag, 1);
    EXPECT_EQ(FilesEndingIn(day2, ".mp4.tmp").size(), 1u);
    EXPECT_TRUE(FilesEndingIn(day1, ".tmp").empty());
    EXPECT_EQ(FilesEndingIn(day1, ".mp4").size(), 1u);
    StopAll();
    EXPECT_TRUE(FilesEndingIn(day2, ".tmp").empty());
}

// The 5 GiB rule: exactly 5 GiB is enough, one byte less moves on to the
// next set path (ring 1, 2, 3, 1) and restarts the recording there.
TEST_F(RecScheduler, LowSpaceSwitchesThePath)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    lists.AddPlan("Plan", {cam}, {drives.paths[0], drives.paths[1], drives.paths[2]});
    drives.SetFree(0, 5 * kGiB);
    ASSERT_TRUE(PassUntil([&] { return cam->RecFlag == 1; }));
    EXPECT_EQ(cam->CurStoragePath, 1);

    const int expected[] = {2, 3, 1};
    for (int step = 0; step < 3; ++step) {
        const int from = step == 0 ? 0 : expected[step - 1] - 1;
        drives.SetFree(from, 5 * kGiB - 1);
        drives.SetFree(expected[step] - 1, 100 * kGiB);
        sched.RunPass();
        EXPECT_EQ(cam->CurStoragePath, expected[step]) << step;
        const std::string folder = TodayFolder(drives.paths[size_t(expected[step] - 1)], "Cam");
        EXPECT_STREQ(cam->SavePath, folder.c_str());
        EXPECT_EQ(FilesEndingIn(folder, ".mp4.tmp").size(), 1u) << folder;
        EXPECT_EQ(cam->RecFlag, 1);
    }
}

// StorageScheme 0 with one path and a low disk: the recording stops, the plan
// switches itself off, and RecInfo.xml holds OnOff 0 after the next save.
TEST_F(RecScheduler, StopWhenFullSwitchesThePlanOff)
{
    mp4test::TempDir config;
    SetConfigDir(config.path());
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    RecScheme* plan = lists.AddPlan("FullStop", {cam}, {drives.paths[0]});
    RecLists::Locked([&] { return plan->StorageScheme = 0; });
    ASSERT_TRUE(PassUntil([&] { return cam->RecFlag == 1; }));

    drives.SetFree(0, 4 * kGiB);
    sched.RunPass();
    EXPECT_EQ(plan->OnOff, 0);
    EXPECT_EQ(cam->RecFlag, 0);
    sched.RunPass();
    EXPECT_EQ(plan->OnOff, 0) << "the plan stays off";
    EXPECT_EQ(cam->RecFlag, 0);

    { std::ofstream(config.path() + "/RecInfo.xml") << kRecInfoTemplate; }
    SaveRecInfo();
    std::ifstream in(config.path() + "/RecInfo.xml");
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string xml = ss.str();
    const size_t at = xml.find("FullStop");
    ASSERT_NE(at, std::string::npos) << xml;
    EXPECT_NE(xml.find("<OnOff>0</OnOff>", at), std::string::npos) << xml;
    SetConfigDir("");
}

// A motion plan: the stream is opened while armed, an alarm starts a
// "Motion" recording that ends DetRecTime later; an IO alarm does nothing
// for it; a second alarm while recording changes nothing.
TEST_F(RecScheduler, MotionAlarmRecordsForDetRecTime)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    RecScheme* plan = lists.AddPlan("Motion", {cam}, {drives.paths[0]}, 1);
    RecLists::Locked([&] { return plan->DetRecTime = 60; });
    ASSERT_TRUE(PassUntil([&] { return cam->pRtspEvent1->GetVideoParamLength() > 0; }));
    const std::string folder = TodayFolder(drives.paths[0], "Cam", "Motion");
    EXPECT_STREQ(cam->SavePath, folder.c_str());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(cam->RecFlag, 0) << "armed, not recording";

    RecLists::Locked([&] { return cam->IOAlarmType = 15; });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 0) << "a motion plan ignores IO alarms";

    RecLists::Locked([&] { return cam->MotionAlarmType = 14; });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 1);
    EXPECT_EQ(FilesEndingIn(folder, ".mp4.tmp").size(), 1u);
    const std::time_t started = cam->AlarmRecTime;

    qelm::AdvanceTestClock(std::chrono::milliseconds(0), std::chrono::seconds(30));
    RecLists::Locked([&] { return cam->MotionAlarmType = 14; });
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 1);
    EXPECT_EQ(cam->AlarmRecTime, started) << "not restarted or lengthened";

    qelm::AdvanceTestClock(std::chrono::milliseconds(0), std::chrono::seconds(31));
    sched.RunPass();
    EXPECT_EQ(cam->RecFlag, 0);
    EXPECT_EQ(cam->MotionAlarmType, 0);
    EXPECT_EQ(cam->IOAlarmType, 15) << "only the motion mark is cleared";
    EXPECT_GT(cam->pRtspEvent1->GetStreamId(), 0) << "the stream stays open and armed";
    EXPECT_TRUE(FilesEndingIn(folder, ".tmp").empty());
    EXPECT_EQ(FilesEndingIn(folder, ".mp4").size(), 1u);
}

// Disk queries run without the device-list lock: while the drive is being
// measured, another thread can take the lock.
TEST_F(RecScheduler, DiskQueriesRunOutsideTheDeviceListLock)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    lists.AddPlan("Plan", {cam}, {drives.paths[0]});
    std::atomic<int> calls{0}, blocked{0};
    qelm::SetFreeBytesHook([&](const std::string&) -> std::optional<std::uint64_t> {
        ++calls;
        std::thread other([&] {
            if (TryEnterCriticalSection(&g_csDevList))
                LeaveCriticalSection(&g_csDevList);
            else
                ++blocked;
        });
        other.join();
        return 100 * kGiB;
    });
    sched.RunPass();
    EXPECT_GT(calls, 0);
    EXPECT_EQ(blocked, 0);
}

// Start and Stop: a second start is refused; Stop returns once the thread
// has ended, and the thread works without the test driving it.
TEST_F(RecScheduler, ThreadStartsOnceAndStopsCooperatively)
{
    DeviceInfo* cam = lists.AddCamera("Cam", "ID1", "127.0.0.1", 554, 1);
    lists.AddPlan("Plan", {cam}, {drives.paths[0]});
    CRecSchemeManager thread;
    EXPECT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Start(), -1);
    EXPECT_TRUE(WaitFor([&] { return RecLists::Locked([&] { return cam->RecFlag == 1; }); }, 10000));
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.Start(), 0) << "startable again after a stop";
    thread.Stop();
    StopAll();
    EXPECT_EQ(cam->RecFlag, 0);
}

} // namespace
