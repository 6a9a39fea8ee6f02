// String tables: lookup by id in both built-in languages, language files
// replacing the built-in table, and the format of the table files.
#include "res/resources.h"
#include "res/strings.h"

#include <gtest/gtest.h>

#include "tests/support/pipe_trap.h"

#include <QImage>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

class StringTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UnloadLanguageFile();
        SetBuiltinLanguage(ResLanguage::English);
        dir_ = fs::temp_directory_path() / ("qelm2_strings_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        UnloadLanguageFile();
        fs::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    fs::path dir_;
};

TEST_F(StringTableTest, BuiltinTablesAnswerByIdInBothLanguages)
{
    struct Case {
        UINT id;
        const char* en;
        const char* zh;
    };
    const Case cases[] = {
        {850, "OK", "确定"},
        {851, "Cancel", "取消"},
        {228, "The program is runing...", "该程序正在运行中..."},
        {275, "Login...", "系统登录中..."},
        {319, "Are you sure to close all surveillance video?", "确定要关闭所有监控视频吗？"},
        {821, "The device offline,can't do the operation!", "设备不在线，无法进行该操作！"},
        {625, ".", "台"},
        {1050, "System Configuration ", "系统配置"}, // the English text keeps its trailing blank
        {775, "Default Strategy", "Default Strategy"},
        {1506, "Please configure ONVIF devices from their web page", "onvif设备请从网页设置"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuiltinResString(ResLanguage::English, c.id), c.en) << c.id;
        EXPECT_EQ(BuiltinResString(ResLanguage::Chinese, c.id), c.zh) << c.id;
    }
    SetBuiltinLanguage(ResLanguage::Chinese);
    EXPECT_EQ(LoadResString(850), "确定");
    EXPECT_EQ(LoadResStringW(850), L"确定");
    SetBuiltinLanguage(ResLanguage::English);
    EXPECT_EQ(LoadResString(850), "OK");
    EXPECT_EQ(LoadResString(1), "");
    EXPECT_FALSE(HasResString(1));
    EXPECT_TRUE(HasResString(850));
}

TEST_F(StringTableTest, EscapesBecomeLineBreaks)
{
    const std::string en = BuiltinResString(ResLanguage::English, 968);
    EXPECT_EQ(en, "Time deviation will occur if the time of the local host was not accurate.\n"
                  " Avoid using the function frequently.\n Confirm?");
    EXPECT_EQ(std::count(en.begin(), en.end(), '\n'), 2);
}

TEST_F(StringTableTest, BothTablesHoldTheSameIdsWithMatchingPlaceholders)
{
    ASSERT_GT(BuiltinResStringCount(ResLanguage::English), 800u);
    ASSERT_EQ(BuiltinResStringCount(ResLanguage::English), BuiltinResStringCount(ResLanguage::Chinese));
    // A format text must take the same arguments in every language.
    for (UINT id = 0; id < 65536; ++id) {
        const std::string en = BuiltinResString(ResLanguage::English, id);
        const std::string zh = BuiltinResString(ResLanguage::Chinese, id);
        ASSERT_EQ(en.empty(), zh.empty()) << "id " << id << " is missing in one table";
        // The conversions of a printf format: '%', flags and digits, the letter.
        auto specs = [](const std::string& s) {
            std::vector<std::string> v;
            for (std::size_t i = s.find('%'); i != std::string::npos; i = s.find('%', i)) {
                std::size_t j = i + 1;
                while (j < s.size() && std::strchr("-+ #0123456789.lh", s[j]))
                    ++j;
                v.push_back(s.substr(i, j + 1 - i));
                i = j + 1;
            }
            return v;
        };
        EXPECT_EQ(specs(en), specs(zh)) << "id " << id;
    }
}

TEST_F(StringTableTest, LanguageFileReplacesTheBuiltinTable)
{
    const std::string path = Write("LangDe.lang", "# test\n850\tJa\n851\tAbbrechen\n9\tzeile1\\nzeile2\\t\\\\\n");
    ASSERT_TRUE(LoadLanguageFile(path.c_str()));
    EXPECT_EQ(LoadResString(850), "Ja");
    EXPECT_EQ(LoadResString(851), "Abbrechen");
    EXPECT_EQ(LoadResString(9), "zeile1\nzeile2\t\\");
    // Ids the file lacks still come from the built-in table.
    EXPECT_EQ(LoadResString(228), "The program is runing...");
    UnloadLanguageFile();
    EXPECT_EQ(LoadResString(850), "OK");
    EXPECT_EQ(LoadResString(9), "");
}

