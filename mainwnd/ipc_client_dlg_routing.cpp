// CIPCClientDlg: the forwarders. Pages never call each other; they call the
// main window, which knows the current page, the configuration sub-page, the
// active grid and which pages sit on further monitors.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/onvif.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "liveview/video_wnd.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/main_pages.h"
#include "platform/sync.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <QTreeWidget>

#include <cstring>
#include <vector>

namespace {

ICfgManagerForwards* Cfg(CDialog* page)
{
    return dynamic_cast<ICfgManagerForwards*>(page);
}

ISearchRecForwards* Rec(CDialog* page)
{
    return dynamic_cast<ISearchRecForwards*>(page);
}

// A page not built yet: what is routed to it is only logged.
void StandIn(CDialog* page, const char* op)
{
    if (auto* empty = dynamic_cast<CEmptyPage*>(page))
        WriteLog(6, "%s::%s(): not built, ignored.", empty->ClassName().c_str(), op);
}

// Pane keys compare by device name and id.
bool SameDevice(const DeviceInfo& a, const DeviceInfo& b)
{
    return std::strcmp(a.DevName, b.DevName) == 0 && std::strcmp(a.DevId, b.DevId) == 0;
}

void UnselectFocused(CVideoManagerDlg* grid)
{
    if (CVideoWnd* focused = grid->GetPane(grid->GetSelectedIndex()))
        focused->SetSelected(0);
}

} // namespace

// --- device and user trees ---------------------------------------------------------

void CIPCClientDlg::OnDevTreeSelDevice(DeviceInfo* dev)
{
    if (g_nCurPage == 3 || PageOnMonitor(kKindCfg)) {
        ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg);
        switch (g_nCfgSubPage) {
        case 0:
            if (cfg)
                cfg->DisplayDevInfo(dev);
            break;
        case 3:
            if (cfg)
                cfg->ShowDeviceConfig(dev);
            break;
        case 4:
            if (cfg)
                cfg->ShowMaintDeviceInfo(dev);
            break;
        default: break;
        }
    }
    if (g_nCurPage == 1 || PageOnMonitor(kKindRecSearch)) {
        if (ISearchRecForwards* rec = Rec(m_pSearchRecDlg))
            rec->SetSearchDevInfo(dev);
        else
            StandIn(m_pSearchRecDlg, "SetSearchDevInfo");
    }
    if (g_nCurPage == 2 || PageOnMonitor(kKindAlarmSearch))
        StandIn(m_pSearchAlarmDlg, "SetSearchDevice");
    if (g_nCurPage != 0 || !m_pVideoManagerDlg)
        return;
    if (dev && dev->WatchFlag)
        for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
            CVideoWnd* pane = m_pVideoManagerDlg->GetPane(i);
            if (pane && pane->IsWatching() && std::strcmp(pane->DevCopy().DevName, dev->DevName) == 0) {
                m_pVideoManagerDlg->SelectWnd(i);
                return;
            }
        }
    UnselectFocused(m_pVideoManagerDlg);
}

void CIPCClientDlg::OnDevTreeSelVssChannel(RelayDevItem* channel)
{
    if ((g_nCurPage == 3 || PageOnMonitor(kKindCfg)) && g_nCfgSubPage == 0)
        if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
            cfg->ClearDevInfo();
    if (g_nCurPage == 1 || PageOnMonitor(kKindRecSearch))
        if (ISearchRecForwards* rec = Rec(m_pSearchRecDlg))
            rec->SetSearchRemoteDevInfo(channel);
    if (g_nCurPage == 2 || PageOnMonitor(kKindAlarmSearch))
        StandIn(m_pSearchAlarmDlg, "SetSearchChannel");
    if (g_nCurPage != 0 || !m_pVideoManagerDlg)
        return;
    if (channel && (channel->State == 2 || channel->State == 4))
        for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
            CVideoWnd* pane = m_pVideoManagerDlg->GetPane(i);
            if (pane && pane->IsRelayOn() && std::strcmp(pane->RelayCopy().Mac, channel->Mac) == 0 &&
                std::strcmp(pane->RelayCopy().DevName, channel->DevName) == 0) {
                m_pVideoManagerDlg->SelectWnd(i);
                return;
            }
        }
    UnselectFocused(m_pVideoManagerDlg);
}

