// CDeviceListDlg: layout, views, search, clicks, drags and drops, double
// clicks, context menus and the selection operations.
#include "devices/device_list_dlg.h"

#include "core/helpers.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "platform/msgbox.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using devtree::ItemDevice;
using devtree::ItemKind;
using devtree::ItemRelay;

namespace {

// The tree control: its mouse input goes to the panel's handlers.
class CPanelTree : public QTreeWidget {
public:
    CPanelTree(CDeviceListDlg* owner, QWidget* parent) : QTreeWidget(parent), m_owner(owner) {}

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        QPoint pt = e->position().toPoint();
        if (e->button() == Qt::RightButton) {
            m_owner->OnNMRclickTree(pt);
            return;
        }
        QTreeWidget::mousePressEvent(e);
        if (e->button() == Qt::LeftButton) {
            m_pressPos = pt;
            m_pressItem = QPersistentModelIndex(indexAt(pt));
            m_owner->OnNMClickTree(pt);
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        QPoint pt = e->position().toPoint();
        if (m_owner->m_bDragging) {
            m_owner->OnDragMove(e->globalPosition().toPoint());
            return;
        }
        if ((e->buttons() & Qt::LeftButton) && m_pressItem.isValid() &&
            (pt - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
            QTreeWidgetItem* item = itemFromIndex(m_pressItem);
            m_pressItem = QPersistentModelIndex();
            if (item)
                m_owner->OnTvnBegindragTree(item);
            return;
        }
        QTreeWidget::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        m_pressItem = QPersistentModelIndex();
        if (m_owner->m_bDragging && e->button() == Qt::LeftButton) {
            m_owner->OnDrop(e->globalPosition().toPoint());
            return;
        }
        QTreeWidget::mouseReleaseEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        QTreeWidget::mouseDoubleClickEvent(e);
        if (e->button() == Qt::LeftButton)
            m_owner->OnNMDblclkTree(e->position().toPoint());
    }

private:
    CDeviceListDlg* m_owner;
    QPoint m_pressPos;
    // A rebuild between the press and the move (a reload posted by a worker)
    // deletes the items: the index then goes invalid, a raw pointer would dangle.
    QPersistentModelIndex m_pressItem;
};

QLabel* g_pDragImage = nullptr;

int AfterDash(const char* name)
{
    const char* dash = std::strchr(name, '-');
    return std::atoi(dash ? dash + 1 : name);
}

} // namespace

BEGIN_MESSAGE_MAP(CDeviceListDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_ORIG_GROUP, &CDeviceListDlg::OnBnClickedBtnOrigGroup)
    ON_BN_CLICKED(IDC_BTN_ONLINE_GROUP, &CDeviceListDlg::OnBnClickedBtnOnlineGroup)
    ON_BN_CLICKED(IDC_BTN_MAP_LIST, &CDeviceListDlg::OnBnClickedBtnMapList)
    ON_BN_CLICKED(IDC_BTN_FIND, &CDeviceListDlg::OnBnClickedBtnFind)
    ON_COMMAND(ID_AUTO_PLAY_GROUP, &CDeviceListDlg::OnAutoPlayGroup)
    ON_COMMAND(ID_SORT_ASCENDING, &CDeviceListDlg::OnSortAscending)
    ON_COMMAND(ID_SORT_DESCENDING, &CDeviceListDlg::OnSortDescending)
    ON_COMMAND(ID_DELETE_ALL, &CDeviceListDlg::OnDeleteAllDevices)
    ON_COMMAND(ID_MOVE_UP, &CDeviceListDlg::OnMoveUp)
    ON_COMMAND(ID_MOVE_DOWN, &CDeviceListDlg::OnMoveDown)
    ON_COMMAND(ID_RENAME_ALIAS, &CDeviceListDlg::OnRenameAlias)
END_MESSAGE_MAP()

CDeviceListDlg::CDeviceListDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(true);
}

