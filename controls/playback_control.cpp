// The playback control: plays record files read with libavformat, or a stream
// its owner feeds, on a worker thread paced by the frames' times; the UI
// thread paints the latest picture and raises the events.
#include "controls/playback_control.h"

#include "controls/codec_names.h"
#include "controls/journal.h"
#include "controls/media_params.h"
#include "controls/sound_output.h"
#include "platform/logsink.h"
#include "platform/regular_file.h"
#include "platform/types.h"

#include <QDateTime>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPainterPath>
#include <QRegion>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

using Clock = std::chrono::steady_clock;

namespace qelm {

// What the UI thread and the worker share.
struct PlayBackShared {
    ~PlayBackShared()
    {
        av_frame_free(&last);
        avformat_close_input(&fmt);
    }

    std::mutex m;
    std::condition_variable cv;

    // UI thread to worker.
    bool quit = false;
    bool paused = false;
    int stepRequests = 0;
    int32_t rate = 1;            // 1 normal, >1 factor, <-1 divisor
    bool rateChanged = false;
    int64_t seekMs = -1;         // pending seek in a file
    int32_t posBase = 0;         // stream: seconds the owner set for the next frame
    bool rebase = true;
    QSize view;                  // picture area
    bool fill = false;
    bool zoomed = false;

    // Worker to UI thread.
    QImage picture;
    AVFrame* last = nullptr;     // the frame shown, at the video size, for snapshots
    int64_t shownMs = -1;
    int64_t frames = 0;
    int64_t audioFrames = 0;
    bool repaintPosted = false;

    // The file, handed to the worker.
    AVFormatContext* fmt = nullptr;
    int videoIndex = -1;
    int audioIndex = -1;

    // Sound, decoded by the worker while on and handed to the output by the
    // UI thread once the pictures reach its time.
    struct Sound {
        int64_t ms = 0;
        int rate = 0;
        int channels = 0;
        QByteArray pcm;
    };
    std::deque<Sound> sound;
    qsizetype soundBytes = 0;
    bool soundOn = false;
    bool videoClock = true;      // false: a stream without video, its sound goes as it comes
    int64_t soundFrom = INT64_MIN;  // sound before the frame a step showed is not played

    // The fed stream.
    struct Fed {
        std::vector<uint8_t> data;
        bool video = false;
        bool key = false;
        double ms = 0;
    };
    std::deque<Fed> queue;
    size_t queueBytes = 0;
    size_t queuedVideo = 0;
    bool needKey = true;         // after an overflow, until the next key frame
    bool input = true;           // EnableStreamInput
    bool sourceHeld = false;     // the owner was asked to pause the source
    bool holdPosted = false;
    std::function<void(int note, int64_t value)> notify;  // set before the worker starts
    VideoParam video{};
    AudioParam audio{};
    bool hasVideo = false;
    bool hasAudio = false;
};

} // namespace qelm

using qelm::PlayBackShared;

namespace {

using qelm::AudioCodecId;
using qelm::FixedText;
using qelm::VideoCodecId;

constexpr int kBarHeight = 28;
constexpr int kButtonWidth = 30;
constexpr size_t kMaxQueueFrames = 2048;
constexpr size_t kMaxQueueBytes = 64u << 20;
// Past this many queued frames (about 13 s of 25 fps video with G.711) a
// stream is shown without waiting, to catch up.
constexpr size_t kCatchUpFrames = 1024;

// Worker- and feeder-side notifications.
enum Note : int { kNoteRepaint = 0, kNoteSecond = 1, kNoteEnded = 2, kNoteHold = 3 };
using Notify = std::function<void(int note, int64_t value)>;

// A paused stream asks its source to pause once this many frames wait, and
// to run again when a step leaves fewer than kStepRefill.
constexpr size_t kHoldFrames = 50;
constexpr size_t kStepRefill = 3;
// Sound is handed to the output this far ahead of the picture shown, to
// cover the time between two pictures.
constexpr int64_t kSoundLeadMs = 120;
// Decoded sound waiting for its pictures, at most (seconds).
constexpr int kSoundQueueSeconds = 4;

double RateFactor(int32_t rate) { return rate >= 1 ? double(rate) : 1.0 / double(-rate); }



// A decoder for a file's stream, or for a fed stream's video parameters.
AVCodecContext* OpenDecoder(const AVCodecParameters* par, AVCodecID id, const VideoParam* v)
{
    const AVCodec* codec = avcodec_find_decoder(par ? par->codec_id : id);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx)
        return nullptr;
    bool ok = true;
    if (par) {
        ok = avcodec_parameters_to_context(ctx, par) >= 0;
        // One thread keeps up with up to 1080p at twice the rate and costs the
        // least CPU in all; larger pictures get every core.
        ctx->thread_count = int64_t(par->width) * par->height <= 1920 * 1088 ? 1 : 0;
    } else if (v) {
        const size_t n = size_t(std::clamp<int>(v->configLength, 0, int(sizeof v->config)));
        if (n > 0) {
            ctx->extradata = static_cast<uint8_t*>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
            ok = ctx->extradata != nullptr;
            if (ok) {
                memcpy(ctx->extradata, v->config, n);
                ctx->extradata_size = int(n);
            }
        }
        ctx->thread_count = 1;  // stream frames come one by one: keep latency low
    }
    if (!ok || avcodec_open2(ctx, codec, nullptr) < 0)
        avcodec_free_context(&ctx);
    return ctx;
}

void ClearSound(PlayBackShared& sh)
{
    sh.sound.clear();
    sh.soundBytes = 0;
    sh.soundFrom = INT64_MIN;
}

// Sound of frames that steps passed over; a clock that jumped back by more
// than kStepSoundWindowMs is another clock, whose sound plays.
constexpr int64_t kStepSoundWindowMs = 10'000;
bool SteppedOver(const PlayBackShared& sh, int64_t ms)
{
    return sh.soundFrom != INT64_MIN && ms < sh.soundFrom && ms > sh.soundFrom - kStepSoundWindowMs;
}

// A step showed the frame at ms: the sound before it is dropped, as it is
// never played while stepping.
void StepSoundTo(PlayBackShared& sh, int64_t ms)
{
    sh.soundFrom = ms;
    while (!sh.sound.empty() && SteppedOver(sh, sh.sound.front().ms)) {
        sh.soundBytes -= sh.sound.front().pcm.size();
        sh.sound.pop_front();
    }
}

