// The record search page's remote replays: device files and recorder days
// from the device simulator, relay replays through the relay stand-in, and
// the players' buttons sent to those sources.
#include "players_test_util.h"

#include "controls/media_params.h"
#include "devices/device_services.h"

#include <QComboBox>

#include <cstring>
#include <thread>

namespace {

using namespace pbtest;

constexpr const char* kCamIp = "127.0.0.21";
constexpr const char* kNvrIp = "127.0.0.22";

class ReplayTest : public PlayersTest {
public:
    DeviceInfo* Camera(const std::string& source, bool direct = true)
    {
        SimDevice sim;
        sim.address = kCamIp;
        sim.directReplay = direct;
        sim.files.push_back({"/mnt/sd1/a.mp4", 1000, "20261210 10:00:00", 3, 1, 'A', source});
        sim.files.push_back({"/mnt/sd1/p.JPG", 1000, "20261210 10:00:00", 0, 1, 'A', source});
        DeviceInfo* d = Login(sim, Device("CAM1", "cam1", 1, kCamIp));
        page->m_oDevInfo = *d;
        page->GetDlgItemT<QComboBox>(CSearchRecDlg::IDC_COMBO_SOURCE)->setCurrentIndex(1);
        return d;
    }
    // A recorder with channel 2's files at 10:00:00 and 10:10:10 (3 s each).
    DeviceInfo* Recorder(const std::string& source)
    {
        SimDevice sim;
        sim.address = kNvrIp;
        sim.type = 4;
        sim.channels = 4;
        sim.files.push_back({"/c2/a.mp4", 1000, "20261210 10:00:00", 3, 2, 'A', source});
        sim.files.push_back({"/c2/b.mp4", 1000, "20261210 10:10:10", 3, 2, 'A', source});
        DeviceInfo* d = Login(sim, Device("NVR1-2", "Channel-2", 4, kNvrIp, 2));
        PlayBackStatus& cell = page->m_oPBStatus[0];
        cell.nIndex = 0;
        cell.nYear = 2026, cell.nMonth = 12, cell.nDay = 10;
        std::snprintf(cell.szDevKey, sizeof cell.szDevKey, "%s", kNvrIp);
        cell.oDayMap.nChannel = 2;
        std::memset(cell.oDayMap.szMinuteMap + 600, kMapPlan, 11);
        page->m_pTimeBar->SetRow(cell.oDayMap.szMinuteMap, "nvr", 0);
        return d;
    }
};

TEST_F(ReplayTest, DeviceFileReplayFeedsRealFramesToTheChosenPlayer)
{
    const DeviceInfo* cam = Camera(Clip("clip.mp4", 3));
    const int row = AddRow("/mnt/sd1/a.mp4");
    page->m_nSelPlayer = 1;
    DoubleClickRow(row);
    ASSERT_EQ(1u, page->m_map.count(cam->AuxPtzId));
    EXPECT_EQ(page->GetPlayer(1), page->m_map[cam->AuxPtzId]);
    EXPECT_EQ(row, page->m_nPlayRow[1]);
    EXPECT_STREQ("/mnt/sd1/a.mp4", page->m_szPlayFile[1]);
    // Parameters of the real source, then every frame of it.
    ASSERT_TRUE(WaitFor([&] { return page->FramesFed(1) >= 30; }, 20000)) << page->FramesFed(1);
    EXPECT_EQ(30, page->FramesFed(1));
    EXPECT_EQ((std::vector<std::string>{"536", "0"}), Calls("PlayBack::SetMediaParam").at(0));
    EXPECT_EQ((std::vector<std::string>{"0", "3"}), Calls("PlayBack::SetPlaySeconds").at(0));
    EXPECT_EQ((std::vector<std::string>{"1"}), Calls("PlayBack::EnableStreamInput").back());

    // The same file again: the old player is stopped and the device told.
    ClearJournal();
    page->m_nSelPlayer = 3;
    page->GetPlayer(1)->Stop();
    DoubleClickRow(row);
    EXPECT_EQ(page->GetPlayer(3), page->m_map[cam->AuxPtzId]);
    EXPECT_EQ(-1, page->m_nPlayRow[1]);
    EXPECT_EQ((std::vector<std::string>{std::to_string(cam->AuxPtzId), "7", "0"}),
              Calls("CAuxPtzCtrl::ControlReplay").at(0));
}

TEST_F(ReplayTest, DeviceFilesWithoutReplayOrCopyAsk493AndLocalCopiesPlay)
{
    Camera("", false);
    page->m_strDownloadPath = root + "/dl/";
    WriteMp4(root + "/dl/have.mp4", 60);
    struct Case {
        const char* path;
        const char* message;      // "" none
        const char* opened;       // local file opened, "" none
        bool deviceReplay;
    } cases[] = {
        {"/mnt/sd1/a.mp4", "Please download the file and then play!", "", false},
        {"/mnt/sd1/p.jpg", "Please download the file and then play!", "", false},
        {"/mnt/sd1/p.JPG", "Please download the file and then play!", "", false},  // a video: asks the device
        {"/mnt/sd1/have.mp4", "", "have.mp4", false},
        {"/mnt/sd1/..", "Please download the file and then play!", "", false},     // never a local name
    };
    for (const Case& c : cases) {
        ClearJournal();
        for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
            page->GetPlayer(i)->Stop();
        page->ResultList()->DeleteAllItems();
        const int row = AddRow(c.path);
        DoubleClickRow(row);
        const auto opened = Calls("PlayBack::OpenFile");
        if (*c.opened) {
            ASSERT_EQ(1u, opened.size()) << c.path;
            EXPECT_EQ(page->m_strDownloadPath + c.opened, opened[0][0]);
            EXPECT_TRUE(Calls("CAuxPtzCtrl::Dispatch23").empty()) << c.path;
        } else {
            EXPECT_TRUE(opened.empty()) << c.path;
            EXPECT_EQ(c.message, page->LastMessage()) << c.path;
        }
        const bool jpg = std::string(c.path).ends_with(".jpg");
        EXPECT_EQ(!jpg && !*c.opened, !Calls("CAuxPtzCtrl::Dispatch23").empty()) << c.path;
    }
}

TEST_F(ReplayTest, RecorderDayInBlocksOfTenMinutes)
{
    // Long enough to be still streaming when the buttons are pressed.
    const DeviceInfo* nvr = Recorder(Clip("clip.mp4", 20));
    const std::string id = std::to_string(nvr->AuxPtzId);
    page->m_nSelPlayer = 2;
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 36001);  // 10:00:01
    PlayBackStatus& cell = page->m_oPBStatus[0];
    ASSERT_EQ(1, cell.bPlaying);
    EXPECT_EQ(2, cell.nPlayer);
    EXPECT_EQ(36000, cell.nFileStartSec);
    EXPECT_EQ((std::vector<std::string>{id, "2", "20261210100001"}), Calls("CAuxPtzCtrl::StartNvrReplay").at(0));
    ASSERT_TRUE(WaitFor([&] { return page->FramesFed(2) >= 10; }, 20000));
    EXPECT_EQ((std::vector<std::string>{"0", "600"}), Calls("PlayBack::SetPlaySeconds").at(0));

