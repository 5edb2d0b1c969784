#pragma once
// A square box on the frame that follows one light source: it measures the
// intensity-weighted centre of the light inside it and moves onto it. Its
// edges and centres are frame pixels.
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

class TStarbox {
public:
    int32_t Left = 0;   // first column inside the box
    int32_t Top = 0;    // first row inside the box
    int32_t Right = 0;  // one past the last column
    int32_t Bottom = 0; // one past the last row
    int32_t CentreX = 0;
    int32_t CentreY = 0;
    float FineX = 0; // weighted centre of the last successful measure, 3 decimals
    float FineY = 0;
    int32_t Size = 0;
    int32_t OffsetX = 0; // star box centre minus system box centre, fixed at selection
    int32_t OffsetY = 0;

    void updatesize();
    int32_t getsize();
    // Box of side 2 * round_half_even(size / 2) around (x, y); the centres stay.
    void place(int32_t x, int32_t y, int32_t size);
    // Centre on (x, y) keeping Size.
    void centreat(int32_t x, int32_t y);
    // `passes` times: re-centre on the rounded weighted centre of the frame's
    // intensities above `sky` (each weighs its height over the sky; at or
    // below it, nothing). True when every pass found light; only then the
    // fine centre changes. A sky of 0 (black) weighs the intensities as they are.
    bool measure(const IntensityPlane& plane, int passes, uint16_t sky = 0);
};

} // namespace corvane
