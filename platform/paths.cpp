// Paths, drive letters and drives on this platform (see paths.h).
#include "platform/paths.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qelm {

namespace {

constexpr std::size_t kMaxDrives = 8;

std::string WithSlash(std::string dir)
{
    dir = NormalizePath(std::move(dir));
    if (dir.empty() || dir.back() != '/')
        dir.push_back('/');
    return dir;
}

std::string ComputeProgramDir()
{
    std::string buf(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
        return "./";
    buf.resize(static_cast<std::size_t>(n));
    std::size_t slash = buf.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return buf.substr(0, slash + 1);
}

// Undoes the octal escapes (\040 for a space) of /proc/self/mounts fields.
std::string UnescapeMountField(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::isdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 3]))) {
            out.push_back(static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool IsPseudoFs(const std::string& type)
{
    static const char* const kSkip[] = {
        "proc", "sysfs", "tmpfs", "devtmpfs", "overlay", "devpts", "mqueue", "debugfs",
        "tracefs", "securityfs", "pstore", "bpf", "autofs", "fusectl", "configfs",
        "hugetlbfs", "squashfs", "nsfs", "ramfs", "binfmt_misc", "efivarfs",
        "rpc_pipefs", "selinuxfs", "nfsd",
    };
    if (type.rfind("cgroup", 0) == 0)
        return true;
    for (const char* s : kSkip) {
        if (type == s)
            return true;
    }
    return false;
}

bool HasOption(const std::string& options, const char* opt)
{
    std::stringstream ss(options);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item == opt)
            return true;
    }
    return false;
}

struct MountEntry {
    std::string mountPoint; // unescaped, without a trailing '/' except for "/"
    std::string type;
    std::string options;
};

std::vector<MountEntry> ReadMounts(std::istream& in)
{
    std::vector<MountEntry> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device;
        MountEntry e;
        if (!(fields >> device >> e.mountPoint >> e.type >> e.options))
            continue;
        e.mountPoint = UnescapeMountField(e.mountPoint);
        while (e.mountPoint.size() > 1 && e.mountPoint.back() == '/')
            e.mountPoint.pop_back();
        out.push_back(std::move(e));
    }
    return out;
}

// True when mount point m holds path p (both absolute, m without trailing '/').
bool MountHolds(const std::string& m, const std::string& p)
{
    if (m == "/")
        return !p.empty() && p[0] == '/';
    return p.compare(0, m.size(), m) == 0 && (p.size() == m.size() || p[m.size()] == '/');
}

bool IsWritableFolder(const std::string& dir)
{
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK) == 0;
}

// The path itself when it exists, else its nearest existing ancestor.
std::string NearestExisting(const std::string& path)
{
    std::string p = ResolveDrivePath(path);
    if (p.empty())
        p = ".";
    struct stat st;
    while (stat(p.c_str(), &st) != 0) {
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        std::size_t slash = p.rfind('/');
        if (slash == std::string::npos)
            return ".";
        p.resize(slash == 0 ? 1 : slash);
    }
    return p;
}

} // namespace

std::vector<std::string> DrivesFromMounts(std::istream& mounts, const std::string& dataDir)
{
    const std::vector<MountEntry> entries = ReadMounts(mounts);

    // The data folder stands in for the root filesystem and for the
    // filesystem that holds it, so recordings never land at "/" and a user
    // with one partition still has a drive he may write to.
    const std::string data = WithSlash(dataDir);
    const std::string dataExisting = NearestExisting(data);
    char resolved[PATH_MAX];
    const std::string dataReal = realpath(dataExisting.c_str(), resolved) ? resolved : dataExisting;
    std::size_t holder = entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (MountHolds(entries[i].mountPoint, dataReal) &&
            (holder == entries.size() || entries[i].mountPoint.size() >= entries[holder].mountPoint.size()))
            holder = i;
    }
    const bool dataWritable = IsWritableFolder(dataExisting) &&
                              !(holder < entries.size() && HasOption(entries[holder].options, "ro"));

    std::vector<std::string> drives;
    auto add = [&drives](std::string dir) {
        if (drives.size() < kMaxDrives && std::find(drives.begin(), drives.end(), dir) == drives.end())
            drives.push_back(std::move(dir));
    };
    bool dataPlaced = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MountEntry& e = entries[i];
        if (e.mountPoint == "/" || i == holder || (holder < entries.size() && e.mountPoint == entries[holder].mountPoint)) {
            if (!dataPlaced && dataWritable)
                add(data);
            dataPlaced = true;
            continue;
        }
        if (IsPseudoFs(e.type) || HasOption(e.options, "ro"))
            continue;
        // Containers bind-mount single files (/etc/hosts); a drive is a folder.
        if (!IsWritableFolder(e.mountPoint))
            continue;
        add(WithSlash(e.mountPoint));
    }
    if (!dataPlaced && dataWritable)
        drives.insert(drives.begin(), data);
    if (drives.size() > kMaxDrives)
        drives.resize(kMaxDrives);
    return drives;
}


const std::string& ProgramDir()
{
    static const std::string dir = ComputeProgramDir();
    return dir;
}

std::string DataDir()
{
    const char* env = std::getenv("QELM2_DATA");
    if (env && *env)
        return WithSlash(env);
    return ProgramDir();
}

std::string NormalizePath(std::string path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    return out;
}

std::string MakePath(const char* fmt, ...)
{
    if (!fmt)
        return std::string();
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return NormalizePath(std::move(out));
}

std::string ResolveDrivePath(std::string path)
{
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        std::size_t start = 2;
        while (start < path.size() && (path[start] == '\\' || path[start] == '/'))
            ++start;
        return NormalizePath(DataDir() + path.substr(start));
    }
    return NormalizePath(std::move(path));
}

std::vector<std::string> DriveList()
{
    const char* env = std::getenv("QELM2_DRIVES");
    if (!env || !*env) {
        std::ifstream mounts("/proc/self/mounts");
        return DrivesFromMounts(mounts, DataDir());
    }
    std::vector<std::string> drives;
    std::stringstream ss(env);
    std::string item;
    while (drives.size() < kMaxDrives && std::getline(ss, item, ':')) {
        if (!item.empty())
            drives.push_back(WithSlash(item));
    }
    return drives;
}

std::optional<DiskSpace> FreeSpace(const std::string& path)
{
    struct statvfs vfs;
    if (statvfs(NearestExisting(path).c_str(), &vfs) != 0)
        return std::nullopt;
    DiskSpace space;
    space.available = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    space.total = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    return space;
}

bool SameDrive(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (stat(NearestExisting(a).c_str(), &sa) != 0 || stat(NearestExisting(b).c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev;
}

} // namespace qelm
