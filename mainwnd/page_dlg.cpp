#include "mainwnd/page_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "platform/paths.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "mainwnd/ipc_client_dlg.h"
#include "mainwnd/login_globals.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_widgets.h"

#include <QMenu>

namespace {

struct TabInfo {
    UINT id;
    UINT caption;
    int right;
    UINT denial;
    int pageKind; // on a further monitor; 0: cannot move
    const char* menuLog;
};
// Tabs 1..6.
constexpr TabInfo kTabs[6] = {
    {CPageDlg::IDC_TAB_LIVE, 280, kRightSurPTZ, 284, 0, nullptr},
    {CPageDlg::IDC_TAB_RECORD, 281, kRightRecord, 285, 1, "CPageDlg: init record button menu, nMonitor=%d"},
    {CPageDlg::IDC_TAB_ALARM, 282, kRightAlarm, 286, 2, "CPageDlg: init alarm button menu, nMonitor=%d"},
    {CPageDlg::IDC_TAB_CONFIG, 283, kRightUserManager, 287, 3, "CPageDlg: init config button menu, nMonitor=%d"},
    {CPageDlg::IDC_TAB_TVWALL, 289, kRightTvWallMap, 290, 4, "CPageDlg: init tvwall button menu, nMonitor=%d"},
    {CPageDlg::IDC_TAB_MAP, 292, kRightTvWallMap, 293, 5, "CPageDlg: init map button menu, nMonitor=%d"},
};

int TabOf(UINT id)
{
    for (int i = 0; i < 6; ++i)
        if (kTabs[i].id == id)
            return i + 1;
    return 0;
}

constexpr int kEdgeWidth = 29;
constexpr int kTabWidth = 136;
constexpr int kButtonHeight = 31;

} // namespace

BEGIN_MESSAGE_MAP(CPageDlg, CDialog)
    ON_BN_CLICKED(IDC_TAB_LIVE, &CPageDlg::OnBnClickedBtnVideo)
    ON_BN_CLICKED(IDC_TAB_RECORD, &CPageDlg::OnBnClickedBtnRecord)
    ON_BN_CLICKED(IDC_TAB_ALARM, &CPageDlg::OnBnClickedBtnAlarm)
    ON_BN_CLICKED(IDC_TAB_CONFIG, &CPageDlg::OnBnClickedBtnConfig)
    ON_BN_CLICKED(IDC_TAB_TVWALL, &CPageDlg::OnBnClickedBtnTVWall)
    ON_BN_CLICKED(IDC_TAB_MAP, &CPageDlg::OnBnClickedBtnMap)
    ON_COMMAND_RANGE(ID_MOVE_TO_SCREEN1, ID_MOVE_TO_SCREEN3, &CPageDlg::OnMoveCommand)
END_MESSAGE_MAP()

CPageDlg::CPageDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(true);
    // The main window's title picture shows around the tabs.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CPageDlg::CreateControls()
{
    resize(1030, 34);
    for (UINT id : kButtonOrder) {
        auto* b = new CXImageButton(this);
        qelm::SetControlId(b, id);
        b->setFocusPolicy(Qt::NoFocus);
        // Edges and separators are pictures only.
        if (!TabOf(id))
            b->setEnabled(false);
        b->hide();
    }
}

CXImageButton* CPageDlg::Button(UINT id) const
{
    return GetDlgItemT<CXImageButton>(id);
}

BOOL CPageDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    const std::string dir = GetAppDir();
    for (int i = 0; i < 9; ++i)
        m_strTabImg[i] = qelm::MakePath("%sImages\\tab%d.png", dir.c_str(), i + 1);
    ApplyPictures();
    for (const TabInfo& t : kTabs)
        if (CXImageButton* b = Button(t.id)) {
            b->SetButtonTextW(LoadResStringW(t.caption).c_str());
            b->SetTextColor(t.id == IDC_TAB_LIVE ? kCurrentCaption : 0);
        }
    if (CXImageButton* b = Button(IDC_TAB_MAP))
        b->show();
    if (CXImageButton* b = Button(IDC_EDGE_RIGHT))
        b->show();
    m_bInitialised = 1;
    LayoutTabs();
    return TRUE;
}

