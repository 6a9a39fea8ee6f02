// CIPCClientDlg: the operator's direct controls. The six title and left-column
// buttons, the settings menu and its commands, the system menu's minimise and
// restore, dragging the restored window, and the key filter that keeps Enter,
// Space, Escape and Alt+F4 from closing the window.
#include "mainwnd/ipc_client_dlg.h"

#include "controls/onvif.h"
#include "controls/shell_execute.h"
#include "controls/ts_relay.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/device_services.h"
#include "liveview/video_manager_dlg.h"
#include "mainwnd/login_globals.h"
#include "mainwnd/main_pages.h"
#include "media/dlg_broadcast.h"
#include "platform/paths.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef QELM2_FILE_VERSION
#define QELM2_FILE_VERSION "5.0.0.3"
#endif

namespace {
constexpr UINT kSysMinimize = 0xF020; // SC_MINIMIZE
constexpr UINT kSysRestore = 0xF120;  // SC_RESTORE

void ShowMainMsg(CResMsgDlg* box, UINT id)
{
    if (box)
        box->ShowMsgW(LoadResStringW(id).c_str(), CResMsgDlg::MODE_INFO);
}

// Keys typed into a text field belong to it, whatever window holds it.
bool IsTextEntry(HWND target)
{
    QWidget* w = qelm::WidgetFromHandle(target);
    if (!w)
        return false;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->isEditable();
    return qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
           qobject_cast<QAbstractSpinBox*>(w);
}

// The login handle of the parent server that lists the channel.
int RelayServerHandle(const RelayDevItem& ch)
{
    for (const Qelm2Node& server : g_lstRelayServer) {
        if (!server.pDevList)
            continue;
        for (const RelayDevItem& e : *server.pDevList)
            if (std::strcmp(e.Mac, ch.Mac) == 0 && std::strcmp(e.Ip, ch.Ip) == 0 &&
                std::strcmp(e.DevName, ch.DevName) == 0)
                return server.LoginId;
    }
    return -1;
}

// The first history entry last used keeps its password for the automatic login.
void KeepLastUsedPassword()
{
    for (_LOGIN_INFO& e : g_lstLoginInfo)
        if (e.LastUsingFlg == 1) {
            e.SaveFlg = 1;
            break;
        }
}
} // namespace

// --- buttons -------------------------------------------------------------------------------

void CIPCClientDlg::OnBnClickedMinimize()
{
    m_bMinimized = 1;
    ShowWindow(SW_MINIMIZE);
}

void CIPCClientDlg::OnBnClickedMaximize()
{
    // A page on a further monitor keeps the window as it is.
    if (m_bPageOnMonitor)
        return;
    // The layout sets the tooltip (1510 while maximised, 1509 restored).
    LayoutForWindowState(m_bMaximized == 0 ? 1 : 0);
}

void CIPCClientDlg::OnBnClickedAlarm()
{
    ShowAlarmList(m_bAlarmListShown ? 0 : 1);
}

void CIPCClientDlg::OnBnClickedSetting()
{
    if (m_pSettingsMenu)
        m_pSettingsMenu->deleteLater();
    QMenu* menu = BuildSettingsMenu(this);
    m_pSettingsMenu = menu;
    const QPoint at = QCursor::pos();
    QObject::connect(menu, &QMenu::aboutToShow, this, [this, menu] { OnInitMenuPopup(menu); });
    QObject::connect(menu, &QMenu::aboutToHide, this, [this, at] {
        // The caption area under the menu is painted again.
        const QPoint local = mapFromGlobal(at);
        update(QRect(local.x() - 120, 0, 130, TitleHeight() + 49));
    });
    menu->popup(at);
}

QMenu* CIPCClientDlg::BuildSettingsMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setTitle(QString::fromUtf8("设置按钮菜单"));
    struct Item {
        UINT id;
        const char* text;
    };
    auto add = [this, menu](const Item& item) {
        QAction* a = menu->addAction(QString::fromUtf8(item.text));
        a->setData(item.id);
        const UINT id = item.id;
        QObject::connect(a, &QAction::triggered, this, [this, id] { OnMenuCommand(id); });
    };
    add({ID_AUTO_LOGIN, "运行自动登录"});
    add({ID_AUTO_START, "开机自动运行"});
    menu->addSeparator();
    add({ID_SYS_CONFIG, "系统配置"});
    menu->addSeparator();
    add({ID_HELP, "帮助"});
    add({ID_ABOUT, "关于..."});
    return menu;
}

