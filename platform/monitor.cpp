#include "platform/monitor.h"

#include <QGuiApplication>
#include <QScreen>

namespace {
// Base units of the dialog font at 96 dpi.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
} // namespace

namespace qelm {

std::vector<MonitorRect> Monitors()
{
    std::vector<MonitorRect> out;
    if (!QGuiApplication::instance())
        return out;
    QScreen* primary = QGuiApplication::primaryScreen();
    auto add = [&](QScreen* s) {
        MonitorRect m;
        m.rcMonitor = CRect(s->geometry());
        m.rcWork = CRect(s->availableGeometry());
        m.primary = s == primary;
        m.name = s->name().toStdString();
        out.push_back(m);
    };
    if (primary)
        add(primary);
    for (QScreen* s : QGuiApplication::screens())
        if (s != primary)
            add(s);
    return out;
}

CRect PrimaryWorkArea()
{
    const auto monitors = Monitors();
    if (monitors.empty() || monitors.front().rcWork.IsRectEmpty())
        return CRect(0, 0, 1024, 768);
    return monitors.front().rcWork;
}

CRect DialogUnitsToPixels(const CRect& dlu)
{
    return CRect(dlu.left * kBaseUnitX / 4, dlu.top * kBaseUnitY / 8, dlu.right * kBaseUnitX / 4,
                 dlu.bottom * kBaseUnitY / 8);
}

} // namespace qelm

int GetSystemMetrics(int nIndex)
{
    const auto monitors = qelm::Monitors();
    if (monitors.empty())
        return 0;
    switch (nIndex) {
    case SM_CXSCREEN: return monitors.front().rcMonitor.Width();
    case SM_CYSCREEN: return monitors.front().rcMonitor.Height();
    case SM_CMONITORS: return static_cast<int>(monitors.size());
    case SM_CXVIRTUALSCREEN:
    case SM_CYVIRTUALSCREEN: {
        QRect all;
        for (const auto& m : monitors)
            all = all.united(m.rcMonitor.ToQ());
        return nIndex == SM_CXVIRTUALSCREEN ? all.width() : all.height();
    }
    default: return 0;
    }
}
