#pragma once
// The autocorrelogram as the user sees it: the log of its size, so that a
// faint companion's side peak shows beside the central peak, with the
// measured peak ringed.
#include "measure/SpeckleMeasurement.h"

#include <cstdint>
#include <vector>

namespace corvane {

struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // 3 bytes a pixel, row by row from the top
};

// Each lag `scale` x `scale` pixels, grey from the faintest shown level (a
// millionth of the centre) to the centre; each mark (a lag in pixels from
// the centre) ringed in red, the others of `dimMarks` in blue.
RgbImage autocorrelogramImage(const Autocorrelogram& a, const std::vector<PixelVector>& marks,
                              const std::vector<PixelVector>& dimMarks, int32_t scale);

// A measurement's autocorrelogram with its side peak ringed in red; the
// other side's peak ringed too, in red while the quadrant stays open and in
// blue once it is decided.
RgbImage measuredAutocorrelogram(const SpeckleMeasurement& m, int32_t scale);

} // namespace corvane
