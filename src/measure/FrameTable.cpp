#include "measure/FrameTable.h"

#include "measure/Methods.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace corvane {

const char* starStatusName(StarStatus s) {
    switch (s) {
    case StarStatus::NotMeasured:
        return "not_measured";
    case StarStatus::Found:
        return "found";
    case StarStatus::TooFaint:
        return "too_faint";
    case StarStatus::OffFrame:
        return "off_frame";
    case StarStatus::Saturated:
        return "saturated";
    case StarStatus::Merged:
        return "merged";
    case StarStatus::MissingPixels:
        return "missing_pixels";
    }
    return "not_measured";
}

const char* rowRejectionName(RowRejection r) {
    switch (r) {
    case RowRejection::None:
        return "none";
    case RowRejection::Repeat:
        return "repeat";
    case RowRejection::NotConverged:
        return "not_converged";
    case RowRejection::OffTrack:
        return "off_track";
    case RowRejection::Offset:
        return "offset";
    case RowRejection::Saturated:
        return "saturated";
    case RowRejection::Refused:
        return "refused";
    }
    return "none";
}

int32_t CountValidRows(const FrameTable& table) {
    int32_t n = 0;
    for (const FrameRow& r : table)
        if (r.Valid)
            ++n;
    return n;
}

bool isMeasuredRow(const FrameTable& table, std::size_t i) {
    const FrameRow& r = table[i];
    return i > 0 ? r.FrameNo == static_cast<int32_t>(i) : r.SystemX != 0 || r.SystemY != 0;
}

int32_t CountMeasuredRows(const FrameTable& table) {
    int32_t n = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (isMeasuredRow(table, i))
            ++n;
    return n;
}

void computeSeparationAndAngle(FrameRow& row) {
    const float dx = row.SecondaryX - row.PrimaryX;
    const float dy = row.SecondaryY - row.PrimaryY;
    const long double ldx = dx, ldy = dy;
    row.SepPixels = static_cast<float>(std::sqrt(ldx * ldx + ldy * ldy));
    if (dx == 0.0f)
        row.ScreenAngle = -90.0f;
    else
        row.ScreenAngle = static_cast<float>(std::atan(-ldy / ldx) * 180.0L / M_PIl);
}

namespace {

// Deviation of one component of the observed offset from the expected one,
// as a 32-bit float: a fraction of the expected separation (the length of
// the whole expected offset), or the raw deviation in pixels where nothing
// was expected. The expected offset comes from box centres rounded to whole
// pixels, so a component near 0 is off by up to a pixel; measured against
// that component alone, a pair lying along a pixel row or column had every
// frame rejected whenever the click's rounding put its boxes a row apart.
float offsetDeviation(float observed, int32_t expected, float expectedLength) {
    const float deviation = std::fabs(observed - static_cast<float>(expected));
    return expectedLength == 0.0f ? deviation : deviation / expectedLength;
}

// The 32-bit deviation against the limit in extended precision: 6 pixels on
// 10 is rejected at a limit of 0.6 (the float quotient lies just above it),
// exactly half passes at 0.5.
bool exceedsLimit(float deviation, long double limit) {
    return static_cast<long double>(deviation) > limit;
}

} // namespace

void applyAcceptance(FrameTable& table, int32_t n, int32_t expectedDX, int32_t expectedDY,
                     long double limit) {
    if (n < 0 || static_cast<std::size_t>(n) >= table.size())
        return;
    FrameRow& row = table[static_cast<std::size_t>(n)];
    if (isLost(row.PrimaryStatus) || isLost(row.SecondaryStatus))
        row.Valid = false;
    const float length = static_cast<float>(
        std::hypot(static_cast<double>(expectedDX), static_cast<double>(expectedDY)));
    const float ddx = offsetDeviation(row.SecondaryX - row.PrimaryX, expectedDX, length);
    const float ddy = offsetDeviation(row.SecondaryY - row.PrimaryY, expectedDY, length);
    if (exceedsLimit(ddx, limit) || exceedsLimit(ddy, limit))
        row.Valid = false;
}

namespace {

struct RobustCentre {
    double median = 0;
    double sd = 0; // 1.4826 times the median absolute deviation
};

double medianOf(std::vector<double>& v) {
    const std::size_t h = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h), v.end());
    const double upper = v[h];
    if (v.size() % 2 == 1)
        return upper;
    return 0.5 * (upper + *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h)));
}

RobustCentre robustCentre(std::vector<double> v) {
    RobustCentre c;
    c.median = medianOf(v);
    for (double& x : v)
        x = std::fabs(x - c.median);
    c.sd = 1.4826 * medianOf(v);
    return c;
}

} // namespace

int32_t rejectOffTrack(FrameTable& table) {
    std::vector<double> dx, dy;
    for (const FrameRow& r : table)
        if (r.Valid) {
            dx.push_back(static_cast<double>(r.SecondaryX) - r.PrimaryX);
            dy.push_back(static_cast<double>(r.SecondaryY) - r.PrimaryY);
        }
    if (dx.size() < static_cast<std::size_t>(MinValidRows))
        return 0;
    const RobustCentre cx = robustCentre(dx), cy = robustCentre(dy);
    // A deviation of 0 (positions on whole pixels) judges nothing.
    const auto off = [](const RobustCentre& c, double v) {
        return c.sd > 0 && std::fabs(v - c.median) > kOffTrackDeviations * c.sd;
    };
    int32_t rejected = 0;
    for (FrameRow& r : table)
        if (r.Valid && (off(cx, static_cast<double>(r.SecondaryX) - r.PrimaryX) ||
                        off(cy, static_cast<double>(r.SecondaryY) - r.PrimaryY))) {
            r.Valid = false;
            r.Rejection = RowRejection::OffTrack;
            ++rejected;
        }
    return rejected;
}

void nameRejection(FrameRow& row, bool methodAccepted) {
    if (row.Valid || row.Rejection != RowRejection::None || isLost(row.PrimaryStatus) ||
        isLost(row.SecondaryStatus))
        return;
    if (methodAccepted)
        row.Rejection = RowRejection::Offset;
    else if (row.PrimaryStatus == StarStatus::Saturated ||
             row.SecondaryStatus == StarStatus::Saturated)
        row.Rejection = RowRejection::Saturated;
    else
        row.Rejection = RowRejection::Refused;
}

void acceptOffTrackAgain(FrameTable& table) {
    for (FrameRow& r : table)
        if (r.Rejection == RowRejection::OffTrack) {
            r.Valid = true;
            r.Rejection = RowRejection::None;
        }
}

void applyAcceptance(FrameTable& table, int32_t n, int32_t expectedDX, int32_t expectedDY,
                     Method method) {
    applyAcceptance(table, n, expectedDX, expectedDY, methodEntry(method).acceptanceLimit);
}

} // namespace corvane
