#include "liveview/live_view_host.h"

#include <atomic>

namespace {
ILiveViewHost g_default;
std::atomic<ILiveViewHost*> g_host{nullptr};
} // namespace

void SetLiveViewHost(ILiveViewHost* host) { g_host.store(host); }

ILiveViewHost* LiveViewHost()
{
    ILiveViewHost* h = g_host.load();
    return h ? h : &g_default;
}
