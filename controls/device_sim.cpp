// The device simulator and the device-control stand-in: log-in, PTZ, talk,
// maintenance, record search and replay answered from configured devices.
#include "controls/device_sim.h"

#include "controls/device_real.h"
#include "controls/journal.h"
#include "controls/media_params.h"
#include "platform/logsink.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <tinyxml.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

enum class LoginState { Pending, Online, Lost, Refused };

struct Session {
    std::string address;
    int32_t port = 0;
    std::string user, password;
    LoginState state = LoginState::Pending;
    bool nvr = false;  // the device was a recorder when last seen
    int32_t uploadProgress = 0;
    // --- real devices ---
    bool simulated = false;  // the simulator answered for the device
    bool real = false;       // handed to the real back end
    std::string streamUrl;   // how a real device is reached (SetStreamUrl)
    std::shared_ptr<qelm::realdev::DeviceLink> link;
};

std::string Str(const char* s)
{
    return s ? std::string(s) : std::string();
}

// The value of attribute `name` in an XML-like text: name, optional blanks,
// '=', optional blanks, a quoted value. Empty when absent.
std::string AttrOf(const std::string& text, const std::string& name)
{
    size_t pos = 0;
    while ((pos = text.find(name, pos)) != std::string::npos) {
        const bool boundary = pos == 0 || strchr(" \t\r\n<", text[pos - 1]) != nullptr;
        size_t p = pos + name.size();
        pos = p;
        if (!boundary)
            continue;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
            ++p;
        if (p >= text.size() || text[p] != '=')
            continue;
        ++p;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
            ++p;
        if (p >= text.size() || text[p] != '"')
            continue;
        const size_t end = text.find('"', p + 1);
        if (end == std::string::npos)
            return {};
        return text.substr(p + 1, end - p - 1);
    }
    return {};
}

// The content of <tag>...</tag>, or empty.
std::string ElementOf(const std::string& text, const std::string& tag)
{
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t a = text.find(open);
    if (a == std::string::npos)
        return {};
    const size_t b = text.find(close, a + open.size());
    return b == std::string::npos ? std::string() : text.substr(a + open.size(), b - a - open.size());
}

