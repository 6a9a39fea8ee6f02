// CxImageBMP: reads Windows and OS/2 bitmaps field by field (little-endian),
// never writing outside the image whatever the file claims.
#include "ui/image/ximabmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

using qelm::image::ReadLe16;
using qelm::image::ReadLe32;
using qelm::image::ReadLe32s;

namespace {

// Messages of the decoder; two of them are markers handled by Decode.
const char kNotBmp[] = "Not a BMP";
const char kInfo[] = "Error reading BMP info";
const char kOutputDims[] = "output dimensions returned";
const char kCancelled[] = "Cancelled";
const char kCompression[] = "compression type not supported";
const char kUnknownCompression[] = "unknown compression";
const char kNoMemory[] = "can't allocate memory";
const char kCreateFailed[] = ""; // Create has set its own text

constexpr WORD kBmType = 0x4D42; // "BM"

int BitsIn16(DWORD mask)
{
    int n = 0;
    for (DWORD m = mask & 0xFFFF; m; m >>= 1)
        n += static_cast<int>(m & 1);
    return n;
}

// v shifted left by s (right for negative s), in 32 bits.
DWORD Shift(DWORD v, int s)
{
    if (s >= 32 || s <= -32)
        return 0;
    return s >= 0 ? v << s : v >> -s;
}

// Which byte of a 32-bit pixel a channel mask selects: the number of the
// byte boundaries 8, 16 and 24 at which the mask still has bits.
int ByteIndexOf(DWORD mask)
{
    return ((mask >> 8) ? 1 : 0) + ((mask >> 16) ? 1 : 0) + ((mask >> 24) ? 1 : 0);
}

} // namespace

bool CxImageBMP::Decode(CxFile* hFile)
{
    if (!hFile)
        return false;
    const char* msg = DecodeBody(*hFile);
    if (!msg)
        return true;
    if (msg == kCreateFailed)
        return false;
    SetLastErrorText(msg);
    return msg == kOutputDims && info.nEscape == -1 && info.dwType == CXIMAGE_FORMAT_BMP;
}

