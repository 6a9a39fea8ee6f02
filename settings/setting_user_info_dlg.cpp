#include "settings/setting_user_info_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "devices/device_services.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/login_logic.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPainter>

#include <cstring>

namespace {

constexpr const char kConfirmCaption[] = "Corvane";

enum Kind { kLabel, kGroup, kEdit, kPassword, kCombo, kCheck, kButton };

struct Ctrl {
    UINT id;
    Kind kind;
    UINT text;
};

// Template 144; places come from the size handler.
constexpr Ctrl kControls[] = {
    {1076, kGroup, 650},  {1097, kLabel, 651},  {1099, kEdit, 0},     {1098, kLabel, 652},  {1079, kCombo, 0},
    {1080, kButton, 653}, {1081, kButton, 654}, {1082, kButton, 655}, {1077, kGroup, 656},  {1100, kLabel, 657},
    {1083, kEdit, 0},     {1101, kLabel, 658},  {1085, kCombo, 0},    {1102, kLabel, 659},  {1084, kPassword, 0},
    {1103, kLabel, 660},  {1086, kPassword, 0}, {1087, kButton, 661}, {1088, kButton, 662}, {1089, kButton, 663},
    {1078, kGroup, 664},  {1104, kLabel, 665},  {1106, kEdit, 0},     {1105, kLabel, 666},  {1006, kCheck, 667},
    {1011, kCheck, 668},  {1090, kCheck, 669},  {1091, kCheck, 670},  {1092, kCheck, 671},  {1093, kCheck, 672},
    {1094, kButton, 673}, {1095, kButton, 674}, {1096, kButton, 675}, {1353, kGroup, 720},  {1354, kLabel, 721},
    {1048, kEdit, 0},     {1352, kButton, 722},
};

std::string Field(const char* text, std::size_t size)
{
    return std::string(text, strnlen(text, size));
}

template <std::size_t N>
void Put(char (&field)[N], const std::string& text)
{
    qelm::CopyBounded(field, N, text);
}

template <std::size_t N>
std::string Get(const char (&field)[N])
{
    return Field(field, N);
}

} // namespace

BEGIN_MESSAGE_MAP(CSettingUserInfoDlg, CDialog)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_ADD_GROUP, &CSettingUserInfoDlg::OnBnClickedBtnAddGroup)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_DEL_GROUP, &CSettingUserInfoDlg::OnBnClickedBtnDelGroup)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_MODIFY_GROUP, &CSettingUserInfoDlg::OnBnClickedBtnModifyGroup)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_ADD_USER, &CSettingUserInfoDlg::OnBnClickedBtnAddUser)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_DEL_USER, &CSettingUserInfoDlg::OnBnClickedBtnDelUser)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_MODIFY_USER, &CSettingUserInfoDlg::OnBnClickedBtnModifyUser)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_ADD_ROLE, &CSettingUserInfoDlg::OnBnClickedBtnAddRole)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_DEL_ROLE, &CSettingUserInfoDlg::OnBnClickedBtnDelRole)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_MODIFY_ROLE, &CSettingUserInfoDlg::OnBnClickedBtnModifyRole)
    ON_BN_CLICKED(CSettingUserInfoDlg::IDC_BTN_SAVE_TITLE, &CSettingUserInfoDlg::OnBnClickedBtnSaveTitle)
END_MESSAGE_MAP()

CSettingUserInfoDlg::CSettingUserInfoDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(pParent != nullptr);
}

CSettingUserInfoDlg::~CSettingUserInfoDlg()
{
    delete m_pMsgDlg;
}

void CSettingUserInfoDlg::CreateControls()
{
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);
    for (const Ctrl& c : kControls) {
        QWidget* w = nullptr;
        switch (c.kind) {
        case kLabel: w = new CTransparentStatic(this); break;
        case kGroup: w = new QGroupBox(this); break;
        case kEdit: w = new QLineEdit(this); break;
        case kPassword: {
            auto* e = new QLineEdit(this);
            e->setEchoMode(QLineEdit::Password);
            // Anything typed is a new password, never the shown digest.
            QObject::connect(e, &QLineEdit::textEdited, this, [this] { m_bPswShown = false; });
            w = e;
            break;
        }
        case kCombo: {
            auto* combo = new QComboBox(this);
            w = combo;
            break;
        }
        case kCheck: w = new QCheckBox(this); break;
        case kButton: w = new CGdipButton(this); break;
        }
        qelm::SetControlId(w, c.id);
    }
    GetDlgItem(IDC_CHECK_HIGH)->hide(); // hidden by the template, read and written all the same
    resize(1000, 600);
}

