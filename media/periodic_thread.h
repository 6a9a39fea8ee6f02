// A JThread that runs one cycle every period until it is asked to stop.
#pragma once

#include "platform/jthread/jthread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

class CPeriodicThread : public JThread {
public:
    // -1 when it runs already or cannot start, else 0.
    int Start();
    // Asks the thread to end after its cycle and waits for it: a cycle never
    // holds g_csDevList while it is slow, so the wait is safe and nothing is
    // killed half-way.
    void Stop();

    void* Thread() override;

protected:
    // The log lines are the owner's: on start, when a cycle is still busy
    // after 5 s, and on exit (nullptr: none).
    CPeriodicThread(int periodMs, const char* startLog, const char* busyLog, const char* exitLog);

    virtual void RunCycle() = 0;
    bool Quitting() const { return m_bQuit; }

private:
    const int m_periodMs;
    const char* const m_startLog;
    const char* const m_busyLog;
    const char* const m_exitLog;
    std::atomic<bool> m_bQuit{false};
    std::mutex m_waitLock;
    std::condition_variable m_waitCv;
};
