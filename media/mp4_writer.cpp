// CMP4Writer: MP4 record files written from stream frames, read back frame by
// frame, and finished after a crash from the journal written beside them.
#include "media/mp4_writer.h"

#include "core/log.h"
#include "controls/media_params.h"
#include "media/mp4ext/mp4ext.h"
#include "media/mp4ext/nal_units.h"
#include "platform/regular_file.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

// Held for the whole of every operation on the file or the read positions.
class CMP4WriterLock {
public:
    std::recursive_mutex mutex;
};

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr int kHeadRoom = 2048;
constexpr size_t kMaxPending = 64 * 1024;
constexpr uint32_t kJournalIntervalMs = 1000;
constexpr char kJournalSuffix[] = ".idx";
constexpr int64_t kNoTime = INT64_MAX;

void LibraryLog(MP4LogLevel level, const char* message)
{
    WriteLog(level <= MP4_LOG_ERROR ? 3 : 6, "%s", message);
}

// The MP4 library logs into the program log and knows the H.265 boxes.
void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        MP4SetLogCallback(LibraryLog);
        MP4RegisterH265Atoms();
    });
}

bool EndsWithTmp(const char* name)
{
    const size_t n = name ? strlen(name) : 0;
    return n >= 5 && strcasecmp(name + n - 4, ".tmp") == 0;
}

bool IsH265Name(const char* codec)
{
    return strcmp(codec, "H265") == 0 || strcmp(codec, "H.265") == 0;
}

const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

// The 2-byte AudioSpecificConfig of AAC LC; 00 00 for a rate outside the
// frequency table or an unusual channel count.
void MakeAacConfig(int rate, int channels, uint8_t out[2])
{
    int index = -1;
    for (int i = 0; i < int(std::size(kAacRates)); ++i)
        if (kAacRates[i] == rate)
            index = i;
    const int config = (channels >= 1 && channels <= 6) ? channels : channels == 8 ? 7 : -1;
    if (index < 0 || config < 0) {
        out[0] = out[1] = 0;
        return;
    }
    const unsigned v = (2u << 11) | (unsigned(index) << 7) | (unsigned(config) << 3);
    out[0] = uint8_t(v >> 8);
    out[1] = uint8_t(v);
}

// Sample rate and channels of an AudioSpecificConfig; false when unusable.
bool ParseAacConfig(const uint8_t* p, uint32_t n, int& rate, int& channels)
{
    uint64_t bits = 0;
    unsigned have = 0, pos = 0;
    auto take = [&](unsigned count) -> uint32_t {
        while (have < count && pos < n) {
            bits = (bits << 8) | p[pos++];
            have += 8;
        }
        if (have < count)
            return 0xFFFFFFFFu;
        have -= count;
        return uint32_t((bits >> have) & ((uint64_t(1) << count) - 1));
    };
    uint32_t type = take(5);
    if (type == 31)
        type = 32 + take(6);
    const uint32_t index = take(4);
    if (index == 0xFFFFFFFFu)
        return false;
    if (index == 15)
        rate = int(take(24));
    else if (index < std::size(kAacRates))
        rate = kAacRates[index];
    else
        return false;
    const uint32_t config = take(4);
    if (config == 0xFFFFFFFFu || type == 0 || rate <= 0)
        return false;
    channels = config == 7 ? 8 : int(config);
    return true;
}

// Bytes in front of an AAC frame: an ADTS header (7, or 9 with CRC), an ADTS
// header after 4 other bytes, or a 4-byte RFC 3640 AU header; else 0.
int AacHeaderLength(const uint8_t* p, int n)
{
    if (n >= 7 && p[0] == 0xFF && p[1] >= 0xF0)
        return (p[1] & 1) ? 7 : 9;
    if (n >= 11 && p[4] == 0xFF && p[5] >= 0xF0)
        return (p[5] & 1) ? 11 : 13;
    if (n >= 4 && n == 4 + ((p[2] << 5) | (p[3] >> 3)))
        return 4;
    return 0;
}

void PutBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t GetBE32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

int UnitType(bool h265, uint8_t b)
{
    return h265 ? nal::H265Type(b) : nal::H264Type(b);
}

// 1 VPS, 2 SPS, 4 PPS.
int ParamSetBit(bool h265, int type)
{
    if (h265)
        return type == nal::kH265Vps ? 1 : type == nal::kH265Sps ? 2 : type == nal::kH265Pps ? 4 : 0;
    return type == nal::kH264Sps ? 2 : type == nal::kH264Pps ? 4 : 0;
}

// The read position for a sample found by time; none found puts it past the end.
int32_t ReadPosFor(MP4FileHandle file, MP4TrackId track, MP4SampleId id)
{
    return id ? int32_t(id) : int32_t(MP4GetTrackNumberOfSamples(file, track) + 1);
}

std::string JournalName(const char* name)
{
    return std::string(name) + kJournalSuffix;
}

} // namespace

CMP4Writer::CMP4Writer() : m_lock(new CMP4WriterLock)
{
    InitLibrary();
    memset(m_fileName, 0, sizeof(m_fileName));
    memset(m_collection, 0, sizeof(m_collection));
}

CMP4Writer::~CMP4Writer()
{
    CloseFile();
}

int CMP4Writer::HaveTempExtname(const char* name)
{
    return EndsWithTmp(name) ? 1 : 0;
}

