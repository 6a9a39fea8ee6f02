// The talk-back decoder: queues the audio packets a device sends back during
// a talk (a PacketHead and G.711 mu-law samples), orders them by their queue
// key and plays them through AudioRenderer on a decode thread of its own.
#pragma once

#include "media/audio_renderer.h"
#include "platform/types.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// G.711 mu-law (ITU-T G.711): one byte per 16-bit linear sample.
int16_t MulawToLinear(uint8_t mulaw);
uint8_t LinearToMulaw(int16_t linear);
// n mu-law bytes into n samples / n samples into n bytes.
void G711MulawDecode(const uint8_t* in, int n, int16_t* out);
void G711MulawEncode(const int16_t* in, int n, uint8_t* out);

class CAudioCodec {
public:
    // Audio types.
    enum { kG711Mulaw = 0, kOtherCodec = 1 };
    static constexpr int kHeadSize = 20;
    static constexpr int kBlockSize = 1600;         // one queued packet at most
    static constexpr int kMaxPayload = 1360;        // decoded at most
    static constexpr std::size_t kMaxQueued = 256;  // packets waiting (about 5 s of talk)
    static constexpr int kPrebuffer = 10;           // packets before playing starts
    static constexpr int kResumePackets = 8;        // after the ring ran dry
    static constexpr int kResumeMs = 125;

    CAudioCodec();
    ~CAudioCodec();
    CAudioCodec(const CAudioCodec&) = delete;
    CAudioCodec& operator=(const CAudioCodec&) = delete;

    // 0 opened or already open; -1 the renderer or its ring could not be
    // made; -2 no sound device. The four fields below are read here.
    int OpenDec(HWND hWnd);
    // 0 queued; -1 not open, or a packet that is not a whole packet of at
    // most kBlockSize bytes, or the queue is full.
    int InputData(const uint8_t* packet, int length);
    // Stops the decode thread and frees the queue and the output; 0.
    int CloseDec();

    // Set by the owner before OpenDec; out-of-range values are clamped there.
    int32_t m_nAudioType = kG711Mulaw;
    int32_t m_nSampleRate = 8000;
    int32_t m_nBitsPerSample = 16;
    int32_t m_nChannels = 1;

    bool IsOpen() const { return m_bOpen.load(); }
    bool IsPlaying() const { return m_bPlaying.load(); }
    std::size_t QueuedPackets();
    // The milliseconds the resume rule reads (qelm::SteadyMs unless a test
    // sets its own); set before OpenDec.
    void SetClock(std::function<int64_t()> now) { m_now = std::move(now); }

private:
    struct Packet {
        std::array<uint8_t, kBlockSize> data;
        int length;
    };

    void DecodeAudioData();
    void ClampParameters();

    std::atomic<uint8_t> m_bOpen{0};
    std::atomic<uint8_t> m_bPlaying{0};
    std::atomic<int32_t> m_bThreadFinished{1};
    std::map<uint32_t, std::unique_ptr<Packet>> audiopack;
    IAudioOutput* m_pSoundBuffer = nullptr;  // the renderer's ring
    std::unique_ptr<AudioRenderer> m_pRenderer;

    // Guards audiopack and the ring between the owner and the decode thread.
    std::mutex m_lock;
    std::thread m_thread;
    std::function<int64_t()> m_now;
};
