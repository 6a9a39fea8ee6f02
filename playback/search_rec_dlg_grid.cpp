// The record search page's player grid: pane counts, selection and its
// frame, mouse modes, keys and full screen.
#include "playback/search_rec_dlg.h"

#include "core/app_init.h"
#include "mainwnd/ipc_client_dlg.h"
#include "platform/message.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace {

// Stands in for the UI thread's keyboard hook while the page is in full
// screen: every Esc key event, down or up, posts an Esc key-up to the page,
// and the event goes on as before.
class FullScreenKeyFilter : public QObject {
public:
    explicit FullScreenKeyFilter(HWND page) : m_page(page) {}

protected:
    bool eventFilter(QObject*, QEvent* ev) override
    {
        if (ev->type() != QEvent::KeyPress && ev->type() != QEvent::KeyRelease)
            return false;
        auto* key = static_cast<QKeyEvent*>(ev);
        if (key->key() != Qt::Key_Escape)
            return false;
        // Qt offers an unaccepted key event to each parent in turn; the hook
        // saw it once.
        if (ev == m_last && key->timestamp() == m_lastStamp && ev->type() == m_lastType)
            return false;
        m_last = ev;
        m_lastStamp = key->timestamp();
        m_lastType = ev->type();
        ::PostMessage(m_page, WM_KEYUP, VK_ESCAPE, 0);
        return false;
    }

private:
    HWND m_page;
    const QEvent* m_last = nullptr;
    quint64 m_lastStamp = 0;
    QEvent::Type m_lastType = QEvent::None;
};

FullScreenKeyFilter* g_hKeyboardHook = nullptr;

void InstallKeyboardHook(HWND page)
{
    if (g_hKeyboardHook || !qApp)
        return;
    g_hKeyboardHook = new FullScreenKeyFilter(page);
    qApp->installEventFilter(g_hKeyboardHook);
}

void DropKeyboardHook()
{
    if (!g_hKeyboardHook)
        return;
    if (qApp)
        qApp->removeEventFilter(g_hKeyboardHook);
    // It may be the filter that is running now.
    g_hKeyboardHook->deleteLater();
    g_hKeyboardHook = nullptr;
}

bool MainWindowMaximized()
{
    return g_pMainDlg && g_pMainDlg->IsMaximized();
}

} // namespace

bool CSearchRecDlg::IsKeyboardHookInstalled() const
{
    return g_hKeyboardHook != nullptr;
}

void CSearchRecDlg::RemoveKeyboardHook()
{
    DropKeyboardHook();
}

// ---------------------------------------------------------------------------
// Pane count, selection, mouse modes

void CSearchRecDlg::SetPlayerLayout(int nPanes)
{
    if (nPanes == m_nPlayerCount)
        return;
    m_nPlayerCount = nPanes;
    if (m_nSelPlayer >= nPanes)
        m_nSelPlayer = 0;
    DrawPlayerFrame(m_nFramePlayer, FALSE);
    LayoutControls();
    DrawPlayerFrame(m_nSelPlayer, TRUE);
}

void CSearchRecDlg::SetMouseMode(int nMode)
{
    m_nMouseMode = nMode;
    for (CPlayBackAtl* p : m_pPlayer) {
        if (!p)
            continue;
        p->SetMouseMode(nMode);
        if (nMode >= 0 && nMode < 4)
            p->setCursor(m_hCursor[nMode]);
    }
}

void CSearchRecDlg::DrawPlayerFrame(int nPlayer, BOOL bSelected)
{
    if (nPlayer < 0 || nPlayer >= kSlots || !m_pPlayer[nPlayer])
        return;
    // A player shown full screen by its control is not in the page.
    if (m_pPlayer[nPlayer]->parentWidget() != this)
        return;
    if (bSelected) {
        m_nFramePlayer = nPlayer;
        m_pPlayer[nPlayer]->EnableStreamInput(-1);
    } else if (m_nFramePlayer == nPlayer) {
        m_nFramePlayer = -1;
    }
    update();
}

