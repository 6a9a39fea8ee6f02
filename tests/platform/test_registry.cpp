// Tests of the registry calls on the file-backed hive.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

using namespace qelm;
namespace fs = std::filesystem;

namespace {

std::vector<BYTE> Raw(const std::string& s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

std::vector<BYTE> Sz(const std::string& s)
{
    std::vector<BYTE> v = Raw(s);
    v.push_back(0);
    return v;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qelm2-registry-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_hive = m_dir + "/Registry.xml";
        SetRegistryHivePath(m_hive);
    }
    void TearDown() override
    {
        SetRegistryHivePath("");
        chmod(m_dir.c_str(), 0755);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    HKEY Create(const char* path, REGSAM sam = KEY_ALL_ACCESS, DWORD options = REG_OPTION_NON_VOLATILE)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, sam, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    LONG Set(HKEY key, const char* name, DWORD type, const std::vector<BYTE>& data)
    {
        return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }

    // The value's type and bytes, or the error code.
    std::pair<LONG, std::pair<DWORD, std::vector<BYTE>>> Get(HKEY key, const char* name)
    {
        DWORD type = 0, size = 0;
        LONG r = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS)
            return {r, {}};
        std::vector<BYTE> data(size + 1);
        r = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
        data.resize(size);
        return {r, {type, data}};
    }

    std::string m_dir;
    std::string m_hive;
};

} // namespace

