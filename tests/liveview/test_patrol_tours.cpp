// Patrol tours: the stream split, the tour names, and PatrolInfo.xml read
// and written one tour at a time (golden files), with damaged, hostile and
// vanished files.
#include "core/config_store.h"
#include "core/log.h"
#include "liveview/patrol_tours.h"
#include "platform/text.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

PatrolTour Tour(const char* name)
{
    PatrolTour t{};
    std::strcpy(t.name, name);
    return t;
}

PatrolPoint Point(const char* dispMode, const char* stay, std::initializer_list<const char*> names)
{
    PatrolPoint p{};
    std::strcpy(p.DispMode, dispMode);
    std::strcpy(p.StayTime, stay);
    int k = 0;
    for (const char* n : names)
        std::strcpy(p.DevName[k++], n);
    return p;
}

// The sixteen DevName elements of a player point with only the first set.
std::string PlayerDevNames(const char* first)
{
    std::string s = std::string("            <DevName1 StreamType=\"1\">") + first + "</DevName1>\n";
    for (int k = 2; k <= 16; ++k)
        s += "            <DevName" + std::to_string(k) + "></DevName" + std::to_string(k) + ">\n";
    return s;
}

// Writes past bytes fail (EFBIG) while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldSignal);
    }

private:
    rlimit m_old{};
    void (*m_oldSignal)(int) = nullptr;
};

class PatrolFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_config = m_tmp.path().toStdString() + "/Config/";
        QDir().mkpath(QString::fromStdString(m_config));
        CloseLog();
        SetConfigDir(m_config);
        m_path = ConfigFilePath(kPatrolFileName);
    }
    void TearDown() override
    {
        chmod(m_config.c_str(), 0755);
        SetConfigDir("");
    }
    std::list<PatrolTour> Load()
    {
        std::list<PatrolTour> tours;
        EXPECT_EQ(LoadPatrolFile(m_path, tours), 0);
        return tours;
    }
    std::vector<std::string> ConfigFiles() const
    {
        std::vector<std::string> names;
        for (const QString& n : QDir(QString::fromStdString(m_config)).entryList(QDir::Files))
            names.push_back(n.toStdString());
        return names;
    }

    QTemporaryDir m_tmp;
    std::string m_config;
    std::string m_path;
};

} // namespace

TEST(ParseStreamName, SplitsTheSuffixAsWritten)
{
    const struct {
        const char* text;
        int result;
        const char* name;
        int sub;
    } cases[] = {
        {"Cam1:MainStream", 0, "Cam1", 0},
        {"Cam1:SubStream", 1 - 1, "Cam1", 1},
        {"192.168.1.9:Channel-2:SubStream", 0, "192.168.1.9:Channel-2", 1},
        {"192.168.1.9:Channel-2", 0, "192.168.1.9:Channel-2", 0}, // an NVR channel without a stream
        {"Cam1", -2, "Cam1", 1},
        {":SubStream", -2, ":SubStream", 1}, // the only ':' is the first character
        {"", -2, "", 1},
        {"Cam1:substream", 0, "Cam1:substream", 0}, // exact words only
        {"Cam1:", 0, "Cam1:", 0},
        {"摄像机:SubStream", 0, "摄像机", 1},
    };
    for (const auto& c : cases) {
        char name[TextSize(256) + 16];
        std::strcpy(name, "junk");
        int sub = 7;
        EXPECT_EQ(ParseStreamName(c.text, name, &sub), c.result) << c.text;
        EXPECT_STREQ(name, c.name) << c.text;
        EXPECT_EQ(sub, c.sub) << c.text;
    }
    char name[8] = "keep";
    int sub = 5;
    EXPECT_EQ(ParseStreamName(nullptr, name, &sub), -1);
    EXPECT_EQ(ParseStreamName("a:MainStream", nullptr, &sub), -1);
    EXPECT_EQ(ParseStreamName("a:MainStream", name, nullptr), -1);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(sub, 5);
    // A small buffer is filled only to its size.
    EXPECT_EQ(ParseStreamName("a-very-long-name:SubStream", name, &sub, sizeof name), 0);
    EXPECT_STREQ(name, "a-very-");
}

