// The alarm-server datagrams: building the client's requests and reading the
// server's answers and notices. No sockets here, so the fuzzer links it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace udpmsg {

inline constexpr std::size_t kHeadSize = 16;
inline constexpr std::size_t kLoginSize = 80;
inline constexpr std::size_t kLogoutSize = 88;
inline constexpr std::size_t kKeepAliveSize = 24;
inline constexpr std::size_t kLoginRspMin = 160;
inline constexpr std::size_t kNoticeSize = 1232;
inline constexpr std::size_t kNameField = 32;

enum : uint16_t {
    kCmdNotice = 2,         // CHSMSG_DEVALARM_NOTIFY
    kCmdLogin = 5,          // CHSMSG_LOGIN
    kCmdLoginRsp = 6,       // CHSMSG_LOGIN_RSP
    kCmdLogout = 7,         // CHSMSG_LOGOUT
    kCmdKeepAlive = 9,      // CHSMSG_KEEPALIVE
    kCmdKeepAliveRsp = 10,  // CHSMSG_KEEPALIVE_RSP
};

// Requests; each returns its length. Names and passwords are the wire's
// bytes (the caller converts them) and are cut to 32 bytes, zero-filled.
std::size_t BuildLogin(uint8_t (&out)[kLoginSize], std::string_view user, std::string_view password);
std::size_t BuildLogout(uint8_t (&out)[kLogoutSize], std::string_view user, std::string_view password,
                        uint32_t id1, uint32_t id2);
std::size_t BuildKeepAlive(uint8_t (&out)[kKeepAliveSize], uint32_t id1, uint32_t id2);

// What a received datagram means to the session.
struct ServerPacket {
    enum Kind {
        Ignored,        // shorter than a header, a short login answer, another command
        LoginAccepted,  // id1, id2
        LoginRefused,
        KeepAliveRsp,
        Notice,         // the first kNoticeSize bytes of data form the notice
        ShortNotice,    // a notice shorter than kNoticeSize
    } kind = Ignored;
    uint32_t id1 = 0, id2 = 0;
};
ServerPacket ParseServerPacket(const uint8_t* data, std::size_t length);

uint32_t ReadU32(const uint8_t* p);
uint16_t ReadU16(const uint8_t* p);
void WriteU32(uint8_t* p, uint32_t v);
void WriteU16(uint8_t* p, uint16_t v);

} // namespace udpmsg
