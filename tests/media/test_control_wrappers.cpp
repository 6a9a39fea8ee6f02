// Tests of the control drivers and the player control window: a class whose
// library is not registered refuses every call; a registered one reaches
// the control; the player window fills, follows and changes its parent.
#include "media/control_wrappers.h"

#include "controls/control_registry.h"
#include "media/avi_record_events.h"
#include "sink_test_util.h"

#include <gtest/gtest.h>

#include <QPointer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace auxsinktest;
namespace fs = std::filesystem;

// A loopback port that nothing listens on (bound, read, closed).
uint16_t ClosedLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

class StatusSink : public IStreamPullEvents {
public:
    std::vector<std::pair<int32_t, int32_t>> statuses;  // stream id, status
    void OnStreamStatus(int32_t streamId, int32_t status, const char*, const void*) override
    {
        statuses.emplace_back(streamId, status);
    }
    void MediaRecv(int32_t, int32_t, const StreamMediaParam*, int32_t) override {}
};

class ControlWrappersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelm::ResetControlClasses();
        qelm::RegisterStandInFactories();
        DeviceSimulator::Instance().Clear();
    }
    void TearDown() override
    {
        Pump();
        DeviceSimulator::Instance().Clear();
    }
    static void EnableAll()
    {
        for (const char* id : {qelm::kClsidAuxPtz, qelm::kClsidRtspPull, qelm::kClsidAviRecord,
                               qelm::kClsidCameraSearch, qelm::kClsidStreamPlayer})
            qelm::EnableControlClass(id);
    }

    ControlClassesGuard m_classes;  // made before SetUp resets them
};

TEST_F(ControlWrappersTest, UnregisteredClassesRefuseEveryCall)
{
    CRtspPullCtrl pull;
    CAuxPtzCtrl aux;
    CAviRecordCtrl avi;
    CZizevaVEDCtrl search;
    EXPECT_FALSE(pull.CreateDispatch());
    EXPECT_FALSE(aux.CreateDispatch());
    EXPECT_FALSE(avi.CreateDispatch());
    EXPECT_FALSE(search.CreateDispatch());

    uint8_t record[4124] = {};
    uint8_t buf[64];
    int32_t len = sizeof(buf), hlen = 16;
    const struct {
        const char* name;
        std::function<int32_t()> call;
    } calls[] = {
        {"AddStream", [&] { return pull.AddStream("rtsp://127.0.0.1/x", "", "", 0); }},
        {"AddStreamEx", [&] { return pull.AddStreamEx("127.0.0.1", 554, "mpeg4", "", "", 0); }},
        {"ReadVideoFrame", [&] { return pull.ReadVideoFrame(1, 1, buf, &len, buf, &hlen); }},
        {"StopAll", [&] { return pull.StopAll(); }},
        {"AddDevice", [&] { return aux.AddDevice("127.0.0.1", 5000, "admin", "123456"); }},
        {"PtzControl", [&] { return aux.PtzControl(1, "<PTZ/>"); }},
        {"WriteAUXStringEx", [&] { return aux.WriteAUXStringEx(1, "SYSTEM_CONTROL_MESSAGE", 1012, 0, ""); }},
        {"CloseAll", [&] { return aux.CloseAll(); }},
        {"BeginStream", [&] { return avi.BeginStream(1); }},
        {"BeginRecordFile", [&] { return avi.BeginRecordFile(1, "/tmp", 0, 60, 30, 1); }},
        {"StartSearch", [&] { return search.StartSearch(); }},
        {"GetDevice", [&] { return search.GetDevice(0, record, sizeof(record)); }},
        {"ModifyDevice", [&] { return search.ModifyDevice(0, record, sizeof(record)); }},
    };
    for (const auto& c : calls)
        EXPECT_EQ(c.call(), -1) << c.name;
    EXPECT_EQ(pull.Advise(nullptr), 0);
    EXPECT_EQ(search.GetDeviceCount(), 0);
    EXPECT_EQ(search.GetLocalNetInfo(), "");
    EXPECT_EQ(aux.Dispatch22(1), 0u);
    CAviRecordEvents events;
    avi.Advise(&events);  // nothing to connect to: no effect
    avi.Unadvise();

    // The player window cannot be made without its control.
    CWnd parent;
    parent.Create(nullptr, CRect(0, 0, 100, 80));
    CStreamPlayerCtrl player;
    EXPECT_FALSE(player.Create(&parent, CRect(0, 0, 100, 80)));
    EXPECT_EQ(player.GetSafeHwnd(), nullptr);
    EXPECT_EQ(player.CreateRender("TEST"), -1);
}

