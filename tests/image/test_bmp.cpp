// Tests of the BMP decoder and the loader: a table of generated files, one per
// header and pixel variant, checked at chosen pixels and against Qt's reader;
// error texts of broken files; type-code dispatch.
#include "image_files.h"
#include "ui/image/ximage.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <ostream>
#include <functional>
#include <string>

using namespace imgtest;

namespace {

struct Point {
    int x, y; // y from the top
    Rgb colour;
};

struct BmpCase {
    const char* name;
    std::function<BmpSpec()> make;
    int bpp;                    // bits per pixel of the decoded image
    std::vector<Point> expected;
    bool qtOracle = true;       // Qt reads this variant too
    // Pixels the file sets (RLE deltas skip some: we leave them 0, Qt leaves
    // them unset).
    std::function<bool(int, int)> defined = nullptr;
};

Rgb Colour(int x, int y)
{
    return Rgb{static_cast<std::uint8_t>(x * 50 + 3), static_cast<std::uint8_t>(y * 80 + 7),
               static_cast<std::uint8_t>(255 - x * 20 - y)};
}

std::uint32_t Pack555(Rgb c) { return ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3); }
std::uint32_t Pack565(Rgb c) { return ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3); }
Rgb As555(Rgb c) { return Rgb{static_cast<std::uint8_t>(c.r & 0xF8), static_cast<std::uint8_t>(c.g & 0xF8), static_cast<std::uint8_t>(c.b & 0xF8)}; }
Rgb As565(Rgb c) { return Rgb{static_cast<std::uint8_t>(c.r & 0xF8), static_cast<std::uint8_t>(c.g & 0xFC), static_cast<std::uint8_t>(c.b & 0xF8)}; }

const std::vector<Rgb> kTwo = {{10, 20, 30}, {200, 100, 50}};
const std::vector<Rgb> kSixteen = Palette(16, 2);
const std::vector<Rgb> kFull = Palette(256, 3);

BmpSpec Indexed(int w, int h, int bits, const std::vector<Rgb>& pal, const std::function<int(int, int)>& index)
{
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.bits = static_cast<std::uint16_t>(bits);
    s.palette = pal;
    s.pixels = IndexedRows(w, h, bits, index);
    return s;
}

BmpSpec TrueColour(int w, int h)
{
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.bits = 24;
    s.pixels = ColourRows(w, h, 24, Colour);
    return s;
}

int Index4(int x, int y) { return (x * 3 + y) % 16; }
int Index8(int x, int y) { return (x * 50 + y * 7) % 256; }

// RLE8, 8 x 4: row 0 a run, a literal with its pad byte and a run; row 1 left
// alone by a delta to (2, row 2); row 2 a run; row 3 a full run.
Bytes Rle8Stream()
{
    return {3, 5, 0, 3, 1, 2, 3, 0, 2, 9, 0, 0, // row 0: 5 5 5 1 2 3 9 9
            0, 2, 2, 1,                         // delta: 2 right, 1 row on
            4, 7, 0, 0,                         // row 2: _ _ 7 7 7 7 _ _
            8, 4, 0, 1};                        // row 3: 4 x 8; end of bitmap
}

// RLE4, 9 x 3: runs alternate nibbles, literals pack two per byte and pad to
// 16 bits, a delta skips into row 2.
Bytes Rle4Stream()
{
    return {5, 0x12, 0, 4, 0x34, 0x56, 0, 0,          // row 0: 1 2 1 2 1 3 4 5 6
            0, 5, 0x78, 0x9A, 0xB0, 0, 4, 0xCD, 0, 0, // row 1: 7 8 9 10 11 12 13 12 13
            0, 2, 3, 0, 2, 0xEF, 0, 1};               // row 2: _ _ _ 14 15
}

