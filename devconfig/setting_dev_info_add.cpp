// Adding devices: local rows, parent relay servers and VssInfo.xml, cloud
// devices from the service's description, ONVIF cameras and their
// service-address query.
#include "devconfig/dev_form_checks.h"
#include "devconfig/devcfg_pages.h"
#include "devconfig/setting_dev_info_dlg.h"

#include "core/cloud_client.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_access.h"
#include "devices/device_services.h"
#include "mainwnd/cloud_login.h"
#include "mainwnd/login_globals.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/msgbox.h"
#include "platform/netguard.h"
#include "platform/text.h"
#include "res/strings.h"

#include <QLineEdit>

#include <arpa/inet.h>
#include <netdb.h>
#include <tinyxml.h>

#include <cstdlib>
#include <cstring>

namespace {

std::string Trim(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    const std::size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

bool HasHash(const std::string& s)
{
    return s.find('#') != std::string::npos;
}

std::string Digest(const std::string& text)
{
    char md5[33];
    Md5HexUpper(text.c_str(), md5);
    return md5;
}

bool IsDotted(const std::string& s)
{
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// The first IPv4 address of a host name, "" when it does not resolve.
std::string Resolve(const std::string& host)
{
    if (IsDotted(host))
        return host;
    // In loopback mode no name but "localhost" is looked up.
    if (!qelm::NetAllowedHost(host.c_str(), "CSettingDevInfoDlg::OnBnClickedBtnDevAdd()"))
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&sin->sin_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    freeaddrinfo(res);
    return text;
}

void GiveSinks(DeviceInfo& d, bool onvifProfile)
{
    d.pAuxPtzCtrl = g_pAuxPtzCtrl;
    d.pAuxPTZEvents = g_pAuxPTZEvents;
    d.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    d.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
    if (onvifProfile) {
        d.pRtspEvent1->SetUseProfileSize(1);
        d.pRtspEvent2->SetUseProfileSize(1);
    }
}

} // namespace

std::string CSettingDevInfoDlg::CloudServiceDomain()
{
    if (const char* env = std::getenv("QELM2_CLOUD_DOMAIN"); env && *env)
        return env;
    return g_szCloudServer;
}

CSettingDevInfoDlg::FormValues CSettingDevInfoDlg::ReadForm() const
{
    FormValues f;
    f.group = ComboText(IDC_COMBO_GROUP);
    f.name = Text(IDC_EDIT_DEVNAME);
    f.addr = Text(IDC_EDIT_ADDR);
    f.videoPort = Text(IDC_EDIT_VIDEOPORT);
    f.ptzPort = Text(IDC_EDIT_PTZPORT);
    f.ptzAddr = Text(IDC_EDIT_PTZADDR);
    f.login = Text(IDC_EDIT_LOGIN);
    f.psw = Text(IDC_EDIT_PSW);
    f.type = ComboIndex(IDC_COMBO_DEVTYPE);
    f.visitMod = ComboIndex(IDC_COMBO_VISITMOD);
    f.protocol = ComboIndex(IDC_COMBO_PROTOCOL);
    f.stream = ComboIndex(IDC_COMBO_STREAM);
    return f;
}

bool CSettingDevInfoDlg::CheckAddressAndPorts(const FormValues& f, bool decoder)
{
    // The field holds an IP address or a host name; an ONVIF camera is
    // matched by its IP, and in NAT mode the field is the serial number.
    const bool dotted = f.addr.find_first_not_of("0123456789.") == std::string::npos;
    if (m_nDevSource == kDevSourceOnvif) {
        if (!devform::IsIPv4Address(f.addr)) {
            RefuseField(IDC_EDIT_ADDR, IDC_STATIC_ADDR, 1571);
            return false;
        }
    } else if (f.type == 3 || f.visitMod != 2) {
        if (!devform::IsIPv4Address(f.addr) && !devform::IsHostName(f.addr)) {
            // Only digits and dots: meant as an address, so say how one looks.
            RefuseField(IDC_EDIT_ADDR, IDC_STATIC_ADDR, dotted && f.type != 3 ? 1571 : 1572);
            return false;
        }
    }
    if (m_nDevSource == kDevSourceOnvif)
        return true; // no port fields
    // A decoder has no video port; a parent relay server no PTZ port.
    if ((!decoder || !f.videoPort.empty()) && !devform::IsPortNumber(f.videoPort)) {
        RefuseField(IDC_EDIT_VIDEOPORT, IDC_STATIC_VIDEOPORT, 1573);
        return false;
    }
    if (f.type != 3 && (!decoder || !f.ptzPort.empty()) && !devform::IsPortNumber(f.ptzPort)) {
        RefuseField(IDC_EDIT_PTZPORT, IDC_STATIC_PTZPORT, 1573);
        return false;
    }
    return true;
}

void CSettingDevInfoDlg::RefuseField(UINT field, UINT label, unsigned stringId)
{
    // The label as shown, without its colon (full-width in Chinese).
    std::string name = Trim(Text(label));
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    else if (name.size() >= 3 && name.compare(name.size() - 3, 3, "\xEF\xBC\x9A") == 0)
        name.resize(name.size() - 3);
    std::string text = LoadResString(stringId);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, name);
    ShowText(text);
    if (QWidget* w = GetDlgItem(field))
        w->setFocus();
}

// The fields every local row takes from the form. pswIsStored: the password
// field still shows the stored value, which is kept as it is.
void CSettingDevInfoDlg::FillRowFromForm(DeviceInfo& d, const FormValues& f, bool pswIsStored) const
{
    qelm::CopyBounded(d.DevId, sizeof d.DevId, f.name);
    qelm::CopyBounded(d.DevName, sizeof d.DevName, f.name);
    qelm::CopyBounded(d.GroupName, sizeof d.GroupName, f.group);
    qelm::CopyBounded(d.IPAddr, sizeof d.IPAddr, f.addr);
    if (f.visitMod == 2)
        qelm::CopyBounded(d.DevSN, sizeof d.DevSN, f.addr);
    qelm::CopyBounded(d.LoginName, sizeof d.LoginName, f.login);
    if (pswIsStored || !g_szVendorNumber[0])
        qelm::CopyBounded(d.LoginPsw, sizeof d.LoginPsw, f.psw);
    else
        qelm::CopyBounded(d.LoginPsw, sizeof d.LoginPsw, Digest(f.psw));
    d.VideoPort = std::atoi(f.videoPort.c_str());
    d.PtzPort = std::atoi(f.ptzPort.c_str());
    d.PtzAddr = std::atoi(f.ptzAddr.c_str());
    d.RtpOverRtsp = f.protocol;
    d.VisitMod = f.visitMod;
    d.DevType = f.type == 5 ? 4 : f.type;
    d.DovraNvr = f.type == 5 ? 1 : 0;
    const char* res = f.stream == 0 ? "cif" : "";
    qelm::CopyBounded(d.Resolution, sizeof d.Resolution, res);
    qelm::CopyBounded(d.DefRes, sizeof d.DefRes, res);
    if (d.DevType == 4)
        d.CfgPort = d.PtzPort;
}

void CSettingDevInfoDlg::RegisterRow(DeviceInfo& d, const char* caller, bool timeSync)
{
    GiveSinks(d, false);
    if (g_pAuxPtzCtrl)
        d.AuxPtzId = d.VisitMod == 2 ? g_pAuxPtzCtrl->AddDeviceEx(d.IPAddr, static_cast<uint16_t>(d.PtzPort),
                                                                    d.LoginName, d.LoginPsw)
                                     : g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
    GiveDeviceControlStream(g_pAuxPtzCtrl, d);
    if (timeSync && g_pAuxPtzCtrl) {
        const DispInfoSetting& cfg = g_DispInfoSetting;
        g_pAuxPtzCtrl->SetTimeSync(d.AuxPtzId, cfg.SyncTimeEnable, cfg.SyncTimeDiff, cfg.SyncTimeInterval);
    }
    // The password stays out of the log.
    WriteLog(6, "%s:Add a device channel, AuxPtzId=%ld, ip=%s, port=%d, name=%s", caller,
             static_cast<long>(d.AuxPtzId), d.IPAddr, d.PtzPort, d.LoginName);
}

void CSettingDevInfoDlg::OfferToDefaultPlan(const DeviceInfo& d)
{
    IDevCfgPages* pages = DevCfgPages();
    if (pages->HasRecordPage() && pages->DefaultSchemeCreated())
        pages->AddDeviceToDefaultStrategy(d);
}

void CSettingDevInfoDlg::EnsureDefaultPlan()
{
    IDevCfgPages* pages = DevCfgPages();
    if (pages->HasRecordPage())
        pages->EnsureDefaultStrategy();
}

void CSettingDevInfoDlg::OnBnClickedBtnDevAdd()
{
    if (m_nDevSource == kDevSourceOnvif) {
        AddOnvifDevice();
        return;
    }
    if (m_nDevSource == kDevSourceP2P) {
        if (AddCloudDevice(0) == 0)
            CloudPostPhonePv();
        return;
    }
    const FormValues f = ReadForm();
    // A login or password longer than its record field would be cut and
    // then refused by the device.
    const bool tooLong = f.login.size() >= sizeof(DeviceInfo::LoginName) ||
                         (!g_szVendorNumber[0] && f.psw.size() >= sizeof(DeviceInfo::LoginPsw));
    if (f.group.empty() || f.name.empty() || f.addr.empty() || f.login.empty() || f.addr.size() >= 260 || tooLong)
        return ShowMsg(607);
    if (f.type != 2 && f.type != 3 && (f.videoPort.empty() || f.ptzPort.empty()))
        return ShowMsg(607);
    if (HasHash(f.name) || HasHash(f.addr) || HasHash(f.login))
        return ShowMsg(630);
    if (!CheckAddressAndPorts(f, f.type == 2))
        return;
    {
        const int vp = std::atoi(f.videoPort.c_str());
        const int pp = std::atoi(f.ptzPort.c_str());
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (f.name == d.DevName || (f.addr == d.IPAddr && d.VideoPort == vp && d.PtzPort == pp))
                return ShowMsg(608);
    }
    if (f.type == 3) {
        AddRelayServer(f);
        return;
    }

    DeviceInfo d{};
    FillRowFromForm(d, f, false);
    const char* caller = "CSettingDevInfoDlg::OnBnClickedBtnDevAdd()";
    std::list<DeviceInfo> rows;
    if (d.DevType == 0) {
        static const char* const kRes[5] = {"10", "20", "30", "40", "cif"};
        for (int k = 1; k <= 5; ++k) {
            DeviceInfo row = d;
            qelm::CopyBounded(row.DevName, sizeof row.DevName, std::string(d.DevId) + "-" + LoadResString(587 + k));
            qelm::CopyBounded(row.Resolution, sizeof row.Resolution, kRes[k - 1]);
            row.DefRes[0] = 0;
            RegisterRow(row, caller, false);
            rows.push_back(row);
        }
    } else if (d.DevType == 2) {
        d.pAuxPtzCtrl = g_pAuxPtzCtrl;
        d.pAuxPTZEvents = g_pAuxPTZEvents;
        if (g_pAuxPtzCtrl)
            d.AuxPtzId = g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
        WriteLog(6, "%s:Add a device channel, DevName=%s, AuxPtzId=%ld, ip=%s, port=%d, name=%s", caller, d.DevName,
                 static_cast<long>(d.AuxPtzId), d.IPAddr, d.PtzPort, d.LoginName);
        rows.push_back(d);
    } else {
        RegisterRow(d, caller, true);
        rows.push_back(d);
    }
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& row : rows)
            g_lstDevInfo.push_back(row);
    }
    if (d.DevType != 2)
        for (const DeviceInfo& row : rows)
            OfferToDefaultPlan(row);
    SaveDevInfo();
    EnsureDefaultPlan();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(609);
    DeviceServices()->TsNotifyUpdateDeviceList();
}

