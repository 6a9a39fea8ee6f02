// The configuration page's user list: user groups with their users above,
// roles below. A click shows the item in the users sub-page through the main
// window; the trees are filled by the device-tree builders.
#pragma once

#include "platform/dialog.h"
#include "ui/skin_draw.h"

#include <QPoint>

class QTreeWidget;

class CUserListDlg : public CDialog {
public:
    enum { IDD = 142, IDC_TREE_USER = 1074, IDC_TREE_ROLE = 1075 };

    explicit CUserListDlg(CWnd* pParent = nullptr);

    void RefreshUserTree();
    void RefreshRoleTree();
    // Clicks, at a point of the tree's viewport: the item under it, never
    // the selection, decides.
    void OnClickUserTree(QPoint pt);
    void OnClickRoleTree(QPoint pt);

    QTreeWidget* UserTree() const { return m_pUserTree; }
    QTreeWidget* RoleTree() const { return m_pRoleTree; }

protected:
    void CreateControls() override;
    BOOL OnInitDialog() override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    CGdiManger m_gdi;
    int m_bInitialised = 0;
    QTreeWidget* m_pUserTree = nullptr;
    QTreeWidget* m_pRoleTree = nullptr;
};
