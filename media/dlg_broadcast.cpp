// The audio broadcast page: the two device trees, the audio format and
// Config/BroadcastInfo.xml.
#include "media/dlg_broadcast.h"

#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "res/strings.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <tinyxml.h>

#include <cstring>

namespace {

IBroadcastServices g_defaultServices;
IBroadcastServices* g_pServices = nullptr;

IBroadcastServices& Services()
{
    return g_pServices ? *g_pServices : g_defaultServices;
}

constexpr int kIdRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kItemHeight = 20;

bool IsNvrOwnRow(const DeviceInfo& d)
{
    return d.DevType == 4 && d.CurNVRChannel == 0;
}

// The layout of template 337 (330 x 205 dialog units) in pixels.
struct Place {
    UINT id;
    int x, y, w, h;
};
constexpr Place kLayout[] = {
    {CDlgBroadcast::IDC_STATIC_BROADCAST, 12, 8, 200, 20},
    {CDlgBroadcast::IDC_TREE_BROADCAST, 12, 30, 200, 226},
    {CDlgBroadcast::IDC_BTN_ADD, 222, 100, 52, 26},
    {CDlgBroadcast::IDC_BTN_REMOVE, 222, 140, 52, 26},
    {CDlgBroadcast::IDC_STATIC_ORIGINAL, 284, 8, 200, 20},
    {CDlgBroadcast::IDC_TREE_DEVICE, 284, 30, 200, 226},
    {CDlgBroadcast::IDC_GROUP_AUDIO, 12, 264, 472, 58},
    {CDlgBroadcast::IDC_STATIC_FORMAT, 24, 288, 110, 22},
    {CDlgBroadcast::IDC_RADIO_G711, 140, 288, 70, 22},
    {CDlgBroadcast::IDC_RADIO_AAC, 214, 288, 70, 22},
    {CDlgBroadcast::IDC_BTN_OK, 396, 286, 76, 26},
    // Hidden: channel count and sampling rate.
    {CDlgBroadcast::IDC_STATIC_CHANNEL, 24, 330, 60, 20},
    {CDlgBroadcast::IDC_RADIO_MONO, 90, 330, 60, 20},
    {CDlgBroadcast::IDC_RADIO_STEREO, 150, 330, 80, 20},
    {CDlgBroadcast::IDC_STATIC_RATE, 240, 330, 80, 20},
    {CDlgBroadcast::IDC_RADIO_8000, 320, 330, 56, 20},
    {CDlgBroadcast::IDC_RADIO_16000, 376, 330, 56, 20},
    {CDlgBroadcast::IDC_RADIO_48000, 432, 330, 56, 20},
};
constexpr int kWidth = 495;
constexpr int kHeight = 333;

const Place& PlaceOf(UINT id)
{
    for (const Place& p : kLayout)
        if (p.id == id)
            return p;
    return kLayout[0];
}

} // namespace

void SetBroadcastServices(IBroadcastServices* services)
{
    g_pServices = services;
}

const char CDlgBroadcast::kTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<BroadcastList audio=\"0\">\n</BroadcastList>";

BEGIN_MESSAGE_MAP(CDlgBroadcast, CDialog)
    ON_BN_CLICKED(CDlgBroadcast::IDC_BTN_ADD, &CDlgBroadcast::OnBnClickedBtnAdd)
    ON_BN_CLICKED(CDlgBroadcast::IDC_BTN_REMOVE, &CDlgBroadcast::OnBnClickedBtnRemove)
    ON_BN_CLICKED(CDlgBroadcast::IDC_BTN_OK, &CDlgBroadcast::OnBnClickedOk)
END_MESSAGE_MAP()

CDlgBroadcast::CDlgBroadcast(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(pParent != nullptr);
}

CDlgBroadcast::~CDlgBroadcast() = default;

