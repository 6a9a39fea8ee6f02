// The per-stream media sink: status and parameter events, renders, the
// frame-pull thread, MP4/AVI recording with rotation, and the relay feed.
#include "media/rtsp_events.h"

#include "controls/alarm_info.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "media/mp4_writer.h"
#include "platform/clock.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QThread>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

constexpr int32_t kFrameBufferSize = 0x17D000;
constexpr int32_t kHeaderLength = sizeof(MediaFrameHeader);
// How long the thread waits for the parameter event of a stream whose
// in-band parameter sets changed before it rotates the MP4 file anyway.
constexpr int kParamWaitMs = 1000;

// The (stream id, status) pair of the last status event of any sink.
int32_t g_nLastStatusStreamId = 0;
int32_t g_nLastStatusCode = 0;
bool g_bHaveLastStatus = false;

bool OnUiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

template <class Fn>
void RunOnUi(Fn fn)
{
    if (OnUiThread()) {
        fn();
        return;
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void CopyText(char* dst, size_t size, const char* src)
{
    if (!size)
        return;
    if (!src)
        src = "";
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
}

bool IsH265(const char* codec)
{
    return strcmp(codec, "H265") == 0 || strcmp(codec, "H.265") == 0;
}

// The first SPS of an Annex-B access unit (H.264 type 7, H.265 type 33),
// without its start code; empty when there is none.
std::vector<uint8_t> FindSps(const uint8_t* d, int32_t n, bool hevc)
{
    std::vector<uint8_t> sps;
    int32_t start = -1;
    for (int32_t i = 0; i + 3 < n; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
            continue;
        const int32_t nal = i + 3;
        if (start >= 0) {
            int32_t end = i;
            while (end > start && d[end - 1] == 0)
                --end;
            sps.assign(d + start, d + end);
            return sps;
        }
        const int type = hevc ? (d[nal] >> 1) & 0x3F : d[nal] & 0x1F;
        if (type == (hevc ? 33 : 7))
            start = nal;
        i += 2;
    }
    if (start >= 0)
        sps.assign(d + start, d + n);
    return sps;
}

} // namespace

// --- CSinkRenderWnd ---------------------------------------------------------------

CSinkRenderWnd::~CSinkRenderWnd()
{
    if (CRtspEvents* sink = m_pSink.exchange(nullptr))
        sink->OnRenderGone(this);
}

// --- construction -------------------------------------------------------------------

CRtspEvents::CRtspEvents(CWnd* pOwnerPane, CRtspPullCtrl* pRtspPullCtrl)
    : m_pOwnerPane(pOwnerPane), m_pRtspPullCtrl(pRtspPullCtrl)
{
    InitializeCriticalSection(&m_cs);
    m_pAviRecordCtrl = new CAviRecordCtrl;
    if (!m_pAviRecordCtrl->CreateDispatch()) {
        delete m_pAviRecordCtrl;
        m_pAviRecordCtrl = nullptr;
    } else {
        m_pAviRecordEvents = new CAviRecordEvents;
        m_pAviRecordCtrl->Advise(m_pAviRecordEvents);
    }
    m_pMP4Writer = new CMP4Writer;
    if (pOwnerPane)
        pOwnerPane->GetClientRect(&m_rcMainRender);
    if (m_pRtspPullCtrl)
        m_nAdviseCookie = m_pRtspPullCtrl->Advise(this);
}

CRtspEvents::~CRtspEvents()
{
    {
        std::unique_lock<std::mutex> g(m_useLock);
        m_useCv.wait(g, [this] { return m_nUses == 0; });
    }
    if (m_pRtspPullCtrl && m_nAdviseCookie)
        m_pRtspPullCtrl->Unadvise(m_nAdviseCookie);
    m_nAdviseCookie = 0;
    WriteLog(6, "CRtspEvents: Stop RTSP poll thread.");
    DeleteStream();
    WriteLog(6, "CRtspEvents: Close video & audio decoder");
    CloseAllDecoder();
    CloseAlarmActPlayer();   // no render may keep a link to a deleted sink
    CloseLiveRelay();
    WriteLog(6, "CRtspEvents: delete m_pAviRecordEvents");
    if (m_pAviRecordCtrl)
        m_pAviRecordCtrl->Unadvise();
    delete m_pAviRecordEvents;
    m_pAviRecordEvents = nullptr;
    WriteLog(6, "CRtspEvents: delete m_pAviRecordCtrl");
    delete m_pAviRecordCtrl;
    m_pAviRecordCtrl = nullptr;
    delete m_pMP4Writer;
    m_pMP4Writer = nullptr;
    DeleteCriticalSection(&m_cs);
}

void CRtspEvents::AddUse()
{
    std::lock_guard<std::mutex> g(m_useLock);
    ++m_nUses;
}

void CRtspEvents::ReleaseUse()
{
    std::lock_guard<std::mutex> g(m_useLock);
    if (--m_nUses == 0)
        m_useCv.notify_all();
}

void CRtspEvents::ResetStatusFilter()
{
    g_bHaveLastStatus = false;
    g_nLastStatusStreamId = 0;
    g_nLastStatusCode = 0;
}

VideoParam CRtspEvents::GetVideoParam() const
{
    std::lock_guard<std::mutex> g(m_paramLock);
    return m_VideoParam;
}

AudioParam CRtspEvents::GetAudioParam() const
{
    std::lock_guard<std::mutex> g(m_paramLock);
    return m_AudioParam;
}

std::string CRtspEvents::GetMp4FileName() const
{
    std::lock_guard<std::recursive_mutex> g(m_recLock);
    return m_bMp4Open ? std::string(m_szMp4FileName) : std::string();
}

CStreamPlayerCtrl* CRtspEvents::GetMainRender()
{
    qelm::CsLock lock(m_cs);
    return m_pMainRender.data();
}

CStreamPlayerCtrl* CRtspEvents::GetAlarmRender()
{
    qelm::CsLock lock(m_cs);
    return m_pAlarmRender.data();
}

// An operator must never take a frozen picture for live video: unless the
// user chose to keep the last picture, a stream that stops or is lost leaves
// its panes empty. The decoder, set up again, shows the return of the stream
// from its next key frame (the pull control sends no new parameters then).
void CRtspEvents::ClearPicturesUnlessKept(bool setupAgain)
{
    if (g_DispInfoSetting.ShowLastFrame)
        return;
    const VideoParam video = GetVideoParam();
    const bool known = setupAgain && m_nVideoParamLen != 0;
    const std::pair<CStreamPlayerCtrl*, int32_t> renders[] = {{GetMainRender(), m_nMainRenderId.load()},
                                                             {GetAlarmRender(), m_nAlarmRenderId.load()}};
    for (const auto& [render, id] : renders) {
        if (!render || id == 0)
            continue;
        render->CloseDecoder(1, id);
        if (known)
            render->SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&video), sizeof video);
    }
}