std::string XmlEscape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Seconds since midnight of "YYYYmmdd HH:MM:SS"; -1 when malformed.
int SecondsOfDay(const std::string& t)
{
    int h = 0, m = 0, s = 0;
    if (t.size() < 17 || sscanf(t.c_str() + 9, "%2d:%2d:%2d", &h, &m, &s) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

std::string ChannelStates(const SimDevice& d)
{
    if (!d.channelStates.empty())
        return d.channelStates;
    return std::string(size_t(std::clamp(d.channels, 0, 128)), '1');
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

struct DeviceSimulator::Core {
    DeviceSimulator* sim = nullptr;
    std::recursive_mutex sinkMutex;
    IDeviceControlEvents* sink = nullptr;
    std::mutex mutex;
    std::map<int32_t, Session> sessions;
    int32_t nextId = 1;
    // Links of removed sessions, stopping on their own; joined when the
    // control goes, so that no dispatch call waits for a worker.
    std::vector<std::shared_ptr<qelm::realdev::DeviceLink>> retired;

    // Stops a session's link without waiting; mutex held.
    void Retire(Session& s)
    {
        if (!s.link)
            return;
        s.link->RequestStop();
        retired.erase(std::remove_if(retired.begin(), retired.end(),
                                     [](const auto& l) { return l->Finished(); }),
                      retired.end());
        retired.push_back(std::move(s.link));
    }

    // Journals and hands an event to the sink; UI thread.
    void Deliver(const SimEvent& e, int32_t id)
    {
        static const char* const kNames[] = {"",
                                             "CAuxPTZEvents::StatusEvent",
                                             "CAuxPTZEvents::PTZResponse",
                                             "CAuxPTZEvents::AUXResponse",
                                             "CAuxPTZEvents::AlarmEvent",
                                             "CAuxPTZEvents::MediaDataRecv",
                                             "CAuxPTZEvents::MediaParamRecv",
                                             "CAuxPTZEvents::NvrReplayEnd",
                                             "CAuxPTZEvents::TimeDownloadProgress"};
        if (e.kind < 1 || e.kind > 8)
            return;
        const int32_t length = int32_t(std::min<size_t>(e.bytes.size(), INT32_MAX));
        switch (e.kind) {
        case 1: case 2: case 3: qelm::Journal::Event(kNames[e.kind], {id, e.a, e.text}); break;
        case 4: qelm::Journal::Event(kNames[4], {id, length}); break;
        case 5: qelm::Journal::Event(kNames[5], {id, length, e.a, e.b}); break;
        case 6: qelm::Journal::Event(kNames[6], {id, e.text, e.a}); break;
        default: qelm::Journal::Event(kNames[e.kind], {id, e.a, e.b}); break;
        }
        std::lock_guard<std::recursive_mutex> lock(sinkMutex);
        if (!sink)
            return;
        switch (e.kind) {
        case 1: sink->StatusEvent(id, e.a, e.text.c_str()); break;
        case 2: sink->PTZResponse(id, e.a, e.text.c_str()); break;
        case 3: sink->AUXResponse(id, e.a, e.text.c_str()); break;
        case 4: sink->AlarmEvent(id, e.bytes.data(), length); break;
        case 5: {
            const int32_t value = e.a;
            if (e.header.size() == sizeof(MediaFrameHeader)) {
                MediaFrameHeader h;
                std::memcpy(&h, e.header.data(), sizeof h);
                sink->MediaDataRecv(id, e.bytes.data(), length, reinterpret_cast<const int32_t*>(&h), e.b);
            } else {
                sink->MediaDataRecv(id, e.bytes.data(), length, &value, e.b);
            }
            break;
        }
        case 6: sink->MediaParamRecv(id, e.text.c_str(), e.a); break;
        case 7: sink->NvrReplayEnd(id, e.a, e.b); break;
        case 8: sink->TimeDownloadProgress(id, e.a); break;
        default: break;
        }
    }

    // Settles the log-in state of every session with this device against
    // the device as it is now; returns the status events to send.
    std::vector<std::pair<int32_t, SimEvent>> Reconcile(const std::string& address, int32_t port)
    {
        const std::optional<SimDevice> dev = sim->Device(address, port);
        const bool nvr = dev && dev->type == 4;
        std::vector<std::pair<int32_t, SimEvent>> out;
        auto status = [&out](int32_t id, int32_t type, std::string text = {}) {
            SimEvent e;
            e.kind = 1;
            e.a = type;
            e.text = std::move(text);
            out.emplace_back(id, std::move(e));
        };
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [id, s] : sessions) {
            if (s.address != address || s.port != port || s.state == LoginState::Refused)
                continue;
            // A device the simulator does not list is a real one; once
            // listed, the simulator answers for it from then on.
            if (!dev && !s.simulated)
                continue;
            if (!s.simulated) {
                s.simulated = true;
                Retire(s);
            }
            LoginState next;
            if (!dev || !dev->online)
                next = LoginState::Lost;
            else if (dev->user != s.user || dev->password != s.password)
                next = LoginState::Refused;
            else
                next = LoginState::Online;
            if (next == s.state)
                continue;
            const bool wasOnline = s.state == LoginState::Online;
            s.state = next;
            if (next == LoginState::Online) {
                status(id, kDevStatusLoggedIn);
                if (nvr) {
                    // A recorder announces its channels and their states.
                    status(id, kDevStatusNvrChannels, std::to_string(dev->channels));
                    status(id, kDevStatusChannelStates, ChannelStates(*dev));
                }
            } else if (next == LoginState::Refused) {
                status(id, kDevStatusRefused);
            } else {
                status(id, wasOnline && s.nvr ? kDevStatusNvrLost : kDevStatusLost);
            }
            if (dev)
                s.nvr = nvr;
        }
        return out;
    }

    std::vector<int32_t> OnlineSessions(const std::string& address, int32_t port)
    {
        std::vector<int32_t> ids;
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [id, s] : sessions)
            if (s.address == address && s.port == port && s.state == LoginState::Online)
                ids.push_back(id);
        return ids;
    }
};

namespace {

using CorePtr = std::shared_ptr<DeviceSimulator::Core>;

// Runs fn on the UI thread after delayMs, unless the control is gone by then.
// Workers hand in a weak pointer: they never own the control's state.
void RunLater(std::weak_ptr<DeviceSimulator::Core> weak, int delayMs, std::function<void(DeviceSimulator::Core&)> fn)
{
    auto run = [weak, fn] {
        if (CorePtr c = weak.lock())
            fn(*c);
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        run();
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [app, delayMs, run] {
            if (delayMs > 0)
                QTimer::singleShot(delayMs, app, run);
            else
                run();
        },
        Qt::QueuedConnection);
}

void PostEvent(const CorePtr& core, int32_t id, SimEvent e, int delayMs = 0)
{
    RunLater(core, delayMs, [id, e = std::move(e)](DeviceSimulator::Core& c) { c.Deliver(e, id); });
}

SimEvent Status(int32_t type, std::string text = {})
{
    SimEvent e;
    e.kind = 1;
    e.a = type;
    e.text = std::move(text);
    return e;
}

SimEvent TextEvent(int32_t kind, int32_t a, std::string text)
{
    SimEvent e;
    e.kind = kind;
    e.a = a;
    e.text = std::move(text);
    return e;
}

// The session's device when the session is logged in.
std::optional<SimDevice> OnlineDevice(DeviceSimulator::Core& core, int32_t id)
{
    std::string address;
    int32_t port = 0;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        auto it = core.sessions.find(id);
        if (it == core.sessions.end() || it->second.state != LoginState::Online)
            return std::nullopt;
        address = it->second.address;
        port = it->second.port;
    }
    std::optional<SimDevice> dev = core.sim->Device(address, port);
    if (!dev || !dev->online)
        return std::nullopt;
    return dev;
}

// " count^item^item^...^", the device's preset list answer.
std::string PresetAnswer(const SimDevice& dev)
{
    std::string text = " " + std::to_string(dev.presets.size()) + "^";
    for (const std::string& p : dev.presets)
        text += p + "^";
    return text;
}

std::string RecordSearchAnswer(const SimDevice& dev, const std::string& request)
{
    const std::string start = AttrOf(request, "StartTime"), end = AttrOf(request, "EndTime");
    const std::string stream = AttrOf(request, "StreamIndex");
    const int page = std::max(0, atoi(AttrOf(request, "Page").c_str()));
    std::vector<const SimRecordFile*> match;
    for (const SimRecordFile& f : dev.files) {
        if (!start.empty() && f.start < start)
            continue;
        if (!end.empty() && f.start > end)
            continue;
        if (!stream.empty() && f.path.find("-" + stream + ".") == std::string::npos)
            continue;
        match.push_back(&f);
    }
    std::string text = "<RESPONSE_PARAM FileCount=\"" + std::to_string(match.size()) + "\">";
    const size_t first = size_t(page) * DeviceControl::kFilesPerPage;
    for (size_t i = first; i < match.size() && i < first + DeviceControl::kFilesPerPage; ++i)
        text += "<RECORD_FILE FilePath=\"" + XmlEscape(match[i]->path) + "\" FileLength=\"" +
                std::to_string(match[i]->length) + "\" />";
    return text + "</RESPONSE_PARAM>";
}

// The 1,440-letter minute map of one channel's day ('A' plan, 'B' alarm, 'C' none).
std::string DayMapAnswer(const SimDevice& dev, const std::string& request)
{
    const int channel = atoi(AttrOf(request, "ChannelId").c_str());
    const std::string day = AttrOf(request, "Time");
    std::string map(1440, 'C');
    for (const SimRecordFile& f : dev.files) {
        if (f.channel != channel || day.size() != 8 || f.start.compare(0, 8, day) != 0)
            continue;
        const int from = SecondsOfDay(f.start);
        if (from < 0)
            continue;
        const int to = std::min(86400, from + std::max(1, f.seconds));
        for (int m = from / 60; m <= (to - 1) / 60 && m < 1440; ++m)
            if (map[size_t(m)] != 'B')
                map[size_t(m)] = f.kind;
    }
    return "<RESPONSE_PARAM ChannelId=\"" + std::to_string(channel) + "\" Stream=\"" + map + "\" />";
}

// A maintenance answer as the device gives it: result and text.
SimAnswer AuxAnswer(const SimDevice& dev, int32_t code, const std::string& request)
{
    if (auto it = dev.answers.find(code); it != dev.answers.end())
        return it->second;
    switch (code) {
    case 1012: return {0, "<RESPONSE_PARAM FileSystemVersion=\"" + XmlEscape(dev.version) + "\" />"};
    case 1014: {
        std::string text = "<RESPONSE_PARAM>";
        for (const SimStorage& s : dev.storages)
            text += "<STORAGE DevName=\"" + XmlEscape(s.devName) + "\" Mounted=\"" + std::to_string(s.mounted) +
                    "\" Total=\"" + std::to_string(s.total) + "\" Used=\"" + std::to_string(s.used) +
                    "\" Free=\"" + std::to_string(s.free) + "\" Percent=\"" + std::to_string(s.percent) + "\" />";
        return {0, text + "</RESPONSE_PARAM>"};
    }
    case 1017:
    case 1018: {
        const std::string name = AttrOf(request, "DevName");
        for (const SimStorage& s : dev.storages)
            if (s.devName == name)
                return {0, {}};
        return {-1, {}};
    }
    case 1021: return {0, RecordSearchAnswer(dev, request)};
    case 3001: return {0, DayMapAnswer(dev, request)};
    default: return {0, {}};
    }
}

} // namespace

