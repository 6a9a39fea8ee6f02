// An MP4 file being written or read, its tracks with their sample tables, and
// the recovery journal that lets a file interrupted by a crash be finished.
#pragma once

#include "mp4/mp4_atom.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mp4 {

class MP4File;

class MP4Track {
public:
    MP4Track(MP4File& file, MP4Atom* trak);
    MP4Track(const MP4Track&) = delete;
    MP4Track& operator=(const MP4Track&) = delete;

    MP4Atom* GetTrakAtom() const { return m_trak; }
    MP4TrackId GetId() const;
    const std::string& GetType() const { return m_type; }
    uint32_t GetTimeScale() const;
    MP4Duration GetDuration() const;
    uint32_t GetNumberOfSamples() const { return m_stsz->Count(); }
    MP4Duration GetFixedSampleDuration() const { return m_fixedSampleDuration; }
    void SetFixedSampleDuration(MP4Duration d) { m_fixedSampleDuration = d; }
    // The first sample entry (the box below stsd), or null.
    MP4Atom* GetSampleEntry() const { return m_stsd->GetChildAtom(0); }
    uint64_t GetTotalBytes() const { return m_totalBytes; }
    uint32_t GetMaxSampleSize() const { return m_maxSampleSize; }

    // Writing: a sample whose bytes are at `offset` of the file.
    void AppendSample(uint64_t offset, uint32_t size, MP4Duration duration, MP4Duration renderingOffset,
                      bool sync);
    // Forgets the last sample appended (its bytes never reached the file).
    void RemoveLastSample();
    // Completes the tables and headers before the movie box is written.
    void FinishWrite(uint32_t movieTimeScale, bool computeBitrate);

    // Reading: checks the tables against each other and the file size.
    void PrepareRead(uint64_t fileSize);
    uint32_t GetSampleSize(MP4SampleId id) const;
    uint64_t GetSampleOffset(MP4SampleId id) const;
    void GetSampleTimes(MP4SampleId id, MP4Timestamp* start, MP4Duration* duration) const;
    MP4Duration GetRenderingOffset(MP4SampleId id) const;
    bool IsSyncSample(MP4SampleId id) const;
    MP4SampleId GetSampleIdFromTime(MP4Timestamp when, bool wantSync) const;

private:
    void CheckId(MP4SampleId id) const;
    MP4Atom* Need(const char* path);

    MP4File& m_file;
    MP4Atom* m_trak;
    std::string m_type;
    MP4Atom* m_tkhd = nullptr;
    MP4Atom* m_mdhd = nullptr;
    MP4Atom* m_stbl = nullptr;
    MP4Atom* m_stsd = nullptr;
    MP4SttsAtom* m_stts = nullptr;
    MP4CttsAtom* m_ctts = nullptr;
    MP4StssAtom* m_stss = nullptr;
    MP4StszAtom* m_stsz = nullptr;
    MP4StscAtom* m_stsc = nullptr;
    MP4ChunkOffsetAtom* m_stco = nullptr;
    MP4Duration m_fixedSampleDuration = 0;
    uint64_t m_totalBytes = 0;
    uint32_t m_maxSampleSize = 0;

    // writing
    std::vector<uint32_t> m_chunkFirstSample; // 1-based, per chunk
    uint64_t m_chunkEnd = 0;                  // where the current chunk's next sample would start
    MP4Duration m_durationSum = 0;
    bool m_allSync = true; // no stss entries are kept while every sample is a sync sample

    // reading
    std::vector<uint64_t> m_sampleOffsets; // per sample, with variable sizes
    std::vector<uint32_t> m_chunkStart;    // first sample (0-based) of each chunk
    std::vector<uint32_t> m_chunkCount;    // samples in each chunk
    std::vector<uint64_t> m_sttsFirst; // first sample id of each stts entry
    std::vector<uint64_t> m_sttsStart; // start time of each stts entry
    std::vector<uint64_t> m_sttsEnd;   // end time of each stts entry
    std::vector<uint64_t> m_cttsFirst;
};

class MP4File {
public:
    MP4File();
    ~MP4File();
    MP4File(const MP4File&) = delete;
    MP4File& operator=(const MP4File&) = delete;

    void Create(const char* name, uint32_t flags, bool addFtyp, bool addIods, const char* majorBrand,
                uint32_t minorVersion, char** brands, uint32_t brandCount);
    void Read(const char* name);
    // Write mode: finishes the file; the journal is removed unless keepJournal
    // (the caller removes it once the finished file has its final name).
    // Always releases the file descriptor.
    void Close(uint32_t flags, bool keepJournal = false);

    bool IsWriting() const { return m_writing; }
    const std::string& GetFilename() const { return m_name; }
    MP4Atom* GetRootAtom() { return m_root.get(); }
    // A box by its path from the top ("moov.trak[0].mdia"); null when missing.
    MP4Atom* FindAtom(const char* name);
    MP4Property* FindProperty(const char* name); // throws when missing

