// Small BMP and GIF files made in memory for the image tests: a BMP writer for
// every header and pixel variant, a GIF writer with its own LZW encoder, and
// helpers to decode bytes through CxImage and through Qt's readers.
#pragma once

#include "ui/image/ximage.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace imgtest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void Put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// ---- BMP ----

struct BmpSpec {
    bool fileHeader = true;
    std::uint32_t headerSize = 40; // 12 (OS/2), 40, 52, 56, 64, 108, 124
    std::int32_t width = 0;
    std::int32_t height = 0;      // negative: top-down rows
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks; // written after a 40-byte header, or at offset 40 of a larger one
    std::vector<Rgb> palette;
    std::int64_t clrUsed = -1;        // -1: palette.size()
    std::int64_t sizeImage = -1;      // -1: the pixel data size
    std::int32_t xPelsPerMeter = 2835;
    std::int32_t yPelsPerMeter = 2835;
    std::uint32_t gapBeforePixels = 0; // bytes between the colour table and the pixels
    Bytes pixels;                      // rows as stored (bottom-up unless height < 0), or RLE codes
};

inline Bytes BuildBmp(const BmpSpec& s)
{
    Bytes info;
    const bool os2 = s.headerSize == 12;
    Put32(info, s.headerSize);
    if (os2) {
        Put16(info, static_cast<unsigned>(s.width));
        Put16(info, static_cast<unsigned>(s.height));
        Put16(info, 1);
        Put16(info, s.bits);
    } else {
        Put32(info, static_cast<std::uint32_t>(s.width));
        Put32(info, static_cast<std::uint32_t>(s.height));
        Put16(info, 1);
        Put16(info, s.bits);
        Put32(info, s.compression);
        Put32(info, static_cast<std::uint32_t>(s.sizeImage >= 0 ? s.sizeImage : static_cast<std::int64_t>(s.pixels.size())));
        Put32(info, static_cast<std::uint32_t>(s.xPelsPerMeter));
        Put32(info, static_cast<std::uint32_t>(s.yPelsPerMeter));
        Put32(info, static_cast<std::uint32_t>(s.clrUsed >= 0 ? s.clrUsed : static_cast<std::int64_t>(s.palette.size())));
        Put32(info, 0);
        // A larger header carries the masks at its offset 40, then zeros
        // (alpha mask, colour space, end points, gamma, intent, profile).
        for (std::size_t i = 0; info.size() < s.headerSize; ++i) {
            if (i < s.masks.size())
                Put32(info, s.masks[i]);
            else
                Put32(info, 0);
        }
        info.resize(s.headerSize);
        if (s.headerSize == 40)
            for (std::uint32_t m : s.masks)
                Put32(info, m);
    }
    for (const Rgb& c : s.palette) {
        info.push_back(c.b);
        info.push_back(c.g);
        info.push_back(c.r);
        if (!os2)
            info.push_back(0);
    }
    info.insert(info.end(), s.gapBeforePixels, 0xEE);

    Bytes out;
    if (s.fileHeader) {
        out.push_back('B');
        out.push_back('M');
        Put32(out, static_cast<std::uint32_t>(14 + info.size() + s.pixels.size()));
        Put32(out, 0);
        Put32(out, static_cast<std::uint32_t>(14 + info.size()));
    }
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

inline std::size_t RowBytes(int width, int bits)
{
    return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
}

// Rows of indices (1, 4 or 8 bits), stored bottom-up; index(x, yFromTop).
inline Bytes IndexedRows(int w, int h, int bits, const std::function<int(int, int)>& index, bool topDown = false)
{
    const std::size_t rb = RowBytes(w, bits);
    Bytes out(rb * h, 0);
    for (int r = 0; r < h; ++r) {
        const int y = topDown ? r : h - 1 - r;
        std::uint8_t* row = out.data() + r * rb;
        for (int x = 0; x < w; ++x) {
            const int v = index(x, y);
            if (bits == 8)
                row[x] = static_cast<std::uint8_t>(v);
            else if (bits == 4)
                row[x / 2] |= static_cast<std::uint8_t>((x & 1) ? (v & 15) : (v & 15) << 4);
            else
                row[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
        }
    }
    return out;
}

// Rows of true-colour pixels: 24 bits (b, g, r), 32 bits (b, g, r, alpha(x, y)),
// or 16 bits packed by pack(colour).
inline Bytes ColourRows(int w, int h, int bits, const std::function<Rgb(int, int)>& colour,
                        const std::function<std::uint32_t(Rgb)>& pack = nullptr,
                        const std::function<std::uint8_t(int, int)>& alpha = nullptr, bool topDown = false)
{
    const std::size_t rb = RowBytes(w, bits);
    Bytes out(rb * h, 0);
    for (int r = 0; r < h; ++r) {
        const int y = topDown ? r : h - 1 - r;
        std::uint8_t* row = out.data() + r * rb;
        for (int x = 0; x < w; ++x) {
            const Rgb c = colour(x, y);
            if (bits == 24) {
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            } else if (bits == 32) {
                const std::uint32_t v = pack ? pack(c) : (c.r << 16 | c.g << 8 | c.b);
                for (int i = 0; i < 4; ++i)
                    row[4 * x + i] = static_cast<std::uint8_t>(v >> (8 * i));
                if (alpha)
                    row[4 * x + 3] = alpha(x, y);
            } else if (bits == 16) {
                const std::uint32_t v = pack(c);
                row[2 * x] = static_cast<std::uint8_t>(v);
                row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return out;
}

// ---- GIF ----

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<Rgb> localTable;   // size a power of two, or empty
    std::vector<std::uint8_t> pixels; // indices, rows from the top
    int minCodeSize = 0;           // 0: from the table size
    bool gce = false;
    std::uint8_t gceFlags = 0;     // bit 0 transparency, bits 2-4 disposal
    std::uint16_t delay = 0;
    std::uint8_t transIndex = 0;
};

struct GifSpec {
    std::string version = "GIF89a";
    int width = 0, height = 0;
    std::vector<Rgb> globalTable; // empty: none
    std::uint8_t background = 0;
    std::vector<GifFrame> frames;
    bool comment = false;
    bool loopExtension = false;
    bool trailer = true;
};

inline int TableBits(std::size_t n)
{
    int s = 0;
    while ((2u << s) < n)
        ++s;
    return s; // 2^(s+1) entries
}

// GIF LZW: a leading clear code, codes LSB first, the width grown when the
// next free code passes it, a clear code when the table is full.
inline Bytes LzwEncode(const std::vector<std::uint8_t>& px, int minSize)
{
    Bytes data;
    std::uint32_t acc = 0;
    int nacc = 0;
    int width = minSize + 1;
    const int clearCode = 1 << minSize;
    const int eoi = clearCode + 1;
    int next = eoi + 1;
    std::map<std::pair<int, int>, int> dict;
    auto putCode = [&](int code) {
        acc |= static_cast<std::uint32_t>(code) << nacc;
        nacc += width;
        while (nacc >= 8) {
            data.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            nacc -= 8;
        }
        if (next >= (1 << width) && width < 12)
            ++width;
    };
    putCode(clearCode);
    if (!px.empty()) {
        int cur = px[0];
        for (std::size_t i = 1; i < px.size(); ++i) {
            const int k = px[i];
            auto it = dict.find({cur, k});
            if (it != dict.end()) {
                cur = it->second;
                continue;
            }
            putCode(cur);
            if (next >= 4095) {
                putCode(clearCode);
                dict.clear();
                width = minSize + 1;
                next = eoi + 1;
            } else {
                dict[{cur, k}] = next++;
            }
            cur = k;
        }
        putCode(cur);
    }
    putCode(eoi);
    if (nacc > 0)
        data.push_back(static_cast<std::uint8_t>(acc));
    return data;
}

inline void PutSubBlocks(Bytes& out, const Bytes& data)
{
    for (std::size_t i = 0; i < data.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
}

inline std::vector<int> InterlaceOrder(int h)
{
    std::vector<int> rows;
    const int starts[4] = {0, 4, 2, 1};
    const int steps[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
        for (int y = starts[p]; y < h; y += steps[p])
            rows.push_back(y);
    return rows;
}

inline Bytes BuildGif(const GifSpec& s)
{
    Bytes out(s.version.begin(), s.version.end());
    Put16(out, static_cast<unsigned>(s.width));
    Put16(out, static_cast<unsigned>(s.height));
    std::uint8_t flags = 0x70;
    if (!s.globalTable.empty())
        flags |= static_cast<std::uint8_t>(0x80 | TableBits(s.globalTable.size()));
    out.push_back(flags);
    out.push_back(s.background);
    out.push_back(0);
    for (const Rgb& c : s.globalTable) {
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    if (s.loopExtension) {
        const char id[] = "NETSCAPE2.0";
        out.insert(out.end(), {0x21, 0xFF, 11});
        out.insert(out.end(), id, id + 11);
        out.insert(out.end(), {3, 1, 0, 0, 0});
    }
    if (s.comment) {
        const char text[] = "made by the tests";
        out.insert(out.end(), {0x21, 0xFE, static_cast<std::uint8_t>(sizeof(text) - 1)});
        out.insert(out.end(), text, text + sizeof(text) - 1);
        out.push_back(0);
    }
    for (const GifFrame& f : s.frames) {
        if (f.gce) {
            out.insert(out.end(), {0x21, 0xF9, 4, f.gceFlags});
            Put16(out, f.delay);
            out.insert(out.end(), {f.transIndex, 0});
        }
        out.push_back(',');
        Put16(out, static_cast<unsigned>(f.left));
        Put16(out, static_cast<unsigned>(f.top));
        Put16(out, static_cast<unsigned>(f.width));
        Put16(out, static_cast<unsigned>(f.height));
        std::uint8_t pf = f.interlaced ? 0x40 : 0;
        if (!f.localTable.empty())
            pf |= static_cast<std::uint8_t>(0x80 | TableBits(f.localTable.size()));
        out.push_back(pf);
        for (const Rgb& c : f.localTable) {
            out.push_back(c.r);
            out.push_back(c.g);
            out.push_back(c.b);
        }
        const std::size_t tableSize = f.localTable.empty() ? s.globalTable.size() : f.localTable.size();
        const int minSize = f.minCodeSize ? f.minCodeSize : std::max(2, TableBits(tableSize) + 1);
        std::vector<std::uint8_t> ordered;
        if (f.interlaced) {
            for (int y : InterlaceOrder(f.height))
                ordered.insert(ordered.end(), f.pixels.begin() + y * f.width, f.pixels.begin() + (y + 1) * f.width);
        } else {
            ordered = f.pixels;
        }
        out.push_back(static_cast<std::uint8_t>(minSize));
        PutSubBlocks(out, LzwEncode(ordered, minSize));
    }
    if (s.trailer)
        out.push_back(';');
    return out;
}

inline std::vector<Rgb> Palette(int n, std::uint32_t seed = 1)
{
    std::vector<Rgb> p;
    std::uint32_t v = seed * 2654435761u;
    for (int i = 0; i < n; ++i) {
        v = v * 1103515245u + 12345u;
        p.push_back(Rgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                        static_cast<std::uint8_t>(v >> 24)});
    }
    return p;
}

// ---- Decoding ----

// Decodes bytes through CxImage::Decode from a memory stream.
inline bool DecodeBytes(CxImage& img, const Bytes& bytes, DWORD type)
{
    FILE* fp = fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!fp)
        return false;
    const bool ok = img.Decode(fp, type);
    std::fclose(fp);
    return ok;
}

inline QImage QtDecode(const Bytes& bytes, const char* format)
{
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                            format);
}

// The colour of pixel (x, y from the top) of a CxImage.
inline Rgb At(const CxImage& img, long x, long yFromTop)
{
    const RGBQUAD q = img.GetPixelColor(x, static_cast<long>(img.GetHeight()) - 1 - yFromTop, false);
    return Rgb{q.rgbRed, q.rgbGreen, q.rgbBlue};
}

inline std::string ToString(const Rgb& c)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "(%d,%d,%d)", c.r, c.g, c.b);
    return buf;
}

// Every pixel of ours against Qt's (those the file defines); the first
// difference, or "" when none.
inline std::string CompareWithQt(const CxImage& img, const QImage& qt,
                                 const std::function<bool(int, int)>& defined = nullptr)
{
    if (qt.isNull())
        return "Qt could not read it";
    if (static_cast<long>(img.GetWidth()) != qt.width() || static_cast<long>(img.GetHeight()) != qt.height())
        return "size differs: ours " + std::to_string(img.GetWidth()) + "x" + std::to_string(img.GetHeight()) +
               ", Qt " + std::to_string(qt.width()) + "x" + std::to_string(qt.height());
    for (int y = 0; y < qt.height(); ++y) {
        for (int x = 0; x < qt.width(); ++x) {
            if (defined && !defined(x, y))
                continue; // left open by the file
            const QRgb q = qt.pixel(x, y);
            if (qAlpha(q) == 0)
                continue; // transparent in Qt: its colour says nothing
            const Rgb theirs{static_cast<std::uint8_t>(qRed(q)), static_cast<std::uint8_t>(qGreen(q)),
                             static_cast<std::uint8_t>(qBlue(q))};
            const Rgb ours = At(img, x, y);
            if (!(ours == theirs))
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + "): ours " + ToString(ours) +
                       ", Qt " + ToString(theirs);
        }
    }
    return "";
}

} // namespace imgtest