int CMP4Writer::IsAAC(char* codecName)
{
    for (const char* prefix : {"MPEG4-GENERIC", "AACG4-GENERIC", "AAC", "MP4A"})
        if (strncasecmp(codecName, prefix, strlen(prefix)) == 0)
            return 1;
    return 0;
}

int CMP4Writer::GetWritedVideoFrameCount()
{
    Guard lock(m_lock->mutex);
    return m_videoSamples;
}

// --- writing ---

int CMP4Writer::OpenWrite(const char* name, void* video, void* audio)
{
    Guard lock(m_lock->mutex);
    m_collectionLength = 0;
    m_haveLastVideoTs = m_haveLastAudioTs = false;
    m_lastVideoTs = m_lastAudioTs = 0;
    m_videoSamples = m_audioSamples = 0;
    if (!name || !*name || (!video && !audio))
        return -1;
    if (strlen(name) + 10 > sizeof(m_fileName))
        return -2;
    CloseLocked();
    snprintf(m_fileName, sizeof(m_fileName), "%s%s", name, EndsWithTmp(name) ? "" : ".tmp");
    m_audioTime = m_videoTime = 0;
    m_threshold = 500;
    m_vps = m_sps = m_pps = ParamSet();
    m_pending.clear();
    m_pendingSets = 0;

    m_file = MP4CreateProviderEx(m_fileName, 0, nullptr, 1, 1, nullptr, 0, nullptr, 0);
    if (!m_file) {
        m_fileName[0] = 0;
        return -3;
    }
    MP4EnableRecoveryJournal(m_file, JournalName(m_fileName).c_str(), kJournalIntervalMs, true);
    m_reading = 0;
    MP4SetTimeScale(m_file, 90000);
    m_videoTrack = m_audioTrack = 0;
    m_videoTimeScale = m_audioTimeScale = 0;
    m_h265 = m_g711 = 0;

    auto* v = static_cast<VideoParam*>(video);
    if (v && v->codecName[0] && v->width > 0 && v->height > 0 && v->frameRate > 0) {
        const int rate = std::min(v->frameRate, 120); // a bogus high rate must not cost the video
        m_videoTimeScale = 90000;
        m_defaultVideoDuration = 90000 / rate;
        m_paramSetsWritten = 0;
        char codec[257];
        memcpy(codec, v->codecName, 256);
        codec[256] = 0;
        if (IsH265Name(codec)) {
            m_h265 = 1;
            m_videoTrack = MP4AddH265VideoTrack(m_file, 90000, m_defaultVideoDuration, uint16_t(v->width),
                                                uint16_t(v->height));
        } else {
            m_h265 = 0;
            m_videoTrack = MP4AddH264VideoTrack(m_file, 90000, m_defaultVideoDuration, uint16_t(v->width),
                                                uint16_t(v->height), 100, 0, 31, 3);
        }
        if (!m_videoTrack) {
            AbortOpen();
            return -4;
        }
        MP4SetVideoProfileLevel(m_file, 0x7F);
        SeedParameterSets(v->config, std::clamp<int>(v->configLength, 0, 256));
    }

    auto* a = static_cast<AudioParam*>(audio);
    if (a && a->codecName[0] && a->channels > 0 && a->bitsPerSample > 0 && a->sampleRate > 0) {
        char codec[257];
        memcpy(codec, a->codecName, 256);
        codec[256] = 0;
        if (IsAAC(codec)) {
            m_g711 = 0;
            // The track's rate is the stream's; durations follow it too.
            m_audioTimeScale = a->sampleRate;
            m_audioTrack = MP4AddAudioTrack(m_file, uint32_t(a->sampleRate), 2048, MP4_MPEG4_AUDIO_TYPE);
            if (m_audioTrack) {
                uint8_t config[2];
                MakeAacConfig(a->sampleRate, a->channels, config);
                MP4SetTrackESConfiguration(m_file, m_audioTrack, config, 2);
                MP4SetTrackIntegerProperty(m_file, m_audioTrack, "mdia.minf.stbl.stsd.mp4a.channels",
                                           std::min(a->channels, 8));
                MP4SetAudioProfileLevel(m_file, 0x0F);
            }
        } else {
            m_g711 = 1;
            m_audioTimeScale = a->sampleRate;
            m_audioTrack = MP4AddULawAudioTrack(m_file, uint32_t(a->sampleRate), 1024);
            if (m_audioTrack) {
                MP4SetTrackIntegerProperty(m_file, m_audioTrack, "mdia.minf.stbl.stsd.ulaw.channels", 1);
                MP4SetAudioProfileLevel(m_file, 2);
            }
        }
        if (!m_audioTrack) {
            AbortOpen();
            return -5;
        }
    }

    if (m_audioTimeScale == 0)
        m_audioTimeScale = 64000;
    m_videoUnitsPerMs = std::max(m_videoTimeScale / 1000, 1);
    m_audioUnitsPerMs = std::max(m_audioTimeScale / 1000, 1);
    m_threshold = 500;
    if (!m_videoTrack && !m_audioTrack) {
        AbortOpen(); // a file without tracks is of no use to anyone
        return -10;
    }
    return 0;
}

void CMP4Writer::AbortOpen()
{
    if (m_file)
        MP4Close(m_file);
    m_file = nullptr;
    if (m_fileName[0]) {
        unlink(m_fileName);
        unlink(JournalName(m_fileName).c_str());
    }
    m_fileName[0] = 0;
    m_videoTrack = m_audioTrack = 0;
}

int CMP4Writer::CloseFile()
{
    Guard lock(m_lock->mutex);
    CloseLocked();
    return 0;
}

