// The reader on damaged and hostile files: truncations, box sizes past the
// end, entry counts larger than their bytes, zero time scales, deep nesting.
// Each call must fail with its failure value, never crash or allocate wildly.
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"
#include "tests/mp4/mp4_box_util.h"
#include "tests/mp4/mp4_exercise.h"

#include <gtest/gtest.h>

using namespace mp4test;
using namespace boxtest;

namespace {

// A small valid file: an H.264 track of 20 samples (sync every 5th) and an
// audio track of 20 samples.
std::vector<uint8_t> ValidFile(const std::string& path)
{
    MP4FileHandle f = MP4CreateProviderEx(path.c_str());
    MP4SetTimeScale(f, 90000);
    const MP4TrackId v = MP4AddH264VideoTrack(f, 90000, 3600, 64, 48, 66, 0, 30, 3);
    const uint8_t sps[] = {0x67, 0x42, 0x00, 0x1E, 0x01};
    const uint8_t pps[] = {0x68, 0xCE, 0x01};
    MP4AddH264SequenceParameterSet(f, v, sps, sizeof(sps));
    MP4AddH264PictureParameterSet(f, v, pps, sizeof(pps));
    const MP4TrackId a = MP4AddAudioTrack(f, 16000, 1024);
    const uint8_t asc[] = {0x14, 0x08};
    MP4SetTrackESConfiguration(f, a, asc, 2);
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> s(size_t(40 + i * 3), uint8_t(i));
        MP4WriteSample(f, v, s.data(), uint32_t(s.size()), 3600, 0, i % 5 == 0);
        MP4WriteSample(f, a, s.data(), 30, 1024, 0, true);
    }
    MP4Close(f);
    return ReadFile(path);
}

// Every box of the movie, depth first.
void CollectBoxes(const std::vector<uint8_t>& b, const Box& box, std::vector<Box>& out)
{
    out.push_back(box);
    static const char* containers[] = {"moov", "trak", "mdia", "minf", "dinf", "stbl", "stsd", "avc1", "mp4a", "dref"};
    for (const char* c : containers)
        if (box.type == c)
            for (const Box& child : ChildrenOf(b, box))
                CollectBoxes(b, child, out);
}

class HostileFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MP4LogSetLevel(MP4_LOG_NONE);
        m_valid = ValidFile(m_dir / "valid.mp4");
        ASSERT_EQ(40u, ExerciseReader((m_dir / "valid.mp4").c_str()));
        CollectBoxes(m_valid, Find(m_valid, "moov"), m_boxes);
        ASSERT_GT(m_boxes.size(), 20u);
    }
    void TearDown() override { MP4LogSetLevel(MP4_LOG_ERROR); }

    // Writes the bytes as a file and walks it; returns the samples read.
    uint32_t Try(const std::vector<uint8_t>& bytes)
    {
        const std::string path = m_dir / "bad.mp4";
        WriteFile(path, bytes);
        return ExerciseReader(path.c_str());
    }
    const Box* FindBox(const std::string& type) const
    {
        for (const Box& b : m_boxes)
            if (b.type == type)
                return &b;
        return nullptr;
    }

    TempDir m_dir;
    std::vector<uint8_t> m_valid;
    std::vector<Box> m_boxes;
};

TEST_F(HostileFileTest, TruncatedAnywhere)
{
    const Box moov = Find(m_valid, "moov");
    for (size_t len = 0; len < m_valid.size(); len += (len < moov.offset ? 97 : 3))
        Try(std::vector<uint8_t>(m_valid.begin(), m_valid.begin() + long(len)));
    // Without its end the movie box is unusable: nothing opens.
    EXPECT_EQ(0u, Try(std::vector<uint8_t>(m_valid.begin(), m_valid.end() - 1)));
}

TEST_F(HostileFileTest, BoxSizesThatLie)
{
    const uint32_t sizes[] = {0, 1, 7, 8, 9, 0x7FFFFFFF, 0xFFFFFFFF};
    for (const Box& box : m_boxes)
        for (uint32_t s : sizes) {
            std::vector<uint8_t> bad = m_valid;
            PutBe32(bad, box.offset, s);
            Try(bad);
            if (s == 1) { // a 64-bit size follows: make it huge
                for (int k = 0; k < 8; ++k)
                    bad[box.offset + 8 + size_t(k)] = 0xFF;
                Try(bad);
            }
        }
    for (const Box& box : m_boxes) {
        std::vector<uint8_t> bad = m_valid;
        PutBe32(bad, box.offset, uint32_t(box.size + 1));
        Try(bad);
    }
}

