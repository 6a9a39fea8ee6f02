// The device control's downloads: a device file copied from its source, and a
// recorder channel's time span remuxed from its sources into one MP4.
#include "controls/device_sim.h"

#include "controls/journal.h"
#include "platform/logsink.h"

#include <QDateTime>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <tuple>
#include <thread>
#include <vector>

namespace {

using CorePtr = std::shared_ptr<DeviceSimulator::Core>;

struct Job {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
};

void Finish(Job& job)
{
    job.stop->store(true);
    if (job.thread.joinable())
        job.thread.join();
}

SimEvent StatusEvent(int32_t type, std::string text = {}) { return simdetail::TextEvent(1, type, std::move(text)); }

SimEvent ProgressEvent(int32_t value) { return simdetail::TextEvent(8, value); }

std::string ProgressText(uint64_t done, uint64_t total)
{
    return "<RESPONSE_PARAM start=\"" + std::to_string(done) + "\" filesize=\"" + std::to_string(total) + "\" />";
}

// Copies src to dst in blocks, reporting each; ends with 16 or 17, or silently when stopped.
void CopyFile(const CorePtr& core, int32_t id, std::string src, std::string dst,
              std::shared_ptr<std::atomic<bool>> stop, std::shared_ptr<std::atomic<int32_t>> percent)
{
    std::ifstream in(src, std::ios::binary);
    std::error_code ec;
    const uintmax_t size = in ? std::filesystem::file_size(src, ec) : 0;
    const uint64_t total = ec ? 0 : uint64_t(size);
    std::ofstream out;
    if (in && !dst.empty())
        out.open(dst, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        qelm::PlatformLog(3, "Device simulator: download of %s to %s failed to open", src.c_str(), dst.c_str());
        percent->store(-1);
        simdetail::PostEvent(core, id, StatusEvent(kDevStatusDownloadFailed));
        return;
    }
    std::vector<char> block(256 * 1024);
    uint64_t done = 0;
    bool ok = true;
    while (!stop->load()) {
        in.read(block.data(), std::streamsize(block.size()));
        const std::streamsize n = in.gcount();
        if (n > 0) {
            out.write(block.data(), n);
            if (!out) {
                ok = false;
                break;
            }
            done += uint64_t(n);
            percent->store(total ? int32_t(done * 100 / total) : 0);
            simdetail::PostEvent(core, id, StatusEvent(kDevStatusDownloadProgress, ProgressText(done, total)));
        }
        if (!in) {
            ok = in.eof();
            break;
        }
    }
    out.close();
    if (stop->load() || !ok || out.fail()) {
        // A partial copy must not pass for the file.
        std::filesystem::remove(dst, ec);
        if (stop->load())
            return;
        percent->store(-1);
        simdetail::PostEvent(core, id, StatusEvent(kDevStatusDownloadFailed));
        return;
    }
    percent->store(100);
    simdetail::PostEvent(core, id, StatusEvent(kDevStatusDownloadDone));
}

// Seconds since the epoch (UTC arithmetic, so days without DST jumps) of
// "YYYYmmddHHMMSS" or "YYYYmmdd HH:MM:SS"; -1 when malformed.
int64_t EpochOf(const std::string& text)
{
    QDateTime t = QDateTime::fromString(QString::fromStdString(text), text.size() == 14 ? "yyyyMMddHHmmss" : "yyyyMMdd HH:mm:ss");
    if (!t.isValid())
        return -1;
    return QDateTime(t.date(), t.time(), Qt::UTC).toSecsSinceEpoch();
}

struct SpanFile {
    std::string source;
    int64_t start = 0; // epoch seconds
    int32_t seconds = 0;
};

// Remuxes the files' packets inside [spanStart, spanEnd) into one MP4.
bool WriteSpan(const CorePtr& core, int32_t id, const std::vector<SpanFile>& files, int64_t spanStart,
               int64_t spanEnd, const std::string& dst, const std::atomic<bool>& stop)
{
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mp4", dst.c_str()) < 0 || !out)
        return false;
    struct OutStream {
        int index;
        AVMediaType type;
        AVCodecID codec;
        int64_t lastDts = INT64_MIN;
    };
    std::vector<OutStream> streams;
    bool headerWritten = false, failed = false;
    double shift = -1; // output time of the first packet written, in seconds
    int lastPercent = -1;
    const double spanLength = double(spanEnd - spanStart);
    AVPacket* pkt = av_packet_alloc();

    for (const SpanFile& f : files) {
        if (stop.load() || failed)
            break;
        AVFormatContext* in = nullptr;
        if (avformat_open_input(&in, f.source.c_str(), nullptr, nullptr) < 0)
            continue;
        if (avformat_find_stream_info(in, nullptr) < 0) {
            avformat_close_input(&in);
            continue;
        }
        // The first file lays out the output; later ones map onto it by kind and codec.
        std::vector<int> map(in->nb_streams, -1);
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            const AVCodecParameters* par = in->streams[i]->codecpar;
            if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO)
                continue;
            for (const OutStream& o : streams)
                if (o.type == par->codec_type && o.codec == par->codec_id)
                    map[i] = o.index;
            if (map[i] < 0 && !headerWritten) {
                AVStream* s = avformat_new_stream(out, nullptr);
                if (!s || avcodec_parameters_copy(s->codecpar, par) < 0)
                    continue;
                s->codecpar->codec_tag = 0;
                s->time_base = in->streams[i]->time_base;
                streams.push_back({s->index, par->codec_type, par->codec_id});
                map[i] = s->index;
            }
        }
        if (!headerWritten) {
            if (streams.empty() || avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE) < 0 ||
                avformat_write_header(out, nullptr) < 0) {
                avformat_close_input(&in);
                failed = true;
                break;
            }
            headerWritten = true;
        }
        const double offset = double(f.start - spanStart);           // file start in the span
        const double clipFrom = std::max(0.0, -offset);               // seconds into the file
        const double clipTo = std::min(double(f.seconds) > 0 ? double(f.seconds) : 1e12, spanLength - offset);
        if (clipFrom > 0)
            av_seek_frame(in, -1, int64_t(clipFrom * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
        std::vector<bool> started(in->nb_streams, false);
        while (!stop.load() && av_read_frame(in, pkt) >= 0) {
            const int si = pkt->stream_index;
            const AVStream* is = in->streams[si];
            const int o = si < int(map.size()) ? map[si] : -1;
            const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (o < 0 || pts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt);
                continue;
            }
            const int64_t base = is->start_time != AV_NOPTS_VALUE ? is->start_time : 0;
            const double t = double(pts - base) * av_q2d(is->time_base);
            if (t >= clipTo) {
                av_packet_unref(pkt);
                if (is->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                    break;
                continue;
            }
            // Video starts at a key frame; audio where the clip starts.
            if (!started[si]) {
                const bool video = is->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
                if ((video && !(pkt->flags & AV_PKT_FLAG_KEY)) || (!video && t < clipFrom - 0.05)) {
                    av_packet_unref(pkt);
                    continue;
                }
                started[si] = true;
            }
            const double outTime = offset + t;
            if (shift < 0)
                shift = outTime;
            AVStream* os = out->streams[o];
            const int64_t delta = pkt->dts != AV_NOPTS_VALUE ? pkt->pts - pkt->dts : 0;
            int64_t dts = av_rescale_q(int64_t((outTime - shift) * AV_TIME_BASE), AV_TIME_BASE_Q, os->time_base) -
                          av_rescale_q(delta, is->time_base, os->time_base);
            OutStream& st = *std::find_if(streams.begin(), streams.end(), [o](const OutStream& s) { return s.index == o; });
            if (st.lastDts != INT64_MIN && dts <= st.lastDts)
                dts = st.lastDts + 1;
            st.lastDts = dts;
            pkt->dts = dts;
            pkt->pts = dts + av_rescale_q(delta, is->time_base, os->time_base);
            pkt->duration = av_rescale_q(pkt->duration, is->time_base, os->time_base);
            pkt->stream_index = o;
            pkt->pos = -1;
            if (av_interleaved_write_frame(out, pkt) < 0) {
                failed = true;
                av_packet_unref(pkt);
                break;
            }
            const int percent = spanLength > 0 ? std::clamp(int(outTime * 100 / spanLength), 0, 99) : 0;
            if (percent / 5 > lastPercent / 5) { // presentation order may step back
                lastPercent = percent;
                simdetail::PostEvent(core, id, ProgressEvent(percent));
            }
        }
        avformat_close_input(&in);
        if (failed)
            break;
    }
    av_packet_free(&pkt);
    const bool wrote = headerWritten && !failed && shift >= 0;
    if (headerWritten && av_write_trailer(out) < 0)
        failed = true;
    if (out->pb)
        avio_closep(&out->pb);
    avformat_free_context(out);
    if (!wrote || failed) {
        std::error_code ec;
        std::filesystem::remove(dst, ec);
        return false;
    }
    return true;
}

} // namespace

