// CThread on std::thread (see thread.h).
#include "core/thread.h"

#include "core/crash_report.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>
#include <thread>

struct CThread::Handle {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<int> exitCode{0};
    std::atomic<pid_t> tid{0};
    std::atomic<bool> ready{false}; // Start() has stored the thread object
};

CThread::CThread() = default;

CThread::~CThread()
{
    Join();
}

void CThread::Entry(CThread* self, std::shared_ptr<Handle> h)
{
    h->tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
    h->tid.notify_all();
    h->ready.wait(false);
    CExceptionReport::PrepareThread();
    int rc = self->Run(); // self may be gone after this (a body may delete its object)
    h->exitCode.store(rc);
    h->finished.store(true);
}

bool CThread::Start()
{
    if (m_hThread.load())
        return true;
    auto h = std::make_shared<Handle>();
    m_hThread.store(h);
    try {
        h->thread = std::thread(&CThread::Entry, this, h);
    } catch (const std::system_error&) {
        m_hThread.store(nullptr);
        return false;
    }
    h->ready.store(true);
    h->ready.notify_all();
    h->tid.wait(0); // the id is known before anyone can ask for the priority
    return true;
}

DWORD CThread::Suspend()
{
    return 0xFFFFFFFFu;
}

DWORD CThread::Resume()
{
    return 0xFFFFFFFFu;
}

bool CThread::SetPriority(int priority)
{
    std::shared_ptr<Handle> h = m_hThread.load();
    if (!h || h->finished.load())
        return false;
    int nice;
    switch (priority) {
    case THREAD_PRIORITY_IDLE: nice = 19; break;
    case THREAD_PRIORITY_LOWEST: nice = 10; break;
    case THREAD_PRIORITY_BELOW_NORMAL: nice = 5; break;
    case THREAD_PRIORITY_NORMAL: nice = 0; break;
    case THREAD_PRIORITY_ABOVE_NORMAL: nice = -5; break;
    case THREAD_PRIORITY_HIGHEST: nice = -10; break;
    case THREAD_PRIORITY_TIME_CRITICAL: nice = -20; break;
    default: return false;
    }
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(h->tid.load()), nice) == 0;
}

bool CThread::GetExitCode(DWORD* exitCode)
{
    std::shared_ptr<Handle> h = m_hThread.load();
    if (!h || !exitCode)
        return false;
    *exitCode = h->finished.load() ? static_cast<DWORD>(h->exitCode.load()) : STILL_ACTIVE;
    return true;
}

void CThread::Join()
{
    std::shared_ptr<Handle> h = m_hThread.exchange(nullptr);
    if (!h || !h->thread.joinable())
        return;
    if (h->thread.get_id() == std::this_thread::get_id())
        h->thread.detach(); // the handle lives on with the thread's own reference
    else
        h->thread.join();
}

int CThread::Run()
{
    return 0;
}