CDeviceListDlg::~CDeviceListDlg()
{
    if (m_bDragging)
        EndDrag();
    delete m_pMsgDlg;
    if (m_pMenu)
        delete m_pMenu.data();
}

void CDeviceListDlg::CreateControls()
{
    resize(219, 520);
    m_pSearch = new QLineEdit(this);
    qelm::SetControlId(m_pSearch, IDC_EDIT_SEARCH);
    m_pBtnFind = new CGdipButton(this);
    qelm::SetControlId(m_pBtnFind, IDC_BTN_FIND);
    m_pTree = new CPanelTree(this, this);
    m_pTree->setHeaderHidden(true);
    m_pTree->setIconSize(QSize(16, 16));
    m_pTree->setUniformRowHeights(true);
    m_pTree->setStyleSheet(QStringLiteral("QTreeView::item { height: 20px; }"));
    qelm::SetControlId(m_pTree, IDC_TREE);
    m_pBtnOrig = new CGdipButton(this);
    qelm::SetControlId(m_pBtnOrig, IDC_BTN_ORIG_GROUP);
    m_pBtnOnline = new CGdipButton(this);
    qelm::SetControlId(m_pBtnOnline, IDC_BTN_ONLINE_GROUP);
    m_pBtnMap = new CGdipButton(this);
    qelm::SetControlId(m_pBtnMap, IDC_BTN_MAP_LIST);
}

BOOL CDeviceListDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg(this);
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    m_pBtnFind->LoadImageResource(172, "PNG");
    m_pBtnFind->SetTooltipText(LoadResString(331).c_str());
    m_pBtnOrig->LoadImageResource(155, "PNG");
    m_pBtnOrig->SetButtonText(LoadResString(320).c_str());
    m_pBtnOrig->SetTextColor(kSelectedCaptionColor);
    m_pBtnOnline->LoadImageResource(156, "PNG");
    m_pBtnOnline->SetButtonText(LoadResString(321).c_str());
    m_pBtnMap->LoadImageResource(156, "PNG");
    m_pBtnMap->SetButtonText(LoadResString(329).c_str());
    m_pBtnMap->hide();
    m_nViewMode = 1;
    m_bLayoutReady = 1;
    CRect rc;
    GetClientRect(&rc);
    OnSize(SIZE_RESTORED, rc.Width(), rc.Height());
    return TRUE;
}

void CDeviceListDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (!m_bLayoutReady)
        return;
    m_pBtnOrig->setGeometry(1, cy - 23, 108, 23);
    m_pBtnOnline->setGeometry(110, cy - 23, 108, 23);
    m_pBtnMap->setGeometry(219, cy - 23, 108, 23);
    m_pSearch->setGeometry(1, 1, cx - 24, 22);
    m_pBtnFind->setGeometry(cx - 22, 1, 22, 22);
    m_pTree->setGeometry(1, 24, cx - 2, cy - 49);
}

void CDeviceListDlg::OnPaint()
{
    QPainter p(this);
    CRect rc;
    GetClientRect(&rc);
    m_gdi.DrawImageFile((GetAppDir() + "Images/DevlistBk.png").c_str(), rc, &p);
}

BOOL CDeviceListDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE)
        return TRUE;
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
        if (pMsg->hwnd && pMsg->hwnd == qelm::HandleOf(m_pSearch))
            OnBnClickedBtnFind();
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

CGdipButton* CDeviceListDlg::Button(UINT id) const
{
    switch (id) {
    case IDC_BTN_FIND: return m_pBtnFind;
    case IDC_BTN_ORIG_GROUP: return m_pBtnOrig;
    case IDC_BTN_ONLINE_GROUP: return m_pBtnOnline;
    case IDC_BTN_MAP_LIST: return m_pBtnMap;
    default: return nullptr;
    }
}

void CDeviceListDlg::ShowMsg(UINT id)
{
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsg(LoadResString(id).c_str(), CResMsgDlg::MODE_INFO);
}

