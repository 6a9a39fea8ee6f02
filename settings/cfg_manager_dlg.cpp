// The configuration manager: children, layout, sub-page switches and the
// default recording plan's start/stop button.
#include "settings/cfg_manager_dlg.h"

#include "settings/setting_record_dlg.h"
#include "settings/setting_user_info_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "devconfig/setting_dev_info_dlg.h"
#include "devices/device_list_dlg.h"
#include "devices/device_services.h"
#include "mainwnd/empty_page.h"
#include "mainwnd/user_list_dlg.h"
#include "platform/monitor.h"
#include "res/strings.h"
#include "settings/config_tool_dlg.h"
#include "settings/setting_record_dlg.h"
#include "settings/setting_user_info_dlg.h"
#include "ui/gdip_button.h"

#include <QLabel>
#include <QPainter>

#include <cstring>

BEGIN_MESSAGE_MAP(CCfgManagerDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_DEFAULT_RECORD, &CCfgManagerDlg::OnBnClickedBtnDefaultRecord)
    ON_BN_CLICKED(IDC_BTN_RECORD_DETAIL, &CCfgManagerDlg::OnBnClickedBtnRecordDetail)
END_MESSAGE_MAP()

namespace {

const struct {
    const char* cls;
    UINT idd;
} kSubPages[] = {
    {"CUserListDlg", 142},       {"CSettingUserInfoDlg", 144}, {"CSettingRecordDlg", 146},
    {"CDlgRemoteConfig", 340},   {"CSettingMaintDlg", 215},    {"CRecordConfigDlg", 358},
};

void Show(QWidget* w, bool on)
{
    if (w)
        w->setVisible(on);
}

} // namespace

void RegisterCfgManagerPage()
{
    RegisterPageFactory("CCfgManagerDlg", [](CWnd* parent) -> CDialog* {
        const int sw = GetSystemMetrics(SM_CXSCREEN);
        const int sh = GetSystemMetrics(SM_CYSCREEN);
        const CRect placement(10, CCfgManagerDlg::PlacementTop(parent ? parent->height() : sh), sw - 8, sh - 10);
        auto* page = new CCfgManagerDlg(placement, parent);
        page->Create(CCfgManagerDlg::IDD, parent);
        return page;
    });
}

CCfgManagerDlg::CCfgManagerDlg(const CRect& placement, CWnd* pParent)
    : CDialog(IDD, pParent), m_rcPlacement(placement)
{
    SetChildStyle(true);
}

CCfgManagerDlg::~CCfgManagerDlg()
{
    SetDevCfgPages(nullptr);
    // The device form joins its ONVIF queries in its destructor; children
    // go with the window.
    delete m_pDevInfoDlg;
    m_pDevInfoDlg = nullptr;
}

void CCfgManagerDlg::CreateControls()
{
    resize(m_rcPlacement.Width(), m_rcPlacement.Height());
    m_pBtnDefaultRecord = new CGdipButton(this);
    qelm::SetControlId(m_pBtnDefaultRecord, IDC_BTN_DEFAULT_RECORD);
    m_pBtnRecordDetail = new CGdipButton(this);
    qelm::SetControlId(m_pBtnRecordDetail, IDC_BTN_RECORD_DETAIL);
}

CDialog* CCfgManagerDlg::CreateSubPage(SubPage kind)
{
    const auto& sp = kSubPages[kind];
    CDialog* own = kind == kRecordForm ? static_cast<CDialog*>(new CSettingRecordDlg(this))
                   : kind == kUserForm ? static_cast<CDialog*>(new CSettingUserInfoDlg(this))
                   : kind == kUserTree ? static_cast<CDialog*>(new CUserListDlg(this))
                                       : nullptr;
    if (own) {
        own->Create(sp.idd, this);
        own->hide();
        return own;
    }
    if (CDialog* page = CreateRegisteredPage(sp.cls, this)) {
        page->hide();
        return page;
    }
    auto* page = new CEmptyPage(sp.cls, sp.idd, this, true);
    page->Create(sp.idd, this);
    page->hide();
    return page;
}

CDialog* CCfgManagerDlg::Page(SubPage kind) const
{
    switch (kind) {
    case kUserTree: return m_pUserListDlg;
    case kUserForm: return m_pUserInfoDlg;
    case kRecordForm: return m_pRecordDlg;
    case kRemoteConfig: return m_pRemoteConfigDlg;
    case kMaintenance: return m_pMaintDlg;
    case kRecordConfig: return m_pRecordConfigDlg;
    }
    return nullptr;
}

