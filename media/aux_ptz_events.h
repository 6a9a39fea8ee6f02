// The one event sink of the device-control component: turns its events into
// posts to the windows of the media sink targets and into their direct calls.
#pragma once

#include "controls/alarm_info.h"
#include "controls/device_sim.h"

#include <array>
#include <cstdint>
#include <unordered_map>

class CAuxPTZEvents : public IDeviceControlEvents {
public:
    CAuxPTZEvents() = default;
    CAuxPTZEvents(const CAuxPTZEvents&) = delete;
    CAuxPTZEvents& operator=(const CAuxPTZEvents&) = delete;

    void StatusEvent(int32_t auxPtzId, int32_t type, const char* text) override;
    void PTZResponse(int32_t auxPtzId, int32_t code, const char* text) override;
    void AUXResponse(int32_t auxPtzId, int32_t code, const char* text) override;
    void AlarmEvent(int32_t auxPtzId, const uint8_t* info, int32_t length) override;
    void MediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const int32_t* value,
                       int32_t kind) override;
    void MediaParamRecv(int32_t auxPtzId, const char* xml, int32_t kind) override;
    void NvrReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel) override;
    void TimeDownloadProgress(int32_t auxPtzId, int32_t value) override;

    // The result of a packed answer code: its top byte as a signed value.
    static int32_t ResultOf(int32_t code) { return static_cast<int8_t>(static_cast<uint32_t>(code) >> 24); }
    // The command (or flag) of a packed answer code: its low 24 bits.
    static int32_t CommandOf(int32_t code) { return static_cast<int32_t>(static_cast<uint32_t>(code) & 0xFFFFFFu); }

private:
    // The last alarm record of each device, so that a device repeating
    // itself raises one alarm. One entry per AuxPtzId seen; UI thread only.
    std::unordered_map<int32_t, std::array<uint8_t, sizeof(_ALARM_INFO)>> m_lastAlarm;
};
