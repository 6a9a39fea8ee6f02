#include "settings/setting_record_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/rec_targets.h"
#include "media/rtsp_events.h"
#include "platform/monitor.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "res/strings.h"
#include "settings/setting_record_rules.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTimeEdit>
#include <QTreeWidget>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr const char kDefaultName[] = "Default Strategy"; // string 775 in every language

enum Kind { kLabel, kGroup, kEdit, kReadOnly, kCombo, kCheck, kTree, kButton, kTime };

struct TemplateItem {
    UINT id;
    Kind kind;
    UINT text; // string id, 0 none
    int x, y, w, h; // dialog units
};

// Template 146 (702 x 440 dialog units) without the period rows.
constexpr TemplateItem kTemplate[] = {
    {1257, kGroup, 731, 9, 4, 505, 162},
    {1258, kGroup, 740, 9, 169, 506, 187},
    {1256, kGroup, 730, 573, 92, 89, 17},
    {1173, kLabel, 732, 20, 19, 45, 8},
    {1048, kEdit, 0, 67, 15, 98, 14},
    {1174, kLabel, 733, 586, 46, 60, 8},
    {1049, kEdit, 0, 568, 65, 98, 14},
    {1175, kLabel, 734, 20, 37, 45, 8},
    {1114, kCombo, 0, 67, 33, 98, 14},
    {1241, kLabel, 735, 20, 58, 45, 8},
    {1118, kCombo, 0, 67, 53, 98, 14},
    {1176, kLabel, 0, 20, 78, 45, 8},
    {1177, kLabel, 0, 20, 97, 45, 8},
    {1178, kLabel, 0, 20, 116, 45, 8},
    {1050, kReadOnly, 0, 67, 72, 98, 14},
    {1051, kReadOnly, 0, 67, 91, 98, 14},
    {1052, kReadOnly, 0, 67, 110, 98, 14},
    {1184, kButton, 737, 171, 72, 36, 14},
    {1185, kButton, 737, 171, 91, 36, 14},
    {1186, kButton, 737, 171, 110, 36, 14},
    {1284, kLabel, 799, 19, 135, 187, 25},
    {1259, kLabel, 738, 213, 13, 120, 8},
    {1142, kTree, 0, 213, 26, 122, 130},
    {1260, kLabel, 739, 386, 13, 120, 8},
    {1143, kTree, 0, 380, 26, 122, 130},
    {1144, kButton, 764, 338, 58, 36, 14},
    {1145, kButton, 765, 338, 87, 36, 14},
    {1181, kLabel, 745, 15, 185, 55, 8},
    {1115, kCombo, 0, 71, 182, 48, 14},
    {1203, kLabel, 741, 15, 202, 55, 8},
    {1116, kCombo, 0, 71, 200, 48, 14},
    {1180, kLabel, 743, 135, 184, 78, 8},
    {1296, kCombo, 0, 214, 180, 32, 14},
    {1183, kLabel, 744, 251, 184, 40, 8},
    {1188, kLabel, 746, 135, 202, 78, 8},
    {1055, kEdit, 0, 214, 198, 32, 12},
    {1189, kLabel, 747, 251, 202, 60, 8},
    {1179, kLabel, 748, 320, 184, 44, 8},
    {1286, kCombo, 0, 365, 180, 38, 14},
    {1182, kLabel, 749, 406, 182, 30, 8},
    {1503, kLabel, 453, 320, 202, 44, 8},
    {1504, kCombo, 0, 365, 200, 38, 14},
    {1202, kCheck, 742, 442, 182, 68, 10},
    {1172, kButton, 753, 9, 362, 61, 14},
    {1187, kButton, 754, 76, 362, 61, 14},
    {1171, kButton, 755, 142, 362, 61, 14},
};

constexpr int kRowY[7] = {223, 242, 261, 280, 299, 318, 337};
constexpr int kFileMinutes[6] = {10, 20, 30, 40, 50, 60};
constexpr int kPreSeconds[4] = {3, 5, 8, 10};

CRect Dlu(int x, int y, int w, int h)
{
    return qelm::DialogUnitsToPixels(CRect(x, y, x + w, y + h));
}

void Place(QWidget* w, int x, int y, int cw, int ch)
{
    const CRect r = Dlu(x, y, cw, ch);
    w->setGeometry(r.left, r.top, r.Width(), r.Height());
}

QString Res(UINT id)
{
    return QString::fromUtf8(LoadResString(id));
}

std::string Field(const char* text, std::size_t size)
{
    return std::string(text, strnlen(text, size));
}

int TimeOfDay(const QTimeEdit* t)
{
    const QTime v = t->time();
    return v.hour() * 3600 + v.minute() * 60 + v.second();
}

QTime ToQTime(std::int32_t seconds)
{
    if (seconds < 0 || seconds >= 86400)
        return QTime(0, 0, 0);
    return QTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// Keeps a sink alive while its stop runs after g_csDevList is released.
struct SinkHold {
    explicit SinkHold(CRtspEvents* s) : sink(s) { sink->AddUse(); }
    ~SinkHold() { sink->ReleaseUse(); }
    SinkHold(const SinkHold&) = delete;
    SinkHold& operator=(const SinkHold&) = delete;
    CRtspEvents* sink;
};

// Reports a press on a tree item before the tree toggles its box.
class TreeClickFilter : public QObject {
public:
    TreeClickFilter(QTreeWidget* tree, CSettingRecordDlg* page) : QObject(tree), m_tree(tree), m_page(page) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(e);
            if (QTreeWidgetItem* item = m_tree->itemAt(me->position().toPoint()))
                m_page->OnNMClickTree(m_tree, item, item->checkState(0) == Qt::Checked);
        }
        return false;
    }

