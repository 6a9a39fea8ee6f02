// The report list control on a tree widget used as a flat, multi-column list.
#include "ui/report_ctrl.h"

#include "platform/text.h"
#include "platform/wnd.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr COLORREF kWindowText = 0x000000; // COLOR_WINDOWTEXT
constexpr COLORREF kWindow = 0xFFFFFF;     // COLOR_WINDOW
constexpr COLORREF kGridColor = 0xF0F0F0;

// atoi: leading blanks, a sign, digits up to the first other character.
int AToI(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        neg = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 0x7FFFFFFF)
            v = 0x7FFFFFFF;
    }
    return static_cast<int>(neg ? -v : v);
}

std::vector<std::string> SplitNonEmpty(const std::string& text, char sep)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == sep) {
            if (i > start)
                out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

Qt::Alignment AlignmentOf(int format)
{
    switch (format) {
    case LVCFMT_CENTER: return Qt::AlignHCenter | Qt::AlignVCenter;
    case LVCFMT_RIGHT: return Qt::AlignRight | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

} // namespace

// A row and its record.
class CReportCtrl::RowItem : public QTreeWidgetItem {
public:
    RowItem() : QTreeWidgetItem(UserType + 1) {}
    ReportRowData data;
    bool checked = false;
};

// Grid lines between cells, drawn over the default painting.
class CReportCtrl::GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(CReportCtrl* list) : QStyledItemDelegate(list), m_list(list) {}
    void Init(QStyleOptionViewItem* opt, const QModelIndex& index) const { initStyleOption(opt, index); }
    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(p, opt, index);
        if (!(m_list->GetExtendedStyle() & LVS_EX_GRIDLINES))
            return;
        p->save();
        p->setPen(qelm::ToQColor(kGridColor).darker(110));
        p->drawLine(opt.rect.bottomLeft(), opt.rect.bottomRight());
        p->drawLine(opt.rect.topRight(), opt.rect.bottomRight());
        p->restore();
    }

private:
    CReportCtrl* m_list;
};

// Keys for the in-place editor. Installed on the application while a cell is
// being edited, so that it sees them before the dialogs' own filters (which
// drop Enter and Esc).
class CReportCtrl::EditKeys : public QObject {
public:
    explicit EditKeys(CReportCtrl* list) : m_list(list) {}
    bool eventFilter(QObject* obj, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress || obj != m_list->m_pEditor)
            return false;
        return m_list->HandleEditKey(static_cast<QKeyEvent*>(e)->key());
    }

private:
    CReportCtrl* m_list;
};

CReportCtrl::CReportCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setColumnCount(0);
    setHeaderLabels({});
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setMinimumSectionSize(0); // a layout may ask for any width
    setItemDelegate(new GridDelegate(this));
    connect(header(), &QHeaderView::sectionClicked, this, [this](int col) { OnColumnClick(col); });
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

CReportCtrl::~CReportCtrl()
{
    if (m_pEditKeys && qApp)
        qApp->removeEventFilter(m_pEditKeys);
    delete m_pEditKeys;
    // The editor reports its focus to this object: it goes first.
    if (m_pEditor) {
        m_pEditor->removeEventFilter(this);
        delete m_pEditor;
    }
}

CReportCtrl::RowItem* CReportCtrl::Row(int nItem) const
{
    if (!ValidRow(nItem))
        return nullptr;
    QTreeWidgetItem* it = topLevelItem(nItem);
    return it && it->type() == QTreeWidgetItem::UserType + 1 ? static_cast<RowItem*>(it) : nullptr;
}

ReportRowData* CReportCtrl::RowData(int nItem) const
{
    RowItem* r = Row(nItem);
    return r ? &r->data : nullptr;
}

void CReportCtrl::SendToParent(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (CWnd* owner = qelm::OwningWnd(parentWidget()))
        if (owner->m_hWnd)
            owner->SendMessage(message, wParam, lParam);
}

// --- columns -------------------------------------------------------------------------

