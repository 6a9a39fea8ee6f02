// Tests of the playback control offscreen: an MP4 from CMP4Writer and an AVI
// from the AVI record control, both made from one ffmpeg H.264 + G.711 stream
// whose pictures carry their frame number in 16 black or white columns; for
// the sound also an AAC MP4 from CMP4Writer and an A-law AVI from ffmpeg.
#include "controls/playback_control.h"

#include "controls/avi_record.h"
#include "controls/sound_output.h"
#include "media/mp4_writer.h"
#include "tests/media/media_test_util.h"
#include "tests/support/pipe_trap.h"
#include "tests/support/scoped_env.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
constexpr int kSeconds = 40;
constexpr int kFps = 25;

// The frame number drawn in the picture: bit i is column i (20 pixels wide).
int FrameNumber(const QImage& img)
{
    if (img.width() != kW || img.height() != kH)
        return -1;
    int n = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (qGray(img.pixel(bit * 20 + 10, kH / 2)) > 128)
            n |= 1 << bit;
    return n;
}

struct Media {
    QTemporaryDir dir;
    std::vector<mp4test::Frame> video;
    std::vector<mp4test::Frame> audio;  // 20 ms of mu-law each
    std::string mp4, avi;
    std::string h264, ul;               // the sources
};

// For the sound: the files above, an A-law AVI (ffmpeg) and an AAC MP4
// (CMP4Writer) of the same pictures, and the sound of each as ffmpeg decodes
// its source (16-bit mono PCM).
struct SoundMedia {
    std::string mulawMp4, mulawAvi, alawAvi, aacMp4;
    QByteArray mulawPcm, alawPcm, aacPcm;
};

QByteArray DecodeToPcm(const std::string& in, const std::string& inFormat, const std::string& out)
{
    const auto r = mp4test::Run("ffmpeg -nostdin -v error -y " + inFormat + " -i '" + in + "' -f s16le -ac 1 '" + out +
                                "'");
    const std::vector<uint8_t> pcm = mp4test::ReadFile(out);
    return r.status == 0 ? QByteArray(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size())) : QByteArray();
}

Media* MakeMedia()
{
    auto* m = new Media;
    const std::string d = m->dir.path().toStdString();
    const std::string h264 = d + "/count.h264", ul = d + "/tone.ul";
    m->h264 = h264;
    m->ul = ul;
    const auto v = mp4test::Run("ffmpeg -nostdin -v error -y -f lavfi -i \"nullsrc=s=320x240:r=25,"
                                "geq=lum='255*mod(floor(N/pow(2\\,floor(X/20)))\\,2)':cb=128:cr=128\" -t " +
                                std::to_string(kSeconds) +
                                " -c:v libx264 -preset veryfast -crf 12 -bf 0 -g 25 -keyint_min 25 -sc_threshold 0 "
                                "-pix_fmt yuv420p -f h264 '" + h264 + "'");
    const auto a = mp4test::Run("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t " +
                                std::to_string(kSeconds) + " -c:a pcm_mulaw -f mulaw '" + ul + "'");
    if (v.status != 0 || a.status != 0)
        return m;
    m->video = mp4test::SplitStream(h264, "h264");
    m->audio = mp4test::SplitRaw(ul, 160);
    VideoParam vp = mp4test::H264Param(kW, kH);
    AudioParam ap = mp4test::G711Param();

    // Both files get the frames in time order.
    auto each = [&](const std::function<void(bool video, const mp4test::Frame&, int64_t ms)>& put) {
        size_t vi = 0, ai = 0;
        while (vi < m->video.size() || ai < m->audio.size()) {
            const int64_t vt = int64_t(vi) * 40, at = int64_t(ai) * 20;
            if (vi < m->video.size() && (ai >= m->audio.size() || vt <= at))
                put(true, m->video[vi], vt), ++vi;
            else
                put(false, m->audio[ai], at), ++ai;
        }
    };
    m->mp4 = d + "/count.mp4";
    CMP4Writer w;
    if (w.OpenWrite(m->mp4.c_str(), &vp, &ap) == 0) {
        each([&](bool video, const mp4test::Frame& f, int64_t ms) {
            w.WriteOneFrame(video ? 1 : 0, f.data.data(), int(f.data.size()), ms, f.key ? 1 : 0);
        });
        w.CloseFile();
    }

    AviRecordControl rec;
    rec.BeginStream(1);
    rec.SetVideoParam(1, reinterpret_cast<const uint8_t*>(&vp), sizeof vp);
    rec.SetAudioParam(1, reinterpret_cast<const uint8_t*>(&ap), sizeof ap);
    const std::string aviDir = d + "/avi";
    const int32_t id = rec.BeginRecordFile(1, aviDir.c_str(), 0, 0, 3600, 1);
    std::string writing;
    each([&](bool video, const mp4test::Frame& f, int64_t ms) {
        const MediaFrameHeader h{f.key ? 1 : 0, 0, double(ms)};
        const auto* hp = reinterpret_cast<const uint8_t*>(&h);
        if (video)
            rec.WriteVideo(1, f.data.data(), int32_t(f.data.size()), hp, sizeof h);
        else
            rec.WriteAudio(1, f.data.data(), int32_t(f.data.size()), hp, sizeof h);
        if (writing.empty())
            writing = rec.CurrentFile(id);
    });
    rec.StopRecordFile(id);
    rec.EndStream(1);
    if (writing.size() > 4 && writing.substr(writing.size() - 4) == ".tmp")
        writing.resize(writing.size() - 4);
    m->avi = writing;
    return m;
}

