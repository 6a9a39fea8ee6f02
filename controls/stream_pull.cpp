// Stand-in of the closed stream pull control: one worker thread per stream
// runs libavformat's RTSP client (or a registered scheme handler), reconnects
// on loss, and hands frames to the readers through bounded queues.
#include "controls/stream_pull.h"

#include "controls/journal.h"
#include "controls/media_limits.h"
#include "controls/stream_shaper.h"
#include "platform/logsink.h"
#include "platform/netguard.h"

#include <QCoreApplication>
#include <QMetaObject>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRetryMs = 1000;           // pause between connection attempts
constexpr auto kIoTimeout = std::chrono::seconds(5);  // no data for this long = lost

std::mutex g_schemeLock;
std::map<std::string, StreamSchemeHandler>& Schemes()
{
    static std::map<std::string, StreamSchemeHandler> m;
    return m;
}

std::atomic<int32_t> g_nextStreamId{1};

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    return s;
}

std::string SchemeOf(const std::string& url)
{
    size_t p = url.find("://");
    return p == std::string::npos ? std::string() : Lower(url.substr(0, p));
}

std::string PercentEncode(const std::string& s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// rtsp://host/... with user and password put in front of the host, unless the
// URL carries its own.
std::string WithCredentials(const std::string& url, const std::string& user, const std::string& password)
{
    size_t p = url.find("://");
    if (user.empty() || p == std::string::npos)
        return url;
    size_t hostStart = p + 3;
    size_t hostEnd = url.find('/', hostStart);
    std::string authority = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    if (authority.find('@') != std::string::npos)
        return url;
    return url.substr(0, hostStart) + PercentEncode(user) + ":" + PercentEncode(password) + "@" + url.substr(hostStart);
}

struct Frame {
    std::vector<uint8_t> data;
    MediaFrameHeader hdr;
};

} // namespace

struct StreamPullControl::Shared {
    std::mutex lock;
    std::map<int32_t, IStreamPullEvents*> sinks;
    int32_t nextCookie = 1;

    // Runs fn(sink) for each sink on the UI thread; a sink unadvised before
    // delivery is skipped.
    template <class Fn>
    static void Post(const std::shared_ptr<Shared>& self, Fn fn)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [self, fn = std::move(fn)]() {
                std::vector<int32_t> cookies;
                {
                    std::lock_guard<std::mutex> g(self->lock);
                    for (auto& [c, s] : self->sinks)
                        cookies.push_back(c);
                }
                for (int32_t c : cookies) {
                    IStreamPullEvents* sink = nullptr;
                    {
                        std::lock_guard<std::mutex> g(self->lock);
                        auto it = self->sinks.find(c);
                        if (it != self->sinks.end())
                            sink = it->second;
                    }
                    if (sink)
                        fn(sink);
                }
            },
            Qt::QueuedConnection);
    }
};

struct StreamPullControl::Stream : StreamPullFeed {
    int32_t id = 0;
    std::string url, user, password;
    bool tcp = false;
    std::shared_ptr<Shared> shared;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread thread;

    std::mutex waitLock;
    std::condition_variable waitCv;

    struct Queue {
        std::deque<Frame> frames;
        size_t bytes = 0;
    };
    std::mutex qLock;
    Queue video, audio;
    uint64_t dropped = 0;

    // Touched by the worker only.
    StreamMediaParam lastParams{};
    bool paramsSent = false;
    int32_t lastStatus = 0;

    int32_t StreamId() const override { return id; }
    bool Stopped() const override { return stop.load(); }

    bool Wait(int ms) override
    {
        std::unique_lock<std::mutex> g(waitLock);
        waitCv.wait_for(g, std::chrono::milliseconds(ms), [&] { return stop.load(); });
        return !stop.load();
    }

    void RequestStop()
    {
        {
            std::lock_guard<std::mutex> g(waitLock);
            stop = true;
        }
        waitCv.notify_all();
    }

