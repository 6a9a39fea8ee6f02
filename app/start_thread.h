// Worker that starts the watchdog beside the program (when it is not running)
// and tells its owner window when done.
#pragma once

#include "core/thread.h"
#include "mainwnd/main_hooks.h" // WM_START_THREAD_DONE
#include "platform/types.h"

// The watchdog's program file name.
inline constexpr const char kWatchName[] = "Watch";

class CStartThread : public CThread {
public:
    explicit CStartThread(HWND hOwner) : m_hOwner(hOwner) {}
    ~CStartThread() override { Join(); }

protected:
    int Run() override;

private:
    HWND m_hOwner;
};

// Starts path hidden and detached, no arguments; 0 or the system error code.
int StartProgramHidden(const char* path);