BOOL CCfgManagerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pToolDlg = new CConfigToolDlg(this, this);
    m_pToolDlg->Create(CConfigToolDlg::IDD, this);
    m_pToolDlg->SelectDeviceButton();
    m_pToolDlg->show();

    m_pDevListDlg = new CDeviceListDlg(this);
    m_pDevListDlg->Create(CDeviceListDlg::IDD, this);
    if (QWidget* scenes = m_pDevListDlg->GetDlgItem(CDeviceListDlg::IDC_BTN_MAP_LIST))
        scenes->setEnabled(false);

    m_pUserListDlg = CreateSubPage(kUserTree);
    m_pDevInfoDlg = new CSettingDevInfoDlg(this);
    m_pDevInfoDlg->Create(CSettingDevInfoDlg::IDD, this);
    m_pDevInfoDlg->hide();
    m_pUserInfoDlg = CreateSubPage(kUserForm);
    m_pRecordDlg = CreateSubPage(kRecordForm);
    m_pRemoteConfigDlg = CreateSubPage(kRemoteConfig);
    m_pMaintDlg = CreateSubPage(kMaintenance);
    m_pRecordConfigDlg = CreateSubPage(kRecordConfig);
    m_pToolDlg->SetMsgDlg(m_pDevInfoDlg->MsgDlg());

    m_pBtnDefaultRecord->LoadImageResource(190, "PNG");
    m_pBtnDefaultRecord->SetButtonText(LoadResString(252).c_str());
    const std::string defaultName = LoadResString(260);
    for (const RecScheme* plan : g_lstRecSchemeInfo)
        if (plan && defaultName == plan->SchemeName) {
            m_pBtnDefaultRecord->SetButtonText(LoadResString(plan->OnOff == 1 ? 253 : 252).c_str());
            break;
        }
    m_pBtnRecordDetail->LoadImageResource(190, "PNG");
    m_pBtnRecordDetail->SetButtonText(LoadResString(254).c_str());
    SetDevCfgPages(this);
    m_bLaidOut = 1;
    LayoutPages();
    return TRUE;
}

void CCfgManagerDlg::LayoutPages()
{
    const int W = m_rcPlacement.Width();
    const int H = m_rcPlacement.Height();
    m_bInLayout = true;
    if (m_pToolDlg)
        m_pToolDlg->MoveWindow(0, 0, W, 40);
    for (QWidget* w : {static_cast<QWidget*>(m_pDevListDlg), static_cast<QWidget*>(m_pUserListDlg)})
        if (w)
            w->setGeometry(0, 40, 220, H - 40);
    m_pBtnDefaultRecord->setGeometry(230, 45, 77, 28);
    m_pBtnRecordDetail->setGeometry(309, 45, 77, 28);
    if (m_pRecordDlg)
        m_pRecordDlg->setGeometry(225, 80, W - 225, H - 90);
    for (QWidget* w : {static_cast<QWidget*>(m_pDevInfoDlg), static_cast<QWidget*>(m_pUserInfoDlg),
                       static_cast<QWidget*>(m_pMaintDlg), static_cast<QWidget*>(m_pRemoteConfigDlg),
                       static_cast<QWidget*>(m_pRecordConfigDlg)})
        if (w)
            w->setGeometry(225, 40, W - 225, H - 40);
    m_rcPage = CRect(225, 40, W, H);
    m_bInLayout = false;
    update();
}

void CCfgManagerDlg::LayoutFromClient()
{
    const int l = 0, t = 0, r = width(), b = height();
    m_bInLayout = true;
    if (m_pToolDlg)
        m_pToolDlg->MoveWindow(l, t, r - l, 40);
    for (QWidget* w : {static_cast<QWidget*>(m_pDevListDlg), static_cast<QWidget*>(m_pUserListDlg)})
        if (w)
            w->setGeometry(l, t + 40, 220, b - t - 40);
    m_rcPage = CRect(l + 225, t + 40, r, b);
    m_pBtnDefaultRecord->setGeometry(m_rcPage.left + 5, m_rcPage.top + 5, 77, 28);
    m_pBtnRecordDetail->setGeometry(m_rcPage.left + 84, m_rcPage.top + 5, 77, 28);
    if (m_pRecordDlg)
        m_pRecordDlg->setGeometry(m_rcPage.left, m_rcPage.top + 50, m_rcPage.Width(), m_rcPage.Height() - 50);
    for (QWidget* w : {static_cast<QWidget*>(m_pDevInfoDlg), static_cast<QWidget*>(m_pUserInfoDlg),
                       static_cast<QWidget*>(m_pMaintDlg), static_cast<QWidget*>(m_pRemoteConfigDlg)})
        if (w)
            w->setGeometry(m_rcPage.left, m_rcPage.top, m_rcPage.Width(), m_rcPage.Height());
    m_bInLayout = false;
}