BOOL CReportCtrl::SetColumnLayout(const char* layout)
{
    EndEdit(FALSE);
    DeleteAllItems();
    setColumnCount(0);
    m_colFormats.clear();
    m_nSortCol = -1;
    int inserted = 0;
    for (const std::string& item : SplitNonEmpty(layout ? layout : "", ';')) {
        const std::vector<std::string> fields = SplitNonEmpty(item, ',');
        if (fields.empty())
            continue;
        const int width = fields.size() > 1 ? AToI(fields[1]) : 100;
        const int align = fields.size() > 2 ? AToI(fields[2]) : 0;
        const int format = align == 1 ? LVCFMT_CENTER : align == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        if (InsertColumn(GetColumnCount(), fields[0].c_str(), format, width) >= 0)
            ++inserted;
    }
    return inserted > 0 ? TRUE : FALSE;
}

int CReportCtrl::InsertColumn(int nCol, const char* heading, int nFormat, int nWidth, int /*nSubItem*/)
{
    EndEdit(FALSE);
    const int count = GetColumnCount();
    if (nCol < 0)
        return -1;
    nCol = std::min(nCol, count);
    QTreeWidgetItem* head = headerItem();
    // Shift the texts of the later columns one to the right, in every row.
    setColumnCount(count + 1);
    auto shift = [&](QTreeWidgetItem* it) {
        for (int c = count; c > nCol; --c) {
            it->setText(c, it->text(c - 1));
            it->setIcon(c, it->icon(c - 1));
        }
        it->setText(nCol, QString());
        it->setIcon(nCol, QIcon());
    };
    shift(head);
    for (int r = 0; r < GetItemCount(); ++r)
        shift(topLevelItem(r));
    m_colFormats.insert(m_colFormats.begin() + nCol, nFormat);
    head->setText(nCol, QString::fromUtf8(heading ? heading : ""));
    for (int c = nCol; c <= count; ++c) {
        head->setTextAlignment(c, AlignmentOf(m_colFormats[c]));
        for (int r = 0; r < GetItemCount(); ++r)
            ApplyAlignment(topLevelItem(r), c);
    }
    if (nWidth >= 0)
        setColumnWidth(nCol, nWidth);
    // Every record gets the default colour pair at the new index.
    for (int r = 0; r < GetItemCount(); ++r) {
        if (ReportRowData* d = RowData(r)) {
            d->aTextColors.insert(d->aTextColors.begin() + nCol, kWindowText);
            d->aBkColors.insert(d->aBkColors.begin() + nCol, kWindow);
            ApplyColors(r);
        }
    }
    if (m_nSortCol >= nCol)
        ++m_nSortCol;
    return nCol;
}

BOOL CReportCtrl::SetColumnWidth(int nCol, int cx)
{
    if (!ValidColumn(nCol))
        return FALSE;
    setColumnWidth(nCol, std::max(0, cx));
    return TRUE;
}

std::string CReportCtrl::GetColumnHeading(int nCol) const
{
    return ValidColumn(nCol) ? headerItem()->text(nCol).toStdString() : std::string();
}

// --- rows ----------------------------------------------------------------------------

void CReportCtrl::ForgetSortOrder()
{
    m_nSortCol = -1;
    m_bSortAscending = TRUE;
}

void CReportCtrl::ApplyAlignment(QTreeWidgetItem* item, int nCol)
{
    if (nCol >= 0 && nCol < static_cast<int>(m_colFormats.size()))
        item->setTextAlignment(nCol, AlignmentOf(m_colFormats[nCol]));
}

void CReportCtrl::ApplyCheckbox(QTreeWidgetItem* item)
{
    auto* row = item->type() == QTreeWidgetItem::UserType + 1 ? static_cast<RowItem*>(item) : nullptr;
    const bool shown = (m_dwExStyle & LVS_EX_CHECKBOXES) != 0;
    Qt::ItemFlags flags = item->flags() & ~Qt::ItemIsUserCheckable;
    if (shown && m_nChkMode == RC_CHKBOX_NORMAL)
        flags |= Qt::ItemIsUserCheckable;
    item->setFlags(flags);
    if (shown)
        item->setCheckState(0, row && row->checked ? Qt::Checked : Qt::Unchecked);
    else
        item->setData(0, Qt::CheckStateRole, QVariant());
}

void CReportCtrl::ApplyColors(int nItem)
{
    RowItem* r = Row(nItem);
    if (!r)
        return;
    for (int c = 0; c < GetColumnCount() && c < static_cast<int>(r->data.aTextColors.size()); ++c) {
        const COLORREF fg = r->data.aTextColors[c];
        const COLORREF bg = r->data.aBkColors[c];
        r->setData(c, Qt::ForegroundRole, fg == kWindowText ? QVariant() : QVariant(QBrush(qelm::ToQColor(fg))));
        r->setData(c, Qt::BackgroundRole, bg == kWindow ? QVariant() : QVariant(QBrush(qelm::ToQColor(bg))));
    }
}

