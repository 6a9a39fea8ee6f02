// The record search page hosted in a test window and driven through its
// controls; device searches go to the device simulator through the
// device-control component and come back through its event sink.
#include "playback_test_util.h"

#include "controls/control_registry.h"
#include "controls/journal.h"
#include "controls/ts_relay.h"
#include "core/userinfo.h"
#include "media/aux_ptz_events.h"
#include "media/control_wrappers.h"
#include "media/sink_targets.h"
#include "platform/paths.h"
#include "playback/search_rec_dlg.h"
#include "tests/media/sink_test_util.h"
#include "tests/support/scoped_env.h"
#include "ui/report_ctrl.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QTemporaryDir>

#include <fstream>

namespace {

using namespace pbtest;
using auxsinktest::WaitFor;

constexpr int kPort = 5000;

// The page as the sinks reach it.
struct PageTargets : auxsinktest::TestTargets {
    HWND page = nullptr;
    HWND SearchRecWnd() override { return page; }
};

class SearchRecDlgTest : public testing::Test {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        journal = root + "/journal.txt";
        host.Create(nullptr, CRect(0, 0, 1024, 768));
        page = new CSearchRecDlg(&host);
        ASSERT_TRUE(page->Create(CSearchRecDlg::IDD, &host));
        page->MoveWindow(0, 0, 1024, 768);
        targets.page = page->GetSafeHwnd();
        SetMediaSinkTargets(&targets);
        g_DispInfoSetting.LoginType = 0;
    }
    void TearDown() override
    {
        SetMediaSinkTargets(nullptr);
        if (ctrl) {
            ctrl->Unadvise();
            delete ctrl;
        }
        delete page;
        DeviceSimulator::Instance().Clear();
        g_DispInfoSetting.LoginType = 0;
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
    void SetSpan(int y, int m, int d, const QTime& from = QTime(0, 0, 0), const QTime& to = QTime(23, 59, 59))
    {
        Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_START)->setDateTime(QDateTime(QDate(y, m, d), from));
        Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_END)->setDateTime(QDateTime(QDate(y, m, d), to));
    }
    // A choice as the operator makes it (the page hears of it).
    void Choose(UINT id, int index)
    {
        auto* c = Item<QComboBox>(id);
        ASSERT_TRUE(c) << id;
        c->setCurrentIndex(index);
        emit c->activated(index);
        auxsinktest::Pump();
    }
    std::string Status() { return page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_STATUS); }
    int Rows() { return page->ResultList()->GetItemCount(); }
    bool Enabled(UINT id) { return Item(id)->isEnabled(); }
    bool Visible(UINT id) { return !Item(id)->isHidden(); }

    // The device-control component on the simulator, its sink posting to
    // the page. Returns the device's AuxPtzId once it is logged in.
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
        const int32_t id = ctrl->AddDevice(device.address.c_str(), device.port, device.user.c_str(),
                                           device.password.c_str());
        EXPECT_GT(id, 0);
        EXPECT_TRUE(WaitFor([&] {
            for (const auto& r : targets.main.got)
                if (r.msg == WM_DEV_STATUS && int32_t(r.wParam) == id && r.lParam == kDevStatusLoggedIn)
                    return true;
            return false;
        }));
        return id;
    }
    DeviceInfo Online(DeviceInfo d, int32_t auxPtzId)
    {
        d.AuxPtzId = auxPtzId;
        d.pAuxPtzCtrl = ctrl;
        return d;
    }
    static SimDevice SimDev(const char* address, int type = 0)
    {
        SimDevice d;
        d.address = address;
        d.port = kPort;
        d.user = "admin";
        d.password = "pw";
        d.type = type;
        return d;
    }
    // The journal's calls of one name, fields unescaped, without the result.
    std::vector<std::vector<std::string>> Calls(const std::string& name)
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(journal);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f = qelm::Journal::ParseLine(line);
            if (f.size() > 2 && f[0] == "call" && f[1] == name) {
                f.erase(f.begin(), f.begin() + 2);
                f.pop_back();
                out.push_back(f);
            }
        }
        return out;
    }

    QTemporaryDir dir;
    std::string root, journal;
    CWnd host;
    CSearchRecDlg* page = nullptr;
    PageTargets targets;
    auxsinktest::ControlClassesGuard classes;
    CAuxPtzCtrl* ctrl = nullptr;
    CAuxPTZEvents events;
    ListsGuard lists;
};

