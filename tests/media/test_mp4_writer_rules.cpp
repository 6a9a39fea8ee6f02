// CMP4Writer's rules on synthetic frames: open results and names, sample
// durations (time stamps, audio drift), parameter sets, start-code
// conversion, audio headers and the H.265 collection.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "platform/clock.h"
#include "tests/media/media_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <type_traits>

using namespace mp4test;

static_assert(!std::is_copy_assignable_v<CMP4Writer>, "a copy would share the file and the lock");
static_assert(!std::is_copy_constructible_v<CMP4Writer>);

namespace {

const std::vector<uint8_t> kSps = {0x67, 0x4D, 0x40, 0x28, 0x95, 0xA0, 0x1E};
const std::vector<uint8_t> kPps = {0x68, 0xEE, 0x3C, 0x80};

std::vector<uint8_t> Unit(uint8_t header, size_t size, uint8_t fill)
{
    std::vector<uint8_t> u(size, fill);
    u[0] = header;
    return u;
}

// A key frame (SPS, PPS, IDR slice) or a P-frame slice, Annex-B.
std::vector<uint8_t> H264Frame(bool key, size_t size = 200)
{
    if (key)
        return AnnexB({kSps, kPps, Unit(0x65, size, 0x11)});
    return AnnexB({Unit(0x41, size, 0x22)});
}

VideoParam Video(const char* codec = "H264", int rate = 25)
{
    VideoParam v{};
    snprintf(v.codecName, sizeof(v.codecName), "%s", codec);
    v.width = 320;
    v.height = 240;
    v.frameRate = rate;
    return v;
}

AudioParam Audio(const char* codec, int rate, int channels = 1)
{
    AudioParam a{};
    snprintf(a.codecName, sizeof(a.codecName), "%s", codec);
    a.sampleRate = rate;
    a.bitsPerSample = 16;
    a.channels = channels;
    return a;
}

// Durations (track units) of a track's samples in a finished file.
std::vector<uint64_t> Durations(const std::string& name, const char* type)
{
    std::vector<uint64_t> d;
    MP4FileHandle f = MP4Read(name.c_str());
    if (!f)
        return d;
    const MP4TrackId t = MP4FindTrackId(f, 0, type);
    for (MP4SampleId id = 1; id <= MP4GetTrackNumberOfSamples(f, t); ++id)
        d.push_back(MP4GetSampleDuration(f, t, id));
    MP4Close(f);
    return d;
}

std::vector<uint8_t> Sample(const std::string& name, const char* type, MP4SampleId id)
{
    MP4FileHandle f = MP4Read(name.c_str());
    if (!f)
        return {};
    uint8_t* p = nullptr;
    uint32_t n = 0;
    std::vector<uint8_t> out;
    if (MP4ReadSample(f, MP4FindTrackId(f, 0, type), id, &p, &n))
        out.assign(p, p + n);
    MP4Free(p);
    MP4Close(f);
    return out;
}

// The units of a length-prefixed sample (empty when the lengths do not add up).
std::vector<std::vector<uint8_t>> LengthUnits(const std::vector<uint8_t>& s)
{
    std::vector<std::vector<uint8_t>> units;
    size_t p = 0;
    while (p + 4 <= s.size()) {
        const size_t n = (size_t(s[p]) << 24) | (size_t(s[p + 1]) << 16) | (size_t(s[p + 2]) << 8) | s[p + 3];
        if (n > s.size() - p - 4)
            return {};
        units.emplace_back(s.begin() + long(p + 4), s.begin() + long(p + 4 + n));
        p += 4 + n;
    }
    return p == s.size() ? units : std::vector<std::vector<uint8_t>>{};
}

TEST(Mp4WriterOpenTest, ResultsAndNames)
{
    TempDir dir;
    CMP4Writer w;
    VideoParam v = Video();
    EXPECT_EQ(-1, w.OpenWrite(nullptr, &v, nullptr));
    EXPECT_EQ(-1, w.OpenWrite((dir / "a.mp4").c_str(), nullptr, nullptr));
    const std::string longName = dir.path() + "/" + std::string(1015 - dir.path().size() - 1, 'x');
    ASSERT_EQ(1015u, longName.size());
    EXPECT_EQ(-2, w.OpenWrite(longName.c_str(), &v, nullptr));
    EXPECT_EQ(-3, w.OpenWrite((dir / "missing/a.mp4").c_str(), &v, nullptr));

    // Neither record gives a track: -10, and no file is left behind.
    VideoParam noSize = Video();
    noSize.width = 0;
    AudioParam noRate = Audio("G711", 0);
    EXPECT_EQ(-10, w.OpenWrite((dir / "none.mp4").c_str(), &noSize, &noRate));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    w.CloseFile();
    EXPECT_TRUE(fs::is_empty(dir.path()));

    // ".tmp" while open (journal beside it), the plain name once closed.
    ASSERT_EQ(0, w.OpenWrite((dir / "b.mp4").c_str(), &v, nullptr));
    EXPECT_TRUE(fs::exists(dir / "b.mp4.tmp"));
    EXPECT_TRUE(fs::exists(dir / "b.mp4.tmp.idx"));
    // Opening again closes and renames the first file.
    ASSERT_EQ(0, w.OpenWrite((dir / "c.mp4.TMP").c_str(), &v, nullptr));
    EXPECT_TRUE(fs::exists(dir / "b.mp4"));
    EXPECT_FALSE(fs::exists(dir / "b.mp4.tmp.idx"));
    EXPECT_TRUE(fs::exists(dir / "c.mp4.TMP"));
    EXPECT_EQ(0, w.CloseFile());
    EXPECT_TRUE(fs::exists(dir / "c.mp4"));
    EXPECT_FALSE(fs::exists(dir / "c.mp4.TMP"));
    // Writes after the close change nothing.
    const auto frame = H264Frame(true);
    EXPECT_EQ(0, w.WriteOneFrame(1, frame.data(), int(frame.size()), 0, 1));
    EXPECT_EQ(0, w.WriteOneFrame(1, nullptr, 0, 0, 1));

    struct NameCase {
        const char* name;
        int result;
    } names[] = {{"a.tmp", 1}, {"A.TmP", 1}, {"x.mp4.tmp", 1}, {".tmp", 0}, {"tmp", 0},
                 {"a.tmpx", 0}, {"a.mp4", 0}, {"", 0},     {nullptr, 0}};
    for (const NameCase& c : names)
        EXPECT_EQ(c.result, w.HaveTempExtname(c.name)) << (c.name ? c.name : "null");
}

TEST(Mp4WriterOpenTest, TracksFromTheParameterRecords)
{
    TempDir dir;
    struct Case {
        VideoParam video;
        bool withVideo;
        AudioParam audio;
        bool withAudio;
        const char* videoEntry; // expected sample entry, null = no video track
        const char* audioEntry;
        uint32_t audioTimeScale;
        uint64_t secondDuration; // after a 2 s gap: the default
    } cases[] = {
        {Video("H264"), true, {}, false, "avc1", nullptr, 0, 3600},
        {Video("H.265"), true, Audio("G711", 8000), true, "hev1", "ulaw", 8000, 3600},
        {Video("H265", 150), true, Audio("MPEG4-GENERIC", 16000), true, "hev1", "mp4a", 16000, 750},
        {Video("H.264", 30), true, Audio("mpeg4-generic", 44100, 2), true, "avc1", "mp4a", 44100, 3000},
        {Video(""), true, Audio("PCMU", 8000), true, nullptr, "ulaw", 8000, 0},
        {Video("H264", 0), true, Audio("AAC", 32000, 2), true, nullptr, "mp4a", 32000, 0},
    };
    int n = 0;
    for (Case& c : cases) {
        const std::string name = dir / ("t" + std::to_string(n++) + ".mp4");
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), c.withVideo ? &c.video : nullptr, c.withAudio ? &c.audio : nullptr))
            << name;
        // A key frame and a second frame, and an audio frame after each.
        const std::vector<uint8_t> key =
            strstr(c.video.codecName, "265")
                ? AnnexB({Unit(0x40, 20, 1), Unit(0x42, 20, 2), Unit(0x44, 5, 3), Unit(0x26, 300, 4)})
                : H264Frame(true);
        const std::vector<uint8_t> pcm(320, 0xFF);
        w.WriteOneFrame(1, key.data(), int(key.size()), 0, 1);
        w.WriteOneFrame(0, pcm.data(), int(pcm.size()), 0, 1);
        w.WriteOneFrame(1, key.data(), int(key.size()), 2000, 1);
        w.WriteOneFrame(0, pcm.data(), int(pcm.size()), 40, 1);
        w.CloseFile();
        MP4FileHandle f = MP4Read(name.c_str());
        ASSERT_NE(nullptr, f) << name;
        const MP4TrackId v = MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE);
        const MP4TrackId a = MP4FindTrackId(f, 0, MP4_AUDIO_TRACK_TYPE);
        if (c.videoEntry) {
            ASSERT_NE(MP4_INVALID_TRACK_ID, v) << name;
            EXPECT_STREQ(c.videoEntry, MP4GetTrackMediaDataName(f, v));
            EXPECT_EQ(90000u, MP4GetTrackTimeScale(f, v));
            EXPECT_EQ(c.secondDuration, MP4GetSampleDuration(f, v, 2)) << name;
        } else {
            EXPECT_EQ(MP4_INVALID_TRACK_ID, v) << name;
        }
        if (c.audioEntry) {
            ASSERT_NE(MP4_INVALID_TRACK_ID, a) << name;
            EXPECT_STREQ(c.audioEntry, MP4GetTrackMediaDataName(f, a));
            EXPECT_EQ(c.audioTimeScale, MP4GetTrackTimeScale(f, a));
        } else {
            EXPECT_EQ(MP4_INVALID_TRACK_ID, a);
        }
        uint64_t level = 0;
        if (c.videoEntry) {
            EXPECT_TRUE(MP4GetIntegerProperty(f, "moov.iods.visualProfileLevelId", &level));
            EXPECT_EQ(0x7Fu, level);
        }
        MP4Close(f);
    }
}