// Size of the picture the worker makes for the view.
QSize OutputSize(const PlayBackShared& sh, int w, int h)
{
    if (sh.zoomed || sh.view.isEmpty())
        return {w, h};
    if (sh.fill)
        return sh.view.boundedTo(QSize(qelm::kMaxPictureSide, qelm::kMaxPictureSide));
    return QSize(w, h).scaled(sh.view, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// Pacing and presentation of decoded frames, shared by files and streams.
// Converts a decoded audio frame and queues it for the output while sound is
// on; the oldest sound goes when the pictures do not move on.
void QueueSound(PlayBackShared& sh, qelm::PcmConverter& converter, AVFrame* f, int64_t ms)
{
    {
        std::lock_guard lk(sh.m);
        if (!sh.soundOn)
            return;
    }
    PlayBackShared::Sound chunk;
    if (!converter.Convert(f, chunk.pcm))
        return;
    chunk.ms = ms;
    chunk.rate = f->sample_rate;
    chunk.channels = f->ch_layout.nb_channels;
    const qsizetype limit = qsizetype(chunk.rate) * chunk.channels * 2 * kSoundQueueSeconds;
    std::lock_guard lk(sh.m);
    if (!sh.soundOn || sh.seekMs >= 0 || SteppedOver(sh, ms))
        return;  // off, of the place a seek leaves, or stepped over
    sh.soundBytes += chunk.pcm.size();
    sh.sound.push_back(std::move(chunk));
    while (sh.soundBytes > limit && !sh.sound.empty()) {
        sh.soundBytes -= sh.sound.front().pcm.size();
        sh.sound.pop_front();
    }
}

class Presenter {
public:
    enum Result { kShown, kDropped, kQuit };

    Presenter(PlayBackShared& sh, Notify notify, bool stream) : m_sh(sh), m_notify(std::move(notify)), m_stream(stream) {}

    // After a seek: the first frame at or after ms is shown even when paused.
    void SkipUntil(int64_t ms)
    {
        m_skipUntil = ms;
        m_anchorMs = -1;
        m_lastSecond = -1;
    }
    bool KeyOnly() const { return m_rate >= 4; }
    int32_t Rate() const { return m_rate; }
    // The time a seek skips to, -1 when not skipping.
    int64_t SkipTarget() const { return m_skipUntil; }

    // Waits for the frame's time, then shows it.
    Result Present(AVFrame* f, int64_t t)
    {
        if (m_skipUntil >= 0) {
            if (t < m_skipUntil)
                return kDropped;
            m_skipUntil = -1;
            m_showOnce = true;
        }
        std::unique_lock lk(m_sh.m);
        for (;;) {
            if (m_sh.quit)
                return kQuit;
            if (m_sh.seekMs >= 0)
                return kDropped;
            if (m_sh.rateChanged) {
                m_sh.rateChanged = false;
                const bool wasKeyOnly = KeyOnly();
                m_rate = m_sh.rate;
                m_anchorMs = -1;
                // Leaving key frames only: decode again from here to have
                // every reference picture.
                if (wasKeyOnly && !KeyOnly()) {
                    m_sh.seekMs = t;
                    return kDropped;
                }
            }
            if (m_showOnce) {
                m_showOnce = false;
                break;
            }
            if (m_sh.paused) {
                if (m_sh.stepRequests > 0) {
                    --m_sh.stepRequests;
                    StepSoundTo(m_sh, t);
                    break;
                }
                m_anchorMs = -1;
                m_sh.cv.wait(lk);
                continue;
            }
            const auto now = Clock::now();
            const bool catchUp = m_stream && m_sh.queue.size() > kCatchUpFrames;
            if (m_anchorMs < 0 || catchUp || t < m_anchorMs) {
                m_anchorMs = t;
                m_anchorWall = now;
                break;
            }
            const auto due = m_anchorWall + std::chrono::microseconds(int64_t(double(t - m_anchorMs) * 1000.0 /
                                                                              RateFactor(m_stream ? 1 : m_rate)));
            // Far behind (a busy machine, a stalled source) or a jump in the
            // stream's clock: start counting again from this frame.
            if (now > due + std::chrono::seconds(1) || due > now + std::chrono::seconds(3)) {
                m_anchorMs = t;
                m_anchorWall = now;
                break;
            }
            if (now >= due)
                break;
            m_sh.cv.wait_until(lk, due);
        }
        const QSize out = OutputSize(m_sh, f->width, f->height);
        lk.unlock();
        QImage img = qelm::FrameToImage(m_scaler, f, out);
        lk.lock();
        if (!img.isNull())
            m_sh.picture = std::move(img);
        if (!m_sh.last)
            m_sh.last = av_frame_alloc();
        if (m_sh.last) {
            av_frame_unref(m_sh.last);
            if (av_frame_ref(m_sh.last, f) < 0)
                av_frame_unref(m_sh.last);
        }
        m_sh.shownMs = t;
        ++m_sh.frames;
        int64_t second = t / 1000;
        if (m_stream) {
            if (m_sh.rebase) {
                m_sh.rebase = false;
                m_baseMs = t;
                m_lastSecond = -1;
            }
            second = m_sh.posBase + (t - m_baseMs) / 1000;
        }
        const bool repaint = !m_sh.repaintPosted;
        m_sh.repaintPosted = true;
        lk.unlock();
        if (repaint)
            m_notify(kNoteRepaint, 0);
        if (second != m_lastSecond) {
            m_lastSecond = second;
            m_notify(kNoteSecond, second);
        }
        return kShown;
    }

private:
    PlayBackShared& m_sh;
    Notify m_notify;
    bool m_stream;
    qelm::PictureScaler m_scaler;
    int32_t m_rate = 1;
    int64_t m_skipUntil = -1;
    bool m_showOnce = false;
    int64_t m_anchorMs = -1;
    Clock::time_point m_anchorWall;
    int64_t m_baseMs = 0;
    int64_t m_lastSecond = -1;
};

// Sends one packet (null drains) and presents every frame; false when the
// worker must stop decoding this packet (quit or a new command).
template <class OnFrame>
bool DecodePacket(AVCodecContext* ctx, const AVPacket* pkt, AVFrame* f, OnFrame onFrame)
{
    const int rc = avcodec_send_packet(ctx, pkt);
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
        return true;  // a damaged packet: go on with the next one
    while (avcodec_receive_frame(ctx, f) >= 0) {
        const bool go = onFrame(f);
        av_frame_unref(f);
        if (!go)
            return false;
    }
    return true;
}

void RunFile(std::shared_ptr<PlayBackShared> shared, Notify notify)
{
    PlayBackShared& sh = *shared;
    AVFormatContext* fmt = sh.fmt;
    AVStream* vs = fmt->streams[sh.videoIndex];
    AVCodecContext* vdec = OpenDecoder(vs->codecpar, AV_CODEC_ID_NONE, nullptr);
    AVStream* as = sh.audioIndex >= 0 ? fmt->streams[sh.audioIndex] : nullptr;
    AVCodecContext* adec = as ? OpenDecoder(as->codecpar, AV_CODEC_ID_NONE, nullptr) : nullptr;
    const int64_t start = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0;
    const int64_t startMs = av_rescale_q(start, vs->time_base, AVRational{1, 1000});
    // Sound on the pictures' clock: milliseconds from the video's start.
    auto audioMs = [&](const AVFrame* f) {
        const int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        return pts == AV_NOPTS_VALUE ? int64_t(-1) : av_rescale_q(pts, as->time_base, AVRational{1, 1000}) - startMs;
    };
    qelm::PcmConverter converter;
    auto toMs = [&](const AVFrame* f) {
        int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        if (pts == AV_NOPTS_VALUE)
            pts = start;
        return av_rescale_q(pts - start, vs->time_base, AVRational{1, 1000});
    };
    Presenter presenter(sh, notify, false);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ended = false;
    bool quit = !vdec || !pkt || !frame;
    if (!vdec)
        qelm::PlatformLog(3, "PlayBack: no decoder for the file's video");
    auto show = [&](AVFrame* f) {
        const Presenter::Result r = presenter.Present(f, toMs(f));
        if (r == Presenter::kQuit)
            quit = true;
        return r != Presenter::kQuit && r != Presenter::kDropped;
    };
    while (!quit) {
        int64_t seek = -1;
        {
            std::unique_lock lk(sh.m);
            if (ended)
                sh.cv.wait(lk, [&] { return sh.quit || sh.seekMs >= 0; });
            if (sh.quit)
                break;
            std::swap(seek, sh.seekMs);
        }
        if (seek >= 0) {
            const int64_t ts = start + av_rescale_q(seek, AVRational{1, 1000}, vs->time_base);
            if (av_seek_frame(fmt, sh.videoIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
                av_seek_frame(fmt, sh.videoIndex, start, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(vdec);
            if (adec)
                avcodec_flush_buffers(adec);
            {
                std::lock_guard lk(sh.m);
                ClearSound(sh);
            }
            presenter.SkipUntil(seek);
            ended = false;
        }
        const int rc = av_read_frame(fmt, pkt);
        if (rc < 0) {
            DecodePacket(vdec, nullptr, frame, show);
            avcodec_flush_buffers(vdec);
            if (quit)
                break;
            std::unique_lock lk(sh.m);
            if (sh.seekMs >= 0)
                continue;  // a seek came while draining: it wins over the end
            ended = true;
            lk.unlock();
            notify(kNoteEnded, 0);
            continue;
        }
        if (pkt->stream_index == sh.videoIndex) {
            if (!presenter.KeyOnly() || (pkt->flags & AV_PKT_FLAG_KEY))
                DecodePacket(vdec, pkt, frame, show);
        } else if (adec && pkt->stream_index == sh.audioIndex && presenter.Rate() == 1) {
            int n = 0;
            DecodePacket(adec, pkt, frame, [&](AVFrame* f) {
                const int64_t ms = audioMs(f);
                // Sound before a seek's target belongs to pictures that are skipped.
                if (ms >= 0 && ms >= presenter.SkipTarget())
                    QueueSound(sh, converter, f, ms);
                return ++n, true;
            });
            std::lock_guard lk(sh.m);
            sh.audioFrames += n;
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&vdec);
    avcodec_free_context(&adec);
}

void RunStream(std::shared_ptr<PlayBackShared> shared, Notify notify)
{
    PlayBackShared& sh = *shared;
    AVCodecContext* vdec =
        sh.hasVideo ? OpenDecoder(nullptr, VideoCodecId(FixedText(sh.video.codecName, 256)), &sh.video) : nullptr;
    AVCodecContext* adec = sh.hasAudio ? qelm::OpenAudioDecoder(AudioCodecId(FixedText(sh.audio.codecName, 256)),
                                                                sh.audio.sampleRate, sh.audio.channels)
                                       : nullptr;
    qelm::PcmConverter converter;
    Presenter presenter(sh, notify, true);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool quit = !pkt || !frame;
    while (!quit) {
        PlayBackShared::Fed fed;
        {
            std::unique_lock lk(sh.m);
            sh.cv.wait(lk, [&] { return sh.quit || !sh.queue.empty(); });
            if (sh.quit)
                break;
            fed = std::move(sh.queue.front());
            sh.queue.pop_front();
            sh.queueBytes -= fed.data.size();
            sh.queuedVideo -= fed.video ? 1 : 0;
        }
        AVCodecContext* dec = fed.video ? vdec : adec;
        const size_t skip = !fed.video && dec && dec->codec_id == AV_CODEC_ID_AAC
                                ? size_t(qelm::AacPayloadOffset(fed.data.data(), int32_t(fed.data.size())))
                                : 0;
        if (!dec || fed.data.size() <= skip || av_new_packet(pkt, int(fed.data.size() - skip)) < 0)
            continue;
        memcpy(pkt->data, fed.data.data() + skip, fed.data.size() - skip);
        pkt->pts = int64_t(fed.ms);
        if (fed.key)
            pkt->flags |= AV_PKT_FLAG_KEY;
        if (fed.video) {
            DecodePacket(dec, pkt, frame, [&](AVFrame* f) {
                const int64_t t = f->pts != AV_NOPTS_VALUE ? f->pts : int64_t(fed.ms);
                const Presenter::Result r = presenter.Present(f, t);
                quit = r == Presenter::kQuit;
                return !quit;
            });
        } else {
            int n = 0;
            DecodePacket(dec, pkt, frame, [&](AVFrame* f) {
                QueueSound(sh, converter, f, f->pts != AV_NOPTS_VALUE ? f->pts : int64_t(fed.ms));
                return ++n, true;
            });
            std::lock_guard lk(sh.m);
            sh.audioFrames += n;
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&vdec);
    avcodec_free_context(&adec);
}

uint32_t MouseKeys(const QMouseEvent* e)
{
    uint32_t keys = 0;
    if (e->buttons() & Qt::LeftButton)
        keys |= 0x0001;  // MK_LBUTTON
    if (e->buttons() & Qt::RightButton)
        keys |= 0x0002;  // MK_RBUTTON
    if (e->modifiers() & Qt::ShiftModifier)
        keys |= 0x0004;
    if (e->modifiers() & Qt::ControlModifier)
        keys |= 0x0008;
    return keys;
}

QString TimeText(int32_t seconds)
{
    seconds = std::max(0, seconds);
    return QString::asprintf("%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

} // namespace

PlayBackControl::PlayBackControl(QWidget* parent) : QWidget(parent), m_soundOut("PlayBack", this)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, kBarHeight + 8);
    m_soundTimer.setInterval(20);
    connect(&m_soundTimer, &QTimer::timeout, this, [this] { PumpSound(); });
}

PlayBackControl::~PlayBackControl()
{
    m_sink = nullptr;
    m_soundTimer.stop();
    StopWorker();
}

void PlayBackControl::SetEventSink(IPlayBackEvents* sink) { m_sink = sink; }

// --- worker ---------------------------------------------------------------------

void PlayBackControl::StopWorker()
{
    ++m_generation;
    if (m_shared) {
        {
            std::lock_guard lk(m_shared->m);
            m_shared->quit = true;
            m_shared->notify = nullptr;
        }
        m_shared->cv.notify_all();
    }
    if (m_worker.joinable())
        m_worker.join();
}

void PlayBackControl::StartWorker(bool stream)
{
    const uint64_t gen = m_generation;
    Notify notify = [this, gen](int note, int64_t value) {
        // The worker is joined before this object goes, and Qt drops the
        // posted calls of a destroyed object.
        QMetaObject::invokeMethod(
            this,
            [this, gen, note, value] {
                if (gen != m_generation)
                    return;
                if (note == kNoteRepaint) {
                    {
                        std::lock_guard lk(m_shared->m);
                        m_shared->repaintPosted = false;
                    }
                    update(PictureArea());  // the bar changes once a second
                } else if (note == kNoteSecond) {
                    m_shownSecond = int32_t(value);
                    RaiseMessage(kProgress, std::to_string(value).c_str());
                    update();
                } else if (note == kNoteEnded) {
                    if (!m_chain)
                        m_state = kStopped;
                    update();
                    RaiseMessage(kEnded, "");
                } else if (note == kNoteHold) {
                    HoldSource();
                }
            },
            Qt::QueuedConnection);
    };
    PushView();
    {
        std::lock_guard lk(m_shared->m);
        m_shared->notify = notify;
        m_shared->soundOn = m_sound != 0;
    }
    auto shared = m_shared;
    m_worker = std::thread(stream ? RunStream : RunFile, std::move(shared), std::move(notify));
}

void PlayBackControl::SetFeed(std::shared_ptr<PlayBackShared> feed)
{
    std::lock_guard lk(m_feedMutex);
    m_feed = std::move(feed);
}

std::shared_ptr<PlayBackShared> PlayBackControl::Feed() const
{
    std::lock_guard lk(m_feedMutex);
    return m_feed;
}

void PlayBackControl::PushView()
{
    if (!m_shared)
        return;
    {
        std::lock_guard lk(m_shared->m);
        m_shared->view = PictureArea().size();
        m_shared->fill = m_fill;
        m_shared->zoomed = m_zoom.Zoomed();
    }
    m_shared->cv.notify_all();
}

void PlayBackControl::ApplyRate(int32_t rate)
{
    m_rate = rate;
    if (!m_stream && m_shared) {
        {
            std::lock_guard lk(m_shared->m);
            m_shared->rate = rate;
            m_shared->rateChanged = true;
        }
        m_shared->cv.notify_all();
    }
    if (m_state != kClosed && m_state != kStopped && !m_paused)
        m_state = rate > 1 ? kFast : rate < -1 ? kSlow : kPlaying;
    update();
}

// --- events ----------------------------------------------------------------------

void PlayBackControl::RaiseMessage(int32_t type, const char* text)
{
    qelm::Journal::Event("PlayBack::OnMessage", {type, text});
    if (m_sink)
        m_sink->OnPlayBackMessage(type, text);
}

void PlayBackControl::RaiseCommand(int32_t command, int32_t value)
{
    qelm::Journal::Event("PlayBack::OnCommand", {command, value});
    if (m_sink)
        m_sink->OnPlayBackCommand(command, value);
}

void PlayBackControl::RaiseMouse(QMouseEvent* e, uint32_t message)
{
    const QPoint p = e->position().toPoint();
    const auto lParam = int32_t(MAKELPARAM(WORD(std::max(0, p.x())), WORD(std::max(0, p.y()))));
    if (message != WM_MOUSEMOVE)
        qelm::Journal::Event("PlayBack::OnMouse", {message, MouseKeys(e), lParam});
    if (m_sink)
        m_sink->OnPlayBackMouse(int32_t(message), int32_t(MouseKeys(e)), lParam);
}

// --- dispatch methods -----------------------------------------------------------

int32_t PlayBackControl::SetFullScreen(int32_t on)
{
    if (on && !m_fullScreen) {
        m_oldParent = parentWidget();
        m_oldGeometry = geometry();
        m_fullScreen = true;
        setParent(nullptr, Qt::Window);
        showFullScreen();
    } else if (!on && m_fullScreen) {
        m_fullScreen = false;
        setParent(m_oldParent, Qt::Widget);
        setGeometry(m_oldGeometry);
        show();
    }
    PushView();
    qelm::Journal::Call("PlayBack::SetFullScreen", {on}, 0);
    return 0;
}

int32_t PlayBackControl::GetMouseCapture() { return m_sliderDrag || !m_zoom.DragFrame().isNull() ? 1 : 0; }

int32_t PlayBackControl::SetMediaParam(const char* base64, int32_t size, int32_t kind)
{
    int32_t result = -1;
    if (base64 && (kind == kVideoParam || kind == kAudioParam)) {
        const auto decoded =
            QByteArray::fromBase64Encoding(QByteArray(base64), QByteArray::AbortOnBase64DecodingErrors);
        const qsizetype want = kind == kVideoParam ? qsizetype(sizeof(VideoParam)) : qsizetype(sizeof(AudioParam));
        // A record of another size would be read past its end or misread.
        if (decoded && decoded.decoded.size() == want) {
            (kind == kVideoParam ? m_videoRecord : m_audioRecord) = decoded.decoded;
            (kind == kVideoParam ? m_videoParam : m_audioParam) = 1;
            result = 0;
        }
    }
    if (result != 0)
        qelm::PlatformLog(3, "PlayBack: SetMediaParam refused, kind=%d, size=%d", kind, size);
    qelm::Journal::Call("PlayBack::SetMediaParam", {size, kind}, result);
    return result;
}

int32_t PlayBackControl::InputVideoData(const uint8_t* data, int32_t length, const uint8_t* header,
                                        int32_t headerLength)
{
    return QueueFrame(true, data, length, header, headerLength);
}

int32_t PlayBackControl::InputAudioData(const uint8_t* data, int32_t length, const uint8_t* header,
                                        int32_t headerLength)
{
    return QueueFrame(false, data, length, header, headerLength);
}

int32_t PlayBackControl::QueueFrame(bool video, const uint8_t* data, int32_t length, const uint8_t* header,
                                    int32_t headerLength)
{
    MediaFrameHeader h{};
    if (!data || length <= 0 || !header || headerLength < int32_t(sizeof h))
        return -1;
    memcpy(&h, header, sizeof h);
    // The worker and m_shared change only on the UI thread; feeders hold a
    // reference while they queue.
    std::shared_ptr<PlayBackShared> sh = Feed();
    if (!sh)
        return -1;
    {
        std::lock_guard lk(sh->m);
        if (!sh->input)
            return -1;
        if (sh->queue.size() >= kMaxQueueFrames || sh->queueBytes + size_t(length) > kMaxQueueBytes) {
            // Video then waits for a key frame: the frames it would follow are lost.
            if (video)
                sh->needKey = true;
            return -1;
        }
        if (video) {
            if (sh->needKey && !h.keyFrame)
                return -1;
            sh->needKey = false;
            ++sh->queuedVideo;
        }
        sh->queue.push_back({std::vector<uint8_t>(data, data + length), video, video && h.keyFrame != 0, h.timeStamp});
        sh->queueBytes += size_t(length);
        // Paused with frames enough for the steps to come: the source may rest.
        // Posted under the lock: StopWorker withdraws notify before the
        // control can go.
        if (sh->paused && !sh->sourceHeld && !sh->holdPosted && sh->queuedVideo >= kHoldFrames && sh->notify) {
            sh->holdPosted = true;
            sh->notify(kNoteHold, 0);
        }
    }
    sh->cv.notify_all();
    return 0;
}

int32_t PlayBackControl::Play()
{
    StopWorker();
    SetFeed(nullptr);
    m_soundOut.Stop();
    auto sh = std::make_shared<PlayBackShared>();
    if (m_videoParam)
        memcpy(&sh->video, m_videoRecord.constData(), sizeof sh->video);
    if (m_audioParam)
        memcpy(&sh->audio, m_audioRecord.constData(), sizeof sh->audio);
    sh->hasVideo = m_videoParam && sh->video.codecName[0];
    sh->hasAudio = m_audioParam && sh->audio.codecName[0];
    sh->videoClock = sh->hasVideo;
    const bool known = !sh->hasVideo || VideoCodecId(FixedText(sh->video.codecName, 256)) != AV_CODEC_ID_NONE;
    int32_t result = -1;
    if (known) {
        if (m_position >= 0)
            sh->posBase = m_position;
        m_shared = sh;
        m_stream = 1;
        m_rate = 1;
        m_paused = false;
        m_shownSecond = -1;
        m_file.clear();
        m_state = kPlaying;
        StartWorker(true);
        SetFeed(sh);
        result = 0;
    } else {
        qelm::PlatformLog(3, "PlayBack: Play refused, unknown video codec");
    }
    update();
    qelm::Journal::Call("PlayBack::Play", {}, result);
    return result;
}

int32_t PlayBackControl::Stop()
{
    SetFeed(nullptr);
    StopWorker();
    m_shared.reset();
    m_soundOut.Stop();
    m_stream = 0;
    m_state = kStopped;
    m_position = -1;
    m_rate = 1;
    m_paused = false;
    update();
    qelm::Journal::Call("PlayBack::Stop", {}, 0);
    return 0;
}

int32_t PlayBackControl::OpenFile(const char* path)
{
    SetFeed(nullptr);
    StopWorker();
    m_soundOut.Stop();
    m_stream = 0;
    m_position = -1;
    m_rate = 1;
    m_paused = false;
    m_shownSecond = -1;
    int32_t result = -1;
    AVFormatContext* fmt = nullptr;
    // Only a regular file: a pipe in a record's place would hold the reader
    // (and the window that opened it) for ever.
    std::string why;
    const bool regular = path && *path && qelm::IsRegularFile(path, {}, &why);
    if (path && *path && !regular)
        qelm::PlatformLog(3, "PlayBack: %s is not opened: %s", path, why.c_str());
    if (regular && avformat_open_input(&fmt, path, nullptr, nullptr) == 0) {
        int video = -1;
        if (avformat_find_stream_info(fmt, nullptr) >= 0)
            video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0 && avcodec_find_decoder(fmt->streams[video]->codecpar->codec_id)) {
            auto sh = std::make_shared<PlayBackShared>();
            sh->fmt = fmt;
            fmt = nullptr;
            sh->videoIndex = video;
            sh->audioIndex = av_find_best_stream(sh->fmt, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
            if (sh->audioIndex >= 0 && !avcodec_find_decoder(sh->fmt->streams[sh->audioIndex]->codecpar->codec_id))
                sh->audioIndex = -1;
            const int64_t duration = sh->fmt->duration != AV_NOPTS_VALUE ? sh->fmt->duration : 0;
            m_length = int32_t(duration / AV_TIME_BASE);
            m_shared = sh;
            m_file = QString::fromUtf8(path);
            m_state = kPlaying;
            StartWorker(false);
            result = 0;
        }
    }
    avformat_close_input(&fmt);
    if (result != 0) {
        m_shared.reset();
        m_state = kStopped;
        qelm::PlatformLog(3, "PlayBack: OpenFile failed, path=%s", path ? path : "");
    }
    update();
    qelm::Journal::Call("PlayBack::OpenFile", {path}, result);
    return result;
}

int32_t PlayBackControl::GetPlayState() { return m_state; }

int32_t PlayBackControl::SetCapturePath(int32_t flag, const char* folder)
{
    m_captureFolder = QString::fromUtf8(folder ? folder : "");
    qelm::Journal::Call("PlayBack::SetCapturePath", {flag, folder}, 0);
    return 0;
}

int32_t PlayBackControl::SetStretchMode(int32_t on)
{
    m_fill = on != 0;
    PushView();
    update();
    qelm::Journal::Call("PlayBack::SetStretchMode", {on}, 0);
    return 0;
}

void PlayBackControl::SetUiLanguage(int32_t flag)
{
    m_language = flag;
    qelm::Journal::Call("PlayBack::SetUiLanguage", {flag});
}

int32_t PlayBackControl::IsPlaying() { return m_state != kClosed && m_state != kStopped ? 1 : 0; }

int32_t PlayBackControl::EnableStreamInput(int32_t value)
{
    if (m_shared) {
        std::lock_guard lk(m_shared->m);
        m_shared->input = value != 0;
    }
    update();
    qelm::Journal::Call("PlayBack::EnableStreamInput", {value}, 0);
    return 0;
}

int32_t PlayBackControl::Control(int32_t code, int32_t value)
{
    int32_t result = 0;
    switch (code) {
    case kSound: SetSound(value); break;
    case kStreamMode: m_streamMode = value; break;
    case kFileChain: m_chain = value ? 1 : 0; break;
    default: result = -1; break;
    }
    qelm::Journal::Call("PlayBack::Control", {code, value}, result);
    return result;
}

int32_t PlayBackControl::SetPlaySeconds(int32_t which, int32_t seconds)
{
    int32_t result = 0;
    if (which == 0) {
        m_length = std::max(0, seconds);
    } else if (which == 1) {
        m_position = seconds;
        if (m_shared) {
            {
                std::lock_guard lk(m_shared->m);
                if (m_stream) {
                    m_shared->posBase = seconds;
                    m_shared->rebase = true;
                } else {
                    m_shared->seekMs = int64_t(std::max(0, seconds)) * 1000;
                    ClearSound(*m_shared);
                }
            }
            m_shared->cv.notify_all();
            if (!m_stream && m_state == kStopped)
                m_state = m_paused ? kPaused : kPlaying;  // a seek after the end plays again
        }
    } else {
        result = -1;
    }
    update();
    qelm::Journal::Call("PlayBack::SetPlaySeconds", {which, seconds}, result);
    return result;
}

int32_t PlayBackControl::SetMouseMode(int32_t mode)
{
    if (mode < kMousePointer || mode > kMouseMove)
        return -1;
    m_mouseMode = mode;
    m_zoom.SetMode(mode);
    PushView();
    update();
    qelm::Journal::Call("PlayBack::SetMouseMode", {mode}, 0);
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
    SetFeed(nullptr);
    StopWorker();
    m_shared.reset();
    m_soundOut.Stop();
    m_stream = 0;
    m_videoParam = m_audioParam = 0;
    m_videoRecord.clear();
    m_audioRecord.clear();
    m_position = -1;
    m_shownSecond = -1;
    m_length = 0;
    m_rate = 1;
    m_paused = false;
    m_file.clear();
    m_state = kClosed;
    update();
    qelm::Journal::Call("PlayBack::Close", {}, 0);
    return 0;
}

// --- buttons ----------------------------------------------------------------------

void PlayBackControl::PressButton(int32_t button)
{
    const bool active = m_state != kClosed && m_state != kStopped;
    const int32_t faster = m_rate < -1 ? (m_rate == -2 ? 1 : m_rate / 2) : std::min(32, m_rate * 2);
    const int32_t slower = m_rate > 1 ? m_rate / 2 : m_rate == 1 ? -2 : std::max(-32, m_rate * 2);
    qelm::Journal::Call("PlayBack::PressButton", {button});
    if (button == kBtnSound) {
        SetSound(m_sound ? 0 : 1);
        return;
    }
    if (m_stream) {
        // A fed stream is paced by its source: the owner tells it. Pause and
        // step also hold the pictures here, so they stop at once and a step
        // shows exactly one more frame.
        switch (button) {
        case kBtnPlayPause: {
            m_paused = !m_paused;
            {
                std::lock_guard lk(m_shared->m);
                m_shared->paused = m_paused;
                m_shared->stepRequests = 0;
                m_shared->sourceHeld = m_paused;
            }
            m_shared->cv.notify_all();
            m_state = m_paused ? kPaused : m_rate > 1 ? kFast : m_rate < -1 ? kSlow : kPlaying;
            RaiseCommand(m_paused ? kCmdPause : kCmdContinue, 0);
            break;
        }
        case kBtnStep: {
            // Frames enough wait: the source rests. Too few: it runs until
            // kHoldFrames wait (kNoteHold) or the next step.
            int32_t command = 0;
            {
                std::lock_guard lk(m_shared->m);
                m_shared->paused = true;
                ++m_shared->stepRequests;
                const bool enough = m_shared->queuedVideo >= kStepRefill;
                if (enough && !m_shared->sourceHeld && m_shared->input)
                    command = kCmdPause;
                else if (!enough && m_shared->sourceHeld)
                    command = kCmdContinue;
                if (command)
                    m_shared->sourceHeld = command == kCmdPause;
            }
            m_shared->cv.notify_all();
            m_paused = true;
            m_state = kStepping;
            if (command)
                RaiseCommand(command, 0);
            break;
        }
        case kBtnStop: RaiseCommand(kCmdStop, 0); break;
        case kBtnFast:
        case kBtnSlow: {
            const int32_t rate = button == kBtnFast ? faster : slower;
            ApplyRate(rate);
            RaiseCommand(rate > 1 ? kCmdFast : rate < -1 ? kCmdSlow : kCmdNormal, rate > 1 ? rate : rate < -1 ? -rate : 0);
            break;
        }
        case kBtnSnapshot: TakeSnapshot(); break;
        default: break;
        }
        update();
        return;
    }
    if (!m_shared || !active) {
        if (button == kBtnPlayPause && m_shared && !m_file.isEmpty()) {
            {
                std::lock_guard lk(m_shared->m);
                m_shared->paused = false;
            }
            m_paused = false;
            SetPlaySeconds(1, 0);  // play the file again from its start
        }
        return;
    }
    switch (button) {
    case kBtnPlayPause:
    case kBtnStep: {
        {
            std::lock_guard lk(m_shared->m);
            if (button == kBtnStep) {
                m_shared->paused = true;
                ++m_shared->stepRequests;
            } else {
                m_shared->paused = !m_shared->paused;
            }
            m_paused = m_shared->paused;
        }
        m_shared->cv.notify_all();
        m_state = button == kBtnStep ? kStepping : m_paused ? kPaused : m_rate > 1 ? kFast : m_rate < -1 ? kSlow : kPlaying;
        break;
    }
    case kBtnStop: Stop(); break;
    case kBtnFast: ApplyRate(faster); break;
    case kBtnSlow: ApplyRate(slower); break;
    case kBtnSnapshot: TakeSnapshot(); break;
    default: break;
    }
    update();
}

void PlayBackControl::HoldSource()
{
    bool hold = false;
    if (m_shared && m_stream) {
        std::lock_guard lk(m_shared->m);
        m_shared->holdPosted = false;
        hold = m_shared->paused && !m_shared->sourceHeld && m_shared->queuedVideo >= kHoldFrames;
        if (hold)
            m_shared->sourceHeld = true;
    }
    if (hold)
        RaiseCommand(kCmdPause, 0);
}

void PlayBackControl::SetSound(int32_t on)
{
    m_sound = on ? 1 : 0;
    if (m_shared) {
        std::lock_guard lk(m_shared->m);
        m_shared->soundOn = m_sound != 0;
        if (!m_sound)
            ClearSound(*m_shared);
    }
    if (m_sound) {
        m_soundTimer.start();
    } else {
        m_soundTimer.stop();
        m_soundOut.Stop();
    }
    update();
}

void PlayBackControl::PumpSound()
{
    if (!m_shared || !m_sound)
        return;
    std::vector<PlayBackShared::Sound> due;
    {
        std::lock_guard lk(m_shared->m);
        PlayBackShared& sh = *m_shared;
        if (m_rate != 1) {
            ClearSound(sh);  // no sound at another rate
        } else if (!m_paused && sh.seekMs < 0) {
            // Up to the picture shown and a little beyond.
            const int64_t clock = sh.shownMs;
            while (!sh.sound.empty()) {
                PlayBackShared::Sound& next = sh.sound.front();
                if (sh.videoClock && (clock < 0 || next.ms > clock + kSoundLeadMs))
                    break;
                sh.soundBytes -= next.pcm.size();
                due.push_back(std::move(next));
                sh.sound.pop_front();
            }
        }
    }
    for (const PlayBackShared::Sound& chunk : due)
        m_soundOut.Write(chunk.pcm, chunk.rate, chunk.channels);
    m_soundOut.Pump();
}

void PlayBackControl::TakeSnapshot()
{
    bool ok = false;
    QString path;
    if (m_shared && !m_captureFolder.isEmpty() && QDir().mkpath(m_captureFolder)) {
        AVFrame* f = av_frame_alloc();
        {
            std::lock_guard lk(m_shared->m);
            if (f && m_shared->last && m_shared->last->width > 0 && av_frame_ref(f, m_shared->last) < 0)
                av_frame_unref(f);
        }
        path = QDir(m_captureFolder).filePath(QDateTime::currentDateTime().toString("yyyyMMddhhmmsszzz") + ".jpg");
        ok = f && f->width > 0 && qelm::SaveFrameSnapshot(f, path, "JPG");
        av_frame_free(&f);
    }
    if (ok)
        m_lastSnapshot = path;
    else
        qelm::PlatformLog(3, "PlayBack: snapshot failed, folder=%s", m_captureFolder.toUtf8().constData());
    qelm::Journal::Event("PlayBack::Snapshot", {ok ? path : QString()});
}

// --- test accessors ----------------------------------------------------------------

int64_t PlayBackControl::FramesShown() const
{
    if (!m_shared)
        return 0;
    std::lock_guard lk(m_shared->m);
    return m_shared->frames;
}

int64_t PlayBackControl::ShownTime() const
{
    if (!m_shared)
        return -1;
    std::lock_guard lk(m_shared->m);
    return m_shared->shownMs;
}

QImage PlayBackControl::ShownFrame() const
{
    if (!m_shared)
        return {};
    AVFrame* f = av_frame_alloc();
    {
        std::lock_guard lk(m_shared->m);
        if (f && m_shared->last && m_shared->last->width > 0 && av_frame_ref(f, m_shared->last) < 0)
            av_frame_unref(f);
    }
    QImage img;
    if (f && f->width > 0) {
        qelm::PictureScaler scaler;
        img = qelm::FrameToImage(scaler, f, QSize(f->width, f->height));
    }
    av_frame_free(&f);
    return img;
}

// --- geometry and painting ----------------------------------------------------------

QRect PlayBackControl::PictureArea() const { return QRect(0, 0, width(), std::max(0, height() - kBarHeight)); }

QRectF PlayBackControl::PictureRect() const { return qelm::FitPicture(QRectF(PictureArea()), m_shownSize, m_fill); }

QRect PlayBackControl::ButtonRect(int32_t button) const
{
    if (button < 0 || button >= kButtonCount)
        return {};
    return QRect(4 + button * kButtonWidth, height() - kBarHeight + 2, kButtonWidth - 4, kBarHeight - 4);
}

QRect PlayBackControl::SliderRect() const
{
    const int left = 4 + kButtonCount * kButtonWidth + 6;
    const int right = width() - 150;
    return QRect(left, height() - kBarHeight + 8, std::max(0, right - left), kBarHeight - 16);
}

int32_t PlayBackControl::SliderSeconds(int x) const
{
    const QRect s = SliderRect();
    if (s.width() <= 0 || m_length <= 0)
        return 0;
    // The nearest second: a pixel spans more than a second only on long files.
    return int32_t(std::lround(std::clamp(double(x - s.left()) / s.width(), 0.0, 1.0) * m_length));
}

void PlayBackControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PushView();
}

void PlayBackControl::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect area = PictureArea();
    QImage img;
    if (m_shared) {
        std::lock_guard lk(m_shared->m);
        img = m_shared->picture;  // shared, not copied
    }
    if (!img.isNull() && m_state != kClosed) {
        m_shownSize = img.size();
        const QRectF dst = qelm::FitPicture(QRectF(area), img.size(), m_fill);
        // Black only around the picture: filling under it too costs a
        // second pass over every pixel.
        const QRegion margin = QRegion(area).subtracted(QRegion(dst.toAlignedRect()));
        for (const QRect& r : margin)
            p.fillRect(r, Qt::black);
        p.drawImage(dst, img, m_zoom.Zoomed() ? m_zoom.SourceRect(img.size()) : QRectF(img.rect()));
    } else {
        p.fillRect(area, Qt::black);
    }
    if (event && !event->rect().intersects(QRect(0, height() - kBarHeight, width(), kBarHeight)))
        return;
    if (const QRect frame = m_zoom.DragFrame(); !frame.isNull()) {
        p.setPen(QPen(Qt::green, 1, Qt::DashLine));
        p.drawRect(frame);
    }

    // The bar: buttons, slider, time and rate.
    const QRect bar(0, height() - kBarHeight, width(), kBarHeight);
    p.fillRect(bar, QColor(38, 42, 48));
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(220, 224, 230);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    auto triangle = [&](QPointF a, QPointF b, QPointF c) {
        QPainterPath path;
        path.moveTo(a);
        path.lineTo(b);
        path.lineTo(c);
        path.closeSubpath();
        p.drawPath(path);
    };
    for (int b = 0; b < kButtonCount; ++b) {
        const QRectF r = ButtonRect(b);
        p.setBrush(QColor(58, 64, 72));
        p.drawRoundedRect(r, 3, 3);
        p.setBrush(ink);
        const QPointF c = r.center();
        switch (b) {
        case kBtnPlayPause:
            if (IsPlaying() && !m_paused) {
                p.drawRect(QRectF(c.x() - 5, c.y() - 6, 3.5, 12));
                p.drawRect(QRectF(c.x() + 1.5, c.y() - 6, 3.5, 12));
            } else {
                triangle({c.x() - 4, c.y() - 7}, {c.x() + 6, c.y()}, {c.x() - 4, c.y() + 7});
            }
            break;
        case kBtnStop: p.drawRect(QRectF(c.x() - 5, c.y() - 5, 10, 10)); break;
        case kBtnSlow:
            triangle({c.x(), c.y() - 6}, {c.x() - 8, c.y()}, {c.x(), c.y() + 6});
            triangle({c.x() + 8, c.y() - 6}, {c.x(), c.y()}, {c.x() + 8, c.y() + 6});
            break;
        case kBtnFast:
            triangle({c.x() - 8, c.y() - 6}, {c.x(), c.y()}, {c.x() - 8, c.y() + 6});
            triangle({c.x(), c.y() - 6}, {c.x() + 8, c.y()}, {c.x(), c.y() + 6});
            break;
        case kBtnStep:
            triangle({c.x() - 6, c.y() - 6}, {c.x() + 2, c.y()}, {c.x() - 6, c.y() + 6});
            p.drawRect(QRectF(c.x() + 3, c.y() - 6, 3, 12));
            break;
        case kBtnSnapshot:
            p.drawRoundedRect(QRectF(c.x() - 7, c.y() - 4, 14, 10), 2, 2);
            p.drawRect(QRectF(c.x() - 3, c.y() - 6, 6, 3));
            p.setBrush(QColor(58, 64, 72));
            p.drawEllipse(c + QPointF(0, 1), 3, 3);
            break;
        case kBtnSound: {
            // A speaker; waves while sound is on, a cross while off.
            p.drawRect(QRectF(c.x() - 8, c.y() - 3, 4, 6));
            triangle({c.x() - 5, c.y() - 3}, {c.x() + 1, c.y() - 8}, {c.x() + 1, c.y() + 8});
            triangle({c.x() - 5, c.y() - 3}, {c.x() + 1, c.y() + 8}, {c.x() - 5, c.y() + 3});
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
            if (m_sound) {
                p.drawArc(QRectF(c.x() - 2, c.y() - 4, 8, 8), -60 * 16, 120 * 16);
                p.drawArc(QRectF(c.x() - 4, c.y() - 7, 14, 14), -60 * 16, 120 * 16);
            } else {
                p.drawLine(QPointF(c.x() + 3, c.y() - 3), QPointF(c.x() + 9, c.y() + 3));
                p.drawLine(QPointF(c.x() + 3, c.y() + 3), QPointF(c.x() + 9, c.y() - 3));
            }
            p.setPen(Qt::NoPen);
            break;
        }
        }
    }
    const QRect s = SliderRect();
    if (s.width() > 0) {
        p.setBrush(QColor(70, 76, 86));
        p.drawRoundedRect(QRectF(s.left(), s.center().y() - 2, s.width(), 4), 2, 2);
        const int32_t at = m_sliderDrag ? SliderSeconds(m_sliderX) : std::max(0, m_shownSecond);
        const double f = m_length > 0 ? std::clamp(double(at) / m_length, 0.0, 1.0) : 0.0;
        const double x = s.left() + f * s.width();
        p.setBrush(QColor(60, 140, 230));
        p.drawRoundedRect(QRectF(s.left(), s.center().y() - 2, x - s.left(), 4), 2, 2);
        p.setBrush(ink);
        p.drawEllipse(QPointF(x, s.center().y()), 6, 6);
    }
    p.setPen(ink);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    QString text = TimeText(std::max(0, m_shownSecond)) + "/" + TimeText(m_length);
    if (m_rate > 1)
        text += QString(" x%1").arg(m_rate);
    else if (m_rate < -1)
        text += QString(" /%1").arg(-m_rate);
    p.drawText(QRect(width() - 146, bar.top(), 142, kBarHeight), Qt::AlignVCenter | Qt::AlignRight, text);
}

// --- mouse ---------------------------------------------------------------------------

void PlayBackControl::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (at.y() >= height() - kBarHeight) {
        if (event->button() != Qt::LeftButton)
            return;
        for (int b = 0; b < kButtonCount; ++b)
            if (ButtonRect(b).contains(at)) {
                PressButton(b);
                return;
            }
        if (SliderRect().adjusted(0, -6, 0, 6).contains(at) && m_state != kClosed) {
            m_sliderDrag = true;
            m_sliderX = at.x();
            update();
        }
        return;
    }
    m_zoom.Press(at, event->button() == Qt::LeftButton);
    RaiseMouse(event, event->button() == Qt::RightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
}

void PlayBackControl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_sliderDrag) {
        m_sliderX = at.x();
        update();
        return;
    }
    if (m_zoom.Move(at, PictureRect(), false)) {
        PushView();
        update();
    }
    RaiseMouse(event, WM_MOUSEMOVE);
}

void PlayBackControl::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_sliderDrag) {
        m_sliderDrag = false;
        const int32_t seconds = SliderSeconds(at.x());
        if (m_stream)
            RaiseCommand(kCmdSeek, seconds);
        else
            SetPlaySeconds(1, seconds);
        update();
        return;
    }
    if (m_zoom.Release(at, PictureRect(), false)) {
        PushView();
        update();
    }
    if (at.y() < height() - kBarHeight)
        RaiseMouse(event, event->button() == Qt::RightButton ? WM_RBUTTONUP : WM_LBUTTONUP);
}

void PlayBackControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->position().y() < height() - kBarHeight)
        RaiseMouse(event, event->button() == Qt::RightButton ? WM_RBUTTONDBLCLK : WM_LBUTTONDBLCLK);
}
