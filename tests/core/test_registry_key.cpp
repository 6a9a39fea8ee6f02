// Tests of CRegistry on the file-backed hive: round trips across a restart,
// the 200-byte string limit, error codes.
#include "core/registry_key.h"

#include "core_test_util.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

namespace {

const char kKey[] = "Software\\Qelm2Test";

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_hive = m_dir / "hive/Registry.xml";
        qelm::SetRegistryHivePath(m_hive);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { qelm::SetRegistryHivePath(""); }

    coretest::TempDir m_dir;
    std::string m_hive;
};

TEST_F(RegistryKeyTest, ValuesSurviveARestart)
{
    {
        CRegistry reg(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
        EXPECT_TRUE(reg.WriteString("Language", "Simplified Chinese"));
        EXPECT_TRUE(reg.WriteString("Name", "前门"));
        EXPECT_TRUE(reg.WriteDword("Count", 0xDEADBEEF));
        EXPECT_TRUE(reg.WriteRect("Rect", CRect(1, 2, 300, 400)));
        EXPECT_TRUE(reg.WritePoint("Point", CPoint(-5, 7)));
        EXPECT_TRUE(reg.WriteObject("List", std::vector<std::string>{"a", "", std::string(300, 'x')}));
        EXPECT_TRUE(reg.WriteObject("Bytes", std::vector<BYTE>{1, 2, 255}));
        EXPECT_TRUE(reg.WriteObject("Words", std::vector<WORD>{1, 0xFFFF}));
        EXPECT_TRUE(reg.WriteObject("Dwords", std::vector<DWORD>{7, 0x80000000u}));
    }
    qelm::ReloadRegistryHive();

    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenReadOnly(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(reg.GetPath(), kKey);
    std::string s;
    EXPECT_TRUE(reg.ReadString("Language", s));
    EXPECT_EQ(s, "Simplified Chinese");
    EXPECT_EQ(reg.GetValueType(), REG_SZ);
    EXPECT_EQ(reg.GetDataSize(), 19u);
    EXPECT_TRUE(reg.ReadString("Name", s));
    EXPECT_EQ(s, "前门");
    DWORD d = 0;
    EXPECT_TRUE(reg.ReadDword("Count", d));
    EXPECT_EQ(d, 0xDEADBEEFu);
    CRect r;
    EXPECT_TRUE(reg.ReadRect("Rect", r));
    EXPECT_EQ(r, CRect(1, 2, 300, 400));
    CPoint p;
    EXPECT_TRUE(reg.ReadPoint("Point", p));
    EXPECT_EQ(p.x, -5);
    EXPECT_EQ(p.y, 7);
    std::vector<std::string> list;
    EXPECT_TRUE(reg.ReadObject("List", list));
    EXPECT_EQ(list, (std::vector<std::string>{"a", "", std::string(300, 'x')}));
    std::vector<BYTE> bytes;
    EXPECT_TRUE(reg.ReadObject("Bytes", bytes));
    EXPECT_EQ(bytes, (std::vector<BYTE>{1, 2, 255}));
    std::vector<WORD> words;
    EXPECT_TRUE(reg.ReadObject("Words", words));
    EXPECT_EQ(words, (std::vector<WORD>{1, 0xFFFF}));
    std::vector<DWORD> dwords;
    EXPECT_TRUE(reg.ReadObject("Dwords", dwords));
    EXPECT_EQ(dwords, (std::vector<DWORD>{7, 0x80000000u}));
}

TEST_F(RegistryKeyTest, RectangleIsStoredAsTheArchivedFiveElementArray)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    ASSERT_TRUE(reg.WriteRect("Rect", CRect(1, 2, 3, 4))); // left, top, right, bottom
    EXPECT_EQ(reg.GetValueType(), 1u);
    EXPECT_EQ(reg.GetDataSize(), 22u);
    std::vector<BYTE> raw(64);
    DWORD type = 0, size = static_cast<DWORD>(raw.size());
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExA(key, "Rect", nullptr, &type, raw.data(), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    raw.resize(size);
    // count 5, then top, bottom, left, right, 0
    EXPECT_EQ(raw, (std::vector<BYTE>{5, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_TRUE(reg.WritePoint("Point", CPoint(1, 2)));
    EXPECT_EQ(reg.GetValueType(), 2u);
}

TEST_F(RegistryKeyTest, StringsOf200BytesOrMoreDoNotFit)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    ASSERT_TRUE(reg.WriteString("Fits", std::string(198, 'a').c_str()));   // 199 bytes
    ASSERT_TRUE(reg.WriteString("TooLong", std::string(199, 'b').c_str())); // 200 bytes
    std::string s = "unchanged";
    EXPECT_FALSE(reg.ReadString("TooLong", s));
    EXPECT_EQ(reg.GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(s, "unchanged");
    EXPECT_TRUE(reg.ReadString("Fits", s));
    EXPECT_EQ(s, std::string(198, 'a'));
}

TEST_F(RegistryKeyTest, StringWithoutTerminatorAndEmptyString)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const std::string raw(199, 'z'); // no terminator, fills the readable part of the buffer
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw.data()), 199), ERROR_SUCCESS);
    RegCloseKey(key);
    std::string s;
    EXPECT_TRUE(reg.ReadString("Raw", s));
    EXPECT_EQ(s, raw);

    EXPECT_TRUE(reg.WriteString("Empty", ""));
    EXPECT_EQ(reg.GetValueType(), REG_SZ);
    EXPECT_EQ(reg.GetDataSize(), 1u);
    s = "x";
    EXPECT_TRUE(reg.ReadString("Empty", s));
    EXPECT_EQ(s, "");
}

TEST_F(RegistryKeyTest, ErrorsAndBookkeeping)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, "Software\\Missing"));
    EXPECT_EQ(reg.GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(reg.IsOpen());

    ASSERT_TRUE(reg.OpenReadOnly(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(reg.GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(reg.WriteString("x", "y")) << "opened read-only";
    EXPECT_EQ(reg.GetLastError(), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_FALSE(reg.VerifyValue("v"));
    EXPECT_TRUE(reg.WriteDword("v", 1));
    EXPECT_TRUE(reg.VerifyValue("v"));
    EXPECT_TRUE(reg.DeleteValue("v"));
    EXPECT_EQ(reg.GetValueType(), 0u);
    EXPECT_EQ(reg.GetDataSize(), 0u);
    EXPECT_FALSE(reg.DeleteValue("v"));
    EXPECT_EQ(reg.GetLastError(), ERROR_FILE_NOT_FOUND);
    DWORD d = 42;
    EXPECT_FALSE(reg.ReadDword("v", d));
    EXPECT_EQ(d, 42u);

    // A stored object that claims more elements than it holds.
    ASSERT_TRUE(reg.WriteObject("Bad", std::vector<BYTE>{}));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const BYTE bogus[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'};
    ASSERT_EQ(RegSetValueExA(key, "Bad", 0, REG_BINARY, bogus, sizeof bogus), ERROR_SUCCESS);
    RegCloseKey(key);
    std::vector<std::string> strings{"keep"};
    EXPECT_FALSE(reg.ReadObject("Bad", strings));
    EXPECT_EQ(strings, std::vector<std::string>{"keep"});
    CRect r(1, 1, 2, 2);
    EXPECT_FALSE(reg.ReadRect("Bad", r));
    EXPECT_EQ(r, CRect(1, 1, 2, 2));

    reg.Close();
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_FALSE(reg.WriteDword("v", 1));
    EXPECT_EQ(reg.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeyTest, NeverOpenedWrapperClosesNothing)
{
    {
        CRegistry reg(HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(reg.IsOpen());
    }
    CRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey)) << "the store is still usable";
}

TEST_F(RegistryKeyTest, CreatedKeysAreVolatileAndKeysCanBeDeleted)
{
    {
        CRegistry reg(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.CreateKey(HKEY_LOCAL_MACHINE, "Software\\Qelm2Test\\Volatile"));
        EXPECT_TRUE(reg.WriteString("v", "gone after restart"));
        CRegistry rel(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(rel.Open(HKEY_LOCAL_MACHINE, "Software"));
        EXPECT_TRUE(rel.Open("Qelm2Test\\Volatile")) << "relative to the held key";
        EXPECT_TRUE(rel.VerifyValue("v"));
    }
    qelm::ReloadRegistryHive();
    CRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, "Software\\Qelm2Test\\Volatile"));
    EXPECT_TRUE(reg.DeleteKey(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_FALSE(reg.DeleteKey(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(reg.GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, AHiveThatCannotBeWrittenGivesAccessDenied)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, kKey));
    ASSERT_TRUE(reg.WriteString("v", "old"));
    // The hive's folder becomes a plain file: no save can succeed any more.
    const std::string folder = m_dir / "hive";
    std::filesystem::rename(folder, m_dir / "moved");
    coretest::WriteAll(folder, "not a folder");
    EXPECT_FALSE(reg.WriteString("v", "new"));
    EXPECT_EQ(reg.GetLastError(), ERROR_ACCESS_DENIED);
    std::string s;
    EXPECT_TRUE(reg.ReadString("v", s));
    EXPECT_EQ(s, "old") << "a failed write changes nothing";
}

} // namespace
