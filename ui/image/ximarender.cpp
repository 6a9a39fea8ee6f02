// The rendering half of CxImage, the only part that uses Qt: stretch blits
// into a painter, text drawn onto the image, and images made from a QImage.
#include "ui/image/ximage.h"

#include "platform/fonts.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cstring>

namespace {

QPainter::CompositionMode ModeFor(DWORD rop)
{
    switch (rop) {
    case SRCPAINT: return QPainter::RasterOp_SourceOrDestination;
    case SRCAND: return QPainter::RasterOp_SourceAndDestination;
    case SRCINVERT: return QPainter::RasterOp_SourceXorDestination;
    default: return QPainter::CompositionMode_Source;
    }
}

QList<QRgb> ColorTable(const RGBQUAD* pal, DWORD n)
{
    QList<QRgb> table;
    table.reserve(static_cast<qsizetype>(n));
    for (DWORD i = 0; i < n; ++i)
        table.append(qRgb(pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue));
    return table;
}

// GDI's font height: negative is the character height, positive the cell
// height (ascent + descent), 0 the default size.
void SetFontHeight(QFont& font, long height)
{
    if (height < 0) {
        font.setPixelSize(static_cast<int>(std::min<long>(-height, 4096)));
    } else if (height > 0) {
        const int cell = static_cast<int>(std::min<long>(height, 4096));
        int px = cell;
        font.setPixelSize(px);
        const int measured = QFontMetrics(font).height();
        if (measured > cell) {
            px = std::max(1, px * cell / measured);
            font.setPixelSize(px);
            while (px > 1 && QFontMetrics(font).height() > cell)
                font.setPixelSize(--px);
        }
    }
}

} // namespace

long CxImage::Stretch(QPainter& dc, long xoffset, long yoffset, long xsize, long ysize, DWORD dwRop)
{
    return StretchPart(dc, xoffset, yoffset, xsize, ysize, 0, 0, GetWidth(), GetHeight(), dwRop);
}

long CxImage::StretchPart(QPainter& dc, long xoffset, long yoffset, long xsize, long ysize, long srcX, long srcY,
                          long srcWidth, long srcHeight, DWORD dwRop)
{
    if (!pDib || !dc.isActive())
        return 0;
    const long w = GetWidth();
    const long h = GetHeight();
    srcX = std::clamp<long>(srcX, 0, w);
    srcY = std::clamp<long>(srcY, 0, h);
    srcWidth = std::clamp<long>(srcWidth, 0, w);
    srcHeight = std::clamp<long>(srcHeight, 0, h);

    // The pixel rows as they are, bottom-up: the painter flips them, so the
    // true-colour and 8-bit blocks are drawn without a copy of their pixels.
    QImage rows;
    switch (head.biBitCount) {
    case 24:
        rows = QImage(pImage, static_cast<int>(w), static_cast<int>(h), info.dwEffWidth, QImage::Format_BGR888);
        break;
    case 8:
        rows = QImage(pImage, static_cast<int>(w), static_cast<int>(h), info.dwEffWidth, QImage::Format_Indexed8);
        rows.setColorTable(ColorTable(GetPalette(), head.biClrUsed));
        break;
    case 1:
        rows = QImage(pImage, static_cast<int>(w), static_cast<int>(h), info.dwEffWidth, QImage::Format_Mono);
        rows.setColorTable(ColorTable(GetPalette(), head.biClrUsed));
        break;
    default: // 4 bits: Qt has no such format
        rows = QImage(static_cast<int>(w), static_cast<int>(h), QImage::Format_Indexed8);
        if (rows.isNull())
            return 0;
        rows.setColorTable(ColorTable(GetPalette(), head.biClrUsed));
        for (long y = 0; y < h; ++y) {
            uchar* line = rows.scanLine(static_cast<int>(y));
            for (long x = 0; x < w; ++x)
                line[x] = BlindGetPixelIndex(x, y);
        }
        break;
    }
    if (rows.isNull())
        return 0;

    dc.save();
    dc.setRenderHint(QPainter::SmoothPixmapTransform, false); // COLORONCOLOR
    dc.setCompositionMode(ModeFor(dwRop));
    QTransform flip;
    flip.translate(static_cast<qreal>(xoffset), static_cast<qreal>(yoffset) + static_cast<qreal>(ysize));
    flip.scale(1.0, -1.0);
    dc.setTransform(flip, true);
    dc.drawImage(QRectF(0, 0, static_cast<qreal>(xsize), static_cast<qreal>(ysize)), rows,
                 QRectF(srcX, srcY, srcWidth, srcHeight));
    dc.restore();
    return 1;
}

