// The video pane: stream addresses per device kind (read from the journal of
// stream-pull calls), refusals, stream reuse of busy sinks, talk in two steps,
// sound without a render, and PTZ command texts.
#include "liveview/video_wnd.h"

#include "tests/liveview/liveview_test_util.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace lvtest;

struct UrlCase {
    int visitMod;
    int devType;
    const char* res;
    int channel;
    const char* call;   // journal name
    const char* expect; // URL, or the stream name for AddStreamEx
};
inline void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << "mode " << c.visitMod << " type " << c.devType << " res '" << c.res << "' channel " << c.channel;
}

class PaneUrls : public ::testing::TestWithParam<UrlCase> {};

TEST_P(PaneUrls, AddStreamArguments)
{
    const UrlCase& c = GetParam();
    Journal journal;
    Host host;
    Devices devs;
    DeviceInfo* d = devs.Add("Cam", "ID9", "127.0.0.1", 1, c.devType, c.visitMod, c.res);
    d->CurNVRChannel = c.channel;
    qelm::CopyBounded(d->DevSN, sizeof d->DevSN, "127.0.0.1");
    qelm::CopyBounded(d->p2pSvr, sizeof d->p2pSvr, "127.0.0.1");
    qelm::CopyBounded(d->p2pSvrList, sizeof d->p2pSvrList, "127.0.0.2");
    CWnd window;
    window.Create(nullptr, CRect(0, 0, 320, 240));
    CVideoWnd pane(&window, 0, 0);
    pane.Create(CVideoWnd::IDD, &window);
    pane.MoveVideoWnd(0, 0, 320, 240);

    ASSERT_EQ(pane.AddWatch(d, 0), 0);
    EXPECT_TRUE(pane.IsWatching());
    EXPECT_EQ(d->WatchFlag, 1);
    EXPECT_EQ(d->WatchStreamType, std::string(c.res) == "cif" ? 0 : 1);
    const auto calls = journal.Calls(c.call);
    ASSERT_EQ(calls.size(), 1u);
    if (std::string(c.call) == "StreamPullControl::AddStream") {
        EXPECT_EQ(calls[0][2], c.expect);
    } else {
        EXPECT_EQ(calls[0][2], "127.0.0.1");
        EXPECT_EQ(calls[0][3], "1");
        EXPECT_EQ(calls[0][4], c.expect);
    }
    EXPECT_NE(d->StreamId1, 0);
    EXPECT_EQ(pane.StopWatch(1), 0);
    EXPECT_EQ(d->StreamId1, 0);
    EXPECT_EQ(d->WatchFlag, 0);
    EXPECT_EQ(journal.Calls("StreamPullControl::DelStream").size(), 1u);
    EXPECT_EQ(pane.StopWatch(1), -1);
}

