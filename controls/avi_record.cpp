// Stand-in of the AVI record control: per-stream parameters, a pre-record
// buffer, and recordings written as AVI record files with rotation.
#include "controls/avi_record.h"

#include "controls/avi_file.h"
#include "controls/journal.h"
#include "platform/clock.h"
#include "platform/logsink.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

struct AviRecordControl::SinkSlot {
    std::recursive_mutex mutex;
    IAviRecordEvents* sink = nullptr;

    void Deliver(int kind, int32_t a, int32_t b)
    {
        static const char* const kNames[] = {"", "CAviRecordEvents::RecordFileOpened",
                                             "CAviRecordEvents::RecordFileClosed", "CAviRecordEvents::RecordError"};
        qelm::Journal::Event(kNames[kind], {a, b});
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (!sink)
            return;
        switch (kind) {
        case 1: sink->RecordFileOpened(a, b); break;
        case 2: sink->RecordFileClosed(a, b); break;
        case 3: sink->RecordError(a, b); break;
        default: break;
        }
    }
};

namespace {

constexpr int64_t kRetryMs = 1000; // between attempts to create a file after a failure

AviVideoDesc VideoDescOf(const VideoParam& v)
{
    AviVideoDesc d{};
    memcpy(d.codec, v.codecName, strnlen(v.codecName, sizeof(d.codec) - 1));
    d.width = v.width;
    d.height = v.height;
    d.frameRate = v.frameRate;
    d.bitRate = v.bitRate;
    const int n = std::clamp<int>(v.configLength, 0, int(sizeof(d.config)));
    memcpy(d.config, v.config, size_t(n));
    d.configLength = n;
    return d;
}

AviAudioDesc AudioDescOf(const AudioParam& a)
{
    AviAudioDesc d{};
    memcpy(d.codec, a.codecName, strnlen(a.codecName, sizeof(d.codec) - 1));
    d.sampleRate = a.sampleRate;
    d.bitsPerSample = a.bitsPerSample;
    d.channels = a.channels;
    return d;
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

} // namespace

AviRecordControl::AviRecordControl() : m_slot(std::make_shared<SinkSlot>()) {}

AviRecordControl::~AviRecordControl()
{
    // Events of a released control reach nobody (they are still journaled).
    Unadvise();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [id, r] : m_recordings)
        CloseFile(r, kReleased);
    m_recordings.clear();
}

void AviRecordControl::Advise(IAviRecordEvents* sink)
{
    std::lock_guard<std::recursive_mutex> lock(m_slot->mutex);
    m_slot->sink = sink;
}

void AviRecordControl::Unadvise()
{
    std::lock_guard<std::recursive_mutex> lock(m_slot->mutex);
    m_slot->sink = nullptr;
}

void AviRecordControl::Post(int kind, int32_t a, int32_t b)
{
    std::shared_ptr<SinkSlot> slot = m_slot;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        slot->Deliver(kind, a, b); // no UI thread to hand it to
        return;
    }
    QMetaObject::invokeMethod(app, [slot, kind, a, b] { slot->Deliver(kind, a, b); }, Qt::QueuedConnection);
}

std::string AviRecordControl::CurrentFile(int32_t fileId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_recordings.find(fileId);
    return it != m_recordings.end() && it->second.writer ? it->second.tmpPath : std::string();
}

int32_t AviRecordControl::BeginStream(int32_t streamId)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streams[streamId].ended = false;
    }
    qelm::Journal::Call("CAviRecordCtrl::BeginStream", {streamId}, 0);
    return 0;
}

void AviRecordControl::DropStreamIfUnused(int32_t streamId)
{
    for (const auto& [id, r] : m_recordings)
        if (r.streamId == streamId)
            return;
    m_streams.erase(streamId);
}

