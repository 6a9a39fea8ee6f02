// Tests of the relay stream renderer: a real stream player in a pane fed with
// H.264 and G.711 frames the way the relay library's thread hands them over.
#include "media/relay_stream_player.h"

#include "controls/control_registry.h"
#include "controls/journal.h"
#include "core/userinfo.h"
#include "tests/media/media_test_util.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPointer>

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

using namespace mp4test;

namespace {

using Line = std::vector<std::string>;

// Points the journal at a file of its own for the scope; Lines() reads it.
class ScopedJournal {
public:
    ScopedJournal() : m_path(m_dir / "journal.txt"), m_env("QELM2_JOURNAL", m_path.c_str()) {}
    std::vector<Line> Lines() const
    {
        std::vector<Line> lines;
        QFile f(QString::fromStdString(m_path));
        if (f.open(QIODevice::ReadOnly))
            while (!f.atEnd())
                lines.push_back(qelm::Journal::ParseLine(f.readLine().toStdString()));
        return lines;
    }
    // Calls whose name and first arguments are these, in journal order.
    std::vector<Line> Calls(const Line& prefix) const
    {
        std::vector<Line> out;
        for (const Line& l : Lines())
            if (l.size() > prefix.size() && l[0] == "call" && std::equal(prefix.begin(), prefix.end(), l.begin() + 1))
                out.push_back(l);
        return out;
    }

private:
    TempDir m_dir;
    std::string m_path;
    qelmtest::ScopedEnv m_env;
};

bool WaitFor(const std::function<bool()>& pred, int ms = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A pane's render area: a top-level window of the given size.
struct Pane : CWnd {
    Pane(int w, int h)
    {
        Create(nullptr, CRect(0, 0, w, h));
        show();
    }
};

MediaFrameHeader Info(int32_t key, double ts, int32_t reserved = 0)
{
    return MediaFrameHeader{key, reserved, ts};
}

bool IsRed(QRgb c) { return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80; }
bool IsBlue(QRgb c) { return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80; }

class RelayStreamPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidStreamPlayer);
        // Left half red, right half blue, 160x120: position is easy to check.
        const std::string video = Streams::Get().Make(
            "relay-red-blue.h264", "-f lavfi -i \"color=c=red:s=80x120:r=25,pad=160:120:0:0:blue\" -frames:v 50 "
                                   "-c:v libx264 -bf 0 -g 25 -pix_fmt yuv420p -f h264");
        s_video = new std::vector<Frame>(SplitStream(video, "h264"));
        s_audio = new std::vector<Frame>(SplitRaw(Streams::Get().Mulaw(), 160));
    }
    static void TearDownTestSuite()
    {
        delete s_video;
        delete s_audio;
        s_video = s_audio = nullptr;
    }
    void SetUp() override
    {
        ASSERT_GE(s_video->size(), 50u) << "ffmpeg made no video";
        ASSERT_GE(s_audio->size(), 10u) << "ffmpeg made no audio";
        ASSERT_TRUE((*s_video)[0].key);
        m_saved = g_DispInfoSetting;
    }
    void TearDown() override { g_DispInfoSetting = m_saved; }

    static VideoParam H264Param()
    {
        VideoParam v{};
        strncpy(v.codecName, "H264", sizeof v.codecName - 1);
        v.width = 160;
        v.height = 120;
        v.frameRate = 25;
        return v;
    }
    static AudioParam AudioParamOf(const char* codec)
    {
        AudioParam a{};
        strncpy(a.codecName, codec, sizeof a.codecName - 1);
        a.sampleRate = 8000;
        a.bitsPerSample = 16;
        a.channels = 1;
        return a;
    }
    static int32_t Feed(CRelayStreamPlayer& p, int32_t kind, const Frame& f, const MediaFrameHeader* info)
    {
        return p.InputData(kind, f.data.data(), int32_t(f.data.size()), info);
    }
    // The video frames from first to last, each with its key flag and a 40 ms step.
    static int FeedVideo(CRelayStreamPlayer& p, size_t first, size_t last)
    {
        int failures = 0;
        for (size_t i = first; i < last && i < s_video->size(); ++i) {
            const MediaFrameHeader h = Info((*s_video)[i].key ? 1 : 0, double(i) * 40);
            failures += Feed(p, 0, (*s_video)[i], &h) != 0;
        }
        return failures;
    }
    static int64_t Pictures(CRelayStreamPlayer& p)
    {
        return p.GetPlayer() ? p.GetPlayer()->GetControl()->DecodedPictures(p.GetRenderId()) : -1;
    }

    static inline std::vector<Frame>* s_video = nullptr;
    static inline std::vector<Frame>* s_audio = nullptr;
    DispInfoSetting m_saved;
};