struct DeviceControl::Downloads {
    std::mutex mutex;
    std::map<int32_t, Job> files;                          // by AuxPtzId
    std::map<int32_t, std::shared_ptr<std::atomic<int32_t>>> percent;
    std::map<std::pair<int32_t, int32_t>, Job> spans;      // by AuxPtzId and channel

    ~Downloads()
    {
        std::map<int32_t, Job> f;
        std::map<std::pair<int32_t, int32_t>, Job> s;
        {
            std::lock_guard<std::mutex> lock(mutex);
            f.swap(files);
            s.swap(spans);
        }
        for (auto& [id, job] : f)
            Finish(job);
        for (auto& [key, job] : s)
            Finish(job);
    }

    template <class Key>
    static void StopOne(std::mutex& m, std::map<Key, Job>& jobs, const Key& key)
    {
        Job job;
        {
            std::lock_guard<std::mutex> lock(m);
            auto it = jobs.find(key);
            if (it == jobs.end())
                return;
            job = std::move(it->second);
            jobs.erase(it);
        }
        Finish(job);
    }
};

std::shared_ptr<DeviceControl::Downloads> DeviceControl::NewDownloads()
{
    return std::make_shared<Downloads>();
}


int32_t DeviceControl::DownloadFile(int32_t auxPtzId, int32_t flag, const char* remotePath, const char* localPath)
{
    const std::optional<SimDevice> dev = simdetail::OnlineDevice(*m_core, auxPtzId);
    const int32_t result = dev ? 0 : -1;
    simdetail::RealRefusal(*m_core, auxPtzId, "file download");
    qelm::Journal::Call("CAuxPtzCtrl::DownloadFile", {auxPtzId, flag, remotePath, localPath}, result);
    if (!dev)
        return result; // refused: no transfer, no end event
    // One transfer per session: a new one replaces the last.
    Downloads::StopOne(m_downloads->mutex, m_downloads->files, auxPtzId);
    auto percent = std::make_shared<std::atomic<int32_t>>(0);
    {
        std::lock_guard<std::mutex> lock(m_downloads->mutex);
        m_downloads->percent[auxPtzId] = percent;
    }
    std::string source;
    for (const SimRecordFile& f : dev->files)
        if (remotePath && f.path == remotePath) {
            source = f.source;
            break;
        }
    if (source.empty()) {
        percent->store(-1);
        simdetail::PostEvent(m_core, auxPtzId, StatusEvent(kDevStatusDownloadFailed));
        return result;
    }
    Job job;
    job.thread = std::thread(CopyFile, m_core, auxPtzId, source, std::string(localPath ? localPath : ""), job.stop,
                             percent);
    std::lock_guard<std::mutex> lock(m_downloads->mutex);
    m_downloads->files[auxPtzId] = std::move(job);
    return result;
}