void CCfgManagerDlg::OnPositionChanged()
{
    if (!m_bLaidOut || m_bInLayout)
        return;
    if (m_nMonitor == 0) {
        if (geometry() != m_rcPlacement.ToQ()) {
            m_bInLayout = true;
            MoveWindow(m_rcPlacement);
            m_bInLayout = false;
        }
        LayoutPages();
    } else {
        LayoutFromClient();
    }
}

void CCfgManagerDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    OnPositionChanged();
}

void CCfgManagerDlg::OnMove(int x, int y)
{
    CDialog::OnMove(x, y);
    OnPositionChanged();
}

void CCfgManagerDlg::ResizeForMainWindow(int maximised)
{
    const int top = PlacementTop(parentWidget() ? parentWidget()->height() : GetSystemMetrics(SM_CYSCREEN));
    if (maximised)
        m_rcPlacement = CRect(10, top, GetSystemMetrics(SM_CXSCREEN) - 8, GetSystemMetrics(SM_CYSCREEN) - 10);
    else
        m_rcPlacement = CRect(10, top, 1016, 758);
    MoveWindow(m_rcPlacement);
    LayoutPages();
}

// --- switches -----------------------------------------------------------------

void CCfgManagerDlg::ShowSubPage(int subPage)
{
    switch (subPage) {
    case 0: ShowDevicePage(); break;
    case 1: ShowUserPage(); break;
    case 2: ShowRecordPage(); break;
    case 3: ShowRemoteConfigPage(); break;
    case 4: ShowMaintenancePage(); break;
    default: break;
    }
}

void CCfgManagerDlg::HideRemoteConfig()
{
    Show(m_pRemoteConfigDlg, false);
    // The remote configuration page's closed UI goes with it (its own code).
}

void CCfgManagerDlg::StopCameraSearch()
{
    if (m_pDevInfoDlg)
        m_pDevInfoDlg->OnStopSearch();
}

void CCfgManagerDlg::ShowDevicePage()
{
    const int previous = g_nCfgSubPage;
    g_nCfgSubPage = 0;
    Show(m_pBtnDefaultRecord, false);
    Show(m_pBtnRecordDetail, false);
    Show(m_pUserInfoDlg, false);
    Show(m_pRecordDlg, false);
    HideRemoteConfig();
    Show(m_pMaintDlg, false);
    Show(m_pRecordConfigDlg, false);
    Show(m_pUserListDlg, false);
    if (m_pToolDlg)
        m_pToolDlg->SelectDeviceButton();
    if ((previous == 1 || previous == 2 || previous == -1) && m_pDevListDlg)
        m_pDevListDlg->OnBnClickedBtnOrigGroup();
    Show(m_pDevListDlg, true);
    Show(m_pDevInfoDlg, true);
}

void CCfgManagerDlg::ShowUserPage()
{
    g_nCfgSubPage = 1;
    Show(m_pBtnDefaultRecord, false);
    Show(m_pBtnRecordDetail, false);
    Show(m_pDevListDlg, false);
    Show(m_pDevInfoDlg, false);
    StopCameraSearch();
    Show(m_pRecordDlg, false);
    HideRemoteConfig();
    Show(m_pRecordConfigDlg, false);
    Show(m_pMaintDlg, false);
    Show(m_pUserListDlg, true);
    Show(m_pUserInfoDlg, true);
}

void CCfgManagerDlg::ShowRecordPage()
{
    g_nCfgSubPage = 2;
    Show(m_pDevInfoDlg, false);
    StopCameraSearch();
    Show(m_pUserListDlg, false);
    Show(m_pUserInfoDlg, false);
    HideRemoteConfig();
    Show(m_pMaintDlg, false);
    RecordPageEnsureDefault();
    if (m_pDevListDlg)
        m_pDevListDlg->ShowRecordStrategyTree();
    RecordPageFillDevTree();
    Show(m_pDevListDlg, true);
    Show(m_pRecordDlg, false);
    Show(m_pBtnDefaultRecord, true);
    Show(m_pBtnRecordDetail, true);
    update(QRect(0, 40, 220, m_rcPlacement.Height() - 40));
}

