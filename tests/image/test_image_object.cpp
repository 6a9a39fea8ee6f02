// Tests of the image object: creation limits and depth rounding, palette and
// transparency rules, pixel access in and outside the image, crop, depth
// increase, copies and the alpha plane.
#include "ui/image/ximage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

RGBQUAD Quad(int r, int g, int b, int a = 0)
{
    return RGBQUAD{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), static_cast<BYTE>(a)};
}

bool Same(RGBQUAD a, RGBQUAD b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(ImageCreate, SizeChecksAndTexts)
{
    CxImage img;
    EXPECT_EQ(img.Create(0, 10, 8, 2), nullptr);
    EXPECT_STREQ(img.LastErrorText(), "CxImage::Create : width and height must be greater than zero");
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.Create(10, 0, 8, 2), nullptr);

    // Exactly 268,435,456 bytes passes the size check.
    CxImage big;
    EXPECT_NE(big.Create(16384, 16384, 8, 0), nullptr) << big.LastErrorText();
    EXPECT_EQ(big.GetHeader().biSizeImage, 268435456u);
    big.Destroy();
    EXPECT_EQ(big.Create(16385, 16384, 8, 0), nullptr);
    EXPECT_STREQ(big.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(big.IsValid());
    // The padded rows of a 1-pixel-wide column count too.
    EXPECT_EQ(big.Create(1, 1u << 31, 1, 0), nullptr);
    EXPECT_STREQ(big.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(ImageCreate, DepthRoundingAndLayout)
{
    struct {
        DWORD asked, got, colours;
    } cases[] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {3, 4, 16}, {4, 4, 16}, {5, 8, 256},
                 {8, 8, 256}, {9, 24, 0}, {16, 24, 0}, {24, 24, 0}, {32, 24, 0}};
    for (auto c : cases) {
        CxImage img;
        ASSERT_NE(img.Create(13, 3, c.asked, 5), nullptr);
        EXPECT_EQ(img.GetBpp(), c.got) << c.asked;
        EXPECT_EQ(img.GetNumColors(), c.colours);
        EXPECT_EQ(img.GetRowBytes(), ((13 * c.got + 31) / 32) * 4);
        EXPECT_EQ(img.GetType(), 5u); // stored unchanged
        EXPECT_EQ(img.GetSize(), 40 + 4 * c.colours + img.GetRowBytes() * 3);
        // New rows are zero, never old heap contents; the palette too.
        const BYTE* dib = static_cast<const BYTE*>(img.GetDIB());
        for (DWORD i = 40; i < img.GetSize(); ++i)
            ASSERT_EQ(dib[i], 0) << i;
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof(h));
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 13);
        EXPECT_EQ(h.biBitCount, c.got);
        EXPECT_EQ(h.biClrUsed, c.colours);
        EXPECT_EQ(h.biXPelsPerMeter, 3780);
    }
}

TEST(ImageCreate, DestroyKeepsTheLastSize)
{
    CxImage img;
    img.Create(40, 30, 24);
    img.SetTransIndex(-1);
    img.SetXDpi(150);
    EXPECT_TRUE(img.Destroy());
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 40u);
    EXPECT_EQ(img.GetHeight(), 30u);
    EXPECT_EQ(img.GetXDpi(), 150);
    EXPECT_EQ(img.GetBits(), nullptr);
    EXPECT_EQ(img.GetPalette(), nullptr);
}

TEST(ImageCreate, ConstructorDefaults)
{
    CxImage img(2);
    EXPECT_EQ(img.GetType(), 2u);
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_EQ(img.GetAlphaMax(), 255);
    EXPECT_EQ(img.GetXDpi(), 96);
    EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 3780);
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetFrame(), 0);
}

TEST(ImageCreate, GetBitsByRow)
{
    CxImage img;
    img.Create(5, 4, 8);
    EXPECT_EQ(img.GetBits(0), img.GetBits());
    EXPECT_EQ(img.GetBits(3), img.GetBits() + 3 * img.GetRowBytes());
    EXPECT_EQ(img.GetBits(4), nullptr);
}

