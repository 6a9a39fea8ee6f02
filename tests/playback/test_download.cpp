// Downloads of the record search page: the device queue through the device
// simulator, the relay queue fed from another thread as the relay library
// does, and a recorder span as one MP4 checked with ffprobe.
#include "playback_test_util.h"
#include "tests/support/pipe_trap.h"

#include "controls/control_registry.h"
#include "controls/journal.h"
#include "media/aux_ptz_events.h"
#include "media/control_wrappers.h"
#include "media/sink_targets.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "playback/search_rec_dlg.h"
#include "res/strings.h"
#include "tests/media/sink_test_util.h"
#include "tests/support/scoped_env.h"
#include "ui/gdip_button.h"
#include "ui/report_ctrl.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

namespace {

using namespace pbtest;
using auxsinktest::WaitFor;

constexpr int kPort = 5000;

struct PageTargets : auxsinktest::TestTargets {
    HWND page = nullptr;
    CSearchRecDlg* dlg = nullptr;
    HWND SearchRecWnd() override { return page; }
    void OnTimeDownloadProgress(int32_t id, int32_t value) override
    {
        if (dlg)
            dlg->OnTimeDownloadProgress(id, value);
    }
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteRandom(const std::string& path, size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = char(rng());
    std::ofstream(path, std::ios::binary) << data;
}

// A pipe that a device file reads from: the copy lasts until Close.
class PipeSource {
public:
    explicit PipeSource(std::string path) : m_path(std::move(path))
    {
        std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(mkfifo(m_path.c_str(), 0600), 0);
        m_thread = std::thread([this] {
            std::ofstream out(m_path, std::ios::binary);
            const std::string block(4096, 'p');
            while (m_feed.load() && out) {
                out.write(block.data(), std::streamsize(block.size()));
                out.flush();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~PipeSource() { Close(); }
    void Close()
    {
        m_feed = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::atomic<bool> m_feed{true};
    std::thread m_thread;
};

// The serving client's side of the relay download calls.
struct RelayPeer {
    std::mutex mutex;
    std::vector<std::string> started, stopped;
    std::vector<int> answers;  // per start, in order; 1 when none left
};
RelayPeer* g_peer = nullptr;

int PeerStart(int, const char*, int, int, int, const char* path)
{
    std::lock_guard<std::mutex> lock(g_peer->mutex);
    g_peer->started.push_back(path);
    const size_t n = g_peer->started.size();
    return n <= g_peer->answers.size() ? g_peer->answers[n - 1] : 1;
}

int PeerStop(int, const char*, int, int, const char* path)
{
    std::lock_guard<std::mutex> lock(g_peer->mutex);
    g_peer->stopped.push_back(path);
    return 0;
}

class DownloadTest : public testing::Test {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        journal = root + "/journal.txt";
        // Each test its own download folders: tests run side by side.
        data = std::make_unique<qelmtest::ScopedEnv>("QELM2_DATA", (root + "/data/").c_str());
        host.Create(nullptr, CRect(0, 0, 1024, 768));
        page = new CSearchRecDlg(&host);
        ASSERT_TRUE(page->Create(CSearchRecDlg::IDD, &host));
        page->MoveWindow(0, 0, 1024, 768);
        targets.page = page->GetSafeHwnd();
        targets.dlg = page;
        SetMediaSinkTargets(&targets);
        g_peer = &peer;
        saved = CSearchRecDlg::s_relayDload;
        CSearchRecDlg::s_relayDload = {&PeerStart, &PeerStop};
        fs::create_directories(root + "/src");
    }
    void TearDown() override
    {
        CSearchRecDlg::s_relayDload = saved;
        g_peer = nullptr;
        SetMediaSinkTargets(nullptr);
        delete page;
        if (ctrl) {
            ctrl->Unadvise();
            delete ctrl;
        }
        DeviceSimulator::Instance().Clear();
        qelm::ResetTestClock();
    }

    template <class T = QWidget>
    T* Item(UINT id)
    {
        return dynamic_cast<T*>(page->GetDlgItem(id));
    }
    void Click(UINT id)
    {
        auto* b = Item<QAbstractButton>(id);
        ASSERT_TRUE(b) << id;
        ASSERT_TRUE(b->isEnabled()) << id;
        b->click();
        auxsinktest::Pump();
    }
    CReportCtrl* List() { return page->ResultList(); }
    std::string Cell(int row) { return List()->GetItemText(row, 2); }

    int32_t Login(const SimDevice& device)
    {
        if (!ctrl) {
            qelm::RegisterStandInFactories();
            qelm::EnableControlClass(qelm::kClsidAuxPtz);
            ctrl = new CAuxPtzCtrl;
            EXPECT_TRUE(ctrl->CreateDispatch());
            ctrl->Advise(&events);
        }
        DeviceSimulator::Instance().AddDevice(device);
        const int32_t id =
            ctrl->AddDevice(device.address.c_str(), device.port, device.user.c_str(), device.password.c_str());
        EXPECT_TRUE(WaitFor([&] {
            for (const auto& r : targets.main.got)
                if (r.msg == WM_DEV_STATUS && int32_t(r.wParam) == id && r.lParam == kDevStatusLoggedIn)
                    return true;
            return false;
        }));
        return id;
    }
    static SimDevice SimDev(const char* address, int type = 0)
    {
        SimDevice d;
        d.address = address;
        d.port = kPort;
        d.user = "admin";
        d.password = "pw";
        d.type = type;
        d.channels = type == 4 ? 4 : 1;
        return d;
    }
    // The device's files listed by a front-end search, every row ticked.
    void ListDeviceFiles(const SimDevice& sim, int32_t id)
    {
        DeviceInfo cam = Device("CAM7", "front", 1, sim.address.c_str());
        cam.AuxPtzId = id;
        cam.pAuxPtzCtrl = ctrl;
        page->SetSearchDevInfo(&cam);
        Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_START)->setDateTime(QDateTime(QDate(2026, 11, 20), QTime(0, 0)));
        Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_END)->setDateTime(QDateTime(QDate(2026, 11, 20), QTime(23, 59, 59)));
        auto* source = Item<QComboBox>(CSearchRecDlg::IDC_COMBO_SOURCE);
        source->setCurrentIndex(1);
        emit source->activated(1);
        auxsinktest::Pump();
        Click(CSearchRecDlg::IDC_BTN_SEARCH);
        ASSERT_TRUE(WaitFor([&] { return List()->GetItemCount() == int(sim.files.size()); }));
        Item<QCheckBox>(CSearchRecDlg::IDC_CHECK_ALL)->setChecked(false);
        Click(CSearchRecDlg::IDC_CHECK_ALL);  // ticks it, and with it every row
        for (int r = 0; r < List()->GetItemCount(); ++r)
            EXPECT_TRUE(List()->GetCheck(r));
    }
    int RowOf(const std::string& path)
    {
        for (int r = 0; r < List()->GetItemCount(); ++r)
            if (List()->GetItemText(r, 0) == path)
                return r;
        return -1;
    }
    // The name the result list's double click looks for a device file's copy under.
    std::string CopyOf(const std::string& remote)
    {
        return page->m_strDownloadPath + remote.substr(remote.rfind('/') + 1);
    }
    std::vector<std::vector<std::string>> Calls(const std::string& name)
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(journal);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f = qelm::Journal::ParseLine(line);
            if (f.size() > 2 && f[0] == "call" && f[1] == name)
                out.push_back(std::vector<std::string>(f.begin() + 2, f.end()));
        }
        return out;
    }
    // Answers the next system message box; its text lands in *text.
    void AnswerNextBox(std::string* text)
    {
        auto* timer = new QTimer(page);
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, text] {
            const qelm::MessageBoxInfo box = qelm::LastMessageBox();
            QWidget* w = box.hwnd ? qelm::WidgetFromHandle(box.hwnd) : nullptr;
            if (!w)
                return;
            *text = box.text;
            if (auto* b = w->findChild<QAbstractButton*>(QString("id:%1").arg(IDOK)))
                b->click();
            timer->stop();
            timer->deleteLater();
        });
        timer->start();
    }

