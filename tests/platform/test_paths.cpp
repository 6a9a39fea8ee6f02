// Tests of paths: separators, drive letters, the data folder and the drives.
#include "platform/paths.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <set>

using namespace qelm;

namespace {

using qelmtest::ScopedEnv;

} // namespace

TEST(PathsTest, NormalizePath)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"a\\b\\c.xml", "a/b/c.xml"},
        {"a//b", "a/b"},
        {"a\\\\b/\\c", "a/b/c"},
        {"/abs//Config\\UserInfo.xml", "/abs/Config/UserInfo.xml"},
        {"//server\\share", "/server/share"},
        {"Images\\Bar.BMP", "Images/Bar.BMP"},
        {"dir\\", "dir/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormalizePath(c.in), c.out) << c.in;
}

TEST(PathsTest, ProgramDirAndMakePath)
{
    const std::string& dir = ProgramDir();
    EXPECT_EQ(dir, QCoreApplication::applicationDirPath().toStdString() + "/");
    EXPECT_EQ(MakePath("%s\\Config\\UserInfo.xml", dir.c_str()), dir + "Config/UserInfo.xml");
    EXPECT_EQ(MakePath("%s\\%s-Log\\%04d.txt", "/x/", "Corvane", 7), "/x/Corvane-Log/0007.txt");
}

TEST(PathsTest, DataDirFollowsTheVariable)
{
    {
        ScopedEnv env("QELM2_DATA", nullptr);
        EXPECT_EQ(DataDir(), ProgramDir());
    }
    {
        ScopedEnv env("QELM2_DATA", "/srv/qelm-data");
        EXPECT_EQ(DataDir(), "/srv/qelm-data/");
    }
    {
        ScopedEnv env("QELM2_DATA", "/srv/qelm-data//");
        EXPECT_EQ(DataDir(), "/srv/qelm-data/");
    }
}

TEST(PathsTest, ResolveDrivePath)
{
    ScopedEnv env("QELM2_DATA", "/srv/data");
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"D:\\Record\\x", "/srv/data/Record/x"},
        {"d:/Record//x", "/srv/data/Record/x"},
        {"K:\\Corvane-Log\\", "/srv/data/Corvane-Log/"},
        {"E:\\", "/srv/data/"},
        {"D:", "/srv/data/"},
        {"/var\\rec", "/var/rec"},
        {"Config\\a.xml", "Config/a.xml"},
        {"1:\\x", "1:/x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveDrivePath(c.in), c.out) << c.in;
}

TEST(PathsTest, DriveListFromVariable)
{
    {
        ScopedEnv env("QELM2_DRIVES", "/mnt/a:/mnt/b/::/mnt\\c");
        EXPECT_EQ(DriveList(), (std::vector<std::string>{"/mnt/a/", "/mnt/b/", "/mnt/c/"}));
    }
    {
        ScopedEnv env("QELM2_DRIVES", "/1:/2:/3:/4:/5:/6:/7:/8:/9:/10");
        std::vector<std::string> drives = DriveList();
        ASSERT_EQ(drives.size(), 8u);
        EXPECT_EQ(drives.front(), "/1/");
        EXPECT_EQ(drives.back(), "/8/");
    }
}

