// Stand-in login window: takes the last used user and logs in without a check.
#include "app/login_placeholder_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "platform/message.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <cstring>

namespace {
constexpr UINT WM_AUTO_LOGIN = WM_USER + 7101;
}

BEGIN_MESSAGE_MAP(CLoginPlaceholderDlg, CDialog)
    ON_MESSAGE(WM_AUTO_LOGIN, &CLoginPlaceholderDlg::OnAutoLogin)
END_MESSAGE_MAP()

void CLoginPlaceholderDlg::CreateControls()
{
    resize(360, 140);
    auto* user = new QLineEdit(this);
    user->setGeometry(20, 24, 320, 26);
    qelm::SetControlId(user, IDC_USER);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(150, 96, 90, 28);
    qelm::SetControlId(ok, IDOK);
    QObject::connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(250, 96, 90, 28);
    qelm::SetControlId(cancel, IDCANCEL);
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

BOOL CLoginPlaceholderDlg::OnInitDialog()
{
    SetWindowText(g_strTitle.c_str());
    std::string user = "admin";
    for (const _LOGIN_INFO& e : g_lstLoginInfo) {
        if (e.LastUsingFlg == 1) {
            user.assign(e.UserName, strnlen(e.UserName, sizeof(e.UserName)));
            break;
        }
    }
    SetDlgItemText(IDC_USER, user.c_str());
    if (g_bAutoLogin || g_bAutoLoginArg)
        ::PostMessage(m_hWnd, WM_AUTO_LOGIN, 0, 0); // once the window runs
    return TRUE;
}

LRESULT CLoginPlaceholderDlg::OnAutoLogin(WPARAM, LPARAM)
{
    OnOK();
    return 0;
}

void CLoginPlaceholderDlg::OnOK()
{
    std::string user = GetDlgItemText(IDC_USER);
    std::snprintf(g_szUserName, sizeof(g_szUserName), "%s", user.c_str());
    SetLogUserName(g_szUserName);
    CDialog::OnOK();
}
