// The main window's forwarding operations, as the lower layers reach them.
#include "mainwnd/main_services.h"

#include "controls/onvif.h"
#include "controls/ts_relay.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/connect_status.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/nvr_talk.h"
#include "devices/onvif_profile.h"
#include "devices/onvif_supervision.h"
#include "liveview/pane_sink_targets.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/main_pages.h"
#include "platform/msgbox.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <cstring>

namespace {
HWND HandleOf(const CWnd* w)
{
    return w ? w->m_hWnd : nullptr;
}

void ShowMainMsg(CIPCClientDlg* o, unsigned stringId, int mode)
{
    if (o && o->MsgDlg())
        o->MsgDlg()->ShowMsgW(LoadResStringW(stringId).c_str(), mode);
}

// Grids in routing order: the main grid, then the further monitors' grids.
std::vector<CVideoManagerDlg*> Grids(const CIPCClientDlg* o, bool onlyShown)
{
    std::vector<CVideoManagerDlg*> grids;
    if (o->MainGrid())
        grids.push_back(o->MainGrid());
    if (!onlyShown || g_DispInfoSetting.MonitorMode)
        for (const MonitorInfo& m : o->Monitors())
            if (m.pVideoManager)
                grids.push_back(m.pVideoManager);
    return grids;
}
} // namespace

// --- device panel and supervision ---------------------------------------------

struct MainServices::Devices : IDeviceServices {
    explicit Devices(CIPCClientDlg* o) : o(o) {}
    CIPCClientDlg* o;

    HWND MainWnd() override { return o->m_hWnd; }
    void ReloadDevTrees() override { o->ReloadDevTrees(); }
    void UpdateDevTreeStatus() override { o->UpdateDevTreeStatus(); }
    void PlayDevInFreePane(DeviceInfo* d) override { o->PlayDevInFreePane(d); }
    void OnStopWatch(DeviceInfo* d, int flag) override
    {
        if (!d)
            return;
        WriteLog(6, "CIPCClientDlg::OnStopWatch(): Begin...");
        for (CVideoManagerDlg* grid : Grids(o, false))
            for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
                CVideoWnd* pane = grid->GetPane(i);
                if (pane && pane->IsWatching() && std::strcmp(pane->DevCopy().DevName, d->DevName) == 0 &&
                    std::strcmp(pane->DevCopy().DevId, d->DevId) == 0) {
                    grid->StopWatch(i, flag);
                    break;
                }
            }
        WriteLog(6, "CIPCClientDlg::OnStopWatch(): End.");
    }
    void RemoveOnvifDevice(const char* addr) override
    {
        if (o->m_pServices && addr)
            if (COnvifSupervisor* s = o->OnvifSupervisor())
                s->RemoveOnvifDevice(addr);
    }
    const char* LocalMac() override { return o->LocalMac(); }
    void SetRelayTarget(int t) override { o->m_bRelayToExtGrid = t; }
    bool ShowCfgSubPage(int subPage) override
    {
        if (subPage < 0 || subPage > 4)
            return false;
        o->ShowCfgSubPage(subPage);
        return true;
    }
    // A click on a device goes to the page shown: the search target on the
    // record search page, the pane showing it on the live page.
    void OnDevTreeSelDevice(DeviceInfo* d) override
    {
        if (g_nCurPage == 1) {
            SetSearchDevInfo(d);
            return;
        }
        CVideoManagerDlg* grid = o->MainGrid();
        if (g_nCurPage != 0 || !grid)
            return;
        if (d && d->WatchFlag)
            for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
                CVideoWnd* pane = grid->GetPane(i);
                if (pane && pane->IsWatching() && std::strcmp(pane->DevCopy().DevName, d->DevName) == 0) {
                    grid->SelectWnd(i);
                    return;
                }
            }
        if (CVideoWnd* focused = grid->GetPane(grid->GetSelectedIndex()))
            focused->SetSelected(0);
    }
    void SetSearchDevInfo(DeviceInfo* d) override
    {
        if (auto* page = dynamic_cast<ISearchRecForwards*>(o->Page("CSearchRecDlg")))
            page->SetSearchDevInfo(d);
    }

    int GridCount() override { return int(Grids(o, true).size()); }
    int GridPaneCount(int grid) override
    {
        auto grids = Grids(o, true);
        return grid >= 0 && grid < int(grids.size()) ? grids[grid]->GetShownCount() : 0;
    }
    void EmptyAllPanes() override
    {
        for (CVideoManagerDlg* grid : Grids(o, false))
            grid->RemoveAllWatch();
    }
    bool IsTalkOn() override { return o->MainGrid() && o->MainGrid()->IsTalkOn(); }
    int AddWatch(int grid, int pane, DeviceInfo* d) override
    {
        auto grids = Grids(o, true);
        if (grid < 0 || grid >= int(grids.size()))
            return -1;
        return grids[grid]->AddWatch(pane, d, 1, 0, 0, 1, 1, 1);
    }
    int GridSetSpeakStatus(int grid, const char* key, int value) override
    {
        auto grids = Grids(o, false);
        return grid >= 0 && grid < int(grids.size()) ? grids[grid]->SetSpeakStatus(key, value) : -1;
    }

    void OnvifUnsetAlarm(int32_t handle) override { OVF_UnSetCallBackAlarmInfo(handle); }
    void AddOnvifEntry(DeviceInfo* d) override { ::AddOnvifEntry(d); }
    void TsNotifyUpdateDeviceList() override { TS_NotifyUpdateDeviceList(); }
    void TsReportDeviceState(const char* name, int ch, int state) override { TS_ReportDeviceState(name, ch, state); }
    int TsInviteDeviceVideo(int login, const char* name, int flag, int ch) override
    {
        return TS_InviteDeviceVideo(login, name, flag, ch);
    }

    bool IsClosing() override { return o->IsClosing() != 0 || o->m_bCloseAllowed != 0; }
    bool HasRecScheduler() override { return o->HasRecScheduler(); }
    void ShowMsg(int owner, int stringId, unsigned mode) override
    {
        if (owner == kMsgGrid && o->MainGrid() && o->MainGrid()->MsgDlg())
            o->MainGrid()->MsgDlg()->ShowMsgW(LoadResStringW(unsigned(stringId)).c_str(), int(mode));
        else
            ShowMainMsg(o, unsigned(stringId), int(mode));
    }
    bool HasRecordPage() override
    {
        auto* cfg = dynamic_cast<ICfgManagerForwards*>(o->Page("CCfgManagerDlg"));
        return cfg && cfg->HasRecordPage();
    }
    void AddDeviceToDefaultStrategy(const DeviceInfo& d) override
    {
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(o->Page("CCfgManagerDlg")))
            cfg->AddDeviceToDefaultStrategy(d);
    }
    void EnsureDefaultStrategy() override
    {
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(o->Page("CCfgManagerDlg")))
            cfg->EnsureDefaultStrategy();
    }
    void SetMainTimer(unsigned id, unsigned ms) override { o->SetTimer(id, ms); }
    void KillMainTimer(unsigned id) override { o->KillTimer(id); }
    int AskYesNo(unsigned stringId) override
    {
        return MessageBoxA(o->m_hWnd, LoadResString(stringId).c_str(), g_strTitle.c_str(), MB_YESNO);
    }
    void PlayGroup(const char* name) override
    {
        if (CDeviceListDlg* panel = o->DeviceList()) {
            panel->SelectGroupItem(name);
            panel->OnAutoPlayGroup();
        }
    }
};