Media& TheMedia()
{
    static Media* m = MakeMedia();
    return *m;
}

SoundMedia* MakeSoundMedia()
{
    Media& media = TheMedia();
    auto* m = new SoundMedia;
    m->mulawMp4 = media.mp4;
    m->mulawAvi = media.avi;
    const std::string d = media.dir.path().toStdString(), h264 = media.h264, ul = media.ul;
    VideoParam vp = mp4test::H264Param(kW, kH);

    // A-law: muxed by ffmpeg, as a device's own file would be.
    const std::string al = d + "/tone.al", aac = d + "/tone.aac";
    m->alawAvi = d + "/alaw.avi";
    const auto alaw = mp4test::Run("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t " +
                                   std::to_string(kSeconds) + " -c:a pcm_alaw -f alaw '" + al + "'");
    const auto mux = mp4test::Run("ffmpeg -nostdin -v error -y -framerate 25 -f h264 -i '" + h264 +
                                  "' -f alaw -ar 8000 -ac 1 -i '" + al + "' -c copy '" + m->alawAvi + "'");
    if (alaw.status != 0 || mux.status != 0)
        m->alawAvi.clear();

    // AAC: recorded by CMP4Writer from ADTS frames of 1024 samples (64 ms).
    const auto aacRun = mp4test::Run("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=16000 -t " +
                                     std::to_string(kSeconds) + " -c:a aac -b:a 32k -f adts '" + aac + "'");
    AudioParam aacParam{};
    snprintf(aacParam.codecName, sizeof aacParam.codecName, "AAC");
    aacParam.sampleRate = 16000;
    aacParam.bitsPerSample = 16;
    aacParam.channels = 1;
    const std::vector<mp4test::Frame> aacFrames = aacRun.status == 0 ? mp4test::SplitAdts(aac) : std::vector<mp4test::Frame>{};
    CMP4Writer aw;
    const std::string aacMp4 = d + "/aac.mp4";
    if (!aacFrames.empty() && aw.OpenWrite(aacMp4.c_str(), &vp, &aacParam) == 0) {
        size_t vi = 0, ai = 0;
        while (vi < media.video.size() || ai < aacFrames.size()) {
            const int64_t vt = int64_t(vi) * 40, at = int64_t(ai) * 64;
            if (vi < media.video.size() && (ai >= aacFrames.size() || vt <= at)) {
                const auto& f = media.video[vi++];
                aw.WriteOneFrame(1, f.data.data(), int(f.data.size()), vt, f.key ? 1 : 0);
            } else {
                const auto& f = aacFrames[ai++];
                aw.WriteOneFrame(0, f.data.data(), int(f.data.size()), at, 1);
            }
        }
        aw.CloseFile();
        m->aacMp4 = aacMp4;
    }
    m->mulawPcm = DecodeToPcm(ul, "-f mulaw -ar 8000 -ac 1", d + "/mulaw.raw");
    m->alawPcm = DecodeToPcm(al, "-f alaw -ar 8000 -ac 1", d + "/alaw.raw");
    m->aacPcm = DecodeToPcm(aac, "", d + "/aac.raw");
    return m;
}

SoundMedia& TheSoundMedia()
{
    static SoundMedia* m = MakeSoundMedia();
    return *m;
}

struct Sink : IPlayBackEvents {
    void OnPlayBackMessage(int32_t type, const char* text) override { messages.push_back({type, text ? text : ""}); }
    void OnPlayBackCommand(int32_t command, int32_t value) override { commands.push_back({command, value}); }
    void OnPlayBackMouse(int32_t message, int32_t, int32_t) override { mouse.push_back(message); }
    int Count(int32_t type) const
    {
        int n = 0;
        for (const auto& m : messages)
            n += m.first == type;
        return n;
    }
    std::vector<int> Progress() const
    {
        std::vector<int> out;
        for (const auto& m : messages)
            if (m.first == PlayBackControl::kProgress)
                out.push_back(std::stoi(m.second));
        return out;
    }
    std::vector<std::pair<int32_t, std::string>> messages;
    std::vector<std::pair<int32_t, int32_t>> commands;
    std::vector<int32_t> mouse;
};

