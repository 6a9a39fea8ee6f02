// Tests of the stream pull control stand-in against a real RTSP camera on
// 127.0.0.1 (tests/fixtures/rtsp_camera.py) and against silent peers.
#include "controls/stream_pull.h"

#include "controls/journal.h"
#include "tests/controls/stream_pull_test_util.h"
#include "tests/support/rtsp_camera.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using pulltest::Advised;
using pulltest::Sink;
using pulltest::WaitFor;
using qelmtest::RtspCamera;
using qelmtest::SilentServer;

struct ReadFrame {
    std::vector<uint8_t> data;
    MediaFrameHeader hdr;
};

// Reads the frames of one queue for ms milliseconds.
std::vector<ReadFrame> ReadFor(StreamPullControl& c, int32_t id, bool video, int ms)
{
    std::vector<ReadFrame> out;
    std::vector<uint8_t> buf(0x17D000);
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
        int32_t len = static_cast<int32_t>(buf.size());
        MediaFrameHeader h{};
        int32_t hlen = sizeof h;
        int32_t r = video ? c.ReadVideoFrame(id, id, buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hlen)
                          : c.ReadAudioFrame(id, id, buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hlen);
        if (r == 0 && len > 0) {
            EXPECT_EQ(hlen, 16);
            out.push_back({std::vector<uint8_t>(buf.begin(), buf.begin() + len), h});
        } else {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            usleep(5000);
        }
    }
    return out;
}

// NAL unit types of an Annex-B block, checking every start code is 4 bytes.
std::vector<int> NalTypes(const uint8_t* d, size_t n, bool hevc)
{
    std::vector<int> types;
    for (size_t i = 0; i + 4 < n; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            EXPECT_TRUE(i >= 1 && d[i - 1] == 0) << "3-byte start code at " << i;
            types.push_back(hevc ? (d[i + 3] >> 1) & 0x3f : d[i + 3] & 0x1f);
            i += 2;
        }
    }
    return types;
}

bool Has(const std::vector<int>& v, int t)
{
    return std::find(v.begin(), v.end(), t) != v.end();
}

struct MountCase {
    const char* mount;
    int32_t rtpOverRtsp;
    const char* video;
    const char* audio;
    int sampleRate;
};

void PrintTo(const MountCase& m, std::ostream* os)
{
    *os << m.mount << (m.rtpOverRtsp ? " tcp" : " udp");
}

class StreamPullCamera : public ::testing::TestWithParam<MountCase> {};

TEST_P(StreamPullCamera, OpensReportsParametersAndDeliversFrames)
{
    const MountCase& mc = GetParam();
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);

    auto t0 = Clock::now();
    int32_t id = c.AddStream(cam.Url(mc.mount), "admin", "pw", mc.rtpOverRtsp);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 5) > 0 && sink.LastParams(id); }, 10000));
    EXPECT_EQ(sink.Count(id, 6), 0);

    const StreamMediaParam& p = *sink.LastParams(id);
    bool hevc = strcmp(mc.video, "H265") == 0;
    EXPECT_TRUE(HasStreamMediaMarker(p));
    EXPECT_TRUE(p.hasVideo);
    EXPECT_STREQ(p.video.codecName, mc.video);
    EXPECT_EQ(p.video.width, 320);
    EXPECT_EQ(p.video.height, 240);
    EXPECT_GT(p.video.configLength, 0);
    EXPECT_LE(p.video.configLength, 256);
    auto cfg = NalTypes(p.video.config, static_cast<size_t>(p.video.configLength), hevc);
    if (hevc) {
        EXPECT_TRUE(Has(cfg, 32) && Has(cfg, 33) && Has(cfg, 34));
    } else {
        EXPECT_TRUE(Has(cfg, 7) && Has(cfg, 8));
    }
    EXPECT_EQ(p.hasAudio != 0, mc.audio[0] != 0);
    EXPECT_STREQ(p.audio.codecName, mc.audio);
    EXPECT_EQ(p.audio.sampleRate, mc.sampleRate);
    EXPECT_EQ(p.audio.channels, mc.audio[0] ? 1 : 0);

    auto frames = ReadFor(c, id, true, 1500);
    ASSERT_GT(frames.size(), 10u);
    int keys = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        auto types = NalTypes(frames[i].data.data(), frames[i].data.size(), hevc);
        ASSERT_FALSE(types.empty());
        EXPECT_EQ(frames[i].data[0] | frames[i].data[1] | frames[i].data[2], 0);
        EXPECT_FALSE(Has(types, hevc ? 35 : 9)) << "access-unit delimiter kept";
        if (frames[i].hdr.keyFrame) {
            ++keys;
            EXPECT_TRUE(Has(types, hevc ? 33 : 7)) << "key frame without parameter sets";
        }
        if (i > 0) {
            EXPECT_GT(frames[i].hdr.timeStamp, frames[i - 1].hdr.timeStamp);
        }
    }
    EXPECT_GE(keys, 1);

    if (!p.hasAudio) {
        EXPECT_TRUE(ReadFor(c, id, false, 100).empty());
        return;
    }
    auto audio = ReadFor(c, id, false, 300);
    ASSERT_FALSE(audio.empty());
    if (strcmp(mc.audio, "AAC") == 0) {
        for (auto& f : audio)
            ASSERT_TRUE(f.data.size() > 7 && f.data[0] == 0xFF && (f.data[1] & 0xF0) == 0xF0) << "no ADTS header";
    }
    EXPECT_EQ(c.DelStream(id), 0);
}

