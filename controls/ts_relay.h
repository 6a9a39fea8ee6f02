// The relay library (TS_ calls): links this client to the remote clients it
// serves and to the parent relay servers it logs in to. Requests and answers
// reach the program as messages WM_USER+8000..+8064 to the window given to
// TS_SetMsgWnd, each with a record the library owns until the handler
// releases it with TS_Delete; media reaches it through callbacks that run on
// the library's own thread, never on the UI thread.
//
// This library has no transport between clients yet: every call is accepted,
// journaled and answered as a library without peers answers (no login
// succeeds, invitations reach nobody). The qelm::ts entry points at the end
// are what a transport (and the tests) use to hand requests, answers and
// media to the program.
#pragma once

#include "controls/alarm_info.h"
#include "controls/media_params.h"
#include "platform/types.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// --- messages to the TS_SetMsgWnd window ------------------------------------
// wParam: a library record (released with TS_Delete(record, 1), arrays it
// points to first with TS_Delete(array, 2)) unless noted; lParam as noted.
constexpr UINT WM_TS_PARENT_LOST = WM_USER + 8000;          // - / login id
constexpr UINT WM_TS_LOGIN_CHECK = WM_USER + 8002;          // sent: user text / digest text; result 0 accepts
constexpr UINT WM_TS_DEVLIST_REQ = WM_USER + 8004;          // - / request handle
constexpr UINT WM_TS_DEVLIST = WM_USER + 8006;              // TsDevListRecord / login id
constexpr UINT WM_TS_CHANNEL_STATE = WM_USER + 8008;        // TsNameRecord / new state 0..3
constexpr UINT WM_TS_ALARM = WM_USER + 8010;                // TsNameRecord / _ALARM_INFO record
constexpr UINT WM_TS_DEVLIST_CHANGED = WM_USER + 8011;      // - / login id
constexpr UINT WM_TS_VIDEO_REQ = WM_USER + 8014;            // TsVideoRequest / request handle
constexpr UINT WM_TS_VIDEO_RSP = WM_USER + 8016;            // TsVideoAnswer / -
constexpr UINT WM_TS_VIDEO_CLOSE = WM_USER + 8018;          // TsVideoRequest / -
constexpr UINT WM_TS_SEARCH = WM_USER + 8020;               // TsSearchRequest / request handle
constexpr UINT WM_TS_SEARCH_END = WM_USER + 8022;           // TsSearchEnd / -
constexpr UINT WM_TS_REPLAY_START = WM_USER + 8024;         // TsReplayRequest / request handle
constexpr UINT WM_TS_REPLAY_START_RSP = WM_USER + 8025;     // TsReplayStartAnswer / login id
constexpr UINT WM_TS_REPLAY_CTRL = WM_USER + 8026;          // TsReplayControl / session handle
constexpr UINT WM_TS_REPLAY_SEEK = WM_USER + 8027;          // TsReplayControl / session handle
constexpr UINT WM_TS_REPLAY_SPEED = WM_USER + 8028;         // TsReplayControl / session handle
constexpr UINT WM_TS_REPLAY_STOPPED = WM_USER + 8029;       // TsPathRecord / -
constexpr UINT WM_TS_DLOAD_START = WM_USER + 8030;          // TsReplayRequest / request handle
constexpr UINT WM_TS_DLOAD_ACK = WM_USER + 8032;            // TsPathRecord / -
constexpr UINT WM_TS_DLOAD_STOP = WM_USER + 8034;           // TsReplayControl / session handle
constexpr UINT WM_TS_DLOAD_END = WM_USER + 8035;            // TsPathRecord / -
constexpr UINT WM_TS_PTZ = WM_USER + 8042;                  // TsPtzRequest / request handle
constexpr UINT WM_TS_PRESET_LIST_REQ = WM_USER + 8044;      // TsNameRecord / request handle
constexpr UINT WM_TS_PRESET_LIST = WM_USER + 8045;          // TsPresetRecord / -
constexpr UINT WM_TS_PRESET = WM_USER + 8046;               // TsPresetRecord / request handle
constexpr UINT WM_TS_PTZ_ADVANCE = WM_USER + 8048;          // TsPtzAdvanceRequest / request handle
constexpr UINT WM_TS_SEARCH_BYDATE = WM_USER + 8050;        // TsSearchByDateRequest / request handle
constexpr UINT WM_TS_SEARCH_BYDATE_RSP = WM_USER + 8052;    // TsSearchByDateAnswer / -
constexpr UINT WM_TS_REPLAY_BYDATE_START = WM_USER + 8054;  // TsReplayByDateRequest / request handle
constexpr UINT WM_TS_REPLAY_BYDATE_CTRL = WM_USER + 8058;   // TsReplayByDateControl / session handle
constexpr UINT WM_TS_REPLAY_BYDATE_SEEK = WM_USER + 8060;   // TsReplayByDateControl / session handle
constexpr UINT WM_TS_REPLAY_BYDATE_SPEED = WM_USER + 8062;  // TsReplayByDateControl / session handle
constexpr UINT WM_TS_REPLAY_BYDATE_STOPPED = WM_USER + 8064; // TsNameRecord / -
constexpr UINT WM_TS_REQUEST_FIRST = WM_USER + 8000;
constexpr UINT WM_TS_REQUEST_LAST = WM_USER + 8064;

