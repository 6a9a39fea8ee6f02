// CIPCClientDlg: closing. The close button closes web-page boxes, asks for
// the operator's password, stops the recording threads and arms the exit
// timer; the exit routine stops the plans' recordings, ends the watchdog and
// allows the close; the close handler shuts the machinery down in its order
// and destroys the pages.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/onvif.h"
#include "controls/ts_relay.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/recover.h"
#include "core/thread.h"
#include "core/userinfo.h"
#include "devices/cloud_notices.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "devices/first_run.h"
#include "devices/nvr_talk.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/close_steps.h"
#include "mainwnd/login_dlg.h"
#include "mainwnd/main_pages.h"
#include "mainwnd/main_services.h"
#include "mainwnd/page_dlg.h"
#include "media/control_wrappers.h"
#include "media/rec_file_manager.h"
#include "media/rec_scheme_manager.h"
#include "media/rtsp_events.h"
#include "platform/find_window.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "ui/res_msg_dlg.h"

#include <QImage>

#include <tinyxml.h>

#include <thread>
#include <vector>

namespace {
constexpr char kWatchExe[] = "Watch";

template <class T> void DestroyPage(T*& page)
{
    if (!page)
        return;
    page->DestroyWindow();
    delete page;
    page = nullptr;
}
} // namespace

void CIPCClientDlg::OnOK() {}
// Esc, Alt+F4 and the system close end in the ignored WM_CLOSE below.
void CIPCClientDlg::OnCancel() {}

void CIPCClientDlg::CloseWebPageBoxes()
{
    static const char* const kCaptions[] = {"来自网页的消息", "Windows Internet Explorer",
                                            "Microsoft Internet Explorer", "Message from webpage"};
    for (const char* caption : kCaptions) {
        HWND box = FindWindowA(nullptr, caption);
        if (!box)
            continue;
        if (CWnd* w = CWnd::FromHandle(box))
            w->SetForegroundWindow();
        ::SendMessage(box, WM_CLOSE, 0, 0);
    }
}

int CIPCClientDlg::RunVerifyLogin(int unlock)
{
    if (m_fnVerifyLogin)
        return m_fnVerifyLogin(unlock);
    // The exit confirmation has no parent; the unlock belongs to this window.
    CLoginDlg verify(unlock ? this : nullptr, 1, unlock);
    return int(verify.DoModal());
}

void CIPCClientDlg::StopRecordThreads(bool logged)
{
    // Stop joins each thread, so no pause is needed for it to wind down.
    if (m_pRecSchemeManager) {
        if (logged)
            WriteLog(6, "CIPCClientDlg::OnClose():Stop record thread.");
        m_pRecSchemeManager->Stop();
        delete m_pRecSchemeManager;
        m_pRecSchemeManager = nullptr;
    }
    if (m_pRecFileManager) {
        if (logged)
            WriteLog(6, "CIPCClientDlg::OnClose():Stop record file manager thread.");
        m_pRecFileManager->Stop();
        delete m_pRecFileManager;
        m_pRecFileManager = nullptr;
    }
}

void CIPCClientDlg::OnBnClickedClose()
{
    // Past the confirmation there is no way back; a second click changes nothing.
    if (m_bClosing)
        return;
    RunCloseSteps(CloseStage::LinkageOff);
    CloseWebPageBoxes();
    m_bClosing = 1;
    if (g_DispInfoSetting.ExitConfirm == 1 && RunVerifyLogin(0) == IDCANCEL) {
        m_bClosing = 0;
        return;
    }
    StopRecordThreads(true);
    SetTimer(kTimerExit, 500);
}

void CIPCClientDlg::ExitApp()
{
    // The plans' running recordings stop without a scheduler: it is gone by now.
    {
        CRecSchemeManager stopper(nullptr);
        for (RecScheme* plan : g_lstRecSchemeInfo)
            if (plan && plan->OnOff == 1)
                stopper.OnStopRecord(plan, plan->SchemeName, 0);
    }
    m_bRecordAll = 0;
    m_bCloseAllowed = 1;
    // The watchdog goes first, so the client's own exit is not taken for a crash.
    WriteLog(1, "TerminProcessByName Watch.exe start...");
    TerminProcessByName(kWatchExe);
    WriteLog(1, "TerminProcessByName Watch.exe start...");
    Sleep(200);
    if (MainHooks().publishWindow)
        MainHooks().publishWindow(nullptr);
    PostMessage(WM_CLOSE, 0, 0);
}

void CIPCClientDlg::CloseAllStreams()
{
    for (DeviceInfo& d : g_lstDevInfo) {
        CRtspEvents* sinks[] = {d.pRtspEvent1, d.pRtspEvent2};
        int32_t* ids[] = {&d.StreamId1, &d.StreamId2};
        for (int i = 0; i < 2; ++i) {
            if (!sinks[i] || sinks[i]->GetStreamId() == 0)
                continue;
            sinks[i]->DeleteStream();
            sinks[i]->CloseLiveRelay();
            *ids[i] = 0;
        }
    }
}