// --- events ---------------------------------------------------------------------------

void CRtspEvents::OnStreamStatus(int32_t streamId, int32_t status, const char* text, const void* data)
{
    // Every sink hears every stream's events, and the repeat filter below
    // lets only the first through: a lost stream is handled by its own sink.
    if (status == 6 && streamId != 0 && streamId == m_nStreamId)
        ClearPicturesUnlessKept(true);
    if (g_bHaveLastStatus && g_nLastStatusStreamId == streamId && g_nLastStatusCode == status)
        return;
    g_bHaveLastStatus = true;
    g_nLastStatusStreamId = streamId;
    g_nLastStatusCode = status;

    m_szDevId[0] = 0;
    int32_t p2pLoginId = 0;
    bool found = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& dev : g_lstDevInfo) {
            if (dev.StreamId1 == streamId || dev.StreamId2 == streamId || dev.P2pLoginId == streamId) {
                CopyText(m_szDevId, sizeof(m_szDevId), dev.DevId);
                p2pLoginId = dev.P2pLoginId;
                found = true;
                break;
            }
        }
    }
    if (!found)
        return;

    IMediaSinkTargets* targets = GetMediaSinkTargets();
    HWND hMain = targets ? targets->MainWnd() : nullptr;
    if (status == 5 || status == 6 || (status >= 63 && status <= 75)) {
        char* block = new char[128]();
        CopyText(block, 128, m_szDevId);
        if (!PostMessage(hMain, WM_STREAM_STATUS, reinterpret_cast<WPARAM>(block), status,
                         [](WPARAM w, LPARAM) { delete[] reinterpret_cast<char*>(w); }))
            delete[] block;
    } else if (status == 77) {
        qelm::PostText(hMain, WM_CHANNEL_STATES,
                       static_cast<WPARAM>(static_cast<uint32_t>(p2pLoginId)) | kChannelStatesFromStream, text);
    } else if (status == 7) {
        if (!data)
            return;
        auto* source = new _ALARM_SOURCE{};
        source->kind = kAlarmSourceDevId;
        CopyText(source->devId, sizeof(source->devId), m_szDevId);
        auto* info = new _ALARM_INFO;
        memcpy(info, data, sizeof(_ALARM_INFO));
        if (!PostMessage(hMain, WM_DEV_ALARM, reinterpret_cast<WPARAM>(source), reinterpret_cast<LPARAM>(info),
                         [](WPARAM w, LPARAM l) {
                             delete reinterpret_cast<_ALARM_SOURCE*>(w);
                             delete reinterpret_cast<_ALARM_INFO*>(l);
                         })) {
            delete source;
            delete info;
        }
    } else if (status == 10) {
        if (text && *text) {
            PtzAnswerSource who;
            who.kind = PtzAnswerSource::kStream;
            CopyText(who.devId, sizeof(who.devId), m_szDevId);
            qelm::PostPtzAnswer(targets ? targets->PtzPanelWnd() : nullptr, who, text);
        }
    }
}

