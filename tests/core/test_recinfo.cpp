// Tests of the recording plans file: template, members found in the device
// list, segments and times of day, what a save keeps, through real files.
#include "config_test_util.h"

#include <cstring>

using cfgtest::ChildNames;
using cfgtest::Gb;

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n";

class RecInfoTest : public cfgtest::ConfigTest {
protected:
    DeviceInfo* AddDevice(const char* name, const char* id, int type, int channel = 0)
    {
        DeviceInfo& d = g_lstDevInfo.emplace_back();
        std::strcpy(d.DevName, name);
        std::strcpy(d.DevId, id);
        d.DevType = type;
        d.CurNVRChannel = channel;
        d.NVRChannels = type == 4 ? 4 : 0;
        return &d;
    }
    std::string Plan(const std::string& name, const std::string& members, const std::string& times = "")
    {
        return "<RecScheme><SchemeName>" + name + "</SchemeName><Dev>" + members + "</Dev><RecTimeList>" + times +
               "</RecTimeList></RecScheme>";
    }
};

TEST_F(RecInfoTest, MissingFileGetsTheTemplate)
{
    LoadRecInfo();
    EXPECT_EQ(Read("RecInfo.xml"), "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<RecInfo />");
    EXPECT_TRUE(g_lstRecSchemeInfo.empty());
    LoadRecInfo();
    EXPECT_TRUE(g_lstRecSchemeInfo.empty());
}

TEST_F(RecInfoTest, MembersAreFoundByNameAndId)
{
    DeviceInfo* gateA = AddDevice("Gate", "id-a", 1);
    DeviceInfo* gateB = AddDevice("Gate", "id-b", 1);
    DeviceInfo* nvr = AddDevice("Yard", "nvr-1", 4);
    DeviceInfo* yardCam = AddDevice("Yard", "cam-9", 1);
    DeviceInfo* channel = AddDevice("Channel-1", "nvr-1", 4, 1);
    DeviceInfo* chinese = AddDevice("大门", "cn", 1);
    Write("RecInfo.xml",
          std::string(kDecl) + "<RecInfo>" +
              Plan("p",
                   "<DevName DevId=\"id-b\">Gate</DevName>"   // name and id
                   "<DevName>Gate</DevName>"                  // name alone: the first
                   "<DevName>Yard</DevName>"                  // name alone skips the NVR row
                   "<DevName DevId=\"nvr-1\">Yard</DevName>"  // with its id the NVR row is found
                   "<DevName>Channel-1</DevName>"             // an NVR channel needs its id
                   "<DevName DevId=\"nvr-1\">Channel-1</DevName>"
                   "<DevName DevId=\"zz\">Gate</DevName>"     // wrong id
                   "<DevName>Gone</DevName>"                  // no such device
                   "<DevName>" + Gb("大门") + "</DevName>") +
              "</RecInfo>");
    LoadRecInfo();
    ASSERT_EQ(g_lstRecSchemeInfo.size(), 1u);
    const std::list<DeviceInfo*>& members = g_lstRecSchemeInfo.front()->lstDev;
    EXPECT_EQ(members, (std::list<DeviceInfo*>{gateB, gateA, yardCam, nvr, channel, chinese}));

    SaveRecInfo();
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("RecInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    std::vector<std::string> written;
    for (const TiXmlElement* d = doc.RootElement()->FirstChildElement("RecScheme")->FirstChildElement("Dev")
                                     ->FirstChildElement("DevName");
         d; d = d->NextSiblingElement())
        written.push_back(qelm::cfg::Text(d) + "/" + d->Attribute("DevId"));
    EXPECT_EQ(written, (std::vector<std::string>{"Gate/id-b", "Gate/id-a", "Yard/cam-9", "Yard/nvr-1",
                                                 "Channel-1/nvr-1", "大门/cn"}))
        << "members that were not found are gone, the others carry their id";
}

TEST_F(RecInfoTest, PlansSegmentsAndFieldOrderRoundTrip)
{
    AddDevice("cam", "c1", 1);
    Write("RecInfo.xml",
          std::string(kDecl) +
              "<RecInfo><RecScheme><SchemeName>" + Gb("夜间") + "</SchemeName><StoragePath1>/rec/a/</StoragePath1>"
              "<StoragePath2></StoragePath2><StoragePath3>/rec/c/</StoragePath3><SaveDate>15</SaveDate>"
              "<StorageScheme>1</StorageScheme><StartType>2</StartType><OnOff>1</OnOff><PreRecTime>5</PreRecTime>"
              "<RecFileTime>1800</RecFileTime><DetRecTime>60</DetRecTime><RecAudio>1</RecAudio>"
              "<RecStreamType>1</RecStreamType><ReccordType>1</ReccordType><Unknown>x</Unknown>"
              "<Dev><DevName DevId=\"c1\">cam</DevName></Dev><RecTimeList>"
              "<RecTime><TimeDuration>1</TimeDuration><DayOfWeek>8</DayOfWeek><StartTime>00:00:00</StartTime>"
              "<EndTime>23:59:59</EndTime></RecTime>"
              "<RecTime><TimeDuration>2</TimeDuration><DayOfWeek>1</DayOfWeek><StartTime>2021-03-04 8:05</StartTime>"
              "<EndTime>late</EndTime></RecTime></RecTimeList></RecScheme>" +
              Plan(Gb("夜间"), "") + "<Other/></RecInfo>");
    LoadRecInfo();
    ASSERT_EQ(g_lstRecSchemeInfo.size(), 2u) << "two plans of one name both load";
    const RecScheme& p = *g_lstRecSchemeInfo.front();
    EXPECT_EQ(std::string(p.SchemeName), "夜间");
    EXPECT_STREQ(p.StoragePath1, "/rec/a/");
    EXPECT_EQ(p.StoragePath2[0], '\0');
    EXPECT_STREQ(p.StoragePath3, "/rec/c/");
    EXPECT_EQ((std::vector<int>{p.SaveDate, p.StorageScheme, p.StartType, p.OnOff, p.PreRecTime, p.RecFileTime,
                                p.DetRecTime, p.RecAudio, p.RecStreamType, p.ReccordType}),
              (std::vector<int>{15, 1, 2, 1, 5, 1800, 60, 1, 1, 1}));
    ASSERT_EQ(p.lstRecTime.size(), 2u);
    const RecTime& day = p.lstRecTime.front();
    EXPECT_EQ((std::vector<int>{day.TimeDuration, day.DayOfWeek, day.StartTime, day.EndTime}),
              (std::vector<int>{1, 8, 0, 23 * 3600 + 59 * 60 + 59}));
    const RecTime& odd = p.lstRecTime.back();
    EXPECT_EQ(odd.StartTime, 8 * 3600 + 5 * 60) << "the date part is ignored";
    EXPECT_EQ(odd.EndTime, kInvalidTimeOfDay);

    SaveRecInfo();
    const std::string once = Read("RecInfo.xml");
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(Path("RecInfo.xml"), doc), qelm::cfg::LoadResult::Ok);
    EXPECT_EQ(ChildNames(doc.RootElement()), (std::vector<std::string>{"RecScheme", "RecScheme"}))
        << "unknown root elements are lost";
    const TiXmlElement* plan = doc.RootElement()->FirstChildElement("RecScheme");
    EXPECT_EQ(ChildNames(plan),
              (std::vector<std::string>{"SchemeName", "StoragePath1", "StoragePath2", "StoragePath3", "SaveDate",
                                        "StorageScheme", "StartType", "OnOff", "PreRecTime", "RecFileTime",
                                        "DetRecTime", "RecAudio", "RecStreamType", "ReccordType", "Dev",
                                        "RecTimeList"}));
    EXPECT_EQ(ChildNames(plan->FirstChildElement("RecTimeList")->FirstChildElement("RecTime")),
              (std::vector<std::string>{"TimeDuration", "DayOfWeek", "StartTime", "EndTime"}));
    EXPECT_NE(once.find("<StartTime>08:05:00</StartTime>"), std::string::npos);
    EXPECT_NE(once.find("<EndTime>23:59:59</EndTime>"), std::string::npos);
    EXPECT_NE(once.find("<EndTime></EndTime>"), std::string::npos) << "an unreadable time stays unreadable";
    EXPECT_NE(once.find("<SchemeName>" + Gb("夜间") + "</SchemeName>"), std::string::npos);

    ResetGlobals();
    AddDevice("cam", "c1", 1);
    LoadRecInfo();
    SaveRecInfo();
    EXPECT_EQ(Read("RecInfo.xml"), once);
}

