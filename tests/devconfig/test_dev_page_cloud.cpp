// Cloud devices against the fake cloud server, and ONVIF cameras against
// the fake ONVIF camera, both on 127.0.0.1.
#include "devcfg_host.h"

#include "controls/onvif.h"
#include "tests/support/fake_cloud_server.h"
#include "tests/support/fake_onvif_camera.h"

namespace {

using devcfgtest::JournalCalls;
using devcfgtest::PageTest;
using devcfgtest::Row;
using Dlg = CSettingDevInfoDlg;

std::string Nvr(int channels, const std::string& states, const std::string& extra = "")
{
    return "<ls><DevID>DEV1</DevID><devsn>SN1</devsn><devname>Yard NVR</devname><devtype>200</devtype>"
           "<devip>5.6.7.8</devip><devvideoport>9000</devvideoport><devptzport>9001</devptzport>"
           "<devisonline>1</devisonline><devchannelcount>" +
           std::to_string(channels) + "</devchannelcount><devchannelstate>" + states + "</devchannelstate>" +
           extra + "</ls>";
}

fakecloud::Exchange Body(const std::string& inner)
{
    return fakecloud::Reply(fakecloud::Http("<xml><ip>1.2.3.4</ip><p2pserver>127.0.0.1</p2pserver>"
                           "<relaysvrlist>127.0.0.1:8000</relaysvrlist>" +
                           inner + "</xml>"));
}

class CloudTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        page->FillGroupCombo();
        page->SetCloudServicePort(cloud.port());
        Click(Dlg::IDC_RADIO_P2P);
        ChooseGroup("Yard");
        Type(Dlg::IDC_EDIT_ADDR, "DEV1.127.0.0.1");
    }
    int AddCloud(int reAdd = 0)
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", Journal().c_str());
        return page->AddCloudDevice(reAdd);
    }
    fakecloud::FakeCloudServer cloud;
};

TEST_F(CloudTest, RecorderRowsFromTheDescription)
{
    cloud.Script({Body("<err>0</err>" + Nvr(4, "1011"))});
    EXPECT_EQ(AddCloud(), 0);
    EXPECT_EQ(LastMsg(), Str(609));
    ASSERT_EQ(Names(), (std::vector<std::string>{"Yard NVR", "Channel-1", "Channel-2", "Channel-3", "Channel-4"}));
    const int online[] = {0, 1, 0, 1, 1};
    int i = 0;
    for (const DeviceInfo& d : g_lstDevInfo) {
        SCOPED_TRACE(d.DevName);
        EXPECT_EQ(d.Online, online[i]);
        EXPECT_EQ(d.CfgPort, 9001);
        EXPECT_EQ(d.PtzPort, 9000);
        EXPECT_EQ(d.VideoPort, 8999);
        EXPECT_EQ(d.VisitMod, 3);
        EXPECT_EQ(d.nPltDev, 1);
        EXPECT_EQ(d.RtpOverRtsp, 2);
        EXPECT_STREQ(d.GroupName, "Yard");
        EXPECT_STREQ(d.LoginPsw, "580317");
        EXPECT_STREQ(d.DevDomainName, "DEV1.127.0.0.1");
        EXPECT_EQ(d.CurNVRChannel, i);
        EXPECT_EQ(d.P2pLoginId > 0, i == 0); // only the recorder logs in
        EXPECT_NE(d.pRtspEvent1, nullptr);
        ++i;
    }
    EXPECT_EQ(JournalCalls(Journal(), {"StreamPullControl::AddStream\t"}),
              std::vector<std::string>{"StreamPullControl::AddStream\tp2p://DEV1@127.0.0.1/mpeg4cif#127.0.0.1:8000-0"
                                       "\\r\\nonlylogin=true\tadmin\t***\t2"});
    const auto requests = cloud.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("/client/getdevinfo.php"), std::string::npos);
    EXPECT_NE(devcfgtest::ReadFile(DevInfoPath()).find(">Channel-4</DevName>"), std::string::npos);
}

