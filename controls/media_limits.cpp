// The process-wide allocation cap of libav*.
#include "controls/media_limits.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <mutex>

namespace qelm {

void LimitMediaAllocations()
{
    static std::once_flag once;
    std::call_once(once, [] { av_max_alloc(kMaxMediaAllocation); });
}

} // namespace qelm
