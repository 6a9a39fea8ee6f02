// CVideoWnd: one video pane. It shows the live stream of one device channel
// through one of the device's two stream sinks, or nothing. The pane builds
// the stream address, asks the stream pull control for a stream and hands
// the sink its render area; the sink decodes and draws there.
#pragma once

#include "core/devinfo.h"
#include "devices/device_services.h"
#include "platform/dialog.h"

#include <cstdint>
#include <string>

class CResMsgDlg;
class CRtspEvents;
class CVideoManagerDlg;

class CVideoWnd : public CDialog {
public:
    enum { IDD = 139, IDC_RENDER = 1063 };
    // Frame colours (0x00BBGGRR).
    static constexpr COLORREF kFrameSelected = 0x0000FF;
    static constexpr COLORREF kFrameNormal = 0xD8E9EC;
    // Longest stream address and stream name a pane opens.
    static constexpr size_t kMaxUrl = 2047;
    static constexpr size_t kMaxStreamName = 9;
    // The PTZ command buffer, channel prefix included.
    static constexpr size_t kPtzBufSize = 10240;

    CVideoWnd(CWnd* pOwner, int isAlarmPane, int isMapPane);
    ~CVideoWnd() override;

    // The pane whose render area (or the area's descendant) is wnd; null
    // when it belongs to no pane.
    static CVideoWnd* FromRenderArea(CWnd* wnd);

    void SetWndIndex(int index) { m_nWndIndex = index; }
    int GetWndIndex() const { return m_nWndIndex; }
    void MoveVideoWnd(int x, int y, int w, int h);
    void GetWndPos(CRect* rc) const;
    void SetSelected(uint8_t selected);
    CWnd* GetRenderArea() const { return m_pRenderArea; }

    // --- watch (Part of the pane's life: open, stop, forget) ---
    int AddWatch(DeviceInfo* r, int keepOld);
    int StopWatch(int refresh);
    int ClearWatchInfo();
    int ResetWatchInfo();
    int ReleaseWithoutWait();
    int ApplyFullDisplay();
    int ApplyShowLastFrame();

    // --- sound, talk, snapshot, recording, streams, PTZ ---
    int OpenSound();
    int ToggleSpeak();
    void SetSpeakStatus(int nValue);
    int SnapShot(const char* folder);
    int StartManualRec(const char* folder);
    int StopManualRec();
    int SwitchCifD1();
    int AutoSwitchCIF();
    int AutoSwitchMainStream();
    int ZoomSwitchMainStream();
    int OnRecoverSubStream();
    int RestoreMainStream();
    int OnVideoFlip();
    int SendPtzCmd(const char* cmd);
    void SetDigitalZoomMode(int mode);

    // Relay video is shown by the relay bridge's pane operations; these
    // stand for them until they exist.
    int CloseRelayVideo();
    void ClearRelayInfo();

    // --- marks read by the grid ---
    int IsWatching() const { return m_bWatching; }
    int IsRelayOn() const { return m_bRelayOn; }
    bool IsFree() const { return !m_bWatching && !m_bRelayOn; }
    int IsSoundOn() const { return m_bSoundOn; }
    int IsRelaySoundOn() const { return m_bRelaySound; }
    int IsTalkOn() const { return m_bTalkOn; }
    int IsTalkPending() const { return m_bTalkPending; }
    int IsManualRecord() const { return m_bManualRecord; }
    int IsDragging() const { return m_bDragging; }
    int IsAlarmPane() const { return m_bAlarmPane; }
    int IsMapPane() const { return m_bMapPane; }
    int IsSelected() const { return m_bSelected; }
    int GetZoomMode() const { return m_nZoomMode; }
    int ZoomSwitched() const { return m_bZoomSwitch; }
    int AutoSwitchedToSub() const { return m_bAutoSwitchedToSub; }
    int AutoSwitchAllowed() const { return m_bAutoSwitchAllowed; }
    const char* RecordFolder() const { return m_szRecordFolder; }
    const DeviceInfo& DevCopy() const { return m_DevInfo; }
    DeviceInfo& DevCopy() { return m_DevInfo; }
    const RelayDevItem& RelayCopy() const { return m_RelayNode; }
    CVideoManagerDlg* OwnerGrid() const { return m_pVideoMgr; }

    int m_bInLayout = 0;   // the grid's in-layout mark

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnPaint() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    DeviceInfo* FindListed(const DeviceInfo& r) const;
    DeviceInfo* FindByNameAndSinks() const;
    CRtspEvents* RenderingSink() const;
    int SinkSoundOn(CRtspEvents* sink, bool on) const;
    void DrawFrame();
    int OpenNewStream(DeviceInfo* d, const DeviceInfo* r, CRtspEvents* sink, int slot, const std::string& url,
                      const char* streamName, const void* profile, bool recordingSide);
    int ReopenWithKey(const char* key);

    CResMsgDlg* m_pMsgDlg = nullptr;
    CVideoManagerDlg* m_pVideoMgr = nullptr;
    CWnd* m_pMapDlg = nullptr;
    CWnd* m_pRenderArea = nullptr;
    char m_szRecordFolder[1024] = {};
    int m_nZoomMode = 0;
    int m_nWndIndex = 0;
    int m_bSoundOn = 0;
    int m_bTalkOn = 0;
    int m_bWatching = 0;
    DeviceInfo m_DevInfo{};
    RelayDevItem m_RelayNode{};
    int m_nRelayStreamType = -1;
    int m_nRelayChannel = -1;
    uint8_t m_bRelayOn = 0;
    uint8_t m_bRelaySound = 0;
    int m_bRelayAutoPan = 0;
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;
    int m_bZoomSwitch = 0;
    int m_bAutoSwitchedToSub = 0;
    int m_bAlarmPane = 0;
    int m_bMapPane = 0;
    int m_bManualRecord = 0;
    int m_bMouseTracked = 0;
    int m_bDragging = 0;
    int m_bTalkPending = 0;
    int m_bButtonHeld = 0;
    int m_bAutoSwitchAllowed = 1;
    uint8_t m_bSelected = 0;
};

// Formats the live (or recording-side) address of record r for a pane, as
// the access mode and device type ask. Returns false when the mode has no
// address or a field does not fit: url and name are then empty. For access
// mode 2 the result is a stream name in name and no url.
bool BuildPaneStreamUrl(const DeviceInfo& r, bool recordingSide, std::string& url, std::string& name);
