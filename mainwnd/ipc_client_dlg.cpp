// CIPCClientDlg: construction, start-up, page creation and painting.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/ts_relay.h"
#include "core/app_init.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recover.h"
#include "core/thread.h"
#include "core/userinfo.h"
#include "devices/cloud_notices.h"
#include "devices/connect_status.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "devices/first_run.h"
#include "devices/nvr_talk.h"
#include "devices/onvif_supervision.h"
#include "liveview/video_manager_dlg.h"
#include "media/rec_file_manager.h"
#include "media/rec_scheme_manager.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/main_pages.h"
#include "mainwnd/main_services.h"
#include "mainwnd/page_dlg.h"
#include "platform/monitor.h"
#include "platform/paths.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_draw.h"

#include <QImage>
#include <QPainter>

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <cstdio>
#include <cstring>

CIPCClientDlg* g_pMainDlg = nullptr;
int g_nLayoutHeight = 768;

namespace {

// The caption buttons: control, picture, tooltip, offset from the right edge
// when maximised, x when restored.
struct CaptionButton {
    UINT id;
    UINT picture;
    UINT tooltip;
    int fromRight;
    int restoredX;
};
constexpr CaptionButton kCaptionButtons[] = {
    {CIPCClientDlg::IDC_BTN_CLOSE, 150, 255, 32, 992},
    {CIPCClientDlg::IDC_BTN_MAXIMIZE, 368, 1510, 58, 966},
    {CIPCClientDlg::IDC_BTN_MINIMIZE, 152, 256, 84, 940},
    {CIPCClientDlg::IDC_BTN_SETTING, 151, 257, 110, 914},
};

// Templates of the pages made from another folder (or empty until it exists).
enum : UINT {
    kIddSysSetting = 334,
    kIddAlmAct = 231,
    kIddVideoToolbar = 134,
    kIddLogTool = 141,
    kIddPtz = 136,
    kIddAlarmList = 137,
    kIddCfgManager = 324,
    kIddSearchAlarm = 148,
    kIddSearchRec = 149,
    kIddTVWall = 322,
    kIddMap = 323,
    kIddDrawTVwall = 241,
};

// The relay library's callbacks until the relay bridge and the record
// search page give theirs: no login id is known for a relay name, and no
// replay or download is waiting for data.
int OnTsGetUserId(const char*, void*) { return 0; }
int OnTsReplayData(int, const TsReplayKey*, int, int, int, const char*, int, const TsFrameInfo*, const char*, void*)
{
    return 1;
}
int OnTsReplayByDate(int, const char*, int, int, const char*, int, const TsFrameInfo*, const VideoParam*,
                     const AudioParam*, int, int, int, void*)
{
    return 1;
}
int OnTsDownloadData(int, const char*, int, int, int, const char*, int, int64_t, int64_t, const char*, void*)
{
    return 1;
}

} // namespace

CIPCClientDlg::CIPCClientDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    g_pMainDlg = this;
    SetFramelessStyle(true); // the window draws its own caption and buttons
    g_nCfgSubPage = -1;
    g_nLayoutHeight = g_nScreenHeight;
    m_bMaximized = 1;
}

CIPCClientDlg::~CIPCClientDlg()
{
    // A window that never went through its close still ends its threads
    // before its pages go.
    delete m_pRecSchemeManager; // stops and joins
    m_pRecSchemeManager = nullptr;
    delete m_pRecFileManager;
    m_pRecFileManager = nullptr;
    StopWorkers();
    if (m_pCloud)
        m_pCloud->CloseSession();
    DestroyActiveDlg();
    if (g_pMainDlg == this)
        g_pMainDlg = nullptr;
}

int CIPCClientDlg::TitleHeight()
{
    return g_nLayoutHeight * 52 / 768;
}

CRect CIPCClientDlg::ContentRect()
{
    return CRect(235, TitleHeight() + 39, g_nScreenWidth - 8, g_nScreenHeight - 10);
}