TEST_F(CloudTest, CameraOnTheClientsNetworkUsesItsLanAddress)
{
    const std::string reg = "&lt;r&gt;&lt;network&gt;&lt;ip&gt;192.168.1.5&lt;/ip&gt;&lt;video&gt;554&lt;/video&gt;"
                            "&lt;ptz&gt;8091&lt;/ptz&gt;&lt;/network&gt;&lt;/r&gt;";
    cloud.Script({Body("<ls><DevID>DEV1</DevID><devtype>100</devtype><devip>1.2.3.4</devip>"
                       "<devvideoport>7000</devvideoport><devreginfo>" +
                       reg + "</devreginfo></ls>")});
    EXPECT_EQ(AddCloud(), 0);
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    const DeviceInfo& d = g_lstDevInfo.front();
    EXPECT_STREQ(d.IPAddr, "192.168.1.5");
    EXPECT_EQ(d.VideoPort, 554);
    EXPECT_EQ(d.PtzPort, 8091);
    EXPECT_STREQ(d.DevName, "DEV1"); // no name: the id
    EXPECT_EQ(JournalCalls(Journal(), {"StreamPullControl::AddStream\t"}),
              std::vector<std::string>{"StreamPullControl::AddStream\tp2p://DEV1@127.0.0.1/mpeg4cif#127.0.0.1:8000"
                                       "\\r\\nonlylogin=true\tadmin\t***\t1"});
}

TEST_F(CloudTest, RefusedOrBrokenRepliesAddNothing)
{
    struct Case {
        const char* label;
        fakecloud::Exchange reply;
        std::string msg;
    };
    const Case cases[] = {
        // Rows read before the error must not stay.
        {"wrong password", Body(Nvr(2, "11") + "<err>-8378952</err>"), Str(1444) + "," + Str(1505) + "!"},
        {"other error", Body("<err>7</err>" + Nvr(2, "11")), Str(1444)},
        {"connection closed", fakecloud::Exchange{fakecloud::Exchange::Close, "", false, 0, 0}, Str(1444)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ClearMsg();
        cloud.Script({c.reply});
        EXPECT_EQ(AddCloud(), -7);
        EXPECT_EQ(LastMsg(), c.msg);
        EXPECT_TRUE(g_lstDevInfo.empty());
    }
}

TEST_F(CloudTest, HugeChannelCountIsBounded)
{
    cloud.Script({Body("<err>0</err>" + Nvr(100000, "1"))});
    EXPECT_EQ(AddCloud(), 0);
    EXPECT_EQ(g_lstDevInfo.size(), 65u);
    EXPECT_STREQ(g_lstDevInfo.back().DevName, "Channel-64");
}

TEST_F(CloudTest, FormChecksComeBeforeAnyRequest)
{
    struct Case {
        const char* domain;
        const char* login;
        const char* psw;
        int result;
    };
    const Case cases[] = {
        {"", "admin", "pw", -2}, {"DEV1.x", "  ", "pw", -3}, {"DEV1.x", "admin", "", -4},
        {".x", "admin", "pw", -4}, {"DEV1.", "admin", "pw", -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.domain);
        Type(Dlg::IDC_EDIT_ADDR, c.domain);
        Type(Dlg::IDC_EDIT_LOGIN, c.login);
        Type(Dlg::IDC_EDIT_PSW, c.psw);
        EXPECT_EQ(AddCloud(), c.result);
    }
    g_lstDevInfo.push_back(Row("Yard", "DEV1", "Old"));
    Type(Dlg::IDC_EDIT_ADDR, "DEV1.127.0.0.1");
    Type(Dlg::IDC_EDIT_LOGIN, "admin");
    Type(Dlg::IDC_EDIT_PSW, "pw");
    AnswerBox(IDOK);
    EXPECT_EQ(AddCloud(), -6);
    EXPECT_EQ(boxText, Str(1476));
    EXPECT_TRUE(cloud.Requests().empty());
}

TEST_F(CloudTest, ChangeKeepsTheOldRowsUntilTheServiceAnswers)
{
    DeviceInfo old = Row("Yard", "DEV1", "Old NVR", 4);
    old.nPltDev = 1;
    g_lstDevInfo.push_back(old);
    cloud.Script({fakecloud::Exchange{fakecloud::Exchange::Close, "", false, 0, 0}});
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(1444));
    EXPECT_EQ(Names(), std::vector<std::string>{"Old NVR"});

    cloud.Script({Body("<err>0</err>" + Nvr(1, "1"))});
    Click(Dlg::IDC_BTN_DEV_MODIFY);
    EXPECT_EQ(LastMsg(), Str(614));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Yard NVR", "Channel-1"}));
}