TEST_F(SearchRecDlgTest, StartsInByFileModeWithTheFormFilled)
{
    auto texts = [&](UINT id) {
        std::vector<std::string> out;
        auto* c = Item<QComboBox>(id);
        for (int i = 0; i < c->count(); ++i)
            out.push_back(c->itemText(i).toStdString());
        return out;
    };
    EXPECT_EQ((std::vector<std::string>{"Local Record", "Front-end Record"}), texts(CSearchRecDlg::IDC_COMBO_SOURCE));
    EXPECT_EQ((std::vector<std::string>{"All", "Schedule Record", "IO Alarm", "Motion Detect"}),
              texts(CSearchRecDlg::IDC_COMBO_RECTYPE));
    EXPECT_EQ((std::vector<std::string>{"Video", "Audio and Video"}), texts(CSearchRecDlg::IDC_COMBO_MEDIA));
    EXPECT_EQ((std::vector<std::string>{"All", "Main Stream", "Sub Stream"}), texts(CSearchRecDlg::IDC_COMBO_STREAM));
    EXPECT_EQ("-1", page->GetDlgItemText(CSearchRecDlg::IDC_EDIT_MINSIZE));
    EXPECT_EQ("-1", page->GetDlgItemText(CSearchRecDlg::IDC_EDIT_MAXSIZE));
    EXPECT_EQ(QTime(0, 0, 0), Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_START)->time());
    EXPECT_EQ(QTime(23, 59, 59), Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_END)->time());
    EXPECT_EQ("Please select device from device list in the left!",
              page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_TARGET));
    EXPECT_EQ(4, page->ResultList()->GetColumnCount());
    EXPECT_EQ("File Path", page->ResultList()->GetColumnHeading(0));
    for (UINT id : {CSearchRecDlg::IDC_BTN_PREV, CSearchRecDlg::IDC_BTN_NEXT, CSearchRecDlg::IDC_BTN_DOWNLOAD,
                    CSearchRecDlg::IDC_BTN_DL_BYTIME, CSearchRecDlg::IDC_BTN_DL_STOP, CSearchRecDlg::IDC_TIME_SYNC,
                    CSearchRecDlg::IDC_BTN_SYNC_PLAY})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Visible(CSearchRecDlg::IDC_LIST_RECORD));
    EXPECT_FALSE(Visible(CSearchRecDlg::IDC_DATE_QUERY));
    EXPECT_EQ(0, page->m_bSearchByDate);
    for (const PlayBackStatus& c : page->m_oPBStatus)
        EXPECT_EQ(-1, c.nIndex);
    for (const RelayDayStatus& r : page->m_oRelayDayStatus)
        EXPECT_EQ(-1, r.nChannel);
}

// The main window builds the page through its factory and forwards clicks
// through the page's interface.
TEST_F(SearchRecDlgTest, FactoryBuildsThePageForTheMainWindow)
{
    RegisterSearchRecPage();
    CDialog* built = CreateRegisteredPage("CSearchRecDlg", &host);
    RegisterPageFactory("CSearchRecDlg", {});
    ASSERT_TRUE(built);
    auto* forwards = dynamic_cast<ISearchRecForwards*>(built);
    ASSERT_TRUE(forwards);
    EXPECT_TRUE(built->GetSafeHwnd());
    DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    forwards->SetSearchDevInfo(&cam);
    EXPECT_EQ("cam1", built->GetDlgItemText(CSearchRecDlg::IDC_STATIC_TARGET));
    delete built;
}

TEST_F(SearchRecDlgTest, SourceAndMediaRules)
{
    auto* media = Item<QComboBox>(CSearchRecDlg::IDC_COMBO_MEDIA);
    auto* stream = Item<QComboBox>(CSearchRecDlg::IDC_COMBO_STREAM);
    Choose(CSearchRecDlg::IDC_COMBO_MEDIA, 1);
    Choose(CSearchRecDlg::IDC_COMBO_SOURCE, 1);
    ASSERT_EQ(3, media->count());
    EXPECT_EQ("Picture", media->itemText(2).toStdString());
    EXPECT_EQ(1, media->currentIndex()) << "the choice is kept";
    Choose(CSearchRecDlg::IDC_COMBO_MEDIA, 2);
    EXPECT_FALSE(stream->isEnabled());
    Choose(CSearchRecDlg::IDC_COMBO_SOURCE, 0);
    EXPECT_EQ(2, media->count());
    EXPECT_EQ(0, media->currentIndex()) << "Picture is not a local choice";
    EXPECT_TRUE(stream->isEnabled());
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_DOWNLOAD));
}

