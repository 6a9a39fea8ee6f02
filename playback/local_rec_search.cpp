#include "playback/local_rec_search.h"

#include "core/log.h"
#include "core/recinfo.h"
#include "media/avi_reader.h"
#include "media/mp4_writer.h"
#include "media/rec_scheme_manager.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "platform/sync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace recsearch {

namespace {

std::mutex g_hookLock;
std::function<void(const std::string&)> g_dayScanHook;

struct DirEntry {
    std::string name;
    unsigned char type; // d_type
};

// The entries of a folder (without "." and ".."), in byte-wise name order so
// that every search lists a folder the same way.
std::vector<DirEntry> ListFolder(const std::string& folder, int* dirFd)
{
    std::vector<DirEntry> out;
    *dirFd = -1;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        out.push_back({e->d_name, e->d_type});
    }
    *dirFd = dup(dirfd(dir));
    closedir(dir);
    std::sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return out;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int m_fd;
};

bool EndsWith(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// A folder name that "%d" would have produced: 1 to 9 digits, no leading 0.
int CanonicalNumber(const std::string& name)
{
    if (name.empty() || name.size() > 9 || name[0] == '0')
        return -1;
    int v = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::vector<int> NumberedFolders(const std::string& folder)
{
    std::vector<int> out;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent* e = readdir(dir)) {
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK)
            continue;
        const int v = CanonicalNumber(e->d_name);
        if (v > 0)
            out.push_back(v);
    }
    closedir(dir);
    return out;
}

// The day folders "<base>Y/M/D" that exist between two dates (YYYYMMDD, both
// included), as YYYYMMDD numbers. Only existing year, month and day folders
// are visited; months count days 1 to 31.
std::vector<int> ExistingDays(const std::string& base, int fromDate, int toDate)
{
    std::vector<int> out;
    const int fromYear = fromDate / 10000, toYear = toDate / 10000;
    for (int y : NumberedFolders(base)) {
        if (y < fromYear || y > toYear)
            continue;
        const std::string yDir = base + std::to_string(y) + "/";
        for (int m : NumberedFolders(yDir)) {
            if (m > 12 || y * 100 + m < fromDate / 100 || y * 100 + m > toDate / 100)
                continue;
            const std::string mDir = yDir + std::to_string(m) + "/";
            for (int d : NumberedFolders(mDir)) {
                const int date = (y * 100 + m) * 100 + d;
                if (d <= 31 && date >= fromDate && date <= toDate)
                    out.push_back(date);
            }
        }
    }
    return out;
}

std::string KindBase(const char* storagePath, const std::string& devFolder, const char* kind)
{
    return qelm::ResolveDrivePath(
        qelm::MakePath("%s\\Record\\%s\\Local\\%s\\", storagePath, devFolder.c_str(), kind));
}

std::string DayFolder(const char* storagePath, const std::string& devFolder, const char* kind, int y, int m, int d)
{
    return qelm::ResolveDrivePath(qelm::MakePath("%s\\Record\\%s\\Local\\%s\\%d\\%d\\%d\\", storagePath,
                                                 devFolder.c_str(), kind, y, m, d));
}

std::vector<std::string> StoragePaths(const RecScheme& plan)
{
    std::vector<std::string> out;
    for (const char* p : {plan.StoragePath1, plan.StoragePath2, plan.StoragePath3})
        if (p[0])
            out.emplace_back(p);
    return out;
}

// Texts of fixed arrays compared within their bounds.
bool SameText(const char* a, size_t aSize, const char* b, size_t bSize)
{
    const size_t la = strnlen(a, aSize), lb = strnlen(b, bSize);
    return la == lb && std::memcmp(a, b, la) == 0;
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A record the searches may list and open: a regular file, or a link to one
// inside root (the day folder when root is empty). A pipe, device or link
// out of the storage folder is skipped with one log line, never opened.
bool UsableRecord(const std::string& folder, const std::string& name, const std::string& root)
{
    const std::string path = folder + name;
    std::string why;
    if (qelm::IsRegularFile(path, root.empty() ? folder : root, &why))
        return true;
    WriteLog(3, "Record search: %s skipped: %s", path.c_str(), why.c_str());
    return false;
}

} // namespace

