// H.264/H.265 NAL unit helpers: Annex-B splitting (3- and 4-byte start
// codes), unit types, RBSP unescaping and the few parameter-set fields the
// sample-entry configuration records carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nal {

// A NAL unit inside a buffer, without its start code.
struct Unit {
    size_t offset;
    size_t size;
};

// True when the buffer begins with a start code (00 00 01, after any number
// of leading zero bytes, so 00 00 00 01 too).
bool StartsWithStartCode(const uint8_t* data, size_t size);

// Appends the NAL units of an Annex-B buffer to `out` (cleared first). Zero
// bytes in front of a start code belong to no unit; bytes before the first
// start code are ignored. Returns the number of units.
size_t SplitAnnexB(const uint8_t* data, size_t size, std::vector<Unit>& out);

inline int H264Type(uint8_t firstByte)
{
    return firstByte & 0x1F;
}
inline int H265Type(uint8_t firstByte)
{
    return (firstByte >> 1) & 0x3F;
}

enum H264Types { kH264Idr = 5, kH264Sei = 6, kH264Sps = 7, kH264Pps = 8, kH264Aud = 9 };
enum H265Types {
    kH265IrapFirst = 16,
    kH265IrapLast = 23,
    kH265Vps = 32,
    kH265Sps = 33,
    kH265Pps = 34,
    kH265Aud = 35,
    kH265SeiPrefix = 39,
    kH265SeiSuffix = 40,
};

// Slices (pictures): H.264 types 1..5, H.265 types 0..31.
inline bool IsVcl(bool h265, int type)
{
    return h265 ? type < 32 : (type >= 1 && type <= 5);
}
// Random access pictures: H.264 IDR, H.265 IRAP (BLA, IDR, CRA).
inline bool IsRandomAccess(bool h265, int type)
{
    return h265 ? (type >= kH265IrapFirst && type <= kH265IrapLast) : type == kH264Idr;
}
inline bool IsParameterSet(bool h265, int type)
{
    return h265 ? (type >= kH265Vps && type <= kH265Pps) : (type == kH264Sps || type == kH264Pps);
}

// The RBSP of a unit's payload: emulation prevention bytes (00 00 03) removed.
std::vector<uint8_t> Unescape(const uint8_t* data, size_t size);

// The fields of an H.265 VPS/SPS that the "hvcC" record header repeats.
struct HevcHeaderInfo {
    bool hasPtl = false;
    uint8_t ptl[12] = {}; // general profile/tier/level: profile byte, 4 compatibility, 6 constraint, level
    bool hasSps = false;
    uint8_t chromaFormat = 1;
    uint8_t bitDepthLumaMinus8 = 0;
    uint8_t bitDepthChromaMinus8 = 0;
    uint8_t numTemporalLayers = 1;
    uint8_t temporalIdNested = 1;
};

// Read from a VPS unit (with its 2-byte header). False when it is too short.
bool ParseHevcVps(const uint8_t* unit, size_t size, HevcHeaderInfo& info);
// Read from an SPS unit (with its 2-byte header). False when it is too short.
bool ParseHevcSps(const uint8_t* unit, size_t size, HevcHeaderInfo& info);

} // namespace nal
