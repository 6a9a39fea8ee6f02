// The control drivers: each method forwards one dispatch call to the control.
#include "media/control_wrappers.h"

#include "controls/control_registry.h"

namespace {

template <class T>
BOOL CreateFromClass(std::shared_ptr<T>& control, const char* clsid)
{
    control = qelm::CreateControl<T>(clsid);
    return control ? TRUE : FALSE;
}

} // namespace

// Without a control every call is refused the way a failed dispatch would be.
#define QELM_FORWARD(call) return m_control ? m_control->call : -1

// --- CRtspPullCtrl ------------------------------------------------------------

BOOL CRtspPullCtrl::CreateDispatch() { return CreateFromClass(m_control, qelm::kClsidRtspPull); }
int32_t CRtspPullCtrl::Advise(IStreamPullEvents* sink) { return m_control ? m_control->Advise(sink) : 0; }
void CRtspPullCtrl::Unadvise(int32_t cookie)
{
    if (m_control)
        m_control->Unadvise(cookie);
}
int32_t CRtspPullCtrl::DelStream(int32_t streamId) { QELM_FORWARD(DelStream(streamId)); }
int32_t CRtspPullCtrl::AddStream(const char* url, const char* user, const char* password, int32_t rtpOverRtsp)
{
    QELM_FORWARD(AddStream(url ? url : "", user ? user : "", password ? password : "", rtpOverRtsp));
}
int32_t CRtspPullCtrl::AddStreamEx(const char* host, uint16_t port, const char* streamName, const char* user,
                                   const char* password, int32_t rtpOverRtsp)
{
    QELM_FORWARD(AddStreamEx(host ? host : "", port, streamName ? streamName : "", user ? user : "",
                             password ? password : "", rtpOverRtsp));
}
int32_t CRtspPullCtrl::StopAll() { QELM_FORWARD(StopAll()); }
int32_t CRtspPullCtrl::RegisterReader(int32_t streamId, int32_t readerId)
{
    QELM_FORWARD(RegisterReader(streamId, readerId));
}
int32_t CRtspPullCtrl::UnregisterReader(int32_t streamId, int32_t readerId)
{
    QELM_FORWARD(UnregisterReader(streamId, readerId));
}
int32_t CRtspPullCtrl::ReadVideoFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length,
                                      uint8_t* header, int32_t* headerLength)
{
    QELM_FORWARD(ReadVideoFrame(streamId, readerId, buffer, length, header, headerLength));
}
int32_t CRtspPullCtrl::ReadAudioFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length,
                                      uint8_t* header, int32_t* headerLength)
{
    QELM_FORWARD(ReadAudioFrame(streamId, readerId, buffer, length, header, headerLength));
}
int32_t CRtspPullCtrl::SendPtzCommand(int32_t streamId, const char* xml)
{
    QELM_FORWARD(SendPtzCommand(streamId, xml ? xml : ""));
}
int32_t CRtspPullCtrl::Speak(int32_t streamId, int32_t on) { QELM_FORWARD(Speak(streamId, on)); }

// --- CAuxPtzCtrl ----------------------------------------------------------------

