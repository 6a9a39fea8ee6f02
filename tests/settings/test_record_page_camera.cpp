// The recording page with the real recording scheduler and the RTSP camera
// fixture on 127.0.0.1: the default plan it writes, switching it on and off
// with Modify, and a conflicting plan that leaves the file alone.
#include "settings_test_util.h"

#include "settings/setting_record_dlg.h"
#include "tests/media/rec_test_util.h"

#include <QComboBox>
#include <QTimeEdit>

#include <sys/stat.h>

namespace {

using namespace rectest;

off_t SizeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class RecordPageCamera : public settest::PageTest {
protected:
    void SetUp() override
    {
        PinWallClockToNoon();
        m_clearDevices = false; // RecLists takes its records and their sinks out
        PageTest::SetUp();
    }
    void TearDown() override
    {
        delete page;
        page = nullptr;
        PageTest::TearDown();
        qelm::ResetTestClock();
    }
    bool Recording(DeviceInfo* d)
    {
        return RecLists::Locked([&] { return d->RecFlag == 1; });
    }

    RtspCamera cam;
    SinkEnv env;
    RecTargets targets;
    Drives drives{2};
    RecLists lists{&env.pull};
    CSettingRecordDlg* page = nullptr;
};

TEST_F(RecordPageCamera, DefaultPlanRecordsWhenEnabledAndClosesItsFileWhenDisabled)
{
    ASSERT_TRUE(cam.Running());
    DeviceInfo* d = lists.AddCamera("Gate", "ID1", "127.0.0.1", cam.Port());
    page = new CSettingRecordDlg(host.get());
    page->Create(CSettingRecordDlg::IDD, host.get());
    page->ShowWindow(SW_SHOW);

    // The first opening writes the default plan: off, both drives, the camera.
    std::string file = settest::ReadFile(m_config + "RecInfo.xml");
    EXPECT_NE(file.find("<SchemeName>Default Strategy</SchemeName>"), std::string::npos) << file;
    EXPECT_NE(file.find("<StoragePath1>" + drives.paths[0] + "</StoragePath1>"), std::string::npos) << file;
    EXPECT_NE(file.find("<StoragePath2>" + drives.paths[1] + "</StoragePath2>"), std::string::npos) << file;
    EXPECT_NE(file.find("<OnOff>0</OnOff>"), std::string::npos);
    EXPECT_NE(file.find(">Gate</DevName>"), std::string::npos) << file;

    CRecSchemeManager sched;
    sched.RunPass();
    Pump(300);
    EXPECT_FALSE(Recording(d)) << "a disabled plan records nothing";

    // Enabled: the scheduler starts the camera's recording on the first drive.
    page->GetDlgItemT<QComboBox>(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(1);
    page->OnBnClickedBtnModify();
    EXPECT_NE(settest::ReadFile(m_config + "RecInfo.xml").find("<OnOff>1</OnOff>"), std::string::npos);
    ASSERT_TRUE(WaitFor(
        [&] {
            sched.RunPass();
            return Recording(d);
        },
        20000));
    const std::string folder = TodayFolder(drives.paths[0], "Gate");
    std::string open;
    off_t first = -1;
    ASSERT_TRUE(WaitFor(
        [&] {
            sched.RunPass();
            const auto tmp = FilesEndingIn(folder, ".tmp");
            if (tmp.size() != 1)
                return false;
            open = tmp[0];
            if (first < 0)
                first = SizeOf(open);
            return first >= 0 && SizeOf(open) > first;
        },
        20000))
        << "a recording grows in " << folder;

    // Disabled: Modify stops the recording; the file (the default plan's AVI
    // back end) is finished and decodes.
    page->GetDlgItemT<QComboBox>(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(0);
    page->OnBnClickedBtnModify();
    ASSERT_TRUE(WaitFor(
        [&] {
            sched.RunPass();
            return FilesEndingIn(folder, ".tmp").empty();
        },
        10000))
        << "nothing left in progress";
    EXPECT_FALSE(Recording(d));
    const auto done = FilesEndingIn(folder, ".avi");
    ASSERT_EQ(done.size(), 1u) << [&] {
        std::string all;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(drives.paths[0], ec))
            all += e.path().string() + "\n";
        return all;
    }();
    EXPECT_EQ(mp4test::DecodeErrors(done[0]), "");
    // Modify stops every old member's sinks; sink 1's stop line is the
    // Delete handler's text.
    const std::string log = LogText();
    EXPECT_NE(log.find("CSettingRecordDlg::OnBnClickedBtnDelScheme(): RtspEvent1 Stop Record, DevName=Gate"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("CSettingRecordDlg::OnBnClickedBtnModify(): RtspEvent1 Stop decoder delete stream id="),
              std::string::npos);
    const auto probe = mp4test::Run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + done[0] + "'");
    EXPECT_NE(probe.out.find("video"), std::string::npos) << probe.err;
    Pump(500);
    sched.RunPass();
    EXPECT_TRUE(FilesEndingIn(folder, ".tmp").empty()) << "the disabled plan does not start again";

    // A plan whose every-day period meets the default plan's on the same
    // camera is refused, and the file stays as it was, byte for byte.
    file = settest::ReadFile(m_config + "RecInfo.xml");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, "Night");
    page->OnBnClickedBtnAddScheme();
    EXPECT_EQ(Msg(page->MsgDlg()), "Gate Record time conflict!");
    EXPECT_EQ(settest::ReadFile(m_config + "RecInfo.xml"), file);
    EXPECT_EQ(g_lstRecSchemeInfo.size(), 1u);

    // The default plan moves to the small hours; "Night" takes the camera
    // around the test clock's noon, records, and Delete stops it.
    page->ShowScheme(g_lstRecSchemeInfo.front());
    page->GetDlgItemT<QTimeEdit>(CSettingRecordDlg::kRowEnd(1))->setTime(QTime(1, 0, 0));
    page->OnBnClickedBtnModify();
    ASSERT_EQ(Msg(page->MsgDlg()), "Modify record strategy success!");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, "Night");
    page->GetDlgItemT<QTimeEdit>(CSettingRecordDlg::kRowStart(1))->setTime(QTime(11, 0, 0));
    page->GetDlgItemT<QTimeEdit>(CSettingRecordDlg::kRowEnd(1))->setTime(QTime(13, 0, 0));
    page->GetDlgItemT<QComboBox>(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(1);
    page->OnBnClickedBtnAddScheme();
    ASSERT_EQ(Msg(page->MsgDlg()), "Add record strategy success!");
    ASSERT_TRUE(WaitFor(
        [&] {
            sched.RunPass();
            return RecLists::Locked([&] { return d->RecFlag == 1 && std::string(d->RecSchemeName) == "Night"; }) &&
                   FilesEndingIn(folder, ".tmp").size() == 1;
        },
        20000));
    page->OnBnClickedBtnDelScheme();
    EXPECT_EQ(Msg(page->MsgDlg()), "Remove record strategy success!");
    EXPECT_TRUE(WaitFor([&] { return FilesEndingIn(folder, ".tmp").empty(); }, 10000));
    EXPECT_FALSE(Recording(d));
    EXPECT_EQ(FilesEndingIn(folder, ".avi").size(), 2u);
    EXPECT_NE(LogText().find("CSettingRecordDlg::OnBnClickedBtnDelScheme(): RtspEvent1 Stop decoder delete stream"),
              std::string::npos);
}

} // namespace