void CMP4Writer::CloseLocked()
{
    m_haveLastVideoTs = m_haveLastAudioTs = false;
    m_lastVideoTs = m_lastAudioTs = 0;
    m_videoReadPos = m_audioReadPos = 0;
    m_audioClockMs = 0;
    bool finished = false;
    if (m_file) {
        if (m_reading)
            MP4Close(m_file);
        else
            finished = MP4CloseKeepJournal(m_file);
        m_file = nullptr;
    }
    if (!m_reading && m_fileName[0]) {
        bool named = true;
        if (EndsWithTmp(m_fileName)) {
            std::string finalName(m_fileName, strlen(m_fileName) - 4);
            named = rename(m_fileName, finalName.c_str()) == 0;
            if (!named)
                WriteLog(3, "MP4 rename %s failed: %s", m_fileName, strerror(errno));
        }
        // The journal goes last: a crash before this leaves what recovery needs.
        if (finished && named)
            unlink(JournalName(m_fileName).c_str());
    }
    m_fileName[0] = 0;
    m_reading = 0;
    m_videoTrack = m_audioTrack = 0;
    m_pending.clear();
    m_pendingSets = 0;
}

bool CMP4Writer::EnsureBuffer(size_t size)
{
    if (size > 0x7FFFFFFF - 10240)
        return false;
    if (m_bufferSize >= int32_t(size))
        return true;
    // Grows only, with slack, in 256-byte steps.
    const size_t grown = (size + 10240) / 256 * 256;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[grown]);
    if (!buffer)
        return false;
    m_buffer = std::move(buffer);
    m_bufferSize = int32_t(grown);
    return true;
}

void CMP4Writer::SeedParameterSets(const uint8_t* config, int length)
{
    // The stream's own parameter sets replace these when they come.
    if (length < 4 || !nal::StartsWithStartCode(config, size_t(length)))
        return;
    std::vector<nal::Unit> units;
    nal::SplitAnnexB(config, size_t(length), units);
    for (const nal::Unit& u : units) {
        ParamSet* slot = nullptr;
        switch (ParamSetBit(m_h265 != 0, UnitType(m_h265 != 0, config[u.offset]))) {
        case 1: slot = &m_vps; break;
        case 2: slot = &m_sps; break;
        case 4: slot = &m_pps; break;
        default: break;
        }
        if (slot && slot->source == 0)
            *slot = ParamSet{std::vector<uint8_t>(config + u.offset, config + u.offset + u.size), 1};
    }
}

bool CMP4Writer::ParameterSetsComplete() const
{
    return !m_sps.bytes.empty() && !m_pps.bytes.empty() && (!m_h265 || !m_vps.bytes.empty());
}

void CMP4Writer::WriteParameterSets()
{
    if (m_h265) {
        std::vector<uint8_t> block;
        NalPositions positions{};
        const ParamSet* sets[3] = {&m_vps, &m_sps, &m_pps};
        for (int i = 0; i < 3; ++i) {
            block.insert(block.end(), {0, 0, 0, 1});
            positions.nal[i].offset = int32_t(block.size());
            positions.nal[i].length = int32_t(sets[i]->bytes.size());
            block.insert(block.end(), sets[i]->bytes.begin(), sets[i]->bytes.end());
        }
        MP4AddH265ParameterArraySet(m_file, m_videoTrack, block.data(), &positions, 3);
    } else {
        MP4AddH264SequenceParameterSet(m_file, m_videoTrack, m_sps.bytes.data(), uint16_t(m_sps.bytes.size()));
        MP4AddH264PictureParameterSet(m_file, m_videoTrack, m_pps.bytes.data(), uint16_t(m_pps.bytes.size()));
        if (m_sps.bytes.size() >= 4) {
            // Profile, compatibility flags and level as the stream declares them.
            MP4SetTrackIntegerProperty(m_file, m_videoTrack, "mdia.minf.stbl.stsd.avc1.avcC.AVCProfileIndication",
                                       m_sps.bytes[1]);
            MP4SetTrackIntegerProperty(m_file, m_videoTrack, "mdia.minf.stbl.stsd.avc1.avcC.profile_compatibility",
                                       m_sps.bytes[2]);
            MP4SetTrackIntegerProperty(m_file, m_videoTrack, "mdia.minf.stbl.stsd.avc1.avcC.AVCLevelIndication",
                                       m_sps.bytes[3]);
        }
    }
    m_paramSetsWritten = 1;
}

int CMP4Writer::WriteOneFrame(int isVideo, const void* data, int length, int64_t timeStamp, int isKey)
{
    return WriteOneFrame(isVideo, data, length, timeStamp, isKey, 0);
}

int CMP4Writer::WriteOneFrame(int isVideo, const void* data, int length, int64_t timeStamp, int isKey,
                              int32_t renderOffsetUs)
{
    Guard lock(m_lock->mutex);
    if (!data || length <= 0)
        return 0;
    if (!EnsureBuffer(size_t(length) + kHeadRoom))
        return -1;
    return isVideo ? WriteVideo(static_cast<const uint8_t*>(data), length, timeStamp, isKey, renderOffsetUs)
                   : WriteAudio(static_cast<const uint8_t*>(data), length, timeStamp);
}

