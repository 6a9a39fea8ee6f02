// The relay library's callback thread: media for the program's callbacks is
// queued and delivered there, never on the UI thread. A registration that is
// removed, or a session that is closed, is not called once the removing call
// has returned: queued media for it is dropped and a call in progress is
// waited out (on the UI thread while running the messages the callback may
// be sending to it).
#include "controls/ts_relay_callbacks.h"

#include "controls/journal.h"
#include "platform/logsink.h"
#include "platform/message.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstring>

namespace qelm::ts {

namespace {

bool OnUiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::string Key(const char* prefix, std::initializer_list<std::string> parts)
{
    std::string k(prefix);
    for (const std::string& p : parts) {
        k += '|';
        k += p;
    }
    return k;
}

std::string Str(const char* s)
{
    return s ? s : "";
}

} // namespace

std::string RealKey(const char* name, int streamType, int channel)
{
    return Key("V", {Str(name), std::to_string(streamType), std::to_string(channel)});
}

std::string ReplayKey(int login, const char* path)
{
    return Key("R", {std::to_string(login), Str(path)});
}

std::string ByDateKey(int login, const char* name, int channel)
{
    return Key("D", {std::to_string(login), Str(name), std::to_string(channel)});
}

std::string DownloadKey(int login, const char* path)
{
    return Key("L", {std::to_string(login), Str(path)});
}

CallbackHub& CallbackHub::Instance()
{
    static CallbackHub* hub = new CallbackHub; // its thread may outlive static destructors
    return *hub;
}

// --- registrations ---------------------------------------------------------------

void CallbackHub::SetGlobal(Job::Kind kind, void* cb, void* user)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Registration& r = m_global[static_cast<int>(kind)];
    const uint64_t old = r.id;
    r.cb = cb;
    r.user = user;
    r.id = cb ? ++m_nextId : 0;
    WaitOut(lock, [&] { return old && m_inFlightId == old; });
}

void CallbackHub::SetRealData(const std::string& key, TsRealDataCallback cb, void* user)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t old = 0;
    auto it = m_real.find(key);
    if (it != m_real.end()) {
        old = it->second.id;
        if (!cb)
            m_real.erase(it);
    }
    if (cb) {
        Registration& r = m_real[key];
        r.cb = reinterpret_cast<void*>(cb);
        r.user = user;
        r.id = ++m_nextId;
    } else {
        PurgeLocked(key);
    }
    WaitOut(lock, [&] { return old && m_inFlightId == old; });
}

void CallbackHub::CloseSession(const std::string& key)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (key[0] == 'V') {
        auto it = m_real.find(key);
        uint64_t old = 0;
        if (it != m_real.end()) {
            old = it->second.id;
            m_real.erase(it);
        }
        PurgeLocked(key);
        WaitOut(lock, [&] { return old && m_inFlightId == old; });
        return;
    }
    if (m_closed.insert(key).second) {
        m_closedOrder.push_back(key);
        // Keep the memory of closed sessions bounded: the oldest are long gone.
        while (m_closedOrder.size() > kMaxClosedSessions) {
            m_closed.erase(m_closedOrder.front());
            m_closedOrder.pop_front();
        }
    }
    PurgeLocked(key);
    WaitOut(lock, [&] { return m_inFlightKey == key; });
}

void CallbackHub::OpenSession(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed.erase(key)) {
        for (auto it = m_closedOrder.begin(); it != m_closedOrder.end(); ++it) {
            if (*it == key) {
                m_closedOrder.erase(it);
                break;
            }
        }
    }
}

void CallbackHub::CloseLogin(int login)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closedLogins.size() >= kMaxClosedSessions)
        m_closedLogins.erase(m_closedLogins.begin());
    m_closedLogins.insert(login);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->kind != Job::Real && it->kind != Job::UserId && it->login == login) {
            m_queuedBytes -= it->data.size() + sizeof(Job);
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    WaitOut(lock, [&] { return m_inFlightLogin == login; });
}

void CallbackHub::Clear()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (Registration& r : m_global)
        r = Registration{};
    m_real.clear();
    m_closed.clear();
    m_closedOrder.clear();
    m_closedLogins.clear();
}

// --- the queue and its thread -----------------------------------------------------

bool CallbackHub::Enqueue(Job job)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_released)
        return false;
    const std::size_t bytes = job.data.size() + sizeof(Job);
    if (m_queuedBytes + bytes > kMaxQueuedBytes) {
        if (!m_overflowLogged) {
            PlatformLog(3, "TS: the callback queue holds %zu bytes; media is dropped until it drains", m_queuedBytes);
            m_overflowLogged = true;
        }
        return false;
    }
    m_overflowLogged = false;
    m_queuedBytes += bytes;
    m_queue.push_back(std::move(job));
    EnsureThreadLocked();
    m_cv.notify_all();
    return true;
}

int CallbackHub::QueryUserId(const char* name)
{
    auto answer = std::make_shared<Job::Answer>();
    std::future<int> result = answer->promise.get_future();
    Job job;
    job.kind = Job::UserId;
    job.name = Str(name);
    job.answer = answer;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (std::this_thread::get_id() == m_threadId) {
            // Asked from inside a callback: this is the library's thread already.
            RunLocked(lock, job);
            return answer->set ? result.get() : 0;
        }
    }
    answer.reset(); // the job holds the only reference: dropping it answers 0
    if (!Enqueue(std::move(job)))
        return 0;
    if (!OnUiThread())
        return result.get();
    while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        ProcessSentMessages();
    return result.get();
}

