// CIPCClientDlg: page switches, the left column, maximise and restore.
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/main_pages.h"

#include "core/app_init.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/page_dlg.h"
#include "platform/monitor.h"
#include "res/strings.h"
#include "ui/gdip_button.h"

#include <algorithm>

bool CIPCClientDlg::PageOnMonitor(int pageKind) const
{
    return PageMonitor(pageKind) != 0;
}

void CIPCClientDlg::HidePage(CWnd* page, int pageKind)
{
    if (page && !PageOnMonitor(pageKind))
        page->ShowWindow(SW_HIDE);
}

void CIPCClientDlg::HideCfgPage()
{
    // The configuration page stops its own camera search and remote dialog
    // when it is hidden.
    HidePage(m_pCfgManagerDlg, kKindCfg);
}

void CIPCClientDlg::HideMapPage()
{
    HidePage(m_pMapManagerDlg, kKindMap);
}

void CIPCClientDlg::LayoutLeftColumn()
{
    const int H = g_nLayoutHeight;
    const int T = TitleHeight();
    if (!m_pDeviceListDlg)
        return;
    // Three states: live page with the alarm list closed or open, any other page.
    if (g_nCurPage == 0) {
        const int shift = m_bAlarmListShown ? 300 : 0;
        m_pDeviceListDlg->MoveWindow(10, T + 39, 219, H - T - 95 - shift, TRUE);
        m_btnPtz->setGeometry(10, H - 56 - shift, 219, 23);
        m_btnAlarm->setGeometry(10, H - 33 - shift, 219, 23);
        m_btnPtz->show();
        m_btnAlarm->show();
        if (m_pAlarmListDlg) {
            m_pAlarmListDlg->MoveWindow(10, H - 310, 219, 277, TRUE);
            m_pAlarmListDlg->ShowWindow(m_bAlarmListShown ? SW_SHOW : SW_HIDE);
        }
    } else {
        m_pDeviceListDlg->MoveWindow(10, T + 39, 219, H - T - 49, TRUE);
        m_btnPtz->hide();
        m_btnAlarm->hide();
        if (m_pAlarmListDlg)
            m_pAlarmListDlg->ShowWindow(SW_HIDE);
    }
}

void CIPCClientDlg::ShowAlarmList(int show)
{
    if (g_nCurPage != 0)
        return;
    m_bAlarmListShown = show ? 1 : 0;
    LayoutLeftColumn();
}

bool CIPCClientDlg::SwitchTo(int page)
{
    if (g_nCurPage == page)
        return false;
    g_nCurPage = page;
    update(QRect(15, TitleHeight() - 4, g_nScreenWidth - 15, 3));
    if (m_pLogToolDlg)
        m_pLogToolDlg->ShowWindow(SW_HIDE);
    return true;
}

// What belongs to the live page alone: the video toolbar, the grid, the PTZ panel.
void CIPCClientDlg::HideLivePageParts()
{
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->ShowWindow(SW_HIDE);
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->ShowWindow(SW_HIDE);
    if (m_pPTZDlg)
        m_pPTZDlg->ShowWindow(SW_HIDE);
}

void CIPCClientDlg::ShowDevicePanelGrouped()
{
    if (m_pDeviceListDlg) {
        m_pDeviceListDlg->OnBnClickedBtnOrigGroup();
        m_pDeviceListDlg->ShowWindow(SW_SHOW);
    }
}

void CIPCClientDlg::ShowLivePage()
{
    if (!SwitchTo(0))
        return;
    if (m_pAlarmListDlg)
        m_pAlarmListDlg->ShowWindow(SW_HIDE);
    m_bAlarmListShown = 0;
    HideCfgPage();
    HidePage(m_pSearchAlarmDlg, kKindAlarmSearch);
    HidePage(m_pSearchRecDlg, kKindRecSearch);
    HidePage(m_pTVWallManager, kKindTVWall);
    HideMapPage();
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->ShowWindow(SW_SHOW);
    LayoutLeftColumn();
    ShowDevicePanelGrouped();
    WriteLog(6, "CIPCClientDlg: video manager dialog recover video windows.");
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->ShowWindow(SW_SHOW);
}

void CIPCClientDlg::ShowRecSearchPage()
{
    if (!SwitchTo(1))
        return;
    HideLivePageParts();
    HidePage(m_pSearchAlarmDlg, kKindAlarmSearch);
    HideCfgPage();
    HidePage(m_pTVWallManager, kKindTVWall);
    HideMapPage();
    // The record search page shows the toolbar with its playback buttons.
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->ShowWindow(SW_SHOW);
    LayoutLeftColumn();
    ShowDevicePanelGrouped();
    if (m_pSearchRecDlg)
        m_pSearchRecDlg->ShowWindow(SW_SHOW);
}