const char* CxImageBMP::DecodeBody(CxFile& file)
{
    const long start = file.Tell();

    BYTE fh[14];
    if (file.Read(fh, sizeof(fh), 1) != 1)
        return kNotBmp;
    std::int64_t offBits = ReadLe32(fh + 10);
    if (ReadLe16(fh) != kBmType) {
        // A bare DIB: information header, colour table, pixels.
        offBits = 0;
        file.Seek(start, SEEK_SET);
    }

    const long infoStart = file.Tell();
    BYTE ih[40];
    if (file.Read(ih, sizeof(ih), 1) != 1)
        return kInfo;
    const DWORD headerSize = ReadLe32(ih);
    std::int64_t width = ReadLe32s(ih + 4);
    std::int64_t height = ReadLe32s(ih + 8);
    WORD planes = ReadLe16(ih + 12);
    WORD bits = ReadLe16(ih + 14);
    DWORD compression = ReadLe32(ih + 16);
    LONG xPelsPerMeter = ReadLe32s(ih + 24);
    LONG yPelsPerMeter = ReadLe32s(ih + 28);
    DWORD clrUsed = ReadLe32(ih + 32);
    bool os2 = false;

    // Where the colour table (or, in a bare DIB, the pixels) starts.
    std::int64_t headerEnd = infoStart + static_cast<std::int64_t>(headerSize);
    switch (headerSize) {
    case 12:
        // OS/2 core header: 16-bit width and height, no further fields.
        os2 = true;
        width = ReadLe16(ih + 4);
        height = ReadLe16(ih + 6);
        planes = ReadLe16(ih + 8);
        bits = ReadLe16(ih + 10);
        compression = 0;
        xPelsPerMeter = 0;
        yPelsPerMeter = 0;
        clrUsed = 0;
        break;
    case 40:
    case 64:
    case 124:
        break;
    default: {
        if (headerSize < 40)
            return kInfo;
        const __int128 need = ((static_cast<__int128>(bits) * width + 31) / 32) * 4 * height;
        if (!(static_cast<__int128>(ReadLe32(ih + 20)) >= need && planes == 1 && clrUsed == 0))
            return kInfo;
        break;
    }
    }
    if (clrUsed == 0)
        clrUsed = bits <= 8 ? (1u << bits) : 0;

    const bool topDown = height < 0;
    if (topDown)
        height = -height;

    if (info.nEscape == -1) {
        head.biWidth = static_cast<LONG>(width);
        head.biHeight = static_cast<LONG>(height);
        info.dwType = CXIMAGE_FORMAT_BMP;
        return kOutputDims;
    }

    if (!Create(static_cast<DWORD>(width), static_cast<DWORD>(height), bits, CXIMAGE_FORMAT_BMP))
        return kCreateFailed;

    SetXDpi(static_cast<long>(std::floor(xPelsPerMeter * 254.0 / 10000.0 + 0.5)));
    SetYDpi(static_cast<long>(std::floor(yPelsPerMeter * 254.0 / 10000.0 + 0.5)));

    if (info.nEscape)
        return kCancelled;

    std::int64_t tableEnd = headerEnd;
    if (RGBQUAD* pal = GetPalette()) {
        const std::int64_t fileCount = clrUsed ? clrUsed : (1u << std::min<WORD>(bits, 8));
        const std::size_t entrySize = os2 ? 3 : 4;
        const std::size_t stored = static_cast<std::size_t>(std::min<std::int64_t>(fileCount, head.biClrUsed));
        BYTE table[256 * 4];
        file.Seek(static_cast<long>(headerEnd), SEEK_SET);
        const std::size_t got = file.Read(table, 1, stored * entrySize) / entrySize;
        for (std::size_t i = 0; i < got; ++i) {
            const BYTE* e = table + i * entrySize;
            pal[i] = RGBQUAD{e[0], e[1], e[2], 0};
        }
        info.last_c_isvalid = false;
        tableEnd = headerEnd + fileCount * static_cast<std::int64_t>(entrySize);
    }

    if (info.nEscape)
        return kCancelled;

    // Bit masks sit at offset 40 of the information header: right after a
    // 40-byte header, inside any header of 52 bytes or more.
    DWORD masks[3] = {0, 0, 0};
    const bool bitFields = compression == BI_BITFIELDS && !os2;
    if (bitFields && (bits == 16 || bits == 32)) {
        BYTE m[12] = {};
        file.Seek(infoStart + 40, SEEK_SET);
        file.Read(m, 1, sizeof(m));
        masks[0] = ReadLe32(m);
        masks[1] = ReadLe32(m + 4);
        masks[2] = ReadLe32(m + 8);
        if (headerSize == 40)
            tableEnd = infoStart + 52;
    }
    const std::int64_t pixelStart = offBits != 0 ? start + offBits : tableEnd;
    auto seekPixels = [&] { file.Seek(static_cast<long>(pixelStart), SEEK_SET); };

    const std::size_t w = GetWidth();
    const std::size_t h = GetHeight();
    switch (bits) {
    case 1:
    case 4:
    case 8:
        seekPixels();
        switch (compression) {
        case BI_RGB:
            file.Read(pImage, 1, head.biSizeImage);
            break;
        case BI_RLE8:
            DecodeRle(file, false);
            break;
        case BI_RLE4:
            DecodeRle(file, true);
            break;
        default:
            return kCompression;
        }
        break;
    case 16: {
        if (!bitFields) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        }
        seekPixels();
        // The 16-bit rows fit in the 24-bit rows; they are expanded in place
        // from the last pixel backwards, so no source byte is overwritten early.
        const std::size_t rowBytes16 = ((w + 1) / 2) * 4;
        file.Read(pImage, 1, rowBytes16 * h);
        const int nr = BitsIn16(masks[0]);
        const int ng = BitsIn16(masks[1]);
        const int nb = BitsIn16(masks[2]);
        for (std::size_t y = h; y-- > 0;) {
            for (std::size_t x = w; x-- > 0;) {
                const BYTE* src = pImage + y * rowBytes16 + 2 * x;
                const DWORD px = static_cast<DWORD>(src[0] | (src[1] << 8));
                BYTE* dst = pImage + y * info.dwEffWidth + 3 * x;
                dst[0] = static_cast<BYTE>(Shift((px & 0xFF) & masks[2], 8 - nr));
                dst[1] = static_cast<BYTE>(Shift(px & masks[1], -(nr + ng - 8)));
                dst[2] = static_cast<BYTE>(Shift(px & masks[0], -(nr + ng + nb - 8)));
            }
        }
        break;
    }
    case 24:
        seekPixels();
        if (compression != BI_RGB)
            return kUnknownCompression;
        file.Read(pImage, 1, head.biSizeImage);
        break;
    case 32: {
        if (!bitFields) {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
        }
        seekPixels();
        if (compression != BI_RGB && compression != BI_BITFIELDS)
            return kUnknownCompression;
        std::vector<BYTE> row;
        try {
            row.resize(w * 4);
        } catch (const std::bad_alloc&) {
            return kNoMemory;
        }
        const bool withAlpha = compression == BI_RGB && CreateAlpha();
        const int kr = ByteIndexOf(masks[0]);
        const int kg = ByteIndexOf(masks[1]);
        const int kb = ByteIndexOf(masks[2]);
        bool anyAlpha = false;
        for (std::size_t y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), BYTE{0});
            file.Read(row.data(), 1, row.size());
            BYTE* dst = pImage + y * info.dwEffWidth;
            for (std::size_t x = 0; x < w; ++x) {
                const BYTE* p = row.data() + 4 * x;
                dst[3 * x] = p[kb];
                dst[3 * x + 1] = p[kg];
                dst[3 * x + 2] = p[kr];
                if (withAlpha) {
                    pAlpha[y * w + x] = p[3];
                    anyAlpha = anyAlpha || p[3] != 0;
                }
            }
        }
        // A file that leaves every fourth byte 0 carries no alpha: opaque.
        if (withAlpha && !anyAlpha)
            InvertAlpha();
        break;
    }
    default:
        break;
    }

    if (topDown)
        FlipRows(true);
    return nullptr;
}

