#include "views/Overlays.h"

#include "common/Rounding.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace corvane {

namespace {

// A stored coordinate far off the panel (or not a number) marks nothing.
bool markable(float v) {
    return std::isfinite(v) && std::fabs(v) < 1.0e6f;
}

void mark(PanelSurface& panel, float x, float y, Colour colour) {
    if (!markable(x) || !markable(y))
        return;
    panel.setPixel(roundToInt(x), roundToInt(y), colour);
}

void markRow(const FrameRow& row, PanelSurface& panel) {
    mark(panel, row.PrimaryX, row.PrimaryY, kRed);
    mark(panel, row.SecondaryX, row.SecondaryY, kYellow);
}

} // namespace

void drawoutline(const TStarbox& box, PanelSurface& panel, Colour colour) {
    panel.rectangleOutline(box.Left - 1, box.Top - 1, box.Right + 1, box.Bottom + 1, colour);
}

void drawselection(const WorkingState& ws, PanelSurface& panel) {
    const struct {
        const TStarbox& box;
        Colour colour;
    } outlines[] = {{ws.SystemBox, kBlue}, {ws.PrimaryBox, kRed}, {ws.SecondaryBox, kYellow}};
    for (const auto& o : outlines)
        if (o.box.Size > 0)
            drawoutline(o.box, panel, o.colour);
    panel.touch();
}

void drawpoints(const FrameTable& table, int32_t frame, PanelSurface& panel) {
    if (frame < 0 || static_cast<std::size_t>(frame) >= table.size())
        return;
    const FrameRow& row = table[static_cast<std::size_t>(frame)];
    if (!row.Valid)
        return;
    markRow(row, panel);
    panel.touch();
}

void drawtrail(const FrameTable& table, PanelSurface& panel) {
    for (const FrameRow& row : table)
        if (row.Valid)
            markRow(row, panel);
    panel.touch();
}

void drawzoom(const TStarbox& box, const PanelSurface& panel, PixelCanvas& zoom) {
    if (box.Size <= 0)
        return;
    zoom.ensureSize(3 * box.Size, 3 * box.Size);
    std::vector<Colour> shown;
    panel.copyFrameRegion(box.Left, box.Top, box.Size, box.Size, shown);
    for (int32_t r = 0; r < box.Size; ++r) {
        for (int32_t c = 0; c < box.Size; ++c) {
            const Colour colour =
                shown[static_cast<std::size_t>(r) * static_cast<std::size_t>(box.Size) +
                      static_cast<std::size_t>(c)];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    zoom.setPixel(3 * c + j, 3 * r + i, colour);
        }
    }
    zoom.touch();
}

} // namespace corvane