private:
    QTreeWidget* m_tree;
    CSettingRecordDlg* m_page;
};

QTreeWidgetItem* AddDevItem(QTreeWidget* tree, QTreeWidgetItem* parent, DeviceInfo& d)
{
    QTreeWidgetItem* item = CDevTree::GetInstance()->InsertItem(tree, parent, recpage::DevItemText(d),
                                                                recpage::DevItemImage(d), TreeData::Device, &d);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

QTreeWidgetItem* AddRoot(QTreeWidget* tree)
{
    QTreeWidgetItem* root = CDevTree::GetInstance()->InsertItem(tree, nullptr, LoadResString(766), 0);
    root->setFlags(root->flags() | Qt::ItemIsUserCheckable);
    root->setCheckState(0, Qt::Unchecked);
    return root;
}

void ExpandTopLevel(QTreeWidget* tree)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        tree->topLevelItem(i)->setExpanded(true);
}

} // namespace


BEGIN_MESSAGE_MAP(CSettingRecordDlg, CDialog)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_BROWSE1, &CSettingRecordDlg::OnBnClickedBtnBrowse1)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_BROWSE2, &CSettingRecordDlg::OnBnClickedBtnBrowse2)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_BROWSE3, &CSettingRecordDlg::OnBnClickedBtnBrowse3)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_ADDDEV, &CSettingRecordDlg::OnBnClickedBtnAddDev)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_DELDEV, &CSettingRecordDlg::OnBnClickedBtnDelDev)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_ADDSCHEME, &CSettingRecordDlg::OnBnClickedBtnAddScheme)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_MODIFY, &CSettingRecordDlg::OnBnClickedBtnModify)
    ON_BN_CLICKED(CSettingRecordDlg::IDC_BTN_DELSCHEME, &CSettingRecordDlg::OnBnClickedBtnDelScheme)
    ON_CBN_SELCHANGE(CSettingRecordDlg::IDC_COMBO_STARTTYPE, &CSettingRecordDlg::OnCbnSelchangeStartType)
    ON_MESSAGE(WM_RECPAGE_REFRESH, &CSettingRecordDlg::OnRecPageRefresh)
END_MESSAGE_MAP()

CSettingRecordDlg::CSettingRecordDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(pParent != nullptr);
    m_chooseFolder = [](CSettingRecordDlg* page) -> std::optional<std::string> {
        const QString dir = QFileDialog::getExistingDirectory(page, Res(776), QString(), QFileDialog::ShowDirsOnly);
        if (dir.isEmpty())
            return std::nullopt;
        return dir.toStdString();
    };
}

CSettingRecordDlg::~CSettingRecordDlg()
{
    delete m_pMsgDlg;
}

void CSettingRecordDlg::CreateControls()
{
    const CRect size = Dlu(0, 0, 702, 440);
    resize(size.Width(), size.Height());
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);
    for (const TemplateItem& t : kTemplate) {
        QWidget* w = nullptr;
        switch (t.kind) {
        case kLabel: {
            // Static texts wrap at their width, as the template's do.
            auto* label = new CTransparentStatic(this);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = label;
            break;
        }
        case kGroup: w = new QGroupBox(this); break;
        case kEdit: w = new QLineEdit(this); break;
        case kReadOnly: {
            auto* e = new QLineEdit(this);
            e->setReadOnly(true);
            w = e;
            break;
        }
        case kCombo: w = new QComboBox(this); break;
        case kCheck: w = new QCheckBox(this); break;
        case kTree: {
            auto* tree = new QTreeWidget(this);
            tree->setHeaderHidden(true);
            tree->setStyleSheet("QTreeView::item { height: 20px; }");
            tree->viewport()->installEventFilter(new TreeClickFilter(tree, this));
            (t.id == IDC_TREE_SCHEME ? m_pTreeScheme : m_pTreeAll) = tree;
            w = tree;
            break;
        }
        case kButton: {
            auto* b = new CGdipButton(this);
            m_buttons.push_back(b);
            w = b;
            break;
        }
        case kTime: break;
        }
        Place(w, t.x, t.y, t.w, t.kind == kLabel && t.h == 8 ? 17 : t.h);
        qelm::SetControlId(w, t.id);
    }
    for (int r = 0; r < 7; ++r) {
        const int y = kRowY[r];
        m_pRowCheck[r] = new QCheckBox(this);
        Place(m_pRowCheck[r], 15, y, 55, 10);
        qelm::SetControlId(m_pRowCheck[r], kRowCheck[r]);
        m_pRowDay[r] = new QComboBox(this);
        Place(m_pRowDay[r], 71, y - 2, 49, 14);
        qelm::SetControlId(m_pRowDay[r], kRowDay[r]);
        auto* from = new CTransparentStatic(this);
        Place(from, 135, y, 24, 8);
        qelm::SetControlId(from, 1261 + r);
        auto* to = new CTransparentStatic(this);
        Place(to, 226, y, 24, 8);
        qelm::SetControlId(to, 1268 + r);
        m_pRowStart[r] = new QTimeEdit(this);
        m_pRowEnd[r] = new QTimeEdit(this);
        for (QTimeEdit* t : {m_pRowStart[r], m_pRowEnd[r]})
            t->setDisplayFormat("HH:mm:ss");
        Place(m_pRowStart[r], 161, y - 1, 49, 12);
        Place(m_pRowEnd[r], 252, y - 1, 49, 12);
        qelm::SetControlId(m_pRowStart[r], kRowStart(r + 1));
        qelm::SetControlId(m_pRowEnd[r], kRowEnd(r + 1));
    }
}

