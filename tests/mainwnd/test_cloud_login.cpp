// The cloud login: the reply parser (types, recorders and their channels,
// LAN addresses, carried P2P servers, bounds) and the import against a fake
// account service on 127.0.0.1, where a refusal must leave the local devices.
#include "mainwnd/cloud_login.h"

#include "core/cloud_client.h"
#include "core/helpers.h"
#include "core/recinfo.h"
#include "tests/core/config_test_util.h"
#include "tests/support/fake_cloud_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using cloudlogin::Reply;

std::vector<const DeviceInfo*> Records(const Reply& r)
{
    std::vector<const DeviceInfo*> v;
    for (const DeviceInfo& d : r.devices)
        v.push_back(&d);
    return v;
}

Reply Parse(const std::string& body, bool digestPass = false)
{
    Reply r;
    cloudlogin::ParseReply(body.c_str(), "cloud.test", digestPass, r);
    return r;
}

std::string Ls(const std::string& inner)
{
    return "<ls>" + inner + "</ls>";
}

TEST(CloudReplyTest, DeviceTypeCodes)
{
    struct Case {
        int code, type, second;
    } cases[] = {{100, 1, 0}, {200, 4, 0}, {201, 4, 1}, {300, 0, 0}, {400, 4, 0}, {500, 0, 0}, {0, 0, 0}};
    for (const Case& c : cases) {
        const Reply r = Parse("<xml><err>0</err>" +
                              Ls("<DevID>d</DevID><devip>1.2.3.4</devip><devtype>" + std::to_string(c.code) +
                                 "</devtype>") +
                              "</xml>");
        ASSERT_GE(r.devices.size(), 1u) << c.code;
        EXPECT_EQ(r.devices.front().DevType, c.type) << c.code;
        EXPECT_EQ(r.devices.front().V4Device, c.second) << c.code;
    }
}

TEST(CloudReplyTest, CameraRecordAndItsFixedFields)
{
    const Reply r = Parse("<xml><err>0</err><msg>hi</msg><ip>9.9.9.9</ip><p2pserver>p2p.a</p2pserver>"
                          "<relaysvrlist>r1;r2</relaysvrlist>" +
                          Ls("<DevID>ID1</DevID><devsn>SN1</devsn><devname>前门</devname><devtype>100</devtype>"
                             "<devip>5.6.7.8</devip><devwebport>80</devwebport><devptzport>6000</devptzport>"
                             "<devvideoport>554</devvideoport><devisonline>3</devisonline>"
                             "<devloginuser>u</devloginuser><devloginpass>pw</devloginpass>") +
                          "</xml>");
    ASSERT_EQ(r.devices.size(), 1u);
    const DeviceInfo& d = r.devices.front();
    EXPECT_STREQ(d.DevId, "ID1");
    EXPECT_STREQ(d.DevSN, "SN1");
    EXPECT_STREQ(d.DevName, "前门");
    EXPECT_STREQ(d.IPAddr, "5.6.7.8");
    EXPECT_EQ(d.WebPort, 80);
    EXPECT_EQ(d.PtzPort, 6000);
    EXPECT_EQ(d.VideoPort, 554);
    EXPECT_EQ(d.Online, 1);
    EXPECT_STREQ(d.LoginName, "u");
    EXPECT_STREQ(d.LoginPsw, "pw");
    EXPECT_EQ(d.nPltDev, 1);
    EXPECT_EQ(d.RtpOverRtsp, 1);
    EXPECT_STREQ(d.Resolution, "cif");
    EXPECT_STREQ(d.DefRes, "cif");
    EXPECT_STREQ(d.GroupName, "Default");
    EXPECT_EQ(d.UseP2P, 1);
    EXPECT_EQ(d.VisitMod, 3);
    EXPECT_STREQ(d.p2pSvr, "p2p.a");
    EXPECT_STREQ(d.p2pSvrList, "r1;r2");
    EXPECT_STREQ(d.DevDomainName, "ID1.cloud.test");
    EXPECT_EQ(r.ip, "9.9.9.9");
    EXPECT_EQ(r.msg, "hi");

    char digest[33];
    Md5HexUpper("pw", digest);
    const Reply hashed = Parse("<xml>" + Ls("<DevID>x</DevID><devip>1.1.1.1</devip><devloginpass>pw</devloginpass>") +
                               "</xml>", true);
    EXPECT_STREQ(hashed.devices.front().LoginPsw, digest);
}

