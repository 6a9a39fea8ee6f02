// The audio broadcast page: the trees, BroadcastInfo.xml, stopping a
// running broadcast on save, and members whose device was deleted.
#include "media/dlg_broadcast.h"

#include "controls/control_registry.h"
#include "core/config_store.h"
#include "core/devinfo.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "tests/media/media_test_util.h"
#include "tests/media/sink_test_util.h"
#include "tests/support/scoped_env.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kGate[] = "大门摄像机";

class FakeServices : public IBroadcastServices {
public:
    bool running = false;
    int stopped = 0;
    std::vector<std::pair<unsigned, int>> msgs;
    CAuxPtzCtrl* ctrl = nullptr;
    std::vector<QIcon> icons;

    const std::vector<QIcon>* StateIcons() override { return icons.empty() ? nullptr : &icons; }
    CAuxPtzCtrl* AuxPtzCtrl() override { return ctrl; }
    bool IsBroadcastRunning() override { return running; }
    void SetBroadcastStopped() override
    {
        running = false;
        ++stopped;
    }
    void ShowMsg(unsigned id, int mode) override { msgs.push_back({id, mode}); }
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Texts(const QTreeWidgetItem* parent)
{
    std::vector<std::string> out;
    for (int i = 0; parent && i < parent->childCount(); ++i)
        out.push_back(qelm::FromQ(parent->child(i)->text(0)));
    return out;
}

QTreeWidgetItem* Child(const QTreeWidgetItem* parent, const std::string& text)
{
    for (int i = 0; i < parent->childCount(); ++i)
        if (qelm::FromQ(parent->child(i)->text(0)) == text)
            return parent->child(i);
    return nullptr;
}

class DlgBroadcastTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetConfigDir(m_dir.path() + "/");
        SetBroadcastServices(&m_services);
        for (int i = 0; i < 14; ++i) {
            QPixmap p(16, 16);
            p.fill(QColor(i * 15, 0, 0));
            m_services.icons.push_back(QIcon(p));
        }
        Add(kGate, "A001", 1, 0, 1, 0, 1);
        Add("Lobby", "B002", 1, 0, 0);
        Add("NVR", "N1", 4, 0, 1);        // the NVR's own row: never a member
        Add("Channel-1", "N1", 4, 1, 1, 1, 0);
        Add("Decoder", "D9", 2, 0, 1);     // decoders take no part
    }
    void TearDown() override
    {
        m_dlgs.clear();
        {
            qelm::CsLock lock(g_csDevList);
            for (auto it : m_added) {
                delete it->pRtspEvent1;
                delete it->pRtspEvent2;
                g_lstDevInfo.erase(it);
            }
        }
        SetBroadcastServices(nullptr);
        SetConfigDir("");
    }

    DeviceInfo& Add(const char* name, const char* id, int type, int channel, int online, int rec = 0, int watch = 0)
    {
        qelm::CsLock lock(g_csDevList);
        DeviceInfo d{};
        qelm::CopyBounded(d.DevName, sizeof(d.DevName), name);
        qelm::CopyBounded(d.DevId, sizeof(d.DevId), id);
        d.DevType = type;
        d.CurNVRChannel = channel;
        d.Online = online;
        d.RecFlag = rec;
        d.WatchFlag = watch;
        m_added.push_back(g_lstDevInfo.insert(g_lstDevInfo.end(), d));
        return *m_added.back();
    }
    void Remove(const char* name)
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = m_added.begin(); it != m_added.end(); ++it)
            if (std::string((*it)->DevName) == name) {
                g_lstDevInfo.erase(*it);
                m_added.erase(it);
                return;
            }
    }
    // A page as the settings dialog makes it (the load timer is not waited for).
    CDlgBroadcast& NewPage()
    {
        m_dlgs.push_back(std::make_unique<CDlgBroadcast>());
        CDlgBroadcast& dlg = *m_dlgs.back();
        EXPECT_TRUE(dlg.Create(CDlgBroadcast::IDD));
        return dlg;
    }
    void Check(CDlgBroadcast& dlg, const std::string& text)
    {
        QTreeWidgetItem* item = Child(dlg.DeviceTree()->topLevelItem(0), text);
        ASSERT_NE(item, nullptr) << text;
        item->setCheckState(0, Qt::Checked);
    }
    static void Click(CDlgBroadcast& dlg, UINT id) { dlg.GetDlgItemT<QAbstractButton>(id)->click(); }
    std::string File() const { return ReadText(m_dir / "BroadcastInfo.xml"); }

    mp4test::TempDir m_dir;
    FakeServices m_services;
    std::vector<std::list<DeviceInfo>::iterator> m_added;
    std::vector<std::unique_ptr<CDlgBroadcast>> m_dlgs;
};

} // namespace

