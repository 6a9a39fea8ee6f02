// The skinned message box.
#include "ui/res_msg_dlg.h"

#include "core/helpers.h"
#include "platform/text.h"
#include "res/strings.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

CResMsgDlg::ModeActions& Actions()
{
    static CResMsgDlg::ModeActions actions;
    return actions;
}

} // namespace

BEGIN_MESSAGE_MAP(CResMsgDlg, CDialog)
    ON_BN_CLICKED(CResMsgDlg::IDC_OK, &CResMsgDlg::OnBnClickedOk)
    ON_BN_CLICKED(CResMsgDlg::IDC_CANCEL, &CResMsgDlg::OnBnClickedCancel)
END_MESSAGE_MAP()

void CResMsgDlg::SetModeActions(ModeActions actions)
{
    Actions() = std::move(actions);
}

CResMsgDlg::CResMsgDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

CResMsgDlg::~CResMsgDlg() = default;

void CResMsgDlg::CreateControls()
{
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    m_pOk = new QPushButton(this);
    qelm::SetControlId(m_pOk, IDC_OK);
    m_pOk->setGeometry(0, 0, 60, 23);
    m_pCancel = new QPushButton(this);
    qelm::SetControlId(m_pCancel, IDC_CANCEL);
    m_pCancel->setGeometry(0, 0, 50, 23);
    m_pText = new QLabel(this);
    qelm::SetControlId(m_pText, IDC_TEXT);
    m_pText->setWordWrap(true);
    m_pText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pText->setTextFormat(Qt::PlainText);
    hide();
}

BOOL CResMsgDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetCtrlTextW(this, IDC_OK, LoadResStringW(850).c_str());
    SetCtrlTextW(this, IDC_CANCEL, LoadResStringW(851).c_str());
    SetWindowText(g_strTitle.c_str());
    return TRUE;
}

void CResMsgDlg::MeasureText(const std::wstring& text, bool wideForm, int* W, int* H) const
{
    const QFontMetrics fm(font());
    int width = 0, height = 0;
    auto measureLine = [&](const std::wstring& line, bool byAverage) {
        // Counting average widths alone would make a line of full-width
        // characters narrower than it draws; the box would then wrap it and
        // cut its last line off. So a line is never measured narrower than it is.
        const int drawn = fm.horizontalAdvance(QString::fromStdWString(line));
        const int w = byAverage ? std::max(static_cast<int>(line.size()) * fm.averageCharWidth(), drawn) : drawn;
        width = std::max(width, w);
        height += fm.height();
    };
    if (text.find(L'\n') == std::wstring::npos) {
        width = fm.horizontalAdvance(QString::fromStdWString(text));
        height = fm.height();
    } else {
        std::size_t start = 0;
        while (true) {
            const std::size_t nl = text.find(L'\n', start);
            if (nl == std::wstring::npos) {
                if (start < text.size())
                    measureLine(text.substr(start), wideForm);
                break;
            }
            measureLine(text.substr(start, nl - start), wideForm);
            start = nl + 1;
        }
    }
    if (W)
        *W = width;
    if (H)
        *H = height;
}

void CResMsgDlg::Show(const std::wstring& text, int mode, bool wideForm)
{
    m_bExitOnOk = FALSE;
    m_bStopVideoOnOk = FALSE;
    m_nMode = mode;
    int W = 0, H = 0;
    MeasureText(text, wideForm, &W, &H);

    ShowWindow(SW_HIDE);
    // The outer size is W + 70 by H + 96; Qt sizes the client area.
    MoveWindow(0, 0, W + 70 - kFrameWidth, H + 96 - kFrameHeight);
    m_pText->setGeometry(10, 10, W + 50, H + 10);
    SetCtrlTextW(this, IDC_TEXT, text.c_str());
    m_pText->show();

    const int C = (W + 70) / 2;
    if (mode >= 5 && mode <= 9) {
        if (mode == MODE_EXIT)
            m_bExitOnOk = TRUE;
        else if (mode == MODE_STOP_ALL_VIDEO)
            m_bStopVideoOnOk = TRUE;
        m_pOk->setGeometry(C - 55, H + 25, 50, 23);
        m_pCancel->setGeometry(C + 5, H + 25, 50, 23);
        m_pCancel->show();
    } else {
        m_pCancel->hide();
        m_pOk->setGeometry(C - 30, H + 25, 60, 23);
    }
    m_pOk->show();
    CenterWindow();
    SetWindowPos(wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void CResMsgDlg::ShowMsgW(const wchar_t* text, int mode, int /*unused*/)
{
    Show(text ? std::wstring(text) : std::wstring(), mode, true);
}

void CResMsgDlg::ShowMsg(const char* text, int mode)
{
    // Bytes that are not UTF-8 show as replacement characters.
    Show(QString::fromUtf8(text ? text : "").toStdWString(), mode, false);
}

void CResMsgDlg::OnBnClickedOk()
{
    ShowWindow(SW_HIDE);
    // OK acts on the mode of the message it closes.
    if (m_bExitOnOk) {
        m_bExitOnOk = FALSE;
        if (Actions().exitApp)
            Actions().exitApp();
    } else if (m_bStopVideoOnOk) {
        m_bStopVideoOnOk = FALSE;
        if (Actions().stopAllVideo)
            Actions().stopAllVideo();
    }
}

void CResMsgDlg::OnBnClickedCancel()
{
    ShowWindow(SW_HIDE);
}

void CResMsgDlg::OnOK()
{
    OnBnClickedOk();
}

void CResMsgDlg::OnCancel()
{
    OnBnClickedCancel();
}

void CResMsgDlg::OnClose()
{
    OnBnClickedCancel();
}