TEST_F(CloudTest, DeleteTakesTheRecorderWithItsChannels)
{
    cloud.Script({Body("<err>0</err>" + Nvr(2, "11"))});
    ASSERT_EQ(AddCloud(), 0);
    g_lstDevInfo.push_back(Row("Yard", "KEEP", "Keep"));
    Click(Dlg::IDC_BTN_DEV_DEL);
    EXPECT_EQ(LastMsg(), Str(610));
    EXPECT_EQ(Names(), std::vector<std::string>{"Keep"});
    Click(Dlg::IDC_BTN_DEV_DEL);
    EXPECT_EQ(LastMsg(), Str(611));

    ClearMsg();
    g_lstDevInfo.push_back(Row("Yard", "DEV2", "Quiet"));
    g_lstDevInfo.back().nPltDev = 1;
    page->DeleteCloudDevice("DEV2", 0); // a notice: removed, nothing shown
    EXPECT_EQ(Names(), std::vector<std::string>{"Keep"});
    EXPECT_EQ(LastMsg(), "");
}

class OnvifAddTest : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        page->FillGroupCombo();
        Click(Dlg::IDC_RADIO_ONVIF);
        ChooseGroup("Yard");
        Type(Dlg::IDC_EDIT_DEVNAME, "Door");
        Type(Dlg::IDC_EDIT_ADDR, "127.0.0.1");
        OVF_SetSearchWaitMs(1500);
    }
    void TearDown() override
    {
        page->JoinOnvifQueries();
        OVF_SetProbeTarget("");
        PageTest::TearDown();
    }
};

TEST_F(OnvifAddTest, CameraUpGetsItsServiceAddressOnTheSupervisionList)
{
    fakeonvif::Camera cam;
    cam.Start();
    OVF_SetProbeTarget(cam.StartDiscovery().c_str());
    Click(Dlg::IDC_BTN_DEV_ADD);
    EXPECT_EQ(LastMsg(), Str(609));
    page->JoinOnvifQueries();
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    const DeviceInfo& d = g_lstDevInfo.front();
    EXPECT_EQ(d.OnvifDev, 1);
    EXPECT_STREQ(d.DevId, "127.0.0.1");
    EXPECT_EQ(d.PtzAddr, 1);
    EXPECT_EQ(d.AuxPtzId, 0); // not registered with the device control
    EXPECT_EQ(std::string(d.OnvifSerAddr), cam.DeviceUrl());
    EXPECT_EQ(host->onvifEntries, std::vector<std::string>{"127.0.0.1 " + cam.DeviceUrl()});
    EXPECT_FALSE(host->Called("TS_NotifyUpdateDeviceList"));

    Type(Dlg::IDC_EDIT_DEVNAME, "Other");
    Click(Dlg::IDC_BTN_DEV_ADD); // same address
    EXPECT_EQ(LastMsg(), Str(608));
}

TEST_F(OnvifAddTest, CameraDownStaysListedWithoutServiceAddress)
{
    OVF_SetProbeTarget("127.0.0.1:9"); // nobody answers
    OVF_SetSearchWaitMs(100);
    Click(Dlg::IDC_BTN_DEV_ADD);
    page->JoinOnvifQueries();
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_STREQ(g_lstDevInfo.front().OnvifSerAddr, "");
    EXPECT_TRUE(host->onvifEntries.empty());
    Type(Dlg::IDC_EDIT_LOGIN, "");
    Type(Dlg::IDC_EDIT_DEVNAME, "Other");
    Click(Dlg::IDC_BTN_DEV_ADD);
    EXPECT_EQ(LastMsg(), Str(613));
}

} // namespace