long CxImage::DrawString(QPainter* /*dc*/, long x, long y, const char* text, RGBQUAD color, const char* font,
                         long lSize, long lWeight, BYTE bItalic, BYTE bUnderline, bool bSetAlpha)
{
    if (!pDib)
        return 1;
    // Fonts need the GUI; without it there is nothing to render text with.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;

    QFont f;
    if (font && *font)
        qelm::SetSkinFontFace(f, QString::fromUtf8(font, static_cast<qsizetype>(strnlen(font, 31))));
    SetFontHeight(f, lSize);
    if (lWeight > 0)
        f.setWeight(static_cast<QFont::Weight>(std::clamp<long>(lWeight, 1, 1000)));
    f.setItalic(bItalic != 0);
    f.setUnderline(bUnderline != 0);
    // Every touched pixel gets the full colour, so crisp glyphs read best.
    f.setStyleStrategy(QFont::NoAntialias);

    const QString str = QString::fromUtf8(text ? text : "");
    const QRect r = QFontMetrics(f).boundingRect(QRect(0, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, str);
    const int bottom = r.height();
    const int right = r.width();
    // Wider than measured by its height, to leave room for an italic overhang.
    const int bmpWidth = right + bottom;
    const int bmpHeight = bottom;
    if (bmpWidth <= 0 || bmpHeight <= 0)
        return 1;

    QImage bmp(bmpWidth, bmpHeight, QImage::Format_RGB32);
    if (bmp.isNull())
        return 1;
    bmp.fill(Qt::black);
    {
        QPainter p(&bmp);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, bmpWidth, bmpHeight), Qt::AlignLeft | Qt::AlignTop, str);
    }
    CxImage glyphs;
    if (!glyphs.CreateFromHBITMAP(bmp, false))
        return 1;

    const long height = GetHeight();
    for (long i = 0; i < bmpWidth; ++i)
        for (long j = 0; j < bmpHeight; ++j)
            if (glyphs.BlindGetPixelColor(i, j, false).rgbBlue != 0)
                SetPixelColor(x + i, height - y - bmpHeight + j, color, bSetAlpha);
    return 1;
}

bool CxImage::HBitmapHasAlpha(const QImage& bitmap)
{
    if (bitmap.isNull() || bitmap.depth() != 32 || !bitmap.hasAlphaChannel())
        return false;
    for (int y = 0; y < bitmap.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(bitmap.constScanLine(y));
        for (int x = 0; x < bitmap.width(); ++x)
            if (qAlpha(line[x]) != 0)
                return true;
    }
    return false;
}

bool CxImage::CreateFromHBITMAP(const QImage& bitmap, bool bTransparency)
{
    Destroy();
    if (bitmap.isNull())
        return false;
    const DWORD w = static_cast<DWORD>(bitmap.width());
    const DWORD h = static_cast<DWORD>(bitmap.height());
    if (bTransparency && HBitmapHasAlpha(bitmap)) {
        // 32-bit rows, blue, green, red, alpha; QImage rows run top-down.
        const QImage argb = bitmap.convertToFormat(QImage::Format_ARGB32);
        if (argb.isNull()) {
            SetLastErrorText("GetDIBits failed");
            return false;
        }
        return CreateFromBuffer(argb.constBits(), w, h, 32, static_cast<DWORD>(argb.bytesPerLine()), true);
    }
    if (!Create(w, h, static_cast<DWORD>(bitmap.depth()), 0))
        return false;
    QImage rows;
    switch (head.biBitCount) {
    case 1: rows = bitmap.convertToFormat(QImage::Format_Mono); break;
    case 8: rows = bitmap.convertToFormat(QImage::Format_Indexed8); break;
    default: rows = bitmap.convertToFormat(QImage::Format_BGR888); break;
    }
    if (rows.isNull() || static_cast<DWORD>(rows.width()) != w || static_cast<DWORD>(rows.height()) != h) {
        SetLastErrorText("GetDIBits failed");
        return false;
    }
    if (head.biClrUsed) {
        const QList<QRgb> table = rows.colorTable();
        RGBQUAD* pal = GetPalette();
        const DWORD n = std::min<DWORD>(head.biClrUsed, static_cast<DWORD>(table.size()));
        for (DWORD i = 0; i < n; ++i)
            pal[i] = RGBQUAD{static_cast<BYTE>(qBlue(table[i])), static_cast<BYTE>(qGreen(table[i])),
                             static_cast<BYTE>(qRed(table[i])), 0};
        info.last_c_isvalid = false;
    }
    const std::size_t bytes = std::min<std::size_t>(info.dwEffWidth, static_cast<std::size_t>(rows.bytesPerLine()));
    for (DWORD y = 0; y < h; ++y)
        std::memcpy(GetBits(h - 1 - y), rows.constScanLine(static_cast<int>(y)), bytes);
    return true;
}
