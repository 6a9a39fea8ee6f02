// The JThread thread class on std::thread (see jthread.h).
#include "platform/jthread/jthread.h"

#include <system_error>

JThread::JThread() = default;

JThread::~JThread()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            m_stop = true;
    }
    std::lock_guard<std::mutex> join(m_joinMutex);
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach(); // the body deleted its own object
    else
        m_thread.join();
}

int JThread::Start()
{
    std::lock_guard<std::mutex> join(m_joinMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            return ERR_JTHREAD_ALREADYRUNNING;
    }
    // A previous run has returned from Thread(); collect its thread.
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
        m_started = false;
        m_retval = nullptr;
        m_stop = false;
    }
    try {
        m_thread = std::thread(&JThread::Run, this);
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        return ERR_JTHREAD_CANTSTARTTHREAD;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_started || !m_running; });
    return 0;
}

void JThread::Run()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threadId = std::this_thread::get_id();
    }
    void* result = Thread();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_retval = result;
    m_running = false;
    m_threadId = std::thread::id();
    m_cv.notify_all();
}

void JThread::ThreadStarted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_started = true;
    m_cv.notify_all();
}

int JThread::Kill()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running)
            return ERR_JTHREAD_NOTRUNNING;
        if (m_threadId == std::this_thread::get_id()) {
            m_stop = true;
            return 0; // cannot wait for itself
        }
    }
    // Holding the join mutex keeps a concurrent Start() from swapping in a new
    // run between the stop request and the join.
    std::lock_guard<std::mutex> join(m_joinMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            m_stop = true;
    }
    if (m_thread.joinable())
        m_thread.join();
    return 0;
}

bool JThread::IsRunning()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

void* JThread::GetReturnValue()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running ? nullptr : m_retval;
}
