// Audio decoders, PCM conversion and the audio device output of the players.
#include "controls/sound_output.h"

#include "platform/logsink.h"

#include <algorithm>
#include <atomic>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#ifdef QT_MULTIMEDIA_LIB
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#endif

namespace qelm {

namespace {

std::atomic<SoundTap*> g_tap{nullptr};

// The AudioSpecificConfig of AAC LC for frames that come without ADTS headers.
bool MakeAacConfig(int sampleRate, int channels, uint8_t out[2])
{
    static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    int index = -1;
    for (int i = 0; i < 13; ++i)
        if (kRates[i] == sampleRate)
            index = i;
    if (index < 0 || channels < 1 || channels > 7)
        return false;
    const unsigned v = (2u << 11) | (unsigned(index) << 7) | (unsigned(channels) << 3);
    out[0] = uint8_t(v >> 8);
    out[1] = uint8_t(v);
    return true;
}

bool IsAdtsAt(const uint8_t* p, int32_t length, int32_t at)
{
    return length >= at + 7 && p[at] == 0xFF && (p[at + 1] & 0xF6) == 0xF0;
}

} // namespace

AVCodecContext* OpenAudioDecoder(AVCodecID id, int sampleRate, int channels)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx)
        return nullptr;
    channels = channels > 0 && channels <= 8 ? channels : 1;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->sample_rate = sampleRate > 0 ? sampleRate : 8000;
    bool ok = true;
    uint8_t asc[2];
    if (id == AV_CODEC_ID_AAC && MakeAacConfig(ctx->sample_rate, channels, asc)) {
        ctx->extradata = static_cast<uint8_t*>(av_mallocz(sizeof asc + AV_INPUT_BUFFER_PADDING_SIZE));
        ok = ctx->extradata != nullptr;
        if (ok) {
            memcpy(ctx->extradata, asc, sizeof asc);
            ctx->extradata_size = int(sizeof asc);
        }
    }
    if (!ok || avcodec_open2(ctx, codec, nullptr) < 0)
        avcodec_free_context(&ctx);
    return ctx;
}

int32_t AacPayloadOffset(const uint8_t* p, int32_t length)
{
    if (IsAdtsAt(p, length, 0))
        return 0;
    if (IsAdtsAt(p, length, 4))
        return 4;
    if (length > 4 && p[0] == 0x00 && p[1] == 0x10 && int32_t((p[2] << 5) | (p[3] >> 3)) == length - 4)
        return 4;
    return 0;
}

// --- PcmConverter ---------------------------------------------------------------

PcmConverter::~PcmConverter() { Free(); }

void PcmConverter::Free()
{
    swr_free(&m_swr);
    m_rate = m_channels = 0;
    m_format = -1;
}

bool PcmConverter::Convert(AVFrame* f, QByteArray& out)
{
    const int channels = f->ch_layout.nb_channels;
    if (f->sample_rate <= 0 || channels <= 0 || channels > 8 || f->nb_samples <= 0)
        return false;
    if (!m_swr || m_rate != f->sample_rate || m_channels != channels || m_format != f->format) {
        Free();
        AVChannelLayout layout;
        av_channel_layout_default(&layout, channels);
        if (swr_alloc_set_opts2(&m_swr, &layout, AV_SAMPLE_FMT_S16, f->sample_rate, &f->ch_layout,
                                AVSampleFormat(f->format), f->sample_rate, 0, nullptr) < 0 ||
            swr_init(m_swr) < 0) {
            Free();
            return false;
        }
        m_rate = f->sample_rate;
        m_channels = channels;
        m_format = f->format;
    }
    out.resize(qsizetype(f->nb_samples) * channels * 2);
    auto* dst = reinterpret_cast<uint8_t*>(out.data());
    const int n = swr_convert(m_swr, &dst, f->nb_samples, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (n <= 0)
        return false;
    out.truncate(qsizetype(n) * channels * 2);
    return true;
}

// --- SoundOutput --------------------------------------------------------------------

struct SoundOutput::Device {
#ifdef QT_MULTIMEDIA_LIB
    ~Device()
    {
        if (sink)
            sink->stop();
    }
    std::unique_ptr<QAudioSink> sink;
#endif
    QIODevice* io = nullptr;  // the sink's push device, owned by the sink
};

SoundOutput::SoundOutput(const char* name, const void* owner) : m_name(name), m_owner(owner) {}

SoundOutput::~SoundOutput() { Stop(); }

void SoundOutput::SetTap(SoundTap* tap) { g_tap = tap; }

void SoundOutput::Stop()
{
    m_device.reset();
    m_pending.clear();
    m_rate = m_channels = 0;
}

void SoundOutput::Write(const QByteArray& pcm, int rate, int channels)
{
    if (pcm.isEmpty() || rate <= 0 || channels <= 0)
        return;
    if (SoundTap* tap = g_tap.load()) {
        tap->OnSound(m_owner, rate, channels, pcm);
        return;
    }
    if (rate != m_rate || channels != m_channels) {
        Stop();
        m_rate = rate;
        m_channels = channels;
#ifdef QT_MULTIMEDIA_LIB
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        QAudioFormat format;
        format.setSampleRate(rate);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (device.isNull() || !device.isFormatSupported(format)) {
            if (!m_noDevice)
                qelm::PlatformLog(3, "%s: no audio output for %d Hz, %d channels; sound is not played.", m_name, rate,
                                  channels);
            m_noDevice = true;
        } else {
            m_device = std::make_unique<Device>();
            m_device->sink = std::make_unique<QAudioSink>(device, format);
            m_device->io = m_device->sink->start();
            if (!m_device->io)
                m_device.reset();
        }
#endif
    }
    if (!m_device)
        return;  // no device: the sound is dropped
    m_pending.append(pcm);
    Pump();
}

void SoundOutput::Pump()
{
#ifdef QT_MULTIMEDIA_LIB
    if (!m_device || m_pending.isEmpty())
        return;
    const qsizetype room = std::min<qsizetype>(m_device->sink->bytesFree(), m_pending.size());
    if (room > 0) {
        const qint64 written = m_device->io->write(m_pending.constData(), room);
        if (written > 0)
            m_pending.remove(0, qsizetype(written));
    }
    const qsizetype limit = qsizetype(m_rate) * m_channels * 2;  // at most a second waits here
    if (m_pending.size() > limit)
        m_pending.remove(0, m_pending.size() - limit);
#endif
}

} // namespace qelm