// --- views ---

void CDeviceListDlg::SelectViewButton(UINT id)
{
    for (UINT b : {IDC_BTN_ORIG_GROUP, IDC_BTN_ONLINE_GROUP, IDC_BTN_MAP_LIST}) {
        Button(b)->LoadImageResource(b == id ? 155 : 156, "PNG");
        Button(b)->SetTextColor(b == id ? kSelectedCaptionColor : 0);
    }
}

void CDeviceListDlg::RefreshDevTree()
{
    m_pBtnOrig->show();
    m_pBtnOnline->show();
    m_pBtnMap->hide();
    m_bPlanTree = 0;
    m_pDropHilite = nullptr;
    m_hCurGroupItem = nullptr;
    m_pDragItem = nullptr;
    if (m_nViewMode == 1)
        CDevTree::GetInstance()->InitDevTree(m_pTree, m_nListMode == 4);
    else if (m_nViewMode == 2)
        CDevTree::GetInstance()->InitOnlineOfflineTree(m_pTree, m_nListMode == 4);
}

void CDeviceListDlg::RefreshDevState()
{
    if (m_nViewMode == 1 || m_nViewMode == 2)
        CDevTree::GetInstance()->RefreshDevTreeState(m_pTree);
}

void CDeviceListDlg::RefreshVssState()
{
    CDevTree::GetInstance()->RefreshVssTreeState(m_pTree);
}

void CDeviceListDlg::SetDevAlarmIcon(const char* name, int flag)
{
    if (m_nViewMode == 3)
        CDevTree::GetInstance()->SetMapAlarmIcon(m_pTree, name, flag);
    else
        CDevTree::GetInstance()->SetDevAlarmIcon(m_pTree, name, flag);
}

void CDeviceListDlg::SetVssChannelIcon(const char* devName, const char* mac, int flag)
{
    if (m_nViewMode != 3)
        CDevTree::GetInstance()->SetVssChannelIcon(m_pTree, devName, mac, flag);
}

void CDeviceListDlg::OnBnClickedBtnOrigGroup()
{
    SelectViewButton(IDC_BTN_ORIG_GROUP);
    m_nViewMode = 1;
    RefreshDevTree();
}

void CDeviceListDlg::OnBnClickedBtnOnlineGroup()
{
    SelectViewButton(IDC_BTN_ONLINE_GROUP);
    m_nViewMode = 2;
    RefreshDevTree();
}

void CDeviceListDlg::ShowSceneList()
{
    SelectViewButton(IDC_BTN_MAP_LIST);
    m_nViewMode = 3;
    m_pDropHilite = nullptr;
    m_hCurGroupItem = nullptr;
    CDevTree::GetInstance()->InitSceneTree(m_pTree);
}

void CDeviceListDlg::OnBnClickedBtnMapList()
{
    ShowSceneList();
    IDeviceServices* s = DeviceServices();
    std::vector<MapEntry> maps = s->Maps();
    if (maps.empty())
        return;
    std::string current = s->CurrentMap();
    if (current.empty()) {
        current = maps.front().name;
        s->ShowMap(current.c_str());
    }
    SelectSceneItem(current.c_str());
}

void CDeviceListDlg::InsertSceneItem(const char* name, const char* parentName)
{
    CDevTree::GetInstance()->InsertSceneItem(m_pTree, name, parentName);
}

void CDeviceListDlg::MakeFirstVisibleCaretHilite(QTreeWidgetItem* item)
{
    if (!item)
        return;
    m_pTree->scrollToItem(item, QAbstractItemView::PositionAtTop);
    m_pTree->setCurrentItem(item);
    SetDropHilite(item);
}

void CDeviceListDlg::SelectSceneItem(const char* name)
{
    MakeFirstVisibleCaretHilite(CDevTree::GetInstance()->FindItemByText(m_pTree, name));
}

