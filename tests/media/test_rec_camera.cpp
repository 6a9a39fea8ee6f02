// End-to-end tests of scheduled and alarm recording from the RTSP camera
// fixture on 127.0.0.1: MP4 files of the plan's length that decode, the AVI
// back end on the sub-stream, a motion recording, and a camera that goes
// away and comes back.
#include "media/rec_scheme_manager.h"

#include "tests/media/rec_test_util.h"

#include <gtest/gtest.h>


namespace {

using namespace rectest;

double ProbeDuration(const std::string& file)
{
    const auto r = mp4test::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'");
    return r.out.empty() ? -1.0 : std::atof(r.out.c_str());
}

// A full decode that keeps the frames' own times. A reconnection may space
// the first frames of a session closer than the frame rate; the null muxer
// rounds them to the rate and complains about its own dts, so that complaint
// is left out here: DtsIncreases checks the file's real decoding times.
std::string DecodeErrorsAsIs(const std::string& file)
{
    const auto r = mp4test::Run("ffmpeg -nostdin -v error -i '" + file + "' -vsync passthrough -f null -");
    std::string errors;
    for (const std::string& line : mp4test::Lines(r.err))
        if (!line.empty() && line.find("non monotonically increasing dts to muxer") == std::string::npos)
            errors += line + "\n";
    return r.status == 0 ? errors : "exit " + std::to_string(r.status) + ": " + r.err;
}

// Every video packet's decoding time is later than the one before.
bool DtsIncreases(const std::string& file)
{
    const auto r = mp4test::Run("ffprobe -v error -select_streams v -show_entries packet=dts -of csv=p=0 '" + file + "'");
    long long prev = -1;
    size_t n = 0;
    for (const std::string& line : mp4test::Lines(r.out)) {
        if (line.empty())
            continue;
        const long long dts = std::atoll(line.c_str());
        if (n++ && dts <= prev)
            return false;
        prev = dts;
    }
    return n > 0;
}

uintmax_t TotalSize(const std::string& dir)
{
    uintmax_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        n += e.file_size(ec);
    return n;
}

class RecCamera : public ::testing::Test {
protected:
    void SetUp() override { PinWallClockToNoon(); }
    void TearDown() override { qelm::ResetTestClock(); }
    void StopAll(CRecSchemeManager& sched)
    {
        std::vector<RecScheme*> plans = RecLists::Locked(
            [] { return std::vector<RecScheme*>(g_lstRecSchemeInfo.begin(), g_lstRecSchemeInfo.end()); });
        for (RecScheme* p : plans)
            if (p)
                sched.OnStopRecord(p, p->SchemeName, 0);
    }
    bool Recording(DeviceInfo* d)
    {
        return RecLists::Locked([&] { return d->RecFlag == 1; });
    }

    RtspCamera cam;
    SinkEnv env;
    RecTargets targets;
    Drives drives{1};
    RecLists lists{&env.pull};
};

// A plan of every day with 60 s files: after 150 s the day folder holds two
// finished "HHMMSS-av-1.mp4" files of 60±2 s that decode cleanly and one
// ".tmp" in progress; stopping the scheduler and the plan's recordings (as
// the close sequence does) leaves no ".tmp".
TEST_F(RecCamera, RecordsSixtySecondFilesForTwoAndAHalfMinutes)
{
    ASSERT_TRUE(cam.Running());
    DeviceInfo* d = lists.AddCamera("Gate", "ID1", "127.0.0.1", cam.Port());
    lists.AddPlan("Plan", {d}, {drives.paths[0]});
    CRecSchemeManager sched;
    ASSERT_EQ(sched.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return Recording(d); }, 20000));
    const std::string folder = TodayFolder(drives.paths[0], "Gate");
    Pump(150000);

    const auto done = FilesEndingIn(folder, ".mp4");
    const auto open = FilesEndingIn(folder, ".tmp");
    EXPECT_EQ(open.size(), 1u);
    ASSERT_EQ(done.size(), 2u);
    for (const std::string& f : done) {
        const std::string n = fs::path(f).filename().string();
        EXPECT_TRUE(n.size() == 15 && n.find_first_not_of("0123456789") == 6 && n.substr(6) == "-av-1.mp4") << n;
        EXPECT_NEAR(ProbeDuration(f), 60.0, 2.0) << f;
        EXPECT_EQ(mp4test::DecodeErrors(f), "") << f;
        const auto streams = mp4test::ProbeStreams(f);
        EXPECT_TRUE(mp4test::FindStream(streams, "audio")) << f;
    }

    sched.Stop();
    EXPECT_FALSE(sched.IsRunning());
    StopAll(sched);
    EXPECT_TRUE(FilesEndingIn(folder, ".tmp").empty());
    EXPECT_EQ(FilesEndingIn(folder, ".mp4").size(), 3u);
}

