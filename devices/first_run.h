// Removal of a device's records by id, and the first-run discovery: the
// camera search on an empty device list, the optional address change of
// cameras in other networks, the batch add by model and the play of the
// default group.
#pragma once

#include "core/devinfo.h"
#include "platform/types.h"

#include <cstdint>
#include <list>
#include <memory>

class CZizevaVEDCtrl;
struct IpcSearchInfo;

// CIPCClientDlg::RemoveDeviceById: every record of the device (all rows of a
// video server or NVR, the single row of others), through the shared
// teardown; no save, no tree rebuild.
void RemoveDeviceById(const char* devId);

// A discovery entry from a camera-search block (whose texts may fill their
// fields without an end): its fields, the default account and group, and
// the single-row fields of its model's layout.
DeviceInfo DiscoveryEntry(const IpcSearchInfo& block, const char* group, int ptzAddr);

// The default group's name: the group with nType 1, else the first group.
void GetDefaultGroupName(char* out, std::size_t size);

// The first-run discovery of the main window (its timers 1006 and 1007).
class CFirstRunDiscovery {
public:
    enum : unsigned { kTimerSearch = 1006, kTimerPlayDefault = 1007 };

    CFirstRunDiscovery();
    ~CFirstRunDiscovery();
    CFirstRunDiscovery(const CFirstRunDiscovery&) = delete;
    CFirstRunDiscovery& operator=(const CFirstRunDiscovery&) = delete;

    // The main window's initialisation: timer 1006 in 1,500 ms when the
    // device list is empty and the login is local. Also the one-key add.
    void Arm(bool force = false);
    // The main window's OnTimer for 1006 and 1007; false for other ids.
    bool OnTimer(unsigned id);

    int CollectSearchResults();
    int CollectForeignCameras();
    // -1 when nothing was found, else 0.
    int AddSearchedDevices();

    // The search control (created on first use); tests may give their own.
    CZizevaVEDCtrl* SearchCtrl();

    std::list<DeviceInfo> m_lstSearchDev;
    std::list<DeviceInfo> m_lstForeignDev;
    bool m_bIpChangeOffered = false;

private:
    void RunSearch();
    std::unique_ptr<CZizevaVEDCtrl> m_pSearch;
};
