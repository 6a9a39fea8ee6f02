// Routing of the device-control events: status, PTZ and maintenance answers,
// alarms, replay and talk media, to the windows and pages above media/.
#include "media/aux_ptz_events.h"

#include "core/devinfo.h"
#include "core/log.h"
#include "media/sink_targets.h"
#include "platform/message.h"
#include "platform/sync.h"

#include <cstring>

namespace {

// Device status event types with a route of their own.
enum : int32_t {
    kStatusUploadFailed = 15,
    kStatusDownloadFailed = 16,
    kStatusTransferFailed = 17,
    kStatusNvrChannels = 26,
    kStatusChannelStates = 27,
    kStatusDownloadProgress = 30,
};

// Maintenance answer commands.
enum : int32_t {
    kCmdConfigRestore = 1002,
    kCmdConfigImport = 1009,
    kCmdVersion = 1012,
    kCmdStorageInfo = 1014,
    kCmdStorageFormat = 1017,
    kCmdStorageUnmount = 1018,
    kCmdRecordSearch = 1021,
    kCmdNvrDayMap = 3001,
};

// wParam codes of WM_DEV_CONFIG_RESPONSE for the answer to 1009.
constexpr int32_t kConfigImportOk = 20001;
constexpr int32_t kConfigImportFailed = 20002;

// Signed values travel sign-extended, so that (int) of the parameter gives them back.
WPARAM W(int32_t v) { return static_cast<WPARAM>(static_cast<intptr_t>(v)); }
LPARAM L(int32_t v) { return static_cast<LPARAM>(v); }

void PostValues(HWND hWnd, UINT msg, int32_t wParam, int32_t lParam)
{
    if (hWnd)
        ::PostMessage(hWnd, msg, W(wParam), L(lParam));
}

void PostTextTo(HWND hWnd, UINT msg, int32_t wParam, const char* text)
{
    if (hWnd)
        qelm::PostText(hWnd, msg, W(wParam), text);
}

// WM_DEV_CONFIG_RESPONSE with a block {AuxPtzId, packed code, text}.
void PostConfigBlock(HWND hWnd, int32_t command, int32_t auxPtzId, int32_t code, const char* text)
{
    if (!hWnd)
        return;
    auto* block = new DevConfigResponse;
    block->auxPtzId = auxPtzId;
    block->code = code;
    block->text = qelm::NewText(text);
    if (!PostPayload(hWnd, WM_DEV_CONFIG_RESPONSE, W(command), block))
        delete block;
}

void FreeAlarmPayload(WPARAM wParam, LPARAM lParam)
{
    delete reinterpret_cast<_ALARM_SOURCE*>(wParam);
    delete reinterpret_cast<_ALARM_INFO*>(lParam);
}

// Ids of 0 and below are what a record that never registered holds: they
// must not match one.
bool DeviceWithAuxPtzId(int32_t auxPtzId)
{
    if (auxPtzId <= 0)
        return false;
    qelm::CsLock lock(g_csDevList);
    for (const DeviceInfo& dev : g_lstDevInfo)
        if (dev.AuxPtzId == auxPtzId)
            return true;
    return false;
}

} // namespace

void CAuxPTZEvents::StatusEvent(int32_t auxPtzId, int32_t type, const char* text)
{
    IMediaSinkTargets* t = GetMediaSinkTargets();
    if (!t)
        return;
    switch (type) {
    case kStatusUploadFailed:
        PostValues(t->MaintPageWnd(), WM_DEV_TRANSFER_FAILED, auxPtzId, type);
        break;
    case kStatusDownloadFailed:
    case kStatusTransferFailed:
        PostValues(t->MaintPageWnd(), WM_DEV_TRANSFER_FAILED, auxPtzId, type);
        PostValues(t->SearchRecWnd(), WM_DEV_TRANSFER_FAILED, auxPtzId, type);
        break;
    case kStatusNvrChannels:
        PostTextTo(t->MainWnd(), WM_NVR_CHANNEL_LIST, auxPtzId, text);
        break;
    case kStatusChannelStates:
        PostTextTo(t->MainWnd(), WM_CHANNEL_STATES, auxPtzId, text);
        break;
    case kStatusDownloadProgress:
        PostTextTo(t->SearchRecWnd(), WM_DOWNLOAD_PROGRESS, auxPtzId, text);
        break;
    default:
        PostValues(t->MainWnd(), WM_DEV_STATUS, auxPtzId, type);
        break;
    }
}

void CAuxPTZEvents::PTZResponse(int32_t auxPtzId, int32_t code, const char* text)
{
    WriteLog(6, " CAuxPTZEvents::PTZResponse(): AuxPTZID=%d, msg_code=%d, msg_flag=%d, ResponseString=%s", auxPtzId,
             ResultOf(code), CommandOf(code), text ? text : "");
    if (IMediaSinkTargets* t = GetMediaSinkTargets())
        if (HWND panel = t->PtzPanelWnd()) {
            PtzAnswerSource who;
            who.auxPtzId = auxPtzId;
            qelm::PostPtzAnswer(panel, who, text);
        }
}

