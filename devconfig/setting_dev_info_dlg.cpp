// The device and group page: form, display operations, source/type/access
// reactions, group add/delete/rename, look and layout.
#include "devconfig/setting_dev_info_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/device_services.h"
#include "mainwnd/login_globals.h"
#include "media/control_wrappers.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_draw.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>

#include <cstring>

BEGIN_MESSAGE_MAP(CSettingDevInfoDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_GROUP_ADD, &CSettingDevInfoDlg::OnBnClickedBtnGroupAdd)
    ON_BN_CLICKED(IDC_BTN_GROUP_DEL, &CSettingDevInfoDlg::OnBnClickedBtnGroupDel)
    ON_BN_CLICKED(IDC_BTN_GROUP_MODIFY, &CSettingDevInfoDlg::OnBnClickedBtnGroupModify)
    ON_BN_CLICKED(IDC_BTN_DEV_ADD, &CSettingDevInfoDlg::OnBnClickedBtnDevAdd)
    ON_BN_CLICKED(IDC_BTN_DEV_DEL, &CSettingDevInfoDlg::OnBnClickedBtnDevDel)
    ON_BN_CLICKED(IDC_BTN_DEV_MODIFY, &CSettingDevInfoDlg::OnBnClickedBtnDevModify)
    ON_BN_CLICKED(IDC_RADIO_LOCAL, &CSettingDevInfoDlg::OnBnClickedRadioLocal)
    ON_BN_CLICKED(IDC_RADIO_P2P, &CSettingDevInfoDlg::OnBnClickedRadioP2P)
    ON_BN_CLICKED(IDC_RADIO_ONVIF, &CSettingDevInfoDlg::OnBnClickedRadioOnvif)
    ON_CBN_SELCHANGE(IDC_COMBO_DEVTYPE, &CSettingDevInfoDlg::OnCbnSelchangeDevType)
    ON_CBN_SELCHANGE(IDC_COMBO_VISITMOD, &CSettingDevInfoDlg::OnCbnSelchangeVisitMode)
END_MESSAGE_MAP()

namespace {

// Labels and their string ids, as the init handler captions them.
const struct {
    UINT id;
    unsigned str;
} kLabels[] = {
    {CSettingDevInfoDlg::IDC_STATIC_GROUP, 567},     {CSettingDevInfoDlg::IDC_STATIC_DEVNAME, 568},
    {CSettingDevInfoDlg::IDC_STATIC_DEVTYPE, 570},   {CSettingDevInfoDlg::IDC_STATIC_ADDR, 572},
    {CSettingDevInfoDlg::IDC_STATIC_VIDEOPORT, 573}, {CSettingDevInfoDlg::IDC_STATIC_PTZPORT, 574},
    {CSettingDevInfoDlg::IDC_STATIC_PTZADDR, 636},   {CSettingDevInfoDlg::IDC_STATIC_LOGIN, 575},
    {CSettingDevInfoDlg::IDC_STATIC_PSW, 576},       {CSettingDevInfoDlg::IDC_STATIC_VISITMOD, 627},
    {CSettingDevInfoDlg::IDC_STATIC_PROTOCOL, 569},  {CSettingDevInfoDlg::IDC_STATIC_STREAM, 571},
    {CSettingDevInfoDlg::IDC_STATIC_SOURCE, 1435},   {CSettingDevInfoDlg::IDC_STATIC_NOTE, 577},
    {CSettingDevInfoDlg::IDC_STATIC_GROUPNAME, 562}, {CSettingDevInfoDlg::IDC_STATIC_GROUPCFG, 561},
    {CSettingDevInfoDlg::IDC_STATIC_CFGINFO, 566},   {CSettingDevInfoDlg::IDC_STATIC_IP, 578},
    {CSettingDevInfoDlg::IDC_STATIC_MASK, 579},      {CSettingDevInfoDlg::IDC_STATIC_GATEWAY, 580},
    {CSettingDevInfoDlg::IDC_STATIC_DEVNUM, 584},    {CSettingDevInfoDlg::IDC_STATIC_SEARCH_PROTO, 1539},
    {CSettingDevInfoDlg::IDC_STATIC_PLT, 1431},      {CSettingDevInfoDlg::IDC_STATIC_PLT_DOMAIN, 1430},
};

const UINT kEdits[] = {
    CSettingDevInfoDlg::IDC_EDIT_DEVNAME,   CSettingDevInfoDlg::IDC_EDIT_ADDR,      CSettingDevInfoDlg::IDC_EDIT_VIDEOPORT,
    CSettingDevInfoDlg::IDC_EDIT_PTZPORT,   CSettingDevInfoDlg::IDC_EDIT_PTZADDR,   CSettingDevInfoDlg::IDC_EDIT_LOGIN,
    CSettingDevInfoDlg::IDC_EDIT_PSW,       CSettingDevInfoDlg::IDC_EDIT_GROUPNAME, CSettingDevInfoDlg::IDC_EDIT_IP,
    CSettingDevInfoDlg::IDC_EDIT_MASK,      CSettingDevInfoDlg::IDC_EDIT_GATEWAY,   CSettingDevInfoDlg::IDC_EDIT_DNS1,
    CSettingDevInfoDlg::IDC_EDIT_DNS2,      CSettingDevInfoDlg::IDC_EDIT_PLT_DOMAIN, CSettingDevInfoDlg::IDC_EDIT_PLT_USER,
    CSettingDevInfoDlg::IDC_EDIT_PLT_PSW,
};

// Skinned buttons: id, face PNG, caption string.
const struct {
    UINT id;
    UINT png;
    unsigned str;
} kButtons[] = {
    {CSettingDevInfoDlg::IDC_BTN_GROUP_ADD, 190, 563},    {CSettingDevInfoDlg::IDC_BTN_GROUP_DEL, 190, 564},
    {CSettingDevInfoDlg::IDC_BTN_GROUP_MODIFY, 190, 565}, {CSettingDevInfoDlg::IDC_BTN_DEV_ADD, 189, 563},
    {CSettingDevInfoDlg::IDC_BTN_DEV_DEL, 189, 564},      {CSettingDevInfoDlg::IDC_BTN_DEV_MODIFY, 189, 565},
    {CSettingDevInfoDlg::IDC_BTN_SEARCH, 190, 582},       {CSettingDevInfoDlg::IDC_BTN_BATCH_ADD, 190, 583},
    {CSettingDevInfoDlg::IDC_BTN_BATCH_ADDR, 190, 1498},  {CSettingDevInfoDlg::IDC_BTN_MODIFY_CAMERA, 190, 581},
    {CSettingDevInfoDlg::IDC_BTN_DEFAULT_CFG, 190, 827},  {CSettingDevInfoDlg::IDC_BTN_AUTO_GAIN, 190, 631},
    {CSettingDevInfoDlg::IDC_BTN_ONE_KEY_ADD, 190, 1542}, {CSettingDevInfoDlg::IDC_BTN_PLT_ADD, 190, 563},
};

bool HasHash(const std::string& s)
{
    return s.find('#') != std::string::npos;
}

} // namespace

