// Fuzzes the cloud login reply as the login turns it into device records:
// the walk of the root's children, each device entry with its nested
// registration document, recorders and their channel rows, every field cut
// to its record. Byte 0 chooses the device-password digest; the rest is the
// reply body.
#include "mainwnd/cloud_login.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > 256 * 1024)
        return 0;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    cloudlogin::Reply reply;
    cloudlogin::ParseReply(body.c_str(), "cloud.fuzz", data[0] & 1, reply);
    if (reply.devices.size() > 10000)
        std::abort();
    for (const DeviceInfo& d : reply.devices) {
        // every text is terminated inside its field
        if (!std::memchr(d.DevName, 0, sizeof d.DevName) || !std::memchr(d.DevId, 0, sizeof d.DevId) ||
            !std::memchr(d.IPAddr, 0, sizeof d.IPAddr) || !std::memchr(d.DevDomainName, 0, sizeof d.DevDomainName) ||
            !std::memchr(d.p2pSvr, 0, sizeof d.p2pSvr) || !std::memchr(d.p2pSvrList, 0, sizeof d.p2pSvrList))
            std::abort();
        if (d.NVRChannels < 0 || d.NVRChannels > cloudlogin::kMaxNvrChannels)
            std::abort();
        if (d.CurNVRChannel < 0 || d.CurNVRChannel > d.NVRChannels)
            std::abort();
    }
    return 0;
}
