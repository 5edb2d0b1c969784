#pragma once
// The frame measurement table: one row per frame of the open video, indexed
// by frame number (rows 0 .. length inclusive), and the acceptance tests that
// the measuring methods apply to a new row.
#include "common/ValidRows.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

// What became of one star on a frame. A star that was lost (too faint, off
// the frame, merged) makes its row invalid; a saturated star is measured as
// usual and only flagged, for the warnings.
enum class StarStatus : uint8_t {
    NotMeasured = 0, // no method has written the row
    Found,
    TooFaint,      // no light above the sky where the star was looked for
    OffFrame,      // where the star was looked for lies wholly outside the frame
    Saturated,     // measured, but a pixel of its box reaches the white level
    Merged,        // its light is not told apart from the other star's
    MissingPixels, // a pixel of its box holds no number in the file (NaN or infinite)
};

// Whether the star was lost: too faint, off the frame, merged or over
// missing pixels.
inline bool isLost(StarStatus s) {
    return s == StarStatus::TooFaint || s == StarStatus::OffFrame || s == StarStatus::Merged ||
           s == StarStatus::MissingPixels;
}
// "not_measured", "found", "too_faint", "off_frame", "saturated", "merged",
// "missing_pixels".
const char* starStatusName(StarStatus s);

// Why a measured row was rejected where its stars' statuses do not tell.
enum class RowRejection : uint8_t {
    None = 0,
    Repeat,       // the frame repeats the one before it
    NotConverged, // the fit gave no answer about either star
    OffTrack,     // the secondary lay far off the run's track (rejectOffTrack)
    Offset,       // the secondary not where the selection puts it (the offset test)
    Saturated,    // the method refused the frame, and a star's image reaches the white level
    Refused,      // the method refused its answer (a fit's centre left its box, say)
};
// "none", "repeat", "not_converged", "off_track", "offset", "saturated",
// "refused".
const char* rowRejectionName(RowRejection r);

struct FrameRow {
    float PrimaryX = 0; // frame pixels
    float PrimaryY = 0;
    float SecondaryX = 0;
    float SecondaryY = 0;
    float SepPixels = 0;   // pixels
    float ScreenAngle = 0; // degrees, -90..+90, counter-clockwise from screen +x
    // What a fitting method knows of its own precision on this frame; NaN
    // where the method gives none (Weighted Average, Peak Search) or the fit
    // gave no answer. The offset is the secondary minus the primary, the
    // errors its standard errors along screen x and y (y times the y scale,
    // as the positions). They stay in pixels along the axes, as the fits
    // give them: the reduction turns the offset into separation and angle
    // itself, and an angle's error has no meaning near a zero offset.
    float OffsetXError = std::numeric_limits<float>::quiet_NaN();
    float OffsetYError = std::numeric_limits<float>::quiet_NaN();
    // The secondary's light over the primary's, and its standard error.
    float FluxRatio = std::numeric_limits<float>::quiet_NaN();
    float FluxRatioError = std::numeric_limits<float>::quiet_NaN();
    // The images' width (FWHM, pixels) the fit found; NaN where it fits none.
    float ImageFwhm = std::numeric_limits<float>::quiet_NaN();
    int64_t TimeUs = 0; // microseconds from the start of the recording
    int32_t FrameNo = 0;
    int32_t SystemX = 0; // system box centre after measuring this frame
    int32_t SystemY = 0;
    bool Valid = false;
    StarStatus PrimaryStatus = StarStatus::NotMeasured;
    StarStatus SecondaryStatus = StarStatus::NotMeasured;
    RowRejection Rejection = RowRejection::None;
};

using FrameTable = std::vector<FrameRow>;

// Speckle measures the whole run's spectrum, not each frame: it has no entry in
// the per-frame method table.
enum class Method { WeightedAverage = 0, PeakSearch = 1, PsfFit = 2, Speckle = 3, TemplateFit = 4 };

int32_t CountValidRows(const FrameTable& table);
// The rows that hold a measurement.
int32_t CountMeasuredRows(const FrameTable& table);
// Whether row i holds a measurement, accepted or not: a measured row carries
// its own frame number (row 0, which always does, when it has a system box).
bool isMeasuredRow(const FrameTable& table, std::size_t i);

// Separation and screen angle of a row from its stored positions:
// dx, dy as 32-bit floats; ScreenAngle = atan(-dy/dx) in degrees, -90 when dx is 0.
void computeSeparationAndAngle(FrameRow& row);

// The secondary's offset from the primary beyond this many robust standard
// deviations of the run's median offset, in x or in y: off the track.
inline constexpr double kOffTrackDeviations = 5.0;
// Rejects the accepted rows whose offset lies off the track of the accepted
// rows (median, and 1.4826 times the median absolute deviation for the
// standard deviation, so that the frames it looks for do not widen the
// limit), marks them OffTrack and returns how many there were. Fewer than
// MinValidRows accepted rows are too few to tell a track: none is rejected.
int32_t rejectOffTrack(FrameTable& table);
// Gives a row its method or the offset test refused (`methodAccepted`: the
// method itself took it) the reason its stars' statuses do not already
// give, so that no rejected row is left without one: the offset test when
// the method took it, else a star that reaches the white level (the fits
// leave clipped pixels out, and what is left may not hold the star), else
// the method's own refusal.
void nameRejection(FrameRow& row, bool methodAccepted);
// The rows rejectOffTrack rejected are accepted again (before it judges
// them anew on a changed table).
void acceptOffTrackAgain(FrameTable& table);

// The common acceptance of row n (only ever clears Valid):
// 1. a star that was lost (too faint, off the frame, merged);
// 2. offset: the deviation of (SecondaryX - PrimaryX) from expectedDX, as a
//    fraction of the expected separation |(expectedDX, expectedDY)| (the raw
//    deviation in pixels when both are 0), above the method's limit; same
//    for y.
//    The limit is compared in extended precision with the 32-bit quotient, so
//    6 pixels on 10 is rejected at 0.6 (the quotient lies just above it) and
//    exactly half passes at 0.5.
// Frames that repeat the one before are told by `rejectRepeat` (Methods.h).
void applyAcceptance(FrameTable& table, int32_t n, int32_t expectedDX, int32_t expectedDY,
                     long double limit);
// The same with the limit of the method's entry (Methods.h).
void applyAcceptance(FrameTable& table, int32_t n, int32_t expectedDX, int32_t expectedDY,
                     Method method);

} // namespace corvane
