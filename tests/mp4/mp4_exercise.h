// Walks everything the reader offers on a file that may be damaged or
// hostile: every call must fail cleanly, never crash or allocate wildly.
#pragma once

#include "mp4/mp4.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace mp4test {

// Returns the number of samples read successfully.
inline uint32_t ExerciseReader(const char* path)
{
    MP4FileHandle f = MP4Read(path);
    if (!f)
        return 0;
    uint32_t ok = 0;
    MP4GetTimeScale(f);
    MP4GetDuration(f);
    const uint32_t tracks = std::min<uint32_t>(MP4GetNumberOfTracks(f), 16);
    for (uint16_t i = 0; i < tracks; ++i) {
        const MP4TrackId t = MP4FindTrackId(f, i);
        MP4GetTrackType(f, t);
        MP4GetTrackMediaDataName(f, t);
        const uint32_t ts = MP4GetTrackTimeScale(f, t);
        const MP4Duration d = MP4GetTrackDuration(f, t);
        MP4GetTrackVideoFrameRate(f, t);
        MP4GetTrackVideoWidth(f, t);
        MP4GetTrackVideoHeight(f, t);
        MP4GetTrackBitRate(f, t);
        MP4GetTrackAudioChannels(f, t);
        uint8_t* config = nullptr;
        uint32_t configSize = 0;
        MP4GetTrackESConfiguration(f, t, &config, &configSize);
        MP4Free(config);
        const uint32_t n = MP4GetTrackNumberOfSamples(f, t);
        std::vector<uint8_t> buf(4096);
        for (MP4SampleId id = 1; id <= std::min<uint32_t>(n, 300) + 1; ++id) {
            MP4GetSampleTime(f, t, id);
            MP4GetSampleDuration(f, t, id);
            MP4GetSampleSync(f, t, id);
            const uint32_t size = MP4GetSampleSize(f, t, id);
            uint8_t* p = nullptr;
            uint32_t got = 0;
            if (size <= (1u << 20) && MP4ReadSample(f, t, id, &p, &got)) {
                ++ok;
                MP4Free(p);
            }
            p = buf.data();
            got = uint32_t(buf.size());
            MP4ReadSample(f, t, id, &p, &got); // into a caller buffer that may be too small
        }
        for (MP4Timestamp when : {MP4Timestamp(0), MP4Timestamp(ts), d / 2, d, d + 1, ~MP4Timestamp(0)}) {
            MP4GetSampleIdFromTime(f, t, when, false);
            MP4GetSampleIdFromTime(f, t, when, true);
        }
    }
    MP4Close(f);
    return ok;
}

} // namespace mp4test
