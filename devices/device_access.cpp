// The stream a registered device is logged in with by the device control.
#include "devices/device_access.h"

#include "controls/device_sim.h"
#include "media/control_wrappers.h"
#include "media/rec_scheme_manager.h"

std::string DeviceControlStreamUrl(const DeviceInfo& d)
{
    if ((d.DevType != 0 && d.DevType != 1) || (d.VisitMod != 0 && d.VisitMod != 2))
        return {};
    std::string url;
    bool byName = false;
    if (!BuildRecordUrl(d, d, 1, url, byName))
        return {};
    if (byName) {
        // The same address the stream pull builds for a host and a stream name.
        const std::string host = d.DevSN;
        if (host.empty())
            return {};
        const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
        url = "rtsp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(d.VideoPort) + "/" + url;
    }
    return url.rfind("rtsp://", 0) == 0 ? url : std::string();
}

void GiveDeviceControlStream(CAuxPtzCtrl* ctrl, const DeviceInfo& d)
{
    DeviceControl* control = ctrl ? ctrl->GetControl() : nullptr;
    if (!control || d.AuxPtzId <= 0)
        return;
    const std::string url = DeviceControlStreamUrl(d);
    if (!url.empty())
        control->SetStreamUrl(d.AuxPtzId, url.c_str());
}
