// The storage cleaner.
#include "media/rec_file_manager.h"

#include "core/log.h"
#include "media/rec_scheme_manager.h"
#include "media/rec_targets.h"
#include "platform/clock.h"
#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <thread>

namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024ull * 1024ull;

// The numeric sub-folders of dir (real folders, not links), in [1, limit].
std::vector<int> NumberedFolders(const std::string& dir, int limit)
{
    std::vector<int> out;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        const char* name = e->d_name;
        const size_t len = std::strlen(name);
        if (len == 0 || len > 4 || std::strspn(name, "0123456789") != len)
            continue;
        const int n = std::atoi(name);
        if (n < 1 || n > limit)
            continue;
        struct stat st;
        if (lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            out.push_back(n);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool ValidDate(int y, int m, int d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// True when each of the folders below base along rel is a real folder (no
// symbolic link), so a walk there stays inside the storage path.
bool RealFoldersBelow(const std::string& base, const std::vector<std::string>& rel)
{
    std::string p = base;
    for (const std::string& part : rel) {
        p += "/" + part;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
}

void RemoveEmpty(const std::string& dir)
{
    const int ret = rmdir(dir.c_str()) == 0 ? 1 : 0;
    WriteLog(6, "Remove empty directory: %s, ret=%d", dir.c_str(), ret);
}

std::tm Today()
{
    const std::time_t now = qelm::WallNow();
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace

CRecFileManager::CRecFileManager(CWnd* pParent)
    : CPeriodicThread(5000, "CRecFileManager: Start record file manager thread.",
                      "CRecFileManager: Forcing killing record file manager thread.", nullptr),
      m_pParent(pParent)
{
}

CRecFileManager::~CRecFileManager()
{
    Stop();
    Kill();
}

std::vector<CRecFileManager::PlanCopy> CRecFileManager::CopyPlans()
{
    std::vector<PlanCopy> plans;
    qelm::CsLock lock(g_csDevList);
    for (const RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        PlanCopy c;
        c.takesPart = plan->OnOff != 0 && plan->StorageScheme == 1;
        c.paths[0] = plan->StoragePath1;
        c.paths[1] = plan->StoragePath2;
        c.paths[2] = plan->StoragePath3;
        for (const DeviceInfo* dev : plan->lstDev)
            if (dev)
                c.devFolders.push_back(RecDeviceFolderName(*dev));
        plans.push_back(std::move(c));
    }
    return plans;
}

void CRecFileManager::RunCycle()
{
    const std::vector<PlanCopy> plans = CopyPlans();
    for (const PlanCopy& plan : plans) {
        if (Quitting())
            return;
        if (plan.takesPart)
            CleanPlan(plans, plan);
    }
}

void CRecFileManager::CollectDays(const PlanCopy& plan, const std::string& path, std::vector<DayFolder>& out)
{
    for (const std::string& dev : plan.devFolders) {
        for (const char* kind : {"Schedule", "Motion", "IO"}) {
            const std::string base = qelm::ResolveDrivePath(path);
            if (!RealFoldersBelow(base, {"Record", dev, "Local", kind}))
                continue;
            const std::string kindDir =
                qelm::ResolveDrivePath(qelm::MakePath("%s\\Record\\%s\\Local\\%s", path.c_str(), dev.c_str(), kind));
            for (int y : NumberedFolders(kindDir, 2099)) {
                const std::string yearDir = kindDir + "/" + std::to_string(y);
                const std::vector<int> months = NumberedFolders(yearDir, 12);
                if (months.empty()) {
                    RemoveEmpty(yearDir);
                    continue;
                }
                for (int m : months) {
                    const std::string monthDir = yearDir + "/" + std::to_string(m);
                    const std::vector<int> days = NumberedFolders(monthDir, 31);
                    if (days.empty()) {
                        RemoveEmpty(monthDir);
                        continue;
                    }
                    for (int d : days) {
                        if (ValidDate(y, m, d))
                            out.push_back({y * 10000 + m * 100 + d, monthDir + "/" + std::to_string(d)});
                    }
                }
            }
        }
    }
}

void CRecFileManager::CleanPlan(const std::vector<PlanCopy>& plans, const PlanCopy& plan)
{
    std::string drive[3];
    for (int i = 0; i < 3; ++i)
        drive[i] = qelm::DriveKey(plan.paths[i]);
    std::uint64_t f[3];
    auto measure = [&] {
        for (int i = 0; i < 3; ++i)
            f[i] = plan.paths[i].empty() ? 0 : qelm::DriveFreeBytes(plan.paths[i]).value_or(0);
    };
    // Each drive counted once; the row also picks the log line.
    int row;
    if (drive[0] != drive[1] && drive[0] != drive[2] && drive[1] != drive[2])
        row = 0;
    else if (drive[0] == drive[1] && drive[0] != drive[2])
        row = 1;
    else if (drive[0] == drive[2] && drive[0] != drive[1])
        row = 2;
    else if (drive[0] != drive[1] && drive[1] == drive[2])
        row = 3;
    else
        row = 4;
    auto total = [&]() -> std::uint64_t {
        switch (row) {
        case 0:
            return f[0] + f[1] + f[2];
        case 1:
            return f[0] + f[2];
        case 2:
        case 3:
            return f[0] + f[1];
        default:
            return f[0];
        }
    };
    measure();
    if (total() / kGiB >= 20)
        return;

    // Every day folder on these drives, of every delete-oldest plan.
    std::vector<DayFolder> days;
    std::set<std::string> scanned;
    for (int i = 0; i < 3; ++i) {
        if (plan.paths[i].empty())
            continue;
        for (const PlanCopy& other : plans) {
            if (!other.takesPart)
                continue;
            for (const std::string& y : other.paths) {
                if (y.empty() || qelm::DriveKey(y) != drive[i])
                    continue;
                // One scan per (plan, path): a plan's members may differ.
                const std::string key = std::to_string(reinterpret_cast<uintptr_t>(&other)) + "|" + y;
                if (scanned.insert(key).second)
                    CollectDays(other, y, days);
            }
        }
    }
    std::sort(days.begin(), days.end(), [](const DayFolder& a, const DayFolder& b) {
        return a.date != b.date ? a.date < b.date : a.path < b.path;
    });

    const std::tm today = Today();
    const int todayKey = (today.tm_year + 1900) * 10000 + (today.tm_mon + 1) * 100 + today.tm_mday;
    using ull = unsigned long long;
    for (size_t i = 0; i < days.size() && !Quitting();) {
        const int date = days[i].date;
        if (date >= todayKey || total() / kGiB >= 20)
            break;
        if (row <= 1)
            WriteLog(6,
                     "CRecFileManager:the storage space less than 20G,delete the old record file...disk1FreeBytes=%llu,"
                     "disk2FreeBytes=%llu,disk3FreeBytes=%llu",
                     ull(f[0]), ull(f[1]), ull(f[2]));
        else if (row <= 3)
            WriteLog(6,
                     "CRecFileManager:the storage space less than 20G,delete the old record file...disk1FreeBytes=%llu,"
                     "disk2FreeBytes=%llu",
                     ull(f[0]), ull(f[1]));
        else
            WriteLog(6, "CRecFileManager:the storage space less than 20G,delete the old record file...diskFreeBytes=%llu",
                     ull(f[0]));
        for (; i < days.size() && days[i].date == date; ++i) {
            WriteLog(6, "delete %s", days[i].path.c_str());
            DeleteDirectory(days[i].path, date % 100);
        }
        measure();
    }
}

bool CRecFileManager::DeleteDirectory(const std::string& folder, int day)
{
    if (DIR* d = opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        closedir(d);
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                DeleteDirectory(path, 0);
                continue;
            }
            // Files and links alike: a link is removed, never followed.
            if (unlink(path.c_str()) == 0)
                WriteLog(6, "CRecFileManager: delete file = %s", path.c_str());
            else
                WriteLog(6, "CRecFileManager: delete file failed = %s . error code %d ", path.c_str(), errno);
        }
    }
    if (day == Today().tm_mday)
        return true;
    if (rmdir(folder.c_str()) == 0) {
        WriteLog(6, "CRecFileManager: remove directory = %s", folder.c_str());
        return true;
    }
    WriteLog(6, "CRecFileManager: remove directory failed = %s . error code %d", folder.c_str(), errno);
    return false;
}