void CRtspEvents::MediaRecv(int32_t streamId, int32_t mediaType, const StreamMediaParam* param, int32_t)
{
    if (streamId != m_nStreamId || streamId == 0)
        return;
    WriteLog(6, "CRtspEvents::MediaRecv(): StreamId=%ld, MediaType=%x", long(streamId), unsigned(mediaType));
    if (mediaType != StreamPullControl::kMediaTypeParams || !param || !HasStreamMediaMarker(*param))
        return;

    AudioParam newAudio{};
    if (param->hasAudio)
        newAudio = param->audio;
    bool videoChanged = false;
    bool audioChanged = false;
    int32_t storedRate = 0;
    {
        std::lock_guard<std::mutex> g(m_paramLock);
        videoChanged = param->hasVideo && m_VideoParam.width != 0 &&
                       memcmp(&param->video, &m_RawVideoParam, sizeof(VideoParam)) != 0;
        audioChanged = memcmp(&newAudio, &m_AudioParam, sizeof(AudioParam)) != 0;
        storedRate = m_AudioParam.sampleRate;
    }
    const bool changed = videoChanged || audioChanged;
    IMediaSinkTargets* targets = GetMediaSinkTargets();
    if (audioChanged && storedRate != 0) {
        PostMessage(targets ? targets->MainWnd() : nullptr, WM_STOP_TALK, static_cast<WPARAM>(streamId), 0);
        char codec[sizeof(newAudio.codecName) + 1];
        CopyText(codec, sizeof(codec), newAudio.codecName);
        WriteLog(6, "CRtspEvents::MediaRecv():Notify GUI audio parameter changed.StreamId=%ld, AudioParam=%s",
                 long(streamId), codec);
    }

    const bool aviBackEnd = m_nBackEnd == 0;
    // The scheduler may stop or restart the recording meanwhile: both halves
    // of the AVI file switch check the recording under its lock.
    std::unique_lock<std::recursive_mutex> recGuard(m_recLock);
    if (m_bRecording && changed && m_nBackEnd == 0 && m_pAviRecordCtrl) {
        WriteLog(6,
                 "CRtspEvents::MediaRecv(): Stop record file, because the media param changed. FileId=%ld, "
                 "StreamId=%ld",
                 long(m_nRecordFileId), long(streamId));
        m_pAviRecordCtrl->StopRecordFile(m_nRecordFileId);
        m_pAviRecordCtrl->EndStream(streamId);
    }
    recGuard.unlock();

    if (param->hasVideo) {
        VideoParam video = param->video;
        {
            std::lock_guard<std::mutex> g(m_paramLock);
            m_RawVideoParam = param->video;
            if (m_bUseProfileSize) {
                video.width = m_StreamProfile.width;
                video.height = m_StreamProfile.height;
                if (video.frameRate == 0)
                    video.frameRate = 25;
            }
            m_VideoParam = video;
        }
        m_nVideoParamLen = sizeof(VideoParam);
        char codec[sizeof(video.codecName) + 1];
        CopyText(codec, sizeof(codec), video.codecName);
        WriteLog(6, "CRtspEvents::MediaRecv(): VideoParam=%s, stramId=%ld", codec, long(streamId));
        if (m_bRenderMedia) {
            CreatMediaRenderCtrl();
            SetupMpeg4Decoder();
        } else if (StartPollThread()) {
            WriteLog(6, "CRtspEvents::MediaRecv(): StreamId = %d, RTSPDataPollThread create. m_hRtspPoll=%x",
                     int(streamId), PollHandle());
        }
    }

    m_bHasAudio = 0;
    {
        std::lock_guard<std::mutex> g(m_paramLock);
        m_AudioParam = newAudio;
    }
    if (param->hasAudio) {
        m_nAudioParamLen = sizeof(AudioParam);
        m_bHasAudio = 1;
        char codec[sizeof(newAudio.codecName) + 1];
        CopyText(codec, sizeof(codec), newAudio.codecName);
        WriteLog(6, "CRtspEvents::MediaRecv(): AudioParam=%s, stramId=%ld", codec, long(streamId));
        if (m_bRenderMedia)
            SetupG711Decoder();
    } else {
        m_nAudioParamLen = 0;
    }
    if (changed)
        ++m_nParamGen;

    const VideoParam video = GetVideoParam();
    const AudioParam audio = GetAudioParam();
    recGuard.lock();
    if (m_bRecording && changed && m_nBackEnd == 0 && m_pAviRecordCtrl) {
        m_pAviRecordCtrl->BeginStream(streamId);
        m_pAviRecordCtrl->SetVideoParam(streamId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        WriteLog(6, "CRtspEvents::MediaRecv(): AviRecord set video param and begin stream, streamid=%ld",
                 long(streamId));
        if (m_bRecordAudio && m_bHasAudio) {
            m_pAviRecordCtrl->SetAudioParam(streamId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
            WriteLog(6, "CRtspEvents::MediaRecv(): AviRecord set audio param and begin stream, streamid=%ld",
                     long(streamId));
        }
        const int32_t fileId = m_pAviRecordCtrl->BeginRecordFile(streamId, m_szRecordFolder, m_nRecBufTime,
                                                                 m_nTimeLimit, m_nSecondsPerFile, 2 - m_nStreamType);
        m_nRecordFileId = fileId;
        if (fileId <= 0) {
            m_bRecording = 0;
            SetRecordMarkOnMain(0);
            WriteLog(3,
                     "CRtspEvents::MediaRecv(): begin record file failed, because the media param changed. "
                     "FileId=%ld, StreamId=%ld",
                     long(fileId), long(streamId));
        } else {
            WriteLog(6,
                     "CRtspEvents::MediaRecv(): begin record file success, because the media param changed. "
                     "FileId=%ld, StreamId=%ld",
                     long(fileId), long(streamId));
        }
    }
    if (m_bRecording && m_nBackEnd != 0) {
        // The MP4 file carries one sample entry: the thread closes it and opens
        // the next one with the new parameters at the right key frame.
        if (changed && m_bMp4Open && m_nFileParamGen != m_nParamGen) {
            m_bMp4RotatePending = 1;
            m_bMp4PendingVideo = m_bMp4PendingVideo || videoChanged;
        }
        m_bMp4RetryNow = 1;   // a file that could not be opened may open now
    }
    recGuard.unlock();

    if (aviBackEnd && m_pAviRecordCtrl && m_nRecBufTime > 0) {
        m_pAviRecordCtrl->BeginStream(streamId);
        m_pAviRecordCtrl->SetPreRecord(streamId, "", m_nRecBufTime, 0, 0);
        m_pAviRecordCtrl->SetVideoParam(streamId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        if (m_bHasAudio && m_bRecordAudio)
            m_pAviRecordCtrl->SetAudioParam(streamId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
    }

    qelm::CsLock lock(m_cs);
    if (m_bRelayRequested && m_pRelaySession) {
        m_bRelayFeeding = 1;
        if (!m_pRelaySession->IsAnswered())
            m_pRelaySession->RspDeviceVideo(&video, &audio);
    }
}

void CRtspEvents::OnVideoData(int32_t streamId, const uint8_t* data, int32_t length, const MediaFrameHeader* header,
                              int32_t headerLength)
{
    if (streamId == m_nStreamId && streamId != 0) {
        qelm::CsLock lock(m_cs);
        const uint8_t* hdr = reinterpret_cast<const uint8_t*>(header);
        if (m_pMainRender && m_bRenderMedia)
            m_pMainRender->InputData(1, m_nMainRenderId, data, length, hdr, headerLength);
        else if (m_pOwnerPane)
            m_pOwnerPane->Invalidate();
        if (m_pAlarmRender)
            m_pAlarmRender->InputData(1, m_nAlarmRenderId, data, length, hdr, headerLength);
        else if (m_pAlarmPane)
            m_pAlarmPane->Invalidate();
    }
    if (m_pAviRecordCtrl && m_bRecordWrite)
        m_pAviRecordCtrl->WriteVideo(streamId, data, length, reinterpret_cast<const uint8_t*>(header), headerLength);
}

void CRtspEvents::OnAudioData(int32_t streamId, const uint8_t* data, int32_t length, const MediaFrameHeader* header,
                              int32_t headerLength)
{
    if (streamId == m_nStreamId && streamId != 0) {
        qelm::CsLock lock(m_cs);
        const uint8_t* hdr = reinterpret_cast<const uint8_t*>(header);
        if (m_pMainRender && m_bRenderMedia)
            m_pMainRender->InputData(0, m_nMainRenderId, data, length, hdr, headerLength);
        if (m_pAlarmRender)
            m_pAlarmRender->InputData(0, m_nAlarmRenderId, data, length, hdr, headerLength);
    }
    if (m_pAviRecordCtrl && m_bRecordWrite && m_bRecordAudio)
        m_pAviRecordCtrl->WriteAudio(streamId, data, length, reinterpret_cast<const uint8_t*>(header), headerLength);
}

// --- renders ----------------------------------------------------------------------------

CSinkRenderWnd* CRtspEvents::NewRender(CWnd* parent, const CRect& rect)
{
    auto* wnd = new CSinkRenderWnd;
    if (!parent || !wnd->Create(parent, rect)) {
        delete wnd;
        return nullptr;
    }
    return wnd;
}

void CRtspEvents::OnRenderGone(CSinkRenderWnd* wnd)
{
    qelm::CsLock lock(m_cs);
    if (m_pMainRender.data() == wnd) {
        m_pMainRender.clear();
        m_nMainRenderId = 0;
    }
    if (m_pAlarmRender.data() == wnd) {
        m_pAlarmRender.clear();
        m_nAlarmRenderId = 0;
    }
}

bool CRtspEvents::CloseRender(QPointer<CStreamPlayerCtrl>& render, std::atomic<int32_t>& renderId)
{
    QPointer<CStreamPlayerCtrl> wnd;
    int32_t id = 0;
    {
        qelm::CsLock lock(m_cs);
        wnd = render;   // a copy: safe on any thread
        id = renderId.exchange(0);
        render.clear();
        if (auto* sinkWnd = static_cast<CSinkRenderWnd*>(wnd.data()))
            sinkWnd->m_pSink = nullptr;
    }
    if (!wnd)
        return false;
    RunOnUi([wnd, id]() {
        if (!wnd)
            return;
        wnd->CloseDecoder(1, id);
        wnd->CloseDecoder(0, id);
        wnd->DestroyRender(id);
        wnd->DestroyWindow();
        delete wnd.data();
    });
    return true;
}

void CRtspEvents::CreatMediaRenderCtrl()
{
    if (!GetMainRender() && m_pOwnerPane) {
        CSinkRenderWnd* wnd = NewRender(m_pOwnerPane, m_rcMainRender);
        if (wnd) {
            const int32_t streamId = m_nStreamId;
            const int32_t renderId = wnd->CreateRender("TEST");
            wnd->SetFullDisplay(g_DispInfoSetting.FilpMode);
            wnd->SetZoomMode(renderId, m_nZoomMode);
            wnd->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
            if (m_bRecording || m_bManualRecord)
                wnd->SetRecordMark(streamId, 1);
            if (m_nBroadcastState == 1)
                wnd->SetTalkMark(streamId, 1);
            wnd->SetBufferTick(g_DispInfoSetting.BufferTick);
            wnd->SetBufferCount(g_DispInfoSetting.BufferCount);
            WriteLog(6, "CRtspEvents::CreatMediaRenderCtrl(): Create stream player,StreamId=%d, RenderId=%d",
                     int(streamId), int(renderId));
            // Visible to the thread only once it is set up.
            qelm::CsLock lock(m_cs);
            wnd->m_pSink = this;
            m_pMainRender = wnd;
            m_nMainRenderId = renderId;
        }
    }
    if (StartPollThread()) {
        WriteLog(6, "CRtspEvents::CreatMediaRenderCtrl(): RTSPDataPollThread create. StreamId=%d, m_hRtspPoll=%x",
                 int(m_nStreamId), PollHandle());
    }
}

int32_t CRtspEvents::SetupMpeg4Decoder()
{
    CStreamPlayerCtrl* render = GetMainRender();
    if (!render)
        return -1;
    VideoParam video;
    {
        std::lock_guard<std::mutex> g(m_paramLock);
        if (m_VideoParam.width == 0)
            m_VideoParam.width = 1920;
        if (m_VideoParam.height == 0)
            m_VideoParam.height = 1080;
        if (m_VideoParam.frameRate == 0)
            m_VideoParam.frameRate = 25;
        video = m_VideoParam;
    }
    const int32_t ret =
        render->SetupDecoder(1, m_nMainRenderId, reinterpret_cast<const uint8_t*>(&video), m_nVideoParamLen);
    WriteLog(6, "CRtspEvents::SetupMpeg4Decoder():Setup video decoder, StreamId=%d, RenderId=%d, Ret=%d",
             int(m_nStreamId), int(m_nMainRenderId), int(ret));
    return ret;
}

int32_t CRtspEvents::SetupG711Decoder()
{
    CStreamPlayerCtrl* render = GetMainRender();
    if (!render)
        return -1;
    const AudioParam audio = GetAudioParam();
    const int32_t ret =
        render->SetupDecoder(0, m_nMainRenderId, reinterpret_cast<const uint8_t*>(&audio), m_nAudioParamLen);
    WriteLog(6, "CRtspEvents::SetupG711Decoder():Setup audio decoder, StreamId=%d, RenderId=%d, Ret=%d",
             int(m_nStreamId), int(m_nMainRenderId), int(ret));
    return ret;
}

void CRtspEvents::SetStreamInfo(int32_t streamId, int32_t streamType, int32_t preRecSeconds, int32_t recordAudio)
{
    m_nStreamId = streamId;
    m_nStreamType = streamType;
    m_nRecBufTime = preRecSeconds;
    m_bRecordAudio = recordAudio;
}

void CRtspEvents::SetStreamProfile(const StreamProfile* profile)
{
    if (!profile)
        return;
    std::lock_guard<std::mutex> g(m_paramLock);
    m_StreamProfile = *profile;
}

void CRtspEvents::SetMediaRenderMod(CWnd* pane, int32_t flag)
{
    m_bRenderMedia = flag;
    if (flag == 0) {
        CloseAllDecoder();
        IMediaSinkTargets* targets = GetMediaSinkTargets();
        if (m_pOwnerPane && m_pOwnerPane.data() != pane && targets)
            targets->ResetWatchInfo(m_pOwnerPane);
    }
    m_pOwnerPane = pane;
    if (pane)
        pane->GetClientRect(&m_rcMainRender);
    WriteLog(6, "CRtspEvents: SetMediaRenderMod m_bRenderMedia=%d, streamid=%ld", int(flag), long(m_nStreamId));
}

void CRtspEvents::DisplayMediaStream(CWnd* pane, int32_t reset)
{
    IMediaSinkTargets* targets = GetMediaSinkTargets();
    CWnd* previous = m_pOwnerPane;
    const bool previousIsAlarm = previous && targets && targets->IsAlarmPane(previous);
    if (reset && previous && !previousIsAlarm && targets)
        targets->ResetWatchInfo(previous);

    m_pOwnerPane = pane;
    m_rcMainRender = CRect();
    if (pane)
        pane->GetClientRect(&m_rcMainRender);
    if (previousIsAlarm && previous != pane) {
        CloseAllDecoder();
        CreatMediaRenderCtrl();
        SetupMpeg4Decoder();
        SetupG711Decoder();
        m_bRenderMedia = 1;
        CreateAlarmActPlayer(previous);
    } else {
        CStreamPlayerCtrl* render = GetMainRender();
        if (render && pane) {
            render->SetParentWnd(pane);
            render->MoveWindow(m_rcMainRender, FALSE);
        } else {
            CloseAllDecoder();
            CreatMediaRenderCtrl();
            SetupMpeg4Decoder();
            SetupG711Decoder();
        }
        m_bRenderMedia = 1;
    }
    WriteLog(6, "CRtspEvents: DisplayMediaStream m_bRenderMedia=TRUE, streamid=%ld", long(m_nStreamId));
}

void CRtspEvents::CreateAlarmActPlayer(CWnd* window)
{
    if (GetAlarmRender() || !window)
        return;
    m_pAlarmPane = window;
    window->GetClientRect(&m_rcAlarmRender);
    CSinkRenderWnd* wnd = NewRender(window, m_rcAlarmRender);
    if (!wnd)
        return;
    const int32_t streamId = m_nStreamId;
    const int32_t renderId = wnd->CreateRender("TEST");
    wnd->SetFullDisplay(g_DispInfoSetting.FilpMode);
    wnd->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
    if (m_bRecording || m_bManualRecord)
        wnd->SetRecordMark(streamId, 1);
    WriteLog(6, "StreamId=%d, Create alarm act player, RenderId=%d", int(streamId), int(renderId));
    if (m_nVideoParamLen) {
        const VideoParam video = GetVideoParam();
        const int32_t ret = wnd->SetupDecoder(1, renderId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        WriteLog(6, "Setup video decoder, StreamId=%d, RenderId=%d, Ret=%d", int(streamId), int(renderId), int(ret));
    }
    if (m_nAudioParamLen) {
        const AudioParam audio = GetAudioParam();
        const int32_t ret = wnd->SetupDecoder(0, renderId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
        WriteLog(6, "Setup audio decoder, StreamId=%d, RenderId=%d, Ret=%d", int(streamId), int(renderId), int(ret));
    }
    qelm::CsLock lock(m_cs);
    wnd->m_pSink = this;
    m_pAlarmRender = wnd;
    m_nAlarmRenderId = renderId;
}

void CRtspEvents::CloseAlarmActPlayer()
{
    CloseRender(m_pAlarmRender, m_nAlarmRenderId);
}

void CRtspEvents::CloseAllDecoder()
{
    if (CloseRender(m_pMainRender, m_nMainRenderId))
        WriteLog(6, "CRtspEvents: CloseAllDecoder m_bRenderMedia=FALSE, streamid=%ld", long(m_nStreamId));
    m_bRenderMedia = 0;
}

void CRtspEvents::SetZoomMode(int32_t mode)
{
    m_nZoomMode = mode;
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->SetZoomMode(m_nMainRenderId, mode);
}

void CRtspEvents::SetFullDisplay(int32_t flag)
{
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->SetFullDisplay(flag);
    if (CStreamPlayerCtrl* render = GetAlarmRender())
        render->SetFullDisplay(flag);
}

void CRtspEvents::SetShowLastFrame()
{
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
    if (CStreamPlayerCtrl* render = GetAlarmRender())
        render->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
}

void CRtspEvents::ResizeRenders()
{
    for (CStreamPlayerCtrl* render : {GetMainRender(), GetAlarmRender()}) {
        if (!render)
            continue;
        CRect rc;
        if (CWnd* parent = render->GetParent())
            parent->GetClientRect(&rc);
        render->MoveWindow(rc, TRUE);
        if (render == GetMainRender())
            m_rcMainRender = rc;
        else
            m_rcAlarmRender = rc;
    }
}

int32_t CRtspEvents::SoundOn(CStreamPlayerCtrl* render, int32_t renderId, int32_t on)
{
    return render ? render->SetSound(renderId, on) : -1;
}

int32_t CRtspEvents::OpenSound() { return SoundOn(GetMainRender(), m_nMainRenderId, 1); }
int32_t CRtspEvents::CloseSound() { return SoundOn(GetMainRender(), m_nMainRenderId, 0); }

int32_t CRtspEvents::OpenAlarmPaneSound()
{
    if (CStreamPlayerCtrl* alarm = GetAlarmRender())
        return SoundOn(alarm, m_nAlarmRenderId, 1);
    return SoundOn(GetMainRender(), m_nMainRenderId, 1);
}

int32_t CRtspEvents::CloseAlarmPaneSound()
{
    if (CStreamPlayerCtrl* alarm = GetAlarmRender())
        return SoundOn(alarm, m_nAlarmRenderId, 0);
    return SoundOn(GetMainRender(), m_nMainRenderId, 0);
}

int32_t CRtspEvents::OpenMapPaneSound()
{
    IMediaSinkTargets* targets = GetMediaSinkTargets();
    CStreamPlayerCtrl* main = GetMainRender();
    if (main && m_pOwnerPane && targets && targets->IsMapPane(m_pOwnerPane))
        return SoundOn(main, m_nMainRenderId, 1);
    if (CStreamPlayerCtrl* alarm = GetAlarmRender())
        return SoundOn(alarm, m_nAlarmRenderId, 1);
    return SoundOn(main, m_nMainRenderId, 1);
}

int32_t CRtspEvents::CloseMapPaneSound()
{
    IMediaSinkTargets* targets = GetMediaSinkTargets();
    CStreamPlayerCtrl* main = GetMainRender();
    if (main && m_pOwnerPane && targets && targets->IsMapPane(m_pOwnerPane))
        return SoundOn(main, m_nMainRenderId, 0);
    if (CStreamPlayerCtrl* alarm = GetAlarmRender())
        return SoundOn(alarm, m_nAlarmRenderId, 0);
    return SoundOn(main, m_nMainRenderId, 0);
}

int32_t CRtspEvents::SnapShot(const char* path)
{
    CStreamPlayerCtrl* render = GetMainRender();
    if (!render)
        return -1;
    render->SnapShot(m_nMainRenderId, g_DispInfoSetting.CapturePicFmt, path);
    return 0;
}

void CRtspEvents::VideoFlip()
{
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->Flip(m_nStreamId, 2);
}

void CRtspEvents::ReleaseWithoutWait()
{
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->ReleaseWithoutWait();
}

int32_t CRtspEvents::SetSpeakStatus(int32_t state)
{
    m_nTalkState = state;
    CStreamPlayerCtrl* target = nullptr;
    if (m_nTalkMarkTarget == 1)
        target = GetAlarmRender();
    if (!target)
        target = GetMainRender();
    if (!target)
        return 0;
    m_nTalkMarkTarget = 2;
    return target->SetTalkMark(m_nStreamId, state);
}

void CRtspEvents::SetBroadcastStatus(int32_t state)
{
    m_nBroadcastState = state;
    if (CStreamPlayerCtrl* render = GetMainRender())
        render->SetTalkMark(m_nStreamId, state);
}

void CRtspEvents::SetRecordMarkOnMain(int32_t on)
{
    QPointer<CStreamPlayerCtrl> render;
    {
        qelm::CsLock lock(m_cs);
        render = m_pMainRender;
    }
    if (!render)
        return;
    const int32_t streamId = m_nStreamId;
    RunOnUi([render, streamId, on]() {
        if (render)
            render->SetRecordMark(streamId, on);
    });
}

// --- relay ------------------------------------------------------------------------------

void CRtspEvents::InstallLiveRelay(LiveRelayFeed* session)
{
    LiveRelayFeed* old = nullptr;
    {
        qelm::CsLock lock(m_cs);
        old = m_pRelaySession;
        m_pRelaySession = session;
        m_bRelayRequested = 1;
        m_bRelayFeeding = session ? 1 : 0;
        if (old && old != session)
            old->Close();
    }
    if (old != session)
        delete old;
}

void CRtspEvents::CloseLiveRelay()
{
    qelm::CsLock lock(m_cs);
    if (!m_pRelaySession)
        return;
    m_pRelaySession->Close();
    delete m_pRelaySession;
    m_pRelaySession = nullptr;
    m_bRelayFeeding = 0;
}

// --- frame-pull thread ------------------------------------------------------------------------

bool CRtspEvents::StartPollThread()
{
    std::lock_guard<std::mutex> g(m_threadLock);
    // A stream deleted meanwhile (on the scheduler's thread) gets no thread.
    if (m_hRtspPoll.joinable() || m_nStreamId == 0)
        return false;
    m_bPollRun = 1;
    // Cleared here, not in the thread: DeleteStream must see a running thread
    // as running from the moment it exists.
    m_bPollFinished = 0;
    m_hRtspPoll = std::thread(&CRtspEvents::RTSPDataPollThread, this);
    return true;
}

unsigned CRtspEvents::PollHandle()
{
    std::lock_guard<std::mutex> g(m_threadLock);
    return m_hRtspPoll.joinable() ? unsigned(m_hRtspPoll.native_handle()) : 0u;
}

void CRtspEvents::FeedRenders(int kind, const uint8_t* frame, int32_t length, const MediaFrameHeader& header)
{
    const uint8_t* hdr = reinterpret_cast<const uint8_t*>(&header);
    qelm::CsLock lock(m_cs);
    if (m_bRelayFeeding && m_pRelaySession) {
        if (!m_pRelaySession->IsAnswered()) {
            VideoParam video;
            AudioParam audio;
            {
                std::lock_guard<std::mutex> g(m_paramLock);
                video = m_VideoParam;
                audio = m_AudioParam;
            }
            m_pRelaySession->RspDeviceVideo(&video, &audio);
        }
        if (kind == 1)
            m_pRelaySession->SendVideo(frame, length, &header);
        else
            m_pRelaySession->SendAudio(frame, length, &header);
    }
    if (m_pMainRender && m_bRenderMedia)
        m_pMainRender->InputData(kind, m_nMainRenderId, frame, length, hdr, kHeaderLength);
    if (m_pAlarmRender)
        m_pAlarmRender->InputData(kind, m_nAlarmRenderId, frame, length, hdr, kHeaderLength);
}

void CRtspEvents::RTSPDataPollThread(CRtspEvents* pRtspEvent)
{
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kFrameBufferSize]);
    if (!buffer) {
        WriteLog(3, "RTSPDataPollThread malloc memory exception!");
        return;
    }
    CRtspEvents* s = pRtspEvent;
    const int32_t streamId = s->m_nStreamId;
    int32_t ret = s->m_pRtspPullCtrl ? s->m_pRtspPullCtrl->RegisterReader(streamId, streamId) : -1;
    WriteLog(6, "RTSPDataPollThread: RtspPullCtrl register reader, ret=%d, StreamId=ReaderId=%ld", int(ret),
             long(streamId));

    MediaFrameHeader videoHeader{};
    MediaFrameHeader audioHeader{};
    int32_t failedVideo = 0;
    int32_t failedAudio = 0;
    uint32_t lastVideoTick = GetTickCount();
    uint32_t lastBeatTick = lastVideoTick;

    while (s->m_bPollRun) {
        if (!s->m_pRtspPullCtrl) {
            WriteLog(3, "pRtspEvent->m_pRtspPullCtrl is NULL, streamId=%x", unsigned(streamId));
            Sleep(5);
            continue;
        }
        const uint32_t now = GetTickCount();
        if (now - lastBeatTick > 30000) {
            WriteLog(3, "RTSPDataPollThread Read Frame data , StreamId=%ld", long(streamId));
            lastBeatTick = now;
        }

        int32_t length = kFrameBufferSize;
        int32_t headerLength = kHeaderLength;
        ret = s->m_pRtspPullCtrl->ReadVideoFrame(streamId, streamId, buffer.get(), &length,
                                                 reinterpret_cast<uint8_t*>(&videoHeader), &headerLength);
        if (ret != 0 || length < 1) {
            Sleep(5);
            ++failedVideo;
        } else {
            s->FeedRenders(1, buffer.get(), length, videoHeader);
            const bool aviOn = s->m_bManualRecord || (s->m_bRecording && s->m_nBackEnd == 0);
            if (aviOn && s->m_pAviRecordCtrl && (s->m_bRecordWrite || s->m_nRecBufTime > 0))
                s->m_pAviRecordCtrl->WriteVideo(streamId, buffer.get(), length,
                                                reinterpret_cast<const uint8_t*>(&videoHeader), kHeaderLength);
            if (s->m_bRecording && s->m_nBackEnd != 0)
                s->WriteMp4Frame(1, buffer.get(), length, videoHeader);
            s->m_bReceivedVideo = 1;
            failedVideo = 0;
            lastVideoTick = GetTickCount();
        }

        if (s->m_bHasAudio) {
            length = kFrameBufferSize;
            headerLength = kHeaderLength;
            ret = s->m_pRtspPullCtrl->ReadAudioFrame(streamId, streamId, buffer.get(), &length,
                                                     reinterpret_cast<uint8_t*>(&audioHeader), &headerLength);
            if (ret != 0 || length < 1) {
                Sleep(5);
                ++failedAudio;
            } else {
                s->FeedRenders(0, buffer.get(), length, audioHeader);
                const bool aviOn = s->m_bManualRecord || (s->m_bRecording && s->m_nBackEnd == 0);
                if (aviOn && s->m_pAviRecordCtrl && (s->m_bRecordWrite || s->m_nRecBufTime > 0) && s->m_bRecordAudio)
                    s->m_pAviRecordCtrl->WriteAudio(streamId, buffer.get(), length,
                                                    reinterpret_cast<const uint8_t*>(&audioHeader), kHeaderLength);
                if (s->m_bRecording && s->m_nBackEnd != 0)
                    s->WriteMp4Frame(0, buffer.get(), length, audioHeader);
                failedAudio = 0;
            }
        }

        if (GetTickCount() - lastVideoTick > 10000) {
            WriteLog(3,
                     "RTSPDataPollThread Read Frame data failed. streamId=%ld,  ReadVideoFailedCount=%d "
                     ",ReadAudioFailedCount=%d, bHaveAudio=%d",
                     long(streamId), int(failedVideo), int(failedAudio), int(s->m_bHasAudio));
            failedVideo = 0;
            failedAudio = 0;
            lastVideoTick = GetTickCount();
        }
    }

    if (s->m_pRtspPullCtrl)
        s->m_pRtspPullCtrl->UnregisterReader(streamId, streamId);
    WriteLog(6, "RTSPDataPollThread: RtspPullCtrl Unregister reader, StreamId=ReaderId=%ld", long(streamId));
    buffer.reset();
    s->m_bPollFinished = 1;
    WriteLog(6, "RTSPDataPollThread finish.");
}

void CRtspEvents::WriteMp4Frame(int isVideo, const uint8_t* frame, int32_t length, const MediaFrameHeader& header)
{
    std::unique_lock<std::recursive_mutex> g(m_recLock);
    if (!m_bRecording || m_nBackEnd == 0)
        return;
    const bool key = header.keyFrame != 0;
    if (m_bMp4Open && isVideo && key) {
        const bool hevc = IsH265(GetVideoParam().codecName);
        std::vector<uint8_t> sps = FindSps(frame, length, hevc);
        bool rotate = false;
        if (!sps.empty() && !m_Mp4FileSps.empty() && sps != m_Mp4FileSps) {
            // The stream changed its parameters: give their event a moment to
            // arrive so the next file is opened with them (without holding up
            // the scheduler meanwhile).
            const uint32_t fileGen = m_nFileParamGen;
            g.unlock();
            for (int waited = 0; m_nParamGen == fileGen && waited < kParamWaitMs && m_bPollRun; waited += 5)
                Sleep(5);
            g.lock();
            if (!m_bRecording || m_nBackEnd == 0)
                return;
            rotate = m_bMp4Open && m_nFileParamGen == fileGen;
        } else if (m_bMp4RotatePending && (!m_bMp4PendingVideo || m_Mp4FileSps.empty() || sps.empty())) {
            rotate = true;
        }
        if (rotate) {
            WriteLog(6, "CRtspEvents: media parameters changed, next MP4 file. StreamId=%ld", long(m_nStreamId));
            CloseRecordFileLocked();
        }
    }
    if (m_bMp4Open && m_nSecondsPerFile > 0 &&
        GetTickCount() - m_dwFileStartTime >= uint32_t(m_nSecondsPerFile) * 1000u)
        CloseRecordFileLocked();
    if (!m_bMp4Open) {
        // Reopen (after a rotation, or a failed open) with the stored recording
        // settings; after a failure, again at once when new parameters came,
        // else once a second.
        const uint32_t now = GetTickCount();
        if (!m_bMp4RetryNow && m_bMp4OpenFailed && now - m_dwLastOpenTry < 1000)
            return;
        m_bMp4RetryNow = 0;
        m_dwLastOpenTry = now;
        std::string folder = m_szRecordFolder;
        StartRecordLocked(m_nStreamId, m_nTimeLimit, m_nSecondsPerFile, folder.c_str(), m_nBackEnd, m_nRecBufTime);
        m_bMp4OpenFailed = !m_bMp4Open;
        if (!m_bMp4Open)
            return;
    }
    if (isVideo && key && m_Mp4FileSps.empty())
        m_Mp4FileSps = FindSps(frame, length, IsH265(GetVideoParam().codecName));
    m_pMP4Writer->WriteOneFrame(isVideo, frame, length, static_cast<int64_t>(header.timeStamp), header.keyFrame,
                                isVideo ? header.renderOffsetUs : 0);
}

// --- recording ----------------------------------------------------------------------------------

void CRtspEvents::SetRecordAudio(int32_t flag)
{
    m_bRecordAudio = flag;
    m_bRecordWrite = 1;
}

int32_t CRtspEvents::MakeRecordFileName(const char* folder, char* out, size_t outSize)
{
    if (!folder || !out || outSize == 0)
        return -1;
    std::string sysDir = qelm::NormalizePath(folder);
    if (!sysDir.empty() && sysDir.back() != '/')
        sysDir += "/";
    const std::tm tm = qelm::LocalNow();
    const bool withAudio = m_bRecordAudio && m_bHasAudio;
    char base[32];
    snprintf(base, sizeof base, "%02d%02d%02d-%s", tm.tm_hour, tm.tm_min, tm.tm_sec, withAudio ? "av" : "vv");
    const int kind = 2 - m_nStreamType;
    for (int n = 1; n < 1000; ++n) {
        char name[64];
        if (n == 1)
            snprintf(name, sizeof name, "%s-%d.mp4", base, kind);
        else
            snprintf(name, sizeof name, "%s_%d-%d.mp4", base, n, kind);
        if (FileExists(sysDir + name) || FileExists(sysDir + name + ".tmp"))
            continue;
        const std::string full = sysDir + name + ".tmp";
        if (full.size() + 1 > outSize)
            return -1;
        memcpy(out, full.c_str(), full.size() + 1);
        return 0;
    }
    return -1;
}

int32_t CRtspEvents::StartRecord(int32_t streamId, int32_t timeLimit, int32_t secondsPerFile, const char* folder,
                                 int32_t backEnd, int32_t preRecSeconds)
{
    std::lock_guard<std::recursive_mutex> g(m_recLock);
    return StartRecordLocked(streamId, timeLimit, secondsPerFile, folder, backEnd, preRecSeconds);
}

int32_t CRtspEvents::StartRecordLocked(int32_t streamId, int32_t timeLimit, int32_t secondsPerFile,
                                       const char* folder, int32_t backEnd, int32_t preRecSeconds)
{
    m_nBackEnd = backEnd;
    m_nTimeLimit = timeLimit;
    m_nRecBufTime = preRecSeconds;
    m_nSecondsPerFile = secondsPerFile;
    CopyText(m_szRecordFolder, sizeof m_szRecordFolder, folder);
    VideoParam video;
    AudioParam audio;
    uint32_t gen;
    {
        std::lock_guard<std::mutex> pg(m_paramLock);
        video = m_VideoParam;
        audio = m_AudioParam;
        gen = m_nParamGen;
    }

    if (backEnd == 0) {
        if (!m_pAviRecordCtrl)
            return 0;
        m_pAviRecordCtrl->BeginStream(m_nStreamId);
        if (video.frameRate == 0)
            video.frameRate = 25;
        m_pAviRecordCtrl->SetVideoParam(m_nStreamId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        WriteLog(6, "CRtspEvents::StartRecord(): AviRecord set video param and begin stream, streamid=%ld",
                 long(m_nStreamId));
        if (m_bRecordAudio && m_bHasAudio) {
            m_pAviRecordCtrl->SetAudioParam(m_nStreamId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
            WriteLog(6, "CRtspEvents::StartRecord(): AviRecord set audio param and begin stream, streamid=%ld",
                     long(m_nStreamId));
        }
        const int32_t fileId = m_pAviRecordCtrl->BeginRecordFile(streamId, m_szRecordFolder, preRecSeconds,
                                                                 timeLimit, secondsPerFile, 2 - m_nStreamType);
        if (fileId <= 0)
            return 0;
        m_nRecordFileId = fileId;
        m_bRecording = 1;
        SetRecordMarkOnMain(1);
        return fileId;
    }

    // MP4 writer.
    // A failure leaves the recording state as it was: a running recording
    // (rotation) stays on and the thread tries again; a new one is not started.
    m_bMp4Open = 0;
    if (MakeRecordFileName(m_szRecordFolder, m_szMp4FileName, sizeof m_szMp4FileName) != 0) {
        m_szMp4FileName[0] = 0;
        return 0;
    }
    if (video.frameRate <= 0)
        video.frameRate = 25;
    const bool haveVideo = video.codecName[0] && video.width > 0 && video.height > 0;
    const bool haveAudio = m_bHasAudio && m_bRecordAudio && audio.codecName[0];
    const int result = m_pMP4Writer->OpenWrite(m_szMp4FileName, haveVideo ? &video : nullptr,
                                               haveAudio ? &audio : nullptr);
    if (result != 0)
        return 0;
    m_bMp4Open = 1;
    m_bMp4OpenFailed = 0;
    m_bRecording = 1;
    m_dwFileStartTime = GetTickCount();
    m_nFileParamGen = gen;
    m_Mp4FileSps.clear();
    m_bMp4RotatePending = 0;
    m_bMp4PendingVideo = 0;
    const int32_t fileId = static_cast<int32_t>(reinterpret_cast<uintptr_t>(m_pMP4Writer) & 0x7FFFFFFF);
    m_nRecordFileId = fileId ? fileId : 1;
    SetRecordMarkOnMain(1);
    return m_nRecordFileId;
}

int32_t CRtspEvents::CloseRecordFile()
{
    std::lock_guard<std::recursive_mutex> g(m_recLock);
    return CloseRecordFileLocked();
}

int32_t CRtspEvents::CloseRecordFileLocked()
{
    if (m_nBackEnd != 0) {
        m_pMP4Writer->CloseFile();
        m_bMp4Open = 0;
    } else if (m_pAviRecordCtrl) {
        m_pAviRecordCtrl->StopRecordFile(m_nRecordFileId);
    }
    return 0;
}

int32_t CRtspEvents::StopRecord()
{
    std::lock_guard<std::recursive_mutex> g(m_recLock);
    m_bRecordWrite = 0;
    m_bRecordAudio = 0;
    m_bRecording = 0;
    if (m_nBackEnd != 0) {
        m_pMP4Writer->CloseFile();
        m_bMp4Open = 0;
    } else if (m_pAviRecordCtrl) {
        m_pAviRecordCtrl->StopRecordFile(m_nRecordFileId);
        if (m_nRecBufTime == 0)
            m_pAviRecordCtrl->EndStream(m_nStreamId);
    }
    m_nRecordFileId = 0;
    if (!m_bManualRecord)
        SetRecordMarkOnMain(0);
    return 0;
}

int32_t CRtspEvents::SetPreRecTime(int32_t seconds, int32_t recordAudio)
{
    WriteLog(6, "CRtspEvents::SetPreRecTime(): m_nRecBufTime=%d", int(seconds));
    m_nRecBufTime = seconds;
    m_bRecordAudio = recordAudio;
    if (m_pAviRecordCtrl && seconds > 0) {
        const int32_t streamId = m_nStreamId;
        const VideoParam video = GetVideoParam();
        const AudioParam audio = GetAudioParam();
        m_pAviRecordCtrl->BeginStream(streamId);
        m_pAviRecordCtrl->SetPreRecord(streamId, "", seconds, 0, 0);
        m_pAviRecordCtrl->SetVideoParam(streamId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        if (m_bRecordAudio && m_bHasAudio)
            m_pAviRecordCtrl->SetAudioParam(streamId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
    }
    return 0;
}

int32_t CRtspEvents::StartManualRecord(const char* folder)
{
    m_nManualFileId = 0;
    if (!m_pAviRecordCtrl)
        return 0;
    SetRecordAudio(1);
    const int32_t streamId = m_nStreamId;
    const VideoParam video = GetVideoParam();
    const AudioParam audio = GetAudioParam();
    m_pAviRecordCtrl->BeginStream(streamId);
    m_pAviRecordCtrl->SetVideoParam(streamId, reinterpret_cast<const uint8_t*>(&video), sizeof video);
    WriteLog(6, "CRtspEvents::StartManualRecord(): AviRecord set video param and begin stream, streamid=%ld",
             long(streamId));
    if (m_bRecordAudio && m_bHasAudio) {
        m_pAviRecordCtrl->SetAudioParam(streamId, reinterpret_cast<const uint8_t*>(&audio), sizeof audio);
        WriteLog(6, "CRtspEvents::StartManualRecord(): AviRecord set audio param and begin stream, streamid=%ld",
                 long(streamId));
    }
    const int32_t result = m_pAviRecordCtrl->BeginRecordFile(streamId, folder, 0, 2592000, 1800, 2 - m_nStreamType);
    if (result <= 0)
        return result;
    m_bManualRecord = 1;
    m_nManualFileId = result;
    SetRecordMarkOnMain(1);
    return result;
}

int32_t CRtspEvents::StopManualRecord()
{
    if (!m_pAviRecordCtrl || m_nManualFileId <= 0 || !m_bManualRecord)
        return 0;
    m_pAviRecordCtrl->StopRecordFile(m_nManualFileId);
    m_pAviRecordCtrl->EndStream(m_nStreamId);
    m_bManualRecord = 0;
    m_bRecordWrite = 0;
    m_bRecordAudio = 0;
    if (!m_bRecording)
        SetRecordMarkOnMain(0);
    return 0;
}

void CRtspEvents::DeleteStream()
{
    const int32_t streamId = m_nStreamId;
    WriteLog(6, "CRtspEvents: Stop all thread, RtspPullCtrl delete StreamId=%ld", long(streamId));
    if (m_pAviRecordCtrl)
        m_pAviRecordCtrl->EndStream(streamId);
    if (m_pRtspPullCtrl && streamId)
        m_pRtspPullCtrl->DelStream(streamId);
    {
        std::lock_guard<std::mutex> g(m_paramLock);
        m_VideoParam = VideoParam{};
        m_AudioParam = AudioParam{};
        m_RawVideoParam = VideoParam{};
    }
    m_nVideoParamLen = 0;
    m_nAudioParamLen = 0;
    m_nStreamId = 0;
    m_nStreamType = -1;
    m_bPollRun = 0;
    m_bRelayFeeding = 0;
    Sleep(5);
    {
        // Held across the join (the thread never takes it), so a second
        // caller on another thread returns only once the thread has ended.
        std::lock_guard<std::mutex> g(m_threadLock);
        m_bPollRun = 0;
        if (m_hRtspPoll.joinable()) {
            m_hRtspPoll.join();
            m_bPollFinished = 1;
        }
    }
    ClearPicturesUnlessKept(false); // after the join: no frame can follow
    m_bHasAudio = 0;
}
