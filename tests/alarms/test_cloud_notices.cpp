// Cloud device notices: from a fake alarm server on 127.0.0.1 through the
// session to the main window's handlers, with the device descriptions from
// a fake cloud service; and the restart of the session after its end.
#include "alarm_server_fixture.h"

#include "tests/devices/supervision_util.h"

#include "alarms/udp_login.h"
#include "devices/cloud_notices.h"
#include "platform/wnd.h"

#include <cstring>

namespace {

using alarmtest::Bytes;
using alarmtest::FakeAlarmServer;

// The main window's part: hands the session's messages to the handlers.
class MainWnd : public CWnd {
public:
    explicit MainWnd(CCloudNotices* n) : notices(n) { CreateHandle(); }
    CCloudNotices* notices;
    LRESULT OnLinkEnd(WPARAM w, LPARAM l) { return notices->OnCloudLinkEnd(w, l); }
    LRESULT OnNotify(WPARAM w, LPARAM l) { return notices->OnCloudNotify(w, l); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MainWnd, CWnd)
    ON_MESSAGE(WM_CLOUD_LINK_END, &MainWnd::OnLinkEnd)
    ON_MESSAGE(WM_CLOUD_NOTIFY, &MainWnd::OnNotify)
END_MESSAGE_MAP()

std::string RandomReply()
{
    const std::string body = "<xml><rnd>15</rnd></xml>";
    return "HTTP/1.1 200 OK\r\nSet-Cookie: PHPSESSID=abc; path=/\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Describe(const std::string& ls, const std::string& head = "<err>0</err><ip>1.2.3.4</ip>")
{
    return devtest::FakeCloud::Http("<xml>" + head + "<p2pserver>p2p.example</p2pserver>"
                                    "<relaysvrlist>r1;r2</relaysvrlist>" + ls + "</xml>");
}

LPARAM Block(uint64_t id, uint32_t type, const std::string& text)
{
    Bytes b = FakeAlarmServer::Notice(id, type, text);
    auto* block = new uint8_t[1232];
    std::memcpy(block, b.data(), 1232);
    return reinterpret_cast<LPARAM>(block);
}

class CloudNoticesTest : public testing::Test {
public:
    void SetUp() override
    {
        devtest::ResetAll();
        suptest::StartDrivers();
        SetDeviceServices(&host);
        CloudAccount a;
        a.user = "acct";
        a.password = "pw";
        a.cloudHost = "127.0.0.1";
        a.cloudPort = cloud.port();
        a.alarmHost = "127.0.0.1";
        a.alarmPort = alarm.port();
        notices.SetAccount(a);
        notices.SetOwner(wnd.m_hWnd);
        notices.SetSessionFactory([this](const char* u, const char* p, const char* h, int port, HWND owner) {
            ++sessions;
            auto s = std::make_unique<CUdpLogin>(u, p, h, port);
            s->SetOwnerWnd(owner);
            s->Start();
            return std::unique_ptr<ICloudSession>(std::move(s));
        });
    }
    void TearDown() override
    {
        notices.CloseSession();
        devtest::ResetAll();
    }
    int Count(const char* devId)
    {
        int n = 0;
        for (const DeviceInfo& d : g_lstDevInfo)
            n += std::strcmp(d.DevId, devId) == 0;
        return n;
    }
    DeviceInfo* First(const char* devId)
    {
        for (DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevId, devId) == 0)
                return &d;
        return nullptr;
    }

    qelmtest::ScopedEnv loopback{"QELM2_LOOPBACK_ONLY", "1"};
    suptest::Host host;
    devtest::FakeCloud cloud;
    FakeAlarmServer alarm{[](const Bytes& b) {
        std::vector<Bytes> r;
        if (udpmsg::ReadU16(b.data() + 10) == udpmsg::kCmdLogin)
            r.push_back(FakeAlarmServer::LoginRsp(0, 1, 2));
        return r;
    }};
    CCloudNotices notices;
    MainWnd wnd{&notices};
    int sessions = 0;
};

TEST_F(CloudNoticesTest, AddNoticeFromTheAlarmServer)
{
    const char* id = "18446744073709551615";
    const std::string ls = std::string("<ls><DevID>") + id +
                           "</DevID><devsn>S1</devsn><devname></devname><devtype>100</devtype>"
                           "<devip>5.6.7.8</devip><devptzport>0</devptzport><devisonline>1</devisonline>"
                           "<devloginuser>admin</devloginuser><devloginpass>x</devloginpass></ls>";
    cloud.Script({RandomReply(), Describe(ls), RandomReply(), Describe(ls)});
    notices.StartSession();
    ASSERT_TRUE(alarmtest::WaitFor([&] { return alarm.HasClient(); }));
    alarm.Send(FakeAlarmServer::Notice(~0ull, kCloudDevAdded, ""));
    ASSERT_TRUE(alarmtest::WaitFor([&] { return Count(id) == 1; }));
    DeviceInfo* d = First(id);
    EXPECT_STREQ(d->DevName, id); // an empty name becomes the id
    EXPECT_EQ(d->DevType, 1);
    EXPECT_EQ(d->nPltDev, 1);
    EXPECT_EQ(d->UseP2P, 1);
    EXPECT_EQ(d->VisitMod, 3);
    EXPECT_EQ(d->AuxPtzId, 0);
    EXPECT_STREQ(d->p2pSvr, "p2p.example");
    EXPECT_STREQ(d->p2pSvrList, "r1;r2");
    EXPECT_STREQ(d->GroupName, "Default");
    EXPECT_STREQ(d->Resolution, "cif");
    EXPECT_EQ(d->Online, 1);
    EXPECT_NE(d->pRtspEvent1, nullptr);

    // The same notice again: the device is there already.
    alarm.Send(FakeAlarmServer::Notice(~0ull, kCloudDevAdded2, ""));
    ASSERT_TRUE(alarmtest::WaitFor([&] { return cloud.Requests().size() >= 4; }));
    ASSERT_TRUE(alarmtest::WaitFor([&] {
        return std::count(host.calls.begin(), host.calls.end(), std::string("ReloadDevTrees")) >= 2;
    }));
    EXPECT_EQ(Count(id), 1);

    alarm.Send(FakeAlarmServer::Notice(~0ull, kCloudDevOffline, ""));
    ASSERT_TRUE(alarmtest::WaitFor([&] { return First(id)->Online == 0; }));
    alarm.Send(FakeAlarmServer::Notice(~0ull, kCloudDevRemoved, ""));
    ASSERT_TRUE(alarmtest::WaitFor([&] { return Count(id) == 0; }));
}

TEST_F(CloudNoticesTest, AddVariants)
{
    // Registration address and ports from devreginfo; a recorder of code 201;
    // a refused reply; a device known by serial.
    const std::string reg = "&lt;r&gt;&lt;network&gt;&lt;ip&gt;192.168.5.5&lt;/ip&gt;&lt;web&gt;81&lt;/web&gt;"
                            "&lt;ptz&gt;5001&lt;/ptz&gt;&lt;ph&gt;1&lt;/ph&gt;&lt;video&gt;555&lt;/video&gt;"
                            "&lt;/network&gt;&lt;/r&gt;";
    cloud.Script({RandomReply(),
                  Describe("<ls><DevID>41</DevID><devname>Rec</devname><devtype>201</devtype><devip>1.2.3.4</devip>"
                           "<devptzport>9000</devptzport><devloginuser>u</devloginuser><devloginpass>p</devloginpass>"
                           "<devreginfo>" + reg + "</devreginfo></ls>"),
                  RandomReply(), Describe("<ls><DevID>42</DevID><devip>1.1.1.1</devip></ls>", "<err>5</err>")});
    host.Take();
    notices.OnCloudNotify(2, Block(41, kCloudDevAdded, ""));
    DeviceInfo* d = First("41");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->DevType, 4);
    EXPECT_EQ(d->VisitMod, 1);
    EXPECT_EQ(d->RtpOverRtsp, 2);
    EXPECT_STREQ(d->IPAddr, "192.168.5.5");
    EXPECT_EQ(d->PtzPort, 5001);
    EXPECT_EQ(d->WebPort, 81);
    EXPECT_EQ(d->VideoPort, 555);
    EXPECT_GT(d->AuxPtzId, 0);
    notices.OnCloudNotify(2, Block(42, kCloudDevAdded, ""));
    EXPECT_EQ(Count("42"), 0);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"ReloadDevTrees", "ReloadDevTrees"}));
    notices.OnCloudNotify(3, Block(41, kCloudDevRemoved, "")); // not a notice
    EXPECT_EQ(Count("41"), 1);
}

