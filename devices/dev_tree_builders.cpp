// CDevTree: the device trees by group and by online state, the relay
// branches, icon refreshes, alarm blinking and the search.
#include "core/log.h"
#include "core/textutil.h"
#include "devices/dev_tree.h"
#include "res/strings.h"

#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <functional>

using devtree::GetItemImage;
using devtree::SetItemImage;

namespace {

bool ShowOtherTypes(int showAll, bool groupView)
{
    if (showAll || g_nCurPage == 4)
        return true;
    if (g_nCurPage != 3)
        return false;
    return g_nCfgSubPage == 0 || g_nCfgSubPage == 4 || (groupView && g_nCfgSubPage == 3);
}

// Visits the leaves below start in the tree's order.
void WalkLeaves(QTreeWidgetItem* start, const std::function<bool(QTreeWidgetItem*)>& leaf)
{
    std::function<bool(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* c = item->child(i);
            if (c->childCount() > 0) {
                if (!walk(c))
                    return false;
            } else if (!leaf(c)) {
                return false;
            }
        }
        return true;
    };
    walk(start);
}

QTreeWidgetItem* FindVss(QTreeWidget* tree)
{
    QTreeWidgetItem* root = tree->topLevelItem(0);
    if (!root)
        return nullptr;
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->text(0) == QLatin1String("VSS"))
            return root->child(i);
    return nullptr;
}

} // namespace

void CDevTree::InitDevTree(QTreeWidget* tree, int showAll)
{
    if (!tree)
        return;
    tree->clear();
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(324), 0);
    qelm::CsLock lock(g_csDevList);
    if (g_lstDevInfo.empty() && g_lstDevGroupInfo.empty()) {
        WriteLog(6, "CDevTree::InitDevTree(): g_lstDevInfo.size() == 0 && g_lstDevGroupInfo.size() == 0, init dev "
                    "tree refused.");
        return;
    }
    const bool streams = StreamRowsShown();
    std::string lastNode;
    QTreeWidgetItem* node = nullptr;
    for (DevGroupInfo& g : g_lstDevGroupInfo) {
        QTreeWidgetItem* group = InsertItem(tree, root, g.GroupName, 1, TreeData::Group, &g);
        for (DeviceInfo& d : g_lstDevInfo) {
            if (std::strcmp(d.GroupName, g.GroupName) != 0)
                continue;
            if (d.DevType == 4 || d.DevType == 0) {
                if (lastNode != d.DevId || !node) {
                    lastNode = d.DevId;
                    const char* text = d.DevType == 4 && d.DevName[0] ? d.DevName : d.DevId;
                    int image = d.DevType == 4 && d.Online == -1 ? 12 : 0;
                    node = InsertItem(tree, group, text, image, TreeData::Device, &d);
                }
                if (d.DevType == 4 && d.CurNVRChannel > 0)
                    InsertItem(tree, node, d.DevName, IconRuleA(d), TreeData::Device, &d);
                else if (d.DevType == 0 && streams)
                    InsertItem(tree, node, devtree::RightChars(d.DevName, 7), IconRuleA(d), TreeData::Device, &d);
            } else if (d.DevType == 1 || ShowOtherTypes(showAll, true)) {
                InsertItem(tree, group, d.DevName, IconRuleC(d), TreeData::Device, &d);
            }
        }
    }
    if (!g_lstRelayServer.empty()) {
        QTreeWidgetItem* vss = InsertItem(tree, root, "VSS", 1);
        for (Qelm2Node& s : g_lstRelayServer) {
            QTreeWidgetItem* server = InsertItem(tree, vss, s.DevName, 1);
            AddRelayDevItems(s.pDevList, tree, server, 0, 1);
        }
    }
    ExpandAllSelectRoot(tree, root);
}

void CDevTree::AddRelayDevItems(std::list<RelayDevItem>* list, QTreeWidget* tree, QTreeWidgetItem* parent,
                                int parentIndex, int showOffline)
{
    if (!list)
        return;
    const bool streams = StreamRowsShown();
    std::string lastIp;
    QTreeWidgetItem* node = nullptr;
    for (RelayDevItem& e : *list) {
        if (e.ParentIndex != parentIndex)
            continue;
        int icon = RelayStateIcon(e.State);
        bool shown = icon >= 0 && (e.State != 0 || showOffline);
        if (e.Type == 3) {
            QTreeWidgetItem* sub = InsertItem(tree, parent, e.DevName, 1);
            if (e.Index != parentIndex) // a server listed as its own parent would recurse forever
                AddRelayDevItems(list, tree, sub, e.Index, showOffline);
        } else if (e.Type == 0) {
            if (lastIp != e.Ip || !node) {
                lastIp = e.Ip;
                node = InsertItem(tree, parent, e.Ip, 0);
            }
            if (streams && shown)
                InsertItem(tree, node, devtree::RightChars(e.DevName, 7), icon, TreeData::Relay, &e);
        } else if (e.Type == 4) {
            if (lastIp != e.Ip || !node) {
                lastIp = e.Ip;
                node = InsertItem(tree, parent, e.DevName, 0);
            } else if (streams && shown) {
                InsertItem(tree, node, e.DevName, icon, TreeData::Relay, &e);
            }
        } else if (shown) {
            InsertItem(tree, parent, e.DevName, icon, TreeData::Relay, &e);
        }
    }
}