void CSettingDevInfoDlg::AddRelayServer(const FormValues& f)
{
    const std::string digest = Digest(f.psw);
    const int port = std::atoi(f.videoPort.c_str());
    for (const Qelm2Node& s : g_lstRelayServer)
        if ((f.addr == s.IPAddr && s.nPort == port) || f.name == s.DevName)
            return ShowMsg(608);
    const std::string resolved = Resolve(f.addr);
    if (resolved.empty())
        return ShowMsg(1066);
    const int login = TS_Login(resolved.c_str(), port, f.login.c_str(), digest.c_str());
    if (login == 0)
        return ShowMsg(1066);
    if (TS_InviteDeviceList(login) != 1) {
        // A server that will not send its list must not stay logged in unseen.
        TS_LoginOut(login);
        return ShowMsg(1066);
    }
    Qelm2Node node;
    node.LoginId = login;
    qelm::CopyBounded(node.DevName, 256, f.name);
    qelm::CopyBounded(node.IPAddr, 256, f.addr);
    node.nPort = port;
    qelm::CopyBounded(node.LoginName, 260, f.login);
    qelm::CopyBounded(node.Password, sizeof node.Password, digest);
    g_lstRelayServer.push_back(node);
    SaveVssInfo();
}

int CSettingDevInfoDlg::SaveVssInfo()
{
    qelm::cfg::SaveWithRoot(ConfigFilePath("VssInfo.xml"), "CSettingDevInfoDlg::SaveVssInfo()",
                            [](TiXmlElement* root) {
                                root->Clear();
                                for (const Qelm2Node& s : g_lstRelayServer) {
                                    TiXmlElement e("Qelm2Node");
                                    e.SetAttribute("DevName", qelm::cfg::ToFileText(s.DevName));
                                    e.SetAttribute("IPAddr", qelm::cfg::ToFileText(s.IPAddr));
                                    e.SetAttribute("LoginName", qelm::cfg::ToFileText(s.LoginName));
                                    e.SetAttribute("Password", s.Password);
                                    e.SetAttribute("nPort", s.nPort);
                                    root->InsertEndChild(e);
                                }
                            });
    return 0;
}