int CReportCtrl::InsertRow(int nItem, const QString& text, int nImage)
{
    EndEdit(FALSE);
    ForgetSortOrder();
    if (nItem < 0)
        return -1;
    nItem = std::min(nItem, GetItemCount());
    auto* row = new RowItem;
    row->data.aTextColors.assign(GetColumnCount(), kWindowText);
    row->data.aBkColors.assign(GetColumnCount(), kWindow);
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    row->setText(0, text);
    if (nImage >= 0 && nImage < static_cast<int>(m_images.size()))
        row->setIcon(0, m_images[nImage]);
    for (int c = 0; c < GetColumnCount(); ++c)
        ApplyAlignment(row, c);
    ApplyCheckbox(row);
    insertTopLevelItem(nItem, row);
    return nItem;
}

int CReportCtrl::InsertItem(int nItem, const char* text)
{
    return InsertRow(nItem, QString::fromUtf8(text ? text : ""), -1);
}

int CReportCtrl::InsertItem(int nItem, const wchar_t* text)
{
    return InsertRow(nItem, text ? QString::fromWCharArray(text) : QString(), -1);
}

int CReportCtrl::InsertItemWithImage(int nItem, const char* text, int nImage)
{
    return InsertRow(nItem, QString::fromUtf8(text ? text : ""), nImage);
}

BOOL CReportCtrl::SetItemText(int nItem, int nSubItem, const char* text)
{
    EndEdit(FALSE);
    ForgetSortOrder();
    if (!ValidRow(nItem) || !ValidColumn(nSubItem))
        return FALSE;
    topLevelItem(nItem)->setText(nSubItem, QString::fromUtf8(text ? text : ""));
    return TRUE;
}

BOOL CReportCtrl::SetItemText(int nItem, int nSubItem, const wchar_t* text)
{
    std::string narrow;
    if (text && !WideToAnsi(text, narrow))
        return FALSE;
    return SetItemText(nItem, nSubItem, narrow.c_str());
}

std::string CReportCtrl::GetItemText(int nItem, int nSubItem) const
{
    if (!ValidRow(nItem) || !ValidColumn(nSubItem))
        return {};
    return topLevelItem(nItem)->text(nSubItem).toStdString();
}

std::wstring CReportCtrl::GetItemTextW(int nItem, int nSubItem) const
{
    if (!ValidRow(nItem) || !ValidColumn(nSubItem))
        return {};
    return topLevelItem(nItem)->text(nSubItem).toStdWString();
}

BOOL CReportCtrl::DeleteItem(int nItem, BOOL bSelectNextItem)
{
    EndEdit(FALSE);
    if (!ValidRow(nItem))
        return FALSE;
    if (bSelectNextItem && ValidRow(nItem + 1))
        SetItemStates(nItem + 1, RC_ITEM_SELECTED);
    delete takeTopLevelItem(nItem); // the record goes with its row
    return TRUE;
}

BOOL CReportCtrl::DeleteAllItems()
{
    EndEdit(FALSE);
    setUpdatesEnabled(false);
    clear();
    setUpdatesEnabled(true);
    return TRUE;
}

BOOL CReportCtrl::SetItemData(int nItem, DWORD_PTR dwData)
{
    ReportRowData* d = RowData(nItem);
    if (!d)
        return FALSE;
    d->dwData = dwData;
    return TRUE;
}

DWORD_PTR CReportCtrl::GetItemData(int nItem) const
{
    const ReportRowData* d = RowData(nItem);
    return d ? d->dwData : 0;
}

// --- colours -------------------------------------------------------------------------

void CReportCtrl::SetAllColors(std::vector<COLORREF> ReportRowData::*member, int nItem, int nSubItem, COLORREF color,
                               BOOL bRedraw)
{
    const int rowFirst = ValidRow(nItem) ? nItem : 0;
    const int rowLast = ValidRow(nItem) ? nItem : GetItemCount() - 1;
    const int colFirst = ValidColumn(nSubItem) ? nSubItem : 0;
    const int colLast = ValidColumn(nSubItem) ? nSubItem : GetColumnCount() - 1;
    for (int r = rowFirst; r <= rowLast; ++r) {
        ReportRowData* d = RowData(r);
        if (!d)
            continue;
        std::vector<COLORREF>& colors = d->*member;
        for (int c = colFirst; c <= colLast && c < static_cast<int>(colors.size()); ++c)
            colors[c] = color;
        ApplyColors(r);
    }
    if (bRedraw)
        viewport()->repaint();
}

