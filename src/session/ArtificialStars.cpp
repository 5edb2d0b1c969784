#include "session/ArtificialStars.h"

#include "common/Angles.h"
#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "session/MeasuringSession.h"
#include "video/Player.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Past the star box by this much the copy's light and the secondary's are
// too faint to move a box.
constexpr int32_t kImageMargin = 2;

struct AngleTally {
    int32_t n = 0;
    double sep = 0, sep2 = 0, ang = 0, ang2 = 0;
};

// The mean over the per-angle means and its standard error: the angles'
// scatter, or the copies' own where too few angles give no scatter worth
// the name (and never below it).
void biasOf(const std::vector<AngleTally>& tallies, bool angle, double& bias, double& error) {
    std::vector<double> means;
    double within = 0; // summed variance of the per-angle means from the copies' scatter
    int32_t copies = 0;
    double pooled = 0;
    for (const AngleTally& t : tallies) {
        if (t.n == 0)
            continue;
        const double sum = angle ? t.ang : t.sep, sum2 = angle ? t.ang2 : t.sep2;
        const double mean = sum / t.n;
        means.push_back(mean);
        pooled += sum2 - t.n * mean * mean;
        copies += t.n;
    }
    const double k = static_cast<double>(means.size());
    bias = 0;
    for (double m : means)
        bias += m / k;
    const double copyVar = copies > static_cast<int32_t>(means.size())
                               ? pooled / (copies - static_cast<int32_t>(means.size()))
                               : std::numeric_limits<double>::infinity();
    for (const AngleTally& t : tallies)
        if (t.n > 0)
            within += copyVar / t.n;
    double se = std::sqrt(within) / k;
    if (means.size() >= 3) {
        double spread = 0;
        for (double m : means)
            spread += (m - bias) * (m - bias);
        se = std::max(se, std::sqrt(spread / (k - 1) / k));
    }
    error = se;
}

// The sky the methods take off on the frame of `row`: around its system box.
double skyAt(const IntensityPlane& plane, const FrameRow& row, const WorkingState& run) {
    const int32_t h = run.SystemBox.Size / 2;
    return estimateSky(viewOf(plane), row.SystemX - h, row.SystemY - h, row.SystemX + h,
                       row.SystemY + h)
        .level;
}

// The secondary's light over the primary's in the sampled frames, where
// the method gives no flux ratio.
double lightRatio(Player& player, const FrameTable& table, const std::vector<std::size_t>& sample,
                  const WorkingState& run, float yScale) {
    const int32_t boxSize = run.PrimaryBox.Size;
    // Within one and a half star widths lies nearly all of a star's light
    // and little of the noise around it; the sums over the frames, as a
    // faint star's light in one frame is mostly noise.
    const double radius = run.SelectionFwhmPx > 0 ? 1.5 * run.SelectionFwhmPx : boxSize / 2.0;
    double primaryLight = 0, secondaryLight = 0;
    for (std::size_t n : sample) {
        player.ReadWholeFrame(static_cast<int32_t>(n));
        const IntensityPlane& plane = player.Intensities();
        const FrameRow& row = table[n];
        const double sky = skyAt(plane, row, run);
        const auto at = [](double v) { return static_cast<int32_t>(std::lround(v)); };
        const int32_t px = at(row.PrimaryX), py = at(row.PrimaryY / yScale);
        const PairLight light =
            pairLight(plane, px, py, at(row.SecondaryX), at(row.SecondaryY / yScale), radius, sky);
        primaryLight += light.primary;
        secondaryLight += light.secondary;
    }
    return primaryLight > 0 ? std::clamp(secondaryLight / primaryLight, 0.001, 10.0) : 0;
}

// The pixels of the square a copy goes into, kept so that the frame is put
// back exactly as it was (clipping at white and all) once the copy has been
// read: copying the whole frame for every copy cost more than measuring
// all the copies.
class KeptSquare {
public:
    void keep(const IntensityPlane& plane, int32_t cx, int32_t cy, int32_t half) {
        rect_ = clippedTo({cx - half, cy - half, cx + half + 1, cy + half + 1}, plane.width(),
                          plane.height());
        pixels_.clear();
        for (int y = rect_.top; y < rect_.bottom; ++y) {
            const uint16_t* row = plane.row(y, rect_.left, rect_.right);
            pixels_.insert(pixels_.end(), row + rect_.left, row + rect_.right);
        }
    }
    void putBack(IntensityPlane& plane) const {
        const std::size_t w = static_cast<std::size_t>(rect_.right - rect_.left);
        for (int y = rect_.top; y < rect_.bottom; ++y)
            std::copy_n(pixels_.begin() + static_cast<std::ptrdiff_t>(
                                              static_cast<std::size_t>(y - rect_.top) * w),
                        w, plane.row(y) + rect_.left);
    }

private:
    PixelRect rect_;
    std::vector<uint16_t> pixels_;
};

} // namespace