CSettingDevInfoDlg::CSettingDevInfoDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(true);
}

CSettingDevInfoDlg::~CSettingDevInfoDlg()
{
    JoinOnvifQueries();
    if (m_pResultList)
        m_pResultList->DeleteAllItems();
    if (m_pMsgDlg) {
        m_pMsgDlg->DestroyWindow();
        delete m_pMsgDlg;
        m_pMsgDlg = nullptr;
    }
    if (m_pSearchCtrl) {
        m_pSearchCtrl->ReleaseDispatch();
        delete m_pSearchCtrl;
        m_pSearchCtrl = nullptr;
    }
}

void CSettingDevInfoDlg::CreateControls()
{
    resize(791, 718);
    for (UINT id : {IDC_FRAME_TOP, IDC_FRAME_BOTTOM}) {
        auto* box = new QGroupBox(this);
        qelm::SetControlId(box, id);
    }
    for (const auto& l : kLabels) {
        auto* label = new QLabel(this);
        qelm::SetControlId(label, l.id);
    }
    for (UINT id : {IDC_STATIC_DNS1, IDC_STATIC_DNS2, IDC_STATIC_COUNT, IDC_STATIC_PLT_USER, IDC_STATIC_PLT_PSW,
                    IDC_STATIC_PLT_NOTE}) {
        auto* label = new QLabel(this);
        qelm::SetControlId(label, id);
    }
    for (UINT id : kEdits) {
        auto* edit = new QLineEdit(this);
        qelm::SetControlId(edit, id);
    }
    GetDlgItemT<QLineEdit>(IDC_EDIT_PSW)->setEchoMode(QLineEdit::Password);
    for (UINT id : {IDC_COMBO_GROUP, IDC_COMBO_DEVTYPE, IDC_COMBO_VISITMOD, IDC_COMBO_PROTOCOL, IDC_COMBO_STREAM}) {
        auto* combo = new QComboBox(this);
        qelm::SetControlId(combo, id);
    }
    for (UINT id : {IDC_RADIO_LOCAL, IDC_RADIO_P2P, IDC_RADIO_ONVIF}) {
        auto* radio = new QRadioButton(this);
        radio->setAutoExclusive(false); // ticked by the handlers, as the form shows a record
        qelm::SetControlId(radio, id);
    }
    for (UINT id : {IDC_CHECK_ALL, IDC_CHECK_INVERT, IDC_CHECK_PRIVATE, IDC_CHECK_ONVIF}) {
        auto* check = new QCheckBox(this);
        qelm::SetControlId(check, id);
    }
    for (const auto& b : kButtons) {
        auto* button = new CGdipButton(this);
        qelm::SetControlId(button, b.id);
        m_buttons.push_back(button);
    }
    m_pResultList = new CReportCtrl(this);
    qelm::SetControlId(m_pResultList, IDC_LIST_RESULT);
}

std::string CSettingDevInfoDlg::Text(UINT id) const
{
    return GetDlgItemText(id);
}

int CSettingDevInfoDlg::ComboIndex(UINT id) const
{
    auto* c = GetDlgItemT<QComboBox>(id);
    return c ? c->currentIndex() : -1;
}

std::string CSettingDevInfoDlg::ComboText(UINT id) const
{
    auto* c = GetDlgItemT<QComboBox>(id);
    return c ? c->currentText().toStdString() : std::string();
}

void CSettingDevInfoDlg::FillCombo(UINT id, const std::vector<std::string>& items, int select)
{
    auto* c = GetDlgItemT<QComboBox>(id);
    const QSignalBlocker quiet(c);
    c->clear();
    for (const std::string& s : items)
        c->addItem(QString::fromStdString(s));
    c->setCurrentIndex(select < static_cast<int>(items.size()) ? select : -1);
}

void CSettingDevInfoDlg::Enable(UINT id, bool on)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(on);
}

void CSettingDevInfoDlg::SetAddrLabel(unsigned stringId)
{
    const std::string text = LoadResString(stringId);
    // Redrawn only when the text changes.
    if (Text(IDC_STATIC_ADDR) != text)
        SetDlgItemText(IDC_STATIC_ADDR, text.c_str());
}

bool CSettingDevInfoDlg::IsCloudLogin() const
{
    return g_DispInfoSetting.LoginType != 0;
}

