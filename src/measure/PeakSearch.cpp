#include "measure/BinaryBlob.h"
#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"

#include "common/Rounding.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;
// Whether light is a star's is judged against the sky's pixel noise around
// the system box, the same for every depth and every unit of the data: a
// white level says nothing of how faint a star can be told from the sky (a
// 16-bit camera's white lies thousands of noise levels above it).
//
// A pixel no more than kDarkPixelSigmas noise levels above the sky is not
// smoothed at all (it gives 0); a smoothed value more than kPointSigmas
// levels of the smoothed noise (a pixel's noise over the kernel's side)
// above it becomes a point of the blob finder.
constexpr double kDarkPixelSigmas = 2.0;
constexpr double kPointSigmas = 3.0;
// And never less than these steps, so that a sky without noise (black, or
// noiseless) still needs some light: on a dark 8-bit sky, whose noise is at
// most 3 steps, these are the limits, as they always were.
constexpr int32_t kPointThreshold = 3;
constexpr int32_t kDarkPixel = 6;
// The grid cells that get a smoothed value have both offsets from kFirstCell to S - 2.
constexpr int32_t kFirstCell = 2;

// Intensities above the sky of the square [left, left + side) x [top, top +
// side), row by row, into `out`; straight from the rows when the square lies
// in the frame.
void readIntensities(const IntensityPlane& plane, int32_t left, int32_t top, int32_t side,
                     uint16_t sky, std::vector<uint16_t>& out) {
    out.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    const bool inside = plane.holds(left, top, side);
    uint16_t* dst = out.data();
    for (int32_t r = 0; r < side; ++r) {
        if (inside) {
            const uint16_t* src = plane.row(top + r, left, left + side) + left;
            if (sky == 0) {
                dst = std::copy_n(src, side, dst);
            } else {
                for (int32_t c = 0; c < side; ++c)
                    dst[c] = static_cast<uint16_t>(std::max(src[c], sky) - sky);
                dst += side;
            }
        } else {
            for (int32_t c = 0; c < side; ++c)
                *dst++ = static_cast<uint16_t>(std::max(plane.at(left + c, top + r) - sky, 0));
        }
    }
}

// The status of a star the blob finder looked for. A blob found is measured
// in a box of `size` around its centre; a star without a blob is looked for
// where the selection expects it, at (x, y). A missing second star whose
// expected place, seen from the first blob, is lit in the smoothed grid lies
// inside the first blob: the two merged.
StarStatus blobStatus(const IntensityPlane& plane, const BlobInfo* blob, int32_t x, int32_t y,
                      int32_t size) {
    if (blob) {
        const int32_t cx = roundToInt(blob->CentroidX), cy = roundToInt(blob->CentroidY);
        return starStatus(plane, cx - size / 2, cy - size / 2, size, true);
    }
    return starStatus(plane, x - size / 2, y - size / 2, size, false);
}

// The largest pixel above the sky that is still dark, and the largest
// smoothed value that is still no point.
int32_t darkPixelLimit(double skyNoise) {
    return std::max(kDarkPixel, static_cast<int32_t>(std::floor(kDarkPixelSigmas * skyNoise)));
}

int32_t pointLimit(const WorkingState& ws) {
    const double smoothedNoise = ws.SkyNoise / kernelSize(ws.PrimaryBox.Size);
    return std::max(kPointThreshold,
                    static_cast<int32_t>(std::floor(kPointSigmas * smoothedNoise)));
}

// A smoothed cell is the mean of the d x d intensities of its kernel, summed
// one weighted pixel at a time into a 32-bit float and rounded to a whole
// number. Whether that always gives the exact mean rounded, so that the mean
// can be taken from a whole-number sum: the kernel's side is odd, so the mean
// S / d^2 is never a whole number and a half, and lies at least 1 / (2 d^2)
// from one; each of the d^2 float additions is off by at most half a float
// step of the largest sum, which is below twice the brightest intensity.
// When those d^2 half steps stay well under 1 / (2 d^2) (d^4 steps under
// 3/4), both round to the same number. On an 8-bit frame that holds for every
// kernel (d up to 11); on a 16-bit frame for the 3 x 3 kernel.
bool wholeSumsRoundAlike(int32_t d, uint16_t brightest) {
    int exponent = 0;
    std::frexp(2.0 * std::max<int32_t>(brightest, 1), &exponent);
    const long double floatStep = std::ldexp(1.0L, exponent - 24);
    const long double d2 = static_cast<long double>(d) * d;
    return d2 * d2 * floatStep <= 0.75L;
}

bool litInGrid(const WorkingState& ws, int32_t x, int32_t y) {
    const int32_t gx = x - ws.SystemBox.Left, gy = y - ws.SystemBox.Top;
    const int32_t size = ws.SmoothedGrid.size();
    return gx >= 0 && gy >= 0 && gx < size && gy < size &&
           ws.SmoothedGrid.at(gx, gy) > pointLimit(ws);
}

} // namespace

int32_t kernelSize(int32_t primaryBoxSize) {
    const int32_t d = 2 * (primaryBoxSize / 8) + 1; // integer division truncates
    return d < 3 ? 3 : d;
}

