// CVideoManagerDlg: panes, layouts, selection, zoom, full screen and keys.
#include "liveview/video_manager_dlg.h"

#include "core/app_init.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "liveview/live_view_host.h"
#include "liveview/pane_sink_targets.h"
#include "liveview/video_wnd_coord.h"
#include "platform/message.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QThread>
#include <QWindow>

BEGIN_MESSAGE_MAP(CVideoManagerDlg, CDialog)
    ON_MESSAGE(WM_GRID_PTZ_CMD, &CVideoManagerDlg::OnGridPtzCmd)
END_MESSAGE_MAP()

CVideoManagerDlg::CVideoManagerDlg(int left, int top, int right, int bottom, CWnd* pParent, int popup)
    : CDialog(IDD, pParent), m_rcNormal(left, top, right, bottom), m_rcCurrent(left, top, right, bottom),
      m_bPopup(popup), m_pParent(pParent)
{
    SetChildStyle(popup == 0 && pParent != nullptr);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    setPalette(pal);
}

CVideoManagerDlg::~CVideoManagerDlg()
{
    for (CVideoWnd*& pane : m_pVideoWnd) {
        if (!pane)
            continue;
        pane->StopWatch(1);
        delete pane;
        pane = nullptr;
    }
    if (m_pMsgDlg) {
        m_pMsgDlg->DestroyWindow();
        delete m_pMsgDlg;
        m_pMsgDlg = nullptr;
    }
}

BOOL CVideoManagerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    RegisterLiveViewSinkTargets();
    if (m_bPopup)
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg();
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    MoveWindow(m_rcCurrent, TRUE);
    for (int i = 0; i < kPaneCount; ++i) {
        if (m_pVideoWnd[i])
            continue;
        auto* pane = new CVideoWnd(this, 0, 0);
        pane->Create(CVideoWnd::IDD, this);
        pane->SetWndIndex(i);
        pane->ShowWindow(SW_HIDE);
        m_pVideoWnd[i] = pane;
    }
    SetDisplayMode(g_DispInfoSetting.DefDisplayMode, 0, 0);
    m_bInitialised = 1;
    return TRUE;
}

CVideoWnd* CVideoManagerDlg::GetPane(int index) const
{
    return index >= 0 && index < kPaneCount ? m_pVideoWnd[index] : nullptr;
}

void CVideoManagerDlg::SetDisplayMode(int mode, int full, int force)
{
    WriteLog(6, "CVideoManagerDlg: display mode. mode=%d", mode);
    if (CVideoWndCoord::IsLayout(mode))
        ApplyLayout(mode, full, force);
    m_nDisplayMode = mode;
}

void CVideoManagerDlg::ApplyLayout(int n, int full, int force)
{
    if (m_nDisplayMode == n && !m_bLayoutInProgress && !m_bZoomed && !force)
        return;
    m_bFullScreen = full ? 1 : 0;
    if (CVideoWnd* sel = GetPane(m_nSelected))
        sel->SetSelected(0);
    CRect rc;
    GetClientRect(&rc);
    const CVideoWndCoord coord(rc.left, rc.top, rc.right, rc.bottom, static_cast<uint32_t>(n));
    if (n == 13 || n == 16)
        for (CVideoWnd* pane : m_pVideoWnd)
            if (pane)
                pane->ShowWindow(SW_HIDE);
    for (int i = 0; i < kPaneCount; ++i) {
        CVideoWnd* pane = m_pVideoWnd[i];
        if (!pane)
            continue;
        CVideoWndCoord::Cell c{};
        if (i < n && coord.GetCell(i, &c)) {
            pane->m_bInLayout = 1;
            pane->MoveVideoWnd(c.x, c.y, c.w, c.h);
            // Layout 1 shows only the selected pane, wherever it is.
            if (n != 1)
                pane->ShowWindow(SW_SHOW);
        } else {
            pane->m_bInLayout = 0;
            pane->ShowWindow(SW_HIDE);
        }
        if (n != 1 && m_nSelected > n - 1)
            m_nSelected = 0;
    }
    if (n == 1) {
        // The one pane shown is the selected one, in the only cell.
        CVideoWndCoord::Cell c{};
        coord.GetCell(0, &c);
        for (int i = 0; i < kPaneCount; ++i)
            if (m_pVideoWnd[i] && i != m_nSelected) {
                m_pVideoWnd[i]->m_bInLayout = 0;
                m_pVideoWnd[i]->ShowWindow(SW_HIDE);
            }
        if (CVideoWnd* sel = GetPane(m_nSelected)) {
            sel->m_bInLayout = 1;
            sel->MoveVideoWnd(c.x, c.y, c.w, c.h);
            sel->ShowWindow(SW_SHOW);
        }
    }
    if (CVideoWnd* sel = GetPane(m_nSelected))
        sel->SetSelected(1);
    m_nShownCount = n;
    m_bZoomed = 0;
    m_bDblClkLeavesFull = n == 1 ? 1 : 0;
}

