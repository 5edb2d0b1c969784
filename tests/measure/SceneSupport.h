#pragma once
// A pair of stars selected through the same functions the panel clicks use,
// ready for a measuring method to be run on later frames.
#include "StarField.h"
#include "measure/Selection.h"
#include "measure/WorkingState.h"

#include <vector>

namespace corvane::test {

struct Scene {
    PanelSurface panel;
    WorkingState ws;
    std::vector<Star> stars; // as on the frame being measured
    Sky sky;

    void draw() { renderStars(panel, stars, sky); }
};

// Renders `stars` on a sky, clicks the first star and then the second (boxes
// of `boxSize`), as the window does: the reset between the clicks draws the
// frame afresh. The table gets `rows` empty rows. At the end the frame is
// drawn once more without the outlines, as a run starts on a fresh frame.
inline void selectPair(Scene& s, const std::vector<Star>& stars, const Sky& sky, int boxSize = 12,
                       int rows = 100) {
    s.stars = stars;
    s.sky = sky;
    s.ws.FrameData.assign(static_cast<std::size_t>(rows), FrameRow{});
    s.draw();
    selectprimary(s.ws, s.panel, static_cast<int32_t>(stars[0].x), static_cast<int32_t>(stars[0].y),
                  boxSize);
    s.draw();
    selectsecondary(s.ws, s.panel, static_cast<int32_t>(stars[1].x),
                    static_cast<int32_t>(stars[1].y), boxSize, [&s] { s.draw(); });
    s.draw();
}

// The pair moved by (dx, dy), drawn with a new noise seed.
inline void drift(Scene& s, double dx, double dy, uint32_t seed) {
    for (Star& st : s.stars) {
        st.x += dx;
        st.y += dy;
    }
    s.sky.seed = seed;
    s.draw();
}

} // namespace corvane::test
