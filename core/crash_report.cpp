// Crash report (see crash_report.h). Everything the signal handler calls is
// async-signal-safe: raw open/read/write, no allocation, no stdio, no locale.
#include "core/crash_report.h"

#include "core/log.h"
#include "platform/clock.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <typeinfo>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr std::uint32_t kCodeAbort = 0x40000015;     // a fatal application exit
constexpr std::uint32_t kCodeCppException = 0xE06D7363; // a C++ exception nobody caught
constexpr std::uint32_t kCodeStackOverflow = 0xC00000FD;
constexpr int kMaxFrames = 64;
constexpr std::size_t kAltStackSize = 64 * 1024;

std::atomic<bool> g_installed{false};
struct sigaction g_previous[kSignalCount];
std::terminate_handler g_previousTerminate = nullptr;
char g_path[4096];
long g_gmtoff = 0;          // local time offset, taken when installed
alignas(16) char g_mainAltStack[kAltStackSize];
stack_t g_previousAltStack;
bool g_ownMainAltStack = false;

// One report at a time: the thread that writes owns it.
std::atomic<pid_t> g_writer{0};
// Set once the terminate path wrote its entry, so its abort() adds none.
std::atomic<bool> g_reported{false};

char g_maps[512 * 1024]; // /proc/self/maps, read at crash time
std::size_t g_mapsLen = 0;
char g_terminateText[512];

pid_t Tid()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// ---- output buffer -------------------------------------------------------

class Out {
public:
    explicit Out(int fd) : m_fd(fd) {}
    ~Out() { Flush(); }
    void Str(const char* s)
    {
        while (s && *s)
            Ch(*s++);
    }
    void Ch(char c)
    {
        if (m_len == sizeof m_buf)
            Flush();
        m_buf[m_len++] = c;
    }
    // digits upper-case hex digits, zero-padded.
    void Hex(std::uint64_t v, int digits)
    {
        char tmp[16];
        for (int i = digits - 1; i >= 0; --i) {
            tmp[i] = "0123456789ABCDEF"[v & 0xF];
            v >>= 4;
        }
        for (int i = 0; i < digits; ++i)
            Ch(tmp[i]);
    }
    // Decimal, right-aligned in width with blanks (as "%2d").
    void Dec(long v, int width)
    {
        char tmp[24];
        int n = 0;
        bool neg = v < 0;
        unsigned long u = neg ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        do {
            tmp[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u && n < 22);
        if (neg)
            tmp[n++] = '-';
        for (int i = n; i < width; ++i)
            Ch(' ');
        while (n)
            Ch(tmp[--n]);
    }
    void Flush()
    {
        std::size_t done = 0;
        while (done < m_len) {
            ssize_t w = ::write(m_fd, m_buf + done, m_len - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            done += static_cast<std::size_t>(w);
        }
        m_len = 0;
    }

private:
    int m_fd;
    char m_buf[8192];
    std::size_t m_len = 0;
};

// ---- memory map ------------------------------------------------------------

void ReadMaps()
{
    g_mapsLen = 0;
    int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    while (g_mapsLen < sizeof g_maps - 1) {
        ssize_t n = ::read(fd, g_maps + g_mapsLen, sizeof g_maps - 1 - g_mapsLen);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        g_mapsLen += static_cast<std::size_t>(n);
    }
    ::close(fd);
    // a cut last line is dropped
    while (g_mapsLen > 0 && g_maps[g_mapsLen - 1] != '\n')
        --g_mapsLen;
}

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::uint64_t offset = 0;
    bool readable = false;
    bool writable = false;
    const char* path = nullptr; // into g_maps, up to the line's end
    std::size_t pathLen = 0;
};

std::uint64_t ParseHex(const char*& p, const char* end)
{
    std::uint64_t v = 0;
    while (p < end) {
        char c = *p;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            break;
        v = (v << 4) | static_cast<std::uint64_t>(d);
        ++p;
    }
    return v;
}

void SkipField(const char*& p, const char* end)
{
    while (p < end && *p != ' ')
        ++p;
    while (p < end && *p == ' ')
        ++p;
}

// Calls visit(mapping) per line until it returns true.
template <class Visit>
bool ForEachMapping(Visit visit)
{
    const char* p = g_maps;
    const char* const all = g_maps + g_mapsLen;
    while (p < all) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(all - p)));
        if (!eol)
            eol = all;
        Mapping m;
        const char* q = p;
        m.start = static_cast<std::uintptr_t>(ParseHex(q, eol));
        if (q < eol && *q == '-')
            ++q;
        m.end = static_cast<std::uintptr_t>(ParseHex(q, eol));
        while (q < eol && *q == ' ')
            ++q;
        m.readable = q < eol && *q == 'r';
        m.writable = q + 1 < eol && q[1] == 'w';
        SkipField(q, eol); // perms
        m.offset = ParseHex(q, eol);
        while (q < eol && *q == ' ')
            ++q;
        SkipField(q, eol); // device
        SkipField(q, eol); // inode
        m.path = q;
        m.pathLen = static_cast<std::size_t>(eol - q);
        if (visit(m))
            return true;
        p = eol + 1;
    }
    return false;
}

