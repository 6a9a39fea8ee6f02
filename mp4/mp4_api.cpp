// The public calls: each catches the library's errors, logs them with its name
// and returns its failure value.
#include "mp4/mp4.h"
#include "mp4/mp4_file.h"

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace mp4;

namespace {

MP4File* Need(MP4FileHandle h)
{
    if (!h)
        throw MP4NoFile();
    return FileFromHandle(h);
}

template <class A> A* FindTrackBox(MP4File* f, MP4TrackId trackId, const char* path)
{
    return dynamic_cast<A*>(f->FindTrackAtom(trackId, path));
}

MP4EsdsAtom* TrackEsds(MP4File* f, MP4TrackId trackId)
{
    return FindTrackBox<MP4EsdsAtom>(f, trackId, "mdia.minf.stbl.stsd.*.esds");
}

MP4AvcCAtom* TrackAvcC(MP4File* f, MP4TrackId trackId)
{
    if (auto* a = FindTrackBox<MP4AvcCAtom>(f, trackId, "mdia.minf.stbl.stsd.avc1.avcC"))
        return a;
    return FindTrackBox<MP4AvcCAtom>(f, trackId, "mdia.minf.stbl.stsd.avc3.avcC");
}

// The H.264 parameter-set calls also accept an H.265 track, where they look
// for tables this library's hvcC box does not have.
bool IsHevcTrack(MP4File* f, MP4TrackId trackId)
{
    MP4Atom* entry = f->GetTrack(trackId)->GetSampleEntry();
    return entry && (entry->IsType("hev1") || entry->IsType("hvc1"));
}

void AddParameterSet(const char* call, MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* p,
                     uint16_t len, bool sequence)
{
    Guard(call, false, [&] {
        MP4File* f = Need(hFile);
        if (!p && len)
            Throw("no parameter set");
        MP4AvcCAtom* avcc = TrackAvcC(f, trackId);
        if (!avcc) {
            if (IsHevcTrack(f, trackId)) {
                const char* what = sequence ? "mdia.minf.stbl.stsd.hev1.hvcC.numOfSequenceParameterSets"
                                            : "mdia.minf.stbl.stsd.hev1.hvcC.numOfPictureParameterSets";
                MP4Property* prop = nullptr;
                if (!f->GetTrack(trackId)->GetTrakAtom()->FindProperty(what, &prop)) {
                    Log(MP4_LOG_ERROR,
                        sequence ? "%s: \"%s\": Could not find hvcC properties"
                                 : "%s: \"%s\": Could not find hvcC picture table properties",
                        call, f->GetFilename().c_str());
                    return false;
                }
            }
            Throw("track %u has no avcC box", trackId);
        }
        auto& sets = sequence ? avcc->sequenceParameterSets : avcc->pictureParameterSets;
        std::vector<uint8_t> nal(p, p + len);
        for (const auto& s : sets)
            if (s == nal)
                return true; // already there
        sets.push_back(std::move(nal));
        f->ConfigChanged();
        return true;
    });
}

} // namespace

void MP4Free(void* p)
{
    free(p);
}

MP4FileHandle MP4CreateProviderEx(const char* fileName, uint32_t flags, const MP4FileProvider* fileProvider,
                                  int add_ftyp, int add_iods, char* majorBrand, uint32_t minorVersion,
                                  char** supportedBrands, uint32_t supportedBrandsCount)
{
    auto file = std::make_unique<MP4File>();
    const bool ok = Guard("MP4CreateProviderEx", false, [&] {
        if (fileProvider)
            Throw("file providers are not supported");
        file->Create(fileName, flags, add_ftyp != 0, add_iods != 0, majorBrand, minorVersion, supportedBrands,
                     supportedBrandsCount);
        return true;
    });
    return ok ? file.release() : MP4_INVALID_FILE_HANDLE;
}

MP4FileHandle MP4Read(const char* fileName)
{
    auto file = std::make_unique<MP4File>();
    const bool ok = Guard("MP4Read", false, [&] {
        file->Read(fileName);
        return true;
    });
    return ok ? file.release() : MP4_INVALID_FILE_HANDLE;
}

void MP4Close(MP4FileHandle hFile, uint32_t flags)
{
    if (!hFile)
        return;
    MP4File* f = FileFromHandle(hFile);
    Guard("MP4Close", false, [&] {
        f->Close(flags);
        return true;
    });
    delete f;
}

