// CDeviceListDlg menu commands: sort, delete all, move up and down, rename
// and group play.
#include "core/cloud_client.h"
#include "core/helpers.h"
#include "core/userinfo.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_list_dlg.h"
#include "devices/dlg_modify_name.h"
#include "media/rtsp_events.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "res/strings.h"

#include <QApplication>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>

namespace {

bool SameId(const DeviceInfo& a, const char* id)
{
    return std::strcmp(a.DevId, id) == 0;
}

// Puts the row at it behind the first row of its device in sorted and
// behind the following rows of that device that come before it.
template <class Before>
void PlaceBehindParent(std::list<DeviceInfo>& from, std::list<DeviceInfo>& sorted, Before before)
{
    while (!from.empty()) {
        auto row = from.begin();
        auto pos = std::find_if(sorted.begin(), sorted.end(),
                                [&](const DeviceInfo& d) { return SameId(d, row->DevId); });
        if (pos == sorted.end()) {
            // No parent among the group's rows: keep the row behind them.
            sorted.splice(sorted.end(), from, row);
            continue;
        }
        ++pos;
        while (pos != sorted.end() && SameId(*pos, row->DevId) && before(*pos, *row))
            ++pos;
        sorted.splice(pos, from, row);
    }
}

} // namespace

int CDeviceListDlg::SortGroupDevices(const char* groupName, int descending)
{
    if (!groupName)
        return 0;
    qelm::CsLock lock(g_csDevList);
    std::list<DeviceInfo> channels, streams, sorted;
    int count = 0;
    for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end();) {
        auto next = std::next(it);
        if (std::strcmp(it->GroupName, groupName) == 0) {
            ++count;
            if (it->DevType == 4 && it->CurNVRChannel > 0) {
                channels.splice(channels.end(), g_lstDevInfo, it);
            } else if (it->DevType == 0 && !std::strstr(it->DevName, "Stream1")) {
                streams.splice(streams.end(), g_lstDevInfo, it);
            } else {
                auto pos = std::find_if(sorted.begin(), sorted.end(), [&](const DeviceInfo& d) {
                    int c = std::strcmp(d.DevName, it->DevName);
                    return descending ? c < 0 : c > 0;
                });
                sorted.splice(pos, g_lstDevInfo, it);
            }
        }
        it = next;
    }
    if (count == 0)
        return 0;
    PlaceBehindParent(channels, sorted,
                      [](const DeviceInfo& placed, const DeviceInfo& row) {
                          return placed.CurNVRChannel < row.CurNVRChannel;
                      });
    PlaceBehindParent(streams, sorted, [](const DeviceInfo& placed, const DeviceInfo& row) {
        return std::strcmp(placed.DevName, row.DevName) < 0;
    });
    g_lstDevInfo.splice(g_lstDevInfo.end(), sorted);
    return count;
}

void CDeviceListDlg::OnSortAscending()
{
    QTreeWidgetItem* item = Tree()->currentItem();
    if (item && SortGroupDevices(item->text(0).toUtf8().constData(), 0) > 0) {
        SaveDevInfo();
        DeviceServices()->ReloadDevTrees();
    }
}

void CDeviceListDlg::OnSortDescending()
{
    QTreeWidgetItem* item = Tree()->currentItem();
    if (item && SortGroupDevices(item->text(0).toUtf8().constData(), 1) > 0) {
        SaveDevInfo();
        DeviceServices()->ReloadDevTrees();
    }
}

void CDeviceListDlg::OnDeleteAllDevices()
{
    QTreeWidgetItem* item = Tree()->currentItem();
    if (!item)
        return;
    const std::string name = item->text(0).toStdString();
    bool busy = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (name == d.GroupName &&
                (d.WatchFlag || (d.pRtspEvent1 && (d.pRtspEvent1->IsManualRecording() ||
                                                   d.pRtspEvent1->GetStreamId() != 0))))
                busy = true;
    }
    if (busy && MessageBoxA(m_hWnd, LoadResString(1466).c_str(), g_strTitle.c_str(), MB_YESNO) != IDYES)
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<RemovedDevice> removed;
    {
        qelm::CsLock lock(g_csDevList);
        for (;;) {
            auto it = std::find_if(g_lstDevInfo.begin(), g_lstDevInfo.end(), [&](const DeviceInfo& d) {
                return name == d.GroupName && d.DevType != 3 && d.DevType >= 0 && d.DevType <= 5;
            });
            if (it == g_lstDevInfo.end())
                break;
            RemoveDeviceRecord(it, &removed);
        }
    }
    QApplication::restoreOverrideCursor();
    ReportRemovedDevices(removed);
    if (!removed.empty()) {
        SaveDevInfo();
        DeviceServices()->ReloadDevTrees();
        ShowMsg(610);
    }
}

