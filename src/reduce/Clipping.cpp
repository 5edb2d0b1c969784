#include "reduce/Clipping.h"

#include "common/Angles.h"
#include "reduce/ReductionSteps.h"
#include "reduce/Refusal.h"

#include <cmath>
#include <vector>

namespace corvane {

namespace {

struct MeanSd {
    long double mean = 0;
    long double sd = 0;
};

MeanSd meanSd(const std::vector<long double>& v) {
    MeanSd m;
    const long double n = static_cast<long double>(v.size());
    for (const long double x : v)
        m.mean += x;
    m.mean /= n;
    long double squares = 0;
    for (const long double x : v)
        squares += (x - m.mean) * (x - m.mean);
    m.sd = n > 1.0L ? std::sqrt(squares / (n - 1.0L)) : 0.0L;
    return m;
}

bool outside(long double x, const MeanSd& m, double sigma) {
    return std::fabs(x - m.mean) > sigma * m.sd;
}

// The valid rows more than sigma standard deviations out, as indexes into
// the table.
std::vector<std::size_t> outliers(const PairPositions& table, double sigma) {
    const std::vector<const PairPosition*> rows = detail::validRows(table);
    if (rows.size() < 2)
        return {};
    const long double axis = detail::screenAngleAxis(rows);
    std::vector<long double> seps, angles;
    for (const PairPosition* r : rows) {
        seps.push_back(r->SepPixels);
        angles.push_back(nearAxisDegrees<long double>(r->ScreenAngle, axis));
    }
    const MeanSd sep = meanSd(seps);
    const MeanSd angle = meanSd(angles);
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (outside(seps[i], sep, sigma) || outside(angles[i], angle, sigma))
            out.push_back(static_cast<std::size_t>(rows[i] - table.data()));
    return out;
}

} // namespace

ClipResult clipOutliers(const PairPositions& table, double sigma) {
    if (!(sigma >= kMinClipSigma) || !std::isfinite(sigma))
        throw RefusalError({RefusalReason::ClipLimitTooSmall, sigma});
    ClipResult out;
    out.table = table;
    // A row that is not finite is the reduction's to refuse, with its own
    // message; the clipping leaves such a table as it is.
    for (const PairPosition& r : table)
        if (r.Valid && !(std::isfinite(r.SepPixels) && std::isfinite(r.ScreenAngle)))
            return out;
    int32_t valid = CountValidRows(table);
    for (int32_t pass = 0; pass < kMaxClipPasses; ++pass) {
        const std::vector<std::size_t> clip = outliers(out.table, sigma);
        if (clip.empty() || valid - static_cast<int32_t>(clip.size()) < MinValidRows)
            break;
        for (const std::size_t i : clip)
            out.table[i].Valid = false;
        valid -= static_cast<int32_t>(clip.size());
        out.removed += static_cast<int32_t>(clip.size());
    }
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].Valid && !out.table[i].Valid)
            out.removedFrames.push_back(table[i].FrameNo);
    return out;
}

} // namespace corvane