TEST_F(DlgBroadcastTest, PageStartsWithG711AndTheStringTableTexts)
{
    CDlgBroadcast& dlg = NewPage();
    EXPECT_TRUE(dlg.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_G711));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_AAC));
    EXPECT_TRUE(dlg.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_MONO));
    EXPECT_TRUE(dlg.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_8000));
    EXPECT_FALSE(dlg.GetDlgItem(CDlgBroadcast::IDC_RADIO_MONO)->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.GetAudioFormat(), CDlgBroadcast::kFormatG711);
    EXPECT_FALSE(dlg.GetDlgItemText(CDlgBroadcast::IDC_BTN_ADD).empty());
    EXPECT_FALSE(dlg.GetDlgItemText(CDlgBroadcast::IDC_STATIC_BROADCAST).empty());
    ASSERT_NE(dlg.BroadcastRoot(), nullptr);
    EXPECT_EQ(dlg.BroadcastRoot()->childCount(), 0);

    // Decoders and the NVR's own row are not offered; a channel row is
    // named after its NVR's id; icons follow the state.
    const QTreeWidgetItem* root = dlg.DeviceTree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Texts(root), (std::vector<std::string>{kGate, "Lobby", "N1-Channel-1"}));
    EXPECT_EQ(root->child(0)->data(0, Qt::UserRole + 2).toInt(), 7);  // online, watched
    EXPECT_EQ(root->child(1)->data(0, Qt::UserRole + 2).toInt(), 2);  // offline
    EXPECT_EQ(root->child(2)->data(0, Qt::UserRole + 2).toInt(), 6);  // online, recording
    EXPECT_FALSE(root->child(0)->icon(0).isNull());

    // Enter and Escape do not close the page.
    dlg.show();
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &press);
    }
    MSG msg;
    msg.message = WM_KEYDOWN;
    msg.wParam = 27;
    EXPECT_TRUE(dlg.PreTranslateMessage(&msg));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.GetSafeHwnd(), nullptr);
}

TEST_F(DlgBroadcastTest, IconRules)
{
    struct Case {
        int online, rec, watch, icon;
    } cases[] = {{1, 1, 1, 10}, {1, 0, 1, 7}, {1, 1, 0, 6}, {1, 0, 0, 3}, {0, 1, 1, 2}, {-1, 0, 0, 2}};
    for (const Case& c : cases) {
        DeviceInfo d{};
        d.Online = c.online;
        d.RecFlag = c.rec;
        d.WatchFlag = c.watch;
        EXPECT_EQ(CDlgBroadcast::StateIcon(d), c.icon) << c.online << c.rec << c.watch;
    }
}

// The first start writes the template and keeps G.711 for this run; the
// next start reads the template's audio "0" as AAC.
TEST_F(DlgBroadcastTest, FirstStartWritesTheTemplate)
{
    CDlgBroadcast& first = NewPage();
    first.LoadBroadcastInfo();
    EXPECT_EQ(File(), std::string(CDlgBroadcast::kTemplate));
    EXPECT_TRUE(first.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_G711));
    EXPECT_EQ(first.GetAudioFormat(), CDlgBroadcast::kFormatG711);

    CDlgBroadcast& next = NewPage();
    next.LoadBroadcastInfo();
    EXPECT_FALSE(next.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_G711));
    EXPECT_TRUE(next.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_AAC));
    EXPECT_EQ(next.GetAudioFormat(), CDlgBroadcast::kFormatAAC);
    EXPECT_TRUE(next.GetMembers().empty());
}

