// CMP4Writer end to end: streams made by ffmpeg go in frame by frame, ffprobe
// and a full ffmpeg decode check the file, and the reader must give back the
// same access units.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "tests/media/media_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using namespace mp4test;

namespace {

enum class VideoKind { None, H264, H264AudSlices, H265 };
enum class AudioKind { None, Mulaw, Aac16Mono, Aac32Stereo };
// How the stream reaches the recorder.
enum class Shape {
    AsIs,            // access units as the encoder made them
    SeparateSets,    // parameter sets sent as frames of their own before each key frame
    StartsWithP,     // the first frames are P-frames
    SetsOnlyInParam, // no parameter sets in the stream, only in VideoParam's configuration bytes
};

struct Case {
    const char* name;
    VideoKind video;
    AudioKind audio;
    Shape shape;
};

struct Input {
    std::vector<Frame> video;  // what is fed
    std::vector<bool> picture; // fed frame carries a picture
    std::vector<uint8_t> config;
    bool h265 = false;
    std::vector<Frame> audio;
    std::string audioCodec;
    int rate = 0, channels = 0;
    double audioFrameMs = 0;
};

bool IsSet(bool h265, const std::vector<uint8_t>& u)
{
    const int t = h265 ? H265Type(u) : H264Type(u);
    return h265 ? (t >= 32 && t <= 34) : (t == 7 || t == 8);
}

Input MakeInput(const Case& c)
{
    Streams& s = Streams::Get();
    Input in;
    std::vector<Frame> aus;
    switch (c.video) {
    case VideoKind::H264: aus = SplitStream(s.H264(), "h264"); break;
    case VideoKind::H264AudSlices: aus = SplitStream(s.H264("aud=1:slices=4"), "h264"); break;
    case VideoKind::H265:
        aus = SplitStream(s.H265(), "hevc");
        in.h265 = true;
        break;
    case VideoKind::None: break;
    }
    if (c.shape == Shape::StartsWithP)
        aus.erase(aus.begin(), aus.begin() + 10);
    for (Frame& au : aus) {
        const auto units = NalUnits(au.data);
        if (c.shape == Shape::SeparateSets && au.key) {
            std::vector<std::vector<uint8_t>> rest;
            for (const auto& u : units) {
                if (IsSet(in.h265, u)) {
                    in.video.push_back({AnnexB({u}), true});
                    in.picture.push_back(false);
                } else {
                    rest.push_back(u);
                }
            }
            in.video.push_back({AnnexB(rest), true});
            in.picture.push_back(true);
            continue;
        }
        if (c.shape == Shape::SetsOnlyInParam) {
            std::vector<std::vector<uint8_t>> rest, sets;
            for (const auto& u : units)
                (IsSet(in.h265, u) ? sets : rest).push_back(u);
            if (in.config.empty())
                in.config = AnnexB(sets);
            in.video.push_back({AnnexB(rest), au.key});
            in.picture.push_back(true);
            continue;
        }
        in.video.push_back(au);
        in.picture.push_back(true);
    }
    switch (c.audio) {
    case AudioKind::Mulaw:
        in.audio = SplitRaw(s.Mulaw(), 320);
        in.audioCodec = "G711";
        in.rate = 8000;
        in.channels = 1;
        in.audioFrameMs = 40;
        break;
    case AudioKind::Aac16Mono:
    case AudioKind::Aac32Stereo: {
        const bool mono = c.audio == AudioKind::Aac16Mono;
        in.rate = mono ? 16000 : 32000;
        in.channels = mono ? 1 : 2;
        in.audio = SplitAdts(s.Aac(in.rate, in.channels));
        in.audioCodec = "MPEG4-GENERIC";
        in.audioFrameMs = 1024.0 * 1000 / in.rate;
        break;
    }
    case AudioKind::None: break;
    }
    return in;
}

struct Recorded {
    int openResult = 0;
    std::vector<size_t> writtenVideo; // indexes of fed video frames that became samples' pictures
    size_t audioAfterVideo = 0;       // audio frames fed once video had started
};

// Feeds the input in time order (video first at equal times): video every
// 40 ms (a frame without a picture shares the time of the picture after it).
Recorded Record(const std::string& name, const Input& in)
{
    Recorded rec;
    VideoParam vp{};
    snprintf(vp.codecName, sizeof(vp.codecName), "%s", in.h265 ? "H.265" : "H.264");
    vp.width = 176;
    vp.height = 144;
    vp.frameRate = 25;
    if (!in.config.empty())
        memcpy(vp.config, in.config.data(), std::min<size_t>(in.config.size(), 256));
    vp.configLength = int16_t(std::min<size_t>(in.config.size(), 256));
    AudioParam ap{};
    snprintf(ap.codecName, sizeof(ap.codecName), "%s", in.audioCodec.c_str());
    ap.sampleRate = in.rate;
    ap.bitsPerSample = 16;
    ap.channels = in.channels;

    CMP4Writer w;
    rec.openResult = w.OpenWrite(name.c_str(), in.video.empty() ? nullptr : &vp, in.audio.empty() ? nullptr : &ap);
    if (rec.openResult != 0)
        return rec;
    size_t v = 0, a = 0, pictures = 0;
    while (v < in.video.size() || a < in.audio.size()) {
        const double vt = v < in.video.size() ? pictures * 40.0 : 1e18;
        const double at = a < in.audio.size() ? a * in.audioFrameMs : 1e18;
        if (vt <= at) {
            const int before = w.GetWritedVideoFrameCount();
            EXPECT_EQ(0, w.WriteOneFrame(1, in.video[v].data.data(), int(in.video[v].data.size()), int64_t(vt),
                                         in.video[v].key ? 1 : 0));
            if (w.GetWritedVideoFrameCount() > before)
                rec.writtenVideo.push_back(v);
            if (in.picture[v])
                ++pictures;
            ++v;
        } else {
            if (in.video.empty() || w.GetWritedVideoFrameCount() > 0)
                ++rec.audioAfterVideo;
            EXPECT_EQ(0, w.WriteOneFrame(0, in.audio[a].data.data(), int(in.audio[a].data.size()),
                                         int64_t(std::floor(at)), 1));
            ++a;
        }
    }
    EXPECT_EQ(0, w.CloseFile());
    return rec;
}

// The NAL units each written sample should read back as: the picture frame's
// leading delimiter, the frames without a picture since the last sample, the
// latest parameter sets when a key frame lacks them, the rest of the frame.
std::vector<std::vector<std::vector<uint8_t>>> ExpectedSamples(const Input& in, const Recorded& rec)
{
    const auto type = [&](const std::vector<uint8_t>& u) { return in.h265 ? H265Type(u) : H264Type(u); };
    const int aud = in.h265 ? 35 : 9;
    std::map<int, std::vector<uint8_t>> latest; // parameter sets by type, in type order
    for (const auto& u : NalUnits(in.config))
        latest[type(u)] = u;
    std::vector<std::vector<std::vector<uint8_t>>> samples;
    size_t next = 0;
    for (size_t idx : rec.writtenVideo) {
        std::vector<std::vector<uint8_t>> pending;
        for (size_t k = next; k < idx; ++k)
            for (const auto& u : NalUnits(in.video[k].data)) {
                if (IsSet(in.h265, u))
                    latest[type(u)] = u;
                if (!samples.empty())
                    pending.push_back(u); // dropped before the first sample
            }
        const auto frame = NalUnits(in.video[idx].data);
        for (const auto& u : frame)
            if (IsSet(in.h265, u))
                latest[type(u)] = u;
        std::set<int> present;
        for (const auto& u : pending)
            present.insert(type(u));
        for (const auto& u : frame)
            present.insert(type(u));
        const bool complete = present.count(in.h265 ? 33 : 7) && present.count(in.h265 ? 34 : 8) &&
                              (!in.h265 || present.count(32));
        std::vector<std::vector<uint8_t>> units;
        size_t i = 0;
        for (; i < frame.size() && type(frame[i]) == aud; ++i)
            units.push_back(frame[i]);
        units.insert(units.end(), pending.begin(), pending.end());
        if (in.video[idx].key && !complete)
            for (const auto& [t, u] : latest)
                units.push_back(u);
        units.insert(units.end(), frame.begin() + long(i), frame.end());
        samples.push_back(units);
        next = idx + 1;
    }
    return samples;
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class Mp4RecorderTest : public ::testing::TestWithParam<Case> {};

TEST_P(Mp4RecorderTest, FileDecodesAndReadsBack)
{
    const Case& c = GetParam();
    const Input in = MakeInput(c);
    if (c.video != VideoKind::None) {
        ASSERT_GT(in.video.size(), 50u) << "no test video";
    }
    if (c.audio != AudioKind::None) {
        ASSERT_GT(in.audio.size(), 20u) << "no test audio";
    }
    TempDir dir;
    const std::string name = dir / "rec.mp4";
    const Recorded rec = Record(name, in);
    ASSERT_EQ(0, rec.openResult);
    ASSERT_TRUE(fs::exists(name)) << "the .tmp file must be renamed on close";
    ASSERT_FALSE(fs::exists(name + ".tmp"));
    ASSERT_FALSE(fs::exists(name + ".tmp.idx")) << "the journal goes with a clean close";

    // Which fed frames should have become samples: pictures from the first key frame on.
    std::vector<size_t> expectedPictures;
    std::vector<bool> expectedKeys;
    bool started = false;
    for (size_t i = 0; i < in.video.size(); ++i) {
        if (!in.picture[i])
            continue;
        const bool key = in.video[i].key;
        started |= key;
        if (started) {
            expectedPictures.push_back(i);
            expectedKeys.push_back(key);
        }
    }
    EXPECT_EQ(expectedPictures, rec.writtenVideo);

    const auto streams = ProbeStreams(name);
    if (c.video != VideoKind::None) {
        const Fields* v = FindStream(streams, "video");
        ASSERT_NE(nullptr, v);
        EXPECT_EQ(in.h265 ? "hevc" : "h264", v->at("codec_name"));
        EXPECT_EQ("1/90000", v->at("time_base"));
        EXPECT_EQ(std::to_string(expectedPictures.size()), v->at("nb_frames"));
        EXPECT_EQ(v->at("nb_frames"), v->at("nb_read_frames")) << "every sample decodes to a picture";
        EXPECT_EQ("176", v->at("width"));
        EXPECT_EQ("144", v->at("height"));
        EXPECT_EQ(expectedKeys, ProbeVideoKeyFlags(name));
    }
    if (c.audio != AudioKind::None) {
        const Fields* a = FindStream(streams, "audio");
        ASSERT_NE(nullptr, a);
        EXPECT_EQ(c.audio == AudioKind::Mulaw ? "pcm_mulaw" : "aac", a->at("codec_name"));
        EXPECT_EQ(std::to_string(in.rate), a->at("sample_rate"));
        EXPECT_EQ(std::to_string(in.channels), a->at("channels"));
        EXPECT_EQ(std::to_string(rec.audioAfterVideo), a->at("nb_frames"));
        EXPECT_EQ(a->at("nb_frames"), a->at("nb_read_frames"));
    }
    EXPECT_EQ("", DecodeErrors(name));

    // Read back: Annex-B access units in time order, audio frames without headers.
    CMP4Writer r;
    VideoParam vp{};
    AudioParam ap{};
    ASSERT_EQ(0, r.OpenRead(name.c_str(), &vp, &ap));
    if (c.video != VideoKind::None) {
        EXPECT_STREQ(in.h265 ? "H265" : "H264", vp.codecName);
        EXPECT_EQ(176, vp.width);
        EXPECT_EQ(144, vp.height);
        EXPECT_EQ(24, vp.extra);
        if (c.audio != AudioKind::None) {
            EXPECT_EQ(25, vp.frameRate);
        }
    }
    if (c.audio != AudioKind::None) {
        EXPECT_STREQ(c.audio == AudioKind::Mulaw ? "G711" : "AAC", ap.codecName);
        EXPECT_EQ(in.rate, ap.sampleRate);
        EXPECT_EQ(in.channels, ap.channels);
        EXPECT_EQ(c.audio == AudioKind::Mulaw ? 8 : 15, ap.extra1);
    }
    const auto expected = ExpectedSamples(in, rec);
    std::vector<uint8_t> buf;
    size_t videoRead = 0, audioRead = 0;
    int64_t lastTs = INT64_MIN;
    for (;;) {
        int isVideo = 0, len = 0, key = 0;
        int64_t ts = 0, dur = 0;
        const int size = r.ReadOneFrame(isVideo, nullptr, len, ts, dur, key);
        if (size <= 0)
            break;
        buf.assign(size_t(size), 0);
        len = size;
        ASSERT_EQ(size, r.ReadOneFrame(isVideo, buf.data(), len, ts, dur, key));
        EXPECT_GE(ts, lastTs) << "samples come in time order";
        lastTs = ts;
        if (isVideo) {
            ASSERT_LT(videoRead, expected.size());
            EXPECT_EQ(expected[videoRead], NalUnits(buf)) << "sample " << videoRead;
            EXPECT_TRUE(buf.size() >= 4 && buf[0] == 0 && buf[1] == 0 && buf[2] == 0 && buf[3] == 1);
            EXPECT_EQ(expectedKeys[videoRead] ? 1 : 0, key) << "sample " << videoRead;
            ++videoRead;
        } else {
            ASSERT_LT(audioRead, rec.audioAfterVideo);
            const size_t fed = in.audio.size() - rec.audioAfterVideo + audioRead;
            std::vector<uint8_t> want = in.audio[fed].data;
            if (c.audio != AudioKind::Mulaw)
                want.erase(want.begin(), want.begin() + 7); // the ADTS header
            EXPECT_EQ(want, buf) << "audio frame " << audioRead;
            ++audioRead;
        }
    }
    EXPECT_EQ(expected.size(), videoRead);
    EXPECT_EQ(rec.audioAfterVideo, audioRead);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Mp4RecorderTest,
    ::testing::Values(Case{"H264_G711", VideoKind::H264, AudioKind::Mulaw, Shape::AsIs},
                      Case{"H265_only", VideoKind::H265, AudioKind::None, Shape::AsIs},
                      Case{"H264_AAC16_mono", VideoKind::H264, AudioKind::Aac16Mono, Shape::AsIs},
                      Case{"H264_AAC32_stereo", VideoKind::H264, AudioKind::Aac32Stereo, Shape::AsIs},
                      Case{"H264_aud_4_slices", VideoKind::H264AudSlices, AudioKind::Mulaw, Shape::AsIs},
                      Case{"H264_sets_as_frames", VideoKind::H264, AudioKind::Mulaw, Shape::SeparateSets},
                      Case{"H265_sets_as_frames", VideoKind::H265, AudioKind::None, Shape::SeparateSets},
                      Case{"H264_starts_with_P", VideoKind::H264, AudioKind::Mulaw, Shape::StartsWithP},
                      Case{"H265_starts_with_P", VideoKind::H265, AudioKind::None, Shape::StartsWithP},
                      Case{"H264_sets_only_in_param", VideoKind::H264, AudioKind::Aac16Mono, Shape::SetsOnlyInParam},
                      Case{"G711_only", VideoKind::None, AudioKind::Mulaw, Shape::AsIs},
                      Case{"AAC_only", VideoKind::None, AudioKind::Aac32Stereo, Shape::AsIs}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
