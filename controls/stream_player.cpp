// Stand-in of the stream player control: per-render libavcodec decoders fed
// from any thread, the latest picture handed to the UI thread for painting.
#include "controls/stream_player.h"

#include "controls/codec_names.h"
#include "controls/journal.h"
#include "controls/picture_view.h"
#include "controls/sound_output.h"
#include "platform/logsink.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace qelm {

// One render: its decoders and its latest picture. Shared between the
// control and the threads that feed it, so a render destroyed during
// InputData lives until that call returns.
struct StreamPlayerRender {
    explicit StreamPlayerRender(int32_t renderId) : id(renderId) {}
    ~StreamPlayerRender()
    {
        CloseVideo();
        CloseAudio();
    }

    void CloseVideo()
    {
        avcodec_free_context(&video);
        scaler.Free();
        av_frame_free(&lastVideo);
    }
    void CloseAudio()
    {
        avcodec_free_context(&audio);
        pcmConverter.Free();
    }

    const int32_t id;

    std::mutex decodeMutex;  // one decode at a time per render; guards the fields below
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    PictureScaler scaler;
    AVFrame* lastVideo = nullptr;  // last decoded picture, for snapshots
    PcmConverter pcmConverter;     // decoded audio to interleaved 16-bit PCM

    std::mutex soundMutex;  // guards the PCM queue for the sound output
    QByteArray pcm;
    int pcmRate = 0;
    int pcmChannels = 0;
    std::atomic<int64_t> soundBytes{0};

    // Written by the UI thread, read by the decoding threads.
    std::atomic<int> viewWidth{0};
    std::atomic<int> viewHeight{0};
    std::atomic<bool> fill{false};
    std::atomic<bool> zoomed{false};
    std::atomic<bool> sound{false};

    std::mutex pictureMutex;  // guards picture
    QImage picture;
    std::atomic<bool> newPicture{false};
    std::atomic<int64_t> pictures{0};
    std::atomic<int64_t> audioFrames{0};
};

} // namespace qelm

using qelm::StreamPlayerRender;

namespace {

using qelm::FixedText;
using qelm::VideoCodecId;

std::atomic<int32_t> g_nextRenderId{1};

constexpr int kMaxSide = qelm::kMaxPictureSide;




bool SetExtradata(AVCodecContext* ctx, const uint8_t* data, size_t size)
{
    if (size == 0)
        return true;
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata)
        return false;
    memcpy(ctx->extradata, data, size);
    ctx->extradata_size = int(size);
    return true;
}

