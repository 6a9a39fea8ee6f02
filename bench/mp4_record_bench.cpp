// MP4 recording benchmark: a 1,000-second H.264 + G.711 recording written
// from memory through CMP4Writer, beside ffmpeg muxing the same elementary
// streams with "-c copy"; wall time and memory of both.
//   mp4_record_bench [work folder] [seconds]
// The test streams are made with ffmpeg in the work folder on the first run.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "tests/media/media_test_util.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Frame {
    std::vector<uint8_t> data;
    bool key;
};

long StatusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return atol(line.c_str() + strlen(field));
    return 0;
}

int Shell(const std::string& cmd)
{
    const int st = system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<Frame> SplitH264(const std::string& path)
{
    std::vector<Frame> frames;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), av_find_input_format("h264"), nullptr) != 0)
        return frames;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        frames.push_back({std::vector<uint8_t>(pkt->data, pkt->data + pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return frames;
}

// Runs a command under /usr/bin/time: its wall time and peak resident memory
// (measured by time, so none of this process's memory is counted).
bool Measure(const std::string& cmd, double& seconds, long& maxRssKb)
{
    const std::string stats = fs::temp_directory_path() / "qelm2-bench-time.txt";
    const int rc = Shell("/usr/bin/time -f '%e %M' -o '" + stats + "' " + cmd);
    std::ifstream in(stats);
    in >> seconds >> maxRssKb;
    fs::remove(stats);
    return rc == 0;
}

std::string Probe(const std::string& file)
{
    FILE* p = popen(("ffprobe -v error -show_entries stream=codec_name,nb_frames -of csv=p=0 '" + file + "' 2>&1").c_str(), "r");
    std::string out;
    char buf[256];
    while (p && fgets(buf, sizeof(buf), p))
        out += buf;
    if (p)
        pclose(p);
    for (char& c : out)
        if (c == '\n')
            c = ' ';
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "/tmp/qelm2-mp4-bench";
    const int seconds = argc > 2 ? atoi(argv[2]) : 1000;
    fs::create_directories(dir);
    const std::string video = dir + "/v" + std::to_string(seconds) + ".h264";
    const std::string audio = dir + "/a" + std::to_string(seconds) + ".ul";
    if (!fs::exists(video)) {
        printf("making %d s of 640x360 H.264 at 25 fps...\n", seconds);
        fflush(stdout);
        if (Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t " + std::to_string(seconds) +
                  " -c:v libx264 -preset ultrafast -tune zerolatency -b:v 1M -bf 0 -g 25 -pix_fmt yuv420p -f h264 '" +
                  video + "'") != 0)
            return 1;
    }
    if (!fs::exists(audio) &&
        Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t " + std::to_string(seconds) +
              " -c:a pcm_mulaw -f mulaw '" + audio + "'") != 0)
        return 1;

    // Everything in memory first.
    const std::vector<Frame> frames = SplitH264(video);
    std::vector<uint8_t> pcm;
    {
        std::ifstream in(audio, std::ios::binary);
        pcm.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    size_t videoBytes = 0;
    for (const auto& f : frames)
        videoBytes += f.data.size();
    const size_t audioFrames = pcm.size() / 320;
    printf("input: %zu video frames (%.1f MB), %zu G.711 frames of 320 bytes\n", frames.size(), videoBytes / 1e6,
           audioFrames);

    // CMP4Writer from memory.
    const std::string ours = dir + "/ours.mp4";
    fs::remove(ours);
    const long rssBefore = StatusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    {
        VideoParam v = mp4test::H264Param(640, 360);
        AudioParam a = mp4test::G711Param();
        CMP4Writer w;
        if (w.OpenWrite(ours.c_str(), &v, &a) != 0)
            return 2;
        for (size_t i = 0; i < frames.size() || i < audioFrames; ++i) {
            if (i < frames.size())
                w.WriteOneFrame(1, frames[i].data.data(), int(frames[i].data.size()), int64_t(i) * 40, frames[i].key);
            if (i < audioFrames)
                w.WriteOneFrame(0, pcm.data() + i * 320, 320, int64_t(i) * 40, 1);
        }
        w.CloseFile();
    }
    const double ourSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long ourPeak = StatusKb("VmHWM:");

    // ffmpeg muxing the same streams. Its mp4 mode takes no mu-law track, so
    // the QuickTime mode of the same muxer writes it.
    const std::string theirs = dir + "/ffmpeg.mov";
    double ffSeconds = 0;
    long ffPeak = 0;
    const bool ffOk = Measure("ffmpeg -nostdin -v error -y -f h264 -framerate 25 -i '" + video +
                                  "' -f mulaw -ar 8000 -i '" + audio + "' -c copy -f mov '" + theirs + "'",
                              ffSeconds, ffPeak);

    const double samples = double(frames.size() + audioFrames);
    printf("CMP4Writer: %.3f s wall (%.0f samples/s), peak RSS %ld kB (%ld kB before writing; %.1f bytes/sample)\n",
           ourSeconds, samples / ourSeconds, ourPeak, rssBefore, (ourPeak - rssBefore) * 1024.0 / samples);
    printf("            %s\n", Probe(ours).c_str());
    printf("ffmpeg -c copy: %.3f s wall, peak RSS %ld kB%s\n", ffSeconds, ffPeak, ffOk ? "" : " (FAILED)");
    printf("            %s\n", Probe(theirs).c_str());
    return 0;
}