CRect CIPCClientDlg::CfgRect()
{
    return CRect(10, TitleHeight() - 1, g_nScreenWidth - 8, g_nScreenHeight - 10);
}

void CIPCClientDlg::CreateControls()
{
    resize(g_nScreenWidth, g_nScreenHeight);
    auto make = [this](CGdipButton*& member, UINT id) {
        member = new CGdipButton(this);
        qelm::SetControlId(member, id);
    };
    make(m_btnClose, IDC_BTN_CLOSE);
    make(m_btnMaximize, IDC_BTN_MAXIMIZE);
    make(m_btnMinimize, IDC_BTN_MINIMIZE);
    make(m_btnSetting, IDC_BTN_SETTING);
    make(m_btnPtz, IDC_BTN_PTZ);
    make(m_btnAlarm, IDC_BTN_ALARM);
    QObject::connect(m_btnClose, &QPushButton::clicked, this, [this] { OnBnClickedClose(); });
    QObject::connect(m_btnMaximize, &QPushButton::clicked, this, [this] { OnBnClickedMaximize(); });
    QObject::connect(m_btnMinimize, &QPushButton::clicked, this, [this] { OnBnClickedMinimize(); });
    QObject::connect(m_btnSetting, &QPushButton::clicked, this, [this] { OnBnClickedSetting(); });
    QObject::connect(m_btnPtz, &QPushButton::clicked, this, [this] { OnBnClickedPtz(); });
    QObject::connect(m_btnAlarm, &QPushButton::clicked, this, [this] { OnBnClickedAlarm(); });
}

int CIPCClientDlg::GetLocalMac(char* out, size_t size)
{
    if (!out || size == 0)
        return -1;
    out[0] = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return -1;
    int rc = -1;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        if (ll->sll_halen < 6)
            continue;
        const unsigned char* m = ll->sll_addr;
        std::snprintf(out, size < 51 ? size : 51, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4],
                      m[5]);
        rc = 0;
        break;
    }
    freeifaddrs(list);
    return rc;
}

void CIPCClientDlg::EnumMonitors()
{
    m_lstMonitorInfo.clear();
    const std::vector<MonitorRect> screens = MainHooks().monitors ? MainHooks().monitors() : qelm::Monitors();
    for (const MonitorRect& m : screens) {
        WriteLog(6, "DirectXEnumCallback: %s, %s", m.name.c_str(), "display");
        if (m.primary)
            continue;
        WriteLog(6,
                 "DirectXEnumCallback: work.left=%d, work.top=%d,work.right=%d, work.bottom=%d;  "
                 "monitor.left=%d,monitor.top=%d, monitor.right=%d, monitor.bottom=%d, dwFlags=%d",
                 m.rcWork.left, m.rcWork.top, m.rcWork.right, m.rcWork.bottom, m.rcMonitor.left, m.rcMonitor.top,
                 m.rcMonitor.right, m.rcMonitor.bottom, 0);
        MonitorInfo info;
        info.rcMonitor = m.rcMonitor;
        info.rcWork = m.rcWork;
        m_lstMonitorInfo.push_back(info);
    }
}