BOOL CSettingUserInfoDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(this);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    FillRoleCombo();
    FillGroupCombo();
    for (const Ctrl& c : kControls) {
        if (!c.text)
            continue;
        if (c.kind == kButton) {
            auto* b = GetDlgItemT<CGdipButton>(c.id);
            b->LoadImageResource(190, "PNG");
            b->SetButtonTextW(LoadResStringW(c.text).c_str());
        } else {
            SetDlgItemText(c.id, LoadResString(c.text).c_str());
        }
    }
    // The fields hold 255 characters of a name and 99 of a password.
    for (UINT id : {IDC_EDIT_GROUP, IDC_EDIT_USER, IDC_EDIT_ROLE})
        GetDlgItemT<QLineEdit>(id)->setMaxLength(kNameChars);
    for (UINT id : {IDC_EDIT_PSW, IDC_EDIT_PSW2})
        GetDlgItemT<QLineEdit>(id)->setMaxLength(kPasswordChars);
    SetDlgItemText(IDC_EDIT_TITLE, g_strDispInfo.c_str());
    m_bInitialised = true;
    CRect rc;
    GetClientRect(&rc);
    Layout(rc.Width(), rc.Height());
    return TRUE;
}

BOOL CSettingUserInfoDlg::PreTranslateMessage(MSG* pMsg)
{
    // A child page must never close itself.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return TRUE;
    if (pMsg->wParam == VK_F4 && (pMsg->lParam & (1 << 29)))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSettingUserInfoDlg::OnPaint()
{
    QPainter painter(this);
    CRect rc;
    GetClientRect(&rc);
    m_gdi.DrawImageFile((GetAppDir() + "Images\\Pagebk.jpg").c_str(), rc, &painter);
}

void CSettingUserInfoDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (m_bInitialised)
        Layout(cx, cy);
}

void CSettingUserInfoDlg::Layout(int W, int H)
{
    const int A = (H - 55) / 4, B = (2 * H - 110) / 4, C = (3 * H - 165) / 4;
    auto move = [this](UINT id, int x, int y, int w, int h) {
        if (QWidget* c = GetDlgItem(id)) {
            c->setGeometry(x, y, w, h);
            c->update();
        }
    };
    move(1076, 3, 0, W - 14, A);
    move(1097, 10, 30, 130, 23);
    move(1099, 145, 30, 130, 23);
    move(1098, 290, 30, 160, 23);
    move(1079, 450, 30, 150, 23); // the drop-down's list opens below it
    move(1082, 19, 70, 77, 28);
    move(1081, 101, 70, 77, 28);
    move(1080, 183, 70, 77, 28);
    move(1077, 3, A + 25, W - 14, A);
    move(1100, 14, A + 55, 60, 23);
    move(1083, 95, A + 55, 150, 23);
    move(1101, 250, A + 55, 150, 23);
    move(1085, 385, A + 55, 150, 23);
    move(1102, 14, A + 85, 80, 23);
    move(1084, 95, A + 85, 150, 23);
    move(1103, 250, A + 85, 150, 23);
    move(1086, 385, A + 85, 150, 23);
    move(1089, 19, A + 125, 77, 28);
    move(1088, 101, A + 125, 77, 28);
    move(1087, 183, A + 125, 77, 28);
    move(1078, 3, B + 50, W - 14, A);
    move(1104, 14, B + 80, 100, 23);
    move(1106, 120, B + 80, 150, 23);
    const UINT rights[6] = {1105, 1006, 1011, 1090, 1092, 1091};
    const bool wide = g_nScreenWidth >= 1280;
    const int wideX[6] = {14, 170, 320, 470, 660, 850}, wideW[6] = {150, 150, 150, 150, 190, 190};
    const int narrowX[6] = {14, 120, 220, 320, 460, 600}, narrowW[6] = {100, 100, 100, 100, 140, 140};
    for (int i = 0; i < 6; ++i)
        move(rights[i], wide ? wideX[i] : narrowX[i], B + 110, wide ? wideW[i] : narrowW[i], 23);
    move(1096, 19, B + 150, 77, 28);
    move(1095, 101, B + 150, 77, 28);
    move(1094, 183, B + 150, 77, 28);
    move(1353, 3, C + 75, W - 14, 100);
    move(1354, 14, C + 103, 80, 25);
    move(1048, 95, C + 105, W - 170, 23);
    move(1352, W - 70, C + 105, 50, 23);
}

