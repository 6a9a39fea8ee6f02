// CVideoManagerDlg: the grid of 64 video panes in one of twelve layouts,
// with one selected pane, zoom, full screen, watch placement and recovery,
// pane swapping, and the grid-wide talk, sound, recording and PTZ rules.
#pragma once

#include "core/devinfo.h"
#include "liveview/video_wnd.h"
#include "platform/dialog.h"

#include <cstdint>
#include <string>

class CResMsgDlg;

// Posted to a grid: a PTZ command text (heap) for SendPtzCmd from another thread.
constexpr UINT WM_GRID_PTZ_CMD = WM_USER + 7030;
// The pane patrol's step message.
constexpr UINT WM_PATROL_STEP = 7024;

class CVideoManagerDlg : public CDialog {
public:
    enum { IDD = 138, kPaneCount = 64 };

    CVideoManagerDlg(int left, int top, int right, int bottom, CWnd* pParent, int popup);
    ~CVideoManagerDlg() override;

    // --- layout, selection, zoom, full screen ---
    void SetDisplayMode(int mode, int full, int force);
    void SelectWnd(int index);
    void OnWndMouseMsg(MSG* pMsg, int index);
    void ZoomWnd(int index);
    void RestoreZoomWnd();
    int SwitchFullScreen();
    void OnEscKey(MSG* pMsg);
    void ResizeForMainWindow(int maximised);
    int LockScreen();
    // The unlock password was given (Escape in the main window).
    void UnlockScreen() { m_bScreenLocked = 0; }

    // --- placement, recovery, swapping ---
    int AddWatch(int index, DeviceInfo* r, int saveRecover, int moveToFreePane, int keepOld, int unused,
                 int checkRange, int autoMainStream);
    int HasFreeWnd();
    int RecoverSurveillance();
    int SaveSurStatus();
    int StopWatch(int index, int refresh);
    int StopSelectedWatch();
    int RemoveAllWatch();
    int ChangeDispWnd(CWnd* source, CWnd* target);
    int GetSelectedDevice(DeviceInfo** out);

    // --- grid-wide talk, sound, recording, PTZ ---
    int OnSpeak();
    int OnStopSpeak(const char* name);
    int SetSpeakStatus(const char* key, int nValue);
    int OnSound();
    int SnapShot();
    int ToggleManualRecord();
    int SendPtzCmdToSelected(const char* cmd);
    // Any thread: the command is carried to the UI thread.
    void SendPtzCmd(const char* cmd);
    int GetSelectedPtzAddr();
    int SetDigitalZoomMode(int mode);
    int ApplyFullDisplay();
    int ApplyKeepLastFrame();
    int OnVideoFlip();

    // Snapshot and manual-record folders of a pane's device (with the
    // trailing separator); exposed for the folder rules.
    std::string SnapshotFolder(const DeviceInfo& dev) const;
    std::string ManualRecordFolder(const DeviceInfo& dev) const;

    // --- pane patrol marks (the patrol itself runs elsewhere) ---
    bool IsPatrolActive(int index) const;
    void StopPatrol(int index);

    // --- state ---
    CVideoWnd* GetPane(int index) const;
    int GetSelectedIndex() const { return m_nSelected; }
    int GetShownCount() const { return m_nShownCount; }
    int GetDisplayMode() const { return m_nDisplayMode; }
    int IsFullScreen() const { return m_bFullScreen; }
    int IsZoomed() const { return m_bZoomed; }
    int IsZoomedInFullScreen() const { return m_bZoomInFullScreen; }
    int IsSoundOn() const { return m_bSoundOn; }
    int IsTalkOn() const { return m_bTalkOn; }
    int IsScreenLocked() const { return m_bScreenLocked; }
    void ClearTalkSoundFlags() { m_bTalkOn = m_bSoundOn = 0; }
    void SetMonitorNum(int n) { m_nMonitorNum = n; }
    int GetMonitorNum() const { return m_nMonitorNum; }
    CRect GetNormalRect() const { return m_rcNormal; }
    CRect GetCurrentRect() const { return m_rcCurrent; }
    CResMsgDlg* MsgDlg() const { return m_pMsgDlg; }

protected:
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnMove(int x, int y) override;
    void OnSize(UINT nType, int cx, int cy) override;
    LRESULT OnGridPtzCmd(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    void ApplyLayout(int n, int full, int force);
    void ShowPaneAlone(int index);
    void ShowLayoutAgain(int& zoomed);
    void SnapBack();
    void ShowMsgW(const std::wstring& text);
    void SendPtzCmdNow(const char* cmd);
    int FirstFreePane(int from) const;
    CVideoWnd* PaneOfWindow(CWnd* wnd, CVideoManagerDlg** grid);

    CResMsgDlg* m_pMsgDlg = nullptr;
    CRect m_rcNormal;
    CRect m_rcCurrent;
    CVideoWnd* m_pVideoWnd[kPaneCount] = {};
    uint8_t m_bFullScreen = 0;
    int m_bZoomInFullScreen = 0;
    int m_bDblClkLeavesFull = 0;
    QWidget* m_pSavedParent = nullptr;
    bool m_bHasSavedParent = false;
    int m_nSelected = 0;
    int m_bSoundOn = 0;
    int m_bTalkOn = 0;
    int m_bInitialised = 0;
    int m_bLayoutInProgress = 0;
    int m_nShownCount = 0;
    bool m_bPatrolActive[kPaneCount] = {};
    int m_nMonitorNum = 0;
    uint8_t m_bScreenLocked = 0;
    int m_bPopup = 0;
    CWnd* m_pParent = nullptr;
    int m_nDisplayMode = 0;
    CRect m_rcZoom;
    int m_bZoomed = 0;
    bool m_bSnapping = false;
};