BOOL CIPCClientDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    g_pMainDlg = this;
    const CRect work = qelm::PrimaryWorkArea();
    MoveWindow(work.left, work.top, g_nScreenWidth, g_nScreenHeight, TRUE);
    std::memset(m_szLocalMac, 0, sizeof m_szLocalMac);
    GetLocalMac(m_szLocalMac, sizeof m_szLocalMac);
    // What the lower layers reach in the main window goes through these;
    // the workers started below post to this window.
    m_pNvrTalk = std::make_unique<CNvrTalkAudio>(m_hWnd);
    m_pServices = std::make_unique<MainServices>(this);
    m_pServices->Register();
    SetMemoryGuardWindow(m_hWnd);

    m_btnPtz->LoadImageResource(161);
    m_btnPtz->SetButtonTextW(LoadResStringW(250).c_str());
    m_btnAlarm->LoadImageResource(162);
    m_btnAlarm->SetButtonTextW(LoadResStringW(251).c_str());

    EnumMonitors();
    StartWorkers();
    LoadRecoverInfo();
    CreateActiveDlg();

    if (m_pVideoManagerDlg)
        m_pVideoManagerDlg->ShowWindow(SW_SHOW);
    SetWindowText(g_strTitle.c_str());

    SetTimer(kTimerDevTree, 500);
    if (!g_strDispInfo.empty())
        SetTimer(kTimerMarquee, 200);
    if (MainHooks().hideSplash)
        MainHooks().hideSplash();

    ChooseFirstPage();
    RegisterWithRelayLibrary();
    m_pQelm2Login = nullptr;

    if (MainHooks().startRelayLoginWorker) {
        m_pRelayLoginWorker = MainHooks().startRelayLoginWorker(m_hWnd);
        if (m_pRelayLoginWorker)
            m_dwRelayLoginThreadId = DWORD(m_pRelayLoginWorker->ThreadId());
    }

    if (g_DispInfoSetting.LoginType == 0)
        SetTimer(kTimerRelayLogin, 3000);
    SetTimer(kTimerRemoteVideo, 5000);
    if (g_DispInfoSetting.LoginType != 0)
        SetTimer(kTimerCloudAlarm, 5000);
    SetTimer(kTimerWatchdog, 5000);
    SetTimer(kTimerArp, 60000);

    if (MainHooks().publishWindow)
        MainHooks().publishWindow(this);

    m_pFirstRun = std::make_unique<CFirstRunDiscovery>();
    m_pFirstRun->Arm();
    SetTimer(kTimerConnectStatus, 1000);
    WriteLog(6, "CIPCClientDlg::OnInitDialog(): main window ready, local mac %s",
             m_szLocalMac[0] ? m_szLocalMac : "(none)");
    return TRUE;
}

void CIPCClientDlg::StartWorkers()
{
    // The connect-status worker.
    StartConnectStatusThread();
    m_bConnectStatusStarted = true;
    // The ONVIF reachability and information threads.
    m_pOnvif = std::make_unique<COnvifSupervisor>();
    m_pOnvif->Start();
    m_dwOnvifCheckThreadId = m_pOnvif->CheckThreadId();
    m_dwOnvifInfoThreadId = m_pOnvif->InfoThreadId();
}

bool CIPCClientDlg::WorkersRunning() const
{
    bool relay = !m_pRelayLoginWorker || m_pRelayLoginWorker->IsRunning();
    return IsConnectStatusThreadRunning() && m_pOnvif && relay;
}

void CIPCClientDlg::StopWorkers()
{
    // The one-shot threads of the timers may come and go; they are joined on every call.
    if (m_pQelm2Login) {
        m_pQelm2Login->Join();
        delete m_pQelm2Login;
        m_pQelm2Login = nullptr;
    }
    if (m_pStartThread) {
        m_pStartThread->Join();
        delete m_pStartThread;
        m_pStartThread = nullptr;
    }
    if (m_bWorkersStopped)
        return;
    m_bWorkersStopped = true;
    // Each of them posts to this window: they end and are joined before any
    // page goes, so nothing arrives for a page that is gone.
    if (m_pRelayLoginWorker) {
        m_pRelayLoginWorker->Stop();
        m_pRelayLoginWorker.reset();
    }
    if (m_pOnvif) {
        m_pOnvif->SetClosing();
        m_pOnvif->Stop();
        m_pOnvif.reset();
    }
    if (m_bConnectStatusStarted) {
        StopConnectStatusThread();
        m_bConnectStatusStarted = false;
    }
}

void CIPCClientDlg::RegisterWithRelayLibrary()
{
    const MainWindowHooks& h = MainHooks();
    TS_SetMsgWnd(m_hWnd);
    TS_SetGetUserIdCallback(h.tsGetUserId ? h.tsGetUserId : &OnTsGetUserId, this);
    TS_SetRealReplayCallback(h.tsReplayData ? h.tsReplayData : &OnTsReplayData, this);
    TS_SetDownloadRealDataCallback(h.tsDownloadData ? h.tsDownloadData : &OnTsDownloadData, this);
    TS_SetReplayByDateCallback(h.tsReplayByDate ? h.tsReplayByDate : &OnTsReplayByDate, this);
}