// The AVI back end on the sub-stream, audio off: the file comes from the
// camera's "mpeg4cif" stream (half size) and has no audio track.
TEST_F(RecCamera, AviBackEndOnTheSubStream)
{
    ASSERT_TRUE(cam.Running());
    DeviceInfo* d = lists.AddCamera("Gate", "ID1", "127.0.0.1", cam.Port());
    RecScheme* plan = lists.AddPlan("Plan", {d}, {drives.paths[0]}, 0, 0);
    RecLists::Locked([&] {
        plan->RecStreamType = 0;
        plan->RecAudio = 0;
        return 0;
    });
    CRecSchemeManager sched;
    ASSERT_TRUE(WaitFor(
        [&] {
            sched.RunPass();
            return Recording(d);
        },
        20000));
    EXPECT_EQ(d->pRtspEvent1->GetStreamType(), 0);
    Pump(3000);
    StopAll(sched);
    Pump(200);
    const auto files = FilesEndingIn(TodayFolder(drives.paths[0], "Gate"), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("-2.avi"), std::string::npos) << files[0];
    const auto streams = mp4test::ProbeStreams(files[0]);
    const auto* v = mp4test::FindStream(streams, "video");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at("width"), "160");
    EXPECT_FALSE(mp4test::FindStream(streams, "audio"));
    EXPECT_EQ(mp4test::DecodeErrors(files[0]), "");
}

// An injected motion alarm gives a "Motion" file of about DetRecTime.
TEST_F(RecCamera, MotionAlarmGivesAFileOfDetRecTime)
{
    ASSERT_TRUE(cam.Running());
    DeviceInfo* d = lists.AddCamera("Gate", "ID1", "127.0.0.1", cam.Port());
    RecScheme* plan = lists.AddPlan("Motion", {d}, {drives.paths[0]}, 1);
    RecLists::Locked([&] { return plan->DetRecTime = 4; });
    CRecSchemeManager sched;
    ASSERT_EQ(sched.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return d->pRtspEvent1->GetVideoParamLength() > 0; }, 20000)) << "armed";
    Pump(500);
    RecLists::Locked([&] { return d->MotionAlarmType = 14; });
    ASSERT_TRUE(WaitFor([&] { return Recording(d); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !Recording(d); }, 20000));
    sched.Stop();
    const auto files = FilesEndingIn(TodayFolder(drives.paths[0], "Gate", "Motion"), ".mp4");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NEAR(ProbeDuration(files[0]), 4.0, 1.5);
    EXPECT_EQ(mp4test::DecodeErrors(files[0]), "");
    EXPECT_EQ(RecLists::Locked([&] { return d->MotionAlarmType; }), 0);
}

// The camera goes away and comes back on the same port: recording resumes
// and what was written still decodes.
TEST_F(RecCamera, CameraLossAndReturnResumeRecording)
{
    ASSERT_TRUE(cam.Running());
    const int port = cam.Port();
    DeviceInfo* d = lists.AddCamera("Gate", "ID1", "127.0.0.1", port);
    lists.AddPlan("Plan", {d}, {drives.paths[0]});
    CRecSchemeManager sched;
    ASSERT_EQ(sched.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return Recording(d); }, 20000));
    const std::string folder = TodayFolder(drives.paths[0], "Gate");
    ASSERT_TRUE(WaitFor([&] { return TotalSize(folder) > 20000; }, 10000));

    cam.Stop();
    Pump(3000);
    const uintmax_t before = TotalSize(folder);
    ASSERT_TRUE(cam.Start(port)) << "the camera comes back on its port";
    EXPECT_TRUE(WaitFor([&] { return TotalSize(folder) > before + 50000; }, 30000)) << "recording resumed";
    sched.Stop();
    StopAll(sched);
    for (const std::string& f : FilesEndingIn(folder, ".mp4")) {
        EXPECT_EQ(DecodeErrorsAsIs(f), "") << f;
        EXPECT_TRUE(DtsIncreases(f)) << f;
    }
    EXPECT_TRUE(FilesEndingIn(folder, ".tmp").empty());
}

} // namespace
