#include "mainwnd/login_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "mainwnd/cloud_login.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/login_logic.h"
#include "platform/message.h"
#include "platform/monitor.h"
#include "platform/netguard.h"
#include "platform/text.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QRegularExpressionValidator>
#include <QScreen>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Posted to itself so the verify layout runs once the window has its size.
constexpr UINT WM_LOGIN_LAYOUT = 0x0005; // the number of a size message

// The watchdog's program name beside ours.
constexpr const char kWatchProcess[] = "Watch";

// Texts of the empty login-server fields (the table's other texts speak of
// rights and passwords).
constexpr UINT IDS_LOGIN_SVR_EMPTY = 1590;
constexpr UINT IDS_LOGIN_PORT_EMPTY = 1591;

struct TemplateItem {
    UINT id;
    int x, y, w, h; // dialog units
};

// Template 130: 235 x 127 dialog units.
constexpr TemplateItem kTemplate[] = {
    {1004, 7, 45, 40, 8},    {1002, 51, 43, 100, 97},  {1005, 7, 61, 40, 8},    {1003, 51, 58, 100, 13},
    {1012, 157, 45, 76, 10}, {1006, 157, 61, 76, 10},  {1015, 7, 76, 40, 8},    {1014, 51, 73, 100, 13},
    {1013, 157, 76, 77, 10}, {1418, 11, 89, 112, 10},  {1000, 138, 92, 41, 14}, {1001, 181, 92, 41, 14},
    {1011, 14, 103, 71, 10}, {1007, 14, 115, 31, 8},   {1008, 50, 112, 104, 13}, {1009, 160, 114, 17, 8},
    {1010, 181, 112, 39, 13},
};

CRect Dlu(int x, int y, int w, int h)
{
    return qelm::DialogUnitsToPixels(CRect(x, y, x + w, y + h));
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

std::string Field(const char* text, std::size_t size)
{
    return std::string(text, strnlen(text, size));
}

} // namespace

BEGIN_MESSAGE_MAP(CLoginDlg, CDialog)
    ON_BN_CLICKED(CLoginDlg::IDC_BTN_LOGIN, &CLoginDlg::OnBnClickedOk)
    ON_BN_CLICKED(CLoginDlg::IDC_BTN_CANCEL, &CLoginDlg::OnBnClickedCancel)
    ON_CBN_SELCHANGE(CLoginDlg::IDC_COMBO_USER, &CLoginDlg::OnCbnSelchangeComboUser)
    ON_BN_CLICKED(CLoginDlg::IDC_CHECK_LOGIN_SVR, &CLoginDlg::OnBnClickedCheckLoginSvr)
    ON_BN_CLICKED(CLoginDlg::IDC_CHECK_AUTO_LOGIN, &CLoginDlg::OnBnClickedCheckAutoLogin)
    ON_BN_CLICKED(CLoginDlg::IDC_CHECK_SAVE_PSW, &CLoginDlg::OnBnClickedCheckSavePsw)
    ON_BN_CLICKED(CLoginDlg::IDC_CHECK_CLOUD, &CLoginDlg::OnBnClickedCheckCloud)
    ON_BN_CLICKED(CLoginDlg::IDC_CHECK_NO_PROMPT, &CLoginDlg::OnBnClickedCheckNoPrompt)
    ON_MESSAGE(WM_LOGIN_LAYOUT, &CLoginDlg::OnLayout)
END_MESSAGE_MAP()

CLoginDlg::CLoginDlg(CWnd* pParent, int nVerify, int nUnlock)
    : CDialog(IDD, pParent), m_nVerify(nVerify), m_nUnlock(nUnlock)
{
    SetFramelessStyle(true); // draws its own caption, over the splash
}

CLoginDlg::~CLoginDlg()
{
    delete m_pMsgDlg;
}

