// CThread: base of the long-running worker objects. A subclass overrides
// Run(); the owner calls Start(), later Join(), then deletes the object.
#pragma once

#include "platform/types.h"

#include <atomic>
#include <memory>

constexpr DWORD STILL_ACTIVE = 259;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

class CThread {
public:
    CThread();
    // Joins a thread still running (detaches it when called from that thread
    // itself), so the thread never outlives the object's storage. A subclass
    // whose Run() uses its own members must stop and Join() in its own
    // destructor: by the time this one runs, those members are gone.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Creates the thread once; true when a thread is held afterwards (also
    // when one was held already).
    virtual bool Start();
    // Threads cannot be suspended here: both do nothing and return
    // 0xFFFFFFFF, the failure value of the system call.
    virtual DWORD Suspend();
    virtual DWORD Resume();
    // THREAD_PRIORITY_* mapped to the thread's nice value (raising it needs
    // privilege); false without a thread, for an unknown value or when refused.
    virtual bool SetPriority(int priority);
    // STILL_ACTIVE while Run() runs, then its result; false without a thread.
    virtual bool GetExitCode(DWORD* exitCode);
    // Takes the thread atomically and waits for it without limit; the object
    // can be started again afterwards. Returns at once without a thread.
    // Called from the thread itself, it lets the thread go (detaches) instead.
    virtual void Join();
    // The thread body; the base body returns 0.
    virtual int Run();

private:
    struct Handle;
    static void Entry(CThread* self, std::shared_ptr<Handle> h);
    std::atomic<std::shared_ptr<Handle>> m_hThread;
};
