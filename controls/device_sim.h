// Stand-in of the closed device-control component ("DadAROZar"): an in-process
// device simulator and the control that logs in to its devices and answers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One recording kept on a simulated device.
struct SimRecordFile {
    std::string path;       // the device's path of the file
    uint64_t length = 0;    // bytes
    std::string start;      // "YYYYmmdd HH:MM:SS", local time
    int32_t seconds = 0;    // duration
    int32_t channel = 1;    // channel from 1
    char kind = 'A';        // 'A' plan, 'B' alarm
    std::string source;     // a real media file on this machine played or copied for it; empty: none
};

// One storage device of a simulated device (sizes in MB).
struct SimStorage {
    std::string devName;    // "sd1", "sd2", "usb"
    int32_t mounted = 1;
    int64_t total = 0, used = 0, free = 0;
    int32_t percent = 0;
};

// A fixed answer to a maintenance command, in place of the simulated one.
struct SimAnswer {
    int32_t result = 0;     // -128..127
    std::string text;
};

struct SimDevice {
    std::string address;
    int32_t port = 0;
    std::string user;
    std::string password;
    int32_t type = 0;       // 0 camera or video server, 4 NVR
    int32_t channels = 1;
    std::string channelStates;  // NVR: one digit per channel, 1 online; empty = all online
    std::vector<std::string> presets;  // preset entries as the device reports them
    std::vector<SimRecordFile> files;
    std::vector<SimStorage> storages;
    std::string version = "V1.0.0";
    bool online = true;
    bool talk = true;       // accepts talk
    std::map<int32_t, SimAnswer> answers;  // by maintenance command code
    // --- replay ---
    bool directReplay = true; // Dispatch23: the device replays its files itself
};

// A device found by the camera search control: the fields of its record.
struct SimFoundDevice {
    std::string serial, model, user, password, status, mac;
    std::string address, mask = "255.255.255.0", gateway, dns1, dns2;
    int32_t auth = 0, videoPort = 554, ptzPort = 5000, webPort = 80, dhcp = 0;
};

// An event a test injects as if a device had sent it. kind: 1 status
// (a = type), 2 PTZ answer (a = code), 3 maintenance answer (a = packed code),
// 4 alarm (bytes), 5 media data (bytes, a = value, b = kind), 6 media
// parameters (text, a = kind), 7 replay end (a = code, b = channel),
// 8 download progress (a = value).
struct SimEvent {
    int32_t kind = 1;
    int32_t a = 0;
    int32_t b = 0;
    std::string text;
    std::vector<uint8_t> bytes;
    // --- replay ---
    // Kind 5: the frame's 16-byte MediaFrameHeader; the event's pointer
    // argument then points at it (else at the value a).
    std::vector<uint8_t> header;
};

class DeviceControl;

// The simulated devices, shared by every device control and camera search of
// the process. Thread-safe; changes reach the controls' sinks on the UI thread.
class DeviceSimulator {
public:
    static DeviceSimulator& Instance();

    void AddDevice(const SimDevice& device);        // replaces one at the same address and port
    bool RemoveDevice(const std::string& address, int32_t port);
    std::optional<SimDevice> Device(const std::string& address, int32_t port) const;
    // Takes a device on or off line: logged-in controls get status 2 (lost)
    // or 4 (logged in again).
    bool SetOnline(const std::string& address, int32_t port, bool online);
    // NVR: new channel states; logged-in controls get status 27 with them.
    bool SetChannelStates(const std::string& address, int32_t port, const std::string& states);
    void SetAnswer(const std::string& address, int32_t port, int32_t code, const SimAnswer& answer);
    // Delivers the event to every control logged in to the device.
    void Inject(const std::string& address, int32_t port, const SimEvent& event);
    void Clear();                                   // devices and found devices

    void SetFoundDevices(std::vector<SimFoundDevice> found);
    std::vector<SimFoundDevice> FoundDevices() const;
    bool UpdateFound(size_t index, const SimFoundDevice& found);

    // Reads a device file ("DeviceSim.xml"): <DeviceSim> with <Device> and
    // <Found> elements. Adds to what is configured; false with a reason when
    // the file does not parse.
    bool LoadFile(const std::string& path, std::string* error = nullptr);
    // Loads "DeviceSim.xml" from the program folder when it is there; true
    // when a file was loaded.
    bool LoadDemoFile();