void CLoginDlg::CreateControls()
{
    const CRect size = Dlu(0, 0, 235, 127);
    resize(size.Width(), size.Height());
    QFont font = this->font(); // the template's 8-point dialog font
    font.setPointSize(8);
    setFont(font);
    int label = 0;
    for (const TemplateItem& t : kTemplate) {
        QWidget* w = nullptr;
        switch (t.id) {
        case IDC_STATIC_USER:
        case IDC_STATIC_PSW:
        case IDC_STATIC_CLOUD_SVR:
        case IDC_STATIC_SVR:
        case IDC_STATIC_PORT: {
            auto* s = new CTransparentStatic(this);
            if (t.id == IDC_STATIC_USER || t.id == IDC_STATIC_PSW)
                s->SetStyle(SS_RIGHT);
            m_pLabels[label++] = s;
            w = s;
            break;
        }
        case IDC_COMBO_USER:
            m_pComboUser = new QComboBox(this);
            m_pComboUser->setEditable(true);
            m_pComboUser->setInsertPolicy(QComboBox::NoInsert);
            w = m_pComboUser;
            break;
        case IDC_EDIT_PSW:
            m_pEditPsw = new QLineEdit(this);
            m_pEditPsw->setEchoMode(QLineEdit::Password);
            // Whatever the user types is a password, never a stored digest.
            QObject::connect(m_pEditPsw, &QLineEdit::textEdited, this, [this] {
                m_bPswIsDigest = false;
                m_strDigestUser.clear();
            });
            w = m_pEditPsw;
            break;
        case IDC_EDIT_CLOUD_SVR:
        case IDC_EDIT_SVR:
            w = new QLineEdit(this);
            break;
        case IDC_EDIT_PORT: {
            auto* e = new QLineEdit(this);
            e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
            w = e;
            break;
        }
        case IDC_BTN_LOGIN:
            m_pBtnLogin = new CGdipButton(this);
            w = m_pBtnLogin;
            break;
        case IDC_BTN_CANCEL:
            m_pBtnCancel = new CGdipButton(this);
            w = m_pBtnCancel;
            break;
        case IDC_CHECK_NO_PROMPT:
            m_pCheckNoPrompt = new QCheckBox(this);
            w = m_pCheckNoPrompt;
            break;
        default:
            w = new QCheckBox(this);
            break;
        }
        // The combo's height is its drop-down list's; the box itself is one line.
        const CRect r = Dlu(t.x, t.y, t.w, t.id == IDC_COMBO_USER ? 13 : t.h);
        w->setGeometry(r.ToQ());
        qelm::SetControlId(w, t.id);
    }
    for (UINT id : {IDC_CHECK_LOGIN_SVR, IDC_STATIC_SVR, IDC_EDIT_SVR, IDC_STATIC_PORT, IDC_EDIT_PORT})
        GetDlgItem(id)->hide();
}

