// The alarm record a device delivers (176 bytes on the wire) and the key of
// the device that raised it, posted with WM_DEV_ALARM.
#pragma once

#include <cstddef>
#include <cstdint>

struct _ALARM_INFO {
    int32_t channelFlag;   // 1 = the alarm names a channel
    int32_t channel;       // from 0
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t dayOfWeek;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t alarmType;     // 1 disconnected, 2 connected, 14 motion, 15/16 alarm input, ...
    int32_t state;
    int32_t onvif;         // 1 for ONVIF alarms
    char text[128];
};
static_assert(sizeof(_ALARM_INFO) == 176);
static_assert(offsetof(_ALARM_INFO, alarmType) == 36);
static_assert(offsetof(_ALARM_INFO, state) == 40);
static_assert(offsetof(_ALARM_INFO, onvif) == 44);
static_assert(offsetof(_ALARM_INFO, text) == 48);

enum AlarmSourceKind : int32_t {
    kAlarmSourceAuxPtzId = 0,   // by AuxPtzId
    kAlarmSourceDevId = 1,      // by DevId
    kAlarmSourceCameraAddr = 2, // by IPAddr of an ONVIF record
};

struct _ALARM_SOURCE {
    int32_t kind;          // AlarmSourceKind
    int32_t auxPtzId;      // kind 0
    char devId[64];        // kind 1
    char cameraAddr[64];   // kind 2
};
static_assert(sizeof(_ALARM_SOURCE) == 136);
static_assert(offsetof(_ALARM_SOURCE, devId) == 8);
static_assert(offsetof(_ALARM_SOURCE, cameraAddr) == 72);
