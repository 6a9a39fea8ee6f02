// Cloud device notices and the restart of the alarm-server session.
#include "devices/cloud_notices.h"

#include "core/cloud_client.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/dev_teardown.h"
#include "devices/device_access.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "devices/first_run.h"
#include "devices/nvr_channels.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

#include <QTimer>

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned kAlarmServerFailed = 1433;

template <std::size_t N>
void Put(char (&dst)[N], std::string_view text)
{
    qelm::CopyBounded(dst, N, text);
}

uint64_t ReadU64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string Text(const TiXmlElement* e)
{
    const char* t = e ? e->GetText() : nullptr;
    return t ? t : "";
}

int Number(const TiXmlElement* e)
{
    return std::atoi(Text(e).c_str());
}

// The device's own address and ports from its registration text.
struct RegInfo {
    std::string ip;
    int web = 0, ptz = 0, video = 0;
};

RegInfo ParseRegInfo(const std::string& xml)
{
    RegInfo r;
    if (xml.empty() || !qelm::XmlNestingWithin(xml))
        return r;
    TiXmlDocument doc;
    doc.Parse(xml.c_str());
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* net = root ? root->FirstChildElement("network") : nullptr;
    if (!net)
        return r;
    r.ip = Text(net->FirstChildElement("ip"));
    r.web = Number(net->FirstChildElement("web"));
    r.ptz = Number(net->FirstChildElement("ptz"));
    r.video = Number(net->FirstChildElement("video"));
    return r;
}

DeviceInfo FromListEntry(const TiXmlElement* ls, RegInfo* reg)
{
    DeviceInfo d{};
    for (const TiXmlElement* e = ls->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->ValueStr();
        const std::string v = Text(e);
        if (name == "DevID") {
            Put(d.DevId, v);
        } else if (name == "devsn") {
            Put(d.DevSN, v);
        } else if (name == "devname") {
            Put(d.DevName, v);
        } else if (name == "devtype") {
            d.DevType = CloudDevType(std::atoi(v.c_str()));
        } else if (name == "devip") {
            Put(d.IPAddr, v);
        } else if (name == "devwebport") {
            d.WebPort = std::atoi(v.c_str());
        } else if (name == "devptzport") {
            d.PtzPort = std::atoi(v.c_str());
        } else if (name == "devisonline") {
            d.Online = std::atoi(v.c_str()) > 0 ? 1 : 0;
        } else if (name == "devvideoport") {
            d.VideoPort = std::atoi(v.c_str());
        } else if (name == "devloginuser") {
            Put(d.LoginName, v);
        } else if (name == "devloginpass") {
            if (g_szVendorNumber[0]) {
                char md5[33];
                Md5HexUpper(v.c_str(), md5);
                Put(d.LoginPsw, md5);
            } else {
                Put(d.LoginPsw, v);
            }
        } else if (name == "devreginfo") {
            *reg = ParseRegInfo(v);
        }
    }
    return d;
}

void GiveSinks(DeviceInfo& d)
{
    d.pAuxPtzCtrl = g_pAuxPtzCtrl;
    d.pAuxPTZEvents = g_pAuxPTZEvents;
    d.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    d.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
}

void RegisterWithCredentials(DeviceInfo& d)
{
    d.AuxPtzId = 0;
    if (!g_pAuxPtzCtrl || !d.LoginName[0] || !d.LoginPsw[0])
        return;
    d.AuxPtzId = g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
    GiveDeviceControlStream(g_pAuxPtzCtrl, d);
    const DispInfoSetting& cfg = g_DispInfoSetting;
    g_pAuxPtzCtrl->SetTimeSync(d.AuxPtzId, cfg.SyncTimeEnable, cfg.SyncTimeDiff, cfg.SyncTimeInterval);
}

bool HasDevId(const char* devId)
{
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevId, devId) == 0)
            return true;
    return false;
}

