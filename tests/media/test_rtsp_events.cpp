// Tests of the stream sink CRtspEvents: status posts, parameters, renders fed
// by the frame-pull thread, MP4/AVI recording with rotation, the relay feed
// and the stream's end, against the RTSP camera fixture and synthetic streams.
#include "media/rtsp_events.h"

#include "core/devinfo.h"
#include "core/userinfo.h"
#include "platform/clock.h"
#include "tests/media/media_test_util.h"
#include "tests/media/rtsp_sink_test_util.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <memory>
#include <thread>

namespace {

using namespace rtspsinktest;
namespace fs = std::filesystem;

// A device record in g_lstDevInfo for the test's streams, removed at the end.
class DevRecord {
public:
    explicit DevRecord(const char* devId, int32_t p2pLoginId = 0)
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.emplace_back();
        m_it = std::prev(g_lstDevInfo.end());
        snprintf(m_it->DevId, sizeof m_it->DevId, "%s", devId);
        m_it->P2pLoginId = p2pLoginId;
    }
    ~DevRecord()
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.erase(m_it);
    }
    void SetStream(int32_t id, int which = 1)
    {
        qelm::CsLock lock(g_csDevList);
        (which == 1 ? m_it->StreamId1 : m_it->StreamId2) = id;
    }

private:
    std::list<DeviceInfo>::iterator m_it;
};

// What every sink test needs: the controls, the sinks' targets, the pull
// driver and a pane to show video in.
struct SinkEnv {
    SinkEnv()
    {
        EnableControls();
        pull.CreateDispatch();
        CRtspEvents::ResetStatusFilter();
    }
    Targets targets;
    CRtspPullCtrl pull;
    RecorderWnd pane{nullptr, CRect(0, 0, 320, 240)};
};

int64_t Pictures(CStreamPlayerCtrl* w, int32_t renderId)
{
    return w && w->GetControl() ? w->GetControl()->DecodedPictures(renderId) : -1;
}

// True when the player shows a picture with both dark and bright parts (the
// fixture's moving ball), not an empty pane.
bool ShowsPicture(CStreamPlayerCtrl* w)
{
    if (!w || !w->GetControl())
        return false;
    const QImage img = w->GetControl()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int bright = 0, dark = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2) {
            const int g = qGray(img.pixel(x, y));
            bright += g > 160;
            dark += g < 60;
        }
    return bright > 20 && dark > 20;
}

// Render windows directly inside a pane.
int RendersIn(const QWidget& pane)
{
    int n = 0;
    for (QObject* child : pane.children())
        n += dynamic_cast<CStreamPlayerCtrl*>(child) != nullptr;
    return n;
}

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

StreamMediaParam MakeParams(const char* video, int w, int h, const char* audio = "", int rate = 0)
{
    StreamMediaParam p{};
    memcpy(p.marker, kStreamMediaMarker, sizeof kStreamMediaMarker);
    if (video[0]) {
        p.hasVideo = 1;
        snprintf(p.video.codecName, sizeof p.video.codecName, "%s", video);
        p.video.width = w;
        p.video.height = h;
        p.video.frameRate = 25;
    }
    if (audio[0]) {
        p.hasAudio = 1;
        snprintf(p.audio.codecName, sizeof p.audio.codecName, "%s", audio);
        p.audio.sampleRate = rate;
        p.audio.bitsPerSample = 16;
        p.audio.channels = 1;
    }
    return p;
}

// --- the camera: status, parameters, renders, recording -------------------------------

struct MountCase {
    const char* mount;
    const char* video;
    const char* audio;
    int sampleRate;
    const char* mp4Video;   // ffprobe's codec names in the MP4 record file
    const char* mp4Audio;
    bool bFrames;           // pictures come ahead of their showing
};

class RtspEventsCamera : public ::testing::TestWithParam<MountCase> {};