void CIPCClientDlg::OnClose()
{
    // Only the exit routine opens the way; the system close and other
    // programs' WM_CLOSE are ignored until then.
    if (!m_bCloseAllowed)
        return;
    if (m_bDestroyed)
        return;

    // The recording threads go before any sink (the mode-8 exit skips the
    // close button).
    m_bClosing = 1;
    StopRecordThreads(false);
    // The workers post to this window and to its pages: they end first.
    StopWorkers();

    // 1. ONVIF event subscriptions: each unsubscribe may wait for a silent
    // camera's time-out, so they run side by side, not one after another.
    std::vector<int32_t> handles;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (d.OnvifDev == 1 && d.OnvifAlarmHandle != 0) {
                handles.push_back(d.OnvifAlarmHandle);
                d.OnvifAlarmHandle = 0;
            }
    }
    {
        std::vector<std::thread> unsubscribes;
        for (int32_t h : handles)
            unsubscribes.emplace_back([h] { OVF_UnSetCallBackAlarmInfo(h); });
        for (std::thread& t : unsubscribes)
            t.join();
    }

    // 2. The parent-server devices watched now, reopened at the next start.
    SaveRemoteDevInfo();
    // 3.-5. Relay replays, relay sessions with their downloads, the alarm-log
    // writer: each is stopped and joined here, before anything they use goes.
    if (auto* search = dynamic_cast<ISearchRecForwards*>(m_pSearchRecDlg))
        search->StopAllRelayReplay();
    RunCloseSteps(CloseStage::RelayReplays);
    RunCloseSteps(CloseStage::RelaySessions);
    RunCloseSteps(CloseStage::AlarmLogWriter);

    // 6.
    KillTimer(100);
    KillTimer(kTimerDevTree);
    KillTimer(kTimerAlarmBlink);
    KillTimer(kTimerAlarmButton);
    CDevTree::GetInstance()->StopP2PStatusThread();

    // 7.
    CloseAllStreams();

    // 8. Only the main grid is saved; the further grids' entries stay as
    // their grids last saved them.
    WriteLog(6, "CIPCClientDlg::OnClose():save the surveillance status");
    if (m_pVideoManagerDlg) {
        m_pVideoManagerDlg->SaveSurStatus();
        SaveRecoverInfo();
        m_pVideoManagerDlg->RemoveAllWatch();
    }

    // 9.
    for (const Qelm2Node& server : g_lstRelayServer)
        TS_LoginOut(server.LoginId);

    // 10.-13.
    WriteLog(6, "CIPCClientDlg::OnClose():Release all com control.");
    if (g_pAuxPtzCtrl)
        g_pAuxPtzCtrl->CloseAll();
    WriteLog(6, "CIPCClientDlg::OnClose(): RTSP pull control stop all.");
    if (g_pRtspPullCtrl)
        g_pRtspPullCtrl->StopAll();
    WriteLog(6, "CIPCClientDlg::OnClose(): Delete pRtspEvent1 && pRtspEvent2");
    DeleteDeviceSinks();
    // 14.
    TS_StopTS();
    // 15. The alarm server's logout (a session exists only after a cloud login).
    if (m_pCloud)
        m_pCloud->CloseSession();

    RunCloseSteps(CloseStage::BeforePages);
    // 16., 17.
    DestroyActiveDlg();
    EndDialog(IDOK);
}

void CIPCClientDlg::DestroyActiveDlg()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    WriteLog(6, "CIPCClientDlg::DestroyActiveDlg(): Begin destroy active dialog.");
    // Nothing below may call back into a page that is going.
    TS_SetMsgWnd(nullptr);
    if (m_pServices)
        m_pServices->Unregister();
    SetMemoryGuardWindow(nullptr);
    m_pFirstRun.reset();
    m_dcMarquee.reset();

    DestroyPage(m_pVideoManagerDlg);
    for (MonitorInfo& m : m_lstMonitorInfo)
        DestroyPage(m.pVideoManager);
    DestroyPage(m_pPageDlg);
    DestroyPage(m_pVideoToolbarDlg);
    DestroyPage(m_pLogToolDlg);
    DestroyPage(m_pDeviceListDlg);
    DestroyPage(m_pPTZDlg);
    DestroyPage(m_pAlarmListDlg);
    DestroyPage(m_pSearchAlarmDlg);
    if (auto* search = dynamic_cast<ISearchRecForwards*>(m_pSearchRecDlg))
        search->DestroyPlayers();
    DestroyPage(m_pSearchRecDlg);
    DestroyPage(m_pCfgManagerDlg);
    DestroyPage(m_pResMsgDlg);
    DestroyPage(m_pAlmActDlg);
    DestroyPage(m_pTVWallManager);
    DestroyPage(m_pMapManagerDlg);
    DestroyPage(m_pDrawTVwallDlg);
    DestroyPage(m_pSysSettingDlg);
    if (m_pNvrTalk)
        m_pNvrTalk->ReleaseAudioCodec(0);
    WriteLog(6, "CIPCClientDlg::DestroyActiveDlg(): End destroy active dialog.");
}

void CIPCClientDlg::SaveRemoteDevInfo()
{
    // Rewritten whole: the parent-server channels shown now (states 2 and 4).
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "gb2312", ""));
    auto* root = new TiXmlElement("DevList");
    doc.LinkEndChild(root);
    for (const Qelm2Node& server : g_lstRelayServer) {
        if (!server.pDevList)
            continue;
        for (const RelayDevItem& ch : *server.pDevList) {
            if (ch.State != 2 && ch.State != 4)
                continue;
            auto* e = new TiXmlElement("Dev");
            e->SetAttribute("ParentIp", qelm::cfg::ToFileText(server.IPAddr));
            e->SetAttribute("ParentPort", server.nPort);
            e->SetAttribute("MyIp", qelm::cfg::ToFileText(ch.Ip));
            e->SetAttribute("Mac", qelm::cfg::ToFileText(ch.Mac));
            e->SetAttribute("DevName", qelm::cfg::ToFileText(ch.DevName));
            root->LinkEndChild(e);
        }
    }
    const std::string path = ConfigFilePath("RemoteDevInfo.xml");
    if (!qelm::cfg::SaveXmlFile(path, doc))
        WriteLog(3, "CIPCClientDlg::SaveRemoteDevInfo(): cannot write %s", path.c_str());
}