QComboBox* CSettingRecordDlg::Combo(UINT id) const
{
    return GetDlgItemT<QComboBox>(id);
}

QLineEdit* CSettingRecordDlg::Edit(UINT id) const
{
    return GetDlgItemT<QLineEdit>(id);
}

BOOL CSettingRecordDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(this);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    for (const TemplateItem& t : kTemplate) {
        if (t.text && t.kind != kButton)
            SetDlgItemText(t.id, LoadResString(t.text).c_str());
    }
    for (int n = 0; n < 3; ++n)
        SetDlgItemText(1176 + n, (LoadResString(736) + char('1' + n)).c_str());
    for (int r = 0; r < 7; ++r) {
        m_pRowCheck[r]->setText(Res(750) + QChar('1' + r));
        SetDlgItemText(1261 + r, LoadResString(751).c_str());
        SetDlgItemText(1268 + r, LoadResString(752).c_str());
    }
    auto fill = [this](UINT id, std::initializer_list<QString> items, int sel) {
        QComboBox* c = Combo(id);
        c->clear();
        for (const QString& s : items)
            c->addItem(s);
        c->setCurrentIndex(sel);
    };
    fill(IDC_COMBO_STORAGE, {Res(756), Res(757)}, 1);
    fill(IDC_COMBO_STARTTYPE, {Res(758), Res(759), Res(798)}, 0);
    fill(IDC_COMBO_ONOFF, {Res(760), Res(761)}, 0);
    fill(IDC_COMBO_STREAM, {Res(762), Res(763)}, 1);
    fill(IDC_COMBO_FILETIME, {"10", "20", "30", "40", "50", "60"}, 2);
    fill(IDC_COMBO_PRETIME, {"3", "5", "8", "10"}, 1);
    fill(IDC_COMBO_RECTYPE, {"AVI", "MP4"}, 0);
    if (g_DispInfoSetting.LoginType != 0) {
        Combo(IDC_COMBO_STREAM)->setCurrentIndex(0);
        Combo(IDC_COMBO_STREAM)->setEnabled(false);
    }
    SetDlgItemText(IDC_EDIT_DETTIME, "60");
    GetDlgItem(IDC_EDIT_DETTIME)->setEnabled(false);
    SetDlgItemText(IDC_STATIC_RECTYPE, LoadResString(453).c_str());
    for (CGdipButton* b : m_buttons) {
        const UINT id = qelm::ControlId(b);
        const bool plan = id == IDC_BTN_ADDSCHEME || id == IDC_BTN_DELSCHEME || id == IDC_BTN_MODIFY;
        b->LoadImageResource(plan ? 329 : 189, "PNG");
        for (const TemplateItem& t : kTemplate)
            if (t.id == id)
                b->SetButtonTextW(LoadResStringW(t.text).c_str());
    }
    InitDevTrees();
    ResetPeriods();
    EnsureDefaultStrategy();
    Edit(IDC_EDIT_NAME)->setMaxLength(256);
    Edit(IDC_EDIT_SAVEDATE)->setMaxLength(256);
    for (UINT id : {IDC_EDIT_PATH1, IDC_EDIT_PATH2, IDC_EDIT_PATH3})
        Edit(id)->setMaxLength(1024);
    m_bInitialised = true;
    SetDlgItemText(IDC_STATIC_NOTE, LoadResString(799).c_str());
    Combo(IDC_COMBO_PRETIME)->setEnabled(false);
    GetDlgItem(IDC_GROUP_STRATEGY)->hide();
    GetDlgItem(1174)->hide();
    GetDlgItem(IDC_EDIT_SAVEDATE)->hide();
    return TRUE;
}

BOOL CSettingRecordDlg::PreTranslateMessage(MSG* pMsg)
{
    // A child page must never close itself.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return TRUE;
    if (pMsg->wParam == VK_F4 && (pMsg->lParam & (1 << 29)))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CSettingRecordDlg::OnPaint()
{
    QPainter painter(this);
    CRect rc;
    GetClientRect(&rc);
    m_gdi.DrawImageFile((GetAppDir() + "Images\\Pagebk.jpg").c_str(), rc, &painter);
}

void CSettingRecordDlg::ShowMsg(const std::string& text)
{
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsgW(QString::fromStdString(text).toStdWString().c_str(), 2, 0);
}

void CSettingRecordDlg::ShowMsgId(UINT id)
{
    ShowMsg(LoadResString(id));
}

void CSettingRecordDlg::InitDevTrees()
{
    m_pTreeAll->setIconSize(QSize(16, 16));
    CDevTree::GetInstance()->InitChannelList(m_pTreeAll);
    // The channel list builds items without boxes; this page ticks them.
    std::function<void(QTreeWidgetItem*)> boxes = [&boxes](QTreeWidgetItem* item) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        for (int i = 0; i < item->childCount(); ++i)
            boxes(item->child(i));
    };
    for (int i = 0; i < m_pTreeAll->topLevelItemCount(); ++i)
        boxes(m_pTreeAll->topLevelItem(i));
    m_pTreeScheme->setIconSize(QSize(16, 16));
    m_pTreeScheme->clear();
    m_hSchemeRoot = AddRoot(m_pTreeScheme);
}

