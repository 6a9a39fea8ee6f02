// The searches of local recordings, on recordings the project's writers make
// at test time in a plan with two storage paths.
#include "playback_test_util.h"

#include "playback/local_rec_search.h"
#include "platform/sync.h"
#include "tests/support/pipe_trap.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

using namespace pbtest;
using recsearch::ByFileFilter;
using recsearch::TimeKey;

class LocalRecSearchTest : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const std::string root = s_dir->path().toStdString();
        s_sp1 = root + "/d1";
        s_sp2 = root + "/d2";
        const DeviceInfo cam = CamRecord(), nvr = NvrRecord();
        const std::string sch1 = RecFolder(s_sp1, cam, "Schedule", 2026, 11, 20);
        WriteMp4(sch1 + "080000-av-1.mp4", 300);
        WriteAvi(sch1 + "100030-vv-2.avi", 61);
        WriteBytes(sch1 + "090000-av-1.mp4.tmp", 500);     // still being written
        WriteBytes(sch1 + "090000-av-1.mp4.tmp.idx", 64);
        WriteBytes(sch1 + "101010-av-1.MP4", 700);         // not a record extension
        WriteAvi(sch1 + "crop_101500.avi", 20);             // a clip saved beside the records
        WriteBytes(sch1 + "240100-vv-1.avi", 300);          // begins after the day's last minute
        WriteMp4(RecFolder(s_sp1, cam, "IO", 2026, 11, 20) + "235900-vv-1.mp4", 300);
        WriteMp4(RecFolder(s_sp2, cam, "Schedule", 2026, 11, 20) + "080000-av-1.mp4", 300);
        WriteBytes(RecFolder(s_sp1, nvr, "Motion", 2026, 11, 20) + "120000-vv-1.avi", 100);
        // A span over the year's end.
        for (auto [y, m, d] : {std::tuple{2026, 11, 14}, {2026, 11, 15}, {2026, 12, 31}, {2027, 1, 10}, {2027, 1, 11}})
            WriteBytes(RecFolder(s_sp1, cam, "Schedule", y, m, d) + "120000-vv-1.avi", 100);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        m_cam = lists.AddDevice(CamRecord());
        m_nvr = lists.AddDevice(NvrRecord());
        lists.AddPlan("plan", {s_sp1, s_sp2}, {m_cam, m_nvr});
    }

    static DeviceInfo CamRecord() { return Device("CAM1", "cam1", 1, "127.0.0.11", 0, "SN-CAM1"); }
    static DeviceInfo NvrRecord() { return Device("NVR1", "Channel-2", 4, "127.0.0.3", 2); }

    static ByFileFilter Day20()
    {
        ByFileFilter f;
        f.startKey = TimeKey(2026, 11, 20, 0, 0, 0);
        f.endKey = TimeKey(2026, 11, 20, 23, 59, 59);
        f.media = 2; // any
        return f;
    }
    // Results as paths below the temporary folder.
    static std::vector<std::string> Rel(const std::list<RecFileItem>& items)
    {
        std::vector<std::string> out;
        const std::string root = s_dir->path().toStdString() + "/";
        for (const RecFileItem& i : items)
            out.push_back(std::string(i.szPath).substr(root.size()));
        return out;
    }

    static QTemporaryDir* s_dir;
    static std::string s_sp1, s_sp2;
    ListsGuard lists;
    DeviceInfo* m_cam = nullptr;
    DeviceInfo* m_nvr = nullptr;
};
QTemporaryDir* LocalRecSearchTest::s_dir = nullptr;
std::string LocalRecSearchTest::s_sp1, LocalRecSearchTest::s_sp2;

constexpr const char* kS1 = "d1/Record/cam1/Local/Schedule/2026/11/20/";
constexpr const char* kIO1 = "d1/Record/cam1/Local/IO/2026/11/20/";
constexpr const char* kS2 = "d2/Record/cam1/Local/Schedule/2026/11/20/";

std::string P(const char* folder, const char* name)
{
    return std::string(folder) + name;
}

