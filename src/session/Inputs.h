#pragma once
// What the user gives a measurement, checked the same way for the window and
// corvane-measure: the range, the Dec boxes, the frame rate and the clicks.
// A refusal names the input it is about; each front end puts its own name
// for it in front (a box's caption in the window, an option on the command
// line) and the window puts the cursor there.
#include "measure/FrameTable.h"
#include "reduce/Reduction.h"
#include "session/ArtificialStars.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace corvane {

// The input a RequestError is about.
enum class RequestField {
    Primary,
    Secondary,
    StartFrame,
    StopFrame,
    PrimaryFrame,
    FrameRate,
    DecDegrees,
    DecMinutes,
    DecSeconds,
};

// An input that cannot be measured with: `what()` is the value and what is
// wrong with it ("75 is not 0 to under 60 minutes"), without the input's name.
class RequestError : public std::runtime_error {
public:
    RequestError(RequestField field, const std::string& text)
        : std::runtime_error(text), field_(field) {}
    RequestField field() const { return field_; }

private:
    RequestField field_;
};

// The three Dec boxes as typed: degrees -90 to +90, minutes and seconds 0 to
// under 60 (an empty seconds box is 0), and not at a pole, where the stars
// do not drift. Throws RequestError naming the box.
void checkDeclination(const std::string& degrees, const std::string& minutes,
                      const std::string& seconds, char decimalSeparator);

// |degrees| + minutes / 60 + seconds / 3600 from the Dec boxes as typed, for
// the reduction: degrees and minutes must be numbers, an empty seconds box
// counts as 0; a text that is not a number throws the conversion message
// (corvane::Error), and so does a size not below 90 degrees, where no drift
// would be left to measure.
long double declinationMagnitude(const std::string& decDegrees, const std::string& decMinutes,
                                 const std::string& decSeconds, char decimalSeparator);

// The declination as a results line records it, whatever form it was typed
// in: "+30", "07", "05" or "05.5" (the seconds to a tenth). The boxes must
// pass checkDeclination.
struct DeclinationTexts {
    std::string degrees, minutes, seconds;
};
DeclinationTexts declinationTexts(const std::string& degrees, const std::string& minutes,
                                  const std::string& seconds, char decimalSeparator);

// A range of a video of `length` frames to measure: the stop frame after the
// start frame (for a video with frames), neither beyond the video's last
// position. Throws RequestError.
void checkRange(int32_t startFrame, int32_t stopFrame, int32_t length);

// The steps after a run, the same for every front end: the outliers clipped
// when asked, the reduction with the orientation and the declination (or the
// calibration in use), the warnings for the method that measured.
struct ReductionSettings {
    Orientation orientation = Orientation::CorrectOrInverted;
    std::string decDegrees = "+00", decMinutes = "00", decSeconds = "00";
    char decimalSeparator = '.';
    Method method = Method::WeightedAverage;
    std::optional<double> clipSigma; // none: every accepted frame counts
    // Whether the user gave the declination, rather than leaving the boxes
    // as they were; a calibrated run compares its own drift only then.
    bool declinationGiven = true;
    // Whether the artificial-star test follows a run with a result.
    bool artificialStars = true;
};

// How many measured frames were rejected, by reason; a frame the user
// unticked counts in none.
struct RejectionCounts {
    int32_t tooFaint = 0; // either star
    int32_t merged = 0;
    int32_t offFrame = 0;
    int32_t offset = 0; // the secondary not where the selection puts it
    int32_t repeat = 0; // the frame repeats the one before it
    int32_t notConverged = 0;
    int32_t offTrack = 0;
    int32_t saturated = 0; // refused by a fit, a star's image reaching the white level
    int32_t refused = 0;   // the fit refused its own answer
};

// Frames rejected because the fit gave no answer or lay off the track, as a
// share of the measured frames, from which a result is warned of.
inline constexpr double kUnsoundFitShare = 0.1;

struct RunFinish {
    int32_t clipped = 0;  // frames rejected as outliers
    int32_t offTrack = 0; // frames rejected as off the track (fitting methods)
    // Why there is no result, with the counts; empty when the reduction ran.
    std::string noResult;
    // The reduction as far as it went (its `error` says why it stopped);
    // none when there were too few accepted frames.
    std::optional<ReductionResult> reduction;
    std::vector<std::string> warnings;
    // The artificial-star test of the result, when it could be made.
    std::optional<ArtificialStarResult> artificialStars;
    bool hasResult() const { return reduction && reduction->error.empty(); }
};

// The declination a run will be reduced with, checked before the run's time
// is spent: with a calibration in use it is not read; otherwise it must have
// been given (a default is no declination) and read as one. Throws
// RequestError naming the box.
void checkDeclinationBeforeRun(const ReductionSettings& settings, bool calibrated);

// How far, in pixels, the stars may move during a run measured with a
// calibration before the video is taken for a drift rather than tracked.
inline constexpr double kCalibratedDriftLimitPx = 5.0;

} // namespace corvane
