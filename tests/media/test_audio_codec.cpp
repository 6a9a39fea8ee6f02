// The talk-back decoder: G.711 against ffmpeg, packet order, prebuffering and
// resuming, bounds on device packets, and a machine without a sound device.
#include "media/audio_codec.h"
#include "tests/media/audio_test_util.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace audiotest;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const std::string& path, const void* data, size_t n)
{
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), std::streamsize(n));
}

bool RunCmd(const std::string& cmd)
{
    const int rc = std::system(cmd.c_str());
    return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

class TempFolder {
public:
    TempFolder()
    {
        char tmpl[] = "/tmp/qelm2-audio-XXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempFolder() { fs::remove_all(m_path); }
    std::string operator/(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace

TEST(G711Test, KnownCodesDecode)
{
    EXPECT_EQ(MulawToLinear(0xFF), 0);
    EXPECT_EQ(MulawToLinear(0x80), 32124);
    EXPECT_EQ(MulawToLinear(0x00), -32124);
    EXPECT_EQ(MulawToLinear(0x7F), 0);
}

// A 1 kHz tone made and mu-law encoded by ffmpeg: our decoding of its bytes
// equals ffmpeg's decoding of the same bytes, sample for sample, and every
// code of the table decodes as ffmpeg decodes it.
TEST(G711Test, ToneDecodesLikeFfmpeg)
{
    TempFolder dir;
    const std::string ulaw = dir / "tone.ul", ffpcm = dir / "tone.s16";
    ASSERT_TRUE(RunCmd("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=8000:duration=0.5 -ac 1 -f mulaw '" +
                    ulaw + "'"));
    std::vector<uint8_t> bytes = Slurp(ulaw);
    ASSERT_EQ(bytes.size(), 4000u);
    for (int c = 0; c < 256; ++c)
        bytes.push_back(uint8_t(c));
    Spit(ulaw, bytes.data(), bytes.size());
    ASSERT_TRUE(RunCmd("ffmpeg -v error -y -f mulaw -ar 8000 -ac 1 -i '" + ulaw + "' -f s16le '" + ffpcm + "'"));
    const std::vector<uint8_t> want = Slurp(ffpcm);
    ASSERT_EQ(want.size(), bytes.size() * 2);

    std::vector<int16_t> ours(bytes.size());
    G711MulawDecode(bytes.data(), int(bytes.size()), ours.data());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int16_t w = int16_t(want[2 * i] | (want[2 * i + 1] << 8));
        ASSERT_EQ(ours[i], w) << "sample " << i << ", code 0x" << std::hex << int(bytes[i]);
    }
    // The tone is a tone: its peak is near full scale.
    const auto peak = *std::max_element(ours.begin(), ours.begin() + 4000);
    EXPECT_GT(peak, 3000);
}

// The encoder beside the decoder: every code survives decoding and encoding
// again, and a ramp of samples comes back within one step of its segment,
// at most one code from ffmpeg's own encoding (which rounds to the nearest
// code where the G.711 reference truncates).
TEST(G711Test, EncoderInvertsTheDecoder)
{
    for (int c = 0; c < 256; ++c) {
        if (c == 0x7F)
            continue;  // the second zero
        EXPECT_EQ(LinearToMulaw(MulawToLinear(uint8_t(c))), c) << c;
    }
    TempFolder dir;
    std::vector<int16_t> ramp;
    for (int v = -32768; v <= 32767; v += 37)
        ramp.push_back(int16_t(v));
    const std::string pcm = dir / "ramp.s16", ulaw = dir / "ramp.ul";
    Spit(pcm, ramp.data(), ramp.size() * 2);
    ASSERT_TRUE(RunCmd("ffmpeg -v error -y -f s16le -ar 8000 -ac 1 -i '" + pcm + "' -f mulaw '" + ulaw + "'"));
    const std::vector<uint8_t> ff = Slurp(ulaw);
    ASSERT_EQ(ff.size(), ramp.size());
    std::vector<uint8_t> ours(ramp.size());
    G711MulawEncode(ramp.data(), int(ramp.size()), ours.data());
    for (size_t i = 0; i < ramp.size(); ++i) {
        const int x = ramp[i];
        const int back = MulawToLinear(ours[i]);
        const int step = 8 << ((~ours[i] & 0x70) >> 4);
        ASSERT_LE(std::abs(back - std::clamp(x, -32124, 32124)), step) << x;
        ASSERT_LE(std::abs(back - MulawToLinear(ff[i])), step) << x;
    }
}

TEST(AudioRendererTest, VolumeAndRoomState)
{
    EXPECT_EQ(AudioRenderer::VolumeHundredthsDb(100), -70);
    EXPECT_EQ(AudioRenderer::VolumeHundredthsDb(0), -7000);
    EXPECT_EQ(AudioRenderer::VolumeHundredthsDb(50), -700);

    auto state = std::make_shared<FakeAudioState>();
    ScopedFakeAudio fake(state);
    AudioRenderer r;
    EXPECT_EQ(r.GetRoomState(), -1);  // no buffer
    EXPECT_EQ(r.Reset(), -1);
    ASSERT_TRUE(r.Init(nullptr));
    IAudioOutput* buf = r.AllocDSoundBuffer(PcmFormat{}, 10240);
    ASSERT_NE(buf, nullptr);
    state->drainAtOnce = false;
    struct Case {
        int queued;
        int room;
    } cases[] = {{0, -1}, {1, 1}, {2047, 1}, {2048, 0}, {10240, 0}, {50000, 0}};
    for (const Case& c : cases) {
        state->queued = c.queued;
        EXPECT_EQ(r.GetRoomState(), c.room) << c.queued;
    }
    std::vector<uint8_t> big(10241);
    EXPECT_FALSE(r.Write(buf, big.data(), 10241));  // more than the ring
    EXPECT_TRUE(r.Write(buf, big.data(), 10240));
    EXPECT_TRUE(state->playing);
}

class AudioCodecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_codec.SetClock([this] { return m_now.load(); });
    }
    void TearDown() override { m_codec.CloseDec(); }

    int Feed(uint32_t key, int payload = 160, uint8_t kind = 3)
    {
        const auto p = MakePacket(key, payload, FillOf(key), kind, uint16_t(key));
        return m_codec.InputData(p.data(), int(p.size()));
    }
    // Waits until n writes were made, and a little more to see none follows.
    int WritesSettled(int n)
    {
        WaitUntil([&] { return m_state->writeCount >= n; });
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return m_state->writeCount;
    }

    std::shared_ptr<FakeAudioState> m_state = std::make_shared<FakeAudioState>();
    ScopedFakeAudio m_fake{m_state};
    std::atomic<int64_t> m_now{1000000};
    CAudioCodec m_codec;
};

TEST_F(AudioCodecTest, OpenMakesTheRingFromTheParameters)
{
    m_codec.m_nSampleRate = 8000;
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    EXPECT_EQ(m_codec.OpenDec(nullptr), 0);  // already open
    EXPECT_EQ(m_state->ringBytes, 10240);
    EXPECT_EQ(m_state->format.samplesPerSec, 8000u);
    EXPECT_EQ(m_state->format.bitsPerSample, 16);
    EXPECT_EQ(m_state->format.channels, 1);
    EXPECT_EQ(m_state->format.blockAlign, 2);
    EXPECT_EQ(m_state->format.avgBytesPerSec, 16000u);
    EXPECT_EQ(m_state->volumes.front(), -70);
    EXPECT_EQ(m_codec.CloseDec(), 0);
    EXPECT_TRUE(m_state->stopped);
    EXPECT_EQ(m_state->alive, 0);
    EXPECT_EQ(Feed(0), -1);  // closed
}

// What a device's talk answer may say: values the ring cannot take are
// replaced by the talk-back default before the ring is made.
TEST_F(AudioCodecTest, DeviceParametersAreClamped)
{
    struct Case {
        int rate, bits, channels;
        unsigned wantRate;
        int wantBits, wantChannels;
    } cases[] = {
        {0, 0, 0, 8000, 16, 1},
        {-8000, -16, -1, 8000, 16, 1},
        {2000000000, 24, 99, 8000, 16, 1},
        {48000, 8, 2, 48000, 8, 2},
        {16000, 16, 1, 16000, 16, 1},
    };
    for (const Case& c : cases) {
        CAudioCodec codec;
        codec.m_nSampleRate = c.rate;
        codec.m_nBitsPerSample = c.bits;
        codec.m_nChannels = c.channels;
        ASSERT_EQ(codec.OpenDec(nullptr), 0) << c.rate;
        EXPECT_EQ(m_state->format.samplesPerSec, c.wantRate) << c.rate;
        EXPECT_EQ(m_state->format.bitsPerSample, c.wantBits) << c.rate;
        EXPECT_EQ(m_state->format.channels, c.wantChannels) << c.rate;
        EXPECT_EQ(m_state->format.avgBytesPerSec, m_state->format.blockAlign * m_state->format.samplesPerSec);
        EXPECT_GT(m_state->format.blockAlign, 0);
    }
}

TEST_F(AudioCodecTest, NinePacketsWaitTheTenthStartsWithTheLowestKey)
{
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    for (uint32_t key = 1; key <= 9; ++key)
        ASSERT_EQ(Feed(key), 0);
    EXPECT_TRUE(WaitUntil([&] { std::lock_guard l(m_state->m); return m_state->resets > 2; }));
    EXPECT_EQ(m_state->writeCount, 0);
    EXPECT_FALSE(m_codec.IsPlaying());
    EXPECT_EQ(m_state->volumes.back(), -7000);  // muted while prebuffering

    ASSERT_EQ(Feed(0), 0);
    ASSERT_TRUE(WaitUntil([&] { return m_state->writeCount >= 1; }));
    EXPECT_EQ(m_state->FirstSamples()[0], SampleOf(0));
    EXPECT_TRUE(m_codec.IsPlaying());
    std::lock_guard l(m_state->m);
    EXPECT_EQ(m_state->writes[0].size(), 160u);
    // Full volume for the packet after the muted prebuffering.
    const auto mute = std::find(m_state->volumes.begin(), m_state->volumes.end(), -7000);
    EXPECT_NE(std::find(mute, m_state->volumes.end(), -70), m_state->volumes.end());
}

// The ring drains at once here, so each packet finds it drained: playing goes
// on while 8 or more packets wait, and otherwise once 125 ms passed since
// the last one was played.
TEST_F(AudioCodecTest, DrainedRingResumesAtEightPacketsOrAfter125Ms)
{
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    for (uint32_t key = 0; key < 10; ++key)
        ASSERT_EQ(Feed(key), 0);
    EXPECT_EQ(WritesSettled(3), 3);  // 10, 9 and 8 waiting: played; 7 left
    EXPECT_EQ(m_codec.QueuedPackets(), 7u);

    ASSERT_EQ(Feed(10), 0);  // 8 waiting again
    EXPECT_EQ(WritesSettled(4), 4);

    m_now += 124;
    EXPECT_EQ(WritesSettled(4), 4);
    m_now += 1;
    EXPECT_EQ(WritesSettled(5), 5);
    m_now += 125;
    EXPECT_EQ(WritesSettled(6), 6);
    const std::vector<int16_t> want = {SampleOf(0), SampleOf(1), SampleOf(2), SampleOf(3), SampleOf(4), SampleOf(5)};
    EXPECT_EQ(m_state->FirstSamples(), want);
}

TEST_F(AudioCodecTest, OutOfOrderPacketsPlayInKeyOrder)
{
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    const uint32_t keys[] = {5, 2, 9, 0, 7, 1, 8, 3, 6, 4};
    for (uint32_t k : keys)
        ASSERT_EQ(Feed(k), 0);
    EXPECT_EQ(WritesSettled(3), 3);
    // A packet with a key already queued replaces the queued one.
    ASSERT_EQ(Feed(4), 0);
    EXPECT_EQ(m_codec.QueuedPackets(), 7u);
    ASSERT_TRUE(WaitUntil([&] {
        m_now += 125;
        return m_state->writeCount >= 10;
    }));
    std::vector<int16_t> want;
    for (uint32_t k = 0; k < 10; ++k)
        want.push_back(SampleOf(k));
    EXPECT_EQ(m_state->FirstSamples(), want);

    // The queue ran empty: prebuffering again, nine packets do not play.
    for (uint32_t k = 20; k < 29; ++k)
        ASSERT_EQ(Feed(k), 0);
    m_now += 1000;
    EXPECT_EQ(WritesSettled(10), 10);
}

TEST_F(AudioCodecTest, BadPayloadSizeAndVideoKindAreDroppedAtDecode)
{
    ScopedLog log("audio_codec_drop");
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    ASSERT_EQ(Feed(0, 1361), 0);
    ASSERT_EQ(Feed(1, 1360), 0);
    ASSERT_EQ(Feed(2, 160, 0), 0);  // frame kind 0: video
    for (uint32_t k = 3; k < 10; ++k)
        ASSERT_EQ(Feed(k), 0);
    ASSERT_TRUE(WaitUntil([&] {
        m_now += 125;
        return m_state->writeCount >= 8;
    }));
    {
        std::lock_guard l(m_state->m);
        EXPECT_EQ(m_state->writes[0].size(), 1360u);  // key 1: 2,720 bytes
        EXPECT_EQ(m_state->writes[0][0], SampleOf(1));
        EXPECT_EQ(m_state->writes[1][0], SampleOf(3));
    }
    m_codec.CloseDec();
    EXPECT_TRUE(log.Has("Decode audio data failed. payload_size=1361, streamtype=3"));
    EXPECT_TRUE(log.Has("Decode audio data failed. payload_size=160, streamtype=0"));
    EXPECT_TRUE(log.Has("begin decode audio data."));
    EXPECT_TRUE(log.Has("CAudioCodec: close decoder."));
}

// Device data is outside input: a packet is queued only when it holds its
// whole header, fits one block and carries the payload its header announces.
TEST_F(AudioCodecTest, MalformedPacketsAreRefused)
{
    ScopedLog log("audio_codec_input");
    m_state->full = true;  // nothing is taken out of the queue
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> packet;
        int length;
        int result;
    };
    auto truncated = MakePacket(1, 160, 0x33);
    auto oversized = MakePacket(2, 1600, 0x33);  // 1,620 bytes
    auto liar = MakePacket(3, 100, 0x33);
    reinterpret_cast<PacketHead*>(liar.data())->size = 101;
    auto empty = MakePacket(4, 0, 0x33);
    std::vector<Case> cases = {
        {"no bytes", {}, 0, -1},
        {"half a header", std::vector<uint8_t>(10, 0), 10, -1},
        {"header less one", std::vector<uint8_t>(19, 0), 19, -1},
        {"negative length", truncated, -5, -1},
        {"oversized", oversized, int(oversized.size()), -1},
        {"one byte over the block", MakePacket(5, 1581, 0x33), 1601, -1},
        {"payload beyond the bytes", liar, int(liar.size()), -1},
        {"cut short", truncated, 100, -1},
        {"header only", empty, 20, 0},
        {"a full block", MakePacket(6, 1580, 0x33), 1600, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_codec.InputData(c.packet.empty() ? nullptr : c.packet.data(), c.length), c.result) << c.what;
    EXPECT_EQ(m_codec.QueuedPackets(), 2u);
    EXPECT_TRUE(log.Has("CAudioCodec: pPacketHead->pack_seq = "));
}

TEST_F(AudioCodecTest, QueueIsBounded)
{
    m_state->full = true;
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    int refused = 0;
    for (uint32_t k = 0; k < CAudioCodec::kMaxQueued + 50; ++k)
        refused += Feed(k) != 0;
    EXPECT_EQ(refused, 50);
    EXPECT_EQ(m_codec.QueuedPackets(), CAudioCodec::kMaxQueued);
    // A queued key may still be replaced.
    EXPECT_EQ(Feed(0), 0);
}

// Each decoder has its own lock: one whose sound device hangs in a write
// holds up only itself, and closing one leaves the other playing.
namespace {
class HangingOutput : public FakeAudioOutput {
public:
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool entered = false, open = false;
    };
    HangingOutput(std::shared_ptr<FakeAudioState> s, std::shared_ptr<Gate> g) : FakeAudioOutput(std::move(s)), m_g(std::move(g)) {}
    bool Write(const uint8_t* pcm, int n) override
    {
        std::unique_lock lock(m_g->m);
        m_g->entered = true;
        m_g->cv.notify_all();
        m_g->cv.wait(lock, [&] { return m_g->open; });
        lock.unlock();
        return FakeAudioOutput::Write(pcm, n);
    }

private:
    std::shared_ptr<Gate> m_g;
};
} // namespace

