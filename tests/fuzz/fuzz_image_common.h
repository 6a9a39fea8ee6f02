// Shared body of the image decoder fuzz targets: decode from a memory stream,
// check the result's invariants, and run the pixel operations over it.
#pragma once

#include "ui/image/ximage.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace qelm::imagefuzz {

// Pictures above this many pixels are skipped: they are valid, just slow to
// decode thousands of times a second under the sanitizers.
constexpr std::uint64_t kMaxPixels = 1u << 16;

inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}

inline std::uint16_t Le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// The size a decode would allocate, from the decoder's own size-only answer
// (a GIF screen of 0 x 0 takes an image's size: take the largest there is).
inline bool SmallEnough(FILE* fp, const std::uint8_t* data, std::size_t size, DWORD type)
{
    CxImage probe;
    probe.SetEscape(-1);
    probe.Decode(fp, type);
    std::rewind(fp);
    std::uint64_t pixels = static_cast<std::uint64_t>(probe.GetWidth()) * probe.GetHeight();
    if (type == CXIMAGE_FORMAT_GIF && size >= 10 && Le16(data + 6) == 0 && Le16(data + 8) == 0) {
        for (std::size_t i = 0; i + 9 <= size; ++i)
            if (data[i] == ',')
                pixels = std::max<std::uint64_t>(pixels, static_cast<std::uint64_t>(Le16(data + i + 5)) * Le16(data + i + 7));
    }
    return pixels <= kMaxPixels;
}

inline void Exercise(CxImage& img, std::size_t salt)
{
    Check(img.GetType() == CXIMAGE_FORMAT_BMP || img.GetType() == CXIMAGE_FORMAT_GIF);
    const long w = img.GetWidth();
    const long h = img.GetHeight();
    Check(w > 0 && h > 0);
    const WORD bpp = img.GetBpp();
    Check(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24);
    Check(img.GetRowBytes() == ((static_cast<DWORD>(w) * bpp + 31) / 32) * 4);
    unsigned sum = 0;
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
            sum += img.GetPixelColor(x, y, true).rgbRed;
    (void)sum;

    CxImage crop;
    img.Crop(static_cast<long>(salt % 7) - 2, 1, w / 2, h, &crop);
    CxImage scaled;
    img.Resample(w / 2 + 1 + static_cast<long>(salt % 3), h + 1, static_cast<int>(salt % 4), &scaled);
    CxImage deeper(img);
    deeper.IncreaseBitDepth(24);
    Check(deeper.GetBpp() == 24);
    img.FlipRows(true);
    img.DrawLine(-5, w + 5, 0, h + 1, RGBQUAD{1, 2, 3, 4}, true);
}

inline void Run(const std::uint8_t* data, std::size_t size, DWORD type)
{
    if (size == 0)
        return;
    FILE* fp = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!fp)
        return;
    if (SmallEnough(fp, data, size, type)) {
        CxImage img;
        if (img.Decode(fp, type))
            Exercise(img, size);
        // Every frame the stream counts can be asked for; try the last one.
        const long frames = img.GetFrameCount();
        if (type == CXIMAGE_FORMAT_GIF && frames > 1 && frames <= 64) {
            std::rewind(fp);
            CxImage last;
            last.SetFrame(frames - 1);
            if (last.Decode(fp, type))
                Exercise(last, size + 1);
        }
    }
    std::fclose(fp);
}

} // namespace qelm::imagefuzz
