// The recover file of open panes (see recover.h).
#include "core/recover.h"

#include "core/config_store.h"
#include "core/log.h"
#include "core/userinfo.h"

#include <tinyxml.h>

#include <cstring>
#include <string>

std::list<SurStauts> g_lstSurStatus;

const char kRecoverTemplate[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
    "<RecoverInfo>\n"
    "\t<DispStatus UserName=\"admin\" DispMode=\"4\" />\n"
    "</RecoverInfo>";

namespace {

using namespace qelm::cfg;

// True when the element carries a UserName attribute equal to the logged-in
// user; an element without one belongs to nobody.
bool OfCurrentUser(const TiXmlElement* e)
{
    bool present = false;
    std::string user = Attr(e, "UserName", &present);
    return present && user == g_szUserName;
}

int IntAttr(const TiXmlElement* e, const char* name)
{
    const char* v = e->Attribute(name);
    return v ? ParseDecimal(v) : 0;
}

} // namespace

void LoadRecoverInfo()
{
    WriteLog(6, "AppInit: Get surveillance status.");
    TiXmlDocument doc;
    const TiXmlElement* root = LoadRoot(ConfigFilePath("Recover.xml"), doc, kRecoverTemplate);
    if (!root)
        return;
    std::size_t taken = 0, total = 0;
    for (const TiXmlElement* e = root->FirstChildElement("SurStauts"); e; e = e->NextSiblingElement("SurStauts")) {
        if (!OfCurrentUser(e) || ++total > kMaxRecords)
            continue;
        ++taken;
        SurStauts& s = g_lstSurStatus.emplace_back();
        CopyField(s.DevName, sizeof s.DevName, Attr(e, "DevName"), "SurStauts/DevName");
        CopyField(s.DevId, sizeof s.DevId, Attr(e, "DevId"), "SurStauts/DevId");
        s.WndNo = IntAttr(e, "WndNo");
        s.MonitorNum = IntAttr(e, "MonitorNum");
        s.DispMode = IntAttr(e, "DispMode");
    }
    if (total > taken)
        WriteLog(3, "%s", RefusedRecords(ConfigFilePath("Recover.xml"), "SurStauts", total, taken).c_str());
}

void SaveRecoverInfo()
{
    const std::string path = ConfigFilePath("Recover.xml");
    TiXmlDocument doc;
    if (LoadXmlFile(path, doc) != LoadResult::Ok)
        return;
    TiXmlElement* root = doc.RootElement();
    if (!root)
        return;
    for (TiXmlElement* e = root->FirstChildElement(); e;) {
        TiXmlElement* next = e->NextSiblingElement();
        const char* name = e->Value();
        if ((std::strcmp(name, "SurStauts") == 0 || std::strcmp(name, "DispStatus") == 0) && OfCurrentUser(e))
            root->RemoveChild(e);
        e = next;
    }
    for (const SurStauts& s : g_lstSurStatus) {
        TiXmlElement* e = AppendElement(root, "SurStauts");
        SetAttr(e, "UserName", g_szUserName);
        SetAttr(e, "DevId", s.DevId);
        SetAttr(e, "DevName", s.DevName);
        SetAttr(e, "WndNo", s.WndNo);
        SetAttr(e, "MonitorNum", s.MonitorNum);
        SetAttr(e, "DispMode", s.DispMode);
    }
    SaveXmlFile(path, doc);
}
