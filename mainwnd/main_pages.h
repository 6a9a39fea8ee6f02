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
};

// The record search page as the rest of the program reaches it.
class ISearchRecForwards {
public:
    virtual ~ISearchRecForwards() = default;
    virtual void SetSearchDevInfo(DeviceInfo* device) = 0;
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
