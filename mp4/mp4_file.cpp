// Writing, reading and recovering MP4 files: sample data goes straight to the
// file behind a small buffer, the movie box is built in memory and written at
// the end; a journal beside the file lets an interrupted file be finished.
#include "mp4/mp4_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace mp4 {

namespace {

constexpr size_t kWriteBufferSize = 1 << 20;
constexpr uint64_t kMaxMoovSize = uint64_t(1) << 30;
constexpr char kJournalMagic[8] = {'Q', 'M', 'P', '4', 'J', 'N', 'L', '1'};
constexpr uint32_t kJournalVersion = 1;
constexpr size_t kJournalHeaderSize = 32;
constexpr size_t kSampleRecordSize = 20;
constexpr size_t kMovieRecordHead = 12;

uint32_t Fnv1a(const uint8_t* p, size_t n)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

void PutLE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t GetLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void PutLE64(uint8_t* p, uint64_t v)
{
    PutLE32(p, uint32_t(v));
    PutLE32(p + 4, uint32_t(v >> 32));
}

uint64_t GetLE64(const uint8_t* p)
{
    return uint64_t(GetLE32(p)) | (uint64_t(GetLE32(p + 4)) << 32);
}

void PreadAll(int fd, uint64_t offset, void* dst, size_t size)
{
    auto* p = static_cast<uint8_t*>(dst);
    while (size) {
        const ssize_t n = pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Throw("read at %llu failed: %s", static_cast<unsigned long long>(offset),
                  n < 0 ? strerror(errno) : "end of file");
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
}

// Writes all bytes; false on failure, with *written the bytes that did get written.
bool PwriteAll(int fd, uint64_t offset, const void* data, size_t size, size_t* written = nullptr)
{
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = pwrite(fd, p + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (written)
        *written = done;
    return ok;
}

uint64_t ScaleTime(uint64_t t, uint32_t from, uint32_t to)
{
    if (from == 0 || from == to)
        return t;
    const unsigned __int128 v = static_cast<unsigned __int128>(t) * to / from;
    return v > std::numeric_limits<uint64_t>::max() ? std::numeric_limits<uint64_t>::max() : uint64_t(v);
}

template <class T> T* FindChild(MP4Atom* parent, const char* type)
{
    return dynamic_cast<T*>(parent ? parent->FindChildAtom(type) : nullptr);
}

} // namespace

// --- MP4Track ---

MP4Track::MP4Track(MP4File& file, MP4Atom* trak) : m_file(file), m_trak(trak)
{
    m_tkhd = Need("tkhd");
    m_mdhd = Need("mdia.mdhd");
    MP4Atom* hdlr = Need("mdia.hdlr");
    MP4Property* ht = nullptr;
    if (hdlr->FindProperty("handlerType", &ht))
        m_type = static_cast<MP4StringProperty*>(ht)->GetValue();
    m_type.resize(4, '\0');
    m_stbl = Need("mdia.minf.stbl");
    m_stsd = Need("mdia.minf.stbl.stsd");
    m_stts = FindChild<MP4SttsAtom>(m_stbl, "stts");
    m_ctts = FindChild<MP4CttsAtom>(m_stbl, "ctts");
    m_stss = FindChild<MP4StssAtom>(m_stbl, "stss");
    m_stsz = FindChild<MP4StszAtom>(m_stbl, "stsz");
    if (!m_stsz)
        m_stsz = FindChild<MP4StszAtom>(m_stbl, "stz2");
    m_stsc = FindChild<MP4StscAtom>(m_stbl, "stsc");
    m_stco = FindChild<MP4ChunkOffsetAtom>(m_stbl, "stco");
    if (!m_stco)
        m_stco = FindChild<MP4ChunkOffsetAtom>(m_stbl, "co64");
    if (!m_stts || !m_stsz || !m_stsc || !m_stco)
        Throw("track %u: sample tables missing", GetId());
    m_allSync = m_stss == nullptr;
}

MP4Atom* MP4Track::Need(const char* path)
{
    MP4Atom* a = m_trak->FindChildAtom(path);
    if (!a)
        Throw("track: no %s box", path);
    return a;
}

MP4TrackId MP4Track::GetId() const
{
    return MP4TrackId(GetIntegerProperty(m_tkhd, "trackId"));
}

uint32_t MP4Track::GetTimeScale() const
{
    return uint32_t(GetIntegerProperty(m_mdhd, "timeScale"));
}

MP4Duration MP4Track::GetDuration() const
{
    return m_file.IsWriting() ? m_durationSum : GetIntegerProperty(m_mdhd, "duration");
}

void MP4Track::AppendSample(uint64_t offset, uint32_t size, MP4Duration duration, MP4Duration renderingOffset,
                            bool sync)
{
    if (duration > 0xFFFFFFFFu)
        Throw("sample duration %llu too large", static_cast<unsigned long long>(duration));
    if (m_stsz->sizes.size() >= 0xFFFFFFFEu)
        Throw("too many samples");
    const uint32_t id = uint32_t(m_stsz->sizes.size()) + 1;
    const uint32_t delta = uint32_t(duration);
    const auto ro = int32_t(int64_t(renderingOffset));

    if (m_chunkFirstSample.empty() || offset != m_chunkEnd) {
        m_stco->offsets.push_back(offset);
        m_chunkFirstSample.push_back(id);
    }
    m_chunkEnd = offset + size;
    m_stsz->sizes.push_back(size);

    if (!m_stts->entries.empty() && m_stts->entries.back().delta == delta)
        ++m_stts->entries.back().count;
    else
        m_stts->entries.push_back({1, delta});

    if (ro != 0 && !m_ctts) {
        m_ctts = new MP4CttsAtom(m_file);
        m_stbl->InsertChildAtom(m_ctts, 2); // after stsd and stts
        if (id > 1)
            m_ctts->entries.push_back({id - 1, 0});
    }
    if (m_ctts) {
        if (!m_ctts->entries.empty() && m_ctts->entries.back().offset == ro)
            ++m_ctts->entries.back().count;
        else
            m_ctts->entries.push_back({1, ro});
    }

    if (!sync && m_allSync) {
        if (!m_stss) {
            m_stss = new MP4StssAtom(m_file);
            m_stbl->InsertChildAtom(m_stss, m_stbl->GetNumberOfChildAtoms());
        }
        m_stss->ids.clear();
        for (uint32_t i = 1; i < id; ++i)
            m_stss->ids.push_back(i);
        m_allSync = false;
    } else if (sync && !m_allSync) {
        m_stss->ids.push_back(id);
    }

    m_durationSum += delta;
    m_totalBytes += size;
    m_maxSampleSize = std::max(m_maxSampleSize, size);
}

void MP4Track::RemoveLastSample()
{
    if (m_stsz->sizes.empty())
        return;
    const uint32_t id = uint32_t(m_stsz->sizes.size());
    m_totalBytes -= m_stsz->sizes.back();
    m_stsz->sizes.pop_back();
    if (!m_stts->entries.empty()) {
        m_durationSum -= m_stts->entries.back().delta;
        if (--m_stts->entries.back().count == 0)
            m_stts->entries.pop_back();
    }
    if (m_ctts && !m_ctts->entries.empty() && --m_ctts->entries.back().count == 0)
        m_ctts->entries.pop_back();
    if (m_stss && !m_allSync && !m_stss->ids.empty() && m_stss->ids.back() == id)
        m_stss->ids.pop_back();
    if (!m_chunkFirstSample.empty() && m_chunkFirstSample.back() == id) {
        m_chunkFirstSample.pop_back();
        m_stco->offsets.pop_back();
    }
    m_chunkEnd = ~uint64_t(0); // the next sample starts a chunk
}

void MP4Track::FinishWrite(uint32_t movieTimeScale, bool computeBitrate)
{
    const uint32_t count = uint32_t(m_stsz->sizes.size());

    // stsc from the chunks' first samples.
    m_stsc->entries.clear();
    for (size_t c = 0; c < m_chunkFirstSample.size(); ++c) {
        const uint32_t next = c + 1 < m_chunkFirstSample.size() ? m_chunkFirstSample[c + 1] : count + 1;
        const uint32_t n = next - m_chunkFirstSample[c];
        if (m_stsc->entries.empty() || m_stsc->entries.back().samplesPerChunk != n)
            m_stsc->entries.push_back({uint32_t(c + 1), n, 1});
    }

    if (m_allSync && m_stss) {
        m_stbl->DeleteChildAtom(m_stss);
        m_stss = nullptr;
    }

    // 64-bit chunk offsets only when needed.
    const bool large = !m_stco->offsets.empty() && m_stco->offsets.back() > 0xFFFFFFFFu;
    if (large != m_stco->Is64()) {
        auto* replacement = new MP4ChunkOffsetAtom(m_file, large ? "co64" : "stco");
        replacement->offsets.swap(m_stco->offsets);
        size_t index = 0;
        while (m_stbl->GetChildAtom(index) != m_stco)
            ++index;
        m_stbl->DeleteChildAtom(m_stco);
        m_stbl->InsertChildAtom(replacement, index);
        m_stco = replacement;
    }

    const uint32_t timeScale = GetTimeScale();
    SetHeaderTime(m_mdhd, "duration", m_durationSum);
    SetHeaderTime(m_tkhd, "duration", ScaleTime(m_durationSum, timeScale, movieTimeScale));

    if (computeBitrate) {
        MP4Atom* esds = m_stsd->FindChildAtom("*.esds");
        if (auto* e = dynamic_cast<MP4EsdsAtom*>(esds); e && timeScale) {
            uint64_t maxPerSecond = 0, bucketBytes = 0, bucket = 0, t = 0;
            size_t sample = 0;
            for (const auto& run : m_stts->entries) {
                for (uint32_t k = 0; k < run.count && sample < count; ++k, ++sample) {
                    const uint64_t b = t / timeScale;
                    if (b != bucket) {
                        maxPerSecond = std::max(maxPerSecond, bucketBytes);
                        bucket = b;
                        bucketBytes = 0;
                    }
                    bucketBytes += m_stsz->sizes[sample];
                    t += run.delta;
                }
            }
            maxPerSecond = std::max(maxPerSecond, bucketBytes);
            const uint64_t avg = m_durationSum ? m_totalBytes * 8 * timeScale / m_durationSum : 0;
            e->Set("decConfigDescr.avgBitrate", std::min<uint64_t>(avg, 0xFFFFFFFFu));
            e->Set("decConfigDescr.maxBitrate", std::min<uint64_t>(maxPerSecond * 8, 0xFFFFFFFFu));
            e->Set("decConfigDescr.bufferSizeDB", std::min<uint32_t>(m_maxSampleSize, 0xFFFFFF));
        }
    }

    // All samples of one size: the compact form.
    if (count > 0 && std::all_of(m_stsz->sizes.begin(), m_stsz->sizes.end(),
                                 [&](uint32_t s) { return s == m_stsz->sizes[0]; }) &&
        m_stsz->sizes[0] > 0) {
        m_stsz->sampleSize = m_stsz->sizes[0];
        m_stsz->sampleCount = count;
        m_stsz->sizes.clear();
        m_stsz->sizes.shrink_to_fit();
    }
}

void MP4Track::PrepareRead(uint64_t fileSize)
{
    const uint32_t n = m_stsz->Count();
    if (m_stsz->sampleSize && uint64_t(n) > fileSize / m_stsz->sampleSize + 1)
        Throw("track %u: %u samples of %u bytes cannot be in a file of %llu bytes", GetId(), n,
              m_stsz->sampleSize, static_cast<unsigned long long>(fileSize));

    // Where each chunk's samples start, from the chunk map. Variable sample
    // sizes get an offset per sample (their size table bounds the count);
    // one size for all is computed from the chunk on demand.
    for (size_t i = 0; i < m_stsc->entries.size(); ++i) {
        const uint32_t first = m_stsc->entries[i].firstChunk;
        if (first == 0 || (i > 0 && first <= m_stsc->entries[i - 1].firstChunk))
            Throw("track %u: bad chunk map", GetId());
    }
    const size_t chunks = m_stco->offsets.size();
    m_chunkStart.assign(chunks, n);
    m_chunkCount.assign(chunks, 0);
    uint64_t sample = 0; // 0-based
    size_t run = 0;
    for (size_t c = 1; c <= chunks && sample < n && !m_stsc->entries.empty(); ++c) {
        while (run + 1 < m_stsc->entries.size() && m_stsc->entries[run + 1].firstChunk <= c)
            ++run;
        m_chunkStart[c - 1] = uint32_t(sample);
        if (m_stsc->entries[run].firstChunk > c)
            continue;
        const uint64_t count = std::min<uint64_t>(m_stsc->entries[run].samplesPerChunk, n - sample);
        m_chunkCount[c - 1] = uint32_t(count);
        sample += count;
    }
    m_sampleOffsets.clear();
    if (m_stsz->sampleSize == 0) {
        m_sampleOffsets.assign(n, ~uint64_t(0));
        for (size_t c = 0; c < chunks; ++c) {
            uint64_t offset = m_stco->offsets[c];
            for (uint32_t k = 0; k < m_chunkCount[c]; ++k) {
                const uint32_t s = m_chunkStart[c] + k;
                const uint32_t size = m_stsz->sizes[s];
                if (offset > fileSize || size > fileSize - offset) {
                    offset = ~uint64_t(0); // past the end: reading this sample fails
                } else {
                    m_sampleOffsets[s] = offset;
                    offset += size;
                }
            }
        }
    }
    m_totalBytes = 0;
    m_maxSampleSize = 0;
    for (uint32_t i = 0; i < m_stsz->sizes.size(); ++i) {
        m_totalBytes += m_stsz->sizes[i];
        m_maxSampleSize = std::max(m_maxSampleSize, m_stsz->sizes[i]);
    }
    if (m_stsz->sampleSize) {
        m_totalBytes = uint64_t(m_stsz->sampleSize) * n;
        m_maxSampleSize = m_stsz->sampleSize;
    }

    // Times: first sample, start and end of each stts entry.
    const size_t e = m_stts->entries.size();
    m_sttsFirst.resize(e);
    m_sttsStart.resize(e);
    m_sttsEnd.resize(e);
    uint64_t id = 1, t = 0;
    for (size_t i = 0; i < e; ++i) {
        const auto& entry = m_stts->entries[i];
        m_sttsFirst[i] = id;
        m_sttsStart[i] = t;
        id += entry.count;
        const unsigned __int128 end = static_cast<unsigned __int128>(t) + uint64_t(entry.count) * entry.delta;
        t = end > std::numeric_limits<uint64_t>::max() ? std::numeric_limits<uint64_t>::max() : uint64_t(end);
        m_sttsEnd[i] = t;
    }
    if (m_ctts) {
        m_cttsFirst.resize(m_ctts->entries.size());
        uint64_t cid = 1;
        for (size_t i = 0; i < m_ctts->entries.size(); ++i) {
            m_cttsFirst[i] = cid;
            cid += m_ctts->entries[i].count;
        }
    }
    if (m_stss && !std::is_sorted(m_stss->ids.begin(), m_stss->ids.end()))
        std::sort(m_stss->ids.begin(), m_stss->ids.end());
}

void MP4Track::CheckId(MP4SampleId id) const
{
    if (id == 0 || id > m_stsz->Count())
        Throw("track %u: sample id %u out of range", GetId(), id);
}

uint32_t MP4Track::GetSampleSize(MP4SampleId id) const
{
    CheckId(id);
    if (!m_file.IsWriting())
        GetSampleOffset(id); // a sample that is not in the file has no size to offer
    return m_stsz->SizeOf(id - 1);
}

uint64_t MP4Track::GetSampleOffset(MP4SampleId id) const
{
    CheckId(id);
    const uint32_t s = id - 1;
    if (m_stsz->sampleSize == 0) {
        if (s >= m_sampleOffsets.size() || m_sampleOffsets[s] == ~uint64_t(0))
            Throw("track %u: sample %u is not in the file", GetId(), id);
        return m_sampleOffsets[s];
    }
    auto it = std::upper_bound(m_chunkStart.begin(), m_chunkStart.end(), s);
    if (it != m_chunkStart.begin()) {
        const size_t c = size_t(it - m_chunkStart.begin()) - 1;
        if (s - m_chunkStart[c] < m_chunkCount[c]) {
            const uint64_t offset = m_stco->offsets[c] + uint64_t(s - m_chunkStart[c]) * m_stsz->sampleSize;
            if (offset >= m_stco->offsets[c] && offset <= m_file.GetFileSize() &&
                m_stsz->sampleSize <= m_file.GetFileSize() - offset)
                return offset;
        }
    }
    Throw("track %u: sample %u is not in the file", GetId(), id);
}

void MP4Track::GetSampleTimes(MP4SampleId id, MP4Timestamp* start, MP4Duration* duration) const
{
    CheckId(id);
    auto it = std::upper_bound(m_sttsFirst.begin(), m_sttsFirst.end(), uint64_t(id));
    if (it == m_sttsFirst.begin())
        Throw("track %u: sample %u has no time", GetId(), id);
    const size_t i = size_t(it - m_sttsFirst.begin()) - 1;
    const auto& entry = m_stts->entries[i];
    const uint64_t k = id - m_sttsFirst[i];
    if (k >= entry.count)
        Throw("track %u: sample %u has no time", GetId(), id);
    if (start)
        *start = m_sttsStart[i] + k * entry.delta;
    if (duration)
        *duration = entry.delta;
}

MP4Duration MP4Track::GetRenderingOffset(MP4SampleId id) const
{
    CheckId(id);
    if (!m_ctts || m_cttsFirst.empty())
        return 0;
    auto it = std::upper_bound(m_cttsFirst.begin(), m_cttsFirst.end(), uint64_t(id));
    const size_t i = size_t(it - m_cttsFirst.begin()) - 1;
    if (id - m_cttsFirst[i] >= m_ctts->entries[i].count)
        return 0;
    return MP4Duration(int64_t(m_ctts->entries[i].offset));
}

bool MP4Track::IsSyncSample(MP4SampleId id) const
{
    CheckId(id);
    if (!m_stss)
        return true;
    return std::binary_search(m_stss->ids.begin(), m_stss->ids.end(), id);
}

MP4SampleId MP4Track::GetSampleIdFromTime(MP4Timestamp when, bool wantSync) const
{
    auto it = std::upper_bound(m_sttsEnd.begin(), m_sttsEnd.end(), when);
    if (it == m_sttsEnd.end())
        Throw("track %u: time %llu out of range", GetId(), static_cast<unsigned long long>(when));
    const size_t i = size_t(it - m_sttsEnd.begin());
    const auto& entry = m_stts->entries[i]; // end > when >= start, so delta > 0
    const uint64_t id = m_sttsFirst[i] + (when - m_sttsStart[i]) / entry.delta;
    if (id == 0 || id > m_stsz->Count())
        Throw("track %u: time %llu out of range", GetId(), static_cast<unsigned long long>(when));
    if (!wantSync || !m_stss)
        return MP4SampleId(id);
    auto s = std::lower_bound(m_stss->ids.begin(), m_stss->ids.end(), uint32_t(id));
    if (s == m_stss->ids.end() || *s > m_stsz->Count())
        Throw("track %u: no sync sample after %llu", GetId(), static_cast<unsigned long long>(id));
    return *s;
}

// --- MP4File ---

MP4File::MP4File() = default;

MP4File::~MP4File()
{
    CloseFd();
}

void MP4File::CloseFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_journalFd >= 0)
        ::close(m_journalFd);
    m_journalFd = -1;
}

