// The report list: columns laid out from one text, per-cell text and
// background colours, check boxes in three behaviours, value-aware sorting
// by a column click, a caller's value per row, and an in-place editor.
#pragma once

#include "platform/types.h"
#include "ui/report_compare.h"

#include <QIcon>
#include <QTreeWidget>

#include <string>
#include <vector>

class QLineEdit;

// Per-row record: the caller's value and one colour pair per column.
struct ReportRowData {
    DWORD_PTR dwData = 0;
    std::vector<COLORREF> aTextColors;
    std::vector<COLORREF> aBkColors;
};

// Check-box behaviours.
enum ReportCheckMode {
    RC_CHKBOX_NONE = 0,     // no check boxes
    RC_CHKBOX_NORMAL = 1,   // the user toggles them
    RC_CHKBOX_DISABLED = 3, // shown, set only by the program
};

// Row state bits; a row's state is (selected ? 2 : 4) | (checked ? 8 : 16) | (focused ? 32 : 64).
enum ReportItemState : DWORD {
    RC_ITEM_ALL = 0x01,
    RC_ITEM_SELECTED = 0x02,
    RC_ITEM_UNSELECTED = 0x04,
    RC_ITEM_CHECKED = 0x08,
    RC_ITEM_UNCHECKED = 0x10,
    RC_ITEM_FOCUSED = 0x20,
    RC_ITEM_UNFOCUSED = 0x40,
};

// Column formats.
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr int LVCFMT_CENTER = 2;

// Extended styles.
constexpr DWORD LVS_EX_GRIDLINES = 0x01;
constexpr DWORD LVS_EX_SUBITEMIMAGES = 0x02;
constexpr DWORD LVS_EX_CHECKBOXES = 0x04;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;

// Item states of GetItemState / SetItemState.
constexpr UINT LVIS_FOCUSED = 0x01;
constexpr UINT LVIS_SELECTED = 0x02;

// Sent to the window that holds the list (the parent may ignore them):
// the user changed row wParam's check box in mode 1 (lParam: the mouse
// message, WM_LBUTTONDOWN) ...
constexpr UINT WM_ON_CHKBOX = WM_APP + 10000;
// ... a sort by column wParam finished (lParam TRUE when ascending) ...
constexpr UINT WM_ITEM_SORTED = WM_APP + 10001;
// ... the user changed the text of cell (row LOWORD(wParam), column
// HIWORD(wParam)) in the in-place editor; the cell holds the new text.
constexpr UINT WM_ITEM_EDITED = WM_APP + 10002;

class CReportCtrl : public QTreeWidget {
public:
    explicit CReportCtrl(QWidget* parent = nullptr);
    ~CReportCtrl() override;

    // Column-click sorting; the dialogs that want it set it after creating the list.
    BOOL m_bAllowSort = FALSE;

    // --- columns --------------------------------------------------------------------
    // "heading[,width[,alignment]];..." (empty pieces dropped at both levels;
    // width 100 when absent; alignment 1 centre, 2 right, else left).
    // Deletes every row and column first. TRUE when a column was inserted.
    BOOL SetColumnLayout(const char* layout);
    int InsertColumn(int nCol, const char* heading, int nFormat = LVCFMT_LEFT, int nWidth = -1, int nSubItem = -1);
    int GetColumnCount() const { return columnCount(); }
    int GetColumnWidth(int nCol) const { return columnWidth(nCol); }
    BOOL SetColumnWidth(int nCol, int cx);
    std::string GetColumnHeading(int nCol) const;

    // --- rows -----------------------------------------------------------------------
    int InsertItem(int nItem, const char* text);
    int InsertItem(int nItem, const wchar_t* text);
    // The image is an index into the list set with SetImageList.
    int InsertItemWithImage(int nItem, const char* text, int nImage);
    BOOL SetItemText(int nItem, int nSubItem, const char* text);
    BOOL SetItemText(int nItem, int nSubItem, const wchar_t* text);
    std::string GetItemText(int nItem, int nSubItem) const;
    std::wstring GetItemTextW(int nItem, int nSubItem) const;
    BOOL DeleteItem(int nItem, BOOL bSelectNextItem = FALSE);
    BOOL DeleteAllItems();
    int GetItemCount() const { return topLevelItemCount(); }
    BOOL SetItemData(int nItem, DWORD_PTR dwData);
    DWORD_PTR GetItemData(int nItem) const;
    void SetImageList(const std::vector<QIcon>& images) { m_images = images; }

