// What the device trees and the device panel need from the windows above
// them (main window, pages, panes, relay bridge, ONVIF supervision, map
// page): the page state they read, the relay servers' lists, and one small
// interface the main window registers. Until it does, every call does
// nothing and answers "none".
#pragma once

#include "controls/ts_relay.h" // RelayDevItem
#include "platform/geometry.h"
#include "platform/types.h"

#include <cstdint>
#include <list>
#include <string>
#include <vector>

struct DeviceInfo;
struct _ALARM_INFO;
class CZizevaVEDCtrl;
struct DevGroupInfo;
class RecScheme;

// Written by the main window's page switches and the configuration manager.
extern int g_nCurPage;    // 0 live, 1 record search, 2 alarm search, 3 configuration, 4 TV wall, 5 map
extern int g_bVideoTab;   // 1 after the live, record-search or alarm-search tab
extern int g_nCfgSubPage; // 0 devices, 1 users, 2 plans, 3 remote configuration, 4 maintenance
// Text of the item last right-clicked on the live page in cloud-login mode.
extern std::string g_strRClickText;

// A parent relay server this client is logged in to.
struct Qelm2Node {
    int32_t LoginId = -1;
    char DevName[384] = {};
    // What the device page logged in with; VssInfo.xml keeps them.
    char IPAddr[384] = {};    // as typed (host name or dotted address)
    int32_t nPort = 0;
    char LoginName[390] = {};
    char Password[33] = {};   // upper-case MD5 digest
    std::list<RelayDevItem>* pDevList = nullptr; // null until the server sent it; owned by the relay bridge
};

// The relay bridge fills it; the trees read it on the UI thread.
extern std::list<Qelm2Node> g_lstRelayServer;

// The map page's in-memory lists, as the trees read them.
struct MapEntry {
    std::string name;
    std::string parent;
};
struct MapPlacement {
    std::string map;
    std::string channel;
};

// The main window's forwarding operations and what the pages offer the
// device panel. Every operation has a harmless default.
class IDeviceServices {
public:
    virtual ~IDeviceServices() = default;

    // Main window.
    virtual HWND MainWnd() { return nullptr; }
    virtual void ReloadDevTrees() {}
    virtual void ShowDevGroupInfo(DevGroupInfo*) {}
    virtual void OnDevTreeSelDevice(DeviceInfo*) {}
    virtual void OnDevTreeSelVssChannel(RelayDevItem*) {}
    virtual void ShowRecScheme(RecScheme*) {}
    virtual void OnStopWatch(DeviceInfo*, int) {}
    virtual void DropDevToPane(HWND, DeviceInfo*, CPoint) {}
    virtual void DropDecoderToTVWall(DeviceInfo*, CPoint) {}
    virtual void DropCameraToTVWall(DeviceInfo*, CPoint) {}
    virtual void DropDevToMap(DeviceInfo*, CPoint) {}
    virtual void PlayDevInFreePane(DeviceInfo*) {}
    virtual void RemoveOnvifDevice(const char*) {}
    // Refreshes the state icons of every device tree.
    virtual void UpdateDevTreeStatus() {}
    virtual const char* LocalMac() { return ""; }
    virtual void SetRelayTarget(int) {}

    // Pages.
    virtual bool IsCfgPageShown() { return g_nCurPage == 3; }
    virtual bool IsSearchRecShown() { return g_nCurPage == 1; }
    virtual void DisplayVssInfo(const char*) {}
    virtual void SetSearchDevInfo(DeviceInfo*) {}
    virtual void RemoveMaintRow(const char*) {}

    // Map page: false when the map page or its map view does not exist.
    virtual bool HasMapView() { return false; }
    virtual std::vector<MapEntry> Maps() { return {}; }
    virtual std::vector<MapPlacement> MapPlacements() { return {}; }
    virtual std::string CurrentMap() { return {}; }
    virtual void ShowMap(const char*) {}
    virtual void MapRemoveDevice(const char*) {}

    // Video panes. Grid 0 is the main grid, 1..3 the extension monitors'
    // grids (only while MonitorMode is set).
    virtual int GridCount() { return 1; }
    virtual int GridPaneCount(int) { return 16; }
    // Empties the pane under window (or its grandparent) for a relay drop:
    // -1 no pane, 0 a pane of the main grid, 1 a pane of an extension grid.
    virtual int EmptyPaneAt(HWND) { return -1; }
    // Closes the first main-grid pane showing this relay channel.
    virtual void CloseRelayPaneOf(const RelayDevItem*) {}
    // Group play: closes relay video and stops watches in every grid.
    virtual void EmptyAllPanes() {}
    virtual bool IsTalkOn() { return false; }
    virtual void ShowTalkOff() {}
    virtual int AddWatch(int, int, DeviceInfo*) { return 0; }

