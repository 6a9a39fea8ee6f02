// Report list: column layout grammar, value-aware sorting, check-box modes,
// colours, row states and the in-place editor.
#include "ui/report_compare.h"
#include "ui/report_ctrl.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

namespace {

using qelm::report::CompareCellTexts;
using qelm::report::ParseDateTime;
using qelm::report::ParseDecimal;
using qelm::report::ParseHex32;

TEST(ReportCompare, HexadecimalReadsAs32BitStrtoul)
{
    struct Case {
        const char* text;
        bool ok;
        DWORD value;
    };
    const Case cases[] = {
        {"9", true, 9},         {"A", true, 10},          {"10", true, 16},         {"b", true, 11},
        {"B", true, 11},        {"-1", true, 0xFFFFFFFF}, {"-0x10", true, 0xFFFFFFF0}, {"+1f", true, 0x1F},
        {" 1f", true, 0x1F},    {"0x1F", true, 0x1F},     {"0X0", true, 0},         {"FFFFFFFF", true, 0xFFFFFFFF},
        {"100000000", true, 0xFFFFFFFF}, {"-100000000", true, 0xFFFFFFFF},
        {"", false, 0},         {"0x", false, 0},         {"0xg", false, 0},        {"1f ", false, 0},
        {"-", false, 0},        {"g", false, 0},          {"1.5", false, 0},        {"12%", false, 0},
    };
    for (const Case& c : cases) {
        DWORD v = 12345;
        EXPECT_EQ(ParseHex32(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(ReportCompare, DecimalAcceptsOnlyPlainFormsAndOnePercent)
{
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"1.5", true, 1.5},   {"10%", true, 10},   {" -2.5e1", true, -25}, {".5", true, 0.5}, {"5.", true, 5},
        {"+3", true, 3},      {"1e5%", true, 1e5}, {"0", true, 0},
        {"10%%", false, 0},   {"%", false, 0},     {".", false, 0},     {"nan", false, 0}, {"inf", false, 0},
        {"-infinity", false, 0}, {"0x1p3", false, 0}, {"1e", false, 0}, {"1.5 ", false, 0}, {"1,5", false, 0},
        {"", false, 0},       {"1e400", true, HUGE_VAL},
    };
    for (const Case& c : cases) {
        double v = -7;
        EXPECT_EQ(ParseDecimal(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(ReportCompare, DateTimesInNumericForms)
{
    double a = 0, b = 0;
    ASSERT_TRUE(ParseDateTime("2024-01-05", a));
    ASSERT_TRUE(ParseDateTime("2024-01-05 00:00:01", b));
    EXPECT_EQ(b - a, 1);
    ASSERT_TRUE(ParseDateTime("2024/1/5  8:05", b));
    EXPECT_EQ(b - a, 8 * 3600 + 5 * 60);
    ASSERT_TRUE(ParseDateTime("12:30 PM", a));
    ASSERT_TRUE(ParseDateTime("12:30:00", b));
    EXPECT_EQ(a, b);
    for (const char* bad : {"2024-13-01", "192.168.1.10", "1.5", "25:00", "2024-01-05 x", "12:60", "", "A"}) {
        double v = 0;
        EXPECT_FALSE(ParseDateTime(bad, v)) << bad;
    }
}

TEST(ReportCompare, FirstRuleBothTextsSatisfyDecides)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"9", "A", -1},          // hex 9 < 10
        {"A", "10", -1},         // hex 10 < 16
        {"b", "B", 0},           // both hex 11
        {"1.5", "10%", -1},      // decimals
        {"10%", "9.5", 1},
        {"-1", "5", 1},          // -1 is 0xFFFFFFFF
        {"x", "X", 1},           // 'X' < 'x' by character code
        {"abc", "9", 1},         // both hex: 0xABC > 9
        {"xyz", "9", 1},         // text: '9' < 'x'
        {"2023-12-31 23:59:59", "2024-01-01", -1},
        {"10:00:00", "9:59:59", 1},
        {"", "0", -1},           // an empty text is never a number
        {"1.5", "1.5", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareCellTexts(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareCellTexts(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

class ReportCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list = new CReportCtrl(&parent);
        list->setGeometry(0, 0, 600, 300);
        qelm::SetControlId(list, 1239);
        parent.show();
    }
    void Fill(const std::vector<std::string>& texts, int col = 0)
    {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const int row = list->InsertItem(list->GetItemCount(), col == 0 ? texts[i].c_str() : "");
            list->SetItemText(row, col, texts[i].c_str());
        }
    }
    std::vector<std::string> Column(int col) const
    {
        std::vector<std::string> out;
        for (int r = 0; r < list->GetItemCount(); ++r)
            out.push_back(list->GetItemText(r, col));
        return out;
    }
    QPoint CheckBoxPoint(int row) const
    {
        QTreeWidgetItem* item = list->topLevelItem(row);
        QStyleOptionViewItem opt;
        opt.initFrom(list->viewport());
        opt.rect = list->visualItemRect(item);
        opt.rect.setWidth(list->columnWidth(0));
        opt.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
        opt.text = item->text(0);
        opt.fontMetrics = list->fontMetrics();
        return list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list).center();
    }
    MsgRecorder parent;
    CReportCtrl* list = nullptr;
};

TEST_F(ReportCtrlTest, ColumnLayoutGrammar)
{
    ASSERT_TRUE(list->SetColumnLayout("Name;Size,80; Path,90,2;Mid,50,1"));
    ASSERT_EQ(list->GetColumnCount(), 4);
    EXPECT_EQ(list->GetColumnWidth(0), 100);
    EXPECT_EQ(list->GetColumnWidth(1), 80);
    EXPECT_EQ(list->GetColumnWidth(2), 90);
    EXPECT_EQ(list->GetColumnHeading(2), " Path"); // headings as written
    EXPECT_EQ(list->headerItem()->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(list->headerItem()->textAlignment(2) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(list->headerItem()->textAlignment(3) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    // An empty width field drops out: the alignment field becomes the width.
    ASSERT_TRUE(list->SetColumnLayout("A,,2"));
    EXPECT_EQ(list->GetColumnWidth(0), 2);
    EXPECT_EQ(list->headerItem()->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);

    list->InsertItem(0, "row");
    EXPECT_FALSE(list->SetColumnLayout(";;,;,,"));
    EXPECT_EQ(list->GetColumnCount(), 0);
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_FALSE(list->SetColumnLayout(nullptr));
}

TEST_F(ReportCtrlTest, SortingTables)
{
    struct Case {
        const char* what;
        std::vector<std::string> texts;
        std::vector<std::string> ascending;
    };
    const Case cases[] = {
        {"hex", {"10", "9", "A"}, {"9", "A", "10"}},
        {"decimal and percent", {"10%", "1.5", "2.25", "-3"}, {"-3", "1.5", "2.25", "10%"}},
        {"dates", {"2024-03-01", "2023-12-31 23:59:59", "2024-01-15 08:00"},
         {"2023-12-31 23:59:59", "2024-01-15 08:00", "2024-03-01"}},
        {"strings", {"beta", "Alpha", "alpha", "Beta"}, {"Alpha", "Beta", "alpha", "beta"}},
        {"minus one is large", {"-1", "5", "0"}, {"0", "5", "-1"}},
        {"mixed", {"zeta", "7", "omega"}, {"7", "omega", "zeta"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(list->SetColumnLayout("Key,100;Value,100"));
        Fill(c.texts, 1);
        list->SortItems(1, TRUE);
        EXPECT_EQ(Column(1), c.ascending) << c.what;
        list->SortItems(1, FALSE);
        std::vector<std::string> desc(c.ascending.rbegin(), c.ascending.rend());
        EXPECT_EQ(Column(1), desc) << c.what;
    }
    // Every completed sort tells the parent.
    ASSERT_GE(parent.Count(WM_ITEM_SORTED), 2);
    EXPECT_EQ(parent.msgs.back().wParam, 1u);
    EXPECT_EQ(parent.msgs.back().lParam, FALSE);
}

TEST_F(ReportCtrlTest, SortRefusesBadColumnsAndHeadersWithoutButtons)
{
    list->SetColumnLayout("A;B");
    Fill({"2", "1"});
    list->SortItems(2, TRUE);
    list->SortItems(-1, TRUE);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"2", "1"}));
    list->header()->setSectionsClickable(false);
    list->SortItems(0, TRUE);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"2", "1"}));
    EXPECT_EQ(parent.Count(WM_ITEM_SORTED), 0);
}

TEST_F(ReportCtrlTest, HeaderClicksSortAscendingThenDescending)
{
    list->SetColumnLayout("A,100;B,100");
    Fill({"2", "3", "1"});
    auto click = [&](int col) {
        const QRect r(list->header()->sectionViewportPosition(col), 0, list->header()->sectionSize(col),
                      list->header()->height());
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, r.center());
    };
    click(0); // sorting is off by default
    EXPECT_EQ(Column(0), (std::vector<std::string>{"2", "3", "1"}));
    list->m_bAllowSort = TRUE;
    click(0);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3"}));
    click(0);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"3", "2", "1"}));
    click(0);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3"}));
    // An insertion forgets the order: the next click sorts ascending.
    click(0);
    EXPECT_FALSE(list->IsSortAscending());
    list->InsertItem(0, "0");
    EXPECT_EQ(list->GetSortedColumn(), -1);
    click(0);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"0", "1", "2", "3"}));
}