TEST_F(RelayStreamPlayerTest, OpenMakesOneRenderOverTheParentWithTheSettings)
{
    g_DispInfoSetting.FilpMode = 1;
    g_DispInfoSetting.ShowLastFrame = 1;
    Pane pane(320, 240);
    CRelayStreamPlayer p;
    ScopedJournal journal;
    ASSERT_EQ(p.Open(&pane), 0);
    ASSERT_NE(p.GetPlayer(), nullptr);
    const int32_t id = p.GetRenderId();
    EXPECT_GT(id, 0);
    EXPECT_EQ(p.GetPlayer()->parentWidget(), &pane);
    EXPECT_EQ(p.GetPlayer()->geometry(), QRect(0, 0, 320, 240));
    EXPECT_TRUE(p.GetPlayer()->isVisible());
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::CreateRender", "TEST"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetFullDisplay", "1"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetZoomMode", std::to_string(id), "0"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetShowLastFrame", "1"}).size(), 1u);

    // Opening again replaces the window; a null parent leaves none.
    QPointer<CStreamPlayerCtrl> first(p.GetPlayer());
    ASSERT_EQ(p.Open(&pane), 0);
    EXPECT_TRUE(first.isNull());
    EXPECT_NE(p.GetRenderId(), id);
    QPointer<CStreamPlayerCtrl> second(p.GetPlayer());
    EXPECT_EQ(p.Open(nullptr), -1);
    EXPECT_EQ(p.GetPlayer(), nullptr);
    EXPECT_TRUE(second.isNull());
}

TEST_F(RelayStreamPlayerTest, WithoutPlayerEveryOperationRefusesAndNothingReachesAControl)
{
    const VideoParam v = H264Param();
    const AudioParam a = AudioParamOf("G711");
    const MediaFrameHeader h = Info(1, 40);
    struct State {
        const char* name;
        bool openFirst;
    };
    for (const State& s : {State{"never opened", false}, State{"opened and closed", true}}) {
        SCOPED_TRACE(s.name);
        Pane pane(160, 120);
        CRelayStreamPlayer p;
        ScopedJournal journal;
        int32_t id = 0;
        QPointer<CStreamPlayerCtrl> window;
        if (s.openFirst) {
            ASSERT_EQ(p.Open(&pane), 0);
            id = p.GetRenderId();
            window = p.GetPlayer();
            p.Close();
            EXPECT_TRUE(window.isNull()) << "the window is destroyed";
            // Decoders first, then the render.
            std::vector<Line> order;
            for (const Line& l : journal.Lines())
                if (l.size() > 1 && (l[1] == "CStreamPlayerCtrl::CloseDecoder" || l[1] == "CStreamPlayerCtrl::DestroyRender"))
                    order.push_back(Line(l.begin() + 1, l.end() - 1));
            const std::string rid = std::to_string(id);
            EXPECT_EQ(order, (std::vector<Line>{{"CStreamPlayerCtrl::CloseDecoder", "1", rid},
                                                {"CStreamPlayerCtrl::CloseDecoder", "0", rid},
                                                {"CStreamPlayerCtrl::DestroyRender", rid}}));
        }
        const size_t linesBefore = journal.Lines().size();
        EXPECT_EQ(p.GetPlayer(), nullptr);
        EXPECT_EQ(Feed(p, 0, (*s_video)[0], &h), -1);
        EXPECT_EQ(Feed(p, 1, (*s_audio)[0], &h), -1);
        EXPECT_EQ(Feed(p, 0, (*s_video)[0], nullptr), -1);
        EXPECT_EQ(p.SnapShot("/tmp/never.jpg"), -1);
        EXPECT_EQ(p.SetFullDisplay(1), -1);
        EXPECT_EQ(p.SetShowLastFrame(), -1);
        EXPECT_EQ(p.OpenSound(), -1);
        EXPECT_EQ(p.CloseSound(), -1);
        p.SetVideoParam(&v);
        p.SetAudioParam(&a);
        EXPECT_EQ(p.Resize(), 0);
        EXPECT_EQ(p.SetZoomMode(2), 0);
        EXPECT_EQ(p.GetZoomMode(), 2);
        p.Close();  // twice is harmless
        EXPECT_EQ(journal.Lines().size(), linesBefore) << "no call reached a control";
        EXPECT_FALSE(QFile::exists("/tmp/never.jpg"));
    }
}