    void Status(int32_t status, const std::string& text) override
    {
        if (stop || (status == lastStatus && status == kStatusFailed))
            return;   // one failure report per outage
        lastStatus = status;
        qelm::Journal::Event("StreamPullControl::OnStreamStatus", {id, status, text});
        int32_t sid = id;
        Shared::Post(shared, [sid, status, text](IStreamPullEvents* s) {
            s->OnStreamStatus(sid, status, text.c_str(), nullptr);
        });
    }

    void Params(const StreamMediaParam& p) override
    {
        if (stop || (paramsSent && memcmp(&p, &lastParams, sizeof p) == 0))
            return;
        lastParams = p;
        paramsSent = true;
        qelm::Journal::Event("StreamPullControl::MediaRecv",
                             {id, int32_t(kMediaTypeParams), p.hasVideo ? p.video.codecName : "",
                              p.video.width, p.video.height, p.video.frameRate, p.video.configLength,
                              p.hasAudio ? p.audio.codecName : "", p.audio.sampleRate, p.audio.channels});
        int32_t sid = id;
        Shared::Post(shared, [sid, p](IStreamPullEvents* s) { s->MediaRecv(sid, kMediaTypeParams, &p, 0); });
    }

    void Push(Queue& q, size_t maxFrames, size_t maxBytes, const uint8_t* data, size_t len,
              const MediaFrameHeader& hdr)
    {
        if (!data || !len)
            return;
        if (len > maxBytes) {
            qelm::PlatformLog(3, "StreamPullControl: stream %d frame of %zu bytes dropped, over the queue's %zu", id,
                              len, maxBytes);
            std::lock_guard<std::mutex> g(qLock);
            ++dropped;
            return;
        }
        Frame f{std::vector<uint8_t>(data, data + len), hdr};
        std::lock_guard<std::mutex> g(qLock);
        while (!q.frames.empty() && (q.frames.size() >= maxFrames || q.bytes + len > maxBytes)) {
            q.bytes -= q.frames.front().data.size();   // nobody reads: keep the newest
            q.frames.pop_front();
            ++dropped;
        }
        q.bytes += len;
        q.frames.push_back(std::move(f));
    }
    void PushVideo(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) override
    {
        Push(video, kMaxVideoFrames, kMaxVideoBytes, data, len, hdr);
    }
    void PushAudio(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) override
    {
        Push(audio, kMaxAudioFrames, kMaxAudioBytes, data, len, hdr);
    }
};