void CSettingRecordDlg::ResetPeriods()
{
    for (int r = 0; r < 7; ++r) {
        m_pRowCheck[r]->setChecked(false);
        m_pRowDay[r]->clear();
        for (UINT id = 767; id <= 774; ++id)
            m_pRowDay[r]->addItem(Res(id));
        m_pRowDay[r]->setCurrentIndex(0);
        m_pRowStart[r]->setTime(QTime(0, 0, 0));
        m_pRowEnd[r]->setTime(QTime(23, 59, 59));
    }
}

void CSettingRecordDlg::FillAllDevTree()
{
    m_pTreeAll->clear();
    QTreeWidgetItem* root = AddRoot(m_pTreeAll);
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (recpage::IsPlayable(d))
                AddDevItem(m_pTreeAll, root, d);
    }
    ExpandTopLevel(m_pTreeAll);
}

void CSettingRecordDlg::ShowScheme(RecScheme* plan)
{
    if (!plan)
        return;
    const std::string name = Field(plan->SchemeName, sizeof plan->SchemeName);
    GetDlgItem(IDC_BTN_DELSCHEME)->setEnabled(name != kDefaultName);
    m_bHasCurrent = true;
    m_strCurrent = name;

    SetDlgItemText(IDC_EDIT_NAME, name.c_str());
    SetDlgItemText(IDC_EDIT_SAVEDATE, std::to_string(plan->SaveDate).c_str());
    SetDlgItemText(IDC_EDIT_PATH1, plan->StoragePath1);
    SetDlgItemText(IDC_EDIT_PATH2, plan->StoragePath2);
    SetDlgItemText(IDC_EDIT_PATH3, plan->StoragePath3);

    int pre = 1;
    for (int i = 0; i < 4; ++i)
        if (plan->PreRecTime == kPreSeconds[i])
            pre = i;
    Combo(IDC_COMBO_PRETIME)->setCurrentIndex(pre);
    for (int i = 0; i < 6; ++i)
        if (plan->RecFileTime == kFileMinutes[i] * 60)
            Combo(IDC_COMBO_FILETIME)->setCurrentIndex(i);

    Combo(IDC_COMBO_STORAGE)->setCurrentIndex(plan->StorageScheme);
    Combo(IDC_COMBO_STARTTYPE)->setCurrentIndex(plan->StartType);
    if (plan->StartType == 0) {
        Combo(IDC_COMBO_FILETIME)->setEnabled(true);
        GetDlgItem(IDC_EDIT_DETTIME)->setEnabled(false);
    } else {
        Combo(IDC_COMBO_FILETIME)->setEnabled(false);
        GetDlgItem(IDC_EDIT_DETTIME)->setEnabled(true);
        SetDlgItemText(IDC_EDIT_DETTIME, std::to_string(plan->DetRecTime).c_str());
    }
    Combo(IDC_COMBO_ONOFF)->setCurrentIndex(plan->OnOff);
    Combo(IDC_COMBO_STREAM)->setCurrentIndex(plan->RecStreamType);
    CheckDlgButton(IDC_CHECK_AUDIO, plan->RecAudio ? 1 : 0);
    Combo(IDC_COMBO_RECTYPE)->setCurrentIndex(plan->ReccordType);

    m_pTreeScheme->clear();
    m_hSchemeRoot = AddRoot(m_pTreeScheme);
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo* member : plan->lstDev) {
            if (!member)
                continue;
            for (DeviceInfo& d : g_lstDevInfo) {
                if (std::strcmp(d.DevName, member->DevName) == 0 && std::strcmp(d.DevId, member->DevId) == 0 &&
                    !(d.DevType == 4 && d.CurNVRChannel == 0)) {
                    AddDevItem(m_pTreeScheme, m_hSchemeRoot, d);
                    break;
                }
            }
        }
    }
    ExpandTopLevel(m_pTreeScheme);

    ResetPeriods();
    for (const RecTime& seg : plan->lstRecTime) {
        if (seg.TimeDuration < 1 || seg.TimeDuration > 7)
            continue;
        const int r = seg.TimeDuration - 1;
        m_pRowCheck[r]->setChecked(true);
        m_pRowDay[r]->setCurrentIndex(seg.DayOfWeek - 1);
        m_pRowStart[r]->setTime(ToQTime(seg.StartTime));
        m_pRowEnd[r]->setTime(ToQTime(seg.EndTime));
    }
}

int CSettingRecordDlg::HasFreeSpace(const std::string& path)
{
    return recpage::HasFreeSpace(path) ? 1 : 0;
}

int CSettingRecordDlg::CheckPathSpace(const std::string& path)
{
    if (recpage::HasFreeSpace(path))
        return 1;
    ShowMsgId(777);
    return 0;
}

