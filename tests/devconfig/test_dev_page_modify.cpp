// Deleting and changing devices: teardown, in-place rename, re-registration
// at the same place (plans included) and the panes reopened afterwards.
#include "devcfg_host.h"

#include "controls/onvif.h"

namespace {

using devcfgtest::JournalCalls;
using devcfgtest::PageTest;
using devcfgtest::Row;
using Dlg = CSettingDevInfoDlg;

const std::vector<std::string> kAuxCalls = {"CAuxPtzCtrl::AddDevice\t", "CAuxPtzCtrl::AddDeviceEx\t",
                                            "CAuxPtzCtrl::DelDevice\t", "CAuxPtzCtrl::WriteAUXStringEx\t"};

class ChangeTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        page->FillGroupCombo();
        AddRegistered(Row("Yard", "A", "Alpha", 1, "127.0.0.2"));
        AddRegistered(Row("Yard", "127.0.0.3", "Gate", 1, "127.0.0.3", 554, 8091));
        AddRegistered(Row("Yard", "Z", "Zulu", 1, "127.0.0.4"));
        plan = new RecScheme;
        std::strcpy(plan->SchemeName, "P");
        for (DeviceInfo& d : g_lstDevInfo)
            plan->lstDev.push_back(&d);
        g_lstRecSchemeInfo.push_back(plan);
    }
    void AddRegistered(DeviceInfo d)
    {
        d.AuxPtzId = g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
        d.pAuxPtzCtrl = g_pAuxPtzCtrl;
        g_lstDevInfo.push_back(d);
    }
    // Selects a row in the tree as the operator would.
    void Select(const char* name)
    {
        g_SelDevInfo = *Find(name);
        page->DisplayDevInfo(&g_SelDevInfo);
    }
    void Press(UINT id)
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", Journal().c_str());
        Click(id);
    }
    std::vector<std::string> PlanNames() const
    {
        std::vector<std::string> out;
        for (const DeviceInfo* d : plan->lstDev)
            out.emplace_back(d->DevName);
        return out;
    }
    RecScheme* plan = nullptr;
};

TEST_F(ChangeTest, DeleteTearsDownAndSaves)
{
    Select("Gate");
    const int id = Find("Gate")->AuxPtzId;
    Press(Dlg::IDC_BTN_DEV_DEL);
    EXPECT_EQ(LastMsg(), Str(610));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "Zulu"}));
    EXPECT_EQ(PlanNames(), (std::vector<std::string>{"Alpha", "Zulu"}));
    EXPECT_EQ(JournalCalls(Journal(), kAuxCalls),
              std::vector<std::string>{"CAuxPtzCtrl::DelDevice\t" + std::to_string(id)});
    EXPECT_TRUE(host->Called("UnbindTvWallCamera 127.0.0.3"));
    EXPECT_TRUE(host->Called("TS_ReportDeviceState AA:BB:127.0.0.3 0 0"));
    EXPECT_TRUE(host->Called("ReloadDevTrees"));
    EXPECT_EQ(devcfgtest::ReadFile(DevInfoPath()).find(">Gate</DevName>"), std::string::npos);

    Press(Dlg::IDC_BTN_DEV_DEL); // gone already
    EXPECT_EQ(LastMsg(), Str(611));
}

TEST_F(ChangeTest, DeleteTakesEveryRowOfAVideoServer)
{
    for (int k = 1; k <= 5; ++k)
        AddRegistered(Row("Yard", "V", ("V-Stream" + std::to_string(k)).c_str(), 0, "127.0.0.7"));
    Select("V-Stream1");
    Press(Dlg::IDC_BTN_DEV_DEL);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "Gate", "Zulu"}));
    for (int k = 1; k <= 5; ++k)
        EXPECT_TRUE(host->Called("TS_ReportDeviceState AA:BB:127.0.0.7 " + std::to_string(k) + " 0")) << k;
}

TEST_F(ChangeTest, DecoderOnTheTvWallCannotGo)
{
    AddRegistered(Row("Yard", "X", "Dec", 2));
    Select("Dec");
    host->decoderOnWall = true;
    for (UINT button : {Dlg::IDC_BTN_DEV_DEL, Dlg::IDC_BTN_DEV_MODIFY}) {
        ClearMsg();
        if (button == Dlg::IDC_BTN_DEV_MODIFY)
            Type(Dlg::IDC_EDIT_ADDR, "127.0.0.99");
        Click(button);
        EXPECT_EQ(LastMsg(), Str(634));
        EXPECT_NE(Find("Dec"), nullptr);
    }
}

