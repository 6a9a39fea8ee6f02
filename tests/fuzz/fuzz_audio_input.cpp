// Fuzz target: the talk-back decoder's packet input. The input is a run of
// packets as a device sends them back during a talk, each a 16-bit
// little-endian length and that many bytes (the length may claim more than
// follows, and more than a packet block holds). The decoder plays what it
// takes into a sound device that drains at once, on a clock that always
// allows the next packet.
#include "media/audio_codec.h"
#include "media/audio_renderer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class NullOutput : public IAudioOutput {
public:
    bool CreateBuffer(const PcmFormat&, int bytes) override { return bytes > 0; }
    void Play() override {}
    bool Write(const uint8_t* pcm, int n) override
    {
        for (int i = 0; i < n; ++i)
            m_sum += pcm[i];  // every decoded byte is read
        return true;
    }
    int Queued() override { return 0; }
    void Reset() override {}
    void SetVolume(int) override {}
    void Stop() override {}

private:
    unsigned m_sum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool installed = [] {
        qelm::SetAudioOutputFactory([] { return std::unique_ptr<IAudioOutput>(new NullOutput); });
        return true;
    }();
    (void)installed;

    std::atomic<int64_t> now{0};
    CAudioCodec codec;
    codec.SetClock([&now] { return now += 1000; });
    if (codec.OpenDec(nullptr) != 0)
        return 0;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const int claimed = data[pos] | (data[pos + 1] << 8);
        pos += 2;
        const size_t avail = size - pos;
        // The bytes are copied so that the sanitizer sees the real end.
        const size_t have = std::min<size_t>(avail, size_t(claimed));
        std::vector<uint8_t> packet(data + pos, data + pos + have);
        codec.InputData(packet.empty() ? nullptr : packet.data(), int(have));
        pos += have;
    }
    codec.CloseDec();
    return 0;
}
