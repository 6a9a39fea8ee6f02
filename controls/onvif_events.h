// Camera events of the ONVIF stand-in: one PullPoint subscription per
// handle, each pulled by its own thread, which calls the alarm callback.
#pragma once

#include "controls/onvif.h"
#include "controls/onvif_soap.h"

#include <cstdint>

namespace qelm::onvif {

// CreatePullPointSubscription at the event service; the handle (above 0),
// or 0 when the camera did not subscribe.
std::int32_t Subscribe(const char* eventAddr, const char* user, const char* password, OVF_ALARM_CALLBACK callback);
// Stops the handle's thread, which sends Unsubscribe as its last exchange,
// and waits for it. Unknown handles are ignored.
void Unsubscribe(std::int32_t handle);
// Number of running subscriptions.
int SubscriptionCount();

// The callback's record for one event (camera address, local time of the
// event, alarm type, topic); false when the event is no alarm.
bool MakeAlarmEvent(const EventMessage& message, const std::string& cameraAddr, _OVF_ALARM_EVENT* out);

} // namespace qelm::onvif
