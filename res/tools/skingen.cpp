// The skin generator: draws every picture of the skin (backgrounds, tab and
// button faces, cursors, map markers, login and splash pictures, the slider
// bar) and writes them beside the program, plus the C++ table of the pictures
// that the program carries inside itself (PNG faces, bitmaps, the icon).
//
// usage: qelm2_skingen <output folder> <generated resources .cpp>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QBuffer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// --- palette: light surfaces, dark ink, one accent -------------------------------
const QColor kNavy(0x1B, 0x26, 0x38);
const QColor kNavy2(0x26, 0x35, 0x4D);
const QColor kNavyLine(0x3A, 0x4B, 0x66);
const QColor kSlate(0x3D, 0x4A, 0x5C);
const QColor kLine(0xC9, 0xD1, 0xDC);
const QColor kAccent(0x2F, 0x6F, 0xED);
const QColor kOrange(0xF7, 0x71, 0x21);
const QColor kRed(0xE0, 0x3E, 0x44);
const QColor kGreen(0x1F, 0xA2, 0x5A);
const QColor kAmber(0xF2, 0xA5, 0x1A);
const QColor kHeaderGlyph(0xE3, 0xE9, 0xF2);

int g_failures = 0;

QImage Canvas(int w, int h, const QColor& fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

void Begin(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QFont UiFont(int pixelSize, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QPen Stroke(const QColor& c, qreal w)
{
    QPen pen(c, w);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// --- file output --------------------------------------------------------------------

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
        ++g_failures;
        return false;
    }
    return true;
}

QByteArray Encode(const QImage& img, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (!img.save(&buf, format, quality)) {
        std::fprintf(stderr, "skingen: cannot encode %s\n", format);
        ++g_failures;
    }
    return bytes;
}

void Put16(QByteArray& b, unsigned v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

void Put32(QByteArray& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// A plain 24-bit BI_RGB bitmap file, rows bottom-up and padded to 4 bytes.
QByteArray Bmp24(const QImage& src)
{
    const QImage img = src.convertToFormat(QImage::Format_RGB32);
    const int w = img.width(), h = img.height();
    const int rowBytes = (w * 3 + 3) & ~3;
    QByteArray b;
    b.append("BM");
    Put32(b, 14 + 40 + rowBytes * h);
    Put32(b, 0);
    Put32(b, 14 + 40);
    Put32(b, 40);
    Put32(b, std::uint32_t(w));
    Put32(b, std::uint32_t(h));
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, rowBytes * h);
    Put32(b, 3780);
    Put32(b, 3780);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = h - 1; y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int n = 0;
        for (int x = 0; x < w; ++x, n += 3) {
            b.append(char(qBlue(line[x])));
            b.append(char(qGreen(line[x])));
            b.append(char(qRed(line[x])));
        }
        for (; n < rowBytes; ++n)
            b.append('\0');
    }
    return b;
}

// A Windows cursor file: one 32-bit image with its hot spot and AND mask.
QByteArray Cursor(const QImage& src, int hotX, int hotY)
{
    const QImage img = src.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width(), h = img.height();
    const int maskRow = ((w + 31) / 32) * 4;
    QByteArray dib;
    Put32(dib, 40);
    Put32(dib, std::uint32_t(w));
    Put32(dib, std::uint32_t(h * 2));
    Put16(dib, 1);
    Put16(dib, 32);
    Put32(dib, 0);
    Put32(dib, w * h * 4 + maskRow * h);
    Put32(dib, 0);
    Put32(dib, 0);
    Put32(dib, 0);
    Put32(dib, 0);
    for (int y = h - 1; y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            dib.append(char(qBlue(line[x])));
            dib.append(char(qGreen(line[x])));
            dib.append(char(qRed(line[x])));
            dib.append(char(qAlpha(line[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        QByteArray row(maskRow, '\0');
        for (int x = 0; x < w; ++x)
            if (qAlpha(line[x]) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        dib.append(row);
    }
    QByteArray b;
    Put16(b, 0);
    Put16(b, 2); // cursor
    Put16(b, 1);
    b.append(char(w & 0xFF));
    b.append(char(h & 0xFF));
    b.append('\0');
    b.append('\0');
    Put16(b, unsigned(hotX));
    Put16(b, unsigned(hotY));
    Put32(b, std::uint32_t(dib.size()));
    Put32(b, 6 + 16);
    b.append(dib);
    return b;
}

// --- shared shapes ------------------------------------------------------------------

QPainterPath Rounded(const QRectF& r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// The light face of every captioned button: a soft gradient with a hairline
// border, so that a black or orange caption reads on it.
QImage CaptionFace(int w, int h, const QColor& tint = QColor())
{
    QImage img = Canvas(w, h);
    QPainter p(&img);
    Begin(p);
    const QRectF r(0.5, 0.5, w - 1.0, h - 1.0);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
    g.setColorAt(1, QColor(0xE4, 0xE9, 0xF0));
    p.setPen(QPen(QColor(0xAF, 0xBA, 0xC8), 1));
    p.setBrush(g);
    p.drawPath(Rounded(r, 3.5));
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.drawLine(QPointF(3, 1.5), QPointF(w - 3, 1.5));
    if (tint.isValid()) {
        p.setPen(Qt::NoPen);
        p.setBrush(tint);
        p.drawRoundedRect(QRectF(1, h - 3, w - 2, 2), 1, 1);
    }
    return img;
}

// Glyphs are drawn in a 24-unit box scaled to the picture.
using Glyph = std::function<void(QPainter&, const QColor&)>;

QImage Icon(int w, int h, const Glyph& glyph, const QColor& color, const QColor& backdrop = QColor())
{
    QImage img = Canvas(w, h);
    QPainter p(&img);
    Begin(p);
    if (backdrop.isValid()) {
        p.setPen(Qt::NoPen);
        p.setBrush(backdrop);
        p.drawRoundedRect(QRectF(0.5, 0.5, w - 1.0, h - 1.0), 4, 4);
    }
    const qreal s = std::min(w, h) / 24.0;
    p.translate((w - 24 * s) / 2, (h - 24 * s) / 2);
    p.scale(s, s);
    glyph(p, color);
    return img;
}

void Arrow(QPainter& p, const QColor& c, qreal angleDeg)
{
    p.save();
    p.translate(12, 12);
    p.rotate(angleDeg);
    QPainterPath tri;
    tri.moveTo(0, -8);
    tri.lineTo(7, 4);
    tri.lineTo(-7, 4);
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(tri);
    p.restore();
}

void Magnifier(QPainter& p, const QColor& c, int sign)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
    p.drawLine(QPointF(15, 15), QPointF(21, 21));
    if (sign != 0) {
        p.setPen(Stroke(c, 1.8));
        p.drawLine(QPointF(7, 10), QPointF(13, 10));
        if (sign > 0)
            p.drawLine(QPointF(10, 7), QPointF(10, 13));
    }
}

void Grid(QPainter& p, const QColor& c, int cols, int rows, const std::vector<QRectF>& cells = {})
{
    const QRectF frame(3, 4, 18, 16);
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame, 1.5, 1.5);
    p.setPen(Stroke(c, 1.0));
    if (!cells.empty()) {
        for (const QRectF& r : cells)
            p.drawRect(QRectF(frame.x() + r.x() * frame.width(), frame.y() + r.y() * frame.height(),
                              r.width() * frame.width(), r.height() * frame.height()));
        return;
    }
    for (int i = 1; i < cols; ++i) {
        const qreal x = frame.x() + frame.width() * i / cols;
        p.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
    }
    for (int i = 1; i < rows; ++i) {
        const qreal y = frame.y() + frame.height() * i / rows;
        p.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
    }
}

void Microphone(QPainter& p, const QColor& c, bool waves)
{
    p.setPen(Stroke(c, 1.8));
    p.setBrush(c);
    p.drawRoundedRect(QRectF(9, 3, 6, 11), 3, 3);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 7, 12, 11), 180 * 16, 180 * 16);
    p.drawLine(QPointF(12, 18), QPointF(12, 21));
    p.drawLine(QPointF(8.5, 21), QPointF(15.5, 21));
    if (waves) {
        p.setPen(Stroke(c, 1.4));
        p.drawArc(QRectF(1, 4, 8, 10), 120 * 16, 120 * 16);
        p.drawArc(QRectF(15, 4, 8, 10), -60 * 16, 120 * 16);
    }
}

void Speaker(QPainter& p, const QColor& c, bool on)
{
    QPainterPath body;
    body.moveTo(3, 9);
    body.lineTo(7, 9);
    body.lineTo(12, 4.5);
    body.lineTo(12, 19.5);
    body.lineTo(7, 15);
    body.lineTo(3, 15);
    body.closeSubpath();
    p.setPen(Stroke(c, 1.4));
    p.setBrush(c);
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    if (on) {
        p.setPen(Stroke(c, 1.7));
        p.drawArc(QRectF(9, 7.5, 7, 9), -55 * 16, 110 * 16);
        p.drawArc(QRectF(9, 4, 12, 16), -55 * 16, 110 * 16);
    } else {
        p.setPen(Stroke(c, 1.8));
        p.drawLine(QPointF(15, 9), QPointF(21, 15));
        p.drawLine(QPointF(21, 9), QPointF(15, 15));
    }
}

void Camera(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 7, 18, 13), 2.5, 2.5);
    p.drawRect(QRectF(8.5, 4.5, 7, 2.5));
    p.drawEllipse(QPointF(12, 13.5), 4, 4);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 13.5), 1.4, 1.4);
}

