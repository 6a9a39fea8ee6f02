// The record search page on a further monitor: there the main window's
// device panel is out of reach, so the page shows its own.
#include "playback/search_rec_dlg.h"

#include "devices/device_list_dlg.h"
#include "playback/playback_toll_bar.h"

#include <QTreeWidget>

void CSearchRecDlg::SetOnExtScreen(int on)
{
    m_bOnExtScreen = on ? 1 : 0;
    if (m_pDevListDlg)
        m_pDevListDlg->ShowWindow(m_bOnExtScreen ? SW_SHOW : SW_HIDE);
    LayoutPage();
}

void CSearchRecDlg::RefreshTimeBar()
{
    if (m_pTimeBar) {
        m_pTimeBar->RebuildRows();
        m_pTimeBar->update();
    }
}

void CSearchRecDlg::ShowDevListGrouped()
{
    if (m_pDevListDlg)
        m_pDevListDlg->OnBnClickedBtnOrigGroup();
}

void CSearchRecDlg::ExpandDevChannels(DeviceInfo* pDevInfo)
{
    if (!m_pDevListDlg || !pDevInfo)
        return;
    m_pDevListDlg->SelectDevItem(pDevInfo);
    if (QTreeWidgetItem* item = m_pDevListDlg->Tree()->currentItem())
        item->setExpanded(true);
}
