// Downloads of the device simulator: file copies with their progress texts
// and end events, stops, and a recorder channel's span written as one MP4.
#include "controls/device_sim.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Ev {
    int kind;
    int32_t id, a;
    std::string text;
};

class Sink : public IDeviceControlEvents {
public:
    std::vector<Ev> events;
    void StatusEvent(int32_t id, int32_t type, const char* text) override { events.push_back({1, id, type, text}); }
    void PTZResponse(int32_t, int32_t, const char*) override {}
    void AUXResponse(int32_t, int32_t, const char*) override {}
    void AlarmEvent(int32_t, const uint8_t*, int32_t) override {}
    void MediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void MediaParamRecv(int32_t, const char*, int32_t) override {}
    void NvrReplayEnd(int32_t, int32_t, int32_t) override {}
    void TimeDownloadProgress(int32_t id, int32_t value) override { events.push_back({8, id, value, {}}); }

    std::vector<Ev> Status(int32_t type) const
    {
        std::vector<Ev> out;
        for (const Ev& e : events)
            if (e.kind == 1 && e.a == type)
                out.push_back(e);
        return out;
    }
    bool Ended() const { return !Status(kDevStatusDownloadDone).empty() || !Status(kDevStatusDownloadFailed).empty(); }
    bool SpanEnded() const
    {
        for (const Ev& e : events)
            if (e.kind == 8 && (e.a == 100 || e.a == -1))
                return true;
        return false;
    }
};

bool WaitFor(const std::function<bool()>& done, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteRandom(const std::string& path, size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = char(rng());
    std::ofstream(path, std::ios::binary) << data;
}

// A real H.264 clip of `seconds` at 10 frames a second, a key frame a second.
bool MakeClip(const std::string& path, int seconds)
{
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -t " +
                            std::to_string(seconds) + " -g 10 -c:v libx264 -pix_fmt yuv420p '" + path + "'";
    return std::system(cmd.c_str()) == 0 && fs::exists(path);
}

// The container's duration as ffprobe reads it; -1 when it refuses the file.
double ProbeDuration(const std::string& path)
{
    const std::string cmd = "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    char buf[128] = {};
    const bool got = fgets(buf, sizeof buf, p) != nullptr;
    const int rc = pclose(p);
    return got && rc == 0 ? atof(buf) : -1;
}

class DeviceSimDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The pipe writers below outlive the copy's reading end.
        std::signal(SIGPIPE, SIG_IGN);
        m_dir = fs::temp_directory_path() / ("devsim_dl_" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "src");
        fs::create_directories(m_dir / "down");
        DeviceSimulator::Instance().Clear();
        m_ctrl = std::make_unique<DeviceControl>();
        m_ctrl->Advise(&m_sink);
    }
    void TearDown() override
    {
        m_ctrl->Unadvise();
        m_ctrl.reset();
        DeviceSimulator::Instance().Clear();
        fs::remove_all(m_dir);
    }
    int32_t Login(const SimDevice& d)
    {
        DeviceSimulator::Instance().AddDevice(d);
        const int32_t id = m_ctrl->AddDevice(d.address.c_str(), d.port, d.user.c_str(), d.password.c_str());
        EXPECT_TRUE(WaitFor([&] { return !m_sink.Status(kDevStatusLoggedIn).empty(); }));
        m_sink.events.clear();
        return id;
    }
    static SimDevice Device(int type = 0)
    {
        SimDevice d;
        d.address = "127.0.0.1";
        d.port = 5100;
        d.user = "admin";
        d.password = "pw";
        d.type = type;
        d.channels = type == 4 ? 4 : 1;
        return d;
    }
    std::string Src(const std::string& name) const { return (m_dir / "src" / name).string(); }
    std::string Down(const std::string& name) const { return (m_dir / "down" / name).string(); }

    fs::path m_dir;
    Sink m_sink;
    std::unique_ptr<DeviceControl> m_ctrl;
};