BOOL CLoginDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(s->geometry().center());
        move(r.topLeft());
    }
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(nullptr);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    SetWindowText(g_strTitle.c_str());
    SetCtrlTextW(this, IDC_STATIC_USER, LoadResStringW(217).c_str());
    SetCtrlTextW(this, IDC_STATIC_PSW, LoadResStringW(218).c_str());
    SetCtrlTextW(this, IDC_CHECK_CLOUD, LoadResStringW(1434).c_str());
    m_pBtnLogin->LoadImageResource(kButtonFace, "PNG");
    m_pBtnCancel->LoadImageResource(kButtonFace, "PNG");
    m_pBtnCancel->SetButtonTextW(LoadResStringW(222).c_str());
    m_pComboUser->setEnabled(true);

    if (m_nVerify == 1) {
        m_pComboUser->clear();
        m_pComboUser->setEditText(QString::fromUtf8(g_szLoginUser));
        m_pComboUser->setEnabled(false);
        if (m_nUnlock == 1) {
            m_pBtnLogin->SetButtonTextW(LoadResStringW(291).c_str());
            m_pCheckNoPrompt->hide();
        } else {
            m_pCheckNoPrompt->show();
            m_pBtnLogin->SetButtonTextW(LoadResStringW(271).c_str());
        }
        for (UINT id : {IDC_CHECK_AUTO_LOGIN, IDC_CHECK_SAVE_PSW, IDC_CHECK_CLOUD, IDC_STATIC_CLOUD_SVR,
                        IDC_EDIT_CLOUD_SVR})
            GetDlgItem(id)->hide();
        SetCtrlTextW(this, IDC_CHECK_NO_PROMPT, LoadResStringW(1464).c_str());
        ::PostMessage(m_hWnd, WM_LOGIN_LAYOUT, 0, 0);
        return TRUE;
    }

    m_pBtnLogin->SetButtonTextW(LoadResStringW(221).c_str());
    CheckDlgButton(IDC_CHECK_CLOUD, g_DispInfoSetting.LoginType == 1 ? 1 : 0);
    GetDlgItem(IDC_EDIT_CLOUD_SVR)->setEnabled(g_DispInfoSetting.LoginType == 1);
    m_pCheckNoPrompt->hide();
    SetCtrlTextW(this, IDC_CHECK_AUTO_LOGIN, LoadResStringW(219).c_str());
    SetCtrlTextW(this, IDC_CHECK_SAVE_PSW, LoadResStringW(220).c_str());
    SetCtrlTextW(this, IDC_STATIC_CLOUD_SVR, LoadResStringW(231).c_str());
    SetCtrlTextW(this, IDC_CHECK_LOGIN_SVR, LoadResStringW(230).c_str());
    SetCtrlTextW(this, IDC_STATIC_SVR, LoadResStringW(231).c_str());
    SetCtrlTextW(this, IDC_STATIC_PORT, LoadResStringW(232).c_str());
    FillHistoryCombo();

    if (const _LOGIN_INFO* last = login::LastUsedEntry(g_lstLoginInfo)) {
        const std::string user = Field(last->UserName, sizeof last->UserName);
        m_pComboUser->setEditText(QString::fromUtf8(user.c_str()));
        if (last->SaveFlg == 1) {
            SetStoredDigest(last->Password, user);
            CheckDlgButton(IDC_CHECK_SAVE_PSW, 1);
            CheckDlgButton(IDC_CHECK_LOGIN_SVR, last->LoginSvrFlg ? 1 : 0);
            SetDlgItemText(IDC_EDIT_CLOUD_SVR, Field(last->SvrIp, sizeof last->SvrIp).c_str());
            SetDlgItemText(IDC_EDIT_PORT, Field(last->SvrPort, sizeof last->SvrPort).c_str());
            OnBnClickedCheckLoginSvr();
        }
        if (g_bAutoLoginArg) {
            SetStoredDigest(last->Password, user);
            SetDlgItemText(IDC_EDIT_CLOUD_SVR, Field(last->SvrIp, sizeof last->SvrIp).c_str());
            SetDlgItemText(IDC_EDIT_PORT, Field(last->SvrPort, sizeof last->SvrPort).c_str());
        }
    }

    if (g_bAutoLogin == 1 || g_bAutoLoginArg) {
        if (g_bAutoLogin == 1)
            CheckDlgButton(IDC_CHECK_AUTO_LOGIN, 1);
        // Without a stored name and password (a restart after a login whose
        // password was not saved) the operator types them: no error box.
        const bool noName = login::TrimBlanks(qelm::FromQ(m_pComboUser->currentText())).empty();
        const bool noPassword = login::TrimBlanks(qelm::FromQ(m_pEditPsw->text())).empty();
        if (noName)
            m_pComboUser->setFocus();
        else if (noPassword)
            m_pEditPsw->setFocus();
        else
            OnBnClickedOk(); // a success ends the dialog before it shows
    }
    return TRUE;
}

void CLoginDlg::FillHistoryCombo()
{
    m_pComboUser->clear();
    for (const _LOGIN_INFO& e : g_lstLoginInfo)
        m_pComboUser->addItem(QString::fromUtf8(Field(e.UserName, sizeof e.UserName).c_str()));
    m_pComboUser->model()->sort(0);
    m_pComboUser->setCurrentIndex(-1);
}

