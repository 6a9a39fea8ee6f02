// Tests of the stream pull's packet shaping without a network: access units
// collected by time stamp and bounded in size, parameter sets, ADTS headers.
#include "controls/stream_shaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

using qelm::AccessUnitAssembler;
using qelm::PullVideoCodec;

struct Collected : AccessUnitAssembler::Output {
    struct Unit {
        std::vector<uint8_t> data;
        MediaFrameHeader hdr;
        bool setsChanged;
    };
    std::vector<Unit> units;
    std::vector<size_t> oversized;

    void Unit(const uint8_t* d, size_t n, const MediaFrameHeader& h, bool changed) override
    {
        units.push_back({std::vector<uint8_t>(d, d + n), h, changed});
    }
    void Oversized(size_t bytes) override { oversized.push_back(bytes); }
};

// An H.264 NAL unit of the given type and size (header included), with a
// start code in front when annexB.
std::vector<uint8_t> Nal(int type, size_t size, bool annexB = true, uint8_t fill = 0xAB)
{
    std::vector<uint8_t> v;
    if (annexB)
        v = {0, 0, 0, 1};
    v.push_back(static_cast<uint8_t>(0x60 | type));
    v.resize(v.size() + (size > 1 ? size - 1 : 0), fill);
    return v;
}

struct Packet {
    size_t size;
    int64_t ts;
};

struct BoundCase {
    const char* name;
    PullVideoCodec codec;
    std::vector<Packet> packets;
    std::vector<size_t> unitSizes;   // payload bytes of each unit handed on, in order
    std::vector<size_t> oversized;   // what each drop reported
};

void PrintTo(const BoundCase& c, std::ostream* os)
{
    *os << c.name;
}

class AccessUnitBound : public ::testing::TestWithParam<BoundCase> {};

// A limit of 1000 bytes; every packet is one slice NAL (4-byte start code).
// H.264/H.265 units are handed on when the next stamp arrives.
TEST_P(AccessUnitBound, UnitsOverTheLimitAreDroppedWholeAndReported)
{
    const BoundCase& c = GetParam();
    AccessUnitAssembler a(c.codec, 1, 90000, 1000);
    Collected out;
    for (const Packet& p : c.packets) {
        auto bytes = Nal(1, p.size - 4);
        a.Add(bytes.data(), bytes.size(), p.ts, false, out);
        EXPECT_LE(a.Pending(), 1000u);
    }
    std::vector<size_t> sizes;
    for (auto& u : out.units)
        sizes.push_back(u.data.size());
    EXPECT_EQ(sizes, c.unitSizes);
    EXPECT_EQ(out.oversized, c.oversized);
}

constexpr int64_t kNoTs = AccessUnitAssembler::kNoTimeStamp;

INSTANTIATE_TEST_SUITE_P(
    Cases, AccessUnitBound,
    ::testing::Values(
        BoundCase{"ExactlyTheLimitPasses", PullVideoCodec::kH264,
                  {{600, 0}, {400, 0}, {100, 3600}, {10, 7200}}, {1000, 100}, {}},
        BoundCase{"TheFragmentThatCrossesDropsTheUnitAndTheRestOfItsStamp", PullVideoCodec::kH264,
                  {{600, 0}, {401, 0}, {300, 0}, {300, 0}, {100, 3600}, {10, 7200}}, {100}, {1001}},
        BoundCase{"OneHugePacket", PullVideoCodec::kH265,
                  {{100, 0}, {5000, 3600}, {50, 7200}, {10, 10800}}, {100, 50}, {5000}},
        BoundCase{"UnstampedFragmentsStayDropped", PullVideoCodec::kH264,
                  {{900, 0}, {200, kNoTs}, {900, kNoTs}, {100, 3600}, {10, 7200}}, {100}, {1100}},
        BoundCase{"OtherCodecsDropOnlyTheLargePacket", PullVideoCodec::kOther,
                  {{1001, 0}, {300, 0}, {300, 0}, {1000, 3600}}, {300, 300, 1000}, {1001}}),
    [](const auto& info) { return std::string(info.param.name); });