TEST_F(SearchRecDlgTest, ModesAndPanelKeepResultsAndSlots)
{
    const DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    lists.AddPlan("plan", {root + "/d1"}, {lists.AddDevice(cam)});
    WriteBytes(RecFolder(root + "/d1", cam, "Schedule", 2026, 11, 20) + "080000-vv-1.avi", 10);
    DeviceInfo sel = cam;
    page->SetSearchDevInfo(&sel);
    SetSpan(2026, 11, 20);
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    ASSERT_EQ(1, Rows());

    Click(CSearchRecDlg::IDC_BTN_BYDATE);
    EXPECT_EQ(1, page->m_bSearchByDate);
    EXPECT_FALSE(Visible(CSearchRecDlg::IDC_LIST_RECORD));
    EXPECT_TRUE(Visible(CSearchRecDlg::IDC_DATE_QUERY));
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_QUERY)->setDate(QDate(2026, 11, 20));
    page->SetSearchDevInfo(&sel);
    EXPECT_EQ(0, page->m_oPBStatus[0].nIndex);
    EXPECT_EQ(1u, page->m_oPBStatus[0].oDayMap.lstFile.size());

    Click(CSearchRecDlg::IDC_BTN_BYFILE);
    EXPECT_EQ(1, Rows());
    EXPECT_EQ(0, page->m_oPBStatus[0].nIndex);

    // Panel off: nothing of it shows; on again: the current mode only.
    page->ToggleSearchPanel();
    for (UINT id : {CSearchRecDlg::IDC_LIST_RECORD, CSearchRecDlg::IDC_BTN_BYFILE, CSearchRecDlg::IDC_BTN_BYDATE,
                    CSearchRecDlg::IDC_BTN_CUT, CSearchRecDlg::IDC_DATE_QUERY, CSearchRecDlg::IDC_BTN_SEARCH})
        EXPECT_FALSE(Visible(id)) << id;
    page->ToggleSearchPanel();
    EXPECT_TRUE(Visible(CSearchRecDlg::IDC_LIST_RECORD));
    EXPECT_TRUE(Visible(CSearchRecDlg::IDC_BTN_CUT));
    EXPECT_FALSE(Visible(CSearchRecDlg::IDC_DATE_QUERY));
    EXPECT_EQ(1, Rows());
}

TEST_F(SearchRecDlgTest, LocalSearchRefusalsAndEmptyResult)
{
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("Select device to be queried!", page->LastMessage());

    DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    page->SetSearchDevInfo(&cam);
    EXPECT_EQ("cam1", page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_TARGET));
    EXPECT_EQ("Double click record to playback!", page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_HINT));
    SetSpan(2026, 11, 20, QTime(10, 0, 0), QTime(9, 59, 59));
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("Wrong time range,please reset!", page->LastMessage());

    SetSpan(2026, 11, 20, QTime(10, 0, 0), QTime(10, 0, 0)); // start equal to end is a span
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("Without record strategy,the device can't match corresponding storage path!", page->LastMessage());
    EXPECT_EQ("", Status());

    lists.AddPlan("plan", {root + "/d1"}, {lists.AddDevice(cam)});
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("Query result is empty!", page->LastMessage());
    EXPECT_EQ("", Status());
    EXPECT_EQ(0, Rows());

    // While a download runs the target stays.
    page->m_bDownload = 1;
    DeviceInfo other = Device("CAM2", "cam2", 1, "127.0.0.12");
    page->SetSearchDevInfo(&other);
    EXPECT_EQ("cam1", page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_TARGET));
    page->m_bDownload = 0;
}

