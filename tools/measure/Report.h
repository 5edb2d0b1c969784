#pragma once
// What corvane-measure prints: the texts the window would show after the run,
// as "name: value" lines or as one JSON object, and the frame table as CSV.
#include "measure/FrameTable.h"
#include "reduce/Epoch.h"
#include "reduce/Reduction.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace corvane::tool {

// Numbers are shown and read with '.' whatever the locale.
inline constexpr char kDecimalSeparator = '.';

// Frame rates of the video source alone and of the measuring run, over the
// same frames, in frames per second.
struct BenchResult {
    int32_t frames = 0;
    double decodeFps = 0;
    double runFps = 0;
    double ratio() const { return decodeFps > 0 ? runFps / decodeFps : 0; }
};

struct Outcome {
    int32_t framesMeasured = 0;
    int32_t validFrames = 0;
    // Set when the reduction ran and reached its end; empty when fewer than
    // 16 rows were valid.
    std::optional<ReductionResult> reduction;
    EpochResult epoch;
    std::optional<BenchResult> bench;
};

void writeText(std::ostream& out, const Outcome& o);
void writeJson(std::ostream& out, const Outcome& o);

// One header line, then every row of the table in index order.
void writeFramesCsv(std::ostream& out, const FrameTable& table);
// The same into a file; throws Error with the file message on failure.
void writeFramesCsvFile(const std::string& path, const FrameTable& table);

} // namespace corvane::tool
