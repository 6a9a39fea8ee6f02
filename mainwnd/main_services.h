// The main window's side of the small interfaces the lower layers call up
// through (device panel and supervision, live view, media sinks, recording
// threads, broadcast page, the skinned message box's modes). Registered at
// the start of the main window's initialisation, withdrawn at its close.
#pragma once

#include "devices/device_services.h"
#include "liveview/live_view_host.h"
#include "media/dlg_broadcast.h"
#include "media/rec_targets.h"
#include "media/sink_targets.h"

#include <memory>

class CIPCClientDlg;

struct MainServices {
    explicit MainServices(CIPCClientDlg* owner);
    ~MainServices();

    void Register();
    // Every interface back to its do-nothing default.
    void Unregister();

    struct Devices;
    struct LiveView;
    struct Sinks;
    struct Records;
    struct Broadcast;

    CIPCClientDlg* owner;
    std::unique_ptr<Devices> devices;
    std::unique_ptr<LiveView> liveView;
    std::unique_ptr<Sinks> sinks;
    std::unique_ptr<Records> records;
    std::unique_ptr<Broadcast> broadcast;
    bool registered = false;
};
