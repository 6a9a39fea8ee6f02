// Tests of the storage cleaner on day folders made by the test, with the free
// space of the test's drives under its control.
#include "media/rec_file_manager.h"

#include "tests/media/rec_test_util.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace {

using namespace rectest;

std::string Day(const std::string& storage, const char* dev, const char* kind, int y, int m, int d)
{
    return storage + "Record/" + dev + "/Local/" + kind + "/" + std::to_string(y) + "/" + std::to_string(m) + "/" +
           std::to_string(d);
}

// A day folder with one record file in it.
std::string MakeDay(const std::string& storage, const char* dev, const char* kind, int y, int m, int d)
{
    const std::string dir = Day(storage, dev, kind, y, m, d);
    fs::create_directories(dir);
    std::ofstream(dir + "/100000-av-1.mp4") << "x";
    return dir;
}

std::string TodayDay(const std::string& storage, const char* dev)
{
    const std::tm t = qelm::LocalNow();
    return MakeDay(storage, dev, "Schedule", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

class RecCleaner : public ::testing::Test {
protected:
    void SetUp() override { PinWallClockToNoon(); }
    void TearDown() override { qelm::ResetTestClock(); }
    SinkEnv env;
    Drives drives{2};
    RecLists lists{&env.pull};
    CRecFileManager cleaner;
};

// Two delete-oldest plans on one drive: the oldest day over both plans'
// devices goes first, in every kind folder, and the walk stops as soon as
// there are 20 GiB again; today's folder and a stop-when-full plan's folders
// on the same drive are never touched.
TEST_F(RecCleaner, DeletesOldestDaysFirstAndStopsWhenEnough)
{
    const std::string d1 = drives.paths[0];
    DeviceInfo* a = lists.AddCamera("A", "IDA", "127.0.0.1", 554);
    DeviceInfo* b = lists.AddCamera("B", "IDB", "127.0.0.1", 554);
    DeviceInfo* c = lists.AddCamera("C", "IDC", "127.0.0.1", 554);
    lists.AddPlan("P1", {a}, {d1});
    lists.AddPlan("P2", {b}, {d1 + "second/"});
    RecScheme* keep = lists.AddPlan("Keep", {c}, {d1});
    RecLists::Locked([&] { return keep->StorageScheme = 0; });

    const std::string oldestMotion = MakeDay(d1 + "second/", "B", "Motion", 2024, 1, 2);
    const std::string oldestIO = MakeDay(d1, "A", "IO", 2024, 1, 2);
    const std::string second = MakeDay(d1, "A", "Schedule", 2024, 1, 3);
    const std::string third = MakeDay(d1, "A", "Schedule", 2024, 2, 1);
    const std::string kept = MakeDay(d1, "C", "Schedule", 2020, 1, 1);
    const std::string today = TodayDay(d1, "A");

    // Enough space: nothing happens.
    drives.SetFree(0, 20 * kGiB);
    cleaner.RunCycle();
    EXPECT_TRUE(fs::exists(oldestMotion));

    // One byte less: the oldest day (both plans) goes; then there is enough.
    drives.SetFree(0, 20 * kGiB - 1);
    qelm::SetFreeBytesHook([&](const std::string&) -> std::optional<std::uint64_t> {
        return fs::exists(oldestMotion) || fs::exists(oldestIO) ? 20 * kGiB - 1 : 20 * kGiB;
    });
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(oldestMotion));
    EXPECT_FALSE(fs::exists(oldestIO));
    EXPECT_TRUE(fs::exists(second)) << "stopped once 20 GiB were free";
    EXPECT_TRUE(fs::exists(kept));

    // A full disk: every past day goes, today's and the other plan's stay.
    qelm::SetFreeBytesHook([](const std::string&) -> std::optional<std::uint64_t> { return kGiB; });
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(second));
    EXPECT_FALSE(fs::exists(third));
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(d1 + "Record/A/Local/Schedule/2024")) << "emptied year folders go at the next scan";
    EXPECT_TRUE(fs::exists(today + "/100000-av-1.mp4"));
    EXPECT_TRUE(fs::exists(kept + "/100000-av-1.mp4"));
}

// Free space counted once per drive: two paths on one drive and a third on
// another; the third drive's space is what makes the plan's total enough.
TEST_F(RecCleaner, EachDriveCountsOnce)
{
    DeviceInfo* a = lists.AddCamera("A", "IDA", "127.0.0.1", 554);
    lists.AddPlan("P1", {a}, {drives.paths[0], drives.paths[0] + "more/", drives.paths[1]});
    const std::string old = MakeDay(drives.paths[0], "A", "Schedule", 2023, 5, 5);
    drives.SetFree(0, 10 * kGiB);   // counted twice it would be enough
    drives.SetFree(1, 9 * kGiB);
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(old));
    MakeDay(drives.paths[0], "A", "Schedule", 2023, 5, 5);
    drives.SetFree(1, 10 * kGiB);
    cleaner.RunCycle();
    EXPECT_TRUE(fs::exists(old));
}

