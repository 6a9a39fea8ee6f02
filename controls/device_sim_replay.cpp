// The device simulator's replays: a device file, or a recorder channel's
// files from a time, read from their real source files with libavformat and
// streamed as paced replay blocks (event 5) from a worker thread.
#include "controls/device_sim.h"

#include "controls/journal.h"
#include "controls/media_params.h"

#include <QByteArray>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;
using CorePtr = std::shared_ptr<DeviceSimulator::Core>;

constexpr int kHeadSize = 20;
constexpr int kKindByte = 14;
constexpr int kReplayDataType = 4;      // event 5 type of replay blocks
constexpr int kNvrEndCode = 7;          // event 7: the recorder replay ended
constexpr int kCmdContinue = 1, kCmdPause = 2, kCmdStop = 3, kCmdFast = 4, kCmdStopReplay = 7, kCmdSlow = 8,
              kCmdSeek = 9, kCmdNormal = 12;

std::string Str(const char* s)
{
    return s ? std::string(s) : std::string();
}

// Seconds since midnight of "YYYYmmdd HH:MM:SS"; -1 when malformed.
int StartSecond(const std::string& t)
{
    int h = 0, m = 0, s = 0;
    if (t.size() < 17 || std::sscanf(t.c_str() + 9, "%2d:%2d:%2d", &h, &m, &s) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

// "YYYYmmddHHMMSS" -> date "YYYYmmdd" and second of the day; false when malformed.
bool ParseTime(const std::string& t, std::string* date, int* second)
{
    int h = 0, m = 0, s = 0;
    if (t.size() < 14 || std::sscanf(t.c_str() + 8, "%2d%2d%2d", &h, &m, &s) != 3 || h > 23 || m > 59 || s > 59)
        return false;
    *date = t.substr(0, 8);
    *second = h * 3600 + m * 60 + s;
    return true;
}

// One open source: its streams, the bitstream filter that turns the video
// into Annex B, and the parameters a player needs.
struct Source {
    AVFormatContext* fc = nullptr;
    AVBSFContext* bsf = nullptr;
    int video = -1, audio = -1;
    VideoParam vp{};
    AudioParam ap{};
    int seconds = 0;

    ~Source()
    {
        av_bsf_free(&bsf);
        avformat_close_input(&fc);
    }

    bool Open(const std::string& path)
    {
        if (path.empty() || avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0)
            return false;
        if (avformat_find_stream_info(fc, nullptr) < 0)
            return false;
        video = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        audio = av_find_best_stream(fc, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (video < 0 && audio < 0)
            return false;
        if (fc->duration > 0)
            seconds = int(fc->duration / AV_TIME_BASE);
        if (video >= 0) {
            const AVCodecParameters* par = fc->streams[video]->codecpar;
            const char* name = par->codec_id == AV_CODEC_ID_H264   ? "H264"
                               : par->codec_id == AV_CODEC_ID_HEVC ? "H265"
                               : par->codec_id == AV_CODEC_ID_MPEG4 ? "MPEG4"
                                                                    : "";
            std::snprintf(vp.codecName, sizeof vp.codecName, "%s", name);
            vp.width = par->width;
            vp.height = par->height;
            const AVRational fr = fc->streams[video]->avg_frame_rate;
            vp.frameRate = fr.den > 0 ? std::max(1, fr.num / fr.den) : 25;
            vp.bitRate = int32_t(std::min<int64_t>(par->bit_rate, INT32_MAX));
            const char* filter = par->codec_id == AV_CODEC_ID_H264   ? "h264_mp4toannexb"
                                 : par->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb"
                                                                     : nullptr;
            const AVBitStreamFilter* f = filter ? av_bsf_get_by_name(filter) : nullptr;
            if (f && av_bsf_alloc(f, &bsf) == 0) {
                avcodec_parameters_copy(bsf->par_in, par);
                bsf->time_base_in = fc->streams[video]->time_base;
                if (av_bsf_init(bsf) < 0)
                    av_bsf_free(&bsf);
            }
            const AVCodecParameters* out = bsf ? bsf->par_out : par;
            if (out->extradata && out->extradata_size >= 4 && out->extradata[0] == 0 && out->extradata[1] == 0) {
                const int n = std::min(out->extradata_size, int(sizeof vp.config));
                std::memcpy(vp.config, out->extradata, size_t(n));
                vp.configLength = int16_t(n);
            }
        }
        if (audio >= 0) {
            const AVCodecParameters* par = fc->streams[audio]->codecpar;
            const bool alaw = par->codec_id == AV_CODEC_ID_PCM_ALAW;
            const bool g711 = par->codec_id == AV_CODEC_ID_PCM_MULAW || alaw;
            std::snprintf(ap.codecName, sizeof ap.codecName, "%s",
                          alaw ? "G711A" : g711 ? "G711" : par->codec_id == AV_CODEC_ID_AAC ? "AAC" : "");
            ap.sampleRate = par->sample_rate;
            ap.bitsPerSample = g711 ? 8 : 16;
            ap.channels = par->ch_layout.nb_channels;
        }
        return true;
    }

    // Milliseconds of a packet of stream s.
    int64_t Ms(const AVPacket* pkt) const
    {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ts == AV_NOPTS_VALUE)
            return 0;
        const AVStream* st = fc->streams[pkt->stream_index];
        int64_t ms = av_rescale_q(ts, st->time_base, AVRational{1, 1000});
        if (st->start_time != AV_NOPTS_VALUE)
            ms -= av_rescale_q(st->start_time, st->time_base, AVRational{1, 1000});
        return std::max<int64_t>(0, ms);
    }

    void SeekMs(int64_t ms)
    {
        av_seek_frame(fc, -1, av_rescale(ms, AV_TIME_BASE, 1000), AVSEEK_FLAG_BACKWARD);
        if (bsf)
            av_bsf_flush(bsf);
    }
};

std::string ParamsXml(const VideoParam& v, const AudioParam& a, int seconds)
{
    const QByteArray vb = QByteArray(reinterpret_cast<const char*>(&v), sizeof v).toBase64();
    const QByteArray ab = QByteArray(reinterpret_cast<const char*>(&a), sizeof a).toBase64();
    return "<xml><VideoParam>" + vb.toStdString() + "</VideoParam><AudioParam>" + ab.toStdString() +
           "</AudioParam><VideoSeconds>" + std::to_string(seconds) + "</VideoSeconds></xml>";
}


} // namespace

// One streaming replay and its worker.
struct ReplaySession {
    // Set by the control's calls, read by the worker.
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    bool paused = false;
    int speedNum = 1, speedDen = 1;
    int64_t seekSecond = -1;     // recorder: second of the day; file: second of the file

    CorePtr core;
    int32_t id = 0;
    bool nvr = false;
    int32_t channel = 0;
    std::string address;
    int32_t port = 0;
    std::vector<SimRecordFile> files;  // file replay: one; recorder: the channel's day in time order
    int64_t startSecond = 0;           // recorder: second of the day to start from
    std::thread worker;

    void Command(int code, int value, int64_t seek)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            switch (code) {
            case kCmdContinue: paused = false; break;
            case kCmdPause: paused = true; break;
            case kCmdStop:
            case kCmdStopReplay: stop = true; break;
            case kCmdFast:
                if (value == 0)
                    paused = true;
                else if (value == 1)
                    paused = false;
                else if (value > 1)
                    speedNum = std::min(value, 32), speedDen = 1;
                break;
            case kCmdSlow:
                if (value > 1)
                    speedNum = 1, speedDen = std::min(value, 32);
                break;
            case kCmdNormal: speedNum = speedDen = 1; break;
            case kCmdSeek: seekSecond = seek; break;
            default: break;
            }
        }
        cv.notify_all();
    }

    void Stop()
    {
        Command(kCmdStop, 0, -1);
        if (worker.joinable())
            worker.join();
    }

    // Waits until media time `ms` (scaled by the speed) is due; false on stop
    // or a seek.
    bool WaitUntil(Clock::time_point& base, int64_t& baseMs, int64_t ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (stop || seekSecond >= 0)
                return false;
            if (paused) {
                cv.wait(lock);
                base = Clock::now();
                baseMs = ms;
                continue;
            }
            const auto due = base + std::chrono::microseconds((ms - baseMs) * 1000 * speedDen / speedNum);
            if (Clock::now() >= due)
                return true;
            cv.wait_until(lock, due);
        }
    }

    void Send(int kind, const uint8_t* data, int size, int keyFrame, double stampMs)
    {
        SimEvent e;
        e.kind = 5;
        e.a = 0;
        e.b = kReplayDataType;
        e.bytes.assign(kHeadSize, 0);
        e.bytes[kKindByte] = uint8_t(kind);
        e.bytes.insert(e.bytes.end(), data, data + size);
        MediaFrameHeader h{};
        h.keyFrame = keyFrame;
        h.timeStamp = stampMs;
        e.header.resize(sizeof h);
        std::memcpy(e.header.data(), &h, sizeof h);
        simdetail::PostEvent(core, id, std::move(e));
    }

    // Streams one source from offsetMs; false when stopped. A seek leaves
    // seekSecond set for the caller.
    bool Stream(Source& src, int64_t offsetMs, int64_t dayBaseMs)
    {
        src.SeekMs(offsetMs);
        AVPacket* pkt = av_packet_alloc();
        Clock::time_point base = Clock::now();
        int64_t baseMs = -1;
        bool ok = true;
        while (av_read_frame(src.fc, pkt) >= 0) {
            const bool isVideo = pkt->stream_index == src.video;
            const bool isAudio = pkt->stream_index == src.audio;
            if (!isVideo && !isAudio) {
                av_packet_unref(pkt);
                continue;
            }
            const int64_t ms = src.Ms(pkt);
            if (ms < offsetMs && !(isVideo && (pkt->flags & AV_PKT_FLAG_KEY))) {
                av_packet_unref(pkt);
                continue;
            }
            if (baseMs < 0)
                baseMs = ms;
            if (!WaitUntil(base, baseMs, ms)) {
                av_packet_unref(pkt);
                ok = false;
                break;
            }
            const int key = pkt->flags & AV_PKT_FLAG_KEY ? 1 : 0;
            const int kind = nvr ? (isVideo ? 2 : 3) : (isVideo ? 0 : 1);
            if (isVideo && src.bsf) {
                if (av_bsf_send_packet(src.bsf, pkt) == 0)
                    while (av_bsf_receive_packet(src.bsf, pkt) == 0) {
                        Send(kind, pkt->data, pkt->size, key, double(dayBaseMs + ms));
                        av_packet_unref(pkt);
                    }
            } else {
                Send(kind, pkt->data, pkt->size, key, double(dayBaseMs + ms));
            }
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        return ok;
    }

    void Run()
    {
        if (!nvr) {
            Source src;
            if (!files.empty() && src.Open(files[0].source)) {
                for (;;) {
                    int64_t offset = 0;
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        if (seekSecond >= 0)
                            offset = seekSecond * 1000, seekSecond = -1;
                    }
                    if (Stream(src, offset, 0))
                        break;
                    std::lock_guard<std::mutex> lock(mutex);
                    if (stop)
                        break;
                }
            }
            return;
        }
        int64_t from = startSecond;
        for (;;) {
            bool restarted = false;
            for (const SimRecordFile& f : files) {
                const int start = StartSecond(f.start);
                if (start < 0 || start + f.seconds <= from)
                    continue;
                Source src;
                if (!src.Open(f.source))
                    continue;
                const int64_t offset = from > start ? (from - start) * 1000 : 0;
                if (!Stream(src, offset, int64_t(start) * 1000)) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (stop)
                        return;
                    from = seekSecond;
                    seekSecond = -1;
                    restarted = true;
                    break;
                }
                from = start + f.seconds;
            }
            if (!restarted)
                break;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stop)
                return;
        }
        simdetail::PostEvent(core, id, SimEvent{7, kNvrEndCode, channel, {}, {}, {}});
    }
};