TEST(Mp4WriterDurationTest, TimeStampDeltasWithAudio)
{
    TempDir dir;
    const std::string name = dir / "d.mp4";
    VideoParam v = Video();
    AudioParam a = Audio("G711", 8000);
    CMP4Writer w;
    ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, &a));
    // Video: 0, 40, 80, a 2 s gap, a step back, 40 ms; audio keeps pace.
    const int64_t times[] = {0, 40, 80, 2080, 2060, 2100, 2110, 2113};
    const std::vector<uint8_t> pcm(320, 0x7F);
    for (size_t i = 0; i < std::size(times); ++i) {
        const auto f = H264Frame(i == 0);
        w.WriteOneFrame(1, f.data(), int(f.size()), times[i], i == 0);
        w.WriteOneFrame(0, pcm.data(), int(pcm.size()), times[i], 1);
    }
    w.CloseFile();
    // The first and the out-of-range deltas (gap, backwards, under 6 ms) take
    // 90000 / 25; the others their time stamp delta.
    EXPECT_EQ((std::vector<uint64_t>{3600, 3600, 3600, 3600, 3600, 3600, 900, 3600}), Durations(name, "vide"));
    // G.711: one sample per byte, from the first frame on.
    EXPECT_EQ(std::vector<uint64_t>(std::size(times), 320), Durations(name, "soun"));
}

