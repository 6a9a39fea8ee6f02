// CReadAviFile: opens AVI record files by their fixed header layout, builds
// the per-second key table from idx1 (or from the chunks when idx1 is
// missing) and reads chunks sequentially.
#include "media/avi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using avi::Get16;
using avi::Get32;

// One NAL unit of an Annex-B buffer: its first byte and its length.
struct Nal {
    const uint8_t* data;
    size_t size;
    bool complete; // ends before the end of the buffer (or the buffer is the whole frame)
};

// Position just after the next start code (00 00 01) at or after from, or n.
size_t NextStart(const uint8_t* p, size_t n, size_t from)
{
    for (size_t i = from; i + 3 <= n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            return i + 3;
    return n;
}

// Calls f(nal) for each NAL unit in order until f returns false.
template <class F>
void ForEachNal(const uint8_t* p, size_t n, bool wholeFrame, F f)
{
    size_t start = NextStart(p, n, 0);
    while (start < n) {
        const size_t next = NextStart(p, n, start);
        size_t end = next < n ? next - 3 : n;
        const bool complete = next < n || wholeFrame;
        while (end > start && p[end - 1] == 0 && next < n)
            --end; // the leading zero of a 4-byte start code
        if (!f(Nal{p + start, end - start, complete}))
            return;
        start = next;
    }
}

// Unsigned Exp-Golomb code at bit position pos; false when it runs out.
bool ReadUe(const uint8_t* p, size_t n, size_t& pos, uint32_t& v)
{
    int zeros = 0;
    auto bit = [&](uint32_t& b) {
        if (pos >= n * 8)
            return false;
        b = (p[pos / 8] >> (7 - pos % 8)) & 1;
        ++pos;
        return true;
    };
    uint32_t b = 0;
    while (true) {
        if (!bit(b))
            return false;
        if (b)
            break;
        if (++zeros > 31)
            return false;
    }
    uint32_t rest = 0;
    for (int i = 0; i < zeros; ++i) {
        if (!bit(b))
            return false;
        rest = rest << 1 | b;
    }
    v = (uint32_t(1) << zeros) - 1 + rest;
    return true;
}

constexpr uint64_t kIndexBlockEntries = 4096;
constexpr size_t kConfigWindow = 4096;

} // namespace

bool CReadAviFile::IsH264KeyFrame(const uint8_t* data, int length)
{
    if (!data || length < 7)
        return false;
    bool key = false;
    ForEachNal(data, size_t(length), true, [&](const Nal& nal) {
        if (nal.size == 0)
            return true;
        const int type = nal.data[0] & 0x1F;
        if (type == 9 || type == 6)
            return true; // delimiter, SEI: look at the next unit
        if (type == 5 || type == 7 || type == 8) {
            key = true;
        } else if (type == 1) {
            // An I or SI slice coded as a non-IDR picture.
            size_t pos = 0;
            uint32_t firstMb = 0, sliceType = 0;
            if (ReadUe(nal.data + 1, nal.size - 1, pos, firstMb) &&
                ReadUe(nal.data + 1, nal.size - 1, pos, sliceType))
                key = sliceType % 5 == 2 || sliceType % 5 == 4;
        }
        return false;
    });
    return key;
}

bool CReadAviFile::IsH265KeyFrame(const uint8_t* data, int length)
{
    if (!data || length < 6)
        return false;
    bool key = false;
    ForEachNal(data, size_t(length), true, [&](const Nal& nal) {
        if (nal.size < 2)
            return true;
        const int type = (nal.data[0] >> 1) & 0x3F;
        if (type == 35 || type == 39 || type == 40)
            return true; // delimiter, SEI
        key = (type >= 16 && type <= 21) || (type >= 32 && type <= 34);
        return false;
    });
    return key;
}

bool CReadAviFile::IsMpeg4KeyFrame(const uint8_t* data, int length)
{
    if (!data)
        return false;
    if (length >= 5 && data[3] == 0xB6 && data[4] < 64)
        return true; // an intra-coded VOP
    return length >= 23 && data[3] == 0x01 && data[21] == 0xB6 && data[22] < 64; // after its header
}

