#pragma once
// Measuring one video from its options, and a batch of videos listed in a
// file, one a line with its options, measured several at once.
#include "Options.h"

#include "session/MeasureVideo.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace corvane::tool {

enum ExitStatus { kExitResults = 0, kExitError = 1, kExitUsage = 2, kExitTooFewValid = 3 };

// One video measured as `o` asks: the results on `results`, the warnings and
// where files were saved on `messages`; `measured` runs once the measurement
// is done, before anything is written. Returns kExitResults or
// kExitTooFewValid; throws UsageError, or Error with the message.
int measureOne(const ToolOptions& o, const MeasureHooks& hooks,
               const std::function<void()>& measured, std::ostream& results,
               std::ostream& messages);

// A line of a list split into its words as a shell would for these
// options: blanks separate, "double" or 'single' quotes keep blanks inside a
// word, a backslash keeps the next character. Throws UsageError for a quote
// that is not closed.
std::vector<std::string> splitArguments(const std::string& line);

// Every video of the list file: one JSON object a line on stdout in the
// list's order, with the video's path and, for a failure, its message; a
// summary on stderr. Blank lines and lines starting with # are skipped.
// `jobs` videos are measured at once (0: one per core). Returns kExitResults
// when every video gave a result, kExitError otherwise; throws Error when
// the list cannot be read.
int runBatch(const std::string& listPath, int32_t jobs);

} // namespace corvane::tool