void CReportCtrl::SetItemTextColor(int nItem, int nSubItem, COLORREF color, BOOL bRedraw)
{
    SetAllColors(&ReportRowData::aTextColors, nItem, nSubItem, color == static_cast<COLORREF>(-1) ? kWindowText : color,
                 bRedraw);
}

void CReportCtrl::SetItemBkColor(int nItem, int nSubItem, COLORREF color, BOOL bRedraw)
{
    SetAllColors(&ReportRowData::aBkColors, nItem, nSubItem, color == static_cast<COLORREF>(-1) ? kWindow : color, bRedraw);
}

COLORREF CReportCtrl::GetItemTextColor(int nItem, int nSubItem) const
{
    const ReportRowData* d = RowData(nItem);
    return d && ValidColumn(nSubItem) && nSubItem < static_cast<int>(d->aTextColors.size()) ? d->aTextColors[nSubItem]
                                                                                           : kWindowText;
}

COLORREF CReportCtrl::GetItemBkColor(int nItem, int nSubItem) const
{
    const ReportRowData* d = RowData(nItem);
    return d && ValidColumn(nSubItem) && nSubItem < static_cast<int>(d->aBkColors.size()) ? d->aBkColors[nSubItem]
                                                                                         : kWindow;
}

// --- check boxes and states --------------------------------------------------------------

void CReportCtrl::SetCheckboxMode(int nMode)
{
    m_nChkMode = nMode;
    EndEdit(FALSE);
    if (nMode == RC_CHKBOX_NONE)
        m_dwExStyle &= ~LVS_EX_CHECKBOXES;
    else
        m_dwExStyle |= LVS_EX_CHECKBOXES;
    for (int r = 0; r < GetItemCount(); ++r)
        ApplyCheckbox(topLevelItem(r));
}

BOOL CReportCtrl::SetCheck(int nItem, BOOL bCheck)
{
    RowItem* r = Row(nItem);
    if (!r)
        return FALSE;
    r->checked = bCheck != FALSE;
    ApplyCheckbox(r);
    return TRUE;
}

BOOL CReportCtrl::GetCheck(int nItem) const
{
    RowItem* r = Row(nItem);
    return r && r->checked ? TRUE : FALSE;
}

DWORD CReportCtrl::GetItemStates(int nItem) const
{
    if (!ValidRow(nItem))
        return 0;
    QTreeWidgetItem* it = topLevelItem(nItem);
    const bool selected = it->isSelected();
    const bool focused = currentItem() == it;
    return (selected ? RC_ITEM_SELECTED : RC_ITEM_UNSELECTED) | (GetCheck(nItem) ? RC_ITEM_CHECKED : RC_ITEM_UNCHECKED) |
           (focused ? RC_ITEM_FOCUSED : RC_ITEM_UNFOCUSED);
}

int CReportCtrl::GetItemCountByState(DWORD dwStates) const
{
    if (dwStates == 0)
        return 0;
    if (dwStates & RC_ITEM_ALL)
        return GetItemCount();
    int n = 0;
    for (int r = 0; r < GetItemCount(); ++r)
        if ((GetItemStates(r) & dwStates) == dwStates)
            ++n;
    return n;
}

BOOL CReportCtrl::SetItemStates(int nItem, DWORD dwStates)
{
    if (!ValidRow(nItem))
        return FALSE;
    QTreeWidgetItem* it = topLevelItem(nItem);
    if (dwStates & RC_ITEM_SELECTED)
        it->setSelected(true);
    if (dwStates & RC_ITEM_UNSELECTED)
        it->setSelected(false);
    if (dwStates & RC_ITEM_CHECKED)
        SetCheck(nItem, TRUE);
    if (dwStates & RC_ITEM_UNCHECKED)
        SetCheck(nItem, FALSE);
    if (dwStates & RC_ITEM_FOCUSED)
        setCurrentItem(it, 0, QItemSelectionModel::NoUpdate);
    if ((dwStates & RC_ITEM_UNFOCUSED) && currentItem() == it)
        setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    return TRUE;
}

