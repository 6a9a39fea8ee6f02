#include "media/rec_targets.h"

#include "platform/paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {
std::atomic<IRecordTargets*> g_pRecordTargets{nullptr};
std::mutex g_hookLock;
qelm::FreeBytesFn g_freeBytesHook;
} // namespace

void SetRecordTargets(IRecordTargets* targets)
{
    g_pRecordTargets = targets;
}

IRecordTargets* GetRecordTargets()
{
    return g_pRecordTargets;
}

namespace qelm {

void SetFreeBytesHook(FreeBytesFn fn)
{
    std::lock_guard<std::mutex> g(g_hookLock);
    g_freeBytesHook = std::move(fn);
}

std::optional<std::uint64_t> DriveFreeBytes(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    FreeBytesFn hook;
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        hook = g_freeBytesHook;
    }
    if (hook)
        return hook(path);
    auto space = FreeSpace(ResolveDrivePath(path));
    if (!space)
        return std::nullopt;
    return space->available;
}

std::string DriveKey(const std::string& path)
{
    if (path.empty())
        return std::string();
    std::string p = ResolveDrivePath(path);
    if (p.empty() || p.back() != '/')
        p += '/';
    std::string best;
    const std::vector<std::string> drives = DriveList();
    for (const std::string& drive : drives) {
        if (p.compare(0, drive.size(), drive) == 0 && drive.size() > best.size())
            best = drive;
    }
    if (!best.empty())
        return best;
    // The data folder is the drive of the root filesystem (and of its own):
    // a folder elsewhere on that filesystem shares its free space.
    const std::string data = DataDir();
    if (std::find(drives.begin(), drives.end(), data) != drives.end() && SameDrive(p, data))
        return data;
    // Not under a listed drive: the filesystem of its nearest existing folder.
    std::string q = p;
    struct stat st;
    while (stat(q.c_str(), &st) != 0) {
        while (q.size() > 1 && q.back() == '/')
            q.pop_back();
        const std::size_t slash = q.rfind('/');
        if (slash == std::string::npos)
            return "fs:?";
        q.resize(slash == 0 ? 1 : slash);
    }
    return "fs:" + std::to_string(static_cast<unsigned long long>(st.st_dev));
}

} // namespace qelm
