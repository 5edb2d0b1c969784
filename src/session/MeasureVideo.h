#pragma once
// One whole measurement of a drift video in a single call: what a user does
// in the window from opening the file to the reduction, given as a request.
// corvane-measure fills a request from its options and prints the outcome; a
// batch may call it once per video, from several threads at once (each call
// has its own session and shares nothing).
//
// Later settings belong in MeasureRequest as fields with a default that
// keeps today's numbers, so existing callers need no change.
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "reduce/Calibration.h"
#include "reduce/Epoch.h"
#include "reduce/Reduction.h"
#include "session/Inputs.h"
#include "session/MeasuringSession.h"
#include "session/SpeckleVideo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {

// A click on the frame, in frame pixels.
struct FramePoint {
    int32_t x = 0;
    int32_t y = 0;
};

struct MeasureRequest {
    std::string video;
    FramePoint primary;
    FramePoint secondary;
    std::optional<int32_t> primaryFrame; // where the primary is clicked; default: the start frame
    std::optional<int32_t> startFrame;   // default 0
    std::optional<int32_t> stopFrame;    // default: the video's length
    int32_t boxSize = 12;
    Method method = kDefaultMethod;
    Orientation orientation = Orientation::CorrectOrInverted;
    // The Dec boxes as typed; their texts when the window opens.
    std::string decDegrees = "+00";
    std::string decMinutes = "00";
    std::string decSeconds = "00";
    // Whether the Dec boxes were given (with a calibration they need not be).
    bool declinationGiven = true;
    char decimalSeparator = '.';
    // UT of the observation; default: when the recording started.
    std::optional<CivilDateTime> observation;
    // The frame rate of a recording whose frames have no times of their own
    // (a FITS cube, a SER file without usable time stamps); such a recording
    // is refused without it.
    std::optional<double> frameRate;
    // Also time the video source alone against the run (see BenchResult).
    bool bench = false;
    // Reject the accepted frames whose separation or screen angle lies more
    // than this many standard deviations from the mean (see clipOutliers);
    // none: every accepted frame counts.
    std::optional<double> clipSigma;
    // Both clicks found on the primary frame instead of given: the two
    // brightest stars that stand apart, the brighter the primary.
    bool findPair = false;
    // One drifting star and no secondary: the star is followed with its
    // box (Weighted Average) for the drift's calibration; no pair is reduced.
    bool singleStar = false;
    // Calibration files used instead of the drift, several combined by
    // inverse-variance weighting; a tracked video is then measured.
    std::vector<std::string> calibrationFiles;
    // A calibration already read (the window's, in use), taken when no
    // files are given.
    std::optional<Calibration> calibration;
    // Also give the drift's calibration (`MeasureOutcome::driftCalibration`).
    bool calibrate = false;
    // Speckle (Method::Speckle): a single star's video taken the same way,
    // whose spectrum stands for the atmosphere's (empty: a smooth radial fit
    // of the pair's own), the box's side, and where the autocorrelogram is
    // saved as a PNG (empty: not saved). The primary click is the star; a
    // found pair ("auto") is the brightest pixel.
    std::string referenceVideo;
    int32_t speckleBox = kDefaultSpeckleBox;
    std::string speckleImage;
    // The artificial-star test after the run (none: skipped), and whether
    // the result takes the biases it finds off (the measured values stay
    // the result otherwise; the warnings offer the corrected ones).
    bool artificialStars = true;
    bool correctBias = false;
};

// Frame rates of the video source alone and of the measuring run, over the
// same frames, in frames per second of CPU time.
struct BenchResult {
    int32_t frames = 0;
    double decodeFps = 0;
    double runFps = 0;
    // Frames the run read only in the band around the system box, and those
    // of them it read again whole because measuring reached outside the band.
    int32_t framesInBand = 0;
    int32_t framesReadAgainWhole = 0;
    double ratio() const { return decodeFps > 0 ? runFps / decodeFps : 0; }
};

struct MeasureHooks {
    // Called once the range is known, before the first frame is measured.
    std::function<void(int32_t startFrame, int32_t stopFrame)> runStarting;
    // Called after every measured frame with its number.
    std::function<void(int32_t frame)> afterFrame;
    // Asked before every frame; true ends the run there (the reduction follows).
    std::function<bool()> cancelRequested;
};

struct MeasureOutcome {
    std::string video;
    Method method = kDefaultMethod;
    int32_t framesMeasured = 0;
    bool cancelled = false;
    int32_t validFrames = 0;    // after the outlier rejection
    int32_t clippedFrames = 0;  // rejected as outliers
    RejectionCounts rejections; // the other rejected frames, by reason
    // Why there is no result, with the counts; empty when the reduction ran.
    std::string noResult;
    // The doubts the result deserves, in the program's words (without a
    // result, those about the pair and the sky).
    std::vector<std::string> warnings;
    FrameTable table; // one row per frame of the video
    // Set when the reduction ran and reached its end; empty when fewer than
    // 16 rows were valid or when it stopped on `reductionError`.
    std::optional<ReductionResult> reduction;
    std::string reductionError; // why the reduction stopped short; empty otherwise
    EpochResult epoch;
    char decimalSeparator = '.'; // of the request: the texts are written with it
    // Where the frame times came from and how regular they were.
    FrameTiming timing;
    std::optional<BenchResult> bench;
    // Where the stars were clicked (found, with `findPair`).
    FramePoint primary, secondary;
    // The calibration the reduction used (the files' combined), with the
    // warning when they disagree by more than their errors allow.
    std::optional<Calibration> calibrationUsed;
    std::string calibrationWarning;
    // The drift's calibration, when asked for and the drift gave one.
    std::optional<Calibration> driftCalibration;
    // The artificial-star test of the result; with `correctBias` the result
    // had its biases taken off (`biasCorrected`).
    std::optional<ArtificialStarResult> artificialStars;
    bool biasCorrected = false;
    // A speckle measurement's result (the frame table then stays empty).
    std::optional<SpeckleOutcome> speckle;
};

// Opens the video, gives it the frame rate if the request has one, and
// checks the request against it (throws RequestError; a recording without
// frame times and no rate is one), reads the calibration files (throws Error
// naming a file that cannot be used), checks the declination texts (throws
// Error with the reduction's message; not read with a calibration), clicks
// the pair or finds it (throws Error when the frame has no clear pair),
// measures the range and reduces. The drift's calibration, when asked for,
// throws Error with the reduction's message when the drift gives none.
// Errors of the video itself are thrown as Error with the window's message.
MeasureOutcome measureVideo(const MeasureRequest& request, const MeasureHooks& hooks = {});

// The results line of a finished measurement (its outcome has a reduction).
std::string resultsLine(const MeasureOutcome& outcome, const std::string& recordDate,
                        const PairTexts& pair);
// Its row of results.csv.
std::string resultsCsvRow(const MeasureOutcome& outcome, const std::string& recordDate,
                          const PairTexts& pair);

} // namespace corvane
