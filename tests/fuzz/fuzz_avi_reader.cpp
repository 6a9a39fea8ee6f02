// Fuzz target: the AVI record file reader on a whole file (input starting
// with "RIFF"), or on chunks and an index behind a well-formed header whose
// form, codec, frame rate and movi size the first ten bytes choose.
#include "controls/avi_file.h"
#include "media/avi_reader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> FileOf(const uint8_t* data, size_t size)
{
    if (size >= 4 && memcmp(data, "RIFF", 4) == 0)
        return std::vector<uint8_t>(data, data + size);
    if (size < 10)
        return {};
    const bool audio = data[0] & 1;
    static const char* const kCodecs[] = {"H264", "MPEG4", "H265", "X"};
    AviVideoDesc v{};
    strcpy(v.codec, kCodecs[data[1] & 3]);
    v.width = 176;
    v.height = 144;
    AviAudioDesc a{};
    strcpy(a.codec, data[0] & 2 ? "AAC" : "G711");
    std::vector<uint8_t> file = avi::BuildHeader(audio, avi::VideoTypeOf(v.codec), avi::AudioTypeOf(a.codec), v, a);
    avi::Put32(&file[avi::kVideoRateAt], avi::Get32(data + 2));
    uint32_t movi = avi::Get32(data + 6);
    if (movi == 0xFFFFFFFF)
        movi = uint32_t(size - 10 + 4); // the whole rest is the movi data
    avi::Put32(&file[audio ? avi::kMoviSizeAtAV : avi::kMoviSizeAtV], movi);
    file.insert(file.end(), data + 10, data + size);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzz-avi", 0);
    static std::vector<uint8_t> buffer(CReadAviFile::kMaxFrameSize);
    if (fd < 0)
        return 0;
    const std::vector<uint8_t> file = FileOf(data, size);
    if (ftruncate(fd, 0) != 0 || (!file.empty() && pwrite(fd, file.data(), file.size(), 0) != ssize_t(file.size())))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    CReadAviFile r;
    if (r.Open(path.c_str()) == 1) {
        uint8_t type = 0;
        VideoParam vp;
        AudioParam ap;
        r.GetMediaParam(&type, &vp, &ap);
        const int seconds = r.GetAllTime();
        for (int i = 0; i < 4000; ++i) {
            int video = 0, key = 0;
            const int n = r.ReadOneFrame(buffer.data(), int(buffer.size()), &video, &key);
            if (n == -1 || n == -2)
                break;
            r.GetCurTime();
        }
        for (int s : {0, seconds / 2, seconds - 1, seconds}) {
            if (r.SeekToTime(s) == 0) {
                int video = 0, key = 0;
                r.ReadOneFrame(buffer.data(), 64, &video, &key);
                r.MoveNextKeyFrame();
                r.GetCurTime();
                r.GetPlayPos();
            }
        }
        r.Close();
    }
    CReadAviFile::IsH264KeyFrame(data, int(size));
    CReadAviFile::IsH265KeyFrame(data, int(size));
    CReadAviFile::IsMpeg4KeyFrame(data, int(size));
    return 0;
}