// --- live view ------------------------------------------------------------------

struct MainServices::LiveView : ILiveViewHost {
    explicit LiveView(CIPCClientDlg* o) : o(o) {}
    CIPCClientDlg* o;

    HWND MainWnd() override { return o->m_hWnd; }
    void SetActiveVideoMgr(CVideoManagerDlg* g) override { o->m_pActiveVideoMgr = g; }
    CVideoManagerDlg* MainGrid() override { return o->MainGrid(); }
    std::vector<CVideoManagerDlg*> ExtGrids() override
    {
        std::vector<CVideoManagerDlg*> grids;
        for (const MonitorInfo& m : o->Monitors())
            if (m.pVideoManager)
                grids.push_back(m.pVideoManager);
        return grids;
    }
    void UpdateDevTreeStatus() override { o->UpdateDevTreeStatus(); }
    void SelectDevTreeDevice(const DeviceInfo* d) override
    {
        if (o->DeviceList() && d)
            o->DeviceList()->SelectDevItem(d);
    }
    void SelectDevTreeVssChannel(const RelayDevItem* e) override
    {
        if (o->DeviceList() && e)
            o->DeviceList()->SelectVssChannel(e);
    }
    void ReleaseAudioCodec(int keep) override
    {
        if (CNvrTalkAudio* talk = o->NvrTalk())
            talk->ReleaseAudioCodec(keep);
    }
    bool IsLoginServerMode() override { return g_bUseLoginSvr != 0; }
    void AppendRcvStatus(const char*, DeviceInfo* d, int, int, uint32_t) override
    {
        if (d)
            AddRcvStatus(*d);
    }
    void FlushRcvStatus(const char* devId) override { ::FlushRcvStatus(devId); }
};