// Rendering offsets of a track's samples in a finished file.
std::vector<uint64_t> RenderingOffsets(const std::string& name, const char* type)
{
    std::vector<uint64_t> d;
    MP4FileHandle f = MP4Read(name.c_str());
    if (!f)
        return d;
    const MP4TrackId t = MP4FindTrackId(f, 0, type);
    for (MP4SampleId id = 1; id <= MP4GetTrackNumberOfSamples(f, t); ++id) {
        uint8_t* p = nullptr;
        uint32_t n = 0;
        MP4Duration offset = 0;
        if (MP4ReadSample(f, t, id, &p, &n, nullptr, nullptr, &offset))
            d.push_back(offset);
        MP4Free(p);
    }
    MP4Close(f);
    return d;
}

// Two B-frames between references, in decode order (I0 P3 B1 B2 P6 B4 B5)
// stamped with presentation times, each with presentation - decode as the
// stream pull derives it: decode times a frame apart give the durations,
// the offsets show each picture at its own time.
TEST(Mp4WriterDurationTest, BFramesGetDecodeTimeDurationsAndRenderingOffsets)
{
    TempDir dir;
    const std::string name = dir / "b.mp4";
    VideoParam v = Video();
    AudioParam a = Audio("G711", 8000);
    CMP4Writer w;
    ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, &a));
    const int64_t shown[] = {0, 120, 40, 80, 240, 160, 200, 360, 280, 320};
    const int32_t offsetUs[] = {40000, 120000, 0, 0, 120000, 0, 0, 120000, 0, 0};
    const std::vector<uint8_t> pcm(320, 0x7F);
    for (size_t i = 0; i < std::size(shown); ++i) {
        const auto f = H264Frame(i == 0);
        ASSERT_EQ(0, w.WriteOneFrame(1, f.data(), int(f.size()), shown[i], i == 0, offsetUs[i]));
        w.WriteOneFrame(0, pcm.data(), int(pcm.size()), int64_t(i) * 40, 1);
    }
    w.CloseFile();
    EXPECT_EQ(std::vector<uint64_t>(std::size(shown), 3600), Durations(name, "vide"));
    EXPECT_EQ((std::vector<uint64_t>{3600, 10800, 0, 0, 10800, 0, 0, 10800, 0, 0}), RenderingOffsets(name, "vide"));
}

