// The add-patrol dialog: device tree, pane slots, layout and streams, and the
// checks before a point becomes a row of the patrol page's point list.
#include "ptz/add_patrol_dlg.h"

#include "core/config_store.h"
#include "core/devinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "liveview/patrol_tours.h"
#include "mainwnd/ipc_client_dlg.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "ptz/config_patrol.h"
#include "res/strings.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include <cstring>

BEGIN_MESSAGE_MAP(CAddPatrolDlg, CDialog)
    ON_BN_CLICKED(CAddPatrolDlg::IDC_BTN_ADD, &CAddPatrolDlg::OnBnClickedAdd)
    ON_BN_CLICKED(CAddPatrolDlg::IDC_BTN_CANCEL, &CAddPatrolDlg::OnCancel)
END_MESSAGE_MAP()

const UINT CAddPatrolDlg::kSlotLabels[16] = {1409, 1410, 1411, 1412, 1413, 1414, 1312, 1313,
                                             1314, 1315, 1316, 1317, 1321, 1322, 1323, 1324};
const UINT CAddPatrolDlg::kStreamBoxes[9] = {1420, 1421, 1422, 1117, 1118, 1119, 1120, 1121, 1122};

namespace {

// The layout buttons with their slot counts and DispMode texts.
constexpr struct {
    UINT id;
    int count;
    const char* dispMode;
    UINT caption;
} kLayouts[] = {
    {CAddPatrolDlg::IDC_RADIO_ONE, 1, "0", 901},
    {CAddPatrolDlg::IDC_RADIO_FOUR, 4, "1", 902},
    {CAddPatrolDlg::IDC_RADIO_NINE, 9, "9", 1446},
    {CAddPatrolDlg::IDC_RADIO_SIXTEEN, 16, "16", 1447},
};

// Template 237 in pixels: the tree on the left, the layout buttons and the
// stay time above two columns of eight slots, Add and Cancel at the bottom.
constexpr int kWidth = 760;
constexpr int kHeight = 426;
constexpr int kItemHeight = 20;
constexpr int kSlotTop = 76;
constexpr int kSlotPitch = 36;

// Keys of a relay entry, kept on its tree item.
constexpr int kRelayMacRole = Qt::UserRole + 40;
constexpr int kRelayIpRole = Qt::UserRole + 41;
constexpr int kRelayNameRole = Qt::UserRole + 42;

UINT SlotEdit(int slot)
{
    return CAddPatrolDlg::IDC_EDIT_STAY + static_cast<UINT>(slot);
}

std::string Trim(const std::string& s)
{
    const char* ws = " \t\r\n\v\f";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

} // namespace

CAddPatrolDlg::CAddPatrolDlg(int kind, int mode, int row, CReportCtrl* list, CWnd* pParent)
    : CDialog(IDD, pParent), m_nMode(mode), m_nRow(row), m_pList(list), m_nDevKind(kind)
{
}

void CAddPatrolDlg::CreateControls()
{
    resize(kWidth, kHeight);
    auto place = [this](QWidget* w, UINT id, int x, int y, int cw, int ch) {
        w->setGeometry(x, y, cw, ch);
        qelm::SetControlId(w, id);
        return w;
    };
    m_pTree = new QTreeWidget(this);
    place(m_pTree, IDC_TREE, 10, 10, 200, 406);
    m_pTree->setHeaderHidden(true);
    m_pTree->setColumnCount(1);
    m_pTree->setIconSize(QSize(16, 16));
    m_pTree->setUniformRowHeights(true);
    m_pTree->setStyleSheet(QStringLiteral("QTreeView::item { height: %1px; }").arg(kItemHeight));
    QObject::connect(m_pTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) { OnClickDevTree(item); });

    int x = 224;
    for (const auto& l : kLayouts) {
        auto* r = new QRadioButton(this);
        place(r, l.id, x, 10, 128, 22);
        x += 130;
        const UINT id = l.id;
        QObject::connect(r, &QRadioButton::clicked, this, [this, id] { OnBnClickedLayout(id); });
    }
    place(new QLabel(this), IDC_STATIC_STAY, 224, 42, 110, 22);
    auto* stay = new QLineEdit(this);
    place(stay, IDC_EDIT_STAY, 336, 42, 90, 22);
    // Digits only, and few enough to stay a number.
    stay->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), stay));
    stay->setMaxLength(9);

    for (int slot = 1; slot <= 16; ++slot) {
        const int col = (slot - 1) % 2;
        const int row = (slot - 1) / 2;
        const int left = 224 + col * 266;
        const int top = kSlotTop + row * kSlotPitch;
        place(new QLabel(this), kSlotLabels[slot - 1], left, top, 56, 24);
        auto* edit = new QLineEdit(this);
        place(edit, SlotEdit(slot), left + 58, top, 120, 24);
        edit->installEventFilter(this);
        if (slot <= 9) {
            auto* box = new QComboBox(this);
            place(box, kStreamBoxes[slot - 1], left + 182, top, 76, 24);
        }
    }
    place(new QPushButton(this), IDC_BTN_ADD, 560, 390, 86, 26);
    place(new QPushButton(this), IDC_BTN_CANCEL, 660, 390, 86, 26);
}

