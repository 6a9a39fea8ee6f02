// The one routine that takes a device record out of the program: every
// removal path (delete-all of a group, delete by id, cloud notices, NVR
// channel changes) goes through it.
#pragma once

#include "core/devinfo.h"

#include <list>
#include <string>
#include <vector>

// What the relay reports need of a removed record.
struct RemovedDevice {
    int DevType = 0;
    std::string DevName;
    std::string IPAddr;
};

// Stops and unregisters everything attached to the record at it (panes,
// recording, maintenance row, device-control registration, map placement,
// ONVIF alarm subscription, P2P log-in stream, plan memberships) and erases
// it; its two stream sinks stay alive until DeleteDeviceSinks. Appends what
// the relay reports need to removed. UI thread, inside g_csDevList. Returns
// the next record.
// caller ("Class::Method()") begins the log lines of the stopped recordings.
std::list<DeviceInfo>::iterator RemoveDeviceRecord(std::list<DeviceInfo>::iterator it,
                                                   std::vector<RemovedDevice>* removed,
                                                   const char* caller = "CSettingDevInfoDlg::OnBnClickedBtnDevDel()");

// The relay reports after removals, outside the lock: one list-update
// notice when an NVR row went, then one state report per other record.
void ReportRemovedDevices(const std::vector<RemovedDevice>& removed);

// Deletes every record's two stream sinks and those of removed records (the
// main window's close, after the recording threads stopped).
void DeleteDeviceSinks();
