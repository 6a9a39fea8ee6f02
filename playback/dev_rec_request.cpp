#include "playback/dev_rec_request.h"

#include "platform/xml_guard.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace recsearch {

namespace {

// The whitespace the devices' parsers were written against.
const char kGapA[] = "\t\t\t\t     ";
const char kGapB[] = "\t\t\t\t\t ";
const char kGapC[] = "\t\t            ";
const char kGapD[] = "\t\t\t\t\t  ";

std::string Attr(const char* name, const std::string& value)
{
    return std::string(name) + "=\"" + value + "\"";
}

void CopyBounded(char* dst, size_t size, const char* src)
{
    const size_t n = src ? strnlen(src, size - 1) : 0;
    std::memcpy(dst, src ? src : "", n);
    dst[n] = 0;
}

bool ParseRoot(const char* text, TiXmlDocument& doc)
{
    if (!text || !qelm::XmlNestingWithin(text))
        return false;
    doc.Parse(text);
    return doc.RootElement() != nullptr;
}

} // namespace

std::string BuildFileSearchRequest(const FileSearchForm& form, int page)
{
    static const char* const kModes[] = {nullptr, "SCHEDULE", "ALARM", "MOTION"};
    static const char* const kMedia[] = {"VIDEO", "AUDIOVIDEO", "PICTURE"};
    std::string t = "<REQUEST_PARAM";
    t += kGapA;
    if (form.recordType >= 1 && form.recordType <= 3)
        t += Attr("RecordMode", kModes[form.recordType]);
    t += kGapB + Attr("StartTime", form.startTime);
    t += kGapB + Attr("EndTime", form.endTime);
    t += kGapB;
    if (form.mediaType >= 0 && form.mediaType <= 2)
        t += Attr("MediaType", kMedia[form.mediaType]);
    t += kGapB;
    if (form.streamIndex == 1 || form.streamIndex == 2)
        t += Attr("StreamIndex", std::to_string(form.streamIndex));
    t += kGapB + Attr("MinSize", form.minSize);
    t += kGapB + Attr("MaxSize", form.maxSize);
    t += kGapB + Attr("Page", std::to_string(page));
    t += kGapC;
    t += "/>";
    if (t.size() > kMaxRequestText)
        t.resize(kMaxRequestText);
    return t;
}

std::string BuildDayQueryRequest(int channel, int year, int month, int day)
{
    char date[32];
    std::snprintf(date, sizeof date, "%04d%02d%02d", year, month, day);
    return std::string("<REQUEST_PARAM") + kGapD + Attr("ChannelId", std::to_string(channel)) + kGapD +
           Attr("Time", date) + kGapD + "/>";
}

FileSearchAnswer ParseFileSearchAnswer(const char* text)
{
    FileSearchAnswer a;
    TiXmlDocument doc;
    if (!ParseRoot(text, doc))
        return a;
    a.parsed = true;
    const TiXmlElement* root = doc.RootElement();
    if (std::strcmp(root->Value(), "RESPONSE_PARAM") != 0)
        return a;
    if (const char* count = root->Attribute("FileCount")) {
        char first[10] = {};
        std::memcpy(first, count, strnlen(count, 9));
        a.totalCount = first[0] == '\n' ? 0 : std::atoi(first);
    }
    for (const TiXmlElement* e = root->FirstChildElement("RECORD_FILE"); e; e = e->NextSiblingElement("RECORD_FILE")) {
        a.hasRecordFile = true;
        RecFileItem item{};
        CopyBounded(item.szPath, sizeof item.szPath, e->Attribute("FilePath"));
        CopyBounded(item.szSize, sizeof item.szSize, e->Attribute("FileLength"));
        a.files.push_back(item);
    }
    return a;
}

DayQueryAnswer ParseDayQueryAnswer(const char* text)
{
    DayQueryAnswer a;
    TiXmlDocument doc;
    if (!ParseRoot(text, doc))
        return a;
    a.parsed = true;
    const TiXmlElement* root = doc.RootElement();
    if (std::strcmp(root->Value(), "RESPONSE_PARAM") != 0)
        return a;
    if (const char* ch = root->Attribute("ChannelId"))
        a.channel = std::atoi(ch);
    if (const char* map = root->Attribute("Stream")) {
        a.hasMap = true;
        a.map.assign(map, strnlen(map, kDayMinutes));
    }
    return a;
}

bool BuildRelayAnswerText(const std::list<RecFileItem>& items, std::string& text)
{
    text.clear();
    size_t total = 0;
    for (const RecFileItem& item : items) {
        total += strnlen(item.szPath, sizeof item.szPath) + strnlen(item.szSize, sizeof item.szSize) + 2;
        if (total >= kMaxRelayAnswerText)
            return false;
    }
    text.reserve(total);
    for (const RecFileItem& item : items) {
        text.append(item.szPath, strnlen(item.szPath, sizeof item.szPath));
        text += '?';
        text.append(item.szSize, strnlen(item.szSize, sizeof item.szSize));
        text += '|';
    }
    return true;
}

} // namespace recsearch