UINT CReportCtrl::GetItemState(int nItem, UINT nMask) const
{
    const DWORD s = GetItemStates(nItem);
    UINT out = 0;
    if (s & RC_ITEM_SELECTED)
        out |= LVIS_SELECTED;
    if (s & RC_ITEM_FOCUSED)
        out |= LVIS_FOCUSED;
    return out & nMask;
}

BOOL CReportCtrl::SetItemState(int nItem, UINT nState, UINT nMask)
{
    DWORD states = 0;
    if (nMask & LVIS_SELECTED)
        states |= (nState & LVIS_SELECTED) ? RC_ITEM_SELECTED : RC_ITEM_UNSELECTED;
    if (nMask & LVIS_FOCUSED)
        states |= (nState & LVIS_FOCUSED) ? RC_ITEM_FOCUSED : RC_ITEM_UNFOCUSED;
    return SetItemStates(nItem, states);
}

int CReportCtrl::GetSelectedCount() const
{
    return GetItemCountByState(RC_ITEM_SELECTED);
}

int CReportCtrl::GetNextSelectedItem(int nStart) const
{
    for (int r = std::max(0, nStart); r < GetItemCount(); ++r)
        if (topLevelItem(r)->isSelected())
            return r;
    return -1;
}

void CReportCtrl::EnsureVisible(int nItem)
{
    if (ValidRow(nItem))
        scrollToItem(topLevelItem(nItem), QAbstractItemView::EnsureVisible);
}

// --- styles ----------------------------------------------------------------------------

void CReportCtrl::SetGridLines(BOOL bSet)
{
    SetExtendedStyle(bSet ? (m_dwExStyle | LVS_EX_GRIDLINES) : (m_dwExStyle & ~LVS_EX_GRIDLINES));
}

void CReportCtrl::SetExtendedStyle(DWORD dwStyle)
{
    const bool checkboxesBefore = (m_dwExStyle & LVS_EX_CHECKBOXES) != 0;
    m_dwExStyle = dwStyle | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES;
    if (checkboxesBefore != ((m_dwExStyle & LVS_EX_CHECKBOXES) != 0))
        for (int r = 0; r < GetItemCount(); ++r)
            ApplyCheckbox(topLevelItem(r));
    viewport()->update();
}

// --- sorting ---------------------------------------------------------------------------

int CReportCtrl::CompareCells(int nItem1, int nItem2) const
{
    return qelm::report::CompareCellTexts(GetItemText(nItem1, m_nSortCol), GetItemText(nItem2, m_nSortCol));
}

void CReportCtrl::QuickSort(std::vector<int>& order, int low, int high, bool ascending,
                            const std::vector<qelm::report::CellKey>& keys) const
{
    // Hoare partition around the middle entry; the larger part is handled by
    // the loop so that the stack stays shallow.
    while (low < high) {
        int i = low, j = high;
        const qelm::report::CellKey& pivot = keys[order[(low + high) / 2]];
        while (i <= j) {
            if (ascending) {
                while (i < high && qelm::report::CompareCellKeys(keys[order[i]], pivot) < 0)
                    ++i;
                while (j > low && qelm::report::CompareCellKeys(keys[order[j]], pivot) > 0)
                    --j;
            } else {
                while (i < high && qelm::report::CompareCellKeys(keys[order[i]], pivot) > 0)
                    ++i;
                while (j > low && qelm::report::CompareCellKeys(keys[order[j]], pivot) < 0)
                    --j;
            }
            if (i <= j) {
                std::swap(order[i], order[j]);
                ++i;
                --j;
            }
        }
        if (j - low < high - i) {
            if (low < j)
                QuickSort(order, low, j, ascending, keys);
            low = i;
        } else {
            if (i < high)
                QuickSort(order, i, high, ascending, keys);
            high = j;
        }
    }
}

