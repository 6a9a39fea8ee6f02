// The device panel's commands on the device list: sort, move, delete all,
// rename (local and through the cloud) and group play.
#include "panel_host.h"

#include "controls/control_registry.h"
#include "core/cloud_client.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/dlg_modify_name.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/msgbox.h"
#include "res/strings.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "tests/support/scoped_env.h"

#include <fstream>

#include <cstring>

namespace {

using devtest::FindItem;
using devtest::Names;
using devtest::PanelHost;

DeviceInfo Dev(const char* group, const char* id, const char* name, int type = 1, int channel = 0)
{
    DeviceInfo d{};
    std::strcpy(d.GroupName, group);
    std::strcpy(d.DevId, id);
    std::strcpy(d.DevName, name);
    std::strcpy(d.IPAddr, "127.0.0.1");
    d.DevType = type;
    d.CurNVRChannel = channel;
    d.Online = 1;
    return d;
}

class CommandTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        devtest::ResetAll();
        g_lstDevGroupInfo.push_back(DevGroupInfo{"G", 1});
        g_lstDevGroupInfo.push_back(DevGroupInfo{"H", 0});
        host = std::make_unique<PanelHost>(900, 700);
    }
    void TearDown() override
    {
        host.reset();
        devtest::ResetAll();
    }
    void Add(const DeviceInfo& d) { g_lstDevInfo.push_back(d); }
    CDeviceListDlg* Panel() { return host->panel; }
    void Select(const char* text)
    {
        Panel()->RefreshDevTree();
        QTreeWidgetItem* item = FindItem(Panel()->Tree(), text);
        ASSERT_NE(item, nullptr) << text;
        Panel()->Tree()->setCurrentItem(item);
    }
    std::unique_ptr<PanelHost> host;
};

TEST_F(CommandTest, SortUsesByteOrderAndKeepsChannelsBehindTheirParent)
{
    struct Case {
        int descending;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, {"x", "B", "C", "N", "Channel-1", "Channel-2", "Channel-3", "V-Stream1", "V-Stream2", "a", "Orphan"}},
        {1, {"x", "a", "V-Stream1", "V-Stream2", "N", "Channel-1", "Channel-2", "Channel-3", "C", "B", "Orphan"}},
    };
    for (const Case& c : cases) {
        g_lstDevInfo.clear();
        Add(Dev("G", "1", "B"));
        Add(Dev("H", "9", "x"));
        Add(Dev("G", "2", "a"));
        Add(Dev("G", "N1", "Channel-3", 4, 3));
        Add(Dev("G", "N1", "N", 4, 0));
        Add(Dev("G", "N1", "Channel-1", 4, 1));
        Add(Dev("G", "3", "C"));
        Add(Dev("G", "N1", "Channel-2", 4, 2));
        Add(Dev("G", "V", "V-Stream2", 0));
        Add(Dev("G", "V", "V-Stream1", 0));
        Add(Dev("G", "N9", "Orphan", 4, 1)); // its NVR row is gone: the row is kept
        // Plans point at records: sorting moves them, never copies them.
        DeviceInfo* a = &*std::next(g_lstDevInfo.begin(), 2);
        EXPECT_EQ(Panel()->SortGroupDevices("G", c.descending), 10);
        EXPECT_EQ(Names(), c.expected);
        EXPECT_STREQ(a->DevName, "a");
        bool same = false;
        for (DeviceInfo& d : g_lstDevInfo)
            same = same || &d == a;
        EXPECT_TRUE(same);
    }
    EXPECT_EQ(Panel()->SortGroupDevices("Nope", 0), 0);
}

