#include "session/MeasuringSession.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/Reset.h"
#include "measure/Selection.h"
#include "results/ResultsFile.h"
#include "session/ReductionMessages.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <limits>

namespace corvane {

void MeasuringSession::open(const std::string& path) {
    player_.OpenVideo(path);
    player_.SetStepSize(1);
    player_.SetTimeFormat(TimeFormat::Frames);
    player_.SeekTo(0);
    selection_.reset();
    clear();
}

CivilDateTime MeasuringSession::recordingStart() const {
    const FrameSource* source = player_.Source();
    if (!source)
        throw Error(kNoDeviceOpen);
    const int64_t micros = source->recordingStart().unixMicros;
    // Whole milliseconds, rounded down also before 1970.
    int64_t millis = micros / 1000 - (micros % 1000 < 0 ? 1 : 0);
    int64_t secs = millis / 1000 - (millis % 1000 < 0 ? 1 : 0);
    millis -= secs * 1000;
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm ut{};
    if (!::gmtime_r(&t, &ut))
        throw Error("The recording's start time cannot be read");
    CivilDateTime c;
    c.year = ut.tm_year + 1900;
    c.month = ut.tm_mon + 1;
    c.day = ut.tm_mday;
    c.hour = ut.tm_hour;
    c.minute = ut.tm_min;
    c.second = ut.tm_sec + static_cast<double>(millis) / 1000.0;
    return c;
}

void MeasuringSession::setFrameRate(double fps) {
    FrameSource* source = player_.Source();
    if (!source)
        throw Error(kNoDeviceOpen);
    source->setFrameRate(fps);
}

std::string MeasuringSession::missingFrameTimesText() const {
    const FrameSource* source = player_.Source();
    if (!source)
        return kNoDeviceOpen;
    return "The frames of this " + source->formatName() +
           " have no times; give the frame rate: " + player_.FileName();
}

FrameTiming MeasuringSession::timing() const {
    const FrameSource* source = player_.Source();
    if (!source)
        throw Error(kNoDeviceOpen);
    if (!source->hasFrameTimes())
        throw Error(missingFrameTimesText());
    return frameTimingOf(*source);
}

void MeasuringSession::clear() {
    cleardata(state_, player_);
    clippedFrames_.clear();
}

void MeasuringSession::reset(const std::function<int32_t()>& startFrame) {
    resetvideo(state_, player_, startFrame);
    clippedFrames_.clear();
}

void MeasuringSession::reset(int32_t startFrame) {
    reset([startFrame] { return startFrame; });
}

void MeasuringSession::restartFromSelection(int32_t startFrame) {
    if (!selection_)
        throw RequestError(RequestField::Primary,
                           "no pair is chosen: click the primary, then the secondary");
    if (startFrame != selectionFrame_)
        throw RequestError(RequestField::StartFrame,
                           std::to_string(startFrame) + " is not the frame " +
                               std::to_string(selectionFrame_) +
                               " the pair was clicked on: click the pair again");
    reset(startFrame);
    FrameTable table = std::move(state_.FrameData);
    state_ = *selection_;
    state_.FrameData = std::move(table);
}

void MeasuringSession::goToFrame(int32_t n) {
    player_.SeekTo(n);
}

void MeasuringSession::selectPrimary(int32_t x, int32_t y, int32_t boxSize) {
    selectprimary(state_, player_.Intensities(), x, y, boxSize);
}

void MeasuringSession::selectSecondary(int32_t x, int32_t y, int32_t boxSize,
                                       const std::function<int32_t()>& startFrame,
                                       const std::function<void()>& afterReset) {
    // The secondary is placed on the start frame, and every earlier
    // measurement is void once the pair changes.
    reset(startFrame);
    state_.OneStar = false;
    if (afterReset)
        afterReset();
    selectsecondary(state_, player_, x, y, boxSize);
    selection_ = state_;
    selection_->FrameData.clear();
    selectionFrame_ = player_.CurrentPosition();
}

void MeasuringSession::clearSelection() {
    state_.PrimaryBox = TStarbox{};
    state_.SecondaryBox = TStarbox{};
    state_.SystemBox = TStarbox{};
    state_.ExpectedDX = 0;
    state_.ExpectedDY = 0;
    state_.OneStar = false;
    selection_.reset();
}

void MeasuringSession::selectSingleStar(int32_t x, int32_t y, int32_t boxSize,
                                        const std::function<int32_t()>& startFrame) {
    selectPrimary(x, y, boxSize);
    const TStarbox& star = state_.PrimaryBox;
    selectSecondary(star.CentreX, star.CentreY, boxSize, startFrame);
    state_.OneStar = true;
    selection_->OneStar = true;
}

FoundPair MeasuringSession::findPair() const {
    return corvane::findPair(player_.Intensities());
}

RunResult MeasuringSession::run(Method method, const RunHooks& hooks) {
    startRun();
    return continueRun(method, hooks);
}

void MeasuringSession::startRun() {
    player_.RedrawFrame();
}

RunResult MeasuringSession::continueRun(Method method, const RunHooks& hooks) {
    return runFrames(state_, player_, method, hooks);
}

bool MeasuringSession::measureAt(int32_t n, Method method) {
    player_.SetTimeFormat(TimeFormat::Frames);
    player_.SeekTo(n);
    player_.RepaintPlayer();
    return measureframe(state_, player_, method);
}

const FrameRow* MeasuringSession::row(int32_t n) const {
    const FrameTable& t = state_.FrameData;
    if (n < 0 || static_cast<std::size_t>(n) >= t.size())
        return nullptr;
    return &t[static_cast<std::size_t>(n)];
}

bool MeasuringSession::setAccepted(int32_t n, bool accepted) {
    if (!row(n))
        return false;
    FrameRow& r = state_.FrameData[static_cast<std::size_t>(n)];
    r.Valid = accepted;
    // The user's choice stands over the track's too.
    if (r.Rejection == RowRejection::OffTrack)
        r.Rejection = RowRejection::None;
    // The user's choice stands over the clipping's.
    clippedFrames_.erase(std::remove(clippedFrames_.begin(), clippedFrames_.end(), n),
                         clippedFrames_.end());
    return true;
}

ReductionResult MeasuringSession::reduce(Orientation orientation, const std::string& decDegrees,
                                         const std::string& decMinutes,
                                         const std::string& decSeconds,
                                         char decimalSeparator) const {
    if (calibration_) {
        ReductionResult r =
            reduceWithCalibration(pairPositions(state_.FrameData), *calibration_, orientation);
        r.orientation = orientation;
        return r;
    }
    ReductionResult r =
        reduceAtTypedDeclination(pairPositions(state_.FrameData), orientation, decDegrees,
                                 decMinutes, decSeconds, decimalSeparator);
    r.orientation = orientation;
    return r;
}

void MeasuringSession::useCalibration(const Calibration& calibration) {
    calibration_ = calibration;
}

void MeasuringSession::stopUsingCalibration() {
    calibration_.reset();
}

Calibration MeasuringSession::driftCalibration(const std::string& decDegrees,
                                               const std::string& decMinutes,
                                               const std::string& decSeconds, char decimalSeparator,
                                               const std::string& observedUtc,
                                               const std::string& source) const {
    // The boxes give the size; the sign is the degrees box's, as typed.
    const long double size =
        declinationMagnitude(decDegrees, decMinutes, decSeconds, decimalSeparator);
    const std::size_t first = decDegrees.find_first_not_of(' ');
    const bool south = first != std::string::npos && decDegrees[first] == '-';
    return withRefusalText([&] {
        return calibrationFromDrift(pairPositions(state_.FrameData),
                                    static_cast<double>(south ? -size : size), observedUtc, source);
    });
}

std::string MeasuringSession::resultsLine(const std::string& recordDate, const PairTexts& pair,
                                          const MeasuredTexts& measured) const {
    return corvane::resultsLine(recordDate, pair, measured, acceptedFrames());
}

ResultsFields resultsFields(const std::string& recordDate, const PairTexts& pair,
                            const MeasuredTexts& measured, int32_t validFrames) {
    ResultsFields f;
    f.recordDate = recordDate;
    f.designation = pair.designation;
    f.raHours = pair.raHours;
    f.raMinutes = pair.raMinutes;
    f.raSeconds = pair.raSeconds;
    f.decDegrees = pair.decDegrees;
    f.decMinutes = pair.decMinutes;
    f.decSeconds = pair.decSeconds;
    // A declination typed in any form the reduction reads is written in one:
    // the same pair gives the same line from every front end.
    try {
        checkDeclination(pair.decDegrees, pair.decMinutes, pair.decSeconds, pair.decimalSeparator);
        const DeclinationTexts dec = declinationTexts(pair.decDegrees, pair.decMinutes,
                                                      pair.decSeconds, pair.decimalSeparator);
        f.decDegrees = dec.degrees;
        f.decMinutes = dec.minutes;
        f.decSeconds = dec.seconds;
    } catch (const RequestError&) {
    }
    f.epochJ = measured.epochJ;
    f.epochB = measured.epochB;
    f.separation = measured.separation;
    f.positionAngle = measured.positionAngle;
    f.validFrames = validFrames;
    f.notes = pair.notes;
    return f;
}

std::string resultsLine(const std::string& recordDate, const PairTexts& pair,
                        const MeasuredTexts& measured, int32_t validFrames) {
    return buildResultsLine(resultsFields(recordDate, pair, measured, validFrames));
}

void MeasuringSession::saveResults(const std::string& path, const std::string& line) {
    appendResultsLine(path, line);
}

int32_t MeasuringSession::decodePass(int32_t from, int32_t to) {
    FrameSource* source = player_.Source();
    if (!source || source->frameCount() <= 0)
        return 0;
    // The end position shows the last frame, as a run's last step does.
    const int32_t last = source->frameCount() - 1;
    Frame scratch;
    int32_t frames = 0;
    for (int32_t n = std::max(from, 0) + 1; n <= std::min(to, last + 1); ++n) {
        source->decodeOnly(std::min(n, last), scratch);
        ++frames;
    }
    return frames;
}

PairPositions pairPositions(const FrameTable& table) {
    PairPositions rows;
    rows.reserve(table.size());
    for (const FrameRow& r : table) {
        PairPosition p;
        p.PrimaryX = r.PrimaryX;
        p.PrimaryY = r.PrimaryY;
        p.SecondaryX = r.SecondaryX;
        p.SecondaryY = r.SecondaryY;
        p.SepPixels = r.SepPixels;
        p.ScreenAngle = r.ScreenAngle;
        p.TimeUs = r.TimeUs;
        p.FrameNo = r.FrameNo;
        p.Valid = r.Valid;
        p.FluxRatio = r.FluxRatio;
        p.RatioOnly =
            !r.Valid && r.PrimaryStatus == StarStatus::Found &&
            (r.SecondaryStatus == StarStatus::TooFaint || r.SecondaryStatus == StarStatus::Merged ||
             (r.Rejection == RowRejection::OffTrack && r.SecondaryStatus == StarStatus::Found));
        // The offset's errors along x and y, turned along and across it.
        const double dx = r.SecondaryX - r.PrimaryX, dy = r.SecondaryY - r.PrimaryY;
        const double ex = r.OffsetXError, ey = r.OffsetYError;
        const double sep2 = dx * dx + dy * dy;
        if (sep2 > 0) {
            p.SepPixelsError =
                static_cast<float>(std::sqrt((dx * dx * ex * ex + dy * dy * ey * ey) / sep2));
            p.ScreenAngleError = static_cast<float>(
                std::sqrt(dy * dy * ex * ex + dx * dx * ey * ey) / sep2 * 180.0 / M_PI);
        }
        rows.push_back(p);
    }
    return rows;
}

std::string utcText(const CivilDateTime& t) {
    const int32_t millis = static_cast<int32_t>(std::floor(t.second * 1000.0 + 1e-6));
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                  t.hour, t.minute, millis / 1000, millis % 1000);
    return text;
}