TEST_F(HostileFileTest, EntryCountsLargerThanTheirBytes)
{
    // Offset of the entry count within each table box's payload.
    const std::map<std::string, size_t> countAt = {{"stts", 4}, {"stss", 4}, {"stsc", 4}, {"stco", 4},
                                                   {"stsz", 8}, {"stsd", 4}, {"dref", 4}};
    const uint32_t counts[] = {0, 2, 0x10000, 0x40000000, 0xFFFFFFFF};
    for (const Box& box : m_boxes) {
        auto it = countAt.find(box.type);
        if (it == countAt.end())
            continue;
        for (uint32_t n : counts) {
            std::vector<uint8_t> bad = m_valid;
            PutBe32(bad, box.payload() + it->second, n);
            Try(bad);
        }
    }
    // One size for every sample and a sample count no file could hold.
    const Box* stsz = FindBox("stsz");
    ASSERT_NE(nullptr, stsz);
    for (uint32_t size : {1u, 7u, 0x1000u}) {
        std::vector<uint8_t> bad = m_valid;
        PutBe32(bad, stsz->payload() + 4, size);
        PutBe32(bad, stsz->payload() + 8, 0xFFFFFFF0);
        EXPECT_LT(Try(bad), 40u);
    }
}

TEST_F(HostileFileTest, OddTablesAndTimeScales)
{
    struct Edit {
        const char* box;
        size_t at; // from the payload
        uint32_t value;
    } edits[] = {
        {"mdhd", 12, 0},          // zero time scale
        {"mvhd", 12, 0},
        {"stsc", 8, 0},           // first chunk 0
        {"stsc", 12, 0},          // zero samples per chunk
        {"stsc", 12, 0xFFFFFFFF}, // more samples per chunk than exist
        {"stco", 8, 0xFFFFFFF0},  // chunk past the end of the file
        {"stts", 12, 0},          // zero durations
        {"stts", 8, 0xFFFFFFFF},  // more samples than the sizes table
        {"stss", 8, 0xFFFFFFFF},  // sync sample past the end
        {"stsz", 12, 0xFFFFFFFF}, // a sample bigger than the file
    };
    for (const Edit& e : edits) {
        for (const Box& box : m_boxes) {
            if (box.type != e.box || box.payload() + e.at + 4 > box.end())
                continue;
            std::vector<uint8_t> bad = m_valid;
            PutBe32(bad, box.payload() + e.at, e.value);
            Try(bad);
        }
    }
    // A zero time scale still reads the samples.
    const Box* mdhd = FindBox("mdhd");
    std::vector<uint8_t> bad = m_valid;
    PutBe32(bad, mdhd->payload() + 12, 0);
    EXPECT_EQ(40u, Try(bad));
}

TEST_F(HostileFileTest, DeepNestingAndGarbage)
{
    // moov > trak > trak > ... thousands deep.
    std::vector<uint8_t> deep;
    const int depth = 5000;
    for (int i = 0; i < depth; ++i) {
        const uint32_t size = uint32_t(8 * (depth - i));
        deep.insert(deep.end(), {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
        deep.insert(deep.end(), i == 0 ? std::initializer_list<uint8_t>{'m', 'o', 'o', 'v'}
                                       : std::initializer_list<uint8_t>{'t', 'r', 'a', 'k'});
    }
    EXPECT_EQ(0u, Try(deep));
    // Random bytes, and random bytes after a valid ftyp.
    uint32_t seed = 12345;
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> junk(size_t(64 + round * 37));
        for (auto& x : junk) {
            seed = seed * 1103515245 + 12345;
            x = uint8_t(seed >> 16);
        }
        Try(junk);
        std::vector<uint8_t> withMoov = {0, 0, 0, uint8_t(junk.size() + 8), 'm', 'o', 'o', 'v'};
        withMoov.insert(withMoov.end(), junk.begin(), junk.end());
        if (junk.size() + 8 < 256)
            Try(withMoov);
    }
    // Random byte flips all over the movie box.
    const Box moov = Find(m_valid, "moov");
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bad = m_valid;
        for (int k = 0; k < 3; ++k) {
            seed = seed * 1103515245 + 12345;
            bad[moov.offset + (seed >> 8) % moov.size] ^= uint8_t(1 << ((seed >> 4) & 7));
        }
        Try(bad);
    }
}

} // namespace

// An audio track written with an empty configuration reads back as empty.
TEST(EmptyEsConfiguration, ReadsBackAsEmpty)
{
    const std::string path = ::testing::TempDir() + "empty_esds.mp4";
    MP4FileHandle w = MP4CreateProviderEx(path.c_str());
    ASSERT_NE(w, MP4_INVALID_FILE_HANDLE);
    const MP4TrackId t = MP4AddAudioTrack(w, 16000, 1024, MP4_MPEG4_AUDIO_TYPE);
    ASSERT_NE(t, MP4_INVALID_TRACK_ID);
    const uint8_t none = 0;
    MP4SetTrackESConfiguration(w, t, &none, 0);
    const uint8_t frame[4] = {1, 2, 3, 4};
    ASSERT_TRUE(MP4WriteSample(w, t, frame, sizeof frame, 1024, 0, true));
    MP4Close(w, 0);

    MP4FileHandle r = MP4Read(path.c_str());
    ASSERT_NE(r, MP4_INVALID_FILE_HANDLE);
    uint8_t* config = nullptr;
    uint32_t size = 99;
    MP4GetTrackESConfiguration(r, 1, &config, &size);
    EXPECT_EQ(size, 0u);
    free(config);
    MP4Close(r, 0);
    std::remove(path.c_str());
}
