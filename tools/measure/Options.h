#pragma once
// The command line of corvane-measure: what the user would click, pick and
// type in the window, given as options.
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "reduce/Epoch.h"
#include "reduce/Reduction.h"
#include "session/MeasureVideo.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::tool {

// A command line that cannot be run: exit status 2 with the usage text.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& text) : std::runtime_error(text) {}
};

// The usage text, with the method names from the method table.
std::string usageText();

struct ToolOptions {
    // The video, the clicks, the range, the method and the reduction's
    // settings: what the session measures.
    MeasureRequest measure;
    bool json = false;
    std::string framesCsv; // empty: no CSV
    std::string plotPath;  // the run's figure, .png or .svg; empty: none
    bool save = false;
    std::string resultsPath; // empty: "results.txt" beside the program
    // Edit1, Edit2..Edit4 and NotesEdit; their texts in the window after opening a video.
    std::string designation = "(Star Designation)";
    std::string raHours = "HH";
    std::string raMinutes = "MM";
    std::string raSeconds = "SS";
    std::string notes;
    // The drift's calibration written to this file (empty: none).
    std::string saveCalibration;
    // A list of videos with their options, one a line (empty: one video).
    std::string batchList;
    int32_t jobs = 0; // videos measured at once in a batch; 0: one per core
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. Throws UsageError for an
// unknown option, a missing or malformed value, a value out of range or a
// missing required option. `--help` sets `help` and `--version` sets
// `version`; then nothing else is checked.
ToolOptions parseOptions(const std::vector<std::string>& args);

// "YYYY-MM-DD HH:MM" (seconds ":SS" allowed) as a UT date and time; nullopt
// when the text is not exactly that or names no real date.
std::optional<CivilDateTime> parseDate(const std::string& text);

} // namespace corvane::tool
