// Removal by id and the first-run discovery.
#include "devices/first_run.h"

#include "core/log.h"
#include "core/probes.h"
#include "core/userinfo.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_access.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/text.h"
#include "res/strings.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kDefaultUser = "admin";
constexpr const char* kDefaultPassword = "580317";
constexpr const char* kDecoderGroup = "Decoder";
constexpr unsigned kAskChangeIp = 1499;
constexpr unsigned kStreamNames[5] = {588, 589, 590, 591, 592};
constexpr const char* kStreamKeys[5] = {"10", "20", "30", "40", "cif"};

enum class Layout { VideoServer, Decoder, MultiDecoder, Nvr, DovraNvr, Camera };

// A text field of a search block: it may fill its field without a terminator.
template <std::size_t N>
std::string_view Field(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

template <std::size_t N>
void Put(char (&dst)[N], std::string_view text)
{
    qelm::CopyBounded(dst, N, text);
}

Layout LayoutOf(std::string_view model)
{
    if (model == "ENC4-RX700")
        return Layout::VideoServer;
    if (model == "DCD-RX700")
        return Layout::Decoder;
    if (model == "MDCD-RX700")
        return Layout::MultiDecoder;
    if (model == "NVR")
        return Layout::Nvr;
    if (model.find("NVR-") != std::string_view::npos)
        return Layout::DovraNvr;
    return Layout::Camera;
}

int PtzAddrFor(std::size_t count)
{
    return count + 1 > 255 ? 0 : static_cast<int>(count + 1);
}

bool IsKnown(const DeviceInfo& e)
{
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevName, e.DevName) == 0 || std::strcmp(d.DevId, e.DevId) == 0 ||
            std::strcmp(d.IPAddr, e.IPAddr) == 0)
            return true;
    return false;
}

void Register(DeviceInfo& d, bool sinks, bool timeSync)
{
    d.pAuxPtzCtrl = g_pAuxPtzCtrl;
    d.pAuxPTZEvents = g_pAuxPTZEvents;
    if (sinks) {
        d.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
        d.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    }
    if (!g_pAuxPtzCtrl)
        return;
    d.AuxPtzId = g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
    GiveDeviceControlStream(g_pAuxPtzCtrl, d);
    if (timeSync) {
        const DispInfoSetting& cfg = g_DispInfoSetting;
        g_pAuxPtzCtrl->SetTimeSync(d.AuxPtzId, cfg.SyncTimeEnable, cfg.SyncTimeDiff, cfg.SyncTimeInterval);
    }
}

void Append(const DeviceInfo& d)
{
    qelm::CsLock lock(g_csDevList);
    g_lstDevInfo.push_back(d);
}

} // namespace

// A record from a search block: its fields, the default account, and the
// single-row fields of its layout.
DeviceInfo DiscoveryEntry(const IpcSearchInfo& b, const char* group, int ptzAddr)
{
    DeviceInfo d{};
    Put(d.DevSN, Field(b.serial));
    Put(d.Status, Field(b.status));
    d.Auth = b.auth;
    d.VideoPort = b.videoPort;
    d.PtzPort = b.ptzPort;
    d.WebPort = b.webPort;
    Put(d.MACAddr, Field(b.mac));
    d.EnableDHCP = b.dhcp;
    Put(d.DevId, Field(b.address));
    Put(d.IPAddr, Field(b.address));
    Put(d.NetMask, Field(b.mask));
    Put(d.GateWay, Field(b.gateway));
    Put(d.DNS1, Field(b.dns1));
    Put(d.DNS2, Field(b.dns2));
    Put(d.GroupName, group);
    Put(d.LoginName, kDefaultUser);
    Put(d.LoginPsw, kDefaultPassword);
    d.PtzAddr = ptzAddr;
    d.RtpOverRtsp = 1;
    std::memcpy(d.SearchRecord, &b, sizeof b);

    const std::string_view model = Field(b.model);
    Put(d.DevName, Field(b.address));
    switch (LayoutOf(model)) {
    case Layout::VideoServer:
        d.DevType = 0;
        break;
    case Layout::Decoder:
    case Layout::MultiDecoder:
        d.DevType = LayoutOf(model) == Layout::Decoder ? 2 : 5;
        Put(d.GroupName, kDecoderGroup);
        break;
    case Layout::Nvr:
    case Layout::DovraNvr:
        d.DevType = 4;
        d.VisitMod = 1;
        d.RtpOverRtsp = 2;
        d.DovraNvr = LayoutOf(model) == Layout::DovraNvr ? 1 : 0;
        d.PtzPort = b.videoPort + 1;
        d.CfgPort = b.ptzPort;
        break;
    case Layout::Camera:
        d.DevType = 1;
        d.VisitMod = model.find("KX265") != std::string_view::npos ? 1 : 0;
        break;
    }
    if (d.DevType == 4 || d.DevType == 1) {
        Put(d.Resolution, "cif");
        Put(d.DefRes, "cif");
    }
    return d;
}