TEST(PatrolTourNames, OnlyTheGridsPanesArePlayerTours)
{
    for (const char* yes : {"Player-1", "Player-64", "PlayerEx1-1", "PlayerEx3-64", "PlayerEx2-17"})
        EXPECT_TRUE(IsPlayerTourName(yes)) << yes;
    for (const char* no : {"PlayerRoom", "Player", "Player-0", "Player-65", "Player-01", "Player-3a", "PlayerEx4-1",
                           "PlayerEx0-1", "player-1", "Decoder Player-1", "Player--1", "Player-", "Player-+1", ""})
        EXPECT_FALSE(IsPlayerTourName(no)) << no;
}

TEST(PatrolTourNames, CutsCountTheFilesBytesAtACharacter)
{
    EXPECT_EQ(CutToFileWidth(std::string(300, 'a'), 255), std::string(255, 'a'));
    // Two bytes per character in the file: 127 fit into 255.
    std::string wide;
    for (int i = 0; i < 200; ++i)
        wide += "摄";
    std::string cut = CutToFileWidth(wide, 255);
    EXPECT_EQ(qelm::Utf8CharCount(cut), 127u);
    EXPECT_EQ(CutToFileWidth("a摄", 2), "a");
    // The stream suffix survives a name cut to the file's width.
    EXPECT_EQ(CutDeviceEntry(std::string(300, 'n') + ":SubStream"), std::string(255, 'n') + ":SubStream");
    EXPECT_EQ(CutDeviceEntry(std::string(300, 'n')), std::string(255, 'n'));
}

TEST_F(PatrolFileTest, AMissingFileIsCreatedFromTheTemplate)
{
    std::list<PatrolTour> tours(1);
    EXPECT_EQ(LoadPatrolFile(m_path, tours), -1);
    EXPECT_TRUE(tours.empty());
    EXPECT_EQ(ReadFile(m_path), "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n\t\t\t\t\t\t   <PatrolList>\n"
                                "\t\t\t\t\t\t   </PatrolList>");
    EXPECT_TRUE(Load().empty());
}

TEST_F(PatrolFileTest, APlayerTourIsWrittenWithSixteenNamesAndReadBack)
{
    PatrolTour t = Tour("Player-3");
    t.points.push_back(Point("", "10", {"Gate"}));
    t.points.push_back(Point("", "15", {"摄像机"}));
    EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written); // the file is made first
    const std::string expected = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
                                 "<PatrolList>\n"
                                 "    <Patrol>\n"
                                 "        <DecodeName>Player-3</DecodeName>\n"
                                 "        <Point>\n"
                                 "            <StayTime>10</StayTime>\n"
                                 "            <DispMode></DispMode>\n" +
                                 PlayerDevNames("Gate") +
                                 "        </Point>\n"
                                 "        <Point>\n"
                                 "            <StayTime>15</StayTime>\n"
                                 "            <DispMode></DispMode>\n" +
                                 PlayerDevNames(qelm::Utf8ToGb18030("摄像机")->c_str()) +
                                 "        </Point>\n"
                                 "    </Patrol>\n"
                                 "</PatrolList>\n";
    EXPECT_EQ(ReadFile(m_path), expected);
    const auto tours = Load();
    ASSERT_EQ(tours.size(), 1u);
    EXPECT_STREQ(tours.front().name, "Player-3");
    ASSERT_EQ(tours.front().points.size(), 2u);
    EXPECT_STREQ(tours.front().points[1].DevName[0], "摄像机"); // no suffix on player points
    EXPECT_STREQ(tours.front().points[1].StayTime, "15");
    EXPECT_STREQ(tours.front().points[1].DispMode, "");
}

TEST_F(PatrolFileTest, DecoderEntriesKeepTheirStreamsAcrossTheFile)
{
    // A decoder whose name merely contains "Player" is still a decoder.
    for (const char* decoder : {"Decoder-A", "PlayerRoom"}) {
        PatrolTour t = Tour(decoder);
        t.points.push_back(Point("1", "20", {"Cam1:SubStream", "", "10.0.0.9:Channel-2:MainStream"}));
        ASSERT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    }
    const std::string file = ReadFile(m_path);
    EXPECT_NE(file.find("<DevName1 StreamType=\"1\">Cam1</DevName1>"), std::string::npos) << file;
    EXPECT_NE(file.find("<DevName2></DevName2>"), std::string::npos);
    EXPECT_NE(file.find("<DevName3 StreamType=\"0\">10.0.0.9:Channel-2</DevName3>"), std::string::npos);
    const auto tours = Load();
    ASSERT_EQ(tours.size(), 2u);
    for (const PatrolTour& t : tours) {
        SCOPED_TRACE(t.name);
        ASSERT_EQ(t.points.size(), 1u);
        EXPECT_STREQ(t.points[0].DispMode, "1");
        EXPECT_STREQ(t.points[0].DevName[0], "Cam1:SubStream");
        EXPECT_STREQ(t.points[0].DevName[1], "");
        EXPECT_STREQ(t.points[0].DevName[2], "10.0.0.9:Channel-2:MainStream");
    }
}