    QTemporaryDir dir;
    std::string root, journal;
    std::unique_ptr<qelmtest::ScopedEnv> data;
    CWnd host;
    CSearchRecDlg* page = nullptr;
    PageTargets targets;
    auxsinktest::ControlClassesGuard classes;
    CAuxPtzCtrl* ctrl = nullptr;
    CAuxPTZEvents events;
    ListsGuard lists;
    RelayPeer peer;
    CSearchRecDlg::RelayDloadCalls saved{};
};

TEST(DownloadNames, LocalNamesAndPercentages)
{
    struct {
        const char* remote;
        const char* name;
    } names[] = {
        {"/mnt/sd/rec/0001.mp4", "0001.mp4"},
        {"C:\\Rec\\cam1\\20240101.avi", "20240101.avi"},
        {"/mnt/sd\\odd/x.avi", "x.avi"},
        {"/mnt/sd/rec/", ""},
        {"/mnt/sd/rec/.", ""},
        {"/mnt/sd/rec/..", ""},
        {"C:\\Rec\\..", ""},
        {"", ""},
        {"plain.avi", "plain.avi"},
        {"/mnt/..x", "..x"},
    };
    for (const auto& c : names)
        EXPECT_EQ(c.name, CSearchRecDlg::SafeFileName(c.remote)) << c.remote;

    struct {
        int64_t done, total;
        int32_t percent;
    } percents[] = {
        {40, 100, 40}, {0, 0, 0}, {5, 0, 0}, {999, 1000, 99}, {1000, 1000, 100},
        {INT64_MAX / 2, INT64_MAX, 49}, {INT64_MAX, INT64_MAX, 100},
    };
    for (const auto& c : percents)
        EXPECT_EQ(c.percent, CSearchRecDlg::DownloadPercent(c.done, c.total)) << c.done << "/" << c.total;
}

