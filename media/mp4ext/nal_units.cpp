// Annex-B splitting, RBSP unescaping and the H.265 parameter-set fields of hvcC.
#include "media/mp4ext/nal_units.h"

#include <cstring>

namespace nal {

namespace {

// The first "00 00 01" at or after p, or end.
const uint8_t* FindStartCode(const uint8_t* p, const uint8_t* end)
{
    if (end - p < 3)
        return end;
    const uint8_t* q = p + 2;
    while (q < end) {
        q = static_cast<const uint8_t*>(memchr(q, 1, size_t(end - q)));
        if (!q)
            return end;
        if (q[-1] == 0 && q[-2] == 0)
            return q - 2;
        ++q;
    }
    return end;
}

// Exp-Golomb and fixed-width reads over an RBSP; reading past the end sets failed.
class BitReader {
public:
    BitReader(const std::vector<uint8_t>& d) : m_data(d) {}
    bool failed = false;

    uint32_t Bits(unsigned n)
    {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (m_pos >= m_data.size() * 8) {
                failed = true;
                return 0;
            }
            v = (v << 1) | ((m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1);
            ++m_pos;
        }
        return v;
    }
    void Skip(unsigned n) { Bits(n); }
    uint32_t Ue()
    {
        unsigned zeros = 0;
        while (!failed && Bits(1) == 0)
            if (++zeros > 31) {
                failed = true;
                return 0;
            }
        return zeros ? ((1u << zeros) - 1 + Bits(zeros)) : 0;
    }

private:
    const std::vector<uint8_t>& m_data;
    size_t m_pos = 0;
};

} // namespace

bool StartsWithStartCode(const uint8_t* data, size_t size)
{
    size_t zeros = 0;
    while (zeros < size && data[zeros] == 0)
        ++zeros;
    return zeros >= 2 && zeros < size && data[zeros] == 1;
}

size_t SplitAnnexB(const uint8_t* data, size_t size, std::vector<Unit>& out)
{
    out.clear();
    const uint8_t* end = data + size;
    const uint8_t* sc = FindStartCode(data, end);
    while (sc < end) {
        const uint8_t* start = sc + 3;
        const uint8_t* next = FindStartCode(start, end);
        const uint8_t* stop = next;
        while (stop > start && stop[-1] == 0)
            --stop;
        if (stop > start)
            out.push_back({size_t(start - data), size_t(stop - start)});
        sc = next;
    }
    return out.size();
}

std::vector<uint8_t> Unescape(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    unsigned zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

bool ParseHevcVps(const uint8_t* unit, size_t size, HevcHeaderInfo& info)
{
    if (size < 3)
        return false;
    // After the 2-byte header: vps id (4), base layer flags (2), max layers (6),
    // max sub-layers (3), temporal id nesting (1), reserved 0xFFFF (16), then
    // the general profile, tier and level.
    const std::vector<uint8_t> rbsp = Unescape(unit + 2, size - 2);
    if (rbsp.size() < 4 + 12)
        return false;
    memcpy(info.ptl, rbsp.data() + 4, 12);
    info.hasPtl = true;
    return true;
}

bool ParseHevcSps(const uint8_t* unit, size_t size, HevcHeaderInfo& info)
{
    if (size < 3)
        return false;
    const std::vector<uint8_t> rbsp = Unescape(unit + 2, size - 2);
    if (rbsp.size() < 1 + 12)
        return false;
    BitReader br(rbsp);
    br.Skip(4); // sps_video_parameter_set_id
    const unsigned maxSubLayersMinus1 = br.Bits(3);
    const unsigned nesting = br.Bits(1);
    if (!info.hasPtl) {
        memcpy(info.ptl, rbsp.data() + 1, 12);
        info.hasPtl = true;
    }
    br.Skip(96); // general profile_tier_level
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (unsigned i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = br.Bits(1);
        levelPresent[i] = br.Bits(1);
    }
    if (maxSubLayersMinus1 > 0)
        for (unsigned i = maxSubLayersMinus1; i < 8; ++i)
            br.Skip(2);
    for (unsigned i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            br.Skip(88);
        if (levelPresent[i])
            br.Skip(8);
    }
    br.Ue(); // sps_seq_parameter_set_id
    const uint32_t chroma = br.Ue();
    if (chroma == 3)
        br.Skip(1);
    br.Ue(); // width
    br.Ue(); // height
    if (br.Bits(1)) { // conformance window
        br.Ue();
        br.Ue();
        br.Ue();
        br.Ue();
    }
    const uint32_t luma = br.Ue();
    const uint32_t chromaDepth = br.Ue();
    info.numTemporalLayers = uint8_t(maxSubLayersMinus1 + 1);
    info.temporalIdNested = uint8_t(nesting);
    if (br.failed || chroma > 3 || luma > 7 || chromaDepth > 7)
        return true; // the profile fields are still good
    info.hasSps = true;
    info.chromaFormat = uint8_t(chroma);
    info.bitDepthLumaMinus8 = uint8_t(luma);
    info.bitDepthChromaMinus8 = uint8_t(chromaDepth);
    return true;
}

} // namespace nal
