#pragma once
// How regularly a recording's frames were taken, as the front ends report it
// after opening: where the times come from, the median interval between
// frames, how much the intervals wander about it, and how many frames the
// camera lost. A frame counts as lost where the interval before it exceeds
// the median by more than half of it; such a gap of k median intervals
// stands for k - 1 lost frames (rounded, at least one). A source timed by
// its frame rate has regular intervals: its lost frames are the ones the
// file marks as dropped.
#include "video/FrameSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct FrameTiming {
    TimeSource source = TimeSource::FrameRate;
    double medianIntervalMs = 0;
    // Root mean square of the intervals' differences from the median, lost
    // frames' gaps left out.
    double jitterMs = 0;
    int32_t droppedFrames = 0;
    // The frames after a gap (the file's dropped frames for a frame-rate source).
    std::vector<int32_t> gapsBefore;
};

// Throws Error (asking for the frame rate) when the source has no frame times.
FrameTiming frameTimingOf(const FrameSource& source);

// One line for a status bar: "file time stamps: 33.33 ms, jitter 0.51 ms,
// 2 dropped frames", the times to the hundredth of a millisecond.
std::string timingText(const FrameTiming& t, char decimalSeparator = '.');

} // namespace corvane