std::optional<ArtificialStarResult> artificialStarTest(Player& player, const FrameTable& table,
                                                       const WorkingState& run, Method method,
                                                       const ReductionResult& r,
                                                       const ArtificialStarOptions& options) {
    if (r.reached < ReductionStage::Separation || !(r.separation.pixelScale > 0))
        return std::nullopt;
    // Template Fit measured overlapping images as PSF Fit does; a copy's
    // frame holds no selection to tell it so, and is measured so directly.
    const Method measuring =
        method == Method::TemplateFit && imagesCloseForFits(run) ? Method::PsfFit : method;
    const MeasureFrame measure = options.measure ? options.measure : methodEntry(measuring).measure;
    std::vector<std::size_t> accepted;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].Valid)
            accepted.push_back(i);
    const int32_t angles = std::max(1, options.angles);
    // About one copy for every three frames the run measured, so the test
    // takes well under the run's time.
    const int32_t frames =
        std::clamp(CountMeasuredRows(table) / (3 * angles) + 4, 1,
                   std::min(options.maxFrames, static_cast<int32_t>(accepted.size())));
    if (frames <= 0)
        return std::nullopt;

    const int32_t boxSize = run.PrimaryBox.Size;
    const int32_t half = boxSize / 2 + kImageMargin;
    const float yScale = run.YScale > 0 ? run.YScale : 1.0f;
    const double sepRow = r.averages.meanSep;
    const int32_t before = player.CurrentPosition();

    std::vector<std::size_t> sample;
    for (int32_t k = 0; k < frames; ++k)
        sample.push_back(
            accepted[(static_cast<std::size_t>(k) * accepted.size() + accepted.size() / 2) /
                     static_cast<std::size_t>(frames)]);

    ArtificialStarResult out;
    // The secondary's share of light: the method's own where it fits the
    // flux ratio (the median over the accepted frames, as a frame's
    // flicker would pull a mean), else from the light in the sample.
    std::vector<double> fitted;
    for (std::size_t n : accepted)
        if (std::isfinite(table[n].FluxRatio) && table[n].FluxRatio > 0)
            fitted.push_back(table[n].FluxRatio);
    if (fitted.size() * 2 >= accepted.size()) {
        std::nth_element(fitted.begin(), fitted.begin() + static_cast<long>(fitted.size() / 2),
                         fitted.end());
        out.fluxRatio = std::clamp(fitted[fitted.size() / 2], 0.001, 10.0);
    } else {
        out.fluxRatio = lightRatio(player, table, sample, run, yScale);
    }

    std::vector<AngleTally> tallies(static_cast<std::size_t>(angles));
    // The frame is filled again for every sampled frame rather than made
    // anew, which would map fresh memory from the system each time.
    IntensityPlane plane;
    KeptSquare kept;
    for (std::size_t n : sample) {
        player.ReadWholeFrame(static_cast<int32_t>(n));
        plane = player.Intensities();
        const FrameRow& row = table[n];
        const double sky = skyAt(plane, row, run);
        const double px = row.PrimaryX, py = row.PrimaryY / yScale;
        eraseSecondary(plane, px, py, row.SecondaryX, row.SecondaryY / yScale, half);
        const int32_t cx = static_cast<int32_t>(std::lround(px));
        const int32_t cy = static_cast<int32_t>(std::lround(py));
        const StarImage star = cutStar(plane, cx, cy, half, sky);
        // Each copy where this frame read the secondary, turned about the
        // primary: the copies then move against the primary as the
        // secondary did (the air above each star differs), and whatever
        // that motion does to a method's reading is in theirs.
        const double ox = row.SecondaryX - row.PrimaryX, oy = row.SecondaryY - row.PrimaryY;
        for (int32_t k = 0; k < angles; ++k) {
            const double turn = 2 * kPi * k / angles;
            const double c = std::cos(turn), s = std::sin(turn);
            // Screen angles count counter-clockwise with y down.
            const int32_t dx = static_cast<int32_t>(std::lround(c * ox + s * oy));
            const int32_t dy = static_cast<int32_t>(std::lround((-s * ox + c * oy) / yScale));
            const int32_t qx = cx + dx, qy = cy + dy;
            // The copy, its boxes and the system box's sky ring on the frame.
            const int32_t margin = boxSize + static_cast<int32_t>(sepRow / 2) + kSkyRingGap +
                                   kSkyRingWidth + kImageMargin;
            if (qx < margin || qy < margin || qx >= plane.width() - margin ||
                qy >= plane.height() - margin)
                continue;
            kept.keep(plane, qx, qy, star.half);
            addStar(plane, star, qx, qy, out.fluxRatio, n * 64 + static_cast<uint64_t>(k));
            const std::optional<FrameRow> read =
                measureClickedPair(measure, plane, cx, cy, qx, qy, boxSize, yScale, row.TimeUs);
            kept.putBack(plane);
            if (!read) {
                ++out.lost;
                continue;
            }
            const double putX = dx, putY = dy * static_cast<double>(yScale);
            const double readX = read->SecondaryX - read->PrimaryX;
            const double readY = read->SecondaryY - read->PrimaryY;
            const double sepErr = std::hypot(readX, readY) - std::hypot(putX, putY);
            const double angErr =
                wrapDegrees180((std::atan2(-readY, readX) - std::atan2(-putY, putX)) * 180.0 / kPi);
            AngleTally& t = tallies[static_cast<std::size_t>(k)];
            ++t.n;
            t.sep += sepErr;
            t.sep2 += sepErr * sepErr;
            t.ang += angErr;
            t.ang2 += angErr * angErr;
            ++out.copies;
        }
    }
    player.SeekTo(before);
    if (out.copies < 2)
        return std::nullopt;
    for (const AngleTally& t : tallies)
        out.angles += t.n > 0;
    double se = 0;
    biasOf(tallies, false, out.sepBiasPx, se);
    const double scale = r.separation.pixelScale;
    out.sepBias = out.sepBiasPx / scale;
    out.sepBiasStderr = se / scale;
    biasOf(tallies, true, out.screenAngleBias, se);
    // A mirrored image counts the position angle the other way round.
    const double sign = r.orientation == Orientation::UprightReverted ? -1.0 : 1.0;
    out.paBias = sign * out.screenAngleBias;
    out.paBiasStderr = se;
    return out;
}

