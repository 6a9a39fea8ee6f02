// Tests of the network and process probes. Only 127.0.0.0/8 is ever probed.
#include "core/probes.h"

#include "platform/wnd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::uint32_t Addr(const char* text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

std::string Text(std::uint32_t addr)
{
    char buf[32];
    in_addr a{addr};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

TEST(ProbesTest, PingOfTheLoopbackAnswers)
{
    int r = PintTest(Addr("127.0.0.1"));
    if (r == -1)
        GTEST_SKIP() << "no ICMP socket on this machine";
    EXPECT_EQ(r, 0);
    EXPECT_EQ(PintTest(Addr("127.1.2.3")), 0) << "all of 127/8 is this host";
}

TEST(ProbesTest, PingOutsideTheLoopbackIsRefusedInLoopbackMode)
{
    ASSERT_STREQ(getenv("QELM2_LOOPBACK_ONLY"), "1");
    EXPECT_EQ(PintTest(Addr("192.0.2.1")), -1);
}

TEST(ProbesTest, LocalListLeavesOutLoopback)
{
    IpSlot ips[16];
    int n = GetLocalIpList(ips, 16);
    ASSERT_GE(n, 0);
    for (int i = 0; i < n; ++i) {
        in_addr a{};
        ASSERT_EQ(inet_pton(AF_INET, ips[i], &a), 1) << ips[i];
        EXPECT_NE(ntohl(a.s_addr) >> 24, 127u) << ips[i];
    }
    EXPECT_EQ(GetLocalIpList(ips, 0), 0);
}

TEST(ProbesTest, FreeAddressScanCountsDownAndSkipsTheOwnNumber)
{
    auto local = [](const char* own) {
        return [own](IpSlot* ips, int count) {
            if (count < 1)
                return 0;
            std::snprintf(ips[0], sizeof(IpSlot), "%s", own);
            return 1;
        };
    };
    std::vector<std::string> probed;
    auto silentOdd = [&](std::uint32_t addr) {
        probed.push_back(Text(addr));
        return (ntohl(addr) & 1) ? 1 : 0; // odd numbers are free
    };

    IpSlot out[4];
    EXPECT_EQ(FindFreeIpAddrs(out, 1, local("192.168.1.20"), silentOdd), 1);
    EXPECT_STREQ(out[0], "192.168.1.253");
    EXPECT_EQ(probed, (std::vector<std::string>{"192.168.1.254", "192.168.1.253"}));

    probed.clear();
    EXPECT_EQ(FindFreeIpAddrs(out, 2, local("10.0.0.253"), silentOdd), 2);
    EXPECT_STREQ(out[0], "10.0.0.251");
    EXPECT_STREQ(out[1], "10.0.0.249");
    EXPECT_EQ(std::count(probed.begin(), probed.end(), "10.0.0.253"), 0) << "the host's own number";

    probed.clear();
    auto allAnswer = [&](std::uint32_t addr) {
        probed.push_back(Text(addr));
        return ntohl(addr) % 3 == 0 ? -1 : 0; // errors do not count as free either
    };
    EXPECT_EQ(FindFreeIpAddrs(out, 4, local("172.16.5.1"), allAnswer), 0);
    EXPECT_EQ(probed.size(), 253u);
    EXPECT_EQ(probed.front(), "172.16.5.254");
    EXPECT_EQ(probed.back(), "172.16.5.2");

    auto none = [](IpSlot*, int) { return 0; };
    EXPECT_EQ(FindFreeIpAddrs(out, 4, none, silentOdd), 0);
}

TEST(ProbesTest, FreeAddressScanOfTheLoopbackNetworkWithRealPings)
{
    if (PintTest(Addr("127.0.0.1")) == -1)
        GTEST_SKIP() << "no ICMP socket on this machine";
    auto loopback = [](IpSlot* ips, int count) {
        if (count < 1)
            return 0;
        std::snprintf(ips[0], sizeof(IpSlot), "127.0.0.1");
        return 1;
    };
    IpSlot out[2];
    EXPECT_EQ(FindFreeIpAddrs(out, 2, loopback, PintTest), 0) << "every loopback address answers";
}

TEST(ProbesTest, IsSameSubnet)
{
    IpSlot ips[3] = {"10.1.1.1", "nodots", "192.168.1.5"};
    struct {
        const char* ip;
        int same;
    } cases[] = {
        {"192.168.1.20", 1}, {"192.168.10.5", 0}, {"10.1.1.254", 1}, {"192.168.001.20", 0},
        {"nodot", 0},        {"", 0},             {"192.168.1.", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSameSubnet(c.ip, ips, 3), c.same) << c.ip;
    EXPECT_EQ(IsSameSubnet("192.168.1.20", ips, 0), 0);
}

TEST(ProbesTest, MemoryOfOurOwnWindow)
{
    EXPECT_EQ(GetProcessMemoryMB(nullptr), 0.0f);
    CWnd wnd;
    ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
    float mb = GetProcessMemoryMB(wnd.GetSafeHwnd());
    EXPECT_GT(mb, 1.0f);
    EXPECT_LT(mb, 100000.0f);
}

TEST(ProbesTest, CpuUsageIsAShareInPercent)
{
    GetProcessCpuUsage(getpid());
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    volatile unsigned long spin = 0;
    while (std::chrono::steady_clock::now() < end)
        spin = spin + 1;
    int usage = GetProcessCpuUsage(getpid());
    EXPECT_GE(usage, 0);
    EXPECT_LE(usage, 100);
    EXPECT_EQ(GetProcessCpuUsage(-5), 0);
}

} // namespace
