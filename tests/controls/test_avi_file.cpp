// Tests of the AVI record file writer: both header forms field by field, the
// chunks, padding and index, the finishing rules, and ffprobe/ffmpeg reading
// what it writes.
#include "controls/avi_file.h"

#include "tests/controls/avi_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace avitest;

namespace {

AviVideoDesc Video(const char* codec, int w = 176, int h = 144, int rate = 25, const std::vector<uint8_t>& config = {})
{
    AviVideoDesc v{};
    strncpy(v.codec, codec, sizeof(v.codec) - 1);
    v.width = w;
    v.height = h;
    v.frameRate = rate;
    v.bitRate = 512000;
    if (!config.empty())
        memcpy(v.config, config.data(), std::min<size_t>(config.size(), sizeof(v.config)));
    v.configLength = int32_t(config.size());
    return v;
}

AviAudioDesc Audio(const char* codec, int rate = 8000, int bits = 16, int channels = 1)
{
    AviAudioDesc a{};
    strncpy(a.codec, codec, sizeof(a.codec) - 1);
    a.sampleRate = rate;
    a.bitsPerSample = bits;
    a.channels = channels;
    return a;
}

// A fake H.264 frame: start code, NAL type, then filler bytes.
std::vector<uint8_t> Nal(uint8_t type, size_t size)
{
    std::vector<uint8_t> f(size, 0x5A);
    f[0] = f[1] = f[2] = 0;
    f[3] = 1;
    f[4] = type;
    return f;
}

uint32_t Code(const char* s)
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

uint32_t At32(const std::vector<uint8_t>& b, size_t at)
{
    return avi::Get32(&b[at]);
}

} // namespace

TEST(AviWriter, BothHeaderFormsHaveEveryFixedField)
{
    TempDir dir;
    struct Case {
        const char* name;
        bool audio;
        const char* audioCodec;
        size_t headerSize;
    };
    for (const Case& c : {Case{"av.avi", true, "G711", 9896}, Case{"aac.avi", true, "MPEG4-GENERIC", 9896},
                          Case{"v.avi", false, "", 5672}}) {
        SCOPED_TRACE(c.name);
        CWriteAviFile w;
        w.SetFileName(0, (dir / c.name).c_str());
        const AviVideoDesc v = Video("H264", 352, 288, 25);
        const AviAudioDesc a = Audio(c.audioCodec, c.audio && strcmp(c.audioCodec, "G711") ? 16000 : 8000);
        w.SetMediaParam(c.audio, 10, &a, &v);
        ASSERT_EQ(w.Start(), 1);
        EXPECT_EQ(w.Start(), 1); // already started
        // Before it is finished the header holds the template values.
        std::vector<uint8_t> b = ReadFile(dir / c.name);
        ASSERT_EQ(b.size(), c.headerSize);
        EXPECT_EQ(At32(b, 4), c.headerSize - 8);
        EXPECT_EQ(At32(b, 48), 0u);
        EXPECT_EQ(At32(b, 140), 1801u);
        EXPECT_EQ(At32(b, c.headerSize - 8), 0u);

        const std::vector<uint8_t> key = Nal(0x65, 101);
        EXPECT_EQ(w.WriteVideoFrame(1, key.data(), int(key.size())), 0);
        if (c.audio) {
            const std::vector<uint8_t> sound(160, 0x7F);
            EXPECT_EQ(w.WriteAudioFrame(sound.data(), int(sound.size())), 0);
        }
        EXPECT_EQ(w.Stop(), 1);
        EXPECT_EQ(w.Stop(), 0);

        const AviLayout L = CheckAviLayout(dir / c.name);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        b = ReadFile(dir / c.name);
        EXPECT_EQ(At32(b, 32), 40000u);
        EXPECT_EQ(At32(b, 36), 64000u);
        EXPECT_EQ(At32(b, 64), 352u);
        EXPECT_EQ(At32(b, 68), 288u);
        EXPECT_EQ(At32(b, 112), avi::FourCC("H264"));
        EXPECT_EQ(At32(b, 132), 25u);
        if (!c.audio)
            continue;
        if (strcmp(c.audioCodec, "G711") == 0) {
            EXPECT_EQ(At32(b, 4360), 1u);
            EXPECT_EQ(avi::Get16(&b[4420]), 7);
            EXPECT_EQ(At32(b, 4424), 8000u);
            // mu-law is 8 bits a sample: 8,000 bytes a second, blocks of 1.
            EXPECT_EQ(At32(b, 4428), 8000u);
            EXPECT_EQ(avi::Get16(&b[4432]), 1);
            EXPECT_EQ(avi::Get16(&b[4434]), 8);
        } else {
            EXPECT_EQ(At32(b, 4360), avi::FourCC("MP4A"));
            EXPECT_EQ(avi::Get16(&b[4420]), 8);
            EXPECT_EQ(At32(b, 4424), 16000u);
            EXPECT_EQ(At32(b, 4428), 16000u * 16 / 8);
            EXPECT_EQ(avi::Get16(&b[4432]), 2);
        }
    }
}

