// Device trees built from the fixture device file: text, nesting and icon of
// every item on each page that shows a tree, the relay branches, icon
// refreshes, alarm blinking and the search.
#include "devices_test_util.h"

#include "core/recinfo.h"
#include "core/userinfo.h"
#include "res/strings.h"

#include <cstring>

namespace {

class DevTreeTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        devtest::ResetAll();
        devtest::LoadFixture();
    }
    void TearDown() override { devtest::ResetAll(); }
    void Page(int page, int video, int sub)
    {
        g_nCurPage = page;
        g_bVideoTab = video;
        g_nCfgSubPage = sub;
    }
    QTreeWidget tree;
    CDevTree* dt = CDevTree::GetInstance();
};

const char kGroupLive[] = R"(Device List [0]
  Default [1]
    Cam2 [3]
    NVR-A [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    DVS001 [0]
      Stream1 [3]
      Stream2 [3]
  Gate [1]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2PNVR [0]
      Channel-1 [2]
      Channel-2 [2]
  Store [1]
)";

// Configuration page, device sub-page: decoders shown, stream rows not.
const char kGroupConfig[] = R"(Device List [0]
  Default [1]
    Cam2 [3]
    NVR-A [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    DVS001 [0]
    Decoder1 [3]
  Gate [1]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2PNVR [0]
      Channel-1 [2]
      Channel-2 [2]
  Store [1]
)";

// Map page: neither decoders nor stream rows.
const char kGroupMap[] = R"(Device List [0]
  Default [1]
    Cam2 [3]
    NVR-A [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    DVS001 [0]
  Gate [1]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2PNVR [0]
      Channel-1 [2]
      Channel-2 [2]
  Store [1]
)";

// Counts leave out NVR channels and count every stream row and the decoder,
// shown or not.
const char kOnlineLive[] = R"(Device List [0]
  Online(4) [1]
    Cam2 [3]
    DVS001 [0]
      Stream1 [3]
      Stream2 [3]
  Offline(5) [1]
    NVR001 [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2P002 [0]
      Channel-1 [2]
      Channel-2 [2]
)";

const char kOnlineTvWall[] = R"(Device List [0]
  Online(4) [1]
    Cam2 [3]
    DVS001 [0]
      Stream1 [3]
      Stream2 [3]
    Decoder1 [3]
  Offline(5) [1]
    NVR001 [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2P002 [0]
      Channel-1 [2]
      Channel-2 [2]
)";

// TV wall: decoders and stream rows both shown.
const char kGroupTvWall[] = R"(Device List [0]
  Default [1]
    Cam2 [3]
    NVR-A [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    DVS001 [0]
      Stream1 [3]
      Stream2 [3]
    Decoder1 [3]
  Gate [1]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2PNVR [0]
      Channel-1 [2]
      Channel-2 [2]
  Store [1]
)";

// Configuration page, device or maintenance sub-page: decoders, no stream rows.
const char kOnlineConfig[] = R"(Device List [0]
  Online(4) [1]
    Cam2 [3]
    DVS001 [0]
    Decoder1 [3]
  Offline(5) [1]
    NVR001 [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2P002 [0]
      Channel-1 [2]
      Channel-2 [2]
)";

// Map page and the plans sub-page: neither.
const char kOnlineMap[] = R"(Device List [0]
  Online(4) [1]
    Cam2 [3]
    DVS001 [0]
  Offline(5) [1]
    NVR001 [12]
      Channel-1 [3]
      Channel-2 [2]
      Channel-3 [3]
    前门 [2]
    Side [13]
    P2PCam [2]
    P2P002 [0]
      Channel-1 [2]
      Channel-2 [2]
)";

