// Pages of the main window that live in folders below it in the layer order
// (playback/, alarms/, relay/, devconfig/, settings/, ...). The main window
// cannot include their headers, so app/ registers a factory per page class at
// start; a class without a factory is shown as an empty page of that name.
// What the main window forwards to such a page goes through the small
// interfaces below, which the page implements.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

class CDialog;
class CWnd;
struct DeviceInfo;
struct DevGroupInfo;
struct RelayDevItem;
class RecScheme;
struct User;
struct UserGroup;
struct Role;

using PageFactory = std::function<CDialog*(CWnd* parent)>;

// cls is the page's class name ("CCfgManagerDlg", "CSearchRecDlg", ...).
// A later registration replaces an earlier one; an empty factory removes it.
void RegisterPageFactory(std::string_view cls, PageFactory factory);

// The page built by the registered factory (created as a child of parent and
// not yet shown), or nullptr when none is registered.
CDialog* CreateRegisteredPage(std::string_view cls, CWnd* parent);

// The configuration manager as the rest of the program reaches it.
class ICfgManagerForwards {
public:
    virtual ~ICfgManagerForwards() = default;
    virtual bool HasRecordPage() = 0;
    // The recording page's default plan (created at most once per run).
    virtual void EnsureDefaultStrategy() = 0;
    virtual void AddDeviceToDefaultStrategy(const DeviceInfo& device) = 0;
    virtual bool DefaultSchemeCreated() = 0;
    // Its own sub-page switch: 0 devices, 1 users, 2 recording plans,
    // 3 remote configuration, 4 maintenance.
    virtual void ShowSubPage(int subPage) = 0;
    virtual void ResizeForMainWindow(int maximised) = 0;

    // What the main window routes to it (nothing by default).
    // Its own device panel while it sits on a further monitor.
    virtual void ShowDeviceList(int) {}
    virtual void SetMonitorNumber(int) {}
    virtual void ShowDevicePage() {}
    // Device sub-page.
    virtual void DisplayDevInfo(DeviceInfo*) {}
    virtual void DisplayGroupInfo(DevGroupInfo*) {}
    virtual void ClearDevInfo() {}
    // Remote configuration and maintenance sub-pages.
    virtual void ShowDeviceConfig(DeviceInfo*) {}
    virtual void ShowMaintDeviceInfo(DeviceInfo*) {}
    // Recording plans sub-page.
    virtual void ShowRecScheme(RecScheme*) {}
    virtual void ShowRecordStrategyTree() {}
    virtual bool IsRecordPageVisible() { return false; }
    virtual void PostRecPageRefresh() {}
    virtual void SetRecordButtonCaption(unsigned) {}
    // Users sub-page and its user list.
    virtual void RefreshUserTree() {}
    virtual void RefreshRoleTree() {}
    virtual void ShowUser(const User*) {}
    virtual void ShowGroup(const UserGroup*) {}
    virtual void ShowRole(const Role*) {}
    // Its own device panel.
    virtual void RefreshDevState() {}
    virtual void RefreshDevTree() {}
    virtual void ExpandDevChannels(DeviceInfo*) {}
};

// The record search page as the rest of the program reaches it.
class ISearchRecForwards {
public:
    virtual ~ISearchRecForwards() = default;
    virtual void SetSearchDevInfo(DeviceInfo* device) = 0;
    virtual void SetSearchRemoteDevInfo(RelayDevItem*) {}
    // On a further monitor it shows its own device panel.
    virtual void SetOnExtScreen(int) {}
    virtual void RefreshTimeBar() {}
    // Its own device panel: the group view, and a device's channels.
    virtual void ShowDevListGrouped() {}
    virtual void ExpandDevChannels(DeviceInfo*) {}
    // At close: the relay replays end, then the players go before the page.
    virtual void StopAllRelayReplay() {}
    virtual void DestroyPlayers() {}
    // Escape in the main window leaves the page's full screen.
    virtual int IsFullScreen() { return 0; }
    virtual void SwitchFullScreen() {}
    // Device-control replay events (UI thread). header: the frame's 16-byte
    // MediaFrameHeader. OnMediaParamRecv takes the text (qelm::FreeText).
    virtual void OnMediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const uint8_t* header) = 0;
    virtual void OnMediaParamRecv(int32_t auxPtzId, char* xml, int32_t kind) = 0;
    virtual void OnNVRReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel) = 0;
};

// The record search page's downloads, as the main window's sinks, relay
// callbacks and handlers reach them.
class ISearchRecDownloads {
public:
    virtual ~ISearchRecDownloads() = default;
    virtual void OnTimeDownloadProgress(int32_t auxPtzId, int32_t value) = 0;
    virtual void OnRelayDownloadData(const char* data, int32_t length, int64_t received, int64_t total,
                                     const char* path) = 0;
    virtual void OnRelayDownloadEnd(const char* path) = 0;
};
