// Stand-in of the closed stream pull control ("ZeraRaroVozero"): opens RTSP
// streams with libavformat, reports status and media parameters to its event
// sinks on the UI thread and queues frames for ReadVideoFrame/ReadAudioFrame.
#pragma once

#include "controls/media_params.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The control's events (dispatch ids 1 to 4), delivered on the UI thread.
class IStreamPullEvents {
public:
    virtual ~IStreamPullEvents() = default;
    // 1: status of a stream (5 connected, 6 failed or lost).
    virtual void OnStreamStatus(int32_t streamId, int32_t status, const char* text, const void* data) = 0;
    // 2: media parameters (media type 17 with a StreamMediaParam).
    virtual void MediaRecv(int32_t streamId, int32_t mediaType, const StreamMediaParam* param, int32_t unused) = 0;
    // 3 and 4: pushed frames. This control hands frames to its readers
    // instead, so it never raises them.
    virtual void OnVideoData(int32_t, const uint8_t*, int32_t, const MediaFrameHeader*, int32_t) {}
    virtual void OnAudioData(int32_t, const uint8_t*, int32_t, const MediaFrameHeader*, int32_t) {}
};

// What a stream source run on the stream's own thread may do. A URL-scheme
// handler (a device simulator for "dovra://" or "p2p://") gets one.
class StreamPullFeed {
public:
    virtual ~StreamPullFeed() = default;
    virtual int32_t StreamId() const = 0;
    virtual bool Stopped() const = 0;
    // Waits up to ms; false when the stream was stopped meanwhile.
    virtual bool Wait(int ms) = 0;
    virtual void Status(int32_t status, const std::string& text) = 0;
    // Raised again only when the block differs from the last one.
    virtual void Params(const StreamMediaParam& param) = 0;
    virtual void PushVideo(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) = 0;
    virtual void PushAudio(const uint8_t* data, size_t len, const MediaFrameHeader& hdr) = 0;
};

// Runs one stream of its scheme until feed.Stopped(); url, user, password as
// given to AddStream.
using StreamSchemeHandler =
    std::function<void(StreamPullFeed& feed, const std::string& url, const std::string& user,
                       const std::string& password)>;

class StreamPullControl {
public:
    enum : int32_t { kStatusConnected = 5, kStatusFailed = 6, kMediaTypeParams = 17 };
    // What a stream's queues hold while nobody reads them (the oldest frames
    // go first). The bytes bound a bad peer: 9 MB per stream keeps a 64-pane
    // client under 600 MB of queued frames, and the video budget still holds
    // two of the largest units the pull hands on, or about 4 s of 4K at 16 Mbit/s.
    enum : size_t { kMaxVideoFrames = 150, kMaxAudioFrames = 400 };
    enum : size_t { kMaxVideoBytes = 8u << 20, kMaxAudioBytes = 1u << 20 };
    // Media sections taken from a session description. Only the first video
    // and the first audio are used, and each section taken costs a decoder
    // context (about 1 MB) while the stream is probed: a description of
    // thousands of sections must not make thousands of them.
    enum : int { kMaxMediaStreams = 8 };

    StreamPullControl();
    ~StreamPullControl();
    StreamPullControl(const StreamPullControl&) = delete;
    StreamPullControl& operator=(const StreamPullControl&) = delete;

    // Connection point: every advised sink receives every stream's events.
    // Unadvise on the UI thread; no event reaches a sink after it.
    int32_t Advise(IStreamPullEvents* sink);
    void Unadvise(int32_t cookie);

    // Dispatch methods.
    int32_t DelStream(int32_t streamId);
    int32_t AddStream(const std::string& url, const std::string& user, const std::string& password,
                      int32_t rtpOverRtsp);
    int32_t AddStreamEx(const std::string& host, uint16_t port, const std::string& streamName,
                        const std::string& user, const std::string& password, int32_t rtpOverRtsp);
    int32_t StopAll();
    int32_t RegisterReader(int32_t streamId, int32_t readerId);
    int32_t UnregisterReader(int32_t streamId, int32_t readerId);
    // 0 with *length = frame bytes and *headerLength = 16 when a frame was
    // read; -1 nothing queued or unknown stream, -2 bad arguments, -3 the
    // frame did not fit the buffer (it is dropped).
    int32_t ReadVideoFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length,
                           uint8_t* header, int32_t* headerLength);
    int32_t ReadAudioFrame(int32_t streamId, int32_t readerId, uint8_t* buffer, int32_t* length,
                           uint8_t* header, int32_t* headerLength);
    int32_t SendPtzCommand(int32_t streamId, const std::string& xml);
    int32_t Speak(int32_t streamId, int32_t on);

    // The stand-ins of devices without a public peer register here; none by
    // default, and such URLs then fail with status 6.
    static void RegisterSchemeHandler(const std::string& scheme, StreamSchemeHandler handler);
    static void UnregisterSchemeHandler(const std::string& scheme);

    struct Stream;
    struct Shared;

private:
    int32_t ReadFrame(bool video, int32_t streamId, uint8_t* buffer, int32_t* length, uint8_t* header,
                      int32_t* headerLength);
    int32_t StartStream(const std::string& url, const std::string& user, const std::string& password,
                        int32_t rtpOverRtsp);
    void ReapRetired(bool all);

    std::shared_ptr<Shared> m_shared;
    std::mutex m_lock;
    std::map<int32_t, std::shared_ptr<Stream>> m_streams;
    std::vector<std::shared_ptr<Stream>> m_retired;   // stopped, thread not joined yet
};