TEST_F(DevTreeTest, GroupAndOnlineViewsOnEachPage)
{
    struct Case {
        int page, video, sub, showAll;
        const char* group;
        const char* online;
    };
    const Case cases[] = {
        {0, 1, 0, 0, kGroupLive, kOnlineLive},       // live view
        {1, 1, 0, 0, kGroupLive, kOnlineLive},       // record search
        {2, 1, 0, 0, kGroupLive, kOnlineLive},       // alarm search
        {3, 0, 0, 0, kGroupConfig, kOnlineConfig},   // configuration, devices
        {3, 0, 3, 0, kGroupConfig, kOnlineMap},      // configuration, remote configuration
        {3, 0, 4, 0, kGroupConfig, kOnlineConfig},   // configuration, maintenance
        {3, 0, 2, 0, kGroupMap, kOnlineMap},         // configuration, plans
        {5, 0, 0, 0, kGroupMap, kOnlineMap},         // map
        {5, 0, 0, 1, kGroupConfig, kOnlineConfig},   // the TV-wall panel's show-all flag, stream rows still hidden
        {4, 0, 0, 0, kGroupTvWall, kOnlineTvWall},   // TV wall
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "page " << c.page << " sub " << c.sub << " all " << c.showAll);
        Page(c.page, c.video, c.sub);
        dt->InitDevTree(&tree, c.showAll);
        EXPECT_EQ(devtest::DumpTree(&tree), c.group);
        EXPECT_EQ(tree.currentItem(), tree.topLevelItem(0));
        dt->InitOnlineOfflineTree(&tree, c.showAll);
        EXPECT_EQ(devtest::DumpTree(&tree), c.online);
    }
}

TEST_F(DevTreeTest, EmptyListsLeaveOnlyTheRoots)
{
    devtest::ResetAll();
    dt->InitDevTree(&tree, 0);
    EXPECT_EQ(devtest::DumpTree(&tree), "Device List [0]\n");
    dt->InitOnlineOfflineTree(&tree, 0);
    EXPECT_EQ(devtest::DumpTree(&tree), "Device List [0]\n  Online [1]\n  Offline [1]\n");
}

TEST_F(DevTreeTest, RelayBranches)
{
    std::list<RelayDevItem> items;
    auto add = [&](int type, const char* ip, const char* name, int parent, int index, int state) {
        RelayDevItem e;
        e.Type = type;
        std::strcpy(e.Ip, ip);
        std::strcpy(e.DevName, name);
        std::strcpy(e.Mac, "00:11:22:33:44:55");
        e.ParentIndex = parent;
        e.Index = index;
        e.State = state;
        items.push_back(e);
    };
    add(1, "10.0.0.1", "Lobby", 0, 1, 2);
    add(1, "10.0.0.2", "Yard", 0, 2, 0);
    add(4, "10.0.0.3", "Recorder", 0, 3, 1);
    add(4, "10.0.0.3", "Channel-1", 0, 4, 4);
    add(0, "10.0.0.4", "DVSStream1", 0, 5, 1);
    add(3, "10.0.0.9", "Branch", 0, 6, 1);
    add(1, "10.0.0.10", "Far", 6, 7, 3);
    add(1, "10.0.0.11", "Odd", 0, 8, 9); // unknown state: no item
    Qelm2Node server;
    server.LoginId = 7;
    std::strcpy(server.DevName, "Relay1");
    server.pDevList = &items;
    g_lstRelayServer.push_back(server);
    devtest::ResetAll(); // devices gone, relay list kept below
    g_lstRelayServer.push_back(server);
    g_lstDevGroupInfo.push_back(DevGroupInfo{"Default", 1});

    dt->InitDevTree(&tree, 0);
    EXPECT_EQ(devtest::DumpTree(&tree), R"(Device List [0]
  Default [1]
  VSS [1]
    Relay1 [1]
      Lobby [7]
      Yard [2]
      Recorder [0]
        Channel-1 [10]
      10.0.0.4 [0]
        Stream1 [3]
      Branch [1]
        Far [6]
)");
    // Cascade levels are not separated here: the cascaded server is an entry.
    dt->InitOnlineOfflineTree(&tree, 0);
    EXPECT_EQ(devtest::DumpTree(&tree), R"(Device List [0]
  Online(0) [1]
  Offline(0) [1]
  VSS [1]
    Relay1 [1]
      Online(6) [1]
        Lobby [7]
        10.0.0.3 [0]
          Channel-1 [10]
        10.0.0.4 [0]
          Stream1 [3]
        Branch [3]
        Far [6]
      Offline(1) [1]
        Yard [2]
)");
    // Refresh and blinking of relay channels.
    dt->InitDevTree(&tree, 0);
    items.front().State = 1;
    dt->RefreshVssTreeState(&tree);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Lobby")), 3);
    dt->SetVssChannelIcon(&tree, "Lobby", "00:11:22:33:44:55", 1);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Lobby")), 11);
    dt->SetVssChannelIcon(&tree, "Lobby", "00:11:22:33:44:55", 0);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Lobby")), 3);
    g_lstRelayServer.clear();
}