void CDlgBroadcast::CreateControls()
{
    resize(kWidth, kHeight);
    auto place = [this](QWidget* w, UINT id) {
        const Place& p = PlaceOf(id);
        w->setGeometry(p.x, p.y, p.w, p.h);
        qelm::SetControlId(w, id);
        return w;
    };
    auto tree = [&](UINT id) {
        auto* t = new QTreeWidget(this);
        place(t, id);
        t->setHeaderHidden(true);
        t->setColumnCount(1);
        t->setIconSize(QSize(16, 16));
        t->setStyleSheet(QStringLiteral("QTreeView::item { height: %1px; }").arg(kItemHeight));
        QObject::connect(t, &QTreeWidget::itemPressed, this,
                         [this](QTreeWidgetItem* item, int) { m_bPressedChecked = item->checkState(0) == Qt::Checked; });
        QObject::connect(t, &QTreeWidget::itemClicked, this,
                         [this, t](QTreeWidgetItem* item, int) { OnClickTreeItem(t, item, m_bPressedChecked); });
        return t;
    };
    m_pBroadcastTree = tree(IDC_TREE_BROADCAST);
    m_pDeviceTree = tree(IDC_TREE_DEVICE);
    for (UINT id : {IDC_STATIC_BROADCAST, IDC_STATIC_ORIGINAL, IDC_STATIC_FORMAT, IDC_STATIC_CHANNEL, IDC_STATIC_RATE})
        place(new QLabel(this), id);
    for (UINT id : {IDC_BTN_ADD, IDC_BTN_REMOVE, IDC_BTN_OK})
        place(new QPushButton(this), id);
    auto* group = new QGroupBox(this);
    place(group, IDC_GROUP_AUDIO);
    group->lower();
    // Three groups of radio buttons, each exclusive within itself.
    for (auto ids : {std::vector<UINT>{IDC_RADIO_G711, IDC_RADIO_AAC}, std::vector<UINT>{IDC_RADIO_MONO, IDC_RADIO_STEREO},
                     std::vector<UINT>{IDC_RADIO_8000, IDC_RADIO_16000, IDC_RADIO_48000}}) {
        for (UINT id : ids) {
            auto* r = new QRadioButton(this);
            place(r, id);
            r->setAutoExclusive(false);
            QObject::connect(r, &QRadioButton::clicked, this, [this, ids, id] {
                for (UINT other : ids)
                    CheckDlgButton(other, other == id ? 1 : 0);
            });
        }
    }
    for (UINT id : {IDC_STATIC_CHANNEL, IDC_RADIO_MONO, IDC_RADIO_STEREO, IDC_STATIC_RATE, IDC_RADIO_8000,
                    IDC_RADIO_16000, IDC_RADIO_48000})
        GetDlgItem(id)->hide();
}

BOOL CDlgBroadcast::OnInitDialog()
{
    CDialog::OnInitDialog();
    RefreshDeviceTree();

    m_pBroadcastTree->clear();
    m_hBroadcastRoot = new QTreeWidgetItem(m_pBroadcastTree);
    m_hBroadcastRoot->setText(0, qelm::ToQ(LoadResString(766)));
    m_hBroadcastRoot->setCheckState(0, Qt::Unchecked);
    m_vecMembers.clear();

    SetDlgItemText(IDC_STATIC_BROADCAST, LoadResString(1076).c_str());
    SetDlgItemText(IDC_STATIC_ORIGINAL, LoadResString(1077).c_str());
    SetDlgItemText(IDC_BTN_ADD, LoadResString(764).c_str());
    SetDlgItemText(IDC_BTN_REMOVE, LoadResString(765).c_str());
    SetDlgItemText(IDC_GROUP_AUDIO, LoadResString(1070).c_str());
    SetDlgItemText(IDC_STATIC_FORMAT, LoadResString(1071).c_str());
    SetDlgItemText(IDC_RADIO_G711, "G711");
    SetDlgItemText(IDC_RADIO_AAC, "AAC");
    SetDlgItemText(IDC_STATIC_CHANNEL, LoadResString(1072).c_str());
    SetDlgItemText(IDC_RADIO_MONO, LoadResString(1073).c_str());
    SetDlgItemText(IDC_RADIO_STEREO, LoadResString(1074).c_str());
    SetDlgItemText(IDC_STATIC_RATE, LoadResString(1075).c_str());
    SetDlgItemText(IDC_RADIO_8000, "8000");
    SetDlgItemText(IDC_RADIO_16000, "16000");
    SetDlgItemText(IDC_RADIO_48000, "48000");
    SetDlgItemText(IDC_BTN_OK, LoadResString(1065).c_str());
    for (UINT id : {IDC_RADIO_G711, IDC_RADIO_MONO, IDC_RADIO_8000})
        CheckDlgButton(id, 1);
    for (UINT id : {IDC_RADIO_AAC, IDC_RADIO_STEREO, IDC_RADIO_16000, IDC_RADIO_48000})
        CheckDlgButton(id, 0);
    m_nAudioFormat = kFormatG711;

    SetTimer(kLoadTimer, kLoadDelayMs);
    return TRUE;
}

