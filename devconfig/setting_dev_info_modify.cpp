// Deleting and changing devices: the teardown of every row of a device, the
// in-place rename, the re-registration at the same list position and the
// panes reopened afterwards.
#include "devconfig/devcfg_pages.h"
#include "devconfig/setting_dev_info_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "res/strings.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <cstring>

namespace {

bool HasHash(const std::string& s)
{
    return s.find('#') != std::string::npos;
}

const char* const kModify = "CSettingDevInfoDlg::OnBnClickedBtnDevModify()";

} // namespace

int CSettingDevInfoDlg::FindWatchPane(const DeviceInfo* row)
{
    if (!row || (row->DevType != 1 && row->DevType != 4))
        return -1;
    return DeviceServices()->FindWatchPane(row);
}

void CSettingDevInfoDlg::RenameInRecSchemes(const DeviceInfo* row)
{
    if (!row)
        return;
    qelm::CsLock lock(g_csDevList);
    for (RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        for (DeviceInfo* m : plan->lstDev)
            if (m && m != row && std::strcmp(m->DevId, row->DevId) == 0 && m->DevType == 1)
                qelm::CopyBounded(m->DevName, sizeof m->DevName, row->DevName);
    }
}

void CSettingDevInfoDlg::OnBnClickedBtnDevDel()
{
    if (m_nDevSource == kDevSourceP2P) {
        const std::string domain = Text(IDC_EDIT_ADDR);
        if (domain.empty())
            return ShowMsg(613);
        DeleteCloudDevice(domain.substr(0, domain.find('.')).c_str(), 1);
        return;
    }
    const FormValues f = ReadForm();
    if ((f.type == 2 || (m_DevInfo.DevType == 5 && f.type == 5)) && DeviceServices()->IsDecoderOnTvWall(&m_DevInfo))
        return ShowMsg(634);
    if (f.type == 3) {
        DeleteRelayServer(f);
        return;
    }
    IDeviceServices* s = DeviceServices();
    s->UnbindTvWallCamera(m_DevInfo.DevId);
    bool removed = false;
    std::vector<RemovedDevice> gone;
    {
        qelm::CsLock lock(g_csDevList);
        bool again = true;
        while (again) {
            again = false;
            for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end(); ++it) {
                if (std::strcmp(it->DevId, m_DevInfo.DevId) != 0)
                    continue;
                again = it->DevType == 0 || it->DevType == 4;
                RemoveDeviceRecord(it, &gone, "CSettingDevInfoDlg::OnBnClickedBtnDevDel()");
                removed = true;
                break;
            }
        }
    }
    ReportRemovedDevices(gone);
    if (!removed)
        return ShowMsg(611);
    SaveDevInfo();
    s->ReloadDevTrees();
    ShowMsg(610);
}

void CSettingDevInfoDlg::DeleteRelayServer(const FormValues& f)
{
    const int port = std::atoi(f.videoPort.c_str());
    for (auto it = g_lstRelayServer.begin(); it != g_lstRelayServer.end(); ++it) {
        if (f.name != it->DevName || f.addr != it->IPAddr || it->nPort != port)
            continue;
        TS_LoginOut(it->LoginId);
        if (it->pDevList) {
            for (const RelayDevItem& e : *it->pDevList)
                DeviceServices()->CloseRelayPaneOf(&e);
        }
        g_lstRelayServer.erase(it);
        DeviceServices()->ReloadDevTrees();
        ShowMsg(610);
        SaveVssInfo();
        return;
    }
}

// With a vendor number the password field shows the stored digest: a field
// still holding it keeps it, anything typed is digested.
std::string CSettingDevInfoDlg::StoredPasswordFor(const FormValues& f, const DeviceInfo& old) const
{
    if (!g_szVendorNumber[0] || f.psw == old.LoginPsw)
        return f.psw;
    char md5[33];
    Md5HexUpper(f.psw.c_str(), md5);
    return md5;
}

