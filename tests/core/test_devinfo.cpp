// Tests of the device file: template, load rules, save rules, GB18030 texts,
// damaged files, atomic saves and FindDevice, all through real files.
#include "config_test_util.h"

#include <cstring>
#include <functional>

using cfgtest::ChildNames;
using cfgtest::Gb;

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n";

// A Dev element from "Name=value" pairs.
std::string Dev(std::initializer_list<std::pair<const char*, std::string>> fields)
{
    std::string s = "<Dev>";
    for (const auto& [name, value] : fields)
        s += std::string("<") + name + ">" + value + "</" + name + ">";
    return s + "</Dev>";
}

std::string DevFile(const std::string& devs, const std::string& rest = "<GroupList><Group><GroupName nType=\"1\">Default</GroupName></Group></GroupList><AlarmAudio AudioInfo=\"0\"/>")
{
    return std::string(kDecl) + "<DevInfo><DevList>" + devs + "</DevList>" + rest + "</DevInfo>";
}

const DeviceInfo* Named(const char* name)
{
    for (const DeviceInfo& d : g_lstDevInfo) {
        if (std::strcmp(d.DevName, name) == 0)
            return &d;
    }
    return nullptr;
}

class DevInfoTest : public cfgtest::ConfigTest {
protected:
    // Loads the file, saves it, and returns the saved document.
    void LoadSave(TiXmlDocument& saved)
    {
        ASSERT_EQ(LoadDevInfo(), 0);
        SaveDevInfo();
        ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("DevInfo.xml"), saved), qelm::cfg::LoadResult::Ok);
    }
};

TEST_F(DevInfoTest, FirstStartWritesTheTemplateByteForByteAndReadsIt)
{
    EXPECT_EQ(LoadDevInfo(), -1);
    EXPECT_EQ(Read("DevInfo.xml"),
              "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<DevInfo>\n\t<DevList />\n\t<GroupList>\n\t\t<Group>\n"
              "\t\t\t<GroupName nType=\"1\" >Default</GroupName>\n\t\t</Group>\n\t</GroupList>\n\t<AlarmAudio/>\n"
              "</DevInfo>");
    EXPECT_TRUE(g_lstDevGroupInfo.empty()) << "the lists are not touched when the template is written";

    g_bAlarmAudio = 1;
    ASSERT_EQ(LoadDevInfo(), 0);
    EXPECT_TRUE(g_lstDevInfo.empty());
    ASSERT_EQ(g_lstDevGroupInfo.size(), 1u);
    EXPECT_STREQ(g_lstDevGroupInfo.front().GroupName, "Default");
    EXPECT_EQ(g_lstDevGroupInfo.front().nType, 1);
    EXPECT_EQ(g_bAlarmAudio, 1) << "AlarmAudio without its attribute keeps the switch";
}

// Load-save round trips: each case loads a file, checks memory, saves, and
// checks the saved file.
struct RoundTrip {
    const char* name;
    std::string file;
    std::function<void()> afterLoad;
    std::function<void(const TiXmlElement* root)> afterSave;
};

