// The patrol page and its add-patrol dialog on real windows: slot filling by
// tree clicks and focus, the checks in their order, player duplicates seen
// only in saved tours, relay entries gone while the dialog is open, and the
// message of a save that could not be written.
#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "ptz/add_patrol_dlg.h"
#include "ptz/config_patrol.h"
#include "res/strings.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>

namespace {

DeviceInfo Record(int type, const char* name, const char* id, int channel = 0)
{
    DeviceInfo d;
    std::memset(&d, 0, sizeof d);
    d.DevType = type;
    d.Online = 1;
    d.CurNVRChannel = channel;
    std::strcpy(d.DevName, name);
    std::strcpy(d.DevId, id);
    std::strcpy(d.IPAddr, "10.0.0.7");
    return d;
}

QTreeWidgetItem* Item(QTreeWidget* tree, const char* text)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(0) == QString::fromUtf8(text))
            return *it;
    return nullptr;
}

class PatrolPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_config = m_tmp.path().toStdString() + "/Config/";
        QDir().mkpath(QString::fromStdString(m_config));
        CloseLog();
        SetConfigDir(m_config);
        {
            qelm::CsLock lock(g_csDevList);
            g_lstDevInfo.clear();
            g_lstDevInfo.push_back(Record(1, "Gate", "IPC1"));
            g_lstDevInfo.push_back(Record(1, "Yard", "IPC2"));
            g_lstDevInfo.push_back(Record(1, "Hall", "IPC3"));
            g_lstDevInfo.push_back(Record(4, "Recorder", "NVR1"));
            g_lstDevInfo.push_back(Record(4, "Channel-1", "NVR1", 1));
            g_lstDevInfo.push_back(Record(2, "WallDec", "DEC2"));
            g_lstDevInfo.push_back(Record(5, "BigDec", "DEC5"));
        }
        g_lstRelayServer.clear();
        m_page = std::make_unique<CConfigPatrol>(nullptr);
        m_page->Create(CConfigPatrol::IDD, nullptr);
    }
    void TearDown() override
    {
        m_page.reset();
        g_lstRelayServer.clear();
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.clear();
        SetConfigDir("");
    }

    std::unique_ptr<CAddPatrolDlg> Dialog(int kind, int mode = CAddPatrolDlg::kAdd, int row = 0)
    {
        auto dlg = std::make_unique<CAddPatrolDlg>(kind, mode, row, m_page->PointList(), m_page.get());
        dlg->Create(CAddPatrolDlg::IDD, m_page.get());
        return dlg;
    }
    // The message shown since the last call ("" when none), then hidden.
    std::string TakeMsg()
    {
        CResMsgDlg* box = m_page->MsgBox();
        std::string text;
        if (box->isVisible())
            if (auto* label = box->findChild<QLabel*>("id:1284"))
                text = label->text().toStdString();
        box->hide();
        return text;
    }
    static std::string Slot(CAddPatrolDlg& d, int k) { return d.GetDlgItemText(CAddPatrolDlg::IDC_EDIT_STAY + k); }
    static void Focus(CAddPatrolDlg& d, int k)
    {
        QFocusEvent in(QEvent::FocusIn);
        QApplication::sendEvent(d.GetDlgItem(CAddPatrolDlg::IDC_EDIT_STAY + k), &in);
    }
    static void Click(CAddPatrolDlg& d, const char* text)
    {
        QTreeWidgetItem* item = Item(d.Tree(), text);
        std::string all;
        for (QTreeWidgetItemIterator it(d.Tree()); *it; ++it)
            all += (*it)->text(0).toStdString() + "|";
        ASSERT_NE(item, nullptr) << text << " in " << all;
        d.OnClickDevTree(item);
    }
    std::vector<std::string> Row(int row)
    {
        std::vector<std::string> cells;
        for (int c = 0; c < m_page->PointList()->GetColumnCount(); ++c)
            cells.push_back(m_page->PointList()->GetItemText(row, c));
        return cells;
    }

    QTemporaryDir m_tmp;
    std::string m_config;
    std::unique_ptr<CConfigPatrol> m_page;
};

} // namespace

