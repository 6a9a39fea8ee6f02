// The recording-plan page: the period and free-space rules, the default
// plan, Add/Modify/Delete with their checks and messages, the trees.
#include "settings_test_util.h"

#include "core/helpers.h"
#include "settings/setting_record_dlg.h"
#include "settings/setting_record_rules.h"
#include "devices/dev_tree.h"
#include "media/rec_targets.h"
#include "tests/support/scoped_env.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTest>
#include <QTreeWidget>

#include <unistd.h>

#include <functional>
#include <map>

namespace {

using settest::MakeDevice;
using settest::PageTest;

constexpr std::uint64_t GiB = 1024ull * 1024ull * 1024ull;

RecTime Seg(int row, int day, const char* from, const char* to)
{
    return RecTime{row, day, ParseTimeOfDay(from), ParseTimeOfDay(to)};
}

RecScheme PlanOf(std::initializer_list<RecTime> segs)
{
    RecScheme p;
    p.lstRecTime = segs;
    return p;
}

TEST(RecordPageRules, TimeConflictIsInclusiveAndDayEightMeetsEveryDay)
{
    struct Case {
        RecTime existing, candidate;
        int expected;
    };
    const Case cases[] = {
        {Seg(1, 8, "08:00:00", "12:00:00"), Seg(1, 2, "11:00:00", "13:00:00"), -1}, // every day meets Monday
        {Seg(1, 2, "11:00:00", "13:00:00"), Seg(1, 8, "08:00:00", "12:00:00"), -1}, // either side may be 8
        {Seg(1, 8, "08:00:00", "12:00:00"), Seg(1, 2, "12:00:01", "13:00:00"), 0},
        {Seg(1, 8, "08:00:00", "12:00:00"), Seg(1, 2, "12:00:00", "13:00:00"), -1}, // touching bounds meet
        {Seg(1, 8, "08:00:00", "12:00:00"), Seg(1, 2, "06:00:00", "08:00:00"), -1},
        {Seg(1, 2, "08:00:00", "12:00:00"), Seg(1, 2, "07:00:00", "13:00:00"), -1}, // candidate covers it
        {Seg(1, 2, "08:00:00", "12:00:00"), Seg(1, 3, "08:00:00", "12:00:00"), 0},  // other day
        {Seg(1, 2, "08:00:00", "12:00:00"), Seg(1, 2, "06:00:00", "07:59:59"), 0},
    };
    for (const Case& c : cases) {
        const RecScheme a = PlanOf({c.existing}), b = PlanOf({c.candidate});
        EXPECT_EQ(CSettingRecordDlg::CheckTimeConflict(&a, &b), c.expected)
            << c.existing.DayOfWeek << " " << FormatTimeOfDay(c.existing.StartTime) << "-"
            << FormatTimeOfDay(c.existing.EndTime) << " vs " << c.candidate.DayOfWeek << " "
            << FormatTimeOfDay(c.candidate.StartTime) << "-" << FormatTimeOfDay(c.candidate.EndTime);
    }
    // Any pair of segments decides.
    const RecScheme a = PlanOf({Seg(1, 3, "01:00:00", "02:00:00"), Seg(2, 5, "10:00:00", "11:00:00")});
    const RecScheme b = PlanOf({Seg(1, 4, "01:00:00", "02:00:00"), Seg(4, 5, "10:30:00", "10:40:00")});
    EXPECT_EQ(CSettingRecordDlg::CheckTimeConflict(&a, &b), -1);
}

TEST(RecordPageRules, FiveWholeGibibytesOfTheFilesystemPass)
{
    struct Case {
        std::optional<std::uint64_t> freeBytes;
        bool passes;
    };
    const Case cases[] = {
        {5 * GiB, true}, {5 * GiB - 1, false}, {6 * GiB - 1, true}, {0, false}, {std::nullopt, false},
    };
    for (const Case& c : cases) {
        recpage::SetVolumeFreeHook([&c](const std::string&) { return c.freeBytes; });
        EXPECT_EQ(recpage::HasFreeSpace("/any"), c.passes) << (c.freeBytes ? *c.freeBytes : 0);
    }
    recpage::SetVolumeFreeHook({});
    // Without the seam the filesystem answers; a missing folder cannot be asked.
    EXPECT_TRUE(recpage::VolumeFreeBytes("/").has_value());
    EXPECT_FALSE(recpage::VolumeFreeBytes("/no/such/folder/here").has_value());
}

TEST(RecordPageRules, SameFolderMeansTheSameDirectory)
{
    QTemporaryDir tmp;
    const std::string a = tmp.path().toStdString() + "/Rec";
    const std::string b = tmp.path().toStdString() + "/rec";
    QDir().mkpath(QString::fromStdString(a));
    QDir().mkpath(QString::fromStdString(b));
    ASSERT_EQ(symlink(a.c_str(), (tmp.path().toStdString() + "/link").c_str()), 0);
    EXPECT_TRUE(recpage::SameFolder(a, a + "/"));
    EXPECT_TRUE(recpage::SameFolder(a, tmp.path().toStdString() + "/link"));
    EXPECT_TRUE(recpage::SameFolder(a, tmp.path().toStdString() + "/./Rec"));
    EXPECT_FALSE(recpage::SameFolder(a, b)) << "two folders that differ in case are two folders";
    EXPECT_FALSE(recpage::SameFolder(a, ""));
}

TEST(RecordPageRules, DeviceItemsTextAndIcon)
{
    DeviceInfo nvrChannel = MakeDevice("NVR7", "Channel-2", 4, 2);
    EXPECT_EQ(recpage::DevItemText(nvrChannel), "NVR7-Channel-2");
    EXPECT_EQ(recpage::DevItemText(MakeDevice("C1", "Gate")), "Gate");
    EXPECT_FALSE(recpage::IsPlayable(MakeDevice("N", "N", 4, 0)));
    EXPECT_FALSE(recpage::IsPlayable(MakeDevice("D", "D", 2)));
    EXPECT_FALSE(recpage::IsPlayable(MakeDevice("D", "D", 5)));
    EXPECT_TRUE(recpage::IsPlayable(nvrChannel));

    struct Case {
        int online, live, rec, image;
    };
    const Case cases[] = {{1, 1, 1, 10}, {1, 1, 0, 7}, {1, 0, 1, 6}, {1, 0, 0, 3}, {0, 1, 1, 2}, {-1, 0, 0, 2}};
    for (const Case& c : cases) {
        DeviceInfo d = MakeDevice("C", "C");
        d.Online = c.online;
        d.WatchFlag = c.live;
        d.RecFlag = c.rec;
        EXPECT_EQ(recpage::DevItemImage(d), c.image) << c.online << c.live << c.rec;
    }
}

class RecordPageTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        for (const char* name : {"D1", "D2", "D3"}) {
            const std::string dir = m_tmp.path().toStdString() + "/" + name + "/";
            QDir().mkpath(QString::fromStdString(dir));
            drives.push_back(dir);
        }
        drivesEnv = std::make_unique<qelmtest::ScopedEnv>(
            "QELM2_DRIVES", (drives[0] + ":" + drives[1] + ":" + drives[2]).c_str());
        recpage::SetVolumeFreeHook([this](const std::string& path) -> std::optional<std::uint64_t> {
            for (const auto& [prefix, bytes] : freeBytes)
                if (path.rfind(prefix, 0) == 0)
                    return bytes;
            return 100 * GiB;
        });
    }
    void TearDown() override
    {
        delete page;
        page = nullptr;
        recpage::SetVolumeFreeHook({});
        drivesEnv.reset();
        PageTest::TearDown();
    }
    void AddDevice(const char* id, const char* name, int type = 1, int channel = 0)
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(MakeDevice(id, name, type, channel));
    }
    void Open()
    {
        page = new CSettingRecordDlg(host.get());
        page->Create(CSettingRecordDlg::IDD, host.get());
        page->ShowWindow(SW_SHOW);
        host->show();
    }
    std::string Msg() const { return PageTest::Msg(page->MsgDlg()); }
    RecScheme* Plan(const std::string& name)
    {
        for (RecScheme* p : g_lstRecSchemeInfo)
            if (p && p->SchemeName == name)
                return p;
        return nullptr;
    }
    QComboBox* Combo(UINT id) { return page->GetDlgItemT<QComboBox>(id); }
    void Row(int row, int dayIndex, const char* from, const char* to)
    {
        page->GetDlgItemT<QCheckBox>(CSettingRecordDlg::kRowCheck[row - 1])->setChecked(true);
        page->GetDlgItemT<QComboBox>(CSettingRecordDlg::kRowDay[row - 1])->setCurrentIndex(dayIndex);
        page->GetDlgItemT<QTimeEdit>(CSettingRecordDlg::kRowStart(row))->setTime(QTime::fromString(from, "HH:mm:ss"));
        page->GetDlgItemT<QTimeEdit>(CSettingRecordDlg::kRowEnd(row))->setTime(QTime::fromString(to, "HH:mm:ss"));
    }
    void ClearRows()
    {
        for (UINT id : CSettingRecordDlg::kRowCheck)
            page->GetDlgItemT<QCheckBox>(id)->setChecked(false);
    }
    // Ticks the items of the all-devices tree whose text is listed.
    void Tick(QTreeWidget* tree, std::initializer_list<const char*> names)
    {
        QTreeWidgetItem* root = tree->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i)
            for (const char* n : names)
                if (root->child(i)->text(0) == n)
                    root->child(i)->setCheckState(0, Qt::Checked);
    }
    std::vector<std::string> Members(QTreeWidget* tree)
    {
        std::vector<std::string> out;
        QTreeWidgetItem* root = tree->topLevelItem(0);
        for (int i = 0; root && i < root->childCount(); ++i)
            out.push_back(root->child(i)->text(0).toStdString());
        return out;
    }
    // The strategy tree holds exactly these devices (through the move buttons).
    void SetMembers(std::initializer_list<const char*> devices)
    {
        QTreeWidgetItem* root = page->SchemeTree()->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i)
            root->child(i)->setCheckState(0, Qt::Checked);
        page->OnBnClickedBtnDelDev();
        page->FillAllDevTree();
        Tick(page->AllDevTree(), devices);
        page->OnBnClickedBtnAddDev();
    }
    void AddPlan(const char* name, std::initializer_list<const char*> devices)
    {
        page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, name);
        SetMembers(devices);
        page->OnBnClickedBtnAddScheme();
    }

    std::vector<std::string> drives;
    std::map<std::string, std::uint64_t> freeBytes;
    std::unique_ptr<qelmtest::ScopedEnv> drivesEnv;
    CSettingRecordDlg* page = nullptr;
};

