// The public calls of the MP4 library extensions.
#include "media/mp4ext/mp4ext.h"

#include "media/mp4ext/mp4_hevc.h"

#include <mutex>

using namespace mp4;
using namespace mp4ext;

namespace {

MP4Atom* MakeHev1(MP4File& file, const char* type)
{
    return new MP4Hev1Atom(file, type);
}

MP4Atom* MakeHvcC(MP4File& file, const char*)
{
    return new MP4HvcCAtom(file);
}

MP4File* Need(MP4FileHandle h)
{
    if (!h)
        throw MP4NoFile();
    return FileFromHandle(h);
}

} // namespace

void MP4RegisterH265Atoms()
{
    static std::once_flag once;
    std::call_once(once, [] {
        MP4Atom::RegisterType("hev1", MakeHev1);
        MP4Atom::RegisterType("hvc1", MakeHev1);
        MP4Atom::RegisterType("hvcC", MakeHvcC);
    });
}

MP4TrackId MP4AddH265VideoTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                                uint16_t width, uint16_t height)
{
    MP4RegisterH265Atoms();
    return Guard("MP4AddH265VideoTrack", MP4_INVALID_TRACK_ID, [&] {
        return Need(hFile)->AddVideoTrack(timeScale, sampleDuration, width, height, "hev1");
    });
}

int MP4AddH265ParameterArraySet(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* buffer,
                                const NalPositions* positions, int count)
{
    MP4RegisterH265Atoms();
    return Guard("MP4AddH265ParameterArraySet", -1, [&] {
        return AddH265ParameterArraySet(*Need(hFile), trackId, buffer, positions, count);
    });
}

bool MP4UpdateFixSampleDuration(MP4FileHandle hFile, MP4TrackId trackId, MP4Duration duration)
{
    return Guard("MP4UpdateFixSampleDuration", false, [&] {
        MP4Track* track = Need(hFile)->GetTrack(trackId);
        track->SetFixedSampleDuration(duration);
        return track->GetFixedSampleDuration() == duration;
    });
}

MP4TrackId MP4AddULawAudioTrack(MP4FileHandle hFile, uint32_t timeScale, uint32_t sampleDuration)
{
    return Guard("MP4AddULawAudioTrack", MP4_INVALID_TRACK_ID, [&] {
        const uint32_t duration = sampleDuration ? sampleDuration : timeScale / 8;
        return Need(hFile)->AddAudioTrack(timeScale, duration, "ulaw");
    });
}

bool MP4EnableRecoveryJournal(MP4FileHandle hFile, const char* journalName, uint32_t intervalMs, bool syncToDisk)
{
    return Guard("MP4EnableRecoveryJournal", false, [&] {
        if (!journalName || !*journalName)
            Throw("no journal name");
        Need(hFile)->EnableJournal(journalName, intervalMs, syncToDisk);
        return true;
    });
}

bool MP4CloseKeepJournal(MP4FileHandle hFile)
{
    if (!hFile)
        return false;
    MP4File* f = FileFromHandle(hFile);
    const bool finished = Guard("MP4Close", false, [&] {
        f->Close(0, true);
        return true;
    });
    delete f;
    return finished;
}

int MP4RecoverFile(const char* fileName, const char* journalName, bool removeJournal)
{
    MP4RegisterH265Atoms();
    return Guard("MP4RecoverFile", -1, [&] {
        if (!fileName || !journalName)
            Throw("no file name");
        const uint32_t kept = MP4File::RecoverFromJournal(fileName, journalName, removeJournal);
        return kept > 0x7FFFFFFFu ? 0x7FFFFFFF : int(kept);
    });
}

int MP4FinishedFileSamples(const char* fileName)
{
    if (!fileName || !*fileName)
        return -1;
    MP4RegisterH265Atoms();
    const int64_t samples = MP4File::FinishedSamples(fileName);
    return samples > 0x7FFFFFFF ? 0x7FFFFFFF : int(samples);
}
