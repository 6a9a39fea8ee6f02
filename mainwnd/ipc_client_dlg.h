// CIPCClientDlg: the main window. It creates every page once, starts the
// long-running workers, registers with the relay library, arms the start-up
// timers, switches pages and lays out the left column for the maximised and
// the restored window.
#pragma once

#include "core/devinfo.h"
#include "mainwnd/main_hooks.h"
#include "platform/dialog.h"
#include "platform/geometry.h"

#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

class CGdipButton;
class QMenu;
class CResMsgDlg;
class CDeviceListDlg;
class CVideoManagerDlg;
class CRecSchemeManager;
class CRecFileManager;
class CThread;
class CZizevaVEDCtrl;
class COnvifSupervisor;
class CCloudNotices;
class CFirstRunDiscovery;
class CNvrTalkAudio;
class CPageDlg;
class QImage;
struct MainServices;
struct MainWorker;
struct RelayDevItem;
struct DevGroupInfo;
class RecScheme;
struct User;
struct UserGroup;
struct Role;


// One further (non-primary) monitor.
struct MonitorInfo {
    int32_t dwFlags = 0;
    CRect rcMonitor;
    CRect rcWork;
    int32_t nPageKind = 0;                     // 0 own grid, 1..5 a page moved there
    CVideoManagerDlg* pVideoManager = nullptr; // its own grid
};

class CIPCClientDlg;
extern CIPCClientDlg* g_pMainDlg;
// Height the layout is computed on: the screen height while maximised, 768 restored.
extern int g_nLayoutHeight;

class CIPCClientDlg : public CDialog {
public:
    enum {
        IDD = 102,
        IDC_BTN_PTZ = 1061,
        IDC_BTN_ALARM = 1062,
        IDC_BTN_CLOSE = 1064,
        IDC_BTN_MINIMIZE = 1253,
        IDC_BTN_SETTING = 1254,
        IDC_BTN_MAXIMIZE = 1484,
    };
    enum : UINT_PTR {
        kTimerDevTree = 200,
        kTimerAlarmBlink = 400,
        kTimerAlarmButton = 500,
        kTimerMarquee = 600,
        kTimerExit = 800,
        kTimerRecovery = 900,
        kTimerRelayLogin = 1002,
        kTimerRemoteVideo = 1003,
        kTimerCloudAlarm = 1004,
        kTimerWatchdog = 1005,
        kTimerConnectStatus = 1010,
        kTimerArp = 1100,
        kTimerTreeStatus = 300,
        kTimerCloudPoll = 1008,
        kTimerUnused = 100011,
    };
    // Pages created by CreateActiveDlg, in creation order.
    static constexpr int kPageCount = 16;

    explicit CIPCClientDlg(CWnd* pParent = nullptr);
    ~CIPCClientDlg() override;

    // --- pages (layout) ---
    void ShowLivePage();
    void ShowRecSearchPage();
    void ShowAlarmSearchPage();
    void ShowCfgPage();
    void ShowTVWallPage();
    void ShowMapPage();
    void ShowCfgDevicePage();
    void ShowCfgUserPage();
    void ShowCfgRecordPage();
    void ShowCfgRemoteConfigPage();
    void ShowCfgMaintainPage();
    void ShowCfgSubPage(int subPage);
    void HideLivePageParts();
    void ShowDevicePanelGrouped();
    void LayoutForWindowState(int maximised);
    void RequestMarqueeReset() { m_bMarqueeReset = 1; }
    // Opens or closes the alarm list below the device panel (live page).
    void ShowAlarmList(int show);

    // --- timers ---
    void SetMarqueeText(const char* text);

    // --- forwarders used by the panels ---
    void PlayDevInFreePane(DeviceInfo* dev);
    void UpdateDevTreeStatus();
    void ReloadDevTrees();
    int InviteRemoteDevVideo(const char* parentIp, int parentPort, const char* myIp, const char* mac,
                             const char* devName);

    // --- close ---
    void ExitApp();
    void OnBnClickedClose();
    void CloseAllStreams();
    void DestroyActiveDlg();

