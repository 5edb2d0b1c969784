#pragma once
// Choosing the pair: a click places a star box on the clicked point and lets
// it settle on the star's light in the frame's intensities; the second click
// derives the system box around both stars and fixes the offsets that the
// measuring methods rely on. The boxes are left in the working state; a
// display draws their outlines.
#include "measure/WorkingState.h"
#include "video/FrameImage.h"

#include <cstdint>
#include <functional>

namespace corvane {

class Player;

// Smallest and largest box size the "-" and "+" buttons allow, and their step.
inline constexpr int32_t kMinBoxSize = 4;
inline constexpr int32_t kMaxBoxSize = 40;
inline constexpr int32_t kBoxSizeStep = 2;

// Where the system box goes: centred on the enclosing rectangle of the two star
// boxes, with side 2 * Extent (Extent = the rectangle's longer side).
struct SystemBoxGeometry {
    int32_t CentreX = 0;
    int32_t CentreY = 0;
    int32_t Extent = 0;
};
SystemBoxGeometry sysboxgeometry(const TStarbox& primary, const TStarbox& secondary);

// Primary click: place the primary box (size from the box-size field) and let
// it settle (8 passes).
void selectprimary(WorkingState& ws, const IntensityPlane& plane, int32_t x, int32_t y,
                   int32_t size);

// The system box from the two star boxes: the frame is drawn afresh, the box
// placed and measured (3 passes), and the star boxes' offsets fixed.
// `drawFrameAfresh` redraws the current frame; `plane` must then hold the
// intensities of the frame on screen.
void sysbox(WorkingState& ws, const IntensityPlane& plane,
            const std::function<void()>& drawFrameAfresh);
// With the player: RepaintPlayer, then RedrawFrame.
void sysbox(WorkingState& ws, Player& player);

// Secondary click, after the caller has reset the working state: place the
// secondary box, let it settle (8 passes), sysbox, and take the expected
// offset of the secondary from the primary.
// `fitImages` false leaves out `fitSelection`, whose numbers only the user's
// warnings read (a pair clicked by the program itself).
void selectsecondary(WorkingState& ws, const IntensityPlane& plane, int32_t x, int32_t y,
                     int32_t size, const std::function<void()>& drawFrameAfresh,
                     bool fitImages = true);
// With the player: RepaintPlayer first, and sysbox with the player.
// (selectsecondary also fits both stars' images once, `fitSelection`.)
void selectsecondary(WorkingState& ws, Player& player, int32_t x, int32_t y, int32_t size);

// Fits two star images to the system box on the selection frame, started at
// the clicks, and keeps their separation and width in the working state
// (both 0 when the fit fails). Only what the user is told comes from it.
void fitSelection(WorkingState& ws, const IntensityPlane& plane);

// Pairs closer than this many star widths (FWHM) overlap: a weighted centre
// or a blob takes in the other star's light, and reads the pair too close.
inline constexpr double kOverlapWidths = 3.0;

// Whether the selection fit found the pair's images overlapping.
bool imagesOverlap(const WorkingState& ws);

// Where the fits stop parting a pair's images without doubt, in the widths
// (FWHM) of one frame's images as the selection fitted them. Through the
// air a frame's image is narrower than the seeing disc a long exposure
// shows: 3.5 of them are about 1.8 of the disc. Closer, Template Fit's copy
// of the primary keeps part of the secondary's light and reads long (so it
// fits both stars with PSF Fit's profiles there), and PSF Fit's profile
// follows the real images' wings only roughly.
inline constexpr double kFitCloseWidths = 3.5;

// Whether the selection, or the run's first frames, found the pair's images
// closer than the fits part them soundly (kFitCloseWidths).
bool imagesCloseForFits(const WorkingState& ws);
// The selection's one fit alone.
bool selectionCloseForFits(const WorkingState& ws);

// The pair's separation and its images' width (FWHM) as the run's frames
// fitted them, their medians over the accepted frames; 0 where the method
// fitted no width.
struct FittedImages {
    double separationPx = 0, fwhmPx = 0;
    bool close() const { return fwhmPx > 0 && separationPx < kFitCloseWidths * fwhmPx; }
};
FittedImages fittedImages(const FrameTable& table);

// A star box is square: along a diagonal its corner comes within 1.4 pixels
// of a neighbour 10 pixels away. The neighbour's light reaches into a box
// when its centre lies, in both axes, within half the box and this many star
// widths of the box's centre.
inline constexpr double kNeighbourWidths = 1.0;
// Through the air a frame's core can be a pixel wide while the seeing halo
// round it spreads over several: the light reaches at least this far.
inline constexpr double kNeighbourReachMinPx = 2.0;

// Whether the selection fit found the secondary's light reaching into the
// primary's star box (and so, by symmetry, the primary's into the
// secondary's).
bool neighbourInStarBox(const WorkingState& ws);

// What the user is told when the method cannot part the pair's stars (its
// entry's `tooClose`): "the stars' images overlap; use PSF Fit". nullptr
// when it can.
const char* overlapWarning(const WorkingState& ws, Method method);

} // namespace corvane