// ---- DeviceSimulator ----

DeviceSimulator& DeviceSimulator::Instance()
{
    static DeviceSimulator* sim = new DeviceSimulator; // lives past static destruction of controls
    return *sim;
}

void DeviceSimulator::AddDevice(const SimDevice& device)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(), [&](const SimDevice& d) {
            return d.address == device.address && d.port == device.port;
        });
        if (it != m_devices.end())
            *it = device;
        else
            m_devices.push_back(device);
    }
    Notify(device.address, device.port, nullptr);
}

bool DeviceSimulator::RemoveDevice(const std::string& address, int32_t port)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const SimDevice& d) { return d.address == address && d.port == port; });
        if (it == m_devices.end())
            return false;
        m_devices.erase(it);
    }
    Notify(address, port, nullptr);
    return true;
}

std::optional<SimDevice> DeviceSimulator::Device(const std::string& address, int32_t port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const SimDevice& d : m_devices)
        if (d.address == address && d.port == port)
            return d;
    return std::nullopt;
}

bool DeviceSimulator::SetOnline(const std::string& address, int32_t port, bool online)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const SimDevice& d) { return d.address == address && d.port == port; });
        if (it == m_devices.end())
            return false;
        it->online = online;
    }
    Notify(address, port, nullptr);
    return true;
}