void CDevTree::InitOnlineOfflineTree(QTreeWidget* tree, int showAll)
{
    if (!tree)
        return;
    tree->clear();
    const std::string onText = LoadResString(325), offText = LoadResString(326);
    QTreeWidgetItem* root = InsertItem(tree, nullptr, LoadResString(324), 0);
    QTreeWidgetItem* online = InsertItem(tree, root, onText, 1);
    QTreeWidgetItem* offline = InsertItem(tree, root, offText, 1);
    qelm::CsLock lock(g_csDevList);
    if (g_lstDevInfo.empty() && g_lstDevGroupInfo.empty())
        return;
    const bool streams = StreamRowsShown();
    int nOnline = 0, nOffline = 0;
    std::string lastNode;
    QTreeWidgetItem* node = nullptr;
    for (DeviceInfo& d : g_lstDevInfo) {
        (d.Online == 1 ? nOnline : nOffline)++;
        if (d.DevType == 4) {
            if (std::strstr(d.DevName, "Channel") && node) {
                (d.Online == 1 ? nOnline : nOffline)--;
                InsertItem(tree, node, d.DevName, d.Online == 1 ? 3 : 2, TreeData::Device, &d);
            } else if (!std::strstr(d.DevName, "Channel")) {
                node = InsertItem(tree, d.Online == 1 ? online : offline, d.DevId, d.Online == -1 ? 12 : 0,
                                  TreeData::Device, &d);
            } else {
                (d.Online == 1 ? nOnline : nOffline)--; // a channel row without its NVR row
            }
            if (node)
                node->setExpanded(true);
        } else if (d.DevType == 0) {
            if (lastNode != d.DevId || !node) {
                lastNode = d.DevId;
                node = InsertItem(tree, d.Online == 1 ? online : offline, d.DevId, 0, TreeData::Device, &d);
            }
            if (streams)
                InsertItem(tree, node, devtree::RightChars(d.DevName, 7), IconRuleA(d), TreeData::Device, &d);
        } else if (d.DevType == 1 || ShowOtherTypes(showAll, false)) {
            if (d.Online == 1)
                InsertItem(tree, online, d.DevName, IconRuleA(d), TreeData::Device, &d);
            else
                InsertItem(tree, offline, d.DevName, IconRuleC(d), TreeData::Device, &d);
        }
    }
    online->setText(0, QString::fromUtf8("%1(%2)").arg(QString::fromStdString(onText)).arg(nOnline));
    offline->setText(0, QString::fromUtf8("%1(%2)").arg(QString::fromStdString(offText)).arg(nOffline));
    if (!g_lstRelayServer.empty()) {
        QTreeWidgetItem* vss = InsertItem(tree, root, "VSS", 1);
        for (Qelm2Node& s : g_lstRelayServer) {
            QTreeWidgetItem* server = InsertItem(tree, vss, s.DevName, 1);
            QTreeWidgetItem* on = InsertItem(tree, server, onText, 1);
            QTreeWidgetItem* off = InsertItem(tree, server, offText, 1);
            AddRelayDevItemsByState(s.pDevList, tree, on, off);
        }
    }
    ExpandAllSelectRoot(tree, root);
}

void CDevTree::AddRelayDevItemsByState(std::list<RelayDevItem>* list, QTreeWidget* tree, QTreeWidgetItem* online,
                                       QTreeWidgetItem* offline)
{
    int nOnline = 0, nOffline = 0;
    if (list) {
        const bool streams = StreamRowsShown();
        std::string lastIp;
        QTreeWidgetItem* node = nullptr;
        for (RelayDevItem& e : *list) {
            if (!(e.Type == 4 && std::strstr(e.DevName, "Channel")))
                (e.State != 0 ? nOnline : nOffline)++;
            int icon = RelayStateIcon(e.State);
            if (e.Type == 4) {
                if (lastIp != e.Ip || !node) {
                    lastIp = e.Ip;
                    node = InsertItem(tree, e.State != 0 ? online : offline, e.Ip, 0);
                } else if (streams && icon >= 0) {
                    InsertItem(tree, node, e.DevName, icon, TreeData::Relay, &e);
                }
            } else if (e.Type == 0) {
                if (lastIp != e.Ip || !node) {
                    lastIp = e.Ip;
                    node = InsertItem(tree, e.State == 1 ? online : offline, e.Ip, 0);
                }
                if (streams && icon >= 0)
                    InsertItem(tree, node, devtree::RightChars(e.DevName, 7), icon, TreeData::Relay, &e);
            } else if (e.State >= 1 && e.State <= 4) {
                InsertItem(tree, online, e.DevName, icon, TreeData::Relay, &e);
            } else if (e.State == 0) {
                InsertItem(tree, offline, e.DevName, 2, TreeData::Relay, &e);
            }
        }
    }
    online->setText(0, QString::fromUtf8("%1(%2)").arg(QString::fromStdString(LoadResString(325))).arg(nOnline));
    offline->setText(0, QString::fromUtf8("%1(%2)").arg(QString::fromStdString(LoadResString(326))).arg(nOffline));
}