TEST_F(DeviceSimDownloadTest, FilesAreCopiedWithProgressThenCompleteOrFailed)
{
    SimDevice d = Device();
    const size_t sizes[] = {0, 1000, 700 * 1024};
    for (int i = 0; i < 3; ++i) {
        WriteRandom(Src("f" + std::to_string(i)), sizes[i], unsigned(i + 1));
        d.files.push_back({"/mnt/sd1/f" + std::to_string(i) + ".avi", sizes[i], "20261210 10:00:00", 60, 1, 'A',
                           Src("f" + std::to_string(i))});
    }
    d.files.push_back({"/mnt/sd1/nosource.avi", 10, "20261210 11:00:00", 60, 1, 'A', ""});
    d.files.push_back({"/mnt/sd1/gone.avi", 10, "20261210 12:00:00", 60, 1, 'A', Src("missing")});
    const int32_t id = Login(d);

    for (int i = 0; i < 3; ++i) {
        m_sink.events.clear();
        const std::string local = Down("f" + std::to_string(i) + ".avi");
        ASSERT_EQ(m_ctrl->DownloadFile(id, 0, ("/mnt/sd1/f" + std::to_string(i) + ".avi").c_str(), local.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return m_sink.Ended(); }));
        EXPECT_EQ(m_sink.Status(kDevStatusDownloadDone).size(), 1u) << i;
        EXPECT_TRUE(m_sink.Status(kDevStatusDownloadFailed).empty()) << i;
        EXPECT_EQ(ReadAll(local), ReadAll(Src("f" + std::to_string(i)))) << i;
        // The progress texts count up to the whole size before the end.
        const std::vector<Ev> progress = m_sink.Status(kDevStatusDownloadProgress);
        if (sizes[i] > 0) {
            ASSERT_FALSE(progress.empty()) << i;
            EXPECT_EQ(progress.back().text, "<RESPONSE_PARAM start=\"" + std::to_string(sizes[i]) + "\" filesize=\"" +
                                                std::to_string(sizes[i]) + "\" />");
            EXPECT_EQ(m_sink.events.back().a, kDevStatusDownloadDone);
        }
        EXPECT_EQ(m_ctrl->GetDownloadProgress(id), 100);
    }

    struct Case {
        const char* remote;
        std::string local;
    } failing[] = {
        {"/mnt/sd1/unknown.avi", Down("u.avi")},
        {"/mnt/sd1/nosource.avi", Down("n.avi")},
        {"/mnt/sd1/gone.avi", Down("g.avi")},
        {"/mnt/sd1/f1.avi", (m_dir / "no-such-folder" / "f1.avi").string()},
        {"/mnt/sd1/f1.avi", ""},
    };
    for (const Case& c : failing) {
        m_sink.events.clear();
        EXPECT_EQ(m_ctrl->DownloadFile(id, 0, c.remote, c.local.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return m_sink.Ended(); })) << c.remote;
        EXPECT_EQ(m_sink.Status(kDevStatusDownloadFailed).size(), 1u) << c.remote << " " << c.local;
        EXPECT_TRUE(m_sink.Status(kDevStatusDownloadDone).empty()) << c.remote << " " << c.local;
        EXPECT_EQ(m_ctrl->GetDownloadProgress(id), -1);
    }
    EXPECT_EQ(m_ctrl->DownloadFile(id + 100, 0, "/mnt/sd1/f1.avi", Down("x").c_str()), -1);
}

