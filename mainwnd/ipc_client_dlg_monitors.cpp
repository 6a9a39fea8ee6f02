// CIPCClientDlg: moving the record search, alarm search, configuration, TV
// wall and map pages to further monitors and back. A monitor shows either its
// own grid (page kind 0) or one page; a page sits on at most one monitor.
#include "mainwnd/ipc_client_dlg.h"

#include "core/app_init.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/main_pages.h"
#include "mainwnd/page_dlg.h"

namespace {

void StandIn(CDialog* page, const char* op)
{
    if (auto* empty = dynamic_cast<CEmptyPage*>(page))
        WriteLog(6, "%s::%s(): not built, ignored.", empty->ClassName().c_str(), op);
}

int KindOfTab(UINT tabId)
{
    return tabId >= CPageDlg::IDC_TAB_RECORD && tabId <= CPageDlg::IDC_TAB_MAP
               ? int(tabId - CPageDlg::IDC_TAB_RECORD) + 1
               : 0;
}

} // namespace

CDialog* CIPCClientDlg::MovablePage(int kind) const
{
    switch (kind) {
    case kKindRecSearch: return m_pSearchRecDlg;
    case kKindAlarmSearch: return m_pSearchAlarmDlg;
    case kKindCfg: return m_pCfgManagerDlg;
    case kKindTVWall: return m_pTVWallManager;
    case kKindMap: return m_pMapManagerDlg;
    default: return nullptr;
    }
}

MonitorInfo* CIPCClientDlg::MonitorEntry(int n)
{
    int i = 1;
    for (MonitorInfo& m : m_lstMonitorInfo)
        if (i++ == n)
            return &m;
    return nullptr;
}

// The page's own device list, which stands in for the main window's panel there.
void CIPCClientDlg::SetPageOnExtScreen(int kind, int on)
{
    CDialog* page = MovablePage(kind);
    switch (kind) {
    case kKindRecSearch:
        if (auto* rec = dynamic_cast<ISearchRecForwards*>(page))
            rec->SetOnExtScreen(on);
        break;
    case kKindCfg:
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(page))
            cfg->ShowDeviceList(on);
        break;
    default: StandIn(page, "ShowDeviceList"); break;
    }
}

// The configuration page keeps itself at its place in the main window
// unless it knows it sits on a monitor.
void CIPCClientDlg::SetPageMonitorNumber(int kind, int n)
{
    m_nPageMonitor[kind] = n;
    if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(MovablePage(kind)))
        cfg->SetMonitorNumber(n);
}

void CIPCClientDlg::MakePageChild(CDialog* page)
{
    if (!page || page->parentWidget() == this)
        return;
    page->setParent(this, Qt::Widget);
}

void CIPCClientDlg::MakePageTopLevel(CDialog* page)
{
    if (!page || !page->parentWidget())
        return;
    page->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
}

void CIPCClientDlg::OnMoveToMonitorCommand(UINT id)
{
    const int n = int(id) - CPageDlg::ID_MOVE_TO_SCREEN1 + 1;
    if (n >= 1 && n <= 3 && int(m_lstMonitorInfo.size()) >= n)
        MovePageToMonitor(n);
}

void CIPCClientDlg::ReleaseMonitor(int n)
{
    if (n < 1)
        return;
    MonitorInfo* e = MonitorEntry(n);
    if (!e)
        return;
    if (e->pVideoManager)
        e->pVideoManager->ShowWindow(SW_SHOW);
    e->nPageKind = 0;
}

void CIPCClientDlg::RestorePageFromMonitor(int kind)
{
    CDialog* page = MovablePage(kind);
    if (!page)
        return;
    page->ShowWindow(SW_HIDE);
    SetPageOnExtScreen(kind, 0);
    SetPageMonitorNumber(kind, 0);
    // Whoever calls (the move command or the display settings), the page is
    // the main window's child again and no monitor claims it any more.
    MakePageChild(page);
    int anyOnMonitor = 0;
    for (MonitorInfo& m : m_lstMonitorInfo) {
        if (m.nPageKind == kind)
            m.nPageKind = 0;
        anyOnMonitor |= m.nPageKind != 0;
    }
    m_bPageOnMonitor = anyOnMonitor;
    const int width = m_bMaximized ? g_nScreenWidth : 1024;
    page->MoveWindow(CRect(235, TitleHeight() + 39, width - 8, g_nLayoutHeight - 10), TRUE);
    switch (kind) {
    case kKindRecSearch:
        if (auto* rec = dynamic_cast<ISearchRecForwards*>(page))
            rec->RefreshTimeBar();
        break;
    case kKindTVWall: StandIn(page, "SetWallRect"); break;
    case kKindMap: StandIn(page, "CloseVideoPopup"); break;
    default: break;
    }
}

void CIPCClientDlg::MovePageToMonitor(int n)
{
    if (!g_DispInfoSetting.MonitorMode || !m_pPageDlg)
        return;
    MonitorInfo* e = MonitorEntry(n);
    if (!e)
        return;
    const int k = KindOfTab(m_pPageDlg->RClickedTabId());
    CDialog* page = MovablePage(k);
    if (!page)
        return;

    if (e->nPageKind == k) {
        // Already there: back into the main window, the monitor's grid shown again.
        RestorePageFromMonitor(k);
        e->nPageKind = 0;
        MakePageChild(page);
        if (e->pVideoManager)
            e->pVideoManager->ShowWindow(SW_SHOW);
        if (k == kKindMap)
            StandIn(page, "CloseVideoPopup");
        m_bPageOnMonitor = 0;
        return;
    }

    const bool replacing = e->nPageKind != 0;
    if (!replacing) {
        if (e->pVideoManager)
            e->pVideoManager->ShowWindow(SW_HIDE);
    } else {
        RestorePageFromMonitor(e->nPageKind);
    }
    const int from = m_nPageMonitor[k];
    if (from && from != n)
        ReleaseMonitor(from);
    if (replacing)
        for (int other = kKindRecSearch; other <= kKindMap; ++other)
            if (other != k && !m_nPageMonitor[other]) // one on another monitor stays there
                MakePageChild(MovablePage(other));

    MakePageTopLevel(page);
    SetPageOnExtScreen(k, 1);
    SetPageMonitorNumber(k, n);
    page->MoveWindow(e->rcMonitor, TRUE);
    switch (k) {
    case kKindRecSearch:
        if (auto* rec = dynamic_cast<ISearchRecForwards*>(page)) {
            rec->ShowDevListGrouped();
            if (!replacing)
                rec->RefreshTimeBar();
        }
        break;
    case kKindAlarmSearch: StandIn(page, "ShowGroupView"); break;
    case kKindCfg:
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(page))
            cfg->ShowDevicePage();
        break;
    case kKindTVWall: StandIn(page, "SetWallRect"); break;
    case kKindMap:
        if (!replacing)
            StandIn(page, "CloseVideoPopup");
        break;
    default: break;
    }
    page->ShowWindow(SW_SHOW);
    e->nPageKind = k;
    m_bPageOnMonitor = 1;
}
