// First-run discovery against search results configured in the device
// simulator (the saved device file compared with a golden file), and the
// removal of a device's records by id.
#include "supervision_util.h"

#include "controls/device_sim.h"
#include "core/config_store.h"
#include "core/probes.h"
#include "devices/first_run.h"

#include <QFile>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

SimFoundDevice Found(const char* model, const char* ip, const char* serial)
{
    SimFoundDevice f;
    f.model = model;
    f.address = ip;
    f.serial = serial;
    f.mac = std::string("00:0a:") + serial;
    f.gateway = "192.168.1.1";
    f.dns1 = "192.168.1.1";
    f.status = "running, a status text much longer than the field it is kept in";
    f.videoPort = 554;
    f.ptzPort = 5000;
    f.webPort = 80;
    return f;
}

class FirstRunTest : public testing::Test {
public:
    void SetUp() override
    {
        devtest::ResetAll();
        suptest::StartDrivers();
        SetDeviceServices(&host);
        ASSERT_TRUE(dir.isValid());
        SetConfigDir(dir.path().toStdString());
        std::ofstream(dir.filePath("DevInfo.xml").toStdString()) << kDevInfoTemplate;
        ASSERT_EQ(LoadDevInfo(), 0);
        DeviceSimulator::Instance().Clear();
    }
    void TearDown() override
    {
        DeviceSimulator::Instance().Clear();
        SetConfigDir("");
        devtest::ResetAll();
    }
    QTemporaryDir dir;
    suptest::Host host;
    CFirstRunDiscovery discovery;
};

TEST_F(FirstRunTest, SearchResultsAddedByModel)
{
    SimFoundDevice unterminated = Found("IPC-KX265-B", "192.168.1.60", "SN60");
    unterminated.model = std::string(200, 'M') + "KX265"; // fills the model field without an end
    DeviceSimulator::Instance().SetFoundDevices({
        Found("ENC4-RX700", "192.168.1.50", "SN50"),
        Found("DCD-RX700", "192.168.1.51", "SN51"),
        Found("MDCD-RX700", "192.168.1.52", "SN52"),
        Found("NVR", "192.168.1.53", "SN53"),
        Found("NVR-16", "192.168.1.54", "SN54"),
        Found("IPC-KX265-A", "192.168.1.55", "SN55"),
        Found("IPC-200", "192.168.1.56", "SN56"),
        Found("IPC-200", "192.168.1.56", "SN56-again"), // same address: skipped
        unterminated,
    });
    host.recordPage = true;
    discovery.Arm();
    EXPECT_EQ(host.Take(), std::vector<std::string>{"SetTimer 1006 1500"});
    EXPECT_TRUE(discovery.OnTimer(CFirstRunDiscovery::kTimerSearch));
    std::vector<std::string> calls = host.Take();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "KillTimer 1006");
    EXPECT_EQ(calls[1], "CountDown 10");
    // This machine's own networks are not 192.168.1.0/24 in CI: the question is asked.
    IpSlot ips[32];
    const int local = GetLocalIpList(ips, 32);
    const bool foreign = !IsSameSubnet("192.168.1.50", ips, local);
    if (foreign) {
        EXPECT_EQ(calls[2], "AskYesNo 1499");
    }
    EXPECT_EQ(calls.back(), "SetTimer 1007 4000");
    std::vector<std::string> plan;
    for (const std::string& c : calls)
        if (c.rfind("AddDeviceToDefaultStrategy", 0) == 0)
            plan.push_back(c.substr(27));
    // Read from the last result to the first; other networks' go to the back.
    if (foreign) {
        EXPECT_EQ(plan, (std::vector<std::string>{"192.168.1.60", "192.168.1.56", "192.168.1.55", "192.168.1.54",
                                                  "192.168.1.53", "192.168.1.50-Stream1", "192.168.1.50-Stream2",
                                                  "192.168.1.50-Stream3", "192.168.1.50-Stream4",
                                                  "192.168.1.50-Stream5"}));
    }
    EXPECT_NE(std::find(calls.begin(), calls.end(), "EnsureDefaultStrategy"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "TS_NotifyUpdateDeviceList"), calls.end());

    std::set<int> ids;
    for (const DeviceInfo& d : g_lstDevInfo)
        if (d.DevType == 0)
            ids.insert(d.AuxPtzId);
    EXPECT_EQ(ids.size(), 5u); // each stream row registered on its own

    const std::string saved = ReadFile(dir.filePath("DevInfo.xml").toStdString());
    const std::string golden = ReadFile(devtest::SourceDir() + "/tests/devices/golden/first_run_DevInfo.xml");
    if (std::getenv("QELM2_UPDATE_GOLDEN"))
        std::ofstream(devtest::SourceDir() + "/tests/devices/golden/first_run_DevInfo.xml", std::ios::binary) << saved;
    if (foreign) {
        EXPECT_EQ(saved, golden);
    }

    EXPECT_TRUE(discovery.OnTimer(CFirstRunDiscovery::kTimerPlayDefault));
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"KillTimer 1007", "PlayGroup Default"}));
    EXPECT_FALSE(discovery.OnTimer(1005));
}

