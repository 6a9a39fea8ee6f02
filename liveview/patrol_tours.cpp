// Patrol tours in memory and in Config/PatrolInfo.xml.
#include "liveview/patrol_tours.h"

#include "core/config_store.h"
#include "core/log.h"
#include "platform/text.h"

#include <tinyxml.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

using namespace qelm::cfg;

const char kPatrolTemplate[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
                               "\t\t\t\t\t\t   <PatrolList>\n"
                               "\t\t\t\t\t\t   </PatrolList>";

namespace {

constexpr char kMain[] = "MainStream";
constexpr char kSub[] = "SubStream";

void Copy(char* dst, std::size_t size, std::string_view text)
{
    qelm::CopyBounded(dst, size, text);
}

const char* DevNameTag(int k)
{
    static const char* const kTags[16] = {"DevName1",  "DevName2",  "DevName3",  "DevName4",  "DevName5",  "DevName6",
                                          "DevName7",  "DevName8",  "DevName9",  "DevName10", "DevName11", "DevName12",
                                          "DevName13", "DevName14", "DevName15", "DevName16"};
    return kTags[k];
}

// 1..64 written without a sign or leading zero.
bool IsPaneNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 2 || digits[0] == '0')
        return false;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= 64;
}

PatrolPoint ReadPoint(const TiXmlElement* point, bool playerTour)
{
    PatrolPoint p{};
    for (const TiXmlElement* c = point->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const std::string tag = c->ValueStr();
        if (tag == "DispMode") {
            Copy(p.DispMode, sizeof p.DispMode, CutToFileWidth(Text(c), kPatrolValueWidth));
        } else if (tag == "StayTime") {
            Copy(p.StayTime, sizeof p.StayTime, CutToFileWidth(Text(c), kPatrolValueWidth));
        } else {
            for (int k = 0; k < 16; ++k) {
                if (tag != DevNameTag(k))
                    continue;
                std::string entry = CutToFileWidth(Text(c), kPatrolNameWidth);
                bool typed = false;
                const std::string type = Attr(c, "StreamType", &typed);
                if (!entry.empty() && typed && !playerTour)
                    entry += ParseDecimal(type) != 0 ? ":SubStream" : ":MainStream";
                Copy(p.DevName[k], sizeof p.DevName[k], entry);
            }
        }
    }
    return p;
}

const TiXmlElement* DecodeNameOf(const TiXmlElement* patrol)
{
    return patrol->FirstChildElement("DecodeName");
}

TiXmlElement* FindPatrol(TiXmlElement* root, const std::string& name)
{
    for (TiXmlElement* e = root->FirstChildElement("Patrol"); e; e = e->NextSiblingElement("Patrol")) {
        const TiXmlElement* n = DecodeNameOf(e);
        if (n && Text(n) == name)
            return e;
    }
    return nullptr;
}

// Loads the file for a change: a missing file starts from the template, a
// file without a root gets one. nullptr when it cannot be read.
TiXmlElement* LoadForChange(const std::string& path, TiXmlDocument& doc)
{
    const LoadResult r = LoadXmlFile(path, doc);
    if (r == LoadResult::Missing) {
        doc.Clear();
        doc.Parse(kPatrolTemplate);
    } else if (r != LoadResult::Ok) {
        WriteLog(-2, "Failed to load file, %s", path.c_str());
        return nullptr;
    }
    TiXmlElement* root = doc.RootElement();
    if (!root) {
        root = new TiXmlElement("PatrolList");
        doc.LinkEndChild(root);
    }
    return root;
}

PatrolSave Save(const std::string& path, const TiXmlDocument& doc)
{
    if (SaveXmlFile(path, doc))
        return PatrolSave::Written;
    WriteLog(3, "CConfigPatrol::SavePatrolInfo(): cannot write %s.", path.c_str());
    return PatrolSave::WriteFailed;
}

} // namespace

int ParseStreamName(const char* text, char* name, int* isSubStream, std::size_t nameSize)
{
    if (!text || !name || !isSubStream || nameSize == 0)
        return -1;
    name[0] = '\0';
    const char* colon = std::strrchr(text, ':');
    if (!colon || colon == text) {
        Copy(name, nameSize, text);
        *isSubStream = 1;
        return -2;
    }
    const std::string_view suffix(colon + 1);
    if (suffix == kMain || suffix == kSub) {
        Copy(name, nameSize, std::string_view(text, static_cast<std::size_t>(colon - text)));
        *isSubStream = suffix == kSub ? 1 : 0;
    } else {
        Copy(name, nameSize, text);
        *isSubStream = 0;
    }
    return 0;
}

bool IsPlayerTourName(std::string_view name)
{
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos)
        return false;
    const std::string_view screen = name.substr(0, dash);
    const bool known = screen == "Player" || screen == "PlayerEx1" || screen == "PlayerEx2" || screen == "PlayerEx3";
    return known && IsPaneNumber(name.substr(dash + 1));
}