void CallbackHub::EnsureThreadLocked()
{
    if (m_thread.joinable())
        return;
    const uint64_t gen = m_generation;
    m_thread = std::thread([this, gen] { Loop(gen); });
    m_threadId = m_thread.get_id();
}

void CallbackHub::Loop(uint64_t gen)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [&] { return gen != m_generation || !m_queue.empty(); });
        if (gen != m_generation)
            break;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= job.data.size() + sizeof(Job);
        RunLocked(lock, job);
    }
    if (m_exitedGeneration < gen)
        m_exitedGeneration = gen;
    m_cv.notify_all();
}

void CallbackHub::Stop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_thread.joinable())
        return;
    const uint64_t gen = m_generation++;
    DropQueueLocked();
    m_cv.notify_all();
    if (std::this_thread::get_id() == m_threadId) {
        // Stopped from inside a callback: the thread ends when it returns.
        m_thread.detach();
        m_threadId = {};
        return;
    }
    WaitOut(lock, [&] { return m_exitedGeneration < gen; });
    std::thread t = std::move(m_thread);
    m_threadId = {};
    lock.unlock();
    t.join();
}

void CallbackHub::SetReleased(bool released)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = released;
}

void CallbackHub::DropQueueLocked()
{
    m_queue.clear(); // unanswered user-id questions answer 0 as their jobs go
    m_queuedBytes = 0;
}

void CallbackHub::PurgeLocked(const std::string& key)
{
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->SessionKey() == key) {
            m_queuedBytes -= it->data.size() + sizeof(Job);
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
}

template <class Busy>
void CallbackHub::WaitOut(std::unique_lock<std::mutex>& lock, Busy busy)
{
    // A callback that changes its own registration does not wait for itself.
    if (std::this_thread::get_id() == m_threadId)
        return;
    const bool ui = OnUiThread();
    while (busy()) {
        if (!ui) {
            m_cv.wait(lock);
            continue;
        }
        m_cv.wait_for(lock, std::chrono::milliseconds(5));
        if (busy()) {
            lock.unlock();
            ProcessSentMessages();
            lock.lock();
        }
    }
}

std::string Job::SessionKey() const
{
    switch (kind) {
    case Real: return RealKey(name.c_str(), streamType, channel);
    case Replay: return ReplayKey(login, path.c_str());
    case ByDate: return ByDateKey(login, name.c_str(), channel);
    case Download: return DownloadKey(login, path.c_str());
    case UserId: break;
    }
    return {};
}

// Runs one job with the lock held on entry and exit; the callback itself
// runs unlocked.
void CallbackHub::RunLocked(std::unique_lock<std::mutex>& lock, Job& job)
{
    Registration reg;
    const std::string key = job.SessionKey();
    if (job.kind == Job::Real) {
        auto it = m_real.find(key);
        if (it != m_real.end())
            reg = it->second;
    } else {
        if (job.kind != Job::UserId && (m_closed.count(key) || m_closedLogins.count(job.login)))
            return;
        reg = m_global[static_cast<int>(job.kind)];
    }
    if (!reg.cb)
        return;
    m_inFlightId = reg.id;
    m_inFlightKey = key;
    m_inFlightLogin = job.kind == Job::Real || job.kind == Job::UserId ? 0 : job.login;
    lock.unlock();

    const char* data = job.data.empty() ? nullptr : job.data.data();
    const int len = static_cast<int>(job.data.size());
    int r = 0;
    switch (job.kind) {
    case Job::Real:
        r = reinterpret_cast<TsRealDataCallback>(reg.cb)(job.name.c_str(), job.streamType, job.channel, job.mediaKind,
                                                         data, len, &job.info, reg.user);
        Journal::Event("TsRealDataCallback", {job.name, job.streamType, job.channel, job.mediaKind, len, r});
        break;
    case Job::Replay:
        r = reinterpret_cast<TsReplayDataCallback>(reg.cb)(job.login, &job.key, job.key.nValueA, job.key.nValueB,
                                                           job.mediaKind, data, len, &job.info, job.path.c_str(),
                                                           reg.user);
        Journal::Event("TsReplayDataCallback", {job.login, job.mediaKind, len, job.path, r});
        break;
    case Job::ByDate:
        r = reinterpret_cast<TsReplayByDateCallback>(reg.cb)(
            job.login, job.name.c_str(), job.channel, job.mediaKind, data, len, &job.info,
            job.hasVideo ? &job.video : nullptr, job.hasAudio ? &job.audio : nullptr, job.newFile, job.seconds,
            job.fileStartSec, reg.user);
        Journal::Event("TsReplayByDateCallback",
                       {job.login, job.name, job.channel, job.mediaKind, len, job.newFile, job.fileStartSec, r});
        break;
    case Job::Download:
        r = reinterpret_cast<TsDownloadDataCallback>(reg.cb)(job.login, job.name.c_str(), job.key.nValueA,
                                                             job.key.nValueB, 1, data, len, job.received, job.total,
                                                             job.path.c_str(), reg.user);
        Journal::Event("TsDownloadDataCallback", {job.login, job.name, len, job.received, job.total, job.path, r});
        break;
    case Job::UserId:
        r = reinterpret_cast<TsGetUserIdCallback>(reg.cb)(job.name.c_str(), reg.user);
        Journal::Event("TsGetUserIdCallback", {job.name, r});
        if (job.answer) {
            job.answer->promise.set_value(r);
            job.answer->set = true;
        }
        break;
    }

    lock.lock();
    m_inFlightId = 0;
    m_inFlightKey.clear();
    m_inFlightLogin = 0;
    m_cv.notify_all();
}

} // namespace qelm::ts