// Check, add, OK: the file holds the members in GB18030, and a new page
// reads them back.
TEST_F(DlgBroadcastTest, ChosenMembersRoundTripThroughTheFile)
{
    CDlgBroadcast& dlg = NewPage();
    dlg.LoadBroadcastInfo();
    Check(dlg, kGate);
    Check(dlg, "N1-Channel-1");
    Click(dlg, CDlgBroadcast::IDC_BTN_ADD);
    Click(dlg, CDlgBroadcast::IDC_BTN_ADD);  // a second add does not duplicate
    EXPECT_EQ(Texts(dlg.BroadcastRoot()), (std::vector<std::string>{kGate, "N1-Channel-1"}));
    Click(dlg, CDlgBroadcast::IDC_RADIO_G711);
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);

    EXPECT_EQ(m_services.msgs, (std::vector<std::pair<unsigned, int>>{{1080, 2}}));
    const std::string file = File();
    const std::string gbName = *qelm::Utf8ToGb18030(kGate);
    EXPECT_NE(file.find("audio=\"1\""), std::string::npos) << file;
    EXPECT_NE(file.find("<DevInfo DevId=\"A001\" DevName=\"" + gbName + "\""), std::string::npos) << file;
    EXPECT_NE(file.find("<DevInfo DevId=\"N1\" DevName=\"Channel-1\""), std::string::npos) << file;
    EXPECT_EQ(file.find(kGate), std::string::npos);  // not UTF-8
    EXPECT_EQ(dlg.GetMembers(), (std::vector<BroadcastMember>{{"A001", kGate}, {"N1", "Channel-1"}}));

    CDlgBroadcast& again = NewPage();
    again.LoadBroadcastInfo();
    EXPECT_EQ(again.GetMembers(), dlg.GetMembers());
    EXPECT_TRUE(again.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_G711));
    EXPECT_EQ(again.BroadcastRoot()->childCount(), 0);  // shown at the next refresh
    again.RefreshBroadcastTree();
    EXPECT_EQ(Texts(again.BroadcastRoot()), (std::vector<std::string>{kGate, "N1-Channel-1"}));

    // AAC and one member removed.
    again.BroadcastRoot()->child(0)->setCheckState(0, Qt::Checked);
    Click(again, CDlgBroadcast::IDC_BTN_REMOVE);
    Click(again, CDlgBroadcast::IDC_RADIO_AAC);
    EXPECT_FALSE(again.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_G711));
    Click(again, CDlgBroadcast::IDC_BTN_OK);
    EXPECT_EQ(again.GetAudioFormat(), CDlgBroadcast::kFormatAAC);
    EXPECT_EQ(again.GetMembers(), (std::vector<BroadcastMember>{{"N1", "Channel-1"}}));
    EXPECT_NE(File().find("audio=\"0\""), std::string::npos);
    EXPECT_EQ(File().find("A001"), std::string::npos);
}

TEST_F(DlgBroadcastTest, ClickingAnItemWithChildrenTogglesThem)
{
    CDlgBroadcast& dlg = NewPage();
    QTreeWidgetItem* root = dlg.DeviceTree()->topLevelItem(0);
    root->child(1)->setCheckState(0, Qt::Checked);
    dlg.OnClickTreeItem(dlg.DeviceTree(), root, false);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Checked) << i;
    EXPECT_EQ(dlg.DeviceTree()->currentItem(), root);
    dlg.OnClickTreeItem(dlg.DeviceTree(), root, true);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Unchecked) << i;
    // A leaf has nothing to toggle.
    dlg.OnClickTreeItem(dlg.DeviceTree(), root->child(0), false);
    EXPECT_EQ(root->child(0)->checkState(0), Qt::Unchecked);
}

// The file may name devices that are gone, NVR rows and elements without an id.
TEST_F(DlgBroadcastTest, LoadKeepsOnlyDevicesThatExist)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<BroadcastList audio=\"7\">\n"
                       "<DevInfo DevId=\"Z9\" DevName=\"Gone\" />\n"
                       "<DevInfo DevId=\"N1\" DevName=\"NVR\" />\n"
                       "<DevInfo DevName=\"Lobby\" />\n"
                       "<DevInfo DevId=\"B002\" DevName=\"Lobby\" />\n"
                       "<DevInfo DevId=\"B002\" DevName=\"Other name\" />\n"
                       "<DevInfo DevId=\"A001\" DevName=\"" +
                       *qelm::Utf8ToGb18030(kGate) + "\" />\n</BroadcastList>";
    WriteText(m_dir / "BroadcastInfo.xml", text);
    CDlgBroadcast& dlg = NewPage();
    dlg.LoadBroadcastInfo();
    EXPECT_EQ(dlg.GetMembers(), (std::vector<BroadcastMember>{{"B002", "Lobby"}, {"A001", kGate}}));
    EXPECT_EQ(dlg.GetAudioFormat(), CDlgBroadcast::kFormatG711);
    dlg.RefreshBroadcastTree();
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);
    EXPECT_EQ(File().find("Gone"), std::string::npos);
    EXPECT_NE(File().find("B002"), std::string::npos);
}

// Members are kept by id and name: a device deleted after it was chosen is
// neither shown, nor touched when a running broadcast is stopped, nor saved.
TEST_F(DlgBroadcastTest, MemberWhoseDeviceWasDeleted)
{
    CDlgBroadcast& dlg = NewPage();
    Check(dlg, kGate);
    Check(dlg, "Lobby");
    Click(dlg, CDlgBroadcast::IDC_BTN_ADD);
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);
    ASSERT_EQ(dlg.GetMembers().size(), 2u);

    Remove(kGate);
    {
        qelm::CsLock lock(g_csDevList);
        EXPECT_EQ(CDlgBroadcast::FindMemberRecord(dlg.GetMembers()[0]), nullptr);
        EXPECT_NE(CDlgBroadcast::FindMemberRecord(dlg.GetMembers()[1]), nullptr);
    }
    // A new record may take the freed memory; it is not the member.
    Add("Stranger", "C003", 1, 0, 1);
    m_services.running = true;
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);  // stops the broadcast, saves
    EXPECT_EQ(m_services.stopped, 1);
    EXPECT_EQ(dlg.GetMembers(), (std::vector<BroadcastMember>{{"B002", "Lobby"}}));
    EXPECT_EQ(File().find("A001"), std::string::npos);
    dlg.RefreshBroadcastTree();
    EXPECT_EQ(Texts(dlg.BroadcastRoot()), (std::vector<std::string>{"Lobby"}));
}

