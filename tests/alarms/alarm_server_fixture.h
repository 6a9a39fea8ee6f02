// A fake alarm server on 127.0.0.1: receives the session's datagrams, keeps
// them, and sends what a test asks to the client that last spoke.
#pragma once

#include "alarms/udp_packets.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace alarmtest {

using Bytes = std::vector<uint8_t>;

class FakeAlarmServer {
public:
    // reply: what to answer to each datagram (may be empty).
    explicit FakeAlarmServer(std::function<std::vector<Bytes>(const Bytes&)> reply = nullptr)
        : m_reply(std::move(reply))
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~FakeAlarmServer()
    {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    int port() const { return m_port; }
    std::vector<Bytes> Received()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_received;
    }
    std::vector<Bytes> ReceivedCommand(uint16_t command)
    {
        std::vector<Bytes> out;
        for (const Bytes& b : Received())
            if (b.size() >= 16 && udpmsg::ReadU16(b.data() + 10) == command)
                out.push_back(b);
        return out;
    }
    void Send(const Bytes& b)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (m_haveClient)
            sendto(m_fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&m_client), sizeof m_client);
    }
    bool HasClient()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_haveClient;
    }

    static Bytes Packet(uint16_t command, std::size_t length)
    {
        Bytes b(length, 0);
        std::memcpy(b.data(), "kwzd", 4);
        udpmsg::WriteU32(b.data() + 4, uint32_t(length - 16));
        udpmsg::WriteU16(b.data() + 8, 16);
        udpmsg::WriteU16(b.data() + 10, command);
        return b;
    }
    static Bytes LoginRsp(uint32_t result, uint32_t id1, uint32_t id2, std::size_t length = 160)
    {
        Bytes b = Packet(udpmsg::kCmdLoginRsp, length);
        udpmsg::WriteU32(b.data() + 16, result);
        udpmsg::WriteU32(b.data() + 24, id1);
        udpmsg::WriteU32(b.data() + 28, id2);
        return b;
    }
    static Bytes Notice(uint64_t devId, uint32_t type, const std::string& text, std::size_t length = 1232)
    {
        Bytes b = Packet(udpmsg::kCmdNotice, length);
        for (int i = 0; i < 8; ++i)
            b[16 + i] = uint8_t(devId >> (8 * i));
        udpmsg::WriteU32(b.data() + 24, type);
        std::memcpy(b.data() + 28, text.data(), std::min<std::size_t>(text.size(), 1203));
        return b;
    }

private:
    void Run()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            uint8_t buf[4096];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            Bytes b(buf, buf + n);
            std::vector<Bytes> replies;
            {
                std::lock_guard<std::mutex> g(m_mutex);
                m_client = from;
                m_haveClient = true;
                m_received.push_back(b);
            }
            if (m_reply)
                replies = m_reply(b);
            for (const Bytes& r : replies)
                sendto(m_fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
    }

    int m_fd = -1;
    int m_port = 0;
    std::function<std::vector<Bytes>(const Bytes&)> m_reply;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
    sockaddr_in m_client{};
    bool m_haveClient = false;
    std::thread m_thread;
};

inline bool WaitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace alarmtest
