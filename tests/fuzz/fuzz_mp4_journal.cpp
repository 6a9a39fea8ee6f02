// Fuzz target: recovery of interrupted MP4 files from their journal. A valid
// recording (data file and journal) is made once; each input damages copies
// of both (cut lengths, byte flips) and recovery must fail cleanly or produce
// a file the reader accepts.
#include "media/mp4ext/mp4ext.h"
#include "mp4/mp4.h"
#include "tests/mp4/mp4_exercise.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Slurp(const std::string& path)
{
    std::vector<uint8_t> out;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        uint8_t buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            out.insert(out.end(), buf, buf + n);
        fclose(f);
    }
    return out;
}

struct Recording {
    std::vector<uint8_t> data, journal;
};

// An H.265 track and a mu-law track, journaled after every sample, left unfinished.
Recording MakeRecording()
{
    char dir[] = "/tmp/qelm2-fuzz-journal-XXXXXX";
    Recording r;
    if (!mkdtemp(dir))
        return r;
    const std::string name = std::string(dir) + "/rec.mp4.tmp";
    const std::string journal = name + ".idx";
    MP4FileHandle f = MP4CreateProviderEx(name.c_str());
    MP4EnableRecoveryJournal(f, journal.c_str(), 0, false);
    MP4SetTimeScale(f, 90000);
    const MP4TrackId v = MP4AddH265VideoTrack(f, 90000, 3600, 64, 48);
    const std::vector<std::vector<uint8_t>> units = {
        {0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF, 0x01, 0x60, 0, 0, 3, 0, 0x90, 0, 0, 3, 0, 0, 0, 0x5D, 0x95},
        {0x42, 0x01, 0x01, 0x01, 0x60, 0, 0, 3, 0, 0x90, 0, 0, 3, 0, 0, 0, 0x5D, 0xA0, 0x02, 0x80, 0x80, 0x2D},
        {0x44, 0x01, 0xC1, 0x72}};
    std::vector<uint8_t> sets;
    NalPositions pos{};
    for (size_t i = 0; i < units.size(); ++i) {
        sets.insert(sets.end(), {0, 0, 0, 1});
        pos.nal[i] = {int32_t(sets.size()), int32_t(units[i].size())};
        sets.insert(sets.end(), units[i].begin(), units[i].end());
    }
    MP4AddH265ParameterArraySet(f, v, sets.data(), &pos, 3);
    const MP4TrackId a = MP4AddULawAudioTrack(f, 8000, 0);
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> s(size_t(30 + i), uint8_t(i));
        MP4WriteSample(f, v, s.data(), uint32_t(s.size()), 3600, 0, i % 5 == 0);
        MP4WriteSample(f, a, s.data(), 20, 160, 0, true);
    }
    r.data = Slurp(name);
    r.journal = Slurp(journal);
    MP4Close(f);
    unlink(name.c_str());
    unlink(journal.c_str());
    rmdir(dir);
    return r;
}

// Applies the input's damage: a cut length, then (offset, xor) byte flips.
void Damage(std::vector<uint8_t>& bytes, const uint8_t*& p, const uint8_t* end)
{
    if (end - p >= 2) {
        const size_t cut = (size_t(p[0]) << 8 | p[1]) % (bytes.size() + 1);
        if (p[0] & 0x80)
            bytes.resize(bytes.size() - cut / 4);
        p += 2;
    }
    const int flips = end - p >= 1 ? *p++ % 8 : 0;
    for (int i = 0; i < flips && end - p >= 3 && !bytes.empty(); ++i, p += 3)
        bytes[(size_t(p[0]) << 8 | p[1]) % bytes.size()] ^= p[2];
}

bool Put(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = bytes.empty() || write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    static const Recording base = [] {
        MP4LogSetLevel(MP4_LOG_NONE);
        return MakeRecording();
    }();
    static const std::string dir = [] {
        char tmpl[] = "/dev/shm/qelm2-fuzz-journal-XXXXXX"; // no disk syncs
        if (access("/dev/shm", W_OK) != 0)
            memcpy(tmpl, "/tmp/qelm2-fuzz-journal-XXXXXX", sizeof("/tmp/qelm2-fuzz-journal-XXXXXX"));
        static std::string made = mkdtemp(tmpl) ? tmpl : "";
        atexit([] {
            if (!made.empty())
                rmdir(made.c_str());
        });
        return made.empty() ? std::string("/tmp") : made;
    }();
    if (base.data.empty() || base.journal.empty())
        abort(); // the recording itself failed
    std::vector<uint8_t> data = base.data, journal = base.journal;
    const uint8_t* p = input;
    const uint8_t* end = input + size;
    Damage(journal, p, end);
    Damage(data, p, end);
    const std::string name = dir + "/rec.mp4.tmp";
    const std::string jname = name + ".idx";
    if (!Put(name, data) || !Put(jname, journal))
        return 0;
    if (MP4RecoverFile(name.c_str(), jname.c_str()) >= 0)
        mp4test::ExerciseReader(name.c_str());
    unlink(name.c_str());
    unlink(jname.c_str());
    return 0;
}
