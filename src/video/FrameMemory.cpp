#include "video/FrameMemory.h"

#include <malloc.h>

namespace corvane {

void keepFreedFrameMemory() {
    constexpr int kLargeBlockBytes = 64 << 20;
    ::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    ::mallopt(M_TRIM_THRESHOLD, kLargeBlockBytes);
}

} // namespace corvane