TEST_F(FirstRunTest, CancelAddsNothingAndEmptySearchStillPlays)
{
    DeviceSimulator::Instance().SetFoundDevices({Found("IPC-200", "192.168.1.56", "SN56")});
    host.countDown = IDCANCEL;
    discovery.OnTimer(CFirstRunDiscovery::kTimerSearch);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"KillTimer 1006", "CountDown 10"}));
    EXPECT_TRUE(g_lstDevInfo.empty());

    DeviceSimulator::Instance().SetFoundDevices({});
    host.countDown = IDOK;
    discovery.OnTimer(CFirstRunDiscovery::kTimerSearch);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"KillTimer 1006", "CountDown 10", "SetTimer 1007 4000"}));
    EXPECT_EQ(discovery.AddSearchedDevices(), -1);
}

TEST_F(FirstRunTest, AddressChangeOfferedOnceThenLongerCountDown)
{
    IpSlot ips[32];
    if (IsSameSubnet("192.168.1.56", ips, GetLocalIpList(ips, 32)))
        GTEST_SKIP() << "this machine is on 192.168.1.0/24";
    DeviceSimulator::Instance().SetFoundDevices({Found("IPC-200", "192.168.1.56", "SN56")});
    host.answer = IDYES;
    discovery.OnTimer(CFirstRunDiscovery::kTimerSearch);
    EXPECT_EQ(host.Take(), (std::vector<std::string>{"KillTimer 1006", "CountDown 10", "AskYesNo 1499", "ModifyIp 1",
                                                     "SetTimer 1006 1000"}));
    EXPECT_TRUE(g_lstDevInfo.empty());
    discovery.OnTimer(CFirstRunDiscovery::kTimerSearch);
    std::vector<std::string> calls = host.Take();
    EXPECT_EQ(calls[1], "CountDown 15");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "AskYesNo 1499"), 0);
    EXPECT_EQ(g_lstDevInfo.size(), 1u);
}

TEST_F(FirstRunTest, EntriesAndPtzAddr)
{
    std::vector<SimFoundDevice> found;
    for (int i = 0; i < 3; ++i)
        found.push_back(Found("IPC-200", ("10.9.9." + std::to_string(i + 1)).c_str(), "SN"));
    DeviceSimulator::Instance().SetFoundDevices(found);
    for (int i = 0; i < 255; ++i)
        g_lstDevInfo.push_back(suptest::Dev(("X" + std::to_string(i)).c_str(), "x", 1, "1.1.1.1", 0));
    discovery.SearchCtrl()->StartSearch();
    discovery.CollectSearchResults();
    ASSERT_EQ(discovery.m_lstSearchDev.size(), 3u);
    const DeviceInfo& e = discovery.m_lstSearchDev.front();
    EXPECT_STREQ(e.LoginName, "admin");
    EXPECT_STREQ(e.LoginPsw, "580317");
    EXPECT_STREQ(e.GroupName, "Default");
    EXPECT_EQ(e.RtpOverRtsp, 1);
    EXPECT_EQ(std::string(e.Status).size(), sizeof(e.Status) - 1); // cut to its field
    discovery.AddSearchedDevices();
    EXPECT_EQ(g_lstDevInfo.back().PtzAddr, 0); // more than 254 devices already
}

