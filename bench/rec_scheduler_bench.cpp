// rec_scheduler_bench: 16 cameras recorded at once by the recording scheduler
// (pull, sink, MP4 writer) from the test camera on 127.0.0.1, side by side with
// 16 "ffmpeg -rtsp_transport tcp -i ... -c copy -f mp4" processes recording the
// same streams in the same run (video only: ffmpeg's MP4 muxer refuses the
// camera's G.711 audio). Prints CPU seconds per recorded stream for
// both and the video frames each recording holds.
//
//   QELM2_LOOPBACK_ONLY=1 QT_QPA_PLATFORM=offscreen QELM2_TEST_SOURCE_DIR=<repo>
//       rec_scheduler_bench [seconds=600] [cameras=16]
#include "controls/control_registry.h"
#include "core/devinfo.h"
#include "core/recinfo.h"
#include "media/control_wrappers.h"
#include "media/rec_scheme_manager.h"
#include "media/rec_targets.h"
#include "media/rtsp_events.h"
#include "tests/support/rtsp_camera.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

long CountVideoFrames(const std::string& file)
{
    const std::string cmd = "ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets "
                            "-of csv=p=0 '" + file + "' 2>/dev/null";
    long n = 0;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        if (fscanf(p, "%ld", &n) != 1)
            n = 0;
        pclose(p);
    }
    return n;
}

double Duration(const std::string& file)
{
    const std::string cmd = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "' 2>/dev/null";
    double d = 0;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        if (fscanf(p, "%lf", &d) != 1)
            d = 0;
        pclose(p);
    }
    return d;
}

// Video frames and seconds of all MP4 files under dir.
long FramesIn(const std::string& dir, double* seconds)
{
    long n = 0;
    *seconds = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.path().extension() == ".mp4") {
            n += CountVideoFrames(e.path().string());
            *seconds += Duration(e.path().string());
        }
    return n;
}

// Runs the UI event loop (which takes the streams' parameters) for a while.
void Pump(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int cameras = argc > 2 ? std::atoi(argv[2]) : 16;
    QApplication app(argc, argv);
    qelm::RegisterStandInFactories();
    for (const char* c : {qelm::kClsidRtspPull, qelm::kClsidAviRecord, qelm::kClsidStreamPlayer})
        qelm::EnableControlClass(c);
    qelm::SetFreeBytesHook([](const std::string&) -> std::optional<std::uint64_t> { return 1ull << 40; });

    qelmtest::RtspCamera cam;
    if (!cam.Running()) {
        std::fprintf(stderr, "camera fixture did not start\n");
        return 1;
    }
    char tmpl[] = "/tmp/qelm2-recbench-XXXXXX";
    const std::string root = mkdtemp(tmpl) ? tmpl : "/tmp";
    const std::string ours = root + "/ours/", theirs = root + "/ffmpeg/";
    fs::create_directories(ours);
    fs::create_directories(theirs);

    CRtspPullCtrl pull;
    pull.CreateDispatch();
    auto* plan = new RecScheme;
    std::snprintf(plan->SchemeName, sizeof plan->SchemeName, "Bench");
    std::snprintf(plan->StoragePath1, sizeof plan->StoragePath1, "%s", ours.c_str());
    plan->StorageScheme = 1;
    plan->OnOff = 1;
    plan->RecFileTime = 1800;
    plan->RecAudio = 0;   // video only on both sides: ffmpeg's MP4 muxer takes no G.711
    plan->RecStreamType = 1;
    plan->ReccordType = 1;
    plan->lstRecTime.push_back(RecTime{1, 8, 0, 86399});
    {
        qelm::CsLock lock(g_csDevList);
        for (int i = 0; i < cameras; ++i) {
            g_lstDevInfo.emplace_back();
            DeviceInfo& d = g_lstDevInfo.back();
            std::memset(&d, 0, sizeof d);
            std::snprintf(d.DevName, sizeof d.DevName, "Cam%02d", i + 1);
            std::snprintf(d.DevId, sizeof d.DevId, "ID%02d", i + 1);
            std::snprintf(d.IPAddr, sizeof d.IPAddr, "127.0.0.1");
            d.VideoPort = cam.Port();
            d.DevType = 1;
            d.Online = 1;
            d.RtpOverRtsp = 1;
            d.pRtspEvent1 = new CRtspEvents(nullptr, &pull);
            d.pRtspEvent2 = new CRtspEvents(nullptr, &pull);
            plan->lstDev.push_back(&d);
        }
        g_lstRecSchemeInfo.push_back(plan);
    }

    // One client first: the camera's shared stream must be running before
    // the rest connect.
    const std::string url = cam.Url("/mpeg4");
    std::vector<pid_t> ffmpegs;
    const std::string dur = std::to_string(seconds);
    auto startFfmpeg = [&](int i) {
        const std::string out = theirs + "cam" + std::to_string(i) + ".mp4";
        ffmpegs.push_back(qelmtest::Spawn({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp",
                                           "-i", url.c_str(), "-an", "-c", "copy", "-t", dur.c_str(), "-f", "mp4",
                                           out.c_str()}));
    };
    startFfmpeg(0);
    Pump(3);

    rusage selfStart{};
    getrusage(RUSAGE_SELF, &selfStart);
    CRecSchemeManager sched;
    sched.Start();
    for (int i = 1; i < cameras; ++i)
        startFfmpeg(i);
    const auto t0 = std::chrono::steady_clock::now();
    Pump(seconds);
    sched.Stop();
    sched.OnStopRecord(plan, plan->SchemeName, 0);
    rusage selfEnd{};
    getrusage(RUSAGE_SELF, &selfEnd);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    double ffCpu = 0;
    for (pid_t pid : ffmpegs) {
        int status = 0;
        rusage ru{};
        if (wait4(pid, &status, 0, &ru) == pid)
            ffCpu += qelmtest::Seconds(ru.ru_utime) + qelmtest::Seconds(ru.ru_stime);
    }
    const double ourCpu = qelmtest::CpuSeconds(selfStart, selfEnd);
    double ourSecs = 0, ffSecs = 0;
    const long ourFrames = FramesIn(ours, &ourSecs), ffFrames = FramesIn(theirs, &ffSecs);
    std::printf("streams %d, %.0f s\n", cameras, wall);
    std::printf("ours:   CPU %.2f s total, %.3f s per stream (%.2f%% of a core each), video frames %ld (%.0f per stream)\n",
                ourCpu, ourCpu / cameras, 100.0 * ourCpu / cameras / wall, ourFrames, double(ourFrames) / cameras);
    std::printf("ffmpeg: CPU %.2f s total, %.3f s per stream (%.2f%% of a core each), video frames %ld (%.0f per stream)\n",
                ffCpu, ffCpu / cameras, 100.0 * ffCpu / cameras / wall, ffFrames, double(ffFrames) / cameras);
    // The camera sends 25 fps: fewer frames per recorded second means loss.
    std::printf("frames per recorded second: ours %.3f (%.0f s recorded), ffmpeg %.3f (%.0f s recorded); camera 25\n",
                ourSecs > 0 ? ourFrames / ourSecs : 0.0, ourSecs, ffSecs > 0 ? ffFrames / ffSecs : 0.0, ffSecs);

    {
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.clear();
    }
    for (DeviceInfo& d : g_lstDevInfo) {
        delete d.pRtspEvent1;
        delete d.pRtspEvent2;
    }
    g_lstDevInfo.clear();
    delete plan;
    fs::remove_all(root);
    return 0;
}
