// Test helpers for AVI record files: a temporary folder, test streams made by
// ffmpeg, access units split with libavformat, a checker of the fixed file
// layout, and ffprobe/ffmpeg as the oracles.
#pragma once

#include "controls/avi_file.h"
#include "tests/media/media_test_util.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace avitest {

namespace fs = std::filesystem;

// Shared with the MP4 tests: folders, commands, files, elementary streams, ffmpeg.
using mp4test::TempDir;
using mp4test::CommandResult;
using mp4test::DecodeErrors;
using mp4test::ProbeVideoKeyFlags;
using mp4test::Frame;
using mp4test::ReadFile;
using mp4test::Run;
using mp4test::SplitRaw;
using mp4test::SplitStream;
using mp4test::WriteFile;

// The parameter sets (Annex-B, 4-byte start codes) in front of the first
// picture of an access unit.
inline std::vector<uint8_t> ParameterSets(const std::vector<uint8_t>& au, bool hevc)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    std::vector<std::pair<size_t, size_t>> units;
    size_t start = std::string::npos;
    while (i + 3 <= au.size()) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && au[end - 1] == 0)
                    --end;
                units.push_back({start, end});
            }
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos)
        units.push_back({start, au.size()});
    for (auto [s, e] : units) {
        const int type = hevc ? (au[s] >> 1) & 0x3F : au[s] & 0x1F;
        const bool ps = hevc ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
        const bool skip = hevc ? (type == 35 || type == 39 || type == 40) : (type == 6 || type == 9);
        if (skip)
            continue;
        if (!ps)
            break;
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), au.begin() + long(s), au.begin() + long(e));
    }
    return out;
}

