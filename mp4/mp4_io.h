// Big-endian byte and bit I/O for box payloads, the library's exception type
// and its log.
#pragma once

#include "mp4/mp4.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace mp4 {

// Thrown by the library; the public calls catch it, log it and fail.
class MP4Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Throw(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Log(MP4LogLevel level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// A growing output buffer. configOnly asks table boxes to write no entries
// (the movie box snapshot of the recovery journal).
class MP4Output {
public:
    bool configOnly = false;

    size_t Position() const { return m_buf.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_buf; }
    std::vector<uint8_t>& Bytes() { return m_buf; }

    void WriteBytes(const void* data, size_t size);
    void WriteZeros(size_t count) { m_buf.insert(m_buf.end(), count, 0); }
    void WriteUInt8(uint8_t v) { m_buf.push_back(v); }
    void WriteUInt16(uint16_t v);
    void WriteUInt24(uint32_t v);
    void WriteUInt32(uint32_t v);
    void WriteUInt64(uint64_t v);
    // MSB first; FlushBits pads the last byte with zeros.
    void WriteBits(uint64_t value, unsigned bits);
    void FlushBits();
    void PatchUInt32(size_t pos, uint32_t v);

private:
    std::vector<uint8_t> m_buf;
    uint8_t m_bitByte = 0;
    unsigned m_bitCount = 0;
};

// A bounded reader over memory; reading past the end throws.
class MP4Input {
public:
    MP4Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Position() const { return m_pos; }
    size_t Size() const { return m_size; }
    size_t Remaining() const { return m_size - m_pos; }
    const uint8_t* Current() const { return m_data + m_pos; }

    uint8_t ReadUInt8();
    uint16_t ReadUInt16();
    uint32_t ReadUInt24();
    uint32_t ReadUInt32();
    uint64_t ReadUInt64();
    void ReadBytes(void* dst, size_t size);
    void Skip(size_t size);
    // The next `size` bytes as an input of their own; this one moves past them.
    MP4Input Sub(size_t size);
    // MSB first; AlignBits drops the rest of a partly read byte.
    uint64_t ReadBits(unsigned bits);
    void AlignBits() { m_bitCount = 0; }

private:
    void Need(size_t size) const;

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    uint8_t m_bitByte = 0;
    unsigned m_bitCount = 0;
};

inline uint32_t LoadBE32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint64_t LoadBE64(const uint8_t* p)
{
    return (uint64_t(LoadBE32(p)) << 32) | LoadBE32(p + 4);
}
inline void StoreBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void StoreBE64(uint8_t* p, uint64_t v)
{
    StoreBE32(p, uint32_t(v >> 32));
    StoreBE32(p + 4, uint32_t(v));
}

// A printable form of a four-character code (non-printing bytes as '?').
std::string FourCCText(const char type[4]);

// Thrown for a null file handle: the call fails without a word.
struct MP4NoFile {};

// Runs the body of a public call: a library error is logged with the call's
// name and its text, anything else as "<call>: failed"; both give `failure`.
template <class R, class F> R Guard(const char* call, R failure, F&& body) noexcept
{
    try {
        return body();
    } catch (const MP4NoFile&) {
    } catch (const MP4Error& e) {
        Log(MP4_LOG_ERROR, "%s: %s", call, e.what());
    } catch (...) {
        Log(MP4_LOG_ERROR, "%s: failed", call);
    }
    return failure;
}

} // namespace mp4