int CMP4Writer::WriteVideo(const uint8_t* data, int length, int64_t timeStamp, int isKey, int32_t renderOffsetUs)
{
    if (!m_videoTrack || !m_file)
        return 0;
    const bool h265 = m_h265 != 0;
    bool sync = isKey != 0;
    const uint8_t* sample = data;
    size_t sampleSize = size_t(length);

    if (nal::StartsWithStartCode(data, size_t(length))) {
        static thread_local std::vector<nal::Unit> units;
        nal::SplitAnnexB(data, size_t(length), units);
        bool picture = false, randomAccess = false;
        int sets = 0;
        for (const nal::Unit& u : units) {
            const int type = UnitType(h265, data[u.offset]);
            picture |= nal::IsVcl(h265, type);
            randomAccess |= nal::IsRandomAccess(h265, type);
            const int bit = ParamSetBit(h265, type);
            if (bit && (m_paramSetsWritten == 0) && u.size <= 0xFFFF) {
                ParamSet& slot = bit == 1 ? m_vps : bit == 2 ? m_sps : m_pps;
                slot = ParamSet{std::vector<uint8_t>(data + u.offset, data + u.offset + u.size), 2};
            }
            sets |= bit;
        }

        if (!picture) {
            // Parameter sets, SEI or delimiters alone: their units go in front
            // of the next picture (before the first one, the sets are noted).
            if (m_paramSetsWritten) {
                if (m_pending.size() + size_t(length) + 4 * units.size() <= kMaxPending) {
                    for (const nal::Unit& u : units) {
                        uint8_t len[4];
                        PutBE32(len, uint32_t(u.size));
                        m_pending.insert(m_pending.end(), len, len + 4);
                        m_pending.insert(m_pending.end(), data + u.offset, data + u.offset + u.size);
                    }
                    m_pendingSets |= sets;
                }
            }
            return 0;
        }
        sync = sync || randomAccess;
        if (!m_paramSetsWritten) {
            // The file starts with a key frame whose parameter sets are known.
            if (!sync || !ParameterSetsComplete())
                return 0;
            WriteParameterSets();
        }

        // A key frame without its parameter sets gets them in front, so that
        // every sync sample decodes on its own as Annex-B.
        const int needed = h265 ? 7 : 6;
        const bool addSets = sync && ((sets | m_pendingSets) & needed) != needed;
        size_t outSize = m_pending.size();
        if (addSets)
            outSize += (h265 ? 4 + m_vps.bytes.size() : 0) + 8 + m_sps.bytes.size() + m_pps.bytes.size();
        for (const nal::Unit& u : units)
            outSize += 4 + u.size;
        if (!EnsureBuffer(outSize))
            return -1;

        uint8_t* out = m_buffer.get();
        auto put = [&out](const uint8_t* bytes, size_t size) {
            PutBE32(out, uint32_t(size));
            memcpy(out + 4, bytes, size);
            out += 4 + size;
        };
        size_t i = 0;
        const int aud = h265 ? int(nal::kH265Aud) : int(nal::kH264Aud);
        for (; i < units.size() && UnitType(h265, data[units[i].offset]) == aud; ++i)
            put(data + units[i].offset, units[i].size); // the delimiter stays first
        if (!m_pending.empty()) {
            memcpy(out, m_pending.data(), m_pending.size());
            out += m_pending.size();
        }
        if (addSets) {
            if (h265)
                put(m_vps.bytes.data(), m_vps.bytes.size());
            put(m_sps.bytes.data(), m_sps.bytes.size());
            put(m_pps.bytes.data(), m_pps.bytes.size());
        }
        for (; i < units.size(); ++i)
            put(data + units[i].offset, units[i].size);
        sample = m_buffer.get();
        sampleSize = size_t(out - m_buffer.get());
    }

    // Durations follow the decode times; the offset shows the picture later.
    const int64_t offsetUs = std::max<int32_t>(renderOffsetUs, 0);
    const int64_t decodeTs = timeStamp - (offsetUs + 500) / 1000;
    const auto renderOffset = MP4Duration((offsetUs * m_videoTimeScale + 500000) / 1000000);
    const uint64_t duration = NextVideoDuration(decodeTs);
    m_lastVideoTs = decodeTs;
    m_haveLastVideoTs = true;
    MP4WriteSample(m_file, m_videoTrack, sample, uint32_t(sampleSize), duration, renderOffset, sync);
    m_videoTime += uint32_t(duration);
    ++m_videoSamples;
    m_pending.clear();
    m_pendingSets = 0;
    return 0;
}

// The camera's time stamps give the durations, never this machine's clock,
// so load cannot make them uneven. The frame rate stands in for the first
// frame and for a stamp that is missing (repeated), goes back or jumps by
// more than a second.
uint64_t CMP4Writer::NextVideoDuration(int64_t timeStamp)
{
    const uint64_t delta = m_haveLastVideoTs ? uint64_t(timeStamp) - uint64_t(m_lastVideoTs) : 0;
    uint64_t duration = (delta >= 6 && delta <= 1000) ? delta * uint64_t(m_videoUnitsPerMs)
                                                       : uint64_t(m_defaultVideoDuration);
    if (m_audioTrack) {
        // Keep video within half a second of audio.
        const auto vts = uint32_t(m_videoTimeScale), ats = uint32_t(m_audioTimeScale);
        while (m_videoTime > vts && m_audioTime > ats) {
            m_videoTime -= vts;
            m_audioTime -= ats;
        }
        const int64_t videoMs = int64_t(uint64_t(m_videoTime) * 1000 / vts);
        const int64_t audioMs = int64_t(uint64_t(m_audioTime) * 1000 / ats);
        if (videoMs - audioMs > m_threshold || audioMs - videoMs > m_threshold)
            duration = audioMs < videoMs ? duration / 2 : duration * 2;
    }
    return duration;
}