void Bell(QPainter& p, const QColor& c, bool filled)
{
    QPainterPath bell;
    bell.moveTo(5, 17);
    bell.cubicTo(7, 15, 6.5, 12, 6.5, 10);
    bell.cubicTo(6.5, 6, 9, 4, 12, 4);
    bell.cubicTo(15, 4, 17.5, 6, 17.5, 10);
    bell.cubicTo(17.5, 12, 17, 15, 19, 17);
    bell.closeSubpath();
    p.setPen(Stroke(c, 1.6));
    p.setBrush(filled ? QBrush(c) : QBrush(Qt::NoBrush));
    p.drawPath(bell);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 19.5), 2, 2);
}

void Padlock(QPainter& p, const QColor& c, bool locked)
{
    p.setPen(Stroke(c, 1.8));
    p.setBrush(Qt::NoBrush);
    if (locked)
        p.drawArc(QRectF(7.5, 3.5, 9, 10), 0, 180 * 16);
    else
        p.drawArc(QRectF(11.5, 2.5, 9, 10), 0, 180 * 16);
    p.drawLine(QPointF(locked ? 7.5 : 20.5, 8.5), QPointF(locked ? 7.5 : 20.5, locked ? 11 : 10));
    if (locked)
        p.drawLine(QPointF(16.5, 8.5), QPointF(16.5, 11));
    p.setBrush(c);
    p.drawRoundedRect(QRectF(5, 11, 14, 10), 2, 2);
}

void Loop(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.9));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4, 4, 16, 16), 30 * 16, 150 * 16);
    p.drawArc(QRectF(4, 4, 16, 16), 210 * 16, 150 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QPainterPath h1;
    h1.moveTo(4.5, 9);
    h1.lineTo(1.5, 14);
    h1.lineTo(8, 13);
    h1.closeSubpath();
    p.drawPath(h1);
    QPainterPath h2;
    h2.moveTo(19.5, 15);
    h2.lineTo(22.5, 10);
    h2.lineTo(16, 11);
    h2.closeSubpath();
    p.drawPath(h2);
}

void Megaphone(QPainter& p, const QColor& c, bool on)
{
    QPainterPath horn;
    horn.moveTo(4, 10);
    horn.lineTo(9, 10);
    horn.lineTo(17, 5);
    horn.lineTo(17, 19);
    horn.lineTo(9, 14);
    horn.lineTo(4, 14);
    horn.closeSubpath();
    p.setPen(Stroke(c, 1.5));
    p.setBrush(on ? QBrush(c) : QBrush(Qt::NoBrush));
    p.drawPath(horn);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(7, 14), QPointF(8.5, 19.5));
    if (on) {
        p.drawArc(QRectF(16, 7, 6, 10), -60 * 16, 120 * 16);
    }
}

void Corners(QPainter& p, const QColor& c, bool outward)
{
    p.setPen(Stroke(c, 1.9));
    const qreal a = outward ? 4 : 9, b = outward ? 9 : 4;
    // each corner as two strokes meeting at the corner point
    const QPointF tl(4, 4), tr(20, 4), bl(4, 20), br(20, 20);
    if (outward) {
        p.drawPolyline(QPolygonF({QPointF(4, b), tl, QPointF(b, 4)}));
        p.drawPolyline(QPolygonF({QPointF(24 - b, 4), tr, QPointF(20, b)}));
        p.drawPolyline(QPolygonF({QPointF(4, 24 - b), bl, QPointF(b, 20)}));
        p.drawPolyline(QPolygonF({QPointF(24 - b, 20), br, QPointF(20, 24 - b)}));
    } else {
        p.drawPolyline(QPolygonF({QPointF(a, 4), QPointF(a, a), QPointF(4, a)}));
        p.drawPolyline(QPolygonF({QPointF(24 - a, 4), QPointF(24 - a, a), QPointF(20, a)}));
        p.drawPolyline(QPolygonF({QPointF(a, 20), QPointF(a, 24 - a), QPointF(4, 24 - a)}));
        p.drawPolyline(QPolygonF({QPointF(24 - a, 20), QPointF(24 - a, 24 - a), QPointF(20, 24 - a)}));
    }
}