struct DeviceControl::Replays {
    std::mutex mutex;
    std::map<std::pair<int32_t, int32_t>, std::shared_ptr<ReplaySession>> sessions; // (id, channel; 0 file)

    ~Replays()
    {
        for (auto& [key, s] : sessions)
            End(s);
    }

    static void End(const std::shared_ptr<ReplaySession>& s)
    {
        if (!s)
            return;
        s->Stop();
        if (s->nvr)
            DeviceSimulator::Instance().SetActivity(s->address, s->port, DeviceSimulator::kActivityNvrReplay, false);
    }

    std::shared_ptr<ReplaySession> Take(int32_t id, int32_t channel)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = sessions.find({id, channel});
        if (it == sessions.end())
            return nullptr;
        auto s = it->second;
        sessions.erase(it);
        return s;
    }

    std::shared_ptr<ReplaySession> Find(int32_t id, int32_t channel)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = sessions.find({id, channel});
        return it == sessions.end() ? nullptr : it->second;
    }

    void Start(const std::shared_ptr<ReplaySession>& s)
    {
        End(Take(s->id, s->nvr ? s->channel : 0));
        if (s->nvr)
            DeviceSimulator::Instance().SetActivity(s->address, s->port, DeviceSimulator::kActivityNvrReplay, true);
        s->worker = std::thread([s] { s->Run(); });
        std::lock_guard<std::mutex> lock(mutex);
        sessions[{s->id, s->nvr ? s->channel : 0}] = s;
    }
};

