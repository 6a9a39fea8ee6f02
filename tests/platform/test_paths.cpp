// Tests of paths: separators, drive letters, the data folder and the drives.
#include "platform/paths.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <sys/stat.h>

#include <cstdlib>
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

TEST(PathsTest, DriveListFromMounts)
{
    ScopedEnv env("QELM2_DRIVES", nullptr);
    std::vector<std::string> drives = DriveList();
    EXPECT_LE(drives.size(), 8u);
    std::set<std::string> seen;
    for (const std::string& d : drives) {
        SCOPED_TRACE(d);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d.back(), '/');
        struct stat st;
        ASSERT_EQ(stat(d.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_TRUE(seen.insert(d).second) << "listed twice";
        EXPECT_NE(d, "/proc/");
        EXPECT_NE(d, "/sys/");
        EXPECT_NE(d, "/dev/");
    }
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