TEST_F(PatrolFileTest, SavingMovesATourToTheEndAndRemovalKeepsTheOthersInOrder)
{
    for (const char* name : {"Player-1", "Player-2", "Player-3"}) {
        PatrolTour t = Tour(name);
        t.points.push_back(Point("", "10", {name}));
        ASSERT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    }
    PatrolTour again = Tour("Player-1");
    again.points.push_back(Point("", "30", {"Other"}));
    ASSERT_EQ(SavePatrolTour(m_path, again), PatrolSave::Written);
    auto names = [this] {
        std::vector<std::string> n;
        for (const PatrolTour& t : Load())
            n.push_back(t.name);
        return n;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"Player-2", "Player-3", "Player-1"}));
    EXPECT_STREQ(Load().back().points[0].DevName[0], "Other");

    EXPECT_EQ(RemovePatrolTour(m_path, "Player-3"), PatrolSave::Written);
    EXPECT_EQ(names(), (std::vector<std::string>{"Player-2", "Player-1"}));
    const std::string before = ReadFile(m_path);
    EXPECT_EQ(RemovePatrolTour(m_path, "Player-9"), PatrolSave::Unchanged);
    EXPECT_EQ(ReadFile(m_path), before);
}

TEST_F(PatrolFileTest, DuplicateNamesAreListedTogetherAndOnlyTheFirstIsReplaced)
{
    WriteFile(m_path, "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<PatrolList>"
                      "<Patrol><DecodeName>Player-5</DecodeName><Point><StayTime>11</StayTime><DispMode/>"
                      "<DevName1 StreamType=\"1\">A</DevName1></Point></Patrol>"
                      "<Other/>"
                      "<Patrol><DecodeName>Player-5</DecodeName><Point><StayTime>12</StayTime><DispMode/>"
                      "<DevName1 StreamType=\"1\">B</DevName1></Point></Patrol>"
                      "</PatrolList>");
    auto tours = Load();
    ASSERT_EQ(tours.size(), 2u);
    EXPECT_STREQ(tours.front().points[0].DevName[0], "A");
    EXPECT_STREQ(tours.back().points[0].DevName[0], "B");

    PatrolTour t = Tour("Player-5");
    t.points.push_back(Point("", "13", {"C"}));
    ASSERT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    tours = Load();
    ASSERT_EQ(tours.size(), 2u);
    EXPECT_STREQ(tours.front().points[0].DevName[0], "B");
    EXPECT_STREQ(tours.back().points[0].DevName[0], "C");
    EXPECT_NE(ReadFile(m_path).find("<Other />"), std::string::npos); // foreign elements stay
}

TEST_F(PatrolFileTest, ADamagedFileIsKeptAsideAndReplacedByTheTemplate)
{
    const std::string damaged = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<PatrolList><Patrol><DecodeName>Pl";
    WriteFile(m_path, damaged);
    std::list<PatrolTour> tours;
    EXPECT_EQ(LoadPatrolFile(m_path, tours), -1);
    EXPECT_TRUE(tours.empty());
    EXPECT_EQ(ReadFile(m_path), kPatrolTemplate);
    std::string kept;
    for (const std::string& n : ConfigFiles())
        if (n.rfind("PatrolInfo", 0) == 0 && n.find(".damaged-") != std::string::npos)
            kept = n;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadFile(m_config + kept), damaged);
    // Saving works again at once.
    PatrolTour t = Tour("Player-1");
    t.points.push_back(Point("", "10", {"Gate"}));
    EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    EXPECT_EQ(Load().size(), 1u);
}