// TS_Delete modes.
constexpr int TS_DELETE_RECORD = 1;
constexpr int TS_DELETE_ARRAY = 2;

// --- records ------------------------------------------------------------------
// Fixed layouts, little-endian, as the library exchanges them. Texts are
// NUL-terminated; relay names "%s:%s" (MAC text, address) fit 40 bytes.

static_assert(std::endian::native == std::endian::little, "the relay records are little-endian");

constexpr std::size_t kTsNameSize = 40;
constexpr std::size_t kTsPathSize = 264;
constexpr std::size_t kTsPresetTextSize = 10240;
constexpr std::size_t kTsMinuteMapSize = 1440;

// One entry of a parent relay server's device list, as the trees and the
// relay bridge keep it in memory (texts UTF-8).
struct RelayDevItem {
    int32_t Type = 0;        // 0 video-server stream, 3 cascaded server, 4 NVR, others single devices
    char Ip[64] = {};
    char DevName[384] = {};
    char Mac[64] = {};
    int32_t ParentIndex = 0;
    int32_t Index = 0;
    int32_t State = 0;       // 0 offline, 1 online, 2 watched, 3 recording, 4 watched and recording
    int32_t StreamFlag = 0;
};

// The 360-byte form of a device-list entry that crosses the library
// (TS_RspDeviceList, WM_TS_DEVLIST). Texts are GB18030.
struct RelayDevRecord {
    int32_t DevType;         // 3 = relay server entry
    char Ip[33];
    char DevName[256];
    char DevSN[33];
    char Mac[18];            // MAC text of the serving client; empty for a relay server entry
    int32_t ParentIndex;     // 0 = top level
    int32_t Index;           // from 1 within one answer
    int32_t State;           // 0 offline, 1 online, 3 recording (2 and 4 only in a client's own copy)
    int32_t SecondStream;    // 1 when the device's DefRes is not "cif"
};
static_assert(sizeof(RelayDevRecord) == 360);
static_assert(offsetof(RelayDevRecord, Ip) == 4);
static_assert(offsetof(RelayDevRecord, DevName) == 37);
static_assert(offsetof(RelayDevRecord, DevSN) == 293);
static_assert(offsetof(RelayDevRecord, Mac) == 326);
static_assert(offsetof(RelayDevRecord, ParentIndex) == 344);
static_assert(offsetof(RelayDevRecord, Index) == 348);
static_assert(offsetof(RelayDevRecord, State) == 352);
static_assert(offsetof(RelayDevRecord, SecondStream) == 356);

// Frame information of every relayed frame; its first 16 bytes have the
// MediaFrameHeader layout.
struct TsFrameInfo {
    int32_t nKeyFrame;
    int32_t reserved1;
    double dTimeStamp;       // ms: the frame header's (live), into the file (replay)
    uint32_t nSeq;           // the session's video or audio counter, from 1
    int32_t reserved2;
};
static_assert(sizeof(TsFrameInfo) == 24);
static_assert(offsetof(TsFrameInfo, dTimeStamp) == 8);
static_assert(offsetof(TsFrameInfo, nSeq) == 16);
static_assert(offsetof(TsFrameInfo, dTimeStamp) == offsetof(MediaFrameHeader, timeStamp));

