// Network confinement: with QELM2_LOOPBACK_ONLY set, every outbound connect
// and send asks here first, and only 127.0.0.0/8 (and ::1) is allowed.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <string>

namespace qelm {

// True when QELM2_LOOPBACK_ONLY is set to anything but "" or "0". Read on
// every call, so that tests can switch it.
bool LoopbackOnly();

// Whether a send or connect to addr may go out. In loopback mode: 127.0.0.0/8,
// ::1, ::ffff:127.x.y.z and local (AF_UNIX) sockets only; anything else is
// refused with a log line naming `what`. Outside loopback mode: always true.
bool NetAllowed(const sockaddr* addr, socklen_t len, const char* what);

// The same for a dotted IPv4 or an IPv6 literal (brackets allowed). Text that
// is not an address is refused in loopback mode.
bool NetAllowedIp(const char* ip, const char* what);

// The same for a host name or literal. In loopback mode only "localhost" is
// resolved (and allowed when every address it has is); other names are
// refused without a lookup, so no DNS query leaves.
bool NetAllowedHost(const char* host, const char* what);

// The same for the host of scheme://[user[:password]@]host[:port]/...
// ([v6] hosts too; the scheme is optional).
bool NetAllowedUrl(const std::string& url, const char* what);

// connect()/sendto() that first ask NetAllowed: -1 with errno EACCES when
// refused. GuardedSendTo with no address checks the socket's peer.
int GuardedConnect(int fd, const sockaddr* addr, socklen_t len, const char* what);
ssize_t GuardedSendTo(int fd, const void* buf, size_t n, int flags, const sockaddr* addr, socklen_t len,
                      const char* what);

} // namespace qelm
