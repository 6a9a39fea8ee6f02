// Skinned message box: its geometry for one and two buttons, the measuring
// of lines, the modes and what OK does in them.
#include "core/helpers.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

class ResMsgDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        owner.show();
        box = new CResMsgDlg();
        ASSERT_TRUE(box->Create(CResMsgDlg::IDD, &owner));
        exits = stops = 0;
        CResMsgDlg::SetModeActions({[this] { ++exits; }, [this] { ++stops; }});
    }
    void TearDown() override
    {
        CResMsgDlg::SetModeActions({});
        delete box;
    }
    QRect Geometry(UINT id) const { return box->GetDlgItem(id)->geometry(); }
    bool Visible(UINT id) const { return box->GetDlgItem(id)->isVisible(); }
    void Click(UINT id) { QTest::mouseClick(box->GetDlgItem(id), Qt::LeftButton); }

    MsgRecorder owner;
    CResMsgDlg* box = nullptr;
    int exits = 0;
    int stops = 0;
};

TEST_F(ResMsgDlgTest, StartsHiddenWithTheTextsOfTheStringTable)
{
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->GetDlgItemText(CResMsgDlg::IDC_OK), "OK");
    EXPECT_EQ(box->GetDlgItemText(CResMsgDlg::IDC_CANCEL), "Cancel");
    EXPECT_EQ(box->GetWindowText(), g_strTitle);
}

TEST_F(ResMsgDlgTest, OneButtonGeometry)
{
    const std::wstring text = L"Search result is null!";
    int W = 0, H = 0;
    box->MeasureText(text, true, &W, &H);
    const QFontMetrics fm(box->font());
    EXPECT_EQ(W, fm.horizontalAdvance(QString::fromStdWString(text)));
    EXPECT_EQ(H, fm.height());

    box->ShowMsgW(text.c_str(), 2);
    EXPECT_TRUE(box->isVisible());
    // The box: 70 wider and 96 taller than the text, frame included.
    EXPECT_EQ(box->width() + CResMsgDlg::kFrameWidth, W + 70);
    EXPECT_EQ(box->height() + CResMsgDlg::kFrameHeight, H + 96);
    EXPECT_EQ(Geometry(CResMsgDlg::IDC_TEXT), QRect(10, 10, W + 50, H + 10));
    EXPECT_EQ(box->GetDlgItemText(CResMsgDlg::IDC_TEXT), "Search result is null!");
    const int C = (W + 70) / 2;
    EXPECT_EQ(Geometry(CResMsgDlg::IDC_OK), QRect(C - 30, H + 25, 60, 23));
    EXPECT_TRUE(Visible(CResMsgDlg::IDC_OK));
    EXPECT_FALSE(Visible(CResMsgDlg::IDC_CANCEL));
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(ResMsgDlgTest, TwoButtonGeometryForModesFiveToNine)
{
    for (int mode : {5, 6, 7, 8, 9}) {
        box->ShowMsg("Are you sure to close all surveillance video?", mode);
        int W = 0, H = 0;
        box->MeasureText(L"Are you sure to close all surveillance video?", false, &W, &H);
        const int C = (W + 70) / 2;
        EXPECT_EQ(Geometry(CResMsgDlg::IDC_OK), QRect(C - 55, H + 25, 50, 23)) << mode;
        EXPECT_EQ(Geometry(CResMsgDlg::IDC_CANCEL), QRect(C + 5, H + 25, 50, 23)) << mode;
        EXPECT_TRUE(Visible(CResMsgDlg::IDC_CANCEL)) << mode;
        EXPECT_EQ(box->ExitsOnOk(), mode == 8) << mode;
        EXPECT_EQ(box->StopsVideoOnOk(), mode == 9) << mode;
    }
    for (int mode : {0, 1, 2, 3, 4, 10, -1}) {
        box->ShowMsg("x", mode);
        EXPECT_FALSE(Visible(CResMsgDlg::IDC_CANCEL)) << mode;
    }
}

TEST_F(ResMsgDlgTest, LinesAreMeasuredOneByOne)
{
    const QFontMetrics fm(box->font());
    int W1 = 0, H1 = 0, W2 = 0, H2 = 0;
    box->MeasureText(L"first\nsecond line\nthird", true, &W1, &H1);
    box->MeasureText(L"first\nsecond line\nthird\n", true, &W2, &H2);
    EXPECT_EQ(H1, 3 * fm.height());
    EXPECT_EQ(H2, 3 * fm.height());
    // The wide form: characters times the average width of the widest line,
    // unless the line draws wider.
    EXPECT_EQ(W1, std::max(11 * fm.averageCharWidth(), fm.horizontalAdvance(QStringLiteral("second line"))));
    EXPECT_EQ(W2, W1);
    // The narrow form measures each line as drawn.
    int W3 = 0, H3 = 0;
    box->MeasureText(L"first\nsecond line\nthird", false, &W3, &H3);
    EXPECT_EQ(W3, fm.horizontalAdvance(QStringLiteral("second line")));
    EXPECT_EQ(H3, H1);
    // A line of full-width characters gets the room it draws in.
    const std::wstring cjk = L"如果本机时间不准确，将会产生时间偏差。\n确定吗？";
    box->MeasureText(cjk, true, &W1, &H1);
    EXPECT_GE(W1, fm.horizontalAdvance(QStringLiteral("如果本机时间不准确，将会产生时间偏差。")));
    box->ShowMsgW(cjk.c_str(), 2);
    auto* label = box->GetDlgItemT<QLabel>(CResMsgDlg::IDC_TEXT);
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->heightForWidth(label->width()), label->height()); // nothing cut off
    // An empty line in the middle still counts.
    box->MeasureText(L"a\n\nb", true, &W1, &H1);
    EXPECT_EQ(H1, 3 * fm.height());
}

TEST_F(ResMsgDlgTest, OkInModeNineStopsAllVideoAndCancelDoesNot)
{
    box->ShowMsgW(LoadResStringW(319).c_str(), 9);
    Click(CResMsgDlg::IDC_CANCEL);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(stops, 0);
    box->ShowMsgW(LoadResStringW(319).c_str(), 9);
    Click(CResMsgDlg::IDC_OK);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(exits, 0);
}

TEST_F(ResMsgDlgTest, OkInModeEightEndsTheProgram)
{
    box->ShowMsgW(L"Exit?", 8);
    Click(CResMsgDlg::IDC_OK);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(stops, 0);
}

TEST_F(ResMsgDlgTest, ANewMessageReplacesAnOpenQuestion)
{
    box->ShowMsgW(L"Are you sure to close all surveillance video?", 9);
    box->ShowMsgW(L"Capture failure!", 2);
    EXPECT_EQ(box->GetDlgItemText(CResMsgDlg::IDC_TEXT), "Capture failure!");
    EXPECT_FALSE(Visible(CResMsgDlg::IDC_CANCEL));
    Click(CResMsgDlg::IDC_OK);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(stops, 0);
}

TEST_F(ResMsgDlgTest, WithoutRegisteredActionsOkOnlyHides)
{
    CResMsgDlg::SetModeActions({});
    box->ShowMsgW(L"?", 9);
    Click(CResMsgDlg::IDC_OK);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(stops, 0);
}

TEST_F(ResMsgDlgTest, CloseAndEscapeOnlyHide)
{
    box->ShowMsgW(L"?", 8);
    box->close();
    EXPECT_FALSE(box->isVisible());
    EXPECT_NE(box->m_hWnd, nullptr); // still there for the next message
    box->ShowMsgW(L"?", 8);
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(exits, 0);
}

} // namespace
