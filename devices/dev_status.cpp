// Device and stream status supervision: Online states, icons, relay reports,
// connection alarms, version requests and talk answers.
#include "devices/dev_status.h"

#include "core/log.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/clock.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace devsup {

std::string RelayName(const DeviceInfo& d)
{
    // The relay library's name buffer is 260 bytes.
    char name[260];
    qelm::CopyBounded(name, sizeof name, std::string(DeviceServices()->LocalMac()) + ":" + d.IPAddr);
    return name;
}

std::string PaneKey(const DeviceInfo& d)
{
    if (d.DevType == 4)
        return std::string(d.IPAddr) + "-" + d.DevName;
    return d.DevName;
}

int StreamNumber(const DeviceInfo& d)
{
    std::size_t n = std::strlen(d.DevName);
    if (n == 0)
        return 0;
    char c = d.DevName[n - 1];
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

void RequestVersion(int32_t auxPtzId)
{
    if (g_pAuxPtzCtrl)
        g_pAuxPtzCtrl->WriteAUXStringEx(auxPtzId, "SYSTEM_CONTROL_MESSAGE", 1012, 0, "");
}

_ALARM_INFO MakeConnectionAlarm(int32_t type)
{
    _ALARM_INFO a;
    std::memset(&a, 0, sizeof a);
    std::tm now = qelm::LocalNow();
    a.year = now.tm_year + 1900;
    a.month = now.tm_mon + 1;
    a.day = now.tm_mday;
    a.hour = now.tm_hour;
    a.minute = now.tm_min;
    a.second = now.tm_sec;
    a.alarmType = type;
    return a;
}

} // namespace devsup

