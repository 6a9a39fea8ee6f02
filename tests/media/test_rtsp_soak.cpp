// Soak test of the stream sinks: 16 camera streams on loopback, each shown,
// recorded to MP4 and relayed, without a lost frame. The normal run lasts
// 10 s; QELM2_SOAK_SECONDS makes it longer (bench/rtsp_soak.sh runs it for
// minutes).
#include "media/rtsp_events.h"

#include "core/devinfo.h"
#include "tests/media/media_test_util.h"
#include "tests/media/rtsp_sink_test_util.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <list>
#include <map>
#include <memory>
#include <mutex>

namespace {

using namespace rtspsinktest;

// Records the time stamp of every video frame the sink hands on.
struct StampRelay : LiveRelayFeed {
    std::mutex lock;
    std::vector<double> video;
    int64_t audio = 0;
    int answered = 0;
    int IsAnswered() const override { return answered; }
    void RspDeviceVideo(const VideoParam*, const AudioParam*) override { answered = 1; }
    void SendVideo(const uint8_t*, int32_t, const MediaFrameHeader* h) override
    {
        std::lock_guard<std::mutex> g(lock);
        video.push_back(h->timeStamp);
    }
    void SendAudio(const uint8_t*, int32_t, const MediaFrameHeader*) override
    {
        std::lock_guard<std::mutex> g(lock);
        ++audio;
    }
    void Close() override {}
};

int SoakSeconds()
{
    const char* v = std::getenv("QELM2_SOAK_SECONDS");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 10;
}

// The time stamps of the video frames each stream's sink read from the stream
// pull, from the journal of calls into the pull control.
std::map<int32_t, std::vector<double>> ReadStamps(const std::string& journal)
{
    std::map<int32_t, std::vector<double>> read;
    std::ifstream in(journal);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');)
            f.push_back(x);
        // call, name, stream id, length, key frame, time stamp, "=0"
        if (f.size() == 7 && f[1] == "StreamPullControl::ReadVideoFrame" && f[6] == "=0")
            read[std::stoi(f[2])].push_back(std::stod(f[5]));
    }
    return read;
}

// Frames the sink read from the pull but did not hand on, within the span it
// handed on. A frame the camera skipped (a busy machine slows the shared test
// camera) or the transport lost never reaches the pull's reader, so it is not
// counted: only the sink's own losses are.
std::vector<double> SinkLosses(const std::vector<double>& read, const std::vector<double>& handedOn)
{
    std::vector<double> lost;
    if (handedOn.empty())
        return read;
    const std::multiset<double> out(handedOn.begin(), handedOn.end());
    for (double t : read)
        if (t >= handedOn.front() && t <= handedOn.back() && !out.count(t))
            lost.push_back(t);
    return lost;
}

TEST(RtspEventsSoakVerdict, OnlyFramesTheSinkReadCount)
{
    const std::vector<double> all{0, 40, 80, 120, 160};
    EXPECT_TRUE(SinkLosses(all, all).empty());
    EXPECT_TRUE(SinkLosses({0, 40, 120, 160}, {0, 40, 120, 160}).empty()); // the camera skipped 80
    EXPECT_EQ(SinkLosses(all, {0, 40, 120, 160}), std::vector<double>{80});
    EXPECT_TRUE(SinkLosses(all, {40, 80, 120}).empty()); // read before the start or after the end
    EXPECT_EQ(SinkLosses(all, {}).size(), all.size());
}

