// The pane rectangles of the twelve layouts.
#include "liveview/video_wnd_coord.h"

#include <gtest/gtest.h>

namespace {

struct LayoutCase {
    int left, top, right, bottom, layout, pane;
    int x, y, w, h;
};
inline void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << "area " << c.left << "," << c.top << "-" << c.right << "," << c.bottom << " layout " << c.layout
        << " pane " << c.pane;
}

class LayoutTable : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTable, CellOfPane)
{
    const LayoutCase& c = GetParam();
    CVideoWndCoord coord(c.left, c.top, c.right, c.bottom, static_cast<uint32_t>(c.layout));
    CVideoWndCoord::Cell cell{};
    ASSERT_TRUE(coord.GetCell(c.pane, &cell));
    EXPECT_EQ(cell.x, c.x);
    EXPECT_EQ(cell.y, c.y);
    EXPECT_EQ(cell.w, c.w);
    EXPECT_EQ(cell.h, c.h);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, LayoutTable,
                         ::testing::Values(
                             // Area (13, 27, 1012, 723): W 999, H 696.
                             LayoutCase{13, 27, 1012, 723, 6, 0, 13, 27, 666, 464},
                             LayoutCase{13, 27, 1012, 723, 6, 4, 346, 491, 333, 232},
                             LayoutCase{13, 27, 1012, 723, 8, 0, 13, 27, 747, 522},
                             LayoutCase{13, 27, 1012, 723, 8, 5, 511, 549, 249, 174},
                             LayoutCase{13, 27, 1012, 723, 64, 63, 881, 636, 124, 87},
                             // Area (0, 0, 1000, 700).
                             LayoutCase{0, 0, 1000, 700, 4, 0, 0, 0, 500, 350},
                             LayoutCase{0, 0, 1000, 700, 4, 1, 500, 0, 500, 350},
                             LayoutCase{0, 0, 1000, 700, 4, 2, 0, 350, 500, 350},
                             LayoutCase{0, 0, 1000, 700, 4, 3, 500, 350, 500, 350},
                             LayoutCase{0, 0, 1000, 700, 13, 5, 250, 175, 500, 350},
                             LayoutCase{0, 0, 1000, 700, 13, 8, 750, 350, 250, 175},
                             LayoutCase{0, 0, 1000, 700, 1, 0, 0, 0, 1000, 700},
                             // The irregular orders: 6 and 8 run up the right column and back along the bottom.
                             LayoutCase{0, 0, 900, 600, 6, 3, 600, 400, 300, 200},
                             LayoutCase{0, 0, 900, 600, 6, 5, 0, 400, 300, 200},
                             LayoutCase{0, 0, 800, 800, 8, 4, 600, 600, 200, 200},
                             LayoutCase{0, 0, 800, 800, 8, 7, 0, 600, 200, 200},
                             // 10: two double-width panes, then two rows of four.
                             LayoutCase{0, 0, 1000, 600, 10, 1, 500, 0, 500, 200},
                             LayoutCase{0, 0, 1000, 600, 10, 5, 750, 200, 250, 200},
                             LayoutCase{0, 0, 1000, 600, 10, 6, 0, 400, 250, 200},
                             // 13: the rest of the ring row by row.
                             LayoutCase{0, 0, 1000, 700, 13, 7, 0, 350, 250, 175},
                             LayoutCase{0, 0, 1000, 700, 13, 12, 750, 525, 250, 175},
                             // Square layouts, row by row; truncation leaves the remainder empty.
                             LayoutCase{0, 0, 1001, 701, 9, 8, 666, 466, 333, 233},
                             LayoutCase{5, 5, 1925, 1085, 16, 15, 1445, 815, 480, 270},
                             LayoutCase{0, 0, 1024, 768, 25, 24, 816, 612, 204, 153},
                             LayoutCase{0, 0, 1024, 768, 36, 35, 850, 640, 170, 128},
                             LayoutCase{0, 0, 1024, 768, 49, 48, 876, 654, 146, 109},
                             // An area narrower than the columns gives empty cells.
                             LayoutCase{0, 0, 3, 100, 4, 1, 1, 0, 1, 50},
                             LayoutCase{0, 0, 6, 100, 64, 7, 0, 0, 0, 12}));

TEST(Layouts, SevenComputesNothing)
{
    CVideoWndCoord coord(0, 0, 1000, 700, 7);
    CVideoWndCoord::Cell cell{};
    EXPECT_FALSE(coord.Computed());
    EXPECT_FALSE(coord.GetCell(0, &cell));
    EXPECT_FALSE(CVideoWndCoord::IsLayout(7));
    EXPECT_FALSE(CVideoWndCoord(0, 0, 1000, 700, 0).Computed());
}

TEST(Layouts, EveryLayoutTilesInsideTheArea)
{
    for (int layout : CVideoWndCoord::kLayouts) {
        CVideoWndCoord coord(10, 20, 1930, 1100, static_cast<uint32_t>(layout));
        long area = 0;
        for (int i = 0; i < layout; ++i) {
            CVideoWndCoord::Cell c{};
            ASSERT_TRUE(coord.GetCell(i, &c)) << layout;
            EXPECT_GE(c.x, 10);
            EXPECT_GE(c.y, 20);
            EXPECT_LE(c.x + c.w, 1930);
            EXPECT_LE(c.y + c.h, 1100);
            area += long(c.w) * c.h;
        }
        EXPECT_FALSE(coord.GetCell(layout, nullptr));
        // The cells cover the area but for the truncation remainder.
        EXPECT_GT(area, 1920L * 1080 * 95 / 100) << layout;
        EXPECT_LE(area, 1920L * 1080) << layout;
    }
}

} // namespace