BOOL CAuxPtzCtrl::CreateDispatch() { return CreateFromClass(m_control, qelm::kClsidAuxPtz); }
void CAuxPtzCtrl::Advise(IDeviceControlEvents* sink)
{
    if (m_control)
        m_control->Advise(sink);
}
void CAuxPtzCtrl::Unadvise()
{
    if (m_control)
        m_control->Unadvise();
}
int32_t CAuxPtzCtrl::AddDevice(const char* address, int32_t port, const char* user, const char* password)
{
    QELM_FORWARD(AddDevice(address, port, user, password));
}
int32_t CAuxPtzCtrl::DelDevice(int32_t auxPtzId) { QELM_FORWARD(DelDevice(auxPtzId)); }
int32_t CAuxPtzCtrl::PtzControl(int32_t auxPtzId, const char* xml) { QELM_FORWARD(PtzControl(auxPtzId, xml)); }
int32_t CAuxPtzCtrl::Speak(int32_t auxPtzId, int32_t on) { QELM_FORWARD(Speak(auxPtzId, on)); }
int32_t CAuxPtzCtrl::UploadFile(int32_t auxPtzId, int32_t kind, const char* localPath)
{
    QELM_FORWARD(UploadFile(auxPtzId, kind, localPath));
}
int32_t CAuxPtzCtrl::DownloadFile(int32_t auxPtzId, int32_t flag, const char* remotePath, const char* localPath)
{
    QELM_FORWARD(DownloadFile(auxPtzId, flag, remotePath, localPath));
}
int32_t CAuxPtzCtrl::WriteAUXStringEx(int32_t auxPtzId, const char* msgType, int32_t code, int32_t flag,
                                      const char* xml)
{
    QELM_FORWARD(WriteAUXStringEx(auxPtzId, msgType, code, flag, xml));
}
int32_t CAuxPtzCtrl::AddDeviceEx(const char* address, uint16_t port, const char* user, const char* password)
{
    QELM_FORWARD(AddDeviceEx(address, port, user, password));
}
int32_t CAuxPtzCtrl::GetDownloadProgress(int32_t auxPtzId) { QELM_FORWARD(GetDownloadProgress(auxPtzId)); }
int32_t CAuxPtzCtrl::GetUploadProgress(int32_t auxPtzId) { QELM_FORWARD(GetUploadProgress(auxPtzId)); }
int32_t CAuxPtzCtrl::StopDownload(int32_t auxPtzId) { QELM_FORWARD(StopDownload(auxPtzId)); }
int32_t CAuxPtzCtrl::CloseAll() { QELM_FORWARD(CloseAll()); }
int32_t CAuxPtzCtrl::StartFileReplay(int32_t auxPtzId, const char* remotePath)
{
    QELM_FORWARD(StartFileReplay(auxPtzId, remotePath));
}
int32_t CAuxPtzCtrl::ControlReplay(int32_t auxPtzId, int32_t code, int32_t value)
{
    QELM_FORWARD(ControlReplay(auxPtzId, code, value));
}
uint32_t CAuxPtzCtrl::Dispatch22(int32_t auxPtzId) { return m_control ? m_control->Dispatch22(auxPtzId) : 0; }
uint32_t CAuxPtzCtrl::Dispatch23(int32_t auxPtzId) { return m_control ? m_control->Dispatch23(auxPtzId) : 0; }
int32_t CAuxPtzCtrl::CreateIFrame(int32_t auxPtzId, int32_t channel) { QELM_FORWARD(CreateIFrame(auxPtzId, channel)); }
int32_t CAuxPtzCtrl::StartBroadcast(int32_t codec, int32_t sampleRate, int32_t bits, int32_t channels)
{
    QELM_FORWARD(StartBroadcast(codec, sampleRate, bits, channels));
}
int32_t CAuxPtzCtrl::AddBroadcastDevice(int32_t auxPtzId) { QELM_FORWARD(AddBroadcastDevice(auxPtzId)); }
int32_t CAuxPtzCtrl::StopBroadcast() { QELM_FORWARD(StopBroadcast()); }
int32_t CAuxPtzCtrl::StartNvrReplay(int32_t auxPtzId, int32_t channel, const char* time)
{
    QELM_FORWARD(StartNvrReplay(auxPtzId, channel, time));
}
int32_t CAuxPtzCtrl::ControlNvrReplay(int32_t auxPtzId, int32_t a, int32_t b, int32_t c, const char* time)
{
    QELM_FORWARD(ControlNvrReplay(auxPtzId, a, b, c, time));
}
int32_t CAuxPtzCtrl::SetTimeSync(int32_t auxPtzId, int32_t enable, int32_t allowedDifference, int32_t interval)
{
    QELM_FORWARD(SetTimeSync(auxPtzId, enable, allowedDifference, interval));
}
int32_t CAuxPtzCtrl::DownloadByTime(int32_t auxPtzId, int32_t channel, const char* start, const char* end,
                                    const char* localPath)
{
    QELM_FORWARD(DownloadByTime(auxPtzId, channel, start, end, localPath));
}
int32_t CAuxPtzCtrl::StopDownloadByTime(int32_t auxPtzId, int32_t channel)
{
    QELM_FORWARD(StopDownloadByTime(auxPtzId, channel));
}