// Without drives of the test's own the data folder is the drive of its
// filesystem: a storage path elsewhere on that filesystem shares its free
// space, so the cleaner does not count it twice.
TEST(RecDrives, PathsOnTheDataFoldersFilesystemShareItsDrive)
{
    mp4test::TempDir root;
    const std::string data = root.path() + "/data/";
    const std::string other = root.path() + "/elsewhere/rec/";
    fs::create_directories(data);
    qelmtest::ScopedEnv drivesEnv("QELM2_DRIVES", nullptr);
    qelmtest::ScopedEnv dataEnv("QELM2_DATA", data.c_str());
    EXPECT_EQ(qelm::DriveKey(data), data);
    EXPECT_EQ(qelm::DriveKey(data + "Record/"), data);
    EXPECT_EQ(qelm::DriveKey(other), data);
    EXPECT_NE(qelm::DriveKey("/proc/self/"), data);
}

// Stray folders: a year "5" is an old day like any other and the walk visits
// only folders that exist; names that are not numbers are left alone;
// symbolic links are removed, never followed.
TEST_F(RecCleaner, StrayFoldersAndLinks)
{
    const std::string d1 = drives.paths[0];
    DeviceInfo* a = lists.AddCamera("A", "IDA", "127.0.0.1", 554);
    lists.AddPlan("P1", {a}, {d1});
    mp4test::TempDir outside;
    std::ofstream(outside.path() + "/precious") << "keep";

    const std::string stray = MakeDay(d1, "A", "Schedule", 5, 1, 1);
    fs::create_directories(d1 + "Record/A/Local/Schedule/notes");
    const std::string withLink = MakeDay(d1, "A", "Schedule", 2022, 3, 4);
    fs::create_symlink(outside.path() + "/precious", withLink + "/link");
    fs::create_symlink(outside.path(), withLink + "/dirlink");
    fs::create_directories(d1 + "Record/A/Local/Schedule/2022/3");
    fs::create_directory_symlink(outside.path(), d1 + "Record/A/Local/Schedule/2022/3/5");

    drives.SetFree(0, kGiB);
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(stray));
    EXPECT_FALSE(fs::exists(withLink));
    EXPECT_TRUE(fs::exists(d1 + "Record/A/Local/Schedule/notes"));
    EXPECT_TRUE(fs::exists(outside.path() + "/precious"));
    EXPECT_TRUE(fs::is_symlink(d1 + "Record/A/Local/Schedule/2022/3/5")) << "a linked day folder is not walked";

    // A device folder that is a link to elsewhere is not walked at all.
    const std::string elsewhere = MakeDay(outside.path() + "/", "X", "Schedule", 2021, 1, 1);
    fs::create_directories(d1 + "Record/B");
    fs::create_directory_symlink(outside.path() + "/Record/X/Local", d1 + "Record/B/Local");
    DeviceInfo* b = lists.AddCamera("B", "IDB", "127.0.0.1", 554);
    lists.AddPlan("P2", {b}, {d1});
    cleaner.RunCycle();
    EXPECT_TRUE(fs::exists(elsewhere + "/100000-av-1.mp4"));
}

// A past day folder whose day number is today's is emptied but kept.
TEST_F(RecCleaner, DeleteDirectoryKeepsAFolderOfTodaysDayNumber)
{
    const std::tm t = qelm::LocalNow();
    const std::string dir = MakeDay(drives.paths[0], "A", "Schedule", 2000, 1, t.tm_mday);
    fs::create_directories(dir + "/sub");
    std::ofstream(dir + "/sub/f") << "x";
    EXPECT_TRUE(CRecFileManager::DeleteDirectory(dir, t.tm_mday));
    EXPECT_TRUE(fs::exists(dir));
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_TRUE(CRecFileManager::DeleteDirectory(dir, 0));
    EXPECT_FALSE(fs::exists(dir));
}

// Measuring and deleting run without the device-list lock.
TEST_F(RecCleaner, WorksOutsideTheDeviceListLock)
{
    DeviceInfo* a = lists.AddCamera("A", "IDA", "127.0.0.1", 554);
    lists.AddPlan("P1", {a}, {drives.paths[0]});
    const std::string old = MakeDay(drives.paths[0], "A", "Schedule", 2023, 5, 5);
    std::atomic<int> calls{0}, blocked{0};
    qelm::SetFreeBytesHook([&](const std::string&) -> std::optional<std::uint64_t> {
        ++calls;
        std::thread other([&] {
            if (TryEnterCriticalSection(&g_csDevList))
                LeaveCriticalSection(&g_csDevList);
            else
                ++blocked;
        });
        other.join();
        return kGiB;
    });
    cleaner.RunCycle();
    EXPECT_FALSE(fs::exists(old));
    EXPECT_GT(calls, 1) << "measured before and after the deletion";
    EXPECT_EQ(blocked, 0);
}

TEST_F(RecCleaner, ThreadStartsOnceAndStops)
{
    EXPECT_EQ(cleaner.Start(), 0);
    EXPECT_EQ(cleaner.Start(), -1);
    cleaner.Stop();
    EXPECT_FALSE(cleaner.IsRunning());
}

} // namespace
