// Tests of the AVI record file reader: round trips through the writer, the
// per-second key table, crafted and damaged files, key-frame rules, and the
// record control's files read back as the record search reads them.
#include "media/avi_reader.h"

#include "controls/avi_record.h"
#include "tests/controls/avi_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace avitest;

namespace {

struct Chunk {
    bool video;
    bool key;
    std::vector<uint8_t> data;
};

// Writes a file with the writer; returns the chunks as the file holds them
// (the first video chunk with the configuration in front).
std::vector<Chunk> WriteAvi(const std::string& path, const char* codec, const std::vector<Frame>& video,
                            const std::vector<Frame>& audio, int rate = 25, const std::vector<uint8_t>& config = {})
{
    AviVideoDesc v{};
    strncpy(v.codec, codec, sizeof(v.codec) - 1);
    v.width = 176;
    v.height = 144;
    v.frameRate = rate;
    v.bitRate = 256000;
    if (!config.empty())
        memcpy(v.config, config.data(), std::min<size_t>(config.size(), 256));
    v.configLength = int32_t(std::min<size_t>(config.size(), 256));
    AviAudioDesc a{};
    strcpy(a.codec, "G711");
    a.sampleRate = 8000;
    a.bitsPerSample = 16;
    a.channels = 1;
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    w.SetMediaParam(!audio.empty(), 0, &a, &v);
    EXPECT_EQ(w.Start(), 1);
    std::vector<Chunk> chunks;
    for (size_t i = 0; i < std::max(video.size(), audio.size()); ++i) {
        if (i < video.size()) {
            const bool first = chunks.empty() || std::none_of(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.video; });
            if (w.WriteVideoFrame(video[i].key, video[i].data.data(), int(video[i].data.size())) == 0) {
                Chunk c{true, video[i].key, {}};
                if (first)
                    c.data = config;
                c.data.insert(c.data.end(), video[i].data.begin(), video[i].data.end());
                chunks.push_back(std::move(c));
            }
        }
        if (i < audio.size() && w.WriteAudioFrame(audio[i].data.data(), int(audio[i].data.size())) == 0)
            chunks.push_back({false, true, audio[i].data});
    }
    EXPECT_EQ(w.Stop(), 1);
    return chunks;
}

// Tiny H.264-like frames: an IDR every `gop` frames, P slices between.
std::vector<Frame> FakeH264(size_t n, size_t gop, size_t size = 24)
{
    std::vector<Frame> frames;
    for (size_t i = 0; i < n; ++i) {
        Frame f;
        f.key = i % gop == 0;
        f.data.assign(size, uint8_t(i));
        f.data[0] = f.data[1] = f.data[2] = 0;
        f.data[3] = 1;
        f.data[4] = f.key ? 0x65 : 0x41;
        f.data[5] = f.key ? 0x88 : 0x9A; // first_mb 0; I slice / P slice
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<Chunk> ReadAll(CReadAviFile& r, int* last = nullptr)
{
    std::vector<Chunk> chunks;
    std::vector<uint8_t> buf(CReadAviFile::kMaxFrameSize);
    while (true) {
        int video = -1, key = -1;
        const int n = r.ReadOneFrame(buf.data(), int(buf.size()), &video, &key);
        if (n <= 0) {
            if (last)
                *last = n;
            break;
        }
        chunks.push_back({video == 1, key == 1, std::vector<uint8_t>(buf.begin(), buf.begin() + n)});
    }
    return chunks;
}

const std::vector<Frame>& H264Frames()
{
    static const std::vector<Frame> f = SplitStream(Streams::Get().H264(4), "h264");
    return f;
}

const std::vector<Frame>& MulawFrames()
{
    static const std::vector<Frame> f = SplitRaw(Streams::Get().Mulaw(4), 320);
    return f;
}

void Patch32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    avi::Put32(&b[at], v);
}

} // namespace

