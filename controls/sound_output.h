// Sound of the players: audio decoders for the media records' codecs, decoded
// frames made into interleaved 16-bit PCM, and the output that hands that PCM
// to the default audio device. The live stream player and the playback
// control both play through it.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVCodecContext;
struct AVFrame;
struct SwrContext;

namespace qelm {

// An audio decoder for a record's codec, rate and channel count (raw AAC
// frames get the AudioSpecificConfig of AAC LC); null when it cannot open.
AVCodecContext* OpenAudioDecoder(AVCodecID id, int sampleRate, int channels);

// Bytes that sources put in front of an AAC frame: 4 before an ADTS header,
// or a 4-byte RFC 3640 AU header; 0 for anything else.
int32_t AacPayloadOffset(const uint8_t* p, int32_t length);

// Decoded audio frames to interleaved signed 16-bit PCM at their own rate and
// channel count. Used by one thread at a time.
class PcmConverter {
public:
    PcmConverter() = default;
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // False when the frame cannot be converted; else out holds its PCM.
    bool Convert(AVFrame* f, QByteArray& out);
    void Free();

private:
    SwrContext* m_swr = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    int m_format = -1;
};

// Takes the PCM of every sound output in place of the audio device, so the
// sound path can be checked on a machine without a sound card. Called on the
// thread that writes the output (the UI thread).
class SoundTap {
public:
    virtual ~SoundTap() = default;
    virtual void OnSound(const void* owner, int rate, int channels, const QByteArray& pcm) = 0;
};

// One stream of PCM to the default audio output; used on the UI thread. The
// device is opened for the PCM's format and reopened when it changes; what
// the device has no room for waits, at most a second of it. A machine
// without an audio device logs that once and drops the sound.
class SoundOutput {
public:
    // name: the log lines' prefix; owner: what a tap is told the PCM is from.
    SoundOutput(const char* name, const void* owner);
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // Queues PCM (interleaved signed 16-bit) and writes what fits.
    void Write(const QByteArray& pcm, int rate, int channels);
    // Writes what waits; call it often (a timer) while sound plays.
    void Pump();
    // Drops what waits and closes the device.
    void Stop();

    // Process-wide; null gives the PCM back to the audio device.
    static void SetTap(SoundTap* tap);

private:
    struct Device;
    const char* m_name;
    const void* m_owner;
    std::unique_ptr<Device> m_device;
    int m_rate = 0;
    int m_channels = 0;
    bool m_noDevice = false;
    QByteArray m_pending;
};

} // namespace qelm