namespace {

using Stream = StreamPullControl::Stream;

struct Interrupt {
    Stream* stream;
    Clock::time_point deadline;
};

static_assert(qelm::AccessUnitAssembler::kNoTimeStamp == AV_NOPTS_VALUE);

int InterruptCb(void* p)
{
    auto* i = static_cast<Interrupt*>(p);
    return i->stream->stop.load() || Clock::now() > i->deadline;
}

double ToMs(int64_t ts, AVRational tb)
{
    return static_cast<double>(ts) * 1000.0 * tb.num / tb.den;
}

int RoundRate(AVRational r)
{
    if (r.num <= 0 || r.den <= 0)
        return 0;
    double v = av_q2d(r);
    return v >= 1 && v <= 240 ? static_cast<int>(v + 0.5) : 0;
}

// One connection: true when it got as far as status 5.
bool PullOnce(Stream& s, const std::string& url)
{
    AVFormatContext* fc = avformat_alloc_context();
    if (!fc)
        return false;
    Interrupt intr{&s, Clock::now() + kIoTimeout};
    fc->interrupt_callback.callback = InterruptCb;
    fc->interrupt_callback.opaque = &intr;
    fc->max_analyze_duration = 1000000;
    fc->probesize = 1 << 20;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", s.tcp ? "tcp" : "udp", 0);
    av_dict_set(&opts, "timeout", "5000000", 0);
    av_dict_set(&opts, "allowed_media_types", "video+audio", 0);   // no data or text sections
    av_dict_set_int(&opts, "max_streams", StreamPullControl::kMaxMediaStreams, 0);
    int r = avformat_open_input(&fc, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        if (!s.stop) {
            char err[128];
            av_strerror(r, err, sizeof err);
            qelm::PlatformLog(3, "StreamPullControl: stream %d open failed: %s", s.id, err);
        }
        return false;   // fc was freed by avformat_open_input
    }
    intr.deadline = Clock::now() + kIoTimeout;
    if (avformat_find_stream_info(fc, nullptr) < 0 || s.stop) {
        avformat_close_input(&fc);
        return false;
    }

    int vi = -1, ai = -1;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        const AVCodecParameters* cp = fc->streams[i]->codecpar;
        if (vi < 0 && cp->codec_type == AVMEDIA_TYPE_VIDEO &&
            (cp->codec_id == AV_CODEC_ID_H264 || cp->codec_id == AV_CODEC_ID_HEVC || cp->codec_id == AV_CODEC_ID_MPEG4))
            vi = static_cast<int>(i);
        if (ai < 0 && cp->codec_type == AVMEDIA_TYPE_AUDIO &&
            (cp->codec_id == AV_CODEC_ID_PCM_MULAW || cp->codec_id == AV_CODEC_ID_AAC))
            ai = static_cast<int>(i);
    }
    if (vi < 0 && ai < 0) {
        qelm::PlatformLog(3, "StreamPullControl: stream %d has no usable media", s.id);
        avformat_close_input(&fc);
        return false;
    }

    StreamMediaParam mp{};
    memcpy(mp.marker, kStreamMediaMarker, sizeof kStreamMediaMarker);
    const AVCodecID vcodec = vi >= 0 ? fc->streams[vi]->codecpar->codec_id : AV_CODEC_ID_NONE;
    const AVRational vtb = vi >= 0 ? fc->streams[vi]->time_base : AVRational{1, 1000};
    qelm::AccessUnitAssembler assembler(vcodec == AV_CODEC_ID_H264   ? qelm::PullVideoCodec::kH264
                                        : vcodec == AV_CODEC_ID_HEVC ? qelm::PullVideoCodec::kH265
                                                                     : qelm::PullVideoCodec::kOther,
                                        vtb.num, vtb.den);
    auto fillVideo = [&] {
        if (vi < 0)
            return;
        const AVStream* st = fc->streams[vi];
        const AVCodecParameters* cp = st->codecpar;
        mp.hasVideo = 1;
        const char* name = cp->codec_id == AV_CODEC_ID_H264 ? "H264" : cp->codec_id == AV_CODEC_ID_HEVC ? "H265" : "MPEG4";
        snprintf(mp.video.codecName, sizeof mp.video.codecName, "%s", name);
        mp.video.width = cp->width;
        mp.video.height = cp->height;
        mp.video.frameRate = RoundRate(st->avg_frame_rate) ? RoundRate(st->avg_frame_rate) : RoundRate(st->r_frame_rate);
        mp.video.bitRate = static_cast<int32_t>(std::clamp<int64_t>(cp->bit_rate, 0, INT32_MAX));
        memset(mp.video.config, 0, sizeof mp.video.config);
        if (cp->codec_id == AV_CODEC_ID_MPEG4) {
            size_t n = cp->extradata_size > 0 ? static_cast<size_t>(cp->extradata_size) : 0;
            if (n <= sizeof mp.video.config) {
                if (n)
                    memcpy(mp.video.config, cp->extradata, n);
                mp.video.configLength = static_cast<int16_t>(n);
            }
        } else {
            mp.video.configLength =
                static_cast<int16_t>(assembler.Shaper().Config(mp.video.config, sizeof mp.video.config));
        }
    };
    qelm::AdtsFramer adts;
    if (vi >= 0 && fc->streams[vi]->codecpar->extradata_size > 0)
        assembler.Shaper().SetExtradata(fc->streams[vi]->codecpar->extradata,
                                        static_cast<size_t>(fc->streams[vi]->codecpar->extradata_size));
    fillVideo();
    if (vi >= 0) {
        // B-frames: the demuxer's probe tells how far pictures run ahead of their showing.
        const int rate = mp.video.frameRate > 0 ? mp.video.frameRate : 25;
        assembler.SetReorderDepth(fc->streams[vi]->codecpar->video_delay, 1000.0 / rate);
    }
    if (ai >= 0) {
        const AVCodecParameters* cp = fc->streams[ai]->codecpar;
        mp.hasAudio = 1;
        bool aac = cp->codec_id == AV_CODEC_ID_AAC;
        snprintf(mp.audio.codecName, sizeof mp.audio.codecName, "%s", aac ? "AAC" : "G711");
        mp.audio.sampleRate = cp->sample_rate;
        mp.audio.bitsPerSample = 16;
        mp.audio.channels = cp->ch_layout.nb_channels;
        if (aac)
            adts.Configure(cp->extradata_size > 0 ? (cp->extradata[0] >> 3) : 2, cp->sample_rate,
                           cp->ch_layout.nb_channels);
    }

