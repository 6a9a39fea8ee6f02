// Tests of the text conversions: UTF-8, wide strings and GB18030 fields.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace qelm;

namespace {

std::string Bytes(std::initializer_list<unsigned char> b)
{
    return std::string(b.begin(), b.end());
}

// "前门摄像机" and U+20000 in GB18030, checked against the published tables.
const std::string kGate = "前门摄像机";
const std::string kGateGb = Bytes({0xC7, 0xB0, 0xC3, 0xC5, 0xC9, 0xE3, 0xCF, 0xF1, 0xBB, 0xFA});
const std::string kExtB = "𠀀";
const std::string kExtBGb = Bytes({0x95, 0x32, 0x82, 0x36});

} // namespace

TEST(TextTest, Gb18030RoundTrip)
{
    struct Case {
        std::string utf8, gb;
    } cases[] = {
        {"", ""},
        {"Camera 01", "Camera 01"},
        {kGate, kGateGb},
        {kExtB, kExtBGb},
        {"A" + kGate + kExtB + "z", "A" + kGateGb + kExtBGb + "z"},
        {"\xC2\xA5", Bytes({0x81, 0x30, 0x84, 0x36})}, // a BMP character that needs four bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        auto gb = Utf8ToGb18030(c.utf8);
        ASSERT_TRUE(gb.has_value());
        EXPECT_EQ(*gb, c.gb);
        auto back = Gb18030ToUtf8(c.gb);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, c.utf8);
    }
}

TEST(TextTest, InvalidInputDoesNotConvert)
{
    for (const std::string& bad : {Bytes({0xFF}), Bytes({0xE5, 0x89}), Bytes({0xED, 0xA0, 0x80}),
                                   Bytes({0xC0, 0xAF}), Bytes({0xF4, 0x90, 0x80, 0x80}), "ok" + Bytes({0x80})}) {
        EXPECT_FALSE(Utf8ToGb18030(bad).has_value()) << testing::PrintToString(bad);
        EXPECT_FALSE(IsValidUtf8(bad));
    }
    for (const std::string& bad : {Bytes({0x80}), Bytes({0xFF}), Bytes({0x81}), Bytes({0x81, 0x20}),
                                   Bytes({0x81, 0x30, 0x81}), "ok" + Bytes({0xC7})}) {
        EXPECT_FALSE(Gb18030ToUtf8(bad).has_value()) << testing::PrintToString(bad);
    }
}

