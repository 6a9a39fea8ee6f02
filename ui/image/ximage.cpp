// CxImage core: life cycle, copies, palette, pixels, whole-image operations
// and the alpha plane.
#include "ui/image/ximage.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = sizeof(BITMAPINFOHEADER);

DWORD PaletteSizeFor(DWORD bpp)
{
    switch (bpp) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

long PixelsPerMetre(long dpi)
{
    const double ppm = std::floor(static_cast<double>(dpi) * 10000.0 / 254.0 + 0.5);
    return ppm > INT32_MAX ? INT32_MAX : static_cast<long>(ppm);
}

} // namespace

CxImage::CxImage(DWORD imagetype)
{
    info.dwType = imagetype;
    info.nBkgndIndex = -1;
    info.nAlphaMax = 255;
    info.bEnabled = true;
    info.xDPI = 96;
    info.yDPI = 96;
    info.bLittleEndianHost = true;
    head.biXPelsPerMeter = PixelsPerMetre(96);
    head.biYPelsPerMeter = PixelsPerMetre(96);
}

CxImage::CxImage(const CxImage& src, bool copypixels, bool copyselection, bool copyalpha)
    : CxImage(src.info.dwType)
{
    Copy(src, copypixels, copyselection, copyalpha);
}

CxImage& CxImage::operator=(const CxImage& src)
{
    Copy(src);
    return *this;
}

CxImage::~CxImage()
{
    std::free(pDib);
    std::free(pAlpha);
}

void CxImage::SetLastErrorText(const char* text)
{
    if (text == info.szLastError)
        return;
    std::snprintf(info.szLastError, sizeof(info.szLastError), "%s", text ? text : "");
}

