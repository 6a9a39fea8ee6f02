// The configuration manager's share of the main window's routing: tree
// clicks and refreshes reach its sub-pages and its own panels here.
#include "settings/cfg_manager_dlg.h"

#include "devconfig/setting_dev_info_dlg.h"
#include "devices/device_list_dlg.h"
#include "mainwnd/user_list_dlg.h"
#include "media/rec_targets.h"
#include "res/strings.h"
#include "settings/setting_user_info_dlg.h"
#include "ui/gdip_button.h"

#include <QTreeWidget>

void CCfgManagerDlg::DisplayDevInfo(DeviceInfo* device)
{
    if (m_pDevInfoDlg)
        m_pDevInfoDlg->DisplayDevInfo(device);
}

void CCfgManagerDlg::DisplayGroupInfo(DevGroupInfo* group)
{
    if (m_pDevInfoDlg)
        m_pDevInfoDlg->DisplayGroupInfo(group);
}

void CCfgManagerDlg::ClearDevInfo()
{
    if (m_pDevInfoDlg)
        m_pDevInfoDlg->ClearDevInfo();
}

void CCfgManagerDlg::ShowRecScheme(RecScheme* plan)
{
    RecordPageShowScheme(plan);
}

void CCfgManagerDlg::ShowRecordStrategyTree()
{
    if (m_pDevListDlg)
        m_pDevListDlg->ShowRecordStrategyTree();
}

bool CCfgManagerDlg::IsRecordPageVisible()
{
    return m_pRecordDlg && m_pRecordDlg->isVisible();
}

void CCfgManagerDlg::PostRecPageRefresh()
{
    if (m_pRecordDlg)
        m_pRecordDlg->PostMessage(WM_RECPAGE_REFRESH, 0, 0);
}

void CCfgManagerDlg::SetRecordButtonCaption(unsigned stringId)
{
    if (m_pBtnDefaultRecord) {
        m_pBtnDefaultRecord->SetButtonText(LoadResString(stringId).c_str());
        m_pBtnDefaultRecord->update();
    }
}

void CCfgManagerDlg::RefreshUserTree()
{
    if (auto* list = dynamic_cast<CUserListDlg*>(m_pUserListDlg))
        list->RefreshUserTree();
}

void CCfgManagerDlg::RefreshRoleTree()
{
    if (auto* list = dynamic_cast<CUserListDlg*>(m_pUserListDlg))
        list->RefreshRoleTree();
}

void CCfgManagerDlg::ShowUser(const User* user)
{
    if (auto* form = dynamic_cast<CSettingUserInfoDlg*>(m_pUserInfoDlg))
        form->ShowUser(user);
}

void CCfgManagerDlg::ShowGroup(const UserGroup* group)
{
    if (auto* form = dynamic_cast<CSettingUserInfoDlg*>(m_pUserInfoDlg))
        form->ShowGroup(group);
}

void CCfgManagerDlg::ShowRole(const Role* role)
{
    if (auto* form = dynamic_cast<CSettingUserInfoDlg*>(m_pUserInfoDlg))
        form->ShowRole(role);
}

void CCfgManagerDlg::RefreshDevState()
{
    if (m_pDevListDlg)
        m_pDevListDlg->RefreshDevState();
}

void CCfgManagerDlg::RefreshDevTree()
{
    if (m_pDevListDlg)
        m_pDevListDlg->RefreshDevTree();
}

void CCfgManagerDlg::ExpandDevChannels(DeviceInfo* device)
{
    if (!m_pDevListDlg || !device)
        return;
    m_pDevListDlg->SelectDevItem(device);
    if (QTreeWidgetItem* item = m_pDevListDlg->Tree()->currentItem())
        item->setExpanded(true);
}
