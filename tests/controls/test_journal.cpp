// Tests of the journal of calls into the stand-ins.
#include "controls/journal.h"

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

using namespace qelm;
namespace fs = std::filesystem;

extern char** environ;

namespace {

using qelmtest::ScopedEnv;

std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class JournalTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qelm2-journal-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string m_dir;
};

using Fields = std::vector<std::string>;

} // namespace

TEST(JournalFormatTest, EscapedFieldsParseBack)
{
    const Fields cases[] = {
        {"call", "CRtspPullCtrl::AddStream", "rtsp://127.0.0.1/x", "=5"},
        {"event", "tab\there", "cr\rlf\n", "back\\slash", "\\t is not a tab", ""},
        {"event", "", "", ""},
        {"call", "前门摄像机", "trailing\\", "=\\n"},
    };
    for (const Fields& fields : cases) {
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string escaped = Journal::EscapeField(fields[i]);
            EXPECT_EQ(escaped.find_first_of("\t\r\n"), std::string::npos);
            line += (i ? "\t" : "") + escaped;
        }
        EXPECT_EQ(Journal::ParseLine(line + "\n"), fields) << line;
    }
    EXPECT_EQ(Journal::EscapeField("a\\b\tc\r\nd"), "a\\\\b\\tc\\r\\nd");
    EXPECT_TRUE(Journal::ParseLine("").empty());
}

TEST(JournalFormatTest, ArgumentsAsText)
{
    enum class Mode { Tcp = 1, Udp = 2 };
    int x = 0;
    const int* nullInt = nullptr;
    struct Case {
        JournalArg arg;
        const char* text;
    } cases[] = {
        {5, "5"},
        {-3L, "-3"},
        {static_cast<unsigned char>(200), "200"},
        {0xFFFFFFFFu, "4294967295"},
        {true, "1"},
        {false, "0"},
        {2.5, "2.5"},
        {0.1f, "0.1"},
        {"text", "text"},
        {static_cast<const char*>(nullptr), ""},
        {std::string("s"), "s"},
        {std::string_view("v"), "v"},
        {std::wstring(L"前门"), "前门"},
        {L"wide", "wide"},
        {QString::fromUtf8("摄像机"), "摄像机"},
        {&x, "ptr"},
        {nullInt, "0"},
        {nullptr, "0"},
        {Mode::Udp, "2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.arg.Text(), c.text);
}

TEST_F(JournalTest, CallsAndEventsAppendOneLineEach)
{
    const std::string path = m_dir + "/journal.txt";
    ScopedEnv env("QELM2_JOURNAL", path.c_str());
    ASSERT_TRUE(Journal::Enabled());
    Journal::Call("CRtspPullCtrl::AddStream", {"rtsp://admin:pw@127.0.0.1:554/a\tb", 1, true}, 5);
    Journal::Event("CRtspPullCtrl::OnStatus", {5, L"已连接\n"});
    Journal::Call("CAuxPtzCtrl::Stop", {});

    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Journal::ParseLine(lines[0]),
              (Fields{"call", "CRtspPullCtrl::AddStream", "rtsp://admin:pw@127.0.0.1:554/a\tb", "1", "1", "=5"}));
    EXPECT_EQ(Journal::ParseLine(lines[1]), (Fields{"event", "CRtspPullCtrl::OnStatus", "5", "已连接\n"}));
    EXPECT_EQ(Journal::ParseLine(lines[2]), (Fields{"call", "CAuxPtzCtrl::Stop", "="}));
}

TEST_F(JournalTest, DisabledWithoutTheVariable)
{
    const std::string path = m_dir + "/journal.txt";
    {
        ScopedEnv env("QELM2_JOURNAL", path.c_str());
        Journal::Event("while set", {});
    }
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv env("QELM2_JOURNAL", value);
        EXPECT_FALSE(Journal::Enabled());
        Journal::Call("X::Y", {1}, 0);
        Journal::Event("X::Z", {});
    }
    EXPECT_EQ(ReadLines(path), (std::vector<std::string>{"event\twhile set"}));
}

TEST_F(JournalTest, FollowsTheVariableAndARemovedFile)
{
    const std::string a = m_dir + "/a.txt", b = m_dir + "/b.txt";
    {
        ScopedEnv env("QELM2_JOURNAL", a.c_str());
        Journal::Event("first", {});
    }
    {
        ScopedEnv env("QELM2_JOURNAL", b.c_str());
        Journal::Event("second", {});
    }
    EXPECT_EQ(ReadLines(a), (std::vector<std::string>{"event\tfirst"}));
    EXPECT_EQ(ReadLines(b), (std::vector<std::string>{"event\tsecond"}));

    // A test that removes the file and uses the same name again gets a new file.
    fs::remove(a);
    ScopedEnv env("QELM2_JOURNAL", a.c_str());
    Journal::Event("third", {});
    EXPECT_EQ(ReadLines(a), (std::vector<std::string>{"event\tthird"}));
}

// Run by ConcurrentWritersKeepLinesWhole in child processes.
TEST_F(JournalTest, ChildWriter)
{
    const char* id = std::getenv("QELM2_JOURNAL_CHILD");
    if (!id)
        GTEST_SKIP() << "runs only as a child of ConcurrentWritersKeepLinesWhole";
    const std::string payload(300, 'p');
    for (int i = 0; i < 500; ++i)
        Journal::Call("Child::Write", {std::string(id), i, payload}, i);
}

TEST_F(JournalTest, ConcurrentWritersKeepLinesWhole)
{
    const std::string path = m_dir + "/journal.txt";
    ScopedEnv env("QELM2_JOURNAL", path.c_str());
    const int kThreads = 6, kProcesses = 3, kLines = 500;

    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        std::string childEnv = "QELM2_JOURNAL_CHILD=c" + std::to_string(p);
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e)
            envp.push_back(*e);
        envp.push_back(childEnv.data());
        envp.push_back(nullptr);
        std::string self = fs::read_symlink("/proc/self/exe").string();
        std::string filter = "--gtest_filter=JournalTest.ChildWriter";
        char* argv[] = {self.data(), filter.data(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
        children.push_back(pid);
    }
    const std::string payload(300, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < kLines; ++i)
                Journal::Call("Thread::Write", {"t" + std::to_string(t), i, payload}, i);
        });
    }
    for (auto& th : threads)
        th.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::map<std::string, int> next; // writer -> next line number expected
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>((kThreads + kProcesses) * kLines));
    for (const std::string& line : lines) {
        Fields f = Journal::ParseLine(line);
        ASSERT_EQ(f.size(), 6u) << line.substr(0, 80);
        EXPECT_EQ(f[0], "call");
        EXPECT_EQ(f[4], payload);
        int& n = next[f[2]];
        EXPECT_EQ(f[3], std::to_string(n)) << "lines of one writer out of order";
        EXPECT_EQ(f[5], "=" + std::to_string(n));
        ++n;
    }
    EXPECT_EQ(next.size(), static_cast<std::size_t>(kThreads + kProcesses));
}
