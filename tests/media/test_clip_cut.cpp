// Tests of the clip cutting dialog: the range copied from key frame to key
// frame, the clip's header form and name, the completion message, and what
// happens on bad ranges and failures.
#include "media/clip_cut_dlg.h"

#include "controls/avi_file.h"
#include "core/helpers.h"
#include "media/avi_reader.h"
#include "platform/clock.h"
#include "res/strings.h"
#include "tests/controls/avi_test_util.h"
#include "ui/res_msg_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <cstring>

using namespace avitest;

namespace {

// A recording of `seconds` seconds: H.264 (a key frame every 25 frames) and
// mu-law audio, or H.265 alone.
std::string MakeSource(const std::string& path, int seconds, bool hevc = false)
{
    const std::vector<Frame> video =
        hevc ? SplitStream(Streams::Get().H265(seconds), "hevc") : SplitStream(Streams::Get().H264(seconds), "h264");
    const std::vector<Frame> audio = hevc ? std::vector<Frame>() : SplitRaw(Streams::Get().Mulaw(seconds), 320);
    AviVideoDesc v{};
    strcpy(v.codec, hevc ? "H265" : "H264");
    v.width = 176;
    v.height = 144;
    v.frameRate = 25;
    if (!video.empty()) {
        const std::vector<uint8_t> ps = ParameterSets(video[0].data, hevc);
        memcpy(v.config, ps.data(), std::min<size_t>(ps.size(), 256));
        v.configLength = int32_t(std::min<size_t>(ps.size(), 256));
    }
    AviAudioDesc a{};
    strcpy(a.codec, "G711");
    a.sampleRate = 8000;
    a.channels = 1;
    a.bitsPerSample = 16;
    CWriteAviFile w;
    w.SetFileName(0, path.c_str());
    w.SetMediaParam(!audio.empty(), seconds, &a, &v);
    EXPECT_EQ(w.Start(), 1);
    for (size_t i = 0; i < video.size(); ++i) {
        w.WriteVideoFrame(video[i].key, video[i].data.data(), int(video[i].data.size()));
        if (i < audio.size())
            w.WriteAudioFrame(audio[i].data.data(), int(audio[i].data.size()));
    }
    w.Stop();
    return path;
}

std::vector<std::string> Files(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class ClipCutTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_strTitle = "Corvane";
        fs::create_directory(out);
    }

    void Open(const std::string& source)
    {
        ASSERT_EQ(dlg.SetSourceFile(source.c_str()), 0);
        ASSERT_TRUE(dlg.Create(CCropDlg::IDD));
    }
    void Range(QTime start, QTime end)
    {
        dlg.GetDlgItemT<QTimeEdit>(CCropDlg::IDC_TIME_START)->setTime(start);
        dlg.GetDlgItemT<QTimeEdit>(CCropDlg::IDC_TIME_END)->setTime(end);
    }
    void Cut()
    {
        dlg.SetDlgItemText(CCropDlg::IDC_EDIT_OUTDIR, out.c_str());
        dlg.GetDlgItemT<QPushButton>(CCropDlg::IDC_BTN_CUT)->click();
    }
    CResMsgDlg* Message() const
    {
        for (QObject* child : dlg.children())
            if (auto* box = dynamic_cast<CResMsgDlg*>(child); box && box->isVisible())
                return box;
        return nullptr;
    }

    TempDir dir;
    std::string out = dir / "clips";
    CCropDlg dlg;
};

} // namespace

TEST_F(ClipCutTest, CutsFromTheKeyFrameOfTheStartToThatOfTheEnd)
{
    const std::string src = MakeSource(dir / "source.avi", 30);
    Open(src);
    EXPECT_EQ(dlg.GetDuration(), 30);
    EXPECT_EQ(dlg.GetDlgItemText(CCropDlg::IDC_STATIC_DURATION_VALUE), "00:00:30");
    EXPECT_EQ(dlg.GetDlgItemT<QTimeEdit>(CCropDlg::IDC_TIME_END)->time(), QTime(0, 0, 30));
    EXPECT_EQ(dlg.GetDlgItemText(CCropDlg::IDC_EDIT_SRC), src);
    EXPECT_EQ(dlg.GetOutputFolder(), dir.path() + "/");
    EXPECT_EQ(dlg.GetWindowText(), LoadResString(1531));
    EXPECT_EQ(dlg.GetDlgItemText(CCropDlg::IDC_STATIC_END), LoadResString(1538));

    const std::tm before = qelm::LocalNow();
    Range(QTime(0, 0, 10), QTime(0, 0, 20));
    Cut();
    const std::vector<std::string> files = Files(out);
    ASSERT_EQ(files.size(), 1u);
    const std::string& name = files[0];
    EXPECT_EQ(dlg.GetLastClip(), out + "/" + name);
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "crop_%d%02d%02d_", before.tm_year + 1900, before.tm_mon + 1, before.tm_mday);
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
    EXPECT_EQ(name.size(), strlen("crop_20240101_101010.avi"));

    // The source has audio, so the clip declares it.
    const std::string clip = out + "/" + name;
    const AviLayout L = CheckAviLayout(clip);
    EXPECT_TRUE(L.errors.empty()) << Join(L.errors);
    EXPECT_TRUE(L.withAudio);
    EXPECT_EQ(L.videoFrames, 251u); // frames 250 to 500
    ASSERT_FALSE(L.chunks.empty());
    EXPECT_EQ(L.chunks[0].code, avi::kVideoChunk);
    EXPECT_EQ(L.index[0].flags, 16u);

    const std::vector<bool> keys = ProbeVideoKeyFlags(clip);
    ASSERT_FALSE(keys.empty());
    EXPECT_TRUE(keys.front());
    const double duration = std::stod(Probe(clip, "", "format=duration")["duration"]);
    EXPECT_GE(duration, 10.0);
    EXPECT_LE(duration, 11.0);
    EXPECT_EQ(Probe(clip, "a:0", "stream=codec_name")["codec_name"], "pcm_mulaw");
    EXPECT_EQ(DecodeErrors(clip), "");

    CReadAviFile r;
    ASSERT_EQ(r.Open(clip.c_str()), 1);
    EXPECT_EQ(r.GetAllTime(), 10);
    EXPECT_EQ(r.GetMediaType(), 17);

    CResMsgDlg* box = Message();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetDlgItemText(CResMsgDlg::IDC_TEXT), LoadResString(1502));
    EXPECT_EQ(box->GetWindowText(), "Corvane");
    EXPECT_TRUE(dlg.isVisible() || !dlg.IsModal()); // the dialog stays
}

