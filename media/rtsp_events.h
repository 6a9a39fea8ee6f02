// CRtspEvents: the per-stream media sink. Receives one stream's events from
// the stream pull control, pulls its frames on a thread of its own and hands
// them to up to two renders, the MP4 or AVI recorder and a relay session.
#pragma once

#include "controls/avi_record.h"
#include "controls/media_params.h"
#include "controls/stream_pull.h"
#include "media/avi_record_events.h"
#include "media/control_wrappers.h"
#include "media/sink_targets.h"
#include "platform/sync.h"
#include "platform/wnd.h"

#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CMP4Writer;
class CRtspEvents;

// A render window of a sink. It tells its sink before the player inside it
// goes away, so that a pane destroyed with its children never leaves the
// frame-pull thread feeding a dead player.
class CSinkRenderWnd : public CStreamPlayerCtrl {
public:
    ~CSinkRenderWnd() override;
    std::atomic<CRtspEvents*> m_pSink{nullptr};   // null once detached
};

class CRtspEvents : public IStreamPullEvents {
public:
    // The sink advises itself to the driver's control here and unadvises in
    // the destructor, so no event can reach a deleted sink. UI thread.
    CRtspEvents(CWnd* pOwnerPane, CRtspPullCtrl* pRtspPullCtrl);
    ~CRtspEvents() override;
    CRtspEvents(const CRtspEvents&) = delete;
    CRtspEvents& operator=(const CRtspEvents&) = delete;

    // --- events of the stream pull control (UI thread) ---
    void OnStreamStatus(int32_t streamId, int32_t status, const char* text, const void* data) override;
    void MediaRecv(int32_t streamId, int32_t mediaType, const StreamMediaParam* param, int32_t unused) override;
    void OnVideoData(int32_t streamId, const uint8_t* data, int32_t length, const MediaFrameHeader* header,
                     int32_t headerLength) override;
    void OnAudioData(int32_t streamId, const uint8_t* data, int32_t length, const MediaFrameHeader* header,
                     int32_t headerLength) override;

    // --- operations of panes, the scheduler, the relay bridge (caller's thread) ---
    void SetStreamInfo(int32_t streamId, int32_t streamType, int32_t preRecSeconds, int32_t recordAudio);
    void SetStreamProfile(const StreamProfile* profile);
    void SetMediaRenderMod(CWnd* pane, int32_t flag);
    void DisplayMediaStream(CWnd* pane, int32_t reset);
    void CreateAlarmActPlayer(CWnd* window);
    // Any thread: off the UI thread the render is detached at once and its
    // window torn down later on the UI thread.
    void CloseAlarmActPlayer();
    void CloseAllDecoder();
    void SetZoomMode(int32_t mode);
    void SetFullDisplay(int32_t flag);
    void SetShowLastFrame();
    void ResizeRenders();
    int32_t OpenSound();
    int32_t CloseSound();
    int32_t OpenAlarmPaneSound();
    int32_t CloseAlarmPaneSound();
    int32_t OpenMapPaneSound();
    int32_t CloseMapPaneSound();
    int32_t SnapShot(const char* path);
    void VideoFlip();
    void ReleaseWithoutWait();
    int32_t SetSpeakStatus(int32_t state);
    void SetBroadcastStatus(int32_t state);
    int32_t GetBroadcastStatus() const { return m_nBroadcastState; }
    void SetTalkMarkTarget(int32_t target) { m_nTalkMarkTarget = target; }
    // The device type of the record whose stream this is, set by the pane.
    void SetDeviceType(int32_t type) { m_nDevType = type; }
    int32_t GetDeviceType() const { return m_nDevType; }

    // --- relay hook (relay bridge, UI thread) ---
    // Takes ownership of the session (replacing and closing an older one) and
    // sets relay requested and relay feeding.
    void InstallLiveRelay(LiveRelayFeed* session);
    void SetRelayRequested(int32_t on) { m_bRelayRequested = on; }
    int32_t IsRelayRequested() const { return m_bRelayRequested; }
    int32_t IsRelayFeeding() const { return m_bRelayFeeding; }
    void CloseLiveRelay();