TEST(CloudReplyTest, RecorderWithChannelRowsPortsAndStates)
{
    const std::string nvr = "<DevID>N</DevID><devtype>200</devtype><devip>5.6.7.8</devip>"
                            "<devvideoport>8000</devvideoport><devptzport>9000</devptzport>"
                            "<devchannelcount>4</devchannelcount><devchannelstate>1011</devchannelstate>";
    for (int online : {1, 0}) {
        const Reply r = Parse("<xml>" + Ls(nvr + "<devisonline>" + std::to_string(online) + "</devisonline>") +
                              "</xml>");
        const auto v = Records(r);
        ASSERT_EQ(v.size(), 5u);
        EXPECT_EQ(v[0]->CurNVRChannel, 0);
        EXPECT_STREQ(v[0]->DevName, "N");
        EXPECT_EQ(v[0]->CfgPort, 9000);
        EXPECT_EQ(v[0]->PtzPort, 8000);
        EXPECT_EQ(v[0]->VideoPort, 7999);
        EXPECT_EQ(v[0]->RtpOverRtsp, 2);
        const int expect[] = {1, 0, 1, 1};
        for (int i = 1; i <= 4; ++i) {
            EXPECT_EQ(v[i]->CurNVRChannel, i);
            EXPECT_EQ(v[i]->DevName, "Channel-" + std::to_string(i));
            EXPECT_EQ(v[i]->Online, online ? expect[i - 1] : 0) << i;
            EXPECT_EQ(v[i]->VideoPort, 7999);
        }
    }
}

TEST(CloudReplyTest, ChannelCountStateAndTextsAreBounded)
{
    const std::string longText(5000, 'x');
    const Reply r = Parse("<xml>" +
                          Ls("<DevID>" + longText + "</DevID><devname>" + longText + "</devname><devtype>400</devtype>"
                             "<devip>" + longText + "</devip><devisonline>1</devisonline>"
                             "<devchannelcount>100000</devchannelcount>"
                             "<devchannelstate>" + std::string(200, '1') + "</devchannelstate>"
                             "<devloginpass>" + longText + "</devloginpass><devsn>" + longText + "</devsn>") +
                          Ls("<DevID>neg</DevID><devtype>200</devtype><devip>1.1.1.1</devip>"
                             "<devchannelcount>-5</devchannelcount><devvideoport>-99999999999</devvideoport>") +
                          "</xml>");
    const auto v = Records(r);
    ASSERT_EQ(v.size(), 1u + cloudlogin::kMaxNvrChannels + 1u);
    EXPECT_EQ(v[0]->NVRChannels, cloudlogin::kMaxNvrChannels);
    EXPECT_EQ(std::strlen(v[0]->DevName), 256u); // at most 256 characters of the name
    EXPECT_EQ(std::strlen(v[0]->DevId), sizeof(v[0]->DevId) - 1);
    EXPECT_EQ(std::strlen(v[0]->LoginPsw), sizeof(v[0]->LoginPsw) - 1);
    EXPECT_EQ(std::strlen(v[0]->DevSN), sizeof(v[0]->DevSN) - 1);
    EXPECT_EQ(v[cloudlogin::kMaxNvrChannels]->Online, 1);
    EXPECT_EQ(v.back()->NVRChannels, 0);
    EXPECT_STREQ(v.back()->DevId, "neg");

    // a name that does not fit is cut at a character, never inside one
    std::string names;
    for (int i = 0; i < 300; ++i)
        names += "摄";
    const Reply wide = Parse("<xml>" + Ls("<DevID>w</DevID><devip>1.1.1.1</devip><devname>" + names +
                                          "</devname>") + "</xml>");
    const char* cut = wide.devices.front().DevName;
    EXPECT_TRUE(qelm::IsValidUtf8(cut));
    EXPECT_EQ(std::strlen(cut), 127u * 3); // whole characters up to the field's size
}

