// What the live view reaches in the main window above it: the device trees,
// the video toolbar's buttons, the PTZ panel, the further monitors' grids,
// the storage setting and the connect-status list. The main window registers
// an implementation; until then every call does nothing and answers "none".
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>
#include <vector>

struct DeviceInfo;
struct RelayDevItem;
class CVideoManagerDlg;

// Toolbar button pictures ("PNG" resources) the grid and panes set.
enum : int {
    kImgTalkOff = 177, kImgTalkOn = 211,
    kImgSoundOff = 176, kImgSoundOn = 212,
    kImgRecordOn = 275, kImgRecordOff = 276,
    kImgPatrolOn = 238, kImgPatrolOff = 240,
};
// Tooltip strings of the record button.
enum : UINT { kStrRecordStart = 311, kStrRecordStop = 333, kStrSavePath = 440, kStrCaptureFailure = 441 };

class ILiveViewHost {
public:
    virtual ~ILiveViewHost() = default;

    virtual HWND MainWnd() { return nullptr; }
    // m_pActiveVideoMgr of the main window.
    virtual void SetActiveVideoMgr(CVideoManagerDlg*) {}
    virtual CVideoManagerDlg* MainGrid() { return nullptr; }
    // The grids of the further monitors, in monitor order.
    virtual std::vector<CVideoManagerDlg*> ExtGrids() { return {}; }

    // Device trees.
    virtual void UpdateDevTreeStatus() {}
    virtual void SelectDevTreeDevice(const DeviceInfo*) {}
    virtual void SelectDevTreeVssChannel(const RelayDevItem*) {}

    // The main video toolbar's buttons.
    virtual void SetTalkButtonImage(int) {}
    virtual void SetSoundButtonImage(int) {}
    virtual void SetRecordButton(int /*image*/, UINT /*tooltip string*/) {}
    virtual void SetPatrolButtonImage(int) {}

    // Digital zoom off on every pane of every grid; false when not handled
    // (the pane then turns its own grid's zoom off).
    virtual bool SetDigitalZoomMode(int) { return false; }
    // NVR talk-back decoder of the main window.
    virtual void ReleaseAudioCodec(int) {}
    // The PTZ panel's preset lists, when the panel exists.
    virtual void ClearPresetCombos() {}

    // Logged in through a login server.
    virtual bool IsLoginServerMode() { return false; }
    // The storage page's save folder ("" when not set).
    virtual std::string SavePath() { return {}; }

    // The connect-status delay list of platform devices: an entry after a
    // stream opened on sink slot (1 or 2) of d, and the flush when the
    // device's watch stops.
    virtual void AppendRcvStatus(const char* /*devId*/, DeviceInfo* /*d*/, int /*slot*/, int /*p2pType*/,
                                 uint32_t /*tick*/) {}
    virtual void FlushRcvStatus(const char* /*devId*/) {}
};

// UI thread. Null unregisters.
void SetLiveViewHost(ILiveViewHost* host);
// Never null: a do-nothing host stands in until one is registered.
ILiveViewHost* LiveViewHost();