    // --- recording and the end of a stream ---
    int32_t StartRecord(int32_t streamId, int32_t timeLimit, int32_t secondsPerFile, const char* folder,
                        int32_t backEnd, int32_t preRecSeconds);
    int32_t StopRecord();
    int32_t CloseRecordFile();
    void SetRecordAudio(int32_t flag);
    int32_t SetPreRecTime(int32_t seconds, int32_t recordAudio);
    int32_t StartManualRecord(const char* folder);
    int32_t StopManualRecord();
    // Closes the stream and joins the frame-pull thread. Never call it while
    // holding the sink's lock.
    void DeleteStream();
    // The next free MP4 record file name in folder ("HHMMSS-av-1.mp4.tmp",
    // numbered "HHMMSS-av_2-1.mp4.tmp" when taken). -1 for a null argument or
    // a name that does not fit out.
    int32_t MakeRecordFileName(const char* folder, char* out, size_t outSize);

    // --- state read by other parts ---
    int32_t GetStreamId() const { return m_nStreamId; }
    int32_t GetStreamType() const { return m_nStreamType; }
    int32_t IsRecording() const { return m_bRecording; }
    int32_t IsManualRecording() const { return m_bManualRecord; }
    int32_t IsRenderMedia() const { return m_bRenderMedia; }
    int32_t HasAudio() const { return m_bHasAudio; }
    int32_t IsPollFinished() const { return m_bPollFinished; }
    int32_t GetReceivedVideo() const { return m_bReceivedVideo; }
    void ClearReceivedVideo() { m_bReceivedVideo = 0; }
    void SetUseProfileSize(int32_t on) { m_bUseProfileSize = on; }
    int32_t GetRecordFileId() const { return m_nRecordFileId; }
    int32_t GetAdviseCookie() const { return m_nAdviseCookie; }
    CRtspPullCtrl* GetPullCtrl() const { return m_pRtspPullCtrl; }
    const char* GetDevId() const { return m_szDevId; }
    VideoParam GetVideoParam() const;
    AudioParam GetAudioParam() const;
    int32_t GetVideoParamLength() const { return m_nVideoParamLen; }
    int32_t GetAudioParamLength() const { return m_nAudioParamLen; }
    // Path of the MP4 file being written ("" when none), with ".tmp".
    std::string GetMp4FileName() const;
    // The render windows (UI thread; null when none).
    CStreamPlayerCtrl* GetMainRender();
    CStreamPlayerCtrl* GetAlarmRender();
    int32_t GetMainRenderId() const { return m_nMainRenderId; }
    int32_t GetAlarmRenderId() const { return m_nAlarmRenderId; }

    // Keeps the sink alive across a call made outside g_csDevList (the
    // recording scheduler's slow work): the destructor waits for every use
    // to be released. Take it while the record still holds the sink.
    void AddUse();
    void ReleaseUse();

    // Forgets the last (stream id, status) pair that the status filter
    // shares between all sinks. UI thread; for tests.
    static void ResetStatusFilter();

private:
    friend class CSinkRenderWnd;

    static void RTSPDataPollThread(CRtspEvents* pRtspEvent);
    // Starts the frame-pull thread unless one runs or the stream is gone.
    bool StartPollThread();
    unsigned PollHandle();
    void CreatMediaRenderCtrl();
    int32_t SetupMpeg4Decoder();
    int32_t SetupG711Decoder();
    CSinkRenderWnd* NewRender(CWnd* parent, const CRect& rect);
    // Detaches one render under the lock and tears its window down (now on
    // the UI thread, else queued to it).
    // Detaches the render and its id under the lock and tears the window down
    // on the UI thread; false when there was none.
    bool CloseRender(QPointer<CStreamPlayerCtrl>& render, std::atomic<int32_t>& renderId);
    void OnRenderGone(CSinkRenderWnd* wnd);
    // Without ShowLastFrame, drops the pictures of both renders when the
    // stream stops or is lost; setupAgain readies the decoders for its return.
    void ClearPicturesUnlessKept(bool setupAgain);
    void SetRecordMarkOnMain(int32_t on);
    int32_t SoundOn(CStreamPlayerCtrl* render, int32_t renderId, int32_t on);
    // MP4 part of the thread's frame hand-off: rotation, then the write.
    void WriteMp4Frame(int isVideo, const uint8_t* frame, int32_t length, const MediaFrameHeader& header);
    int32_t StartRecordLocked(int32_t streamId, int32_t timeLimit, int32_t secondsPerFile, const char* folder,
                              int32_t backEnd, int32_t preRecSeconds);
    int32_t CloseRecordFileLocked();
    void FeedRenders(int kind, const uint8_t* frame, int32_t length, const MediaFrameHeader& header);

