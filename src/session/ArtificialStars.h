#pragma once
// The artificial-star test that follows every run with a result: in a sample
// of the accepted frames the secondary is taken out and a copy of the
// primary's own image, scaled to the secondary's light, put at the measured
// separation at several position angles; each copy is measured with the
// run's method as a pair with the primary, and what it reads is compared
// with where it was put. The difference is the method's pull at this pair's
// geometry and brightness, which the frames' scatter cannot show.
#include "measure/ArtificialStar.h"
#include "measure/FrameTable.h"
#include "measure/Selection.h"
#include "measure/WorkingState.h"
#include "reduce/Reduction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class Player;

struct ArtificialStarOptions {
    // At most this many frames sampled, spread over the run; a short run
    // samples fewer, so the test costs well under the run itself.
    int32_t maxFrames = 40;
    // Position angles, evenly spaced from the secondary's own.
    int32_t angles = 6;
    // The method's frame measurement; nullptr: the run method's own.
    MeasureFrame measure = nullptr;
};

struct ArtificialStarResult {
    int32_t copies = 0;   // copies put in and read
    int32_t lost = 0;     // copies put in that the method did not accept
    int32_t angles = 0;   // position angles with copies read
    double fluxRatio = 0; // the copies' light as a share of the primary's
    // Read minus put, on the sky: arc-seconds and degrees, with standard
    // errors from the scatter of the per-angle means (a frame's copies at
    // one angle are no independent samples of the pull).
    double sepBias = 0, sepBiasStderr = 0;
    double paBias = 0, paBiasStderr = 0;
    // In pixels and screen degrees, as the frames read them.
    double sepBiasPx = 0, screenAngleBias = 0;
};

// The test on the run whose rows are `table` (measured on the video `player`
// holds, with the boxes and scale of `run`), reduced to `r` with `method`.
// None when no copy could be put in or read. The player is left on the
// frame it stood on.
std::optional<ArtificialStarResult> artificialStarTest(Player& player, const FrameTable& table,
                                                       const WorkingState& run, Method method,
                                                       const ReductionResult& r,
                                                       const ArtificialStarOptions& options = {});

// Whether the test's bias in separation (position angle) is real and
// larger than the result's own standard error: beyond two of its own
// standard errors and beyond the result's.
bool separationBiased(const ArtificialStarResult& a, const ReductionResult& r);
bool positionAngleBiased(const ArtificialStarResult& a, const ReductionResult& r);

// The result with the test's bias taken off (the position angle kept in
// 0 .. 360).
double correctedSeparation(const ArtificialStarResult& a, const ReductionResult& r);
double correctedPositionAngle(const ArtificialStarResult& a, const ReductionResult& r);

// The user's choice: each real bias (as above) taken off the result, its
// standard error added to the result's in quadrature. Returns whether
// either was.
bool correctBias(const ArtificialStarResult& a, ReductionResult& r);

// A frame's images narrower than this many pixels: Template Fit shifts
// the primary's image by fractions of a pixel it does not resolve.
inline constexpr double kTemplateFitMinFwhmPx = 1.5;

// The method to name for a pair that `method` reads with a pull; nullptr
// when there is none better.
const char* betterMethodFor(Method method, bool imagesClose);

// The warnings the test gives a result measured with `method`: the bias,
// its error, the corrected value and the method that reads such a pair
// better (`imagesClose`: see imagesCloseForFits). None when neither bias
// is real.
std::vector<std::string> artificialStarWarnings(const ArtificialStarResult& a,
                                                const ReductionResult& r, Method method,
                                                char decimalSeparator, bool imagesClose = false);

} // namespace corvane