TEST(CloudReplyTest, LanAddressP2pServerCarriedAndSkippedDevices)
{
    const std::string reg = "&lt;reg&gt;&lt;network&gt;&lt;ip&gt;192.168.1.9&lt;/ip&gt;&lt;web&gt;81&lt;/web&gt;"
                            "&lt;ptz&gt;6001&lt;/ptz&gt;&lt;ph&gt;1&lt;/ph&gt;&lt;video&gt;555&lt;/video&gt;"
                            "&lt;/network&gt;&lt;/reg&gt;";
    const Reply r = Parse("<xml><ip>9.9.9.9</ip><p2pserver>first</p2pserver>" +
                          Ls("<DevID>a</DevID><devip>9.9.9.9</devip><devwebport>80</devwebport>"
                             "<devptzport>6000</devptzport><devvideoport>554</devvideoport><devreginfo>" + reg +
                             "</devreginfo>") +
                          Ls("<DevID>b</DevID><devip>8.8.8.8</devip><p2pserver>second</p2pserver><devreginfo>" +
                             reg + "</devreginfo><devptzport>6000</devptzport>") +
                          Ls("<DevID>skipped</DevID><devname>no address</devname>") +
                          Ls("<DevID>c</DevID><devip>7.7.7.7</devip><devname></devname>") + "</xml>");
    const auto v = Records(r);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_STREQ(v[0]->IPAddr, "192.168.1.9");
    EXPECT_EQ(v[0]->WebPort, 81);
    EXPECT_EQ(v[0]->PtzPort, 6001);
    EXPECT_EQ(v[0]->VideoPort, 555);
    EXPECT_STREQ(v[0]->p2pSvr, "first");
    EXPECT_STREQ(v[1]->IPAddr, "8.8.8.8"); // another network: its public address
    EXPECT_EQ(v[1]->PtzPort, 6000);
    EXPECT_STREQ(v[1]->p2pSvr, "second");
    EXPECT_STREQ(v[2]->p2pSvr, "second");
    EXPECT_STREQ(v[2]->DevName, "c");
}

TEST(CloudReplyTest, ErrStopsTheWalkAndNonXmlIsAnEmptySuccess)
{
    const Reply refused = Parse("<xml><err>1</err>" + Ls("<DevID>a</DevID><devip>1.1.1.1</devip>") + "</xml>");
    EXPECT_EQ(refused.err, 1);
    EXPECT_TRUE(refused.devices.empty());
    const Reply late = Parse("<xml>" + Ls("<DevID>a</DevID><devip>1.1.1.1</devip>") + "<err>7</err>" +
                             Ls("<DevID>b</DevID><devip>1.1.1.1</devip>") + "</xml>");
    EXPECT_EQ(late.err, 7);
    EXPECT_EQ(late.devices.size(), 1u);
    for (const char* body : {"not xml at all", "", "<a><b></a>"}) {
        const Reply r = Parse(body);
        EXPECT_EQ(r.err, 0) << body;
        EXPECT_TRUE(r.devices.empty()) << body;
    }
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    EXPECT_TRUE(Parse("<xml>" + deep + "</xml>").devices.empty());
}

