// Registration of the fixture devices at start-up, as the journal of the
// stand-in controls shows it, and the P2P status thread against a fake cloud
// server on 127.0.0.1.
#include "devices_test_util.h"

#include "controls/control_registry.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "media/sink_targets.h"
#include "platform/wnd.h"
#include "tests/support/scoped_env.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> JournalCalls(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    std::string line;
    static const char* kNames[] = {"CAuxPtzCtrl::AddDevice\t", "CAuxPtzCtrl::AddDeviceEx\t",
                                   "CAuxPtzCtrl::SetTimeSync\t", "StreamPullControl::AddStream\t"};
    while (std::getline(in, line)) {
        for (const char* n : kNames) {
            std::size_t at = line.find(n);
            if (at != std::string::npos && line.compare(0, 5, "call\t") == 0) {
                // Without the result: the ids are the stand-ins' own.
                out.push_back(line.substr(at, line.rfind('\t') - at));
                break;
            }
        }
    }
    return out;
}

class OnvifRecorder : public IDeviceServices {
public:
    std::vector<std::string> onvif;
    HWND main = nullptr;
    HWND MainWnd() override { return main; }
    void AddOnvifEntry(DeviceInfo* d) override { onvif.push_back(d->DevName); }
};

// A window that counts WM_DEVLIST_RELOAD and keeps the device states posted to it.
class ReloadWnd : public CWnd {
public:
    ReloadWnd() { CreateHandle(); }
    int reloads = 0;
    std::vector<std::pair<int, int>> states; // AuxPtzId, type
    LRESULT OnReload(WPARAM, LPARAM)
    {
        ++reloads;
        return 0;
    }
    LRESULT OnDevStatus(WPARAM w, LPARAM l)
    {
        states.emplace_back(static_cast<int>(w), static_cast<int>(l));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ReloadWnd, CWnd)
    ON_MESSAGE(WM_DEVLIST_RELOAD, &ReloadWnd::OnReload)
    ON_MESSAGE(WM_DEV_STATUS, &ReloadWnd::OnDevStatus)
END_MESSAGE_MAP()

// The sinks' targets: only the main window, which is the test window.
class MainOnlyTargets : public IMediaSinkTargets {
public:
    explicit MainOnlyTargets(HWND main) : m_main(main) {}
    HWND MainWnd() override { return m_main; }
    HWND PtzPanelWnd() override { return nullptr; }
    HWND SearchRecWnd() override { return nullptr; }
    HWND MaintPageWnd() override { return nullptr; }
    void OnNVRSpeakMediaData(int32_t, const uint8_t*, int32_t, const int32_t*) override {}
    int OnNVRSpeakParam(int32_t, char* xml) override
    {
        qelm::FreeText(xml);
        return 0;
    }
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t, int32_t) override {}
    bool IsAlarmPane(CWnd*) override { return false; }
    bool IsMapPane(CWnd*) override { return false; }
    void ResetWatchInfo(CWnd*) override {}

private:
    HWND m_main;
};

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override
    {
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidAuxPtz);
        qelm::EnableControlClass(qelm::kClsidRtspPull);
        devtest::ResetAll();
        devtest::LoadFixture();
        ASSERT_TRUE(dir.isValid());
        services.main = wnd.m_hWnd;
        SetDeviceServices(&services);
        dt->SetCloudInfoPort(cloud.port());
        dt->SetP2PDelay(50);
    }
    void TearDown() override
    {
        devtest::ResetAll();
        dt->SetCloudInfoPort(80);
        dt->SetP2PDelay(2000);
    }
    QTemporaryDir dir;
    devtest::FakeCloud cloud;
    OnvifRecorder services;
    ReloadWnd wnd;
    CDevTree* dt = CDevTree::GetInstance();
};