    // ONVIF and relay libraries.
    virtual void OnvifUnsetAlarm(int32_t) {}
    virtual void AddOnvifEntry(DeviceInfo*) {}
    virtual void TsNotifyUpdateDeviceList() {}
    virtual void TsReportDeviceState(const char*, int, int) {}
    virtual int TsInviteDeviceVideo(int, const char*, int, int) { return 0; }

    // Status supervision, NVR channels, cloud notices and first-run discovery.
    virtual bool IsClosing() { return false; }
    // The alarm list's entry point (row, log, linkage, sound, relay report).
    virtual void OnDisplayAlarmInfo(DeviceInfo*, const _ALARM_INFO*) {}
    virtual bool HasRecScheduler() { return false; }
    // Talk answers by pane key. GridSetSpeakStatus: 0 when a pane of that
    // grid matched, -1 when none did.
    virtual int GridSetSpeakStatus(int, const char*, int) { return -1; }
    virtual bool MapVideoHoldsTalk() { return false; }
    virtual void MapVideoSetSpeakStatus(const char*, int) {}
    virtual bool AlarmActHoldsTalk() { return false; }
    virtual void AlarmActSetSpeakStatus(const char*, int) {}
    // A string-table text in the message box of one window (mode 2).
    enum MsgOwner { kMsgMain = 0, kMsgAlarmAct, kMsgMap, kMsgGrid };
    virtual void ShowMsg(int, int, unsigned) {}
    virtual void UnbindTvWallCamera(const char*) {}
    // Recording-plan page: false until it exists.
    virtual bool HasRecordPage() { return false; }
    virtual void AddDeviceToDefaultStrategy(const DeviceInfo&) {}
    virtual void EnsureDefaultStrategy() {}
    // What the recording-plan and users pages change in the main window:
    // the plan tree, the user/group and role trees, the scrolling caption.
    virtual void ReloadRecSchemeTree() {}
    virtual void RefreshUserTree() {}
    virtual void RefreshRoleTree() {}
    virtual void SetMarqueeText(const char*) {}
    // The manager's start/stop-default-recording button (1297) gets the
    // caption string and is repainted.
    virtual void SetDefaultRecordCaption(unsigned) {}
    // The video tool bar's scheduled-record button: PNG skin, and the
    // tooltip string unless 0.
    virtual void SetScheduledRecordSkin(unsigned, unsigned) {}
    // Clears the main window's default-recording flag.
    virtual void ClearDefaultRecordFlag() {}
    // Main window timers of the first-run sequence.
    virtual void SetMainTimer(unsigned, unsigned) {}
    virtual void KillMainTimer(unsigned) {}
    // The count-down dialog: IDOK when it ran out, IDCANCEL when stopped.
    virtual int RunCountDown(int) { return 1; }
    // The system-modal yes/no question of a string-table text: IDYES or IDNO.
    virtual int AskYesNo(unsigned) { return 7; }
    // The address change dialog on the listed cameras.
    virtual void RunModifyIpDlg(std::list<DeviceInfo>*, CZizevaVEDCtrl*) {}
    // Selects the group in the device panel and plays it.
    virtual void PlayGroup(const char*) {}
    // The device page's removal of a cloud device's records (no save, no
    // message when report is 0).
    virtual void DeleteCloudDevice(const char* devId, int report);

    // Device page (devconfig/).
    // Sets the main window's default-recording flag (1 while every plan is
    // on) and shows it on the video tool bar's scheduled-record button.
    virtual void SetDefaultRecordFlag(int) {}
    // Selects the device-panel item with this text (empty: none).
    virtual void SelectDevTreeItemByText(const char*) {}
    // Index of the first main-grid pane showing the row, or -1.
    virtual int FindWatchPane(const DeviceInfo*) { return -1; }
    // The pane's device copy takes the row's group and name.
    virtual void RenamePaneDevice(int, const DeviceInfo*) {}
    // True while a TV-wall monitor is bound to this decoder.
    virtual bool IsDecoderOnTvWall(const DeviceInfo*) { return false; }
    // Configuration sub-page switch through the main window (which places
    // and shows the manager); false when nobody handled it.
    virtual bool ShowCfgSubPage(int) { return false; }
};

// UI thread. Null unregisters.
void SetDeviceServices(IDeviceServices* services);
// Never null: a do-nothing set stands in until one is registered.
IDeviceServices* DeviceServices();