TEST(AviWriter, ChunksPaddingAndIndex)
{
    TempDir dir;
    const std::string path = dir / "c.avi";
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    const std::vector<uint8_t> config = {0, 0, 0, 1, 0x67, 1, 2, 3, 0, 0, 0, 1, 0x68, 4};
    const AviVideoDesc v = Video("H.264", 176, 144, 25, config);
    const AviAudioDesc a = Audio("G711");
    w.SetMediaParam(1, 0, &a, &v);
    ASSERT_EQ(w.Start(), 1);

    const std::vector<uint8_t> p = Nal(0x41, 33), k = Nal(0x65, 57), five = {1, 2, 3, 4, 5};
    EXPECT_EQ(w.WriteVideoFrame(0, p.data(), int(p.size())), -1); // before the first key frame: dropped
    EXPECT_EQ(w.WriteAudioFrame(five.data(), 5), 0);               // audio is written from the start
    EXPECT_EQ(w.WriteVideoFrame(1, k.data(), int(k.size())), 0);
    EXPECT_EQ(w.WriteVideoFrame(0, p.data(), int(p.size())), 0);
    EXPECT_EQ(w.WriteVideoFrame(0, nullptr, 4), -1);
    EXPECT_EQ(w.WriteVideoFrame(0, p.data(), 0), -1);
    EXPECT_EQ(w.Stop(), 1);

    const AviLayout L = CheckAviLayout(path);
    ASSERT_TRUE(L.errors.empty()) << Join(L.errors);
    ASSERT_EQ(L.chunks.size(), 3u);
    // Audio (5 bytes, no pad byte), then the key frame with the configuration
    // in front, then the P frame.
    EXPECT_EQ(L.index[0].code, avi::kAudioChunk);
    EXPECT_EQ(L.index[0].offset, 4u);
    EXPECT_EQ(L.index[0].length, 5u);
    EXPECT_EQ(L.index[0].flags, 16u);
    EXPECT_EQ(L.index[1].code, avi::kVideoChunk);
    EXPECT_EQ(L.index[1].offset, 4u + 5 + 8);
    EXPECT_EQ(L.index[1].length, config.size() + k.size());
    EXPECT_EQ(L.index[1].flags, 16u);
    EXPECT_EQ(L.index[2].offset, L.index[1].offset + L.index[1].length + 8);
    EXPECT_EQ(L.index[2].flags, 0u);
    const std::vector<uint8_t> b = ReadFile(path);
    const size_t first = size_t(L.chunks[1].pos) + 8;
    EXPECT_TRUE(std::equal(config.begin(), config.end(), b.begin() + long(first)));
    EXPECT_TRUE(std::equal(k.begin(), k.end(), b.begin() + long(first + config.size())));
    const size_t data = 13 + 8 + config.size() + k.size() + 8 + p.size();
    EXPECT_EQ(L.padding, (4 - data % 4) % 4);
    EXPECT_EQ(L.videoFrames, 2u);
}