void CSettingDevInfoDlg::ShowMsg(unsigned id)
{
    ShowText(LoadResString(id));
}

void CSettingDevInfoDlg::ShowText(const std::string& text)
{
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsg(text.c_str(), CResMsgDlg::MODE_INFO);
}

BOOL CSettingDevInfoDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (const auto& l : kLabels)
        SetDlgItemText(l.id, LoadResString(l.str).c_str());
    SetDlgItemText(IDC_STATIC_DNS1, "DNS1");
    SetDlgItemText(IDC_STATIC_DNS2, "DNS2");
    SetDlgItemText(IDC_RADIO_LOCAL, LoadResString(1436).c_str());
    SetDlgItemText(IDC_RADIO_P2P, LoadResString(1437).c_str());
    SetDlgItemText(IDC_RADIO_ONVIF, LoadResString(1543).c_str());
    SetDlgItemText(IDC_CHECK_ALL, LoadResString(585).c_str());
    SetDlgItemText(IDC_CHECK_INVERT, LoadResString(586).c_str());
    SetDlgItemText(IDC_CHECK_PRIVATE, LoadResString(1540).c_str());
    SetDlgItemText(IDC_CHECK_ONVIF, LoadResString(1541).c_str());
    GetDlgItemT<QGroupBox>(IDC_FRAME_TOP)->setTitle(QString::fromStdString(LoadResString(560)));
    GetDlgItemT<QGroupBox>(IDC_FRAME_BOTTOM)->setTitle(QString::fromStdString(LoadResString(560)));

    FillGroupCombo();
    FillCombo(IDC_COMBO_DEVTYPE, {"DVS", "IPC", "Decoder", LoadResString(1082), "NVR/DVR", "NVR-DOVRA"}, 1);
    FillCombo(IDC_COMBO_STREAM, {LoadResString(594), LoadResString(598)}, 0);
    FillCombo(IDC_COMBO_PROTOCOL, {"UDP", "TCP"}, 1);
    SetDlgItemText(IDC_EDIT_VIDEOPORT, "554");
    SetDlgItemText(IDC_EDIT_PTZPORT, "8091");
    std::vector<std::string> modes{"RTSP", "DOVRA"};
    if (g_bUseLoginSvr)
        modes.push_back("NAT");
    FillCombo(IDC_COMBO_VISITMOD, modes, 0);
    SetDlgItemText(IDC_STATIC_VISITMOD, LoadResString(627).c_str());
    for (const auto& b : kButtons) {
        auto* button = GetDlgItemT<CGdipButton>(b.id);
        button->LoadImageResource(b.png, "PNG");
        button->SetButtonText(LoadResString(b.str).c_str());
    }
    SetDlgItemText(IDC_STATIC_PTZADDR, LoadResString(636).c_str());
    for (UINT id : {IDC_BTN_MODIFY_CAMERA, IDC_BTN_DEFAULT_CFG, IDC_BTN_AUTO_GAIN, IDC_BTN_BATCH_ADDR})
        Enable(id, false);
    for (UINT id : {IDC_EDIT_GROUPNAME, IDC_EDIT_DEVNAME, IDC_EDIT_ADDR, IDC_EDIT_LOGIN, IDC_EDIT_PSW,
                    IDC_EDIT_PLT_USER, IDC_EDIT_PLT_PSW})
        GetDlgItemT<QLineEdit>(id)->setMaxLength(64);
    for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT})
        GetDlgItemT<QLineEdit>(id)->setMaxLength(5);
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(this);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    if (!m_pSearchCtrl) {
        m_pSearchCtrl = new CZizevaVEDCtrl;
        if (!m_pSearchCtrl->CreateDispatch())
            WriteLog(3, "CSettingDevInfoDlg::OnInitDialog(): camera search control not created");
    }
    if (IsCloudLogin())
        for (UINT id : {IDC_BTN_SEARCH, IDC_BTN_DEV_ADD, IDC_BTN_GROUP_ADD, IDC_BTN_GROUP_MODIFY, IDC_BTN_PLT_ADD,
                        IDC_BTN_ONE_KEY_ADD})
            Enable(id, false);
    CheckDlgButton(IDC_RADIO_LOCAL, 1);
    CheckDlgButton(IDC_RADIO_P2P, 0);
    for (UINT id : {IDC_STATIC_PLT, IDC_STATIC_PLT_DOMAIN, IDC_EDIT_PLT_DOMAIN, IDC_STATIC_PLT_USER,
                    IDC_STATIC_PLT_PSW, IDC_EDIT_PLT_USER, IDC_EDIT_PLT_PSW, IDC_BTN_PLT_ADD, IDC_STATIC_PLT_NOTE})
        GetDlgItem(id)->hide();
    CheckDlgButton(IDC_CHECK_PRIVATE, 1);
    m_bLaidOut = true;
    OnSize(0, width(), height());
    // The columns are sized from the list's laid-out width.
    InitSearchResultList();
    return TRUE;
}

void CSettingDevInfoDlg::InitSearchResultList()
{
    const int w = m_pResultList->width();
    char layout[512];
    std::snprintf(layout, sizeof layout, "%s,%d; %s,%d; %s,%d; DNS1,%d; DNS2,%d;%s,%d;%s,%d;MAC,%d",
                  LoadResString(578).c_str(), w / 4 - 20, LoadResString(579).c_str(), w / 4 - 30,
                  LoadResString(580).c_str(), w / 4 - 30, w / 4 - 35, w / 4 - 35, LoadResString(570).c_str(),
                  w / 4 + 10, LoadResString(593).c_str(), w / 4, w / 4);
    m_pResultList->SetColumnLayout(layout);
    m_pResultList->SetCheckboxMode(1);
    m_pResultList->SetEditable(TRUE);
    m_pResultList->SetGridLines(TRUE);
    m_pResultList->m_bAllowSort = TRUE;
}

