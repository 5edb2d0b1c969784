#pragma once
// A speckle measurement of a video of short exposures: the star followed by
// its box through the frames, the spectra summed, a reference star's video
// read the same way, the pair measured and put on the sky with a calibration
// or with the video's own drift.
#include "measure/SpeckleBox.h"
#include "measure/SpeckleMeasurement.h"
#include "reduce/Calibration.h"
#include "reduce/Positions.h"
#include "reduce/SpeckleReduction.h"
#include "video/FrameSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// The exposures of one video summed.
struct SpeckleRecording {
    std::unique_ptr<SpeckleSpectra> spectra;
    // Where the box found the star's light in each frame, as the primary of
    // a track (for a calibration from the drift).
    PairPositions track;
    double seconds = 0; // CPU time of reading and summing
    // Exposures whose box reached the white level: left out of the sum, since
    // a clipped speckle pattern adds power that is not the pair's.
    int32_t saturatedFrames = 0;
};

// Frames `first` .. `last` - 1 of `source` (dropped ones skipped), the box
// of `size` starting on `start` (none: the brightest pixel of the first
// frame). `afterFrame` is called with each frame's number; `cancel` asked
// before each.
SpeckleRecording recordSpeckle(FrameSource& source, int32_t first, int32_t last,
                               std::optional<BoxCentre> start, int32_t size,
                               const std::function<void(int32_t)>& afterFrame = {},
                               const std::function<bool()>& cancel = {});

struct SpeckleOutcome {
    SpeckleMeasurement measurement;
    // With the scale known: the pair (or, for no pair, the limit) on the sky.
    std::optional<SpeckleOnSky> sky;
    Calibration calibration; // the one that put it on the sky
    bool calibrationFromDrift = false;
    std::string image; // where the autocorrelogram was saved (empty: not saved)
    int64_t firstTimeUs = 0, lastTimeUs = 0; // microseconds
    // As the results line shows them (empty without the scale).
    std::string separationText, positionAngleText;
};

// results.csv's method for a speckle measurement.
inline constexpr const char* kSpeckleMethodName = "speckle";
// Added to a saved line's notes when the quadrant stays open.
inline constexpr const char* kAmbiguousQuadrantNote = "PA +-180";

// What the user is told when exposures were left out as saturated ("" when
// none were): `whose` names the star ("the star's", "the reference star's").
std::string saturatedExposuresText(int32_t saturated, int32_t read, const std::string& whose);

// Why a measurement gives no pair, for the user ("" when it measured one).
std::string speckleNoResultText(const SpeckleMeasurement& m);

} // namespace corvane
