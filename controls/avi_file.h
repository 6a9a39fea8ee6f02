// AVI record files: the fixed header layout that recordings and clips share,
// the media descriptions that travel with them, and CWriteAviFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Video description of an AVI record file (what the writer is given and the
// reader fills).
struct AviVideoDesc {
    int32_t reserved;        // 0
    char codec[32];          // "MPEG4", "MP4V", "H264", "H.264", "H265", "H.265"
    int32_t width;
    int32_t height;
    int32_t frameRate;
    int32_t reserved2;       // 0
    int32_t bitRate;         // bits per second
    uint8_t config[256];     // parameter sets (Annex-B) or the MPEG-4 header
    int32_t configLength;
};
static_assert(sizeof(AviVideoDesc) == 316);
static_assert(offsetof(AviVideoDesc, codec) == 4);
static_assert(offsetof(AviVideoDesc, width) == 36);
static_assert(offsetof(AviVideoDesc, frameRate) == 44);
static_assert(offsetof(AviVideoDesc, bitRate) == 52);
static_assert(offsetof(AviVideoDesc, config) == 56);
static_assert(offsetof(AviVideoDesc, configLength) == 312);

// Audio description of an AVI record file.
struct AviAudioDesc {
    int32_t reserved;        // 0
    char codec[32];          // "G711", "AAC", "MPEG4-GENERIC", "AACG4-GENERIC", "MP4A"
    int32_t sampleRate;
    int32_t bitsPerSample;
    int32_t channels;
    int32_t bitRate;         // the reader: 64000 for G.711, channels x rate for AAC
    int32_t eight;           // the reader: 8
};
static_assert(sizeof(AviAudioDesc) == 56);
static_assert(offsetof(AviAudioDesc, sampleRate) == 36);
static_assert(offsetof(AviAudioDesc, channels) == 44);
static_assert(offsetof(AviAudioDesc, eight) == 52);

namespace avi {

constexpr uint32_t FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// The two header forms.
constexpr uint32_t kHeaderSizeAV = 9896;     // audio and video, two streams
constexpr uint32_t kHeaderSizeV = 5672;      // video only, one stream
constexpr uint32_t kMoviSizeAtAV = 9888;     // size field of the movi list
constexpr uint32_t kMoviSizeAtV = 5664;
constexpr uint32_t kMoviCodeAtAV = 9892;     // the "movi" code; chunks follow it
constexpr uint32_t kMoviCodeAtV = 5668;

// Fixed offsets that readers rely on.
constexpr uint32_t kRiffSizeAt = 4;
constexpr uint32_t kUsPerFrameAt = 32;
constexpr uint32_t kMaxBytesPerSecAt = 36;
constexpr uint32_t kTotalFramesAt = 48;
constexpr uint32_t kStreamCountAt = 56;
constexpr uint32_t kWidthAt = 64;
constexpr uint32_t kHeightAt = 68;
constexpr uint32_t kVideoHandlerAt = 112;
constexpr uint32_t kVideoRateAt = 132;
constexpr uint32_t kVideoLengthAt = 140;
constexpr uint32_t kAudioHandlerAt = 4360;
constexpr uint32_t kAudioRateAt = 4380;
constexpr uint32_t kAudioFormatAt = 4420;
constexpr uint32_t kAudioChannelsAt = 4422;
constexpr uint32_t kAudioSamplesPerSecAt = 4424;
constexpr uint32_t kAudioBytesPerSecAt = 4428;
constexpr uint32_t kAudioBlockAlignAt = 4432;
constexpr uint32_t kAudioBitsAt = 4434;
constexpr uint32_t kAudioLengthAt = 4388;

constexpr uint32_t kVideoChunk = FourCC("00dc");
constexpr uint32_t kAudioChunk = FourCC("01wb");
constexpr uint32_t kIndexCode = FourCC("idx1");
constexpr uint32_t kIndexFlagKey = 16;
constexpr uint32_t kIndexEntrySize = 16;
constexpr uint32_t kG711Handler = 1;

// Template values until the file is finished.
constexpr uint32_t kTemplateVideoLength = 1801;
constexpr uint32_t kTemplateAudioLength = 480256;

// Video types the writer knows, from the codec text.
enum VideoType : int { kVideoMpeg4 = 0, kVideoH264 = 1, kVideoH265 = 2 };
enum AudioType : int { kAudioG711 = 0, kAudioAac = 1 };
int VideoTypeOf(const char* codec);
int AudioTypeOf(const char* codec);

// The header of either form, filled from the descriptions (missing video
// values take the defaults 704 x 576, 2,097,152 b/s, 25 fps).
std::vector<uint8_t> BuildHeader(bool withAudio, int videoType, int audioType, const AviVideoDesc& video,
                                 const AviAudioDesc& audio);

// The values written into the header when the file is finished; the audio
// length (samples) only goes into the audio-and-video form.
void FinishHeader(std::vector<uint8_t>& header, uint32_t fileSize, uint32_t videoFrames, uint32_t frameRate,
                  uint32_t moviListSize, uint32_t audioSamples);

// Samples of one AAC chunk: 1,024 a frame, times the raw blocks an ADTS
// header announces (also after 4 leading bytes).
uint32_t AacSamplesOf(const uint8_t* data, uint32_t length);

// The frame rate written when a file is finished: the smaller of the
// described rate and the frames per elapsed second (the described rate when
// less than a second passed; 25 when that gives 0).
uint32_t FinishedFrameRate(int32_t describedRate, uint32_t videoFrames, uint32_t elapsedMs);

inline void Put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// RIFF sizes are 32-bit: a file never grows beyond this.
constexpr uint64_t kMaxFileSize = 0xFFFFFF00u;

} // namespace avi