bool FindMapping(std::uintptr_t addr, Mapping& out)
{
    return ForEachMapping([&](const Mapping& m) {
        if (addr >= m.start && addr < m.end) {
            out = m;
            return true;
        }
        return false;
    });
}

bool SamePath(const Mapping& a, const Mapping& b)
{
    return a.pathLen == b.pathLen && std::memcmp(a.path, b.path, a.pathLen) == 0;
}

// Segment number and offset from the module's load base; false outside a module.
struct Logical {
    unsigned segment = 0;
    std::uint64_t offset = 0;
    const char* path = "";
    std::size_t pathLen = 0;
};

Logical LogicalAddress(std::uintptr_t addr)
{
    Logical out;
    Mapping hit;
    if (!FindMapping(addr, hit) || hit.pathLen == 0 || hit.path[0] != '/')
        return out;
    std::uintptr_t base = 0;
    bool haveBase = false;
    unsigned index = 0;
    unsigned segment = 0;
    ForEachMapping([&](const Mapping& m) {
        if (!SamePath(m, hit))
            return false;
        ++index;
        if (!haveBase && m.offset == 0) {
            base = m.start;
            haveBase = true;
        }
        if (m.start == hit.start)
            segment = index;
        return false;
    });
    if (!haveBase || segment == 0)
        return out;
    out.segment = segment;
    out.offset = addr - base;
    out.path = hit.path;
    out.pathLen = hit.pathLen;
    return out;
}

void WriteLogical(Out& o, std::uintptr_t addr)
{
    Logical l = LogicalAddress(addr);
    o.Hex(l.segment, 4);
    o.Ch(':');
    o.Hex(l.offset, 8);
    o.Ch(' ');
    for (std::size_t i = 0; i < l.pathLen; ++i)
        o.Ch(l.path[i]);
}

// ---- time --------------------------------------------------------------------

// Civil date of a day count since 1970-01-01.
void CivilFromDays(long z, long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}

void WriteTime(Out& o)
{
    long t = static_cast<long>(qelm::WallNow()) + g_gmtoff;
    long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    long secs = t - days * 86400;
    long y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    o.Dec(y, 4);
    o.Str("年");
    o.Dec(static_cast<long>(m), 2);
    o.Str("月");
    o.Dec(static_cast<long>(d), 2);
    o.Str("日 ");
    o.Dec(secs / 3600, 2);
    o.Ch(':');
    o.Dec(secs / 60 % 60, 2);
    o.Ch(':');
    o.Dec(secs % 60, 2);
    o.Ch('\n');
}

// ---- registers and stack ---------------------------------------------------------

struct Frame {
    std::uintptr_t pc = 0;
    std::uintptr_t fp = 0;
    std::uintptr_t sp = 0;
};

Frame FrameOf(const ucontext_t* uc)
{
    Frame f;
    if (!uc)
        return f;
#if defined(__x86_64__)
    f.pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    f.fp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RBP]);
    f.sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    f.pc = static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
    f.fp = static_cast<std::uintptr_t>(uc->uc_mcontext.regs[29]);
    f.sp = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#endif
    return f;
}