TEST(RtspEventsSoak, SixteenStreamsLoseNoFrame)
{
    constexpr int kStreams = 16;
    const int kSeconds = SoakSeconds();
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    EnableControls();
    Targets targets;
    CRtspPullCtrl pull;
    ASSERT_TRUE(pull.CreateDispatch());
    mp4test::TempDir dir;

    std::list<DeviceInfo> saved;
    std::vector<std::unique_ptr<RecorderWnd>> panes;
    std::vector<std::unique_ptr<CRtspEvents>> sinks;
    std::vector<StampRelay*> relays;
    std::vector<std::string> folders;
    std::vector<int32_t> streamIds;
    const qelmtest::ScopedEnv journal("QELM2_JOURNAL", (dir.path() + "/journal.txt").c_str());
    {
        qelm::CsLock lock(g_csDevList);
        saved.swap(g_lstDevInfo);
    }
    for (int i = 0; i < kStreams; ++i) {
        panes.push_back(std::make_unique<RecorderWnd>(nullptr, CRect(0, 0, 160, 120)));
        sinks.push_back(std::make_unique<CRtspEvents>(nullptr, &pull));
        CRtspEvents& sink = *sinks.back();
        auto* relay = new StampRelay;
        relays.push_back(relay);
        sink.InstallLiveRelay(relay);
        sink.SetMediaRenderMod(panes.back().get(), 1);
        const int32_t id = pull.AddStream(cam.Url(i % 2 ? "/h264" : "/video").c_str(), "", "", 1);
        ASSERT_GT(id, 0);
        streamIds.push_back(id);
        {
            qelm::CsLock lock(g_csDevList);
            g_lstDevInfo.emplace_back();
            snprintf(g_lstDevInfo.back().DevId, sizeof g_lstDevInfo.back().DevId, "SOAK-%02d", i);
            g_lstDevInfo.back().StreamId1 = id;
        }
        sink.SetStreamInfo(id, 1, 0, 0);
        folders.push_back(dir.path() + "/s" + std::to_string(i));
        std::filesystem::create_directory(folders.back());
        // One client per mount first: the test camera asserts when many
        // arrive before its stream runs.
        if (i == 1) {
            ASSERT_TRUE(WaitFor(
                [&] { return sinks[0]->GetVideoParamLength() > 0 && sinks[1]->GetVideoParamLength() > 0; }, 20000));
        }
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            for (auto& s : sinks)
                if (s->GetVideoParamLength() == 0)
                    return false;
            return true;
        },
        20000));
    std::vector<size_t> atStart(kStreams);
    for (int i = 0; i < kStreams; ++i) {
        {
            std::lock_guard<std::mutex> g(relays[i]->lock);
            atStart[i] = relays[i]->video.size();
        }
        sinks[i]->SetRecordAudio(1);
        ASSERT_GT(sinks[i]->StartRecord(sinks[i]->GetStreamId(), 3600, 3600, folders[i].c_str(), 1, 0), 0);
    }

    Pump(kSeconds * 1000);

    for (int i = 0; i < kStreams; ++i) {
        sinks[i]->StopRecord();
        sinks[i]->DeleteStream();
    }
    const std::map<int32_t, std::vector<double>> read = ReadStamps(dir.path() + "/journal.txt");
    for (int i = 0; i < kStreams; ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        std::vector<double> ts;
        int64_t audio;
        {
            // From the start of recording on, when every stream was running.
            std::lock_guard<std::mutex> g(relays[i]->lock);
            ts.assign(relays[i]->video.begin() + std::ptrdiff_t(atStart[i]), relays[i]->video.end());
            audio = relays[i]->audio;
        }
        // A loaded machine may slow the camera down; it still sends most frames.
        ASSERT_GT(ts.size(), size_t(kSeconds * 25 / 3));
        const auto r = read.find(streamIds[i]);
        ASSERT_TRUE(r != read.end());
        const std::vector<double> lost = SinkLosses(r->second, ts);
        EXPECT_TRUE(lost.empty()) << lost.size() << " frames read from the pull were not handed on, the first at "
                                  << (lost.empty() ? 0 : lost.front()) << " ms";
        if (i % 2) {
            EXPECT_GT(audio, 0);
        }
        EXPECT_GT(sinks[i]->GetMainRender() ? sinks[i]->GetMainRender()->GetControl()->DecodedPictures(
                                                  sinks[i]->GetMainRenderId())
                                            : 0,
                  int64_t(ts.size() / 2));

        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(folders[i]))
            files.push_back(e.path().string());
        ASSERT_EQ(files.size(), 1u);
        const auto streams = mp4test::ProbeStreams(files[0]);
        const auto* vs = mp4test::FindStream(streams, "video");
        ASSERT_TRUE(vs);
        // Every frame from the first key frame after the start is in the file.
        EXPECT_GE(std::stoll(vs->at("nb_read_frames")), int64_t(ts.size()) - 2 * 25);
        // Without audio the durations follow the arrival of frames (variable
        // rate), which ffmpeg's constant-rate null output would complain of:
        // decode every frame with ffprobe instead.
        const auto decode = mp4test::Run("ffprobe -v error -count_frames -show_entries stream=nb_read_frames '" +
                                         files[0] + "'");
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.err, "");
    }
    sinks.clear();
    {
        qelm::CsLock lock(g_csDevList);
        saved.swap(g_lstDevInfo);
    }
}

} // namespace
