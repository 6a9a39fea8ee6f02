#include "mainwnd/user_list_dlg.h"

#include "core/helpers.h"
#include "devices/dev_tree.h"
#include "mainwnd/ipc_client_dlg.h"
#include "platform/monitor.h"
#include "platform/paths.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidget>

#include <functional>

namespace {

// A tree whose left clicks report the point pressed.
class CClickTree : public QTreeWidget {
public:
    CClickTree(QWidget* parent, std::function<void(QPoint)> onClick)
        : QTreeWidget(parent), m_onClick(std::move(onClick))
    {
    }

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        QTreeWidget::mousePressEvent(e);
        if (e->button() == Qt::LeftButton && m_onClick)
            m_onClick(e->position().toPoint());
    }

private:
    std::function<void(QPoint)> m_onClick;
};

void SetUpTree(QTreeWidget* tree, bool hotTrack)
{
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setRootIsDecorated(true);
    tree->setFrameShape(QFrame::Box);
    tree->setMouseTracking(hotTrack);
    tree->setIconSize(QSize(16, 16));
    tree->setStyleSheet(QStringLiteral("QTreeView::item { height: 20px; }"));
}

} // namespace

CUserListDlg::CUserListDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(true);
}

void CUserListDlg::CreateControls()
{
    const CRect size = qelm::DialogUnitsToPixels(CRect(0, 0, 174, 364));
    resize(size.Width(), size.Height());
    m_pUserTree = new CClickTree(this, [this](QPoint pt) { OnClickUserTree(pt); });
    qelm::SetControlId(m_pUserTree, IDC_TREE_USER);
    SetUpTree(m_pUserTree, true);
    m_pUserTree->setGeometry(qelm::DialogUnitsToPixels(CRect(2, 2, 172, 171)).ToQ());
    m_pRoleTree = new CClickTree(this, [this](QPoint pt) { OnClickRoleTree(pt); });
    qelm::SetControlId(m_pRoleTree, IDC_TREE_ROLE);
    SetUpTree(m_pRoleTree, false);
    m_pRoleTree->setGeometry(qelm::DialogUnitsToPixels(CRect(2, 184, 172, 360)).ToQ());
}

BOOL CUserListDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    RefreshUserTree();
    RefreshRoleTree();
    m_bInitialised = 1;
    CRect client;
    GetClientRect(&client);
    OnSize(0, client.Width(), client.Height());
    return TRUE;
}

void CUserListDlg::RefreshUserTree()
{
    CDevTree::GetInstance()->InitUserTree(m_pUserTree);
}

void CUserListDlg::RefreshRoleTree()
{
    CDevTree::GetInstance()->InitRoleTree(m_pRoleTree);
}

void CUserListDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (m_bInitialised != 1)
        return;
    CRect rc;
    GetClientRect(&rc);
    const int L = rc.left, T = rc.top, W = rc.Width(), H = rc.Height();
    m_pUserTree->setGeometry(L + 1, T + 1, W - 2, H / 2 - 12);
    m_pRoleTree->setGeometry(L + 1, T + H / 2 + 10, W - 2, H / 2 - 12);
}

void CUserListDlg::OnPaint()
{
    QPainter dc(this);
    CRect client;
    GetClientRect(&client);
    m_gdi.DrawImageFile(qelm::MakePath("%s\\Images\\DevlistBk.png", GetAppDir().c_str()).c_str(), client, &dc);
}

void CUserListDlg::OnClickUserTree(QPoint pt)
{
    QTreeWidgetItem* root = m_pUserTree->topLevelItem(0);
    QTreeWidgetItem* item = m_pUserTree->itemAt(pt);
    if (!item || !root || !g_pMainDlg)
        return;
    if (item == root) {
        g_pMainDlg->ShowUserInfo(nullptr);
        g_pMainDlg->ShowGroupInfo(nullptr);
    } else if (item->childCount() == 0 && item->parent() != root) {
        g_pMainDlg->ShowUserInfo(static_cast<const User*>(devtree::ItemPtr(item)));
    } else if (item->parent() == root) {
        g_pMainDlg->ShowGroupInfo(static_cast<const UserGroup*>(devtree::ItemPtr(item)));
    }
}

void CUserListDlg::OnClickRoleTree(QPoint pt)
{
    QTreeWidgetItem* root = m_pRoleTree->topLevelItem(0);
    QTreeWidgetItem* item = m_pRoleTree->itemAt(pt);
    if (!item || !root || !g_pMainDlg)
        return;
    if (item == root)
        g_pMainDlg->ShowRoleInfo(nullptr);
    else if (item->parent() == root)
        g_pMainDlg->ShowRoleInfo(static_cast<const Role*>(devtree::ItemPtr(item)));
}

BOOL CUserListDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}
