// Tests of the AVI record control stand-in: recordings into real AVI files
// named as the record search reads them, rotation, time limit, pre-record,
// refused calls, events on the UI thread and the journal.
#include "controls/avi_record.h"

#include "controls/journal.h"
#include "platform/clock.h"
#include "tests/controls/avi_test_util.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

using namespace avitest;
using namespace std::chrono_literals;

namespace {

struct Event {
    int kind;
    int32_t a, b;
    bool onUiThread;
};

class Sink : public IAviRecordEvents {
public:
    void RecordFileOpened(int32_t fileId, int32_t streamId) override { Add(1, fileId, streamId); }
    void RecordFileClosed(int32_t fileId, int32_t reason) override { Add(2, fileId, reason); }
    void RecordError(int32_t fileId, int32_t error) override { Add(3, fileId, error); }
    std::vector<Event> events;

private:
    void Add(int kind, int32_t a, int32_t b)
    {
        events.push_back({kind, a, b, QThread::currentThread() == QCoreApplication::instance()->thread()});
    }
};

void DeliverEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

struct Media {
    std::vector<Frame> video;
    std::vector<Frame> audio;
    VideoParam vp{};
    AudioParam ap{};
};

const Media& TestMedia()
{
    static const Media m = [] {
        Media m;
        m.video = SplitStream(Streams::Get().H264(6), "h264");
        m.audio = SplitRaw(Streams::Get().Mulaw(6), 320);
        strcpy(m.vp.codecName, "H264");
        m.vp.width = 176;
        m.vp.height = 144;
        m.vp.frameRate = 25;
        m.vp.bitRate = 256000;
        if (!m.video.empty()) {
            const std::vector<uint8_t> ps = ParameterSets(m.video[0].data, false);
            memcpy(m.vp.config, ps.data(), std::min<size_t>(ps.size(), 256));
            m.vp.configLength = int16_t(std::min<size_t>(ps.size(), 256));
        }
        strcpy(m.ap.codecName, "G711");
        m.ap.sampleRate = 8000;
        m.ap.bitsPerSample = 16;
        m.ap.channels = 1;
        return m;
    }();
    return m;
}

class AviRecordTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TestMedia().video.size(), 150u);
        qelm::ResetTestClock();
        ctrl.Advise(&sink);
    }
    void TearDown() override
    {
        ctrl.Unadvise();
        qelm::ResetTestClock();
    }

    void Begin(int32_t stream, bool audio)
    {
        const Media& m = TestMedia();
        ASSERT_EQ(ctrl.BeginStream(stream), 0);
        ASSERT_EQ(ctrl.SetVideoParam(stream, reinterpret_cast<const uint8_t*>(&m.vp), sizeof(VideoParam)), 0);
        if (audio) {
            ASSERT_EQ(ctrl.SetAudioParam(stream, reinterpret_cast<const uint8_t*>(&m.ap), sizeof(AudioParam)), 0);
        }
    }

    // Frames from..to-1, 40 ms apart on the test clock, each video frame
    // followed by one 40 ms audio frame.
    void Feed(int32_t stream, size_t from, size_t to, bool audio = true)
    {
        const Media& m = TestMedia();
        for (size_t i = from; i < to; ++i) {
            qelm::AdvanceTestClock(40ms);
            MediaFrameHeader h{};
            h.keyFrame = m.video[i].key ? 1 : 0;
            h.timeStamp = double(i) * 40;
            const auto* hb = reinterpret_cast<const uint8_t*>(&h);
            ASSERT_EQ(ctrl.WriteVideo(stream, m.video[i].data.data(), int32_t(m.video[i].data.size()), hb, 16), 0);
            if (audio) {
                ASSERT_EQ(ctrl.WriteAudio(stream, m.audio[i].data.data(), int32_t(m.audio[i].data.size()), hb, 16), 0);
            }
        }
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    AviRecordControl ctrl;
    Sink sink;
};

// A name as the record search lists it: HHMMSS first, "-av"/"-vv", an
// optional "_n" for a second file of the same second, the stream digit
// before ".avi".
struct RecordName {
    int seconds = -1; // of the day
    std::string mark;
    std::string digit;
};