void CDeviceListDlg::ShowRecordStrategyTree()
{
    m_pDropHilite = nullptr;
    m_hCurGroupItem = nullptr;
    CDevTree::GetInstance()->InitRecStrategyTree(m_pTree);
    m_pBtnOrig->hide();
    m_pBtnOnline->hide();
    m_pBtnMap->hide();
    m_bPlanTree = 1;
}

void CDeviceListDlg::OnBnClickedBtnFind()
{
    std::string key = m_pSearch->text().toStdString();
    if (key.empty())
        return;
    if (CDevTree::GetInstance()->FindInTree(m_pTree, key.c_str()) != 0)
        ShowMsg(330);
    else
        SetDropHilite(m_pTree->currentItem());
}

// --- selection ---

void CDeviceListDlg::SetDropHilite(QTreeWidgetItem* item)
{
    m_pDropHilite = item;
    m_pTree->clearSelection();
    if (item)
        item->setSelected(true);
}

void CDeviceListDlg::SelectVssChannel(const RelayDevItem* e)
{
    QTreeWidgetItem* root = m_pTree->topLevelItem(0);
    if (!root || !e)
        return;
    QTreeWidgetItemIterator it(m_pTree);
    for (; *it; ++it) {
        RelayDevItem* r = ItemRelay(*it);
        if (r && std::strcmp(r->Mac, e->Mac) == 0 && std::strcmp(r->Ip, e->Ip) == 0 &&
            std::strcmp(r->DevName, e->DevName) == 0) {
            MakeFirstVisibleCaretHilite(*it);
            return;
        }
    }
}

void CDeviceListDlg::SelectGroupItem(const char* name)
{
    QTreeWidgetItem* root = m_pTree->topLevelItem(0);
    if (!root || !name)
        return;
    for (int i = 0; i < root->childCount(); ++i)
        root->child(i)->setExpanded(true);
    m_pTree->scrollToTop();
    for (QTreeWidgetItemIterator it(m_pTree, QTreeWidgetItemIterator::NotHidden); *it; ++it)
        if ((*it)->text(0) == QString::fromUtf8(name)) {
            MakeFirstVisibleCaretHilite(*it);
            return;
        }
}

void CDeviceListDlg::SelectDevItem(const DeviceInfo* dev)
{
    QTreeWidgetItem* root = m_pTree->topLevelItem(0);
    if (!root || !dev)
        return;
    for (int i = 0; i < root->childCount(); ++i)
        root->child(i)->setExpanded(true);
    m_pTree->scrollToTop();
    qelm::CsLock lock(g_csDevList);
    for (QTreeWidgetItemIterator it(m_pTree, QTreeWidgetItemIterator::NotHidden); *it; ++it) {
        if ((*it)->childCount() > 0)
            continue;
        DeviceInfo* d = ItemDevice(*it);
        if (d && std::strcmp(d->DevName, dev->DevName) == 0 && std::strcmp(d->DevId, dev->DevId) == 0) {
            MakeFirstVisibleCaretHilite(*it);
            return;
        }
    }
}

bool CDeviceListDlg::SelectGroup(const char* name)
{
    QTreeWidgetItem* root = m_pTree->topLevelItem(0);
    if (!root || !name)
        return false;
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->text(0) == QString::fromUtf8(name)) {
            m_pTree->setCurrentItem(root->child(i));
            m_hCurGroupItem = root->child(i);
            return true;
        }
    return false;
}

int CDeviceListDlg::FindVssLoginId(const RelayDevItem* e)
{
    if (!e)
        return -1;
    for (const Qelm2Node& s : g_lstRelayServer) {
        if (!s.pDevList)
            continue;
        for (const RelayDevItem& r : *s.pDevList)
            if (std::strcmp(r.Ip, e->Ip) == 0 && std::strcmp(r.Mac, e->Mac) == 0)
                return s.LoginId;
    }
    return -1;
}