AVCodecContext* OpenVideoDecoder(AVCodecID id, const VideoParam& v)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec)
        return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return nullptr;
    if (v.width > 0 && v.height > 0 && v.width <= kMaxSide && v.height <= kMaxSide) {
        ctx->width = v.width;
        ctx->height = v.height;
    }
    const size_t n = size_t(std::clamp<int>(v.configLength, 0, int(sizeof(v.config))));
    const bool ok = SetExtradata(ctx, v.config, n);
    ctx->thread_count = 1;  // one render per stream: keep latency and thread count low
    if (!ok || avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

// Output size of the scaler: the pane's size when filling, the fitted size
// when keeping the aspect ratio, the source size while zoomed (the painter
// then cuts the zoomed part out of it).
QSize OutputSize(const StreamPlayerRender& r, int srcW, int srcH)
{
    const int vw = r.viewWidth.load();
    const int vh = r.viewHeight.load();
    if (r.zoomed.load() || vw <= 0 || vh <= 0)
        return {srcW, srcH};
    if (r.fill.load())
        return {std::min(vw, kMaxSide), std::min(vh, kMaxSide)};
    QSize s(srcW, srcH);
    s.scale(vw, vh, Qt::KeepAspectRatio);
    return s.expandedTo(QSize(1, 1));
}

// Sends one packet and drains the decoder, handing each frame to onFrame;
// returns the number of frames, or -1 on a decoder error.
template <class OnFrame>
int Decode(AVCodecContext* ctx, const uint8_t* data, int32_t length, int64_t pts, OnFrame onFrame)
{
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    int frames = -1;
    if (length > 0 && pkt && f && av_new_packet(pkt, length) == 0) {
        memcpy(pkt->data, data, size_t(length));
        pkt->pts = pts;
        const int rc = avcodec_send_packet(ctx, pkt);
        if (rc >= 0 || rc == AVERROR(EAGAIN)) {
            frames = 0;
            while (avcodec_receive_frame(ctx, f) >= 0) {
                onFrame(f);
                av_frame_unref(f);
                ++frames;
            }
        }
    }
    av_frame_free(&f);
    av_packet_free(&pkt);
    return frames;
}

// Queues a decoded audio frame as interleaved 16-bit PCM for the sound
// output; at most two seconds wait, older sound is dropped.
void QueueSound(StreamPlayerRender& r, AVFrame* f)
{
    QByteArray chunk;
    if (!r.pcmConverter.Convert(f, chunk))
        return;
    const int channels = f->ch_layout.nb_channels;
    std::lock_guard lock(r.soundMutex);
    if (r.pcmRate != f->sample_rate || r.pcmChannels != channels)
        r.pcm.clear();
    r.pcmRate = f->sample_rate;
    r.pcmChannels = channels;
    r.pcm.append(chunk);
    const qsizetype limit = qsizetype(f->sample_rate) * channels * 2 * 2;
    if (r.pcm.size() > limit)
        r.pcm.remove(0, r.pcm.size() - limit);
    r.soundBytes += chunk.size();
}

bool WriteYuv(const AVFrame* f, const char* path)
{
    SwsContext* sws = sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                     AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws)
        return false;
    uint8_t* planes[4] = {};
    int strides[4] = {};
    const int size = av_image_alloc(planes, strides, f->width, f->height, AV_PIX_FMT_YUV420P, 1);
    bool ok = false;
    if (size > 0) {
        sws_scale(sws, f->data, f->linesize, 0, f->height, planes, strides);
        QFile file(QString::fromUtf8(path));
        ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
             file.write(reinterpret_cast<const char*>(planes[0]), size) == size;
        av_freep(&planes[0]);
    }
    sws_freeContext(sws);
    return ok;
}

} // namespace

StreamPlayerControl::StreamPlayerControl(QWidget* parent) : QWidget(parent), m_sound("StreamPlayer", this)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    connect(&m_poll, &QTimer::timeout, this, [this] { PollPictures(); });
    m_poll.start(15);
    qelm::Journal::Call("StreamPlayer::Create", {}, 0);
}

StreamPlayerControl::~StreamPlayerControl()
{
    m_poll.stop();
    StopSound();
    std::lock_guard lock(m_mutex);
    m_renders.clear();  // a feeding thread keeps its render alive until its call returns
    qelm::Journal::Call("StreamPlayer::Destroy", {}, 0);
}

std::shared_ptr<StreamPlayerRender> StreamPlayerControl::FindRender(int32_t renderId) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_renders.find(renderId);
    return it == m_renders.end() ? nullptr : it->second;
}

int32_t StreamPlayerControl::SetupDecoder(int32_t kind, int32_t renderId, const uint8_t* param, int32_t length)
{
    int32_t result = -1;
    std::string codec;
    auto r = FindRender(renderId);
    if (r && param && kind == kVideo && length == int32_t(sizeof(VideoParam))) {
        VideoParam v;
        memcpy(&v, param, sizeof v);
        codec = FixedText(v.codecName, sizeof v.codecName);
        const AVCodecID id = VideoCodecId(codec);
        if (id != AV_CODEC_ID_NONE) {
            std::lock_guard lock(r->decodeMutex);
            r->CloseVideo();
            r->video = OpenVideoDecoder(id, v);
            result = r->video ? 0 : -1;
        }
    } else if (r && param && kind == kAudio && length == int32_t(sizeof(AudioParam))) {
        AudioParam a;
        memcpy(&a, param, sizeof a);
        codec = FixedText(a.codecName, sizeof a.codecName);
        const AVCodecID id = qelm::AudioCodecId(codec);
        if (id != AV_CODEC_ID_NONE) {
            std::lock_guard lock(r->decodeMutex);
            r->CloseAudio();
            r->audio = qelm::OpenAudioDecoder(id, a.sampleRate, a.channels);
            result = r->audio ? 0 : -1;
        }
    }
    if (result != 0)
        qelm::PlatformLog(3, "StreamPlayer: SetupDecoder failed, kind=%d, RenderId=%d, codec=%s, length=%d", kind,
                          renderId, codec.c_str(), length);
    qelm::Journal::Call("CStreamPlayerCtrl::SetupDecoder", {kind, renderId, codec, length}, result);
    return result;
}

