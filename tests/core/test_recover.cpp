// Tests of the recover file: template, entries per user, what a save removes
// and keeps, through real files.
#include "config_test_util.h"

#include <cstring>

using cfgtest::Gb;

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n";

std::string Entry(const std::string& user, const std::string& name, int wnd)
{
    return "<SurStauts UserName=\"" + user + "\" DevId=\"id-" + std::to_string(wnd) + "\" DevName=\"" + name +
           "\" WndNo=\"" + std::to_string(wnd) + "\" MonitorNum=\"0\" DispMode=\"9\" />";
}

class RecoverTest : public cfgtest::ConfigTest {
protected:
    void Login(const char* user) { std::strcpy(g_szUserName, user); }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> out;
        for (const SurStauts& s : g_lstSurStatus)
            out.push_back(s.DevName);
        return out;
    }
};

TEST_F(RecoverTest, MissingFileGetsTheTemplate)
{
    Login("admin");
    LoadRecoverInfo();
    EXPECT_EQ(Read("Recover.xml"),
              "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<RecoverInfo>\n"
              "\t<DispStatus UserName=\"admin\" DispMode=\"4\" />\n</RecoverInfo>");
    EXPECT_TRUE(g_lstSurStatus.empty());
}

TEST_F(RecoverTest, EachUserKeepsTheirOwnPanes)
{
    Write("Recover.xml", std::string(kDecl) + "<RecoverInfo><DispStatus UserName=\"admin\" DispMode=\"4\" />" +
                             Entry("admin", "a1", 0) + Entry("bob", "b1", 0) + Entry("admin", Gb("后门"), 3) +
                             "<SurStauts DevName=\"orphan\" WndNo=\"1\" />" + Entry("bob", "b2", 1) +
                             "</RecoverInfo>");
    Login("admin");
    LoadRecoverInfo();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a1", "后门"}));
    const SurStauts& last = g_lstSurStatus.back();
    EXPECT_STREQ(last.DevId, "id-3");
    EXPECT_EQ(last.WndNo, 3);
    EXPECT_EQ(last.MonitorNum, 0);
    EXPECT_EQ(last.DispMode, 9);

    // The panes change: one left, on monitor 1.
    g_lstSurStatus.pop_front();
    g_lstSurStatus.front().MonitorNum = 1;
    SaveRecoverInfo();
    const std::string text = Read("Recover.xml");
    EXPECT_EQ(text.find("DispStatus"), std::string::npos) << "admin's template entry goes at admin's first save";
    EXPECT_NE(text.find(Entry("bob", "b1", 0)), std::string::npos);
    EXPECT_NE(text.find(Entry("bob", "b2", 1)), std::string::npos);
    EXPECT_NE(text.find("DevName=\"orphan\""), std::string::npos) << "an entry of nobody is never removed";
    EXPECT_EQ(text.find("\"a1\""), std::string::npos);
    EXPECT_NE(text.find("<SurStauts UserName=\"admin\" DevId=\"id-3\" DevName=\"" + Gb("后门") +
                        "\" WndNo=\"3\" MonitorNum=\"1\" DispMode=\"9\" />"),
              std::string::npos)
        << text;

    // Bob's turn: admin's entry stays.
    ResetGlobals();
    Login("bob");
    LoadRecoverInfo();
    EXPECT_EQ(Names(), (std::vector<std::string>{"b1", "b2"}));
    g_lstSurStatus.clear(); // every pane closed
    SaveRecoverInfo();
    const std::string after = Read("Recover.xml");
    EXPECT_EQ(after.find("\"bob\""), std::string::npos);
    EXPECT_NE(after.find("DevName=\"" + Gb("后门") + "\""), std::string::npos);
}

TEST_F(RecoverTest, OtherUsersKeepTheTemplateEntry)
{
    Login("carol");
    LoadRecoverInfo();
    SurStauts& s = g_lstSurStatus.emplace_back();
    std::strcpy(s.DevName, "c");
    SaveRecoverInfo();
    EXPECT_NE(Read("Recover.xml").find("<DispStatus UserName=\"admin\" DispMode=\"4\" />"), std::string::npos);
}

TEST_F(RecoverTest, EntryWithoutUserNameBelongsToNobody)
{
    Write("Recover.xml", std::string(kDecl) + "<RecoverInfo><SurStauts DevName=\"x\" /></RecoverInfo>");
    LoadRecoverInfo(); // not logged in: the user name is empty
    EXPECT_TRUE(g_lstSurStatus.empty());
    SaveRecoverInfo();
    EXPECT_NE(Read("Recover.xml").find("DevName=\"x\""), std::string::npos);
}

TEST_F(RecoverTest, DamagedFileIsKeptAsideAndASaveWritesNothing)
{
    Write("Recover.xml", "<RecoverInfo>");
    SaveRecoverInfo();
    EXPECT_EQ(Read("Recover.xml"), "<RecoverInfo>");
    LoadRecoverInfo();
    EXPECT_EQ(cfgtest::FilesWith(m_config, "Recover.damaged-").size(), 1u);
    EXPECT_EQ(Read("Recover.xml"), kRecoverTemplate);
}

} // namespace

// A declaration with odd values is written back in plain form, so that the
// file stays the same from one save to the next.
TEST_F(RecoverTest, OddDeclarationIsWrittenInPlainForm)
{
    struct Case {
        const char* decl;
        const char* saved;
    } const cases[] = {
        {"<?xml version=&amp; encoding=\"gb2312\" ?>", "<?xml version=\"1.0\" encoding=\"gb2312\" ?>"},
        {"<?xml version=\"1.0\" encoding=\"a&quot;b\" standalone=\"maybe\"?>", "<?xml version=\"1.0\" ?>"},
        {"<?xml version=\"1.1\" encoding=\"GBK\" standalone=\"yes\"?>",
         "<?xml version=\"1.1\" encoding=\"GBK\" standalone=\"yes\" ?>"},
    };
    Login("admin");
    for (const Case& c : cases) {
        Write("Recover.xml", std::string(c.decl) + "\n<RecoverInfo>" + Entry("admin", "a1", 0) + "</RecoverInfo>");
        g_lstSurStatus.clear();
        LoadRecoverInfo();
        SaveRecoverInfo();
        const std::string once = Read("Recover.xml");
        EXPECT_EQ(once.substr(0, once.find('\n')), c.saved) << c.decl;
        g_lstSurStatus.clear();
        LoadRecoverInfo();
        SaveRecoverInfo();
        EXPECT_EQ(Read("Recover.xml"), once) << c.decl;
    }
}