void Expand(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.8));
    p.drawLine(QPointF(5, 19), QPointF(19, 5));
    p.drawPolyline(QPolygonF({QPointF(12, 5), QPointF(19, 5), QPointF(19, 12)}));
    p.drawPolyline(QPolygonF({QPointF(5, 12), QPointF(5, 19), QPointF(12, 19)}));
}

void RecDot(QPainter& p, const QColor& ring, const QColor& dot)
{
    p.setPen(Stroke(ring, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(12, 12), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(dot);
    p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
}

void RecTag(QPainter& p, const QColor& c, bool filled)
{
    p.setPen(Stroke(c, 1.5));
    p.setBrush(filled ? QBrush(c) : QBrush(Qt::NoBrush));
    p.drawRoundedRect(QRectF(1.5, 6, 21, 12), 2.5, 2.5);
    p.setPen(filled ? Qt::white : c);
    QFont f = UiFont(8, true);
    p.setFont(f);
    p.drawText(QRectF(1.5, 6, 21, 12), Qt::AlignCenter, QStringLiteral("REC"));
}

void StopSquare(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(6, 6, 12, 12), 2, 2);
}

void StopAll(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 3, 13, 13), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(8, 8, 13, 13), 2, 2);
}

void Pointer(QPainter& p, const QColor& c)
{
    QPainterPath a;
    a.moveTo(6, 3);
    a.lineTo(18, 14);
    a.lineTo(12.5, 14.5);
    a.lineTo(15.5, 20.5);
    a.lineTo(13, 21.5);
    a.lineTo(10, 15.5);
    a.lineTo(6, 19);
    a.closeSubpath();
    p.setPen(Stroke(c, 1.2));
    p.setBrush(c);
    p.drawPath(a);
}

void Move4(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.7));
    p.drawLine(QPointF(12, 3), QPointF(12, 21));
    p.drawLine(QPointF(3, 12), QPointF(21, 12));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(12, 12);
        p.rotate(90 * i);
        p.drawPolyline(QPolygonF({QPointF(-3.5, -5.5), QPointF(0, -9), QPointF(3.5, -5.5)}));
        p.restore();
    }
}

void Gear(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.save();
    p.translate(12, 12);
    for (int i = 0; i < 8; ++i) {
        p.drawRoundedRect(QRectF(-1.8, -9.5, 3.6, 5), 1, 1);
        p.rotate(45);
    }
    p.restore();
    p.drawEllipse(QPointF(12, 12), 6.5, 6.5);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawEllipse(QPointF(12, 12), 2.7, 2.7);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void Monitor(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 4, 19, 13), 1.5, 1.5);
    p.drawLine(QPointF(12, 4), QPointF(12, 17));
    p.drawLine(QPointF(2.5, 10.5), QPointF(21.5, 10.5));
    p.drawLine(QPointF(12, 17), QPointF(12, 20.5));
    p.drawLine(QPointF(8, 20.5), QPointF(16, 20.5));
}

void Streams(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 4.5, 13, 9), 1.5, 1.5);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(9.5, 11.5, 12, 8), 1.5, 1.5);
}

void PanelToggle(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 4, 18, 16), 2, 2);
    p.drawLine(QPointF(9, 4), QPointF(9, 20));
    p.drawPolyline(QPolygonF({QPointF(16, 9), QPointF(13, 12), QPointF(16, 15)}));
}

void Aperture(QPainter& p, const QColor& c, int sign)
{
    p.setPen(Stroke(c, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(10, 12), 7, 7);
    for (int i = 0; i < 6; ++i) {
        p.save();
        p.translate(10, 12);
        p.rotate(60 * i);
        p.drawLine(QPointF(0, -7), QPointF(3.5, -1.5));
        p.restore();
    }
    p.setPen(Stroke(c, 1.8));
    p.drawLine(QPointF(17.5, 5), QPointF(22.5, 5));
    if (sign > 0)
        p.drawLine(QPointF(20, 2.5), QPointF(20, 7.5));
}

void Focus(QPainter& p, const QColor& c, int sign)
{
    p.setPen(Stroke(c, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(3, 3), QPointF(8, 3)}));
    p.drawPolyline(QPolygonF({QPointF(12, 3), QPointF(17, 3), QPointF(17, 8)}));
    p.drawPolyline(QPolygonF({QPointF(3, 13), QPointF(3, 18), QPointF(8, 18)}));
    p.drawPolyline(QPolygonF({QPointF(17, 13), QPointF(17, 18), QPointF(12, 18)}));
    p.drawEllipse(QPointF(10, 10.5), 3, 3);
    p.setPen(Stroke(c, 1.8));
    p.drawLine(QPointF(17.5, 21), QPointF(22.5, 21));
    if (sign > 0)
        p.drawLine(QPointF(20, 18.5), QPointF(20, 23.5));
}

void PlusMinusCircle(QPainter& p, const QColor& c, int sign)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
    p.setPen(Stroke(Qt::white, 2.2));
    p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
    if (sign > 0)
        p.drawLine(QPointF(12, 7.5), QPointF(12, 16.5));
}

void Play(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
    QPainterPath tri;
    tri.moveTo(9.5, 7.5);
    tri.lineTo(17, 12);
    tri.lineTo(9.5, 16.5);
    tri.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(tri);
}

void Joystick(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(4, 15, 16, 5), 2, 2);
    p.drawLine(QPointF(12, 15), QPointF(12, 8));
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 6.5), 3.2, 3.2);
}

// --- the PNG faces carried by the program -------------------------------------------

struct Resource {
    std::string type;
    unsigned id;
    QByteArray bytes;
};

void AddPng(std::vector<Resource>& out, unsigned id, const QImage& img)
{
    out.push_back({"PNG", id, Encode(img, "PNG")});
}