ReductionResult reduceAtTypedDeclination(const PairPositions& table, Orientation orientation,
                                         const std::string& decDegrees,
                                         const std::string& decMinutes,
                                         const std::string& decSeconds, char sep) {
    long double dec = std::numeric_limits<long double>::quiet_NaN();
    std::string unreadable;
    try {
        dec = declinationMagnitude(decDegrees, decMinutes, decSeconds, sep);
    } catch (const Error& e) {
        unreadable = e.what();
    }
    ReductionResult r = reduce(table, orientation, dec);
    writeRefusalText(r);
    if (!unreadable.empty() && r.reached == ReductionStage::Regression)
        r.error = unreadable;
    return r;
}

ReductionTexts reductionTexts(const ReductionResult& r, char sep) {
    ReductionTexts t;
    if (r.reached >= ReductionStage::Averages) {
        t.sepPx = formatRounded(r.averages.meanSep, 2, sep);
        t.screenAngle = formatRounded(r.averages.meanAngle, 2, sep);
    }
    if (r.reached >= ReductionStage::Regression) {
        t.primarySlope = formatRounded(r.regression.driftAngle, 2, sep);
        if (!r.calibrated)
            t.secondarySlope = formatRounded(r.regression.secondaryDriftAngle, 2, sep);
        t.positionAngle = formatRounded(r.regression.positionAngle, 2, sep);
    }
    if (r.reached >= ReductionStage::Separation) {
        t.pixelScale = formatRounded(r.separation.pixelScale, 4, sep);
        t.separation = formatRounded(r.separation.separation, 2, sep);
    }
    return t;
}

EpochTexts epochTexts(const EpochResult& epoch, char sep) {
    return {formatRounded(epoch.julianEpoch, 3, sep), formatRounded(epoch.besselianEpoch, 3, sep)};
}

MeasuredTexts measuredTexts(const EpochResult& epoch, const ReductionResult& reduction, char sep) {
    const EpochTexts e = epochTexts(epoch, sep);
    const ReductionTexts r = reductionTexts(reduction, sep);
    MeasuredTexts m;
    m.epochJ = e.julian;
    m.epochB = e.besselian;
    m.julianDate = julianDateText(epoch);
    m.separation = r.separation;
    m.positionAngle = r.positionAngle;
    return m;
}

} // namespace corvane
