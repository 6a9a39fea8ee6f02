// Tests of the GIF decoder: generated files for each variant (depths,
// interlacing, frames, transparency, true-colour GIFs, odd screens) checked at
// chosen pixels and against Qt's reader, and broken streams that must decode
// what they can without writing outside the image.
#include "image_files.h"
#include "ui/image/ximagif.h"
#include "ui/image/ximage.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

using namespace imgtest;

namespace {

GifFrame Frame(int left, int top, int w, int h, const std::function<int(int, int)>& index)
{
    GifFrame f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.pixels.push_back(static_cast<std::uint8_t>(index(x, y)));
    return f;
}

// Frame n of a GIF as Qt composes it.
QImage QtFrame(const Bytes& gif, int n)
{
    QByteArray data(reinterpret_cast<const char*>(gif.data()), static_cast<qsizetype>(gif.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "GIF");
    QImage img;
    for (int i = 0; i <= n; ++i)
        img = reader.read();
    return img;
}

CxImage Decode(const Bytes& gif, long frame = 0)
{
    CxImage img;
    img.SetFrame(frame);
    EXPECT_TRUE(DecodeBytes(img, gif, CXIMAGE_FORMAT_GIF)) << img.LastErrorText();
    return img;
}

TEST(GifDecoder, Gif87aWithFourColours)
{
    GifSpec g;
    g.version = "GIF87a";
    g.width = 10;
    g.height = 10;
    g.globalTable = Palette(4, 7);
    g.frames.push_back(Frame(0, 0, 10, 10, [](int x, int y) { return (x * y + x) % 4; }));
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetWidth(), 10u);
    EXPECT_EQ(img.GetHeight(), 10u);
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_GIF);
    EXPECT_EQ(img.GetFrameCount(), 1);
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_EQ(img.GetPixelIndex(3, 9), 3); // x 3, top row
    EXPECT_EQ(img.GetPixelIndex(3, 8), 2); // x 3, row 1 from the top: 3*1+3 = 6 -> 2
    EXPECT_EQ(CompareWithQt(img, QtDecode(file, "GIF")), "");
}

// One file per depth and size, pixels against Qt's reader.
struct GifCase {
    const char* name;
    std::function<GifSpec()> make;
    int bpp;
    // Qt 6 puts the rows of interlaced images 3 or 4 rows high out of order
    // (the frame pixels are checked against the indices written either way).
    bool qtOracle = true;
};

