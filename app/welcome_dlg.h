// The first window the program shows until the login and main window exist.
#pragma once

#include "platform/dialog.h"

class CWelcomeDlg : public CDialog {
public:
    enum { IDD = 100, IDC_ABOUT = 1001, IDC_STATUS = 1002 };
    CWelcomeDlg();

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnPaint() override;
    void OnBnClickedAbout();

    DECLARE_MESSAGE_MAP()

private:
    int m_nTicks = 0;
};
