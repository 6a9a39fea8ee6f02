// The time line driven as the page drives it and as the mouse does: chosen
// pixels of its picture per zoom, the seconds of clicks and double clicks,
// result codes, slider snapping and the image routines.
#include "playback/playback_toll_bar.h"

#include "platform/message.h"
#include "ui/skin_widgets.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>

#include <memory>
#include <string>
#include <vector>

namespace {

// The owner: keeps every WM_TIMEBAR_DBLCLK it is posted.
class Owner : public CWnd {
public:
    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_TIMEBAR_DBLCLK)
            got.push_back({int(pMsg->wParam), int(pMsg->lParam)});
        return CWnd::PreTranslateMessage(pMsg);
    }
    std::vector<std::pair<int, int>> got;
};

void Pump()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

const QColor kGreen(0, 220, 0), kAlarm(220, 0, 0), kGrey(220, 220, 220), kCursorRed(255, 0, 0),
    kBack(248, 255, 248), kBlack(0, 0, 0);

class TimeBarTest : public testing::Test {
public:
    // A time area of 480 pixels (3 minutes a pixel in zoom 1) and 9 rows.
    void Make(int width = 84 + 480, int height = 300)
    {
        owner.Create(nullptr, CRect(0, 0, width + 20, height + 20));
        bar = std::make_unique<CPlayBackTollBar>(&owner);
        ASSERT_TRUE(bar->Create(CPlayBackTollBar::IDD, &owner));
        bar->MoveWindow(0, 0, width, height);
        bar->show();
    }
    void SetUp() override { Make(); }
    void TearDown() override { bar.reset(); }

