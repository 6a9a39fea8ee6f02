// Benchmark: CPU time of one live stream through the whole display path (pull,
// decode, scale to a pane, paint) against ffmpeg decoding the same stream.
//   stream_decode_bench [seconds] [pane width] [pane height]
//   (run from the source tree or with QELM2_TEST_SOURCE_DIR, QELM2_LOOPBACK_ONLY=1)
#include "controls/stream_player.h"
#include "controls/stream_pull.h"
#include "tests/support/rtsp_camera.h"

#include <QApplication>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using qelmtest::CpuSeconds;
using qelmtest::RtspCamera;
using qelmtest::Spawn;

namespace {

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

    RtspCamera cam(0, {"--width", "1920", "--height", "1080"});
    if (!cam.Running()) {
        fprintf(stderr, "camera did not start\n");
        return 1;
    }
    const std::string url = cam.Url("/video");

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
            cam.Stop();
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
        return CpuSeconds(rusage{}, rf);
    };
    const double theirs = ffmpeg("0");
    const double theirs1 = ffmpeg("1");

    cam.Stop();
    printf("pull+decode+scale to %dx%d+paint: %zu frames read, %lld pictures, %zu refused, %d s, CPU %.3f s (%.2f ms/frame)\n",
           paneW, paneH, frames, static_cast<long long>(pictures), failed, seconds, ours,
           frames ? ours * 1000 / double(frames) : 0.0);
    printf("ffmpeg -f null (pull+decode), auto threads: CPU %.3f s; ratio ours/ffmpeg %.2f\n", theirs,
           theirs > 0 ? ours / theirs : 0.0);
    printf("ffmpeg -f null (pull+decode), 1 thread:     CPU %.3f s; ratio ours/ffmpeg %.2f\n", theirs1,
           theirs1 > 0 ? ours / theirs1 : 0.0);
    return 0;
}
