// The system settings window: a hidden pop-up of the main window made at its
// start, with the client's preference pages on eight tabs.
#pragma once

#include "platform/dialog.h"

class QTabBar;

class CSysSettingDlg : public CDialog {
public:
    enum { IDD = 334, IDC_TAB = 1366 };
    // The tabs, in their order.
    enum Page { kStorage, kPatrol, kPtz, kJoystick, kSwitchStream, kTimeAlarm, kBroadcast, kForward, kPageCount };

    explicit CSysSettingDlg(CWnd* pParent = nullptr);

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnShowWindow(BOOL bShow, UINT nStatus) override;
    void OnCancel() override;

    void CreatePages();
    void OnTcnSelchangeTab();

    CDialog* GetPage(Page page) const { return m_pPages[page]; }
    QTabBar* Tabs() const { return m_pTab; }

protected:
    void CreateControls() override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The page of a tab index (tabs 6 and 7 may be absent).
    Page PageOfTab(int tab) const;

    QTabBar* m_pTab = nullptr;
    CDialog* m_pPages[kPageCount] = {};
    CRect m_rcTab;
};

// Makes the main window build this class's window (app/ calls it at start).
void RegisterSysSettingPage();