std::vector<BmpCase> Cases()
{
    std::vector<BmpCase> c;
    c.push_back({"1-bit, odd width", [] { return Indexed(13, 5, 1, kTwo, [](int x, int y) { return (x + y) % 2; }); }, 1,
                 {{0, 0, kTwo[0]}, {1, 0, kTwo[1]}, {12, 4, kTwo[0]}, {12, 3, kTwo[1]}}});
    c.push_back({"4-bit", [] { return Indexed(7, 3, 4, kSixteen, Index4); }, 4,
                 {{0, 0, kSixteen[0]}, {6, 0, kSixteen[2]}, {5, 2, kSixteen[1]}}});
    c.push_back({"8-bit", [] { return Indexed(5, 4, 8, kFull, Index8); }, 8,
                 {{0, 0, kFull[0]}, {4, 3, kFull[221]}, {2, 1, kFull[107]}}});
    c.push_back({"24-bit", [] { return TrueColour(5, 3); }, 24,
                 {{0, 0, {3, 7, 255}}, {4, 2, {203, 167, 173}}}});
    c.push_back({"16-bit 5-5-5", [] {
                     BmpSpec s;
                     s.width = 5;
                     s.height = 3;
                     s.bits = 16;
                     s.pixels = ColourRows(5, 3, 16, Colour, Pack555);
                     return s;
                 },
                 24, {{0, 0, As555(Colour(0, 0))}, {4, 2, As555(Colour(4, 2))}, {3, 1, {152, 80, 192}}}});
    c.push_back({"16-bit bit fields 5-6-5", [] {
                     BmpSpec s;
                     s.width = 5;
                     s.height = 3;
                     s.bits = 16;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0xF800, 0x07E0, 0x001F};
                     s.pixels = ColourRows(5, 3, 16, Colour, Pack565);
                     return s;
                 },
                 24, {{0, 0, As565(Colour(0, 0))}, {4, 2, As565(Colour(4, 2))}, {3, 1, {152, 84, 192}}}});
    c.push_back({"32-bit with alpha", [] {
                     BmpSpec s;
                     s.width = 4;
                     s.height = 3;
                     s.bits = 32;
                     s.pixels = ColourRows(4, 3, 32, Colour, nullptr, [](int x, int) { return static_cast<std::uint8_t>(x * 60); });
                     return s;
                 },
                 24, {{0, 0, Colour(0, 0)}, {3, 2, Colour(3, 2)}}});
    c.push_back({"32-bit bit fields, channels in bytes 1-3", [] {
                     BmpSpec s;
                     s.width = 4;
                     s.height = 3;
                     s.bits = 32;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};
                     s.pixels = ColourRows(4, 3, 32, Colour, [](Rgb k) {
                         return static_cast<std::uint32_t>(k.r) << 8 | static_cast<std::uint32_t>(k.g) << 16 |
                                static_cast<std::uint32_t>(k.b) << 24;
                     });
                     return s;
                 },
                 24, {{1, 2, Colour(1, 2)}, {3, 0, Colour(3, 0)}}});
    c.push_back({"top-down (negative height)", [] {
                     BmpSpec s = TrueColour(5, 3);
                     s.height = -3;
                     s.pixels = ColourRows(5, 3, 24, Colour, nullptr, nullptr, true);
                     return s;
                 },
                 24, {{0, 0, Colour(0, 0)}, {4, 2, Colour(4, 2)}, {2, 1, Colour(2, 1)}}});
    c.push_back({"OS/2 12-byte header, 8-bit with 3-byte palette", [] {
                     BmpSpec s = Indexed(6, 5, 8, kFull, Index8);
                     s.headerSize = 12;
                     return s;
                 },
                 8, {{5, 4, kFull[(250 + 28) % 256]}, {1, 0, kFull[50]}}});
    c.push_back({"OS/2 12-byte header, 24-bit", [] {
                     BmpSpec s = TrueColour(5, 4);
                     s.headerSize = 12;
                     return s;
                 },
                 24, {{4, 3, Colour(4, 3)}}});
    c.push_back({"RLE8 with runs, literal, delta", [] {
                     BmpSpec s;
                     s.width = 8;
                     s.height = 4;
                     s.bits = 8;
                     s.compression = BI_RLE8;
                     s.palette = kFull;
                     s.pixels = Rle8Stream();
                     return s;
                 },
                 8,
                 // rows from the top: row 3 of the file is the top row
                 {{0, 3, kFull[5]}, {3, 3, kFull[1]}, {5, 3, kFull[3]}, {7, 3, kFull[9]}, {4, 2, kFull[0]},
                  {1, 1, kFull[0]}, {2, 1, kFull[7]}, {5, 1, kFull[7]}, {6, 1, kFull[0]}, {7, 0, kFull[4]},
                  {0, 2, kFull[0]}, {7, 2, kFull[0]}},
                 true, [](int x, int y) { return y != 2 && (y != 1 || (x >= 2 && x <= 5)); }});
    c.push_back({"RLE4 with runs, padded literal, delta", [] {
                     BmpSpec s;
                     s.width = 9;
                     s.height = 3;
                     s.bits = 4;
                     s.compression = BI_RLE4;
                     s.palette = kSixteen;
                     s.pixels = Rle4Stream();
                     return s;
                 },
                 4,
                 {{0, 2, kSixteen[1]}, {4, 2, kSixteen[1]}, {5, 2, kSixteen[3]}, {8, 2, kSixteen[6]},
                  {4, 1, kSixteen[11]}, {8, 1, kSixteen[13]}, {2, 0, kSixteen[0]}, {3, 0, kSixteen[14]},
                  {4, 0, kSixteen[15]}, {5, 0, kSixteen[0]}},
                 true, [](int x, int y) { return y != 0 || x == 3 || x == 4; }});
    c.push_back({"V5 124-byte header, 16-bit 5-6-5 masks inside the header", [] {
                     BmpSpec s;
                     s.headerSize = 124;
                     s.width = 5;
                     s.height = 3;
                     s.bits = 16;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0xF800, 0x07E0, 0x001F};
                     s.pixels = ColourRows(5, 3, 16, Colour, Pack565);
                     return s;
                 },
                 24, {{0, 0, As565(Colour(0, 0))}, {4, 2, As565(Colour(4, 2))}}});
    c.push_back({"V5 124-byte header, 32-bit bit fields", [] {
                     BmpSpec s;
                     s.headerSize = 124;
                     s.width = 4;
                     s.height = 2;
                     s.bits = 32;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
                     s.pixels = ColourRows(4, 2, 32, Colour);
                     return s;
                 },
                 24, {{3, 1, Colour(3, 1)}}});
    c.push_back({"V4 108-byte header, 16-bit 5-5-5 masks inside the header", [] {
                     BmpSpec s;
                     s.headerSize = 108;
                     s.width = 3;
                     s.height = 2;
                     s.bits = 16;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0x7C00, 0x03E0, 0x001F};
                     s.pixels = ColourRows(3, 2, 16, Colour, Pack555);
                     return s;
                 },
                 24, {{2, 1, As555(Colour(2, 1))}}});
    c.push_back({"V4 108-byte header, 24-bit", [] {
                     BmpSpec s = TrueColour(5, 3);
                     s.headerSize = 108;
                     return s;
                 },
                 24, {{4, 2, Colour(4, 2)}}});
    c.push_back({"pixel data after a gap, found by its offset", [] {
                     BmpSpec s = Indexed(5, 4, 8, kFull, Index8);
                     s.gapBeforePixels = 6;
                     return s;
                 },
                 8, {{4, 3, kFull[221]}}});
    c.push_back({"headerless DIB, 8-bit", [] {
                     BmpSpec s = Indexed(5, 4, 8, kFull, Index8);
                     s.fileHeader = false;
                     return s;
                 },
                 8, {{0, 0, kFull[0]}, {4, 3, kFull[221]}}, false});
    c.push_back({"headerless DIB, 16-bit masks after a 40-byte header", [] {
                     BmpSpec s;
                     s.fileHeader = false;
                     s.width = 5;
                     s.height = 3;
                     s.bits = 16;
                     s.compression = BI_BITFIELDS;
                     s.masks = {0xF800, 0x07E0, 0x001F};
                     s.pixels = ColourRows(5, 3, 16, Colour, Pack565);
                     return s;
                 },
                 24, {{0, 0, As565(Colour(0, 0))}, {4, 2, As565(Colour(4, 2))}}, false});
    c.push_back({"8-bit claiming 1000 colours", [] {
                     BmpSpec s = Indexed(5, 4, 8, kFull, Index8);
                     s.clrUsed = 1000;
                     s.gapBeforePixels = (1000 - 256) * 4;
                     return s;
                 },
                 8, {{0, 0, kFull[0]}, {4, 3, kFull[221]}, {2, 1, kFull[107]}}, false});
    c.push_back({"64-byte OS/2 2.x header, 24-bit", [] {
                     BmpSpec s = TrueColour(5, 3);
                     s.headerSize = 64;
                     return s;
                 },
                 24, {{4, 2, Colour(4, 2)}, {0, 0, Colour(0, 0)}}, false});
    return c;
}