TEST_F(AudioCodecTest, DecodersDoNotShareALock)
{
    auto gate = std::make_shared<HangingOutput::Gate>();
    auto hungState = std::make_shared<FakeAudioState>();
    CAudioCodec hung;
    hung.SetClock([this] { return m_now.load(); });
    qelm::SetAudioOutputFactory([&] { return std::make_unique<HangingOutput>(hungState, gate); });
    ASSERT_EQ(hung.OpenDec(nullptr), 0);
    qelm::SetAudioOutputFactory([this] { return std::make_unique<FakeAudioOutput>(m_state); });
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);

    for (uint32_t k = 0; k < 10; ++k) {
        const auto p = MakePacket(k, 160, FillOf(k));
        ASSERT_EQ(hung.InputData(p.data(), int(p.size())), 0);
    }
    {
        std::unique_lock lock(gate->m);
        ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(30), [&] { return gate->entered; }));
    }
    // The other decoder takes and plays its packets meanwhile.
    auto fed = std::async(std::launch::async, [&] {
        for (uint32_t k = 0; k < 10; ++k)
            Feed(k);
        return WaitUntil([&] { return m_state->writeCount >= 3; }, 30000);
    });
    const bool done = fed.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    {
        std::lock_guard lock(gate->m);
        gate->open = true;
    }
    gate->cv.notify_all();
    ASSERT_TRUE(done);
    EXPECT_TRUE(fed.get());
    hung.CloseDec();
    EXPECT_EQ(Feed(10), 0);  // still open after the other closed
}