TEST_F(DevInfoTest, LoadSaveRoundTrips)
{
    const std::vector<RoundTrip> cases = {
        {"online rules",
         DevFile(Dev({{"DevType", "1"}, {"DevName", "ipc"}, {"Online", "1"}}) +
                 Dev({{"DevType", "1"}, {"DevName", "big"}, {"Online", "7"}}) +
                 Dev({{"DevType", "1"}, {"DevName", "refused"}, {"Online", "-1"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "nvr"}, {"Online", "1"}, {"NVRChannels", "2"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-1"}, {"Online", "1"}, {"NVRChannels", "2"}, {"CurNVRChannel", "1"}}) +
                 Dev({{"DevType", "1"}, {"DevName", "onvif"}, {"Online", "1"}, {"OnvifDev", "1"}}) +
                 // ONVIF flag before Online: still offline.
                 Dev({{"OnvifDev", "1"}, {"DevType", "1"}, {"DevName", "onvif2"}, {"Online", "1"}})),
         [] {
             EXPECT_EQ(Named("ipc")->Online, 1);
             EXPECT_EQ(Named("big")->Online, 1);
             EXPECT_EQ(Named("refused")->Online, 0);
             EXPECT_EQ(Named("nvr")->Online, 1) << "the NVR row keeps its state";
             EXPECT_EQ(Named("Channel-1")->Online, 0) << "channel rows load offline";
             EXPECT_EQ(Named("onvif")->Online, 0);
             EXPECT_EQ(Named("onvif2")->Online, 0);
             const_cast<DeviceInfo*>(Named("refused"))->Online = -1; // set by supervision
         },
         [](const TiXmlElement* root) {
             const TiXmlElement* list = root->FirstChildElement("DevList");
             std::vector<std::string> online;
             for (const TiXmlElement* d = list->FirstChildElement("Dev"); d; d = d->NextSiblingElement("Dev"))
                 online.push_back(d->FirstChildElement("Online")->GetText());
             EXPECT_EQ(online, (std::vector<std::string>{"1", "1", "-1", "1", "0", "0", "0"}));
         }},
        {"NVR channel rows beyond NVRChannels are dropped on save",
         DevFile(Dev({{"DevType", "1"}, {"DevName", "before"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "nvr"}, {"NVRChannels", "4"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-1"}, {"NVRChannels", "4"}, {"CurNVRChannel", "1"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-2"}, {"NVRChannels", "4"}, {"CurNVRChannel", "2"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-3"}, {"NVRChannels", "4"}, {"CurNVRChannel", "3"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-4"}, {"NVRChannels", "4"}, {"CurNVRChannel", "4"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-5"}, {"NVRChannels", "4"}, {"CurNVRChannel", "5"}}) +
                 Dev({{"DevType", "4"}, {"DevName", "Channel-6"}, {"NVRChannels", "4"}, {"CurNVRChannel", "6"}}) +
                 Dev({{"DevType", "0"}, {"DevName", "dvs"}, {"NVRChannels", "0"}, {"CurNVRChannel", "3"}})),
         [] { EXPECT_EQ(g_lstDevInfo.size(), 9u) << "all rows load"; },
         [](const TiXmlElement* root) {
             std::vector<std::string> names;
             for (const TiXmlElement* d = root->FirstChildElement("DevList")->FirstChildElement("Dev"); d;
                  d = d->NextSiblingElement("Dev"))
                 names.push_back(d->FirstChildElement("DevName")->GetText());
             EXPECT_EQ(names, (std::vector<std::string>{"before", "nvr", "Channel-1", "Channel-2", "Channel-3",
                                                        "Channel-4", "dvs"}));
         }},
        {"no default group: the first becomes it",
         DevFile("", "<GroupList><Group><GroupName nType=\"0\">A</GroupName></Group><Group><GroupName>B</GroupName></Group></GroupList>"),
         [] {
             ASSERT_EQ(g_lstDevGroupInfo.size(), 2u);
             EXPECT_EQ(g_lstDevGroupInfo.front().nType, 1);
             EXPECT_EQ(g_lstDevGroupInfo.back().nType, 0);
         },
         [](const TiXmlElement* root) {
             const TiXmlElement* g = root->FirstChildElement("GroupList")->FirstChildElement("Group");
             EXPECT_STREQ(g->FirstChildElement("GroupName")->Attribute("nType"), "1");
             EXPECT_STREQ(g->FirstChildElement("GroupName")->GetText(), "A");
         }},
        {"an empty group list stays empty",
         DevFile("", "<GroupList/>"),
         [] { EXPECT_TRUE(g_lstDevGroupInfo.empty()); },
         [](const TiXmlElement* root) { EXPECT_EQ(root->FirstChildElement("GroupList")->FirstChild(), nullptr); }},
        {"alarm audio switch",
         DevFile("", "<AlarmAudio AudioInfo=\"1\"/>"),
         [] {
             EXPECT_EQ(g_bAlarmAudio, 1);
             g_bAlarmAudio = 0;
         },
         [](const TiXmlElement* root) { EXPECT_STREQ(root->FirstChildElement("AlarmAudio")->Attribute("AudioInfo"), "0"); }},
        {"extra root children survive, missing sections are not created",
         std::string(kDecl) + "<DevInfo><Custom k=\"v\">hand made<x/></Custom><!-- note --><GroupList/></DevInfo>",
         [] {},
         [](const TiXmlElement* root) {
             EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"Custom", "GroupList"}));
             EXPECT_STREQ(root->FirstChildElement("Custom")->Attribute("k"), "v");
             EXPECT_STREQ(root->FirstChildElement("Custom")->GetText(), "hand made");
         }},
        {"numbers, unknown and repeated elements",
         DevFile(Dev({{"DevType", "1"}, {"DevName", "n"}, {"VideoPort", "554abc"}, {"PtzPort", "abc"},
                      {"WebPort", " +80"}, {"CfgPort", "99999999999"}, {"Mystery", "x"}, {"IPAddr", "1.1.1.1"},
                      {"IPAddr", "2.2.2.2"}})),
         [] {
             const DeviceInfo* d = Named("n");
             ASSERT_TRUE(d);
             EXPECT_EQ(d->VideoPort, 554);
             EXPECT_EQ(d->PtzPort, 0);
             EXPECT_EQ(d->WebPort, 80);
             EXPECT_EQ(d->CfgPort, 2147483647);
             EXPECT_STREQ(d->IPAddr, "2.2.2.2") << "a repeated element overwrites";
         },
         [](const TiXmlElement* root) {
             const TiXmlElement* d = root->FirstChildElement("DevList")->FirstChildElement("Dev");
             EXPECT_EQ(d->FirstChildElement("Mystery"), nullptr);
             EXPECT_STREQ(d->FirstChildElement("VideoPort")->GetText(), "554");
         }},
        {"alarm linkage entries",
         DevFile(Dev({{"DevName", "a"},
                      {"AlarmLink3", "<AlarmType>14</AlarmType><OnOff>1</OnOff><CauseType>2</CauseType>"
                                     "<AlarmTime>30</AlarmTime><VoiceFilePath>C:\\s.wav</VoiceFilePath>"},
                      {"AlarmLink9", "<AlarmType>5</AlarmType>"}})),
         [] {
             const AlarmLinkInfo& l = Named("a")->AlarmLink[3];
             EXPECT_EQ(l.AlarmType, 14);
             EXPECT_EQ(l.OnOff, 1);
             EXPECT_EQ(l.CauseType, 2);
             EXPECT_EQ(l.AlarmTime, 30);
             EXPECT_STREQ(l.VoiceFilePath, "C:\\s.wav");
         },
         [](const TiXmlElement* root) {
             const TiXmlElement* l = root->FirstChildElement("DevList")->FirstChildElement("Dev")->FirstChildElement("AlarmLink3");
             EXPECT_EQ(ChildNames(l), (std::vector<std::string>{"AlarmType", "OnOff", "CauseType", "AlarmTime", "VoiceFilePath"}));
             EXPECT_STREQ(l->FirstChildElement("VoiceFilePath")->GetText(), "C:\\s.wav");
             EXPECT_EQ(root->FirstChildElement("DevList")->FirstChildElement("Dev")->FirstChildElement("AlarmLink9"), nullptr);
         }},
        {"reserved characters in texts",
         DevFile(Dev({{"DevName", "a &amp; b &lt;c&gt; &quot;d&quot; &amp;#x41;"}, {"LoginPsw", "p&amp;w"}})),
         [] {
             ASSERT_EQ(g_lstDevInfo.size(), 1u);
             EXPECT_STREQ(g_lstDevInfo.front().DevName, "a & b <c> \"d\" &#x41;");
             EXPECT_STREQ(g_lstDevInfo.front().LoginPsw, "p&w");
         },
         [](const TiXmlElement* root) {
             const TiXmlElement* d = root->FirstChildElement("DevList")->FirstChildElement("Dev");
             EXPECT_STREQ(d->FirstChildElement("DevName")->GetText(), "a & b <c> \"d\" &#x41;");
         }},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        Write("DevInfo.xml", c.file);
        TiXmlDocument saved;
        ASSERT_EQ(LoadDevInfo(), 0);
        c.afterLoad();
        SaveDevInfo();
        ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("DevInfo.xml"), saved), qelm::cfg::LoadResult::Ok);
        c.afterSave(saved.RootElement());
        EXPECT_TRUE(cfgtest::FilesWith(m_config, ".tmp-").empty()) << "no temporary file is left";
    }
}

TEST_F(DevInfoTest, SavedDevHasEveryFieldInFileOrder)
{
    Write("DevInfo.xml", DevFile(Dev({{"DevName", "x"}})));
    TiXmlDocument saved;
    LoadSave(saved);
    const TiXmlElement* dev = saved.RootElement()->FirstChildElement("DevList")->FirstChildElement("Dev");
    const std::vector<std::string> expected = {
        "DevType", "DevSN", "DevId", "DevName", "GroupName", "LoginName", "LoginPsw", "MACAddr", "IPAddr",
        "NetMask", "GateWay", "DNS1", "DNS2", "ProtocolType", "Resolution", "DefRes", "Status", "VisitMod",
        "Online", "UseP2P", "DovraNvr", "p2pSvr", "p2pSvrList", "Auth", "EnableDHCP", "PtzPort", "CfgPort",
        "NVRChannels", "CurNVRChannel", "PtzAddr", "RtpOverRtsp", "nPltDev", "DevDomainName", "VideoPort",
        "WebPort", "CurStoragePath", "OnvifDev", "OnvifSerAddr", "AlarmLink0", "AlarmLink1", "AlarmLink2",
        "AlarmLink3", "AlarmLink4", "AlarmLink5", "AlarmLink6", "AlarmLink7", "AlarmLink8"};
    EXPECT_EQ(ChildNames(dev), expected);
    EXPECT_STREQ(dev->FirstChildElement("DevType")->GetText(), "0");
}

TEST_F(DevInfoTest, EveryFieldSurvivesARoundTrip)
{
    Write("DevInfo.xml", DevFile(Dev({
        {"DevType", "4"}, {"DevSN", "SN-1"}, {"DevId", "id-1"}, {"DevName", "n"}, {"GroupName", "g"},
        {"LoginName", "u"}, {"LoginPsw", "p"}, {"MACAddr", "00:11"}, {"IPAddr", "10.0.0.2"}, {"NetMask", "255.0.0.0"},
        {"GateWay", "10.0.0.1"}, {"DNS1", "d1"}, {"DNS2", "d2"}, {"ProtocolType", "pt"}, {"Resolution", "cif"},
        {"DefRes", "dr"}, {"Status", "st"}, {"VisitMod", "3"}, {"Online", "1"}, {"UseP2P", "1"}, {"DovraNvr", "1"},
        {"p2pSvr", "ps"}, {"p2pSvrList", "psl"}, {"Auth", "2"}, {"EnableDHCP", "1"}, {"PtzPort", "5000"},
        {"CfgPort", "5001"}, {"NVRChannels", "8"}, {"CurNVRChannel", "0"}, {"PtzAddr", "3"}, {"RtpOverRtsp", "1"},
        {"nPltDev", "1"}, {"DevDomainName", "dd"}, {"VideoPort", "554"}, {"WebPort", "80"}, {"CurStoragePath", "2"},
        {"OnvifDev", "0"}, {"OnvifSerAddr", "http://x/onvif"}})));
    ASSERT_EQ(LoadDevInfo(), 0);
    SaveDevInfo();
    const std::string once = Read("DevInfo.xml");
    ResetGlobals();
    ASSERT_EQ(LoadDevInfo(), 0);
    SaveDevInfo();
    EXPECT_EQ(Read("DevInfo.xml"), once) << "load and save again changes nothing";
    const DeviceInfo& d = g_lstDevInfo.front();
    EXPECT_STREQ(d.DevSN, "SN-1");
    EXPECT_STREQ(d.OnvifSerAddr, "http://x/onvif");
    EXPECT_EQ(d.VisitMod, 3);
    EXPECT_EQ(d.CurStoragePath, 2);
    EXPECT_EQ(d.NVRChannels, 8);
    EXPECT_EQ(d.Online, 1);
}

TEST_F(DevInfoTest, ChineseTextsKeepTheirGb18030BytesThroughLoadAndSave)
{
    const std::string name = "前门摄像机𠀀"; // a two-byte and a four-byte GB18030 character
    const std::string group = "一楼";
    Write("DevInfo.xml", DevFile(Dev({{"DevName", Gb(name)}, {"GroupName", Gb(group)}}),
                                 "<GroupList><Group><GroupName nType=\"1\">" + Gb(group) + "</GroupName></Group></GroupList>"));
    ASSERT_EQ(LoadDevInfo(), 0);
    ASSERT_EQ(g_lstDevInfo.size(), 1u);
    EXPECT_EQ(std::string(g_lstDevInfo.front().DevName), name) << "UTF-8 in memory";
    EXPECT_EQ(std::string(g_lstDevGroupInfo.front().GroupName), group);

    SaveDevInfo();
    const std::string saved = Read("DevInfo.xml");
    EXPECT_NE(saved.find("<DevName>" + Gb(name) + "</DevName>"), std::string::npos);
    EXPECT_NE(saved.find("<GroupName>" + Gb(group) + "</GroupName>"), std::string::npos);
    EXPECT_NE(saved.find(">" + Gb(group) + "</GroupName>"), std::string::npos);
    EXPECT_EQ(saved.find(name), std::string::npos) << "no UTF-8 bytes in the file";
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"gb2312\" ?>", 0), 0u);
}

