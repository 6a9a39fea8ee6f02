// Fuzz target: the recorder's handling of camera frames. The input chooses the
// stream's parameter records (H.264 or H.265 video with configuration bytes,
// AAC or G.711 audio) and carries the frames, which go through CMP4Writer into
// a file: NAL splitting, parameter sets, the H.265 collection, ADTS and AU
// headers, durations. The finished file must then read back without a fault.
//
// Input: a 3-byte head, [configuration bytes], then frames of
//   flags (bit 0 video, bit 1 key, bit 2 also offered to the H.265 collection),
//   time step (signed, x 7 ms), length (16 bits, big-endian), bytes.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/mp4/mp4_exercise.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// CMP4Writer's log comes from the program that loads it; here it does nothing.
void WriteLog(int, const char*, ...) {}

namespace {

struct AudioChoice {
    const char* codec;
    int rate, channels;
};

const char* const kVideoCodecs[] = {"", "H264", "H265", "H.265"};
const AudioChoice kAudio[] = {{"", 0, 0},         {"MPEG4-GENERIC", 16000, 1}, {"AAC", 32000, 2},
                              {"MP4A", 44100, 2}, {"G711", 8000, 1},          {"PCMU", 16000, 1},
                              {"AAC", 8000, 6},   {"AACG4-GENERIC", 7350, 8}};

const std::string& WorkDir()
{
    static const std::string dir = [] {
        char tmpl[] = "/dev/shm/qelm2-fuzz-recorder-XXXXXX"; // no disk syncs
        if (access("/dev/shm", W_OK) != 0)
            memcpy(tmpl, "/tmp/qelm2-fuzz-recorder-XXXXXX", sizeof("/tmp/qelm2-fuzz-recorder-XXXXXX"));
        static std::string made = mkdtemp(tmpl) ? tmpl : "";
        atexit([] {
            if (!made.empty())
                rmdir(made.c_str());
        });
        return made.empty() ? std::string("/tmp") : made;
    }();
    return dir;
}

void ReadBack(const std::string& name)
{
    mp4test::ExerciseReader(name.c_str());
    CMP4Writer reader;
    VideoParam video{};
    AudioParam audio{};
    if (reader.OpenRead(name.c_str(), &video, &audio) != 0)
        return;
    std::vector<uint8_t> buf(64 * 1024);
    for (int i = 0; i < 400; ++i) {
        int isVideo = 0, length = int(buf.size()), key = 0;
        int64_t ts = 0, duration = 0;
        if (reader.ReadOneFrame(isVideo, buf.data(), length, ts, duration, key) < 0)
            break;
    }
    reader.SeekToFile(1);
    reader.MoveNextKeyFrame();
    reader.MovePrevKeyFrame();
    reader.GetAllTime();
    reader.CloseFile();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    static const bool init = [] {
        MP4LogSetLevel(MP4_LOG_NONE);
        return true;
    }();
    (void)init;
    if (size < 3)
        return 0;
    const uint8_t* p = input;
    const uint8_t* end = input + size;
    const uint8_t choice = *p++;
    const uint8_t frameRate = *p++;
    const uint8_t configLength = *p++;

    VideoParam video{};
    snprintf(video.codecName, sizeof(video.codecName), "%s", kVideoCodecs[choice & 3]);
    video.width = 64;
    video.height = 48;
    video.frameRate = frameRate;
    const size_t config = std::min<size_t>({configLength, sizeof(video.config), size_t(end - p)});
    memcpy(video.config, p, config);
    // A damaged record may claim any length.
    video.configLength = (choice & 0x40) ? int16_t(configLength * 3 - 300) : int16_t(config);
    p += config;
    const AudioChoice& a = kAudio[(choice >> 2) & 7];
    AudioParam audio{};
    snprintf(audio.codecName, sizeof(audio.codecName), "%s", a.codec);
    audio.sampleRate = a.rate;
    audio.channels = a.channels;
    audio.bitsPerSample = 16;

    const std::string name = WorkDir() + "/rec.mp4";
    {
        CMP4Writer w;
        if (w.OpenWrite(name.c_str(), (choice & 3) ? &video : nullptr, a.rate ? &audio : nullptr) != 0) {
            unlink((name + ".tmp").c_str());
            unlink((name + ".tmp.idx").c_str());
            return 0;
        }
        uint64_t ts = (choice & 0x20) ? uint64_t(INT64_MAX) - 2000 : 0; // stamps that wrap
        std::vector<uint8_t> frame;
        while (end - p >= 4) {
            const uint8_t flags = p[0];
            ts += uint64_t(int64_t(int8_t(p[1])) * 7);
            const size_t length = std::min<size_t>(size_t(p[2]) << 8 | p[3], size_t(end - p - 4));
            frame.assign(p + 4, p + 4 + length); // its own allocation, so overreads are caught
            p += 4 + length;
            if (flags & 4) {
                NalPositions pos{};
                w.CheckH264SpsPpsInConfig(1, reinterpret_cast<char*>(frame.data()), int(frame.size()), &pos, 3);
            }
            w.WriteOneFrame(flags & 1, frame.data(), int(frame.size()), int64_t(ts), (flags >> 1) & 1);
        }
        w.CloseFile();
    }
    ReadBack(name);
    unlink(name.c_str());
    unlink((name + ".tmp").c_str());
    unlink((name + ".tmp.idx").c_str());
    return 0;
}
