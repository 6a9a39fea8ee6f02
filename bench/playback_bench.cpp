// Benchmark: the playback control playing a 120 s 1080p25 H.264 + G.711
// recording (MP4 from CMP4Writer and its AVI twin) in a 960x540 pane, to the
// end at 1x and at x32, against ffmpeg decoding the same file.
//   playback_bench [work folder]           make the files if missing, run all
//   playback_bench make <folder>           only make the files
//   playback_bench play <file> <rate>      play one file at 1, 2, 4 .. 32 (for
//                                          timing the whole process from outside)
#include "controls/avi_record.h"
#include "controls/media_params.h"
#include "controls/playback_control.h"
#include "media/mp4_writer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr int kSeconds = 120;

struct Packet {
    std::vector<uint8_t> data;
    bool key = false;
};

bool Exists(const std::string& p)
{
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && st.st_size > 0;
}

std::vector<Packet> Split(const std::string& path, const char* format)
{
    std::vector<Packet> out;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), av_find_input_format(format), nullptr) != 0)
        return out;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        out.push_back({std::vector<uint8_t>(pkt->data, pkt->data + pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return out;
}

// The elementary streams by ffmpeg, then the MP4 by CMP4Writer and the AVI by
// the AVI file writer, frames in time order.
bool Make(const std::string& dir)
{
    const std::string mp4 = dir + "/rec.mp4", avi = dir + "/rec.avi";
    if (Exists(mp4) && Exists(avi))
        return true;
    mkdir(dir.c_str(), 0755);
    const std::string h264 = dir + "/rec.h264", ul = dir + "/rec.ul";
    const std::string v = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t " +
                          std::to_string(kSeconds) +
                          " -c:v libx264 -preset veryfast -b:v 4M -bf 0 -g 50 -pix_fmt yuv420p -f h264 '" + h264 + "'";
    const std::string a = "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t " +
                          std::to_string(kSeconds) + " -c:a pcm_mulaw -f mulaw '" + ul + "'";
    if (std::system(v.c_str()) != 0 || std::system(a.c_str()) != 0)
        return false;
    const std::vector<Packet> video = Split(h264, "h264");
    std::vector<Packet> audio;
    if (FILE* f = fopen(ul.c_str(), "rb")) {
        Packet p;
        p.data.resize(160);
        while (fread(p.data.data(), 1, 160, f) == 160)
            audio.push_back(p);
        fclose(f);
    }
    VideoParam vp{};
    snprintf(vp.codecName, sizeof vp.codecName, "H264");
    vp.width = 1920;
    vp.height = 1080;
    vp.frameRate = 25;
    AudioParam ap{};
    snprintf(ap.codecName, sizeof ap.codecName, "G711");
    ap.sampleRate = 8000;
    ap.bitsPerSample = 16;
    ap.channels = 1;

    CMP4Writer w;
    if (w.OpenWrite(mp4.c_str(), &vp, &ap) != 0)
        return false;
    AviRecordControl rec;
    rec.BeginStream(1);
    rec.SetVideoParam(1, reinterpret_cast<const uint8_t*>(&vp), sizeof vp);
    rec.SetAudioParam(1, reinterpret_cast<const uint8_t*>(&ap), sizeof ap);
    const std::string aviDir = dir + "/avi";
    const int32_t id = rec.BeginRecordFile(1, aviDir.c_str(), 0, 0, 3600, 1);
    std::string writing;
    size_t vi = 0, ai = 0;
    while (vi < video.size() || ai < audio.size()) {
        const int64_t vt = int64_t(vi) * 40, at = int64_t(ai) * 20;
        if (vi < video.size() && (ai >= audio.size() || vt <= at)) {
            const Packet& p = video[vi++];
            w.WriteOneFrame(1, p.data.data(), int(p.data.size()), vt, p.key);
            const MediaFrameHeader h{p.key ? 1 : 0, 0, double(vt)};
            rec.WriteVideo(1, p.data.data(), int32_t(p.data.size()), reinterpret_cast<const uint8_t*>(&h), sizeof h);
            if (writing.empty())
                writing = rec.CurrentFile(id);
        } else {
            const Packet& p = audio[ai++];
            w.WriteOneFrame(0, p.data.data(), int(p.data.size()), at, 1);
            const MediaFrameHeader h{1, 0, double(at)};
            rec.WriteAudio(1, p.data.data(), int32_t(p.data.size()), reinterpret_cast<const uint8_t*>(&h), sizeof h);
        }
    }
    w.CloseFile();
    rec.StopRecordFile(id);
    rec.EndStream(1);
    // The recorder names its file by the time: give the twin a fixed name.
    if (writing.size() > 4 && writing.compare(writing.size() - 4, 4, ".tmp") == 0)
        writing.resize(writing.size() - 4);
    if (writing.empty() || rename(writing.c_str(), avi.c_str()) != 0)
        return false;
    remove(h264.c_str());
    remove(ul.c_str());
    return Exists(mp4) && Exists(avi);
}

struct EndSink : IPlayBackEvents {
    void OnPlayBackMessage(int32_t type, const char*) override
    {
        if (type == PlayBackControl::kEnded) {
            ended = true;
            if (loop)
                loop->quit();
        }
        else if (type == PlayBackControl::kProgress)
            ++progress;
    }
    bool ended = false;
    int progress = 0;
    QEventLoop* loop = nullptr;
};

double Cpu(const rusage& r) { return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6; }

struct Result {
    double wall = 0, cpu = 0;
    int progress = 0;
    int64_t frames = 0;
    bool ended = false;
};

Result Play(const std::string& file, int rate)
{
    rusage r0{}, r1{};
    getrusage(RUSAGE_SELF, &r0);
    const auto t0 = std::chrono::steady_clock::now();
    EndSink sink;
    Result res;
    {
        PlayBackControl ctl;
        ctl.resize(960, 540 + 28);  // the picture gets 960x540 above the bar
        ctl.SetEventSink(&sink);
        ctl.show();
        if (ctl.OpenFile(file.c_str()) != 0)
            return res;
        while (ctl.Rate() < rate)
            ctl.PressButton(PlayBackControl::kBtnFast);
        // The event loop runs as in the program, until the end or a bound.
        QEventLoop loop;
        sink.loop = &loop;
        QTimer::singleShot(kSeconds * 3 * 1000, &loop, &QEventLoop::quit);
        if (!sink.ended)
            loop.exec();
        sink.loop = nullptr;
        res.frames = ctl.FramesShown();
        ctl.SetEventSink(nullptr);
    }
    getrusage(RUSAGE_SELF, &r1);
    res.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    res.cpu = Cpu(r1) - Cpu(r0);
    res.progress = sink.progress;
    res.ended = sink.ended;
    return res;
}

Result Ffmpeg(const std::string& file)
{
    rusage r0{}, r1{};
    getrusage(RUSAGE_CHILDREN, &r0);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(("ffmpeg -nostdin -v error -i '" + file + "' -f null -").c_str());
    getrusage(RUSAGE_CHILDREN, &r1);
    Result res;
    res.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    res.cpu = Cpu(r1) - Cpu(r0);
    res.ended = rc == 0;
    return res;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make")
        return argc > 2 && Make(argv[2]) ? 0 : 1;
    if (mode == "play") {
        if (argc < 4)
            return 2;
        const Result r = Play(argv[2], atoi(argv[3]));
        printf("played %s at %s: %.2f s wall, %.2f s CPU, %lld frames, %d progress events, %s\n", argv[2], argv[3],
               r.wall, r.cpu, static_cast<long long>(r.frames), r.progress, r.ended ? "ended" : "NOT ENDED");
        return r.ended ? 0 : 1;
    }
    const std::string dir = argc > 1 ? argv[1] : "/tmp/playback_bench";
    if (!Make(dir)) {
        fprintf(stderr, "could not make the recordings in %s\n", dir.c_str());
        return 1;
    }
    printf("%-4s %-4s %10s %10s %8s %9s   ffmpeg: %8s %8s   CPU ratio\n", "file", "rate", "wall s", "CPU s", "frames",
           "progress", "wall s", "CPU s");
    for (const char* name : {"rec.mp4", "rec.avi"}) {
        const std::string file = dir + "/" + name;
        const Result ff = Ffmpeg(file);
        for (int rate : {1, 32}) {
            const Result r = Play(file, rate);
            printf("%-4s x%-3d %10.2f %10.2f %8lld %9d   ffmpeg: %8.2f %8.2f   %.2f%s\n", name + 4, rate, r.wall, r.cpu,
                   static_cast<long long>(r.frames), r.progress, ff.wall, ff.cpu, ff.cpu > 0 ? r.cpu / ff.cpu : 0.0,
                   r.ended ? "" : "  (did not end)");
            fflush(stdout);
        }
    }
    return 0;
}