// Runs the event loop until the condition holds; generous for a busy machine.
bool WaitFor(const std::function<bool()>& cond, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct Player {
    Player()
    {
        ctl.resize(640, 400);
        ctl.SetEventSink(&sink);
        ctl.show();
    }
    ~Player() { ctl.SetEventSink(nullptr); }
    int Shown() { return FrameNumber(ctl.ShownFrame()); }
    Sink sink;
    PlayBackControl ctl;
};

class PlayBackFiles : public ::testing::TestWithParam<const char*> {
protected:
    std::string File()
    {
        Media& m = TheMedia();
        return std::string(GetParam()) == "mp4" ? m.mp4 : m.avi;
    }
};

TEST_P(PlayBackFiles, ProgressPauseStepSeekAndSnapshot)
{
    const std::string file = File();
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    Player p;
    QTemporaryDir snaps;
    p.ctl.SetCapturePath(0, (snaps.path() + "/snap").toUtf8().constData());
    ASSERT_EQ(p.ctl.OpenFile(file.c_str()), 0);
    EXPECT_EQ(p.ctl.IsPlaying(), 1);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kPlaying);

    // Progress: each whole second once, in order, from 0.
    ASSERT_TRUE(WaitFor([&] { return p.sink.Progress().size() >= 3; }));
    const std::vector<int> progress = p.sink.Progress();
    for (size_t i = 0; i < progress.size(); ++i)
        EXPECT_EQ(progress[i], int(i));

    // Pause freezes the picture.
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kPaused);
    Settle(150);  // a frame already decoded may still be shown
    const int64_t frames = p.ctl.FramesShown();
    const int paused = p.Shown();
    ASSERT_GE(paused, 0);
    Settle(600);
    EXPECT_EQ(p.ctl.FramesShown(), frames);
    EXPECT_EQ(p.Shown(), paused);

    // A step shows exactly the next frame, and stays there.
    p.ctl.PressButton(PlayBackControl::kBtnStep);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() == frames + 1; }));
    EXPECT_EQ(p.Shown(), paused + 1);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kStepping);
    Settle(300);
    EXPECT_EQ(p.ctl.FramesShown(), frames + 1);

    // A seek while paused shows the frame at 30 s: frame 750.
    EXPECT_EQ(p.ctl.SetPlaySeconds(1, 30), 0);
    EXPECT_EQ(p.ctl.GetMediaState(2), 30);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.ShownTime() == 30000; }));
    EXPECT_EQ(p.Shown(), 30 * kFps);
    ASSERT_TRUE(WaitFor([&] { return !p.sink.Progress().empty() && p.sink.Progress().back() == 30; }));

    // The snapshot is a JPEG of the video's size.
    p.ctl.PressButton(PlayBackControl::kBtnSnapshot);
    ASSERT_FALSE(p.ctl.LastSnapshot().isEmpty());
    QImageReader reader(p.ctl.LastSnapshot());
    EXPECT_EQ(reader.format(), "jpeg");
    EXPECT_EQ(reader.size(), QSize(kW, kH));
    EXPECT_EQ(FrameNumber(reader.read()), 30 * kFps);

    // Playing on reaches the end: 24 exactly once, then the control is idle.
    p.ctl.SetPlaySeconds(1, kSeconds - 2);
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    ASSERT_TRUE(WaitFor([&] { return p.sink.Count(PlayBackControl::kEnded) > 0; }));
    Settle(500);
    EXPECT_EQ(p.sink.Count(PlayBackControl::kEnded), 1);
    EXPECT_EQ(p.ctl.IsPlaying(), 0);
    EXPECT_EQ(p.Shown(), kSeconds * kFps - 1);
    QDir().mkpath("/tmp/h26a");
    p.ctl.grab().save(QString("/tmp/h26a/playback_%1.png").arg(GetParam()));
}

TEST_P(PlayBackFiles, FastAndSlowChangeTheRate)
{
    const std::string file = File();
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    Player p;
    ASSERT_EQ(p.ctl.OpenFile(file.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > 0; }));

    // Media time gained over a wall-clock span. Load only slows playback, so
    // the fast bound is loose and the slow bound is firm.
    auto gained = [&](int wallMs) {
        const int64_t before = p.ctl.ShownTime();
        QElapsedTimer t;
        t.start();
        Settle(wallMs);
        return std::pair<double, double>(double(p.ctl.ShownTime() - before), double(t.elapsed()));
    };
    p.ctl.PressButton(PlayBackControl::kBtnFast);
    p.ctl.PressButton(PlayBackControl::kBtnFast);
    EXPECT_EQ(p.ctl.Rate(), 4);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kFast);
    Settle(300);
    auto [fastMedia, fastWall] = gained(2000);
    EXPECT_GT(fastMedia, fastWall * 2);
    EXPECT_LT(fastMedia, fastWall * 4 + 2000);
    EXPECT_EQ(p.Shown() % kFps, 0) << "key frames only when fast";

    // Four steps slower: /4.
    for (int i = 0; i < 4; ++i)
        p.ctl.PressButton(PlayBackControl::kBtnSlow);
    EXPECT_EQ(p.ctl.Rate(), -4);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kSlow);
    ASSERT_TRUE(WaitFor([&] { return p.Shown() % kFps != 0; })) << "every frame again";
    auto [slowMedia, slowWall] = gained(2000);
    EXPECT_GT(slowMedia, 0);
    EXPECT_LT(slowMedia, slowWall / 4 + 200);
}

