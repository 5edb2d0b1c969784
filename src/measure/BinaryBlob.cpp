#include "measure/BinaryBlob.h"

#include "common/Rounding.h"

#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kGrowPasses = 5;
constexpr int kRefinePasses = 2;
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

int bucketOf(int32_t value) {
    return value < 0 ? 0 : (value > 255 ? 255 : value);
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
    // One bucket per value; a bucket takes as many points as come (no fixed capacity).
    std::array<std::size_t, 256> count{};
    for (const BlobPoint& p : Points)
        ++count[static_cast<std::size_t>(bucketOf(p.Value))];
    // First slot of each value's run, the highest value first.
    std::array<std::size_t, 256> next{};
    std::size_t slot = 0;
    for (int v = 255; v >= 0; --v) {
        next[static_cast<std::size_t>(v)] = slot;
        slot += count[static_cast<std::size_t>(v)];
    }
    std::vector<BlobPoint> sorted(Points.size());
    for (const BlobPoint& p : Points)
        sorted[next[static_cast<std::size_t>(bucketOf(p.Value))]++] = p;
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
                if (p.Value<level&& static_cast<int64_t>(p.Value) * 10> blob.Peak &&
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

void TBinaryBlob::RefineCentres() {
    BlobInfo& b1 = Blobs[1];
    BlobInfo& b2 = Blobs[2];
    b1.CentroidX = static_cast<float>(b1.SeedX);
    b1.CentroidY = static_cast<float>(b1.SeedY);
    b2.CentroidX = static_cast<float>(b2.SeedX);
    b2.CentroidY = static_cast<float>(b2.SeedY);
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        // Index 0 collects nothing; 1 and 2 are the blobs.
        int64_t sx[3] = {0, 0, 0}, sy[3] = {0, 0, 0}, sw[3] = {0, 0, 0};
        for (BlobPoint& p : Points) {
            p.Label = 0;
            p.Dist1 = distanceTo(p, b1.CentroidX, b1.CentroidY);
            p.Dist2 = distanceTo(p, b2.CentroidX, b2.CentroidY);
            if (p.Dist1 < b1.FalloffRadius)
                p.Label = 1;
            if (p.Dist2 < b2.FalloffRadius)
                p.Label = 2; // blob 2 wins where the circles overlap
            if (p.Label != 0) {
                sx[p.Label] += static_cast<int64_t>(p.X) * p.Value;
                sy[p.Label] += static_cast<int64_t>(p.Y) * p.Value;
                sw[p.Label] += p.Value;
            }
        }
        BlobInfo* blobs[3] = {nullptr, &b1, &b2};
        for (int i = 1; i <= 2; ++i) {
            if (sw[i] <= 0)
                continue; // keeps its centre
            blobs[i]->CentroidX = static_cast<float>(static_cast<long double>(sx[i]) / sw[i]);
            blobs[i]->CentroidY = static_cast<float>(static_cast<long double>(sy[i]) / sw[i]);
        }
    }
}

std::pair<float, float> TBinaryBlob::FirstCentre() const {
    return {Blobs[1].CentroidX, Blobs[1].CentroidY};
}

std::pair<float, float> TBinaryBlob::SecondCentre() const {
    return {Blobs[2].CentroidX, Blobs[2].CentroidY};
}

} // namespace corvane
