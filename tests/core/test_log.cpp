// Tests of the program log: line format, UDP copy, rotation, closing under load.
#include "core/log.h"

#include "core_test_util.h"
#include "platform/clock.h"
#include "platform/logsink.h"
#include "platform/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

using coretest::ReadAll;
using coretest::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr long kRotate = 10485760;

// True when line is "[Qelm2]:<Www Mmm dd hh:mm:ss>  " followed by text.
bool IsLogLine(const std::string& line, const std::string& text)
{
    const std::string prefix = "[Qelm2]:AAA AAA _9 99:99:99  ";
    return line.size() == prefix.size() + text.size() &&
           coretest::MatchMask(line.substr(0, prefix.size()), prefix) && line.substr(prefix.size()) == text;
}

// A UDP listener on 127.0.0.1 that the log is pointed at.
class Listener {
public:
    Listener()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        timeval tv{0, 300000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Listener() { close(m_fd); }
    unsigned short port() const { return m_port; }
    // The next datagram, or nullopt after 300 ms of silence.
    std::optional<std::string> Next()
    {
        char buf[16384];
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n < 0)
            return std::nullopt;
        return std::string(buf, static_cast<std::size_t>(n));
    }

private:
    int m_fd = -1;
    unsigned short m_port = 0;
};

class LogTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetLogUdpPort(m_listener.port());
        m_file = m_dir / "clientlog.txt";
    }
    void TearDown() override
    {
        CloseLog();
        SetLogUserName("");
        qelm::ResetTestClock();
    }
    std::vector<std::string> RotatedFiles() const
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(m_dir.path())) {
            std::string name = e.path().filename().string();
            if (name != "clientlog.txt")
                out.push_back(name);
        }
        return out;
    }

    TempDir m_dir;
    Listener m_listener;
    std::string m_file;
};

std::string AscTime19(const std::tm& t)
{
    char buf[64];
    asctime_r(&t, buf);
    return std::string(buf, 19);
}

TEST(LogDefaults, ListenerPortIs3000AndClosedLogIsSilent)
{
    EXPECT_EQ(LogUdpPort(), 3000);
    EXPECT_FALSE(IsLogOpen());
    EXPECT_EQ(CloseLog(), -3);
    WriteLog(6, "nothing %d", 1); // must not crash nor send
}

TEST_F(LogTest, LineFormatFileAndDatagramAgree)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    std::string before = AscTime19(qelm::LocalNow());
    WriteLog(6, "CRtspEvents::MediaRecv(): StreamId = %d, name=%s", 7, "前门");
    FlushLog();
    std::string after = AscTime19(qelm::LocalNow());

    std::optional<std::string> datagram = m_listener.Next();
    ASSERT_TRUE(datagram);
    const std::string text = "  CRtspEvents::MediaRecv(): StreamId = 7, name=前门\n";
    EXPECT_TRUE(*datagram == "[Qelm2]:" + before + text || *datagram == "[Qelm2]:" + after + text) << *datagram;
    EXPECT_EQ(ReadAll(m_file), *datagram);
    EXPECT_FALSE(m_listener.Next()) << "one datagram per line";
}

TEST_F(LogTest, LevelsWithoutALowBitWriteNothing)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    struct {
        int level;
        bool written;
    } cases[] = {{0, false}, {256, false}, {512, false}, {3, true}, {6, true}, {255, true}, {257, true}};
    for (const auto& c : cases) {
        WriteLog(c.level, "level %d", c.level);
        FlushLog();
        std::optional<std::string> d = m_listener.Next();
        EXPECT_EQ(d.has_value(), c.written) << c.level;
        if (d) {
            EXPECT_TRUE(IsLogLine(*d, "level " + std::to_string(c.level) + "\n")) << *d;
        }
    }
}

TEST_F(LogTest, OpenAndCloseResults)
{
    EXPECT_EQ(OpenLog((m_dir / "missing/clientlog.txt").c_str()), -2);
    EXPECT_FALSE(IsLogOpen());
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    EXPECT_EQ(OpenLog(m_file.c_str()), -1);
    EXPECT_EQ(CloseLog(), 0);
    EXPECT_EQ(CloseLog(), -3);
    WriteLog(6, "after close");
    EXPECT_FALSE(m_listener.Next());
    EXPECT_EQ(ReadAll(m_file), "");
}

