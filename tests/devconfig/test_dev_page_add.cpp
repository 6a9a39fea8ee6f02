// Adding local devices and parent relay servers from the device form.
#include "devcfg_host.h"

#include "core/log.h"

namespace {

using devcfgtest::JournalCalls;
using devcfgtest::PageTest;
using devcfgtest::Row;
using Dlg = CSettingDevInfoDlg;

const std::vector<std::string> kAuxCalls = {"CAuxPtzCtrl::AddDevice\t", "CAuxPtzCtrl::AddDeviceEx\t",
                                            "CAuxPtzCtrl::SetTimeSync\t", "CAuxPtzCtrl::DelDevice\t",
                                            "CAuxPtzCtrl::WriteAUXStringEx\t"};

class AddTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        g_lstDevInfo.push_back(Row("Yard", "Old", "Old", 1, "127.0.0.9", 554, 8091));
        page->FillGroupCombo();
        ChooseGroup("Yard");
    }
    void Add()
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", Journal().c_str());
        Click(Dlg::IDC_BTN_DEV_ADD);
    }
};

TEST_F(AddTest, RefusalsInOrderLeaveTheListAlone)
{
    struct Case {
        const char* label;
        std::string name, addr, vport, pport, login;
        int type;
        unsigned msg;
    };
    const std::string longLogin(60, 'a'); // the record holds 59 bytes
    const Case cases[] = {
        {"no name", "", "127.0.0.1", "554", "8091", "admin", 1, 607},
        {"no login", "Gate", "127.0.0.1", "554", "8091", "", 1, 607},
        {"no video port", "Gate", "127.0.0.1", "", "8091", "admin", 1, 607},
        {"login too long", "Gate", "127.0.0.1", "554", "8091", longLogin, 1, 607},
        {"hash in name", "Ga#te", "127.0.0.1", "554", "8091", "admin", 1, 630},
        {"hash in login", "Gate", "127.0.0.1", "554", "8091", "ad#min", 1, 630},
        {"same name", "Old", "127.0.0.2", "554", "8091", "admin", 1, 608},
        {"same address and ports", "Gate", "127.0.0.9", "554", "8091", "admin", 1, 608},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ClearMsg();
        Choose(Dlg::IDC_COMBO_DEVTYPE, c.type);
        FillLocal(c.name, c.addr, c.vport, c.pport, c.login);
        Add();
        EXPECT_EQ(LastMsg(), Str(c.msg));
        EXPECT_EQ(g_lstDevInfo.size(), 1u);
    }
    EXPECT_TRUE(JournalCalls(Journal(), kAuxCalls).empty());
}

