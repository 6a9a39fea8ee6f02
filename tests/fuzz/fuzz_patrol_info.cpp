// Fuzzes the patrol tour file through real files and the stream split: no
// crash; a tour read saves and reads back the same after one normalising
// round; and the split of
// any text gives a name no longer than the text.
#include "core/config_store.h"
#include "core/log.h"
#include "liveview/patrol_tours.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string g_base;
std::string g_config;

void Setup()
{
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/qelm2-fuzz-patrol-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        std::abort();
    g_base = tmpl;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_base, ec);
    });
    setenv("QELM2_DATA", tmpl.c_str(), 1);
    g_config = tmpl + "/Config/";
    mkdir(g_config.c_str(), 0755);
    SetConfigDir(g_config);
}

bool SamePoint(const PatrolPoint& a, const PatrolPoint& b)
{
    if (std::strcmp(a.DispMode, b.DispMode) != 0 || std::strcmp(a.StayTime, b.StayTime) != 0)
        return false;
    for (int k = 0; k < 16; ++k)
        if (std::strcmp(a.DevName[k], b.DevName[k]) != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool ready = (Setup(), true);
    (void)ready;
    if (size > 65536)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::string text = bytes.substr(0, bytes.find('\0'));
    char name[TextSize(256) + 16];
    int sub = -7;
    const int r = ParseStreamName(text.c_str(), name, &sub, sizeof name);
    if ((r != 0 && r != -2) || (sub != 0 && sub != 1) || std::strlen(name) > text.size())
        std::abort();

    const std::string path = ConfigFilePath(kPatrolFileName);
    std::filesystem::remove_all(g_config);
    mkdir(g_config.c_str(), 0755);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    std::list<PatrolTour> tours;
    if (LoadPatrolFile(path, tours) != 0)
        return 0;
    if (tours.empty())
        return 0;
    // The first tour, written alone into a fresh file: after one normalising
    // round (white space, stream attributes) saving and reading it again
    // changes nothing.
    auto round = [&](const PatrolTour& t) {
        std::filesystem::remove(path);
        if (SavePatrolTour(path, t) != PatrolSave::Written)
            std::abort();
        std::list<PatrolTour> back;
        if (LoadPatrolFile(path, back) != 0 || back.size() != 1)
            std::abort();
        return back.front();
    };
    const PatrolTour once = round(tours.front());
    const PatrolTour twice = round(once);
    if (std::strcmp(once.name, twice.name) != 0 || once.points.size() != twice.points.size())
        std::abort();
    for (std::size_t i = 0; i < once.points.size(); ++i)
        if (!SamePoint(once.points[i], twice.points[i]))
            std::abort();
    return 0;
}