void CIPCClientDlg::OnInitMenuPopup(QMenu* menu)
{
    if (!menu)
        return;
    struct Text {
        UINT id;
        UINT string;
    };
    static const Text texts[] = {{ID_AUTO_LOGIN, 860}, {ID_AUTO_START, 861}, {ID_ABOUT, 862}, {ID_HELP, 863},
                                 {ID_SYS_CONFIG, 1050}};
    for (QAction* a : menu->actions()) {
        const UINT id = a->data().toUInt();
        for (const Text& t : texts)
            if (t.id == id)
                a->setText(QString::fromStdWString(LoadResStringW(t.string)));
        if (id == ID_SYS_CONFIG)
            a->setEnabled(g_UserRights[kRightUserManager] != 0);
        if (id == ID_AUTO_LOGIN || id == ID_AUTO_START) {
            a->setCheckable(true);
            a->setChecked(id == ID_AUTO_LOGIN ? g_bAutoLogin == 1 : g_bAutoRun == 1);
        }
    }
}

void CIPCClientDlg::OnMenuCommand(UINT id)
{
    switch (id) {
    case ID_AUTO_LOGIN: OnAutoLogin(); break;
    case ID_AUTO_START: OnAutoStart(); break;
    case ID_SYS_CONFIG: OnSysConfig(); break;
    case ID_HELP: OnHelp(); break;
    case ID_ABOUT: OnAbout(); break;
    default: break;
    }
}

// --- settings commands ---------------------------------------------------------------------

void CIPCClientDlg::OnAutoLogin()
{
    g_bAutoLogin = g_bAutoLogin ? 0 : 1;
    if (g_bAutoLogin == 0) {
        // Starting with the system without the automatic login makes no sense.
        g_bAutoRun = 0;
        DisableAutoRun();
    } else {
        KeepLastUsedPassword();
    }
    SaveUserInfo();
}

void CIPCClientDlg::OnAutoStart()
{
    g_bAutoRun = g_bAutoRun ? 0 : 1;
    if (g_bAutoRun == 1) {
        g_bAutoLogin = 1;
        KeepLastUsedPassword();
        SaveUserInfo();
        EnableAutoRun();
    } else {
        DisableAutoRun();
    }
}

