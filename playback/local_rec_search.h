// The searches of this computer's recordings, without any window: by file
// over a span with the form's filters, and by day for one channel's minute
// map. Both read the recording plans under g_csDevList only long enough to
// copy the folders they need; the disk is walked after the lock is released,
// so the day search may run on the relay side's threads too.
#pragma once

#include "playback/rec_search_types.h"

#include <cstdint>
#include <functional>
#include <list>
#include <string>

namespace recsearch {

// A local date and time as one comparable number YYYYMMDDhhmmss.
int64_t TimeKey(int year, int month, int day, int hour, int minute, int second);

// A size bound of the form: leading sign and digits as a 64-bit number, text
// that is not a number reads as 0; -1 means no bound.
int64_t ParseSizeText(const char* text);

// Record kinds and the folder of each.
enum RecKind { kKindAll = 0, kKindSchedule = 1, kKindIO = 2, kKindMotion = 3 };
const char* KindFolder(int kind); // "Schedule", "IO", "Motion"; null otherwise

struct ByFileFilter {
    int64_t startKey = 0;  // TimeKey of the span's start and end, both included
    int64_t endKey = 0;
    int kind = kKindAll;   // combo 1054
    int media = 0;         // combo 1115: 0 video only, 1 audio and video, 2 any
    int stream = 0;        // combo 1050: 0 any, 1 main, 2 sub
    int64_t minSize = -1;  // -1 no bound
    int64_t maxSize = -1;
};

// The begin time HHMMSS of a record name in seconds of the day; -1 when the
// name does not start with six digits (a clip saved into a record folder).
int NameStartSeconds(const std::string& name);

// Whether a record name (not a path) passes the name, media and stream rules.
bool IsRecordName(const std::string& name);
bool NamePassesFilter(const std::string& name, const ByFileFilter& filter);

// One day folder of the by-file search: appends the files that pass, in name
// order, and logs each. Returns the number appended. Only regular files
// count, and a link only when it stays inside root (the storage folder;
// empty: the day folder itself); anything else is skipped with a log line.
int FindRecFile(const std::string& folder, int year, int month, int day, const ByFileFilter& filter,
                std::list<RecFileItem>& out, const std::string& root = {});

// The by-file search of a device: 0 when a plan holds it (found or not), -1
// when none does (nothing appended).
int SearchLocalRecFile(const DeviceInfo& device, const ByFileFilter& filter, std::list<RecFileItem>& out);

// Record lengths in seconds, 0 when the file cannot be opened.
int GetAviFileSeconds(const std::string& path);
int GetMp4FileSeconds(const std::string& path);

// One day folder of the day search: marks the minutes of each record with
// letter and inserts it into the file list by name. Entries are taken as
// FindRecFile takes them.
void ScanDayFolder(const std::string& folder, RecDayMap* map, char letter, const std::string& root = {});

// Fills the map and files of a day record whose key, serial, channel and date
// the caller has set (map all 'C'). Always 1.
int SearchLocalRecByDate(RecDayMap& map);

// Tests: called on the searching thread before each record is opened by the
// day search (null: nothing).
void SetDayScanHook(std::function<void(const std::string& path)> hook);

} // namespace recsearch