bool MP4SetTimeScale(MP4FileHandle hFile, uint32_t value)
{
    return Guard("MP4SetTimeScale", false, [&] {
        Need(hFile)->SetTimeScale(value);
        return true;
    });
}

uint32_t MP4GetTimeScale(MP4FileHandle hFile)
{
    return Guard("MP4GetTimeScale", uint32_t(0), [&] { return Need(hFile)->GetTimeScale(); });
}

MP4Duration MP4GetDuration(MP4FileHandle hFile)
{
    return Guard("MP4GetDuration", MP4_INVALID_DURATION, [&] { return Need(hFile)->GetDuration(); });
}

void MP4SetVideoProfileLevel(MP4FileHandle hFile, uint8_t value)
{
    Guard("MP4SetVideoProfileLevel", false, [&] {
        MP4File* f = Need(hFile);
        SetIntegerProperty(f->GetRootAtom(), "moov.iods.visualProfileLevelId", value);
        f->ConfigChanged();
        return true;
    });
}

uint8_t MP4GetVideoProfileLevel(MP4FileHandle hFile, MP4TrackId)
{
    return Guard("MP4GetVideoProfileLevel", uint8_t(0), [&] {
        return uint8_t(GetIntegerProperty(Need(hFile)->GetRootAtom(), "moov.iods.visualProfileLevelId"));
    });
}

void MP4SetAudioProfileLevel(MP4FileHandle hFile, uint8_t value)
{
    Guard("MP4SetAudioProfileLevel", false, [&] {
        MP4File* f = Need(hFile);
        SetIntegerProperty(f->GetRootAtom(), "moov.iods.audioProfileLevelId", value);
        f->ConfigChanged();
        return true;
    });
}

uint8_t MP4GetAudioProfileLevel(MP4FileHandle hFile)
{
    return Guard("MP4GetAudioProfileLevel", uint8_t(0), [&] {
        return uint8_t(GetIntegerProperty(Need(hFile)->GetRootAtom(), "moov.iods.audioProfileLevelId"));
    });
}

MP4TrackId MP4AddH264VideoTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                                uint16_t width, uint16_t height, uint8_t AVCProfileIndication,
                                uint8_t profile_compat, uint8_t AVCLevelIndication,
                                uint8_t sampleLenFieldSizeMinusOne)
{
    return Guard("MP4AddH264VideoTrack", MP4_INVALID_TRACK_ID, [&] {
        MP4File* f = Need(hFile);
        const MP4TrackId id = f->AddVideoTrack(timeScale, sampleDuration, width, height, "avc1");
        MP4AvcCAtom* avcc = TrackAvcC(f, id);
        SetIntegerProperty(avcc, "AVCProfileIndication", AVCProfileIndication);
        SetIntegerProperty(avcc, "profile_compatibility", profile_compat);
        SetIntegerProperty(avcc, "AVCLevelIndication", AVCLevelIndication);
        SetIntegerProperty(avcc, "lengthSizeMinusOne", sampleLenFieldSizeMinusOne & 3);
        return id;
    });
}

void MP4AddH264SequenceParameterSet(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* pSequence,
                                    uint16_t sequenceLen)
{
    AddParameterSet("MP4AddH264SequenceParameterSet", hFile, trackId, pSequence, sequenceLen, true);
}

void MP4AddH264PictureParameterSet(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* pPict,
                                   uint16_t pictLen)
{
    AddParameterSet("MP4AddH264PictureParameterSet", hFile, trackId, pPict, pictLen, false);
}

MP4TrackId MP4AddAudioTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                            uint8_t audioType)
{
    return Guard("MP4AddAudioTrack", MP4_INVALID_TRACK_ID, [&] {
        MP4File* f = Need(hFile);
        const MP4TrackId id = f->AddAudioTrack(timeScale, sampleDuration, "mp4a");
        TrackEsds(f, id)->Set("decConfigDescr.objectTypeId", audioType);
        return id;
    });
}

bool MP4SetTrackESConfiguration(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* pConfig,
                                uint32_t configSize)
{
    return Guard("MP4SetTrackESConfiguration", false, [&] {
        MP4File* f = Need(hFile);
        MP4EsdsAtom* esds = TrackEsds(f, trackId);
        if (!esds)
            Throw("track %u has no esds box", trackId);
        if (!pConfig && configSize)
            Throw("no configuration");
        esds->SetDecoderSpecificInfo(pConfig, configSize);
        f->ConfigChanged();
        return true;
    });
}

