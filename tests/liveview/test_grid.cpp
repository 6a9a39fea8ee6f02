// The video grid: pane geometry per layout, selection and its frame, zoom and
// full screen, keys, placement in a free pane, range refusal, recovery entries
// out of range, grid-wide talk rules, folders and PTZ dispatch.
#include "liveview/video_manager_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "platform/clock.h"
#include "liveview/video_wnd_coord.h"
#include "tests/liveview/liveview_test_util.h"

#include <QDir>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace lvtest;

MSG Msg(UINT m)
{
    MSG msg;
    msg.message = m;
    return msg;
}

struct SizeCase {
    int w, h;
};
inline void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.w << "x" << c.h;
}

class GridGeometry : public ::testing::TestWithParam<SizeCase> {};

TEST_P(GridGeometry, PanesFollowTheLayoutCells)
{
    const SizeCase s = GetParam();
    Host host;
    GridHost gh(s.w, s.h, 16);
    CVideoManagerDlg& g = *gh.grid;
    for (int layout : CVideoWndCoord::kLayouts) {
        g.SelectWnd(0);
        g.SetDisplayMode(layout, 0, 0);
        EXPECT_EQ(g.GetShownCount(), layout);
        CVideoWndCoord coord(0, 0, s.w, s.h, static_cast<uint32_t>(layout));
        for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i) {
            CVideoWnd* p = g.GetPane(i);
            ASSERT_NE(p, nullptr);
            if (i >= layout) {
                EXPECT_FALSE(p->isVisible()) << layout << " " << i;
                continue;
            }
            CVideoWndCoord::Cell c{};
            coord.GetCell(i, &c);
            EXPECT_EQ(p->geometry(), QRect(c.x, c.y, c.w, c.h)) << layout << " pane " << i;
            EXPECT_TRUE(p->isVisible() || layout == 1) << layout << " " << i;
            EXPECT_EQ(p->GetRenderArea()->geometry(), QRect(2, 2, c.w - 4, c.h - 4));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, GridGeometry, ::testing::Values(SizeCase{1920, 1080}, SizeCase{1024, 768}));

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_nScreenWidth = 1024;
        g_nScreenHeight = 768;
        gh = std::make_unique<GridHost>(800, 600, 16);
        host.main = gh->grid;
    }
    void TearDown() override
    {
        gh.reset();
        devs.Clear();
        g_lstSurStatus.clear();
        g_DispInfoSetting = DispInfoSetting{};
    }
    CVideoManagerDlg& G() { return *gh->grid; }
    void Dbl(int i)
    {
        MSG m = Msg(WM_LBUTTONDBLCLK);
        G().OnWndMouseMsg(&m, i);
    }
    void Click(int i)
    {
        MSG m = Msg(WM_LBUTTONDOWN);
        G().OnWndMouseMsg(&m, i);
    }
    // A watching pane on a device nobody serves.
    DeviceInfo* Dev(const char* name)
    {
        return devs.Add(name, name, "127.0.0.1", 1, 1, 0);
    }
    Journal journal;
    Host host;
    Devices devs;
    std::unique_ptr<GridHost> gh;
};

TEST_F(GridTest, OnlyKeyMessagesCountAsAltF4)
{
    const LPARAM alt = LPARAM(1) << 29;
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        BOOL consumed;
    } cases[] = {
        {"Alt+F4", WM_KEYDOWN, VK_F4, alt, TRUE},
        {"Alt+F4 as a system key", WM_SYSKEYDOWN, VK_F4, alt, TRUE},
        {"F4 alone", WM_KEYDOWN, VK_F4, 0, FALSE},
        // A posted answer from device handle 115 whose heap text has bit 29.
        {"posted message with 115 and bit 29", WM_USER + 5100, 115, alt | 0x1000, FALSE},
    };
    for (const Case& c : cases) {
        MSG msg{};
        msg.hwnd = G().m_hWnd;
        msg.message = c.message;
        msg.wParam = c.wParam;
        msg.lParam = c.lParam;
        EXPECT_EQ(static_cast<CWnd&>(G()).PreTranslateMessage(&msg), c.consumed) << c.what;
    }
}

