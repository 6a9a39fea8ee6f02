// Drivers of the closed controls: one method per dispatch method of each
// control, created from the control's class id. A driver without a control
// (its library was not registered) answers every call with -1 or nothing.
#pragma once

#include "controls/avi_record.h"
#include "controls/camera_search.h"
#include "controls/device_sim.h"
#include "controls/media_params.h"
#include "controls/playback_control.h"
#include "controls/stream_player.h"
#include "controls/stream_pull.h"
#include "platform/wnd.h"

#include <cstdint>
#include <memory>
#include <string>

// Stream pull control: one for the process.
class CRtspPullCtrl {
public:
    // Creates the control from its class id; FALSE when it cannot be created.
    BOOL CreateDispatch();
    void AttachDispatch(std::shared_ptr<StreamPullControl> control) { m_control = std::move(control); }
    void ReleaseDispatch() { m_control.reset(); }
    StreamPullControl* GetControl() const { return m_control.get(); }

    // Connection point of the control's events; 0 without a control.
    int32_t Advise(IStreamPullEvents* sink);
    void Unadvise(int32_t cookie);

    int32_t DelStream(int32_t streamId);
    int32_t AddStream(const char* url, const char* user, const char* password, int32_t rtpOverRtsp);
    int32_t AddStreamEx(const char* host, uint16_t port, const char* streamName, const char* user,
                        const char* password, int32_t rtpOverRtsp);
    int32_t StopAll();
    int32_t RegisterReader(int32_t streamId, int32_t readerId);
    int32_t UnregisterReader(int32_t streamId, int32_t readerId);
    int32_t ReadVideoFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length, uint8_t* header,
                           int32_t* headerLength);
    int32_t ReadAudioFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length, uint8_t* header,
                           int32_t* headerLength);
    int32_t SendPtzCommand(int32_t streamId, const char* xml);
    int32_t Speak(int32_t streamId, int32_t on);

private:
    std::shared_ptr<StreamPullControl> m_control;
};

// Device-control component: one for the process.
class CAuxPtzCtrl {
public:
    BOOL CreateDispatch();
    void AttachDispatch(std::shared_ptr<DeviceControl> control) { m_control = std::move(control); }
    void ReleaseDispatch() { m_control.reset(); }
    DeviceControl* GetControl() const { return m_control.get(); }

    // The one event sink of the control.
    void Advise(IDeviceControlEvents* sink);
    void Unadvise();

    int32_t AddDevice(const char* address, int32_t port, const char* user, const char* password);
    int32_t DelDevice(int32_t auxPtzId);
    int32_t PtzControl(int32_t auxPtzId, const char* xml);
    int32_t Speak(int32_t auxPtzId, int32_t on);
    int32_t UploadFile(int32_t auxPtzId, int32_t kind, const char* localPath);
    int32_t DownloadFile(int32_t auxPtzId, int32_t flag, const char* remotePath, const char* localPath);
    int32_t WriteAUXStringEx(int32_t auxPtzId, const char* msgType, int32_t code, int32_t flag, const char* xml);
    int32_t AddDeviceEx(const char* address, uint16_t port, const char* user, const char* password);
    int32_t GetDownloadProgress(int32_t auxPtzId);
    int32_t GetUploadProgress(int32_t auxPtzId);
    int32_t StopDownload(int32_t auxPtzId);
    int32_t CloseAll();
    int32_t StartFileReplay(int32_t auxPtzId, const char* remotePath);
    int32_t ControlReplay(int32_t auxPtzId, int32_t code, int32_t value);
    uint32_t Dispatch22(int32_t auxPtzId);
    uint32_t Dispatch23(int32_t auxPtzId);
    int32_t CreateIFrame(int32_t auxPtzId, int32_t channel);
    int32_t StartBroadcast(int32_t codec, int32_t sampleRate, int32_t bits, int32_t channels);
    int32_t AddBroadcastDevice(int32_t auxPtzId);
    int32_t StopBroadcast();
    int32_t StartNvrReplay(int32_t auxPtzId, int32_t channel, const char* time);
    int32_t ControlNvrReplay(int32_t auxPtzId, int32_t a, int32_t b, int32_t c, const char* time);
    int32_t SetTimeSync(int32_t auxPtzId, int32_t enable, int32_t allowedDifference, int32_t interval);
    int32_t DownloadByTime(int32_t auxPtzId, int32_t channel, const char* start, const char* end,
                           const char* localPath);
    int32_t StopDownloadByTime(int32_t auxPtzId, int32_t channel);

private:
    std::shared_ptr<DeviceControl> m_control;
};

// AVI record control: one per stream sink.
class CAviRecordCtrl {
public:
    BOOL CreateDispatch();
    void AttachDispatch(std::shared_ptr<AviRecordControl> control) { m_control = std::move(control); }
    void ReleaseDispatch() { m_control.reset(); }
    AviRecordControl* GetControl() const { return m_control.get(); }

    void Advise(IAviRecordEvents* sink);
    void Unadvise();

    int32_t BeginStream(int32_t streamId);
    int32_t EndStream(int32_t streamId);
    int32_t SetVideoParam(int32_t streamId, const uint8_t* param, int32_t length);
    int32_t SetAudioParam(int32_t streamId, const uint8_t* param, int32_t length);
    int32_t WriteVideo(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                       int32_t headerLength);
    int32_t WriteAudio(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                       int32_t headerLength);
    int32_t SetPreRecord(int32_t streamId, const char* text, int32_t seconds, int32_t reserved1, int32_t reserved2);
    int32_t StopRecordFile(int32_t fileId);
    int32_t BeginRecordFile(int32_t streamId, const char* folder, int32_t preRecordSeconds, int32_t timeLimit,
                            int32_t secondsPerFile, int32_t streamKind);

private:
    std::shared_ptr<AviRecordControl> m_control;
};