TEST_F(DownloadTest, DeviceQueueCopiesTickedRowsAndMarksEach)
{
    SimDevice sim = SimDev("127.0.0.31");
    const char* kFiles[] = {"/mnt/sd/20261120/080000-av-1.mp4", "/mnt/sd/20261120/081000-av-1.mp4",
                            "/mnt/sd/20261120/082000-av-1.mp4", "/mnt/sd/20261120/083000-av-1.mp4",
                            "/mnt/sd/20261120/.."};
    for (int i = 0; i < 3; ++i)
        WriteRandom(root + "/src/" + std::to_string(i), size_t(1000 + i * 300000), unsigned(i + 7));
    for (int i = 0; i < 5; ++i) {
        char start[32];
        std::snprintf(start, sizeof start, "20261120 08:%02d:00", i * 10);
        // The fourth has nothing to copy: the device reports a failure.
        sim.files.push_back(
            {kFiles[i], uint64_t(1000), start, 60, 1, 'A', i < 3 ? root + "/src/" + std::to_string(i) : std::string()});
    }
    const int32_t id = Login(sim);
    ListDeviceFiles(sim, id);
    const int failing = RowOf(kFiles[3]), unsafe = RowOf(kFiles[4]);
    ASSERT_GE(failing, 0);
    ASSERT_GE(unsafe, 0);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
        EXPECT_EQ(1, page->m_bDownload);
        EXPECT_EQ(LoadResStringW(464), Item<CGdipButton>(CSearchRecDlg::IDC_BTN_DOWNLOAD)->GetButtonTextW());
        EXPECT_EQ(RC_CHKBOX_DISABLED, List()->GetCheckboxMode());
        for (UINT b : {CSearchRecDlg::IDC_BTN_SEARCH, CSearchRecDlg::IDC_BTN_PREV, CSearchRecDlg::IDC_BTN_NEXT})
            EXPECT_FALSE(Item(b)->isEnabled()) << b;
        ASSERT_TRUE(WaitFor([&] { return page->m_bDownload == 0; }, 30000));
        auxsinktest::Pump();
    }
    EXPECT_EQ(RC_CHKBOX_NORMAL, List()->GetCheckboxMode());
    EXPECT_EQ(LoadResStringW(465), Item<CGdipButton>(CSearchRecDlg::IDC_BTN_DOWNLOAD)->GetButtonTextW());
    EXPECT_TRUE(Item(CSearchRecDlg::IDC_BTN_SEARCH)->isEnabled());
    for (int i = 0; i < 3; ++i) {
        const int row = RowOf(kFiles[i]);
        EXPECT_EQ("Download complete", Cell(row)) << kFiles[i];
        // The double click finds the copy under the name it looks for.
        EXPECT_TRUE(ReadAll(root + "/src/" + std::to_string(i)) == ReadAll(CopyOf(kFiles[i]))) << kFiles[i];
    }
    EXPECT_EQ("Download failed", Cell(failing));
    EXPECT_EQ("Download failed", Cell(unsafe));
    // No download was asked under a name that is not a file of the folder.
    const auto calls = Calls("CAuxPtzCtrl::DownloadFile");
    ASSERT_EQ(4u, calls.size());
    for (const auto& c : calls) {
        EXPECT_EQ(std::to_string(id), c[0]);
        EXPECT_EQ(page->m_strDownloadPath + c[2].substr(c[2].rfind('/') + 1), c[3]);
    }
    // The progress of a device that reports no size reads 0 %.
    page->m_bDownload = 1;
    page->OnDownloadProgress(WPARAM(id), LPARAM(qelm::NewText("<RESPONSE_PARAM start=\"5\" filesize=\"0\"/>")));
    EXPECT_EQ("Downloading... (0%)...", Cell(page->m_nDownloadRow));
    page->OnDownloadProgress(WPARAM(id), LPARAM(qelm::NewText("<RESPONSE_PARAM start=\"40\" filesize=\"100\"/>")));
    EXPECT_EQ("Downloading... (40%)...", Cell(page->m_nDownloadRow));
    page->OnDownloadProgress(WPARAM(id + 1), LPARAM(qelm::NewText("<RESPONSE_PARAM start=\"50\" filesize=\"100\"/>")));
    page->OnDownloadProgress(WPARAM(id), LPARAM(qelm::NewText("<OTHER start=\"50\" filesize=\"100\"/>")));
    page->OnDownloadProgress(WPARAM(id), LPARAM(qelm::NewText("not xml")));
    EXPECT_EQ("Downloading... (40%)...", Cell(page->m_nDownloadRow));
    page->m_bDownload = 0;
}

