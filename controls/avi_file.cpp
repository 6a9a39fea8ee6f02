// AVI record files: header layout and the frame-by-frame writer.
#include "controls/avi_file.h"

#include "platform/clock.h"
#include "platform/logsink.h"
#include "platform/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

int VideoTypeOf(const char* codec)
{
    if (!codec)
        return kVideoMpeg4;
    if (strncmp(codec, "MPEG4", 5) == 0)
        return kVideoMpeg4;
    if (strncmp(codec, "H264", 4) == 0 || strncmp(codec, "H.264", 5) == 0)
        return kVideoH264;
    if (strncmp(codec, "H265", 4) == 0 || strncmp(codec, "H.265", 5) == 0)
        return kVideoH265;
    return kVideoMpeg4;
}

int AudioTypeOf(const char* codec)
{
    if (!codec)
        return kAudioG711;
    for (const char* aac : {"MPEG4-GENERIC", "AACG4-GENERIC", "AAC", "MP4A"})
        if (strncmp(codec, aac, strlen(aac)) == 0)
            return kAudioAac;
    return kAudioG711;
}

namespace {

class HeaderWriter {
public:
    explicit HeaderWriter(std::vector<uint8_t>& b) : m_b(b) {}
    void Code(uint32_t at, const char (&s)[5]) { Put32(&m_b[at], FourCC(s)); }
    void U32(uint32_t at, uint32_t v) { Put32(&m_b[at], v); }
    void U16(uint32_t at, uint16_t v) { Put16(&m_b[at], v); }
    void Bytes(uint32_t at, const void* p, size_t n) { memcpy(&m_b[at], p, n); }

private:
    std::vector<uint8_t>& m_b;
};

uint32_t VideoHandler(int videoType)
{
    switch (videoType) {
    case kVideoH264: return FourCC("H264");
    case kVideoH265: return FourCC("H265");
    default: return FourCC("XVID");
    }
}

// "JUNK", 260, "odml", "dmlh", 248 and 248 zero bytes.
void OdmlChunk(HeaderWriter& w, uint32_t at)
{
    w.Code(at, "JUNK");
    w.U32(at + 4, 260);
    w.Code(at + 8, "odml");
    w.Code(at + 12, "dmlh");
    w.U32(at + 16, 248);
}

// The INFO list naming the software, then the JUNK filler up to the movi list.
void InfoAndFiller(HeaderWriter& w, uint32_t at)
{
    static const char kSoftware[12] = "Lavf52.7.0"; // NUL and one pad byte
    w.Code(at, "LIST");
    w.U32(at + 4, 24);
    w.Code(at + 8, "INFO");
    w.Code(at + 12, "ISFT");
    w.U32(at + 16, 11);
    w.Bytes(at + 20, kSoftware, sizeof(kSoftware));
    w.Code(at + 32, "JUNK");
    w.U32(at + 36, 1016);
}

} // namespace

