// Live video from the RTSP camera fixture on 127.0.0.1 in a grid hosted in a
// test window: decoded pictures in the pane, one stream for a second pane,
// and the watched panes saved and reopened by a new grid.
#include "liveview/video_manager_dlg.h"

#include "tests/liveview/liveview_test_util.h"
#include "tests/support/rtsp_camera.h"

#include <QImage>

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace lvtest;

int64_t Pictures(CRtspEvents* s)
{
    CStreamPlayerCtrl* r = s ? s->GetMainRender() : nullptr;
    return r && r->GetControl() ? r->GetControl()->DecodedPictures(s->GetMainRenderId()) : 0;
}

CRtspEvents* ShowingSink(DeviceInfo* d)
{
    return d->pRtspEvent1->GetMainRender() ? d->pRtspEvent1 : d->pRtspEvent2;
}

// Distinct colours in a picture: a pane showing video is not uniform.
size_t Colours(const QImage& img)
{
    std::set<QRgb> seen;
    for (int y = 4; y < img.height() - 4; y += 3)
        for (int x = 4; x < img.width() - 4; x += 3)
            seen.insert(img.pixel(x, y));
    return seen.size();
}

class LiveCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cam.Running() || cam.Start(0));
        g_lstSurStatus.clear();
    }
    void TearDown() override
    {
        devs.Clear();
        g_lstSurStatus.clear();
        g_DispInfoSetting = DispInfoSetting{};
    }
    DeviceInfo* Camera(const char* name, const char* res = "")
    {
        return devs.Add(name, name, "127.0.0.1", cam.Port(), 1, 0, res);
    }
    qelmtest::RtspCamera cam{0, {"--width", "640", "--height", "360"}};
    Journal journal;
    Host host;
    Devices devs;
};

TEST_F(LiveCamera, PaneShowsDecodedVideoAndASecondPaneTakesTheStreamOver)
{
    GridHost gh(800, 600, 4);
    host.main = gh.grid;
    CVideoManagerDlg& g = *gh.grid;
    DeviceInfo* d = Camera("Gate");
    ASSERT_EQ(g.AddWatch(0, d, 1, 0, 0, 1, 0, 1), 0);
    ASSERT_TRUE(WaitFor([&] { return Pictures(ShowingSink(d)) > 5; }, 20000)) << "no pictures decoded";
    Pump(200);
    const QImage pic = g.GetPane(0)->grab().toImage();
    EXPECT_GT(Colours(pic), 8u);
    EXPECT_EQ(journal.Calls("StreamPullControl::AddStream").size(), 1u);

    // The same stream in pane 1: no second stream, pane 0 is free again.
    ASSERT_EQ(g.AddWatch(1, d, 1, 0, 0, 1, 0, 0), 0);
    EXPECT_FALSE(g.GetPane(0)->IsWatching());
    EXPECT_TRUE(g.GetPane(1)->IsWatching());
    EXPECT_EQ(journal.Calls("StreamPullControl::AddStream").size(), 1u);
    const int64_t before = Pictures(ShowingSink(d));
    ASSERT_TRUE(WaitFor([&] { return Pictures(ShowingSink(d)) > before + 5; }, 20000));
    CStreamPlayerCtrl* render = ShowingSink(d)->GetMainRender();
    ASSERT_NE(render, nullptr);
    EXPECT_EQ(CVideoWnd::FromRenderArea(render), g.GetPane(1));
    EXPECT_GT(Colours(g.GetPane(1)->grab().toImage()), 8u);

    EXPECT_EQ(g.StopWatch(1, 1), 0);
    EXPECT_EQ(journal.Calls("StreamPullControl::DelStream").size(), 1u);
    EXPECT_EQ(d->WatchFlag, 0);
}

