#include "devices/onvif_profile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

int GetOnvifStreamProfile(const _OVF_DEV_INFO* info, int index, StreamProfile* profile)
{
    if (!info || !profile)
        return -1;
    // The count comes from the camera: never index past the block's table.
    const int count = std::clamp<int>(info->ProfileCount, 0, static_cast<int>(std::size(info->Profiles)));
    if (index < 0 || index >= count)
        index = 0;
    const OvfProfileEntry& p = info->Profiles[index];
    *profile = StreamProfile{};
    const std::size_t n = strnlen(p.StreamUri, sizeof p.StreamUri);
    std::memcpy(profile->uri, p.StreamUri, std::min(n, sizeof profile->uri - 1));
    profile->width = p.Width;
    profile->height = p.Height;
    return 0;
}

int GetIpFromUrl(const char* url, char* out)
{
    if (!url || !out || !*url)
        return -1;
    const std::string_view text(url, strnlen(url, 255));
    const auto at = text.find("http://");
    if (at == std::string_view::npos)
        return 0;
    std::size_t i = at + 7, n = 0;
    while (i < text.size() && n < 255 && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
        out[n++] = text[i++];
    out[n] = '\0';
    return 0;
}