// WM_TS_CHANNEL_STATE, WM_TS_ALARM, WM_TS_PRESET_LIST_REQ, WM_TS_REPLAY_BYDATE_STOPPED.
struct TsNameRecord {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
};
static_assert(sizeof(TsNameRecord) == 48);
static_assert(offsetof(TsNameRecord, nChannel) == 44);

// WM_TS_DEVLIST. pItems is a library array (TS_Delete(pItems, 2)).
struct TsDevListRecord {
    RelayDevRecord* pItems;
    int32_t nCount;
    int32_t reserved;
};
static_assert(offsetof(TsDevListRecord, nCount) == sizeof(void*));

// WM_TS_VIDEO_REQ, WM_TS_VIDEO_CLOSE.
struct TsVideoRequest {
    char szName[kTsNameSize];
    int32_t nStreamType;     // 0 sub-stream, 1 main stream
    int32_t nChannel;
    int32_t nPeer;           // echoed in the answer
};
static_assert(sizeof(TsVideoRequest) == 52);
static_assert(offsetof(TsVideoRequest, nStreamType) == 40);
static_assert(offsetof(TsVideoRequest, nChannel) == 44);
static_assert(offsetof(TsVideoRequest, nPeer) == 48);

// WM_TS_VIDEO_RSP.
struct TsVideoAnswer {
    char szName[kTsNameSize];
    int32_t nStreamType;
    int32_t nChannel;
    AudioParam audio;
    VideoParam video;
};
static_assert(sizeof(TsVideoAnswer) == 860);
static_assert(offsetof(TsVideoAnswer, audio) == 48);
static_assert(offsetof(TsVideoAnswer, video) == 324);

// WM_TS_PTZ.
struct TsPtzRequest {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    int32_t nPanSpeed;
    int32_t nTiltSpeed;
    int32_t nCode;           // PtzDirection 1..16
};
static_assert(sizeof(TsPtzRequest) == 60);
static_assert(offsetof(TsPtzRequest, nChannel) == 44);
static_assert(offsetof(TsPtzRequest, nPanSpeed) == 48);
static_assert(offsetof(TsPtzRequest, nTiltSpeed) == 52);
static_assert(offsetof(TsPtzRequest, nCode) == 56);

// WM_TS_PTZ_ADVANCE.
struct TsPtzAdvanceRequest {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    int32_t nCode;           // 1..37
};
static_assert(sizeof(TsPtzAdvanceRequest) == 52);
static_assert(offsetof(TsPtzAdvanceRequest, nCode) == 48);

// WM_TS_PRESET (the peer's command text), WM_TS_PRESET_LIST (a parent's list).
struct TsPresetRecord {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    char szText[kTsPresetTextSize];
};
static_assert(offsetof(TsPresetRecord, nChannel) == 44);
static_assert(offsetof(TsPresetRecord, szText) == 48);

// WM_TS_SEARCH.
struct TsSearchRequest {
    char szName[kTsNameSize];
    int32_t nStream;         // 2 any, 1 main, other sub
    int32_t nChannel;
    int32_t nMedia;          // 3 video only, 1 audio and video, other any
    int32_t nKind;           // 1 any, 2 schedule, 3 alarm input, 4 motion
    int32_t nSource;         // 1 this client's files, other the device's storage
    int32_t nPage;
    int64_t llMinSize;       // -1 none, -2 read as -1
    int64_t llMaxSize;
    char szStart[30];        // date and time text
    char szEnd[30];
    int32_t nPeer;
};
static_assert(sizeof(TsSearchRequest) == 144);
static_assert(offsetof(TsSearchRequest, nStream) == 40);
static_assert(offsetof(TsSearchRequest, nMedia) == 48);
static_assert(offsetof(TsSearchRequest, nSource) == 56);
static_assert(offsetof(TsSearchRequest, nPage) == 60);
static_assert(offsetof(TsSearchRequest, llMinSize) == 64);
static_assert(offsetof(TsSearchRequest, llMaxSize) == 72);
static_assert(offsetof(TsSearchRequest, szStart) == 80);
static_assert(offsetof(TsSearchRequest, szEnd) == 110);
static_assert(offsetof(TsSearchRequest, nPeer) == 140);