TEST_F(ReportCtrlTest, RowsKeepTheirColoursValuesChecksAndSelectionThroughASort)
{
    list->SetColumnLayout("A;B;C");
    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    Fill({"c", "a", "b"});
    for (int r = 0; r < 3; ++r)
        list->SetItemData(r, static_cast<DWORD_PTR>(100 + r)); // c=100, a=101, b=102
    list->SetItemTextColor(0, -1, RGB(255, 0, 0), FALSE);     // row "c" red
    list->SetItemBkColor(2, 1, RGB(0, 0, 255), FALSE);         // row "b", column 1 blue
    list->SetCheck(1, TRUE);                                    // "a" checked
    list->SetItemStates(2, RC_ITEM_SELECTED | RC_ITEM_FOCUSED); // "b" selected
    list->SortItems(0, TRUE);
    ASSERT_EQ(Column(0), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(list->GetItemData(0), 101u);
    EXPECT_EQ(list->GetItemData(1), 102u);
    EXPECT_EQ(list->GetItemData(2), 100u);
    EXPECT_TRUE(list->GetCheck(0));
    EXPECT_FALSE(list->GetCheck(1));
    EXPECT_EQ(list->GetItemStates(1), RC_ITEM_SELECTED | RC_ITEM_UNCHECKED | RC_ITEM_FOCUSED);
    EXPECT_EQ(list->GetItemTextColor(2, 0), RGB(255, 0, 0));
    EXPECT_EQ(list->GetItemTextColor(2, 2), RGB(255, 0, 0));
    EXPECT_EQ(list->GetItemBkColor(1, 1), RGB(0, 0, 255));
    EXPECT_EQ(list->GetItemBkColor(1, 0), 0xFFFFFFu);
}

TEST_F(ReportCtrlTest, TextColourRangesAndStateCounts)
{
    list->SetColumnLayout("A;B;C");
    Fill({"1", "2", "3"});
    list->SetItemTextColor(1, -1, RGB(1, 2, 3), FALSE);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(list->GetItemTextColor(1, c), RGB(1, 2, 3));
    EXPECT_EQ(list->GetItemTextColor(0, 0), 0u);
    list->SetItemTextColor(-1, 2, RGB(9, 9, 9), FALSE);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(list->GetItemTextColor(r, 2), RGB(9, 9, 9));
    list->SetItemTextColor(7, 9, RGB(4, 4, 4), FALSE); // both invalid: every cell
    EXPECT_EQ(list->GetItemTextColor(0, 0), RGB(4, 4, 4));
    list->SetItemTextColor(0, 0, static_cast<COLORREF>(-1), FALSE);
    EXPECT_EQ(list->GetItemTextColor(0, 0), 0u);
    // A new column gets the default pair in every row.
    list->InsertColumn(1, "New", LVCFMT_LEFT, 40);
    EXPECT_EQ(list->GetItemTextColor(1, 1), 0u);
    EXPECT_EQ(list->GetItemTextColor(1, 2), RGB(4, 4, 4));

    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    list->SetCheck(2, TRUE);
    list->SetItemStates(0, RC_ITEM_SELECTED);
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_ALL), 3);
    EXPECT_EQ(list->GetItemCountByState(0), 0);
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_CHECKED), 1);
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_UNCHECKED | RC_ITEM_SELECTED), 1);
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_CHECKED | RC_ITEM_SELECTED), 0);
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_UNSELECTED), 2);
}

