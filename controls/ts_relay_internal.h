// Shared between the relay library's source files.
#pragma once

namespace qelm::ts {

// Gives an allocation back (a record with the arrays still hanging on it).
// The mode it was given out with, 0 when it is not the library's.
int ReleaseAllocation(void* p);
bool IsLiveRecord(const void* p);

} // namespace qelm::ts
