// Benchmark: the local record searches on a tree of about 100,000 records
// (70 days of one-minute files over two storage paths and three kinds, hard
// links of two real recordings of 60 s, so every length is read for real).
// Times the by-file search over the whole span and the day search of a full
// day (1,440 records opened), warm cache, with the program log open (the
// search logs every record it finds), beside
// `find <tree> -name '*.mp4' -printf '%s\n'` on the same tree.
//   rec_search_bench [tree folder] [runs]
//   rec_search_bench --by-file-once [tree folder]
// The second form runs one by-file search and exits, for timing whole
// processes from outside:
//   farm-bench --vs "find TREE/d1 TREE/d2 -name '*.mp4' -printf '%s\n'"
//       -- rec_search_bench --by-file-once TREE
// The tree is made once and kept (default /tmp/qelm2-recsearch-bench).
#include "controls/avi_file.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "media/mp4_writer.h"
#include "media/rec_scheme_manager.h"
#include "platform/sync.h"
#include "playback/local_rec_search.h"
#include "tests/media/media_test_util.h"

#include <sys/resource.h>
#include <cerrno>
#include <list>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDays = 70;
constexpr int kFirstYear = 2026, kFirstMonth = 1;

bool MakeMp4(const std::string& path, int seconds)
{
    const auto aus = mp4test::SplitStream(mp4test::Streams::Get().H264(), "h264");
    if (aus.empty())
        return false;
    VideoParam v = mp4test::H264Param();
    CMP4Writer w;
    if (w.OpenWrite(path.c_str(), &v, nullptr) != 0)
        return false;
    for (int i = 0; i <= seconds; ++i)
        w.WriteOneFrame(1, aus[0].data.data(), int(aus[0].data.size()), int64_t(i) * 1000, 1);
    w.CloseFile();
    return true;
}

bool MakeAvi(const std::string& path, int seconds)
{
    AviVideoDesc v{};
    std::snprintf(v.codec, sizeof v.codec, "H264");
    v.width = 176;
    v.height = 144;
    v.frameRate = 1;
    AviAudioDesc a{};
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    w.SetMediaParam(0, 0, &a, &v);
    if (w.Start() != 1)
        return false;
    std::vector<uint8_t> frame(2000, 0x11);
    frame[0] = frame[1] = frame[2] = 0;
    frame[3] = 1;
    frame[4] = 0x65;
    for (int i = 0; i < seconds; ++i)
        w.WriteVideoFrame(1, frame.data(), int(frame.size()));
    return w.Stop() == 1;
}

std::tm DayOf(int index)
{
    std::tm t{};
    t.tm_year = kFirstYear - 1900;
    t.tm_mon = kFirstMonth - 1;
    t.tm_mday = 1 + index;
    t.tm_hour = 12;
    std::mktime(&t);
    return t;
}

DeviceInfo Camera()
{
    DeviceInfo d{};
    std::snprintf(d.DevId, sizeof d.DevId, "BENCH1");
    std::snprintf(d.DevName, sizeof d.DevName, "benchcam");
    std::snprintf(d.IPAddr, sizeof d.IPAddr, "127.0.0.5");
    d.DevType = 1;
    return d;
}

// Minute m of every day: the hour picks the storage path, every tenth minute
// is an IO record and every tenth but five a motion record.
bool MakeTree(const std::string& root, const std::string& sp1, const std::string& sp2)
{
    std::string mp4 = root + "/src-av-1.mp4", avi = root + "/src-vv-2.avi";
    if (!MakeMp4(mp4, 60) || !MakeAvi(avi, 60))
        return false;
    const DeviceInfo cam = Camera();
    const std::string devFolder = RecDeviceFolderName(cam);
    size_t made = 0;
    for (int day = 0; day < kDays; ++day) {
        const std::tm date = DayOf(day);
        std::string folders[2][3];
        for (int p = 0; p < 2; ++p)
            for (int k = 0; k < 3; ++k) {
                folders[p][k] = RecordFolderPath((p ? sp2 : sp1).c_str(), devFolder,
                                                 k == 0 ? "Schedule" : k == 1 ? "IO" : "Motion", date);
                fs::create_directories(folders[p][k]);
            }
        for (int m = 0; m < 1440; ++m) {
            const int p = (m / 60) % 2, k = m % 10 == 0 ? 1 : m % 10 == 5 ? 2 : 0;
            char name[64];
            std::snprintf(name, sizeof name, "%02d%02d00-%s", m / 60, m % 60, k == 0 ? "av-1.mp4" : "vv-2.avi");
            std::string& src = k == 0 ? mp4 : avi;
            if (link(src.c_str(), (folders[p][k] + name).c_str()) != 0 && errno != EEXIST) {
                if (errno != EMLINK)
                    return false;
                // A file system caps the links of one file: go on from a copy.
                const std::string copy = src + "." + std::to_string(made);
                fs::copy_file(src, copy);
                src = copy;
                if (link(src.c_str(), (folders[p][k] + name).c_str()) != 0)
                    return false;
            }
            ++made;
        }
    }
    std::printf("made %zu records under %s\n", made, root.c_str());
    return true;
}

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