// Addresses and ports the device could never be reached at are refused
// with a message naming the field as its label shows it; nothing is added
// or written. Accepted forms are added as before.
TEST_F(AddTest, AddressesAndPortsAreCheckedByField)
{
    enum Source { kLocal, kOnvif };
    struct Case {
        const char* label;
        Source source;
        int type, visitMod;
        std::string addr, vport, pport;
        unsigned msg;   // 0: added
        unsigned field; // label the message names
    };
    const Case cases[] = {
        {"address past 255", kLocal, 1, 0, "999.1.1.1", "554", "8091", 1571, Dlg::IDC_STATIC_ADDR},
        {"three parts", kLocal, 1, 0, "192.168.1", "554", "8091", 1571, Dlg::IDC_STATIC_ADDR},
        {"leading zero", kLocal, 1, 0, "127.0.0.010", "554", "8091", 1571, Dlg::IDC_STATIC_ADDR},
        {"camera name with '_'", kLocal, 1, 0, "cam_1.example", "554", "8091", 1572, Dlg::IDC_STATIC_ADDR},
        {"ONVIF host name", kOnvif, 1, 0, "localhost", "", "", 1571, Dlg::IDC_STATIC_ADDR},
        {"video port past 65535", kLocal, 1, 0, "127.0.0.20", "70000", "8091", 1573, Dlg::IDC_STATIC_VIDEOPORT},
        {"video port 0", kLocal, 1, 0, "127.0.0.20", "0", "8091", 1573, Dlg::IDC_STATIC_VIDEOPORT},
        {"video port not a number", kLocal, 1, 0, "127.0.0.20", "55a", "8091", 1573, Dlg::IDC_STATIC_VIDEOPORT},
        {"negative PTZ port", kLocal, 1, 0, "127.0.0.20", "554", "-1", 1573, Dlg::IDC_STATIC_PTZPORT},
        {"PTZ port past 65535", kLocal, 0, 0, "127.0.0.20", "554", "65536", 1573, Dlg::IDC_STATIC_PTZPORT},
        {"NVR configuration port", kLocal, 4, 1, "127.0.0.20", "555", "99999", 1573, Dlg::IDC_STATIC_PTZPORT},
        {"relay server bad address", kLocal, 3, 0, "999.1.1.1", "8899", "", 1572, Dlg::IDC_STATIC_ADDR},
        {"relay server bad name", kLocal, 3, 0, "relay_1.example", "8899", "", 1572, Dlg::IDC_STATIC_ADDR},
        {"relay server port", kLocal, 3, 0, "relay.example", "70000", "", 1573, Dlg::IDC_STATIC_VIDEOPORT},
        {"ONVIF address", kOnvif, 1, 0, "999.1.1.1", "", "", 1571, Dlg::IDC_STATIC_ADDR},
        {"edge ports", kLocal, 1, 0, "127.0.0.21", "65535", "1", 0, 0},
        {"serial number in NAT mode", kLocal, 1, 2, "SN0042AB", "554", "8091", 0, 0},
        {"decoder without video port", kLocal, 2, 0, "127.0.0.22", "", "8091", 0, 0},
        {"host name for a camera", kLocal, 1, 0, "localhost", "554", "8091", 0, 0},
    };
    Combo(Dlg::IDC_COMBO_VISITMOD)->addItem("NAT"); // offered in login-server mode
    int added = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ClearMsg();
        Click(c.source == kOnvif ? Dlg::IDC_RADIO_ONVIF : Dlg::IDC_RADIO_LOCAL);
        if (c.source == kLocal) {
            Choose(Dlg::IDC_COMBO_DEVTYPE, c.type);
            if (c.type != 3 && c.type != 4)
                Choose(Dlg::IDC_COMBO_VISITMOD, c.visitMod);
        }
        FillLocal(std::string("Dev") + std::to_string(added) + (c.msg ? "x" : ""), c.addr, c.vport, c.pport);
        const std::string before = devcfgtest::ReadFile(DevInfoPath());
        const std::size_t rows = g_lstDevInfo.size();
        Add();
        if (c.msg == 0) {
            EXPECT_EQ(LastMsg(), Str(609));
            EXPECT_GT(g_lstDevInfo.size(), rows);
            ++added;
            continue;
        }
        std::string name = Field(c.field);
        if (!name.empty() && name.back() == ':')
            name.pop_back();
        std::string expected = Str(c.msg);
        expected.replace(expected.find("%s"), 2, name);
        EXPECT_EQ(LastMsg(), expected);
        EXPECT_NE(LastMsg().find(name), std::string::npos);
        EXPECT_EQ(g_lstDevInfo.size(), rows);
        EXPECT_TRUE(g_lstRelayServer.empty());
        EXPECT_EQ(devcfgtest::ReadFile(DevInfoPath()), before) << "nothing written";
        const UINT input = c.field == Dlg::IDC_STATIC_ADDR        ? Dlg::IDC_EDIT_ADDR
                           : c.field == Dlg::IDC_STATIC_VIDEOPORT ? Dlg::IDC_EDIT_VIDEOPORT
                                                                  : Dlg::IDC_EDIT_PTZPORT;
        EXPECT_EQ(page->focusWidget(), page->GetDlgItem(input));
    }
    EXPECT_EQ(added, 4);
}

TEST_F(AddTest, PasswordTooLongForItsFieldIsRefusedUnlessDigested)
{
    FillLocal("Gate", "127.0.0.1", "554", "8091", "admin", std::string(64, 'p'));
    Add();
    EXPECT_EQ(LastMsg(), Str(607));
    EXPECT_EQ(g_lstDevInfo.size(), 1u);

    std::strcpy(g_szVendorNumber, "7");
    Add();
    EXPECT_EQ(LastMsg(), Str(609));
    char md5[33];
    Md5HexUpper(std::string(64, 'p').c_str(), md5);
    EXPECT_STREQ(Find("Gate")->LoginPsw, md5);
}