TEST(AviReader, RoundTripOfARecordingWithAudio)
{
    TempDir dir;
    const std::string path = dir / "rec.avi";
    const auto& video = H264Frames();
    ASSERT_EQ(video.size(), 100u);
    const std::vector<uint8_t> config = ParameterSets(video[0].data, false);
    ASSERT_FALSE(config.empty());
    const std::vector<Chunk> written = WriteAvi(path, "H264", video, MulawFrames(), 25, config);

    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    EXPECT_FALSE(r.IndexRebuilt());
    EXPECT_EQ(r.GetMediaType(), 17);
    EXPECT_EQ(r.GetAllTime(), 4);
    uint8_t type = 0;
    VideoParam vp;
    AudioParam ap;
    ASSERT_EQ(r.GetMediaParam(&type, &vp, &ap), 0);
    EXPECT_EQ(type, 17);
    EXPECT_STREQ(vp.codecName, "H264");
    EXPECT_EQ(vp.width, 176);
    EXPECT_EQ(vp.height, 144);
    EXPECT_EQ(vp.extra, 0);
    EXPECT_EQ(vp.frameRate, 25);
    EXPECT_EQ(vp.bitRate, 256000);
    ASSERT_EQ(vp.configLength, int16_t(config.size())); // the parameter sets, parsed
    EXPECT_TRUE(std::equal(config.begin(), config.end(), vp.config));
    EXPECT_STREQ(ap.codecName, "G711");
    EXPECT_EQ(ap.sampleRate, 8000);
    EXPECT_EQ(ap.bitsPerSample, 16);
    EXPECT_EQ(ap.channels, 1);
    EXPECT_EQ(ap.extra1, 8);
    EXPECT_EQ(ap.extra2, 64000);

    int last = 0;
    const std::vector<Chunk> read = ReadAll(r, &last);
    EXPECT_EQ(last, -2);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].video, written[i].video);
        EXPECT_EQ(read[i].key, written[i].key);
        EXPECT_EQ(read[i].data, written[i].data);
    }

    // Seeking by the per-second key table.
    std::vector<uint8_t> buf(CReadAviFile::kMaxFrameSize);
    for (int s : {2, 0, 3}) {
        SCOPED_TRACE(s);
        ASSERT_EQ(r.SeekToTime(s), 0);
        EXPECT_EQ(r.GetCurTime(), s);
        int isVideo = 0, key = 0;
        const int n = r.ReadOneFrame(buf.data(), int(buf.size()), &isVideo, &key);
        EXPECT_EQ(isVideo, 1);
        EXPECT_EQ(key, 1);
        const std::vector<uint8_t>& want = s == 0 ? written[0].data : video[size_t(s) * 25].data;
        ASSERT_EQ(n, int(want.size()));
        EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin()));
        EXPECT_EQ(r.GetCurTime(), s + 1 < 4 ? s + 1 : -1);
    }
    EXPECT_EQ(r.SeekToTime(4), -1);
    EXPECT_EQ(r.SeekToTime(-1), -1);
    ASSERT_EQ(r.SeekToTime(1), 0);
    const double pos1 = r.GetPlayPos();
    EXPECT_EQ(r.MoveNextKeyFrame(), 0);
    EXPECT_EQ(r.GetCurTime(), 2);
    EXPECT_GT(r.GetPlayPos(), pos1);
    EXPECT_LE(r.GetPlayPos(), 1.0);
    ASSERT_EQ(r.SeekToTime(3), 0);
    EXPECT_EQ(r.MoveNextKeyFrame(), -4);
    EXPECT_EQ(r.Close(), 1);
    EXPECT_EQ(r.ReadOneFrame(buf.data(), int(buf.size()), nullptr, nullptr), -1);
    EXPECT_EQ(r.SeekToTime(0), -1);
    EXPECT_EQ(r.GetPlayPos(), 0.0);
    EXPECT_EQ(r.GetMediaParam(&type, &vp, &ap), -1);
}

