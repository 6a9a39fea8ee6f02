#include "mainwnd/page_dlg.h"

#include "devices/device_services.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <QPushButton>

namespace {
struct Tab {
    UINT id;
    UINT caption;
    bool shown;
};
// Left to right; the TV wall and map tabs exist but stay hidden.
constexpr Tab kTabs[] = {
    {CPageDlg::IDC_TAB_LIVE, 280, true},   {CPageDlg::IDC_TAB_RECORD, 281, true},
    {CPageDlg::IDC_TAB_ALARM, 282, true},  {CPageDlg::IDC_TAB_CONFIG, 283, true},
    {CPageDlg::IDC_TAB_TVWALL, 289, false}, {CPageDlg::IDC_TAB_MAP, 292, false},
};
constexpr int kTabWidth = 120;
constexpr int kTabHeight = 30;
} // namespace

BEGIN_MESSAGE_MAP(CPageDlg, CDialog)
    ON_BN_CLICKED(IDC_TAB_LIVE, &CPageDlg::OnBnClickedLive)
    ON_BN_CLICKED(IDC_TAB_RECORD, &CPageDlg::OnBnClickedRecord)
    ON_BN_CLICKED(IDC_TAB_ALARM, &CPageDlg::OnBnClickedAlarm)
    ON_BN_CLICKED(IDC_TAB_CONFIG, &CPageDlg::OnBnClickedConfig)
    ON_BN_CLICKED(IDC_TAB_TVWALL, &CPageDlg::OnBnClickedTvWall)
    ON_BN_CLICKED(IDC_TAB_MAP, &CPageDlg::OnBnClickedMap)
END_MESSAGE_MAP()

CPageDlg::CPageDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(true);
    // The main window's title picture shows between the tabs.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CPageDlg::CreateControls()
{
    resize(1030, 34);
    int x = 8;
    for (const Tab& t : kTabs) {
        auto* b = new QPushButton(QString::fromStdString(LoadResString(t.caption)), this);
        b->setCheckable(true);
        b->setGeometry(x, 2, kTabWidth, kTabHeight);
        qelm::SetControlId(b, t.id);
        b->setVisible(t.shown);
        if (t.shown)
            x += kTabWidth + 2;
    }
}

BOOL CPageDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    MarkTab(m_nCurTab);
    m_bInitialised = 1;
    return TRUE;
}

void CPageDlg::ResizeForMainWindow(int)
{
    MoveWindow(0, CIPCClientDlg::TitleHeight() - 35, 1030, 34, TRUE);
}

bool CPageDlg::Allowed(int right, UINT denial)
{
    if (g_UserRights[right])
        return true;
    if (g_pMainDlg && g_pMainDlg->MsgDlg())
        g_pMainDlg->MsgDlg()->ShowMsgW(LoadResStringW(denial).c_str(), CResMsgDlg::MODE_INFO);
    return false;
}

void CPageDlg::MarkTab(int tab)
{
    m_nCurTab = tab;
    for (int i = 0; i < 6; ++i)
        if (auto* b = GetDlgItemT<QPushButton>(kTabs[i].id))
            b->setChecked(i + 1 == tab);
}

void CPageDlg::OnBnClickedLive()
{
    if (!m_bInitialised || !Allowed(kRightSurPTZ, 284))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 1;
    MarkTab(1);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowLivePage();
    }
}

void CPageDlg::OnBnClickedRecord()
{
    if (!m_bInitialised || !Allowed(kRightRecord, 285))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 1;
    MarkTab(2);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowRecSearchPage();
    }
}

void CPageDlg::OnBnClickedAlarm()
{
    if (!m_bInitialised || !Allowed(kRightAlarm, 286))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 1;
    MarkTab(3);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowAlarmSearchPage();
    }
}

void CPageDlg::OnBnClickedConfig()
{
    if (!m_bInitialised || !Allowed(kRightUserManager, 287))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 0;
    MarkTab(4);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowCfgPage();
    }
}

void CPageDlg::OnBnClickedTvWall()
{
    if (!m_bInitialised || !Allowed(kRightTvWallMap, 290))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 0;
    MarkTab(5);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowTVWallPage();
    }
}

void CPageDlg::OnBnClickedMap()
{
    if (!m_bInitialised || !Allowed(kRightTvWallMap, 293))
        return MarkTab(m_nCurTab);
    g_bVideoTab = 0;
    MarkTab(6);
    if (g_pMainDlg) {
        g_pMainDlg->RequestMarqueeReset();
        g_pMainDlg->ShowMapPage();
    }
}