TEST_F(AddTest, CameraIsRegisteredSyncedSavedAndAnnounced)
{
    g_DispInfoSetting.SyncTimeEnable = 1;
    FillLocal("Gate", "127.0.0.9", "555", "8091", "admin", "secret#1"); // same address, other video port
    Choose(Dlg::IDC_COMBO_STREAM, 1);
    Add();
    EXPECT_EQ(LastMsg(), Str(609));
    ASSERT_EQ(Names(), (std::vector<std::string>{"Old", "Gate"}));
    const DeviceInfo& d = *Find("Gate");
    EXPECT_STREQ(d.DevId, "Gate");
    EXPECT_STREQ(d.GroupName, "Yard");
    EXPECT_STREQ(d.LoginPsw, "secret#1");
    EXPECT_STREQ(d.Resolution, "");
    EXPECT_EQ(d.VideoPort, 555);
    EXPECT_EQ(d.RtpOverRtsp, 1);
    EXPECT_GT(d.AuxPtzId, 0);
    EXPECT_NE(d.pRtspEvent1, nullptr);
    EXPECT_NE(d.pRtspEvent2, nullptr);
    const std::vector<std::string> expected = {
        "CAuxPtzCtrl::AddDevice\t127.0.0.9\t8091\tadmin\tsecret#1",
        "CAuxPtzCtrl::SetTimeSync\t" + std::to_string(d.AuxPtzId) + "\t1\t10\t60",
    };
    EXPECT_EQ(JournalCalls(Journal(), kAuxCalls), expected);
    EXPECT_EQ(host->calls, (std::vector<std::string>{"ReloadDevTrees", "TS_NotifyUpdateDeviceList"}));
    EXPECT_NE(devcfgtest::ReadFile(DevInfoPath()).find(">Gate</DevName>"), std::string::npos);
}

TEST_F(AddTest, LogLinesLeaveThePasswordOut)
{
    const std::string log = dir.filePath("clientlog.txt").toStdString();
    CloseLog();
    ASSERT_EQ(OpenLog(log.c_str()), 0);
    FillLocal("Gate", "127.0.0.1", "554", "8091", "admin", "TopSecret");
    Add();
    Choose(Dlg::IDC_COMBO_DEVTYPE, 0);
    FillLocal("Dvs", "127.0.0.2", "554", "8091", "admin", "TopSecret");
    Add();
    CloseLog();
    const std::string text = devcfgtest::ReadFile(log);
    EXPECT_EQ(text.find("TopSecret"), std::string::npos) << text;
    EXPECT_NE(text.find("OnBnClickedBtnDevAdd():Add a device channel"), std::string::npos) << text;
}

TEST_F(AddTest, RowsOfEachKind)
{
    struct Case {
        const char* label;
        int type;
        int visitMod;
        std::vector<std::string> names;
        std::vector<std::string> resolutions;
        int devType, dovra, cfgPort;
        bool sinks;
        std::string firstCall;
    };
    const Case cases[] = {
        {"video server", 0, 0, {"V-Stream1", "V-Stream2", "V-Stream3", "V-Stream4", "V-Stream5"},
         {"10", "20", "30", "40", "cif"}, 0, 0, 0, true, "CAuxPtzCtrl::AddDevice\t127.0.0.5\t"},
        // The type choice picks the main stream for these.
        {"decoder in NAT mode", 2, 2, {"V"}, {""}, 2, 0, 0, false, "CAuxPtzCtrl::AddDevice\t127.0.0.5\t"},
        {"recorder", 4, 1, {"V"}, {""}, 4, 0, 556, true, "CAuxPtzCtrl::AddDevice\t127.0.0.5\t556"},
        {"DOVRA recorder", 5, 1, {"V"}, {""}, 4, 1, 556, true, "CAuxPtzCtrl::AddDevice\t127.0.0.5\t556"},
        {"camera by serial", 1, 2, {"V"}, {""}, 1, 0, 0, true, "CAuxPtzCtrl::AddDeviceEx\t127.0.0.5\t8091"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        g_lstDevInfo.clear();
        std::remove(Journal().c_str());
        page->DisplayDevInfo(nullptr);
        ChooseGroup("Yard");
        Choose(Dlg::IDC_COMBO_DEVTYPE, c.type);
        if (Combo(Dlg::IDC_COMBO_VISITMOD)->count() < 3)
            Combo(Dlg::IDC_COMBO_VISITMOD)->addItem("NAT"); // offered in login-server mode
        if (c.type != 4 && c.type != 5)
            Combo(Dlg::IDC_COMBO_VISITMOD)->setCurrentIndex(c.visitMod);
        Type(Dlg::IDC_EDIT_DEVNAME, "V");
        Type(Dlg::IDC_EDIT_ADDR, "127.0.0.5");
        Type(Dlg::IDC_EDIT_LOGIN, "admin");
        Add();
        EXPECT_EQ(LastMsg(), Str(609));
        EXPECT_EQ(Names(), c.names);
        std::size_t i = 0;
        for (const DeviceInfo& d : g_lstDevInfo) {
            EXPECT_STREQ(d.DevId, "V");
            EXPECT_EQ(d.Resolution, c.resolutions[i++]);
            EXPECT_EQ(d.DevType, c.devType);
            EXPECT_EQ(d.DovraNvr, c.dovra);
            EXPECT_EQ(d.CfgPort, c.cfgPort);
            EXPECT_EQ(d.pRtspEvent1 != nullptr, c.sinks);
        }
        if (c.visitMod == 2) {
            EXPECT_STREQ(g_lstDevInfo.front().DevSN, "127.0.0.5");
        }
        const auto calls = JournalCalls(Journal(), kAuxCalls);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().substr(0, c.firstCall.size()), c.firstCall);
        // Each video-server row has a registration of its own.
        if (c.type == 0) {
            EXPECT_NE(g_lstDevInfo.front().AuxPtzId, g_lstDevInfo.back().AuxPtzId);
        }
    }
}

