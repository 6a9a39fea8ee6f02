// The add-patrol dialog: picks devices from the tree of online devices into
// the pane slots of one point, with its stay time and, for decoder tours,
// the decoder's layout and each pane's stream, and writes the point as a row
// of the patrol page's point list.
#pragma once

#include "platform/dialog.h"

#include <string>

class CReportCtrl;
class QTreeWidget;
class QTreeWidgetItem;

class CAddPatrolDlg : public CDialog {
public:
    enum {
        IDD = 237,
        IDC_TREE = 1318,
        IDC_RADIO_ONE = 1408,
        IDC_RADIO_FOUR = 1415,
        IDC_RADIO_NINE = 1416,
        IDC_RADIO_SIXTEEN = 1417,
        IDC_STATIC_STAY = 1297,
        IDC_EDIT_STAY = 1048,
        IDC_EDIT_SLOT1 = 1049, // slot k is IDC_EDIT_STAY + k
        IDC_BTN_ADD = 1144,
        IDC_BTN_CANCEL = 1001,
    };
    static const UINT kSlotLabels[16];
    static const UINT kStreamBoxes[9];
    enum Mode { kAdd = 0, kEdit = 1 };

    // kind: 0 a player-screen tour, else the decoder's DevType (2 or 5).
    // The rows are written into list; row is the row changed in edit mode.
    CAddPatrolDlg(int kind, int mode, int row, CReportCtrl* list, CWnd* pParent = nullptr);

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    void InitTexts();
    void ShowSlots(int n);
    void LoadSlotsFromRow(int n);
    int GetSlotCount() const;
    bool IsRelayItem(const QTreeWidgetItem* item) const;
    void SetSlotText(const std::string& text, int slot);
    void CollectSlots();
    bool AllSlotsEmpty() const;
    // The first slot of the layout whose text a later one repeats, or 0.
    int FindDuplicateSlot() const;
    void WriteDecoderRow(int row);
    void WriteSlotColumns(int row, int n);

    void OnClickDevTree(QTreeWidgetItem* item);
    void OnBnClickedAdd();
    void OnBnClickedLayout(UINT id);

    int FocusedSlot() const { return m_nFocusSlot; }
    QTreeWidget* Tree() const { return m_pTree; }

protected:
    void CreateControls() override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    std::string SlotText(int slot) const;
    std::string Cell(int column, std::size_t limit) const;
    void Message(const std::wstring& text);
    void Message(UINT stringId);
    // Relay items keep the key of their entry (Mac, Ip, DevName) and are
    // resolved through it when clicked: the entry may be gone by then.
    void KeepRelayKeys();
    std::string RelayName(const QTreeWidgetItem* item) const;
    std::string DeviceName(const QTreeWidgetItem* item) const;
    DECLARE_MESSAGE_MAP()

    int m_nNextSlot = 0;
    int m_nMode = kAdd;
    int m_nRow = 0;
    CReportCtrl* m_pList = nullptr;
    int m_nFocusSlot = 0;
    int m_nDevKind = 0;
    std::string m_strSlots[16];
    QTreeWidget* m_pTree = nullptr;
};