void CSettingUserInfoDlg::ShowMsgId(UINT id)
{
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsgW(LoadResStringW(id).c_str(), 2, 0);
}

bool CSettingUserInfoDlg::Confirm(UINT id)
{
    return MessageBoxA(m_hWnd, LoadResString(id).c_str(), kConfirmCaption, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

bool CSettingUserInfoDlg::Fits(const std::string& text, std::size_t fieldSize)
{
    if (text.size() < fieldSize)
        return true;
    ShowMsgId(1592);
    return false;
}

bool CSettingUserInfoDlg::FitsLogin(const std::string& name, const std::string& psw, bool pswShown)
{
    // What the login dialog refuses is never saved: that would lock the user out.
    if (!login::FitsLoginField(name)) {
        ShowMsgId(1600);
        return false;
    }
    if (!pswShown && !login::FitsLoginField(psw)) {
        ShowMsgId(1601);
        return false;
    }
    return true;
}

bool CSettingUserInfoDlg::IsRoleExist(const std::string& name) const
{
    for (const Role& r : g_lstRoleInfo)
        if (Get(r.RoleName) == name)
            return true;
    return false;
}

bool CSettingUserInfoDlg::IsGroupExist(const std::string& name) const
{
    for (const UserGroup& g : g_lstGroupInfo)
        if (Get(g.GroupName) == name)
            return true;
    return false;
}

std::string CSettingUserInfoDlg::GetGroupRole(const std::string& name) const
{
    for (const UserGroup& g : g_lstGroupInfo)
        if (Get(g.GroupName) == name)
            return Get(g.RoleName);
    return std::string();
}

namespace {

// A sorted drop-down list: entries in alphabetical order, entry 0 selected.
void FillSorted(QComboBox* combo, QStringList names)
{
    names.sort(Qt::CaseInsensitive);
    combo->clear();
    combo->addItems(names);
    combo->setCurrentIndex(names.isEmpty() ? -1 : 0);
}

void SelectExact(QComboBox* combo, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i) == t) {
            combo->setCurrentIndex(i);
            return;
        }
    }
}

} // namespace

void CSettingUserInfoDlg::FillRoleCombo()
{
    QStringList names;
    for (const Role& r : g_lstRoleInfo)
        names << QString::fromStdString(Get(r.RoleName));
    FillSorted(GetDlgItemT<QComboBox>(IDC_COMBO_GROUP_ROLE), names);
}

void CSettingUserInfoDlg::FillGroupCombo()
{
    QStringList names;
    for (const UserGroup& g : g_lstGroupInfo)
        names << QString::fromStdString(Get(g.GroupName));
    FillSorted(GetDlgItemT<QComboBox>(IDC_COMBO_USER_GROUP), names);
}

void CSettingUserInfoDlg::ShowUser(const User* user)
{
    m_user = user ? *user : User{};
    SetDlgItemText(IDC_EDIT_USER, m_user.UserName);
    SelectExact(GetDlgItemT<QComboBox>(IDC_COMBO_USER_GROUP), Get(m_user.GroupName));
    SetDlgItemText(IDC_EDIT_PSW, m_user.Password);
    SetDlgItemText(IDC_EDIT_PSW2, m_user.Password);
    m_bPswShown = true;
    const bool admin = Get(m_user.UserName) == "admin";
    GetDlgItem(IDC_EDIT_USER)->setEnabled(!admin);
    GetDlgItem(IDC_COMBO_USER_GROUP)->setEnabled(!admin);
}

