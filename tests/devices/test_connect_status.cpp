// Connect-status reports of platform devices, with the steady clock moved by
// the test hook and a fake report service on 127.0.0.1.
#include "supervision_util.h"

#include "core/cloud_client.h"
#include "devices/connect_status.h"
#include "media/rtsp_events.h"
#include "platform/clock.h"

#include <QThread>

#include <cstring>

namespace {

class ConnectStatusTest : public testing::Test {
public:
    void SetUp() override
    {
        devtest::ResetAll();
        suptest::StartDrivers();
        SetDeviceServices(&host);
        SetCloudReportServer("127.0.0.1", cloud.port());
        for (const char* id : {"P1", "P2"}) {
            DeviceInfo d = suptest::Dev(id, id, 1, "10.0.0.1", 0);
            d.nPltDev = 1;
            d.UseP2P = std::strcmp(id, "P2") == 0;
            g_lstDevInfo.push_back(d);
        }
        g_lstDevInfo.push_back(suptest::Dev("L1", "L1", 1, "10.0.0.2", 0));
        for (DeviceInfo& d : g_lstDevInfo)
            d.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
        g_lstRcvStatus.clear();
        StartConnectStatusThread();
    }
    void TearDown() override
    {
        StopConnectStatusThread();
        g_lstRcvStatus.clear();
        for (_CONNECT_STATUS* r : g_lstConnectStatus)
            delete r;
        g_lstConnectStatus.clear();
        SetCloudReportServer(nullptr, 0);
        qelm::ResetTestClock();
        devtest::ResetAll();
    }
    static DeviceInfo& Rec(const char* id) { return *devtest::FindDev(id, id); }
    void Advance(int ms) { qelm::AdvanceTestClock(std::chrono::milliseconds(ms)); }
    // The form bodies the report service received, in order.
    std::vector<std::string> Bodies()
    {
        std::vector<std::string> out;
        for (const std::string& r : cloud.Requests()) {
            std::size_t at = r.find("\r\n\r\n");
            out.push_back(at == std::string::npos ? r : r.substr(at + 4));
        }
        return out;
    }
    void Reply(int n)
    {
        std::vector<std::string> replies(n, devtest::FakeCloud::Http("<xml><err>0</err></xml>"));
        cloud.Script(replies);
    }

    suptest::Host host;
    devtest::FakeCloud cloud;
};

TEST_F(ConnectStatusTest, OneReportAtTheFirstPassAfterEightSeconds)
{
    Reply(1);
    AddRcvStatus(Rec("P1"));
    AddRcvStatus(Rec("L1")); // not a platform device: no entry
    ASSERT_EQ(g_lstRcvStatus.size(), 1u);
    for (int ms : {1000, 2000, 4999}) {
        Advance(ms);
        OnConnectStatusTimer();
    }
    // 7,999 ms so far.
    EXPECT_EQ(g_lstRcvStatus.size(), 1u);
    Advance(1);
    OnConnectStatusTimer();
    EXPECT_TRUE(g_lstRcvStatus.empty());
    ASSERT_TRUE(devtest::WaitFor([&] { return Bodies().size() == 1; }));
    EXPECT_EQ(Bodies()[0], "devid=P1&constat=0&p2ptype=1");
    for (int i = 0; i < 12; ++i) { // the pane keeps showing it for 20 s
        Advance(1000);
        OnConnectStatusTimer();
    }
    QThread::msleep(150);
    EXPECT_EQ(Bodies().size(), 1u);
}

TEST_F(ConnectStatusTest, StopBeforeEightSecondsReportsAtOnceInStartOrder)
{
    Reply(3);
    AddRcvStatus(Rec("P2"));
    AddRcvStatus(Rec("P1"));
    Advance(3000);
    EXPECT_EQ(FlushRcvStatus("P1"), 0);
    ASSERT_TRUE(devtest::WaitFor([&] { return Bodies().size() == 1; }));
    EXPECT_EQ(Bodies()[0], "devid=P1&constat=0&p2ptype=1");
    AddRcvStatus(Rec("P1"));
    Advance(5000);
    OnConnectStatusTimer(); // P2 is due, the new P1 entry is not
    ASSERT_TRUE(devtest::WaitFor([&] { return Bodies().size() == 2; }));
    EXPECT_EQ(Bodies()[1], "devid=P2&constat=0&p2ptype=0");
    EXPECT_EQ(g_lstRcvStatus.size(), 1u);
    EXPECT_EQ(FlushRcvStatus(nullptr), -1);
    EXPECT_EQ(QueueConnectStatus(nullptr), -1);
}

TEST_F(ConnectStatusTest, RecordGoneBeforeTheReportIsDue)
{
    AddRcvStatus(Rec("P1"));
    AddRcvStatus(Rec("P2"));
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end(); ++it)
            if (std::strcmp(it->DevId, "P1") == 0) {
                delete it->pRtspEvent1;
                g_lstDevInfo.erase(it);
                break;
            }
    }
    Rec("P2").pRtspEvent1 = nullptr; // a record without its first sink
    Advance(8000);
    OnConnectStatusTimer();
    EXPECT_TRUE(g_lstRcvStatus.empty());
    QThread::msleep(150);
    EXPECT_TRUE(Bodies().empty());
    qelm::CsLock lock(g_csConnectStatus);
    EXPECT_TRUE(g_lstConnectStatus.empty());
}

TEST_F(ConnectStatusTest, TickWrapAround)
{
    Reply(1);
    AddRcvStatus(Rec("P1"));
    // Numerically above the current tick: it started before the counter wrapped.
    g_lstRcvStatus.back().startTick = timeGetTime() + 0x80000000u;
    OnConnectStatusTimer();
    EXPECT_TRUE(g_lstRcvStatus.empty());
}

} // namespace