TEST_F(DeviceSimDownloadTest, StopEndsWithoutAnEventAndRemovesThePartialCopy)
{
    // A pipe as the source: the copy waits for data the test gives, so the
    // stop surely comes while it runs, and its size reads as 0.
    const std::string fifo = Src("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SimDevice d = Device();
    d.files.push_back({"/mnt/sd1/live.avi", 0, "20261210 10:00:00", 60, 1, 'A', fifo});
    const int32_t id = Login(d);

    std::atomic<bool> feed{true};
    std::thread writer([&] {
        std::ofstream out(fifo, std::ios::binary);
        const std::string block(4096, 'z');
        while (feed.load() && out) {
            out.write(block.data(), std::streamsize(block.size()));
            out.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const std::string local = Down("live.avi");
    ASSERT_EQ(m_ctrl->DownloadFile(id, 0, "/mnt/sd1/live.avi", local.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return !m_sink.Status(kDevStatusDownloadProgress).empty(); }));
    // Without a size the percentage is 0, not a division by zero.
    EXPECT_NE(m_sink.Status(kDevStatusDownloadProgress)[0].text.find("filesize=\"0\""), std::string::npos);
    EXPECT_EQ(m_ctrl->GetDownloadProgress(id), 0);

    std::thread stopper([&] { m_ctrl->StopDownload(id); });
    stopper.join(); // returns once the worker is gone
    feed = false;
    writer.join();
    m_sink.events.clear();
    WaitFor([] { return false; }, 200);
    EXPECT_FALSE(m_sink.Ended());
    EXPECT_FALSE(fs::exists(local));
}

TEST_F(DeviceSimDownloadTest, DestroyingTheControlJoinsARunningCopy)
{
    const std::string fifo = Src("pipe2");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SimDevice d = Device();
    d.files.push_back({"/mnt/sd1/live.avi", 0, "20261210 10:00:00", 60, 1, 'A', fifo});
    const int32_t id = Login(d);
    std::atomic<bool> feed{true};
    std::thread writer([&] {
        std::ofstream out(fifo, std::ios::binary);
        const std::string block(4096, 'z');
        while (feed.load() && out) {
            out.write(block.data(), std::streamsize(block.size()));
            out.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_EQ(m_ctrl->DownloadFile(id, 0, "/mnt/sd1/live.avi", Down("live.avi").c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return !m_sink.Status(kDevStatusDownloadProgress).empty(); }));
    m_ctrl->Unadvise();
    m_ctrl.reset();
    feed = false;
    writer.join();
    EXPECT_FALSE(fs::exists(Down("live.avi")));
    m_ctrl = std::make_unique<DeviceControl>();
}

TEST_F(DeviceSimDownloadTest, SpanOfAChannelBecomesOneMp4)
{
    ASSERT_TRUE(MakeClip(Src("a.mp4"), 10));
    ASSERT_TRUE(MakeClip(Src("b.mp4"), 10));
    ASSERT_TRUE(MakeClip(Src("other.mp4"), 10));
    SimDevice d = Device(4);
    d.files.push_back({"/rec/2/a.mp4", 1, "20261210 10:00:00", 10, 2, 'A', Src("a.mp4")});
    d.files.push_back({"/rec/2/b.mp4", 1, "20261210 10:00:10", 10, 2, 'A', Src("b.mp4")});
    d.files.push_back({"/rec/1/o.mp4", 1, "20261210 10:00:00", 10, 1, 'A', Src("other.mp4")});
    const int32_t id = Login(d);

    struct Case {
        const char *start, *end;
        double seconds;
    } cases[] = {
        {"20261210100000", "20261210100020", 20},  // both files
        {"20261210100005", "20261210100015", 10},  // the end of one and the start of the next
        {"20261210095950", "20261210100008", 8},   // before the first file
    };
    for (const Case& c : cases) {
        m_sink.events.clear();
        const std::string out = Down(std::string(c.start) + ".mp4");
        ASSERT_EQ(m_ctrl->DownloadByTime(id, 2, c.start, c.end, out.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return m_sink.SpanEnded(); })) << c.start;
        ASSERT_FALSE(m_sink.events.empty());
        EXPECT_EQ(m_sink.events.back().a, 100) << c.start;
        int last = -1;
        for (const Ev& e : m_sink.events) {
            EXPECT_GE(e.a, last) << c.start;  // progress only grows
            last = e.a;
        }
        const double seconds = ProbeDuration(out);
        EXPECT_NEAR(seconds, c.seconds, 1.15) << c.start;  // key frames a second apart
    }

    // Nothing recorded in the span, a span that is not one, a replay under way.
    m_sink.events.clear();
    ASSERT_EQ(m_ctrl->DownloadByTime(id, 2, "20261210110000", "20261210110100", Down("none.mp4").c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.SpanEnded(); }));
    EXPECT_EQ(m_sink.events.back().a, -1);
    EXPECT_FALSE(fs::exists(Down("none.mp4")));
    EXPECT_EQ(m_ctrl->DownloadByTime(id, 2, "20261210100010", "20261210100010", Down("eq.mp4").c_str()), -1);
    DeviceSimulator::Instance().SetActivity(d.address, d.port, DeviceSimulator::kActivityNvrReplay, true);
    EXPECT_EQ(m_ctrl->DownloadByTime(id, 2, "20261210100000", "20261210100020", Down("busy.mp4").c_str()), -5);
    DeviceSimulator::Instance().SetActivity(d.address, d.port, DeviceSimulator::kActivityNvrReplay, false);
    EXPECT_FALSE(DeviceSimulator::Instance().HasActivity(d.address, d.port, DeviceSimulator::kActivityNvrReplay));
}

} // namespace