// The import against a fake account service.
class CloudImportTest : public cfgtest::ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        SetCloudTimeout(2000);
        SetCloudReportServer("127.0.0.1", m_report.port());
        DeviceInfo local{};
        std::strcpy(local.DevName, "local-camera");
        std::strcpy(local.IPAddr, "127.0.0.5");
        g_lstDevInfo.push_back(local);
        Write("RecInfo.xml", "<?xml version=\"1.0\" encoding=\"gb2312\" ?><RecInfo><RecScheme>"
                             "<SchemeName>night</SchemeName><StoragePath1>/tmp/</StoragePath1></RecScheme></RecInfo>");
        LoadRecInfo();
        ASSERT_FALSE(g_lstRecSchemeInfo.empty());
        m_plan = g_lstRecSchemeInfo.front();
        m_plan->lstDev.push_back(&g_lstDevInfo.front());
    }
    void TearDown() override
    {
        SetCloudTimeout(0);
        SetCloudReportServer(nullptr, 0);
        ResetCloudSession();
        ConfigTest::TearDown();
    }
    void Script(const std::string& loginBody)
    {
        m_server.Script({fakecloud::Reply(fakecloud::Http("<xml><rnd>15</rnd></xml>", "Set-Cookie: s=1\r\n")),
                         fakecloud::Reply(fakecloud::Http(loginBody))});
        m_report.Script({fakecloud::Reply(fakecloud::Http("<xml><err>0</err></xml>"))});
    }
    fakecloud::FakeCloudServer m_server;
    fakecloud::FakeCloudServer m_report;
    RecScheme* m_plan = nullptr;
};

TEST_F(CloudImportTest, AcceptedAccountReplacesDevicesAndReloadsPlans)
{
    Script("<xml><err>0</err><ip>1.1.1.1</ip>" +
           Ls("<DevID>c1</DevID><devtype>100</devtype><devip>2.2.2.2</devip><devisonline>1</devisonline>") +
           Ls("<DevID>c2</DevID><devtype>100</devtype><devip>2.2.2.3</devip>") +
           Ls("<DevID>n1</DevID><devtype>200</devtype><devip>2.2.2.4</devip><devisonline>1</devisonline>"
              "<devchannelcount>2</devchannelcount><devchannelstate>10</devchannelstate>") +
           "</xml>");
    const auto outcome = cloudlogin::LoginAndImport("127.0.0.1", m_server.port(), "acct", "DIGEST");
    EXPECT_TRUE(outcome.ok());
    std::vector<std::string> names;
    for (const DeviceInfo& d : g_lstDevInfo)
        names.push_back(d.DevName);
    EXPECT_EQ(names, (std::vector<std::string>{"c1", "c2", "n1", "Channel-1", "Channel-2"}));
    ASSERT_FALSE(g_lstRecSchemeInfo.empty());
    for (RecScheme* plan : g_lstRecSchemeInfo)
        EXPECT_TRUE(plan->lstDev.empty()) << "plans read again, none refers to a removed record";
    EXPECT_EQ(m_server.Requests().size(), 2u);
    ASSERT_EQ(m_report.Requests().size(), 1u);
    EXPECT_NE(m_report.Requests()[0].find("POST /report/postphonepv.php"), std::string::npos);
}

TEST_F(CloudImportTest, RefusedOrFailedLoginLeavesTheLocalDevicesAndPlans)
{
    Script("<xml><err>3</err>" + Ls("<DevID>c1</DevID><devip>2.2.2.2</devip>") + "</xml>");
    auto outcome = cloudlogin::LoginAndImport("127.0.0.1", m_server.port(), "acct", "DIGEST");
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.err, 3);
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_STREQ(g_lstDevInfo.front().DevName, "local-camera");
    ASSERT_EQ(g_lstRecSchemeInfo.front(), m_plan);
    EXPECT_EQ(m_plan->lstDev.front(), &g_lstDevInfo.front());

    // nobody listens: the exchange fails
    const int port = m_server.port();
    m_server.Script({fakecloud::Exchange{fakecloud::Exchange::Close, {}, false}});
    outcome = cloudlogin::LoginAndImport("127.0.0.1", port, "acct", "DIGEST");
    EXPECT_NE(outcome.code, 0);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_EQ(g_lstRecSchemeInfo.front(), m_plan);
}

} // namespace
