// corvane-measure: the measurement of a double star in a drift video, the
// steps a user takes in the Corvane window (open, click the primary, click
// the secondary, "GO!", the reduction) given as options to the same
// measuring session. Prints the results, and on request saves the results
// line, writes the frame table and times the run against decoding alone.
//
// Exit status: 0 results, 3 fewer than 16 valid frames, 1 an error (the
// window's message on stderr), 2 a usage error.
#include "Options.h"
#include "Report.h"

#include "common/Error.h"
#include "common/Version.h"
#include "results/ResultsFile.h"
#include "results/ResultsLine.h"
#include "session/MeasuringSession.h"
#include "video/FrameMemory.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace corvane;
using namespace corvane::tool;

namespace {

enum ExitStatus { kExitResults = 0, kExitError = 1, kExitUsage = 2, kExitTooFewValid = 3 };

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

// CPU time of the whole process (all its threads), in seconds: the work done,
// whatever else the machine is busy with.
double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A file without a picture has no frame to click; its run measures nothing.
void checkClick(const char* option, const FramePoint& p, int width, int height) {
    if (width > 0 && height > 0 && (p.x >= width || p.y >= height))
        throw UsageError(std::string(option) + " " + std::to_string(p.x) + "," +
                         std::to_string(p.y) + " lies outside the " + std::to_string(width) +
                         " x " + std::to_string(height) + " frame");
}

void checkFrame(const char* option, int32_t n, int32_t length) {
    if (n > length)
        throw UsageError(std::string(option) + " " + std::to_string(n) +
                         " lies beyond the video's last position " + std::to_string(length));
}

// The window's "RecordDate": today's date in the short date format. Without
// the window there is no regional short format to read, so the format the
// window falls back on, "M/d/yy", is used.
std::string recordDateToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return formatShortDateFallback(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

void saveResults(const ToolOptions& o, const MeasuringSession& session, const Outcome& out) {
    PairTexts pair;
    pair.designation = o.designation;
    pair.raHours = o.raHours;
    pair.raMinutes = o.raMinutes;
    pair.raSeconds = o.raSeconds;
    pair.decDegrees = o.decDegrees;
    pair.decMinutes = o.decMinutes;
    pair.decSeconds = o.decSeconds;
    pair.notes = o.notes;
    const std::string path = o.resultsPath.empty() ? defaultResultsPath() : o.resultsPath;
    MeasuringSession::saveResults(
        path,
        session.resultsLine(recordDateToday(), pair, measuredTexts(out.epoch, *out.reduction)));
    // stdout carries only the results, so that it can be read by a program.
    std::cerr << "Results saved to " << path << "\n";
}

int run(const ToolOptions& o) {
    MeasuringSession session;
    session.open(o.video);
    const int32_t length = session.player().VideoLength();
    const int width = session.player().FrameWidth(), height = session.player().FrameHeight();
    checkClick("--primary", o.primary, width, height);
    checkClick("--secondary", o.secondary, width, height);
    int32_t startFrame = 0;
    int32_t stopFrame = length;
    if (o.startFrame) {
        checkFrame("--start", *o.startFrame, length);
        startFrame = *o.startFrame;
    }
    if (o.stopFrame) {
        checkFrame("--stop", *o.stopFrame, length);
        stopFrame = *o.stopFrame;
    }
    if (stopFrame < startFrame)
        throw UsageError("--start " + std::to_string(startFrame) + " lies after the stop frame " +
                         std::to_string(stopFrame));
    const int32_t primaryFrame = o.primaryFrame.value_or(startFrame);
    checkFrame("--primary-frame", primaryFrame, length);
    const CivilDateTime observation = o.date ? *o.date : session.recordingStart();
    // The declination is read only after the run; a text that cannot be read
    // fails now with the same message, before the run's time is spent.
    declinationMagnitude(o.decDegrees, o.decMinutes, o.decSeconds, kDecimalSeparator);
    // The window resets once after the open, on the start frame it has just set.
    session.reset(0);

    Outcome out;
    if (o.bench) {
        // The first pass brings the file into memory; the second times the
        // video source alone over the frames the run will measure.
        session.decodePass(startFrame, stopFrame);
        const double t0 = cpuSeconds();
        const int32_t frames = session.decodePass(startFrame, stopFrame);
        const double seconds = cpuSeconds() - t0;
        out.bench = BenchResult{};
        out.bench->frames = frames;
        out.bench->decodeFps = seconds > 0 ? frames / seconds : 0;
    }

    session.goToFrame(primaryFrame);
    session.selectPrimary(o.primary.x, o.primary.y, o.boxSize);
    session.selectSecondary(o.secondary.x, o.secondary.y, o.boxSize,
                            [startFrame] { return startFrame; });

    ProgressBar bar(startFrame, stopFrame);
    RunHooks hooks;
    hooks.stopFrame = [stopFrame] { return stopFrame; };
    hooks.afterFrame = [&bar](int32_t frame) { bar.update(frame); };
    const double t0 = cpuSeconds();
    const RunResult result = session.run(o.method, hooks);
    const double runSeconds = cpuSeconds() - t0;
    bar.finish();
    if (out.bench)
        out.bench->runFps = runSeconds > 0 ? result.framesMeasured / runSeconds : 0;

    out.framesMeasured = result.framesMeasured;
    out.validFrames = session.acceptedFrames();
    out.epoch = epoch(observation, kDecimalSeparator);
    if (!o.framesCsv.empty())
        writeFramesCsvFile(o.framesCsv, session.table());

    if (session.reductionDue()) {
        ReductionResult r = session.reduce(o.orientation, o.decDegrees, o.decMinutes, o.decSeconds,
                                           kDecimalSeparator);
        if (!r.error.empty())
            throw Error(r.error);
        out.reduction = std::move(r);
    }

    if (o.json)
        writeJson(std::cout, out);
    else
        writeText(std::cout, out);
    std::cout.flush();

    if (!out.reduction) {
        if (o.save)
            std::cerr << "Fewer than 16 frames are valid: nothing was saved.\n";
        return kExitTooFewValid;
    }
    if (o.save)
        saveResults(o, session, out);
    return kExitResults;
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
        std::cerr << "corvane-measure: " << e.what() << "\n" << usageText();
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