TEST_P(RtspEventsCamera, OpensShowsAndRecordsMp4)
{
    const MountCase& mc = GetParam();
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    SinkEnv env;
    DevRecord dev("CAM-0001");
    mp4test::TempDir dir;
    auto sink = std::make_unique<CRtspEvents>(nullptr, &env.pull);

    sink->SetMediaRenderMod(&env.pane, 1);
    const int32_t id = env.pull.AddStream(cam.Url(mc.mount).c_str(), "", "", 1);
    ASSERT_GT(id, 0);
    dev.SetStream(id);
    sink->SetStreamInfo(id, 1, 0, 0);

    // Connected: WM_STREAM_STATUS with code 5 and the device's DevId block.
    ASSERT_TRUE(WaitFor([&] { return env.targets.main.Count(WM_STREAM_STATUS) > 0; }, 10000));
    const Posted& st = env.targets.main.got.front();
    EXPECT_EQ(st.lParam, 5);
    EXPECT_EQ(st.text, "CAM-0001");
    EXPECT_EQ(st.blockZeros, 128u - 8u) << "the rest of the 128-byte block is zero";
    EXPECT_STREQ(sink->GetDevId(), "CAM-0001");

    // Parameters as the camera sends them.
    ASSERT_TRUE(WaitFor([&] { return sink->GetVideoParamLength() == 536; }, 10000));
    const VideoParam v = sink->GetVideoParam();
    const AudioParam a = sink->GetAudioParam();
    EXPECT_STREQ(v.codecName, mc.video);
    EXPECT_EQ(v.width, 320);
    EXPECT_EQ(v.height, 240);
    EXPECT_GT(v.configLength, 0);
    EXPECT_STREQ(a.codecName, mc.audio);
    EXPECT_EQ(a.sampleRate, mc.sampleRate);
    EXPECT_EQ(sink->GetAudioParamLength(), 276);
    EXPECT_EQ(sink->HasAudio(), 1);

    // Frames reach the main render in the pane, which shows a real picture.
    CStreamPlayerCtrl* render = sink->GetMainRender();
    ASSERT_NE(render, nullptr);
    EXPECT_EQ(render->GetParent(), &env.pane);
    ASSERT_TRUE(WaitFor([&] { return Pictures(render, sink->GetMainRenderId()) > 10; }, 10000));
    EXPECT_TRUE(WaitFor([&] { return ShowsPicture(render); }, 3000));
    EXPECT_EQ(sink->GetReceivedVideo(), 1);
    EXPECT_EQ(sink->IsPollFinished(), 0);

    // A scheduled MP4 recording with audio: "-av-1.mp4" that plays cleanly.
    sink->SetRecordAudio(1);
    const int32_t fileId = sink->StartRecord(id, 3600, 3600, dir.path().c_str(), 1, 0);
    ASSERT_GT(fileId, 0);
    EXPECT_EQ(sink->IsRecording(), 1);
    EXPECT_NE(sink->GetMp4FileName().find("-av-1.mp4.tmp"), std::string::npos) << sink->GetMp4FileName();
    Pump(3000);
    EXPECT_EQ(sink->StopRecord(), 0);
    EXPECT_EQ(sink->IsRecording(), 0);
    const auto files = FilesIn(dir.path(), ".mp4");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("-av-1.mp4"), std::string::npos);
    EXPECT_TRUE(FilesIn(dir.path(), ".tmp").empty());
    const auto streams = mp4test::ProbeStreams(files[0]);
    const auto* vs = mp4test::FindStream(streams, "video");
    const auto* as = mp4test::FindStream(streams, "audio");
    ASSERT_TRUE(vs && as);
    EXPECT_EQ(vs->at("codec_name"), mc.mp4Video);
    EXPECT_EQ(as->at("codec_name"), mc.mp4Audio);
    EXPECT_EQ(vs->at("width"), "320");
    EXPECT_GE(std::stoi(vs->at("nb_read_frames")), 40);
    EXPECT_EQ(mp4test::DecodeErrors(files[0]), "");

    // Decode times step a frame (3600 at 25 fps) at a time, and so do the
    // presentation times in their own order; B-frames are shown after they
    // are decoded. A frame the camera or a busy machine drops makes one gap.
    const auto packets = mp4test::ProbeVideoPacketTimes(files[0]);
    ASSERT_GE(packets.size(), 40u);
    std::vector<int64_t> shown;
    size_t uneven = 0;
    bool reordered = false;
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_GE(packets[i].pts, packets[i].dts) << "packet " << i;
        if (i > 0) {
            EXPECT_GT(packets[i].dts, packets[i - 1].dts) << "packet " << i;
            reordered |= packets[i].pts < packets[i - 1].pts;
        }
        uneven += packets[i].duration != 3600;
        shown.push_back(packets[i].pts);
    }
    std::sort(shown.begin(), shown.end());
    for (size_t i = 1; i < shown.size(); ++i)
        uneven += shown[i] - shown[i - 1] != 3600;
    EXPECT_LE(uneven, packets.size() / 10) << "durations or presentation steps other than one frame";
    EXPECT_EQ(reordered, mc.bFrames);

    sink->DeleteStream();
    EXPECT_EQ(sink->GetStreamId(), 0);
    EXPECT_EQ(sink->GetStreamType(), -1);
    EXPECT_EQ(sink->IsPollFinished(), 1);
    EXPECT_EQ(sink->GetVideoParamLength(), 0);
    sink.reset();
}

INSTANTIATE_TEST_SUITE_P(Mounts, RtspEventsCamera,
                         ::testing::Values(MountCase{"/h264", "H264", "G711", 8000, "h264", "pcm_mulaw", false},
                                           MountCase{"/h265", "H265", "AAC", 16000, "hevc", "aac", false},
                                           MountCase{"/bframes", "H264", "G711", 8000, "h264", "pcm_mulaw", true}),
                         [](const auto& info) { return std::string(info.param.mount + 1); });

TEST(RtspEvents, ManualRecordingWritesAviFiles)
{
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    SinkEnv env;
    DevRecord dev("CAM-AVI");
    mp4test::TempDir dir;
    CRtspEvents sink(nullptr, &env.pull);
    const int32_t id = env.pull.AddStream(cam.Url("/h264").c_str(), "", "", 1);
    dev.SetStream(id, 2);
    sink.SetStreamInfo(id, 0, 0, 0);   // a sub stream, shown nowhere
    ASSERT_TRUE(WaitFor([&] { return sink.GetVideoParamLength() == 536 && sink.HasAudio(); }, 10000));
    EXPECT_EQ(sink.GetMainRender(), nullptr);
    EXPECT_EQ(sink.IsPollFinished(), 0) << "the parameters start the thread without a render";

    const int32_t fileId = sink.StartManualRecord((dir.path() + "/").c_str());
    ASSERT_GT(fileId, 0);
    EXPECT_EQ(sink.IsManualRecording(), 1);
    Pump(2500);
    EXPECT_EQ(sink.StopManualRecord(), 0);
    EXPECT_EQ(sink.IsManualRecording(), 0);
    Pump(200);
    const auto files = FilesIn(dir.path(), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("-av-2.avi"), std::string::npos) << files[0];
    const auto streams = mp4test::ProbeStreams(files[0]);
    ASSERT_TRUE(mp4test::FindStream(streams, "video"));
    EXPECT_TRUE(mp4test::FindStream(streams, "audio"));
    EXPECT_EQ(mp4test::DecodeErrors(files[0]), "");
}

bool HasPicture(CStreamPlayerCtrl* w)
{
    return w && w->GetControl() && w->GetControl()->HasPicture();
}

// A lost camera is posted, its pane clears unless the last picture is to be
// kept (a frozen picture must not pass for live video), and its return shows
// video again in the same render.
class RtspEventsLoss : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        m_saved = g_DispInfoSetting.ShowLastFrame;
        g_DispInfoSetting.ShowLastFrame = GetParam();
    }
    void TearDown() override { g_DispInfoSetting.ShowLastFrame = m_saved; }
    int m_saved = 0;
};

