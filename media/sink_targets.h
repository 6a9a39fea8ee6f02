// What the media sinks reach in the windows above them (main window, PTZ
// panel, record search and maintenance pages, video panes) and the relay
// session they feed. The higher layers register their side here; until they
// do, posts go nowhere (their payloads are freed) and calls do nothing.
#pragma once

#include "controls/media_params.h"
#include "platform/message.h"
#include "platform/types.h"
#include "platform/wnd.h"

#include <cstdint>

// Private messages posted by the device-control sink and the stream sinks.
enum : UINT {
    WM_STOP_TALK = WM_USER + 4000,              // wParam stream id
    WM_DEV_RECFILE_RESPONSE = WM_USER + 5100,   // AuxPtzId, text
    WM_NVR_RECFILE_RESPONSE = WM_USER + 5105,   // AuxPtzId, text
    WM_DEV_CONFIG_RESPONSE = WM_USER + 5200,    // 1012/1014 + DevConfigResponse*, 1002/20001/20002 + AuxPtzId
    WM_DEV_STATUS = WM_USER + 5300,             // AuxPtzId, type
    WM_STREAM_STATUS = WM_USER + 5302,          // 128-byte DevId block, code
    WM_NVR_CHANNEL_LIST = WM_USER + 5305,       // AuxPtzId, text
    WM_CHANNEL_STATES = WM_USER + 5310,         // AuxPtzId or P2pLoginId, text
    WM_DEV_ALARM = WM_USER + 5400,              // _ALARM_SOURCE*, _ALARM_INFO*
    WM_PTZ_RESPONSE = WM_USER + 5500,           // PtzAnswerSource*, text
    WM_STORAGE_FORMAT_RESULT = WM_USER + 5700,  // result, AuxPtzId
    WM_STORAGE_UNMOUNT_RESULT = WM_USER + 5800, // result, AuxPtzId
    WM_DEV_TRANSFER_FAILED = WM_USER + 5900,    // AuxPtzId, event type
    WM_DOWNLOAD_PROGRESS = WM_USER + 5902,      // AuxPtzId, text
};

// WM_CHANNEL_STATES names its NVR by AuxPtzId (device-control sink) or by
// P2pLoginId (stream sink); the two number spaces overlap, so the stream
// sink marks its wParam with this bit. The id is the low 32 bits.
inline constexpr WPARAM kChannelStatesFromStream = WPARAM(1) << 40;

// Payload of WM_DEV_CONFIG_RESPONSE for 1012 and 1014; the handler deletes
// it, which frees the text.
struct DevConfigResponse {
    int32_t auxPtzId = 0;
    int32_t code = 0;      // packed: result in the top byte, command below
    char* text = nullptr;  // NewText
    DevConfigResponse() = default;
    DevConfigResponse(const DevConfigResponse&) = delete;  // owns the text
    DevConfigResponse& operator=(const DevConfigResponse&) = delete;
    ~DevConfigResponse();
};

// wParam of WM_PTZ_RESPONSE: who answered. A stream sink's answer carries a
// copy of its device id: the sink's own text changes with its next event and
// goes with the sink. The handler deletes it (and frees the text in lParam).
struct PtzAnswerSource {
    enum Kind : int32_t { kAuxPtz = 0, kStream = 1, kRelay = 2 };
    int32_t kind = kAuxPtz;
    int32_t auxPtzId = 0; // kAuxPtz
    char devId[390] = {}; // kStream: the sink's device id text
};

namespace qelm {
// Posts WM_PTZ_RESPONSE with a heap copy of source and of text; what cannot
// be delivered is freed (by the layer, or here when the post fails).
BOOL PostPtzAnswer(HWND hWnd, const PtzAnswerSource& source, const char* text);
// A heap copy of a text for a message or call that hands it on; the
// receiver frees it with FreeText. Null becomes "".
char* NewText(const char* text);
void FreeText(char* text);
// Posts a heap copy of text as lParam; a copy that cannot be delivered is
// freed (by the layer, or here when the post fails).
BOOL PostText(HWND hWnd, UINT msg, WPARAM wParam, const char* text);
} // namespace qelm

class IMediaSinkTargets {
public:
    virtual ~IMediaSinkTargets() = default;

    // Windows that receive the sinks' posts; null when they do not exist.
    virtual HWND MainWnd() = 0;
    virtual HWND PtzPanelWnd() = 0;
    virtual HWND SearchRecWnd() = 0;    // the record search page
    virtual HWND MaintPageWnd() = 0;    // the device-maintenance page

    // Main window: NVR talk-back. OnNVRSpeakParam takes the text.
    virtual void OnNVRSpeakMediaData(int32_t auxPtzId, const uint8_t* data, int32_t length, const int32_t* value) = 0;
    virtual int OnNVRSpeakParam(int32_t auxPtzId, char* xml) = 0;

    // Record search page, called only while SearchRecWnd() is not null.
    // OnMediaParamRecv takes the text.
    virtual void OnMediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const int32_t* pointer,
                                 int32_t value) = 0;
    virtual void OnMediaParamRecv(int32_t auxPtzId, char* xml, int32_t kind) = 0;
    virtual void OnNVRReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel) = 0;
    virtual void OnTimeDownloadProgress(int32_t auxPtzId, int32_t value) = 0;

    // Video panes, named by the render area a sink was given.
    virtual bool IsAlarmPane(CWnd* area) = 0;
    virtual bool IsMapPane(CWnd* area) = 0;
    virtual void ResetWatchInfo(CWnd* area) = 0;
};

// UI thread. Null unregisters.
void SetMediaSinkTargets(IMediaSinkTargets* targets);
IMediaSinkTargets* GetMediaSinkTargets();

// The relay bridge's live session on a stream, as the stream sink drives it:
// the bridge's session type derives from it and the sink owns it once
// installed. Called under the sink's lock.
class LiveRelayFeed {
public:
    virtual ~LiveRelayFeed() = default;
    // 1 once RspDeviceVideo has run.
    virtual int IsAnswered() const = 0;
    virtual void RspDeviceVideo(const VideoParam* video, const AudioParam* audio) = 0;
    virtual void SendVideo(const uint8_t* frame, int32_t length, const MediaFrameHeader* header) = 0;
    virtual void SendAudio(const uint8_t* frame, int32_t length, const MediaFrameHeader* header) = 0;
    virtual void Close() = 0;
};