// WM_TS_SEARCH_END: the answer to this client's by-file search. The text
// ("path?size|" per file) is a library array. In the fixed form the text is
// a 32-bit reference at 52; in memory the pointer follows the fixed part.
struct TsSearchEnd {
    char szName[kTsNameSize];
    int32_t reserved40;
    int32_t reserved44;
    int32_t nCount;
    uint32_t nTextRef;
    int32_t nResult;         // 0 success
    int32_t reserved60;
    char* pText;
};
static_assert(offsetof(TsSearchEnd, nCount) == 48);
static_assert(offsetof(TsSearchEnd, nTextRef) == 52);
static_assert(offsetof(TsSearchEnd, nResult) == 56);
static_assert(offsetof(TsSearchEnd, pText) == 64);

// WM_TS_SEARCH_BYDATE.
struct TsSearchByDateRequest {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    int32_t nPeer;
    int32_t nYear;
    int32_t nMonth;
    int32_t nDay;
};
static_assert(sizeof(TsSearchByDateRequest) == 64);
static_assert(offsetof(TsSearchByDateRequest, nPeer) == 48);
static_assert(offsetof(TsSearchByDateRequest, nYear) == 52);
static_assert(offsetof(TsSearchByDateRequest, nDay) == 60);

// WM_TS_SEARCH_BYDATE_RSP. pMinuteMap: 1,440 letters, a library array, may be null.
struct TsSearchByDateAnswer {
    char szName[kTsNameSize];
    int32_t nChannel;
    int32_t nYear;
    int32_t nMonth;
    int32_t nDay;
    char* pMinuteMap;
};
static_assert(offsetof(TsSearchByDateAnswer, nChannel) == 40);
static_assert(offsetof(TsSearchByDateAnswer, nDay) == 52);
static_assert(offsetof(TsSearchByDateAnswer, pMinuteMap) == 56);

// WM_TS_REPLAY_START, WM_TS_DLOAD_START.
struct TsReplayRequest {
    char szName[kTsNameSize];
    int32_t nValueA;         // echoed in every answer and report
    int32_t nValueB;
    char szPath[kTsPathSize];
    int32_t nPeer;
};
static_assert(sizeof(TsReplayRequest) == 316);
static_assert(offsetof(TsReplayRequest, nValueA) == 40);
static_assert(offsetof(TsReplayRequest, nValueB) == 44);
static_assert(offsetof(TsReplayRequest, szPath) == 48);
static_assert(offsetof(TsReplayRequest, nPeer) == 312);

// WM_TS_REPLAY_CTRL / _SEEK / _SPEED, WM_TS_DLOAD_STOP.
struct TsReplayControl {
    char szName[kTsNameSize];
    int32_t nValueA;
    int32_t nValueB;
    int32_t nValue;
    char szPath[kTsPathSize];
};
static_assert(sizeof(TsReplayControl) == 316);
static_assert(offsetof(TsReplayControl, nValue) == 48);
static_assert(offsetof(TsReplayControl, szPath) == 52);

// WM_TS_REPLAY_BYDATE_START.
struct TsReplayByDateRequest {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    int32_t nPeer;
    int32_t nYear;
    int32_t nMonth;
    int32_t nDay;
    int32_t nStartSec;       // second of the day
};
static_assert(sizeof(TsReplayByDateRequest) == 68);
static_assert(offsetof(TsReplayByDateRequest, nChannel) == 44);
static_assert(offsetof(TsReplayByDateRequest, nPeer) == 48);
static_assert(offsetof(TsReplayByDateRequest, nStartSec) == 64);

// WM_TS_REPLAY_BYDATE_CTRL / _SEEK / _SPEED.
struct TsReplayByDateControl {
    char szName[kTsNameSize];
    int32_t reserved;
    int32_t nChannel;
    int32_t nValue;
};
static_assert(sizeof(TsReplayByDateControl) == 52);
static_assert(offsetof(TsReplayByDateControl, nValue) == 48);

// The replay key: the first 48 bytes of a replay answer, handed back in
// every control call of that replay.
struct TsReplayKey {
    char szName[kTsNameSize];
    int32_t nValueA;
    int32_t nValueB;
};
static_assert(sizeof(TsReplayKey) == 48);