QImage LayoutIcon(int panes, const QColor& c)
{
    auto cells = [](std::initializer_list<QRectF> l) { return std::vector<QRectF>(l); };
    return Icon(22, 22, [&](QPainter& p, const QColor& col) {
        switch (panes) {
        case 1: Grid(p, col, 1, 1); break;
        case 2: Grid(p, col, 2, 1); break;
        case 4: Grid(p, col, 2, 2); break;
        case 6:
            Grid(p, col, 0, 0, cells({{0, 0, 2.0 / 3, 2.0 / 3}, {2.0 / 3, 0, 1.0 / 3, 1.0 / 3}, {2.0 / 3, 1.0 / 3, 1.0 / 3, 1.0 / 3},
                                       {0, 2.0 / 3, 1.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 1.0 / 3, 1.0 / 3}, {2.0 / 3, 2.0 / 3, 1.0 / 3, 1.0 / 3}}));
            break;
        case 8:
            Grid(p, col, 0, 0, cells({{0, 0, 0.75, 0.75}, {0.75, 0, 0.25, 0.25}, {0.75, 0.25, 0.25, 0.25}, {0.75, 0.5, 0.25, 0.25},
                                       {0, 0.75, 0.25, 0.25}, {0.25, 0.75, 0.25, 0.25}, {0.5, 0.75, 0.25, 0.25}, {0.75, 0.75, 0.25, 0.25}}));
            break;
        case 9: Grid(p, col, 3, 3); break;
        case 10:
            Grid(p, col, 0, 0, cells({{0, 0, 0.5, 0.5}, {0.5, 0, 0.5, 0.5}, {0, 0.5, 0.25, 0.25}, {0.25, 0.5, 0.25, 0.25},
                                       {0.5, 0.5, 0.25, 0.25}, {0.75, 0.5, 0.25, 0.25}, {0, 0.75, 0.25, 0.25}, {0.25, 0.75, 0.25, 0.25},
                                       {0.5, 0.75, 0.25, 0.25}, {0.75, 0.75, 0.25, 0.25}}));
            break;
        case 13:
            Grid(p, col, 4, 4);
            p.setPen(Qt::NoPen);
            p.setBrush(col);
            p.drawRect(QRectF(3 + 4.5, 4 + 4, 9, 8));
            break;
        case 16: Grid(p, col, 4, 4); break;
        case 25: Grid(p, col, 5, 5); break;
        case 36: Grid(p, col, 6, 6); break;
        case 49: Grid(p, col, 7, 7); break;
        case 64: Grid(p, col, 8, 8); break;
        }
    }, c);
}

