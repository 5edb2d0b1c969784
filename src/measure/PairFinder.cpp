#include "measure/PairFinder.h"

#include "measure/BinaryBlob.h"

#include "common/Error.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

namespace {

// Pixels sampled for the sky's level and noise: enough for a steady median,
// few enough to be quick on a large frame.
constexpr std::size_t kSkySamples = 65536;
// A pixel this many noise deviations above the sky is starlight.
constexpr double kStarSigmas = 5.0;
// More of the frame than this above the sky: a lit field, not stars on sky.
constexpr double kMaxLitShare = 0.05;
// The blob finder's values run from 0 to 255.
constexpr double kTopValue = 255.0;
// A lone pixel above the threshold no brighter than this many noise
// deviations above the sky may be the sky's own noise: a frame of 300,000
// pixels holds such a pixel now and then (see isSpeck).
constexpr double kSpeckSigmas = 10.0;

struct SkyLevel {
    double level = 0;
    double noise = 0;
};

// The median of the frame and its noise from the interquartile range: stars
// cover too little of a frame to move either.
SkyLevel skyOf(const IntensityPlane& plane) {
    const std::size_t total =
        static_cast<std::size_t>(plane.width()) * static_cast<std::size_t>(plane.height());
    const std::size_t step = std::max<std::size_t>(1, total / kSkySamples);
    std::vector<uint16_t> v;
    v.reserve(total / step + 1);
    for (std::size_t i = 0; i < total; i += step)
        v.push_back(static_cast<uint16_t>(
            plane.at(static_cast<int>(i % static_cast<std::size_t>(plane.width())),
                     static_cast<int>(i / static_cast<std::size_t>(plane.width())))));
    auto quantile = [&v](double q) {
        const auto at =
            v.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(v.size() - 1));
        std::nth_element(v.begin(), at, v.end());
        return static_cast<double>(*at);
    };
    SkyLevel s;
    s.level = quantile(0.5);
    const double iqr = quantile(0.75) - quantile(0.25);
    s.noise = iqr / 1.349; // the IQR of a normal distribution in standard deviations
    return s;
}

std::string at(const BlobInfo& b) {
    return std::to_string(b.SeedX) + "," + std::to_string(b.SeedY);
}

double distance(const BlobInfo& a, const BlobInfo& b) {
    return std::hypot(static_cast<double>(a.SeedX) - b.SeedX,
                      static_cast<double>(a.SeedY) - b.SeedY);
}

uint8_t labelOf(const TBinaryBlob& blobs, const BlobInfo& b) {
    return static_cast<uint8_t>(&b - blobs.Blobs.data());
}

// The value-weighted centre of a blob's points, to the nearest pixel: a
// saturated star's brightest pixel is only the first of its flat top.
std::pair<int32_t, int32_t> centreOf(const TBinaryBlob& blobs, uint8_t label) {
    double w = 0, x = 0, y = 0;
    for (const BlobPoint& p : blobs.Points)
        if (p.Label == label) {
            w += p.Value;
            x += static_cast<double>(p.Value) * p.X;
            y += static_cast<double>(p.Value) * p.Y;
        }
    return {static_cast<int32_t>(std::lround(x / w)), static_cast<int32_t>(std::lround(y / w))};
}

// How many of the blobs' points carry the label.
std::size_t pointsOf(const TBinaryBlob& blobs, uint8_t label) {
    return static_cast<std::size_t>(
        std::count_if(blobs.Points.begin(), blobs.Points.end(),
                      [label](const BlobPoint& p) { return p.Label == label; }));
}

// The light of a blob's points above the threshold, in the blob finder's values.
int64_t lightOf(const TBinaryBlob& blobs, uint8_t label) {
    int64_t sum = 0;
    for (const BlobPoint& p : blobs.Points)
        if (p.Label == label)
            sum += p.Value;
    return sum;
}

// Whether a blob is a lone pixel of the sky's noise: the only point of its
// blob, no brighter than kSpeckSigmas, and its eight neighbours together
// less than kSpeckNeighbourSigmas of their noise above the sky. A star's
// image, however faint, lifts its neighbours.
constexpr double kSpeckNeighbourSigmas = 3.0;

bool isSpeck(const IntensityPlane& plane, const TBinaryBlob& blobs, const BlobInfo& b,
             const SkyLevel& sky, double span) {
    if (b.Peak > kTopValue * kSpeckSigmas * sky.noise / span ||
        pointsOf(blobs, labelOf(blobs, b)) != 1)
        return false;
    double around = 0;
    int n = 0;
    for (int y = b.SeedY - 1; y <= b.SeedY + 1; ++y)
        for (int x = b.SeedX - 1; x <= b.SeedX + 1; ++x)
            if ((x != b.SeedX || y != b.SeedY) && x >= 0 && y >= 0 && x < plane.width() &&
                y < plane.height()) {
                around += plane.at(x, y) - sky.level;
                ++n;
            }
    return around < kSpeckNeighbourSigmas * sky.noise * std::sqrt(static_cast<double>(n));
}