TEST_P(RtspEventsLoss, CameraLossAndReturnArePostedAndFramesResume)
{
    const bool keepLast = GetParam() != 0;
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    const int port = cam.Port();
    SinkEnv env;
    DevRecord dev("CAM-BACK");
    CRtspEvents sink(nullptr, &env.pull);
    sink.SetMediaRenderMod(&env.pane, 1);
    const int32_t id = env.pull.AddStream(cam.Url("/video").c_str(), "", "", 1);
    dev.SetStream(id);
    sink.SetStreamInfo(id, 1, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Pictures(sink.GetMainRender(), sink.GetMainRenderId()) > 5; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return ShowsPicture(sink.GetMainRender()); }, 5000));

    cam.Stop();
    ASSERT_TRUE(WaitFor([&] { return env.targets.main.Count(WM_STREAM_STATUS) >= 2; }, 10000));
    CStreamPlayerCtrl* render = sink.GetMainRender();
    ASSERT_NE(render, nullptr) << "the pane keeps its render for the stream's return";
    if (keepLast) {
        Pump(300);
        EXPECT_TRUE(HasPicture(render));
    } else {
        EXPECT_TRUE(WaitFor([&] { return !HasPicture(render) && !ShowsPicture(render); }, 5000));
    }

    ASSERT_TRUE(cam.Start(port));
    ASSERT_TRUE(WaitFor([&] { return env.targets.main.Count(WM_STREAM_STATUS) >= 3; }, 15000));
    std::vector<LPARAM> codes;
    for (const Posted& p : env.targets.main.got)
        if (p.msg == WM_STREAM_STATUS)
            codes.push_back(p.lParam);
    EXPECT_EQ(codes, (std::vector<LPARAM>{5, 6, 5}));
    const int64_t before = Pictures(sink.GetMainRender(), sink.GetMainRenderId());
    EXPECT_TRUE(WaitFor([&] { return Pictures(sink.GetMainRender(), sink.GetMainRenderId()) > before + 10; }, 10000));
    EXPECT_TRUE(WaitFor([&] { return ShowsPicture(sink.GetMainRender()); }, 5000));

    // Stopping the stream while the pane keeps its render: the same rule.
    sink.DeleteStream();
    if (keepLast) {
        Pump(300);
        EXPECT_TRUE(HasPicture(render));
    } else {
        EXPECT_TRUE(WaitFor([&] { return !HasPicture(render); }, 5000));
    }
}

INSTANTIATE_TEST_SUITE_P(ShowLastFrame, RtspEventsLoss, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? std::string("Kept") : std::string("Cleared"); });

// --- a synthetic stream: parameters that change while an MP4 file is written --------

// A synthetic stream: parameters A and frames of A, then parameters B and
// frames of B, each released by the test.
struct TwoSizeStream {
    std::vector<mp4test::Frame> a, b;
    std::atomic<int> go{0};     // 1: send A, 2: then B
    std::atomic<int> sent{0};   // 1: A sent, 2: B sent

    static std::vector<mp4test::Frame> Make(int w, int h)
    {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const std::string path = mp4test::Streams::Get().Make(
            "sink-" + size + ".h264", "-f lavfi -i testsrc2=size=" + size +
                                          ":rate=25 -frames:v 50 -c:v libx264 -preset ultrafast -bf 0 -g 25 "
                                          "-pix_fmt yuv420p -x264-params repeat-headers=1 -f h264");
        std::vector<mp4test::Frame> frames = mp4test::SplitStream(path, "h264");
        for (auto& f : frames)   // the pull control hands on 4-byte start codes
            f.data = mp4test::AnnexB(mp4test::NalUnits(f.data));
        return frames;
    }

    void Serve(StreamPullFeed& feed)
    {
        feed.Status(5, "connected");
        feed.Params(MakeParams("H264", 320, 240));   // the test starts recording on these
        double ts = 0;
        auto send = [&](const std::vector<mp4test::Frame>& frames) {
            for (const auto& f : frames) {
                if (!feed.Wait(4))
                    return;
                feed.PushVideo(f.data.data(), f.data.size(), MediaFrameHeader{f.key ? 1 : 0, 0, ts});
                ts += 40;
            }
        };
        while (go < 1 && feed.Wait(5)) {
        }
        send(a);
        sent = 1;
        while (go < 2 && feed.Wait(5)) {
        }
        feed.Params(MakeParams("H264", 640, 480));
        send(b);
        sent = 2;
        while (feed.Wait(20)) {
        }
    }
};

TEST(RtspEvents, ChangedParametersStartTheNextMp4File)
{
    SinkEnv env;
    DevRecord dev("SYN-1");
    mp4test::TempDir dir;
    TwoSizeStream stream;
    stream.a = TwoSizeStream::Make(320, 240);
    stream.b = TwoSizeStream::Make(640, 480);
    ASSERT_EQ(stream.a.size(), 50u);
    ASSERT_EQ(stream.b.size(), 50u);
    StreamPullControl::RegisterSchemeHandler(
        "sinksizes", [&](StreamPullFeed& feed, const std::string&, const std::string&, const std::string&) {
            stream.Serve(feed);
        });
    {
        CRtspEvents sink(nullptr, &env.pull);
        const int32_t id = env.pull.AddStream("sinksizes://cam", "", "", 0);
        dev.SetStream(id);
        sink.SetStreamInfo(id, 1, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return sink.GetVideoParamLength() == 536; }, 3000));
        ASSERT_GT(sink.StartRecord(id, 3600, 3600, dir.path().c_str(), 1, 0), 0);
        stream.go = 1;
        ASSERT_TRUE(WaitFor([&] { return stream.sent == 1; }, 10000));
        Pump(300);
        stream.go = 2;
        ASSERT_TRUE(WaitFor([&] { return stream.sent == 2; }, 10000));
        Pump(500);
        EXPECT_EQ(sink.GetVideoParam().width, 640);
        sink.StopRecord();
        sink.DeleteStream();
    }
    StreamPullControl::UnregisterSchemeHandler("sinksizes");

    const auto files = FilesIn(dir.path(), ".mp4");
    ASSERT_EQ(files.size(), 2u) << "one file per set of parameters";
    std::vector<std::string> sizes;
    for (const std::string& f : files) {
        const auto streams = mp4test::ProbeStreams(f);
        const auto* vs = mp4test::FindStream(streams, "video");
        ASSERT_TRUE(vs) << f;
        sizes.push_back(vs->at("width") + "x" + vs->at("height"));
        EXPECT_EQ(vs->at("nb_read_frames"), "50") << f << ": no frame lost or misplaced";
        EXPECT_EQ(mp4test::DecodeErrors(f), "") << f;
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<std::string>{"320x240", "640x480"}));
}