// --- item kinds ---

bool CDeviceListDlg::IsGroupItem(const QTreeWidgetItem* item) const
{
    return item && item->parent() && item->parent() == m_pTree->topLevelItem(0);
}

bool CDeviceListDlg::IsUnderVss(const QTreeWidgetItem* item)
{
    for (const QTreeWidgetItem* p = item ? item->parent() : nullptr; p; p = p->parent())
        if (p->text(0) == QLatin1String("VSS"))
            return true;
    return false;
}

bool CDeviceListDlg::IsVssChannelItem(const QTreeWidgetItem* item)
{
    return item && item->childCount() == 0 && IsUnderVss(item);
}

bool CDeviceListDlg::IsVssServerItem(const QTreeWidgetItem* item)
{
    return item && item->parent() && item->parent()->text(0) == QLatin1String("VSS");
}

bool CDeviceListDlg::IsDevGroup(const QString& name) const
{
    qelm::CsLock lock(g_csDevList);
    for (const DevGroupInfo& g : g_lstDevGroupInfo)
        if (name == QString::fromUtf8(g.GroupName))
            return true;
    return false;
}

// --- clicks ---

void CDeviceListDlg::OnNMClickTree(QPoint pt)
{
    QTreeWidgetItem* item = m_pTree->itemAt(pt);
    SetDropHilite(item);
    IDeviceServices* s = DeviceServices();
    QTreeWidgetItem* root = m_pTree->topLevelItem(0);
    if (m_nViewMode == 3) {
        if (item && item != root)
            s->ShowMap(item->text(0).toUtf8().constData());
        return;
    }
    if (m_bPlanTree) {
        if (IsGroupItem(item))
            if (RecScheme* plan = devtree::ItemPlan(item))
                s->ShowRecScheme(plan);
        return;
    }
    if (!item) {
        s->ShowDevGroupInfo(nullptr);
        s->OnDevTreeSelDevice(nullptr);
        return;
    }
    const bool cfgDevices = s->IsCfgPageShown() && g_nCfgSubPage == 0;
    qelm::CsLock lock(g_csDevList);
    DeviceInfo* d = ItemDevice(item);
    if (IsGroupItem(item)) {
        s->ShowDevGroupInfo(devtree::ItemGroup(item));
        s->OnDevTreeSelDevice(nullptr);
    } else if (item->childCount() > 0) {
        s->OnDevTreeSelDevice(d);
        s->ShowDevGroupInfo(nullptr);
        if (d)
            g_SelDevInfo = *d;
        if (IsUnderVss(item) && cfgDevices)
            s->DisplayVssInfo(item->text(0).toUtf8().constData());
    } else if (item->parent() && IsGroupItem(item->parent()) && !IsVssChannelItem(item)) {
        if (d)
            g_SelDevInfo = *d;
        s->OnDevTreeSelDevice(d);
        if (d && d->nPltDev == 0)
            s->ShowDevGroupInfo(nullptr);
    } else if (IsVssServerItem(item)) {
        s->OnDevTreeSelDevice(nullptr);
        if (cfgDevices)
            s->DisplayVssInfo(item->text(0).toUtf8().constData());
    } else if (IsVssChannelItem(item)) {
        if (RelayDevItem* e = ItemRelay(item))
            s->OnDevTreeSelVssChannel(e);
    } else if (d) {
        if (s->IsSearchRecShown())
            s->SetSearchDevInfo(d);
        if (g_nCurPage == 0 && d->DevType == 4 && d->CurNVRChannel > 0)
            s->OnDevTreeSelDevice(d);
    }
}

// --- drag and drop ---