TEST(ImageDpi, ResolutionAndPixelsPerMetre)
{
    CxImage img;
    img.Create(2, 2, 24);
    img.SetXDpi(300);
    img.SetYDpi(0);
    EXPECT_EQ(img.GetXDpi(), 300);
    EXPECT_EQ(img.GetYDpi(), 96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 11811);
    BITMAPINFOHEADER h;
    std::memcpy(&h, img.GetDIB(), sizeof(h));
    EXPECT_EQ(h.biXPelsPerMeter, 11811);
    EXPECT_EQ(h.biYPelsPerMeter, 3780);
}

TEST(ImagePalette, EntriesAndTransparency)
{
    CxImage img;
    img.Create(4, 4, 8);
    img.SetPaletteColor(3, RGB(10, 20, 30));
    const BYTE* pal = reinterpret_cast<const BYTE*>(img.GetPalette());
    EXPECT_EQ(pal[12], 30);
    EXPECT_EQ(pal[13], 20);
    EXPECT_EQ(pal[14], 10);
    EXPECT_EQ(pal[15], 0);
    img.SetPixelIndex(1, 2, 3);
    const RGBQUAD c = img.GetPixelColor(1, 2);
    EXPECT_EQ(c.rgbRed, 10);
    EXPECT_EQ(c.rgbGreen, 20);
    EXPECT_EQ(c.rgbBlue, 30);

    img.SetTransIndex(300);
    EXPECT_EQ(img.GetTransIndex(), 0);
    img.SetTransIndex(-1);
    EXPECT_EQ(img.GetTransIndex(), -1);
    img.SetTransIndex(3);
    EXPECT_TRUE(Same(img.GetTransColor(), Quad(10, 20, 30)));

    CxImage rgb;
    rgb.Create(2, 2, 24);
    rgb.SetTransIndex(0);
    EXPECT_EQ(rgb.GetTransIndex(), 0);
    rgb.SetTransIndex(7);
    EXPECT_EQ(rgb.GetTransIndex(), 0);
    rgb.SetTransIndex(-1);
    EXPECT_EQ(rgb.GetTransIndex(), -1);
    rgb.SetTransColor(Quad(1, 2, 3, 99));
    EXPECT_TRUE(Same(rgb.GetTransColor(), Quad(1, 2, 3, 0)));
    // No palette: palette calls do nothing.
    rgb.SetPaletteColor(0, RGB(1, 1, 1));
    EXPECT_EQ(rgb.GetPalette(), nullptr);
    EXPECT_TRUE(Same(rgb.GetPaletteColor(0), Quad(0, 0, 0)));
}

TEST(ImagePalette, SetPaletteRgbAndGrey)
{
    CxImage img;
    img.Create(2, 2, 4);
    const BYTE red[3] = {1, 2, 3};
    const BYTE green[3] = {4, 5, 6};
    img.SetPaletteRGB(3, red, green); // blue takes green
    EXPECT_TRUE(Same(img.GetPaletteColor(1), Quad(2, 5, 5)));
    img.SetPaletteRGB(3, red, nullptr, nullptr); // green and blue take red
    EXPECT_TRUE(Same(img.GetPaletteColor(2), Quad(3, 3, 3)));
    BYTE many[20];
    for (int i = 0; i < 20; ++i)
        many[i] = static_cast<BYTE>(i);
    img.SetPaletteRGB(20, many); // only the 16 entries there are
    EXPECT_TRUE(Same(img.GetPaletteColor(15), Quad(15, 15, 15)));
    EXPECT_TRUE(img.IsGrayPalette()); // entry i is (i, i, i)
    img.SetPaletteColor(4, RGB(4, 4, 5));
    EXPECT_FALSE(img.IsGrayPalette());

    img.SetGrayPalette();
    EXPECT_TRUE(Same(img.GetPaletteColor(15), Quad(255, 255, 255)));
    EXPECT_TRUE(Same(img.GetPaletteColor(1), Quad(17, 17, 17)));
    EXPECT_FALSE(img.IsGrayPalette()); // grey, but not entry i = i

    CxImage g8;
    g8.Create(2, 2, 8);
    g8.SetGrayPalette();
    EXPECT_TRUE(g8.IsGrayPalette());
    EXPECT_FALSE(g8.PaletteHasAlpha());
    RGBQUAD withAlpha[1] = {Quad(5, 5, 5, 9)};
    g8.SetPalette(withAlpha, 1);
    EXPECT_TRUE(g8.PaletteHasAlpha());
}