TEST_F(ChangeTest, RenameInPlaceKeepsTheRegistration)
{
    Find("Gate")->WatchFlag = 1;
    host->watchPane = 3;
    Select("Gate");
    const int id = Find("Gate")->AuxPtzId;
    Type(Dlg::IDC_EDIT_DEVNAME, "Front");
    ChooseGroup("Default");
    Press(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(614));
    ASSERT_NE(Find("Front"), nullptr);
    EXPECT_EQ(Find("Front")->AuxPtzId, id);
    EXPECT_STREQ(Find("Front")->GroupName, "Default");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "Front", "Zulu"}));
    EXPECT_EQ(PlanNames(), (std::vector<std::string>{"Alpha", "Front", "Zulu"}));
    EXPECT_EQ(JournalCalls(Journal(), kAuxCalls),
              std::vector<std::string>{"CAuxPtzCtrl::WriteAUXStringEx\t" + std::to_string(id) +
                                       "\tSYSTEM_CONTROL_MESSAGE\t1012\t0\t"});
    EXPECT_TRUE(host->Called("RenamePaneDevice 3 Front"));
    EXPECT_TRUE(host->Called("SelectDevTreeItem Front"));
    EXPECT_TRUE(host->Called("TS_NotifyUpdateDeviceList"));

    ClearMsg();
    host->calls.clear();
    Select("Front");
    Press(Dlg::IDC_BTN_DEV_MODIFY); // nothing changed
    EXPECT_EQ(LastMsg(), "");
    EXPECT_TRUE(host->calls.empty());

    Type(Dlg::IDC_EDIT_DEVNAME, "Alpha");
    Press(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(1545));
}

TEST_F(ChangeTest, ReRegistrationTakesTheOldPlaceInListAndPlans)
{
    Find("Gate")->WatchFlag = 1;
    host->watchPane = 5;
    Select("Gate");
    const int oldId = Find("Gate")->AuxPtzId;
    Choose(Dlg::IDC_COMBO_STREAM, 1); // main stream: the connection changes
    Press(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(614));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "Gate", "Zulu"}));
    const DeviceInfo* gate = Find("Gate");
    EXPECT_NE(gate->AuxPtzId, oldId);
    EXPECT_STREQ(gate->DevId, "127.0.0.3");
    EXPECT_STREQ(gate->Resolution, "");
    // The plan now points at the new row, in the old row's place.
    EXPECT_EQ(PlanNames(), (std::vector<std::string>{"Alpha", "Gate", "Zulu"}));
    EXPECT_EQ(*std::next(plan->lstDev.begin()), gate);
    const auto calls = JournalCalls(Journal(), kAuxCalls);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "CAuxPtzCtrl::DelDevice\t" + std::to_string(oldId));
    EXPECT_EQ(calls[1].substr(0, 31), "CAuxPtzCtrl::AddDevice\t127.0.0.");
    EXPECT_TRUE(host->Called("OnStopWatch Gate 1"));
    EXPECT_FALSE(host->Called("OnStopWatch Gate 0")); // stopped once, for the change

    // The pane reopens when the timer fires.
    ASSERT_EQ(page->ReopenPanes().size(), 1u);
    EXPECT_FALSE(host->Called("AddWatch 0 5 Gate 127.0.0.3"));
    page->SendMessage(WM_TIMER, Dlg::TIMER_REOPEN_PANES, 0);
    EXPECT_TRUE(host->Called("AddWatch 0 5 Gate 127.0.0.3"));
    EXPECT_TRUE(page->ReopenPanes().empty());
}

TEST_F(ChangeTest, NewAddressBecomesTheDeviceId)
{
    Find("Gate")->WatchFlag = 1;
    host->watchPane = 2;
    Select("Gate");
    Type(Dlg::IDC_EDIT_ADDR, "127.0.0.30");
    Type(Dlg::IDC_EDIT_DEVNAME, "Gate2");
    Press(Dlg::IDC_BTN_DEV_MODIFY);
    ASSERT_NE(Find("Gate2"), nullptr);
    EXPECT_STREQ(Find("Gate2")->DevId, "127.0.0.30");
    EXPECT_STREQ(page->ShownDevice().DevName, "Gate2");
    page->SendMessage(WM_TIMER, Dlg::TIMER_REOPEN_PANES, 0);
    EXPECT_TRUE(host->Called("AddWatch 0 2 Gate2 127.0.0.30"));
}

TEST_F(ChangeTest, MultiChannelDecoderKeepsItsTypeUnlessTheChoiceChanged)
{
    AddRegistered(Row("Yard", "M", "Multi", 5, "127.0.0.6"));
    Select("Multi");
    EXPECT_EQ(Combo(Dlg::IDC_COMBO_DEVTYPE)->currentIndex(), 5);
    Type(Dlg::IDC_EDIT_PTZPORT, "9100"); // a connection change, type untouched
    Press(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(614));
    ASSERT_NE(Find("Multi"), nullptr);
    EXPECT_EQ(Find("Multi")->DevType, 5);
    EXPECT_EQ(Find("Multi")->DovraNvr, 0);
    EXPECT_EQ(Find("Multi")->PtzPort, 9100);
}

TEST_F(ChangeTest, TypeChangeAsksFirst)
{
    Select("Gate");
    Choose(Dlg::IDC_COMBO_DEVTYPE, 4);
    AnswerBox(IDCANCEL);
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(boxText, Str(629));
    EXPECT_EQ(Find("Gate")->DevType, 1);

    AnswerBox(IDOK);
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    ASSERT_NE(Find("Gate"), nullptr);
    EXPECT_EQ(Find("Gate")->DevType, 4);
    EXPECT_EQ(Find("Gate")->PtzPort, Find("Gate")->VideoPort + 1);
    EXPECT_EQ(Find("Gate")->CfgPort, 556);
}

