// The H.265 additions: the parameter-array store, the hvcC box and its
// header, the hev1 track, and the other extension calls.
#include "media/mp4ext/hevc_param_arrays.h"
#include "media/mp4ext/mp4_hevc.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"
#include "tests/mp4/mp4_box_util.h"

#include <gtest/gtest.h>

using namespace mp4test;
using namespace boxtest;

namespace {

TEST(HevcPtrArrayTest, GrowsByHalfAndKeepsOrder)
{
    HevcPtrArray* a = HevcPtrArrayCreate();
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0u, a->capacity);
    EXPECT_EQ(nullptr, a->items);
    std::vector<uint32_t> capacities;
    int values[40];
    for (int i = 0; i < 34; ++i) {
        ASSERT_EQ(0, HevcPtrArrayPush(a, &values[i]));
        if (capacities.empty() || capacities.back() != a->capacity)
            capacities.push_back(a->capacity);
    }
    EXPECT_EQ((std::vector<uint32_t>{10, 15, 22, 33, 49}), capacities);
    EXPECT_EQ(34u, HevcPtrArrayCount(a));
    EXPECT_EQ(&values[5], HevcPtrArrayGet(a, 5));
    EXPECT_EQ(nullptr, HevcPtrArrayGet(a, 34));
    EXPECT_EQ(0, HevcPtrArrayRemove(a, 5));
    EXPECT_EQ(&values[6], HevcPtrArrayGet(a, 5));
    EXPECT_EQ(33u, HevcPtrArrayCount(a));
    EXPECT_EQ(-1, HevcPtrArrayRemove(a, 33));
    HevcPtrArrayFree(a);

    EXPECT_EQ(0u, HevcPtrArrayCount(nullptr));
    EXPECT_EQ(nullptr, HevcPtrArrayGet(nullptr, 0));
    EXPECT_EQ(-1, HevcPtrArrayRemove(nullptr, 0));
    HevcPtrArray* empty = HevcPtrArrayCreate();
    EXPECT_EQ(-1, HevcPtrArrayRemove(empty, 0));
    HevcPtrArrayFree(empty);
}

// The first access unit's VPS, SPS and PPS of the x265 test stream.
struct HevcSets {
    std::vector<uint8_t> vps, sps, pps;
};

HevcSets FirstSets(const std::vector<Frame>& aus)
{
    HevcSets s;
    for (const auto& u : NalUnits(aus.at(0).data)) {
        const int t = H265Type(u);
        if (t == 32)
            s.vps = u;
        if (t == 33)
            s.sps = u;
        if (t == 34)
            s.pps = u;
    }
    return s;
}

