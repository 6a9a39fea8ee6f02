// Test helpers of the live view: the stand-in controls, device records with
// their two sinks, a host standing in for the main window, a grid hosted in
// a test window, and the journal of stream-pull calls.
#pragma once

#include "controls/control_registry.h"
#include "controls/journal.h"
#include "core/devinfo.h"
#include "core/recover.h"
#include "core/userinfo.h"
#include "liveview/live_view_host.h"
#include "liveview/video_manager_dlg.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/text.h"
#include "tests/support/scoped_env.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lvtest {

inline void EnableControls()
{
    static bool done = false;
    if (done)
        return;
    qelm::RegisterStandInFactories();
    for (const char* c : {qelm::kClsidRtspPull, qelm::kClsidAviRecord, qelm::kClsidStreamPlayer, qelm::kClsidAuxPtz})
        qelm::EnableControlClass(c);
    done = true;
}

inline bool WaitFor(const std::function<bool()>& pred, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

inline void Pump(int ms) { WaitFor([] { return false; }, ms); }

// The main window as the live view sees it: records what it is told.
class Host : public ILiveViewHost {
public:
    Host() { SetLiveViewHost(this); }
    ~Host() override { SetLiveViewHost(nullptr); }
    void SetActiveVideoMgr(CVideoManagerDlg* g) override { active = g; }
    CVideoManagerDlg* MainGrid() override { return main; }
    std::vector<CVideoManagerDlg*> ExtGrids() override { return ext; }
    void SetTalkButtonImage(int i) override { talkImage = i; }
    void SetSoundButtonImage(int i) override { soundImage = i; }
    void SetRecordButton(int i, UINT tip) override
    {
        recordImage = i;
        recordTip = tip;
    }
    std::string SavePath() override { return savePath; }
    void UpdateDevTreeStatus() override { ++treeUpdates; }

    CVideoManagerDlg* active = nullptr;
    CVideoManagerDlg* main = nullptr;
    std::vector<CVideoManagerDlg*> ext;
    int talkImage = 0, soundImage = 0, recordImage = 0;
    UINT recordTip = 0;
    int treeUpdates = 0;
    std::string savePath;
};

// Device records in g_lstDevInfo with their own sinks, removed at scope end.
class Devices {
public:
    Devices()
    {
        EnableControls();
        pull.CreateDispatch();
        aux.CreateDispatch();
        CRtspEvents::ResetStatusFilter();
    }
    ~Devices() { Clear(); }

    DeviceInfo* Add(const char* name, const char* id, const char* ip, int port, int devType, int visitMod,
                    const char* res = "")
    {
        DeviceInfo d{};
        qelm::CopyBounded(d.DevName, sizeof d.DevName, name);
        qelm::CopyBounded(d.DevId, sizeof d.DevId, id);
        qelm::CopyBounded(d.IPAddr, sizeof d.IPAddr, ip);
        qelm::CopyBounded(d.Resolution, sizeof d.Resolution, res);
        d.VideoPort = port;
        d.DevType = devType;
        d.VisitMod = visitMod;
        d.Online = 1;
        d.RtpOverRtsp = 1;
        d.pAuxPtzCtrl = &aux;
        d.AuxPtzId = 7;
        d.pRtspEvent1 = new CRtspEvents(nullptr, &pull);
        d.pRtspEvent2 = new CRtspEvents(nullptr, &pull);
        g_lstDevInfo.push_back(d);
        return &g_lstDevInfo.back();
    }

    void Clear()
    {
        for (DeviceInfo& d : g_lstDevInfo) {
            for (CRtspEvents* s : {d.pRtspEvent1, d.pRtspEvent2}) {
                if (!s)
                    continue;
                s->CloseAlarmActPlayer();
                s->CloseAllDecoder();
                s->DeleteStream();
                delete s;
            }
        }
        g_lstDevInfo.clear();
    }

    CRtspPullCtrl pull;
    CAuxPtzCtrl aux;
};

// A test window holding one grid of the given size.
class GridHost {
public:
    GridHost(int w, int h, int layout = 16, int monitor = 0)
    {
        g_DispInfoSetting.DefDisplayMode = layout;
        window.Create(nullptr, CRect(0, 0, w, h));
        window.ShowWindow(SW_SHOW);
        grid = new CVideoManagerDlg(0, 0, w, h, &window, 0);
        grid->SetMonitorNum(monitor);
        grid->Create(CVideoManagerDlg::IDD, &window);
        grid->ShowWindow(SW_SHOW);
        Pump(20);
    }
    ~GridHost()
    {
        delete grid;
        Pump(20);
    }
    CWnd window;
    CVideoManagerDlg* grid = nullptr;
};

// QELM2_JOURNAL pointed at a file of a temporary folder for the scope.
class Journal {
public:
    Journal() : m_path(m_dir.path().toStdString() + "/journal.txt"), m_env("QELM2_JOURNAL", m_path.c_str()) {}
    // Lines whose name is name, as fields (kind, name, args..., "=result").
    std::vector<std::vector<std::string>> Calls(const std::string& name) const
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(m_path);
        std::string line;
        while (std::getline(in, line)) {
            auto f = qelm::Journal::ParseLine(line);
            if (f.size() >= 2 && f[1] == name)
                out.push_back(f);
        }
        return out;
    }
    void Reset() { std::ofstream(m_path, std::ios::trunc); }

private:
    QTemporaryDir m_dir;
    std::string m_path;
    qelmtest::ScopedEnv m_env;
};

} // namespace lvtest