TEST_F(DevTreeTest, RefreshFollowsRecordsAndPassesOverStaleItems)
{
    dt->InitDevTree(&tree, 0);
    DeviceInfo* cam = devtest::FindDev("IPC001", "Cam2");
    cam->WatchFlag = 1;
    cam->RecFlag = 1;
    dt->RefreshDevTreeState(&tree);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Cam2")), 10);
    cam->RecFlag = 0;
    dt->RefreshDevTreeState(&tree);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Cam2")), 7);

    // On the configuration page (not plans) video-server streams keep their icon.
    devtest::FindDev("DVS001", "DVS001Stream1")->Online = 0;
    Page(3, 0, 0);
    dt->RefreshDevTreeState(&tree);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Stream1")), 3);
    Page(0, 1, 0);
    dt->RefreshDevTreeState(&tree);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Stream1")), 2);

    // A record erased after the build: its item is neither read nor matched.
    QTreeWidgetItem* item = devtest::FindItem(&tree, "Side");
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end(); ++it)
            if (std::strcmp(it->DevId, "IPC003") == 0) {
                RemoveDeviceRecord(it, nullptr);
                break;
            }
    }
    EXPECT_EQ(devtree::ItemDevice(item), nullptr);
    dt->RefreshDevTreeState(&tree);
    dt->SetDevAlarmIcon(&tree, "Side", 1);
    EXPECT_EQ(devtree::GetItemImage(item), 13);
}

TEST_F(DevTreeTest, AlarmBlinkingOfCamerasAndChannels)
{
    dt->InitDevTree(&tree, 0);
    g_bVideoTab = 0;
    dt->SetDevAlarmIcon(&tree, "Cam2", 1);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Cam2")), 11);
    dt->SetDevAlarmIcon(&tree, "Channel-1", 1); // not an IP camera, not a video tab
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Channel-1")), 3);
    g_bVideoTab = 1;
    dt->SetDevAlarmIcon(&tree, "Channel-1", 1); // both NVRs' first channels
    int blinking = 0;
    for (QTreeWidgetItem* i : tree.findItems("Channel-1", Qt::MatchExactly | Qt::MatchRecursive))
        blinking += devtree::GetItemImage(i) == 11;
    EXPECT_EQ(blinking, 2);
    dt->SetDevAlarmIcon(&tree, "Cam2", 0);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Cam2")), 3);
}

TEST_F(DevTreeTest, SearchByPinyinAndTextWrapsAround)
{
    dt->InitDevTree(&tree, 0);
    EXPECT_EQ(dt->FindInTree(&tree, "qm"), 0); // 前门
    EXPECT_EQ(tree.currentItem()->text(0), QString::fromUtf8("前门"));
    EXPECT_EQ(dt->FindInTree(&tree, "Channel"), 0);
    EXPECT_EQ(tree.currentItem()->text(0), QString("Channel-1"));
    EXPECT_EQ(tree.currentItem()->parent()->text(0), QString("P2PNVR"));
    EXPECT_EQ(dt->FindInTree(&tree, "Channel"), 0);
    EXPECT_EQ(tree.currentItem()->text(0), QString("Channel-2"));
    EXPECT_EQ(dt->FindInTree(&tree, "Channel"), 0); // wraps to the first NVR
    EXPECT_EQ(tree.currentItem()->text(0), QString("Channel-1"));
    EXPECT_EQ(tree.currentItem()->parent()->text(0), QString("NVR-A"));
    QTreeWidgetItem* before = tree.currentItem();
    EXPECT_EQ(dt->FindInTree(&tree, "nothing"), -1);
    EXPECT_EQ(tree.currentItem(), before);
}

