// Group add, delete and rename on the device page.
#include "devcfg_host.h"

namespace {

using devcfgtest::PageTest;
using devcfgtest::Row;
using Dlg = CSettingDevInfoDlg;

class GroupTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        g_lstDevInfo.push_back(Row("Yard", "C1", "Cam1"));
        g_lstDevInfo.push_back(Row("Default", "C2", "Cam2"));
        page->FillGroupCombo();
    }
    std::vector<std::string> Groups() const
    {
        std::vector<std::string> out;
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            out.emplace_back(g.GroupName);
        return out;
    }
};

TEST_F(GroupTest, AddChecksInOrderAndSavesOnlyWhatPassed)
{
    struct Case {
        const char* name;
        unsigned msg;
        std::vector<std::string> groups;
    };
    const Case cases[] = {
        {"", 595, {"Default", "Yard"}},
        {"Yard", 596, {"Default", "Yard"}},
        {"yard", 597, {"Default", "Yard", "yard"}}, // names differ by case: two groups
        {"Gate#1", 630, {"Default", "Yard", "yard"}},
        {"Gate", 597, {"Default", "Yard", "yard", "Gate"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Type(Dlg::IDC_EDIT_GROUPNAME, c.name);
        Click(Dlg::IDC_BTN_GROUP_ADD);
        EXPECT_EQ(LastMsg(), Str(c.msg));
        EXPECT_EQ(Groups(), c.groups);
    }
    EXPECT_EQ(Combo(Dlg::IDC_COMBO_GROUP)->count(), 4);
    EXPECT_NE(devcfgtest::ReadFile(DevInfoPath()).find(">Gate</GroupName>"), std::string::npos);
}

TEST_F(GroupTest, DeleteRefusalsChangeNothing)
{
    struct Case {
        const char* name;
        unsigned msg;
    };
    // The default group cannot go: its devices would keep a name no group has.
    const Case cases[] = {{"", 599}, {"Nowhere", 602}, {"Default", 1442}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Type(Dlg::IDC_EDIT_GROUPNAME, c.name);
        boxText.clear();
        AnswerBox(IDCANCEL); // a refusal asks nothing
        Click(Dlg::IDC_BTN_GROUP_DEL);
        EXPECT_EQ(boxText, "");
        EXPECT_EQ(LastMsg(), Str(c.msg));
        EXPECT_EQ(Groups(), (std::vector<std::string>{"Default", "Yard"}));
        EXPECT_STREQ(Find("Cam1")->GroupName, "Yard");
    }
}

TEST_F(GroupTest, DeleteAsksThenMovesDevicesToTheDefaultGroup)
{
    Type(Dlg::IDC_EDIT_GROUPNAME, "Yard");
    AnswerBox(IDCANCEL);
    Click(Dlg::IDC_BTN_GROUP_DEL);
    EXPECT_EQ(boxText, Str(600));
    EXPECT_EQ(Groups().size(), 2u);

    AnswerBox(IDOK);
    Click(Dlg::IDC_BTN_GROUP_DEL);
    EXPECT_EQ(LastMsg(), Str(601));
    EXPECT_EQ(Groups(), std::vector<std::string>{"Default"});
    EXPECT_STREQ(Find("Cam1")->GroupName, "Default");
    EXPECT_EQ(Field(Dlg::IDC_EDIT_GROUPNAME), "");
    EXPECT_TRUE(host->Called("ReloadDevTrees"));
    EXPECT_EQ(devcfgtest::ReadFile(DevInfoPath()).find(">Yard</GroupName>"), std::string::npos);
}

TEST_F(GroupTest, DeleteWithoutADefaultGroupMovesToTheFirstRemaining)
{
    g_lstDevGroupInfo.front().nType = 0;
    g_lstDevGroupInfo.push_back(DevGroupInfo{"Gate", 0});
    Type(Dlg::IDC_EDIT_GROUPNAME, "Default");
    AnswerBox(IDOK);
    Click(Dlg::IDC_BTN_GROUP_DEL);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Yard", "Gate"}));
    EXPECT_STREQ(Find("Cam2")->GroupName, "Yard");
}

TEST_F(GroupTest, RenameChecksInOrder)
{
    struct Case {
        const char* shown; // group record shown in the form
        int nType;
        const char* typed;
        unsigned msg;
    };
    const Case cases[] = {
        {"", 0, "X", 603},
        {"Default", 0, "X", 1442},   // by name, whatever its type
        {"Yard", 0, "", 604},
        {"Yard", 0, "Y#", 630},
        {"Yard", 0, "Yard", 596},    // its own name
        {"Yard", 0, "Default", 596},
        {"Gone", 0, "Lane", 606},    // no such record: devices untouched
    };
    g_lstDevInfo.push_back(Row("Gone", "C3", "Cam3"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.shown) + "->" + c.typed);
        DevGroupInfo g{};
        std::strcpy(g.GroupName, c.shown);
        g.nType = c.nType;
        page->DisplayGroupInfo(&g);
        Type(Dlg::IDC_EDIT_GROUPNAME, c.typed);
        Click(Dlg::IDC_BTN_GROUP_MODIFY);
        EXPECT_EQ(LastMsg(), Str(c.msg));
        EXPECT_EQ(Groups(), (std::vector<std::string>{"Default", "Yard"}));
        EXPECT_STREQ(Find("Cam1")->GroupName, "Yard");
        EXPECT_STREQ(Find("Cam3")->GroupName, "Gone");
    }
}

TEST_F(GroupTest, RenameMovesDevicesAndKeepsTheNewNameShown)
{
    page->DisplayGroupInfo(&*std::next(g_lstDevGroupInfo.begin()));
    EXPECT_TRUE(Enabled(Dlg::IDC_BTN_GROUP_DEL));
    Type(Dlg::IDC_EDIT_GROUPNAME, "Lane");
    Click(Dlg::IDC_BTN_GROUP_MODIFY);
    EXPECT_EQ(LastMsg(), Str(605));
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Default", "Lane"}));
    EXPECT_STREQ(Find("Cam1")->GroupName, "Lane");
    EXPECT_STREQ(page->ShownGroup().GroupName, "Lane");

    page->DisplayGroupInfo(&g_lstDevGroupInfo.front());
    EXPECT_FALSE(Enabled(Dlg::IDC_BTN_GROUP_DEL)); // the default group
}

TEST_F(GroupTest, DefaultGroupNameRule)
{
    char out[256] = "unchanged";
    page->GetDefaultGroupName(out);
    EXPECT_STREQ(out, "Default");
    g_lstDevGroupInfo.front().nType = 0;
    g_lstDevGroupInfo.back().nType = 1;
    page->GetDefaultGroupName(out);
    EXPECT_STREQ(out, "Yard");
    g_lstDevGroupInfo.back().nType = 0;
    page->GetDefaultGroupName(out);
    EXPECT_STREQ(out, "Default");
    g_lstDevGroupInfo.clear();
    std::strcpy(out, "unchanged");
    page->GetDefaultGroupName(out);
    EXPECT_STREQ(out, "unchanged");
}

} // namespace