TEST(ImagePalette, NearestIndexAndItsCache)
{
    CxImage img;
    img.Create(2, 2, 8);
    img.SetPaletteColor(2, RGB(100, 0, 0));
    img.SetPaletteColor(5, RGB(0, 100, 0));
    for (int i = 0; i < 256; ++i)
        if (i != 2 && i != 5)
            img.SetPaletteColor(static_cast<BYTE>(i), RGB(255, 255, 255));
    // (50, 50, 0) is as near to entry 2 as to entry 5: the lower index wins.
    EXPECT_EQ(img.NearestPaletteIndex(Quad(50, 50, 0)), 2);
    EXPECT_EQ(img.NearestPaletteIndex(Quad(0, 90, 0)), 5);
    // A palette change invalidates the cached answer.
    img.SetPaletteColor(7, RGB(0, 90, 0));
    EXPECT_EQ(img.NearestPaletteIndex(Quad(0, 90, 0)), 7);
    CxImage rgb;
    rgb.Create(1, 1, 24);
    EXPECT_EQ(rgb.NearestPaletteIndex(Quad(1, 2, 3)), 0);
}

TEST(ImagePixels, IndexPackingPerDepth)
{
    for (DWORD bpp : {1u, 4u, 8u}) {
        CxImage img;
        img.Create(19, 3, bpp);
        const int mask = bpp == 1 ? 1 : (bpp == 4 ? 15 : 255);
        for (long y = 0; y < 3; ++y)
            for (long x = 0; x < 19; ++x)
                img.SetPixelIndex(x, y, static_cast<BYTE>((x * 7 + y) & 0xFF));
        for (long y = 0; y < 3; ++y)
            for (long x = 0; x < 19; ++x)
                ASSERT_EQ(img.GetPixelIndex(x, y), (x * 7 + y) & mask) << bpp;
    }
    // Bit order: pixel x of a 1-bit row is bit 7 - x % 8 of byte x / 8.
    CxImage mono;
    mono.Create(16, 1, 1);
    mono.SetPixelIndex(1, 0, 1);
    mono.SetPixelIndex(8, 0, 1);
    EXPECT_EQ(mono.GetBits()[0], 0x40);
    EXPECT_EQ(mono.GetBits()[1], 0x80);
    CxImage nib;
    nib.Create(4, 1, 4);
    nib.SetPixelIndex(0, 0, 0xA);
    nib.SetPixelIndex(1, 0, 0x5);
    EXPECT_EQ(nib.GetBits()[0], 0xA5);
}

TEST(ImagePixels, ReadsOutsideTheImage)
{
    CxImage img;
    img.Create(3, 3, 8);
    img.SetPaletteColor(4, RGB(1, 2, 3));
    img.SetPaletteColor(9, RGB(7, 8, 9));
    img.SetPixelIndex(0, 0, 4);
    // No transparent index: pixel (0, 0).
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 4);
    EXPECT_TRUE(Same(img.GetPixelColor(-1, 0, true), Quad(1, 2, 3)));
    EXPECT_TRUE(Same(img.GetPixelColor(3, 3, true), Quad(1, 2, 3)));
    // With one: that entry.
    img.SetTransIndex(9);
    EXPECT_EQ(img.GetPixelIndex(5, 5), 9);
    EXPECT_TRUE(Same(img.GetPixelColor(5, 5), Quad(7, 8, 9)));

    CxImage rgb;
    rgb.Create(2, 2, 24);
    rgb.SetPixelColor(0, 0, Quad(9, 8, 7));
    rgb.SetTransColor(Quad(50, 60, 70));
    EXPECT_TRUE(Same(rgb.GetPixelColor(-1, -1), Quad(9, 8, 7)));
    rgb.SetTransIndex(0);
    EXPECT_TRUE(Same(rgb.GetPixelColor(-1, -1), Quad(50, 60, 70)));
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0); // no indices in a true-colour image

    // Invalid image: the stored transparent colour (or a zero palette entry).
    CxImage none;
    none.SetTransColor(Quad(4, 5, 6));
    EXPECT_TRUE(Same(none.GetPixelColor(0, 0), Quad(4, 5, 6)));
    none.SetTransIndex(0); // an indexed-looking header without a palette: zero
    EXPECT_TRUE(Same(none.GetPixelColor(0, 0), Quad(0, 0, 0)));
    rgb.Destroy();
    rgb.SetTransIndex(-1);
    EXPECT_TRUE(Same(rgb.GetPixelColor(0, 0), Quad(50, 60, 70)));
    // Writes outside are ignored.
    img.SetPixelIndex(3, 0, 1);
    img.SetPixelColor(0, -1, Quad(1, 1, 1));
    img.SetAlpha(-1, 0, 5);
}