void CLoginDlg::SetStoredDigest(const char* digest, const std::string& user)
{
    m_pEditPsw->setText(QString::fromUtf8(digest));
    m_bPswIsDigest = digest[0] != '\0';
    m_strDigestUser = m_bPswIsDigest ? user : std::string();
}

bool CLoginDlg::FieldHoldsStoredDigest(const std::string& name) const
{
    return m_bPswIsDigest && name == m_strDigestUser;
}

void CLoginDlg::ShowMsg(UINT id)
{
    m_pMsgDlg->ShowMsgW(LoadResStringW(id).c_str(), CResMsgDlg::MODE_INFO, 0);
}

void CLoginDlg::ShowMsgText(const std::string& text)
{
    std::wstring wide;
    AnsiToWide(text, wide);
    m_pMsgDlg->ShowMsgW(wide.c_str(), CResMsgDlg::MODE_INFO, 0);
}

void CLoginDlg::OnOK()
{
    OnBnClickedOk();
}

void CLoginDlg::OnCancel()
{
    // Esc never closes the dialog; only the cancel button does.
}

BOOL CLoginDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
        OnBnClickedOk();
        return TRUE;
    }
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE)
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CLoginDlg::OnBnClickedOk()
{
    const std::string name = login::TrimBlanks(qelm::FromQ(m_pComboUser->currentText()));
    const std::string password = login::TrimBlanks(qelm::FromQ(m_pEditPsw->text()));
    // In verify mode the field is only ever typed into.
    const std::string digest = login::LoginDigest(password, m_nVerify != 1 && FieldHoldsStoredDigest(name));

    if (m_nVerify == 1) {
        if (name != g_szLoginUser) {
            ShowMsg(227);
            return;
        }
        // The same limit as the login: nothing longer can be the password.
        if (!login::FitsLoginField(password)) {
            ShowMsg(234);
            return;
        }
        if (Upper(digest) != Upper(g_szLoginPsw)) {
            ShowMsg(226);
            return;
        }
        EndDialog(IDOK);
        return;
    }

    if (UINT msg = login::CheckLoginFields(name, password)) {
        ShowMsg(msg);
        return;
    }
    if (g_DispInfoSetting.LoginType == 1) {
        CloudLogin(name, digest);
        return;
    }
    if (g_bUseLoginSvr && !ResolveLoginServer())
        return;
    if (UINT msg = login::CheckLocalUser(name, digest, g_UserRights)) {
        ShowMsg(msg);
        return;
    }
    SaveLoginHistory(digest);
    qelm::CopyBounded(g_szLoginUser, sizeof g_szLoginUser, name);
    qelm::CopyBounded(g_szLoginPsw, sizeof g_szLoginPsw, digest);
    SetLogUserName(g_szLoginUser);
    WriteLog(6, "CLoginDlg: user %s logged in, rights %d %d %d %d %d %d %d", g_szLoginUser, g_UserRights[0],
             g_UserRights[1], g_UserRights[2], g_UserRights[3], g_UserRights[4], g_UserRights[5], g_UserRights[6]);
    EndDialog(IDOK);
}

void CLoginDlg::CloudLogin(const std::string& name, const std::string& digest)
{
    std::string text = GetDlgItemText(IDC_EDIT_CLOUD_SVR);
    if (text.empty()) {
        GetDlgItem(IDC_EDIT_CLOUD_SVR)->setFocus();
        return;
    }
    if (text.size() >= sizeof g_szCloudServer) {
        char cut[sizeof g_szCloudServer];
        qelm::CopyBounded(cut, sizeof cut, text);
        text = cut;
    }
    std::string host;
    int port = 80;
    login::SplitCloudHost(text, &host, &port);
    qelm::CopyBounded(g_szCloudServer, sizeof g_szCloudServer, host);
    g_nCloudPort = port;
    qelm::CopyBounded(g_szCloudUser, sizeof g_szCloudUser, name);
    qelm::CopyBounded(g_szCloudPsw, sizeof g_szCloudPsw, digest);

    const cloudlogin::Outcome outcome = cloudlogin::LoginAndImport(g_szCloudServer, port, name, digest);
    if (outcome.code != 0) {
        std::string msg = LoadResString(1443);
        if (g_nLanguage == 0) {
            char code[64];
            std::snprintf(code, sizeof code, ",错误代码%d", outcome.code);
            msg += code;
        }
        ShowMsgText(msg);
        return;
    }
    if (outcome.err != 0) {
        ShowMsg(226);
        return;
    }
    SaveLoginHistory(digest);
    qelm::CopyBounded(g_szLoginUser, sizeof g_szLoginUser, name);
    qelm::CopyBounded(g_szLoginPsw, sizeof g_szLoginPsw, digest);
    for (std::int32_t& right : g_UserRights)
        right = 1;
    SetLogUserName(g_szLoginUser);
    EndDialog(IDOK);
}