TEST_F(CloudNoticesTest, AddressChangeReAddsWithFreshChannelState)
{
    DeviceInfo nvr = suptest::Dev("77", "Yard NVR", 4, "10.0.0.3", 0, 1);
    nvr.nPltDev = 1;
    nvr.NVRChannels = 2;
    std::strcpy(nvr.ChannelStates, "11");
    std::strcpy(nvr.GroupName, "Outside");
    std::strcpy(nvr.LoginName, "admin");
    std::strcpy(nvr.LoginPsw, "pw");
    nvr.WatchFlag = 1;
    g_lstDevInfo.push_back(nvr);
    for (int c = 1; c <= 2; ++c) {
        DeviceInfo ch = nvr;
        ch.CurNVRChannel = c;
        std::snprintf(ch.DevName, sizeof ch.DevName, "Channel-%d", c);
        g_lstDevInfo.push_back(ch);
    }
    host.Take();
    notices.OnCloudNotify(2, Block(77, kCloudDevMoved, "ip:10.1.2.3\r\nptz:8091\r\nweb:80\r\nvideo:554\r\nph:1"));
    ASSERT_EQ(Count("77"), 1);
    DeviceInfo* d = First("77");
    EXPECT_STREQ(d->IPAddr, "10.1.2.3");
    EXPECT_EQ(d->PtzPort, 8091);
    EXPECT_EQ(d->VideoPort, 554);
    EXPECT_STREQ(d->DevName, "Yard NVR");
    EXPECT_STREQ(d->GroupName, "Outside");
    EXPECT_EQ(d->WatchFlag, 0);
    // Its channel rows went with it: the next count must make them again.
    EXPECT_EQ(d->NVRChannels, 0);
    EXPECT_STREQ(d->ChannelStates, "");
    EXPECT_GT(d->AuxPtzId, 0);

    notices.OnCloudNotify(2, Block(77, kCloudDevMoved, "ip:10.1.2.4\r\nptz:1\r\nweb:80\r\nvideo:554"));
    EXPECT_EQ(Count("77"), 0); // four lines: removed, not added again

    // A text that fills its whole field without an end.
    auto* block = reinterpret_cast<uint8_t*>(Block(78, kCloudDevMoved, ""));
    std::memset(block + 28, 'A', 1204);
    g_lstDevInfo.push_back(suptest::Dev("78", "Full", 1, "10.0.0.8", 0));
    notices.OnCloudNotify(2, reinterpret_cast<LPARAM>(block));
    EXPECT_EQ(Count("78"), 0);
}

