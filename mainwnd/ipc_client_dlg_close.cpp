// CIPCClientDlg: closing. The close button stops the recording threads and
// arms the exit timer; the exit routine ends the watchdog and allows the
// close; the close handler shuts the machinery down and destroys the pages.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/onvif.h"
#include "controls/ts_relay.h"
#include "core/helpers.h"
#include "core/log.h"
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
#include "mainwnd/main_services.h"
#include "mainwnd/page_dlg.h"
#include "media/control_wrappers.h"
#include "media/rec_file_manager.h"
#include "media/rec_scheme_manager.h"
#include "media/rtsp_events.h"
#include "platform/sync.h"
#include "ui/res_msg_dlg.h"

#include <QImage>

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

void CIPCClientDlg::OnBnClickedClose()
{
    if (m_bClosing)
        return;
    m_bClosing = 1;
    if (m_pRecSchemeManager) {
        WriteLog(6, "CIPCClientDlg::OnClose():Stop record thread.");
        m_pRecSchemeManager->Stop();
        delete m_pRecSchemeManager;
        m_pRecSchemeManager = nullptr;
    }
    if (m_pRecFileManager) {
        WriteLog(6, "CIPCClientDlg::OnClose():Stop record file manager thread.");
        m_pRecFileManager->Stop();
        delete m_pRecFileManager;
        m_pRecFileManager = nullptr;
    }
    SetTimer(kTimerExit, 500);
}

void CIPCClientDlg::ExitApp()
{
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
    if (!m_bCloseAllowed)
        return;
    if (m_bDestroyed)
        return;

    // The recording threads go before any sink (the mode-8 exit skips the
    // close button).
    m_bClosing = 1;
    if (m_pRecSchemeManager) {
        m_pRecSchemeManager->Stop();
        delete m_pRecSchemeManager;
        m_pRecSchemeManager = nullptr;
    }
    if (m_pRecFileManager) {
        m_pRecFileManager->Stop();
        delete m_pRecFileManager;
        m_pRecFileManager = nullptr;
    }
    // The workers post to this window and to its pages: they end first.
    StopWorkers();

    // ONVIF event subscriptions: each unsubscribe may wait for a silent
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

    KillTimer(100);
    KillTimer(kTimerDevTree);
    KillTimer(kTimerAlarmBlink);
    KillTimer(kTimerAlarmButton);
    CDevTree::GetInstance()->StopP2PStatusThread();

    CloseAllStreams();

    WriteLog(6, "CIPCClientDlg::OnClose():save the surveillance status");
    if (m_pVideoManagerDlg) {
        m_pVideoManagerDlg->SaveSurStatus();
        SaveRecoverInfo();
        m_pVideoManagerDlg->RemoveAllWatch();
    }

    for (const Qelm2Node& server : g_lstRelayServer)
        TS_LoginOut(server.LoginId);

    WriteLog(6, "CIPCClientDlg::OnClose():Release all com control.");
    if (g_pAuxPtzCtrl)
        g_pAuxPtzCtrl->CloseAll();
    WriteLog(6, "CIPCClientDlg::OnClose(): RTSP pull control stop all.");
    if (g_pRtspPullCtrl)
        g_pRtspPullCtrl->StopAll();
    WriteLog(6, "CIPCClientDlg::OnClose(): Delete pRtspEvent1 && pRtspEvent2");
    DeleteDeviceSinks();
    TS_StopTS();
    if (m_pCloud)
        m_pCloud->CloseSession();

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