CReadAviFile::CReadAviFile() = default;

CReadAviFile::~CReadAviFile()
{
    Close();
}

int CReadAviFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_strPath.clear();
    m_keyTable.clear();
    m_keyTable.shrink_to_fit();
    m_nMediaType = 0;
    m_video = {};
    m_audio = {};
    m_nFileSize = m_nMoviPos = m_nDataStart = m_nIndexPos = m_nDataEnd = m_nCursor = 0;
    m_nVideoChunks = m_nAudioChunks = 0;
    m_nSeconds = 0;
    m_bIndexRebuilt = false;
    m_nLastKey = m_nFirstVideo = 0;
    m_nFirstVideoLength = 0;
    m_nKeyIndex = 0;
    return 1;
}

bool CReadAviFile::ReadAt(uint64_t pos, void* buf, size_t n) const
{
    auto* p = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(m_fd, p + done, n - done, off_t(pos + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        done += size_t(r);
    }
    return true;
}

int CReadAviFile::Open(const char* path)
{
    Close();
    if (!path || !*path)
        return 0;
    m_strPath = path;
    m_fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (m_fd < 0 || fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        return 0;
    }
    m_nFileSize = uint64_t(st.st_size);

    uint8_t first[88];
    if (!ReadAt(0, first, sizeof(first))) {
        Close();
        return 0;
    }
    const uint32_t streams = Get32(first + avi::kStreamCountAt);
    if (streams != 1 && streams != 2) {
        Close();
        return 0;
    }
    m_nMediaType = streams == 2 ? kAudioVideo : kVideoOnly;
    std::vector<uint8_t> header(streams == 2 ? avi::kHeaderSizeAV : avi::kHeaderSizeV);
    if (!ReadAt(0, header.data(), header.size()) || !LoadHeader(header) || !ReadIndex() || !ReadConfig()) {
        Close();
        return 0;
    }
    m_nCursor = m_nDataStart;
    return 1;
}

bool CReadAviFile::LoadHeader(const std::vector<uint8_t>& h)
{
    const bool withAudio = m_nMediaType == kAudioVideo;
    m_nMoviPos = withAudio ? avi::kMoviCodeAtAV : avi::kMoviCodeAtV;
    // Only the fixed layout is read; anything else is not one of our files.
    if (Get32(&h[m_nMoviPos]) != avi::FourCC("movi") || Get32(&h[m_nMoviPos - 8]) != avi::FourCC("LIST"))
        return false;
    m_nDataStart = m_nMoviPos + 4;

    const uint32_t handler = Get32(&h[avi::kVideoHandlerAt]);
    const char* codec = "H264";
    m_codec = Codec::H264;
    if (handler == avi::FourCC("XVID")) {
        codec = "MP4V";
        m_codec = Codec::Mpeg4;
    } else if (handler == avi::FourCC("H265")) {
        codec = "H265";
        m_codec = Codec::H265;
    }
    memcpy(m_video.codec, codec, strlen(codec) + 1);
    m_video.width = int32_t(Get32(&h[avi::kWidthAt]));
    m_video.height = int32_t(Get32(&h[avi::kHeightAt]));
    m_video.bitRate = int32_t(Get32(&h[avi::kMaxBytesPerSecAt]) * 8u);
    const int32_t rate = int32_t(Get32(&h[avi::kVideoRateAt]));
    m_nFrameRate = rate > 0 ? uint32_t(rate) : 25;
    m_video.frameRate = int32_t(m_nFrameRate);

    if (withAudio) {
        if (Get32(&h[avi::kAudioHandlerAt]) == avi::kG711Handler) {
            memcpy(m_audio.codec, "G711", 5);
            m_audio.sampleRate = 8000;
            m_audio.bitsPerSample = 16;
            m_audio.channels = 1;
            m_audio.bitRate = 64000;
        } else {
            memcpy(m_audio.codec, "AAC", 4);
            m_audio.sampleRate = int32_t(Get32(&h[avi::kAudioSamplesPerSecAt]));
            m_audio.channels = Get16(&h[avi::kAudioChannelsAt]);
            m_audio.bitsPerSample = m_audio.channels * 8;
            m_audio.bitRate = int32_t(uint32_t(m_audio.channels) * uint32_t(m_audio.sampleRate));
        }
        m_audio.eight = 8;
    }
    const uint32_t moviSize = Get32(&h[withAudio ? avi::kMoviSizeAtAV : avi::kMoviSizeAtV]);
    m_nIndexPos = m_nMoviPos + moviSize;
    return true;
}

void CReadAviFile::AddEntry(uint32_t code, uint32_t flags, uint32_t offset, uint32_t length)
{
    const uint64_t pos = m_nMoviPos + offset;
    // Entries outside the chunk data are damage; leave them out.
    if (offset < 4 || pos + 8 + length > m_nIndexPos)
        return;
    if (code == avi::kAudioChunk) {
        ++m_nAudioChunks;
    } else if (code == avi::kVideoChunk) {
        if (m_nVideoChunks == 0) {
            m_nFirstVideo = pos;
            m_nFirstVideoLength = length;
        }
        if (flags & avi::kIndexFlagKey)
            m_nLastKey = pos;
        // table[s] is the last key frame at or before frame s x rate.
        if (m_keyTable.size() <= m_nKeyIndex)
            m_keyTable.push_back(m_nLastKey);
        else
            m_keyTable[m_nKeyIndex] = m_nLastKey;
        if (m_nVideoChunks % m_nFrameRate == 0)
            ++m_nKeyIndex;
        ++m_nVideoChunks;
    } else {
        return;
    }
    m_nDataEnd = pos;
}

bool CReadAviFile::ReadIndex()
{
    // Frames before the first key frame seek to the first chunk.
    m_nLastKey = m_nDataStart;
    uint8_t head[8];
    bool usable = m_nIndexPos >= m_nDataStart && m_nIndexPos + 8 <= m_nFileSize && ReadAt(m_nIndexPos, head, 8) &&
                  Get32(head) == avi::kIndexCode && Get32(head + 4) <= m_nFileSize - m_nIndexPos - 8;
    if (usable) {
        const uint64_t entries = Get32(head + 4) / avi::kIndexEntrySize;
        std::vector<uint8_t> block(std::min(entries, kIndexBlockEntries) * avi::kIndexEntrySize);
        for (uint64_t done = 0; done < entries && usable;) {
            const uint64_t n = std::min(entries - done, kIndexBlockEntries);
            if (!ReadAt(m_nIndexPos + 8 + done * avi::kIndexEntrySize, block.data(), n * avi::kIndexEntrySize)) {
                usable = false;
                break;
            }
            for (uint64_t i = 0; i < n; ++i) {
                const uint8_t* e = &block[i * avi::kIndexEntrySize];
                AddEntry(Get32(e), Get32(e + 4), Get32(e + 8), Get32(e + 12));
            }
            done += n;
        }
    }
    if (!usable) {
        // Unfinished or damaged: the chunks themselves are the index.
        m_nVideoChunks = m_nAudioChunks = 0;
        m_keyTable.clear();
        m_nKeyIndex = 0;
        m_nLastKey = m_nDataStart;
        m_nFirstVideo = 0;
        m_nDataEnd = 0;
        WalkChunks();
    }
    if (m_nVideoChunks == 0)
        return false;
    m_nSeconds = int(std::max<uint32_t>(1, m_nVideoChunks / m_nFrameRate));
    return true;
}

void CReadAviFile::WalkChunks()
{
    m_bIndexRebuilt = true;
    uint64_t pos = m_nDataStart;
    m_nIndexPos = m_nFileSize; // bounds AddEntry while walking
    uint8_t head[8];
    uint8_t start[32];
    while (pos + 8 <= m_nFileSize && ReadAt(pos, head, 8)) {
        const uint32_t code = Get32(head);
        const uint32_t length = Get32(head + 4);
        if ((code != avi::kVideoChunk && code != avi::kAudioChunk) || pos + 8 + length > m_nFileSize ||
            pos + 8 - m_nMoviPos + length > UINT32_MAX)
            break;
        uint32_t flags = avi::kIndexFlagKey;
        if (code == avi::kVideoChunk) {
            const size_t n = std::min<size_t>(length, sizeof(start));
            flags = ReadAt(pos + 8, start, n) && IsKey(start, int(n)) ? avi::kIndexFlagKey : 0;
        }
        AddEntry(code, flags, uint32_t(pos - m_nMoviPos), length);
        pos += 8 + uint64_t(length);
    }
    m_nIndexPos = pos;
}

bool CReadAviFile::ReadConfig()
{
    m_video.configLength = 0;
    if (m_nFirstVideo == 0)
        return false;
    if (m_codec == Codec::Mpeg4) {
        uint8_t b[29];
        if (m_nFirstVideoLength < sizeof(b) || !ReadAt(m_nFirstVideo + 8, b, sizeof(b)))
            return false;
        static const uint8_t kVol[4] = {0, 0, 1, 1};
        int n = 0;
        if (memcmp(b, kVol, 4) == 0)
            n = 18;
        else if (memcmp(b + 10, kVol, 4) == 0)
            n = 29;
        else
            return false;
        memcpy(m_video.config, b, size_t(n));
        m_video.configLength = n;
        return true;
    }
    // H.264 / H.265: the parameter sets in front of the first picture.
    const size_t n = std::min<size_t>(m_nFirstVideoLength, kConfigWindow);
    std::vector<uint8_t> b(n);
    if (!ReadAt(m_nFirstVideo + 8, b.data(), n))
        return true; // no configuration; the frames carry their own
    const bool whole = n == m_nFirstVideoLength;
    const bool hevc = m_codec == Codec::H265;
    size_t used = 0;
    ForEachNal(b.data(), n, whole, [&](const Nal& nal) {
        if (nal.size == 0)
            return true;
        const int type = hevc ? (nal.data[0] >> 1) & 0x3F : nal.data[0] & 0x1F;
        const bool delimiterOrSei = hevc ? (type == 35 || type == 39 || type == 40) : (type == 9 || type == 6);
        if (delimiterOrSei)
            return true;
        const bool paramSet = hevc ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
        if (!paramSet || !nal.complete || used + 4 + nal.size > sizeof(m_video.config))
            return false;
        // The configuration put in front of a frame that carries the same
        // sets: each set once.
        for (size_t at = 0; at < used;) {
            size_t next = at + 4;
            while (next + 4 <= used && !(m_video.config[next] == 0 && m_video.config[next + 1] == 0 &&
                                         m_video.config[next + 2] == 0 && m_video.config[next + 3] == 1))
                ++next;
            if (next + 4 > used)
                next = used;
            if (next - at - 4 == nal.size && memcmp(m_video.config + at + 4, nal.data, nal.size) == 0)
                return true;
            at = next;
        }
        static const uint8_t kStart[4] = {0, 0, 0, 1};
        memcpy(m_video.config + used, kStart, 4);
        memcpy(m_video.config + used + 4, nal.data, nal.size);
        used += 4 + nal.size;
        return true;
    });
    m_video.configLength = int32_t(used);
    return true;
}

bool CReadAviFile::IsKey(const uint8_t* data, int length) const
{
    switch (m_codec) {
    case Codec::Mpeg4: return IsMpeg4KeyFrame(data, length);
    case Codec::H265: return IsH265KeyFrame(data, length);
    default: return IsH264KeyFrame(data, length);
    }
}

int CReadAviFile::GetMediaParam(uint8_t* mediaType, VideoParam* video, AudioParam* audio) const
{
    if (m_fd < 0)
        return -1;
    if (mediaType)
        *mediaType = m_nMediaType;
    if (video) {
        *video = {};
        memcpy(video->codecName, m_video.codec, strnlen(m_video.codec, sizeof(m_video.codec) - 1));
        video->width = m_video.width;
        video->height = m_video.height;
        video->extra = 0;
        video->frameRate = m_video.frameRate;
        video->bitRate = m_video.bitRate;
        video->configLength = int16_t(m_video.configLength);
        if (m_video.configLength >= 1 && m_video.configLength <= 256)
            memcpy(video->config, m_video.config, sizeof(video->config));
    }
    if (audio) {
        *audio = {};
        memcpy(audio->codecName, m_audio.codec, strnlen(m_audio.codec, sizeof(m_audio.codec) - 1));
        audio->sampleRate = m_audio.sampleRate;
        audio->bitsPerSample = m_audio.bitsPerSample;
        audio->channels = m_audio.channels;
        audio->extra1 = m_audio.eight;
        audio->extra2 = m_audio.bitRate;
    }
    return 0;
}

void CReadAviFile::GetVideoInfo(AviVideoDesc* out) const
{
    if (out)
        *out = m_video;
}

void CReadAviFile::GetAudioInfo(AviAudioDesc* out) const
{
    if (out)
        *out = m_audio;
}

int CReadAviFile::SeekToTime(int second)
{
    if (m_fd < 0 || second < 0 || second >= m_nSeconds)
        return -1;
    if (size_t(second) >= m_keyTable.size())
        return -2;
    m_nCursor = m_keyTable[size_t(second)];
    return 0;
}

int CReadAviFile::ReadOneFrame(uint8_t* buffer, int capacity, int* isVideo, int* isKey)
{
    if (m_fd < 0)
        return -1;
    if (m_nCursor + 8 > m_nIndexPos)
        return -2;
    uint8_t head[8];
    if (!ReadAt(m_nCursor, head, 8)) {
        m_nCursor = m_nIndexPos;
        return 0;
    }
    const uint32_t code = Get32(head);
    const uint32_t length = Get32(head + 4);
    m_nCursor += 8;
    if (!buffer)
        capacity = 0;
    if (length > uint32_t(kMaxFrameSize) || int64_t(length) > capacity) {
        // Skip a chunk that lies within the data; a damaged length only
        // consumes its head.
        if (m_nCursor + length <= m_nIndexPos)
            m_nCursor += length;
        return -3;
    }
    if (m_nCursor + length > m_nIndexPos || !ReadAt(m_nCursor, buffer, length)) {
        m_nCursor = m_nIndexPos;
        return 0;
    }
    m_nCursor += length;
    int video = 0, key = 0;
    if (code == avi::kVideoChunk) {
        video = 1;
        key = IsKey(buffer, int(length)) ? 1 : 0;
    } else if (code == avi::kAudioChunk) {
        key = 1;
    } else {
        return 0;
    }
    if (isVideo)
        *isVideo = video;
    if (isKey)
        *isKey = key;
    return int(length);
}

int CReadAviFile::MoveNextKeyFrame()
{
    if (m_fd < 0)
        return -1;
    if (m_nCursor >= m_nIndexPos)
        return -2;
    if (m_keyTable.empty())
        return -3;
    for (uint64_t pos : m_keyTable) {
        if (pos > m_nCursor) {
            m_nCursor = pos;
            return 0;
        }
    }
    return -4;
}

int CReadAviFile::GetCurTime() const
{
    if (m_fd < 0)
        return -1;
    for (size_t i = 0; i < m_keyTable.size(); ++i) {
        if (m_keyTable[i] >= m_nCursor) {
            while (i > 0 && m_keyTable[i - 1] == m_keyTable[i])
                --i;
            return int(i);
        }
    }
    return -1;
}

double CReadAviFile::GetPlayPos() const
{
    if (m_fd < 0 || m_nDataEnd <= m_nDataStart)
        return 0.0;
    const double pos = (double(m_nCursor) + 1 - double(m_nDataStart)) / double(m_nDataEnd - m_nDataStart);
    return pos > 0 ? pos : 0.0;
}