TEST_F(CloudNoticesTest, OnlineOfflineMarkTheFirstRecord)
{
    g_lstDevInfo.push_back(suptest::Dev("90", "Rec", 4, "10.0.0.3", 0, 0));
    DeviceInfo ch = suptest::Dev("90", "Channel-1", 4, "10.0.0.3", 0, 0);
    ch.CurNVRChannel = 1;
    g_lstDevInfo.push_back(ch);
    host.Take();
    notices.OnCloudNotify(2, Block(90, kCloudDevOnline, ""));
    EXPECT_EQ(devtest::FindDev("90", "Rec")->Online, 1);
    EXPECT_EQ(devtest::FindDev("90", "Channel-1")->Online, 0);
    notices.OnCloudNotify(2, Block(91, kCloudDevOffline, "")); // nobody: trees rebuilt anyway
    notices.OnCloudNotify(2, Block(90, kCloudDevNothing, ""));
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"ReloadDevTrees", "ReloadDevTrees"}));
}

class FakeSession : public ICloudSession {
public:
    explicit FakeSession(std::vector<std::string>* log) : m_log(log) { m_log->push_back("start"); }
    void Logout() override { m_log->push_back("logout"); }
    void Stop() override { m_log->push_back("stop"); }

private:
    std::vector<std::string>* m_log;
};

TEST_F(CloudNoticesTest, SessionEndsAndRestarts)
{
    std::vector<std::string> log;
    notices.SetSessionFactory([&](const char* u, const char*, const char* h, int port, HWND owner) {
        EXPECT_STREQ(u, "acct");
        EXPECT_STREQ(h, "127.0.0.1");
        EXPECT_EQ(port, alarm.port());
        EXPECT_EQ(owner, wnd.m_hWnd);
        return std::unique_ptr<ICloudSession>(new FakeSession(&log));
    });
    notices.SetBackoff(100, 400);
    notices.StartSession();
    notices.OnCloudLinkEnd(kLinkTimeout, 0); // a network end: again at once
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop", "start"}));

    log.clear();
    notices.OnCloudLinkEnd(kLinkNoHost, 0); // ended before the network: later
    EXPECT_EQ(log, std::vector<std::string>{"stop"});
    EXPECT_TRUE(notices.RestartPending());
    notices.OnCloudLinkEnd(kLinkNoHost, 0); // no session meanwhile: a stale end changes nothing
    ASSERT_TRUE(alarmtest::WaitFor([&] { return notices.HasSession(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"stop", "start"}));
    notices.OnCloudLinkEnd(kLinkNoSocket, 0);
    EXPECT_EQ(notices.NextBackoffMs(), 200); // doubles while ends stay quick
    ASSERT_TRUE(alarmtest::WaitFor([&] { return notices.HasSession(); }));

    log.clear();
    host.Take();
    notices.OnCloudLinkEnd(kLinkRefused, 0);
    notices.OnCloudLinkEnd(kLinkRefused, 0);
    EXPECT_EQ(log, std::vector<std::string>{"stop"});
    EXPECT_EQ(host.Take(), std::vector<std::string>{"ShowMsg 0 0 1433"});
    EXPECT_FALSE(notices.HasSession());
    EXPECT_FALSE(notices.RestartPending());

    notices.StartSession();
    log.clear();
    notices.CloseSession();
    EXPECT_EQ(log, (std::vector<std::string>{"logout", "stop"}));
    notices.OnCloudLinkEnd(kLinkTimeout, 0); // after the close: nothing restarts
    EXPECT_FALSE(notices.HasSession());
}

} // namespace
