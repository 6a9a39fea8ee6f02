// Supervision of device and stream state: the main window's handlers of the
// device-control status event, the stream status event and the alarm hook,
// as functions the main window calls from its message map.
#pragma once

#include "controls/alarm_info.h"
#include "core/devinfo.h"

#include <cstdint>
#include <string>

// Device-control status event types the supervision acts on.
enum : int32_t {
    kDevEvLost = 2,
    kDevEvNvrLost = 3,
    kDevEvLoggedIn = 4,
    kDevEvRefused = 5,
    kDevEvTalkOk = 6,          // EVENT_STARTAUDIOOK
    kDevEvTalkFailed = 7,      // EVENT_STARTAUDIOFAILED
    kDevEvTalkStopped = 8,
    kDevEvTalkOther = 9,
};

// Connection alarm types.
enum : int32_t { kAlarmDisconnected = 1, kAlarmConnected = 2 };

namespace devsup {
// "%s:%s" of this client's MAC text and the record's address.
std::string RelayName(const DeviceInfo& d);
// "%s-%s" of IPAddr and DevName for an NVR record, DevName otherwise.
std::string PaneKey(const DeviceInfo& d);
// A video-server row's stream number: the last character of its name.
int StreamNumber(const DeviceInfo& d);
// The version request (1012) through the device-control driver.
void RequestVersion(int32_t auxPtzId);
// A zero-filled alarm of the given type stamped with the local time.
_ALARM_INFO MakeConnectionAlarm(int32_t type);
} // namespace devsup

// CIPCClientDlg::OnDevStatusResponse (WM_DEV_STATUS: AuxPtzId, type).
void OnDevStatusResponse(int32_t auxPtzId, int32_t type);
// CIPCClientDlg::OnStreamStatus (WM_STREAM_STATUS): takes the heap id block
// (freed with delete[]) and the code.
void OnStreamStatus(char* devIdBlock, int32_t code);
// CIPCClientDlg::OnDeviceAlarm: the alarm hook every device alarm passes.
void OnDeviceAlarm(DeviceInfo* dev, const _ALARM_INFO* alarm);
// The main window's WM_DEV_ALARM dispatch: finds the record of the source
// and calls OnDeviceAlarm. Does not free the payloads (the caller does).
// True when a record matched.
bool DispatchDeviceAlarm(const _ALARM_SOURCE* source, const _ALARM_INFO* alarm);