void CIPCClientDlg::ShowAlarmSearchPage()
{
    if (!SwitchTo(2))
        return;
    HideLivePageParts();
    HidePage(m_pSearchRecDlg, kKindRecSearch);
    HideCfgPage();
    HidePage(m_pTVWallManager, kKindTVWall);
    HideMapPage();
    LayoutLeftColumn();
    ShowDevicePanelGrouped();
    if (m_pSearchAlarmDlg)
        m_pSearchAlarmDlg->ShowWindow(SW_SHOW);
}

void CIPCClientDlg::ShowCfgPage()
{
    if (!SwitchTo(3))
        return;
    HideLivePageParts();
    LayoutLeftColumn();
    if (m_pDeviceListDlg)
        m_pDeviceListDlg->ShowWindow(SW_HIDE); // the configuration page has its own tree
    HidePage(m_pSearchAlarmDlg, kKindAlarmSearch);
    HidePage(m_pSearchRecDlg, kKindRecSearch);
    HidePage(m_pTVWallManager, kKindTVWall);
    HideMapPage();
    if (g_nCfgSubPage == 2)
        ShowCfgRecordPage();
    update(QRect(15, TitleHeight() - 4, g_nScreenWidth - 15, 3));
    switch (g_nCfgSubPage) {
    case 0: ShowCfgDevicePage(); break;
    case 1: ShowCfgUserPage(); break;
    case 2: break;
    case 3: ShowCfgRemoteConfigPage(); break;
    case 4: ShowCfgMaintainPage(); break;
    default:
        if (g_DispInfoSetting.LoginType != 0)
            ShowCfgRecordPage();
        else
            ShowCfgDevicePage();
        break;
    }
    if (m_pDeviceListDlg)
        m_pDeviceListDlg->OnBnClickedBtnOrigGroup();
}

void CIPCClientDlg::PlaceCfgPage(bool deviceSubPage)
{
    if (!m_pCfgManagerDlg || PageOnMonitor(kKindCfg))
        return;
    if (deviceSubPage) {
        CRect client;
        GetClientRect(&client);
        m_pCfgManagerDlg->MoveWindow(CRect(10, TitleHeight() - 1, client.Width() - 8, client.Height() - 10), TRUE);
    } else {
        m_pCfgManagerDlg->MoveWindow(CfgRect(), TRUE);
    }
}

// Places the configuration page, then lets its own switch show the sub-page
// (the device sub-page's switch keeps g_nCfgSubPage itself).
void CIPCClientDlg::ShowCfgSubPage(int subPage)
{
    PlaceCfgPage(subPage == 0);
    if (subPage == 1 || subPage == 2)
        g_nCfgSubPage = subPage;
    if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(m_pCfgManagerDlg))
        cfg->ShowSubPage(subPage);
    if (m_pCfgManagerDlg)
        m_pCfgManagerDlg->ShowWindow(SW_SHOW);
}

void CIPCClientDlg::ShowCfgDevicePage() { ShowCfgSubPage(0); }
void CIPCClientDlg::ShowCfgUserPage() { ShowCfgSubPage(1); }
void CIPCClientDlg::ShowCfgRecordPage() { ShowCfgSubPage(2); }
void CIPCClientDlg::ShowCfgRemoteConfigPage() { ShowCfgSubPage(3); }
void CIPCClientDlg::ShowCfgMaintainPage() { ShowCfgSubPage(4); }

void CIPCClientDlg::ShowTVWallPage()
{
    if (!SwitchTo(4))
        return;
    HideLivePageParts();
    HidePage(m_pSearchAlarmDlg, kKindAlarmSearch);
    HidePage(m_pSearchRecDlg, kKindRecSearch);
    HideCfgPage();
    HideMapPage();
    CRect client;
    GetClientRect(&client);
    update(QRect(15, TitleHeight() - 4, client.Width() - 15, 3));
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->ShowWindow(SW_SHOW);
    ShowDevicePanelGrouped();
    LayoutLeftColumn();
    if (m_pTVWallManager) {
        if (!PageOnMonitor(kKindTVWall))
            m_pTVWallManager->MoveWindow(
                CRect(235, TitleHeight() + 39, client.Width() - 8, client.Height() - 10), TRUE);
        m_pTVWallManager->ShowWindow(SW_SHOW);
    }
}

