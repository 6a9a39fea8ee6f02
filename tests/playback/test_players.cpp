// The record search page's players: which player a playback takes, local
// days played file after file, the time line's double click and cursor, the
// status column and the synchronous start.
#include "players_test_util.h"

#include <QAbstractButton>
#include <QDateTimeEdit>

#include <cstddef>
#include <cstring>

namespace {

using namespace pbtest;

class LocalPlayersTest : public PlayersTest {
public:
    // Cell 0 owns row 0 with three files and gaps between them:
    // 01:00:00-01:10:00, 01:20:00-01:25:00, 02:00:00-02:10:00.
    void SetUpDay()
    {
        PlayBackStatus& cell = page->m_oPBStatus[0];
        cell.nIndex = 0;
        cell.nYear = 2026, cell.nMonth = 12, cell.nDay = 10;
        cell.oDayMap.nChannel = 0;
        const int starts[] = {3600, 4800, 7200}, lengths[] = {600, 300, 600};
        for (int i = 0; i < 3; ++i) {
            files[i] = Recording("day" + std::to_string(i) + ".mp4");
            cell.oDayMap.lstFile.push_back({files[i], lengths[i], starts[i]});
        }
        std::memset(cell.oDayMap.szMinuteMap + 60, kMapPlan, 10);
        page->m_pTimeBar->SetRow(cell.oDayMap.szMinuteMap, "cam", 0);
    }
    std::string files[3];
};

TEST_F(LocalPlayersTest, DayDoubleClickPicksTheFileAndOffset)
{
    SetUpDay();
    struct Case {
        int second;
        int file;       // -1: nothing opens
        int offset;
        int startSec;
    } cases[] = {
        {100, 0, 0, 3600},      // before the first file
        {3700, 0, 100, 3600},
        {4200, 0, 600, 3600},   // exactly at start + duration
        {4500, 1, 0, 4800},     // a gap: the next file from its beginning
        {4900, 1, 100, 4800},
        {7300, 2, 100, 7200},
        {9000, -1, 0, 7200},    // after the last file
    };
    for (const Case& c : cases) {
        ClearJournal();
        page->SendMessage(WM_TIMEBAR_DBLCLK, 0, c.second);
        const auto opened = Calls("PlayBack::OpenFile");
        const PlayBackStatus& cell = page->m_oPBStatus[0];
        if (c.file < 0) {
            EXPECT_TRUE(opened.empty()) << c.second;
            continue;
        }
        ASSERT_EQ(1u, opened.size()) << c.second;
        EXPECT_EQ(files[c.file], opened[0][0]) << c.second;
        EXPECT_EQ((std::vector<std::string>{"1", std::to_string(c.offset)}), Calls("PlayBack::SetPlaySeconds").back())
            << c.second;
        EXPECT_EQ(c.file + 1, cell.oDayMap.nCurFile) << c.second;
        EXPECT_EQ(c.startSec, cell.nFileStartSec) << c.second;
        EXPECT_EQ(1, cell.bPlaying);
        EXPECT_EQ(0, cell.nPlayer);
        EXPECT_EQ(files[c.file], page->m_szPlayFile[0]);
    }
}

TEST_F(LocalPlayersTest, DayChainsFilesOnEndAndMovesTheCursorWithProgress)
{
    SetUpDay();
    page->m_nSelPlayer = 2;
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 4900);
    PlayBackStatus& cell = page->m_oPBStatus[0];
    ASSERT_EQ(2, cell.nPlayer);
    const int32_t id = CSearchRecDlg::kFirstPlayerId + 2;

    page->OnPlayBackMessage(id, PlayBackControl::kProgress, "7");
    EXPECT_EQ(4807, page->m_pTimeBar->GetRowPos(0));

    ClearJournal();
    page->OnPlayBackMessage(id, PlayBackControl::kEnded, "");
    ASSERT_EQ(1u, Calls("PlayBack::OpenFile").size());
    EXPECT_EQ(files[2], Calls("PlayBack::OpenFile")[0][0]);
    EXPECT_EQ(3, cell.oDayMap.nCurFile);
    EXPECT_EQ(7200, cell.nFileStartSec);
    page->OnPlayBackMessage(id, PlayBackControl::kProgress, "5");
    EXPECT_EQ(7205, page->m_pTimeBar->GetRowPos(0));

