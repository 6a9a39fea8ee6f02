// Dialog windows: modal with DoModal/EndDialog (a nested loop that keeps
// dispatching posted messages and timers), or modeless with Create.
#pragma once

#include "platform/wnd.h"

class QEventLoop;

class CDialog : public CWnd {
public:
    // nIDTemplate names the dialog resource; parent is the owner window.
    explicit CDialog(UINT nIDTemplate = 0, CWnd* pParent = nullptr);
    ~CDialog() override;

    // Modal: builds the dialog, runs OnInitDialog, shows it and returns the
    // result given to EndDialog. The window is destroyed on return; the
    // controls stay and are set up again by OnInitDialog at the next run.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    // Modeless: builds the dialog as a child (a page) or an owned top-level
    // window and runs OnInitDialog; the caller shows it.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    BOOL IsModal() const { return m_pModalLoop != nullptr; }
    UINT GetTemplateId() const { return m_nIDTemplate; }
    BOOL DestroyWindow() override;

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void OnClose() override; // as Cancel

protected:
    // Builds the dialog's controls (the dialog template) once per object,
    // before the first OnInitDialog.
    virtual void CreateControls();

    // A page of another window instead of a window of its own.
    void SetChildStyle(bool child) { m_bChild = child; }
    // A top-level dialog that paints its own caption: no window-manager frame.
    void SetFramelessStyle(bool frameless) { m_bFrameless = frameless; }
    // Esc cancels and Enter confirms a dialog window (pages pass them up).
    void keyPressEvent(QKeyEvent* e) override;

    CWnd* m_pParentWnd = nullptr;
    UINT m_nIDTemplate = 0;

private:
    bool Build(CWnd* parent);

    bool m_bChild = false;
    bool m_bFrameless = false;
    bool m_bControlsBuilt = false;
    bool m_bEndRequested = false;
    int m_nModalResult = -1;
    QEventLoop* m_pModalLoop = nullptr;
};