// A steady synthetic stream of one size, frames paced like a camera.
struct SteadyStream {
    std::vector<mp4test::Frame> frames;
    std::atomic<int64_t> pushed{0};
    void Serve(StreamPullFeed& feed)
    {
        feed.Status(5, "connected");
        feed.Params(MakeParams("H264", 320, 240));
        double ts = 0;
        for (size_t i = 0; feed.Wait(10); ++i) {
            const auto& f = frames[i % frames.size()];
            feed.PushVideo(f.data.data(), f.data.size(), MediaFrameHeader{f.key ? 1 : 0, 0, ts});
            ts += 40;
            ++pushed;
        }
    }
};

class RtspEventsSynthetic : public ::testing::Test {
protected:
    void SetUp() override
    {
        stream.frames = TwoSizeStream::Make(320, 240);
        ASSERT_FALSE(stream.frames.empty());
        StreamPullControl::RegisterSchemeHandler(
            "sinksteady", [this](StreamPullFeed& feed, const std::string&, const std::string&, const std::string&) {
                stream.Serve(feed);
            });
    }
    void TearDown() override
    {
        StreamPullControl::UnregisterSchemeHandler("sinksteady");
        qelm::ResetTestClock();
    }
    int32_t Open(CRtspEvents& sink, DevRecord& dev, int32_t type = 1)
    {
        const int32_t id = env.pull.AddStream("sinksteady://cam", "", "", 0);
        dev.SetStream(id);
        sink.SetStreamInfo(id, type, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return sink.GetVideoParamLength() == 536; }, 3000));
        return id;
    }
    // The frames outlive the pull control, whose destruction joins the
    // threads that serve them.
    SteadyStream stream;
    SinkEnv env;
};

// Seconds per file pass (the test clock moves) twice within one wall-clock
// second: three files, none overwritten, all playable.
TEST_F(RtspEventsSynthetic, Mp4FilesRotateAndNamesNeverCollide)
{
    DevRecord dev("SYN-ROT");
    mp4test::TempDir dir;
    CRtspEvents sink(nullptr, &env.pull);
    const int32_t id = Open(sink, dev, 0);
    ASSERT_GT(sink.StartRecord(id, 3600, 60, dir.path().c_str(), 1, 0), 0);
    for (int i = 0; i < 2; ++i) {
        const int64_t at = stream.pushed;
        ASSERT_TRUE(WaitFor([&] { return stream.pushed > at + 40; }, 5000));
        qelm::AdvanceTestClock(std::chrono::milliseconds(60000));
    }
    const int64_t at = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at + 40; }, 5000));
    sink.StopRecord();
    sink.DeleteStream();

    const auto files = FilesIn(dir.path(), ".mp4");
    ASSERT_EQ(files.size(), 3u);
    std::vector<std::string> tails;
    for (const std::string& f : files) {
        const std::string name = fs::path(f).filename().string();
        tails.push_back(name.substr(6));
        const auto streams = mp4test::ProbeStreams(f);
        const auto* vs = mp4test::FindStream(streams, "video");
        ASSERT_TRUE(vs) << f;
        EXPECT_GE(std::stoi(vs->at("nb_read_frames")), 10) << f;
        EXPECT_EQ(mp4test::DecodeErrors(f), "") << f;
    }
    // Video only, a sub stream (digit 2); three names, none overwritten.
    const std::set<std::string> got(files.begin(), files.end());
    EXPECT_EQ(got.size(), 3u);
    for (const std::string& t : tails)
        EXPECT_TRUE(t == "-vv-2.mp4" || (t.rfind("-vv_", 0) == 0 && t.size() > 6 &&
                                         t.compare(t.size() - 6, 6, "-2.mp4") == 0))
            << t;
}

// A rotation whose open fails (the folder is gone) retries at the next frames
// and the next file starts as soon as the folder is back, not a file length later.
TEST_F(RtspEventsSynthetic, FailedRotationRetriesSoon)
{
    DevRecord dev("SYN-FAIL");
    mp4test::TempDir dir;
    const std::string folder = dir.path() + "/rec";
    fs::create_directory(folder);
    CRtspEvents sink(nullptr, &env.pull);
    const int32_t id = Open(sink, dev);
    ASSERT_GT(sink.StartRecord(id, 3600, 60, folder.c_str(), 1, 0), 0);
    const int64_t at = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at + 30; }, 5000));

    fs::rename(folder, dir.path() + "/moved");
    qelm::AdvanceTestClock(std::chrono::milliseconds(60000));
    Pump(400);
    EXPECT_EQ(sink.GetMp4FileName(), "") << "no file could be opened";
    EXPECT_EQ(sink.IsRecording(), 1) << "the recording itself goes on";
    fs::create_directory(folder);
    ASSERT_TRUE(WaitFor([&] { return !sink.GetMp4FileName().empty(); }, 3000)) << "reopened within a second or two";
    const int64_t at2 = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at2 + 40; }, 5000));
    sink.StopRecord();
    sink.DeleteStream();
    const auto files = FilesIn(folder, ".mp4");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(mp4test::DecodeErrors(files[0]), "");
}