TEST(AviReader, SecondCountAndKeyTable)
{
    struct Case {
        size_t chunks;
        int rate;
        int seconds;
    };
    TempDir dir;
    for (const Case& c : {Case{1625, 25, 65}, Case{10, 25, 1}, Case{30, 25, 1}, Case{50, 25, 2}, Case{12, 1, 12}}) {
        SCOPED_TRACE(c.chunks);
        const std::string path = dir / "n.avi";
        WriteAvi(path, "H264", FakeH264(c.chunks, size_t(c.rate)), {}, c.rate);
        CReadAviFile r;
        ASSERT_EQ(r.Open(path.c_str()), 1);
        EXPECT_EQ(r.GetMediaType(), 16);
        EXPECT_EQ(r.GetAllTime(), c.seconds);
        EXPECT_EQ(r.SeekToTime(c.seconds - 1), 0);
        EXPECT_EQ(r.SeekToTime(c.seconds), -1);
    }
}

TEST(AviReader, OddSizedChunksAndSmallBuffers)
{
    TempDir dir;
    const std::string path = dir / "odd.avi";
    std::vector<Frame> video = FakeH264(6, 3, 8);
    for (size_t i = 0; i < video.size(); ++i) {
        video[i].data.resize(7 + i * 2); // odd lengths
        video[i].data[5] = video[i].key ? 0x88 : 0x9A;
    }
    const std::vector<Frame> audio = {{{1, 2, 3, 4, 5}, true}, {{9}, true}};
    const std::vector<Chunk> written = WriteAvi(path, "H264", video, audio);
    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    const std::vector<Chunk> read = ReadAll(r);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(read[i].data, written[i].data) << i;

    // A buffer too small for a chunk: -3 and the chunk is passed over.
    ASSERT_EQ(r.SeekToTime(0), 0);
    uint8_t small[8];
    int video1 = 0, key = 0;
    EXPECT_EQ(r.ReadOneFrame(small, sizeof(small), &video1, &key), 7); // video 0 fits
    EXPECT_EQ(r.ReadOneFrame(small, sizeof(small), &video1, &key), 5); // audio
    EXPECT_EQ(r.ReadOneFrame(small, sizeof(small), &video1, &key), -3); // video 1, 9 bytes
    EXPECT_EQ(r.ReadOneFrame(small, sizeof(small), &video1, &key), 1);  // audio, the next chunk
    EXPECT_EQ(r.ReadOneFrame(nullptr, 100, &video1, &key), -3);
}