template <class F>
double Best(int runs, F f)
{
    f(); // warm the cache
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t = Clock::now();
        f();
        best = std::min(best, Seconds(t));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const bool once = argc > 1 && std::string(argv[1]) == "--by-file-once";
    if (once) {
        --argc;
        ++argv;
    }
    const std::string root = argc > 1 ? argv[1] : "/tmp/qelm2-recsearch-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string sp1 = root + "/d1", sp2 = root + "/d2";
    if (!fs::exists(root + "/.done")) {
        fs::remove_all(root);
        fs::create_directories(root);
        const auto t = Clock::now();
        if (!MakeTree(root, sp1, sp2)) {
            std::fprintf(stderr, "could not make the tree\n");
            return 1;
        }
        std::FILE* done = std::fopen((root + "/.done").c_str(), "w");
        if (done)
            std::fclose(done);
        std::printf("tree made in %.1f s\n", Seconds(t));
    }

    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(Camera());
        auto* plan = new RecScheme;
        std::snprintf(plan->SchemeName, sizeof plan->SchemeName, "bench");
        std::snprintf(plan->StoragePath1, sizeof plan->StoragePath1, "%s", sp1.c_str());
        std::snprintf(plan->StoragePath2, sizeof plan->StoragePath2, "%s", sp2.c_str());
        plan->lstDev.push_back(&g_lstDevInfo.back());
        g_lstRecSchemeInfo.push_back(plan);
    }

    // The program's log, open as an operator with logging on has it.
    const std::string logFolder = root + "/log";
    fs::remove_all(logFolder);
    fs::create_directories(logFolder);
    if (OpenLog((logFolder + "/clientlog.txt").c_str()) != 0) {
        std::fprintf(stderr, "could not open the log\n");
        return 1;
    }

    const std::tm first = DayOf(0), last = DayOf(kDays - 1);
    recsearch::ByFileFilter filter;
    filter.startKey = recsearch::TimeKey(first.tm_year + 1900, first.tm_mon + 1, first.tm_mday, 0, 0, 0);
    filter.endKey = recsearch::TimeKey(last.tm_year + 1900, last.tm_mon + 1, last.tm_mday, 23, 59, 59);
    filter.media = 2;
    size_t found = 0;
    if (once) {
        std::list<RecFileItem> out;
        recsearch::SearchLocalRecFile(Camera(), filter, out);
        CloseLog();
        std::printf("%zu files\n", out.size());
        return out.empty() ? 1 : 0;
    }
    const double byFile = Best(runs, [&] {
        std::list<RecFileItem> out;
        recsearch::SearchLocalRecFile(Camera(), filter, out);
        found = out.size();
    });

    // Without a span limit: the walk visits only the folders that exist.
    recsearch::ByFileFilter open = filter;
    open.startKey = recsearch::TimeKey(1970, 1, 1, 0, 0, 0);
    open.endKey = recsearch::TimeKey(2099, 12, 31, 23, 59, 59);
    const double byFileOpen = Best(runs, [&] {
        std::list<RecFileItem> out;
        recsearch::SearchLocalRecFile(Camera(), open, out);
    });

    const std::tm mid = DayOf(kDays / 2);
    size_t dayFiles = 0;
    int marked = 0;
    const double byDay = Best(runs, [&] {
        RecDayMap map;
        std::snprintf(map.szKey, sizeof map.szKey, "127.0.0.5");
        map.wYear = uint16_t(mid.tm_year + 1900);
        map.wMonth = uint16_t(mid.tm_mon + 1);
        map.byDay = uint8_t(mid.tm_mday);
        recsearch::SearchLocalRecByDate(map);
        dayFiles = map.lstFile.size();
        marked = int(std::count_if(map.szMinuteMap, map.szMinuteMap + kDayMinutes, [](char c) { return c != 'C'; }));
    });

    const std::string cmd = "find '" + root + "/d1' '" + root + "/d2' -name '*.mp4' -printf '%s\\n' > /dev/null";
    const double find = Best(runs, [&] {
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "find failed\n");
    });

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("by-file search, %d days: %zu files in %.3f s (whole span unlimited: %.3f s)\n", kDays, found, byFile,
                byFileOpen);
    std::printf("day search: %zu files opened, %d minutes marked, in %.3f s\n", dayFiles, marked, byDay);
    std::printf("find -name '*.mp4' -printf '%%s\\n': %.3f s; by-file / find = %.2f (log open)\n", find,
                byFile / find);
    CloseLog();
    std::printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
    return 0;
}
