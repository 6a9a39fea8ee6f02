// What the stream pull does to the demuxer's packets before it queues them:
// video packets of one time stamp become one Annex-B access unit (4-byte start
// codes, no delimiters, parameter sets in front of key frames), raw AAC frames
// get an ADTS header. Bytes in, bytes out: no network and no libav here.
#pragma once

#include "controls/media_params.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace qelm {

enum class PullVideoCodec { kOther, kH264, kH265 };

// The NAL units of an Annex-B block (payloads without start codes). A block
// without a start code is one unit.
std::vector<std::pair<const uint8_t*, size_t>> SplitAnnexB(const uint8_t* d, size_t n);

// Remembers the parameter sets of an H.264/H.265 stream and puts them in
// front of key frames that come without them.
class VideoShaper {
public:
    // Larger "parameter sets" are not remembered: real ones are a few hundred
    // bytes, and each remembered set is copied in front of every key frame.
    static constexpr size_t kMaxParamSet = 4096;

    explicit VideoShaper(PullVideoCodec codec);

    // Out-of-band sets in Annex-B form; an avcC/hvcC record is ignored (the
    // sets then come in-band).
    void SetExtradata(const uint8_t* d, size_t n);

    // The parameter-set block for VideoParam (0 bytes when it cannot fit).
    size_t Config(uint8_t* out, size_t cap) const;

    // Shapes one access unit into out; returns true for a key frame.
    // *setsChanged tells that the unit brought new parameter sets.
    bool Shape(const uint8_t* d, size_t n, std::vector<uint8_t>& out, bool* setsChanged);

private:
    int Type(const uint8_t* p) const { return m_hevc ? (p[0] >> 1) & 0x3f : p[0] & 0x1f; }
    bool IsAud(int t) const { return m_hevc ? t == 35 : t == 9; }
    bool IsSps(int t) const { return m_hevc ? t == 33 : t == 7; }
    bool IsKey(int t) const { return m_hevc ? (t >= 16 && t <= 21) : t == 5; }
    bool IsParamSet(int t) const { return m_hevc ? (t >= 32 && t <= 34) : (t == 7 || t == 8); }
    bool Remember(const uint8_t* p, size_t len);

    bool m_hevc;
    bool m_nal;
    std::vector<uint8_t> m_vps, m_sps, m_pps;
};

// Decode times of pictures that come in decode order stamped with their
// presentation times only (RTP). With a reorder depth d, the n-th decode
// time is the (n-d)-th smallest presentation time, known once picture n has
// come; the first d pictures step back from it by the frame interval. A
// picture shown before the last decode time means the depth was too small:
// it grows by one (up to kMaxDepth).
class DecodeClock {
public:
    static constexpr int kMaxDepth = 16;

    // depth 0 = pictures come in presentation order (every offset is 0).
    void Reset(int depth, double frameMs);
    // Presentation - decode time (ms, >= 0) of the next picture in decode order.
    double Offset(double presentationMs);
    int Depth() const { return m_depth; }

private:
    int m_depth = 0;
    double m_frameMs = 40;
    std::vector<double> m_heap;   // presentation times not yet used as decode times
    bool m_haveLast = false;
    double m_lastDecode = 0;
};

// Collects the demuxer's video packets into access units and hands each on
// shaped. NAL codecs: the packets of one time stamp make a unit, handed on
// when the next stamp arrives; other codecs: each packet is a unit.
class AccessUnitAssembler {
public:
    // A 4K key frame at a high bit rate is 1-2 MB; a unit growing past this
    // is a peer that never ends its fragments, and is dropped.
    static constexpr size_t kMaxAccessUnit = 4u << 20;
    static constexpr int64_t kNoTimeStamp = INT64_MIN;   // libav's AV_NOPTS_VALUE

    class Output {
    public:
        virtual ~Output() = default;
        // One shaped unit; setsChanged when it brought new parameter sets.
        virtual void Unit(const uint8_t* data, size_t size, const MediaFrameHeader& hdr, bool setsChanged) = 0;
        // A unit went over the limit and was dropped with the rest of its
        // time stamp; bytes = what it had reached.
        virtual void Oversized(size_t bytes) = 0;
    };

    // Time stamps count in units of tbNum/tbDen seconds.
    AccessUnitAssembler(PullVideoCodec codec, int tbNum, int tbDen, size_t maxUnit = kMaxAccessUnit);

    VideoShaper& Shaper() { return m_shaper; }
    const VideoShaper& Shaper() const { return m_shaper; }

    // One demuxer packet; keyFlag is the demuxer's key flag (used only for
    // codecs other than H.264/H.265).
    void Add(const uint8_t* d, size_t n, int64_t ts, bool keyFlag, Output& out);

    // Bytes held for the unit being collected.
    size_t Pending() const { return m_au.size(); }

    // Pictures may come ahead of their showing (B-frames): units get their
    // render offset from a DecodeClock of this depth.
    void SetReorderDepth(int depth, double frameMs) { m_clock.Reset(depth, frameMs); }

private:
    void Flush(Output& out);
    double ToMs(int64_t ts) const;

    VideoShaper m_shaper;
    bool m_nal;
    int m_tbNum, m_tbDen;
    size_t m_max;
    std::vector<uint8_t> m_au, m_out;
    int64_t m_auTs = kNoTimeStamp;
    bool m_auKey = false;
    bool m_dropping = false;   // the unit of m_auTs went over the limit
    double m_lastMs = 0;
    DecodeClock m_clock;
};

// Gives raw AAC frames the 7-byte ADTS header that lets them stand alone.
class AdtsFramer {
public:
    // objectType from the AudioSpecificConfig (1..4, else AAC LC); an
    // unknown rate is taken as 44.1 kHz; channels are clamped to 1..7.
    void Configure(int objectType, int sampleRate, int channels);
    bool Enabled() const { return m_header[0] != 0; }
    // False (out untouched) when the frame is too long for an ADTS header.
    bool Frame(const uint8_t* d, size_t n, std::vector<uint8_t>& out) const;

private:
    uint8_t m_header[7] = {};
};

} // namespace qelm