void CSettingDevInfoDlg::OnBnClickedBtnDevModify()
{
    if (m_nDevSource == kDevSourceP2P) {
        for (UINT id : {IDC_EDIT_ADDR, IDC_EDIT_LOGIN, IDC_EDIT_PSW})
            if (Text(id).empty()) {
                GetDlgItem(id)->setFocus();
                return;
            }
        const std::string domain = Text(IDC_EDIT_ADDR);
        const std::string devId = domain.substr(0, domain.find('.'));
        bool present = false;
        {
            qelm::CsLock lock(g_csDevList);
            for (const DeviceInfo& d : g_lstDevInfo)
                if (devId == d.DevId && d.nPltDev != 0)
                    present = true;
        }
        if (present)
            AddCloudDevice(1); // replaces the old rows only once the service answered
        return;
    }
    const FormValues f = ReadForm();
    if (!m_DevInfo.DevName[0] && f.type != 3)
        return ShowMsg(612);
    // A multi-channel decoder (DevType 5) shows as index 5 too.
    const int shownType = g_SelDevInfo.DevType == 5 ? 5 : g_SelDevInfo.DevType + g_SelDevInfo.DovraNvr;
    const bool typeChanged = f.type != shownType;
    if (typeChanged) {
        const std::string q = LoadResString(629);
        if (MessageBoxA(qelm::HandleOf(this), q.c_str(), g_strTitle.c_str(), MB_OKCANCEL | MB_ICONWARNING) != IDOK)
            return;
    }
    if (f.group.empty() || f.name.empty() || f.addr.empty() || f.login.empty())
        return ShowMsg(613);
    const std::string stream = f.stream == 0 ? "cif" : "";
    const DeviceInfo& sel = g_SelDevInfo;
    const bool reRegister = f.addr != sel.IPAddr || std::atoi(f.videoPort.c_str()) != sel.VideoPort ||
                            std::atoi(f.ptzPort.c_str()) != (sel.DevType == 4 ? sel.CfgPort : sel.PtzPort) ||
                            std::atoi(f.ptzAddr.c_str()) != sel.PtzAddr || f.login != sel.LoginName ||
                            f.psw != sel.LoginPsw || f.protocol != sel.RtpOverRtsp || f.visitMod != sel.VisitMod ||
                            (sel.DevType != 0 && stream != sel.Resolution) || typeChanged;
    if (reRegister)
        ModifyReRegister(f);
    else
        ModifyInPlace(f);
}

void CSettingDevInfoDlg::ModifyInPlace(const FormValues& f)
{
    if (f.group == g_SelDevInfo.GroupName && f.name == g_SelDevInfo.DevName)
        return;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (f.name != m_DevInfo.DevName && f.name == d.DevName && std::strcmp(d.DevName, m_DevInfo.DevName) != 0)
                return ShowMsg(1545);
    }
    const bool nameChanged = f.name != m_DevInfo.DevName;
    bool renamed = false;
    std::vector<DeviceInfo> maintRows;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo) {
            if (std::strcmp(d.DevId, m_DevInfo.DevId) != 0)
                continue;
            qelm::CopyBounded(d.GroupName, sizeof d.GroupName, f.group);
            const bool named = d.DevType == 1 || d.DevType == 2 || d.DevType == 5 ||
                               (d.DevType == 4 && d.CurNVRChannel == 0);
            if (nameChanged && named) {
                qelm::CopyBounded(d.DevName, sizeof d.DevName, f.name);
                maintRows.push_back(d);
                if (g_pAuxPtzCtrl && d.AuxPtzId > 0)
                    g_pAuxPtzCtrl->WriteAUXStringEx(d.AuxPtzId, "SYSTEM_CONTROL_MESSAGE", 1012, 0, "");
                RenameInRecSchemes(&d);
                renamed = true;
            }
            if (d.WatchFlag) {
                const int pane = FindWatchPane(&d);
                if (pane >= 0)
                    DeviceServices()->RenamePaneDevice(pane, &d);
            }
        }
    }
    for (const DeviceInfo& d : maintRows)
        DevCfgPages()->UpdateMaintDeviceName(d);
    if (renamed)
        qelm::CopyBounded(m_DevInfo.DevName, sizeof m_DevInfo.DevName, f.name);
    qelm::CopyBounded(m_DevInfo.GroupName, sizeof m_DevInfo.GroupName, f.group);
    SaveDevInfo();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(614);
    DeviceServices()->SelectDevTreeItemByText(renamed ? f.name.c_str() : "");
    DeviceServices()->TsNotifyUpdateDeviceList();
}

