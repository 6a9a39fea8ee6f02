// The patrol page: targets, the point list, the add-patrol dialog and the
// one-tour saves into PatrolInfo.xml.
#include "ptz/config_patrol.h"

#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "mainwnd/ipc_client_dlg.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "ptz/add_patrol_dlg.h"
#include "res/strings.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>

#include <cstdio>
#include <cstring>
#include <memory>

BEGIN_MESSAGE_MAP(CConfigPatrol, CDialog)
    ON_BN_CLICKED(CConfigPatrol::IDC_BTN_ADD, &CConfigPatrol::OnBnClickedAdd)
    ON_BN_CLICKED(CConfigPatrol::IDC_BTN_DELETE, &CConfigPatrol::OnBnClickedDelete)
    ON_BN_CLICKED(CConfigPatrol::IDC_BTN_MODIFY, &CConfigPatrol::OnBnClickedModify)
    ON_BN_CLICKED(CConfigPatrol::IDC_BTN_SAVE, &CConfigPatrol::OnBnClickedSave)
END_MESSAGE_MAP()

namespace {

// Template 236 in pixels.
struct Place {
    UINT id;
    int x, y, w, h;
};
constexpr Place kLayout[] = {
    {CConfigPatrol::IDC_TAB, 10, 8, 660, 26},
    {CConfigPatrol::IDC_STATIC_TARGET, 10, 44, 190, 20},
    {CConfigPatrol::IDC_RADIO_SCREEN, 10, 66, 95, 20},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX1, 105, 66, 95, 20},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX2, 10, 88, 95, 20},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX3, 105, 88, 95, 20},
    {CConfigPatrol::IDC_LIST_TARGET, 10, 112, 190, 306},
    {CConfigPatrol::IDC_LIST_POINTS, 210, 44, 460, 374},
    {CConfigPatrol::IDC_BTN_ADD, 210, 430, 80, 26},
    {CConfigPatrol::IDC_BTN_DELETE, 300, 430, 80, 26},
    {CConfigPatrol::IDC_BTN_MODIFY, 390, 430, 80, 26},
    {CConfigPatrol::IDC_BTN_SAVE, 590, 430, 80, 26},
};
constexpr int kWidth = 680;
constexpr int kHeight = 466;

// The screens' radio buttons and the names of their panes' tours.
constexpr struct {
    UINT id;
    UINT caption;
    const char* format;
} kScreens[] = {
    {CConfigPatrol::IDC_RADIO_SCREEN, 1429, "Player-%d"},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX1, 1426, "PlayerEx1-%d"},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX2, 1427, "PlayerEx2-%d"},
    {CConfigPatrol::IDC_RADIO_SCREEN_EX3, 1428, "PlayerEx3-%d"},
};

bool IsDecoder(const DeviceInfo& d)
{
    return d.DevType == 2 || d.DevType == 5;
}

std::string Str(UINT id)
{
    return LoadResString(id);
}

} // namespace

CConfigPatrol::CConfigPatrol(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(pParent != nullptr);
}

CConfigPatrol::~CConfigPatrol()
{
    WithdrawPatrolTours(this);
    delete m_pOwnMsgDlg;
}

void CConfigPatrol::CreateControls()
{
    resize(kWidth, kHeight);
    auto place = [this](QWidget* w, UINT id) {
        for (const Place& p : kLayout)
            if (p.id == id)
                w->setGeometry(p.x, p.y, p.w, p.h);
        qelm::SetControlId(w, id);
        return w;
    };
    m_pTab = new QTabBar(this);
    place(m_pTab, IDC_TAB);
    m_pTab->setExpanding(false);
    place(new QLabel(this), IDC_STATIC_TARGET);
    for (const auto& s : kScreens) {
        auto* r = new QRadioButton(this);
        place(r, s.id);
        const UINT id = s.id;
        QObject::connect(r, &QRadioButton::clicked, this, [this, id] { OnBnClickedScreen(id); });
    }
    m_pTargetList = new QListWidget(this);
    place(m_pTargetList, IDC_LIST_TARGET);
    m_pPointList = new CReportCtrl(this);
    place(m_pPointList, IDC_LIST_POINTS);
    m_pPointList->SetCheckboxMode(RC_CHKBOX_NONE);
    for (UINT id : {IDC_BTN_ADD, IDC_BTN_DELETE, IDC_BTN_MODIFY, IDC_BTN_SAVE})
        place(new QPushButton(this), id);
    GetDlgItem(IDC_BTN_DELETE)->setEnabled(false);
    GetDlgItem(IDC_BTN_MODIFY)->setEnabled(false);

    QObject::connect(m_pTab, &QTabBar::currentChanged, this, [this](int) { OnTcnSelchangeTab(); });
    QObject::connect(m_pTargetList, &QListWidget::currentRowChanged, this, [this](int) { OnLbnSelchangeTarget(); });
    QObject::connect(m_pPointList, &QTreeWidget::itemClicked, this, [this] { OnClickPointList(); });
    QObject::connect(m_pPointList, &QTreeWidget::itemSelectionChanged, this, [this] { OnClickPointList(); });
}

