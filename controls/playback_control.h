// Stand-in of the closed playback control ("PlayBackCtrl"): a child widget
// that plays local AVI and MP4 record files by itself, or a stream that its
// owner feeds frame by frame, with its own play buttons and slider.
//
// Calls are made on the UI thread, except InputVideoData and InputAudioData,
// which may come from any thread. Events are raised on the UI thread.
#pragma once

#include "controls/picture_view.h"
#include "controls/sound_output.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// What the control tells its owner.
class IPlayBackEvents {
public:
    virtual ~IPlayBackEvents() = default;
    // Event 1: a mouse message over the picture (message, wParam, lParam).
    virtual void OnPlayBackMouse(int32_t /*message*/, int32_t /*wParam*/, int32_t /*lParam*/) {}
    // Event 2: kProgress with the position in whole seconds as decimal text,
    // kEnded once when a file has played to its end.
    virtual void OnPlayBackMessage(int32_t /*type*/, const char* /*text*/) {}
    // Event 3: reserved, never acted on by owners.
    virtual void OnPlayBackNotify(int32_t /*a*/, int32_t /*b*/, int32_t /*c*/) {}
    // Event 4: one of the control's buttons while it plays a fed stream; the
    // command codes are PlayBackControl::Command.
    virtual void OnPlayBackCommand(int32_t /*command*/, int32_t /*value*/) {}
};

namespace qelm {
struct PlayBackShared;
}

class PlayBackControl : public QWidget {
public:
    // Event 2 types.
    enum MessageType : int32_t { kProgress = 23, kEnded = 24 };
    // GetPlayState: kClosed and kStopped mean there is nothing to stop.
    // kPlaying at the normal rate, kFast at x2..x32 (from x4 on a file shows
    // its key frames only), kSlow at /2../32,
    // kPaused by the pause button, kStepping after a frame step (paused on
    // the stepped frame), kStopped after Stop or a file's end.
    enum PlayState : int32_t { kClosed = 1, kPlaying = 2, kPaused = 3, kFast = 4, kSlow = 5, kStepping = 6, kStopped = 8 };
    // SetMediaParam kinds.
    enum ParamKind : int32_t { kVideoParam = 0, kAudioParam = 1 };
    // SetMouseMode modes.
    enum MouseMode : int32_t { kMousePointer = 0, kMouseZoomIn = 1, kMouseZoomOut = 2, kMouseMove = 3 };
    // Control codes.
    //  kSound (3): sound, 0 off, 1 on; the sound button toggles it. Sound
    //    plays at the normal rate only, paced with the pictures.
    //  kStreamMode (8): the owner's value for the stream it feeds next (a
    //    device's replay mode, 0 for relay and recorder streams). Kept and
    //    journaled; fed streams are always paced by their frame timestamps.
    //  kFileChain (9): 1 the owner opens the next file on kEnded (a day of
    //    files), so the control stays busy (IsPlaying 1) after a file's end;
    //    0 a file's end stops the control.
    enum ControlCode : int32_t { kSound = 3, kStreamMode = 8, kFileChain = 9 };
    // Event 4 commands raised by the buttons while a fed stream plays; the
    // owner tells the source. The control itself only holds its pictures on
    // pause and step.
    enum Command : int32_t {
        kCmdContinue = 1,  // play after pause, value 0
        kCmdPause = 2,     // value 0
        kCmdStop = 3,      // value 0
        kCmdFast = 4,      // value the factor 2, 4, 8, 16 or 32
        kCmdSlow = 8,      // value the divisor 2, 4, 8, 16 or 32
        kCmdSeek = 9,      // value the slider's position in seconds
        kCmdNormal = 12,   // back to the normal rate, value 0
    };
    // The control's own buttons, left to right in the bar under the picture.
    // A step pauses on the next frame; on a fed stream it holds the source
    // while frames wait and lets it run again when they run out.
    enum Button : int32_t {
        kBtnPlayPause = 0,
        kBtnStop,
        kBtnSlow,
        kBtnFast,
        kBtnStep,
        kBtnSnapshot,
        kBtnSound,
        kButtonCount
    };

    explicit PlayBackControl(QWidget* parent = nullptr);
    ~PlayBackControl() override;
    PlayBackControl(const PlayBackControl&) = delete;
    PlayBackControl& operator=(const PlayBackControl&) = delete;

    // One sink; null withdraws it.
    void SetEventSink(IPlayBackEvents* sink);