// PTZ direction pad buttons: a light round key with a dark arrow.
QImage PadKey(int size, qreal angle)
{
    QImage img = Canvas(size, size);
    QPainter p(&img);
    Begin(p);
    QRadialGradient g(size * 0.4, size * 0.35, size * 0.7);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, QColor(0xDD, 0xE3, 0xEB));
    p.setPen(QPen(QColor(0xA9, 0xB4, 0xC3), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    const qreal s = size / 24.0;
    p.scale(s, s);
    p.translate(12, 12);
    p.scale(0.62, 0.62);
    p.translate(-12, -12);
    Arrow(p, kSlate, angle);
    return img;
}

QImage AutoKey()
{
    const int size = 31;
    QImage img = Canvas(size, size);
    QPainter p(&img);
    Begin(p);
    QRadialGradient g(12, 10, 24);
    g.setColorAt(0, QColor(0x5B, 0x8D, 0xF5));
    g.setColorAt(1, kAccent);
    p.setPen(QPen(QColor(0x24, 0x57, 0xC4), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    p.translate(3.5, 3.5);
    Loop(p, Qt::white);
    return img;
}

std::vector<Resource> BuildResources()
{
    std::vector<Resource> r;
    const QColor on = kAccent;
    // Video tool bar (22 x 22), normal and active pictures.
    AddPng(r, 294, Icon(22, 22, Pointer, kSlate));
    AddPng(r, 293, Icon(22, 22, Move4, kSlate));
    AddPng(r, 292, Icon(22, 22, [](QPainter& p, const QColor& c) { Magnifier(p, c, 1); }, kSlate));
    AddPng(r, 295, Icon(22, 22, [](QPainter& p, const QColor& c) { Magnifier(p, c, -1); }, kSlate));
    {
        QImage sep = Canvas(7, 22);
        QPainter p(&sep);
        p.fillRect(QRect(3, 3, 1, 16), kLine);
        p.fillRect(QRect(4, 3, 1, 16), QColor(255, 255, 255, 200));
        p.end();
        AddPng(r, 343, sep);
    }
    AddPng(r, 188, Icon(22, 22, [](QPainter& p, const QColor& c) { Corners(p, c, true); }, kSlate));
    AddPng(r, 187, Icon(22, 22, Streams, kSlate));
    AddPng(r, 239, Icon(22, 22, Monitor, kSlate));
    AddPng(r, 175, Icon(22, 22, Camera, kSlate));
    AddPng(r, 1409, Icon(22, 22, PanelToggle, kSlate));
    AddPng(r, 177, Icon(22, 22, [](QPainter& p, const QColor& c) { Microphone(p, c, false); }, kSlate));
    AddPng(r, 211, Icon(22, 22, [](QPainter& p, const QColor& c) { Microphone(p, c, true); }, on, QColor(0x2F, 0x6F, 0xED, 40)));
    AddPng(r, 176, Icon(22, 22, [](QPainter& p, const QColor& c) { Speaker(p, c, false); }, kSlate));
    AddPng(r, 212, Icon(22, 22, [](QPainter& p, const QColor& c) { Speaker(p, c, true); }, on, QColor(0x2F, 0x6F, 0xED, 40)));
    AddPng(r, 967, Icon(22, 22, [](QPainter& p, const QColor& c) { Megaphone(p, c, false); }, kSlate));
    AddPng(r, 968, Icon(22, 22, [](QPainter& p, const QColor& c) { Megaphone(p, c, true); }, on, QColor(0x2F, 0x6F, 0xED, 40)));
    AddPng(r, 276, Icon(22, 22, [](QPainter& p, const QColor&) { RecDot(p, kSlate, QColor(0xC8, 0x5A, 0x5E)); }, kSlate));
    AddPng(r, 275, Icon(22, 22, [](QPainter& p, const QColor&) { RecDot(p, kRed, kRed); }, kRed, QColor(0xE0, 0x3E, 0x44, 40)));
    AddPng(r, 240, Icon(22, 22, Loop, kSlate));
    AddPng(r, 238, Icon(22, 22, Loop, on, QColor(0x2F, 0x6F, 0xED, 40)));
    AddPng(r, 230, Icon(22, 22, [](QPainter& p, const QColor& c) { Bell(p, c, false); }, kSlate));
    AddPng(r, 229, Icon(22, 22, [](QPainter& p, const QColor& c) { Bell(p, c, true); }, kAmber, QColor(0xF2, 0xA5, 0x1A, 50)));
    AddPng(r, 232, Icon(22, 22, Expand, kSlate));
    AddPng(r, 233, Icon(22, 22, Expand, on, QColor(0x2F, 0x6F, 0xED, 40)));
    AddPng(r, 280, Icon(22, 22, [](QPainter& p, const QColor& c) { Padlock(p, c, false); }, kSlate));
    AddPng(r, 279, Icon(22, 22, [](QPainter& p, const QColor& c) { Padlock(p, c, true); }, kOrange, QColor(0xF7, 0x71, 0x21, 45)));
    AddPng(r, 178, Icon(22, 22, StopSquare, kSlate));
    AddPng(r, 208, Icon(22, 22, StopAll, kSlate));
    AddPng(r, 331, Icon(22, 22, [](QPainter& p, const QColor& c) { RecTag(p, c, false); }, kSlate));
    AddPng(r, 330, Icon(22, 22, [](QPainter& p, const QColor& c) { RecTag(p, c, true); }, kRed));
    const std::pair<unsigned, int> layouts[] = {{179, 1}, {1408, 2}, {180, 4}, {181, 6}, {182, 8}, {183, 9}, {328, 10},
                                                {325, 13}, {184, 16}, {185, 25}, {186, 36}, {326, 49}, {327, 64}};
    for (const auto& [id, panes] : layouts)
        AddPng(r, id, LayoutIcon(panes, kSlate));

    // Caption buttons of the main window, on the dark header.
    AddPng(r, 150, Icon(26, 17, [](QPainter& p, const QColor& c) {
        p.setPen(Stroke(c, 2.0));
        p.drawLine(QPointF(7, 7), QPointF(17, 17));
        p.drawLine(QPointF(17, 7), QPointF(7, 17));
    }, kHeaderGlyph, QColor(255, 255, 255, 28)));
    AddPng(r, 151, Icon(26, 17, Gear, kHeaderGlyph, QColor(255, 255, 255, 28)));
    AddPng(r, 152, Icon(26, 17, [](QPainter& p, const QColor& c) {
        p.setPen(Stroke(c, 2.0));
        p.drawLine(QPointF(7, 16), QPointF(17, 16));
    }, kHeaderGlyph, QColor(255, 255, 255, 28)));
    AddPng(r, 368, Icon(26, 17, [](QPainter& p, const QColor& c) {
        p.setPen(Stroke(c, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(7, 7, 10, 10));
    }, kHeaderGlyph, QColor(255, 255, 255, 28)));

    // Captioned faces.
    AddPng(r, 131, CaptionFace(61, 22));
    AddPng(r, 155, CaptionFace(108, 23));
    AddPng(r, 156, CaptionFace(108, 23));
    AddPng(r, 189, CaptionFace(60, 24));
    AddPng(r, 190, CaptionFace(80, 28));
    AddPng(r, 329, CaptionFace(92, 23));
    for (unsigned id : {161u, 162u}) {
        QImage face = CaptionFace(219, 23, kAccent);
        QPainter p(&face);
        Begin(p);
        p.translate(6, 2.5);
        p.scale(18.0 / 24, 18.0 / 24);
        if (id == 161)
            Joystick(p, kSlate);
        else
            Bell(p, kSlate, false);
        p.end();
        AddPng(r, id, face);
    }
    AddPng(r, 172, Icon(22, 22, [](QPainter& p, const QColor& c) { Magnifier(p, c, 0); }, kSlate));

    // PTZ panel.
    AddPng(r, 160, PadKey(15, 0));
    AddPng(r, 159, PadKey(15, 90));
    AddPng(r, 157, PadKey(15, 180));
    AddPng(r, 158, PadKey(15, 270));
    AddPng(r, 350, PadKey(15, 45));
    AddPng(r, 352, PadKey(15, 135));
    AddPng(r, 351, PadKey(15, 225));
    AddPng(r, 348, PadKey(15, 315));
    AddPng(r, 353, AutoKey());
    const QColor lens(0xE8, 0xEC, 0xF2);
    AddPng(r, 166, Icon(22, 22, [](QPainter& p, const QColor& c) { Aperture(p, c, 1); }, kSlate, lens));
    AddPng(r, 167, Icon(22, 22, [](QPainter& p, const QColor& c) { Aperture(p, c, -1); }, kSlate, lens));
    AddPng(r, 170, Icon(22, 22, [](QPainter& p, const QColor& c) { Focus(p, c, 1); }, kSlate, lens));
    AddPng(r, 165, Icon(22, 22, [](QPainter& p, const QColor& c) { Focus(p, c, -1); }, kSlate, lens));
    AddPng(r, 168, Icon(22, 22, [](QPainter& p, const QColor& c) { Magnifier(p, c, 1); }, kSlate, lens));
    AddPng(r, 169, Icon(22, 22, [](QPainter& p, const QColor& c) { Magnifier(p, c, -1); }, kSlate, lens));
    AddPng(r, 174, Icon(23, 23, [](QPainter& p, const QColor& c) { PlusMinusCircle(p, c, 1); }, kGreen));
    AddPng(r, 171, Icon(23, 23, [](QPainter& p, const QColor& c) { PlusMinusCircle(p, c, -1); }, kRed));
    AddPng(r, 173, Icon(23, 23, Play, kAccent));

    // The program icon.
    {
        QImage icon = Canvas(32, 32);
        QPainter p(&icon);
        Begin(p);
        QLinearGradient g(0, 0, 0, 32);
        g.setColorAt(0, kNavy2);
        g.setColorAt(1, kNavy);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);
        p.setBrush(QColor(0x0E, 0x15, 0x20));
        p.drawEllipse(QPointF(16, 16), 10, 10);
        QRadialGradient lensG(13, 13, 9);
        lensG.setColorAt(0, QColor(0x7F, 0xA8, 0xFF));
        lensG.setColorAt(1, kAccent);
        p.setBrush(lensG);
        p.drawEllipse(QPointF(16, 16), 6, 6);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(QPointF(14, 14), 1.6, 1.6);
        p.setBrush(kOrange);
        p.drawEllipse(QPointF(25, 7), 2.2, 2.2);
        p.end();
        r.push_back({"ICON", 128, Encode(icon, "PNG")});
    }
    return r;
}

// The device state icons: fourteen 16 x 16 pictures side by side on magenta.
QImage DeviceStateStrip()
{
    QImage img(224, 16, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    // Antialiasing would blend the edges into the magenta key colour.
    p.setRenderHint(QPainter::Antialiasing, false);
    auto cam = [&](int index, const QColor& body, const QColor& reel1, const QColor& reel2) {
        p.save();
        p.translate(index * 16, 0);
        p.setPen(body.darker(140));
        p.setBrush(body);
        p.drawRect(1, 7, 10, 6);
        QPolygon lens({QPoint(11, 8), QPoint(14, 6), QPoint(14, 14), QPoint(11, 12)});
        p.drawPolygon(lens);
        p.setBrush(reel1);
        p.setPen(reel1.darker(130));
        p.drawEllipse(1, 1, 4, 4);
        p.setBrush(reel2);
        p.setPen(reel2.darker(130));
        p.drawEllipse(6, 1, 4, 4);
        p.restore();
    };
    auto recorder = [&](int index) {
        p.save();
        p.translate(index * 16, 0);
        p.setPen(QColor(0x2A, 0x36, 0x48));
        p.setBrush(QColor(0x46, 0x57, 0x6E));
        p.drawRect(1, 4, 13, 8);
        p.setPen(QColor(0x7F, 0xE0, 0x9F));
        p.drawPoint(3, 8);
        p.drawPoint(5, 8);
        p.setPen(QColor(0x9A, 0xA6, 0xB6));
        p.drawLine(8, 7, 12, 7);
        p.drawLine(8, 9, 12, 9);
        p.restore();
    };
    auto cross = [&](int index) {
        p.save();
        p.translate(index * 16, 0);
        p.setPen(QPen(QColor(0xE0, 0x20, 0x20), 2));
        p.drawLine(2, 2, 13, 13);
        p.drawLine(13, 2, 2, 13);
        p.restore();
    };
    const QColor grey(0x9A, 0xA3, 0xAE), blue(0x2F, 0x6F, 0xED), red(0xE0, 0x3E, 0x44), reelGrey(0xB8, 0xBF, 0xC8);
    recorder(0);
    // 1: group symbol (three small nodes)
    p.save();
    p.translate(16, 0);
    p.setPen(QColor(0xB7, 0x7B, 0x10));
    p.setBrush(kAmber);
    p.drawRect(1, 4, 14, 10);
    p.drawRect(1, 2, 6, 2);
    p.restore();
    cam(2, grey, reelGrey, reelGrey);
    cam(3, blue, reelGrey, reelGrey);
    cam(4, blue, red, reelGrey);
    cam(5, blue, reelGrey, red);
    cam(6, blue, red, red);
    cam(7, red, reelGrey, reelGrey);
    cam(8, red, red, reelGrey);
    cam(9, red, reelGrey, red);
    cam(10, red, red, red);
    // 11: yellow bell
    p.save();
    p.translate(11 * 16, 0);
    p.setPen(QColor(0xB7, 0x7B, 0x10));
    p.setBrush(QColor(0xFF, 0xD2, 0x3F));
    p.drawPolygon(QPolygon({QPoint(3, 12), QPoint(4, 5), QPoint(6, 2), QPoint(10, 2), QPoint(12, 5), QPoint(13, 12)}));
    p.drawRect(7, 13, 2, 2);
    p.restore();
    recorder(12);
    cross(12);
    cam(13, grey, reelGrey, reelGrey);
    cross(13);
    return img;
}

// --- files beside the program -----------------------------------------------------

QImage Background(int w, int h, const QColor& top, const QColor& bottom)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(img.rect(), g);
    return img;
}

QImage MainBackground()
{
    // 1024 x 768: the header takes 52/768 of the height, as the layout does.
    QImage img = Background(1024, 768, QColor(0xF3, 0xF5, 0xF8), QColor(0xEA, 0xEE, 0xF3));
    QPainter p(&img);
    Begin(p);
    QLinearGradient head(0, 0, 0, 52);
    head.setColorAt(0, kNavy2);
    head.setColorAt(1, kNavy);
    p.fillRect(QRect(0, 0, 1024, 52), head);
    p.fillRect(QRect(0, 52, 1024, 2), kAccent);
    // emblem and name, right of the tab strip (x 0 to 697 from y 17 down)
    const qreal lx = 716;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0E, 0x15, 0x20));
    p.drawEllipse(QPointF(lx + 26, 24), 13, 13);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(lx + 26, 24), 7, 7);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(lx + 24, 22), 2, 2);
    p.setPen(kHeaderGlyph);
    p.setFont(UiFont(17, true));
    p.drawText(QRectF(lx + 46, 8, 150, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
    // the left column
    p.fillRect(QRect(0, 54, 235, 714), QColor(0xE6, 0xEA, 0xF0));
    p.fillRect(QRect(235, 54, 1, 714), kLine);
    return img;
}

QImage PanelBackground(int w, int h)
{
    QImage img = Background(w, h, QColor(0xFA, 0xFB, 0xFC), QColor(0xEE, 0xF1, 0xF5));
    QPainter p(&img);
    p.setPen(kLine);
    p.drawRect(0, 0, w - 1, h - 1);
    return img;
}

QImage ToolbarBackground()
{
    QImage img = Background(1000, 42, QColor(0xFD, 0xFD, 0xFE), QColor(0xE9, 0xED, 0xF2));
    QPainter p(&img);
    p.fillRect(QRect(0, 41, 1000, 1), kLine);
    p.fillRect(QRect(0, 0, 1000, 1), Qt::white);
    return img;
}

QImage PtzBackground()
{
    QImage img = PanelBackground(225, 300);
    QPainter p(&img);
    Begin(p);
    // the direction pad around the eight keys and the auto key
    QRadialGradient g(64, 64, 52);
    g.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
    g.setColorAt(1, QColor(0xDF, 0xE5, 0xEC));
    p.setPen(QPen(QColor(0xBF, 0xC8, 0xD4), 1));
    p.setBrush(g);
    p.drawEllipse(QPointF(64.5, 64.5), 52, 52);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xD3, 0xDA, 0xE3), 1));
    p.drawEllipse(QPointF(64.5, 64.5), 24, 24);
    // the lens group
    p.setPen(QPen(QColor(0xC9, 0xD1, 0xDC), 1));
    p.setBrush(QColor(0xF8, 0xF9, 0xFB));
    p.drawRoundedRect(QRectF(132.5, 12.5, 74, 108), 6, 6);
    p.setPen(QPen(QColor(0xC9, 0xD1, 0xDC), 1));
    p.drawLine(QPointF(8, 132.5), QPointF(217, 132.5));
    return img;
}