TEST_F(DownloadTest, StoppingTheDeviceQueueMarksTheRowAndDropsThePartialCopy)
{
    SimDevice sim = SimDev("127.0.0.32");
    PipeSource pipe(root + "/src/pipe");
    sim.files.push_back({"/mnt/sd/20261120/080000-av-1.mp4", 1, "20261120 08:00:00", 60, 1, 'A', pipe.Path()});
    sim.files.push_back({"/mnt/sd/20261120/090000-av-1.mp4", 1, "20261120 09:00:00", 60, 1, 'A', pipe.Path()});
    const int32_t id = Login(sim);
    ListDeviceFiles(sim, id);
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    const int row = page->m_nDownloadRow;
    ASSERT_TRUE(WaitFor([&] { return Cell(row) == "Downloading... (0%)..."; }, 30000)) << Cell(row);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    }
    EXPECT_EQ(0, page->m_bDownload);
    EXPECT_EQ("Stop Download", Cell(row));
    EXPECT_EQ(RC_CHKBOX_NORMAL, List()->GetCheckboxMode());
    EXPECT_EQ(LoadResStringW(465), Item<CGdipButton>(CSearchRecDlg::IDC_BTN_DOWNLOAD)->GetButtonTextW());
    EXPECT_EQ(1u, Calls("CAuxPtzCtrl::StopDownload").size());
    EXPECT_FALSE(fs::exists(CopyOf(List()->GetItemText(row, 0))));
    auxsinktest::Pump();
    EXPECT_EQ("Stop Download", Cell(row)) << "no end event after a stop";

    // An end event of another device, or with no queue running: only logged.
    page->OnTransferEnd(WPARAM(id), 16);
    page->OnTransferEnd(WPARAM(id + 5), 16);
    EXPECT_EQ("Stop Download", Cell(row));
}