namespace {

// Counted, so that two downloads on one device each hold it busy. Never
// destroyed: workers may still end after static destruction began.
struct ActivityTable {
    std::mutex mutex;
    std::map<std::tuple<std::string, int32_t, int32_t>, int32_t> count;
};
ActivityTable& Activities()
{
    static ActivityTable* table = new ActivityTable;
    return *table;
}

std::shared_ptr<DeviceControl::Replays>& ReplaysOf(std::shared_ptr<DeviceControl::Replays>& r)
{
    if (!r)
        r = std::make_shared<DeviceControl::Replays>();
    return r;
}

} // namespace

void DeviceSimulator::SetActivity(const std::string& address, int32_t port, Activity what, bool on)
{
    ActivityTable& t = Activities();
    std::lock_guard<std::mutex> lock(t.mutex);
    int32_t& n = t.count[{address, port, int32_t(what)}];
    n = std::max(0, n + (on ? 1 : -1));
}

bool DeviceSimulator::HasActivity(const std::string& address, int32_t port, Activity what) const
{
    ActivityTable& t = Activities();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.count.find({address, port, int32_t(what)});
    return it != t.count.end() && it->second > 0;
}

int32_t DeviceControl::StartFileReplay(int32_t auxPtzId, const char* remotePath)
{
    const std::optional<SimDevice> dev = simdetail::OnlineDevice(*m_core, auxPtzId);
    simdetail::RealRefusal(*m_core, auxPtzId, "replay of a device file");
    const SimRecordFile* file = nullptr;
    if (dev)
        for (const SimRecordFile& f : dev->files)
            if (f.path == Str(remotePath))
                file = &f;
    const int32_t result = file ? 0 : -1;
    qelm::Journal::Call("CAuxPtzCtrl::StartFileReplay", {auxPtzId, remotePath}, result);
    if (!file)
        return result;
    auto s = std::make_shared<ReplaySession>();
    s->core = m_core;
    s->id = auxPtzId;
    s->files.push_back(*file);
    s->address = dev->address;
    s->port = dev->port;
    Source src;
    VideoParam v{};
    AudioParam a{};
    int seconds = file->seconds;
    if (src.Open(file->source)) {
        v = src.vp;
        a = src.ap;
        if (src.seconds > 0)
            seconds = src.seconds;
    } else {
        // No real source: parameters only, as a device without the file's media would.
        std::snprintf(v.codecName, sizeof v.codecName, "%s", "H264");
        v.width = 1280;
        v.height = 720;
        v.frameRate = 25;
    }
    simdetail::PostEvent(m_core, auxPtzId, simdetail::TextEvent(6, 1, ParamsXml(v, a, seconds)));
    if (!file->source.empty())
        ReplaysOf(m_replays)->Start(s);
    return result;
}