int CMP4Writer::WriteAudio(const uint8_t* data, int length, int64_t timeStamp)
{
    if (!m_audioTrack || !m_file)
        return 0;
    if (m_videoTrack && m_videoSamples == 0)
        return 0; // the file starts with video
    uint64_t delta = 0;
    if (m_haveLastAudioTs)
        delta = std::clamp<uint64_t>(uint64_t(timeStamp) - uint64_t(m_lastAudioTs), 10, 400);
    m_lastAudioTs = timeStamp;
    m_haveLastAudioTs = true;

    uint64_t duration;
    int header = 0;
    if (m_g711) {
        if (m_audioSamples <= 1)
            MP4UpdateFixSampleDuration(m_file, m_audioTrack, uint64_t(length) * 1000 / uint32_t(m_audioTimeScale));
        duration = uint64_t(length); // one mu-law byte per sample, mono
    } else {
        // The first frame has no predecessor to measure: one AAC frame of 1024 samples.
        duration = m_audioSamples == 0 ? 1024 : delta * uint64_t(m_audioTimeScale) / 1000;
        header = AacHeaderLength(data, length);
        if (header >= length)
            return 0;
    }
    ++m_audioSamples;
    MP4WriteSample(m_file, m_audioTrack, data + header, uint32_t(length - header), duration, 0, true);
    m_audioTime += uint32_t(duration);
    return 0;
}

int CMP4Writer::CheckH264SpsPpsInConfig(int isH265, char* frame, int length, void* positions, int count)
{
    Guard lock(m_lock->mutex);
    if (!isH265 || !frame || length < 4 || count < 3 || !positions)
        return 0;
    const auto* data = reinterpret_cast<const uint8_t*>(frame);
    // What the collection holds: positions of VPS, SPS and PPS after their start codes.
    auto find = [&](NalPositions& pos) {
        std::vector<nal::Unit> units;
        nal::SplitAnnexB(m_collection, size_t(m_collectionLength), units);
        int have = 0;
        for (const nal::Unit& u : units) {
            const int bit = ParamSetBit(true, nal::H265Type(m_collection[u.offset]));
            const int slot = bit == 1 ? 0 : bit == 2 ? 1 : bit == 4 ? 2 : -1;
            if (slot >= 0 && !(have & bit)) {
                pos.nal[slot].offset = int32_t(u.offset);
                pos.nal[slot].length = int32_t(u.size);
                have |= bit;
            }
        }
        return have;
    };
    NalPositions pos{};
    int have = find(pos);
    if (have != 7) {
        std::vector<nal::Unit> units;
        nal::SplitAnnexB(data, size_t(length), units);
        for (const nal::Unit& u : units) {
            const int bit = ParamSetBit(true, nal::H265Type(data[u.offset]));
            const bool take = (bit == 1 && !(have & 1)) || (bit == 2 && (have & 1) && !(have & 2)) ||
                              (bit == 4 && (have & 2) && !(have & 4));
            if (!take || size_t(m_collectionLength) + 4 + u.size >= 2040)
                continue;
            memcpy(m_collection + m_collectionLength, "\0\0\0\1", 4);
            memcpy(m_collection + m_collectionLength + 4, data + u.offset, u.size);
            m_collectionLength += 4 + int(u.size);
            have |= bit;
        }
        if (have != 7)
            return 0;
        memcpy(m_collection + m_collectionLength, "\0\0\0\1", 4);
        m_collectionLength += 4;
        have = find(pos);
    }
    if (have != 7)
        return 0;
    memcpy(positions, &pos, sizeof(pos));
    return 1;
}

// --- reading ---

int64_t CMP4Writer::ToMs(uint64_t ticks, uint32_t timeScale) const
{
    if (timeScale == 0)
        timeScale = 1000;
    const unsigned __int128 ms = static_cast<unsigned __int128>(ticks) * 1000 / timeScale;
    return ms > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(ms);
}

int CMP4Writer::SetupReadTracks()
{
    m_reading = 1;
    m_audioTrack = MP4FindTrackId(m_file, 0, MP4_AUDIO_TRACK_TYPE);
    m_videoTrack = MP4FindTrackId(m_file, 0, MP4_VIDEO_TRACK_TYPE);
    if (!m_audioTrack && !m_videoTrack) {
        CloseLocked();
        return -3;
    }
    m_videoTimeScale = m_audioTimeScale = 1000;
    m_h265 = m_g711 = 0;
    if (m_audioTrack) {
        uint8_t* config = nullptr;
        uint32_t size = 0;
        MP4GetTrackESConfiguration(m_file, m_audioTrack, &config, &size);
        m_g711 = size >= 2 ? 0 : 1;
        MP4Free(config);
        const auto ts = int32_t(std::min<uint32_t>(MP4GetTrackTimeScale(m_file, m_audioTrack), INT32_MAX));
        m_audioTimeScale = ts > 0 ? ts : 8000;
    }
    if (m_videoTrack) {
        const char* name = MP4GetTrackMediaDataName(m_file, m_videoTrack);
        m_h265 = 0;
        for (const char* p : {"H265", "HEVC", "hev1", "hvcC", "hvc1"})
            if (name && strncmp(name, p, 4) == 0)
                m_h265 = 1;
        const auto ts = int32_t(std::min<uint32_t>(MP4GetTrackTimeScale(m_file, m_videoTrack), INT32_MAX));
        m_videoTimeScale = ts > 0 ? ts : 90000;
    }
    m_videoUnitsPerMs = std::max(m_videoTimeScale / 1000, 1);
    m_audioUnitsPerMs = std::max(m_audioTimeScale / 1000, 1);
    return 0;
}