// --- CAviRecordCtrl -------------------------------------------------------------

BOOL CAviRecordCtrl::CreateDispatch() { return CreateFromClass(m_control, qelm::kClsidAviRecord); }
void CAviRecordCtrl::Advise(IAviRecordEvents* sink)
{
    if (m_control)
        m_control->Advise(sink);
}
void CAviRecordCtrl::Unadvise()
{
    if (m_control)
        m_control->Unadvise();
}
int32_t CAviRecordCtrl::BeginStream(int32_t streamId) { QELM_FORWARD(BeginStream(streamId)); }
int32_t CAviRecordCtrl::EndStream(int32_t streamId) { QELM_FORWARD(EndStream(streamId)); }
int32_t CAviRecordCtrl::SetVideoParam(int32_t streamId, const uint8_t* param, int32_t length)
{
    QELM_FORWARD(SetVideoParam(streamId, param, length));
}
int32_t CAviRecordCtrl::SetAudioParam(int32_t streamId, const uint8_t* param, int32_t length)
{
    QELM_FORWARD(SetAudioParam(streamId, param, length));
}
int32_t CAviRecordCtrl::WriteVideo(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                                   int32_t headerLength)
{
    QELM_FORWARD(WriteVideo(streamId, frame, length, header, headerLength));
}
int32_t CAviRecordCtrl::WriteAudio(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                                   int32_t headerLength)
{
    QELM_FORWARD(WriteAudio(streamId, frame, length, header, headerLength));
}
int32_t CAviRecordCtrl::SetPreRecord(int32_t streamId, const char* text, int32_t seconds, int32_t reserved1,
                                     int32_t reserved2)
{
    QELM_FORWARD(SetPreRecord(streamId, text, seconds, reserved1, reserved2));
}
int32_t CAviRecordCtrl::StopRecordFile(int32_t fileId) { QELM_FORWARD(StopRecordFile(fileId)); }
int32_t CAviRecordCtrl::BeginRecordFile(int32_t streamId, const char* folder, int32_t preRecordSeconds,
                                        int32_t timeLimit, int32_t secondsPerFile, int32_t streamKind)
{
    QELM_FORWARD(BeginRecordFile(streamId, folder, preRecordSeconds, timeLimit, secondsPerFile, streamKind));
}

// --- CZizevaVEDCtrl -------------------------------------------------------------

BOOL CZizevaVEDCtrl::CreateDispatch() { return CreateFromClass(m_control, qelm::kClsidCameraSearch); }
int32_t CZizevaVEDCtrl::StartSearch() { QELM_FORWARD(StartSearch()); }
int32_t CZizevaVEDCtrl::StopSearch() { QELM_FORWARD(StopSearch()); }
int32_t CZizevaVEDCtrl::GetDeviceCount() { return m_control ? m_control->GetDeviceCount() : 0; }
int32_t CZizevaVEDCtrl::GetDevice(int32_t index, uint8_t* record, int32_t length)
{
    QELM_FORWARD(GetDevice(index, record, length));
}
int32_t CZizevaVEDCtrl::SetNetParam(int32_t index, const uint8_t* record, int32_t length)
{
    QELM_FORWARD(SetNetParam(index, record, length));
}
std::string CZizevaVEDCtrl::GetNetValue(uint32_t index) { return m_control ? m_control->GetNetValue(index) : ""; }
std::string CZizevaVEDCtrl::GetLocalNetInfo() { return m_control ? m_control->GetLocalNetInfo() : ""; }
int32_t CZizevaVEDCtrl::ModifyDevice(int32_t index, const uint8_t* record, int32_t length)
{
    QELM_FORWARD(ModifyDevice(index, record, length));
}

// --- CStreamPlayerCtrl -----------------------------------------------------------

CStreamPlayerCtrl::CStreamPlayerCtrl() = default;

CStreamPlayerCtrl::~CStreamPlayerCtrl()
{
    // The player goes before the window, so that Qt does not delete it as a child.
    m_control.reset();
}

