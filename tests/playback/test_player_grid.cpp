// The record search page's grid: pane rectangles per layout, pane count
// changes and the selection, the selection frame, keys, full screen in and
// out, the controls below the players and the time line's rows from a day
// search. Pictures of the page go to QELM2_PLAYBACK_SHOTS when it is set.
#include "playback_test_util.h"

#include "controls/control_registry.h"
#include "core/userinfo.h"
#include "media/control_wrappers.h"
#include "playback/playback_toll_bar.h"
#include "playback/search_rec_dlg.h"
#include "tests/media/sink_test_util.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

using namespace pbtest;

TEST(PlayerPanes, RectanglesPerLayout)
{
    struct Expect {
        int player;
        CRect rc;
    };
    struct Case {
        int panes, sel, W, P, Q;
        int shown;
        std::vector<Expect> expect;
    } const cases[] = {
        {1, 2, 1000, 640, 0, 1, {{2, CRect(3, 3, 992, 643)}}},
        {1, 5, 1000, 640, 0, 0, {}},
        {2, 0, 1000, 640, 0, 2, {{0, CRect(3, 3, 503, 643)}, {1, CRect(508, 3, 997, 643)}}},
        {4, 0, 1000, 640, 0, 4, {{0, CRect(3, 3, 503, 321)}, {3, CRect(508, 325, 997, 643)}}},
        {4, 0, 1000, 640, 225, 4, {{0, CRect(228, 3, 615, 321)}, {1, CRect(620, 3, 996, 321)}}},
        {9, 0, 1000, 640, 0, 8, {{4, CRect(335, 215, 664, 424)}, {7, CRect(335, 428, 664, 637)}}},
        {16, 0, 1000, 640, 0, 8, {{7, CRect(752, 162, 998, 318)}}},
        {25, 0, 1000, 640, 0, 8, {{5, CRect(2, 130, 198, 254)}, {7, CRect(402, 130, 598, 254)}}},
        {36, 0, 1000, 640, 0, 8, {{7, CRect(168, 108, 330, 210)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.panes << " panes, Q " << c.Q);
        CRect rc[CSearchRecDlg::kSlots];
        CSearchRecDlg::GetPaneRects(c.panes, c.sel, c.W, c.P, c.Q, rc);
        int shown = 0;
        for (const CRect& r : rc)
            shown += r.IsRectEmpty() ? 0 : 1;
        EXPECT_EQ(c.shown, shown);
        for (const Expect& e : c.expect)
            EXPECT_EQ(e.rc, rc[e.player]) << "player " << e.player;
    }
}

class PlayerGridTest : public testing::Test {
public:
    void SetUp() override
    {
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidPlayBack);
        host.Create(nullptr, CRect(0, 0, 1920, 1080));
        page = new CSearchRecDlg(&host);
        ASSERT_TRUE(page->Create(CSearchRecDlg::IDD, &host));
        page->MoveWindow(0, 0, 1024, 768);
        host.show();
        page->show();
        auxsinktest::Pump();
    }
    void TearDown() override { delete page; }

    void Key(QEvent::Type type, int key, QWidget* to = nullptr)
    {
        QKeyEvent e(type, key, Qt::NoModifier);
        QCoreApplication::sendEvent(to ? to : page, &e);
    }
    QRect Geometry(int i) { return page->GetPlayer(i)->geometry(); }
    bool Shown(int i) { return !page->GetPlayer(i)->isHidden(); }
    void Picture(const char* name)
    {
        if (const char* dir = std::getenv("QELM2_PLAYBACK_SHOTS"))
            page->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    }

    auxsinktest::ControlClassesGuard classes;
    CWnd host;
    CSearchRecDlg* page = nullptr;
    ListsGuard lists;
};

TEST_F(PlayerGridTest, PlayersAndControlsFollowThePage)
{
    // 1024 x 768: players 408 high, the controls from 423 down.
    CRect rc[CSearchRecDlg::kSlots];
    CSearchRecDlg::GetPaneRects(4, 0, 1024, 408, 0, rc);
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i) {
        EXPECT_EQ(i < 4, Shown(i)) << i;
        if (i < 4) {
            EXPECT_EQ(QRect(rc[i].left, rc[i].top, rc[i].Width(), rc[i].Height()), Geometry(i)) << i;
        }
    }
    auto at = [&](UINT id) { return page->GetDlgItem(id)->geometry(); };
    EXPECT_EQ(QRect(3, 423, 77, 28), at(CSearchRecDlg::IDC_BTN_BYFILE));
    EXPECT_EQ(QRect(88, 423, 77, 28), at(CSearchRecDlg::IDC_BTN_BYDATE));
    EXPECT_EQ(QRect(3, 461, 1014, 304), at(CSearchRecDlg::IDC_GROUP_QUERY));
    EXPECT_EQ(QRect(14, 599, 996, 156), at(CSearchRecDlg::IDC_LIST_RECORD));
    EXPECT_EQ(QRect(930, 566, 80, 28), at(CSearchRecDlg::IDC_BTN_DOWNLOAD));
    EXPECT_EQ(QRect(3, 486, 100, 15), at(CSearchRecDlg::IDC_STATIC_LEGEND_ALARM));
    ASSERT_TRUE(page->m_pTimeBar);
    EXPECT_EQ(QRect(3, 511, 1012, 254), page->m_pTimeBar->geometry());
    EXPECT_TRUE(page->m_pTimeBar->isHidden()) << "by-file mode";
    // Rows set while it is hidden (a recorder answers late) fit its real size.
    EXPECT_EQ(-2, page->m_pTimeBar->SetRow("A", "late", 8));
    EXPECT_EQ(0, page->m_pTimeBar->SetRow("A", "late", 7));
    EXPECT_EQ(8, page->m_pTimeBar->GetRowCount());
    page->GetDlgItemT<QAbstractButton>(CSearchRecDlg::IDC_BTN_BYDATE)->click();
    EXPECT_FALSE(page->m_pTimeBar->isHidden());

    // The search panel off: players fill the page, no control of the panel shows.
    page->ToggleSearchPanel();
    CSearchRecDlg::GetPaneRects(4, 0, 1024, 763, 0, rc);
    EXPECT_EQ(QRect(rc[3].left, rc[3].top, rc[3].Width(), rc[3].Height()), Geometry(3));
    EXPECT_TRUE(page->m_pTimeBar->isHidden());
    EXPECT_TRUE(page->GetDlgItem(CSearchRecDlg::IDC_BTN_BYDATE)->isHidden());
    page->ToggleSearchPanel();

    // On an extension monitor the page's own device panel sits left of the players.
    page->SetOnExtScreen(1);
    EXPECT_EQ(228, Geometry(0).left());
    page->SetOnExtScreen(0);
    EXPECT_EQ(3, Geometry(0).left());
}

