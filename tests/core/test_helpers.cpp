// Tests of the shared core helpers: folders, MD5 text, XML text, splitting,
// process lookup and termination, the registry values read at start-up.
#include "core/helpers.h"

#include "core/registry_key.h"
#include "core_test_util.h"
#include "platform/wnd.h"

#include <QLabel>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

TEST(HelpersTest, AppDirIsTheProgramFolderWithATrailingSlash)
{
    std::string dir = GetAppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(exe, static_cast<std::size_t>(n)).rfind(dir, 0), 0u);
}

TEST(HelpersTest, CreateDirTree)
{
    coretest::TempDir tmp;
    const std::string deep = tmp / "a/b/c/";
    EXPECT_TRUE(CreateDirTree(deep.c_str()));
    EXPECT_TRUE(IsDirExist((tmp / "a/b/c").c_str()));
    EXPECT_TRUE(CreateDirTree(deep.c_str())) << "an existing folder";
    EXPECT_FALSE(CreateDirTree(""));
    EXPECT_FALSE(CreateDirTree("a"));
    EXPECT_FALSE(CreateDirTree(nullptr));

    coretest::WriteAll(tmp / "file", "x");
    EXPECT_FALSE(CreateDirTree((tmp / "file/sub").c_str())) << "a file in the way";

    setenv("QELM2_DATA", tmp.path().c_str(), 1);
    EXPECT_TRUE(CreateDirTree("D:\\Qelm-Log\\x\\"));
    unsetenv("QELM2_DATA");
    EXPECT_TRUE(IsDirExist((tmp / "Qelm-Log/x").c_str()));
}

TEST(HelpersTest, Md5HexUpper)
{
    struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    };
    for (const auto& c : cases) {
        char out[33];
        std::memset(out, 'x', sizeof out);
        Md5HexUpper(c.text, out);
        EXPECT_STREQ(out, c.digest) << c.text;
    }
}

TEST(HelpersTest, GetXmlText)
{
    TiXmlDocument doc;
    doc.Parse("<r><Name>前门</Name><Empty/><Mixed><x/>tail</Mixed></r>");
    const TiXmlElement* root = doc.RootElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(GetXmlText(root->FirstChildElement("Name"), "Name"), "前门");
    EXPECT_EQ(GetXmlText(root->FirstChildElement("Empty"), "Empty"), "");
    EXPECT_EQ(GetXmlText(root->FirstChildElement("Mixed"), "Mixed"), "x") << "the first child's value";
    EXPECT_EQ(GetXmlText(nullptr, "x"), "");
}