TEST_F(ReportCtrlTest, CheckBoxModes)
{
    list->SetColumnLayout("Name,200;B,100");
    Fill({"one", "two", "three"});
    // Mode 1: the user toggles; the row alone becomes selected and the parent hears it.
    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    list->SetItemStates(0, RC_ITEM_SELECTED);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxPoint(1));
    EXPECT_TRUE(list->GetCheck(1));
    EXPECT_EQ(list->GetItemCountByState(RC_ITEM_SELECTED), 1);
    EXPECT_EQ(list->GetItemStates(1) & (RC_ITEM_SELECTED | RC_ITEM_FOCUSED), RC_ITEM_SELECTED | RC_ITEM_FOCUSED);
    ASSERT_EQ(parent.Count(WM_ON_CHKBOX), 1);
    EXPECT_EQ(parent.msgs.back().wParam, 1u);
    EXPECT_EQ(parent.msgs.back().lParam, static_cast<LPARAM>(WM_LBUTTONDOWN));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxPoint(1));
    EXPECT_FALSE(list->GetCheck(1));
    EXPECT_EQ(parent.Count(WM_ON_CHKBOX), 2);

    // Mode 3: only the program sets them; a click leaves the box and sends nothing.
    list->SetCheckboxMode(RC_CHKBOX_DISABLED);
    list->SetCheck(2, TRUE);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxPoint(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxPoint(0));
    EXPECT_TRUE(list->GetCheck(2));
    EXPECT_FALSE(list->GetCheck(0));
    EXPECT_EQ(parent.Count(WM_ON_CHKBOX), 2);

    // The space bar never toggles a box.
    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    list->setFocus();
    list->SetItemStates(0, RC_ITEM_SELECTED | RC_ITEM_FOCUSED);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(list->GetCheck(0));

    // Mode 0: no boxes.
    list->SetCheckboxMode(RC_CHKBOX_NONE);
    EXPECT_FALSE(list->GetExtendedStyle() & LVS_EX_CHECKBOXES);
    EXPECT_FALSE(list->topLevelItem(2)->data(0, Qt::CheckStateRole).isValid());
    list->SetCheckboxMode(RC_CHKBOX_NORMAL);
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked); // the state survived
}