TEST_F(AudioCodecTest, OtherCodecOpensButPlaysNothing)
{
    m_codec.m_nAudioType = CAudioCodec::kOtherCodec;
    ASSERT_EQ(m_codec.OpenDec(nullptr), 0);
    EXPECT_EQ(m_state->ringBytes, 20480);
    for (uint32_t k = 0; k < 12; ++k)
        ASSERT_EQ(Feed(k), 0);
    m_now += 1000;
    EXPECT_EQ(WritesSettled(0), 0);
}

TEST(AudioCodecNoDeviceTest, OpenFailsAndPacketsAreRefused)
{
    ScopedLog log("audio_codec_nodev");
    struct Case {
        const char* what;
        std::shared_ptr<FakeAudioState> state;
        int type;
        int result;
        const char* line;
    };
    auto refusing = std::make_shared<FakeAudioState>();
    refusing->refuseBuffer = true;
    const Case cases[] = {
        {"no sound device", nullptr, 0, -2,
         "Initialize DirectSound failed! Please check sound device and install DirectX 9.0 or above."},
        {"format refused", refusing, 0, -1, "CAudioCodec: alloc dsound buffer failed."},
        {"unknown audio type", std::make_shared<FakeAudioState>(), 7, -1, "CAudioCodec: alloc dsound buffer failed."},
    };
    for (const Case& c : cases) {
        ScopedFakeAudio fake(c.state);
        CAudioCodec codec;
        codec.m_nAudioType = c.type;
        EXPECT_EQ(codec.OpenDec(nullptr), c.result) << c.what;
        EXPECT_FALSE(codec.IsOpen()) << c.what;
        const auto p = MakePacket(0, 160, 0xFF);
        EXPECT_EQ(codec.InputData(p.data(), int(p.size())), -1) << c.what;
        EXPECT_TRUE(log.Has(c.line)) << c.what;
        if (c.state) {
            EXPECT_EQ(c.state->alive, 0) << c.what;
        }
    }
    EXPECT_TRUE(log.Has("CAudioCodec: decode hav't open,decode refuse."));
}

// This machine's own output: with or without a sound device, opening and
// closing neither crashes nor blocks.
TEST(AudioCodecNoDeviceTest, DefaultOutputOpensOrReportsNoDevice)
{
    CAudioCodec codec;
    const int r = codec.OpenDec(nullptr);
    EXPECT_TRUE(r == 0 || r == -2 || r == -1) << r;
    EXPECT_EQ(codec.CloseDec(), 0);
}
