// WS-Discovery of ONVIF cameras: a Probe to the multicast group (or to the
// target set for tests) and the service addresses of the ProbeMatches.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace qelm::onvif {

// "host:port" the probe goes to: the setter's, else QELM2_ONVIF_PROBE_TARGET,
// else 239.255.255.250:3702.
std::string ProbeTarget();
void SetProbeTarget(const std::string& hostPort);
int SearchWaitMs();
void SetSearchWaitMs(int ms);

// Sends one Probe and collects distinct service addresses until waitMs pass
// or *stop turns true. `found` is called for each new one (may be null).
// -1 when the probe could not be sent (bad target, refused by the network
// guard), else the number found.
int Probe(int waitMs, std::vector<std::string>* out, const std::atomic<bool>* stop,
          void (*found)(const std::string&) = nullptr);

// The Probe message (its MessageID given).
std::string ProbeMessage(const std::string& messageId);

} // namespace qelm::onvif