    QColor Pixel(int x, int y)
    {
        const QImage img = bar->grab().toImage();
        return img.pixelColor(x, y);
    }
    // A point inside row r's band, x' pixels into the time area.
    static QPoint InRow(int r, int xPrime) { return QPoint(84 + xPrime, 28 + 24 * r + 10); }
    void Mouse(QEvent::Type type, QPoint p)
    {
        QMouseEvent e(type, QPointF(p), QPointF(bar->mapToGlobal(p)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(bar.get(), &e);
    }
    void Click(QPoint p) { Mouse(QEvent::MouseButtonRelease, p); }
    void DoubleClick(QPoint p)
    {
        Mouse(QEvent::MouseButtonDblClick, p);
        Pump();
    }
    // The zoom labels are clicked where they lie.
    void Zoom(int zoom) { Click(QPoint(12 + 18 * (zoom - 1) + 5, 20)); }

    Owner owner;
    std::unique_ptr<CPlayBackTollBar> bar;
};

TEST_F(TimeBarTest, GeometryAndResultCodes)
{
    EXPECT_EQ(480, bar->GetViewWidth());
    EXPECT_EQ(9, bar->GetRowCount()) << "a 300-pixel window keeps 238 pixels for 9 rows";
    EXPECT_EQ(238, int(bar->RowsImage().GetHeight()));
    EXPECT_EQ(1440, int(bar->RowsImage().GetWidth()));

    const std::string day(1440, 'A');
    struct Case {
        int row;
        int result;
    } const cases[] = {{-1, -1}, {10, -2}, {9, -3}, {0, 0}, {8, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(c.result, bar->SetRow(day.c_str(), "x", c.row)) << c.row;
    EXPECT_EQ(nullptr, bar->GetRow(9)) << "a refused row leaves nothing behind";

    EXPECT_EQ(0, bar->SetRowPos(0, 0));
    EXPECT_EQ(0, bar->SetRowPos(0, 86400));
    EXPECT_EQ(-1, bar->SetRowPos(0, 86401));
    EXPECT_EQ(-1, bar->SetRowPos(0, -1));
    EXPECT_EQ(-2, bar->SetRowPos(5, 10));
    EXPECT_EQ(86400, bar->GetRowPos(0));
    EXPECT_EQ(0, bar->GetRowPos(8)) << "no cursor yet";
    EXPECT_EQ(0, bar->GetRowPos(5));

    EXPECT_EQ(0, bar->RemoveRow(5)) << "a row never set";
    EXPECT_EQ(0, bar->RemoveRow(0));
    EXPECT_EQ(-2, bar->SetRowPos(0, 10)) << "a removed row has no cursor";
    EXPECT_EQ(0, bar->GetRowPos(0));
    ASSERT_NE(nullptr, bar->GetRow(0)) << "the row object stays";
    EXPECT_EQ(-1, bar->GetRow(0)->nRow);

    bar->SetRowDate(6, 2026, 11, 20);
    EXPECT_EQ(nullptr, bar->GetRow(6)) << "a date for a row never set is dropped";
    bar->SetRowDate(8, 2026, 11, 20);
    EXPECT_EQ(2026, bar->GetRow(8)->nYear);
}

TEST_F(TimeBarTest, NamesAreBoundedAndDefaulted)
{
    ASSERT_EQ(0, bar->SetRow("A", nullptr, 3));
    EXPECT_STREQ("video3", bar->GetRow(3)->szName);
    // 30 letters and a two-byte letter: the letter would pass 31 bytes.
    const std::string name = std::string(30, 'n') + "\xC3\xA9" + "tail";
    ASSERT_EQ(0, bar->SetRow("A", name.c_str(), 4));
    EXPECT_EQ(std::string(30, 'n'), bar->GetRow(4)->szName);
}

TEST_F(TimeBarTest, AMapWithoutTerminatorIsReadForADayOnly)
{
    // Exactly a day of letters on the heap: reading one more is caught.
    std::unique_ptr<char[]> map(new char[1440]);
    std::fill(map.get(), map.get() + 1440, 'B');
    ASSERT_EQ(0, bar->SetRow(map.get(), "nvr", 1));
    EXPECT_EQ(std::string(1440, 'B'), std::string(bar->GetRow(1)->szMinutes, 1440));
    EXPECT_EQ(kAlarm, Pixel(84 + 479, 28 + 24 + 10));
}

TEST_F(TimeBarTest, ZoomOnePixels)
{
    // One pixel a minute.
    owner.resize(1600, 400);
    bar->MoveWindow(0, 0, 84 + 1440, 300);
    ASSERT_EQ(1440, bar->GetViewWidth());

    std::string planThenAlarm = "AA" + std::string(1438, 'B');
    ASSERT_EQ(0, bar->SetRow(std::string(1440, 'A').c_str(), "all", 0));
    ASSERT_EQ(0, bar->SetRow(planThenAlarm.c_str(), "mixed", 1));
    ASSERT_EQ(0, bar->SetRow("AAAA", "short", 2));
    ASSERT_EQ(0, bar->SetRow(std::string(1440, 'C').c_str(), "gone", 3));
    bar->RemoveRow(3);
    ASSERT_EQ(0, bar->SetRowPos(1, 43200));
    ASSERT_EQ(0, bar->SetRowPos(2, 600));
    const QImage img = bar->grab().toImage();
    auto at = [&](int xPrime, int row, int bandY = 10) { return img.pixelColor(84 + xPrime, 28 + 24 * row + bandY); };

    // Row 0: no cursor, so its bar sits at the left edge.
    EXPECT_EQ(kCursorRed, at(0, 0));
    EXPECT_EQ(kCursorRed, at(1, 0));
    EXPECT_EQ(kGreen, at(2, 0));
    EXPECT_EQ(kGreen, at(1439, 0));
    EXPECT_EQ(kBack, at(700, 0, 3)) << "bars fill picture rows 3 to 14 only";
    EXPECT_EQ(kGreen, at(700, 0, 5));
    EXPECT_EQ(kGreen, at(700, 0, 16));
    EXPECT_EQ(kBack, at(700, 0, 17));

    // Row 1: minutes 0 and 1 plan, then alarm; the cursor at 12:00.
    EXPECT_EQ(kGreen, at(0, 1));
    EXPECT_EQ(kGreen, at(1, 1));
    EXPECT_EQ(kAlarm, at(2, 1));
    EXPECT_EQ(kAlarm, at(719, 1));
    EXPECT_EQ(kCursorRed, at(720, 1));
    EXPECT_EQ(kCursorRed, at(721, 1));
    EXPECT_EQ(kAlarm, at(722, 1));

    // Row 2: drawn as far as its text goes.
    EXPECT_EQ(kGreen, at(3, 2));
    EXPECT_EQ(kBack, at(4, 2));
    EXPECT_EQ(kCursorRed, at(10, 2));

    // Row 3 removed: blank, no cursor.
    EXPECT_EQ(kBack, at(0, 3));
    EXPECT_EQ(kBack, at(500, 3));

    // Day scale: its line at y 11, the first half-hour tick at x' 30 down to 16.
    EXPECT_EQ(kBlack, img.pixelColor(84 + 15, 11));
    EXPECT_EQ(kBlack, img.pixelColor(84 + 30, 16));
    EXPECT_EQ(kBack, img.pixelColor(84 + 30, 17));
    // The name column's right edge.
    EXPECT_EQ(kBlack, img.pixelColor(83, 28 + 30));
}

TEST_F(TimeBarTest, ZoomTwoAndThreePixels)
{
    std::string map(1440, 'C');
    map[660] = 'A';
    map[661] = 'B';
    map[718] = 'A';
    map[719] = 'B';
    ASSERT_EQ(0, bar->SetRow(map.c_str(), "cam", 0));

    // Minutes: click 12:00:00 (x' 240), then "M": the view starts at 11:00.
    Click(InRow(0, 240));
    Zoom(2);
    ASSERT_EQ(2, bar->GetZoom());
    ASSERT_EQ(39600, bar->GetSliderSec());
    ASSERT_EQ(0, bar->SetRowPos(0, 39600 + 150));
    QImage img = bar->grab().toImage();
    auto at = [&](int xPrime) { return img.pixelColor(84 + xPrime, 28 + 10); };
    EXPECT_EQ(kGreen, at(0));
    EXPECT_EQ(kGreen, at(3));
    EXPECT_EQ(kAlarm, at(4));
    EXPECT_EQ(kAlarm, at(7));
    EXPECT_EQ(kGrey, at(8));
    EXPECT_EQ(kCursorRed, at(10)) << "a pixel per 15 seconds";
    EXPECT_EQ(kCursorRed, at(11));
    EXPECT_EQ(kGrey, at(12));
    // Minute scale: 11:00 has the long tick, 11:01 the short one.
    EXPECT_EQ(kBlack, img.pixelColor(84, 9));
    EXPECT_EQ(kBlack, img.pixelColor(84 + 4, 3));
    EXPECT_EQ(kBack, img.pixelColor(84 + 4, 4));
    EXPECT_TRUE(bar->Slider()->isVisible());

    // Seconds: a view from 11:58:30, half a minute into minute 718.
    Zoom(3);
    ASSERT_EQ(3, bar->GetZoom());
    bar->OnHScroll(SB_THUMBTRACK, 43110);
    ASSERT_EQ(43110, bar->GetSliderSec());
    ASSERT_EQ(0, bar->SetRowPos(0, 43110 + 50));
    img = bar->grab().toImage();
    EXPECT_EQ(kGreen, at(0));
    EXPECT_EQ(kGreen, at(59));
    EXPECT_EQ(kAlarm, at(60));
    EXPECT_EQ(kCursorRed, at(100)) << "2 pixels a second";
    EXPECT_EQ(kCursorRed, at(101));
    EXPECT_EQ(kAlarm, at(102));
    EXPECT_EQ(kAlarm, at(179));
    EXPECT_EQ(kGrey, at(180));

    // Across 08:00 the two second scales are joined: 07:58:20 is a
    // ten-second tick, 08:00:00 a half-minute one.
    bar->OnHScroll(SB_THUMBTRACK, 28800 - 100);
    img = bar->grab().toImage();
    EXPECT_EQ(kBlack, img.pixelColor(84, 6));
    EXPECT_EQ(kBack, img.pixelColor(84, 7));
    EXPECT_EQ(kBlack, img.pixelColor(84 + 200, 8));
    EXPECT_EQ(kBack, img.pixelColor(84 + 201, 8));

    Zoom(1);
    EXPECT_EQ(1, bar->GetZoom());
    EXPECT_FALSE(bar->Slider()->isVisible());
}

// Clicks and double clicks per zoom, the view set up by a click and a zoom
// label as the operator would.
TEST_F(TimeBarTest, ClickAndDoubleClickSecondsPerZoom)
{
    struct Case {
        int zoom;
        int setupX;  // x' of the click before the zoom label
        int x;       // x' of the click under test
        int click;   // its second
        int dblclk;  // the double click's second
    } const cases[] = {
        {1, 0, 240, 43200, 43200},
        {1, 0, 1, 180, 180},
        {2, 240, 10, 39600 + 150, 39600 + 120},  // 15-second steps against whole minutes
        {2, 240, 7, 39600 + 105, 39600 + 60},
        {2, 1, 10, 150, 120},                    // near 00:00 the view holds at the day's edge
        {2, 479, 10, 79200 + 150, 79200 + 120},  // near 24:00 likewise
        {3, 240, 11, 43080 + 5, 43080 + 5},
        {3, 479, 11, 86100 + 5, 86100 + 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << " x' " << c.x);
        Zoom(1);
        ASSERT_EQ(0, bar->SetRow("A", "cam", 2));
        if (c.zoom != 1) {
            Click(InRow(2, c.setupX));
            Zoom(c.zoom);
        }
        ASSERT_EQ(c.zoom, bar->GetZoom());
        Click(InRow(2, c.x));
        EXPECT_EQ(c.click, bar->GetClickSec());
        DoubleClick(InRow(2, c.x));
        ASSERT_EQ(1u, owner.got.size());
        EXPECT_EQ(2, owner.got[0].first);
        EXPECT_EQ(c.dblclk, owner.got[0].second);
        owner.got.clear();
    }
}

TEST_F(TimeBarTest, DoubleClicksOutsideTheBandsPostNothing)
{
    struct Case {
        QPoint p;
        int row;     // -1: nothing posted
        int second;
    } const cases[] = {
        {QPoint(40, 28 + 24 * 3 + 10), 3, CPlayBackTollBar::kNameColumn},
        {QPoint(84, 28 + 24 * 3 + 10), 3, CPlayBackTollBar::kNameColumn},
        {QPoint(200, 28 + 24 * 1 + 21), -1, 0},  // between two bands
        {QPoint(200, 28 + 24 * 1 + 2), -1, 0},
        {QPoint(200, 20), -1, 0},                // the scale
        {QPoint(200, 28 + 24 * 9 + 9), -1, 0},   // a tenth band that does not fit
        {QPoint(200, 28 + 24 * 10 + 10), -1, 0}, // and one under the rows area
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.p.x() << "," << c.p.y());
        owner.got.clear();
        DoubleClick(c.p);
        if (c.row < 0) {
            EXPECT_TRUE(owner.got.empty());
        } else {
            ASSERT_EQ(1u, owner.got.size());
            EXPECT_EQ(c.row, owner.got[0].first);
            EXPECT_EQ(c.second, owner.got[0].second);
        }
    }
}

TEST_F(TimeBarTest, ZoomLabelsAndSliderSnapping)
{
    auto* minute = dynamic_cast<QLabel*>(bar->GetDlgItem(CPlayBackTollBar::IDC_ZOOM_MINUTE));
    auto* day = dynamic_cast<QLabel*>(bar->GetDlgItem(CPlayBackTollBar::IDC_ZOOM_DAY));
    ASSERT_TRUE(minute && day);
    EXPECT_EQ("M", minute->text());
    EXPECT_GT(day->font().weight(), minute->font().weight());

    Click(InRow(0, 240));
    Zoom(2);
    EXPECT_GT(minute->font().weight(), day->font().weight());
    EXPECT_EQ(86400 - 7200, bar->Slider()->maximum());

    struct Case {
        UINT code;
        int pos;
        int expect;
    } const snaps[] = {
        {SB_THUMBTRACK, 3725, 3720}, {SB_LINEUP, 3725, 3720},      {SB_LINEDOWN, 3725, 3780},
        {SB_PAGEUP, 3659, 3600},     {SB_PAGEDOWN, 3600, 3600},    {SB_THUMBPOSITION, 5000, 3600},
        {SB_ENDSCROLL, 5000, 3600},  {SB_TOP, 0, 3600},
    };
    for (const Case& c : snaps) {
        bar->OnHScroll(c.code, c.pos);
        EXPECT_EQ(c.expect, bar->GetSliderSec()) << c.code << " " << c.pos;
    }
    EXPECT_EQ(3600, bar->Slider()->value());

    // Through the slider itself: a line step lands on the next whole minute.
    bar->Slider()->setSliderPosition(3630);
    bar->Slider()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(3720, bar->GetSliderSec());
    EXPECT_EQ(3720, bar->Slider()->value());

    // Seconds are not snapped.
    Zoom(3);
    bar->OnHScroll(SB_THUMBTRACK, 3725);
    EXPECT_EQ(3725, bar->GetSliderSec());
    EXPECT_EQ(86400 - 240, bar->Slider()->maximum());
}

TEST(TimeBarImages, FillAndPasteCheckTheirImages)
{
    CxImage img, row, wide, deep;
    ASSERT_TRUE(CPlayBackTollBar::InitPaletteImage(&img, 10, 8));
    ASSERT_TRUE(CPlayBackTollBar::InitPaletteImage(&row, 10, 3));
    ASSERT_TRUE(CPlayBackTollBar::InitPaletteImage(&wide, 11, 3));
    deep.Create(10, 3, 24);
    EXPECT_EQ(250, img.GetTransIndex());
    EXPECT_EQ(CPlayBackTollBar::kBackground, img.GetPixelIndex(0, 0));

    // Corners in any order, clamped; an outline touches only its edges.
    EXPECT_EQ(0, FillImageRect(&img, 12, 6, 2, 1, 9, false));
    auto top = [&](int x, int y) { return int(img.GetPixelIndex(x, long(img.GetHeight()) - 1 - y)); };
    EXPECT_EQ(9, top(2, 1));
    EXPECT_EQ(9, top(9, 1));
    EXPECT_EQ(1, top(1, 1));
    EXPECT_EQ(9, top(5, 6));
    EXPECT_EQ(9, top(2, 3));
    EXPECT_EQ(9, top(9, 3)) << "the right edge clamped onto the image";
    EXPECT_EQ(1, top(5, 3));
    EXPECT_EQ(1, top(5, 7));
    EXPECT_EQ(0, FillImageRect(&img, 20, 20, 30, 30, 4, true)) << "wholly outside: nothing";
    EXPECT_EQ(1, top(9, 7));
    EXPECT_EQ(0, FillImageRect(&img, 4, 4, 3, 3, 4, true));
    EXPECT_EQ(4, top(3, 3));
    EXPECT_EQ(4, top(4, 4));

    CxImage invalid;
    EXPECT_EQ(-1, FillImageRect(&invalid, 0, 0, 1, 1, 2, true));
    EXPECT_EQ(-2, FillImageRect(&deep, 0, 0, 1, 1, 2, true));

    FillImageRect(&row, 0, 0, 9, 2, 3, true);
    struct Case {
        CxImage* dst;
        CxImage* src;
        int top;
        int result;
    } const cases[] = {
        {&invalid, &row, 0, -1}, {&img, &invalid, 0, -2}, {&img, &deep, 0, -3},
        {&img, &wide, 0, -4},    {&img, &row, 6, -5},     {&img, &row, -1, -5},
        {&img, &row, 5, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, PasteImageRows(c.dst, c.src, c.top)) << c.result;
    EXPECT_EQ(3, top(0, 5));
    EXPECT_EQ(3, top(9, 7));
    EXPECT_EQ(9, top(2, 4)) << "rows above are kept";
}

TEST(TimeBarImages, RowPictureRuns)
{
    CxImage img;
    EXPECT_EQ(-2, CPlayBackTollBar::DrawRowImage(&img, nullptr));
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(1440u, img.GetWidth());
    EXPECT_EQ(20u, img.GetHeight());
    ASSERT_EQ(0, CPlayBackTollBar::DrawRowImage(&img, "AABx"));
    auto top = [&](int x, int y) { return int(img.GetPixelIndex(x, 19 - y)); };
    EXPECT_EQ(2, top(1, 3));
    EXPECT_EQ(3, top(2, 14));
    EXPECT_EQ(4, top(3, 8));
    EXPECT_EQ(1, top(4, 8));
    EXPECT_EQ(1, top(0, 2));
    EXPECT_EQ(1, top(0, 15));
}

} // namespace