const char* const kClickInstead = " Click the primary and the secondary instead.";

} // namespace

FoundPair findPair(const IntensityPlane& plane) {
    if (plane.empty())
        throw Error(std::string("There is no frame to find a pair on.") + kClickInstead);
    const SkyLevel sky = skyOf(plane);
    int32_t brightest = 0;
    for (int y = 0; y < plane.height(); ++y) {
        const uint16_t* row = plane.row(y);
        brightest = std::max<int32_t>(brightest, *std::max_element(row, row + plane.width()));
    }
    // At least one whole intensity above the sky, so that a noiseless sky
    // is not starlight.
    const double threshold = sky.level + std::max(kStarSigmas * sky.noise, 1.0);
    if (brightest <= threshold)
        throw Error(std::string("No star stands out of the sky on the start frame.") +
                    kClickInstead);

    // Starlight as the blob finder's values: 1 just above the sky, 255 at the
    // brightest pixel, whatever the frame's depth.
    const double span = brightest - sky.level;
    TBinaryBlob blobs;
    const std::size_t limit = static_cast<std::size_t>(
        kMaxLitShare * static_cast<double>(plane.width()) * plane.height());
    for (int y = 0; y < plane.height(); ++y) {
        const uint16_t* row = plane.row(y);
        for (int x = 0; x < plane.width(); ++x) {
            if (row[x] <= threshold)
                continue;
            if (blobs.Points.size() >= limit)
                throw Error(std::string("Too much of the start frame is lit to tell the stars "
                                        "from the sky.") +
                            kClickInstead);
            const double value = std::ceil(kTopValue * (row[x] - sky.level) / span);
            blobs.AddPoint(x, y, static_cast<int32_t>(std::clamp(value, 1.0, kTopValue)));
        }
    }
    blobs.SortByValue();
    blobs.LabelBlobs();

    // The blobs come brightest first. A faint blob just outside a bright
    // one is the rest of that star's light, not a star of its own: the bright
    // blob takes everything above a tenth of its peak within its radius and
    // a pixel.
    // A lone pixel just above the threshold is noise, not a star: taken for
    // the secondary, it sends the measuring far from a companion too faint
    // to stand out on one frame.
    std::vector<const BlobInfo*> stars;
    const BlobInfo* speck = nullptr;
    for (int label = 1; label <= TBinaryBlob::kBlobCount; ++label) {
        const BlobInfo& b = blobs.Blobs[static_cast<std::size_t>(label)];
        if (b.Peak <= 0)
            break;
        const bool fragment = std::any_of(stars.begin(), stars.end(), [&b](const BlobInfo* s) {
            return static_cast<int64_t>(b.Peak) * 10 <= s->Peak &&
                   distance(b, *s) <= s->Radius + 3.0;
        });
        if (fragment)
            continue;
        if (!stars.empty() && isSpeck(plane, blobs, b, sky, span)) {
            speck = speck ? speck : &b;
            continue;
        }
        stars.push_back(&b);
    }
    if (stars.size() < 2)
        throw Error("Only one star stands out on the start frame (at " + at(*stars.front()) +
                    (speck ? "; the lone bright pixel at " + at(*speck) + " is the sky's noise"
                           : std::string()) +
                    "), so there is no pair to find." + kClickInstead);
    // Where both stars' cores reach the brightest value (a primary clipped at
    // white, a companion whose speckles clip too), their peaks cannot tell
    // them apart: the one with more light is the primary.
    if (stars[1]->Peak == stars[0]->Peak &&
        lightOf(blobs, labelOf(blobs, *stars[1])) > lightOf(blobs, labelOf(blobs, *stars[0])))
        std::swap(stars[0], stars[1]);
    const BlobInfo& primary = *stars[0];
    const BlobInfo& secondary = *stars[1];
    if (stars.size() > 2 && stars[2]->Peak >= kClearPairRatio * secondary.Peak)
        throw Error("The start frame holds no clear pair: the stars at " + at(secondary) + " and " +
                    at(*stars[2]) + " are about as bright as each other." + kClickInstead);
    if (distance(primary, secondary) < kMinPairSeparationPx)
        throw Error("The two brightest stars, at " + at(primary) + " and " + at(secondary) +
                    ", are too close to be told apart." + kClickInstead);
    const auto primaryAt = centreOf(blobs, labelOf(blobs, primary));
    const auto secondaryAt = centreOf(blobs, labelOf(blobs, secondary));
    FoundPair p;
    p.primaryX = primaryAt.first;
    p.primaryY = primaryAt.second;
    p.secondaryX = secondaryAt.first;
    p.secondaryY = secondaryAt.second;
    return p;
}

} // namespace corvane
