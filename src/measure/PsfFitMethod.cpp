#include "measure/FitStart.h"
#include "measure/Methods.h"
#include "measure/PairLight.h"
#include "measure/PsfFit.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;

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
    case PsfFitStatus::SecondaryAtReach:
        // Its light in this frame did not hold the fit at its place.
        if (s == 1)
            return StarStatus::TooFaint;
        break;
    default:
        break;
    }
    TStarbox probe = box;
    probe.centreat(static_cast<int32_t>(std::lround(startX)),
                   static_cast<int32_t>(std::lround(startY)));
    const bool lit = probe.measure(plane, 1, sky);
    return starStatus(plane, probe.Left, probe.Top, probe.Size, lit);
}

// Where the pair puts the secondary and how far a frame's fit may leave
// it. A faint companion's fit can take the primary's core or halo, or a
// grain of sky, for the secondary; such a frame is no measurement of the
// pair, and were it kept, the next frame would start from there. The track
// is the median offset (secondary less primary) of the last frames
// measured, and before any the selection's fit of both images (the clicks,
// where that fit failed or strayed from them). One frame's fit of a
// speckled image scatters by a few tenths of a pixel about it, and the
// selection's by up to a pixel: two image widths hold them, and half the
// separation keeps a secondary that slid onto the primary from passing
// however close the pair.
constexpr double kTrackReachWidths = 2.0;

class PairTrack {
public:
    void add(double dx, double dy, double fwhm) {
        fwhm_ = fwhm;
        offsets_.add(dx, dy);
    }
    // The track's offset and reach on this frame. The images' width is the
    // selection's fit's, or where that failed the last frame's measured, or
    // else `fwhm`; a reach of 0 (no width known, or both clicks on one
    // pixel) holds the fit to nothing.
    void at(const WorkingState& ws, double fwhm, double& dx, double& dy, double& reach) const {
        const double clickDX = ws.SecondaryClickDX - ws.PrimaryClickDX;
        const double clickDY = ws.SecondaryClickDY - ws.PrimaryClickDY;
        const double width = ws.SelectionFwhmPx > 0 ? ws.SelectionFwhmPx : fwhm_ > 0 ? fwhm_ : fwhm;
        reach = std::min(kTrackReachWidths * width, 0.5 * std::hypot(clickDX, clickDY));
        if (!offsets_.empty()) {
            dx = offsets_.dx();
            dy = offsets_.dy();
            return;
        }
        const bool fitted = ws.SelectionFwhmPx > 0 &&
                            std::hypot(ws.SelectionDX - clickDX, ws.SelectionDY - clickDY) <= reach;
        dx = fitted ? ws.SelectionDX : clickDX;
        dy = fitted ? ws.SelectionDY : clickDY;
    }

private:
    RecentOffsets offsets_;
    double fwhm_ = 0;
};

// The fitter the run uses frame after frame, so that its buffers are
// allocated once, and the pair's track.
struct PsfFitState : MethodStateOf<PsfFitState> {
    PsfFit fitter;
    PairTrack track;
};