TEST_F(PatrolPageTest, TreeClicksFillTheLayoutsSlotsInTurnUntilASlotHasTheFocus)
{
    m_page->Tabs()->setCurrentIndex(1);
    auto d = Dialog(2);
    EXPECT_TRUE(d->IsDlgButtonChecked(CAddPatrolDlg::IDC_RADIO_FOUR));
    for (const char* name : {"Gate", "Yard", "Hall"})
        Click(*d, name);
    EXPECT_EQ((std::vector<std::string>{Slot(*d, 1), Slot(*d, 2), Slot(*d, 3), Slot(*d, 4)}),
              (std::vector<std::string>{"Gate", "Yard", "Hall", ""}));
    Click(*d, "NVR1"); // an NVR's own row gives nothing
    EXPECT_EQ(Slot(*d, 4), "");
    Focus(*d, 4);
    Click(*d, "Channel-1");
    Click(*d, "Gate");
    EXPECT_EQ(Slot(*d, 4), "Gate"); // the focused slot takes every further device
    EXPECT_EQ(Slot(*d, 1), "Gate");

    auto big = Dialog(5);
    big->CheckDlgButton(CAddPatrolDlg::IDC_RADIO_FOUR, 0);
    big->CheckDlgButton(CAddPatrolDlg::IDC_RADIO_SIXTEEN, 1);
    big->OnBnClickedLayout(CAddPatrolDlg::IDC_RADIO_SIXTEEN);
    Focus(*big, 12);
    big->CheckDlgButton(CAddPatrolDlg::IDC_RADIO_SIXTEEN, 0);
    big->CheckDlgButton(CAddPatrolDlg::IDC_RADIO_FOUR, 1);
    big->OnBnClickedLayout(CAddPatrolDlg::IDC_RADIO_FOUR);
    EXPECT_EQ(big->FocusedSlot(), 4);
    Click(*big, "Channel-1");
    EXPECT_EQ(Slot(*big, 4), "10.0.0.7:Channel-1");
}

TEST_F(PatrolPageTest, TheChecksComeInOrderAndAcceptedPointsBecomeRows)
{
    m_page->Tabs()->setCurrentIndex(1);
    auto d = Dialog(5);
    const struct {
        const char* stay;
        std::vector<const char*> fill; // slots 1.. of the four-pane layout
        std::wstring message;
        int rows;
    } cases[] = {
        {"", {"Gate"}, LoadResStringW(907), 0},
        {"9", {}, LoadResStringW(912), 0},
        {"10", {"", "", "", ""}, LoadResStringW(908), 0},
        {"10", {"", "Gate", "", " Gate "}, L"Gate" + LoadResStringW(1467), 0},
        {"10", {"Gate", "", "Yard"}, L"", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stay);
        d->SetDlgItemText(CAddPatrolDlg::IDC_EDIT_STAY, c.stay);
        for (int k = 1; k <= 4; ++k)
            d->SetDlgItemText(CAddPatrolDlg::IDC_EDIT_STAY + k, k <= static_cast<int>(c.fill.size()) ? c.fill[k - 1] : "");
        d->OnBnClickedAdd();
        EXPECT_EQ(TakeMsg(), QString::fromStdWString(c.message).toStdString());
        EXPECT_EQ(m_page->PointList()->GetItemCount(), c.rows);
    }
    // Slot 3 on the main stream, slot 1 on the sub stream.
    d->GetDlgItemT<QComboBox>(CAddPatrolDlg::kStreamBoxes[2])->setCurrentIndex(0);
    d->GetDlgItemT<QComboBox>(CAddPatrolDlg::kStreamBoxes[0])->setCurrentIndex(1);
    d->OnBnClickedAdd();
    const auto row = Row(1);
    EXPECT_EQ((std::vector<std::string>(row.begin(), row.begin() + 6)),
              (std::vector<std::string>{"1", "10", "Gate:SubStream", "", "Yard:MainStream", ""}));

    // Editing that row: four panes again, the streams as stored.
    auto edit = Dialog(5, CAddPatrolDlg::kEdit, 1);
    EXPECT_TRUE(edit->IsDlgButtonChecked(CAddPatrolDlg::IDC_RADIO_FOUR));
    EXPECT_EQ(Slot(*edit, 3), "Yard");
    EXPECT_EQ(edit->GetDlgItemT<QComboBox>(CAddPatrolDlg::kStreamBoxes[2])->currentIndex(), 0);
    EXPECT_EQ(edit->GetDlgItemText(CAddPatrolDlg::IDC_EDIT_STAY), "10");
}

TEST_F(PatrolPageTest, PlayerDevicesAreRefusedOnlyWhenASavedTourHasThem)
{
    auto d = Dialog(0);
    EXPECT_FALSE(d->GetDlgItem(CAddPatrolDlg::IDC_RADIO_ONE)->isEnabled());
    Click(*d, "Gate");
    d->OnBnClickedAdd();
    d->OnBnClickedAdd(); // an unsaved row does not count
    EXPECT_EQ(TakeMsg(), "");
    EXPECT_EQ(m_page->PointList()->GetItemCount(), 2);
    m_page->OnBnClickedSave();
    EXPECT_EQ(TakeMsg(), LoadResString(888));
    d->OnBnClickedAdd();
    EXPECT_EQ(TakeMsg(), LoadResString(893));
    EXPECT_EQ(m_page->PointList()->GetItemCount(), 2);

    // Editing a row: no stay time until one is typed.
    auto edit = Dialog(0, CAddPatrolDlg::kEdit, 0);
    EXPECT_EQ(Slot(*edit, 1), "Gate");
    edit->OnBnClickedAdd();
    EXPECT_EQ(TakeMsg(), LoadResString(907));
}