BOOL CConfigPatrol::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(Str(880).c_str());
    SetDlgItemText(IDC_BTN_ADD, Str(884).c_str());
    SetDlgItemText(IDC_BTN_DELETE, Str(885).c_str());
    SetDlgItemText(IDC_BTN_MODIFY, Str(886).c_str());
    SetDlgItemText(IDC_BTN_SAVE, Str(887).c_str());
    for (const auto& s : kScreens)
        SetDlgItemText(s.id, Str(s.caption).c_str());

    {
        const QSignalBlocker quiet(m_pTab);
        while (m_pTab->count() > 0)
            m_pTab->removeTab(0);
        m_pTab->addTab(qelm::ToQ(Str(890)));
        m_pTab->addTab(qelm::ToQ(Str(891)));
    }
    LoadPatrolInfo();
    SetPatrolTours(this);
    const QRect r = m_pTargetList->geometry();
    m_rcTargetList = CRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
    ShowPlayerPatrol();
    CheckDlgButton(IDC_RADIO_SCREEN, 1);
    return TRUE;
}

BOOL CConfigPatrol::PreTranslateMessage(MSG* pMsg)
{
    // Neither key closes the dialog that holds the page.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == 13 || pMsg->wParam == 27))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CConfigPatrol::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        e->accept();
        return;
    default:
        CDialog::keyPressEvent(e);
    }
}

// --- the tour list and its file -----------------------------------------------------

int CConfigPatrol::LoadPatrolInfo()
{
    return LoadPatrolFile(ConfigFilePath(kPatrolFileName), m_lstPatrol);
}

int CConfigPatrol::SavePatrolInfo()
{
    const std::string path = ConfigFilePath(kPatrolFileName);
    const int rows = m_pPointList->GetItemCount();
    const std::string target = m_szCurTarget;
    auto removeFirst = [this, &target] {
        for (auto it = m_lstPatrol.begin(); it != m_lstPatrol.end(); ++it)
            if (target == it->name) {
                m_lstPatrol.erase(it);
                return;
            }
    };
    PatrolSave result;
    if (rows == 0) {
        removeFirst();
        result = RemovePatrolTour(path, target);
    } else {
        auto tour = std::make_unique<PatrolTour>();
        *tour = PatrolTour{};
        qelm::CopyBounded(tour->name, sizeof tour->name, target);
        removeFirst();
        const bool decoder = m_pTab->currentIndex() != 0;
        for (int row = 0; row < rows; ++row) {
            PatrolPoint p{};
            auto cell = [this, row](int col) { return m_pPointList->GetItemText(row, col); };
            if (!decoder) {
                qelm::CopyBounded(p.DevName[0], sizeof p.DevName[0], CutToFileWidth(cell(0), kPatrolNameWidth));
                qelm::CopyBounded(p.StayTime, sizeof p.StayTime, CutToFileWidth(cell(1), kPatrolValueWidth));
            } else {
                qelm::CopyBounded(p.DispMode, sizeof p.DispMode, CutToFileWidth(cell(0), kPatrolValueWidth));
                qelm::CopyBounded(p.StayTime, sizeof p.StayTime, CutToFileWidth(cell(1), kPatrolValueWidth));
                for (int k = 0; k < 16; ++k)
                    qelm::CopyBounded(p.DevName[k], sizeof p.DevName[k], CutDeviceEntry(cell(k + 2)));
            }
            tour->points.push_back(p);
        }
        m_lstPatrol.push_back(std::move(*tour));
        result = SavePatrolTour(path, m_lstPatrol.back());
    }
    switch (result) {
    case PatrolSave::Written:
    case PatrolSave::Unchanged:
        WriteLog(6, "CConfigPatrol::SavePatrolInfo(): %s saved, %d points.", target.c_str(), rows);
        return 0;
    case PatrolSave::LoadFailed: return -1;
    case PatrolSave::WriteFailed: return -2;
    }
    return -1;
}

