// The alarm-server UDP session.
#include "alarms/udp_login.h"

#include "alarms/udp_packets.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "platform/netguard.h"
#include "platform/text.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

static_assert(udpmsg::kNoticeSize == sizeof(CHS_DevAlarmNotify));
static_assert(udpmsg::kHeadSize == sizeof(CHS_MsgHead));

namespace {

// The wire carries GB2312 texts.
std::string WireText(const char* utf8)
{
    auto gb = qelm::Utf8ToGb18030(utf8);
    return gb ? *gb : std::string(utf8);
}

} // namespace

CUdpLogin::CUdpLogin(const char* user, const char* password, const char* host, int port)
{
    qelm::CopyBounded(m_szUser, sizeof m_szUser, user ? user : "");
    qelm::CopyBounded(m_szPassword, sizeof m_szPassword, password ? password : "");
    qelm::CopyBounded(m_szHost, sizeof m_szHost, host ? host : "");
    m_nPort = port;
}

CUdpLogin::~CUdpLogin()
{
    Stop();
}

void CUdpLogin::Stop()
{
    m_bRun = 0;
    Join();
}

bool CUdpLogin::InitNetwork()
{
    // Sockets need no start-up here; kept as the step that may end with reason 1.
    return true;
}

int CUdpLogin::Run()
{
    if (!InitNetwork()) {
        End(kLinkNoNetwork);
        return 0;
    }
    RunSession();
    std::lock_guard<std::mutex> g(m_sockLock);
    if (m_socket >= 0)
        close(m_socket);
    m_socket = -1;
    return 0;
}

bool CUdpLogin::Resolve(sockaddr_in* out) const
{
    if (!m_szHost[0] || !qelm::NetAllowedHost(m_szHost, "alarm server"))
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(m_szHost, nullptr, &hints, &res) != 0 || !res)
        return false;
    *out = *reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    out->sin_port = htons(static_cast<uint16_t>(m_nPort));
    freeaddrinfo(res);
    return true;
}

void CUdpLogin::SendTo(const uint8_t* data, std::size_t length)
{
    std::lock_guard<std::mutex> g(m_sockLock);
    if (m_socket < 0)
        return;
    qelm::GuardedSendTo(m_socket, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&m_dest),
                        sizeof m_dest, "alarm server");
}

void CUdpLogin::End(int reason)
{
    WriteLog(6, "UdpLogin: session ended, reason=%d", reason);
    PostMessage(m_hOwner, WM_CLOUD_LINK_END, static_cast<WPARAM>(reason), 0);
}

void CUdpLogin::RunSession()
{
    sockaddr_in dest{};
    if (!Resolve(&dest)) {
        End(kLinkNoHost);
        return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        End(kLinkNoSocket);
        return;
    }
    {
        std::lock_guard<std::mutex> g(m_sockLock);
        m_socket = fd;
        m_dest = dest;
    }
    m_nSessionId1 = 0;
    m_nSessionId2 = 0;
    uint8_t login[udpmsg::kLoginSize];
    udpmsg::BuildLogin(login, WireText(m_szUser), WireText(m_szPassword));
    SendTo(login, sizeof login);
    m_dwLastAnswer = timeGetTime();
    m_dwLastKeepAlive = timeGetTime();

    // MSG_TRUNC makes recvmsg report a longer datagram's real length.
    uint8_t buffer[kRecvBufferSize];
    for (;;) {
        if (!m_bRun)
            return;
        pollfd p{fd, POLLIN, 0};
        const timespec wait{0, 500 * 1000};
        const int ready = ppoll(&p, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR) {
            End(kLinkWaitFailed);
            return;
        }
        if (ready > 0 && (p.revents & (POLLIN | POLLERR))) {
            iovec iov{buffer, sizeof buffer};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            const ssize_t n = recvmsg(fd, &msg, MSG_TRUNC);
            if (n < 0 || (msg.msg_flags & MSG_TRUNC) || n > static_cast<ssize_t>(sizeof buffer)) {
                End(kLinkRecvFailed);
                return;
            }
            OnPacket(buffer, static_cast<int>(n));
        }
        const uint32_t now = timeGetTime();
        if (now - m_dwLastKeepAlive > kKeepAliveMs - 1 && (m_nSessionId1 != 0 || m_nSessionId2 != 0)) {
            m_dwLastKeepAlive = now;
            uint8_t keep[udpmsg::kKeepAliveSize];
            udpmsg::BuildKeepAlive(keep, m_nSessionId1, m_nSessionId2);
            SendTo(keep, sizeof keep);
        }
        if (now - m_dwLastAnswer > kTimeoutMs - 1) {
            End(kLinkTimeout);
            return;
        }
    }
}

void CUdpLogin::OnPacket(const uint8_t* data, int length)
{
    if (!data || length < 0)
        return;
    const udpmsg::ServerPacket p = udpmsg::ParseServerPacket(data, static_cast<std::size_t>(length));
    switch (p.kind) {
    case udpmsg::ServerPacket::ShortNotice:
        WriteLog(6, "UdpLogin: recv CHSMSG_DEVALARM_NOTIFY message.");
        WriteLog(6, "UdpLogin: recv CHSMSG_DEVALARM_NOTIFY message error, nBufLen < sizeof(CHS_DevAlarmNotify)");
        break;
    case udpmsg::ServerPacket::Notice: {
        WriteLog(6, "UdpLogin: recv CHSMSG_DEVALARM_NOTIFY message.");
        auto* block = new (std::nothrow) uint8_t[udpmsg::kNoticeSize]();
        if (!block)
            break;
        std::memcpy(block, data, udpmsg::kNoticeSize);
        if (!PostMessage(m_hOwner, WM_CLOUD_NOTIFY, 2, reinterpret_cast<LPARAM>(block),
                         [](WPARAM, LPARAM l) { delete[] reinterpret_cast<uint8_t*>(l); }))
            delete[] block;
        break;
    }
    case udpmsg::ServerPacket::LoginRefused:
        // The owner stops the session in answer; one message is enough.
        if (!m_bRefusedPosted) {
            m_bRefusedPosted = true;
            End(kLinkRefused);
        }
        break;
    case udpmsg::ServerPacket::LoginAccepted:
        m_nSessionId1 = p.id1;
        m_nSessionId2 = p.id2;
        break;
    case udpmsg::ServerPacket::KeepAliveRsp:
        m_dwLastAnswer = timeGetTime();
        break;
    case udpmsg::ServerPacket::Ignored:
        break;
    }
}

void CUdpLogin::Logout()
{
    const uint32_t id1 = m_nSessionId1, id2 = m_nSessionId2;
    if (id1 == 0 && id2 == 0)
        return;
    sockaddr_in dest{};
    if (Resolve(&dest)) {
        uint8_t out[udpmsg::kLogoutSize];
        udpmsg::BuildLogout(out, WireText(m_szUser), WireText(m_szPassword), id1, id2);
        std::lock_guard<std::mutex> g(m_sockLock);
        if (m_socket >= 0)
            qelm::GuardedSendTo(m_socket, out, sizeof out, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&dest),
                                sizeof dest, "alarm server");
    }
    m_nSessionId1 = 0;
    m_nSessionId2 = 0;
}
