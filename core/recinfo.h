// Recording plans (strategies) and Config/RecInfo.xml.
#pragma once

#include "core/devinfo.h"

#include <cstdint>
#include <list>
#include <string>

// A time of day that could not be read from the file; it is written back as
// an empty text. A segment holding one is to be treated as never active.
inline constexpr std::int32_t kInvalidTimeOfDay = -1;

// One weekly segment of a plan.
struct RecTime {
    std::int32_t TimeDuration; // row number on the recording page, 1..7
    std::int32_t DayOfWeek;    // 1 Sunday .. 7 Saturday, 8 every day
    std::int32_t StartTime;    // seconds since midnight, or kInvalidTimeOfDay
    std::int32_t EndTime;
};

class RecScheme {
public:
    RecScheme();

    char SchemeName[TextSize(260)];
    char StoragePath1[TextSize(1024)]; // set when the first byte is not 0
    char StoragePath2[TextSize(1024)];
    char StoragePath3[TextSize(1024)];
    std::int32_t SaveDate;
    std::int32_t StorageScheme; // 0 stop and switch off when full, 1 delete the oldest
    std::int32_t OnOff;
    std::int32_t PreRecTime;    // seconds before an alarm
    std::int32_t RecFileTime;   // seconds per file
    std::int32_t RecAudio;
    std::int32_t RecStreamType; // 1 main, 0 sub
    std::int32_t StartType;     // 0 schedule, 1 motion alarm, 2 IO alarm
    std::int32_t DetRecTime;    // seconds an alarm recording lasts
    std::int32_t ReccordType;   // non-zero MP4 writer, 0 AVI record control
    // Members: nodes of g_lstDevInfo. Whoever removes a device record takes
    // it out of every plan first, inside g_csDevList.
    std::list<DeviceInfo*> lstDev;
    std::list<RecTime> lstRecTime;
};

// Plans by pointer; created with new, deleted by whoever removes them
// (null entries may remain after the exit routine released them).
extern std::list<RecScheme*> g_lstRecSchemeInfo;

// Appends the file's plans to g_lstRecSchemeInfo; writes the template when the
// file cannot be loaded (a damaged file is kept aside first).
void LoadRecInfo();
// Rewrites the whole file from g_lstRecSchemeInfo; nothing when it cannot be loaded.
void SaveRecInfo();

// "%H:%M:%S" of seconds since midnight ("" for an invalid time).
std::string FormatTimeOfDay(std::int32_t seconds);
// The time of day of "H:M[:S]" (a date or other words around it are skipped);
// kInvalidTimeOfDay when there is none.
std::int32_t ParseTimeOfDay(const std::string& text);

extern const char kRecInfoTemplate[];
