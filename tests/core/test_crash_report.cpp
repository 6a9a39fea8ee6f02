// Tests of the crash report: real crashes in child processes (this test
// program run again with only CrashChild.Run) append entries to a report file.
#include "core/crash_report.h"

#include "core/log.h"
#include "core/thread.h"
#include "core_test_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace {

volatile int g_never = 0;

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    if (g_never)
        return 0;
    return Recurse(depth + 1) + pad[0];
}

class OverflowThread : public CThread {
public:
    int Run() override { return Recurse(0); }
};

// Jumps into a fresh page holding ud2: an illegal instruction outside any module.
void IllegalInGeneratedCode()
{
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        _exit(90);
    static const unsigned char kUd2[] = {0x0F, 0x0B};
    std::memcpy(page, kUd2, sizeof kUd2);
    if (mprotect(page, 4096, PROT_READ | PROT_EXEC) != 0)
        _exit(91);
    reinterpret_cast<void (*)()>(page)();
}

// The crashing side: does nothing unless the parent asked for a crash.
TEST(CrashChild, Run)
{
    const char* what = std::getenv("QELM2_CRASH_CHILD");
    if (!what)
        GTEST_SKIP() << "runs only as a child of the crash report tests";
    static CExceptionReport report; // installed after the sanitizer's handlers
    const std::string w = what;
    if (const char* log = std::getenv("QELM2_CRASH_LOG")) {
        // Lines queued just before the crash, too recent for the log's own flush.
        if (OpenLog(log) != 0)
            _exit(92);
        for (int i = 0; i < 500; ++i)
            WriteLog(6, "before the crash %d", i);
    }
    if (w == "segv") {
        volatile std::uintptr_t bad = 16; // a page nobody maps
        *reinterpret_cast<volatile int*>(bad) = 1;
    } else if (w == "ill") {
        IllegalInGeneratedCode();
#if defined(__x86_64__)
    } else if (w == "fpe") {
        asm volatile("xorl %%ecx, %%ecx\n\tdivl %%ecx" ::: "eax", "ecx", "edx");
    } else if (w == "trap") {
        asm volatile("int3");
#endif
    } else if (w == "abort") {
        std::abort();
    } else if (w == "terminate") {
        std::thread([] { throw std::runtime_error("lost on a worker"); }).join();
    } else if (w == "overflow") {
        Recurse(0);
    } else if (w == "thread-overflow") {
        OverflowThread t;
        t.Start();
        t.Join();
    }
    _exit(99); // the crash did not happen
}

struct ChildResult {
    int signal = 0;      // the signal that ended the child
    int exitCode = -1;   // or its exit code
};

// Runs this program again as CrashChild.Run with the given crash.
ChildResult RunChild(const char* what, const std::string& report, const std::string& log = {})
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    EXPECT_GT(n, 0);
    exe[n > 0 ? n : 0] = '\0';

    // Everything is prepared before the fork: the child only execs.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "QELM2_CRASH_", 12) != 0 && std::strncmp(*e, "GTEST_", 6) != 0)
            env.emplace_back(*e);
    }
    env.push_back(std::string("QELM2_CRASH_CHILD=") + what);
    env.push_back("QELM2_CRASH_REPORT=" + report);
    if (!log.empty())
        env.push_back("QELM2_CRASH_LOG=" + log);
    std::vector<char*> envp;
    for (std::string& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=CrashChild.Run";
    char* argv[] = {exe, filter.data(), nullptr};

    pid_t pid = fork();
    if (pid == 0) {
        rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none); // no core files from these crashes
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        execve(exe, argv, envp.data());
        _exit(127);
    }
    ChildResult r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return r;
    if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    else if (WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    return r;
}

const std::string kSep = "//=====================================================\n";

