// CxImage: one raster picture held as a device-independent bitmap (header,
// palette, bottom-up pixel rows) with an optional alpha plane; BMP and GIF
// decoding, resampling, and drawing to and onto it.
#pragma once

#include "ui/image/ximadef.h"
#include "ui/image/xfile.h"

#include <cstdio>

class QImage;
class QPainter;

// Everything an image knows beside its pixels. Copied whole between an image
// and the decoders and temporaries that work for it.
struct CXIMAGEINFO {
    DWORD dwEffWidth;        // row bytes
    DWORD dwType;            // type code: 0 unknown, 1 BMP, 2 GIF
    char szLastError[256];
    LONG nProgress;          // 0..100, set by the row loops of Crop and Resample
    LONG nEscape;            // non-zero stops long loops; -1 asks decoders for the size only
    LONG nBkgndIndex;        // transparent palette index, -1 for none
    RGBQUAD nBkgndColor;     // transparent colour of a true-colour image
    LONG nFrame;             // frame of a multi-frame file to decode
    LONG nNumFrames;
    DWORD dwFrameDelay;
    LONG xDPI;
    LONG yDPI;
    BYTE nAlphaMax;
    bool bAlphaPaletteEnabled;
    bool bEnabled;
    RGBQUAD last_c;          // nearest-colour cache
    BYTE last_c_index;
    bool last_c_isvalid;
    BYTE dispmeth;           // GIF disposal method
    bool bLittleEndianHost;
};

class CxImage {
    friend class CxImageBMP;
    friend class CxImageGIF;

public:
    explicit CxImage(DWORD imagetype = 0);
    CxImage(const CxImage& src, bool copypixels = true, bool copyselection = true, bool copyalpha = true);
    CxImage& operator=(const CxImage& src);
    virtual ~CxImage();

    // Life cycle and copies.
    void* Create(DWORD dwWidth, DWORD dwHeight, DWORD wBpp, DWORD imagetype = 0);
    bool Destroy();
    void Copy(const CxImage& src, bool copypixels = true, bool copyselection = true, bool copyalpha = true);
    bool Transfer(CxImage& from);
    void CopyInfoBlock(const CxImage& from);

    // Files (BMP and GIF only).
    bool Load(const char* filename, DWORD imagetype = 0);
    bool Decode(CxFile* hFile, DWORD imagetype);
    bool Decode(FILE* hFile, DWORD imagetype);

    // Accessors.
    DWORD GetWidth() const { return static_cast<DWORD>(head.biWidth); }
    DWORD GetHeight() const { return static_cast<DWORD>(head.biHeight); }
    WORD GetBpp() const { return head.biBitCount; }
    DWORD GetRowBytes() const { return info.dwEffWidth; }
    DWORD GetNumColors() const { return head.biClrUsed; }
    DWORD GetType() const { return info.dwType; }
    bool IsValid() const { return pDib != nullptr; }
    bool IsInside(long x, long y) const;
    BYTE* GetBits(DWORD row = 0);
    RGBQUAD* GetPalette() const;
    const char* LastErrorText() const { return info.szLastError; }
    // The DIB block (header, palette, pixels) and its size in bytes.
    void* GetDIB() const { return pDib; }
    DWORD GetSize() const;
    const BITMAPINFOHEADER& GetHeader() const { return head; }

    long GetXDpi() const { return info.xDPI; }
    long GetYDpi() const { return info.yDPI; }
    void SetXDpi(long dpi);
    void SetYDpi(long dpi);
    long GetProgress() const { return info.nProgress; }
    long GetEscape() const { return info.nEscape; }
    void SetEscape(long i) { info.nEscape = i; }
    long GetFrame() const { return info.nFrame; }
    void SetFrame(long nFrame) { info.nFrame = nFrame; }
    long GetFrameCount() const { return info.nNumFrames; }
    DWORD GetFrameDelay() const { return info.dwFrameDelay; }
    BYTE GetDisposalMethod() const { return info.dispmeth; }
    BYTE GetAlphaMax() const { return info.nAlphaMax; }
    void SetAlphaMax(BYTE nAlphaMax) { info.nAlphaMax = nAlphaMax; }

    // Palette and transparency.
    RGBQUAD GetPaletteColor(BYTE idx) const;
    void SetPaletteColor(BYTE idx, COLORREF cr);
    void SetPalette(const RGBQUAD* pPal, DWORD nColors = 256);
    void SetPaletteRGB(DWORD n, const BYTE* red, const BYTE* green = nullptr, const BYTE* blue = nullptr);
    void SetGrayPalette();
    bool IsGrayPalette() const;
    BYTE NearestPaletteIndex(RGBQUAD c);
    long GetTransIndex() const { return info.nBkgndIndex; }
    void SetTransIndex(long idx);
    RGBQUAD GetTransColor() const;
    void SetTransColor(RGBQUAD rgb);

