// The rename dialog of the device panel.
#pragma once

#include "platform/dialog.h"

class QLineEdit;

// The rename dialog: one edit whose text is copied to the caller's buffer.
class CDlgModifyName : public CDialog {
public:
    enum { IDD = 355, IDC_GROUP = 1430, IDC_EDIT_NAME = 1048 };
    // buffer: the caller's 256 bytes, not owned.
    CDlgModifyName(char* buffer, CWnd* pParent);
    BOOL OnInitDialog() override;
    void OnEnChangeEditName();
    QLineEdit* m_editName = nullptr;
    char* m_pszName;

protected:
    void CreateControls() override;
    DECLARE_MESSAGE_MAP()
};
