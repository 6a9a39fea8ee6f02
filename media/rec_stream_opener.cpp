// The recording stream opener: CRecSchemeManager::AddWatch opens a stream
// for a recording on one of the device's two sinks.
#include "media/rec_scheme_manager.h"

#include "core/log.h"
#include "media/control_wrappers.h"
#include "media/rec_targets.h"
#include "media/rtsp_events.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kMaxUrl = 255;

// Formats into out; false when the text is empty or longer than the URL limit.
__attribute__((format(printf, 2, 3))) bool FormatUrl(std::string& out, const char* fmt, ...)
{
    char buf[kMaxUrl + 2];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n <= 0 || n > kMaxUrl)
        return false;
    out.assign(buf, static_cast<size_t>(n));
    return true;
}

} // namespace

bool BuildRecordUrl(const DeviceInfo& d, const DeviceInfo& r, int streamType, std::string& url, bool& byName)
{
    url.clear();
    byName = d.VisitMod == 2;
    const bool main = streamType == 1;
    const bool cif = std::strcmp(d.Resolution, "cif") == 0;
    switch (d.DevType) {
    case 1:
        switch (d.VisitMod) {
        case 0:
            return FormatUrl(url, main ? "rtsp://%s:%d/mpeg4" : "rtsp://%s:%d/mpeg4cif", d.IPAddr, int(d.VideoPort));
        case 1:
            return FormatUrl(url, main ? "dovra://%s:%d/mpeg4" : "dovra://%s:%d/mpeg4cif", d.IPAddr,
                             int(d.VideoPort));
        case 2:
            url = main ? "mpeg4" : "mpeg4cif";
            return true;
        case 3:
            return FormatUrl(url, main ? "p2p://%s@%s/mpeg4#%s" : "p2p://%s@%s/mpeg4cif#%s", d.DevId, d.p2pSvr,
                             d.p2pSvrList);
        default:
            return false;
        }
    case 0:
        switch (d.VisitMod) {
        case 0:
            return cif ? FormatUrl(url, "rtsp://%s:%d/h264cif", d.IPAddr, int(d.VideoPort))
                       : FormatUrl(url, "rtsp://%s:%d/h264-%s", d.IPAddr, int(d.VideoPort), d.Resolution);
        case 1:
            return cif ? FormatUrl(url, "dovra://%s:%d/h264cif", d.IPAddr, int(d.VideoPort))
                       : FormatUrl(url, "dovra://%s:%d/h264-%s", d.IPAddr, int(d.VideoPort), d.Resolution);
        case 2:
            return cif ? FormatUrl(url, "h264cif") : FormatUrl(url, "h264-%s", d.Resolution);
        default:
            return false;
        }
    case 4:
        switch (d.VisitMod) {
        case 3:
            return FormatUrl(url, main ? "p2p://%s@%s/mpeg4#%s-%d" : "p2p://%s@%s/mpeg4cif#%s-%d", d.DevId,
                             d.p2pSvr, d.p2pSvrList, int(d.CurNVRChannel));
        case 0:
        case 1:
        case 2:
            return FormatUrl(url, "dovra://%s:%d/mpeg4%s-%d", r.IPAddr, int(r.VideoPort), main ? "" : "cif",
                             int(r.CurNVRChannel));
        default:
            return false;
        }
    default:
        return false;
    }
}

int CRecSchemeManager::AddWatch(DeviceInfo* dev, int streamType, int preRecSeconds, int recordAudio)
{
    Jobs jobs;
    int result;
    {
        qelm::CsLock lock(g_csDevList);
        result = AddWatchLocked(dev, streamType, preRecSeconds, recordAudio, jobs);
    }
    RunJobs(jobs);
    return result;
}