void GetDefaultGroupName(char* out, std::size_t size)
{
    if (!out || size == 0)
        return;
    out[0] = 0;
    for (const DevGroupInfo& g : g_lstDevGroupInfo)
        if (g.nType == 1) {
            qelm::CopyBounded(out, size, g.GroupName);
            return;
        }
    if (!g_lstDevGroupInfo.empty())
        qelm::CopyBounded(out, size, g_lstDevGroupInfo.front().GroupName);
}

void RemoveDeviceById(const char* devId)
{
    if (!devId)
        return;
    const std::string id = devId;
    IDeviceServices* s = DeviceServices();
    s->UnbindTvWallCamera(id.c_str());
    std::vector<RemovedDevice> removed;
    {
        qelm::CsLock lock(g_csDevList);
        for (;;) {
            auto it = g_lstDevInfo.begin();
            while (it != g_lstDevInfo.end() && id != it->DevId)
                ++it;
            if (it == g_lstDevInfo.end())
                break;
            const int type = it->DevType;
            RemoveDeviceRecord(it, &removed);
            if (type != 0 && type != 4)
                break;
        }
    }
    ReportRemovedDevices(removed);
}

CFirstRunDiscovery::CFirstRunDiscovery() = default;
CFirstRunDiscovery::~CFirstRunDiscovery() = default;

CZizevaVEDCtrl* CFirstRunDiscovery::SearchCtrl()
{
    if (!m_pSearch) {
        m_pSearch = std::make_unique<CZizevaVEDCtrl>();
        m_pSearch->CreateDispatch();
    }
    return m_pSearch.get();
}

void CFirstRunDiscovery::Arm(bool force)
{
    bool empty;
    {
        qelm::CsLock lock(g_csDevList);
        empty = g_lstDevInfo.empty();
    }
    if (force || (empty && g_DispInfoSetting.LoginType == 0))
        DeviceServices()->SetMainTimer(kTimerSearch, 1500);
}

bool CFirstRunDiscovery::OnTimer(unsigned id)
{
    if (id == kTimerSearch) {
        RunSearch();
        return true;
    }
    if (id == kTimerPlayDefault) {
        DeviceServices()->KillMainTimer(kTimerPlayDefault);
        DeviceServices()->PlayGroup("Default");
        return true;
    }
    return false;
}

void CFirstRunDiscovery::RunSearch()
{
    IDeviceServices* s = DeviceServices();
    s->KillMainTimer(kTimerSearch);
    CZizevaVEDCtrl* search = SearchCtrl();
    search->StartSearch();
    if (s->RunCountDown(m_bIpChangeOffered ? 15 : 10) == IDCANCEL) {
        search->StopSearch();
        return;
    }
    m_lstSearchDev.clear();
    CollectSearchResults();
    m_lstForeignDev.clear();
    if (!m_bIpChangeOffered)
        CollectForeignCameras();

    if (!m_lstForeignDev.empty() && s->AskYesNo(kAskChangeIp) == IDYES) {
        s->RunModifyIpDlg(&m_lstForeignDev, search);
        m_bIpChangeOffered = true;
        search->StopSearch();
        s->SetMainTimer(kTimerSearch, 1000);
        return;
    }
    search->StopSearch();
    AddSearchedDevices();
    s->SetMainTimer(kTimerPlayDefault, 4000);
}