bool ParseRecordName(const std::string& name, RecordName& out)
{
    if (name.size() < 15 || name.compare(name.size() - 4, 4, ".avi") != 0)
        return false;
    for (size_t i = 0; i < 6; ++i)
        if (!isdigit(static_cast<unsigned char>(name[i])))
            return false;
    out.seconds = std::stoi(name.substr(0, 2)) * 3600 + std::stoi(name.substr(2, 2)) * 60 + std::stoi(name.substr(4, 2));
    if (name[6] != '-')
        return false;
    out.mark = name.substr(7, 2);
    if (out.mark != "av" && out.mark != "vv")
        return false;
    size_t pos = 9;
    if (name[pos] == '_') {
        ++pos;
        const size_t start = pos;
        while (pos < name.size() && isdigit(static_cast<unsigned char>(name[pos])))
            ++pos;
        if (pos == start)
            return false;
    }
    if (name.size() != pos + 6 || name[pos] != '-')
        return false;
    out.digit = name.substr(pos + 1, 1);
    return out.digit == "1" || out.digit == "2";
}

} // namespace

TEST_F(AviRecordTest, RecordsAFileTheRecordSearchFinds)
{
    Begin(7, true);
    const std::time_t before = qelm::WallNow();
    const int32_t id = ctrl.BeginRecordFile(7, dir.path().c_str(), 0, 0, 1800, 1);
    ASSERT_GT(id, 0);
    EXPECT_EQ(ctrl.CurrentFile(id), ""); // the file starts with the first key frame

    // Frames come from a worker thread, as from the frame-pull thread.
    std::thread worker([&] { Feed(7, 0, 100); });
    worker.join();
    const std::string writing = ctrl.CurrentFile(id);
    ASSERT_FALSE(writing.empty());
    EXPECT_EQ(writing.substr(writing.size() - 8), ".avi.tmp");
    EXPECT_TRUE(fs::exists(writing));
    EXPECT_EQ(ctrl.StopRecordFile(id), 0);
    EXPECT_EQ(ctrl.StopRecordFile(id), -1);
    EXPECT_FALSE(fs::exists(writing));

    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    RecordName rn;
    ASSERT_TRUE(ParseRecordName(files[0], rn)) << files[0];
    EXPECT_EQ(rn.mark, "av");
    EXPECT_EQ(rn.digit, "1");
    std::tm tm{};
    localtime_r(&before, &tm);
    const int named = rn.seconds;
    const int now = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    EXPECT_LE(std::abs(named - now) % 86399, 2);

    const std::string path = dir / files[0];
    const AviLayout L = CheckAviLayout(path);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    EXPECT_TRUE(L.withAudio);
    EXPECT_EQ(L.videoFrames, 100u);
    auto v = Probe(path, "v:0", "stream=codec_tag_string,nb_read_frames");
    EXPECT_EQ(v["codec_tag_string"], "H264");
    EXPECT_EQ(v["nb_read_frames"], "100");
    EXPECT_EQ(Probe(path, "a:0", "stream=codec_name")["codec_name"], "pcm_mulaw");
    EXPECT_EQ(DecodeErrors(path), "");

    DeliverEvents();
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].kind, 1);
    EXPECT_EQ(sink.events[0].a, id);
    EXPECT_EQ(sink.events[0].b, 7);
    EXPECT_EQ(sink.events[1].kind, 2);
    EXPECT_EQ(sink.events[1].b, AviRecordControl::kStopped);
    for (const Event& e : sink.events)
        EXPECT_TRUE(e.onUiThread);
}

TEST_F(AviRecordTest, AudioDurationIsWhatWasRecorded)
{
    // Each video frame comes with 40 ms of 8 kHz mu-law (320 bytes).
    int32_t stream = 30;
    for (size_t frames : {100u, 37u}) {
        SCOPED_TRACE(frames);
        TempDir folder;
        Begin(++stream, true);
        const int32_t id = ctrl.BeginRecordFile(stream, folder.path().c_str(), 0, 0, 0, 1);
        ASSERT_GT(id, 0);
        Feed(stream, 0, frames);
        ASSERT_EQ(ctrl.StopRecordFile(id), 0);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder.path()))
            names.push_back(e.path().filename().string());
        ASSERT_EQ(names.size(), 1u);
        const std::string path = folder / names[0];

        const std::vector<mp4test::Fields> streams = mp4test::ProbeStreams(path);
        const mp4test::Fields* audio = mp4test::FindStream(streams, "audio");
        ASSERT_NE(audio, nullptr);
        ASSERT_EQ(audio->at("time_base"), "1/8000");
        const double seconds = std::stod(audio->at("nb_frames")) / 8000;
        EXPECT_DOUBLE_EQ(seconds, double(frames) * 0.04);
        // ffprobe's own reading of the audio data ends where the header says.
        EXPECT_NEAR(ProbeAudioSeconds(path), seconds, 1e-6);
        const AviLayout L = CheckAviLayout(path);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    }
}

