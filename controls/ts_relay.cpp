// The relay library's calls. Without a transport between clients it answers
// as a library with no peers: logins are refused, invitations reach nobody,
// answers and reports to remote clients go nowhere. Every call is journaled.
#include "controls/ts_relay.h"

#include "controls/journal.h"
#include "controls/ts_relay_callbacks.h"
#include "controls/ts_relay_internal.h"
#include "platform/logsink.h"
#include "platform/message.h"
#include "platform/text.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

using qelm::Journal;
using qelm::ts::CallbackHub;

namespace {

struct LibraryState {
    std::mutex mutex;
    HWND msgWnd = nullptr;
    bool initialised = false;
    bool serving = false;
    std::string localAddr;
    int port = 0;
    int channelCount = 0;
    int userCount = 0;
    int nextLiveHandle = 1;
    std::set<int> liveHandles;
};

LibraryState& State()
{
    static LibraryState* s = new LibraryState;
    return *s;
}

std::string Text(const char* s)
{
    return s ? s : "";
}

std::string RecName(const char* recordName)
{
    return recordName ? std::string(recordName, strnlen(recordName, kTsNameSize)) : std::string();
}

std::string VideoName(const VideoParam* v)
{
    return v ? std::string(v->codecName, strnlen(v->codecName, sizeof v->codecName)) : std::string();
}

std::string AudioName(const AudioParam* a)
{
    return a ? std::string(a->codecName, strnlen(a->codecName, sizeof a->codecName)) : std::string();
}

std::string TimeText(const TsSystemTime* t)
{
    if (!t)
        return {};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t->wYear, t->wMonth, t->wDay, t->wHour,
                  t->wMinute, t->wSecond);
    return buf;
}

bool ValidLocalAddr(const char* addr)
{
    in_addr a{};
    return addr && inet_pton(AF_INET, addr, &a) == 1;
}

// Where wParam and lParam of each message carry library records.
enum class Payload { None, Record, RecordAndAlarm };

bool MessagePayload(UINT msg, Payload* out)
{
    switch (msg) {
    case WM_TS_PARENT_LOST:
    case WM_TS_DEVLIST_REQ:
    case WM_TS_DEVLIST_CHANGED:
        *out = Payload::None;
        return true;
    case WM_TS_ALARM:
        *out = Payload::RecordAndAlarm;
        return true;
    case WM_TS_DEVLIST:
    case WM_TS_CHANNEL_STATE:
    case WM_TS_VIDEO_REQ:
    case WM_TS_VIDEO_RSP:
    case WM_TS_VIDEO_CLOSE:
    case WM_TS_SEARCH:
    case WM_TS_SEARCH_END:
    case WM_TS_REPLAY_START:
    case WM_TS_REPLAY_START_RSP:
    case WM_TS_REPLAY_CTRL:
    case WM_TS_REPLAY_SEEK:
    case WM_TS_REPLAY_SPEED:
    case WM_TS_REPLAY_STOPPED:
    case WM_TS_DLOAD_START:
    case WM_TS_DLOAD_ACK:
    case WM_TS_DLOAD_STOP:
    case WM_TS_DLOAD_END:
    case WM_TS_PTZ:
    case WM_TS_PRESET_LIST_REQ:
    case WM_TS_PRESET_LIST:
    case WM_TS_PRESET:
    case WM_TS_PTZ_ADVANCE:
    case WM_TS_SEARCH_BYDATE:
    case WM_TS_SEARCH_BYDATE_RSP:
    case WM_TS_REPLAY_BYDATE_START:
    case WM_TS_REPLAY_BYDATE_CTRL:
    case WM_TS_REPLAY_BYDATE_SEEK:
    case WM_TS_REPLAY_BYDATE_SPEED:
    case WM_TS_REPLAY_BYDATE_STOPPED:
        *out = Payload::Record;
        return true;
    default:
        return false; // WM_TS_LOGIN_CHECK is sent, not posted; the gaps are no messages
    }
}

// The window layer's release of a message nobody took.
void ReleaseUndeliveredRecord(WPARAM w, LPARAM)
{
    qelm::ts::ReleaseAllocation(reinterpret_cast<void*>(w));
}