// --- cloud devices ------------------------------------------------------------

int CSettingDevInfoDlg::AddCloudDevice(int reAdd)
{
    const std::string group = ComboText(IDC_COMBO_GROUP);
    std::string domain = Text(IDC_EDIT_ADDR);
    const std::string login = Trim(Text(IDC_EDIT_LOGIN));
    const std::string psw = Trim(Text(IDC_EDIT_PSW));
    if (group.empty())
        return -1;
    if (domain.empty()) {
        GetDlgItem(IDC_EDIT_ADDR)->setFocus();
        return -2;
    }
    if (login.empty()) {
        GetDlgItem(IDC_EDIT_LOGIN)->setFocus();
        return -3;
    }
    if (psw.empty()) {
        GetDlgItem(IDC_EDIT_PSW)->setFocus();
        return -4;
    }
    if (domain.find('.') == std::string::npos)
        domain += "." + CloudServiceDomain();
    const std::size_t dot = domain.find('.');
    if (dot == 0) {
        GetDlgItem(IDC_EDIT_ADDR)->setFocus();
        return -4;
    }
    const std::string devId = domain.substr(0, dot);
    const std::string host = domain.substr(dot + 1);
    if (host.empty()) {
        GetDlgItem(IDC_EDIT_ADDR)->setFocus();
        return -5;
    }
    const std::string title = LoadResString(1476);
    {
        bool present = false;
        {
            qelm::CsLock lock(g_csDevList);
            for (const DeviceInfo& d : g_lstDevInfo)
                if (devId == d.DevId && !(reAdd && d.nPltDev != 0))
                    present = true;
        }
        if (present) {
            MessageBoxA(qelm::HandleOf(this), title.c_str(), g_strTitle.c_str(), MB_OK);
            return -6;
        }
    }
    std::vector<char> body(static_cast<std::size_t>(kCloudRecvSize));
    int size = static_cast<int>(body.size());
    if (CloudGetDevInfo(host.c_str(), m_nCloudPort, devId.c_str(), login.c_str(), psw.c_str(), body.data(), &size) !=
        0) {
        ShowMsg(1444);
        return -7;
    }
    cloudlogin::Reply reply;
    cloudlogin::ParseReply(body.data(), host, false, reply);
    body.clear();
    if (reply.err != 0) {
        // Nothing of a refused reply is kept: all rows or none.
        if (reply.err == -8378952)
            ShowText(LoadResString(1444) + "," + LoadResString(1505) + "!");
        else
            ShowMsg(1444);
        return -7;
    }
    for (const DeviceInfo& d : reply.devices)
        if (d.CurNVRChannel == 0 && d.DevSN[0] && FindDevice(d.DevSN, 3) && !reAdd) {
            const std::string text = LoadResString(608);
            MessageBoxA(qelm::HandleOf(this), text.c_str(), g_strTitle.c_str(), MB_OK);
            return -6;
        }
    if (reply.devices.empty())
        return -7;
    // A change replaces the old rows only now that the service answered.
    if (reAdd)
        DeleteCloudDevice(devId.c_str(), 0);
    std::vector<DeviceInfo> parents;
    {
        qelm::CsLock lock(g_csDevList);
        for (DeviceInfo d : reply.devices) {
            qelm::CopyBounded(d.LoginName, sizeof d.LoginName, login);
            qelm::CopyBounded(d.LoginPsw, sizeof d.LoginPsw, psw);
            qelm::CopyBounded(d.GroupName, sizeof d.GroupName, group);
            qelm::CopyBounded(d.DevDomainName, 256, domain);
            d.pAuxPtzCtrl = g_pAuxPtzCtrl;
            d.pAuxPTZEvents = g_pAuxPTZEvents;
            d.AuxPtzId = 0;
            if (d.CurNVRChannel == 0) {
                d.Online = 0;
                GiveSinks(d, false);
                std::string url;
                if (d.DevType == 1)
                    url = std::string("p2p://") + d.DevId + "@" + d.p2pSvr + "/mpeg4cif#" + d.p2pSvrList +
                          "\r\nonlylogin=true";
                else if (d.DevType == 4)
                    url = std::string("p2p://") + d.DevId + "@" + d.p2pSvr + "/mpeg4cif#" + d.p2pSvrList +
                          "-0\r\nonlylogin=true";
                if (!url.empty() && g_pRtspPullCtrl)
                    d.P2pLoginId = g_pRtspPullCtrl->AddStream(url.c_str(), d.LoginName, d.LoginPsw, d.RtpOverRtsp);
                WriteLog(6,
                         "CSettingDevInfoDlg::OnBnClickedBtnIpcAdd():Add a device channel, DevName=%s, AuxPtzId=%ld, "
                         "ip=%s, port=%d, name=%s",
                         d.DevName, static_cast<long>(d.AuxPtzId), d.IPAddr, d.PtzPort, d.LoginName);
                g_lstDevInfo.push_back(d);
                parents.push_back(d);
            } else {
                d.P2pLoginId = 0;
                GiveSinks(d, false);
                g_lstDevInfo.push_back(d);
            }
        }
    }
    for (const DeviceInfo& d : parents)
        OfferToDefaultPlan(d);
    SaveDevInfo();
    EnsureDefaultPlan();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(reAdd == 1 ? 614 : 609);
    return 0;
}

