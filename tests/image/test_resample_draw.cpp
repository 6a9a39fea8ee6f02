// Tests of resampling (nearest pixel vectors, the other modes on known
// pictures) and of drawing: lines, text, stretch blits through a painter and
// images made from a QImage.
#include "ui/image/ximage.h"

#include "platform/fonts.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

RGBQUAD Quad(int r, int g, int b, int a = 0)
{
    return RGBQUAD{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), static_cast<BYTE>(a)};
}

// A picture whose column x (all rows) has palette index / grey x * 10.
CxImage Columns(DWORD w, DWORD h, DWORD bpp)
{
    CxImage img;
    img.Create(w, h, bpp);
    img.SetGrayPalette();
    for (long y = 0; y < static_cast<long>(h); ++y)
        for (long x = 0; x < static_cast<long>(w); ++x) {
            const int v = static_cast<int>(x) * 10 + static_cast<int>(y);
            img.SetPixelColor(x, y, Quad(v, v, v));
        }
    return img;
}

TEST(Resample, NearestPixelVectors)
{
    // 10 x 10 to 40 x 10: every column four times, rows one to one.
    CxImage img = Columns(10, 10, 8);
    ASSERT_TRUE(img.Resample(40, 10, 1, nullptr));
    EXPECT_EQ(img.GetWidth(), 40u);
    for (long x = 0; x < 40; ++x)
        for (long y = 0; y < 10; ++y)
            ASSERT_EQ(img.GetPixelIndex(x, y), (x / 4) * 10 + y) << x << "," << y;

    // 3 x 1 to 2 x 1 takes columns 0 and 1 (1 x 1.5 truncates to 1).
    CxImage three = Columns(3, 1, 24);
    ASSERT_TRUE(three.Resample(2, 1, 1, nullptr));
    EXPECT_EQ(three.GetPixelColor(0, 0).rgbRed, 0);
    EXPECT_EQ(three.GetPixelColor(1, 0).rgbRed, 10);

    // 120 times wider, as the time bar stretches its rows.
    CxImage bar = Columns(3, 2, 8);
    ASSERT_TRUE(bar.Resample(360, 2, 1, nullptr));
    EXPECT_EQ(bar.GetPixelIndex(119, 1), 1);
    EXPECT_EQ(bar.GetPixelIndex(120, 1), 11);
    EXPECT_EQ(bar.GetPixelIndex(359, 0), 20);

    // Shrinking rows: row y takes source row (long)(y * 2.5).
    CxImage tall = Columns(2, 5, 8);
    ASSERT_TRUE(tall.Resample(2, 2, 1, nullptr));
    EXPECT_EQ(tall.GetPixelIndex(1, 1), 12);
}

TEST(Resample, IndexedGoesThroughColour)
{
    // Indices 1 and 3 share a colour: the lower index wins.
    CxImage img;
    img.Create(2, 1, 4);
    img.SetPaletteColor(1, RGB(9, 9, 9));
    img.SetPaletteColor(3, RGB(9, 9, 9));
    img.SetPixelIndex(0, 0, 3);
    img.SetPixelIndex(1, 0, 1);
    ASSERT_TRUE(img.Resample(4, 1, 1, nullptr));
    for (long x = 0; x < 4; ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 0), 1);
}

