// The record search page with its players, a time line, the device
// simulator behind the device-control component and the journal of calls.
#pragma once

#include "playback_test_util.h"

#include "controls/control_registry.h"
#include "controls/journal.h"
#include "controls/ts_relay.h"
#include "core/userinfo.h"
#include "media/aux_ptz_events.h"
#include "media/control_wrappers.h"
#include "media/sink_targets.h"
#include "playback/playback_toll_bar.h"
#include "playback/search_rec_dlg.h"
#include "tests/media/sink_test_util.h"
#include "tests/support/scoped_env.h"
#include "ui/report_ctrl.h"

#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>

namespace pbtest {

using auxsinktest::WaitFor;

// The sinks hand the replay events to the page, as the main window does.
struct PlayerTargets : auxsinktest::TestTargets {
    CSearchRecDlg* page = nullptr;
    HWND SearchRecWnd() override { return page ? page->GetSafeHwnd() : nullptr; }
    void OnMediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* pointer, int32_t) override
    {
        page->OnMediaDataRecv(id, data, length, reinterpret_cast<const uint8_t*>(pointer));
    }
    void OnMediaParamRecv(int32_t id, char* xml, int32_t kind) override { page->OnMediaParamRecv(id, xml, kind); }
    void OnNVRReplayEnd(int32_t id, int32_t code, int32_t channel) override { page->OnNVRReplayEnd(id, code, channel); }
};

class PlayersTest : public testing::Test {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        journal = root + "/journal.txt";
        env = std::make_unique<qelmtest::ScopedEnv>("QELM2_JOURNAL", journal.c_str());
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidPlayBack);
        host.Create(nullptr, CRect(0, 0, 1024, 768));
        page = new CSearchRecDlg(&host);
        ASSERT_TRUE(page->Create(CSearchRecDlg::IDD, &host));
        page->MoveWindow(0, 0, 1024, 768);
        if (!page->m_pTimeBar) {
            page->m_pTimeBar = new CPlayBackTollBar(page);
            page->m_pTimeBar->Create(CPlayBackTollBar::IDD, page);
            ownTimeBar = true;
        }
        for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
            ASSERT_TRUE(page->GetPlayer(i) && page->GetPlayer(i)->GetControl()) << i;
        targets.page = page;
        SetMediaSinkTargets(&targets);
    }
    void TearDown() override
    {
        SetMediaSinkTargets(nullptr);
        if (ctrl) {
            ctrl->Unadvise();
            delete ctrl;
        }
        if (ownTimeBar) {
            delete page->m_pTimeBar;
            page->m_pTimeBar = nullptr;
        }
        page->DestroyPlayers();
        delete page;
        DeviceSimulator::Instance().Clear();
        env.reset();
    }

    // A real recording to play.
    std::string Recording(const std::string& name, int seconds = 60)
    {
        const std::string path = root + "/rec/" + name;
        WriteMp4(path, seconds);
        return path;
    }
    // Makes player i busy with a file of its own.
    void Busy(int i)
    {
        static int n = 0;
        CPlayBackAtl* p = page->GetPlayer(i);
        p->OpenFile(Recording("busy" + std::to_string(n++) + ".mp4").c_str());
        ASSERT_TRUE(p->IsPlaying()) << i;
    }
    int AddRow(const std::string& path)
    {
        CReportCtrl* list = page->ResultList();
        const int row = list->InsertItem(list->GetItemCount(), path.c_str());
        return row;
    }
    void DoubleClickRow(int row)
    {
        CReportCtrl* list = page->ResultList();
        for (int r = 0; r < list->GetItemCount(); ++r)
            list->SetItemState(r, r == row ? LVIS_SELECTED : 0, LVIS_SELECTED);
        page->OnDblclkRecordList();
        auxsinktest::Pump();
    }

    // The journal's calls of one name, fields unescaped, without the result.
    std::vector<std::vector<std::string>> Calls(const std::string& name)
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(journal);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f = qelm::Journal::ParseLine(line);
            if (f.size() > 2 && f[0] == "call" && f[1] == name) {
                f.erase(f.begin(), f.begin() + 2);
                f.pop_back();
                out.push_back(f);
            }
        }
        return out;
    }
    void ClearJournal() { std::ofstream(journal, std::ios::trunc); }

    // The device-control component on the simulator; the device's record
    // goes into the device list with its AuxPtzId once it is logged in.
    DeviceInfo* Login(SimDevice sim, DeviceInfo rec)
    {
        if (!ctrl) {
            qelm::EnableControlClass(qelm::kClsidAuxPtz);
            ctrl = new CAuxPtzCtrl;
            EXPECT_TRUE(ctrl->CreateDispatch());
            ctrl->Advise(&events);
        }
        sim.port = 5000;
        sim.user = "admin";
        sim.password = "pw";
        DeviceSimulator::Instance().AddDevice(sim);
        const int32_t id = ctrl->AddDevice(sim.address.c_str(), sim.port, "admin", "pw");
        EXPECT_GT(id, 0);
        EXPECT_TRUE(WaitFor([&] {
            for (const auto& r : targets.main.got)
                if (r.msg == WM_DEV_STATUS && int32_t(r.wParam) == id && r.lParam == kDevStatusLoggedIn)
                    return true;
            return false;
        }));
        rec.AuxPtzId = id;
        rec.pAuxPtzCtrl = ctrl;
        return lists.AddDevice(rec);
    }

    // A real H.264 clip of `seconds` at 10 frames a second.
    std::string Clip(const std::string& name, int seconds)
    {
        const std::string path = root + "/" + name;
        const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=10 -t " +
                                std::to_string(seconds) + " -c:v libx264 -g 10 -bf 0 -pix_fmt yuv420p '" + path +
                                "' </dev/null";
        EXPECT_EQ(0, std::system(cmd.c_str()));
        return path;
    }

    QTemporaryDir dir;
    std::string root, journal;
    std::unique_ptr<qelmtest::ScopedEnv> env;
    CWnd host;
    CSearchRecDlg* page = nullptr;
    bool ownTimeBar = false;
    PlayerTargets targets;
    auxsinktest::ControlClassesGuard classes;
    CAuxPtzCtrl* ctrl = nullptr;
    CAuxPTZEvents events;
    ListsGuard lists;
};

} // namespace pbtest
