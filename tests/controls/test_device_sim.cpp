// Tests of the device simulator and the device-control stand-in: log-in,
// PTZ, maintenance answers, record search, status and alarm events, the journal.
#include "controls/device_sim.h"

#include "controls/journal.h"
#include "platform/logsink.h"
#include "tests/support/pipe_trap.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Ev {
    int kind;
    int32_t id, a, b;
    std::string text;
    std::vector<uint8_t> bytes;
};

class Sink : public IDeviceControlEvents {
public:
    std::vector<Ev> events;
    void StatusEvent(int32_t id, int32_t type, const char* text) override { events.push_back({1, id, type, 0, text, {}}); }
    void PTZResponse(int32_t id, int32_t code, const char* text) override { events.push_back({2, id, code, 0, text, {}}); }
    void AUXResponse(int32_t id, int32_t code, const char* text) override { events.push_back({3, id, code, 0, text, {}}); }
    void AlarmEvent(int32_t id, const uint8_t* info, int32_t length) override
    {
        events.push_back({4, id, length, 0, {}, std::vector<uint8_t>(info, info + length)});
    }
    void MediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* value, int32_t kind) override
    {
        events.push_back({5, id, *value, kind, {}, std::vector<uint8_t>(data, data + length)});
    }
    void MediaParamRecv(int32_t id, const char* xml, int32_t kind) override { events.push_back({6, id, kind, 0, xml, {}}); }
    void NvrReplayEnd(int32_t id, int32_t code, int32_t channel) override { events.push_back({7, id, code, channel, {}, {}}); }
    void TimeDownloadProgress(int32_t id, int32_t value) override { events.push_back({8, id, value, 0, {}, {}}); }

    const Ev* Find(int kind, int32_t id) const
    {
        for (const Ev& e : events)
            if (e.kind == kind && e.id == id)
                return &e;
        return nullptr;
    }
};

bool WaitFor(const std::function<bool()>& done, int ms = 3000)
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

void Settle(int ms = 100)
{
    WaitFor([] { return false; }, ms);
}

SimDevice Camera()
{
    SimDevice d;
    d.address = "127.0.0.1";
    d.port = 5000;
    d.user = "admin";
    d.password = "123456";
    d.presets = {"1", "5", "s2#08:00-09:00"};
    d.version = "V2.3.1";
    d.storages = {{"sd1", 1, 30436, 1024, 29412, 3}};
    for (int i = 0; i < 25; ++i) {
        char path[64], start[32];
        snprintf(path, sizeof(path), "/mnt/sd1/20261210/%02d0000-1.avi", i % 24);
        snprintf(start, sizeof(start), "20261210 %02d:00:00", i % 24);
        d.files.push_back({path, uint64_t(1000 + i), start, 600, 1, 'A', {}});
    }
    return d;
}

class DeviceSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_journal = fs::temp_directory_path() / ("devsim_journal_" + std::to_string(getpid()) + ".txt");
        fs::remove(m_journal);
        setenv("QELM2_JOURNAL", m_journal.c_str(), 1);
        DeviceSimulator::Instance().Clear();
        DeviceSimulator::Instance().AddDevice(Camera());
        Settle(0);
        m_ctrl = std::make_unique<DeviceControl>();
        m_ctrl->Advise(&m_sink);
    }
    void TearDown() override
    {
        m_ctrl->Unadvise();
        m_ctrl.reset();
        DeviceSimulator::Instance().Clear();
        Settle(0);
        unsetenv("QELM2_JOURNAL");
        fs::remove(m_journal);
    }

    int32_t Login(const char* password = "123456")
    {
        const int32_t id = m_ctrl->AddDevice("127.0.0.1", 5000, "admin", password);
        EXPECT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
        return id;
    }

    std::vector<std::vector<std::string>> JournalLines()
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(m_journal);
        for (std::string line; std::getline(in, line);)
            out.push_back(qelm::Journal::ParseLine(line));
        return out;
    }

    bool Journaled(const std::vector<std::string>& want)
    {
        for (const auto& fields : JournalLines()) {
            // A journal line may lead with fields of its own (time, thread):
            // look for the expected run anywhere in it.
            auto it = std::search(fields.begin(), fields.end(), want.begin(), want.end());
            if (it != fields.end())
                return true;
        }
        return false;
    }

    fs::path m_journal;
    Sink m_sink;
    std::unique_ptr<DeviceControl> m_ctrl;
};