void convolve(WorkingState& ws, const IntensityPlane& plane) {
    const TStarbox& sys = ws.SystemBox;
    const int32_t s = sys.Size;
    ws.SmoothedGrid.setSize(s);
    const int32_t d = kernelSize(ws.PrimaryBox.Size);
    const double weight = 1.0 / (static_cast<double>(d) * d);
    const int32_t w = (d - 1) / 2;
    if (s < 4)
        return;

    // Every pixel the kernels touch, read once: offsets 2 - w .. S - 2 + w.
    const int32_t side = s - 2 * kFirstCell + 1 + 2 * w;
    const int32_t originX = sys.Left + kFirstCell - w;
    const int32_t originY = sys.Top + kFirstCell - w;
    std::vector<uint16_t> image;
    readIntensities(plane, originX, originY, side, ws.SkyLevel, image);
    const uint16_t* px = image.data();
    const int32_t darkPixel = darkPixelLimit(ws.SkyNoise);
    const std::size_t stride = static_cast<std::size_t>(side);
    const bool wholeSums = wholeSumsRoundAlike(d, *std::max_element(image.begin(), image.end()));
    const int64_t cellsPerKernel = static_cast<int64_t>(d) * d;

    for (int32_t i = kFirstCell; i <= s - 2; ++i) {
        for (int32_t j = kFirstCell; j <= s - 2; ++j) {
            // (j, i) sits at (j - 2 + w, i - 2 + w) in the image; its kernel's
            // top-left corner at (j - 2, i - 2).
            const std::size_t cornerRow = static_cast<std::size_t>(i - kFirstCell);
            const std::size_t cornerCol = static_cast<std::size_t>(j - kFirstCell);
            const uint16_t* corner = px + cornerRow * stride + cornerCol;
            const int32_t own =
                corner[static_cast<std::size_t>(w) * stride + static_cast<std::size_t>(w)];
            if (own <= darkPixel)
                continue; // the cell stays 0 from setSize
            if (wholeSums) {
                int64_t sum = 0;
                for (int32_t k = 0; k < d; ++k) {
                    const uint16_t* line = corner + static_cast<std::size_t>(k) * stride;
                    for (int32_t m = 0; m < d; ++m)
                        sum += line[m];
                }
                // The mean rounded to the nearest whole number; never a tie.
                ws.SmoothedGrid.at(j, i) =
                    static_cast<int32_t>((2 * sum + cellsPerKernel) / (2 * cellsPerKernel));
                continue;
            }
            float sum = 0.0f;
            for (int32_t k = 0; k < d; ++k) {
                const uint16_t* line = corner + static_cast<std::size_t>(k) * stride;
                for (int32_t m = 0; m < d; ++m)
                    sum = static_cast<float>(static_cast<long double>(sum) +
                                             static_cast<long double>(line[m]) * weight);
            }
            ws.SmoothedGrid.at(j, i) = roundToInt(sum);
        }
    }
}

bool findpeaks(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs) {
    TStarbox& sys = ws.SystemBox;
    // The sky around the system box where the pair was last seen; the box,
    // the smoothing and the blob finder all see only the light above it.
    const SkyAround sky = skyAndNoiseAround(plane, sys);
    ws.SkyLevel = sky.level;
    ws.SkyNoise = sky.noise;
    const bool s = sys.measure(plane, kSystemPasses, ws.SkyLevel);
    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;

    TBinaryBlob blobs;
    convolve(ws, plane);
    const int32_t size = ws.SmoothedGrid.size();
    const int32_t pointThreshold = pointLimit(ws);
    std::size_t points = 0;
    for (int32_t y = 0; y < size; ++y) {
        const int32_t* cells = ws.SmoothedGrid.row(y);
        for (int32_t x = 0; x < size; ++x)
            points += cells[x] > pointThreshold ? 1 : 0;
    }
    blobs.Points.reserve(points);
    for (int32_t y = 0; y < size && blobs.Points.size() < points; ++y) {
        const int32_t* cells = ws.SmoothedGrid.row(y);
        for (int32_t x = 0; x < size; ++x)
            if (cells[x] > pointThreshold)
                blobs.AddPoint(sys.Left + x, sys.Top + y, cells[x]);
    }
    blobs.SortByValue();
    blobs.LabelBlobs();
    blobs.RefineCentres();

    // The order of the stars follows brightness, not the selection.
    const auto first = blobs.FirstCentre();
    const auto second = blobs.SecondCentre();
    row.PrimaryX = first.first;
    row.PrimaryY = first.second;
    row.SecondaryX = second.first;
    row.SecondaryY = second.second;
    const BlobInfo& b1 = blobs.Blobs[1];
    const BlobInfo& b2 = blobs.Blobs[2];
    const bool firstFound = b1.Peak > 0, secondFound = b2.Peak > 0;
    const TStarbox& pri = ws.PrimaryBox;
    const TStarbox& sec = ws.SecondaryBox;
    row.PrimaryStatus = blobStatus(plane, firstFound ? &b1 : nullptr, sys.CentreX + pri.OffsetX,
                                   sys.CentreY + pri.OffsetY, pri.Size);
    row.SecondaryStatus = blobStatus(plane, secondFound ? &b2 : nullptr, sys.CentreX + sec.OffsetX,
                                     sys.CentreY + sec.OffsetY, sec.Size);
    if (firstFound && !secondFound && row.SecondaryStatus == StarStatus::TooFaint) {
        const int32_t cx = roundToInt(b1.CentroidX), cy = roundToInt(b1.CentroidY);
        if (litInGrid(ws, cx + ws.ExpectedDX, cy + ws.ExpectedDY) ||
            litInGrid(ws, cx - ws.ExpectedDX, cy - ws.ExpectedDY))
            row.SecondaryStatus = StarStatus::Merged;
    }
    computeSeparationAndAngle(row);
    // A star that was not found is rejected with the row's other tests.
    row.Valid = s;
    return storeRow(ws, Method::PeakSearch, row, frame, timeUs);
}

} // namespace corvane
