// corvane-measure: the measurement of a double star in a drift video, done
// exactly as a user does it in the Corvane window (open, click the primary,
// click the secondary, "GO!", the reduction), through the same core, without
// a display. Prints the results, and on request saves the results line,
// writes the frame table and times the run against decoding alone.
//
// Exit status: 0 results, 3 fewer than 16 valid frames, 1 an error (the
// window's message on stderr), 2 a usage error.
#include "HeadlessWindow.h"
#include "Options.h"
#include "Report.h"

#include "common/Error.h"
#include "common/Version.h"
#include "measure/Runs.h"
#include "results/ResultsFile.h"
#include "results/ResultsLine.h"
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

void saveResults(const ToolOptions& o, const Outcome& out) {
    ResultsFields f;
    f.recordDate = recordDateToday();
    f.designation = o.designation;
    f.raHours = o.raHours;
    f.raMinutes = o.raMinutes;
    f.raSeconds = o.raSeconds;
    f.decDegrees = o.decDegrees;
    f.decMinutes = o.decMinutes;
    f.decSeconds = o.decSeconds;
    f.epochJ = out.epoch.julianText;
    f.epochB = out.epoch.besselianText;
    f.separation = out.reduction->separation.separationText;
    f.positionAngle = out.reduction->regression.positionAngleText;
    f.validFrames = out.validFrames;
    f.notes = o.notes;
    const std::string path = o.resultsPath.empty() ? defaultResultsPath() : o.resultsPath;
    appendResultsLine(path, buildResultsLine(f));
    // stdout carries only the results, so that it can be read by a program.
    std::cerr << "Results saved to " << path << "\n";
}

int run(const ToolOptions& o) {
    HeadlessWindow w;
    w.openVideo(o.video);
    const int32_t length = w.videoLength();
    checkClick("--primary", o.primary, w.frameWidth(), w.frameHeight());
    checkClick("--secondary", o.secondary, w.frameWidth(), w.frameHeight());
    if (o.startFrame) {
        checkFrame("--start", *o.startFrame, length);
        w.setStartFrame(*o.startFrame);
    }
    if (o.stopFrame) {
        checkFrame("--stop", *o.stopFrame, length);
        w.setStopFrame(*o.stopFrame);
    }
    if (w.stopFrame() < w.startFrame())
        throw UsageError("--start " + std::to_string(w.startFrame()) +
                         " lies after the stop frame " + std::to_string(w.stopFrame()));
    const int32_t primaryFrame = o.primaryFrame.value_or(w.startFrame());
    checkFrame("--primary-frame", primaryFrame, length);
    if (o.date)
        w.setObservation(*o.date);
    // The declination is read only after the run; a text that cannot be read
    // fails now with the same message, before the run's time is spent.
    declinationMagnitude(o.decDegrees, o.decMinutes, o.decSeconds, kDecimalSeparator);

    Outcome out;
    if (o.bench) {
        // The first pass brings the file into memory; the second times the
        // video source alone over the frames the run will measure.
        w.decodePass(w.startFrame(), w.stopFrame());
        const double t0 = cpuSeconds();
        const int32_t frames = w.decodePass(w.startFrame(), w.stopFrame());
        const double seconds = cpuSeconds() - t0;
        out.bench = BenchResult{};
        out.bench->frames = frames;
        out.bench->decodeFps = seconds > 0 ? frames / seconds : 0;
    }

    w.goToFrame(primaryFrame);
    w.clickPrimary(o.primary.x, o.primary.y, o.boxSize);
    w.clickSecondary(o.secondary.x, o.secondary.y, o.boxSize);

    ProgressBar bar(w.startFrame(), w.stopFrame());
    const double t0 = cpuSeconds();
    const RunResult result = w.go(o.method, [&bar](int32_t frame) { bar.update(frame); });
    const double runSeconds = cpuSeconds() - t0;
    bar.finish();
    if (out.bench)
        out.bench->runFps = runSeconds > 0 ? result.framesMeasured / runSeconds : 0;

    out.framesMeasured = result.framesMeasured;
    out.validFrames = CountValidRows(w.table());
    out.epoch = w.epochTexts();
    if (!o.framesCsv.empty())
        writeFramesCsvFile(o.framesCsv, w.table());

    if (reductionDue(w.table())) {
        ReductionResult r = w.calculate(o.orientation, o.decDegrees, o.decMinutes, o.decSeconds);
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
        saveResults(o, out);
    return kExitResults;
}

} // namespace

int main(int argc, char** argv) {
    keepFreedFrameMemory();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const ToolOptions o = parseOptions(args);
        if (o.help) {
            std::fputs(kUsage, stdout);
            return kExitResults;
        }
        if (o.version) {
            std::cout << "corvane-measure " << kVersion << "\n";
            return kExitResults;
        }
        return run(o);
    } catch (const UsageError& e) {
        std::cerr << "corvane-measure: " << e.what() << "\n" << kUsage;
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