// The machine's own mount table: the root filesystem is never a drive of its
// own (recordings would land at "/Record"); the data folder stands in for it.
TEST(PathsTest, DriveListFromMounts)
{
    char tmpl[] = "/tmp/qelm2-drives-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string data = std::string(tmpl) + "/data/";
    ScopedEnv drivesEnv("QELM2_DRIVES", nullptr);
    ScopedEnv dataEnv("QELM2_DATA", data.c_str());
    std::vector<std::string> drives = DriveList();
    EXPECT_LE(drives.size(), 8u);
    std::set<std::string> seen;
    for (const std::string& d : drives) {
        SCOPED_TRACE(d);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d.back(), '/');
        EXPECT_TRUE(seen.insert(d).second) << "listed twice";
        EXPECT_NE(d, "/");
        EXPECT_NE(d, "/proc/");
        EXPECT_NE(d, "/sys/");
        EXPECT_NE(d, "/dev/");
        if (d == data)
            continue; // not created yet: the folder it will be in counts
        struct stat st;
        ASSERT_EQ(stat(d.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    EXPECT_EQ(seen.count(data), 1u) << "the data folder is a drive";
    rmdir(tmpl);
}

// Mount tables made up around folders of the test's own.
TEST(PathsTest, DrivesFromMountTables)
{
    char tmpl[] = "/tmp/qelm2-mounts-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string t = tmpl;
    for (const char* dir : {"/data", "/m1", "/m2", "/ro", "/with space", "/datamnt"})
        ASSERT_EQ(mkdir((t + dir).c_str(), 0755), 0) << dir;
    FILE* f = std::fopen((t + "/hosts").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    const std::string others = "proc /proc proc rw 0 0\n"
                               "/dev/b " + t + "/m1 ext4 rw,relatime 0 0\n"
                               "/dev/c " + t + "/ro ext4 ro,relatime 0 0\n"
                               "tmpfs " + t + "/m2 tmpfs rw 0 0\n"
                               "/dev/d " + t + "/hosts ext4 rw 0 0\n"
                               "/dev/e " + t + "/gone ext4 rw 0 0\n"
                               "/dev/f " + t + "/with\\040space ext4 rw 0 0\n";
    struct Case {
        const char* name;
        std::string table;
        std::string data;
        std::vector<std::string> drives;
    } cases[] = {
        {"root first", "/dev/vda / ext4 rw 0 0\n" + others, t + "/data",
         {t + "/data/", t + "/m1/", t + "/with space/"}},
        {"container root", "overlay / overlay rw 0 0\n" + others, t + "/data/",
         {t + "/data/", t + "/m1/", t + "/with space/"}},
        {"root later", others + "/dev/vda / ext4 rw 0 0\n", t + "/data",
         {t + "/m1/", t + "/with space/", t + "/data/"}},
        {"no root", others, t + "/data", {t + "/data/", t + "/m1/", t + "/with space/"}},
        {"data on a mount of its own, not yet created",
         "/dev/vda / ext4 rw 0 0\n/dev/g " + t + "/datamnt ext4 rw 0 0\n" + others, t + "/datamnt/prog",
         {t + "/datamnt/prog/", t + "/m1/", t + "/with space/"}},
        {"data on a read-only mount", "/dev/vda / ext4 rw 0 0\n/dev/c " + t + "/ro ext4 ro 0 0\n", t + "/ro/x",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.table);
        EXPECT_EQ(DrivesFromMounts(in, c.data), c.drives);
    }

    // At most eight, the data folder among them.
    std::string many = "/dev/vda / ext4 rw 0 0\n";
    for (int i = 0; i < 10; ++i)
        many += "/dev/x " + t + "/m1 ext4 rw 0 0\n/dev/y " + t + "/m2 ext4 rw 0 0\n";
    for (int i = 0; i < 10; ++i) {
        const std::string dir = t + "/n" + std::to_string(i);
        mkdir(dir.c_str(), 0755);
        many += "/dev/z " + dir + " xfs rw 0 0\n";
    }
    std::istringstream in(many);
    const std::vector<std::string> drives = DrivesFromMounts(in, t + "/data");
    EXPECT_EQ(drives, (std::vector<std::string>{t + "/data/", t + "/m1/", t + "/m2/", t + "/n0/", t + "/n1/",
                                                 t + "/n2/", t + "/n3/", t + "/n4/"}));

    std::filesystem::remove_all(t);
}

TEST(PathsTest, FreeSpaceAndSameDrive)
{
    auto space = FreeSpace("/tmp/qelm2-not-there/deeper/still");
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(space->total, 0u);
    EXPECT_LE(space->available, space->total);

    EXPECT_TRUE(SameDrive("/tmp", "/tmp/qelm2-not-there/x"));
    EXPECT_TRUE(SameDrive(ProgramDir(), ProgramDir() + "Config/"));
    EXPECT_FALSE(SameDrive("/proc/self", "/"));
}
