// Device and group lists and Config/DevInfo.xml (see devinfo.h).
#include "core/devinfo.h"

#include "core/config_store.h"
#include "core/log.h"

#include <tinyxml.h>

#include <cstring>
#include <string>

std::list<DeviceInfo> g_lstDevInfo;
std::list<DevGroupInfo> g_lstDevGroupInfo;
int g_bAlarmAudio = 0;
DeviceInfo g_SelDevInfo{};
CRITICAL_SECTION g_csDevList;

const char kDevInfoTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
    "<DevInfo>\n"
    "\t<DevList />\n"
    "\t<GroupList>\n"
    "\t\t<Group>\n"
    "\t\t\t<GroupName nType=\"1\" >Default</GroupName>\n"
    "\t\t</Group>\n"
    "\t</GroupList>\n"
    "\t<AlarmAudio/>\n"
    "</DevInfo>";

namespace {

using namespace qelm::cfg;

// A saved field of DeviceInfo: an int, or a text array of `size` bytes.
struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size; // 0 for an int
};

#define DEV_TEXT(f) {#f, offsetof(DeviceInfo, f), sizeof(DeviceInfo::f)}
#define DEV_INT(f) {#f, offsetof(DeviceInfo, f), 0}

// In the order they are written.
const Field kFields[] = {
    DEV_INT(DevType),       DEV_TEXT(DevSN),        DEV_TEXT(DevId),       DEV_TEXT(DevName),
    DEV_TEXT(GroupName),    DEV_TEXT(LoginName),    DEV_TEXT(LoginPsw),    DEV_TEXT(MACAddr),
    DEV_TEXT(IPAddr),       DEV_TEXT(NetMask),      DEV_TEXT(GateWay),     DEV_TEXT(DNS1),
    DEV_TEXT(DNS2),         DEV_TEXT(ProtocolType), DEV_TEXT(Resolution),  DEV_TEXT(DefRes),
    DEV_TEXT(Status),       DEV_INT(VisitMod),      DEV_INT(Online),       DEV_INT(UseP2P),
    DEV_INT(DovraNvr),      DEV_TEXT(p2pSvr),       DEV_TEXT(p2pSvrList),  DEV_INT(Auth),
    DEV_INT(EnableDHCP),    DEV_INT(PtzPort),       DEV_INT(CfgPort),      DEV_INT(NVRChannels),
    DEV_INT(CurNVRChannel), DEV_INT(PtzAddr),       DEV_INT(RtpOverRtsp),  DEV_INT(nPltDev),
    DEV_TEXT(DevDomainName), DEV_INT(VideoPort),    DEV_INT(WebPort),      DEV_INT(CurStoragePath),
    DEV_INT(OnvifDev),      DEV_TEXT(OnvifSerAddr),
};

#undef DEV_TEXT
#undef DEV_INT

std::int32_t& IntAt(DeviceInfo& dev, const Field& f)
{
    return *reinterpret_cast<std::int32_t*>(reinterpret_cast<char*>(&dev) + f.offset);
}

std::int32_t IntAt(const DeviceInfo& dev, const Field& f)
{
    return *reinterpret_cast<const std::int32_t*>(reinterpret_cast<const char*>(&dev) + f.offset);
}

char* TextAt(DeviceInfo& dev, const Field& f)
{
    return reinterpret_cast<char*>(&dev) + f.offset;
}

const char* TextAt(const DeviceInfo& dev, const Field& f)
{
    return reinterpret_cast<const char*>(&dev) + f.offset;
}

const Field* FindField(const char* name)
{
    for (const Field& f : kFields) {
        if (std::strcmp(f.name, name) == 0)
            return &f;
    }
    return nullptr;
}

// "AlarmLink0".."AlarmLink8" -> 0..8, else -1.
int AlarmLinkIndex(const char* name)
{
    if (std::strncmp(name, "AlarmLink", 9) != 0)
        return -1;
    const char* d = name + 9;
    if (d[0] >= '0' && d[0] <= '8' && d[1] == '\0')
        return d[0] - '0';
    return -1;
}

void LoadAlarmLink(AlarmLinkInfo& link, const TiXmlElement* elem)
{
    for (const TiXmlElement* c = elem->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const char* name = c->Value();
        if (std::strcmp(name, "AlarmType") == 0)
            link.AlarmType = ParseDecimal(Text(c));
        else if (std::strcmp(name, "OnOff") == 0)
            link.OnOff = ParseDecimal(Text(c));
        else if (std::strcmp(name, "CauseType") == 0)
            link.CauseType = ParseDecimal(Text(c));
        else if (std::strcmp(name, "AlarmTime") == 0)
            link.AlarmTime = ParseDecimal(Text(c));
        else if (std::strcmp(name, "VoiceFilePath") == 0)
            CopyField(link.VoiceFilePath, sizeof link.VoiceFilePath, Text(c), "Dev/AlarmLink/VoiceFilePath");
    }
}

void LoadDev(DeviceInfo& dev, const TiXmlElement* elem)
{
    for (const TiXmlElement* c = elem->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const char* name = c->Value();
        if (const Field* f = FindField(name)) {
            if (f->size) {
                CopyField(TextAt(dev, *f), f->size, Text(c), f->name);
            } else {
                IntAt(dev, *f) = ParseDecimal(Text(c));
            }
        } else if (int i = AlarmLinkIndex(name); i >= 0) {
            LoadAlarmLink(dev.AlarmLink[i], c);
        }
    }
    // Applied on the final values, whatever order the elements came in:
    // only a plain device keeps its saved online state.
    dev.Online = dev.Online > 0 ? 1 : 0;
    if (dev.OnvifDev == 1)
        dev.Online = 0;
    if (dev.DevType == 4 && dev.CurNVRChannel > 0)
        dev.Online = 0;
}