std::vector<GifCase> Cases()
{
    std::vector<GifCase> c;
    c.push_back({"two colours, odd width", [] {
                     GifSpec g;
                     g.width = 11;
                     g.height = 3;
                     g.globalTable = {{0, 0, 0}, {255, 255, 255}};
                     g.frames.push_back(Frame(0, 0, 11, 3, [](int x, int y) { return (x / 2 + y) % 2; }));
                     return g;
                 },
                 1});
    c.push_back({"sixteen colours, odd width", [] {
                     GifSpec g;
                     g.width = 9;
                     g.height = 5;
                     g.globalTable = Palette(16, 4);
                     g.frames.push_back(Frame(0, 0, 9, 5, [](int x, int y) { return (x + 3 * y) % 16; }));
                     return g;
                 },
                 4});
    c.push_back({"256 colours, the code table fills and clears", [] {
                     GifSpec g;
                     g.width = 120;
                     g.height = 90;
                     g.globalTable = Palette(256, 5);
                     std::uint32_t v = 99;
                     g.frames.push_back(Frame(0, 0, 120, 90, [&](int, int) {
                         v = v * 1664525u + 1013904223u;
                         return static_cast<int>(v >> 24);
                     }));
                     return g;
                 },
                 8});
    c.push_back({"long runs (strings up to the table's longest)", [] {
                     GifSpec g;
                     g.width = 200;
                     g.height = 60;
                     g.globalTable = Palette(4, 6);
                     g.frames.push_back(Frame(0, 0, 200, 60, [](int x, int y) { return (x + y) / 97 % 4; }));
                     return g;
                 },
                 4});
    c.push_back({"interlaced, 16 rows", [] {
                     GifSpec g;
                     g.width = 4;
                     g.height = 16;
                     g.globalTable = Palette(16, 8);
                     GifFrame f = Frame(0, 0, 4, 16, [](int, int y) { return y; });
                     f.interlaced = true;
                     g.frames.push_back(f);
                     return g;
                 },
                 4});
    c.push_back({"interlaced, 3 rows (passes 1 and 2 start below)", [] {
                     GifSpec g;
                     g.width = 5;
                     g.height = 3;
                     g.globalTable = Palette(4, 9);
                     GifFrame f = Frame(0, 0, 5, 3, [](int x, int y) { return (x + y) % 4; });
                     f.interlaced = true;
                     g.frames.push_back(f);
                     return g;
                 },
                 4, false});
    c.push_back({"interlaced, 5 rows (pass 2 starts at the last row)", [] {
                     GifSpec g;
                     g.width = 3;
                     g.height = 5;
                     g.globalTable = Palette(4, 9);
                     GifFrame f = Frame(0, 0, 3, 5, [](int x, int y) { return (x + y) % 4; });
                     f.interlaced = true;
                     g.frames.push_back(f);
                     return g;
                 },
                 4});
    c.push_back({"local colour table", [] {
                     GifSpec g;
                     g.width = 6;
                     g.height = 4;
                     g.globalTable = Palette(2, 10);
                     GifFrame f = Frame(0, 0, 6, 4, [](int x, int y) { return (x + y) % 8; });
                     f.localTable = Palette(8, 11);
                     g.frames.push_back(f);
                     return g;
                 },
                 4});
    c.push_back({"frame inside a larger screen", [] {
                     GifSpec g;
                     g.width = 7;
                     g.height = 6;
                     g.globalTable = Palette(4, 12);
                     g.background = 0;
                     g.frames.push_back(Frame(2, 1, 3, 4, [](int x, int y) { return 1 + (x + y) % 3; }));
                     return g;
                 },
                 4});
    c.push_back({"extensions before the image", [] {
                     GifSpec g;
                     g.width = 4;
                     g.height = 4;
                     g.globalTable = Palette(4, 13);
                     g.comment = true;
                     g.loopExtension = true;
                     GifFrame f = Frame(0, 0, 4, 4, [](int x, int) { return x; });
                     f.gce = true;
                     f.delay = 25;
                     g.frames.push_back(f);
                     return g;
                 },
                 4});
    return c;
}

void PrintTo(const GifCase& c, std::ostream* os) { *os << c.name; }

class GifVariant : public ::testing::TestWithParam<GifCase> {};