bool MP4GetTrackESConfiguration(MP4FileHandle hFile, MP4TrackId trackId, uint8_t** ppConfig,
                                uint32_t* pConfigSize)
{
    if (ppConfig)
        *ppConfig = nullptr;
    if (pConfigSize)
        *pConfigSize = 0;
    return Guard("MP4GetTrackESConfiguration", false, [&] {
        if (!ppConfig || !pConfigSize)
            Throw("no output");
        MP4EsdsAtom* esds = TrackEsds(Need(hFile), trackId);
        if (!esds)
            Throw("no such property - decSpecificInfo");
        if (!esds->HasDecoderSpecificInfo())
            return true;
        const auto& info = esds->DecoderSpecificInfo()->Value();
        auto* p = static_cast<uint8_t*>(malloc(info.size() ? info.size() : 1));
        if (!p)
            Throw("out of memory");
        if (!info.empty())
            memcpy(p, info.data(), info.size());
        *ppConfig = p;
        *pConfigSize = uint32_t(info.size());
        return true;
    });
}

uint32_t MP4GetNumberOfTracks(MP4FileHandle hFile, const char* type, uint8_t)
{
    return Guard("MP4GetNumberOfTracks", uint32_t(0), [&] {
        MP4File* f = Need(hFile);
        uint32_t n = 0;
        for (size_t i = 0; i < f->GetNumberOfTracks(); ++i)
            if (!type || strncmp(f->GetTrackAt(i)->GetType().c_str(), type, 4) == 0)
                ++n;
        return n;
    });
}

MP4TrackId MP4FindTrackId(MP4FileHandle hFile, uint16_t index, const char* type, uint8_t)
{
    return Guard("MP4FindTrackId", MP4_INVALID_TRACK_ID, [&] { return Need(hFile)->FindTrackId(index, type); });
}

const char* MP4GetTrackType(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackType", static_cast<const char*>(nullptr),
                 [&] { return Need(hFile)->GetTrack(trackId)->GetType().c_str(); });
}

const char* MP4GetTrackMediaDataName(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackMediaDataName", static_cast<const char*>(nullptr), [&]() -> const char* {
        MP4Atom* entry = Need(hFile)->GetTrack(trackId)->GetSampleEntry();
        return entry ? entry->GetType() : nullptr;
    });
}

uint32_t MP4GetTrackTimeScale(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackTimeScale", uint32_t(0),
                 [&] { return Need(hFile)->GetTrack(trackId)->GetTimeScale(); });
}

MP4Duration MP4GetTrackDuration(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackDuration", MP4_INVALID_DURATION,
                 [&] { return Need(hFile)->GetTrack(trackId)->GetDuration(); });
}

MP4Duration MP4GetTrackFixedSampleDuration(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackFixedSampleDuration", MP4_INVALID_DURATION,
                 [&] { return Need(hFile)->GetTrack(trackId)->GetFixedSampleDuration(); });
}

uint32_t MP4GetTrackBitRate(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackBitRate", uint32_t(0), [&] {
        MP4File* f = Need(hFile);
        if (MP4EsdsAtom* esds = TrackEsds(f, trackId)) {
            const uint64_t avg = esds->Get("decConfigDescr.avgBitrate");
            if (avg)
                return uint32_t(avg);
        }
        MP4Track* t = f->GetTrack(trackId);
        const MP4Duration d = t->GetDuration();
        if (d == 0 || t->GetTimeScale() == 0)
            return uint32_t(0);
        const unsigned __int128 bits = static_cast<unsigned __int128>(t->GetTotalBytes()) * 8 * t->GetTimeScale();
        const unsigned __int128 rate = bits / d;
        return rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(rate);
    });
}

double MP4GetTrackVideoFrameRate(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackVideoFrameRate", 0.0, [&] {
        MP4Track* t = Need(hFile)->GetTrack(trackId);
        const MP4Duration d = t->GetDuration();
        if (d == 0)
            return 0.0;
        return double(t->GetNumberOfSamples()) * t->GetTimeScale() / double(d);
    });
}

