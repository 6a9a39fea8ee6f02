// Tests whose code may end the watchdog beside the test programs ("Watch" in
// the program folder, found by name) hold this lock while they run, so that
// one test's close never ends the watchdog another test started.
#pragma once

#include "core/helpers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace qelmtest {

class WatchLock {
public:
    WatchLock()
    {
        m_fd = ::open((GetAppDir() + ".watch.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0) {
            }
    }
    ~WatchLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    WatchLock(const WatchLock&) = delete;
    WatchLock& operator=(const WatchLock&) = delete;

private:
    int m_fd = -1;
};

} // namespace qelmtest
