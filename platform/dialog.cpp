// Modal and modeless dialogs.
#include "platform/dialog.h"

#include <QEventLoop>
#include <QKeyEvent>

CDialog::CDialog(UINT nIDTemplate, CWnd* pParent) : m_pParentWnd(pParent), m_nIDTemplate(nIDTemplate) {}

CDialog::~CDialog()
{
    if (m_pModalLoop)
        m_pModalLoop->exit();
}

void CDialog::CreateControls() {}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::OnClose()
{
    OnCancel();
}

bool CDialog::Build(CWnd* parent)
{
    if (parent)
        m_pParentWnd = parent;
    if (m_bChild && m_pParentWnd)
        setParent(m_pParentWnd, Qt::Widget);
    else if (m_bFrameless)
        setParent(m_pParentWnd, Qt::Window | Qt::FramelessWindowHint);
    else
        setParent(m_pParentWnd, Qt::Dialog);
    if (!m_bControlsBuilt) {
        m_bControlsBuilt = true;
        CreateControls();
    }
    CreateHandle();
    return OnInitDialog() != FALSE;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    if (m_hWnd)
        return FALSE;
    if (nIDTemplate)
        m_nIDTemplate = nIDTemplate;
    m_bEndRequested = false;
    Build(pParentWnd);
    return m_hWnd ? TRUE : FALSE;
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;
    m_bEndRequested = false;
    m_nModalResult = IDCANCEL;
    Build(nullptr);
    // OnInitDialog may already have ended the dialog, or destroyed it.
    if (!m_bEndRequested && m_hWnd) {
        setWindowModality(Qt::ApplicationModal);
        // A dialog that placed itself nowhere opens centred, as dialogs do.
        if (isWindow() && pos() == QPoint(0, 0))
            CenterWindow();
        show();
        raise();
        activateWindow();
        QEventLoop loop;
        m_pModalLoop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_pModalLoop = nullptr;
    }
    const int result = m_nModalResult;
    CWnd::DestroyWindow();
    setWindowModality(Qt::NonModal);
    return result;
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bEndRequested = true;
    if (m_pModalLoop)
        m_pModalLoop->exit();
    else
        hide();
}

BOOL CDialog::DestroyWindow()
{
    if (m_pModalLoop) {
        m_bEndRequested = true;
        m_pModalLoop->exit();
    }
    return CWnd::DestroyWindow();
}

void CDialog::keyPressEvent(QKeyEvent* e)
{
    if (m_bChild || e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        e->ignore();
        return;
    }
    switch (e->key()) {
    case Qt::Key_Escape: OnCancel(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: OnOK(); break;
    default: e->ignore(); break;
    }
}
