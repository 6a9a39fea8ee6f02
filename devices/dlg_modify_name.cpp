// CDlgModifyName: the rename dialog of the device panel.
#include "devices/dlg_modify_name.h"

#include "core/helpers.h"
#include "platform/text.h"
#include "res/strings.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

BEGIN_MESSAGE_MAP(CDlgModifyName, CDialog)
    ON_EN_CHANGE(IDC_EDIT_NAME, &CDlgModifyName::OnEnChangeEditName)
    ON_BN_CLICKED(IDOK, &CDlgModifyName::OnOK)
    ON_BN_CLICKED(IDCANCEL, &CDlgModifyName::OnCancel)
END_MESSAGE_MAP()

CDlgModifyName::CDlgModifyName(char* buffer, CWnd* pParent) : CDialog(IDD, pParent), m_pszName(buffer) {}

void CDlgModifyName::CreateControls()
{
    // 183 x 83 dialog units of an 8-point dialog font.
    resize(275, 135);
    auto* box = new QGroupBox(this);
    box->setGeometry(10, 11, 254, 112);
    qelm::SetControlId(box, IDC_GROUP);
    m_editName = new QLineEdit(this);
    m_editName->setGeometry(20, 42, 228, 23);
    qelm::SetControlId(m_editName, IDC_EDIT_NAME);
    auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
    ok->setGeometry(48, 84, 75, 23);
    ok->setDefault(true);
    qelm::SetControlId(ok, IDOK);
    auto* cancel = new QPushButton(QString::fromUtf8("取消"), this);
    cancel->setGeometry(141, 84, 75, 23);
    qelm::SetControlId(cancel, IDCANCEL);
}

BOOL CDlgModifyName::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(g_strTitle.c_str());
    if (auto* box = GetDlgItemT<QGroupBox>(IDC_GROUP))
        box->setTitle(QString::fromStdString(LoadResString(1482)));
    m_editName->setMaxLength(32);
    m_editName->setText(QString::fromUtf8(m_pszName ? m_pszName : ""));
    m_editName->setFocus();
    return TRUE;
}

void CDlgModifyName::OnEnChangeEditName()
{
    if (m_pszName)
        qelm::CopyBounded(m_pszName, 256, m_editName->text().toStdString());
}