void CDlgBroadcast::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kLoadTimer) {
        KillTimer(kLoadTimer);
        LoadBroadcastInfo();
        return;
    }
    CDialog::OnTimer(nIDEvent);
}

BOOL CDlgBroadcast::PreTranslateMessage(MSG* pMsg)
{
    // The page is not closed from the keyboard.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == 13 || pMsg->wParam == 27))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CDlgBroadcast::keyPressEvent(QKeyEvent* e)
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

DeviceInfo* CDlgBroadcast::FindMemberRecord(const BroadcastMember& member)
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (!IsNvrOwnRow(d) && member.DevId == d.DevId && member.DevName == d.DevName)
            return &d;
    return nullptr;
}

std::string CDlgBroadcast::ItemText(const DeviceInfo& d)
{
    if (d.DevType == 4)
        return std::string(d.DevId) + "-" + d.DevName;
    return d.DevName;
}

int CDlgBroadcast::StateIcon(const DeviceInfo& d)
{
    if (d.Online != 1)
        return 2;
    if (d.WatchFlag && d.RecFlag)
        return 10;
    if (d.WatchFlag)
        return 7;
    if (d.RecFlag)
        return 6;
    return 3;
}

QTreeWidgetItem* CDlgBroadcast::InsertDeviceItem(QTreeWidgetItem* parent, const DeviceInfo& d)
{
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, qelm::ToQ(ItemText(d)));
    item->setCheckState(0, Qt::Unchecked);
    const int image = StateIcon(d);
    item->setData(0, kImageRole, image);
    item->setData(0, kIdRole, qelm::ToQ(d.DevId));
    item->setData(0, kNameRole, qelm::ToQ(d.DevName));
    const std::vector<QIcon>* icons = Services().StateIcons();
    if (icons && image < int(icons->size()))
        item->setIcon(0, (*icons)[size_t(image)]);
    return item;
}

BroadcastMember CDlgBroadcast::ItemMember(const QTreeWidgetItem* item)
{
    return {qelm::FromQ(item->data(0, kIdRole).toString()), qelm::FromQ(item->data(0, kNameRole).toString())};
}

void CDlgBroadcast::RefreshDeviceTree()
{
    m_pDeviceTree->clear();
    auto* root = new QTreeWidgetItem(m_pDeviceTree);
    root->setText(0, qelm::ToQ(LoadResString(766)));
    root->setCheckState(0, Qt::Unchecked);
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo) {
            if (d.DevType == 2 || d.DevType == 5 || IsNvrOwnRow(d))
                continue;
            InsertDeviceItem(root, d);
        }
    }
    m_pDeviceTree->expandAll();
}

void CDlgBroadcast::RefreshBroadcastTree()
{
    if (!m_hBroadcastRoot)
        return;
    qDeleteAll(m_hBroadcastRoot->takeChildren());
    {
        qelm::CsLock lock(g_csDevList);
        for (const BroadcastMember& m : m_vecMembers)
            if (const DeviceInfo* d = FindMemberRecord(m))
                InsertDeviceItem(m_hBroadcastRoot, *d);
    }
    m_hBroadcastRoot->setExpanded(true);
}

void CDlgBroadcast::LoadBroadcastInfo()
{
    m_vecMembers.clear();
    const std::string path = ConfigFilePath(kFileName);
    TiXmlDocument doc;
    if (!qelm::cfg::LoadOrWriteTemplate(path, doc, kTemplate))
        return;
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return;
    bool present = false;
    const std::string audio = qelm::cfg::Attr(root, "audio", &present);
    if (present) {
        const bool g711 = qelm::cfg::ParseDecimal(audio) != 0;
        CheckDlgButton(IDC_RADIO_G711, g711 ? 1 : 0);
        CheckDlgButton(IDC_RADIO_AAC, g711 ? 0 : 1);
        m_nAudioFormat = g711 ? kFormatG711 : kFormatAAC;
    }
    std::size_t seen = 0;
    qelm::CsLock lock(g_csDevList);
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        bool hasId = false;
        BroadcastMember m;
        m.DevId = qelm::cfg::Attr(e, "DevId", &hasId);
        if (!hasId)
            continue;
        if (++seen > qelm::cfg::kMaxRecords) {
            WriteLog(3, "%s", qelm::cfg::RefusedRecords(path, "DevInfo", qelm::cfg::CountElements(e, "DevInfo") + seen - 1,
                                                        qelm::cfg::kMaxRecords).c_str());
            break;
        }
        m.DevName = qelm::cfg::Attr(e, "DevName");
        if (FindMemberRecord(m))
            m_vecMembers.push_back(std::move(m));
    }
}

