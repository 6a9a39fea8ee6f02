// Test helpers for MP4 files: a temporary folder, test streams made by ffmpeg,
// elementary streams split into access units with libavformat, and ffprobe
// and ffmpeg as the oracles that check what we wrote.
#pragma once

#include "controls/media_params.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace mp4test {

namespace fs = std::filesystem;

// A folder under /tmp, removed at the end of the scope.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/qelm2-mp4-XXXXXX";
        const char* p = mkdtemp(tmpl);
        m_path = p ? p : "/tmp";
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The records of the test streams: H.264 at 25 fps, 8 kHz mono G.711.
inline VideoParam H264Param(int width = 176, int height = 144)
{
    VideoParam v{};
    snprintf(v.codecName, sizeof(v.codecName), "H264");
    v.width = width;
    v.height = height;
    v.frameRate = 25;
    return v;
}

inline AudioParam G711Param()
{
    AudioParam a{};
    snprintf(a.codecName, sizeof(a.codecName), "G711");
    a.sampleRate = 8000;
    a.bitsPerSample = 16;
    a.channels = 1;
    return a;
}

struct CommandResult {
    int status = -1;
    std::string out; // stdout
    std::string err; // stderr
};

// Runs a shell command, capturing stdout and stderr.
inline CommandResult Run(const std::string& command)
{
    CommandResult r;
    char errName[] = "/tmp/qelm2-mp4-err-XXXXXX";
    const int fd = mkstemp(errName);
    if (fd >= 0)
        close(fd);
    const std::string full = command + " 2>" + errName;
    if (FILE* p = popen(full.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
            r.out.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::ifstream in(errName, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(errName);
    return r;
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// One access unit or audio frame.
struct Frame {
    std::vector<uint8_t> data;
    bool key = false;
};

// The access units of an elementary stream file (h264, hevc), as ffmpeg's
// parser splits them, with their key flags.
inline std::vector<Frame> SplitStream(const std::string& path, const char* format)
{
    std::vector<Frame> frames;
    AVFormatContext* ctx = nullptr;
    const AVInputFormat* fmt = av_find_input_format(format);
    if (avformat_open_input(&ctx, path.c_str(), fmt, nullptr) != 0)
        return frames;
    avformat_find_stream_info(ctx, nullptr);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        Frame f;
        f.data.assign(pkt->data, pkt->data + pkt->size);
        f.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        frames.push_back(std::move(f));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return frames;
}

// ADTS frames of an AAC file, each with its header.
inline std::vector<Frame> SplitAdts(const std::string& path)
{
    std::vector<Frame> frames;
    const std::vector<uint8_t> b = ReadFile(path);
    size_t pos = 0;
    while (pos + 7 <= b.size() && b[pos] == 0xFF && (b[pos + 1] & 0xF0) == 0xF0) {
        const size_t len = (size_t(b[pos + 3] & 3) << 11) | (size_t(b[pos + 4]) << 3) | (b[pos + 5] >> 5);
        if (len < 7 || pos + len > b.size())
            break;
        frames.push_back({std::vector<uint8_t>(b.begin() + long(pos), b.begin() + long(pos + len)), true});
        pos += len;
    }
    return frames;
}

// Fixed-size chunks of a raw file (G.711 frames).
inline std::vector<Frame> SplitRaw(const std::string& path, size_t frameSize)
{
    std::vector<Frame> frames;
    const std::vector<uint8_t> b = ReadFile(path);
    for (size_t pos = 0; pos + frameSize <= b.size(); pos += frameSize)
        frames.push_back({std::vector<uint8_t>(b.begin() + long(pos), b.begin() + long(pos + frameSize)), true});
    return frames;
}

// NAL units of an Annex-B buffer (3- or 4-byte start codes), without start codes.
inline std::vector<std::vector<uint8_t>> NalUnits(const std::vector<uint8_t>& au)
{
    std::vector<std::vector<uint8_t>> units;
    size_t i = 0, start = std::string::npos;
    const size_t n = au.size();
    auto close = [&](size_t end) {
        if (start == std::string::npos)
            return;
        while (end > start && au[end - 1] == 0)
            --end;
        if (end > start)
            units.emplace_back(au.begin() + long(start), au.begin() + long(end));
    };
    while (i + 2 < n) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            close(i);
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    close(n);
    return units;
}

inline std::vector<uint8_t> AnnexB(const std::vector<std::vector<uint8_t>>& units)
{
    std::vector<uint8_t> out;
    for (const auto& u : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

inline int H264Type(const std::vector<uint8_t>& unit)
{
    return unit.empty() ? -1 : unit[0] & 0x1F;
}

inline int H265Type(const std::vector<uint8_t>& unit)
{
    return unit.empty() ? -1 : (unit[0] >> 1) & 0x3F;
}

// The lines of a command's output, without their "\n".
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = text.size();
        lines.push_back(text.substr(pos, eol - pos));
        pos = eol + 1;
    }
    return lines;
}

using Fields = std::map<std::string, std::string>;

// ffprobe's [STREAM] sections (with -count_frames) as key/value maps.
inline std::vector<Fields> ProbeStreams(const std::string& file)
{
    const CommandResult r = Run("ffprobe -v error -count_frames -show_streams -of default=nw=0 '" + file + "'");
    std::vector<Fields> streams;
    for (const std::string& line : Lines(r.out)) {
        if (line == "[STREAM]")
            streams.emplace_back();
        else if (!streams.empty() && line.find('=') != std::string::npos && line[0] != '[')
            streams.back()[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
    return streams;
}

inline const Fields* FindStream(const std::vector<Fields>& streams, const std::string& type)
{
    for (const Fields& s : streams)
        if (s.count("codec_type") && s.at("codec_type") == type)
            return &s;
    return nullptr;
}

// Key flags of the video packets in file order.
inline std::vector<bool> ProbeVideoKeyFlags(const std::string& file)
{
    const CommandResult r =
        Run("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 '" + file + "'");
    std::vector<bool> keys;
    for (const std::string& line : Lines(r.out))
        if (!line.empty())
            keys.push_back(line[0] == 'K');
    return keys;
}

// Time stamps of the video packets in file (decode) order, in the stream's time base.
struct PacketTimes {
    int64_t pts = 0, dts = 0, duration = 0;
};
inline std::vector<PacketTimes> ProbeVideoPacketTimes(const std::string& file)
{
    const CommandResult r = Run("ffprobe -v error -select_streams v -show_entries packet=pts,dts,duration "
                                "-of csv=p=0 '" + file + "'");
    std::vector<PacketTimes> out;
    for (const std::string& line : Lines(r.out)) {
        PacketTimes t;
        long long pts = 0, dts = 0, duration = 0;
        if (sscanf(line.c_str(), "%lld,%lld,%lld", &pts, &dts, &duration) == 3) {
            t.pts = pts;
            t.dts = dts;
            t.duration = duration;
            out.push_back(t);
        }
    }
    return out;
}

// What a full decode of the file with ffmpeg prints at level "error" (empty when clean).
inline std::string DecodeErrors(const std::string& file)
{
    const CommandResult r = Run("ffmpeg -nostdin -v error -i '" + file + "' -f null -");
    return r.status == 0 ? r.err : "exit " + std::to_string(r.status) + ": " + r.err;
}

// Test streams, made by ffmpeg once and kept in a cache folder that every
// test process shares (a stream is written under a private name and renamed,
// so parallel tests never see half a file).
class Streams {
public:
    static Streams& Get()
    {
        static Streams s;
        return s;
    }
    // Makes a file with ffmpeg unless it exists; returns its path ("" on failure).
    std::string Make(const std::string& name, const std::string& args)
    {
        const std::string path = m_dir + "/" + name;
        if (!fs::exists(path)) {
            const std::string part = path + ".part" + std::to_string(getpid());
            const CommandResult r = Run("ffmpeg -nostdin -v error -y " + args + " '" + part + "'");
            std::error_code ec;
            if (r.status != 0 || !fs::exists(part) || (fs::rename(part, path, ec), ec)) {
                fprintf(stderr, "ffmpeg failed for %s: %s\n", name.c_str(), r.err.c_str());
                fs::remove(part, ec);
                return "";
            }
        }
        return path;
    }
    // 4 s of 176x144 at 25 fps, GOP 25, no B-frames; extra x264 parameters optional.
    std::string H264(const std::string& x264params = "", double seconds = 4)
    {
        const std::string name = "v264" + std::to_string(std::hash<std::string>()(x264params)) + "-" +
                                 std::to_string(int(seconds * 10)) + ".h264";
        std::string args = "-f lavfi -i testsrc2=size=176x144:rate=25 -t " + std::to_string(seconds) +
                           " -c:v libx264 -preset veryfast -bf 0 -g 25 -pix_fmt yuv420p";
        if (!x264params.empty())
            args += " -x264-params " + x264params;
        return Make(name, args + " -f h264");
    }
    // H.265 with VPS/SPS/PPS repeated in front of every key frame.
    std::string H265()
    {
        return Make("v265.hevc", "-f lavfi -i testsrc2=size=176x144:rate=25 -t 4 -c:v libx265 -preset ultrafast "
                                 "-pix_fmt yuv420p -x265-params "
                                 "bframes=0:keyint=25:min-keyint=25:repeat-headers=1:log-level=error -f hevc");
    }
    std::string Mulaw()
    {
        return Make("a8k.ul", "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 4 -c:a pcm_mulaw -f mulaw");
    }
    std::string Aac(int rate, int channels)
    {
        return Make("a" + std::to_string(rate) + "-" + std::to_string(channels) + ".aac",
                    "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + " -t 4 -ac " +
                        std::to_string(channels) + " -c:a aac -b:a 48k -f adts");
    }
    const std::string& Dir() const { return m_dir; }

private:
    Streams()
    {
        m_dir = (fs::temp_directory_path() / ("qelm2-mp4-streams-" + std::to_string(getuid()))).string();
        std::error_code ec;
        fs::create_directories(m_dir, ec);
    }
    std::string m_dir;
};

} // namespace mp4test