void CSettingDevInfoDlg::OnStopSearch()
{
    // The search itself belongs to the camera-search code; nothing runs here yet.
}

void CSettingDevInfoDlg::FillGroupCombo()
{
    std::vector<std::string> names;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            names.emplace_back(g.GroupName);
    }
    FillCombo(IDC_COMBO_GROUP, names, 0);
}

void CSettingDevInfoDlg::SelectGroupEntry(const char* name)
{
    auto* c = GetDlgItemT<QComboBox>(IDC_COMBO_GROUP);
    for (int i = 0; i < c->count(); ++i)
        if (c->itemText(i).toStdString() == name) {
            c->setCurrentIndex(i);
            return;
        }
}

void CSettingDevInfoDlg::DisplayDevInfo(const DeviceInfo* dev)
{
    WriteLog(6, "CSettingDevInfoDlg::DisplayDevInfo(): Begin...");
    for (UINT id : {IDC_EDIT_ADDR, IDC_EDIT_VIDEOPORT, IDC_EDIT_LOGIN, IDC_EDIT_PSW, IDC_COMBO_VISITMOD,
                    IDC_EDIT_PTZADDR, IDC_COMBO_DEVTYPE, IDC_COMBO_GROUP})
        Enable(id, true);
    std::memset(&m_DevInfo, 0, sizeof m_DevInfo);
    auto* type = GetDlgItemT<QComboBox>(IDC_COMBO_DEVTYPE);
    auto* visit = GetDlgItemT<QComboBox>(IDC_COMBO_VISITMOD);
    if (!dev) {
        SetDlgItemText(IDC_EDIT_ADDR, "");
        visit->setCurrentIndex(0);
        FillCombo(IDC_COMBO_PROTOCOL, {"UDP", "TCP"}, 1);
        type->setCurrentIndex(1);
        SetDlgItemText(IDC_EDIT_VIDEOPORT, "554");
        SetDlgItemText(IDC_EDIT_PTZPORT, "8091");
        for (UINT id : {IDC_EDIT_DEVNAME, IDC_EDIT_LOGIN, IDC_EDIT_PSW})
            SetDlgItemText(id, "");
        for (UINT id : {IDC_COMBO_STREAM, IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT})
            Enable(id, true);
        return;
    }
    m_DevInfo = *dev;
    if (dev->nPltDev != 0) {
        OnBnClickedRadioP2P();
        CheckDlgButton(IDC_RADIO_LOCAL, 0);
        CheckDlgButton(IDC_RADIO_P2P, 1);
        CheckDlgButton(IDC_RADIO_ONVIF, 0);
        Enable(IDC_BTN_DEV_MODIFY, true);
        SetDlgItemText(IDC_EDIT_ADDR, dev->DevDomainName);
        SetDlgItemText(IDC_EDIT_LOGIN, dev->LoginName);
        SelectGroupEntry(dev->GroupName);
        return;
    }
    if (dev->OnvifDev == 1) {
        OnBnClickedRadioOnvif();
        CheckDlgButton(IDC_RADIO_LOCAL, 0);
        CheckDlgButton(IDC_RADIO_P2P, 0);
        CheckDlgButton(IDC_RADIO_ONVIF, 1);
        Enable(IDC_COMBO_DEVTYPE, false);
        Enable(IDC_EDIT_VIDEOPORT, false);
        SetDlgItemText(IDC_EDIT_LOGIN, dev->LoginName);
        SetDlgItemText(IDC_EDIT_PSW, dev->LoginPsw);
        SetDlgItemText(IDC_EDIT_DEVNAME, dev->DevName);
        SetDlgItemText(IDC_EDIT_ADDR, dev->IPAddr);
        SelectGroupEntry(dev->GroupName);
        return;
    }
    OnBnClickedRadioLocal();
    CheckDlgButton(IDC_RADIO_LOCAL, 1);
    CheckDlgButton(IDC_RADIO_P2P, 0);
    CheckDlgButton(IDC_RADIO_ONVIF, 0);
    Enable(IDC_BTN_DEV_MODIFY, true);
    visit->setCurrentIndex(dev->VisitMod >= 0 && dev->VisitMod < visit->count() ? dev->VisitMod : -1);
    if (dev->VisitMod == 2) {
        SetAddrLabel(628);
        SetDlgItemText(IDC_EDIT_ADDR, dev->DevSN);
    } else {
        SetAddrLabel(572);
        SetDlgItemText(IDC_EDIT_ADDR, dev->IPAddr);
    }
    if (dev->VisitMod == 1)
        FillCombo(IDC_COMBO_PROTOCOL, {LoadResString(632), LoadResString(633), "TCP"}, dev->RtpOverRtsp);
    else
        FillCombo(IDC_COMBO_PROTOCOL, {"UDP", "TCP"}, dev->RtpOverRtsp);
    SelectGroupEntry(dev->GroupName);
    SetDlgItemText(IDC_EDIT_DEVNAME, dev->DevName);
    SetDlgItemText(IDC_EDIT_VIDEOPORT, dev->VideoPort == 0 ? "554" : std::to_string(dev->VideoPort).c_str());
    int ptz = dev->PtzPort == 0 ? 8091 : dev->DevType == 4 ? dev->CfgPort : dev->PtzPort;
    SetDlgItemText(IDC_EDIT_PTZPORT, std::to_string(ptz).c_str());
    SetDlgItemText(IDC_EDIT_PTZADDR, std::to_string(dev->PtzAddr).c_str());
    SetDlgItemText(IDC_EDIT_LOGIN, dev->LoginName);
    SetDlgItemText(IDC_EDIT_PSW, dev->LoginPsw);

    const int index = dev->DevType == 4 && dev->DovraNvr == 1 ? 5 : dev->DevType;
    {
        const QSignalBlocker quiet(type);
        type->setCurrentIndex(index >= 0 && index < type->count() ? index : -1);
    }
    if (dev->DevType == 4) {
        Enable(IDC_COMBO_VISITMOD, false);
        SetDlgItemText(IDC_STATIC_PTZPORT, LoadResString(1445).c_str());
    } else {
        Enable(IDC_COMBO_VISITMOD, true);
        SetDlgItemText(IDC_STATIC_PTZPORT, LoadResString(574).c_str());
    }
    if (dev->DevType == 0) {
        std::vector<std::string> streams{LoadResString(587)};
        for (unsigned id = 588; id <= 592; ++id)
            streams.push_back(LoadResString(id));
        FillCombo(IDC_COMBO_STREAM, streams, 0);
        Enable(IDC_COMBO_STREAM, false);
        Enable(IDC_EDIT_VIDEOPORT, true);
        Enable(IDC_EDIT_PTZPORT, true);
    } else {
        FillCombo(IDC_COMBO_STREAM, {LoadResString(594), LoadResString(598)},
                  std::strcmp(dev->DefRes, "cif") == 0 ? 0 : 1);
        Enable(IDC_COMBO_STREAM, true);
        if (dev->DevType == 2 || dev->DevType == 5) {
            SetDlgItemText(IDC_EDIT_VIDEOPORT, "");
            Enable(IDC_EDIT_VIDEOPORT, false);
            Enable(IDC_COMBO_STREAM, false);
        } else {
            for (UINT id : {IDC_COMBO_STREAM, IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT})
                Enable(id, true);
        }
    }
    WriteLog(6, "CSettingDevInfoDlg::DisplayDevInfo(): End.");
}