TEST(Mp4WriterDurationTest, VideoFollowsAudioWithinHalfASecond)
{
    TempDir dir;
    VideoParam v = Video();
    AudioParam a = Audio("G711", 8000);
    const std::vector<uint8_t> pcm(320, 0x7F);
    for (bool videoAhead : {true, false}) {
        const std::string name = dir / (videoAhead ? "ahead.mp4" : "behind.mp4");
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, &a));
        const auto key = H264Frame(true);
        w.WriteOneFrame(1, key.data(), int(key.size()), 0, 1);
        // Audio time: 40 ms, or 1.2 s when video is behind.
        for (int i = 0; i < (videoAhead ? 1 : 30); ++i)
            w.WriteOneFrame(0, pcm.data(), int(pcm.size()), i * 40, 1);
        for (int i = 1; i < 30; ++i) {
            const auto p = H264Frame(false);
            w.WriteOneFrame(1, p.data(), int(p.size()), i * 40, 0);
        }
        w.CloseFile();
        const auto d = Durations(name, "vide");
        ASSERT_EQ(30u, d.size());
        // Replay the rule: whole seconds come off both clocks, then the video
        // time written so far is compared with the audio time.
        uint64_t videoTime = 0, audioTime = videoAhead ? 320 : 30 * 320;
        for (size_t i = 0; i < d.size(); ++i) {
            uint64_t want = 3600;
            if (i > 0) {
                while (videoTime > 90000 && audioTime > 8000) {
                    videoTime -= 90000;
                    audioTime -= 8000;
                }
                const int64_t diff = int64_t(videoTime / 90) - int64_t(audioTime / 8);
                if (diff > 500 || diff < -500)
                    want = diff > 0 ? 1800 : 7200;
            }
            EXPECT_EQ(want, d[i]) << (videoAhead ? "ahead " : "behind ") << i;
            videoTime += d[i];
        }
        EXPECT_TRUE(std::any_of(d.begin(), d.end(), [](uint64_t x) { return x != 3600; }))
            << "the correction must have acted";
    }
}

