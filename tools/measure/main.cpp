// corvane-measure: the measurement of a double star in a drift video, the
// steps a user takes in the Corvane window (open, click the primary, click
// the secondary, "GO!", the reduction) given as options to the same
// measuring session. Prints the results, and on request saves the results
// line, writes the frame table and times the run against decoding alone.
//
// Exit status: 0 results, 3 no result (why, with the counts, on stderr), 1 an
// error (the window's message on stderr), 2 a usage error. A doubtful result
// is printed as any other, with its warnings on stderr.
#include "Batch.h"
#include "Options.h"
#include "Plot.h"
#include "Report.h"

#include "common/Error.h"
#include "common/Version.h"
#include "results/ResultsFile.h"
#include "results/ResultsLine.h"
#include "session/CalibrationFile.h"
#include "session/MeasureVideo.h"
#include "session/MeasuringSession.h"
#include "video/FrameMemory.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace corvane;
using namespace corvane::tool;

namespace {

// A bar on stderr while the run lasts, drawn only on a terminal and only
// when the shown percentage changes.
class ProgressBar {
public:
    ProgressBar(int32_t first, int32_t last)
        : first_(first), total_(last - first), enabled_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar() { finish(); }

    void update(int32_t frame) {
        if (!enabled_ || total_ <= 0)
            return;
        const int percent = static_cast<int>(100LL * (frame - first_) / total_);
        if (percent == shown_)
            return;
        shown_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%% frame %d", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), percent, frame);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && shown_ >= 0)
            std::fputs("\r\033[K", stderr);
        shown_ = -1;
    }

private:
    int32_t first_;
    int32_t total_;
    bool enabled_;
    int shown_ = -1;
};

// The option that sets a request field, for the usage message.
const char* optionOf(RequestField field) {
    switch (field) {
    case RequestField::Primary:
        return "--primary";
    case RequestField::Secondary:
        return "--secondary";
    case RequestField::StartFrame:
        return "--start";
    case RequestField::StopFrame:
        return "--stop";
    case RequestField::PrimaryFrame:
        return "--primary-frame";
    case RequestField::FrameRate:
        return "--fps";
    case RequestField::DecDegrees:
    case RequestField::DecMinutes:
    case RequestField::DecSeconds:
        return "--dec";
    }
    return "";
}

void saveResults(const ToolOptions& o, const MeasureOutcome& out, std::ostream& messages) {
    PairTexts pair;
    pair.designation = o.designation;
    pair.raHours = o.raHours;
    pair.raMinutes = o.raMinutes;
    pair.raSeconds = o.raSeconds;
    pair.decDegrees = o.measure.decDegrees;
    pair.decMinutes = o.measure.decMinutes;
    pair.decSeconds = o.measure.decSeconds;
    pair.notes = o.notes;
    pair.decimalSeparator = o.measure.decimalSeparator;
    const std::string path = o.resultsPath.empty() ? defaultResultsPath() : o.resultsPath;
    const std::string today = recordDateToday();
    for (const std::string& notice : saveNotices(pair, o.measure.video))
        messages << "Warning: " << notice << "\n";
    MeasuringSession::saveResults(path, resultsLine(out, today, pair),
                                  resultsCsvRow(out, today, pair));
    // stdout carries only the results, so that it can be read by a program.
    messages << "Results saved to " << path << " and " << resultsCsvPath(path) << "\n";
}

// Writes the drift's calibration where --save-calibration asked.
void saveDriftCalibration(const ToolOptions& o, const MeasureOutcome& out, std::ostream& messages) {
    saveCalibration(*out.driftCalibration, o.saveCalibration);
    messages << "Calibration saved to " << o.saveCalibration << "\n";
}

} // namespace

int corvane::tool::measureOne(const ToolOptions& o, const MeasureHooks& hooks,
                              const std::function<void()>& measured, std::ostream& results,
                              std::ostream& messages) {
    MeasureOutcome out;
    try {
        out = measureVideo(o.measure, hooks);
    } catch (const RequestError& e) {
        throw UsageError(std::string(optionOf(e.field())) + " " + e.what());
    }
    if (measured)
        measured();
    if (!out.calibrationWarning.empty())
        messages << "Warning: " << out.calibrationWarning << "\n";

    if (!o.framesCsv.empty())
        writeFramesCsvFile(o.framesCsv, out.table);
    if (!o.plotPath.empty()) {
        writeRunPlot(o.plotPath, out.table);
        messages << "Run plotted in " << o.plotPath << "\n";
    }
    // A reduction that refuses its numbers gives no result, as too few
    // frames do: the counts are printed and the reason said.
    if (!out.reductionError.empty())
        out.noResult = out.reductionError;

    if (o.json)
        writeJson(results, out);
    else
        writeText(results, out);
    results.flush();

    for (const std::string& warning : out.warnings)
        messages << "Warning: " << warning << "\n";
    // One star gives a calibration and nothing else.
    if (o.measure.singleStar) {
        saveDriftCalibration(o, out, messages);
        return kExitResults;
    }
    if (!out.reduction) {
        std::string reason = out.noResult;
        if (!reason.empty() && reason.back() == '.')
            reason.pop_back();
        messages << reason
                 << (o.save || !o.saveCalibration.empty() ? ": nothing was saved.\n" : ".\n");
        return kExitTooFewValid;
    }
    if (o.save)
        saveResults(o, out, messages);
    if (!o.saveCalibration.empty())
        saveDriftCalibration(o, out, messages);
    return kExitResults;
}

namespace {

int run(const ToolOptions& o) {
    if (!o.batchList.empty())
        return runBatch(o.batchList, o.jobs);
    std::optional<ProgressBar> bar;
    MeasureHooks hooks;
    hooks.runStarting = [&bar](int32_t first, int32_t last) { bar.emplace(first, last); };
    hooks.afterFrame = [&bar](int32_t frame) { bar->update(frame); };
    // The bar is wiped before anything else is written.
    return measureOne(
        o, hooks, [&bar] { bar.reset(); }, std::cout, std::cerr);
}

} // namespace

int main(int argc, char** argv) {
    keepFreedFrameMemory();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const ToolOptions o = parseOptions(args);
        if (o.help) {
            std::fputs(usageText().c_str(), stdout);
            return kExitResults;
        }
        if (o.version) {
            std::cout << "corvane-measure " << kVersion << "\n";
            return kExitResults;
        }
        return run(o);
    } catch (const UsageError& e) {
        // One line, so that the message stays on the screen.
        std::cerr << "corvane-measure: " << e.what() << "\nTry 'corvane-measure --help'.\n";
        return kExitUsage;
    } catch (const Error& e) {
        std::cerr << e.what() << "\n";
        return kExitError;
    } catch (const std::bad_alloc&) {
        std::cerr << "Out of memory\n";
        return kExitError;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kExitError;
    }
}