TEST_F(AviRecordTest, NamesCarryTheStreamDigitAndTheAudioMark)
{
    struct Case {
        int32_t kind;
        bool audio;
        const char* mark;
    };
    int32_t stream = 20;
    for (const Case& c : {Case{1, true, "av"}, Case{2, true, "av"}, Case{1, false, "vv"}, Case{2, false, "vv"}}) {
        SCOPED_TRACE(c.mark + std::to_string(c.kind));
        TempDir folder;
        Begin(++stream, c.audio);
        const int32_t id = ctrl.BeginRecordFile(stream, (folder.path() + "/day/").c_str(), 0, 0, 0, c.kind);
        ASSERT_GT(id, 0);
        Feed(stream, 0, 10, c.audio);
        ASSERT_EQ(ctrl.StopRecordFile(id), 0);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder.path() + "/day"))
            names.push_back(e.path().filename().string());
        ASSERT_EQ(names.size(), 1u);
        RecordName rn;
        ASSERT_TRUE(ParseRecordName(names[0], rn)) << names[0];
        EXPECT_EQ(rn.mark, c.mark);
        EXPECT_EQ(rn.digit, std::to_string(c.kind));
        const AviLayout L = CheckAviLayout(folder.path() + "/day/" + names[0]);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        EXPECT_EQ(L.withAudio, c.audio);
    }
}

TEST_F(AviRecordTest, NewFileAtTheSecondsPerFileWithoutLosingFramesOrNames)
{
    Begin(7, true);
    const int32_t id = ctrl.BeginRecordFile(7, dir.path().c_str(), 0, 0, 1, 2);
    ASSERT_GT(id, 0);
    Feed(7, 0, 100);
    ASSERT_EQ(ctrl.StopRecordFile(id), 0);

    // A new file at each key frame once a second has passed: four files,
    // each beginning with a key frame; names of the same second stay apart.
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 4u);
    uint32_t total = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        RecordName rn;
        EXPECT_TRUE(ParseRecordName(f, rn));
        const AviLayout L = CheckAviLayout(dir / f);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        ASSERT_FALSE(L.index.empty());
        size_t firstVideo = 0;
        while (L.index[firstVideo].code != avi::kVideoChunk)
            ++firstVideo;
        EXPECT_EQ(L.index[firstVideo].flags, 16u);
        EXPECT_EQ(L.videoFrames, 25u);
        total += L.videoFrames;
    }
    EXPECT_EQ(total, 100u);
    DeliverEvents();
    int opened = 0, rotated = 0, stopped = 0;
    for (const Event& e : sink.events) {
        EXPECT_EQ(e.a, id);
        opened += e.kind == 1;
        rotated += e.kind == 2 && e.b == AviRecordControl::kNextFile;
        stopped += e.kind == 2 && e.b == AviRecordControl::kStopped;
    }
    EXPECT_EQ(opened, 4);
    EXPECT_EQ(rotated, 3);
    EXPECT_EQ(stopped, 1);
}

TEST_F(AviRecordTest, TimeLimitEndsTheRecording)
{
    Begin(7, false);
    const int32_t id = ctrl.BeginRecordFile(7, dir.path().c_str(), 0, 2, 1800, 1);
    ASSERT_GT(id, 0);
    Feed(7, 0, 100, false);
    EXPECT_EQ(ctrl.CurrentFile(id), "");
    EXPECT_EQ(ctrl.StopRecordFile(id), -1); // already ended
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    const AviLayout L = CheckAviLayout(dir / files[0]);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    EXPECT_EQ(L.videoFrames, 49u); // the frames of the first two seconds
    DeliverEvents();
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[1].kind, 2);
    EXPECT_EQ(sink.events[1].b, AviRecordControl::kTimeLimit);
}