// The offset's errors, from the fit's covariance.
void storeFitErrors(FrameRow& row, const PsfFitResult& fit, float yScale) {
    row.OffsetXError = static_cast<float>(fit.offsetXError);
    row.OffsetYError = static_cast<float>(fit.offsetYError) * yScale;
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
    PsfFitState& state = ws.MethodRun.get<PsfFitState>();
    // The secondary's fit is held within the track's reach of its start.
    // A start off the track (the star boxes settled on the blend of a
    // close pair, and no frame has been measured since) would hold it away
    // from its star: it starts from the track instead.
    double trackDX = 0, trackDY = 0, reach = 0;
    state.track.at(ws, 0, trackDX, trackDY, reach);
    start.secondaryReach = reach;
    const double onTrackX = start.x[0] + trackDX, onTrackY = start.y[0] + trackDY;
    if (reach > 0 && std::hypot(start.x[1] - onTrackX, start.y[1] - onTrackY) > reach) {
        start.x[1] = onTrackX;
        start.y[1] = onTrackY;
    }
    const PsfFitResult fit =
        state.fitter.fit(viewOf(plane), sys.Left, sys.Top, sys.Right, sys.Bottom, start);

    state.track.at(ws, fit.fwhm(), trackDX, trackDY, reach);
    const double fitDX = fit.stars[1].x - fit.stars[0].x, fitDY = fit.stars[1].y - fit.stars[0].y;
    const bool strayed =
        fit.ok() && reach > 0 && std::hypot(fitDX - trackDX, fitDY - trackDY) > reach;
    const bool measured = fit.ok() && !strayed;

    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;
    if (measured) {
        state.track.add(fitDX, fitDY, fit.fwhm());
        keepFitted(pri, sys, fit.stars[0]);
        keepFitted(sec, sys, fit.stars[1]);
        storeFitErrors(row, fit, ws.YScale);
        row.ImageFwhm = static_cast<float>(fit.fwhm());
    }
    // The light ratio from circles round the fitted primary and where the
    // track puts the secondary, not from the fitted profiles: a round
    // profile takes a speckled image's core and leaves its halo, and a
    // faint companion's fit, free to settle on its frame's noise, reads it
    // brighter. Both read a 2-3 magnitude companion 0.07-0.1 magnitude too
    // bright through the atmosphere. A frame whose secondary the fit lost
    // (strayed, met its reach, had no light or left its box) keeps its
    // ratio while the primary's centre held near its start: the fit loses
    // the companion where it is faint in that frame, and the frames it
    // holds alone read a 3-magnitude companion 0.06 bright.
    const bool secondaryLost = fit.status == PsfFitStatus::SecondaryAtReach ||
                               fit.status == PsfFitStatus::NoLight ||
                               fit.status == PsfFitStatus::CentreOutsideBox;
    if (fit.ok() || (secondaryLost && std::hypot(fit.stars[0].x - start.x[0],
                                                 fit.stars[0].y - start.y[0]) < fit.fwhm()))
        storeLightRatio(row, plane, fit.stars[0].x, fit.stars[0].y, trackDX, trackDY,
                        lightRadius(ws, fit.fwhm()), fit.noise.perLight, ws.SelectionSkySlope);
    row.PrimaryX = static_cast<float>(fit.stars[0].x);
    row.PrimaryY = static_cast<float>(fit.stars[0].y) * ws.YScale;
    row.SecondaryX = static_cast<float>(fit.stars[1].x);
    row.SecondaryY = static_cast<float>(fit.stars[1].y) * ws.YScale;
    row.PrimaryStatus = fittedStatus(plane, sys, pri, fit, 0, start.x[0], start.y[0], ws.SkyLevel);
    row.SecondaryStatus =
        fittedStatus(plane, sys, sec, fit, 1, start.x[1], start.y[1], ws.SkyLevel);
    // A secondary fitted off its track was not held by its own light: it
    // slid onto the primary (the images merged in the fit) or was too faint
    // in this frame to hold the fit at its place.
    if (strayed)
        row.SecondaryStatus = std::hypot(fitDX, fitDY) < 0.5 * std::hypot(trackDX, trackDY)
                                  ? StarStatus::Merged
                                  : StarStatus::TooFaint;
    computeSeparationAndAngle(row);
    // The fit's own status decides, not the offset test: a converged fit with
    // both stars lit, inside the box, apart and on the pair's track is a
    // measurement.
    row.Valid = s && measured;
    if (fit.status == PsfFitStatus::NotConverged || fit.status == PsfFitStatus::BadStart)
        row.Rejection = RowRejection::NotConverged;
    return storeRow(ws, Method::PsfFit, row, frame, timeUs);
}

} // namespace corvane