TEST_F(PlayerGridTest, LayoutChangesAndSelection)
{
    page->SetPlayerLayout(9);
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
        EXPECT_TRUE(Shown(i)) << i;
    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 6, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(6, page->m_nSelPlayer);
    page->SetPlayerLayout(9);
    EXPECT_EQ(6, page->m_nSelPlayer) << "the layout on show changes nothing";
    page->SetPlayerLayout(4);
    EXPECT_EQ(0, page->m_nSelPlayer);
    EXPECT_FALSE(Shown(4));

    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 3, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(3, page->m_nSelPlayer);
    page->SetPlayerLayout(1);
    EXPECT_EQ(0, page->m_nSelPlayer);
    EXPECT_TRUE(Shown(0));
    EXPECT_FALSE(Shown(3));
    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 9, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(0, page->m_nSelPlayer) << "not a player of the page";

    page->SetPlayerLayout(16);
    int shown = 0;
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i)
        shown += Shown(i) ? 1 : 0;
    EXPECT_EQ(8, shown);
}

TEST_F(PlayerGridTest, SelectionFrameMovesWithTheClick)
{
    auto frame = [&](int i) {
        const QImage img = page->grab().toImage();
        const QRect g = Geometry(i);
        return img.pixelColor(g.left() - 1, g.top() + 20);
    };
    const QColor red(255, 0, 0);
    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 0, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(red, frame(0));
    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 3, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(red, frame(3));
    EXPECT_NE(red, frame(0));
    const QImage img = page->grab().toImage();
    const QRect g = Geometry(3);
    EXPECT_EQ(red, img.pixelColor(g.right() + 2, g.bottom() + 2)) << "two pixels round the player";
    EXPECT_NE(red, img.pixelColor(g.right() + 3, g.bottom() + 3));
}