INSTANTIATE_TEST_SUITE_P(
    ByModeAndType, PaneUrls,
    ::testing::Values(
        UrlCase{0, 1, "", 0, "StreamPullControl::AddStream", "rtsp://127.0.0.1:1/mpeg4"},
        UrlCase{0, 1, "cif", 0, "StreamPullControl::AddStream", "rtsp://127.0.0.1:1/mpeg4cif"},
        UrlCase{0, 0, "cif", 0, "StreamPullControl::AddStream", "rtsp://127.0.0.1:1/h264cif"},
        UrlCase{0, 0, "D1", 0, "StreamPullControl::AddStream", "rtsp://127.0.0.1:1/h264-D1"},
        UrlCase{0, 4, "", 2, "StreamPullControl::AddStream", "rtsp://127.0.0.1:1/h264-"},
        UrlCase{1, 4, "", 3, "StreamPullControl::AddStream", "dovra://127.0.0.1:1/mpeg4-3"},
        UrlCase{1, 4, "cif", 3, "StreamPullControl::AddStream", "dovra://127.0.0.1:1/mpeg4cif-3"},
        UrlCase{1, 1, "cif", 0, "StreamPullControl::AddStream", "dovra://127.0.0.1:1/mpeg4cif"},
        UrlCase{1, 0, "", 0, "StreamPullControl::AddStream", "dovra://127.0.0.1:1/h264-"},
        UrlCase{1, 0, "cif", 0, "StreamPullControl::AddStream", "dovra://127.0.0.1:1/h264cif"},
        UrlCase{2, 1, "cif", 0, "StreamPullControl::AddStreamEx", "mpeg4cif"},
        UrlCase{2, 1, "", 0, "StreamPullControl::AddStreamEx", "mpeg4"},
        UrlCase{2, 0, "x", 0, "StreamPullControl::AddStreamEx", "mpeg4"},
        UrlCase{2, 4, "cif", 0, "StreamPullControl::AddStreamEx", "mpeg4cif"},
        UrlCase{3, 4, "", 2, "StreamPullControl::AddStream", "p2p://ID9@127.0.0.1/mpeg4cif#127.0.0.2-2"},
        UrlCase{3, 1, "", 0, "StreamPullControl::AddStream", "p2p://ID9@127.0.0.1/mpeg4#127.0.0.2"},
        UrlCase{3, 1, "cif", 0, "StreamPullControl::AddStream", "p2p://ID9@127.0.0.1/mpeg4cif#127.0.0.2"}));

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.Create(nullptr, CRect(0, 0, 640, 240));
        for (int i = 0; i < 2; ++i) {
            panes[i] = std::make_unique<CVideoWnd>(&window, 0, 0);
            panes[i]->Create(CVideoWnd::IDD, &window);
            panes[i]->SetWndIndex(i);
            panes[i]->MoveVideoWnd(i * 320, 0, 320, 240);
        }
    }
    void TearDown() override
    {
        for (auto& p : panes)
            if (p)
                p->StopWatch(0);
        devs.Clear();
    }
    Journal journal;
    Host host;
    Devices devs;
    CWnd window;
    std::unique_ptr<CVideoWnd> panes[2];
};

TEST_F(PaneTest, RecordNotInTheListIsRefused)
{
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0);
    DeviceInfo stranger = *d;
    qelm::CopyBounded(stranger.DevName, sizeof stranger.DevName, "Gone");
    EXPECT_EQ(panes[0]->AddWatch(&stranger, 0), -1);
    EXPECT_FALSE(panes[0]->IsWatching());
    EXPECT_TRUE(journal.Calls("StreamPullControl::AddStream").empty());
    // A record without its sinks is refused too.
    stranger = *d;
    stranger.pRtspEvent2 = nullptr;
    EXPECT_EQ(panes[0]->AddWatch(&stranger, 0), -1);
}

TEST_F(PaneTest, BothSinksBusyClosesTheFirstStreamBeforeReusingIt)
{
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0, "");
    const int32_t a = devs.pull.AddStream("rtsp://127.0.0.1:1/mpeg4cif", "", "", 1);
    const int32_t b = devs.pull.AddStream("rtsp://127.0.0.1:1/mpeg4cif", "", "", 1);
    d->pRtspEvent1->SetStreamInfo(a, 0, 0, 0);
    d->pRtspEvent2->SetStreamInfo(b, 0, 0, 0);
    d->StreamId1 = a;
    d->StreamId2 = b;
    journal.Reset();
    ASSERT_EQ(panes[0]->AddWatch(d, 0), 0);
    const auto del = journal.Calls("StreamPullControl::DelStream");
    ASSERT_EQ(del.size(), 1u);
    EXPECT_EQ(del[0][2], std::to_string(a));
    const auto add = journal.Calls("StreamPullControl::AddStream");
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0][2], "rtsp://127.0.0.1:1/mpeg4");
    EXPECT_NE(d->StreamId1, a);
    EXPECT_EQ(d->pRtspEvent1->GetStreamId(), d->StreamId1);
    EXPECT_EQ(d->pRtspEvent2->GetStreamId(), b);
}

TEST_F(PaneTest, AFailedOpenLeavesNoStreamIdAndNoWatch)
{
    // A driver without its control answers -1 for every stream.
    CRtspPullCtrl dead;
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0);
    delete d->pRtspEvent1;
    delete d->pRtspEvent2;
    d->pRtspEvent1 = new CRtspEvents(nullptr, &dead);
    d->pRtspEvent2 = new CRtspEvents(nullptr, &dead);
    EXPECT_EQ(panes[0]->AddWatch(d, 0), -1);
    EXPECT_FALSE(panes[0]->IsWatching());
    EXPECT_EQ(d->StreamId1, 0);
    EXPECT_EQ(d->pRtspEvent1->GetStreamId(), 0);
    EXPECT_EQ(d->WatchFlag, 0);
}

