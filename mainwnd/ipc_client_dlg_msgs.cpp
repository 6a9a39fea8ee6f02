// CIPCClientDlg: the private messages the main window receives. Every heap
// payload is freed here on every path; a message that arrives after the
// window is gone is freed by the window layer with the poster's deleter.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/alarm_info.h"
#include "controls/ts_relay.h"
#include "core/log.h"
#include "core/thread.h"
#include "devices/cloud_notices.h"
#include "devices/dev_status.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "devices/nvr_channels.h"
#include "devices/onvif_supervision.h"
#include "liveview/video_manager_dlg.h"
#include "media/rec_targets.h"
#include "media/sink_targets.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <memory>

BEGIN_MESSAGE_MAP(CIPCClientDlg, CDialog)
    ON_MESSAGE(WM_ONVIF_STATUS, &CIPCClientDlg::OnOnvifStatus)
    ON_MESSAGE(WM_DEVLIST_RELOAD, &CIPCClientDlg::OnDevListReload)
    ON_MESSAGE(WM_DEVSTATUS_REFRESH, &CIPCClientDlg::OnDevStatusRefresh)
    ON_MESSAGE(WM_DEV_STATUS, &CIPCClientDlg::OnDevStatusMsg)
    ON_MESSAGE(WM_STREAM_STATUS, &CIPCClientDlg::OnStreamStatusMsg)
    ON_MESSAGE(WM_NVR_CHANNEL_LIST, &CIPCClientDlg::OnNvrChannelListMsg)
    ON_MESSAGE(WM_CHANNEL_STATES, &CIPCClientDlg::OnChannelStatesMsg)
    ON_MESSAGE(WM_VSS_LOGIN_OK, &CIPCClientDlg::OnVssLoginOk)
    ON_MESSAGE(WM_VSS_LOGIN_FAILED, &CIPCClientDlg::OnVssLoginFailed)
    ON_MESSAGE(WM_START_THREAD_DONE, &CIPCClientDlg::OnStartThreadDone)
    ON_MESSAGE(WM_CLOUD_LINK_END, &CIPCClientDlg::OnCloudLinkEnd)
    ON_MESSAGE(WM_CLOUD_NOTIFY, &CIPCClientDlg::OnCloudNotify)
    ON_MESSAGE(WM_TS_LOGIN_CHECK, &CIPCClientDlg::OnTsLoginCheck)
END_MESSAGE_MAP()

namespace {
bool RelayHook(UINT msg, WPARAM w, LPARAM l, LRESULT* result)
{
    const auto& hook = MainHooks().relayMessage;
    return hook && hook(msg, w, l, result);
}
} // namespace

LRESULT CIPCClientDlg::OnOnvifStatus(WPARAM w, LPARAM l)
{
    if (m_pOnvif)
        return m_pOnvif->OnOnvifStatus(w, l);
    delete reinterpret_cast<OnvifDeviceEntry*>(w);
    return w ? 0 : -1;
}

LRESULT CIPCClientDlg::OnDevListReload(WPARAM, LPARAM)
{
    ReloadDevTrees();
    return 0;
}

LRESULT CIPCClientDlg::OnDevStatusRefresh(WPARAM, LPARAM)
{
    UpdateDevTreeStatus();
    return 0;
}

LRESULT CIPCClientDlg::OnDevStatusMsg(WPARAM w, LPARAM l)
{
    OnDevStatusResponse(int32_t(w), int32_t(l));
    return 0;
}

LRESULT CIPCClientDlg::OnStreamStatusMsg(WPARAM w, LPARAM l)
{
    OnStreamStatus(reinterpret_cast<char*>(w), int32_t(l)); // frees the id block
    return 0;
}

LRESULT CIPCClientDlg::OnNvrChannelListMsg(WPARAM w, LPARAM l)
{
    OnNvrChannelList(int32_t(w), reinterpret_cast<char*>(l)); // frees the text
    return 0;
}

LRESULT CIPCClientDlg::OnChannelStatesMsg(WPARAM w, LPARAM l)
{
    OnChannelStates(w, reinterpret_cast<char*>(l)); // frees the text
    return 0;
}

