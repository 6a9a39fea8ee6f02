// Talk-back sound output: one looping buffer of a fixed size used as a ring,
// written by the decoder and played by the sound device. The device sits
// behind IAudioOutput (Qt Multimedia by default; tests install their own).
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>

// The PCM format of the ring (the fields of a wave format record).
struct PcmFormat {
    uint16_t formatTag = 1;  // PCM
    uint16_t channels = 1;
    uint32_t samplesPerSec = 8000;
    uint32_t avgBytesPerSec = 16000;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
};

// One sound device: first the device itself, then the looping buffer made on
// it. Write and Queued run on the decode thread, the rest on the owner's.
class IAudioOutput {
public:
    virtual ~IAudioOutput() = default;
    // The ring of `bytes` bytes in format; false when the device refuses it.
    virtual bool CreateBuffer(const PcmFormat& format, int bytes) = 0;
    // Starts playing (the first write).
    virtual void Play() = 0;
    // Hands n bytes to the ring; false when they could not be placed.
    virtual bool Write(const uint8_t* pcm, int n) = 0;
    // Bytes written and not yet played.
    virtual int Queued() = 0;
    // Drops what waits to be played.
    virtual void Reset() = 0;
    // Volume in hundredths of a decibel (0 full, -10000 silent).
    virtual void SetVolume(int hundredthsDb) = 0;
    virtual void Stop() = 0;
};

namespace qelm {
// Makes the sound device for each AudioRenderer::Init; a null result means
// the machine has no sound device. An empty factory restores the default
// (the default output of Qt Multimedia). UI thread.
using AudioOutputFactory = std::function<std::unique_ptr<IAudioOutput>()>;
void SetAudioOutputFactory(AudioOutputFactory factory);
} // namespace qelm

class AudioRenderer {
public:
    AudioRenderer() = default;
    ~AudioRenderer();
    AudioRenderer(const AudioRenderer&) = delete;
    AudioRenderer& operator=(const AudioRenderer&) = delete;

    // True when the sound device could be opened.
    bool Init(HWND hWnd);
    // The ring of size bytes, or null; the renderer keeps it.
    IAudioOutput* AllocDSoundBuffer(const PcmFormat& format, int size);
    // True when the n bytes were placed in the ring.
    bool Write(IAudioOutput* buffer, const uint8_t* pcm, int n);
    // -1 ring drained (or no buffer), 1 room for 8192 more bytes, 0 otherwise.
    int GetRoomState();
    // Write position 0 and the queued sound dropped; -1 without buffer.
    int Reset();
    void SetVolume(IAudioOutput* buffer, int percent);
    // Stops and releases the ring and the device.
    void Release();

    // -(70 x 10^((100 - percent) x 2 / 100)), truncated: 100 % -70, 0 % -7000.
    static int VolumeHundredthsDb(int percent);

    static constexpr int kRoomBytes = 8192;

private:
    std::unique_ptr<IAudioOutput> m_pDevice;  // the device; its ring once allocated
    bool m_bStarted = false;
    int m_nWritePos = 0;
    int m_nRingSize = 0;
    IAudioOutput* m_pBuffer = nullptr;
};