TEST_F(ReportCtrlTest, ItemDataAndDeletion)
{
    list->SetColumnLayout("A");
    Fill({"x", "y", "z"});
    EXPECT_TRUE(list->SetItemData(1, 0xDEADBEEFCAFEull));
    EXPECT_EQ(list->GetItemData(1), 0xDEADBEEFCAFEull);
    EXPECT_EQ(list->GetItemData(0), 0u);
    EXPECT_FALSE(list->SetItemData(5, 1));
    EXPECT_EQ(list->GetItemData(-1), 0u);
    // A row added around the control has no record.
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{"foreign"}));
    EXPECT_FALSE(list->SetItemData(3, 7));
    EXPECT_EQ(list->GetItemData(3), 0u);
    EXPECT_TRUE(list->DeleteItem(1, TRUE));
    EXPECT_EQ(Column(0), (std::vector<std::string>{"x", "z", "foreign"}));
    EXPECT_TRUE(list->topLevelItem(1)->isSelected()); // the following row
    EXPECT_FALSE(list->DeleteItem(9));
    EXPECT_EQ(list->InsertItem(-1, "bad"), -1);
    EXPECT_EQ(list->InsertItem(99, "end"), 3);
}

TEST_F(ReportCtrlTest, InPlaceEditorWritesBackAndTellsTheParent)
{
    list->SetColumnLayout("A;B;C");
    Fill({"a0", "a1"});
    list->SetItemText(0, 1, "b0");
    EXPECT_FALSE(list->StartEdit(0, 1)); // editing is off
    list->SetEditable(TRUE);
    EXPECT_FALSE(list->StartEdit(5, 1));
    EXPECT_FALSE(list->StartEdit(0, 3));
    ASSERT_TRUE(list->StartEdit(0, 1));
    EXPECT_TRUE(list->StartEdit(0, 1)); // the same cell again
    QLineEdit* ed = list->GetEditControl();
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(ed->text(), QStringLiteral("b0"));
    EXPECT_EQ(list->GetItemStates(0) & RC_ITEM_SELECTED, RC_ITEM_SELECTED);

    // Enter keeps the text.
    ed->setText(QStringLiteral("new"));
    QTest::keyClick(ed, Qt::Key_Return);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(0, 1), "new");
    ASSERT_EQ(parent.Count(WM_ITEM_EDITED), 1);
    EXPECT_EQ(LOWORD(parent.msgs.back().wParam), 0);
    EXPECT_EQ(HIWORD(parent.msgs.back().wParam), 1);

    // Esc drops it.
    ASSERT_TRUE(list->StartEdit(0, 1));
    list->GetEditControl()->setText(QStringLiteral("dropped"));
    QTest::keyClick(list->GetEditControl(), Qt::Key_Escape);
    EXPECT_EQ(list->GetItemText(0, 1), "new");

    // Tab keeps the text and moves on, wrapping to column 0; Down goes a row down.
    ASSERT_TRUE(list->StartEdit(0, 2));
    list->GetEditControl()->setText(QStringLiteral("c0"));
    QTest::keyClick(list->GetEditControl(), Qt::Key_Tab);
    int row = -1, col = -1;
    list->GetEditCell(&row, &col);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
    EXPECT_EQ(list->GetItemText(0, 2), "c0");
    QTest::keyClick(list->GetEditControl(), Qt::Key_Down);
    list->GetEditCell(&row, &col);
    EXPECT_EQ(row, 1);
    QTest::keyClick(list->GetEditControl(), Qt::Key_Down); // the last row: stays
    list->GetEditCell(&row, &col);
    EXPECT_EQ(row, 1);
    // An unchanged text is not a change.
    const int before = parent.Count(WM_ITEM_EDITED);
    EXPECT_FALSE(list->EndEdit(TRUE));
    EXPECT_EQ(parent.Count(WM_ITEM_EDITED), before);

    // Turning editing off closes the editor without keeping its text.
    ASSERT_TRUE(list->StartEdit(1, 0));
    list->GetEditControl()->setText(QStringLiteral("gone"));
    list->SetEditable(FALSE);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemText(1, 0), "a1");
}

TEST_F(ReportCtrlTest, OnlyASecondClickOnColumnSixOpensTheEditor)
{
    list->SetColumnLayout("0,40;1,40;2,40;3,40;4,40;5,40;6,60");
    Fill({"r0", "r1"});
    list->SetEditable(TRUE);
    auto cellCenter = [&](int row, int col) {
        return list->visualRect(list->model()->index(row, col)).center();
    };
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cellCenter(1, 6));
    EXPECT_FALSE(list->IsEditing()); // first click selects
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cellCenter(1, 5));
    EXPECT_FALSE(list->IsEditing()); // column 5 never opens
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cellCenter(1, 6));
    EXPECT_TRUE(list->IsEditing());
    int row = -1, col = -1;
    list->GetEditCell(&row, &col);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(col, 6);
}

TEST_F(ReportCtrlTest, LayoutResetsRowsAndEditing)
{
    list->SetColumnLayout("A;B");
    Fill({"1"});
    list->SetEditable(TRUE);
    ASSERT_TRUE(list->StartEdit(0, 1));
    list->SetColumnLayout("X");
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(list->GetItemCount(), 0);
}

} // namespace