    struct Core;  // a control's shared state; registered while the control lives
    void Attach(const std::shared_ptr<Core>& core);

    // --- replay ---
    // What a device is doing for any control: a recorder refuses a replay by
    // time during a download by time (-6) and the other way round (-5).
    enum Activity : int32_t { kActivityNvrReplay = 1, kActivityTimeDownload = 2 };
    void SetActivity(const std::string& address, int32_t port, Activity what, bool on);
    bool HasActivity(const std::string& address, int32_t port, Activity what) const;

private:
    DeviceSimulator() = default;
    void Notify(const std::string& address, int32_t port, const std::shared_ptr<const SimEvent>& event);

    mutable std::mutex m_mutex;
    std::vector<SimDevice> m_devices;
    std::vector<SimFoundDevice> m_found;
    std::vector<std::weak_ptr<Core>> m_cores;
};

// The control's events (dispatch ids 1 to 8), delivered on the UI thread.
// Text and byte arguments live for the call only.
class IDeviceControlEvents {
public:
    virtual ~IDeviceControlEvents() = default;
    virtual void StatusEvent(int32_t auxPtzId, int32_t type, const char* text) = 0;             // 1
    virtual void PTZResponse(int32_t auxPtzId, int32_t code, const char* text) = 0;             // 2
    virtual void AUXResponse(int32_t auxPtzId, int32_t code, const char* text) = 0;             // 3
    virtual void AlarmEvent(int32_t auxPtzId, const uint8_t* info, int32_t length) = 0;         // 4
    virtual void MediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const int32_t* value,
                               int32_t kind) = 0;                                               // 5
    virtual void MediaParamRecv(int32_t auxPtzId, const char* xml, int32_t kind) = 0;           // 6
    virtual void NvrReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel) = 0;             // 7
    virtual void TimeDownloadProgress(int32_t auxPtzId, int32_t value) = 0;                     // 8
};

// Device status event types the simulator sends.
enum DeviceStatusType : int32_t {
    kDevStatusLost = 2,           // log-in lost / device unreachable
    kDevStatusNvrLost = 3,        // an NVR's log-in lost (its channel states go too)
    kDevStatusLoggedIn = 4,
    kDevStatusRefused = 5,        // wrong user or password
    kDevStatusTalkOk = 6,
    kDevStatusTalkFailed = 7,
    kDevStatusTalkStopped = 8,
    kDevStatusUploadFailed = 15,
    kDevStatusDownloadDone = 16,
    kDevStatusDownloadFailed = 17,
    kDevStatusNvrChannels = 26,   // text: the NVR's channel count
    kDevStatusChannelStates = 27, // text: one digit per channel
    kDevStatusDownloadProgress = 30, // text: <RESPONSE_PARAM start="bytes" filesize="bytes" />
};

class DeviceControl {
public:
    explicit DeviceControl(DeviceSimulator& sim = DeviceSimulator::Instance());
    ~DeviceControl();
    DeviceControl(const DeviceControl&) = delete;
    DeviceControl& operator=(const DeviceControl&) = delete;

    // Connects the event sink (one at a time); Unadvise before deleting it.
    void Advise(IDeviceControlEvents* sink);
    void Unadvise();