int CMP4Writer::OpenRead(const char* name, void* video, void* audio)
{
    Guard lock(m_lock->mutex);
    CloseLocked();
    m_collectionLength = 0;
    if (!name || !video || !audio)
        return -1;
    m_videoReadPos = m_audioReadPos = 1;
    std::string why;
    if (!qelm::IsRegularFile(name, {}, &why)) {
        if (errno != ENOENT)
            WriteLog(3, "CMP4Writer: %s not opened: %s", name, why.c_str());
        return -2;
    }
    m_file = MP4Read(name);
    if (!m_file)
        return -2;
    if (const int rc = SetupReadTracks(); rc != 0)
        return rc;

    auto* v = static_cast<VideoParam*>(video);
    auto* a = static_cast<AudioParam*>(audio);
    memset(v, 0, sizeof(*v));
    memset(a, 0, sizeof(*a));
    if (m_audioTrack) {
        uint8_t* config = nullptr;
        uint32_t size = 0;
        MP4GetTrackESConfiguration(m_file, m_audioTrack, &config, &size);
        int rate = 0, channels = 0;
        if (size >= 2) {
            snprintf(a->codecName, sizeof(a->codecName), "AAC");
            if (!ParseAacConfig(config, size, rate, channels)) {
                rate = m_audioTimeScale;
                channels = MP4GetTrackAudioChannels(m_file, m_audioTrack);
            }
            a->extra1 = 15;
        } else {
            snprintf(a->codecName, sizeof(a->codecName), "G711");
            rate = m_audioTimeScale;
            channels = MP4GetTrackAudioChannels(m_file, m_audioTrack);
            a->extra1 = 8;
        }
        MP4Free(config);
        a->sampleRate = rate;
        a->bitsPerSample = 16;
        a->channels = channels > 0 ? channels : 1;
    }
    if (m_videoTrack) {
        const double rate = MP4GetTrackVideoFrameRate(m_file, m_videoTrack);
        v->frameRate = rate >= 1 && rate < 100000 ? int32_t(rate) : 25;
        v->width = MP4GetTrackVideoWidth(m_file, m_videoTrack);
        v->height = MP4GetTrackVideoHeight(m_file, m_videoTrack);
        snprintf(v->codecName, sizeof(v->codecName), "%s", m_h265 ? "H265" : "H264");
        v->extra = 24;
        v->bitRate = int32_t(std::min<uint32_t>(MP4GetTrackBitRate(m_file, m_videoTrack), INT32_MAX));
        v->configLength = 0;
    }
    return 0;
}

int CMP4Writer::ReadOneFrame(int& isVideo, void* buffer, int& length, int64_t& timeStamp, int64_t& duration,
                             int& isKey)
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    const uint32_t vpos = uint32_t(std::max(m_videoReadPos, 1));
    const uint32_t apos = uint32_t(std::max(m_audioReadPos, 1));
    int64_t nextVideo = kNoTime, nextAudio = kNoTime;
    if (m_videoTrack && vpos <= MP4GetTrackNumberOfSamples(m_file, m_videoTrack)) {
        const MP4Timestamp t = MP4GetSampleTime(m_file, m_videoTrack, vpos);
        if (t != MP4_INVALID_TIMESTAMP)
            nextVideo = ToMs(t, uint32_t(m_videoTimeScale));
    }
    if (m_audioTrack && apos <= MP4GetTrackNumberOfSamples(m_file, m_audioTrack)) {
        const MP4Timestamp t = MP4GetSampleTime(m_file, m_audioTrack, apos);
        if (t != MP4_INVALID_TIMESTAMP)
            nextAudio = t == 0 ? m_audioClockMs : ToMs(t, uint32_t(m_audioTimeScale));
    }
    const bool video = m_videoTrack && (!m_audioTrack || nextAudio >= nextVideo);
    const MP4TrackId track = video ? m_videoTrack : m_audioTrack;
    const MP4SampleId id = video ? vpos : apos;
    const uint32_t size = MP4GetSampleSize(m_file, track, id);

    if (!buffer) {
        length = int(std::min<uint32_t>(size, INT32_MAX));
        return length;
    }
    duration = 0;
    if (length < 0 || uint32_t(length) < size || size > uint32_t(INT32_MAX)) {
        length = int(std::min<uint32_t>(size, INT32_MAX));
        return -2; // the caller's buffer is too small
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t n = uint32_t(length);
    MP4Timestamp start = 0;
    MP4Duration sampleDuration = 0;
    bool sync = false;
    if (!MP4ReadSample(m_file, track, id, &bytes, &n, &start, &sampleDuration, nullptr, &sync))
        return -2;
    const int64_t durationMs = ToMs(sampleDuration, uint32_t(video ? m_videoTimeScale : m_audioTimeScale));

    if (video) {
        // 4-byte NAL lengths back to start codes.
        bool key = sync;
        bool first = true;
        for (uint32_t pos = 0; pos + 4 <= n;) {
            const uint32_t len = GetBE32(bytes + pos);
            if (len > n - pos - 4)
                break;
            memcpy(bytes + pos, "\0\0\0\1", 4);
            if (first && len > 0) {
                const int type = UnitType(m_h265 != 0, bytes[pos + 4]);
                const bool skip = m_h265 ? (type == nal::kH265Aud || type == nal::kH265SeiPrefix)
                                         : (type == nal::kH264Aud || type == nal::kH264Sei);
                if (!skip) {
                    first = false;
                    key = key || nal::IsParameterSet(m_h265 != 0, type) || (!m_h265 && type == nal::kH264Idr);
                }
            }
            pos += 4 + len;
        }
        m_videoReadPos = int32_t(id + 1);
        isVideo = 1;
        timeStamp = nextVideo;
        isKey = key ? 1 : 0;
    } else {
        m_audioReadPos = int32_t(id + 1);
        isVideo = 0;
        m_audioClockMs += durationMs;
        // A later sample at time 0 follows a first one of no duration (older
        // files): the clock knows its time.
        timeStamp = start == 0 && id > 1 ? m_audioClockMs : nextAudio;
        isKey = 1;
    }
    duration = durationMs;
    length = int(n);
    return int(n);
}