TEST_F(ControlWrappersTest, CameraSearchDriverReportsTheFoundDevices)
{
    EnableAll();
    SimFoundDevice a;
    a.serial = "QA0001";
    a.address = "127.0.0.10";
    SimFoundDevice b = a;
    b.serial = "QA0002";
    b.address = "127.0.0.11";
    DeviceSimulator::Instance().SetFoundDevices({a, b});

    CZizevaVEDCtrl search;
    ASSERT_TRUE(search.CreateDispatch());
    search.StartSearch();
    ASSERT_EQ(search.GetDeviceCount(), 2);
    IpcSearchInfo info{};
    ASSERT_EQ(search.GetDevice(1, reinterpret_cast<uint8_t*>(&info), sizeof(info)), 0);
    EXPECT_STREQ(info.serial, "QA0002");
    EXPECT_STREQ(info.address, "127.0.0.11");
    std::strcpy(info.address, "127.0.0.12");
    EXPECT_EQ(search.ModifyDevice(1, reinterpret_cast<uint8_t*>(&info), sizeof(info)), 0);
    EXPECT_NE(search.GetDevice(2, reinterpret_cast<uint8_t*>(&info), sizeof(info)), 0);
    search.StopSearch();
}

TEST_F(ControlWrappersTest, StreamPullDriverOpensAtOnceAndReportsTheFailureLater)
{
    EnableAll();
    const uint16_t port = ClosedLoopbackPort();
    ASSERT_NE(port, 0);
    CRtspPullCtrl pull;
    ASSERT_TRUE(pull.CreateDispatch());
    StatusSink sink;
    const int32_t cookie = pull.Advise(&sink);
    EXPECT_NE(cookie, 0);

    const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/live";
    const int32_t id = pull.AddStream(url.c_str(), "admin", "123456", 1);
    EXPECT_GT(id, 0);
    // The connection fails on the control's thread; the status arrives on this one.
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& [sid, status] : sink.statuses)
            if (sid == id && status == StreamPullControl::kStatusFailed)
                return true;
        return false;
    }, 10000));
    uint8_t buf[256];
    uint8_t header[16];
    int32_t len = sizeof(buf), hlen = sizeof(header);
    EXPECT_NE(pull.ReadVideoFrame(id, id, buf, &len, header, &hlen), 0);
    EXPECT_EQ(pull.DelStream(id), 0);
    pull.Unadvise(cookie);
    pull.StopAll();
}

