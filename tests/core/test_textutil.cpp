// Tests of Base64, the character helpers, the pinyin search matcher and the
// bounded queue.
#include "core/textutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string Encode(const std::string& in)
{
    char out[256];
    int n = Base64EncodeBuf(in.data(), static_cast<int>(in.size()), out, sizeof out);
    EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
    return out;
}

TEST(Base64Test, EncodeVectors)
{
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},         {"a", "YQ=="},         {"ab", "YWI="},         {"abc", "YWJj"},
        {"abcd", "YWJjZA=="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\x00", "//4A"},
    };
    for (const auto& c : cases) {
        std::string in = c.in;
        if (std::strcmp(c.out, "//4A") == 0)
            in = std::string("\xff\xfe\x00", 3);
        EXPECT_EQ(Encode(in), c.out) << c.out;
    }
    EXPECT_EQ(Base64Length(0, true), 0);
    EXPECT_EQ(Base64Length(4, true), 8);
    EXPECT_EQ(Base64Length(9, false), 6);
}

TEST(Base64Test, DecodeSkipsForeignCharactersAndStopsAtPadding)
{
    struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"YWI=", "ab"},
        {"YW\r\nJj", "abc"},
        {"YQ==YWJj", "a"},
        {"Zm9v\xc3\xa9YmFy", "foobar"},
        {"//4A", std::string("\xff\xfe\x00", 3)},
        {"", ""},
    };
    for (const auto& c : cases) {
        unsigned char out[64];
        std::memset(out, 0xAA, sizeof out);
        int n = Base64DecodeBuf(c.in, static_cast<int>(std::strlen(c.in)), out, sizeof out);
        ASSERT_EQ(n, static_cast<int>(c.out.size())) << c.in;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(n)), c.out);
        EXPECT_EQ(out[n], 0) << "a zero byte follows";
    }
}

TEST(Base64Test, SmallBuffersAreRefusedNotOverrun)
{
    char out[8];
    EXPECT_EQ(Base64EncodeBuf("abcdef", 6, out, 8), -1) << "8 characters need 9 bytes";
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Base64EncodeBuf("abcdef", 6, out, 0), -1);
    char fits[9];
    EXPECT_EQ(Base64EncodeBuf("abcdef", 6, fits, 9), 8);

    unsigned char bytes[3];
    EXPECT_EQ(Base64DecodeBuf("YWJj", 4, bytes, 3), -1) << "3 bytes and the zero need 4";
    unsigned char enough[4];
    EXPECT_EQ(Base64DecodeBuf("YWJj", 4, enough, 4), 3);
}

TEST(DbcsTest, CharacterCountsAndPrefixes)
{
    EXPECT_EQ(DbcsCharCount("前门A1"), 4);
    EXPECT_EQ(DbcsCharCount(""), 0);
    EXPECT_EQ(DbcsLeft("前门A1", 0), "");
    EXPECT_EQ(DbcsLeft("前门A1", 1), "前");
    EXPECT_EQ(DbcsLeft("前门A1", 3), "前门A");
    EXPECT_EQ(DbcsLeft("前门A1", 9), "前门A1");
    EXPECT_EQ(IsStrDiffer("前门", "前门"), 0);
    EXPECT_EQ(IsStrDiffer("前门", "前"), 1);
    EXPECT_EQ(IsStrDiffer("a", "A"), 1);
}

TEST(DbcsTest, ALeadByteBeforeTheTerminatorNeverSkipsIt)
{
    // Each buffer ends in a lead byte, then the terminator, then bytes that must not be read.
    const char lead3[] = {'a', '\xe5', '\0', '\x89', '\x8d', 'X', '\0'};
    EXPECT_EQ(DbcsCharCount(lead3), 2);
    EXPECT_EQ(DbcsLeft(lead3, 5), std::string("a\xe5"));
    const char lead2[] = {'\xe5', '\x89', '\0', '\x8d', '\0'};
    EXPECT_EQ(DbcsCharCount(lead2), 2) << "a cut character counts byte by byte";
    EXPECT_FALSE(MatchPinyinKey(lead3, "aq"));
}

TEST(PinyinTest, InitialsFollowTheStandardBoundaries)
{
    struct {
        unsigned lead, trail;
        char letter;
        bool match;
    } cases[] = {
        {0xB0, 0xA1, 'a', true},  // first character of the table
        {0xD7, 0xF9, 'z', true},  // last one
        {0xBB, 0xF6, 'h', true},  // last character of h
        {0xBB, 0xF7, 'j', true},  // the next one begins with j
        {0xBB, 0xF7, 'h', false},
        {0xBB, 0xFE, 'j', true},
        {0xC4, 0xC2, 'm', true},  // last character of m
        {0xC4, 0xC3, 'n', true},  // the next one begins with n
        {0xC4, 0xC3, 'm', false},
        {0xC4, 0xC7, 'n', true},
        {0xB0, 0xA0, 'a', false}, // before the table
        {0xD8, 0xA1, 'z', false}, // level-2 characters have no initial
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPinyinInitial(static_cast<unsigned char>(c.lead), static_cast<unsigned char>(c.trail), c.letter),
                  c.match)
            << std::hex << c.lead << c.trail << " " << c.letter;
}