bool DeviceSimulator::SetChannelStates(const std::string& address, int32_t port, const std::string& states)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const SimDevice& d) { return d.address == address && d.port == port; });
        if (it == m_devices.end())
            return false;
        it->channelStates = states;
    }
    SimEvent e;
    e.kind = 1;
    e.a = kDevStatusChannelStates;
    e.text = states;
    Inject(address, port, e);
    return true;
}

void DeviceSimulator::SetAnswer(const std::string& address, int32_t port, int32_t code, const SimAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (SimDevice& d : m_devices)
        if (d.address == address && d.port == port)
            d.answers[code] = answer;
}

void DeviceSimulator::Inject(const std::string& address, int32_t port, const SimEvent& event)
{
    Notify(address, port, std::make_shared<const SimEvent>(event));
}

void DeviceSimulator::Clear()
{
    std::vector<std::pair<std::string, int32_t>> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const SimDevice& d : m_devices)
            gone.emplace_back(d.address, d.port);
        m_devices.clear();
        m_found.clear();
    }
    for (auto& [a, p] : gone)
        Notify(a, p, nullptr);
}

void DeviceSimulator::SetFoundDevices(std::vector<SimFoundDevice> found)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_found = std::move(found);
}

std::vector<SimFoundDevice> DeviceSimulator::FoundDevices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_found;
}

bool DeviceSimulator::UpdateFound(size_t index, const SimFoundDevice& found)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_found.size())
        return false;
    m_found[index] = found;
    return true;
}

void DeviceSimulator::Attach(const std::shared_ptr<Core>& core)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_cores, [](const std::weak_ptr<Core>& w) { return w.expired(); });
    m_cores.push_back(core);
}

// A device changed (event null) or sent an event: each control settles or
// delivers it on the UI thread.
void DeviceSimulator::Notify(const std::string& address, int32_t port, const std::shared_ptr<const SimEvent>& event)
{
    std::vector<CorePtr> cores;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& w : m_cores)
            if (CorePtr c = w.lock())
                cores.push_back(c);
    }
    for (const CorePtr& core : cores) {
        RunLater(core, 0, [address, port, event](Core& c) {
            if (!event) {
                for (const auto& [id, e] : c.Reconcile(address, port))
                    c.Deliver(e, id);
                return;
            }
            for (int32_t id : c.OnlineSessions(address, port))
                c.Deliver(*event, id);
        });
    }
}

namespace {

// What one simulator file can make the process hold: devices and found
// devices each, and presets, storages and record files over the whole file.
constexpr size_t kMaxSimRecords = 10000;
constexpr size_t kMaxSimNestedRecords = 100000;

// The file as TinyXML's own loader reads it (line ends become "\n").
bool ReadXmlText(const std::string& path, std::string& text)
{
    std::string data, why;
    if (!qelm::ReadRegularFile(path, data, &why)) {
        qelm::PlatformLog(3, "Device simulator: %s not read: %s", path.c_str(), why.c_str());
        return false;
    }
    text.clear();
    text.reserve(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
        } else {
            text.push_back(data[i]);
        }
    }
    return true;
}

void LogRefused(const std::string& path, const char* what, size_t total, size_t limit)
{
    qelm::PlatformLog(3, "Device simulator: %s: %zu %s records, the first %zu loaded, the rest refused.", path.c_str(),
                      total, what, limit);
}

} // namespace