TEST_F(DeviceSimTest, LoginAnswersLaterWithTheStatusOfTheDevice)
{
    struct Case {
        const char* address;
        const char* password;
        int32_t status;
    } cases[] = {
        {"127.0.0.1", "123456", kDevStatusLoggedIn},
        {"127.0.0.1", "wrong", kDevStatusRefused},
        {"127.0.0.9", "123456", kDevStatusLost},  // no device there
    };
    for (const Case& c : cases) {
        const int32_t id = m_ctrl->AddDevice(c.address, 5000, "admin", c.password);
        ASSERT_GT(id, 0);
        EXPECT_EQ(m_sink.Find(1, id), nullptr) << "the answer must not arrive inside the call";
        ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; })) << c.address << " " << c.password;
        EXPECT_EQ(m_sink.Find(1, id)->a, c.status) << c.address << " " << c.password;
    }
    EXPECT_TRUE(Journaled({"call", "CAuxPtzCtrl::AddDevice", "127.0.0.1", "5000", "admin", "wrong"}));
    EXPECT_TRUE(Journaled({"event", "CAuxPTZEvents::StatusEvent"}));
}

TEST_F(DeviceSimTest, RefusedOrUnknownLoginTakesNoCommands)
{
    const int32_t bad = Login("wrong");
    EXPECT_EQ(m_ctrl->PtzControl(bad, "<xml><cmd>Orbit</cmd></xml>"), -1);
    EXPECT_EQ(m_ctrl->WriteAUXStringEx(bad, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""), -1);
    EXPECT_EQ(m_ctrl->PtzControl(9999, "<xml><cmd>Orbit</cmd></xml>"), -1);
}

