#pragma once
// What measuring found, drawn over the frame for the user: the outlines of
// the chosen boxes, the marks of the measured positions, the track of both
// stars and the enlarged copy of a box. Nothing measures what is drawn here.
#include "measure/FrameTable.h"
#include "measure/Starbox.h"
#include "measure/WorkingState.h"
#include "video/PanelSurface.h"
#include "video/PixelCanvas.h"

#include <cstdint>

namespace corvane {

// Hollow rectangle one pixel outside every pixel the box measures.
void drawoutline(const TStarbox& box, PanelSurface& panel, Colour colour);

// The outlines of the chosen pair: the system box blue, the primary red, the
// secondary yellow; a box not placed yet (size 0) draws nothing.
void drawselection(const WorkingState& ws, PanelSurface& panel);

// Marks the stored positions of a valid row: the primary red, the secondary
// yellow, at round_half_even of each coordinate. A frame outside the table or
// an invalid row draws nothing.
void drawpoints(const FrameTable& table, int32_t frame, PanelSurface& panel);
// The marks of every valid row in index order: the track of both stars.
void drawtrail(const FrameTable& table, PanelSurface& panel);

// The box's pixels as the panel shows them (the frame with its marks), three
// times enlarged, at the canvas's top-left.
void drawzoom(const TStarbox& box, const PanelSurface& panel, PixelCanvas& zoom);

} // namespace corvane