// Video without audio on a busy machine: this machine's clock jumps at
// random between frames, yet every duration follows the camera's stamps; the
// frame rate stands in only where a stamp is missing or goes back.
TEST(Mp4WriterDurationTest, VideoDurationsFollowTheStampsWhateverTheClockDoes)
{
    TempDir dir;
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    ASSERT_GE(aus.size(), 100u) << "no test video";
    const size_t n = 100;
    struct Case {
        const char* name;
        int64_t (*stamp)(size_t i);
        uint64_t totalAfterFirst; // the file's time after the first sample, in 90 kHz units
        std::vector<size_t> fallback; // samples that take 90000 / 25 instead of their stamps
    } cases[] = {
        // 20 fps stamps on a camera clock far from ours, declared as 25 fps.
        {"50ms", [](size_t i) { return int64_t(86'400'000) + int64_t(i) * 50; }, 99 * 4500, {}},
        // 30 fps stamps truncated to whole ms: 33 and 34 ms steps.
        {"30fps", [](size_t i) { return int64_t(i) * 1000 / 30; }, 90 * (99 * 1000 / 30), {}},
        {"missing", [](size_t) { return int64_t(0); }, 99 * 3600, {}},
        // The camera's clock is set back 10 s at frame 50.
        {"backwards", [](size_t i) { return int64_t(i) * 50 - (i >= 50 ? 10'000 : 0); }, 98 * 4500 + 3600, {50}},
    };
    // How long this machine took between two frames, in ms: mostly nothing,
    // now and then a long stall.
    const int stalls[] = {0, 0, 250, 3, 0, 1700, 40, 0, 90, 600, 0, 7};
    struct ClockReset {
        ~ClockReset() { qelm::ResetTestClock(); }
    } reset;
    for (const Case& c : cases) {
        const std::string name = dir / (std::string(c.name) + ".mp4");
        VideoParam v = H264Param();
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr)) << c.name;
        for (size_t i = 0; i < n; ++i) {
            qelm::AdvanceTestClock(std::chrono::milliseconds(stalls[i % std::size(stalls)]));
            w.WriteOneFrame(1, aus[i].data.data(), int(aus[i].data.size()), c.stamp(i), aus[i].key);
        }
        w.CloseFile();
        const auto d = Durations(name, "vide");
        ASSERT_EQ(n, d.size()) << c.name;
        EXPECT_EQ(3600u, d[0]) << c.name << ": the first frame has no step to measure";
        uint64_t total = 0;
        for (size_t i = 1; i < n; ++i) {
            total += d[i];
            const bool fallback = std::find(c.fallback.begin(), c.fallback.end(), i) != c.fallback.end();
            if (fallback) {
                EXPECT_EQ(3600u, d[i]) << c.name << " " << i;
            } else if (c.stamp(i) != c.stamp(i - 1)) {
                EXPECT_EQ(uint64_t(c.stamp(i) - c.stamp(i - 1)) * 90, d[i]) << c.name << " " << i;
            }
        }
        EXPECT_EQ(c.totalAfterFirst, total) << c.name;
        const std::string errors = DecodeErrors(name);
        EXPECT_EQ(std::string::npos, errors.find("non monotonically increasing dts")) << c.name << ": " << errors;
        EXPECT_EQ("", errors) << c.name;
    }
}

TEST(Mp4WriterFrameTest, EveryStartCodeBecomesALength)
{
    TempDir dir;
    const std::string name = dir / "nal.mp4";
    VideoParam v = Video();
    CMP4Writer w;
    ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr));
    // A key frame of seven units with 3- and 4-byte start codes, and a P-frame
    // of three slices; unit bytes contain 00 00 02 and a trailing zero byte.
    const std::vector<std::vector<uint8_t>> keyUnits = {kSps,
                                                        kPps,
                                                        {0x06, 0x05, 0x01, 0x80},
                                                        {0x65, 0x88, 0x00, 0x00, 0x02, 0x10},
                                                        {0x65, 0x89, 0x00, 0x00, 0x03, 0x01},
                                                        {0x65, 0x8A, 0x20},
                                                        {0x65, 0x8B, 0x30}};
    std::vector<uint8_t> key;
    for (size_t i = 0; i < keyUnits.size(); ++i) {
        if (i % 2)
            key.insert(key.end(), {0, 0, 1});
        else
            key.insert(key.end(), {0, 0, 0, 1});
        key.insert(key.end(), keyUnits[i].begin(), keyUnits[i].end());
    }
    key.push_back(0); // trailing zero
    const std::vector<std::vector<uint8_t>> pUnits = {{0x41, 0x9A, 1}, {0x41, 0x9B, 2}, {0x41, 0x9C, 3}};
    std::vector<uint8_t> p = {0, 0, 1, 0x41, 0x9A, 1, 0, 0, 0, 1, 0x41, 0x9B, 2, 0, 0, 1, 0x41, 0x9C, 3};
    const auto leadingP = H264Frame(false);
    w.WriteOneFrame(1, leadingP.data(), int(leadingP.size()), 0, 0); // dropped: no key frame yet
    w.WriteOneFrame(1, key.data(), int(key.size()), 40, 1);
    w.WriteOneFrame(1, p.data(), int(p.size()), 80, 0);
    EXPECT_EQ(2, w.GetWritedVideoFrameCount());
    w.CloseFile();
    EXPECT_EQ(keyUnits, LengthUnits(Sample(name, "vide", 1)));
    EXPECT_EQ(pUnits, LengthUnits(Sample(name, "vide", 2)));
    // avcC has the stream's profile, compatibility and level.
    MP4FileHandle f = MP4Read(name.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId t = MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE);
    uint64_t profile = 0, compat = 0, level = 0;
    EXPECT_TRUE(MP4GetTrackIntegerProperty(f, t, "mdia.minf.stbl.stsd.avc1.avcC.AVCProfileIndication", &profile));
    EXPECT_TRUE(MP4GetTrackIntegerProperty(f, t, "mdia.minf.stbl.stsd.avc1.avcC.profile_compatibility", &compat));
    EXPECT_TRUE(MP4GetTrackIntegerProperty(f, t, "mdia.minf.stbl.stsd.avc1.avcC.AVCLevelIndication", &level));
    EXPECT_EQ(kSps[1], profile);
    EXPECT_EQ(kSps[2], compat);
    EXPECT_EQ(kSps[3], level);
    EXPECT_EQ(1, MP4GetSampleSync(f, t, 1));
    EXPECT_EQ(0, MP4GetSampleSync(f, t, 2));
    MP4Close(f);
}