TEST(ImagePixels, TrueColourAndIndexedColourWrites)
{
    CxImage rgb;
    rgb.Create(2, 1, 24);
    rgb.SetPixelColorRef(1, 0, RGB(10, 20, 30));
    const BYTE* p = rgb.GetBits() + 3;
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    CxImage idx;
    idx.Create(2, 1, 4);
    idx.SetPaletteColor(6, RGB(200, 0, 0));
    idx.SetPixelColor(1, 0, Quad(190, 10, 0));
    EXPECT_EQ(idx.GetPixelIndex(1, 0), 6);
}

TEST(ImageWhole, ClearPerDepth)
{
    struct {
        DWORD bpp;
        BYTE value, fill;
    } cases[] = {{1, 0, 0}, {1, 3, 255}, {4, 0x2A, 0xAA}, {8, 7, 7}, {24, 200, 200}};
    for (auto c : cases) {
        CxImage img;
        img.Create(5, 2, c.bpp);
        img.Clear(c.value);
        for (DWORD i = 0; i < img.GetHeader().biSizeImage; ++i)
            ASSERT_EQ(img.GetBits()[i], c.fill) << c.bpp;
    }
}

TEST(ImageWhole, FlipRowsAndAlpha)
{
    CxImage img;
    img.Create(2, 3, 8);
    img.CreateAlpha();
    for (long y = 0; y < 3; ++y) {
        img.SetPixelIndex(0, y, static_cast<BYTE>(y + 1));
        img.SetAlpha(1, y, static_cast<BYTE>(10 * y));
    }
    EXPECT_TRUE(img.FlipRows(true));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 3);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 2);
    EXPECT_EQ(img.GetAlpha(1, 0), 20);
    EXPECT_TRUE(img.FlipRows(false));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetAlpha(1, 0), 20);
    CxImage none;
    EXPECT_FALSE(none.FlipRows());
}

// A 100 x 50 picture whose pixel (x, y from the top) has index (x + y) % 256.
CxImage Numbered(DWORD bpp)
{
    CxImage img;
    img.Create(100, 50, bpp);
    img.SetGrayPalette();
    for (long y = 0; y < 50; ++y)
        for (long x = 0; x < 100; ++x) {
            if (bpp == 24)
                img.SetPixelColor(x, 49 - y, Quad(x, y, x + y));
            else
                img.SetPixelIndex(x, 49 - y, static_cast<BYTE>(x + y));
        }
    return img;
}

TEST(ImageCrop, CornersAndOrdering)
{
    for (DWORD bpp : {4u, 8u, 24u}) {
        CxImage img = Numbered(bpp);
        img.CreateAlpha();
        img.SetAlpha(0, 49, 77);
        img.SetTransIndex(2);
        CxImage d;
        ASSERT_TRUE(img.Crop(0, 0, 9, 4, &d));
        EXPECT_EQ(d.GetWidth(), 10u);
        EXPECT_EQ(d.GetHeight(), 5u);
        EXPECT_EQ(d.GetBpp(), bpp);
        EXPECT_EQ(d.GetTransIndex(), img.GetTransIndex());
        EXPECT_TRUE(Same(d.GetPixelColor(9, 0, false), img.GetPixelColor(9, 45, false)));
        EXPECT_TRUE(Same(d.GetPixelColor(0, 4, false), img.GetPixelColor(0, 49, false)));
        EXPECT_EQ(d.GetAlpha(0, 4), 77);

        // The +1 comes before the pair is ordered: columns 4 and 5.
        ASSERT_TRUE(img.Crop(6, 0, 3, 4, &d));
        EXPECT_EQ(d.GetWidth(), 2u);
        EXPECT_TRUE(Same(d.GetPixelColor(0, 4, false), img.GetPixelColor(4, 49, false)));
        EXPECT_TRUE(Same(d.GetPixelColor(1, 0, false), img.GetPixelColor(5, 45, false)));

        EXPECT_FALSE(img.Crop(5, 0, 4, 4, &d));
        EXPECT_FALSE(img.Crop(0, 0, -1, 9, &d));
        EXPECT_EQ(img.GetWidth(), 100u); // unchanged by the failures
    }
    // In place, clamped to the image.
    CxImage img = Numbered(8);
    ASSERT_TRUE(img.Crop(-20, 45, 1000, 1000));
    EXPECT_EQ(img.GetWidth(), 100u);
    EXPECT_EQ(img.GetHeight(), 5u);
    EXPECT_EQ(img.GetPixelIndex(3, 4), 48); // x 3, y 45 from the top
}

