// The MP4 library: what it writes (boxes, tables, properties) and what it
// reads back, large files with 64-bit offsets, and write failures.
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"
#include "tests/mp4/mp4_box_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <csignal>

using namespace mp4test;
using namespace boxtest;

namespace {

const uint8_t kSps[] = {0x67, 0x4D, 0x40, 0x1E, 0xAB, 0xCD};
const uint8_t kPps[] = {0x68, 0xEE, 0x3C, 0x80};

struct SampleSpec {
    bool video;
    uint32_t size;
    uint32_t duration;
    bool sync;
};

// 30 video samples (sync every 10th, one long and one short duration) and
// the AAC frames of the same 1.2 s, interleaved as a recorder would write them.
std::vector<SampleSpec> Plan()
{
    std::vector<SampleSpec> plan;
    int a = 0;
    for (int v = 0; v < 30; ++v) {
        const uint32_t d = v == 7 ? 5400 : v == 8 ? 1800 : 3600;
        plan.push_back({true, uint32_t(100 + v * 7), d, v % 10 == 0});
        while (a < 40 && a * 1024 * 90000 / 16000 <= (v + 1) * 3600) {
            plan.push_back({false, uint32_t(200 + a), 1024, true});
            ++a;
        }
    }
    return plan;
}

std::vector<uint8_t> Payload(const SampleSpec& s, size_t index)
{
    std::vector<uint8_t> b(s.size);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(index * 31 + i);
    return b;
}

struct Written {
    MP4TrackId video = 0, audio = 0;
};

Written WriteTestFile(const std::string& name, uint32_t createFlags = 0)
{
    Written w;
    MP4FileHandle f = MP4CreateProviderEx(name.c_str(), createFlags);
    EXPECT_NE(nullptr, f);
    if (!f)
        return w;
    EXPECT_TRUE(MP4SetTimeScale(f, 90000));
    w.video = MP4AddH264VideoTrack(f, 90000, 3600, 320, 240, 100, 0, 31, 3);
    MP4AddH264SequenceParameterSet(f, w.video, kSps, sizeof(kSps));
    MP4AddH264PictureParameterSet(f, w.video, kPps, sizeof(kPps));
    MP4SetVideoProfileLevel(f, 0x7F);
    w.audio = MP4AddAudioTrack(f, 16000, 1024, MP4_MPEG4_AUDIO_TYPE);
    const uint8_t asc[2] = {0x14, 0x08};
    EXPECT_TRUE(MP4SetTrackESConfiguration(f, w.audio, asc, 2));
    MP4SetAudioProfileLevel(f, 0x0F);
    const auto plan = Plan();
    for (size_t i = 0; i < plan.size(); ++i) {
        const auto bytes = Payload(plan[i], i);
        EXPECT_TRUE(MP4WriteSample(f, plan[i].video ? w.video : w.audio, bytes.data(), uint32_t(bytes.size()),
                                   plan[i].duration, 0, plan[i].sync));
    }
    MP4Close(f);
    return w;
}

TEST(Mp4FileTest, WritesTheBoxesPlayersExpect)
{
    TempDir dir;
    const std::string name = dir / "a.mp4";
    WriteTestFile(name);
    const auto b = ReadFile(name);
    const auto top = Children(b, 0, b.size());
    EXPECT_EQ((std::vector<std::string>{"ftyp", "free", "mdat", "moov"}), Types(top));
    const Box ftyp = Find(b, "ftyp");
    EXPECT_EQ("mp42", std::string(b.begin() + long(ftyp.payload()), b.begin() + long(ftyp.payload() + 4)));
    EXPECT_EQ((std::vector<std::string>{"mvhd", "iods", "trak", "trak"}), Types(ChildrenOf(b, Find(b, "moov"))));
    EXPECT_EQ((std::vector<std::string>{"tkhd", "mdia"}), Types(ChildrenOf(b, Find(b, "moov.trak[0]"))));
    EXPECT_EQ((std::vector<std::string>{"mdhd", "hdlr", "minf"}), Types(ChildrenOf(b, Find(b, "moov.trak[0].mdia"))));
    EXPECT_EQ((std::vector<std::string>{"vmhd", "dinf", "stbl"}),
              Types(ChildrenOf(b, Find(b, "moov.trak[0].mdia.minf"))));
    EXPECT_EQ((std::vector<std::string>{"smhd", "dinf", "stbl"}),
              Types(ChildrenOf(b, Find(b, "moov.trak[1].mdia.minf"))));
    EXPECT_EQ((std::vector<std::string>{"stsd", "stts", "stsz", "stsc", "stco", "stss"}),
              Types(ChildrenOf(b, Find(b, "moov.trak[0].mdia.minf.stbl"))));
    // Audio frames are all sync samples: no stss.
    EXPECT_EQ((std::vector<std::string>{"stsd", "stts", "stsz", "stsc", "stco"}),
              Types(ChildrenOf(b, Find(b, "moov.trak[1].mdia.minf.stbl"))));
    EXPECT_NE(0u, Find(b, "moov.trak[0].mdia.minf.dinf.dref.url ").size);
    EXPECT_NE(0u, Find(b, "moov.trak[1].mdia.minf.stbl.stsd.mp4a.esds").size);

    // avcC: version 1, the given profile and level, 4-byte lengths, one SPS and one PPS.
    const Box avcc = Find(b, "moov.trak[0].mdia.minf.stbl.stsd.avc1.avcC");
    ASSERT_NE(0u, avcc.size);
    const size_t p = avcc.payload();
    EXPECT_EQ(1, b[p]);
    EXPECT_EQ(100, b[p + 1]);
    EXPECT_EQ(31, b[p + 3]);
    EXPECT_EQ(0xFF, b[p + 4]);
    EXPECT_EQ(0xE1, b[p + 5]);
    EXPECT_EQ(sizeof(kSps), (size_t(b[p + 6]) << 8 | b[p + 7]));
    EXPECT_EQ(0, memcmp(&b[p + 8], kSps, sizeof(kSps)));

    // The mdat box covers exactly the sample data.
    const Box mdat = Find(b, "mdat");
    uint64_t total = 0;
    for (const auto& s : Plan())
        total += s.size;
    EXPECT_EQ(total + 8, mdat.size);
    // iods carries the profile levels.
    const Box iods = Find(b, "moov.iods");
    ASSERT_GE(iods.size, 21u);
    EXPECT_EQ(0x10, b[iods.payload() + 4]);
}

TEST(Mp4FileTest, ReadsBackSamplesTimesAndSyncFlags)
{
    TempDir dir;
    const std::string name = dir / "a.mp4";
    const Written w = WriteTestFile(name);
    MP4FileHandle f = MP4Read(name.c_str());
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(90000u, MP4GetTimeScale(f));
    EXPECT_EQ(2u, MP4GetNumberOfTracks(f));
    EXPECT_EQ(w.video, MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE));
    EXPECT_EQ(w.audio, MP4FindTrackId(f, 0, MP4_AUDIO_TRACK_TYPE));
    EXPECT_EQ(MP4_INVALID_TRACK_ID, MP4FindTrackId(f, 1, MP4_AUDIO_TRACK_TYPE));
    EXPECT_STREQ("avc1", MP4GetTrackMediaDataName(f, w.video));
    EXPECT_STREQ("mp4a", MP4GetTrackMediaDataName(f, w.audio));
    EXPECT_EQ(320, MP4GetTrackVideoWidth(f, w.video));
    EXPECT_EQ(240, MP4GetTrackVideoHeight(f, w.video));
    EXPECT_EQ(16000u, MP4GetTrackTimeScale(f, w.audio));
    EXPECT_EQ(30u * 3600, MP4GetTrackDuration(f, w.video));
    EXPECT_NEAR(25.0, MP4GetTrackVideoFrameRate(f, w.video), 0.01);

