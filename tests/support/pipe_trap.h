// A named pipe planted where a program expects a file, and a way to run code
// that must not wait on it. A plain open or read of the pipe blocks until a
// peer opens the other end; if the code under test does that, the trap plays
// the peer (opening the pipe both ways releases any reader or writer), so the
// test fails with a clear message instead of hanging the suite.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qelmtest {

// Makes a named pipe at path; false (with a test failure) when it cannot.
inline bool MakePipe(const std::string& path)
{
    if (::mkfifo(path.c_str(), 0644) == 0)
        return true;
    ADD_FAILURE() << "mkfifo " << path << " failed";
    return false;
}

// Runs fn on this thread (window code stays on its thread); true when it
// finished without waiting on any of the pipes. A watcher plays the peer once
// the bound has passed; the bound is generous, as only code that waits for a
// peer ever reaches it.
inline bool FinishesWithoutWaitingOn(const std::vector<std::string>& pipes, const std::function<void()>& fn,
                                     std::chrono::seconds bound = std::chrono::seconds(30))
{
    std::atomic<bool> done{false}, released{false};
    std::thread watcher([&] {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Release whatever waits: O_RDWR on a pipe never blocks and is both
        // ends; draining frees a writer that filled it.
        while (!done) {
            released = true;
            for (const std::string& p : pipes) {
                const int fd = ::open(p.c_str(), O_RDWR | O_NONBLOCK);
                if (fd < 0)
                    continue;
                char drain[65536];
                while (::read(fd, drain, sizeof drain) > 0) {
                }
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    fn();
    done = true;
    watcher.join();
    return !released;
}

inline bool FinishesWithoutWaitingOn(const std::string& pipe, const std::function<void()>& fn)
{
    return FinishesWithoutWaitingOn(std::vector<std::string>{pipe}, fn);
}

} // namespace qelmtest
