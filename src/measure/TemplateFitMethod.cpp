#include "measure/FitStart.h"
#include "measure/Methods.h"
#include "measure/PairLight.h"
#include "measure/Selection.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"
#include "measure/TemplateFit.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;

// The fitter the run uses frame after frame, so that its buffers are
// allocated once, and the offsets of the last frames measured.
struct TemplateFitState : MethodStateOf<TemplateFitState> {
    TemplateFit fitter;
    RecentOffsets track;
    int32_t widthsFitted = 0; // frames whose primary's width the fit read
};

// The selection's one fit of a speckled pair can take a grain of an image
// for the star and find images 1.3 widths apart 3.5 or more apart: the
// copy of the primary then held the secondary's light and read the pair
// 12.6 % long. The run's first frames tell: their median separation over
// their median width. Once they show the images close, the rest of the run
// fits both stars with one profile, and the frames fitted with the copy are
// refused.
constexpr int32_t kFramesJudgingCloseness = 25;

void judgeClosenessFromFrames(WorkingState& ws) {
    if (!fittedImages(ws.FrameData).close())
        return;
    ws.RunImagesClose = true;
    for (FrameRow& row : ws.FrameData)
        if (row.Valid) {
            row.Valid = false;
            row.Rejection = RowRejection::Refused;
        }
}

void keepFitted(TStarbox& star, const TStarbox& sys, double x, double y) {
    star.centreat(sys.CentreX + star.OffsetX, sys.CentreY + star.OffsetY);
    star.FineX = static_cast<float>(x);
    star.FineY = static_cast<float>(y);
}

// What became of one star. The fit leaves clipped pixels out, so a saturated
// star is measured and only flagged. Where the fit gives no answer about the
// secondary, each star is judged by light above the sky in its box where it
// was expected, as Weighted Average judges it.
StarStatus fittedStatus(const IntensityPlane& plane, const TStarbox& sys, const TStarbox& box,
                        TemplateFitStatus status, double x, double y, uint16_t sky) {
    if (outsideFrame(plane, sys.Left, sys.Top, sys.Size))
        return StarStatus::OffFrame;
    switch (status) {
    case TemplateFitStatus::Converged: {
        const int32_t cx = static_cast<int32_t>(std::lround(x));
        const int32_t cy = static_cast<int32_t>(std::lround(y));
        return starStatus(plane, cx - box.Size / 2, cy - box.Size / 2, box.Size, true);
    }
    case TemplateFitStatus::TooClose:
        return StarStatus::Merged; // the copy lies on the primary itself
    case TemplateFitStatus::NotConverged:
    case TemplateFitStatus::BadStart:
        return StarStatus::NotMeasured; // no answer about either star
    default:
        break;
    }
    TStarbox probe = box;
    probe.centreat(static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y)));
    const bool lit = probe.measure(plane, 1, sky);
    return starStatus(plane, probe.Left, probe.Top, probe.Size, lit);
}

} // namespace