bool DeviceSimulator::LoadFile(const std::string& path, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why + ": " + path;
        return false;
    };
    std::string xml;
    if (!ReadXmlText(path, xml))
        return fail("cannot read");
    // TinyXML trusts UTF-8 lead bytes and recurses once per nesting level:
    // it gets neither malformed text nor a hostile depth.
    if (xml.find('\0') != std::string::npos || !qelm::IsValidUtf8(xml))
        return fail("not UTF-8 text");
    if (!qelm::XmlNestingWithin(xml))
        return fail("nested deeper than " + std::to_string(qelm::kMaxXmlNesting) + " levels");
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc.Error())
        return fail(doc.ErrorDesc() ? doc.ErrorDesc() : "not XML");
    const TiXmlElement* root = doc.RootElement();
    if (!root || std::string(root->Value()) != "DeviceSim") {
        if (error)
            *error = "root element is not DeviceSim: " + path;
        return false;
    }
    auto text = [](const TiXmlElement* e, const char* name, const char* def = "") {
        const char* v = e->Attribute(name);
        return std::string(v ? v : def);
    };
    auto number = [](const TiXmlElement* e, const char* name, long long def) {
        const char* v = e->Attribute(name);
        return v ? atoll(v) : def;
    };
    std::vector<SimDevice> devices;
    std::vector<SimFoundDevice> found;
    size_t deviceCount = 0, foundCount = 0, nestedCount = 0;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string tag = e->Value();
        if (tag == "Device" && ++deviceCount > kMaxSimRecords)
            continue;
        if (tag == "Found" && ++foundCount > kMaxSimRecords)
            continue;
        if (tag == "Device") {
            SimDevice d;
            d.address = text(e, "Address");
            d.port = int32_t(number(e, "Port", 0));
            d.user = text(e, "User");
            d.password = text(e, "Password");
            d.type = int32_t(number(e, "Type", 0));
            d.channels = int32_t(number(e, "Channels", 1));
            d.channelStates = text(e, "ChannelStates");
            d.version = text(e, "Version", "V1.0.0");
            d.online = number(e, "Online", 1) != 0;
            d.talk = number(e, "Talk", 1) != 0;
            d.directReplay = number(e, "DirectReplay", 1) != 0;
            for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
                const std::string ctag = c->Value();
                if ((ctag == "Preset" || ctag == "RecordFile" || ctag == "Storage") &&
                    ++nestedCount > kMaxSimNestedRecords)
                    continue;
                if (ctag == "Preset" && c->GetText())
                    d.presets.push_back(c->GetText());
                else if (ctag == "RecordFile") {
                    SimRecordFile f;
                    f.path = text(c, "Path");
                    f.length = uint64_t(std::max(0LL, number(c, "Length", 0)));
                    f.start = text(c, "Start");
                    f.seconds = int32_t(number(c, "Seconds", 0));
                    f.channel = int32_t(number(c, "Channel", 1));
                    const std::string kind = text(c, "Kind", "A");
                    f.kind = kind == "B" ? 'B' : 'A';
                    f.source = text(c, "Source");
                    d.files.push_back(f);
                } else if (ctag == "Storage") {
                    SimStorage s;
                    s.devName = text(c, "DevName");
                    s.mounted = int32_t(number(c, "Mounted", 1));
                    s.total = number(c, "Total", 0);
                    s.used = number(c, "Used", 0);
                    s.free = number(c, "Free", 0);
                    s.percent = int32_t(number(c, "Percent", 0));
                    d.storages.push_back(s);
                }
            }
            if (d.address.empty() || d.port <= 0 || d.port > 65535) {
                if (error)
                    *error = "Device without a valid Address and Port: " + path;
                return false;
            }
            devices.push_back(std::move(d));
        } else if (tag == "Found") {
            SimFoundDevice f;
            f.serial = text(e, "Serial");
            f.model = text(e, "Model");
            f.user = text(e, "User");
            f.password = text(e, "Password");
            f.status = text(e, "Status");
            f.mac = text(e, "Mac");
            f.address = text(e, "Address");
            f.mask = text(e, "Mask", "255.255.255.0");
            f.gateway = text(e, "Gateway");
            f.dns1 = text(e, "Dns1");
            f.dns2 = text(e, "Dns2");
            f.auth = int32_t(number(e, "Auth", 0));
            f.videoPort = int32_t(number(e, "VideoPort", 554));
            f.ptzPort = int32_t(number(e, "PtzPort", 5000));
            f.webPort = int32_t(number(e, "WebPort", 80));
            f.dhcp = int32_t(number(e, "Dhcp", 0));
            found.push_back(std::move(f));
        }
    }
    if (deviceCount > kMaxSimRecords)
        LogRefused(path, "Device", deviceCount, kMaxSimRecords);
    if (foundCount > kMaxSimRecords)
        LogRefused(path, "Found", foundCount, kMaxSimRecords);
    if (nestedCount > kMaxSimNestedRecords)
        LogRefused(path, "Preset, Storage and RecordFile", nestedCount, kMaxSimNestedRecords);
    for (const SimDevice& d : devices)
        AddDevice(d);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_found.insert(m_found.end(), found.begin(), found.end());
    return true;
}

bool DeviceSimulator::LoadDemoFile()
{
    const std::string path = qelm::ProgramDir() + "DeviceSim.xml";
    if (!FileExists(path))
        return false;
    std::string error;
    if (!LoadFile(path, &error)) {
        qelm::PlatformLog(3, "Device simulator: %s", error.c_str());
        return false;
    }
    qelm::PlatformLog(6, "Device simulator: devices loaded from %s", path.c_str());
    return true;
}

// ---- DeviceControl ----

DeviceControl::DeviceControl(DeviceSimulator& sim) : m_core(std::make_shared<DeviceSimulator::Core>())
{
    m_core->sim = &sim;
    sim.Attach(m_core);
}

