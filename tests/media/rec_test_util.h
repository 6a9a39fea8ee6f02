// Test helpers for the recording scheduler and the storage cleaner: device
// records with their two sinks, plans, drives of their own with free space
// under the test's control, and the higher layers' side (relay reports,
// ONVIF profiles) recorded.
#pragma once

#include "core/devinfo.h"
#include "core/recinfo.h"
#include "media/rec_scheme_manager.h"
#include "media/rec_targets.h"
#include "media/rtsp_events.h"
#include "platform/clock.h"
#include "tests/media/media_test_util.h"
#include "tests/media/rtsp_sink_test_util.h"
#include "tests/support/scoped_env.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace rectest {

namespace fs = std::filesystem;
using namespace rtspsinktest;

constexpr std::uint64_t kGiB = 1024ull * 1024ull * 1024ull;

// The controls, the sinks' targets (a main window that records posts) and
// the pull driver.
// A main window that counts every message posted to it.
class CountingWnd : public CWnd {
public:
    CountingWnd() { Create(nullptr, CRect(0, 0, 10, 10)); }
    int Count(UINT msg) const
    {
        auto it = counts.find(msg);
        return it == counts.end() ? 0 : it->second;
    }
    BOOL PreTranslateMessage(MSG* m) override
    {
        ++counts[m->message];
        return m->message == WM_DEVSTATUS_REFRESH || m->message == WM_RECPAGE_REFRESH ? TRUE
                                                                                      : CWnd::PreTranslateMessage(m);
    }
    std::map<UINT, int> counts;
};

struct RecSinkTargets : Targets {
    CountingWnd mainWnd;
    HWND MainWnd() override { return mainWnd.GetSafeHwnd(); }
};

struct SinkEnv {
    SinkEnv()
    {
        EnableControls();
        pull.CreateDispatch();
        CRtspEvents::ResetStatusFilter();
    }
    RecSinkTargets targets;
    CRtspPullCtrl pull;
};

// The higher layers as the scheduler sees them.
class RecTargets : public IRecordTargets {
public:
    RecTargets() { SetRecordTargets(this); }
    ~RecTargets() override { SetRecordTargets(nullptr); }

    void TsReportDeviceState(const char* name, int channel, int state) override
    {
        std::lock_guard<std::mutex> g(lock);
        reports.push_back(std::string(name) + " " + std::to_string(channel) + " " + std::to_string(state));
    }
    std::string LocalMac() override { return "00:11:22:33:44:55"; }
    HWND RecPageWnd() override { return nullptr; }
    bool IsLoginServerMode() override { return loginServer; }
    int OvfGetDevInfo(const char*, const char*, const char*, _OVF_DEV_INFO* info) override
    {
        ++ovfQueries;
        info->ProfileCount = 2;
        return 0;
    }
    bool GetOnvifStreamProfile(const _OVF_DEV_INFO* info, int index, StreamProfile* profile) override
    {
        if (!info || info->ProfileCount <= index)
            return false;
        *profile = StreamProfile{};
        const std::string uri = index == 0 ? onvifMain : onvifSub;
        snprintf(profile->uri, sizeof profile->uri, "%s", uri.c_str());
        return true;
    }
    std::vector<std::string> Reports()
    {
        std::lock_guard<std::mutex> g(lock);
        return reports;
    }

    std::mutex lock;
    std::vector<std::string> reports;
    bool loginServer = false;
    int ovfQueries = 0;
    std::string onvifMain = "recfake://main";
    std::string onvifSub = "recfake://sub";
};

// Drives of the test's own (QELM2_DRIVES) whose free space the test sets.
class Drives {
public:
    explicit Drives(int count)
    {
        std::string list;
        for (int i = 0; i < count; ++i) {
            paths.push_back(root.path() + "/drive" + std::to_string(i + 1) + "/");
            fs::create_directories(paths.back());
            list += (i ? ":" : "") + paths.back();
            free[paths.back()] = 100 * kGiB;
        }
        env = std::make_unique<qelmtest::ScopedEnv>("QELM2_DRIVES", list.c_str());
        qelm::SetFreeBytesHook([this](const std::string& path) -> std::optional<std::uint64_t> {
            std::lock_guard<std::mutex> g(lock);
            for (auto& [drive, bytes] : free)
                if (path.compare(0, drive.size(), drive) == 0)
                    return bytes;
            return std::nullopt;
        });
    }
    ~Drives() { qelm::SetFreeBytesHook({}); }
    void SetFree(int index, std::uint64_t bytes)
    {
        std::lock_guard<std::mutex> g(lock);
        free[paths[size_t(index)]] = bytes;
    }