    // Panes and renders.
    QPointer<CWnd> m_pOwnerPane;
    QPointer<CWnd> m_pAlarmPane;
    CRtspPullCtrl* m_pRtspPullCtrl = nullptr;
    CAviRecordCtrl* m_pAviRecordCtrl = nullptr;
    CAviRecordEvents* m_pAviRecordEvents = nullptr;
    QPointer<CStreamPlayerCtrl> m_pMainRender;    // under m_cs
    QPointer<CStreamPlayerCtrl> m_pAlarmRender;   // under m_cs
    LiveRelayFeed* m_pRelaySession = nullptr;     // under m_cs
    std::atomic<int32_t> m_bRelayFeeding{0};
    std::atomic<int32_t> m_bRelayRequested{0};

    // Parameters: written by the UI thread, copied by the thread and the
    // scheduler, always under m_paramLock.
    mutable std::mutex m_paramLock;
    VideoParam m_VideoParam{};
    AudioParam m_AudioParam{};
    VideoParam m_RawVideoParam{};   // the block as received, for change detection
    std::atomic<uint32_t> m_nParamGen{0};   // bumped by every accepted change

    // Recording; the MP4 part under m_recLock, shared with the thread.
    CMP4Writer* m_pMP4Writer = nullptr;
    mutable std::recursive_mutex m_recLock;
    std::atomic<int32_t> m_nBackEnd{0};
    uint32_t m_dwFileStartTime = 0;
    char m_szMp4FileName[1100] = {};
    char m_szRecordFolder[1024] = {};
    int32_t m_bMp4Open = 0;
    uint32_t m_nFileParamGen = 0;          // parameter generation the open MP4 file was made with
    std::vector<uint8_t> m_Mp4FileSps;     // first in-band SPS written to the open MP4 file
    int32_t m_bMp4RotatePending = 0;       // parameters changed since the file was opened
    int32_t m_bMp4PendingVideo = 0;        // ... and the video part changed
    int32_t m_bMp4OpenFailed = 0;          // the last open failed; retried by the thread
    uint32_t m_dwLastOpenTry = 0;
    std::atomic<int32_t> m_bMp4RetryNow{0};
    int32_t m_nTimeLimit = 0;
    int32_t m_nSecondsPerFile = 0;
    std::atomic<int32_t> m_nRecordFileId{0};

    CRect m_rcMainRender;
    CRect m_rcAlarmRender;
    std::atomic<int32_t> m_bRenderMedia{0};
    std::atomic<int32_t> m_bPollRun{0};
    std::atomic<int32_t> m_bHasAudio{0};
    std::atomic<int32_t> m_bRecording{0};
    std::atomic<int32_t> m_bPollFinished{1};
    std::atomic<int32_t> m_bManualRecord{0};
    std::thread m_hRtspPoll;                 // start and join under m_threadLock
    mutable std::mutex m_threadLock;
    std::atomic<int32_t> m_bRecordAudio{0};
    std::atomic<int32_t> m_bRecordWrite{0};
    std::atomic<int32_t> m_nRecBufTime{0};
    std::atomic<int32_t> m_nStreamType{-1};
    int32_t m_nZoomMode = 0;
    int32_t m_nTalkState = 0;
    int32_t m_nBroadcastState = 0;
    std::atomic<int32_t> m_nAlarmRenderId{0};
    std::atomic<int32_t> m_nMainRenderId{0};
    std::atomic<int32_t> m_nStreamId{0};
    std::atomic<int32_t> m_nVideoParamLen{0};
    std::atomic<int32_t> m_nAudioParamLen{0};
    int32_t m_nTalkMarkTarget = 2;
    std::atomic<int32_t> m_nDevType{0};
    int32_t m_nManualFileId = 0;
    char m_szDevId[390] = {};
    std::atomic<int32_t> m_bReceivedVideo{0};
    int32_t m_bUseProfileSize = 0;
    StreamProfile m_StreamProfile{};
    CRITICAL_SECTION m_cs;   // the renders and the relay session, against the thread

    int32_t m_nAdviseCookie = 0;

    std::mutex m_useLock;
    std::condition_variable m_useCv;
    int32_t m_nUses = 0;   // under m_useLock
};