void CSettingDevInfoDlg::DisplayGroupInfo(const DevGroupInfo* group)
{
    for (UINT id : {IDC_EDIT_ADDR, IDC_EDIT_VIDEOPORT, IDC_EDIT_LOGIN, IDC_EDIT_PSW, IDC_COMBO_DEVTYPE,
                    IDC_COMBO_GROUP})
        Enable(id, true);
    if (group) {
        std::memset(&m_GroupInfo, 0, sizeof m_GroupInfo);
        m_GroupInfo = *group;
    }
    SetDlgItemText(IDC_EDIT_GROUPNAME, m_GroupInfo.GroupName);
    SelectGroupEntry(m_GroupInfo.GroupName);
    Enable(IDC_BTN_GROUP_DEL, m_GroupInfo.nType != 1);
    Enable(IDC_BTN_GROUP_MODIFY, true);
    if (IsCloudLogin())
        for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_EDIT_ADDR, IDC_COMBO_GROUP, IDC_COMBO_PROTOCOL,
                        IDC_COMBO_DEVTYPE})
            Enable(id, false);
    if (m_DevInfo.OnvifDev == 1) {
        Enable(IDC_COMBO_DEVTYPE, false);
        Enable(IDC_EDIT_VIDEOPORT, false);
    }
}

void CSettingDevInfoDlg::DisplayVssInfo(const char* name)
{
    auto* type = GetDlgItemT<QComboBox>(IDC_COMBO_DEVTYPE);
    {
        const QSignalBlocker quiet(type);
        type->setCurrentIndex(3);
    }
    for (UINT id : {IDC_COMBO_VISITMOD, IDC_EDIT_PTZPORT, IDC_EDIT_PTZADDR, IDC_COMBO_STREAM, IDC_COMBO_GROUP})
        Enable(id, false);
    for (const Qelm2Node& s : g_lstRelayServer) {
        if (!name || std::strcmp(s.DevName, name) != 0)
            continue;
        SetDlgItemText(IDC_EDIT_DEVNAME, s.DevName);
        SetDlgItemText(IDC_EDIT_ADDR, s.IPAddr);
        SetDlgItemText(IDC_EDIT_VIDEOPORT, std::to_string(s.nPort).c_str());
        SetDlgItemText(IDC_EDIT_LOGIN, s.LoginName);
        SetDlgItemText(IDC_EDIT_PSW, s.Password);
        for (UINT id : {IDC_EDIT_ADDR, IDC_EDIT_VIDEOPORT, IDC_EDIT_LOGIN, IDC_EDIT_PSW, IDC_COMBO_DEVTYPE})
            Enable(id, false);
        return;
    }
}

void CSettingDevInfoDlg::ClearDevInfo()
{
    for (UINT id : {IDC_EDIT_ADDR, IDC_EDIT_VIDEOPORT, IDC_EDIT_LOGIN, IDC_EDIT_PSW, IDC_COMBO_DEVTYPE})
        Enable(id, true);
    Enable(IDC_COMBO_GROUP, false);
    for (UINT id : {IDC_EDIT_DEVNAME, IDC_EDIT_ADDR, IDC_EDIT_VIDEOPORT, IDC_EDIT_LOGIN, IDC_EDIT_PSW})
        SetDlgItemText(id, "");
}

void CSettingDevInfoDlg::GetDefaultGroupName(char* out)
{
    if (!out)
        return;
    qelm::CsLock lock(g_csDevList);
    const DevGroupInfo* pick = nullptr;
    for (const DevGroupInfo& g : g_lstDevGroupInfo)
        if (g.nType == 1) {
            pick = &g;
            break;
        }
    if (!pick && !g_lstDevGroupInfo.empty())
        pick = &g_lstDevGroupInfo.front();
    if (pick)
        qelm::CopyBounded(out, 256, pick->GroupName);
}

