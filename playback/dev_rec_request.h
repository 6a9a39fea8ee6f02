// The texts of the device record searches: the file search request (1021)
// and the recorder day query (3001) as the devices expect them byte for
// byte, and the parsing of their answers. No window, no device.
#pragma once

#include "playback/rec_search_types.h"

#include <list>
#include <string>
#include <vector>

namespace recsearch {

// The request buffer of the device-control component holds 1,023 characters.
inline constexpr size_t kMaxRequestText = 1023;
// Files a device answers per page.
inline constexpr int kDevFilesPerPage = 20;
// A relay answer text must stay below this many bytes to be sent.
inline constexpr size_t kMaxRelayAnswerText = 2096128;

// The search form as the file search request reads it.
struct FileSearchForm {
    int recordType = 0;     // combo 1054: 0 all, 1 schedule, 2 IO alarm, 3 motion
    std::string startTime;  // "%Y%m%d %H:%M:%S"
    std::string endTime;
    int mediaType = 0;      // combo 1115: 0 video, 1 audio and video, 2 picture
    int streamIndex = 0;    // combo 1050: 0 all, 1 main, 2 sub
    std::string minSize;    // edit texts as typed
    std::string maxSize;
};

std::string BuildFileSearchRequest(const FileSearchForm& form, int page);
std::string BuildDayQueryRequest(int channel, int year, int month, int day);

struct FileSearchAnswer {
    bool parsed = false;       // the text has a root element
    int totalCount = 0;        // FileCount of a RESPONSE_PARAM root, else 0
    bool hasRecordFile = false;
    std::vector<RecFileItem> files; // RECORD_FILE children in document order
};
FileSearchAnswer ParseFileSearchAnswer(const char* text);

struct DayQueryAnswer {
    bool parsed = false;
    int channel = 0;
    bool hasMap = false;
    std::string map;           // at most 1,440 letters
};
DayQueryAnswer ParseDayQueryAnswer(const char* text);

// "path?size|" for every item; false (text empty) when it would reach
// kMaxRelayAnswerText bytes.
bool BuildRelayAnswerText(const std::list<RecFileItem>& items, std::string& text);

} // namespace recsearch