// The tab strip pictures; all share the height 31 and the dark header behind.
QImage TabPicture(int index)
{
    const bool edge = index == 1 || index == 8 || index == 6 || index == 9;
    const bool face = index == 2 || index == 4;
    const int w = face ? 136 : 29, h = 31;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    Begin(p);
    QLinearGradient head(0, 0, 0, h);
    head.setColorAt(0, kNavy2);
    head.setColorAt(1, kNavy);
    p.fillRect(img.rect(), head);
    // Tab captions are black, or orange on the current tab: both faces are light.
    const QColor current(0xF3, 0xF5, 0xF8);
    const QColor other(0xC4, 0xCE, 0xDB);
    auto tabShape = [&](const QRectF& r, const QColor& fill, bool accent) {
        QPainterPath path;
        path.moveTo(r.left(), r.bottom() + 1);
        path.lineTo(r.left(), r.top() + 6);
        path.quadTo(r.left(), r.top(), r.left() + 6, r.top());
        path.lineTo(r.right() - 6, r.top());
        path.quadTo(r.right(), r.top(), r.right(), r.top() + 6);
        path.lineTo(r.right(), r.bottom() + 1);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        if (accent) {
            p.setBrush(fill);
        } else {
            QLinearGradient g(0, r.top(), 0, r.bottom());
            g.setColorAt(0, fill.lighter(108));
            g.setColorAt(1, fill.darker(104));
            p.setBrush(g);
        }
        p.drawPath(path);
        if (accent)
            p.fillRect(QRectF(r.left() + 5, r.top(), r.width() - 10, 2), kOrange);
    };
    if (face) {
        tabShape(QRectF(0, 4, w, h - 4), index == 2 ? current : other, index == 2);
    } else if (index == 3 || index == 7 || index == 1 || index == 9) {
        // a shoulder of the current tab that sits on this piece's side
        const bool currentOnLeft = index == 3 || index == 9;
        QPainterPath shoulder;
        if (currentOnLeft) {
            shoulder.moveTo(0, 10);
            shoulder.quadTo(0, h, 12, h);
            shoulder.lineTo(0, h);
        } else {
            shoulder.moveTo(w, 10);
            shoulder.quadTo(w, h, w - 12, h);
            shoulder.lineTo(w, h);
        }
        shoulder.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(current);
        p.drawPath(shoulder);
    }
    if (!face && !edge) {
        // a separator between two tabs: a faint divider
        p.fillRect(QRectF(w / 2.0, 10, 1, 15), kNavyLine);
    }
    // the base line under the strip
    p.fillRect(QRectF(0, h - 1, w, 1), index == 2 ? current : kNavyLine);
    return img;
}

