// Helpers of the supervision tests: a main-window stand-in that records the
// forwarding calls as text lines, the control drivers on the device
// simulator, and the journal lines of chosen calls.
#pragma once

#include "devices_test_util.h"

#include "controls/alarm_info.h"
#include "controls/control_registry.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "tests/support/scoped_env.h"

#include <QTemporaryDir>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace suptest {

class Host : public IDeviceServices {
public:
    std::vector<std::string> calls;
    int grids = 1;
    std::set<std::string> paneKeys[4];   // keys shown per grid
    bool mapTalk = false, almTalk = false, closing = false, scheduler = false, recordPage = false;
    int countDown = IDOK, answer = IDNO;
    HWND main = nullptr;
    std::vector<DeviceInfo> defaultPlan;

    void Add(const std::string& line) { calls.push_back(line); }
    HWND MainWnd() override { return main; }
    const char* LocalMac() override { return "00-11-22-33-44-55"; }
    void ReloadDevTrees() override { Add("ReloadDevTrees"); }
    void UpdateDevTreeStatus() override { Add("UpdateDevTreeStatus"); }
    void TsReportDeviceState(const char* name, int channel, int state) override
    {
        Add("TS_ReportDeviceState " + std::string(name) + " " + std::to_string(channel) + " " +
            std::to_string(state));
    }
    void TsNotifyUpdateDeviceList() override { Add("TS_NotifyUpdateDeviceList"); }
    void OnDisplayAlarmInfo(DeviceInfo* d, const _ALARM_INFO* a) override
    {
        Add("Alarm " + std::string(d->DevName) + " " + std::to_string(a->alarmType));
    }
    void RemoveMaintRow(const char* ip) override { Add(std::string("RemoveMaintRow ") + ip); }
    void OnStopWatch(DeviceInfo* d, int) override { Add(std::string("OnStopWatch ") + d->DevName); }
    bool IsClosing() override { return closing; }
    bool HasRecScheduler() override { return scheduler; }
    int GridCount() override { return grids; }
    int GridSetSpeakStatus(int grid, const char* key, int on) override
    {
        Add("GridSetSpeakStatus " + std::to_string(grid) + " " + key + " " + std::to_string(on));
        return paneKeys[grid].count(key) ? 0 : -1;
    }
    bool MapVideoHoldsTalk() override { return mapTalk; }
    void MapVideoSetSpeakStatus(const char* key, int on) override
    {
        Add("MapSetSpeakStatus " + std::string(key) + " " + std::to_string(on));
    }
    bool AlarmActHoldsTalk() override { return almTalk; }
    void AlarmActSetSpeakStatus(const char* key, int on) override
    {
        Add("AlmActSetSpeakStatus " + std::string(key) + " " + std::to_string(on));
    }
    void ShowMsg(int owner, int grid, unsigned id) override
    {
        Add("ShowMsg " + std::to_string(owner) + " " + std::to_string(grid) + " " + std::to_string(id));
    }
    void UnbindTvWallCamera(const char* id) override { Add(std::string("UnbindCamera ") + id); }
    bool HasMapView() override { return true; }
    void MapRemoveDevice(const char* name) override { Add(std::string("MapRemoveDevice ") + name); }
    bool HasRecordPage() override { return recordPage; }
    void AddDeviceToDefaultStrategy(const DeviceInfo& d) override
    {
        Add(std::string("AddDeviceToDefaultStrategy ") + d.DevName);
        defaultPlan.push_back(d);
    }
    void EnsureDefaultStrategy() override { Add("EnsureDefaultStrategy"); }
    void SetMainTimer(unsigned id, unsigned ms) override
    {
        Add("SetTimer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillMainTimer(unsigned id) override { Add("KillTimer " + std::to_string(id)); }
    int RunCountDown(int seconds) override
    {
        Add("CountDown " + std::to_string(seconds));
        return countDown;
    }
    int AskYesNo(unsigned id) override
    {
        Add("AskYesNo " + std::to_string(id));
        return answer;
    }
    void RunModifyIpDlg(std::list<DeviceInfo>* list, CZizevaVEDCtrl*) override
    {
        Add("ModifyIp " + std::to_string(list->size()));
    }
    void PlayGroup(const char* name) override { Add(std::string("PlayGroup ") + name); }

    // Calls recorded since the last Take, then forgotten.
    std::vector<std::string> Take()
    {
        std::vector<std::string> out;
        out.swap(calls);
        return out;
    }
};

// The process-wide drivers on the device simulator, with an empty list.
inline void StartDrivers()
{
    qelm::RegisterStandInFactories();
    qelm::EnableControlClass(qelm::kClsidAuxPtz);
    qelm::EnableControlClass(qelm::kClsidRtspPull);
    qelm::EnableControlClass(qelm::kClsidCameraSearch);
    CDevTree::GetInstance()->Init();
}

// The journal's calls whose name starts with one of prefixes, without
// their results (the stand-ins' ids are their own).
inline std::vector<std::string> JournalCalls(const std::string& path, const std::vector<std::string>& prefixes)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "call\t") != 0)
            continue;
        std::string rest = line.substr(5);
        for (const std::string& p : prefixes)
            if (rest.compare(0, p.size(), p) == 0) {
                out.push_back(rest.substr(0, rest.rfind('\t')));
                break;
            }
    }
    return out;
}

inline DeviceInfo Dev(const char* id, const char* name, int type, const char* ip, int auxPtzId, int online = 0)
{
    DeviceInfo d{};
    std::snprintf(d.DevId, sizeof d.DevId, "%s", id);
    std::snprintf(d.DevName, sizeof d.DevName, "%s", name);
    std::snprintf(d.IPAddr, sizeof d.IPAddr, "%s", ip);
    d.DevType = type;
    d.AuxPtzId = auxPtzId;
    d.Online = online;
    return d;
}

} // namespace suptest
