// The talk-back decoder: packet queue, prebuffering and G.711 mu-law playback.
#include "media/audio_codec.h"

#include "controls/media_params.h"
#include "core/log.h"
#include "platform/clock.h"

#include <chrono>
#include <cstring>

namespace {

constexpr int kMulawBias = 0x84;

void Sleep5()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

int16_t MulawToLinear(uint8_t mulaw)
{
    const int u = ~mulaw & 0xFF;
    int t = ((u & 0x0F) << 3) + kMulawBias;
    t <<= (u & 0x70) >> 4;
    return int16_t((u & 0x80) ? (kMulawBias - t) : (t - kMulawBias));
}

uint8_t LinearToMulaw(int16_t linear)
{
    // On the 14-bit magnitude, as the G.711 reference does.
    int pcm = linear >> 2;
    int mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    if (pcm > 8159)
        pcm = 8159;
    pcm += kMulawBias >> 2;
    int seg = 0;
    while (seg < 8 && pcm > (0x40 << seg) - 1)
        ++seg;
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    return uint8_t(((seg << 4) | ((pcm >> (seg + 1)) & 0x0F)) ^ mask);
}

void G711MulawDecode(const uint8_t* in, int n, int16_t* out)
{
    for (int i = 0; i < n; ++i)
        out[i] = MulawToLinear(in[i]);
}

void G711MulawEncode(const int16_t* in, int n, uint8_t* out)
{
    for (int i = 0; i < n; ++i)
        out[i] = LinearToMulaw(in[i]);
}

CAudioCodec::CAudioCodec() = default;

CAudioCodec::~CAudioCodec()
{
    CloseDec();
}

std::size_t CAudioCodec::QueuedPackets()
{
    std::lock_guard lock(m_lock);
    return audiopack.size();
}

void CAudioCodec::ClampParameters()
{
    // The device's talk answer sets these; a format the ring cannot hold is
    // replaced by the talk-back default.
    const int32_t rate = m_nSampleRate, bits = m_nBitsPerSample, channels = m_nChannels;
    if (m_nSampleRate < 8000 || m_nSampleRate > 48000)
        m_nSampleRate = 8000;
    if (m_nBitsPerSample != 8 && m_nBitsPerSample != 16)
        m_nBitsPerSample = 16;
    if (m_nChannels < 1 || m_nChannels > 2)
        m_nChannels = 1;
    if (rate != m_nSampleRate || bits != m_nBitsPerSample || channels != m_nChannels)
        WriteLog(3, "CAudioCodec: samplerate=%d, bitspersample=%d, channels=%d out of range, using %d, %d, %d.", rate,
                 bits, channels, m_nSampleRate, m_nBitsPerSample, m_nChannels);
}

int CAudioCodec::OpenDec(HWND hWnd)
{
    if (m_bOpen) {
        WriteLog(6, "CAudioCodec: decode have opened.");
        return 0;
    }
    ClampParameters();
    m_pRenderer.reset();
    m_pRenderer = std::make_unique<AudioRenderer>();

    PcmFormat format;
    format.formatTag = 1;
    format.channels = uint16_t(m_nChannels);
    format.samplesPerSec = uint32_t(m_nSampleRate >= 32000 ? m_nSampleRate : m_nSampleRate * m_nChannels);
    format.bitsPerSample = uint16_t(m_nBitsPerSample);
    format.blockAlign = uint16_t(m_nBitsPerSample / 8 * m_nChannels);
    format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;

    if (!m_pRenderer->Init(hWnd)) {
        m_pRenderer.reset();
        return -2;
    }
    m_pSoundBuffer = nullptr;
    if (m_nAudioType == kG711Mulaw)
        m_pSoundBuffer = m_pRenderer->AllocDSoundBuffer(format, 10240);
    else if (m_nAudioType == kOtherCodec)
        m_pSoundBuffer = m_pRenderer->AllocDSoundBuffer(format, 20480);
    if (!m_pSoundBuffer) {
        WriteLog(3, "CAudioCodec: alloc dsound buffer failed.");
        m_pRenderer.reset();
        return -1;
    }
    m_pRenderer->SetVolume(m_pSoundBuffer, 100);
    m_bPlaying = 0;
    m_bOpen = 1;
    m_bThreadFinished = 0;
    m_thread = std::thread([this] { DecodeAudioData(); });
    return 0;
}

int CAudioCodec::InputData(const uint8_t* packet, int length)
{
    if (!m_bOpen) {
        WriteLog(3, "CAudioCodec: decode hav't open,decode refuse.");
        return -1;
    }
    // Device data: only whole packets that fit a block are queued.
    if (!packet || length < kHeadSize) {
        WriteLog(3, "CAudioCodec: packet of %d bytes is shorter than its header, dropped.", packet ? length : 0);
        return -1;
    }
    if (length > kBlockSize) {
        WriteLog(3, "CAudioCodec: packet of %d bytes exceeds %d bytes, dropped.", length, kBlockSize);
        return -1;
    }
    PacketHead head;
    std::memcpy(&head, packet, sizeof(head));
    WriteLog(6, "CAudioCodec: pPacketHead->pack_seq = %d", head.pack_seq);
    if (int(head.size) > length - kHeadSize) {
        WriteLog(3, "CAudioCodec: payload_size=%d exceeds the %d bytes received, dropped.", head.size,
                 length - kHeadSize);
        return -1;
    }

    std::unique_ptr<Packet> block(new (std::nothrow) Packet);
    if (!block) {
        WriteLog(3, "CAudioCodec: new audio decode buffer failed.");
        return -1;
    }
    std::memcpy(block->data.data(), packet, size_t(length));
    block->length = length;

    std::lock_guard lock(m_lock);
    auto it = audiopack.find(head.key);
    if (it != audiopack.end()) {
        it->second = std::move(block);
        return 0;
    }
    if (audiopack.size() >= kMaxQueued) {
        WriteLog(3, "CAudioCodec: %d packets queued already, packet %d dropped.", int(audiopack.size()),
                 head.pack_seq);
        return -1;
    }
    audiopack.emplace(head.key, std::move(block));
    return 0;
}

void CAudioCodec::DecodeAudioData()
{
    WriteLog(6, "begin decode audio data.");
    bool prebuffering = true;
    int64_t lastPlayed = 0;
    bool played = false;
    int16_t pcm[kMaxPayload];
    const auto now = [this] { return m_now ? m_now() : qelm::SteadyMs(); };

    while (m_bOpen) {
        if (!m_pRenderer || !m_pSoundBuffer || m_nAudioType != kG711Mulaw) {
            Sleep5();
            continue;
        }
        std::unique_lock lock(m_lock);
        if (audiopack.empty() || (prebuffering && audiopack.size() < size_t(kPrebuffer))) {
            prebuffering = true;
            m_pRenderer->Reset();
            m_pRenderer->SetVolume(m_pSoundBuffer, 0);
            lock.unlock();
            Sleep5();
            continue;
        }
        prebuffering = false;
        const int room = m_pRenderer->GetRoomState();
        if (room == 0) {
            lock.unlock();
            Sleep5();
            continue;
        }
        if (room == -1) {
            m_pRenderer->SetVolume(m_pSoundBuffer, 0);
            if (played && now() - lastPlayed < kResumeMs && audiopack.size() < size_t(kResumePackets)) {
                WriteLog(6, "pAudioCodec->audiopack.size() == %d", int(audiopack.size()));
                lock.unlock();
                Sleep5();
                continue;
            }
        }

        auto first = audiopack.begin();
        std::unique_ptr<Packet> packet = std::move(first->second);
        audiopack.erase(first);
        lastPlayed = now();
        played = true;

        PacketHead head;
        std::memcpy(&head, packet->data.data(), sizeof(head));
        if (head.size > kMaxPayload || head.kind == 0) {
            WriteLog(3, "Decode audio data failed. payload_size=%d, streamtype=%d", head.size, head.kind);
            lock.unlock();
            Sleep5();
            continue;
        }
        G711MulawDecode(packet->data.data() + kHeadSize, head.size, pcm);
        m_pRenderer->SetVolume(m_pSoundBuffer, 100);
        m_pRenderer->Write(m_pSoundBuffer, reinterpret_cast<const uint8_t*>(pcm), head.size * 2);
        m_bPlaying = 1;
    }
    m_bThreadFinished = 1;
}

int CAudioCodec::CloseDec()
{
    if (!m_bOpen)
        return 0;
    m_bOpen = 0;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_lock);
    audiopack.clear();
    if (m_pSoundBuffer)
        m_pSoundBuffer->Stop();
    m_pSoundBuffer = nullptr;
    m_pRenderer.reset();
    WriteLog(6, "CAudioCodec: close decoder.");
    return 0;
}
