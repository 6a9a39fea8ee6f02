// Benchmark: a live grid of N panes (16, 36, 64) each showing its own stream
// of the test camera (640x360, 25 fps) through the whole live path (pane,
// sink, pull, decode, scale, paint), against N ffmpeg processes decoding the
// same streams to null.
//   liveview_grid_bench [panes] [seconds]
//   (run with QELM2_TEST_SOURCE_DIR=<source tree>, QELM2_LOOPBACK_ONLY=1)
#include "controls/control_registry.h"
#include "core/app_init.h"
#include "core/devinfo.h"
#include "core/userinfo.h"
#include "liveview/video_manager_dlg.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/text.h"
#include "tests/support/rtsp_camera.h"

#include <QApplication>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

void PumpFor(std::chrono::steady_clock::duration d)
{
    const auto until = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < until) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int64_t Pictures(DeviceInfo& d)
{
    for (CRtspEvents* s : {d.pRtspEvent1, d.pRtspEvent2}) {
        CStreamPlayerCtrl* r = s->GetMainRender();
        if (r && r->GetControl())
            return r->GetControl()->DecodedPictures(s->GetMainRenderId());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int panes = argc > 1 ? atoi(argv[1]) : 16;
    const int seconds = argc > 2 ? atoi(argv[2]) : 10;
    QApplication app(argc, argv);

    RtspCamera cam(0, {"--width", "640", "--height", "360", "--fps", "25"});
    if (!cam.Running()) {
        fprintf(stderr, "camera did not start\n");
        return 1;
    }
    qelm::RegisterStandInFactories();
    for (const char* c : {qelm::kClsidRtspPull, qelm::kClsidAviRecord, qelm::kClsidStreamPlayer})
        qelm::EnableControlClass(c);
    CRtspPullCtrl pull;
    pull.CreateDispatch();
    for (int i = 0; i < panes; ++i) {
        DeviceInfo d{};
        const std::string name = "Cam" + std::to_string(i);
        qelm::CopyBounded(d.DevName, sizeof d.DevName, name);
        qelm::CopyBounded(d.DevId, sizeof d.DevId, name);
        qelm::CopyBounded(d.IPAddr, sizeof d.IPAddr, "127.0.0.1");
        d.VideoPort = cam.Port();
        d.DevType = 1;
        d.RtpOverRtsp = 1;
        d.Online = 1;
        d.pRtspEvent1 = new CRtspEvents(nullptr, &pull);
        d.pRtspEvent2 = new CRtspEvents(nullptr, &pull);
        g_lstDevInfo.push_back(d);
    }

    g_DispInfoSetting.DefDisplayMode = panes;
    g_DispInfoSetting.AutoSwitchStream = 0;
    CWnd window;
    window.Create(nullptr, CRect(0, 0, 1920, 1080));
    window.ShowWindow(SW_SHOW);
    auto* grid = new CVideoManagerDlg(0, 0, 1920, 1080, &window, 0);
    grid->Create(CVideoManagerDlg::IDD, &window);
    grid->ShowWindow(SW_SHOW);

    // One client first (the camera's pipeline starts), then the rest.
    int i = 0;
    for (DeviceInfo& d : g_lstDevInfo) {
        grid->AddWatch(i, &d, 0, 0, 0, 1, 0, 0);
        if (i++ == 0) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            while (Pictures(d) == 0 && std::chrono::steady_clock::now() < until)
                PumpFor(std::chrono::milliseconds(20));
        }
    }
    PumpFor(std::chrono::seconds(3));   // every pane running
    
    std::vector<int64_t> p0;
    for (DeviceInfo& d : g_lstDevInfo)
        p0.push_back(Pictures(d));
    rusage r0{}, r1{};
    getrusage(RUSAGE_SELF, &r0);
    const auto t0 = std::chrono::steady_clock::now();
    PumpFor(std::chrono::seconds(seconds));
    getrusage(RUSAGE_SELF, &r1);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double minFps = 1e9, sumFps = 0;
    i = 0;
    for (DeviceInfo& d : g_lstDevInfo) {
        const double fps = double(Pictures(d) - p0[i++]) / wall;
        minFps = std::min(minFps, fps);
        sumFps += fps;
    }
    const double ours = CpuSeconds(r0, r1);
    printf("%d panes, %d s: pictures per pane per second min %.1f, mean %.1f (camera 25)\n", panes, seconds, minFps,
           sumFps / panes);
    printf("ours: CPU %.2f s per second (%.1f ms per picture)\n", ours / wall,
           sumFps > 0 ? ours * 1000 / (sumFps * wall) : 0.0);
    fflush(stdout);
    grid->RemoveAllWatch();
    delete grid;
    for (DeviceInfo& d : g_lstDevInfo) {
        delete d.pRtspEvent1;
        delete d.pRtspEvent2;
    }
    g_lstDevInfo.clear();

    // ffmpeg: one process per pane on the same stream, the same time.
    const std::string url = cam.Url("/mpeg4");
    const std::string t = std::to_string(seconds + 2);   // +2 s for its connect
    std::vector<pid_t> pids;
    for (int k = 0; k < panes; ++k) {
        pids.push_back(Spawn({"/usr/bin/ffmpeg", "-nostdin", "-v", "fatal", "-timeout", "10000000", "-rtsp_transport", "tcp", "-threads", "1", "-i",
                              url.c_str(), "-t", t.c_str(), "-f", "null", "-"},
                             nullptr));
        if (k == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    double theirs = 0;
    for (pid_t p : pids) {
        rusage rf{};
        int status = 0;
        if (p > 0 && wait4(p, &status, 0, &rf) == p)
            theirs += CpuSeconds(rusage{}, rf);
    }
    cam.Stop();
    const double theirsPerSec = theirs / double(seconds + 2);
    printf("ffmpeg x%d -threads 1 -f null: CPU %.2f s per second; ratio ours/ffmpeg %.2f\n", panes, theirsPerSec,
           theirsPerSec > 0 ? (ours / wall) / theirsPerSec : 0.0);
    return 0;
}
