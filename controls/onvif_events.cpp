// PullPoint subscriptions (see onvif_events.h).
#include "controls/onvif_events.h"

#include "controls/onvif_client.h"
#include "platform/logsink.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qelm::onvif {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPullAction = "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest";
constexpr const char* kRenewAction = "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest";
constexpr const char* kUnsubscribeAction =
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest";
constexpr const char* kCreateAction =
    "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest";
// The camera holds a pull open this long when it has nothing to say.
constexpr int kPullWaitSeconds = 2;
constexpr auto kRenewEvery = std::chrono::seconds(30);

struct Subscription {
    std::int32_t handle = 0;
    std::string eventAddr, user, password, cameraAddr;
    std::string subAddr; // the subscription manager (written only by its thread after creation)
    int clockOffset = 0;
    OVF_ALARM_CALLBACK callback = nullptr;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;

    // Waits up to ms unless stopped; false once stopped.
    bool Pause(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
        return !stop.load();
    }

    SoapCall Make(const std::string& to, const char* action, std::string body) const
    {
        SoapCall c;
        c.address = to;
        c.user = user;
        c.password = password;
        c.clockOffset = clockOffset;
        c.action = action;
        c.body = std::move(body);
        c.headers = "<wsa:Action>" + XmlEscape(action) + "</wsa:Action><wsa:To>" + XmlEscape(to) + "</wsa:To>";
        return c;
    }

    int Create()
    {
        SoapCall c = Make(eventAddr, kCreateAction,
                          "<tev:CreatePullPointSubscription><tev:InitialTerminationTime>PT60S"
                          "</tev:InitialTerminationTime></tev:CreatePullPointSubscription>");
        c.cancel = &stop;
        std::string reply, address;
        const int rc = Call(c, &reply);
        if (rc != kCallOk)
            return rc;
        if (!ParseSubscription(reply, &address))
            return kCallFailed;
        subAddr = address;
        return kCallOk;
    }

    void Run();
};

std::mutex g_mutex;
std::map<std::int32_t, std::shared_ptr<Subscription>> g_subs;
std::int32_t g_nextHandle = 1;

// Stops what is still running when the process ends, so no thread outlives
// the objects it uses.
struct Reaper {
    ~Reaper()
    {
        std::map<std::int32_t, std::shared_ptr<Subscription>> left;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            left.swap(g_subs);
        }
        for (auto& [h, s] : left) {
            s->stop = true;
            s->wake.notify_all();
            if (s->thread.joinable())
                s->thread.join();
        }
    }
} g_reaper;

void Subscription::Run()
{
    auto lastRenew = Clock::now();
    int failures = 0;
    while (!stop) {
        SoapCall pull = Make(subAddr, kPullAction,
                             "<tev:PullMessages><tev:Timeout>PT" + std::to_string(kPullWaitSeconds) +
                                 "S</tev:Timeout><tev:MessageLimit>32</tev:MessageLimit></tev:PullMessages>");
        pull.cancel = &stop;
        pull.timeoutMs = TimeoutMs() + kPullWaitSeconds * 1000;
        const auto started = Clock::now();
        std::string reply;
        const int rc = Call(pull, &reply);
        if (stop)
            break;
        std::vector<EventMessage> events;
        if (rc == kCallOk && ParsePullMessages(reply, &events)) {
            failures = 0;
            for (const EventMessage& m : events) {
                _OVF_ALARM_EVENT ev;
                if (callback && MakeAlarmEvent(m, cameraAddr, &ev))
                    callback(&ev);
            }
            // A camera that answers an empty pull at once must not make this a busy loop.
            if (events.empty() && Clock::now() - started < std::chrono::milliseconds(200) && !Pause(500))
                break;
        } else {
            ++failures;
            if (!Pause(1000))
                break;
            if (failures >= 3) {
                // The subscription is gone (camera restarted, expired): make a new one.
                PlatformLog(4, "ONVIF: event subscription of %s lost, subscribing again", cameraAddr.c_str());
                if (Create() == kCallOk) {
                    failures = 0;
                    lastRenew = Clock::now();
                } else if (!Pause(5000)) {
                    break;
                }
            }
            continue;
        }
        if (Clock::now() - lastRenew >= kRenewEvery) {
            SoapCall renew = Make(subAddr, kRenewAction,
                                  "<wsnt:Renew><wsnt:TerminationTime>PT60S</wsnt:TerminationTime></wsnt:Renew>");
            renew.cancel = &stop;
            if (Call(renew, nullptr) == kCallOk)
                lastRenew = Clock::now();
        }
    }
    // Tell the camera, briefly: the caller waits for this.
    SoapCall bye = Make(subAddr, kUnsubscribeAction, "<wsnt:Unsubscribe/>");
    bye.timeoutMs = std::min(TimeoutMs(), 3000);
    Call(bye, nullptr);
}

} // namespace

bool MakeAlarmEvent(const EventMessage& message, const std::string& cameraAddr, _OVF_ALARM_EVENT* out)
{
    if (!out)
        return false;
    const int type = AlarmTypeOf(message);
    if (type <= 0)
        return false;
    std::memset(out, 0, sizeof *out);
    CopyText(out->CameraAddr, sizeof out->CameraAddr, cameraAddr);
    std::time_t when = 0;
    int millis = 0;
    if (!ParseXsDateTime(message.utcTime, &when, &millis)) {
        when = std::time(nullptr);
        millis = 0;
    }
    std::tm tm{};
    localtime_r(&when, &tm);
    out->Year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    out->Month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    out->DayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    out->Day = static_cast<std::uint16_t>(tm.tm_mday);
    out->Hour = static_cast<std::uint16_t>(tm.tm_hour);
    out->Minute = static_cast<std::uint16_t>(tm.tm_min);
    out->Second = static_cast<std::uint16_t>(tm.tm_sec);
    out->Millisecond = static_cast<std::uint16_t>(millis);
    out->AlarmType = type;
    CopyText(out->Text, sizeof out->Text, message.topic);
    return true;
}

std::int32_t Subscribe(const char* eventAddr, const char* user, const char* password, OVF_ALARM_CALLBACK callback)
{
    if (!eventAddr || !*eventAddr)
        return 0;
    auto s = std::make_shared<Subscription>();
    s->eventAddr = eventAddr;
    s->user = user ? user : "";
    s->password = password ? password : "";
    s->cameraAddr = HostOf(s->eventAddr);
    s->callback = callback;
    if (!KnownClockOffset(s->eventAddr, &s->clockOffset))
        FetchClockOffset(s->eventAddr, &s->clockOffset); // best effort: 0 when the camera does not tell
    if (s->Create() != kCallOk)
        return 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        s->handle = g_nextHandle++;
        if (g_nextHandle <= 0)
            g_nextHandle = 1;
        g_subs[s->handle] = s;
        s->thread = std::thread([s] { s->Run(); });
    }
    return s->handle;
}

void Unsubscribe(std::int32_t handle)
{
    std::shared_ptr<Subscription> s;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_subs.find(handle);
        if (it == g_subs.end())
            return;
        s = it->second;
        g_subs.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->stop = true;
    }
    s->wake.notify_all();
    if (s->thread.get_id() == std::this_thread::get_id())
        s->thread.detach(); // asked from its own callback: it ends after this pass
    else if (s->thread.joinable())
        s->thread.join();
}

int SubscriptionCount()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_subs.size());
}

} // namespace qelm::onvif