void CIPCClientDlg::ShowMapPage()
{
    if (!SwitchTo(5))
        return;
    HideLivePageParts();
    HidePage(m_pSearchAlarmDlg, kKindAlarmSearch);
    HidePage(m_pSearchRecDlg, kKindRecSearch);
    HideCfgPage();
    HidePage(m_pTVWallManager, kKindTVWall);
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->ShowWindow(SW_SHOW);
    LayoutLeftColumn();
    if (m_pDeviceListDlg) {
        m_pDeviceListDlg->OnBnClickedBtnMapList();
        m_pDeviceListDlg->ShowWindow(SW_SHOW);
    }
    if (m_pMapManagerDlg)
        m_pMapManagerDlg->ShowWindow(SW_SHOW);
}

void CIPCClientDlg::LayoutForWindowState(int maximised)
{
    m_bMaximized = maximised ? 1 : 0;
    const int W = g_nScreenWidth;
    CRect rc;
    GetWindowRect(&rc);
    struct Btn {
        CGdipButton* b;
        int fromRight;
        int restoredX;
    };
    const Btn buttons[] = {{m_btnClose, 32, 992}, {m_btnMaximize, 58, 966}, {m_btnMinimize, 84, 940},
                           {m_btnSetting, 110, 914}};
    const CRect work = qelm::PrimaryWorkArea();
    if (m_bMaximized) {
        g_nLayoutHeight = g_nScreenHeight;
        rc = CRect(work.left, work.top, work.left + W, work.top + g_nScreenHeight);
        for (const Btn& b : buttons)
            b.b->setGeometry(W - b.fromRight, 2, 26, 17);
    } else {
        g_nLayoutHeight = 768;
        // The corner stays, but the window stays on the work area as far as it fits.
        const int left = std::max<int>(work.left, std::min<int>(rc.left, work.right - 1024));
        const int top = std::max<int>(work.top, std::min<int>(rc.top, work.bottom - 768));
        rc = CRect(left, top, left + 1024, top + 768);
        for (const Btn& b : buttons)
            b.b->setGeometry(b.restoredX, 2, 26, 17);
    }
    m_btnMaximize->SetTooltipTextW(LoadResStringW(m_bMaximized ? 1510 : 1509).c_str(), TRUE);
    SetWindowPos(nullptr, rc.left, rc.top, rc.Width(), rc.Height(), SWP_SHOWWINDOW);
    if (m_pPageDlg)
        m_pPageDlg->Reposition();
    const int T = TitleHeight();
    const int H = g_nLayoutHeight;
    const int width = m_bMaximized ? W : 1024;
    if (m_pVideoToolbarDlg)
        m_pVideoToolbarDlg->MoveWindow(10, T - 1, width - 18, 40, TRUE);
    if (m_pCfgManagerDlg && !PageOnMonitor(kKindCfg)) {
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(m_pCfgManagerDlg))
            cfg->ResizeForMainWindow(m_bMaximized);
        else
            m_pCfgManagerDlg->MoveWindow(CRect(10, T - 1, width - 8, H - 10), TRUE);
    }
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->ResizeForMainWindow(m_bMaximized);
    const CRect content(235, T + 39, width - 8, H - 10);
    const std::pair<CDialog*, int> pages[] = {{m_pSearchRecDlg, kKindRecSearch},
                                              {m_pSearchAlarmDlg, kKindAlarmSearch},
                                              {m_pTVWallManager, kKindTVWall},
                                              {m_pMapManagerDlg, kKindMap}};
    for (const auto& [page, kind] : pages)
        if (page && !PageOnMonitor(kind))
            page->MoveWindow(content, TRUE);
    if (m_pAlarmListDlg)
        m_pAlarmListDlg->MoveWindow(10, H - 310, 219, 277, TRUE);
    if (m_pDeviceListDlg) {
        if (!m_btnPtz->isHidden()) {
            const int shift = m_bAlarmListShown ? 300 : 0;
            m_pDeviceListDlg->MoveWindow(10, T + 39, 219, H - T - 95 - shift, TRUE);
            m_btnPtz->setGeometry(10, H - 56 - shift, 219, 23);
            m_btnAlarm->setGeometry(10, H - 33 - shift, 219, 23);
        } else {
            m_pDeviceListDlg->MoveWindow(10, T + 39, 219, H - T - 49, TRUE);
        }
    }
    Invalidate();
}