std::string CutToFileWidth(std::string_view utf8, std::size_t width)
{
    const std::size_t nul = utf8.find('\0');
    if (nul != std::string_view::npos)
        utf8 = utf8.substr(0, nul);
    bool ascii = true;
    for (unsigned char c : utf8)
        ascii = ascii && c < 0x80;
    if (ascii)
        return std::string(utf8.substr(0, width));
    std::string field(width + 1, '\0');
    qelm::CopyToGbField(field.data(), field.size(), utf8);
    return qelm::ReadGbField(field.data(), field.size());
}

std::string CutDeviceEntry(std::string_view entry)
{
    const std::string text(entry.substr(0, std::min(entry.find('\0'), entry.size())));
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos && colon > 0) {
        const std::string suffix = text.substr(colon + 1);
        if (suffix == kMain || suffix == kSub)
            return CutToFileWidth(text.substr(0, colon), kPatrolNameWidth) + ":" + suffix;
    }
    return CutToFileWidth(text, kPatrolNameWidth);
}

int LoadPatrolFile(const std::string& path, std::list<PatrolTour>& tours)
{
    tours.clear();
    TiXmlDocument doc;
    const TiXmlElement* root = LoadRoot(path, doc, kPatrolTemplate);
    if (!root) {
        // A file that loads without a root element holds no tours.
        return doc.Error() || !doc.FirstChild() ? -1 : 0;
    }
    std::size_t tourCount = 0;
    std::size_t pointCount = 0;
    std::size_t tourTotal = 0;
    std::size_t pointTotal = 0;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (e->ValueStr() != "Patrol")
            continue;
        ++tourTotal;
        if (tourCount == kMaxRecords)
            continue;
        ++tourCount;
        auto tour = std::make_unique<PatrolTour>();
        *tour = PatrolTour{};
        bool playerTour = false;
        for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
            const std::string tag = c->ValueStr();
            if (tag == "DecodeName") {
                Copy(tour->name, sizeof tour->name, CutToFileWidth(Text(c), kPatrolNameWidth));
                playerTour = IsPlayerTourName(tour->name);
            } else if (tag == "Point") {
                ++pointTotal;
                if (pointCount == kMaxNestedRecords)
                    continue;
                ++pointCount;
                tour->points.push_back(ReadPoint(c, playerTour));
            }
        }
        tours.push_back(std::move(*tour));
    }
    if (tourTotal > tourCount)
        WriteLog(3, "%s", RefusedRecords(path, "Patrol", tourTotal, tourCount).c_str());
    if (pointTotal > pointCount)
        WriteLog(3, "%s", RefusedRecords(path, "Point", pointTotal, pointCount).c_str());
    return 0;
}

PatrolSave SavePatrolTour(const std::string& path, const PatrolTour& tour)
{
    TiXmlDocument doc;
    TiXmlElement* root = LoadForChange(path, doc);
    if (!root)
        return PatrolSave::LoadFailed;
    if (TiXmlElement* old = FindPatrol(root, tour.name))
        root->RemoveChild(old);
    auto* patrol = new TiXmlElement("Patrol");
    AppendText(patrol, "DecodeName", tour.name);
    for (const PatrolPoint& p : tour.points) {
        TiXmlElement* point = AppendElement(patrol, "Point");
        AppendText(point, "StayTime", CutToFileWidth(p.StayTime, kPatrolValueWidth));
        AppendText(point, "DispMode", CutToFileWidth(p.DispMode, kPatrolValueWidth));
        for (int k = 0; k < 16; ++k) {
            char name[sizeof p.DevName[k]];
            int sub = 0;
            ParseStreamName(p.DevName[k], name, &sub, sizeof name);
            const std::string text = CutToFileWidth(name, kPatrolNameWidth);
            TiXmlElement* dev = AppendText(point, DevNameTag(k), text);
            if (!text.empty())
                SetAttr(dev, "StreamType", sub);
        }
    }
    root->LinkEndChild(patrol);
    return Save(path, doc);
}

PatrolSave RemovePatrolTour(const std::string& path, const std::string& name)
{
    TiXmlDocument doc;
    TiXmlElement* root = LoadForChange(path, doc);
    if (!root)
        return PatrolSave::LoadFailed;
    TiXmlElement* old = FindPatrol(root, name);
    if (!old)
        return PatrolSave::Unchanged;
    root->RemoveChild(old);
    return Save(path, doc);
}

namespace {
IPatrolTours* g_pPatrolTours = nullptr;
} // namespace

void SetPatrolTours(IPatrolTours* source)
{
    g_pPatrolTours = source;
}

void WithdrawPatrolTours(IPatrolTours* source)
{
    if (g_pPatrolTours == source)
        g_pPatrolTours = nullptr;
}

const std::list<PatrolTour>& PatrolTours()
{
    static const std::list<PatrolTour> kNone;
    return g_pPatrolTours ? g_pPatrolTours->Tours() : kNone;
}