INSTANTIATE_TEST_SUITE_P(Formats, PlayBackFiles, ::testing::Values("mp4", "avi"));

TEST(PlayBackFile, DayChainKeepsThePlayerBusyAfterTheEnd)
{
    Player p;
    p.ctl.Control(PlayBackControl::kFileChain, 1);
    ASSERT_EQ(p.ctl.OpenFile(TheMedia().mp4.c_str()), 0);
    p.ctl.SetPlaySeconds(1, kSeconds - 1);
    ASSERT_TRUE(WaitFor([&] { return p.sink.Count(PlayBackControl::kEnded) == 1; }));
    EXPECT_EQ(p.ctl.IsPlaying(), 1);
    // The next file of the day replaces it without a stale event.
    ASSERT_EQ(p.ctl.OpenFile(TheMedia().avi.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > 0; }));
    Settle(300);
    EXPECT_EQ(p.sink.Count(PlayBackControl::kEnded), 1);
    EXPECT_EQ(p.sink.Progress().back(), 0);
}

TEST(PlayBackFile, BrokenFilesFailCleanly)
{
    QTemporaryDir dir;
    const std::string cut = dir.path().toStdString() + "/cut.mp4";
    auto bytes = mp4test::ReadFile(TheMedia().mp4);
    ASSERT_GT(bytes.size(), 1000u);
    bytes.resize(bytes.size() / 2);
    mp4test::WriteFile(cut, bytes);
    const std::string junk = dir.path().toStdString() + "/junk.avi";
    mp4test::WriteFile(junk, std::vector<uint8_t>(4096, 0x5a));
    // A pipe named like a record: opened, it would hold the window for ever.
    const std::string pipe = dir.path().toStdString() + "/120000-av-1.mp4";
    ASSERT_TRUE(qelmtest::MakePipe(pipe));
    const std::string folder = dir.path().toStdString() + "/130000-av-1.mp4";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    for (const std::string& path :
         {cut, junk, pipe, folder, dir.path().toStdString() + "/missing.mp4", std::string()}) {
        Player p;
        int32_t rc = 0;
        ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(pipe, [&] { rc = p.ctl.OpenFile(path.c_str()); }))
            << "waited on " << path;
        EXPECT_EQ(rc, -1) << path;
        EXPECT_EQ(p.ctl.IsPlaying(), 0) << path;
        Settle(100);
        EXPECT_TRUE(p.sink.messages.empty()) << path;
    }
}

TEST(PlayBackFile, DestroyedWhilePlayingRaisesNothingLate)
{
    Sink sink;
    for (int i = 0; i < 3; ++i) {
        auto* ctl = new PlayBackControl;
        ctl->resize(320, 240);
        ctl->SetEventSink(&sink);
        ASSERT_EQ(ctl->OpenFile(TheMedia().mp4.c_str()), 0);
        ctl->PressButton(PlayBackControl::kBtnFast);
        WaitFor([&] { return ctl->FramesShown() > 2; });
        delete ctl;
    }
    const size_t seen = sink.messages.size();
    Settle(300);
    EXPECT_EQ(sink.messages.size(), seen);
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, QPoint at)
{
    Mouse(w, QEvent::MouseButtonPress, at);
    Mouse(w, QEvent::MouseButtonRelease, at);
}