TEST_F(RecordPageTest, NoDevicesNoDefaultPlan)
{
    Open();
    EXPECT_TRUE(g_lstRecSchemeInfo.empty());
    EXPECT_EQ(page->m_bDefaultSchemeCreated, 0);
    EXPECT_EQ(settest::ReadFile(m_config + "RecInfo.xml").find("RecScheme"), std::string::npos);
}

TEST_F(RecordPageTest, DefaultPlanTakesTheDrivesWithFiveGibibytesAndEveryDevice)
{
    freeBytes[drives[1]] = 5 * GiB - 1; // the second drive falls short by one byte
    freeBytes[drives[2]] = 5 * GiB;
    AddDevice("C1", "Gate");
    AddDevice("NVR", "NVR", 4, 0);
    AddDevice("NVR", "Channel-1", 4, 1);
    AddDevice("DEC", "Decoder", 2);
    Open();
    RecScheme* plan = Plan("Default Strategy");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(page->m_bDefaultSchemeCreated, 1);
    EXPECT_EQ(std::string(plan->StoragePath1), drives[0]);
    EXPECT_EQ(std::string(plan->StoragePath2), drives[2]);
    EXPECT_STREQ(plan->StoragePath3, "");
    EXPECT_EQ((std::vector<int>{plan->OnOff, plan->PreRecTime, plan->RecFileTime, plan->DetRecTime,
                                plan->StorageScheme, plan->StartType, plan->RecAudio, plan->RecStreamType,
                                plan->SaveDate, plan->ReccordType}),
              (std::vector<int>{0, 5, 1800, 60, 1, 0, 0, 1, 0, 0}));
    ASSERT_EQ(plan->lstRecTime.size(), 1u);
    const RecTime seg = plan->lstRecTime.front();
    EXPECT_EQ((std::vector<int>{seg.TimeDuration, seg.DayOfWeek, seg.StartTime, seg.EndTime}),
              (std::vector<int>{1, 8, 0, 86399}));
    // Members are the live records of the playable devices.
    std::vector<std::string> names;
    for (const DeviceInfo* d : plan->lstDev) {
        names.push_back(d->DevName);
        bool listed = false;
        for (const DeviceInfo& r : g_lstDevInfo)
            listed = listed || &r == d;
        EXPECT_TRUE(listed) << d->DevName;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Gate", "Channel-1"}));
    EXPECT_EQ(Members(page->SchemeTree()), (std::vector<std::string>{"Gate", "NVR-Channel-1"}));
    EXPECT_FALSE(page->GetDlgItem(CSettingRecordDlg::IDC_BTN_DELSCHEME)->isEnabled());
    const std::string file = settest::ReadFile(m_config + "RecInfo.xml");
    EXPECT_NE(file.find("<SchemeName>Default Strategy</SchemeName>"), std::string::npos);
    EXPECT_NE(file.find("<OnOff>0</OnOff>"), std::string::npos);
    EXPECT_NE(file.find("Gate"), std::string::npos);
}

TEST_F(RecordPageTest, DevicesAddedLaterJoinOnlyAPlanMadeInThisRun)
{
    AddDevice("C1", "Gate");
    Open();
    ASSERT_EQ(page->m_bDefaultSchemeCreated, 1);
    AddDevice("C2", "Yard");
    page->AddDeviceToDefaultStrategy(g_lstDevInfo.back());
    page->AddDeviceToDefaultStrategy(g_lstDevInfo.back()); // once only
    RecScheme* plan = Plan("Default Strategy");
    ASSERT_EQ(plan->lstDev.size(), 2u);
    EXPECT_EQ(plan->lstDev.back(), &g_lstDevInfo.back());
    // Written at once: reading the file back finds the new member.
    EXPECT_NE(settest::ReadFile(m_config + "RecInfo.xml").find("Yard"), std::string::npos);

    // A second run: the plan comes from the file, the page does not own it.
    delete page;
    page = nullptr;
    {
        qelm::CsLock lock(g_csDevList);
        for (RecScheme* p : g_lstRecSchemeInfo)
            delete p;
        g_lstRecSchemeInfo.clear();
    }
    LoadRecInfo();
    Open();
    EXPECT_EQ(page->m_bDefaultSchemeCreated, 0);
    EXPECT_EQ(page->CurrentSchemeName(), "Default Strategy");
    AddDevice("C3", "Dock");
    page->AddDeviceToDefaultStrategy(g_lstDevInfo.back());
    page->EnsureDefaultStrategy();
    EXPECT_EQ(Plan("Default Strategy")->lstDev.size(), 2u);
    EXPECT_EQ(g_lstRecSchemeInfo.size(), 1u);
}

TEST_F(RecordPageTest, AddReadsTheFormIntoAPlan)
{
    Open();
    AddDevice("C1", "Gate");
    AddDevice("C2", "Yard");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, drives[0].c_str());
    Combo(CSettingRecordDlg::IDC_COMBO_FILETIME)->setCurrentIndex(5);
    Combo(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(1);
    page->CheckDlgButton(CSettingRecordDlg::IDC_CHECK_AUDIO, 1);
    ClearRows();
    Row(2, 7, "08:00:00", "12:00:00");
    Row(5, 1, "10:00:00", "10:00:00"); // start equal to end is accepted
    host->calls.clear();
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, "Night");
    SetMembers({"Gate", "Yard"});
    // Add takes every device of the strategy tree, ticked or not.
    page->SchemeTree()->topLevelItem(0)->child(0)->setCheckState(0, Qt::Unchecked);
    page->OnBnClickedBtnAddScheme();
    EXPECT_EQ(Msg(), "Add record strategy success!");
    RecScheme* plan = Plan("Night");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ((std::vector<int>{plan->OnOff, plan->RecFileTime, plan->RecAudio, plan->SaveDate, plan->RecStreamType}),
              (std::vector<int>{1, 3600, 1, 0, 1}));
    std::vector<std::vector<int>> segs;
    for (const RecTime& t : plan->lstRecTime)
        segs.push_back({t.TimeDuration, t.DayOfWeek, t.StartTime, t.EndTime});
    EXPECT_EQ(segs, (std::vector<std::vector<int>>{{2, 8, 8 * 3600, 12 * 3600}, {5, 2, 36000, 36000}}));
    std::vector<std::string> members;
    for (const DeviceInfo* d : plan->lstDev)
        members.push_back(d->DevName);
    EXPECT_EQ(members, (std::vector<std::string>{"Gate", "Yard"}));
    EXPECT_EQ(page->CurrentSchemeName(), "Night");
    EXPECT_EQ(host->calls, (std::vector<std::string>{"ReloadRecSchemeTree"}));
    EXPECT_NE(settest::ReadFile(m_config + "RecInfo.xml").find("<SchemeName>Night</SchemeName>"), std::string::npos);
}

