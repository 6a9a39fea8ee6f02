// CSearchRecDlg: the record search page (template 149). A search panel (form,
// result list, paging, download buttons) in two modes: by file, whose search
// button lists local or device files in pages of 20 rows, and by date, where
// each selected channel puts its day into one of eight slots. The searches
// themselves are in local_rec_search.h and dev_rec_request.h.
#pragma once

#include "controls/ts_relay.h"
#include "core/devinfo.h"
#include "mainwnd/main_pages.h"
#include "media/control_wrappers.h"
#include "platform/dialog.h"
#include "playback/rec_search_types.h"

#include <QCursor>
#include <QPointer>

#include <atomic>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class CResMsgDlg;
class CDeviceListDlg;
class CReportCtrl;
class CGdipButton;
class CTransparentStatic;
class CTGroupBox;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QCheckBox;
class QLabel;
class QPushButton;
class QPainter;
class CPlayBackTollBar;
class CVideoToolbarDlg;

// Registers the page's factory with the main window ("CSearchRecDlg").
void RegisterSearchRecPage();

class CSearchRecDlg : public CDialog,
                      public ISearchRecForwards,
                      public IPlayBackAtlEvents,
                      public ISearchRecDownloads {
public:
    enum {
        IDD = 149,
        IDC_GROUP_QUERY = 1076,
        IDC_COMBO_SOURCE = 1114,
        IDC_COMBO_RECTYPE = 1054,
        IDC_COMBO_MEDIA = 1115,
        IDC_COMBO_STREAM = 1050,
        IDC_EDIT_MINSIZE = 1051,
        IDC_EDIT_MAXSIZE = 1052,
        IDC_LIST_RECORD = 1239,
        IDC_DATE_START = 1234,
        IDC_DATE_END = 1244,
        IDC_TIME_SYNC = 1400,
        IDC_DATE_QUERY = 1370,
        IDC_TIME_DL_START = 1402,
        IDC_TIME_DL_END = 1403,
        IDC_STATIC_DEVNAME = 1126,
        IDC_STATIC_TARGET = 1233,
        IDC_STATIC_SOURCE = 1240,
        IDC_STATIC_RECTYPE = 1241,
        IDC_STATIC_TIMERANGE = 1242,
        IDC_STATIC_TO = 1243,
        IDC_STATIC_MEDIA = 1245,
        IDC_STATIC_STREAM = 1246,
        IDC_STATIC_SIZE = 1247,
        IDC_STATIC_TO2 = 1248,
        IDC_STATIC_SIZEHINT = 1249,
        IDC_STATIC_STATUS = 1250,
        IDC_STATIC_HINT = 1251,
        IDC_STATIC_DLSTATUS = 1374,
        IDC_STATIC_DLSTATE = 1375,
        IDC_STATIC_NVRCHANNEL = 1376,
        IDC_STATIC_DL_DEVNAME = 1428,
        IDC_STATIC_DL_START = 1372,
        IDC_STATIC_DL_END = 1373,
        IDC_STATIC_LEGEND_ALARM = 1395,
        IDC_STATIC_LEGEND_PLAN = 1396,
        IDC_STATIC_LEGEND_NONE = 1397,
        IDC_STATIC_DBLCLK = 1398,
        IDC_CHECK_SYNC = 1399,
        IDC_STATIC_QUERYDATE = 1371,
        IDC_BTN_SYNC_PLAY = 1401,
        IDC_BTN_SEARCH = 1218,
        IDC_BTN_PREV = 1237,
        IDC_BTN_NEXT = 1238,
        IDC_BTN_DOWNLOAD = 1219,
        IDC_BTN_BYFILE = 1380,
        IDC_BTN_BYDATE = 1381,
        IDC_BTN_DL_BYTIME = 1425,
        IDC_BTN_DL_STOP = 1427,
        IDC_BTN_CUT = 1489,
        IDC_CHECK_ALL = 1481,
    };
    static constexpr int kRowsPerPage = 20;
    static constexpr int kSlots = 8;
    static constexpr UINT kStatusTimer = 200;
    static constexpr UINT kFirstPlayerId = 10000;

    explicit CSearchRecDlg(CWnd* pParent = nullptr);
    ~CSearchRecDlg() override;

    // --- called by the rest of the program ---
    void SetSearchDevInfo(DeviceInfo* pDevInfo) override;
    void ToggleSearchPanel();
    // On a further monitor (search_rec_dlg_monitor.cpp): its own device panel.
    void SetOnExtScreen(int on) override;
    int IsOnExtScreen() const { return m_bOnExtScreen; }
    void RefreshTimeBar() override;
    void ShowDevListGrouped() override;
    void ExpandDevChannels(DeviceInfo* pDevInfo) override;
    int m_bOnExtScreen = 0;
    // The day search for this page and the relay side's threads.
    static int SearchLocalRecByDate(RecDayMap& map);
    // A relay client's search forwarded to the device auxPtzId; that device's
    // next file search answer serves it.
    void QueueRelaySearch(const TsSearchRequest* pRequest, int nHandle, int32_t nAuxPtzId);

    // --- the search side ---
    int SearchLocalRecFile();
    int SearchRemoteRecFile(int nPage, int bClearList);
    int SearchNVRRecByDate(const DeviceInfo* pDevInfo, const RecDayMap& map);
    void MergeDevFileList();
    int ShowFirstResultPage();
    LRESULT OnSearchRemoteRecFileResponse(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryNVRRecFileResponse(WPARAM wParam, LPARAM lParam);

    // --- the players ---
    CPlayBackAtl* GetPlayer(int nIndex) const;
    // 1 when a player on show exists and does not play.
    int HasIdlePlayer() const;
    // A day cell or relay day slot names the player.
    bool IsPlayerReserved(int nPlayer) const;
    void DestroyPlayers() override;
    // Events of the players (control id first).
    void OnPlayBackMouse(int32_t ctrlId, int32_t message, int32_t wParam, int32_t lParam) override;
    void OnPlayBackMessage(int32_t ctrlId, int32_t type, const char* text) override;
    void OnPlayBackCommand(int32_t ctrlId, int32_t command, int32_t value) override;

    // --- handlers ---
    void OnBnClickedBtnSearch();
    void OnBnClickedBtnPrevPage();
    void OnBnClickedBtnNextPage();
    void OnBnClickedBtnByFile();
    void OnBnClickedBtnByDate();
    void OnCbnSelchangeSource();
    void OnCbnSelchangeMedia();
    void OnBnClickedCheckSync();
    void OnDtnDatetimechangeQueryDate() {}

    // --- players and replays ---
    // Asks the page to re-initialise a player (lParam: the player).
    static constexpr UINT WM_PLAYER_STOP = WM_USER + 7025;
    // A relay day slot's new file waits for its player (wParam: the slot).
    static constexpr UINT WM_RELAY_DAY_SETUP = WM_USER + 7026;
    static constexpr int kBlockSeconds = 600;
    // Connects the result list's double click; called once by OnInitDialog.
    void InitPlayback();
    void OnDblclkRecordList();
    LRESULT OnTimeBarDblClk(WPARAM wParam, LPARAM lParam);
    LRESULT OnPlayerStop(WPARAM wParam, LPARAM lParam);
    LRESULT OnRelayDaySetup(WPARAM wParam, LPARAM lParam);
    void OpenReplay(int nRow, int nSecond);
    void OnPlayerCommand(int32_t ctrlId, int32_t command, int32_t value);
    void StopAllPlayback();
    void OnBnClickedCutClip();
    void OnBnClickedSyncPlay();
    void OnTimer(UINT_PTR nIDEvent) override;
    // Player choice: -1 when none.
    int ChooseDirectPlayer(bool bDeviceFile) const;
    int ChooseDayPlayer() const;
    // Device, recorder and relay replay.
    int StartDeviceFileReplay(const char* szRemotePath, int nRow);
    void OnMediaParamRecv(int32_t auxPtzId, char* xml, int32_t kind) override;
    // header: the 16-byte MediaFrameHeader of the frame.
    void OnMediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const uint8_t* header) override;
    void OnNVRReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel) override;
    int OnNVRReplay(PlayBackStatus cell, int nSecond);
    void OnCtrolNVRReplay(int command, int value, PlayBackStatus& cell);
    void OnRelayReplayStarted(const VideoParam& video, const AudioParam& audio, int nLength, const char* szFile,
                              const TsReplayKey& key, int nLoginId);
    // Relay library threads.
    int OnRelayReplayData(int kind, const char* data, int length, const TsFrameInfo& info, const char* szFile);
    int OnRelayReplayDataByDate(const char* szName, int nChannel, int kind, const char* data, int length,
                                const TsFrameInfo& info, const VideoParam* video, const AudioParam* audio,
                                int bNewFile, int nSeconds, int nFileStartSec);
    void OnRelayReplayStopped(const char* szFile);
    void OnRelayReplayByDateStopped(const char* szName, int nChannel);
    void StopAllRelayReplay();
    int FindRelayLoginId(const char* szName) const;
    // Frames each player accepted from the page.
    int64_t FramesFed(int nPlayer) const;

    std::map<int32_t, CPlayBackAtl*> m_map;   // AuxPtzId -> player of its device or recorder replay
    char m_szRelayReplay[kSlots][260] = {};
    int32_t m_nRelayLogin[kSlots] = {-1, -1, -1, -1, -1, -1, -1, -1};
    TsReplayKey m_oRelayKey[kSlots] = {};
    // Guards the relay tables (m_szRelayReplay, m_nRelayLogin, m_oRelayKey,
    // m_oRelayDayStatus) and the players against the relay library's threads.
    mutable std::mutex m_csRelay;