TEST_P(GifVariant, AgreesWithQt)
{
    const GifSpec spec = GetParam().make();
    const Bytes file = BuildGif(spec);
    CxImage img = Decode(file);
    EXPECT_EQ(static_cast<long>(img.GetWidth()), spec.width);
    EXPECT_EQ(static_cast<long>(img.GetHeight()), spec.height);
    EXPECT_EQ(img.GetBpp(), GetParam().bpp);
    // The frame's own pixels, straight from the indices written.
    const GifFrame& f = spec.frames[0];
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            ASSERT_EQ(img.GetPixelIndex(f.left + x, spec.height - 1 - (f.top + y)), f.pixels[y * f.width + x])
                << "at (" << x << "," << y << ")";
    if (GetParam().qtOracle) {
        EXPECT_EQ(CompareWithQt(img, QtDecode(file, "GIF")), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, GifVariant, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<GifCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(GifDecoder, InterlacedRowsLandInPassOrder)
{
    GifSpec g;
    g.width = 2;
    g.height = 16;
    g.globalTable = Palette(16, 3);
    GifFrame f = Frame(0, 0, 2, 16, [](int, int y) { return y; });
    f.interlaced = true;
    g.frames.push_back(f);
    const Bytes file = BuildGif(g);
    // The stream carries rows 0, 8, 4, 12, 2, 6, 10, 14, 1, 3, ... in that order;
    // each must arrive at its own row.
    CxImage img = Decode(file);
    for (int y = 0; y < 16; ++y)
        EXPECT_EQ(img.GetPixelIndex(1, 15 - y), y);
}

TEST(GifDecoder, AnimationDecodesItsFirstFrameAndCountsTheRest)
{
    GifSpec g;
    g.width = 6;
    g.height = 4;
    g.globalTable = Palette(4, 14);
    GifFrame f0 = Frame(0, 0, 6, 4, [](int x, int y) { return (x + y) % 4; });
    f0.gce = true;
    f0.gceFlags = 1 << 2; // keep
    f0.delay = 10;
    GifFrame f1 = Frame(1, 1, 3, 2, [](int, int) { return 3; });
    f1.gce = true;
    f1.gceFlags = 2 << 2; // clear to background afterwards
    f1.delay = 20;
    GifFrame f2 = Frame(2, 0, 2, 2, [](int, int) { return 2; });
    f2.gce = true;
    f2.delay = 30;
    g.frames = {f0, f1, f2};
    const Bytes file = BuildGif(g);

    CxImage first = Decode(file, 0);
    EXPECT_EQ(first.GetFrameCount(), 3);
    EXPECT_EQ(first.GetFrameDelay(), 10u);
    EXPECT_EQ(first.GetDisposalMethod(), 1);
    EXPECT_EQ(CompareWithQt(first, QtFrame(file, 0)), "");

    // Frame 1 drawn over frame 0.
    CxImage second = Decode(file, 1);
    EXPECT_EQ(second.GetFrameCount(), 3);
    EXPECT_EQ(second.GetFrameDelay(), 20u);
    EXPECT_EQ(second.GetPixelIndex(2, 4 - 1 - 2), 3);
    EXPECT_EQ(second.GetPixelIndex(0, 3), 0);
    EXPECT_EQ(CompareWithQt(second, QtFrame(file, 1)), "");

    // Frame 2 after a frame with disposal 2: the canvas is cleared with the
    // first transparent index as a byte (none: 255, index 15 of a 4-bit canvas).
    CxImage third = Decode(file, 2);
    EXPECT_EQ(third.GetPixelIndex(2, 3), 2);
    EXPECT_EQ(third.GetPixelIndex(3, 2), 2);
    EXPECT_EQ(third.GetPixelIndex(0, 0), 15);
    EXPECT_EQ(third.GetPixelIndex(1, 2), 15);

    CxImage beyond;
    beyond.SetFrame(3);
    EXPECT_FALSE(DecodeBytes(beyond, file, CXIMAGE_FORMAT_GIF));
    EXPECT_EQ(beyond.GetFrameCount(), 3);
}

TEST(GifDecoder, DisposalThreeRestoresThePreviousPicture)
{
    GifSpec g;
    g.width = 4;
    g.height = 2;
    g.globalTable = Palette(4, 15);
    GifFrame f0 = Frame(0, 0, 4, 2, [](int, int) { return 1; });
    GifFrame f1 = Frame(0, 0, 2, 1, [](int, int) { return 2; });
    f1.gce = true;
    f1.gceFlags = 3 << 2;
    GifFrame f2 = Frame(3, 1, 1, 1, [](int, int) { return 3; });
    g.frames = {f0, f1, f2};
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file, 2);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 1); // frame 1's pixels are gone again
    EXPECT_EQ(img.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(3, 0), 3);
    EXPECT_EQ(CompareWithQt(img, QtFrame(file, 2)), "");
}

TEST(GifDecoder, TrueColourGifComposesEveryFrame)
{
    // No global table, four frames each smaller than the screen both ways.
    GifSpec g;
    g.width = 8;
    g.height = 6;
    const int lefts[4] = {0, 4, 0, 4};
    const int tops[4] = {0, 0, 3, 3};
    for (int i = 0; i < 4; ++i) {
        GifFrame f = Frame(lefts[i], tops[i], 4, 3, [i](int x, int y) { return (x + y + i) % 4; });
        f.localTable = Palette(4, 20 + i);
        g.frames.push_back(f);
    }
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetWidth(), 8u);
    EXPECT_EQ(img.GetHeight(), 6u);
    EXPECT_EQ(img.GetFrameCount(), 4);
    for (int i = 0; i < 4; ++i) {
        const std::vector<Rgb> pal = Palette(4, 20 + i);
        EXPECT_EQ(ToString(At(img, lefts[i] + 1, tops[i] + 2)), ToString(pal[(1 + 2 + i) % 4]));
    }
    EXPECT_EQ(CompareWithQt(img, QtFrame(file, 3)), "");
}