void CSettingDevInfoDlg::DeleteCloudDevice(const char* devId, int report)
{
    if (!devId)
        return;
    bool removed = false;
    std::vector<RemovedDevice> gone;
    {
        qelm::CsLock lock(g_csDevList);
        bool again = true;
        while (again) {
            again = false;
            for (auto it = g_lstDevInfo.begin(); it != g_lstDevInfo.end(); ++it) {
                if (std::strcmp(it->DevId, devId) != 0 || it->nPltDev == 0)
                    continue;
                again = it->DevType == 0 || it->DevType == 4;
                RemoveDeviceRecord(it, &gone, "CSettingDevInfoDlg::DeleteCloudDevice()");
                removed = true;
                break;
            }
        }
    }
    ReportRemovedDevices(gone);
    if (removed)
        DeviceServices()->ReloadDevTrees();
    if (report == 0)
        return;
    if (removed) {
        SaveDevInfo();
        ShowMsg(610);
    } else {
        ShowMsg(611);
    }
}

// --- ONVIF cameras --------------------------------------------------------------

int CSettingDevInfoDlg::AddOnvifDevice()
{
    const std::string group = ComboText(IDC_COMBO_GROUP);
    const std::string name = Text(IDC_EDIT_DEVNAME);
    const std::string addr = Text(IDC_EDIT_ADDR);
    const std::string login = Text(IDC_EDIT_LOGIN);
    const std::string psw = Text(IDC_EDIT_PSW);
    if (group.empty() || name.empty() || addr.empty() || login.empty() ||
        login.size() >= sizeof(DeviceInfo::LoginName) || psw.size() >= sizeof(DeviceInfo::LoginPsw)) {
        ShowMsg(613);
        return -1;
    }
    if (!devform::IsIPv4Address(addr)) {
        RefuseField(IDC_EDIT_ADDR, IDC_STATIC_ADDR, 1571);
        return -1;
    }
    DeviceInfo d{};
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& r : g_lstDevInfo)
            if (name == r.DevName || addr == r.IPAddr) {
                ShowMsg(608);
                return -2;
            }
        qelm::CopyBounded(d.DevName, sizeof d.DevName, name);
        qelm::CopyBounded(d.DevId, sizeof d.DevId, addr);
        qelm::CopyBounded(d.IPAddr, sizeof d.IPAddr, addr);
        qelm::CopyBounded(d.GroupName, sizeof d.GroupName, group);
        qelm::CopyBounded(d.LoginName, sizeof d.LoginName, login);
        qelm::CopyBounded(d.LoginPsw, sizeof d.LoginPsw, psw);
        d.DevType = 1;
        d.OnvifDev = 1;
        const int32_t one = 1;
        std::memcpy(d.SearchRecord + 160, &one, sizeof one);
        const std::size_t rows = g_lstDevInfo.size() + 1;
        d.PtzAddr = rows > 255 ? 0 : static_cast<int32_t>(rows);
        d.RtpOverRtsp = 1;
        qelm::CopyBounded(d.Resolution, sizeof d.Resolution, "cif");
        qelm::CopyBounded(d.DefRes, sizeof d.DefRes, "cif");
        GiveSinks(d, true);
        g_lstDevInfo.push_back(d);
    }
    SaveDevInfo();
    DeviceServices()->ReloadDevTrees();
    ShowMsg(609);
    QueryOnvifServiceAddr(&d);
    return 0;
}

int CSettingDevInfoDlg::QueryOnvifServiceAddr(const DeviceInfo* dev)
{
    if (!dev)
        return -1;
    auto copy = std::make_shared<DeviceInfo>(*dev);
    m_onvifQueries.emplace_back([copy] {
        char out[256] = {};
        if (OVF_GetAddrByIP(copy->IPAddr, out) != 0 || !out[0])
            return;
        qelm::CopyBounded(copy->OnvifSerAddr, sizeof copy->OnvifSerAddr, out);
        {
            qelm::CsLock lock(g_csDevList);
            for (DeviceInfo& d : g_lstDevInfo)
                if (d.OnvifDev == 1 && std::strcmp(d.IPAddr, copy->IPAddr) == 0)
                    qelm::CopyBounded(d.OnvifSerAddr, sizeof d.OnvifSerAddr, out);
        }
        DeviceServices()->AddOnvifEntry(copy.get());
    });
    return 0;
}

void CSettingDevInfoDlg::JoinOnvifQueries()
{
    for (std::thread& t : m_onvifQueries)
        if (t.joinable())
            t.join();
    m_onvifQueries.clear();
}