private:
    struct RelayDaySetup {
        int pending = 0;      // posted, not yet run
        int restart = 0;      // new parameters: the player is restarted
        int seconds = 0;      // file length
        int position = 0;     // first frame's second in the file
    };
    int FeedFrame(CPlayBackAtl* player, int kind, const uint8_t* data, int length, const uint8_t* header);
    void EmptyPlayStatus(int nRow);
    void ReleaseRow(int nRow);
    int PlayerIndex(const CPlayBackAtl* player) const;
    const DeviceInfo* FindNvrChannel(const char* szKey, int nChannel) const;
    RelayDaySetup m_oRelaySetup[kSlots];
    std::string m_strPlayerVideo[kSlots]; // the video text each player last received from a recorder
    std::atomic<int64_t> m_nFramesFed[kSlots] = {};
public:

    // --- downloads ---
    // Ticked result rows one after another from the device or through the
    // relay, and a recorder channel's time span as one MP4.
    void OnBnClickedDownload();
    void OnBnClickedCheckAll();
    LRESULT OnDownloadProgress(WPARAM wParam, LPARAM lParam); // WM_DOWNLOAD_PROGRESS: takes the text
    LRESULT OnTransferEnd(WPARAM wParam, LPARAM lParam);      // WM_DEV_TRANSFER_FAILED: 16 or 17
    // Relay library thread; the data is written at once, the progress text
    // reaches the list on the UI thread.
    void OnRelayDownloadData(const char* data, int32_t length, int64_t received, int64_t total,
                             const char* path) override;
    void OnRelayDownloadEnd(const char* path) override;
    void OnBnClickedDownloadByTime();
    void OnBnClickedStopDownloadByTime();
    void OnTimeDownloadProgress(int32_t auxPtzId, int32_t value) override;
    // A device's or peer's file name made a local one: the part after the
    // last '/' or '\'; empty when that is empty, "." or "..".
    static std::string SafeFileName(const std::string& remote);
    // done * 100 / total, truncated; 0 without a total.
    static int32_t DownloadPercent(int64_t done, int64_t total);
    // The relay library's download calls (the stand-in has no transport yet;
    // tests put a serving client's answers here).
    struct RelayDloadCalls {
        int (*start)(int login, const char* name, int streamFlag, int channel, int one, const char* path);
        int (*stop)(int login, const char* name, int streamFlag, int channel, const char* path);
    };
    static RelayDloadCalls s_relayDload;
    static constexpr uint32_t kRelayProgressMs = 800;

    int32_t m_nDownloadRow = 0;
    int32_t m_bQueueDone = 0;
    char m_szDownloadFile[260] = {};
    std::unique_ptr<FILE, int (*)(FILE*)> m_fileDownload{nullptr, &fclose};
    std::string m_strDownloadTmp;        // the path of m_fileDownload
    int32_t m_bDownloadWriteFailed = 0;  // a block of the current relay file was lost
    uint32_t m_dwLastProgressTick = 0;
    std::recursive_mutex m_csDownload;   // relay data thread against the window thread