TEST(TextTest, CopyToGbFieldCutsAtCharacterBoundaries)
{
    // GB18030: 'A' (1) 前 (2) 门 (2) 𠀀 (4) 'B' (1): whole characters end at 1, 3, 5, 9, 10.
    const std::string text = "A前门" + kExtB + "B";
    const std::string gb = "A" + kGateGb.substr(0, 4) + kExtBGb + "B";
    struct Case {
        std::size_t field, expected;
    } cases[] = {{1, 0}, {2, 1}, {3, 1}, {4, 3}, {5, 3}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {10, 9}, {11, 10}, {16, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        char buf[32];
        std::memset(buf, 0x5A, sizeof buf);
        EXPECT_EQ(CopyToGbField(buf, c.field, text), c.expected);
        EXPECT_EQ(std::string(buf, c.expected), gb.substr(0, c.expected));
        for (std::size_t i = c.expected; i < c.field; ++i)
            ASSERT_EQ(buf[i], 0) << "byte " << i << " of the field is not zero";
        EXPECT_EQ(buf[c.field], 0x5A) << "wrote past the field";
        EXPECT_EQ(ReadGbField(buf, c.field), *Gb18030ToUtf8(gb.substr(0, c.expected)));
    }
    char untouched = 0x5A;
    EXPECT_EQ(CopyToGbField(&untouched, 0, text), 0u);
    EXPECT_EQ(untouched, 0x5A);
}

TEST(TextTest, CopyToGbFieldReplacesMalformedUtf8)
{
    char buf[16];
    std::string text = "a" + Bytes({0xFF}) + "前" + Bytes({0xE5, 0x89});
    std::size_t n = CopyToGbField(buf, sizeof buf, text);
    EXPECT_EQ(std::string(buf, n), "a?" + kGateGb.substr(0, 2) + "??");
    // An embedded NUL ends the text.
    n = CopyToGbField(buf, sizeof buf, std::string("ab\0cd", 5));
    EXPECT_EQ(std::string(buf, n), "ab");
}

TEST(TextTest, ReadGbField)
{
    struct Case {
        std::string field;
        std::string expected;
    } cases[] = {
        {kGateGb + std::string(6, '\0'), kGate},          // zero-filled record
        {kGateGb, kGate},                                 // fills the field, no terminator
        {"ab" + std::string("\0xyz", 4), "ab"},           // stops at the first NUL
        {"A" + Bytes({0x81, 0x20}) + "B", "A? B"},        // lead byte with a bad trail
        {"A" + Bytes({0xFF}) + "B", "A?B"},
        {"A" + kGateGb.substr(0, 1), "A?"},               // a character cut by the field end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        EXPECT_EQ(ReadGbField(c.field.data(), c.field.size()), c.expected);
    }
    EXPECT_EQ(ReadGbField(nullptr, 8), "");
}

TEST(TextTest, CopyBoundedNeverSplitsACharacter)
{
    // 'a' (1) 前 (3) 'b' (1) 𠀀 (4): whole characters end at 1, 4, 5, 9.
    const std::string text = "a前b" + kExtB;
    struct Case {
        std::size_t size, expected;
    } cases[] = {{1, 0}, {2, 1}, {4, 1}, {5, 4}, {6, 5}, {9, 5}, {10, 9}, {20, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char buf[24];
        std::memset(buf, 0x5A, sizeof buf);
        EXPECT_EQ(CopyBounded(buf, c.size, text), c.expected);
        EXPECT_EQ(std::string(buf), text.substr(0, c.expected));
        EXPECT_EQ(buf[c.size], 0x5A) << "wrote past the array";
    }
    char one = 0x5A;
    EXPECT_EQ(CopyBounded(&one, 0, text), 0u);
    EXPECT_EQ(one, 0x5A);
    char buf[8];
    EXPECT_EQ(CopyBounded(buf, sizeof buf, std::string("ab\0cd", 5)), 2u);
    EXPECT_STREQ(buf, "ab");
}

TEST(TextTest, WideRoundTripAndFailureLeavesOutput)
{
    const std::string utf8 = "IPC " + kGate + kExtB;
    std::wstring wide;
    ASSERT_EQ(AnsiToWide(utf8.c_str(), wide), 1);
    EXPECT_EQ(wide, std::wstring(L"IPC 前门摄像机") + static_cast<wchar_t>(0x20000));
    std::string back;
    ASSERT_EQ(WideToAnsi(wide.c_str(), back), 1);
    EXPECT_EQ(back, utf8);
    std::wstring fromString;
    ASSERT_EQ(AnsiToWide(utf8, fromString), 1);
    EXPECT_EQ(fromString, wide);

    std::wstring keepW = L"keep";
    EXPECT_EQ(AnsiToWide(("x" + Bytes({0xFF})).c_str(), keepW), 0);
    EXPECT_EQ(AnsiToWide(static_cast<const char*>(nullptr), keepW), 0);
    EXPECT_EQ(keepW, L"keep");

    std::string keep = "keep";
    for (wchar_t bad : {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)}) {
        std::wstring w = L"a";
        w.push_back(bad);
        EXPECT_EQ(WideToAnsi(w, keep), 0);
        EXPECT_EQ(keep, "keep");
    }
    EXPECT_EQ(WideToAnsi(static_cast<const wchar_t*>(nullptr), keep), 0);
    EXPECT_EQ(keep, "keep");
}

TEST(TextTest, CharCountAndQtBoundary)
{
    EXPECT_EQ(Utf8CharCount(""), 0u);
    EXPECT_EQ(Utf8CharCount("abc"), 3u);
    EXPECT_EQ(Utf8CharCount(kGate), 5u);
    EXPECT_EQ(Utf8CharCount("a" + kExtB), 2u);
    EXPECT_EQ(Utf8CharCount("a" + Bytes({0xFF, 0xE5, 0x89})), 4u); // malformed bytes count one each

    QString q = ToQ(kGate);
    EXPECT_EQ(q.size(), 5);
    EXPECT_EQ(q, QString::fromUtf8("前门摄像机"));
    EXPECT_EQ(FromQ(q), kGate);
}

TEST(TextTest, ConversionsFromSeveralThreads)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                std::string s = kGate + std::to_string(t * 100000 + i) + kExtB;
                auto gb = Utf8ToGb18030(s);
                auto back = gb ? Gb18030ToUtf8(*gb) : std::nullopt;
                if (!back || *back != s)
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