int CDeviceListDlg::MoveDevice(int down)
{
    qelm::CsLock lock(g_csDevList);
    DeviceInfo* dev = devtree::ItemDevice(Tree()->currentItem());
    if (!dev)
        return -1;
    if (dev->DevType == 4 && dev->CurNVRChannel > 0)
        return 0;
    const std::string key = dev->DevId;
    auto first = std::find_if(g_lstDevInfo.begin(), g_lstDevInfo.end(),
                              [&](const DeviceInfo& d) { return key == d.DevId; });
    if (first == g_lstDevInfo.end())
        return 0;
    // Checked before anything is unlinked: the first device stays where it is.
    if (!down && first == g_lstDevInfo.begin())
        return 1;
    std::string prevId = first != g_lstDevInfo.begin() ? std::prev(first)->DevId : "";
    std::string nextId;
    auto afterLast = g_lstDevInfo.end();
    for (auto it = first; it != g_lstDevInfo.end(); ++it)
        if (key == it->DevId) {
            afterLast = std::next(it);
            if (afterLast != g_lstDevInfo.end())
                nextId = afterLast->DevId;
        }
    std::list<DeviceInfo> moving;
    for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end();) {
        auto next = std::next(it);
        if (key == it->DevId)
            moving.splice(moving.end(), g_lstDevInfo, it);
        it = next;
    }
    if (down) {
        auto pos = afterLast;
        while (pos != g_lstDevInfo.end() && nextId == pos->DevId)
            ++pos;
        g_lstDevInfo.splice(pos, moving);
    } else {
        auto pos = std::find_if(g_lstDevInfo.begin(), g_lstDevInfo.end(),
                                [&](const DeviceInfo& d) { return prevId == d.DevId; });
        g_lstDevInfo.splice(pos, moving);
    }
    return 0;
}

void CDeviceListDlg::OnMoveUp()
{
    if (MoveDevice(0) == 0) {
        SaveDevInfo();
        DeviceServices()->ReloadDevTrees();
    }
}

void CDeviceListDlg::OnMoveDown()
{
    if (MoveDevice(1) == 0) {
        SaveDevInfo();
        DeviceServices()->ReloadDevTrees();
    }
}

void CDeviceListDlg::OnRenameAlias()
{
    char name[256];
    qelm::CopyBounded(name, sizeof name, g_strRClickText);
    CDlgModifyName dlg(name, this);
    if (dlg.DoModal() != IDOK)
        return;
    // An empty name would leave a row nobody can find or pick.
    if (!name[0])
        return;
    DeviceInfo row{};
    {
        qelm::CsLock lock(g_csDevList);
        DeviceInfo* d = devtree::ItemDevice(Tree()->currentItem());
        if (!d)
            return;
        row = *d;
    }
    bool changed = false;
    if (g_DispInfoSetting.LoginType == 1 && row.DevType == 1) {
        // The text is UTF-8 already; the service is asked outside the lock.
        if (CloudSetDevName(row.DevId, name, row.LoginName, row.LoginPsw) != 0)
            return;
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (SameId(d, row.DevId)) {
                qelm::CopyBounded(d.DevName, sizeof d.DevName, name);
                changed = true;
                break;
            }
    } else if (g_DispInfoSetting.LoginType == 0 && row.DevType == 4 && row.CurNVRChannel > 0) {
        bool duplicate = false;
        {
            qelm::CsLock lock(g_csDevList);
            for (const DeviceInfo& d : g_lstDevInfo)
                if (std::strcmp(d.DevName, name) == 0 && SameId(d, row.DevId))
                    duplicate = true;
        }
        if (duplicate) {
            MessageBoxA(m_hWnd, LoadResString(1522).c_str(), g_strTitle.c_str(), MB_OK);
            return;
        }
        qelm::CsLock lock(g_csDevList);
        if (DeviceInfo* d = devtree::ItemDevice(Tree()->currentItem())) {
            qelm::CopyBounded(d->DevName, sizeof d->DevName, name);
            changed = true;
        }
    }
    if (changed)
        RefreshDevTree();
}