std::vector<uint8_t> BuildHeader(bool withAudio, int videoType, int audioType, const AviVideoDesc& video,
                                 const AviAudioDesc& audio)
{
    const uint32_t size = withAudio ? kHeaderSizeAV : kHeaderSizeV;
    std::vector<uint8_t> b(size, 0);
    HeaderWriter w(b);

    const uint32_t width = video.width > 0 ? uint32_t(video.width) : 704;
    const uint32_t height = video.height > 0 ? uint32_t(video.height) : 576;
    const uint32_t bitRate = video.bitRate > 0 ? uint32_t(video.bitRate) : 2097152;
    const uint32_t rate = video.frameRate > 0 ? uint32_t(video.frameRate) : 25;
    const uint32_t handler = VideoHandler(videoType);

    w.Code(0, "RIFF");
    w.U32(4, size - 8);
    w.Code(8, "AVI ");
    w.Code(12, "LIST");
    w.U32(16, withAudio ? 8808 : 4584);
    w.Code(20, "hdrl");
    w.Code(24, "avih");
    w.U32(28, 56);
    w.U32(kUsPerFrameAt, 1000000 / rate);
    w.U32(kMaxBytesPerSecAt, bitRate / 8);
    w.U32(44, 0x910);
    w.U32(kStreamCountAt, withAudio ? 2 : 1);
    w.U32(60, 1048576);
    w.U32(kWidthAt, width);
    w.U32(kHeightAt, height);

    // Video stream list.
    w.Code(88, "LIST");
    w.U32(92, 4240);
    w.Code(96, "strl");
    w.Code(100, "strh");
    w.U32(104, 56);
    w.Code(108, "vids");
    w.U32(kVideoHandlerAt, handler);
    w.U32(128, 1);
    w.U32(kVideoRateAt, rate);
    w.U32(kVideoLengthAt, kTemplateVideoLength);
    w.U32(144, 1048576);
    w.U32(148, 0xFFFFFFFF);
    w.U16(160, uint16_t(width));
    w.U16(162, uint16_t(height));
    w.Code(164, "strf");
    w.U32(168, 40);
    w.U32(172, 40);
    w.U32(176, width);
    w.U32(180, height);
    w.U16(184, 1);
    w.U16(186, 24);
    w.U32(188, handler);
    w.U32(192, uint32_t(uint64_t(width) * height * 24 / 8));
    w.Code(212, "JUNK");
    w.U32(216, 4116);
    w.U32(220, 4);
    w.Code(228, "00dc");

    if (!withAudio) {
        OdmlChunk(w, 4336);
        InfoAndFiller(w, 4604);
        w.Code(5660, "LIST");
        w.Code(kMoviCodeAtV, "movi");
        return b;
    }

    // Audio stream list.
    const bool aac = audioType == kAudioAac;
    const uint32_t channels = audio.channels > 0 ? uint32_t(audio.channels) : 1;
    const uint32_t sampleRate = audio.sampleRate > 0 ? uint32_t(audio.sampleRate) : 8000;
    const uint32_t bits = audio.bitsPerSample > 0 ? uint32_t(audio.bitsPerSample) : 16;
    w.Code(4336, "LIST");
    w.U32(4340, 4216);
    w.Code(4344, "strl");
    w.Code(4348, "strh");
    w.U32(4352, 56);
    w.Code(4356, "auds");
    w.U32(kAudioHandlerAt, aac ? FourCC("MP4A") : kG711Handler);
    w.U32(4376, 1);
    w.U32(kAudioRateAt, sampleRate);
    w.U32(kAudioLengthAt, kTemplateAudioLength);
    w.U32(4392, 12288);
    w.U32(4396, 0xFFFFFFFF);
    w.U32(4400, 1);
    w.Code(4412, "strf");
    w.U32(4416, 16);
    w.U16(kAudioFormatAt, aac ? 8 : 7);
    w.U16(kAudioChannelsAt, uint16_t(channels));
    w.U32(kAudioSamplesPerSecAt, sampleRate);
    if (aac) {
        w.U32(kAudioBytesPerSecAt, uint32_t(uint64_t(sampleRate) * bits * channels / 8));
        w.U16(kAudioBlockAlignAt, uint16_t(bits * channels / 8));
    } else {
        // mu-law is 8 bits a sample, whatever the source says.
        w.U32(kAudioBytesPerSecAt, sampleRate * channels);
        w.U16(kAudioBlockAlignAt, uint16_t(channels));
        w.U16(kAudioBitsAt, 8);
    }
    w.Code(4436, "JUNK");
    w.U32(4440, 4116);
    w.U32(4444, 4);
    w.Code(4452, "01wb");
    OdmlChunk(w, 8560);
    InfoAndFiller(w, 8828);
    w.Code(9884, "LIST");
    w.Code(kMoviCodeAtAV, "movi");
    return b;
}

void FinishHeader(std::vector<uint8_t>& header, uint32_t fileSize, uint32_t videoFrames, uint32_t frameRate,
                  uint32_t moviListSize, uint32_t audioSamples)
{
    if (header.size() < kHeaderSizeV || frameRate == 0)
        return;
    const bool withAudio = header.size() >= kHeaderSizeAV;
    Put32(&header[kRiffSizeAt], fileSize - 8);
    Put32(&header[kUsPerFrameAt], 1000000 / frameRate);
    Put32(&header[kTotalFramesAt], videoFrames);
    Put32(&header[kVideoRateAt], frameRate);
    Put32(&header[kVideoLengthAt], videoFrames);
    Put32(&header[withAudio ? kMoviSizeAtAV : kMoviSizeAtV], moviListSize);
    // Players take the audio duration from this length (rate is samples a second).
    if (withAudio)
        Put32(&header[kAudioLengthAt], audioSamples);
}

