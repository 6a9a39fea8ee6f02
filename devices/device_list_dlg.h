// The device list panel: a search edit, the device tree and three view
// buttons; it turns clicks, double clicks, drags and right-clicks into calls
// on the main window's forwarding operations, and carries the menu commands
// on the device list (sort, delete all, move, rename, group play).
#pragma once

#include "core/devinfo.h"
#include "devices/device_services.h"
#include "platform/dialog.h"
#include "ui/skin_draw.h"

#include <QMenu>
#include <QPoint>
#include <QPointer>

class CGdipButton;
class CResMsgDlg;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class CDeviceListDlg : public CDialog {
public:
    enum {
        IDD = 135,
        IDC_EDIT_SEARCH = 1048,
        IDC_BTN_FIND = 1218,
        IDC_TREE = 1031,
        IDC_BTN_ORIG_GROUP = 1032,
        IDC_BTN_ONLINE_GROUP = 1033,
        IDC_BTN_MAP_LIST = 1255,
    };
    // Menu commands.
    enum {
        ID_AUTO_PLAY_GROUP = 32784,
        ID_SORT_ASCENDING = 32887,
        ID_SORT_DESCENDING = 32888,
        ID_DELETE_ALL = 32889,
        ID_MOVE_UP = 32895,
        ID_MOVE_DOWN = 32896,
        ID_RENAME_ALIAS = 32898,
    };

    explicit CDeviceListDlg(CWnd* pParent = nullptr);
    ~CDeviceListDlg() override;

    int m_nListMode = 0;  // 0 main window and most pages, 4 TV wall, 5 map page
    int m_nViewMode = 1;  // 1 by group, 2 by online state, 3 map list
    int m_bPlanTree = 0;  // 1 while the tree shows the recording plans
    int m_bDragging = 0;
    QTreeWidgetItem* m_hCurGroupItem = nullptr;
    CResMsgDlg* m_pMsgDlg = nullptr;

    // --- operations other windows call ---
    void RefreshDevTree();
    void RefreshDevState();
    void RefreshVssState();
    void SetDevAlarmIcon(const char* name, int flag);
    void SetVssChannelIcon(const char* devName, const char* mac, int flag);
    void OnBnClickedBtnOrigGroup();
    void OnBnClickedBtnOnlineGroup();
    void OnBnClickedBtnMapList();
    void OnBnClickedBtnFind();
    void ShowSceneList();
    void InsertSceneItem(const char* name, const char* parentName);
    void SelectSceneItem(const char* name);
    void ShowRecordStrategyTree();
    void SelectVssChannel(const RelayDevItem* item);
    void SelectGroupItem(const char* name);
    void SelectDevItem(const DeviceInfo* dev);
    bool SelectGroup(const char* name);
    int FindVssLoginId(const RelayDevItem* item);

    // --- tree input (client coordinates of the tree's viewport) ---
    void OnNMClickTree(QPoint pt);
    void OnNMDblclkTree(QPoint pt);
    void OnNMRclickTree(QPoint pt);
    void OnTvnBegindragTree(QTreeWidgetItem* item);
    void OnDragMove(QPoint screenPt);
    void OnDrop(QPoint screenPt);

    // --- menu commands ---
    void OnSortAscending();
    void OnSortDescending();
    int SortGroupDevices(const char* groupName, int descending);
    void OnDeleteAllDevices();
    void OnMoveUp();
    void OnMoveDown();
    int MoveDevice(int down);
    void OnRenameAlias();
    void OnAutoPlayGroup();

    QTreeWidget* Tree() const { return m_pTree; }
    QLineEdit* SearchEdit() const { return m_pSearch; }
    CGdipButton* Button(UINT id) const;
    // The popup menu opened last (null when none is open).
    QMenu* CurrentMenu() const { return m_pMenu; }
    QTreeWidgetItem* DropHilite() const { return m_pDropHilite; }

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;

protected:
    void CreateControls() override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void EndDrag();
    void CancelDrag();
    void SelectViewButton(UINT id);
    void SetDropHilite(QTreeWidgetItem* item);
    void MakeFirstVisibleCaretHilite(QTreeWidgetItem* item);
    void ShowMsg(UINT id);
    void ShowPopup(const std::vector<std::pair<UINT, UINT>>& commands, QPoint screenPt);
    void RequestRelayChannel(const RelayDevItem* e, bool dropRule);
    bool IsGroupItem(const QTreeWidgetItem* item) const;
    static bool IsUnderVss(const QTreeWidgetItem* item);
    static bool IsVssChannelItem(const QTreeWidgetItem* item);
    static bool IsVssServerItem(const QTreeWidgetItem* item);
    bool IsDevGroup(const QString& name) const;
    void AutoPlayRelayGroup();
    void AutoPlayLocalGroup();
    void ShowCloudContextMenu(QTreeWidgetItem* item, QPoint screenPt);
    void ShowCfgContextMenu(QTreeWidgetItem* item, QPoint screenPt);

    QTreeWidget* m_pTree = nullptr;
    QLineEdit* m_pSearch = nullptr;
    CGdipButton* m_pBtnFind = nullptr;
    CGdipButton* m_pBtnOrig = nullptr;
    CGdipButton* m_pBtnOnline = nullptr;
    CGdipButton* m_pBtnMap = nullptr;
    QPointer<QMenu> m_pMenu;
    QTreeWidgetItem* m_pDropHilite = nullptr;
    QTreeWidgetItem* m_pDragItem = nullptr;
    CGdiManger m_gdi;
    int m_bLayoutReady = 0;
    DECLARE_MESSAGE_MAP()
};