TEST(AviReader, CraftedAndDamagedFiles)
{
    TempDir dir;
    const std::string good = dir / "good.avi";
    std::vector<Frame> video = FakeH264(50, 25, 40);
    video[30].data.assign(600000, 0x11); // a chunk beyond what a reader hands out
    video[30].data[3] = 1;
    video[30].data[4] = 0x41;
    WriteAvi(good, "H264", video, {});
    const std::vector<uint8_t> base = ReadFile(good);
    const size_t movi = avi::kMoviCodeAtV;
    const uint32_t moviSize = avi::Get32(&base[avi::kMoviSizeAtV]);
    const size_t idx1 = movi + moviSize;
    ASSERT_EQ(avi::Get32(&base[idx1]), avi::kIndexCode);

    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        int open;
        bool rebuilt;
        int videoChunks;
        int seconds;
    };
    const std::vector<Case> cases = {
        {"intact", [](auto&) {}, 1, false, 50, 2},
        {"stream count 3", [](auto& b) { Patch32(b, 56, 3); }, 0, false, 0, 0},
        {"stream count 0", [](auto& b) { Patch32(b, 56, 0); }, 0, false, 0, 0},
        {"idx1 size 0xFFFFFFF0", [&](auto& b) { Patch32(b, idx1 + 4, 0xFFFFFFF0); }, 1, true, 50, 2},
        {"idx1 cut short", [&](auto& b) { b.resize(idx1 + 8 + 16 * 10); }, 1, true, 50, 2},
        {"frame rate -1", [](auto& b) { Patch32(b, 132, 0xFFFFFFFF); }, 1, false, 50, 2},
        {"frame rate 0", [](auto& b) { Patch32(b, 132, 0); }, 1, false, 50, 2},
        {"frame rate huge", [](auto& b) { Patch32(b, 132, 0x7FFFFFFF); }, 1, false, 50, 1},
        {"unfinished",
         [&](auto& b) {
             // Template values, no index, the last chunk cut in the middle.
             Patch32(b, 4, avi::kHeaderSizeV - 8);
             Patch32(b, avi::kMoviSizeAtV, 0);
             b.resize(idx1 - 10);
         },
         1, true, 49, 1},
        {"movi size past the end", [&](auto& b) { Patch32(b, avi::kMoviSizeAtV, 0x7FFFFFF0); }, 1, true, 50, 2},
        {"index entries outside the data",
         [&](auto& b) {
             for (size_t e = idx1 + 8; e + 16 <= b.size(); e += 16)
                 if (((e - idx1 - 8) / 16) % 2)
                     Patch32(b, e + 8, 0xFFFFFF00);
         },
         1, false, 25, 1},
        {"no movi code", [](auto& b) { Patch32(b, avi::kMoviCodeAtV, avi::FourCC("junk")); }, 0, false, 0, 0},
        {"header cut", [](auto& b) { b.resize(4000); }, 0, false, 0, 0},
        {"87 bytes", [](auto& b) { b.resize(87); }, 0, false, 0, 0},
        {"audio entries only",
         [&](auto& b) {
             for (size_t e = idx1 + 8; e + 16 <= b.size(); e += 16)
                 Patch32(b, e, avi::kAudioChunk);
         },
         0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> b = base;
        c.damage(b);
        const std::string path = dir / "damaged.avi";
        WriteFile(path, b);
        CReadAviFile r;
        ASSERT_EQ(r.Open(path.c_str()), c.open);
        if (!c.open)
            continue;
        EXPECT_EQ(r.IndexRebuilt(), c.rebuilt);
        EXPECT_EQ(r.GetVideoChunks(), c.videoChunks);
        EXPECT_EQ(r.GetAllTime(), c.seconds);
        // Every chunk reads; the big one is passed over with -3.
        std::vector<uint8_t> buf(CReadAviFile::kMaxFrameSize);
        int frames = 0, oversized = 0, n = 0;
        for (int guard = 0; guard < 1000; ++guard) {
            int video1 = 0, key = 0;
            n = r.ReadOneFrame(buf.data(), int(buf.size()), &video1, &key);
            if (n == -3) {
                ++oversized;
                continue;
            }
            if (n <= 0)
                break;
            ++frames;
        }
        EXPECT_EQ(n, -2);
        if (std::string(c.name) != "index entries outside the data") {
            EXPECT_EQ(oversized, 1);
            EXPECT_EQ(frames, c.videoChunks - 1);
        }
        for (int s = 0; s < r.GetAllTime(); ++s)
            EXPECT_EQ(r.SeekToTime(s), 0);
    }
    CReadAviFile r;
    EXPECT_EQ(r.Open((dir / "missing.avi").c_str()), 0);
    EXPECT_EQ(r.Open(nullptr), 0);
    EXPECT_EQ(r.Open(dir.path().c_str()), 0); // a folder
}

TEST(AviReader, FramesBeforeTheFirstKeyFrameSeekToTheFirstChunk)
{
    TempDir dir;
    const std::string path = dir / "nokey.avi";
    WriteAvi(path, "H264", FakeH264(60, 25), {});
    std::vector<uint8_t> b = ReadFile(path);
    // The first video entry is not flagged as a key frame.
    const size_t idx1 = avi::kMoviCodeAtV + avi::Get32(&b[avi::kMoviSizeAtV]);
    Patch32(b, idx1 + 8 + 4, 0);
    WriteFile(path, b);
    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    ASSERT_EQ(r.SeekToTime(0), 0);
    std::vector<uint8_t> buf(1024);
    int video = 0, key = 0;
    EXPECT_EQ(r.ReadOneFrame(buf.data(), int(buf.size()), &video, &key), 24);
    EXPECT_EQ(video, 1);
    EXPECT_EQ(buf[4], 0x65);
}