void PrintTo(const BmpCase& c, std::ostream* os) { *os << c.name; }

class BmpVariant : public ::testing::TestWithParam<BmpCase> {};

TEST_P(BmpVariant, DecodesExpectedPixelsAndAgreesWithQt)
{
    const BmpCase& tc = GetParam();
    const BmpSpec spec = tc.make();
    const Bytes file = BuildBmp(spec);
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, CXIMAGE_FORMAT_BMP)) << img.LastErrorText();
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);
    EXPECT_EQ(static_cast<long>(img.GetWidth()), spec.width);
    EXPECT_EQ(static_cast<long>(img.GetHeight()), spec.height < 0 ? -spec.height : spec.height);
    EXPECT_EQ(img.GetBpp(), tc.bpp);
    for (const Point& p : tc.expected)
        EXPECT_EQ(ToString(At(img, p.x, p.y)), ToString(p.colour)) << "at (" << p.x << "," << p.y << ")";
    if (tc.qtOracle) {
        EXPECT_EQ(CompareWithQt(img, QtDecode(file, "BMP"), tc.defined), "");
    } else {
        // The same picture in a plain BM file with a 40-byte header, as Qt reads it.
        BmpSpec plain = spec;
        plain.fileHeader = true;
        plain.headerSize = 40;
        plain.clrUsed = -1;
        plain.gapBeforePixels = 0;
        EXPECT_EQ(CompareWithQt(img, QtDecode(BuildBmp(plain), "BMP")), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, BmpVariant, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<BmpCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(BmpDecoder, AlphaOf32BitFiles)
{
    // Fourth bytes with values: they are the alpha plane.
    BmpSpec s;
    s.width = 4;
    s.height = 2;
    s.bits = 32;
    s.pixels = ColourRows(4, 2, 32, Colour, nullptr, [](int x, int y) { return static_cast<std::uint8_t>(x * 60 + y); });
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), CXIMAGE_FORMAT_BMP));
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_EQ(img.GetAlpha(3, 1), 180); // row 1 from the bottom is y = 0 from the top
    EXPECT_EQ(img.GetAlpha(2, 0), 121);
    EXPECT_EQ(img.GetPixelColor(3, 1, true).rgbReserved, 180);

    // Every fourth byte 0: no alpha meant, so the plane is opaque.
    s.pixels = ColourRows(4, 2, 32, Colour, nullptr, [](int, int) { return std::uint8_t{0}; });
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), CXIMAGE_FORMAT_BMP));
    ASSERT_TRUE(img.HasAlpha());
    for (long y = 0; y < 2; ++y)
        for (long x = 0; x < 4; ++x)
            EXPECT_EQ(img.GetAlpha(x, y), 255);

    // Bit fields: no alpha plane.
    s.compression = BI_BITFIELDS;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), CXIMAGE_FORMAT_BMP));
    EXPECT_FALSE(img.HasAlpha());
}