TEST_F(GridTest, SelectionFrameIsRedOnlyOnTheSelectedPane)
{
    Click(3);
    EXPECT_EQ(G().GetSelectedIndex(), 3);
    EXPECT_EQ(host.active, &G());
    const QImage sel = G().GetPane(3)->grab().toImage();
    const QImage other = G().GetPane(2)->grab().toImage();
    EXPECT_EQ(sel.pixelColor(sel.width() / 2, 1), QColor(255, 0, 0));
    EXPECT_EQ(sel.pixelColor(sel.width() / 2, sel.height() - 1), QColor(255, 0, 0));
    EXPECT_EQ(sel.pixelColor(sel.width() - 1, sel.height() / 2), QColor(255, 0, 0));
    EXPECT_EQ(sel.pixelColor(0, sel.height() / 2), QColor(255, 0, 0));
    EXPECT_EQ(sel.pixelColor(sel.width() / 2, 2), QColor(0, 0, 0));
    EXPECT_EQ(other.pixelColor(other.width() / 2, 1), QColor(0xEC, 0xE9, 0xD8));
}

TEST_F(GridTest, LayoutChangesAndTheSelection)
{
    Click(12);
    G().SetDisplayMode(4, 0, 0);
    EXPECT_EQ(G().GetSelectedIndex(), 0);
    G().SetDisplayMode(16, 0, 0);
    EXPECT_EQ(G().GetSelectedIndex(), 0);
    // The current layout again does nothing; a forced one lays out anew.
    G().GetPane(3)->MoveVideoWnd(0, 0, 10, 10);
    G().SetDisplayMode(16, 0, 0);
    EXPECT_EQ(G().GetPane(3)->geometry().width(), 10);
    G().SetDisplayMode(16, 0, 1);
    EXPECT_EQ(G().GetPane(3)->geometry().width(), 200);
    // A value that is no layout is only stored.
    G().SetDisplayMode(7, 0, 0);
    EXPECT_EQ(G().GetDisplayMode(), 7);
    EXPECT_EQ(G().GetShownCount(), 16);
    // Layout 1 keeps the selection and shows that pane alone.
    G().SetDisplayMode(16, 0, 0);
    Click(5);
    G().SetDisplayMode(1, 0, 0);
    EXPECT_EQ(G().GetSelectedIndex(), 5);
    EXPECT_TRUE(G().GetPane(5)->isVisible());
    EXPECT_FALSE(G().GetPane(0)->isVisible());
    EXPECT_EQ(G().GetPane(5)->geometry(), QRect(0, 0, 800, 600));
}

TEST_F(GridTest, DoubleClickZoomsInsideTheGridAndBack)
{
    Dbl(6);
    EXPECT_TRUE(G().IsZoomed());
    EXPECT_EQ(G().GetShownCount(), 1);
    EXPECT_EQ(G().GetSelectedIndex(), 6);
    EXPECT_EQ(G().GetPane(6)->geometry(), QRect(0, 0, 800, 600));
    EXPECT_FALSE(G().GetPane(0)->isVisible());
    Dbl(6);
    EXPECT_FALSE(G().IsZoomed());
    EXPECT_EQ(G().GetShownCount(), 16);
    EXPECT_EQ(G().GetPane(6)->geometry(), QRect(400, 150, 200, 150));
    // A layout while zoomed lays out normally.
    Dbl(2);
    G().SetDisplayMode(16, 0, 0);
    EXPECT_FALSE(G().IsZoomed());
    EXPECT_EQ(G().GetPane(2)->geometry(), QRect(400, 0, 200, 150));
    EXPECT_TRUE(G().GetPane(9)->isVisible());
}