void CIPCClientDlg::OnSysConfig()
{
    if (!m_pSysSettingDlg)
        return;
    m_pSysSettingDlg->ShowWindow(SW_SHOW);
    // The page class has no meta-object: findChild<CDlgBroadcast*> would
    // take any child widget for it.
    for (QWidget* child : m_pSysSettingDlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (auto* broadcast = dynamic_cast<CDlgBroadcast*>(child)) {
            broadcast->RefreshBroadcastTree();
            broadcast->RefreshDeviceTree();
            break;
        }
}

std::vector<std::string> CIPCClientDlg::HelpFiles(int language)
{
    const char* suffix = language == 0 ? "CH" : language == 2 ? "TC" : language == 3 ? "RS" : "EN";
    const std::string dir = GetAppDir();
    std::vector<std::string> names;
    for (const char* ext : {"chm", "pdf", "doc"}) {
        char pattern[32];
        std::snprintf(pattern, sizeof pattern, "%%s%s.%s", suffix, ext);
        names.push_back(qelm::MakePath(pattern, dir.c_str()));
    }
    return names;
}

void CIPCClientDlg::OnHelp()
{
    // The first kind that opens wins; the window makes room for it only then.
    for (const std::string& name : HelpFiles(g_nLanguage)) {
        if (ShellExecuteA(m_hWnd, "open", name.c_str(), nullptr, nullptr, SW_SHOWNORMAL) > 32) {
            m_bMinimized = 1;
            ShowWindow(SW_MINIMIZE);
            return;
        }
    }
    ShowMainMsg(m_pResMsgDlg, 1570); // no help file installed
}

void CIPCClientDlg::WinHelp()
{
    OnHelp();
}

std::string CIPCClientDlg::AboutText(const char* fileVersion)
{
    g_strVersion = fileVersion ? fileVersion : "1.0.0";
    const std::string label = LoadResString(259);
    char text[512];
    if (!g_strVersion.empty())
        std::snprintf(text, sizeof text, "%s:%s", label.c_str(), g_strVersion.c_str());
    else
        std::snprintf(text, sizeof text, "%s:5.0.0.3", label.c_str());
    return text;
}

void CIPCClientDlg::OnAbout()
{
    // The version the build stamped into the program.
    const std::string text = AboutText(QELM2_FILE_VERSION);
    if (m_pResMsgDlg)
        m_pResMsgDlg->ShowMsg(text.c_str(), CResMsgDlg::MODE_INFO);
}

// --- PTZ -----------------------------------------------------------------------------------

void CIPCClientDlg::OnBnClickedPtz()
{
    if (!g_UserRights[kRightPTZ]) {
        ShowMainMsg(m_pResMsgDlg, 284);
        return;
    }
    DeviceInfo selected{};
    DeviceInfo* dev = GetSelPaneDevInfo(&selected) == 0 ? &selected : nullptr;
    const bool haveRecord = dev != nullptr;
    CVideoWnd* pane = m_pVideoManagerDlg ? m_pVideoManagerDlg->GetPane(m_pVideoManagerDlg->GetSelectedIndex()) : nullptr;
    if (haveRecord) {
        if (dev->OnvifDev == 1)
            GetOnvifPresets(dev, m_lstPtzPresets);
        else if (pane)
            pane->SendPtzCmd(kPresetListCmd);
    } else if (pane && pane->IsRelayOn()) {
        const RelayDevItem& ch = pane->RelayCopy();
        char name[160];
        std::snprintf(name, sizeof name, "%s:%s", ch.Mac, ch.Ip);
        int channel = 0;
        if (ch.Type == 0) {
            const size_t n = std::strlen(ch.DevName);
            channel = n ? std::atoi(ch.DevName + n - 1) : 0;
        }
        TS_InvitePreset(RelayServerHandle(ch), name, 0, channel);
    } else {
        ShowMainMsg(m_pResMsgDlg, 1497);
        return;
    }
    if (m_pPTZDlg)
        m_pPTZDlg->ShowWindow(SW_SHOW);
}

// --- system menu, dragging -----------------------------------------------------------------

void CIPCClientDlg::OnSysCommand(UINT nID)
{
    if ((nID & 0xFFF0) == kSysMinimize)
        m_bMinimized = 1;
    else if ((nID & 0xFFF0) == kSysRestore)
        m_bMinimized = 0;
}

void CIPCClientDlg::changeEvent(QEvent* e)
{
    // The window system's minimise and restore arrive as state changes here.
    if (e->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(e);
        if (windowState() & Qt::WindowMinimized)
            OnSysCommand(kSysMinimize);
        else if (change->oldState() & Qt::WindowMinimized)
            OnSysCommand(kSysRestore);
    }
    CDialog::changeEvent(e);
}

void CIPCClientDlg::OnLButtonDown(UINT nFlags, CPoint point)
{
    // The restored window moves with a drag anywhere on its background.
    if (m_bMaximized != 1) {
        m_bDragging = true;
        m_ptDragStart = mapToGlobal(QPoint(point.x, point.y));
        m_ptWindowStart = pos();
    }
    CDialog::OnLButtonDown(nFlags, point);
}

void CIPCClientDlg::OnMouseMove(UINT nFlags, CPoint point)
{
    if (m_bDragging && m_bMaximized != 1)
        move(m_ptWindowStart + (mapToGlobal(QPoint(point.x, point.y)) - m_ptDragStart));
    CDialog::OnMouseMove(nFlags, point);
}

void CIPCClientDlg::OnLButtonUp(UINT nFlags, CPoint point)
{
    m_bDragging = false;
    CDialog::OnLButtonUp(nFlags, point);
}

// --- key filter ----------------------------------------------------------------------------

bool CIPCClientDlg::PreTranslateKeys(MSG* pMsg)
{
    const UINT m = pMsg->message;
    const bool keyMessage = m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
    if (!keyMessage)
        return false;
    if (m == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_SPACE))
        return !IsTextEntry(pMsg->hwnd);
    if (m == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        if (m_pVideoManagerDlg && m_pVideoManagerDlg->IsScreenLocked()) {
            if (RunVerifyLogin(1) == IDOK && m_pVideoManagerDlg)
                m_pVideoManagerDlg->UnlockScreen();
        } else {
            if (m_pVideoManagerDlg)
                m_pVideoManagerDlg->OnEscKey(pMsg);
            if (auto* search = dynamic_cast<ISearchRecForwards*>(m_pSearchRecDlg); search && search->IsFullScreen())
                search->SwitchFullScreen();
        }
        return true;
    }
    // Alt+F4: only a key message carries the Alt context bit; a posted
    // message with the same numbers is someone's payload.
    if (pMsg->wParam == VK_F4 && (pMsg->lParam & (LPARAM(1) << 29)))
        return true;
    return false;
}

