// CMP4Writer's read side: positioning by second and key frame, times and
// lengths, files made by ffmpeg, small buffers, damaged files.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"
#include "tests/mp4/mp4_box_util.h"

#include <gtest/gtest.h>

using namespace mp4test;

namespace {

struct ReadFrame {
    int size = 0;
    int isVideo = 0;
    int64_t ts = 0;
    int64_t duration = 0;
    int key = 0;
    std::vector<uint8_t> data;
};

ReadFrame Next(CMP4Writer& r)
{
    ReadFrame f;
    int len = 0;
    f.size = r.ReadOneFrame(f.isVideo, nullptr, len, f.ts, f.duration, f.key);
    if (f.size <= 0)
        return f;
    f.data.resize(size_t(f.size));
    len = f.size;
    f.size = r.ReadOneFrame(f.isVideo, f.data.data(), len, f.ts, f.duration, f.key);
    return f;
}

// The next video frame (audio frames in between are read and dropped).
ReadFrame NextVideo(CMP4Writer& r)
{
    for (int i = 0; i < 1000; ++i) {
        ReadFrame f = Next(r);
        if (f.size <= 0 || f.isVideo)
            return f;
    }
    return ReadFrame{};
}

// 4 s of H.264 (key frames every 25) and G.711, recorded by CMP4Writer.
std::string Recording(const std::string& dir, bool withVideo = true, bool withAudio = true)
{
    const std::string name = dir + (withVideo ? (withAudio ? "/av.mp4" : "/v.mp4") : "/a.mp4");
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    const auto pcm = SplitRaw(Streams::Get().Mulaw(), 320);
    VideoParam v = H264Param();
    AudioParam a = G711Param();
    CMP4Writer w;
    EXPECT_EQ(0, w.OpenWrite(name.c_str(), withVideo ? &v : nullptr, withAudio ? &a : nullptr));
    for (size_t i = 0; i < 100; ++i) {
        if (withVideo)
            w.WriteOneFrame(1, aus[i].data.data(), int(aus[i].data.size()), int64_t(i) * 40, aus[i].key);
        if (withAudio)
            w.WriteOneFrame(0, pcm[i].data.data(), 320, int64_t(i) * 40, 1);
    }
    w.CloseFile();
    return name;
}

TEST(Mp4ReaderTest, SeeksAndKeyFrameMoves)
{
    TempDir dir;
    const std::string name = Recording(dir.path());
    CMP4Writer r;
    EXPECT_EQ(-1, r.SeekToFile(0)) << "not open";
    EXPECT_EQ(-1, r.MoveNextKeyFrame());
    EXPECT_EQ(-1, r.GetAllTime());
    EXPECT_EQ(0, r.GetTimeScale());
    VideoParam vp{};
    AudioParam ap{};
    EXPECT_EQ(-1, r.OpenRead(name.c_str(), nullptr, &ap));
    ASSERT_EQ(0, r.OpenRead(name.c_str(), &vp, &ap));
    EXPECT_EQ(4, r.GetAllTime());
    EXPECT_EQ(0, r.GetNowTime());
    EXPECT_EQ(90000, r.GetTimeScale());
    EXPECT_EQ(25, vp.frameRate);
    EXPECT_GT(vp.bitRate, 0);

    // At equal times the video frame comes first.
    ReadFrame f = Next(r);
    EXPECT_EQ(1, f.isVideo);
    EXPECT_EQ(0, f.ts);
    EXPECT_EQ(1, f.key);
    EXPECT_EQ(40, f.duration);
    f = Next(r);
    EXPECT_EQ(0, f.isVideo);
    EXPECT_EQ(0, f.ts);
    EXPECT_EQ(40, f.duration);

    ASSERT_EQ(0, r.SeekToFile(1));
    EXPECT_EQ(1, r.GetNowTime());
    f = Next(r);
    EXPECT_EQ(1, f.isVideo);
    EXPECT_EQ(1000, f.ts);
    EXPECT_EQ(1, f.key);
    f = Next(r);
    EXPECT_EQ(0, f.isVideo);
    EXPECT_EQ(1000, f.ts) << "audio is positioned at the same second";

    ASSERT_EQ(0, r.SeekToFile(0));
    EXPECT_EQ(0, NextVideo(r).ts);
    // Next key frame: from frame 0 to 25, then 50.
    ASSERT_EQ(0, r.MoveNextKeyFrame());
    f = NextVideo(r);
    EXPECT_EQ(1000, f.ts);
    EXPECT_EQ(1, f.key);
    // Back onto the key frame just read: the frame after it is not a sync sample.
    ASSERT_EQ(0, r.MovePrevKeyFrame());
    EXPECT_EQ(1000, NextVideo(r).ts);
    ASSERT_EQ(0, r.MoveNextKeyFrame());
    EXPECT_EQ(2000, NextVideo(r).ts);
    ASSERT_EQ(0, r.MoveNextKeyFrame());
    EXPECT_EQ(3000, NextVideo(r).ts);
    EXPECT_EQ(-1, r.MoveNextKeyFrame()) << "no key frame after the last one";

    // Past the end: nothing more to read.
    ASSERT_EQ(0, r.SeekToFile(10));
    int isVideo = 0, len = 0, key = 0;
    int64_t ts = 0, dur = 0;
    EXPECT_EQ(0, r.ReadOneFrame(isVideo, nullptr, len, ts, dur, key));
    uint8_t byte = 0;
    len = 1;
    EXPECT_EQ(-2, r.ReadOneFrame(isVideo, &byte, len, ts, dur, key));
    EXPECT_EQ(0, r.SeekToFile(0));
    r.CloseFile();
    EXPECT_EQ(-1, r.GetNowTime());
}

TEST(Mp4ReaderTest, BufferSizeIsChecked)
{
    TempDir dir;
    const std::string name = Recording(dir.path());
    CMP4Writer r;
    VideoParam vp{};
    AudioParam ap{};
    ASSERT_EQ(0, r.OpenRead(name.c_str(), &vp, &ap));
    int isVideo = 0, len = 0, key = 0;
    int64_t ts = 0, dur = 0;
    const int size = r.ReadOneFrame(isVideo, nullptr, len, ts, dur, key);
    ASSERT_GT(size, 100);
    std::vector<uint8_t> buf(static_cast<size_t>(size));
    len = size - 1;
    EXPECT_EQ(-2, r.ReadOneFrame(isVideo, buf.data(), len, ts, dur, key));
    EXPECT_EQ(size, len) << "the size needed is reported";
    len = size;
    EXPECT_EQ(size, r.ReadOneFrame(isVideo, buf.data(), len, ts, dur, key)) << "the position did not move";
    EXPECT_EQ(1, isVideo);
}

TEST(Mp4ReaderTest, RecordLengths)
{
    TempDir dir;
    CMP4Writer r;
    EXPECT_EQ(4, r.GetRecordTimeFromFile(Recording(dir.path()).c_str()));
    EXPECT_EQ(4, r.GetAllTime()) << "the file stays open for reading";
    EXPECT_EQ(4, r.GetRecordTimeFromFile(Recording(dir.path(), false, true).c_str())) << "audio only";
    EXPECT_EQ(-1, r.GetRecordTimeFromFile(nullptr));
    EXPECT_EQ(-2, r.GetRecordTimeFromFile((dir / "missing.mp4").c_str()));
    // A file with neither track.
    const std::string empty = dir / "empty.mp4";
    MP4Close(MP4CreateProviderEx(empty.c_str()));
    EXPECT_EQ(-3, r.GetRecordTimeFromFile(empty.c_str()));
    VideoParam vp{};
    AudioParam ap{};
    EXPECT_EQ(-3, r.OpenRead(empty.c_str(), &vp, &ap));
    EXPECT_EQ(-2, r.OpenRead((dir / "missing.mp4").c_str(), &vp, &ap));

    // Audio only: key-frame moves step through the audio.
    ASSERT_EQ(0, r.OpenRead(Recording(dir.path(), false, true).c_str(), &vp, &ap));
    EXPECT_EQ(0, vp.codecName[0]);
    EXPECT_STREQ("G711", ap.codecName);
    EXPECT_EQ(0, Next(r).ts);
    EXPECT_EQ(0, r.MoveNextKeyFrame());
    EXPECT_EQ(80, Next(r).ts);
    EXPECT_EQ(0, r.MovePrevKeyFrame());
    EXPECT_EQ(80, Next(r).ts);
}

// Files that ffmpeg muxed open and read back as Annex-B.
TEST(Mp4ReaderTest, OpensFilesMadeByFfmpeg)
{
    TempDir dir;
    Streams& s = Streams::Get();
    struct Case {
        std::string args;
        const char* video;
        const char* audio;
        int rate, channels;
    } cases[] = {
        {"-i '" + s.H264() + "' -i '" + s.Aac(16000, 1) + "'", "H264", "AAC", 16000, 1},
        {"-i '" + s.H265() + "' -i '" + s.Aac(32000, 2) + "' -tag:v hvc1", "H265", "AAC", 32000, 2},
        {"-i '" + s.H265() + "' -tag:v hev1", "H265", "", 0, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = dir / ("ff" + std::to_string(n++) + ".mp4");
        const auto mux = mp4test::Run("ffmpeg -nostdin -v error -y " + c.args + " -c copy -f mp4 '" + name + "'");
        ASSERT_EQ(0, mux.status) << mux.err;
        const auto packets = mp4test::Run("ffprobe -v error -show_entries packet=codec_type -of csv=p=0 '" + name + "'");
        const size_t expected = size_t(std::count(packets.out.begin(), packets.out.end(), '\n'));
        CMP4Writer r;
        VideoParam vp{};
        AudioParam ap{};
        ASSERT_EQ(0, r.OpenRead(name.c_str(), &vp, &ap)) << name;
        EXPECT_STREQ(c.video, vp.codecName);
        EXPECT_STREQ(c.audio, ap.codecName);
        EXPECT_EQ(176, vp.width);
        EXPECT_EQ(25, vp.frameRate);
        if (c.rate) {
            EXPECT_EQ(c.rate, ap.sampleRate);
            EXPECT_EQ(c.channels, ap.channels);
        }
        size_t frames = 0;
        int64_t last = INT64_MIN;
        for (ReadFrame f = Next(r); f.size > 0; f = Next(r)) {
            ++frames;
            if (f.isVideo) {
                ASSERT_GE(f.data.size(), 5u);
                EXPECT_EQ(0, memcmp(f.data.data(), "\0\0\0\1", 4));
                EXPECT_FALSE(NalUnits(f.data).empty());
            }
            EXPECT_GE(f.ts + 1, last);
            last = f.ts;
        }
        EXPECT_EQ(expected, frames) << name;
    }
}

// Damaged files: every reader call fails cleanly or reads what is there.
TEST(Mp4ReaderTest, DamagedFiles)
{
    TempDir dir;
    const std::string good = Recording(dir.path());
    const auto bytes = ReadFile(good);
    MP4LogSetLevel(MP4_LOG_NONE);
    const auto walk = [&](const std::vector<uint8_t>& b) {
        const std::string name = dir / "bad.mp4";
        WriteFile(name, b);
        CMP4Writer r;
        VideoParam vp{};
        AudioParam ap{};
        if (r.OpenRead(name.c_str(), &vp, &ap) != 0)
            return 0;
        int frames = 0;
        for (ReadFrame f = Next(r); f.size > 0 && frames < 1000; f = Next(r))
            ++frames;
        r.SeekToFile(2);
        r.MoveNextKeyFrame();
        r.MovePrevKeyFrame();
        r.GetAllTime();
        r.GetNowTime();
        r.GetTimeScale();
        Next(r);
        return frames;
    };
    EXPECT_EQ(200, walk(bytes));
    const boxtest::Box moov = boxtest::Find(bytes, "moov");
    for (size_t len = moov.offset; len < bytes.size(); len += 11)
        walk(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(len)));
    uint32_t seed = 99;
    for (int round = 0; round < 200; ++round) {
        auto b = bytes;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1103515245 + 12345;
            b[moov.offset + (seed >> 8) % moov.size] ^= uint8_t(1 << ((seed >> 3) & 7));
        }
        walk(b);
    }
    // Zero time scales: the reader falls back to its defaults.
    auto zero = bytes;
    for (const char* path : {"moov.trak[0].mdia.mdhd", "moov.trak[1].mdia.mdhd"}) {
        const boxtest::Box mdhd = boxtest::Find(zero, path);
        ASSERT_NE(0u, mdhd.size);
        boxtest::PutBe32(zero, mdhd.payload() + 12, 0);
    }
    EXPECT_EQ(200, walk(zero));
    MP4LogSetLevel(MP4_LOG_ERROR);
}

} // namespace
