// CDevTree: the user, role, plan, channel, patrol and map trees.
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/dev_tree.h"
#include "res/strings.h"

#include <QTreeWidget>

#include <cstdio>
#include <cstring>

namespace {

// Pre-order from the root, stopping when the walk comes back to it.
template <class F>
QTreeWidgetItem* PreOrderFind(QTreeWidgetItem* root, F match)
{
    std::vector<QTreeWidgetItem*> stack;
    for (int i = root->childCount() - 1; i >= 0; --i)
        stack.push_back(root->child(i));
    while (!stack.empty()) {
        QTreeWidgetItem* item = stack.back();
        stack.pop_back();
        if (match(item))
            return item;
        for (int i = item->childCount() - 1; i >= 0; --i)
            stack.push_back(item->child(i));
    }
    return nullptr;
}

bool SameTextNoCase(const QTreeWidgetItem* item, const char* text)
{
    return item->text(0).compare(QString::fromUtf8(text), Qt::CaseInsensitive) == 0;
}

// Text of a channel row in the plan and channel lists.
std::string ChannelText(const DeviceInfo& d)
{
    if (d.DevType == 4 && d.CurNVRChannel > 0)
        return std::string(d.DevId) + "-" + d.DevName;
    return d.DevName;
}

} // namespace

int CDevTree::InitUserTree(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(322), 0);
    if (g_lstUserInfo.empty() && g_lstGroupInfo.empty())
        return 0;
    for (UserGroup& g : g_lstGroupInfo) {
        QTreeWidgetItem* group = InsertItem(tree, root, g.GroupName, 1, TreeData::UserGroup, &g);
        for (User& u : g_lstUserInfo)
            if (std::strcmp(u.GroupName, g.GroupName) == 0)
                InsertItem(tree, group, u.UserName, 0, TreeData::User, &u);
    }
    ExpandAllSelectRoot(tree, root);
    return 0;
}

int CDevTree::InitRoleTree(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(323), 0);
    if (g_lstRoleInfo.empty())
        return 0;
    for (Role& r : g_lstRoleInfo)
        InsertItem(tree, root, r.RoleName, 0, TreeData::Role, &r);
    ExpandAllSelectRoot(tree, root);
    return 0;
}

int CDevTree::InitRecStrategyTree(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(327), 0);
    qelm::CsLock lock(g_csDevList);
    if (g_lstRecSchemeInfo.empty())
        return 0;
    for (RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        QTreeWidgetItem* item = InsertItem(tree, root, plan->SchemeName, 1, TreeData::Plan, plan);
        for (const DeviceInfo* member : plan->lstDev) {
            if (!member)
                continue;
            for (DeviceInfo& d : g_lstDevInfo) {
                if (std::strcmp(d.DevName, member->DevName) != 0 || std::strcmp(d.DevId, member->DevId) != 0 ||
                    (d.DevType == 4 && d.CurNVRChannel == 0))
                    continue;
                InsertItem(tree, item, ChannelText(d), IconRuleA(d), TreeData::Device, &d);
                break;
            }
        }
    }
    ExpandAllSelectRoot(tree, root);
    return 0;
}

int CDevTree::InitChannelList(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(324), 0);
    qelm::CsLock lock(g_csDevList);
    if (g_lstDevInfo.empty())
        return 0;
    for (DeviceInfo& d : g_lstDevInfo) {
        if (d.DevType == 2 || d.DevType == 5 || (d.DevType == 4 && d.CurNVRChannel == 0))
            continue;
        InsertItem(tree, root, ChannelText(d), IconRuleA(d), TreeData::Device, &d);
    }
    ExpandAllSelectRoot(tree, root);
    return 0;
}

int CDevTree::InitOnlineDevTree(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(324), 0);
    qelm::CsLock lock(g_csDevList);
    if (g_lstDevInfo.empty() && g_lstDevGroupInfo.empty())
        return 0;
    std::string lastNode;
    QTreeWidgetItem* node = nullptr;
    for (DeviceInfo& d : g_lstDevInfo) {
        if (d.Online != 1 && d.DevType != 4)
            continue;
        if (d.DevType == 4 || d.DevType == 0) {
            if (lastNode != d.DevId || !node) {
                lastNode = d.DevId;
                node = InsertItem(tree, root, d.DevId, 0, TreeData::Device, &d);
            }
            if (d.DevType == 4 && d.CurNVRChannel > 0 && d.Online != 0)
                InsertItem(tree, node, d.DevName, IconRuleA(d), TreeData::Device, &d);
            else if (d.DevType == 0)
                InsertItem(tree, node, devtree::RightChars(d.DevName, 7), IconRuleA(d), TreeData::Device, &d);
        } else if (d.DevType == 1) {
            InsertItem(tree, root, d.DevName, IconRuleA(d), TreeData::Device, &d);
        }
    }
    if (!g_lstRelayServer.empty()) {
        QTreeWidgetItem* vss = InsertItem(tree, root, "VSS", 1);
        for (Qelm2Node& s : g_lstRelayServer) {
            QTreeWidgetItem* server = InsertItem(tree, vss, s.DevName, 1);
            AddRelayDevItems(s.pDevList, tree, server, 0, 0);
        }
    }
    ExpandAllSelectRoot(tree, root);
    return 0;
}

int CDevTree::InitSceneTree(QTreeWidget* tree)
{
    if (!tree)
        return 0;
    tree->clear();
    InsertItem(tree, nullptr, LoadResString(329), 0);
    for (const MapEntry& m : DeviceServices()->Maps())
        InsertItem(tree, FindItemByText(tree, m.parent.c_str()), m.name, 0);
    tree->expandAll();
    return 0;
}

QTreeWidgetItem* CDevTree::FindItemByText(QTreeWidget* tree, const char* text)
{
    QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
    if (!root || !text)
        return root;
    root->setExpanded(true);
    QTreeWidgetItem* found = PreOrderFind(root, [&](QTreeWidgetItem* i) { return SameTextNoCase(i, text); });
    return found ? found : root;
}

int CDevTree::InsertSceneItem(QTreeWidget* tree, const char* name, const char* parentName)
{
    QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
    if (!root || !name)
        return 0;
    QTreeWidgetItem* parent = root;
    if (parentName) {
        parent = PreOrderFind(root, [&](QTreeWidgetItem* i) { return SameTextNoCase(i, parentName); });
        if (!parent)
            return 0;
    }
    QTreeWidgetItem* item = InsertItem(tree, parent, name, 0);
    parent->setExpanded(true);
    tree->scrollToItem(item, QAbstractItemView::PositionAtTop);
    tree->setCurrentItem(item);
    root->setExpanded(true);
    return 0;
}
