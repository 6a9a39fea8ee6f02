// Periodic and one-shot multimedia timers: callbacks run on one timer thread
// paced by the steady clock. timeKillEvent returns only when the callback can
// no longer run (unless called from that very callback).
#pragma once

#include "platform/types.h"

using MMRESULT = UINT;
using LPTIMECALLBACK = void (*)(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1, DWORD_PTR dw2);

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};

MMRESULT timeGetDevCaps(TIMECAPS* ptc, UINT cbtc);
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);

// Returns the timer id (never 0), or 0 when the arguments are invalid.
MMRESULT timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK fptc, DWORD_PTR dwUser, UINT fuEvent);
MMRESULT timeKillEvent(UINT uTimerID);
