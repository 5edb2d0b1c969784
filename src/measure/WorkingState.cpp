#include "measure/WorkingState.h"

namespace corvane {

// Every cell goes back to 0, so cells that convolve does not compute never
// hold values of an earlier frame. The storage is kept, so a frame after the
// first costs no allocation.
void SmoothedGridT::setSize(int32_t s) {
    size_ = s > 0 ? s : 0;
    cells_.assign(static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_), 0);
}

} // namespace corvane