// --- setting up the tabs ----------------------------------------------------------------

void CConfigPatrol::RefreshPatrolList()
{
    m_pPointList->setUpdatesEnabled(false);
    m_pPointList->DeleteAllItems();
    m_pPointList->setUpdatesEnabled(true);
    if (m_pTab->currentIndex() == 0)
        ShowPlayerPatrol();
    else
        ShowDecoderPatrol();
}

void CConfigPatrol::SetCurrentTarget(const std::string& name)
{
    m_szCurTarget[0] = '\0';
    qelm::CopyBounded(m_szCurTarget, sizeof m_szCurTarget, name);
}

void CConfigPatrol::ListTargets(const char* format)
{
    const QSignalBlocker quiet(m_pTargetList);
    m_pTargetList->clear();
    for (int n = 1; n <= 64; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, format, n);
        m_pTargetList->insertItem(n - 1, QString::fromUtf8(name));
    }
    m_pTargetList->setCurrentRow(0);
    SetCurrentTarget(m_pTargetList->item(0)->text().toStdString());
}

void CConfigPatrol::ShowPlayerPatrol()
{
    {
        const QSignalBlocker quiet(m_pTab);
        m_pTab->setCurrentIndex(0);
    }
    SetDlgItemText(IDC_STATIC_TARGET, Str(892).c_str());
    ListTargets(kScreens[0].format);
    for (const auto& s : kScreens)
        GetDlgItem(s.id)->show();
    m_pTargetList->setGeometry(m_rcTargetList.left, m_rcTargetList.top, m_rcTargetList.Width(), m_rcTargetList.Height());
    FillPlayerRows();
}

void CConfigPatrol::OnBnClickedScreen(UINT id)
{
    for (const auto& s : kScreens) {
        if (s.id != id)
            continue;
        {
            const QSignalBlocker quiet(m_pTab);
            m_pTab->setCurrentIndex(0);
        }
        ListTargets(s.format);
        FillPlayerRows();
    }
}

void CConfigPatrol::ShowDecoderPatrol()
{
    SetDlgItemText(IDC_STATIC_TARGET, Str(889).c_str());
    {
        const QSignalBlocker quiet(m_pTargetList);
        m_pTargetList->clear();
        qelm::CsLock lock(g_csDevList);
        int pos = 0;
        for (const DeviceInfo& d : g_lstDevInfo)
            if (IsDecoder(d))
                m_pTargetList->insertItem(pos++, QString::fromUtf8(d.DevName));
        m_pTargetList->setCurrentRow(0);
    }
    SetCurrentTarget(m_pTargetList->count() > 0 ? m_pTargetList->item(0)->text().toStdString() : std::string());
    for (const auto& s : kScreens)
        GetDlgItem(s.id)->hide();
    // Over the place of the screen buttons.
    m_pTargetList->setGeometry(m_rcTargetList.left, m_rcTargetList.top - 40, m_rcTargetList.Width(),
                               m_rcTargetList.Height() + 40);
    FillDecoderRows();
}

void CConfigPatrol::AppendRows(bool decoder)
{
    for (const PatrolTour& t : m_lstPatrol) {
        if (std::strcmp(t.name, m_szCurTarget) != 0)
            continue;
        for (const PatrolPoint& p : t.points) {
            const int row = m_pPointList->InsertItemWithImage(m_pPointList->GetItemCount(), "", 1);
            if (!decoder) {
                m_pPointList->SetItemText(row, 0, p.DevName[0]);
                m_pPointList->SetItemText(row, 1, p.StayTime);
                continue;
            }
            m_pPointList->SetItemText(row, 0, p.DispMode);
            m_pPointList->SetItemText(row, 1, p.StayTime);
            for (int k = 0; k < 16; ++k)
                m_pPointList->SetItemText(row, k + 2, p.DevName[k]);
        }
    }
    EnablePointButtons(false);
}

