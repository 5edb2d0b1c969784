#include "measure/Selection.h"

#include "measure/Methods.h"
#include "measure/PsfFit.h"
#include "measure/SkyEstimate.h"

#include "common/Rounding.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr int kStarPasses = 8;
constexpr int kSystemPasses = 3;
// A star's halo lies within this many image widths: the sky's slope is read beyond.
constexpr double kSlopeClearWidths = 4.0;

} // namespace

SystemBoxGeometry sysboxgeometry(const TStarbox& primary, const TStarbox& secondary) {
    const int32_t minL = std::min(primary.Left, secondary.Left);
    const int32_t minT = std::min(primary.Top, secondary.Top);
    const int32_t maxR = std::max(primary.Right, secondary.Right);
    const int32_t maxB = std::max(primary.Bottom, secondary.Bottom);
    SystemBoxGeometry g;
    g.Extent = std::max(maxR - minL, maxB - minT);
    g.CentreX = roundToInt(minL + static_cast<long double>(maxR - minL) / 2);
    g.CentreY = roundToInt(minT + static_cast<long double>(maxB - minT) / 2);
    return g;
}

void selectprimary(WorkingState& ws, const IntensityPlane& plane, int32_t x, int32_t y,
                   int32_t size) {
    ws.PrimaryClickX = x;
    ws.PrimaryClickY = y;
    ws.PrimaryBox.place(x, y, size);
    ws.PrimaryBox.measure(plane, kStarPasses, skyAround(plane, ws.PrimaryBox));
}

void sysbox(WorkingState& ws, const IntensityPlane& plane,
            const std::function<void()>& drawFrameAfresh) {
    TStarbox& pri = ws.PrimaryBox;
    TStarbox& sec = ws.SecondaryBox;
    TStarbox& sys = ws.SystemBox;
    const SystemBoxGeometry g = sysboxgeometry(pri, sec);
    if (drawFrameAfresh)
        drawFrameAfresh();
    sys.place(g.CentreX, g.CentreY, 2 * g.Extent);
    sys.measure(plane, kSystemPasses, skyAround(plane, sys));
    pri.OffsetX = pri.CentreX - sys.CentreX;
    pri.OffsetY = pri.CentreY - sys.CentreY;
    sec.OffsetX = sec.CentreX - sys.CentreX;
    sec.OffsetY = sec.CentreY - sys.CentreY;
}

void selectsecondary(WorkingState& ws, const IntensityPlane& plane, int32_t x, int32_t y,
                     int32_t size, const std::function<void()>& drawFrameAfresh, bool fitImages) {
    ws.SecondaryBox.place(x, y, size);
    ws.SecondaryBox.measure(plane, kStarPasses, skyAround(plane, ws.SecondaryBox));
    sysbox(ws, plane, drawFrameAfresh);
    ws.PrimaryClickDX = ws.PrimaryClickX - ws.SystemBox.CentreX;
    ws.PrimaryClickDY = ws.PrimaryClickY - ws.SystemBox.CentreY;
    ws.SecondaryClickDX = x - ws.SystemBox.CentreX;
    ws.SecondaryClickDY = y - ws.SystemBox.CentreY;
    if (fitImages)
        fitSelection(ws, plane);
    ws.ExpectedDX = ws.SecondaryBox.CentreX - ws.PrimaryBox.CentreX;
    ws.ExpectedDY = ws.SecondaryBox.CentreY - ws.PrimaryBox.CentreY;
}

void fitSelection(WorkingState& ws, const IntensityPlane& plane) {
    const TStarbox& sys = ws.SystemBox;
    PsfFitStart start;
    start.x = {static_cast<double>(sys.CentreX + ws.PrimaryClickDX),
               static_cast<double>(sys.CentreX + ws.SecondaryClickDX)};
    start.y = {static_cast<double>(sys.CentreY + ws.PrimaryClickDY),
               static_cast<double>(sys.CentreY + ws.SecondaryClickDY)};
    PsfFit fitter;
    const PsfFitResult fit =
        fitter.fit(viewOf(plane), sys.Left, sys.Top, sys.Right, sys.Bottom, start);
    ws.SelectionSeparationPx = ws.SelectionDX = ws.SelectionDY = 0;
    ws.SelectionFwhmPx = ws.SelectionFluxRatio = 0;
    // The sky's slope beyond the pair's light: half the separation and four
    // image widths round the midpoint (a 3-pixel image where the fit failed).
    const double width = fit.ok() ? fit.fwhm() : kPsfDefaultSigmaPx * kFwhmPerSigma;
    const double midX = 0.5 * (start.x[0] + start.x[1]), midY = 0.5 * (start.y[0] + start.y[1]);
    ws.SelectionSkySlope =
        skySlopeAround(viewOf(plane), midX, midY,
                       0.5 * std::hypot(start.x[1] - start.x[0], start.y[1] - start.y[0]) +
                           kSlopeClearWidths * width);
    if (!fit.ok())
        return;
    ws.SelectionDX = fit.stars[1].x - fit.stars[0].x;
    ws.SelectionDY = fit.stars[1].y - fit.stars[0].y;
    ws.SelectionSeparationPx = std::hypot(ws.SelectionDX, ws.SelectionDY);
    ws.SelectionFwhmPx = fit.fwhm();
    ws.SelectionFluxRatio = fit.fluxRatio;
}

bool imagesOverlap(const WorkingState& ws) {
    return ws.SelectionFwhmPx > 0 && ws.SelectionSeparationPx < kOverlapWidths * ws.SelectionFwhmPx;
}

bool selectionCloseForFits(const WorkingState& ws) {
    return ws.SelectionFwhmPx > 0 &&
           ws.SelectionSeparationPx < kFitCloseWidths * ws.SelectionFwhmPx;
}

bool imagesCloseForFits(const WorkingState& ws) {
    return ws.RunImagesClose || selectionCloseForFits(ws);
}

FittedImages fittedImages(const FrameTable& table) {
    std::vector<double> separations, widths;
    for (const FrameRow& r : table)
        if (r.Valid && std::isfinite(r.ImageFwhm)) {
            separations.push_back(r.SepPixels);
            widths.push_back(r.ImageFwhm);
        }
    if (widths.empty())
        return {};
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    return {median(separations), median(widths)};
}

bool neighbourInStarBox(const WorkingState& ws) {
    const double reach = ws.PrimaryBox.Size / 2.0 +
                         std::max(kNeighbourWidths * ws.SelectionFwhmPx, kNeighbourReachMinPx);
    return ws.SelectionFwhmPx > 0 &&
           std::max(std::fabs(ws.SelectionDX), std::fabs(ws.SelectionDY)) < reach;
}

const char* overlapWarning(const WorkingState& ws, Method method) {
    const MethodEntry& entry = methodEntry(method);
    if (!entry.tooClose || !entry.tooClose(ws))
        return nullptr;
    return "the stars' images overlap; use PSF Fit";
}

} // namespace corvane