void CReportCtrl::SortItems(int nCol, BOOL bAscending)
{
    EndEdit(FALSE);
    if (!ValidColumn(nCol) || !header() || !header()->sectionsClickable())
        return;
    m_nSortCol = nCol;
    m_bSortAscending = bAscending;
    const int n = GetItemCount();
    std::vector<qelm::report::CellKey> keys;
    keys.reserve(n);
    for (int r = 0; r < n; ++r)
        keys.push_back(qelm::report::MakeCellKey(GetItemText(r, nCol)));
    std::vector<int> order(n);
    for (int r = 0; r < n; ++r)
        order[r] = r;
    if (n > 1)
        QuickSort(order, 0, n - 1, bAscending != FALSE, keys);

    // Rows move whole: texts, images, records (colours and values), checks,
    // selection and focus travel with them.
    std::vector<bool> selected(n);
    QTreeWidgetItem* current = currentItem();
    for (int r = 0; r < n; ++r)
        selected[r] = topLevelItem(r)->isSelected();
    setUpdatesEnabled(false);
    QList<QTreeWidgetItem*> taken;
    for (int r = n - 1; r >= 0; --r)
        taken.prepend(takeTopLevelItem(r));
    QList<QTreeWidgetItem*> sorted;
    for (int r = 0; r < n; ++r)
        sorted.append(taken[order[r]]);
    addTopLevelItems(sorted);
    for (int r = 0; r < n; ++r)
        sorted[r]->setSelected(selected[order[r]]);
    if (current)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    setUpdatesEnabled(true);
    SendToParent(WM_ITEM_SORTED, static_cast<WPARAM>(nCol), bAscending ? TRUE : FALSE);
}

void CReportCtrl::OnColumnClick(int nCol)
{
    if (!m_bAllowSort)
        return;
    EndEdit(TRUE);
    const bool descending = nCol == m_nSortCol && m_bSortAscending;
    SortItems(nCol, descending ? FALSE : TRUE);
}

// --- mouse and keys ----------------------------------------------------------------------

void CReportCtrl::HandleMouse(QMouseEvent* e, bool press)
{
    const QModelIndex index = indexAt(e->position().toPoint());
    const int row = index.isValid() ? indexOfTopLevelItem(itemFromIndex(index)) : -1;
    const int col = index.isValid() ? index.column() : -1;
    const bool wasEditing = IsEditing();
    const bool left = e->button() == Qt::LeftButton;
    const bool selectedAndFocused = left && ValidRow(row) && topLevelItem(row)->isSelected() &&
                                    currentItem() == topLevelItem(row);
    m_nPressItem = row;
    m_bPressChecked = ValidRow(row) && GetCheck(row);
    m_bPressHandled = false;
    EndEdit(TRUE);
    if (press)
        QTreeWidget::mousePressEvent(e);
    else
        QTreeWidget::mouseDoubleClickEvent(e);
    // The in-place editor opens on a second click on column 6 of a row that
    // was already selected and focused.
    if (left && m_bEditable && !wasEditing && selectedAndFocused && col == 6)
        StartEdit(row, col);
}

void CReportCtrl::mousePressEvent(QMouseEvent* e)
{
    HandleMouse(e, true);
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* e)
{
    HandleMouse(e, false);
}

void CReportCtrl::mouseReleaseEvent(QMouseEvent* e)
{
    // Check boxes change on the release of the button that pressed them.
    QTreeWidget::mouseReleaseEvent(e);
    const int row = m_nPressItem;
    m_nPressItem = -1;
    RowItem* r = Row(row);
    if (!r || !(m_dwExStyle & LVS_EX_CHECKBOXES))
        return;
    const bool now = r->checkState(0) == Qt::Checked;
    if (now == m_bPressChecked)
        return;
    if (m_nChkMode == RC_CHKBOX_NORMAL) {
        r->checked = now;
        clearSelection();
        SetItemStates(row, RC_ITEM_SELECTED | RC_ITEM_FOCUSED);
        SendToParent(WM_ON_CHKBOX, static_cast<WPARAM>(row), WM_LBUTTONDOWN);
    } else {
        // Read-only boxes: the user's click is undone.
        ApplyCheckbox(r);
    }
}

void CReportCtrl::keyPressEvent(QKeyEvent* e)
{
    // The space bar would toggle a check box.
    if (e->key() == Qt::Key_Space && !IsEditing())
        return;
    QTreeWidget::keyPressEvent(e);
}

bool CReportCtrl::eventFilter(QObject* obj, QEvent* e)
{
    // Leaving the editor keeps what was typed.
    if (obj == m_pEditor && e->type() == QEvent::FocusOut && IsEditing()) {
        auto* fe = static_cast<QFocusEvent*>(e);
        if (fe->reason() != Qt::PopupFocusReason && fe->reason() != Qt::ActiveWindowFocusReason)
            EndEdit(TRUE);
    }
    return QTreeWidget::eventFilter(obj, e);
}