INSTANTIATE_TEST_SUITE_P(Mounts, StreamPullCamera,
                         ::testing::Values(MountCase{"/h264", 1, "H264", "G711", 8000},
                                           MountCase{"/h264", 0, "H264", "G711", 8000},
                                           MountCase{"/h265", 1, "H265", "AAC", 16000},
                                           MountCase{"/sdpsets", 1, "H264", "", 0}),
                         [](const auto& info) {
                             return std::string(info.param.mount + 1) + (info.param.rtpOverRtsp ? "_tcp" : "_udp");
                         });

TEST(StreamPull, ReconnectsWhenTheCameraComesBack)
{
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    int port = cam.Port();
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    int32_t id = c.AddStream(cam.Url("/video"), "", "", 1);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 5) == 1; }, 10000));
    EXPECT_FALSE(ReadFor(c, id, true, 300).empty());

    cam.Stop();
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 6) == 1; }, 8000));
    ASSERT_TRUE(cam.Start(port));
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 5) == 2; }, 10000));
    EXPECT_EQ(sink.Count(id, 6), 1) << "one failure report per outage";
    ReadFor(c, id, true, 100);   // drop what was queued before the loss
    EXPECT_FALSE(ReadFor(c, id, true, 500).empty());
}

TEST(StreamPull, SeveralStreamsAtOnce)
{
    RtspCamera cam;
    ASSERT_TRUE(cam.Running());
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    std::vector<int32_t> ids;
    auto all = [&] {
        for (int32_t id : ids)
            if (!sink.Count(id, 5))
                return false;
        return true;
    };
    // One client per mount first: the test camera asserts when many arrive
    // before its stream runs.
    for (int i = 0; i < 6; ++i) {
        ids.push_back(c.AddStream(cam.Url(i % 2 ? "/h265" : "/h264"), "", "", 1));
        if (i == 1) {
            ASSERT_TRUE(WaitFor(all, 15000));
        }
    }
    ASSERT_TRUE(WaitFor(all, 15000));
    std::vector<size_t> counts(ids.size());
    std::vector<uint8_t> buf(0x17D000);
    auto until = Clock::now() + std::chrono::milliseconds(1000);
    while (Clock::now() < until) {
        for (size_t i = 0; i < ids.size(); ++i) {
            int32_t len = static_cast<int32_t>(buf.size());
            MediaFrameHeader h{};
            int32_t hlen = sizeof h;
            if (c.ReadVideoFrame(ids[i], ids[i], buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hlen) == 0)
                ++counts[i];
        }
        usleep(2000);
    }
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_GT(counts[i], 10u) << "stream " << ids[i];
    auto t0 = Clock::now();
    c.StopAll();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500));
}

TEST(StreamPull, DelStreamAndStopAllInterruptAConnectionAtOnce)
{
    SilentServer silent;
    ASSERT_GT(silent.port, 0);
    auto c = std::make_unique<StreamPullControl>();
    Sink sink;
    int32_t cookie = c->Advise(&sink);
    std::string url = "rtsp://127.0.0.1:" + std::to_string(silent.port) + "/x";
    int32_t a = c->AddStream(url, "", "", 1);
    int32_t b = c->AddStreamEx("127.0.0.1", static_cast<uint16_t>(silent.port), "mpeg4", "u", "p", 1);
    EXPECT_GT(a, 0);
    EXPECT_GT(b, a);
    usleep(300000);   // both are inside the RTSP handshake now

    auto t0 = Clock::now();
    EXPECT_EQ(c->DelStream(a), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(50));
    EXPECT_EQ(c->DelStream(a), -1);

    t0 = Clock::now();
    c->StopAll();
    c->Unadvise(cookie);
    c.reset();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
    WaitFor([] { return false; }, 100);
    EXPECT_EQ(sink.Count(a, 5) + sink.Count(b, 5), 0);
}

