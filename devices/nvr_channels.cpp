// NVR channel rows and their states.
#include "devices/nvr_channels.h"

#include "core/log.h"
#include "core/userinfo.h"
#include "devices/dev_status.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "media/sink_targets.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct TextOwner {
    char* text;
    ~TextOwner() { qelm::FreeText(text); }
};

bool HasChannelRow(const char* devId, int channel)
{
    for (const DeviceInfo& d : g_lstDevInfo)
        if (d.DevType == 4 && d.CurNVRChannel == channel && std::strcmp(d.DevId, devId) == 0)
            return true;
    return false;
}

// A channel row made from the NVR's last row: the saved settings stay, the
// run-time state of that row (panes, streams, recording, log-ins) does not.
DeviceInfo NewChannelRow(const DeviceInfo& last, int channel)
{
    DeviceInfo row = last;
    std::snprintf(row.DevName, sizeof row.DevName, "Channel-%d", channel);
    row.CurNVRChannel = channel;
    row.Online = 0;
    row.RecFlag = 0;
    row.WatchFlag = 0;
    row.AlarmFlag = 0;
    row.BlinkCount = 0;
    row.BlinkState = 0;
    row.RecTimeDuration = 0;
    row.RecSchemeName[0] = 0;
    row.SavePath[0] = 0;
    row.StreamId1 = 0;
    row.StreamId2 = 0;
    row.P2pLoginId = 0;
    row.BroadcastState = 0;
    row.MotionAlarmType = 0;
    row.IOAlarmType = 0;
    row.ChannelStates[0] = 0;
    row.AlarmRecTime = 0;
    row.OnvifAlarmHandle = 0;
    row.AuxPtzId = 0;
    if (g_pAuxPtzCtrl) {
        row.AuxPtzId = g_pAuxPtzCtrl->AddDevice(row.IPAddr, row.PtzPort, row.LoginName, row.LoginPsw);
        const DispInfoSetting& cfg = g_DispInfoSetting;
        g_pAuxPtzCtrl->SetTimeSync(row.AuxPtzId, cfg.SyncTimeEnable, cfg.SyncTimeDiff, cfg.SyncTimeInterval);
    }
    row.pAuxPtzCtrl = g_pAuxPtzCtrl;
    row.pAuxPTZEvents = g_pAuxPTZEvents;
    row.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    row.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    return row;
}

} // namespace

bool IsDevExist(DeviceInfo dev)
{
    qelm::CsLock lock(g_csDevList);
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevId, dev.DevId) == 0 && std::strcmp(d.DevName, dev.DevName) == 0)
            return true;
    return false;
}

int RemoveNvrChannelsAbove(DeviceInfo nvr, int count, bool notify)
{
    int removed = 0;
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end();) {
            if (it->DevType == 4 && it->CurNVRChannel > count && std::strcmp(it->DevId, nvr.DevId) == 0) {
                it = RemoveDeviceRecord(it, nullptr);
                ++removed;
            } else {
                ++it;
            }
        }
    }
    if (removed > 0 && notify)
        DeviceServices()->TsNotifyUpdateDeviceList();
    return removed;
}

void OnChannelStates(WPARAM wParam, char* text)
{
    TextOwner owner{text};
    if (!text)
        return;
    const bool fromStream = (wParam & kChannelStatesFromStream) != 0;
    const int32_t id = static_cast<int32_t>(static_cast<uint32_t>(wParam & 0xFFFFFFFFu));
    if (id <= 0)
        return;

    bool changed = false;
    {
        qelm::CsLock lock(g_csDevList);
        auto it = g_lstDevInfo.begin();
        for (; it != g_lstDevInfo.end(); ++it) {
            if (it->DevType != 4)
                continue;
            if (fromStream ? (it->P2pLoginId == id && it->nPltDev == 1) : (it->AuxPtzId == id && it->nPltDev == 0))
                break;
        }
        if (it == g_lstDevInfo.end() || it->CurNVRChannel != 0)
            return;
        DeviceInfo& nvr = *it;
        char states[128];
        qelm::CopyBounded(states, sizeof states, std::string_view(text, strnlen(text, 127)));
        if (std::strcmp(states, nvr.ChannelStates) == 0)
            return;
        qelm::CopyBounded(nvr.ChannelStates, sizeof nvr.ChannelStates, states);
        nvr.Online = 1;
        const std::size_t len = std::strlen(states);
        for (auto row = std::next(it); row != g_lstDevInfo.end() && std::strcmp(row->DevId, nvr.DevId) == 0; ++row) {
            const int c = row->CurNVRChannel;
            if (c <= 0)
                continue;
            int digit = 0;
            if (static_cast<std::size_t>(c) <= len && states[c - 1] >= '0' && states[c - 1] <= '9')
                digit = states[c - 1] - '0';
            if (digit != row->Online) {
                row->Online = digit;
                DeviceServices()->TsReportDeviceState(devsup::RelayName(*row).c_str(), c, digit);
                changed = true;
            }
        }
    }
    if (changed)
        DeviceServices()->UpdateDevTreeStatus();
}

void OnNvrChannelList(int32_t auxPtzId, char* text)
{
    TextOwner owner{text};
    if (!text || auxPtzId <= 0)
        return;
    long parsed = std::strtol(text, nullptr, 10);
    int n = parsed > kMaxNvrChannels ? kMaxNvrChannels : static_cast<int>(parsed < 0 ? 0 : parsed);

    IDeviceServices* s = DeviceServices();
    bool wentOnline = false, countChanged = false, shrinking = false;
    DeviceInfo nvrCopy{};
    {
        qelm::CsLock lock(g_csDevList);
        auto it = g_lstDevInfo.begin();
        for (; it != g_lstDevInfo.end(); ++it)
            if (it->DevType == 4 && it->AuxPtzId == auxPtzId)
                break;
        if (it == g_lstDevInfo.end())
            return;
        DeviceInfo& nvr = *it;
        if (nvr.CurNVRChannel == 0)
            devsup::RequestVersion(auxPtzId);
        if (n == nvr.NVRChannels)
            return;
        wentOnline = nvr.Online == 0;
        nvr.Online = 1;
        if (n > 0) {
            WriteLog(6, "CIPCClientDlg::OnNvrChannelList(): DevName=%s, channels %d -> %d", nvr.DevName,
                     nvr.NVRChannels, n);
            shrinking = n < nvr.NVRChannels;
            nvr.NVRChannels = n;
            countChanged = true;
            auto last = it;
            while (std::next(last) != g_lstDevInfo.end() && std::strcmp(std::next(last)->DevId, nvr.DevId) == 0)
                ++last;
            for (int i = 1; i <= n; ++i) {
                // By channel number: a renamed channel row is still that channel.
                if (HasChannelRow(nvr.DevId, i))
                    continue;
                last = g_lstDevInfo.insert(std::next(last), NewChannelRow(*last, i));
            }
            // Every row holds the count; the device file keeps rows up to it.
            for (DeviceInfo& d : g_lstDevInfo)
                if (d.DevType == 4 && std::strcmp(d.DevId, nvr.DevId) == 0)
                    d.NVRChannels = n;
        }
        nvrCopy = nvr;
    }
    if (shrinking)
        RemoveNvrChannelsAbove(nvrCopy, n, false);
    if (countChanged) {
        // Local devices live in the device file; a cloud login's come from the cloud.
        if (g_DispInfoSetting.LoginType == 0)
            SaveDevInfo();
        s->ReloadDevTrees();
        s->TsNotifyUpdateDeviceList();
    }
    if (wentOnline)
        s->UpdateDevTreeStatus();
}