// The widget's own bar: buttons and slider by mouse; the picture's clicks go
// to the owner as event 1.
TEST(PlayBackFile, MouseOnButtonsSliderAndPicture)
{
    QTemporaryDir jdir;
    const QString journal = jdir.path() + "/journal.txt";
    qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.toUtf8().constData());
    Player p;
    ASSERT_EQ(p.ctl.OpenFile(TheMedia().mp4.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > 0; }));
    Click(&p.ctl, p.ctl.ButtonRect(PlayBackControl::kBtnPlayPause).center());
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kPaused);

    // Dragging the slider holds the mouse; letting go at three quarters of
    // 40 s seeks to 30 s.
    const QRect slider = p.ctl.SliderRect();
    ASSERT_GT(slider.width(), 100);
    const QPoint at(slider.left() + slider.width() * 3 / 4, slider.center().y());
    Mouse(&p.ctl, QEvent::MouseButtonPress, QPoint(slider.left() + 5, slider.center().y()));
    EXPECT_EQ(p.ctl.GetMouseCapture(), 1);
    Mouse(&p.ctl, QEvent::MouseMove, at);
    Mouse(&p.ctl, QEvent::MouseButtonRelease, at);
    EXPECT_EQ(p.ctl.GetMouseCapture(), 0);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.ShownTime() == 30000; }));
    EXPECT_EQ(p.Shown(), 30 * kFps);

    const QPoint mid(p.ctl.width() / 2, 100);
    Click(&p.ctl, mid);
    Mouse(&p.ctl, QEvent::MouseButtonDblClick, mid);
    Mouse(&p.ctl, QEvent::MouseButtonPress, mid, Qt::RightButton);
    EXPECT_EQ(p.sink.mouse, (std::vector<int32_t>{0x201, 0x202, 0x203, 0x204}));

    Click(&p.ctl, p.ctl.ButtonRect(PlayBackControl::kBtnStop).center());
    EXPECT_EQ(p.ctl.IsPlaying(), 0);
    EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kStopped);

    // Calls and events are journaled.
    const std::string text = [&] {
        auto b = mp4test::ReadFile(journal.toStdString());
        return std::string(b.begin(), b.end());
    }();
    for (const char* line : {"call\tPlayBack::OpenFile\t", "event\tPlayBack::OnMessage\t23\t0\n",
                             "call\tPlayBack::SetPlaySeconds\t1\t30\t=0\n", "event\tPlayBack::OnMouse\t515\t",
                             "call\tPlayBack::Stop\t=0\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

// The painted picture, shrunk into a pane of half the video's size (the
// cheap halving path) and into a larger one, still shows the right frame.
TEST(PlayBackFile, PaintedPictureMatchesTheFrame)
{
    for (const QSize pane : {QSize(kW / 2, kH / 2), QSize(kW / 2 - 20, kH / 2 - 15), QSize(kW + 80, kH + 60)}) {
        Player p;
        p.ctl.resize(pane.width(), pane.height() + 28);
        ASSERT_EQ(p.ctl.OpenFile(TheMedia().mp4.c_str()), 0);
        p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
        p.ctl.SetPlaySeconds(1, 30);
        ASSERT_TRUE(WaitFor([&] { return p.ctl.ShownTime() == 30000; }));
        Settle(100);
        const QImage shot = p.ctl.grab().toImage().copy(0, 0, pane.width(), pane.height());
        const QImage full = shot.scaled(kW, kH, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        EXPECT_EQ(FrameNumber(full), 30 * kFps) << pane.width() << "x" << pane.height();
    }
}

TEST(PlayBackFile, FullScreenAndBack)
{
    QWidget host;
    host.resize(800, 600);
    auto* ctl = new PlayBackControl(&host);
    ctl->setGeometry(10, 20, 400, 300);
    host.show();
    ASSERT_EQ(ctl->OpenFile(TheMedia().mp4.c_str()), 0);
    EXPECT_EQ(ctl->SetFullScreen(1), 0);
    EXPECT_TRUE(ctl->isWindow());
    EXPECT_TRUE(ctl->isFullScreen());
    EXPECT_EQ(ctl->IsPlaying(), 1);
    EXPECT_EQ(ctl->SetFullScreen(0), 0);
    EXPECT_EQ(ctl->parentWidget(), &host);
    EXPECT_EQ(ctl->geometry(), QRect(10, 20, 400, 300));
    EXPECT_TRUE(ctl->isVisible());
    EXPECT_EQ(ctl->IsPlaying(), 1);
}

// --- fed streams --------------------------------------------------------------------

std::string Base64(const void* p, size_t n)
{
    return QByteArray(static_cast<const char*>(p), qsizetype(n)).toBase64().toStdString();
}

TEST(PlayBackStream, MediaParamsMustHaveTheRecordSize)
{
    const VideoParam vp = mp4test::H264Param(kW, kH);
    const AudioParam ap = mp4test::G711Param();
    std::vector<uint8_t> big(600, 1);
    struct Case {
        std::string text;
        int32_t kind;
        int32_t result;
    } cases[] = {
        {Base64(&vp, sizeof vp), PlayBackControl::kVideoParam, 0},
        {Base64(&ap, sizeof ap), PlayBackControl::kAudioParam, 0},
        {Base64(&vp, sizeof vp - 1), PlayBackControl::kVideoParam, -1},
        {Base64(big.data(), 537), PlayBackControl::kVideoParam, -1},
        {Base64(big.data(), 600), PlayBackControl::kVideoParam, -1},
        {Base64(&ap, sizeof ap), PlayBackControl::kVideoParam, -1},
        {Base64(&vp, sizeof vp), PlayBackControl::kAudioParam, -1},
        {Base64(big.data(), 275), PlayBackControl::kAudioParam, -1},
        {"not base64 at all!", PlayBackControl::kAudioParam, -1},
        {"", PlayBackControl::kVideoParam, -1},
        {Base64(&vp, sizeof vp), 2, -1},
    };
    for (const Case& c : cases) {
        PlayBackControl ctl;
        EXPECT_EQ(ctl.SetMediaParam(c.text.c_str(), int32_t(c.text.size() * 3 / 4), c.kind), c.result)
            << c.text.size() << " kind " << c.kind;
        EXPECT_EQ(ctl.GetMediaState(c.kind == 1 ? 1 : 0), c.result == 0 ? 1 : 0);
    }
    PlayBackControl ctl;
    EXPECT_EQ(ctl.SetMediaParam(nullptr, 0, 0), -1);
}

TEST(PlayBackStream, FedFromAnotherThreadShowsPicturesAndButtonsOnlyRaiseCommands)
{
    Media& m = TheMedia();
    ASSERT_FALSE(m.video.empty());
    Player p;
    const VideoParam vp = mp4test::H264Param(kW, kH);
    const AudioParam ap = mp4test::G711Param();
    EXPECT_EQ(p.ctl.InputVideoData(m.video[0].data.data(), 10, nullptr, 0), -1);
    ASSERT_EQ(p.ctl.SetMediaParam(Base64(&vp, sizeof vp).c_str(), 536, 0), 0);
    ASSERT_EQ(p.ctl.SetMediaParam(Base64(&ap, sizeof ap).c_str(), 276, 1), 0);
    p.ctl.SetPlaySeconds(0, 600);
    p.ctl.SetPlaySeconds(1, 100);
    ASSERT_EQ(p.ctl.Play(), 0);
    p.ctl.EnableStreamInput(1);
    EXPECT_EQ(p.ctl.IsPlaying(), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::thread feeder([&] {
        // Timestamps on the source's own clock, far from zero.
        for (size_t i = 0; i < 200 && !stop; ++i) {
            const auto& f = m.video[i];
            const MediaFrameHeader h{f.key ? 1 : 0, 0, 5'000'000.0 + double(i) * 40};
            while (!stop && p.ctl.InputVideoData(f.data.data(), int32_t(f.data.size()),
                                                 reinterpret_cast<const uint8_t*>(&h), sizeof h) != 0) {
                ++refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            for (size_t k = 0; k < 2; ++k) {
                const auto& a = m.audio[i * 2 + k];
                const MediaFrameHeader ah{1, 0, 5'000'000.0 + double(i * 2 + k) * 20};
                p.ctl.InputAudioData(a.data.data(), int32_t(a.data.size()), reinterpret_cast<const uint8_t*>(&ah),
                                     sizeof ah);
            }
        }
    });
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > 30; }));
    const int shown = p.Shown();
    EXPECT_GE(shown, 30);
    EXPECT_LT(shown, 200);
    // The position counts from what the owner set.
    ASSERT_TRUE(WaitFor([&] { return !p.sink.Progress().empty() && p.sink.Progress().back() >= 101; }));
    EXPECT_EQ(p.sink.Progress().front(), 100);

    // Buttons raise event 4 and leave the stream's pace to its source.
    const int64_t before = p.ctl.FramesShown();
    struct Press {
        int32_t button, command, value;
    } presses[] = {
        {PlayBackControl::kBtnPlayPause, PlayBackControl::kCmdPause, 0},
        {PlayBackControl::kBtnPlayPause, PlayBackControl::kCmdContinue, 0},
        {PlayBackControl::kBtnFast, PlayBackControl::kCmdFast, 2},
        {PlayBackControl::kBtnFast, PlayBackControl::kCmdFast, 4},
        {PlayBackControl::kBtnSlow, PlayBackControl::kCmdFast, 2},
        {PlayBackControl::kBtnSlow, PlayBackControl::kCmdNormal, 0},
        {PlayBackControl::kBtnSlow, PlayBackControl::kCmdSlow, 2},
        {PlayBackControl::kBtnSlow, PlayBackControl::kCmdSlow, 4},
        {PlayBackControl::kBtnStop, PlayBackControl::kCmdStop, 0},
    };
    for (const Press& press : presses) {
        p.sink.commands.clear();
        p.ctl.PressButton(press.button);
        ASSERT_EQ(p.sink.commands.size(), 1u) << press.button;
        EXPECT_EQ(p.sink.commands[0], std::make_pair(press.command, press.value)) << press.button;
    }
    EXPECT_EQ(p.ctl.IsPlaying(), 1) << "stop is the owner's to do";
    // The slider asks the owner too: half of the 600 s the owner set.
    p.sink.commands.clear();
    const QRect slider = p.ctl.SliderRect();
    Click(&p.ctl, QPoint(slider.left() + slider.width() / 2, slider.center().y()));
    ASSERT_EQ(p.sink.commands.size(), 1u);
    EXPECT_EQ(p.sink.commands[0].first, PlayBackControl::kCmdSeek);
    EXPECT_NEAR(p.sink.commands[0].second, 300, 3);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > before + 5; })) << "a pause button does not pause a stream";

    QDir().mkpath("/tmp/h26a");
    p.ctl.grab().save("/tmp/h26a/playback_stream.png");
    stop = true;
    feeder.join();
    EXPECT_EQ(p.ctl.Stop(), 0);
    EXPECT_EQ(p.ctl.IsPlaying(), 0);
    EXPECT_EQ(p.ctl.InputVideoData(m.video[0].data.data(), int32_t(m.video[0].data.size()),
                                   reinterpret_cast<const uint8_t*>(&vp), 16),
              -1);
}