uint16_t MP4GetTrackVideoWidth(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackVideoWidth", uint16_t(0), [&] {
        MP4Track* t = Need(hFile)->GetTrack(trackId);
        MP4Property* p = nullptr;
        if (MP4Atom* e = t->GetSampleEntry(); e && e->FindProperty("width", &p) && p->GetType() == MP4PropertyType::Integer)
            return uint16_t(static_cast<MP4IntegerProperty*>(p)->GetValue());
        return uint16_t(GetIntegerProperty(t->GetTrakAtom(), "tkhd.width") >> 16);
    });
}

uint16_t MP4GetTrackVideoHeight(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackVideoHeight", uint16_t(0), [&] {
        MP4Track* t = Need(hFile)->GetTrack(trackId);
        MP4Property* p = nullptr;
        if (MP4Atom* e = t->GetSampleEntry(); e && e->FindProperty("height", &p) && p->GetType() == MP4PropertyType::Integer)
            return uint16_t(static_cast<MP4IntegerProperty*>(p)->GetValue());
        return uint16_t(GetIntegerProperty(t->GetTrakAtom(), "tkhd.height") >> 16);
    });
}

int MP4GetTrackAudioChannels(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackAudioChannels", -1, [&] {
        MP4Atom* e = Need(hFile)->GetTrack(trackId)->GetSampleEntry();
        return int(GetIntegerProperty(e, "channels"));
    });
}

MP4SampleId MP4GetTrackNumberOfSamples(MP4FileHandle hFile, MP4TrackId trackId)
{
    return Guard("MP4GetTrackNumberOfSamples", MP4SampleId(0),
                 [&] { return Need(hFile)->GetTrack(trackId)->GetNumberOfSamples(); });
}

bool MP4HaveAtom(MP4FileHandle hFile, const char* atomName)
{
    return Guard("MP4HaveAtom", false, [&] { return Need(hFile)->FindAtom(atomName) != nullptr; });
}

bool MP4HaveTrackAtom(MP4FileHandle hFile, MP4TrackId trackId, const char* atomName)
{
    return Guard("MP4HaveTrackAtom", false,
                 [&] { return Need(hFile)->FindTrackAtom(trackId, atomName) != nullptr; });
}

namespace {

MP4IntegerProperty* AsInteger(MP4Property* p, const char* name)
{
    if (p->GetType() != MP4PropertyType::Integer)
        Throw("type mismatch - property %s is not an integer", name);
    return static_cast<MP4IntegerProperty*>(p);
}

} // namespace

bool MP4GetIntegerProperty(MP4FileHandle hFile, const char* propName, uint64_t* retvalue)
{
    return Guard("MP4GetIntegerProperty", false, [&] {
        const uint64_t v = AsInteger(Need(hFile)->FindProperty(propName), propName)->GetValue();
        if (retvalue)
            *retvalue = v;
        return true;
    });
}

bool MP4SetIntegerProperty(MP4FileHandle hFile, const char* propName, int64_t value)
{
    return Guard("MP4SetIntegerProperty", false, [&] {
        MP4File* f = Need(hFile);
        AsInteger(f->FindProperty(propName), propName)->SetValue(uint64_t(value));
        f->ConfigChanged();
        return true;
    });
}

bool MP4GetTrackIntegerProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName, uint64_t* retvalue)
{
    return Guard("MP4GetTrackIntegerProperty", false, [&] {
        const uint64_t v = AsInteger(Need(hFile)->FindTrackProperty(trackId, propName), propName)->GetValue();
        if (retvalue)
            *retvalue = v;
        return true;
    });
}

bool MP4SetTrackIntegerProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName, int64_t value)
{
    return Guard("MP4SetTrackIntegerProperty", false, [&] {
        MP4File* f = Need(hFile);
        AsInteger(f->FindTrackProperty(trackId, propName), propName)->SetValue(uint64_t(value));
        f->ConfigChanged();
        return true;
    });
}

bool MP4GetTrackBytesProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName, uint8_t** ppValue,
                              uint32_t* pValueSize)
{
    if (ppValue)
        *ppValue = nullptr;
    if (pValueSize)
        *pValueSize = 0;
    return Guard("MP4GetTrackBytesProperty", false, [&] {
        if (!ppValue || !pValueSize)
            Throw("no output");
        MP4Property* p = Need(hFile)->FindTrackProperty(trackId, propName);
        if (p->GetType() != MP4PropertyType::Bytes)
            Throw("type mismatch - property %s is not bytes", propName);
        const auto& v = static_cast<MP4BytesProperty*>(p)->Value();
        auto* out = static_cast<uint8_t*>(malloc(v.size() ? v.size() : 1));
        if (!out)
            Throw("out of memory");
        if (!v.empty())
            memcpy(out, v.data(), v.size());
        *ppValue = out;
        *pValueSize = uint32_t(v.size());
        return true;
    });
}

