#pragma once
// A pair of stars selected through the same functions the panel clicks use,
// ready for a measuring method to be run on later frames.
#include "StarField.h"
#include "measure/Selection.h"
#include "measure/WorkingState.h"

#include <vector>

namespace corvane::test {

struct Scene {
    IntensityPlane plane = blankFrame(); // what is measured
    WorkingState ws;
    std::vector<Star> stars; // as on the frame being measured
    Sky sky;

    void draw() { renderStars(plane, stars, sky); }
};

// Renders `stars` on a sky, clicks the first star and then the second (boxes
// of `boxSize`), as the window does. The table gets `rows` empty rows.
inline void selectPair(Scene& s, const std::vector<Star>& stars, const Sky& sky, int boxSize = 12,
                       int rows = 100) {
    s.stars = stars;
    s.sky = sky;
    s.ws.FrameData.assign(static_cast<std::size_t>(rows), FrameRow{});
    s.draw();
    selectprimary(s.ws, s.plane, static_cast<int32_t>(stars[0].x), static_cast<int32_t>(stars[0].y),
                  boxSize);
    selectsecondary(s.ws, s.plane, static_cast<int32_t>(stars[1].x),
                    static_cast<int32_t>(stars[1].y), boxSize, [] {});
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