TEST_F(DevInfoTest, OverlongTextsAreCutAtACharacterBoundaryAndLogged)
{
    OpenTestLog();
    std::string sn(60, 'S');                  // DevSN holds 47 bytes
    std::string name;
    for (int i = 0; i < 200; ++i)
        name += "门";                          // 600 bytes in memory, 383 fit
    Write("DevInfo.xml", DevFile(Dev({{"DevSN", sn}, {"DevName", Gb(name)}})));
    ASSERT_EQ(LoadDevInfo(), 0);
    const DeviceInfo& d = g_lstDevInfo.front();
    EXPECT_EQ(std::string(d.DevSN), std::string(sizeof d.DevSN - 1, 'S'));
    EXPECT_EQ(std::strlen(d.DevName), 381u) << "127 whole characters";
    EXPECT_TRUE(qelm::IsValidUtf8(d.DevName));
    EXPECT_NE(LogText().find("Config: text of DevSN longer than 47 bytes, cut to 47."), std::string::npos);
    EXPECT_NE(LogText().find("Config: text of DevName longer than 383 bytes, cut to 381."), std::string::npos);
}

TEST_F(DevInfoTest, DamagedFileIsKeptAsideBeforeTheTemplateIsWritten)
{
    OpenTestLog();
    const std::string damaged = DevFile(Dev({{"DevName", Gb("仓库")}})).substr(0, 120); // cut off mid-way
    Write("DevInfo.xml", damaged);
    EXPECT_EQ(LoadDevInfo(), -1);
    auto kept = cfgtest::FilesWith(m_config, "DevInfo.damaged-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(coretest::MatchMask(kept[0], "DevInfo.damaged-99999999-999999.xml")) << kept[0];
    EXPECT_EQ(coretest::ReadAll(m_config + kept[0]), damaged) << "the damaged bytes are kept";
    EXPECT_EQ(Read("DevInfo.xml"), kDevInfoTemplate);
    EXPECT_NE(LogText().find("AppInit: Get device info..."), std::string::npos);
    EXPECT_NE(LogText().find("DevInfo.xml could not be read, kept as " + m_config + kept[0]), std::string::npos);

    // A second damaged file on the same second gets its own name.
    Write("DevInfo.xml", std::string("<DevInfo>\0</DevInfo>", 20));
    EXPECT_EQ(LoadDevInfo(), -1);
    EXPECT_EQ(cfgtest::FilesWith(m_config, "DevInfo.damaged-").size(), 2u);
}

TEST_F(DevInfoTest, DocumentWithoutRootLoadsNothingAndWritesNothing)
{
    const std::string noRoot = std::string(kDecl) + "<!-- only a comment -->";
    Write("DevInfo.xml", noRoot);
    EXPECT_EQ(LoadDevInfo(), -1);
    EXPECT_EQ(Read("DevInfo.xml"), noRoot);
    SaveDevInfo();
    EXPECT_EQ(Read("DevInfo.xml"), noRoot);
}

TEST_F(DevInfoTest, SaveWithoutAFileWritesNothingAndLogs)
{
    OpenTestLog();
    g_lstDevInfo.emplace_back();
    SaveDevInfo();
    struct stat st;
    EXPECT_NE(stat(Path("DevInfo.xml").c_str(), &st), 0);
    EXPECT_NE(LogText().find("Failed to load file, " + Path("DevInfo.xml")), std::string::npos);

    Write("DevInfo.xml", "<DevInfo><DevList>");
    SaveDevInfo();
    EXPECT_EQ(Read("DevInfo.xml"), "<DevInfo><DevList>") << "a damaged file is left as it is";
}

TEST_F(DevInfoTest, FileWithoutDevListKeepsDevicesOnlyInMemory)
{
    Write("DevInfo.xml", std::string(kDecl) + "<DevInfo><GroupList/></DevInfo>");
    ASSERT_EQ(LoadDevInfo(), 0);
    DeviceInfo& d = g_lstDevInfo.emplace_back();
    std::strcpy(d.DevName, "mem");
    SaveDevInfo();
    EXPECT_EQ(Read("DevInfo.xml").find("mem"), std::string::npos);
}

TEST_F(DevInfoTest, SaveKeepsTheFileMode)
{
    Write("DevInfo.xml", kDevInfoTemplate);
    chmod(Path("DevInfo.xml").c_str(), 0640);
    ASSERT_EQ(LoadDevInfo(), 0);
    SaveDevInfo();
    struct stat st;
    ASSERT_EQ(stat(Path("DevInfo.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(DevInfoTest, FindDevice)
{
    auto add = [](const char* sn, int mode) {
        DeviceInfo& d = g_lstDevInfo.emplace_back();
        std::strcpy(d.DevSN, sn);
        d.VisitMod = mode;
    };
    add("ABC", 3);
    add("", 0);
    struct {
        const char* sn;
        int mode;
        bool found;
    } cases[] = {
        {"ABC", 3, true}, {"ABC", 2, false}, {"abc", 3, false}, {"AB", 3, false},
        {"", 0, true},    {"", 3, false},    {nullptr, 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindDevice(c.sn, c.mode), c.found) << (c.sn ? c.sn : "(null)") << " " << c.mode;
}

} // namespace