private:
    bool StartDeviceRow(int fromRow, bool first);
    void StopDeviceQueue();
    void StartRelayQueue();
    void StopRelayQueue();
    bool InviteRelayRow(int row);
    void CloseRelayTmp(bool remove);
    void SetQueueRunning(bool running);
    void SetRowStatus(int row, const std::string& text);
    bool RowTicked(int row) const;
    std::string RowPath(int row, size_t limit) const;

public:
    // The page's message box text shown last (tests and automation read it).
    std::string LastMessage() const;

    // Members of the search side (names as the rest of the page uses them).
    CResMsgDlg* m_pMsgDlg = nullptr;
    BYTE m_bRelaySource = 0;
    RelayDevItem m_oRelayDev{};
    DeviceInfo m_oDevInfo{};
    CPlayBackAtl* m_pPlayer[kSlots] = {};
    CDeviceListDlg* m_pDevListDlg = nullptr;
    CPlayBackTollBar* m_pTimeBar = nullptr;
    CVideoToolbarDlg* m_pToolbar = nullptr; // comes with the video tool bar
    std::list<RecFileItem> m_lstRecFile;
    std::string m_strDownloadPath;
    int32_t m_nCurPage = 0;
    int32_t m_nPageIndex = 0;
    int32_t m_nFirstRow = 0;
    int32_t m_nPageCount = 0;
    int32_t m_nPlayRow[kSlots];
    int32_t m_nTotalCount = 0;
    int32_t m_nDevPageCount = 0;
    int32_t m_nDevPageIndex = 0;
    int32_t m_bDownload = 0;
    int32_t m_bInitDone = 0;
    int32_t m_bSearchByDate = 0;
    PlayBackStatus m_oPBStatus[kSlots];
    RelayDayStatus m_oRelayDayStatus[kSlots];
    int32_t m_nNextSlot = 0;
    int32_t m_nSlotCount = kSlots;
    int32_t m_nPlayerCount = 4;
    int32_t m_nSelPlayer = 0;
    char m_szPlayFile[kSlots][260] = {};
    std::string m_strCapturePath;
    int32_t m_bShowSearchPanel = 1;
    int32_t m_bFullScreen = 0;
    DeviceInfo m_oNvrDevInfo{};

    struct RelaySearchWait {
        TsSearchRequest request;
        int32_t nHandle;
        int32_t nAuxPtzId; // the device whose answer serves it
    };
    std::list<RelaySearchWait> m_lstRelaySearch;

    CReportCtrl* ResultList() const { return m_pList; }
    // The mouse modes' cursors: arrow, zoom in, zoom out, hand.
    QCursor m_hCursor[4];

    // --- grid, layout and time line ---
    // Panes 1, 2, 4, 9, 16, 25 or 36.
    void SetPlayerLayout(int nPanes);
    // 0 pointer, 1 zoom in, 2 zoom out, 3 move; on every player.
    void SetMouseMode(int nMode);
    void SwitchFullScreen() override;
    int IsFullScreen() override { return m_bFullScreen; }
    void ResizePage(BOOL bFullSize);
    void LayoutControls();
    // 0 to 7; other values do nothing.
    void DrawPlayerFrame(int nPlayer, BOOL bSelected);
    // Where each player goes in a page of W x P for the players, starting at
    // x = Q; an empty rectangle for a player not on show.
    static void GetPaneRects(int nPanes, int nSelPlayer, int W, int P, int Q, CRect rc[kSlots]);
    bool IsKeyboardHookInstalled() const;
    void RemoveKeyboardHook();

    int32_t m_bPlayerFullScreen = 0;
    QPointer<QWidget> m_hOldParent;
    CRect m_wpOld;           // the page's geometry in its parent before full screen
    CRect m_rcPage;
    CRect m_rcHome{235, 91, 1016, 758}; // where the main window puts the page
    int32_t m_nMonitor = 0;  // 0 the main window, 1 to 3 an extension monitor
    int32_t m_nMouseMode = 0;

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;
    void OnMove(int x, int y) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    void ShowMsgId(UINT id);
    void SetStatus(const std::string& text);
    void ShowPageText();
    void FillRows(int first);
    void DeleteAllRows();
    void ResetPlayRows();
    void LayoutPage() { LayoutControls(); }
    void CreateTimeBar();
    void PaintPlayerFrame(QPainter& dc);
    void PaintControlColours(QPainter& dc);
    int m_nFramePlayer = -1; // the player whose frame is on show
    void ApplyPanelState();
    void ShowByFileControls(bool show);
    void ShowByDateControls(bool show);
    void FillMediaCombo(bool withPicture);
    void UpdateDownloadFolder(const DeviceInfo& dev);
    void SelectByDate(const DeviceInfo& dev);
    void ServeRelaySearch(const RelaySearchWait& wait, int nResult, int nCount, const char* text);
    void CreatePlayers();
    void ReadSpan(int64_t* startKey, int64_t* endKey, std::string* startText, std::string* endText) const;

    CReportCtrl* m_pList = nullptr;
    QComboBox* m_pSource = nullptr;
    QComboBox* m_pRecType = nullptr;
    QComboBox* m_pMedia = nullptr;
    QComboBox* m_pStream = nullptr;
    QLineEdit* m_pMinSize = nullptr;
    QLineEdit* m_pMaxSize = nullptr;
    QDateTimeEdit* m_pStart = nullptr;
    QDateTimeEdit* m_pEnd = nullptr;
    QDateTimeEdit* m_pSyncTime = nullptr;
    QDateTimeEdit* m_pQueryDate = nullptr;
    QDateTimeEdit* m_pDlStart = nullptr;
    QDateTimeEdit* m_pDlEnd = nullptr;
    QCheckBox* m_pSyncCheck = nullptr;
    QCheckBox* m_pAllCheck = nullptr;
    QPushButton* m_pSyncPlay = nullptr;
    CTGroupBox* m_pGroup = nullptr;
    std::string m_strLastMsg;

    DECLARE_MESSAGE_MAP()
};
