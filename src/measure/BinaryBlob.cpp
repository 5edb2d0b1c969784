#include "measure/BinaryBlob.h"

#include "common/Rounding.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kGrowPasses = 5;
// The centres settle within a few passes; the cap only bounds the work.
constexpr int kMaxRefinePasses = 50;
constexpr float kSettledPx = 1e-4f;
constexpr double kWindowWideningPx = 1.0;
constexpr int32_t kStartRadius = 2;

// Distance between two pixels, as the 32-bit float the growth tests compare.
float pixelDistance(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t dx = static_cast<int64_t>(x1) - x0;
    const int64_t dy = static_cast<int64_t>(y1) - y0;
    return static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
}

float distanceTo(const BlobPoint& p, float cx, float cy) {
    const long double dx = static_cast<long double>(p.X) - cx;
    const long double dy = static_cast<long double>(p.Y) - cy;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

// Where a value sorts: below 0 with 0, above the deepest sample with it.
int32_t sortKey(int32_t value) {
    return std::clamp<int32_t>(value, 0, 65535);
}

} // namespace

void TBinaryBlob::AddPoint(int32_t x, int32_t y, int32_t value) {
    BlobPoint p;
    p.X = x;
    p.Y = y;
    p.Value = value;
    Points.push_back(p);
}

void TBinaryBlob::SortByValue() {
    const bool eightBit = std::all_of(Points.begin(), Points.end(), [](const BlobPoint& p) {
        return p.Value >= 0 && p.Value <= 255;
    });
    if (!eightBit) {
        // Deeper recordings: the same order (value descending, equal values in
        // the order they came) from a stable sort, rather than a bucket for
        // each of 65,536 values on every frame.
        std::stable_sort(Points.begin(), Points.end(), [](const BlobPoint& a, const BlobPoint& b) {
            return sortKey(a.Value) > sortKey(b.Value);
        });
        return;
    }
    // One bucket per value; a bucket takes as many points as come (no fixed capacity).
    std::array<std::size_t, 256> count{};
    for (const BlobPoint& p : Points)
        ++count[static_cast<std::size_t>(p.Value)];
    // First slot of each value's run, the highest value first.
    std::array<std::size_t, 256> next{};
    std::size_t slot = 0;
    for (int v = 255; v >= 0; --v) {
        next[static_cast<std::size_t>(v)] = slot;
        slot += count[static_cast<std::size_t>(v)];
    }
    std::vector<BlobPoint> sorted(Points.size());
    for (const BlobPoint& p : Points)
        sorted[next[static_cast<std::size_t>(p.Value)]++] = p;
    Points.swap(sorted);
}

void TBinaryBlob::LabelBlobs() {
    // The points not yet in a blob, in sorted order; each pass drops the ones
    // it labels, so later passes and labels look only at what is left.
    std::vector<uint32_t> open;
    open.reserve(Points.size());
    for (std::size_t i = 0; i < Points.size(); ++i)
        if (Points[i].Label == 0)
            open.push_back(static_cast<uint32_t>(i));

    for (int label = 1; label <= kBlobCount; ++label) {
        BlobInfo& blob = Blobs[static_cast<std::size_t>(label)];
        blob.Radius = kStartRadius;
        blob.FalloffRadius = 0;
        bool seeded = false;
        int32_t level = 0; // the lowest value taken so far
        for (int pass = 0; pass < kGrowPasses; ++pass) {
            const std::size_t openBefore = open.size();
            std::size_t kept = 0;
            for (const uint32_t index : open) {
                BlobPoint& p = Points[index];
                if (!seeded) {
                    blob.SeedX = p.X;
                    blob.SeedY = p.Y;
                    blob.Peak = p.Value;
                    p.Label = static_cast<uint8_t>(label);
                    p.Dist1 = 0;
                    level = p.Value;
                    seeded = true;
                    continue;
                }
                // The seed stays put while a label grows, so the distance of a
                // point is the same in every pass: work it out once.
                if (pass == 0)
                    p.Dist1 = pixelDistance(blob.SeedX, blob.SeedY, p.X, p.Y);
                const float d = p.Dist1;
                if (p.Value >= level && d <= static_cast<float>(blob.Radius))
                    p.Label = static_cast<uint8_t>(label);
                // Dimmer points above a tenth of the peak, one pixel further out,
                // lower the level and may widen the radius.
                if ((p.Value < level) && (static_cast<int64_t>(p.Value) * 10 > blob.Peak) &&
                    d <= static_cast<float>(blob.Radius) + 1.0f) {
                    p.Label = static_cast<uint8_t>(label);
                    level = p.Value;
                    if (d > static_cast<float>(blob.Radius))
                        blob.Radius = roundToInt(d);
                }
                if (p.Label == label && blob.FalloffRadius == 0 &&
                    static_cast<int64_t>(p.Value) * 100 < static_cast<int64_t>(blob.Peak) * 61)
                    blob.FalloffRadius = d;
                if (p.Label == 0)
                    open[kept++] = index;
            }
            open.resize(kept);
            // A pass that takes no point changes neither the radius nor the
            // level, so every later pass would take none either.
            if (kept == openBefore)
                break;
        }
    }
}