    // Next and previous move by one block.
    const int32_t ctrlId = CSearchRecDlg::kFirstPlayerId + 2;
    page->m_pTimeBar->SetRowPos(0, 36030);
    ClearJournal();
    page->OnPlayBackCommand(ctrlId, 7, 0);
    EXPECT_EQ((std::vector<std::string>{id, "2", "9", "600", "20261210101000"}),
              Calls("CAuxPtzCtrl::ControlNvrReplay").at(0));
    EXPECT_EQ(36600, cell.nFileStartSec);
    page->m_pTimeBar->SetRowPos(0, 36630);
    page->OnPlayBackCommand(ctrlId, 6, 0);
    EXPECT_EQ((std::vector<std::string>{id, "2", "9", "-600", "20261210100000"}),
              Calls("CAuxPtzCtrl::ControlNvrReplay").at(1));
    EXPECT_EQ(36000, cell.nFileStartSec);

    // The recorder's end frees the cell.
    page->OnNVRReplayEnd(nvr->AuxPtzId, 7, 2);
    EXPECT_EQ(0, cell.bPlaying);
    EXPECT_EQ(-1, cell.nPlayer);
    EXPECT_EQ(0u, page->m_map.count(nvr->AuxPtzId));
}

TEST_F(ReplayTest, RecorderBusyOrFailingStartLeavesNoPlayerBehind)
{
    const DeviceInfo* nvr = Recorder(Clip("clip.mp4", 3));
    DeviceSimulator::Instance().SetActivity(kNvrIp, 5000, DeviceSimulator::kActivityTimeDownload, true);
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 36001);
    DeviceSimulator::Instance().SetActivity(kNvrIp, 5000, DeviceSimulator::kActivityTimeDownload, false);
    const PlayBackStatus& cell = page->m_oPBStatus[0];
    EXPECT_EQ(0, cell.bPlaying);
    EXPECT_EQ(-1, cell.nPlayer);
    EXPECT_EQ("The device is downloading records, please stop the download first!", page->LastMessage());
    // Frames meant for another replay must not reach a player.
    EXPECT_EQ(0u, page->m_map.count(nvr->AuxPtzId));
}