// Saving while a broadcast runs switches the broadcast mark off in the
// members' sinks and stops the broadcast on the device-control driver.
TEST_F(DlgBroadcastTest, SaveStopsARunningBroadcast)
{
    auxsinktest::ControlClassesGuard classes;
    mp4test::TempDir journalDir;
    const std::string journal = journalDir / "journal.txt";
    qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
    qelm::ResetControlClasses();
    qelm::RegisterStandInFactories();
    qelm::EnableControlClass(qelm::kClsidAuxPtz);
    CAuxPtzCtrl ctrl;
    ASSERT_TRUE(ctrl.CreateDispatch());
    m_services.ctrl = &ctrl;

    DeviceInfo* lobby = nullptr;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (std::string(d.DevName) == "Lobby")
                lobby = &d;
        lobby->pRtspEvent1 = new CRtspEvents(nullptr, nullptr);
        lobby->pRtspEvent2 = new CRtspEvents(nullptr, nullptr);
        lobby->pRtspEvent1->SetBroadcastStatus(1);
        lobby->pRtspEvent2->SetBroadcastStatus(1);
    }

    // No members yet: a save leaves the running broadcast running.
    CDlgBroadcast& dlg = NewPage();
    m_services.running = true;
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);
    EXPECT_TRUE(m_services.running);
    EXPECT_EQ(ReadText(journal).find("CAuxPtzCtrl::StopBroadcast"), std::string::npos);
    EXPECT_EQ(File(), "");  // no file to load: nothing saved

    dlg.LoadBroadcastInfo();  // writes the template
    Check(dlg, "Lobby");
    Click(dlg, CDlgBroadcast::IDC_BTN_ADD);
    Click(dlg, CDlgBroadcast::IDC_BTN_OK);
    EXPECT_TRUE(m_services.running);  // the members were empty before this save
    EXPECT_NE(File().find("B002"), std::string::npos);

    Click(dlg, CDlgBroadcast::IDC_BTN_OK);
    EXPECT_FALSE(m_services.running);
    EXPECT_EQ(m_services.stopped, 1);
    EXPECT_EQ(lobby->pRtspEvent1->GetBroadcastStatus(), 0);
    EXPECT_EQ(lobby->pRtspEvent2->GetBroadcastStatus(), 0);
    EXPECT_NE(ReadText(journal).find("CAuxPtzCtrl::StopBroadcast"), std::string::npos);
    m_services.ctrl = nullptr;
}

// The page as it looks, for a person to compare with the layout.
TEST_F(DlgBroadcastTest, Picture)
{
    CDlgBroadcast& dlg = NewPage();
    dlg.LoadBroadcastInfo();
    Check(dlg, kGate);
    Click(dlg, CDlgBroadcast::IDC_BTN_ADD);
    dlg.show();
    const QImage image = dlg.grab().toImage();
    EXPECT_EQ(image.width(), 495);
    EXPECT_EQ(image.height(), 333);
    if (const char* out = std::getenv("QELM2_PICTURE_DIR"))
        image.save(QString::fromUtf8(out) + "/broadcast_page.png");
}

// The page loads its choice 3 s after it was made, and a mouse click on an
// item's text toggles the item's children.
TEST_F(DlgBroadcastTest, LoadTimerAndMouseClick)
{
    WriteText(m_dir / "BroadcastInfo.xml",
              "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<BroadcastList audio=\"0\">\n"
              "<DevInfo DevId=\"B002\" DevName=\"Lobby\" />\n</BroadcastList>");
    CDlgBroadcast& dlg = NewPage();
    EXPECT_TRUE(dlg.GetMembers().empty());
    EXPECT_TRUE(auxsinktest::WaitFor([&] { return !dlg.GetMembers().empty(); }, 30000));
    EXPECT_EQ(dlg.GetMembers(), (std::vector<BroadcastMember>{{"B002", "Lobby"}}));
    EXPECT_TRUE(dlg.IsDlgButtonChecked(CDlgBroadcast::IDC_RADIO_AAC));

    dlg.show();
    QTreeWidget* tree = dlg.DeviceTree();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    const QRect rect = tree->visualItemRect(root);
    const QPoint onText(rect.right() - 10, rect.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, onText);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Checked) << i;
    EXPECT_EQ(tree->currentItem(), root);
}