// --- sound ----------------------------------------------------------------------------

// Takes the PCM of the sound outputs in place of an audio device, with the
// time of the picture that was shown when each piece was handed over.
struct SoundRecorder : qelm::SoundTap {
    explicit SoundRecorder(PlayBackControl* watched) : ctl(watched) { qelm::SoundOutput::SetTap(this); }
    ~SoundRecorder() override { qelm::SoundOutput::SetTap(nullptr); }
    void OnSound(const void* owner, int rate, int channels, const QByteArray& pcm) override
    {
        if (owner != ctl)
            return;
        pieces.push_back({rate, channels, pcm, ctl->ShownTime()});
        all.append(pcm);
    }
    struct Piece {
        int rate, channels;
        QByteArray pcm;
        int64_t shownMs;
    };
    PlayBackControl* ctl;
    std::vector<Piece> pieces;
    QByteArray all;
};

// Sign changes of 16-bit mono PCM per second of it at rate.
double Crossings(const QByteArray& pcm, int rate)
{
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    int crossings = 0;
    for (qsizetype i = 1; i < n; ++i)
        crossings += (s[i - 1] < 0) != (s[i] < 0);
    return n > 0 ? crossings * double(rate) / double(n) : 0;
}

struct SoundCase {
    const char* name;
    std::string SoundMedia::*file;
    QByteArray SoundMedia::*reference;
    int rate;
};

