#pragma once
// The ways of measuring a frame from its intensities. Each takes the local sky
// level off (see `skyAround`: every rule below applies to the light above the
// sky, and what lies at or below it counts as 0), moves the system box onto
// the pair, locates both stars and writes the frame's row of the table, then
// applies the acceptance tests. The frame number and its time
// come from the caller (the player, or a test that renders its own frame); a
// frame number outside the table writes nothing.
#include "measure/FrameTable.h"
#include "measure/WorkingState.h"
#include "video/FrameImage.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvane {

class Player;

// One way of measuring a frame, with everything that differs from one method
// to another. A new method supplies, in a file of its own, a function that
// measures a frame: it builds the frame's FrameRow, keeps whatever it carries
// from frame to frame in a state of its own (`ws.MethodRun.get<State>()`, a
// MethodStateOf<State>), and hands the row to `storeRow`. Then a value of
// `Method` and one entry in MethodTable.cpp, in the place its button takes.
struct MethodEntry {
    Method method;
    const char* caption;    // the window's radio button
    const char* optionName; // corvane-measure --method
    bool (*measure)(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs);
    // The offset test's limit: a fraction of the expected separation; a
    // deviation above it rejects the row (infinity: no offset is too far).
    long double acceptanceLimit;
    // How much sky light (intensity steps per pixel of an 8-bit frame, left
    // after the sky's whole level is taken off) the method bears before its
    // result moves by more than the frames' own scatter; beyond it the user
    // is warned. None for a method that the sky does not move.
    std::optional<double> skyTolerance;
    // Whether the pair, as fitted at selection, is too close for the method
    // to part its stars (the user is told to use PSF Fit); nullptr for a
    // method that parts overlapping images.
    bool (*tooClose)(const WorkingState& ws);
    // What to try when most frames were rejected because the stars' images
    // merged: "try PSF Fit".
    const char* mergedAdvice;
    // Whether the window's "Method" group shows it (each button beyond the
    // first two moves the controls below the group down a row); a method
    // left out is chosen in corvane-measure. Methods the window shows come
    // first.
    bool inWindow = true;
};

// In the order of the window's buttons.
const MethodEntry* methodEntries();
std::size_t methodCount();
const MethodEntry& methodEntry(Method method);
// The method picked by the window's group, checked when it opens, and taken
// by corvane-measure without --method.
inline constexpr Method kDefaultMethod = Method::PeakSearch;
// The method that measures one star followed by both boxes (a drift's
// calibration): each box weighs its own light, where a blob finder or a fit
// of two images needs two stars.
inline constexpr Method kOneStarMethod = Method::WeightedAverage;
// The method of a button index; an index that names no button (nothing
// checked) is the default method, so a run and a single step always measure
// the same way.
Method methodAtIndex(int index);
// The index of a method's button.
int indexOfMethod(Method method);
// The method whose option name is `name`; nullptr for none.
const MethodEntry* methodNamed(const char* name);

// Weighted Average: system box (2 passes), then each star box placed from it
// by its offset and measured (4 passes); y values times YScale; limit 0.6.
// Returns whether the row was written.
bool findcentroid(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs);

// Peak Search: system box (2 passes), smoothing, blob finder; the brighter
// blob is stored as the primary; limit 0.5. Returns whether the row was written.
bool findpeaks(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs);

// PSF Fit: system box (2 passes, as above), then two round Gaussian images of
// one width on a flat sky fitted to the box's pixels by least squares
// (`PsfFit`), starting where the last fit (or the clicks) put the stars. The
// row is valid when the fit converged with both stars lit, inside the box and
// more than a quarter of the width apart; the offset test does not apply.
// The pair's images may overlap. Returns whether the row was written.
bool fitpair(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs);

// Template Fit: system box (2 passes, as above), then the secondary fitted as
// a copy of the primary's own image in the frame (`TemplateFit`), scaled and
// shifted, starting where the last fit (or the clicks) put the stars; both
// boxes take the larger star box's side. The row is valid when the fit
// converged with the secondary's light clearly above zero, inside its box
// and a pixel or more from the primary; the offset test does not apply.
// Returns whether the row was written.
bool fittemplate(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs);

// The radius of the circles a fitting method reads the stars' light in: two
// image widths (the selection's fit's FWHM, else `fwhm`). Within two of them
// a star's light hardly changes when its circle misses it by the few tenths
// of a pixel by which the secondary wanders about the pair's track; at one
// and a half an equal pair's secondary read 0.02 magnitude faint. Wider
// circles take in more of the other star's noise.
double lightRadius(const WorkingState& ws, double fwhm);

// The light ratio a fitting method gives its row, with its error: the
// stars' light within `radius` of the primary at (px, py) and of where the
// pair's track puts the secondary, the offset (dx, dy) from it
// (`pairLight`), on the sky's `slope` taken off. `perLight`: the photon noise
// per step of light, for the error.
void storeLightRatio(FrameRow& row, const IntensityPlane& plane, double px, double py, double dx,
                     double dy, double radius, double perLight, const SkySlope& slope);

// Stores the row a method measured on the frame, with the frame's number and
// time, and applies the acceptance tests with the method's limit. Returns
// whether the row was written: a frame outside the table writes nothing.
bool storeRow(WorkingState& ws, Method method, FrameRow row, int32_t frame, int64_t timeUs);

// Side of the square smoothing kernel: 2 * trunc(primary box size / 8) + 1, at least 3.
int32_t kernelSize(int32_t primaryBoxSize);

// Box-filters the intensities above ws.SkyLevel under the system box into
// SmoothedGrid (cells with both offsets 2 .. S - 2; every other cell 0). A
// pixel whose own intensity over the sky is 6 or less gives 0 (in 8-bit steps;
// a deeper plane uses the same share of its white level).
void convolve(WorkingState& ws, const IntensityPlane& plane);

// The chosen method on the given frame, then `rejectRepeat` on its row.
// `sourceRepeat`: the frame source says the frame repeats the one before it.
bool measureframe(WorkingState& ws, const IntensityPlane& plane, Method method, int32_t frame,
                  int64_t timeUs, bool sourceRepeat = false);

// A frame that repeats the one before it holds no new position: its row is
// rejected when the frame source says so (a dropped or duplicated frame), or
// when the intensities under the previous frame's system box equal, to the
// last one, what they were on that frame (a repeat the file does not mark,
// and the end position, which shows the last frame again). Either way the
// intensities under the system box are then kept for the next frame. A frame
// whose picture moved by less than a pixel keeps its row: the noise alone
// tells two real frames apart.
void rejectRepeat(WorkingState& ws, const IntensityPlane& plane, int32_t frame, bool sourceRepeat);

// The same on the frame the player stands on: the player is set to frame
// time format, the frame number is its position and the time its
// CurrentTimeUs; the open video's source tells which frames were dropped.
bool findcentroid(WorkingState& ws, Player& player);
bool findpeaks(WorkingState& ws, Player& player);
bool fitpair(WorkingState& ws, Player& player);
bool measureframe(WorkingState& ws, Player& player, Method method);

} // namespace corvane