    // --- state the rest of the program reads ---
    const char* LocalMac() const { return m_szLocalMac; }
    CVideoManagerDlg* MainGrid() const { return m_pVideoManagerDlg; }
    const std::list<MonitorInfo>& Monitors() const { return m_lstMonitorInfo; }
    CWnd* Page(const char* cls) const;
    CResMsgDlg* MsgDlg() const { return m_pResMsgDlg; }
    CDeviceListDlg* DeviceList() const { return m_pDeviceListDlg; }
    // Every worker of start-up still running (tests).
    bool WorkersRunning() const;
    int IsClosing() const { return m_bClosing; }
    COnvifSupervisor* OnvifSupervisor() const { return m_pOnvif.get(); }
    CNvrTalkAudio* NvrTalk() const { return m_pNvrTalk.get(); }
    bool HasRecScheduler() const { return m_pRecSchemeManager != nullptr; }
    int IsMaximized() const { return m_bMaximized; }
    int IsAlarmListShown() const { return m_bAlarmListShown; }
    int MarqueeX() const { return m_nMarqueeX; }
    COLORREF AlarmButtonColor() const { return m_crAlarmButton; }

    // Rectangles of the layout (W, S, H, T of the current state).
    static int TitleHeight();
    static CRect ContentRect();
    static CRect CfgRect();