    // Pixels; y counts from the bottom row. The Blind forms skip the bounds
    // check for loops that have made it already.
    BYTE GetPixelIndex(long x, long y) const;
    BYTE BlindGetPixelIndex(long x, long y) const;
    void SetPixelIndex(long x, long y, BYTE i);
    void BlindSetPixelIndex(long x, long y, BYTE i);
    RGBQUAD GetPixelColor(long x, long y, bool bGetAlpha = true) const;
    RGBQUAD BlindGetPixelColor(long x, long y, bool bGetAlpha = true) const;
    void SetPixelColor(long x, long y, RGBQUAD c, bool bSetAlpha = false);
    void BlindSetPixelColor(long x, long y, RGBQUAD c, bool bSetAlpha = false);
    void SetPixelColorRef(long x, long y, COLORREF cr);

    // Whole-image operations.
    void Clear(BYTE bval = 0);
    bool FlipRows(bool bFlipAlpha = true);
    bool IncreaseBitDepth(long nBit);
    // left, top, right, bottom from the top-left corner; right and bottom inclusive.
    bool Crop(long left, long top, long right, long bottom, CxImage* iDst = nullptr);
    // mode 1 nearest pixel, 2 bicubic B-spline, else bilinear (box average
    // for a true-colour image that shrinks both ways).
    bool Resample(long newx, long newy, int mode = 1, CxImage* iDst = nullptr);

    // Alpha plane (rows bottom-up, width bytes each, 0 transparent).
    bool HasAlpha() const { return pAlpha != nullptr; }
    bool CreateAlpha();
    void DeleteAlpha();
    void SetAlpha(long x, long y, BYTE level);
    BYTE GetAlpha(long x, long y) const;
    void InvertAlpha();
    void FlipAlpha();
    bool CopyAlpha(const CxImage& from);
    bool SetAlphaFromGray(const CxImage& from);
    bool SplitAlpha(CxImage* dest);
    bool PaletteHasAlpha() const;

    // Drawing on the image: y from the top, the top row being y = 1 for
    // DrawLine (note both x values come first).
    void DrawLine(long startX, long endX, long startY, long endY, RGBQUAD color, bool bSetAlpha = false);
    void DrawLineColorRef(long startX, long endX, long startY, long endY, COLORREF cr);
    // Replaces the image by a copy of a pixel buffer (bpp 1, 4, 8, 24 or 32).
    bool CreateFromBuffer(const BYTE* pArray, DWORD dwWidth, DWORD dwHeight, DWORD dwBitsperpixel,
                          DWORD dwBytesperline, bool bFlipImage);

    // Rendering through Qt (the only part of the class that uses it). The
    // painter stands in for the device context; srcY counts from the bottom
    // row, as in a DIB. 1 after the blit, 0 for an invalid image or a painter
    // that is not active.
    long Stretch(QPainter& dc, long xoffset, long yoffset, long xsize, long ysize, DWORD dwRop = SRCCOPY);
    long StretchPart(QPainter& dc, long xoffset, long yoffset, long xsize, long ysize, long srcX, long srcY,
                     long srcWidth, long srcHeight, DWORD dwRop = SRCCOPY);
    // Text with its top-left corner at (x, y) from the image's top-left; every
    // pixel the text touches gets the full colour. height is the font height
    // in pixels (negative: character height; positive: cell height). dc may be
    // null; 0 when no GUI is there to render fonts, else 1.
    long DrawString(QPainter* dc, long x, long y, const char* text, RGBQUAD color, const char* font,
                    long lSize = 0, long lWeight = 400, BYTE bItalic = 0, BYTE bUnderline = 0,
                    bool bSetAlpha = false);
    // Replaces the image by a bitmap's pixels (a null bitmap gives false).
    bool CreateFromHBITMAP(const QImage& bitmap, bool bTransparency = false);
    // True for a 32-bit bitmap with an alpha channel in which some pixel has
    // a non-zero alpha.
    static bool HBitmapHasAlpha(const QImage& bitmap);

protected:
    void SetLastErrorText(const char* text);
    void ResampleNearest(CxImage& dst, float xScale, float yScale);
    void ResampleBicubic(CxImage& dst, float xScale, float yScale);
    void ResampleBilinear(CxImage& dst, float xScale, float yScale);
    void ResampleBox(CxImage& dst, float xScale, float yScale);

    void* pDib = nullptr;         // header, palette and pixels in one block
    BITMAPINFOHEADER head{};      // header copy; survives Destroy
    CXIMAGEINFO info{};
    BYTE* pImage = nullptr;       // first pixel row inside pDib
    BYTE* pAlpha = nullptr;       // width x height, or null
};
