// The JThread library's mutex (see jmutex.h).
#include "platform/jthread/jmutex.h"

int JMutex::Init()
{
    if (m_initialized)
        return ERR_JMUTEX_ALREADYINIT;
    m_initialized = true;
    return 0;
}

int JMutex::Lock()
{
    if (!m_initialized)
        return ERR_JMUTEX_NOTINIT;
    m_mutex.lock();
    return 0;
}

int JMutex::Unlock()
{
    if (!m_initialized)
        return ERR_JMUTEX_NOTINIT;
    m_mutex.unlock();
    return 0;
}
