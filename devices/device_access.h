// What the device control needs to reach a device it does not simulate:
// handed over right after the record's registration.
#pragma once

#include "core/devinfo.h"

#include <string>

class CAuxPtzCtrl;

// The RTSP URL of the record's main stream, the one the device control logs
// in with: access modes 0 (URL) and 2 (host and stream name) of IP cameras
// and video-server rows. Empty for every other record.
std::string DeviceControlStreamUrl(const DeviceInfo& d);

// Gives the control the record's stream after AddDevice/AddDeviceEx
// returned d.AuxPtzId. Nothing without a control or a stream.
void GiveDeviceControlStream(CAuxPtzCtrl* ctrl, const DeviceInfo& d);