    page->OnPlayBackMessage(id, PlayBackControl::kEnded, "");
    EXPECT_EQ(0, cell.bPlaying);
    EXPECT_EQ(-1, cell.nPlayer);
    EXPECT_EQ(0, cell.oDayMap.nCurFile);
    EXPECT_EQ(0, page->m_pTimeBar->GetRowPos(0));
    EXPECT_FALSE(page->GetPlayer(2)->IsPlaying());
}

TEST_F(LocalPlayersTest, LabelColumnReleasesTheRowAndStopsItsPlayer)
{
    SetUpDay();
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 3700);
    ASSERT_TRUE(page->GetPlayer(0)->IsPlaying());
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, CPlayBackTollBar::kNameColumn);
    const PlayBackStatus& cell = page->m_oPBStatus[0];
    EXPECT_EQ(-1, cell.nIndex);
    EXPECT_EQ(-1, cell.nPlayer);
    EXPECT_FALSE(page->GetPlayer(0)->IsPlaying());
    EXPECT_FALSE(page->IsPlayerReserved(0));
    // A free row refuses.
    ClearJournal();
    page->SendMessage(WM_TIMEBAR_DBLCLK, 0, 3700);
    EXPECT_TRUE(Calls("PlayBack::OpenFile").empty());
    // Rows outside the eight are ignored.
    page->SendMessage(WM_TIMEBAR_DBLCLK, 8, 3700);
    page->SendMessage(WM_TIMEBAR_DBLCLK, WPARAM(-1), CPlayBackTollBar::kNameColumn);
}

TEST_F(PlayersTest, PlayerChoiceRules)
{
    struct Case {
        const char* what;
        std::vector<int> busy;
        std::vector<int> reserved;
        int selected, shown;
        int direct, deviceFile, day;
    } cases[] = {
        {"selected idle", {}, {}, 3, 4, 3, 3, 3},
        {"selected busy: lowest idle, shown or not", {0, 1, 2, 3}, {}, 1, 4, 4, 4, 4},
        {"selected hidden: a device file skips it", {0}, {}, 6, 4, 6, 1, 6},
        {"selected idle but reserved: no day player", {}, {3}, 3, 4, 3, 3, -1},
        {"reserved players are skipped by day", {0}, {1, 2}, 0, 4, 1, 1, 3},
        {"all busy", {0, 1, 2, 3, 4, 5, 6, 7}, {}, 0, 4, -1, -1, -1},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < CSearchRecDlg::kSlots; ++i) {
            page->GetPlayer(i)->Stop();
            page->m_oPBStatus[i].nPlayer = -1;
        }
        for (int i : c.busy)
            Busy(i);
        for (size_t k = 0; k < c.reserved.size(); ++k)
            page->m_oPBStatus[k].nPlayer = c.reserved[k];
        page->m_nSelPlayer = c.selected;
        page->m_nPlayerCount = c.shown;
        EXPECT_EQ(c.direct, page->ChooseDirectPlayer(false)) << c.what;
        EXPECT_EQ(c.deviceFile, page->ChooseDirectPlayer(true)) << c.what;
        EXPECT_EQ(c.day, page->ChooseDayPlayer()) << c.what;
    }
}

TEST_F(PlayersTest, ResultListDoubleClickPlaysLocalFilesWhileAPlayerOnShowIsIdle)
{
    const std::string a = Recording("a.mp4"), b = Recording("b.mp4");
    const int ra = AddRow(a), rb = AddRow(b);
    page->m_nPlayerCount = 4;
    page->m_nSelPlayer = 0;
    DoubleClickRow(ra);
    EXPECT_EQ(a, page->m_szPlayFile[0]);
    EXPECT_EQ(ra, page->m_nPlayRow[0]);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"3", "0"}, {"9", "0"}}), Calls("PlayBack::Control"));

    // Selected busy: the lowest idle player.
    DoubleClickRow(rb);
    EXPECT_EQ(b, page->m_szPlayFile[1]);

    // Every player on show busy: nothing, though hidden ones are idle.
    Busy(2);
    Busy(3);
    ClearJournal();
    DoubleClickRow(ra);
    EXPECT_TRUE(Calls("PlayBack::OpenFile").empty());
    EXPECT_FALSE(page->GetPlayer(4)->IsPlaying());
}