TEST_F(RecordPageTest, AddAndModifyRefusalsLeaveFileAndListAlone)
{
    Open();
    AddDevice("C1", "Gate");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, drives[0].c_str());
    ClearRows();
    Row(1, 7, "08:00:00", "12:00:00");
    AddPlan("Morning", {"Gate"});
    ASSERT_EQ(Msg(), "Add record strategy success!");
    RecScheme* morning = Plan("Morning");
    ASSERT_NE(morning, nullptr);
    AddPlan("Spare", {});
    ASSERT_NE(Plan("Spare"), nullptr);
    {
        auto* builtin = new RecScheme;
        std::strcpy(builtin->SchemeName, "Default Strategy");
        builtin->lstRecTime.push_back(Seg(1, 8, "00:00:00", "23:59:59"));
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.push_back(builtin);
    }
    SaveRecInfo();

    struct Case {
        const char* text;
        std::function<void()> act;
    };
    auto form = [&](const char* name) {
        page->ShowScheme(morning);
        page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, name);
        page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_DETTIME, "60");
    };
    const Case cases[] = {
        {"Please input strategy name to be added!", [&] { form(""); page->OnBnClickedBtnAddScheme(); }},
        // 200 characters fit the edit; their bytes do not fit the record.
        {"The text is too long, please enter again!", [&] {
             form(QString(200, QChar(0x591C)).toStdString().c_str());
             page->OnBnClickedBtnAddScheme();
         }},
        {"The strategy name already exist!", [&] { form("Morning"); page->OnBnClickedBtnAddScheme(); }},
        {"Please input storage path!", [&] {
             form("Other");
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, "");
             page->OnBnClickedBtnAddScheme();
         }},
        {"Motion detect record time out of range!", [&] {
             form("Other");
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_DETTIME, "9");
             page->OnBnClickedBtnAddScheme();
         }},
        {"Motion detect record time out of range!", [&] {
             form("Other");
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_DETTIME, "abc");
             page->OnBnClickedBtnAddScheme();
         }},
        {"Please set the record time!", [&] { form("Other"); ClearRows(); page->OnBnClickedBtnAddScheme(); }},
        {"Time span3:Wrong record time!", [&] {
             form("Other");
             Row(3, 0, "10:00:00", "09:59:59");
             page->OnBnClickedBtnAddScheme();
         }},
        // The same device in a plan whose periods meet Morning's.
        {"Gate Record time conflict!", [&] {
             form("Evening");
             ClearRows();
             Row(1, 1, "11:00:00", "13:00:00");
             page->OnBnClickedBtnAddScheme();
         }},
        {"Please input strategy name to be modified!", [&] { form(""); page->OnBnClickedBtnModify(); }},
        {"The stratgy name already exist!", [&] { form("Spare"); page->OnBnClickedBtnModify(); }},
        {"Please input storage path", [&] {
             form("Morning");
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, "");
             page->OnBnClickedBtnModify();
         }},
        {"Motion detect record time out of range", [&] {
             form("Morning");
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_DETTIME, "601");
             page->OnBnClickedBtnModify();
         }},
        {"Not allowed to modify default strategy name!", [&] {
             page->ShowScheme(Plan("Default Strategy"));
             page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_NAME, "Default");
             page->OnBnClickedBtnModify();
         }},
    };
    for (const Case& c : cases) {
        const std::string file = settest::ReadFile(m_config + "RecInfo.xml");
        const size_t plans = g_lstRecSchemeInfo.size();
        HideMsg(page->MsgDlg());
        c.act();
        EXPECT_EQ(Msg(), c.text);
        EXPECT_EQ(settest::ReadFile(m_config + "RecInfo.xml"), file) << c.text;
        EXPECT_EQ(g_lstRecSchemeInfo.size(), plans) << c.text;
    }
    EXPECT_EQ(morning->lstRecTime.size(), 1u);
}

