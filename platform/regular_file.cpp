#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qelm {

namespace {

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISLNK(mode))
        return "a link";
    return "not a regular file";
}

bool Fail(std::string* why, int err, std::string text)
{
    if (why)
        *why = std::move(text);
    errno = err;
    return false;
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// True when path, every link resolved, lies inside root.
bool Inside(const std::string& path, const std::string& root)
{
    const std::string real = RealPath(path);
    std::string base = RealPath(root);
    if (real.empty() || base.empty())
        return false;
    if (base.back() != '/')
        base += '/';
    return real.compare(0, base.size(), base) == 0;
}

// The checks that need no descriptor; st gets the file's own status.
bool Check(const std::string& path, const std::string& root, struct stat& st, std::string* why)
{
    if (path.empty())
        return Fail(why, ENOENT, "no file name");
    if (::lstat(path.c_str(), &st) != 0)
        return Fail(why, errno, std::strerror(errno));
    const bool link = S_ISLNK(st.st_mode);
    if (!root.empty() && !Inside(path, root))
        return Fail(why, EPERM, "leads out of " + root);
    if (link && ::stat(path.c_str(), &st) != 0)
        return Fail(why, errno, std::string("a broken link: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return Fail(why, EINVAL, KindOf(st.st_mode));
    return true;
}

} // namespace

int OpenRegularFile(const std::string& path, int flags, const std::string& root, std::string* why)
{
    const int extra = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    struct stat want {};
    if (flags & O_CREAT) {
        // A new file: the open refuses a link itself, and a pipe without a
        // reader fails at once (ENXIO) instead of waiting for one.
        flags |= O_NOFOLLOW;
    } else if (!Check(path, root, want, why)) {
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | extra, 0644);
    if (fd < 0) {
        const int err = errno;
        Fail(why, err, err == ELOOP ? "a link" : err == ENXIO ? "a pipe" : std::strerror(err));
        return -1;
    }
    struct stat got {};
    const bool same = ::fstat(fd, &got) == 0 && S_ISREG(got.st_mode) &&
                      ((flags & O_CREAT) || (got.st_dev == want.st_dev && got.st_ino == want.st_ino));
    if (!same) {
        ::close(fd);
        Fail(why, EINVAL, S_ISREG(got.st_mode) ? "replaced while opened" : KindOf(got.st_mode));
        return -1;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl != -1)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

bool IsRegularFile(const std::string& path, const std::string& root, std::string* why)
{
    struct stat st {};
    return Check(path, root, st, why);
}

bool ReadRegularFile(const std::string& path, std::string& out, std::string* why, std::size_t maxBytes)
{
    const int fd = OpenRegularFile(path, O_RDONLY, {}, why);
    if (fd < 0)
        return false;
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Fail(why, err, std::strerror(err));
        }
        if (n == 0)
            break;
        if (out.size() + std::size_t(n) > maxBytes) {
            ::close(fd);
            return Fail(why, EFBIG, "too large");
        }
        out.append(buf, std::size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace qelm
