// The device simulator's replays: a device file and a recorder channel's day
// streamed from real source files as replay blocks with their frame headers.
#include "controls/device_sim.h"

#include "controls/media_params.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Block {
    int32_t id, type;
    std::vector<uint8_t> data;
    MediaFrameHeader header;
};

class ReplaySink : public IDeviceControlEvents {
public:
    std::vector<Block> blocks;
    std::vector<std::pair<int32_t, std::string>> params;   // kind, xml
    std::vector<std::pair<int32_t, int32_t>> ends;         // code, channel
    void StatusEvent(int32_t, int32_t type, const char*) override { statuses.push_back(type); }
    void PTZResponse(int32_t, int32_t, const char*) override {}
    void AUXResponse(int32_t, int32_t, const char*) override {}
    void AlarmEvent(int32_t, const uint8_t*, int32_t) override {}
    void MediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* value, int32_t type) override
    {
        Block b{id, type, std::vector<uint8_t>(data, data + length), {}};
        std::memcpy(&b.header, value, sizeof b.header);
        blocks.push_back(std::move(b));
    }
    void MediaParamRecv(int32_t, const char* xml, int32_t kind) override { params.emplace_back(kind, xml); }
    void NvrReplayEnd(int32_t, int32_t code, int32_t channel) override { ends.emplace_back(code, channel); }
    void TimeDownloadProgress(int32_t, int32_t) override {}
    std::vector<int32_t> statuses;

    std::vector<const Block*> OfKind(int kind) const
    {
        std::vector<const Block*> out;
        for (const Block& b : blocks)
            if (b.data.size() >= 20 && b.data[14] == kind)
                out.push_back(&b);
        return out;
    }
};

bool WaitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A 3-second 160x120 H.264 clip at 10 frames a second, a key frame each second.
std::string MakeClip(const std::string& dir, const char* name)
{
    const std::string path = dir + "/" + name;
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=10 -t 3 -c:v libx264 -g 10 -bf 0 "
                            "-pix_fmt yuv420p '" + path + "' </dev/null";
    EXPECT_EQ(0, std::system(cmd.c_str()));
    return path;
}

class DeviceSimReplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        clip = MakeClip(dir.path().toStdString(), "clip.mp4");
        DeviceSimulator::Instance().Clear();
        ctrl = std::make_unique<DeviceControl>();
        ctrl->Advise(&sink);
    }
    void TearDown() override
    {
        if (ctrl)
            ctrl->Unadvise();
        ctrl.reset();
        DeviceSimulator::Instance().Clear();
    }
    int32_t Login(SimDevice d)
    {
        d.address = "127.0.0.1";
        d.port = 5000;
        d.user = "admin";
        d.password = "pw";
        DeviceSimulator::Instance().AddDevice(d);
        const int32_t id = ctrl->AddDevice("127.0.0.1", 5000, "admin", "pw");
        EXPECT_TRUE(WaitFor([&] { return !sink.statuses.empty(); }));
        return id;
    }

    QTemporaryDir dir;
    std::string clip;
    ReplaySink sink;
    std::unique_ptr<DeviceControl> ctrl;
};

TEST_F(DeviceSimReplayTest, FileReplaySendsTheSourceParametersAndEveryFrameWithItsHeader)
{
    SimDevice d;
    d.files.push_back({"/mnt/sd1/a.mp4", 1000, "20261210 10:00:00", 3, 1, 'A', clip});
    const int32_t id = Login(d);
    ASSERT_EQ(1u, ctrl->Dispatch23(id));
    ASSERT_EQ(0, ctrl->StartFileReplay(id, "/mnt/sd1/a.mp4"));
    ASSERT_TRUE(WaitFor([&] { return sink.OfKind(0).size() >= 30; }));

    ASSERT_EQ(1u, sink.params.size());
    EXPECT_EQ(1, sink.params[0].first);
    const std::string xml = sink.params[0].second;
    const size_t a = xml.find("<VideoParam>") + 12, b = xml.find("</VideoParam>");
    const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(xml.substr(a, b - a)));
    ASSERT_EQ(int(sizeof(VideoParam)), raw.size());
    VideoParam v;
    std::memcpy(&v, raw.data(), sizeof v);
    EXPECT_STREQ("H264", v.codecName);
    EXPECT_EQ(160, v.width);
    EXPECT_EQ(120, v.height);
    EXPECT_NE(std::string::npos, xml.find("<VideoSeconds>3</VideoSeconds>"));

    const auto video = sink.OfKind(0);
    EXPECT_EQ(30u, video.size());
    EXPECT_EQ(4, video[0]->type);
    // Annex B after the 20-byte head, a key frame first, stamps rising by 100 ms.
    const std::vector<uint8_t>& first = video[0]->data;
    ASSERT_GT(first.size(), 24u);
    EXPECT_TRUE(first[20] == 0 && first[21] == 0 && (first[22] == 1 || (first[22] == 0 && first[23] == 1)));
    EXPECT_EQ(1, video[0]->header.keyFrame);
    EXPECT_EQ(0, video[1]->header.keyFrame);
    for (size_t i = 1; i < video.size(); ++i)
        EXPECT_NEAR(video[i - 1]->header.timeStamp + 100, video[i]->header.timeStamp, 1) << i;
}