TEST_F(PatrolFileTest, SavesMendAFileWithoutRootOrOneDeletedSinceTheStart)
{
    PatrolTour t = Tour("Player-2");
    t.points.push_back(Point("", "10", {"Gate"}));

    WriteFile(m_path, "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n");
    EXPECT_TRUE(Load().empty());
    EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    EXPECT_EQ(Load().size(), 1u);

    unlink(m_path.c_str());
    EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    EXPECT_EQ(Load().size(), 1u);
    unlink(m_path.c_str());
    EXPECT_EQ(RemovePatrolTour(m_path, "Player-2"), PatrolSave::Unchanged);
}

TEST_F(PatrolFileTest, AFileDamagedAfterTheStartFailsTheSaveAndStaysAsItIs)
{
    const std::string damaged = "<PatrolList><Patrol>";
    WriteFile(m_path, damaged);
    PatrolTour t = Tour("Player-2");
    t.points.push_back(Point("", "10", {"Gate"}));
    EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::LoadFailed);
    EXPECT_EQ(RemovePatrolTour(m_path, "Player-2"), PatrolSave::LoadFailed);
    EXPECT_EQ(ReadFile(m_path), damaged);
}

TEST_F(PatrolFileTest, AFailedWriteIsReportedAndLeavesTheFile)
{
    PatrolTour t = Tour("Player-2");
    t.points.push_back(Point("", "10", {"Gate"}));
    ASSERT_EQ(SavePatrolTour(m_path, t), PatrolSave::Written);
    const std::string before = ReadFile(m_path);
    t.points[0] = Point("", "20", {"Yard"});
    {
        FileSizeLimit full(32); // a full disk, also for root
        EXPECT_EQ(SavePatrolTour(m_path, t), PatrolSave::WriteFailed);
        EXPECT_EQ(RemovePatrolTour(m_path, "Player-2"), PatrolSave::WriteFailed);
    }
    EXPECT_EQ(ReadFile(m_path), before);
}

TEST_F(PatrolFileTest, LongTextsAreCutToTheFieldsWhenReadAndWritten)
{
    const std::string longName(400, 'n');
    const std::string longStay(300, '1');
    WriteFile(m_path, "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<PatrolList><Patrol><DecodeName>" + longName +
                          "</DecodeName><Point><StayTime>" + longStay + "</StayTime><DispMode>" + longStay +
                          "</DispMode><DevName1 StreamType=\"1\">" + longName + "</DevName1></Point></Patrol>"
                          "</PatrolList>");
    const auto tours = Load();
    ASSERT_EQ(tours.size(), 1u);
    EXPECT_EQ(std::string(tours.front().name), longName.substr(0, 255));
    const PatrolPoint& p = tours.front().points[0];
    EXPECT_EQ(std::string(p.StayTime), longStay.substr(0, 127));
    EXPECT_EQ(std::string(p.DispMode), longStay.substr(0, 127));
    // A decoder tour: the cut name keeps its stream.
    EXPECT_EQ(std::string(p.DevName[0]), longName.substr(0, 255) + ":SubStream");
}

TEST_F(PatrolFileTest, TheLoaderTakesABoundedNumberOfRecords)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<PatrolList>";
    for (std::size_t i = 0; i < qelm::cfg::kMaxRecords + 5; ++i)
        xml += "<Patrol><DecodeName>D" + std::to_string(i) + "</DecodeName></Patrol>";
    xml += "<Patrol><DecodeName>many</DecodeName>";
    xml += "</Patrol></PatrolList>";
    WriteFile(m_path, xml);
    EXPECT_EQ(Load().size(), qelm::cfg::kMaxRecords);
}

TEST(PatrolTourSource, ReadersSeeTheRegisteredListOrNone)
{
    struct Page : IPatrolTours {
        std::list<PatrolTour> tours;
        const std::list<PatrolTour>& Tours() const override { return tours; }
    } page, other;
    page.tours.push_back(Tour("Player-1"));
    EXPECT_TRUE(PatrolTours().empty());
    SetPatrolTours(&page);
    EXPECT_EQ(&PatrolTours(), &page.tours);
    WithdrawPatrolTours(&other); // only the registered source withdraws itself
    EXPECT_EQ(PatrolTours().size(), 1u);
    WithdrawPatrolTours(&page);
    EXPECT_TRUE(PatrolTours().empty());
}