TEST_F(RegistrationTest, EveryDeviceRegisteredInListOrder)
{
    std::string journal = dir.filePath("journal.txt").toStdString();
    cloud.Script({devtest::FakeCloud::Http("<xml><ls><devisonline>1</devisonline></ls></xml>"),
                  devtest::FakeCloud::Http("<xml><ls><devisonline>1</devisonline><devchannelcount>2</devchannelcount>"
                                           "<devchannelstate>01</devchannelstate></ls></xml>")});
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        EXPECT_EQ(dt->Init(), 0);
    }
    const std::vector<std::string> expected = {
        "CAuxPtzCtrl::AddDevice\t127.0.0.1\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t1\t0\t10",
        "CAuxPtzCtrl::AddDeviceEx\t127.0.0.2\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t2\t0\t10",
        "CAuxPtzCtrl::AddDeviceEx\t127.0.0.2\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t3\t0\t10",
        "CAuxPtzCtrl::AddDeviceEx\t127.0.0.2\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t4\t0\t10",
        "CAuxPtzCtrl::AddDeviceEx\t127.0.0.2\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t5\t0\t10",
        "CAuxPtzCtrl::AddDevice\t127.0.0.3\t5000\tadmin\t123456", // the second stream row is not registered
        "CAuxPtzCtrl::AddDevice\t127.0.0.6\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t7\t0\t10",
        "CAuxPtzCtrl::AddDevice\t127.0.0.4\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t8\t0\t10",
        "StreamPullControl::AddStream\tp2p://P2P001@127.0.0.1/mpeg4cif#127.0.0.1:8000\\r\\nonlylogin=true\tadmin\t***",
        "StreamPullControl::AddStream\tp2p://P2P002@127.0.0.1/mpeg4cif#127.0.0.1:8000-0\\r\\nonlylogin=true\tadmin\t***",
    };
    std::vector<std::string> calls = JournalCalls(journal);
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].substr(0, expected[i].size()), expected[i]) << i;

    // Records: sinks, drivers, ids; rows never registered keep 0.
    for (const DeviceInfo& d : g_lstDevInfo) {
        EXPECT_NE(d.pRtspEvent1, nullptr);
        EXPECT_NE(d.pRtspEvent2, nullptr);
        EXPECT_NE(d.pRtspEvent1, d.pRtspEvent2);
        EXPECT_EQ(d.pAuxPtzCtrl, g_pAuxPtzCtrl);
        EXPECT_EQ(d.pAuxPTZEvents, g_pAuxPTZEvents);
    }
    EXPECT_EQ(devtest::FindDev("DVS001", "DVS001Stream2")->AuxPtzId, 0);
    EXPECT_GT(devtest::FindDev("DVS001", "DVS001Stream1")->AuxPtzId, 0);
    EXPECT_EQ(devtest::FindDev("IPC003", "Side")->AuxPtzId, 0);
    EXPECT_EQ(services.onvif, std::vector<std::string>{"Side"});
    EXPECT_GT(devtest::FindDev("P2P001", "P2PCam")->P2pLoginId, 0);
    EXPECT_EQ(devtest::FindDev("P2P002", "Channel-1")->P2pLoginId, 0);

    // The P2P status thread: two queries (the parent rows), states written
    // back under the lock, then one reload notice.
    ASSERT_TRUE(devtest::WaitFor([&] { return wnd.reloads == 1; }));
    dt->StopP2PStatusThread();
    EXPECT_FALSE(dt->IsP2PStatusThreadRunning());
    std::vector<std::string> requests = cloud.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("POST /client/getdevinfo.php"), std::string::npos);
    EXPECT_NE(requests[0].find("P2P001"), std::string::npos);
    EXPECT_NE(requests[1].find("P2P002"), std::string::npos);
    qelm::CsLock lock(g_csDevList);
    EXPECT_EQ(devtest::FindDev("P2P001", "P2PCam")->Online, 1);
    EXPECT_EQ(devtest::FindDev("P2P002", "P2PNVR")->Online, 1);
    EXPECT_EQ(devtest::FindDev("P2P002", "Channel-1")->Online, 0);
    EXPECT_EQ(devtest::FindDev("P2P002", "Channel-2")->Online, 1);
}

TEST_F(RegistrationTest, SimulatedDevicesAnswerThroughTheOneSink)
{
    // The simulator's demo devices: the camera at 127.0.0.1:5000 takes the
    // fixture's credentials, the recorder at 127.0.0.2 refuses them.
    ASSERT_TRUE(DeviceSimulator::Instance().LoadFile(devtest::SourceDir() + "/tests/fixtures/DeviceSim.xml"));
    MainOnlyTargets targets(wnd.m_hWnd);
    SetMediaSinkTargets(&targets);
    dt->Init();
    const int cam = devtest::FindDev("IPC001", "Cam2")->AuxPtzId;
    const int nvr = devtest::FindDev("NVR001", "NVR-A")->AuxPtzId;
    auto seen = [&](int id) {
        for (auto [who, type] : wnd.states)
            if (who == id)
                return true;
        return false;
    };
    EXPECT_TRUE(devtest::WaitFor([&] { return seen(cam) && seen(nvr); }));
    for (auto [who, type] : wnd.states)
        EXPECT_GT(who, 0); // every answer names a registered device
    SetMediaSinkTargets(nullptr);
    DeviceSimulator::Instance().Clear();
}