TEST_F(ReplayTest, ReplayBlocksShorterThanTheirHeadAreDropped)
{
    const DeviceInfo* cam = Camera("");
    page->m_map[cam->AuxPtzId] = page->GetPlayer(0);
    page->GetPlayer(0)->Play();
    MediaFrameHeader h{};
    h.keyFrame = 1; // a fed stream starts at a key frame
    for (int n : {0, 10, 19}) {
        std::vector<uint8_t> block(size_t(n), 0);
        page->OnMediaDataRecv(cam->AuxPtzId, block.data(), n, reinterpret_cast<const uint8_t*>(&h));
    }
    EXPECT_EQ(0, page->FramesFed(0));
    std::vector<uint8_t> block(24, 0);
    block[20] = 0x65;
    page->OnMediaDataRecv(cam->AuxPtzId, block.data(), 24, reinterpret_cast<const uint8_t*>(&h));
    EXPECT_EQ(1, page->FramesFed(0));
}

class RelayReplayTest : public ReplayTest {
public:
    void SetUp() override
    {
        ReplayTest::SetUp();
        node.LoginId = 7;
        item.Type = 0;
        std::snprintf(item.Ip, sizeof item.Ip, "%s", "127.0.0.31");
        std::snprintf(item.Mac, sizeof item.Mac, "%s", "AA-BB-CC");
        std::snprintf(item.DevName, sizeof item.DevName, "%s", "dvs-1");
        devs.push_back(item);
        node.pDevList = &devs;
        g_lstRelayServer.push_back(node);
    }
    void TearDown() override
    {
        g_lstRelayServer.clear();
        ReplayTest::TearDown();
    }
    static VideoParam Video()
    {
        VideoParam v{};
        std::snprintf(v.codecName, sizeof v.codecName, "%s", "H264");
        v.width = 160;
        v.height = 120;
        return v;
    }
    TsReplayKey Key()
    {
        TsReplayKey k{};
        std::snprintf(k.szName, sizeof k.szName, "%s", "AA-BB-CC:127.0.0.31");
        k.nValueA = 11;
        k.nValueB = 22;
        return k;
    }
    Qelm2Node node;
    RelayDevItem item;
    std::list<RelayDevItem> devs;
};

TEST_F(RelayReplayTest, ByFileAnswerWithoutAFreePlayerIsStopped)
{
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
        Busy(i);
    page->OnRelayReplayStarted(Video(), AudioParam{}, 30, "/rec/a.avi", Key(), 7);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "AA-BB-CC:127.0.0.31", "11", "22", "/rec/a.avi"}}),
              Calls("TS_InviteReplayStop"));
    for (const char* name : page->m_szRelayReplay)
        EXPECT_STREQ("", name);
}

