// Tests of the configuration files against hostile or foreign input: deep
// nesting, a UTF-8 byte-order mark, record counts past the bounds, and the
// temporary copies a killed save leaves behind.
#include "config_test_util.h"
#include "core/app_init.h"
#include "platform/registry.h"
#include "tests/support/pipe_trap.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

using cfgtest::Gb;

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n";
const char kBom[] = "\xEF\xBB\xBF";

// One configuration file with its loader and saver.
struct ConfigFile {
    const char* name;     // "DevInfo.xml"
    const char* root;     // root element
    const char* tmpl;     // what a damaged file is replaced with
    std::function<void()> load;
    std::function<void()> save;
};

std::vector<ConfigFile> AllFiles()
{
    return {
        {"DevInfo.xml", "DevInfo", kDevInfoTemplate, [] { LoadDevInfo(); }, [] { SaveDevInfo(); }},
        {"UserInfo.xml", "UserInfo", kUserInfoTemplate, [] { LoadUserInfo(); }, [] { SaveUserInfo(); }},
        {"RecInfo.xml", "RecInfo", kRecInfoTemplate, [] { LoadRecInfo(); }, [] { SaveRecInfo(); }},
        {"Recover.xml", "RecoverInfo", kRecoverTemplate, [] { LoadRecoverInfo(); }, [] { SaveRecoverInfo(); }},
    };
}

