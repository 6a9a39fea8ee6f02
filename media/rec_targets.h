// What the recording scheduler and the storage cleaner reach above media/:
// the relay library's state report, this client's MAC text, the recording
// settings page, the login mode and the ONVIF profile lookup. The higher
// layers register their side; until they do, every call is a no-op. Also
// the storage seam: which drive a storage path is on and how much is free.
#pragma once

#include "controls/media_params.h"
#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct _OVF_DEV_INFO;

// Posted by the scheduler, no payload.
enum : UINT {
    WM_DEVSTATUS_REFRESH = WM_USER + 11,   // to the main window
    WM_RECPAGE_REFRESH = WM_USER + 2009,   // to the recording settings page
};

class IRecordTargets {
public:
    virtual ~IRecordTargets() = default;
    // The relay library's TS_ReportDeviceState (state 2 started, 3 stopped).
    virtual void TsReportDeviceState(const char* name, int channel, int state) = 0;
    // The main window's MAC address text (first half of relay names).
    virtual std::string LocalMac() = 0;
    // The recording settings page while it is visible, else null.
    virtual HWND RecPageWnd() = 0;
    // The operator chose a login server at login.
    virtual bool IsLoginServerMode() = 0;
    // ONVIF: fills the description; 0 on success.
    virtual int OvfGetDevInfo(const char* serviceAddr, const char* user, const char* password, _OVF_DEV_INFO* info) = 0;
    // The profile of index (0 main, 1 sub) of a description; true when found.
    virtual bool GetOnvifStreamProfile(const _OVF_DEV_INFO* info, int index, StreamProfile* profile) = 0;
};

// Any thread; null unregisters. The registered object must outlive the
// scheduler and the cleaner.
void SetRecordTargets(IRecordTargets* targets);
IRecordTargets* GetRecordTargets();

namespace qelm {

// Free bytes of the drive holding path; nullopt when it cannot be measured.
using FreeBytesFn = std::function<std::optional<std::uint64_t>(const std::string& path)>;
// Tests replace the disk query; an empty function restores statvfs.
void SetFreeBytesHook(FreeBytesFn fn);
std::optional<std::uint64_t> DriveFreeBytes(const std::string& path);

// The drive a storage path is on: the longest entry of DriveList() that
// holds it, else the data folder when the path is on its filesystem, else
// its filesystem. Empty for an empty path.
std::string DriveKey(const std::string& path);

} // namespace qelm