void CDeviceListDlg::OnTvnBegindragTree(QTreeWidgetItem* item)
{
    if (m_bDragging || m_bPlanTree || !item || item->childCount() > 0 || IsGroupItem(item) ||
        item == m_pTree->topLevelItem(0))
        return;
    m_pTree->setCurrentItem(item);
    m_pDragItem = item;
    delete g_pDragImage;
    g_pDragImage = new QLabel;
    // The label sits under the cursor: it must never take the release.
    g_pDragImage->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput);
    g_pDragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    g_pDragImage->setText(item->text(0));
    g_pDragImage->adjustSize();
    g_pDragImage->move(QCursor::pos() - QPoint(10, 10));
    g_pDragImage->show();
    // The viewport is where a scroll area's mouse events arrive: a grab on
    // the tree itself would swallow the release and keep the pointer grabbed.
    m_pTree->viewport()->grabMouse();
    qApp->installEventFilter(this);
    m_bDragging = 1;
}

void CDeviceListDlg::EndDrag()
{
    m_bDragging = 0;
    qApp->removeEventFilter(this);
    delete g_pDragImage;
    g_pDragImage = nullptr;
    if (QWidget* grabber = QWidget::mouseGrabber(); grabber == m_pTree->viewport() || grabber == m_pTree)
        grabber->releaseMouse();
    m_pDragItem = nullptr;
}

void CDeviceListDlg::CancelDrag()
{
    if (!m_bDragging)
        return;
    EndDrag();
    SetDropHilite(nullptr);
}

// While a drag runs, every way out of it ends it: the release wherever it
// lands, Esc, another button, the program losing the focus, the panel hidden.
bool CDeviceListDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (!m_bDragging)
        return CDialog::eventFilter(watched, e);
    switch (e->type()) {
    case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton)
            break;
        OnDrop(me->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        CancelDrag();
        return true;
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (!(me->buttons() & Qt::LeftButton)) {
            CancelDrag(); // the release went somewhere we never saw
            return false;
        }
        OnDragMove(me->globalPosition().toPoint());
        return true;
    }
    case QEvent::ShortcutOverride: // Esc comes as a key press, not as a shortcut
        if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
            e->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
            CancelDrag();
            return true;
        }
        break;
    case QEvent::ApplicationDeactivate:
        CancelDrag();
        break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        if (watched == this || watched == window() || watched == m_pTree)
            CancelDrag();
        break;
    default: break;
    }
    return CDialog::eventFilter(watched, e);
}

void CDeviceListDlg::hideEvent(QHideEvent* e)
{
    CancelDrag();
    CDialog::hideEvent(e);
}

void CDeviceListDlg::OnDragMove(QPoint screenPt)
{
    if (!m_bDragging)
        return;
    QTreeWidgetItem* over = m_pTree->itemAt(m_pTree->viewport()->mapFromGlobal(screenPt));
    if (over && over->childCount() == 0 && !IsGroupItem(over))
        SetDropHilite(nullptr);
    if (g_pDragImage)
        g_pDragImage->move(screenPt - QPoint(10, 10));
}

