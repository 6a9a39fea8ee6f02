// The alarm-server UDP session against a fake alarm server on 127.0.0.1,
// with the steady clock moved by the test hook for the 7 s and 22 s rules.
#include "alarm_server_fixture.h"

#include "alarms/udp_login.h"
#include "platform/clock.h"
#include "platform/wnd.h"
#include "tests/support/scoped_env.h"

#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using alarmtest::Bytes;
using alarmtest::FakeAlarmServer;
using alarmtest::WaitFor;

// The owner: keeps the end reasons and the notices posted to it.
class OwnerWnd : public CWnd {
public:
    OwnerWnd() { CreateHandle(); }
    std::vector<int> ends;
    std::vector<Bytes> notices;
    LRESULT OnLinkEnd(WPARAM w, LPARAM)
    {
        ends.push_back(static_cast<int>(w));
        return 0;
    }
    LRESULT OnNotify(WPARAM w, LPARAM l)
    {
        std::unique_ptr<uint8_t[]> block(reinterpret_cast<uint8_t*>(l));
        EXPECT_EQ(w, 2u);
        notices.emplace_back(block.get(), block.get() + 1232);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(OwnerWnd, CWnd)
    ON_MESSAGE(WM_CLOUD_LINK_END, &OwnerWnd::OnLinkEnd)
    ON_MESSAGE(WM_CLOUD_NOTIFY, &OwnerWnd::OnNotify)
END_MESSAGE_MAP()

class UdpLoginTest : public testing::Test {
protected:
    void TearDown() override
    {
        if (session)
            session->Stop();
        qelm::ResetTestClock();
    }
    void Start(FakeAlarmServer& server, const char* user = "user", const char* host = "127.0.0.1")
    {
        session = std::make_unique<CUdpLogin>(user, "secret", host, server.port());
        session->SetOwnerWnd(owner.m_hWnd);
        ASSERT_TRUE(session->Start());
    }
    // Moves the clock and waits until the session has looked at it.
    void Advance(int ms) { qelm::AdvanceTestClock(std::chrono::milliseconds(ms)); }

    qelmtest::ScopedEnv loopback{"QELM2_LOOPBACK_ONLY", "1"};
    OwnerWnd owner;
    std::unique_ptr<CUdpLogin> session;
};

TEST_F(UdpLoginTest, LoginKeepAliveAndLogout)
{
    FakeAlarmServer server;
    const std::string user(40, 'u');
    Start(server, user.c_str());
    ASSERT_TRUE(WaitFor([&] { return !server.ReceivedCommand(udpmsg::kCmdLogin).empty(); }));
    const Bytes login = server.ReceivedCommand(udpmsg::kCmdLogin)[0];
    ASSERT_EQ(login.size(), 80u);
    EXPECT_EQ(std::string(login.begin(), login.begin() + 4), "kwzd");
    EXPECT_EQ(udpmsg::ReadU32(login.data() + 4), 64u);
    EXPECT_EQ(udpmsg::ReadU16(login.data() + 8), 16u);
    EXPECT_EQ(udpmsg::ReadU32(login.data() + 12), 0u);
    EXPECT_EQ(std::string(login.begin() + 16, login.begin() + 48), std::string(32, 'u')); // cut, no end
    EXPECT_EQ(std::string(login.begin() + 48, login.begin() + 54), std::string("secret"));
    EXPECT_EQ(login[54], 0);

    // No session id yet: no keep-alive however long it waits.
    Advance(8000);
    Bytes marker = FakeAlarmServer::Packet(99, 16); // ignored by the client; proves a loop pass
    server.Send(marker);
    server.Send(FakeAlarmServer::LoginRsp(0, 0, 0, 159)); // too short: ignored
    QThread::msleep(50);
    EXPECT_TRUE(server.ReceivedCommand(udpmsg::kCmdKeepAlive).empty());

    server.Send(FakeAlarmServer::LoginRsp(0, 0x11, 0x22));
    ASSERT_TRUE(WaitFor([&] { return session->SessionId1() == 0x11; }));
    EXPECT_EQ(session->SessionId2(), 0x22u);
    ASSERT_TRUE(WaitFor([&] { return !server.ReceivedCommand(udpmsg::kCmdKeepAlive).empty(); }));
    const Bytes keep = server.ReceivedCommand(udpmsg::kCmdKeepAlive)[0];
    ASSERT_EQ(keep.size(), 24u);
    EXPECT_EQ(udpmsg::ReadU32(keep.data() + 16), 0x11u);
    EXPECT_EQ(udpmsg::ReadU32(keep.data() + 20), 0x22u);

    Advance(7000);
    ASSERT_TRUE(WaitFor([&] { return server.ReceivedCommand(udpmsg::kCmdKeepAlive).size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(owner.ends.empty());

    session->Logout();
    ASSERT_TRUE(WaitFor([&] { return !server.ReceivedCommand(udpmsg::kCmdLogout).empty(); }));
    const Bytes logout = server.ReceivedCommand(udpmsg::kCmdLogout)[0];
    ASSERT_EQ(logout.size(), 88u);
    EXPECT_EQ(udpmsg::ReadU32(logout.data() + 80), 0x11u);
    EXPECT_EQ(udpmsg::ReadU32(logout.data() + 84), 0x22u);
    EXPECT_EQ(session->SessionId1(), 0u);
    session->Logout(); // nothing held: nothing sent
    session->Stop();   // stopped by its owner: no end message
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_TRUE(owner.ends.empty());
    EXPECT_EQ(server.ReceivedCommand(udpmsg::kCmdLogout).size(), 1u);
}

TEST_F(UdpLoginTest, NoAnswerEndsAfter22Seconds)
{
    FakeAlarmServer server;
    Start(server);
    ASSERT_TRUE(WaitFor([&] { return server.HasClient(); }));
    Advance(21000);
    QThread::msleep(30);
    QCoreApplication::processEvents();
    EXPECT_TRUE(owner.ends.empty());
    Advance(1000);
    ASSERT_TRUE(WaitFor([&] { return !owner.ends.empty(); }));
    EXPECT_EQ(owner.ends, std::vector<int>{kLinkTimeout});
}

TEST_F(UdpLoginTest, RefusedLoginPostsSevenOnce)
{
    FakeAlarmServer server([](const Bytes& b) {
        std::vector<Bytes> r;
        if (udpmsg::ReadU16(b.data() + 10) == udpmsg::kCmdLogin) {
            r.push_back(FakeAlarmServer::LoginRsp(1, 5, 6));
            r.push_back(FakeAlarmServer::LoginRsp(1, 5, 6));
        }
        return r;
    });
    Start(server);
    ASSERT_TRUE(WaitFor([&] { return !owner.ends.empty(); }));
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(owner.ends, std::vector<int>{kLinkRefused});
    EXPECT_EQ(session->SessionId1(), 0u);
}

TEST_F(UdpLoginTest, NoticesAreCutOrDropped)
{
    FakeAlarmServer server;
    Start(server);
    ASSERT_TRUE(WaitFor([&] { return server.HasClient(); }));
    Bytes longNotice = FakeAlarmServer::Notice(~0ull, 100001002, "ip:1.2.3.4", 1300);
    longNotice[1299] = 0x5A;
    server.Send(FakeAlarmServer::Notice(7, 100001003, "x", 1000)); // too short: dropped
    server.Send(longNotice);
    ASSERT_TRUE(WaitFor([&] { return !owner.notices.empty(); }));
    QThread::msleep(30);
    QCoreApplication::processEvents();
    ASSERT_EQ(owner.notices.size(), 1u);
    EXPECT_EQ(owner.notices[0], Bytes(longNotice.begin(), longNotice.begin() + 1232));
    EXPECT_TRUE(owner.ends.empty());
}

TEST_F(UdpLoginTest, DatagramLongerThanTheBufferEndsTheSession)
{
    FakeAlarmServer server;
    Start(server);
    ASSERT_TRUE(WaitFor([&] { return server.HasClient(); }));
    server.Send(FakeAlarmServer::Notice(7, 100001002, "", 1600));
    ASSERT_TRUE(WaitFor([&] { return !owner.ends.empty(); }));
    EXPECT_EQ(owner.ends, std::vector<int>{kLinkRecvFailed});
    EXPECT_TRUE(owner.notices.empty());
}

TEST_F(UdpLoginTest, HostsThatCannotBeReached)
{
    FakeAlarmServer server;
    for (const char* host : {"", "alarm.example.com", "10.1.2.3"}) {
        SCOPED_TRACE(host);
        owner.ends.clear();
        Start(server, "user", host);
        ASSERT_TRUE(WaitFor([&] { return !owner.ends.empty(); }));
        EXPECT_EQ(owner.ends, std::vector<int>{kLinkNoHost});
        session->Stop();
    }
    EXPECT_TRUE(server.Received().empty());
}

TEST(UdpPackets, ServerPacketKinds)
{
    struct Case {
        Bytes data;
        udpmsg::ServerPacket::Kind kind;
    };
    const Case cases[] = {
        {Bytes(15, 0), udpmsg::ServerPacket::Ignored},
        {FakeAlarmServer::LoginRsp(0, 1, 2, 159), udpmsg::ServerPacket::Ignored},
        {FakeAlarmServer::LoginRsp(0, 1, 2), udpmsg::ServerPacket::LoginAccepted},
        {FakeAlarmServer::LoginRsp(3, 1, 2), udpmsg::ServerPacket::LoginRefused},
        {FakeAlarmServer::Packet(10, 16), udpmsg::ServerPacket::KeepAliveRsp},
        {FakeAlarmServer::Packet(2, 1231), udpmsg::ServerPacket::ShortNotice},
        {FakeAlarmServer::Packet(2, 1232), udpmsg::ServerPacket::Notice},
        {FakeAlarmServer::Packet(5, 80), udpmsg::ServerPacket::Ignored},
    };
    for (const Case& c : cases)
        EXPECT_EQ(udpmsg::ParseServerPacket(c.data.data(), c.data.size()).kind, c.kind) << c.data.size();
}

} // namespace