// Writes one AVI record file: the header of the chosen form, the frames as
// "00dc"/"01wb" chunks, then padding, the idx1 index and the final header.
// One thread at a time.
class CWriteAviFile {
public:
    explicit CWriteAviFile(const char* name = "");
    ~CWriteAviFile();
    CWriteAviFile(const CWriteAviFile&) = delete;
    CWriteAviFile& operator=(const CWriteAviFile&) = delete;

    // Keeps the path and deletes a file of that name; ignored for a null or
    // empty path or one longer than 256 characters.
    void SetFileName(uint32_t tick, const char* path);
    // Copies the descriptions; the audio one only when audio is enabled.
    void SetMediaParam(int audioEnabled, int seconds, const AviAudioDesc* audio, const AviVideoDesc* video);
    // 1 started (also when started already), -1 no path, -101 no header,
    // -102 no index, -103 the file cannot be created or written.
    int Start();
    // 0 written; -1 no open file, before the first key frame, bad arguments,
    // no room left in the file, or a failed write.
    int WriteVideoFrame(int key, const uint8_t* data, int length);
    // 0 written; -1 as above, or audio not enabled.
    int WriteAudioFrame(const uint8_t* data, int length);
    // Pads, writes the index and the final header, closes: 1 when started
    // (also after a failed write), 0 when not started.
    int Stop();

    // A write failed on the way (the file was closed then).
    bool Failed() const { return m_bFailed; }
    bool IsStarted() const { return m_bStarted; }
    // Whether a chunk of this many bytes still fits a 32-bit RIFF file.
    bool HasRoomFor(uint32_t length) const;
    uint32_t VideoFrames() const { return m_nVideoFrames; }
    uint32_t AudioFrames() const { return m_nAudioFrames; }
    const std::string& FileName() const { return m_strPath; }
    int VideoType() const { return m_nVideoType; }
    const std::string& Name() const { return m_strName; }

private:
    struct IndexEntry {
        uint32_t code;
        uint32_t flags;
        uint32_t offset;
        uint32_t length;
    };
    static_assert(sizeof(IndexEntry) == 16);

    int WriteChunk(uint32_t code, bool key, const uint8_t* prefix, uint32_t prefixLength, const uint8_t* data,
                   uint32_t length);
    bool WriteAll(const void* data, size_t length);
    void Fail();
    // The audio stream's length in samples, for the finished header.
    uint32_t AudioSamples() const;

    std::string m_strName;
    std::string m_strPath;
    std::FILE* m_pFile = nullptr;
    std::vector<uint8_t> m_header;
    bool m_bAudio = false;
    int m_nVideoType = avi::kVideoMpeg4;
    int m_nAudioType = avi::kAudioG711;
    AviVideoDesc m_video{};
    AviAudioDesc m_audio{};
    bool m_bStarted = false;
    bool m_bKeySeen = false;
    bool m_bFailed = false;
    uint32_t m_nVideoFrames = 0;
    uint32_t m_nAudioFrames = 0;
    uint64_t m_nVideoBytes = 0;   // each chunk with its 8-byte head
    uint64_t m_nAudioBytes = 0;
    uint64_t m_nAacSamples = 0;   // AAC only: G.711 counts by bytes
    std::vector<IndexEntry> m_index;
    uint32_t m_nStartTick = 0;
    uint32_t m_nStopTick = 0;
};