// Record file names: audio marker, stream digit, numbering of taken names.
TEST(RtspEvents, MakeRecordFileNameCases)
{
    SinkEnv env;
    mp4test::TempDir dir;
    struct Case {
        int32_t streamType;
        bool streamAudio;
        int32_t recordAudio;
        const char* tail;
    };
    const Case cases[] = {
        {1, true, 1, "-av-1.mp4.tmp"},
        {1, true, 0, "-vv-1.mp4.tmp"},
        {0, false, 1, "-vv-2.mp4.tmp"},
        {0, true, 1, "-av-2.mp4.tmp"},
    };
    for (const Case& c : cases) {
        CRtspEvents sink(nullptr, &env.pull);
        sink.SetStreamInfo(4242, c.streamType, 0, c.recordAudio);
        const StreamMediaParam p = MakeParams("H264", 320, 240, c.streamAudio ? "G711" : "", 8000);
        sink.MediaRecv(4242, 17, &p, 0);
        char name[1024];
        ASSERT_EQ(sink.MakeRecordFileName(dir.path().c_str(), name, sizeof name), 0);
        const std::string s = name;
        EXPECT_EQ(s.substr(s.size() - strlen(c.tail)), c.tail) << s;
        EXPECT_EQ(s.rfind(dir.path() + "/", 0), 0u) << s;
        sink.SetStreamInfo(0, -1, 0, 0);   // keep DeleteStream off the pull control
    }

    CRtspEvents sink(nullptr, &env.pull);
    sink.SetStreamInfo(4242, 1, 0, 0);
    char name[1100];
    EXPECT_EQ(sink.MakeRecordFileName(nullptr, name, sizeof name), -1);
    EXPECT_EQ(sink.MakeRecordFileName(dir.path().c_str(), nullptr, 10), -1);
    EXPECT_EQ(sink.MakeRecordFileName(dir.path().c_str(), name, 8), -1) << "does not fit";
    // Taken names, finished or still ".tmp", are skipped: a second file in the
    // same second never overwrites the first. Names are taken for the next
    // few seconds so the check does not depend on when it runs.
    std::time_t now = qelm::WallNow();
    for (int i = 0; i < 4; ++i) {
        std::time_t t = now + i;
        std::tm tm{};
        localtime_r(&t, &tm);
        char hms[16];
        snprintf(hms, sizeof hms, "%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
        mp4test::WriteFile(dir / (std::string(hms) + "-vv-1.mp4"), {1});
        mp4test::WriteFile(dir / (std::string(hms) + "-vv_2-1.mp4.tmp"), {1});
    }
    ASSERT_EQ(sink.MakeRecordFileName((dir.path() + "\\").c_str(), name, sizeof name), 0);
    const std::string s = name;
    EXPECT_EQ(s.substr(s.size() - 15), "-vv_3-1.mp4.tmp") << s;
    EXPECT_FALSE(fs::exists(s));
    sink.SetStreamInfo(0, -1, 0, 0);
}

// --- status events -----------------------------------------------------------------------------

TEST(RtspEvents, StatusFilterAndPosts)
{
    SinkEnv env;
    DevRecord devA("DEV-A");
    DevRecord devB("DEV-B", 901);
    devA.SetStream(101);
    devB.SetStream(202, 2);
    CRtspEvents sink1(nullptr, &env.pull);
    CRtspEvents sink2(nullptr, &env.pull);   // every sink sees every event: one post all the same

    struct Step {
        int32_t id;
        int32_t code;
        const char* text;
        UINT expect;          // 0: nothing posted
        const char* devId;
    };
    const Step steps[] = {
        {101, 5, "", WM_STREAM_STATUS, "DEV-A"},
        {101, 5, "", 0, nullptr},                    // repeat of the last pair
        {202, 5, "", WM_STREAM_STATUS, "DEV-B"},     // same code, other stream
        {101, 5, "", WM_STREAM_STATUS, "DEV-A"},     // after another pair
        {101, 6, "", WM_STREAM_STATUS, "DEV-A"},
        {101, 63, "", WM_STREAM_STATUS, "DEV-A"},
        {101, 75, "", WM_STREAM_STATUS, "DEV-A"},
        {101, 76, "", 0, nullptr},                   // no meaning for the sink
        {303, 5, "", 0, nullptr},                    // no record carries the stream
        {901, 77, "1,0,1,1", WM_CHANNEL_STATES, nullptr},
        {101, 10, "", 0, nullptr},                   // empty PTZ answer
        {202, 10, "3^1^2^3", WM_PTZ_RESPONSE, nullptr},
    };
    size_t mainBefore = 0, ptzBefore = 0;
    for (const Step& s : steps) {
        sink1.OnStreamStatus(s.id, s.code, s.text, nullptr);
        sink2.OnStreamStatus(s.id, s.code, s.text, nullptr);
        Pump(20);
        const size_t mainNew = env.targets.main.got.size() - mainBefore;
        const size_t ptzNew = env.targets.ptz.got.size() - ptzBefore;
        SCOPED_TRACE("stream " + std::to_string(s.id) + " code " + std::to_string(s.code));
        if (!s.expect) {
            EXPECT_EQ(mainNew + ptzNew, 0u);
        } else if (s.expect == WM_PTZ_RESPONSE) {
            ASSERT_EQ(ptzNew, 1u);
            EXPECT_EQ(env.targets.ptz.got.back().text, s.text);
            EXPECT_EQ(env.targets.ptz.got.back().ptzKind, PtzAnswerSource::kStream);
            EXPECT_EQ(env.targets.ptz.got.back().ptzDevId, "DEV-B");
        } else {
            ASSERT_EQ(mainNew, 1u);
            const Posted& p = env.targets.main.got.back();
            EXPECT_EQ(p.msg, s.expect);
            if (s.expect == WM_STREAM_STATUS) {
                EXPECT_EQ(p.text, s.devId);
                EXPECT_EQ(p.lParam, s.code);
            } else {
                EXPECT_EQ(p.wParam, 901u | kChannelStatesFromStream) << "the record's P2pLoginId, marked as the stream sink's";
                EXPECT_EQ(p.text, s.text);
            }
        }
        mainBefore = env.targets.main.got.size();
        ptzBefore = env.targets.ptz.got.size();
    }

    // Code 7: the device's alarm, keyed by its DevId.
    _ALARM_INFO alarm{};
    alarm.year = 2026;
    alarm.month = 12;
    alarm.day = 10;
    alarm.alarmType = 14;
    snprintf(alarm.text, sizeof alarm.text, "motion");
    sink1.OnStreamStatus(202, 7, "", &alarm);
    sink1.OnStreamStatus(202, 7, "", &alarm);    // repeat: filtered
    Pump(20);
    ASSERT_EQ(env.targets.main.Count(WM_DEV_ALARM), 1);
    const Posted& p = env.targets.main.got.back();
    EXPECT_EQ(p.source.kind, kAlarmSourceDevId);
    EXPECT_STREQ(p.source.devId, "DEV-B");
    EXPECT_EQ(memcmp(&p.alarm, &alarm, sizeof alarm), 0);
}

// The PTZ answer names its device by a copy: the sink's next event, before
// the panel handles the answer, must not change whose answer it is.
TEST(RtspEvents, PtzAnswerKeepsItsDeviceWhenTheSinkMovesOn)
{
    SinkEnv env;
    DevRecord devA("DEV-A");
    DevRecord devB("DEV-B");
    devA.SetStream(111);
    devB.SetStream(222);
    CRtspEvents sink(nullptr, &env.pull);
    sink.OnStreamStatus(222, 10, "2^1^2", nullptr);
    sink.OnStreamStatus(111, 5, "", nullptr); // nothing delivered yet
    Pump(20);
    ASSERT_EQ(env.targets.ptz.Count(WM_PTZ_RESPONSE), 1);
    EXPECT_EQ(env.targets.ptz.got.back().ptzDevId, "DEV-B");
    EXPECT_EQ(env.targets.ptz.got.back().text, "2^1^2");
}

// A device id longer than the posted blocks is cut to fit them, terminated.
TEST(RtspEvents, LongDevIdIsCutToTheBlocks)
{
    SinkEnv env;
    const std::string longId(300, 'K');
    DevRecord dev(longId.c_str());
    dev.SetStream(606);
    CRtspEvents sink(nullptr, &env.pull);
    sink.OnStreamStatus(606, 5, "", nullptr);
    _ALARM_INFO alarm{};
    sink.OnStreamStatus(606, 7, "", &alarm);
    Pump(20);
    ASSERT_EQ(env.targets.main.got.size(), 2u);
    EXPECT_EQ(env.targets.main.got[0].text, longId.substr(0, 127));
    EXPECT_EQ(std::string(env.targets.main.got[1].source.devId, strnlen(env.targets.main.got[1].source.devId, 64)),
              longId.substr(0, 63));
    EXPECT_EQ(std::string(sink.GetDevId()), longId);
}

TEST(RtspEvents, StatusPostToAMissingWindowFreesItsBlock)
{
    EnableControls();
    CRtspPullCtrl pull;
    pull.CreateDispatch();
    CRtspEvents::ResetStatusFilter();
    SetMediaSinkTargets(nullptr);   // no main window: the post fails, nothing leaks (ASan)
    DevRecord dev("DEV-NOWND");
    dev.SetStream(555);
    CRtspEvents sink(nullptr, &pull);
    _ALARM_INFO alarm{};
    sink.OnStreamStatus(555, 5, "", nullptr);
    sink.OnStreamStatus(555, 7, "", &alarm);
    sink.OnStreamStatus(555, 77, "x", nullptr);
    EXPECT_STREQ(sink.GetDevId(), "DEV-NOWND");
}

// --- parameters ------------------------------------------------------------------------------

TEST(RtspEvents, MediaRecvAcceptsOnlyItsStreamAndTheMarker)
{
    SinkEnv env;
    CRtspEvents sink(nullptr, &env.pull);
    sink.SetStreamInfo(77, 1, 0, 0);
    StreamMediaParam p = MakeParams("H264", 640, 360, "G711", 8000);
    sink.MediaRecv(78, 17, &p, 0);   // another stream
    sink.MediaRecv(77, 16, &p, 0);   // another media type
    StreamMediaParam bad = p;
    snprintf(bad.marker, sizeof bad.marker, "BremulH264x");
    sink.MediaRecv(77, 17, &bad, 0);
    EXPECT_EQ(sink.GetVideoParamLength(), 0);
    sink.MediaRecv(77, 17, &p, 0);
    EXPECT_EQ(sink.GetVideoParamLength(), 536);
    EXPECT_EQ(sink.GetVideoParam().width, 640);
    EXPECT_EQ(sink.HasAudio(), 1);
    EXPECT_EQ(env.targets.main.Count(WM_STOP_TALK), 0);

    // New audio parameters stop a talk (the stored rate was set) ...
    StreamMediaParam q = MakeParams("H264", 640, 360, "G711", 16000);
    sink.MediaRecv(77, 17, &q, 0);
    Pump(20);
    ASSERT_EQ(env.targets.main.Count(WM_STOP_TALK), 1);
    EXPECT_EQ(env.targets.main.got.back().wParam, 77u);
    // ... audio gone: zeroed; the first audio after none posts nothing.
    StreamMediaParam v = MakeParams("H264", 640, 360);
    sink.MediaRecv(77, 17, &v, 0);
    EXPECT_EQ(sink.HasAudio(), 0);
    EXPECT_EQ(sink.GetAudioParam().sampleRate, 0);
    Pump(20);
    EXPECT_EQ(env.targets.main.Count(WM_STOP_TALK), 2);
    sink.MediaRecv(77, 17, &p, 0);
    Pump(20);
    EXPECT_EQ(env.targets.main.Count(WM_STOP_TALK), 2);

    // An ONVIF stream takes its size from the profile.
    CRtspEvents onvif(nullptr, &env.pull);
    onvif.SetStreamInfo(79, 1, 0, 0);
    onvif.SetUseProfileSize(1);
    StreamProfile prof{};
    prof.width = 1280;
    prof.height = 720;
    onvif.SetStreamProfile(&prof);
    onvif.SetStreamProfile(nullptr);
    StreamMediaParam o = MakeParams("H264", 0, 0);
    o.video.frameRate = 0;
    onvif.MediaRecv(79, 17, &o, 0);
    EXPECT_EQ(onvif.GetVideoParam().width, 1280);
    EXPECT_EQ(onvif.GetVideoParam().height, 720);
    EXPECT_EQ(onvif.GetVideoParam().frameRate, 25);
    onvif.SetStreamInfo(0, -1, 0, 0);
    sink.SetStreamInfo(0, -1, 0, 0);
}

// A render with width 0 in the parameters still gets a decoder, at 1920x1080.
TEST(RtspEvents, ZeroSizeParametersSetUpA1080Decoder)
{
    SinkEnv env;
    CRtspEvents sink(nullptr, &env.pull);
    sink.SetMediaRenderMod(&env.pane, 1);
    sink.SetStreamInfo(88, 1, 0, 0);
    StreamMediaParam p = MakeParams("H264", 0, 0);
    p.video.frameRate = 0;
    sink.MediaRecv(88, 17, &p, 0);
    ASSERT_NE(sink.GetMainRender(), nullptr);
    EXPECT_EQ(sink.GetVideoParam().width, 1920);
    EXPECT_EQ(sink.GetVideoParam().height, 1080);
    EXPECT_EQ(sink.GetVideoParam().frameRate, 25);
    sink.SetStreamInfo(0, -1, 0, 0);
}

// --- renders -------------------------------------------------------------------------------------

TEST_F(RtspEventsSynthetic, AlarmPaneToGridPaneKeepsTwoRendersFed)
{
    DevRecord dev("SYN-ALARM");
    RecorderWnd alarmPane(nullptr, CRect(0, 0, 320, 240));
    RecorderWnd gridPane(nullptr, CRect(0, 0, 320, 240));
    env.targets.alarmPanes.insert(&alarmPane);
    CRtspEvents sink(nullptr, &env.pull);
    sink.SetMediaRenderMod(&alarmPane, 1);
    Open(sink, dev);
    ASSERT_TRUE(WaitFor([&] { return Pictures(sink.GetMainRender(), sink.GetMainRenderId()) > 3; }, 5000));

    sink.DisplayMediaStream(&gridPane, 1);
    EXPECT_TRUE(env.targets.resetPanes.empty()) << "an alarm pane is not reset";
    CStreamPlayerCtrl* main = sink.GetMainRender();
    CStreamPlayerCtrl* alarm = sink.GetAlarmRender();
    ASSERT_TRUE(main && alarm);
    EXPECT_EQ(main->GetParent(), &gridPane);
    EXPECT_EQ(alarm->GetParent(), &alarmPane);
    EXPECT_EQ(sink.IsRenderMedia(), 1);
    const int64_t m0 = Pictures(main, sink.GetMainRenderId());
    const int64_t a0 = Pictures(alarm, sink.GetAlarmRenderId());
    auto bothFed = [&] {
        return Pictures(main, sink.GetMainRenderId()) > m0 + 10 && Pictures(alarm, sink.GetAlarmRenderId()) > a0 + 10;
    };
    ASSERT_TRUE(WaitFor(bothFed, 5000));

    // Moving the stream on to another grid pane re-parents the render and
    // resets the pane that had it.
    RecorderWnd other(nullptr, CRect(0, 0, 200, 100));
    sink.DisplayMediaStream(&other, 1);
    EXPECT_EQ(sink.GetMainRender(), main);
    EXPECT_EQ(main->GetParent(), &other);
    ASSERT_EQ(env.targets.resetPanes.size(), 1u);
    EXPECT_EQ(env.targets.resetPanes[0], &gridPane);

    // Sound goes to the alarm render for the alarm pane, to the main one otherwise.
    EXPECT_EQ(sink.OpenAlarmPaneSound(), 0);
    EXPECT_EQ(sink.CloseAlarmPaneSound(), 0);
    sink.CloseAlarmActPlayer();
    EXPECT_EQ(sink.GetAlarmRender(), nullptr);
    EXPECT_EQ(sink.OpenSound(), 0);
    EXPECT_EQ(sink.CloseSound(), 0);
    sink.CloseAllDecoder();
    EXPECT_EQ(sink.IsRenderMedia(), 0);
    EXPECT_EQ(sink.OpenSound(), -1);
    EXPECT_EQ(sink.OpenAlarmPaneSound(), -1);
    EXPECT_EQ(sink.OpenMapPaneSound(), -1);
    EXPECT_EQ(sink.SnapShot("/tmp/x.jpg"), -1);
    sink.DeleteStream();
}

// The scheduler's thread closes the renders while frames flow, and a pane is
// destroyed with its render inside: the thread never feeds a dead player.
TEST_F(RtspEventsSynthetic, RendersGoSafelyFromOtherThreadsAndWithTheirPane)
{
    DevRecord dev("SYN-THR");
    CRtspEvents sink(nullptr, &env.pull);
    auto pane = std::make_unique<RecorderWnd>(nullptr, CRect(0, 0, 160, 120));
    RecorderWnd alarmPane(nullptr, CRect(0, 0, 160, 120));
    sink.SetMediaRenderMod(pane.get(), 1);
    Open(sink, dev);
    sink.CreateAlarmActPlayer(&alarmPane);
    ASSERT_TRUE(WaitFor([&] { return Pictures(sink.GetAlarmRender(), sink.GetAlarmRenderId()) > 3; }, 5000));

    std::thread scheduler([&] {
        sink.CloseAllDecoder();
        sink.CloseAlarmActPlayer();
    });
    scheduler.join();
    EXPECT_EQ(sink.GetMainRender(), nullptr) << "detached at once";
    EXPECT_EQ(sink.GetAlarmRender(), nullptr);
    EXPECT_EQ(RendersIn(alarmPane), 1) << "the window goes on the UI thread";
    Pump(50);
    EXPECT_EQ(RendersIn(alarmPane), 0);

    sink.DisplayMediaStream(pane.get(), 0);
    ASSERT_NE(sink.GetMainRender(), nullptr);
    const int64_t at = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at + 5; }, 3000));
    pane.reset();   // the pane and its render die first
    EXPECT_EQ(sink.GetMainRender(), nullptr);
    Pump(300);      // frames keep coming and find no render
    sink.DeleteStream();
}

