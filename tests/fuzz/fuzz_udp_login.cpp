// Fuzzes the alarm-server session's handling of a received datagram: the
// command and length rules, the login answer's ids, the copy of a notice
// into its 1,232-byte block and the reading of that block; and the requests
// built from arbitrary user and password bytes.
#include "alarms/udp_packets.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The session's receive buffer: a longer datagram ends the session unread.
    if (size > 1500)
        return 0;
    const std::vector<std::uint8_t> datagram(data, data + size); // exact size, so a read past it shows
    const udpmsg::ServerPacket p = udpmsg::ParseServerPacket(datagram.data(), datagram.size());
    volatile std::uint32_t sink = p.id1 ^ p.id2;
    if (p.kind == udpmsg::ServerPacket::Notice) {
        auto block = std::make_unique<std::uint8_t[]>(udpmsg::kNoticeSize);
        std::memcpy(block.get(), datagram.data(), udpmsg::kNoticeSize);
        const char* text = reinterpret_cast<const char*>(block.get() + 28);
        const std::string_view lines(text, strnlen(text, udpmsg::kNoticeSize - 28));
        sink = sink + udpmsg::ReadU32(block.get() + 24) + static_cast<std::uint32_t>(lines.size());
    }
    const std::size_t half = size / 2;
    const std::string_view user(reinterpret_cast<const char*>(data), half);
    const std::string_view password(reinterpret_cast<const char*>(data + half), size - half);
    std::uint8_t login[udpmsg::kLoginSize];
    std::uint8_t logout[udpmsg::kLogoutSize];
    std::uint8_t keep[udpmsg::kKeepAliveSize];
    udpmsg::BuildLogin(login, user, password);
    udpmsg::BuildLogout(logout, user, password, p.id1, p.id2);
    udpmsg::BuildKeepAlive(keep, p.id1, p.id2);
    sink = sink + login[79] + logout[87] + keep[23];
    (void)sink;
    return 0;
}