TEST(GifDecoder, TrueColourTransparencyComesFromTheLastControlBlock)
{
    GifSpec g;
    g.width = 4;
    g.height = 4;
    for (int i = 0; i < 2; ++i) {
        GifFrame f = Frame(i * 2, i * 2, 2, 2, [](int x, int) { return x; });
        f.localTable = {{10, 20, 30}, {40, 50, 60}};
        if (i == 1) {
            f.gce = true;
            f.gceFlags = 1;
            f.transIndex = 1;
        }
        g.frames.push_back(f);
    }
    CxImage img = Decode(BuildGif(g));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetTransIndex(), 0);
    const RGBQUAD t = img.GetTransColor();
    EXPECT_EQ(t.rgbRed, 40);
    EXPECT_EQ(t.rgbGreen, 50);
    EXPECT_EQ(t.rgbBlue, 60);
}

TEST(GifDecoder, TransparencyWithA32ColourTable)
{
    GifSpec g;
    g.width = 5;
    g.height = 3;
    g.globalTable = Palette(32, 30);
    GifFrame f = Frame(0, 0, 5, 3, [](int x, int y) { return x == y ? 5 : x + 10; });
    f.gce = true;
    f.gceFlags = 1;
    f.transIndex = 5;
    g.frames.push_back(f);
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetTransIndex(), 5);
    EXPECT_EQ(img.GetBpp(), 8);
    for (int i = 32; i < 256; ++i) {
        const RGBQUAD e = img.GetPaletteColor(static_cast<BYTE>(i));
        ASSERT_TRUE(e.rgbRed == 255 && e.rgbGreen == 255 && e.rgbBlue == 255) << i;
    }
    EXPECT_EQ(img.GetPixelIndex(1, 1), 5);
    EXPECT_EQ(CompareWithQt(img, QtDecode(file, "GIF")), ""); // Qt's transparent pixels are skipped
}

TEST(GifDecoder, ControlBlockOfALaterFrameDoesNotReachTheFirst)
{
    GifSpec g;
    g.width = 3;
    g.height = 1;
    g.globalTable = Palette(4, 31);
    g.frames.push_back(Frame(0, 0, 3, 1, [](int x, int) { return x; }));
    GifFrame f1 = Frame(0, 0, 3, 1, [](int, int) { return 2; });
    f1.gce = true;
    f1.gceFlags = 1;
    f1.transIndex = 2;
    f1.delay = 77;
    g.frames.push_back(f1);
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_EQ(img.GetFrameDelay(), 0u);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 2);
    EXPECT_EQ(CompareWithQt(img, QtFrame(file, 0)), "");
    EXPECT_EQ(Decode(file, 1).GetTransIndex(), -1); // the canvas keeps the first frame's
}

TEST(GifDecoder, ZeroScreenTakesTheFirstImageSize)
{
    GifSpec g;
    g.width = 0;
    g.height = 0;
    g.globalTable = Palette(4, 32);
    g.frames.push_back(Frame(0, 0, 5, 3, [](int x, int) { return x % 4; }));
    CxImage img = Decode(BuildGif(g));
    EXPECT_EQ(img.GetWidth(), 5u);
    EXPECT_EQ(img.GetHeight(), 3u);
    EXPECT_EQ(img.GetPixelIndex(4, 2), 0);
    EXPECT_EQ(img.GetPixelIndex(3, 0), 3);
}

TEST(GifDecoder, SizeOnly)
{
    GifSpec g;
    g.width = 321;
    g.height = 123;
    g.globalTable = Palette(4, 33);
    g.frames.push_back(Frame(0, 0, 2, 2, [](int, int) { return 1; }));
    CxImage img;
    img.SetEscape(-1);
    EXPECT_TRUE(DecodeBytes(img, BuildGif(g), CXIMAGE_FORMAT_GIF));
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 321u);
    EXPECT_EQ(img.GetHeight(), 123u);
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_GIF);
}

