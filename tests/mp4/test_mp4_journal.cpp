// The recovery journal: a file whose writer died is finished from it with the
// samples whose bytes reached the disk, whatever state the tail is in.
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"

#include <gtest/gtest.h>

using namespace mp4test;

namespace {

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

// A recording in progress: H.264 and G.711, journal written after every sample.
class Recording {
public:
    Recording(const std::string& name, uint32_t intervalMs)
        : m_aus(SplitStream(Streams::Get().H264(), "h264")), m_audio(SplitRaw(Streams::Get().Mulaw(), 320))
    {
        m_file = MP4CreateProviderEx(name.c_str());
        EXPECT_TRUE(MP4EnableRecoveryJournal(m_file, (name + ".idx").c_str(), intervalMs, false));
        MP4SetTimeScale(m_file, 90000);
        m_video = MP4AddH264VideoTrack(m_file, 90000, 3600, 176, 144, 100, 0, 31, 3);
        m_ulaw = MP4AddULawAudioTrack(m_file, 8000, 320);
        MP4SetTrackIntegerProperty(m_file, m_ulaw, "mdia.minf.stbl.stsd.ulaw.channels", 1);
        for (const auto& u : NalUnits(m_aus[0].data))
            if (H264Type(u) == 7 || H264Type(u) == 8)
                (H264Type(u) == 7 ? MP4AddH264SequenceParameterSet : MP4AddH264PictureParameterSet)(
                    m_file, m_video, u.data(), uint16_t(u.size()));
    }
    ~Recording()
    {
        if (m_file)
            MP4Close(m_file);
    }
    // Writes frames [from, to) of video, each followed by its audio frame.
    void Write(size_t from, size_t to)
    {
        for (size_t i = from; i < to && i < m_aus.size(); ++i) {
            const auto s = LengthPrefixed(m_aus[i].data);
            EXPECT_TRUE(MP4WriteSample(m_file, m_video, s.data(), uint32_t(s.size()), 3600, 0, m_aus[i].key));
            EXPECT_TRUE(MP4WriteSample(m_file, m_ulaw, m_audio[i].data.data(), 320, 320, 0, true));
        }
    }
    void Close()
    {
        MP4Close(m_file);
        m_file = nullptr;
    }
    const std::vector<Frame>& Aus() const { return m_aus; }

private:
    std::vector<Frame> m_aus, m_audio;
    MP4FileHandle m_file = nullptr;
    MP4TrackId m_video = 0, m_ulaw = 0;
};

// The state a crash would leave: copies of the data file and its journal.
void Snapshot(const std::string& name, const std::string& copy)
{
    fs::copy_file(name, copy, fs::copy_options::overwrite_existing);
    fs::copy_file(name + ".idx", copy + ".idx", fs::copy_options::overwrite_existing);
}

uint32_t VideoSamples(const std::string& name)
{
    MP4FileHandle f = MP4Read(name.c_str());
    if (!f)
        return 0;
    const uint32_t n = MP4GetTrackNumberOfSamples(f, MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE));
    MP4Close(f);
    return n;
}

TEST(Mp4JournalTest, RecoversEveryJournaledSample)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    const std::string copy = dir / "crash.mp4.tmp";
    Recording rec(name, 0);
    rec.Write(0, 60);
    Snapshot(name, copy);
    // The live file is locked by its writer: recovery leaves it alone.
    MP4LogSetLevel(MP4_LOG_NONE);
    EXPECT_EQ(-1, MP4RecoverFile(name.c_str(), (name + ".idx").c_str()));
    MP4LogSetLevel(MP4_LOG_ERROR);
    rec.Write(60, 100);
    rec.Close();
    EXPECT_FALSE(fs::exists(name + ".idx")) << "a clean close removes the journal";

    EXPECT_EQ(120, MP4RecoverFile(copy.c_str(), (copy + ".idx").c_str()));
    EXPECT_FALSE(fs::exists(copy + ".idx"));
    EXPECT_EQ(60u, VideoSamples(copy));
    EXPECT_EQ("", DecodeErrors(copy));
    MP4FileHandle f = MP4Read(copy.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId v = MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE);
    const MP4TrackId a = MP4FindTrackId(f, 0, MP4_AUDIO_TRACK_TYPE);
    EXPECT_STREQ("ulaw", MP4GetTrackMediaDataName(f, a));
    EXPECT_EQ(1, MP4GetTrackAudioChannels(f, a));
    EXPECT_EQ(60u * 3600, MP4GetTrackDuration(f, v));
    for (MP4SampleId id = 1; id <= 60; ++id) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        bool sync = false;
        ASSERT_TRUE(MP4ReadSample(f, v, id, &data, &size, nullptr, nullptr, nullptr, &sync));
        EXPECT_EQ(LengthPrefixed(rec.Aus()[id - 1].data), std::vector<uint8_t>(data, data + size));
        EXPECT_EQ(rec.Aus()[id - 1].key, sync);
        MP4Free(data);
    }
    MP4Close(f);
}