void CSettingUserInfoDlg::ShowGroup(const UserGroup* group)
{
    m_group = group ? *group : UserGroup{};
    SetDlgItemText(IDC_EDIT_GROUP, m_group.GroupName);
    SelectExact(GetDlgItemT<QComboBox>(IDC_COMBO_GROUP_ROLE), Get(m_group.RoleName));
    SelectExact(GetDlgItemT<QComboBox>(IDC_COMBO_USER_GROUP), Get(m_group.GroupName));
    SetDlgItemText(IDC_EDIT_USER, "");
    SetDlgItemText(IDC_EDIT_PSW, "");
    SetDlgItemText(IDC_EDIT_PSW2, "");
    m_bPswShown = false;
    GetDlgItem(IDC_EDIT_USER)->setEnabled(true);
    GetDlgItem(IDC_COMBO_USER_GROUP)->setEnabled(true);
    const bool builtin = Get(m_group.GroupName) == "Default";
    GetDlgItem(IDC_BTN_MODIFY_GROUP)->setEnabled(!builtin);
    GetDlgItem(IDC_BTN_DEL_GROUP)->setEnabled(!builtin);
}

void CSettingUserInfoDlg::ShowRole(const Role* role)
{
    m_role = role ? *role : Role{};
    SetDlgItemText(IDC_EDIT_ROLE, m_role.RoleName);
    CheckDlgButton(IDC_CHECK_SURPTZ, m_role.SurPTZ ? 1 : 0);
    CheckDlgButton(IDC_CHECK_RECORD, m_role.Record ? 1 : 0);
    CheckDlgButton(IDC_CHECK_ALARM, m_role.Alarm ? 1 : 0);
    CheckDlgButton(IDC_CHECK_PTZ, m_role.PTZ ? 1 : 0);
    CheckDlgButton(IDC_CHECK_USERMGR, m_role.UserManager ? 1 : 0);
    CheckDlgButton(IDC_CHECK_HIGH, m_role.HighLeve ? 1 : 0);
    const bool builtin = Get(m_role.RoleName) == "AdminRole";
    GetDlgItem(IDC_BTN_DEL_ROLE)->setEnabled(!builtin);
    GetDlgItem(IDC_BTN_MODIFY_ROLE)->setEnabled(!builtin);
}

// ---- groups ----

void CSettingUserInfoDlg::OnBnClickedBtnAddGroup()
{
    const std::string name = login::TrimBlanks(GetDlgItemText(IDC_EDIT_GROUP));
    const std::string role = GetDlgItemText(IDC_COMBO_GROUP_ROLE);
    if (name.empty()) {
        ShowMsgId(676);
        return;
    }
    if (!IsRoleExist(role)) {
        ShowMsgId(677);
        return;
    }
    if (IsGroupExist(name)) {
        ShowMsgId(678);
        return;
    }
    UserGroup g{};
    if (!Fits(name, sizeof g.GroupName) || !Fits(name, sizeof User{}.GroupName))
        return;
    Put(g.GroupName, name);
    Put(g.RoleName, role);
    g_lstGroupInfo.push_back(g);
    m_group = g;
    FillGroupCombo();
    DeviceServices()->RefreshUserTree();
    ShowMsgId(679);
    SaveUserInfo();
}

void CSettingUserInfoDlg::OnBnClickedBtnDelGroup()
{
    const std::string name = GetDlgItemText(IDC_EDIT_GROUP);
    if (name.empty()) {
        ShowMsgId(680);
        return;
    }
    if (name == "default") {
        ShowMsgId(719);
        return;
    }
    if (!IsGroupExist(name)) {
        ShowMsgId(683);
        return;
    }
    // Removing the group would remove the administrator with it.
    for (const User& u : g_lstUserInfo) {
        if (Get(u.GroupName) == name && Get(u.UserName) == "admin") {
            ShowMsgId(695);
            return;
        }
    }
    if (!Confirm(681))
        return;
    g_lstUserInfo.remove_if([&name](const User& u) { return Get(u.GroupName) == name; });
    SetDlgItemText(IDC_EDIT_GROUP, "");
    GetDlgItemT<QComboBox>(IDC_COMBO_GROUP_ROLE)->setCurrentIndex(0);
    for (auto it = g_lstGroupInfo.begin(); it != g_lstGroupInfo.end(); ++it) {
        if (Get(it->GroupName) == name) {
            g_lstGroupInfo.erase(it);
            break;
        }
    }
    FillGroupCombo();
    DeviceServices()->RefreshUserTree();
    ShowMsgId(682);
    SaveUserInfo();
}