TEST(GifDecoder, ExtensionsAreRead)
{
    GifSpec g;
    g.width = 2;
    g.height = 2;
    g.globalTable = Palette(2, 34);
    g.comment = true;
    g.loopExtension = true;
    g.frames.push_back(Frame(0, 0, 2, 2, [](int x, int) { return x; }));
    const Bytes file = BuildGif(g);
    FILE* fp = fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb");
    ASSERT_NE(fp, nullptr);
    CxIOFile io(fp);
    CxImageGIF gif;
    ASSERT_TRUE(gif.Decode(&io));
    EXPECT_STREQ(gif.GetComment(), "made by the tests");
    EXPECT_EQ(gif.GetLoops(), 0);
    std::fclose(fp);
}

// A stream cut inside the image data still gives the lines read so far.
TEST(GifDecoder, TruncatedStreamKeepsWhatWasDecoded)
{
    GifSpec g;
    g.width = 8;
    g.height = 8;
    g.globalTable = Palette(16, 35);
    g.frames.push_back(Frame(0, 0, 8, 8, [](int x, int y) { return (x * 7 + y * 3) % 16; }));
    Bytes file = BuildGif(g);
    file.resize(file.size() - 12);
    CxImage img = Decode(file);
    ASSERT_TRUE(img.IsValid());
    const QImage qt = QtDecode(file, "GIF");
    ASSERT_FALSE(qt.isNull());
    // Qt paints what it never decoded black; compare the rows it decoded.
    int decoded = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (qt.pixel(x, y) != qRgb(0, 0, 0))
                decoded = y * 8 + x + 1;
    EXPECT_GT(decoded, 16);
    EXPECT_LT(decoded, 64);
    EXPECT_EQ(CompareWithQt(img, qt, [&](int x, int y) { return y * 8 + x < decoded; }), "");
    EXPECT_EQ(img.GetPixelIndex(7, 0), 0); // never reached: zero
}

// Raw LZW codes of a given width sequence, packed LSB first into sub-blocks.
Bytes RawCodes(const std::vector<std::pair<int, int>>& codes)
{
    Bytes data;
    std::uint32_t acc = 0;
    int n = 0;
    for (auto [code, width] : codes) {
        acc |= static_cast<std::uint32_t>(code) << n;
        n += width;
        while (n >= 8) {
            data.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            n -= 8;
        }
    }
    if (n)
        data.push_back(static_cast<std::uint8_t>(acc));
    Bytes out;
    PutSubBlocks(out, data);
    return out;
}

Bytes GifWithData(int w, int h, int codeSize, const Bytes& subBlocks, int screenW = 0, int screenH = 0)
{
    GifSpec g;
    g.width = screenW ? screenW : w;
    g.height = screenH ? screenH : h;
    g.globalTable = Palette(4, 40);
    g.trailer = false;
    Bytes out = BuildGif(g);
    out.push_back(',');
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<unsigned>(w));
    Put16(out, static_cast<unsigned>(h));
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(codeSize));
    out.insert(out.end(), subBlocks.begin(), subBlocks.end());
    return out;
}

TEST(GifDecoder, SelfReferencingCodeIsCappedAndStaysInside)
{
    // clear, 0, then 7 (above the next free code 6: a bad code) makes entry 7
    // its own prefix; every later 7 unwinds a string that never ends.
    Bytes blocks = RawCodes({{4, 3}, {0, 3}, {7, 3}, {7, 3}, {7, 4}, {7, 4}, {7, 4}, {5, 4}});
    Bytes file = GifWithData(64, 64, 2, blocks);
    // A good second image follows; the bad codes resynchronise onto it.
    const Bytes good = RawCodes({{4, 3}, {1, 3}, {6, 3}, {5, 3}});
    file.insert(file.end(), {',', 0, 0, 0, 0, 3, 0, 1, 0, 0, 2});
    file.insert(file.end(), good.begin(), good.end());
    file.push_back(';');
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetWidth(), 64u);
    EXPECT_EQ(img.GetFrameCount(), 2);
    CxImage second = Decode(file, 1);
    EXPECT_EQ(second.GetPixelIndex(0, 63), 1);
    EXPECT_EQ(second.GetPixelIndex(2, 63), 1);
}