TEST_F(DeviceSimTest, PtzCommandTextIsJournaledExactlyAndPresetListAnswered)
{
    const int32_t id = Login();
    const char* up = "<xml>\t\t\t\t\t\t\t\t   <cmd>up</cmd>\t\t\t\t\t\t\t\t   <panspeed>5</panspeed>\t\t\t\t\t\t\t\t   "
                     "<tiltspeed>5</tiltspeed>\t\t\t\t\t\t\t\t   </xml>";
    EXPECT_EQ(m_ctrl->PtzControl(id, up), 0);
    EXPECT_TRUE(Journaled({"call", "CAuxPtzCtrl::PtzControl", std::to_string(id), up, "=0"}));

    EXPECT_EQ(m_ctrl->PtzControl(id, "<xml>\n<cmd>GetPresetList</cmd>\n</xml>"), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(2, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(2, id)->text, " 3^1^5^s2#08:00-09:00^");
    EXPECT_EQ(m_sink.Find(2, id)->a, 0);

    // A preset set on the device shows in the next list.
    m_sink.events.clear();
    EXPECT_EQ(m_ctrl->PtzControl(id, "<xml>\t<cmd>setpreset</cmd>\t<preset>7</preset>\t<flag>1</flag>\t</xml>"), 0);
    EXPECT_EQ(m_ctrl->PtzControl(id, "<channelid>0</channelid>\n<xml>\n<cmd>GetPresetList</cmd>\n</xml>"), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(2, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(2, id)->text, " 4^1^5^s2#08:00-09:00^7^");
}

TEST_F(DeviceSimTest, MaintenanceRequestsAreAnsweredByCode)
{
    const int32_t id = Login();
    struct Case {
        int32_t code;
        const char* request;
        int32_t result;
        const char* answer;  // nullptr: not compared
    } cases[] = {
        {1012, "", 0, "<RESPONSE_PARAM FileSystemVersion=\"V2.3.1\" />"},
        {1014, "", 0,
         "<RESPONSE_PARAM><STORAGE DevName=\"sd1\" Mounted=\"1\" Total=\"30436\" Used=\"1024\" Free=\"29412\" "
         "Percent=\"3\" /></RESPONSE_PARAM>"},
        {1017, "<REQUEST_PARAM DevName = \"sd1\" />", 0, ""},
        {1018, "<REQUEST_PARAM DevName = \"usb\" />", -1, ""},  // no such storage
        {1002, "", 0, ""},
    };
    for (const Case& c : cases) {
        m_sink.events.clear();
        ASSERT_EQ(m_ctrl->WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", c.code, 0, c.request), 0);
        ASSERT_TRUE(WaitFor([&] { return m_sink.Find(3, id) != nullptr; })) << c.code;
        const Ev& e = *m_sink.Find(3, id);
        EXPECT_EQ(e.a & 0xFFFFFF, c.code);
        EXPECT_EQ(int8_t(uint32_t(e.a) >> 24), c.result) << c.code;
        EXPECT_EQ(e.text, c.answer) << c.code;
    }
    EXPECT_TRUE(Journaled({"call", "CAuxPtzCtrl::WriteAUXStringEx", std::to_string(id), "SYSTEM_CONTROL_MESSAGE",
                           "1012", "0", "", "=0"}));

    // A configured answer replaces the simulated one.
    DeviceSimulator::Instance().SetAnswer("127.0.0.1", 5000, 1012, {0, "<SystemInfo SoftwareVersion=\"X9\" />"});
    m_sink.events.clear();
    m_ctrl->WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1012, 0, "");
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(3, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(3, id)->text, "<SystemInfo SoftwareVersion=\"X9\" />");
}

TEST_F(DeviceSimTest, RecordSearchReturnsTheFilesOfThePageAndTheDayMap)
{
    const int32_t id = Login();
    // The client's request: one line with tab and blank gaps.
    auto request = [](int page) {
        return std::string("<REQUEST_PARAM\t\t\t\t     \t\t\t\t\t StartTime=\"20261210 00:00:00\"\t\t\t\t\t "
                           "EndTime=\"20261210 23:59:59\"\t\t\t\t\t MediaType=\"VIDEO\"\t\t\t\t\t \t\t\t\t\t "
                           "MinSize=\"-1\"\t\t\t\t\t MaxSize=\"-1\"\t\t\t\t\t Page=\"") +
               std::to_string(page) + "\"\t\t            />";
    };
    ASSERT_EQ(m_ctrl->WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1021, 0, request(1).c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(3, id) != nullptr; }));
    const std::string& text = m_sink.Find(3, id)->text;
    EXPECT_EQ(m_sink.Find(3, id)->a, 1021);
    EXPECT_EQ(text.rfind("<RESPONSE_PARAM FileCount=\"25\">", 0), 0u) << text;
    // Page 1 holds files 21 to 25 of 20 a page.
    size_t n = 0;
    for (size_t p = 0; (p = text.find("<RECORD_FILE ", p)) != std::string::npos; ++p)
        ++n;
    EXPECT_EQ(n, 5u);
    EXPECT_NE(text.find("FilePath=\"/mnt/sd1/20261210/200000-1.avi\" FileLength=\"1020\""), std::string::npos);

    m_sink.events.clear();
    ASSERT_EQ(m_ctrl->WriteAUXStringEx(id, "NVR_REPLAY_MESSAGE", 3001, 0,
                                       "<REQUEST_PARAM\t\t\t\t\t  ChannelId=\"1\"\t\t\t\t\t  Time=\"20261210\"\t\t\t\t\t  />"),
              0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(3, id) != nullptr; }));
    const std::string& day = m_sink.Find(3, id)->text;
    const std::string prefix = "<RESPONSE_PARAM ChannelId=\"1\" Stream=\"";
    ASSERT_EQ(day.rfind(prefix, 0), 0u);
    const std::string map = day.substr(prefix.size(), 1440);
    EXPECT_EQ(map.substr(0, 10), std::string(10, 'A'));   // 00:00 for 600 s
    EXPECT_EQ(map[10], 'C');
}

