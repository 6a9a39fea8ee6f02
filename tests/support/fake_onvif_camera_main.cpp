// The fake ONVIF camera as a program of its own, for end-to-end tests of the
// real program: prints "PORT <n>" once it listens on 127.0.0.1, then one
// "REQUEST <operation>" line per request it got, until SIGTERM or SIGINT.
//   fake_onvif_camera [--port N] [--user U] [--password P] [--digest] [--refusing]
#include "tests/support/fake_onvif_camera.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }
} // namespace

int main(int argc, char** argv)
{
    fakeonvif::Camera camera;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--user" && hasValue)
            camera.user = argv[++i];
        else if (a == "--password" && hasValue)
            camera.password = argv[++i];
        else if (a == "--digest")
            camera.auth = fakeonvif::Camera::HttpDigest;
        else if (a == "--refusing")
            camera.mode = fakeonvif::Camera::Refusing;
        else {
            std::fprintf(stderr, "unknown argument: %s\n", a.c_str());
            return 2;
        }
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    camera.Start();
    if (camera.Port() <= 0) {
        std::printf("ERROR cannot listen\n");
        return 1;
    }
    std::printf("PORT %d\n", camera.Port());
    std::fflush(stdout);
    size_t printed = 0;
    while (!g_stop) {
        const std::vector<fakeonvif::Request> all = camera.AllRequests();
        for (; printed < all.size(); ++printed)
            std::printf("REQUEST %s\n", all[printed].op.c_str());
        std::fflush(stdout);
        usleep(100 * 1000);
    }
    camera.Stop();
    return 0;
}