void WriteRegisters(Out& o, const ucontext_t* uc)
{
    o.Str("\nRegisters:\n");
    if (!uc)
        return;
#if defined(__x86_64__)
    const greg_t* g = uc->uc_mcontext.gregs;
    static const struct {
        const char* name;
        int reg;
    } kRegs[] = {{"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI},
                 {"RDI", REG_RDI}, {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11},
                 {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15}};
    for (const auto& r : kRegs) {
        o.Str(r.name);
        o.Ch(':');
        o.Hex(static_cast<std::uint64_t>(g[r.reg]), 16);
        o.Ch('\n');
    }
    const std::uint64_t segs = static_cast<std::uint64_t>(g[REG_CSGSFS]);
    o.Str("CS:RIP:");
    o.Hex(segs & 0xFFFF, 4);
    o.Ch(':');
    o.Hex(static_cast<std::uint64_t>(g[REG_RIP]), 16);
    o.Str("\nSS:RSP:");
    o.Hex((segs >> 48) & 0xFFFF, 4);
    o.Ch(':');
    o.Hex(static_cast<std::uint64_t>(g[REG_RSP]), 16);
    o.Str("  RBP:");
    o.Hex(static_cast<std::uint64_t>(g[REG_RBP]), 16);
    o.Str("\nFS:");
    o.Hex((segs >> 32) & 0xFFFF, 4);
    o.Str("  GS:");
    o.Hex((segs >> 16) & 0xFFFF, 4);
    o.Str("\nFlags:");
    o.Hex(static_cast<std::uint64_t>(g[REG_EFL]), 8);
    o.Ch('\n');
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        o.Ch('X');
        o.Dec(i, 0);
        o.Ch(':');
        o.Hex(uc->uc_mcontext.regs[i], 16);
        o.Ch('\n');
    }
    o.Str("PC:");
    o.Hex(uc->uc_mcontext.pc, 16);
    o.Str("\nSP:");
    o.Hex(uc->uc_mcontext.sp, 16);
    o.Str("\nFlags:");
    o.Hex(uc->uc_mcontext.pstate, 8);
    o.Ch('\n');
#endif
}

void WriteFrameLine(Out& o, std::uintptr_t pc, std::uintptr_t fp)
{
    o.Hex(pc, 16);
    o.Str("  ");
    o.Hex(fp, 16);
    o.Str("  ");
    WriteLogical(o, pc);
    o.Ch('\n');
}

// Follows the chain of saved frame pointers on the faulting thread's stack.
// Those words are read raw: they are not the sanitizer's to check.
__attribute__((no_sanitize("address"))) void WriteCallStack(Out& o, const Frame& start)
{
    o.Str("\nCall stack:\n");
    o.Str("Address           Frame             Logical addr  Module\n");
    WriteFrameLine(o, start.pc, start.fp); // the faulting instruction, always
    // The thread's stack: where the stack pointer is, or, after an overflow
    // left it in the guard area, where the frame pointer is.
    Mapping stack;
    bool haveStack = (FindMapping(start.sp, stack) && stack.writable) || (FindMapping(start.fp, stack) && stack.writable);
    std::uintptr_t fp = start.fp;
    for (int i = 1; i < kMaxFrames; ++i) {
        // Both words of the frame (saved frame pointer, return address) must
        // lie on the thread's stack.
        if (!haveStack || fp % sizeof(void*) != 0 || fp < stack.start || fp + 2 * sizeof(void*) > stack.end)
            break;
        const auto* words = reinterpret_cast<const std::uintptr_t*>(fp);
        std::uintptr_t nextFp = words[0];
        std::uintptr_t pc = words[1];
        if (pc == 0)
            break;
        WriteFrameLine(o, pc, nextFp);
        if (nextFp <= fp)
            break;
        fp = nextFp;
    }
    o.Ch('\n');
}

// A fault next to the stack pointer, outside writable memory: the stack ran
// into its guard area (or its size limit).
bool IsStackOverflow(std::uintptr_t faultAddr, std::uintptr_t sp)
{
    constexpr std::uintptr_t kNear = 64 * 1024;
    std::uintptr_t distance = faultAddr > sp ? faultAddr - sp : sp - faultAddr;
    if (sp == 0 || distance > kNear)
        return false;
    Mapping m;
    return !FindMapping(faultAddr, m) || !m.writable;
}