int64_t TimeKey(int year, int month, int day, int hour, int minute, int second)
{
    return ((((int64_t(year) * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + second;
}

int64_t ParseSizeText(const char* text)
{
    if (!text)
        return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = v * 10 + uint64_t(*p - '0'); // wraps like the 64-bit reader it stands for
    return negative ? -int64_t(v) : int64_t(v);
}

const char* KindFolder(int kind)
{
    switch (kind) {
    case kKindSchedule:
        return "Schedule";
    case kKindIO:
        return "IO";
    case kKindMotion:
        return "Motion";
    default:
        return nullptr;
    }
}

int NameStartSeconds(const std::string& name)
{
    if (name.size() < 6)
        return -1;
    for (int i = 0; i < 6; ++i)
        if (name[size_t(i)] < '0' || name[size_t(i)] > '9')
            return -1;
    auto two = [&](int at) { return (name[size_t(at)] - '0') * 10 + (name[size_t(at) + 1] - '0'); };
    return two(0) * 3600 + two(2) * 60 + two(4);
}

bool IsRecordName(const std::string& name)
{
    return EndsWith(name, ".avi") || EndsWith(name, ".mp4");
}

bool NamePassesFilter(const std::string& name, const ByFileFilter& filter)
{
    if (!IsRecordName(name))
        return false;
    if (filter.media == 0 && name.find("-av") != std::string::npos)
        return false;
    if (filter.media == 1 && name.find("-vv") != std::string::npos)
        return false;
    if (filter.stream == 1 && !EndsWith(name, "1.avi") && !EndsWith(name, "1.mp4"))
        return false;
    if (filter.stream == 2 && !EndsWith(name, "2.avi") && !EndsWith(name, "2.mp4"))
        return false;
    return true;
}

int FindRecFile(const std::string& folder, int year, int month, int day, const ByFileFilter& filter,
                std::list<RecFileItem>& out, const std::string& root)
{
    int fd = -1;
    const std::vector<DirEntry> entries = ListFolder(folder, &fd);
    FdCloser closer(fd);
    if (fd < 0)
        return 0;
    int taken = 0;
    for (const DirEntry& e : entries) {
        if (e.type == DT_DIR || !NamePassesFilter(e.name, filter))
            continue;
        const int sec = NameStartSeconds(e.name);
        if (sec < 0)
            continue;
        const int64_t key = TimeKey(year, month, day, sec / 3600, sec / 60 % 60, sec % 60);
        if (key < filter.startKey || key > filter.endKey)
            continue;
        struct stat st;
        if (!UsableRecord(folder, e.name, root) || fstatat(fd, e.name.c_str(), &st, 0) != 0)
            continue;
        const uint64_t size = uint64_t(st.st_size);
        if (filter.minSize != -1 && size < uint64_t(filter.minSize))
            continue;
        if (filter.maxSize != -1 && size > uint64_t(filter.maxSize))
            continue;
        const std::string path = folder + e.name;
        RecFileItem item;
        if (path.size() >= sizeof item.szPath) {
            // A cut path would name another file.
            WriteLog(3, "FindRecFile: path too long, skipped: %s", path.c_str());
            continue;
        }
        std::memcpy(item.szPath, path.c_str(), path.size() + 1);
        std::snprintf(item.szSize, sizeof item.szSize, "%" PRIu64, size);
        out.push_back(item);
        ++taken;
        WriteLog(6, "FindRecFile: %s, nDay=%d", item.szPath, day);
    }
    return taken;
}

int SearchLocalRecFile(const DeviceInfo& device, const ByFileFilter& filter, std::list<RecFileItem>& out)
{
    // What the walk needs, copied under the lock.
    struct Job {
        std::string devFolder;
        std::vector<std::string> paths;
    };
    std::vector<Job> jobs;
    {
        qelm::CsLock lock(g_csDevList);
        for (const RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan)
                continue;
            bool matched = false;
            for (const DeviceInfo* m : plan->lstDev) {
                if (!m)
                    continue;
                const bool same = m->DevType == 4
                                      ? std::strcmp(m->IPAddr, device.IPAddr) == 0 &&
                                            m->CurNVRChannel == device.CurNVRChannel
                                      : std::strcmp(m->DevName, device.DevName) == 0;
                if (!same)
                    continue;
                matched = true;
                jobs.push_back({RecDeviceFolderName(*m), StoragePaths(*plan)});
                if (m->DevType != 0)
                    break;
            }
            if (matched)
                break;
        }
    }
    if (jobs.empty())
        return -1;

    const int fromDate = int(filter.startKey / 1000000), toDate = int(filter.endKey / 1000000);
    std::vector<int> kinds;
    if (filter.kind == kKindAll)
        kinds = {kKindSchedule, kKindIO, kKindMotion};
    else if (KindFolder(filter.kind))
        kinds = {filter.kind};

    for (const Job& job : jobs) {
        // Days ascending, then storage path, then kind: the days that exist
        // under each (path, kind), merged by date.
        std::map<int, std::vector<std::pair<size_t, int>>> days;
        for (size_t p = 0; p < job.paths.size(); ++p)
            for (int kind : kinds)
                for (int date : ExistingDays(KindBase(job.paths[p].c_str(), job.devFolder, KindFolder(kind)),
                                             fromDate, toDate))
                    days[date].push_back({p, kind});
        for (auto& [date, where] : days) {
            std::sort(where.begin(), where.end());
            const int y = date / 10000, m = date / 100 % 100, d = date % 100;
            for (const auto& [p, kind] : where)
                FindRecFile(DayFolder(job.paths[p].c_str(), job.devFolder, KindFolder(kind), y, m, d), y, m, d,
                            filter, out, qelm::ResolveDrivePath(job.paths[p]));
        }
    }
    return 0;
}

int GetAviFileSeconds(const std::string& path)
{
    CReadAviFile reader;
    if (!reader.Open(path.c_str()))
        return 0;
    const int seconds = reader.GetAllTime();
    reader.Close();
    return std::max(seconds, 0);
}

int GetMp4FileSeconds(const std::string& path)
{
    CMP4Writer reader;
    VideoParam video{};
    AudioParam audio{};
    if (reader.OpenRead(path.c_str(), &video, &audio) != 0)
        return 0;
    const int seconds = reader.GetAllTime();
    reader.CloseFile();
    return std::max(seconds, 0);
}

void ScanDayFolder(const std::string& folder, RecDayMap* map, char letter, const std::string& root)
{
    if (folder.empty() || !map)
        return;
    int fd = -1;
    const std::vector<DirEntry> entries = ListFolder(folder, &fd);
    FdCloser closer(fd);
    for (const DirEntry& e : entries) {
        if (e.type == DT_DIR || !IsRecordName(e.name))
            continue;
        const int startSec = NameStartSeconds(e.name);
        if (startSec < 0)
            continue;
        const int m = startSec / 3600 * 60 + startSec / 60 % 60;
        if (m >= kDayMinutes)
            continue;
        if (!UsableRecord(folder, e.name, root))
            continue;
        const std::string path = folder + e.name;
        {
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> g(g_hookLock);
                hook = g_dayScanHook;
            }
            if (hook)
                hook(path);
        }
        const int d = EndsWith(e.name, ".avi") ? GetAviFileSeconds(path) : GetMp4FileSeconds(path);
        int k = d / 60 + (d % 60 > 0 ? 1 : 0);
        if (m + k > kDayMinutes - 1)
            k = kDayMinutes - m;
        for (int i = m; i < m + k; ++i)
            map->szMinuteMap[i] = letter;

        RecDayFile file;
        file.strPath = path;
        file.nDuration = d;
        file.nStartSec = startSec;
        auto at = std::find_if(map->lstFile.begin(), map->lstFile.end(), [&](const RecDayFile& f) {
            return std::strcmp(FileNameOf(f.strPath).c_str(), e.name.c_str()) > 0;
        });
        map->lstFile.insert(at, std::move(file));
    }
}

int SearchLocalRecByDate(RecDayMap& map)
{
    struct Job {
        std::string folder;
        char letter;
        std::string root; // the storage path
    };
    std::vector<Job> jobs;
    {
        qelm::CsLock lock(g_csDevList);
        auto scanPlan = [&](const RecScheme& plan, const DeviceInfo& m) {
            const std::string devFolder = RecDeviceFolderName(m);
            for (const std::string& sp : StoragePaths(plan)) {
                static const struct {
                    const char* kind;
                    char letter;
                } kKinds[] = {{"Schedule", kMapPlan}, {"IO", kMapAlarm}, {"Motion", kMapAlarm}};
                for (const auto& k : kKinds)
                    jobs.push_back({DayFolder(sp.c_str(), devFolder, k.kind, map.wYear, map.wMonth, map.byDay),
                                    k.letter, qelm::ResolveDrivePath(sp)});
            }
        };
        for (const RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan)
                continue;
            for (const DeviceInfo* m : plan->lstDev) {
                if (!m)
                    continue;
                const bool bySn = m->DevSN[0] && SameText(m->DevSN, sizeof m->DevSN, map.szDevSN, sizeof map.szDevSN);
                const bool byIp = m->IPAddr[0] && SameText(m->IPAddr, sizeof m->IPAddr, map.szKey, sizeof map.szKey);
                if (!bySn && !byIp)
                    continue;
                if (m->DevType == 1) {
                    scanPlan(*plan, *m);
                    break;
                }
                const size_t len = strnlen(m->DevName, sizeof m->DevName);
                const char last = len ? m->DevName[len - 1] : 0;
                const int channel = last >= '0' && last <= '9' ? last - '0' : 0;
                if (channel == map.nChannel)
                    scanPlan(*plan, *m);
            }
        }
    }
    for (const Job& job : jobs)
        ScanDayFolder(job.folder, &map, job.letter, job.root);
    return 1;
}

void SetDayScanHook(std::function<void(const std::string& path)> hook)
{
    std::lock_guard<std::mutex> g(g_hookLock);
    g_dayScanHook = std::move(hook);
}

} // namespace recsearch
