#include "video/FrameTiming.h"

#include "common/NumberText.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace corvane {

FrameTiming frameTimingOf(const FrameSource& source) {
    FrameTiming t;
    t.source = source.timeSource();
    const int32_t frames = source.frameCount();
    if (frames < 2)
        return t;
    std::vector<int64_t> intervals(static_cast<std::size_t>(frames - 1));
    int64_t previous = source.frameTimeUs(0);
    for (int32_t n = 1; n < frames; ++n) {
        const int64_t now = source.frameTimeUs(n);
        intervals[static_cast<std::size_t>(n - 1)] = now - previous;
        previous = now;
    }
    std::vector<int64_t> sorted = intervals;
    const auto mid = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), mid, sorted.end());
    const double median = static_cast<double>(*mid);
    t.medianIntervalMs = median / 1000.0;

    if (t.source == TimeSource::FrameRate) {
        for (int32_t n = 0; n < frames; ++n)
            if (source.frameFate(n) == FrameFate::Dropped) {
                t.gapsBefore.push_back(n);
                ++t.droppedFrames;
            }
    }
    double squares = 0;
    std::size_t regular = 0;
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        const double gap = static_cast<double>(intervals[i]);
        if (t.source == TimeSource::FileTimeStamps && median > 0 && gap > 1.5 * median) {
            t.gapsBefore.push_back(static_cast<int32_t>(i + 1));
            // A broken clock can leave gaps of billions of intervals: the count
            // stops at the largest a frame count holds.
            const double lost = std::max(1.0, std::nearbyint(gap / median) - 1.0);
            t.droppedFrames = static_cast<int32_t>(
                std::min<double>(static_cast<double>(t.droppedFrames) + lost, INT32_MAX));
            continue;
        }
        squares += (gap - median) * (gap - median);
        ++regular;
    }
    if (regular > 0)
        t.jitterMs = std::sqrt(squares / static_cast<double>(regular)) / 1000.0;
    return t;
}

std::string timingText(const FrameTiming& t, char decimalSeparator) {
    return std::string(timeSourceText(t.source)) + ": " +
           formatRounded(t.medianIntervalMs, 2, decimalSeparator) + " ms, jitter " +
           formatRounded(t.jitterMs, 2, decimalSeparator) + " ms, " +
           std::to_string(t.droppedFrames) + " dropped frame" + (t.droppedFrames == 1 ? "" : "s");
}

} // namespace corvane
