// Screens (the monitors a video manager can be put on), system metrics, and
// dialog units.
#pragma once

#include "platform/geometry.h"

#include <string>
#include <vector>

struct MonitorRect {
    CRect rcMonitor;
    CRect rcWork;
    bool primary = false;
    std::string name;
};

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVIRTUALSCREEN = 78;
constexpr int SM_CYVIRTUALSCREEN = 79;
constexpr int SM_CMONITORS = 80;

int GetSystemMetrics(int nIndex);

namespace qelm {

// The primary screen first, then the others in the order Qt reports them.
std::vector<MonitorRect> Monitors();

// The part of the primary screen a maximised window may cover (the screen
// less the panels of the desktop); 1024 x 768 at (0, 0) without a screen.
CRect PrimaryWorkArea();

// Dialog units of the dialog font to pixels (4 horizontal units are one
// average character width, 8 vertical units one character height).
CRect DialogUnitsToPixels(const CRect& dlu);

} // namespace qelm
