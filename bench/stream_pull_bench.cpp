// Benchmark: CPU time of the stream pull control pulling a 1080p25 H.264
// stream from the test camera, against ffmpeg copying the same stream.
//   stream_pull_bench [seconds]   (run from the source tree, QELM2_LOOPBACK_ONLY=1)
#include "controls/stream_pull.h"
#include "tests/support/rtsp_camera.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using qelmtest::CpuSeconds;
using qelmtest::RtspCamera;
using qelmtest::Spawn;

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 10;
    RtspCamera cam(0, {"--width", "1920", "--height", "1080"});
    if (!cam.Running()) {
        fprintf(stderr, "camera did not start\n");
        return 1;
    }
    std::string url = cam.Url("/video");

    rusage r0{}, r1{};
    size_t frames = 0, bytes = 0;
    {
        StreamPullControl c;
        getrusage(RUSAGE_SELF, &r0);
        int32_t id = c.AddStream(url, "", "", 1);
        std::vector<uint8_t> buf(0x17D000);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            int32_t len = static_cast<int32_t>(buf.size());
            MediaFrameHeader h{};
            int32_t hl = sizeof h;
            if (c.ReadVideoFrame(id, id, buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hl) == 0) {
                ++frames;
                bytes += static_cast<size_t>(len);
            } else {
                usleep(5000);
            }
        }
        c.StopAll();
        getrusage(RUSAGE_SELF, &r1);
    }
    double ours = CpuSeconds(r0, r1);

    std::string t = std::to_string(seconds);
    pid_t ff = Spawn({"/usr/bin/ffmpeg", "-v", "error", "-rtsp_transport", "tcp", "-i", url.c_str(), "-t", t.c_str(),
                      "-c", "copy", "-f", "null", "-"},
                     nullptr);
    rusage rf{};
    int status = 0;
    wait4(ff, &status, 0, &rf);
    double theirs = CpuSeconds(rusage{}, rf);

    cam.Stop();
    printf("stream pull: %zu frames, %.1f MB in %d s, CPU %.3f s\n", frames, bytes / 1e6, seconds, ours);
    printf("ffmpeg -c copy -f null: CPU %.3f s (ratio %.2f)\n", theirs, theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