TEST_F(RecordPageTest, DeleteKeepsTheFormOnTheDeletedPlanByName)
{
    Open();
    AddDevice("C1", "Gate");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, drives[0].c_str());
    ClearRows();
    Row(1, 1, "01:00:00", "02:00:00");
    AddPlan("Short", {"Gate"});
    ASSERT_NE(Plan("Short"), nullptr);
    EXPECT_TRUE(page->GetDlgItem(CSettingRecordDlg::IDC_BTN_DELSCHEME)->isEnabled());

    page->OnBnClickedBtnDelScheme();
    EXPECT_EQ(Msg(), "Remove record strategy success!");
    EXPECT_EQ(Plan("Short"), nullptr);
    EXPECT_EQ(settest::ReadFile(m_config + "RecInfo.xml").find("Short"), std::string::npos);
    const std::string file = settest::ReadFile(m_config + "RecInfo.xml");

    HideMsg(page->MsgDlg());
    page->OnBnClickedBtnModify();
    EXPECT_EQ(Msg(), "The record strategy to be modified not exist!");
    EXPECT_EQ(settest::ReadFile(m_config + "RecInfo.xml"), file);
    HideMsg(page->MsgDlg());
    page->OnBnClickedBtnDelScheme();
    EXPECT_EQ(Msg(), "Remove record strategy success!");
    EXPECT_TRUE(g_lstRecSchemeInfo.empty());
}