TEST(HevcStoreTest, AddsReplacesAndAppendsArrays)
{
    mp4::MP4File file;
    mp4ext::MP4HvcCAtom hvcc(file);
    auto* prop = hvcc.GetParamArraySet();
    const uint8_t vps[] = {0x40, 0x01, 1, 2, 3};
    const uint8_t sps[] = {0x42, 0x01, 1, 2, 3, 4, 5, 6};
    const uint8_t pps[] = {0x44, 0x01, 9};
    ASSERT_EQ(0, prop->AddNalUnit(vps, sizeof(vps)));
    ASSERT_EQ(0, prop->AddNalUnit(sps, sizeof(sps)));
    ASSERT_EQ(0, prop->AddNalUnit(pps, sizeof(pps)));
    HevcParamArraySet* set = prop->GetStore();
    ASSERT_EQ(3u, HevcParamArraySetCount(set));
    const int types[] = {32, 33, 34};
    for (uint32_t i = 0; i < 3; ++i) {
        HevcParamArray* e = HevcParamArraySetGet(set, i);
        EXPECT_EQ(types[i], e->nalUnitType);
        EXPECT_EQ(1, e->completeness);
        EXPECT_EQ(1u, HevcPtrArrayCount(e->units));
    }
    // A second SPS no longer than the first replaces it; a longer one gets an entry.
    const uint8_t shorter[] = {0x42, 0x01, 7, 7};
    ASSERT_EQ(0, prop->AddNalUnit(shorter, sizeof(shorter)));
    ASSERT_EQ(3u, HevcParamArraySetCount(set));
    HevcNalUnit* unit = HevcParamArrayGetUnit(HevcParamArraySetGet(set, 1), 0);
    EXPECT_EQ(4, unit->length);
    EXPECT_EQ(0, memcmp(unit->bytes, shorter, 4));
    const uint8_t longer[] = {0x42, 0x01, 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(0, prop->AddNalUnit(longer, sizeof(longer)));
    ASSERT_EQ(4u, HevcParamArraySetCount(set));
    EXPECT_EQ(33, HevcParamArraySetGet(set, 3)->nalUnitType);

    // Written: header, numOfArrays 4, each array with one unit; read back alike.
    mp4::MP4Output out;
    prop->Write(out);
    const auto& b = out.Bytes();
    ASSERT_GT(b.size(), 23u);
    EXPECT_EQ(1, b[0]);
    EXPECT_EQ(4, b[22]);
    EXPECT_EQ(0x80 | 32, b[23]);
    mp4::MP4Input in(b.data(), b.size());
    mp4ext::MP4HvcCAtom again(file);
    again.GetParamArraySet()->Read(in);
    EXPECT_EQ(0u, in.Remaining());
    EXPECT_EQ(4u, HevcParamArraySetCount(again.GetParamArraySet()->GetStore()));

    std::string dump;
    prop->Dump(dump, 0, false);
    EXPECT_NE(std::string::npos, dump.find("ParamArraySet.param_array cound = <4>")) << dump;
    EXPECT_THROW(prop->SetValueSize(30), mp4::MP4Error);

    prop->SetImplicit(true);
    EXPECT_EQ(-1, prop->AddNalUnit(pps, sizeof(pps)));
}

TEST(HevcTrackTest, HvcCHeaderComesFromTheStream)
{
    const std::string stream = Streams::Get().H265();
    const auto aus = SplitStream(stream, "hevc");
    ASSERT_GT(aus.size(), 50u);
    const HevcSets sets = FirstSets(aus);
    ASSERT_FALSE(sets.vps.empty() || sets.sps.empty() || sets.pps.empty());

    TempDir dir;
    const std::string name = dir / "h.mp4";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    ASSERT_NE(nullptr, f);
    MP4SetTimeScale(f, 90000);
    const MP4TrackId v = MP4AddH265VideoTrack(f, 90000, 3600, 176, 144);
    ASSERT_NE(MP4_INVALID_TRACK_ID, v);
    EXPECT_STREQ("hev1", MP4GetTrackMediaDataName(f, v));

    std::vector<uint8_t> block;
    NalPositions pos{};
    const std::vector<uint8_t>* units[3] = {&sets.vps, &sets.sps, &sets.pps};
    for (int i = 0; i < 3; ++i) {
        block.insert(block.end(), {0, 0, 0, 1});
        pos.nal[i] = {int32_t(block.size()), int32_t(units[i]->size())};
        block.insert(block.end(), units[i]->begin(), units[i]->end());
    }
    EXPECT_EQ(3, MP4AddH265ParameterArraySet(f, v, block.data(), &pos, 3));
    // The H.264 calls find none of their tables in hvcC and change nothing.
    std::vector<std::string> lines;
    static std::vector<std::string>* sink;
    sink = &lines;
    MP4SetLogCallback([](MP4LogLevel, const char* m) { sink->push_back(m); });
    MP4AddH264SequenceParameterSet(f, v, sets.sps.data(), uint16_t(sets.sps.size()));
    MP4AddH264PictureParameterSet(f, v, sets.pps.data(), uint16_t(sets.pps.size()));
    MP4SetLogCallback(nullptr);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("MP4AddH264SequenceParameterSet: \"" + name + "\": Could not find hvcC properties", lines[0]);
    EXPECT_EQ("MP4AddH264PictureParameterSet: \"" + name + "\": Could not find hvcC picture table properties",
              lines[1]);

    for (const auto& au : aus) {
        std::vector<uint8_t> sample;
        for (const auto& u : NalUnits(au.data)) {
            const uint32_t n = uint32_t(u.size());
            sample.insert(sample.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
            sample.insert(sample.end(), u.begin(), u.end());
        }
        ASSERT_TRUE(MP4WriteSample(f, v, sample.data(), uint32_t(sample.size()), 3600, 0, au.key));
    }
    MP4Close(f);

    const auto b = ReadFile(name);
    const Box hvcc = Find(b, "moov.trak.mdia.minf.stbl.stsd.hev1.hvcC");
    ASSERT_GT(hvcc.size, 8u + 23u);
    const uint8_t* h = &b[hvcc.payload()];
    const auto probe = mp4test::Run("ffprobe -v error -show_entries stream=profile,level -of default=nw=1 '" + stream + "'");
    EXPECT_NE(std::string::npos, probe.out.find("profile=Main")) << probe.out;
    EXPECT_EQ(1, h[0]);                                   // configuration version
    EXPECT_EQ(1, h[1] & 0x1F);                            // general_profile_idc: Main
    EXPECT_NE(std::string::npos, probe.out.find("level=" + std::to_string(h[12]))) << probe.out;
    EXPECT_EQ(0xF0, h[13] & 0xF0);                        // reserved bits
    EXPECT_EQ(0xFC, h[15] & 0xFC);
    EXPECT_EQ(0xFD, h[16]);                               // 4:2:0
    EXPECT_EQ(0xF8, h[17]);                               // 8-bit luma
    EXPECT_EQ(0xF8, h[18]);                               // 8-bit chroma
    EXPECT_EQ(3, h[21] & 3);                              // lengthSizeMinusOne: 4-byte lengths
    EXPECT_EQ(3, h[22]);                                  // numOfArrays
    EXPECT_EQ(0x80 | 32, h[23]);

    const auto streams = ProbeStreams(name);
    const Fields* vs = FindStream(streams, "video");
    ASSERT_NE(nullptr, vs);
    EXPECT_EQ("hevc", vs->at("codec_name"));
    EXPECT_EQ("hev1", vs->at("codec_tag_string"));
    EXPECT_EQ(std::to_string(aus.size()), vs->at("nb_read_frames"));
    EXPECT_EQ("", DecodeErrors(name));

    // Read back with the boxes known: the store holds the three units.
    MP4RegisterH265Atoms();
    MP4FileHandle r = MP4Read(name.c_str());
    ASSERT_NE(nullptr, r);
    uint8_t* value = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(MP4GetTrackBytesProperty(r, v, "mdia.minf.stbl.stsd.hev1.hvcC.ParamArraySet", &value, &size));
    MP4Free(value);
    MP4Close(r);
}

TEST(HevcTrackTest, ExtensionCallFailures)
{
    TempDir dir;
    const std::string name = dir / "x.mp4";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    ASSERT_NE(nullptr, f);
    const MP4TrackId avc = MP4AddH264VideoTrack(f, 90000, 3600, 64, 64, 100, 0, 31, 3);
    const uint8_t block[] = {0, 0, 0, 1, 0x40, 0x01, 0x0C};
    const NalPositions pos{{{4, 3}, {4, 3}, {4, 3}}};
    EXPECT_EQ(-1, MP4AddH265ParameterArraySet(f, avc, block, &pos, 3)) << "not an hev1 track";
    EXPECT_EQ(-1, MP4AddH265ParameterArraySet(nullptr, avc, block, &pos, 3));
    EXPECT_EQ(MP4_INVALID_TRACK_ID, MP4AddH265VideoTrack(nullptr, 90000, 3600, 64, 64));
    EXPECT_FALSE(MP4UpdateFixSampleDuration(nullptr, avc, 5));
    EXPECT_EQ(MP4_INVALID_TRACK_ID, MP4AddULawAudioTrack(nullptr, 8000, 0));

    const MP4TrackId ulaw = MP4AddULawAudioTrack(f, 8000, 0);
    EXPECT_EQ(1000u, MP4GetTrackFixedSampleDuration(f, ulaw));
    const MP4TrackId ulaw2 = MP4AddULawAudioTrack(f, 16000, 1024);
    EXPECT_EQ(1024u, MP4GetTrackFixedSampleDuration(f, ulaw2));
    EXPECT_TRUE(MP4UpdateFixSampleDuration(f, ulaw, 40));
    EXPECT_EQ(40u, MP4GetTrackFixedSampleDuration(f, ulaw));
    // A sample written without a duration takes the fixed one.
    const uint8_t pcm[40] = {};
    EXPECT_TRUE(MP4WriteSample(f, ulaw, pcm, sizeof(pcm)));
    MP4Close(f);
    MP4FileHandle r = MP4Read(name.c_str());
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(40u, MP4GetSampleDuration(r, ulaw, 1));
    MP4Close(r);
}

} // namespace