void CDeviceListDlg::OnDrop(QPoint pt)
{
    if (m_bPlanTree || !m_bDragging)
        return;
    EndDrag();
    QTreeWidgetItem* item = m_pTree->currentItem();
    if (!item)
        return;
    if (IsMemoryHigh()) {
        ShowMsg(1424);
        return;
    }
    IDeviceServices* s = DeviceServices();
    QWidget* under = QApplication::widgetAt(pt);
    CWnd* wnd = under ? qelm::OwningWnd(under) : nullptr;
    HWND hUnder = wnd ? wnd->m_hWnd : nullptr;
    if (IsVssChannelItem(item)) {
        RelayDevItem* e = ItemRelay(item);
        if (!e || g_nCurPage != 0 || m_nListMode != 0)
            return;
        if (!wnd || !wnd->GetParent())
            return;
        int target = s->EmptyPaneAt(hUnder);
        if (e->State == 0) {
            ShowMsg(821);
            return;
        }
        if (e->State == 2 || e->State == 4) {
            s->CloseRelayPaneOf(e);
            Sleep(50);
        }
        RequestRelayChannel(e, true);
        s->SetRelayTarget(target == 1 ? 1 : 0);
        return;
    }
    qelm::CsLock lock(g_csDevList);
    DeviceInfo* d = ItemDevice(item);
    if (!d)
        return;
    if (d->Online == 0 && d->nPltDev == 0) {
        ShowMsg(821);
        return;
    }
    if (g_DispInfoSetting.LoginType != 0 && (!d->LoginName[0] || !d->LoginPsw[0])) {
        ShowMsg(1432);
        return;
    }
    if (d->DevType == 1)
        qelm::CopyBounded(d->Resolution, sizeof d->Resolution, d->DefRes);
    CPoint cpt(pt.x(), pt.y());
    auto tvWall = [&] {
        if (d->DevType == 2 || d->DevType == 5)
            s->DropDecoderToTVWall(d, cpt);
        else
            s->DropCameraToTVWall(d, cpt);
    };
    if (m_nListMode == 0) {
        if (g_nCurPage == 0) {
            if (hUnder)
                s->DropDevToPane(hUnder, d, cpt);
        } else if (g_nCurPage == 4) {
            tvWall();
        } else if (g_nCurPage == 5) {
            s->DropDevToMap(d, cpt);
        }
    } else if (m_nListMode == 4) {
        tvWall();
    } else if (m_nListMode == 5) {
        s->DropDevToMap(d, cpt);
    }
    SetDropHilite(nullptr);
}

void CDeviceListDlg::RequestRelayChannel(const RelayDevItem* e, bool dropRule)
{
    IDeviceServices* s = DeviceServices();
    int login = FindVssLoginId(e);
    char name[260];
    std::snprintf(name, sizeof name, "%s:%s", e->Mac, e->Ip);
    int channel = 0;
    if (e->Type == 0 || e->Type == 4) {
        std::size_t n = std::strlen(e->DevName);
        if (dropRule && e->Type == 0)
            channel = n && e->DevName[n - 1] >= '0' && e->DevName[n - 1] <= '9' ? e->DevName[n - 1] - '0' : 0;
        else
            channel = AfterDash(e->DevName);
    }
    int panes = s->GridPaneCount(0);
    int flag = e->StreamFlag;
    if ((panes == 1 || panes == 4 || panes == 6 || panes == 8) && g_DispInfoSetting.AutoSwitchStream != 0)
        flag = 1;
    s->TsInviteDeviceVideo(login, name, flag, channel);
}

// --- double click ---

void CDeviceListDlg::OnNMDblclkTree(QPoint pt)
{
    if (g_nCurPage != 0)
        return;
    QTreeWidgetItem* item = m_pTree->itemAt(pt);
    SetDropHilite(item);
    if (!item)
        return;
    if (IsMemoryHigh()) {
        ShowMsg(1424);
        return;
    }
    IDeviceServices* s = DeviceServices();
    if (IsVssChannelItem(item)) {
        RelayDevItem* e = ItemRelay(item);
        if (!e)
            return;
        if (e->State == 0) {
            ShowMsg(821);
            return;
        }
        if (e->State == 2 || e->State == 4) {
            s->CloseRelayPaneOf(e);
            Sleep(50);
        }
        RequestRelayChannel(e, false);
        return;
    }
    if (item->childCount() > 0)
        return;
    qelm::CsLock lock(g_csDevList);
    DeviceInfo* d = ItemDevice(item);
    if (!d)
        return;
    if (d->Online == 0 && d->nPltDev == 0) {
        ShowMsg(821);
        return;
    }
    if (g_DispInfoSetting.LoginType != 0 && (!d->LoginName[0] || !d->LoginPsw[0])) {
        ShowMsg(1432);
        return;
    }
    if (d->DevType == 4 && item->text(0).contains(QLatin1String("Channel"))) {
        for (int i = 0; i < d->NVRChannels; ++i)
            if (item->text(0) == QStringLiteral("Channel-%1").arg(i + 1)) {
                d->CurNVRChannel = i + 1;
                break;
            }
    }
    if (d->DevType == 1)
        qelm::CopyBounded(d->Resolution, sizeof d->Resolution, d->DefRes);
    s->PlayDevInFreePane(d);
}

