// The JThread library's mutex, on std::mutex (not re-entrant).
#pragma once

#include <mutex>

#define ERR_JMUTEX_ALREADYINIT -1
#define ERR_JMUTEX_NOTINIT -2

class JMutex {
public:
    JMutex() = default;
    JMutex(const JMutex&) = delete;
    JMutex& operator=(const JMutex&) = delete;

    // 0, or ERR_JMUTEX_ALREADYINIT.
    int Init();
    // 0, or ERR_JMUTEX_NOTINIT. Unlock only from the thread that locked.
    int Lock();
    int Unlock();
    // True when the mutex was free and is now held (never waits).
    bool TryLock() { return m_initialized && m_mutex.try_lock(); }
    bool IsInitialized() const { return m_initialized; }

private:
    std::mutex m_mutex;
    bool m_initialized = false;
};