TEST_F(DeviceSimTest, DeviceGoingOfflineAndBackSendsStatusEvents)
{
    const int32_t id = Login();
    ASSERT_EQ(m_sink.Find(1, id)->a, kDevStatusLoggedIn);
    m_sink.events.clear();
    DeviceSimulator::Instance().SetOnline("127.0.0.1", 5000, false);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(1, id)->a, kDevStatusLost);
    EXPECT_EQ(m_ctrl->WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""), -1);

    m_sink.events.clear();
    DeviceSimulator::Instance().SetOnline("127.0.0.1", 5000, true);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(1, id)->a, kDevStatusLoggedIn);
}

TEST_F(DeviceSimTest, RecorderAnnouncesItsChannelsAndTheirStates)
{
    SimDevice nvr;
    nvr.address = "127.0.0.2";
    nvr.port = 5000;
    nvr.user = "admin";
    nvr.password = "admin";
    nvr.type = 4;
    nvr.channels = 4;
    nvr.channelStates = "1101";
    DeviceSimulator::Instance().AddDevice(nvr);
    const int32_t id = m_ctrl->AddDevice("127.0.0.2", 5000, "admin", "admin");
    ASSERT_TRUE(WaitFor([&] { return m_sink.events.size() >= 3; }));
    std::vector<std::pair<int32_t, std::string>> got;
    for (const Ev& e : m_sink.events)
        if (e.id == id && e.kind == 1)
            got.emplace_back(e.a, e.text);
    const std::vector<std::pair<int32_t, std::string>> want = {
        {kDevStatusLoggedIn, ""}, {kDevStatusNvrChannels, "4"}, {kDevStatusChannelStates, "1101"}};
    EXPECT_EQ(got, want);

    m_sink.events.clear();
    DeviceSimulator::Instance().SetChannelStates("127.0.0.2", 5000, "0101");
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(1, id)->a, kDevStatusChannelStates);
    EXPECT_EQ(m_sink.Find(1, id)->text, "0101");

    m_sink.events.clear();
    DeviceSimulator::Instance().RemoveDevice("127.0.0.2", 5000);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(1, id)->a, kDevStatusNvrLost);
}

TEST_F(DeviceSimTest, CallsFromWorkerThreadsWhileDevicesChange)
{
    const int32_t id = Login();
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 200 && !stop; ++i) {
                m_ctrl->PtzControl(id, "<xml>\n<cmd>GetPresetList</cmd>\n</xml>");
                m_ctrl->WriteAUXStringEx(id, "SYSTEM_CONTROL_MESSAGE", 1012, 0, "");
                m_ctrl->DelDevice(m_ctrl->AddDevice("127.0.0.1", 5000, "admin", "123456"));
            }
        });
    for (int i = 0; i < 20; ++i) {
        DeviceSimulator::Instance().SetOnline("127.0.0.1", 5000, i % 2 != 0);
        Settle(5);
    }
    stop = true;
    for (std::thread& w : workers)
        w.join();
    DeviceSimulator::Instance().SetOnline("127.0.0.1", 5000, true);
    Settle(2 * DeviceControl::kLoginDelayMs + 50);
    // The first log-in is online again at the end.
    const Ev* last = nullptr;
    for (const Ev& e : m_sink.events)
        if (e.kind == 1 && e.id == id)
            last = &e;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->a, kDevStatusLoggedIn);
}

TEST_F(DeviceSimTest, InjectedAlarmAndEventsReachLoggedInControls)
{
    const int32_t id = Login();
    const int32_t refused = Login("wrong");
    m_sink.events.clear();
    std::vector<uint8_t> alarm(176, 0);
    alarm[36] = 14;  // motion
    SimEvent e;
    e.kind = 4;
    e.bytes = alarm;
    DeviceSimulator::Instance().Inject("127.0.0.1", 5000, e);
    SimEvent st;
    st.kind = 1;
    st.a = 26;
    st.text = "<channels/>";
    DeviceSimulator::Instance().Inject("127.0.0.1", 5000, st);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    ASSERT_NE(m_sink.Find(4, id), nullptr);
    EXPECT_EQ(m_sink.Find(4, id)->bytes, alarm);
    EXPECT_EQ(m_sink.Find(1, id)->a, 26);
    EXPECT_EQ(m_sink.Find(1, id)->text, "<channels/>");
    EXPECT_EQ(m_sink.Find(4, refused), nullptr);
    EXPECT_TRUE(Journaled({"event", "CAuxPTZEvents::AlarmEvent", std::to_string(id), "176"}));
}