// The slider bar: column 0 the background beside the channel, column 13 the
// channel, columns 23 to 31 the thumb; every column as high as the picture.
QImage SliderBar()
{
    const int w = 40, h = 18;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(0xF6, 0xF6, 0xF6));
    QPainter p(&img);
    // the channel columns 1..22: a rounded groove seen in cross-section
    for (int x = 1; x < 23; ++x) {
        p.fillRect(QRect(x, 6, 1, 6), QColor(0xC6, 0xCE, 0xD9));
        p.fillRect(QRect(x, 7, 1, 4), QColor(0x9D, 0xAB, 0xBE));
        p.fillRect(QRect(x, 12, 1, 1), QColor(0xFF, 0xFF, 0xFF));
    }
    // the thumb, 9 columns wide
    Begin(p);
    p.setPen(QPen(QColor(0x1F, 0x55, 0xC7), 1));
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0x6E, 0x9B, 0xF6));
    g.setColorAt(1, kAccent);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(23.5, 1.5, 8, h - 3), 2.5, 2.5);
    p.setPen(QColor(255, 255, 255, 170));
    p.drawLine(QPointF(27.5, 6), QPointF(27.5, h - 6));
    return img;
}

struct Language {
    const char* loginFile;  // nullptr: none for this language
    const char* splashFile;
    QString subtitle;
};

QImage LoginPicture(const QString& subtitle, bool verify)
{
    // The login dialog is 235 x 127 dialog units; its controls start 43 units
    // down. The verify dialog centres its fields, so its band is lower.
    const int w = 360, h = 210;
    const int band = verify ? 44 : 62;
    QImage img = Background(w, h, QColor(0xFB, 0xFC, 0xFD), QColor(0xEC, 0xF0, 0xF5));
    QPainter p(&img);
    Begin(p);
    QLinearGradient head(0, 0, w, 0);
    head.setColorAt(0, kNavy);
    head.setColorAt(1, kNavy2);
    p.fillRect(QRect(0, 0, w, band), head);
    p.fillRect(QRect(0, band, w, 2), verify ? kOrange : kAccent);
    const double r = verify ? 13 : 17;
    const QPointF c(verify ? 24 : 32, band / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0E, 0x15, 0x20));
    p.drawEllipse(c, r, r);
    p.setBrush(verify ? kOrange : kAccent);
    p.drawEllipse(c, r * 0.53, r * 0.53);
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawEllipse(c - QPointF(2.5, 2.5), 2.5, 2.5);
    p.setPen(Qt::white);
    if (verify) {
        p.setFont(UiFont(15, true));
        p.drawText(QRectF(46, 0, 110, band), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
        p.setPen(QColor(0xB9, 0xC6, 0xD8));
        p.setFont(UiFont(11));
        p.drawText(QRectF(150, 0, w - 160, band), Qt::AlignRight | Qt::AlignVCenter, subtitle);
        return img;
    }
    p.setFont(UiFont(20, true));
    p.drawText(QRectF(60, 8, w - 70, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
    p.setPen(QColor(0xB9, 0xC6, 0xD8));
    p.setFont(UiFont(12));
    p.drawText(QRectF(60, 34, w - 70, 20), Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    return img;
}

QImage SplashPicture(const QString& subtitle)
{
    const int w = 1280, h = 720;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    Begin(p);
    QRadialGradient g(w * 0.62, h * 0.45, w * 0.7);
    g.setColorAt(0, QColor(0x2C, 0x3E, 0x5C));
    g.setColorAt(1, QColor(0x10, 0x17, 0x24));
    p.fillRect(img.rect(), g);
    // faint grid of camera tiles
    p.setPen(QPen(QColor(255, 255, 255, 14), 1));
    for (int x = 0; x < w; x += 80)
        p.drawLine(x, 0, x, h);
    for (int y = 0; y < h; y += 80)
        p.drawLine(0, y, w, y);
    // the lens emblem
    const QPointF c(w / 2.0, h * 0.42);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x07, 0x0B, 0x12));
    p.drawEllipse(c, 92, 92);
    p.setBrush(QColor(0x22, 0x30, 0x46));
    p.drawEllipse(c, 72, 72);
    QRadialGradient lens(c - QPointF(14, 14), 60);
    lens.setColorAt(0, QColor(0x8F, 0xB4, 0xFF));
    lens.setColorAt(1, kAccent);
    p.setBrush(lens);
    p.drawEllipse(c, 44, 44);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(c - QPointF(16, 16), 9, 9);
    p.setBrush(kOrange);
    p.drawEllipse(c + QPointF(88, -76), 9, 9);
    p.setPen(Qt::white);
    p.setFont(UiFont(64, true));
    p.drawText(QRectF(0, h * 0.42 + 110, w, 80), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Corvane"));
    p.setPen(QColor(0xB9, 0xC6, 0xD8));
    p.setFont(UiFont(26));
    p.drawText(QRectF(0, h * 0.42 + 190, w, 40), Qt::AlignHCenter | Qt::AlignVCenter, subtitle);
    return img;
}

QImage MapMarker(int kind)
{
    // 28 x 28, drawn centred on the marker's point.
    QImage img = Canvas(28, 28);
    QPainter p(&img);
    Begin(p);
    if (kind == 0) { // hot spot to a sub-map
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(14, 14), 10, 10);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(14, 14), 3.5, 3.5);
        return img;
    }
    const QColor fill = kind == 1 ? kNavy2 : kRed;
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1, 1, 26, 26), 7, 7);
    p.translate(2, 2);
    Camera(p, Qt::white);
    return img;
}

