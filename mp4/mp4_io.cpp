// Big-endian byte and bit I/O, the library's exception and its log.
#include "mp4/mp4_io.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace mp4 {

namespace {

std::atomic<MP4LogCallback> g_logCallback{nullptr};
std::atomic<int> g_logLevel{MP4_LOG_ERROR};

std::string FormatV(const char* fmt, va_list ap)
{
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    const int n = vsnprintf(small, sizeof(small), fmt, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (size_t(n) < sizeof(small))
        return std::string(small, size_t(n));
    std::string big(size_t(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), fmt, ap);
    big.resize(size_t(n));
    return big;
}

} // namespace

void Throw(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = FormatV(fmt, ap);
    va_end(ap);
    throw MP4Error(text);
}

void Log(MP4LogLevel level, const char* fmt, ...)
{
    if (level == MP4_LOG_NONE || int(level) > g_logLevel.load())
        return;
    va_list ap;
    va_start(ap, fmt);
    const std::string text = FormatV(fmt, ap);
    va_end(ap);
    if (MP4LogCallback cb = g_logCallback.load())
        cb(level, text.c_str());
    else
        fprintf(stderr, "mp4: %s\n", text.c_str());
}

std::string FourCCText(const char type[4])
{
    std::string s(4, '?');
    for (int i = 0; i < 4; ++i)
        if (type[i] >= 0x20 && type[i] < 0x7F)
            s[size_t(i)] = type[i];
    return s;
}

// --- MP4Output ---

void MP4Output::WriteBytes(const void* data, size_t size)
{
    if (size == 0)
        return;
    const auto* p = static_cast<const uint8_t*>(data);
    m_buf.insert(m_buf.end(), p, p + size);
}

void MP4Output::WriteUInt16(uint16_t v)
{
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    WriteBytes(b, 2);
}

void MP4Output::WriteUInt24(uint32_t v)
{
    const uint8_t b[3] = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    WriteBytes(b, 3);
}

void MP4Output::WriteUInt32(uint32_t v)
{
    uint8_t b[4];
    StoreBE32(b, v);
    WriteBytes(b, 4);
}

void MP4Output::WriteUInt64(uint64_t v)
{
    uint8_t b[8];
    StoreBE64(b, v);
    WriteBytes(b, 8);
}

void MP4Output::WriteBits(uint64_t value, unsigned bits)
{
    for (unsigned i = bits; i-- > 0;) {
        m_bitByte = uint8_t((m_bitByte << 1) | ((value >> i) & 1));
        if (++m_bitCount == 8) {
            m_buf.push_back(m_bitByte);
            m_bitByte = 0;
            m_bitCount = 0;
        }
    }
}

void MP4Output::FlushBits()
{
    if (m_bitCount) {
        m_buf.push_back(uint8_t(m_bitByte << (8 - m_bitCount)));
        m_bitByte = 0;
        m_bitCount = 0;
    }
}

void MP4Output::PatchUInt32(size_t pos, uint32_t v)
{
    if (pos + 4 > m_buf.size())
        Throw("patch past the end of the output");
    StoreBE32(m_buf.data() + pos, v);
}

// --- MP4Input ---

void MP4Input::Need(size_t size) const
{
    if (size > m_size - m_pos)
        Throw("read past the end of the box (%zu bytes wanted, %zu left)", size, m_size - m_pos);
}

uint8_t MP4Input::ReadUInt8()
{
    Need(1);
    m_bitCount = 0;
    return m_data[m_pos++];
}

uint16_t MP4Input::ReadUInt16()
{
    Need(2);
    m_bitCount = 0;
    const uint8_t* p = m_data + m_pos;
    m_pos += 2;
    return uint16_t((p[0] << 8) | p[1]);
}

uint32_t MP4Input::ReadUInt24()
{
    Need(3);
    m_bitCount = 0;
    const uint8_t* p = m_data + m_pos;
    m_pos += 3;
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

uint32_t MP4Input::ReadUInt32()
{
    Need(4);
    m_bitCount = 0;
    const uint32_t v = LoadBE32(m_data + m_pos);
    m_pos += 4;
    return v;
}

uint64_t MP4Input::ReadUInt64()
{
    Need(8);
    m_bitCount = 0;
    const uint64_t v = LoadBE64(m_data + m_pos);
    m_pos += 8;
    return v;
}

void MP4Input::ReadBytes(void* dst, size_t size)
{
    Need(size);
    m_bitCount = 0;
    if (size)
        memcpy(dst, m_data + m_pos, size);
    m_pos += size;
}

void MP4Input::Skip(size_t size)
{
    Need(size);
    m_bitCount = 0;
    m_pos += size;
}

MP4Input MP4Input::Sub(size_t size)
{
    Need(size);
    m_bitCount = 0;
    MP4Input sub(m_data + m_pos, size);
    m_pos += size;
    return sub;
}

uint64_t MP4Input::ReadBits(unsigned bits)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < bits; ++i) {
        if (m_bitCount == 0) {
            Need(1);
            m_bitByte = m_data[m_pos++];
            m_bitCount = 8;
        }
        --m_bitCount;
        v = (v << 1) | ((m_bitByte >> m_bitCount) & 1);
    }
    return v;
}

} // namespace mp4

void MP4SetLogCallback(MP4LogCallback callback)
{
    mp4::g_logCallback.store(callback);
}

void MP4LogSetLevel(MP4LogLevel level)
{
    mp4::g_logLevel.store(int(level));
}

MP4LogLevel MP4LogGetLevel()
{
    return MP4LogLevel(mp4::g_logLevel.load());
}