bool CAddPatrolDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::FocusIn) {
        for (int slot = 1; slot <= 16; ++slot)
            if (watched == GetDlgItem(SlotEdit(slot)))
                m_nFocusSlot = slot;
    }
    return CDialog::eventFilter(watched, e);
}

BOOL CAddPatrolDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CDevTree* devTree = CDevTree::GetInstance();
    devTree->InitOnlineDevTree(m_pTree);
    KeepRelayKeys();
    if (QTreeWidgetItem* root = m_pTree->topLevelItem(0))
        m_pTree->setCurrentItem(root);
    m_pTree->setFocus();

    InitTexts();
    for (UINT id : kStreamBoxes) {
        auto* box = GetDlgItemT<QComboBox>(id);
        box->clear();
        box->addItem(qelm::ToQ(LoadResString(482)));
        box->addItem(qelm::ToQ(LoadResString(483)));
        box->setCurrentIndex(0);
    }

    if (m_nDevKind == 2 || m_nDevKind == 5) {
        GetDlgItem(IDC_RADIO_ONE)->setEnabled(true);
        GetDlgItem(IDC_RADIO_FOUR)->setEnabled(true);
        GetDlgItem(IDC_RADIO_NINE)->setEnabled(m_nDevKind == 5);
        GetDlgItem(IDC_RADIO_SIXTEEN)->setEnabled(m_nDevKind == 5);
        if (m_nMode == kEdit) {
            SetDlgItemText(IDC_EDIT_STAY, Cell(1, 127).c_str());
            const int mode = qelm::cfg::ParseDecimal(Cell(0, 9));
            UINT button = IDC_RADIO_ONE;
            for (const auto& l : kLayouts)
                if (qelm::cfg::ParseDecimal(l.dispMode) == mode)
                    button = l.id;
            CheckDlgButton(button, 1);
            OnBnClickedLayout(button);
            LoadSlotsFromRow(GetSlotCount());
        } else {
            CheckDlgButton(IDC_RADIO_FOUR, 1);
            OnBnClickedLayout(IDC_RADIO_FOUR);
            SetDlgItemText(IDC_EDIT_STAY, "10");
        }
    } else {
        CheckDlgButton(IDC_RADIO_ONE, 1);
        OnBnClickedLayout(IDC_RADIO_ONE);
        GetDlgItem(kStreamBoxes[0])->setEnabled(false);
        for (const auto& l : kLayouts)
            GetDlgItem(l.id)->setEnabled(false);
        if (m_nMode == kEdit)
            SetSlotText(Cell(0, 255), 1);
        else
            SetDlgItemText(IDC_EDIT_STAY, "10");
    }
    return TRUE;
}

void CAddPatrolDlg::InitTexts()
{
    SetWindowText(LoadResString(m_nMode == kEdit ? 909 : 900).c_str());
    SetDlgItemText(IDC_BTN_ADD, LoadResString(m_nMode == kEdit ? 910 : 905).c_str());
    SetDlgItemText(IDC_BTN_CANCEL, LoadResString(906).c_str());
    SetDlgItemText(IDC_STATIC_STAY, LoadResString(903).c_str());
    for (const auto& l : kLayouts)
        SetDlgItemText(l.id, LoadResString(l.caption).c_str());
    for (int k = 0; k < 16; ++k)
        SetDlgItemText(kSlotLabels[k], LoadResString(1448 + k).c_str());
}