    s.Status(StreamPullControl::kStatusConnected, "connected");
    s.Params(mp);

    // Shaped video units go to the queue; new parameter sets refresh the block.
    struct VideoOut : qelm::AccessUnitAssembler::Output {
        Stream& s;
        std::function<void()> refresh;
        VideoOut(Stream& s_, std::function<void()> r) : s(s_), refresh(std::move(r)) {}
        void Unit(const uint8_t* data, size_t size, const MediaFrameHeader& hdr, bool setsChanged) override
        {
            if (setsChanged)
                refresh();
            s.PushVideo(data, size, hdr);
        }
        void Oversized(size_t bytes) override
        {
            qelm::PlatformLog(3, "StreamPullControl: stream %d access unit of over %zu bytes dropped", s.id, bytes);
        }
    } videoOut(s, [&] {
        fillVideo();
        s.Params(mp);
    });

    AVPacket* pkt = av_packet_alloc();
    std::vector<uint8_t> out;
    double lastAudioTs = 0;
    while (pkt && !s.stop) {
        intr.deadline = Clock::now() + kIoTimeout;
        if (av_read_frame(fc, pkt) < 0)
            break;
        const AVStream* st = fc->streams[pkt->stream_index];
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == vi && pkt->size > 0) {
            assembler.Add(pkt->data, static_cast<size_t>(pkt->size), ts, (pkt->flags & AV_PKT_FLAG_KEY) != 0,
                          videoOut);
        } else if (pkt->stream_index == ai && pkt->size > 0) {
            MediaFrameHeader h{};
            h.keyFrame = (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
            h.timeStamp = ts != AV_NOPTS_VALUE ? ToMs(ts, st->time_base) : lastAudioTs;
            lastAudioTs = h.timeStamp;
            if (adts.Enabled()) {   // raw AAC: give it an ADTS header so it stands alone
                if (adts.Frame(pkt->data, static_cast<size_t>(pkt->size), out))
                    s.PushAudio(out.data(), out.size(), h);
            } else {
                s.PushAudio(pkt->data, static_cast<size_t>(pkt->size), h);
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return true;
}

void RunStream(const std::shared_ptr<Stream>& sp)
{
    Stream& s = *sp;
    std::string scheme = SchemeOf(s.url);
    if (scheme == "rtsp") {
        if (!qelm::NetAllowedUrl(s.url, "stream pull")) {
            qelm::PlatformLog(3, "StreamPullControl: stream %d refused: %s", s.id, s.url.c_str());
            s.Status(StreamPullControl::kStatusFailed, "address refused");
            return;
        }
        std::string url = WithCredentials(s.url, s.user, s.password);
        while (!s.stop) {
            bool connected = PullOnce(s, url);
            if (s.stop)
                break;
            s.Status(StreamPullControl::kStatusFailed, connected ? "stream lost" : "connect failed");
            s.Wait(kRetryMs);
        }
        return;
    }
    StreamSchemeHandler handler;
    {
        std::lock_guard<std::mutex> g(g_schemeLock);
        auto it = Schemes().find(scheme);
        if (it != Schemes().end())
            handler = it->second;
    }
    if (!handler) {
        qelm::PlatformLog(3, "StreamPullControl: stream %d: no peer for \"%s\"", s.id, scheme.c_str());
        s.Status(StreamPullControl::kStatusFailed, "no peer for " + scheme);
        return;
    }
    handler(s, s.url, s.user, s.password);
}

} // namespace

StreamPullControl::StreamPullControl() : m_shared(std::make_shared<Shared>())
{
    qelm::LimitMediaAllocations();
}

StreamPullControl::~StreamPullControl()
{
    StopAll();
    std::lock_guard<std::mutex> g(m_shared->lock);
    m_shared->sinks.clear();
}

int32_t StreamPullControl::Advise(IStreamPullEvents* sink)
{
    if (!sink)
        return 0;
    std::lock_guard<std::mutex> g(m_shared->lock);
    int32_t c = m_shared->nextCookie++;
    m_shared->sinks[c] = sink;
    return c;
}

void StreamPullControl::Unadvise(int32_t cookie)
{
    std::lock_guard<std::mutex> g(m_shared->lock);
    m_shared->sinks.erase(cookie);
}

void StreamPullControl::ReapRetired(bool all)
{
    // Called under m_lock.
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (all || (*it)->done) {
            if ((*it)->thread.joinable())
                (*it)->thread.join();
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

int32_t StreamPullControl::AddStream(const std::string& url, const std::string& user, const std::string& password,
                                     int32_t rtpOverRtsp)
{
    int32_t id = StartStream(url, user, password, rtpOverRtsp);
    qelm::Journal::Call("StreamPullControl::AddStream", {url, user, password.empty() ? "" : "***", rtpOverRtsp}, id);
    return id;
}

int32_t StreamPullControl::StartStream(const std::string& url, const std::string& user, const std::string& password,
                                       int32_t rtpOverRtsp)
{
    auto s = std::make_shared<Stream>();
    s->id = g_nextStreamId++;
    s->url = url;
    s->user = user;
    s->password = password;
    s->tcp = rtpOverRtsp != 0;
    s->shared = m_shared;
    std::lock_guard<std::mutex> g(m_lock);
    ReapRetired(false);
    try {
        s->thread = std::thread([s] {
            RunStream(s);
            s->done = true;
        });
    } catch (const std::system_error&) {
        qelm::PlatformLog(3, "StreamPullControl: cannot start stream %d", s->id);
        s->Status(kStatusFailed, "no thread");
        s->done = true;
    }
    m_streams[s->id] = s;
    return s->id;
}

int32_t StreamPullControl::AddStreamEx(const std::string& host, uint16_t port, const std::string& streamName,
                                       const std::string& user, const std::string& password, int32_t rtpOverRtsp)
{
    bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    std::string url = "rtsp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/" + streamName;
    int32_t id = StartStream(url, user, password, rtpOverRtsp);
    qelm::Journal::Call("StreamPullControl::AddStreamEx",
                        {host, port, streamName, user, password.empty() ? "" : "***", rtpOverRtsp}, id);
    return id;
}

int32_t StreamPullControl::DelStream(int32_t streamId)
{
    std::shared_ptr<Stream> s;
    {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_streams.find(streamId);
        if (it != m_streams.end()) {
            s = it->second;
            m_streams.erase(it);
            s->RequestStop();
            m_retired.push_back(s);   // joined later: the call must not wait
        }
        ReapRetired(false);
    }
    qelm::Journal::Call("StreamPullControl::DelStream", {streamId}, s ? 0 : -1);
    return s ? 0 : -1;
}

int32_t StreamPullControl::StopAll()
{
    std::lock_guard<std::mutex> g(m_lock);
    for (auto& [id, s] : m_streams) {
        s->RequestStop();
        m_retired.push_back(s);
    }
    m_streams.clear();
    ReapRetired(true);
    qelm::Journal::Call("StreamPullControl::StopAll", {}, 0);
    return 0;
}

int32_t StreamPullControl::RegisterReader(int32_t streamId, int32_t readerId)
{
    qelm::Journal::Call("StreamPullControl::RegisterReader", {streamId, readerId}, 0);
    return 0;
}

int32_t StreamPullControl::UnregisterReader(int32_t streamId, int32_t readerId)
{
    qelm::Journal::Call("StreamPullControl::UnregisterReader", {streamId, readerId}, 0);
    return 0;
}

int32_t StreamPullControl::ReadFrame(bool video, int32_t streamId, uint8_t* buffer, int32_t* length,
                                     uint8_t* header, int32_t* headerLength)
{
    if (!buffer || !length || !header || !headerLength || *length <= 0 ||
        *headerLength < static_cast<int32_t>(sizeof(MediaFrameHeader)))
        return -2;
    std::shared_ptr<Stream> s;
    {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_streams.find(streamId);
        if (it == m_streams.end())
            return -1;
        s = it->second;
    }
    Frame f;
    {
        std::lock_guard<std::mutex> g(s->qLock);
        auto& q = video ? s->video : s->audio;
        if (q.frames.empty())
            return -1;
        f = std::move(q.frames.front());
        q.frames.pop_front();
        q.bytes -= f.data.size();
    }
    if (f.data.size() > static_cast<size_t>(*length)) {
        qelm::PlatformLog(3, "StreamPullControl: stream %d frame of %zu bytes dropped, buffer %d", streamId,
                          f.data.size(), *length);
        return -3;
    }
    memcpy(buffer, f.data.data(), f.data.size());
    memcpy(header, &f.hdr, sizeof f.hdr);
    *length = static_cast<int32_t>(f.data.size());
    *headerLength = sizeof f.hdr;
    if (qelm::Journal::Enabled())
        qelm::Journal::Call(video ? "StreamPullControl::ReadVideoFrame" : "StreamPullControl::ReadAudioFrame",
                            {streamId, *length, f.hdr.keyFrame, f.hdr.timeStamp}, 0);
    return 0;
}

int32_t StreamPullControl::ReadVideoFrame(int32_t streamId, int32_t, uint8_t* buffer, int32_t* length,
                                          uint8_t* header, int32_t* headerLength)
{
    return ReadFrame(true, streamId, buffer, length, header, headerLength);
}

int32_t StreamPullControl::ReadAudioFrame(int32_t streamId, int32_t, uint8_t* buffer, int32_t* length,
                                          uint8_t* header, int32_t* headerLength)
{
    return ReadFrame(false, streamId, buffer, length, header, headerLength);
}

int32_t StreamPullControl::SendPtzCommand(int32_t streamId, const std::string& xml)
{
    qelm::Journal::Call("StreamPullControl::SendPtzCommand", {streamId, xml}, 0);
    return 0;
}

int32_t StreamPullControl::Speak(int32_t streamId, int32_t on)
{
    qelm::Journal::Call("StreamPullControl::Speak", {streamId, on}, 0);
    return 0;
}

void StreamPullControl::RegisterSchemeHandler(const std::string& scheme, StreamSchemeHandler handler)
{
    std::lock_guard<std::mutex> g(g_schemeLock);
    Schemes()[Lower(scheme)] = std::move(handler);
}

void StreamPullControl::UnregisterSchemeHandler(const std::string& scheme)
{
    std::lock_guard<std::mutex> g(g_schemeLock);
    Schemes().erase(Lower(scheme));
}