bool separationBiased(const ArtificialStarResult& a, const ReductionResult& r) {
    const double b = std::fabs(a.sepBias);
    return b > 2 * a.sepBiasStderr && b > r.statistics.separationStderr;
}

bool positionAngleBiased(const ArtificialStarResult& a, const ReductionResult& r) {
    const double b = std::fabs(a.paBias);
    return b > 2 * a.paBiasStderr && b > r.statistics.positionAngleStderr;
}

double correctedSeparation(const ArtificialStarResult& a, const ReductionResult& r) {
    return r.separation.separation - a.sepBias;
}

double correctedPositionAngle(const ArtificialStarResult& a, const ReductionResult& r) {
    return wrapDegrees360(r.regression.positionAngle - a.paBias);
}

bool correctBias(const ArtificialStarResult& a, ReductionResult& r) {
    const bool sep = separationBiased(a, r), pa = positionAngleBiased(a, r);
    ReductionStatistics& s = r.statistics;
    if (sep) {
        r.separation.separation = static_cast<float>(correctedSeparation(a, r));
        s.separationStderr = std::hypot(s.separationStderr, a.sepBiasStderr);
    }
    if (pa) {
        r.regression.positionAngle = static_cast<float>(correctedPositionAngle(a, r));
        s.positionAngleStderr = std::hypot(s.positionAngleStderr, a.paBiasStderr);
    }
    return sep || pa;
}

// Template Fit reads a faint companion with the least pull, PSF Fit a close
// one (where Template Fit fits as PSF Fit does); closer than both part
// soundly, only the speckle measure of short exposures reads the pair.
const char* betterMethodFor(Method method, bool imagesClose) {
    if (!imagesClose)
        return method == Method::TemplateFit ? nullptr : "Template Fit";
    return method == Method::PsfFit || method == Method::TemplateFit
               ? "Speckle, on a video of short exposures,"
               : "PSF Fit";
}

std::vector<std::string> artificialStarWarnings(const ArtificialStarResult& a,
                                                const ReductionResult& r, Method method, char sep,
                                                bool imagesClose) {
    std::vector<std::string> out;
    const char* better = betterMethodFor(method, imagesClose);
    const std::string advice =
        better ? std::string(" ") + better + " reads such a pair with less pull." : std::string();
    const std::string copies = " (" + std::to_string(a.copies) + " copies of the primary at " +
                               std::to_string(a.angles) + " position angles)";
    if (separationBiased(a, r))
        out.push_back("The separation reads " + formatRounded(std::fabs(a.sepBias), 2, sep) +
                      "\" " + (a.sepBias < 0 ? "short" : "long") +
                      " by the artificial-star test, ± " + errorText(a.sepBiasStderr, 2, sep) +
                      "\"" + copies + ": corrected, it would be " +
                      formatRounded(correctedSeparation(a, r), 2, sep) + "\"." + advice);
    if (positionAngleBiased(a, r))
        out.push_back("The position angle reads " + formatRounded(std::fabs(a.paBias), 2, sep) +
                      " degrees too " + (a.paBias < 0 ? "small" : "large") +
                      " by the artificial-star test, ± " + errorText(a.paBiasStderr, 2, sep) +
                      " degrees" + copies + ": corrected, it would be " +
                      formatRounded(correctedPositionAngle(a, r), 2, sep) + " degrees." + advice);
    return out;
}

} // namespace corvane