TEST(Resample, SameSizeAndZero)
{
    CxImage img = Columns(5, 4, 24);
    const DWORD size = img.GetSize();
    CxImage d;
    ASSERT_TRUE(img.Resample(5, 4, 1, &d));
    EXPECT_NE(d.GetDIB(), img.GetDIB());
    EXPECT_EQ(std::memcmp(d.GetDIB(), img.GetDIB(), size), 0);
    EXPECT_TRUE(img.IsValid());
    EXPECT_FALSE(img.Resample(0, 5, 1, nullptr));
    EXPECT_FALSE(img.Resample(5, 0, 3, nullptr));
    EXPECT_EQ(img.GetWidth(), 5u);

    // A failed creation copies its text and leaves the image unchanged.
    EXPECT_FALSE(img.Resample(100000, 100000, 1, nullptr));
    EXPECT_STREQ(img.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(img.GetWidth(), 5u);
}

TEST(Resample, AlphaFollowsEveryMode)
{
    for (int mode : {1, 2, 3}) {
        CxImage img = Columns(4, 2, 24);
        img.CreateAlpha();
        for (long x = 0; x < 4; ++x) {
            img.SetAlpha(x, 0, static_cast<BYTE>(x * 60));
            img.SetAlpha(x, 1, static_cast<BYTE>(x * 60));
        }
        CxImage d;
        ASSERT_TRUE(img.Resample(8, 4, mode, &d));
        ASSERT_TRUE(d.HasAlpha()) << mode;
        EXPECT_LE(d.GetAlpha(0, 0), 2) << mode; // the B-spline does not interpolate exactly
        if (mode == 1) {
            EXPECT_EQ(d.GetAlpha(7, 3), 180);
            EXPECT_EQ(d.GetAlpha(3, 2), 60);
        } else {
            EXPECT_GT(d.GetAlpha(7, 3), 100) << mode;
        }
    }
}

TEST(Resample, SmoothModesOnFlatAndRampPictures)
{
    // A flat picture stays flat in every mode and depth.
    for (int mode : {2, 3}) {
        for (DWORD bpp : {8u, 24u}) {
            for (auto [nw, nh] : {std::pair{13L, 7L}, std::pair{3L, 2L}, std::pair{20L, 2L}}) {
                CxImage img;
                img.Create(8, 5, bpp);
                img.SetGrayPalette();
                for (long y = 0; y < 5; ++y)
                    for (long x = 0; x < 8; ++x)
                        img.SetPixelColor(x, y, Quad(120, 120, 120));
                ASSERT_TRUE(img.Resample(nw, nh, mode, nullptr));
                for (long y = 0; y < nh; ++y)
                    for (long x = 0; x < nw; ++x) {
                        const RGBQUAD c = img.GetPixelColor(x, y, false);
                        ASSERT_NEAR(c.rgbRed, 120, 1) << mode << " " << bpp << " " << x << "," << y;
                    }
            }
        }
    }
    // Bilinear doubling of a ramp: halfway pixels take the mean of their neighbours.
    CxImage ramp = Columns(4, 1, 24);
    ASSERT_TRUE(ramp.Resample(8, 1, 3, nullptr));
    EXPECT_EQ(ramp.GetPixelColor(2, 0).rgbRed, 10);
    EXPECT_EQ(ramp.GetPixelColor(3, 0).rgbRed, 15);
    EXPECT_EQ(ramp.GetPixelColor(7, 0).rgbRed, 30); // the last column is repeated
    // Box average: 4 x 2 to 2 x 1 averages each 2 x 2 block.
    CxImage box = Columns(4, 2, 24);
    ASSERT_TRUE(box.Resample(2, 1, 0, nullptr));
    EXPECT_NEAR(box.GetPixelColor(0, 0).rgbRed, 5, 1);  // (0 + 1 + 10 + 11) / 4
    EXPECT_NEAR(box.GetPixelColor(1, 0).rgbRed, 25, 1); // (20 + 21 + 30 + 31) / 4
    // Bicubic B-spline smooths a step symmetrically.
    CxImage step;
    step.Create(4, 1, 24);
    for (long x = 0; x < 4; ++x)
        step.SetPixelColor(x, 0, x < 2 ? Quad(0, 0, 0) : Quad(200, 200, 200));
    ASSERT_TRUE(step.Resample(8, 1, 2, nullptr));
    EXPECT_LT(step.GetPixelColor(0, 0).rgbRed, 10);
    EXPECT_GT(step.GetPixelColor(7, 0).rgbRed, 190);
    EXPECT_GT(step.GetPixelColor(4, 0).rgbRed, step.GetPixelColor(3, 0).rgbRed);
}

TEST(Resample, EscapeStopsButStillTransfers)
{
    CxImage img = Columns(4, 4, 24);
    img.SetEscape(1);
    ASSERT_TRUE(img.Resample(8, 8, 1, nullptr));
    EXPECT_EQ(img.GetWidth(), 8u);
}

TEST(DrawLine, RowsCountFromTheTopAsOne)
{
    const RGBQUAD c = Quad(255, 0, 0);
    CxImage img;
    img.Create(12, 8, 24);
    img.DrawLine(0, 9, 1, 1, c, false);
    for (long x = 0; x < 12; ++x)
        EXPECT_EQ(img.GetPixelColor(x, 7).rgbRed, x <= 9 ? 255 : 0) << x;

    CxImage above;
    above.Create(12, 8, 24);
    above.DrawLine(0, 9, 0, 0, c, false);
    for (long x = 0; x < 12; ++x)
        for (long y = 0; y < 8; ++y)
            ASSERT_EQ(above.GetPixelColor(x, y).rgbRed, 0);

    CxImage column;
    column.Create(12, 8, 24);
    column.DrawLine(5, 5, 1, 4, c, false);
    for (long y = 0; y < 8; ++y)
        EXPECT_EQ(column.GetPixelColor(5, y).rgbRed, y >= 4 ? 255 : 0) << y;
}

TEST(DrawLine, DiagonalsAndEndpoints)
{
    CxImage img;
    img.Create(10, 10, 8);
    img.SetPaletteColor(1, RGB(1, 1, 1));
    // From (0, top) to (9, bottom): the main diagonal, both ends included.
    img.DrawLineColorRef(0, 9, 1, 10, RGB(1, 1, 1));
    for (long i = 0; i < 10; ++i)
        EXPECT_EQ(img.GetPixelIndex(i, 9 - i), 1) << i;
    // A shallow line: 5 pixels across 2 rows, error starting at half the run.
    CxImage shallow;
    shallow.Create(10, 10, 8);
    shallow.SetPaletteColor(1, RGB(1, 1, 1));
    shallow.DrawLineColorRef(0, 4, 1, 2, RGB(1, 1, 1));
    int set = 0;
    for (long x = 0; x < 10; ++x)
        for (long y = 0; y < 10; ++y)
            set += shallow.GetPixelIndex(x, y);
    EXPECT_EQ(set, 5);
    EXPECT_EQ(shallow.GetPixelIndex(0, 9), 1);
    EXPECT_EQ(shallow.GetPixelIndex(4, 8), 1);
}

TEST(DrawLine, HugeCoordinatesCostOneImageSide)
{
    CxImage img;
    img.Create(16, 4, 8);
    img.SetPaletteColor(1, RGB(1, 1, 1));
    img.DrawLineColorRef(-4000000000000L, 4000000000000L, 2, 2, RGB(1, 1, 1));
    for (long x = 0; x < 16; ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 2), 1);
    img.DrawLineColorRef(LONG_MIN / 2, LONG_MAX / 2, LONG_MIN / 2, LONG_MAX / 2, RGB(1, 1, 1));
    CxImage none;
    none.DrawLineColorRef(0, 5, 0, 5, RGB(1, 1, 1)); // invalid image: nothing
}