// WM_TS_REPLAY_START_RSP.
struct TsReplayStartAnswer {
    TsReplayKey key;
    AudioParam audio;
    VideoParam video;
    int32_t nResult;
    int32_t nDuration;       // seconds
    char szPath[kTsPathSize];
};
static_assert(sizeof(TsReplayStartAnswer) == 1132);
static_assert(offsetof(TsReplayStartAnswer, audio) == 48);
static_assert(offsetof(TsReplayStartAnswer, video) == 324);
static_assert(offsetof(TsReplayStartAnswer, nResult) == 860);
static_assert(offsetof(TsReplayStartAnswer, nDuration) == 864);
static_assert(offsetof(TsReplayStartAnswer, szPath) == 868);

// WM_TS_REPLAY_STOPPED, WM_TS_DLOAD_ACK, WM_TS_DLOAD_END.
struct TsPathRecord {
    TsReplayKey key;
    char szPath[kTsPathSize];
};
static_assert(sizeof(TsPathRecord) == 312);
static_assert(offsetof(TsPathRecord, szPath) == 48);

// A calendar time as the client's pickers give it (the fields of SYSTEMTIME).
struct TsSystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(TsSystemTime) == 16);

// --- callbacks (called on the library's thread) -------------------------------
// Live frames of one channel (TS_SetRealDataCallback); returns 1.
using TsRealDataCallback = int (*)(const char* szName, int nStreamType, int nChannel, int nKind, const char* pData,
                                   int nLen, const TsFrameInfo* pInfo, void* pUser);
// Relay name -> login id of the parent server that serves it, 0 for none.
using TsGetUserIdCallback = int (*)(const char* szName, void* pUser);
// Frames of this client's by-file relay replay.
using TsReplayDataCallback = int (*)(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, int nKind,
                                     const char* pData, int nLen, const TsFrameInfo* pInfo, const char* szPath,
                                     void* pUser);
// Frames of this client's by-date relay replay; the parameters and the
// new-file flag come with the first frame of each file.
using TsReplayByDateCallback = int (*)(int nLoginId, const char* szName, int nChannel, int nKind, const char* pData,
                                       int nLen, const TsFrameInfo* pInfo, const VideoParam* pVideo,
                                       const AudioParam* pAudio, int bNewFile, int nSeconds, int nFileStartSec,
                                       void* pUser);
// Blocks of this client's relay download; returns 1.
using TsDownloadDataCallback = int (*)(int nLoginId, const char* szName, int nValueA, int nValueB, int nType,
                                       const char* pData, int nLen, int64_t llReceived, int64_t llTotal,
                                       const char* szPath, void* pUser);

// --- the library's calls ---------------------------------------------------------
// Start and end of the library's life; both answer 1.
int TS_Init();
int TS_Release();
// Requests and answers go to this window from now on (null: nowhere).
void TS_SetMsgWnd(HWND hWnd);
void TS_SetGetUserIdCallback(TsGetUserIdCallback cb, void* pUser);
void TS_SetRealReplayCallback(TsReplayDataCallback cb, void* pUser);
void TS_SetDownloadRealDataCallback(TsDownloadDataCallback cb, void* pUser);
void TS_SetReplayByDateCallback(TsReplayByDateCallback cb, void* pUser);
// Per shown channel; a null callback removes the channel's registration.
void TS_SetRealDataCallback(TsRealDataCallback cb, const char* szName, int nStreamType, int nChannel, void* pUser);
// Releases a record (mode 1) or an array (mode 2) the library handed over.
// 1 released; 0 refused (a pointer the library did not give out, or gave
// out and got back already).
int TS_Delete(void* p, int nMode);

// Server side.
int TS_StartTS(const char* szLocalAddr, int nPort, int nChannelCount, int nUserCount); // 1 running
int TS_StopTS();                                             // 1 when it was running
int TS_ModifyChannelCount(int nChannelCount, int nUserCount); // non-zero accepted
int TS_RspDeviceList(int nResult, int nHandle, const RelayDevRecord* pItems, int nCount); // 1 answer sent
void TS_ReportDeviceState(const char* szName, int nChannel, int nState);
void TS_NotifyUpdateDeviceList();
void TS_ReportAlarmInfo(const char* szName, int nChannel, const _ALARM_INFO* pAlarm);
// The live session handle (above 0) for an accepted answer, else 0.
int TS_RspDeviceVideo(int nResult, const char* szName, int nStreamType, int nChannel, int nPeer, int nHandle,
                      const VideoParam* pVideo, const AudioParam* pAudio);
