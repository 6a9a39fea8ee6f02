// CIPCClientDlg: the start-up chain and the periodic chores on window timers.
#include "mainwnd/ipc_client_dlg.h"

#include "core/app_init.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/thread.h"
#include "core/userinfo.h"
#include "devices/cloud_notices.h"
#include "devices/connect_status.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "devices/first_run.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/login_globals.h"
#include "media/rec_file_manager.h"
#include "media/rec_scheme_manager.h"
#include "platform/netguard.h"
#include "platform/paths.h"
#include "ui/gdip_button.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kBlinkTicks = 10;
} // namespace

void CIPCClientDlg::OnTimer(UINT_PTR id)
{
    // After the close nothing starts again: the pages and workers are gone.
    if (m_bDestroyed) {
        KillTimer(id);
        return;
    }
    // Tested in this order; one-shot timers kill themselves first.
    if (id == kTimerUnused) {
        KillTimer(id);
        return;
    }
    if (id == kTimerDevTree)
        OnTimerDevTree();
    if (id == kTimerArp) {
        // The system's ARP cache is not this program's to flush here; a
        // loopback-only run would refuse it anyway.
        WriteLog(6, "CIPCClientDlg::OnTimer(): clear arp cache%s", qelm::LoopbackOnly() ? " (refused: loopback only)" : "");
    }
    if (id == kTimerRecovery)
        OnTimerRecovery();
    if (id == kTimerRelayLogin)
        OnTimerRelayLogin();
    if (id == kTimerWatchdog)
        OnTimerWatchdog();
    if (id == kTimerCloudAlarm)
        OnTimerCloudAlarm();
    if (id == kTimerRemoteVideo)
        OnTimerRemoteVideo();
    if (id == CFirstRunDiscovery::kTimerSearch || id == CFirstRunDiscovery::kTimerPlayDefault) {
        if (m_pFirstRun)
            m_pFirstRun->OnTimer(unsigned(id));
        CDialog::OnTimer(id);
        return;
    }
    if (id == kTimerTreeStatus)
        UpdateDevTreeStatus();
    if (id == kTimerAlarmBlink)
        OnTimerAlarmBlink();
    if (id == kTimerAlarmButton)
        OnTimerAlarmButton();
    if (id == kTimerMarquee)
        OnTimerMarquee();
    if (id == kTimerExit) {
        KillTimer(kTimerExit);
        ExitApp();
    }
    if (id == kTimerConnectStatus)
        OnConnectStatusTimer();
    if (id == kTimerCloudPoll)
        KillTimer(kTimerCloudPoll); // nothing sets it; no cloud device-list thread is started
    CDialog::OnTimer(id);
}

void CIPCClientDlg::OnTimerDevTree()
{
    KillTimer(kTimerDevTree);
    WriteLog(6, "CIPCClientDlg::OnTimer(): init device tree.");
    CDevTree::GetInstance()->Init();
    if (m_pDeviceListDlg)
        m_pDeviceListDlg->OnBnClickedBtnOrigGroup();
    SetTimer(kTimerRecovery, 2000);
}

void CIPCClientDlg::OnTimerRecovery()
{
    KillTimer(kTimerRecovery);
    WriteLog(6, "CIPCClientDlg::OnTimer(): recover surveillance and start record threads.");
    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->RecoverSurveillance();
    if (g_DispInfoSetting.MonitorMode)
        for (MonitorInfo& m : m_lstMonitorInfo)
            if (m.pVideoManager)
                m.pVideoManager->RecoverSurveillance();
    m_pRecSchemeManager = new CRecSchemeManager(this);
    m_pRecSchemeManager->Start();
    m_pRecFileManager = new CRecFileManager(this);
    m_pRecFileManager->Start();
    SetTimer(kTimerAlarmBlink, 1000);
}

void CIPCClientDlg::OnTimerAlarmBlink()
{
    const bool mapToo = g_nCurPage == 5;
    (void)mapToo; // the map page mirrors the icons once it exists
    for (DeviceInfo& d : g_lstDevInfo) {
        if (!d.AlarmFlag)
            continue;
        if (d.BlinkCount < kBlinkTicks) {
            d.BlinkState = d.BlinkState ? 0 : 1;
            if (m_pDeviceListDlg)
                m_pDeviceListDlg->SetDevAlarmIcon(d.DevName, d.BlinkState);
            ++d.BlinkCount;
        } else {
            d.AlarmFlag = 0;
            d.BlinkState = 0;
            if (m_pDeviceListDlg)
                m_pDeviceListDlg->SetDevAlarmIcon(d.DevName, 0);
            d.BlinkCount = 0;
        }
    }
}

