// Stand-in main window until the real one lands: hides the splash, starts the
// watchdog on its start-up timer and runs the final close step.
#pragma once

#include "platform/dialog.h"

class CStartThread;
class CSingleInstance;

class CMainPlaceholderDlg : public CDialog {
public:
    enum { IDD = 102, IDC_STATUS = 1002, IDC_EXIT = 1003 };
    explicit CMainPlaceholderDlg(CSingleInstance* instance) : CDialog(IDD), m_pInstance(instance) {}
    ~CMainPlaceholderDlg() override;

    // The final close step: ends the watchdog, then closes the window.
    void ExitApp();

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnCancel() override;
    LRESULT OnStartThreadDone(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    CSingleInstance* m_pInstance;
    CStartThread* m_pStartThread = nullptr;
};