TEST_F(DownloadTest, AFollowingFileTheDeviceRefusesIsFailedAndTheQueueGoesOn)
{
    SimDevice sim = SimDev("127.0.0.33");
    PipeSource pipe(root + "/src/pipe");
    for (int i = 0; i < 3; ++i) {
        char path[64], start[32];
        std::snprintf(path, sizeof path, "/mnt/sd/20261120/08%02d00-av-1.mp4", i);
        std::snprintf(start, sizeof start, "20261120 08:%02d:00", i);
        sim.files.push_back({path, 1, start, 60, 1, 'A', pipe.Path()});
    }
    const int32_t id = Login(sim);
    ListDeviceFiles(sim, id);
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    ASSERT_EQ(0, page->m_nDownloadRow);
    // The device goes away; the first file's end then finds the others refused.
    DeviceSimulator::Instance().SetOnline(sim.address, kPort, false);
    auxsinktest::Pump();
    page->OnTransferEnd(WPARAM(id), 16);
    EXPECT_EQ("Download complete", Cell(0));
    EXPECT_EQ("Download failed", Cell(1));
    EXPECT_EQ("Download failed", Cell(2));
    EXPECT_EQ(0, page->m_bDownload) << "nothing is under way: the queue is over";
    EXPECT_EQ(RC_CHKBOX_NORMAL, List()->GetCheckboxMode());
}

TEST_F(DownloadTest, DeviceRefusingTheFirstFileLeavesThePageIdle)
{
    SimDevice sim = SimDev("127.0.0.34");
    sim.files.push_back({"/mnt/sd/20261120/080000-av-1.mp4", 1, "20261120 08:00:00", 60, 1, 'A', ""});
    const int32_t id = Login(sim);
    ListDeviceFiles(sim, id);
    DeviceSimulator::Instance().SetOnline(sim.address, kPort, false);
    auxsinktest::Pump();
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    EXPECT_EQ(0, page->m_bDownload);
    EXPECT_EQ("", Cell(0));
    // With no ticked row nothing happens.
    List()->SetCheck(0, FALSE);
    DeviceSimulator::Instance().SetOnline(sim.address, kPort, true);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    }
    EXPECT_EQ(0, page->m_bDownload);
    EXPECT_TRUE(Calls("CAuxPtzCtrl::DownloadFile").empty());
}

// ---------------------------------------------------------------------------
// Relay

class RelayDownloadTest : public DownloadTest {
public:
    void SetUp() override
    {
        DownloadTest::SetUp();
        page->m_bRelaySource = 1;
        std::snprintf(page->m_oRelayDev.Ip, sizeof page->m_oRelayDev.Ip, "%s", "127.0.0.41");
        std::snprintf(page->m_oRelayDev.Mac, sizeof page->m_oRelayDev.Mac, "%s", "00:11:22:33:44:55");
        page->m_strDownloadPath = root + "/down/";
        fs::create_directories(page->m_strDownloadPath);
        Item(CSearchRecDlg::IDC_BTN_DOWNLOAD)->setEnabled(true);
    }
    void AddRows(const std::vector<std::string>& paths)
    {
        for (const std::string& p : paths) {
            const int row = List()->InsertItem(List()->GetItemCount(), p.c_str());
            List()->SetCheck(row, TRUE);
        }
    }
    // Blocks fed on another thread as the library's callback thread does.
    void Feed(const std::string& path, const std::vector<std::pair<std::string, int>>& blocks, int64_t total)
    {
        std::thread t([&] {
            int64_t received = 0;
            for (const auto& [data, advanceMs] : blocks) {
                qelm::AdvanceTestClock(std::chrono::milliseconds(advanceMs));
                received += int64_t(data.size());
                page->OnRelayDownloadData(data.data(), int32_t(data.size()), received, total, path.c_str());
            }
        });
        t.join();
        auxsinktest::Pump();
    }
};

