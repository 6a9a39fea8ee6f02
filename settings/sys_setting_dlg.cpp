// The system settings window: its tabs, its pages and its keys.
#include "settings/sys_setting_dlg.h"

#include "core/userinfo.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/main_pages.h"
#include "media/dlg_broadcast.h"
#include "platform/text.h"
#include "ptz/config_patrol.h"
#include "res/strings.h"

#include <QKeyEvent>
#include <QScreen>
#include <QTabBar>

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 520;

// Tabs in order: caption, page class, page template.
constexpr struct {
    UINT caption;
    const char* cls;
    UINT idd;
} kTabs[CSysSettingDlg::kPageCount] = {
    {1052, "CSettingSavePath", 277},    {1053, "CConfigPatrol", 236},     {1054, "CSettingPtzProtocol", 332},
    {1055, "CKbConfig", 234},           {1056, "CSetSwitchStreamDlg", 335}, {294, "CSettingAlarmAudio", 339},
    {1069, "CDlgBroadcast", 337},       {1059, "CForwardDlg", 336},
};

// The order the pages are made in.
constexpr CSysSettingDlg::Page kCreateOrder[] = {
    CSysSettingDlg::kStorage,      CSysSettingDlg::kPatrol,  CSysSettingDlg::kPtz,       CSysSettingDlg::kJoystick,
    CSysSettingDlg::kSwitchStream, CSysSettingDlg::kForward, CSysSettingDlg::kBroadcast, CSysSettingDlg::kTimeAlarm,
};

} // namespace

void RegisterSysSettingPage()
{
    RegisterPageFactory("CSysSettingDlg", [](CWnd* parent) -> CDialog* {
        auto* dlg = new CSysSettingDlg(parent);
        dlg->Create(CSysSettingDlg::IDD, parent);
        return dlg;
    });
}

CSysSettingDlg::CSysSettingDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(false);
}

void CSysSettingDlg::CreateControls()
{
    resize(kWidth, kHeight);
    m_pTab = new QTabBar(this);
    m_pTab->setGeometry(4, 2, kWidth - 8, 26);
    m_pTab->setExpanding(false);
    qelm::SetControlId(m_pTab, IDC_TAB);
    QObject::connect(m_pTab, &QTabBar::currentChanged, this, [this](int) { OnTcnSelchangeTab(); });
}

void CSysSettingDlg::CreatePages()
{
    for (Page p : kCreateOrder) {
        if (m_pPages[p])
            continue;
        CDialog* page = nullptr;
        if (p == kPatrol) {
            page = new CConfigPatrol(this);
            page->Create(CConfigPatrol::IDD, this);
        } else if (p == kBroadcast) {
            page = new CDlgBroadcast(this);
            page->Create(CDlgBroadcast::IDD, this);
        } else if (!(page = CreateRegisteredPage(kTabs[p].cls, this))) {
            page = new CEmptyPage(kTabs[p].cls, kTabs[p].idd, this, true);
            page->Create(kTabs[p].idd, this);
        }
        page->setGeometry(10, 30, m_rcTab.Width() - 20, page->height());
        page->hide();
        m_pPages[p] = page;
    }
}

BOOL CSysSettingDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_rcTab = CRect(0, 0, kWidth - 8, kHeight - 4);
    CreatePages();
    {
        const QSignalBlocker quiet(m_pTab);
        while (m_pTab->count() > 0)
            m_pTab->removeTab(0);
        const int tabs = g_DispInfoSetting.LoginType == 0 ? kPageCount : kBroadcast;
        for (int t = 0; t < tabs; ++t)
            m_pTab->addTab(qelm::ToQ(LoadResString(kTabs[t].caption)));
        m_pTab->setCurrentIndex(0);
    }
    m_pPages[kStorage]->show();
    m_pPages[kTimeAlarm]->hide();
    if (QScreen* screen = m_pParentWnd ? m_pParentWnd->screen() : this->screen())
        move(screen->geometry().center() - rect().center());
    SetWindowText(LoadResString(1050).c_str());
    return TRUE;
}

CSysSettingDlg::Page CSysSettingDlg::PageOfTab(int tab) const
{
    return tab >= 0 && tab < kPageCount ? static_cast<Page>(tab) : kStorage;
}

void CSysSettingDlg::OnTcnSelchangeTab()
{
    const Page shown = PageOfTab(m_pTab->currentIndex());
    if (shown == kBroadcast)
        if (auto* broadcast = dynamic_cast<CDlgBroadcast*>(m_pPages[kBroadcast]))
            broadcast->RefreshDeviceTree();
    for (int p = 0; p < kPageCount; ++p)
        if (m_pPages[p])
            m_pPages[p]->setVisible(p == shown);
}

void CSysSettingDlg::OnShowWindow(BOOL bShow, UINT nStatus)
{
    CDialog::OnShowWindow(bShow, nStatus);
    if (bShow)
        if (auto* patrol = dynamic_cast<CConfigPatrol*>(m_pPages[kPatrol]))
            patrol->RefreshPatrolList();
}

void CSysSettingDlg::OnCancel()
{
    // The close box hides the window; its pages keep their state.
    hide();
}

BOOL CSysSettingDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == 13 || pMsg->wParam == 27))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSysSettingDlg::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        e->accept();
        return;
    default:
        CDialog::keyPressEvent(e);
    }
}