DeviceControl::~DeviceControl()
{
    Unadvise(); // queued events find the control gone and are dropped
}

void DeviceControl::Advise(IDeviceControlEvents* sink)
{
    std::lock_guard<std::recursive_mutex> lock(m_core->sinkMutex);
    m_core->sink = sink;
}

void DeviceControl::Unadvise()
{
    std::lock_guard<std::recursive_mutex> lock(m_core->sinkMutex);
    m_core->sink = nullptr;
}

namespace {

bool SessionOf(DeviceSimulator::Core& core, int32_t id, std::string* address, int32_t* port)
{
    std::lock_guard<std::mutex> lock(core.mutex);
    auto it = core.sessions.find(id);
    if (it == core.sessions.end())
        return false;
    *address = it->second.address;
    *port = it->second.port;
    return true;
}

bool Known(DeviceSimulator::Core& core, int32_t id)
{
    std::lock_guard<std::mutex> lock(core.mutex);
    return core.sessions.count(id) != 0;
}

// A real session's new state, on the UI thread: the status event the
// simulator would send for the same change.
void ApplyReal(DeviceSimulator::Core& core, int32_t id, const qelm::realdev::Outcome& o)
{
    std::string name;
    LoginState next = o.state == qelm::realdev::LinkState::Online    ? LoginState::Online
                      : o.state == qelm::realdev::LinkState::Refused ? LoginState::Refused
                                                                      : LoginState::Lost;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        auto it = core.sessions.find(id);
        if (it == core.sessions.end() || it->second.simulated || it->second.state == next)
            return;
        it->second.state = next;
        name = it->second.address + ":" + std::to_string(it->second.port);
    }
    if (next == LoginState::Online)
        qelm::PlatformLog(6, "Device control: %s logged in.", name.c_str());
    else
        qelm::PlatformLog(4, "Device control: %s %s: %s", name.c_str(),
                          next == LoginState::Refused ? "refused the log-in" : "is not reachable", o.reason.c_str());
    core.Deliver(Status(next == LoginState::Online    ? kDevStatusLoggedIn
                        : next == LoginState::Refused ? kDevStatusRefused
                                                      : kDevStatusLost),
                 id);
}

// Hands a session the simulator does not answer for to the real back end;
// UI thread, after the registration code had its chance to give the URL.
void StartReal(const CorePtr& core, int32_t id)
{
    qelm::realdev::DeviceAccess access;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        auto it = core->sessions.find(id);
        if (it == core->sessions.end() || it->second.simulated || it->second.real)
            return;
        Session& s = it->second;
        s.real = true;
        access = {s.streamUrl, s.user, s.password};
        name = s.address + ":" + std::to_string(s.port);
    }
    if (access.url.empty()) {
        qelm::realdev::LogOnce("no-url " + name, "Device control: " + name +
                                                     " has no RTSP stream to log in with; it stays offline.");
        ApplyReal(*core, id, {qelm::realdev::LinkState::Lost, "no RTSP stream"});
        return;
    }
    std::weak_ptr<DeviceSimulator::Core> weak = core;
    auto link = std::make_shared<qelm::realdev::DeviceLink>(access, [weak, id](const qelm::realdev::Outcome& o) {
        RunLater(weak, 0, [id, o](DeviceSimulator::Core& c) { ApplyReal(c, id, o); });
    });
    std::lock_guard<std::mutex> lock(core->mutex);
    auto it = core->sessions.find(id);
    if (it == core->sessions.end()) {
        link->RequestStop();
        core->retired.push_back(std::move(link));
    } else {
        it->second.link = std::move(link);
    }
}

// True when the session is a real device that is logged in; then logs once
// that `what` is beyond what its open protocols offer.
bool RealRefusal(DeviceSimulator::Core& core, int32_t id, const char* what)
{
    std::string name;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        auto it = core.sessions.find(id);
        if (it == core.sessions.end() || !it->second.real || it->second.state != LoginState::Online)
            return false;
        name = it->second.address + ":" + std::to_string(it->second.port);
    }
    qelm::realdev::LogOnce(std::string(what) + " " + name, "Device control: " + name + ": " + what +
                                                               " is not offered over RTSP; refused.");
    return true;
}