// Camera search control.
class CZizevaVEDCtrl {
public:
    BOOL CreateDispatch();
    void AttachDispatch(std::shared_ptr<CameraSearch> control) { m_control = std::move(control); }
    void ReleaseDispatch() { m_control.reset(); }
    CameraSearch* GetControl() const { return m_control.get(); }

    int32_t StartSearch();
    int32_t StopSearch();
    int32_t GetDeviceCount();
    int32_t GetDevice(int32_t index, uint8_t* record, int32_t length);
    int32_t SetNetParam(int32_t index, const uint8_t* record, int32_t length);
    std::string GetNetValue(uint32_t index);
    std::string GetLocalNetInfo();
    int32_t ModifyDevice(int32_t index, const uint8_t* record, int32_t length);

private:
    std::shared_ptr<CameraSearch> m_control;
};

// Stream player control window: a child window hosting the player, which
// fills it. Create, move and destroy it on the UI thread; SetupDecoder,
// InputData and CloseDecoder may be called from any thread.
class CStreamPlayerCtrl : public CWnd {
public:
    CStreamPlayerCtrl();
    ~CStreamPlayerCtrl() override;

    // Creates the window (visible child, id 0) over rect of the parent and
    // the control inside it; FALSE when the control cannot be created.
    BOOL Create(CWnd* pParent, const CRect& rect);
    // Moves the window into another parent.
    void SetParentWnd(CWnd* pParent);
    StreamPlayerControl* GetControl() const { return m_control.get(); }

    int32_t SetupDecoder(int32_t kind, int32_t renderId, const uint8_t* param, int32_t length);
    int32_t InputData(int32_t kind, int32_t renderId, const uint8_t* frame, int32_t length, const uint8_t* header,
                      int32_t headerLength);
    int32_t CloseDecoder(int32_t kind, int32_t renderId);
    int32_t CreateRender(const char* name);
    int32_t DestroyRender(int32_t renderId);
    int32_t SetSound(int32_t renderId, int32_t on);
    int32_t SetZoomMode(int32_t renderId, int32_t mode);
    void SetShowLastFrame(int32_t show);
    void SnapShot(int32_t renderId, int32_t format, const char* path);
    int32_t SetRecordMark(int32_t streamId, int32_t on);
    int32_t SetFullDisplay(int32_t fill);
    int32_t ReleaseWithoutWait();
    int32_t SetTalkMark(int32_t streamId, int32_t on);
    int32_t Flip(int32_t streamId, int32_t mode);
    int32_t SetBufferTick(int32_t tick);
    int32_t SetBufferCount(int32_t count);

protected:
    void OnSize(UINT nType, int cx, int cy) override;

private:
    std::shared_ptr<StreamPlayerControl> m_control;
};

// What a playback window tells its owner: the control's events, each with the
// window's control id first, on the UI thread.
class IPlayBackAtlEvents {
public:
    virtual ~IPlayBackAtlEvents() = default;
    virtual void OnPlayBackMouse(int32_t /*ctrlId*/, int32_t /*message*/, int32_t /*wParam*/, int32_t /*lParam*/) {}
    virtual void OnPlayBackMessage(int32_t /*ctrlId*/, int32_t /*type*/, const char* /*text*/) {}
    virtual void OnPlayBackNotify(int32_t /*ctrlId*/, int32_t /*a*/, int32_t /*b*/, int32_t /*c*/) {}
    virtual void OnPlayBackCommand(int32_t /*ctrlId*/, int32_t /*command*/, int32_t /*value*/) {}
};

// Playback window: a child window hosting the playback control, which fills
// it. UI thread only, except InputVideoData and InputAudioData.
class CPlayBackAtl : public CWnd, private IPlayBackEvents {
public:
    CPlayBackAtl();
    ~CPlayBackAtl() override;

    // Creates the window (visible child with control id nId) over rect of the
    // parent and the control inside it; FALSE when the control cannot be
    // created. Events go to sink (may be null).
    BOOL Create(CWnd* pParent, const CRect& rect, UINT nId, IPlayBackAtlEvents* sink);
    void SetEventSink(IPlayBackAtlEvents* sink) { m_sink = sink; }
    PlayBackControl* GetControl() const { return m_control.get(); }

    int32_t SetFullScreen(int32_t on);
    int32_t GetMouseCapture();
    int32_t SetMediaParam(const char* base64, int32_t size, int32_t kind);
    int32_t InputVideoData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength);
    int32_t InputAudioData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength);
    int32_t Play();
    int32_t Stop();
    int32_t OpenFile(const char* path);
    int32_t GetPlayState();
    int32_t SetCapturePath(int32_t flag, const char* folder);
    int32_t SetStretchMode(int32_t on);
    void SetUiLanguage(int32_t flag);
    int32_t IsPlaying();
    int32_t EnableStreamInput(int32_t value);
    int32_t Control(int32_t code, int32_t value);
    int32_t SetPlaySeconds(int32_t which, int32_t seconds);
    int32_t SetMouseMode(int32_t mode);
    int32_t GetMediaState(int32_t which);
    int32_t Close();

protected:
    void OnSize(UINT nType, int cx, int cy) override;

private:
    void OnPlayBackMouse(int32_t message, int32_t wParam, int32_t lParam) override;
    void OnPlayBackMessage(int32_t type, const char* text) override;
    void OnPlayBackNotify(int32_t a, int32_t b, int32_t c) override;
    void OnPlayBackCommand(int32_t command, int32_t value) override;

    std::shared_ptr<PlayBackControl> m_control;
    IPlayBackAtlEvents* m_sink = nullptr;
};