TEST_F(RelayStreamPlayerTest, RelayKindsMapToThePlayersKinds)
{
    struct Case {
        int32_t relayKind;
        int32_t playerKind;  // -1: refused, nothing reaches the player
    };
    const Case cases[] = {{0, 1}, {1, 0}, {2, -1}, {-1, -1}, {3, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relayKind);
        Pane pane(160, 120);
        CRelayStreamPlayer p;
        ASSERT_EQ(p.Open(&pane), 0);
        const VideoParam v = H264Param();
        const AudioParam a = AudioParamOf("G711");
        p.SetVideoParam(&v);
        p.SetAudioParam(&a);
        ScopedJournal journal;
        const Frame& f = c.relayKind == 1 ? (*s_audio)[0] : (*s_video)[0];
        const MediaFrameHeader h = Info(1, 0);
        const int32_t result = Feed(p, c.relayKind, f, &h);
        const auto inputs = journal.Calls({"CStreamPlayerCtrl::InputData"});
        const auto control = p.GetPlayer()->GetControl();
        if (c.playerKind < 0) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(inputs.empty());
            EXPECT_EQ(control->DecodedPictures(p.GetRenderId()), 0);
            EXPECT_EQ(control->DecodedAudioFrames(p.GetRenderId()), 0);
        } else {
            EXPECT_EQ(result, 0) << "the control's result";
            ASSERT_EQ(inputs.size(), 1u);
            EXPECT_EQ(inputs[0][2], std::to_string(c.playerKind));
            EXPECT_EQ(inputs[0][3], std::to_string(p.GetRenderId()));
            EXPECT_EQ(inputs[0][5], std::to_string(f.data.size()));
            EXPECT_EQ(inputs[0][7], "16");
            if (c.playerKind == 0) {
                EXPECT_GT(control->DecodedAudioFrames(p.GetRenderId()), 0);
            }
        }
    }
}

TEST_F(RelayStreamPlayerTest, EmptyAudioCodecLeavesTheDecoderUnsetAndFramesStillReachThePlayer)
{
    Pane pane(160, 120);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(&pane), 0);
    const int32_t id = p.GetRenderId();
    StreamPlayerControl* control = p.GetPlayer()->GetControl();
    ScopedJournal journal;
    const AudioParam empty = AudioParamOf("");
    p.SetAudioParam(&empty);
    p.SetAudioParam(nullptr);
    EXPECT_TRUE(journal.Calls({"CStreamPlayerCtrl::SetupDecoder"}).empty());

    const MediaFrameHeader h = Info(0, 20);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Feed(p, 1, (*s_audio)[size_t(i)], &h), -1) << "no decoder: the control refuses";
    const auto inputs = journal.Calls({"CStreamPlayerCtrl::InputData", "0", std::to_string(id)});
    EXPECT_EQ(inputs.size(), 5u) << "every audio frame reached the player";
    EXPECT_EQ(control->DecodedAudioFrames(id), 0);

    // A named codec sets the decoder up, and the same frames then decode.
    const AudioParam g711 = AudioParamOf("G711");
    p.SetAudioParam(&g711);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetupDecoder", "0", std::to_string(id), "G711", "276"}).size(), 1u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Feed(p, 1, (*s_audio)[size_t(i)], &h), 0);
    EXPECT_GE(control->DecodedAudioFrames(id), 5);
}