void CIPCClientDlg::ChooseFirstPage()
{
    if (!m_pPageDlg)
        return;
    if (g_UserRights[kRightSurPTZ])
        m_pPageDlg->OnBnClickedBtnVideo();
    else if (g_UserRights[kRightRecord])
        m_pPageDlg->OnBnClickedBtnRecord();
    else if (g_UserRights[kRightAlarm])
        m_pPageDlg->OnBnClickedBtnAlarm();
    else if (g_UserRights[kRightUserManager])
        m_pPageDlg->OnBnClickedBtnConfig();
}

CDialog* CIPCClientDlg::MakePage(const char* cls, CWnd* parent, bool child)
{
    if (CDialog* page = CreateRegisteredPage(cls, parent)) {
        page->ShowWindow(SW_HIDE);
        return page;
    }
    UINT idd = 0;
    static const std::pair<const char*, UINT> kTemplates[] = {
        {"CSysSettingDlg", kIddSysSetting}, {"CAlmActDlg", kIddAlmAct},       {"CVideoToolbarDlg", kIddVideoToolbar},
        {"CLogToolDlg", kIddLogTool},       {"CPTZDlg", kIddPtz},             {"CAlarmListDlg", kIddAlarmList},
        {"CCfgManagerDlg", kIddCfgManager}, {"CSearchAlarmDlg", kIddSearchAlarm}, {"CSearchRecDlg", kIddSearchRec},
        {"CTVWallManager", kIddTVWall},     {"CMapManagerDlg", kIddMap},      {"CDrawTVwallDlg", kIddDrawTVwall},
    };
    for (const auto& [name, id] : kTemplates)
        if (std::strcmp(name, cls) == 0)
            idd = id;
    auto* empty = new CEmptyPage(cls, idd, parent, child);
    empty->Create(idd, parent);
    empty->ShowWindow(SW_HIDE);
    return empty;
}