TEST(AviWriter, VideoOnlyFileTakesNoAudioChunks)
{
    TempDir dir;
    const std::string path = dir / "v.avi";
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    const AviVideoDesc v = Video("H264");
    const AviAudioDesc a = Audio("G711");
    w.SetMediaParam(0, 0, &a, &v);
    ASSERT_EQ(w.Start(), 1);
    const std::vector<uint8_t> k = Nal(0x65, 40), sound(8, 1);
    EXPECT_EQ(w.WriteVideoFrame(1, k.data(), int(k.size())), 0);
    EXPECT_EQ(w.WriteAudioFrame(sound.data(), int(sound.size())), -1);
    w.Stop();
    const AviLayout L = CheckAviLayout(path);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    ASSERT_EQ(L.chunks.size(), 1u);
    EXPECT_FALSE(L.withAudio);
}

TEST(AviWriter, ClipWithoutFramesHoldsTheHeaderAlone)
{
    TempDir dir;
    const std::string path = dir / "empty.avi";
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    const AviVideoDesc v = Video("H264");
    const AviAudioDesc a = Audio("G711");
    w.SetMediaParam(1, 0, &a, &v);
    ASSERT_EQ(w.Start(), 1);
    const std::vector<uint8_t> p = Nal(0x41, 40);
    w.WriteVideoFrame(0, p.data(), int(p.size()));
    EXPECT_EQ(w.Stop(), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    ASSERT_EQ(b.size(), 9896u);
    EXPECT_EQ(At32(b, 4), 9888u);
    EXPECT_EQ(At32(b, 9888), 4u); // an empty movi list
    const AviLayout L = CheckAviLayout(path);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
}

TEST(AviWriter, HandlerFollowsTheCodecText)
{
    struct Case {
        const char* codec;
        const char* handler;
    };
    TempDir dir;
    for (const Case& c : {Case{"H264", "H264"}, Case{"H.264", "H264"}, Case{"MPEG4", "XVID"}, Case{"MP4V", "XVID"},
                          Case{"H265", "H265"}, Case{"H.265", "H265"}, Case{"", "XVID"}}) {
        SCOPED_TRACE(c.codec);
        const std::string path = dir / "h.avi";
        CWriteAviFile w;
        w.SetFileName(0, path.c_str());
        AviVideoDesc v = Video(c.codec, 0, 0, 0); // missing values take the defaults
        v.bitRate = 0;
        w.SetMediaParam(0, 0, nullptr, &v);
        ASSERT_EQ(w.Start(), 1);
        w.Stop();
        const std::vector<uint8_t> b = ReadFile(path);
        ASSERT_GE(b.size(), 200u);
        EXPECT_EQ(At32(b, 112), Code(c.handler));
        EXPECT_EQ(At32(b, 188), At32(b, 112));
        EXPECT_EQ(At32(b, 64), 704u);
        EXPECT_EQ(At32(b, 68), 576u);
        EXPECT_EQ(At32(b, 36), 2097152u / 8);
        EXPECT_EQ(At32(b, 132), 25u);
    }
}

TEST(AviWriter, AudioTypeFromTheCodecText)
{
    for (const char* aac : {"MPEG4-GENERIC", "AACG4-GENERIC", "AAC", "MP4A", "AAC-LC"})
        EXPECT_EQ(avi::AudioTypeOf(aac), avi::kAudioAac) << aac;
    for (const char* g711 : {"G711", "PCMU", "", "aac"})
        EXPECT_EQ(avi::AudioTypeOf(g711), avi::kAudioG711) << g711;
}

TEST(AviWriter, FinishedFrameRateRule)
{
    struct Case {
        int32_t described;
        uint32_t frames;
        uint32_t ms;
        uint32_t expected;
    };
    for (const Case& c : {Case{25, 300, 10000, 25}, // the smaller of 25 and 30
                          Case{25, 120, 10999, 12}, Case{25, 300, 999, 25}, Case{25, 0, 5000, 25},
                          Case{0, 50, 0, 25}, Case{-1, 50, 10000, 5}, Case{30, 29, 1000, 29}})
        EXPECT_EQ(avi::FinishedFrameRate(c.described, c.frames, c.ms), c.expected)
            << c.described << " " << c.frames << " " << c.ms;
}

TEST(AviWriter, PathsAndStartFailures)
{
    TempDir dir;
    {
        CWriteAviFile w;
        EXPECT_EQ(w.Start(), -1); // no path
    }
    {
        const std::string existing = dir / "old.avi";
        WriteFile(existing, {1, 2, 3});
        CWriteAviFile w;
        w.SetFileName(0, existing.c_str());
        EXPECT_FALSE(fs::exists(existing)); // an older file of the name goes
        w.SetFileName(0, std::string(257, 'a').c_str());
        EXPECT_EQ(w.FileName(), existing); // too long: ignored
        w.SetFileName(0, "");
        EXPECT_EQ(w.FileName(), existing);
    }
    {
        CWriteAviFile w;
        w.SetFileName(0, (dir / "missing/x.avi").c_str());
        EXPECT_EQ(w.Start(), -103);
        EXPECT_EQ(w.Stop(), 0);
    }
    {
        // A folder of that name is neither removed nor written.
        const std::string folder = dir / "folder.avi";
        fs::create_directory(folder);
        CWriteAviFile w;
        w.SetFileName(0, folder.c_str());
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(w.Start(), -103);
    }
}

TEST(AviWriter, FfprobeReadsAndFfmpegDecodesWhatItWrites)
{
    const std::string h264 = Streams::Get().H264(4);
    const std::string ulaw = Streams::Get().Mulaw(4);
    ASSERT_FALSE(h264.empty());
    ASSERT_FALSE(ulaw.empty());
    const std::vector<Frame> video = SplitStream(h264, "h264");
    const std::vector<Frame> audio = SplitRaw(ulaw, 320);
    ASSERT_EQ(video.size(), 100u);

    TempDir dir;
    for (bool withAudio : {true, false}) {
        SCOPED_TRACE(withAudio);
        const std::string path = dir / (withAudio ? "av.avi" : "v.avi");
        CWriteAviFile w;
        w.SetFileName(0, path.c_str());
        const AviVideoDesc v = Video("H264", 176, 144, 25, ParameterSets(video[0].data, false));
        const AviAudioDesc a = Audio("G711");
        w.SetMediaParam(withAudio, 4, &a, &v);
        ASSERT_EQ(w.Start(), 1);
        for (size_t i = 0; i < video.size(); ++i) {
            ASSERT_EQ(w.WriteVideoFrame(video[i].key, video[i].data.data(), int(video[i].data.size())), 0);
            if (withAudio && i < audio.size()) {
                ASSERT_EQ(w.WriteAudioFrame(audio[i].data.data(), int(audio[i].data.size())), 0);
            }
        }
        ASSERT_EQ(w.Stop(), 1);
        EXPECT_FALSE(w.Failed());

        const AviLayout L = CheckAviLayout(path);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        auto v0 = Probe(path, "v:0", "stream=codec_name,codec_tag_string,width,height,nb_read_frames");
        EXPECT_EQ(v0["codec_name"], "h264");
        EXPECT_EQ(v0["codec_tag_string"], "H264");
        EXPECT_EQ(v0["width"], "176");
        EXPECT_EQ(v0["nb_read_frames"], "100");
        if (withAudio) {
            auto a0 = Probe(path, "a:0", "stream=codec_name,sample_rate,channels,bit_rate");
            EXPECT_EQ(a0["codec_name"], "pcm_mulaw");
            EXPECT_EQ(a0["sample_rate"], "8000");
            EXPECT_EQ(a0["channels"], "1");
            EXPECT_EQ(a0["bit_rate"], "64000");
        }
        EXPECT_EQ(DecodeErrors(path), "");
        const std::vector<bool> keys = ProbeVideoKeyFlags(path);
        ASSERT_EQ(keys.size(), 100u);
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_EQ(keys[i], i % 25 == 0) << i;
    }
}

TEST(AviWriter, AudioLengthIsTheSampleCountWritten)
{
    // The oracle for AAC: ffprobe's packet durations (1/rate) of the source.
    const std::string aacPath = mp4test::Streams::Get().Aac(16000, 1);
    ASSERT_FALSE(aacPath.empty());
    const std::vector<Frame> aac = mp4test::SplitAdts(aacPath);
    ASSERT_GT(aac.size(), 10u);
    const auto aacSamples = uint64_t(std::llround(ProbeAudioSeconds(aacPath) * 16000));
    ASSERT_GT(aacSamples, 0u);

    std::vector<uint8_t> twoBlocks = aac[1].data; // ADTS announcing two raw blocks
    twoBlocks[6] = uint8_t((twoBlocks[6] & ~3u) | 1u);
    const std::vector<uint8_t> auHeader = {0x00, 0x10, 0x00, 0x18, 0x21, 0x10, 0x05}; // RFC 3640, no ADTS

    auto bytes = [](size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); };
    struct Case {
        const char* name;
        const char* codec;
        int rate;
        int channels;
        std::vector<std::vector<uint8_t>> frames;
        uint32_t samples;
    };
    std::vector<Case> cases = {
        {"mu-law mono", "G711", 8000, 1, {}, 37 * 320 + 5},
        {"mu-law stereo", "G711", 8000, 2, {}, 10 * 320 / 2},
        {"AAC from an encoder", "MPEG4-GENERIC", 16000, 1, {}, uint32_t(aacSamples)},
        {"AAC, two raw blocks and one without ADTS", "AAC", 16000, 1, {twoBlocks, auHeader}, 2048 + 1024},
        {"no audio came", "G711", 8000, 1, {}, 0},
    };
    for (int i = 0; i < 37; ++i)
        cases[0].frames.push_back(bytes(320, uint8_t(i)));
    cases[0].frames.push_back(bytes(5, 0x7F));
    for (int i = 0; i < 10; ++i)
        cases[1].frames.push_back(bytes(320, 0x7F));
    for (const Frame& f : aac)
        cases[2].frames.push_back(f.data);

    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".avi");
        CWriteAviFile w;
        w.SetFileName(0, path.c_str());
        const AviVideoDesc v = Video("H264");
        const AviAudioDesc a = Audio(c.codec, c.rate, 16, c.channels);
        w.SetMediaParam(1, 0, &a, &v);
        ASSERT_EQ(w.Start(), 1);
        EXPECT_EQ(At32(ReadFile(path), 4388), 480256u) << "unfinished files keep the template";
        const std::vector<uint8_t> key = Nal(0x65, 64);
        ASSERT_EQ(w.WriteVideoFrame(1, key.data(), int(key.size())), 0);
        for (const auto& f : c.frames)
            ASSERT_EQ(w.WriteAudioFrame(f.data(), int(f.size())), 0);
        ASSERT_EQ(w.Stop(), 1);

        EXPECT_EQ(At32(ReadFile(path), 4388), c.samples);
        const AviLayout L = CheckAviLayout(path);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        if (strcmp(c.codec, "G711") == 0 && c.samples > 0) {
            // ffprobe reports the stream length as the audio's frame count.
            EXPECT_EQ(Probe(path, "a:0", "stream=nb_frames")["nb_frames"], std::to_string(c.samples));
        }
    }
}
