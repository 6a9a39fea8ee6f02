// Talk-back sound output on Qt Multimedia. The sink lives on the thread that
// opened it (the UI thread); the decode thread only fills a guarded byte
// queue, which a timer of the sink's thread moves into the device.
#include "media/audio_renderer.h"

#include "core/log.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QByteArray>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace {

class QtAudioOutput final : public IAudioOutput {
public:
    explicit QtAudioOutput(const QAudioDevice& device) : m_device(device) {}
    ~QtAudioOutput() override { Stop(); }

    bool CreateBuffer(const PcmFormat& f, int bytes) override
    {
        QAudioFormat format;
        format.setSampleRate(int(f.samplesPerSec));
        format.setChannelCount(f.channels);
        format.setSampleFormat(f.bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
        if (!m_device.isFormatSupported(format))
            return false;
        m_ringSize = bytes;
        m_sink = std::make_unique<QAudioSink>(m_device, format);
        m_sink->setBufferSize(bytes);
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(10);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] { Pump(); });
        m_timer->start();
        return true;
    }
    void Play() override { m_playRequested = true; }
    bool Write(const uint8_t* pcm, int n) override
    {
        std::lock_guard lock(m_mutex);
        if (m_pending.size() + n > m_ringSize)
            return false;
        m_pending.append(reinterpret_cast<const char*>(pcm), n);
        return true;
    }
    int Queued() override
    {
        std::lock_guard lock(m_mutex);
        return int(m_pending.size()) + m_inDevice.load();
    }
    void Reset() override
    {
        std::lock_guard lock(m_mutex);
        m_pending.clear();
    }
    void SetVolume(int hundredthsDb) override { m_volume = std::pow(10.0, hundredthsDb / 2000.0); }
    void Stop() override
    {
        if (m_timer)
            m_timer->stop();
        if (m_sink)
            m_sink->stop();
        m_io = nullptr;
        m_timer.reset();
        m_sink.reset();
    }

private:
    void Pump()
    {
        if (!m_sink)
            return;
        if (m_playRequested && !m_io)
            m_io = m_sink->start();
        if (!m_io)
            return;
        m_sink->setVolume(m_volume.load());
        QByteArray chunk;
        {
            std::lock_guard lock(m_mutex);
            const qsizetype n = std::min<qsizetype>(m_sink->bytesFree(), m_pending.size());
            chunk = m_pending.left(n);
            m_pending.remove(0, n);
        }
        if (!chunk.isEmpty())
            m_io->write(chunk);
        m_inDevice = int(std::max<qsizetype>(0, m_sink->bufferSize() - m_sink->bytesFree()));
    }

    QAudioDevice m_device;
    std::unique_ptr<QAudioSink> m_sink;
    std::unique_ptr<QTimer> m_timer;
    QIODevice* m_io = nullptr;
    std::mutex m_mutex;
    QByteArray m_pending;
    qsizetype m_ringSize = 0;
    std::atomic<int> m_inDevice{0};
    std::atomic<bool> m_playRequested{false};
    std::atomic<double> m_volume{1.0};
};

std::unique_ptr<IAudioOutput> DefaultOutput()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtAudioOutput>(device);
}

qelm::AudioOutputFactory& Factory()
{
    static qelm::AudioOutputFactory factory;
    return factory;
}

} // namespace

void qelm::SetAudioOutputFactory(AudioOutputFactory factory)
{
    Factory() = std::move(factory);
}

AudioRenderer::~AudioRenderer()
{
    Release();
}

bool AudioRenderer::Init(HWND)
{
    m_pDevice = Factory() ? Factory()() : DefaultOutput();
    if (!m_pDevice) {
        WriteLog(3, "Initialize DirectSound failed! Please check sound device and install DirectX 9.0 or above.");
        return false;
    }
    return true;
}

IAudioOutput* AudioRenderer::AllocDSoundBuffer(const PcmFormat& format, int size)
{
    m_nRingSize = size;
    m_nWritePos = 0;
    if (!m_pDevice) {
        WriteLog(3, "AudioRenderer::AllocDSoundBuffer lpds is NULL");
        return nullptr;
    }
    if (!m_pDevice->CreateBuffer(format, size)) {
        WriteLog(3, "AudioRenderer::AllocDSoundBuffer CreateSoundBuffer 1 return NULL");
        return nullptr;
    }
    m_pBuffer = m_pDevice.get();
    return m_pBuffer;
}

bool AudioRenderer::Write(IAudioOutput* buffer, const uint8_t* pcm, int n)
{
    if (!buffer || buffer != m_pBuffer || n < 0 || n > m_nRingSize)
        return false;
    if (!m_bStarted) {
        m_nWritePos = 0;
        m_bStarted = true;
        buffer->Play();
    }
    if (!buffer->Write(pcm, n))
        return false;
    m_nWritePos = (m_nWritePos + n) % m_nRingSize;
    return true;
}

int AudioRenderer::GetRoomState()
{
    if (!m_pBuffer)
        return -1;
    const int queued = std::clamp(m_pBuffer->Queued(), 0, m_nRingSize);
    if (queued == 0)
        return -1;
    if (queued + kRoomBytes < m_nRingSize)
        return 1;
    return 0;
}

int AudioRenderer::Reset()
{
    if (!m_pBuffer)
        return -1;
    m_nWritePos = 0;
    m_pBuffer->Reset();
    return 0;
}

void AudioRenderer::SetVolume(IAudioOutput* buffer, int percent)
{
    if (buffer && buffer == m_pBuffer)
        buffer->SetVolume(VolumeHundredthsDb(percent));
}

void AudioRenderer::Release()
{
    if (m_pDevice)
        m_pDevice->Stop();
    m_pBuffer = nullptr;
    m_pDevice.reset();
    m_bStarted = false;
}

int AudioRenderer::VolumeHundredthsDb(int percent)
{
    return -int(70.0 * std::pow(10.0, (100 - percent) * 2 / 100.0));
}
