// The multimedia timer thread.
#include "platform/mmtimer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct MmTimer {
    UINT period = 0;
    bool periodic = false;
    LPTIMECALLBACK callback = nullptr;
    DWORD_PTR user = 0;
    Clock::time_point due;
};

class TimerThread {
public:
    static TimerThread& Instance()
    {
        // Never destroyed: timers may be killed from static destructors.
        static TimerThread* instance = new TimerThread;
        return *instance;
    }

    UINT Add(const MmTimer& t)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
        UINT id = ++m_nextId;
        if (id == 0)
            id = ++m_nextId;
        m_timers[id] = t;
        m_cv.notify_all();
        return id;
    }

    bool Kill(UINT id)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool found = m_timers.erase(id) > 0;
        if (!found && m_running != id)
            return false;
        // Wait out a callback in flight, unless this is that callback.
        if (std::this_thread::get_id() != m_thread.get_id())
            m_idle.wait(lock, [&] { return m_running != id; });
        return true;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_timers.empty()) {
                m_cv.wait(lock);
                continue;
            }
            auto next = m_timers.begin();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (it->second.due < next->second.due)
                    next = it;
            const auto now = Clock::now();
            if (next->second.due > now) {
                m_cv.wait_until(lock, next->second.due);
                continue;
            }
            const UINT id = next->first;
            MmTimer t = next->second;
            if (t.periodic) {
                // Keep the cadence; after a long stall skip the missed ticks.
                next->second.due += std::chrono::milliseconds(t.period);
                if (next->second.due < now)
                    next->second.due = now + std::chrono::milliseconds(t.period);
            } else {
                m_timers.erase(next);
            }
            m_running = id;
            lock.unlock();
            t.callback(id, 0, t.user, 0, 0);
            lock.lock();
            m_running = 0;
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::condition_variable m_idle;
    std::map<UINT, MmTimer> m_timers;
    std::thread m_thread;
    UINT m_nextId = 0;
    UINT m_running = 0;
};

} // namespace

MMRESULT timeGetDevCaps(TIMECAPS* ptc, UINT cbtc)
{
    if (!ptc || cbtc < sizeof(TIMECAPS))
        return MMSYSERR_INVALPARAM;
    ptc->wPeriodMin = 1;
    ptc->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT)
{
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT)
{
    return TIMERR_NOERROR;
}

MMRESULT timeSetEvent(UINT uDelay, UINT, LPTIMECALLBACK fptc, DWORD_PTR dwUser, UINT fuEvent)
{
    if (!fptc || uDelay == 0)
        return 0;
    MmTimer t;
    t.period = uDelay;
    t.periodic = (fuEvent & TIME_PERIODIC) != 0;
    t.callback = fptc;
    t.user = dwUser;
    t.due = Clock::now() + std::chrono::milliseconds(uDelay);
    return TimerThread::Instance().Add(t);
}

MMRESULT timeKillEvent(UINT uTimerID)
{
    return TimerThread::Instance().Kill(uTimerID) ? TIMERR_NOERROR : MMSYSERR_INVALPARAM;
}