void ReleaseUndeliveredRecordAndAlarm(WPARAM w, LPARAM l)
{
    qelm::ts::ReleaseAllocation(reinterpret_cast<void*>(w));
    qelm::ts::ReleaseAllocation(reinterpret_cast<void*>(l));
}

} // namespace

// --- life, window, callbacks -------------------------------------------------------

int TS_Init()
{
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().initialised = true;
    }
    CallbackHub::Instance().SetReleased(false);
    Journal::Call("TS_Init", {}, 1);
    return 1;
}

int TS_Release()
{
    CallbackHub& hub = CallbackHub::Instance();
    hub.SetReleased(true);
    hub.Stop();
    hub.Clear();
    {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.initialised = false;
        s.serving = false;
        s.msgWnd = nullptr;
        s.liveHandles.clear();
    }
    Journal::Call("TS_Release", {}, 1);
    return 1;
}

void TS_SetMsgWnd(HWND hWnd)
{
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().msgWnd = hWnd;
    }
    Journal::Call("TS_SetMsgWnd", {hWnd});
}

void TS_SetGetUserIdCallback(TsGetUserIdCallback cb, void* pUser)
{
    CallbackHub::Instance().SetGlobal(qelm::ts::Job::UserId, reinterpret_cast<void*>(cb), pUser);
    Journal::Call("TS_SetGetUserIdCallback", {reinterpret_cast<void*>(cb), pUser});
}

void TS_SetRealReplayCallback(TsReplayDataCallback cb, void* pUser)
{
    CallbackHub::Instance().SetGlobal(qelm::ts::Job::Replay, reinterpret_cast<void*>(cb), pUser);
    Journal::Call("TS_SetRealReplayCallback", {reinterpret_cast<void*>(cb), pUser});
}

void TS_SetDownloadRealDataCallback(TsDownloadDataCallback cb, void* pUser)
{
    CallbackHub::Instance().SetGlobal(qelm::ts::Job::Download, reinterpret_cast<void*>(cb), pUser);
    Journal::Call("TS_SetDownloadRealDataCallback", {reinterpret_cast<void*>(cb), pUser});
}

void TS_SetReplayByDateCallback(TsReplayByDateCallback cb, void* pUser)
{
    CallbackHub::Instance().SetGlobal(qelm::ts::Job::ByDate, reinterpret_cast<void*>(cb), pUser);
    Journal::Call("TS_SetReplayByDateCallback", {reinterpret_cast<void*>(cb), pUser});
}

void TS_SetRealDataCallback(TsRealDataCallback cb, const char* szName, int nStreamType, int nChannel, void* pUser)
{
    CallbackHub::Instance().SetRealData(qelm::ts::RealKey(szName, nStreamType, nChannel), cb, pUser);
    Journal::Call("TS_SetRealDataCallback",
                  {reinterpret_cast<void*>(cb), Text(szName), nStreamType, nChannel, pUser});
}

// --- server side -----------------------------------------------------------------------

int TS_StartTS(const char* szLocalAddr, int nPort, int nChannelCount, int nUserCount)
{
    int r = 0;
    if (!ValidLocalAddr(szLocalAddr) || nPort <= 0 || nPort > 65535 || nChannelCount <= 0 || nUserCount <= 0) {
        qelm::PlatformLog(3, "TS_StartTS(): refused: address \"%s\", port %d, %d channels, %d users",
                          szLocalAddr ? szLocalAddr : "", nPort, nChannelCount, nUserCount);
    } else {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.serving = true;
        s.localAddr = szLocalAddr;
        s.port = nPort;
        s.channelCount = nChannelCount;
        s.userCount = nUserCount;
        r = 1;
    }
    Journal::Call("TS_StartTS", {Text(szLocalAddr), nPort, nChannelCount, nUserCount}, r);
    return r;
}

int TS_StopTS()
{
    int r = 0;
    {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        r = s.serving ? 1 : 0;
        s.serving = false;
        s.liveHandles.clear();
    }
    CallbackHub::Instance().Stop();
    Journal::Call("TS_StopTS", {}, r);
    return r;
}