TEST_F(RelayDownloadTest, FilesGoThroughTmpToAviWithThrottledProgress)
{
    const std::string a = "C:\\Rec\\cam1.d\\20240101.avi", b = "C:\\Rec\\cam1\\20240102.avi";
    AddRows({a, "C:\\Rec\\cam1\\unticked.avi", b});
    List()->SetCheck(1, FALSE);
    int updates = 0;
    QObject::connect(List(), &QTreeWidget::itemChanged, [&](QTreeWidgetItem* item, int column) {
        if (column == 2 && List()->indexOfTopLevelItem(item) == 0 &&
            item->text(2).startsWith(QString::fromStdString(LoadResString(496))))
            ++updates;
    });
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    ASSERT_EQ(std::vector<std::string>{a}, peer.started);
    EXPECT_EQ(1, page->m_bDownload);
    EXPECT_EQ(RC_CHKBOX_DISABLED, List()->GetCheckboxMode());

    // Progress at most every 800 ms: exactly 800 after the last gives none.
    Feed(a, {{"first-", 1000}, {"second-", 800}, {"third-", 1}, {"fourth-", 100}, {"fifth", 800}}, 100);
    EXPECT_EQ(3, updates);
    EXPECT_EQ("Downloading... (31%)...", Cell(0));
    EXPECT_TRUE(fs::exists(root + "/down/20240101.tmp"));

    page->OnRelayDownloadEnd(b.c_str());  // not the file under way
    EXPECT_TRUE(fs::exists(root + "/down/20240101.tmp"));
    page->OnRelayDownloadEnd(a.c_str());
    EXPECT_FALSE(fs::exists(root + "/down/20240101.tmp"));
    EXPECT_EQ("first-second-third-fourth-fifth", ReadAll(root + "/down/20240101.avi"));
    EXPECT_EQ("Download complete", Cell(0));
    EXPECT_EQ((std::vector<std::string>{a, b}), peer.started);
    EXPECT_EQ(2, page->m_nDownloadRow);

    // An earlier copy of the same name stays.
    std::ofstream(root + "/down/20240102.avi") << "earlier";
    Feed(b, {{"new", 1000}}, 0);
    EXPECT_EQ("Downloading... (0%)...", Cell(2)) << "no total: 0 %";
    page->OnRelayDownloadEnd(b.c_str());
    EXPECT_EQ("earlier", ReadAll(root + "/down/20240102.avi"));
    EXPECT_FALSE(fs::exists(root + "/down/20240102.tmp"));
    EXPECT_EQ("Download complete", Cell(2));
    EXPECT_EQ(0, page->m_bDownload);
    EXPECT_EQ(RC_CHKBOX_NORMAL, List()->GetCheckboxMode());
    for (int r = 0; r < 3; ++r)
        EXPECT_NE("Stop Download", Cell(r));
}

TEST_F(RelayDownloadTest, StopClosesAndRemovesTheTmp)
{
    const std::string a = "C:\\Rec\\cam1\\20240101.avi";
    AddRows({a});
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    Feed(a, {{"part", 1000}}, 100);
    ASSERT_TRUE(fs::exists(root + "/down/20240101.tmp"));
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    EXPECT_EQ(std::vector<std::string>{a}, peer.stopped);
    EXPECT_EQ("Stop Download", Cell(0));
    EXPECT_FALSE(page->m_fileDownload);
    EXPECT_FALSE(fs::exists(root + "/down/20240101.tmp"));
    // Blocks still in flight after the stop are dropped.
    Feed(a, {{"late", 1000}}, 100);
    EXPECT_FALSE(fs::exists(root + "/down/20240101.tmp"));
    EXPECT_EQ("Stop Download", Cell(0));

    // The next download starts a file of its own.
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    Feed(a, {{"whole", 1000}}, 5);
    page->OnRelayDownloadEnd(a.c_str());
    EXPECT_EQ("whole", ReadAll(root + "/down/20240101.avi"));
}