void CSettingUserInfoDlg::OnBnClickedBtnModifyGroup()
{
    const std::string oldName = Get(m_group.GroupName);
    const std::string name = GetDlgItemText(IDC_EDIT_GROUP);
    const std::string role = GetDlgItemText(IDC_COMBO_GROUP_ROLE);
    if (oldName.empty()) {
        ShowMsgId(684);
        return;
    }
    if (name.empty()) {
        ShowMsgId(685);
        return;
    }
    if (name != oldName && IsGroupExist(name)) {
        ShowMsgId(678);
        return;
    }
    if (name == "default" || oldName == "default") {
        ShowMsgId(718);
        return;
    }
    if (!IsRoleExist(role)) {
        ShowMsgId(686);
        return;
    }
    UserGroup* group = nullptr;
    for (UserGroup& g : g_lstGroupInfo) {
        if (Get(g.GroupName) == oldName) {
            group = &g;
            break;
        }
    }
    if (!group) {
        ShowMsgId(688);
        return;
    }
    if (!Fits(name, sizeof group->GroupName))
        return;
    Put(group->GroupName, name);
    Put(group->RoleName, role);
    FillGroupCombo();
    for (User& u : g_lstUserInfo) {
        if (Get(u.GroupName) == oldName) {
            Put(u.GroupName, name);
            Put(u.RoleName, role);
        }
    }
    DeviceServices()->RefreshUserTree();
    ShowMsgId(687);
    SaveUserInfo();
}

// ---- users ----

void CSettingUserInfoDlg::OnBnClickedBtnAddUser()
{
    const std::string name = login::TrimBlanks(GetDlgItemText(IDC_EDIT_USER));
    const std::string psw = login::TrimBlanks(GetDlgItemText(IDC_EDIT_PSW));
    const std::string psw2 = login::TrimBlanks(GetDlgItemText(IDC_EDIT_PSW2));
    const std::string group = GetDlgItemText(IDC_COMBO_USER_GROUP);
    if (name.empty()) {
        ShowMsgId(689);
        return;
    }
    if (psw.empty() || psw2.empty()) {
        ShowMsgId(690);
        return;
    }
    if (!IsGroupExist(group)) {
        ShowMsgId(691);
        return;
    }
    if (psw != psw2) {
        ShowMsgId(229);
        return;
    }
    if (!FitsLogin(name, psw, false))
        return;
    for (const User& u : g_lstUserInfo) {
        if (Get(u.UserName) == name) {
            ShowMsgId(692);
            return;
        }
    }
    User user{};
    if (!Fits(name, sizeof user.UserName) || !Fits(psw, sizeof user.Password))
        return;
    Put(user.UserName, name);
    Put(user.Password, psw);
    user.PwdIsDigest = 0; // typed: the file gets its digest, whatever its length
    Put(user.RoleName, GetGroupRole(group));
    Put(user.GroupName, group);
    g_lstUserInfo.push_back(user);
    m_user = user;
    DeviceServices()->RefreshUserTree();
    ShowMsgId(693);
    SaveUserInfo();
}

void CSettingUserInfoDlg::OnBnClickedBtnDelUser()
{
    const std::string name = GetDlgItemText(IDC_EDIT_USER);
    if (name.empty()) {
        ShowMsgId(694);
        return;
    }
    if (name == "admin") {
        ShowMsgId(695);
        return;
    }
    auto it = g_lstUserInfo.begin();
    while (it != g_lstUserInfo.end() && Get(it->UserName) != name)
        ++it;
    if (it == g_lstUserInfo.end()) {
        ShowMsgId(697);
        return;
    }
    g_lstUserInfo.erase(it);
    DeviceServices()->RefreshUserTree();
    ShowMsgId(696);
    SaveUserInfo();
    SetDlgItemText(IDC_EDIT_USER, "");
    SetDlgItemText(IDC_EDIT_PSW, "");
    SetDlgItemText(IDC_EDIT_PSW2, "");
    m_bPswShown = false;
    GetDlgItemT<QComboBox>(IDC_COMBO_USER_GROUP)->setCurrentIndex(0);
}