TEST_F(AviRecordTest, PreRecordReachesBackToAKeyFrame)
{
    const Media& m = TestMedia();
    struct Case {
        int32_t armed;    // SetPreRecord seconds
        int32_t asked;    // BeginRecordFile pre-record seconds
        size_t firstFrame;
    };
    // Frames 0..149 arrive 40 ms apart (key frames at 0, 25, 50, ...) and the
    // recording starts half a second after the last; the file begins with the
    // last key frame at least `asked` seconds back.
    for (const Case& c : {Case{2, 2, 100}, Case{5, 5, 25}, Case{5, 2, 100}, Case{0, 2, 150}}) {
        SCOPED_TRACE(std::to_string(c.armed) + "/" + std::to_string(c.asked));
        TempDir folder;
        const int32_t stream = 40 + c.armed * 10 + c.asked;
        Begin(stream, true);
        ASSERT_EQ(ctrl.SetPreRecord(stream, "", c.armed, 0, 0), 0);
        Feed(stream, 0, 150);
        // Half a key-frame interval later, no key frame sits near the
        // pre-record boundary, so the real time a loaded machine adds to the
        // test clock cannot move the start.
        qelm::AdvanceTestClock(500ms);
        const int32_t id = ctrl.BeginRecordFile(stream, folder.path().c_str(), c.asked, 0, 1800, 1);
        ASSERT_GT(id, 0);
        ASSERT_EQ(ctrl.StopRecordFile(id), 0);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder.path()))
            names.push_back(e.path().filename().string());
        if (c.firstFrame == 150) {
            EXPECT_TRUE(names.empty()); // nothing buffered, no frame came after
            continue;
        }
        ASSERT_EQ(names.size(), 1u);
        const std::string path = folder.path() + "/" + names[0];
        const AviLayout L = CheckAviLayout(path);
        EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
        EXPECT_EQ(L.videoFrames, 150 - c.firstFrame);
        // The first video chunk is that key frame, behind the parameter sets.
        const std::vector<uint8_t> b = ReadFile(path);
        size_t firstVideo = 0;
        while (L.chunks[firstVideo].code != avi::kVideoChunk)
            ++firstVideo;
        const auto& want = m.video[c.firstFrame].data;
        const auto& chunk = L.chunks[firstVideo];
        ASSERT_EQ(chunk.length, size_t(m.vp.configLength) + want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), b.begin() + long(chunk.pos + 8 + size_t(m.vp.configLength))));
        EXPECT_EQ(DecodeErrors(path), "");
        ctrl.EndStream(stream);
    }
}

TEST_F(AviRecordTest, EndStreamLeavesRunningRecordingsAlone)
{
    Begin(7, true);
    ASSERT_EQ(ctrl.SetPreRecord(7, "", 3, 0, 0), 0);
    const int32_t id = ctrl.BeginRecordFile(7, dir.path().c_str(), 0, 0, 1800, 1);
    Feed(7, 0, 30);
    EXPECT_EQ(ctrl.EndStream(7), 0);
    Feed(7, 30, 60);
    ASSERT_EQ(ctrl.StopRecordFile(id), 0);
    // With its last recording gone the stream is gone too.
    const uint8_t byte = 0;
    EXPECT_EQ(ctrl.WriteVideo(7, &byte, 1, nullptr, 0), -1);
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(CheckAviLayout(dir / files[0]).videoFrames, 60u);
}

TEST_F(AviRecordTest, RefusedCalls)
{
    Begin(7, false);
    const VideoParam vp = TestMedia().vp;
    const auto* vb = reinterpret_cast<const uint8_t*>(&vp);
    const uint8_t frame[8] = {0, 0, 0, 1, 0x65, 1, 2, 3};
    EXPECT_EQ(ctrl.BeginRecordFile(8, dir.path().c_str(), 0, 0, 0, 1), -1);   // no such stream
    EXPECT_EQ(ctrl.BeginRecordFile(7, nullptr, 0, 0, 0, 1), -1);
    EXPECT_EQ(ctrl.BeginRecordFile(7, "", 0, 0, 0, 1), -1);
    EXPECT_EQ(ctrl.BeginRecordFile(7, "/proc/qelm2-avi/day", 0, 0, 0, 1), -1); // cannot be created
    EXPECT_EQ(ctrl.SetVideoParam(7, vb, sizeof(VideoParam) - 1), -1);
    EXPECT_EQ(ctrl.SetVideoParam(7, nullptr, sizeof(VideoParam)), -1);
    EXPECT_EQ(ctrl.SetVideoParam(8, vb, sizeof(VideoParam)), -1);
    EXPECT_EQ(ctrl.SetAudioParam(7, vb, sizeof(VideoParam)), -1);
    EXPECT_EQ(ctrl.WriteVideo(8, frame, 8, nullptr, 0), -1);
    EXPECT_EQ(ctrl.WriteVideo(7, frame, 0, nullptr, 0), -1);
    EXPECT_EQ(ctrl.WriteAudio(7, nullptr, 8, nullptr, 0), -1);
    EXPECT_EQ(ctrl.SetPreRecord(8, "", 5, 0, 0), -1);
    EXPECT_EQ(ctrl.StopRecordFile(12345), -1);
    EXPECT_EQ(ctrl.EndStream(8), -1);
    EXPECT_TRUE(Files().empty());
}

