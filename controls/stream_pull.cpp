// Stand-in of the closed stream pull control: one worker thread per stream
// runs libavformat's RTSP client (or a registered scheme handler), reconnects
// on loss, and hands frames to the readers through bounded queues.
#include "controls/stream_pull.h"

#include "controls/journal.h"
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
constexpr size_t kMaxAccessUnit = 4 << 20;   // a larger unit is handed on as it is
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

// The NAL units of an Annex-B block (payloads without start codes).
std::vector<std::pair<const uint8_t*, size_t>> SplitAnnexB(const uint8_t* d, size_t n)
{
    std::vector<std::pair<const uint8_t*, size_t>> out;
    size_t i = 0;
    auto findStart = [&](size_t from, size_t* scLen) -> size_t {
        for (size_t k = from; k + 3 <= n; ++k) {
            if (d[k] == 0 && d[k + 1] == 0) {
                if (d[k + 2] == 1) {
                    *scLen = 3;
                    return k;
                }
                if (k + 4 <= n && d[k + 2] == 0 && d[k + 3] == 1) {
                    *scLen = 4;
                    return k;
                }
            }
        }
        return n;
    };
    size_t sc = 0;
    i = findStart(0, &sc);
    if (i == n) {   // no start code: take the block as one unit
        if (n)
            out.emplace_back(d, n);
        return out;
    }
    while (i < n) {
        size_t begin = i + sc;
        size_t nextSc = 0;
        size_t next = findStart(begin, &nextSc);
        size_t end = next;
        while (end > begin && d[end - 1] == 0 && next != n)   // trailing zeros belong to the next start code
            --end;
        if (end > begin)
            out.emplace_back(d + begin, end - begin);
        i = next;
        sc = nextSc;
    }
    return out;
}

const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

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

    std::mutex qLock;
    std::deque<Frame> video, audio;
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

    void Push(std::deque<Frame>& q, size_t cap, const uint8_t* data, size_t len, const MediaFrameHeader& hdr)
    {
        if (!data || !len || len > 0x7fffffff)
            return;
        Frame f{std::vector<uint8_t>(data, data + len), hdr};
        std::lock_guard<std::mutex> g(qLock);
        if (q.size() >= cap) {   // nobody reads: keep the newest
            q.pop_front();
            ++dropped;
        }
        q.push_back(std::move(f));
    }
    void PushVideo(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) override
    {
        Push(video, kMaxVideoFrames, data, len, hdr);
    }
    void PushAudio(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) override
    {
        Push(audio, kMaxAudioFrames, data, len, hdr);
    }
};

namespace {

using Stream = StreamPullControl::Stream;

struct Interrupt {
    Stream* stream;
    Clock::time_point deadline;
};

int InterruptCb(void* p)
{
    auto* i = static_cast<Interrupt*>(p);
    return i->stream->stop.load() || Clock::now() > i->deadline;
}

// Turns the demuxer's video packets into Annex-B access units with 4-byte
// start codes, without delimiters, parameter sets in front of key frames.
class VideoShaper {
public:
    explicit VideoShaper(AVCodecID codec) : m_hevc(codec == AV_CODEC_ID_HEVC), m_nal(codec == AV_CODEC_ID_H264 || m_hevc) {}

    void SetExtradata(const uint8_t* d, int n)
    {
        if (!m_nal || !d || n <= 0 || d[0] == 1)   // avcC/hvcC: wait for in-band sets
            return;
        for (auto& [p, len] : SplitAnnexB(d, static_cast<size_t>(n)))
            Remember(p, len);
    }

    // The parameter-set block for VideoParam (0 bytes when it cannot fit).
    size_t Config(uint8_t* out, size_t cap) const
    {
        size_t n = 0;
        for (const auto* set : {&m_vps, &m_sps, &m_pps}) {
            if (set->empty())
                continue;
            if (n + 4 + set->size() > cap)
                return 0;
            static const uint8_t sc[4] = {0, 0, 0, 1};
            memcpy(out + n, sc, 4);
            memcpy(out + n + 4, set->data(), set->size());
            n += 4 + set->size();
        }
        return n;
    }

