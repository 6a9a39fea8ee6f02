#include "mainwnd/cloud_login.h"

#include "core/cloud_client.h"
#include "core/config_store.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

#include <tinyxml.h>

#include <QString>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace cloudlogin {

namespace {

// The element's text; texts that are not UTF-8 came in the service's
// GB2312 and are converted.
std::string Text(const TiXmlElement* e)
{
    const char* t = e ? e->GetText() : nullptr;
    if (!t)
        return {};
    std::string s = t;
    if (qelm::IsValidUtf8(s))
        return s;
    if (auto u = qelm::Gb18030ToUtf8(s))
        return *u;
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdString();
}

bool Is(const TiXmlElement* e, const char* name)
{
    return std::strcmp(e->Value(), name) == 0;
}

// A device name: UTF-8, at most 256 UTF-16 units, malformed bytes replaced.
std::string DeviceName(const TiXmlElement* e)
{
    const char* t = e->GetText();
    if (!t)
        return {};
    QString name = QString::fromUtf8(t);
    if (name.size() > 256) {
        qsizetype n = 256;
        if (name[n - 1].isHighSurrogate())
            --n;
        name.truncate(n);
    }
    return name.toStdString();
}

template <std::size_t N> void Put(char (&field)[N], const std::string& text)
{
    qelm::CopyBounded(field, N, text);
}

int Decimal(const TiXmlElement* e)
{
    return qelm::cfg::ParseDecimal(Text(e));
}

struct LanInfo {
    std::string ip;
    bool hasWeb = false, hasPtz = false, hasVideo = false;
    int web = 0, ptz = 0, video = 0;
};

// devreginfo: an XML document of its own whose root holds <network>.
LanInfo ParseRegInfo(const std::string& text)
{
    LanInfo lan;
    if (text.empty() || !qelm::XmlNestingWithin(text))
        return lan;
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* network = root ? root->FirstChildElement("network") : nullptr;
    if (!network)
        return lan;
    for (const TiXmlElement* e = network->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, "ip")) {
            lan.ip = Text(e);
        } else if (Is(e, "web")) {
            lan.hasWeb = true;
            lan.web = Decimal(e);
        } else if (Is(e, "ptz")) {
            lan.hasPtz = true;
            lan.ptz = Decimal(e);
        } else if (Is(e, "video")) {
            lan.hasVideo = true;
            lan.video = Decimal(e);
        }
    }
    return lan;
}

class ReplyParser {
public:
    ReplyParser(const std::string& domain, bool digestPass, Reply& out)
        : m_domain(domain), m_digestPass(digestPass), m_out(out)
    {
    }

    void Device(const TiXmlElement* ls)
    {
        auto rec = std::make_unique<DeviceInfo>();
        std::memset(rec.get(), 0, sizeof(DeviceInfo));
        DeviceInfo& d = *rec;
        std::string channelStates;
        LanInfo lan;
        for (const TiXmlElement* e = ls->FirstChildElement(); e; e = e->NextSiblingElement()) {
            if (Is(e, "DevID")) {
                Put(d.DevId, Text(e));
            } else if (Is(e, "devsn")) {
                Put(d.DevSN, Text(e));
            } else if (Is(e, "devname")) {
                Put(d.DevName, DeviceName(e));
                if (!d.DevName[0])
                    std::memcpy(d.DevName, d.DevId, sizeof d.DevName);
            } else if (Is(e, "devtype")) {
                d.DevType = DevTypeOfCode(Decimal(e), &d.V4Device);
            } else if (Is(e, "devip")) {
                Put(d.IPAddr, Text(e));
            } else if (Is(e, "devwebport")) {
                d.WebPort = Decimal(e);
            } else if (Is(e, "devptzport")) {
                d.PtzPort = Decimal(e);
            } else if (Is(e, "devvideoport")) {
                d.VideoPort = Decimal(e);
            } else if (Is(e, "devisonline")) {
                d.Online = Decimal(e) > 0 ? 1 : 0;
            } else if (Is(e, "devloginuser")) {
                Put(d.LoginName, Text(e));
            } else if (Is(e, "devloginpass")) {
                const std::string pass = Text(e);
                if (m_digestPass) {
                    char digest[33];
                    Md5HexUpper(pass.c_str(), digest);
                    Put(d.LoginPsw, digest);
                } else {
                    Put(d.LoginPsw, pass);
                }
            } else if (Is(e, "devchannelcount")) {
                int n = Decimal(e);
                if (n < 0)
                    n = 0;
                if (n > kMaxNvrChannels) {
                    WriteLog(3, "CLoginDlg: device %s reports %d channels, %d used", d.DevId, n, kMaxNvrChannels);
                    n = kMaxNvrChannels;
                }
                d.NVRChannels = n;
            } else if (Is(e, "devchannelstate")) {
                channelStates = Text(e).substr(0, kMaxChannelStates);
            } else if (Is(e, "devreginfo")) {
                lan = ParseRegInfo(Text(e));
            } else if (Is(e, "p2pserver")) {
                m_out.p2pserver = Text(e);
            }
        }
        if (!d.IPAddr[0])
            return;
        if (m_out.ip == d.IPAddr) {
            // Same network as this client: the device's own LAN address and ports.
            if (!lan.ip.empty())
                Put(d.IPAddr, lan.ip);
            if (lan.hasPtz)
                d.PtzPort = lan.ptz;
            if (lan.hasWeb)
                d.WebPort = lan.web;
            if (lan.hasVideo)
                d.VideoPort = lan.video;
        }
        d.nPltDev = 1;
        if (d.DevType == 4) {
            d.CfgPort = d.PtzPort;
            d.PtzPort = d.VideoPort;
            if (d.VideoPort > std::numeric_limits<std::int32_t>::min())
                d.VideoPort = d.VideoPort - 1;
            d.RtpOverRtsp = 2;
        } else {
            d.RtpOverRtsp = 1;
        }
        Put(d.Resolution, "cif");
        Put(d.DefRes, "cif");
        if (!d.DevName[0])
            std::memcpy(d.DevName, d.DevId, sizeof d.DevName);
        Put(d.GroupName, "Default");
        d.UseP2P = 1;
        d.VisitMod = 3;
        Put(d.p2pSvr, m_out.p2pserver);
        Put(d.p2pSvrList, m_out.relaysvrlist);
        Put(d.DevDomainName, std::string(d.DevId) + "." + m_domain);
        if (!Room(1))
            return;
        m_out.devices.push_back(d);
        if (d.DevType != 4)
            return;
        if (d.Online == 0)
            channelStates.clear();
        for (int i = 1; i <= d.NVRChannels; ++i) {
            if (!Room(1))
                return;
            m_out.devices.push_back(d);
            DeviceInfo& ch = m_out.devices.back();
            std::snprintf(ch.DevName, sizeof ch.DevName, "Channel-%d", i);
            ch.CurNVRChannel = i;
            const std::size_t at = static_cast<std::size_t>(i - 1);
            const char c = at < channelStates.size() ? channelStates[at] : '0';
            ch.Online = c >= '0' && c <= '9' ? c - '0' : 0;
        }
    }

private:
    bool Room(std::size_t n)
    {
        if (m_out.devices.size() + n <= qelm::cfg::kMaxRecords)
            return true;
        if (!m_out.truncated)
            WriteLog(3, "CLoginDlg: the cloud reply holds more than %zu device records, the rest are dropped",
                     qelm::cfg::kMaxRecords);
        m_out.truncated = true;
        return false;
    }

