// Device teardown and the relay reports of removed devices.
#include "devices/dev_teardown.h"

#include "core/log.h"
#include "core/recinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"

#include <cstdio>
#include <cstring>

namespace {

// Sinks of removed records, under g_csDevList.
std::vector<CRtspEvents*> g_retiredSinks;

void StopSinkRecording(DeviceInfo& d, CRtspEvents* sink, int which, const char* caller)
{
    if (!sink || sink->GetStreamId() == 0 || !sink->IsRecording())
        return;
    WriteLog(6, "%s: RtspEvent%d Stop Record, DevName=%s", caller, which, d.DevName);
    sink->StopRecord();
    if (!sink->IsRenderMedia()) {
        WriteLog(6, "%s: RtspEvent%d Stop decoder delete stream id=%d, DevName=%s", caller, which, sink->GetStreamId(), d.DevName);
        sink->DeleteStream();
        sink->CloseAllDecoder();
        (which == 1 ? d.StreamId1 : d.StreamId2) = 0;
    }
    d.RecFlag = 0;
    d.RecTimeDuration = 0;
    d.RecSchemeName[0] = 0;
}

} // namespace

std::list<DeviceInfo>::iterator RemoveDeviceRecord(std::list<DeviceInfo>::iterator it,
                                                   std::vector<RemovedDevice>* removed, const char* caller)
{
    if (!caller)
        caller = "CSettingDevInfoDlg::OnBnClickedBtnDevDel()";
    qelm::CsLock lock(g_csDevList);
    DeviceInfo& d = *it;
    IDeviceServices* s = DeviceServices();
    if (d.WatchFlag)
        s->OnStopWatch(&d, 0);
    StopSinkRecording(d, d.pRtspEvent1, 1, caller);
    StopSinkRecording(d, d.pRtspEvent2, 2, caller);
    s->RemoveMaintRow(d.IPAddr);
    // A record never registered holds 0, which is no registration of its own.
    if (d.AuxPtzId > 0 && g_pAuxPtzCtrl)
        g_pAuxPtzCtrl->DelDevice(d.AuxPtzId);
    if (s->HasMapView())
        s->MapRemoveDevice(d.DevName);
    if (removed)
        removed->push_back(RemovedDevice{d.DevType, d.DevName, d.IPAddr});
    if (d.OnvifDev) {
        if (d.OnvifAlarmHandle != 0) {
            s->OnvifUnsetAlarm(d.OnvifAlarmHandle);
            d.OnvifAlarmHandle = 0;
        }
        s->RemoveOnvifDevice(d.OnvifSerAddr);
    }
    for (RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        plan->lstDev.remove_if(
            [&](const DeviceInfo* m) {
                // Rows of one device share DevId: only this row's membership goes.
                return m == &d || (m && std::strcmp(m->DevId, d.DevId) == 0 && std::strcmp(m->DevName, d.DevName) == 0);
            });
    }
    if (d.P2pLoginId > 0 && g_pRtspPullCtrl) {
        g_pRtspPullCtrl->DelStream(d.P2pLoginId);
        d.P2pLoginId = 0;
    }
    // Panes outside the main grids and queued recording work may still hold
    // the sinks: they live on until the main window closes.
    for (CRtspEvents** sink : {&d.pRtspEvent1, &d.pRtspEvent2}) {
        if (*sink)
            g_retiredSinks.push_back(*sink);
        *sink = nullptr;
    }
    return g_lstDevInfo.erase(it);
}

void ReportRemovedDevices(const std::vector<RemovedDevice>& removed)
{
    IDeviceServices* s = DeviceServices();
    bool nvr = false;
    for (const RemovedDevice& r : removed)
        nvr = nvr || r.DevType == 4;
    if (nvr)
        s->TsNotifyUpdateDeviceList();
    for (const RemovedDevice& r : removed) {
        if (r.DevType == 4)
            continue;
        char name[260];
        std::snprintf(name, sizeof name, "%s:%s", s->LocalMac(), r.IPAddr.c_str());
        // Only a video server's stream rows carry their channel in the name
        // ("Stream2"); "Cam2" is channel 0.
        int channel = 0;
        if (r.DevType == 0 && !r.DevName.empty() && r.DevName.back() >= '0' && r.DevName.back() <= '9')
            channel = r.DevName.back() - '0';
        s->TsReportDeviceState(name, channel, 0);
    }
}

void DeleteDeviceSinks()
{
    std::vector<CRtspEvents*> sinks;
    {
        qelm::CsLock lock(g_csDevList);
        sinks.swap(g_retiredSinks);
        for (DeviceInfo& d : g_lstDevInfo)
            for (CRtspEvents** sink : {&d.pRtspEvent1, &d.pRtspEvent2}) {
                if (*sink)
                    sinks.push_back(*sink);
                *sink = nullptr;
            }
    }
    // Outside the lock: a sink's destructor waits for work that may need it.
    for (CRtspEvents* sink : sinks)
        delete sink;
}
