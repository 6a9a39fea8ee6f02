// The MP4 (ISO base media file) library: the mp4v2 C calls that the recorder
// and the reader use, with mp4v2's names, arguments and failure values.
#pragma once

#include <cstdint>

typedef void* MP4FileHandle;
typedef uint32_t MP4TrackId;
typedef uint32_t MP4SampleId;
typedef uint64_t MP4Timestamp;
typedef uint64_t MP4Duration;

inline constexpr MP4FileHandle MP4_INVALID_FILE_HANDLE = nullptr;
inline constexpr MP4TrackId MP4_INVALID_TRACK_ID = 0;
inline constexpr MP4SampleId MP4_INVALID_SAMPLE_ID = 0;
inline constexpr MP4Timestamp MP4_INVALID_TIMESTAMP = ~MP4Timestamp(0);
inline constexpr MP4Duration MP4_INVALID_DURATION = ~MP4Duration(0);

inline constexpr const char* MP4_VIDEO_TRACK_TYPE = "vide";
inline constexpr const char* MP4_AUDIO_TRACK_TYPE = "soun";
inline constexpr uint8_t MP4_MPEG4_AUDIO_TYPE = 0x40;
inline constexpr uint32_t MP4_MSECS_TIME_SCALE = 1000;

// MP4CreateProviderEx flags.
inline constexpr uint32_t MP4_CREATE_64BIT_DATA = 0x01; // start with a 64-bit mdat header
inline constexpr uint32_t MP4_CREATE_64BIT_TIME = 0x02; // version 1 time fields
// MP4Close flags.
inline constexpr uint32_t MP4_CLOSE_DO_NOT_COMPUTE_BITRATE = 0x01;

// Custom file I/O is not supported; a non-null provider makes creation fail.
struct MP4FileProvider;

enum MP4LogLevel {
    MP4_LOG_NONE = 0,
    MP4_LOG_ERROR = 1,
    MP4_LOG_WARNING = 2,
    MP4_LOG_INFO = 3,
    MP4_LOG_VERBOSE1 = 4,
    MP4_LOG_VERBOSE2 = 5,
};

// Receives every library message at or below the log level (default: errors,
// to stderr). Set once at start-up; the callback may run on any thread.
typedef void (*MP4LogCallback)(MP4LogLevel level, const char* message);
void MP4SetLogCallback(MP4LogCallback callback);
void MP4LogSetLevel(MP4LogLevel level);
MP4LogLevel MP4LogGetLevel();

// --- files ---
MP4FileHandle MP4CreateProviderEx(const char* fileName, uint32_t flags = 0,
                                  const MP4FileProvider* fileProvider = nullptr,
                                  int add_ftyp = 1, int add_iods = 1, char* majorBrand = nullptr,
                                  uint32_t minorVersion = 0, char** supportedBrands = nullptr,
                                  uint32_t supportedBrandsCount = 0);
MP4FileHandle MP4Read(const char* fileName);
// Writes the movie box (write mode) and releases the handle in every case.
void MP4Close(MP4FileHandle hFile, uint32_t flags = 0);
void MP4Free(void* p);

bool MP4SetTimeScale(MP4FileHandle hFile, uint32_t value);
uint32_t MP4GetTimeScale(MP4FileHandle hFile);
MP4Duration MP4GetDuration(MP4FileHandle hFile);
void MP4SetVideoProfileLevel(MP4FileHandle hFile, uint8_t value);
uint8_t MP4GetVideoProfileLevel(MP4FileHandle hFile, MP4TrackId trackId = MP4_INVALID_TRACK_ID);
void MP4SetAudioProfileLevel(MP4FileHandle hFile, uint8_t value);
uint8_t MP4GetAudioProfileLevel(MP4FileHandle hFile);

// --- tracks ---
MP4TrackId MP4AddH264VideoTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                                uint16_t width, uint16_t height, uint8_t AVCProfileIndication,
                                uint8_t profile_compat, uint8_t AVCLevelIndication,
                                uint8_t sampleLenFieldSizeMinusOne);
void MP4AddH264SequenceParameterSet(MP4FileHandle hFile, MP4TrackId trackId,
                                    const uint8_t* pSequence, uint16_t sequenceLen);
void MP4AddH264PictureParameterSet(MP4FileHandle hFile, MP4TrackId trackId,
                                   const uint8_t* pPict, uint16_t pictLen);
MP4TrackId MP4AddAudioTrack(MP4FileHandle hFile, uint32_t timeScale, MP4Duration sampleDuration,
                            uint8_t audioType = MP4_MPEG4_AUDIO_TYPE);