void CSettingRecordDlg::Browse(int index)
{
    const UINT edits[3] = {IDC_EDIT_PATH1, IDC_EDIT_PATH2, IDC_EDIT_PATH3};
    const UINT mine = edits[index - 1];
    const std::optional<std::string> chosen = m_chooseFolder ? m_chooseFolder(this) : std::nullopt;
    if (!chosen || chosen->empty()) {
        SetDlgItemText(mine, "");
        return;
    }
    // A cut path would name another folder.
    if (chosen->size() >= sizeof RecScheme{}.StoragePath1) {
        ShowMsgId(1592);
        return;
    }
    // The filesystem of the chosen folder plays the drive.
    if (!CheckPathSpace(*chosen))
        return;
    for (UINT other : edits) {
        if (other != mine && recpage::SameFolder(*chosen, GetDlgItemText(other))) {
            ShowMsgId(796);
            return;
        }
    }
    SetDlgItemText(mine, chosen->c_str());
}

void CSettingRecordDlg::OnCbnSelchangeStartType()
{
    const int sel = Combo(IDC_COMBO_STARTTYPE)->currentIndex();
    if (sel == 0) {
        GetDlgItem(IDC_EDIT_DETTIME)->setEnabled(false);
        Combo(IDC_COMBO_FILETIME)->setEnabled(true);
        Combo(IDC_COMBO_PRETIME)->setEnabled(false);
        Combo(IDC_COMBO_RECTYPE)->setCurrentIndex(0);
        Combo(IDC_COMBO_RECTYPE)->setEnabled(true);
        return;
    }
    Combo(IDC_COMBO_FILETIME)->setEnabled(false);
    GetDlgItem(IDC_EDIT_DETTIME)->setEnabled(true);
    Combo(IDC_COMBO_PRETIME)->setCurrentIndex(3);
    Combo(IDC_COMBO_PRETIME)->setEnabled(true);
    SetDlgItemText(IDC_STATIC_DETTIME, LoadResString(sel == 2 ? 1421 : 746).c_str());
    GetDlgItem(IDC_STATIC_DETTIME)->update();
    Combo(IDC_COMBO_RECTYPE)->setCurrentIndex(0);
    Combo(IDC_COMBO_RECTYPE)->setEnabled(false);
}

void CSettingRecordDlg::OnBnClickedBtnAddDev()
{
    QTreeWidgetItem* allRoot = m_pTreeAll->topLevelItem(0);
    if (!allRoot || !m_hSchemeRoot)
        return;
    for (int i = 0; i < allRoot->childCount(); ++i) {
        QTreeWidgetItem* item = allRoot->child(i);
        if (item->checkState(0) != Qt::Checked)
            continue;
        DeviceInfo* d = devtree::ItemDevice(item);
        if (!d)
            continue;
        bool present = false;
        for (int k = 0; k < m_hSchemeRoot->childCount() && !present; ++k) {
            const DeviceInfo* m = devtree::ItemDevice(m_hSchemeRoot->child(k));
            present = m && std::strcmp(m->DevName, d->DevName) == 0 && std::strcmp(m->DevId, d->DevId) == 0;
        }
        if (!present) {
            qelm::CsLock lock(g_csDevList);
            AddDevItem(m_pTreeScheme, m_hSchemeRoot, *d);
        }
    }
    ExpandTopLevel(m_pTreeScheme);
}

void CSettingRecordDlg::OnBnClickedBtnDelDev()
{
    if (!m_hSchemeRoot)
        return;
    for (int i = m_hSchemeRoot->childCount() - 1; i >= 0; --i)
        if (m_hSchemeRoot->child(i)->checkState(0) == Qt::Checked)
            delete m_hSchemeRoot->takeChild(i);
}

void CSettingRecordDlg::OnNMClickTree(QTreeWidget* tree, QTreeWidgetItem* item, bool wasChecked)
{
    if (!item)
        return;
    // A click on the box toggles it after this, so the children follow it.
    if (item->childCount() > 0)
        for (int i = 0; i < item->childCount(); ++i)
            item->child(i)->setCheckState(0, wasChecked ? Qt::Unchecked : Qt::Checked);
    tree->setCurrentItem(item);
}

LRESULT CSettingRecordDlg::OnRecPageRefresh(WPARAM, LPARAM)
{
    CDevTree::GetInstance()->RefreshDevTreeState(m_pTreeAll);
    CDevTree::GetInstance()->RefreshDevTreeState(m_pTreeScheme);
    return 0;
}

void CSettingRecordDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kTimerRefresh) {
        KillTimer(kTimerRefresh);
        if (IsWindowVisible())
            PostMessage(WM_RECPAGE_REFRESH, 0, 0);
        return;
    }
    CDialog::OnTimer(nIDEvent);
}

int CSettingRecordDlg::CheckTimeConflict(const RecScheme* existing, const RecScheme* candidate)
{
    if (!existing || !candidate)
        return 0;
    return recpage::CheckTimeConflict(*existing, *candidate);
}

