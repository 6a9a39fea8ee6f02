// Program log: file "clientlog.txt" plus one UDP datagram per line to the
// local log listener (see log.h). Writers only queue their lines under the
// log mutex; a flusher thread writes each batch to the file and sends its
// datagrams a few milliseconds later, under the I/O mutex.
#include "core/log.h"

#include "core/helpers.h"
#include "platform/clock.h"
#include "platform/jthread/jmutex.h"
#include "platform/jthread/jmutexautolock.h"
#include "platform/logsink.h"
#include "platform/netguard.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr long kRotateBytes = 10485760;
constexpr std::size_t kMessageSize = 5120;
constexpr const char kLogName[] = "clientlog.txt";

// The log's state is touched only under this mutex (but for the open flag and
// the port, which are atomic). Neither is ever destroyed: lines may still
// come from static destructors.
JMutex& LogMutex()
{
    static JMutex* m = [] {
        auto* mutex = new JMutex;
        mutex->Init();
        return mutex;
    }();
    return *m;
}

std::atomic<bool> g_open{false};
std::atomic<unsigned short> g_udpPort{3000};

// A line waits in memory this long at most before it reaches the file and
// the listener: one write and a burst of datagrams per batch, none of it on
// the writer's thread.
constexpr auto kFlushDelay = std::chrono::milliseconds(20);
constexpr std::size_t kWakeBytes = 256 * 1024;      // a batch this big goes at once
constexpr std::size_t kMaxPendingBytes = 8 << 20;   // writers flush themselves past this

enum : std::uint8_t { kToFile = 1, kToUdp = 2, kRotateAfter = 4 };
struct Entry {
    std::uint32_t size; // bytes of pending text
    std::uint8_t flags;
};

struct LogState {
    // Under the log mutex: what the writers add.
    long count = 0;         // bytes in the file, counted as lines are queued
    bool fileLost = false;  // a rotation could not reopen the file
    std::string user;       // for the rotation trailer
    std::string pending;
    std::vector<Entry> entries;
    bool haveFlusher = false;

    // Under the I/O mutex: the file and the socket, touched only by whoever flushes.
    int fd = -1;
    std::string folder;     // ends with '/'
    int udp = -1;
    std::string batch;      // taken from pending (buffers swap, so they are reused)
    std::vector<Entry> batchEntries;

    // The flusher thread.
    std::mutex wakeLock;
    std::condition_variable wake;
    bool wakeUp = false, urgent = false, stop = false;
    std::thread flusher;
};

LogState& State()
{
    static LogState* s = new LogState;
    return *s;
}

std::mutex& IoMutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

const int kLevelMask = 255;

// Length of the longest prefix of s[0..len) that does not end inside a
// UTF-8 sequence (so a cut message stays whole characters).
std::size_t WholeCharsPrefix(const char* s, std::size_t len)
{
    std::size_t i = len;
    std::size_t back = 0;
    while (i > 0 && back < 3 && (static_cast<unsigned char>(s[i - 1]) & 0xC0) == 0x80) {
        --i;
        ++back;
    }
    if (i == 0)
        return len;
    unsigned char lead = static_cast<unsigned char>(s[i - 1]);
    if (lead < 0xC0)
        return len; // ASCII or a stray continuation byte: nothing to repair
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return back + 1 >= need ? len : i - 1;
}

// Formats into buf (kMessageSize bytes); a longer message is cut at a character boundary.
void FormatMessage(char* buf, const char* fmt, va_list ap)
{
    int n = std::vsnprintf(buf, kMessageSize, fmt ? fmt : "", ap);
    if (n < 0) {
        buf[0] = '\0';
        return;
    }
    if (static_cast<std::size_t>(n) >= kMessageSize)
        buf[WholeCharsPrefix(buf, kMessageSize - 1)] = '\0';
}

// The first 19 characters of asctime(): "Tue Dec  8 20:44:06".
void AscTime19(const std::tm& t, char out[20])
{
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int wd = (t.tm_wday >= 0 && t.tm_wday < 7) ? t.tm_wday : 0;
    int mo = (t.tm_mon >= 0 && t.tm_mon < 12) ? t.tm_mon : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d", kDays[wd], kMonths[mo], t.tm_mday % 100,
                  t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    std::memcpy(out, buf, 19);
    out[19] = '\0';
}