BOOL CAddPatrolDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == 13 || pMsg->wParam == 27))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CAddPatrolDlg::keyPressEvent(QKeyEvent* e)
{
    // Only Cancel, the close box or an accepted change ends the dialog.
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

// --- slots and layouts ------------------------------------------------------------------

void CAddPatrolDlg::ShowSlots(int n)
{
    if (n != 1 && n != 4 && n != 9 && n != 16)
        return;
    for (int slot = 1; slot <= 16; ++slot)
        GetDlgItem(SlotEdit(slot))->setEnabled(slot <= n);
    auto box = [this](int slot) { return GetDlgItemT<QComboBox>(kStreamBoxes[slot - 1]); };
    for (int slot = 1; slot <= 9; ++slot) {
        bool enabled = slot <= n;
        bool forceSub = false;
        if (n == 4 && slot <= 4 && m_nDevKind == 2) {
            enabled = false;
            forceSub = true;
        }
        if (n == 16) {
            enabled = false;
            forceSub = true;
        }
        if (forceSub)
            box(slot)->setCurrentIndex(1);
        box(slot)->setEnabled(enabled);
    }
}

void CAddPatrolDlg::OnBnClickedLayout(UINT id)
{
    for (const auto& l : kLayouts) {
        if (l.id != id)
            continue;
        ShowSlots(l.count);
        if (m_nFocusSlot > l.count)
            m_nFocusSlot = l.count;
    }
}

int CAddPatrolDlg::GetSlotCount() const
{
    for (const auto& l : kLayouts)
        if (IsDlgButtonChecked(l.id))
            return l.count;
    return 1;
}

void CAddPatrolDlg::LoadSlotsFromRow(int n)
{
    for (int slot = 1; slot <= n && slot <= 16; ++slot) {
        const std::string entry = Cell(slot + 1, 255 + 16);
        char name[TextSize(256) + 16];
        int sub = 0;
        ParseStreamName(entry.c_str(), name, &sub, sizeof name);
        SetSlotText(name, slot);
        if (slot <= 9)
            GetDlgItemT<QComboBox>(kStreamBoxes[slot - 1])->setCurrentIndex(sub ? 1 : 0);
    }
}

void CAddPatrolDlg::SetSlotText(const std::string& text, int slot)
{
    if (slot < 1 || slot > 16)
        slot = 1;
    SetDlgItemText(SlotEdit(slot), text.c_str());
}

std::string CAddPatrolDlg::SlotText(int slot) const
{
    return GetDlgItemText(SlotEdit(slot));
}

void CAddPatrolDlg::CollectSlots()
{
    for (int slot = 1; slot <= 16; ++slot)
        m_strSlots[slot - 1] = Trim(SlotText(slot));
}

bool CAddPatrolDlg::AllSlotsEmpty() const
{
    const int n = GetSlotCount();
    for (int slot = 1; slot <= n; ++slot)
        if (!m_strSlots[slot - 1].empty())
            return false;
    return true;
}

int CAddPatrolDlg::FindDuplicateSlot() const
{
    const int n = GetSlotCount();
    for (int a = 1; a <= n; ++a) {
        if (m_strSlots[a - 1].empty())
            continue;
        for (int b = a + 1; b <= n; ++b)
            if (m_strSlots[a - 1] == m_strSlots[b - 1])
                return a;
    }
    return 0;
}

// --- the tree -----------------------------------------------------------------------------

void CAddPatrolDlg::KeepRelayKeys()
{
    // The tree was filled a moment ago on this thread: its entries are alive.
    for (QTreeWidgetItemIterator it(m_pTree); *it; ++it) {
        const RelayDevItem* e = devtree::ItemRelay(*it);
        if (!e)
            continue;
        (*it)->setData(0, kRelayMacRole, QString::fromUtf8(e->Mac));
        (*it)->setData(0, kRelayIpRole, QString::fromUtf8(e->Ip));
        (*it)->setData(0, kRelayNameRole, QString::fromUtf8(e->DevName));
    }
}

bool CAddPatrolDlg::IsRelayItem(const QTreeWidgetItem* item) const
{
    if (!item || item->childCount() > 0)
        return false;
    for (const QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        if (up->text(0) == QStringLiteral("VSS"))
            return true;
    return false;
}

std::string CAddPatrolDlg::RelayName(const QTreeWidgetItem* item) const
{
    if (devtree::ItemKind(item) != TreeData::Relay)
        return {};
    const std::string mac = item->data(0, kRelayMacRole).toString().toStdString();
    const std::string ip = item->data(0, kRelayIpRole).toString().toStdString();
    const std::string name = item->data(0, kRelayNameRole).toString().toStdString();
    // The entry as the relay lists hold it now; a removed one gives nothing.
    for (const Qelm2Node& server : g_lstRelayServer) {
        if (!server.pDevList)
            continue;
        for (const RelayDevItem& e : *server.pDevList) {
            if (mac != e.Mac || ip != e.Ip || name != e.DevName)
                continue;
            return e.Type == 4 ? mac + ":" + ip + ":" + name : mac + ":" + name;
        }
    }
    return {};
}

std::string CAddPatrolDlg::DeviceName(const QTreeWidgetItem* item) const
{
    qelm::CsLock lock(g_csDevList);
    const DeviceInfo* d = devtree::ItemDevice(item);
    if (!d || (d->DevType == 4 && d->CurNVRChannel == 0))
        return {};
    if (d->DevType == 4)
        return std::string(d->IPAddr) + ":" + d->DevName;
    return d->DevName;
}

void CAddPatrolDlg::OnClickDevTree(QTreeWidgetItem* item)
{
    if (!item)
        return;
    std::string name;
    if (IsRelayItem(item)) {
        if (m_nDevKind != 0)
            return;
        name = RelayName(item);
        if (!name.empty())
            SetSlotText(name, 1);
        return;
    }
    name = DeviceName(item);
    if (name.empty())
        return;
    int slot = m_nFocusSlot;
    if (slot == 0) {
        m_nNextSlot = m_nNextSlot % GetSlotCount() + 1;
        slot = m_nNextSlot;
    }
    SetSlotText(name, slot);
}

// --- accepting a point --------------------------------------------------------------------

std::string CAddPatrolDlg::Cell(int column, std::size_t limit) const
{
    if (!m_pList)
        return {};
    return CutToFileWidth(m_pList->GetItemText(m_nRow, column), limit);
}

void CAddPatrolDlg::Message(const std::wstring& text)
{
    if (auto* page = dynamic_cast<CConfigPatrol*>(m_pParentWnd))
        page->ShowMsg(text);
    else if (g_pMainDlg && g_pMainDlg->MsgDlg())
        g_pMainDlg->MsgDlg()->ShowMsgW(text.c_str(), CResMsgDlg::MODE_INFO, 0);
}

void CAddPatrolDlg::Message(UINT stringId)
{
    Message(LoadResStringW(stringId));
}

void CAddPatrolDlg::WriteSlotColumns(int row, int n)
{
    for (int slot = 1; slot <= n && slot <= 16; ++slot) {
        const std::string& text = m_strSlots[slot - 1];
        if (text.empty())
            continue;
        bool sub = true;
        if (n != 16 && slot <= 9)
            sub = GetDlgItemT<QComboBox>(kStreamBoxes[slot - 1])->currentIndex() != 0;
        m_pList->SetItemText(row, slot + 1, (text + (sub ? ":SubStream" : ":MainStream")).c_str());
    }
}

void CAddPatrolDlg::WriteDecoderRow(int row)
{
    const char* dispMode = "0";
    int n = 1;
    for (const auto& l : kLayouts)
        if (IsDlgButtonChecked(l.id)) {
            dispMode = l.dispMode;
            n = l.count;
            break;
        }
    m_pList->SetItemText(row, 0, dispMode);
    WriteSlotColumns(row, n);
    m_pList->SetItemText(row, 1, GetDlgItemText(IDC_EDIT_STAY).c_str());
}

void CAddPatrolDlg::OnBnClickedAdd()
{
    if (!m_pList)
        return;
    const std::string stay = GetDlgItemText(IDC_EDIT_STAY);
    if (stay.empty()) {
        Message(907);
        return;
    }
    if (qelm::cfg::ParseDecimal(stay) < 10) {
        Message(912);
        return;
    }
    if (m_nDevKind != 0) {
        CollectSlots();
        if (AllSlotsEmpty()) {
            Message(908);
            return;
        }
        if (const int dup = FindDuplicateSlot()) {
            Message(qelm::ToQ(m_strSlots[dup - 1]).toStdWString() + LoadResStringW(1467));
            return;
        }
        if (m_nMode == kEdit) {
            for (int col = 2; col < 18; ++col)
                m_pList->SetItemText(m_nRow, col, "");
            WriteDecoderRow(m_nRow);
            EndDialog(IDOK);
            return;
        }
        WriteDecoderRow(m_pList->InsertItemWithImage(m_pList->GetItemCount(), "", 1));
        return;
    }

    const std::string name = SlotText(1);
    if (name.empty()) {
        Message(908);
        return;
    }
    if (m_nMode == kAdd || name != m_pList->GetItemText(m_nRow, 0)) {
        // Saved player-screen points only: unsaved rows are not seen here.
        for (const PatrolTour& t : PatrolTours())
            for (const PatrolPoint& p : t.points)
                if (p.DispMode[0] == '\0' && name == p.DevName[0]) {
                    Message(893);
                    return;
                }
    }
    if (m_nMode == kEdit) {
        m_pList->SetItemText(m_nRow, 0, name.c_str());
        m_pList->SetItemText(m_nRow, 1, stay.c_str());
        EndDialog(IDOK);
        return;
    }
    const int row = m_pList->InsertItemWithImage(m_pList->GetItemCount(), "", 1);
    m_pList->SetItemText(row, 0, name.c_str());
    m_pList->SetItemText(row, 1, stay.c_str());
}