BOOL CStreamPlayerCtrl::Create(CWnd* pParent, const CRect& rect)
{
    if (m_control || !CreateFromClass(m_control, qelm::kClsidStreamPlayer))
        return FALSE;
    if (!CWnd::Create(pParent, rect, 0, nullptr)) {
        m_control.reset();
        return FALSE;
    }
    setCursor(Qt::ArrowCursor);
    m_control->setParent(this);
    m_control->setGeometry(0, 0, rect.Width(), rect.Height());
    m_control->show();
    return TRUE;
}

void CStreamPlayerCtrl::SetParentWnd(CWnd* pParent)
{
    const bool visible = isVisible();
    setParent(pParent);
    if (visible)
        show();
}

void CStreamPlayerCtrl::OnSize(UINT nType, int cx, int cy)
{
    CWnd::OnSize(nType, cx, cy);
    if (m_control)
        m_control->setGeometry(0, 0, cx, cy);
}

int32_t CStreamPlayerCtrl::SetupDecoder(int32_t kind, int32_t renderId, const uint8_t* param, int32_t length)
{
    QELM_FORWARD(SetupDecoder(kind, renderId, param, length));
}
int32_t CStreamPlayerCtrl::InputData(int32_t kind, int32_t renderId, const uint8_t* frame, int32_t length,
                                     const uint8_t* header, int32_t headerLength)
{
    QELM_FORWARD(InputData(kind, renderId, frame, length, header, headerLength));
}
int32_t CStreamPlayerCtrl::CloseDecoder(int32_t kind, int32_t renderId) { QELM_FORWARD(CloseDecoder(kind, renderId)); }
int32_t CStreamPlayerCtrl::CreateRender(const char* name) { QELM_FORWARD(CreateRender(name)); }
int32_t CStreamPlayerCtrl::DestroyRender(int32_t renderId) { QELM_FORWARD(DestroyRender(renderId)); }
int32_t CStreamPlayerCtrl::SetSound(int32_t renderId, int32_t on) { QELM_FORWARD(SetSound(renderId, on)); }
int32_t CStreamPlayerCtrl::SetZoomMode(int32_t renderId, int32_t mode) { QELM_FORWARD(SetZoomMode(renderId, mode)); }
void CStreamPlayerCtrl::SetShowLastFrame(int32_t show)
{
    if (m_control)
        m_control->SetShowLastFrame(show);
}
void CStreamPlayerCtrl::SnapShot(int32_t renderId, int32_t format, const char* path)
{
    if (m_control)
        m_control->SnapShot(renderId, format, path);
}
int32_t CStreamPlayerCtrl::SetRecordMark(int32_t streamId, int32_t on) { QELM_FORWARD(SetRecordMark(streamId, on)); }
int32_t CStreamPlayerCtrl::SetFullDisplay(int32_t fill) { QELM_FORWARD(SetFullDisplay(fill)); }
int32_t CStreamPlayerCtrl::ReleaseWithoutWait() { QELM_FORWARD(ReleaseWithoutWait()); }
int32_t CStreamPlayerCtrl::SetTalkMark(int32_t streamId, int32_t on) { QELM_FORWARD(SetTalkMark(streamId, on)); }
int32_t CStreamPlayerCtrl::Flip(int32_t streamId, int32_t mode) { QELM_FORWARD(Flip(streamId, mode)); }
int32_t CStreamPlayerCtrl::SetBufferTick(int32_t tick) { QELM_FORWARD(SetBufferTick(tick)); }
int32_t CStreamPlayerCtrl::SetBufferCount(int32_t count) { QELM_FORWARD(SetBufferCount(count)); }

// --- CPlayBackAtl -----------------------------------------------------------------

CPlayBackAtl::CPlayBackAtl() = default;

CPlayBackAtl::~CPlayBackAtl()
{
    if (m_control)
        m_control->SetEventSink(nullptr);
    m_control.reset();
}