void CSettingDevInfoDlg::ModifyReRegister(const FormValues& f)
{
    if (f.type == 3) {
        const int port = std::atoi(f.videoPort.c_str());
        for (const Qelm2Node& s : g_lstRelayServer)
            if (f.name == s.DevName) {
                if (f.addr == s.IPAddr && s.nPort == port)
                    return;
                return ShowMsg(608);
            }
        for (Qelm2Node& s : g_lstRelayServer)
            if (f.addr == s.IPAddr && s.nPort == port) {
                qelm::CopyBounded(s.DevName, 256, f.name);
                DeviceServices()->ReloadDevTrees();
                ShowMsg(614);
                SaveVssInfo(); // the new name outlives the run
                return;
            }
        return;
    }
    // A multi-channel decoder shows as index 5 and is a decoder all the same.
    const bool decoder = f.type == 2 || (g_SelDevInfo.DevType == 5 && f.type == 5);
    if (!decoder && (f.videoPort.empty() || f.ptzPort.empty()))
        return ShowMsg(613);
    if (decoder && DeviceServices()->IsDecoderOnTvWall(&m_DevInfo))
        return ShowMsg(634);
    if (HasHash(f.name) || HasHash(f.addr) || HasHash(f.login))
        return ShowMsg(630);
    if (!CheckAddressAndPorts(f, decoder))
        return;
    const std::string psw = StoredPasswordFor(f, g_SelDevInfo);
    if (f.login.size() >= sizeof(DeviceInfo::LoginName) || psw.size() >= sizeof(DeviceInfo::LoginPsw))
        return ShowMsg(607);
    {
        const int vp = std::atoi(f.videoPort.c_str());
        const int pp = std::atoi(f.ptzPort.c_str());
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo) {
            if (std::strcmp(d.DevName, m_DevInfo.DevName) == 0)
                continue;
            if (f.name == d.DevName || (f.addr == d.IPAddr && d.VideoPort == vp && d.PtzPort == pp && d.DevType != 4))
                return ShowMsg(1545);
        }
    }
    IDeviceServices* s = DeviceServices();
    const int newType = f.type == 5 ? 4 : f.type;
    std::vector<RemovedDevice> gone;
    std::list<DeviceInfo>::iterator at = g_lstDevInfo.end();
    bool removed = false;
    std::vector<DeviceInfo*> added;
    // Where the device's rows stood in each plan, by row order, so the new
    // rows take the same places.
    struct PlanSlot {
        RecScheme* plan;
        std::size_t index;
        std::size_t ordinal;
    };
    std::vector<PlanSlot> planSlots;
    {
        qelm::CsLock lock(g_csDevList);
        std::vector<const DeviceInfo*> oldRows;
        for (const DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevId, m_DevInfo.DevId) == 0)
                oldRows.push_back(&d);
        for (RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan)
                continue;
            std::size_t index = 0;
            for (const DeviceInfo* m : plan->lstDev) {
                for (std::size_t k = 0; k < oldRows.size(); ++k)
                    if (m == oldRows[k])
                        planSlots.push_back(PlanSlot{plan, index, k});
                ++index;
            }
        }
        for (;;) {
            auto it = g_lstDevInfo.begin();
            while (it != g_lstDevInfo.end() && std::strcmp(it->DevId, m_DevInfo.DevId) != 0)
                ++it;
            if (it == g_lstDevInfo.end())
                break;
            if (it->WatchFlag) {
                const int pane = FindWatchPane(&*it);
                s->OnStopWatch(&*it, 1);
                it->WatchFlag = 0; // stopped here, not again in the teardown
                if (pane >= 0) {
                    ReopenPaneItem item{*it, pane};
                    if (newType == 1) {
                        qelm::CopyBounded(item.dev.DevName, sizeof item.dev.DevName, f.name);
                        qelm::CopyBounded(item.dev.IPAddr, sizeof item.dev.IPAddr, f.addr);
                        qelm::CopyBounded(item.dev.DevId, sizeof item.dev.DevId, f.addr);
                    }
                    m_lstReopenPane.push_back(item);
                }
            }
            at = RemoveDeviceRecord(it, &gone, kModify);
            removed = true;
        }
        if (removed) {
            DeviceInfo base = g_SelDevInfo;
            base.RecFlag = 0;
            base.WatchFlag = 0;
            base.AuxPtzId = 0;
            base.StreamId1 = base.StreamId2 = 0;
            base.P2pLoginId = 0;
            base.pRtspEvent1 = base.pRtspEvent2 = nullptr;
            FillRowFromForm(base, f, true);
            qelm::CopyBounded(base.LoginPsw, sizeof base.LoginPsw, psw);
            qelm::CopyBounded(base.DevId, sizeof base.DevId, f.addr);
            // A multi-channel decoder keeps its own type while the choice did.
            const int shownType = g_SelDevInfo.DevType == 5 ? 5 : g_SelDevInfo.DevType + g_SelDevInfo.DovraNvr;
            if (g_SelDevInfo.DevType == 5 && f.type == shownType)
                base.DevType = 5;
            base.DovraNvr = f.type == 5 && base.DevType != 5 ? 1 : 0;
            if (base.DevType == 1 || base.DevType == 2 || base.DevType == 4 || base.DevType == 5) {
                base.NVRChannels = 0;
                base.CurNVRChannel = 0;
            }
            if (base.DevType == 4) {
                base.PtzPort = base.VideoPort + 1;
                base.CfgPort = std::atoi(f.ptzPort.c_str());
            }
            if (base.DevType == 0) {
                static const char* const kRes[5] = {"10", "20", "30", "40", "cif"};
                for (int k = 1; k <= 5; ++k) {
                    DeviceInfo row = base;
                    qelm::CopyBounded(row.DevName, sizeof row.DevName, std::string(base.DevId) + "-" + LoadResString(587 + k));
                    qelm::CopyBounded(row.Resolution, sizeof row.Resolution, kRes[k - 1]);
                    row.DefRes[0] = 0;
                    RegisterRow(row, kModify, false);
                    added.push_back(&*g_lstDevInfo.insert(at, row));
                }
            } else {
                DeviceInfo row = base;
                qelm::CopyBounded(row.DevName, sizeof row.DevName, f.name);
                if (row.OnvifDev) {
                    row.pAuxPtzCtrl = g_pAuxPtzCtrl;
                    row.pAuxPTZEvents = g_pAuxPTZEvents;
                    row.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
                    row.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
                    row.pRtspEvent1->SetUseProfileSize(1);
                    row.pRtspEvent2->SetUseProfileSize(1);
                    row.OnvifAlarmHandle = 0;
                    row.OnvifInfo = _OVF_DEV_INFO{};
                    row.OnvifInfoTries = 0;
                    // A camera at a new address has another service address.
                    if (f.addr != g_SelDevInfo.IPAddr)
                        row.OnvifSerAddr[0] = 0;
                } else {
                    RegisterRow(row, kModify, row.DevType != 2 && row.DevType != 5);
                }
                row.WatchFlag = 0;
                added.push_back(&*g_lstDevInfo.insert(at, row));
                m_DevInfo = row;
            }
            // The teardown took the old rows out of the plans; the planSlots are
            // in ascending order per plan, so inserting restores each place.
            for (const PlanSlot& slot : planSlots) {
                auto pos = slot.plan->lstDev.begin();
                std::advance(pos, std::min(slot.index, slot.plan->lstDev.size()));
                slot.plan->lstDev.insert(pos, added[std::min(slot.ordinal, added.size() - 1)]);
            }
        }
    }
    if (!removed)
        return ShowMsg(615);
    ReportRemovedDevices(gone);
    for (DeviceInfo* row : added)
        if (row->OnvifDev) {
            if (row->OnvifSerAddr[0])
                s->AddOnvifEntry(row);
            else
                QueryOnvifServiceAddr(row);
        }
    s->ReloadDevTrees();
    SaveDevInfo();
    ShowMsg(614);
    s->TsNotifyUpdateDeviceList();
    if (!m_lstReopenPane.empty())
        SetTimer(TIMER_REOPEN_PANES, kReopenDelayMs);
}

void CSettingDevInfoDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == TIMER_REOPEN_PANES) {
        KillTimer(TIMER_REOPEN_PANES);
        while (!m_lstReopenPane.empty()) {
            ReopenPaneItem item = m_lstReopenPane.front();
            m_lstReopenPane.pop_front();
            DeviceServices()->AddWatch(0, item.nPane, &item.dev);
        }
        return;
    }
    CDialog::OnTimer(nIDEvent);
}