TEST_F(PlayerGridTest, MouseModesReachEveryPlayer)
{
    page->SetMouseMode(2);
    EXPECT_EQ(2, page->m_nMouseMode);
    for (int i = 0; i < CSearchRecDlg::kSlots; ++i) {
        ASSERT_TRUE(page->GetPlayer(i)->GetControl());
        EXPECT_TRUE(page->GetPlayer(i)->testAttribute(Qt::WA_SetCursor)) << i;
    }
}

TEST_F(PlayerGridTest, KeysNeverCloseThePage)
{
    struct Case {
        UINT message;
        WPARAM key;
        LPARAM lParam;
        BOOL swallowed;
    } const cases[] = {
        {WM_KEYDOWN, VK_ESCAPE, 0, TRUE},
        {WM_KEYDOWN, VK_RETURN, 0, TRUE},
        {WM_SYSKEYDOWN, VK_F4, LPARAM(1) << 29, TRUE},
        {WM_KEYUP, VK_ESCAPE, 0, FALSE}, // not in full screen
        {WM_KEYDOWN, VK_F4, 0, FALSE},
    };
    for (const Case& c : cases) {
        MSG msg;
        msg.hwnd = page->GetSafeHwnd();
        msg.message = c.message;
        msg.wParam = c.key;
        msg.lParam = c.lParam;
        EXPECT_EQ(c.swallowed, static_cast<CWnd*>(page)->PreTranslateMessage(&msg)) << c.message << " " << c.key;
    }
    EXPECT_TRUE(page->isVisible());
}