int TS_ModifyChannelCount(int nChannelCount, int nUserCount)
{
    int r = 0;
    {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.serving && nChannelCount > 0 && nUserCount > 0) {
            s.channelCount = nChannelCount;
            s.userCount = nUserCount;
            r = 1;
        }
    }
    Journal::Call("TS_ModifyChannelCount", {nChannelCount, nUserCount}, r);
    return r;
}

int TS_RspDeviceList(int nResult, int nHandle, const RelayDevRecord* pItems, int nCount)
{
    // A count without its items is not sent.
    const int r = (nCount < 0 || (nCount > 0 && !pItems)) ? 0 : 1;
    Journal::Call("TS_RspDeviceList", {nResult, nHandle, pItems, nCount}, r);
    return r;
}

void TS_ReportDeviceState(const char* szName, int nChannel, int nState)
{
    Journal::Call("TS_ReportDeviceState", {Text(szName), nChannel, nState});
}

void TS_NotifyUpdateDeviceList()
{
    Journal::Call("TS_NotifyUpdateDeviceList", {});
}

void TS_ReportAlarmInfo(const char* szName, int nChannel, const _ALARM_INFO* pAlarm)
{
    Journal::Call("TS_ReportAlarmInfo", {Text(szName), nChannel, pAlarm ? pAlarm->alarmType : -1});
}

int TS_RspDeviceVideo(int nResult, const char* szName, int nStreamType, int nChannel, int nPeer, int nHandle,
                      const VideoParam* pVideo, const AudioParam* pAudio)
{
    int live = 0;
    if (nResult == 0 && (pVideo || pAudio)) {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        live = s.nextLiveHandle++;
        if (s.nextLiveHandle <= 0)
            s.nextLiveHandle = 1;
        s.liveHandles.insert(live);
    }
    Journal::Call("TS_RspDeviceVideo", {nResult, Text(szName), nStreamType, nChannel, nPeer, nHandle,
                                        VideoName(pVideo), AudioName(pAudio)},
                  live);
    return live;
}

void TS_ReportAVData(int nLiveHandle, const char* szName, int nStreamType, int nChannel, int nKind,
                     const char* pData, int nLen, const TsFrameInfo* pInfo)
{
    bool open = false;
    {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        open = s.liveHandles.count(nLiveHandle) != 0;
    }
    Journal::Call("TS_ReportAVData", {nLiveHandle, Text(szName), nStreamType, nChannel, nKind, nLen,
                                      pInfo ? pInfo->nKeyFrame : 0, pInfo ? pInfo->nSeq : 0u},
                  open ? 1 : 0);
    (void)pData;
}

void TS_CloseDeviceVideo(int nLiveHandle)
{
    int r = 0;
    {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        r = s.liveHandles.erase(nLiveHandle) ? 1 : 0;
    }
    Journal::Call("TS_CloseDeviceVideo", {nLiveHandle}, r);
}

void TS_RspReplaySearch(int nResult, int nPeer, int nHandle, const TsSearchRequest* pRequest, int nMedia,
                        int nSource, int nCount, const char* szText)
{
    Journal::Call("TS_RspReplaySearch", {nResult, nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr),
                                         nMedia, nSource, nCount, Text(szText)});
}

void TS_RspReplaySearchByDate(int nResult, int nPeer, int nHandle, const TsSearchByDateRequest* pRequest,
                              int nChannel, const char* pMinuteMap, int64_t tDate)
{
    const std::string map = pMinuteMap ? std::string(pMinuteMap, strnlen(pMinuteMap, kTsMinuteMapSize)) : "";
    Journal::Call("TS_RspReplaySearchByDate", {nResult, nPeer, nHandle,
                                               RecName(pRequest ? pRequest->szName : nullptr), nChannel, map, tDate});
}

void TS_RspReplayStart(int nResult, int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA,
                       int nValueB, const VideoParam* pVideo, const AudioParam* pAudio, const char* szPath,
                       int nDuration)
{
    Journal::Call("TS_RspReplayStart", {nResult, nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr),
                                        nValueA, nValueB, VideoName(pVideo), AudioName(pAudio), Text(szPath),
                                        nDuration});
}

void TS_ReportReplayData(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                         int nKind, const char* pData, int nLen, const TsFrameInfo* pInfo, const char* szPath)
{
    (void)pData;
    (void)pRequest;
    Journal::Call("TS_ReportReplayData", {nPeer, nHandle, nValueA, nValueB, nKind, nLen,
                                          pInfo ? pInfo->nSeq : 0u, Text(szPath)});
}

