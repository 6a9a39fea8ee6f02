// The page tab bar above the content area: one tab per page; a tab checks
// the operator's right for its page and asks the main window to switch. A
// right-click on a movable page's tab offers to move that page to a further
// monitor.
#pragma once

#include "platform/dialog.h"

#include <QMenu>
#include <QPointer>

#include <string>

class CXImageButton;

class CPageDlg : public CDialog {
public:
    enum {
        IDD = 133,
        IDC_TAB_LIVE = 1012,
        IDC_TAB_RECORD = 1013,
        IDC_TAB_ALARM = 1014,
        IDC_TAB_CONFIG = 1015,
        IDC_TAB_TVWALL = 1016,
        IDC_TAB_MAP = 1017,
        IDC_EDGE_LEFT = 1281,
        IDC_SEP_1 = 1280,
        IDC_SEP_2 = 1282,
        IDC_SEP_3 = 1283,
        IDC_SEP_4 = 1284,
        IDC_SEP_5 = 1285,
        IDC_EDGE_RIGHT = 1286,
        ID_MOVE_TO_SCREEN1 = 32866,
        ID_MOVE_TO_SCREEN2 = 32867,
        ID_MOVE_TO_SCREEN3 = 32868,
    };
    // The caption colour of the current tab.
    static constexpr COLORREF kCurrentCaption = 0x2171F7;
    // The thirteen buttons, left to right.
    static constexpr UINT kButtonOrder[13] = {IDC_EDGE_LEFT, IDC_TAB_LIVE,   IDC_SEP_1,   IDC_TAB_RECORD, IDC_SEP_2,
                                              IDC_TAB_ALARM, IDC_SEP_3,      IDC_TAB_CONFIG, IDC_SEP_4,  IDC_TAB_TVWALL,
                                              IDC_SEP_5,     IDC_TAB_MAP,    IDC_EDGE_RIGHT};

    explicit CPageDlg(CWnd* pParent = nullptr);

    // Tab handlers, also called by the main window and the one-key add.
    void OnBnClickedBtnVideo();
    void OnBnClickedBtnRecord();
    void OnBnClickedBtnAlarm();
    void OnBnClickedBtnConfig();
    void OnBnClickedBtnTVWall();
    void OnBnClickedBtnMap();
    // 1 live ... 6 map.
    int CurrentTab() const { return m_nCurTab; }
    // Places the bar for the main window's layout height.
    void Reposition();
    void ResizeForMainWindow(int) { Reposition(); }

    // The tab button on which the last context menu was opened (null: none).
    QWidget* RClickedTabWnd() const;
    UINT RClickedTabId() const { return m_nRClickTab; }
    // The menu opened last, while it exists.
    QMenu* CurrentMenu() const { return m_pMenu; }
    // Opens the move menu for this tab, as a right-click on it does; false
    // when the rules give no menu.
    bool OpenTabMenu(UINT tabId, QPoint screenPt);

    // Picture number (1..9 of "tabN.png") of button id while tab cur is current.
    static int PictureFor(UINT id, int cur);
    // The picture file a button shows now.
    std::string ButtonPicture(UINT id) const;
    COLORREF CaptionColor(UINT id) const;

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnMoveCommand(UINT id);
    DECLARE_MESSAGE_MAP()

private:
    void OnTab(int tab);
    void LayoutTabs();
    void ApplyPictures();
    void OnInitMenuPopup();
    CXImageButton* Button(UINT id) const;

    int m_bInitialised = 0;
    UINT m_nRClickTab = 0;
    int m_nCurTab = 1;
    std::string m_strTabImg[9];
    QPointer<QMenu> m_pMenu;
};