TEST_F(LocalRecSearchTest, ByFileFiltersListInDayPathKindOrder)
{
    const uint64_t aviSize = fs::file_size(s_sp1 + "/Record/cam1/Local/Schedule/2026/11/20/100030-vv-2.avi");
    struct Case {
        const char* what;
        std::function<void(ByFileFilter&)> set;
        std::vector<std::string> expect;
    };
    const std::vector<Case> cases = {
        {"all", [](ByFileFilter&) {},
         {P(kS1, "080000-av-1.mp4"), P(kS1, "100030-vv-2.avi"), P(kIO1, "235900-vv-1.mp4"), P(kS2, "080000-av-1.mp4")}},
        {"video only", [](ByFileFilter& f) { f.media = 0; },
         {P(kS1, "100030-vv-2.avi"), P(kIO1, "235900-vv-1.mp4")}},
        {"audio and video", [](ByFileFilter& f) { f.media = 1; },
         {P(kS1, "080000-av-1.mp4"), P(kS2, "080000-av-1.mp4")}},
        {"main stream", [](ByFileFilter& f) { f.stream = 1; },
         {P(kS1, "080000-av-1.mp4"), P(kIO1, "235900-vv-1.mp4"), P(kS2, "080000-av-1.mp4")}},
        {"sub stream", [](ByFileFilter& f) { f.stream = 2; }, {P(kS1, "100030-vv-2.avi")}},
        {"IO only", [](ByFileFilter& f) { f.kind = recsearch::kKindIO; }, {P(kIO1, "235900-vv-1.mp4")}},
        {"motion only", [](ByFileFilter& f) { f.kind = recsearch::kKindMotion; }, {}},
        {"08:00 to 09:00",
         [](ByFileFilter& f) {
             f.startKey = TimeKey(2026, 11, 20, 8, 0, 0);
             f.endKey = TimeKey(2026, 11, 20, 9, 0, 0);
         },
         {P(kS1, "080000-av-1.mp4"), P(kS2, "080000-av-1.mp4")}},
        {"one second after the start",
         [](ByFileFilter& f) { f.startKey = TimeKey(2026, 11, 20, 8, 0, 1); },
         {P(kS1, "100030-vv-2.avi"), P(kIO1, "235900-vv-1.mp4")}},
        {"exact size",
         [aviSize](ByFileFilter& f) { f.minSize = f.maxSize = int64_t(aviSize); },
         {P(kS1, "100030-vv-2.avi")}},
        {"minimum 0",
         [](ByFileFilter& f) { f.minSize = 0; },
         {P(kS1, "080000-av-1.mp4"), P(kS1, "100030-vv-2.avi"), P(kIO1, "235900-vv-1.mp4"), P(kS2, "080000-av-1.mp4")}},
        {"15 November to 10 January",
         [](ByFileFilter& f) {
             f.startKey = TimeKey(2026, 11, 15, 0, 0, 0);
             f.endKey = TimeKey(2027, 1, 10, 23, 59, 59);
         },
         {"d1/Record/cam1/Local/Schedule/2026/11/15/120000-vv-1.avi", P(kS1, "080000-av-1.mp4"),
          P(kS1, "100030-vv-2.avi"), P(kS1, "240100-vv-1.avi"), P(kIO1, "235900-vv-1.mp4"), P(kS2, "080000-av-1.mp4"),
          "d1/Record/cam1/Local/Schedule/2026/12/31/120000-vv-1.avi",
          "d1/Record/cam1/Local/Schedule/2027/1/10/120000-vv-1.avi"}},
    };
    for (const Case& c : cases) {
        ByFileFilter f = Day20();
        c.set(f);
        std::list<RecFileItem> out;
        EXPECT_EQ(0, recsearch::SearchLocalRecFile(CamRecord(), f, out)) << c.what;
        EXPECT_EQ(c.expect, Rel(out)) << c.what;
    }
}

TEST_F(LocalRecSearchTest, ByFileSizesAreDecimalTextAndRecorderChannelsMatchByAddress)
{
    std::list<RecFileItem> out;
    ByFileFilter f = Day20();
    f.stream = 2;
    ASSERT_EQ(0, recsearch::SearchLocalRecFile(CamRecord(), f, out));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(std::to_string(fs::file_size(out.front().szPath)), out.front().szSize);

    // A recorder channel is found by address and channel, whatever its name.
    out.clear();
    DeviceInfo other = NvrRecord();
    std::snprintf(other.DevName, sizeof other.DevName, "renamed");
    ASSERT_EQ(0, recsearch::SearchLocalRecFile(other, Day20(), out));
    EXPECT_EQ(std::vector<std::string>{"d1/Record/NVR1-Channel-2/Local/Motion/2026/11/20/120000-vv-1.avi"}, Rel(out));
    other.CurNVRChannel = 3;
    out.clear();
    EXPECT_EQ(-1, recsearch::SearchLocalRecFile(other, Day20(), out));
    EXPECT_EQ(-1, recsearch::SearchLocalRecFile(Device("X", "nobody", 1, "127.0.0.99"), Day20(), out));
    EXPECT_TRUE(out.empty());
}

