// A scripted HTTP peer on 127.0.0.1 for the cloud-account client: one
// connection at a time, each answered as the script says, every request kept.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakecloud {

using Clock = std::chrono::steady_clock;

// What the fake server does with one connection.
struct Exchange {
    enum Kind {
        Reply,  // read the request, send `reply`, then close (or hold the line open)
        Silent, // read the request and say nothing
        Close,  // read the request and close without a word
        Reset,  // read nothing; after a moment reset the connection
    };
    Kind kind = Reply;
    std::string reply;
    bool hold = false; // Reply: keep the connection open after the reply
    std::size_t piece = 0; // Reply: send it in pieces of this many bytes ...
    int gapMs = 0;         // ... this far apart
};

inline Exchange Reply(std::string bytes, bool hold = false)
{
    return Exchange{Exchange::Reply, std::move(bytes), hold};
}

inline Exchange Paced(std::string bytes, std::size_t piece, int gapMs)
{
    return Exchange{Exchange::Reply, std::move(bytes), false, piece, gapMs};
}

inline std::string Http(const std::string& body, const std::string& headers = "")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" + headers + "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A one-connection-at-a-time HTTP peer that follows a script and records
// every request it reads.
class FakeCloudServer {
public:
    FakeCloudServer()
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        EXPECT_EQ(listen(m_listen, 8), 0);
        m_thread = std::thread([this] { Run(); });
    }
    ~FakeCloudServer()
    {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    int port() const { return m_port; }
    void Script(std::vector<Exchange> steps)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& s : steps)
            m_script.push_back(std::move(s));
    }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    // Reads one request: the header and as much body as its Content-Length says.
    static std::string ReadRequest(int fd)
    {
        std::string data;
        auto deadline = Clock::now() + std::chrono::seconds(3);
        std::size_t want = std::string::npos;
        while (Clock::now() < deadline) {
            std::size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos && want == std::string::npos) {
                std::size_t at = data.find("Content-Length:");
                std::size_t length = 0;
                if (at != std::string::npos && at < end)
                    length = std::strtoul(data.c_str() + at + 15, nullptr, 10);
                want = end + 4 + length;
            }
            if (want != std::string::npos && data.size() >= want)
                break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char buf[65536];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            data.append(buf, static_cast<std::size_t>(n));
        }
        return data;
    }
    // Waits until the client closes its side or the server stops.
    void WaitForClose(int fd)
    {
        while (!m_stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buf[4096];
                if (recv(fd, buf, sizeof buf, 0) <= 0)
                    return;
            }
        }
    }
    void Run()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            Exchange step{Exchange::Close, {}, false};
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_script.empty()) {
                    step = std::move(m_script.front());
                    m_script.pop_front();
                }
            }
            if (step.kind == Exchange::Reset) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                linger l{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                close(fd);
                continue;
            }
            std::string request = ReadRequest(fd);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back(request);
            }
            if (step.kind == Exchange::Reply) {
                const char* p = step.reply.data();
                std::size_t left = step.reply.size();
                while (left > 0 && !m_stop) {
                    if (step.piece > 0 && p != step.reply.data())
                        std::this_thread::sleep_for(std::chrono::milliseconds(step.gapMs));
                    ssize_t n = send(fd, p, step.piece > 0 ? std::min(step.piece, left) : left, MSG_NOSIGNAL);
                    if (n <= 0)
                        break; // also when the client has given up and closed
                    p += n;
                    left -= static_cast<std::size_t>(n);
                }
                if (step.hold)
                    WaitForClose(fd);
            } else if (step.kind == Exchange::Silent) {
                WaitForClose(fd);
            }
            close(fd);
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::deque<Exchange> m_script;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace fakecloud
