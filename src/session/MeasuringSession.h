#pragma once
// One measurement of a double star from the user's side: open a video, pick
// the range, click the pair, run the frames, accept or reject single frames,
// reduce, and build and save the results line. The window and corvane-measure
// both go through these calls, so they cannot measure differently; each only
// moves its own texts in and out and draws.
//
// The session owns the player that holds the frame being measured and its
// intensities, and the working state with the frame table. It draws nothing:
// a window gives the player its panel and draws the boxes and marks from the
// working state; without one the frames are read for their intensities alone.
#include "measure/FrameTable.h"
#include "measure/PairFinder.h"
#include "measure/Runs.h"
#include "measure/WorkingState.h"
#include "reduce/Calibration.h"
#include "reduce/Epoch.h"
#include "reduce/Positions.h"
#include "reduce/Reduction.h"
#include "results/ResultsLine.h"
#include "session/Inputs.h"
#include "video/FrameTiming.h"
#include "video/Player.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The texts of a results line that the user types about the pair.
struct PairTexts {
    std::string designation;
    std::string raHours, raMinutes, raSeconds;
    std::string decDegrees, decMinutes, decSeconds;
    std::string notes;
    char decimalSeparator = '.'; // of the Dec boxes
};

// The texts of a results line that come from the measurement.
struct MeasuredTexts {
    std::string epochJ, epochB;
    std::string julianDate;    // of the observation, to the second, with a point (results.csv)
    std::string separation;    // arc-seconds
    std::string positionAngle; // degrees
};

class MeasuringSession {
public:
    MeasuringSession() = default;
    MeasuringSession(const MeasuringSession&) = delete;
    MeasuringSession& operator=(const MeasuringSession&) = delete;

    Player& player() { return player_; }
    const Player& player() const { return player_; }
    WorkingState& state() { return state_; }
    const FrameTable& table() const { return state_.FrameData; }

    // Opens the video, steps one frame at a time in frame numbers, stands on
    // frame 0 and gives the table one empty row per frame. The window resets
    // half a second later; a caller without one calls `reset(0)` itself.
    void open(const std::string& path);
    // When the recording started, in UT, to the millisecond: what the file
    // records, or else its modification time to the 2 seconds a file date holds.
    CivilDateTime recordingStart() const;
    // Whether the open video's frames have times. A recording without time
    // stamps (a FITS cube, a SER file whose stamps are missing or broken) has
    // none until `setFrameRate`: until then measuring a frame is refused with
    // a message asking for the rate, since a drift timed by frame number
    // would give a wrong scale.
    bool hasFrameTimes() const { return player_.HasFrameTimes(); }
    // The frame rate of a recording without time stamps. Throws Error for a
    // rate out of range, a file that times its own frames, or no video.
    void setFrameRate(double fps);
    // The message measuring gives while the frames have no times.
    std::string missingFrameTimesText() const;
    // How regularly the frames were taken. Throws Error without frame times.
    FrameTiming timing() const;
    // The black and white points deep frames are shown with (nothing for
    // frames shown as they are), and new ones: the frame on screen follows.
    std::optional<StretchPoints> displayStretch() const { return player_.DisplayStretch(); }
    void setDisplayStretch(StretchPoints points) { player_.SetDisplayStretch(points); }

    // The table emptied and refilled with empty rows for the open video.
    void clear();
    // Back to the start frame with an empty table; the pair stays chosen.
    // The start frame is asked for only after the table has been cleared, so
    // with no video open the "No MCI device open" error comes first.
    void reset(const std::function<int32_t()>& startFrame);
    void reset(int32_t startFrame);

    void goToFrame(int32_t n);

    // The first click: the primary's box placed and settled on its light.
    void selectPrimary(int32_t x, int32_t y, int32_t boxSize);
    // The second click: back to the start frame with an empty table, then the
    // secondary's box, the system box around both and the expected offset.
    // `afterReset` lets a display show the reset before the new boxes are drawn.
    void selectSecondary(int32_t x, int32_t y, int32_t boxSize,
                         const std::function<int32_t()>& startFrame,
                         const std::function<void()>& afterReset = {});
    // No pair chosen: the three boxes and the expected offset back to nothing.
    void clearSelection();
    // One star alone, for a calibration: both boxes on the star, so that its
    // track fills the primary's columns (the Weighted Average follows it;
    // Peak Search needs two stars).
    void selectSingleStar(int32_t x, int32_t y, int32_t boxSize,
                          const std::function<int32_t()>& startFrame);
    // The two brightest stars that stand apart on the frame on screen, the
    // brighter first (see findPair for the refusals).
    FoundPair findPair() const;

    // The pair as it was clicked (its boxes where the second click left them)
    // back on the start frame, with an empty table: a new run measures it
    // again from there. Throws RequestError when the start frame is no
    // longer the one the pair was clicked on, or when no pair is chosen.
    void restartFromSelection(int32_t startFrame);
    // The frame the pair was clicked on; -1 with no pair chosen.
    int32_t selectionFrame() const { return selection_ ? selectionFrame_ : -1; }

