// Stand-in of the closed stream player control ("StreamPlayer"): a child
// widget holding renders that decode with libavcodec, scale with libswscale
// and paint the latest picture with Qt.
#pragma once

#include "controls/media_params.h"
#include "controls/picture_view.h"
#include "controls/sound_output.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace qelm {
struct StreamPlayerRender;
}

class StreamPlayerControl : public QWidget {
public:
    enum Kind : int32_t { kAudio = 0, kVideo = 1 };
    enum ZoomMode : int32_t { kZoomOff = 0, kZoomIn = 1, kZoomOut = 2, kZoomMove = 3 };
    enum PicFormat : int32_t { kPicYuv = 0, kPicJpg = 1, kPicBmp = 2 };

    explicit StreamPlayerControl(QWidget* parent = nullptr);
    ~StreamPlayerControl() override;
    StreamPlayerControl(const StreamPlayerControl&) = delete;
    StreamPlayerControl& operator=(const StreamPlayerControl&) = delete;

    // Dispatch methods. Results: 0 done, -1 refused (unknown render, bad
    // record, unsupported codec, decoder failure). SetupDecoder, InputData and
    // CloseDecoder may be called from any thread; the rest on the UI thread.
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

    // For tests and the pane: pictures decoded so far by a render (-1 when
    // the render does not exist), and whether the widget shows one.
    int64_t DecodedPictures(int32_t renderId) const;
    int64_t DecodedAudioFrames(int32_t renderId) const;
    // PCM bytes made for the sound output of a render with sound on.
    int64_t SoundBytes(int32_t renderId) const;
    bool HasPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<qelm::StreamPlayerRender> FindRender(int32_t renderId) const;
    void PushTargetSize();
    void PollPictures();
    void PumpSound();
    void StopSound();
    QRectF PictureRect(const QSize& source) const;

    mutable std::mutex m_mutex;  // guards m_renders
    std::map<int32_t, std::shared_ptr<qelm::StreamPlayerRender>> m_renders;

    QTimer m_poll;               // picks up pictures decoded on other threads
    bool m_fill = false;         // fill the pane, else keep the aspect ratio
    std::atomic<bool> m_showLastFrame{false};
    bool m_flip = false;
    bool m_recordMark = false;
    bool m_talkMark = false;
    qelm::PictureZoom m_zoom;    // shown part of the picture and the mouse modes
    int32_t m_soundRender = 0;   // render whose sound is played, 0 none
    qelm::SoundOutput m_sound;
    QSize m_shownSize;           // size of the picture painted last, for mouse mapping
};