TEST_F(RecordPageTest, ModifyLeavesAnotherPlansRecordingAlone)
{
    Open();
    AddDevice("C1", "Gate");
    AddDevice("C2", "Yard");
    page->SetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1, drives[0].c_str());
    ClearRows();
    Row(1, 1, "01:00:00", "02:00:00");
    AddPlan("Short", {"Gate", "Yard"});
    ASSERT_NE(Plan("Short"), nullptr);
    // Gate records for another plan, Yard for this one.
    DeviceInfo& gate = g_lstDevInfo.front();
    DeviceInfo& yard = g_lstDevInfo.back();
    gate.RecFlag = 1;
    gate.RecTimeDuration = 1;
    std::strcpy(gate.RecSchemeName, "Other");
    yard.RecFlag = 1;
    yard.RecTimeDuration = 1;
    yard.MotionAlarmType = 1;
    std::strcpy(yard.RecSchemeName, "Short");

    page->ShowScheme(Plan("Short"));
    page->OnBnClickedBtnModify();
    EXPECT_EQ(Msg(), "Modify record strategy success!");
    EXPECT_EQ(gate.RecFlag, 1);
    EXPECT_STREQ(gate.RecSchemeName, "Other");
    EXPECT_EQ(yard.RecFlag, 0);
    EXPECT_EQ(yard.MotionAlarmType, 0);
    EXPECT_STREQ(yard.RecSchemeName, "");

    yard.RecFlag = 1;
    std::strcpy(yard.RecSchemeName, "Short");
    page->OnBnClickedBtnDelScheme();
    EXPECT_EQ(gate.RecFlag, 1);
    EXPECT_STREQ(gate.RecSchemeName, "Other");
}

