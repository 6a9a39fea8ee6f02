// The one device-tree object: registers the configured devices with the
// closed controls after login, holds the state icons, and fills every tree
// of devices, users, roles, plans, channels and maps.
#pragma once

#include "core/devinfo.h"
#include "devices/device_services.h"

#include <QIcon>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CAuxPtzCtrl;
class CAuxPTZEvents;
class CRtspPullCtrl;
class QTreeWidget;
class QTreeWidgetItem;

// The process-wide control drivers and the device-control sink, created by
// CDevTree::Init and kept for the life of the process.
extern CAuxPtzCtrl* g_pAuxPtzCtrl;
extern CAuxPTZEvents* g_pAuxPTZEvents;
extern CRtspPullCtrl* g_pRtspPullCtrl;

// Posted to the main window when the P2P states were written back.
inline constexpr UINT WM_DEVLIST_RELOAD = WM_USER + 10;

// What a tree item carries.
enum class TreeData : int { None = 0, Group, Device, Relay, Plan, User, UserGroup, Role };

namespace devtree {
// Item helpers: the icon index and the data of an item.
void SetItemImage(QTreeWidgetItem* item, int image);
int GetItemImage(const QTreeWidgetItem* item);
void SetItemData(QTreeWidgetItem* item, TreeData kind, const void* data);
TreeData ItemKind(const QTreeWidgetItem* item);
void* ItemPtr(const QTreeWidgetItem* item);
// The item's device record, only while it is still a record of g_lstDevInfo
// (a stale item yields null). Takes g_csDevList.
DeviceInfo* ItemDevice(const QTreeWidgetItem* item);
// The same for group and plan items: null once the group or plan is gone.
DevGroupInfo* ItemGroup(const QTreeWidgetItem* item);
RecScheme* ItemPlan(const QTreeWidgetItem* item);
RelayDevItem* ItemRelay(const QTreeWidgetItem* item);
// The last n characters of text.
std::string RightChars(const char* text, int n);
} // namespace devtree

class CDevTree {
public:
    static CDevTree* GetInstance();

    // Registers every record of g_lstDevInfo with the controls; always 0.
    // UI thread.
    int Init();
    // Stops the P2P status thread and waits for it (at exit, and before a
    // second Init).
    void StopP2PStatusThread();
    bool IsP2PStatusThreadRunning() const { return m_p2pThread.joinable(); }
    // Where the P2P status thread asks for device states (port 80 unless set).
    void SetCloudInfoPort(int port) { m_nCloudPort = port; }
    // 2,000 ms unless set (tests shorten it).
    void SetP2PDelay(int ms) { m_nP2PDelayMs = ms; }

    // The fourteen 16 x 16 state icons (bitmap 143).
    std::vector<QIcon> m_ImageList;
    std::list<DeviceInfo> m_lstP2PDev;

    // --- device trees ---
    void InitDevTree(QTreeWidget* tree, int showAll);
    void InitOnlineOfflineTree(QTreeWidget* tree, int showAll);
    void AddRelayDevItems(std::list<RelayDevItem>* list, QTreeWidget* tree, QTreeWidgetItem* parent, int parentIndex,
                          int showOffline);
    void AddRelayDevItemsByState(std::list<RelayDevItem>* list, QTreeWidget* tree, QTreeWidgetItem* online,
                                 QTreeWidgetItem* offline);
    void RefreshDevTreeState(QTreeWidget* tree);
    void RefreshVssTreeState(QTreeWidget* tree);
    void SetDevAlarmIcon(QTreeWidget* tree, const char* name, int flag);
    void SetVssChannelIcon(QTreeWidget* tree, const char* devName, const char* mac, int flag);
    void SetMapAlarmIcon(QTreeWidget* tree, const char* name, int flag);
    int FindInTree(QTreeWidget* tree, const char* key);

    // --- other trees ---
    int InitUserTree(QTreeWidget* tree);
    int InitRoleTree(QTreeWidget* tree);
    int InitRecStrategyTree(QTreeWidget* tree);
    int InitChannelList(QTreeWidget* tree);
    int InitOnlineDevTree(QTreeWidget* tree);
    int InitSceneTree(QTreeWidget* tree);
    QTreeWidgetItem* FindItemByText(QTreeWidget* tree, const char* text);
    int InsertSceneItem(QTreeWidget* tree, const char* name, const char* parentName);

    // Icon rules.
    static int IconRuleA(const DeviceInfo& d);
    static int IconRuleC(const DeviceInfo& d);
    static int IconRuleB(const DeviceInfo& d);
    // -1 for a state that gets no item.
    static int RelayStateIcon(int state);
    static bool StreamRowsShown();

    QTreeWidgetItem* InsertItem(QTreeWidget* tree, QTreeWidgetItem* parent, const std::string& text, int image,
                                TreeData kind = TreeData::None, const void* data = nullptr);

private:
    CDevTree();
    ~CDevTree() = default;
    void LoadImageList();
    void P2PStatusThread();
    void QueryP2PDevice(DeviceInfo& copy, char* buffer, int capacity);
    static void ExpandAllSelectRoot(QTreeWidget* tree, QTreeWidgetItem* root);

    std::thread m_p2pThread;
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;
    bool m_bStop = false;
    HWND m_hNotifyWnd = nullptr;
    std::atomic<int> m_nCloudPort{80};
    std::atomic<int> m_nP2PDelayMs{2000};
};