TEST_F(RelayDownloadTest, UnwritableOrRefusedFilesEndFailedAndTheQueueGoesOn)
{
    const std::string bad = "C:\\Rec\\cam1\\.avi", refused = "C:\\Rec\\cam1\\r.avi", ok = "C:\\Rec\\cam1\\ok.avi",
                      unwritable = "C:\\Rec\\cam1\\w.avi";
    AddRows({bad, refused, ok, unwritable});
    peer.answers = {1, 0, 1, 1};
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    Feed(bad, {{"x", 1000}}, 1);
    page->OnRelayDownloadEnd(bad.c_str());
    EXPECT_EQ("Download failed", Cell(0)) << "a name that is no file cannot be written";
    EXPECT_EQ("Download failed", Cell(1));
    EXPECT_EQ(2, page->m_nDownloadRow);
    EXPECT_EQ(1, page->m_bDownload);
    Feed(ok, {{"fine", 1000}}, 4);
    // The folder goes away under the next file: its blocks cannot be kept.
    page->OnRelayDownloadEnd(ok.c_str());
    EXPECT_EQ("Download complete", Cell(2));
    fs::remove_all(root + "/down");
    Feed(unwritable, {{"lost", 1000}}, 4);
    page->OnRelayDownloadEnd(unwritable.c_str());
    EXPECT_EQ("Download failed", Cell(3));
    EXPECT_EQ(0, page->m_bDownload);

    // A refused first file changes nothing.
    peer.answers.assign(peer.started.size(), 1);
    peer.answers.push_back(0);
    Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
    EXPECT_EQ(0, page->m_bDownload);
    EXPECT_EQ(RC_CHKBOX_NORMAL, List()->GetCheckboxMode());
}

// A pipe where the download writes (its ".tmp") or where it finishes (the
// ".avi"): neither is waited on, the row ends failed and the received bytes
// are kept under the ".tmp" name.
TEST_F(RelayDownloadTest, PipesInTheDownloadFolderAreNotWaitedOn)
{
    const std::string a = "C:\\Rec\\cam1\\20240101.avi", b = "C:\\Rec\\cam1\\20240102.avi";
    const std::string tmpPipe = root + "/down/20240101.tmp", aviPipe = root + "/down/20240102.avi";
    ASSERT_TRUE(qelmtest::MakePipe(tmpPipe));
    ASSERT_TRUE(qelmtest::MakePipe(aviPipe));
    AddRows({a, b});
    ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn({tmpPipe, aviPipe}, [&] {
        Click(CSearchRecDlg::IDC_BTN_DOWNLOAD);
        Feed(a, {{"lost", 1000}}, 4);
        page->OnRelayDownloadEnd(a.c_str());
        Feed(b, {{"kept", 1000}}, 4);
        page->OnRelayDownloadEnd(b.c_str());
    }));
    EXPECT_EQ("Download failed", Cell(0));
    EXPECT_EQ("Download failed", Cell(1));
    EXPECT_EQ("kept", ReadAll(root + "/down/20240102.tmp"));
    EXPECT_TRUE(fs::is_fifo(aviPipe));
    EXPECT_EQ(0, page->m_bDownload);
}

// ---------------------------------------------------------------------------
// Download by time

bool MakeClip(const std::string& path, int seconds)
{
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -t " +
                            std::to_string(seconds) + " -g 10 -c:v libx264 -pix_fmt yuv420p '" + path + "'";
    return std::system(cmd.c_str()) == 0 && fs::exists(path);
}

