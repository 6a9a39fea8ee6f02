#include "platform/logsink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qelm {

namespace {
std::mutex g_sinkMutex;
LogSink& Sink()
{
    static LogSink sink;
    return sink;
}
std::function<void()>& Flush()
{
    static std::function<void()> flush;
    return flush;
}
} // namespace

void SetPlatformLogFlush(std::function<void()> flush)
{
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    Flush() = std::move(flush);
}

void FlushPlatformLog()
{
    std::function<void()> flush;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        flush = Flush();
    }
    if (flush)
        flush();
}

void SetPlatformLogSink(LogSink sink)
{
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    Sink() = std::move(sink);
}

void PlatformLog(int level, const char* fmt, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    LogSink sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        sink = Sink();
    }
    if (sink)
        sink(level, buf);
    else
        fprintf(stderr, "%s\n", buf);
}

} // namespace qelm