TEST(StreamPull, RefusedAndPeerlessUrlsFailWithAStatusEvent)
{
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    // 192.0.2.1 is a documentation address: the guard refuses it before any traffic.
    auto t0 = Clock::now();
    int32_t refused = c.AddStream("rtsp://192.0.2.1:554/live", "", "", 1);
    int32_t dovra = c.AddStream("dovra://127.0.0.1:6000/1", "", "", 0);
    int32_t p2p = c.AddStream("p2p://ABCDEF0123\r\nonlylogin=true", "", "", 0);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(refused, 6) && sink.Count(dovra, 6) && sink.Count(p2p, 6); }, 2000));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500));
    EXPECT_EQ(sink.Count(refused, 5) + sink.Count(dovra, 5) + sink.Count(p2p, 5), 0);
}

TEST(StreamPull, SchemeHandlerServesItsStreams)
{
    StreamPullControl::RegisterSchemeHandler("dovra", [](StreamPullFeed& feed, const std::string& url,
                                                         const std::string&, const std::string&) {
        EXPECT_EQ(url, "dovra://127.0.0.1:6000/1");
        StreamMediaParam p{};
        memcpy(p.marker, kStreamMediaMarker, sizeof kStreamMediaMarker);
        p.hasVideo = 1;
        strcpy(p.video.codecName, "H264");
        feed.Status(5, "connected");
        feed.Params(p);
        feed.Params(p);   // unchanged: not raised again
        const uint8_t frame[] = {0, 0, 0, 1, 0x65, 0x88};
        for (int i = 0; feed.Wait(10); ++i)
            feed.PushVideo(frame, sizeof frame, MediaFrameHeader{1, 0, 40.0 * i});
    });
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    int32_t id = c.AddStream("dovra://127.0.0.1:6000/1", "", "", 0);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 5) == 1 && sink.LastParams(id); }, 2000));
    auto frames = ReadFor(c, id, true, 200);
    EXPECT_FALSE(frames.empty());
    c.DelStream(id);
    StreamPullControl::UnregisterSchemeHandler("dovra");
    WaitFor([] { return false; }, 50);
    EXPECT_EQ(sink.params.size(), 1u);
}

TEST(StreamPull, ReadChecksItsArgumentsAndTheBufferSize)
{
    StreamPullControl::RegisterSchemeHandler("p2p", [](StreamPullFeed& feed, const std::string&, const std::string&,
                                                       const std::string&) {
        std::vector<uint8_t> big(1000, 7);
        feed.PushVideo(big.data(), big.size(), MediaFrameHeader{1, 0, 0});
        feed.PushVideo(big.data(), 10, MediaFrameHeader{0, 0, 40});
        while (feed.Wait(10)) {
        }
    });
    StreamPullControl c;
    int32_t id = c.AddStream("p2p://X", "", "", 0);
    std::vector<uint8_t> buf(100);
    MediaFrameHeader h{};
    int32_t hlen = 16, len = 100;
    auto hp = reinterpret_cast<uint8_t*>(&h);
    EXPECT_EQ(c.ReadVideoFrame(id + 1000, 0, buf.data(), &len, hp, &hlen), -1);
    EXPECT_EQ(c.ReadVideoFrame(id, id, nullptr, &len, hp, &hlen), -2);
    hlen = 8;
    EXPECT_EQ(c.ReadVideoFrame(id, id, buf.data(), &len, hp, &hlen), -2);
    hlen = 16;
    ASSERT_TRUE(WaitFor(
        [&] {
            len = 100;
            return c.ReadVideoFrame(id, id, buf.data(), &len, hp, &hlen) == -3;   // 1000 bytes do not fit
        },
        2000));
    len = 100;
    EXPECT_EQ(c.ReadVideoFrame(id, id, buf.data(), &len, hp, &hlen), 0);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(h.timeStamp, 40.0);
    len = 100;
    EXPECT_EQ(c.ReadAudioFrame(id, id, buf.data(), &len, hp, &hlen), -1);
    StreamPullControl::UnregisterSchemeHandler("p2p");
}