int32_t StreamPlayerControl::InputData(int32_t kind, int32_t renderId, const uint8_t* frame, int32_t length,
                                       const uint8_t* header, int32_t headerLength)
{
    int32_t result = -1;
    MediaFrameHeader h{};
    const bool valid = frame && length > 0 && header && headerLength == int32_t(sizeof(MediaFrameHeader));
    if (valid)
        memcpy(&h, header, sizeof h);
    auto r = valid ? FindRender(renderId) : nullptr;
    if (r && kind == kVideo) {
        QImage img;
        {
            std::lock_guard lock(r->decodeMutex);
            if (r->video) {
                if (!r->lastVideo)
                    r->lastVideo = av_frame_alloc();
                AVFrame* last = r->lastVideo;
                const int n = last ? Decode(r->video, frame, length, int64_t(h.timeStamp),
                                            [last](AVFrame* f) {
                                                av_frame_unref(last);
                                                av_frame_move_ref(last, f);
                                            })
                                   : -1;
                result = n < 0 ? -1 : 0;
                if (n > 0) {
                    img = qelm::FrameToImage(r->scaler, r->lastVideo,
                                  OutputSize(*r, r->lastVideo->width, r->lastVideo->height));
                    r->pictures += n;
                }
            }
        }
        if (!img.isNull()) {
            std::lock_guard lock(r->pictureMutex);
            r->picture = std::move(img);
            r->newPicture = true;
        }
    } else if (r && kind == kAudio) {
        std::lock_guard lock(r->decodeMutex);
        if (r->audio) {
            const int32_t skip = r->audio->codec_id == AV_CODEC_ID_AAC ? qelm::AacPayloadOffset(frame, length) : 0;
            StreamPlayerRender& render = *r;
            const int n = Decode(r->audio, frame + skip, length - skip, int64_t(h.timeStamp), [&render](AVFrame* f) {
                if (render.sound)
                    QueueSound(render, f);
            });
            result = n < 0 ? -1 : 0;
            if (n > 0)
                r->audioFrames += n;
        }
    }
    qelm::Journal::Call("CStreamPlayerCtrl::InputData", {kind, renderId, frame, length, header, headerLength}, result);
    return result;
}

int32_t StreamPlayerControl::CloseDecoder(int32_t kind, int32_t renderId)
{
    int32_t result = -1;
    auto r = kind == kVideo || kind == kAudio ? FindRender(renderId) : nullptr;
    if (r) {
        {
            std::lock_guard lock(r->decodeMutex);
            if (kind == kVideo)
                r->CloseVideo();
            else
                r->CloseAudio();
        }
        if (kind == kVideo && !m_showLastFrame) {
            std::lock_guard lock(r->pictureMutex);
            r->picture = QImage();
            r->newPicture = true;
        }
        result = 0;
    }
    qelm::Journal::Call("CStreamPlayerCtrl::CloseDecoder", {kind, renderId}, result);
    return result;
}

int32_t StreamPlayerControl::CreateRender(const char* name)
{
    auto r = std::make_shared<StreamPlayerRender>(g_nextRenderId++);
    {
        std::lock_guard lock(m_mutex);
        m_renders.emplace(r->id, r);
    }
    PushTargetSize();
    qelm::Journal::Call("CStreamPlayerCtrl::CreateRender", {name}, r->id);
    return r->id;
}

int32_t StreamPlayerControl::DestroyRender(int32_t renderId)
{
    std::shared_ptr<StreamPlayerRender> r;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_renders.find(renderId);
        if (it != m_renders.end()) {
            r = std::move(it->second);
            m_renders.erase(it);
        }
    }
    const int32_t result = r ? 0 : -1;
    if (r && m_soundRender == renderId)
        StopSound();
    r.reset();  // freed here, or by the thread that is still decoding into it
    update();
    qelm::Journal::Call("CStreamPlayerCtrl::DestroyRender", {renderId}, result);
    return result;
}