void CSettingUserInfoDlg::OnBnClickedBtnModifyUser()
{
    const std::string oldName = Get(m_user.UserName);
    if (oldName.empty()) {
        ShowMsgId(698);
        return;
    }
    const std::string name = login::TrimBlanks(GetDlgItemText(IDC_EDIT_USER));
    const std::string psw = login::TrimBlanks(GetDlgItemText(IDC_EDIT_PSW));
    const std::string psw2 = login::TrimBlanks(GetDlgItemText(IDC_EDIT_PSW2));
    const std::string group = GetDlgItemText(IDC_COMBO_USER_GROUP);
    if (name.empty()) {
        ShowMsgId(699);
        return;
    }
    if (psw.empty() || psw2.empty()) {
        ShowMsgId(700);
        return;
    }
    if (!IsGroupExist(group)) {
        ShowMsgId(701);
        return;
    }
    if (name == "admin" && Field(g_szUserName, sizeof g_szUserName) != "admin") {
        ShowMsgId(715);
        return;
    }
    if (psw != psw2) {
        ShowMsgId(229);
        return;
    }
    // Untouched edits still hold what ShowUser showed: the stored digest.
    const bool shown = m_bPswShown && psw == Get(m_user.Password);
    if (!FitsLogin(name, psw, shown))
        return;
    if (name != oldName) {
        for (const User& u : g_lstUserInfo) {
            if (Get(u.UserName) == name) {
                ShowMsgId(692);
                return;
            }
        }
    }
    User* user = nullptr;
    for (User& u : g_lstUserInfo) {
        if (Get(u.UserName) == oldName) {
            user = &u;
            break;
        }
    }
    if (!user) {
        ShowMsgId(703);
        return;
    }
    if (!Fits(name, sizeof user->UserName) || !Fits(psw, sizeof user->Password))
        return;
    Put(user->UserName, name);
    Put(user->GroupName, group);
    Put(user->Password, psw);
    user->PwdIsDigest = shown ? m_user.PwdIsDigest : 0;
    Put(user->RoleName, GetGroupRole(group));
    // The exit confirmation and the unlock ask the logged-in user for the
    // password he has now, not the one he logged in with.
    if (oldName == Field(g_szLoginUser, sizeof g_szLoginUser) && g_DispInfoSetting.LoginType != 1) {
        std::string digest = Get(user->Password);
        if (!user->PwdIsDigest) {
            char hashed[33];
            Md5HexUpper(user->Password, hashed);
            digest = hashed;
        }
        qelm::CopyBounded(g_szLoginPsw, sizeof g_szLoginPsw, digest);
    }
    DeviceServices()->RefreshUserTree();
    ShowMsgId(702);
    SaveUserInfo();
}

// ---- roles ----

void CSettingUserInfoDlg::OnBnClickedBtnAddRole()
{
    const std::string name = login::TrimBlanks(GetDlgItemText(IDC_EDIT_ROLE));
    if (name.empty()) {
        ShowMsgId(704);
        return;
    }
    if (IsRoleExist(name)) {
        ShowMsgId(705);
        return;
    }
    Role role{};
    if (!Fits(name, sizeof role.RoleName))
        return;
    Put(role.RoleName, name);
    role.SurPTZ = IsDlgButtonChecked(IDC_CHECK_SURPTZ) ? 1 : 0;
    role.Record = IsDlgButtonChecked(IDC_CHECK_RECORD) ? 1 : 0;
    role.Alarm = IsDlgButtonChecked(IDC_CHECK_ALARM) ? 1 : 0;
    role.PTZ = IsDlgButtonChecked(IDC_CHECK_PTZ) ? 1 : 0;
    role.UserManager = IsDlgButtonChecked(IDC_CHECK_USERMGR) ? 1 : 0;
    role.HighLeve = IsDlgButtonChecked(IDC_CHECK_HIGH) ? 1 : 0;
    g_lstRoleInfo.push_back(role);
    m_role = role;
    FillRoleCombo();
    DeviceServices()->RefreshRoleTree();
    ShowMsgId(706);
    SaveUserInfo();
}

