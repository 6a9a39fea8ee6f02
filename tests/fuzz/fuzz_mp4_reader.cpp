// Fuzz target: the MP4 reader. The input is a whole file; the library's read
// calls and CMP4Writer's read side walk everything in it.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/mp4/mp4_exercise.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

// CMP4Writer's log comes from the program that loads it; here it does nothing.
void WriteLog(int, const char*, ...) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool init = [] {
        MP4LogSetLevel(MP4_LOG_NONE);
        MP4RegisterH265Atoms();
        return true;
    }();
    (void)init;
    const int fd = memfd_create("mp4", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size && write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return 0;
    }
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);

    mp4test::ExerciseReader(path);

    CMP4Writer reader;
    VideoParam video{};
    AudioParam audio{};
    if (reader.OpenRead(path, &video, &audio) == 0) {
        std::vector<uint8_t> buf(64 * 1024);
        for (int i = 0; i < 200; ++i) {
            int isVideo = 0, length = int(buf.size()), key = 0;
            int64_t ts = 0, duration = 0;
            if (reader.ReadOneFrame(isVideo, buf.data(), length, ts, duration, key) < 0)
                break;
        }
        reader.SeekToFile(1);
        reader.MoveNextKeyFrame();
        reader.MovePrevKeyFrame();
        reader.GetAllTime();
        reader.GetNowTime();
        reader.GetTimeScale();
        reader.CloseFile();
    }
    reader.GetRecordTimeFromFile(path);
    close(fd);
    return 0;
}