bool fittemplate(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs) {
    // Where the images overlap, the primary's box holds much of the
    // secondary's light, and taking it off the template does not settle:
    // for an equal pair the copy of the copy never fades, and on images
    // sampled at under two pixels a lambda/D a shifted copy is not the
    // star's. Such pairs read 2 to 16 per cent long. There both stars are
    // fitted with one profile, as PSF Fit fits them.
    if (imagesCloseForFits(ws))
        return fitpair(ws, plane, frame, timeUs);
    TStarbox& sys = ws.SystemBox;
    TStarbox& pri = ws.PrimaryBox;
    TStarbox& sec = ws.SecondaryBox;

    // The system box follows the pair's light above the sky, as in the other
    // methods; the fit takes its own sky round both stars.
    ws.SkyLevel = skyAround(plane, sys);
    const bool s = sys.measure(plane, kSystemPasses, ws.SkyLevel);

    TemplateFitStart start;
    const FitStartPoints points = fitStartPoints(ws);
    start.primaryX = points.x[0];
    start.primaryY = points.y[0];
    start.secondaryX = points.x[1];
    start.secondaryY = points.y[1];
    // Each star's box holds its image; the template and the fitted pixels
    // take the larger of the two.
    start.box = std::max({pri.Size, sec.Size, kTemplateMinBox});
    TemplateFitState& state = ws.MethodRun.get<TemplateFitState>();
    const TemplateFitResult fit = state.fitter.fit(viewOf(plane), start);

    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;
    if (fit.ok()) {
        keepFitted(pri, sys, fit.primaryX, fit.primaryY);
        keepFitted(sec, sys, fit.secondaryX, fit.secondaryY);
        row.OffsetXError = static_cast<float>(fit.offsetXError);
        row.OffsetYError = static_cast<float>(fit.offsetYError) * ws.YScale;
        row.ImageFwhm = static_cast<float>(fit.primaryFwhm);
        // The light ratio from circles round the primary and where the
        // track puts the secondary (the last frames' median offset, before
        // any the selection's fit, else this frame's), not the fit's ratio:
        // through the atmosphere a frame's template carries its own
        // speckles, and the fitted ratios over a run read 0.2-1 magnitude
        // too bright (a mean of 1.28 on an equal pair), with errors that do
        // not show it. Where the circles overlap, the images do: the
        // template keeps part of the secondary's light and the offset reads
        // long, and the circles read an equal pair 1.2-1.3 widths apart
        // 1.5-2.3 magnitudes apart. No ratio is better than that one.
        const bool selected = state.track.empty() && ws.SelectionFwhmPx > 0;
        const double dx = !state.track.empty() ? state.track.dx()
                          : selected           ? ws.SelectionDX
                                               : fit.offsetX;
        const double dy = !state.track.empty() ? state.track.dy()
                          : selected           ? ws.SelectionDY
                                               : fit.offsetY;
        const double radius = lightRadius(ws, start.box / 4.0);
        if (std::hypot(dx, dy) >= 2 * radius)
            storeLightRatio(row, plane, fit.primaryX, fit.primaryY, dx, dy, radius,
                            fit.gain > 0 ? 1.0 / fit.gain : 0.0, ws.SelectionSkySlope);
        state.track.add(fit.offsetX, fit.offsetY);
    }
    const double px = fit.ok() ? fit.primaryX : start.primaryX;
    const double py = fit.ok() ? fit.primaryY : start.primaryY;
    const double qx = fit.ok() ? fit.secondaryX : start.secondaryX;
    const double qy = fit.ok() ? fit.secondaryY : start.secondaryY;
    row.PrimaryX = static_cast<float>(px);
    row.PrimaryY = static_cast<float>(py) * ws.YScale;
    row.SecondaryX = static_cast<float>(qx);
    row.SecondaryY = static_cast<float>(qy) * ws.YScale;
    // The primary is the template: it is there whenever the fit ran.
    const TemplateFitStatus primaryStatus =
        fit.status == TemplateFitStatus::NoLight || fit.status == TemplateFitStatus::OutsideBox
            ? TemplateFitStatus::Converged
            : fit.status;
    row.PrimaryStatus = fittedStatus(plane, sys, pri, primaryStatus, px, py, ws.SkyLevel);
    row.SecondaryStatus = fittedStatus(plane, sys, sec, fit.status, qx, qy, ws.SkyLevel);
    computeSeparationAndAngle(row);
    // The fit's own status decides, not the offset test.
    row.Valid = s && fit.ok();
    if (fit.status == TemplateFitStatus::NotConverged || fit.status == TemplateFitStatus::BadStart)
        row.Rejection = RowRejection::NotConverged;
    if (!storeRow(ws, Method::TemplateFit, row, frame, timeUs))
        return false;
    const FrameRow& stored = ws.FrameData[static_cast<std::size_t>(frame)];
    if (stored.Valid && std::isfinite(stored.ImageFwhm) &&
        ++state.widthsFitted == kFramesJudgingCloseness)
        judgeClosenessFromFrames(ws);
    return true;
}

} // namespace corvane
