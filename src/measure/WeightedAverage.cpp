#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"

#include <algorithm>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;
constexpr int kStarPasses = 4;
// Sky noises (one pixel's standard deviation) added to the sky level.
constexpr double kNoiseLift = 2.0;
// A box holds a star only when its brightest pixel stands this many sky
// noises above the sky (not the raised level): a box on bare sky always holds
// some noise above the raised level, and its weighted centre would be taken
// for a star wherever the noise put it. A 12-pixel box of pure noise reaches
// 5 noises about once in 20,000 frames.
constexpr double kStarSigmas = 5.0;

// Measures `box` and tells whether it found a star. A box that found only
// the sky's noise goes back to where it was, so that the star is looked for
// there again in the next frame rather than wherever the noise led.
bool measureStar(TStarbox& box, const IntensityPlane& plane, const SkyAround& sky,
                 double skyLevel) {
    const TStarbox before = box;
    if (!box.measure(plane, kStarPasses, sky.level))
        return false;
    if (sky.noise <= 0 ||
        brightestIn(plane, box.Left, box.Top, box.Size) >= skyLevel + kStarSigmas * sky.noise)
        return true;
    box = before;
    return false;
}

} // namespace

bool findcentroid(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs) {
    TStarbox& sys = ws.SystemBox;
    TStarbox& pri = ws.PrimaryBox;
    TStarbox& sec = ws.SecondaryBox;

    // One sky for the frame, from around the system box where the pair was
    // last seen; all three boxes weigh the light above it. The level is
    // raised by twice the sky's pixel noise: the noise above the sky would
    // count as light and the noise below it as none, a pedestal of about 0.4
    // noise per pixel that pulls each centre towards its box's middle, and
    // so the pair towards the whole-pixel offset of the clicks (+0.025 px on
    // an 18 px pair at a noise of 3). A star's light is cut at the same level
    // all round it, which leaves its centre where it is. On a black sky
    // nothing is taken off, so dark-sky recordings keep their numbers.
    const SkyAround sky = skyAndNoiseAround(plane, sys, kNoiseLift);
    // The sky itself, under the raised level: what a star must stand above.
    const double skyLevel = std::max(0.0, sky.level - kNoiseLift * sky.noise);
    ws.SkyLevel = sky.level;
    ws.SkyNoise = sky.noise;
    const bool s = sys.measure(plane, kSystemPasses, sky.level);
    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;

    pri.centreat(sys.CentreX + pri.OffsetX, sys.CentreY + pri.OffsetY);
    const bool p = measureStar(pri, plane, sky, skyLevel);
    row.PrimaryX = pri.FineX;
    row.PrimaryY = pri.FineY * ws.YScale;
    row.PrimaryStatus = starStatus(plane, pri.Left, pri.Top, pri.Size, p);

    // From here on the system box hangs on the measured primary, and the
    // secondary box is placed from there.
    sys.centreat(pri.CentreX - pri.OffsetX, pri.CentreY - pri.OffsetY);
    sec.centreat(sys.CentreX + sec.OffsetX, sys.CentreY + sec.OffsetY);
    const bool q = measureStar(sec, plane, sky, skyLevel);
    row.SecondaryX = sec.FineX;
    row.SecondaryY = sec.FineY * ws.YScale;
    row.SecondaryStatus = starStatus(plane, sec.Left, sec.Top, sec.Size, q);
    // Both boxes settled on the same light: one star, or two not told apart
    // (unless one star was chosen for both).
    if (!ws.OneStar && p && q && pri.CentreX == sec.CentreX && pri.CentreY == sec.CentreY) {
        row.PrimaryStatus = StarStatus::Merged;
        row.SecondaryStatus = StarStatus::Merged;
    }

    computeSeparationAndAngle(row);
    // A star that was not found is rejected with the row's other tests.
    row.Valid = s;
    return storeRow(ws, Method::WeightedAverage, row, frame, timeUs);
}

} // namespace corvane