void CIPCClientDlg::CreateActiveDlg()
{
    WriteLog(6, "CIPCClientDlg::CreateActiveDlg():Begin create active dialog...");
    const int W = g_nScreenWidth;
    const int H = g_nLayoutHeight;
    const int T = TitleHeight();

    m_pSysSettingDlg = MakePage("CSysSettingDlg", this, false);
    m_pAlmActDlg = MakePage("CAlmActDlg", nullptr, false);

    for (const CaptionButton& b : kCaptionButtons) {
        auto* btn = GetDlgItemT<CGdipButton>(b.id);
        if (!btn)
            continue;
        btn->LoadImageResource(b.picture);
        btn->setGeometry(W - b.fromRight, 2, 26, 17);
        btn->SetTooltipTextW(LoadResStringW(b.tooltip).c_str(), TRUE);
        btn->show();
    }

    m_pPageDlg = new CPageDlg(this);
    m_pPageDlg->Create(CPageDlg::IDD, this);
    m_pPageDlg->MoveWindow(0, T - 35, 1030, 34, TRUE);
    m_pPageDlg->ShowWindow(SW_SHOW);

    m_pVideoToolbarDlg = MakePage("CVideoToolbarDlg", this, true);
    m_pVideoToolbarDlg->MoveWindow(10, T - 1, W - 18, 40, TRUE);
    m_pVideoToolbarDlg->ShowWindow(SW_SHOW);

    m_pLogToolDlg = MakePage("CLogToolDlg", this, true);
    m_pLogToolDlg->MoveWindow(10, T - 1, W, 40, TRUE);

    m_pDeviceListDlg = new CDeviceListDlg(this);
    m_pDeviceListDlg->Create(CDeviceListDlg::IDD, this);
    m_pDeviceListDlg->MoveWindow(10, T + 39, 219, H - T - 95, TRUE);
    m_pDeviceListDlg->ShowWindow(SW_SHOW);
    m_btnPtz->setGeometry(10, H - 56, 219, 23);
    m_btnPtz->show();

    m_pPTZDlg = MakePage("CPTZDlg", this, true);
    m_btnAlarm->setGeometry(10, H - 33, 219, 23);
    m_btnAlarm->show();

    m_pAlarmListDlg = MakePage("CAlarmListDlg", this, true);
    m_pAlarmListDlg->MoveWindow(10, H - 310, 219, 277, TRUE);

    m_pCfgManagerDlg = MakePage("CCfgManagerDlg", this, true);
    m_pCfgManagerDlg->MoveWindow(CfgRect(), TRUE);

    const CRect content = ContentRect();
    m_pVideoManagerDlg = new CVideoManagerDlg(content.left, content.top, content.right, content.bottom, this, 0);
    m_pVideoManagerDlg->Create(CVideoManagerDlg::IDD, this);

    int number = 0;
    for (MonitorInfo& m : m_lstMonitorInfo) {
        auto* grid = new CVideoManagerDlg(m.rcMonitor.left, m.rcMonitor.top, m.rcMonitor.right, m.rcMonitor.bottom,
                                          nullptr, 1);
        grid->Create(CVideoManagerDlg::IDD, nullptr);
        grid->SetMonitorNum(++number);
        grid->ShowWindow(g_DispInfoSetting.MonitorMode ? SW_SHOW : SW_HIDE);
        m.pVideoManager = grid;
    }

    m_pResMsgDlg = new CResMsgDlg();
    m_pResMsgDlg->Create(CResMsgDlg::IDD, this);

    m_pSearchAlarmDlg = MakePage("CSearchAlarmDlg", this, true);
    m_pSearchAlarmDlg->MoveWindow(content, TRUE);
    m_pSearchRecDlg = MakePage("CSearchRecDlg", this, true);
    m_pSearchRecDlg->MoveWindow(content, TRUE);
    m_pTVWallManager = MakePage("CTVWallManager", this, true);
    m_pTVWallManager->MoveWindow(content, TRUE);
    m_pMapManagerDlg = MakePage("CMapManagerDlg", this, true);
    m_pMapManagerDlg->MoveWindow(content, TRUE);
    m_pDrawTVwallDlg = MakePage("CDrawTVwallDlg", this, false);

    WriteLog(6, "CIPCClientDlg::CreateActiveDlg():End create active dialog...");
}

CWnd* CIPCClientDlg::Page(const char* cls) const
{
    CWnd* pages[] = {m_pSysSettingDlg, m_pAlmActDlg,       m_pPageDlg,       m_pVideoToolbarDlg,
                     m_pLogToolDlg,    m_pDeviceListDlg,   m_pPTZDlg,        m_pAlarmListDlg,
                     m_pCfgManagerDlg, m_pVideoManagerDlg, m_pResMsgDlg,     m_pSearchAlarmDlg,
                     m_pSearchRecDlg,  m_pTVWallManager,   m_pMapManagerDlg, m_pDrawTVwallDlg};
    static_assert(sizeof(pages) / sizeof(pages[0]) == kPageCount);
    for (CWnd* p : pages)
        if (p && PageClassName(p) == cls)
            return p;
    return nullptr;
}

void CIPCClientDlg::OnPaint()
{
    QPainter dc(this);
    CGdiManger drawer;
    const std::string bk = qelm::MakePath("%s\\Images\\Maindlgbk.png", GetAppDir().c_str());
    CRect client;
    GetClientRect(&client);
    drawer.DrawImageFile(bk.c_str(), client, &dc);
    if (!g_strDispInfo.empty() && m_nMarqueeX > 0) {
        // The notice runs right-aligned against a moving right edge at y 10.
        const int h = dc.fontMetrics().height();
        dc.setPen(QColor(0, 64, 128));
        dc.drawText(QRect(0, 10, m_nMarqueeX, h), Qt::AlignRight | Qt::AlignTop,
                    QString::fromStdString(g_strDispInfo));
    }
}