TEST_F(PaneTest, AddressesThatDoNotFitAreRefused)
{
    DeviceInfo* p2p = devs.Add("P2P", "ID2", "127.0.0.1", 1, 1, 3);
    std::string list(1400, 'l'), svr(700, 's');
    qelm::CopyBounded(p2p->p2pSvrList, sizeof p2p->p2pSvrList, list);
    qelm::CopyBounded(p2p->p2pSvr, sizeof p2p->p2pSvr, svr);
    EXPECT_EQ(panes[0]->AddWatch(p2p, 0), -1);
    DeviceInfo* named = devs.Add("Named", "ID3", "127.0.0.1", 1, 1, 2, "toolong");
    qelm::CopyBounded(named->DevSN, sizeof named->DevSN, "127.0.0.1");
    EXPECT_EQ(panes[1]->AddWatch(named, 0), -1);
    EXPECT_TRUE(journal.Calls("StreamPullControl::AddStream").empty());
    EXPECT_TRUE(journal.Calls("StreamPullControl::AddStreamEx").empty());
    EXPECT_EQ(p2p->pRtspEvent1->GetStreamId(), 0);
}

TEST_F(PaneTest, OnvifCameraWithoutProfileIsQueriedAgain)
{
    DeviceInfo* d = devs.Add("Onvif", "ID4", "127.0.0.1", 1, 1, 0, "cif");
    d->OnvifDev = 1;
    qelm::CopyBounded(d->OnvifSerAddr, sizeof d->OnvifSerAddr, "http://127.0.0.1:1/onvif/device_service");
    // The placeholder ONVIF client finds nothing: no profile, no address.
    EXPECT_EQ(panes[0]->AddWatch(d, 0), -1);
    EXPECT_TRUE(journal.Calls("StreamPullControl::AddStream").empty());
    // One profile with an address: "cif" opens profile 0.
    d->OnvifInfo.ProfileCount = 1;
    qelm::CopyBounded(d->OnvifInfo.Profiles[0].StreamUri, sizeof d->OnvifInfo.Profiles[0].StreamUri,
                      "rtsp://127.0.0.1:1/onvif0");
    ASSERT_EQ(panes[0]->AddWatch(d, 0), 0);
    const auto add = journal.Calls("StreamPullControl::AddStream");
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0][2], "rtsp://127.0.0.1:1/onvif0");
}

TEST_F(PaneTest, TalkWaitsForTheDeviceAnswer)
{
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0);
    ASSERT_EQ(panes[0]->AddWatch(d, 0), 0);
    CVideoWnd& p = *panes[0];
    p.ToggleSpeak();
    EXPECT_TRUE(p.IsTalkPending());
    EXPECT_FALSE(p.IsTalkOn());
    p.SetSpeakStatus(1);
    EXPECT_TRUE(p.IsTalkOn());
    EXPECT_FALSE(p.IsTalkPending());
    // Stop: pending and sound clear at once, talk stays on until the answer.
    p.ToggleSpeak();
    EXPECT_TRUE(p.IsTalkOn());
    EXPECT_FALSE(p.IsTalkPending());
    EXPECT_FALSE(p.IsSoundOn());
    p.SetSpeakStatus(0);
    EXPECT_FALSE(p.IsTalkOn());
    EXPECT_EQ(journal.Calls("CAuxPtzCtrl::Speak").size(), 2u);
}

TEST_F(PaneTest, SoundWithoutARenderSucceedsAndClears)
{
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0);
    EXPECT_EQ(panes[0]->OpenSound(), -1);
    ASSERT_EQ(panes[0]->AddWatch(d, 0), 0);
    // Opening sound on a sink whose player does not exist yet fails.
    EXPECT_EQ(panes[0]->OpenSound(), -1);
    EXPECT_FALSE(panes[0]->IsSoundOn());
    // With no rendering sink at all the pane only keeps its mark.
    d->pRtspEvent1->CloseAllDecoder();
    EXPECT_EQ(panes[0]->OpenSound(), 0);
    EXPECT_TRUE(panes[0]->IsSoundOn());
    EXPECT_EQ(panes[0]->OpenSound(), 0);
    EXPECT_FALSE(panes[0]->IsSoundOn());
}

