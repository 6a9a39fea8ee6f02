// The stream addresses a pane opens, by access mode and device type.
#include "liveview/video_wnd.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Formats into out; false (out empty) when the text does not fit limit.
__attribute__((format(printf, 3, 4))) bool Format(std::string& out, size_t limit, const char* fmt, ...)
{
    char buf[CVideoWnd::kMaxUrl + 2];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) > limit) {
        out.clear();
        return false;
    }
    out.assign(buf, static_cast<size_t>(n));
    return true;
}

} // namespace

bool BuildPaneStreamUrl(const DeviceInfo& r, bool recordingSide, std::string& url, std::string& name)
{
    url.clear();
    name.clear();
    const size_t U = CVideoWnd::kMaxUrl;
    const char* host = r.IPAddr;
    const int port = r.VideoPort;
    const char* key = r.Resolution;
    const bool cif = std::strcmp(key, "cif") == 0;
    const bool ipc = r.DevType == 1;
    const bool nvr = r.DevType == 4;
    switch (r.VisitMod) {
    case 0:
        if (ipc)
            return Format(url, U, "rtsp://%s:%d/mpeg4%s", host, port, key);
        return cif ? Format(url, U, "rtsp://%s:%d/h264cif", host, port)
                   : Format(url, U, "rtsp://%s:%d/h264-%s", host, port, key);
    case 1:
        if (nvr)
            return Format(url, U, "dovra://%s:%d/mpeg4%s-%d", host, port, key, int(r.CurNVRChannel));
        if (ipc)
            return Format(url, U, "dovra://%s:%d/mpeg4%s", host, port, key);
        if (recordingSide)
            return false;
        return cif ? Format(url, U, "dovra://%s:%d/h264cif", host, port)
                   : Format(url, U, "dovra://%s:%d/h264-%s", host, port, key);
    case 2:
        if (ipc)
            return Format(name, CVideoWnd::kMaxStreamName, "mpeg4%s", key);
        return Format(name, CVideoWnd::kMaxStreamName, "%s", cif ? "mpeg4cif" : "mpeg4");
    case 3:
        if (nvr)
            return Format(url, U, "p2p://%s@%s/mpeg4%s#%s-%d", r.DevId, r.p2pSvr, "cif", r.p2pSvrList,
                          int(r.CurNVRChannel));
        return Format(url, U, "p2p://%s@%s/mpeg4%s#%s", r.DevId, r.p2pSvr, (recordingSide || cif) ? "cif" : "",
                      r.p2pSvrList);
    default:
        return false;
    }
}
