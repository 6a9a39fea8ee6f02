// Win32 synchronisation calls on the standard library: critical sections,
// Sleep, thread ids and interlocked operations.
#pragma once

#include "platform/types.h"

#include <mutex>

// Re-entrant, like the Win32 one. Not copyable.
struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

// The mutex is ready from construction; these keep the system's calls.
void InitializeCriticalSection(CRITICAL_SECTION* cs);
BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* cs, DWORD spinCount);
void DeleteCriticalSection(CRITICAL_SECTION* cs);

void EnterCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);

void Sleep(DWORD ms);

// A small number, unique in the process and stable for the thread's life; never 0.
DWORD GetCurrentThreadId();

// Atomic on the variable itself (sequentially consistent); each returns what
// Win32 does: Exchange and CompareExchange the old value, Increment and
// Decrement the new one, ExchangeAdd the old one.
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value);

namespace qelm {

// Holds a critical section for a scope.
class CsLock {
public:
    explicit CsLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    explicit CsLock(CRITICAL_SECTION* cs) : CsLock(*cs) {}
    ~CsLock() { LeaveCriticalSection(&m_cs); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

} // namespace qelm