int32_t DeviceControl::ControlReplay(int32_t auxPtzId, int32_t code, int32_t value)
{
    qelm::Journal::Call("CAuxPtzCtrl::ControlReplay", {auxPtzId, code, value}, 0);
    if (!m_replays)
        return 0;
    if (code == kCmdStopReplay || code == kCmdStop)
        Replays::End(m_replays->Take(auxPtzId, 0));
    else if (auto s = m_replays->Find(auxPtzId, 0))
        s->Command(code, value, code == kCmdSeek ? value : -1);
    return 0;
}

uint32_t DeviceControl::Dispatch22(int32_t auxPtzId)
{
    qelm::Journal::Call("CAuxPtzCtrl::Dispatch22", {auxPtzId}, 0);
    return 0;
}

uint32_t DeviceControl::Dispatch23(int32_t auxPtzId)
{
    const std::optional<SimDevice> dev = simdetail::OnlineDevice(*m_core, auxPtzId);
    const uint32_t result = dev && dev->directReplay ? 1 : 0;
    qelm::Journal::Call("CAuxPtzCtrl::Dispatch23", {auxPtzId}, result);
    return result;
}

int32_t DeviceControl::StartNvrReplay(int32_t auxPtzId, int32_t channel, const char* time)
{
    const std::optional<SimDevice> dev = simdetail::OnlineDevice(*m_core, auxPtzId);
    simdetail::RealRefusal(*m_core, auxPtzId, "replay by time");
    std::string date;
    int second = 0;
    int32_t result = dev && ParseTime(Str(time), &date, &second) ? 0 : -1;
    if (result == 0 && DeviceSimulator::Instance().HasActivity(dev->address, dev->port,
                                                               DeviceSimulator::kActivityTimeDownload))
        result = -6;
    qelm::Journal::Call("CAuxPtzCtrl::StartNvrReplay", {auxPtzId, channel, time}, result);
    if (result != 0)
        return result;
    auto s = std::make_shared<ReplaySession>();
    s->core = m_core;
    s->id = auxPtzId;
    s->nvr = true;
    s->channel = channel;
    s->address = dev->address;
    s->port = dev->port;
    s->startSecond = second;
    for (const SimRecordFile& f : dev->files)
        if (f.channel == channel && f.start.compare(0, 8, date) == 0 && !f.source.empty())
            s->files.push_back(f);
    std::sort(s->files.begin(), s->files.end(),
              [](const SimRecordFile& a, const SimRecordFile& b) { return a.start < b.start; });
    VideoParam v{};
    AudioParam a{};
    for (const SimRecordFile& f : s->files) {
        Source src;
        if (StartSecond(f.start) + f.seconds > second && src.Open(f.source)) {
            v = src.vp;
            a = src.ap;
            break;
        }
    }
    if (v.codecName[0])
        simdetail::PostEvent(m_core, auxPtzId, simdetail::TextEvent(6, 4, ParamsXml(v, a, 0)));
    ReplaysOf(m_replays)->Start(s);
    return result;
}

int32_t DeviceControl::ControlNvrReplay(int32_t auxPtzId, int32_t a, int32_t b, int32_t c, const char* time)
{
    qelm::Journal::Call("CAuxPtzCtrl::ControlNvrReplay", {auxPtzId, a, b, c, time}, 0);
    if (!m_replays)
        return 0;
    if (b == kCmdStopReplay || b == kCmdStop) {
        Replays::End(m_replays->Take(auxPtzId, a));
        return 0;
    }
    auto s = m_replays->Find(auxPtzId, a);
    if (!s)
        return 0;
    std::string date;
    int second = -1;
    if (b == kCmdSeek && !ParseTime(Str(time), &date, &second))
        return 0;
    s->Command(b, c, second);
    return 0;
}