TEST(AviReader, AudioDescriptionFromTheHeader)
{
    TempDir dir;
    const std::string path = dir / "a.avi";
    WriteAvi(path, "H264", FakeH264(25, 25), {{{1, 2, 3}, true}});
    std::vector<uint8_t> b = ReadFile(path);
    // G.711 is always 8 kHz mono, whatever the header says.
    Patch32(b, 4424, 44100);
    avi::Put16(&b[4422], 2);
    WriteFile(path, b);
    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    AviAudioDesc a{};
    r.GetAudioInfo(&a);
    EXPECT_STREQ(a.codec, "G711");
    EXPECT_EQ(a.sampleRate, 8000);
    EXPECT_EQ(a.channels, 1);
    EXPECT_EQ(a.bitRate, 64000);
    EXPECT_EQ(a.eight, 8);

    // Any other handler is AAC with the header's rate and channels.
    Patch32(b, 4360, avi::FourCC("MP4A"));
    Patch32(b, 4424, 16000);
    WriteFile(path, b);
    ASSERT_EQ(r.Open(path.c_str()), 1);
    AudioParam ap;
    ASSERT_EQ(r.GetMediaParam(nullptr, nullptr, &ap), 0);
    EXPECT_STREQ(ap.codecName, "AAC");
    EXPECT_EQ(ap.sampleRate, 16000);
    EXPECT_EQ(ap.channels, 2);
    EXPECT_EQ(ap.bitsPerSample, 16);
    EXPECT_EQ(ap.extra1, 8);
    EXPECT_EQ(ap.extra2, 32000);
}

TEST(AviReader, Mpeg4Configuration)
{
    struct Case {
        std::vector<uint8_t> head;
        int open;
        int configLength;
    };
    std::vector<uint8_t> vol(40, 0x22);
    vol[0] = vol[1] = 0;
    vol[2] = vol[3] = 1;
    std::vector<uint8_t> late(40, 0x22);
    late[10] = late[11] = 0;
    late[12] = late[13] = 1;
    TempDir dir;
    for (const Case& c : {Case{vol, 1, 18}, Case{late, 1, 29}, Case{std::vector<uint8_t>(40, 0x22), 0, 0},
                          Case{std::vector<uint8_t>(20, 0), 0, 0}}) {
        const std::string path = dir / "m4.avi";
        WriteAvi(path, "MPEG4", {{c.head, true}}, {});
        CReadAviFile r;
        ASSERT_EQ(r.Open(path.c_str()), c.open);
        if (!c.open)
            continue;
        AviVideoDesc v{};
        r.GetVideoInfo(&v);
        EXPECT_STREQ(v.codec, "MP4V");
        EXPECT_EQ(v.configLength, c.configLength);
        EXPECT_TRUE(std::equal(c.head.begin(), c.head.begin() + c.configLength, v.config));
    }
}