TEST_F(RecordPageTest, ModifyOfTheDefaultPlanSetsTheRecordButtons)
{
    AddDevice("C1", "Gate");
    Open();
    host->calls.clear();
    Combo(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(1);
    page->OnBnClickedBtnModify();
    EXPECT_EQ(Msg(), "Modify record strategy success!");
    EXPECT_EQ(Plan("Default Strategy")->OnOff, 1);
    EXPECT_EQ(host->calls, (std::vector<std::string>{"Caption 253", "Skin 330 0", "ReloadRecSchemeTree"}));
    EXPECT_NE(settest::ReadFile(m_config + "RecInfo.xml").find("<OnOff>1</OnOff>"), std::string::npos);

    host->calls.clear();
    Combo(CSettingRecordDlg::IDC_COMBO_ONOFF)->setCurrentIndex(0);
    page->OnBnClickedBtnModify();
    EXPECT_EQ(host->calls, (std::vector<std::string>{"Caption 252", "Skin 331 0", "ClearDefaultRecordFlag",
                                                     "Skin 331 318", "ReloadRecSchemeTree"}));
}

TEST_F(RecordPageTest, MoveButtonsAndTreeClicks)
{
    AddDevice("C1", "Gate");
    AddDevice("C2", "Yard");
    AddDevice("C3", "Dock");
    Open();
    page->FillAllDevTree();
    QTreeWidget* all = page->AllDevTree();
    QTreeWidget* plan = page->SchemeTree();
    EXPECT_EQ(Members(plan), (std::vector<std::string>{"Gate", "Yard", "Dock"})) << "the default plan shows";

    // Remove only the ticked member; Add only the ticked device, once.
    Tick(plan, {"Yard"});
    page->OnBnClickedBtnDelDev();
    EXPECT_EQ(Members(plan), (std::vector<std::string>{"Gate", "Dock"}));
    Tick(all, {"Yard", "Gate"});
    page->OnBnClickedBtnAddDev();
    EXPECT_EQ(Members(plan), (std::vector<std::string>{"Gate", "Dock", "Yard"}));

    // A click on a parent sets its children to the opposite of its box.
    QTreeWidgetItem* root = all->topLevelItem(0);
    page->OnNMClickTree(all, root, false);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Checked);
    page->OnNMClickTree(all, root, true);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Unchecked);
}

