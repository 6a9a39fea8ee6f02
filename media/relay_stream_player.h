// Shows video that another client relays to this one: one stream player
// window with one render in a pane, fed by the relay library's data callback.
#pragma once

#include "controls/media_params.h"
#include "media/control_wrappers.h"
#include "platform/geometry.h"

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <mutex>

class CRelayStreamPlayer {
public:
    CRelayStreamPlayer();
    // Closes the player when the owner did not.
    ~CRelayStreamPlayer();
    CRelayStreamPlayer(const CRelayStreamPlayer&) = delete;
    CRelayStreamPlayer& operator=(const CRelayStreamPlayer&) = delete;

    // UI thread. Creates the player window over the parent's client area with
    // one render; 0, or -1 without parent or when the control cannot be made.
    // A player that is open already is closed first.
    int32_t Open(CWnd* pParent);
    void SetVideoParam(const VideoParam* param);
    void SetAudioParam(const AudioParam* param);
    // Any thread (the relay library's data callback). kind 0 video, 1 audio;
    // info is 16 bytes in the MediaFrameHeader layout, or null to keep the
    // last key flag and time stamp of that kind. -1 without player or for
    // another kind, else the control's result.
    int32_t InputData(int32_t kind, const uint8_t* frame, int32_t length, const void* info);
    int32_t Resize();
    int32_t SetParentWnd(CWnd* pParent);
    // UI thread. Serves both places that end a relay. Waits out a frame that
    // is being handed over, so none reaches the player after it.
    void Close();
    int32_t SnapShot(const char* path);
    int32_t SetFullDisplay(int32_t flag);
    int32_t SetShowLastFrame();
    int32_t OpenSound();
    int32_t CloseSound();
    int32_t SetZoomMode(int32_t mode);

    // For the pane and tests.
    CStreamPlayerCtrl* GetPlayer() const { return m_pPlayer; }
    int32_t GetRenderId() const { return m_nRenderId; }
    int32_t GetZoomMode() const { return m_nZoomMode; }
    MediaFrameHeader GetVideoHeader();
    MediaFrameHeader GetAudioHeader();

private:
    void WatchParent(CWnd* pParent);
    // Puts player in place under m_lock; returns the one it replaced.
    CStreamPlayerCtrl* SwapPlayer(CStreamPlayerCtrl* player, int32_t renderId);

    // m_pPlayer and m_nRenderId are written on the UI thread under m_lock,
    // which InputData holds while it hands a frame over; the UI thread reads
    // them without it.
    CStreamPlayerCtrl* m_pPlayer = nullptr;
    QPointer<CWnd> m_pParent;
    CRect m_rect;
    int32_t m_nRenderId = 0;
    int32_t m_nZoomMode = 0;
    MediaFrameHeader m_videoHeader{};  // under m_lock
    MediaFrameHeader m_audioHeader{};  // under m_lock
    VideoParam m_videoParam{};
    AudioParam m_audioParam{};

    std::mutex m_lock;
    std::atomic<int> m_swapping{0};  // InputData refuses while the UI thread waits for m_lock
    QMetaObject::Connection m_parentGone;
};
