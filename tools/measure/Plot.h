#pragma once
// --plot: the run's figure, as the window's "Run" view draws it, written
// without a display.
#include "measure/FrameTable.h"

#include <string>

namespace corvane::tool {

// Writes the figure of `table` into `path` (.svg: SVG, else PNG). Throws
// Error naming the file when it cannot be written, or when this build has no
// plots.
void writeRunPlot(const std::string& path, const FrameTable& table);

} // namespace corvane::tool