std::string Repeat(const std::string& s, std::size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

// "DevInfo.xml" -> "DevInfo.damaged-"
std::string DamagedPrefix(const char* name)
{
    std::string stem = name;
    return stem.substr(0, stem.rfind('.')) + ".damaged-";
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class HostileConfigTest : public cfgtest::ConfigTest {
protected:
    void SetUp() override
    {
        cfgtest::ConfigTest::SetUp();
        std::strcpy(g_szUserName, "admin");
    }
};

// A well-formed file nested far deeper than any real one would take the
// parser off the stack; it is a damaged file like any other.
TEST_F(HostileConfigTest, DeeplyNestedFilesAreDamagedNotACrash)
{
    const std::size_t depth = 60000; // about 420 KB
    for (const ConfigFile& f : AllFiles()) {
        SCOPED_TRACE(f.name);
        OpenTestLog();
        const std::string deep = std::string(kDecl) + "<" + f.root + ">" + Repeat("<a>", depth) +
                                 Repeat("</a>", depth) + "</" + f.root + ">";
        Write(f.name, deep);

        f.save();
        EXPECT_EQ(Read(f.name), deep) << "a save leaves a file it cannot read as it is";

        f.load();
        auto kept = cfgtest::FilesWith(m_config, DamagedPrefix(f.name));
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(coretest::ReadAll(m_config + kept[0]).size(), deep.size());
        EXPECT_EQ(Read(f.name), f.tmpl);
        EXPECT_NE(LogText().find(std::string(f.name) + " could not be read, kept as " + m_config + kept[0]),
                  std::string::npos);
        CloseLog();
        ResetGlobals();
        std::strcpy(g_szUserName, "admin");
    }
}

// A leading UTF-8 byte-order mark: the text after it is UTF-8, whatever the
// declaration says; it is read as such, and saved in the files' own encoding.
TEST_F(HostileConfigTest, ByteOrderMarkIsAcceptedAndTheTextReadAsUtf8)
{
    struct Case {
        const char* what;
        const char* name;
        std::string file;
        std::function<void()> load;
        std::function<void()> check;
    };
    const std::string utf8Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::vector<Case> cases = {
        {"users keep their names", "UserInfo.xml",
         kBom + utf8Decl +
             "<UserInfo><UserList><User><UserName>张三</UserName><Password>pw</Password></User></UserList>"
             "<RoleList><Role><RoleName>值班</RoleName><SurPTZ>1</SurPTZ></Role></RoleList></UserInfo>",
         [] { EXPECT_EQ(LoadUserInfo(), 0); },
         [] {
             ASSERT_EQ(g_lstUserInfo.size(), 1u) << "no admin/admin template in their place";
             EXPECT_STREQ(g_lstUserInfo.front().UserName, "张三");
             ASSERT_EQ(g_lstRoleInfo.size(), 1u);
             EXPECT_STREQ(g_lstRoleInfo.front().RoleName, "值班");
         }},
        {"devices and groups stay", "DevInfo.xml",
         kBom + std::string(kDecl) +
             "<DevInfo><DevList><Dev><DevName>前门</DevName><DevType>1</DevType></Dev></DevList>"
             "<GroupList><Group><GroupName nType=\"1\">仓库</GroupName></Group></GroupList></DevInfo>",
         [] { EXPECT_EQ(LoadDevInfo(), 0); },
         [] {
             ASSERT_EQ(g_lstDevInfo.size(), 1u);
             EXPECT_STREQ(g_lstDevInfo.front().DevName, "前门");
             ASSERT_EQ(g_lstDevGroupInfo.size(), 1u);
             EXPECT_STREQ(g_lstDevGroupInfo.front().GroupName, "仓库");
         }},
        {"plans", "RecInfo.xml",
         kBom + std::string("<RecInfo><RecScheme><SchemeName>夜间</SchemeName><OnOff>1</OnOff></RecScheme></RecInfo>"),
         [] { LoadRecInfo(); },
         [] {
             ASSERT_EQ(g_lstRecSchemeInfo.size(), 1u);
             EXPECT_STREQ(g_lstRecSchemeInfo.front()->SchemeName, "夜间");
             EXPECT_EQ(g_lstRecSchemeInfo.front()->OnOff, 1);
         }},
        {"pane entries in attributes", "Recover.xml",
         kBom + utf8Decl + "<RecoverInfo><SurStauts UserName=\"admin\" DevId=\"x\" DevName=\"后门\" WndNo=\"2\"/></RecoverInfo>",
         [] { LoadRecoverInfo(); },
         [] {
             ASSERT_EQ(g_lstSurStatus.size(), 1u);
             EXPECT_STREQ(g_lstSurStatus.front().DevName, "后门");
             EXPECT_EQ(g_lstSurStatus.front().WndNo, 2);
         }},
        {"bytes that are not UTF-8 after a mark become '?'", "DevInfo.xml",
         kBom + std::string("<DevInfo><DevList><Dev><DevName>a\xB0\xA1z</DevName></Dev></DevList></DevInfo>"),
         [] { EXPECT_EQ(LoadDevInfo(), 0); },
         [] {
             ASSERT_EQ(g_lstDevInfo.size(), 1u);
             EXPECT_STREQ(g_lstDevInfo.front().DevName, "a??z");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetGlobals();
        std::strcpy(g_szUserName, "admin");
        Write(c.name, c.file);
        c.load();
        c.check();
        EXPECT_TRUE(cfgtest::FilesWith(m_config, DamagedPrefix(c.name)).empty());
        unlink(Path(c.name).c_str());
    }
}

TEST_F(HostileConfigTest, FileReadAfterAByteOrderMarkIsSavedAsGb18030AndReadsBackTheSame)
{
    Write("DevInfo.xml", std::string(kBom) + "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                                             "<DevInfo><DevList><Dev><DevName>前门</DevName></Dev></DevList></DevInfo>");
    ASSERT_EQ(LoadDevInfo(), 0);
    SaveDevInfo();
    const std::string saved = Read("DevInfo.xml");
    EXPECT_EQ(saved.rfind(kDecl, 0), 0u) << "the declaration says what the bytes now are: " << saved.substr(0, 60);
    EXPECT_NE(saved.find("<DevName>" + Gb("前门") + "</DevName>"), std::string::npos);
    ResetGlobals();
    ASSERT_EQ(LoadDevInfo(), 0);
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_STREQ(g_lstDevInfo.front().DevName, "前门");
}

// Many empty records: each list takes the first ones up to its bound and
// refuses the rest with one log line.
TEST_F(HostileConfigTest, RecordCountsAreBoundedAndTheRestRefusedOnce)
{
    struct Case {
        const char* what;
        const char* name;
        std::function<std::string()> file;
        std::function<void()> load;
        std::function<std::size_t()> size;
        std::size_t bound;
        const char* tag;
    };
    const std::size_t kTop = 10000;
    const std::size_t kNested = 100000;
    const auto extra = [](std::size_t bound) { return bound + 7; };
    const std::vector<Case> cases = {
        {"devices", "DevInfo.xml",
         [&] { return "<DevInfo><DevList>" + Repeat("<Dev/>", extra(kTop)) + "</DevList></DevInfo>"; },
         [] { LoadDevInfo(); }, [] { return g_lstDevInfo.size(); }, kTop, "Dev"},
        {"device groups", "DevInfo.xml",
         [&] { return "<DevInfo><GroupList>" + Repeat("<Group/>", extra(kTop)) + "</GroupList></DevInfo>"; },
         [] { LoadDevInfo(); }, [] { return g_lstDevGroupInfo.size(); }, kTop, "Group"},
        {"users", "UserInfo.xml",
         [&] { return "<UserInfo><UserList>" + Repeat("<User/>", extra(kTop)) + "</UserList></UserInfo>"; },
         [] { LoadUserInfo(); }, [] { return g_lstUserInfo.size(); }, kTop, "User"},
        {"user groups", "UserInfo.xml",
         [&] { return "<UserInfo><GroupList>" + Repeat("<Group/>", extra(kTop)) + "</GroupList></UserInfo>"; },
         [] { LoadUserInfo(); }, [] { return g_lstGroupInfo.size(); }, kTop, "Group"},
        {"roles", "UserInfo.xml",
         [&] { return "<UserInfo><RoleList>" + Repeat("<Role/>", extra(kTop)) + "</RoleList></UserInfo>"; },
         [] { LoadUserInfo(); }, [] { return g_lstRoleInfo.size(); }, kTop, "Role"},
        {"plans", "RecInfo.xml", [&] { return "<RecInfo>" + Repeat("<RecScheme/>", extra(kTop)) + "</RecInfo>"; },
         [] { LoadRecInfo(); }, [] { return g_lstRecSchemeInfo.size(); }, kTop, "RecScheme"},
        {"plan segments over the file", "RecInfo.xml",
         [&] {
             return "<RecInfo><RecScheme><RecTimeList>" + Repeat("<RecTime/>", kNested / 2) +
                    "</RecTimeList></RecScheme><RecScheme><RecTimeList>" +
                    Repeat("<RecTime/>", extra(kNested) - kNested / 2) + "</RecTimeList></RecScheme></RecInfo>";
         },
         [] { LoadRecInfo(); },
         [] {
             std::size_t n = 0;
             for (const RecScheme* p : g_lstRecSchemeInfo)
                 n += p->lstRecTime.size();
             return n;
         },
         kNested, "RecTime"},
        {"plan members over the file", "RecInfo.xml",
         [&] {
             return "<RecInfo><RecScheme><Dev>" + Repeat("<DevName>cam</DevName>", extra(kNested)) +
                    "</Dev></RecScheme></RecInfo>";
         },
         [] {
             std::strcpy(g_lstDevInfo.emplace_back().DevName, "cam");
             LoadRecInfo();
         },
         [] { return g_lstRecSchemeInfo.empty() ? 0 : g_lstRecSchemeInfo.front()->lstDev.size(); }, kNested,
         "DevName"},
        {"pane entries", "Recover.xml",
         [&] {
             return "<RecoverInfo>" + Repeat("<SurStauts UserName=\"admin\"/>", extra(kTop)) + "</RecoverInfo>";
         },
         [] { LoadRecoverInfo(); }, [] { return g_lstSurStatus.size(); }, kTop, "SurStauts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetGlobals();
        std::strcpy(g_szUserName, "admin");
        unlink((m_tmp / "clientlog.txt").c_str());
        OpenTestLog();
        Write(c.name, c.file());
        c.load();
        EXPECT_EQ(c.size(), c.bound);
        CloseLog();
        const std::string log = LogText();
        const std::string line = std::string(c.name) + ": " + std::to_string(extra(c.bound)) + " " + c.tag +
                                 " records, the first " + std::to_string(c.bound) + " loaded, the rest refused.";
        EXPECT_EQ(Count(log, line), 1u) << log.substr(0, 2000);
    }
}

TEST_F(HostileConfigTest, RefusedRecordsAreTheLastOnes)
{
    OpenTestLog();
    std::string devs = "<Dev><DevName>first</DevName></Dev>" + Repeat("<Dev/>", 9998) +
                       "<Dev><DevName>kept</DevName></Dev><Dev><DevName>refused</DevName></Dev>";
    Write("DevInfo.xml", "<DevInfo><DevList>" + devs + "</DevList></DevInfo>");
    ASSERT_EQ(LoadDevInfo(), 0);
    ASSERT_EQ(g_lstDevInfo.size(), 10000u);
    EXPECT_STREQ(g_lstDevInfo.front().DevName, "first");
    EXPECT_STREQ(g_lstDevInfo.back().DevName, "kept");
}

// Before the user file opens the log, its notices wait for it, all of them.
TEST_F(HostileConfigTest, UserFileNoticesWaitForTheLogItOpens)
{
    Write("UserInfo.xml", "<UserInfo><UserList>" + Repeat("<User/>", 10001) + "</UserList><RoleList>" +
                              Repeat("<Role/>", 10002) + "</RoleList><mlog>1</mlog></UserInfo>");
    ASSERT_EQ(LoadUserInfo(), 0);
    ASSERT_TRUE(IsLogOpen());
    CloseLog();
    const std::string log = coretest::ReadAll(m_tmp / "Corvane-Log/clientlog.txt");
    EXPECT_NE(log.find("UserInfo.xml: 10001 User records, the first 10000 loaded, the rest refused."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("UserInfo.xml: 10002 Role records, the first 10000 loaded, the rest refused."),
              std::string::npos)
        << log;
}

// A save killed between writing its temporary copy and the rename leaves
// "<name>.tmp-XXXXXX" behind; only such copies of the files we save go.
TEST_F(HostileConfigTest, StaleTemporaryCopiesOfTheConfigFilesAreRemoved)
{
    struct Entry {
        const char* name;
        bool removed;
    };
    const Entry entries[] = {
        {"DevInfo.xml.tmp-Ab12Cd", true},  {"UserInfo.xml.tmp-000000", true},
        {"RecInfo.xml.tmp-zzzzzz", true},  {"Recover.xml.tmp-XXXXXX", true},
        {"DevInfo.xml", false},            {"DevInfo.xml.tmp-Ab12C", false},
        {"DevInfo.xml.tmp-Ab12Cde", false}, {"DevInfo.xml.tmp-Ab_2Cd", false},
        {"DevInfo.xml.tmp-", false},       {"Other.xml.tmp-Ab12Cd", false},
        {"devinfo.xml.tmp-Ab12Cd", false}, {"DevInfo.xml.Ab12Cd", false},
        {"DevInfo.damaged-20240101-000000.xml", false}, {"xDevInfo.xml.tmp-Ab12Cd", false},
    };
    for (const Entry& e : entries)
        Write(e.name, "x");
    mkdir(Path("UserInfo.xml.tmp-dir123").c_str(), 0755);
    symlink(Path("DevInfo.xml").c_str(), Path("RecInfo.xml.tmp-link12").c_str());

    EXPECT_EQ(qelm::cfg::RemoveStaleTempFiles(m_config, {"DevInfo.xml", "UserInfo.xml", "RecInfo.xml", "Recover.xml"}),
              4);
    for (const Entry& e : entries) {
        struct stat st;
        EXPECT_EQ(lstat(Path(e.name).c_str(), &st) != 0, e.removed) << e.name;
    }
    struct stat st;
    EXPECT_EQ(lstat(Path("UserInfo.xml.tmp-dir123").c_str(), &st), 0) << "not a file a save writes";
    EXPECT_EQ(lstat(Path("RecInfo.xml.tmp-link12").c_str(), &st), 0) << "not a file a save writes";
    EXPECT_EQ(qelm::cfg::RemoveStaleTempFiles(m_tmp / "missing/", {"DevInfo.xml"}), 0);
}

// The registry hive is saved the same way and its copies go too, wherever
// the hive lives.
TEST_F(HostileConfigTest, StaleCopiesOfTheRegistryHiveAreRemovedAtStart)
{
    const std::string hiveDir = m_tmp / "data/";
    mkdir(hiveDir.c_str(), 0755);
    qelm::SetRegistryHivePath(hiveDir + "Registry.xml");
    for (const char* name : {"Registry.xml.tmp-Ab12Cd", "Registry.xml.tmp-Ab12C", "DevInfo.xml.tmp-Ab12Cd"})
        coretest::WriteAll(hiveDir + name, "x");

    RemoveStaleConfigCopies();
    qelm::SetRegistryHivePath("");

    struct stat st;
    EXPECT_NE(lstat((hiveDir + "Registry.xml.tmp-Ab12Cd").c_str(), &st), 0);
    EXPECT_EQ(lstat((hiveDir + "Registry.xml.tmp-Ab12C").c_str(), &st), 0) << "not a copy a save makes";
    EXPECT_EQ(lstat((hiveDir + "DevInfo.xml.tmp-Ab12Cd").c_str(), &st), 0) << "not the hive's folder's business";
}

} // namespace

namespace {

// A pipe, a folder or a device in a configuration file's place: the start-up
// neither waits on it nor stops; the thing is kept aside with a log line and
// the file starts again from its template. A save in that state reads nothing.
TEST_F(HostileConfigTest, APipeFolderOrDeviceInAFilesPlaceIsRefusedNotWaitedOn)
{
    struct Kind {
        const char* what;
        std::function<void(const std::string&)> make;
    } kinds[] = {
        {"a pipe", [](const std::string& p) { ASSERT_TRUE(qelmtest::MakePipe(p)); }},
        {"a folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0755), 0); }},
        {"a device", [](const std::string& p) { ASSERT_EQ(symlink("/dev/null", p.c_str()), 0); }},
    };
    for (const Kind& k : kinds) {
        for (const ConfigFile& f : AllFiles()) {
            SCOPED_TRACE(std::string(f.name) + " as " + k.what);
            OpenTestLog();
            const std::string path = Path(f.name);
            std::filesystem::remove_all(path);
            k.make(path);
            ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(path, [&] { f.save(); })) << "the save waited";
            ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(path, [&] { f.load(); })) << "the load waited";
            EXPECT_NE(LogText().find(path + " not read: " + k.what), std::string::npos);
            EXPECT_EQ(Read(f.name), f.tmpl);
            EXPECT_EQ(cfgtest::FilesWith(m_config, DamagedPrefix(f.name)).size(), 1u) << "kept aside";
            CloseLog();
            ResetGlobals();
            std::strcpy(g_szUserName, "admin");
            for (const std::string& kept : cfgtest::FilesWith(m_config, DamagedPrefix(f.name)))
                std::filesystem::remove_all(m_config + kept);
        }
    }
}

// The registry hive is read the same way.
TEST_F(HostileConfigTest, APipeAsTheRegistryHiveIsNotWaitedOn)
{
    const std::string hive = m_tmp / "Registry.xml";
    ASSERT_TRUE(qelmtest::MakePipe(hive));
    qelm::SetRegistryHivePath(hive);
    HKEY key = nullptr;
    ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(hive, [&] {
        qelm::ReloadRegistryHive();
        (void)RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    }));
    if (key)
        RegCloseKey(key);
    qelm::SetRegistryHivePath("");
}

} // namespace
