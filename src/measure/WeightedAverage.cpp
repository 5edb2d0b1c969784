#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "measure/StarStatus.h"

#include <cstddef>

namespace corvane {

namespace {

constexpr int kSystemPasses = 2;
constexpr int kStarPasses = 4;
// Sky noises (one pixel's standard deviation) added to the sky level.
constexpr double kNoiseLift = 2.0;

} // namespace

bool findcentroid(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int32_t timeMs) {
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
    ws.SkyLevel = skyAround(plane, sys, kNoiseLift);
    const uint16_t sky = ws.SkyLevel;
    const bool s = sys.measure(plane, kSystemPasses, sky);
    FrameRow row;
    row.SystemX = sys.CentreX;
    row.SystemY = sys.CentreY;

    pri.centreat(sys.CentreX + pri.OffsetX, sys.CentreY + pri.OffsetY);
    const bool p = pri.measure(plane, kStarPasses, sky);
    row.PrimaryX = pri.FineX;
    row.PrimaryY = pri.FineY * ws.YScale;
    row.PrimaryStatus = starStatus(plane, pri.Left, pri.Top, pri.Size, p);

    // From here on the system box hangs on the measured primary, and the
    // secondary box is placed from there.
    sys.centreat(pri.CentreX - pri.OffsetX, pri.CentreY - pri.OffsetY);
    sec.centreat(sys.CentreX + sec.OffsetX, sys.CentreY + sec.OffsetY);
    const bool q = sec.measure(plane, kStarPasses, sky);
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
    row.FrameNo = frame;
    row.TimeMs = timeMs;

    if (frame < 0 || static_cast<std::size_t>(frame) >= ws.FrameData.size())
        return false;
    ws.FrameData[static_cast<std::size_t>(frame)] = row;
    applyAcceptance(ws.FrameData, frame, ws.ExpectedDX, ws.ExpectedDY, Method::WeightedAverage);
    return true;
}

} // namespace corvane