void CIPCClientDlg::ShowDevGroupInfo(DevGroupInfo* group)
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->DisplayGroupInfo(group);
}

void CIPCClientDlg::ShowRecScheme(RecScheme* plan)
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ShowRecScheme(plan);
}

void CIPCClientDlg::ReloadRecSchemeTree()
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ShowRecordStrategyTree();
}

void CIPCClientDlg::RefreshUserTree()
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->RefreshUserTree();
}

void CIPCClientDlg::RefreshRoleTree()
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->RefreshRoleTree();
}

void CIPCClientDlg::ShowUserInfo(const User* user)
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ShowUser(user);
}

void CIPCClientDlg::ShowGroupInfo(const UserGroup* group)
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ShowGroup(group);
}

void CIPCClientDlg::ShowRoleInfo(const Role* role)
{
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ShowRole(role);
}

void CIPCClientDlg::SelectDevTreeItemByText(const char* text)
{
    if (m_pDeviceListDlg && text)
        m_pDeviceListDlg->SelectGroupItem(text);
}

void CIPCClientDlg::SelectDevTreeDevice(const DeviceInfo* dev)
{
    if (m_pDeviceListDlg && dev)
        m_pDeviceListDlg->SelectDevItem(dev);
}

void CIPCClientDlg::SelectDevTreeVssChannel(const RelayDevItem* channel)
{
    if (m_pDeviceListDlg && channel)
        m_pDeviceListDlg->SelectVssChannel(channel);
}

void CIPCClientDlg::ExpandDevChannelsAll(DeviceInfo* dev)
{
    if (!dev)
        return;
    if (m_pDeviceListDlg) {
        m_pDeviceListDlg->SelectDevItem(dev);
        if (QTreeWidgetItem* item = m_pDeviceListDlg->Tree()->currentItem())
            item->setExpanded(true);
    }
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
        cfg->ExpandDevChannels(dev);
    if (ISearchRecForwards* rec = Rec(m_pSearchRecDlg))
        rec->ExpandDevChannels(dev);
}

void CIPCClientDlg::UpdateDevTreeStatus()
{
    if (m_pDeviceListDlg) {
        m_pDeviceListDlg->RefreshDevState();
        m_pDeviceListDlg->RefreshVssState();
    }
    if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg)) {
        cfg->RefreshDevState();
        if (cfg->IsRecordPageVisible())
            cfg->PostRecPageRefresh();
    }
}

void CIPCClientDlg::ReloadDevTrees()
{
    if (m_pDeviceListDlg)
        m_pDeviceListDlg->RefreshDevTree();
    if (g_DispInfoSetting.LoginType == 0)
        if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
            cfg->RefreshDevTree();
}

// --- drag and drop, playing --------------------------------------------------------

int CIPCClientDlg::DropDevToPane(CWnd* target, DeviceInfo* dev)
{
    if (!target || !target->GetParent())
        return 0;
    CWnd* grandparent = target->GetParent()->GetParent();
    std::vector<CVideoManagerDlg*> grids;
    if (m_pVideoManagerDlg)
        grids.push_back(m_pVideoManagerDlg);
    if (g_DispInfoSetting.MonitorMode)
        for (const MonitorInfo& m : m_lstMonitorInfo)
            if (m.pVideoManager)
                grids.push_back(m.pVideoManager);
    for (CVideoManagerDlg* grid : grids)
        for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
            CVideoWnd* pane = grid->GetPane(i);
            if (pane && (pane == target || (grandparent && pane == grandparent))) {
                grid->AddWatch(i, dev, 1, 0, 0, 1, 0, 1);
                return 1;
            }
        }
    return 1;
}

