#include "media/periodic_thread.h"

#include "core/log.h"

#include <chrono>
#include <ctime>
#include <thread>

CPeriodicThread::CPeriodicThread(int periodMs, const char* startLog, const char* busyLog, const char* exitLog)
    : m_periodMs(periodMs), m_startLog(startLog), m_busyLog(busyLog), m_exitLog(exitLog)
{
}

int CPeriodicThread::Start()
{
    if (IsRunning())
        return -1;
    m_bQuit = false;
    if (JThread::Start() != 0)
        return -1;
    WriteLog(6, "%s", m_startLog);
    return 0;
}

void CPeriodicThread::Stop()
{
    if (!IsRunning())
        return;
    {
        std::lock_guard<std::mutex> g(m_waitLock);
        m_bQuit = true;
    }
    m_waitCv.notify_all();
    const std::time_t start = std::time(nullptr);
    while (IsRunning() && std::time(nullptr) - start < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (IsRunning())
        WriteLog(2, "%s", m_busyLog);
    Kill();
}

void* CPeriodicThread::Thread()
{
    ThreadStarted();
    while (!m_bQuit) {
        RunCycle();
        std::unique_lock<std::mutex> g(m_waitLock);
        m_waitCv.wait_for(g, std::chrono::milliseconds(m_periodMs), [this] { return m_bQuit.load(); });
    }
    if (m_exitLog)
        WriteLog(6, "%s", m_exitLog);
    return nullptr;
}
