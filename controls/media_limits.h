// The cap on what outside media data can make libav* allocate.
#pragma once

#include <cstddef>

namespace qelm {

// The largest single block libav* may allocate in this process. It must hold
// the largest real block: decoded planes (8K 8-bit: 34 MB; 4K 10-bit: 17 MB),
// a YUV snapshot of an 8K picture (50 MB), a 4K key frame (a few MB). A peer
// announcing a 2 GB session description, or fragments that never end, then
// fail an allocation instead of taking gigabytes.
inline constexpr size_t kMaxMediaAllocation = 64u << 20;

// Sets the cap for the whole process; only the first call does anything.
// Start-up calls it before any stand-in control exists.
void LimitMediaAllocations();

} // namespace qelm