// Puts the audio reader at the sample playing at a video sample's time.
void CMP4Writer::SeekAudioToVideoTime(MP4Timestamp videoTime)
{
    const uint64_t at = uint64_t(ToMs(videoTime, uint32_t(m_videoTimeScale))) * uint64_t(m_audioTimeScale) / 1000;
    const MP4SampleId aid = MP4GetSampleIdFromTime(m_file, m_audioTrack, at, false);
    m_audioReadPos = ReadPosFor(m_file, m_audioTrack, aid);
}

int CMP4Writer::SeekToFile(int second)
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    const uint64_t s = uint64_t(std::max(second, 0));
    if (m_videoTrack) {
        const MP4Timestamp first = MP4GetSampleTime(m_file, m_videoTrack, 1);
        const MP4Timestamp target =
            s == 0 ? 0 : s * uint64_t(m_videoTimeScale) + (first == MP4_INVALID_TIMESTAMP ? 0 : first);
        const MP4SampleId id = MP4GetSampleIdFromTime(m_file, m_videoTrack, target, true);
        // Past the last key frame the reader stands at the end.
        m_videoReadPos = ReadPosFor(m_file, m_videoTrack, id);
    }
    if (m_audioTrack) {
        const MP4SampleId id = MP4GetSampleIdFromTime(m_file, m_audioTrack, s * uint64_t(m_audioTimeScale), false);
        m_audioReadPos = ReadPosFor(m_file, m_audioTrack, id);
    }
    return 0;
}

int CMP4Writer::MoveNextKeyFrame()
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    if (!m_videoTrack) {
        m_audioReadPos = std::max(m_audioReadPos, 1) + 1;
        return 0;
    }
    m_videoReadPos = std::max(m_videoReadPos, 1) + 1;
    const MP4Timestamp t = MP4GetSampleTime(m_file, m_videoTrack, uint32_t(m_videoReadPos));
    if (t == MP4_INVALID_TIMESTAMP)
        return -1;
    const MP4SampleId id = MP4GetSampleIdFromTime(m_file, m_videoTrack, t + 10, true);
    if (id == 0)
        return -1;
    m_videoReadPos = int32_t(id);
    if (m_audioTrack)
        SeekAudioToVideoTime(MP4GetSampleTime(m_file, m_videoTrack, id));
    return 0;
}

int CMP4Writer::MovePrevKeyFrame()
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    if (!m_videoTrack) {
        m_audioReadPos = std::max(m_audioReadPos - 1, 1); // without video a step back is one sample
        return 0;
    }
    int32_t pos = std::max(m_videoReadPos, 1);
    while (pos > 1 && MP4GetSampleSync(m_file, m_videoTrack, uint32_t(pos)) != 1)
        --pos;
    m_videoReadPos = pos;
    if (m_audioTrack) {
        const MP4Timestamp vt = MP4GetSampleTime(m_file, m_videoTrack, uint32_t(pos));
        if (vt != MP4_INVALID_TIMESTAMP)
            SeekAudioToVideoTime(vt);
    }
    return 0;
}

int CMP4Writer::GetAllTime()
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    const MP4TrackId track = m_videoTrack ? m_videoTrack : m_audioTrack;
    if (!track)
        return 0;
    const MP4Duration d = MP4GetTrackDuration(m_file, track);
    uint32_t ts = MP4GetTrackTimeScale(m_file, track);
    if (ts == 0)
        ts = 1000;
    return d == MP4_INVALID_DURATION ? 0 : int(std::min<uint64_t>(d / ts, INT32_MAX));
}

int CMP4Writer::GetNowTime()
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return -1;
    const MP4TrackId track = m_videoTrack ? m_videoTrack : m_audioTrack;
    if (!track)
        return 0;
    const uint32_t pos = uint32_t(std::max(m_videoTrack ? m_videoReadPos : m_audioReadPos, 1));
    uint32_t ts = MP4GetTrackTimeScale(m_file, track);
    if (ts == 0)
        ts = 1000;
    MP4Timestamp t;
    if (pos > MP4GetTrackNumberOfSamples(m_file, track))
        t = MP4GetTrackDuration(m_file, track);
    else
        t = MP4GetSampleTime(m_file, track, pos);
    return t == MP4_INVALID_TIMESTAMP ? 0 : int(std::min<uint64_t>(t / ts, INT32_MAX));
}