void WriteAllFd(int fd, const char* data, std::size_t len)
{
    while (fd >= 0 && len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // write errors are ignored
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

int OpenLogFd(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// Moves clientlog.txt aside under a time-stamped name and opens a fresh one.
// Under the I/O mutex.
void RotateLog()
{
    std::tm t = qelm::LocalNow();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d-%02d-%02d-%02d", (t.tm_year - 100) % 100, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string rotated = State().folder + "clientlog-" + stamp + ".txt";
    std::string current = State().folder + kLogName;
    // A rotated file of the same second may exist: do not overwrite it, keep appending instead.
    if (::access(rotated.c_str(), F_OK) != 0)
        std::rename(current.c_str(), rotated.c_str());
    State().fd = OpenLogFd(current);
}

// Lines on their way to the listener, one datagram each, many datagrams a
// system call. Under the I/O mutex.
class UdpBatch {
public:
    UdpBatch()
    {
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(g_udpPort.load());
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~UdpBatch() { Send(); }
    UdpBatch(const UdpBatch&) = delete;
    UdpBatch& operator=(const UdpBatch&) = delete;

    void Add(const char* line, std::size_t len)
    {
        m_iov[m_count] = {const_cast<char*>(line), len};
        mmsghdr& m = m_msgs[m_count];
        m = {};
        m.msg_hdr.msg_name = &m_to;
        m.msg_hdr.msg_namelen = sizeof m_to;
        m.msg_hdr.msg_iov = &m_iov[m_count];
        m.msg_hdr.msg_iovlen = 1;
        if (++m_count == kMax)
            Send();
    }

    // A line the socket did not take whole closes it; the next line opens a new one.
    void Send()
    {
        if (m_count == 0)
            return;
        int& udp = State().udp;
        const bool allowed = qelm::NetAllowed(reinterpret_cast<const sockaddr*>(&m_to), sizeof m_to, "log copy");
        for (int at = 0; allowed && at < m_count;) {
            if (udp < 0)
                udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (udp < 0)
                break;
            const int sent = ::sendmmsg(udp, m_msgs + at, static_cast<unsigned>(m_count - at),
                                        MSG_DONTWAIT | MSG_NOSIGNAL);
            bool whole = sent > 0;
            for (int i = 0; i < sent; ++i)
                whole = whole && m_msgs[at + i].msg_len == m_iov[at + i].iov_len;
            if (!whole) {
                ::shutdown(udp, SHUT_RDWR);
                ::close(udp);
                udp = -1;
            }
            at += sent > 0 ? sent : 1; // a line that failed is not sent again
        }
        m_count = 0;
    }

private:
    static constexpr int kMax = 64;
    sockaddr_in m_to{};
    mmsghdr m_msgs[kMax];
    iovec m_iov[kMax];
    int m_count = 0;
};

// Queues one entry; under the log mutex. Wakes the flusher when the queue
// was empty or has grown large.
void Queue(const char* data, std::size_t len, std::uint8_t flags)
{
    LogState& st = State();
    const bool wasEmpty = st.entries.empty();
    st.pending.append(data, len);
    st.entries.push_back({static_cast<std::uint32_t>(len), flags});
    const bool large = st.pending.size() >= kWakeBytes && st.pending.size() - len < kWakeBytes;
    if (st.haveFlusher && (wasEmpty || large)) {
        std::lock_guard<std::mutex> w(st.wakeLock);
        st.wakeUp = true;
        st.urgent |= large;
        st.wake.notify_one();
    }
}

// Set while this thread flushes: a line it logs meanwhile (a refused
// datagram) is only queued.
thread_local bool t_flushing = false;

// Writes and sends everything queued so far, in order.
void FlushQueued()
{
    if (t_flushing)
        return;
    std::lock_guard<std::mutex> io(IoMutex());
    t_flushing = true;
    LogState& st = State();
    st.batch.clear();
    st.batchEntries.clear();
    {
        JMutexAutoLock lock(LogMutex());
        st.batch.swap(st.pending);
        st.batchEntries.swap(st.entries);
    }
    if (st.batchEntries.empty()) {
        t_flushing = false;
        return;
    }
    const char* p = st.batch.data();
    const char* run = p; // start of the bytes not yet written to the file
    UdpBatch udp;
    for (const Entry& e : st.batchEntries) {
        if (!(e.flags & kToFile)) {
            WriteAllFd(st.fd, run, static_cast<std::size_t>(p - run));
            run = p + e.size;
        }
        if (e.flags & kToUdp)
            udp.Add(p, e.size);
        p += e.size;
        if (e.flags & kRotateAfter) {
            WriteAllFd(st.fd, run, static_cast<std::size_t>(p - run));
            run = p;
            if (st.fd >= 0)
                ::close(st.fd);
            st.fd = -1;
            RotateLog();
            if (st.fd < 0) {
                JMutexAutoLock lock(LogMutex());
                st.fileLost = true;
                st.count = 0;
            }
        }
    }
    WriteAllFd(st.fd, run, static_cast<std::size_t>(p - run));
    udp.Send();
    t_flushing = false;
}

void FlusherLoop()
{
    LogState& st = State();
    std::unique_lock<std::mutex> w(st.wakeLock);
    for (;;) {
        st.wake.wait(w, [&] { return st.wakeUp || st.stop; });
        // Let the batch gather a moment, unless it is already large.
        st.wake.wait_for(w, kFlushDelay, [&] { return st.urgent || st.stop; });
        const bool stopping = st.stop;
        st.wakeUp = st.urgent = false;
        w.unlock();
        FlushQueued();
        w.lock();
        if (stopping)
            return;
    }
}

void StopFlusher()
{
    LogState& st = State();
    if (!st.flusher.joinable())
        return;
    {
        std::lock_guard<std::mutex> w(st.wakeLock);
        st.stop = true;
    }
    st.wake.notify_one();
    st.flusher.join();
    std::lock_guard<std::mutex> w(st.wakeLock);
    st.stop = st.wakeUp = st.urgent = false;
}

void PlatformSink(int level, const std::string& line)
{
    WriteLog(level, "%s", line.c_str());
}

} // namespace

void WriteLog(int level, const char* fmt, ...)
{
    if (!g_open.load() || (level & kLevelMask) == 0)
        return;
    char stamp[20];
    AscTime19(qelm::LocalNow(), stamp);
    char message[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    FormatMessage(message, fmt, ap);
    va_end(ap);

    char line[8 + 19 + 2 + kMessageSize + 2];
    int n = std::snprintf(line, sizeof line, "[Qelm2]:%.19s  %s\n", stamp, message);
    std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (len >= sizeof line)
        len = sizeof line - 1;

    bool flushNow;
    {
        JMutexAutoLock lock(LogMutex());
        if (!g_open.load()) // closed while we waited
            return;
        LogState& st = State();
        if (st.fileLost) {
            Queue(line, len, kToUdp);
        } else {
            st.count += static_cast<long>(len);
            Queue(line, len, kToFile | kToUdp);
            if (st.count >= kRotateBytes) {
                std::string trailer = "================= LOGIN USER : " + st.user + "=================\n";
                Queue(trailer.data(), trailer.size(), kToFile | kRotateAfter);
                st.count = 0;
            }
        }
        flushNow = !st.haveFlusher || st.pending.size() >= kMaxPendingBytes;
    }
    if (flushNow)
        FlushQueued();
}

void WriteLogTime(int level, const char* fmt, ...)
{
    if (!g_open.load() || (level & kLevelMask) == 0)
        return;
    char message[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    FormatMessage(message, fmt, ap);
    va_end(ap);
    std::tm t = qelm::LocalNow();
    char line[32 + kMessageSize];
    int n = std::snprintf(line, sizeof line, "%02d-%02d-%02d %02d:%02d:%02d %s\n", (t.tm_year - 100) % 100,
                          t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, message);
    std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (len >= sizeof line)
        len = sizeof line - 1;

    bool flushNow;
    {
        JMutexAutoLock lock(LogMutex());
        LogState& st = State();
        if (!g_open.load() || st.fileLost)
            return;
        if (st.count >= kRotateBytes) {
            Queue("", 0, kRotateAfter);
            st.count = 0;
        }
        Queue(line, len, kToFile);
        st.count += static_cast<long>(len);
        flushNow = !st.haveFlusher || st.pending.size() >= kMaxPendingBytes;
    }
    if (flushNow)
        FlushQueued();
}

void FlushLog()
{
    FlushQueued();
}

void FlushLogAfterCrash()
{
    if (!g_open.load())
        return;
    // The crashing thread may hold a lock: take each only when it is free,
    // and write with plain write() (no allocation, no stdio).
    std::mutex& io = IoMutex();
    bool haveIo = false;
    for (int i = 0; i < 1000 && !(haveIo = io.try_lock()); ++i)
        ::sched_yield(); // the flusher is writing the batch before this one
    if (!haveIo)
        return;
    if (LogMutex().TryLock()) {
        const LogState& st = State();
        const char* p = st.pending.data();
        for (const Entry& e : st.entries) {
            if (e.flags & kToFile)
                WriteAllFd(st.fd, p, e.size);
            p += e.size;
        }
        LogMutex().Unlock();
    }
    io.unlock();
}

int OpenLog(const char* path)
{
    if (!path || !*path)
        return -2;
    {
        std::lock_guard<std::mutex> io(IoMutex());
        JMutexAutoLock lock(LogMutex());
        if (g_open.load())
            return -1;
        std::string file = qelm::ResolveDrivePath(path);
        if (file.find('/') == std::string::npos)
            file = GetAppDir() + file; // a bare name lives in the program folder
        int fd = OpenLogFd(file);
        if (fd < 0)
            return -2;
        off_t size = ::lseek(fd, 0, SEEK_END);
        if (size < 0) {
            ::close(fd);
            return -4;
        }
        LogState& st = State();
        st.folder = file.substr(0, file.rfind('/') + 1);
        st.fd = fd;
        st.count = static_cast<long>(size);
        st.fileLost = false;
        st.pending.clear();
        st.entries.clear();
        try {
            st.flusher = std::thread(FlusherLoop);
            st.haveFlusher = true;
        } catch (const std::system_error&) {
            st.haveFlusher = false; // every line is then written at once
        }
        static std::once_flag atExit;
        std::call_once(atExit, [] { std::atexit(FlushQueued); });
        g_open.store(true);
    }
    qelm::SetPlatformLogSink(PlatformSink);
    qelm::SetPlatformLogFlush(FlushQueued);
    return 0;
}

int OpenProgramLog(const char* title)
{
    std::string folder = qelm::ResolveDrivePath(std::string("D:\\") + (title ? title : "") + "-Log");
    if (!CreateDirTree(folder.c_str()))
        return -2;
    return OpenLog((folder + "/" + kLogName).c_str());
}

int CloseLog()
{
    qelm::SetPlatformLogSink({});
    qelm::SetPlatformLogFlush({});
    {
        JMutexAutoLock lock(LogMutex());
        if (!g_open.load())
            return -3;
        // Open without a file (its reopen after a rotation failed): still close,
        // or datagrams would go on after the exit routine.
        g_open.store(false);
        State().haveFlusher = false;
    }
    StopFlusher();
    FlushQueued(); // what came after the flusher's last batch
    std::lock_guard<std::mutex> io(IoMutex());
    LogState& st = State();
    int result = st.fd >= 0 ? 0 : -3;
    if (st.fd >= 0) {
        ::close(st.fd);
        st.fd = -1;
    }
    if (st.udp >= 0) {
        ::close(st.udp);
        st.udp = -1;
    }
    return result;
}

bool IsLogOpen()
{
    return g_open.load();
}

void SetLogUserName(const char* user)
{
    JMutexAutoLock lock(LogMutex());
    State().user = user ? user : "";
}

void SetLogUdpPort(unsigned short port)
{
    g_udpPort.store(port);
}

unsigned short LogUdpPort()
{
    return g_udpPort.load();
}
