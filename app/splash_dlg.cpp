// Splash window: picture by language, status text in the skin's orange.
#include "app/splash_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "core/userinfo.h"
#include "platform/monitor.h"

#include <QKeyEvent>
#include <QPainter>

#include <sys/stat.h>

CSplashDlg* g_pSplashDlg = nullptr;

namespace {

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const char* PictureName(int languageIndex)
{
    switch (languageIndex) {
    case 0: return "Splash.png";
    case 1: return "Splash_en.png";
    case 2: return "Splash_tc.png";
    case 3: return "Splash_rs.png";
    case 4: return "Splash_hb.png";
    case 5: return "Splash_tk.png";
    case 6: return "Splash_cz.png";
    default: return "Splash_en.png";
    }
}

} // namespace

CSplashDlg::CSplashDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetFramelessStyle(true);
}

std::string CSplashDlg::PicturePath(int languageIndex)
{
    std::string path = GetAppDir() + "Images/" + PictureName(languageIndex);
    if (!FileExists(path))
        path = GetAppDir() + "Images/Splash_en.png";
    return path;
}

BOOL CSplashDlg::OnInitDialog()
{
    const CRect work = qelm::PrimaryWorkArea();
    MoveWindow(work.left, work.top, g_nScreenWidth, g_nScreenHeight);
    SetWindowText(g_strTitle.c_str());
    return TRUE;
}

BOOL CSplashDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == 27 || pMsg->wParam == 13))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSplashDlg::keyPressEvent(QKeyEvent* e)
{
    // Escape and Enter must not close the splash.
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    CDialog::keyPressEvent(e);
}

void CSplashDlg::SetStatusText(const char* text)
{
    m_pendingText = text ? text : "";
    m_lastText = m_pendingText;
    repaint(); // drawn now, not at some later paint
}

void CSplashDlg::OnPaint()
{
    LoadLanguage();
    QPainter p(this);
    CRect client(0, 0, width(), height());
    m_gdi.DrawImageFile(PicturePath(g_nLanguage).c_str(), client, &p);
    if (!m_pendingText.empty()) {
        QFont f(QStringLiteral("SimSun"));
        f.setPointSize(12);
        p.setFont(f);
        p.setPen(QColor(247, 113, 33));
        p.setClipRect(QRect(5, 10, 195, 25));
        p.drawText(QRect(5, 10, 195, 25), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   QString::fromUtf8(m_pendingText.c_str()));
        m_pendingText.clear();
    }
}
