// The device control's real back end: devices that the simulator does not
// list are logged in over their own RTSP service and watched from a worker
// thread per device, so that no dispatch call ever waits on the network.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qelm::realdev {

// Bounds of one RTSP exchange with a device.
struct RtspLimits {
    int connectMs = 3000;          // TCP connect
    int requestMs = 3000;          // one request and its whole answer
    int exchangeMs = 8000;         // a whole log-in (OPTIONS, DESCRIBE, the retry with credentials)
    std::size_t maxAnswer = 256 * 1024;  // headers and body of one answer
};

enum class LinkState { Online, Refused, Lost };

struct Outcome {
    LinkState state = LinkState::Lost;
    std::string reason;  // for the log: why a log-in failed
    bool permanent = false;  // trying again cannot help (a bad URL, a guarded address)
};

// What the control needs to reach a device: its main stream's RTSP URL
// (rtsp://host:port/path, without credentials) and the log-in.
struct DeviceAccess {
    std::string url;
    std::string user, password;
};

// One RTSP connection to a device: a log-in (OPTIONS, then DESCRIBE on the
// stream URL, answering a Basic or Digest challenge with the credentials),
// then cheap checks (OPTIONS on the kept connection). Every wait is bounded
// and ends within 50 ms of `stop` turning true.
class RtspProbe {
public:
    RtspProbe(DeviceAccess access, RtspLimits limits, const std::atomic<bool>* stop = nullptr);
    ~RtspProbe();
    RtspProbe(const RtspProbe&) = delete;
    RtspProbe& operator=(const RtspProbe&) = delete;

    Outcome Login();   // a fresh connection
    Outcome Check();   // on the kept connection; Lost when it has gone
    void Close();

private:
    struct Answer;
    int Connect(std::string* reason, bool* permanent);
    bool Request(const std::string& method, const std::string& uri, const std::string& extra, Answer* answer,
                 std::chrono::steady_clock::time_point deadline, std::string* reason);

    DeviceAccess m_access;
    RtspLimits m_limits;
    const std::atomic<bool>* m_stop;
    int m_fd = -1;
    unsigned m_cseq = 0;
    std::string m_authorization;  // the header that was accepted, reused for checks
};

// A device watched by its own worker thread: logs in, reports each change of
// state through `report` (from the worker), checks an online device every
// `checkMs`, retries an offline one with a back-off capped at `retryCapMs`.
// A refused log-in ends the watch: the same credentials are not tried again.
class DeviceLink {
public:
    struct Timing {
        int checkMs = 2000;
        int retryFirstMs = 250;
        int retryCapMs = 2000;
    };
    using Report = std::function<void(const Outcome&)>;

    DeviceLink(DeviceAccess access, Report report, RtspLimits limits, Timing timing);
    DeviceLink(DeviceAccess access, Report report) : DeviceLink(std::move(access), std::move(report), {}, {}) {}
    ~DeviceLink();  // stops and joins (within about 50 ms)
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    void RequestStop();  // never blocks
    bool Finished() const { return m_finished->load(); }

private:
    void Run();

    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_finished = std::make_shared<std::atomic<bool>>(false);
    DeviceAccess m_access;
    Report m_report;
    RtspLimits m_limits;
    Timing m_timing;
    std::thread m_thread;
};

// rtsp://[user[:password]@]host[:port][/path]: the parts a probe needs.
struct RtspUrl {
    std::string host;  // without brackets
    int port = 554;
    std::string path = "/";
};
bool ParseRtspUrl(const std::string& url, RtspUrl* out);

// Logs a line once per key for the life of the process (refusals of what a
// device cannot do through open protocols).
void LogOnce(const std::string& key, const std::string& line);

} // namespace qelm::realdev