uint32_t AacSamplesOf(const uint8_t* data, uint32_t length)
{
    for (uint32_t at : {0u, 4u})
        if (data && length >= at + 7 && data[at] == 0xFF && (data[at + 1] & 0xF6) == 0xF0)
            return 1024u * ((data[at + 6] & 3u) + 1);
    return 1024;
}

uint32_t FinishedFrameRate(int32_t describedRate, uint32_t videoFrames, uint32_t elapsedMs)
{
    const uint32_t described = describedRate > 0 ? uint32_t(describedRate) : 25;
    const uint32_t seconds = elapsedMs / 1000;
    uint32_t rate = seconds == 0 ? described : std::min(described, videoFrames / seconds);
    return rate == 0 ? 25 : rate;
}

} // namespace avi

CWriteAviFile::CWriteAviFile(const char* name) : m_strName(name ? name : "") {}

CWriteAviFile::~CWriteAviFile()
{
    if (m_bStarted)
        Stop();
    if (m_pFile)
        fclose(m_pFile);
}

void CWriteAviFile::SetFileName(uint32_t /*tick*/, const char* path)
{
    if (!path || !*path || strnlen(path, 257) > 256)
        return;
    m_strPath = path;
    // Only an earlier file of that name goes, never a device or a folder.
    struct stat st {};
    if (lstat(path, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        unlink(path);
}

void CWriteAviFile::SetMediaParam(int audioEnabled, int seconds, const AviAudioDesc* audio, const AviVideoDesc* video)
{
    if (video) {
        m_video = *video;
        m_video.codec[sizeof(m_video.codec) - 1] = 0;
        m_video.configLength = std::clamp<int32_t>(m_video.configLength, 0, int32_t(sizeof(m_video.config)));
        m_nVideoType = avi::VideoTypeOf(m_video.codec);
    }
    m_bAudio = audioEnabled != 0 && audio != nullptr;
    if (m_bAudio) {
        m_audio = *audio;
        m_audio.codec[sizeof(m_audio.codec) - 1] = 0;
        m_nAudioType = avi::AudioTypeOf(m_audio.codec);
    }
    (void)seconds; // the clip's length; the file is finished by Stop
}

int CWriteAviFile::Start()
{
    if (m_bStarted)
        return 1;
    m_header = avi::BuildHeader(m_bAudio, m_nVideoType, m_nAudioType, m_video, m_audio);
    if (m_header.empty())
        return -101;
    m_index.clear();
    m_nVideoFrames = m_nAudioFrames = 0;
    m_nVideoBytes = m_nAudioBytes = 0;
    m_nAacSamples = 0;
    m_bKeySeen = false;
    m_bFailed = false;
    m_nStartTick = GetTickCount();
    if (m_strPath.empty())
        return -1;
    // A pipe or link left at the name is refused, never waited on.
    std::string why;
    const int fd = qelm::OpenRegularFile(m_strPath, O_WRONLY | O_CREAT | O_TRUNC, {}, &why);
    m_pFile = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!m_pFile) {
        if (fd >= 0)
            close(fd);
        qelm::PlatformLog(3, "AVI writer: cannot create %s: %s", m_strPath.c_str(), fd >= 0 ? "no stream" : why.c_str());
        return -103;
    }
    if (!WriteAll(m_header.data(), m_header.size()) || fflush(m_pFile) != 0) {
        fclose(m_pFile);
        m_pFile = nullptr;
        return -103;
    }
    m_bStarted = true;
    return 1;
}

bool CWriteAviFile::HasRoomFor(uint32_t length) const
{
    // The chunk, its index entry, the padding and the index head.
    const uint64_t used = m_header.size() + m_nVideoBytes + m_nAudioBytes + uint64_t(m_index.size()) * 16;
    const uint64_t prefix = m_bKeySeen ? 0 : uint64_t(m_video.configLength);
    return used + 8 + prefix + length + 16 + 3 + 8 <= avi::kMaxFileSize;
}

bool CWriteAviFile::WriteAll(const void* data, size_t length)
{
    return length == 0 || fwrite(data, 1, length, m_pFile) == length;
}

void CWriteAviFile::Fail()
{
    m_bFailed = true;
    if (m_pFile) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
}

int CWriteAviFile::WriteChunk(uint32_t code, bool key, const uint8_t* prefix, uint32_t prefixLength,
                              const uint8_t* data, uint32_t length)
{
    const uint32_t total = prefixLength + length;
    const uint64_t offset = 4 + m_nVideoBytes + m_nAudioBytes;
    uint8_t head[8];
    avi::Put32(head, code);
    avi::Put32(head + 4, total);
    if (!WriteAll(head, 8) || !WriteAll(prefix, prefixLength) || !WriteAll(data, length)) {
        Fail();
        return -1;
    }
    m_index.push_back({code, key ? avi::kIndexFlagKey : 0u, uint32_t(offset), total});
    if (code == avi::kVideoChunk) {
        ++m_nVideoFrames;
        m_nVideoBytes += 8 + uint64_t(total);
    } else {
        ++m_nAudioFrames;
        m_nAudioBytes += 8 + uint64_t(total);
        if (m_nAudioType == avi::kAudioAac)
            m_nAacSamples += avi::AacSamplesOf(data, length);
    }
    return 0;
}

int CWriteAviFile::WriteVideoFrame(int key, const uint8_t* data, int length)
{
    if (!m_pFile || !data || length <= 0)
        return -1;
    if (!m_bKeySeen && !key)
        return -1;
    if (!HasRoomFor(uint32_t(length)))
        return -1;
    if (!m_bKeySeen) {
        // The first chunk carries the codec configuration in front of the frame.
        if (WriteChunk(avi::kVideoChunk, true, m_video.config, uint32_t(m_video.configLength), data,
                       uint32_t(length)) != 0)
            return -1;
        m_bKeySeen = true;
        return 0;
    }
    return WriteChunk(avi::kVideoChunk, key != 0, nullptr, 0, data, uint32_t(length));
}

int CWriteAviFile::WriteAudioFrame(const uint8_t* data, int length)
{
    // A video-only file declares no audio stream: audio chunks would be stray.
    if (!m_pFile || !m_bAudio || !data || length <= 0 || !HasRoomFor(uint32_t(length)))
        return -1;
    return WriteChunk(avi::kAudioChunk, true, nullptr, 0, data, uint32_t(length));
}

uint32_t CWriteAviFile::AudioSamples() const
{
    if (m_nAudioType == avi::kAudioAac)
        return uint32_t(std::min<uint64_t>(m_nAacSamples, UINT32_MAX));
    // mu-law: one byte a sample for each channel (the header's block size).
    const uint64_t bytes = m_nAudioBytes - 8 * uint64_t(m_nAudioFrames);
    const uint64_t channels = m_audio.channels > 0 ? uint64_t(m_audio.channels) : 1;
    return uint32_t(std::min<uint64_t>(bytes / channels, UINT32_MAX));
}

int CWriteAviFile::Stop()
{
    if (!m_bStarted)
        return 0;
    m_bStarted = false;
    m_nStopTick = GetTickCount();
    if (!m_pFile)
        return 1; // a write failed earlier; nothing more can be written

    const uint64_t data = m_nVideoBytes + m_nAudioBytes;
    uint64_t padded = data;
    bool ok = true;
    if (!m_index.empty()) {
        static const uint8_t kPad[3] = {0xFF, 0xFF, 0xFF};
        const size_t pad = (4 - data % 4) % 4;
        padded += pad;
        uint8_t head[8];
        avi::Put32(head, avi::kIndexCode);
        avi::Put32(head + 4, uint32_t(m_index.size() * avi::kIndexEntrySize));
        std::vector<uint8_t> entries(m_index.size() * avi::kIndexEntrySize);
        for (size_t i = 0; i < m_index.size(); ++i) {
            uint8_t* e = &entries[i * avi::kIndexEntrySize];
            avi::Put32(e, m_index[i].code);
            avi::Put32(e + 4, m_index[i].flags);
            avi::Put32(e + 8, m_index[i].offset);
            avi::Put32(e + 12, m_index[i].length);
        }
        ok = WriteAll(kPad, pad) && WriteAll(head, 8) && WriteAll(entries.data(), entries.size());
    }
    if (ok) {
        const long end = ftell(m_pFile);
        const uint32_t rate = avi::FinishedFrameRate(m_video.frameRate, m_nVideoFrames, m_nStopTick - m_nStartTick);
        avi::FinishHeader(m_header, uint32_t(end), m_nVideoFrames, rate, uint32_t(padded + 4), AudioSamples());
        ok = end > 0 && fseek(m_pFile, 0, SEEK_SET) == 0 && WriteAll(m_header.data(), m_header.size());
    }
    if (fclose(m_pFile) != 0)
        ok = false;
    m_pFile = nullptr;
    if (!ok)
        m_bFailed = true;
    return 1;
}
