// FindWindowA over this program's own top-level windows: the only windows a
// process can see here.
#pragma once

#include "platform/types.h"

// The first top-level window (shown or hidden) whose caption is caption
// (UTF-8; null matches any); null when none. There are no window classes
// here, so cls is not compared. UI thread.
HWND FindWindowA(const char* cls, const char* caption);