TEST_F(RegistrationTest, CloudRefusalAndFailedQueries)
{
    // The first device is refused; the second gets no answer at all and
    // keeps its state; the write-back and the notice happen anyway.
    devtest::FindDev("P2P002", "P2PNVR")->Online = 0;
    cloud.Script({devtest::FakeCloud::Http("<xml><err>-8378952</err><ls><devisonline>1</devisonline></ls></xml>")});
    dt->Init();
    ASSERT_TRUE(devtest::WaitFor([&] { return wnd.reloads == 1; }));
    dt->StopP2PStatusThread();
    qelm::CsLock lock(g_csDevList);
    EXPECT_EQ(devtest::FindDev("P2P001", "P2PCam")->Online, -1);
    EXPECT_EQ(devtest::FindDev("P2P002", "P2PNVR")->Online, 0);
}

TEST_F(RegistrationTest, ServerAddressesAndPlatformDevices)
{
    auto row = [](int type, const char* id, const char* name, const char* ip) {
        DeviceInfo d{};
        d.DevType = type;
        std::strcpy(d.DevId, id);
        std::strcpy(d.DevName, name);
        std::strcpy(d.IPAddr, ip);
        std::strcpy(d.LoginName, "admin");
        std::strcpy(d.LoginPsw, "123456");
        d.PtzPort = 5000;
        return d;
    };
    g_lstDevInfo.clear();
    g_lstDevInfo.push_back(row(0, "V1", "V1Stream1", "127.0.0.3"));
    g_lstDevInfo.push_back(row(0, "V1", "V1Stream2", "127.0.0.3"));
    g_lstDevInfo.push_back(row(0, "V2", "V2Stream1", "127.0.0.9"));
    g_lstDevInfo.push_back(row(0, "V3", "V3Stream1", "127.0.0.3")); // after another address: registers again
    DeviceInfo platform = row(1, "PLT1", "Cloud", "127.0.0.10");
    platform.nPltDev = 1; // a platform device without P2P: logged in and registered
    std::strcpy(platform.p2pSvr, "127.0.0.1");
    std::strcpy(platform.p2pSvrList, "127.0.0.1:8000");
    g_lstDevInfo.push_back(platform);
    std::string journal = dir.filePath("journal.txt").toStdString();
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        dt->Init();
    }
    const std::vector<std::string> expected = {
        "CAuxPtzCtrl::AddDevice\t127.0.0.3\t5000\tadmin\t123456",
        "CAuxPtzCtrl::AddDevice\t127.0.0.9\t5000\tadmin\t123456",
        "CAuxPtzCtrl::AddDevice\t127.0.0.3\t5000\tadmin\t123456",
        "StreamPullControl::AddStream\tp2p://PLT1@127.0.0.1/mpeg4cif#127.0.0.1:8000\\r\\nonlylogin=true\tadmin\t***",
        "CAuxPtzCtrl::AddDevice\t127.0.0.10\t5000\tadmin\t123456",
        "CAuxPtzCtrl::SetTimeSync\t",
    };
    std::vector<std::string> calls = JournalCalls(journal);
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].substr(0, expected[i].size()), expected[i]) << i;
    EXPECT_EQ(devtest::FindDev("V1", "V1Stream2")->AuxPtzId, 0);
    EXPECT_GT(devtest::FindDev("V3", "V3Stream1")->AuxPtzId, 0);
    EXPECT_GT(devtest::FindDev("PLT1", "Cloud")->P2pLoginId, 0);
    EXPECT_FALSE(dt->IsP2PStatusThreadRunning());
}

