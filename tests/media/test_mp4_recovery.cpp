// Crash recovery: a recorder killed with SIGKILL in the middle of a file
// leaves a ".tmp" file and its journal; the next start finishes it into a
// playable MP4 that lacks at most about the last second.
#include "media/mp4_writer.h"
#include "controls/media_params.h"
#include "tests/media/media_test_util.h"

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

} // namespace