int32_t StreamPlayerControl::SetSound(int32_t renderId, int32_t on)
{
    // One render of a control plays at a time; its decoding threads queue
    // PCM and the UI thread hands it to the audio sink.
    int32_t result = -1;
    if (auto r = FindRender(renderId)) {
        if (on) {
            if (m_soundRender != renderId) {
                if (auto old = FindRender(m_soundRender))
                    old->sound = false;
                StopSound();
            }
            m_soundRender = renderId;
        } else if (m_soundRender == renderId) {
            StopSound();
        }
        r->sound = on != 0;
        if (!on) {
            std::lock_guard lock(r->soundMutex);
            r->pcm.clear();
        }
        result = 0;
    }
    qelm::Journal::Call("CStreamPlayerCtrl::SetSound", {renderId, on}, result);
    return result;
}

void StreamPlayerControl::StopSound()
{
    m_sound.Stop();
    m_soundRender = 0;
}

void StreamPlayerControl::PumpSound()
{
    if (m_soundRender == 0)
        return;
    auto r = FindRender(m_soundRender);
    if (!r) {
        StopSound();
        return;
    }
    QByteArray pcm;
    int rate = 0, channels = 0;
    {
        std::lock_guard lock(r->soundMutex);
        pcm.swap(r->pcm);
        rate = r->pcmRate;
        channels = r->pcmChannels;
    }
    m_sound.Write(pcm, rate, channels);
    m_sound.Pump();
}

int64_t StreamPlayerControl::SoundBytes(int32_t renderId) const
{
    auto r = FindRender(renderId);
    return r ? r->soundBytes.load() : -1;
}

int32_t StreamPlayerControl::SetZoomMode(int32_t renderId, int32_t mode)
{
    int32_t result = -1;
    if (FindRender(renderId) && mode >= kZoomOff && mode <= kZoomMove) {
        m_zoom.SetMode(mode);
        PushTargetSize();
        update();
        result = 0;
    }
    qelm::Journal::Call("CStreamPlayerCtrl::SetZoomMode", {renderId, mode}, result);
    return result;
}

void StreamPlayerControl::SetShowLastFrame(int32_t show)
{
    m_showLastFrame = show != 0;
    qelm::Journal::Call("CStreamPlayerCtrl::SetShowLastFrame", {show});
}

void StreamPlayerControl::SnapShot(int32_t renderId, int32_t format, const char* path)
{
    bool ok = false;
    auto r = FindRender(renderId);
    if (r && path && *path) {
        AVFrame* f = av_frame_alloc();
        {
            std::lock_guard lock(r->decodeMutex);
            if (f && r->lastVideo && r->lastVideo->width > 0 && av_frame_ref(f, r->lastVideo) < 0)
                av_frame_unref(f);
        }
        if (f && f->width > 0) {
            if (format == kPicYuv) {
                ok = WriteYuv(f, path);
            } else {
                ok = qelm::SaveFrameSnapshot(f, QString::fromUtf8(path), format == kPicBmp ? "BMP" : "JPG");
            }
        }
        av_frame_free(&f);
    }
    if (!ok)
        qelm::PlatformLog(3, "StreamPlayer: SnapShot failed, RenderId=%d, format=%d, path=%s", renderId, format,
                          path ? path : "");
    qelm::Journal::Call("CStreamPlayerCtrl::SnapShot", {renderId, format, path});
}

int32_t StreamPlayerControl::SetRecordMark(int32_t streamId, int32_t on)
{
    m_recordMark = on != 0;
    update();
    qelm::Journal::Call("CStreamPlayerCtrl::SetRecordMark", {streamId, on}, 0);
    return 0;
}

int32_t StreamPlayerControl::SetFullDisplay(int32_t fill)
{
    m_fill = fill != 0;
    PushTargetSize();
    update();
    qelm::Journal::Call("CStreamPlayerCtrl::SetFullDisplay", {fill}, 0);
    return 0;
}

int32_t StreamPlayerControl::ReleaseWithoutWait()
{
    std::map<int32_t, std::shared_ptr<StreamPlayerRender>> renders;
    {
        std::lock_guard lock(m_mutex);
        renders.swap(m_renders);
    }
    StopSound();
    renders.clear();
    update();
    qelm::Journal::Call("CStreamPlayerCtrl::ReleaseWithoutWait", {}, 0);
    return 0;
}

int32_t StreamPlayerControl::SetTalkMark(int32_t streamId, int32_t on)
{
    m_talkMark = on != 0;
    update();
    qelm::Journal::Call("CStreamPlayerCtrl::SetTalkMark", {streamId, on}, 0);
    return 0;
}