std::unique_ptr<RecScheme> CSettingRecordDlg::ReadForm()
{
    auto plan = std::make_unique<RecScheme>();
    qelm::CopyBounded(plan->SchemeName, sizeof plan->SchemeName, GetDlgItemText(IDC_EDIT_NAME));
    qelm::CopyBounded(plan->StoragePath1, sizeof plan->StoragePath1, GetDlgItemText(IDC_EDIT_PATH1));
    qelm::CopyBounded(plan->StoragePath2, sizeof plan->StoragePath2, GetDlgItemText(IDC_EDIT_PATH2));
    qelm::CopyBounded(plan->StoragePath3, sizeof plan->StoragePath3, GetDlgItemText(IDC_EDIT_PATH3));
    plan->SaveDate = 0;
    plan->PreRecTime = std::atoi(Combo(IDC_COMBO_PRETIME)->currentText().toStdString().c_str());
    plan->RecFileTime = std::atoi(Combo(IDC_COMBO_FILETIME)->currentText().toStdString().c_str()) * 60;
    plan->DetRecTime = std::atoi(GetDlgItemText(IDC_EDIT_DETTIME).c_str());
    plan->OnOff = Combo(IDC_COMBO_ONOFF)->currentIndex();
    plan->StorageScheme = Combo(IDC_COMBO_STORAGE)->currentIndex();
    plan->StartType = Combo(IDC_COMBO_STARTTYPE)->currentIndex();
    plan->RecStreamType = g_DispInfoSetting.LoginType != 0 ? 0 : Combo(IDC_COMBO_STREAM)->currentIndex();
    plan->ReccordType = Combo(IDC_COMBO_RECTYPE)->currentIndex();
    plan->RecAudio = IsDlgButtonChecked(IDC_CHECK_AUDIO) ? 1 : 0;
    m_nMotionRecTime = plan->DetRecTime;
    for (int r = 0; r < 7; ++r) {
        if (!m_pRowCheck[r]->isChecked())
            continue;
        RecTime seg{r + 1, m_pRowDay[r]->currentIndex() + 1, TimeOfDay(m_pRowStart[r]), TimeOfDay(m_pRowEnd[r])};
        if (seg.StartTime > seg.EndTime) {
            char text[512];
            std::snprintf(text, sizeof text, (std::string("%s") + char('1' + r) + ":%s").c_str(),
                          LoadResString(750).c_str(), LoadResString(783).c_str());
            ShowMsg(text);
            return nullptr;
        }
        plan->lstRecTime.push_back(seg);
    }
    if (plan->lstRecTime.empty()) {
        ShowMsgId(795);
        return nullptr;
    }
    return plan;
}

bool CSettingRecordDlg::ReadMembers(RecScheme& plan, const std::string& referenceName)
{
    if (!m_hSchemeRoot)
        return true;
    std::string conflict;
    {
        qelm::CsLock lock(g_csDevList);
        for (int i = 0; i < m_hSchemeRoot->childCount() && conflict.empty(); ++i) {
            DeviceInfo* d = devtree::ItemDevice(m_hSchemeRoot->child(i));
            if (!d)
                continue;
            for (const RecScheme* other : g_lstRecSchemeInfo) {
                if (!other || Field(other->SchemeName, sizeof other->SchemeName) == referenceName)
                    continue;
                bool shares = false;
                for (const DeviceInfo* m : other->lstDev)
                    shares = shares || (m && std::strcmp(m->DevName, d->DevName) == 0);
                if (shares && CheckTimeConflict(other, &plan) == -1) {
                    char text[1024];
                    std::snprintf(text, sizeof text, "%s %s", d->DevName, LoadResString(784).c_str());
                    conflict = text;
                    break;
                }
            }
            if (conflict.empty())
                plan.lstDev.push_back(d);
        }
    }
    if (conflict.empty())
        return true;
    ShowMsg(conflict); // outside the lock
    return false;
}

RecScheme* CSettingRecordDlg::FindPlan(const std::string& name) const
{
    for (RecScheme* p : g_lstRecSchemeInfo)
        if (p && Field(p->SchemeName, sizeof p->SchemeName) == name)
            return p;
    return nullptr;
}

void CSettingRecordDlg::StopSinks(std::vector<std::function<void()>>& jobs, DeviceInfo& d, bool modify)
{
    const char* kDel = "CSettingRecordDlg::OnBnClickedBtnDelScheme()";
    const char* kMod = "CSettingRecordDlg::OnBnClickedBtnModify()";
    bool stoppedAny = false;
    int n = 0;
    for (CRtspEvents* sink : {d.pRtspEvent1, d.pRtspEvent2}) {
        ++n;
        if (!sink)
            continue;
        const bool recording = sink->GetStreamId() != 0 && sink->IsRecording();
        if (!modify && !recording)
            continue;
        bool close = !sink->IsRenderMedia();
        if (recording) {
            // The Modify handler logs sink 1's stop with the Delete handler's text.
            WriteLog(6, "%s: RtspEvent%d Stop Record, DevName=%s", (modify && n == 2) ? kMod : kDel, n, d.DevName);
            stoppedAny = true;
        }
        if (close) {
            WriteLog(6, "%s: RtspEvent%d Stop decoder delete stream id=%d, DevName=%s", modify ? kMod : kDel, n,
                     int(sink->GetStreamId()), d.DevName);
            (n == 1 ? d.StreamId1 : d.StreamId2) = 0;
        }
        // A stream that feeds a relay client keeps running for it.
        const bool deleteStream = close && !sink->IsRelayFeeding();
        auto hold = std::make_shared<SinkHold>(sink);
        jobs.push_back([hold, recording, close, deleteStream] {
            if (recording)
                hold->sink->StopRecord();
            if (close) {
                if (deleteStream)
                    hold->sink->DeleteStream();
                hold->sink->CloseAllDecoder();
            }
        });
    }
    if (modify) {
        d.RecFlag = 0;
        d.RecTimeDuration = 0;
        d.MotionAlarmType = 0;
        d.IOAlarmType = 0;
        d.RecSchemeName[0] = 0;
    } else if (stoppedAny) {
        d.RecFlag = 0;
        d.RecTimeDuration = 0;
        d.RecSchemeName[0] = 0;
    } else {
        WriteLog(6, "CSettingRecordDlg::OnBnClickedBtnDelScheme(): Stop record failed. all RtspEvent not be record.");
    }
}

