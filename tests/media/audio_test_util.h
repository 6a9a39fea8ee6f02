// A sound device for the talk-back tests: records what is written to it and
// lets the test say how much of it is still to be played. Also builds talk
// packets and reads the log a test opened.
#pragma once

#include "controls/media_params.h"
#include "core/log.h"
#include "media/audio_codec.h"
#include "media/audio_renderer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace audiotest {

// What the fake device saw; shared with the test, which outlives the device.
struct FakeAudioState {
    std::mutex m;
    bool refuseBuffer = false;
    // Queued(): the ring size when full, 0 when it drains at once, else `queued`.
    std::atomic<bool> full{false};
    std::atomic<bool> drainAtOnce{true};
    std::atomic<int> queued{0};
    PcmFormat format{};
    int ringBytes = 0;
    bool playing = false;
    bool stopped = false;
    int resets = 0;
    std::vector<int> volumes;
    std::vector<std::vector<int16_t>> writes;  // one entry per Write
    std::atomic<int> writeCount{0};
    std::atomic<int> alive{0};                 // devices not yet destroyed

    std::vector<int16_t> FirstSamples()
    {
        std::lock_guard lock(m);
        std::vector<int16_t> out;
        for (const auto& w : writes)
            out.push_back(w.empty() ? int16_t(0) : w[0]);
        return out;
    }
};

class FakeAudioOutput : public IAudioOutput {
public:
    explicit FakeAudioOutput(std::shared_ptr<FakeAudioState> s) : m_s(std::move(s)) { ++m_s->alive; }
    ~FakeAudioOutput() override { --m_s->alive; }
    bool CreateBuffer(const PcmFormat& format, int bytes) override
    {
        std::lock_guard lock(m_s->m);
        if (m_s->refuseBuffer)
            return false;
        m_s->format = format;
        m_s->ringBytes = bytes;
        return true;
    }
    void Play() override
    {
        std::lock_guard lock(m_s->m);
        m_s->playing = true;
    }
    bool Write(const uint8_t* pcm, int n) override
    {
        std::lock_guard lock(m_s->m);
        std::vector<int16_t> w(size_t(n) / 2);
        std::memcpy(w.data(), pcm, w.size() * 2);
        m_s->writes.push_back(std::move(w));
        m_s->queued += n;
        ++m_s->writeCount;
        return true;
    }
    int Queued() override
    {
        if (m_s->full)
            return m_s->ringBytes;
        return m_s->drainAtOnce ? 0 : m_s->queued.load();
    }
    void Reset() override
    {
        std::lock_guard lock(m_s->m);
        ++m_s->resets;
    }
    void SetVolume(int hundredthsDb) override
    {
        std::lock_guard lock(m_s->m);
        if (m_s->volumes.empty() || m_s->volumes.back() != hundredthsDb)
            m_s->volumes.push_back(hundredthsDb);
    }
    void Stop() override
    {
        std::lock_guard lock(m_s->m);
        m_s->stopped = true;
    }

private:
    std::shared_ptr<FakeAudioState> m_s;
};

// Installs the fake device for a scope (or "no device" with a null state).
class ScopedFakeAudio {
public:
    explicit ScopedFakeAudio(std::shared_ptr<FakeAudioState> s)
    {
        qelm::SetAudioOutputFactory([s]() -> std::unique_ptr<IAudioOutput> {
            if (!s)
                return nullptr;
            return std::make_unique<FakeAudioOutput>(s);
        });
    }
    ~ScopedFakeAudio() { qelm::SetAudioOutputFactory({}); }
};

// A talk packet: PacketHead and `payload` bytes of value `fill`.
inline std::vector<uint8_t> MakePacket(uint32_t key, int payload, uint8_t fill, uint8_t kind = 3,
                                       uint16_t seq = 0)
{
    std::vector<uint8_t> p(sizeof(PacketHead) + size_t(payload), fill);
    PacketHead h{};
    h.pack_seq = seq;
    h.size = uint16_t(payload);
    h.kind = kind;
    h.key = key;
    std::memcpy(p.data(), &h, sizeof(h));
    return p;
}

// Each key gets its own mu-law value, so a write tells which packet it was.
inline uint8_t FillOf(uint32_t key)
{
    return uint8_t(0x20 + key);
}
inline int16_t SampleOf(uint32_t key)
{
    return MulawToLinear(FillOf(key));
}

inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Opens the program log at a file of its own for a scope.
class ScopedLog {
public:
    explicit ScopedLog(const std::string& tag)
        : m_path((std::filesystem::temp_directory_path() / (tag + "_" + std::to_string(getpid()) + ".txt")).string())
    {
        CloseLog();
        std::filesystem::remove(m_path);
        OpenLog(m_path.c_str());
    }
    ~ScopedLog()
    {
        CloseLog();
        std::filesystem::remove(m_path);
    }
    std::string Text() const
    {
        FlushLog(); // lines are queued; what was logged so far goes to the file now
        std::ifstream in(m_path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Has(const std::string& line) const { return Text().find(line) != std::string::npos; }

private:
    std::string m_path;
};

} // namespace audiotest