void CAuxPTZEvents::AUXResponse(int32_t auxPtzId, int32_t code, const char* text)
{
    const int32_t result = ResultOf(code);
    const int32_t command = CommandOf(code);
    IMediaSinkTargets* t = GetMediaSinkTargets();
    const HWND maint = t ? t->MaintPageWnd() : nullptr;
    const HWND search = t ? t->SearchRecWnd() : nullptr;

    switch (command) {
    case kCmdRecordSearch:
        if (result == 0) {
            WriteLog(6, "CAuxPTZEvents::AUXResponse : get IPC record file success.");
            PostTextTo(search, WM_DEV_RECFILE_RESPONSE, auxPtzId, text);
        } else {
            WriteLog(3, "CAuxPTZEvents::AUXResponse : get IPC record  file failed. msg_flg = %d", result);
        }
        break;
    case kCmdNvrDayMap:
        if (result == 0) {
            WriteLog(6, "CAuxPTZEvents::AUXResponse : get NVR record file success.");
            PostTextTo(search, WM_NVR_RECFILE_RESPONSE, auxPtzId, text);
        } else {
            WriteLog(3, "CAuxPTZEvents::AUXResponse : get NVR record  file failed. msg_flg = %d", result);
        }
        break;
    case kCmdVersion:
        PostConfigBlock(maint, kCmdVersion, auxPtzId, code, text);
        WriteLog(6, "CAuxPTZEvents::AUXResponse: receive system version info,lAuxPTZID=%ld", long(auxPtzId));
        break;
    case kCmdStorageInfo:
        PostConfigBlock(maint, kCmdStorageInfo, auxPtzId, code, text);
        break;
    case kCmdConfigRestore:
        WriteLog(6, "CAuxPTZEvents::AUXResponse: rev CMD_CONFIG_RESTORE response, result=%d", result);
        if (result == 0)
            PostValues(maint, WM_DEV_CONFIG_RESPONSE, kCmdConfigRestore, auxPtzId);
        break;
    case kCmdStorageFormat:
        PostValues(maint, WM_STORAGE_FORMAT_RESULT, result, auxPtzId);
        WriteLog(6, "CAuxPTZEvents::AUXResponse: rev CMD_STORAGE_DEVICE_FORMAT response, result=%ld, auxPtzId=%ld",
                 long(result), long(auxPtzId));
        break;
    case kCmdStorageUnmount:
        PostValues(maint, WM_STORAGE_UNMOUNT_RESULT, result, auxPtzId);
        WriteLog(6, "CAuxPTZEvents::AUXResponse: rev CMD_STORAGE_DEVICE_UNMOUNT response, result=%ld, auxPtzId=%ld",
                 long(result), long(auxPtzId));
        break;
    case kCmdConfigImport:
        PostValues(maint, WM_DEV_CONFIG_RESPONSE, result == 0 ? kConfigImportOk : kConfigImportFailed, auxPtzId);
        break;
    default:
        break;
    }
}

void CAuxPTZEvents::AlarmEvent(int32_t auxPtzId, const uint8_t* info, int32_t length)
{
    if (!info || length < int32_t(sizeof(_ALARM_INFO)))
        return;
    // Repeats are told apart per device: the same record from another device
    // is an alarm of its own.
    auto [it, isNew] = m_lastAlarm.try_emplace(auxPtzId);
    auto& last = it->second;
    if (!isNew && std::memcmp(last.data(), info, last.size()) == 0)
        return;
    std::memcpy(last.data(), info, last.size());

    if (!DeviceWithAuxPtzId(auxPtzId))
        return;
    IMediaSinkTargets* t = GetMediaSinkTargets();
    const HWND main = t ? t->MainWnd() : nullptr;
    if (!main)
        return;
    auto* source = new _ALARM_SOURCE{};
    source->kind = kAlarmSourceAuxPtzId;
    source->auxPtzId = auxPtzId;
    auto* alarm = new _ALARM_INFO;
    std::memcpy(alarm, info, sizeof(_ALARM_INFO));
    if (!::PostMessage(main, WM_DEV_ALARM, reinterpret_cast<WPARAM>(source), reinterpret_cast<LPARAM>(alarm),
                       &FreeAlarmPayload))
        FreeAlarmPayload(reinterpret_cast<WPARAM>(source), reinterpret_cast<LPARAM>(alarm));
}

void CAuxPTZEvents::MediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const int32_t* value,
                                  int32_t kind)
{
    IMediaSinkTargets* t = GetMediaSinkTargets();
    if (!t)
        return;
    if (kind == 3)
        t->OnNVRSpeakMediaData(auxPtzId, data, length, value);
    else if (kind == 4 && t->SearchRecWnd())
        t->OnMediaDataRecv(auxPtzId, data, length, value, value ? *value : 0);
}

void CAuxPTZEvents::MediaParamRecv(int32_t auxPtzId, const char* xml, int32_t kind)
{
    IMediaSinkTargets* t = GetMediaSinkTargets();
    if (!t)
        return;
    if (kind == 3) {
        WriteLog(6, "CAuxPTZEvents: recv nvr speak param.");
        t->OnNVRSpeakParam(auxPtzId, qelm::NewText(xml));
        return;
    }
    if (!t->SearchRecWnd())
        return;
    if (!xml || !*xml) {
        WriteLog(3, "CAuxPTZEvents::MediaParamRecv(): strData is null, set media param refused.");
        return;
    }
    if (kind == 4)
        WriteLog(6, "CAuxPTZEvents: recv nvr replay param.");
    else
        WriteLog(6, "CAuxPTZEvents: recv IPC replay param.");
    t->OnMediaParamRecv(auxPtzId, qelm::NewText(xml), kind == 4 ? 4 : 1);
}

void CAuxPTZEvents::NvrReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel)
{
    IMediaSinkTargets* t = GetMediaSinkTargets();
    if (t && t->SearchRecWnd())
        t->OnNVRReplayEnd(auxPtzId, code, channel);
}

void CAuxPTZEvents::TimeDownloadProgress(int32_t auxPtzId, int32_t value)
{
    IMediaSinkTargets* t = GetMediaSinkTargets();
    if (t && t->SearchRecWnd())
        t->OnTimeDownloadProgress(auxPtzId, value);
}
