// The system's own additions to the MP4 library: H.265 tracks ("hev1" with
// "hvcC"), fixed sample durations, the mu-law track with a sample duration,
// and the recovery journal that finishes files interrupted by a crash.
#pragma once

#include "mp4/mp4.h"

#include <cstdint>

// Offset and length of up to three NAL units (without start codes) inside a
// buffer: SPS and PPS for H.264, VPS, SPS and PPS for H.265.
struct NalPositions {
    struct Position {
        int32_t offset;
        int32_t length;
    } nal[3];
};
static_assert(sizeof(NalPositions) == 24);

// Adds the "hev1"/"hvc1"/"hvcC" box types to the library's box factory. The
// calls below do it themselves; a reader that may meet H.265 files calls it
// once before MP4Read so that their boxes are understood rather than kept raw.
void MP4RegisterH265Atoms();

// A video track with an "hev1" sample entry of this size; 0 on failure.
MP4TrackId MP4AddH265VideoTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                                uint16_t width, uint16_t height);

// Rebuilds the track's hvcC parameter arrays from the units at the positions
// (count at most 3) and fills the record header from the VPS and SPS.
// Returns the number of units stored, or: -1 the track is not "hev1" (also
// when the library fails), -5 no hvcC box, -3 no parameter-array property.
int MP4AddH265ParameterArraySet(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* buffer,
                                const NalPositions* positions, int count);

// Sets the track's fixed sample duration (used by samples written without one).
bool MP4UpdateFixSampleDuration(MP4FileHandle hFile, MP4TrackId trackId, MP4Duration duration);

// An audio track with a "ulaw" sample entry; its fixed sample duration is
// sampleDuration, or timeScale / 8 when 0. 0 on failure.
MP4TrackId MP4AddULawAudioTrack(MP4FileHandle hFile, uint32_t timeScale, uint32_t sampleDuration);

// Starts the recovery journal of a file being written: journalName gets a
// snapshot of the movie box and a record per sample, written out every
// intervalMs after the sample bytes (and synced to disk when syncToDisk).
// MP4Close removes it.
bool MP4EnableRecoveryJournal(MP4FileHandle hFile, const char* journalName, uint32_t intervalMs,
                              bool syncToDisk);

// MP4Close that leaves the recovery journal in place, so that the caller can
// rename the finished file before removing the journal. True when the movie
// box was written; the handle is released in every case.
bool MP4CloseKeepJournal(MP4FileHandle hFile);

// Finishes a file whose writer died, from its journal: the journaled samples
// whose bytes are in the file are kept and the movie box is written; the
// journal is removed when removeJournal. Returns the samples kept; 0 without
// touching the file when the journal holds nothing yet (its writer died
// before the first write-out); -1 (file in use by a writer, journal
// unusable, I/O error; both files stay as they were).
int MP4RecoverFile(const char* fileName, const char* journalName, bool removeJournal = true);

// The number of samples of a finished MP4 file (no writer holds it, its
// boxes run from "ftyp" to the end with one complete movie box); -1 for any
// other file, also one still being written or cut short.
int MP4FinishedFileSamples(const char* fileName);