    // The frame on screen drawn afresh, then every frame after it up to the
    // stop frame measured with `method` (see runFrames for the hooks).
    RunResult run(Method method, const RunHooks& hooks);
    // The same in pieces, for a caller that returns to its event loop between
    // them: `startRun` draws the frame on screen afresh, each `continueRun`
    // measures on from where the last one stopped (a cancel ends a piece).
    void startRun();
    RunResult continueRun(Method method, const RunHooks& hooks);
    // One frame measured by hand: the player moved to frame n (repainted)
    // and that frame measured. Returns whether a row was written.
    bool measureAt(int32_t n, Method method);

    // The row of frame n, or nullptr when the table has none.
    const FrameRow* row(int32_t n) const;
    // The user accepts or rejects frame n; false when the table has no such row.
    bool setAccepted(int32_t n, bool accepted);
    int32_t acceptedFrames() const { return CountValidRows(state_.FrameData); }
    // Frames of the table that hold a measurement, accepted or not.
    int32_t measuredFrames() const { return CountMeasuredRows(state_.FrameData); }
    bool reductionDue() const { return corvane::reductionDue(state_.FrameData); }
    // Why there is no result, with the counts ("Only 11 of 300 frames were
    // accepted; at least 16 are needed") and, when frames were rejected, the
    // commonest reason with what to try instead of `method`, the method the
    // frames were measured with; empty when the reduction is due.
    std::string noResultText(Method method) const;
    // The rejected frames of the table by reason, measured with `method`.
    RejectionCounts rejectionCounts(Method method) const;

    // What follows a run, the same for every front end: the frames clipped
    // as outliers before (see rejectOutliers) accepted again, then clipped
    // anew if `settings` asks, and the reduction with its warnings. Throws
    // RequestError for a declination the reduction cannot use (not read with
    // a calibration).
    RunFinish finishRun(const ReductionSettings& settings);

    // Optional outlier rejection before the reduction: the accepted frames
    // whose separation or screen angle lies more than `sigma` standard
    // deviations from the mean are rejected (see clipOutliers). Returns how
    // many were. Throws Error for a limit below kMinClipSigma.
    int32_t rejectOutliers(double sigma);

    // A calibration stands in for the drift from now on: the reduction takes
    // the pixel scale and the drift direction from it (the declination boxes
    // are not read), so a tracked video is measured. Until
    // `stopUsingCalibration`.
    void useCalibration(const Calibration& calibration);
    void stopUsingCalibration();
    const std::optional<Calibration>& calibration() const { return calibration_; }

    // The whole reduction of the accepted frames with the declination as
    // typed, or with the calibration in use.
    ReductionResult reduce(Orientation orientation, const std::string& decDegrees,
                           const std::string& decMinutes, const std::string& decSeconds,
                           char decimalSeparator) const;

    // The warnings the reduction `r` of this table deserves, measured with
    // `method`, in the program's words; none for a sound result. Without a
    // reduction (an empty `r`) those about the pair and the sky alone.
    std::vector<std::string> warnings(const ReductionResult& r, Method method,
                                      char decimalSeparator) const;

    // The calibration of the measured drift, from the primary's track alone,
    // at the declination as typed; `observedUtc` is when the video was taken
    // and `source` its name. Throws corvane::Error with the reduction's
    // message for a table that gives none.
    Calibration driftCalibration(const std::string& decDegrees, const std::string& decMinutes,
                                 const std::string& decSeconds, char decimalSeparator,
                                 const std::string& observedUtc, const std::string& source) const;

    // The results line of this measurement, with its accepted-frame count.
    std::string resultsLine(const std::string& recordDate, const PairTexts& pair,
                            const MeasuredTexts& measured) const;
    // The same measurement's row of results.csv: the line's fields, then the
    // statistics of `r`, the counts (`clipped` frames removed as outliers),
    // the method, the video and the time span of the accepted frames.
    std::string resultsCsvRow(const std::string& recordDate, const PairTexts& pair,
                              const MeasuredTexts& measured, const ReductionResult& r,
                              Method method, int32_t clipped) const;
    // Appends the line to the results file at `path` (created with its title
    // and header when new).
    static void saveResults(const std::string& path, const std::string& line);
    // The line to the results file and the row to results.csv beside it.
    static void saveResults(const std::string& path, const std::string& line,
                            const std::string& csvRow);

    // The frames a run from position `from` up to `to` reads, brought out of
    // the file without measuring and without making intensities or a
    // picture: the work of decoding alone. Returns the number of frames.
    int32_t decodePass(int32_t from, int32_t to);

private:
    Player player_;
    WorkingState state_;
    std::optional<Calibration> calibration_;
    // The working state right after the second click, without its table.
    std::optional<WorkingState> selection_;
    int32_t selectionFrame_ = -1;
    // The frames the last clipping rejected, accepted again before the next.
    std::vector<int32_t> clippedFrames_;
    // The artificial-star test of the last result, saved with it.
    std::optional<ArtificialStarResult> artificialStars_;
    // The secondary's light over the primary's as fits of a sample of the
    // run's accepted frames read it (0: not read; see Finish.cpp).
    double runFluxRatio_ = 0;
    // Why a calibrated run may not be what it seems: the video's own stars
    // drifted across the frame.
    std::optional<std::string> calibratedDriftWarning(const ReductionSettings& settings) const;
};