TEST_F(SearchRecDlgTest, LocalResultsInPagesOfTwenty)
{
    const DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    lists.AddPlan("plan", {root + "/d1"}, {lists.AddDevice(cam)});
    const std::string folder = RecFolder(root + "/d1", cam, "Schedule", 2026, 11, 20);
    for (int i = 0; i < 20; ++i)
        WriteBytes(folder + "08" + (i < 10 ? "0" : "") + std::to_string(i) + "00-vv-1.avi", 10);
    DeviceInfo sel = cam;
    page->SetSearchDevInfo(&sel);
    SetSpan(2026, 11, 20);

    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ(20, Rows());
    EXPECT_EQ("Total 1 Pages, Current Page 1 Pages", Status());
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_NEXT));
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_PREV));

    WriteBytes(folder + "235959-vv-1.avi", 10);
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ(20, Rows());
    EXPECT_EQ("Total 2 Pages, Current Page 1 Pages", Status());
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_PREV));
    Click(CSearchRecDlg::IDC_BTN_NEXT);
    ASSERT_EQ(1, Rows());
    EXPECT_EQ(folder + "235959-vv-1.avi", page->ResultList()->GetItemText(0, 0));
    EXPECT_EQ("10", page->ResultList()->GetItemText(0, 1));
    EXPECT_EQ("Total 2 Pages, Current Page 2 Pages", Status());
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_NEXT));
    Click(CSearchRecDlg::IDC_BTN_PREV);
    EXPECT_EQ(20, Rows());
    EXPECT_EQ(folder + "080000-vv-1.avi", page->ResultList()->GetItemText(0, 0));
    EXPECT_TRUE(Enabled(CSearchRecDlg::IDC_BTN_NEXT));
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_PREV));
}

TEST_F(SearchRecDlgTest, DeviceSearchAsksEveryPageAndListsEachFileOnce)
{
    SimDevice sim = SimDev("127.0.0.21");
    for (int i = 0; i < 45; ++i) {
        char start[32], path[64];
        std::snprintf(start, sizeof start, "20261120 08:%02d:00", i);
        std::snprintf(path, sizeof path, "/mnt/sd/20261120/08%02d00-av-1.mp4", i);
        sim.files.push_back({path, uint64_t(1000 + i), start, 60, 1, 'A', {}});
    }
    const int32_t id = Login(sim);
    DeviceInfo cam = Online(Device("CAM7", "front", 1, "127.0.0.21"), id);
    page->SetSearchDevInfo(&cam);
    SetSpan(2026, 11, 20);
    Choose(CSearchRecDlg::IDC_COMBO_SOURCE, 1);
    Choose(CSearchRecDlg::IDC_COMBO_STREAM, 1);
    Item<QLineEdit>(CSearchRecDlg::IDC_EDIT_MAXSIZE)->setText("1048576");
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_SEARCH);
        ASSERT_TRUE(WaitFor([&] { return Rows() == 45; })) << Rows();
        auxsinktest::Pump();
    }
    const std::string B = "\t\t\t\t\t ";
    std::vector<std::vector<std::string>> expect;
    for (int p = 0; p < 3; ++p)
        expect.push_back({std::to_string(id), "SYSTEM_CONTROL_MESSAGE", "1021", "0",
                          "<REQUEST_PARAM\t\t\t\t     " + B + "StartTime=\"20261120 00:00:00\"" + B +
                              "EndTime=\"20261120 23:59:59\"" + B + "MediaType=\"VIDEO\"" + B + "StreamIndex=\"1\"" +
                              B + "MinSize=\"-1\"" + B + "MaxSize=\"1048576\"" + B + "Page=\"" + std::to_string(p) +
                              "\"\t\t            />"});
    EXPECT_EQ(expect, Calls("CAuxPtzCtrl::WriteAUXStringEx"));
    EXPECT_EQ("/mnt/sd/20261120/080000-av-1.mp4", page->ResultList()->GetItemText(0, 0));
    EXPECT_EQ("1044", page->ResultList()->GetItemText(44, 1));
    EXPECT_EQ("Total: 45", Status());
    EXPECT_TRUE(Enabled(CSearchRecDlg::IDC_BTN_DOWNLOAD));
    EXPECT_FALSE(Enabled(CSearchRecDlg::IDC_BTN_NEXT)) << "all pages came without the paging buttons";

    // The same file twice in an answer, and again in the next: one row.
    const std::string repeat = "<RECORD_FILE FilePath=\"/mnt/sd/x.mp4\" FileLength=\"5\"/>";
    DeviceSimulator::Instance().SetAnswer(sim.address, kPort, 1021,
                                          {0, "<RESPONSE_PARAM FileCount=\"30\">" + repeat + repeat +
                                                  "<RECORD_FILE FilePath=\"/mnt/sd/x.mp4\" FileLength=\"6\"/>"
                                                  "</RESPONSE_PARAM>"});
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    ASSERT_TRUE(WaitFor([&] { return page->m_nDevPageIndex == 2; }));
    EXPECT_EQ(2, Rows()) << "same path with another size is another file";
}