void TS_ReportAVData(int nLiveHandle, const char* szName, int nStreamType, int nChannel, int nKind,
                     const char* pData, int nLen, const TsFrameInfo* pInfo);
void TS_CloseDeviceVideo(int nLiveHandle);
void TS_RspReplaySearch(int nResult, int nPeer, int nHandle, const TsSearchRequest* pRequest, int nMedia,
                        int nSource, int nCount, const char* szText);
void TS_RspReplaySearchByDate(int nResult, int nPeer, int nHandle, const TsSearchByDateRequest* pRequest,
                              int nChannel, const char* pMinuteMap, int64_t tDate);
void TS_RspReplayStart(int nResult, int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA,
                       int nValueB, const VideoParam* pVideo, const AudioParam* pAudio, const char* szPath,
                       int nDuration);
void TS_ReportReplayData(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                         int nKind, const char* pData, int nLen, const TsFrameInfo* pInfo, const char* szPath);
void TS_NotifyReplayStop(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                         const char* szPath);
void TS_ReportReplayDataByDate(int nPeer, int nHandle, const TsReplayByDateRequest* pRequest, int nChannel,
                               int nKind, const char* pData, int nLen, const TsFrameInfo* pInfo,
                               const VideoParam* pVideo, const AudioParam* pAudio, int bFirst, int nDuration,
                               int nFileStartSec);
void TS_NotifyReplayStopByDate(int nPeer, int nHandle, const TsReplayByDateRequest* pRequest, int nChannel);
void TS_RspDloadStart(int nResult, int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA,
                      int nValueB, int nType, int64_t llSize, const char* szPath);
void TS_ReportDloadData(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                        int nType, const char* pData, int nLen, int64_t llOffset, int64_t llSize,
                        const char* szPath);
void TS_NotifyDloadStop(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                        const char* szPath);
// Answers the peers that asked for this channel's preset list; 1 when one waited.
int TS_RspInvitePreset(const char* szName, int nZero, int nChannel, const char* szText);

// Client side: parent relay servers. The login id is above 0; 0 refused.
int TS_Login(const char* szAddr, int nPort, const char* szUser, const char* szDigest);
void TS_LoginOut(int nLoginId);
int TS_InviteDeviceList(int nLoginId);                       // 1 asked
int TS_IsInnerIp(int nLoginId);                              // non-zero: same inner network
int TS_InviteDeviceVideo(int nLoginId, const char* szName, int nStreamFlag, int nChannel); // 1 asked
// Also ends the channel's frames: its data callback is not called again.
int TS_InviteCloseDeviceVideo(int nLoginId, const char* szName, int nStreamType, int nChannel);
int TS_SetPtzDirection(int nLoginId, const char* szName, int nStreamField, int nChannel, int nCode, int nPanSpeed,
                       int nTiltSpeed);
int TS_SetPtzAdvance(int nLoginId, const char* szName, int nStreamField, int nChannel, int nCommand);
int TS_InvitePreset(int nLoginId, const char* szName, int nZero, int nChannel);
int TS_SetPtzPreset(int nLoginId, const char* szName, int nZero, int nChannel, int nOperation, const char* szText);

// Client side: search, replay and download on a parent's client. dtStart
// and dtDate are OLE dates (days since 1899-12-30, local time).
int TS_InviteReplaySearch(int nLoginId, const char* szName, int nStream, int nChannel, int nMedia, int nKind,
                          int nSource, int nPage, double dtStart, const TsSystemTime* pEnd, int64_t llMinSize,
                          int64_t llMaxSize);
int TS_InviteReplaySearchByDate(int nLoginId, const char* szName, int nChannel, const TsSystemTime* pDay);
int TS_InviteReplayStart(int nLoginId, const char* szName, int nStreamFlag, int nChannel, int nOne,
                         const char* szPath);
// The by-file controls; Stop also ends the replay's frames.
int TS_InvitePeplayContinue(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath);
int TS_InviteReplayPause(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath);
int TS_InviteReplayStop(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath);
int TS_InviteModuleReplayPause(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB,
                               const char* szPath);
int TS_InviteModulePeplayContinue(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB,
                                  const char* szPath);
int TS_InviteReplayPre(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath);
int TS_InviteReplayNext(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath);
int TS_InviteReplaySpeed(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, int nSpeed,
                         const char* szPath);
