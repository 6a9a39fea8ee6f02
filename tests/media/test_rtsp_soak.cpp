// Soak test of the stream sinks: 16 camera streams on loopback for 60 s, each
// shown, recorded to MP4 and relayed, without a lost frame.
#include "media/rtsp_events.h"

#include "core/devinfo.h"
#include "tests/media/media_test_util.h"
#include "tests/media/rtsp_sink_test_util.h"

#include <gtest/gtest.h>

#include <list>
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

TEST(RtspEventsSoak, SixteenStreamsForAMinuteLoseNoFrame)
{
    constexpr int kStreams = 16;
    constexpr int kSeconds = 60;
    constexpr double kFrameMs = 40.0;   // the camera's 25 fps
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
        {
            qelm::CsLock lock(g_csDevList);
            g_lstDevInfo.emplace_back();
            snprintf(g_lstDevInfo.back().DevId, sizeof g_lstDevInfo.back().DevId, "SOAK-%02d", i);
            g_lstDevInfo.back().StreamId1 = id;
        }
        sink.SetStreamInfo(id, 1, 0, 0);
        folders.push_back(dir.path() + "/s" + std::to_string(i));
        std::filesystem::create_directory(folders.back());
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
    for (int i = 0; i < kStreams; ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        std::vector<double> ts;
        int64_t audio;
        {
            std::lock_guard<std::mutex> g(relays[i]->lock);
            ts = relays[i]->video;
            audio = relays[i]->audio;
        }
        ASSERT_GT(ts.size(), size_t(kSeconds * 25 * 9 / 10));
        double worst = 0;
        for (size_t k = 1; k < ts.size(); ++k)
            worst = std::max(worst, ts[k] - ts[k - 1]);
        EXPECT_LT(worst, kFrameMs * 1.5) << "a frame was lost between the camera and the sink";
        if (i % 2) {
            EXPECT_GT(audio, 0);
        }
        EXPECT_GT(sinks[i]->GetMainRender() ? sinks[i]->GetMainRender()->GetControl()->DecodedPictures(
                                                  sinks[i]->GetMainRenderId())
                                            : 0,
                  int64_t(ts.size() * 8 / 10));

        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(folders[i]))
            files.push_back(e.path().string());
        ASSERT_EQ(files.size(), 1u);
        const auto streams = mp4test::ProbeStreams(files[0]);
        const auto* vs = mp4test::FindStream(streams, "video");
        ASSERT_TRUE(vs);
        // Every frame from the first key frame after the start is in the file.
        EXPECT_GE(std::stoll(vs->at("nb_read_frames")), int64_t(ts.size() - atStart[i]) - 2 * 25);
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