TEST_F(GridTest, FullScreenStates)
{
    // One pane: a double click enters full screen, the next leaves.
    G().SetDisplayMode(1, 0, 0);
    Dbl(0);
    EXPECT_TRUE(G().IsFullScreen());
    EXPECT_EQ(G().GetCurrentRect(), CRect(0, 0, 1024, 768));
    EXPECT_EQ(G().geometry(), QRect(0, 0, 1024, 768));
    Dbl(0);
    EXPECT_FALSE(G().IsFullScreen());
    EXPECT_EQ(G().parentWidget(), &gh->window);
    EXPECT_EQ(G().geometry(), QRect(0, 0, 800, 600));

    // Sixteen panes in full screen: double click zooms, the next restores.
    G().SetDisplayMode(16, 0, 0);
    G().SwitchFullScreen();
    ASSERT_TRUE(G().IsFullScreen());
    EXPECT_EQ(G().GetPane(15)->geometry(), QRect(768, 576, 256, 192));
    Dbl(9);
    EXPECT_TRUE(G().IsZoomedInFullScreen());
    EXPECT_EQ(G().GetPane(9)->geometry(), QRect(0, 0, 1024, 768));
    Dbl(9);
    EXPECT_FALSE(G().IsZoomedInFullScreen());
    EXPECT_EQ(G().GetShownCount(), 16);

    // Enter, Alt+F4 do nothing; Esc leaves full screen.
    G().GetPane(9)->setFocus();
    QTest::keyClick(G().GetPane(9), Qt::Key_Return);
    QTest::keyClick(G().GetPane(9), Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(G().IsFullScreen());
    EXPECT_TRUE(G().isVisible());
    QTest::keyClick(G().GetPane(9), Qt::Key_Escape);
    EXPECT_FALSE(G().IsFullScreen());
    EXPECT_EQ(G().geometry(), QRect(0, 0, 800, 600));

    // Entering full screen while zoomed inside the grid shows that pane alone.
    Dbl(4);
    ASSERT_TRUE(G().IsZoomed());
    G().SwitchFullScreen();
    EXPECT_EQ(G().GetDisplayMode(), 1);
    EXPECT_EQ(G().GetPane(4)->geometry(), QRect(0, 0, 1024, 768));
    G().SwitchFullScreen();
    EXPECT_EQ(G().GetDisplayMode(), 1);
}

TEST_F(GridTest, TheGridStaysWhereItPutItself)
{
    G().move(50, 60);
    Pump(10);
    EXPECT_EQ(G().geometry(), QRect(0, 0, 800, 600));
    G().ResizeForMainWindow(0);
    const int top = 768 * 52 / 768 + 39;
    EXPECT_EQ(G().GetNormalRect(), CRect(235, top, 1016, 758));
    EXPECT_EQ(G().GetPane(15)->geometry().right() + 1, (1016 - 235) / 4 * 4);
}

TEST_F(GridTest, PlacementSearchesAFreePaneFromTheSelectedOne)
{
    // Panes 5 (selected) busy, 0-4 free: the device goes to pane 6.
    ASSERT_EQ(G().AddWatch(5, Dev("A"), 1, 0, 0, 1, 0, 1), 0);
    ASSERT_EQ(G().GetSelectedIndex(), 5);
    ASSERT_EQ(G().AddWatch(5, Dev("B"), 1, 1, 0, 1, 0, 1), 0);
    EXPECT_TRUE(G().GetPane(6)->IsWatching());
    EXPECT_STREQ(G().GetPane(6)->DevCopy().DevName, "B");
    EXPECT_STREQ(G().GetPane(5)->DevCopy().DevName, "A");
    EXPECT_EQ(G().GetSelectedIndex(), 6);
    // Recover entries were saved for both.
    EXPECT_EQ(g_lstSurStatus.size(), 2u);
    // Range check: outside the layout, nothing happens.
    EXPECT_EQ(G().AddWatch(16, Dev("C"), 1, 0, 0, 1, 1, 1), -100);
    EXPECT_FALSE(G().GetPane(16)->IsWatching());
    EXPECT_EQ(G().GetSelectedIndex(), 6);
}

TEST_F(GridTest, PlayingAShownDeviceInASmallLayoutClearsItsPaneAndAsksForTheMainStream)
{
    G().SetDisplayMode(4, 0, 0);
    DeviceInfo* d = devs.Add("Cam", "Cam", "127.0.0.1", 1, 1, 0, "cif");
    ASSERT_EQ(G().AddWatch(2, d, 1, 0, 0, 1, 0, 0), 0);
    journal.Reset();
    ASSERT_EQ(G().AddWatch(0, d, 1, 0, 0, 1, 0, 1), 0);
    EXPECT_FALSE(G().GetPane(2)->IsWatching());
    EXPECT_TRUE(G().GetPane(0)->IsWatching());
    const auto add = journal.Calls("StreamPullControl::AddStream");
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0][2], "rtsp://127.0.0.1:1/mpeg4");
    EXPECT_EQ(journal.Calls("StreamPullControl::DelStream").size(), 1u);
}

