#include "platform/clock.h"

#include <atomic>

namespace qelm {

namespace {
std::atomic<std::int64_t> g_steadyOffsetMs{0};
std::atomic<std::int64_t> g_wallOffsetS{0};
} // namespace

std::int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + g_steadyOffsetMs.load();
}

std::time_t WallNow()
{
    return std::time(nullptr) + static_cast<std::time_t>(g_wallOffsetS.load());
}

std::tm LocalNow()
{
    std::time_t t = WallNow();
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

void AdvanceTestClock(std::chrono::milliseconds steady, std::chrono::seconds wall)
{
    g_steadyOffsetMs += steady.count();
    g_wallOffsetS += wall.count();
}

void ResetTestClock()
{
    g_steadyOffsetMs = 0;
    g_wallOffsetS = 0;
}

} // namespace qelm

DWORD timeGetTime()
{
    return static_cast<DWORD>(qelm::SteadyMs());
}

DWORD GetTickCount()
{
    return static_cast<DWORD>(qelm::SteadyMs());
}