// --- relay -------------------------------------------------------------------------------------

struct FakeRelay : LiveRelayFeed {
    std::atomic<int> answered{0}, videos{0}, closes{0};
    std::atomic<int> videoBeforeAnswer{0};
    int videoWidth = 0;
    bool* deleted;
    explicit FakeRelay(bool* d) : deleted(d) {}
    ~FakeRelay() override { *deleted = true; }
    int IsAnswered() const override { return answered > 0; }
    void RspDeviceVideo(const VideoParam* v, const AudioParam*) override
    {
        videoWidth = v ? v->width : 0;
        ++answered;
    }
    void SendVideo(const uint8_t*, int32_t, const MediaFrameHeader*) override
    {
        if (!answered)
            ++videoBeforeAnswer;
        ++videos;
    }
    void SendAudio(const uint8_t*, int32_t, const MediaFrameHeader*) override {}
    void Close() override { ++closes; }
};

TEST_F(RtspEventsSynthetic, RelaySessionIsAnsweredOnceThenFed)
{
    DevRecord dev("SYN-RELAY");
    CRtspEvents sink(nullptr, &env.pull);
    bool deleted = false;
    auto* relay = new FakeRelay(&deleted);
    sink.InstallLiveRelay(relay);
    EXPECT_EQ(sink.IsRelayRequested(), 1);
    EXPECT_EQ(sink.IsRelayFeeding(), 1);
    Open(sink, dev);
    ASSERT_TRUE(WaitFor([&] { return relay->videos > 20; }, 5000));
    EXPECT_EQ(relay->answered, 1);
    EXPECT_EQ(relay->videoBeforeAnswer, 0);
    EXPECT_EQ(relay->videoWidth, 320);

    sink.SetRelayRequested(0);
    sink.CloseLiveRelay();
    EXPECT_TRUE(deleted);
    EXPECT_EQ(sink.IsRelayFeeding(), 0);
    sink.CloseLiveRelay();   // nothing left: no effect
    sink.DeleteStream();
}