void CDlgBroadcast::OnClickTreeItem(QTreeWidget* tree, QTreeWidgetItem* item, bool wasChecked)
{
    if (!tree || !item)
        return;
    for (int i = 0; i < item->childCount(); ++i)
        item->child(i)->setCheckState(0, wasChecked ? Qt::Unchecked : Qt::Checked);
    tree->setCurrentItem(item);
}

void CDlgBroadcast::OnBnClickedBtnAdd()
{
    QTreeWidgetItem* devRoot = m_pDeviceTree->topLevelItem(0);
    if (!devRoot || !m_hBroadcastRoot)
        return;
    qelm::CsLock lock(g_csDevList);
    for (int i = 0; i < devRoot->childCount(); ++i) {
        const QTreeWidgetItem* src = devRoot->child(i);
        if (src->checkState(0) != Qt::Checked)
            continue;
        const BroadcastMember m = ItemMember(src);
        bool already = false;
        for (int j = 0; j < m_hBroadcastRoot->childCount() && !already; ++j)
            already = ItemMember(m_hBroadcastRoot->child(j)) == m;
        if (already)
            continue;
        // The tree may be older than the device list: only a device that
        // still exists is added.
        if (const DeviceInfo* d = FindMemberRecord(m))
            InsertDeviceItem(m_hBroadcastRoot, *d);
    }
    m_pBroadcastTree->expandAll();
}

void CDlgBroadcast::OnBnClickedBtnRemove()
{
    if (!m_hBroadcastRoot)
        return;
    for (int i = m_hBroadcastRoot->childCount() - 1; i >= 0; --i)
        if (m_hBroadcastRoot->child(i)->checkState(0) == Qt::Checked)
            delete m_hBroadcastRoot->takeChild(i);
}

void CDlgBroadcast::OnBnClickedOk()
{
    IBroadcastServices& services = Services();
    if (!m_vecMembers.empty() && services.IsBroadcastRunning()) {
        {
            qelm::CsLock lock(g_csDevList);
            for (const BroadcastMember& m : m_vecMembers) {
                DeviceInfo* d = FindMemberRecord(m);
                if (!d)
                    continue;
                if (d->pRtspEvent1)
                    d->pRtspEvent1->SetBroadcastStatus(0);
                if (d->pRtspEvent2)
                    d->pRtspEvent2->SetBroadcastStatus(0);
            }
        }
        if (CAuxPtzCtrl* ctrl = services.AuxPtzCtrl())
            ctrl->StopBroadcast();
        services.SetBroadcastStopped();
    }

    // Members in tree order; a device deleted since it was listed is left out.
    m_vecMembers.clear();
    if (m_hBroadcastRoot) {
        qelm::CsLock lock(g_csDevList);
        for (int i = 0; i < m_hBroadcastRoot->childCount(); ++i) {
            BroadcastMember m = ItemMember(m_hBroadcastRoot->child(i));
            if (FindMemberRecord(m))
                m_vecMembers.push_back(std::move(m));
        }
    }

    const bool g711 = IsDlgButtonChecked(IDC_RADIO_G711) != 0;
    m_nAudioFormat = g711 ? kFormatG711 : kFormatAAC;
    m_nMono = IsDlgButtonChecked(IDC_RADIO_MONO) ? 1 : 0;
    m_nSampleRate = IsDlgButtonChecked(IDC_RADIO_8000) ? 8000 : IsDlgButtonChecked(IDC_RADIO_16000) ? 16000 : 48000;

    services.ShowMsg(1080, 2);

    qelm::cfg::SaveWithRoot(ConfigFilePath(kFileName), "CDlgBroadcast::OnBnClickedOk", [&](TiXmlElement* root) {
        qelm::cfg::ClearChildren(root);
        qelm::cfg::SetAttr(root, "audio", g711 ? 1 : 0);
        for (const BroadcastMember& m : m_vecMembers) {
            TiXmlElement* e = qelm::cfg::AppendElement(root, "DevInfo");
            qelm::cfg::SetAttr(e, "DevId", m.DevId);
            qelm::cfg::SetAttr(e, "DevName", m.DevName);
        }
    });
}