TEST_F(RelayReplayTest, ByFileCommandsBecomeRelayCalls)
{
    VideoParam v = Video();
    v.configLength = 4000;  // a peer's count beyond the record
    page->OnRelayReplayStarted(v, AudioParam{}, 30, "/rec/a.avi", Key(), 7);
    ASSERT_STREQ("/rec/a.avi", page->m_szRelayReplay[0]);
    ASSERT_TRUE(page->GetPlayer(0)->IsPlaying());
    const int32_t id = CSearchRecDlg::kFirstPlayerId;
    struct Case {
        int command, value;
        const char* call;
        const char* extra;   // the speed or seek argument, "" none
    } cases[] = {
        {1, 0, "TS_InvitePeplayContinue", ""},   {2, 0, "TS_InviteReplayPause", ""},
        {4, 0, "TS_InviteModuleReplayPause", ""}, {4, 1, "TS_InviteModulePeplayContinue", ""},
        {4, 2, "TS_InviteReplaySpeed", "2"},      {4, 32, "TS_InviteReplaySpeed", "6"},
        {4, 3, "TS_InviteReplaySpeed", "1"},      {8, 2, "TS_InviteReplaySpeed", "7"},
        {8, 32, "TS_InviteReplaySpeed", "11"},    {12, 0, "TS_InviteReplaySpeed", "0"},
        {6, 0, "TS_InviteReplayPre", ""},         {7, 0, "TS_InviteReplayNext", ""},
        {9, 125, "TS_InviteReplaySeek", "125"},
    };
    for (const Case& c : cases) {
        ClearJournal();
        page->OnPlayBackCommand(id, c.command, c.value);
        const auto calls = Calls(c.call);
        ASSERT_EQ(1u, calls.size()) << c.command << " " << c.value;
        std::vector<std::string> want = {"7", "AA-BB-CC:127.0.0.31", "11", "22"};
        if (*c.extra)
            want.push_back(c.extra);
        want.push_back("/rec/a.avi");
        EXPECT_EQ(want, calls[0]) << c.command << " " << c.value;
    }
    ClearJournal();
    page->OnPlayBackCommand(id, 3, 0);
    EXPECT_EQ(1u, Calls("TS_InviteReplayStop").size());
    EXPECT_STREQ("", page->m_szRelayReplay[0]);
    EXPECT_EQ(-1, page->m_nRelayLogin[0]);
    EXPECT_FALSE(page->GetPlayer(0)->IsPlaying());
}