// A reader that falls behind: each queue keeps its newest frames within its
// byte budget as well as its frame count, and a frame larger than a whole
// budget is refused.
TEST(StreamPull, QueuesKeepTheNewestFramesWithinTheirByteBudgets)
{
    std::atomic<bool> pushed{false};
    StreamPullControl::RegisterSchemeHandler("p2p", [&pushed](StreamPullFeed& feed, const std::string&,
                                                              const std::string&, const std::string&) {
        std::vector<uint8_t> frame(1 << 20, 0x11);
        for (int i = 0; i < 20; ++i)
            feed.PushVideo(frame.data(), frame.size(), MediaFrameHeader{1, 0, 40.0 * i});
        std::vector<uint8_t> tooBig(StreamPullControl::kMaxVideoBytes + 1, 0x22);
        feed.PushVideo(tooBig.data(), tooBig.size(), MediaFrameHeader{1, 0, 9999});
        std::vector<uint8_t> audio(64 << 10, 0x33);
        for (int i = 0; i < 50; ++i)
            feed.PushAudio(audio.data(), audio.size(), MediaFrameHeader{0, 0, 20.0 * i});
        pushed = true;
        while (feed.Wait(10)) {
        }
    });
    StreamPullControl c;
    int32_t id = c.AddStream("p2p://X", "", "", 0);
    ASSERT_TRUE(WaitFor([&] { return pushed.load(); }, 10000));

    struct Queued {
        std::vector<double> stamps;
        size_t bytes = 0;
    };
    auto drain = [&](bool video) {
        Queued q;
        std::vector<uint8_t> buf(2 << 20);
        for (;;) {
            int32_t len = static_cast<int32_t>(buf.size());
            MediaFrameHeader h{};
            int32_t hlen = sizeof h;
            auto hp = reinterpret_cast<uint8_t*>(&h);
            int32_t r = video ? c.ReadVideoFrame(id, id, buf.data(), &len, hp, &hlen)
                              : c.ReadAudioFrame(id, id, buf.data(), &len, hp, &hlen);
            if (r == -1)
                return q;
            EXPECT_EQ(r, 0) << "a frame over the budget was queued";
            if (r == 0) {
                q.stamps.push_back(h.timeStamp);
                q.bytes += static_cast<size_t>(len);
            }
        }
    };
    Queued video = drain(true);
    std::vector<double> newest;
    for (int i = 12; i < 20; ++i)
        newest.push_back(40.0 * i);
    EXPECT_EQ(video.stamps, newest);
    EXPECT_LE(video.bytes, size_t(StreamPullControl::kMaxVideoBytes));

    Queued audio = drain(false);
    ASSERT_EQ(audio.stamps.size(), 16u);
    EXPECT_EQ(audio.stamps.front(), 20.0 * 34);
    EXPECT_EQ(audio.stamps.back(), 20.0 * 49);
    EXPECT_LE(audio.bytes, size_t(StreamPullControl::kMaxAudioBytes));
    c.DelStream(id);
    StreamPullControl::UnregisterSchemeHandler("p2p");
}

TEST(StreamPull, NoEventReachesAnUnadvisedSink)
{
    StreamPullControl c;
    Sink kept, gone;
    Advised adv(c, kept);
    int32_t cookie = c.Advise(&gone);
    int32_t id = c.AddStream("dovra://127.0.0.1/1", "", "", 0);
    usleep(200000);   // the status is queued for the UI thread by now
    c.Unadvise(cookie);
    ASSERT_TRUE(WaitFor([&] { return kept.Count(id, 6) == 1; }, 2000));
    EXPECT_TRUE(gone.statuses.empty());
}

} // namespace

namespace {

TEST(StreamPull, CallsAndEventsGoToTheJournal)
{
    std::string path = "/tmp/qelm2_stream_pull_journal_" + std::to_string(getpid()) + ".txt";
    unlink(path.c_str());
    setenv("QELM2_JOURNAL", path.c_str(), 1);
    {
        StreamPullControl c;
        Sink sink;
        Advised adv(c, sink);
        int32_t id = c.AddStream("dovra://127.0.0.1/1", "admin", "secret", 0);
        ASSERT_TRUE(WaitFor([&] { return sink.Count(id, 6) == 1; }, 2000));
        c.DelStream(id);
    }
    unsetenv("QELM2_JOURNAL");
    std::vector<std::vector<std::string>> lines;
    if (FILE* f = fopen(path.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof buf, f))
            lines.push_back(qelm::Journal::ParseLine(buf));
        fclose(f);
    }
    unlink(path.c_str());
    auto find = [&](const char* kind, const char* name) -> const std::vector<std::string>* {
        for (auto& l : lines)
            if (l.size() >= 2 && l[0] == kind && l[1] == name)
                return &l;
        return nullptr;
    };
    const auto* add = find("call", "StreamPullControl::AddStream");
    ASSERT_TRUE(add);
    ASSERT_EQ(add->size(), 7u);
    EXPECT_EQ((*add)[2], "dovra://127.0.0.1/1");
    EXPECT_EQ((*add)[3], "admin");
    EXPECT_EQ((*add)[4], "***") << "no password in the journal";
    const auto* status = find("event", "StreamPullControl::OnStreamStatus");
    ASSERT_TRUE(status);
    EXPECT_EQ((*status)[3], "6");
    EXPECT_TRUE(find("call", "StreamPullControl::DelStream"));
    EXPECT_TRUE(find("call", "StreamPullControl::StopAll"));
}

} // namespace
