// The page tab bar above the content area: one tab per page; a tab checks
// the operator's right for its page and asks the main window to switch.
#pragma once

#include "platform/dialog.h"

class QPushButton;

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
    };
    explicit CPageDlg(CWnd* pParent = nullptr);

    void OnBnClickedLive();
    void OnBnClickedRecord();
    void OnBnClickedAlarm();
    void OnBnClickedConfig();
    void OnBnClickedTvWall();
    void OnBnClickedMap();
    // 1 live ... 6 map.
    int CurrentTab() const { return m_nCurTab; }
    // Lays the tabs out again for the window state.
    void ResizeForMainWindow(int maximised);

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()

private:
    // False (and the denial message shown) without the right.
    bool Allowed(int right, UINT denial);
    void MarkTab(int tab);

    int m_bInitialised = 0;
    int m_nCurTab = 1;
};