void CConfigPatrol::FillPlayerRows()
{
    const int half = m_pPointList->width() / 2;
    char layout[512];
    std::snprintf(layout, sizeof layout, "%s,%d;%s,%d", Str(883).c_str(), half, Str(882).c_str(), half);
    m_pPointList->SetColumnLayout(layout);
    m_pPointList->SetGridLines(TRUE);
    AppendRows(false);
}

void CConfigPatrol::FillDecoderRows()
{
    const int sixth = m_pPointList->width() / 6;
    std::string layout = Str(881) + "," + std::to_string(sixth) + ";" + Str(882) + "," + std::to_string(sixth);
    for (int k = 1; k <= 16; ++k)
        layout += ";" + Str(883) + std::to_string(k) + ",90";
    m_pPointList->SetColumnLayout(layout.c_str());
    m_pPointList->SetGridLines(TRUE);
    AppendRows(true);
}

// --- handlers ---------------------------------------------------------------------------

void CConfigPatrol::OnTcnSelchangeTab()
{
    RefreshPatrolList();
}

void CConfigPatrol::OnLbnSelchangeTarget()
{
    m_pPointList->DeleteAllItems();
    QListWidgetItem* item = m_pTargetList->currentItem();
    SetCurrentTarget(item ? item->text().toStdString() : std::string());
    AppendRows(m_pTab->currentIndex() != 0);
}

void CConfigPatrol::EnablePointButtons(bool on)
{
    GetDlgItem(IDC_BTN_DELETE)->setEnabled(on);
    GetDlgItem(IDC_BTN_MODIFY)->setEnabled(on);
}

void CConfigPatrol::OnClickPointList()
{
    const int row = m_pPointList->GetNextSelectedItem(0);
    if (row < 0) {
        EnablePointButtons(false);
        return;
    }
    if (row != 0)
        m_pPointList->SetItemState(0, 0, LVIS_SELECTED | LVIS_FOCUSED);
    EnablePointButtons(true);
}

int CConfigPatrol::DeviceKind() const
{
    if (m_pTab->currentIndex() == 0)
        return 0;
    auto record = std::make_unique<DeviceInfo>();
    std::memset(record.get(), 0, sizeof(DeviceInfo));
    int found = -1;
    if (g_pMainDlg) {
        found = g_pMainDlg->FindDevByName(m_szCurTarget, record.get());
    } else {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevName, m_szCurTarget) == 0) {
                record->DevType = d.DevType;
                found = 0;
                break;
            }
    }
    return found == 0 ? record->DevType : 2;
}

void CConfigPatrol::OnBnClickedAdd()
{
    CAddPatrolDlg dlg(DeviceKind(), CAddPatrolDlg::kAdd, 0, m_pPointList, this);
    dlg.DoModal();
}

void CConfigPatrol::OnBnClickedModify()
{
    const int row = m_pPointList->GetNextSelectedItem(0);
    if (row < 0)
        return;
    CAddPatrolDlg dlg(DeviceKind(), CAddPatrolDlg::kEdit, row, m_pPointList, this);
    dlg.DoModal();
}

void CConfigPatrol::OnBnClickedDelete()
{
    const int row = m_pPointList->GetNextSelectedItem(0);
    if (row < 0)
        return;
    m_pPointList->DeleteItem(row, FALSE);
    if (m_pPointList->GetItemCount() > 0)
        m_pPointList->SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    m_pPointList->setFocus();
    OnClickPointList();
}

void CConfigPatrol::OnBnClickedSave()
{
    if (m_szCurTarget[0] == '\0')
        return;
    const int result = SavePatrolInfo();
    if (result == 0)
        ShowMsg(LoadResStringW(888));
    else
        ShowMsg(LoadResStringW(kStrSaveFailed));
}

CResMsgDlg* CConfigPatrol::MsgBox()
{
    if (g_pMainDlg && g_pMainDlg->MsgDlg())
        return g_pMainDlg->MsgDlg();
    if (!m_pOwnMsgDlg) {
        m_pOwnMsgDlg = new CResMsgDlg(nullptr);
        m_pOwnMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    return m_pOwnMsgDlg;
}

void CConfigPatrol::ShowMsg(const std::wstring& text)
{
    if (CResMsgDlg* box = MsgBox())
        box->ShowMsgW(text.c_str(), CResMsgDlg::MODE_INFO, 0);
}