// Run-time state of a removed record that its re-added copy must not keep:
// streams, panes, recording, registrations and the channel count and states
// its removed channel rows had.
void ResetRunState(DeviceInfo& d)
{
    d.RecFlag = 0;
    d.WatchFlag = 0;
    d.AlarmFlag = 0;
    d.BlinkCount = 0;
    d.BlinkState = 0;
    d.RecTimeDuration = 0;
    d.RecSchemeName[0] = 0;
    d.SavePath[0] = 0;
    d.StreamId1 = 0;
    d.StreamId2 = 0;
    d.P2pLoginId = 0;
    d.AuxPtzId = 0;
    d.BroadcastState = 0;
    d.MotionAlarmType = 0;
    d.IOAlarmType = 0;
    d.OnvifAlarmHandle = 0;
    d.AlarmRecTime = 0;
    d.ChannelStates[0] = 0;
    if (d.DevType == 4)
        d.NVRChannels = 0;
    d.pRtspEvent1 = nullptr;
    d.pRtspEvent2 = nullptr;
}

} // namespace

int CloudDevType(int code)
{
    switch (code) {
    case 100: return 1;
    case 200:
    case 201:
    case 400: return 4;
    case 300: return 0;
    default: return 0;
    }
}

// The device page's removal of a cloud device, until that page registers its own.
void IDeviceServices::DeleteCloudDevice(const char* devId, int)
{
    if (!devId)
        return;
    std::vector<RemovedDevice> removed;
    {
        qelm::CsLock lock(g_csDevList);
        for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end();)
            it = it->nPltDev != 0 && std::strcmp(it->DevId, devId) == 0 ? RemoveDeviceRecord(it, &removed)
                                                                         : std::next(it);
    }
    ReportRemovedDevices(removed);
    if (!removed.empty())
        ReloadDevTrees();
}

CCloudNotices::CCloudNotices() = default;

CCloudNotices::~CCloudNotices()
{
    m_timerContext.reset();
    if (m_session)
        m_session->Stop();
}

void CCloudNotices::StartSession()
{
    m_restartPending = false;
    if (m_session || !m_factory)
        return;
    m_session = m_factory(m_account.user.c_str(), m_account.password.c_str(), m_account.alarmHost.c_str(),
                          m_account.alarmPort, m_owner);
}

void CCloudNotices::CloseSession()
{
    m_timerContext.reset();
    m_restartPending = false;
    if (!m_session)
        return;
    m_session->Logout();
    m_session->Stop();
    m_session.reset();
}

int CCloudNotices::NextBackoffMs() const
{
    long long ms = m_backoffBaseMs;
    for (int i = 1; i < m_quickEnds && ms < m_backoffCapMs; ++i)
        ms *= 2;
    return static_cast<int>(ms < m_backoffCapMs ? ms : m_backoffCapMs);
}

LRESULT CCloudNotices::OnCloudLinkEnd(WPARAM reason, LPARAM)
{
    // A session already replaced or closed may still have queued its end.
    if (!m_session)
        return 0;
    m_session->Stop();
    m_session.reset();
    const int r = static_cast<int>(reason);
    WriteLog(6, "CIPCClientDlg::OnCloudLinkEnd(): alarm server session ended, reason=%d", r);
    if (r == kLinkRefused) {
        DeviceServices()->ShowMsg(IDeviceServices::kMsgMain, 0, kAlarmServerFailed);
        return 0;
    }
    if (r >= kLinkNoNetwork && r <= kLinkNoSocket) {
        // It ended before it reached the network: restarting at once would spin.
        ++m_quickEnds;
        m_restartPending = true;
        m_timerContext = std::make_unique<QObject>();
        QTimer::singleShot(NextBackoffMs(), m_timerContext.get(), [this] { StartSession(); });
        return 0;
    }
    m_quickEnds = 0;
    StartSession();
    return 0;
}

LRESULT CCloudNotices::OnCloudNotify(WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<uint8_t[]> block(reinterpret_cast<uint8_t*>(lParam));
    if (wParam != 2 || !block)
        return 0;
    const uint8_t* p = block.get();
    char devId[24];
    std::snprintf(devId, sizeof devId, "%llu",
                  static_cast<unsigned long long>(ReadU64(p + offsetof(CHS_DevAlarmNotify, devId))));
    const uint32_t type = ReadU32(p + offsetof(CHS_DevAlarmNotify, AlarmType));
    const char* rawText = reinterpret_cast<const char*>(p + offsetof(CHS_DevAlarmNotify, text));
    const std::string text(rawText, strnlen(rawText, kCloudNoticeTextSize));
    WriteLog(6, "CIPCClientDlg: recv CHSMSG_DEVALARM_NOTIFY devid=%s, AlarmType=%d.", devId, static_cast<int>(type));

    IDeviceServices* s = DeviceServices();
    switch (type) {
    case kCloudDevAdded:
    case kCloudDevAdded2:
        AddDevice(devId);
        s->ReloadDevTrees();
        break;
    case kCloudDevOnline:
    case kCloudDevOffline: {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevId, devId) == 0) {
                d.Online = type == kCloudDevOnline ? 1 : 0;
                break;
            }
        s->ReloadDevTrees();
        break;
    }
    case kCloudDevMoved:
        ReAddDevice(devId, text.c_str());
        s->ReloadDevTrees();
        break;
    case kCloudDevRemoved:
        s->DeleteCloudDevice(devId, 0);
        break;
    default:
        break;
    }
    return 0;
}