// The data file ends inside a sample, or the journal's tail is damaged: the
// samples before that point are kept.
TEST(Mp4JournalTest, DamagedTailsKeepTheGoodPrefix)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    Recording rec(name, 0);
    rec.Write(0, 40);
    const std::string cut = dir / "cut.mp4.tmp";
    Snapshot(name, cut);
    const std::string torn = dir / "torn.mp4.tmp";
    Snapshot(name, torn);
    rec.Close();

    // Cut the data in the middle of the 31st video sample.
    {
        MP4FileHandle f = MP4Read(name.c_str());
        ASSERT_NE(nullptr, f);
        const MP4TrackId v = MP4FindTrackId(f, 0, MP4_VIDEO_TRACK_TYPE);
        const uint64_t size = fs::file_size(cut);
        // The data before the 31st video sample: ftyp (24 bytes), the free
        // and mdat headers, 30 video and 30 audio samples.
        uint64_t offset = 24 + 16;
        for (MP4SampleId id = 1; id <= 30; ++id)
            offset += MP4GetSampleSize(f, v, id) + 320;
        const uint64_t keep = offset + MP4GetSampleSize(f, v, 31) / 2;
        ASSERT_LT(keep, size);
        fs::resize_file(cut, keep);
        MP4Close(f);
    }
    EXPECT_EQ(60, MP4RecoverFile(cut.c_str(), (cut + ".idx").c_str()));
    EXPECT_EQ(30u, VideoSamples(cut));
    EXPECT_EQ("", DecodeErrors(cut));

    // A damaged record in the journal ends it there.
    {
        auto j = ReadFile(torn + ".idx");
        const size_t records = 20 * 80; // 40 video + 40 audio
        ASSERT_GT(j.size(), records);
        j[j.size() - records + 20 * 50 + 5] ^= 0x40; // inside the 51st sample record
        WriteFile(torn + ".idx", j);
    }
    EXPECT_EQ(50, MP4RecoverFile(torn.c_str(), (torn + ".idx").c_str()));
    EXPECT_EQ(25u, VideoSamples(torn));
    EXPECT_EQ("", DecodeErrors(torn));
}

// Before the journal's first write-out nothing was journaled: there is
// nothing to keep (0), the data file is left as it was for the caller and the
// journal goes unless asked to stay. Without a journal recovery fails.
TEST(Mp4JournalTest, NoSnapshotYetKeepsNothing)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    Recording rec(name, 3600 * 1000);
    rec.Write(0, 10);
    const std::string copy = dir / "early.mp4.tmp";
    Snapshot(name, copy);
    const auto before = ReadFile(copy);
    MP4LogSetLevel(MP4_LOG_NONE);
    EXPECT_EQ(-1, MP4RecoverFile(copy.c_str(), (dir / "missing.idx").c_str()));
    MP4LogSetLevel(MP4_LOG_ERROR);
    EXPECT_EQ(0, MP4RecoverFile(copy.c_str(), (copy + ".idx").c_str(), false));
    EXPECT_TRUE(fs::exists(copy + ".idx"));
    EXPECT_EQ(0, MP4RecoverFile(copy.c_str(), (copy + ".idx").c_str()));
    EXPECT_FALSE(fs::exists(copy + ".idx"));
    EXPECT_EQ(before, ReadFile(copy));
}

// Only a file whose writer finished it counts as finished: not one being
// written, cut short, with bytes after its movie box, or of another kind.
TEST(Mp4JournalTest, FinishedFilesAndTheirSamples)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    Recording rec(name, 0);
    rec.Write(0, 30);
    EXPECT_EQ(-1, MP4FinishedFileSamples(name.c_str())) << "being written";
    const std::string unfinished = dir / "unfinished.mp4.tmp";
    Snapshot(name, unfinished);
    rec.Close();
    EXPECT_EQ(60, MP4FinishedFileSamples(name.c_str()));

    const auto whole = ReadFile(name);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"cut inside the movie box", std::vector<uint8_t>(whole.begin(), whole.end() - 10)},
        {"bytes after the movie box", [&] {
             auto b = whole;
             b.insert(b.end(), {0, 0, 0, 9, 'j', 'u', 'n', 'k', 0});
             return b;
         }()},
        {"not an MP4 file", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}},
        {"empty", {}},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "case.mp4";
        WriteFile(path, c.bytes);
        EXPECT_EQ(-1, MP4FinishedFileSamples(path.c_str())) << c.name;
    }
    EXPECT_EQ(-1, MP4FinishedFileSamples(unfinished.c_str()));
    EXPECT_EQ(-1, MP4FinishedFileSamples((dir / "missing.mp4").c_str()));
    EXPECT_EQ(-1, MP4FinishedFileSamples(nullptr));
}

// A close that keeps the journal finishes the file the same way.
TEST(Mp4JournalTest, CloseCanKeepTheJournal)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    ASSERT_TRUE(MP4EnableRecoveryJournal(f, (name + ".idx").c_str(), 0, false));
    const MP4TrackId t = MP4AddULawAudioTrack(f, 8000, 160);
    const std::vector<uint8_t> pcm(160, 0x7F);
    for (int i = 0; i < 5; ++i)
        MP4WriteSample(f, t, pcm.data(), uint32_t(pcm.size()), 160, 0, true);
    EXPECT_TRUE(MP4CloseKeepJournal(f));
    EXPECT_TRUE(fs::exists(name + ".idx"));
    EXPECT_EQ(5, MP4FinishedFileSamples(name.c_str()));
    EXPECT_FALSE(MP4CloseKeepJournal(nullptr));
}

// A file that was finished but whose journal survived (a crash between the
// two) recovers to the same samples.
TEST(Mp4JournalTest, FinishedFileRecoversToTheSameSamples)
{
    TempDir dir;
    const std::string name = dir / "rec.mp4.tmp";
    Recording rec(name, 0);
    rec.Write(0, 50);
    const auto journal = ReadFile(name + ".idx");
    rec.Close();
    WriteFile(name + ".idx", journal);
    EXPECT_EQ(100, MP4RecoverFile(name.c_str(), (name + ".idx").c_str()));
    EXPECT_EQ(50u, VideoSamples(name));
    EXPECT_EQ("", DecodeErrors(name));
}

} // namespace
