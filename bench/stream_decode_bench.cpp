// Benchmark: CPU time of one live stream through the whole display path (pull,
// decode, scale to a pane, paint) against ffmpeg decoding the same stream.
//   stream_decode_bench [seconds] [pane width] [pane height]
//   (run from the source tree or with QELM2_TEST_SOURCE_DIR, QELM2_LOOPBACK_ONLY=1)
#include "controls/stream_player.h"
#include "controls/stream_pull.h"

#include <QApplication>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double CpuSeconds(const rusage& a, const rusage& b)
{
    return Seconds(b.ru_utime) - Seconds(a.ru_utime) + Seconds(b.ru_stime) - Seconds(a.ru_stime);
}

pid_t Spawn(std::vector<const char*> argv, int* outFd)
{
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (outFd && pipe(fds) == 0) {
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
    }
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, const_cast<char**>(argv.data()), environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&fa);
    if (outFd) {
        close(fds[1]);
        *outFd = fds[0];
    }
    return pid;
}

// Keeps the stream's parameters; events arrive on the UI thread.
class ParamSink : public IStreamPullEvents {
public:
    void OnStreamStatus(int32_t, int32_t, const char*, const void*) override {}
    void MediaRecv(int32_t, int32_t mediaType, const StreamMediaParam* param, int32_t) override
    {
        if (mediaType == StreamPullControl::kMediaTypeParams && param && HasStreamMediaMarker(*param)) {
            m_param = *param;
            m_have = true;
        }
    }
    bool Have() const { return m_have; }
    const StreamMediaParam& Param() const { return m_param; }

private:
    StreamMediaParam m_param{};
    bool m_have = false;
};

void PumpFor(std::chrono::steady_clock::duration d)
{
    const auto until = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < until) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const int paneW = argc > 2 ? atoi(argv[2]) : 960;
    const int paneH = argc > 3 ? atoi(argv[3]) : 540;
    QApplication app(argc, argv);

    const char* src = getenv("QELM2_TEST_SOURCE_DIR");
    const std::string script = std::string(src ? src : ".") + "/tests/fixtures/rtsp_camera.py";
    int fd = -1;
    const pid_t cam = Spawn({"/usr/bin/python3", script.c_str(), "--width", "1920", "--height", "1080"}, &fd);
    char line[64] = {};
    pollfd p{fd, POLLIN, 0};
    int port = 0;
    if (!cam || poll(&p, 1, 15000) <= 0 || read(fd, line, sizeof line - 1) <= 0 || sscanf(line, "PORT %d", &port) != 1) {
        fprintf(stderr, "camera did not start\n");
        return 1;
    }
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/video";

    // Ours: the frame-pull thread's loop into a shown player pane.
    rusage r0{}, r1{};
    size_t frames = 0, failed = 0;
    int64_t pictures = 0;
    {
        StreamPullControl pull;
        ParamSink sink;
        const int32_t cookie = pull.Advise(&sink);
        StreamPlayerControl player;
        player.resize(paneW, paneH);
        player.show();
        const int32_t render = player.CreateRender("TEST");
        getrusage(RUSAGE_SELF, &r0);
        const int32_t id = pull.AddStream(url, "", "", 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!sink.Have() && std::chrono::steady_clock::now() < deadline)
            PumpFor(std::chrono::milliseconds(10));
        if (!sink.Have()) {
            fprintf(stderr, "no media parameters from the camera\n");
            kill(cam, SIGTERM);
            return 1;
        }
        VideoParam video = sink.Param().video;
        player.SetupDecoder(StreamPlayerControl::kVideo, render, reinterpret_cast<const uint8_t*>(&video), sizeof video);
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            std::vector<uint8_t> buf(0x17D000);
            while (!stop) {
                int32_t len = static_cast<int32_t>(buf.size());
                MediaFrameHeader h{};
                int32_t hl = sizeof h;
                if (pull.ReadVideoFrame(id, id, buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hl) == 0) {
                    ++frames;
                    failed += player.InputData(StreamPlayerControl::kVideo, render, buf.data(), len,
                                               reinterpret_cast<const uint8_t*>(&h), hl) != 0;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
        });
        PumpFor(std::chrono::seconds(seconds));
        stop = true;
        reader.join();
        pictures = player.DecodedPictures(render);
        pull.Unadvise(cookie);
        pull.StopAll();
        getrusage(RUSAGE_SELF, &r1);
    }
    const double ours = CpuSeconds(r0, r1);

    // ffmpeg with its default decoder threads, and with one thread as ours.
    const std::string t = std::to_string(seconds);
    auto ffmpeg = [&](const char* threads) {
        const pid_t ff = Spawn({"/usr/bin/ffmpeg", "-v", "fatal", "-rtsp_transport", "tcp", "-threads", threads, "-i",
                                url.c_str(), "-t", t.c_str(), "-f", "null", "-"},
                               nullptr);
        rusage rf{};
        int status = 0;
        if (ff > 0)
            wait4(ff, &status, 0, &rf);
        return Seconds(rf.ru_utime) + Seconds(rf.ru_stime);
    };
    const double theirs = ffmpeg("0");
    const double theirs1 = ffmpeg("1");

    kill(cam, SIGTERM);
    waitpid(cam, nullptr, 0);
    printf("pull+decode+scale to %dx%d+paint: %zu frames read, %lld pictures, %zu refused, %d s, CPU %.3f s (%.2f ms/frame)\n",
           paneW, paneH, frames, static_cast<long long>(pictures), failed, seconds, ours,
           frames ? ours * 1000 / double(frames) : 0.0);
    printf("ffmpeg -f null (pull+decode), auto threads: CPU %.3f s; ratio ours/ffmpeg %.2f\n", theirs,
           theirs > 0 ? ours / theirs : 0.0);
    printf("ffmpeg -f null (pull+decode), 1 thread:     CPU %.3f s; ratio ours/ffmpeg %.2f\n", theirs1,
           theirs1 > 0 ? ours / theirs1 : 0.0);
    return 0;
}
