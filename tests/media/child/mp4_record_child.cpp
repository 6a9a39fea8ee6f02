// A recorder for the crash-recovery test: records the test streams through
// CMP4Writer at a steady pace, printing the video frames written after each
// frame, until it is killed.
#include "controls/media_params.h"
#include "media/mp4_writer.h"
#include "tests/media/media_test_util.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s <output.mp4> <video.h264> <audio.ul> <ms per frame>\n", argv[0]);
        return 2;
    }
    const auto frames = mp4test::SplitStream(argv[2], "h264");
    const auto pcm = mp4test::SplitRaw(argv[3], 320);
    const int pace = atoi(argv[4]);
    if (frames.empty() || pcm.empty())
        return 3;
    VideoParam v = mp4test::H264Param();
    AudioParam a = mp4test::G711Param();
    CMP4Writer w;
    if (w.OpenWrite(argv[1], &v, &a) != 0)
        return 4;
    for (size_t i = 0;; ++i) {
        const auto& f = frames[i % frames.size()];
        w.WriteOneFrame(1, f.data.data(), int(f.data.size()), int64_t(i) * 40, f.key);
        w.WriteOneFrame(0, pcm[i % pcm.size()].data.data(), 320, int64_t(i) * 40, 1);
        printf("%d\n", w.GetWritedVideoFrameCount());
        fflush(stdout);
        usleep(useconds_t(pace) * 1000);
    }
}