BOOL CPlayBackAtl::Create(CWnd* pParent, const CRect& rect, UINT nId, IPlayBackAtlEvents* sink)
{
    if (m_control || !CreateFromClass(m_control, qelm::kClsidPlayBack))
        return FALSE;
    if (!CWnd::Create(pParent, rect, nId, nullptr)) {
        m_control.reset();
        return FALSE;
    }
    m_sink = sink;
    m_control->SetEventSink(this);
    m_control->setParent(this);
    m_control->setGeometry(0, 0, rect.Width(), rect.Height());
    m_control->show();
    return TRUE;
}

void CPlayBackAtl::OnSize(UINT nType, int cx, int cy)
{
    CWnd::OnSize(nType, cx, cy);
    if (m_control)
        m_control->setGeometry(0, 0, cx, cy);
}

void CPlayBackAtl::OnPlayBackMouse(int32_t message, int32_t wParam, int32_t lParam)
{
    if (m_sink)
        m_sink->OnPlayBackMouse(GetDlgCtrlID(), message, wParam, lParam);
}
void CPlayBackAtl::OnPlayBackMessage(int32_t type, const char* text)
{
    if (m_sink)
        m_sink->OnPlayBackMessage(GetDlgCtrlID(), type, text);
}
void CPlayBackAtl::OnPlayBackNotify(int32_t a, int32_t b, int32_t c)
{
    if (m_sink)
        m_sink->OnPlayBackNotify(GetDlgCtrlID(), a, b, c);
}
void CPlayBackAtl::OnPlayBackCommand(int32_t command, int32_t value)
{
    if (m_sink)
        m_sink->OnPlayBackCommand(GetDlgCtrlID(), command, value);
}

int32_t CPlayBackAtl::SetFullScreen(int32_t on) { QELM_FORWARD(SetFullScreen(on)); }
int32_t CPlayBackAtl::GetMouseCapture() { QELM_FORWARD(GetMouseCapture()); }
int32_t CPlayBackAtl::SetMediaParam(const char* base64, int32_t size, int32_t kind)
{
    QELM_FORWARD(SetMediaParam(base64, size, kind));
}
int32_t CPlayBackAtl::InputVideoData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength)
{
    QELM_FORWARD(InputVideoData(data, length, header, headerLength));
}
int32_t CPlayBackAtl::InputAudioData(const uint8_t* data, int32_t length, const uint8_t* header, int32_t headerLength)
{
    QELM_FORWARD(InputAudioData(data, length, header, headerLength));
}
int32_t CPlayBackAtl::Play() { QELM_FORWARD(Play()); }
int32_t CPlayBackAtl::Stop() { QELM_FORWARD(Stop()); }
int32_t CPlayBackAtl::OpenFile(const char* path) { QELM_FORWARD(OpenFile(path)); }
int32_t CPlayBackAtl::GetPlayState() { QELM_FORWARD(GetPlayState()); }
int32_t CPlayBackAtl::SetCapturePath(int32_t flag, const char* folder) { QELM_FORWARD(SetCapturePath(flag, folder)); }
int32_t CPlayBackAtl::SetStretchMode(int32_t on) { QELM_FORWARD(SetStretchMode(on)); }
void CPlayBackAtl::SetUiLanguage(int32_t flag)
{
    if (m_control)
        m_control->SetUiLanguage(flag);
}
int32_t CPlayBackAtl::IsPlaying() { QELM_FORWARD(IsPlaying()); }
int32_t CPlayBackAtl::EnableStreamInput(int32_t value) { QELM_FORWARD(EnableStreamInput(value)); }
int32_t CPlayBackAtl::Control(int32_t code, int32_t value) { QELM_FORWARD(Control(code, value)); }
int32_t CPlayBackAtl::SetPlaySeconds(int32_t which, int32_t seconds) { QELM_FORWARD(SetPlaySeconds(which, seconds)); }
int32_t CPlayBackAtl::SetMouseMode(int32_t mode) { QELM_FORWARD(SetMouseMode(mode)); }
int32_t CPlayBackAtl::GetMediaState(int32_t which) { QELM_FORWARD(GetMediaState(which)); }
int32_t CPlayBackAtl::Close() { QELM_FORWARD(Close()); }