TEST_F(RelayStreamPlayerTest, NullFrameInformationKeepsTheLastKeyFlagAndTimeStampOfThatKind)
{
    Pane pane(160, 120);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(&pane), 0);
    const VideoParam v = H264Param();
    p.SetVideoParam(&v);
    auto same = [](const MediaFrameHeader& a, const MediaFrameHeader& b) {
        return a.keyFrame == b.keyFrame && a.renderOffsetUs == b.renderOffsetUs && a.timeStamp == b.timeStamp;
    };

    // Only the key flag and the time stamp are taken from the information.
    const MediaFrameHeader first = Info(1, 1234.5, 77);
    EXPECT_EQ(Feed(p, 0, (*s_video)[0], &first), 0);
    EXPECT_TRUE(same(p.GetVideoHeader(), Info(1, 1234.5)));
    ScopedJournal journal;
    EXPECT_EQ(Feed(p, 0, (*s_video)[1], nullptr), 0);
    EXPECT_TRUE(same(p.GetVideoHeader(), Info(1, 1234.5)));
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::InputData", "1"}).size(), 1u) << "the frame still went to the player";

    // Each kind keeps its own.
    const MediaFrameHeader audio = Info(0, 40);
    Feed(p, 1, (*s_audio)[0], &audio);
    Feed(p, 1, (*s_audio)[1], nullptr);
    EXPECT_TRUE(same(p.GetAudioHeader(), Info(0, 40)));
    EXPECT_TRUE(same(p.GetVideoHeader(), Info(1, 1234.5)));
    const MediaFrameHeader next = Info(0, 1274.5);
    EXPECT_EQ(Feed(p, 0, (*s_video)[2], &next), 0);
    EXPECT_TRUE(same(p.GetVideoHeader(), Info(0, 1274.5)));
    EXPECT_TRUE(same(p.GetAudioHeader(), Info(0, 40)));
}

TEST_F(RelayStreamPlayerTest, RelayedH264IsPaintedInThePaneAndFollowsItsParent)
{
    g_DispInfoSetting.FilpMode = 0;
    Pane pane(320, 240);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(&pane), 0);
    const VideoParam v = H264Param();
    p.SetVideoParam(&v);
    int failures = -1;
    std::thread relay([&] { failures = FeedVideo(p, 0, 30); });
    relay.join();
    EXPECT_EQ(failures, 0);
    StreamPlayerControl* control = p.GetPlayer()->GetControl();
    ASSERT_TRUE(WaitFor([&] { return control->HasPicture(); }));
    EXPECT_GE(Pictures(p), 28);
    ASSERT_TRUE(WaitFor([&] {
        const QImage shot = pane.grab().toImage();
        return IsRed(shot.pixel(60, 120)) && IsBlue(shot.pixel(260, 120));
    })) << "left red, right blue";

    TempDir dir;
    const std::string jpg = dir / "snap.jpg";
    EXPECT_EQ(p.SnapShot(jpg.c_str()), 0);
    const QImage snap(QString::fromStdString(jpg), "JPG");
    ASSERT_FALSE(snap.isNull()) << "a JPEG picture";
    EXPECT_EQ(snap.size(), QSize(160, 120));
    EXPECT_TRUE(IsRed(snap.pixel(20, 60)));
    EXPECT_TRUE(IsBlue(snap.pixel(140, 60)));

    // The pane grows: Resize follows it.
    pane.resize(400, 300);
    EXPECT_EQ(p.Resize(), 0);
    EXPECT_EQ(p.GetPlayer()->geometry(), QRect(0, 0, 400, 300));

    // Moved into another pane without closing: frames keep coming.
    Pane other(200, 150);
    EXPECT_EQ(p.SetParentWnd(&other), 1);
    EXPECT_EQ(p.GetPlayer()->parentWidget(), &other);
    EXPECT_EQ(p.GetPlayer()->geometry(), QRect(0, 0, 200, 150));
    const int64_t before = Pictures(p);
    EXPECT_EQ(FeedVideo(p, 30, 50), 0);
    EXPECT_GT(Pictures(p), before);
    ASSERT_TRUE(WaitFor([&] { return IsRed(other.grab().toImage().pixel(40, 75)); }));
    EXPECT_EQ(p.SetParentWnd(nullptr), -1);
    EXPECT_EQ(p.GetPlayer()->parentWidget(), &other);
}