int CMP4Writer::GetTimeScale()
{
    Guard lock(m_lock->mutex);
    if (!m_file || !m_reading)
        return 0;
    const MP4TrackId track = m_videoTrack ? m_videoTrack : m_audioTrack;
    uint32_t ts = track ? MP4GetTrackTimeScale(m_file, track) : 0;
    if (ts == 0)
        ts = 1000;
    return int(ts & 0x7FFFFFFF);
}

int CMP4Writer::GetRecordTimeFromFile(const char* name)
{
    Guard lock(m_lock->mutex);
    CloseLocked();
    if (!name)
        return -1;
    m_file = MP4Read(name);
    if (!m_file)
        return -2;
    if (const int rc = SetupReadTracks(); rc != 0)
        return rc;
    const MP4TrackId track = m_videoTrack ? m_videoTrack : m_audioTrack;
    uint32_t ts = MP4GetTrackTimeScale(m_file, track);
    if (ts == 0)
        ts = m_videoTrack ? 90000 : 1000;
    const MP4Duration d = MP4GetTrackDuration(m_file, track);
    return d == MP4_INVALID_DURATION ? 0 : int(std::min<uint64_t>(d / ts, INT32_MAX));
}

// --- recovery ---

namespace {

// Finishes a record file a writer left behind; finalName is its name without
// ".tmp" (file itself when already renamed). A whole file only lacks its
// name; otherwise the journal rebuilds it. The journal is removed last, so a
// crash at any step leaves a state that the next run finishes. Returns the
// samples kept, 0 when nothing was worth keeping (both files removed), -1
// when the file is left as it is.
int FinishRecording(const std::string& file, const std::string& journal, const std::string& finalName)
{
    const bool haveJournal = access(journal.c_str(), F_OK) == 0;
    int kept = MP4FinishedFileSamples(file.c_str());
    if (kept < 0) {
        if (!haveJournal)
            return -1; // nothing to rebuild it from
        kept = MP4RecoverFile(file.c_str(), journal.c_str(), false);
        if (kept < 0) {
            WriteLog(3, "MP4 recovery failed: %s", file.c_str());
            return -1;
        }
    }
    if (kept == 0) {
        unlink(file.c_str());
        unlink(journal.c_str());
        WriteLog(6, "MP4 recovery: %s held no sample, removed", file.c_str());
        return 0;
    }
    if (file != finalName && rename(file.c_str(), finalName.c_str()) != 0) {
        WriteLog(3, "MP4 rename %s failed: %s", file.c_str(), strerror(errno));
        return -1;
    }
    if (haveJournal)
        unlink(journal.c_str());
    WriteLog(6, "MP4 recovered %s: %d samples", finalName.c_str(), kept);
    return kept;
}

std::string WithoutTmp(const std::string& name)
{
    return EndsWithTmp(name.c_str()) ? name.substr(0, name.size() - 4) : name;
}

// Anything at that name, a dangling link included.
bool Present(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A regular file inside root (links followed only inside it); anything
// else is left alone with one log line.
bool UsableRecordFile(const std::string& path, const std::string& root)
{
    std::string why;
    if (qelm::IsRegularFile(path, root, &why))
        return true;
    WriteLog(3, "MP4 recovery: %s skipped: %s", path.c_str(), why.c_str());
    return false;
}

} // namespace

int CMP4Writer::RecoverTempFile(const char* name)
{
    InitLibrary();
    if (!name || !*name || access(name, F_OK) != 0)
        return -1;
    if (!UsableRecordFile(name, {}))
        return -1;
    return FinishRecording(name, JournalName(name), WithoutTmp(name));
}

int CMP4Writer::RecoverTempFiles(const char* folder)
{
    InitLibrary();
    if (!folder || !*folder)
        return 0;
    namespace fs = std::filesystem;
    std::vector<std::string> journals, temps;
    std::error_code ec;
    const std::string suffix = std::string(".tmp") + kJournalSuffix;
    // Entries are taken by name whatever they are; each is checked before
    // it is opened, so a pipe or a link out of the folder is skipped with a
    // log line instead of being waited on or followed.
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (it->is_directory(ec) && !it->is_symlink(ec))
            continue;
        if (file.size() > suffix.size() &&
            strcasecmp(file.c_str() + file.size() - suffix.size(), suffix.c_str()) == 0)
            journals.push_back(it->path().string());
        else if (EndsWithTmp(file.c_str()))
            temps.push_back(it->path().string());
    }
    const std::string root = folder;
    int finished = 0;
    for (const std::string& j : journals) {
        if (!UsableRecordFile(j, root))
            continue;
        const std::string data = j.substr(0, j.size() - strlen(kJournalSuffix));
        const std::string finalName = WithoutTmp(data);
        int kept = -1;
        if (Present(data)) {
            if (UsableRecordFile(data, root))
                kept = FinishRecording(data, j, finalName);
        } else if (finalName != data && Present(finalName)) {
            if (UsableRecordFile(finalName, root))
                kept = FinishRecording(finalName, j, finalName); // renamed before its journal went
        } else {
            unlink(j.c_str()); // its file is gone
        }
        if (kept > 0)
            ++finished;
    }
    // Whole files whose journal is gone: a crash between finishing and renaming.
    for (const std::string& t : temps) {
        if (Present(JournalName(t.c_str())) || !Present(t) || !UsableRecordFile(t, root))
            continue; // finished above, or not ours to touch
        if (FinishRecording(t, JournalName(t.c_str()), WithoutTmp(t)) > 0)
            ++finished;
    }
    return finished;
}