TEST_F(LocalRecSearchTest, DayMapMarksPlanAndAlarmMinutesAndListsFilesByName)
{
    RecDayMap map;
    std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.11");
    map.wYear = 2026;
    map.wMonth = 11;
    map.byDay = 20;
    EXPECT_EQ(1, recsearch::SearchLocalRecByDate(map));

    std::string expect(kDayMinutes, 'C');
    for (int m = 480; m <= 484; ++m)
        expect[size_t(m)] = 'A';
    expect[600] = expect[601] = 'A';
    expect[1439] = 'B';
    EXPECT_EQ(expect, std::string(map.szMinuteMap, kDayMinutes));

    std::vector<std::string> files;
    for (const RecDayFile& f : map.lstFile)
        files.push_back(f.strPath.substr(s_dir->path().size() + 1) + " " + std::to_string(f.nDuration) + " " +
                        std::to_string(f.nStartSec));
    EXPECT_EQ((std::vector<std::string>{P(kS1, "080000-av-1.mp4 300 28800"), P(kS2, "080000-av-1.mp4 300 28800"),
                                        P(kS1, "100030-vv-2.avi 61 36030"), P(kIO1, "235900-vv-1.mp4 300 86340")}),
              files);
}

TEST_F(LocalRecSearchTest, DayMapMatchesBySerialThenAddressAndRecorderChannelByLastCharacter)
{
    struct Case {
        const char* key;
        const char* sn;
        int channel;
        size_t files;
    };
    const Case cases[] = {
        {"127.0.0.200", "SN-CAM1", 0, 4}, // serial wins over a wrong address
        {"127.0.0.11", "", 0, 4},
        {"127.0.0.3", "", 2, 1},          // "Channel-2"
        {"127.0.0.3", "", 3, 0},
        {"127.0.0.77", "", 0, 0},
    };
    for (const Case& c : cases) {
        RecDayMap map;
        std::snprintf(map.szKey, sizeof map.szKey, "%s", c.key);
        std::snprintf(map.szDevSN, sizeof map.szDevSN, "%s", c.sn);
        map.nChannel = c.channel;
        map.wYear = 2026;
        map.wMonth = 11;
        map.byDay = 20;
        recsearch::SearchLocalRecByDate(map);
        EXPECT_EQ(c.files, map.lstFile.size()) << c.key << " " << c.channel;
        if (c.files == 1) {
            // An unreadable record is listed with length 0 and marks nothing.
            EXPECT_EQ(0, map.lstFile.front().nDuration);
            EXPECT_EQ(std::string(kDayMinutes, 'C'), std::string(map.szMinuteMap, kDayMinutes));
        }
    }
}

// A saved clip is not a record: its name gives no begin time.
TEST_F(LocalRecSearchTest, NamesWithoutBeginTimeArePassedOver)
{
    RecDayMap map;
    std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.11");
    map.wYear = 2026;
    map.wMonth = 11;
    map.byDay = 20;
    recsearch::SearchLocalRecByDate(map);
    EXPECT_EQ('C', map.szMinuteMap[0]);
    for (const RecDayFile& f : map.lstFile)
        EXPECT_EQ(std::string::npos, f.strPath.find("crop_")) << f.strPath;

    EXPECT_EQ(-1, recsearch::NameStartSeconds("crop_101500.avi"));
    EXPECT_EQ(-1, recsearch::NameStartSeconds("10150.avi"));
    EXPECT_EQ(36030, recsearch::NameStartSeconds("100030-vv-2.avi"));
}

// Device names are user texts: the search looks where the recorder put them.
TEST_F(LocalRecSearchTest, SanitisedDeviceFoldersAreFound)
{
    DeviceInfo odd = Device("ODD", "../odd", 1, "127.0.0.12");
    DeviceInfo* member = lists.AddDevice(odd);
    lists.AddPlan("odd plan", {s_sp2}, {member});
    const std::string folder = RecFolder(s_sp2, odd, "Schedule", 2026, 11, 21);
    WriteBytes(folder + "070000-vv-1.avi", 10);

    ByFileFilter f = Day20();
    f.startKey = TimeKey(2026, 11, 21, 0, 0, 0);
    f.endKey = TimeKey(2026, 11, 21, 23, 59, 59);
    std::list<RecFileItem> out;
    ASSERT_EQ(0, recsearch::SearchLocalRecFile(odd, f, out));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(folder + "070000-vv-1.avi", out.front().szPath);

    RecDayMap map;
    std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.12");
    map.wYear = 2026;
    map.wMonth = 11;
    map.byDay = 21;
    recsearch::SearchLocalRecByDate(map);
    ASSERT_EQ(1u, map.lstFile.size());
    EXPECT_EQ(folder + "070000-vv-1.avi", map.lstFile.front().strPath);
}