// A device that reports more files than it sends must not keep the page asking.
TEST_F(SearchRecDlgTest, DeviceAnswerWithoutFilesEndsThePaging)
{
    SimDevice sim = SimDev("127.0.0.22");
    sim.answers[1021] = {0, "<RESPONSE_PARAM FileCount=\"1000\"></RESPONSE_PARAM>"};
    const int32_t id = Login(sim);
    DeviceInfo cam = Online(Device("CAM8", "side", 1, "127.0.0.22"), id);
    page->SetSearchDevInfo(&cam);
    Choose(CSearchRecDlg::IDC_COMBO_SOURCE, 1);
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        Click(CSearchRecDlg::IDC_BTN_SEARCH);
        ASSERT_TRUE(WaitFor([&] { return page->m_nDevPageIndex >= 1; }));
        for (int i = 0; i < 5; ++i)
            auxsinktest::Pump();
    }
    EXPECT_EQ(1u, Calls("CAuxPtzCtrl::WriteAUXStringEx").size());
    EXPECT_EQ(1, page->m_nDevPageIndex);
    EXPECT_EQ(0, Rows());
}

TEST_F(SearchRecDlgTest, DeviceSearchFailuresAndRecorderChannels)
{
    // Without a device-control component: only logged, result 0, no message.
    DeviceInfo cam = Device("CAM9", "lost", 1, "127.0.0.23");
    page->SetSearchDevInfo(&cam);
    Choose(CSearchRecDlg::IDC_COMBO_SOURCE, 1);
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("", page->LastMessage());
    EXPECT_EQ("Searching, please waiting...", Status());

    // A component that refuses (the device is not logged in).
    SimDevice sim = SimDev("127.0.0.24");
    Login(sim);
    DeviceInfo gone = Online(Device("CAM10", "gone", 1, "127.0.0.25"), 999);
    page->SetSearchDevInfo(&gone);
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    EXPECT_EQ("Network connect timeout,please re-try!", page->LastMessage());
    EXPECT_EQ("", Status());

    // Answers that are no XML or hold no file.
    EXPECT_EQ(-1, page->OnSearchRemoteRecFileResponse(5, LPARAM(qelm::NewText("garbage"))));
    EXPECT_EQ(0, page->OnSearchRemoteRecFileResponse(5, LPARAM(qelm::NewText("<RESPONSE_PARAM FileCount=\"0\"/>"))));
    EXPECT_EQ("Query result is empty!", page->LastMessage());
}

TEST_F(SearchRecDlgTest, RelaySearchesAreServedOnlyByTheirDevice)
{
    TsSearchRequest req{};
    std::snprintf(req.szName, sizeof req.szName, "00-11:127.0.0.31");
    req.nMedia = 3;
    req.nSource = 0;
    req.nPeer = 77;
    page->QueueRelaySearch(&req, 12, 31);
    const std::string answer = "<RESPONSE_PARAM FileCount=\"30\"><RECORD_FILE FilePath=\"/a.mp4\" FileLength=\"1\"/>"
                               "<RECORD_FILE FilePath=\"/b.mp4\" FileLength=\"22\"/></RESPONSE_PARAM>";
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        // Another device's answer belongs to the page.
        page->OnSearchRemoteRecFileResponse(
            32, LPARAM(qelm::NewText("<RESPONSE_PARAM FileCount=\"1\"><RECORD_FILE FilePath=\"/c.mp4\" "
                                     "FileLength=\"3\"/></RESPONSE_PARAM>")));
        EXPECT_EQ(1u, page->m_lstRelaySearch.size());
        EXPECT_EQ(1, Rows());
        EXPECT_TRUE(Calls("TS_RspReplaySearch").empty());

        page->OnSearchRemoteRecFileResponse(31, LPARAM(qelm::NewText(answer.c_str())));
        EXPECT_TRUE(page->m_lstRelaySearch.empty());
        EXPECT_EQ(1, Rows()) << "the page's list is not touched";
        EXPECT_EQ(1u, page->m_lstRecFile.size()) << "nor its results";

        // A text too long to send is answered as a failure, not left waiting.
        page->QueueRelaySearch(&req, 13, 31);
        std::string big = "<RESPONSE_PARAM FileCount=\"2100\">";
        const std::string path(1000, 'p');
        for (int i = 0; i < 2100; ++i)
            big += "<RECORD_FILE FilePath=\"/" + path + std::to_string(i) + "\" FileLength=\"1\"/>";
        big += "</RESPONSE_PARAM>";
        page->OnSearchRemoteRecFileResponse(31, LPARAM(qelm::NewText(big.c_str())));
        EXPECT_TRUE(page->m_lstRelaySearch.empty());

        // No file: a failure answer.
        page->QueueRelaySearch(&req, 14, 31);
        page->OnSearchRemoteRecFileResponse(31, LPARAM(qelm::NewText("<RESPONSE_PARAM FileCount=\"0\"/>")));
    }
    const auto calls = Calls("TS_RspReplaySearch");
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ((std::vector<std::string>{"0", "77", "12", "00-11:127.0.0.31", "3", "0", "30", "/a.mp4?1|/b.mp4?22|"}),
              calls[0]);
    EXPECT_EQ((std::vector<std::string>{"1", "77", "13", "00-11:127.0.0.31", "3", "0", "0", ""}), calls[1]);
    EXPECT_EQ((std::vector<std::string>{"1", "77", "14", "00-11:127.0.0.31", "3", "0", "0", ""}), calls[2]);
}