void CVideoManagerDlg::SelectWnd(int index)
{
    if (index < 0 || index >= kPaneCount)
        return;
    if (index != m_nSelected && m_bSoundOn) {
        OnSound();
        WriteLog(6, "Change the video sound. close=%d, open=%d", m_nSelected, index);
    }
    if (CVideoWnd* old = GetPane(m_nSelected))
        old->SetSelected(0);
    m_nSelected = index;
    if (CVideoWnd* pane = GetPane(index))
        pane->SetSelected(1);
    LiveViewHost()->SetActiveVideoMgr(this);
}

void CVideoManagerDlg::OnWndMouseMsg(MSG* pMsg, int index)
{
    if (!pMsg || index < 0 || index >= kPaneCount)
        return;
    CVideoWnd* pane = m_pVideoWnd[index];
    if (!pane)
        return;
    switch (pMsg->message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: {
        if (CVideoWnd* sel = GetPane(m_nSelected))
            sel->SetSelected(0);
        if (index != m_nSelected && m_bSoundOn) {
            const int old = m_nSelected;
            OnSound();
            m_nSelected = index;
            LiveViewHost()->SetActiveVideoMgr(this);
            OnSound();
            WriteLog(6, "Change the video sound. close=%d, open=%d", old, index);
        }
        m_nSelected = index;
        LiveViewHost()->SetActiveVideoMgr(this);
        ILiveViewHost* host = LiveViewHost();
        host->SetTalkButtonImage(pane->IsTalkOn() ? kImgTalkOn : kImgTalkOff);
        if (pane->IsManualRecord())
            host->SetRecordButton(kImgRecordOn, kStrRecordStop);
        else
            host->SetRecordButton(kImgRecordOff, kStrRecordStart);
        host->SetPatrolButtonImage(IsPatrolActive(index) ? kImgPatrolOn : kImgPatrolOff);
        pane->SetSelected(1);
        if (pane->IsWatching())
            host->SelectDevTreeDevice(&pane->DevCopy());
        else if (pane->IsRelayOn())
            host->SelectDevTreeVssChannel(&pane->RelayCopy());
        pane->setFocus();
        break;
    }
    case WM_LBUTTONDBLCLK:
        if (m_bFullScreen) {
            if (m_bDblClkLeavesFull) {
                m_bDblClkLeavesFull = 0;
                SwitchFullScreen();
            } else if (m_bZoomInFullScreen) {
                RestoreZoomWnd();
            } else {
                ZoomWnd(index);
            }
        } else if (m_nShownCount == 1 && !m_bZoomed) {
            SwitchFullScreen();
            m_bDblClkLeavesFull = 1;
        } else if (!m_bZoomed) {
            m_bZoomed = 1;
            ShowPaneAlone(index);
        } else {
            ShowLayoutAgain(m_bZoomed);
        }
        break;
    default:
        break;
    }
}

void CVideoManagerDlg::ZoomWnd(int index)
{
    if (!GetPane(index))
        return;
    m_bZoomInFullScreen = 1;
    ShowPaneAlone(index);
}

// Selects the pane and shows it alone over the whole grid; its place is kept
// in m_rcZoom for the way back.
void CVideoManagerDlg::ShowPaneAlone(int index)
{
    CVideoWnd* pane = GetPane(index);
    if (CVideoWnd* sel = GetPane(m_nSelected))
        sel->SetSelected(0);
    m_nSelected = index;
    LiveViewHost()->SetActiveVideoMgr(this);
    for (CVideoWnd* p : m_pVideoWnd)
        if (p)
            p->ShowWindow(SW_HIDE);
    pane->GetWndPos(&m_rcZoom);
    CRect rc;
    GetClientRect(&rc);
    CVideoWndCoord::Cell c{};
    CVideoWndCoord(rc.left, rc.top, rc.right, rc.bottom, 1).GetCell(0, &c);
    pane->MoveVideoWnd(c.x, c.y, c.w, c.h);
    pane->ShowWindow(SW_SHOW);
    pane->SetSelected(1);
    m_nShownCount = 1;
}

void CVideoManagerDlg::RestoreZoomWnd()
{
    ShowLayoutAgain(m_bZoomInFullScreen);
}