// --- context menus ---

void CDeviceListDlg::ShowPopup(const std::vector<std::pair<UINT, UINT>>& commands, QPoint screenPt)
{
    if (m_pMenu)
        delete m_pMenu.data();
    m_pMenu = new QMenu(this);
    m_pMenu->setAttribute(Qt::WA_DeleteOnClose);
    for (auto [cmd, text] : commands) {
        QAction* a = m_pMenu->addAction(QString::fromStdString(LoadResString(text)));
        const UINT id = cmd;
        connect(a, &QAction::triggered, this, [this, id] { SendMessage(WM_COMMAND, id, 0); });
    }
    m_pMenu->popup(screenPt);
}

void CDeviceListDlg::ShowCloudContextMenu(QTreeWidgetItem* item, QPoint screenPt)
{
    if (!item)
        return;
    m_pTree->setCurrentItem(item);
    if (item == m_pTree->topLevelItem(0))
        return;
    g_strRClickText = item->text(0).toStdString();
    if (IsGroupItem(item))
        return;
    DeviceInfo* d = ItemDevice(item);
    if (d && d->DevType == 4 && d->CurNVRChannel > 0)
        return;
    ShowPopup({{ID_RENAME_ALIAS, 1485}}, screenPt);
}

void CDeviceListDlg::ShowCfgContextMenu(QTreeWidgetItem* item, QPoint screenPt)
{
    if (!item)
        return;
    m_pTree->setCurrentItem(item);
    if (item == m_pTree->topLevelItem(0))
        return;
    if (IsGroupItem(item) && IsDevGroup(item->text(0))) {
        ShowPopup({{ID_SORT_ASCENDING, 1473}, {ID_SORT_DESCENDING, 1474}, {ID_DELETE_ALL, 1475}}, screenPt);
        return;
    }
    DeviceInfo* d = ItemDevice(item);
    if (!d)
        return;
    if (d->DevType == 4 && d->CurNVRChannel > 0)
        ShowPopup({{ID_RENAME_ALIAS, 1485}}, screenPt);
    else
        ShowPopup({{ID_MOVE_UP, 1483}, {ID_MOVE_DOWN, 1484}}, screenPt);
}

void CDeviceListDlg::OnNMRclickTree(QPoint pt)
{
    QTreeWidgetItem* item = m_pTree->itemAt(pt);
    QPoint screenPt = m_pTree->viewport()->mapToGlobal(pt);
    if (g_nCurPage == 0 && g_DispInfoSetting.LoginType == 1) {
        ShowCloudContextMenu(item, screenPt);
        return;
    }
    if (g_nCurPage == 3 && g_nCfgSubPage == 0) {
        ShowCfgContextMenu(item, screenPt);
        return;
    }
    if (g_nCurPage != 0)
        return;
    SetDropHilite(item);
    if (!item || item->childCount() == 0 || !(IsGroupItem(item) || IsUnderVss(item)))
        return;
    if (item->text(0) == QLatin1String("VSS"))
        return;
    if (IsUnderVss(item)) {
        if (m_nViewMode == 2) {
            const QTreeWidgetItem* p = item->parent();
            const QTreeWidgetItem* gg = p && p->parent() ? p->parent()->parent() : nullptr;
            if ((p && p->text(0) == QLatin1String("VSS")) || (gg && gg->text(0) == QLatin1String("VSS")))
                return;
        } else if (!IsVssServerItem(item)) {
            return;
        }
    }
    m_hCurGroupItem = item;
    ShowPopup({{ID_AUTO_PLAY_GROUP, 869}}, screenPt);
}