namespace {

// Share of a pixel at distance d from a centre that lies inside the circle of
// radius r: all of it up to half a pixel inside the edge, none from half a
// pixel outside, linear between. Counting edge pixels in part keeps the
// centre from locking onto the pixel grid as a whole pixel enters or leaves.
double insideShare(double d, float r) {
    if (r <= 0.0f)
        return 0.0; // a blob without a falloff radius collects nothing
    const double share = static_cast<double>(r) + 0.5 - d;
    return share <= 0.0 ? 0.0 : (share >= 1.0 ? 1.0 : share);
}

// One blob's circle in a pass: a point whose squared distance from the centre
// is below `whole2` lies wholly inside, above `none2` wholly outside. Both
// bounds stand a millionth of a millionth clear of the edges, so the share of
// every point is the one its distance gives, and only the points near the
// edge need the square root.
struct PassCircle {
    float cx = 0, cy = 0, r = 0;
    double whole2 = -1, none2 = -1;

    PassCircle(float x, float y, float radius) : cx(x), cy(y), r(radius) {
        if (r <= 0.0f)
            return; // collects nothing
        const double outer = static_cast<double>(r) + 0.5, inner = static_cast<double>(r) - 0.5;
        none2 = outer * outer * (1 + kEdgeMargin);
        if (inner > 0.0)
            whole2 = inner * inner * (1 - kEdgeMargin);
    }

    double share(const BlobPoint& p) const {
        if (r <= 0.0f)
            return 0.0;
        const double dx = p.X - static_cast<double>(cx);
        const double dy = p.Y - static_cast<double>(cy);
        const double d2 = dx * dx + dy * dy;
        if (d2 > none2)
            return 0.0;
        if (d2 < whole2)
            return 1.0;
        return insideShare(std::sqrt(d2), r);
    }

    static constexpr double kEdgeMargin = 1e-12;
};

// Radius of the circle a blob's centre is refined over. The falloff radius
// (where the smoothed star drops below 0.61 of its peak) is about one sigma
// of the star and often only one pixel: a circle that small holds a handful
// of pixels, and its mean snaps towards the pixel grid by up to a fifth of a
// pixel. One pixel more takes in the whole ring of pixels around it. The
// circle stops at half the distance to the other blob's seed, so that it
// does not reach into the other star; it is never made smaller than the
// falloff radius.
float windowRadius(const BlobInfo& blob, const BlobInfo& other) {
    if (blob.FalloffRadius <= 0.0f)
        return 0.0f; // collects nothing and keeps its seed
    double r = static_cast<double>(blob.FalloffRadius) + kWindowWideningPx;
    if (other.Peak > 0) {
        const double half = 0.5 * std::hypot(static_cast<double>(blob.SeedX) - other.SeedX,
                                             static_cast<double>(blob.SeedY) - other.SeedY);
        r = std::max(std::min(r, half), static_cast<double>(blob.FalloffRadius));
    }
    return static_cast<float>(r);
}

// How far beyond its circle a centre's nearby points are gathered, so that
// the list need not be gathered again while the centre moves less than this.
constexpr double kGatherMarginPx = 2.0;

// Value-weighted sums of the points within one blob's circle.
struct Sums {
    double x = 0, y = 0, w = 0;
};

} // namespace