// Test media, made once per test program.
class Streams {
public:
    static Streams& Get()
    {
        static Streams s;
        return s;
    }
    std::string Make(const std::string& name, const std::string& args)
    {
        const std::string path = m_dir / name;
        if (!fs::exists(path)) {
            const CommandResult r = Run("ffmpeg -nostdin -v error -y " + args + " '" + path + "'");
            if (r.status != 0 || !fs::exists(path)) {
                fprintf(stderr, "ffmpeg failed for %s: %s\n", name.c_str(), r.err.c_str());
                return "";
            }
        }
        return path;
    }
    // 176x144 at 25 fps, a key frame every 25 frames, no B-frames.
    std::string H264(int seconds)
    {
        return Make("v" + std::to_string(seconds) + ".h264",
                    "-f lavfi -i testsrc2=size=176x144:rate=25 -t " + std::to_string(seconds) +
                        " -c:v libx264 -preset veryfast -bf 0 -g 25 -keyint_min 25 -sc_threshold 0 "
                        "-pix_fmt yuv420p -f h264");
    }
    std::string H265(int seconds)
    {
        return Make("v" + std::to_string(seconds) + ".hevc",
                    "-f lavfi -i testsrc2=size=176x144:rate=25 -t " + std::to_string(seconds) +
                        " -c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params "
                        "bframes=0:keyint=25:min-keyint=25:scenecut=0:repeat-headers=1:log-level=error -f hevc");
    }
    // 8 kHz mono mu-law.
    std::string Mulaw(int seconds)
    {
        return Make("a" + std::to_string(seconds) + ".ul", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t " +
                                                               std::to_string(seconds) + " -c:a pcm_mulaw -f mulaw");
    }
    const std::string& Dir() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// ffprobe's values for one stream ("v:0", "a:0") or the format.
inline std::map<std::string, std::string> Probe(const std::string& file, const std::string& select,
                                                const std::string& entries)
{
    const std::string sel = select.empty() ? "" : " -select_streams " + select;
    const CommandResult r = Run("ffprobe -v error -count_frames" + sel + " -show_entries " + entries +
                                " -of default=nw=1 '" + file + "'");
    std::map<std::string, std::string> m;
    for (const std::string& line : mp4test::Lines(r.out)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

// The sum of ffprobe's audio packet durations in seconds.
inline double ProbeAudioSeconds(const std::string& file)
{
    const CommandResult r =
        Run("ffprobe -v error -select_streams a:0 -show_entries packet=duration_time -of csv=p=0 '" + file + "'");
    double seconds = 0;
    for (const std::string& line : mp4test::Lines(r.out))
        if (!line.empty() && line != "N/A")
            seconds += std::stod(line);
    return seconds;
}

// What a full decode prints at level "error" (empty when clean).
// --- layout checker ------------------------------------------------------------

struct AviLayout {
    std::vector<std::string> errors;
    bool withAudio = false;
    struct Chunk {
        uint32_t code;
        uint64_t pos;    // of the chunk's code
        uint32_t length;
    };
    std::vector<Chunk> chunks;
    struct Entry {
        uint32_t code, flags, offset, length;
    };
    std::vector<Entry> index;
    uint32_t videoFrames = 0;
    uint32_t frameRate = 0;
    uint32_t audioLength = 0; // the audio stream header's length (samples)
    uint64_t audioBytes = 0;
    size_t padding = 0;
};

inline std::string CodeText(uint32_t c)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i)
        s[size_t(i)] = char(c >> (8 * i));
    return s;
}

// Checks every fixed field of the header form, the chunk sequence, the 0xFF
// padding and the idx1 index of a finished file.
inline AviLayout CheckAviLayout(const std::string& path)
{
    AviLayout L;
    const std::vector<uint8_t> b = ReadFile(path);
    auto err = [&](const std::string& e) { L.errors.push_back(e); };
    if (b.size() < avi::kHeaderSizeV) {
        err("file too short: " + std::to_string(b.size()));
        return L;
    }
    auto u32 = [&](size_t at) { return avi::Get32(&b[at]); };
    auto u16 = [&](size_t at) { return avi::Get16(&b[at]); };
    auto expect32 = [&](size_t at, uint32_t v) {
        if (u32(at) != v)
            err("offset " + std::to_string(at) + ": " + std::to_string(u32(at)) + " != " + std::to_string(v));
    };
    auto expectCode = [&](size_t at, const char (&s)[5]) {
        if (u32(at) != avi::FourCC(s))
            err("offset " + std::to_string(at) + ": '" + CodeText(u32(at)) + "' != '" + s + "'");
    };
    auto expectZero = [&](size_t from, size_t n) {
        for (size_t i = from; i < from + n; ++i)
            if (b[i] != 0) {
                err("offset " + std::to_string(i) + " not zero");
                return;
            }
    };
    L.withAudio = u32(56) == 2;
    const size_t hsize = L.withAudio ? avi::kHeaderSizeAV : avi::kHeaderSizeV;
    if (b.size() < hsize) {
        err("shorter than its header");
        return L;
    }
    expectCode(0, "RIFF");
    expect32(4, uint32_t(b.size() - 8));
    expectCode(8, "AVI ");
    expectCode(12, "LIST");
    expect32(16, L.withAudio ? 8808 : 4584);
    expectCode(20, "hdrl");
    expectCode(24, "avih");
    expect32(28, 56);
    expect32(40, 0);
    expect32(44, 0x910);
    expect32(52, 0);
    expect32(56, L.withAudio ? 2 : 1);
    expect32(60, 1048576);
    expectZero(72, 16);
    expectCode(88, "LIST");
    expect32(92, 4240);
    expectCode(96, "strl");
    expectCode(100, "strh");
    expect32(104, 56);
    expectCode(108, "vids");
    expect32(116, 0);
    expect32(120, 0);
    expect32(124, 0);
    expect32(128, 1);
    expect32(136, 0);
    expect32(144, 1048576);
    expect32(148, 0xFFFFFFFF);
    expect32(152, 0);
    expect32(156, 0);
    if (u16(160) != uint16_t(u32(64)) || u16(162) != uint16_t(u32(68)))
        err("frame rectangle differs from the picture size");
    expectCode(164, "strf");
    expect32(168, 40);
    expect32(172, 40);
    expect32(176, u32(64));
    expect32(180, u32(68));
    if (u16(184) != 1 || u16(186) != 24)
        err("planes or bit count");
    expect32(188, u32(112));
    expect32(192, uint32_t(uint64_t(u32(64)) * u32(68) * 3));
    expectZero(196, 16);
    expectCode(212, "JUNK");
    expect32(216, 4116);
    expect32(220, 4);
    expect32(224, 0);
    expectCode(228, "00dc");
    expectZero(232, 4104);
    size_t odml = 4336;
    if (L.withAudio) {
        expectCode(4336, "LIST");
        expect32(4340, 4216);
        expectCode(4344, "strl");
        expectCode(4348, "strh");
        expect32(4352, 56);
        expectCode(4356, "auds");
        expect32(4364, 0);
        expect32(4368, 0);
        expect32(4372, 0);
        expect32(4376, 1);
        expect32(4380, u32(4424));
        expect32(4384, 0);
        L.audioLength = u32(4388); // checked against the chunks below
        expect32(4392, 12288);
        expect32(4396, 0xFFFFFFFF);
        expect32(4400, 1);
        expectZero(4404, 8);
        expectCode(4412, "strf");
        expect32(4416, 16);
        expectCode(4436, "JUNK");
        expect32(4440, 4116);
        expect32(4444, 4);
        expect32(4448, 0);
        expectCode(4452, "01wb");
        expectZero(4456, 4104);
        odml = 8560;
    }
    expectCode(odml, "JUNK");
    expect32(odml + 4, 260);
    expectCode(odml + 8, "odml");
    expectCode(odml + 12, "dmlh");
    expect32(odml + 16, 248);
    expectZero(odml + 20, 248);
    const size_t info = odml + 268;
    expectCode(info, "LIST");
    expect32(info + 4, 24);
    expectCode(info + 8, "INFO");
    expectCode(info + 12, "ISFT");
    expect32(info + 16, 11);
    if (memcmp(&b[info + 20], "Lavf52.7.0\0\0", 12) != 0)
        err("ISFT text");
    expectCode(info + 32, "JUNK");
    expect32(info + 36, 1016);
    expectZero(info + 40, 1016);
    const size_t movi = hsize - 4;
    if (info + 40 + 1016 != hsize - 12)
        err("layout arithmetic");
    expectCode(hsize - 12, "LIST");
    expectCode(movi, "movi");

    // Chunks, padding, index.
    const uint32_t moviSize = u32(hsize - 8);
    if (moviSize < 4 || movi + moviSize > b.size()) {
        err("movi size " + std::to_string(moviSize));
        return L;
    }
    const size_t end = movi + moviSize;
    size_t pos = movi + 4;
    while (pos + 8 <= end && (u32(pos) == avi::kVideoChunk || u32(pos) == avi::kAudioChunk)) {
        const uint32_t len = u32(pos + 4);
        if (pos + 8 + len > end) {
            err("chunk past the movi list");
            return L;
        }
        L.chunks.push_back({u32(pos), pos, len});
        if (u32(pos) == avi::kVideoChunk)
            ++L.videoFrames;
        else
            L.audioBytes += len;
        pos += 8 + len;
    }
    if (L.withAudio) {
        // mu-law: a byte a sample per channel; AAC: 1,024 samples a raw block.
        uint64_t samples = 0;
        if (u32(4360) == avi::kG711Handler) {
            samples = L.audioBytes / std::max<uint32_t>(1, u16(4432));
        } else {
            for (const auto& c : L.chunks) {
                if (c.code != avi::kAudioChunk)
                    continue;
                const uint8_t* p = &b[c.pos + 8];
                uint32_t blocks = 1;
                for (uint32_t at : {0u, 4u})
                    if (c.length >= at + 7 && p[at] == 0xFF && (p[at + 1] & 0xF6) == 0xF0) {
                        blocks = (p[at + 6] & 3u) + 1;
                        break;
                    }
                samples += 1024u * blocks;
            }
        }
        if (L.audioLength != samples)
            err("audio length " + std::to_string(L.audioLength) + " != " + std::to_string(samples) + " samples");
    }
    L.padding = end - pos;
    for (size_t i = pos; i < end; ++i)
        if (b[i] != 0xFF)
            err("padding byte not 0xFF");
    const size_t data = pos - (movi + 4);
    if (L.padding != (4 - data % 4) % 4)
        err("padding of " + std::to_string(L.padding) + " for data of " + std::to_string(data));
    L.frameRate = u32(132);
    expect32(48, L.videoFrames);
    expect32(140, L.videoFrames);
    if (L.frameRate == 0 || u32(32) != 1000000 / L.frameRate)
        err("microseconds per frame");
    if (L.chunks.empty()) {
        if (end != b.size())
            err("bytes after an empty movi list");
        return L;
    }
    if (end + 8 > b.size() || u32(end) != avi::kIndexCode) {
        err("no idx1 after the movi list");
        return L;
    }
    const uint32_t isize = u32(end + 4);
    if (isize != L.chunks.size() * 16 || end + 8 + isize != b.size()) {
        err("idx1 size " + std::to_string(isize));
        return L;
    }
    for (size_t i = 0; i < L.chunks.size(); ++i) {
        const size_t e = end + 8 + i * 16;
        const AviLayout::Entry entry{u32(e), u32(e + 4), u32(e + 8), u32(e + 12)};
        L.index.push_back(entry);
        const auto& c = L.chunks[i];
        if (entry.code != c.code || entry.offset != c.pos - movi || entry.length != c.length)
            err("index entry " + std::to_string(i) + " does not match its chunk");
        if (entry.code == avi::kAudioChunk && entry.flags != 16)
            err("audio entry without flag 16");
        if (entry.flags != 0 && entry.flags != 16)
            err("index flags " + std::to_string(entry.flags));
    }
    return L;
}

inline std::string Join(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& e : v)
        s += e + "; ";
    return s;
}

} // namespace avitest