TEST_F(RelayReplayTest, ByDateFramesFromAnotherThreadSetThePlayerUpOnTheUiThread)
{
    RelayDayStatus& slot = page->m_oRelayDayStatus[0];
    slot.nIndex = 0;
    slot.nChannel = 1;
    slot.nYear = 2026, slot.nMonth = 12, slot.nDay = 10;
    std::snprintf(slot.szName, sizeof slot.szName, "%s", "AA-BB-CC:127.0.0.31");
    std::memset(slot.szMinuteMap, kMapPlan, sizeof slot.szMinuteMap);
    page->m_pTimeBar->SetRow(slot.szMinuteMap, "relay", 0);
    page->m_nSelPlayer = 1;
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 3600);
    const auto start = Calls("TS_InviteReplayStartByDate");
    ASSERT_EQ(1u, start.size());
    EXPECT_EQ("7", start[0][0]);
    EXPECT_EQ("3600", start[0].back());
    ASSERT_EQ(1, slot.bPlaying);
    ASSERT_EQ(1, slot.nPlayer);

    const VideoParam v = Video();
    std::atomic<int> fed{0};
    std::thread relay([&] {
        std::vector<char> frame(64, 1);
        for (int i = 0; i < 50; ++i) {
            TsFrameInfo info{};
            info.nKeyFrame = i % 10 == 0;
            info.dTimeStamp = 5000.0 + i * 40;
            fed += page->OnRelayReplayDataByDate("AA-BB-CC:127.0.0.31", 1, 0, frame.data(), int(frame.size()), info,
                                                 &v, nullptr, i == 0, 600, 3000);
        }
        // Not this slot's channel.
        TsFrameInfo info{};
        fed += page->OnRelayReplayDataByDate("AA-BB-CC:127.0.0.31", 2, 0, frame.data(), 10, info, &v, nullptr, 0,
                                             0, 0);
    });
    relay.join();
    EXPECT_EQ(50, fed.load());
    ASSERT_TRUE(WaitFor([&] { return page->GetPlayer(1)->GetMediaState(0) > 0; }));
    EXPECT_EQ(3000, slot.nStartSec);
    EXPECT_EQ((std::vector<std::string>{"1", "5"}), Calls("PlayBack::SetPlaySeconds").back());
    EXPECT_TRUE(page->GetPlayer(1)->IsPlaying());

    // Progress moves the row's cursor from the file's start; stop frees the slot.
    page->OnPlayBackMessage(CSearchRecDlg::kFirstPlayerId + 1, PlayBackControl::kProgress, "12");
    EXPECT_EQ(3012, page->m_pTimeBar->GetRowPos(0));
    ClearJournal();
    page->OnPlayBackCommand(CSearchRecDlg::kFirstPlayerId + 1, 8, 4);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "AA-BB-CC:127.0.0.31", "1", "8"}}),
              Calls("TS_InviteReplaySpeedByDate"));
    page->OnPlayBackCommand(CSearchRecDlg::kFirstPlayerId + 1, 9, 30);
    EXPECT_EQ("3030", Calls("TS_InviteReplaySeekByDate").at(0).back());
    page->OnPlayBackCommand(CSearchRecDlg::kFirstPlayerId + 1, 3, 0);
    EXPECT_EQ(1u, Calls("TS_InviteReplayStopByDate").size());
    EXPECT_EQ(0, slot.bPlaying);
    EXPECT_EQ(-1, slot.nPlayer);
}

TEST_F(RelayReplayTest, ClosingStopsEveryRelayReplayAndPeersMayEndTheirs)
{
    page->OnRelayReplayStarted(Video(), AudioParam{}, 30, "/rec/a.avi", Key(), 7);
    page->OnRelayReplayStarted(Video(), AudioParam{}, 30, "/rec/b.avi", Key(), 7);
    ASSERT_STREQ("/rec/b.avi", page->m_szRelayReplay[1]);
    RelayDayStatus& slot = page->m_oRelayDayStatus[2];
    slot.nIndex = 2;
    slot.nChannel = 3;
    std::snprintf(slot.szName, sizeof slot.szName, "%s", "AA-BB-CC:127.0.0.31");
    slot.bPlaying = 1;
    slot.nPlayer = 4;
    page->GetPlayer(4)->Play();

    // The serving client ends one file and the day.
    page->OnRelayReplayStopped("/rec/a.avi");
    EXPECT_STREQ("", page->m_szRelayReplay[0]);
    EXPECT_FALSE(page->GetPlayer(0)->IsPlaying());
    page->OnRelayReplayByDateStopped("AA-BB-CC:127.0.0.31", 4);  // another channel: kept
    EXPECT_EQ(1, slot.bPlaying);

    ClearJournal();
    page->StopAllRelayReplay();
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "AA-BB-CC:127.0.0.31", "11", "22", "/rec/b.avi"}}),
              Calls("TS_InviteReplayStop"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "AA-BB-CC:127.0.0.31", "3"}}),
              Calls("TS_InviteReplayStopByDate"));

    page->OnRelayReplayByDateStopped("AA-BB-CC:127.0.0.31", 3);
    EXPECT_EQ(0, slot.bPlaying);
    EXPECT_EQ(-1, slot.nPlayer);
    EXPECT_FALSE(page->GetPlayer(4)->IsPlaying());
}

} // namespace