// The day search opens every record of the day; the plans' lock is not held
// meanwhile, so a plan change on another thread goes through at once.
TEST_F(LocalRecSearchTest, DaySearchOnAnotherThreadLeavesThePlanLockFree)
{
    std::atomic<int> opened{0};
    std::atomic<bool> lockFree{true};
    recsearch::SetDayScanHook([&](const std::string&) {
        ++opened;
        std::thread planChange([&] {
            if (TryEnterCriticalSection(&g_csDevList)) {
                g_lstRecSchemeInfo.front()->SaveDate = 7;
                LeaveCriticalSection(&g_csDevList);
            } else {
                lockFree = false;
            }
        });
        planChange.join();
    });
    RecDayMap map;
    std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.11");
    map.wYear = 2026;
    map.wMonth = 11;
    map.byDay = 20;
    std::thread relay([&] { recsearch::SearchLocalRecByDate(map); });
    relay.join();
    recsearch::SetDayScanHook(nullptr);
    EXPECT_EQ(4, opened.load());
    EXPECT_TRUE(lockFree.load());
    EXPECT_EQ(7, g_lstRecSchemeInfo.front()->SaveDate);
}

TEST(LocalRecSearchRules, SizeTextsAndNames)
{
    const std::pair<const char*, int64_t> sizes[] = {
        {"-1", -1}, {"0", 0}, {"1048576", 1048576}, {"12abc", 12}, {"abc", 0}, {"", 0},
        {"18446744073709551615", -1}, {"9000000000", 9000000000LL},
    };
    for (auto [text, value] : sizes)
        EXPECT_EQ(value, recsearch::ParseSizeText(text)) << text;

    ByFileFilter any;
    any.media = 2;
    for (const char* name : {"080000-av-1.mp4", "080000-vv-2.avi", "080000-av_2-1.mp4"})
        EXPECT_TRUE(recsearch::NamePassesFilter(name, any)) << name;
    for (const char* name : {"080000-av-1.MP4", "080000-av-1.mp4.tmp", "080000-av-1.mp4.tmp.idx", "080000-av-1.Avi"})
        EXPECT_FALSE(recsearch::NamePassesFilter(name, any)) << name;
    ByFileFilter video;
    video.media = 0;
    EXPECT_TRUE(recsearch::NamePassesFilter("101010-vv-1.mp4", video));
    EXPECT_FALSE(recsearch::NamePassesFilter("101010-av-1.mp4", video));
}

} // namespace

namespace {

// A day folder holding, besides a record, a pipe named like one, a folder
// named like one, and links in and out of the storage folder. Both searches
// finish without waiting on the pipe and list only the record and the link
// that stays inside the storage folder.
TEST_F(LocalRecSearchTest, EntriesThatAreNotRecordFilesAreSkippedNotWaitedOn)
{
    const DeviceInfo cam = CamRecord();
    const std::string day = RecFolder(s_sp1, cam, "Schedule", 2027, 2, 3);
    const std::string outside = s_dir->path().toStdString() + "/elsewhere/";
    fs::create_directories(outside);
    WriteMp4(day + "080000-av-1.mp4", 60);
    WriteMp4(outside + "100000-av-1.mp4", 60);
    const std::string pipe = day + "090000-av-1.mp4";
    ASSERT_TRUE(qelmtest::MakePipe(pipe));
    fs::create_directories(day + "093000-av-1.mp4");
    fs::create_symlink(outside + "100000-av-1.mp4", day + "100000-av-1.mp4");
    fs::create_symlink(day + "080000-av-1.mp4", day + "120000-av-1.mp4");
    fs::create_symlink(outside, s_sp1 + "/Record/cam1/Local/Schedule/2027/2/4");
    fs::copy_file(outside + "100000-av-1.mp4", outside + "130000-av-1.mp4");

    for (int d : {3, 4}) {
        SCOPED_TRACE(d);
        ByFileFilter f;
        f.startKey = TimeKey(2027, 2, d, 0, 0, 0);
        f.endKey = TimeKey(2027, 2, d, 23, 59, 59);
        f.media = 2;
        std::list<RecFileItem> out;
        RecDayMap map;
        std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.11");
        map.wYear = 2027;
        map.wMonth = 2;
        map.byDay = d;
        ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(pipe, [&] {
            recsearch::SearchLocalRecFile(cam, f, out);
            recsearch::SearchLocalRecByDate(map);
        })) << "a search waited on a pipe";

        std::vector<std::string> byDay;
        for (const RecDayFile& file : map.lstFile)
            byDay.push_back(file.strPath + " " + std::to_string(file.nDuration));
        if (d == 3) {
            EXPECT_EQ((std::vector<std::string>{"d1/Record/cam1/Local/Schedule/2027/2/3/080000-av-1.mp4",
                                                "d1/Record/cam1/Local/Schedule/2027/2/3/120000-av-1.mp4"}),
                      Rel(out));
            EXPECT_EQ((std::vector<std::string>{day + "080000-av-1.mp4 60", day + "120000-av-1.mp4 60"}), byDay);
        } else {
            // A day folder that is a link out of the storage folder lists nothing.
            EXPECT_TRUE(out.empty()) << Rel(out).front();
            EXPECT_TRUE(byDay.empty()) << byDay.front();
        }
    }
}

} // namespace
