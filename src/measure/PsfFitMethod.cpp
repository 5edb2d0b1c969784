#include "measure/FitStart.h"
#include "measure/Methods.h"
#include "measure/PsfFit.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"

#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;

// The fitter the run uses frame after frame, so that its buffers are
// allocated once.
struct PsfFitState : MethodStateOf<PsfFitState> {
    PsfFit fitter;
};

void keepFitted(TStarbox& star, const TStarbox& sys, const PsfStar& fitted) {
    star.centreat(sys.CentreX + star.OffsetX, sys.CentreY + star.OffsetY);
    star.FineX = static_cast<float>(fitted.x);
    star.FineY = static_cast<float>(fitted.y);
}

// What became of one star of the fit. The fit leaves out clipped pixels, so
// a saturated star is measured and only flagged, as in the other methods.
// When the fit found one image only, the labels of its two images say
// little (either may have taken the one star), so each star is judged as
// Weighted Average judges it: by light above the sky in a star box where it
// was expected.
StarStatus fittedStatus(const IntensityPlane& plane, const TStarbox& sys, const TStarbox& box,
                        const PsfFitResult& fit, std::size_t s, double startX, double startY,
                        uint16_t sky) {
    if (outsideFrame(plane, sys.Left, sys.Top, sys.Size))
        return StarStatus::OffFrame;
    switch (fit.status) {
    case PsfFitStatus::Converged: {
        const int32_t cx = static_cast<int32_t>(std::lround(fit.stars[s].x));
        const int32_t cy = static_cast<int32_t>(std::lround(fit.stars[s].y));
        return starStatus(plane, cx - box.Size / 2, cy - box.Size / 2, box.Size, true);
    }
    case PsfFitStatus::TooClose:
        return StarStatus::Merged; // one image fitted twice
    case PsfFitStatus::NotConverged:
    case PsfFitStatus::BadStart:
        return StarStatus::NotMeasured; // no answer about either star
    default:
        break;
    }
    TStarbox probe = box;
    probe.centreat(static_cast<int32_t>(std::lround(startX)),
                   static_cast<int32_t>(std::lround(startY)));
    const bool lit = probe.measure(plane, 1, sky);
    return starStatus(plane, probe.Left, probe.Top, probe.Size, lit);
}

// The offset's and the flux ratio's errors, from the fit's covariance.
void storeFitErrors(FrameRow& row, const PsfFitResult& fit, float yScale) {
    row.OffsetXError = static_cast<float>(fit.offsetXError);
    row.OffsetYError = static_cast<float>(fit.offsetYError) * yScale;
    row.FluxRatio = static_cast<float>(fit.fluxRatio);
    row.FluxRatioError = static_cast<float>(fit.fluxRatioError);
}

} // namespace

bool fitpair(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs) {
    TStarbox& sys = ws.SystemBox;
    TStarbox& pri = ws.PrimaryBox;
    TStarbox& sec = ws.SecondaryBox;

    // The system box follows the pair's light above the sky, as in the other
    // methods; the fit then models the sky itself, so it reads the frame as is.
    ws.SkyLevel = skyAround(plane, sys);
    const bool s = sys.measure(plane, kSystemPasses, ws.SkyLevel);

    PsfFitStart start;
    // The stars moved with the box since the last frame.
    const FitStartPoints points = fitStartPoints(ws);
    start.x = points.x;
    start.y = points.y;
    PsfFit& fitter = ws.MethodRun.get<PsfFitState>().fitter;
    const PsfFitResult fit =
        fitter.fit(viewOf(plane), sys.Left, sys.Top, sys.Right, sys.Bottom, start);

    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;
    if (fit.ok()) {
        keepFitted(pri, sys, fit.stars[0]);
        keepFitted(sec, sys, fit.stars[1]);
        storeFitErrors(row, fit, ws.YScale);
    }
    row.PrimaryX = static_cast<float>(fit.stars[0].x);
    row.PrimaryY = static_cast<float>(fit.stars[0].y) * ws.YScale;
    row.SecondaryX = static_cast<float>(fit.stars[1].x);
    row.SecondaryY = static_cast<float>(fit.stars[1].y) * ws.YScale;
    row.PrimaryStatus = fittedStatus(plane, sys, pri, fit, 0, start.x[0], start.y[0], ws.SkyLevel);
    row.SecondaryStatus =
        fittedStatus(plane, sys, sec, fit, 1, start.x[1], start.y[1], ws.SkyLevel);
    computeSeparationAndAngle(row);
    // The fit's own status decides, not the offset test: a converged fit with
    // both stars lit, inside the box and apart is a measurement.
    row.Valid = s && fit.ok();
    if (fit.status == PsfFitStatus::NotConverged || fit.status == PsfFitStatus::BadStart)
        row.Rejection = RowRejection::NotConverged;
    return storeRow(ws, Method::PsfFit, row, frame, timeUs);
}

} // namespace corvane