// --- group play ---

void CDeviceListDlg::OnAutoPlayGroup()
{
    if (g_nCurPage != 0 || !m_hCurGroupItem)
        return;
    if (IsUnderVss(m_hCurGroupItem) || m_hCurGroupItem->text(0) == QLatin1String("VSS"))
        AutoPlayRelayGroup();
    else
        AutoPlayLocalGroup();
}

void CDeviceListDlg::AutoPlayRelayGroup()
{
    IDeviceServices* s = DeviceServices();
    if (s->IsTalkOn())
        s->ShowTalkOff();
    s->EmptyAllPanes();
    // Every extension monitor's grid counts here, not only the first three.
    const int grids = g_DispInfoSetting.MonitorMode ? s->GridCount() : 1;
    int limit = 0;
    for (int g = 0; g < grids; ++g)
        limit += s->GridPaneCount(g);
    int count = 0;
    QTreeWidgetItem* group = m_hCurGroupItem;
    for (int i = 0; i < group->childCount() && count < limit; ++i) {
        if (IsMemoryHigh()) {
            ShowMsg(1424);
            return;
        }
        QTreeWidgetItem* child = group->child(i);
        std::vector<QTreeWidgetItem*> entries;
        if (child->childCount() > 0)
            for (int j = 0; j < child->childCount(); ++j)
                entries.push_back(child->child(j));
        else
            entries.push_back(child);
        for (QTreeWidgetItem* e : entries) {
            RelayDevItem* r = devtree::ItemRelay(e);
            if (!r || r->State == 0)
                continue;
            RequestRelayChannel(r, false);
            Sleep(5);
            ++count;
        }
    }
}

void CDeviceListDlg::AutoPlayLocalGroup()
{
    IDeviceServices* s = DeviceServices();
    const int grids = g_DispInfoSetting.MonitorMode ? std::min(s->GridCount(), 4) : 1;
    int grid = 0, pane = 0;
    QTreeWidgetItem* group = m_hCurGroupItem;
    qelm::CsLock lock(g_csDevList);
    for (int i = 0; i < group->childCount(); ++i) {
        QTreeWidgetItem* child = group->child(i);
        DeviceInfo* d = devtree::ItemDevice(child);
        if (!d)
            continue;
        if (IsMemoryHigh()) {
            ShowMsg(1424);
            return;
        }
        if (g_DispInfoSetting.LoginType != 0 && (!d->LoginName[0] || !d->LoginPsw[0])) {
            ShowMsg(1432);
            return;
        }
        std::vector<DeviceInfo*> records;
        if (d->DevType == 4 || d->DevType == 0) {
            // A node plays its channel or stream rows, never its own row.
            for (int j = 0; j < child->childCount(); ++j)
                if (DeviceInfo* r = devtree::ItemDevice(child->child(j)))
                    records.push_back(r);
        } else {
            if (d->DevType == 1)
                qelm::CopyBounded(d->Resolution, sizeof d->Resolution, d->DefRes);
            records.push_back(d);
        }
        for (DeviceInfo* r : records) {
            bool online = false;
            for (const DeviceInfo& x : g_lstDevInfo)
                if (std::strcmp(x.DevName, r->DevName) == 0) {
                    online = x.Online != 0;
                    break;
                }
            if (!online || grid >= grids)
                continue;
            for (;;) {
                if (s->AddWatch(grid, pane, r) != -100) {
                    ++pane;
                    break;
                }
                // This grid is full: the next one, from its first pane.
                ++grid;
                pane = 0;
                if (grid > 3)
                    return;
                if (grid >= grids)
                    break;
            }
        }
    }
}