TEST_F(RegistryTest, ValuesSurviveARestart)
{
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {"Language", REG_SZ, Sz("中文")},
        {"Number", REG_DWORD, {7, 0, 0, 0x80}},
        {"Blob", REG_BINARY, {0, 1, 0xFF, 0, 0x7F}},
        {"Empty", REG_BINARY, {}},
        {"Spaces", REG_SZ, Sz("  two  spaces\tand tab  ")},
        {"Markup", REG_EXPAND_SZ, Sz("<a href=\"x\">&amp; &#x41; 'q'</a>")},
        {"Lines", REG_SZ, Sz("line1\r\nline2")},
        {"Unterminated", REG_SZ, Raw("abc")},
        {"Embedded", REG_SZ, Sz(std::string("a\0b", 3))},
        {"BadUtf8", REG_SZ, Sz("\xFF\xFE")},
        {"", REG_SZ, Sz("default value")},
        {"Odd=\"name\" &#x41;", 0x12345678u, {1, 2, 3}},
    };
    HKEY key = Create("SOFTWARE\\Qelm2Test\\Settings");
    for (const Case& c : cases)
        ASSERT_EQ(Set(key, c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    RegCloseKey(key);

    ReloadRegistryHive();
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Settings", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = Get(key, c.name);
        ASSERT_EQ(got.first, ERROR_SUCCESS);
        EXPECT_EQ(got.second.first, c.type);
        EXPECT_EQ(got.second.second, c.data);
    }
    RegCloseKey(key);

    // Saved whole: the file holds the hive and no temporary file is left over.
    std::string text = ReadFile(m_hive);
    EXPECT_NE(text.find("中文"), std::string::npos) << "strings are kept as readable text";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(RegistryTest, NamesMatchIgnoringCaseAndKeepTheirCase)
{
    HKEY key = Create("Software\\MyVendor\\Client");
    ASSERT_EQ(Set(key, "ServerPort", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\myvendor\\CLIENT", 0, KEY_ALL_ACCESS, &other),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(other, "SERVERPORT").second.second, (std::vector<BYTE>{1, 0, 0, 0}));
    ASSERT_EQ(Set(other, "serverport", REG_DWORD, {2, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(Get(other, "ServerPort").second.second, (std::vector<BYTE>{2, 0, 0, 0}));
    RegCloseKey(other);

    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\MYVENDOR\\client", 0, nullptr, 0, KEY_READ, nullptr,
                              &other, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(other);

    std::string text = ReadFile(m_hive);
    EXPECT_NE(text.find("\"MyVendor\""), std::string::npos);
    EXPECT_NE(text.find("\"ServerPort\""), std::string::npos);
    EXPECT_EQ(text.find("serverport"), std::string::npos);
    EXPECT_EQ(text.find("myvendor"), std::string::npos);
}

TEST_F(RegistryTest, QueryFollowsWin32Semantics)
{
    DWORD disposition = 0;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(Set(key, "Path", REG_SZ, Sz("D:\\Record")), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 10u);

    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);

    char exact[10];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size), ERROR_SUCCESS);
    EXPECT_STREQ(exact, "D:\\Record");

    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), nullptr),
              ERROR_INVALID_PARAMETER);
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NoSuchVendor", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Qelm2Test", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND)
        << "roots are separate trees";
    RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesAndAccess)
{
    HKEY key = Create("SOFTWARE\\Qelm2Test");
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x7777));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(bogus, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(nullptr, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Set(key, "x", REG_DWORD, {1, 0, 0, 0}), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    // A key opened for reading cannot be written through.
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(Set(readOnly, "x", REG_DWORD, {1, 0, 0, 0}), ERROR_ACCESS_DENIED);

    // A handle outlives its key: calls on it then fail.
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(readOnly, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeleteKeyAndValue)
{
    HKEY leaf = Create("SOFTWARE\\Qelm2Test\\Devices\\Cam1");
    ASSERT_EQ(Set(leaf, "IP", REG_SZ, Sz("127.0.0.1")), ERROR_SUCCESS);
    ASSERT_EQ(Set(leaf, "Port", REG_DWORD, {0x2A, 0x02, 0, 0}), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValueA(leaf, "ip"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(leaf, "IP"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(leaf);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Devices"), ERROR_ACCESS_DENIED)
        << "a key with subkeys is not deleted";
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Devices\\Cam2"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED) << "a root key is not deleted";

    ReloadRegistryHive();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Devices\\Cam1", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "IP").first, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(key, "Port").second.second, (std::vector<BYTE>{0x2A, 0x02, 0, 0}));
    RegCloseKey(key);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\qelm2test\\devices\\cam1"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Devices"), ERROR_SUCCESS);
    ReloadRegistryHive();
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Devices", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, HiveInUnwritableFolderRefusesChanges)
{
    const std::string ro = m_dir + "/ro";
    ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
    ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
    std::string hive = ro + "/Registry.xml";
    const std::string probe = ro + "/probe";
    if (FILE* f = std::fopen(probe.c_str(), "w")) {
        // Root ignores the mode bits; nobody can create a file under a
        // regular file, though.
        std::fclose(f);
        std::remove(probe.c_str());
        std::ofstream(m_dir + "/plainfile") << "x";
        hive = m_dir + "/plainfile/Registry.xml";
    }
    SetRegistryHivePath(hive);

    EXPECT_EQ(Set(HKEY_LOCAL_MACHINE, "Lost", REG_DWORD, {1, 0, 0, 0}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, "Lost").first, ERROR_FILE_NOT_FOUND) << "a refused value must not stay in memory";
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    chmod(ro.c_str(), 0755);
}

TEST_F(RegistryTest, FailedSaveUndoesEachKindOfChange)
{
    HKEY key = Create("SOFTWARE\\Qelm2Test");
    ASSERT_EQ(Set(key, "Kept", REG_SZ, Sz("old")), ERROR_SUCCESS);
    RegCloseKey(Create("SOFTWARE\\Qelm2Test\\Sub"));
    const std::string saved = ReadFile(m_hive);

    // A folder where the hive file was: the temporary file is written, but
    // nothing (not even root) can rename it over the folder.
    const std::string aside = m_dir + "/aside.xml";
    ASSERT_EQ(std::rename(m_hive.c_str(), aside.c_str()), 0);
    ASSERT_EQ(mkdir(m_hive.c_str(), 0755), 0);
    std::ofstream(m_hive + "/occupied") << "x";

    EXPECT_EQ(Set(key, "Lost", REG_DWORD, {1, 0, 0, 0}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get(key, "Lost").first, ERROR_FILE_NOT_FOUND) << "a refused value must not stay in memory";
    EXPECT_EQ(Set(key, "kept", REG_SZ, Sz("new")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get(key, "Kept").second.second, Sz("old"));
    EXPECT_EQ(RegDeleteValueA(key, "Kept"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get(key, "Kept").second.second, Sz("old"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Sub"), ERROR_ACCESS_DENIED);
    HKEY fresh = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &fresh, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(key, "A", 0, KEY_READ, &fresh), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(key, "Sub", 0, KEY_READ, &fresh), ERROR_SUCCESS);
    RegCloseKey(fresh);

    // No temporary file is left behind, and in memory the hive is what the
    // file holds.
    fs::remove_all(m_hive);
    ASSERT_EQ(std::rename(aside.c_str(), m_hive.c_str()), 0);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
    EXPECT_EQ(FormatRegistryHive(*ParseRegistryHive(saved)), saved);
    ASSERT_EQ(Set(key, "Kept", REG_SZ, Sz("old")), ERROR_SUCCESS); // an unchanged value: the same file again
    EXPECT_EQ(ReadFile(m_hive), saved);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DefaultHiveIsInTheDataFolder)
{
    const std::string data = m_dir + "/data";
    const char* old = std::getenv("QELM2_DATA");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("QELM2_DATA", data.c_str(), 1);
    SetRegistryHivePath("");
    HKEY key = Create("SOFTWARE\\Qelm2Test");
    EXPECT_EQ(Set(key, "Where", REG_SZ, Sz("data folder")), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_NE(ReadFile(data + "/Registry.xml").find("data folder"), std::string::npos);
    if (saved)
        setenv("QELM2_DATA", saved->c_str(), 1);
    else
        unsetenv("QELM2_DATA");
}

TEST_F(RegistryTest, VolatileKeysAreNotSaved)
{
    RegCloseKey(Create("SOFTWARE\\Qelm2Test"));
    HKEY key = Create("SOFTWARE\\Qelm2Test\\Session", KEY_ALL_ACCESS, REG_OPTION_VOLATILE);
    ASSERT_EQ(Set(key, "Pid", REG_DWORD, {1, 2, 3, 4}), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "Pid").first, ERROR_SUCCESS);
    RegCloseKey(key);
    ReloadRegistryHive();
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test\\Session", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qelm2Test", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DamagedHiveIsSetAsideAndStartsEmpty)
{
    std::ofstream(m_hive) << "<Registry><Key name=\"HKEY_LOCAL_MACHINE\">";
    ReloadRegistryHive();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(fs::exists(m_hive + ".bad"));
    key = Create("SOFTWARE\\Qelm2Test");
    EXPECT_EQ(Set(key, "After", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ConcurrentWritersAllPersist)
{
    HKEY key = Create("SOFTWARE\\Qelm2Test");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([key, t] {
            for (int i = 0; i < 10; ++i) {
                std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
                DWORD v = static_cast<DWORD>(t * 100 + i);
                RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ReloadRegistryHive();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 10; ++i) {
            std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
            DWORD v = 0, size = sizeof v;
            ASSERT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
                      ERROR_SUCCESS)
                << name;
            EXPECT_EQ(v, static_cast<DWORD>(t * 100 + i));
        }
    }
    RegCloseKey(key);
}

TEST(RegistryParseTest, RejectsWhatIsNotAHive)
{
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<Key name='a'>";
    const std::string cases[] = {
        "",
        "not xml at all",
        "<Registry>",
        "<Other><Key name=\"HKEY_USERS\"/></Other>",
        "<Registry>" + std::string(1, '\0') + "<Key name='x'/></Registry>",
        "<Registry><Key name='\xFF'/></Registry>",
        "<Registry>\xEF",
        "<Registry>" + deep,
    };
    for (const std::string& c : cases)
        EXPECT_FALSE(ParseRegistryHive(c).has_value()) << testing::PrintToString(c.substr(0, 60));
}

TEST(RegistryParseTest, SkipsMalformedEntriesAndKeepsFirstOfDuplicates)
{
    auto roots = ParseRegistryHive(R"(<?xml version="1.0"?>
<Registry>
  <Key name="HKEY_LOCAL_MACHINE">
    <Value name="good" type="3" hex="0aFF"/>
    <Value name="oddhex" type="3" hex="abc"/>
    <Value name="nothex" type="3" hex="zz"/>
    <Value name="notype" hex="00"/>
    <Value name="bigdword" type="4" dword="4294967296"/>
    <Value name="GOOD" type="1" text="second"/>
    <Value type="1" text="no name"/>
    <Key><Value name="lost" type="1" text="x"/></Key>
    <Key name="Sub"><Value name="a" type="4" dword="4294967295"/></Key>
    <Key name="sub"><Value name="b" type="4" dword="1"/></Key>
  </Key>
  <Key name="HKEY_LOCAL_MACHINE"/>
</Registry>)");
    ASSERT_TRUE(roots.has_value());
    ASSERT_EQ(roots->size(), 1u);
    const RegistryKey& hklm = (*roots)[0];
    ASSERT_EQ(hklm.values.size(), 1u);
    EXPECT_EQ(hklm.values[0].name, "good");
    EXPECT_EQ(hklm.values[0].data, (std::vector<BYTE>{0x0A, 0xFF}));
    ASSERT_EQ(hklm.subkeys.size(), 1u);
    EXPECT_EQ(hklm.subkeys[0].name, "Sub");
    ASSERT_EQ(hklm.subkeys[0].values.size(), 1u);
    EXPECT_EQ(hklm.subkeys[0].values[0].data, (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));

    // What the formatter writes, the parser reads back unchanged.
    auto again = ParseRegistryHive(FormatRegistryHive(*roots));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *roots);
}