    uint8_t* config = nullptr;
    uint32_t configSize = 0;
    ASSERT_TRUE(MP4GetTrackESConfiguration(f, w.audio, &config, &configSize));
    ASSERT_EQ(2u, configSize);
    EXPECT_EQ(0x14, config[0]);
    EXPECT_EQ(0x08, config[1]);
    MP4Free(config);
    // The average bit rate in esds is measured from the samples.
    uint64_t bytes = 0, frames = 0;
    for (const auto& s : Plan())
        if (!s.video) {
            bytes += s.size;
            ++frames;
        }
    EXPECT_EQ(uint32_t(bytes * 8 * 16000 / (frames * 1024)), MP4GetTrackBitRate(f, w.audio));

    const auto plan = Plan();
    MP4SampleId vid = 0, aid = 0;
    MP4Timestamp vt = 0, at = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        const MP4TrackId track = plan[i].video ? w.video : w.audio;
        const MP4SampleId id = plan[i].video ? ++vid : ++aid;
        MP4Timestamp& t = plan[i].video ? vt : at;
        uint8_t* data = nullptr;
        uint32_t size = 0;
        MP4Timestamp start = 0;
        MP4Duration duration = 0;
        bool sync = false;
        ASSERT_TRUE(MP4ReadSample(f, track, id, &data, &size, &start, &duration, nullptr, &sync)) << i;
        EXPECT_EQ(Payload(plan[i], i), std::vector<uint8_t>(data, data + size)) << i;
        MP4Free(data);
        EXPECT_EQ(t, start) << i;
        EXPECT_EQ(t, MP4GetSampleTime(f, track, id));
        EXPECT_EQ(plan[i].duration, duration);
        EXPECT_EQ(plan[i].sync, sync) << i;
        EXPECT_EQ(plan[i].sync ? 1 : 0, MP4GetSampleSync(f, track, id));
        EXPECT_EQ(plan[i].size, MP4GetSampleSize(f, track, id));
        t += duration;
    }
    // Sample lookup by time, with and without the sync flag.
    EXPECT_EQ(1u, MP4GetSampleIdFromTime(f, w.video, 0, true));
    EXPECT_EQ(2u, MP4GetSampleIdFromTime(f, w.video, 3600));
    EXPECT_EQ(11u, MP4GetSampleIdFromTime(f, w.video, 3600, true));
    EXPECT_EQ(9u, MP4GetSampleIdFromTime(f, w.video, 7 * 3600 + 5400));      // the short sample
    EXPECT_EQ(8u, MP4GetSampleIdFromTime(f, w.video, 7 * 3600 + 5399));
    EXPECT_EQ(MP4_INVALID_SAMPLE_ID, MP4GetSampleIdFromTime(f, w.video, 21 * 3600, true)); // no sync after 21
    EXPECT_EQ(MP4_INVALID_SAMPLE_ID, MP4GetSampleIdFromTime(f, w.video, 30 * 3600));       // past the end
    EXPECT_EQ(MP4_INVALID_TIMESTAMP, MP4GetSampleTime(f, w.video, 31));
    EXPECT_EQ(-1, MP4GetSampleSync(f, w.video, 0));

    // A caller buffer that is too small fails; one that fits is used as it is.
    std::vector<uint8_t> small(50);
    uint8_t* p = small.data();
    uint32_t n = uint32_t(small.size());
    EXPECT_FALSE(MP4ReadSample(f, w.video, 1, &p, &n));
    std::vector<uint8_t> big(4096);
    p = big.data();
    n = uint32_t(big.size());
    ASSERT_TRUE(MP4ReadSample(f, w.video, 1, &p, &n));
    EXPECT_EQ(big.data(), p);
    EXPECT_EQ(100u, n);
    MP4Close(f);
}