// --- the end of a stream --------------------------------------------------------------------

TEST(RtspEvents, DeleteStreamReturnsAtOnce)
{
    SinkEnv env;
    // Never started: returns after its short pause.
    {
        CRtspEvents idle(nullptr, &env.pull);
        auto t0 = Clock::now();
        idle.DeleteStream();
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
        EXPECT_EQ(idle.IsPollFinished(), 1);
    }
    // Inside the RTSP handshake of a peer that never answers.
    SilentServer silent;
    ASSERT_GT(silent.port, 0);
    DevRecord dev("SILENT");
    CRtspEvents sink(nullptr, &env.pull);
    sink.SetMediaRenderMod(&env.pane, 1);
    const int32_t id =
        env.pull.AddStream(("rtsp://127.0.0.1:" + std::to_string(silent.port) + "/x").c_str(), "", "", 1);
    dev.SetStream(id);
    sink.SetStreamInfo(id, 1, 0, 0);
    Pump(300);
    auto t0 = Clock::now();
    sink.DeleteStream();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_EQ(sink.GetStreamId(), 0);
}

// A stream deleted right after its parameters arrived: the thread is joined
// before DeleteStream returns, so the sink can go at once.
TEST_F(RtspEventsSynthetic, SinkDeletedRightAfterItsThreadStarts)
{
    DevRecord dev("SYN-DEL");
    for (int i = 0; i < 5; ++i) {
        auto sink = std::make_unique<CRtspEvents>(nullptr, &env.pull);
        sink->SetMediaRenderMod(&env.pane, 1);
        const int32_t id = env.pull.AddStream("sinksteady://cam", "", "", 0);
        dev.SetStream(id);
        sink->SetStreamInfo(id, 1, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return sink->GetVideoParamLength() == 536; }, 3000));
        EXPECT_EQ(sink->IsPollFinished(), 0) << "running from the moment it exists";
        sink.reset();   // DeleteStream joins; ASan catches a thread on a freed sink
    }
}

// AVI back end: changed parameters end the file and begin the next.
TEST_F(RtspEventsSynthetic, AviRecordingFollowsChangedParameters)
{
    DevRecord dev("SYN-AVI");
    mp4test::TempDir dir;
    CRtspEvents sink(nullptr, &env.pull);
    const int32_t id = Open(sink, dev);
    sink.SetRecordAudio(0);
    const int32_t first = sink.StartRecord(id, 3600, 600, (dir.path() + "/").c_str(), 0, 0);
    ASSERT_GT(first, 0);
    const int64_t at = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at + 30; }, 5000));
    StreamMediaParam p = MakeParams("H264", 320, 240);
    p.video.bitRate = 512000;   // differs from what the stream sent
    sink.MediaRecv(id, 17, &p, 0);
    EXPECT_GT(sink.GetRecordFileId(), first);
    EXPECT_EQ(sink.IsRecording(), 1);
    const int64_t at2 = stream.pushed;
    ASSERT_TRUE(WaitFor([&] { return stream.pushed > at2 + 30; }, 5000));
    sink.StopRecord();
    sink.DeleteStream();
    Pump(100);
    EXPECT_EQ(FilesIn(dir.path(), ".avi").size(), 2u);
}

} // namespace
