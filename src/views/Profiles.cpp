#include "views/Profiles.h"

#include "common/Rounding.h"

#include <cstddef>
#include <cstdint>

namespace corvane {

namespace {

// Intensities of the box, indexed [column][row].
class IntensityGrid {
public:
    IntensityGrid(const IntensityPlane& plane, const TStarbox& box, int n)
        : n_(n), cells_(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)) {
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                at(c, r) = plane.at(box.Left + c, box.Top + r);
    }
    int32_t at(int c, int r) const { return cells_[index(c, r)]; }

private:
    int32_t& at(int c, int r) { return cells_[index(c, r)]; }
    std::size_t index(int c, int r) const {
        return static_cast<std::size_t>(c) * static_cast<std::size_t>(n_) +
               static_cast<std::size_t>(r);
    }
    int n_;
    std::vector<int32_t> cells_;
};

// One bar: the sum over the line and one more than its lit pixels, both
// accumulated as 32-bit floats in the line's order.
class LineMean {
public:
    explicit LineMean(int32_t litThreshold) : litThreshold_(litThreshold) {}
    void add(int32_t value) {
        sum_ += static_cast<float>(value);
        if (value > litThreshold_)
            lit_ += 1.0f;
    }
    double value() const {
        return static_cast<double>(round_half_even(static_cast<long double>(sum_) / lit_));
    }

private:
    int32_t litThreshold_;
    float sum_ = 0.0f;
    float lit_ = 1.0f;
};

} // namespace

Profiles computeProfiles(const IntensityPlane& plane, const TStarbox& box) {
    Profiles out;
    const int n = box.Bottom - box.Top;
    if (n <= 0)
        return out;
    const IntensityGrid grid(plane, box, n);
    const int32_t litThreshold = plane.levelFrom8Bit(LitThreshold);
    out.rows.reserve(static_cast<std::size_t>(n));
    out.columns.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        LineMean line(litThreshold);
        for (int c = 0; c < n; ++c)
            line.add(grid.at(c, r));
        out.rows.push_back({static_cast<double>(r), line.value()});
    }
    for (int c = 0; c < n; ++c) {
        LineMean line(litThreshold);
        for (int r = 0; r < n; ++r)
            line.add(grid.at(c, r));
        out.columns.push_back({static_cast<double>(c), line.value()});
    }
    return out;
}

} // namespace corvane