double ProbeDuration(const std::string& path)
{
    const std::string cmd = "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    char buf[128] = {};
    const bool got = fgets(buf, sizeof buf, p) != nullptr;
    return pclose(p) == 0 && got ? atof(buf) : -1;
}

TEST_F(DownloadTest, SpanOfARecorderChannelBecomesAnMp4)
{
    ASSERT_TRUE(MakeClip(root + "/src/a.mp4", 10));
    ASSERT_TRUE(MakeClip(root + "/src/b.mp4", 10));
    SimDevice sim = SimDev("127.0.0.35", 4);
    sim.files.push_back({"/rec/2/a.mp4", 1, "20261210 10:00:00", 10, 2, 'A', root + "/src/a.mp4"});
    sim.files.push_back({"/rec/2/b.mp4", 1, "20261210 10:00:10", 10, 2, 'A', root + "/src/b.mp4"});
    const int32_t id = Login(sim);
    DeviceInfo nvr = Device("NVR9", "Channel-2", 4, sim.address.c_str(), 2);
    nvr.AuxPtzId = id;
    nvr.pAuxPtzCtrl = ctrl;
    page->m_oNvrDevInfo = nvr;
    Click(CSearchRecDlg::IDC_BTN_BYDATE);
    Item(CSearchRecDlg::IDC_BTN_DL_BYTIME)->setEnabled(true);
    Item(CSearchRecDlg::IDC_BTN_DL_STOP)->setEnabled(true);
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_QUERY)->setDate(QDate(2026, 12, 10));
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_TIME_DL_START)->setTime(QTime(10, 0, 0));
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_TIME_DL_END)->setTime(QTime(10, 0, 20));
    auto* label = Item<QLabel>(CSearchRecDlg::IDC_STATIC_DLSTATE);
    label->setText("old");
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_DL_BYTIME);
        EXPECT_NE("old", label->text().toStdString());
        ASSERT_TRUE(WaitFor([&] { return label->text() == "100"; }, 60000)) << label->text().toStdString();
    }
    const std::string file = root + "/data/Record/NVR9_Channel-2/Remotion/20261210_100000-100020.mp4";
    const auto calls = Calls("CAuxPtzCtrl::DownloadByTime");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ((std::vector<std::string>{std::to_string(id), "2", "20261210100000", "20261210100020", file, "=0"}),
              calls[0]);
    EXPECT_NEAR(20.0, ProbeDuration(file), 1.15);

    // Progress of another device leaves the label alone.
    page->OnTimeDownloadProgress(id + 1, 7);
    EXPECT_EQ("100", label->text().toStdString());

    // Equal times: message 1479 and nothing sent; a replay under way: 1480.
    std::string box;
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_TIME_DL_END)->setTime(QTime(10, 0, 0));
    AnswerNextBox(&box);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", (root + "/j2.txt").c_str());
        Click(CSearchRecDlg::IDC_BTN_DL_BYTIME);
    }
    EXPECT_EQ(LoadResString(1479), box);
    EXPECT_FALSE(fs::exists(root + "/j2.txt"));
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_TIME_DL_END)->setTime(QTime(10, 0, 20));
    DeviceSimulator::Instance().SetActivity(sim.address, kPort, DeviceSimulator::kActivityNvrReplay, true);
    box.clear();
    AnswerNextBox(&box);
    Click(CSearchRecDlg::IDC_BTN_DL_BYTIME);
    DeviceSimulator::Instance().SetActivity(sim.address, kPort, DeviceSimulator::kActivityNvrReplay, false);
    EXPECT_EQ(LoadResString(1480), box);

    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_DL_STOP);
    }
    const auto stops = Calls("CAuxPtzCtrl::StopDownloadByTime");
    ASSERT_EQ(1u, stops.size());
    EXPECT_EQ(std::to_string(id), stops[0][0]);
    EXPECT_EQ("2", stops[0][1]);
}

} // namespace