TEST_F(LogTest, AppendsToAnExistingFile)
{
    coretest::WriteAll(m_file, "old line\n");
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    WriteLog(6, "new");
    FlushLog();
    std::string all = ReadAll(m_file);
    EXPECT_EQ(all.rfind("old line\n[Qelm2]:", 0), 0u) << all;
}

TEST_F(LogTest, OpenProgramLogCreatesTheDriveFolderUnderTheDataFolder)
{
    setenv("QELM2_DATA", m_dir.path().c_str(), 1);
    int r = OpenProgramLog("Qelm");
    unsetenv("QELM2_DATA");
    ASSERT_EQ(r, 0);
    WriteLog(6, "hello");
    FlushLog();
    EXPECT_NE(ReadAll(m_dir / "Qelm-Log/clientlog.txt").find("  hello\n"), std::string::npos);
}

TEST_F(LogTest, LongMessageIsCutAtACharacterBoundary)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    std::string longText;
    for (int i = 0; i < 3000; ++i)
        longText += "前"; // 3 bytes each: 9000 bytes
    WriteLog(6, "%s", longText.c_str());
    FlushLog();
    std::optional<std::string> d = m_listener.Next();
    ASSERT_TRUE(d);
    EXPECT_LE(d->size(), 8u + 19u + 2u + 5119u + 1u);
    EXPECT_EQ(d->back(), '\n');
    EXPECT_TRUE(qelm::IsValidUtf8(*d));
    EXPECT_EQ(ReadAll(m_file), *d);
}

TEST_F(LogTest, WriteLogTimeWritesADatedLineToTheFileOnly)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    WriteLogTime(6, "stamp %s", "x");
    FlushLog();
    EXPECT_FALSE(m_listener.Next());
    std::string all = ReadAll(m_file);
    EXPECT_TRUE(coretest::MatchMask(all, "99-99-99 99:99:99 stamp x\n")) << all;
    WriteLogTime(0, "level 0");
    FlushLog();
    EXPECT_EQ(ReadAll(m_file), all);
}

TEST_F(LogTest, RotatesAtTheThresholdWithTheUserTrailer)
{
    // 8 December 2026, 20:44:06 local time.
    std::tm target{};
    target.tm_year = 126;
    target.tm_mon = 11;
    target.tm_mday = 8;
    target.tm_hour = 20;
    target.tm_min = 44;
    target.tm_sec = 6;
    target.tm_isdst = -1;
    qelm::AdvanceTestClock(std::chrono::milliseconds(0), std::chrono::seconds(mktime(&target) - qelm::WallNow()));

    coretest::WriteAll(m_file, "");
    ASSERT_EQ(truncate(m_file.c_str(), kRotate - 40), 0);
    SetLogUserName("admin");
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);

    WriteLog(6, "short"); // the file stays below the threshold
    EXPECT_TRUE(RotatedFiles().empty());
    WriteLog(6, "this line crosses the threshold");
    FlushLog();

    std::vector<std::string> rotated = RotatedFiles();
    ASSERT_EQ(rotated.size(), 1u);
    EXPECT_TRUE(coretest::MatchMask(rotated[0], "clientlog-26-12-08-20-44-09.txt")) << rotated[0];
    std::string old = ReadAll(m_dir / rotated[0]);
    const std::string trailer = "this line crosses the threshold\n================= LOGIN USER : admin=================\n";
    ASSERT_GE(old.size(), trailer.size());
    EXPECT_EQ(old.substr(old.size() - trailer.size()), trailer);

    EXPECT_EQ(ReadAll(m_file), "") << "a new file is started";
    WriteLog(6, "next");
    FlushLog();
    std::string fresh = ReadAll(m_file);
    EXPECT_TRUE(IsLogLine(fresh, "next\n")) << fresh;
}