void CPageDlg::LayoutTabs()
{
    CRect client;
    GetClientRect(&client);
    int x = client.left + 7;
    const UINT shown[] = {IDC_EDGE_LEFT, IDC_TAB_LIVE, IDC_SEP_1,      IDC_TAB_RECORD, IDC_SEP_2,
                          IDC_TAB_ALARM, IDC_SEP_3,    IDC_TAB_CONFIG, IDC_EDGE_RIGHT};
    for (UINT id : shown) {
        const int w = TabOf(id) ? kTabWidth : kEdgeWidth;
        if (CXImageButton* b = Button(id)) {
            b->setGeometry(x, client.top, w, kButtonHeight);
            b->show();
        }
        x += w;
    }
    for (UINT id : {IDC_TAB_TVWALL, IDC_TAB_MAP, IDC_SEP_4, IDC_SEP_5})
        if (CXImageButton* b = Button(id))
            b->hide();
}

void CPageDlg::Reposition()
{
    MoveWindow(0, g_nLayoutHeight * 52 / 768 - 35, 1030, 34, TRUE);
}

int CPageDlg::PictureFor(UINT id, int cur)
{
    if (const int tab = TabOf(id))
        return tab == cur ? 2 : 4;
    if (id == IDC_EDGE_LEFT)
        return cur == 1 ? 1 : 8;
    if (id == IDC_EDGE_RIGHT)
        return cur == 4 || cur == 6 ? 9 : 6;
    // A separator: the tabs on its left and right.
    for (int i = 1; i + 1 < 13; ++i)
        if (kButtonOrder[i] == id) {
            const int left = TabOf(kButtonOrder[i - 1]);
            const int right = TabOf(kButtonOrder[i + 1]);
            if (right == cur)
                return 7;
            if (left == cur)
                return 3;
            return 5;
        }
    return 0;
}

void CPageDlg::ApplyPictures()
{
    for (UINT id : kButtonOrder)
        if (CXImageButton* b = Button(id))
            b->SetImagePath(m_strTabImg[PictureFor(id, m_nCurTab) - 1].c_str());
}

std::string CPageDlg::ButtonPicture(UINT id) const
{
    CXImageButton* b = Button(id);
    return b ? b->GetImagePath() : std::string();
}

COLORREF CPageDlg::CaptionColor(UINT id) const
{
    CXImageButton* b = Button(id);
    return b ? b->GetTextColor() : 0;
}

void CPageDlg::OnTab(int tab)
{
    const TabInfo& t = kTabs[tab - 1];
    if (!g_UserRights[t.right]) {
        // A refusal changes nothing, not even the pictures.
        if (g_pMainDlg && g_pMainDlg->MsgDlg())
            g_pMainDlg->MsgDlg()->ShowMsgW(LoadResStringW(t.denial).c_str(), CResMsgDlg::MODE_INFO);
        return;
    }
    if (m_bInitialised == 1) {
        g_bVideoTab = tab <= 3 ? 1 : 0;
        if (g_pMainDlg) {
            switch (tab) {
            case 1: g_pMainDlg->ShowLivePage(); break;
            case 2: g_pMainDlg->ShowRecSearchPage(); break;
            case 3: g_pMainDlg->ShowAlarmSearchPage(); break;
            case 4: g_pMainDlg->ShowCfgPage(); break;
            case 5: g_pMainDlg->ShowTVWallPage(); break;
            case 6: g_pMainDlg->ShowMapPage(); break;
            }
        }
    }
    m_nCurTab = tab;
    ApplyPictures();
    for (int i = 0; i < 6; ++i)
        if (CXImageButton* b = Button(kTabs[i].id))
            b->SetTextColor(i + 1 == tab ? kCurrentCaption : 0);
    if (g_pMainDlg && g_pMainDlg->DeviceList())
        if (QWidget* mapList = g_pMainDlg->DeviceList()->GetDlgItem(CDeviceListDlg::IDC_BTN_MAP_LIST))
            mapList->setEnabled(tab != 4 && g_nCurPage == 5);
    if (g_pMainDlg)
        g_pMainDlg->RequestMarqueeReset();
}