// The entries of a report file, each without its two separator lines.
std::vector<std::string> Entries(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while ((pos = text.find(kSep, pos)) != std::string::npos) {
        std::size_t second = text.find(kSep, pos + kSep.size());
        if (second == std::string::npos)
            break;
        std::size_t next = text.find(kSep, second + kSep.size());
        std::string entry = text.substr(pos + kSep.size(), (next == std::string::npos ? text.size() : next) - pos - kSep.size());
        entry.erase(entry.find(kSep), kSep.size());
        out.push_back(entry);
        pos = next == std::string::npos ? text.size() : next;
    }
    return out;
}

std::string Line(const std::string& entry, const std::string& start)
{
    std::size_t at = entry.find("\n" + start);
    if (at == std::string::npos)
        at = entry.rfind(start, 0) == 0 ? 0 : std::string::npos;
    else
        ++at;
    if (at == std::string::npos)
        return {};
    return entry.substr(at, entry.find('\n', at) - at);
}

std::string SelfPath()
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    return n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
}

// The frame lines that follow the call stack's column header.
std::vector<std::string> StackLines(const std::string& entry)
{
    std::vector<std::string> lines;
    std::size_t at = entry.find("Address           Frame             Logical addr  Module\n");
    if (at == std::string::npos)
        return lines;
    at = entry.find('\n', at) + 1;
    while (at < entry.size() && entry[at] != '\n') {
        std::size_t end = entry.find('\n', at);
        lines.push_back(entry.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The program log's queued lines reach its file when the process crashes,
// whether by a fault or by an exception nobody caught.
TEST(CrashReportTest, QueuedLogLinesAreWrittenBeforeTheProcessDies)
{
    for (const char* what : {"segv", "terminate"}) {
        SCOPED_TRACE(what);
        coretest::TempDir dir;
        const std::string log = dir / "clientlog.txt";
        ChildResult r = RunChild(what, dir / "crash.RPT", log);
        EXPECT_NE(r.signal, 0) << "exit code " << r.exitCode;
        const std::string text = coretest::ReadAll(log);
        std::size_t pos = 0;
        for (int i = 0; i < 500; ++i) {
            const std::string want = "  before the crash " + std::to_string(i) + "\n";
            const std::size_t at = text.find(want, pos);
            ASSERT_NE(at, std::string::npos) << "line " << i << " lost";
            pos = at + want.size();
        }
    }
}

TEST(CrashReportTest, TwoCrashesAppendTwoEntries)
{
    coretest::TempDir dir;
    const std::string report = dir / "Corvane.RPT";

    ChildResult segv = RunChild("segv", report);
    EXPECT_EQ(segv.signal, SIGSEGV) << "exit " << segv.exitCode;
    ChildResult ill = RunChild("ill", report);
    EXPECT_EQ(ill.signal, SIGILL) << "exit " << ill.exitCode;

    const std::string text = coretest::ReadAll(report);
    std::vector<std::string> entries = Entries(text);
    ASSERT_EQ(entries.size(), 2u) << text;

    for (const std::string& e : entries) {
        EXPECT_TRUE(coretest::MatchMask(e.substr(0, e.find('\n')), "9999年_9月_9日 _9:_9:_9")) << e;
        EXPECT_NE(e.find("\nRegisters:\n"), std::string::npos);
        EXPECT_NE(e.find("\nCall stack:\n"), std::string::npos);
        EXPECT_NE(e.find("\nCS:RIP:"), std::string::npos);
        EXPECT_EQ(e.find('\r'), std::string::npos) << "lines end in \\n";
    }

    // The access violation happened in this program's code.
    EXPECT_EQ(Line(entries[0], "Exception code:"), "Exception code: C0000005 ACCESS_VIOLATION");
    const std::string fault = Line(entries[0], "Fault address:");
    const std::string mask = "Fault address:  XXXXXXXXXXXXXXXX XXXX:XXXXXXXX ";
    EXPECT_TRUE(coretest::MatchMask(fault.substr(0, mask.size()), mask)) << fault;
    EXPECT_EQ(fault.substr(std::min(mask.size(), fault.size())), SelfPath());
    EXPECT_EQ(fault.find(" 0000:"), std::string::npos) << "inside the program: a segment from 1";
    std::vector<std::string> stack = StackLines(entries[0]);
    ASSERT_GE(stack.size(), 1u);
    EXPECT_EQ(stack[0].substr(0, 16), fault.substr(16, 16)) << "the first frame is the faulting instruction";

    // The illegal instruction lies in generated code: no module.
    EXPECT_EQ(Line(entries[1], "Exception code:"), "Exception code: C000001D ILLEGAL_INSTRUCTION");
    EXPECT_TRUE(coretest::MatchMask(Line(entries[1], "Fault address:"), "Fault address:  XXXXXXXXXXXXXXXX 0000:00000000 "))
        << Line(entries[1], "Fault address:");
}

TEST(CrashReportTest, EachKindOfCrashNamesItsException)
{
    struct {
        const char* what;
        int signal;
        const char* codeLine;
    } cases[] = {
#if defined(__x86_64__)
        {"fpe", SIGFPE, "Exception code: C0000094 INT_DIVIDE_BY_ZERO"},
        {"trap", SIGTRAP, "Exception code: 80000003 BREAKPOINT"},
#endif
        {"abort", SIGABRT, "Exception code: 40000015 ABORTED"},
        {"terminate", SIGABRT, "Exception code: E06D7363 std::terminate: lost on a worker"},
        {"overflow", SIGSEGV, "Exception code: C00000FD STACK_OVERFLOW"},
        {"thread-overflow", SIGSEGV, "Exception code: C00000FD STACK_OVERFLOW"},
    };
    for (const auto& c : cases) {
        coretest::TempDir dir;
        const std::string report = dir / "x.RPT";
        ChildResult r = RunChild(c.what, report);
        EXPECT_EQ(r.signal, c.signal) << c.what << " exit " << r.exitCode;
        std::vector<std::string> entries = Entries(coretest::ReadAll(report));
        ASSERT_EQ(entries.size(), 1u) << c.what << ": one entry, also when abort() follows";
        EXPECT_EQ(Line(entries[0], "Exception code:"), c.codeLine) << c.what;
        EXPECT_FALSE(StackLines(entries[0]).empty()) << c.what;
        if (std::strstr(c.what, "overflow")) { // the walk starts from the frame pointer, on the stack
            EXPECT_GE(StackLines(entries[0]).size(), 3u) << coretest::ReadAll(report);
        }
    }
}

TEST(CrashReportTest, ExceptionCodesOfSignals)
{
    struct {
        int sig;
        int code;
        std::uint32_t expected;
        const char* name;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, 0xC0000005, "ACCESS_VIOLATION"},
        {SIGBUS, BUS_ADRALN, 0x80000002, "DATATYPE_MISALIGNMENT"},
        {SIGBUS, BUS_ADRERR, 0xC0000006, "IN_PAGE_ERROR"},
        {SIGILL, ILL_ILLOPC, 0xC000001D, "ILLEGAL_INSTRUCTION"},
        {SIGILL, ILL_PRVOPC, 0xC0000096, "PRIV_INSTRUCTION"},
        {SIGFPE, FPE_INTDIV, 0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_FLTDIV, 0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_FLTSUB, 0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {SIGTRAP, TRAP_BRKPT, 0x80000003, "BREAKPOINT"},
        {SIGTRAP, TRAP_TRACE, 0x80000004, "SINGLE_STEP"},
    };
    for (const auto& c : cases) {
        std::uint32_t code = CExceptionReport::ExceptionCode(c.sig, c.code);
        EXPECT_EQ(code, c.expected) << c.sig << "/" << c.code;
        EXPECT_STREQ(CExceptionReport::ExceptionName(code), c.name);
    }
    EXPECT_STREQ(CExceptionReport::ExceptionName(0xC00000FD), "STACK_OVERFLOW");
    EXPECT_STREQ(CExceptionReport::ExceptionName(0x12345678), "") << "a code outside the table";
}

} // namespace