TEST_F(CommandTest, SortCommandSavesAndReloads)
{
    Add(Dev("G", "1", "B"));
    Add(Dev("G", "2", "a"));
    Add(Dev("G", "3", "C"));
    Select("G");
    Panel()->SendMessage(WM_COMMAND, CDeviceListDlg::ID_SORT_ASCENDING, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B", "C", "a"}));
    EXPECT_TRUE(host->Called("ReloadDevTrees"));
    EXPECT_EQ(Panel()->Tree()->topLevelItem(0)->child(0)->child(2)->text(0), QString("a"));
}

TEST_F(CommandTest, MoveUpAndDown)
{
    Add(Dev("G", "1", "A"));
    Add(Dev("G", "V", "V-Stream1", 0));
    Add(Dev("G", "V", "V-Stream2", 0));
    Add(Dev("H", "2", "B"));
    g_bVideoTab = 1;
    Select("A");
    EXPECT_EQ(Panel()->MoveDevice(0), 1); // already first: nothing unlinked
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "V-Stream1", "V-Stream2", "B"}));
    Select("Stream2");
    EXPECT_EQ(Panel()->MoveDevice(0), 0); // all rows of the server move together
    EXPECT_EQ(Names(), (std::vector<std::string>{"V-Stream1", "V-Stream2", "A", "B"}));
    Select("Stream1");
    EXPECT_EQ(Panel()->MoveDevice(1), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "V-Stream1", "V-Stream2", "B"}));
    Select("B");
    EXPECT_EQ(Panel()->MoveDevice(1), 0); // the last stays last
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "V-Stream1", "V-Stream2", "B"}));
    Panel()->Tree()->setCurrentItem(Panel()->Tree()->topLevelItem(0));
    EXPECT_EQ(Panel()->MoveDevice(1), -1);
}

class DeleteAllTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidAuxPtz);
        qelm::EnableControlClass(qelm::kClsidRtspPull);
        Add(Dev("G", "N1", "NVR", 4, 0));
        Add(Dev("G", "N1", "Channel-1", 4, 1));
        Add(Dev("G", "N2", "NVR2", 4, 0));
        Add(Dev("G", "C2", "Cam2"));
        Add(Dev("G", "V", "V-Stream2", 0));
        Add(Dev("G", "R", "Relay", 3));
        Add(Dev("H", "K", "Keep"));
        CDevTree::GetInstance()->Init();
        for (DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevName, "V-Stream2") == 0)
                d.AuxPtzId = 0; // never registered: no DelDevice(0)
        plan = new RecScheme;
        std::strcpy(plan->SchemeName, "P");
        for (DeviceInfo& d : g_lstDevInfo)
            plan->lstDev.push_back(&d);
        g_lstRecSchemeInfo.push_back(plan);
        devtest::FindDev("C2", "Cam2")->WatchFlag = 1;
        Select("G");
    }
    // Answers the question box with a button once it shows.
    void AnswerBox(int button)
    {
        QTimer::singleShot(50, [this, button] {
            qelm::MessageBoxInfo box = qelm::LastMessageBox();
            question = box.text;
            QWidget* w = qelm::WidgetFromHandle(box.hwnd);
            ASSERT_NE(w, nullptr);
            qobject_cast<QAbstractButton*>(w->findChild<QWidget*>(QString("id:%1").arg(button)))->click();
        });
    }
    RecScheme* plan = nullptr;
    std::string question;
};

TEST_F(DeleteAllTest, BusyGroupAsksFirstAndNoKeepsEverything)
{
    AnswerBox(IDNO);
    Panel()->SendMessage(WM_COMMAND, CDeviceListDlg::ID_DELETE_ALL, 0);
    EXPECT_EQ(question, "The device is in use, delete it?");
    EXPECT_EQ(g_lstDevInfo.size(), 7u);
    EXPECT_EQ(plan->lstDev.size(), 7u);
}