void PrintTo(const SoundCase& c, std::ostream* os) { *os << c.name; }

class PlayBackSound : public ::testing::TestWithParam<SoundCase> {};

TEST_P(PlayBackSound, FilePlaysItsSoundInOrderWithThePicturesUntilPausedOrSwitchedOff)
{
    const SoundCase& c = GetParam();
    SoundMedia& m = TheSoundMedia();
    const std::string file = m.*c.file;
    const QByteArray& reference = m.*c.reference;
    ASSERT_TRUE(!file.empty() && std::filesystem::exists(file)) << c.name;
    ASSERT_FALSE(reference.isEmpty());
    Player p;
    SoundRecorder rec(&p.ctl);
    EXPECT_EQ(p.ctl.SoundOn(), 0);
    p.ctl.PressButton(PlayBackControl::kBtnSound);
    EXPECT_EQ(p.ctl.SoundOn(), 1);
    ASSERT_EQ(p.ctl.OpenFile(file.c_str()), 0);

    const qsizetype perSecond = qsizetype(c.rate) * 2;
    ASSERT_TRUE(WaitFor([&] { return rec.all.size() >= 3 * perSecond; })) << c.name;
    qsizetype before = 0;
    for (const auto& piece : rec.pieces) {
        EXPECT_EQ(piece.rate, c.rate);
        EXPECT_EQ(piece.channels, 1);
        // Handed over only once the picture of its time shows (the control
        // leads by 120 ms; AAC frames may straddle a picture by 64 ms).
        const int64_t startMs = before * 1000 / perSecond;
        EXPECT_GE(piece.shownMs, 0);
        EXPECT_LE(startMs, piece.shownMs + 120 + 70) << "sound ran ahead of the pictures";
        before += piece.pcm.size();
    }
    // Every sample from the file's start, in order, as ffmpeg decodes the source.
    ASSERT_LE(rec.all.size(), reference.size());
    EXPECT_TRUE(rec.all == reference.left(rec.all.size())) << "not the file's samples in order";
    EXPECT_NEAR(Crossings(rec.all.mid(perSecond / 2), c.rate), 880, 880 * 0.03) << "a 440 Hz tone at its own rate";

    // Paused: the sound stops with the pictures.
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    Settle(300);  // what was due before the pause
    const qsizetype paused = rec.all.size();
    Settle(600);
    EXPECT_EQ(rec.all.size(), paused);

    // Switched off: nothing more is handed over while it plays on.
    p.ctl.PressButton(PlayBackControl::kBtnSound);
    EXPECT_EQ(p.ctl.SoundOn(), 0);
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    const int64_t frames = p.ctl.FramesShown();
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > frames + 25; }));
    EXPECT_EQ(rec.all.size(), paused);

    // On again after a seek: the sound comes with the pictures of the new place.
    p.ctl.Control(PlayBackControl::kSound, 1);
    const size_t atSeek = rec.pieces.size();
    p.ctl.SetPlaySeconds(1, 20);
    ASSERT_TRUE(WaitFor([&] { return rec.all.size() >= paused + perSecond; }));
    for (size_t i = atSeek; i < rec.pieces.size(); ++i)
        EXPECT_GE(rec.pieces[i].shownMs, 20000) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, PlayBackSound,
    ::testing::Values(SoundCase{"mulaw_mp4", &SoundMedia::mulawMp4, &SoundMedia::mulawPcm, 8000},
                      SoundCase{"mulaw_avi", &SoundMedia::mulawAvi, &SoundMedia::mulawPcm, 8000},
                      SoundCase{"alaw_avi", &SoundMedia::alawAvi, &SoundMedia::alawPcm, 8000},
                      SoundCase{"aac_mp4", &SoundMedia::aacMp4, &SoundMedia::aacPcm, 16000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlayBackSound, SoundOffFromTheStartHandsOverNothing)
{
    Player p;
    SoundRecorder rec(&p.ctl);
    p.ctl.Control(PlayBackControl::kSound, 0);  // as the record search page opens a file
    ASSERT_EQ(p.ctl.OpenFile(TheMedia().mp4.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() > 50; }));
    EXPECT_TRUE(rec.pieces.empty());
}

