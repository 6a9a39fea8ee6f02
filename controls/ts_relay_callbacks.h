// The relay library's callback thread and the registrations it calls.
#pragma once

#include "controls/ts_relay.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qelm::ts {

// Session keys: the live channel, a by-file replay, a by-date replay, a download.
std::string RealKey(const char* name, int streamType, int channel);
std::string ReplayKey(int login, const char* path);
std::string ByDateKey(int login, const char* name, int channel);
std::string DownloadKey(int login, const char* path);

// One piece of media (or one question) for a callback.
struct Job {
    enum Kind { Real = 0, Replay = 1, ByDate = 2, Download = 3, UserId = 4 };
    struct Answer {
        std::promise<int> promise;
        bool set = false;
        ~Answer()
        {
            if (!set)
                promise.set_value(0);
        }
    };

    Kind kind = Real;
    std::string name;
    std::string path;
    int login = 0;
    int streamType = 0;
    int channel = 0;
    int mediaKind = 0;
    TsReplayKey key{};
    std::vector<char> data;
    TsFrameInfo info{};
    bool hasVideo = false;
    bool hasAudio = false;
    VideoParam video{};
    AudioParam audio{};
    int newFile = 0;
    int seconds = 0;
    int fileStartSec = 0;
    int64_t received = 0;
    int64_t total = 0;
    std::shared_ptr<Answer> answer;

    std::string SessionKey() const;
};

class CallbackHub {
public:
    static CallbackHub& Instance();

    // The four callbacks of the main window (kind Replay, ByDate, Download,
    // UserId). Returns once the one it replaces is no longer running.
    void SetGlobal(Job::Kind kind, void* cb, void* user);
    // A channel's live-data callback; null removes it.
    void SetRealData(const std::string& key, TsRealDataCallback cb, void* user);
    // Ends a session's media: nothing queued for it is delivered, a call in
    // progress is waited out. A closed replay or download stays closed until
    // OpenSession of the same key.
    void CloseSession(const std::string& key);
    void OpenSession(const std::string& key);
    // Ends the replay, by-date and download media of a login (logged out).
    void CloseLogin(int login);
    // Forgets every registration and closed session.
    void Clear();

    bool Enqueue(Job job);
    int QueryUserId(const char* name);

    // Drops what is queued and joins the thread; the next media starts it again.
    void Stop();
    // While released, media is refused and no thread starts.
    void SetReleased(bool released);

    static constexpr std::size_t kMaxQueuedBytes = 64u << 20;
    static constexpr std::size_t kMaxClosedSessions = 4096;

private:
    struct Registration {
        void* cb = nullptr;
        void* user = nullptr;
        uint64_t id = 0;
    };

    CallbackHub() = default;
    void EnsureThreadLocked();
    void Loop(uint64_t gen);
    void RunLocked(std::unique_lock<std::mutex>& lock, Job& job);
    void DropQueueLocked();
    void PurgeLocked(const std::string& key);
    template <class Busy>
    void WaitOut(std::unique_lock<std::mutex>& lock, Busy busy);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Job> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_overflowLogged = false;
    bool m_released = false;

    std::thread m_thread;
    std::thread::id m_threadId;
    uint64_t m_generation = 1;
    uint64_t m_exitedGeneration = 0;

    std::array<Registration, 5> m_global{};
    std::map<std::string, Registration> m_real;
    std::set<std::string> m_closed;
    std::deque<std::string> m_closedOrder;
    uint64_t m_nextId = 0;
    uint64_t m_inFlightId = 0;
    std::string m_inFlightKey;
    int m_inFlightLogin = 0;
    std::set<int> m_closedLogins;
};

} // namespace qelm::ts