void CSettingUserInfoDlg::OnBnClickedBtnDelRole()
{
    const std::string name = GetDlgItemText(IDC_EDIT_ROLE);
    if (name.empty()) {
        ShowMsgId(707);
        return;
    }
    if (name == "default") {
        ShowMsgId(716);
        return;
    }
    if (!IsRoleExist(name)) {
        ShowMsgId(710);
        return;
    }
    // Removing the role would remove the administrator's group and him.
    for (const UserGroup& g : g_lstGroupInfo) {
        if (Get(g.RoleName) != name)
            continue;
        for (const User& u : g_lstUserInfo) {
            if (Get(u.GroupName) == Get(g.GroupName) && Get(u.UserName) == "admin") {
                ShowMsgId(695);
                return;
            }
        }
    }
    if (!Confirm(708))
        return;
    bool groupsRemoved = false;
    for (auto it = g_lstGroupInfo.begin(); it != g_lstGroupInfo.end();) {
        if (Get(it->RoleName) != name) {
            ++it;
            continue;
        }
        const std::string group = Get(it->GroupName);
        g_lstUserInfo.remove_if([&group](const User& u) { return Get(u.GroupName) == group; });
        it = g_lstGroupInfo.erase(it);
        groupsRemoved = true;
    }
    if (groupsRemoved) {
        FillGroupCombo();
        DeviceServices()->RefreshUserTree();
    }
    for (auto it = g_lstRoleInfo.begin(); it != g_lstRoleInfo.end(); ++it) {
        if (Get(it->RoleName) == name) {
            g_lstRoleInfo.erase(it);
            break;
        }
    }
    FillRoleCombo();
    DeviceServices()->RefreshRoleTree();
    ShowMsgId(709);
    SaveUserInfo();
    SetDlgItemText(IDC_EDIT_ROLE, "");
    for (UINT id : {IDC_CHECK_SURPTZ, IDC_CHECK_RECORD, IDC_CHECK_ALARM, IDC_CHECK_PTZ, IDC_CHECK_USERMGR,
                    IDC_CHECK_HIGH})
        CheckDlgButton(id, 0);
}

void CSettingUserInfoDlg::OnBnClickedBtnModifyRole()
{
    const std::string oldName = Get(m_role.RoleName);
    const std::string name = GetDlgItemText(IDC_EDIT_ROLE);
    if (oldName.empty()) {
        ShowMsgId(711);
        return;
    }
    if (name.empty()) {
        ShowMsgId(712);
        return;
    }
    if (name != oldName && IsRoleExist(name)) {
        ShowMsgId(705);
        return;
    }
    if (name == "default" || oldName == "default") {
        ShowMsgId(717);
        return;
    }
    Role* role = nullptr;
    for (Role& r : g_lstRoleInfo) {
        if (Get(r.RoleName) == oldName) {
            role = &r;
            break;
        }
    }
    if (!role) {
        ShowMsgId(714);
        return;
    }
    if (!Fits(name, sizeof role->RoleName))
        return;
    Put(role->RoleName, name);
    role->SurPTZ = IsDlgButtonChecked(IDC_CHECK_SURPTZ) ? 1 : 0;
    role->Record = IsDlgButtonChecked(IDC_CHECK_RECORD) ? 1 : 0;
    role->Alarm = IsDlgButtonChecked(IDC_CHECK_ALARM) ? 1 : 0;
    role->PTZ = IsDlgButtonChecked(IDC_CHECK_PTZ) ? 1 : 0;
    role->UserManager = IsDlgButtonChecked(IDC_CHECK_USERMGR) ? 1 : 0;
    role->HighLeve = IsDlgButtonChecked(IDC_CHECK_HIGH) ? 1 : 0;
    for (User& u : g_lstUserInfo)
        if (Get(u.RoleName) == oldName)
            Put(u.RoleName, name);
    for (UserGroup& g : g_lstGroupInfo)
        if (Get(g.RoleName) == oldName)
            Put(g.RoleName, name);
    FillRoleCombo();
    DeviceServices()->RefreshRoleTree();
    ShowMsgId(713);
    SaveUserInfo();
}

void CSettingUserInfoDlg::OnBnClickedBtnSaveTitle()
{
    const std::string text = GetDlgItemText(IDC_EDIT_TITLE);
    DeviceServices()->SetMarqueeText(text.c_str());
    g_strDispInfo = text; // what SaveUserInfo writes, also with no main window
    SaveUserInfo();
    ShowMsgId(723);
}