TEST_F(StringTableTest, MissingOrBrokenLanguageFileLeavesTheTableAsItWas)
{
    const std::string good = Write("good.lang", "850\tJa\n");
    ASSERT_TRUE(LoadLanguageFile(good.c_str()));

    EXPECT_FALSE(LoadLanguageFile((dir_ / "LangTC.lang").string().c_str()));
    EXPECT_FALSE(LoadLanguageFile(""));
    EXPECT_FALSE(LoadLanguageFile(nullptr));
    const std::pair<const char*, std::string> broken[] = {
        {"no tab", "850 Ja\n"},
        {"id not a number", "8x0\tJa\n"},
        {"id too large", "65536\tJa\n"},
        {"negative id", "-1\tJa\n"},
        {"empty id", "\tJa\n"},
        {"id twice", "850\tJa\n850\tNein\n"},
        {"unknown escape", "850\tC:\\path\n"},
        {"escape at the end", "850\tJa\\"},
        {"not UTF-8", "850\tJ\xC3\x28\n"},
    };
    for (const auto& [what, bytes] : broken) {
        EXPECT_FALSE(LoadLanguageFile(Write("broken.lang", bytes).c_str())) << what;
        EXPECT_EQ(LoadResString(850), "Ja") << what;
    }
    const std::string huge = Write("huge.lang", std::string(4 * 1024 * 1024 + 1, '#'));
    EXPECT_FALSE(LoadLanguageFile(huge.c_str()));
    EXPECT_EQ(LoadResString(850), "Ja");

    // Neither a pipe nor a folder in a language file's place is waited on.
    const std::string pipe = (dir_ / "LangEn.lang").string();
    ASSERT_TRUE(qelmtest::MakePipe(pipe));
    ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(pipe, [&] { EXPECT_FALSE(LoadLanguageFile(pipe.c_str())); }));
    EXPECT_FALSE(LoadLanguageFile(dir_.string().c_str()));
    EXPECT_EQ(LoadResString(850), "Ja");
}

TEST_F(StringTableTest, ByteOrderMarkCrLfAndEmptyTextsAreAccepted)
{
    const std::string path = Write("bom.lang", "\xEF\xBB\xBF" "850\tJa\r\n\r\n851\t\r\n");
    ASSERT_TRUE(LoadLanguageFile(path.c_str()));
    EXPECT_EQ(LoadResString(850), "Ja");
    EXPECT_TRUE(HasResString(851));
    EXPECT_EQ(LoadResString(851), "");
}

TEST_F(StringTableTest, GeneratedLanguageFilesMatchTheBuiltinTables)
{
    const char* env = std::getenv("QELM2_TEST_BIN_DIR");
    const char* bin = env && *env ? env : QELM2_TEST_BIN_DEFAULT;
    struct Case {
        int index;
        ResLanguage lang;
    };
    for (const Case c : {Case{0, ResLanguage::Chinese}, Case{1, ResLanguage::English}}) {
        const std::string path = std::string(bin) + "/" + LanguageFileName(c.index);
        ASSERT_TRUE(LoadLanguageFile(path.c_str())) << path;
        // The built-in table behind the file is the other language, so every
        // answer below comes from the file.
        SetBuiltinLanguage(c.lang == ResLanguage::Chinese ? ResLanguage::English : ResLanguage::Chinese);
        for (UINT id : {217u, 850u, 968u, 1545u})
            EXPECT_EQ(LoadResString(id), BuiltinResString(c.lang, id)) << path << " " << id;
    }
}

TEST_F(StringTableTest, LanguageFileNamesFollowTheLanguageIndex)
{
    const char* expected[] = {"LangSC.lang", "LangEn.lang", "LangTC.lang", "LangRS.lang",
                              "LangHB.lang", "LangTK.lang", "LangCZ.lang"};
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(LanguageFileName(i), expected[i]);
    EXPECT_STREQ(LanguageFileName(7), "LangEn.lang");
    EXPECT_STREQ(LanguageFileName(-1), "LangEn.lang");
}

TEST_F(StringTableTest, LookupsRaceSafelyWithLoading)
{
    const std::string a = Write("a.lang", "850\tA\n");
    const std::string b = Write("b.lang", "850\tB\n");
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const std::string s = LoadResString(850);
            ASSERT_TRUE(s == "A" || s == "B" || s == "OK") << s;
        }
    });
    for (int i = 0; i < 300; ++i) {
        LoadLanguageFile((i % 2 ? a : b).c_str());
        if (i % 7 == 0)
            UnloadLanguageFile();
    }
    stop = true;
    reader.join();
}

TEST(AppResourceTest, ButtonFacesAndBitmapsAreCompiledIn)
{
    struct Case {
        const char* type;
        UINT id;
        int w, h;
    };
    const Case cases[] = {
        {"PNG", 177, 22, 22}, {"PNG", 211, 22, 22}, {"PNG", 131, 61, 22}, {"PNG", 150, 26, 17},
        {"PNG", 190, 80, 28}, {"PNG", 353, 31, 31}, {"PNG", 343, 7, 22},  {"png", 1409, 22, 22},
        {"BITMAP", 143, 224, 16}, {"ICON", 128, 32, 32},
    };
    for (const Case& c : cases) {
        const AppResource* r = FindAppResource(c.type, c.id);
        ASSERT_NE(r, nullptr) << c.type << " " << c.id;
        QImage img;
        ASSERT_TRUE(img.loadFromData(r->data, static_cast<int>(r->size))) << c.id;
        EXPECT_EQ(img.size(), QSize(c.w, c.h)) << c.id;
    }
    EXPECT_EQ(FindAppResource("PNG", 1), nullptr);
    EXPECT_EQ(FindAppResource("BITMAP", 177), nullptr);
    EXPECT_EQ(FindAppResource(nullptr, 177), nullptr);
}

} // namespace