// A fed stream's G.711 reaches the output as the source's samples; a step
// shows one frame at a time, holding the source while frames wait and
// letting it run when they run out.
TEST(PlayBackStream, SoundAndStepsOnAFedStream)
{
    Media& m = TheMedia();
    ASSERT_GE(m.video.size(), 200u);
    Player p;
    SoundRecorder rec(&p.ctl);
    const VideoParam vp = mp4test::H264Param(kW, kH);
    const AudioParam ap = mp4test::G711Param();
    ASSERT_EQ(p.ctl.SetMediaParam(Base64(&vp, sizeof vp).c_str(), 536, 0), 0);
    ASSERT_EQ(p.ctl.SetMediaParam(Base64(&ap, sizeof ap).c_str(), 276, 1), 0);
    p.ctl.Control(PlayBackControl::kSound, 1);
    ASSERT_EQ(p.ctl.Play(), 0);
    p.ctl.EnableStreamInput(1);
    const double t0 = 7'000'000.0;  // the source's own clock
    auto feedVideo = [&](size_t i) {
        const auto& f = m.video[i];
        const MediaFrameHeader h{f.key ? 1 : 0, 0, t0 + double(i) * 40};
        return p.ctl.InputVideoData(f.data.data(), int32_t(f.data.size()), reinterpret_cast<const uint8_t*>(&h),
                                    sizeof h);
    };
    auto feedAudio = [&](size_t k) {
        const auto& a = m.audio[k];
        const MediaFrameHeader h{1, 0, t0 + double(k) * 20};
        return p.ctl.InputAudioData(a.data.data(), int32_t(a.data.size()), reinterpret_cast<const uint8_t*>(&h),
                                    sizeof h);
    };

    // Paused before the first frame: nothing shows, nothing sounds.
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    ASSERT_EQ(p.sink.commands, (std::vector<std::pair<int32_t, int32_t>>{{PlayBackControl::kCmdPause, 0}}));
    for (size_t i = 0; i < 10; ++i) {
        ASSERT_EQ(feedVideo(i), 0);
        ASSERT_EQ(feedAudio(2 * i), 0);
        ASSERT_EQ(feedAudio(2 * i + 1), 0);
    }
    Settle(200);
    EXPECT_EQ(p.ctl.FramesShown(), 0);

    // Each step shows the next frame, exactly one.
    p.sink.commands.clear();
    for (int k = 1; k <= 10; ++k) {
        p.ctl.PressButton(PlayBackControl::kBtnStep);
        EXPECT_EQ(p.ctl.GetPlayState(), PlayBackControl::kStepping);
        ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() >= k; })) << k;
        EXPECT_EQ(p.ctl.FramesShown(), k);
        EXPECT_EQ(p.ctl.ShownTime(), int64_t(t0) + (k - 1) * 40);
        EXPECT_EQ(p.Shown(), k - 1);
    }
    EXPECT_TRUE(rec.pieces.empty()) << "no sound while stepping";
    // The frames ran out: the source was asked to run, once.
    ASSERT_EQ(p.sink.commands, (std::vector<std::pair<int32_t, int32_t>>{{PlayBackControl::kCmdContinue, 0}}));

    // It sends on; with enough frames waiting it is asked to rest again.
    for (size_t i = 10; i < 80; ++i) {
        ASSERT_EQ(feedVideo(i), 0);
        feedAudio(2 * i);
        feedAudio(2 * i + 1);
    }
    ASSERT_TRUE(WaitFor([&] { return p.sink.commands.size() == 2; }));
    EXPECT_EQ(p.sink.commands[1], std::make_pair(int32_t(PlayBackControl::kCmdPause), 0));
    p.ctl.PressButton(PlayBackControl::kBtnStep);
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() >= 11; }));
    EXPECT_EQ(p.ctl.ShownTime(), int64_t(t0) + 10 * 40);

    // Playing on: pictures and sound move on from where the steps left them,
    // the sound being the source's samples from that place.
    p.sink.commands.clear();
    p.ctl.PressButton(PlayBackControl::kBtnPlayPause);
    ASSERT_EQ(p.sink.commands, (std::vector<std::pair<int32_t, int32_t>>{{PlayBackControl::kCmdContinue, 0}}));
    ASSERT_TRUE(WaitFor([&] { return p.ctl.FramesShown() >= 60 && rec.all.size() >= 8000; }));
    for (const auto& piece : rec.pieces)
        EXPECT_EQ(piece.rate, 8000);
    // The sound of the frames the steps passed is not played late: it starts
    // at the 11th frame, 400 ms (20 pieces of G.711) into the stream.
    const qsizetype from = 20 * 160 * 2;
    const QByteArray source = DecodeToPcm(m.ul, "-f mulaw -ar 8000 -ac 1", m.dir.path().toStdString() + "/fed.raw");
    ASSERT_LE(from + rec.all.size(), source.size());
    EXPECT_TRUE(rec.all == source.mid(from, rec.all.size()));
    EXPECT_EQ(p.ctl.Stop(), 0);
}

} // namespace