// A peer that never ends its fragments: 70 MB under one stamp in RTP-sized
// pieces. Nothing of it is kept beyond the limit or handed on, and the next
// unit goes through.
TEST(AccessUnitAssembler, FragmentsThatNeverEndAreDroppedAtTheLimit)
{
    AccessUnitAssembler a(PullVideoCodec::kH264, 1, 90000);
    Collected out;
    std::vector<uint8_t> piece(64 * 1024, 0xFF);
    piece[0] = 0x41;
    size_t peak = 0;
    for (size_t sent = 0; sent < (70u << 20); sent += piece.size()) {
        a.Add(piece.data(), piece.size(), 3600, false, out);
        peak = std::max(peak, a.Pending());
    }
    EXPECT_LE(peak, AccessUnitAssembler::kMaxAccessUnit);
    EXPECT_TRUE(out.units.empty());
    ASSERT_EQ(out.oversized.size(), 1u) << "one report per unit";
    EXPECT_GT(out.oversized[0], AccessUnitAssembler::kMaxAccessUnit);

    auto next = Nal(1, 2000);
    a.Add(next.data(), next.size(), 7200, false, out);
    a.Add(next.data(), next.size(), 10800, false, out);
    ASSERT_EQ(out.units.size(), 1u);
    EXPECT_EQ(out.units[0].data, next);
    EXPECT_DOUBLE_EQ(out.units[0].hdr.timeStamp, 80.0);
}

// Parameter sets: remembered, put in front of key frames that come without
// them, reported as changed once; an outsized "set" is not copied around.
TEST(AccessUnitAssembler, ParameterSetsGoInFrontOfKeyFramesWithin)
{
    AccessUnitAssembler a(PullVideoCodec::kH264, 1, 90000);
    Collected out;
    auto sps = Nal(7, 12), pps = Nal(8, 5), idr = Nal(5, 300), p = Nal(1, 100), aud = Nal(9, 2);
    std::vector<uint8_t> first;
    for (auto* part : {&aud, &sps, &pps, &idr})
        first.insert(first.end(), part->begin(), part->end());
    a.Add(first.data(), first.size(), 0, false, out);
    a.Add(p.data(), p.size(), 3600, false, out);
    a.Add(idr.data(), idr.size(), 7200, false, out);
    auto bigSps = Nal(7, qelm::VideoShaper::kMaxParamSet + 1);
    bigSps.insert(bigSps.end(), p.begin(), p.end());
    a.Add(bigSps.data(), bigSps.size(), 10800, false, out);
    a.Add(idr.data(), idr.size(), 14400, false, out);
    a.Add(p.data(), p.size(), 18000, false, out);

    ASSERT_EQ(out.units.size(), 5u);
    std::vector<uint8_t> setsAndIdr;
    for (auto* part : {&sps, &pps, &idr})
        setsAndIdr.insert(setsAndIdr.end(), part->begin(), part->end());
    EXPECT_EQ(out.units[0].data, setsAndIdr) << "delimiter removed";
    EXPECT_TRUE(out.units[0].setsChanged);
    EXPECT_EQ(out.units[0].hdr.keyFrame, 1);
    EXPECT_EQ(out.units[1].hdr.keyFrame, 0);
    EXPECT_EQ(out.units[2].data, setsAndIdr) << "sets put in front";
    EXPECT_FALSE(out.units[2].setsChanged);
    EXPECT_FALSE(out.units[3].setsChanged) << "outsized set not taken";
    EXPECT_EQ(out.units[4].data, setsAndIdr);
    uint8_t config[256];
    size_t n = a.Shaper().Config(config, sizeof config);
    EXPECT_EQ(std::vector<uint8_t>(config, config + n), std::vector<uint8_t>(setsAndIdr.begin(),
                                                                             setsAndIdr.end() - long(idr.size())));
}

struct ReorderCase {
    const char* name;
    int depth;                      // what the demuxer's probe reported
    std::vector<double> shown;      // presentation times (ms) in decode order
    std::vector<double> offsets;    // presentation - decode; empty: not pinned down
    int depthAfter;
    size_t steadyFrom = 0;          // decode times go forward from this picture on
};