// --- source, type and access-mode reactions ---------------------------------

void CSettingDevInfoDlg::OnBnClickedRadioLocal()
{
    m_nDevSource = kDevSourceLocal;
    for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_COMBO_GROUP, IDC_COMBO_PROTOCOL, IDC_COMBO_DEVTYPE,
                    IDC_COMBO_VISITMOD, IDC_EDIT_PTZADDR, IDC_EDIT_DEVNAME, IDC_COMBO_STREAM})
        Enable(id, true);
    SetDlgItemText(IDC_STATIC_ADDR, LoadResString(572).c_str());
    CheckDlgButton(IDC_RADIO_LOCAL, 1);
    CheckDlgButton(IDC_RADIO_P2P, 0);
    CheckDlgButton(IDC_RADIO_ONVIF, 0);
}

void CSettingDevInfoDlg::OnBnClickedRadioP2P()
{
    m_nDevSource = kDevSourceP2P;
    for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_COMBO_PROTOCOL, IDC_COMBO_DEVTYPE, IDC_COMBO_VISITMOD,
                    IDC_EDIT_PTZADDR, IDC_EDIT_DEVNAME, IDC_COMBO_STREAM})
        Enable(id, false);
    SetDlgItemText(IDC_STATIC_ADDR, LoadResString(1430).c_str());
    SetDlgItemText(IDC_EDIT_LOGIN, "admin");
    SetDlgItemText(IDC_EDIT_PSW, "580317");
    CheckDlgButton(IDC_RADIO_LOCAL, 0);
    CheckDlgButton(IDC_RADIO_P2P, 1);
    CheckDlgButton(IDC_RADIO_ONVIF, 0);
}

void CSettingDevInfoDlg::OnBnClickedRadioOnvif()
{
    m_nDevSource = kDevSourceOnvif;
    Enable(IDC_EDIT_DEVNAME, true);
    for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_COMBO_PROTOCOL, IDC_COMBO_DEVTYPE, IDC_COMBO_VISITMOD,
                    IDC_EDIT_PTZADDR, IDC_COMBO_STREAM})
        Enable(id, false);
    SetDlgItemText(IDC_STATIC_ADDR, LoadResString(1430).c_str());
    SetDlgItemText(IDC_EDIT_LOGIN, "admin");
    SetDlgItemText(IDC_EDIT_PSW, "580317");
    CheckDlgButton(IDC_RADIO_LOCAL, 0);
    CheckDlgButton(IDC_RADIO_P2P, 0);
    CheckDlgButton(IDC_RADIO_ONVIF, 1);
}

void CSettingDevInfoDlg::OnCbnSelchangeDevType()
{
    const int t = ComboIndex(IDC_COMBO_DEVTYPE);
    FillCombo(IDC_COMBO_STREAM, {}, -1);
    SetDlgItemText(IDC_STATIC_PTZPORT, LoadResString(t == 4 || t == 5 ? 1445 : 574).c_str());
    if (t == 3) {
        for (UINT id : {IDC_COMBO_VISITMOD, IDC_EDIT_PTZPORT, IDC_EDIT_PTZADDR, IDC_COMBO_STREAM, IDC_COMBO_GROUP})
            Enable(id, false);
        Enable(IDC_EDIT_VIDEOPORT, true);
        SetDlgItemText(IDC_EDIT_VIDEOPORT, "8899");
        return;
    }
    for (UINT id : {IDC_COMBO_PROTOCOL, IDC_EDIT_PTZADDR, IDC_COMBO_VISITMOD, IDC_EDIT_PTZPORT, IDC_COMBO_STREAM,
                    IDC_COMBO_GROUP})
        Enable(id, true);
    SetDlgItemText(IDC_EDIT_VIDEOPORT, "554");
    const std::vector<std::string> subMain{LoadResString(594), LoadResString(598)};
    switch (t) {
    case 1:
        FillCombo(IDC_COMBO_STREAM, subMain, 1);
        for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_COMBO_STREAM})
            Enable(id, true);
        SetDlgItemText(IDC_EDIT_PTZPORT, "8091");
        break;
    case 0: {
        std::vector<std::string> streams{LoadResString(587)};
        for (unsigned id = 588; id <= 592; ++id)
            streams.push_back(LoadResString(id));
        FillCombo(IDC_COMBO_STREAM, streams, 0);
        Enable(IDC_COMBO_STREAM, false);
        Enable(IDC_EDIT_VIDEOPORT, true);
        Enable(IDC_EDIT_PTZPORT, true);
        SetDlgItemText(IDC_EDIT_PTZPORT, "8091");
        break;
    }
    case 2:
        FillCombo(IDC_COMBO_STREAM, subMain, 1);
        SetDlgItemText(IDC_EDIT_VIDEOPORT, "");
        Enable(IDC_EDIT_VIDEOPORT, false);
        Enable(IDC_COMBO_STREAM, false);
        SetDlgItemText(IDC_EDIT_PTZPORT, "8091");
        break;
    case 4:
    case 5: {
        FillCombo(IDC_COMBO_STREAM, subMain, 1);
        auto* visit = GetDlgItemT<QComboBox>(IDC_COMBO_VISITMOD);
        {
            const QSignalBlocker quiet(visit);
            visit->setCurrentIndex(1);
        }
        Enable(IDC_COMBO_VISITMOD, false);
        FillCombo(IDC_COMBO_PROTOCOL, {LoadResString(632), LoadResString(633), "TCP"}, 2);
        Enable(IDC_COMBO_PROTOCOL, false);
        SetDlgItemText(IDC_EDIT_VIDEOPORT, m_nDevSource == kDevSourceLocal ? "555" : "556");
        SetDlgItemText(IDC_EDIT_PTZPORT, "556");
        for (UINT id : {IDC_EDIT_VIDEOPORT, IDC_EDIT_PTZPORT, IDC_COMBO_STREAM})
            Enable(id, true);
        break;
    }
    default:
        break;
    }
}

