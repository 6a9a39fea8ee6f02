// Time sources. timeGetTime/GetTickCount are 32-bit milliseconds of the
// steady clock; tests can move both them and the wall clock forward, so that
// time-outs, day changes and retention rules run without waiting.
#pragma once

#include "platform/types.h"

#include <chrono>
#include <ctime>

DWORD timeGetTime();
DWORD GetTickCount();

namespace qelm {

// Milliseconds of the steady clock plus the test offset.
std::int64_t SteadyMs();

// time(nullptr) plus the test offset; the wall clock the system's rules read.
std::time_t WallNow();
// WallNow() broken down in local time.
std::tm LocalNow();

// Test hooks: shift the steady clock and the wall clock by a further amount.
void AdvanceTestClock(std::chrono::milliseconds steady, std::chrono::seconds wall = std::chrono::seconds(0));
void ResetTestClock();

} // namespace qelm
