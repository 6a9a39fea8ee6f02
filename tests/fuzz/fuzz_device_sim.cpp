// Fuzzes the device simulator's file loader ("DeviceSim.xml") through a real
// file: no crash, and a file it refuses always comes with a reason.
#include "controls/device_sim.h"
#include "platform/logsink.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string g_path;

void Setup()
{
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_path = std::string(base) + "/qelm2-fuzz-devsim-" + std::to_string(getpid()) + ".xml";
    std::atexit([] { unlink(g_path.c_str()); });
    qelm::SetPlatformLogSink([](int, const std::string&) {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool ready = (Setup(), true);
    (void)ready;
    std::ofstream(g_path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                    static_cast<std::streamsize>(size));
    DeviceSimulator& sim = DeviceSimulator::Instance();
    std::string error;
    if (!sim.LoadFile(g_path, &error) && error.empty())
        std::abort(); // a refusal always says why
    sim.Clear();
    return 0;
}