TEST_F(DeleteAllTest, YesRemovesEveryDeviceButRelayRows)
{
    // A pane outside the main grids (the alarm-linkage pane) keeps a copy of
    // the record, sink pointers included.
    const DeviceInfo paneCopy = *devtest::FindDev("C2", "Cam2");
    QTemporaryDir dir;
    std::string journal = dir.filePath("journal.txt").toStdString();
    AnswerBox(IDYES);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Panel()->SendMessage(WM_COMMAND, CDeviceListDlg::ID_DELETE_ALL, 0);
    }
    // Four registered rows unregistered; the row that never was is not
    // mistaken for id 0.
    std::ifstream in(journal);
    int deletes = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("CAuxPtzCtrl::DelDevice\t") == std::string::npos)
            continue;
        ++deletes;
        EXPECT_EQ(line.find("CAuxPtzCtrl::DelDevice\t0\t"), std::string::npos) << line;
    }
    EXPECT_EQ(deletes, 4);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Relay", "Keep"}));
    ASSERT_EQ(plan->lstDev.size(), 2u);
    EXPECT_STREQ(plan->lstDev.front()->DevName, "Relay");
    // One list notice for the NVRs, one state report per other record, the
    // camera on channel 0 and the stream row on its stream's number.
    std::vector<std::string> reports;
    for (const std::string& c : host->calls)
        if (c.rfind("TS_", 0) == 0)
            reports.push_back(c);
    EXPECT_EQ(reports, (std::vector<std::string>{"TS_NotifyUpdateDeviceList",
                                                 "TS_ReportDeviceState AA:BB:127.0.0.1 0 0",
                                                 "TS_ReportDeviceState AA:BB:127.0.0.1 2 0"}));
    EXPECT_TRUE(host->Called("OnStopWatch Cam2"));
    EXPECT_EQ(host->MsgText(), "Remove device success!");
    EXPECT_EQ(FindItem(Panel()->Tree(), "Cam2"), nullptr); // the trees were rebuilt
    EXPECT_NE(FindItem(Panel()->Tree(), "G"), nullptr);     // the group stays
    // Sinks live until the main window closes, whatever became of the record.
    EXPECT_EQ(paneCopy.pRtspEvent1->GetStreamId(), 0);
    EXPECT_EQ(paneCopy.pRtspEvent2->GetStreamId(), 0);
}

// Runs the rename dialog: types name and presses OK (or Cancel).
void TypeInRenameDialog(const QString& name, bool ok = true)
{
    QTimer::singleShot(50, [name, ok] {
        CDlgModifyName* dlg = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = dynamic_cast<CDlgModifyName*>(w); d && d->isVisible())
                dlg = d;
        ASSERT_NE(dlg, nullptr);
        if (const char* dir = std::getenv("QELM2_TEST_SHOTS"))
            dlg->grab().save(QString("%1/rename_dialog.png").arg(dir));
        dlg->m_editName->selectAll();
        QTest::keyClicks(dlg->m_editName, name);
        QTest::mouseClick(dlg->GetDlgItemT<QAbstractButton>(ok ? IDOK : IDCANCEL), Qt::LeftButton);
    });
}

TEST_F(CommandTest, RenameNvrChannelRefusesDuplicatesOfTheSameNvr)
{
    Add(Dev("G", "N1", "NVR", 4, 0));
    Add(Dev("G", "N1", "Channel-1", 4, 1));
    Add(Dev("G", "N1", "Channel-2", 4, 2));
    Add(Dev("G", "N2", "NVR2", 4, 0));
    Add(Dev("G", "N2", "Gate", 4, 1));
    Select("Channel-2");
    std::string box;
    // Answers the message box once it shows (after the rename dialog closed).
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        qelm::MessageBoxInfo info = qelm::LastMessageBox();
        if (QWidget* w = qelm::WidgetFromHandle(info.hwnd)) {
            box = info.text;
            poll.stop();
            qobject_cast<QAbstractButton*>(w->findChild<QWidget*>(QString("id:%1").arg(IDOK)))->click();
        }
    });
    poll.start(20);
    TypeInRenameDialog("Channel-1");
    Panel()->OnRenameAlias();
    EXPECT_EQ(box, "The device already exists!");
    EXPECT_NE(devtest::FindDev("N1", "Channel-2"), nullptr);

    Select("Channel-2");
    TypeInRenameDialog("Gate"); // a name of another NVR's channel is fine
    Panel()->OnRenameAlias();
    EXPECT_NE(devtest::FindDev("N1", "Gate"), nullptr);
    EXPECT_NE(FindItem(Panel()->Tree(), "Gate"), nullptr);

    Select("Channel-1");
    TypeInRenameDialog(""); // empty: refused
    Panel()->OnRenameAlias();
    EXPECT_NE(devtest::FindDev("N1", "Channel-1"), nullptr);

    Select("Channel-1");
    TypeInRenameDialog("Other", false);
    Panel()->OnRenameAlias();
    EXPECT_NE(devtest::FindDev("N1", "Channel-1"), nullptr);
}