void CSettingDevInfoDlg::OnCbnSelchangeVisitMode()
{
    const bool wasTcp = ComboText(IDC_COMBO_PROTOCOL) == "TCP";
    if (ComboIndex(IDC_COMBO_VISITMOD) == 1)
        FillCombo(IDC_COMBO_PROTOCOL, {LoadResString(632), LoadResString(633), "TCP"}, wasTcp ? 2 : 0);
    else
        FillCombo(IDC_COMBO_PROTOCOL, {"UDP", "TCP"}, wasTcp ? 1 : 0);
}

// --- groups -------------------------------------------------------------------

void CSettingDevInfoDlg::OnBnClickedBtnGroupAdd()
{
    const std::string name = Text(IDC_EDIT_GROUPNAME);
    if (name.empty())
        return ShowMsg(595);
    {
        qelm::CsLock lock(g_csDevList);
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            if (name == g.GroupName)
                return ShowMsg(596);
        if (HasHash(name))
            return ShowMsg(630);
        DevGroupInfo g{};
        qelm::CopyBounded(g.GroupName, sizeof g.GroupName, name);
        g_lstDevGroupInfo.push_back(g);
    }
    FillGroupCombo();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(597);
    SaveDevInfo();
}

void CSettingDevInfoDlg::OnBnClickedBtnGroupDel()
{
    const std::string name = Text(IDC_EDIT_GROUPNAME);
    if (name.empty())
        return ShowMsg(599);
    bool isDefault = false;
    bool found = false;
    std::string target;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            if (name == g.GroupName) {
                found = true;
                isDefault = g.nType == 1;
                break;
            }
        // The devices move to a group that stays.
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            if (g.nType == 1 && name != g.GroupName) {
                target = g.GroupName;
                break;
            }
        if (target.empty())
            for (const DevGroupInfo& g : g_lstDevGroupInfo)
                if (name != g.GroupName) {
                    target = g.GroupName;
                    break;
                }
    }
    if (!found)
        return ShowMsg(602);
    // The default group, or the last one, has nowhere to send its devices.
    if (isDefault || target.empty())
        return ShowMsg(1442);
    const std::string question = LoadResString(600);
    if (MessageBoxA(qelm::HandleOf(this), question.c_str(), "Corvane", MB_OKCANCEL | MB_ICONWARNING) != IDOK)
        return;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (name == d.GroupName)
                qelm::CopyBounded(d.GroupName, sizeof d.GroupName, target);
        g_lstDevGroupInfo.remove_if([&](const DevGroupInfo& g) { return name == g.GroupName; });
    }
    FillGroupCombo();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(601);
    SaveDevInfo();
    std::memset(&m_GroupInfo, 0, sizeof m_GroupInfo);
    SetDlgItemText(IDC_EDIT_GROUPNAME, "");
}

void CSettingDevInfoDlg::OnBnClickedBtnGroupModify()
{
    if (!m_GroupInfo.GroupName[0])
        return ShowMsg(603);
    if (std::strcmp(m_GroupInfo.GroupName, "Default") == 0)
        return ShowMsg(1442);
    const std::string name = Text(IDC_EDIT_GROUPNAME);
    if (name.empty())
        return ShowMsg(604);
    if (HasHash(name))
        return ShowMsg(630);
    const std::string old = m_GroupInfo.GroupName;
    {
        qelm::CsLock lock(g_csDevList);
        DevGroupInfo* record = nullptr;
        for (DevGroupInfo& g : g_lstDevGroupInfo) {
            if (name == g.GroupName)
                return ShowMsg(596);
            if (!record && old == g.GroupName)
                record = &g;
        }
        // Without its group record a rename would only scatter the devices.
        if (!record)
            return ShowMsg(606);
        for (DeviceInfo& d : g_lstDevInfo)
            if (old == d.GroupName)
                qelm::CopyBounded(d.GroupName, sizeof d.GroupName, name);
        qelm::CopyBounded(record->GroupName, sizeof record->GroupName, name);
    }
    FillGroupCombo();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(605);
    SaveDevInfo();
    qelm::CopyBounded(m_GroupInfo.GroupName, sizeof m_GroupInfo.GroupName, name);
}

// --- look ---------------------------------------------------------------------

void CSettingDevInfoDlg::OnPaint()
{
    QPainter p(this);
    CRect rc;
    GetClientRect(&rc);
    CGdiManger gdi;
    gdi.DrawImageFile((GetAppDir() + "Images/Pagebk.jpg").c_str(), rc, &p);
}

