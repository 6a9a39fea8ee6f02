// The playback control. This first cut keeps the control's state and journals
// its calls; it does not decode yet.
#include "controls/playback_control.h"

#include "controls/journal.h"

#include <cstdio>

PlayBackControl::PlayBackControl(QWidget* parent) : QWidget(parent) {}

PlayBackControl::~PlayBackControl() = default;

void PlayBackControl::SetEventSink(IPlayBackEvents* sink) { m_sink = sink; }

int32_t PlayBackControl::SetFullScreen(int32_t on)
{
    qelm::Journal::Call("PlayBack::SetFullScreen", {on}, 0);
    return 0;
}

int32_t PlayBackControl::GetMouseCapture() { return 0; }

int32_t PlayBackControl::SetMediaParam(const char* base64, int32_t size, int32_t kind)
{
    const int32_t result = base64 && (kind == kVideoParam || kind == kAudioParam) ? 0 : -1;
    if (result == 0)
        (kind == kVideoParam ? m_videoParam : m_audioParam) = 1;
    qelm::Journal::Call("PlayBack::SetMediaParam", {size, kind}, result);
    return result;
}

int32_t PlayBackControl::InputVideoData(const uint8_t* data, int32_t length, const uint8_t*, int32_t)
{
    return data && length > 0 && m_stream ? 0 : -1;
}

int32_t PlayBackControl::InputAudioData(const uint8_t* data, int32_t length, const uint8_t*, int32_t)
{
    return data && length > 0 && m_stream ? 0 : -1;
}

int32_t PlayBackControl::Play()
{
    m_stream = 1;
    m_state = kPlaying;
    qelm::Journal::Call("PlayBack::Play", {}, 0);
    return 0;
}

int32_t PlayBackControl::Stop()
{
    m_stream = 0;
    m_state = kStopped;
    m_position = -1;
    qelm::Journal::Call("PlayBack::Stop", {}, 0);
    return 0;
}

int32_t PlayBackControl::OpenFile(const char* path)
{
    std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
    const int32_t result = f ? 0 : -1;
    if (f) {
        std::fclose(f);
        m_stream = 0;
        m_state = kPlaying;
    }
    qelm::Journal::Call("PlayBack::OpenFile", {path}, result);
    return result;
}

int32_t PlayBackControl::GetPlayState() { return m_state; }

int32_t PlayBackControl::SetCapturePath(int32_t flag, const char* folder)
{
    qelm::Journal::Call("PlayBack::SetCapturePath", {flag, folder}, 0);
    return 0;
}

int32_t PlayBackControl::SetStretchMode(int32_t on)
{
    qelm::Journal::Call("PlayBack::SetStretchMode", {on}, 0);
    return 0;
}

void PlayBackControl::SetUiLanguage(int32_t flag) { qelm::Journal::Call("PlayBack::SetUiLanguage", {flag}); }

int32_t PlayBackControl::IsPlaying() { return m_state != kClosed && m_state != kStopped ? 1 : 0; }

int32_t PlayBackControl::EnableStreamInput(int32_t value)
{
    qelm::Journal::Call("PlayBack::EnableStreamInput", {value}, 0);
    return 0;
}

int32_t PlayBackControl::Control(int32_t code, int32_t value)
{
    qelm::Journal::Call("PlayBack::Control", {code, value}, 0);
    return 0;
}

int32_t PlayBackControl::SetPlaySeconds(int32_t which, int32_t seconds)
{
    if (which == 1)
        m_position = seconds;
    qelm::Journal::Call("PlayBack::SetPlaySeconds", {which, seconds}, 0);
    return 0;
}

int32_t PlayBackControl::SetMouseMode(int32_t mode)
{
    m_mouseMode = mode;
    return 0;
}

int32_t PlayBackControl::GetMediaState(int32_t which)
{
    switch (which) {
    case 0: return m_videoParam;
    case 1: return m_audioParam;
    case 2: return m_position;
    default: return -1;
    }
}

int32_t PlayBackControl::Close()
{
    m_stream = 0;
    m_videoParam = m_audioParam = 0;
    m_position = -1;
    m_state = kClosed;
    qelm::Journal::Call("PlayBack::Close", {}, 0);
    return 0;
}
