#include "platform/find_window.h"

#include "platform/wnd.h"

#include <QApplication>
#include <QWidget>


HWND FindWindowA(const char* /*cls*/, const char* caption)
{
    if (!qApp)
        return nullptr;
    const QString want = caption ? QString::fromUtf8(caption) : QString();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* wnd = dynamic_cast<CWnd*>(top);
        if (!wnd || !wnd->m_hWnd)
            continue;
        if (caption && top->windowTitle() != want)
            continue;
        return wnd->m_hWnd;
    }
    return nullptr;
}