BOOL CSettingDevInfoDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    if (pMsg->message == WM_SYSKEYDOWN && pMsg->wParam == 0x73 /* F4 */)
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSettingDevInfoDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (!m_bLaidOut)
        return;
    auto place = [this](UINT id, int x, int y, int w, int h) {
        if (QWidget* c = GetDlgItem(id))
            c->setGeometry(x, y, w, h);
    };
    const int half = (cy - 25) / 2;
    place(IDC_FRAME_TOP, 7, 5, cx - 14, half);
    const int lowTop = cy / 2 + 15;
    place(IDC_FRAME_BOTTOM, 7, lowTop, cx - 14, half);

    // Upper half: label/field pairs in three columns, rows 28 px apart.
    const int col[6] = {30, 135, 297, 360, 520, 615};
    // The third column's label ends where its field starts.
    const int labelW[3] = {105, 60, 95};
    auto row = [&](int r) { return 30 + r * 28; };
    auto pair = [&](int r, int c, UINT label, UINT field) {
        place(label, col[c * 2], row(r) + 3, labelW[c], 20);
        place(field, col[c * 2 + 1], row(r), 150, 22);
    };
    place(IDC_STATIC_SOURCE, col[0], row(0) + 3, labelW[0], 20);
    place(IDC_RADIO_LOCAL, col[1], row(0), 150, 22);
    place(IDC_RADIO_P2P, col[3], row(0), 150, 22);
    place(IDC_RADIO_ONVIF, col[5], row(0), 150, 22);
    pair(1, 0, IDC_STATIC_GROUP, IDC_COMBO_GROUP);
    pair(1, 1, IDC_STATIC_DEVNAME, IDC_EDIT_DEVNAME);
    pair(1, 2, IDC_STATIC_DEVTYPE, IDC_COMBO_DEVTYPE);
    pair(2, 0, IDC_STATIC_ADDR, IDC_EDIT_ADDR);
    pair(2, 1, IDC_STATIC_VIDEOPORT, IDC_EDIT_VIDEOPORT);
    pair(2, 2, IDC_STATIC_PTZPORT, IDC_EDIT_PTZPORT);
    pair(3, 0, IDC_STATIC_LOGIN, IDC_EDIT_LOGIN);
    pair(3, 1, IDC_STATIC_PSW, IDC_EDIT_PSW);
    pair(3, 2, IDC_STATIC_PTZADDR, IDC_EDIT_PTZADDR);
    pair(4, 0, IDC_STATIC_VISITMOD, IDC_COMBO_VISITMOD);
    pair(4, 1, IDC_STATIC_PROTOCOL, IDC_COMBO_PROTOCOL);
    pair(4, 2, IDC_STATIC_STREAM, IDC_COMBO_STREAM);
    place(IDC_BTN_DEV_ADD, col[1], row(5) + 4, 77, 28);
    place(IDC_BTN_DEV_DEL, col[1] + 82, row(5) + 4, 77, 28);
    place(IDC_BTN_DEV_MODIFY, col[1] + 164, row(5) + 4, 77, 28);
    place(IDC_STATIC_NOTE, col[4], row(5) + 8, 250, 20);
    place(IDC_STATIC_GROUPCFG, col[0], row(6) + 10, 250, 20);
    place(IDC_STATIC_GROUPNAME, col[0], row(7) + 6, labelW[0], 20);
    place(IDC_EDIT_GROUPNAME, col[1], row(7) + 3, 150, 22);
    place(IDC_BTN_GROUP_ADD, col[2], row(7), 77, 28);
    place(IDC_BTN_GROUP_DEL, col[2] + 82, row(7), 77, 28);
    place(IDC_BTN_GROUP_MODIFY, col[2] + 164, row(7), 77, 28);
    place(IDC_STATIC_CFGINFO, col[0], 12, 1, 1);

    // Lower half: address row, DNS row with the camera tools, tool row, list.
    const int y1 = lowTop + 25;
    auto lower = [&](int r, int c, UINT label, UINT field) {
        place(label, col[c * 2], y1 + r * 28 + 3, labelW[c], 20);
        place(field, col[c * 2 + 1], y1 + r * 28, 150, 22);
    };
    lower(0, 0, IDC_STATIC_IP, IDC_EDIT_IP);
    lower(0, 1, IDC_STATIC_MASK, IDC_EDIT_MASK);
    lower(0, 2, IDC_STATIC_GATEWAY, IDC_EDIT_GATEWAY);
    // The DNS row is narrower, so that the four camera tools fit beside it
    // on a 1024-pixel screen.
    place(IDC_STATIC_DNS1, col[0], y1 + 28 + 3, labelW[0], 20);
    place(IDC_EDIT_DNS1, col[1], y1 + 28, 120, 22);
    place(IDC_STATIC_DNS2, 262, y1 + 28 + 3, 60, 20);
    place(IDC_EDIT_DNS2, 325, y1 + 28, 120, 22);
    int x = 455;
    for (UINT id : {IDC_BTN_AUTO_GAIN, IDC_BTN_MODIFY_CAMERA, IDC_BTN_DEFAULT_CFG, IDC_BTN_BATCH_ADDR}) {
        place(id, x, y1 + 28 - 3, 77, 28);
        x += 79;
    }
    const int toolY = y1 + 2 * 28 + 6;
    place(IDC_STATIC_DEVNUM, col[0], toolY + 4, 80, 20);
    place(IDC_STATIC_COUNT, col[0] + 82, toolY + 4, 30, 20);
    place(IDC_STATIC_SEARCH_PROTO, col[0] + 116, toolY + 4, 80, 20);
    place(IDC_CHECK_PRIVATE, col[0] + 198, toolY + 4, 70, 20);
    place(IDC_CHECK_ONVIF, col[0] + 270, toolY + 4, 60, 20);
    // Right-aligned: batch add, search, all, invert, one-key add.
    x = cx - 20 - 77;
    place(IDC_BTN_BATCH_ADD, x, toolY, 77, 28);
    x -= 80;
    place(IDC_BTN_SEARCH, x, toolY, 77, 28);
    x -= 56;
    place(IDC_CHECK_ALL, x, toolY + 4, 52, 20);
    x -= 56;
    place(IDC_CHECK_INVERT, x, toolY + 4, 52, 20);
    x -= 80;
    place(IDC_BTN_ONE_KEY_ADD, x, toolY, 77, 28);
    const int listTop = toolY + 34;
    place(IDC_LIST_RESULT, 17, listTop, cx - 34, std::max(40, lowTop + half - listTop - 8));
}