// The frame: two pixels round the player, in red; the page's grey where a
// frame was taken away is simply the background painted again.
void CSearchRecDlg::PaintPlayerFrame(QPainter& dc)
{
    const int i = m_nFramePlayer;
    if (i < 0 || i >= kSlots || !m_pPlayer[i] || m_pPlayer[i]->isHidden() || m_pPlayer[i]->parentWidget() != this)
        return;
    const QRect r = m_pPlayer[i]->geometry().adjusted(-2, -2, 2, 2);
    const QColor red(255, 0, 0);
    dc.fillRect(QRect(r.left(), r.top(), r.width(), 2), red);
    dc.fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 2), red);
    dc.fillRect(QRect(r.left(), r.top(), 2, r.height()), red);
    dc.fillRect(QRect(r.right() - 1, r.top(), 2, r.height()), red);
}

void CSearchRecDlg::OnPlayBackMouse(int32_t ctrlId, int32_t message, int32_t, int32_t)
{
    const int p = ctrlId - int(kFirstPlayerId);
    CPlayBackAtl* player = GetPlayer(p);
    if (!player || player->GetMouseCapture() != 0)
        return;
    if (message == int32_t(WM_LBUTTONUP)) {
        DrawPlayerFrame(m_nSelPlayer, FALSE);
        m_nSelPlayer = p;
        DrawPlayerFrame(p, TRUE);
    } else if (message == int32_t(WM_LBUTTONDBLCLK) && p == 0 && m_bPlayerFullScreen && m_bFullScreen &&
               player->IsPlaying()) {
        SwitchFullScreen();
        LayoutControls();
    }
}

// ---------------------------------------------------------------------------
// Keys

BOOL CSearchRecDlg::PreTranslateMessage(MSG* pMsg)
{
    // A child page never closes itself on Enter, Esc or Alt+F4.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    if (pMsg->wParam == VK_F4 && ((pMsg->lParam & (LPARAM(1) << 29)) ||
                                  (QGuiApplication::keyboardModifiers() & Qt::AltModifier)))
        return TRUE;
    if (pMsg->message == WM_MOUSEMOVE && m_nMouseMode != 0) {
        // The zoom and move tools take the wheel and keys of the player under the mouse.
        for (CWnd* w = CWnd::FromHandle(pMsg->hwnd); w; w = w->GetParent())
            for (CPlayBackAtl* p : m_pPlayer)
                if (p && w == p) {
                    p->SetFocus();
                    return CDialog::PreTranslateMessage(pMsg);
                }
    }
    if (pMsg->message == WM_KEYUP && pMsg->wParam == VK_ESCAPE && m_bFullScreen) {
        SwitchFullScreen();
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

// ---------------------------------------------------------------------------
// Full screen

void CSearchRecDlg::SwitchFullScreen()
{
    CPlayBackAtl* first = m_pPlayer[0];
    if (!m_bFullScreen) {
        m_bFullScreen = 1;
        // One pane showing a playing player 0: the control's own full screen.
        if (first && first->IsPlaying() && m_nPlayerCount == 1) {
            first->SetFullScreen(1);
            m_bPlayerFullScreen = 1;
            return;
        }
        CRect rc;
        if (m_nMonitor == 0) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            const QRect s = screen ? screen->geometry() : QRect(0, 0, g_nScreenWidth, g_nScreenHeight);
            rc = CRect(s.left(), s.top(), s.left() + s.width(), s.top() + s.height());
        } else {
            GetClientRect(&rc);
            ClientToScreen(&rc);
        }
        m_rcPage = rc;
        m_wpOld = CRect(x(), y(), x() + width(), y() + height());
        m_hOldParent = parentWidget();
        // Out of its parent, on top of everything.
        setParent(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setGeometry(rc.left, rc.top, rc.Width(), rc.Height());
        show();
        raise();
        LayoutControls();
        InstallKeyboardHook(GetSafeHwnd());
        update();
        return;
    }

    m_bFullScreen = 0;
    if (m_bPlayerFullScreen) {
        m_bPlayerFullScreen = 0;
        if (first)
            first->SetFullScreen(0);
        return;
    }
    m_rcPage = m_rcHome;
    if (m_hOldParent)
        setParent(m_hOldParent, Qt::Widget);
    m_hOldParent = nullptr;
    setGeometry(m_wpOld.left, m_wpOld.top, m_wpOld.Width(), m_wpOld.Height());
    show();
    DropKeyboardHook();
    LayoutControls();
    update();
    // Back in the main window: its restored size decides the page's.
    if (m_nMonitor == 0 && !MainWindowMaximized())
        ResizePage(FALSE);
}
