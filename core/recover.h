// Config/Recover.xml: the panes each user had open, reopened at the next start.
#pragma once

#include "core/devinfo.h" // TextSize

#include <cstdint>
#include <list>

// One pane to reopen.
struct SurStauts {
    char DevId[TextSize(256)];
    char DevName[TextSize(256)];
    std::int32_t WndNo;      // pane index in its grid, from 0
    std::int32_t MonitorNum; // monitor whose grid holds the pane
    std::int32_t DispMode;   // the grid's layout (pane count)
};

// The logged-in user's entries, in the order they were added.
extern std::list<SurStauts> g_lstSurStatus;

// Appends the entries of g_szUserName; writes the template when the file
// cannot be loaded (a damaged file is kept aside first).
void LoadRecoverInfo();
// Replaces the logged-in user's entries in the file with g_lstSurStatus and
// keeps every other user's; nothing when the file cannot be loaded.
void SaveRecoverInfo();

extern const char kRecoverTemplate[];