TEST(BmpDecoder, TopDownEqualsBottomUp)
{
    BmpSpec up = TrueColour(6, 5);
    BmpSpec down = up;
    down.height = -5;
    down.pixels = ColourRows(6, 5, 24, Colour, nullptr, nullptr, true);
    CxImage a, b;
    ASSERT_TRUE(DecodeBytes(a, BuildBmp(up), 1));
    ASSERT_TRUE(DecodeBytes(b, BuildBmp(down), 1));
    ASSERT_EQ(a.GetSize(), b.GetSize());
    EXPECT_EQ(std::memcmp(a.GetBits(), b.GetBits(), a.GetHeader().biSizeImage), 0);
}

TEST(BmpDecoder, HeaderlessDecodesLikeTheFileWithHeader)
{
    BmpSpec with = Indexed(7, 3, 4, kSixteen, Index4);
    BmpSpec without = with;
    without.fileHeader = false;
    CxImage a, b;
    ASSERT_TRUE(DecodeBytes(a, BuildBmp(with), 0));
    ASSERT_TRUE(DecodeBytes(b, BuildBmp(without), 0));
    ASSERT_EQ(a.GetSize(), b.GetSize());
    EXPECT_EQ(std::memcmp(a.GetDIB(), b.GetDIB(), a.GetSize()), 0);
}

