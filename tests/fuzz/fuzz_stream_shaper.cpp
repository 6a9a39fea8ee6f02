// Fuzz target: the stream pull's packet shaping, fed what a camera's RTP
// depacketizer could hand it. The input: a codec byte (H.264, H.265, other), a
// byte choosing the access-unit limit (small, so the drop paths run), then
// records of a kind byte, a 16-bit length and that many bytes:
//   kind & 3 == 0  a video packet; bit 2 key flag, bit 3 "no time stamp",
//                  bit 4 a new time stamp
//   kind & 3 == 1  out-of-band parameter sets (then the config block is read)
//   kind & 3 == 2  an AAC frame for the ADTS header; the first two bytes, when
//                  present, configure object type, rate index and channels
//   kind & 3 == 3  an AAC frame framed with the current configuration
// Every unit handed on must stay within the limit (with its start codes and
// the remembered parameter sets in front), and every ADTS frame must say its
// own length.
#include "controls/stream_shaper.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

const int kRates[] = {96000, 48000, 44100, 16000, 8000, 12345};

struct Check : qelm::AccessUnitAssembler::Output {
    size_t bound = 0;   // a unit's bytes; a key frame may have the sets in front besides
    void Unit(const uint8_t* data, size_t size, const MediaFrameHeader& hdr, bool) override
    {
        const size_t sets = hdr.keyFrame ? 3 * (4 + qelm::VideoShaper::kMaxParamSet) : 0;
        if (size == 0 || size > bound + sets || (hdr.keyFrame != 0 && hdr.keyFrame != 1))
            abort();
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < size; ++i)
            sum = static_cast<uint8_t>(sum + data[i]);
    }
    void Oversized(size_t) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const auto codec = static_cast<qelm::PullVideoCodec>(data[0] % 3);
    const size_t limit = 16 + size_t(data[1]) * 64;
    qelm::AccessUnitAssembler assembler(codec, 1, 90000, limit);
    Check check;
    // Every NAL unit may gain a byte (3- to 4-byte start codes, or one put in
    // front of a block without).
    check.bound = limit + limit / 4 + 4;
    qelm::AdtsFramer adts;
    std::vector<uint8_t> out;
    int64_t ts = 0;
    size_t pos = 2;
    while (pos + 3 <= size) {
        const uint8_t kind = data[pos];
        size_t n = size_t(data[pos + 1]) | (size_t(data[pos + 2]) << 8);
        pos += 3;
        if (n > size - pos)
            n = size - pos;
        const uint8_t* p = data + pos;
        pos += n;
        switch (kind & 3) {
        case 0:
            if (kind & 0x10)
                ts += 3600;
            assembler.Add(p, n, (kind & 8) ? qelm::AccessUnitAssembler::kNoTimeStamp : ts, (kind & 4) != 0, check);
            if (assembler.Pending() > limit)
                abort();
            break;
        case 1: {
            assembler.Shaper().SetExtradata(p, n);
            uint8_t config[256];
            if (assembler.Shaper().Config(config, sizeof config) > sizeof config)
                abort();
            break;
        }
        case 2:
            if (n >= 2) {
                adts.Configure(p[0] >> 3, kRates[p[1] % 6], p[1] >> 4);
                p += 2;
                n -= 2;
            }
            [[fallthrough]];
        case 3:
            if (adts.Frame(p, n, out)) {
                const size_t len = (size_t(out[3] & 3) << 11) | (size_t(out[4]) << 3) | (out[5] >> 5);
                if (out.size() != n + 7 || len != out.size() || out[0] != 0xFF)
                    abort();
            }
            break;
        }
    }
    return 0;
}