int32_t StreamPlayerControl::Flip(int32_t streamId, int32_t mode)
{
    // Each call turns the left-right mirror on or off.
    int32_t result = -1;
    if (mode == 2) {
        m_flip = !m_flip;
        update();
        result = 0;
    }
    qelm::Journal::Call("CStreamPlayerCtrl::Flip", {streamId, mode}, result);
    return result;
}

int32_t StreamPlayerControl::SetBufferTick(int32_t tick)
{
    // Frames are shown as they are decoded; the buffer settings are kept for
    // the journal only.
    qelm::Journal::Call("CStreamPlayerCtrl::SetBufferTick", {tick}, 0);
    return 0;
}

int32_t StreamPlayerControl::SetBufferCount(int32_t count)
{
    qelm::Journal::Call("CStreamPlayerCtrl::SetBufferCount", {count}, 0);
    return 0;
}

int64_t StreamPlayerControl::DecodedPictures(int32_t renderId) const
{
    auto r = FindRender(renderId);
    return r ? r->pictures.load() : -1;
}

int64_t StreamPlayerControl::DecodedAudioFrames(int32_t renderId) const
{
    auto r = FindRender(renderId);
    return r ? r->audioFrames.load() : -1;
}

bool StreamPlayerControl::HasPicture() const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [id, r] : m_renders) {
        std::lock_guard pl(r->pictureMutex);
        if (!r->picture.isNull())
            return true;
    }
    return false;
}

void StreamPlayerControl::PushTargetSize()
{
    const bool zoomed = m_zoom.Zoomed();
    std::lock_guard lock(m_mutex);
    for (const auto& [id, r] : m_renders) {
        r->viewWidth = width();
        r->viewHeight = height();
        r->fill = m_fill;
        r->zoomed = zoomed;
    }
}

void StreamPlayerControl::PollPictures()
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, r] : m_renders)
            changed |= r->newPicture.exchange(false);
    }
    if (changed)
        update();
    PumpSound();
}

QRectF StreamPlayerControl::PictureRect(const QSize& source) const
{
    return qelm::FitPicture(QRectF(rect()), source, m_fill);
}

void StreamPlayerControl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    std::vector<QImage> pictures;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, r] : m_renders) {
            std::lock_guard pl(r->pictureMutex);
            if (!r->picture.isNull())
                pictures.push_back(r->picture);  // shared, not copied
        }
    }
    const bool zoomed = m_zoom.Zoomed();
    m_shownSize = pictures.empty() ? QSize() : pictures.back().size();
    for (const QImage& img : pictures) {
        const QRectF dst = PictureRect(img.size());
        // While zoomed the picture has the source size; otherwise it was
        // scaled to the pane already and only a resize race makes it differ.
        const QRectF src = zoomed ? m_zoom.SourceRect(img.size()) : QRectF(img.rect());
        p.save();
        if (m_flip) {
            p.translate(dst.center().x() * 2, 0);
            p.scale(-1, 1);
        }
        p.drawImage(dst, img, src);
        p.restore();
    }
    if (const QRect frame = m_zoom.DragFrame(); !frame.isNull()) {
        p.setPen(QPen(Qt::green, 1, Qt::DashLine));
        p.drawRect(frame);
    }
    const int d = std::max(6, std::min(width(), height()) / 24);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (m_recordMark) {
        p.setBrush(QColor(230, 30, 30));
        p.drawEllipse(QRect(width() - 2 * d, d, d, d));
    }
    if (m_talkMark) {
        p.setBrush(QColor(40, 200, 60));
        p.drawEllipse(QRect(width() - 2 * d - (m_recordMark ? 2 * d : 0), d, d, d));
    }
}

void StreamPlayerControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PushTargetSize();
}

void StreamPlayerControl::mousePressEvent(QMouseEvent* event)
{
    if (!m_zoom.Press(event->position().toPoint(), event->button() == Qt::LeftButton))
        QWidget::mousePressEvent(event);
}

void StreamPlayerControl::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_zoom.Move(event->position().toPoint(), PictureRect(m_shownSize), m_flip)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    PushTargetSize();
    update();
}

void StreamPlayerControl::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_zoom.Release(event->position().toPoint(), PictureRect(m_shownSize), m_flip)) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    PushTargetSize();
    update();
}
