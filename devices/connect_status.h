// Connect-status reports of platform devices: for each live stream a pane
// opens on a platform device's first sink, one report to the cloud service
// whether video arrived and whether the device was reached without P2P,
// eight seconds after the start or when the pane stops first. A worker
// thread sends them, so the UI thread never waits for the network.
#pragma once

#include "core/devinfo.h"
#include "platform/sync.h"

#include <cstdint>
#include <list>

// One stream start waiting to be reported. The record is found again by its
// keys when the report is due: a pointer into it could outlive it.
struct _RCV_STATUS {
    char devId[TextSize(256)];
    char devName[TextSize(256)];
    int32_t p2ptype;        // 1 when the record's UseP2P was 0 at the start
    uint32_t startTick;     // timeGetTime() when the stream was opened
};

// One report for the worker.
struct _CONNECT_STATUS {
    char devId[TextSize(256)];
    int32_t constat;        // the first sink's received-video flag
    int32_t p2ptype;
};

// UI thread only.
extern std::list<_RCV_STATUS> g_lstRcvStatus;
// Shared with the worker, under g_csConnectStatus.
extern std::list<_CONNECT_STATUS*> g_lstConnectStatus;
extern CRITICAL_SECTION g_csConnectStatus;

inline constexpr uint32_t kConnectReportAgeMs = 8000;

// CVideoWnd::AddWatch after it opened a platform device's stream on the
// record's RtspEvent1; nothing for other devices.
void AddRcvStatus(const DeviceInfo& dev);
// -1 for null; 0 otherwise (nothing queued when the record or its first
// sink is gone).
int QueueConnectStatus(const _RCV_STATUS* status);
// -1 for null; reports every entry of that device at once and removes it.
int FlushRcvStatus(const char* devId);
// Timer 1010: reports every entry at least 8 s old.
void OnConnectStatusTimer();

// The worker (started by the main window's initialisation). Stop wakes and
// joins it; reports still queued stay queued.
void StartConnectStatusThread();
void StopConnectStatusThread();
bool IsConnectStatusThreadRunning();