TEST(BmpDecoder, ResolutionComesFromPixelsPerMetre)
{
    BmpSpec s = TrueColour(2, 2);
    s.xPelsPerMeter = 11811; // 300 dpi
    s.yPelsPerMeter = 0;     // 96 dpi
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), 1));
    EXPECT_EQ(img.GetXDpi(), 300);
    EXPECT_EQ(img.GetYDpi(), 96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 11811);
    EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 3780);
}

// Runs, literals and deltas that point outside the image write nothing
// outside it, and the pixels inside are still right.
TEST(BmpDecoder, RleNeverWritesOutsideTheImage)
{
    const Bytes streams[] = {
        // a run far past the row end, then a row that is fine
        {255, 1, 255, 2, 0, 0, 4, 3, 0, 1},
        // a delta far right and far up, then runs that land outside
        {2, 6, 0, 2, 255, 255, 200, 9, 0, 0, 0, 1},
        // literals longer than the row, on every row and beyond the last
        {0, 255, 0}, // literal cut short by the end of the stream
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 200, 7, 0, 0, 200, 7},
    };
    for (const Bytes& rle : streams) {
        for (std::uint32_t compression : {BI_RLE8, BI_RLE4}) {
            BmpSpec s;
            s.width = 3;
            s.height = 2;
            s.bits = compression == BI_RLE8 ? 8 : 4;
            s.compression = compression;
            s.palette = compression == BI_RLE8 ? kFull : kSixteen;
            s.pixels = rle;
            Bytes file = BuildBmp(s);
            CxImage img;
            ASSERT_TRUE(DecodeBytes(img, file, 1)) << img.LastErrorText();
            EXPECT_EQ(img.GetWidth(), 3u);
            EXPECT_EQ(img.GetHeight(), 2u);
        }
    }
    // The first stream: row 0 holds 1 2 1 (RLE4 nibbles alternate) or 1 1 1.
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = 8;
    s.compression = BI_RLE8;
    s.palette = kFull;
    s.pixels = streams[0];
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), 1));
    EXPECT_EQ(img.GetPixelIndex(2, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 3);
    EXPECT_EQ(img.GetPixelIndex(2, 1), 3);
}