void TS_NotifyReplayStop(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                         const char* szPath)
{
    Journal::Call("TS_NotifyReplayStop", {nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr), nValueA,
                                          nValueB, Text(szPath)});
}

void TS_ReportReplayDataByDate(int nPeer, int nHandle, const TsReplayByDateRequest* pRequest, int nChannel,
                               int nKind, const char* pData, int nLen, const TsFrameInfo* pInfo,
                               const VideoParam* pVideo, const AudioParam* pAudio, int bFirst, int nDuration,
                               int nFileStartSec)
{
    (void)pData;
    Journal::Call("TS_ReportReplayDataByDate",
                  {nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr), nChannel, nKind, nLen,
                   pInfo ? pInfo->nSeq : 0u, VideoName(pVideo), AudioName(pAudio), bFirst, nDuration,
                   nFileStartSec});
}

void TS_NotifyReplayStopByDate(int nPeer, int nHandle, const TsReplayByDateRequest* pRequest, int nChannel)
{
    Journal::Call("TS_NotifyReplayStopByDate",
                  {nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr), nChannel});
}

void TS_RspDloadStart(int nResult, int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA,
                      int nValueB, int nType, int64_t llSize, const char* szPath)
{
    Journal::Call("TS_RspDloadStart", {nResult, nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr),
                                       nValueA, nValueB, nType, llSize, Text(szPath)});
}

void TS_ReportDloadData(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                        int nType, const char* pData, int nLen, int64_t llOffset, int64_t llSize, const char* szPath)
{
    (void)pData;
    (void)pRequest;
    Journal::Call("TS_ReportDloadData",
                  {nPeer, nHandle, nValueA, nValueB, nType, nLen, llOffset, llSize, Text(szPath)});
}

void TS_NotifyDloadStop(int nPeer, int nHandle, const TsReplayRequest* pRequest, int nValueA, int nValueB,
                        const char* szPath)
{
    Journal::Call("TS_NotifyDloadStop", {nPeer, nHandle, RecName(pRequest ? pRequest->szName : nullptr), nValueA,
                                         nValueB, Text(szPath)});
}

int TS_RspInvitePreset(const char* szName, int nZero, int nChannel, const char* szText)
{
    Journal::Call("TS_RspInvitePreset", {Text(szName), nZero, nChannel, Text(szText)}, 0);
    return 0;
}

// --- client side -------------------------------------------------------------------------
// No parent server ever accepted a login here, so every login id is unknown.

int TS_Login(const char* szAddr, int nPort, const char* szUser, const char* szDigest)
{
    Journal::Call("TS_Login", {Text(szAddr), nPort, Text(szUser), (szDigest && *szDigest) ? "***" : ""}, 0);
    return 0;
}

void TS_LoginOut(int nLoginId)
{
    CallbackHub::Instance().CloseLogin(nLoginId);
    Journal::Call("TS_LoginOut", {nLoginId});
}

int TS_InviteDeviceList(int nLoginId)
{
    Journal::Call("TS_InviteDeviceList", {nLoginId}, 0);
    return 0;
}

int TS_IsInnerIp(int nLoginId)
{
    Journal::Call("TS_IsInnerIp", {nLoginId}, 0);
    return 0;
}

int TS_InviteDeviceVideo(int nLoginId, const char* szName, int nStreamFlag, int nChannel)
{
    Journal::Call("TS_InviteDeviceVideo", {nLoginId, Text(szName), nStreamFlag, nChannel}, 0);
    return 0;
}

int TS_InviteCloseDeviceVideo(int nLoginId, const char* szName, int nStreamType, int nChannel)
{
    CallbackHub::Instance().CloseSession(qelm::ts::RealKey(szName, nStreamType, nChannel));
    Journal::Call("TS_InviteCloseDeviceVideo", {nLoginId, Text(szName), nStreamType, nChannel}, 0);
    return 0;
}

int TS_SetPtzDirection(int nLoginId, const char* szName, int nStreamField, int nChannel, int nCode, int nPanSpeed,
                       int nTiltSpeed)
{
    Journal::Call("TS_SetPtzDirection",
                  {nLoginId, Text(szName), nStreamField, nChannel, nCode, nPanSpeed, nTiltSpeed}, 0);
    return 0;
}