    // Shapes one packet into out; returns true for a key frame.
    bool Shape(const uint8_t* d, size_t n, std::vector<uint8_t>& out, bool* setsChanged)
    {
        out.clear();
        *setsChanged = false;
        if (!m_nal) {
            out.assign(d, d + n);
            return false;
        }
        bool key = false, hasSps = false;
        auto units = SplitAnnexB(d, n);
        for (auto& [p, len] : units) {
            int t = Type(p);
            if (IsSps(t))
                hasSps = true;
            if (IsKey(t))
                key = true;
            if (IsParamSet(t))
                *setsChanged |= Remember(p, len);
        }
        if (key && !hasSps)
            for (const auto* set : {&m_vps, &m_sps, &m_pps})
                if (!set->empty())
                    Append(out, set->data(), set->size());
        for (auto& [p, len] : units)
            if (!IsAud(Type(p)))
                Append(out, p, len);
        return key;
    }

private:
    int Type(const uint8_t* p) const { return m_hevc ? (p[0] >> 1) & 0x3f : p[0] & 0x1f; }
    bool IsAud(int t) const { return m_hevc ? t == 35 : t == 9; }
    bool IsSps(int t) const { return m_hevc ? t == 33 : t == 7; }
    bool IsKey(int t) const { return m_hevc ? (t >= 16 && t <= 21) : t == 5; }
    bool IsParamSet(int t) const { return m_hevc ? (t >= 32 && t <= 34) : (t == 7 || t == 8); }

    bool Remember(const uint8_t* p, size_t len)
    {
        int t = Type(p);
        std::vector<uint8_t>* set = nullptr;
        if (m_hevc)
            set = t == 32 ? &m_vps : t == 33 ? &m_sps : t == 34 ? &m_pps : nullptr;
        else
            set = t == 7 ? &m_sps : t == 8 ? &m_pps : nullptr;
        if (!set || (set->size() == len && memcmp(set->data(), p, len) == 0))
            return false;
        set->assign(p, p + len);
        return true;
    }

    static void Append(std::vector<uint8_t>& out, const uint8_t* p, size_t len)
    {
        static const uint8_t sc[4] = {0, 0, 0, 1};
        out.insert(out.end(), sc, sc + 4);
        out.insert(out.end(), p, p + len);
    }