void CPageDlg::OnBnClickedBtnVideo() { OnTab(1); }
void CPageDlg::OnBnClickedBtnRecord() { OnTab(2); }
void CPageDlg::OnBnClickedBtnAlarm() { OnTab(3); }
void CPageDlg::OnBnClickedBtnConfig() { OnTab(4); }
void CPageDlg::OnBnClickedBtnTVWall() { OnTab(5); }
void CPageDlg::OnBnClickedBtnMap() { OnTab(6); }

QWidget* CPageDlg::RClickedTabWnd() const
{
    return m_nRClickTab ? GetDlgItem(m_nRClickTab) : nullptr;
}

bool CPageDlg::OpenTabMenu(UINT tabId, QPoint screenPt)
{
    const int tab = TabOf(tabId);
    if (!tab || !g_pMainDlg)
        return false;
    const TabInfo& t = kTabs[tab - 1];
    if (g_pMainDlg->Monitors().empty() || !g_DispInfoSetting.MonitorMode)
        return false;
    if (!t.pageKind || g_nCurPage == t.pageKind || !g_UserRights[t.right])
        return false;
    m_nRClickTab = tabId;
    if (m_pMenu)
        delete m_pMenu.data();
    m_pMenu = new QMenu(this);
    m_pMenu->setAttribute(Qt::WA_DeleteOnClose);
    for (UINT cmd : {ID_MOVE_TO_SCREEN1, ID_MOVE_TO_SCREEN2, ID_MOVE_TO_SCREEN3}) {
        QAction* a = m_pMenu->addAction(QString());
        a->setCheckable(true);
        a->setData(cmd);
        connect(a, &QAction::triggered, this, [this, cmd] { SendMessage(WM_COMMAND, cmd, 0); });
    }
    OnInitMenuPopup();
    m_pMenu->popup(screenPt);
    return true;
}

void CPageDlg::OnInitMenuPopup()
{
    if (!m_pMenu)
        return;
    const UINT texts[] = {948, 949, 957};
    const QList<QAction*> actions = m_pMenu->actions();
    for (int i = 0; i < actions.size() && i < 3; ++i)
        actions[i]->setText(QString::fromStdString(LoadResString(texts[i])));
    const int tab = TabOf(m_nRClickTab);
    if (!tab || !kTabs[tab - 1].menuLog || !g_pMainDlg)
        return;
    const int monitor = g_pMainDlg->PageMonitor(kTabs[tab - 1].pageKind);
    WriteLog(6, kTabs[tab - 1].menuLog, monitor);
    for (int i = 0; i < actions.size() && i < 3; ++i)
        actions[i]->setChecked(monitor == i + 1);
}

void CPageDlg::OnMoveCommand(UINT id)
{
    // The bar does not handle the move; the main window does.
    if (g_pMainDlg)
        g_pMainDlg->OnMoveToMonitorCommand(id);
}

BOOL CPageDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return TRUE;
    if (pMsg->message == WM_RBUTTONDOWN) {
        const QPoint global(pMsg->pt.x, pMsg->pt.y);
        for (const TabInfo& t : kTabs) {
            CXImageButton* b = Button(t.id);
            if (b && b->isVisible() && b->rect().contains(b->mapFromGlobal(global)))
                return OpenTabMenu(t.id, global) ? TRUE : FALSE;
        }
    }
    return CDialog::PreTranslateMessage(pMsg);
}