TEST_F(FirstRunTest, SearchBlockTextsWithoutTheirEnd)
{
    // A block from the network whose every text fills its field.
    IpcSearchInfo block;
    std::memset(&block, 'A', sizeof block);
    std::memcpy(block.model + sizeof block.model - 5, "KX265", 5);
    block.videoPort = 554;
    const DeviceInfo d = DiscoveryEntry(block, "Default", 1);
    EXPECT_EQ(std::strlen(d.DevSN), sizeof block.serial);
    EXPECT_EQ(std::strlen(d.IPAddr), sizeof block.address);
    EXPECT_EQ(std::strlen(d.DNS2), sizeof block.dns2);
    EXPECT_EQ(std::strlen(d.Status), sizeof d.Status - 1);
    EXPECT_EQ(std::strlen(d.MACAddr), sizeof block.mac);
    EXPECT_EQ(d.DevType, 1);
    EXPECT_EQ(d.VisitMod, 1); // the model's last characters still count
    EXPECT_EQ(std::memcmp(d.SearchRecord, &block, sizeof block), 0);
}

TEST_F(FirstRunTest, RemoveDeviceByIdUsesTheSharedTeardown)
{
    host.recordPage = false;
    DeviceSimulator::Instance().SetFoundDevices(
        {Found("ENC4-RX700", "192.168.1.50", "SN50"), Found("IPC-200", "192.168.1.56", "SN56")});
    discovery.SearchCtrl()->StartSearch();
    discovery.CollectSearchResults();
    discovery.AddSearchedDevices();
    DeviceInfo nvr = suptest::Dev("NVR9", "Rec", 4, "10.0.0.3", 0);
    g_lstDevInfo.push_back(nvr);
    nvr.CurNVRChannel = 1;
    std::strcpy(nvr.DevName, "Channel-1");
    g_lstDevInfo.push_back(nvr);
    RecScheme* plan = new RecScheme{};
    for (DeviceInfo& d : g_lstDevInfo)
        plan->lstDev.push_back(&d);
    g_lstRecSchemeInfo.push_back(plan);
    for (DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevId, "192.168.1.56") == 0)
            d.WatchFlag = 1;
    host.Take();

    RemoveDeviceById("192.168.1.56");
    std::vector<std::string> calls = host.Take();
    EXPECT_EQ(calls, (std::vector<std::string>{"UnbindCamera 192.168.1.56", "OnStopWatch 192.168.1.56",
                                               "RemoveMaintRow 192.168.1.56", "MapRemoveDevice 192.168.1.56",
                                               "TS_ReportDeviceState 00-11-22-33-44-55:192.168.1.56 0 0"}));
    RemoveDeviceById("192.168.1.50");
    calls = host.Take();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.rfind("TS_ReportDeviceState", 0) == 0; }),
              5);
    EXPECT_EQ(calls.back(), "TS_ReportDeviceState 00-11-22-33-44-55:192.168.1.50 5 0");
    RemoveDeviceById("NVR9");
    calls = host.Take();
    EXPECT_EQ(calls.back(), "TS_NotifyUpdateDeviceList");
    EXPECT_TRUE(g_lstDevInfo.empty());
    EXPECT_TRUE(plan->lstDev.empty()); // no plan keeps a pointer to a removed record
}

} // namespace