TEST_F(AddTest, RelayServerRefusedLoginChangesNothing)
{
    Choose(Dlg::IDC_COMBO_DEVTYPE, 3);
    EXPECT_EQ(Field(Dlg::IDC_EDIT_VIDEOPORT), "8899");
    std::ofstream(dir.filePath("VssInfo.xml").toStdString())
        << "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<VssList />\n";
    FillLocal("Parent", "127.0.0.1", "1", "", "admin", "pw");
    Add();
    EXPECT_EQ(LastMsg(), Str(1066));
    EXPECT_TRUE(g_lstRelayServer.empty());
    EXPECT_EQ(devcfgtest::ReadFile(dir.filePath("VssInfo.xml").toStdString()).find("Qelm2Node"), std::string::npos);

    Qelm2Node s;
    std::strcpy(s.DevName, "Parent");
    std::strcpy(s.IPAddr, "127.0.0.3");
    s.nPort = 8899;
    g_lstRelayServer.push_back(s);
    struct Case {
        const char* name;
        const char* addr;
        const char* port;
    };
    for (const Case& c : {Case{"Parent", "127.0.0.4", "8899"}, Case{"Other", "127.0.0.3", "8899"}}) {
        FillLocal(c.name, c.addr, c.port, "", "admin", "pw");
        Add();
        EXPECT_EQ(LastMsg(), Str(608));
    }
    EXPECT_EQ(g_lstRelayServer.size(), 1u);
}

TEST_F(AddTest, SaveVssInfoWritesEveryServerInOrder)
{
    const std::string path = dir.filePath("VssInfo.xml").toStdString();
    EXPECT_EQ(page->SaveVssInfo(), 0); // missing: nothing written
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<VssList><Old /></VssList>\n";
    for (const char* name : {"A", "B"}) {
        Qelm2Node s;
        std::strcpy(s.DevName, name);
        std::strcpy(s.IPAddr, "relay.local");
        std::strcpy(s.LoginName, "admin");
        std::strcpy(s.Password, "0123456789ABCDEF0123456789ABCDEF");
        s.nPort = 8899;
        g_lstRelayServer.push_back(s);
    }
    page->SaveVssInfo();
    const std::string text = devcfgtest::ReadFile(path);
    EXPECT_EQ(text.find("<Old"), std::string::npos);
    EXPECT_NE(text.find("<Qelm2Node DevName=\"A\" IPAddr=\"relay.local\" LoginName=\"admin\" "
                        "Password=\"0123456789ABCDEF0123456789ABCDEF\" nPort=\"8899\" />"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("DevName=\"A\""), text.find("DevName=\"B\""));
}

} // namespace