QImage CursorPicture(int kind)
{
    QImage img = Canvas(32, 32);
    QPainter p(&img);
    Begin(p);
    const QPen outline(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (kind == 0) { // arrow
        QPainterPath a;
        a.moveTo(1, 1);
        a.lineTo(1, 20);
        a.lineTo(5.5, 15.5);
        a.lineTo(9, 23);
        a.lineTo(12, 21.5);
        a.lineTo(8.5, 14.5);
        a.lineTo(14.5, 14.5);
        a.closeSubpath();
        p.setPen(QPen(Qt::white, 1.2));
        p.setBrush(Qt::black);
        p.drawPath(a);
        return img;
    }
    if (kind == 1 || kind == 2) { // magnifier, plus or minus
        for (int pass = 0; pass < 2; ++pass) {
            p.setPen(pass == 0 ? outline : Stroke(Qt::black, 1.8));
            p.setBrush(pass == 0 ? QBrush(QColor(255, 255, 255, 150)) : QBrush(Qt::NoBrush));
            p.drawEllipse(QPointF(12, 12), 9, 9);
            p.drawLine(QPointF(18.5, 18.5), QPointF(28, 28));
            p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
            if (kind == 1)
                p.drawLine(QPointF(12, 7.5), QPointF(12, 16.5));
        }
        return img;
    }
    // open hand for panning
    for (int pass = 0; pass < 2; ++pass) {
        p.setPen(pass == 0 ? outline : Stroke(Qt::black, 1.4));
        p.setBrush(pass == 0 ? QBrush(Qt::white) : QBrush(Qt::white));
        QPainterPath hand;
        hand.addRoundedRect(QRectF(8, 13, 16, 14), 6, 6);
        for (int i = 0; i < 4; ++i)
            hand.addRoundedRect(QRectF(8.5 + i * 4, 5 + (i == 0 || i == 3 ? 3 : 0), 3.5, 12), 1.75, 1.75);
        hand.addRoundedRect(QRectF(3, 15, 8, 3.5), 1.75, 1.75);
        p.drawPath(hand.simplified());
    }
    return img;
}

QString CppByteArray(const QByteArray& bytes)
{
    QString s;
    s.reserve(bytes.size() * 6);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i % 20 == 0)
            s += QStringLiteral("\n    ");
        s += QStringLiteral("0x%1,").arg(static_cast<unsigned char>(bytes[i]), 2, 16, QLatin1Char('0'));
    }
    return s;
}

QByteArray ResourceTableCpp(const std::vector<Resource>& resources)
{
    QString out;
    out += QStringLiteral("// Generated by the skin generator (res/tools/skingen.cpp); do not edit.\n"
                          "#include \"res/resources.h\"\n\n"
                          "namespace qelm::res::detail {\n\n"
                          "namespace {\n");
    for (const Resource& r : resources)
        out += QStringLiteral("const unsigned char k%1_%2[] = {%3\n};\n")
                   .arg(QString::fromStdString(r.type)).arg(r.id).arg(CppByteArray(r.bytes));
    out += QStringLiteral("} // namespace\n\nextern const ResourceEntry kResources[] = {\n");
    for (const Resource& r : resources)
        out += QStringLiteral("    {\"%1\", %2u, {k%1_%2, sizeof(k%1_%2)}},\n").arg(QString::fromStdString(r.type)).arg(r.id);
    out += QStringLiteral("};\nextern const std::size_t kResourceCount = sizeof(kResources) / sizeof(kResources[0]);\n\n"
                          "} // namespace qelm::res::detail\n");
    return out.toUtf8();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output folder> <resources.cpp>\n", argv[0]);
        return 2;
    }
    // Fonts need a GUI application; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString images = outDir + QStringLiteral("/Images/");
    const QString mapData = outDir + QStringLiteral("/MapData/");
    QDir().mkpath(images);
    QDir().mkpath(mapData);

    WriteBytes(images + "Maindlgbk.png", Encode(MainBackground(), "PNG"));
    WriteBytes(images + "Pagebk.jpg", Encode(Background(800, 600, QColor(0xF8, 0xF8, 0xF8), QColor(0xF3, 0xF3, 0xF4)), "JPG", 92));
    WriteBytes(images + "Pagebk.png", Encode(ToolbarBackground().scaled(800, 38), "PNG"));
    WriteBytes(images + "DevlistBk.png", Encode(PanelBackground(219, 520), "PNG"));
    WriteBytes(images + "VideoTablebk.png", Encode(ToolbarBackground(), "PNG"));
    WriteBytes(images + "Ptzbk.png", Encode(PtzBackground(), "PNG"));
    for (int i = 1; i <= 9; ++i)
        WriteBytes(images + QStringLiteral("tab%1.png").arg(i), Encode(TabPicture(i), "PNG"));
    WriteBytes(images + "bar.bmp", Bmp24(SliderBar()));

    const Language languages[] = {
        {"Login_ch.jpg", "Splash.png", QStringLiteral("网络视频监控系统")},
        {"Login_en.jpg", "Splash_en.png", QStringLiteral("Network Video Surveillance")},
        {"Login_tc.jpg", "Splash_tc.png", QStringLiteral("網路視訊監控系統")},
        {"Login_rus.jpg", "Splash_rs.png", QStringLiteral("Сетевое видеонаблюдение")},
        {nullptr, "Splash_hb.png", QStringLiteral("מערכת מעקב וידאו ברשת")},
        {"Login_tk.jpg", "Splash_tk.png", QStringLiteral("Ağ Video Gözetimi")},
        {nullptr, "Splash_cz.png", QStringLiteral("Síťový videodohled")},
    };
    for (const Language& l : languages) {
        if (l.loginFile)
            WriteBytes(images + l.loginFile, Encode(LoginPicture(l.subtitle, false), "JPG", 92));
        WriteBytes(images + l.splashFile, Encode(SplashPicture(l.subtitle), "PNG"));
    }
    WriteBytes(images + "LoginOut.jpg", Encode(LoginPicture(QStringLiteral("Identity check · 身份验证"), true), "JPG", 92));

    WriteBytes(images + "aero_arrow.cur", Cursor(CursorPicture(0), 1, 1));
    WriteBytes(images + "big.cur", Cursor(CursorPicture(1), 12, 12));
    WriteBytes(images + "small.cur", Cursor(CursorPicture(2), 12, 12));
    WriteBytes(images + "hand.cur", Cursor(CursorPicture(3), 16, 16));

    WriteBytes(mapData + "Point.png", Encode(MapMarker(0), "PNG"));
    WriteBytes(mapData + "camera.png", Encode(MapMarker(1), "PNG"));
    WriteBytes(mapData + "camera_alarm.png", Encode(MapMarker(2), "PNG"));

    std::vector<Resource> resources = BuildResources();
    resources.push_back({"BITMAP", 143, Bmp24(DeviceStateStrip())});
    WriteBytes(QString::fromLocal8Bit(argv[2]), ResourceTableCpp(resources));
    return g_failures == 0 ? 0 : 1;
}