int32_t AviRecordControl::EndStream(int32_t streamId)
{
    int32_t result = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(streamId);
        if (it != m_streams.end()) {
            // Recordings of the stream keep their files; the pre-record buffer goes.
            Stream& s = it->second;
            s.ended = true;
            s.preRecordSeconds = 0;
            s.buffer.clear();
            s.bufferBytes = 0;
            DropStreamIfUnused(streamId);
            result = 0;
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::EndStream", {streamId}, result);
    return result;
}

int32_t AviRecordControl::SetVideoParam(int32_t streamId, const uint8_t* param, int32_t length)
{
    int32_t result = -1;
    if (param && length == int32_t(sizeof(VideoParam))) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(streamId);
        if (it != m_streams.end()) {
            memcpy(&it->second.video, param, sizeof(VideoParam));
            it->second.video.codecName[sizeof(it->second.video.codecName) - 1] = 0;
            result = 0;
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::SetVideoParam", {streamId, param, length}, result);
    return result;
}

int32_t AviRecordControl::SetAudioParam(int32_t streamId, const uint8_t* param, int32_t length)
{
    int32_t result = -1;
    if (param && length == int32_t(sizeof(AudioParam))) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(streamId);
        if (it != m_streams.end()) {
            Stream& s = it->second;
            memcpy(&s.audio, param, sizeof(AudioParam));
            s.audio.codecName[sizeof(s.audio.codecName) - 1] = 0;
            s.hasAudio = s.audio.codecName[0] != 0;
            result = 0;
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::SetAudioParam", {streamId, param, length}, result);
    return result;
}

int32_t AviRecordControl::SetPreRecord(int32_t streamId, const char* text, int32_t seconds, int32_t reserved1,
                                       int32_t reserved2)
{
    int32_t result = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(streamId);
        if (it != m_streams.end()) {
            Stream& s = it->second;
            s.preRecordSeconds = std::max(0, seconds);
            if (s.preRecordSeconds == 0) {
                s.buffer.clear();
                s.bufferBytes = 0;
            }
            result = 0;
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::SetPreRecord", {streamId, text, seconds, reserved1, reserved2}, result);
    return result;
}

void AviRecordControl::Buffer(Stream& s, const Frame& f)
{
    // The buffer always begins with a video key frame.
    if (s.buffer.empty() && !(f.video && f.key))
        return;
    s.buffer.push_back(f);
    s.bufferBytes += f.data.size();

    // Drop whole groups from the front while the next key frame is still
    // old enough to reach back the full time, or the buffer is too big.
    const int64_t cutoff = f.tick - int64_t(s.preRecordSeconds) * 1000;
    while (true) {
        auto next = std::find_if(s.buffer.begin() + 1, s.buffer.end(), [](const Frame& x) { return x.video && x.key; });
        if (next == s.buffer.end())
            break;
        if (next->tick > cutoff && s.bufferBytes <= kMaxPreRecordBytes)
            break;
        for (auto it = s.buffer.begin(); it != next; ++it)
            s.bufferBytes -= it->data.size();
        s.buffer.erase(s.buffer.begin(), next);
    }
    if (s.bufferBytes > kMaxPreRecordBytes) { // a single group larger than the cap
        s.buffer.clear();
        s.bufferBytes = 0;
    }
}

int32_t AviRecordControl::WriteVideo(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                                     int32_t headerLength)
{
    return WriteFrame("CAviRecordCtrl::WriteVideo", true, streamId, frame, length, header, headerLength);
}

int32_t AviRecordControl::WriteAudio(int32_t streamId, const uint8_t* frame, int32_t length, const uint8_t* header,
                                     int32_t headerLength)
{
    return WriteFrame("CAviRecordCtrl::WriteAudio", false, streamId, frame, length, header, headerLength);
}

int32_t AviRecordControl::WriteFrame(const char* name, bool video, int32_t streamId, const uint8_t* frame,
                                     int32_t length, const uint8_t* header, int32_t headerLength)
{
    int32_t result = -1;
    if (frame && length > 0) {
        MediaFrameHeader h{};
        if (header && headerLength >= int32_t(sizeof(h)))
            memcpy(&h, header, sizeof(h));
        const bool key = video && h.keyFrame != 0;
        const int64_t tick = qelm::SteadyMs();
        const std::time_t wall = qelm::WallNow();

        std::lock_guard<std::mutex> lock(m_mutex);
        auto sit = m_streams.find(streamId);
        if (sit != m_streams.end()) {
            Stream& s = sit->second;
            if (s.preRecordSeconds > 0)
                Buffer(s, Frame{std::vector<uint8_t>(frame, frame + length), video, key, tick, wall});
            for (auto it = m_recordings.begin(); it != m_recordings.end();) {
                if (it->second.streamId == streamId &&
                    !Feed(it->second, s, video, key, frame, uint32_t(length), tick, wall))
                    it = m_recordings.erase(it);
                else
                    ++it;
            }
            if (s.ended)
                DropStreamIfUnused(streamId);
            result = 0;
        }
    }
    qelm::Journal::Call(name, {streamId, frame, length, header, headerLength}, result);
    return result;
}

bool AviRecordControl::OpenFile(Recording& r, Stream& s, std::time_t wall, int64_t tick)
{
    std::tm tm{};
    localtime_r(&wall, &tm);
    r.audio = s.hasAudio;
    // HHMMSS-av-1.avi; a name that is taken gets a number after the marker,
    // so that a recording is never overwritten.
    char base[32];
    snprintf(base, sizeof(base), "%02d%02d%02d-%s", tm.tm_hour, tm.tm_min, tm.tm_sec, r.audio ? "av" : "vv");
    std::string finalPath;
    for (int n = 1; n < 1000; ++n) {
        char name[64];
        if (n == 1)
            snprintf(name, sizeof(name), "%s-%d.avi", base, int(r.kind));
        else
            snprintf(name, sizeof(name), "%s_%d-%d.avi", base, n, int(r.kind));
        const std::string candidate = r.folder + name;
        if (!Exists(candidate) && !Exists(candidate + ".tmp")) {
            finalPath = candidate;
            break;
        }
    }
    auto writer = std::make_unique<CWriteAviFile>("AviRecord");
    const AviVideoDesc video = VideoDescOf(s.video);
    const AviAudioDesc audio = AudioDescOf(s.audio);
    const std::string tmpPath = finalPath + ".tmp";
    if (!finalPath.empty()) {
        writer->SetFileName(uint32_t(tick), tmpPath.c_str());
        writer->SetMediaParam(r.audio ? 1 : 0, r.secondsPerFile, &audio, &video);
    }
    if (finalPath.empty() || writer->Start() != 1) {
        qelm::PlatformLog(3, "AviRecord: cannot create a record file in %s", r.folder.c_str());
        r.lastFailTick = tick;
        r.failedOnce = true;
        Post(3, r.fileId, kCreateFailed);
        return false;
    }
    r.writer = std::move(writer);
    r.tmpPath = tmpPath;
    r.finalPath = finalPath;
    r.fileStartTick = tick;
    Post(1, r.fileId, r.streamId);
    return true;
}

void AviRecordControl::CloseFile(Recording& r, int32_t reason)
{
    if (!r.writer)
        return;
    r.writer->Stop();
    r.writer.reset();
    // Finished (or as far as it got): the record search may list it now.
    if (rename(r.tmpPath.c_str(), r.finalPath.c_str()) != 0)
        qelm::PlatformLog(3, "AviRecord: cannot rename %s", r.tmpPath.c_str());
    r.tmpPath.clear();
    r.finalPath.clear();
    Post(2, r.fileId, reason);
}

bool AviRecordControl::Feed(Recording& r, Stream& s, bool video, bool key, const uint8_t* data, uint32_t length,
                            int64_t tick, std::time_t wall)
{
    if (r.timeLimit > 0 && tick - r.startTick >= int64_t(r.timeLimit) * 1000) {
        CloseFile(r, kTimeLimit);
        return false;
    }
    if (r.writer && video && key) {
        const bool due = r.secondsPerFile > 0 && tick - r.fileStartTick >= int64_t(r.secondsPerFile) * 1000;
        // Leave room for a group of pictures before the 32-bit limit.
        if (due || !r.writer->HasRoomFor(length + (64u << 20)))
            CloseFile(r, kNextFile);
    }
    if (r.writer && !r.writer->HasRoomFor(length))
        CloseFile(r, kNextFile);
    if (!r.writer) {
        // A file starts with a video key frame.
        if (!video || !key || (r.failedOnce && tick - r.lastFailTick < kRetryMs))
            return true;
        if (!OpenFile(r, s, wall, tick))
            return true;
    }
    if (video)
        r.writer->WriteVideoFrame(key ? 1 : 0, data, int(length));
    else if (r.audio)
        r.writer->WriteAudioFrame(data, int(length));
    if (r.writer->Failed()) {
        qelm::PlatformLog(3, "AviRecord: writing %s failed", r.tmpPath.c_str());
        CloseFile(r, kWriteFailed);
        r.lastFailTick = tick;
        r.failedOnce = true;
        Post(3, r.fileId, kWriteError);
    }
    return true;
}

int32_t AviRecordControl::BeginRecordFile(int32_t streamId, const char* folder, int32_t preRecordSeconds,
                                          int32_t timeLimit, int32_t secondsPerFile, int32_t streamKind)
{
    int32_t result = -1;
    std::string dir = folder ? qelm::ResolveDrivePath(folder) : std::string();
    std::error_code ec;
    if (!dir.empty()) {
        if (dir.back() != '/')
            dir += '/';
        fs::create_directories(dir, ec);
    }
    if (!dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto sit = m_streams.find(streamId);
        if (sit != m_streams.end()) {
            Stream& s = sit->second;
            s.ended = false;
            const int32_t fileId = m_nNextFileId;
            m_nNextFileId = m_nNextFileId == INT32_MAX ? 1 : m_nNextFileId + 1;
            Recording& r = m_recordings[fileId];
            r.fileId = fileId;
            r.streamId = streamId;
            r.folder = dir;
            r.timeLimit = timeLimit;
            r.secondsPerFile = secondsPerFile;
            r.kind = streamKind;
            r.startTick = qelm::SteadyMs();
            result = fileId;

            // The file reaches back to the key frame that covers the
            // pre-record time.
            if (preRecordSeconds > 0 && !s.buffer.empty()) {
                const int64_t cutoff = r.startTick - int64_t(preRecordSeconds) * 1000;
                auto from = s.buffer.begin();
                for (auto it = s.buffer.begin(); it != s.buffer.end(); ++it)
                    if (it->video && it->key && it->tick <= cutoff)
                        from = it;
                bool alive = true;
                for (auto it = from; it != s.buffer.end() && alive; ++it)
                    alive = Feed(r, s, it->video, it->key, it->data.data(), uint32_t(it->data.size()), r.startTick,
                                 it->wall);
                if (!alive)
                    m_recordings.erase(fileId);
            }
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::BeginRecordFile",
                        {streamId, folder, preRecordSeconds, timeLimit, secondsPerFile, streamKind}, result);
    return result;
}

int32_t AviRecordControl::StopRecordFile(int32_t fileId)
{
    int32_t result = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_recordings.find(fileId);
        if (it != m_recordings.end()) {
            const int32_t streamId = it->second.streamId;
            CloseFile(it->second, kStopped);
            m_recordings.erase(it);
            auto sit = m_streams.find(streamId);
            if (sit != m_streams.end() && sit->second.ended)
                DropStreamIfUnused(streamId);
            result = 0;
        }
    }
    qelm::Journal::Call("CAviRecordCtrl::StopRecordFile", {fileId}, result);
    return result;
}