// The skin's Windows faces are asked for as their metric twins, whatever
// face fontconfig gives for the Windows name (DrawString.UnderAnotherArial
// runs this under a fontconfig that maps "Arial" elsewhere).
TEST(SkinFonts, WindowsFacesResolveToTheirMetricTwins)
{
    struct Case {
        const char* face;
        const char* twin; // nullptr: asked for as named
    } cases[] = {
        {"Arial", "Liberation Sans"},
        {"arial", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
        {"SimSun", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.face);
        const QString face = QString::fromLatin1(c.face);
        const QStringList families = qelm::SkinFontFamilies(face);
        if (!c.twin) {
            EXPECT_EQ(families, QStringList{face});
            continue;
        }
        ASSERT_EQ(families, (QStringList{QString::fromLatin1(c.twin), face}))
            << "the twin is installed by scripts/install-deps.sh";
        QFont f;
        qelm::SetSkinFontFace(f, face);
        f.setPixelSize(16);
        EXPECT_EQ(QFontInfo(f).family(), QString::fromLatin1(c.twin));
    }
    if (std::getenv("QELM2_ARIAL_ELSEWHERE")) {
        QFont plain(QStringLiteral("Arial"));
        EXPECT_NE(QFontInfo(plain).family(), QStringLiteral("Liberation Sans")) << "the fixture took no effect";
    }
}

TEST(DrawString, TopRowAtYAndClipped)
{
    const RGBQUAD c = Quad(0, 0, 255);
    CxImage img;
    img.Create(60, 30, 24);
    ASSERT_EQ(img.DrawString(nullptr, 2, 0, "HH", c, "Arial", -16, 700), 1);
    // Ink reaches the top row band and starts at or after x = 2.
    long top = -1, left = 1000, inked = 0;
    for (long y = 0; y < 30; ++y)
        for (long x = 0; x < 60; ++x)
            if (img.GetPixelColor(x, 29 - y).rgbBlue == 255) {
                ++inked;
                if (top < 0)
                    top = y;
                left = std::min(left, x);
            }
    EXPECT_GT(inked, 20);
    EXPECT_GE(top, 0);
    EXPECT_LT(top, 6);
    EXPECT_GE(left, 2);
    // Only the full colour is used.
    for (long y = 0; y < 30; ++y)
        for (long x = 0; x < 60; ++x) {
            const RGBQUAD p = img.GetPixelColor(x, y);
            ASSERT_TRUE(p.rgbBlue == 0 || p.rgbBlue == 255);
        }

    // Running past the right and bottom edges is cut, not wrapped.
    CxImage small;
    small.Create(8, 6, 8);
    small.SetPaletteColor(1, RGB(255, 0, 0));
    EXPECT_EQ(small.DrawString(nullptr, 3, 2, "WWWW", Quad(255, 0, 0), "Arial", -20, 400), 1);
    long leftInk = 0;
    for (long y = 0; y < 6; ++y)
        for (long x = 0; x < 3; ++x)
            leftInk += small.GetPixelIndex(x, y);
    EXPECT_EQ(leftInk, 0);
    for (long x = 0; x < 8; ++x)
        EXPECT_EQ(small.GetPixelIndex(x, 5 - 0) + small.GetPixelIndex(x, 5 - 1), 0); // rows above y = 2

    CxImage none;
    EXPECT_EQ(none.DrawString(nullptr, 0, 0, "x", c, "Arial"), 1);
    EXPECT_EQ(img.DrawString(nullptr, 0, 0, "", c, "Arial"), 1);
}

TEST(Stretch, WholeImageAtTwiceTheSize)
{
    // 100 x 20, every column and every row a different colour.
    CxImage img;
    img.Create(100, 20, 24);
    for (long y = 0; y < 20; ++y)
        for (long x = 0; x < 100; ++x)
            img.SetPixelColor(x, 19 - y, Quad(static_cast<int>(x), static_cast<int>(y * 10), 7));
    QImage target(220, 60, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter p(&target);
        EXPECT_EQ(img.Stretch(p, 10, 5, 200, 40), 1);
    }
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 20; ++y) {
            const QRgb c = target.pixel(10 + 2 * x + 1, 5 + 2 * y + 1);
            ASSERT_EQ(qRed(c), x) << x << "," << y;
            ASSERT_EQ(qGreen(c), y * 10) << x << "," << y;
        }
    EXPECT_EQ(target.pixel(9, 5), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(210, 45), qRgb(255, 255, 255));

    QPainter idle;
    EXPECT_EQ(img.Stretch(idle, 0, 0, 10, 10), 0);
    CxImage none;
    QPainter p2(&target);
    EXPECT_EQ(none.Stretch(p2, 0, 0, 10, 10), 0);
}

