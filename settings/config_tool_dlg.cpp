// The configuration manager's tool bar.
#include "settings/config_tool_dlg.h"

#include "core/helpers.h"
#include "core/userinfo.h"
#include "devices/device_services.h"
#include "mainwnd/login_globals.h"
#include "res/strings.h"
#include "settings/cfg_manager_dlg.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"

#include <QPainter>

#include <cstring>

BEGIN_MESSAGE_MAP(CConfigToolDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_DEVICE, &CConfigToolDlg::OnBnClickedBtnDeviceConfig)
    ON_BN_CLICKED(IDC_BTN_RECORD, &CConfigToolDlg::OnBnClickedBtnRecordConfig)
    ON_BN_CLICKED(IDC_BTN_USER, &CConfigToolDlg::OnBnClickedBtnUserConfig)
    ON_BN_CLICKED(IDC_BTN_REMOTE, &CConfigToolDlg::OnBnClickedBtnRemoteConfig)
    ON_BN_CLICKED(IDC_BTN_MAINT, &CConfigToolDlg::OnBnClickedBtnMaintenance)
    ON_BN_CLICKED(IDC_BTN_ALARM_LINK, &CConfigToolDlg::OnBnClickedBtnAlarmLink)
END_MESSAGE_MAP()

namespace {

// Left to right, with their captions.
const struct {
    UINT id;
    unsigned str;
} kOrder[6] = {
    {CConfigToolDlg::IDC_BTN_DEVICE, 550}, {CConfigToolDlg::IDC_BTN_USER, 551},
    {CConfigToolDlg::IDC_BTN_RECORD, 552}, {CConfigToolDlg::IDC_BTN_REMOTE, 553},
    {CConfigToolDlg::IDC_BTN_MAINT, 554},  {CConfigToolDlg::IDC_BTN_ALARM_LINK, 555},
};

} // namespace

CConfigToolDlg::CConfigToolDlg(CCfgManagerDlg* manager, CWnd* pParent) : CDialog(IDD, pParent), m_pManager(manager)
{
    SetChildStyle(true);
}

void CConfigToolDlg::CreateControls()
{
    resize(1000, 40);
    for (int i = 0; i < 6; ++i) {
        m_buttons[i] = new CGdipButton(this);
        qelm::SetControlId(m_buttons[i], kOrder[i].id);
    }
}

CGdipButton* CConfigToolDlg::Button(UINT id) const
{
    for (int i = 0; i < 6; ++i)
        if (kOrder[i].id == id)
            return m_buttons[i];
    return nullptr;
}

BOOL CConfigToolDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    const bool wide = g_nLanguage == 3;
    const int w = wide ? 160 : 80;
    for (int i = 0; i < 6; ++i) {
        CGdipButton* b = m_buttons[i];
        b->LoadImageResource(wide ? 329 : 190, "PNG");
        b->setGeometry(20 + i * (w + 5), 5, w, 28);
        b->SetButtonText(LoadResString(kOrder[i].str).c_str());
    }
    if (g_DispInfoSetting.LoginType != 0)
        for (UINT id : {IDC_BTN_USER, IDC_BTN_REMOTE, IDC_BTN_MAINT, IDC_BTN_DEVICE})
            Button(id)->setEnabled(false);
    m_bInitialised = 1;
    return TRUE;
}

void CConfigToolDlg::SelectButton(UINT id)
{
    for (CGdipButton* b : m_buttons)
        b->SetTextColor(b == Button(id) ? kSelectedColor : 0);
    Invalidate();
}

void CConfigToolDlg::SelectDeviceButton()
{
    SelectButton(IDC_BTN_DEVICE);
}

void CConfigToolDlg::Switch(int subPage, UINT button)
{
    // The main window places and shows the manager; without it the
    // manager switches by itself.
    if (!DeviceServices()->ShowCfgSubPage(subPage) && m_pManager) {
        switch (subPage) {
        case 0: m_pManager->ShowDevicePage(); break;
        case 1: m_pManager->ShowUserPage(); break;
        case 2: m_pManager->ShowRecordPage(); break;
        case 3: m_pManager->ShowRemoteConfigPage(); break;
        case 4: m_pManager->ShowMaintenancePage(); break;
        default: break;
        }
    }
    SelectButton(button);
}

void CConfigToolDlg::OnBnClickedBtnDeviceConfig()
{
    if (g_nCfgSubPage != 0)
        Switch(0, IDC_BTN_DEVICE);
}

void CConfigToolDlg::OnBnClickedBtnRecordConfig()
{
    if (g_nCfgSubPage == 2)
        return;
    if (g_UserRights[kRightRecord] == 0) {
        if (m_pMsgDlg)
            m_pMsgDlg->ShowMsgW(LoadResStringW(285).c_str(), CResMsgDlg::MODE_INFO);
        return;
    }
    Switch(2, IDC_BTN_RECORD);
}

void CConfigToolDlg::OnBnClickedBtnUserConfig()
{
    if (g_nCfgSubPage == 1)
        return;
    if (std::strcmp(g_szLoginUser, "admin") != 0) {
        if (m_pMsgDlg)
            m_pMsgDlg->ShowMsgW(LoadResStringW(556).c_str(), CResMsgDlg::MODE_INFO);
        return;
    }
    Switch(1, IDC_BTN_USER);
}

void CConfigToolDlg::OnBnClickedBtnRemoteConfig()
{
    if (g_nCfgSubPage != 3)
        Switch(3, IDC_BTN_REMOTE);
}

void CConfigToolDlg::OnBnClickedBtnMaintenance()
{
    if (g_nCfgSubPage != 4)
        Switch(4, IDC_BTN_MAINT);
}

void CConfigToolDlg::OnBnClickedBtnAlarmLink()
{
    // Captioned, without an action of its own.
}

void CConfigToolDlg::OnPaint()
{
    QPainter p(this);
    CRect rc;
    GetClientRect(&rc);
    m_gdi.DrawImageFile((GetAppDir() + "Images/Pagebk.png").c_str(), rc, &p);
    for (CGdipButton* b : m_buttons)
        b->CaptureBackground(&p);
}

BOOL CConfigToolDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}
