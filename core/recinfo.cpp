// Recording plans and Config/RecInfo.xml (see recinfo.h).
#include "core/recinfo.h"

#include "core/config_store.h"
#include "core/log.h"
#include "platform/text.h"

#include <tinyxml.h>

#include <cctype>
#include <cstdio>
#include <cstring>

std::list<RecScheme*> g_lstRecSchemeInfo;

const char kRecInfoTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
    "<RecInfo />";

RecScheme::RecScheme()
    : SchemeName{}, StoragePath1{}, StoragePath2{}, StoragePath3{}, SaveDate(0), StorageScheme(0), OnOff(0),
      PreRecTime(0), RecFileTime(0), RecAudio(0), RecStreamType(0), StartType(0), DetRecTime(0), ReccordType(0)
{
}

namespace {

using namespace qelm::cfg;

bool Is(const TiXmlElement* e, const char* name)
{
    return std::strcmp(e->Value(), name) == 0;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads 1 or 2 digits at text[i]; -1 when there are none.
int TwoDigits(const std::string& text, std::size_t& i)
{
    if (i >= text.size() || !IsDigit(text[i]))
        return -1;
    int v = text[i++] - '0';
    if (i < text.size() && IsDigit(text[i]))
        v = v * 10 + (text[i++] - '0');
    return v;
}

bool HasWord(const std::string& lower, const char* word)
{
    for (std::size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1)) {
        std::size_t end = at + std::strlen(word);
        bool startOk = at == 0 || !std::isalpha(static_cast<unsigned char>(lower[at - 1]));
        bool endOk = end == lower.size() || !std::isalpha(static_cast<unsigned char>(lower[end]));
        if (startOk && endOk)
            return true;
    }
    return false;
}

// Finds the plan's member: by name and id, or by name alone among records
// that are not NVR rows.
DeviceInfo* FindMember(const std::string& name, const std::string& id, bool hasId)
{
    // Compared as the device file stores the texts, cut to the same width.
    char key[sizeof DeviceInfo::DevName];
    qelm::CopyBounded(key, sizeof key, name);
    char keyId[sizeof DeviceInfo::DevId];
    qelm::CopyBounded(keyId, sizeof keyId, id);
    for (DeviceInfo& dev : g_lstDevInfo) {
        if (std::strcmp(dev.DevName, key) != 0)
            continue;
        if (hasId ? std::strcmp(dev.DevId, keyId) == 0 : dev.DevType != 4)
            return &dev;
    }
    return nullptr;
}

// Nested records over the whole file: how many were taken, how many there were.
struct NestedCount {
    std::size_t members = 0, membersSeen = 0;
    std::size_t segments = 0, segmentsSeen = 0;
};

void LoadScheme(RecScheme& plan, const TiXmlElement* elem, NestedCount& n)
{
    for (const TiXmlElement* e = elem->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (Is(e, "SchemeName"))
            CopyField(plan.SchemeName, sizeof plan.SchemeName, Text(e), "SchemeName");
        else if (Is(e, "StoragePath1"))
            CopyField(plan.StoragePath1, sizeof plan.StoragePath1, Text(e), "StoragePath1");
        else if (Is(e, "StoragePath2"))
            CopyField(plan.StoragePath2, sizeof plan.StoragePath2, Text(e), "StoragePath2");
        else if (Is(e, "StoragePath3"))
            CopyField(plan.StoragePath3, sizeof plan.StoragePath3, Text(e), "StoragePath3");
        else if (Is(e, "SaveDate"))
            plan.SaveDate = ParseDecimal(Text(e));
        else if (Is(e, "StorageScheme"))
            plan.StorageScheme = ParseDecimal(Text(e));
        else if (Is(e, "OnOff"))
            plan.OnOff = ParseDecimal(Text(e));
        else if (Is(e, "PreRecTime"))
            plan.PreRecTime = ParseDecimal(Text(e));
        else if (Is(e, "RecFileTime"))
            plan.RecFileTime = ParseDecimal(Text(e));
        else if (Is(e, "RecAudio"))
            plan.RecAudio = ParseDecimal(Text(e));
        else if (Is(e, "RecStreamType"))
            plan.RecStreamType = ParseDecimal(Text(e));
        else if (Is(e, "ReccordType"))
            plan.ReccordType = ParseDecimal(Text(e));
        else if (Is(e, "StartType"))
            plan.StartType = ParseDecimal(Text(e));
        else if (Is(e, "DetRecTime"))
            plan.DetRecTime = ParseDecimal(Text(e));
        else if (Is(e, "Dev")) {
            for (const TiXmlElement* d = e->FirstChildElement("DevName"); d; d = d->NextSiblingElement("DevName")) {
                // Each one is a walk of the device list: the bound keeps start-up short too.
                if (++n.membersSeen > kMaxNestedRecords)
                    continue;
                ++n.members;
                bool hasId = false;
                std::string id = Attr(d, "DevId", &hasId);
                if (DeviceInfo* dev = FindMember(Text(d), id, hasId))
                    plan.lstDev.push_back(dev);
            }
        } else if (Is(e, "RecTimeList")) {
            for (const TiXmlElement* t = e->FirstChildElement("RecTime"); t; t = t->NextSiblingElement("RecTime")) {
                if (++n.segmentsSeen > kMaxNestedRecords)
                    continue;
                ++n.segments;
                RecTime seg{};
                seg.StartTime = kInvalidTimeOfDay;
                seg.EndTime = kInvalidTimeOfDay;
                for (const TiXmlElement* c = t->FirstChildElement(); c; c = c->NextSiblingElement()) {
                    if (Is(c, "TimeDuration"))
                        seg.TimeDuration = ParseDecimal(Text(c));
                    else if (Is(c, "DayOfWeek"))
                        seg.DayOfWeek = ParseDecimal(Text(c));
                    else if (Is(c, "StartTime"))
                        seg.StartTime = ParseTimeOfDay(Text(c));
                    else if (Is(c, "EndTime"))
                        seg.EndTime = ParseTimeOfDay(Text(c));
                }
                plan.lstRecTime.push_back(seg);
            }
        }
    }
}

void SaveScheme(TiXmlElement* root, const RecScheme& plan)
{
    TiXmlElement* elem = AppendElement(root, "RecScheme");
    AppendText(elem, "SchemeName", plan.SchemeName);
    AppendText(elem, "StoragePath1", plan.StoragePath1);
    AppendText(elem, "StoragePath2", plan.StoragePath2);
    AppendText(elem, "StoragePath3", plan.StoragePath3);
    AppendInt(elem, "SaveDate", plan.SaveDate);
    AppendInt(elem, "StorageScheme", plan.StorageScheme);
    AppendInt(elem, "StartType", plan.StartType);
    AppendInt(elem, "OnOff", plan.OnOff);
    AppendInt(elem, "PreRecTime", plan.PreRecTime);
    AppendInt(elem, "RecFileTime", plan.RecFileTime);
    AppendInt(elem, "DetRecTime", plan.DetRecTime);
    AppendInt(elem, "RecAudio", plan.RecAudio);
    AppendInt(elem, "RecStreamType", plan.RecStreamType);
    AppendInt(elem, "ReccordType", plan.ReccordType);
    TiXmlElement* devs = AppendElement(elem, "Dev");
    for (const DeviceInfo* dev : plan.lstDev) {
        if (!dev)
            continue;
        TiXmlElement* name = AppendText(devs, "DevName", dev->DevName);
        SetAttr(name, "DevId", dev->DevId);
    }
    TiXmlElement* times = AppendElement(elem, "RecTimeList");
    for (const RecTime& seg : plan.lstRecTime) {
        TiXmlElement* t = AppendElement(times, "RecTime");
        AppendInt(t, "TimeDuration", seg.TimeDuration);
        AppendInt(t, "DayOfWeek", seg.DayOfWeek);
        AppendText(t, "StartTime", FormatTimeOfDay(seg.StartTime));
        AppendText(t, "EndTime", FormatTimeOfDay(seg.EndTime));
    }
}

} // namespace