TEST_F(ClipCutTest, RangesThatCutNothing)
{
    const std::string src = MakeSource(dir / "source.avi", 4);
    Open(src);
    struct Case {
        QTime start, end;
    };
    // A start at or after the end cuts nothing.
    for (const Case& c : {Case{QTime(0, 0, 3), QTime(0, 0, 2)}, Case{QTime(0, 0, 2), QTime(0, 0, 2)},
                          Case{QTime(0, 0, 0), QTime(0, 0, 0)}}) {
        Range(c.start, c.end);
        Cut();
    }
    dlg.SetDlgItemText(CCropDlg::IDC_EDIT_OUTDIR, "");
    Range(QTime(0, 0, 0), QTime(0, 0, 4));
    dlg.GetDlgItemT<QPushButton>(CCropDlg::IDC_BTN_CUT)->click(); // no output folder
    EXPECT_TRUE(Files(out).empty());
    EXPECT_EQ(Message(), nullptr);

    // A start beyond the duration is taken back to its last second; a range
    // to the end of the recording takes its last frames too.
    Range(QTime(0, 0, 9), QTime(0, 0, 9));
    Cut();
    ASSERT_EQ(Files(out).size(), 1u);
    CReadAviFile r;
    ASSERT_EQ(r.Open((out + "/" + Files(out)[0]).c_str()), 1);
    EXPECT_EQ(r.GetVideoChunks(), 25); // frames 75 to 99
    EXPECT_EQ(r.GetAudioChunks(), 25);
}

TEST_F(ClipCutTest, FailedCutWritesNoClipAndShowsNoMessage)
{
    const std::string src = MakeSource(dir / "source.avi", 4);
    Open(src);
    fs::remove(src); // gone after it was chosen
    Range(QTime(0, 0, 1), QTime(0, 0, 3));
    Cut();
    EXPECT_TRUE(Files(out).empty());
    EXPECT_EQ(Message(), nullptr);

    // An output folder that cannot be written.
    MakeSource(src, 4);
    dlg.SetDlgItemText(CCropDlg::IDC_EDIT_OUTDIR, (dir / "missing").c_str());
    dlg.GetDlgItemT<QPushButton>(CCropDlg::IDC_BTN_CUT)->click();
    EXPECT_EQ(Message(), nullptr);
    EXPECT_TRUE(dlg.GetLastClip().empty());
}

TEST_F(ClipCutTest, H265RecordingGivesAClipWithVideo)
{
    const std::string src = MakeSource(dir / "hevc.avi", 4, true);
    const std::string clip = out + "/clip.avi";
    ASSERT_TRUE(CCropDlg::CutFile(src, clip, 1, 3));
    CReadAviFile r;
    ASSERT_EQ(r.Open(clip.c_str()), 1);
    EXPECT_EQ(r.GetVideoChunks(), 51);
    EXPECT_EQ(r.GetMediaType(), 16);
    EXPECT_EQ(Probe(clip, "v:0", "stream=codec_name")["codec_name"], "hevc");
    EXPECT_EQ(ProbeVideoKeyFlags(clip).front(), true);
    EXPECT_EQ(DecodeErrors(clip), "");
}

TEST_F(ClipCutTest, LongRecordingShowsHoursMinutesSeconds)
{
    // 3,700 one-frame seconds.
    const std::string src = dir / "long.avi";
    AviVideoDesc v{};
    strcpy(v.codec, "H264");
    v.frameRate = 1;
    CWriteAviFile w;
    w.SetFileName(0, src.c_str());
    w.SetMediaParam(0, 0, nullptr, &v);
    ASSERT_EQ(w.Start(), 1);
    const uint8_t idr[8] = {0, 0, 0, 1, 0x65, 0x88, 0x80, 0};
    for (int i = 0; i < 3700; ++i)
        w.WriteVideoFrame(1, idr, sizeof(idr));
    w.Stop();
    Open(src);
    EXPECT_EQ(dlg.GetDlgItemText(CCropDlg::IDC_STATIC_DURATION_VALUE), "01:01:40");
    EXPECT_EQ(dlg.GetDlgItemT<QTimeEdit>(CCropDlg::IDC_TIME_END)->time(), QTime(1, 1, 40));
    EXPECT_EQ(dlg.GetDlgItemT<QTimeEdit>(CCropDlg::IDC_TIME_START)->time(), QTime(0, 0, 0));
}

TEST(ClipCut, SourcePathLimits)
{
    CCropDlg dlg;
    EXPECT_EQ(dlg.SetSourceFile(nullptr), -1);
    EXPECT_EQ(dlg.SetSourceFile(""), -1);
    EXPECT_EQ(dlg.SetSourceFile(std::string(260, 'a').c_str()), -1);
    EXPECT_EQ(dlg.SetSourceFile(std::string(259, 'a').c_str()), 0);
    EXPECT_EQ(dlg.GetSourceFile().size(), 259u);
}