TEST(PinyinTest, MatchPinyinKey)
{
    struct {
        const char* name;
        const char* key;
        bool match;
    } cases[] = {
        {"张国", "zg", true},       {"张国", "ZG", true},       {"张国", "zh", false},
        {"张国强", "zg", true},     {"张国", "张g", true},      {"张国", "国", false},
        {"abc", "ab", true},        {"cab", "ab", false},       {"ABC", "ab", true},
        {"cabd", "*ab*", true},     {"abcd", "*ab*", false},    {"abdc", "*ab*", false},
        {"ab", "*ab*", false},      {"xaby", "*ab*", true},     {"x", "a**", false},
        {"aab", "a**", false},      {"ab", "*a*b*", false},     {"张国", "*g", true},
        {"张国", "*z", false},      {"张国强", "z*q", true},    {"张国强", "z*g", false},
        {"ab", "a*b", true},        {"a", "a*b", false},        {"张国", "张*", true},
        {"机场", "jc", true},       {"机场", "hc", false},      {"那边", "nb", true},
        {"那边", "mb", false},      {"Cam 1", "cam", true},     {"前门1", "qm1", true},
        {"", "a", false},           {"abc", "", true},          {"abc", "*", true},
        {"abc", "**", true},        {"前门", "q", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchPinyinKey(c.name, c.key, '*'), c.match) << c.name << " / " << c.key;
    EXPECT_FALSE(MatchPinyinKey("abc", "a", static_cast<char>(0xA1))) << "a wildcard byte with the high bit";
}

TEST(PinyinTest, MatchPinyinCharsNeedsEqualLengths)
{
    EXPECT_TRUE(MatchPinyinChars("张国", "zg"));
    EXPECT_FALSE(MatchPinyinChars("张国", "z"));
    EXPECT_FALSE(MatchPinyinChars("张", "1"));
}

BoundedFifoItem Item(int value)
{
    BoundedFifoItem item;
    item.length = 4;
    item.data = static_cast<BYTE*>(std::malloc(4));
    std::memcpy(item.data, &value, 4);
    item.value = value;
    return item;
}

TEST(BoundedFifoTest, DropsTheOldestBeyondFifty)
{
    BoundedFifo q;
    ASSERT_EQ(BoundedFifoInit(&q), 0);
    for (int i = 1; i <= 51; ++i) {
        BoundedFifoItem item = Item(i);
        ASSERT_EQ(BoundedFifoPush(&q, &item), 4);
    }
    EXPECT_EQ(BoundedFifoCount(&q), 50);
    BoundedFifoItem out;
    ASSERT_EQ(BoundedFifoPop(&q, &out), 4);
    EXPECT_EQ(out.value, 2) << "the first item pushed was dropped";
    int v;
    std::memcpy(&v, out.data, 4);
    EXPECT_EQ(v, 2);
    std::free(out.data);
    EXPECT_EQ(BoundedFifoCount(&q), 49);
    BoundedFifoClear(&q);
    EXPECT_EQ(BoundedFifoCount(&q), 0);
    EXPECT_EQ(BoundedFifoPop(&q, &out), 0);
}

TEST(BoundedFifoTest, RefusalsAndNullQueues)
{
    BoundedFifo q;
    BoundedFifoInit(&q);
    BoundedFifoItem empty;
    EXPECT_EQ(BoundedFifoPush(&q, &empty), -1);
    BoundedFifoItem item = Item(1);
    EXPECT_EQ(BoundedFifoPush(nullptr, &item), -1);
    EXPECT_EQ(BoundedFifoPop(nullptr, &item), -1);
    EXPECT_EQ(BoundedFifoCount(nullptr), 0);
    EXPECT_EQ(BoundedFifoClear(nullptr), 0);
    EXPECT_EQ(BoundedFifoClearUnlocked(nullptr), -1);
    EXPECT_EQ(BoundedFifoInit(nullptr), -1);
    EXPECT_EQ(BoundedFifoPush(&q, &item), 4);
    EXPECT_EQ(BoundedFifoClearUnlocked(&q), 0); // frees the item
    EXPECT_EQ(BoundedFifoCount(&q), 0);
}

TEST(BoundedFifoTest, OneProducerOneConsumer)
{
    BoundedFifo q;
    BoundedFifoInit(&q);
    constexpr int kItems = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            BoundedFifoItem item = Item(i);
            BoundedFifoPush(&q, &item);
        }
    });
    int last = -1;
    int got = 0;
    bool ordered = true;
    while (last < kItems - 1) {
        BoundedFifoItem out;
        if (BoundedFifoPop(&q, &out) > 0) {
            ordered = ordered && out.value > last;
            last = out.value;
            ++got;
            std::free(out.data);
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_GT(got, 0);
    BoundedFifoClear(&q);
}

} // namespace
