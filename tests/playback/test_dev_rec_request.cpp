// Device record search texts: requests byte for byte, answers as devices
// send them (and as they should not).
#include "playback/dev_rec_request.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace recsearch;

const std::string A = "\t\t\t\t     ";
const std::string B = "\t\t\t\t\t ";
const std::string C = "\t\t            ";
const std::string D = "\t\t\t\t\t  ";

TEST(DevRecRequestTest, FileSearchRequestsByteForByte)
{
    struct Case {
        int recordType, mediaType, streamIndex, page;
        std::string expect;
    };
    const std::string span = B + "StartTime=\"20261120 08:00:00\"" + B + "EndTime=\"20261120 23:59:59\"";
    const std::string sizes = B + "MinSize=\"-1\"" + B + "MaxSize=\"1048576\"";
    const Case cases[] = {
        // Record type and stream "All": only their gaps are left.
        {0, 0, 0, 0, "<REQUEST_PARAM" + A + span + B + "MediaType=\"VIDEO\"" + B + sizes + B + "Page=\"0\"" + C + "/>"},
        {1, 1, 1, 2,
         "<REQUEST_PARAM" + A + "RecordMode=\"SCHEDULE\"" + span + B + "MediaType=\"AUDIOVIDEO\"" + B +
             "StreamIndex=\"1\"" + sizes + B + "Page=\"2\"" + C + "/>"},
        {2, 2, 2, 1,
         "<REQUEST_PARAM" + A + "RecordMode=\"ALARM\"" + span + B + "MediaType=\"PICTURE\"" + B + "StreamIndex=\"2\"" +
             sizes + B + "Page=\"1\"" + C + "/>"},
        {3, 0, 0, 10,
         "<REQUEST_PARAM" + A + "RecordMode=\"MOTION\"" + span + B + "MediaType=\"VIDEO\"" + B + sizes + B +
             "Page=\"10\"" + C + "/>"},
    };
    for (const Case& c : cases) {
        FileSearchForm form;
        form.recordType = c.recordType;
        form.mediaType = c.mediaType;
        form.streamIndex = c.streamIndex;
        form.startTime = "20261120 08:00:00";
        form.endTime = "20261120 23:59:59";
        form.minSize = "-1";
        form.maxSize = "1048576";
        EXPECT_EQ(c.expect, BuildFileSearchRequest(form, c.page)) << c.recordType << c.mediaType << c.streamIndex;
    }
    EXPECT_EQ("<REQUEST_PARAM" + D + "ChannelId=\"3\"" + D + "Time=\"20260105\"" + D + "/>",
              BuildDayQueryRequest(3, 2026, 1, 5));
}

TEST(DevRecRequestTest, FileSearchAnswers)
{
    FileSearchAnswer a = ParseFileSearchAnswer(
        "<RESPONSE_PARAM FileCount=\"45\"><RECORD_FILE FilePath=\"/sd/a.mp4\" FileLength=\"100\"/>"
        "<OTHER/><RECORD_FILE FilePath=\"/sd/b.mp4\"/></RESPONSE_PARAM>");
    EXPECT_TRUE(a.parsed);
    EXPECT_EQ(45, a.totalCount);
    EXPECT_TRUE(a.hasRecordFile);
    ASSERT_EQ(2u, a.files.size());
    EXPECT_STREQ("/sd/a.mp4", a.files[0].szPath);
    EXPECT_STREQ("100", a.files[0].szSize);
    EXPECT_STREQ("", a.files[1].szSize) << "a missing attribute leaves its field empty";

    struct Case {
        const char* text;
        bool parsed;
        int count;
    };
    const Case cases[] = {
        {"<RESPONSE_PARAM FileCount=\"1234567890123\"/>", true, 123456789}, // first 9 characters
        {"<RESPONSE_PARAM FileCount=\"&#10;7\"/>", true, 0},               // a line feed first
        {"<RESPONSE_PARAM FileCount=\"12abc\"/>", true, 12},
        {"<RESPONSE_PARAM/>", true, 0},
        {"<OTHER FileCount=\"5\"/>", true, 0},
        {"not xml", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        a = ParseFileSearchAnswer(c.text);
        EXPECT_EQ(c.parsed, a.parsed) << c.text;
        EXPECT_EQ(c.count, a.totalCount) << c.text;
    }
    EXPECT_FALSE(ParseFileSearchAnswer(nullptr).parsed);

    // Paths and sizes are cut to their fields.
    const std::string longPath(3000, 'p'), longSize(600, '9');
    a = ParseFileSearchAnswer(("<RESPONSE_PARAM FileCount=\"1\"><RECORD_FILE FilePath=\"" + longPath +
                               "\" FileLength=\"" + longSize + "\"/></RESPONSE_PARAM>")
                                  .c_str());
    ASSERT_EQ(1u, a.files.size());
    EXPECT_EQ(1023u, std::strlen(a.files[0].szPath));
    EXPECT_EQ(259u, std::strlen(a.files[0].szSize));
}

TEST(DevRecRequestTest, DayQueryAnswersKeepAtMostADay)
{
    DayQueryAnswer a = ParseDayQueryAnswer(("<RESPONSE_PARAM ChannelId=\"3\" Stream=\"" + std::string(2000, 'A') +
                                            "\"/>")
                                               .c_str());
    EXPECT_TRUE(a.parsed);
    EXPECT_EQ(3, a.channel);
    EXPECT_TRUE(a.hasMap);
    EXPECT_EQ(std::string(1440, 'A'), a.map);
    a = ParseDayQueryAnswer("<RESPONSE_PARAM ChannelId=\"2\"/>");
    EXPECT_FALSE(a.hasMap);
    EXPECT_FALSE(ParseDayQueryAnswer("<<<").parsed);
}

TEST(DevRecRequestTest, RelayAnswerTextsBelowTheLimitOnly)
{
    std::list<RecFileItem> items;
    RecFileItem a{}, b{};
    std::strcpy(a.szPath, "/sd/a.mp4");
    std::strcpy(a.szSize, "1");
    std::strcpy(b.szPath, "/sd/b.mp4");
    std::strcpy(b.szSize, "22");
    items = {a, b};
    std::string text;
    ASSERT_TRUE(BuildRelayAnswerText(items, text));
    EXPECT_EQ("/sd/a.mp4?1|/sd/b.mp4?22|", text);

    // Exactly at the limit, and one byte below it.
    RecFileItem big{};
    std::memset(big.szPath, 'p', 1000);
    std::strcpy(big.szSize, "7");
    const size_t each = 1000 + 1 + 2; // path, size, "?" and "|"
    items.assign(kMaxRelayAnswerText / each, big);
    const size_t rest = kMaxRelayAnswerText - items.size() * each;
    RecFileItem tail{};
    std::memset(tail.szPath, 'q', rest - 3);
    std::strcpy(tail.szSize, "1");
    items.push_back(tail);
    EXPECT_FALSE(BuildRelayAnswerText(items, text));
    EXPECT_TRUE(text.empty());
    tail.szPath[rest - 4] = 0;
    items.back() = tail;
    ASSERT_TRUE(BuildRelayAnswerText(items, text));
    EXPECT_EQ(kMaxRelayAnswerText - 1, text.size());
}

} // namespace
