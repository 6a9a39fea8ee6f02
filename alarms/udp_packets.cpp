// Alarm-server datagrams.
#include "alarms/udp_packets.h"

#include <cstring>

namespace udpmsg {

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t ReadU16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void WriteU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void WriteU16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

namespace {

void Head(uint8_t* out, std::size_t length, uint16_t command)
{
    std::memcpy(out, "kwzd", 4);
    WriteU32(out + 4, uint32_t(length - kHeadSize));
    WriteU16(out + 8, uint16_t(kHeadSize));
    WriteU16(out + 10, command);
    WriteU32(out + 12, 0);
}

void Name(uint8_t* out, std::string_view text)
{
    const std::size_t n = text.size() < kNameField ? text.size() : kNameField;
    std::memcpy(out, text.data(), n);
}

} // namespace

std::size_t BuildLogin(uint8_t (&out)[kLoginSize], std::string_view user, std::string_view password)
{
    std::memset(out, 0, sizeof out);
    Head(out, sizeof out, kCmdLogin);
    Name(out + 16, user);
    Name(out + 48, password);
    return sizeof out;
}

std::size_t BuildLogout(uint8_t (&out)[kLogoutSize], std::string_view user, std::string_view password,
                        uint32_t id1, uint32_t id2)
{
    std::memset(out, 0, sizeof out);
    Head(out, sizeof out, kCmdLogout);
    Name(out + 16, user);
    Name(out + 48, password);
    WriteU32(out + 80, id1);
    WriteU32(out + 84, id2);
    return sizeof out;
}

std::size_t BuildKeepAlive(uint8_t (&out)[kKeepAliveSize], uint32_t id1, uint32_t id2)
{
    std::memset(out, 0, sizeof out);
    Head(out, sizeof out, kCmdKeepAlive);
    WriteU32(out + 16, id1);
    WriteU32(out + 20, id2);
    return sizeof out;
}

ServerPacket ParseServerPacket(const uint8_t* data, std::size_t length)
{
    ServerPacket p;
    if (!data || length < kHeadSize)
        return p;
    switch (ReadU16(data + 10)) {
    case kCmdNotice:
        p.kind = length < kNoticeSize ? ServerPacket::ShortNotice : ServerPacket::Notice;
        break;
    case kCmdLoginRsp:
        if (length < kLoginRspMin)
            break;
        if (ReadU32(data + 16) != 0) {
            p.kind = ServerPacket::LoginRefused;
        } else {
            p.kind = ServerPacket::LoginAccepted;
            p.id1 = ReadU32(data + 24);
            p.id2 = ReadU32(data + 28);
        }
        break;
    case kCmdKeepAliveRsp:
        p.kind = ServerPacket::KeepAliveRsp;
        break;
    default:
        break;
    }
    return p;
}

} // namespace udpmsg