TEST_F(CommandTest, CloudRenameFollowsTheServersAnswer)
{
    devtest::FakeCloud cloud;
    SetCloudAccountServer("127.0.0.1", cloud.port());
    SetCloudTimeout(2000);
    g_DispInfoSetting.LoginType = 1;
    DeviceInfo cam = Dev("G", "C1", "Cam");
    std::strcpy(cam.LoginName, "u");
    std::strcpy(cam.LoginPsw, "p");
    Add(cam);
    struct Case {
        std::string body;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"<xml><ret>1</ret></xml>", "Refused", "Cam"},
        {"", "Broken", "Cam"},
        {"<xml><ret>0</ret></xml>", "Porch", "Porch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cloud.Script({devtest::FakeCloud::Http(c.body)});
        Select(devtest::FindDev("C1", c.expected) ? g_lstDevInfo.front().DevName : "Cam");
        TypeInRenameDialog(c.name);
        Panel()->OnRenameAlias();
        EXPECT_STREQ(g_lstDevInfo.front().DevName, c.expected);
    }
    ASSERT_EQ(cloud.Requests().size(), 3u);
    EXPECT_NE(cloud.Requests().back().find("POST /client/setdevname.php"), std::string::npos);
    // Another type in cloud-login mode: nothing asked, nothing changed.
    Add(Dev("G", "N1", "NVR", 4, 0));
    Select("NVR");
    TypeInRenameDialog("X");
    Panel()->OnRenameAlias();
    EXPECT_NE(devtest::FindDev("N1", "NVR"), nullptr);
    EXPECT_EQ(cloud.Requests().size(), 3u);
    SetCloudAccountServer(nullptr, 0);
    SetCloudTimeout(kCloudTimeoutMs);
}

TEST_F(CommandTest, LocalGroupPlayFillsTheGridAndPassesOverTheRest)
{
    for (int i = 0; i < 20; ++i) {
        std::string n = "Cam" + std::to_string(i);
        Add(Dev("G", n.c_str(), n.c_str()));
    }
    g_lstDevInfo.back().Online = 0;
    g_DispInfoSetting.MonitorMode = 0;
    Panel()->RefreshDevTree();
    ASSERT_TRUE(Panel()->SelectGroup("G"));
    Panel()->SendMessage(WM_COMMAND, CDeviceListDlg::ID_AUTO_PLAY_GROUP, 0);
    std::vector<std::string> played;
    for (const std::string& c : host->calls)
        if (c.rfind("AddWatch", 0) == 0)
            played.push_back(c);
    ASSERT_EQ(played.size(), 16u);
    EXPECT_EQ(played.front(), "AddWatch 0 0 Cam0");
    EXPECT_EQ(played.back(), "AddWatch 0 15 Cam15");
}

TEST_F(CommandTest, LocalGroupPlayPlaysTheRowsUnderNodes)
{
    Add(Dev("G", "N1", "NVR", 4, 0)); // no channel rows in this group: nothing to play
    Add(Dev("G", "V", "V-Stream1", 0));
    Add(Dev("G", "V", "V-Stream2", 0));
    DeviceInfo cam = Dev("G", "C", "Cam");
    std::strcpy(cam.DefRes, "cif");
    Add(cam);
    g_bVideoTab = 1;
    Panel()->RefreshDevTree();
    ASSERT_TRUE(Panel()->SelectGroup("G"));
    Panel()->OnAutoPlayGroup();
    std::vector<std::string> played;
    for (const std::string& c : host->calls)
        if (c.rfind("AddWatch", 0) == 0)
            played.push_back(c);
    EXPECT_EQ(played, (std::vector<std::string>{"AddWatch 0 0 V-Stream1", "AddWatch 0 1 V-Stream2",
                                                "AddWatch 0 2 Cam"}));
    EXPECT_STREQ(devtest::FindDev("C", "Cam")->Resolution, "cif");
}

} // namespace