TEST_F(DeviceSimTest, TalkAndReplayAnswers)
{
    const int32_t id = Login();
    m_sink.events.clear();
    EXPECT_EQ(m_ctrl->Speak(id, 1), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(1, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(1, id)->a, kDevStatusTalkOk);

    EXPECT_EQ(m_ctrl->StartFileReplay(id, "/mnt/sd1/20261210/no-such.avi"), -1);
    EXPECT_EQ(m_ctrl->StartFileReplay(id, "/mnt/sd1/20261210/010000-1.avi"), 0);
    ASSERT_TRUE(WaitFor([&] { return m_sink.Find(6, id) != nullptr; }));
    EXPECT_EQ(m_sink.Find(6, id)->a, 1);
    EXPECT_NE(m_sink.Find(6, id)->text.find("<VideoSeconds>600</VideoSeconds>"), std::string::npos);

    EXPECT_EQ(m_ctrl->DownloadFile(id, 0, "/nowhere.avi", "/tmp/x.avi"), 0);
    ASSERT_TRUE(WaitFor([&] {
        for (const Ev& ev : m_sink.events)
            if (ev.kind == 1 && ev.a == kDevStatusDownloadFailed)
                return true;
        return false;
    }));
}

TEST_F(DeviceSimTest, DeletingTheControlWithEventsQueuedIsSafe)
{
    const int32_t id = m_ctrl->AddDevice("127.0.0.1", 5000, "admin", "123456");
    m_ctrl->Unadvise();
    m_ctrl.reset();  // the log-in answer is still queued
    Settle(2 * DeviceControl::kLoginDelayMs + 50);
    EXPECT_EQ(m_sink.Find(1, id), nullptr);
    m_ctrl = std::make_unique<DeviceControl>();
}

TEST_F(DeviceSimTest, DemoFileLoads)
{
    const char* src = getenv("QELM2_TEST_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    DeviceSimulator::Instance().Clear();
    std::string error;
    ASSERT_TRUE(DeviceSimulator::Instance().LoadFile(std::string(src) + "/tests/fixtures/DeviceSim.xml", &error))
        << error;
    auto nvr = DeviceSimulator::Instance().Device("127.0.0.2", 5000);
    ASSERT_TRUE(nvr.has_value());
    EXPECT_EQ(nvr->type, 4);
    EXPECT_EQ(nvr->channels, 8);
    auto cam = DeviceSimulator::Instance().Device("127.0.0.1", 5000);
    ASSERT_TRUE(cam.has_value());
    EXPECT_EQ(cam->presets.size(), 3u);
    EXPECT_EQ(cam->files.size(), 2u);
    EXPECT_EQ(cam->files[1].kind, 'B');
    EXPECT_EQ(DeviceSimulator::Instance().FoundDevices().size(), 2u);

    const fs::path bad = fs::temp_directory_path() / "devsim_bad.xml";
    std::ofstream(bad) << "<DeviceSim><Device Address=\"127.0.0.1\"/></DeviceSim>";
    EXPECT_FALSE(DeviceSimulator::Instance().LoadFile(bad.string(), &error));
    EXPECT_FALSE(DeviceSimulator::Instance().LoadFile("/nonexistent/DeviceSim.xml", &error));
    fs::remove(bad);
    // A pipe in the file's place is refused, not waited on.
    const fs::path pipe = fs::temp_directory_path() / ("devsim_pipe_" + std::to_string(getpid()) + ".xml");
    ASSERT_TRUE(qelmtest::MakePipe(pipe.string()));
    EXPECT_TRUE(qelmtest::FinishesWithoutWaitingOn(
        pipe.string(), [&] { EXPECT_FALSE(DeviceSimulator::Instance().LoadFile(pipe.string(), &error)); }));
    fs::remove(pipe);
}

// The simulator's file against hostile or foreign input, through real files.
class DeviceSimFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeviceSimulator::Instance().Clear();
        qelm::SetPlatformLogSink([this](int, const std::string& line) { m_log.push_back(line); });
    }
    void TearDown() override
    {
        qelm::SetPlatformLogSink({});
        DeviceSimulator::Instance().Clear();
        Settle(0);
        fs::remove(m_path);
    }
    bool Load(const std::string& text, std::string* error)
    {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text;
        return DeviceSimulator::Instance().LoadFile(m_path.string(), error);
    }
    static std::string Repeat(const std::string& s, size_t n)
    {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += s;
        return out;
    }

    fs::path m_path = fs::temp_directory_path() / ("devsim_file_" + std::to_string(getpid()) + ".xml");
    std::vector<std::string> m_log;
};