    mp4test::TempDir root;
    std::vector<std::string> paths;
    std::mutex lock;
    std::map<std::string, std::uint64_t> free;
    std::unique_ptr<qelmtest::ScopedEnv> env;
};

// Device records (each with its two sinks) and plans in the program's lists,
// all taken out again at the end.
class RecLists {
public:
    explicit RecLists(CRtspPullCtrl* pull) : m_pull(pull) {}
    ~RecLists()
    {
        std::vector<CRtspEvents*> sinks;
        {
            qelm::CsLock lock(g_csDevList);
            for (RecScheme* p : m_plans) {
                g_lstRecSchemeInfo.remove(p);
                delete p;
            }
            for (DeviceInfo* d : m_devs) {
                sinks.push_back(d->pRtspEvent1);
                sinks.push_back(d->pRtspEvent2);
                for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end(); ++it)
                    if (&*it == d) {
                        g_lstDevInfo.erase(it);
                        break;
                    }
            }
        }
        for (CRtspEvents* s : sinks)
            delete s;
    }

    DeviceInfo* AddCamera(const char* name, const char* id, const char* ip, int port, int onvif = 0)
    {
        auto* s1 = new CRtspEvents(nullptr, m_pull);
        auto* s2 = new CRtspEvents(nullptr, m_pull);
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.emplace_back();
        DeviceInfo* d = &g_lstDevInfo.back();
        std::memset(d, 0, sizeof *d);
        snprintf(d->DevName, sizeof d->DevName, "%s", name);
        snprintf(d->DevId, sizeof d->DevId, "%s", id);
        snprintf(d->IPAddr, sizeof d->IPAddr, "%s", ip);
        d->VideoPort = port;
        d->DevType = 1;
        d->Online = 1;
        d->RtpOverRtsp = 1;
        d->OnvifDev = onvif;
        d->pRtspEvent1 = s1;
        d->pRtspEvent2 = s2;
        m_devs.push_back(d);
        return d;
    }

    // A plan of every day, 00:00:00 to 23:59:59, recording to the paths given.
    RecScheme* AddPlan(const char* name, std::vector<DeviceInfo*> members, std::vector<std::string> paths,
                       int startType = 0, int backEnd = 1)
    {
        auto* p = new RecScheme;
        snprintf(p->SchemeName, sizeof p->SchemeName, "%s", name);
        char* dst[3] = {p->StoragePath1, p->StoragePath2, p->StoragePath3};
        for (size_t i = 0; i < paths.size() && i < 3; ++i)
            snprintf(dst[i], sizeof p->StoragePath1, "%s", paths[i].c_str());
        p->StorageScheme = 1;
        p->OnOff = 1;
        p->PreRecTime = 5;
        p->RecFileTime = 60;
        p->RecAudio = 1;
        p->RecStreamType = 1;
        p->StartType = startType;
        p->DetRecTime = 60;
        p->ReccordType = backEnd;
        p->lstRecTime.push_back(RecTime{1, 8, 0, 23 * 3600 + 59 * 60 + 59});
        for (DeviceInfo* d : members)
            p->lstDev.push_back(d);
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.push_back(p);
        m_plans.push_back(p);
        return p;
    }

    template <class Fn>
    static auto Locked(Fn fn)
    {
        qelm::CsLock lock(g_csDevList);
        return fn();
    }

private:
    CRtspPullCtrl* m_pull;
    std::vector<DeviceInfo*> m_devs;
    std::vector<RecScheme*> m_plans;
};

// Moves the test wall clock to today's noon, so that a test never meets
// midnight (the end of the every-day segment) unless it means to.
inline void PinWallClockToNoon()
{
    const std::tm now = qelm::LocalNow();
    const int tod = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    qelm::AdvanceTestClock(std::chrono::milliseconds(0), std::chrono::seconds(12 * 3600 - tod));
}

// Files of a folder whose names end with suffix, sorted.
inline std::vector<std::string> FilesEndingIn(const std::string& dir, const std::string& suffix)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Today's record folder of a device on a storage path (the test clock's date).
inline std::string TodayFolder(const std::string& storage, const char* dev, const char* kind = "Schedule")
{
    const std::tm now = qelm::LocalNow();
    return storage + "Record/" + dev + "/Local/" + kind + "/" + std::to_string(now.tm_year + 1900) + "/" +
           std::to_string(now.tm_mon + 1) + "/" + std::to_string(now.tm_mday) + "/";
}

} // namespace rectest