TEST_F(LiveCamera, SavedPanesAreReopenedByANewGrid)
{
    DeviceInfo* a = Camera("Gate");
    DeviceInfo* b = Camera("Yard", "cif");
    {
        GridHost gh(800, 600, 9);
        host.main = gh.grid;
        ASSERT_EQ(gh.grid->AddWatch(2, a, 1, 0, 0, 1, 0, 1), 0);
        ASSERT_EQ(gh.grid->AddWatch(7, b, 1, 0, 0, 1, 0, 1), 0);
        ASSERT_EQ(g_lstSurStatus.size(), 2u);
        gh.grid->RemoveAllWatch();
        host.main = nullptr;
    }
    EXPECT_EQ(a->WatchFlag, 0);
    EXPECT_EQ(a->pRtspEvent1->GetStreamId(), 0);
    GridHost gh(800, 600, 16);
    host.main = gh.grid;
    gh.grid->RecoverSurveillance();
    EXPECT_EQ(gh.grid->GetDisplayMode(), 9);
    EXPECT_TRUE(gh.grid->GetPane(2)->IsWatching());
    EXPECT_TRUE(gh.grid->GetPane(7)->IsWatching());
    EXPECT_STREQ(gh.grid->GetPane(7)->DevCopy().DevName, "Yard");
    EXPECT_TRUE(WaitFor([&] { return Pictures(ShowingSink(a)) > 3 && Pictures(ShowingSink(b)) > 3; }, 20000));
    gh.grid->RemoveAllWatch();
}

TEST_F(LiveCamera, DraggingAPaneOntoAnotherSwapsOrMoves)
{
    GridHost gh(800, 600, 4);
    host.main = gh.grid;
    CVideoManagerDlg& g = *gh.grid;
    DeviceInfo* a = Camera("A");
    DeviceInfo* b = Camera("B", "cif");
    g.SetDisplayMode(9, 0, 0);
    ASSERT_EQ(g.AddWatch(0, a, 1, 0, 0, 1, 0, 1), 0);
    ASSERT_EQ(g.AddWatch(1, b, 1, 0, 0, 1, 0, 1), 0);
    ASSERT_TRUE(WaitFor([&] { return Pictures(ShowingSink(a)) > 2 && Pictures(ShowingSink(b)) > 2; }, 20000));
    journal.Reset();
    // Onto a busy pane: the two swap without reopening.
    g.ChangeDispWnd(g.GetPane(0), g.GetPane(1)->GetRenderArea());
    EXPECT_STREQ(g.GetPane(0)->DevCopy().DevName, "B");
    EXPECT_STREQ(g.GetPane(1)->DevCopy().DevName, "A");
    // Onto a free pane: it moves.
    g.ChangeDispWnd(g.GetPane(1), g.GetPane(5));
    EXPECT_FALSE(g.GetPane(1)->IsWatching());
    EXPECT_STREQ(g.GetPane(5)->DevCopy().DevName, "A");
    // Onto itself: nothing.
    g.ChangeDispWnd(g.GetPane(5), g.GetPane(5));
    EXPECT_STREQ(g.GetPane(5)->DevCopy().DevName, "A");
    EXPECT_TRUE(journal.Calls("StreamPullControl::AddStream").empty());
    EXPECT_TRUE(journal.Calls("StreamPullControl::DelStream").empty());
    EXPECT_EQ(CVideoWnd::FromRenderArea(ShowingSink(a)->GetMainRender()), g.GetPane(5));
    g.RemoveAllWatch();
}

// Pictures of grids with video, for looking at by hand
// (QELM2_LIVEVIEW_SHOTS names the folder).
TEST_F(LiveCamera, GridPictures)
{
    const char* out = getenv("QELM2_LIVEVIEW_SHOTS");
    if (!out)
        GTEST_SKIP() << "QELM2_LIVEVIEW_SHOTS not set";
    for (int layout : {4, 9, 16}) {
        for (auto [w, h] : {std::pair{1920, 1080}, {1024, 768}}) {
            GridHost gh(w, h, layout);
            host.main = gh.grid;
            std::vector<DeviceInfo*> ds;
            for (int i = 0; i < layout; ++i) {
                const std::string name = "Cam" + std::to_string(i);
                ds.push_back(Camera(name.c_str(), "cif"));
                gh.grid->AddWatch(i, ds.back(), 0, 0, 0, 1, 0, 0);
                if (i == 0)
                    WaitFor([&] { return Pictures(ShowingSink(ds[0])) > 0; }, 20000);
            }
            gh.grid->SelectWnd(1);
            WaitFor([&] {
                for (DeviceInfo* d : ds)
                    if (Pictures(ShowingSink(d)) < 3)
                        return false;
                return true;
            }, 30000);
            Pump(300);
            gh.window.grab().save(QString("%1/grid%2_%3x%4.png").arg(out).arg(layout).arg(w).arg(h));
            gh.grid->RemoveAllWatch();
            host.main = nullptr;
            devs.Clear();
        }
    }
}

} // namespace