int TS_SetPtzAdvance(int nLoginId, const char* szName, int nStreamField, int nChannel, int nCommand)
{
    Journal::Call("TS_SetPtzAdvance", {nLoginId, Text(szName), nStreamField, nChannel, nCommand}, 0);
    return 0;
}

int TS_InvitePreset(int nLoginId, const char* szName, int nZero, int nChannel)
{
    Journal::Call("TS_InvitePreset", {nLoginId, Text(szName), nZero, nChannel}, 0);
    return 0;
}

int TS_SetPtzPreset(int nLoginId, const char* szName, int nZero, int nChannel, int nOperation, const char* szText)
{
    Journal::Call("TS_SetPtzPreset", {nLoginId, Text(szName), nZero, nChannel, nOperation, Text(szText)}, 0);
    return 0;
}

int TS_InviteReplaySearch(int nLoginId, const char* szName, int nStream, int nChannel, int nMedia, int nKind,
                          int nSource, int nPage, double dtStart, const TsSystemTime* pEnd, int64_t llMinSize,
                          int64_t llMaxSize)
{
    Journal::Call("TS_InviteReplaySearch", {nLoginId, Text(szName), nStream, nChannel, nMedia, nKind, nSource, nPage,
                                            dtStart, TimeText(pEnd), llMinSize, llMaxSize},
                  0);
    return 0;
}

int TS_InviteReplaySearchByDate(int nLoginId, const char* szName, int nChannel, const TsSystemTime* pDay)
{
    Journal::Call("TS_InviteReplaySearchByDate", {nLoginId, Text(szName), nChannel, TimeText(pDay)}, 0);
    return 0;
}

int TS_InviteReplayStart(int nLoginId, const char* szName, int nStreamFlag, int nChannel, int nOne,
                         const char* szPath)
{
    CallbackHub::Instance().OpenSession(qelm::ts::ReplayKey(nLoginId, szPath));
    Journal::Call("TS_InviteReplayStart", {nLoginId, Text(szName), nStreamFlag, nChannel, nOne, Text(szPath)}, 0);
    return 0;
}

namespace {

int ReplayControl(const char* call, int login, const TsReplayKey* key, int a, int b, const char* path)
{
    Journal::Call(call, {login, RecName(key ? key->szName : nullptr), a, b, Text(path)}, 0);
    return 0;
}

int ByDateControl(const char* call, int login, const char* name, int channel)
{
    Journal::Call(call, {login, Text(name), channel}, 0);
    return 0;
}

} // namespace

