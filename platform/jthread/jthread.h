// The JThread library's thread class, on std::thread: the system's worker
// threads derive from it and implement Thread().
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#define ERR_JTHREAD_CANTINITMUTEX -1
#define ERR_JTHREAD_CANTSTARTTHREAD -2
#define ERR_JTHREAD_THREADFUNCNOTSET -3
#define ERR_JTHREAD_NOTRUNNING -4
#define ERR_JTHREAD_ALREADYRUNNING -5

// Kill() does not end a thread by force: it asks the body to stop
// (IsStopRequested) and waits for it to return.
//
// ~JThread stops and joins a thread still running, but by then the derived
// object is already gone while its Thread() may still use it: a derived class
// whose thread can outlive it must call Kill() in its own destructor.
class JThread {
public:
    JThread();
    virtual ~JThread();
    JThread(const JThread&) = delete;
    JThread& operator=(const JThread&) = delete;

    // Starts Thread() and returns once it has called ThreadStarted() (or has
    // returned). 0, or ERR_JTHREAD_ALREADYRUNNING / ERR_JTHREAD_CANTSTARTTHREAD.
    int Start();
    // Requests a stop and waits for Thread() to return. 0, or
    // ERR_JTHREAD_NOTRUNNING. Called from the thread itself it only requests.
    int Kill();
    // True from Start() until Thread() returns.
    bool IsRunning();
    // What Thread() returned; null while it runs.
    void* GetReturnValue();
    bool IsStopRequested() const { return m_stop.load(); }

    virtual void* Thread() = 0;

protected:
    // The body calls this once it is set up; Start() waits for it.
    void ThreadStarted();

private:
    void Run();

    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_cv;
    bool m_running = false;
    bool m_started = false;
    void* m_retval = nullptr;
    std::thread::id m_threadId;
    std::atomic<bool> m_stop{false};

    std::mutex m_joinMutex; // guards m_thread; taken before m_mutex
    std::thread m_thread;
};
