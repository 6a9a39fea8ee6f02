// One SOAP exchange with a camera, with its log-in: WS-Security digest first
// (on the camera's clock), HTTP digest when the camera asks for it. Shared by
// the device, media, PTZ, event and network calls of the ONVIF stand-in.
#pragma once

#include <atomic>
#include <string>

namespace qelm::onvif {

enum CallResult {
    kCallOk = 0,
    kCallFailed = -1,     // unreachable, timed out, not a SOAP reply
    kCallFault = -2,      // the camera answered with a fault other than a refusal
    kCallRefused = -99,   // the camera refused the log-in
};

// Time-out of one exchange (connect, send and the whole reply).
int TimeoutMs();
void SetTimeoutMs(int ms);

// The host of an http:// address ("" when it is not one).
std::string HostOf(const std::string& address);

// The camera's clock minus ours, as last learnt for that host and port.
bool KnownClockOffset(const std::string& address, int* offset);
// Asks the camera (GetSystemDateAndTime needs no log-in) and remembers it.
// kCallOk, or the failure.
int FetchClockOffset(const std::string& address, int* offset);

struct SoapCall {
    std::string address;     // service address
    std::string user, password;
    std::string action;      // SOAP action URI
    std::string body;        // the request element
    std::string headers;     // further SOAP header blocks (WS-Addressing)
    int clockOffset = 0;
    int timeoutMs = 0;       // 0: TimeoutMs()
    const std::atomic<bool>* cancel = nullptr;
    std::string* fault = nullptr; // the fault's reason text, when one came
};
// The reply's XML in *reply on kCallOk.
int Call(const SoapCall& call, std::string* reply);

// Bounded copy into a fixed text field, always terminated.
void CopyText(char* dst, std::size_t size, const std::string& src);

} // namespace qelm::onvif