TEST_F(DeviceSimFileTest, FilesThatAreRefusedOrRead)
{
    const std::string device = "<Device Address=\"127.0.0.9\" Port=\"5000\" User=\"门卫\"/>";
    struct Case {
        const char* what;
        std::string text;
        bool loads;
    };
    const Case cases[] = {
        {"nested tens of thousands deep", "<DeviceSim>" + device + Repeat("<a>", 60000) + Repeat("</a>", 60000) +
                                              "</DeviceSim>",
         false},
        {"a UTF-8 byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><DeviceSim>" + device +
                                        "</DeviceSim>",
         true},
        {"text that is not UTF-8", "<DeviceSim><Device Address=\"127.0.0.9\" Port=\"5000\" User=\"\xC3\"/></DeviceSim>",
         false},
        {"a NUL byte", std::string("<DeviceSim>\0", 12) + device + "</DeviceSim>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceSimulator::Instance().Clear();
        std::string error;
        EXPECT_EQ(Load(c.text, &error), c.loads) << error;
        auto d = DeviceSimulator::Instance().Device("127.0.0.9", 5000);
        EXPECT_EQ(d.has_value(), c.loads);
        if (c.loads) {
            EXPECT_EQ(d->user, "门卫");
        } else {
            EXPECT_NE(error.find(m_path.string()), std::string::npos) << error;
        }
    }
}

// Many empty records: each kind takes the first ones up to its bound and
// refuses the rest with one log line.
TEST_F(DeviceSimFileTest, RecordCountsAreBounded)
{
    const size_t kTop = 10000, kNested = 100000;
    std::string devices;
    for (size_t i = 0; i < kTop + 3; ++i)
        devices += "<Device Address=\"127.0.1.1\" Port=\"" + std::to_string(1 + i) + "\"/>";
    const std::string presets = "<Device Address=\"127.0.0.9\" Port=\"1\">" + Repeat("<Preset>1</Preset>", kNested / 2) +
                                "</Device><Device Address=\"127.0.0.9\" Port=\"2\">" +
                                Repeat("<Preset>1</Preset><RecordFile/>", kNested / 4 + 2) + "</Device>";
    std::string error;
    ASSERT_TRUE(Load("<DeviceSim>" + presets + devices + Repeat("<Found/>", kTop + 4) + "</DeviceSim>", &error))
        << error;

    EXPECT_EQ(DeviceSimulator::Instance().FoundDevices().size(), kTop);
    auto first = DeviceSimulator::Instance().Device("127.0.0.9", 1);
    auto second = DeviceSimulator::Instance().Device("127.0.0.9", 2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->presets.size() + second->presets.size() + second->files.size(), kNested);
    EXPECT_TRUE(DeviceSimulator::Instance().Device("127.0.1.1", int32_t(kTop - 2)).has_value());
    EXPECT_FALSE(DeviceSimulator::Instance().Device("127.0.1.1", int32_t(kTop - 1)).has_value())
        << "the two devices with presets came first";

    auto count = [&](const std::string& part) {
        return std::count_if(m_log.begin(), m_log.end(),
                             [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_EQ(count("10005 Device records, the first 10000 loaded, the rest refused."), 1);
    EXPECT_EQ(count("10004 Found records, the first 10000 loaded, the rest refused."), 1);
    EXPECT_EQ(count("100004 Preset, Storage and RecordFile records, the first 100000 loaded, the rest refused."), 1);
}

} // namespace