std::string FormatTimeOfDay(std::int32_t seconds)
{
    if (seconds < 0 || seconds >= 24 * 3600)
        return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buf;
}

std::int32_t ParseTimeOfDay(const std::string& text)
{
    // The last "H:M" or "H:M:S" not glued to other digits.
    int hour = -1, minute = -1, second = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsDigit(text[i]) || (i > 0 && IsDigit(text[i - 1])))
            continue;
        std::size_t j = i;
        int h = TwoDigits(text, j);
        if (j >= text.size() || text[j] != ':')
            continue;
        ++j;
        int m = TwoDigits(text, j);
        if (m < 0)
            continue;
        int s = 0;
        if (j < text.size() && text[j] == ':') {
            ++j;
            s = TwoDigits(text, j);
            if (s < 0)
                continue;
        }
        if (j < text.size() && (IsDigit(text[j]) || text[j] == ':'))
            continue;
        hour = h;
        minute = m;
        second = s;
        i = j;
    }
    if (hour < 0)
        return kInvalidTimeOfDay;
    std::string lower;
    for (char c : text)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    bool pm = HasWord(lower, "pm") || lower.find("下午") != std::string::npos;
    bool am = HasWord(lower, "am") || lower.find("上午") != std::string::npos;
    if (pm || am) {
        if (hour < 1 || hour > 12)
            return kInvalidTimeOfDay;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59)
        return kInvalidTimeOfDay;
    return hour * 3600 + minute * 60 + second;
}

void LoadRecInfo()
{
    WriteLog(6, "AppInit: Get record info...");
    TiXmlDocument doc;
    const TiXmlElement* root = LoadRoot(ConfigFilePath("RecInfo.xml"), doc, kRecInfoTemplate);
    if (!root)
        return;
    std::list<RecScheme*> plans;
    NestedCount nested;
    const TiXmlElement* e = root->FirstChildElement("RecScheme");
    {
        qelm::CsLock lock(g_csDevList); // the members are looked up in the device list
        for (; e && plans.size() < kMaxRecords; e = e->NextSiblingElement("RecScheme")) {
            auto* plan = new RecScheme;
            LoadScheme(*plan, e, nested);
            plans.push_back(plan);
        }
        g_lstRecSchemeInfo.splice(g_lstRecSchemeInfo.end(), plans);
    }
    const std::string path = ConfigFilePath("RecInfo.xml");
    if (e) {
        const std::size_t total = kMaxRecords + CountElements(e, "RecScheme");
        WriteLog(3, "%s", RefusedRecords(path, "RecScheme", total, kMaxRecords).c_str());
    }
    if (nested.membersSeen > nested.members)
        WriteLog(3, "%s", RefusedRecords(path, "DevName", nested.membersSeen, nested.members).c_str());
    if (nested.segmentsSeen > nested.segments)
        WriteLog(3, "%s", RefusedRecords(path, "RecTime", nested.segmentsSeen, nested.segments).c_str());
}

void SaveRecInfo()
{
    SaveWithRoot(ConfigFilePath("RecInfo.xml"), "SaveRecInfo", [](TiXmlElement* root) {
        ClearChildren(root);
        qelm::CsLock lock(g_csDevList);
        for (const RecScheme* plan : g_lstRecSchemeInfo) {
            if (plan)
                SaveScheme(root, *plan);
        }
    });
}