bool MP4SetTrackESConfiguration(MP4FileHandle hFile, MP4TrackId trackId,
                                const uint8_t* pConfig, uint32_t configSize);
// *ppConfig is allocated (MP4Free) or null when the track has no configuration.
bool MP4GetTrackESConfiguration(MP4FileHandle hFile, MP4TrackId trackId,
                                uint8_t** ppConfig, uint32_t* pConfigSize);

uint32_t MP4GetNumberOfTracks(MP4FileHandle hFile, const char* type = nullptr, uint8_t subType = 0);
// The index-th track (0-based) of the type (any type when null).
MP4TrackId MP4FindTrackId(MP4FileHandle hFile, uint16_t index, const char* type = nullptr,
                          uint8_t subType = 0);
const char* MP4GetTrackType(MP4FileHandle hFile, MP4TrackId trackId);
// The four-character type of the track's first sample entry ("avc1", "mp4a"...).
const char* MP4GetTrackMediaDataName(MP4FileHandle hFile, MP4TrackId trackId);
uint32_t MP4GetTrackTimeScale(MP4FileHandle hFile, MP4TrackId trackId);
MP4Duration MP4GetTrackDuration(MP4FileHandle hFile, MP4TrackId trackId);
MP4Duration MP4GetTrackFixedSampleDuration(MP4FileHandle hFile, MP4TrackId trackId);
uint32_t MP4GetTrackBitRate(MP4FileHandle hFile, MP4TrackId trackId);
double MP4GetTrackVideoFrameRate(MP4FileHandle hFile, MP4TrackId trackId);
uint16_t MP4GetTrackVideoWidth(MP4FileHandle hFile, MP4TrackId trackId);
uint16_t MP4GetTrackVideoHeight(MP4FileHandle hFile, MP4TrackId trackId);
int MP4GetTrackAudioChannels(MP4FileHandle hFile, MP4TrackId trackId);
MP4SampleId MP4GetTrackNumberOfSamples(MP4FileHandle hFile, MP4TrackId trackId);

// Properties by name: names of track properties start below "trak"
// ("mdia.minf.stbl.stsd.mp4a.channels"); "*" matches any box.
bool MP4HaveAtom(MP4FileHandle hFile, const char* atomName);
bool MP4HaveTrackAtom(MP4FileHandle hFile, MP4TrackId trackId, const char* atomName);
bool MP4GetIntegerProperty(MP4FileHandle hFile, const char* propName, uint64_t* retvalue);
bool MP4SetIntegerProperty(MP4FileHandle hFile, const char* propName, int64_t value);
bool MP4GetTrackIntegerProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName,
                                uint64_t* retvalue);
bool MP4SetTrackIntegerProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName,
                                int64_t value);
// *ppValue is allocated (MP4Free).
bool MP4GetTrackBytesProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName,
                              uint8_t** ppValue, uint32_t* pValueSize);
bool MP4SetTrackBytesProperty(MP4FileHandle hFile, MP4TrackId trackId, const char* propName,
                              const uint8_t* pValue, uint32_t valueSize);

// --- samples (ids start at 1) ---
bool MP4WriteSample(MP4FileHandle hFile, MP4TrackId trackId, const uint8_t* pBytes, uint32_t numBytes,
                    MP4Duration duration = MP4_INVALID_DURATION, MP4Duration renderingOffset = 0,
                    bool isSyncSample = true);
// With *ppBytes null the sample is allocated (MP4Free); otherwise *pNumBytes
// is the buffer's size and a larger sample fails. *pNumBytes is the sample size after.
bool MP4ReadSample(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId, uint8_t** ppBytes,
                   uint32_t* pNumBytes, MP4Timestamp* pStartTime = nullptr,
                   MP4Duration* pDuration = nullptr, MP4Duration* pRenderingOffset = nullptr,
                   bool* pIsSyncSample = nullptr);
MP4Timestamp MP4GetSampleTime(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId);
MP4Duration MP4GetSampleDuration(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId);
uint32_t MP4GetSampleSize(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId);
// 1 sync, 0 not, -1 on failure.
int8_t MP4GetSampleSync(MP4FileHandle hFile, MP4TrackId trackId, MP4SampleId sampleId);
// The sample playing at `when`; with wantSyncSample the first sync sample from it on.
MP4SampleId MP4GetSampleIdFromTime(MP4FileHandle hFile, MP4TrackId trackId, MP4Timestamp when,
                                   bool wantSyncSample = false);
