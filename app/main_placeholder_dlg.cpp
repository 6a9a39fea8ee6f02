// Stand-in main window.
#include "app/main_placeholder_dlg.h"

#include "app/single_instance.h"
#include "app/splash_dlg.h"
#include "app/start_thread.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "platform/sync.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr UINT_PTR kWatchTimer = 1005;
}

BEGIN_MESSAGE_MAP(CMainPlaceholderDlg, CDialog)
    ON_MESSAGE(WM_START_THREAD_DONE, &CMainPlaceholderDlg::OnStartThreadDone)
END_MESSAGE_MAP()

CMainPlaceholderDlg::~CMainPlaceholderDlg()
{
    delete m_pStartThread; // joins a thread still running
}

void CMainPlaceholderDlg::CreateControls()
{
    resize(640, 400);
    auto* status = new QLabel(this);
    status->setGeometry(20, 20, 600, 24);
    qelm::SetControlId(status, IDC_STATUS);
    auto* exitBtn = new QPushButton(QStringLiteral("Exit"), this);
    exitBtn->setGeometry(530, 360, 90, 28);
    qelm::SetControlId(exitBtn, IDC_EXIT);
    QObject::connect(exitBtn, &QPushButton::clicked, this, [this] { ExitApp(); });
}

BOOL CMainPlaceholderDlg::OnInitDialog()
{
    SetWindowText(g_strTitle.c_str());
    SetDlgItemText(IDC_STATUS, g_szUserName);
    if (g_pSplashDlg)
        g_pSplashDlg->ShowWindow(SW_HIDE);
    if (m_pInstance)
        m_pInstance->SetMainWindow(this);
    SetTimer(kWatchTimer, 3000);
    return TRUE;
}

void CMainPlaceholderDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kWatchTimer)
        return;
    KillTimer(kWatchTimer); // one-shot
    if (!m_pStartThread) {
        WriteLog(6, "begin new thread to start watch.");
        m_pStartThread = new CStartThread(m_hWnd);
        m_pStartThread->Start();
    }
}

LRESULT CMainPlaceholderDlg::OnStartThreadDone(WPARAM, LPARAM)
{
    if (m_pStartThread) {
        m_pStartThread->Join();
        delete m_pStartThread;
        m_pStartThread = nullptr;
    }
    return 0;
}

void CMainPlaceholderDlg::OnCancel()
{
    ExitApp(); // the window's close goes through the orderly exit
}

void CMainPlaceholderDlg::ExitApp()
{
    // The watchdog goes first, so the client's own exit is not taken for a crash.
    TerminProcessByName(kWatchName);
    Sleep(200);
    if (m_pInstance)
        m_pInstance->SetMainWindow(nullptr);
    EndDialog(IDOK);
}