TEST(Mp4FileTest, PropertiesByName)
{
    TempDir dir;
    const std::string name = dir / "p.mp4";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId audio = MP4AddAudioTrack(f, 16000, 2048);
    const MP4TrackId ulaw = MP4AddULawAudioTrack(f, 8000, 0);
    struct Case {
        MP4TrackId track;
        const char* name;
        bool found;
    } cases[] = {
        {audio, "mdia.minf.stbl.stsd.mp4a.esds.decConfigDescr.avgBitrate", true},
        {audio, "mdia.minf.stbl.stsd.*.esds.decConfigDescr.maxBitrate", true},
        {audio, "trak.mdia.minf.stbl.stsd.*.esds.decConfigDescr.avgBitrate", false}, // names start below trak
        {audio, "mdia.minf.stbl.stsd.*.esds.decConfigDescr.minBitrate", false},      // no such field
        {audio, "mdia.minf.stbl.stsd.mp4a.channels", true},
        {ulaw, "mdia.minf.stbl.stsd.ulaw.channels", true},
        {ulaw, "mdia.minf.stbl.stsd.mp4a.channels", false},
        {audio, "tkhd.trackId", true},
        {audio, "mdia.mdhd.timeScale", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.found, MP4SetTrackIntegerProperty(f, c.track, c.name, 1)) << c.name;
        uint64_t v = 0;
        EXPECT_EQ(c.found, MP4GetTrackIntegerProperty(f, c.track, c.name, &v)) << c.name;
    }
    EXPECT_TRUE(MP4HaveTrackAtom(f, ulaw, "mdia.minf.stbl.stsd.ulaw"));
    EXPECT_FALSE(MP4HaveTrackAtom(f, ulaw, "mdia.minf.stbl.stsd.hev1.hvcC"));
    EXPECT_TRUE(MP4HaveAtom(f, "moov.iods"));
    MP4SetVideoProfileLevel(f, 0x7F);
    uint64_t level = 0;
    EXPECT_TRUE(MP4GetIntegerProperty(f, "moov.iods.visualProfileLevelId", &level));
    EXPECT_EQ(0x7Fu, level);
    // The mu-law track's fixed duration defaults to an eighth of a second.
    EXPECT_EQ(1000u, MP4GetTrackFixedSampleDuration(f, ulaw));
    MP4Close(f);
}