TEST(BmpDecoder, Rle8RunsPastTheLastRowStop)
{
    BmpSpec s;
    s.width = 4;
    s.height = 2;
    s.bits = 8;
    s.compression = BI_RLE8;
    s.palette = kFull;
    s.pixels = {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 4, 0, 0, 0, 1};
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s), 1));
    EXPECT_EQ(img.GetPixelIndex(3, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(3, 1), 2);
}

// A short file is no error: what is missing reads as zeros.
TEST(BmpDecoder, ShortFileLeavesZeros)
{
    BmpSpec s = TrueColour(4, 4);
    Bytes file = BuildBmp(s);
    const std::size_t rowBytes = RowBytes(4, 24);
    file.resize(file.size() - 2 * rowBytes - 5); // 1 row and 7 bytes remain... of 4 rows
    CxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, 1)) << img.LastErrorText();
    EXPECT_EQ(ToString(At(img, 0, 3)), ToString(Colour(0, 3))); // bottom row, read
    EXPECT_EQ(ToString(At(img, 3, 2)), "(0,0,0)");               // cut
    EXPECT_EQ(ToString(At(img, 2, 0)), "(0,0,0)");               // never there

    BmpSpec pal = Indexed(5, 4, 8, kFull, Index8);
    Bytes palFile = BuildBmp(pal);
    palFile.resize(14 + 40 + 10 * 4); // ten palette entries, no pixels
    ASSERT_TRUE(DecodeBytes(img, palFile, 1));
    EXPECT_EQ(ToString(At(img, 0, 0)), ToString(kFull[0]));
    const RGBQUAD missing = img.GetPaletteColor(200);
    EXPECT_EQ(missing.rgbRed + missing.rgbGreen + missing.rgbBlue, 0);
}

struct ErrorCase {
    const char* name;
    std::function<Bytes()> make;
    DWORD type;
    const char* text;
};

std::vector<ErrorCase> ErrorCases()
{
    std::vector<ErrorCase> c;
    c.push_back({"shorter than the file header", [] { return Bytes{'B', 'M', 1, 2, 3}; }, 1, "Not a BMP"});
    c.push_back({"header size 20", [] {
                     Bytes b = BuildBmp(TrueColour(2, 2));
                     b[14] = 20;
                     return b;
                 },
                 1, "Error reading BMP info"});
    c.push_back({"information header cut", [] {
                     Bytes b = BuildBmp(TrueColour(2, 2));
                     b.resize(14 + 30);
                     return b;
                 },
                 1, "Error reading BMP info"});
    c.push_back({"108-byte header that counts colours", [] {
                     BmpSpec s = Indexed(4, 2, 8, kFull, Index8);
                     s.headerSize = 108;
                     return BuildBmp(s);
                 },
                 1, "Error reading BMP info"});
    c.push_back({"108-byte header with a short image size", [] {
                     BmpSpec s = TrueColour(4, 2);
                     s.headerSize = 108;
                     s.sizeImage = 10;
                     return BuildBmp(s);
                 },
                 1, "Error reading BMP info"});
    c.push_back({"8-bit with bit fields", [] {
                     BmpSpec s = Indexed(4, 2, 8, kFull, Index8);
                     s.compression = BI_BITFIELDS;
                     return BuildBmp(s);
                 },
                 1, "compression type not supported"});
    c.push_back({"24-bit with RLE8", [] {
                     BmpSpec s = TrueColour(4, 2);
                     s.compression = BI_RLE8;
                     return BuildBmp(s);
                 },
                 1, "unknown compression"});
    c.push_back({"32-bit with RLE4", [] {
                     BmpSpec s;
                     s.width = 2;
                     s.height = 2;
                     s.bits = 32;
                     s.compression = BI_RLE4;
                     s.pixels = Bytes(16, 0);
                     return BuildBmp(s);
                 },
                 1, "unknown compression"});
    c.push_back({"width 0", [] {
                     BmpSpec s = TrueColour(2, 2);
                     s.width = 0;
                     return BuildBmp(s);
                 },
                 1, "CxImage::Create : width and height must be greater than zero"});
    c.push_back({"more than 256 MiB of pixels", [] {
                     BmpSpec s = TrueColour(2, 2);
                     s.width = 20000;
                     s.height = 20000;
                     return BuildBmp(s);
                 },
                 1, "CXIMAGE_MAX_MEMORY exceeded"});
    c.push_back({"negative width", [] {
                     BmpSpec s = TrueColour(2, 2);
                     s.width = -2;
                     return BuildBmp(s);
                 },
                 1, "CXIMAGE_MAX_MEMORY exceeded"});
    c.push_back({"nothing an automatic decode knows", [] { return Bytes(64, 0x41); }, 0, "Decode: Unknown or wrong format"});
    c.push_back({"a code that names no decoder", [] { return BuildBmp(TrueColour(2, 2)); }, 7, "Decode: Unknown or wrong format"});
    return c;
}

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class BmpError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(BmpError, FailsWithItsText)
{
    CxImage img;
    EXPECT_FALSE(DecodeBytes(img, GetParam().make(), GetParam().type));
    EXPECT_STREQ(img.LastErrorText(), GetParam().text);
    EXPECT_FALSE(img.IsValid());
}

