#pragma once
// What corvane-measure prints: the texts the window would show after the run,
// as "name: value" lines or as one JSON object, and the frame table as CSV.
#include "measure/FrameTable.h"
#include "reduce/Epoch.h"
#include "reduce/Reduction.h"
#include "session/MeasureVideo.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace corvane::tool {

// Numbers are shown and read with '.' whatever the locale.
inline constexpr char kDecimalSeparator = '.';

void writeText(std::ostream& out, const MeasureOutcome& o);
void writeJson(std::ostream& out, const MeasureOutcome& o);

// One header line, then every row of the table in index order.
void writeFramesCsv(std::ostream& out, const FrameTable& table);
// The same into a file; throws Error with the file message on failure.
void writeFramesCsvFile(const std::string& path, const FrameTable& table);

} // namespace corvane::tool
