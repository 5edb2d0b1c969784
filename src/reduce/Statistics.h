#pragma once
// The uncertainty of a reduction: the scatter of the accepted frames, the
// standard errors of the pixel scale and of the drift direction, and both
// carried through to the separation in arc-seconds and the position angle;
// with the diagnostics that tell a doubtful result, and the doubts found in
// them.
//
// Neighbouring frames of a video share much of their error: the seeing moves
// the images over several frames, and a slow drift keeps a star on the same
// pixels for a while. Every standard error therefore counts the frames by how
// many independent ones they are worth (see Statistics.cpp); frames whose
// errors show no correlation count in full. The pixel scale and the drift
// direction, which compare the track's ends, also allow for the image
// motion slower than the run.
#include "reduce/Positions.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

// Scatter of one per-frame quantity over the accepted frames.
struct Scatter {
    double sd = 0;           // standard deviation of one frame (n - 1 in the divisor)
    double stderrOfMean = 0; // sd / sqrt(effective frames)
    // The frames' number over the series' correlation time: n for frames
    // whose errors are independent.
    double effectiveFrames = 0;
};

struct ReductionStatistics {
    int32_t framesAccepted = 0;
    // How many independent frames the accepted ones are worth: the fewest
    // that any of the per-frame series behind the result (separation, screen
    // angle and, for a measured drift, the primary's track along and across
    // it) is worth.
    double framesEffective = 0;
    Scatter separationPx; // pixels
    // Degrees; each frame's angle taken on the side of the wrap nearest the
    // common axis, as the mean is.
    Scatter screenAngle;

    // The magnitude difference of the pair from the accepted frames' flux
    // ratios, and its standard error; NaN when fewer than two have one.
    double deltaMag = std::numeric_limits<double>::quiet_NaN();
    double deltaMagStderr = std::numeric_limits<double>::quiet_NaN();

    double pixelScaleStderr = 0;         // pixels per arc-second
    double pixelScaleRelativeStderr = 0; // as a fraction of the scale
    double driftAngleStderr = 0;         // degrees

    double separationStderr = 0;             // arc-seconds, every share
    double separationStderrFromScale = 0;    // arc-seconds, the pixel scale's share alone
    double positionAngleStderr = 0;          // degrees, every share
    double positionAngleStderrFromDrift = 0; // degrees, the drift direction's share alone

    // The scale and the drift direction were measured from this video's drift
    // (not taken from a calibration); the two numbers below exist only then.
    bool driftMeasured = false;
    // The primary's positions around a steady straight drift fitted against
    // time: the rms residual per axis (pixels), and the same noise judged
    // from one frame to the next (the median successive residual difference
    // scaled to one frame's standard deviation). Independent noise gives the
    // two alike; a track that bends, jumps for good or changes speed raises
    // only the first.
    double driftResidualPx = 0;
    double driftFrameScatterPx = 0;
};

// How far the primary lies, on one accepted frame, from the steady straight
// drift fitted to its whole track against time (pixels, screen x and y).
struct DriftResidual {
    int32_t frame = 0;
    double x = 0;
    double y = 0;
};
// Every accepted row's, in the table's order; none without accepted rows.
std::vector<DriftResidual> driftResiduals(const PairPositions& table);

// Accepted frames below this fraction of the measured frames: doubtful.
inline constexpr double kMinAcceptedFraction = 0.25;
// Drift residual over the frame-to-frame scatter above this: the track is
// not a steady straight drift. Independent noise gives about 1 (two estimates
// of the same spread); 3 is far outside what chance gives even for 16 frames.
inline constexpr double kMaxDriftResidualRatio = 3.0;
// The pixel scale's relative standard error above this: doubtful.
inline constexpr double kMaxScaleRelativeStderr = 0.01;

// What a result gives to doubt, as numbers; the session writes the warnings.
enum class DoubtKind {
    FewFramesAccepted, // fewer than kMinAcceptedFraction of the measured frames
    TrackStrays,       // the primary's track is no steady straight drift
    ScaleUncertain,    // the pixel scale's relative error above kMaxScaleRelativeStderr
};
struct ReductionDoubt {
    DoubtKind kind = DoubtKind::FewFramesAccepted;
    // TrackStrays: the drift residual over the frame-to-frame scatter (0 when
    // there is no scatter to compare with); ScaleUncertain: the relative error.
    double value = 0;
    int32_t accepted = 0; // FewFramesAccepted: accepted of measured frames
    int32_t measured = 0;
};

// The doubts a result deserves, in that order; none for a sound result.
// `framesMeasured` is the number of frames the run measured.
std::vector<ReductionDoubt> reductionDoubts(const ReductionStatistics& stats,
                                            int32_t framesMeasured);

} // namespace corvane
