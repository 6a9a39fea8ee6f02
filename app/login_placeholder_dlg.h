// Stand-in login window (OK/Cancel) until the real login dialog lands; it
// honours automatic login as the real one will.
#pragma once

#include "platform/dialog.h"

class CLoginPlaceholderDlg : public CDialog {
public:
    enum { IDD = 130, IDC_USER = 1001 };
    CLoginPlaceholderDlg() : CDialog(IDD) {}

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    LRESULT OnAutoLogin(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()
};
