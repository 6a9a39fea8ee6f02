// Bitmap records, constants and little-endian field readers shared by the
// image classes. No Qt here: the pixel work builds without it.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

// One palette entry or true-colour pixel as the DIB keeps it.
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

// The 40-byte header at the start of an in-memory DIB block, in host order.
// Files are never read through this struct: the decoders read each field as
// an explicit little-endian value.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

// Image type codes: which decoder reads a file.
constexpr DWORD CXIMAGE_FORMAT_UNKNOWN = 0;
constexpr DWORD CXIMAGE_FORMAT_BMP = 1;
constexpr DWORD CXIMAGE_FORMAT_GIF = 2;

// The largest pixel-data size CxImage::Create accepts (256 MiB).
constexpr std::uint64_t CXIMAGE_MAX_MEMORY = 268435456;

// Raster operations of the stretch blits.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;

namespace qelm::image {

inline WORD ReadLe16(const BYTE* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

inline DWORD ReadLe32(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// Signed 32-bit little-endian field (two's complement).
inline LONG ReadLe32s(const BYTE* p)
{
    return static_cast<LONG>(ReadLe32(p));
}

} // namespace qelm::image
