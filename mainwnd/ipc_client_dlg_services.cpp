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
    void OnStopWatch(DeviceInfo* d, int flag) override { o->OnStopWatch(d, flag); }
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
    // Tree clicks, drops and the settings pages' refreshes: the main window routes them.
    void OnDevTreeSelDevice(DeviceInfo* d) override { o->OnDevTreeSelDevice(d); }
    void OnDevTreeSelVssChannel(RelayDevItem* e) override { o->OnDevTreeSelVssChannel(e); }
    void ShowDevGroupInfo(DevGroupInfo* g) override { o->ShowDevGroupInfo(g); }
    void ShowRecScheme(RecScheme* plan) override { o->ShowRecScheme(plan); }
    void DropDevToPane(HWND target, DeviceInfo* d, CPoint) override { o->DropDevToPane(CWnd::FromHandle(target), d); }
    void DropDecoderToTVWall(DeviceInfo* d, CPoint pt) override { o->DropDecoderToTVWall(pt.x, pt.y, d); }
    void DropCameraToTVWall(DeviceInfo* d, CPoint pt) override { o->DropCameraToTVWall(pt.x, pt.y, d); }
    void DropDevToMap(DeviceInfo* d, CPoint pt) override { o->DropDevToMap(pt.x, pt.y, d); }
    void ReloadRecSchemeTree() override { o->ReloadRecSchemeTree(); }
    void RefreshUserTree() override { o->RefreshUserTree(); }
    void RefreshRoleTree() override { o->RefreshRoleTree(); }
    void SelectDevTreeItemByText(const char* text) override { o->SelectDevTreeItemByText(text); }
    void SetDefaultRecordFlag(int on) override { o->m_bRecordAll = on ? 1 : 0; }
    void ClearDefaultRecordFlag() override { o->m_bRecordAll = 0; }
    void SetDefaultRecordCaption(unsigned id) override
    {
        if (auto* cfg = dynamic_cast<ICfgManagerForwards*>(o->Page("CCfgManagerDlg")))
            cfg->SetRecordButtonCaption(id);
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
    void SelectDevTreeDevice(const DeviceInfo* d) override { o->SelectDevTreeDevice(d); }
    void SelectDevTreeVssChannel(const RelayDevItem* e) override { o->SelectDevTreeVssChannel(e); }
    bool SetDigitalZoomMode(int mode) override
    {
        o->SetDigitalZoomMode(mode);
        return true;
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
    ISearchRecForwards* SearchPage() { return dynamic_cast<ISearchRecForwards*>(o->Page("CSearchRecDlg")); }
    void OnMediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* pointer, int32_t) override
    {
        if (ISearchRecForwards* page = SearchPage())
            page->OnMediaDataRecv(id, data, length, reinterpret_cast<const uint8_t*>(pointer));
    }
    void OnMediaParamRecv(int32_t id, char* xml, int32_t kind) override
    {
        if (ISearchRecForwards* page = SearchPage())
            page->OnMediaParamRecv(id, xml, kind);
        else
            qelm::FreeText(xml);
    }
    void OnNVRReplayEnd(int32_t id, int32_t code, int32_t channel) override
    {
        if (ISearchRecForwards* page = SearchPage())
            page->OnNVRReplayEnd(id, code, channel);
    }
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
