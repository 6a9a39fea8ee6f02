// Holds a JMutex for a scope.
#pragma once

#include "platform/jthread/jmutex.h"

class JMutexAutoLock {
public:
    explicit JMutexAutoLock(JMutex& m) : m_mutex(m) { m_mutex.Lock(); }
    ~JMutexAutoLock() { m_mutex.Unlock(); }
    JMutexAutoLock(const JMutexAutoLock&) = delete;
    JMutexAutoLock& operator=(const JMutexAutoLock&) = delete;

private:
    JMutex& m_mutex;
};