TEST_F(ControlWrappersTest, AviRecordDriverRecordsIntoTheFolder)
{
    EnableAll();
    const fs::path dir = fs::temp_directory_path() / ("wrap_avi_" + std::to_string(getpid()));
    fs::remove_all(dir);

    CAviRecordCtrl avi;
    ASSERT_TRUE(avi.CreateDispatch());
    CAviRecordEvents events;
    avi.Advise(&events);
    ASSERT_EQ(avi.BeginStream(3), 0);
    VideoParam vp{};
    std::strcpy(vp.codecName, "H264");
    vp.width = 160;
    vp.height = 120;
    vp.frameRate = 25;
    EXPECT_EQ(avi.SetVideoParam(3, reinterpret_cast<const uint8_t*>(&vp), sizeof(vp)), 0);
    const int32_t fileId = avi.BeginRecordFile(3, dir.c_str(), 0, 60, 30, 1);
    ASSERT_GT(fileId, 0);
    EXPECT_EQ(avi.BeginRecordFile(99, dir.c_str(), 0, 60, 30, 1), -1);  // no such stream

    const uint8_t frame[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33};
    MediaFrameHeader h{1, 0, 0.0};
    EXPECT_EQ(avi.WriteVideo(3, frame, sizeof(frame), reinterpret_cast<const uint8_t*>(&h), sizeof(h)), 0);
    EXPECT_FALSE(avi.GetControl()->CurrentFile(fileId).empty());
    EXPECT_EQ(avi.StopRecordFile(fileId), 0);
    Pump();  // the file events reach the sink, which takes them
    avi.EndStream(3);
    avi.Unadvise();

    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
    fs::remove_all(dir);
}

TEST_F(ControlWrappersTest, PlayerWindowFillsItsRectangleAndFollowsItsParent)
{
    EnableAll();
    CWnd pane;
    ASSERT_TRUE(pane.Create(nullptr, CRect(0, 0, 320, 240)));
    pane.ShowWindow(SW_SHOW);
    CWnd other;  // before the player, so that the player goes first
    ASSERT_TRUE(other.Create(nullptr, CRect(0, 0, 200, 150)));
    other.ShowWindow(SW_SHOW);
    CStreamPlayerCtrl player;
    ASSERT_TRUE(player.Create(&pane, CRect(10, 20, 170, 140)));
    ASSERT_NE(player.GetControl(), nullptr);
    EXPECT_TRUE(IsWindow(player.GetSafeHwnd()));
    EXPECT_EQ(player.GetDlgCtrlID(), 0u);
    EXPECT_EQ(player.parentWidget(), &pane);
    EXPECT_TRUE(player.isVisible());
    EXPECT_EQ(player.geometry(), QRect(10, 20, 160, 120));
    EXPECT_EQ(player.GetControl()->parentWidget(), &player);
    EXPECT_EQ(player.GetControl()->geometry(), QRect(0, 0, 160, 120));
    EXPECT_FALSE(player.Create(&pane, CRect(0, 0, 10, 10)));  // one control per window

    player.MoveWindow(0, 0, 300, 200);
    Pump();
    EXPECT_EQ(player.GetControl()->geometry(), QRect(0, 0, 300, 200));

    const int32_t render = player.CreateRender("TEST");
    EXPECT_GT(render, 0);
    EXPECT_EQ(player.DestroyRender(render), 0);

    player.SetParentWnd(&other);
    EXPECT_EQ(player.parentWidget(), &other);
    EXPECT_TRUE(player.isVisible());
    EXPECT_TRUE(IsWindow(player.GetSafeHwnd()));
    EXPECT_EQ(player.GetControl()->geometry(), QRect(0, 0, 300, 200));
}

TEST_F(ControlWrappersTest, DeletingTheParentFirstTakesThePlayerWithIt)
{
    EnableAll();
    auto* pane = new CWnd;
    ASSERT_TRUE(pane->Create(nullptr, CRect(0, 0, 160, 120)));
    auto* player = new CStreamPlayerCtrl;
    ASSERT_TRUE(player->Create(pane, CRect(0, 0, 160, 120)));
    const HWND h = player->GetSafeHwnd();
    QPointer<CStreamPlayerCtrl> alive(player);
    QPointer<StreamPlayerControl> control(player->GetControl());
    const int32_t render = player->CreateRender("TEST");
    EXPECT_GT(render, 0);
    delete pane;
    Pump();
    EXPECT_TRUE(alive.isNull());
    EXPECT_TRUE(control.isNull());
    EXPECT_FALSE(IsWindow(h));
}

} // namespace