void CIPCClientDlg::PlayDevInFreePane(DeviceInfo* dev)
{
    if (!dev || !m_pVideoManagerDlg)
        return;
    CVideoManagerDlg* target = nullptr;
    if (m_pVideoManagerDlg->HasFreeWnd())
        target = m_pVideoManagerDlg;
    else if (g_DispInfoSetting.MonitorMode)
        for (const MonitorInfo& m : m_lstMonitorInfo)
            if (m.pVideoManager && m.pVideoManager->HasFreeWnd()) {
                target = m.pVideoManager;
                break;
            }
    if (!target)
        target = m_pVideoManagerDlg;
    target->AddWatch(target->GetSelectedIndex(), dev, 1, 1, 0, 1, 0, 1);
}

void CIPCClientDlg::PlayDevInPane(int pane, DeviceInfo* dev)
{
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->AddWatch(pane, dev, 1, 0, 0, 1, 0, 1);
}

void CIPCClientDlg::DropDecoderToTVWall(int, int, DeviceInfo* dev)
{
    if (!m_pTVWallManager || !dev)
        return;
    if (!dev->Online) {
        if (m_pResMsgDlg)
            m_pResMsgDlg->ShowMsgW(LoadResStringW(821).c_str(), CResMsgDlg::MODE_INFO);
        return;
    }
    StandIn(m_pTVWallManager, "BindDecoder");
}

void CIPCClientDlg::DropCameraToTVWall(int, int, DeviceInfo* dev)
{
    if (!m_pTVWallManager || !dev)
        return;
    if (!dev->Online) {
        if (m_pResMsgDlg)
            m_pResMsgDlg->ShowMsgW(LoadResStringW(821).c_str(), CResMsgDlg::MODE_INFO);
        return;
    }
    StandIn(m_pTVWallManager, "OnDecodeStreaming");
}

void CIPCClientDlg::DropDevToMap(int, int, DeviceInfo*)
{
    if (m_pMapManagerDlg)
        StandIn(m_pMapManagerDlg, "DropDevice");
}

void CIPCClientDlg::OnStopWatch(DeviceInfo* dev, int flag)
{
    if (!dev)
        return;
    WriteLog(6, "CIPCClientDlg::OnStopWatch(): Begin...");
    std::vector<CVideoManagerDlg*> grids;
    if (m_pVideoManagerDlg)
        grids.push_back(m_pVideoManagerDlg);
    for (const MonitorInfo& m : m_lstMonitorInfo) // whatever MonitorMode
        if (m.pVideoManager)
            grids.push_back(m.pVideoManager);
    for (CVideoManagerDlg* grid : grids)
        for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
            CVideoWnd* pane = grid->GetPane(i);
            if (pane && pane->IsWatching() && SameDevice(pane->DevCopy(), *dev)) {
                grid->StopWatch(i, flag);
                break;
            }
        }
    WriteLog(6, "CIPCClientDlg::OnStopWatch(): End.");
}

// --- lookups and PTZ -----------------------------------------------------------------

int CIPCClientDlg::FindDevByName(const char* name, DeviceInfo* out)
{
    if (!name)
        return -1;
    qelm::CsLock lock(g_csDevList);
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevName, name) == 0) {
            if (out)
                *out = d;
            return 0;
        }
    return -1;
}

int CIPCClientDlg::GetSelPaneDevInfo(DeviceInfo* out)
{
    CVideoManagerDlg* grid = ActiveGrid();
    DeviceInfo* dev = nullptr;
    if (!grid || grid->GetSelectedDevice(&dev) != 0 || !dev)
        return -1;
    if (out)
        *out = *dev;
    return 0;
}

void CIPCClientDlg::SendPtzCmd(const char* cmd)
{
    if (CVideoManagerDlg* grid = ActiveGrid())
        grid->SendPtzCmdToSelected(cmd);
}

void CIPCClientDlg::SendKeyboardPtzCmd(const char* cmd)
{
    // The keyboard thread: the grid carries the text to the UI thread.
    if (CVideoManagerDlg* grid = m_pVideoManagerDlg)
        grid->SendPtzCmd(cmd);
}

int CIPCClientDlg::GetSelPanePtzAddr()
{
    return m_pVideoManagerDlg ? m_pVideoManagerDlg->GetSelectedPtzAddr() : 0;
}