bool CLoginDlg::ResolveLoginServer()
{
    const std::string address = GetDlgItemText(IDC_EDIT_SVR);
    const std::string port = GetDlgItemText(IDC_EDIT_PORT);
    if (address.empty()) {
        ShowMsg(IDS_LOGIN_SVR_EMPTY);
        return false;
    }
    if (port.empty()) {
        ShowMsg(IDS_LOGIN_PORT_EMPTY);
        return false;
    }
    if (qelm::Utf8CharCount(address) >= 64) {
        ShowMsg(235);
        return false;
    }
    g_nLoginSvrPort = std::atoi(port.c_str());
    WriteLog(6, "begin get login host by name, input address=%s", address.c_str());
    in_addr found{};
    int err = 0;
    if (::inet_pton(AF_INET, address.c_str(), &found) != 1) {
        // In loopback mode only names that stay on this machine are looked up.
        if (!qelm::NetAllowedHost(address.c_str(), "login server")) {
            err = EAI_NONAME;
        } else {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            addrinfo* list = nullptr;
            err = ::getaddrinfo(address.c_str(), nullptr, &hints, &list);
            if (err == 0 && list) {
                found = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
                ::freeaddrinfo(list);
            } else if (err == 0) {
                err = EAI_NONAME;
            }
        }
    }
    if (err != 0) {
        char msg[512];
        std::snprintf(msg, sizeof msg, "%s=%d", LoadResString(236).c_str(), err);
        ShowMsgText(msg);
        return false;
    }
    char ip[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &found, ip, sizeof ip);
    qelm::CopyBounded(g_szLoginSvrIp, sizeof g_szLoginSvrIp, ip);
    WriteLog(6, "get host by name success, svrIP=%s", g_szLoginSvrIp);
    WriteLog(6, "begin get login host by name end");
    return true;
}

void CLoginDlg::SaveLoginHistory(const std::string& digest)
{
    login::HistoryUpdate update;
    update.name = login::TrimBlanks(qelm::FromQ(m_pComboUser->currentText()));
    update.digest = digest;
    update.svrIp = GetDlgItemText(IDC_EDIT_CLOUD_SVR);
    update.svrPort = GetDlgItemText(IDC_EDIT_PORT);
    if (g_bAutoRun) {
        update.saveFlag = 1;
    } else {
        update.saveFlag = IsDlgButtonChecked(IDC_CHECK_SAVE_PSW) ? 1 : 0;
        g_bAutoLogin = IsDlgButtonChecked(IDC_CHECK_AUTO_LOGIN) ? 1 : 0;
    }
    update.loginSvrFlag = IsDlgButtonChecked(IDC_CHECK_LOGIN_SVR) ? 1 : 0;
    login::UpdateLoginHistory(g_lstLoginInfo, update);
    SaveUserInfo();
}

void CLoginDlg::OnBnClickedCancel()
{
    // Only giving up the login ends the program and so its watchdog; the
    // exit confirmation and the unlock leave the client running.
    if (m_nVerify != 1) {
        WriteLog(1, "TerminProcessByName Watch.exe start...");
        TerminProcessByName(kWatchProcess);
        WriteLog(1, "TerminProcessByName Watch.exe end...");
    }
    EndDialog(IDCANCEL);
}