namespace {

void Report(const DeviceInfo& d, int channel, int state)
{
    DeviceServices()->TsReportDeviceState(devsup::RelayName(d).c_str(), channel, state);
}

void RaiseConnectionAlarm(DeviceInfo& d, int32_t type)
{
    _ALARM_INFO a = devsup::MakeConnectionAlarm(type);
    OnDeviceAlarm(&d, &a);
}

// Types 6 and 7: the answer to a talk or broadcast start.
void TalkAnswer(DeviceInfo& d, int32_t auxPtzId, int32_t type)
{
    IDeviceServices* s = DeviceServices();
    const std::string key = devsup::PaneKey(d);
    if (type == kDevEvTalkOk) {
        if (d.BroadcastState == 1) {
            d.BroadcastState = 2;
            for (CRtspEvents* sink : {d.pRtspEvent1, d.pRtspEvent2})
                if (sink)
                    sink->SetBroadcastStatus(1);
            return;
        }
        WriteLog(6, "CIPCClientDlg::OnDevStatusResponse(): Receive  EVENT_STARTAUDIOOK, AuxPtzId=%ld",
                 static_cast<long>(auxPtzId));
        CRtspEvents* open = d.StreamId1 > 0 ? d.pRtspEvent1 : (d.StreamId2 > 0 ? d.pRtspEvent2 : nullptr);
        if (s->MapVideoHoldsTalk()) {
            if (open)
                open->SetTalkMarkTarget(2);
            s->MapVideoSetSpeakStatus(key.c_str(), 1);
        } else if (s->AlarmActHoldsTalk()) {
            if (open)
                open->SetTalkMarkTarget(1);
            s->AlarmActSetSpeakStatus(key.c_str(), 1);
        } else if (s->GridSetSpeakStatus(0, key.c_str(), 1) != 0) {
            for (int g = 1; g < s->GridCount(); ++g)
                s->GridSetSpeakStatus(g, key.c_str(), 1);
        }
        return;
    }

    WriteLog(6, "CIPCClientDlg::OnDevStatusResponse(): Receive  EVENT_STARTAUDIOFAILED, AuxPtzId=%ld",
             static_cast<long>(auxPtzId));
    if (d.BroadcastState == 1) {
        d.BroadcastState = 0;
        return;
    }
    if (d.BroadcastState == 2) {
        for (CRtspEvents* sink : {d.pRtspEvent1, d.pRtspEvent2})
            if (sink)
                sink->SetBroadcastStatus(0);
        d.BroadcastState = 0;
        return;
    }
    constexpr unsigned kSpeakFailed = 272;
    if (s->AlarmActHoldsTalk()) {
        s->AlarmActSetSpeakStatus(key.c_str(), 0);
        s->ShowMsg(IDeviceServices::kMsgAlarmAct, 0, kSpeakFailed);
    } else if (s->MapVideoHoldsTalk()) {
        s->MapVideoSetSpeakStatus(key.c_str(), 0);
        s->ShowMsg(IDeviceServices::kMsgMap, 0, kSpeakFailed);
    } else if (s->GridSetSpeakStatus(0, key.c_str(), 0) == 0) {
        s->ShowMsg(IDeviceServices::kMsgGrid, 0, kSpeakFailed);
    } else {
        for (int g = 1; g < s->GridCount(); ++g)
            if (s->GridSetSpeakStatus(g, key.c_str(), 0) == 0)
                s->ShowMsg(IDeviceServices::kMsgGrid, g, kSpeakFailed);
    }
}

// Video server or NVR parent row.
void ServerOrRecorder(DeviceInfo& d, int32_t auxPtzId, int32_t type)
{
    IDeviceServices* s = DeviceServices();
    bool refresh = false;
    if (type == kDevEvLoggedIn) {
        devsup::RequestVersion(auxPtzId);
        WriteLog(6, "CIPCClientDlg::OnDevStatusResponse(): get dvs system version info,DevName=%s, lAuxPtzId=%ld",
                 d.DevName, static_cast<long>(auxPtzId));
    } else {
        s->RemoveMaintRow(d.IPAddr);
        if (d.DevType == 4) {
            if (type == kDevEvRefused) {
                if (d.Online != -1) {
                    d.Online = -1;
                    refresh = true;
                }
            } else {
                d.Online = 0;
            }
            if (type == kDevEvNvrLost) {
                d.ChannelStates[0] = 0;
                for (DeviceInfo& row : g_lstDevInfo)
                    if (row.DevType == 4 && row.CurNVRChannel > 0 && std::strcmp(row.IPAddr, d.IPAddr) == 0 &&
                        row.Online != 0) {
                        row.Online = 0;
                        refresh = true;
                    }
            }
        }
    }

    for (DeviceInfo& row : g_lstDevInfo) {
        if (row.DevType != 0 || std::strcmp(row.IPAddr, d.IPAddr) != 0)
            continue;
        if (type == kDevEvLoggedIn) {
            RaiseConnectionAlarm(d, kAlarmConnected);
            WriteLog(6, "CIPCClientDlg::OnDevStatusResponse(): DVS DevName=%s login ok!", row.DevName);
            if (row.Online != 1) {
                Report(row, devsup::StreamNumber(row), 1);
                row.Online = 1;
                refresh = true;
            }
        } else {
            RaiseConnectionAlarm(d, kAlarmDisconnected);
            WriteLog(6, "CIPCClientDlg::OnDevStatusResponse(): DVS DevName=%s offline!", row.DevName);
            if (row.Online != 0) {
                Report(row, devsup::StreamNumber(row), 0);
                row.Online = 0;
                refresh = true;
            }
        }
    }
    if (refresh)
        s->UpdateDevTreeStatus();
}

// Cameras, decoders, relay servers.
void SingleDevice(DeviceInfo& d, int32_t auxPtzId, int32_t type)
{
    IDeviceServices* s = DeviceServices();
    if (type == kDevEvLoggedIn) {
        RaiseConnectionAlarm(d, kAlarmConnected);
        if (d.Online != 1) {
            Report(d, 0, 1);
            if (d.RecFlag)
                Report(d, 0, 2);
            d.Online = 1;
            s->UpdateDevTreeStatus();
        }
        WriteLog(6, "CIPCClientDlg::OnDevStatusResponse: DevName=%s login ok!", d.DevName);
        devsup::RequestVersion(auxPtzId);
        WriteLog(6, "CIPCClientDlg::OnDevStatusResponse: get system version info,DevName=%s, lAuxPtzId=%ld",
                 d.DevName, static_cast<long>(auxPtzId));
        return;
    }

    if (d.DevType == 1 && d.Online == 1)
        RaiseConnectionAlarm(d, kAlarmDisconnected);
    if (d.Online == 1 && d.nPltDev == 0) {
        Report(d, 0, 0);
        d.Online = 0;
        s->UpdateDevTreeStatus();
    }
    if (type == kDevEvRefused && d.Online != -1) {
        d.Online = -1;
        s->UpdateDevTreeStatus();
    }
    if (d.nPltDev != 0) {
        d.UseP2P = 1;
        d.VisitMod = 3;
        if (g_pAuxPtzCtrl && d.AuxPtzId > 0)
            g_pAuxPtzCtrl->DelDevice(d.AuxPtzId);
        // The handle is gone: a later removal must not unregister it again.
        d.AuxPtzId = 0;
    }
    for (int g = 1; g < s->GridCount(); ++g)
        s->GridSetSpeakStatus(g, d.DevName, 0);
    s->RemoveMaintRow(d.IPAddr);
    WriteLog(6, "CIPCClientDlg::OnDevStatusResponse: The device offline. DevName=%s, lAuxPtzId=%ld", d.DevName,
             static_cast<long>(auxPtzId));
}

bool IsTalkType(int32_t type)
{
    return type >= kDevEvTalkOk && type <= kDevEvTalkOther;
}

} // namespace