    uint32_t GetTimeScale();
    void SetTimeScale(uint32_t value);
    MP4Duration GetDuration();

    MP4TrackId AddTrack(const char* type, uint32_t timeScale);
    // A video track with a sample entry of the type (made by the box factory).
    MP4TrackId AddVideoTrack(uint32_t timeScale, MP4Duration sampleDuration, uint16_t width, uint16_t height,
                             const char* entryType);
    MP4TrackId AddAudioTrack(uint32_t timeScale, MP4Duration sampleDuration, const char* entryType);
    MP4Track* GetTrack(MP4TrackId id); // throws for an unknown id
    size_t GetNumberOfTracks() const { return m_tracks.size(); }
    MP4Track* GetTrackAt(size_t index) const { return m_tracks[index].get(); }
    MP4TrackId FindTrackId(uint16_t index, const char* type);
    MP4Atom* FindTrackAtom(MP4TrackId id, const char* name);     // null when missing
    MP4Property* FindTrackProperty(MP4TrackId id, const char* name); // throws when missing

    void WriteSample(MP4TrackId id, const uint8_t* bytes, uint32_t size, MP4Duration duration,
                     MP4Duration renderingOffset, bool sync);
    void ReadSampleBytes(MP4Track& track, MP4SampleId id, uint8_t* dst, uint32_t size);
    uint64_t GetFileSize() const { return m_fileSize; }

    // Every call that changes the movie box's configuration reports it, so
    // the journal takes a new snapshot before the next sample.
    void ConfigChanged() { ++m_configGeneration; }

    // Writes a recovery journal at `path` from now on: a snapshot of the movie
    // box whenever it changes and one record per sample, written only after
    // the sample's bytes; every intervalMs the data and then the journal are
    // written out (and synced to disk when syncToDisk).
    void EnableJournal(const char* path, uint32_t intervalMs, bool syncToDisk);
    // Finishes the interrupted file `dataPath` from its journal: keeps every
    // journaled sample whose bytes are in the file, writes the movie box and
    // removes the journal when removeJournal. Returns the number of samples
    // kept; 0 without touching the data file when the journal holds no movie
    // box yet (its writer died before the first write-out). Throws on failure.
    static uint32_t RecoverFromJournal(const char* dataPath, const char* journalPath, bool removeJournal = true);
    // The number of samples of a finished file: not being written, boxes from
    // "ftyp" to the end of the file, one complete movie box. -1 otherwise.
    static int64_t FinishedSamples(const char* path);

private:
    struct SampleRecord {
        uint8_t trackIndex; // 1-based position of the track in the movie box
        uint8_t sync;
        uint32_t size;
        uint32_t duration;
        int32_t renderingOffset;
    };

    void InitMovie(bool addIods);
    MP4Atom* Moov();
    void WriteAt(uint64_t offset, const void* data, size_t size);
    void AppendData(const uint8_t* bytes, uint32_t size);
    bool FlushData();                 // false when the write failed (unflushed samples dropped)
    void DropUnflushedSamples();
    void DurableFlush();
    void QueueSampleRecord(const SampleRecord& r);
    void QueueMovieSnapshot();
    void WriteJournal();
    void FinishMovie(bool computeBitrate);
    void CloseFd();

    std::string m_name;
    int m_fd = -1;
    bool m_writing = false;
    uint64_t m_fileSize = 0; // reading
    std::unique_ptr<MP4Atom> m_root;
    std::vector<std::unique_ptr<MP4Track>> m_tracks;

    // writing: ftyp, a "free" box that may become the 64-bit mdat header, mdat
    uint64_t m_mdatPos = 0;   // where the free/mdat headers start
    uint64_t m_dataStart = 0; // first byte of sample data
    uint64_t m_dataEnd = 0;   // end of the data written so far (buffered included)
    uint64_t m_flushedEnd = 0;
    bool m_largeMdat = false;
    std::vector<uint8_t> m_buffer;
    size_t m_bufferUsed = 0;
    std::vector<SampleRecord> m_unflushed; // samples whose bytes are still in m_buffer

    // journal
    int m_journalFd = -1;
    std::string m_journalPath;
    std::vector<uint8_t> m_journalQueue; // records whose samples' bytes reached the file
    uint64_t m_configGeneration = 1;
    uint64_t m_journalGeneration = 0;
    std::chrono::milliseconds m_journalInterval{1000};
    bool m_journalSync = true;
    std::chrono::steady_clock::time_point m_lastDurable;
};

// The handle of the public calls.
inline MP4File* FileFromHandle(MP4FileHandle h)
{
    return static_cast<MP4File*>(h);
}

} // namespace mp4