void* CxImage::Create(DWORD dwWidth, DWORD dwHeight, DWORD wBpp, DWORD imagetype)
{
    Destroy();
    if (dwWidth == 0 || dwHeight == 0) {
        SetLastErrorText("CxImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    if (wBpp <= 1)
        wBpp = 1;
    else if (wBpp <= 4)
        wBpp = 4;
    else if (wBpp <= 8)
        wBpp = 8;
    else
        wBpp = 24;

    const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(dwWidth) * wBpp + 31) / 32) * 4;
    const std::uint64_t imageSize = rowBytes * dwHeight;
    // The nominal size is the documented limit; the padded rows of a very narrow,
    // very tall image (up to 32 times the nominal size) must not slip past it.
    if (static_cast<double>(dwWidth) * static_cast<double>(dwHeight) * wBpp / 8.0 >
            static_cast<double>(CXIMAGE_MAX_MEMORY) ||
        imageSize > 2 * CXIMAGE_MAX_MEMORY) {
        SetLastErrorText("CXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }

    const DWORD colors = PaletteSizeFor(wBpp);
    head.biSize = kHeaderSize;
    head.biWidth = static_cast<LONG>(dwWidth);
    head.biHeight = static_cast<LONG>(dwHeight);
    head.biPlanes = 1;
    head.biBitCount = static_cast<WORD>(wBpp);
    head.biCompression = BI_RGB;
    head.biClrUsed = colors;
    head.biClrImportant = 0;
    head.biSizeImage = static_cast<DWORD>(imageSize);
    info.dwEffWidth = static_cast<DWORD>(rowBytes);
    info.dwType = imagetype;

    // Zero-filled: rows a short file never reaches read as index 0 / black,
    // never as old heap contents.
    pDib = std::calloc(1, kHeaderSize + 4 * colors + imageSize);
    if (!pDib) {
        SetLastErrorText("CxImage::Create can't allocate memory");
        return nullptr;
    }
    DeleteAlpha();
    std::memcpy(pDib, &head, kHeaderSize);
    pImage = static_cast<BYTE*>(pDib) + kHeaderSize + 4 * colors;
    info.last_c_isvalid = false;
    return pDib;
}

bool CxImage::Destroy()
{
    std::free(pDib);
    std::free(pAlpha);
    pDib = nullptr;
    pImage = nullptr;
    pAlpha = nullptr;
    return true;
}

void CxImage::Copy(const CxImage& src, bool copypixels, bool /*copyselection*/, bool copyalpha)
{
    if (&src == this)
        return;
    info = src.info;
    head = src.head;
    Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType());
    if (copypixels && pDib && src.pDib && GetSize() == src.GetSize())
        std::memcpy(pDib, src.pDib, GetSize());
    else
        SetPalette(src.GetPalette(), 256);
    if (copyalpha && src.pAlpha && pDib) {
        DeleteAlpha();
        const std::size_t n = static_cast<std::size_t>(GetWidth()) * GetHeight();
        pAlpha = static_cast<BYTE*>(std::malloc(n));
        if (pAlpha)
            std::memcpy(pAlpha, src.pAlpha, n);
    }
}

bool CxImage::Transfer(CxImage& from)
{
    if (&from == this)
        return true;
    Destroy();
    head = from.head;
    info = from.info;
    pDib = from.pDib;
    pImage = from.pImage;
    pAlpha = from.pAlpha;
    from.head = BITMAPINFOHEADER{};
    from.info = CXIMAGEINFO{};
    from.pDib = nullptr;
    from.pImage = nullptr;
    from.pAlpha = nullptr;
    return true;
}

void CxImage::CopyInfoBlock(const CxImage& from)
{
    if (!pDib && &from != this)
        info = from.info;
}

bool CxImage::IsInside(long x, long y) const
{
    return x >= 0 && y >= 0 && x < static_cast<long>(GetWidth()) && y < static_cast<long>(GetHeight());
}

BYTE* CxImage::GetBits(DWORD row)
{
    if (!pDib)
        return nullptr;
    if (row == 0)
        return pImage;
    if (row < GetHeight())
        return pImage + static_cast<std::size_t>(row) * info.dwEffWidth;
    return nullptr;
}

RGBQUAD* CxImage::GetPalette() const
{
    if (!pDib || head.biClrUsed == 0)
        return nullptr;
    return reinterpret_cast<RGBQUAD*>(static_cast<BYTE*>(pDib) + kHeaderSize);
}

DWORD CxImage::GetSize() const
{
    if (!pDib)
        return 0;
    return static_cast<DWORD>(kHeaderSize + 4 * head.biClrUsed + head.biSizeImage);
}

void CxImage::SetXDpi(long dpi)
{
    if (dpi <= 0)
        dpi = 96;
    if (dpi > INT32_MAX)
        dpi = INT32_MAX;
    info.xDPI = static_cast<LONG>(dpi);
    head.biXPelsPerMeter = static_cast<LONG>(PixelsPerMetre(dpi));
    if (pDib)
        std::memcpy(static_cast<BYTE*>(pDib) + offsetof(BITMAPINFOHEADER, biXPelsPerMeter),
                    &head.biXPelsPerMeter, sizeof(LONG));
}

void CxImage::SetYDpi(long dpi)
{
    if (dpi <= 0)
        dpi = 96;
    if (dpi > INT32_MAX)
        dpi = INT32_MAX;
    info.yDPI = static_cast<LONG>(dpi);
    head.biYPelsPerMeter = static_cast<LONG>(PixelsPerMetre(dpi));
    if (pDib)
        std::memcpy(static_cast<BYTE*>(pDib) + offsetof(BITMAPINFOHEADER, biYPelsPerMeter),
                    &head.biYPelsPerMeter, sizeof(LONG));
}

// ---- Palette and transparency ----

RGBQUAD CxImage::GetPaletteColor(BYTE idx) const
{
    const RGBQUAD* pal = GetPalette();
    if (pal && idx < head.biClrUsed)
        return pal[idx];
    return RGBQUAD{0, 0, 0, 0};
}

void CxImage::SetPaletteColor(BYTE idx, COLORREF cr)
{
    RGBQUAD* pal = GetPalette();
    if (!pal || idx >= head.biClrUsed)
        return;
    pal[idx] = RGBQUAD{static_cast<BYTE>(GetBValue(cr)), static_cast<BYTE>(GetGValue(cr)),
                       static_cast<BYTE>(GetRValue(cr)), 0};
    info.last_c_isvalid = false;
}

void CxImage::SetPalette(const RGBQUAD* pPal, DWORD nColors)
{
    RGBQUAD* pal = GetPalette();
    if (!pPal || !pal)
        return;
    const DWORD n = std::min(nColors, head.biClrUsed);
    std::memmove(pal, pPal, n * sizeof(RGBQUAD));
    info.last_c_isvalid = false;
}

void CxImage::SetPaletteRGB(DWORD n, const BYTE* red, const BYTE* green, const BYTE* blue)
{
    RGBQUAD* pal = GetPalette();
    if (!red || !pal)
        return;
    if (!green)
        green = red;
    if (!blue)
        blue = green;
    const DWORD m = std::min(n, head.biClrUsed);
    for (DWORD i = 0; i < m; ++i)
        pal[i] = RGBQUAD{blue[i], green[i], red[i], 0};
    info.last_c_isvalid = false;
}

void CxImage::SetGrayPalette()
{
    RGBQUAD* pal = GetPalette();
    const DWORD n = head.biClrUsed;
    if (!pal || n < 2)
        return;
    const DWORD step = 255 / (n - 1);
    for (DWORD i = 0; i < n; ++i) {
        const BYTE v = static_cast<BYTE>(i * step);
        pal[i] = RGBQUAD{v, v, v, 0};
    }
    info.last_c_isvalid = false;
}

bool CxImage::IsGrayPalette() const
{
    const RGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (DWORD i = 0; i < head.biClrUsed; ++i) {
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    }
    return true;
}

BYTE CxImage::NearestPaletteIndex(RGBQUAD c)
{
    const RGBQUAD* pal = GetPalette();
    if (!pal)
        return 0;
    if (info.last_c_isvalid && std::memcmp(&info.last_c, &c, sizeof(RGBQUAD)) == 0)
        return info.last_c_index;
    info.last_c = c;
    info.last_c_isvalid = true;

    DWORD m = head.biClrUsed;
    if (head.biClrImportant != 0 && head.biClrImportant < m)
        m = head.biClrImportant;
    long distance = 200000;
    DWORD best = 0;
    for (DWORD i = 0; i < m; ++i) {
        const long db = static_cast<long>(pal[i].rgbBlue) - c.rgbBlue;
        const long dg = static_cast<long>(pal[i].rgbGreen) - c.rgbGreen;
        const long dr = static_cast<long>(pal[i].rgbRed) - c.rgbRed;
        const long k = db * db + dg * dg + dr * dr;
        if (k == 0) {
            best = i;
            break;
        }
        if (k < distance) {
            distance = k;
            best = i;
        }
    }
    info.last_c_index = static_cast<BYTE>(best);
    return info.last_c_index;
}

void CxImage::SetTransIndex(long idx)
{
    info.nBkgndIndex = idx < static_cast<long>(head.biClrUsed) ? idx : 0;
}

RGBQUAD CxImage::GetTransColor() const
{
    if (head.biBitCount < 24 && info.nBkgndIndex >= 0 && info.nBkgndIndex < 256)
        return GetPaletteColor(static_cast<BYTE>(info.nBkgndIndex));
    return info.nBkgndColor;
}

void CxImage::SetTransColor(RGBQUAD rgb)
{
    rgb.rgbReserved = 0;
    info.nBkgndColor = rgb;
}

// ---- Pixels ----

BYTE CxImage::GetPixelIndex(long x, long y) const
{
    if (!pDib || head.biClrUsed == 0)
        return 0;
    if (!IsInside(x, y)) {
        if (info.nBkgndIndex >= 0)
            return static_cast<BYTE>(info.nBkgndIndex);
        return BlindGetPixelIndex(0, 0);
    }
    return BlindGetPixelIndex(x, y);
}

BYTE CxImage::BlindGetPixelIndex(long x, long y) const
{
    const BYTE* row = pImage + static_cast<std::size_t>(y) * info.dwEffWidth;
    switch (head.biBitCount) {
    case 8:
        return row[x];
    case 4: {
        const BYTE b = row[x >> 1];
        return static_cast<BYTE>((x & 1) ? (b & 0x0F) : (b >> 4));
    }
    case 1:
        return static_cast<BYTE>((row[x >> 3] >> (7 - (x & 7))) & 1);
    default:
        return 0;
    }
}

void CxImage::SetPixelIndex(long x, long y, BYTE i)
{
    if (!pDib || head.biClrUsed == 0 || !IsInside(x, y))
        return;
    BlindSetPixelIndex(x, y, i);
}

void CxImage::BlindSetPixelIndex(long x, long y, BYTE i)
{
    BYTE* row = pImage + static_cast<std::size_t>(y) * info.dwEffWidth;
    switch (head.biBitCount) {
    case 8:
        row[x] = i;
        break;
    case 4: {
        BYTE& b = row[x >> 1];
        if (x & 1)
            b = static_cast<BYTE>((b & 0xF0) | (i & 0x0F));
        else
            b = static_cast<BYTE>((b & 0x0F) | ((i << 4) & 0xF0));
        break;
    }
    case 1: {
        BYTE& b = row[x >> 3];
        const BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
        b = (i & 1) ? static_cast<BYTE>(b | mask) : static_cast<BYTE>(b & ~mask);
        break;
    }
    default:
        break;
    }
}

RGBQUAD CxImage::GetPixelColor(long x, long y, bool bGetAlpha) const
{
    if (!pDib || !IsInside(x, y)) {
        if (info.nBkgndIndex >= 0) {
            if (head.biBitCount < 24)
                return info.nBkgndIndex < 256 ? GetPaletteColor(static_cast<BYTE>(info.nBkgndIndex))
                                              : RGBQUAD{0, 0, 0, 0};
            return info.nBkgndColor;
        }
        if (pDib)
            return BlindGetPixelColor(0, 0, bGetAlpha);
        return info.nBkgndColor;
    }
    return BlindGetPixelColor(x, y, bGetAlpha);
}

RGBQUAD CxImage::BlindGetPixelColor(long x, long y, bool bGetAlpha) const
{
    RGBQUAD rgb;
    if (head.biClrUsed) {
        rgb = GetPaletteColor(BlindGetPixelIndex(x, y));
    } else {
        const BYTE* p = pImage + static_cast<std::size_t>(y) * info.dwEffWidth + 3 * static_cast<std::size_t>(x);
        rgb = RGBQUAD{p[0], p[1], p[2], info.nBkgndColor.rgbReserved};
    }
    if (pAlpha && bGetAlpha)
        rgb.rgbReserved = pAlpha[static_cast<std::size_t>(y) * GetWidth() + x];
    return rgb;
}

void CxImage::SetPixelColor(long x, long y, RGBQUAD c, bool bSetAlpha)
{
    if (!pDib || !IsInside(x, y))
        return;
    BlindSetPixelColor(x, y, c, bSetAlpha);
}

void CxImage::BlindSetPixelColor(long x, long y, RGBQUAD c, bool bSetAlpha)
{
    if (head.biClrUsed) {
        BlindSetPixelIndex(x, y, NearestPaletteIndex(c));
    } else {
        BYTE* p = pImage + static_cast<std::size_t>(y) * info.dwEffWidth + 3 * static_cast<std::size_t>(x);
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
    if (bSetAlpha && pAlpha)
        pAlpha[static_cast<std::size_t>(y) * GetWidth() + x] = c.rgbReserved;
}

void CxImage::SetPixelColorRef(long x, long y, COLORREF cr)
{
    SetPixelColor(x, y,
                  RGBQUAD{static_cast<BYTE>(GetBValue(cr)), static_cast<BYTE>(GetGValue(cr)),
                          static_cast<BYTE>(GetRValue(cr)), 0},
                  false);
}

// ---- Whole-image operations ----

void CxImage::Clear(BYTE bval)
{
    if (!pDib)
        return;
    int fill = bval;
    if (head.biBitCount == 1)
        fill = bval ? 255 : 0;
    else if (head.biBitCount == 4)
        fill = (bval & 0x0F) * 17;
    std::memset(pImage, fill, head.biSizeImage);
}

bool CxImage::FlipRows(bool bFlipAlpha)
{
    if (!pDib)
        return false;
    const std::size_t rowBytes = info.dwEffWidth;
    BYTE* tmp = static_cast<BYTE*>(std::malloc(rowBytes ? rowBytes : 1));
    if (!tmp)
        return false;
    const std::size_t h = GetHeight();
    for (std::size_t i = 0; i < h / 2; ++i) {
        BYTE* a = pImage + i * rowBytes;
        BYTE* b = pImage + (h - 1 - i) * rowBytes;
        std::memcpy(tmp, a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, tmp, rowBytes);
    }
    std::free(tmp);
    if (bFlipAlpha)
        FlipAlpha();
    return true;
}

bool CxImage::IncreaseBitDepth(long nBit)
{
    if (nBit != 4 && nBit != 8 && nBit != 24)
        return false;
    if (!pDib)
        return false;
    if (nBit == head.biBitCount)
        return true;
    if (nBit < head.biBitCount)
        return false;

    CxImage tmp;
    tmp.CopyInfoBlock(*this);
    if (!tmp.Create(GetWidth(), GetHeight(), static_cast<DWORD>(nBit), info.dwType)) {
        SetLastErrorText(tmp.info.szLastError);
        return false;
    }
    const long w = GetWidth();
    const long h = GetHeight();
    if (nBit < 24) {
        tmp.SetPalette(GetPalette(), GetNumColors());
        tmp.CopyAlpha(*this);
        for (long y = 0; y < h && !info.nEscape; ++y)
            for (long x = 0; x < w; ++x)
                tmp.BlindSetPixelIndex(x, y, BlindGetPixelIndex(x, y));
    } else {
        tmp.CopyAlpha(*this);
        if (PaletteHasAlpha() && !tmp.HasAlpha())
            tmp.CreateAlpha();
        if (info.nBkgndIndex >= 0 && info.nBkgndIndex < 256)
            tmp.info.nBkgndColor = GetPaletteColor(static_cast<BYTE>(info.nBkgndIndex));
        for (long y = 0; y < h && !info.nEscape; ++y)
            for (long x = 0; x < w; ++x)
                tmp.BlindSetPixelColor(x, y, BlindGetPixelColor(x, y, true), true);
    }
    Transfer(tmp);
    return true;
}

bool CxImage::Crop(long left, long top, long right, long bottom, CxImage* iDst)
{
    if (!pDib)
        return false;
    const long w = GetWidth();
    const long h = GetHeight();
    auto clamp = [](long v, long hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
    // right and bottom are inclusive; the +1 comes before the pair is ordered.
    long startX = clamp(left, w);
    long endX = clamp(right >= w ? w : right + 1, w);
    long startRow = h - clamp(top, h);
    long endRow = h - clamp(bottom >= h ? h : bottom + 1, h);
    if (startX == endX || startRow == endRow)
        return false;
    if (startX > endX)
        std::swap(startX, endX);
    if (startRow > endRow)
        std::swap(startRow, endRow);
    const long newW = endX - startX;
    const long newH = endRow - startRow;

    CxImage tmp;
    tmp.CopyInfoBlock(*this);
    if (!tmp.Create(static_cast<DWORD>(newW), static_cast<DWORD>(newH), head.biBitCount, info.dwType)) {
        SetLastErrorText(tmp.info.szLastError);
        return false;
    }
    tmp.SetPalette(GetPalette(), GetNumColors());
    tmp.info.nBkgndIndex = info.nBkgndIndex;
    tmp.info.nBkgndColor = info.nBkgndColor;

    const int bpp = head.biBitCount;
    for (long r = 0; r < newH; ++r) {
        info.nProgress = static_cast<LONG>(100 * r / newH);
        const long srcRow = startRow + r;
        if (bpp < 8) {
            for (long x = 0; x < newW; ++x)
                tmp.BlindSetPixelIndex(x, r, BlindGetPixelIndex(startX + x, srcRow));
        } else {
            std::memcpy(tmp.pImage + static_cast<std::size_t>(r) * tmp.info.dwEffWidth,
                        pImage + static_cast<std::size_t>(srcRow) * info.dwEffWidth +
                            static_cast<std::size_t>(bpp) * startX / 8,
                        static_cast<std::size_t>(bpp) * newW / 8);
        }
    }
    if (pAlpha) {
        if (!tmp.CreateAlpha())
            return false;
        for (long r = 0; r < newH; ++r)
            std::memcpy(tmp.pAlpha + static_cast<std::size_t>(r) * newW,
                        pAlpha + static_cast<std::size_t>(startRow + r) * w + startX, newW);
    }
    (iDst ? iDst : this)->Transfer(tmp);
    return true;
}

// ---- Alpha plane ----

bool CxImage::CreateAlpha()
{
    if (!pDib)
        return false;
    if (!pAlpha) {
        const std::size_t n = static_cast<std::size_t>(GetWidth()) * GetHeight();
        pAlpha = static_cast<BYTE*>(std::malloc(n));
        if (pAlpha)
            std::memset(pAlpha, 255, n);
    }
    return pAlpha != nullptr;
}

void CxImage::DeleteAlpha()
{
    std::free(pAlpha);
    pAlpha = nullptr;
}

void CxImage::SetAlpha(long x, long y, BYTE level)
{
    if (pAlpha && IsInside(x, y))
        pAlpha[static_cast<std::size_t>(y) * GetWidth() + x] = level;
}

BYTE CxImage::GetAlpha(long x, long y) const
{
    if (pAlpha && IsInside(x, y))
        return pAlpha[static_cast<std::size_t>(y) * GetWidth() + x];
    return 0;
}

void CxImage::InvertAlpha()
{
    if (!pAlpha)
        return;
    const std::size_t n = static_cast<std::size_t>(GetWidth()) * GetHeight();
    for (std::size_t i = 0; i < n; ++i)
        pAlpha[i] = static_cast<BYTE>(255 - pAlpha[i]);
}

void CxImage::FlipAlpha()
{
    if (!pAlpha)
        return;
    const std::size_t w = GetWidth();
    const std::size_t h = GetHeight();
    for (std::size_t i = 0; i < h / 2; ++i)
        std::swap_ranges(pAlpha + i * w, pAlpha + (i + 1) * w, pAlpha + (h - 1 - i) * w);
}

bool CxImage::CopyAlpha(const CxImage& from)
{
    if (!from.pAlpha || !pDib || GetWidth() != from.GetWidth() || GetHeight() != from.GetHeight())
        return false;
    const std::size_t n = static_cast<std::size_t>(GetWidth()) * GetHeight();
    if (!pAlpha) {
        pAlpha = static_cast<BYTE*>(std::malloc(n));
        if (!pAlpha)
            return false;
    }
    std::memcpy(pAlpha, from.pAlpha, n);
    info.nAlphaMax = from.info.nAlphaMax;
    return true;
}

bool CxImage::SetAlphaFromGray(const CxImage& from)
{
    if (!pDib || !from.pDib || !from.IsGrayPalette() || GetWidth() != from.GetWidth() ||
        GetHeight() != from.GetHeight())
        return false;
    if (!CreateAlpha())
        return false;
    // A grey palette maps index i to grey i, so the index is the alpha value.
    const long w = GetWidth();
    const long h = GetHeight();
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
            pAlpha[static_cast<std::size_t>(y) * w + x] = from.BlindGetPixelIndex(x, y);
    return true;
}

bool CxImage::SplitAlpha(CxImage* dest)
{
    if (!pAlpha || !dest)
        return false;
    CxImage tmp;
    if (!tmp.Create(GetWidth(), GetHeight(), 8, 0)) {
        SetLastErrorText(tmp.info.szLastError);
        return false;
    }
    tmp.SetGrayPalette();
    const std::size_t w = GetWidth();
    for (std::size_t y = 0; y < GetHeight(); ++y)
        std::memcpy(tmp.pImage + y * tmp.info.dwEffWidth, pAlpha + y * w, w);
    dest->Transfer(tmp);
    return true;
}

bool CxImage::PaletteHasAlpha() const
{
    const RGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (DWORD i = 0; i < head.biClrUsed; ++i)
        if (pal[i].rgbReserved != 0)
            return true;
    return false;
}

// ---- Building from a pixel buffer ----

bool CxImage::CreateFromBuffer(const BYTE* pArray, DWORD dwWidth, DWORD dwHeight, DWORD dwBitsperpixel,
                               DWORD dwBytesperline, bool bFlipImage)
{
    if (!pArray)
        return false;
    if (dwBitsperpixel != 1 && dwBitsperpixel != 4 && dwBitsperpixel != 8 && dwBitsperpixel != 24 &&
        dwBitsperpixel != 32)
        return false;
    if (!Create(dwWidth, dwHeight, dwBitsperpixel, 0))
        return false;
    if (dwBitsperpixel < 24)
        SetGrayPalette();
    if (dwBitsperpixel == 32)
        CreateAlpha();
    const std::size_t w = dwWidth;
    for (std::size_t y = 0; y < dwHeight; ++y) {
        const std::size_t line = bFlipImage ? dwHeight - 1 - y : y;
        const BYTE* src = pArray + line * dwBytesperline;
        BYTE* dst = pImage + y * info.dwEffWidth;
        if (dwBitsperpixel == 32) {
            const std::size_t n = std::min<std::size_t>(w, dwBytesperline / 4);
            for (std::size_t x = 0; x < n; ++x) {
                dst[3 * x] = src[4 * x];
                dst[3 * x + 1] = src[4 * x + 1];
                dst[3 * x + 2] = src[4 * x + 2];
                if (pAlpha)
                    pAlpha[y * w + x] = src[4 * x + 3];
            }
        } else {
            std::memcpy(dst, src, std::min<std::size_t>(info.dwEffWidth, dwBytesperline));
        }
    }
    return true;
}

// ---- Lines ----

void CxImage::DrawLine(long startX, long endX, long startY, long endY, RGBQUAD color, bool bSetAlpha)
{
    if (!pDib)
        return;
    // Rows from the bottom: y = 1 is the top row. The walk is the classic
    // integer one (error starts at run / 2); it is evaluated in closed form only
    // for the steps whose major coordinate lies on the image, so a line of any
    // length costs at most one image side.
    using Wide = __int128;
    const Wide h = GetHeight();
    const Wide x0 = startX;
    const Wide x1 = endX;
    const Wide y0 = h - startY;
    const Wide y1 = h - endY;
    const Wide dx = x1 >= x0 ? x1 - x0 : x0 - x1;
    const Wide dy = y1 >= y0 ? y1 - y0 : y0 - y1;
    const int sx = x1 >= x0 ? 1 : -1;
    const int sy = y1 >= y0 ? 1 : -1;
    const bool xMajor = dx >= dy;
    const Wide run = xMajor ? dx : dy;
    const Wide other = xMajor ? dy : dx;
    const Wide major0 = xMajor ? x0 : y0;
    const Wide minor0 = xMajor ? y0 : x0;
    const int sMajor = xMajor ? sx : sy;
    const int sMinor = xMajor ? sy : sx;
    const Wide limit = xMajor ? static_cast<Wide>(GetWidth()) : h;

    // Steps k in [0, run] with 0 <= major0 + sMajor * k < limit.
    Wide kMin = 0;
    Wide kMax = run;
    if (sMajor > 0) {
        kMin = std::max<Wide>(kMin, -major0);
        kMax = std::min<Wide>(kMax, limit - 1 - major0);
    } else {
        kMin = std::max<Wide>(kMin, major0 - (limit - 1));
        kMax = std::min<Wide>(kMax, major0);
    }
    for (Wide k = kMin; k <= kMax; ++k) {
        const Wide moves = run == 0 ? 0 : (run / 2 + k * other) / run;
        const Wide major = major0 + sMajor * k;
        const Wide minor = minor0 + sMinor * moves;
        const Wide x = xMajor ? major : minor;
        const Wide y = xMajor ? minor : major;
        if (x >= 0 && y >= 0 && x < static_cast<Wide>(GetWidth()) && y < h)
            SetPixelColor(static_cast<long>(x), static_cast<long>(y), color, bSetAlpha);
    }
}

void CxImage::DrawLineColorRef(long startX, long endX, long startY, long endY, COLORREF cr)
{
    DrawLine(startX, endX, startY, endY,
             RGBQUAD{static_cast<BYTE>(GetBValue(cr)), static_cast<BYTE>(GetGValue(cr)),
                     static_cast<BYTE>(GetRValue(cr)), 0},
             false);
}