TEST_F(ChangeTest, UntouchedPasswordKeepsTheStoredDigest)
{
    std::strcpy(g_szVendorNumber, "7");
    char digest[33];
    Md5HexUpper("secret", digest);
    std::strcpy(Find("Gate")->LoginPsw, digest);
    struct Case {
        const char* typed; // nullptr: the field keeps the digest it shows
        const char* stored;
    };
    char other[33];
    Md5HexUpper("other", other);
    for (const Case& c : {Case{nullptr, digest}, Case{"other", other}}) {
        Select("Gate");
        EXPECT_EQ(Field(Dlg::IDC_EDIT_PSW), Find("Gate")->LoginPsw);
        if (c.typed)
            Type(Dlg::IDC_EDIT_PSW, c.typed);
        Type(Dlg::IDC_EDIT_PTZADDR, c.typed ? "2" : "1"); // forces a re-registration
        Click(Dlg::IDC_BTN_DEV_MODIFY);
        ASSERT_NE(Find("Gate"), nullptr);
        EXPECT_STREQ(Find("Gate")->LoginPsw, c.stored);
    }
}

TEST_F(ChangeTest, ChangeRefusals)
{
    struct Case {
        const char* label;
        const char* name;
        const char* addr;
        const char* vport;
        unsigned msg;
    };
    const Case cases[] = {
        {"no address", "Gate", "", "554", 613},
        {"no video port", "Gate", "127.0.0.3", "", 613},
        {"hash", "Ga#te", "127.0.0.9", "554", 630},
        {"other device's name", "Alpha", "127.0.0.9", "554", 1545},
        {"other device's address", "Gate", "127.0.0.2", "554", 1545},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Select("Gate");
        Type(Dlg::IDC_EDIT_DEVNAME, c.name);
        Type(Dlg::IDC_EDIT_ADDR, c.addr);
        Type(Dlg::IDC_EDIT_VIDEOPORT, c.vport);
        Click(Dlg::IDC_BTN_DEV_MODIFY);
        EXPECT_EQ(LastMsg(), Str(c.msg));
        EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "Gate", "Zulu"}));
    }
    page->DisplayDevInfo(nullptr);
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(612));
}

TEST_F(ChangeTest, RelayServerRenameIsWrittenToVssInfo)
{
    const std::string path = dir.filePath("VssInfo.xml").toStdString();
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<VssList />\n";
    Qelm2Node s;
    std::strcpy(s.DevName, "Parent");
    std::strcpy(s.IPAddr, "127.0.0.1");
    std::strcpy(s.LoginName, "op");
    s.nPort = 8899;
    s.LoginId = 9;
    g_lstRelayServer.push_back(s);
    page->DisplayVssInfo("Parent");
    g_SelDevInfo = DeviceInfo{};
    Type(Dlg::IDC_EDIT_DEVNAME, "Upstream");
    AnswerBox(IDOK); // the type differs from the empty selection
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(614));
    EXPECT_STREQ(g_lstRelayServer.front().DevName, "Upstream");
    EXPECT_NE(devcfgtest::ReadFile(path).find("DevName=\"Upstream\""), std::string::npos);

    // Delete: logged out, erased and written.
    page->DisplayVssInfo("Upstream");
    Click(Dlg::IDC_BTN_DEV_DEL);
    EXPECT_EQ(LastMsg(), Str(610));
    EXPECT_TRUE(g_lstRelayServer.empty());
    EXPECT_EQ(devcfgtest::ReadFile(path).find("Upstream"), std::string::npos);
}

} // namespace

namespace {

TEST_F(ChangeTest, OnvifCameraAtANewAddressAsksForItsServiceAddressAgain)
{
    DeviceInfo cam = Row("Yard", "127.0.0.20", "Door", 1, "127.0.0.20");
    cam.OnvifDev = 1;
    std::strcpy(cam.OnvifSerAddr, "http://127.0.0.20/onvif/device_service");
    g_lstDevInfo.push_back(cam);
    OVF_SetProbeTarget("127.0.0.1:9"); // nobody answers the new address
    OVF_SetSearchWaitMs(100);
    Select("Door");
    Click(Dlg::IDC_RADIO_LOCAL); // the address field is editable for the change
    Type(Dlg::IDC_EDIT_ADDR, "127.0.0.21");
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    page->JoinOnvifQueries();
    OVF_SetProbeTarget("");
    ASSERT_NE(Find("Door"), nullptr);
    EXPECT_STREQ(Find("Door")->IPAddr, "127.0.0.21");
    EXPECT_EQ(Find("Door")->OnvifDev, 1);
    EXPECT_EQ(Find("Door")->AuxPtzId, 0);
    EXPECT_STREQ(Find("Door")->OnvifSerAddr, "");
    EXPECT_TRUE(host->Called("RemoveOnvifDevice http://127.0.0.20/onvif/device_service"));
    EXPECT_TRUE(host->onvifEntries.empty()); // not supervised at the old service address
}

} // namespace
