// CReadAviFile: reads AVI record files (recordings of the AVI record control
// and clips) chunk by chunk, with a per-second key-frame table for seeking.
#pragma once

#include "controls/avi_file.h"
#include "controls/media_params.h"

#include <cstdint>
#include <string>
#include <vector>

class CReadAviFile {
public:
    // Media types.
    enum : uint8_t { kAudioVideo = 17, kVideoOnly = 16 };
    // The largest chunk ReadOneFrame hands out; callers' buffers hold this much.
    static constexpr int kMaxFrameSize = 512000;

    CReadAviFile();
    ~CReadAviFile();
    CReadAviFile(const CReadAviFile&) = delete;
    CReadAviFile& operator=(const CReadAviFile&) = delete;

    // 1 opened, 0 refused. An open reader is closed first. A file without a
    // usable idx1 (its writer never finished it) is read by walking its chunks.
    int Open(const char* path);
    // Releases the file and the tables; 1.
    int Close();

    // Media type 17 or 16 and the descriptions as media parameter records;
    // 0, or -1 when no file is open.
    int GetMediaParam(uint8_t* mediaType, VideoParam* video, AudioParam* audio) const;
    void GetVideoInfo(AviVideoDesc* out) const;
    void GetAudioInfo(AviAudioDesc* out) const;
    uint8_t GetMediaType() const { return m_nMediaType; }

    // The duration in whole seconds: video chunks / frame rate, at least 1.
    int GetAllTime() const { return m_nSeconds; }
    // 0 moved to the key frame of that second; -1 no file or second out of
    // range; -2 no key table.
    int SeekToTime(int second);
    // Reads the chunk at the cursor into buffer (capacity bytes): its length;
    // 0 a short read or a chunk of another kind; -1 no file; -2 the end of
    // the data; -3 a chunk longer than kMaxFrameSize or the capacity (skipped).
    int ReadOneFrame(uint8_t* buffer, int capacity, int* isVideo, int* isKey);
    // 0 moved to the next key-table position beyond the cursor; -1 no file;
    // -2 at the end; -3 no key table; -4 none left.
    int MoveNextKeyFrame();
    // The second of the cursor, or -1 beyond every key-table entry.
    int GetCurTime() const;
    // Where the cursor is in the data, 0..1.
    double GetPlayPos() const;

    // Key-frame rules on a frame's bytes (Annex-B).
    static bool IsH264KeyFrame(const uint8_t* data, int length);
    static bool IsH265KeyFrame(const uint8_t* data, int length);
    static bool IsMpeg4KeyFrame(const uint8_t* data, int length);

    // True when the file had no usable index and its chunks were walked.
    bool IndexRebuilt() const { return m_bIndexRebuilt; }
    int GetVideoChunks() const { return int(m_nVideoChunks); }
    int GetAudioChunks() const { return int(m_nAudioChunks); }

private:
    enum class Codec { Mpeg4, H264, H265 };

    bool ReadAt(uint64_t pos, void* buf, size_t n) const;
    bool LoadHeader(const std::vector<uint8_t>& h);
    bool ReadIndex();
    void WalkChunks();
    void AddEntry(uint32_t code, uint32_t flags, uint32_t offset, uint32_t length);
    bool ReadConfig();
    bool IsKey(const uint8_t* data, int length) const;

    int m_fd = -1;
    std::string m_strPath;
    uint8_t m_nMediaType = 0;
    Codec m_codec = Codec::H264;
    AviVideoDesc m_video{};
    AviAudioDesc m_audio{};
    uint32_t m_nFrameRate = 25;
    uint64_t m_nFileSize = 0;
    uint64_t m_nMoviPos = 0;      // the "movi" code
    uint64_t m_nDataStart = 0;    // the first chunk
    uint64_t m_nIndexPos = 0;     // end of the chunks
    uint64_t m_nDataEnd = 0;      // the last indexed chunk
    uint64_t m_nCursor = 0;
    uint32_t m_nVideoChunks = 0;
    uint32_t m_nAudioChunks = 0;
    int m_nSeconds = 0;
    bool m_bIndexRebuilt = false;

    // Index walk state.
    uint64_t m_nLastKey = 0;
    uint64_t m_nFirstVideo = 0;   // position of the first video chunk, 0 none
    uint32_t m_nFirstVideoLength = 0;
    size_t m_nKeyIndex = 0;
    std::vector<uint64_t> m_keyTable; // one position per second
};