INSTANTIATE_TEST_SUITE_P(Files, BmpError, ::testing::ValuesIn(ErrorCases()),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(BmpDecoder, SizeOnlyAndCancel)
{
    BmpSpec s = TrueColour(7, 3);
    s.height = -3;
    CxImage img;
    img.SetEscape(-1);
    EXPECT_TRUE(DecodeBytes(img, BuildBmp(s), 1));
    EXPECT_STREQ(img.LastErrorText(), "output dimensions returned");
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 7u);
    EXPECT_EQ(img.GetHeight(), 3u);
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);

    CxImage cancelled;
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(cancelled, BuildBmp(s), 1));
    EXPECT_STREQ(cancelled.LastErrorText(), "Cancelled");
}

TEST(BmpDecoder, FailedDecodeRewindsTheStream)
{
    const Bytes junk(40, 0x41);
    FILE* fp = fmemopen(const_cast<std::uint8_t*>(junk.data()), junk.size(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 3, SEEK_SET);
    CxImage img;
    EXPECT_FALSE(img.Decode(fp, 0));
    EXPECT_EQ(std::ftell(fp), 3);
    std::fclose(fp);

    CxFile* none = nullptr;
    EXPECT_FALSE(img.Decode(none, 0));
    EXPECT_STREQ(img.LastErrorText(), "null file handler");
}

class LoadTest : public ::testing::Test {
protected:
    std::string Write(const char* name, const Bytes& bytes)
    {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    QTemporaryDir dir;
};

Bytes SmallGif()
{
    GifSpec g;
    g.width = 3;
    g.height = 2;
    g.globalTable = {{255, 0, 0}, {0, 255, 0}};
    g.frames.push_back(GifFrame{0, 0, 3, 2, false, {}, {0, 1, 0, 1, 0, 1}});
    return BuildGif(g);
}

TEST_F(LoadTest, TypedLoadFallsBackToDetection)
{
    const std::string gif = Write("a.bmp", SmallGif());
    CxImage img;
    EXPECT_TRUE(img.Load(gif.c_str(), CXIMAGE_FORMAT_BMP));
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_GIF);
    EXPECT_EQ(ToString(At(img, 1, 0)), "(0,255,0)");

    const std::string bmp = Write("b.gif", BuildBmp(TrueColour(3, 3)));
    EXPECT_TRUE(img.Load(bmp.c_str(), CXIMAGE_FORMAT_GIF));
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);
    EXPECT_TRUE(img.Load(bmp.c_str(), CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);
}

TEST_F(LoadTest, MissingFileKeepsTheText)
{
    CxImage img;
    img.Create(0, 1, 8); // leaves a text to keep
    const std::string before = img.LastErrorText();
    EXPECT_FALSE(img.Load(dir.filePath("none.bmp").toStdString().c_str(), CXIMAGE_FORMAT_BMP));
    EXPECT_EQ(before, img.LastErrorText());
    EXPECT_FALSE(img.Load(dir.filePath("none.bmp").toStdString().c_str(), CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_EQ(before, img.LastErrorText());
}

TEST_F(LoadTest, FailedLoadKeepsTheRightText)
{
    const std::string bad = Write("bad.bmp", Bytes{'B', 'M', 0, 0});
    CxImage img;
    // Typed: the BMP decoder's own message survives the automatic retry.
    EXPECT_FALSE(img.Load(bad.c_str(), CXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(img.LastErrorText(), "Not a BMP");
    // Automatic: the last message of the attempt.
    EXPECT_FALSE(img.Load(bad.c_str(), CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_STREQ(img.LastErrorText(), "Decode: Unknown or wrong format");

    // A PNG with code 4: nothing reads it, and the text from before stays.
    QImage png(4, 4, QImage::Format_RGB32);
    png.fill(Qt::red);
    const std::string pngPath = dir.filePath("x.png").toStdString();
    ASSERT_TRUE(png.save(QString::fromStdString(pngPath), "PNG"));
    CxImage p;
    p.Create(0, 0, 1); // "width and height must be greater than zero"
    EXPECT_FALSE(p.Load(pngPath.c_str(), 4));
    EXPECT_STREQ(p.LastErrorText(), "CxImage::Create : width and height must be greater than zero");
    EXPECT_FALSE(p.IsValid());
    // With code 0 the automatic attempt's last message stays.
    EXPECT_FALSE(p.Load(pngPath.c_str(), 0));
    EXPECT_STREQ(p.LastErrorText(), "Decode: Unknown or wrong format");
}

} // namespace

namespace {

TEST(CxIOFileTest, WrapsAStreamWithoutOwningIt)
{
    FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    {
        CxIOFile file(fp);
        EXPECT_EQ(file.Write("abcdef", 1, 6), 6u);
        EXPECT_TRUE(file.PutChar('g'));
        EXPECT_EQ(file.Size(), 7);
        EXPECT_EQ(file.Tell(), 7);
        EXPECT_TRUE(file.Seek(2, SEEK_SET));
        EXPECT_EQ(file.GetChar(), 'c');
        char line[8];
        EXPECT_STREQ(file.GetLine(line, sizeof(line)), "defg");
        EXPECT_TRUE(file.Eof());
        EXPECT_EQ(file.Error(), 0);
        EXPECT_TRUE(file.Flush());
        EXPECT_TRUE(file.Close()); // not ours: nothing closed
    }
    // Still open after the wrapper is gone.
    EXPECT_EQ(std::fseek(fp, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(fp), 'a');
    std::fclose(fp);

    CxIOFile none;
    char buf[4];
    EXPECT_TRUE(none.Close());
    EXPECT_EQ(none.Read(buf, 1, 4), 0u);
    EXPECT_EQ(none.Write(buf, 1, 4), 0u);
    EXPECT_FALSE(none.Seek(0, SEEK_SET));
    EXPECT_EQ(none.Tell(), 0);
    EXPECT_EQ(none.Size(), -1);
    EXPECT_FALSE(none.Flush());
    EXPECT_TRUE(none.Eof());
    EXPECT_EQ(none.Error(), -1);
    EXPECT_FALSE(none.PutChar('x'));
    EXPECT_EQ(none.GetChar(), -1);
    EXPECT_EQ(none.GetLine(buf, 4), nullptr);
    int n = 0;
    EXPECT_EQ(none.Scan("%d", &n), -1);
}

} // namespace