// A mouse click on the root's text (not its box) ticks its children, as the
// box of the root was clear when the click came.
TEST_F(RecordPageTest, MouseClickOnAParentSetsItsChildren)
{
    AddDevice("C1", "Gate");
    AddDevice("C2", "Yard");
    Open();
    page->resize(1200, 800);
    QApplication::processEvents();
    QTreeWidget* tree = page->SchemeTree();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    const QRect text = tree->visualItemRect(root);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(text.right() - 4, text.center().y()));
    EXPECT_EQ(root->checkState(0), Qt::Unchecked);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->checkState(0), Qt::Checked) << i;
    EXPECT_EQ(tree->currentItem(), root);
}

// After Modify the page refreshes its icons once, so the stopped recording
// shows; the refresh message itself re-reads the live records.
TEST_F(RecordPageTest, ModifyRefreshesTheIconsOfStoppedRecordings)
{
    AddDevice("C1", "Gate");
    g_lstDevInfo.front().Online = 1;
    g_lstDevInfo.front().RecFlag = 1;
    std::strcpy(g_lstDevInfo.front().RecSchemeName, "Default Strategy");
    Open();
    QTreeWidgetItem* item = page->SchemeTree()->topLevelItem(0)->child(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(devtree::GetItemImage(item), 6);
    page->OnBnClickedBtnModify();
    EXPECT_EQ(g_lstDevInfo.front().RecFlag, 0);
    EXPECT_TRUE(settest::WaitUntil([&] { return devtree::GetItemImage(item) == 3; }, 10000));

    g_lstDevInfo.front().WatchFlag = 1;
    page->SendMessage(WM_RECPAGE_REFRESH, 0, 0);
    EXPECT_EQ(devtree::GetItemImage(item), 7);
}

TEST_F(RecordPageTest, StartTypeReactions)
{
    Open();
    auto* type = Combo(CSettingRecordDlg::IDC_COMBO_STARTTYPE);
    auto* pre = Combo(CSettingRecordDlg::IDC_COMBO_PRETIME);
    auto* back = Combo(CSettingRecordDlg::IDC_COMBO_RECTYPE);
    back->setCurrentIndex(1);
    type->setCurrentIndex(2);
    page->OnCbnSelchangeStartType();
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_STATIC_DETTIME), "I0 recording duration:");
    EXPECT_EQ(pre->currentText(), "10");
    EXPECT_TRUE(pre->isEnabled());
    EXPECT_EQ(back->currentIndex(), 0);
    EXPECT_FALSE(back->isEnabled());
    EXPECT_TRUE(page->GetDlgItem(CSettingRecordDlg::IDC_EDIT_DETTIME)->isEnabled());
    EXPECT_FALSE(Combo(CSettingRecordDlg::IDC_COMBO_FILETIME)->isEnabled());
    type->setCurrentIndex(1);
    page->OnCbnSelchangeStartType();
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_STATIC_DETTIME), "Detect record time:");
    type->setCurrentIndex(0);
    page->OnCbnSelchangeStartType();
    EXPECT_FALSE(pre->isEnabled());
    EXPECT_EQ(pre->currentText(), "10") << "kept, and stored by Add and Modify";
    EXPECT_TRUE(back->isEnabled());
    EXPECT_TRUE(Combo(CSettingRecordDlg::IDC_COMBO_FILETIME)->isEnabled());
}