void CCfgManagerDlg::ShowRemoteConfigPage()
{
    const int previous = g_nCfgSubPage;
    g_nCfgSubPage = 3;
    Show(m_pBtnDefaultRecord, false);
    Show(m_pBtnRecordDetail, false);
    Show(m_pUserListDlg, false);
    Show(m_pDevInfoDlg, false);
    StopCameraSearch();
    Show(m_pUserInfoDlg, false);
    Show(m_pRecordDlg, false);
    Show(m_pMaintDlg, false);
    Show(m_pRecordConfigDlg, false);
    if ((previous == 1 || previous == 2) && m_pDevListDlg)
        m_pDevListDlg->RefreshDevTree();
    Show(m_pDevListDlg, true);
    Show(m_pRemoteConfigDlg, true);
}

void CCfgManagerDlg::ShowMaintenancePage()
{
    const int previous = g_nCfgSubPage;
    g_nCfgSubPage = 4;
    Show(m_pBtnDefaultRecord, false);
    Show(m_pBtnRecordDetail, false);
    Show(m_pUserListDlg, false);
    Show(m_pDevInfoDlg, false);
    StopCameraSearch();
    Show(m_pUserInfoDlg, false);
    Show(m_pRecordDlg, false);
    Show(m_pRecordConfigDlg, false);
    HideRemoteConfig();
    if ((previous == 1 || previous == 2) && m_pDevListDlg)
        m_pDevListDlg->RefreshDevTree();
    Show(m_pDevListDlg, true);
    Show(m_pMaintDlg, true);
}

// --- default recording plan ----------------------------------------------------

void CCfgManagerDlg::OnBnClickedBtnDefaultRecord()
{
    const std::string defaultName = LoadResString(260);
    int allOn = 1;
    bool changed = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan)
                continue;
            if (defaultName == plan->SchemeName) {
                plan->OnOff = plan->OnOff == 0 ? 1 : 0;
                changed = true;
                RecordPageShowScheme(plan);
                m_pBtnDefaultRecord->SetButtonText(LoadResString(plan->OnOff == 1 ? 253 : 252).c_str());
            }
            if (plan->OnOff == 0)
                allOn = 0;
        }
    }
    // A toggle kept only in memory would be lost by a crash.
    if (changed)
        SaveRecInfo();
    DeviceServices()->SetDefaultRecordFlag(allOn);
}

void CCfgManagerDlg::OnBnClickedBtnRecordDetail()
{
    if (!m_pRecordDlg)
        return;
    m_pRecordDlg->setGeometry(m_rcPage.left, m_rcPage.top + 40, m_rcPage.Width(), m_rcPage.Height() - 50);
    m_pRecordDlg->show();
}

// --- the recording page's share -------------------------------------------------

CSettingRecordDlg* CCfgManagerDlg::RecordPage() const
{
    return dynamic_cast<CSettingRecordDlg*>(m_pRecordDlg);
}

void CCfgManagerDlg::RecordPageEnsureDefault()
{
    if (CSettingRecordDlg* page = RecordPage())
        page->EnsureDefaultStrategy();
}

void CCfgManagerDlg::RecordPageFillDevTree()
{
    if (CSettingRecordDlg* page = RecordPage())
        page->FillAllDevTree();
}

void CCfgManagerDlg::RecordPageShowScheme(RecScheme* scheme)
{
    if (CSettingRecordDlg* page = RecordPage())
        page->ShowScheme(scheme);
}

bool CCfgManagerDlg::HasRecordPage()
{
    return RecordPage() != nullptr;
}

void CCfgManagerDlg::EnsureDefaultStrategy()
{
    RecordPageEnsureDefault();
}

void CCfgManagerDlg::AddDeviceToDefaultStrategy(const DeviceInfo& device)
{
    if (CSettingRecordDlg* page = RecordPage())
        page->AddDeviceToDefaultStrategy(device);
}

bool CCfgManagerDlg::DefaultSchemeCreated()
{
    CSettingRecordDlg* page = RecordPage();
    return page && page->m_bDefaultSchemeCreated;
}

void CCfgManagerDlg::UpdateMaintDeviceName(const DeviceInfo&)
{
    // CSettingMaintDlg::UpdateDeviceName, once that page is built.
}

// --- look and keys ----------------------------------------------------------------

void CCfgManagerDlg::OnPaint()
{
    QPainter p(this);
    CRect rc;
    GetClientRect(&rc);
    m_gdi.DrawImageFile((GetAppDir() + "Images/Pagebk.jpg").c_str(), rc, &p);
}

BOOL CCfgManagerDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}