// ---- the entry -------------------------------------------------------------------

// Appends one entry to the report file (the memory map read beforehand).
void WriteReport(std::uint32_t code, const char* name, const ucontext_t* uc)
{
    if (!g_path[0])
        return;
    int fd = ::open(g_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    Frame f = FrameOf(uc);
    {
        Out o(fd);
        const char* sep = "//=====================================================\n";
        o.Str(sep);
        WriteTime(o);
        o.Str(sep);
        o.Str("Exception code: ");
        o.Hex(code, 8);
        o.Ch(' ');
        o.Str(name);
        o.Str("\nFault address:  ");
        o.Hex(f.pc, 16);
        o.Ch(' ');
        WriteLogical(o, f.pc);
        o.Ch('\n');
        WriteRegisters(o, uc);
        WriteCallStack(o, f);
    }
    ::close(fd);
}

// Takes the report for this thread; false when it is already taken. Another
// thread's report is waited out (the process ends with it); a fault of the
// writing thread itself goes straight to the default action.
bool TakeReport()
{
    pid_t me = Tid();
    pid_t none = 0;
    if (g_writer.compare_exchange_strong(none, me))
        return true;
    if (none == me)
        return false;
    for (;;) {
        timespec ts{1, 0};
        ::nanosleep(&ts, nullptr);
    }
}

void DefaultAndRaise(int sig)
{
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
}

void OnSignal(int sig, siginfo_t* info, void* context)
{
    int savedErrno = errno;
    bool writeIt = !(sig == SIGABRT && g_reported.load());
    if (writeIt && TakeReport()) {
        ReadMaps();
        std::uint32_t code = CExceptionReport::ExceptionCode(sig, info ? info->si_code : 0);
        if (sig == SIGSEGV && info && IsStackOverflow(reinterpret_cast<std::uintptr_t>(info->si_addr),
                                                      FrameOf(static_cast<const ucontext_t*>(context)).sp))
            code = kCodeStackOverflow;
        WriteReport(code, CExceptionReport::ExceptionName(code), static_cast<const ucontext_t*>(context));
    }
    FlushLogAfterCrash(); // the program log's last lines (after the report, which matters more)
    errno = savedErrno;
    // Returning re-runs a faulting instruction, which now meets the default action.
    DefaultAndRaise(sig);
}

void OnTerminate()
{
    // Not in a signal handler: the text may be built normally.
    std::string text = "std::terminate";
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            text += ": ";
            text += ex.what();
        } catch (...) {
            text += ": unknown exception";
        }
    }
    std::size_t n = text.size() < sizeof g_terminateText - 1 ? text.size() : sizeof g_terminateText - 1;
    std::memcpy(g_terminateText, text.data(), n);
    g_terminateText[n] = '\0';
    if (TakeReport()) {
        ucontext_t uc;
        bool haveContext = ::getcontext(&uc) == 0;
        ReadMaps();
        WriteReport(kCodeCppException, g_terminateText, haveContext ? &uc : nullptr);
        g_reported.store(true);
    }
    std::abort();
}

void ComputePath()
{
    const char* env = std::getenv("QELM2_CRASH_REPORT");
    std::string path;
    if (env && *env) {
        path = env;
    } else {
        char exe[4096];
        ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        path = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : qelm::ProgramDir() + "Corvane";
        std::size_t slash = path.rfind('/');
        std::size_t dot = path.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && path.size() - dot - 1 >= 3)
            path.resize(dot + 1);
        else
            path += '.';
        path += "RPT";
    }
    CExceptionReport::SetReportPath(path.c_str());
}

void CaptureTimeZone()
{
    std::time_t now = qelm::WallNow();
    std::tm local{};
    localtime_r(&now, &local);
    g_gmtoff = local.tm_gmtoff;
}

// Gives the calling thread an alternate stack in buf, unless it has one.
bool UseAltStack(void* buf, std::size_t size, stack_t* previous)
{
    stack_t cur;
    if (::sigaltstack(nullptr, &cur) == 0 && !(cur.ss_flags & SS_DISABLE))
        return false;
    stack_t ss{};
    ss.ss_sp = buf;
    ss.ss_size = size;
    ss.ss_flags = 0;
    if (previous)
        *previous = cur;
    return ::sigaltstack(&ss, nullptr) == 0;
}

