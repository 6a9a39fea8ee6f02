// The fixed-size media records that every media component, the stand-ins of
// the closed controls among them, exchanges as raw bytes: stream parameters,
// frame headers, ONVIF profiles, talk-back packets.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the records are little-endian");

// The marker of a StreamMediaParam that may be used.
inline constexpr const char kStreamMediaMarker[] = "BremulH264";

// The parameters of a video elementary stream.
struct VideoParam {
    char codecName[256];   // "H264", "H.264", "H265", "H.265", "MPEG4", "MP4V"; empty = no video
    int32_t width;
    int32_t height;
    int32_t extra;         // carried through; the MP4 reader puts 24 here, the AVI reader 0
    int32_t frameRate;     // frames per second
    int32_t bitRate;
    uint8_t config[256];   // codec configuration bytes (an Annex-B parameter-set block)
    int16_t configLength;  // valid bytes in config, 0..256
    uint8_t zero[2];
};
static_assert(sizeof(VideoParam) == 536);
static_assert(offsetof(VideoParam, width) == 256);
static_assert(offsetof(VideoParam, height) == 260);
static_assert(offsetof(VideoParam, extra) == 264);
static_assert(offsetof(VideoParam, frameRate) == 268);
static_assert(offsetof(VideoParam, bitRate) == 272);
static_assert(offsetof(VideoParam, config) == 276);
static_assert(offsetof(VideoParam, configLength) == 532);

// The parameters of an audio elementary stream.
struct AudioParam {
    char codecName[256];   // "AAC", "MPEG4-GENERIC", "AACG4-GENERIC", "MP4A", "G711"; empty = no audio
    int32_t sampleRate;    // Hz
    int32_t bitsPerSample;
    int32_t channels;
    int32_t extra1;        // carried through; the MP4 reader puts 15 (AAC) or 8 (G.711) here
    int32_t extra2;        // carried through
};
static_assert(sizeof(AudioParam) == 276);
static_assert(offsetof(AudioParam, sampleRate) == 256);
static_assert(offsetof(AudioParam, bitsPerSample) == 260);
static_assert(offsetof(AudioParam, channels) == 264);
static_assert(offsetof(AudioParam, extra1) == 268);
static_assert(offsetof(AudioParam, extra2) == 272);

// The block of the stream pull control's media-parameter event (media type 17).
struct StreamMediaParam {
    char marker[32];       // exactly "BremulH264", else the whole block is ignored
    int16_t hasVideo;      // non-zero: video is valid
    int16_t hasAudio;      // non-zero: audio is valid
    VideoParam video;
    AudioParam audio;
};
static_assert(sizeof(StreamMediaParam) == 848);
static_assert(offsetof(StreamMediaParam, hasVideo) == 32);
static_assert(offsetof(StreamMediaParam, hasAudio) == 34);
static_assert(offsetof(StreamMediaParam, video) == 36);
static_assert(offsetof(StreamMediaParam, audio) == 572);

// True when the marker is exactly "BremulH264" (a longer text that begins
// with it is not).
inline bool HasStreamMediaMarker(const StreamMediaParam& p)
{
    return memcmp(p.marker, kStreamMediaMarker, sizeof(kStreamMediaMarker)) == 0;
}

// Travels beside every audio or video frame.
struct MediaFrameHeader {
    int32_t keyFrame;      // 1 for a video key frame; audio frames carry what the source gave
    // Video whose pictures come in decode order ahead of their showing
    // (B-frames): presentation - decode time in microseconds; 0 otherwise.
    int32_t renderOffsetUs;
    double timeStamp;      // milliseconds on the source's clock (presentation time)
};
static_assert(sizeof(MediaFrameHeader) == 16);
static_assert(offsetof(MediaFrameHeader, renderOffsetUs) == 4);
static_assert(offsetof(MediaFrameHeader, timeStamp) == 8);

// One media profile of an ONVIF camera.
struct StreamProfile {
    char uri[260];
    int32_t width;
    int32_t height;
};
static_assert(sizeof(StreamProfile) == 268);
static_assert(offsetof(StreamProfile, width) == 260);
static_assert(offsetof(StreamProfile, height) == 264);

// The header in front of each media packet of the device-control component;
// the payload follows it directly.
struct PacketHead {
    uint8_t unused0[8];
    uint16_t pack_seq;     // packet sequence number (logged only)
    uint16_t size;         // payload bytes; at most 1360 are decoded
    uint8_t unused1[2];
    uint8_t kind;          // 0 video, 1 audio, 2 NVR video, 3 NVR audio
    uint8_t unused2;
    uint32_t key;          // queue key; packets play in ascending order
};
static_assert(sizeof(PacketHead) == 20);
static_assert(offsetof(PacketHead, pack_seq) == 8);
static_assert(offsetof(PacketHead, size) == 10);
static_assert(offsetof(PacketHead, kind) == 14);
static_assert(offsetof(PacketHead, key) == 16);