int32_t Login(const CorePtr& core, const char* address, int32_t port, const char* user, const char* password)
{
    int32_t id;
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        id = core->nextId++;
        Session s;
        s.address = Str(address);
        s.port = port;
        s.user = Str(user);
        s.password = Str(password);
        core->sessions[id] = s;
    }
    // The answer comes later, as a device's would.
    RunLater(core, DeviceControl::kLoginDelayMs, [id](DeviceSimulator::Core& c) {
        std::string address;
        int32_t port = 0;
        {
            std::lock_guard<std::mutex> lock(c.mutex);
            auto it = c.sessions.find(id);
            if (it == c.sessions.end())
                return;
            address = it->second.address;
            port = it->second.port;
        }
        for (const auto& [sid, e] : c.Reconcile(address, port))
            c.Deliver(e, sid);
    });
    // The registration code gives a real device's stream right after this
    // call, on the same turn of the UI thread; the hand-over comes after.
    std::weak_ptr<DeviceSimulator::Core> weak = core;
    RunLater(core, 0, [id, weak](DeviceSimulator::Core& c) {
        std::string address;
        int32_t port = 0;
        if (!SessionOf(c, id, &address, &port) || c.sim->Device(address, port))
            return;
        if (CorePtr p = weak.lock())
            StartReal(p, id);
    });
    return id;
}

} // namespace

int32_t DeviceControl::AddDevice(const char* address, int32_t port, const char* user, const char* password)
{
    const int32_t id = Login(m_core, address, port, user, password);
    qelm::Journal::Call("CAuxPtzCtrl::AddDevice", {address, port, user, password}, id);
    return id;
}

int32_t DeviceControl::AddDeviceEx(const char* address, uint16_t port, const char* user, const char* password)
{
    const int32_t id = Login(m_core, address, port, user, password);
    qelm::Journal::Call("CAuxPtzCtrl::AddDeviceEx", {address, port, user, password}, id);
    return id;
}

int32_t DeviceControl::SetStreamUrl(int32_t auxPtzId, const char* url)
{
    std::lock_guard<std::mutex> lock(m_core->mutex);
    auto it = m_core->sessions.find(auxPtzId);
    if (it == m_core->sessions.end() || it->second.real)
        return -1;
    it->second.streamUrl = Str(url);
    return 0;
}

bool DeviceControl::IsReal(int32_t auxPtzId) const
{
    std::lock_guard<std::mutex> lock(m_core->mutex);
    auto it = m_core->sessions.find(auxPtzId);
    return it != m_core->sessions.end() && it->second.real;
}

int32_t DeviceControl::DelDevice(int32_t auxPtzId)
{
    int32_t result;
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        auto it = m_core->sessions.find(auxPtzId);
        result = it == m_core->sessions.end() ? -1 : 0;
        if (it != m_core->sessions.end()) {
            m_core->Retire(it->second);
            m_core->sessions.erase(it);
        }
    }
    qelm::Journal::Call("CAuxPtzCtrl::DelDevice", {auxPtzId}, result);
    return result;
}

int32_t DeviceControl::PtzControl(int32_t auxPtzId, const char* xml)
{
    const std::string text = Str(xml);
    const std::optional<SimDevice> dev = OnlineDevice(*m_core, auxPtzId);
    const int32_t result = dev ? 0 : -1;
    RealRefusal(*m_core, auxPtzId, "PTZ");
    qelm::Journal::Call("CAuxPtzCtrl::PtzControl", {auxPtzId, text}, result);
    if (!dev)
        return result;
    const std::string cmd = ElementOf(text, "cmd");
    const std::string preset = ElementOf(text, "preset");
    if (cmd == "GetPresetList") {
        PostEvent(m_core, auxPtzId, TextEvent(2, 0, PresetAnswer(*dev)));
    } else if ((cmd == "setpreset" || cmd == "clearpreset") && !preset.empty()) {
        // The device keeps its presets.
        SimDevice d = *dev;
        auto it = std::find(d.presets.begin(), d.presets.end(), preset);
        if (cmd == "setpreset" && it == d.presets.end())
            d.presets.push_back(preset);
        else if (cmd == "clearpreset" && it != d.presets.end())
            d.presets.erase(it);
        m_core->sim->AddDevice(d);
    }
    return result;
}

int32_t DeviceControl::Speak(int32_t auxPtzId, int32_t on)
{
    const std::optional<SimDevice> dev = OnlineDevice(*m_core, auxPtzId);
    const bool known = Known(*m_core, auxPtzId);
    const int32_t result = known ? 0 : -1;
    if (on)
        RealRefusal(*m_core, auxPtzId, "talk");
    qelm::Journal::Call("CAuxPtzCtrl::Speak", {auxPtzId, on}, result);
    if (known) {
        const int32_t type = !on ? kDevStatusTalkStopped : dev && dev->talk ? kDevStatusTalkOk : kDevStatusTalkFailed;
        PostEvent(m_core, auxPtzId, Status(type));
    }
    return result;
}

int32_t DeviceControl::UploadFile(int32_t auxPtzId, int32_t kind, const char* localPath)
{
    const std::optional<SimDevice> dev = OnlineDevice(*m_core, auxPtzId);
    const bool ok = dev && FileExists(Str(localPath));
    const int32_t result = dev ? 0 : -1;
    RealRefusal(*m_core, auxPtzId, "file upload");
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (auto it = m_core->sessions.find(auxPtzId); it != m_core->sessions.end())
            it->second.uploadProgress = ok ? 100 : 0;
    }
    qelm::Journal::Call("CAuxPtzCtrl::UploadFile", {auxPtzId, kind, localPath}, result);
    if (Known(*m_core, auxPtzId) && !ok)
        PostEvent(m_core, auxPtzId, Status(kDevStatusUploadFailed));
    return result;
}

