#include "settings/setting_record_rules.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <mutex>

namespace recpage {

namespace {

std::mutex g_hookLock;
VolumeFreeFn g_hook;

bool DaysMeet(const RecTime& a, const RecTime& b)
{
    return a.DayOfWeek == b.DayOfWeek || a.DayOfWeek == 8 || b.DayOfWeek == 8;
}

bool Within(std::int32_t t, const RecTime& a)
{
    return t >= a.StartTime && t <= a.EndTime;
}

} // namespace

int CheckTimeConflict(const RecScheme& existing, const RecScheme& candidate)
{
    for (const RecTime& a : existing.lstRecTime) {
        for (const RecTime& b : candidate.lstRecTime) {
            if (!DaysMeet(a, b))
                continue;
            if (Within(b.StartTime, a) || Within(b.EndTime, a) ||
                (b.StartTime <= a.StartTime && b.EndTime >= a.EndTime))
                return -1;
        }
    }
    return 0;
}

void SetVolumeFreeHook(VolumeFreeFn fn)
{
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_hook = std::move(fn);
}

std::optional<std::uint64_t> VolumeFreeBytes(const std::string& path)
{
    VolumeFreeFn hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_hook;
    }
    if (hook)
        return hook(path);
    if (path.empty())
        return std::nullopt;
    struct statvfs vfs;
    if (statvfs(path.c_str(), &vfs) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
}

bool HasFreeSpace(const std::string& path)
{
    const auto bytes = VolumeFreeBytes(path);
    return bytes && *bytes / kGiB >= static_cast<std::uint64_t>(kMinFreeGiB);
}

bool SameFolder(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a == b;
}

bool IsPlayable(const DeviceInfo& d)
{
    return !(d.DevType == 2 || d.DevType == 5 || (d.DevType == 4 && d.CurNVRChannel == 0));
}

std::string DevItemText(const DeviceInfo& d)
{
    if (d.DevType == 4)
        return std::string(d.DevId) + "-" + d.DevName;
    return d.DevName;
}

int DevItemImage(const DeviceInfo& d)
{
    if (d.Online != 1)
        return 2;
    const int live = d.WatchFlag, rec = d.RecFlag;
    if (live == 1 && rec == 1)
        return 10;
    if (live == 1 && rec == 0)
        return 7;
    if (live == 0 && rec == 1)
        return 6;
    if (live == 0 && rec == 0)
        return 3;
    return 2;
}

} // namespace recpage