TEST_F(LogTest, FileAtTheThresholdWhenOpenedRotatesAfterTheFirstLine)
{
    coretest::WriteAll(m_file, "");
    ASSERT_EQ(truncate(m_file.c_str(), kRotate), 0);
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    WriteLog(6, "first");
    FlushLog();
    EXPECT_EQ(RotatedFiles().size(), 1u);
    EXPECT_EQ(ReadAll(m_file), "");
}

TEST_F(LogTest, DatagramsGoOnWhenTheRotatedFileCannotBeReopened)
{
    const std::string folder = m_dir / "log";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string file = folder + "/clientlog.txt";
    coretest::WriteAll(file, "");
    ASSERT_EQ(truncate(file.c_str(), kRotate - 1), 0);
    ASSERT_EQ(OpenLog(file.c_str()), 0);
    fs::remove_all(folder); // rename and reopen will both fail

    WriteLog(6, "rotation fails here");
    FlushLog();
    ASSERT_TRUE(m_listener.Next());
    WriteLog(6, "still sent");
    FlushLog();
    std::optional<std::string> d = m_listener.Next();
    ASSERT_TRUE(d);
    EXPECT_NE(d->find("still sent\n"), std::string::npos);

    // Closing still ends the log although it has no file.
    EXPECT_EQ(CloseLog(), -3);
    EXPECT_FALSE(IsLogOpen());
    WriteLog(6, "after close");
    EXPECT_FALSE(m_listener.Next());
}

TEST_F(LogTest, PlatformRefusalsLandInTheLogWhileItIsOpen)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    qelm::PlatformLog(3, "NetGuard: refused %s", "probe");
    FlushLog();
    ASSERT_TRUE(m_listener.Next());
    EXPECT_NE(ReadAll(m_file).find("  NetGuard: refused probe\n"), std::string::npos);
    CloseLog();
    testing::internal::CaptureStderr();
    qelm::PlatformLog(3, "after close");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("after close"), std::string::npos);
}

// Lines wait in memory only briefly: without any flush call they reach the
// file and the listener, in order, one datagram each.
TEST_F(LogTest, QueuedLinesReachFileAndListenerOnTheirOwn)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    for (int i = 0; i < 50; ++i)
        WriteLog(6, "queued %d", i);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadAll(m_file).find("queued 49\n") == std::string::npos && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string all = ReadAll(m_file);
    std::size_t pos = 0;
    for (int i = 0; i < 50; ++i) {
        const std::size_t end = all.find('\n', pos);
        ASSERT_NE(end, std::string::npos) << "line " << i << " missing";
        EXPECT_TRUE(IsLogLine(all.substr(pos, end - pos), "queued " + std::to_string(i))) << all.substr(pos, end - pos);
        std::optional<std::string> d = m_listener.Next();
        ASSERT_TRUE(d) << "datagram " << i;
        EXPECT_EQ(*d, all.substr(pos, end + 1 - pos));
        pos = end + 1;
    }
    EXPECT_EQ(pos, all.size());
}

TEST_F(LogTest, ManyThreadsWriteWhileTheLogCloses)
{
    ASSERT_EQ(OpenLog(m_file.c_str()), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                WriteLog(6, "CWorker::Run(): thread %d line %d", t, i);
                written.fetch_add(1);
            }
        });
    }
    while (written.load() < 2000)
        std::this_thread::yield();
    EXPECT_EQ(CloseLog(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& w : writers)
        w.join();

    std::string all = ReadAll(m_file);
    ASSERT_FALSE(all.empty());
    ASSERT_EQ(all.back(), '\n');
    std::size_t pos = 0;
    int lines = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        std::string text = all.substr(pos, end - pos);
        std::size_t at = text.find("  CWorker::Run(): thread ");
        ASSERT_NE(at, std::string::npos) << text;
        ASSERT_TRUE(IsLogLine(text, text.substr(at + 2))) << text;
        std::size_t lineAt = text.find(" line ", at);
        ASSERT_NE(lineAt, std::string::npos) << text;
        ASSERT_EQ(text.find_first_not_of("0123456789", lineAt + 6), std::string::npos) << text;
        pos = end + 1;
        ++lines;
    }
    EXPECT_GE(lines, 1000);
}

} // namespace
