#include "session/MeasureVideo.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/AutocorrelogramImage.h"
#include "measure/Methods.h"
#include "results/PngFile.h"
#include "results/ResultsCsv.h"
#include "session/CalibrationFile.h"
#include "session/ReductionMessages.h"

#include <cmath>
#include <ctime>
#include <utility>

namespace corvane {

namespace {

// CPU time of the whole process (all its threads), in seconds: the work done,
// whatever else the machine is busy with.
double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A file without a picture has no frame to click; its run measures nothing.
void checkClick(RequestField field, const FramePoint& p, int width, int height) {
    if (width > 0 && height > 0 && (p.x >= width || p.y >= height))
        throw RequestError(field, std::to_string(p.x) + "," + std::to_string(p.y) +
                                      " lies outside the " + std::to_string(width) + " x " +
                                      std::to_string(height) + " frame");
}

void checkFrame(RequestField field, int32_t n, int32_t length) {
    if (n > length)
        throw RequestError(field, std::to_string(n) + " lies beyond the video's last position " +
                                      std::to_string(length));
}

// The calibration files read and combined; the warning when they disagree.
CombinedCalibration readCalibrations(const std::vector<std::string>& files, char decimalSeparator,
                                     std::string& warning) {
    std::vector<Calibration> calibrations;
    for (const std::string& file : files)
        calibrations.push_back(loadCalibration(file));
    CombinedCalibration combined = combineCalibrations(calibrations);
    if (combined.agreement.disagree)
        warning = calibrationDisagreementWarning(combined.agreement, decimalSeparator);
    return combined;
}

std::string fileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The autocorrelogram's lags shown this many screen pixels wide in the image.
constexpr int32_t kImageScale = 4;

// The autocorrelogram saved with the measured side peak ringed.
void saveAutocorrelogram(const std::string& path, const SpeckleMeasurement& m) {
    const RgbImage image = measuredAutocorrelogram(m, kImageScale);
    writePng(path, image.width, image.height, image.rgb);
}

// A speckle run: the star's exposures summed (and the reference star's),
// measured, and put on the sky with the calibration or the drift.
void measureSpeckleRun(MeasuringSession& session, const MeasureRequest& request, int32_t first,
                       int32_t last, const MeasureHooks& hooks, MeasureOutcome& out) {
    FrameSource& source = *session.player().Source();
    std::optional<BoxCentre> start;
    if (!request.findPair)
        start = BoxCentre{static_cast<double>(request.primary.x),
                          static_cast<double>(request.primary.y)};
    if (hooks.runStarting)
        hooks.runStarting(first, last);
    const SpeckleRecording pair = recordSpeckle(source, first, last, start, request.speckleBox,
                                                hooks.afterFrame, hooks.cancelRequested);
    std::optional<SpeckleRecording> reference;
    if (!request.referenceVideo.empty()) {
        const std::unique_ptr<FrameSource> refSource = openFrameSource(request.referenceVideo);
        reference =
            recordSpeckle(*refSource, 0, refSource->frameCount(), std::nullopt, request.speckleBox);
    }
    SpeckleOutcome speckle;
    speckle.measurement =
        measureSpeckle(*pair.spectra, reference ? reference->spectra.get() : nullptr);
    const SpeckleMeasurement& m = speckle.measurement;
    out.framesMeasured = out.validFrames = m.frames;
    if (!pair.track.empty()) {
        speckle.firstTimeUs = pair.track.front().TimeUs;
        speckle.lastTimeUs = pair.track.back().TimeUs;
    }
    if (out.bench)
        out.bench->runFps = pair.seconds > 0 ? m.frames / pair.seconds : 0;
    out.noResult = speckleNoResultText(m);
    const auto read = [](const SpeckleRecording& r) {
        return r.saturatedFrames + r.spectra->frames();
    };
    std::string saturated = saturatedExposuresText(pair.saturatedFrames, read(pair), "the star's");
    if (!saturated.empty())
        out.warnings.push_back(saturated);
    if (reference) {
        saturated = saturatedExposuresText(reference->saturatedFrames, read(*reference),
                                           "the reference star's");
        if (!saturated.empty())
            out.warnings.push_back(saturated);
    }
    if (out.calibrationUsed) {
        speckle.calibration = *out.calibrationUsed;
    } else {
        // A slowly drifting video calibrates itself, as one star's drift does.
        try {
            const long double size =
                declinationMagnitude(request.decDegrees, request.decMinutes, request.decSeconds,
                                     request.decimalSeparator);
            const std::size_t sign = request.decDegrees.find_first_not_of(' ');
            const bool south = sign != std::string::npos && request.decDegrees[sign] == '-';
            speckle.calibration = withRefusalText([&] {
                return calibrationFromDrift(pair.track, static_cast<double>(south ? -size : size),
                                            utcText(session.recordingStart()),
                                            fileName(request.video));
            });
            speckle.calibrationFromDrift = true;
        } catch (const Error& e) {
            // Speckle videos are mostly taken with the drive on: say what
            // puts such a video on the sky.
            if (m.status == SpeckleStatus::Measured)
                out.reductionError =
                    std::string(e.what()) +
                    " A tracked video is put on the sky by a calibration in use instead (Use "
                    "Calibration in the window, --calibration in corvane-measure).";
        }
    }
    if (speckle.calibration.pixelsPerArcsec > 0) {
        speckle.sky = speckleOnSky(m, speckle.calibration, request.orientation);
        speckle.separationText =
            formatRounded(speckle.sky->separation, 2, request.decimalSeparator);
        // 359.996 would show as 360, the same direction as 0.
        double pa = speckle.sky->positionAngle;
        if (std::nearbyint(pa * 100.0) >= (speckle.sky->ambiguous ? 18000.0 : 36000.0))
            pa = 0;
        speckle.positionAngleText = formatRounded(pa, 2, request.decimalSeparator);
    }
    // A single star's autocorrelogram is saved too: it shows what was not there.
    if (!request.speckleImage.empty() && !m.autocorrelogram.values.empty()) {
        saveAutocorrelogram(request.speckleImage, m);
        speckle.image = request.speckleImage;
    }
    out.speckle = std::move(speckle);
}

} // namespace

MeasureOutcome measureVideo(const MeasureRequest& request, const MeasureHooks& hooks) {
    MeasureOutcome out;
    out.decimalSeparator = request.decimalSeparator;
    MeasuringSession session;
    if (!request.calibrationFiles.empty()) {
        out.calibrationUsed = readCalibrations(request.calibrationFiles, request.decimalSeparator,
                                               out.calibrationWarning)
                                  .calibration;
        session.useCalibration(*out.calibrationUsed);
    } else if (request.calibration) {
        out.calibrationUsed = request.calibration;
        session.useCalibration(*out.calibrationUsed);
    }
    session.open(request.video);
    // A drift timed by frame number would give a wrong scale: without frame
    // times of its own a recording needs the rate.
    if (request.frameRate)
        session.setFrameRate(*request.frameRate);
    else if (!session.hasFrameTimes())
        throw RequestError(RequestField::FrameRate,
                           "N is needed: " + session.missingFrameTimesText());
    const int32_t length = session.player().VideoLength();
    const int width = session.player().FrameWidth(), height = session.player().FrameHeight();
    if (!request.findPair) {
        checkClick(RequestField::Primary, request.primary, width, height);
        if (!request.singleStar && request.method != Method::Speckle)
            checkClick(RequestField::Secondary, request.secondary, width, height);
    }
    const int32_t startFrame = request.startFrame.value_or(0);
    const int32_t stopFrame = request.stopFrame.value_or(length);
    checkRange(startFrame, stopFrame, length);
    const int32_t primaryFrame = request.primaryFrame.value_or(startFrame);
    checkFrame(RequestField::PrimaryFrame, primaryFrame, length);
    const CivilDateTime observation =
        request.observation ? *request.observation : session.recordingStart();
    const Method method = request.singleStar ? kOneStarMethod : request.method;
    ReductionSettings settings;
    settings.orientation = request.orientation;
    settings.decDegrees = request.decDegrees;
    settings.decMinutes = request.decMinutes;
    settings.decSeconds = request.decSeconds;
    settings.declinationGiven = request.declinationGiven;
    settings.decimalSeparator = request.decimalSeparator;
    settings.method = method;
    settings.clipSigma = request.clipSigma;
    settings.artificialStars = request.artificialStars;
    // The declination is read only after the run; a text that cannot be read
    // fails now, before the run's time is spent.
    checkDeclinationBeforeRun(settings, session.calibration().has_value());
    // The window resets once after the open, on the start frame it has just set.
    session.reset(0);

    out.timing = session.timing();
    if (request.bench) {
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

    if (request.method == Method::Speckle) {
        out.video = request.video;
        out.method = Method::Speckle;
        out.primary = request.primary;
        out.epoch = epoch(observation);
        measureSpeckleRun(session, request, startFrame, stopFrame, hooks, out);
        return out;
    }

    session.goToFrame(primaryFrame);
    out.primary = request.primary;
    out.secondary = request.secondary;
    if (request.findPair) {
        const FoundPair found = session.findPair();
        out.primary = {found.primaryX, found.primaryY};
        out.secondary = {found.secondaryX, found.secondaryY};
    }
    const auto start = [startFrame] { return startFrame; };
    if (request.singleStar) {
        session.selectSingleStar(out.primary.x, out.primary.y, request.boxSize, start);
    } else {
        session.selectPrimary(out.primary.x, out.primary.y, request.boxSize);
        session.selectSecondary(out.secondary.x, out.secondary.y, request.boxSize, start);
    }

    if (hooks.runStarting)
        hooks.runStarting(startFrame, stopFrame);
    RunHooks runHooks;
    runHooks.stopFrame = [stopFrame] { return stopFrame; };
    runHooks.afterFrame = hooks.afterFrame;
    runHooks.cancelRequested = hooks.cancelRequested;
    const double t0 = cpuSeconds();
    const RunResult result = session.run(method, runHooks);
    const double runSeconds = cpuSeconds() - t0;
    if (out.bench) {
        out.bench->runFps = runSeconds > 0 ? result.framesMeasured / runSeconds : 0;
        out.bench->framesInBand = result.framesInBand;
        out.bench->framesReadAgainWhole = result.framesReadAgainWhole;
    }

    out.video = request.video;
    out.method = method;
    out.framesMeasured = result.framesMeasured;
    out.cancelled = result.cancelled;
    out.epoch = epoch(observation);
    if (request.singleStar) {
        out.noResult = session.noResultText(method);
        out.warnings = session.warnings(ReductionResult{}, method, request.decimalSeparator);
    } else {
        RunFinish finish = session.finishRun(settings);
        out.clippedFrames = finish.clipped;
        out.noResult = finish.noResult;
        out.warnings = std::move(finish.warnings);
        out.artificialStars = finish.artificialStars;
        if (finish.hasResult()) {
            out.reduction = std::move(finish.reduction);
            if (request.correctBias && out.artificialStars)
                out.biasCorrected = correctBias(*out.artificialStars, *out.reduction);
        } else if (finish.reduction)
            out.reductionError = finish.reduction->error;
    }
    out.validFrames = session.acceptedFrames();
    out.rejections = session.rejectionCounts(method);
    // A pair's calibration comes with its result; a single star's is the
    // only result, and says why when there is none.
    if (request.calibrate && (request.singleStar || out.reduction))
        out.driftCalibration = session.driftCalibration(
            request.decDegrees, request.decMinutes, request.decSeconds, request.decimalSeparator,
            utcText(observation), fileName(request.video));
    out.table = session.table();
    return out;
}

namespace {

// A speckle result's texts; the quadrant's doubt goes into the notes.
MeasuredTexts speckleTexts(const MeasureOutcome& outcome) {
    const EpochTexts epoch = epochTexts(outcome.epoch, outcome.decimalSeparator);
    MeasuredTexts m;
    m.epochJ = epoch.julian;
    m.epochB = epoch.besselian;
    m.separation = outcome.speckle->separationText;
    m.positionAngle = outcome.speckle->positionAngleText;
    return m;
}

bool speckleSaved(const MeasureOutcome& outcome) {
    return outcome.speckle && outcome.speckle->sky &&
           outcome.speckle->measurement.status == SpeckleStatus::Measured;
}

PairTexts speckleNotes(const MeasureOutcome& outcome, PairTexts pair) {
    if (outcome.speckle->sky->ambiguous)
        pair.notes += std::string(pair.notes.empty() ? "" : " ") + kAmbiguousQuadrantNote;
    return pair;
}

std::string speckleCsvRow(const MeasureOutcome& outcome, const std::string& recordDate,
                          const PairTexts& pair) {
    constexpr char kPoint = '.';
    const SpeckleOutcome& s = *outcome.speckle;
    const SpeckleMeasurement& m = s.measurement;
    ResultsCsvFields f;
    f.line =
        resultsFields(recordDate, speckleNotes(outcome, pair), speckleTexts(outcome), m.frames);
    f.separationStderr = errorText(s.sky->separationStderr, 2, kPoint);
    f.positionAngleStderr = errorText(s.sky->positionAngleStderr, 2, kPoint);
    f.pixelScale = formatRounded(s.calibration.pixelsPerArcsec, 4, kPoint);
    f.pixelScaleStderr = errorText(s.calibration.pixelsPerArcsecStderr, 4, kPoint);
    f.driftAngleStderr = errorText(s.calibration.driftAngleStderr, 2, kPoint);
    f.framesMeasured = f.framesAccepted = m.frames;
    f.method = kSpeckleMethodName;
    f.video = fileName(outcome.video);
    f.timeFrom = formatRounded(s.firstTimeUs / 1e6L, 3, kPoint);
    f.timeTo = formatRounded(s.lastTimeUs / 1e6L, 3, kPoint);
    f.calibration = s.calibrationFromDrift ? "drift" : calibrationText(s.calibration);
    f.quadrant = s.sky->ambiguous ? "ambiguous" : "decided";
    f.quadrantConfidence = formatRounded(m.quadrantConfidence, 3, kPoint);
    f.deltaMag = formatRounded(m.deltaMag, 2, kPoint);
    f.deltaMagStderr = errorText(m.deltaMagStderr, 2, kPoint);
    return buildResultsCsvRow(f);
}

} // namespace

std::string resultsLine(const MeasureOutcome& outcome, const std::string& recordDate,
                        const PairTexts& pair) {
    if (speckleSaved(outcome))
        return resultsLine(recordDate, speckleNotes(outcome, pair), speckleTexts(outcome),
                           outcome.speckle->measurement.frames);
    if (!outcome.reduction)
        throw Error("The measurement has no result to save");
    return resultsLine(recordDate, pair,
                       measuredTexts(outcome.epoch, *outcome.reduction, outcome.decimalSeparator),
                       outcome.validFrames);
}

std::string resultsCsvRow(const MeasureOutcome& outcome, const std::string& recordDate,
                          const PairTexts& pair) {
    if (speckleSaved(outcome))
        return speckleCsvRow(outcome, recordDate, pair);
    if (!outcome.reduction)
        throw Error("The measurement has no result to save");
    return resultsCsvRow(
        recordDate, pair,
        measuredTexts(outcome.epoch, *outcome.reduction, outcome.decimalSeparator), outcome.table,
        *outcome.reduction, outcome.method, outcome.clippedFrames, outcome.video,
        outcome.calibrationUsed ? &*outcome.calibrationUsed : nullptr,
        outcome.artificialStars ? &*outcome.artificialStars : nullptr, outcome.biasCorrected);
}

} // namespace corvane