// Frees a thread's alternate stack when the thread ends.
struct ThreadAltStack {
    void* buf = nullptr;
    ~ThreadAltStack()
    {
        if (!buf)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        std::free(buf);
    }
};

} // namespace

CExceptionReport::CExceptionReport()
{
    if (g_installed.exchange(true))
        return; // one per process
    ComputePath();
    CaptureTimeZone();
    g_ownMainAltStack = UseAltStack(g_mainAltStack, sizeof g_mainAltStack, &g_previousAltStack);

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals) // a second fault while reporting goes to the default action
        sigaddset(&sa.sa_mask, s);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &sa, &g_previous[i]);
    g_previousTerminate = std::set_terminate(OnTerminate);
}

CExceptionReport::~CExceptionReport()
{
    if (!g_installed.load())
        return;
    std::set_terminate(g_previousTerminate);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    if (g_ownMainAltStack) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        g_ownMainAltStack = false;
    }
    g_installed.store(false);
}

void CExceptionReport::PrepareThread()
{
    if (!g_installed.load())
        return;
    thread_local ThreadAltStack stack;
    if (stack.buf)
        return;
    void* buf = std::malloc(kAltStackSize);
    if (!buf)
        return;
    if (UseAltStack(buf, kAltStackSize, nullptr))
        stack.buf = buf;
    else
        std::free(buf);
}

const char* CExceptionReport::GetReportPath()
{
    return g_path;
}

void CExceptionReport::SetReportPath(const char* path)
{
    std::size_t n = path ? strnlen(path, sizeof g_path - 1) : 0;
    if (n)
        std::memcpy(g_path, path, n);
    g_path[n] = '\0';
}

std::uint32_t CExceptionReport::ExceptionCode(int sig, int code)
{
    switch (sig) {
    case SIGSEGV:
        return 0xC0000005;
    case SIGBUS:
        return code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
    case SIGILL:
        return (code == ILL_PRVOPC || code == ILL_PRVREG) ? 0xC0000096 : 0xC000001D;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return 0xC0000094;
        case FPE_INTOVF: return 0xC0000095;
        case FPE_FLTDIV: return 0xC000008E;
        case FPE_FLTOVF: return 0xC0000091;
        case FPE_FLTUND: return 0xC0000093;
        case FPE_FLTRES: return 0xC000008F;
        case FPE_FLTSUB: return 0xC000008C;
        default: return 0xC0000090;
        }
    case SIGTRAP:
        return code == TRAP_TRACE ? 0x80000004 : 0x80000003;
    case SIGABRT:
        return kCodeAbort;
    default:
        return 0;
    }
}

const char* CExceptionReport::ExceptionName(std::uint32_t code)
{
    static const struct {
        std::uint32_t code;
        const char* name;
    } kNames[] = {
        {0x80000001, "GUARD_PAGE"},
        {0x80000002, "DATATYPE_MISALIGNMENT"},
        {0x80000003, "BREAKPOINT"},
        {0x80000004, "SINGLE_STEP"},
        {0xC0000005, "ACCESS_VIOLATION"},
        {0xC0000006, "IN_PAGE_ERROR"},
        {0xC0000008, "INVALID_HANDLE"},
        {0xC000001D, "ILLEGAL_INSTRUCTION"},
        {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
        {0xC0000026, "INVALID_DISPOSITION"},
        {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008D, "FLT_DENORMAL_OPERAND"},
        {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {0xC000008F, "FLT_INEXACT_RESULT"},
        {0xC0000090, "FLT_INVALID_OPERATION"},
        {0xC0000091, "FLT_OVERFLOW"},
        {0xC0000092, "FLT_STACK_CHECK"},
        {0xC0000093, "FLT_UNDERFLOW"},
        {0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {0xC0000095, "INT_OVERFLOW"},
        {0xC0000096, "PRIV_INSTRUCTION"},
        {0xC00000FD, "STACK_OVERFLOW"},
        // Outside the system's table: the text of the signal behind the code.
        {kCodeAbort, "ABORTED"},
    };
    for (const auto& n : kNames) {
        if (n.code == code)
            return n.name;
    }
    return "";
}