LRESULT CIPCClientDlg::OnVssLoginOk(WPARAM w, LPARAM l)
{
    LRESULT r = 0;
    if (!RelayHook(WM_VSS_LOGIN_OK, w, l, &r)) // the relay bridge takes the record
        delete reinterpret_cast<Qelm2Node*>(w);
    if (l == 1 && m_pQelm2Login) {
        m_pQelm2Login->Join();
        delete m_pQelm2Login;
        m_pQelm2Login = nullptr;
    }
    return r;
}

LRESULT CIPCClientDlg::OnVssLoginFailed(WPARAM w, LPARAM l)
{
    LRESULT r = 0;
    if (!RelayHook(WM_VSS_LOGIN_FAILED, w, l, &r))
        delete reinterpret_cast<Qelm2Node*>(w);
    return r;
}

LRESULT CIPCClientDlg::OnStartThreadDone(WPARAM, LPARAM)
{
    if (m_pStartThread) {
        m_pStartThread->Join();
        delete m_pStartThread;
        m_pStartThread = nullptr;
    }
    return 0;
}

LRESULT CIPCClientDlg::OnCloudLinkEnd(WPARAM w, LPARAM l)
{
    if (m_pCloud)
        return m_pCloud->OnCloudLinkEnd(w, l);
    return 0;
}

LRESULT CIPCClientDlg::OnCloudNotify(WPARAM w, LPARAM l)
{
    if (m_pCloud)
        return m_pCloud->OnCloudNotify(w, l);
    delete[] reinterpret_cast<uint8_t*>(l);
    return 0;
}

LRESULT CIPCClientDlg::OnTsLoginCheck(WPARAM w, LPARAM l)
{
    // Sent by the library; 0 accepts. Without the relay bridge nobody can
    // check the peer, so it is refused.
    LRESULT r = 1;
    if (RelayHook(WM_TS_LOGIN_CHECK, w, l, &r))
        return r;
    return 1;
}

bool CIPCClientDlg::PreTranslateStopTalk(MSG* pMsg)
{
    if (!m_pVideoManagerDlg || !m_pVideoManagerDlg->IsTalkOn())
        return false;
    const int32_t streamId = int32_t(pMsg->wParam);
    for (DeviceInfo& d : g_lstDevInfo) {
        if (d.StreamId1 != streamId && d.StreamId2 != streamId)
            continue;
        if (m_pVideoManagerDlg->OnStopSpeak(d.DevName) == 0 && m_pResMsgDlg)
            m_pResMsgDlg->ShowMsgW(LoadResStringW(276).c_str(), CResMsgDlg::MODE_INFO);
        break;
    }
    return false; // goes on through the base pre-translation
}

bool CIPCClientDlg::PreTranslateDevAlarm(MSG* pMsg)
{
    std::unique_ptr<_ALARM_SOURCE> source(reinterpret_cast<_ALARM_SOURCE*>(pMsg->wParam));
    std::unique_ptr<_ALARM_INFO> info(reinterpret_cast<_ALARM_INFO*>(pMsg->lParam));
    if (source && info)
        DispatchDeviceAlarm(source.get(), info.get());
    SetTimer(kTimerAlarmButton, 1000);
    return true; // consumed: the payloads were ours
}

BOOL CIPCClientDlg::PreTranslateMessage(MSG* pMsg)
{
    // Enter, Space, Escape and Alt+F4 first (ipc_client_dlg_commands.cpp).
    if (PreTranslateKeys(pMsg))
        return TRUE;
    if (pMsg->hwnd == m_hWnd) {
        if (pMsg->message == WM_STOP_TALK)
            PreTranslateStopTalk(pMsg);
        else if (pMsg->message == WM_DEV_ALARM)
            return PreTranslateDevAlarm(pMsg);
        else if (pMsg->message >= WM_TS_REQUEST_FIRST && pMsg->message <= WM_TS_REQUEST_LAST) {
            // The relay bridge handles the library's range; what it leaves
            // goes back to the library through the layer's deleter.
            LRESULT r = 0;
            if (RelayHook(pMsg->message, pMsg->wParam, pMsg->lParam, &r))
                return TRUE;
        } else if (pMsg->message == WM_REPLAY_END || pMsg->message == WM_DOWNLOAD_END ||
                   pMsg->message == WM_REPLAY_BYDATE_END) {
            LRESULT r = 0;
            RelayHook(pMsg->message, pMsg->wParam, pMsg->lParam, &r);
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(pMsg);
}