// Undoes ShowPaneAlone when zoomed is set (and clears it), then shows the
// layout's panes again with the selection.
void CVideoManagerDlg::ShowLayoutAgain(int& zoomed)
{
    if (zoomed) {
        zoomed = 0;
        if (CVideoWnd* sel = GetPane(m_nSelected)) {
            sel->SetSelected(0);
            sel->MoveVideoWnd(m_rcZoom.left, m_rcZoom.top, m_rcZoom.Width(), m_rcZoom.Height());
        }
    }
    m_nShownCount = 0;
    for (CVideoWnd* p : m_pVideoWnd)
        if (p && p->m_bInLayout) {
            p->ShowWindow(SW_SHOW);
            ++m_nShownCount;
        }
    if (CVideoWnd* sel = GetPane(m_nSelected))
        sel->SetSelected(1);
}

int CVideoManagerDlg::SwitchFullScreen()
{
    m_bLayoutInProgress = 1;
    const bool entering = !m_bFullScreen;
    if (!entering) {
        m_rcCurrent = m_rcNormal;
        // Back into the saved parent before the move, so the rectangle is
        // read in the parent's coordinates again.
        if (m_bHasSavedParent) {
            setParent(m_pSavedParent, m_pSavedParent ? Qt::Widget : Qt::Window | Qt::FramelessWindowHint);
            m_bHasSavedParent = false;
        }
        MoveWindow(m_rcCurrent, TRUE);
    } else {
        m_rcCurrent = CRect(0, 0, g_nScreenWidth, g_nScreenHeight);
        m_pSavedParent = parentWidget();
        m_bHasSavedParent = true;
        setParent(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        MoveWindow(m_rcCurrent, TRUE);
    }
    SetDisplayMode(m_bZoomed ? 1 : m_nDisplayMode, entering ? 1 : 0, 0);
    if (CWnd* main = CWnd::FromHandle(LiveViewHost()->MainWnd()))
        main->SetFocus();
    m_bLayoutInProgress = 0;
    show();
    if (entering)
        raise();
    return 0;
}

void CVideoManagerDlg::OnEscKey(MSG* pMsg)
{
    if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE && m_bFullScreen) {
        SwitchFullScreen();
        if (CWnd* main = CWnd::FromHandle(LiveViewHost()->MainWnd()))
            main->SetFocus();
    }
}

BOOL CVideoManagerDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        OnEscKey(pMsg);
        return TRUE;
    }
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN)
        return TRUE;
    // Alt+F4 is a key message; posted messages share the numbers (device
    // handles, heap texts) and must reach their handlers.
    const bool key = pMsg->message == WM_KEYDOWN || pMsg->message == WM_SYSKEYDOWN || pMsg->message == WM_KEYUP ||
                     pMsg->message == WM_SYSKEYUP;
    if (key && pMsg->wParam == VK_F4 &&
        ((pMsg->lParam & (LPARAM(1) << 29)) || (QApplication::keyboardModifiers() & Qt::AltModifier)))
        return TRUE;
    if (pMsg->message == WM_PATROL_STEP) {
        // The patrol step carries a heap name; the patrol itself is not here.
        delete[] reinterpret_cast<char*>(pMsg->lParam);
        pMsg->lParam = 0;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CVideoManagerDlg::SnapBack()
{
    if (!m_bInitialised || m_bSnapping)
        return;
    const QRect want(m_rcCurrent.left, m_rcCurrent.top, m_rcCurrent.Width(), m_rcCurrent.Height());
    if (geometry() == want)
        return;
    m_bSnapping = true;
    MoveWindow(m_rcCurrent, TRUE);
    m_bSnapping = false;
}

void CVideoManagerDlg::OnMove(int x, int y)
{
    CDialog::OnMove(x, y);
    SnapBack();
}

void CVideoManagerDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    SnapBack();
}

void CVideoManagerDlg::ResizeForMainWindow(int maximised)
{
    const int top = g_nScreenHeight * 52 / 768 + 39;
    CRect rc = maximised ? CRect(235, top, g_nScreenWidth - 8, g_nScreenHeight - 10) : CRect(235, top, 1016, 758);
    m_rcNormal = m_rcCurrent = rc;
    MoveWindow(rc, TRUE);
    SetDisplayMode(m_nDisplayMode, 0, 1);
}

int CVideoManagerDlg::LockScreen()
{
    m_bScreenLocked = 1;
    return 0;
}

bool CVideoManagerDlg::IsPatrolActive(int index) const
{
    return index >= 0 && index < kPaneCount && m_bPatrolActive[index];
}

void CVideoManagerDlg::StopPatrol(int index)
{
    if (index >= 0 && index < kPaneCount)
        m_bPatrolActive[index] = false;
}

void CVideoManagerDlg::ShowMsgW(const std::wstring& text)
{
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsgW(text.c_str(), CResMsgDlg::MODE_INFO, 0);
}