void CLoginDlg::OnCbnSelchangeComboUser()
{
    const std::string user = qelm::FromQ(m_pComboUser->currentText());
    if (const _LOGIN_INFO* e = login::SavedEntry(g_lstLoginInfo, user)) {
        SetStoredDigest(e->Password, user);
        CheckDlgButton(IDC_CHECK_SAVE_PSW, 1);
    } else {
        SetStoredDigest("", user);
        CheckDlgButton(IDC_CHECK_SAVE_PSW, 0);
    }
}

void CLoginDlg::OnBnClickedCheckLoginSvr()
{
    const bool on = IsDlgButtonChecked(IDC_CHECK_LOGIN_SVR) != 0;
    for (UINT id : {IDC_STATIC_SVR, IDC_EDIT_SVR, IDC_STATIC_PORT, IDC_EDIT_PORT})
        GetDlgItem(id)->setVisible(on);
    g_bUseLoginSvr = on ? 1 : 0;
}

void CLoginDlg::OnBnClickedCheckAutoLogin()
{
    if (IsDlgButtonChecked(IDC_CHECK_AUTO_LOGIN))
        CheckDlgButton(IDC_CHECK_SAVE_PSW, 1);
}

void CLoginDlg::OnBnClickedCheckSavePsw()
{
    if (!IsDlgButtonChecked(IDC_CHECK_SAVE_PSW))
        CheckDlgButton(IDC_CHECK_AUTO_LOGIN, 0);
}

void CLoginDlg::OnBnClickedCheckCloud()
{
    const bool on = IsDlgButtonChecked(IDC_CHECK_CLOUD) != 0;
    g_DispInfoSetting.LoginType = on ? 1 : 0;
    GetDlgItem(IDC_EDIT_CLOUD_SVR)->setEnabled(on);
}

void CLoginDlg::OnBnClickedCheckNoPrompt()
{
    g_DispInfoSetting.ExitConfirm = IsDlgButtonChecked(IDC_CHECK_NO_PROMPT) ? 0 : 1;
}

void CLoginDlg::OnPaint()
{
    CRect client;
    GetClientRect(&client);
    if (client.Width() <= 0 || client.Height() <= 0)
        return;
    // Painted off-screen first, so the buttons can take their background from it.
    QImage canvas(client.Width(), client.Height(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    {
        QPainter mem(&canvas);
        const std::string path = login::LoginPicturePath(GetAppDir(), g_nLanguage, m_nVerify == 1);
        m_gdi.DrawImageFile(path.c_str(), client, &mem);
    }
    QPainter p(this);
    p.drawImage(0, 0, canvas);
    {
        QPainter mem(&canvas);
        m_pBtnLogin->CaptureBackground(&mem);
        m_pBtnCancel->CaptureBackground(&mem);
    }
    m_pBtnLogin->LoadImageResource(kButtonFace, "PNG");
    m_pBtnCancel->LoadImageResource(kButtonFace, "PNG");
}

LRESULT CLoginDlg::OnLayout(WPARAM, LPARAM)
{
    CRect rc;
    GetClientRect(&rc);
    OnSize(SIZE_RESTORED, rc.Width(), rc.Height());
    return 0;
}

void CLoginDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (!m_pEditPsw || m_nVerify != 1)
        return;
    QPainterPath round;
    round.addRoundedRect(QRectF(0, 0, width(), height()), 4.5, 4.5);
    setMask(QRegion(round.toFillPolygon().toPolygon()));
    for (const login::CtrlPlace& place : login::VerifyLayout(cx, cy, g_nLanguage, m_nUnlock == 1)) {
        QWidget* w = GetDlgItem(place.id);
        if (!w)
            continue;
        QRect r = place.rect.ToQ();
        // A label whose text is wider than its place here grows to the left,
        // keeping the right edge by its field.
        if (auto* label = dynamic_cast<CTransparentStatic*>(w)) {
            const int need = label->fontMetrics().horizontalAdvance(label->text()) + 2;
            if (need > r.width())
                r.setLeft(std::max(0, r.right() + 1 - need));
        }
        w->setGeometry(r);
    }
    update();
}