    // Dispatch methods, by dispatch id. Results: 0 done, -1 refused.
    int32_t SetFullScreen(int32_t on);                                       // 1
    // 1 while the slider or a zoom frame is being dragged.
    int32_t GetMouseCapture();                                               // 2
    // The text must decode to exactly 536 (kVideoParam) or 276 (kAudioParam)
    // bytes; anything else is refused and the previous record stays.
    int32_t SetMediaParam(const char* base64, int32_t size, int32_t kind);   // 5
    // Any thread. -1 when no stream plays, the queue is full (the stream then
    // resumes at its next key frame) or the arguments are bad.
    int32_t InputVideoData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength); // 6
    int32_t InputAudioData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength); // 7
    int32_t Play();                                                          // 9
    int32_t Stop();                                                          // 17
    int32_t OpenFile(const char* path);                                      // 24
    int32_t GetPlayState();                                                  // 28
    int32_t SetCapturePath(int32_t flag, const char* folder);                // 31
    int32_t SetStretchMode(int32_t on);                                      // 45
    void SetUiLanguage(int32_t flag);                                        // 47
    int32_t IsPlaying();                                                     // 49
    // 0 refuses fed frames until called again with another value; any other
    // value (1 after Play, -1 with the owner's selection frame) accepts them.
    int32_t EnableStreamInput(int32_t value);                                // 50
    int32_t Control(int32_t code, int32_t value);                            // 51
    // which 0: the stream's length for the slider (a file's comes from the
    // file). which 1: a file seeks there; a stream's next frame is that second.
    int32_t SetPlaySeconds(int32_t which, int32_t seconds);                  // 52
    int32_t SetMouseMode(int32_t mode);                                      // 53
    int32_t GetMediaState(int32_t which);                                    // 55
    int32_t Close();                                                         // 56

    // What the buttons do; also reached by clicking them.
    void PressButton(int32_t button);
    // For tests and the page: where a button and the slider are drawn, the
    // rate (1 normal, >1 factor, <-1 divisor), the frames shown so far, the
    // time (ms from the file's start, or the stream's timestamp) of the
    // frame shown, that frame at the video size, and the last snapshot file.
    QRect ButtonRect(int32_t button) const;
    QRect SliderRect() const;
    int32_t Rate() const { return m_rate; }
    int32_t SoundOn() const { return m_sound; }
    int64_t FramesShown() const;
    int64_t ShownTime() const;
    QImage ShownFrame() const;
    QString LastSnapshot() const { return m_lastSnapshot; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int32_t QueueFrame(bool video, const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength);
    void SetSound(int32_t on);
    void PumpSound();
    void HoldSource();
    void StopWorker();
    void StartWorker(bool stream);
    void SetFeed(std::shared_ptr<qelm::PlayBackShared> feed);
    std::shared_ptr<qelm::PlayBackShared> Feed() const;
    void PushView();
    void ApplyRate(int32_t rate);
    void TakeSnapshot();
    void RaiseMessage(int32_t type, const char* text);
    void RaiseCommand(int32_t command, int32_t value);
    void RaiseMouse(QMouseEvent* event, uint32_t message);
    QRect PictureArea() const;
    QRectF PictureRect() const;
    int32_t SliderSeconds(int x) const;

    IPlayBackEvents* m_sink = nullptr;
    std::shared_ptr<qelm::PlayBackShared> m_shared;  // the running file or stream
    std::thread m_worker;
    mutable std::mutex m_feedMutex;                  // guards m_feed, read by feeding threads
    std::shared_ptr<qelm::PlayBackShared> m_feed;    // the stream being fed, or null
    uint64_t m_generation = 0;    // bumped per file or stream: late events of an old one are dropped
    int32_t m_state = kClosed;
    int32_t m_stream = 0;         // playing a fed stream rather than a file
    int32_t m_rate = 1;
    bool m_paused = false;
    int32_t m_videoParam = 0;
    int32_t m_audioParam = 0;
    QByteArray m_videoRecord;     // the decoded records
    QByteArray m_audioRecord;
    int32_t m_position = -1;      // the position the owner set, -1 none
    int32_t m_length = 0;         // seconds: the file's length, or what the owner set for a stream
    int32_t m_shownSecond = -1;   // the last progress reported
    int32_t m_mouseMode = kMousePointer;
    int32_t m_sound = 0;
    qelm::SoundOutput m_soundOut;
    QTimer m_soundTimer;          // hands the sound due to the output
    int32_t m_streamMode = 0;
    int32_t m_chain = 0;
    int32_t m_language = 0;
    bool m_fill = false;
    bool m_fullScreen = false;
    QString m_captureFolder;
    QString m_lastSnapshot;
    QString m_file;
    bool m_sliderDrag = false;
    int m_sliderX = 0;
    qelm::PictureZoom m_zoom;
    QSize m_shownSize;
    QWidget* m_oldParent = nullptr;
    QRect m_oldGeometry;
};