    bool m_hevc;
    bool m_nal;
    std::vector<uint8_t> m_vps, m_sps, m_pps;
};

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
    int r = avformat_open_input(&fc, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        if (!s.stop) {
            char err[128];
            av_strerror(r, err, sizeof err);
            qelm::PlatformLog(3, "StreamPullControl: stream %d open failed: %s\n", s.id, err);
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
        qelm::PlatformLog(3, "StreamPullControl: stream %d has no usable media\n", s.id);
        avformat_close_input(&fc);
        return false;
    }

    StreamMediaParam mp{};
    memcpy(mp.marker, kStreamMediaMarker, sizeof kStreamMediaMarker);
    VideoShaper shaper(vi >= 0 ? fc->streams[vi]->codecpar->codec_id : AV_CODEC_ID_NONE);
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
            mp.video.configLength = static_cast<int16_t>(shaper.Config(mp.video.config, sizeof mp.video.config));
        }
    };
    uint8_t adts[7] = {};
    if (vi >= 0)
        shaper.SetExtradata(fc->streams[vi]->codecpar->extradata, fc->streams[vi]->codecpar->extradata_size);
    fillVideo();
    if (ai >= 0) {
        const AVCodecParameters* cp = fc->streams[ai]->codecpar;
        mp.hasAudio = 1;
        bool aac = cp->codec_id == AV_CODEC_ID_AAC;
        snprintf(mp.audio.codecName, sizeof mp.audio.codecName, "%s", aac ? "AAC" : "G711");
        mp.audio.sampleRate = cp->sample_rate;
        mp.audio.bitsPerSample = 16;
        mp.audio.channels = cp->ch_layout.nb_channels;
        if (aac) {
            int objectType = cp->extradata_size > 0 ? (cp->extradata[0] >> 3) : 2;
            if (objectType < 1 || objectType > 4)
                objectType = 2;
            int rateIndex = 4;
            for (int k = 0; k < 13; ++k)
                if (kAacRates[k] == cp->sample_rate)
                    rateIndex = k;
            int ch = std::clamp(cp->ch_layout.nb_channels, 1, 7);
            adts[0] = 0xFF;
            adts[1] = 0xF1;
            adts[2] = static_cast<uint8_t>(((objectType - 1) << 6) | (rateIndex << 2) | (ch >> 2));
            adts[3] = static_cast<uint8_t>((ch & 3) << 6);
        }
    }

    s.Status(StreamPullControl::kStatusConnected, "connected");
    s.Params(mp);

    AVPacket* pkt = av_packet_alloc();
    std::vector<uint8_t> out, au;
    double lastVideoTs = 0, lastAudioTs = 0;
    int64_t auTs = AV_NOPTS_VALUE;
    bool auKeyFlag = false;
    const AVCodecID vcodec = vi >= 0 ? fc->streams[vi]->codecpar->codec_id : AV_CODEC_ID_NONE;
    const bool nalCodec = vcodec == AV_CODEC_ID_H264 || vcodec == AV_CODEC_ID_HEVC;
    auto flushVideo = [&] {
        bool changed = false;
        bool key = shaper.Shape(au.data(), au.size(), out, &changed);
        if (changed) {
            fillVideo();
            s.Params(mp);
        }
        MediaFrameHeader h{};
        h.keyFrame = (key || (!nalCodec && auKeyFlag)) ? 1 : 0;
        h.timeStamp = auTs != AV_NOPTS_VALUE ? ToMs(auTs, fc->streams[vi]->time_base) : lastVideoTs;
        lastVideoTs = h.timeStamp;
        if (!out.empty())
            s.PushVideo(out.data(), out.size(), h);
        au.clear();
        auKeyFlag = false;
    };
    while (pkt && !s.stop) {
        intr.deadline = Clock::now() + kIoTimeout;
        if (av_read_frame(fc, pkt) < 0)
            break;
        const AVStream* st = fc->streams[pkt->stream_index];
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == vi && pkt->size > 0) {
            // The depacketizer gives one NAL unit (or a few) per packet: collect
            // the units of one time stamp into one access unit.
            if (!au.empty() && ts != AV_NOPTS_VALUE && ts != auTs)
                flushVideo();
            if (ts != AV_NOPTS_VALUE)
                auTs = ts;
            auKeyFlag |= (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            au.insert(au.end(), pkt->data, pkt->data + pkt->size);
            if (!nalCodec || au.size() > kMaxAccessUnit)
                flushVideo();
        } else if (pkt->stream_index == ai && pkt->size > 0) {
            MediaFrameHeader h{};
            h.keyFrame = (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
            h.timeStamp = ts != AV_NOPTS_VALUE ? ToMs(ts, st->time_base) : lastAudioTs;
            lastAudioTs = h.timeStamp;
            if (adts[0]) {   // raw AAC: give it an ADTS header so it stands alone
                size_t len = static_cast<size_t>(pkt->size) + 7;
                if (len < 0x2000) {
                    out.assign(adts, adts + 7);
                    out[3] = static_cast<uint8_t>((out[3] & 0xC0) | ((len >> 11) & 3));
                    out[4] = static_cast<uint8_t>((len >> 3) & 0xFF);
                    out[5] = static_cast<uint8_t>(((len & 7) << 5) | 0x1F);
                    out[6] = 0xFC;
                    out.insert(out.end(), pkt->data, pkt->data + pkt->size);
                    s.PushAudio(out.data(), out.size(), h);
                }
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
            qelm::PlatformLog(3, "StreamPullControl: stream %d refused: %s\n", s.id, s.url.c_str());
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
        qelm::PlatformLog(3, "StreamPullControl: stream %d: no peer for \"%s\"\n", s.id, scheme.c_str());
        s.Status(StreamPullControl::kStatusFailed, "no peer for " + scheme);
        return;
    }
    handler(s, s.url, s.user, s.password);
}

} // namespace

StreamPullControl::StreamPullControl() : m_shared(std::make_shared<Shared>()) {}

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
        qelm::PlatformLog(3, "StreamPullControl: cannot start stream %d\n", s->id);
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
        if (q.empty())
            return -1;
        f = std::move(q.front());
        q.pop_front();
    }
    if (f.data.size() > static_cast<size_t>(*length)) {
        qelm::PlatformLog(3, "StreamPullControl: stream %d frame of %zu bytes dropped, buffer %d\n", streamId,
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