void PrintTo(const ReorderCase& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeClockCases : public ::testing::TestWithParam<ReorderCase> {};

// 25 fps. Decode times never pass the presentation time and never go back,
// but at the picture that teaches the depth or restarts the clock; once the
// clock knows the depth they step one frame at a time.
TEST_P(DecodeClockCases, DecodeTimesFollowTheFrameRate)
{
    const ReorderCase& c = GetParam();
    qelm::DecodeClock clock;
    clock.Reset(c.depth, 40);
    std::vector<double> offsets, decode;
    for (double t : c.shown) {
        offsets.push_back(clock.Offset(t));
        decode.push_back(t - offsets.back());
    }
    if (!c.offsets.empty()) {
        EXPECT_EQ(offsets, c.offsets);
    }
    for (size_t i = 0; i < offsets.size(); ++i) {
        EXPECT_GE(offsets[i], 0) << "picture " << i;
        if (i > c.steadyFrom) {
            EXPECT_GE(decode[i], decode[i - 1]) << "picture " << i;
        }
    }
    for (size_t i = decode.size() - 4; i < decode.size(); ++i)
        EXPECT_EQ(decode[i] - decode[i - 1], 40) << "picture " << i;
    EXPECT_EQ(clock.Depth(), c.depthAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecodeClockCases,
    ::testing::Values(
        ReorderCase{"InOrder", 0, {0, 40, 80, 120, 160, 200, 240}, {0, 0, 0, 0, 0, 0, 0}, 0},
        // I0 P3 B1 B2 P6 B4 B5
        ReorderCase{"TwoBFrames", 1, {0, 120, 40, 80, 240, 160, 200}, {40, 120, 0, 0, 120, 0, 0}, 1},
        // I0 P4 B2 b1 b3 P8 B6 b5 b7: a B-frame that others refer to
        ReorderCase{"Pyramid", 2, {0, 160, 80, 40, 120, 320, 240, 200, 280}, {80, 200, 80, 0, 40, 200, 80, 0, 40}, 2},
        // The probe missed the B-frames: the first late picture teaches the depth.
        ReorderCase{"DepthLearned", 0, {0, 120, 40, 80, 240, 160, 200, 360, 280, 320, 480, 400, 440}, {}, 2, 4},
        // The camera restarted its clock: the earlier pictures are forgotten.
        ReorderCase{"ClockRestart", 1, {10000, 10120, 10040, 10080, 0, 120, 40, 80, 240, 160, 200},
                    {40, 120, 0, 0, 40, 120, 0, 0, 120, 0, 0}, 1, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// The units the assembler hands on carry the offset in microseconds.
TEST(AccessUnitAssembler, UnitsCarryTheirRenderOffset)
{
    AccessUnitAssembler a(PullVideoCodec::kH264, 1, 90000);
    a.SetReorderDepth(1, 40);
    Collected out;
    for (int64_t ts : {0, 10800, 3600, 7200, 21600}) {   // 90 kHz: I0 P3 B1 B2 P6
        auto bytes = Nal(ts == 0 ? 5 : 1, 50);
        a.Add(bytes.data(), bytes.size(), ts, false, out);
    }
    ASSERT_EQ(out.units.size(), 4u);   // the last waits for the next stamp
    std::vector<int32_t> offsets;
    for (auto& u : out.units)
        offsets.push_back(u.hdr.renderOffsetUs);
    EXPECT_EQ(offsets, (std::vector<int32_t>{40000, 120000, 0, 0}));
}

TEST(AdtsFramer, HeaderDescribesTheFrameAndLongFramesAreRefused)
{
    qelm::AdtsFramer f;
    EXPECT_FALSE(f.Enabled());
    f.Configure(2, 16000, 1);
    ASSERT_TRUE(f.Enabled());
    std::vector<uint8_t> payload(300, 0x21), out;
    ASSERT_TRUE(f.Frame(payload.data(), payload.size(), out));
    ASSERT_EQ(out.size(), 307u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1] & 0xF6, 0xF0);                         // sync, MPEG-4, layer 0
    EXPECT_EQ((out[2] >> 6) + 1, 2);                         // AAC LC
    EXPECT_EQ((out[2] >> 2) & 0xF, 8);                       // 16 kHz
    EXPECT_EQ(((out[2] & 1) << 2) | (out[3] >> 6), 1);       // mono
    EXPECT_EQ(((out[3] & 3) << 11) | (out[4] << 3) | (out[5] >> 5), 307);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin() + 7));

    std::vector<uint8_t> longFrame(0x2000 - 7, 0), kept = out;
    EXPECT_FALSE(f.Frame(longFrame.data(), longFrame.size(), out));
    EXPECT_EQ(out, kept);
}

} // namespace
