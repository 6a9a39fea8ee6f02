#include "app/welcome_dlg.h"

#include "platform/msgbox.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
constexpr UINT_PTR kClockTimer = 1;
}

BEGIN_MESSAGE_MAP(CWelcomeDlg, CDialog)
    ON_BN_CLICKED(IDC_ABOUT, &CWelcomeDlg::OnBnClickedAbout)
END_MESSAGE_MAP()

CWelcomeDlg::CWelcomeDlg() : CDialog(IDD) {}

void CWelcomeDlg::CreateControls()
{
    resize(480, 300);
    auto* status = new QLabel(this);
    status->setGeometry(24, 120, 432, 24);
    status->setStyleSheet(QStringLiteral("color: #d0d4da;"));
    qelm::SetControlId(status, IDC_STATUS);

    auto* about = new QPushButton(QStringLiteral("About"), this);
    about->setGeometry(264, 248, 96, 28);
    qelm::SetControlId(about, IDC_ABOUT);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setGeometry(368, 248, 96, 28);
    qelm::SetControlId(close, IDCANCEL);
    QObject::connect(close, &QPushButton::clicked, this, [this] { OnCancel(); });
}

BOOL CWelcomeDlg::OnInitDialog()
{
    SetWindowText("Corvane");
    SetDlgItemText(IDC_STATUS, "Video surveillance client");
    SetTimer(kClockTimer, 1000);
    return TRUE;
}

void CWelcomeDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kClockTimer) {
        ++m_nTicks;
        Invalidate();
    }
}

void CWelcomeDlg::OnPaint()
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0x2B, 0x30, 0x38));
    p.fillRect(QRect(0, 0, width(), 72), QColor(0x1E, 0x22, 0x28));
    p.setPen(qelm::ToQColor(RGB(247, 113, 33)));
    QFont f = font();
    f.setPointSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(24, 0, width() - 48, 72), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Corvane"));
    p.setPen(Qt::white);
    p.setFont(font());
    p.drawText(QRect(24, 160, width() - 48, 24), Qt::AlignLeft,
               QStringLiteral("Running for %1 s").arg(m_nTicks));
}

void CWelcomeDlg::OnBnClickedAbout()
{
    MessageBoxA(m_hWnd, "Corvane video surveillance client", "About", MB_OK | MB_ICONINFORMATION);
}