TEST_F(RecInfoTest, ReleasedPlansAreSkippedOnSave)
{
    Write("RecInfo.xml", std::string(kDecl) + "<RecInfo>" + Plan("a", "") + Plan("b", "") + "</RecInfo>");
    LoadRecInfo();
    ASSERT_EQ(g_lstRecSchemeInfo.size(), 2u);
    delete g_lstRecSchemeInfo.front();
    g_lstRecSchemeInfo.front() = nullptr;
    SaveRecInfo();
    g_lstRecSchemeInfo.pop_front();
    const std::string text = Read("RecInfo.xml");
    EXPECT_EQ(text.find("<SchemeName>a</SchemeName>"), std::string::npos);
    EXPECT_NE(text.find("<SchemeName>b</SchemeName>"), std::string::npos);
}

TEST_F(RecInfoTest, DamagedFileIsKeptAsideAndSaveLeavesIt)
{
    Write("RecInfo.xml", "<RecInfo><RecScheme>");
    SaveRecInfo();
    EXPECT_EQ(Read("RecInfo.xml"), "<RecInfo><RecScheme>");
    LoadRecInfo();
    EXPECT_EQ(cfgtest::FilesWith(m_config, "RecInfo.damaged-").size(), 1u);
    EXPECT_EQ(Read("RecInfo.xml"), kRecInfoTemplate);
}

TEST(TimeOfDayTest, ParseAndFormat)
{
    struct {
        const char* text;
        int seconds;
    } cases[] = {
        {"00:00:00", 0},
        {"23:59:59", 86399},
        {"7:05", 7 * 3600 + 300},
        {"2020-01-01 12:30:15", 45015},
        {"2020-01-01T12:30:15", 45015},
        {"11:30:00 PM", 84600},
        {"12:00:00 AM", 0},
        {"下午 11:30:00", 84600},
        {"24:00:00", kInvalidTimeOfDay},
        {"12:60:00", kInvalidTimeOfDay},
        {"123:45", kInvalidTimeOfDay},
        {"13:00 PM", kInvalidTimeOfDay},
        {"", kInvalidTimeOfDay},
        {"noon", kInvalidTimeOfDay},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseTimeOfDay(c.text), c.seconds) << c.text;
    EXPECT_EQ(FormatTimeOfDay(86399), "23:59:59");
    EXPECT_EQ(FormatTimeOfDay(3661), "01:01:01");
    EXPECT_EQ(FormatTimeOfDay(kInvalidTimeOfDay), "");
    EXPECT_EQ(FormatTimeOfDay(86400), "");
}

} // namespace