TEST_F(SearchRecDlgTest, ByDateSlotsLocalAndRecorderChannels)
{
    SimDevice nvr = SimDev("127.0.0.41", 4);
    nvr.channels = 4;
    nvr.files.push_back({"/nvr/ch3.mp4", 100, "20261120 10:00:00", 120, 3, 'B', {}});
    const int32_t id = Login(nvr);
    DeviceInfo ch2 = Online(Device("NVR1", "Channel-2", 4, "127.0.0.41", 2), id);
    DeviceInfo ch3 = Online(Device("NVR1", "Channel-3", 4, "127.0.0.41", 3), id);
    lists.AddDevice(ch2);
    lists.AddDevice(ch3);

    Click(CSearchRecDlg::IDC_BTN_BYDATE);
    Item<QDateTimeEdit>(CSearchRecDlg::IDC_DATE_QUERY)->setDate(QDate(2026, 11, 20));
    page->m_oRelayDayStatus[1].nIndex = 1; // a relay channel owns row 1
    std::snprintf(page->m_oRelayDayStatus[1].szName, sizeof page->m_oRelayDayStatus[1].szName, "relay");
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        page->SetSearchDevInfo(&ch2);
        page->SetSearchDevInfo(&ch3);
        ASSERT_TRUE(WaitFor([&] { return page->m_oPBStatus[1].oDayMap.szMinuteMap[600] == 'B'; }));
        auxsinktest::Pump();
    }
    const std::string D = "\t\t\t\t\t  ";
    const auto calls = Calls("CAuxPtzCtrl::WriteAUXStringEx");
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ((std::vector<std::string>{std::to_string(id), "NVR_REPLAY_MESSAGE", "3001", "0",
                                        "<REQUEST_PARAM" + D + "ChannelId=\"3\"" + D + "Time=\"20261120\"" + D + "/>"}),
              calls[1]);
    EXPECT_EQ(std::string(1440, 'C'), std::string(page->m_oPBStatus[0].oDayMap.szMinuteMap, 1440))
        << "channel 3's answer fills only its slot";
    EXPECT_EQ(-1, page->m_oRelayDayStatus[1].nIndex);
    EXPECT_STREQ("", page->m_oRelayDayStatus[1].szName);
    EXPECT_EQ(1, page->m_oPBStatus[1].nIndex);
    EXPECT_STREQ("127.0.0.41", page->m_oPBStatus[1].szDevKey);
    EXPECT_EQ("NVR1_Channel-3", page->GetDlgItemText(CSearchRecDlg::IDC_STATIC_NVRCHANNEL));
    EXPECT_STREQ("Channel-3", page->m_oNvrDevInfo.DevName);
    EXPECT_TRUE(Enabled(CSearchRecDlg::IDC_BTN_DL_BYTIME));
    EXPECT_EQ(2, page->m_nNextSlot);

    // The same channel again reuses its slot (and asks again); an over-long
    // map is cut to a day.
    page->SetSearchDevInfo(&ch3);
    EXPECT_EQ(2, page->m_nNextSlot);
    ASSERT_TRUE(WaitFor([&] { return page->m_oPBStatus[1].oDayMap.szMinuteMap[600] == 'B'; }));
    page->OnQueryNVRRecFileResponse(
        WPARAM(id), LPARAM(qelm::NewText(("<RESPONSE_PARAM ChannelId=\"3\" Stream=\"" + std::string(3000, 'A') + "\"/>")
                                             .c_str())));
    EXPECT_EQ(std::string(1440, 'A'), std::string(page->m_oPBStatus[1].oDayMap.szMinuteMap, 1440));
    EXPECT_EQ(-1, page->m_oPBStatus[1].oDayMap.nCurFile);
    EXPECT_EQ(3, page->m_oPBStatus[1].oDayMap.nChannel);

    // With a cloud login a channel that holds a slot is refused.
    g_DispInfoSetting.LoginType = 1;
    page->SetSearchDevInfo(&ch2); // keys its slot by DevId now
    EXPECT_STREQ("NVR1", page->m_oPBStatus[0].szDevKey);
    page->SetSearchDevInfo(&ch2);
    EXPECT_EQ(2, page->m_nNextSlot) << "the counter moved to the slot that would have been used";
    EXPECT_EQ(-1, page->m_oPBStatus[2].nIndex);
}