// Run-length pixels, written through the bounds-checked pixel setter: runs,
// literals and deltas that point outside the image write nothing.
void CxImageBMP::DecodeRle(CxFile& file, bool rle4)
{
    const long w = GetWidth();
    const long h = GetHeight();
    long row = 0;
    long x = 0;
    auto put = [&](BYTE v) {
        if (x < w && row < h)
            BlindSetPixelIndex(x, row, v);
        ++x;
    };
    BYTE literal[255];
    while (row < h) {
        BYTE pair[2];
        if (file.Read(pair, 1, 2) != 2)
            return;
        const int count = pair[0];
        const int value = pair[1];
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(rle4 ? static_cast<BYTE>((i & 1) ? (value & 0x0F) : (value >> 4)) : static_cast<BYTE>(value));
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++row;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta
            BYTE d[2];
            if (file.Read(d, 1, 2) != 2)
                return;
            x += d[0];
            row += d[1];
            break;
        }
        default: { // literal run, padded to 16 bits
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            const std::size_t got = file.Read(literal, 1, bytes);
            for (int i = 0; i < value; ++i) {
                const std::size_t b = rle4 ? i / 2 : i;
                if (b >= got)
                    return;
                put(rle4 ? static_cast<BYTE>((i & 1) ? (literal[b] & 0x0F) : (literal[b] >> 4)) : literal[b]);
            }
            if (bytes & 1) {
                BYTE pad;
                if (file.Read(&pad, 1, 1) != 1)
                    return;
            }
            break;
        }
        }
    }
}