int CRecSchemeManager::AddWatchLocked(DeviceInfo* r, int streamType, int preRecSeconds, int recordAudio, Jobs& jobs)
{
    if (!r) {
        WriteLog(-2, "CRecSchemeManager Action AddWatch refused. decive info is NULL");
        return -1;
    }
    IRecordTargets* targets = GetRecordTargets();
    if (targets && targets->IsLoginServerMode() && r->DevSN[0] == 0 && r->VisitMod == 2)
        return -1;

    DeviceInfo* d = nullptr;
    for (DeviceInfo& e : g_lstDevInfo) {
        const bool sameName = std::strcmp(e.DevName, r->DevName) == 0;
        if ((sameName && e.DevType != 4) ||
            (e.DevType == 4 && sameName && std::strcmp(e.DevId, r->DevId) == 0 && e.CurNVRChannel == r->CurNVRChannel)) {
            d = &e;
            break;
        }
    }
    if (!d || d->Online == 0)
        return 0;

    std::string url;
    bool byName = false;
    const bool haveUrl = BuildRecordUrl(*d, *r, streamType, url, byName);
    StreamProfile profile{};
    const bool onvif = d->DevType == 1 && d->VisitMod == 0 && d->OnvifDev == 1;
    if (onvif) {
        if (d->OnvifInfo.ProfileCount <= 0) {
            // The description is a network query: fetch it outside the lock
            // and open the stream in a later pass.
            if (targets && m_onvifPending.insert(d).second) {
                std::string addr = d->OnvifSerAddr, user = d->LoginName, psw = d->LoginPsw;
                jobs.push_back([this, d, addr, user, psw, targets] {
                    auto info = std::make_unique<_OVF_DEV_INFO>();
                    *info = _OVF_DEV_INFO{};
                    const int rc = targets->OvfGetDevInfo(addr.c_str(), user.c_str(), psw.c_str(), info.get());
                    qelm::CsLock lock(g_csDevList);
                    m_onvifPending.erase(d);
                    for (DeviceInfo& e : g_lstDevInfo) {
                        if (&e == d && rc == 0 && addr == e.OnvifSerAddr) {
                            e.OnvifInfo = *info;
                            break;
                        }
                    }
                });
            }
            return 0;
        }
        url.clear();
        if (targets && targets->GetOnvifStreamProfile(&d->OnvifInfo, streamType == 1 ? 0 : 1, &profile)) {
            const size_t n = strnlen(profile.uri, sizeof profile.uri);
            if (n < sizeof profile.uri && n <= size_t(kMaxUrl))
                url.assign(profile.uri, n);
        }
    }

    int which;
    CRtspEvents* sink;
    if (d->pRtspEvent1 && d->pRtspEvent1->GetStreamId() != 0) {
        if (d->pRtspEvent2 && d->pRtspEvent2->GetStreamId() != 0) {
            WriteLog(6, "CRecSchemeManager:Add stream refused,RtspEvent1 and RtspEvent2 is using. URL=%s", url.c_str());
            return 0;
        }
        which = 2;
        sink = d->pRtspEvent2;
    } else {
        which = 1;
        sink = d->pRtspEvent1;
    }
    if (!sink)
        return 0;
    if ((!onvif && !haveUrl) || url.empty()) {
        // No form for this device, or a field too long for a stream address.
        WriteLog(6, "CRecSchemeManager:Add stream refused, no stream URL, DevName=%s", d->DevName);
        return 0;
    }

    CRtspPullCtrl* pull = sink->GetPullCtrl();
    int32_t id = -1;
    if (pull) {
        if (byName && !onvif)
            id = pull->AddStreamEx(r->DevSN, static_cast<uint16_t>(r->VideoPort), url.c_str(), r->LoginName,
                                   r->LoginPsw, r->RtpOverRtsp);
        else
            id = pull->AddStream(url.c_str(), d->LoginName, d->LoginPsw, d->RtpOverRtsp);
    }
    if (id <= 0) {
        WriteLog(6, "CRecSchemeManager:Add stream failed, error=%d, URL=%s", int(id), url.c_str());
        return which;
    }
    if (onvif)
        sink->SetStreamProfile(&profile);
    (which == 1 ? d->StreamId1 : d->StreamId2) = id;
    sink->SetStreamInfo(id, streamType, preRecSeconds, recordAudio);
    d->CurStreamType = streamType;
    r->CurStreamType = streamType;
    // A record owns its own sinks: another record's sink and stream id are
    // not copied into R (its teardown would delete a sink it does not own).
    WriteLog(6, "CRecSchemeManager:Add stream success, URL=%s, %s set StreamId=%ld, CurStreamType=%d", url.c_str(),
             which == 1 ? "pRtspEvent1" : "pRtspEvent2", long(id), streamType);
    return which;
}