TEST(ImageDepth, IncreaseBitDepth)
{
    CxImage img;
    img.Create(3, 2, 8);
    EXPECT_TRUE(img.IncreaseBitDepth(8));
    EXPECT_FALSE(img.IncreaseBitDepth(4));
    EXPECT_FALSE(img.IncreaseBitDepth(16));

    CxImage rgb;
    rgb.Create(3, 2, 24);
    EXPECT_FALSE(rgb.IncreaseBitDepth(8));
    EXPECT_TRUE(rgb.IncreaseBitDepth(24));

    CxImage mono;
    mono.Create(9, 2, 1);
    mono.SetPaletteColor(1, RGB(9, 99, 199));
    mono.SetPixelIndex(8, 1, 1);
    ASSERT_TRUE(mono.IncreaseBitDepth(4));
    EXPECT_EQ(mono.GetBpp(), 4);
    EXPECT_EQ(mono.GetPixelIndex(8, 1), 1);
    EXPECT_TRUE(Same(mono.GetPaletteColor(1), Quad(9, 99, 199)));
    mono.SetTransIndex(1);
    ASSERT_TRUE(mono.IncreaseBitDepth(24));
    EXPECT_EQ(mono.GetBpp(), 24);
    EXPECT_TRUE(Same(mono.GetPixelColor(8, 1, false), Quad(9, 99, 199)));
    EXPECT_TRUE(Same(mono.GetTransColor(), Quad(9, 99, 199)));

    // A palette with alpha gives the true-colour image an alpha plane.
    CxImage pa;
    pa.Create(2, 1, 8);
    RGBQUAD entries[2] = {Quad(0, 0, 0, 0), Quad(1, 1, 1, 40)};
    pa.SetPalette(entries, 2);
    pa.SetPixelIndex(1, 0, 1);
    ASSERT_TRUE(pa.IncreaseBitDepth(24));
    ASSERT_TRUE(pa.HasAlpha());
    EXPECT_EQ(pa.GetAlpha(1, 0), 40);
    EXPECT_EQ(pa.GetAlpha(0, 0), 0);
}

TEST(ImageCopies, CopyIsIndependent)
{
    CxImage a = Numbered(8);
    a.CreateAlpha();
    a.SetAlpha(2, 2, 9);
    a.SetTransIndex(4);
    CxImage b(a);
    EXPECT_EQ(b.GetSize(), a.GetSize());
    EXPECT_EQ(std::memcmp(a.GetDIB(), b.GetDIB(), a.GetSize()), 0);
    EXPECT_EQ(b.GetAlpha(2, 2), 9);
    EXPECT_EQ(b.GetTransIndex(), 4);
    b.SetPixelIndex(0, 0, 200);
    b.SetAlpha(2, 2, 1);
    EXPECT_NE(a.GetPixelIndex(0, 0), 200);
    EXPECT_EQ(a.GetAlpha(2, 2), 9);

    // Without pixels: palette only, rows zero.
    CxImage c(a, false, false, false);
    EXPECT_TRUE(Same(c.GetPaletteColor(77), a.GetPaletteColor(77)));
    EXPECT_EQ(c.GetPixelIndex(10, 10), 0);
    EXPECT_FALSE(c.HasAlpha());

    CxImage d;
    d = a;
    EXPECT_EQ(std::memcmp(a.GetDIB(), d.GetDIB(), a.GetSize()), 0);
    d = d; // self-assignment leaves it as it was
    EXPECT_EQ(std::memcmp(a.GetDIB(), d.GetDIB(), a.GetSize()), 0);
}

