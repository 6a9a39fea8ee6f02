// The camera search stand-in: a search "finds" the simulator's list of
// devices at once; network changes are applied to that list.
#include "controls/camera_search.h"

#include "controls/journal.h"

#include <algorithm>
#include <cstring>

namespace {

template <size_t N>
void Put(char (&field)[N], const std::string& text)
{
    const size_t n = std::min(text.size(), N - 1);
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

template <size_t N>
std::string Get(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

} // namespace

CameraSearch::CameraSearch(DeviceSimulator& sim) : m_sim(sim) {}

int32_t CameraSearch::StartSearch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_searching = true;
        m_found = m_sim.FoundDevices();
    }
    qelm::Journal::Call("CZizevaVEDCtrl::StartSearch", {}, 0);
    return 0;
}

int32_t CameraSearch::StopSearch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_searching = false;
    }
    qelm::Journal::Call("CZizevaVEDCtrl::StopSearch", {}, 0);
    return 0;
}

int32_t CameraSearch::GetDeviceCount()
{
    int32_t n;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        n = int32_t(m_found.size());
    }
    qelm::Journal::Call("CZizevaVEDCtrl::GetDeviceCount", {}, n);
    return n;
}

int32_t CameraSearch::GetDevice(int32_t index, uint8_t* record, int32_t length)
{
    int32_t result = -1;
    if (record && length == kRecordSize) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= 0 && size_t(index) < m_found.size()) {
            const SimFoundDevice& f = m_found[size_t(index)];
            IpcSearchInfo info{};
            Put(info.serial, f.serial);
            Put(info.model, f.model);
            Put(info.user, f.user);
            Put(info.password, f.password);
            Put(info.status, f.status);
            info.auth = f.auth;
            info.videoPort = f.videoPort;
            info.ptzPort = f.ptzPort;
            info.webPort = f.webPort;
            Put(info.mac, f.mac);
            info.dhcp = f.dhcp;
            Put(info.address, f.address);
            Put(info.mask, f.mask);
            Put(info.gateway, f.gateway);
            Put(info.dns1, f.dns1);
            Put(info.dns2, f.dns2);
            memcpy(record, &info, sizeof(info));
            result = 0;
        }
    }
    qelm::Journal::Call("CZizevaVEDCtrl::GetDevice", {index, record, length}, result);
    return result;
}

int32_t CameraSearch::SetNetParam(int32_t index, const uint8_t* record, int32_t length)
{
    int32_t result = -1;
    if (record && length == kRecordSize) {
        IpcSearchInfo info;
        memcpy(&info, record, sizeof(info));
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= 0 && size_t(index) < m_found.size()) {
            SimFoundDevice& f = m_found[size_t(index)];
            f.dhcp = info.dhcp;
            f.address = Get(info.address);
            f.mask = Get(info.mask);
            f.gateway = Get(info.gateway);
            f.dns1 = Get(info.dns1);
            f.dns2 = Get(info.dns2);
            // The camera keeps its new settings for the next search.
            for (size_t i = 0; const SimFoundDevice& g : m_sim.FoundDevices()) {
                if (g.mac == f.mac && g.serial == f.serial) {
                    m_sim.UpdateFound(i, f);
                    break;
                }
                ++i;
            }
            result = 0;
        }
    }
    qelm::Journal::Call("CZizevaVEDCtrl::SetNetParam", {index, record, length}, result);
    return result;
}

std::string CameraSearch::GetNetValue(uint32_t index)
{
    static const char* const kValues[] = {"", "255.0.0.0", "127.0.0.1", "127.0.0.1", ""};
    const std::string value = index < 5 ? kValues[index] : "";
    qelm::Journal::Call("CZizevaVEDCtrl::GetNetValue", {index}, value);
    return value;
}

std::string CameraSearch::GetLocalNetInfo()
{
    const std::string value = "127.0.0.1";
    qelm::Journal::Call("CZizevaVEDCtrl::GetLocalNetInfo", {}, value);
    return value;
}

int32_t CameraSearch::ModifyDevice(int32_t index, const uint8_t* record, int32_t length)
{
    int32_t result = -1;
    if (record && length == kRecordSize) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= 0 && size_t(index) < m_found.size())
            result = 0;
    }
    qelm::Journal::Call("CZizevaVEDCtrl::ModifyDevice", {index, record, length}, result);
    return result;
}