TEST(Stretch, PartsAndIndexedDepths)
{
    for (DWORD bpp : {1u, 4u, 8u}) {
        CxImage img;
        img.Create(6, 4, bpp);
        img.SetPaletteColor(0, RGB(0, 0, 0));
        img.SetPaletteColor(1, RGB(255, 0, 0));
        for (long y = 0; y < 4; ++y)
            img.SetPixelIndex(3, y, 1); // a red column at x 3
        img.SetPixelIndex(0, 0, 1);     // and the bottom-left pixel
        QImage target(6, 4, QImage::Format_RGB32);
        target.fill(Qt::white);
        {
            QPainter p(&target);
            // The left half of the picture, rows from the bottom (srcY 0), at 1:1.
            EXPECT_EQ(img.StretchPart(p, 0, 0, 3, 4, 0, 0, 3, 4), 1);
            // The column alone, widened to 2 pixels at x 4.
            EXPECT_EQ(img.StretchPart(p, 4, 0, 2, 4, 3, 0, 1, 4), 1);
        }
        EXPECT_EQ(target.pixel(0, 3), qRgb(255, 0, 0)) << bpp; // bottom-left
        EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 0)) << bpp;
        EXPECT_EQ(target.pixel(3, 0), qRgb(255, 255, 255)) << bpp;
        EXPECT_EQ(target.pixel(4, 1), qRgb(255, 0, 0)) << bpp;
        EXPECT_EQ(target.pixel(5, 2), qRgb(255, 0, 0)) << bpp;
    }
}

TEST(FromBitmap, ReadsQImages)
{
    QImage src(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            src.setPixel(x, y, qRgb(x * 40, y * 50, 9));
    CxImage img;
    ASSERT_TRUE(img.CreateFromHBITMAP(src));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_FALSE(img.HasAlpha());
    const RGBQUAD c = img.GetPixelColor(4, 0); // bottom row = src row 2
    EXPECT_EQ(c.rgbRed, 160);
    EXPECT_EQ(c.rgbGreen, 100);

    QImage argb(2, 2, QImage::Format_ARGB32);
    argb.fill(qRgba(10, 20, 30, 0));
    EXPECT_FALSE(CxImage::HBitmapHasAlpha(argb));
    argb.setPixel(1, 0, qRgba(10, 20, 30, 128));
    EXPECT_TRUE(CxImage::HBitmapHasAlpha(argb));
    EXPECT_FALSE(CxImage::HBitmapHasAlpha(src));
    ASSERT_TRUE(img.CreateFromHBITMAP(argb, true));
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_EQ(img.GetAlpha(1, 1), 128);
    EXPECT_EQ(img.GetPixelColor(1, 1, false).rgbRed, 10);

    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
    indexed.fill(1);
    indexed.setPixel(0, 0, 0);
    ASSERT_TRUE(img.CreateFromHBITMAP(indexed));
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 0);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 1);
    EXPECT_EQ(img.GetPixelColor(2, 0).rgbRed, 4);

    EXPECT_FALSE(img.CreateFromHBITMAP(QImage()));
    EXPECT_FALSE(img.IsValid());
}

} // namespace