void OnDevStatusResponse(int32_t auxPtzId, int32_t type)
{
    // Records that never registered hold 0: no event speaks for them.
    if (auxPtzId <= 0)
        return;
    qelm::CsLock lock(g_csDevList);
    for (DeviceInfo& d : g_lstDevInfo) {
        if (d.AuxPtzId != auxPtzId)
            continue;
        const bool channelRow = d.CurNVRChannel != 0;
        if (channelRow && !(IsTalkType(type) && d.DevType == 4))
            continue;
        if (type == kDevEvTalkOk || type == kDevEvTalkFailed) {
            TalkAnswer(d, auxPtzId, type);
            return;
        }
        if (type == kDevEvTalkStopped) {
            const std::string key = devsup::PaneKey(d);
            DeviceServices()->GridSetSpeakStatus(0, key.c_str(), 0);
            DeviceServices()->AlarmActSetSpeakStatus(key.c_str(), 0);
        }
        if (channelRow)
            continue;
        if (type < kDevEvLost || type > kDevEvRefused)
            return;
        if (d.DevType == 0 || d.DevType == 4)
            ServerOrRecorder(d, auxPtzId, type);
        else
            SingleDevice(d, auxPtzId, type);
        return;
    }
}

void OnStreamStatus(char* devIdBlock, int32_t code)
{
    char devId[256];
    std::unique_ptr<char[]> owned(devIdBlock);
    if (!devIdBlock)
        return;
    qelm::CopyBounded(devId, sizeof devId, std::string_view(devIdBlock, strnlen(devIdBlock, 255)));
    owned.reset();

    qelm::CsLock lock(g_csDevList);
    for (DeviceInfo& d : g_lstDevInfo) {
        if (std::strcmp(d.DevId, devId) != 0)
            continue;
        if (code == 6 || code == 75) {
            if (d.Online != 0) {
                d.Online = 0;
                if (d.DevType == 4) {
                    d.ChannelStates[0] = 0;
                    for (DeviceInfo& row : g_lstDevInfo)
                        if (row.DevType == 4 && row.CurNVRChannel > 0 && std::strcmp(row.DevId, d.DevId) == 0)
                            row.Online = 0;
                }
                DeviceServices()->UpdateDevTreeStatus();
            }
        } else if (code == 5) {
            if (d.Online != 1) {
                d.Online = 1;
                DeviceServices()->UpdateDevTreeStatus();
            }
        }
        return;
    }
}

void OnDeviceAlarm(DeviceInfo* dev, const _ALARM_INFO* alarm)
{
    IDeviceServices* s = DeviceServices();
    if (!dev || !alarm || s->IsClosing())
        return;
    s->OnDisplayAlarmInfo(dev, alarm);
    const int32_t type = alarm->alarmType;
    if ((type == 14 || type == 15 || type == 16) && s->HasRecScheduler()) {
        // Copies: the alarm list may have changed the list meanwhile.
        std::string devId = dev->DevId;
        int32_t channel = dev->CurNVRChannel;
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo) {
            if (devId != d.DevId || d.CurNVRChannel != channel)
                continue;
            if (type == 14)
                d.MotionAlarmType = type;
            else
                d.IOAlarmType = type;
        }
    }
}

bool DispatchDeviceAlarm(const _ALARM_SOURCE* source, const _ALARM_INFO* alarm)
{
    if (!source || !alarm)
        return false;
    DeviceInfo* found = nullptr;
    {
        qelm::CsLock lock(g_csDevList);
        const std::string devId(source->devId, strnlen(source->devId, sizeof source->devId));
        const std::string addr(source->cameraAddr, strnlen(source->cameraAddr, sizeof source->cameraAddr));
        for (DeviceInfo& d : g_lstDevInfo) {
            bool match = false;
            switch (source->kind) {
            case kAlarmSourceAuxPtzId: match = source->auxPtzId > 0 && d.AuxPtzId == source->auxPtzId; break;
            case kAlarmSourceDevId: match = !devId.empty() && devId == d.DevId; break;
            case kAlarmSourceCameraAddr: match = d.OnvifDev == 1 && !addr.empty() && addr == d.IPAddr; break;
            default: break;
            }
            if (match) {
                found = &d;
                break;
            }
        }
        if (found)
            OnDeviceAlarm(found, alarm);
    }
    return found != nullptr;
}