TEST_F(GridTest, RecoveryEntriesOutOfRangeAreSkipped)
{
    DeviceInfo* d = Dev("A");
    for (auto [wnd, mode] : {std::pair{70, 16}, {-1, 16}, {3, 7}, {3, 100}}) {
        SurStauts s{};
        qelm::CopyBounded(s.DevId, sizeof s.DevId, d->DevId);
        qelm::CopyBounded(s.DevName, sizeof s.DevName, d->DevName);
        s.WndNo = wnd;
        s.DispMode = mode;
        g_lstSurStatus.push_back(s);
    }
    EXPECT_EQ(G().RecoverSurveillance(), 0);
    for (int i = 0; i < CVideoManagerDlg::kPaneCount; ++i)
        EXPECT_FALSE(G().GetPane(i)->IsWatching()) << i;
    // A stored layout that is none of the twelve saves within the 64 panes.
    G().SetDisplayMode(100, 0, 0);
    EXPECT_EQ(G().SaveSurStatus(), 0);
}

TEST_F(GridTest, RecoveryReopensOnlyThisMonitorsEntries)
{
    DeviceInfo* a = Dev("A");
    DeviceInfo* b = Dev("B");
    auto entry = [](DeviceInfo* d, int wnd, int monitor, int mode) {
        SurStauts s{};
        qelm::CopyBounded(s.DevId, sizeof s.DevId, d->DevId);
        qelm::CopyBounded(s.DevName, sizeof s.DevName, d->DevName);
        s.WndNo = wnd;
        s.MonitorNum = monitor;
        s.DispMode = mode;
        return s;
    };
    g_lstSurStatus = {entry(a, 2, 0, 9), entry(b, 1, 1, 4)};
    SurStauts gone = entry(a, 3, 0, 9);
    qelm::CopyBounded(gone.DevName, sizeof gone.DevName, "Deleted");
    g_lstSurStatus.push_back(gone);
    G().RecoverSurveillance();
    EXPECT_EQ(G().GetDisplayMode(), 9);
    EXPECT_TRUE(G().GetPane(2)->IsWatching());
    EXPECT_FALSE(G().GetPane(1)->IsWatching());
    EXPECT_FALSE(G().GetPane(3)->IsWatching());
}

TEST_F(GridTest, OneTalkerPerGridAndOfflineRefusals)
{
    DeviceInfo* a = Dev("A");
    DeviceInfo* b = Dev("B");
    ASSERT_EQ(G().AddWatch(5, a, 0, 0, 0, 1, 0, 1), 0);
    ASSERT_EQ(G().AddWatch(2, b, 0, 0, 0, 1, 0, 1), 0);
    G().SelectWnd(5);
    G().OnSpeak();
    G().SetSpeakStatus("A", 1);
    EXPECT_TRUE(G().GetPane(5)->IsTalkOn());
    EXPECT_EQ(host.talkImage, kImgTalkOn);
    G().SelectWnd(2);
    EXPECT_EQ(G().OnSpeak(), -1);
    EXPECT_FALSE(G().GetPane(2)->IsTalkPending());
    EXPECT_EQ(G().OnStopSpeak("A"), 0);
    G().SetSpeakStatus("A", 0);
    EXPECT_FALSE(G().GetPane(5)->IsTalkOn());
    EXPECT_EQ(host.talkImage, kImgTalkOff);
    G().OnSpeak();
    EXPECT_TRUE(G().GetPane(2)->IsTalkPending());
    G().SetSpeakStatus("B", 0);
    EXPECT_EQ(G().OnStopSpeak("Nobody"), -1);

    b->Online = 0;
    EXPECT_EQ(G().OnSpeak(), -1);
    EXPECT_EQ(G().OnSound(), 0);
    EXPECT_FALSE(G().IsSoundOn());
}