void TBinaryBlob::RefineCentres() {
    BlobInfo& b1 = Blobs[1];
    BlobInfo& b2 = Blobs[2];
    b1.CentroidX = static_cast<float>(b1.SeedX);
    b1.CentroidY = static_cast<float>(b1.SeedY);
    b2.CentroidX = static_cast<float>(b2.SeedX);
    b2.CentroidY = static_cast<float>(b2.SeedY);
    BlobInfo* blobs[3] = {nullptr, &b1, &b2};
    const float radius[3] = {0.0f, windowRadius(b1, b2), windowRadius(b2, b1)};

    // Most points of the system box lie far from both circles (on a lit sky
    // every pixel is a point), so each pass looks only at the points gathered
    // near the centres, gathered again whenever a centre has moved too far.
    std::vector<uint32_t> nearby;
    float gatheredX[3] = {0, 0, 0}, gatheredY[3] = {0, 0, 0};
    auto gather = [&] {
        nearby.clear();
        for (int i = 1; i <= 2; ++i) {
            gatheredX[i] = blobs[i]->CentroidX;
            gatheredY[i] = blobs[i]->CentroidY;
        }
        for (std::size_t k = 0; k < Points.size(); ++k) {
            for (int i = 1; i <= 2; ++i) {
                const double reach = radius[i] + 0.5 + kGatherMarginPx;
                if (radius[i] > 0.0f &&
                    std::fabs(Points[k].X - static_cast<double>(gatheredX[i])) < reach &&
                    std::fabs(Points[k].Y - static_cast<double>(gatheredY[i])) < reach) {
                    nearby.push_back(static_cast<uint32_t>(k));
                    break;
                }
            }
        }
    };
    gather();

    // Each pass takes the value-weighted mean of the smoothed pixels within
    // the blob's circle around the current centre; the centre is where that
    // mean comes back to itself. Stopping after a fixed pass or two leaves it
    // pulled towards the seed pixel by up to a fifth of a pixel, and a pair
    // drifting along a pixel row keeps that pull for the whole run.
    for (int pass = 0; pass < kMaxRefinePasses; ++pass) {
        Sums sums[3];
        const PassCircle circle1(b1.CentroidX, b1.CentroidY, radius[1]);
        const PassCircle circle2(b2.CentroidX, b2.CentroidY, radius[2]);
        for (const uint32_t k : nearby) {
            const BlobPoint& p = Points[k];
            // Blob 2 takes its share of a pixel first, where the circles overlap.
            const double share2 = circle2.share(p);
            const double share1 = std::min(circle1.share(p), 1.0 - share2);
            const double shares[3] = {0.0, share1, share2};
            for (int i = 1; i <= 2; ++i) {
                if (shares[i] <= 0.0)
                    continue;
                const double w = shares[i] * p.Value;
                sums[i].x += w * p.X;
                sums[i].y += w * p.Y;
                sums[i].w += w;
            }
        }
        bool moved = false, strayed = false;
        for (int i = 1; i <= 2; ++i) {
            if (sums[i].w <= 0.0)
                continue; // keeps its centre
            const float x = static_cast<float>(sums[i].x / sums[i].w);
            const float y = static_cast<float>(sums[i].y / sums[i].w);
            moved = moved || std::fabs(x - blobs[i]->CentroidX) > kSettledPx ||
                    std::fabs(y - blobs[i]->CentroidY) > kSettledPx;
            strayed = strayed || std::fabs(x - gatheredX[i]) > kGatherMarginPx ||
                      std::fabs(y - gatheredY[i]) > kGatherMarginPx;
            blobs[i]->CentroidX = x;
            blobs[i]->CentroidY = y;
        }
        if (!moved)
            break;
        if (strayed)
            gather();
    }

    // Leave each point labelled by the circle it ended in, with its distances
    // from the final centres.
    for (BlobPoint& p : Points) {
        p.Dist1 = distanceTo(p, b1.CentroidX, b1.CentroidY);
        p.Dist2 = distanceTo(p, b2.CentroidX, b2.CentroidY);
        p.Label = 0;
        if (insideShare(p.Dist1, radius[1]) > 0.0)
            p.Label = 1;
        if (insideShare(p.Dist2, radius[2]) > 0.0)
            p.Label = 2;
    }
}

std::pair<float, float> TBinaryBlob::FirstCentre() const {
    return {Blobs[1].CentroidX, Blobs[1].CentroidY};
}

std::pair<float, float> TBinaryBlob::SecondCentre() const {
    return {Blobs[2].CentroidX, Blobs[2].CentroidY};
}

} // namespace corvane