    CVideoManagerDlg* m_pActiveVideoMgr = nullptr;
    int m_bRelayToExtGrid = 0;
    int m_bMinimized = 0;
    int m_bRecordAll = 0;
    int m_bPageOnMonitor = 0;
    int m_bCloseAllowed = 0;

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnClose() override;
    void OnCancel() override;
    void OnOK() override;
    void OnPaint() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Message handlers (private messages of the main window).
    LRESULT OnOnvifStatus(WPARAM, LPARAM);
    LRESULT OnDevListReload(WPARAM, LPARAM);
    LRESULT OnDevStatusRefresh(WPARAM, LPARAM);
    LRESULT OnDevStatusMsg(WPARAM, LPARAM);
    LRESULT OnStreamStatusMsg(WPARAM, LPARAM);
    LRESULT OnNvrChannelListMsg(WPARAM, LPARAM);
    LRESULT OnChannelStatesMsg(WPARAM, LPARAM);
    LRESULT OnVssLoginOk(WPARAM, LPARAM);
    LRESULT OnVssLoginFailed(WPARAM, LPARAM);
    LRESULT OnTsLoginCheck(WPARAM, LPARAM);
    LRESULT OnStartThreadDone(WPARAM, LPARAM);
    LRESULT OnCloudLinkEnd(WPARAM, LPARAM);
    LRESULT OnCloudNotify(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    friend struct MainServices;

    int GetLocalMac(char* out, size_t size);
    void EnumMonitors();
    void CreateActiveDlg();
    CDialog* MakePage(const char* cls, CWnd* parent, bool child);
    void ChooseFirstPage();
    void RegisterWithRelayLibrary();
    void StartWorkers();
    void StopWorkers();

    void OnTimerDevTree();
    void OnTimerRecovery();
    void OnTimerAlarmBlink();
    void OnTimerAlarmButton();
    void OnTimerMarquee();
    void OnTimerRelayLogin();
    void OnTimerWatchdog();
    void OnTimerCloudAlarm();
    void OnTimerRemoteVideo();

    bool PreTranslateStopTalk(MSG* pMsg);
    bool PreTranslateDevAlarm(MSG* pMsg);

    // Page-switch helpers.
    bool SwitchTo(int page);
    void HidePage(CWnd* page, int pageKind);
    void HideCfgPage();
    void HideMapPage();
    void LayoutLeftColumn();
    void PlaceCfgPage(bool deviceSubPage);
    bool PageOnMonitor(int pageKind) const;

    CGdipButton* m_btnClose = nullptr;
    CGdipButton* m_btnMinimize = nullptr;
    CGdipButton* m_btnMaximize = nullptr;
    CGdipButton* m_btnSetting = nullptr;
    CGdipButton* m_btnPtz = nullptr;
    CGdipButton* m_btnAlarm = nullptr;

    // Pages, in creation order.
    CDialog* m_pSysSettingDlg = nullptr;
    CDialog* m_pAlmActDlg = nullptr;
    CPageDlg* m_pPageDlg = nullptr;
    CDialog* m_pVideoToolbarDlg = nullptr;
    CDialog* m_pLogToolDlg = nullptr;
    CDeviceListDlg* m_pDeviceListDlg = nullptr;
    CDialog* m_pPTZDlg = nullptr;
    CDialog* m_pAlarmListDlg = nullptr;
    CDialog* m_pCfgManagerDlg = nullptr;
    CVideoManagerDlg* m_pVideoManagerDlg = nullptr;
    CResMsgDlg* m_pResMsgDlg = nullptr;
    CDialog* m_pSearchAlarmDlg = nullptr;
    CDialog* m_pSearchRecDlg = nullptr;
    CDialog* m_pTVWallManager = nullptr;
    CDialog* m_pMapManagerDlg = nullptr;
    CDialog* m_pDrawTVwallDlg = nullptr;

    std::list<MonitorInfo> m_lstMonitorInfo;

    CRecSchemeManager* m_pRecSchemeManager = nullptr;
    CRecFileManager* m_pRecFileManager = nullptr;
    CThread* m_pStartThread = nullptr;
    CThread* m_pQelm2Login = nullptr;
    std::unique_ptr<COnvifSupervisor> m_pOnvif;
    std::unique_ptr<MainWorker> m_pRelayLoginWorker;
    std::unique_ptr<CCloudNotices> m_pCloud;
    std::unique_ptr<CFirstRunDiscovery> m_pFirstRun;
    std::unique_ptr<CNvrTalkAudio> m_pNvrTalk;
    std::unique_ptr<MainServices> m_pServices;
    bool m_bConnectStatusStarted = false;
    bool m_bWorkersStopped = false;

    char m_szLocalMac[260] = {};
    int m_bMaximized = 1;
    int m_bAlarmListShown = 0;
    int m_bClosing = 0;
    int m_bMarqueeDcReady = 0;
    int m_bMarqueeReset = 0;
    int m_nMarqueeX = 0;
    int m_bAlarmToggle = 1;
    COLORREF m_crAlarmButton = 0;
    std::unique_ptr<QImage> m_dcMarquee; // background saved under the notice
    DWORD m_dwConnectStatusThreadId = 0;
    DWORD m_dwOnvifCheckThreadId = 0;
    DWORD m_dwOnvifInfoThreadId = 0;
    DWORD m_dwRelayLoginThreadId = 0;
    DWORD m_dwCloudPollThreadId = 0;
    bool m_bDestroyed = false;
    // --- routing, monitors and tab bar ---
public:
    // Kinds of the pages that can sit on a further monitor.
    enum PageKind : int { kKindRecSearch = 1, kKindAlarmSearch = 2, kKindCfg = 3, kKindTVWall = 4, kKindMap = 5 };
    // Device and user tree forwarders.
    void OnDevTreeSelDevice(DeviceInfo* dev);
    void OnDevTreeSelVssChannel(RelayDevItem* channel);
    void ShowDevGroupInfo(DevGroupInfo* group);
    void ShowRecScheme(RecScheme* plan);
    void ReloadRecSchemeTree();
    void RefreshUserTree();
    void RefreshRoleTree();
    void ShowUserInfo(const User* user);
    void ShowGroupInfo(const UserGroup* group);
    void ShowRoleInfo(const Role* role);
    void SelectDevTreeItemByText(const char* text);
    void SelectDevTreeDevice(const DeviceInfo* dev);
    void SelectDevTreeVssChannel(const RelayDevItem* channel);
    void ExpandDevChannelsAll(DeviceInfo* dev);
    // Drag and drop and playing. DropDevToPane: 0 when the target has no parent.
    int DropDevToPane(CWnd* target, DeviceInfo* dev);
    void PlayDevInPane(int pane, DeviceInfo* dev);
    void DropDecoderToTVWall(int x, int y, DeviceInfo* dev);
    void DropCameraToTVWall(int x, int y, DeviceInfo* dev);
    void DropDevToMap(int x, int y, DeviceInfo* dev);
    void OnStopWatch(DeviceInfo* dev, int flag);
    // Lookups and PTZ (SendKeyboardPtzCmd: any thread).
    int FindDevByName(const char* name, DeviceInfo* out);
    int GetSelPaneDevInfo(DeviceInfo* out);
    void SendPtzCmd(const char* cmd);
    void SendKeyboardPtzCmd(const char* cmd);
    int GetSelPanePtzAddr();
    int GetOnvifPresets(DeviceInfo* dev, std::list<std::string>& presets);
    // Grid-wide operations.
    CVideoManagerDlg* ActiveGrid() const { return m_pActiveVideoMgr ? m_pActiveVideoMgr : m_pVideoManagerDlg; }
    int CheckTalkBusy();
    int StopAllSound();
    void SetDigitalZoomMode(int mode);
    void ApplyFullDisplay();
    void OnDefaultRec();
    void ShowTVWallLayoutDlg();
    // Further monitors.
    void OnMoveToMonitorCommand(UINT id);
    void MovePageToMonitor(int n);
    void RestorePageFromMonitor(int kind);
    void ReleaseMonitor(int n);
    // The further monitor (1..) a page kind sits on, 0 in the main window.
    int PageMonitor(int kind) const { return kind >= 1 && kind <= 5 ? m_nPageMonitor[kind] : 0; }
    CDialog* MovablePage(int kind) const;
    // The monitor entry n (from 1), or null.
    MonitorInfo* MonitorEntry(int n);

private:
    void SetPageOnExtScreen(int kind, int on);
    void SetPageMonitorNumber(int kind, int n);
    void MakePageChild(CDialog* page);
    void MakePageTopLevel(CDialog* page);
    int m_nPageMonitor[6] = {};

    // --- close and commands ---
public:
    // The settings menu's commands (menu 210, popup 0).
    enum : UINT {
        ID_AUTO_LOGIN = 32776,
        ID_AUTO_START = 32774,
        ID_SYS_CONFIG = 32882,
        ID_HELP = 32778,
        ID_ABOUT = 32772,
    };
    // The PTZ button's preset request to a device.
    static constexpr const char* kPresetListCmd = "<xml>\n<cmd>GetPresetList</cmd>\n</xml>";

    void OnBnClickedMinimize();
    void OnBnClickedMaximize();
    void OnBnClickedSetting();
    void OnBnClickedPtz();
    void OnBnClickedAlarm();
    void OnAutoLogin();
    void OnAutoStart();
    void OnSysConfig();
    void OnHelp();
    void WinHelp();
    void OnAbout();
    // A command of the settings menu by id.
    void OnMenuCommand(UINT id);
    // Menu 210's popup 0 with its resource texts; OnInitMenuPopup fills it in.
    QMenu* BuildSettingsMenu(QWidget* parent);
    void OnInitMenuPopup(QMenu* menu);
    void OnSysCommand(UINT nID);
    // The version text of the About message ("%s:%s").
    // null fileVersion: the program file has no version information.
    static std::string AboutText(const char* fileVersion);
    // The three help files in the order they are tried.
    static std::vector<std::string> HelpFiles(int language);
    void SaveRemoteDevInfo();
    // The presets the PTZ button read from an ONVIF camera (the PTZ panel's list).
    const std::list<std::string>& PtzPresets() const { return m_lstPtzPresets; }
    int IsMinimizedFlag() const { return m_bMinimized; }
    // The password check of the close button (unlock 0) and of Escape on a
    // locked screen (unlock 1): IDOK or IDCANCEL. Tests replace the dialog.
    std::function<int(int unlock)> m_fnVerifyLogin;

protected:
    void OnLButtonDown(UINT nFlags, CPoint point) override;
    void OnLButtonUp(UINT nFlags, CPoint point) override;
    void OnMouseMove(UINT nFlags, CPoint point) override;
    void changeEvent(QEvent* e) override;

private:
    // Steps 1 to 3 of the pre-translation: Enter, Space, Escape and Alt+F4.
    bool PreTranslateKeys(MSG* pMsg);
    int RunVerifyLogin(int unlock);
    void CloseWebPageBoxes();
    void StopRecordThreads(bool logged);
    QPointer<QMenu> m_pSettingsMenu;
    std::list<std::string> m_lstPtzPresets;
    // Dragging the restored window by its background (screen points).
    bool m_bDragging = false;
    QPoint m_ptDragStart;
    QPoint m_ptWindowStart;
};