// What the reduction reads of the frame table: each row's positions, time,
// frame number and acceptance, in the table's order.
PairPositions pairPositions(const FrameTable& table);

// A date and time as UTC text, "YYYY-MM-DDTHH:MM:SS.sssZ".
std::string utcText(const CivilDateTime& t);

// The Julian date of an observation for results.csv: 5 decimals (a second)
// with a point.
std::string julianDateText(const EpochResult& epoch);

// The reduction of `table` at the declination of the Dec boxes as typed, read
// here once (declinationMagnitude): a text that cannot be read stops the
// reduction after the regression with the reading's message.
ReductionResult reduceAtTypedDeclination(const PairPositions& table, Orientation orientation,
                                         const std::string& decDegrees,
                                         const std::string& decMinutes,
                                         const std::string& decSeconds, char decimalSeparator);

// The texts of the reduction's boxes, each step's once it is reached: 2
// decimals, the pixel scale 4; the secondary's drift stays empty in a
// reduction with a calibration.
struct ReductionTexts {
    std::string sepPx;          // Edit11 "Sep (px)"
    std::string screenAngle;    // Edit12 "Angle (screen)"
    std::string primarySlope;   // Edit13 "Primary Slope" (hidden)
    std::string secondarySlope; // Edit14 "Secondary Slope" (hidden)
    std::string positionAngle;  // Edit15 "Postion Angle"
    std::string pixelScale;     // Edit19 "Pixels/arcsec"
    std::string separation;     // Edit16 "Separation", arc-seconds
};
ReductionTexts reductionTexts(const ReductionResult& reduction, char decimalSeparator);

// The epochs as Edit17 "Epoch (J)" and Edit18 "(B)" show them, 3 decimals.
struct EpochTexts {
    std::string julian, besselian;
};
EpochTexts epochTexts(const EpochResult& epoch, char decimalSeparator);

// The measured texts of a finished reduction (its separation and position
// angle) at the epoch of the observation.
MeasuredTexts measuredTexts(const EpochResult& epoch, const ReductionResult& reduction,
                            char decimalSeparator);

// The fields of a results line: the typed texts of the pair and the measured
// texts, with the accepted-frame count.
ResultsFields resultsFields(const std::string& recordDate, const PairTexts& pair,
                            const MeasuredTexts& measured, int32_t validFrames);

// The results line of a measurement with `validFrames` accepted frames.
std::string resultsLine(const std::string& recordDate, const PairTexts& pair,
                        const MeasuredTexts& measured, int32_t validFrames);

// The row of results.csv for a measurement whose frames are `table`, reduced
// to `r` with `method` (`clipped` frames removed as outliers), from the video at
// `videoPath`, with the calibration it used (none: its own drift).
std::string resultsCsvRow(const std::string& recordDate, const PairTexts& pair,
                          const MeasuredTexts& measured, const FrameTable& table,
                          const ReductionResult& r, Method method, int32_t clipped,
                          const std::string& videoPath, const Calibration* calibration = nullptr,
                          const ArtificialStarResult* artificialStars = nullptr,
                          bool biasCorrected = false);

// What a save will change in the typed texts, for the user to read before
// saving: tabs and line ends that results.txt writes as spaces, bytes that
// are not UTF-8 which results.csv replaces. Empty when nothing changes.
std::vector<std::string> saveNotices(const PairTexts& pair, const std::string& videoPath);

// What a line about to be saved still holds of the boxes' first texts, for the
// user to confirm: the designation "(Star Designation)" or empty, the RA's
// "HH", "MM" or "SS", a declination not given. Empty when there is none.
std::vector<std::string> placeholderNotices(const PairTexts& pair, bool declinationGiven);

// A calibration as results.csv records it: where it came from and its values.
std::string calibrationText(const Calibration& calibration);

// The standard errors of a finished reduction as shown beside its values:
// "±" and the error with the value's decimals, or more where those would
// show 0 (two significant digits at most).
struct ErrorTexts {
    std::string separation;    // arc-seconds
    std::string positionAngle; // degrees
};
ErrorTexts errorTexts(const ReductionResult& reduction, char decimalSeparator);
// One error (or spread) with `decimals`, or with more where those would show
// nothing of it (at most 6); empty for a value that is not a number.
std::string errorText(double error, int decimals, char decimalSeparator);
// How many independent frames the accepted ones are worth, in whole frames.
std::string effectiveFramesText(const ReductionStatistics& statistics, char decimalSeparator);
// The magnitude difference and its error, "2.01 ± 0.03"; empty for a method
// that gives none.
std::string deltaMagText(const ReductionStatistics& statistics, char decimalSeparator);

} // namespace corvane