TEST_F(RegistrationTest, AReplyLongerThanTheBufferLeavesThatDevice)
{
    // 20,480 bytes of reply buffer: the first answer does not fit and is not
    // read; the next device still gets the whole buffer.
    const std::string big = "<xml><ls><devisonline>1</devisonline></ls><pad>" + std::string(21000, 'x') +
                            "</pad></xml>";
    const std::string small = "<xml><ls><devisonline>1</devisonline></ls><pad>" + std::string(20000, 'x') +
                              "</pad></xml>";
    cloud.Script({devtest::FakeCloud::Http(big), devtest::FakeCloud::Http(small)});
    dt->Init();
    ASSERT_TRUE(devtest::WaitFor([&] { return wnd.reloads == 1; }));
    dt->StopP2PStatusThread();
    EXPECT_EQ(cloud.Requests().size(), 2u);
    qelm::CsLock lock(g_csDevList);
    EXPECT_EQ(devtest::FindDev("P2P001", "P2PCam")->Online, 0);
    EXPECT_EQ(devtest::FindDev("P2P002", "P2PNVR")->Online, 1);
}

TEST_F(RegistrationTest, TreesReadStatesWhileTheStatusThreadWritesThem)
{
    // The status thread writes Online back under g_csDevList while the UI
    // thread builds and refreshes trees: the builders must read under it
    // too (ThreadSanitizer tells when they do not).
    dt->SetP2PDelay(0);
    cloud.Script({devtest::FakeCloud::Http("<xml><ls><devisonline>1</devisonline></ls></xml>"),
                  devtest::FakeCloud::Http("<xml><ls><devisonline>1</devisonline></ls></xml>")});
    dt->Init();
    QTreeWidget tree;
    EXPECT_TRUE(devtest::WaitFor([&] {
        dt->InitDevTree(&tree, 0);
        dt->RefreshDevTreeState(&tree);
        dt->InitOnlineOfflineTree(&tree, 0);
        return wnd.reloads == 1;
    }));
    dt->StopP2PStatusThread();
    dt->InitDevTree(&tree, 0);
    EXPECT_EQ(devtree::GetItemImage(devtest::FindItem(&tree, "P2PCam")), 3);
}

TEST_F(RegistrationTest, CloudLoginModeOnlyCreatesSinksAndP2PLogins)
{
    std::string journal = dir.filePath("journal.txt").toStdString();
    g_DispInfoSetting.LoginType = 1;
    {
        qelmtest::ScopedEnv env("QELM2_JOURNAL", journal.c_str());
        dt->Init();
    }
    std::vector<std::string> calls = JournalCalls(journal);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("StreamPullControl::AddStream\tp2p://P2P001", 0), 0u);
    EXPECT_TRUE(services.onvif.empty());
    EXPECT_FALSE(dt->IsP2PStatusThreadRunning());
    for (const DeviceInfo& d : g_lstDevInfo)
        EXPECT_NE(d.pRtspEvent1, nullptr);
}

TEST_F(RegistrationTest, ThreadStopsAtExitWithoutPosting)
{
    dt->SetP2PDelay(60000);
    dt->Init();
    EXPECT_TRUE(dt->IsP2PStatusThreadRunning());
    dt->StopP2PStatusThread(); // returns at once, long before the delay
    EXPECT_FALSE(dt->IsP2PStatusThreadRunning());
    devtest::WaitFor([] { return false; }, 50);
    EXPECT_EQ(wnd.reloads, 0);
    EXPECT_TRUE(cloud.Requests().empty());
}

TEST_F(RegistrationTest, LogLineLeavesThePasswordOut)
{
    QTemporaryDir logDir;
    std::string path = logDir.filePath("clientlog.txt").toStdString();
    ASSERT_EQ(OpenLog(path.c_str()), 0);
    dt->Init();
    CloseLog();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("CDevTree::Init():Add a device channel, DevName=Cam2, AuxPtzId="), std::string::npos);
    EXPECT_NE(text.str().find("ip=127.0.0.1, port=5000, name=admin\n"), std::string::npos);
    EXPECT_EQ(text.str().find("123456"), std::string::npos);
    // One line per message: the log ends each line itself.
    EXPECT_NE(text.str().find("CDevTree::Init(): Begin initialize... ... \n[Qelm2]"), std::string::npos);
    EXPECT_NE(text.str().find("ip=127.0.0.1, port=5000, name=admin\n[Qelm2]"), std::string::npos);
}

} // namespace