int CFirstRunDiscovery::CollectSearchResults()
{
    CZizevaVEDCtrl* search = SearchCtrl();
    const int n = search->GetDeviceCount();
    if (n <= 0)
        return 0;
    IpSlot ips[32];
    const int count = GetLocalIpList(ips, 32);
    char group[TextSize(256)];
    GetDefaultGroupName(group, sizeof group);
    for (int i = n - 1; i >= 0; --i) {
        IpcSearchInfo block{};
        if (search->GetDevice(i, reinterpret_cast<uint8_t*>(&block), int32_t(sizeof block)) != 0)
            continue;
        DeviceInfo entry = DiscoveryEntry(block, group, PtzAddrFor(m_lstSearchDev.size()));
        entry.SearchIndex = i;
        if (IsSameSubnet(entry.IPAddr, ips, count))
            m_lstSearchDev.push_front(entry);
        else
            m_lstSearchDev.push_back(entry);
    }
    return 0;
}

int CFirstRunDiscovery::CollectForeignCameras()
{
    IpSlot ips[32];
    const int count = GetLocalIpList(ips, 32);
    for (const DeviceInfo& e : m_lstSearchDev)
        if (!IsSameSubnet(e.IPAddr, ips, count))
            m_lstForeignDev.push_back(e);
    return 0;
}

int CFirstRunDiscovery::AddSearchedDevices()
{
    if (m_lstSearchDev.empty())
        return -1;
    IDeviceServices* s = DeviceServices();
    char group[TextSize(256)];
    GetDefaultGroupName(group, sizeof group);
    bool decoderAdded = false;
    for (const DeviceInfo& entry : m_lstSearchDev) {
        bool known;
        std::size_t count;
        {
            qelm::CsLock lock(g_csDevList);
            known = IsKnown(entry);
            count = g_lstDevInfo.size();
        }
        if (known)
            continue;
        IpcSearchInfo block;
        std::memcpy(&block, entry.SearchRecord, sizeof block);
        DeviceInfo d = DiscoveryEntry(block, group, PtzAddrFor(count));
        d.SearchIndex = entry.SearchIndex;
        if (d.DevType == 0) {
            for (int i = 0; i < 5; ++i) {
                DeviceInfo row = d;
                Put(row.DevName, std::string(d.DevId) + "-" + LoadResString(kStreamNames[i]));
                Put(row.Resolution, kStreamKeys[i]);
                Register(row, true, false);
                Append(row);
                if (s->HasRecordPage())
                    s->AddDeviceToDefaultStrategy(row);
            }
        } else if (d.DevType == 2 || d.DevType == 5) {
            Register(d, false, false);
            Append(d);
            decoderAdded = true;
        } else {
            Register(d, true, true);
            Append(d);
            if (s->HasRecordPage())
                s->AddDeviceToDefaultStrategy(d);
        }
        WriteLog(6, "CIPCClientDlg::AddSearchedDevices(): DevName=%s, ip=%s, DevType=%d", d.DevName, d.IPAddr,
                 d.DevType);
    }
    if (decoderAdded) {
        bool have = false;
        for (const DevGroupInfo& g : g_lstDevGroupInfo)
            have = have || std::strcmp(g.GroupName, kDecoderGroup) == 0;
        if (!have) {
            DevGroupInfo g{};
            Put(g.GroupName, kDecoderGroup);
            g.nType = 0;
            qelm::CsLock lock(g_csDevList);
            g_lstDevGroupInfo.push_back(g);
        }
    }
    SaveDevInfo();
    if (s->HasRecordPage())
        s->EnsureDefaultStrategy();
    s->ReloadDevTrees();
    s->TsNotifyUpdateDeviceList();
    return 0;
}