TEST_F(PatrolPageTest, RelayItemsAreResolvedByTheirKeyWhenClicked)
{
    auto entries = std::make_unique<std::list<RelayDevItem>>();
    RelayDevItem cam{};
    cam.Type = 1;
    cam.State = 1;
    std::strcpy(cam.Ip, "10.0.0.20");
    std::strcpy(cam.DevName, "RemoteCam");
    std::strcpy(cam.Mac, "00:11:22:33:44:55");
    RelayDevItem nvr = cam; // the recorder's own entry, then its channel
    nvr.Type = 4;
    std::strcpy(nvr.Ip, "10.0.0.30");
    std::strcpy(nvr.DevName, "RemoteNvr");
    RelayDevItem channel = nvr;
    std::strcpy(channel.DevName, "RemoteNvr-1");
    entries->push_back(cam);
    entries->push_back(nvr);
    entries->push_back(channel);
    g_bVideoTab = 1;
    Qelm2Node server;
    std::strcpy(server.DevName, "Parent");
    server.pDevList = entries.get();
    g_lstRelayServer.push_back(server);

    auto d = Dialog(0);
    ASSERT_NE(Item(d->Tree(), "VSS"), nullptr);
    QTreeWidgetItem* nvrItem = Item(d->Tree(), "RemoteNvr-1");
    ASSERT_NE(nvrItem, nullptr);
    EXPECT_TRUE(d->IsRelayItem(nvrItem));
    d->OnClickDevTree(nvrItem);
    EXPECT_EQ(Slot(*d, 1), "00:11:22:33:44:55:10.0.0.30:RemoteNvr-1");

    // The list changes while the dialog is open: the freed entry is not read.
    QTreeWidgetItem* camItem = Item(d->Tree(), "RemoteCam");
    ASSERT_NE(camItem, nullptr);
    d->SetSlotText("", 1);
    entries->pop_front();
    d->OnClickDevTree(camItem);
    EXPECT_EQ(Slot(*d, 1), "");
    

    auto decoder = Dialog(2); // decoder tours take no relay devices
    decoder->OnClickDevTree(Item(decoder->Tree(), "RemoteNvr-1"));
    EXPECT_EQ(Slot(*decoder, 1), "");
}

TEST_F(PatrolPageTest, ASaveThatCannotBeWrittenSaysSoAndKeepsTheTourInMemory)
{
    auto d = Dialog(0);
    Click(*d, "Gate");
    d->OnBnClickedAdd();
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 32; // a full disk, also for root
    setrlimit(RLIMIT_FSIZE, &small);
    m_page->OnBnClickedSave();
    setrlimit(RLIMIT_FSIZE, &before);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(TakeMsg(), LoadResString(CConfigPatrol::kStrSaveFailed));
    ASSERT_EQ(PatrolTours().size(), 1u);
    EXPECT_STREQ(PatrolTours().front().points[0].DevName[0], "Gate");
}

TEST_F(PatrolPageTest, AddOnTheDecoderTabTakesTheDecodersKindOrTwoWhenItIsGone)
{
    m_page->Tabs()->setCurrentIndex(1);
    m_page->findChild<QListWidget*>("id:1313")->setCurrentRow(1);
    ASSERT_STREQ(m_page->CurrentTarget(), "BigDec");
    // The dialog is modal: it is looked at, then cancelled, from a timer.
    auto nineEnabled = [this] {
        int seen = -1;
        auto* timer = new QTimer(m_page.get());
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, &seen] {
            auto* dlg = dynamic_cast<CAddPatrolDlg*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            seen = dlg->GetDlgItem(CAddPatrolDlg::IDC_RADIO_NINE)->isEnabled() ? 1 : 0;
            timer->stop();
            dlg->EndDialog(IDCANCEL);
        });
        timer->start();
        m_page->OnBnClickedAdd();
        delete timer;
        return seen;
    };
    EXPECT_EQ(nineEnabled(), 1);
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.remove_if([](const DeviceInfo& d) { return std::strcmp(d.DevName, "BigDec") == 0; });
    }
    EXPECT_EQ(nineEnabled(), 0); // deleted since the list was built: kind 2
}
