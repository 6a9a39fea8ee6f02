// CMP4Writer: writes the system's MP4 record files (H.264/H.265 video at
// 90 kHz, optional AAC or G.711 mu-law audio) from Annex-B and raw audio
// frames, reads them back frame by frame, and finishes files that a crash
// left behind. Exported from the shared library libqelm2_mp4writer.
#pragma once

#include "mp4/mp4.h"

#include <cstdint>
#include <memory>
#include <vector>

#define QELM2_MP4WRITER_API __attribute__((visibility("default")))

class CMP4WriterLock;

class QELM2_MP4WRITER_API CMP4Writer {
public:
    CMP4Writer();
    ~CMP4Writer();
    // A copy would share the open file and the lock.
    CMP4Writer(const CMP4Writer&) = delete;
    CMP4Writer& operator=(const CMP4Writer&) = delete;

    // --- writing ---
    // video: VideoParam* or null; audio: AudioParam* or null. 0 opened; -1 no
    // name or neither record; -2 name too long; -3 file not created; -4 video
    // track failed; -5 audio track failed; -10 neither track could be made
    // (the file is removed in every failure).
    int OpenWrite(const char* name, void* video, void* audio);
    // An Annex-B access unit (isVideo 1) or one audio frame, stamped in ms.
    // 0 (also for a dropped frame); -1 when the work buffer cannot grow.
    int WriteOneFrame(int isVideo, const void* data, int length, int64_t timeStamp, int isKey);
    // The same for video whose pictures come ahead of their showing (B-frames):
    // timeStamp is the presentation time, renderOffsetUs presentation - decode
    // time. Decode times then make the durations, the offset the sample's
    // composition offset; 0 writes what the call above writes.
    int WriteOneFrame(int isVideo, const void* data, int length, int64_t timeStamp, int isKey,
                      int32_t renderOffsetUs);
    // Finishes the file and drops ".tmp" from its name. Always 0.
    int CloseFile();
    // 1 when the name has at least 5 characters and ends with ".tmp" (any case).
    int HaveTempExtname(const char* name);
    // Feeds an H.265 frame to the VPS/SPS/PPS collection: 1 when it is complete
    // and positions (NalPositions*) were filled; 0 otherwise, always for H.264.
    int CheckH264SpsPpsInConfig(int isH265, char* frame, int length, void* positions, int count);
    int GetWritedVideoFrameCount();

    // --- reading ---
    // video: VideoParam* out, audio: AudioParam* out. 0 opened; -1 a null
    // argument; -2 unreadable; -3 neither a video nor an audio track.
    int OpenRead(const char* name, void* video, void* audio);
    // The next sample in time order (video first at equal times), video as
    // Annex-B. length: in, the buffer size; out, the sample size. Returns the
    // sample size; with a null buffer only the size, without moving; -2 when
    // the sample cannot be read (end of file, buffer too small); -1 not open.
    int ReadOneFrame(int& isVideo, void* buffer, int& length, int64_t& timeStamp, int64_t& duration,
                     int& isKey);
    // Video to the first key frame at or after the second, audio to the second.
    int SeekToFile(int second);
    int MovePrevKeyFrame();
    int MoveNextKeyFrame();
    int GetAllTime();
    int GetNowTime();
    int GetTimeScale();
    // Length in whole seconds; -1 null name, -2 unreadable, -3 neither track.
    // The file stays open for reading.
    int GetRecordTimeFromFile(const char* name);

    // --- recovery of files a crash interrupted ---
    // Finishes one ".tmp" record file and renames it without ".tmp": a whole
    // file just gets its name, any other is rebuilt from the journal written
    // beside it, which goes last. A file with no usable sample is removed
    // with its journal. Returns the samples kept, or -1 (not whole and no
    // journal, file still being written, failure; the file is left as it is).
    static int RecoverTempFile(const char* name);
    // Recovers every interrupted record file below the folder (journals
    // "*.tmp.idx", whole "*.tmp" files). Returns the number of files finished.
    static int RecoverTempFiles(const char* folder);

private:
    struct ParamSet {
        std::vector<uint8_t> bytes; // without start code
        int source = 0;             // 0 none, 1 from VideoParam, 2 from the stream
    };

    int IsAAC(char* codecName);
    void CloseLocked();
    void AbortOpen();
    int SetupReadTracks();
    bool EnsureBuffer(size_t size);
    void SeedParameterSets(const uint8_t* config, int length);
    bool ParameterSetsComplete() const;
    void WriteParameterSets();
    int WriteVideo(const uint8_t* data, int length, int64_t timeStamp, int isKey, int32_t renderOffsetUs);
    int WriteAudio(const uint8_t* data, int length, int64_t timeStamp);
    uint64_t NextVideoDuration(int64_t timeStamp);
    int64_t ToMs(uint64_t ticks, uint32_t timeScale) const;
    void SeekAudioToVideoTime(MP4Timestamp videoTime);

    MP4FileHandle m_file = nullptr;
    MP4TrackId m_videoTrack = 0;
    MP4TrackId m_audioTrack = 0;
    int64_t m_lastVideoTs = 0;
    int64_t m_lastAudioTs = 0;
    bool m_haveLastVideoTs = false;
    bool m_haveLastAudioTs = false;
    uint32_t m_audioTime = 0;
    uint32_t m_videoTime = 0;
    int32_t m_threshold = 500;
    int32_t m_defaultVideoDuration = 0;
    int32_t m_audioTimeScale = 0;
    int32_t m_videoTimeScale = 0;
    int32_t m_videoUnitsPerMs = 1;
    int32_t m_audioUnitsPerMs = 1;
    int32_t m_videoSamples = 0;
    int32_t m_audioSamples = 0;
    int32_t m_paramSetsWritten = 0;
    int32_t m_h265 = 0;
    int32_t m_reading = 0;
    int32_t m_videoReadPos = 0;
    int32_t m_audioReadPos = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    int32_t m_bufferSize = 0;
    std::unique_ptr<CMP4WriterLock> m_lock;
    int32_t m_g711 = 0;
    char m_fileName[1024];
    uint8_t m_collection[2048];
    int32_t m_collectionLength = 0;

    int64_t m_audioClockMs = 0;         // reading: durations of the audio samples returned
    ParamSet m_vps, m_sps, m_pps;       // writing: the stream's parameter sets
    std::vector<uint8_t> m_pending;     // units of frames without a picture, length-prefixed
    int m_pendingSets = 0;              // parameter sets among them: 1 VPS, 2 SPS, 4 PPS
};