TEST(ImageCopies, TransferMovesEverything)
{
    CxImage a = Numbered(24);
    a.CreateAlpha();
    a.SetXDpi(200);
    void* dib = a.GetDIB();
    CxImage b;
    EXPECT_TRUE(b.Transfer(a));
    EXPECT_EQ(b.GetDIB(), dib);
    EXPECT_TRUE(b.HasAlpha());
    EXPECT_EQ(b.GetXDpi(), 200);
    EXPECT_FALSE(a.IsValid());
    EXPECT_FALSE(a.HasAlpha());
    EXPECT_EQ(a.GetWidth(), 0u);

    // The information block is copied only into an image without pixels.
    CxImage e;
    e.CopyInfoBlock(b);
    EXPECT_EQ(e.GetXDpi(), 200);
    CxImage f;
    f.Create(1, 1, 8);
    f.CopyInfoBlock(b);
    EXPECT_EQ(f.GetXDpi(), 96);
}

TEST(ImageAlpha, PlaneOperations)
{
    CxImage img;
    img.Create(3, 2, 24);
    EXPECT_FALSE(img.HasAlpha());
    EXPECT_EQ(img.GetAlpha(0, 0), 0);
    ASSERT_TRUE(img.CreateAlpha());
    EXPECT_EQ(img.GetAlpha(2, 1), 255);
    img.SetAlpha(2, 1, 5);
    img.InvertAlpha();
    EXPECT_EQ(img.GetAlpha(2, 1), 250);
    EXPECT_EQ(img.GetAlpha(0, 0), 0);
    img.FlipAlpha();
    EXPECT_EQ(img.GetAlpha(2, 0), 250);

    CxImage grey;
    ASSERT_TRUE(img.SplitAlpha(&grey));
    EXPECT_EQ(grey.GetBpp(), 8);
    EXPECT_TRUE(grey.IsGrayPalette());
    EXPECT_EQ(grey.GetPixelIndex(2, 0), 250);

    CxImage other;
    other.Create(3, 2, 8);
    EXPECT_FALSE(other.HasAlpha());
    ASSERT_TRUE(other.SetAlphaFromGray(grey));
    EXPECT_EQ(other.GetAlpha(2, 0), 250);

    img.SetAlphaMax(100);
    CxImage third;
    third.Create(3, 2, 4);
    ASSERT_TRUE(third.CopyAlpha(img));
    EXPECT_EQ(third.GetAlpha(2, 0), 250);
    EXPECT_EQ(third.GetAlphaMax(), 100);
    CxImage wrongSize;
    wrongSize.Create(4, 2, 24);
    EXPECT_FALSE(wrongSize.CopyAlpha(img));
    EXPECT_FALSE(wrongSize.SetAlphaFromGray(grey));
    EXPECT_FALSE(img.SplitAlpha(nullptr));
    img.DeleteAlpha();
    EXPECT_FALSE(img.SplitAlpha(&grey));

    // With alpha: the pixel colour carries it when asked.
    third.SetPixelColor(1, 1, Quad(0, 0, 0, 33), true);
    EXPECT_EQ(third.GetPixelColor(1, 1, true).rgbReserved, 33);
    EXPECT_EQ(third.GetPixelColor(1, 1, false).rgbReserved, 0);
}

TEST(ImageBuffer, CreateFromBuffer)
{
    const BYTE bgra[2 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    CxImage img;
    ASSERT_TRUE(img.CreateFromBuffer(bgra, 2, 2, 32, 8, false));
    EXPECT_EQ(img.GetBpp(), 24);
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_TRUE(Same(img.GetPixelColor(1, 0, true), Quad(7, 6, 5, 8)));
    ASSERT_TRUE(img.CreateFromBuffer(bgra, 2, 2, 32, 8, true));
    EXPECT_TRUE(Same(img.GetPixelColor(1, 0, true), Quad(15, 14, 13, 16)));

    const BYTE grey[2 * 4] = {10, 20, 0, 0, 30, 40, 0, 0};
    ASSERT_TRUE(img.CreateFromBuffer(grey, 2, 2, 8, 4, false));
    EXPECT_TRUE(img.IsGrayPalette());
    EXPECT_EQ(img.GetPixelIndex(1, 1), 40);
    EXPECT_FALSE(img.CreateFromBuffer(grey, 2, 2, 16, 4, false));
    EXPECT_FALSE(img.CreateFromBuffer(nullptr, 2, 2, 8, 4, false));
}

} // namespace