TEST_F(RelayStreamPlayerTest, ForwardsSoundZoomAndDisplayCallsToItsRender)
{
    g_DispInfoSetting.ShowLastFrame = 1;
    Pane pane(160, 120);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(&pane), 0);
    const std::string id = std::to_string(p.GetRenderId());
    ScopedJournal journal;
    EXPECT_EQ(p.OpenSound(), 0);
    EXPECT_EQ(p.CloseSound(), 0);
    EXPECT_EQ(p.SetZoomMode(3), 0);
    EXPECT_EQ(p.GetZoomMode(), 3);
    EXPECT_EQ(p.SetFullDisplay(1), 0);
    EXPECT_EQ(p.SetShowLastFrame(), 0);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetSound", id, "1"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetSound", id, "0"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetZoomMode", id, "3"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetFullDisplay", "1"}).size(), 1u);
    EXPECT_EQ(journal.Calls({"CStreamPlayerCtrl::SetShowLastFrame", "1"}).size(), 1u);
}

TEST_F(RelayStreamPlayerTest, APaneDestroyedAroundThePlayerLeavesItForClose)
{
    auto* pane = new Pane(160, 120);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(pane), 0);
    const VideoParam v = H264Param();
    p.SetVideoParam(&v);
    QPointer<CStreamPlayerCtrl> window(p.GetPlayer());
    delete pane;
    ASSERT_FALSE(window.isNull()) << "the window outlives the pane until Close";
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(p.Resize(), 0);
    EXPECT_EQ(FeedVideo(p, 0, 5), 0);

    Pane next(200, 150);
    EXPECT_EQ(p.SetParentWnd(&next), 1);
    EXPECT_EQ(window->parentWidget(), &next);
    EXPECT_TRUE(window->isVisible());
    p.Close();
    EXPECT_TRUE(window.isNull());
}

TEST_F(RelayStreamPlayerTest, CloseAndReopenWhileTheRelayThreadFeeds)
{
    Pane pane(320, 240);
    CRelayStreamPlayer p;
    ScopedJournal journal;
    ASSERT_EQ(p.Open(&pane), 0);
    const VideoParam v = H264Param();
    p.SetVideoParam(&v);
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0}, dropped{0};
    std::thread relay([&] {
        for (size_t i = 0; !stop; i = (i + 1) % s_video->size()) {
            const Frame& f = (*s_video)[i];
            const MediaFrameHeader h = Info(f.key ? 1 : 0, double(i) * 40);
            (p.InputData(0, f.data.data(), int32_t(f.data.size()), i % 3 ? &h : nullptr) == 0 ? accepted : dropped)++;
            const MediaFrameHeader a = Info(0, double(i) * 40);
            p.InputData(1, (*s_audio)[i % s_audio->size()].data.data(), 160, &a);
        }
    });
    for (int round = 0; round < 40; ++round) {
        p.Close();
        QApplication::processEvents();
        ASSERT_EQ(p.Open(&pane), 0);
        p.SetVideoParam(&v);
        const AudioParam a = AudioParamOf(round % 2 ? "G711" : "");
        p.SetAudioParam(&a);
        const int target = accepted + 3;
        WaitFor([&] { return accepted >= target; }, 2000);
    }
    stop = true;
    relay.join();
    p.Close();
    EXPECT_GT(accepted, 40);
    EXPECT_GT(dropped, 0) << "frames refused while closed or before a key frame";

    // No frame reached a render after Close began to take it down.
    std::set<std::string> closing;
    int late = 0;
    for (const Line& l : journal.Lines()) {
        if (l.size() > 3 && l[1] == "CStreamPlayerCtrl::CloseDecoder")
            closing.insert(l[3]);
        else if (l.size() > 3 && l[1] == "CStreamPlayerCtrl::InputData" && closing.count(l[3]))
            ++late;
    }
    EXPECT_EQ(closing.size(), 41u);
    EXPECT_EQ(late, 0);
}

TEST_F(RelayStreamPlayerTest, CloseOffTheUiThreadDestroysTheWindowOnIt)
{
    Pane pane(160, 120);
    CRelayStreamPlayer p;
    ASSERT_EQ(p.Open(&pane), 0);
    QPointer<CStreamPlayerCtrl> window(p.GetPlayer());
    std::thread([&] { p.Close(); }).join();
    EXPECT_EQ(p.GetPlayer(), nullptr);
    const MediaFrameHeader h = Info(1, 0);
    EXPECT_EQ(Feed(p, 0, (*s_video)[0], &h), -1);
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); }));
}

} // namespace