TEST_F(RecordPageTest, BrowseChecksSpaceAndFolderIdentity)
{
    Open();
    const std::string small = m_tmp.path().toStdString() + "/small";
    const std::string other = m_tmp.path().toStdString() + "/d1case";
    QDir().mkpath(QString::fromStdString(small));
    QDir().mkpath(QString::fromStdString(other));
    freeBytes[small] = 5 * GiB - 1;
    std::optional<std::string> choice;
    page->SetFolderChooser([&choice](CSettingRecordDlg*) { return choice; });

    choice = drives[0];
    page->OnBnClickedBtnBrowse1();
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH1), drives[0]);
    // Another text for the same folder is the same folder.
    choice = drives[0] + "../D1";
    page->OnBnClickedBtnBrowse2();
    EXPECT_EQ(Msg(), "The storage path exist, please select again!");
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH2), "");
    // A folder whose name differs only in case is another folder.
    const std::string upper = m_tmp.path().toStdString() + "/d1";
    QDir().mkpath(QString::fromStdString(upper));
    choice = upper;
    page->OnBnClickedBtnBrowse2();
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH2), upper);
    // Too little space: the old path stays.
    HideMsg(page->MsgDlg());
    choice = small;
    page->OnBnClickedBtnBrowse2();
    EXPECT_EQ(Msg(), "The storage space less than 5G, please check!");
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH2), upper);
    // A path longer than the plan holds is refused, never cut.
    HideMsg(page->MsgDlg());
    choice = "/" + std::string(1600, 'a');
    page->OnBnClickedBtnBrowse2();
    EXPECT_EQ(Msg(), "The text is too long, please enter again!");
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH2), upper);
    // Cancelled: the path is cleared.
    choice.reset();
    page->OnBnClickedBtnBrowse2();
    EXPECT_EQ(page->GetDlgItemText(CSettingRecordDlg::IDC_EDIT_PATH2), "");
}

TEST_F(RecordPageTest, CloudLoginRecordsTheSubStream)
{
    g_DispInfoSetting.LoginType = 1;
    AddDevice("C1", "Gate");
    Open();
    EXPECT_EQ(Plan("Default Strategy")->RecStreamType, 0);
    auto* stream = Combo(CSettingRecordDlg::IDC_COMBO_STREAM);
    EXPECT_FALSE(stream->isEnabled());
    stream->setCurrentIndex(1);
    page->OnBnClickedBtnModify();
    EXPECT_EQ(Plan("Default Strategy")->RecStreamType, 0);
}

} // namespace
