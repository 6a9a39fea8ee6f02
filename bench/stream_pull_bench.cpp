// Benchmark: CPU time of the stream pull control pulling a 1080p25 H.264
// stream from the test camera, against ffmpeg copying the same stream.
//   stream_pull_bench [seconds]   (run from the source tree, QELM2_LOOPBACK_ONLY=1)
#include "controls/stream_pull.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

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

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const char* src = getenv("QELM2_TEST_SOURCE_DIR");
    std::string script = std::string(src ? src : ".") + "/tests/fixtures/rtsp_camera.py";
    int fd = -1;
    pid_t cam = Spawn({"/usr/bin/python3", script.c_str(), "--width", "1920", "--height", "1080"}, &fd);
    char line[64] = {};
    pollfd p{fd, POLLIN, 0};
    int port = 0;
    if (!cam || poll(&p, 1, 15000) <= 0 || read(fd, line, sizeof line - 1) <= 0 || sscanf(line, "PORT %d", &port) != 1) {
        fprintf(stderr, "camera did not start\n");
        return 1;
    }
    std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/video";

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
    double ours = Seconds(r1.ru_utime) - Seconds(r0.ru_utime) + Seconds(r1.ru_stime) - Seconds(r0.ru_stime);

    std::string t = std::to_string(seconds);
    pid_t ff = Spawn({"/usr/bin/ffmpeg", "-v", "error", "-rtsp_transport", "tcp", "-i", url.c_str(), "-t", t.c_str(),
                      "-c", "copy", "-f", "null", "-"},
                     nullptr);
    rusage rf{};
    int status = 0;
    wait4(ff, &status, 0, &rf);
    double theirs = Seconds(rf.ru_utime) + Seconds(rf.ru_stime);

    kill(cam, SIGTERM);
    waitpid(cam, nullptr, 0);
    printf("stream pull: %zu frames, %.1f MB in %d s, CPU %.3f s\n", frames, bytes / 1e6, seconds, ours);
    printf("ffmpeg -c copy -f null: CPU %.3f s (ratio %.2f)\n", theirs, theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