bool CReportCtrl::HandleEditKey(int key)
{
    if (!IsEditing())
        return false;
    const int row = m_nEditItem, col = m_nEditSubItem;
    switch (key) {
    case Qt::Key_Tab:
        EndEdit(TRUE);
        StartEdit(row, col + 1 < GetColumnCount() ? col + 1 : 0);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        EndEdit(TRUE);
        return true;
    case Qt::Key_Escape:
        EndEdit(FALSE);
        return true;
    case Qt::Key_Up:
        if (row > 0) {
            EndEdit(TRUE);
            StartEdit(row - 1, col);
            EnsureVisible(row - 1);
        }
        return true;
    case Qt::Key_Down:
        if (row + 1 < GetItemCount()) {
            EndEdit(TRUE);
            StartEdit(row + 1, col);
            EnsureVisible(row + 1);
        }
        return true;
    default:
        return false;
    }
}

// --- in-place editing ---------------------------------------------------------------------

void CReportCtrl::SetEditable(BOOL bSet)
{
    if (!bSet)
        EndEdit(FALSE);
    m_bEditable = bSet;
}

void CReportCtrl::GetEditCell(int* nItem, int* nSubItem) const
{
    if (nItem)
        *nItem = m_nEditItem;
    if (nSubItem)
        *nSubItem = m_nEditSubItem;
}

BOOL CReportCtrl::StartEdit(int nItem, int nSubItem)
{
    if (!m_bEditable || !ValidRow(nItem) || !ValidColumn(nSubItem))
        return FALSE;
    if (nItem == m_nEditItem && nSubItem == m_nEditSubItem)
        return TRUE;
    EndEdit(TRUE);
    m_nEditItem = nItem;
    m_nEditSubItem = nSubItem;
    clearSelection();
    SetItemStates(nItem, RC_ITEM_SELECTED | RC_ITEM_FOCUSED);

    const int format = nSubItem < static_cast<int>(m_colFormats.size()) ? m_colFormats[nSubItem] : LVCFMT_LEFT;
    if (!m_pEditor || m_nEditorAlign != format) {
        delete m_pEditor;
        m_pEditor = new QLineEdit(viewport());
        m_pEditor->installEventFilter(this);
        m_nEditorAlign = format;
        m_pEditor->setAlignment(AlignmentOf(format));
    }
    m_pEditor->setFont(font());
    // The label part of the cell: not over the check box or the picture.
    const QModelIndex index = indexFromItem(topLevelItem(nItem), nSubItem);
    QRect cell = visualRect(index);
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = cell;
    static_cast<GridDelegate*>(itemDelegate())->Init(&opt, index);
    if (opt.features & (QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration))
        cell.setLeft(style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, this).left());
    if (nSubItem > 0 && !m_images.empty() && !topLevelItem(nItem)->icon(nSubItem).isNull() &&
        !(opt.features & QStyleOptionViewItem::HasDecoration))
        cell.setLeft(cell.left() + 16);
    m_pEditor->setGeometry(cell);
    m_pEditor->setText(topLevelItem(nItem)->text(nSubItem));
    m_pEditor->show();
    m_pEditor->selectAll();
    m_pEditor->setFocus(Qt::OtherFocusReason);
    if (!m_pEditKeys) {
        m_pEditKeys = new EditKeys(this);
        qApp->installEventFilter(m_pEditKeys);
    }
    return TRUE;
}

BOOL CReportCtrl::EndEdit(BOOL bCommit)
{
    if (!IsEditing())
        return FALSE;
    const int row = m_nEditItem, col = m_nEditSubItem;
    m_nEditItem = m_nEditSubItem = -1; // first, so that the focus change below does not come back here
    if (m_pEditKeys) {
        qApp->removeEventFilter(m_pEditKeys);
        delete m_pEditKeys;
        m_pEditKeys = nullptr;
    }
    const QString text = m_pEditor->text();
    const bool hadFocus = m_pEditor->hasFocus();
    m_pEditor->hide();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
    if (!bCommit || !ValidRow(row) || !ValidColumn(col) || text == topLevelItem(row)->text(col))
        return FALSE;
    topLevelItem(row)->setText(col, text);
    ForgetSortOrder();
    SendToParent(WM_ITEM_EDITED, MAKEWPARAM(static_cast<WORD>(row), static_cast<WORD>(col)), 0);
    return TRUE;
}
