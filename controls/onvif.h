// Stand-in of the closed ONVIF library ("onvif"): the OVF_ calls the
// program makes, with the records they fill. Texts are narrow UTF-8 strings.
#pragma once

#include <cstddef>
#include <cstdint>

// One stream profile of the ONVIF information block.
struct OvfProfileEntry {
    char StreamUri[260];
    std::int32_t Width;
    std::int32_t Height;
    char Token[64];             // the camera's profile token (library's own)
};
static_assert(sizeof(OvfProfileEntry) == 332);

// The ONVIF library's 3,220-byte information block of a camera; only the
// named parts are read by the system, the rest belongs to the library.
// The library keeps what its later calls need (service addresses, the
// camera's clock offset, profile tokens) in the parts nobody else reads, so
// the PTZ calls work from the block alone.
struct _OVF_DEV_INFO {
    char DeviceSerAddr[256];    // library's own from here ...
    char MediaSerAddr[256];
    std::int32_t ClockOffset;   // camera clock minus ours, seconds
    std::int32_t Reserved0;     // ... to here
    char EventSerAddr[256];
    std::uint8_t Reserved1[4];
    std::int32_t EventSupport;
    char PtzSerAddr[256];       // library's own
    std::uint8_t Reserved2[516];
    std::int32_t ProfileCount;
    std::uint8_t Reserved3[64];
    OvfProfileEntry Profiles[4];
    std::uint8_t Reserved4[268];
};
static_assert(sizeof(_OVF_DEV_INFO) == 3220);
static_assert(offsetof(_OVF_DEV_INFO, EventSerAddr) == 520);
static_assert(offsetof(_OVF_DEV_INFO, EventSupport) == 780);
static_assert(offsetof(_OVF_DEV_INFO, ProfileCount) == 1556);
static_assert(offsetof(_OVF_DEV_INFO, Profiles) == 1624);
constexpr int OVF_MAX_PROFILES = static_cast<int>(sizeof(_OVF_DEV_INFO::Profiles) / sizeof(OvfProfileEntry));

// What the library hands to the alarm callback, on its own thread.
struct _OVF_ALARM_EVENT {
    char CameraAddr[64];        // the camera's IP address
    std::uint16_t Year, Month, DayOfWeek, Day, Hour, Minute, Second, Millisecond;
    std::int32_t AlarmType;     // an alarm when above 0
    char Text[128];
};
static_assert(offsetof(_OVF_ALARM_EVENT, Year) == 64);
static_assert(offsetof(_OVF_ALARM_EVENT, AlarmType) == 80);
static_assert(offsetof(_OVF_ALARM_EVENT, Text) == 84);

static_assert(sizeof(_OVF_ALARM_EVENT) == 212);

using OVF_ALARM_CALLBACK = int (*)(_OVF_ALARM_EVENT* event);

// Result of a call whose log-in the camera refused.
constexpr int OVF_ERR_LOGIN_REFUSED = -99;
constexpr std::size_t OVF_CAPABILITIES_SIZE = 1556;
constexpr std::size_t OVF_PRESET_SIZE = 64;

// Discovery.
void OVF_StartSearch();
void OVF_StopSearch();
int OVF_GetSearchCount();
void OVF_GetSearchInfo(char out[256], int index);
int OVF_Search(char (*out)[256], int* count);
int OVF_GetAddrByIP(const char* ip, char out[256]);

// Device service.
int OVF_GetCapabilities(const char* serviceAddr, const char* user, const char* password, void* out);
int OVF_GetDevInfo(const char* serviceAddr, const char* user, const char* password, _OVF_DEV_INFO* info);
int OVF_SetNetworkInterface(const char* serviceAddr, const char* user, const char* password,
                            const char address[256], const char mask[256], const char gateway[256],
                            const char dns[256], char* error, int errorSize);

// Events: the handle (above 0) identifies the subscription; 0 on failure.
std::int32_t OVF_SetCallBackAlarmInfo(const char* eventAddr, const char* user, const char* password,
                                      OVF_ALARM_CALLBACK callback, int reserved);
void OVF_UnSetCallBackAlarmInfo(std::int32_t handle);

// PTZ on the camera's first profile. Directions 0 up, 1 down, 2 left,
// 3 right, 4 left-up, 5 left-down, 6 right-up, 7 right-down; zoom 8 in, 9 out.
int OVF_PTZ_ContinuousMove(const _OVF_DEV_INFO* info, int direction, float panSpeed, float tiltSpeed,
                           const char* user, const char* password);
int OVF_PTZ_StopMove(const _OVF_DEV_INFO* info, const char* user, const char* password);
int OVF_PTZ_Zoom(const _OVF_DEV_INFO* info, int zoom, float speed, const char* user, const char* password);
int OVF_PTZ_StopZoom(const _OVF_DEV_INFO* info, const char* user, const char* password);
int OVF_PTZ_GotoPreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* token);
int OVF_PTZ_RemovePreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* token);
int OVF_PTZ_AddPreset(const _OVF_DEV_INFO* info, const char* user, const char* password, const char* name);
// presets: *count entries of OVF_PRESET_SIZE bytes; *count becomes the number found.
int OVF_PTZ_GetPresets(const _OVF_DEV_INFO* info, const char* user, const char* password, char* presets,
                       int* count);

// Settings of this stand-in (not calls of the closed library): where the
// WS-Discovery probe goes ("host:port"; empty restores the environment
// variable QELM2_ONVIF_PROBE_TARGET, else 239.255.255.250:3702), how long a
// blocking search listens, and the time-out of every exchange.
void OVF_SetProbeTarget(const char* hostPort);
void OVF_SetSearchWaitMs(int ms);
void OVF_SetTimeoutMs(int ms);