TEST(AviReader, KeyFrameRules)
{
    using B = std::vector<uint8_t>;
    struct Case {
        B data;
        bool key;
    };
    const std::vector<Case> h264 = {
        {{0, 0, 0, 1, 0x65, 0x88, 0}, true},                          // IDR
        {{0, 0, 0, 1, 0x67, 0x42, 0}, true},                          // SPS
        {{0, 0, 0, 1, 0x68, 0xCE, 0}, true},                          // PPS
        {{0, 0, 0, 1, 0x41, 0x88, 0}, true},                          // non-IDR I slice (slice_type 7)
        {{0, 0, 0, 1, 0x41, 0xB8, 0}, true},                          // non-IDR I slice (slice_type 2)
        {{0, 0, 0, 1, 0x41, 0x9A, 0}, false},                         // P slice
        {{0, 0, 0, 1, 0x41, 0xEC, 0}, false},                         // P slice whose bits once passed for a key
        {{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x65, 0x88}, true},     // delimiter, then IDR
        {{0, 0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x41, 0x9A}, false},    // SEI, then P
        {{0, 0, 1, 0x65, 0x88, 0, 0}, true},                          // 3-byte start code
        {{0, 0, 0, 1, 0x65, 0x88}, false},                            // too short
        {{1, 2, 3, 4, 5, 6, 7, 8}, false},                            // no start code
    };
    const std::vector<Case> h265 = {
        {{0, 0, 0, 1, 0x40, 0x01, 0x0C}, true},                       // VPS (32)
        {{0, 0, 0, 1, 0x42, 0x01, 0x01}, true},                       // SPS (33)
        {{0, 0, 0, 1, 0x26, 0x01, 0xAF}, true},                       // IDR_W_RADL (19)
        {{0, 0, 0, 1, 0x2A, 0x01, 0xAF}, true},                       // CRA (21)
        {{0, 0, 0, 1, 0x02, 0x01, 0xD0}, false},                      // TRAIL_R (1)
        {{0, 0, 0, 1, 0x46, 0x01, 0x50, 0, 0, 0, 1, 0x26, 0x01}, true}, // delimiter, then IDR
        {{0, 0, 0, 1, 0x4E, 0x01, 0x05, 0, 0, 0, 1, 0x02, 0x01}, false}, // SEI, then TRAIL_R
        {{0, 0, 0, 1, 0x65, 0x88, 0}, false},                         // an H.264 IDR is none
    };
    for (size_t i = 0; i < h264.size(); ++i)
        EXPECT_EQ(CReadAviFile::IsH264KeyFrame(h264[i].data.data(), int(h264[i].data.size())), h264[i].key) << i;
    for (size_t i = 0; i < h265.size(); ++i)
        EXPECT_EQ(CReadAviFile::IsH265KeyFrame(h265[i].data.data(), int(h265[i].data.size())), h265[i].key) << i;
    EXPECT_FALSE(CReadAviFile::IsH264KeyFrame(nullptr, 100));
    EXPECT_FALSE(CReadAviFile::IsH265KeyFrame(nullptr, 100));
}