int TS_InviteReplaySeek(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, int nSeconds,
                        const char* szPath);
int TS_InviteReplayStartByDate(int nLoginId, const char* szName, int nChannel, double dtDate, int nSecOfDay);
// The by-date controls; Stop also ends the replay's frames.
int TS_InvitePeplayContinueByDate(int nLoginId, const char* szName, int nChannel);
int TS_InviteReplayPauseByDate(int nLoginId, const char* szName, int nChannel);
int TS_InviteReplayStopByDate(int nLoginId, const char* szName, int nChannel);
int TS_InviteModuleReplayByDatePause(int nLoginId, const char* szName, int nChannel);
int TS_InviteModulePeplayByDateContinue(int nLoginId, const char* szName, int nChannel);
int TS_InviteReplayPreByDate(int nLoginId, const char* szName, int nChannel);
int TS_InviteReplayNextByDate(int nLoginId, const char* szName, int nChannel);
int TS_InviteReplaySpeedByDate(int nLoginId, const char* szName, int nChannel, int nSpeed);
int TS_InviteReplaySeekByDate(int nLoginId, const char* szName, int nChannel, int nSecOfDay);
// Non-zero accepted. Stop also ends the download's blocks.
int TS_InviteDloadStart(int nLoginId, const char* szName, int nStreamFlag, int nChannel, int nOne,
                        const char* szPath);
int TS_InviteDloadStop(int nLoginId, const char* szName, int nStreamFlag, int nChannel, const char* szPath);

// --- what the transport (and tests) hand to the program ---------------------------
namespace qelm::ts {

// Library allocations. A record is released with TS_Delete(p, 1), an array
// with TS_Delete(p, 2); an array given an owner record is released with that
// record when the handler left it.
void* RegisterRecord(void* p, void (*destroy)(void*));
char* NewArray(void* owner, std::size_t bytes);              // zero-filled
RelayDevRecord* NewDevArray(void* owner, int count);         // zero-filled
template <class T>
T* NewRecord()
{
    static_assert(std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>);
    return static_cast<T*>(RegisterRecord(new T{}, [](void* p) { delete static_cast<T*>(p); }));
}
// Allocations given out and not yet released.
std::size_t LiveAllocations();

// Posts a request or answer to the TS_SetMsgWnd window, as the library does
// from its threads. The records of the message (wParam; lParam as well for
// WM_TS_ALARM) must come from NewRecord; from here on the handler owns them,
// or, when the window dies first or no handler takes the message, the window
// layer releases them. False when nothing was posted (no window, a number
// outside the table, a record the library did not give out): the records of
// the message are released here.
bool DeliverToWindow(UINT msg, WPARAM wParam, LPARAM lParam);
// A remote client's login: WM_TS_LOGIN_CHECK sent to the window (the caller
// waits for the UI thread). 0 accepted, 1 refused (also without a window).
int AskLoginCheck(const char* szUser, const char* szDigest);

// Media for the callbacks. Queued for the library's thread and delivered
// there, unless the registration or session is gone by then. False when
// dropped at once (library released, queue full).
bool FeedRealData(const char* szName, int nStreamType, int nChannel, int nKind, const char* pData, int nLen,
                  const TsFrameInfo& info);
bool FeedReplayData(int nLoginId, const TsReplayKey& key, int nKind, const char* pData, int nLen,
                    const TsFrameInfo& info, const char* szPath);
bool FeedReplayDataByDate(int nLoginId, const char* szName, int nChannel, int nKind, const char* pData, int nLen,
                          const TsFrameInfo& info, const VideoParam* pVideo, const AudioParam* pAudio, int bNewFile,
                          int nSeconds, int nFileStartSec);
bool FeedDownloadData(int nLoginId, const char* szName, int nValueA, int nValueB, const char* pData, int nLen,
                      int64_t llReceived, int64_t llTotal, const char* szPath);
// Asks the user-id callback on the library's thread and waits for it;
// 0 without a callback.
int QueryUserId(const char* szName);

// Packing of device-list entries into the 360-byte form and back (texts
// converted between UTF-8 and GB18030, cut at a character boundary).
void PackRelayDevItem(const RelayDevItem& item, const char* szDevSN, RelayDevRecord* out);
RelayDevItem UnpackRelayDevItem(const RelayDevRecord& rec);

} // namespace qelm::ts
