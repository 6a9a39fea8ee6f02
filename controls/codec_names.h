// Codec names as the media records carry them, mapped to libavcodec's ids;
// shared by the stream player and the playback control.
#pragma once

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <cstring>
#include <string>

namespace qelm {

// A fixed-size text field of a record up to its first zero.
inline std::string FixedText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

inline AVCodecID VideoCodecId(const std::string& name)
{
    if (name == "H264" || name == "H.264")
        return AV_CODEC_ID_H264;
    if (name == "H265" || name == "H.265")
        return AV_CODEC_ID_HEVC;
    if (name == "MPEG4" || name == "MP4V")
        return AV_CODEC_ID_MPEG4;
    return AV_CODEC_ID_NONE;
}

inline bool IsAacName(const std::string& name)
{
    return name.rfind("AAC", 0) == 0 || name.rfind("MPEG4-GENERIC", 0) == 0 || name.rfind("AACG4-GENERIC", 0) == 0 ||
           name.rfind("MP4A", 0) == 0;
}

// "G711" is mu-law throughout; A-law travels as "G711A".
inline AVCodecID AudioCodecId(const std::string& name)
{
    if (name == "G711" || name == "G711U" || name == "PCMU")
        return AV_CODEC_ID_PCM_MULAW;
    if (name == "G711A" || name == "PCMA")
        return AV_CODEC_ID_PCM_ALAW;
    return IsAacName(name) ? AV_CODEC_ID_AAC : AV_CODEC_ID_NONE;
}

} // namespace qelm
