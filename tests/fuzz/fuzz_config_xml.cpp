// Fuzzes the configuration file loaders (device, user, plans and recover
// files) through real files: no crash, and after one normalising round a
// load and save no longer changes the file.
#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/recover.h"
#include "core/userinfo.h"
#include "tests/core/config_globals.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string g_base;   // this run's folder, removed at exit
std::string g_config; // its Config folder

const char kDevices[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<DevInfo><DevList>"
    "<Dev><DevType>1</DevType><DevId>a</DevId><DevName>cam</DevName></Dev>"
    "<Dev><DevType>1</DevType><DevId>b</DevId><DevName>cam</DevName></Dev>"
    "<Dev><DevType>4</DevType><DevId>n</DevId><DevName>nvr</DevName><NVRChannels>1</NVRChannels></Dev>"
    "<Dev><DevType>4</DevType><DevId>n</DevId><DevName>Channel-1</DevName><NVRChannels>1</NVRChannels>"
    "<CurNVRChannel>1</CurNVRChannel></Dev></DevList></DevInfo>";

void Setup()
{
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/qelm2-fuzz-config-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        std::abort();
    g_base = tmpl;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_base, ec);
    });
    setenv("QELM2_DATA", tmpl.c_str(), 1); // the log folder, when a file opens the log
    g_config = tmpl + "/Config/";
    mkdir(g_config.c_str(), 0755);
    SetConfigDir(g_config);
    std::strcpy(g_szUserName, "admin");
}

void EmptyFolder()
{
    if (DIR* d = opendir(g_config.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.')
                unlink((g_config + e->d_name).c_str());
        }
        closedir(d);
    }
}

void ResetLists() { cfgtest::ResetConfigGlobals(); }

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Loads the named file from scratch and saves it again; the saved text.
std::string Round(int which, const char* name)
{
    ResetLists();
    switch (which) {
    case 0:
        LoadDevInfo();
        SaveDevInfo();
        break;
    case 1:
        LoadUserInfo();
        CloseLog();
        SaveUserInfo();
        break;
    case 2:
        WriteFile(g_config + "DevInfo.xml", kDevices);
        LoadDevInfo();
        LoadRecInfo();
        SaveRecInfo();
        break;
    default:
        LoadRecoverInfo();
        SaveRecoverInfo();
        break;
    }
    return ReadFile(g_config + name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1 || size > 65536)
        return 0;
    static const char* const kNames[] = {"DevInfo.xml", "UserInfo.xml", "RecInfo.xml", "Recover.xml"};
    const int which = data[0] % 4;
    const char* name = kNames[which];
    EmptyFolder();
    WriteFile(g_config + name, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

    Round(which, name);             // the loader's rules and TinyXML's whitespace rules apply once
    const std::string once = Round(which, name);
    const std::string twice = Round(which, name);
    if (once != twice)
        std::abort();
    return 0;
}