TEST_F(PlayerGridTest, FullScreenInAndOutWithEsc)
{
    page->SwitchFullScreen();
    ASSERT_EQ(1, page->m_bFullScreen);
    EXPECT_EQ(nullptr, page->parentWidget()) << "out of the main window";
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(screen, page->geometry());
    EXPECT_TRUE(page->IsKeyboardHookInstalled());
    EXPECT_TRUE(page->GetDlgItem(CSearchRecDlg::IDC_LIST_RECORD)->isHidden());
    CRect rc[CSearchRecDlg::kSlots];
    CSearchRecDlg::GetPaneRects(4, 0, screen.width(), screen.height() - 5, 0, rc);
    EXPECT_EQ(QRect(rc[3].left, rc[3].top, rc[3].Width(), rc[3].Height()), Geometry(3));

    // One press of Esc: the page's own key-up and the two the filter posts.
    Key(QEvent::KeyPress, Qt::Key_Escape);
    Key(QEvent::KeyRelease, Qt::Key_Escape);
    auxsinktest::Pump();
    EXPECT_EQ(0, page->m_bFullScreen);
    EXPECT_EQ(&host, page->parentWidget());
    EXPECT_FALSE(page->IsKeyboardHookInstalled());
    EXPECT_EQ(QRect(235, 91, 781, 667), page->geometry()) << "the restored main window's place";
    EXPECT_FALSE(page->GetDlgItem(CSearchRecDlg::IDC_LIST_RECORD)->isHidden());

    // The filter alone ends it: a key-down the page swallows still posts a key-up.
    page->SwitchFullScreen();
    ASSERT_EQ(1, page->m_bFullScreen);
    Key(QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_EQ(1, page->m_bFullScreen) << "Esc key-downs are swallowed";
    auxsinktest::Pump();
    EXPECT_EQ(0, page->m_bFullScreen);
    Key(QEvent::KeyPress, Qt::Key_Escape);
    Key(QEvent::KeyRelease, Qt::Key_Escape);
    auxsinktest::Pump();
    EXPECT_EQ(0, page->m_bFullScreen) << "Esc never enters full screen";
}

TEST_F(PlayerGridTest, OnePlayingPaneIsThePlayersOwnFullScreen)
{
    QTemporaryDir dir;
    const std::string file = dir.path().toStdString() + "/a.mp4";
    WriteMp4(file, 3);
    page->SetPlayerLayout(1);
    CPlayBackAtl* first = page->GetPlayer(0);
    ASSERT_EQ(0, first->OpenFile(file.c_str()));
    first->Play();
    ASSERT_EQ(1, first->IsPlaying());
    const QRect before = page->geometry();

    page->SwitchFullScreen();
    EXPECT_EQ(1, page->m_bFullScreen);
    EXPECT_EQ(1, page->m_bPlayerFullScreen);
    EXPECT_EQ(&host, page->parentWidget()) << "the page stays in place";
    EXPECT_EQ(before, page->geometry());
    EXPECT_FALSE(page->IsKeyboardHookInstalled());

    page->OnPlayBackMouse(CSearchRecDlg::kFirstPlayerId + 0, WM_LBUTTONDBLCLK, 0, 0);
    EXPECT_EQ(0, page->m_bFullScreen);
    EXPECT_EQ(0, page->m_bPlayerFullScreen);
    first->Stop();
}

TEST_F(PlayerGridTest, ByDateDaySearchFillsItsTimeLineRow)
{
    page->GetDlgItemT<QAbstractButton>(CSearchRecDlg::IDC_BTN_BYDATE)->click();
    page->GetDlgItemT<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_QUERY)->setDate(QDate(2026, 11, 20));
    DeviceInfo cams[3] = {Device("C1", "Gate", 1, "127.0.0.21"), Device("C2", "Yard", 1, "127.0.0.22"),
                          Device("C3", "Hall", 1, "127.0.0.23")};
    for (DeviceInfo& c : cams) {
        lists.AddDevice(c);
        page->SetSearchDevInfo(&c);
    }
    CPlayBackTollBar* bar = page->m_pTimeBar;
    for (int i = 0; i < 3; ++i) {
        const CTimeBarRow* row = bar->GetRow(i);
        ASSERT_TRUE(row) << i;
        EXPECT_EQ(i, row->nRow);
        EXPECT_STREQ(cams[i].DevName, row->szName);
        EXPECT_EQ(2026, row->nYear);
        EXPECT_EQ(11, row->nMonth);
        EXPECT_EQ(20, row->nDay);
        EXPECT_EQ(std::string(1440, 'C'), std::string(row->szMinutes, 1440));
    }
    // A picture with recordings on the rows, for looking at.
    std::string day(1440, 'C');
    std::fill(day.begin() + 480, day.begin() + 720, 'A');
    std::fill(day.begin() + 800, day.begin() + 860, 'B');
    bar->SetRow(day.c_str(), "Gate", 0);
    bar->SetRowPos(0, 9 * 3600);
    Picture("bydate_1024x768");
    host.resize(1920, 1080);
    page->MoveWindow(0, 0, 1920, 1080);
    Picture("bydate_1920x1080");
}

TEST_F(PlayerGridTest, GridPictures)
{
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)})
        for (int panes : {4, 9, 16}) {
            page->MoveWindow(0, 0, size.width(), size.height());
            page->SetPlayerLayout(panes);
            const QString name = QString("grid%1_%2x%3").arg(panes).arg(size.width()).arg(size.height());
            Picture(name.toUtf8().constData());
            // The players and the list never overlap.
            EXPECT_LT(Geometry(0).bottom(), page->GetDlgItem(CSearchRecDlg::IDC_BTN_BYFILE)->geometry().top());
        }
}

} // namespace
