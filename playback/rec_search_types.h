// Records of the record search: one by-file result, one channel's day with
// its minute map and files, and the page's day slots. The day record is
// shared with the relay side, which fills it from its session threads.
#pragma once

#include "controls/media_params.h"
#include "core/devinfo.h"

#include <cstdint>
#include <cstring>
#include <list>
#include <string>

// Minutes of a day: the length of every minute map, which has no terminator.
inline constexpr int kDayMinutes = 1440;

// Minute-map letters.
inline constexpr char kMapPlan = 'A';
inline constexpr char kMapAlarm = 'B';
inline constexpr char kMapNone = 'C';

// One by-file result, copied whole.
struct RecFileItem {
    char szPath[1024];  // full path of a local file, or the path the device or peer reported
    char szSize[260];   // size in bytes, decimal text
};

// One file of a day.
struct RecDayFile {
    std::string strPath;
    int32_t nDuration = 0; // seconds, 0 when the file cannot be read
    int32_t nStartSec = 0; // HH*3600 + MM*60 + SS of the name
};

// One channel's recordings on one day. Copies are whole (the file list deep).
struct RecDayMap {
    RecDayMap() { Reset(); }
    // Empty key, date 0, map all 'C', no files, nCurFile -1, channel 0.
    void Reset()
    {
        nReserved = 0;
        std::memset(szKey, 0, sizeof szKey);
        wYear = wMonth = 0;
        byDay = 0;
        std::memset(szMinuteMap, kMapNone, sizeof szMinuteMap);
        lstFile.clear();
        nCurFile = -1;
        nChannel = 0;
        std::memset(szDevSN, 0, sizeof szDevSN);
    }

    int32_t nReserved;
    char szKey[32];                 // the channel's IPAddr (the relay side puts its own key)
    uint16_t wYear;
    uint16_t wMonth;
    uint8_t byDay;
    char szMinuteMap[kDayMinutes];  // one letter per minute, no terminator
    std::list<RecDayFile> lstFile;  // in file-name order
    int32_t nCurFile;               // 1-based file being played; -1 after a search, 0 ended
    int32_t nChannel;               // stream row of a video server, recorder channel, 0 camera
    char szDevSN[TextSize(32)];     // the channel's DevSN
};

// One local or recorder day slot of the page (slot index = time-line row).
struct PlayBackStatus {
    int32_t bPlaying = 0;
    int32_t nIndex = -1;    // the row this cell owns, -1 free
    int32_t nPlayer = -1;
    int32_t nYear = 0, nMonth = 0, nDay = 0;
    char szDevKey[TextSize(256)] = {}; // IPAddr, or DevId after a cloud login
    int32_t nFileStartSec = 0;
    RecDayMap oDayMap;
};

// One relay day slot of the page.
struct RelayDayStatus {
    int32_t bPlaying = 0;
    int32_t nIndex = -1;
    int32_t nPlayer = -1;
    int32_t nYear = 0, nMonth = 0, nDay = 0;
    char szName[260] = {};  // relay name "mac:ip"
    int32_t nChannel = -1;
    int32_t nStartSec = 0;
    int32_t nSeekSec = 0;
    char szMinuteMap[kDayMinutes] = {};
    VideoParam oVideoParam{};
    AudioParam oAudioParam{};
};