void CIPCClientDlg::OnTimerAlarmButton()
{
    if (m_bAlarmToggle) {
        m_crAlarmButton = RGB(255, 0, 0);
        m_bAlarmToggle = 0;
    } else {
        m_crAlarmButton = 0;
        m_bAlarmToggle = 1;
    }
    m_btnAlarm->SetTextColor(m_crAlarmButton);
    m_btnAlarm->update();
}

void CIPCClientDlg::SetMarqueeText(const char* text)
{
    g_strDispInfo = text ? text : "";
    SetTimer(kTimerMarquee, 200);
}

void CIPCClientDlg::OnTimerMarquee()
{
    // The paint draws the notice; the tick only moves its right edge.
    m_nMarqueeX += 5;
    if (m_bMarqueeReset) {
        m_bMarqueeReset = 0;
        m_bMarqueeDcReady = 0;
    }
    const int h = fontMetrics().height();
    update(QRect(0, 10, g_nScreenWidth - 100, h));
    if (m_nMarqueeX > g_nScreenWidth - 105)
        m_nMarqueeX = 0;
}

void CIPCClientDlg::OnTimerRelayLogin()
{
    KillTimer(kTimerRelayLogin);
    if (m_pQelm2Login) {
        m_pQelm2Login->Join();
        delete m_pQelm2Login;
        m_pQelm2Login = nullptr;
    }
    if (MainHooks().makeRelayLogin)
        m_pQelm2Login = MainHooks().makeRelayLogin(m_hWnd);
    if (m_pQelm2Login)
        m_pQelm2Login->Start();
    else
        WriteLog(6, "CIPCClientDlg::OnTimer(): no parent relay server login.");
}

void CIPCClientDlg::OnTimerWatchdog()
{
    KillTimer(kTimerWatchdog);
    if (m_pStartThread)
        return;
    WriteLog(6, "begin new thread to start watch.");
    if (MainHooks().makeWatchStarter)
        m_pStartThread = MainHooks().makeWatchStarter(m_hWnd);
    if (m_pStartThread)
        m_pStartThread->Start();
}

void CIPCClientDlg::OnTimerCloudAlarm()
{
    KillTimer(kTimerCloudAlarm);
    if (!m_pCloud)
        m_pCloud = std::make_unique<CCloudNotices>();
    CloudAccount account;
    account.user = g_szLoginUser;
    account.password = g_szLoginPsw;
    account.cloudHost = g_szCloudServer;
    account.cloudPort = g_nCloudPort;
    account.alarmHost = g_szCloudServer;
    account.alarmPort = 6060;
    m_pCloud->SetAccount(account);
    m_pCloud->SetOwner(m_hWnd);
    if (MainHooks().makeCloudSession)
        m_pCloud->SetSessionFactory(MainHooks().makeCloudSession);
    m_pCloud->StartSession();
}

int CIPCClientDlg::InviteRemoteDevVideo(const char* parentIp, int parentPort, const char* myIp, const char* mac,
                                        const char* devName)
{
    // Needs a logged-in parent server; the relay bridge answers for it.
    WriteLog(6, "CIPCClientDlg::InviteRemoteDevVideo(): %s:%d %s %s %s, %s", parentIp, parentPort, myIp, mac, devName,
             g_lstRelayServer.empty() ? "no parent server logged in" : "asked");
    return g_lstRelayServer.empty() ? -1 : 0;
}

void CIPCClientDlg::OnTimerRemoteVideo()
{
    KillTimer(kTimerRemoteVideo);
    const std::string path = qelm::MakePath("%s\\Config\\RemoteDevInfo.xml", GetAppDir().c_str());
    TiXmlDocument doc;
    if (qelm::cfg::LoadXmlFile(path, doc) == qelm::cfg::LoadResult::Ok && doc.RootElement()) {
        for (TiXmlElement* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
            char parentIp[260] = "0", myIp[260] = "0", mac[260] = "0", devName[260] = "0";
            auto take = [e](const char* name, char* out) {
                if (const char* v = e->Attribute(name))
                    std::snprintf(out, 260, "%s", v);
            };
            take("ParentIp", parentIp);
            take("MyIp", myIp);
            take("Mac", mac);
            take("DevName", devName);
            const char* port = e->Attribute("ParentPort");
            if (!port)
                continue;
            InviteRemoteDevVideo(parentIp, std::atoi(port), myIp, mac, devName);
        }
        return;
    }
    if (FILE* f = std::fopen(path.c_str(), "w+")) {
        std::fputs("<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<DevList>\n</DevList>", f);
        std::fclose(f);
    }
}
