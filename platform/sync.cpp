// Win32 synchronisation calls on the standard library (see sync.h).
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <thread>

void InitializeCriticalSection(CRITICAL_SECTION*) {}

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION*, DWORD)
{
    return TRUE;
}

void DeleteCriticalSection(CRITICAL_SECTION*) {}

void EnterCriticalSection(CRITICAL_SECTION* cs)
{
    cs->mutex.lock();
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs)
{
    return cs->mutex.try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* cs)
{
    cs->mutex.unlock();
}

void Sleep(DWORD ms)
{
    if (ms == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DWORD GetCurrentThreadId()
{
    static std::atomic<DWORD> next{0};
    thread_local DWORD id = 0;
    while (id == 0)
        id = ++next; // 0 only after wrapping round
    return id;
}

// The GCC builtins take volatile pointers as they are.
LONG InterlockedExchange(volatile LONG* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

LONG InterlockedIncrement(volatile LONG* target)
{
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* target)
{
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchangeAdd(volatile LONG* target, LONG value)
{
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
