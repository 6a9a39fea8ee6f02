// The media parameter records: the marker that makes a StreamMediaParam usable
// (sizes and offsets are checked at compile time in the header).
#include "controls/media_params.h"

#include <gtest/gtest.h>

namespace {

TEST(MediaParamsTest, OnlyTheExactMarkerIsAccepted)
{
    struct Case {
        const char* marker;
        bool accepted;
    } cases[] = {
        {"BremulH264", true},
        {"BremulH264x", false}, // a longer text that begins with it
        {"BremulH26", false},
        {"bremulh264", false},
        {"", false},
    };
    for (const Case& c : cases) {
        StreamMediaParam p{};
        memcpy(p.marker, c.marker, strlen(c.marker));
        EXPECT_EQ(c.accepted, HasStreamMediaMarker(p)) << c.marker;
    }
    // Bytes after the terminating zero do not matter.
    StreamMediaParam p{};
    memcpy(p.marker, "BremulH264\0junk", 15);
    EXPECT_TRUE(HasStreamMediaMarker(p));
}

} // namespace
