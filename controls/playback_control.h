// Stand-in of the closed playback control ("PlayBackCtrl"): a child widget
// that plays local AVI and MP4 record files by itself, or a stream that its
// owner feeds frame by frame, with its own play buttons and slider.
//
// Calls are made on the UI thread, except InputVideoData and InputAudioData,
// which may come from any thread. Events are raised on the UI thread.
#pragma once

#include <QWidget>

#include <cstdint>

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
    // Event 4: one of the control's buttons while it plays a fed stream.
    virtual void OnPlayBackCommand(int32_t /*command*/, int32_t /*value*/) {}
};

class PlayBackControl : public QWidget {
public:
    // Event 2 types.
    enum MessageType : int32_t { kProgress = 23, kEnded = 24 };
    // GetPlayState: kClosed and kStopped mean there is nothing to stop.
    enum PlayState : int32_t { kClosed = 1, kPlaying = 2, kPaused = 3, kFast = 4, kSlow = 5, kStepping = 6, kStopped = 8 };
    // SetMediaParam kinds.
    enum ParamKind : int32_t { kVideoParam = 0, kAudioParam = 1 };
    // SetMouseMode modes.
    enum MouseMode : int32_t { kMousePointer = 0, kMouseZoomIn = 1, kMouseZoomOut = 2, kMouseMove = 3 };

    explicit PlayBackControl(QWidget* parent = nullptr);
    ~PlayBackControl() override;
    PlayBackControl(const PlayBackControl&) = delete;
    PlayBackControl& operator=(const PlayBackControl&) = delete;

    // One sink; null withdraws it.
    void SetEventSink(IPlayBackEvents* sink);

    // Dispatch methods, by dispatch id.
    int32_t SetFullScreen(int32_t on);                                       // 1
    int32_t GetMouseCapture();                                               // 2
    int32_t SetMediaParam(const char* base64, int32_t size, int32_t kind);   // 5
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
    int32_t EnableStreamInput(int32_t value);                                // 50
    int32_t Control(int32_t code, int32_t value);                            // 51
    int32_t SetPlaySeconds(int32_t which, int32_t seconds);                  // 52
    int32_t SetMouseMode(int32_t mode);                                      // 53
    int32_t GetMediaState(int32_t which);                                    // 55
    int32_t Close();                                                         // 56

private:
    IPlayBackEvents* m_sink = nullptr;
    int32_t m_state = kClosed;
    int32_t m_stream = 0;          // playing a fed stream rather than a file
    int32_t m_videoParam = 0;
    int32_t m_audioParam = 0;
    int32_t m_position = -1;
    int32_t m_mouseMode = kMousePointer;
};
