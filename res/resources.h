// Pictures the program carries inside itself: the PNG faces of the skinned
// buttons, the device state bitmap and the program icon, by type and id.
#pragma once

#include "platform/types.h"

#include <cstddef>

struct AppResource {
    const unsigned char* data;
    std::size_t size;
};

// type "PNG", "BITMAP" or "ICON" (any case); null when there is no such
// resource. The bytes live as long as the program.
const AppResource* FindAppResource(const char* type, UINT id);

namespace qelm::res::detail {
// One entry of the table the skin generator writes.
struct ResourceEntry {
    const char* type;
    unsigned id;
    AppResource data;
};
extern const ResourceEntry kResources[];
extern const std::size_t kResourceCount;
} // namespace qelm::res::detail

// The device state icons of the device trees, and the drag image list of the
// video panes: fourteen 16 x 16 pictures side by side, magenta transparent.
constexpr UINT IDB_DEVICE_STATE = 143;
// The program icon.
constexpr UINT IDR_MAINFRAME = 128;