void CDevTree::RefreshDevTreeState(QTreeWidget* tree)
{
    QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
    if (!root)
        return;
    root->setExpanded(true);
    qelm::CsLock lock(g_csDevList);
    WalkLeaves(root, [](QTreeWidgetItem* leaf) {
        if (devtree::ItemKind(leaf) != TreeData::Device)
            return true;
        // The item's record may be gone: compare by key, never through the pointer.
        const QString name = leaf->data(0, Qt::UserRole + 3).toString();
        const QString id = leaf->data(0, Qt::UserRole + 4).toString();
        for (const DeviceInfo& d : g_lstDevInfo) {
            if (name != QString::fromUtf8(d.DevName) || id != QString::fromUtf8(d.DevId))
                continue;
            if (d.DevType == 0 && g_nCurPage == 3 && g_nCfgSubPage != 2)
                continue;
            SetItemImage(leaf, IconRuleB(d));
            break;
        }
        return true;
    });
}

void CDevTree::RefreshVssTreeState(QTreeWidget* tree)
{
    QTreeWidgetItem* vss = tree ? FindVss(tree) : nullptr;
    if (!vss || vss->childCount() == 0)
        return;
    WalkLeaves(vss, [](QTreeWidgetItem* leaf) {
        if (RelayDevItem* e = devtree::ItemRelay(leaf)) {
            int icon = RelayStateIcon(e->State);
            if (icon >= 0)
                SetItemImage(leaf, icon);
        }
        return true;
    });
}

void CDevTree::SetDevAlarmIcon(QTreeWidget* tree, const char* name, int flag)
{
    QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
    if (!root || !name)
        return;
    qelm::CsLock lock(g_csDevList);
    WalkLeaves(root, [&](QTreeWidgetItem* leaf) {
        DeviceInfo* d = devtree::ItemDevice(leaf);
        if (d && std::strcmp(d->DevName, name) == 0 && (d->DevType == 1 || g_bVideoTab == 1))
            SetItemImage(leaf, flag == 1 ? 11 : IconRuleA(*d));
        return true;
    });
}

void CDevTree::SetVssChannelIcon(QTreeWidget* tree, const char* devName, const char* mac, int flag)
{
    QTreeWidgetItem* vss = tree ? FindVss(tree) : nullptr;
    if (!vss || !devName || !mac)
        return;
    WalkLeaves(vss, [&](QTreeWidgetItem* leaf) {
        RelayDevItem* e = devtree::ItemRelay(leaf);
        if (!e || std::strcmp(e->DevName, devName) != 0 || std::strcmp(e->Mac, mac) != 0)
            return true;
        int icon = flag == 1 ? 11 : RelayStateIcon(e->State);
        if (icon >= 0)
            SetItemImage(leaf, icon);
        return false;
    });
}

void CDevTree::SetMapAlarmIcon(QTreeWidget* tree, const char* name, int flag)
{
    if (!tree || !name)
        return;
    for (const MapPlacement& p : DeviceServices()->MapPlacements())
        if (p.channel == name)
            SetItemImage(FindItemByText(tree, p.map.c_str()), flag == 1 ? 11 : 0);
}

int CDevTree::FindInTree(QTreeWidget* tree, const char* key)
{
    QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
    if (!root || !key)
        return -1;
    tree->scrollToItem(root);
    root->setExpanded(true);
    for (int i = 0; i < root->childCount(); ++i)
        root->child(i)->setExpanded(true);

    // The visible items in order.
    std::vector<QTreeWidgetItem*> visible;
    std::function<void(QTreeWidgetItem*)> collect = [&](QTreeWidgetItem* item) {
        visible.push_back(item);
        if (item->isExpanded())
            for (int i = 0; i < item->childCount(); ++i)
                collect(item->child(i));
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        collect(tree->topLevelItem(i));
    if (visible.empty())
        return -1;
    std::size_t at = 0;
    for (std::size_t i = 0; i < visible.size(); ++i)
        if (visible[i] == tree->currentItem()) {
            at = (i + 1) % visible.size();
            break;
        }
    for (std::size_t n = 0; n < visible.size(); ++n) {
        QTreeWidgetItem* item = visible[(at + n) % visible.size()];
        std::string text = item->text(0).left(1023).toStdString();
        if (MatchPinyinKey(text.c_str(), key, '*') || text.find(key) != std::string::npos) {
            tree->setCurrentItem(item);
            tree->scrollToItem(item);
            return 0;
        }
    }
    return -1;
}