namespace {

// A member's recording that runs for another plan is that plan's business.
bool RecordsForOtherPlan(const DeviceInfo& d, const std::string& plan)
{
    return d.RecSchemeName[0] && Field(d.RecSchemeName, sizeof d.RecSchemeName) != plan;
}

DeviceInfo* LiveByName(const char* name)
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevName, name) == 0)
            return &d;
    return nullptr;
}

void RunJobs(std::vector<std::function<void()>>& jobs)
{
    for (auto& job : jobs)
        job();
    jobs.clear();
}

} // namespace

void CSettingRecordDlg::OnBnClickedBtnAddScheme()
{
    const std::string name = GetDlgItemText(IDC_EDIT_NAME);
    if (name.empty()) {
        ShowMsgId(787);
        return;
    }
    if (name.size() >= sizeof RecScheme{}.SchemeName) {
        ShowMsgId(1592); // a cut name would be another name
        return;
    }
    bool exists;
    {
        qelm::CsLock lock(g_csDevList);
        exists = FindPlan(name) != nullptr;
    }
    if (exists) {
        ShowMsgId(788);
        return;
    }
    if (GetDlgItemText(IDC_EDIT_PATH1).empty() && GetDlgItemText(IDC_EDIT_PATH2).empty() &&
        GetDlgItemText(IDC_EDIT_PATH3).empty()) {
        ShowMsgId(789);
        return;
    }
    const int det = std::atoi(GetDlgItemText(IDC_EDIT_DETTIME).c_str());
    if (det < 10 || det > 600) {
        ShowMsgId(790);
        return;
    }
    std::unique_ptr<RecScheme> plan = ReadForm();
    if (!plan || !ReadMembers(*plan, name))
        return;
    m_bHasCurrent = true;
    m_strCurrent = Field(plan->SchemeName, sizeof plan->SchemeName);
    GetDlgItem(IDC_BTN_DELSCHEME)->setEnabled(m_strCurrent != kDefaultName);
    {
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.push_back(plan.release());
        DeviceServices()->ReloadRecSchemeTree();
    }
    ShowMsgId(791);
    SaveRecInfo();
}

void CSettingRecordDlg::OnBnClickedBtnModify()
{
    if (!m_bHasCurrent) {
        ShowMsgId(778);
        return;
    }
    const std::string name = GetDlgItemText(IDC_EDIT_NAME);
    if (name.empty()) {
        ShowMsgId(779);
        return;
    }
    if (name.size() >= sizeof RecScheme{}.SchemeName) {
        ShowMsgId(1592);
        return;
    }
    if (m_strCurrent == kDefaultName && name != kDefaultName) {
        ShowMsgId(797);
        return;
    }
    if (GetDlgItemText(IDC_EDIT_PATH1).empty() && GetDlgItemText(IDC_EDIT_PATH2).empty() &&
        GetDlgItemText(IDC_EDIT_PATH3).empty()) {
        ShowMsgId(781);
        return;
    }
    const int det = std::atoi(GetDlgItemText(IDC_EDIT_DETTIME).c_str());
    if (det < 10 || det > 600) {
        ShowMsgId(782);
        return;
    }
    bool taken = false;
    {
        qelm::CsLock lock(g_csDevList);
        const RecScheme* current = FindPlan(m_strCurrent);
        for (const RecScheme* p : g_lstRecSchemeInfo)
            taken = taken || (p && p != current && Field(p->SchemeName, sizeof p->SchemeName) == name);
    }
    if (taken) {
        ShowMsgId(780);
        return;
    }
    std::unique_ptr<RecScheme> fresh = ReadForm();
    if (!fresh || !ReadMembers(*fresh, m_strCurrent))
        return;

    std::vector<std::function<void()>> jobs;
    bool found = false;
    {
        qelm::CsLock lock(g_csDevList);
        if (RecScheme* plan = FindPlan(m_strCurrent)) {
            found = true;
            for (const DeviceInfo* member : plan->lstDev) {
                DeviceInfo* d = member ? LiveByName(member->DevName) : nullptr;
                if (d && !RecordsForOtherPlan(*d, m_strCurrent))
                    StopSinks(jobs, *d, true);
            }
            std::memcpy(plan->SchemeName, fresh->SchemeName, sizeof plan->SchemeName);
            std::memcpy(plan->StoragePath1, fresh->StoragePath1, sizeof plan->StoragePath1);
            std::memcpy(plan->StoragePath2, fresh->StoragePath2, sizeof plan->StoragePath2);
            std::memcpy(plan->StoragePath3, fresh->StoragePath3, sizeof plan->StoragePath3);
            plan->SaveDate = fresh->SaveDate;
            plan->StorageScheme = fresh->StorageScheme;
            plan->OnOff = fresh->OnOff;
            plan->PreRecTime = fresh->PreRecTime;
            plan->RecFileTime = fresh->RecFileTime;
            plan->RecAudio = fresh->RecAudio;
            plan->RecStreamType = fresh->RecStreamType;
            plan->StartType = fresh->StartType;
            plan->DetRecTime = fresh->DetRecTime;
            plan->ReccordType = fresh->ReccordType;
            plan->lstDev = fresh->lstDev;
            plan->lstRecTime = fresh->lstRecTime;
        }
    }
    RunJobs(jobs);

    IDeviceServices* services = DeviceServices();
    if (m_strCurrent == kDefaultName) {
        services->SetDefaultRecordCaption(fresh->OnOff == 1 ? 253 : 252);
        services->SetScheduledRecordSkin(fresh->OnOff == 1 ? 330 : 331, 0);
    }
    if (fresh->OnOff == 0) {
        services->ClearDefaultRecordFlag();
        services->SetScheduledRecordSkin(331, 318);
    }
    if (found) {
        services->ReloadRecSchemeTree();
        ShowMsgId(785);
        SaveRecInfo();
    } else {
        ShowMsgId(786);
    }
    SetTimer(kTimerRefresh, 1000);
}