MP4Atom* MP4File::Moov()
{
    MP4Atom* moov = m_root ? m_root->FindChildAtom("moov") : nullptr;
    if (!moov)
        Throw("no movie box");
    return moov;
}

void MP4File::InitMovie(bool addIods)
{
    MP4Atom* moov = m_root->AddNewChildAtom("moov");
    moov->AddNewChildAtom("mvhd");
    if (addIods)
        moov->AddNewChildAtom("iods");
}

void MP4File::Create(const char* name, uint32_t flags, bool addFtyp, bool addIods, const char* majorBrand,
                     uint32_t minorVersion, char** brands, uint32_t brandCount)
{
    if (!name || !*name)
        Throw("no file name");
    m_name = name;
    // Neither a link nor a pipe at that name is written through or waited on.
    m_fd = ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (m_fd < 0)
        Throw("cannot create %s: %s", name, strerror(errno));
    if (struct stat st {}; fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        Throw("%s is not a regular file", name);
    // Tells a recovery run in this or another process that the file is live.
    flock(m_fd, LOCK_EX | LOCK_NB);
    m_writing = true;
    m_root = std::make_unique<MP4ContainerAtom>(*this, "");

    MP4Output head;
    if (addFtyp) {
        auto* ftyp = static_cast<MP4FtypAtom*>(m_root->AddNewChildAtom("ftyp"));
        if (majorBrand && *majorBrand) {
            SetIntegerProperty(ftyp, "minorVersion", minorVersion);
            static_cast<MP4StringProperty*>(ftyp->FindOwnProperty("majorBrand"))->SetValue(majorBrand);
            ftyp->compatibleBrands.clear();
            for (uint32_t i = 0; brands && i < brandCount; ++i)
                if (brands[i])
                    ftyp->compatibleBrands.emplace_back(brands[i]);
        }
        ftyp->Write(head);
    }
    InitMovie(addIods);

    // A free box that becomes the 64-bit mdat header when the data outgrows
    // 32 bits, then the mdat header itself.
    m_mdatPos = head.Position();
    m_largeMdat = (flags & MP4_CREATE_64BIT_DATA) != 0;
    if (m_largeMdat) {
        head.WriteUInt32(1);
        head.WriteBytes("mdat", 4);
        head.WriteUInt64(16);
    } else {
        head.WriteUInt32(8);
        head.WriteBytes("free", 4);
        head.WriteUInt32(8);
        head.WriteBytes("mdat", 4);
    }
    m_dataStart = head.Position();
    if (!PwriteAll(m_fd, 0, head.Bytes().data(), head.Position()))
        Throw("cannot write %s: %s", name, strerror(errno));
    m_dataEnd = m_flushedEnd = m_dataStart;
    m_buffer.resize(kWriteBufferSize);
}

void MP4File::Read(const char* name)
{
    if (!name || !*name)
        Throw("no file name");
    m_name = name;
    // Non-blocking: a pipe in a file's place fails the check below instead of
    // waiting for a writer; a regular file reads as ever.
    m_fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        Throw("cannot open %s: %s", name, strerror(errno));
    struct stat st {};
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        Throw("%s is not a regular file", name);
    m_fileSize = uint64_t(st.st_size);
    m_writing = false;
    m_root = std::make_unique<MP4ContainerAtom>(*this, "");

    bool haveMoov = false;
    uint64_t pos = 0;
    while (pos + 8 <= m_fileSize) {
        uint8_t h[16];
        PreadAll(m_fd, pos, h, 8);
        uint64_t size = LoadBE32(h);
        char type[5] = {};
        memcpy(type, h + 4, 4);
        uint64_t header = 8;
        if (size == 1) {
            if (pos + 16 > m_fileSize)
                break;
            PreadAll(m_fd, pos + 8, h + 8, 8);
            size = LoadBE64(h + 8);
            header = 16;
        } else if (size == 0) {
            size = m_fileSize - pos;
        }
        if (size > m_fileSize - pos && size >= header && haveMoov)
            break; // a truncated box after the movie box
        if (size < header || size > m_fileSize - pos)
            Throw("box \"%s\" at %llu runs past the end of the file", FourCCText(type).c_str(),
                  static_cast<unsigned long long>(pos));
        const bool isMoov = memcmp(type, "moov", 4) == 0;
        const bool isFtyp = memcmp(type, "ftyp", 4) == 0;
        if ((isMoov && !haveMoov) || (isFtyp && size <= 4096)) {
            if (size - header > kMaxMoovSize)
                Throw("movie box too large");
            std::vector<uint8_t> payload(size_t(size - header));
            PreadAll(m_fd, pos + header, payload.data(), payload.size());
            MP4Atom* atom = MP4Atom::CreateAtom(*this, m_root.get(), type);
            m_root->AddChildAtom(atom);
            MP4Input in(payload.data(), payload.size());
            atom->Read(in, 1);
            haveMoov |= isMoov;
        }
        pos += size;
    }
    if (!haveMoov)
        Throw("%s has no movie box", name);

    MP4Atom* moov = Moov();
    for (size_t i = 0; i < moov->GetNumberOfChildAtoms(); ++i) {
        MP4Atom* trak = moov->GetChildAtom(i);
        if (!trak->IsType("trak"))
            continue;
        try {
            auto track = std::make_unique<MP4Track>(*this, trak);
            track->PrepareRead(m_fileSize);
            m_tracks.push_back(std::move(track));
        } catch (const MP4Error& e) {
            Log(MP4_LOG_WARNING, "%s: track skipped: %s", name, e.what());
        }
    }
}

MP4Atom* MP4File::FindAtom(const char* name)
{
    return m_root ? m_root->FindChildAtom(name) : nullptr;
}

MP4Property* MP4File::FindProperty(const char* name)
{
    MP4Property* p = nullptr;
    if (!m_root || !m_root->FindProperty(name, &p))
        Throw("no such property - %s", name);
    return p;
}

uint32_t MP4File::GetTimeScale()
{
    return uint32_t(GetIntegerProperty(Moov(), "mvhd.timeScale"));
}

void MP4File::SetTimeScale(uint32_t value)
{
    if (value == 0)
        Throw("invalid time scale 0");
    SetIntegerProperty(Moov(), "mvhd.timeScale", value);
    ConfigChanged();
}

MP4Duration MP4File::GetDuration()
{
    return GetIntegerProperty(Moov(), "mvhd.duration");
}

MP4TrackId MP4File::AddTrack(const char* type, uint32_t timeScale)
{
    if (!m_writing)
        Throw("file not open for writing");
    if (!type || strlen(type) != 4)
        Throw("bad track type");
    MP4Atom* moov = Moov();
    MP4Atom* mvhd = moov->FindChildAtom("mvhd");
    const auto trackId = MP4TrackId(GetIntegerProperty(mvhd, "nextTrackId"));

    MP4Atom* trak = moov->AddNewChildAtom("trak");
    MP4Atom* tkhd = trak->AddNewChildAtom("tkhd");
    SetIntegerProperty(tkhd, "trackId", trackId);
    MP4Atom* mdia = trak->AddNewChildAtom("mdia");
    SetIntegerProperty(mdia->AddNewChildAtom("mdhd"), "timeScale", timeScale);
    MP4Atom* hdlr = mdia->AddNewChildAtom("hdlr");
    static_cast<MP4StringProperty*>(hdlr->FindOwnProperty("handlerType"))->SetValue(type);
    const bool video = strcmp(type, MP4_VIDEO_TRACK_TYPE) == 0;
    const bool audio = strcmp(type, MP4_AUDIO_TRACK_TYPE) == 0;
    static_cast<MP4StringProperty*>(hdlr->FindOwnProperty("name"))
        ->SetValue(video ? "VideoHandler" : audio ? "SoundHandler" : "");
    MP4Atom* minf = mdia->AddNewChildAtom("minf");
    if (video)
        minf->AddNewChildAtom("vmhd");
    if (audio) {
        minf->AddNewChildAtom("smhd");
        SetIntegerProperty(tkhd, "volume", 0x0100);
    }
    minf->AddNewChildAtom("dinf")->AddNewChildAtom("dref");
    MP4Atom* stbl = minf->AddNewChildAtom("stbl");
    for (const char* t : {"stsd", "stts", "stsz", "stsc", "stco"})
        stbl->AddNewChildAtom(t);

    SetIntegerProperty(mvhd, "nextTrackId", trackId + 1);
    if (auto* iods = dynamic_cast<MP4IodsAtom*>(moov->FindChildAtom("iods")))
        iods->trackIds.push_back(trackId);
    m_tracks.push_back(std::make_unique<MP4Track>(*this, trak));
    ConfigChanged();
    return trackId;
}

MP4TrackId MP4File::AddVideoTrack(uint32_t timeScale, MP4Duration sampleDuration, uint16_t width,
                                  uint16_t height, const char* entryType)
{
    const MP4TrackId id = AddTrack(MP4_VIDEO_TRACK_TYPE, timeScale);
    MP4Track* track = GetTrack(id);
    MP4Atom* stsd = track->GetTrakAtom()->FindChildAtom("mdia.minf.stbl.stsd");
    MP4Atom* entry = stsd->AddNewChildAtom(entryType);
    SetIntegerProperty(entry, "width", width);
    SetIntegerProperty(entry, "height", height);
    MP4Atom* tkhd = track->GetTrakAtom()->FindChildAtom("tkhd");
    SetIntegerProperty(tkhd, "width", uint64_t(width) << 16);
    SetIntegerProperty(tkhd, "height", uint64_t(height) << 16);
    track->SetFixedSampleDuration(sampleDuration);
    return id;
}

MP4TrackId MP4File::AddAudioTrack(uint32_t timeScale, MP4Duration sampleDuration, const char* entryType)
{
    const MP4TrackId id = AddTrack(MP4_AUDIO_TRACK_TYPE, timeScale);
    MP4Track* track = GetTrack(id);
    MP4Atom* stsd = track->GetTrakAtom()->FindChildAtom("mdia.minf.stbl.stsd");
    MP4Atom* entry = stsd->AddNewChildAtom(entryType);
    SetIntegerProperty(entry, "timeScale", std::min<uint32_t>(timeScale, 0xFFFF));
    track->SetFixedSampleDuration(sampleDuration);
    return id;
}

MP4Track* MP4File::GetTrack(MP4TrackId id)
{
    for (auto& t : m_tracks)
        if (t->GetId() == id)
            return t.get();
    Throw("track id %u does not exist", id);
}

MP4TrackId MP4File::FindTrackId(uint16_t index, const char* type)
{
    uint16_t seen = 0;
    for (auto& t : m_tracks) {
        if (type && strncmp(t->GetType().c_str(), type, 4) != 0)
            continue;
        if (seen++ == index)
            return t->GetId();
    }
    return MP4_INVALID_TRACK_ID;
}

MP4Atom* MP4File::FindTrackAtom(MP4TrackId id, const char* name)
{
    return GetTrack(id)->GetTrakAtom()->FindChildAtom(name);
}

MP4Property* MP4File::FindTrackProperty(MP4TrackId id, const char* name)
{
    MP4Property* p = nullptr;
    if (!GetTrack(id)->GetTrakAtom()->FindProperty(name, &p))
        Throw("no such property - %s", name);
    return p;
}

// --- sample data ---

void MP4File::WriteAt(uint64_t offset, const void* data, size_t size)
{
    if (!PwriteAll(m_fd, offset, data, size))
        Throw("write to %s failed: %s", m_name.c_str(), strerror(errno));
}

void MP4File::WriteSample(MP4TrackId id, const uint8_t* bytes, uint32_t size, MP4Duration duration,
                          MP4Duration renderingOffset, bool sync)
{
    if (!m_writing || m_fd < 0)
        Throw("file not open for writing");
    if (size && !bytes)
        Throw("no sample bytes");
    MP4Track* track = GetTrack(id);
    if (duration == MP4_INVALID_DURATION)
        duration = track->GetFixedSampleDuration();
    if (duration > 0xFFFFFFFFu)
        Throw("sample duration %llu too large", static_cast<unsigned long long>(duration));
    if (int64_t(renderingOffset) > INT32_MAX || int64_t(renderingOffset) < INT32_MIN)
        Throw("rendering offset out of range");

    if (m_journalFd >= 0 && m_journalGeneration != m_configGeneration)
        QueueMovieSnapshot();

    const uint64_t offset = m_dataEnd;
    AppendData(bytes, size);
    track->AppendSample(offset, size, duration, renderingOffset, sync);

    size_t index = 0;
    while (m_tracks[index].get() != track)
        ++index;
    SampleRecord r{uint8_t(std::min<size_t>(index + 1, 255)), uint8_t(sync ? 1 : 0), size, uint32_t(duration),
                   int32_t(int64_t(renderingOffset))};
    if (m_bufferUsed == 0)
        QueueSampleRecord(r); // written through already
    else
        m_unflushed.push_back(r);

    if (m_journalFd >= 0 && std::chrono::steady_clock::now() - m_lastDurable >= m_journalInterval)
        DurableFlush();
}

void MP4File::AppendData(const uint8_t* bytes, uint32_t size)
{
    const bool direct = size >= m_buffer.size() / 2;
    if (direct || size > m_buffer.size() - m_bufferUsed) {
        if (!FlushData())
            Throw("write to %s failed: %s", m_name.c_str(), strerror(errno));
    }
    if (direct) {
        // Large samples go straight to the file.
        WriteAt(m_flushedEnd, bytes, size);
        m_flushedEnd += size;
        m_dataEnd = m_flushedEnd;
        return;
    }
    if (size)
        memcpy(m_buffer.data() + m_bufferUsed, bytes, size);
    m_bufferUsed += size;
    m_dataEnd += size;
}

bool MP4File::FlushData()
{
    if (m_bufferUsed == 0)
        return true;
    size_t written = 0;
    if (!PwriteAll(m_fd, m_flushedEnd, m_buffer.data(), m_bufferUsed, &written)) {
        const int err = errno;
        // Keep the samples whose bytes all made it; the rest are dropped.
        size_t kept = 0, keptBytes = 0;
        while (kept < m_unflushed.size() && keptBytes + m_unflushed[kept].size <= written)
            keptBytes += m_unflushed[kept++].size;
        Log(MP4_LOG_ERROR, "write to %s failed: %s; %zu samples dropped", m_name.c_str(), strerror(err),
            m_unflushed.size() - kept);
        m_flushedEnd += keptBytes;
        for (size_t i = 0; i < kept; ++i)
            QueueSampleRecord(m_unflushed[i]);
        m_unflushed.erase(m_unflushed.begin(), m_unflushed.begin() + long(kept));
        DropUnflushedSamples();
        errno = err;
        return false;
    }
    m_flushedEnd += m_bufferUsed;
    m_bufferUsed = 0;
    for (const SampleRecord& r : m_unflushed)
        QueueSampleRecord(r);
    m_unflushed.clear();
    return true;
}

void MP4File::DropUnflushedSamples()
{
    for (auto it = m_unflushed.rbegin(); it != m_unflushed.rend(); ++it)
        if (it->trackIndex >= 1 && it->trackIndex <= m_tracks.size())
            m_tracks[it->trackIndex - 1]->RemoveLastSample();
    m_unflushed.clear();
    m_bufferUsed = 0;
    m_dataEnd = m_flushedEnd;
}

void MP4File::QueueSampleRecord(const SampleRecord& r)
{
    if (m_journalFd < 0)
        return;
    uint8_t rec[kSampleRecordSize] = {};
    rec[0] = 'S';
    rec[1] = r.trackIndex;
    rec[2] = r.sync;
    PutLE32(rec + 4, r.size);
    PutLE32(rec + 8, r.duration);
    PutLE32(rec + 12, uint32_t(r.renderingOffset));
    PutLE32(rec + 16, Fnv1a(rec, 16));
    m_journalQueue.insert(m_journalQueue.end(), rec, rec + kSampleRecordSize);
}

void MP4File::QueueMovieSnapshot()
{
    MP4Output out;
    out.configOnly = true;
    MP4Atom* moov = Moov();
    for (size_t i = 0; i < moov->GetNumberOfChildAtoms(); ++i)
        moov->GetChildAtom(i)->Write(out); // the payload of the movie box
    uint8_t head[kMovieRecordHead] = {};
    head[0] = 'M';
    PutLE32(head + 4, uint32_t(out.Position()));
    PutLE32(head + 8, Fnv1a(out.Bytes().data(), out.Position()));
    m_journalQueue.insert(m_journalQueue.end(), head, head + kMovieRecordHead);
    m_journalQueue.insert(m_journalQueue.end(), out.Bytes().begin(), out.Bytes().end());
    m_journalGeneration = m_configGeneration;
}

void MP4File::WriteJournal()
{
    if (m_journalFd < 0 || m_journalQueue.empty())
        return;
    const uint8_t* p = m_journalQueue.data();
    size_t left = m_journalQueue.size();
    while (left) {
        const ssize_t n = ::write(m_journalFd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A torn record at the end is ignored by recovery; stop journaling.
            Log(MP4_LOG_ERROR, "journal %s: write failed: %s", m_journalPath.c_str(), strerror(errno));
            ::close(m_journalFd);
            m_journalFd = -1;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    m_journalQueue.clear();
}

void MP4File::DurableFlush()
{
    m_lastDurable = std::chrono::steady_clock::now();
    if (!FlushData())
        return;
    if (m_journalQueue.empty())
        return;
    // The data first, so a record never describes bytes that are not on disk.
    if (m_journalSync)
        fdatasync(m_fd);
    WriteJournal();
    if (m_journalSync && m_journalFd >= 0)
        fdatasync(m_journalFd);
}

void MP4File::EnableJournal(const char* path, uint32_t intervalMs, bool syncToDisk)
{
    if (!m_writing || m_fd < 0)
        Throw("file not open for writing");
    if (m_journalFd >= 0)
        Throw("journal already enabled");
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        Throw("cannot create journal %s: %s", path, strerror(errno));
    if (struct stat st {}; fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Throw("journal %s is not a regular file", path);
    }
    uint8_t head[kJournalHeaderSize] = {};
    memcpy(head, kJournalMagic, 8);
    PutLE32(head + 8, kJournalVersion);
    PutLE32(head + 12, uint32_t(kJournalHeaderSize));
    PutLE64(head + 16, m_mdatPos);
    PutLE64(head + 24, m_dataStart);
    if (!PwriteAll(fd, 0, head, sizeof(head)) || lseek(fd, off_t(sizeof(head)), SEEK_SET) < 0) {
        ::close(fd);
        ::unlink(path);
        Throw("cannot write journal %s", path);
    }
    m_journalFd = fd;
    m_journalPath = path;
    m_journalInterval = std::chrono::milliseconds(intervalMs);
    m_journalSync = syncToDisk;
    m_lastDurable = std::chrono::steady_clock::now();
    m_journalGeneration = 0;
    // Samples written before the journal existed are not in it.
    if (!m_tracks.empty() && m_dataEnd != m_dataStart)
        Log(MP4_LOG_WARNING, "journal %s started after the first samples", path);
}

void MP4File::FinishMovie(bool computeBitrate)
{
    MP4Atom* moov = Moov();
    const uint32_t movieTimeScale = GetTimeScale();
    uint64_t duration = 0;
    for (auto& t : m_tracks) {
        t->FinishWrite(movieTimeScale, computeBitrate);
        duration = std::max(duration, GetIntegerProperty(t->GetTrakAtom(), "tkhd.duration"));
    }
    SetHeaderTime(moov->FindChildAtom("mvhd"), "duration", duration);

    MP4Output out;
    moov->Write(out);
    WriteAt(m_dataEnd, out.Bytes().data(), out.Position());

    const uint64_t mdatSize = m_dataEnd - m_mdatPos;
    uint8_t h[16];
    if (m_largeMdat || mdatSize - 8 > 0xFFFFFFFFu) {
        StoreBE32(h, 1);
        memcpy(h + 4, "mdat", 4);
        StoreBE64(h + 8, mdatSize);
        WriteAt(m_mdatPos, h, 16);
    } else {
        StoreBE32(h, 8);
        memcpy(h + 4, "free", 4);
        StoreBE32(h + 8, uint32_t(mdatSize - 8));
        memcpy(h + 12, "mdat", 4);
        WriteAt(m_mdatPos, h, 16);
    }
    if (ftruncate(m_fd, off_t(m_dataEnd + out.Position())) != 0)
        Log(MP4_LOG_WARNING, "%s: cannot trim: %s", m_name.c_str(), strerror(errno));
}

void MP4File::Close(uint32_t flags, bool keepJournal)
{
    if (!m_writing || m_fd < 0) {
        CloseFd();
        return;
    }
    struct Closer {
        MP4File* f;
        ~Closer()
        {
            f->CloseFd();
            f->m_writing = false;
        }
    } closer{this};
    FlushData();
    FinishMovie((flags & MP4_CLOSE_DO_NOT_COMPUTE_BITRATE) == 0);
    if (m_journalFd >= 0) {
        fdatasync(m_fd);
        ::close(m_journalFd);
        m_journalFd = -1;
        if (!keepJournal)
            ::unlink(m_journalPath.c_str());
    }
}

void MP4File::ReadSampleBytes(MP4Track& track, MP4SampleId id, uint8_t* dst, uint32_t size)
{
    if (m_writing)
        Throw("file not open for reading");
    PreadAll(m_fd, track.GetSampleOffset(id), dst, size);
}

// --- recovery ---

uint32_t MP4File::RecoverFromJournal(const char* dataPath, const char* journalPath, bool removeJournal)
{
    MP4File f;
    f.m_name = dataPath;
    f.m_fd = ::open(dataPath, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (f.m_fd < 0)
        Throw("cannot open %s: %s", dataPath, strerror(errno));
    struct stat st {};
    if (fstat(f.m_fd, &st) != 0)
        Throw("cannot read the size of %s", dataPath);
    if (!S_ISREG(st.st_mode))
        Throw("%s is not a regular file", dataPath);
    if (flock(f.m_fd, LOCK_EX | LOCK_NB) != 0)
        Throw("%s is being written", dataPath);
    const uint64_t fileSize = uint64_t(st.st_size);

    const int jfd = ::open(journalPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (jfd < 0)
        Throw("cannot open journal %s: %s", journalPath, strerror(errno));
    std::vector<uint8_t> journal;
    {
        struct stat js {};
        const bool ok = fstat(jfd, &js) == 0 && S_ISREG(js.st_mode) && uint64_t(js.st_size) <= (uint64_t(1) << 31);
        if (ok) {
            journal.resize(size_t(js.st_size));
            try {
                PreadAll(jfd, 0, journal.data(), journal.size());
            } catch (...) {
                ::close(jfd);
                throw;
            }
        }
        ::close(jfd);
        if (!ok)
            Throw("journal %s unreadable", journalPath);
    }
    auto nothingToKeep = [&] {
        if (removeJournal)
            ::unlink(journalPath);
        return 0u;
    };
    // A writer killed while creating its journal leaves part of the header.
    const size_t magic = std::min(journal.size(), sizeof(kJournalMagic));
    if (journal.size() < kJournalHeaderSize && (magic == 0 || memcmp(journal.data(), kJournalMagic, magic) == 0))
        return nothingToKeep();
    if (journal.size() < kJournalHeaderSize || memcmp(journal.data(), kJournalMagic, 8) != 0 ||
        GetLE32(journal.data() + 8) != kJournalVersion)
        Throw("%s is not a journal", journalPath);
    const uint32_t headerSize = GetLE32(journal.data() + 12);
    f.m_mdatPos = GetLE64(journal.data() + 16);
    f.m_dataStart = GetLE64(journal.data() + 24);
    if (headerSize < kJournalHeaderSize || headerSize > journal.size() || f.m_dataStart != f.m_mdatPos + 16 ||
        f.m_dataStart > fileSize)
        Throw("journal %s does not match %s", journalPath, dataPath);

    // The last complete movie snapshot and every complete sample record.
    const uint8_t* movie = nullptr;
    size_t movieSize = 0;
    std::vector<SampleRecord> samples;
    size_t pos = headerSize;
    while (pos < journal.size()) {
        const uint8_t* p = journal.data() + pos;
        const size_t left = journal.size() - pos;
        if (p[0] == 'S' && left >= kSampleRecordSize && GetLE32(p + 16) == Fnv1a(p, 16)) {
            samples.push_back({p[1], p[2], GetLE32(p + 4), GetLE32(p + 8), int32_t(GetLE32(p + 12))});
            pos += kSampleRecordSize;
        } else if (p[0] == 'M' && left >= kMovieRecordHead) {
            const uint32_t len = GetLE32(p + 4);
            if (len > left - kMovieRecordHead || GetLE32(p + 8) != Fnv1a(p + kMovieRecordHead, len))
                break;
            movie = p + kMovieRecordHead;
            movieSize = len;
            pos += kMovieRecordHead + len;
        } else {
            break; // torn or damaged tail
        }
    }
    if (!movie)
        return nothingToKeep(); // killed before the first write-out: no sample was journaled

    f.m_writing = true;
    f.m_root = std::make_unique<MP4ContainerAtom>(f, "");
    MP4Atom* moov = MP4Atom::CreateAtom(f, f.m_root.get(), "moov");
    f.m_root->AddChildAtom(moov);
    MP4Input in(movie, movieSize);
    moov->Read(in, 1);
    for (size_t i = 0; i < moov->GetNumberOfChildAtoms(); ++i)
        if (moov->GetChildAtom(i)->IsType("trak"))
            f.m_tracks.push_back(std::make_unique<MP4Track>(f, moov->GetChildAtom(i)));

    uint64_t end = f.m_dataStart;
    uint32_t kept = 0;
    for (const SampleRecord& r : samples) {
        if (r.trackIndex == 0 || r.trackIndex > f.m_tracks.size() || r.size > fileSize - end)
            break;
        f.m_tracks[r.trackIndex - 1]->AppendSample(end, r.size, r.duration,
                                                    MP4Duration(int64_t(r.renderingOffset)), r.sync != 0);
        end += r.size;
        ++kept;
    }
    f.m_dataEnd = f.m_flushedEnd = end;
    f.m_largeMdat = false;
    {
        uint8_t h[16];
        PreadAll(f.m_fd, f.m_mdatPos, h, 16);
        f.m_largeMdat = LoadBE32(h) == 1 && memcmp(h + 4, "mdat", 4) == 0;
    }
    f.FinishMovie(true);
    fdatasync(f.m_fd);
    f.CloseFd();
    if (removeJournal)
        ::unlink(journalPath);
    return kept;
}

int64_t MP4File::FinishedSamples(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -1; // a writer holds it
    try {
        // The boxes a finished file of ours has, chained exactly to its end.
        // A file still being written has an empty mdat and sample bytes after it.
        const uint64_t fileSize = uint64_t(st.st_size);
        uint64_t pos = 0;
        int movies = 0;
        while (pos < fileSize) {
            uint8_t h[16];
            if (fileSize - pos < 8)
                return -1;
            PreadAll(fd, pos, h, 8);
            uint64_t size = LoadBE32(h);
            uint64_t header = 8;
            if (size == 1) {
                if (fileSize - pos < 16)
                    return -1;
                PreadAll(fd, pos + 8, h + 8, 8);
                size = LoadBE64(h + 8);
                header = 16;
            }
            if (size < header || size > fileSize - pos)
                return -1;
            const char* type = reinterpret_cast<const char*>(h + 4);
            if (pos == 0 && memcmp(type, "ftyp", 4) != 0)
                return -1;
            if (memcmp(type, "moov", 4) == 0)
                ++movies;
            else if (memcmp(type, "ftyp", 4) != 0 && memcmp(type, "free", 4) != 0 &&
                     memcmp(type, "skip", 4) != 0 && memcmp(type, "mdat", 4) != 0)
                return -1;
            pos += size;
        }
        if (movies != 1)
            return -1;
        MP4File f;
        f.Read(path);
        int64_t samples = 0;
        for (const auto& t : f.m_tracks)
            samples += t->GetNumberOfSamples();
        return samples;
    } catch (...) {
        return -1;
    }
}

} // namespace mp4