void CCloudNotices::AddDevice(const std::string& devId)
{
    std::vector<char> buffer(kCloudRecvSize);
    int length = static_cast<int>(buffer.size());
    if (CloudLoginDevice(m_account.cloudHost.c_str(), m_account.cloudPort, m_account.user.c_str(),
                         m_account.password.c_str(), devId.c_str(), buffer.data(), &length) != 0)
        return;
    const std::string body(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
    if (!qelm::XmlNestingWithin(body))
        return;
    TiXmlDocument doc;
    doc.Parse(body.c_str());
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return;

    int err = 0;
    std::string ip, p2pServer, relayList;
    std::vector<const TiXmlElement*> entries;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->ValueStr();
        if (name == "err")
            err = Number(e);
        else if (name == "ip")
            ip = Text(e);
        else if (name == "p2pserver")
            p2pServer = Text(e);
        else if (name == "relaysvrlist")
            relayList = Text(e);
        else if (name == "ls")
            entries.push_back(e);
        if (err != 0)
            break;
    }
    if (err != 0)
        return;

    for (const TiXmlElement* ls : entries) {
        RegInfo reg;
        DeviceInfo d = FromListEntry(ls, &reg);
        if (!d.IPAddr[0])
            continue;
        {
            qelm::CsLock lock(g_csDevList);
            // Known by serial, or already added by an earlier notice.
            if (FindDevice(d.DevSN, 0) || (d.DevId[0] && HasDevId(d.DevId)))
                continue;
        }
        d.nPltDev = 1;
        if (!ip.empty() && ip == d.IPAddr && !reg.ip.empty()) {
            Put(d.IPAddr, reg.ip);
            d.PtzPort = reg.ptz;
            d.WebPort = reg.web;
            d.VideoPort = reg.video;
        }
        if (d.PtzPort == 0)
            d.UseP2P = 1;
        if (d.DevType == 4) {
            d.VisitMod = 1;
            d.RtpOverRtsp = 2;
        } else {
            d.RtpOverRtsp = 1;
        }
        Put(d.Resolution, "cif");
        Put(d.DefRes, "cif");
        if (!d.DevName[0])
            Put(d.DevName, d.DevId);
        Put(d.GroupName, "Default");
        GiveSinks(d);
        if (d.UseP2P == 1) {
            d.VisitMod = 3;
            Put(d.p2pSvr, p2pServer);
            Put(d.p2pSvrList, relayList);
        } else {
            RegisterWithCredentials(d);
        }
        WriteLog(6, "CIPCClientDlg::OnCloudNotify(): add cloud device DevId=%s, DevName=%s", d.DevId, d.DevName);
        qelm::CsLock lock(g_csDevList);
        g_lstDevInfo.push_back(d);
    }
}

void CCloudNotices::ReAddDevice(const std::string& devId, const char* text)
{
    DeviceInfo copy{};
    bool found = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (devId == d.DevId) {
                copy = d;
                found = true;
                break;
            }
    }
    if (!found)
        return;
    RemoveDeviceById(devId.c_str());

    std::vector<std::string> lines;
    SplitString(text, "\r\n", 0, lines);
    if (lines.size() != 5)
        return;
    auto valueOf = [](const std::string& line) {
        std::vector<std::string> parts;
        SplitString(line, ":", 0, parts);
        return parts.size() > 1 ? parts[1] : std::string();
    };
    ResetRunState(copy);
    Put(copy.IPAddr, valueOf(lines[0]));
    copy.PtzPort = std::atoi(valueOf(lines[1]).c_str());
    copy.VideoPort = std::atoi(valueOf(lines[3]).c_str());
    GiveSinks(copy);
    RegisterWithCredentials(copy);
    qelm::CsLock lock(g_csDevList);
    g_lstDevInfo.push_back(copy);
}