bool MP4SetTrackBytesProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName,
                              const uint8_t* pValue, uint32_t valueSize)
{
    return Guard("MP4SetTrackBytesProperty", false, [&] {
        MP4File* f = Need(hFile);
        MP4Property* p = f->FindTrackProperty(trackId, propName);
        if (p->GetType() != MP4PropertyType::Bytes)
            Throw("type mismatch - property %s is not bytes", propName);
        if (!pValue && valueSize)
            Throw("no value");
        static_cast<MP4BytesProperty*>(p)->SetValue(pValue, valueSize);
        f->ConfigChanged();
        return true;
    });
}

bool MP4WriteSample(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* pBytes, uint32_t numBytes,
                    MP4Duration duration, MP4Duration renderingOffset, bool isSyncSample)
{
    return Guard("MP4WriteSample", false, [&] {
        Need(hFile)->WriteSample(trackId, pBytes, numBytes, duration, renderingOffset, isSyncSample);
        return true;
    });
}

bool MP4ReadSample(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId, uint8_t** ppBytes,
                   uint32_t* pNumBytes, MP4Timestamp* pStartTime, MP4Duration* pDuration,
                   MP4Duration* pRenderingOffset, bool* pIsSyncSample)
{
    return Guard("MP4ReadSample", false, [&] {
        MP4File* f = Need(hFile);
        if (!ppBytes || !pNumBytes)
            Throw("no output");
        MP4Track* t = f->GetTrack(trackId);
        const uint32_t size = t->GetSampleSize(sampleId);
        MP4Timestamp start = 0;
        MP4Duration duration = 0;
        t->GetSampleTimes(sampleId, &start, &duration);
        uint8_t* buf = *ppBytes;
        std::unique_ptr<uint8_t, void (*)(void*)> owned(nullptr, free);
        if (!buf) {
            owned.reset(static_cast<uint8_t*>(malloc(size ? size : 1)));
            if (!owned)
                Throw("out of memory");
            buf = owned.get();
        } else if (*pNumBytes < size) {
            Throw("sample buffer size is too small (%u < %u)", *pNumBytes, size);
        }
        f->ReadSampleBytes(*t, sampleId, buf, size);
        *ppBytes = buf;
        owned.release();
        *pNumBytes = size;
        if (pStartTime)
            *pStartTime = start;
        if (pDuration)
            *pDuration = duration;
        if (pRenderingOffset)
            *pRenderingOffset = t->GetRenderingOffset(sampleId);
        if (pIsSyncSample)
            *pIsSyncSample = t->IsSyncSample(sampleId);
        return true;
    });
}

MP4Timestamp MP4GetSampleTime(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId)
{
    return Guard("MP4GetSampleTime", MP4_INVALID_TIMESTAMP, [&] {
        MP4Timestamp start = 0;
        Need(hFile)->GetTrack(trackId)->GetSampleTimes(sampleId, &start, nullptr);
        return start;
    });
}

MP4Duration MP4GetSampleDuration(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId)
{
    return Guard("MP4GetSampleDuration", MP4_INVALID_DURATION, [&] {
        MP4Duration d = 0;
        Need(hFile)->GetTrack(trackId)->GetSampleTimes(sampleId, nullptr, &d);
        return d;
    });
}

uint32_t MP4GetSampleSize(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId)
{
    return Guard("MP4GetSampleSize", uint32_t(0),
                 [&] { return Need(hFile)->GetTrack(trackId)->GetSampleSize(sampleId); });
}

int8_t MP4GetSampleSync(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId)
{
    return Guard("MP4GetSampleSync", int8_t(-1),
                 [&] { return int8_t(Need(hFile)->GetTrack(trackId)->IsSyncSample(sampleId) ? 1 : 0); });
}

MP4SampleId MP4GetSampleIdFromTime(MP4FileHandle hFile, MP4TrackId trackId, MP4Timestamp when, bool wantSyncSample)
{
    return Guard("MP4GetSampleIdFromTime", MP4_INVALID_SAMPLE_ID,
                 [&] { return Need(hFile)->GetTrack(trackId)->GetSampleIdFromTime(when, wantSyncSample); });
}
