// Crash recovery: a recorder killed with SIGKILL in the middle of a file
// leaves a ".tmp" file and its journal; the next start finishes it into a
// playable MP4 that lacks at most about the last second.
#include "media/mp4_writer.h"
#include "controls/media_params.h"
#include "core/log.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/media/media_test_util.h"
#include "tests/support/pipe_trap.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>

#include <chrono>

using namespace mp4test;

extern char** environ;

namespace {

std::string ChildPath()
{
    return (fs::read_symlink("/proc/self/exe").parent_path() / "mp4_record_child").string();
}

TEST(Mp4RecoveryTest, KilledRecorderIsFinishedAtTheNextStart)
{
    TempDir dir;
    const std::string day = dir / "Record/cam/Local/Schedule/2024/1/2";
    fs::create_directories(day);
    const std::string name = day + "/101010-av-1.mp4";
    const std::string video = Streams::Get().H264();
    const std::string audio = Streams::Get().Mulaw();

    int out[2];
    ASSERT_EQ(0, pipe(out));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string child = ChildPath();
    char* argv[] = {const_cast<char*>(child.c_str()), const_cast<char*>(name.c_str()),
                    const_cast<char*>(video.c_str()), const_cast<char*>(audio.c_str()), const_cast<char*>("10"),
                    nullptr};
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, child.c_str(), &actions, nullptr, argv, environ)) << child;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    // Let it record about two seconds, then kill it without warning.
    int written = 0;
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (written < 200 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = read(out[0], buf, sizeof(buf));
        if (n <= 0)
            break;
        pending.append(buf, size_t(n));
        size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            written = atoi(pending.substr(0, eol).c_str());
            pending.erase(0, eol + 1);
        }
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    ASSERT_GE(written, 200) << "the recorder did not run";
    ASSERT_TRUE(fs::exists(name + ".tmp"));
    ASSERT_TRUE(fs::exists(name + ".tmp.idx"));
    EXPECT_EQ(0u, ProbeStreams(name + ".tmp").size()) << "without recovery no player can open it";

    // Files that are no record of ours stay as they are.
    const std::string other = day + "/download.tmp";
    WriteFile(other, {1, 2, 3});

    EXPECT_EQ(1, CMP4Writer::RecoverTempFiles((dir / "Record").c_str()));
    ASSERT_TRUE(fs::exists(name));
    EXPECT_FALSE(fs::exists(name + ".tmp"));
    EXPECT_FALSE(fs::exists(name + ".tmp.idx"));
    EXPECT_TRUE(fs::exists(other));

    const auto streams = ProbeStreams(name);
    const Fields* v = FindStream(streams, "video");
    const Fields* a = FindStream(streams, "audio");
    ASSERT_TRUE(v && a);
    const int frames = atoi(v->at("nb_frames").c_str());
    EXPECT_EQ(v->at("nb_frames"), v->at("nb_read_frames"));
    EXPECT_LE(frames, written + 1);
    // Journaled once a second at 100 frames a second: about a second lost at most.
    EXPECT_GE(frames, written - 130);
    EXPECT_EQ("pcm_mulaw", a->at("codec_name"));
    EXPECT_EQ("", DecodeErrors(name));
    EXPECT_EQ(1, ProbeVideoKeyFlags(name).front());

    // The record search can read it.
    CMP4Writer r;
    VideoParam vp{};
    AudioParam ap{};
    ASSERT_EQ(0, r.OpenRead(name.c_str(), &vp, &ap));
    EXPECT_GE(r.GetAllTime(), (written - 130) / 25);
}

TEST(Mp4RecoveryTest, LiveRecordingIsLeftAlone)
{
    TempDir dir;
    const std::string name = dir / "live.mp4";
    VideoParam v{};
    snprintf(v.codecName, sizeof(v.codecName), "H264");
    v.width = 176;
    v.height = 144;
    v.frameRate = 25;
    CMP4Writer w;
    ASSERT_EQ(0, w.OpenWrite(name.c_str(), &v, nullptr));
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    for (size_t i = 0; i < 30; ++i)
        w.WriteOneFrame(1, aus[i].data.data(), int(aus[i].data.size()), int64_t(i) * 40, aus[i].key);
    EXPECT_EQ(0, CMP4Writer::RecoverTempFiles(dir.path().c_str()));
    EXPECT_EQ(-1, CMP4Writer::RecoverTempFile((name + ".tmp").c_str()));
    EXPECT_TRUE(fs::exists(name + ".tmp"));
    for (size_t i = 30; i < 60; ++i)
        w.WriteOneFrame(1, aus[i].data.data(), int(aus[i].data.size()), int64_t(i) * 40, aus[i].key);
    w.CloseFile();
    const auto streams = ProbeStreams(name);
    const Fields* vs = FindStream(streams, "video");
    ASSERT_NE(nullptr, vs);
    EXPECT_EQ("60", vs->at("nb_read_frames"));
    EXPECT_EQ(-1, CMP4Writer::RecoverTempFile((dir / "nothing.mp4.tmp").c_str()));
}