int TS_InvitePeplayContinue(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath)
{
    return ReplayControl("TS_InvitePeplayContinue", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteReplayPause(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath)
{
    return ReplayControl("TS_InviteReplayPause", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteReplayStop(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath)
{
    CallbackHub::Instance().CloseSession(qelm::ts::ReplayKey(nLoginId, szPath));
    return ReplayControl("TS_InviteReplayStop", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteModuleReplayPause(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB,
                               const char* szPath)
{
    return ReplayControl("TS_InviteModuleReplayPause", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteModulePeplayContinue(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB,
                                  const char* szPath)
{
    return ReplayControl("TS_InviteModulePeplayContinue", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteReplayPre(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath)
{
    return ReplayControl("TS_InviteReplayPre", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteReplayNext(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, const char* szPath)
{
    return ReplayControl("TS_InviteReplayNext", nLoginId, pKey, nValueA, nValueB, szPath);
}

int TS_InviteReplaySpeed(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, int nSpeed,
                         const char* szPath)
{
    Journal::Call("TS_InviteReplaySpeed",
                  {nLoginId, RecName(pKey ? pKey->szName : nullptr), nValueA, nValueB, nSpeed, Text(szPath)}, 0);
    return 0;
}

int TS_InviteReplaySeek(int nLoginId, const TsReplayKey* pKey, int nValueA, int nValueB, int nSeconds,
                        const char* szPath)
{
    Journal::Call("TS_InviteReplaySeek",
                  {nLoginId, RecName(pKey ? pKey->szName : nullptr), nValueA, nValueB, nSeconds, Text(szPath)}, 0);
    return 0;
}

int TS_InviteReplayStartByDate(int nLoginId, const char* szName, int nChannel, double dtDate, int nSecOfDay)
{
    CallbackHub::Instance().OpenSession(qelm::ts::ByDateKey(nLoginId, szName, nChannel));
    Journal::Call("TS_InviteReplayStartByDate", {nLoginId, Text(szName), nChannel, dtDate, nSecOfDay}, 0);
    return 0;
}

int TS_InvitePeplayContinueByDate(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InvitePeplayContinueByDate", nLoginId, szName, nChannel);
}

int TS_InviteReplayPauseByDate(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InviteReplayPauseByDate", nLoginId, szName, nChannel);
}

int TS_InviteReplayStopByDate(int nLoginId, const char* szName, int nChannel)
{
    CallbackHub::Instance().CloseSession(qelm::ts::ByDateKey(nLoginId, szName, nChannel));
    return ByDateControl("TS_InviteReplayStopByDate", nLoginId, szName, nChannel);
}

int TS_InviteModuleReplayByDatePause(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InviteModuleReplayByDatePause", nLoginId, szName, nChannel);
}

int TS_InviteModulePeplayByDateContinue(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InviteModulePeplayByDateContinue", nLoginId, szName, nChannel);
}

int TS_InviteReplayPreByDate(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InviteReplayPreByDate", nLoginId, szName, nChannel);
}

int TS_InviteReplayNextByDate(int nLoginId, const char* szName, int nChannel)
{
    return ByDateControl("TS_InviteReplayNextByDate", nLoginId, szName, nChannel);
}

int TS_InviteReplaySpeedByDate(int nLoginId, const char* szName, int nChannel, int nSpeed)
{
    Journal::Call("TS_InviteReplaySpeedByDate", {nLoginId, Text(szName), nChannel, nSpeed}, 0);
    return 0;
}

int TS_InviteReplaySeekByDate(int nLoginId, const char* szName, int nChannel, int nSecOfDay)
{
    Journal::Call("TS_InviteReplaySeekByDate", {nLoginId, Text(szName), nChannel, nSecOfDay}, 0);
    return 0;
}

int TS_InviteDloadStart(int nLoginId, const char* szName, int nStreamFlag, int nChannel, int nOne,
                        const char* szPath)
{
    CallbackHub::Instance().OpenSession(qelm::ts::DownloadKey(nLoginId, szPath));
    Journal::Call("TS_InviteDloadStart", {nLoginId, Text(szName), nStreamFlag, nChannel, nOne, Text(szPath)}, 0);
    return 0;
}

int TS_InviteDloadStop(int nLoginId, const char* szName, int nStreamFlag, int nChannel, const char* szPath)
{
    CallbackHub::Instance().CloseSession(qelm::ts::DownloadKey(nLoginId, szPath));
    Journal::Call("TS_InviteDloadStop", {nLoginId, Text(szName), nStreamFlag, nChannel, Text(szPath)}, 0);
    return 0;
}

// --- the transport's side ---------------------------------------------------------------

namespace qelm::ts {

bool DeliverToWindow(UINT msg, WPARAM wParam, LPARAM lParam)
{
    Payload payload = Payload::None;
    const bool known = MessagePayload(msg, &payload);
    void* record = payload != Payload::None ? reinterpret_cast<void*>(wParam) : nullptr;
    void* alarm = payload == Payload::RecordAndAlarm ? reinterpret_cast<void*>(lParam) : nullptr;

    auto releaseOurs = [&] {
        ReleaseAllocation(record);
        ReleaseAllocation(alarm);
    };
    if (!known) {
        // Not knowing what it carries, give back whatever of it is ours.
        PlatformLog(3, "TS: message %u is not one the library posts; not posted", msg);
        for (void* p : {reinterpret_cast<void*>(wParam), reinterpret_cast<void*>(lParam)})
            if (IsLiveRecord(p))
                ReleaseAllocation(p);
        Journal::Event("TS_PostMessage", {msg, 0});
        return false;
    }
    // The handler gives the records back with TS_Delete: they must be ours.
    if ((payload != Payload::None && !IsLiveRecord(record)) || (alarm && !IsLiveRecord(alarm))) {
        PlatformLog(3, "TS: message %u carries a record the library did not give out; not posted", msg);
        releaseOurs();
        Journal::Event("TS_PostMessage", {msg, 0});
        return false;
    }

    HWND wnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        wnd = State().msgWnd;
    }
    PayloadDeleter deleter = payload == Payload::Record           ? ReleaseUndeliveredRecord
                             : payload == Payload::RecordAndAlarm ? ReleaseUndeliveredRecordAndAlarm
                                                                  : nullptr;
    const bool posted = wnd && PostMessage(wnd, msg, wParam, lParam, deleter);
    if (!posted)
        releaseOurs();
    Journal::Event("TS_PostMessage", {msg, posted ? 1 : 0});
    return posted;
}

int AskLoginCheck(const char* szUser, const char* szDigest)
{
    HWND wnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        wnd = State().msgWnd;
    }
    // The texts stay the library's: the handler copies what it compares.
    std::string user = Text(szUser);
    std::string digest = Text(szDigest);
    int r = 1;
    if (wnd && IsWindow(wnd))
        r = SendMessage(wnd, WM_TS_LOGIN_CHECK, reinterpret_cast<WPARAM>(user.c_str()),
                        reinterpret_cast<LPARAM>(digest.c_str())) == 0
                ? 0
                : 1;
    Journal::Event("TS_LoginCheck", {user, r});
    return r;
}

namespace {

std::vector<char> Bytes(const char* data, int len)
{
    if (!data || len <= 0)
        return {};
    return std::vector<char>(data, data + len);
}

} // namespace

bool FeedRealData(const char* szName, int nStreamType, int nChannel, int nKind, const char* pData, int nLen,
                  const TsFrameInfo& info)
{
    Job job;
    job.kind = Job::Real;
    job.name = Text(szName);
    job.streamType = nStreamType;
    job.channel = nChannel;
    job.mediaKind = nKind;
    job.data = Bytes(pData, nLen);
    job.info = info;
    return CallbackHub::Instance().Enqueue(std::move(job));
}

bool FeedReplayData(int nLoginId, const TsReplayKey& key, int nKind, const char* pData, int nLen,
                    const TsFrameInfo& info, const char* szPath)
{
    Job job;
    job.kind = Job::Replay;
    job.login = nLoginId;
    job.key = key;
    job.mediaKind = nKind;
    job.data = Bytes(pData, nLen);
    job.info = info;
    job.path = Text(szPath);
    return CallbackHub::Instance().Enqueue(std::move(job));
}

bool FeedReplayDataByDate(int nLoginId, const char* szName, int nChannel, int nKind, const char* pData, int nLen,
                          const TsFrameInfo& info, const VideoParam* pVideo, const AudioParam* pAudio, int bNewFile,
                          int nSeconds, int nFileStartSec)
{
    Job job;
    job.kind = Job::ByDate;
    job.login = nLoginId;
    job.name = Text(szName);
    job.channel = nChannel;
    job.mediaKind = nKind;
    job.data = Bytes(pData, nLen);
    job.info = info;
    if (pVideo) {
        job.hasVideo = true;
        job.video = *pVideo;
    }
    if (pAudio) {
        job.hasAudio = true;
        job.audio = *pAudio;
    }
    job.newFile = bNewFile;
    job.seconds = nSeconds;
    job.fileStartSec = nFileStartSec;
    return CallbackHub::Instance().Enqueue(std::move(job));
}

bool FeedDownloadData(int nLoginId, const char* szName, int nValueA, int nValueB, const char* pData, int nLen,
                      int64_t llReceived, int64_t llTotal, const char* szPath)
{
    Job job;
    job.kind = Job::Download;
    job.login = nLoginId;
    job.name = Text(szName);
    job.key.nValueA = nValueA;
    job.key.nValueB = nValueB;
    job.data = Bytes(pData, nLen);
    job.received = llReceived;
    job.total = llTotal;
    job.path = Text(szPath);
    return CallbackHub::Instance().Enqueue(std::move(job));
}

int QueryUserId(const char* szName)
{
    return CallbackHub::Instance().QueryUserId(szName);
}

} // namespace qelm::ts