TEST(GifDecoder, MoreDataThanTheImageHoldsStopsAtTheLastRow)
{
    std::vector<std::uint8_t> px(300, 3);
    Bytes blocks;
    PutSubBlocks(blocks, LzwEncode(px, 2));
    CxImage img = Decode(GifWithData(4, 2, 2, blocks)); // 8 pixels, 300 given
    EXPECT_EQ(img.GetPixelIndex(3, 0), 3);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 3);
}

TEST(GifDecoder, UnsupportedCodeSizeLeavesTheFrameEmpty)
{
    Bytes blocks;
    PutSubBlocks(blocks, Bytes{1, 2, 3});
    for (int size : {1, 10, 12}) {
        CxImage img = Decode(GifWithData(3, 2, size, blocks));
        EXPECT_TRUE(img.IsValid());
        EXPECT_EQ(img.GetPixelIndex(2, 1), 0);
    }
}

TEST(GifDecoder, FramesOutsideTheScreenArePassedOver)
{
    GifSpec g;
    g.width = 6;
    g.height = 4;
    g.globalTable = Palette(4, 41);
    g.frames.push_back(Frame(4, 0, 5, 2, [](int, int) { return 3; }));   // runs off the right
    g.frames.push_back(Frame(0, 2, 2, 3, [](int, int) { return 3; }));   // runs off the bottom
    g.frames.push_back(Frame(0, 0, 6, 4, [](int x, int) { return x % 4; }));
    const Bytes file = BuildGif(g);
    CxImage img = Decode(file);
    EXPECT_EQ(img.GetFrameCount(), 1);
    EXPECT_EQ(img.GetPixelIndex(5, 3), 1);
    EXPECT_EQ(img.GetPixelIndex(4, 0), 0);
}

TEST(GifDecoder, BrokenStreamsFail)
{
    CxImage img;
    img.Create(0, 0, 8); // a text that must survive
    const std::string before = img.LastErrorText();

    const Bytes notGif = {'G', 'I', 'F', '9', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(DecodeBytes(img, notGif, CXIMAGE_FORMAT_GIF));
    EXPECT_EQ(before, img.LastErrorText());

    // A broken extension before the first image: nothing decoded.
    GifSpec g;
    g.width = 2;
    g.height = 2;
    g.globalTable = Palette(2, 42);
    g.trailer = false;
    Bytes broken = BuildGif(g);
    broken.insert(broken.end(), {'!', 0xF9, 5, 0, 0, 0, 0, 0, 0});
    GifSpec body;
    body.width = 2;
    body.height = 2;
    body.globalTable = Palette(2, 42);
    body.frames.push_back(Frame(0, 0, 2, 2, [](int, int) { return 1; }));
    const Bytes rest = BuildGif(body);
    broken.insert(broken.end(), rest.begin() + 13 + 6, rest.end());
    EXPECT_FALSE(DecodeBytes(img, broken, CXIMAGE_FORMAT_GIF));
    EXPECT_FALSE(img.IsValid());

    // Header only.
    const Bytes header(rest.begin(), rest.begin() + 13 + 6);
    EXPECT_FALSE(DecodeBytes(img, header, CXIMAGE_FORMAT_GIF));
    EXPECT_EQ(img.GetFrameCount(), 0);
}

TEST(GifDecoder, NeverWritesOutsideForAnyCut)
{
    // Every prefix of a multi-frame, interlaced, local-table file decodes
    // without fault (ASan watches).
    GifSpec g;
    g.width = 9;
    g.height = 7;
    g.globalTable = Palette(8, 43);
    GifFrame a = Frame(0, 0, 9, 7, [](int x, int y) { return (x + y) % 8; });
    a.interlaced = true;
    a.gce = true;
    a.gceFlags = 1 | (2 << 2);
    a.transIndex = 3;
    GifFrame b = Frame(3, 2, 4, 4, [](int x, int) { return x; });
    b.localTable = Palette(256, 44);
    g.frames = {a, b};
    g.comment = true;
    const Bytes file = BuildGif(g);
    for (std::size_t n = 0; n <= file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        for (long frame : {0L, 1L}) {
            CxImage img;
            img.SetFrame(frame);
            DecodeBytes(img, cut, CXIMAGE_FORMAT_GIF);
            if (img.IsValid()) {
                EXPECT_EQ(img.GetWidth(), 9u);
            }
        }
    }
}

} // namespace
