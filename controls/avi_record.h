// Stand-in of the closed AVI record control ("AviRecord"): takes a stream's
// parameters and frames and writes AVI record files with CWriteAviFile,
// with a pre-record buffer, files of a set length and a time limit.
#pragma once

#include "controls/media_params.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CWriteAviFile;

// The control's events (dispatch ids 1 to 3). They arrive on the UI thread.
class IAviRecordEvents {
public:
    virtual ~IAviRecordEvents() = default;
    // 1: a record file of the recording was created (at its first frame, and
    // for each further file).
    virtual void RecordFileOpened(int32_t fileId, int32_t streamId) = 0;
    // 2: a record file was finished and has its final name. Reason: one of
    // AviRecordControl::CloseReason.
    virtual void RecordFileClosed(int32_t fileId, int32_t reason) = 0;
    // 3: a record file could not be created (-1) or written (-2); the
    // recording goes on and tries a new file at the next key frame.
    virtual void RecordError(int32_t fileId, int32_t error) = 0;
};

class AviRecordControl {
public:
    enum CloseReason : int32_t {
        kNextFile = 0,      // the seconds per file passed
        kStopped = 1,       // StopRecordFile
        kTimeLimit = 2,     // the recording's time limit passed; it has ended
        kReleased = 3,      // the control was released
        kWriteFailed = -2,  // a write failed; the next key frame starts a new file
    };
    enum Error : int32_t { kCreateFailed = -1, kWriteError = -2 };

    AviRecordControl();
    ~AviRecordControl();
    AviRecordControl(const AviRecordControl&) = delete;
    AviRecordControl& operator=(const AviRecordControl&) = delete;

    // Dispatch methods. Every result is 0, or -1 for a call the control
    // cannot take (unknown stream or file, bad record length, no folder);
    // BeginRecordFile returns a file id > 0.
    int32_t BeginStream(int32_t streamId);
    int32_t EndStream(int32_t streamId);
    int32_t SetVideoParam(int32_t streamId, const uint8_t* param, int32_t length);
    int32_t SetAudioParam(int32_t streamId, const uint8_t* param, int32_t length);
    int32_t WriteVideo(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                       int32_t headerLength);
    int32_t WriteAudio(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                       int32_t headerLength);
    int32_t SetPreRecord(int32_t streamId, const char* text, int32_t seconds, int32_t reserved1, int32_t reserved2);
    int32_t StopRecordFile(int32_t fileId);
    int32_t BeginRecordFile(int32_t streamId, const char* folder, int32_t preRecordSeconds, int32_t timeLimit,
                            int32_t secondsPerFile, int32_t streamKind);

    // Connects the event sink (one at a time); Unadvise before deleting it.
    // UI thread.
    void Advise(IAviRecordEvents* sink);
    void Unadvise();

    // The file a recording writes now ("" when none is open; it ends in
    // ".tmp" until finished).
    std::string CurrentFile(int32_t fileId) const;

    // Most bytes one stream's pre-record buffer holds.
    static constexpr size_t kMaxPreRecordBytes = 64u << 20;

private:
    struct Frame {
        std::vector<uint8_t> data;
        bool video = false;
        bool key = false;
        int64_t tick = 0;     // steady ms at arrival
        std::time_t wall = 0; // wall clock at arrival
    };
    struct Stream {
        VideoParam video{};
        AudioParam audio{};
        bool hasAudio = false;
        bool ended = false;   // EndStream came while recordings still use it
        int32_t preRecordSeconds = 0;
        std::deque<Frame> buffer;
        size_t bufferBytes = 0;
    };
    struct Recording {
        int32_t fileId = 0;
        int32_t streamId = 0;
        std::string folder;
        int32_t timeLimit = 0;
        int32_t secondsPerFile = 0;
        int32_t kind = 0;
        int64_t startTick = 0;
        std::unique_ptr<CWriteAviFile> writer;
        std::string tmpPath;
        std::string finalPath;
        int64_t fileStartTick = 0;
        int64_t lastFailTick = 0;
        bool failedOnce = false;
        bool audio = false;
    };
    struct SinkSlot;

    int32_t WriteFrame(const char* name, bool video, int32_t streamId, const uint8_t* frame, int32_t length,
                       const uint8_t* header, int32_t headerLength);
    void Buffer(Stream& s, const Frame& f);
    // Hands a frame to a recording; false when the recording has ended.
    bool Feed(Recording& r, Stream& s, bool video, bool key, const uint8_t* data, uint32_t length, int64_t tick,
              std::time_t wall);
    bool OpenFile(Recording& r, Stream& s, std::time_t wall, int64_t tick);
    void CloseFile(Recording& r, int32_t reason);
    void Post(int kind, int32_t a, int32_t b);
    void DropStreamIfUnused(int32_t streamId);

    mutable std::mutex m_mutex;
    std::map<int32_t, Stream> m_streams;
    std::map<int32_t, Recording> m_recordings;
    int32_t m_nNextFileId = 1;
    std::shared_ptr<SinkSlot> m_slot;
};