TEST_F(DevTreeTest, UserRolePlanChannelPatrolAndMapTrees)
{
    g_lstGroupInfo.push_back(UserGroup{"Ops", "", ""});
    g_lstGroupInfo.push_back(UserGroup{"Empty", "", ""});
    User u{};
    std::strcpy(u.UserName, "alice");
    std::strcpy(u.GroupName, "Ops");
    g_lstUserInfo.push_back(u);
    std::strcpy(u.UserName, "ghost");
    std::strcpy(u.GroupName, "Gone");
    g_lstUserInfo.push_back(u);
    Role r{};
    std::strcpy(r.RoleName, "admin");
    g_lstRoleInfo.push_back(r);
    dt->InitUserTree(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), "User List [0]\n  Ops [1]\n    alice [0]\n  Empty [1]\n");
    dt->InitRoleTree(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), "Role List [0]\n  admin [0]\n");

    auto* plan = new RecScheme;
    std::strcpy(plan->SchemeName, "Night");
    plan->lstDev.push_back(devtest::FindDev("NVR001", "Channel-3"));
    plan->lstDev.push_back(devtest::FindDev("NVR001", "NVR-A")); // parent rows get no item
    plan->lstDev.push_back(devtest::FindDev("IPC001", "Cam2"));
    g_lstRecSchemeInfo.push_back(plan);
    dt->InitRecStrategyTree(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), "Record strategy [0]\n  Night [1]\n    NVR001-Channel-3 [3]\n    Cam2 [3]\n");

    dt->InitChannelList(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), R"(Device List [0]
  Cam2 [3]
  NVR001-Channel-1 [3]
  NVR001-Channel-2 [2]
  NVR001-Channel-3 [3]
  DVS001Stream1 [3]
  DVS001Stream2 [3]
  前门 [2]
  Side [2]
  P2PCam [2]
  P2P002-Channel-1 [2]
  P2P002-Channel-2 [2]
)");

    g_bVideoTab = 0; // stream rows are shown on every page here
    dt->InitOnlineDevTree(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), R"(Device List [0]
  Cam2 [3]
  NVR001 [0]
    Channel-1 [3]
    Channel-3 [3]
  DVS001 [0]
    Stream1 [3]
    Stream2 [3]
  P2P002 [0]
)");
}

class MapServices : public IDeviceServices {
public:
    std::vector<MapEntry> Maps() override { return {{"Site", ""}, {"Floor1", "site"}, {"Lost", "Nowhere"}}; }
    std::vector<MapPlacement> MapPlacements() override { return {{"Floor1", "Cam2"}, {"Missing", "Cam2"}}; }
};

TEST_F(DevTreeTest, MapTreeSearchInsertAndBlink)
{
    MapServices maps;
    SetDeviceServices(&maps);
    dt->InitSceneTree(&tree);
    EXPECT_EQ(devtest::DumpTree(&tree), "Map List [0]\n  Site [0]\n    Floor1 [0]\n  Lost [0]\n");
    EXPECT_EQ(dt->InsertSceneItem(&tree, "Floor2", "SITE"), 0);
    EXPECT_EQ(tree.currentItem()->text(0), QString("Floor2"));
    dt->InsertSceneItem(&tree, "Nope", "Absent");
    EXPECT_EQ(devtest::FindItem(&tree, "Nope"), nullptr);
    dt->SetMapAlarmIcon(&tree, "Cam2", 1);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "Floor1")), 11);
    EXPECT_EQ(devtree::GetItemImage(tree.topLevelItem(0)), 11); // "Missing" falls back to the root
    SetDeviceServices(nullptr);
}

} // namespace
