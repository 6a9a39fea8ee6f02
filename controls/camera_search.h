// Stand-in of the closed camera search control ("ZizevaVED"): reports the
// devices the simulator lists as found, in the control's 4124-byte record.
#pragma once

#include "controls/device_sim.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The search record the control fills and takes back. Only the fields below
// are read or written by its users; the other bytes belong to the control.
struct IpcSearchInfo {
    char serial[32];        // 0: device serial number
    char model[128];        // 32: model or device type
    int32_t onvif;          // 160
    char user[40];          // 164
    char password[40];      // 204
    uint8_t reserved1[32];  // 244
    char status[2288];      // 276: status text
    int32_t auth;           // 2564
    int32_t videoPort;      // 2568
    int32_t reserved2;      // 2572
    int32_t ptzPort;        // 2576
    int32_t webPort;        // 2580
    char mac[256];          // 2584
    int32_t dhcp;           // 2840
    char address[256];      // 2844
    char mask[256];         // 3100
    char gateway[256];      // 3356
    char dns1[256];         // 3612
    char dns2[256];         // 3868
};
static_assert(sizeof(IpcSearchInfo) == 4124);
static_assert(offsetof(IpcSearchInfo, onvif) == 160);
static_assert(offsetof(IpcSearchInfo, user) == 164);
static_assert(offsetof(IpcSearchInfo, password) == 204);
static_assert(offsetof(IpcSearchInfo, status) == 276);
static_assert(offsetof(IpcSearchInfo, auth) == 2564);
static_assert(offsetof(IpcSearchInfo, videoPort) == 2568);
static_assert(offsetof(IpcSearchInfo, ptzPort) == 2576);
static_assert(offsetof(IpcSearchInfo, webPort) == 2580);
static_assert(offsetof(IpcSearchInfo, mac) == 2584);
static_assert(offsetof(IpcSearchInfo, dhcp) == 2840);
static_assert(offsetof(IpcSearchInfo, address) == 2844);
static_assert(offsetof(IpcSearchInfo, mask) == 3100);
static_assert(offsetof(IpcSearchInfo, gateway) == 3356);
static_assert(offsetof(IpcSearchInfo, dns1) == 3612);
static_assert(offsetof(IpcSearchInfo, dns2) == 3868);

class CameraSearch {
public:
    explicit CameraSearch(DeviceSimulator& sim = DeviceSimulator::Instance());

    // Dispatch methods. Record calls return 0 when done, -1 for a bad index
    // or a record length other than 4124.
    int32_t StartSearch();
    int32_t StopSearch();
    int32_t GetDeviceCount();
    int32_t GetDevice(int32_t index, uint8_t* record, int32_t length);
    int32_t SetNetParam(int32_t index, const uint8_t* record, int32_t length);
    std::string GetNetValue(uint32_t index);   // 1 mask, 2 gateway, 3 DNS 1, 4 DNS 2
    std::string GetLocalNetInfo();             // the address offered for a camera
    int32_t ModifyDevice(int32_t index, const uint8_t* record, int32_t length);

    static constexpr int32_t kRecordSize = int32_t(sizeof(IpcSearchInfo));

private:
    DeviceSimulator& m_sim;
    std::mutex m_mutex;
    bool m_searching = false;
    std::vector<SimFoundDevice> m_found;   // what this search has found
};