void LogRefused(const char* tag, std::size_t total)
{
    WriteLog(3, "%s", RefusedRecords(ConfigFilePath("DevInfo.xml"), tag, total, kMaxRecords).c_str());
}

void SaveDev(TiXmlElement* list, const DeviceInfo& dev)
{
    TiXmlElement* elem = AppendElement(list, "Dev");
    for (const Field& f : kFields) {
        if (f.size)
            AppendText(elem, f.name, TextAt(dev, f));
        else
            AppendInt(elem, f.name, IntAt(dev, f));
    }
    for (int i = 0; i < 9; ++i) {
        const AlarmLinkInfo& link = dev.AlarmLink[i];
        std::string name = "AlarmLink" + std::to_string(i);
        TiXmlElement* le = AppendElement(elem, name.c_str());
        AppendInt(le, "AlarmType", link.AlarmType);
        AppendInt(le, "OnOff", link.OnOff);
        AppendInt(le, "CauseType", link.CauseType);
        AppendInt(le, "AlarmTime", link.AlarmTime);
        AppendText(le, "VoiceFilePath", link.VoiceFilePath);
    }
}

} // namespace

void LoadDevList(const TiXmlElement* list)
{
    // Built aside, then swapped in under the lock.
    std::list<DeviceInfo> devices;
    const TiXmlElement* e = list ? list->FirstChildElement("Dev") : nullptr;
    for (; e && devices.size() < kMaxRecords; e = e->NextSiblingElement("Dev"))
        LoadDev(devices.emplace_back(), e);
    if (e)
        LogRefused("Dev", devices.size() + CountElements(e, "Dev"));
    qelm::CsLock lock(g_csDevList);
    g_lstDevInfo.swap(devices);
}

void LoadDevGroupList(const TiXmlElement* list)
{
    std::list<DevGroupInfo> groups;
    const TiXmlElement* e = list ? list->FirstChildElement("Group") : nullptr;
    for (; e && groups.size() < kMaxRecords; e = e->NextSiblingElement("Group")) {
        DevGroupInfo& g = groups.emplace_back();
        for (const TiXmlElement* n = e->FirstChildElement("GroupName"); n; n = n->NextSiblingElement("GroupName")) {
            CopyField(g.GroupName, sizeof g.GroupName, Text(n), "Group/GroupName");
            if (const char* type = n->Attribute("nType"))
                g.nType = ParseDecimal(type);
        }
    }
    if (e)
        LogRefused("Group", groups.size() + CountElements(e, "Group"));
    qelm::CsLock lock(g_csDevList);
    g_lstDevGroupInfo.swap(groups);
}

int LoadDevInfo()
{
    WriteLog(6, "AppInit: Get device info...");
    const std::string path = ConfigFilePath("DevInfo.xml");
    TiXmlDocument doc;
    if (!LoadOrWriteTemplate(path, doc, kDevInfoTemplate))
        return -1;
    WriteLog(6, "AppInit: Get Device Info, load xml file OK, parse filed.");
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return -1;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* name = e->Value();
        if (std::strcmp(name, "DevList") == 0) {
            LoadDevList(e);
        } else if (std::strcmp(name, "GroupList") == 0) {
            LoadDevGroupList(e);
        } else if (std::strcmp(name, "AlarmAudio") == 0) {
            if (const char* v = e->Attribute("AudioInfo"))
                g_bAlarmAudio = ParseDecimal(v);
        }
    }
    qelm::CsLock lock(g_csDevList);
    bool hasDefault = false;
    for (const DevGroupInfo& g : g_lstDevGroupInfo)
        hasDefault = hasDefault || g.nType == 1;
    if (!hasDefault && !g_lstDevGroupInfo.empty())
        g_lstDevGroupInfo.front().nType = 1;
    return 0;
}

void SaveDevList(TiXmlElement* list)
{
    ClearChildren(list);
    qelm::CsLock lock(g_csDevList);
    for (const DeviceInfo& dev : g_lstDevInfo) {
        if (dev.DevType == 4 && dev.CurNVRChannel > dev.NVRChannels)
            continue; // a channel row beyond the recorder's channel count
        SaveDev(list, dev);
    }
}

void SaveDevGroupList(TiXmlElement* list)
{
    ClearChildren(list);
    qelm::CsLock lock(g_csDevList);
    for (const DevGroupInfo& g : g_lstDevGroupInfo) {
        TiXmlElement* group = AppendElement(list, "Group");
        SetAttr(AppendText(group, "GroupName", g.GroupName), "nType", g.nType);
    }
}

void SaveDevInfo()
{
    SaveWithRoot(ConfigFilePath("DevInfo.xml"), "SaveDevInfo", [](TiXmlElement* root) {
        qelm::CsLock lock(g_csDevList);
        for (TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
            const char* name = e->Value();
            if (std::strcmp(name, "DevList") == 0)
                SaveDevList(e);
            else if (std::strcmp(name, "GroupList") == 0)
                SaveDevGroupList(e);
            else if (std::strcmp(name, "AlarmAudio") == 0)
                SetAttr(e, "AudioInfo", g_bAlarmAudio);
        }
    });
}

bool FindDevice(const char* sn, int visitMod)
{
    const char* key = sn ? sn : "";
    qelm::CsLock lock(g_csDevList);
    for (const DeviceInfo& dev : g_lstDevInfo) {
        if (dev.VisitMod == visitMod && std::strcmp(dev.DevSN, key) == 0)
            return true;
    }
    return false;
}