// Real H.264 from ffmpeg and G.711 written straight through the library.
TEST(Mp4FileTest, LibraryFileDecodesWithFfmpeg)
{
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    const auto audio = SplitRaw(Streams::Get().Mulaw(), 320);
    ASSERT_GT(aus.size(), 50u);
    TempDir dir;
    for (uint32_t flags : {0u, MP4_CREATE_64BIT_DATA}) {
        const std::string name = dir / ("ff" + std::to_string(flags) + ".mp4");
        MP4FileHandle f = MP4CreateProviderEx(name.c_str(), flags);
        ASSERT_NE(nullptr, f);
        MP4SetTimeScale(f, 90000);
        const MP4TrackId v = MP4AddH264VideoTrack(f, 90000, 3600, 176, 144, 100, 0, 31, 3);
        const MP4TrackId a = MP4AddULawAudioTrack(f, 8000, 320);
        MP4SetTrackIntegerProperty(f, a, "mdia.minf.stbl.stsd.ulaw.channels", 1);
        bool sets = false;
        for (size_t i = 0; i < aus.size(); ++i) {
            std::vector<uint8_t> sample;
            for (const auto& u : NalUnits(aus[i].data)) {
                if (!sets && (H264Type(u) == 7 || H264Type(u) == 8))
                    (H264Type(u) == 7 ? MP4AddH264SequenceParameterSet : MP4AddH264PictureParameterSet)(
                        f, v, u.data(), uint16_t(u.size()));
                const uint32_t n = uint32_t(u.size());
                sample.insert(sample.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
                sample.insert(sample.end(), u.begin(), u.end());
            }
            sets = true;
            ASSERT_TRUE(MP4WriteSample(f, v, sample.data(), uint32_t(sample.size()), 3600, 0, aus[i].key));
            if (i < audio.size()) {
                ASSERT_TRUE(MP4WriteSample(f, a, audio[i].data.data(), 320, 320, 0, true));
            }
        }
        MP4Close(f);
        const auto streams = ProbeStreams(name);
        const Fields* vs = FindStream(streams, "video");
        const Fields* as = FindStream(streams, "audio");
        ASSERT_TRUE(vs && as);
        EXPECT_EQ(std::to_string(aus.size()), vs->at("nb_read_frames"));
        EXPECT_EQ("pcm_mulaw", as->at("codec_name"));
        EXPECT_EQ("8000", as->at("sample_rate"));
        EXPECT_EQ("1", as->at("channels"));
        EXPECT_EQ("", DecodeErrors(name));
        if (flags & MP4_CREATE_64BIT_DATA) {
            const auto b = ReadFile(name);
            const Box mdat = Find(b, "mdat");
            EXPECT_EQ(16u, mdat.header);
        }
    }
}

// Writes the header of a journaled file and the journal records of a movie
// (video track 1, mu-law track 2), so a test can build files of any size.
struct JournalParts {
    std::vector<uint8_t> head;    // the data file up to its first sample byte
    std::vector<uint8_t> journal; // header and movie snapshot, no sample records
};

JournalParts MakeJournalParts(const std::string& dir, const std::vector<Frame>& aus)
{
    const std::string name = dir + "/parts.mp4";
    const std::string jname = name + ".idx";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    EXPECT_TRUE(MP4EnableRecoveryJournal(f, jname.c_str(), 0, false));
    MP4SetTimeScale(f, 90000);
    const MP4TrackId v = MP4AddH264VideoTrack(f, 90000, 3600, 176, 144, 100, 0, 31, 3);
    MP4AddULawAudioTrack(f, 8000, 0);
    for (const auto& u : NalUnits(aus[0].data))
        if (H264Type(u) == 7 || H264Type(u) == 8)
            (H264Type(u) == 7 ? MP4AddH264SequenceParameterSet : MP4AddH264PictureParameterSet)(f, v, u.data(),
                                                                                                uint16_t(u.size()));
    const uint8_t one[1] = {0};
    MP4WriteSample(f, v, one, 1, 3600, 0, true); // makes the journal write its snapshot
    JournalParts parts;
    const auto data = ReadFile(name);
    const auto journal = ReadFile(jname);
    MP4Close(f);
    EXPECT_GT(data.size(), 17u);
    EXPECT_GT(journal.size(), 52u);
    parts.head.assign(data.begin(), data.end() - 1);
    parts.journal.assign(journal.begin(), journal.end() - 20); // without the sample record
    return parts;
}

void AppendRecord(std::vector<uint8_t>& journal, uint8_t track, bool sync, uint32_t size, uint32_t duration)
{
    uint8_t r[20] = {'S', track, uint8_t(sync ? 1 : 0), 0};
    for (int i = 0; i < 4; ++i) {
        r[4 + i] = uint8_t(size >> (8 * i));
        r[8 + i] = uint8_t(duration >> (8 * i));
    }
    uint32_t h = 2166136261u;
    for (int i = 0; i < 16; ++i)
        h = (h ^ r[i]) * 16777619u;
    for (int i = 0; i < 4; ++i)
        r[16 + i] = uint8_t(h >> (8 * i));
    journal.insert(journal.end(), r, r + 20);
}

std::vector<uint8_t> LengthPrefixed(const std::vector<uint8_t>& au)
{
    std::vector<uint8_t> sample;
    for (const auto& u : NalUnits(au)) {
        const uint32_t n = uint32_t(u.size());
        sample.insert(sample.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        sample.insert(sample.end(), u.begin(), u.end());
    }
    return sample;
}

// Sample data beyond 4 GiB: chunk offsets go to co64 and mdat gets a 64-bit
// size. The file is sparse: an audio sample of almost 4 GiB, then video frames.
TEST(Mp4FileTest, LargeFileUsesCo64)
{
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    ASSERT_GT(aus.size(), 30u);
    TempDir dir;
    JournalParts parts = MakeJournalParts(dir.path(), aus);
    const std::string name = dir / "big.mp4";
    const uint32_t filler = 0xFFFFFF00u;
    {
        std::vector<uint8_t> frames;
        std::vector<uint8_t> journal = parts.journal;
        AppendRecord(journal, 2, true, filler, 1);
        AppendRecord(journal, 2, true, 4096, 1); // the video starts past 4 GiB
        for (int i = 0; i < 30; ++i) {
            const auto s = LengthPrefixed(aus[size_t(i)].data);
            frames.insert(frames.end(), s.begin(), s.end());
            AppendRecord(journal, 1, aus[size_t(i)].key, uint32_t(s.size()), 3600);
        }
        WriteFile(name, parts.head);
        const int fd = open(name.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ssize_t(frames.size()),
                  pwrite(fd, frames.data(), frames.size(), off_t(parts.head.size() + filler + 4096)));
        close(fd);
        WriteFile(name + ".idx", journal);
    }
    EXPECT_EQ(32, MP4RecoverFile(name.c_str(), (name + ".idx").c_str()));
    EXPECT_FALSE(fs::exists(name + ".idx"));

    // Walk the boxes without reading the hole.
    const int fd = open(name.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    uint8_t h[16];
    ASSERT_EQ(16, pread(fd, h, 16, off_t(parts.head.size() - 16)));
    EXPECT_EQ(0, memcmp(h, "\0\0\0\1mdat", 8)) << "the mdat header takes the 64-bit form";
    close(fd);

    MP4FileHandle f = MP4Read(name.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId v = MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE);
    EXPECT_TRUE(MP4HaveTrackAtom(f, v, "mdia.minf.stbl.co64"));
    EXPECT_FALSE(MP4HaveTrackAtom(f, v, "mdia.minf.stbl.stco"));
    EXPECT_EQ(30u, MP4GetTrackNumberOfSamples(f, v));
    for (MP4SampleId id = 1; id <= 30; ++id) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(MP4ReadSample(f, v, id, &data, &size));
        EXPECT_EQ(LengthPrefixed(aus[id - 1].data), std::vector<uint8_t>(data, data + size));
        MP4Free(data);
    }
    MP4Close(f);
}

// Writes that fail (disk full) drop the samples whose bytes did not reach the
// file; the file still closes into a playable MP4.
TEST(Mp4FileTest, WriteFailureKeepsAPlayableFile)
{
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    ASSERT_GT(aus.size(), 50u);
    TempDir dir;
    const std::string name = dir / "full.mp4";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId v = MP4AddH264VideoTrack(f, 90000, 3600, 176, 144, 100, 0, 31, 3);
    for (const auto& u : NalUnits(aus[0].data))
        if (H264Type(u) == 7 || H264Type(u) == 8)
            (H264Type(u) == 7 ? MP4AddH264SequenceParameterSet : MP4AddH264PictureParameterSet)(f, v, u.data(),
                                                                                                uint16_t(u.size()));
    // A file size limit stands in for a full disk.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 60000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &lim));
    MP4LogSetLevel(MP4_LOG_NONE);
    int failures = 0;
    for (int round = 0; round < 40; ++round) // write far past the limit
        for (size_t i = 0; i < aus.size(); ++i) {
            std::vector<uint8_t> big = LengthPrefixed(aus[i].data);
            big.resize(big.size() + 4000); // makes the buffer overflow sooner
            failures += MP4WriteSample(f, v, big.data(), uint32_t(big.size()), 3600, 0, aus[i].key) ? 0 : 1;
        }
    setrlimit(RLIMIT_FSIZE, &old); // space again, as after the cleaner ran
    MP4LogSetLevel(MP4_LOG_ERROR);
    signal(SIGXFSZ, oldHandler);
    MP4Close(f);
    EXPECT_GT(failures, 0);
    // The samples whose bytes reached the file before it filled up, then the
    // few buffered when it had room again.
    MP4FileHandle r = MP4Read(name.c_str());
    ASSERT_NE(nullptr, r);
    const MP4TrackId rv = MP4FindTrackId(r, 0, MP4_VIDEO_TRACK_TYPE);
    const uint32_t n = MP4GetTrackNumberOfSamples(r, rv);
    EXPECT_GT(n, 5u);
    for (MP4SampleId id = 1; id <= n; ++id) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(MP4ReadSample(r, rv, id, &data, &size)) << id;
        const std::vector<uint8_t> sample(data, data + size - 4000);
        MP4Free(data);
        if (id <= 5) {
            EXPECT_EQ(LengthPrefixed(aus[id - 1].data), sample) << id;
        } else {
            bool known = false;
            for (const auto& au : aus)
                known |= LengthPrefixed(au.data) == sample;
            EXPECT_TRUE(known) << id;
        }
    }
    MP4Close(r);
}

} // namespace