TEST_F(DeviceSimReplayTest, StopEndsTheStreamAndDestructionJoinsARunningReplay)
{
    SimDevice d;
    d.files.push_back({"/mnt/sd1/a.mp4", 1000, "20261210 10:00:00", 3, 1, 'A', clip});
    d.files.push_back({"/mnt/sd1/b.mp4", 1000, "20261210 11:00:00", 3, 1, 'A', clip});
    const int32_t id = Login(d);
    ASSERT_EQ(0, ctrl->StartFileReplay(id, "/mnt/sd1/a.mp4"));
    ASSERT_TRUE(WaitFor([&] { return !sink.OfKind(0).empty(); }));
    ctrl->ControlReplay(id, 7, 0);
    WaitFor([] { return false; }, 300);  // let queued blocks arrive
    const size_t stopped = sink.blocks.size();
    WaitFor([] { return false; }, 500);
    EXPECT_EQ(stopped, sink.blocks.size());
    EXPECT_LT(stopped, 30u);

    // A replay still running when the control goes away.
    ASSERT_EQ(0, ctrl->StartFileReplay(id, "/mnt/sd1/b.mp4"));
    ASSERT_TRUE(WaitFor([&] { return sink.blocks.size() > stopped; }));
    ctrl->Unadvise();
    ctrl.reset();
    WaitFor([] { return false; }, 100);
}

TEST_F(DeviceSimReplayTest, DirectReplayIsOnUnlessTheDeviceSaysOtherwise)
{
    SimDevice d;
    d.directReplay = false;
    const int32_t id = Login(d);
    EXPECT_EQ(0u, ctrl->Dispatch23(id));
    EXPECT_EQ(0u, ctrl->Dispatch23(id + 100));
}

TEST_F(DeviceSimReplayTest, RecorderReplayStreamsTheChannelsFilesStampedInMsOfTheDayThenEnds)
{
    SimDevice d;
    d.type = 4;
    d.channels = 4;
    d.files.push_back({"/c2/a.mp4", 1000, "20261210 10:00:00", 3, 2, 'A', clip});
    d.files.push_back({"/c2/b.mp4", 1000, "20261210 10:00:10", 3, 2, 'A', clip});
    d.files.push_back({"/c3/x.mp4", 1000, "20261210 10:00:00", 3, 3, 'A', clip});
    const int32_t id = Login(d);
    ASSERT_EQ(0, ctrl->StartNvrReplay(id, 2, "20261210100001"));
    ctrl->ControlNvrReplay(id, 2, 4, 8, nullptr);  // x8
    ASSERT_TRUE(WaitFor([&] { return !sink.ends.empty(); }));
    EXPECT_EQ(std::make_pair(7, 2), sink.ends[0]);
    ASSERT_FALSE(sink.params.empty());
    EXPECT_EQ(4, sink.params[0].first);

    const auto video = sink.OfKind(2);
    ASSERT_GE(video.size(), 40u);
    // From the key frame at 10:00:01 through the second file.
    EXPECT_DOUBLE_EQ(36001000.0, video.front()->header.timeStamp);
    EXPECT_GE(video.back()->header.timeStamp, 36010000.0);
    for (const Block* b : video)
        EXPECT_LT(b->header.timeStamp, 36013000.0);
}

TEST_F(DeviceSimReplayTest, RecorderRefusesAReplayDuringADownloadByTime)
{
    SimDevice d;
    d.type = 4;
    d.files.push_back({"/c1/a.mp4", 1000, "20261210 10:00:00", 3, 1, 'A', clip});
    const int32_t id = Login(d);
    DeviceSimulator::Instance().SetActivity("127.0.0.1", 5000, DeviceSimulator::kActivityTimeDownload, true);
    EXPECT_EQ(-6, ctrl->StartNvrReplay(id, 1, "20261210100000"));
    DeviceSimulator::Instance().SetActivity("127.0.0.1", 5000, DeviceSimulator::kActivityTimeDownload, false);
    EXPECT_EQ(0, ctrl->StartNvrReplay(id, 1, "20261210100000"));
    EXPECT_TRUE(DeviceSimulator::Instance().HasActivity("127.0.0.1", 5000, DeviceSimulator::kActivityNvrReplay));
    ctrl->ControlNvrReplay(id, 1, 7, 0, nullptr);
    EXPECT_FALSE(DeviceSimulator::Instance().HasActivity("127.0.0.1", 5000, DeviceSimulator::kActivityNvrReplay));
}

} // namespace