TEST(Mp4WriterFrameTest, AudioFramesAndTheirHeaders)
{
    TempDir dir;
    VideoParam v = Video();
    const auto key = H264Frame(true);
    // G.711 frames are kept whole, also when they look like ADTS.
    {
        const std::string name = dir / "g711.mp4";
        AudioParam a = Audio("G711", 8000);
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, &a));
        std::vector<uint8_t> silence(160, 0xFF);
        silence[1] = 0xF1;
        w.WriteOneFrame(0, silence.data(), int(silence.size()), 0, 1); // before any video: dropped
        w.WriteOneFrame(1, key.data(), int(key.size()), 0, 1);
        w.WriteOneFrame(0, silence.data(), int(silence.size()), 0, 1);
        w.CloseFile();
        EXPECT_EQ(silence, Sample(name, "soun", 1));
        EXPECT_EQ((std::vector<uint64_t>{160}), Durations(name, "soun"));
    }
    // AAC: ADTS (with and without CRC), ADTS after 4 bytes, an AU header, raw.
    {
        const std::string name = dir / "aac.mp4";
        AudioParam a = Audio("MPEG4-GENERIC", 16000);
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, &a));
        w.WriteOneFrame(1, key.data(), int(key.size()), 0, 1);
        const std::vector<uint8_t> raw = {0x21, 0x10, 0x05, 0x00, 0xA0, 0x1C, 0x33};
        std::vector<std::vector<uint8_t>> frames;
        frames.push_back({0xFF, 0xF1, 0x60, 0x40, 0x01, 0x1F, 0xFC}); // ADTS, no CRC
        frames.push_back({0xFF, 0xF0, 0x60, 0x40, 0x01, 0x1F, 0xFC, 0xAB, 0xCD}); // with CRC
        frames.push_back({1, 2, 3, 4, 0xFF, 0xF1, 0x60, 0x40, 0x01, 0x1F, 0xFC});
        frames.push_back({0x00, 0x10, uint8_t(raw.size() >> 5), uint8_t((raw.size() & 0x1F) << 3)});
        frames.push_back({});
        for (auto& f : frames)
            f.insert(f.end(), raw.begin(), raw.end());
        for (size_t i = 0; i < frames.size(); ++i)
            w.WriteOneFrame(0, frames[i].data(), int(frames[i].size()), int64_t(i) * 64, 1);
        w.CloseFile();
        for (MP4SampleId id = 1; id <= frames.size(); ++id)
            EXPECT_EQ(raw, Sample(name, "soun", id)) << id;
        // The first frame counts one AAC frame; the others their time stamp delta.
        EXPECT_EQ((std::vector<uint64_t>{1024, 1024, 1024, 1024, 1024}), Durations(name, "soun"));
    }
}