int CIPCClientDlg::GetOnvifPresets(DeviceInfo* dev, std::list<std::string>& presets)
{
    if (!dev)
        return -1;
    constexpr int kEntries = 256, kEntrySize = int(OVF_PRESET_SIZE);
    std::vector<char> buffer(size_t(kEntries) * kEntrySize, 0);
    int count = kEntries;
    OVF_PTZ_GetPresets(&dev->OnvifInfo, dev->LoginName, dev->LoginPsw, buffer.data(), &count);
    presets.clear();
    // The library's count is not trusted past the buffer.
    count = std::max(0, std::min(count, kEntries));
    for (int i = 0; i < count; ++i) {
        const char* entry = buffer.data() + size_t(i) * kEntrySize;
        presets.emplace_back(entry, strnlen(entry, kEntrySize));
    }
    return 0;
}

// --- grid-wide operations -------------------------------------------------------------

int CIPCClientDlg::CheckTalkBusy()
{
    if (m_pVideoManagerDlg && m_pVideoManagerDlg->IsTalkOn())
        return -1;
    for (const MonitorInfo& m : m_lstMonitorInfo)
        if (m.pVideoManager && m.pVideoManager != m_pActiveVideoMgr && m.pVideoManager->IsTalkOn())
            return -1;
    // The map's video popup and the alarm-linkage pane come with their pages.
    if (DeviceServices()->MapVideoHoldsTalk() || DeviceServices()->AlarmActHoldsTalk())
        return -1;
    return 0;
}

int CIPCClientDlg::StopAllSound()
{
    int result = -1;
    if (m_pVideoManagerDlg && m_pVideoManagerDlg->IsSoundOn()) {
        m_pVideoManagerDlg->OnSound();
        result = 0;
    }
    for (const MonitorInfo& m : m_lstMonitorInfo)
        if (m.pVideoManager && m.pVideoManager->IsSoundOn()) {
            m.pVideoManager->OnSound();
            result = 0;
            break;
        }
    // The toolbar's sound button shows off (176) once the toolbar is built.
    return result;
}

void CIPCClientDlg::SetDigitalZoomMode(int mode)
{
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->SetDigitalZoomMode(mode);
    for (const MonitorInfo& m : m_lstMonitorInfo)
        if (m.pVideoManager)
            m.pVideoManager->SetDigitalZoomMode(mode);
}

void CIPCClientDlg::ApplyFullDisplay()
{
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->ApplyFullDisplay();
    if (g_DispInfoSetting.MonitorMode)
        for (const MonitorInfo& m : m_lstMonitorInfo)
            if (m.pVideoManager)
                m.pVideoManager->ApplyFullDisplay();
}

void CIPCClientDlg::OnDefaultRec()
{
    {
        qelm::CsLock lock(g_csDevList);
        if (g_lstRecSchemeInfo.empty()) {
            WriteLog(6, "CIPCClientDlg::OnDefaultRec():g_lstRecSchemeInfo.size()==0");
            return;
        }
        WriteLog(6, "CIPCClientDlg::OnDefaultRec(): Begin...");
        // The scheduler reads the flags under the same lock on its next pass.
        for (RecScheme* plan : g_lstRecSchemeInfo)
            if (plan)
                plan->OnOff = m_bRecordAll ? 0 : 1;
    }
    m_bRecordAll = m_bRecordAll ? 0 : 1;
    if (m_pVideoToolbarDlg)
        if (ICfgManagerForwards* cfg = Cfg(m_pCfgManagerDlg))
            cfg->SetRecordButtonCaption(m_bRecordAll ? 253 : 252);
    WriteLog(6, "CIPCClientDlg::OnDefaultRec(): End.");
}

void CIPCClientDlg::ShowTVWallLayoutDlg()
{
    CDialog* layout = m_pDrawTVwallDlg;
    if (!layout)
        return;
    layout->CenterWindow();
    CRect rc;
    layout->GetWindowRect(&rc);
    CRect page;
    if (m_pTVWallManager && PageOnMonitor(kKindTVWall))
        m_pTVWallManager->GetWindowRect(&page);
    layout->SetWindowPos(wndTopMost, rc.left + page.left, rc.top + page.top, rc.Width(), rc.Height(),
                         SWP_SHOWWINDOW);
}