    const std::string& m_domain;
    bool m_digestPass;
    Reply& m_out;
};

} // namespace

int DevTypeOfCode(int code, int* secondNvr)
{
    if (secondNvr)
        *secondNvr = code == 201 ? 1 : 0;
    switch (code) {
    case 100: return 1;
    case 200:
    case 201:
    case 400: return 4;
    default: return 0; // 300 and any other
    }
}

// Parsed byte by byte: the texts stay UTF-8 as sent, and a cut-off multi-byte
// sequence cannot lead the parser past the end of the text.
void ParseReply(const char* body, const std::string& devDomain, bool digestDevPass, Reply& out)
{
    out = Reply{};
    if (!body || !qelm::XmlNestingWithin(body))
        return;
    TiXmlDocument doc;
    doc.Parse(body, nullptr, TIXML_ENCODING_LEGACY);
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return;
    ReplyParser parser(devDomain, digestDevPass, out);
    bool errRead = false;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, "err")) {
            out.err = Decimal(e);
            errRead = true;
        } else if (Is(e, "msg")) {
            out.msg = Text(e);
        } else if (Is(e, "ip")) {
            out.ip = Text(e);
        } else if (Is(e, "p2pserver")) {
            out.p2pserver = Text(e);
        } else if (Is(e, "relaysvrlist")) {
            out.relaysvrlist = Text(e);
        } else if (Is(e, "ls")) {
            parser.Device(e);
        }
        if (errRead && out.err != 0)
            break;
    }
}

Outcome LoginAndImport(const std::string& host, int port, const std::string& name, const std::string& digest)
{
    Outcome outcome;
    std::vector<char> body(static_cast<std::size_t>(kCloudRecvSize));
    int size = static_cast<int>(body.size());
    outcome.code = CloudLogin(host.c_str(), port, name.c_str(), digest.c_str(), body.data(), &size);
    if (outcome.code != 0) {
        WriteLog(3, "CLoginDlg: cloud login to %s failed, code=%d", host.c_str(), outcome.code);
        return outcome;
    }
    CloudPostPhonePv();
    Reply reply;
    ParseReply(body.data(), host, g_szVendorNumber[0] != '\0', reply);
    outcome.err = reply.err;
    if (reply.err != 0) {
        WriteLog(3, "CLoginDlg: cloud login refused, err=%d", reply.err);
        return outcome; // the local devices and plans stay
    }
    // No worker runs yet; the plans are emptied under the lock as their
    // scheduler expects, and read again so they refer to the new records.
    g_lstDevInfo.swap(reply.devices);
    {
        qelm::CsLock lock(g_csDevList);
        for (RecScheme* plan : g_lstRecSchemeInfo)
            delete plan;
        g_lstRecSchemeInfo.clear();
    }
    LoadRecInfo();
    WriteLog(6, "CLoginDlg: cloud login of %s, %zu device records", name.c_str(), g_lstDevInfo.size());
    return outcome;
}

} // namespace cloudlogin