TEST_F(PlayersTest, StatusColumnShowsWhichWindowPlaysTheRow)
{
    const int row = AddRow(Recording("a.mp4"));
    AddRow(Recording("b.mp4"));
    page->m_nSelPlayer = 0;
    DoubleClickRow(row);
    // Timer 200 refreshes the column once a second.
    EXPECT_TRUE(WaitFor([&] { return page->ResultList()->GetItemText(row, 3) == "Window1:Playing..."; }, 10000));
    EXPECT_EQ("", page->ResultList()->GetItemText(1, 3));
    page->GetPlayer(0)->Stop();
    EXPECT_TRUE(WaitFor([&] { return page->ResultList()->GetItemText(row, 3).empty(); }, 10000));
}

TEST_F(PlayersTest, StopAllPlaybackClosesEveryPlayer)
{
    Busy(0);
    Busy(5);
    page->StopAllPlayback();
    EXPECT_EQ(8u, Calls("PlayBack::Close").size());
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
        EXPECT_FALSE(page->GetPlayer(i)->IsPlaying()) << i;
}

// The synchronous start judges a relay row by the relay slot's own minute
// map, not by a local cell's stale one.
TEST_F(PlayersTest, SynchronousStartTestsRelayRowsWithTheirOwnMap)
{
    RelayDayStatus& relay = page->m_oRelayDayStatus[0];
    relay.nIndex = 0;
    relay.nChannel = 1;
    relay.nYear = 2026, relay.nMonth = 12, relay.nDay = 10;
    std::snprintf(relay.szName, sizeof relay.szName, "%s", "AA-BB:127.0.0.5");
    std::memset(relay.szMinuteMap, kMapNone, sizeof relay.szMinuteMap);
    relay.szMinuteMap[600] = kMapPlan;
    // Cell 0 was left by an earlier local selection: all 'C'.
    page->m_oPBStatus[0].nIndex = -1;
    // Row 1: relay slot without recordings, its cell still holding an old map.
    RelayDayStatus& empty = page->m_oRelayDayStatus[1];
    empty.nIndex = 1;
    empty.nChannel = 2;
    std::snprintf(empty.szName, sizeof empty.szName, "%s", "AA-BB:127.0.0.6");
    std::memset(empty.szMinuteMap, kMapNone, sizeof empty.szMinuteMap);
    // The map has no terminator: what follows it must not count as minutes.
    static_assert(offsetof(RelayDayStatus, oVideoParam) ==
                  offsetof(RelayDayStatus, szMinuteMap) + sizeof(RelayDayStatus::szMinuteMap));
    std::snprintf(empty.oVideoParam.codecName, sizeof empty.oVideoParam.codecName, "%s", "H264");
    std::memset(page->m_oPBStatus[1].oDayMap.szMinuteMap, kMapPlan, kDayMinutes);

    page->m_bSearchByDate = 1;
    auto* check = page->GetDlgItemT<QAbstractButton>(CSearchRecDlg::IDC_CHECK_SYNC);
    check->click();
    page->GetDlgItem(CSearchRecDlg::IDC_BTN_SYNC_PLAY)->setEnabled(true);
    page->GetDlgItemT<QDateTimeEdit>(CSearchRecDlg::IDC_TIME_SYNC)->setTime(QTime(10, 0, 5));
    page->m_nSelPlayer = 3;
    page->GetDlgItemT<QAbstractButton>(CSearchRecDlg::IDC_BTN_SYNC_PLAY)->click();
    auxsinktest::Pump();

    const auto started = Calls("TS_InviteReplayStartByDate");
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("AA-BB:127.0.0.5", started[0][1]);
    EXPECT_EQ("36005", started[0].back());
    EXPECT_EQ(1, relay.bPlaying);
    EXPECT_EQ(0, relay.nPlayer) << "the selection is set aside during the start";
    EXPECT_EQ(36005, relay.nSeekSec);
    EXPECT_EQ(0, empty.bPlaying);
    EXPECT_EQ(3, page->m_nSelPlayer);
}

} // namespace