// --- a crash between the steps of finishing a file ---

std::vector<uint8_t> LengthPrefixed(const std::vector<uint8_t>& au)
{
    std::vector<uint8_t> sample;
    for (const auto& u : NalUnits(au)) {
        const uint32_t n = uint32_t(u.size());
        sample.insert(sample.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        sample.insert(sample.end(), u.begin(), u.end());
    }
    return sample;
}

// What a recording of 100 frames leaves on disk, made with the MP4 library
// as the recorder makes it: the finished file, the journal as it stood after
// 60 frames (the last write-out before the end, so a rebuild from it loses
// the last 40) and the data file at that moment.
struct Leftovers {
    std::vector<uint8_t> finished, journal, unfinished;
};

const Leftovers& MakeLeftovers()
{
    static const Leftovers made = [] {
        Leftovers l;
        TempDir dir;
        const std::string name = dir / "rec.mp4.tmp";
        const auto aus = SplitStream(Streams::Get().H264(), "h264");
        if (aus.size() < 100)
            return l;
        MP4FileHandle f = MP4CreateProviderEx(name.c_str());
        MP4EnableRecoveryJournal(f, (name + ".idx").c_str(), 0, false);
        MP4SetTimeScale(f, 90000);
        const MP4TrackId v = MP4AddH264VideoTrack(f, 90000, 3600, 176, 144, 100, 0, 31, 3);
        for (const auto& u : NalUnits(aus[0].data))
            if (H264Type(u) == 7 || H264Type(u) == 8)
                (H264Type(u) == 7 ? MP4AddH264SequenceParameterSet : MP4AddH264PictureParameterSet)(
                    f, v, u.data(), uint16_t(u.size()));
        for (size_t i = 0; i < 100; ++i) {
            const auto s = LengthPrefixed(aus[i].data);
            MP4WriteSample(f, v, s.data(), uint32_t(s.size()), 3600, 0, aus[i].key);
            if (i + 1 == 60) {
                l.journal = ReadFile(name + ".idx");
                l.unfinished = ReadFile(name);
            }
        }
        MP4Close(f);
        l.finished = ReadFile(name);
        return l;
    }();
    return made;
}

int DecodedFrames(const std::string& name)
{
    const auto streams = ProbeStreams(name);
    const Fields* v = FindStream(streams, "video");
    return v ? atoi(v->at("nb_read_frames").c_str()) : -1;
}

// Every state that a kill between two steps of a close (finish, rename,
// remove the journal) or of a recovery (rebuild, rename, remove the journal)
// leaves ends as one playable "x.mp4" with every frame the data holds.
TEST(Mp4RecoveryTest, KillBetweenStepsEndsAsOneFinishedFile)
{
    const Leftovers& l = MakeLeftovers();
    ASSERT_FALSE(l.finished.empty() || l.journal.empty() || l.unfinished.empty()) << "no test recording";
    struct State {
        const char* name;
        bool finished;      // the data is a finished file
        const char* data;   // the data file's name
        bool journal;       // "x.mp4.tmp.idx" is there
        int frames;         // in "x.mp4" afterwards
    } states[] = {
        {"finished, not yet renamed", true, "x.mp4.tmp", true, 100},
        {"renamed, journal not yet removed", true, "x.mp4", true, 100},
        {"finished, journal gone, not renamed", true, "x.mp4.tmp", false, 100},
        {"killed while recording", false, "x.mp4.tmp", true, 60},
        {"renamed without its movie box", false, "x.mp4", true, 60},
    };
    for (const State& st : states) {
        SCOPED_TRACE(st.name);
        TempDir dir;
        const std::string folder = dir / "Record/cam/Local/Schedule/2024/1/2";
        fs::create_directories(folder);
        const std::string x = folder + "/x.mp4";
        WriteFile(folder + "/" + st.data, st.finished ? l.finished : l.unfinished);
        if (st.journal)
            WriteFile(x + ".tmp.idx", l.journal);

        EXPECT_EQ(1, CMP4Writer::RecoverTempFiles((dir / "Record").c_str()));
        EXPECT_TRUE(fs::exists(x));
        EXPECT_FALSE(fs::exists(x + ".tmp"));
        EXPECT_FALSE(fs::exists(x + ".tmp.idx"));
        EXPECT_EQ(st.frames, DecodedFrames(x));
        EXPECT_EQ("", DecodeErrors(x));
        if (st.finished) {
            EXPECT_EQ(l.finished, ReadFile(x)) << "a finished file is only renamed";
        }

        // The next start finds nothing to do.
        const auto after = ReadFile(x);
        EXPECT_EQ(0, CMP4Writer::RecoverTempFiles((dir / "Record").c_str()));
        EXPECT_EQ(after, ReadFile(x));
    }
}

// A close whose rename fails keeps the journal, so the file is not lost
// under its ".tmp" name: the next start gives it its name.
TEST(Mp4RecoveryTest, CloseRemovesTheJournalOnlyAfterTheRename)
{
    TempDir dir;
    const std::string x = dir / "x.mp4";
    fs::create_directories(x + "/in-the-way"); // a folder takes the name
    const auto aus = SplitStream(Streams::Get().H264(), "h264");
    ASSERT_GE(aus.size(), 50u);
    VideoParam v = H264Param();
    {
        CMP4Writer w;
        ASSERT_EQ(0, w.OpenWrite(x.c_str(), &v, nullptr));
        for (size_t i = 0; i < 50; ++i)
            w.WriteOneFrame(1, aus[i].data.data(), int(aus[i].data.size()), int64_t(i) * 40, aus[i].key);
        w.CloseFile();
    }
    ASSERT_TRUE(fs::exists(x + ".tmp"));
    EXPECT_TRUE(fs::exists(x + ".tmp.idx")) << "the journal must outlive a failed rename";

    fs::remove_all(x);
    EXPECT_EQ(1, CMP4Writer::RecoverTempFiles(dir.path().c_str()));
    EXPECT_FALSE(fs::exists(x + ".tmp"));
    EXPECT_FALSE(fs::exists(x + ".tmp.idx"));
    EXPECT_EQ(50, DecodedFrames(x));
    EXPECT_EQ("", DecodeErrors(x));
}

// A recorder killed in its first second leaves a journal without a single
// write-out (or a torn one): nothing can be recovered, so both files go at
// the next start, logged once, and later starts find nothing to retry.
TEST(Mp4RecoveryTest, NothingRecoverableIsRemovedAndLoggedOnce)
{
    TempDir dir;
    // The files of a recording just opened, taken while it is open.
    std::vector<uint8_t> data, journal;
    {
        VideoParam v = H264Param();
        AudioParam a = G711Param();
        CMP4Writer w;
        const std::string live = dir / "live.mp4";
        ASSERT_EQ(0, w.OpenWrite(live.c_str(), &v, &a));
        data = ReadFile(live + ".tmp");
        journal = ReadFile(live + ".tmp.idx");
        w.CloseFile();
        fs::remove(live);
    }
    ASSERT_FALSE(data.empty());
    ASSERT_FALSE(journal.empty());
    std::vector<uint8_t> withSamples = data; // sample bytes flushed, none journaled yet
    withSamples.resize(data.size() + 300 * 1024, 0x5A);
    struct Case {
        const char* name;
        std::vector<uint8_t> data, journal;
    } cases[] = {
        {"header-only journal", data, journal},
        {"samples but no write-out", withSamples, journal},
        {"journal torn while created", data, std::vector<uint8_t>(journal.begin(), journal.begin() + 10)},
        {"empty journal", data, {}},
    };
    const std::string log = dir / "log.txt";
    CloseLog();
    ASSERT_EQ(0, OpenLog(log.c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir / "Record";
        fs::create_directories(folder);
        const std::string x = folder + "/x.mp4";
        WriteFile(x + ".tmp", c.data);
        WriteFile(x + ".tmp.idx", c.journal);
        EXPECT_EQ(0, CMP4Writer::RecoverTempFiles(folder.c_str()));
        EXPECT_FALSE(fs::exists(x + ".tmp"));
        EXPECT_FALSE(fs::exists(x + ".tmp.idx"));
        EXPECT_FALSE(fs::exists(x));
        EXPECT_EQ(0, CMP4Writer::RecoverTempFiles(folder.c_str()));
        EXPECT_TRUE(fs::is_empty(folder));
    }
    CloseLog();
    int removed = 0, failed = 0;
    const auto text = ReadFile(log);
    for (const std::string& line : Lines(std::string(text.begin(), text.end()))) {
        if (line.find("x.mp4") == std::string::npos)
            continue;
        if (line.find("removed") != std::string::npos)
            ++removed;
        else
            ++failed;
    }
    EXPECT_EQ(int(std::size(cases)), removed) << "one line per litter removed";
    EXPECT_EQ(0, failed) << "no failure to report";
}

} // namespace

namespace {

// What a record folder holds besides files: a pipe named like a recording
// beside its journal, a pipe as a journal, a link that leads out of the
// storage folder. The start-up recovery waits on none of them, changes
// nothing they lead to, logs each once and still finishes the real recording.
TEST(Mp4RecoveryTest, EntriesThatAreNotFilesAreSkippedNotWaitedOn)
{
    const Leftovers& l = MakeLeftovers();
    ASSERT_FALSE(l.journal.empty() || l.unfinished.empty()) << "no test recording";
    TempDir dir;
    const std::string root = dir / "Record";
    const std::string folder = root + "/cam/Local/Schedule/2024/1/2";
    const std::string outside = dir / "elsewhere";
    fs::create_directories(folder);
    fs::create_directories(outside);

    const std::string pipeData = folder + "/120000-av-1.mp4.tmp";
    ASSERT_TRUE(qelmtest::MakePipe(pipeData));
    WriteFile(pipeData + ".idx", l.journal);
    const std::string pipeJournal = folder + "/130000-av-1.mp4.tmp.idx";
    WriteFile(folder + "/130000-av-1.mp4.tmp", l.unfinished);
    ASSERT_TRUE(qelmtest::MakePipe(pipeJournal));
    WriteFile(outside + "/140000-av-1.mp4.tmp", l.unfinished);
    fs::create_symlink(outside + "/140000-av-1.mp4.tmp", folder + "/140000-av-1.mp4.tmp");
    WriteFile(folder + "/140000-av-1.mp4.tmp.idx", l.journal);
    WriteFile(folder + "/150000-av-1.mp4.tmp", l.unfinished); // a real one
    WriteFile(folder + "/150000-av-1.mp4.tmp.idx", l.journal);

    const std::string log = dir / "log.txt";
    CloseLog();
    ASSERT_EQ(0, OpenLog(log.c_str()));
    int recovered = -1;
    ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn({pipeData, pipeJournal}, [&] {
        recovered = CMP4Writer::RecoverTempFiles(root.c_str());
    })) << "the recovery waited on a pipe";
    CloseLog();
    EXPECT_EQ(recovered, 1);
    EXPECT_EQ(60, DecodedFrames(folder + "/150000-av-1.mp4"));

    // Nothing of the rest is lost or changed.
    for (const char* name : {"/120000-av-1.mp4.tmp", "/120000-av-1.mp4.tmp.idx", "/130000-av-1.mp4.tmp",
                             "/130000-av-1.mp4.tmp.idx", "/140000-av-1.mp4.tmp", "/140000-av-1.mp4.tmp.idx"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(folder + name))) << name;
    EXPECT_EQ(l.unfinished, ReadFile(outside + "/140000-av-1.mp4.tmp")) << "written through a link";
    EXPECT_EQ(l.unfinished, ReadFile(folder + "/130000-av-1.mp4.tmp"));

    const auto text = ReadFile(log);
    const std::string logText(text.begin(), text.end());
    EXPECT_NE(logText.find(pipeData + " skipped: a pipe"), std::string::npos) << logText;
    EXPECT_NE(logText.find(pipeJournal + " skipped: a pipe"), std::string::npos) << logText;
    EXPECT_NE(logText.find(folder + "/140000-av-1.mp4.tmp skipped: leads out of"), std::string::npos) << logText;
}

} // namespace
