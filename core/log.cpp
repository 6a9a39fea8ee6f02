// Program log: file "clientlog.txt" plus one UDP datagram per line to the
// local log listener, serialised by one mutex (see log.h).
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
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

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
struct LogState {
    FILE* file = nullptr;
    long count = 0;     // bytes in the file
    std::string folder; // ends with '/'
    std::string user;   // for the rotation trailer
    int udp = -1;
};

LogState& State()
{
    static LogState* s = new LogState;
    return *s;
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

void AppendFile(const char* data, std::size_t len)
{
    if (!State().file)
        return;
    std::fwrite(data, 1, len, State().file);
    std::fflush(State().file);
}

// Moves clientlog.txt aside under a time-stamped name and opens a fresh one.
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
    State().file = std::fopen(current.c_str(), "ae");
}

void SendUdp(const char* line, std::size_t len)
{
    if (State().udp < 0)
        State().udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (State().udp < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(g_udpPort.load());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ssize_t n = qelm::GuardedSendTo(State().udp, line, len, MSG_DONTWAIT | MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*>(&to), sizeof to, "log copy");
    if (n < 0 || static_cast<std::size_t>(n) != len) {
        ::shutdown(State().udp, SHUT_RDWR);
        ::close(State().udp);
        State().udp = -1;
    }
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
    JMutexAutoLock lock(LogMutex());
    if (!g_open.load()) // closed while we waited
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

    if (State().file) {
        AppendFile(line, len);
        State().count += static_cast<long>(len);
        if (State().count >= kRotateBytes) {
            std::string trailer = "================= LOGIN USER : " + State().user + "=================\n";
            AppendFile(trailer.data(), trailer.size());
            std::fclose(State().file);
            State().file = nullptr;
            RotateLog();
            State().count = 0;
        }
    }
    SendUdp(line, len);
}

void WriteLogTime(int level, const char* fmt, ...)
{
    if (!g_open.load() || (level & kLevelMask) == 0)
        return;
    JMutexAutoLock lock(LogMutex());
    if (!g_open.load() || !State().file)
        return;
    if (State().count >= kRotateBytes) {
        std::fclose(State().file);
        State().file = nullptr;
        RotateLog();
        State().count = 0;
        if (!State().file)
            return;
    }
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
    AppendFile(line, len);
    State().count += static_cast<long>(len);
}

int OpenLog(const char* path)
{
    if (!path || !*path)
        return -2;
    {
        JMutexAutoLock lock(LogMutex());
        if (g_open.load())
            return -1;
        std::string file = qelm::ResolveDrivePath(path);
        if (file.find('/') == std::string::npos)
            file = GetAppDir() + file; // a bare name lives in the program folder
        FILE* f = std::fopen(file.c_str(), "a+e");
        if (!f)
            return -2;
        long size = -1;
        if (std::fseek(f, 0, SEEK_END) == 0)
            size = std::ftell(f);
        if (size < 0) {
            std::fclose(f);
            return -4;
        }
        State().folder = file.substr(0, file.rfind('/') + 1);
        State().file = f;
        State().count = size;
        g_open.store(true);
    }
    qelm::SetPlatformLogSink(PlatformSink);
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
    JMutexAutoLock lock(LogMutex());
    if (!g_open.load())
        return -3;
    // Open without a file (its reopen after a rotation failed): still close,
    // or datagrams would go on after the exit routine.
    g_open.store(false);
    int result = State().file ? 0 : -3;
    if (State().file) {
        std::fclose(State().file);
        State().file = nullptr;
    }
    if (State().udp >= 0) {
        ::close(State().udp);
        State().udp = -1;
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