    // Dispatch methods. Device calls return 0 when taken and -1 for an
    // unknown AuxPtzId or a device not logged in.
    int32_t AddDevice(const char* address, int32_t port, const char* user, const char* password);
    int32_t DelDevice(int32_t auxPtzId);
    int32_t PtzControl(int32_t auxPtzId, const char* xml);
    int32_t Speak(int32_t auxPtzId, int32_t on);
    int32_t UploadFile(int32_t auxPtzId, int32_t kind, const char* localPath);
    int32_t DownloadFile(int32_t auxPtzId, int32_t flag, const char* remotePath, const char* localPath);
    int32_t WriteAUXStringEx(int32_t auxPtzId, const char* msgType, int32_t code, int32_t flag, const char* xml);
    int32_t AddDeviceEx(const char* address, uint16_t port, const char* user, const char* password);
    int32_t GetDownloadProgress(int32_t auxPtzId);
    int32_t GetUploadProgress(int32_t auxPtzId);
    int32_t StopDownload(int32_t auxPtzId);
    int32_t CloseAll();
    int32_t StartFileReplay(int32_t auxPtzId, const char* remotePath);
    int32_t ControlReplay(int32_t auxPtzId, int32_t code, int32_t value);
    uint32_t Dispatch22(int32_t auxPtzId);
    uint32_t Dispatch23(int32_t auxPtzId);
    int32_t CreateIFrame(int32_t auxPtzId, int32_t channel);
    int32_t StartBroadcast(int32_t codec, int32_t sampleRate, int32_t bits, int32_t channels);
    int32_t AddBroadcastDevice(int32_t auxPtzId);
    int32_t StopBroadcast();
    int32_t StartNvrReplay(int32_t auxPtzId, int32_t channel, const char* time);
    int32_t ControlNvrReplay(int32_t auxPtzId, int32_t a, int32_t b, int32_t c, const char* time);
    int32_t SetTimeSync(int32_t auxPtzId, int32_t enable, int32_t allowedDifference, int32_t interval);
    int32_t DownloadByTime(int32_t auxPtzId, int32_t channel, const char* start, const char* end,
                           const char* localPath);
    int32_t StopDownloadByTime(int32_t auxPtzId, int32_t channel);

    // Not a dispatch call: how a device the simulator does not list is
    // reached, given by the registration code right after AddDevice or
    // AddDeviceEx (on the same turn of the UI thread): its main stream's
    // RTSP URL. Such a device is logged in over RTSP by a worker, checked
    // every few seconds while online and retried while not. -1 for an
    // unknown session or one already handed over.
    int32_t SetStreamUrl(int32_t auxPtzId, const char* url);
    // True once the session is handed to the real back end.
    bool IsReal(int32_t auxPtzId) const;

    // Delay before a log-in answer arrives.
    static constexpr int kLoginDelayMs = 20;
    // Files a record search answers per page.
    static constexpr int kFilesPerPage = 20;

    // --- replay ---
    // Replays stream from worker threads, stopped and joined by the control's
    // destruction, a new replay of the same source or its stop.
    struct Replays;

private:
    std::shared_ptr<DeviceSimulator::Core> m_core;
    std::shared_ptr<Replays> m_replays;  // declared after m_core: goes first

    // --- downloads ---
    struct Downloads;  // the control's download workers (device_sim_download.cpp)
    std::shared_ptr<Downloads> m_downloads = NewDownloads();
    static std::shared_ptr<Downloads> NewDownloads();
};

// --- replay and downloads ---
// DownloadFile copies the file's source on a worker: status 30 texts, then
// 16 (complete) or 17 (failed; also without a source or a writable local
// file). StopDownload ends it without an end event and removes the partial
// copy. DownloadByTime remuxes the channel's source files inside the span
// into one MP4 on a worker; event 8 carries 0..100 percent, 100 once at the
// end, -1 when nothing could be written. A stop keeps what was written as a
// closed MP4. It returns -5 while the recorder replays, -1 for an unknown
// session or a span whose start is not before its end.
// The control state its other source files (device_sim_replay.cpp,
// device_sim_download.cpp) reach.
namespace simdetail {
std::optional<SimDevice> OnlineDevice(DeviceSimulator::Core& core, int32_t id);
void PostEvent(const std::shared_ptr<DeviceSimulator::Core>& core, int32_t id, SimEvent e);
bool SessionAddress(DeviceSimulator::Core& core, int32_t id, std::string* address, int32_t* port);
// An event of that kind with a = value and a text.
SimEvent TextEvent(int32_t kind, int32_t value, std::string text = {});
// True for a logged-in real device, which cannot do `what` over its open
// protocols; logs that once per device.
bool RealRefusal(DeviceSimulator::Core& core, int32_t id, const char* what);
} // namespace simdetail

// Packs a maintenance answer's result (signed top byte) and command code.
inline int32_t PackAuxCode(int32_t result, int32_t code)
{
    return int32_t((uint32_t(result) << 24) | (uint32_t(code) & 0xFFFFFFu));
}