TEST_F(PaneTest, StreamSwitchesAndRefusals)
{
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, 1, 0, "");
    DeviceInfo* dvs = devs.Add("Dvs", "ID2", "127.0.0.1", 1, 0, 0, "");
    ASSERT_EQ(panes[0]->AddWatch(d, 0), 0);
    ASSERT_EQ(panes[1]->AddWatch(dvs, 0), 0);
    EXPECT_EQ(panes[1]->SwitchCifD1(), -1);
    EXPECT_EQ(panes[0]->SwitchCifD1(), 0);
    EXPECT_STREQ(panes[0]->DevCopy().Resolution, "cif");
    EXPECT_EQ(panes[0]->AutoSwitchAllowed(), 0);
    EXPECT_EQ(panes[0]->SwitchCifD1(), 0);
    EXPECT_STREQ(panes[0]->DevCopy().Resolution, "");
    const auto add = journal.Calls("StreamPullControl::AddStream");
    ASSERT_EQ(add.size(), 4u);
    EXPECT_EQ(add[2][2], "rtsp://127.0.0.1:1/mpeg4cif");
    EXPECT_EQ(add[3][2], "rtsp://127.0.0.1:1/mpeg4");
    // The old stream of each switch was closed first.
    EXPECT_EQ(journal.Calls("StreamPullControl::DelStream").size(), 2u);
    d->nPltDev = 1;
    panes[0]->DevCopy().nPltDev = 1;
    EXPECT_EQ(panes[0]->ZoomSwitchMainStream(), 0);
    EXPECT_EQ(panes[0]->ZoomSwitched(), 0);
}

struct PtzCase {
    int devType;
    int channel;
    const char* expect;
};
inline void PrintTo(const PtzCase& c, std::ostream* os)
{
    *os << "type " << c.devType << " channel " << c.channel;
}

class PanePtz : public ::testing::TestWithParam<PtzCase> {};

TEST_P(PanePtz, CommandText)
{
    const PtzCase& c = GetParam();
    Journal journal;
    Host host;
    Devices devs;
    DeviceInfo* d = devs.Add("Cam", "ID1", "127.0.0.1", 1, c.devType, 1);
    d->CurNVRChannel = c.channel;
    CWnd window;
    window.Create(nullptr, CRect(0, 0, 320, 240));
    CVideoWnd pane(&window, 0, 0);
    pane.Create(CVideoWnd::IDD, &window);
    EXPECT_EQ(pane.SendPtzCmd("<xml>\n<cmd>up</cmd>\n</xml>"), -1);   // not watching
    ASSERT_EQ(pane.AddWatch(d, 0), 0);
    pane.SendPtzCmd("<xml>\n<cmd>up</cmd>\n</xml>");
    const auto calls = journal.Calls("CAuxPtzCtrl::PtzControl");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][3], c.expect);
    pane.StopWatch(0);
}

INSTANTIATE_TEST_SUITE_P(ChannelPrefix, PanePtz,
                         ::testing::Values(PtzCase{4, 1, "<channelid>0</channelid>\n<xml>\n<cmd>up</cmd>\n</xml>"},
                                           PtzCase{4, 4, "<channelid>3</channelid>\n<xml>\n<cmd>up</cmd>\n</xml>"},
                                           PtzCase{1, 0, "<xml>\n<cmd>up</cmd>\n</xml>"}));

TEST_F(PaneTest, PtzCommandLongerThanTheBufferIsRefused)
{
    DeviceInfo* nvr = devs.Add("Channel-1", "ID1", "127.0.0.1", 1, 4, 1);
    nvr->CurNVRChannel = 1;
    ASSERT_EQ(panes[0]->AddWatch(nvr, 0), 0);
    const std::string prefix = "<channelid>0</channelid>\n";
    const std::string fits(CVideoWnd::kPtzBufSize - 1 - prefix.size(), 'x');
    const std::string over(CVideoWnd::kPtzBufSize - prefix.size(), 'x');
    panes[0]->SendPtzCmd(fits.c_str());
    EXPECT_EQ(panes[0]->SendPtzCmd(over.c_str()), -1);
    const auto calls = journal.Calls("CAuxPtzCtrl::PtzControl");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][3], prefix + fits);
}

} // namespace