int32_t DeviceControl::WriteAUXStringEx(int32_t auxPtzId, const char* msgType, int32_t code, int32_t flag,
                                        const char* xml)
{
    const std::optional<SimDevice> dev = OnlineDevice(*m_core, auxPtzId);
    // A logged-in real device has no maintenance channel over RTSP: the
    // request is taken and answered as a device answers one it refuses.
    const bool refused = !dev && RealRefusal(*m_core, auxPtzId, ("maintenance command " + std::to_string(code)).c_str());
    const int32_t result = dev || refused ? 0 : -1;
    qelm::Journal::Call("CAuxPtzCtrl::WriteAUXStringEx", {auxPtzId, msgType, code, flag, xml}, result);
    if (refused)
        PostEvent(m_core, auxPtzId, TextEvent(3, PackAuxCode(-1, code), {}));
    if (!dev)
        return result;
    // Time set and reboot are taken without an answer the client reads, but a
    // device still acknowledges them.
    const SimAnswer answer = AuxAnswer(*dev, code, Str(xml));
    PostEvent(m_core, auxPtzId, TextEvent(3, PackAuxCode(answer.result, code), answer.text));
    return result;
}

int32_t DeviceControl::GetUploadProgress(int32_t auxPtzId)
{
    int32_t result = 0;
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (auto it = m_core->sessions.find(auxPtzId); it != m_core->sessions.end())
            result = it->second.uploadProgress;
    }
    qelm::Journal::Call("CAuxPtzCtrl::GetUploadProgress", {auxPtzId}, result);
    return result;
}

int32_t DeviceControl::CloseAll()
{
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        for (auto& [id, s] : m_core->sessions)
            m_core->Retire(s);
        m_core->sessions.clear();
    }
    qelm::Journal::Call("CAuxPtzCtrl::CloseAll", {}, 0);
    return 0;
}

int32_t DeviceControl::CreateIFrame(int32_t auxPtzId, int32_t channel)
{
    qelm::Journal::Call("CAuxPtzCtrl::CreateIFrame", {auxPtzId, channel}, 0);
    return 0;
}

int32_t DeviceControl::StartBroadcast(int32_t codec, int32_t sampleRate, int32_t bits, int32_t channels)
{
    qelm::Journal::Call("CAuxPtzCtrl::StartBroadcast", {codec, sampleRate, bits, channels}, 0);
    return 0;
}

int32_t DeviceControl::AddBroadcastDevice(int32_t auxPtzId)
{
    // The device answers a broadcast like a talk start.
    const std::optional<SimDevice> dev = OnlineDevice(*m_core, auxPtzId);
    RealRefusal(*m_core, auxPtzId, "broadcast");
    qelm::Journal::Call("CAuxPtzCtrl::AddBroadcastDevice", {auxPtzId}, 0);
    if (Known(*m_core, auxPtzId))
        PostEvent(m_core, auxPtzId, Status(dev && dev->talk ? kDevStatusTalkOk : kDevStatusTalkFailed));
    return 0;
}

int32_t DeviceControl::StopBroadcast()
{
    qelm::Journal::Call("CAuxPtzCtrl::StopBroadcast", {}, 0);
    return 0;
}

int32_t DeviceControl::SetTimeSync(int32_t auxPtzId, int32_t enable, int32_t allowedDifference, int32_t interval)
{
    qelm::Journal::Call("CAuxPtzCtrl::SetTimeSync", {auxPtzId, enable, allowedDifference, interval}, 0);
    return 0;
}

// ---- what the control's other source files use ----

namespace simdetail {
std::optional<SimDevice> OnlineDevice(DeviceSimulator::Core& core, int32_t id)
{
    return ::OnlineDevice(core, id);
}
void PostEvent(const std::shared_ptr<DeviceSimulator::Core>& core, int32_t id, SimEvent e)
{
    ::PostEvent(core, id, std::move(e));
}
bool SessionAddress(DeviceSimulator::Core& core, int32_t id, std::string* address, int32_t* port)
{
    std::lock_guard<std::mutex> lock(core.mutex);
    auto it = core.sessions.find(id);
    if (it == core.sessions.end())
        return false;
    *address = it->second.address;
    *port = it->second.port;
    return true;
}
SimEvent TextEvent(int32_t kind, int32_t value, std::string text)
{
    return ::TextEvent(kind, value, std::move(text));
}
bool RealRefusal(DeviceSimulator::Core& core, int32_t id, const char* what)
{
    return ::RealRefusal(core, id, what);
}
} // namespace simdetail