    // --- colours ----------------------------------------------------------------------
    // An invalid row and/or column means all rows and/or columns; color
    // (COLORREF)-1 is the default (window text, window background).
    void SetItemTextColor(int nItem = -1, int nSubItem = -1, COLORREF color = static_cast<COLORREF>(-1), BOOL bRedraw = TRUE);
    void SetItemBkColor(int nItem = -1, int nSubItem = -1, COLORREF color = static_cast<COLORREF>(-1), BOOL bRedraw = TRUE);
    COLORREF GetItemTextColor(int nItem, int nSubItem) const;
    COLORREF GetItemBkColor(int nItem, int nSubItem) const;

    // --- check boxes, states ------------------------------------------------------------
    void SetCheckboxMode(int nMode);
    int GetCheckboxMode() const { return m_nChkMode; }
    BOOL SetCheck(int nItem, BOOL bCheck = TRUE);
    BOOL GetCheck(int nItem) const;
    // Rows matching a mask of ReportItemState bits (RC_ITEM_ALL: every row).
    int GetItemCountByState(DWORD dwStates) const;
    // Applies ReportItemState bits to a row (select, check, focus, and their opposites).
    BOOL SetItemStates(int nItem, DWORD dwStates);
    DWORD GetItemStates(int nItem) const;
    UINT GetItemState(int nItem, UINT nMask) const;   // LVIS_ bits
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);
    int GetSelectedCount() const;
    // The first selected row from nStart on, or -1.
    int GetNextSelectedItem(int nStart = 0) const;
    void EnsureVisible(int nItem);

    // --- styles -------------------------------------------------------------------------
    void SetGridLines(BOOL bSet = TRUE);
    // The extended style always keeps full-row selection and sub-item images.
    void SetExtendedStyle(DWORD dwStyle);
    DWORD GetExtendedStyle() const { return m_dwExStyle; }

    // --- sorting ------------------------------------------------------------------------
    void SortItems(int nCol, BOOL bAscending);
    int GetSortedColumn() const { return m_nSortCol; }
    BOOL IsSortAscending() const { return m_bSortAscending; }
    // The comparison of two rows on the sort column (-1, 0, 1).
    int CompareCells(int nItem1, int nItem2) const;

    // --- in-place editing --------------------------------------------------------------
    void SetEditable(BOOL bSet = TRUE);
    BOOL IsEditable() const { return m_bEditable; }
    BOOL StartEdit(int nItem, int nSubItem);
    // Closes the editor. With bCommit the typed text, when it differs from
    // the cell's, goes into the cell and the parent gets WM_ITEM_EDITED;
    // TRUE then. Without it the typed text is dropped.
    BOOL EndEdit(BOOL bCommit = TRUE);
    BOOL IsEditing() const { return m_nEditItem >= 0; }
    void GetEditCell(int* nItem, int* nSubItem) const;
    QLineEdit* GetEditControl() const { return m_pEditor; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;
    void OnColumnClick(int nCol);

private:
    class RowItem;
    class GridDelegate;
    class EditKeys;

    RowItem* Row(int nItem) const;
    ReportRowData* RowData(int nItem) const;
    bool ValidRow(int nItem) const { return nItem >= 0 && nItem < GetItemCount(); }
    bool ValidColumn(int nCol) const { return nCol >= 0 && nCol < GetColumnCount(); }
    void ApplyColors(int nItem);
    void ApplyCheckbox(QTreeWidgetItem* item);
    void ApplyAlignment(QTreeWidgetItem* item, int nCol);
    void ForgetSortOrder();
    int InsertRow(int nItem, const QString& text, int nImage);
    void HandleMouse(QMouseEvent* e, bool press);
    bool HandleEditKey(int key);
    void SendToParent(UINT message, WPARAM wParam, LPARAM lParam);
    void QuickSort(std::vector<int>& order, int low, int high, bool ascending, const std::vector<qelm::report::CellKey>& keys) const;
    void SetAllColors(std::vector<COLORREF> ReportRowData::*member, int nItem, int nSubItem, COLORREF color, BOOL bRedraw);

    std::vector<int> m_colFormats;
    std::vector<QIcon> m_images;
    QLineEdit* m_pEditor = nullptr;
    EditKeys* m_pEditKeys = nullptr;
    BOOL m_bEditable = FALSE;
    int m_nEditItem = -1;
    int m_nEditSubItem = -1;
    int m_nChkMode = RC_CHKBOX_NORMAL;
    int m_nEditorAlign = 0;
    int m_nSortCol = -1;
    BOOL m_bSortAscending = TRUE;
    DWORD m_dwExStyle = LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES;
    // What a press noted about its row, compared at the release.
    int m_nPressItem = -1;
    bool m_bPressChecked = false;
    bool m_bPressHandled = false;
};
