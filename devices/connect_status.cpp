// Connect-status reports.
#include "devices/connect_status.h"

#include "core/cloud_client.h"
#include "core/log.h"
#include "media/rtsp_events.h"
#include "platform/clock.h"
#include "platform/text.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

std::list<_RCV_STATUS> g_lstRcvStatus;
std::list<_CONNECT_STATUS*> g_lstConnectStatus;
CRITICAL_SECTION g_csConnectStatus;

namespace {

std::thread g_worker;
std::mutex g_wakeMutex;
std::condition_variable g_wake;
bool g_stop = false;

void ConnectStatusThread()
{
    for (;;) {
        _CONNECT_STATUS* report = nullptr;
        {
            qelm::CsLock lock(g_csConnectStatus);
            if (!g_lstConnectStatus.empty()) {
                report = g_lstConnectStatus.front();
                g_lstConnectStatus.pop_front();
            }
        }
        if (!report) {
            std::unique_lock<std::mutex> lock(g_wakeMutex);
            if (g_wake.wait_for(lock, std::chrono::milliseconds(100), [] { return g_stop; }))
                return;
            continue;
        }
        CloudPostReport(report->devId, report->constat, report->p2ptype);
        delete report;
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        if (g_stop)
            return;
    }
}

} // namespace

void AddRcvStatus(const DeviceInfo& dev)
{
    if (dev.nPltDev == 0)
        return;
    _RCV_STATUS s{};
    qelm::CopyBounded(s.devId, sizeof s.devId, dev.DevId);
    qelm::CopyBounded(s.devName, sizeof s.devName, dev.DevName);
    s.p2ptype = dev.UseP2P == 0 ? 1 : 0;
    s.startTick = timeGetTime();
    g_lstRcvStatus.push_back(s);
}

int QueueConnectStatus(const _RCV_STATUS* status)
{
    if (!status)
        return -1;
    auto* report = new (std::nothrow) _CONNECT_STATUS{};
    if (!report)
        return 0;
    bool have = false;
    {
        qelm::CsLock lock(g_csDevList);
        const DeviceInfo* byId = nullptr;
        for (const DeviceInfo& d : g_lstDevInfo) {
            if (std::strcmp(d.DevId, status->devId) != 0)
                continue;
            if (std::strcmp(d.DevName, status->devName) == 0) {
                byId = &d;
                break;
            }
            if (!byId)
                byId = &d;
        }
        if (byId && byId->pRtspEvent1) {
            report->constat = byId->pRtspEvent1->GetReceivedVideo() ? 1 : 0;
            have = true;
        }
    }
    if (!have) {
        delete report;
        return 0;
    }
    qelm::CopyBounded(report->devId, sizeof report->devId, status->devId);
    report->p2ptype = status->p2ptype;
    qelm::CsLock lock(g_csConnectStatus);
    g_lstConnectStatus.push_back(report);
    return 0;
}

int FlushRcvStatus(const char* devId)
{
    if (!devId)
        return -1;
    for (auto it = g_lstRcvStatus.begin(); it != g_lstRcvStatus.end();) {
        if (std::strcmp(it->devId, devId) == 0) {
            QueueConnectStatus(&*it);
            it = g_lstRcvStatus.erase(it);
        } else {
            ++it;
        }
    }
    return 0;
}

void OnConnectStatusTimer()
{
    const uint32_t now = timeGetTime();
    for (auto it = g_lstRcvStatus.begin(); it != g_lstRcvStatus.end();) {
        if (static_cast<uint32_t>(now - it->startTick) >= kConnectReportAgeMs) {
            QueueConnectStatus(&*it);
            it = g_lstRcvStatus.erase(it);
        } else {
            ++it;
        }
    }
}

void StartConnectStatusThread()
{
    if (g_worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        g_stop = false;
    }
    g_worker = std::thread(ConnectStatusThread);
}

void StopConnectStatusThread()
{
    if (!g_worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        g_stop = true;
    }
    g_wake.notify_all();
    g_worker.join();
}

bool IsConnectStatusThreadRunning()
{
    return g_worker.joinable();
}