// --- media sinks ------------------------------------------------------------------

struct MainServices::Sinks : IMediaSinkTargets {
    explicit Sinks(CIPCClientDlg* o) : o(o) {}
    CIPCClientDlg* o;

    HWND MainWnd() override { return o->m_hWnd; }
    HWND PtzPanelWnd() override { return HandleOf(o->Page("CPTZDlg")); }
    HWND SearchRecWnd() override { return HandleOf(o->Page("CSearchRecDlg")); }
    HWND MaintPageWnd() override { return nullptr; }
    void OnNVRSpeakMediaData(int32_t id, const uint8_t* data, int32_t length, const int32_t* value) override
    {
        if (CNvrTalkAudio* talk = o->NvrTalk())
            talk->OnNVRSpeakMediaData(id, data, length, value);
    }
    int OnNVRSpeakParam(int32_t id, char* xml) override
    {
        if (CNvrTalkAudio* talk = o->NvrTalk())
            return talk->OnNVRSpeakParam(id, xml);
        qelm::FreeText(xml);
        return -1;
    }
    // The record search page takes these once it is built.
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t id, int32_t value) override
    {
        if (auto* page = dynamic_cast<ISearchRecDownloads*>(o->Page("CSearchRecDlg")))
            page->OnTimeDownloadProgress(id, value);
    }
    bool IsAlarmPane(CWnd*) override { return false; }
    bool IsMapPane(CWnd*) override { return false; }
    void ResetWatchInfo(CWnd*) override {}
};

// --- recording threads ----------------------------------------------------------

struct MainServices::Records : IRecordTargets {
    explicit Records(CIPCClientDlg* o) : mac(o->LocalMac()) {}
    // Copied: the recording threads may ask while the window closes.
    std::string mac;

    void TsReportDeviceState(const char* name, int ch, int state) override { TS_ReportDeviceState(name, ch, state); }
    std::string LocalMac() override { return mac; }
    HWND RecPageWnd() override { return nullptr; }
    bool IsLoginServerMode() override { return g_bUseLoginSvr != 0; }
    int OvfGetDevInfo(const char* addr, const char* user, const char* pwd, _OVF_DEV_INFO* info) override
    {
        return OVF_GetDevInfo(addr, user, pwd, info);
    }
    bool GetOnvifStreamProfile(const _OVF_DEV_INFO* info, int index, StreamProfile* profile) override
    {
        return ::GetOnvifStreamProfile(info, index, profile) == 0;
    }
};

// --- broadcast page -----------------------------------------------------------------

struct MainServices::Broadcast : IBroadcastServices {
    explicit Broadcast(CIPCClientDlg* o) : o(o) {}
    CIPCClientDlg* o;

    const std::vector<QIcon>* StateIcons() override { return &CDevTree::GetInstance()->m_ImageList; }
    CAuxPtzCtrl* AuxPtzCtrl() override { return g_pAuxPtzCtrl; }
    void ShowMsg(unsigned stringId, int mode) override { ShowMainMsg(o, stringId, mode); }
};

MainServices::MainServices(CIPCClientDlg* o)
    : owner(o), devices(std::make_unique<Devices>(o)), liveView(std::make_unique<LiveView>(o)),
      sinks(std::make_unique<Sinks>(o)), records(std::make_unique<Records>(o)),
      broadcast(std::make_unique<Broadcast>(o))
{
}

MainServices::~MainServices()
{
    Unregister();
}

void MainServices::Register()
{
    SetDeviceServices(devices.get());
    SetLiveViewHost(liveView.get());
    SetMediaSinkTargets(sinks.get());
    RegisterLiveViewSinkTargets(); // the panes' answers in front of ours
    SetRecordTargets(records.get());
    SetBroadcastServices(broadcast.get());
    CIPCClientDlg* o = owner;
    CResMsgDlg::SetModeActions({[o] { o->ExitApp(); }, {}});
    registered = true;
}

void MainServices::Unregister()
{
    if (!registered)
        return;
    registered = false;
    CResMsgDlg::SetModeActions({});
    SetBroadcastServices(nullptr);
    SetRecordTargets(nullptr);
    SetMediaSinkTargets(nullptr);
    RegisterLiveViewSinkTargets(); // the panes' answers now wrap nothing
    SetLiveViewHost(nullptr);
    SetDeviceServices(nullptr);
}