int32_t DeviceControl::GetDownloadProgress(int32_t auxPtzId)
{
    int32_t result = 0;
    {
        std::lock_guard<std::mutex> lock(m_downloads->mutex);
        if (auto it = m_downloads->percent.find(auxPtzId); it != m_downloads->percent.end())
            result = it->second->load();
    }
    qelm::Journal::Call("CAuxPtzCtrl::GetDownloadProgress", {auxPtzId}, result);
    return result;
}

int32_t DeviceControl::StopDownload(int32_t auxPtzId)
{
    Downloads::StopOne(m_downloads->mutex, m_downloads->files, auxPtzId);
    qelm::Journal::Call("CAuxPtzCtrl::StopDownload", {auxPtzId}, 0);
    return 0;
}

int32_t DeviceControl::DownloadByTime(int32_t auxPtzId, int32_t channel, const char* start, const char* end,
                                      const char* localPath)
{
    const std::optional<SimDevice> dev = simdetail::OnlineDevice(*m_core, auxPtzId);
    simdetail::RealRefusal(*m_core, auxPtzId, "download by time");
    const int64_t from = EpochOf(start ? start : ""), to = EpochOf(end ? end : "");
    std::string address;
    int32_t port = 0;
    int32_t result = 0;
    if (!dev || !simdetail::SessionAddress(*m_core, auxPtzId, &address, &port) || from < 0 || to <= from)
        result = -1;
    else if (DeviceSimulator::Instance().HasActivity(address, port, DeviceSimulator::kActivityNvrReplay))
        result = -5;
    qelm::Journal::Call("CAuxPtzCtrl::DownloadByTime", {auxPtzId, channel, start, end, localPath}, result);
    if (result != 0)
        return result;

    std::vector<SpanFile> files;
    for (const SimRecordFile& f : dev->files) {
        const int64_t s = EpochOf(f.start);
        if (f.channel != channel || f.source.empty() || s < 0 || s >= to || s + std::max(1, f.seconds) <= from)
            continue;
        files.push_back({f.source, s, f.seconds});
    }
    std::sort(files.begin(), files.end(), [](const SpanFile& a, const SpanFile& b) { return a.start < b.start; });

    const std::pair<int32_t, int32_t> key{auxPtzId, channel};
    Downloads::StopOne(m_downloads->mutex, m_downloads->spans, key);
    Job job;
    DeviceSimulator::Instance().SetActivity(address, port, DeviceSimulator::kActivityTimeDownload, true);
    job.thread = std::thread([core = m_core, auxPtzId, files, from, to, dst = std::string(localPath ? localPath : ""),
                              stop = job.stop, address, port] {
        const bool ok = !dst.empty() && WriteSpan(core, auxPtzId, files, from, to, dst, *stop);
        DeviceSimulator::Instance().SetActivity(address, port, DeviceSimulator::kActivityTimeDownload, false);
        if (stop->load())
            return; // a stop ends it without a word
        simdetail::PostEvent(core, auxPtzId, ProgressEvent(ok ? 100 : -1));
    });
    std::lock_guard<std::mutex> lock(m_downloads->mutex);
    m_downloads->spans[key] = std::move(job);
    return result;
}

int32_t DeviceControl::StopDownloadByTime(int32_t auxPtzId, int32_t channel)
{
    Downloads::StopOne(m_downloads->mutex, m_downloads->spans, std::pair<int32_t, int32_t>{auxPtzId, channel});
    qelm::Journal::Call("CAuxPtzCtrl::StopDownloadByTime", {auxPtzId, channel}, 0);
    return 0;
}
