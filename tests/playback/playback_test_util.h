// Helpers of the record search tests: real recordings written by the
// project's MP4 writer and AVI writer, plans with their members, and the
// program-wide lists put back afterwards.
#pragma once

#include "controls/avi_file.h"
#include "core/devinfo.h"
#include "core/recinfo.h"
#include "media/mp4_writer.h"
#include "media/rec_scheme_manager.h"
#include "platform/sync.h"
#include "tests/media/media_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pbtest {

namespace fs = std::filesystem;

// A recording of the MP4 writer lasting about `seconds`: one key frame a
// second of a real H.264 stream.
inline void WriteMp4(const std::string& path, int seconds)
{
    static const std::vector<mp4test::Frame> aus = mp4test::SplitStream(mp4test::Streams::Get().H264(), "h264");
    ASSERT_FALSE(aus.empty());
    fs::create_directories(fs::path(path).parent_path());
    VideoParam v = mp4test::H264Param();
    CMP4Writer w;
    ASSERT_EQ(0, w.OpenWrite(path.c_str(), &v, nullptr)) << path;
    for (int i = 0; i <= seconds; ++i)
        w.WriteOneFrame(1, aus[0].data.data(), int(aus[0].data.size()), int64_t(i) * 1000, 1);
    w.CloseFile();
}

// An AVI recording of `seconds` at one frame a second.
inline void WriteAvi(const std::string& path, int seconds)
{
    fs::create_directories(fs::path(path).parent_path());
    AviVideoDesc v{};
    std::strncpy(v.codec, "H264", sizeof(v.codec) - 1);
    v.width = 176;
    v.height = 144;
    v.frameRate = 1;
    v.bitRate = 256000;
    AviAudioDesc a{};
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    w.SetMediaParam(0, 0, &a, &v);
    ASSERT_EQ(1, w.Start());
    std::vector<uint8_t> frame(24, 0x11);
    frame[0] = frame[1] = frame[2] = 0;
    frame[3] = 1;
    frame[4] = 0x65;
    frame[5] = 0x88;
    for (int i = 0; i < seconds; ++i)
        ASSERT_EQ(0, w.WriteVideoFrame(1, frame.data(), int(frame.size())));
    ASSERT_EQ(1, w.Stop());
}

// Any bytes under a name (decoys and by-file entries, whose content the
// by-file search never reads).
inline void WriteBytes(const std::string& path, size_t size)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << std::string(size, 'x');
}

inline DeviceInfo Device(const char* id, const char* name, int type, const char* ip, int channel = 0,
                         const char* sn = "")
{
    DeviceInfo d{};
    std::snprintf(d.DevId, sizeof d.DevId, "%s", id);
    std::snprintf(d.DevName, sizeof d.DevName, "%s", name);
    std::snprintf(d.IPAddr, sizeof d.IPAddr, "%s", ip);
    std::snprintf(d.DevSN, sizeof d.DevSN, "%s", sn);
    d.DevType = type;
    d.CurNVRChannel = channel;
    return d;
}

inline std::tm Date(int y, int m, int d)
{
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    return t;
}

// The recorder's own folder of a device, kind and day.
inline std::string RecFolder(const std::string& storage, const DeviceInfo& dev, const char* kind, int y, int m,
                             int d)
{
    return RecordFolderPath(storage.c_str(), RecDeviceFolderName(dev), kind, Date(y, m, d));
}

// Empties the device and plan lists at both ends of a test.
class ListsGuard {
public:
    ListsGuard() { Clear(); }
    ~ListsGuard() { Clear(); }
    ListsGuard(const ListsGuard&) = delete;
    ListsGuard& operator=(const ListsGuard&) = delete;

    DeviceInfo* AddDevice(const DeviceInfo& d)
    {
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(d);
        return &g_lstDevInfo.back();
    }
    RecScheme* AddPlan(const char* name, std::vector<std::string> paths, std::vector<DeviceInfo*> members)
    {
        auto* plan = new RecScheme;
        std::snprintf(plan->SchemeName, sizeof plan->SchemeName, "%s", name);
        char* slots[] = {plan->StoragePath1, plan->StoragePath2, plan->StoragePath3};
        for (size_t i = 0; i < paths.size() && i < 3; ++i)
            std::snprintf(slots[i], sizeof plan->StoragePath1, "%s", paths[i].c_str());
        for (DeviceInfo* m : members)
            plan->lstDev.push_back(m);
        qelm::CsLock lock(g_csDevList);
        g_lstRecSchemeInfo.push_back(plan);
        return plan;
    }

private:
    static void Clear()
    {
        qelm::CsLock lock(g_csDevList);
        for (RecScheme* p : g_lstRecSchemeInfo)
            delete p;
        g_lstRecSchemeInfo.clear();
        g_lstDevInfo.clear();
    }
};

} // namespace pbtest
