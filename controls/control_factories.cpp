// The factories of the stand-in controls, by class id.
#include "controls/avi_record.h"
#include "controls/camera_search.h"
#include "controls/control_registry.h"
#include "controls/device_sim.h"
#include "controls/media_limits.h"
#include "controls/playback_control.h"
#include "controls/stream_player.h"
#include "controls/stream_pull.h"

namespace qelm {

void RegisterStandInFactories()
{
    LimitMediaAllocations();   // before any control can take media from outside
    RegisterControlFactory<StreamPullControl>(kClsidRtspPull, [] { return std::make_shared<StreamPullControl>(); });
    RegisterControlFactory<DeviceControl>(kClsidAuxPtz, [] { return std::make_shared<DeviceControl>(); });
    RegisterControlFactory<AviRecordControl>(kClsidAviRecord, [] { return std::make_shared<AviRecordControl>(); });
    RegisterControlFactory<CameraSearch>(kClsidCameraSearch, [] { return std::make_shared<CameraSearch>(); });
    // A widget: created on the UI thread, reparented by its window.
    RegisterControlFactory<StreamPlayerControl>(kClsidStreamPlayer,
                                                [] { return std::make_shared<StreamPlayerControl>(); });
    RegisterControlFactory<PlayBackControl>(kClsidPlayBack, [] { return std::make_shared<PlayBackControl>(); });
}

} // namespace qelm