void CSettingRecordDlg::OnBnClickedBtnDelScheme()
{
    if (!m_bHasCurrent) {
        ShowMsgId(792);
        return;
    }
    std::vector<std::function<void()>> jobs;
    RecScheme* removed = nullptr;
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = g_lstRecSchemeInfo.begin(); it != g_lstRecSchemeInfo.end(); ++it) {
            RecScheme* plan = *it;
            if (!plan || Field(plan->SchemeName, sizeof plan->SchemeName) != m_strCurrent)
                continue;
            for (const DeviceInfo* member : plan->lstDev) {
                DeviceInfo* d = member ? LiveByName(member->DevName) : nullptr;
                if (d && d->RecFlag && !RecordsForOtherPlan(*d, m_strCurrent))
                    StopSinks(jobs, *d, false);
            }
            g_lstRecSchemeInfo.erase(it);
            removed = plan;
            break;
        }
    }
    RunJobs(jobs);
    delete removed; // the form keeps the plan by name only
    ShowMsgId(793);
    DeviceServices()->ReloadRecSchemeTree();
    SaveRecInfo();
}

void CSettingRecordDlg::EnsureDefaultStrategy()
{
    RecScheme* existing = nullptr;
    {
        qelm::CsLock lock(g_csDevList);
        if (g_lstDevInfo.empty())
            return;
        existing = FindPlan(kDefaultName);
    }
    if (existing) {
        ShowScheme(existing);
        return;
    }
    if (m_bDefaultSchemeCreated == 1)
        return;

    auto plan = std::make_unique<RecScheme>();
    qelm::CopyBounded(plan->SchemeName, sizeof plan->SchemeName, kDefaultName);
    char* paths[3] = {plan->StoragePath1, plan->StoragePath2, plan->StoragePath3};
    int used = 0;
    for (const std::string& drive : qelm::DriveList()) {
        if (used == 3)
            break;
        if (HasFreeSpace(drive))
            qelm::CopyBounded(paths[used++], sizeof plan->StoragePath1, drive);
    }
    plan->PreRecTime = 5;
    plan->RecFileTime = 1800;
    plan->DetRecTime = 60;
    plan->OnOff = 0;
    plan->StorageScheme = 1;
    plan->StartType = 0;
    plan->RecAudio = 0;
    plan->RecStreamType = g_DispInfoSetting.LoginType != 0 ? 0 : 1;
    plan->SaveDate = 0;
    plan->ReccordType = 0;
    plan->lstRecTime.push_back(RecTime{1, 8, 0, 23 * 3600 + 59 * 60 + 59});
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (recpage::IsPlayable(d))
                plan->lstDev.push_back(&d);
    }
    RecScheme* raw = plan.release();
    ShowScheme(raw);
    {
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.push_back(raw);
        DeviceServices()->ReloadRecSchemeTree();
    }
    SaveRecInfo();
    m_bDefaultSchemeCreated = 1;
}

void CSettingRecordDlg::AddDeviceToDefaultStrategy(const DeviceInfo& device)
{
    if (m_bDefaultSchemeCreated != 1)
        return;
    {
        qelm::CsLock lock(g_csDevList);
        RecScheme* plan = FindPlan(kDefaultName);
        if (!plan)
            return;
        for (const DeviceInfo* m : plan->lstDev)
            if (m && std::strcmp(m->DevName, device.DevName) == 0)
                return;
        // The plan keeps the live record: the one passed when it is listed,
        // else the listed record of that name and id.
        DeviceInfo* live = nullptr;
        for (DeviceInfo& d : g_lstDevInfo) {
            if (&d == &device) {
                live = &d;
                break;
            }
            if (!live && std::strcmp(d.DevName, device.DevName) == 0 && std::strcmp(d.DevId, device.DevId) == 0)
                live = &d;
        }
        if (!live)
            return;
        plan->lstDev.push_back(live);
    }
    // Saved at once, so a crash cannot lose the member.
    SaveRecInfo();
}
