// Text conversion between UTF-8, wide strings and GB18030 (see text.h).
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence at p, or 0 when it is malformed.
std::size_t Utf8SeqLen(const unsigned char* p, std::size_t avail, char32_t* cp = nullptr)
{
    if (avail == 0)
        return 0;
    const unsigned char b = p[0];
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    char32_t c;
    if (b < 0x80) {
        if (cp)
            *cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        c = b & 0x0F;
        if (b == 0xE0)
            lo = 0xA0; // overlong
        else if (b == 0xED)
            hi = 0x9F; // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        c = b & 0x07;
        if (b == 0xF0)
            lo = 0x90; // overlong
        else if (b == 0xF4)
            hi = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (avail < len)
        return 0;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (cp)
        *cp = c;
    return len;
}

bool DecodeUtf8(const char* s, std::size_t n, std::wstring& out)
{
    std::wstring result;
    result.reserve(n);
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    std::size_t i = 0;
    while (i < n) {
        char32_t c;
        std::size_t len = Utf8SeqLen(p + i, n - i, &c);
        if (len == 0)
            return false;
        result.push_back(static_cast<wchar_t>(c));
        i += len;
    }
    out.swap(result);
    return true;
}

bool AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return true;
}

bool EncodeUtf8(const wchar_t* w, std::size_t n, std::string& out)
{
    std::string result;
    result.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!AppendUtf8(result, static_cast<std::uint32_t>(w[i])))
            return false;
    }
    out.swap(result);
    return true;
}

// One pair of converters per thread: iconv_t is not safe to share, and
// opening one per call costs more than the conversion itself.
struct Converters {
    iconv_t toGb = reinterpret_cast<iconv_t>(-1);
    iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
    ~Converters()
    {
        if (toGb != reinterpret_cast<iconv_t>(-1))
            iconv_close(toGb);
        if (toUtf8 != reinterpret_cast<iconv_t>(-1))
            iconv_close(toUtf8);
    }
};

iconv_t GetConverter(bool toGb)
{
    thread_local Converters c;
    iconv_t& cd = toGb ? c.toGb : c.toUtf8;
    if (cd == reinterpret_cast<iconv_t>(-1))
        cd = toGb ? iconv_open("GB18030", "UTF-8") : iconv_open("UTF-8", "GB18030");
    return cd;
}

// Converts the whole input. Strict: fails on the first byte that does not
// convert. Lenient: writes '?' for it and skips one character of UTF-8 input
// or one byte of GB18030 input.
std::optional<std::string> Convert(bool toGb, std::string_view in, bool lenient)
{
    if (in.empty())
        return std::string();
    iconv_t cd = GetConverter(toGb);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);

    std::string out(in.size() * 2 + 8, '\0');
    std::size_t used = 0;
    char* inp = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
        if (out.size() - used < 8)
            out.resize(out.size() * 2);
        char* outp = out.data() + used;
        std::size_t outLeft = out.size() - used;
        std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        int err = errno;
        used = static_cast<std::size_t>(outp - out.data());
        if (r != static_cast<std::size_t>(-1))
            break;
        if (err == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if ((err != EILSEQ && err != EINVAL) || !lenient)
            return std::nullopt;
        std::size_t skip = 1;
        if (toGb) {
            skip = Utf8SeqLen(reinterpret_cast<const unsigned char*>(inp), inLeft);
            if (skip == 0)
                skip = 1;
        }
        if (out.size() - used < 1)
            out.resize(out.size() * 2);
        out[used++] = '?';
        inp += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
}

// Length of the GB18030 character at p: 1, 2 or 4 bytes.
std::size_t GbCharLen(const unsigned char* p, std::size_t avail)
{
    if (p[0] < 0x81 || p[0] > 0xFE || avail < 2)
        return 1;
    if (p[1] >= 0x30 && p[1] <= 0x39)
        return avail >= 4 ? 4 : avail;
    return 2;
}

} // namespace

int AnsiToWide(const char* narrow, std::wstring& out)
{
    if (!narrow)
        return 0;
    return DecodeUtf8(narrow, std::strlen(narrow), out) ? 1 : 0;
}

int AnsiToWide(const std::string& narrow, std::wstring& out)
{
    return DecodeUtf8(narrow.data(), narrow.size(), out) ? 1 : 0;
}

int WideToAnsi(const wchar_t* wide, std::string& out)
{
    if (!wide)
        return 0;
    return EncodeUtf8(wide, std::wcslen(wide), out) ? 1 : 0;
}

int WideToAnsi(const std::wstring& wide, std::string& out)
{
    return EncodeUtf8(wide.data(), wide.size(), out) ? 1 : 0;
}

namespace qelm {

bool IsValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t len = Utf8SeqLen(p + i, text.size() - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::optional<std::string> Utf8ToGb18030(std::string_view utf8)
{
    if (!IsValidUtf8(utf8))
        return std::nullopt;
    return Convert(true, utf8, false);
}

std::optional<std::string> Gb18030ToUtf8(std::string_view gb)
{
    return Convert(false, gb, false);
}

std::size_t CopyBounded(char* dst, std::size_t dstSize, std::string_view utf8)
{
    if (!dst || dstSize == 0)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t limit = dstSize - 1;
    std::size_t n = 0;
    while (n < utf8.size() && p[n] != 0) {
        std::size_t len = Utf8SeqLen(p + n, utf8.size() - n);
        if (len == 0)
            len = 1;
        if (n + len > limit)
            break;
        n += len;
    }
    std::memmove(dst, utf8.data(), n);
    dst[n] = '\0';
    return n;
}

std::size_t CopyToGbField(char* dst, std::size_t fieldSize, std::string_view utf8)
{
    if (!dst || fieldSize == 0)
        return 0;
    // The text ends at an embedded NUL; malformed bytes become '?'.
    std::string clean;
    clean.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size() && p[i] != 0;) {
        std::size_t len = Utf8SeqLen(p + i, utf8.size() - i);
        if (len == 0) {
            clean.push_back('?');
            ++i;
        } else {
            clean.append(utf8.substr(i, len));
            i += len;
        }
    }
    std::string gb = Convert(true, clean, true).value_or(std::string());

    const auto* g = reinterpret_cast<const unsigned char*>(gb.data());
    const std::size_t limit = fieldSize - 1;
    std::size_t n = 0;
    while (n < gb.size()) {
        std::size_t len = GbCharLen(g + n, gb.size() - n);
        if (n + len > limit)
            break;
        n += len;
    }
    std::memcpy(dst, gb.data(), n);
    std::memset(dst + n, 0, fieldSize - n);
    return n;
}

std::string ReadGbField(const char* src, std::size_t fieldSize)
{
    if (!src || fieldSize == 0)
        return std::string();
    const void* nul = std::memchr(src, 0, fieldSize);
    std::size_t len = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - src) : fieldSize;
    return Convert(false, std::string_view(src, len), true).value_or(std::string());
}

std::size_t Utf8CharCount(std::string_view utf8)
{
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size(); ++count) {
        std::size_t len = Utf8SeqLen(p + i, utf8.size() - i);
        i += len ? len : 1;
    }
    return count;
}

QString ToQ(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQ(const QString& text)
{
    return text.toStdString();
}

} // namespace qelm
