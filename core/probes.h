// Network and process probes: ICMP echo, the host's IPv4 addresses, free
// addresses of its /24, same-subnet test, memory and processor use.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <functional>

// A dotted IPv4 text with its terminator.
using IpSlot = char[32];

// ICMP echo to an IPv4 address (network byte order): 0 it answered, 1 no
// answer in three attempts of 100 ms, -1 error (no ICMP socket, send refused).
int PintTest(std::uint32_t addr);

// The host's IPv4 addresses on interfaces that are up, loopback left out; at
// most count of them. Returns the number stored.
int GetLocalIpList(IpSlot* ips, int count);

// Addresses of the host's /24 (of its first address) that do not answer,
// from host number 254 down to 1 without the host's own; at most count.
int FindFreeIpAddrs(IpSlot* ips, int count);

// The same scan with its sources given: the local list and the probe.
using LocalIpSource = std::function<int(IpSlot* ips, int count)>;
using PingProbe = std::function<int(std::uint32_t addr)>;
int FindFreeIpAddrs(IpSlot* ips, int count, const LocalIpSource& local, const PingProbe& ping);

// 1 when the text before the last '.' of ip equals that of one of the entries.
int IsSameSubnet(const char* ip, const IpSlot* ips, int count);

// Resident set of the process that owns the window, in MiB (1,048,576 bytes);
// 0 for a null or dead window.
float GetProcessMemoryMB(HWND hWnd);

// Share in percent of all processor time since the previous call that the
// process used; 0 on the first call or when it cannot be read.
int GetProcessCpuUsage(int pid);