TEST_F(SearchRecDlgTest, DownloadFolderFollowsTheLastPlanAndStaysUnderRecord)
{
    qelmtest::ScopedEnv data("QELM2_DATA", (root + "/data").c_str());
    DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    DeviceInfo* member = lists.AddDevice(cam);
    lists.AddPlan("first", {root + "/d1"}, {member});
    lists.AddPlan("second", {"", root + "/d2"}, {member});
    page->SetSearchDevInfo(&cam);
    EXPECT_EQ(root + "/d2/Record/cam1/Remotion/", page->m_strDownloadPath);
    EXPECT_TRUE(fs::is_directory(page->m_strDownloadPath));

    DeviceInfo odd = Device("../../escape", "no plan", 1, "127.0.0.12");
    page->SetSearchDevInfo(&odd);
    const std::string path = page->m_strDownloadPath;
    EXPECT_EQ(qelm::DataDir() + "Record/", path.substr(0, qelm::DataDir().size() + 7));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(fs::equivalent(fs::path(path).parent_path().parent_path().parent_path(), root + "/data/Record"))
        << path;
}

TEST_F(SearchRecDlgTest, PicturesAtBothScreenSizes)
{
    const DeviceInfo cam = Device("CAM1", "cam1", 1, "127.0.0.11");
    lists.AddPlan("plan", {root + "/d1"}, {lists.AddDevice(cam)});
    const std::string folder = RecFolder(root + "/d1", cam, "Schedule", 2026, 11, 20);
    for (int i = 0; i < 25; ++i)
        WriteBytes(folder + "09" + (i < 10 ? "0" : "") + std::to_string(i) + "00-av-1.mp4", 1000 + size_t(i));
    DeviceInfo sel = cam;
    page->SetSearchDevInfo(&sel);
    SetSpan(2026, 11, 20);
    Choose(CSearchRecDlg::IDC_COMBO_MEDIA, 1);
    Click(CSearchRecDlg::IDC_BTN_SEARCH);
    const char* shots = std::getenv("QELM2_PLAYBACK_SHOTS");
    for (QSize size : {QSize(1920, 1080), QSize(1024, 768)}) {
        host.resize(size);
        page->MoveWindow(0, 0, size.width(), size.height());
        auxsinktest::Pump();
        const QPixmap picture = page->grab();
        EXPECT_EQ(size, picture.size());
        // The search panel stays inside the page.
        const QRect list = Item(CSearchRecDlg::IDC_LIST_RECORD)->geometry();
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(list)) << size.width();
        if (shots)
            picture.save(QString("%1/search_rec_%2x%3.png").arg(shots).arg(size.width()).arg(size.height()));
    }
    // By date, on the smaller screen.
    Click(CSearchRecDlg::IDC_BTN_BYDATE);
    const QRect date = Item(CSearchRecDlg::IDC_DATE_QUERY)->geometry();
    EXPECT_TRUE(QRect(0, 0, 1024, 768).contains(date));
    if (shots)
        page->grab().save(QString("%1/search_rec_bydate_1024x768.png").arg(shots));
}

} // namespace