TEST_F(GridTest, SnapshotAndRecordFolders)
{
    QTemporaryDir dir;
    host.savePath = dir.path().toStdString();
    DeviceInfo* nvr = devs.Add("NVR-A", "N1", "10.0.0.9", 1, 4, 1);
    DeviceInfo* ch = devs.Add("Channel-3", "N1", "10.0.0.9", 1, 4, 1);
    ch->CurNVRChannel = 3;
    (void)nvr;
    DeviceInfo* cam = Dev("Gate");
    const std::string base = host.savePath + "/";
    EXPECT_EQ(G().SnapshotFolder(*ch), base + "10.0.0.9/Channel-3/");
    const std::string rec = G().ManualRecordFolder(*ch);
    const std::tm now = qelm::LocalNow();
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
    EXPECT_EQ(rec, base + "NVR-A/Channel-3/" + date + "/");
    ch->nPltDev = 1;
    EXPECT_EQ(G().SnapshotFolder(*ch), base + "N1/Channel-3/");

    // A camera's snapshot folder has its separator and exists after a snapshot.
    EXPECT_EQ(G().SnapshotFolder(*cam), base + "Gate/");
    ASSERT_EQ(G().AddWatch(0, cam, 0, 0, 0, 1, 0, 1), 0);
    G().SelectWnd(0);
    G().SnapShot();
    EXPECT_TRUE(QDir(QString::fromStdString(base + "Gate")).exists());

    // Without a storage folder the program's Picture and Video folders are used.
    host.savePath.clear();
    EXPECT_EQ(G().SnapshotFolder(*cam), GetAppDir() + "Picture/Gate/");
    EXPECT_EQ(G().ManualRecordFolder(*cam).rfind(GetAppDir() + "Video/Gate/", 0), 0u);
}

TEST_F(GridTest, KeyboardPtzGoesToTheSelectedOrEveryWatchingPane)
{
    ASSERT_EQ(G().AddWatch(0, Dev("A"), 0, 0, 0, 1, 0, 1), 0);
    ASSERT_EQ(G().AddWatch(1, Dev("B"), 0, 0, 0, 1, 0, 1), 0);
    G().SelectWnd(3);
    journal.Reset();
    G().SendPtzCmd("<xml>\n<cmd>left</cmd>\n</xml>");
    EXPECT_TRUE(journal.Calls("CAuxPtzCtrl::PtzControl").empty());
    G().SelectWnd(1);
    G().SendPtzCmd("<xml>\n<cmd>left</cmd>\n</xml>");
    EXPECT_EQ(journal.Calls("CAuxPtzCtrl::PtzControl").size(), 1u);
    g_DispInfoSetting.KbConfigMode = 1;
    journal.Reset();
    G().SendPtzCmd("<xml>\n<cmd>left</cmd>\n</xml>");
    EXPECT_EQ(journal.Calls("CAuxPtzCtrl::PtzControl").size(), 2u);
}

TEST_F(GridTest, KeyboardPtzFromAnotherThreadRunsOnTheUiThread)
{
    ASSERT_EQ(G().AddWatch(0, Dev("A"), 0, 0, 0, 1, 0, 1), 0);
    G().SelectWnd(0);
    journal.Reset();
    std::thread reader([this] { G().SendPtzCmd("<xml>\n<cmd>right</cmd>\n</xml>"); });
    reader.join();
    // Nothing reached the pane from the reader's thread.
    EXPECT_TRUE(journal.Calls("CAuxPtzCtrl::PtzControl").empty());
    EXPECT_TRUE(WaitFor([&] { return journal.Calls("CAuxPtzCtrl::PtzControl").size() == 1; }, 5000));
}

} // namespace