TEST(HelpersTest, SplitString)
{
    struct {
        const char* text;
        const char* delim;
        int skip;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a::b:", ":", 0, {"a", "", "b", ""}},
        {"a::b:", ":", 1, {"a", "b"}},
        {"k1:v1\r\nk2:v2\r\n", "\r\n", 1, {"k1:v1", "k2:v2"}},
        {"", ":", 0, {""}},
        {"", ":", 1, {}},
        {"abc", "", 0, {}},
        {"abc", ":", 1, {"abc"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out{"before"};
        int n = SplitString(c.text, c.delim, c.skip, out);
        std::vector<std::string> expected{"before"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(n, static_cast<int>(c.pieces.size())) << c.text;
        EXPECT_EQ(out, expected) << c.text;
    }
}

TEST(HelpersTest, SetCtrlTextW)
{
    CWnd dlg;
    auto* label = new QLabel(&dlg);
    qelm::SetControlId(label, 1002);
    EXPECT_EQ(SetCtrlTextW(&dlg, 1002, L"前门"), 1);
    EXPECT_EQ(label->text(), QString::fromUtf8("前门"));
    EXPECT_EQ(SetCtrlTextW(&dlg, 1003, L"x"), 0);
    EXPECT_EQ(SetCtrlTextW(nullptr, 1002, L"x"), 0);
}

TEST(HelpersTest, MemoryGuardNeedsTheMainWindow)
{
    SetMemoryGuardWindow(nullptr);
    EXPECT_FALSE(IsMemoryHigh());
    CWnd wnd;
    ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
    SetMemoryGuardWindow(wnd.GetSafeHwnd());
    EXPECT_FALSE(IsMemoryHigh());
    SetMemoryGuardWindow(nullptr);
}

// A copy of /bin/sleep under a name of our own, run as a child.
class Sleeper {
public:
    Sleeper(const std::string& folder, const std::string& name) : m_path(folder + name)
    {
        fs::copy_file("/bin/sleep", m_path, fs::copy_options::overwrite_existing);
        chmod(m_path.c_str(), 0755);
        m_pid = fork();
        if (m_pid == 0) {
            execl(m_path.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        // wait until the exec is visible
        for (int i = 0; i < 500; ++i) {
            char buf[4096];
            ssize_t n = readlink(("/proc/" + std::to_string(m_pid) + "/exe").c_str(), buf, sizeof buf);
            if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == m_path)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~Sleeper()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        unlink(m_path.c_str());
    }
    // The signal that ended it, or 0 while it runs.
    int EndSignal()
    {
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return 0;
    }

private:
    std::string m_path;
    pid_t m_pid = -1;
};

TEST(HelpersTest, TerminatesOnlyOurOwnProgramFolder)
{
    const std::string own = "qelm2-watch-" + std::to_string(getpid());
    coretest::TempDir elsewhere;
    {
        Sleeper stranger(elsewhere.path() + "/", own);
        EXPECT_TRUE(IsProcessRunning(own.c_str()));
        EXPECT_FALSE(IsOwnProcessRunning(own.c_str())) << "another folder's copy watches another client";
        EXPECT_EQ(TerminProcessByName(own.c_str()), 0) << "not in the program folder";
        EXPECT_EQ(stranger.EndSignal(), 0) << "still running";
    }
    {
        Sleeper ours(GetAppDir(), own);
        EXPECT_TRUE(IsProcessRunning(own.c_str()));
        EXPECT_TRUE(IsOwnProcessRunning(own.c_str()));
        EXPECT_EQ(TerminProcessByName(own.c_str()), 1);
        EXPECT_EQ(ours.EndSignal(), SIGKILL);
    }
    EXPECT_FALSE(IsProcessRunning(own.c_str()));
    EXPECT_EQ(TerminProcessByName(own.c_str()), 0);
    EXPECT_FALSE(IsProcessRunning("qelm2-watch")) << "names compare exactly";
}

class RegistryValuesTest : public testing::Test {
protected:
    void SetUp() override { qelm::SetRegistryHivePath(m_dir / "Registry.xml"); }
    void TearDown() override
    {
        qelm::SetRegistryHivePath("");
        g_nLanguage = 0;
        g_bAutoRun = 0;
        g_bAutoLogin = 0;
        g_szVendorNumber[0] = '\0';
    }
    static void Put(const char* key, const char* name, const char* value)
    {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        if (name)
            RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(std::strlen(value) + 1));
        RegCloseKey(h);
    }
    coretest::TempDir m_dir;
};

TEST_F(RegistryValuesTest, LanguageIndex)
{
    struct {
        const char* value; // nullptr: missing
        int index;
    } cases[] = {
        {nullptr, 0}, {"", 0}, {"2052", 0}, {"1033", 1}, {"1028", 2}, {"3076", 2}, {"1049", 3}, {"1037", 4},
        {"1055", 5},  {"1029", 6}, {"English", 1}, {"Simplified Chinese", 0}, {"Traditional Chinese", 2},
        {"Russian", 3}, {"Turkish", 5}, {"Czech", 1}, {"9999", 1},
    };
    for (const auto& c : cases) {
        g_nLanguage = 4;
        if (c.value)
            Put(kProductKey, "Language", c.value);
        else
            Put(kProductKey, nullptr, nullptr);
        LoadLanguage();
        EXPECT_EQ(g_nLanguage, c.index) << (c.value ? c.value : "(missing)");
    }
    EXPECT_EQ(LanguageIndexFromLcid("3076"), 2);
    EXPECT_EQ(LanguageIndexFromLcid("English"), -1);
}

TEST_F(RegistryValuesTest, VendorNumberIsUpperCased)
{
    ReadVendorNumber();
    EXPECT_STREQ(g_szVendorNumber, "") << "missing: unchanged";
    Put(kVendorKey, "Number", "ab12-x前");
    ReadVendorNumber();
    EXPECT_STREQ(g_szVendorNumber, "AB12-X前");
}

TEST_F(RegistryValuesTest, AutoRunRoundTrip)
{
    g_bAutoLogin = 0;
    ReadAutoRun();
    EXPECT_EQ(g_bAutoRun, 0);
    EXPECT_EQ(g_bAutoLogin, 0);

    EnableAutoRun(); // the Run key does not exist in a fresh hive
    qelm::ReloadRegistryHive();
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenReadOnly(HKEY_LOCAL_MACHINE, kRunKey));
    std::string value;
    ASSERT_TRUE(reg.ReadString(kRunValue, value));
    EXPECT_EQ(value, GetAppDir() + g_strTitle + ".exe");

    ReadAutoRun();
    EXPECT_EQ(g_bAutoRun, 1);
    EXPECT_EQ(g_bAutoLogin, 1) << "an autostarted client logs in by itself";

    DisableAutoRun();
    g_bAutoLogin = 0;
    ReadAutoRun();
    EXPECT_EQ(g_bAutoRun, 0);
    EXPECT_EQ(g_bAutoLogin, 0);
}

} // namespace
