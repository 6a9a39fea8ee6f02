// Tests of the regular-file gate: what a path can hold besides a file, and
// that none of it is ever waited on or followed out of a root.
#include "platform/regular_file.h"

#include <gtest/gtest.h>

#include "tests/support/pipe_trap.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

using namespace qelm;

namespace {

class RegularFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        root = m_dir.path().toStdString() + "/root";
        outside = m_dir.path().toStdString() + "/outside";
        ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
        Write(root + "/file.mp4", "inside");
        Write(outside + "/secret.mp4", "outside");
        ASSERT_TRUE(qelmtest::MakePipe(root + "/pipe.mp4"));
        ASSERT_EQ(::mkdir((root + "/folder.mp4").c_str(), 0755), 0);
        ASSERT_EQ(::symlink((root + "/file.mp4").c_str(), (root + "/in-link.mp4").c_str()), 0);
        ASSERT_EQ(::symlink((outside + "/secret.mp4").c_str(), (root + "/out-link.mp4").c_str()), 0);
        ASSERT_EQ(::symlink((root + "/pipe.mp4").c_str(), (root + "/pipe-link.mp4").c_str()), 0);
        ASSERT_EQ(::symlink((root + "/gone.mp4").c_str(), (root + "/dangling.mp4").c_str()), 0);
        ASSERT_EQ(::symlink(outside.c_str(), (root + "/out-folder").c_str()), 0);
    }
    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    std::string root, outside;

private:
    QTemporaryDir m_dir;
};

TEST_F(RegularFileTest, OnlyRegularFilesOpenAndNothingIsWaitedOn)
{
    struct Case {
        std::string path;
        bool withRoot;
        bool opens;
        const char* content; // what a read finds when it opens
    } cases[] = {
        {root + "/file.mp4", false, true, "inside"},
        {root + "/file.mp4", true, true, "inside"},
        {root + "/in-link.mp4", true, true, "inside"},
        {root + "/out-link.mp4", false, true, "outside"}, // a configuration file may be a link
        {root + "/out-link.mp4", true, false, nullptr},   // a record may not lead out of its storage
        {root + "/out-folder/secret.mp4", true, false, nullptr},
        {root + "/pipe.mp4", false, false, nullptr},
        {root + "/pipe.mp4", true, false, nullptr},
        {root + "/pipe-link.mp4", false, false, nullptr},
        {root + "/folder.mp4", false, false, nullptr},
        {root + "/dangling.mp4", false, false, nullptr},
        {root + "/missing.mp4", false, false, nullptr},
        {"/dev/null", false, false, nullptr},
        {"", false, false, nullptr},
    };
    const std::vector<std::string> pipes{root + "/pipe.mp4"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.withRoot ? " under the root" : ""));
        const std::string r = c.withRoot ? root : std::string();
        bool isFile = false;
        int fd = -1;
        std::string text, why, readWhy;
        bool read = false;
        ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(pipes, [&] {
            isFile = IsRegularFile(c.path, r, &why);
            fd = OpenRegularFile(c.path, O_RDONLY, r);
            if (!c.withRoot)
                read = ReadRegularFile(c.path, text, &readWhy);
        })) << "waited on a pipe";
        EXPECT_EQ(isFile, c.opens) << why;
        EXPECT_EQ(fd >= 0, c.opens);
        if (!c.opens) {
            EXPECT_FALSE(why.empty()) << "a refusal says why";
        }
        if (fd >= 0) {
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "handed over in blocking mode";
            char buf[16] = {};
            EXPECT_EQ(::read(fd, buf, sizeof buf), ssize_t(std::strlen(c.content)));
            EXPECT_STREQ(buf, c.content);
            ::close(fd);
        }
        if (!c.withRoot) {
            EXPECT_EQ(read, c.opens) << readWhy;
            if (read) {
                EXPECT_EQ(text, c.content);
            }
        }
    }
}

TEST_F(RegularFileTest, MissingIsToldApartFromRefused)
{
    std::string why;
    EXPECT_FALSE(IsRegularFile(root + "/missing.mp4", {}, &why));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(IsRegularFile(root + "/folder.mp4", {}, &why));
    EXPECT_NE(errno, ENOENT);
    EXPECT_EQ(why, "a folder");
    EXPECT_FALSE(IsRegularFile(root + "/pipe.mp4", {}, &why));
    EXPECT_EQ(why, "a pipe");
    EXPECT_FALSE(IsRegularFile("/dev/null", {}, &why));
    EXPECT_EQ(why, "a device");
}

TEST_F(RegularFileTest, CreatingWritesOnlyANewOrRegularFile)
{
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {root + "/new.tmp", true},
        {root + "/file.mp4", true}, // truncated and written again
        {root + "/pipe.mp4", false},
        {root + "/in-link.mp4", false}, // a created file never follows a link
        {root + "/out-link.mp4", false},
        {root + "/folder.mp4", false},
    };
    const std::vector<std::string> pipes{root + "/pipe.mp4"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int fd = -1;
        ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(
            pipes, [&] { fd = OpenRegularFile(c.path, O_WRONLY | O_CREAT | O_TRUNC); }));
        EXPECT_EQ(fd >= 0, c.opens);
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, "new", 3), 3);
            ::close(fd);
        }
    }
    std::string text;
    ASSERT_TRUE(ReadRegularFile(outside + "/secret.mp4", text));
    EXPECT_EQ(text, "outside") << "nothing written through a link";
}

TEST_F(RegularFileTest, ReadStopsAtItsLimit)
{
    Write(root + "/big.lang", std::string(1000, 'x'));
    std::string text, why;
    EXPECT_FALSE(ReadRegularFile(root + "/big.lang", text, &why, 999));
    EXPECT_TRUE(ReadRegularFile(root + "/big.lang", text, &why, 1000));
    EXPECT_EQ(text.size(), 1000u);
}

} // namespace