TEST(AviReader, H265RecordingHasKeyFramesAndParameterSets)
{
    const std::vector<Frame> video = SplitStream(Streams::Get().H265(4), "hevc");
    ASSERT_EQ(video.size(), 100u);
    const std::vector<uint8_t> config = ParameterSets(video[0].data, true);
    ASSERT_FALSE(config.empty());
    TempDir dir;
    const std::string path = dir / "hevc.avi";
    WriteAvi(path, "H265", video, {}, 25, config);
    auto v = Probe(path, "v:0", "stream=codec_name,nb_read_frames");
    EXPECT_EQ(v["codec_name"], "hevc");
    EXPECT_EQ(v["nb_read_frames"], "100");
    EXPECT_EQ(DecodeErrors(path), "");

    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    VideoParam vp;
    r.GetMediaParam(nullptr, &vp, nullptr);
    EXPECT_STREQ(vp.codecName, "H265");
    ASSERT_EQ(vp.configLength, int16_t(config.size()));
    EXPECT_TRUE(std::equal(config.begin(), config.end(), vp.config));
    const std::vector<Chunk> read = ReadAll(r);
    ASSERT_EQ(read.size(), 100u);
    for (size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(read[i].key, video[i].key) << i;
}

TEST(AviReader, ReadsTheRecordControlsFiles)
{
    // What the record search does with a recording: its name and its length.
    const auto& video = H264Frames();
    TempDir dir;
    VideoParam vp{};
    strcpy(vp.codecName, "H.264");
    vp.width = 176;
    vp.height = 144;
    vp.frameRate = 25;
    const std::vector<uint8_t> config = ParameterSets(video[0].data, false);
    memcpy(vp.config, config.data(), config.size());
    vp.configLength = int16_t(config.size());
    AviRecordControl ctrl;
    ctrl.BeginStream(5);
    ctrl.SetVideoParam(5, reinterpret_cast<const uint8_t*>(&vp), sizeof(vp));
    const int32_t id = ctrl.BeginRecordFile(5, dir.path().c_str(), 0, 0, 1800, 2);
    ASSERT_GT(id, 0);
    for (const Frame& f : video) {
        MediaFrameHeader h{};
        h.keyFrame = f.key;
        ctrl.WriteVideo(5, f.data.data(), int32_t(f.data.size()), reinterpret_cast<const uint8_t*>(&h), 16);
    }
    // While written, the file carries ".tmp": the search never opens it.
    const std::string tmp = ctrl.CurrentFile(id);
    ASSERT_GE(tmp.size(), 19u);
    EXPECT_EQ(tmp.substr(tmp.size() - 10), "-2.avi.tmp");
    ctrl.StopRecordFile(id);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    const std::string& name = names[0];
    EXPECT_EQ(name.substr(6, 3), "-vv");
    EXPECT_EQ(name.substr(name.size() - 6), "-2.avi");
    CReadAviFile r;
    ASSERT_EQ(r.Open((dir / name).c_str()), 1);
    EXPECT_EQ(r.GetAllTime(), 4);
    EXPECT_EQ(r.GetMediaType(), 16);
    VideoParam back;
    r.GetMediaParam(nullptr, &back, nullptr);
    EXPECT_STREQ(back.codecName, "H264");
    EXPECT_EQ(back.configLength, vp.configLength);
}

TEST(AviReader, AudioOfARecordingLastsAsLongAsItsHeaderSays)
{
    // 4 s of video with 40 ms of 8 kHz mu-law after each frame.
    const auto& video = H264Frames();
    const auto& audio = MulawFrames();
    ASSERT_EQ(video.size(), 100u);
    ASSERT_GE(audio.size(), 100u);
    TempDir dir;
    VideoParam vp{};
    strcpy(vp.codecName, "H264");
    vp.width = 176;
    vp.height = 144;
    vp.frameRate = 25;
    const std::vector<uint8_t> config = ParameterSets(video[0].data, false);
    memcpy(vp.config, config.data(), config.size());
    vp.configLength = int16_t(config.size());
    AudioParam ap{};
    strcpy(ap.codecName, "G711");
    ap.sampleRate = 8000;
    ap.bitsPerSample = 16;
    ap.channels = 1;
    AviRecordControl ctrl;
    ctrl.BeginStream(6);
    ctrl.SetVideoParam(6, reinterpret_cast<const uint8_t*>(&vp), sizeof(vp));
    ctrl.SetAudioParam(6, reinterpret_cast<const uint8_t*>(&ap), sizeof(ap));
    const int32_t id = ctrl.BeginRecordFile(6, dir.path().c_str(), 0, 0, 0, 1);
    ASSERT_GT(id, 0);
    for (size_t i = 0; i < video.size(); ++i) {
        MediaFrameHeader h{};
        h.keyFrame = video[i].key;
        const auto* hb = reinterpret_cast<const uint8_t*>(&h);
        ctrl.WriteVideo(6, video[i].data.data(), int32_t(video[i].data.size()), hb, 16);
        ctrl.WriteAudio(6, audio[i].data.data(), int32_t(audio[i].data.size()), hb, 16);
    }
    ctrl.StopRecordFile(id);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    const std::string path = dir / names[0];

    CReadAviFile r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    AudioParam back{};
    ASSERT_EQ(r.GetMediaParam(nullptr, nullptr, &back), 0);
    size_t bytes = 0;
    for (const Chunk& c : ReadAll(r))
        if (!c.video)
            bytes += c.data.size();
    const double readSeconds = double(bytes) / back.sampleRate; // mu-law: a byte a sample
    EXPECT_DOUBLE_EQ(readSeconds, 4.0);
    EXPECT_EQ(r.GetAllTime(), 4);
    const uint32_t length = avi::Get32(&ReadFile(path)[4388]);
    EXPECT_DOUBLE_EQ(double(length) / back.sampleRate, readSeconds);
    EXPECT_EQ(Probe(path, "a:0", "stream=nb_frames")["nb_frames"], std::to_string(bytes));
}