TEST(Mp4WriterFrameTest, ParameterSetsFromTheStreamOrTheRecord)
{
    TempDir dir;
    // Sets only in VideoParam: key frames get them in front.
    {
        const std::string name = dir / "param.mp4";
        VideoParam v = Video();
        const auto sets = AnnexB({kSps, kPps});
        memcpy(v.config, sets.data(), sets.size());
        v.configLength = int16_t(sets.size());
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr));
        const auto idr = AnnexB({Unit(0x65, 50, 1)});
        const auto p = H264Frame(false);
        w.WriteOneFrame(1, p.data(), int(p.size()), 0, 0); // no key frame yet: dropped
        w.WriteOneFrame(1, idr.data(), int(idr.size()), 40, 1);
        w.WriteOneFrame(1, p.data(), int(p.size()), 80, 0);
        w.WriteOneFrame(1, idr.data(), int(idr.size()), 120, 0); // an IDR is a key frame whatever the flag
        w.CloseFile();
        EXPECT_EQ((std::vector<std::vector<uint8_t>>{kSps, kPps, Unit(0x65, 50, 1)}),
                  LengthUnits(Sample(name, "vide", 1)));
        EXPECT_EQ(NalUnits(p), LengthUnits(Sample(name, "vide", 2)));
        EXPECT_EQ((std::vector<std::vector<uint8_t>>{kSps, kPps, Unit(0x65, 50, 1)}),
                  LengthUnits(Sample(name, "vide", 3)));
    }
    // Without sets anywhere nothing is written.
    {
        const std::string name = dir / "none.mp4";
        VideoParam v = Video();
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr));
        const auto idr = AnnexB({Unit(0x65, 50, 1)});
        w.WriteOneFrame(1, idr.data(), int(idr.size()), 0, 1);
        EXPECT_EQ(0, w.GetWritedVideoFrameCount());
        w.CloseFile();
    }
    // A frame that is not Annex-B is written as it comes.
    {
        const std::string name = dir / "raw.mp4";
        VideoParam v = Video();
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr));
        const std::vector<uint8_t> raw = {0, 0, 0, 3, 0x65, 1, 2};
        w.WriteOneFrame(1, raw.data(), int(raw.size()), 0, 1);
        EXPECT_EQ(1, w.GetWritedVideoFrameCount());
        w.CloseFile();
        EXPECT_EQ(raw, Sample(name, "vide", 1));
    }
}

TEST(Mp4WriterFrameTest, H265CollectionAcrossFrames)
{
    CMP4Writer w;
    NalPositions pos{};
    const auto vps = Unit(0x40, 24, 1), sps = Unit(0x42, 30, 2), pps = Unit(0x44, 6, 3);
    auto h264 = H264Frame(true);
    EXPECT_EQ(0, w.CheckH264SpsPpsInConfig(0, reinterpret_cast<char*>(h264.data()), int(h264.size()), &pos, 3));
    // An access unit delimiter in front does not hide the VPS.
    auto f1 = AnnexB({Unit(0x46, 3, 0x50), vps});
    auto f2 = AnnexB({sps});
    auto f3 = AnnexB({pps});
    EXPECT_EQ(0, w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(f2.data()), int(f2.size()), &pos, 3))
        << "an SPS before any VPS is not taken";
    EXPECT_EQ(0, w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(f1.data()), int(f1.size()), &pos, 3));
    EXPECT_EQ(0, w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(f2.data()), int(f2.size()), &pos, 3));
    EXPECT_EQ(0, w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(f3.data()), int(f3.size()), &pos, 2));
    ASSERT_EQ(1, w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(f3.data()), int(f3.size()), &pos, 3));
    EXPECT_EQ(4, pos.nal[0].offset);
    EXPECT_EQ(24, pos.nal[0].length);
    EXPECT_EQ(4 + 24 + 4, pos.nal[1].offset);
    EXPECT_EQ(30, pos.nal[1].length);
    EXPECT_EQ(4 + 24 + 4 + 30 + 4, pos.nal[2].offset);
    EXPECT_EQ(6, pos.nal[2].length);
}

} // namespace