TEST_F(AviRecordTest, FileThatCannotBeCreatedIsReportedAndRetried)
{
    Begin(7, false);
    const std::string day = dir / "day";
    const int32_t id = ctrl.BeginRecordFile(7, day.c_str(), 0, 0, 0, 1);
    ASSERT_GT(id, 0);
    fs::remove_all(day); // the folder goes away under the recording
    Feed(7, 0, 25, false);
    EXPECT_EQ(ctrl.CurrentFile(id), "");
    fs::create_directory(day);
    Feed(7, 25, 75, false); // the next key frame after the retry pause
    EXPECT_NE(ctrl.CurrentFile(id), "");
    ASSERT_EQ(ctrl.StopRecordFile(id), 0);
    DeliverEvents();
    ASSERT_GE(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].kind, 3);
    EXPECT_EQ(sink.events[0].b, AviRecordControl::kCreateFailed);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(day))
        names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(CheckAviLayout(day + "/" + names[0]).videoFrames, 50u);
}

TEST_F(AviRecordTest, JournalHasEveryCallAndEvent)
{
    const std::string journal = dir / "journal.txt";
    setenv("QELM2_JOURNAL", journal.c_str(), 1);
    const std::string folder = dir / "rec";
    Begin(3, false);
    const int32_t id = ctrl.BeginRecordFile(3, folder.c_str(), 0, 60, 30, 2);
    Feed(3, 0, 2, false);
    ctrl.StopRecordFile(id);
    DeliverEvents();
    unsetenv("QELM2_JOURNAL");

    std::vector<std::vector<std::string>> lines;
    std::ifstream in(journal);
    for (std::string line; std::getline(in, line);)
        lines.push_back(qelm::Journal::ParseLine(line));
    auto has = [&](const std::vector<std::string>& want) {
        return std::find(lines.begin(), lines.end(), want) != lines.end();
    };
    const std::string ids = std::to_string(id);
    EXPECT_TRUE(has({"call", "CAviRecordCtrl::BeginStream", "3", "=0"}));
    EXPECT_TRUE(has({"call", "CAviRecordCtrl::SetVideoParam", "3", "ptr", "536", "=0"}));
    EXPECT_TRUE(has({"call", "CAviRecordCtrl::BeginRecordFile", "3", folder, "0", "60", "30", "2", "=" + ids}));
    EXPECT_TRUE(has({"call", "CAviRecordCtrl::WriteVideo", "3", "ptr",
                     std::to_string(TestMedia().video[0].data.size()), "ptr", "16", "=0"}));
    EXPECT_TRUE(has({"call", "CAviRecordCtrl::StopRecordFile", ids, "=0"}));
    EXPECT_TRUE(has({"event", "CAviRecordEvents::RecordFileOpened", ids, "3"}));
    EXPECT_TRUE(has({"event", "CAviRecordEvents::RecordFileClosed", ids, "1"}));
}

TEST_F(AviRecordTest, ReleasingTheControlFinishesItsFiles)
{
    auto other = std::make_unique<AviRecordControl>();
    const Media& m = TestMedia();
    other->BeginStream(1);
    other->SetVideoParam(1, reinterpret_cast<const uint8_t*>(&m.vp), sizeof(VideoParam));
    const int32_t id = other->BeginRecordFile(1, dir.path().c_str(), 0, 0, 0, 1);
    for (size_t i = 0; i < 30; ++i) {
        MediaFrameHeader h{};
        h.keyFrame = m.video[i].key;
        other->WriteVideo(1, m.video[i].data.data(), int32_t(m.video[i].data.size()),
                          reinterpret_cast<const uint8_t*>(&h), 16);
    }
    EXPECT_NE(other->CurrentFile(id), "");
    other.reset();
    DeliverEvents(); // events of a released control reach nobody
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    const AviLayout L = CheckAviLayout(dir / files[0]);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    EXPECT_EQ(L.videoFrames, 30u);
}
