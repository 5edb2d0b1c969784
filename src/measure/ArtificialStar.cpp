#include "measure/ArtificialStar.h"

#include "measure/Selection.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace corvane {

void eraseSecondary(IntensityPlane& plane, double px, double py, double sx, double sy,
                    int32_t half) {
    const int32_t cx = static_cast<int32_t>(std::lround(sx));
    const int32_t cy = static_cast<int32_t>(std::lround(sy));
    // Every mirrored pixel is read before any is written: one may itself lie
    // in the square being written. Only the square's pixels are held, not a
    // copy of the frame.
    struct Mirrored {
        int32_t x, y, value;
    };
    std::vector<Mirrored> mirrored;
    mirrored.reserve(static_cast<std::size_t>(2 * half + 1) *
                     static_cast<std::size_t>(2 * half + 1));
    for (int32_t y = cy - half; y <= cy + half; ++y)
        for (int32_t x = cx - half; x <= cx + half; ++x) {
            if (std::hypot(x - sx, y - sy) >= std::hypot(x - px, y - py))
                continue;
            const int32_t mx = static_cast<int32_t>(std::lround(2 * px - x));
            const int32_t my = static_cast<int32_t>(std::lround(2 * py - y));
            if (mx < 0 || my < 0 || mx >= plane.width() || my >= plane.height())
                continue;
            mirrored.push_back({x, y, plane.at(mx, my)});
        }
    for (const Mirrored& m : mirrored)
        plane.set(m.x, m.y, m.value);
}

StarImage cutStar(const IntensityPlane& plane, int32_t cx, int32_t cy, int32_t half, double sky) {
    StarImage star;
    star.half = half;
    const int32_t side = 2 * half + 1;
    star.light.assign(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0.0f);
    for (int32_t j = 0; j < side; ++j)
        for (int32_t i = 0; i < side; ++i) {
            const int32_t x = cx - half + i, y = cy - half + j;
            if (x < 0 || y < 0 || x >= plane.width() || y >= plane.height())
                continue;
            star.light[static_cast<std::size_t>(j * side + i)] =
                static_cast<float>(plane.at(x, y) - sky);
        }
    return star;
}

namespace {

// A uniform number in [0, 1) from a pixel's place and a seed (splitmix64):
// the same copy on the same frame gets the same steps every time.
double ditherAt(uint64_t seed, int32_t x, int32_t y) {
    uint64_t z = seed * 0x9E3779B97F4A7C15ull +
                 (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) + static_cast<uint32_t>(y);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace

void addStar(IntensityPlane& plane, const StarImage& star, int32_t cx, int32_t cy, double ratio,
             uint64_t seed) {
    const int32_t side = 2 * star.half + 1;
    for (int32_t j = 0; j < side; ++j)
        for (int32_t i = 0; i < side; ++i) {
            const int32_t x = cx - star.half + i, y = cy - star.half + j;
            if (x < 0 || y < 0 || x >= plane.width() || y >= plane.height())
                continue;
            const double added = ratio * star.light[static_cast<std::size_t>(j * side + i)];
            const int32_t v =
                plane.at(x, y) + static_cast<int32_t>(std::floor(added + ditherAt(seed, x, y)));
            plane.set(x, y, std::clamp(v, 0, plane.whiteLevel()));
        }
}

PairLight pairLight(const IntensityPlane& plane, int32_t px, int32_t py, int32_t sx, int32_t sy,
                    double radius, double sky) {
    const int32_t reach = static_cast<int32_t>(std::ceil(radius));
    const int32_t mx = 2 * px - sx, my = 2 * py - sy;
    const auto inside = [&plane](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < plane.width() && y < plane.height();
    };
    PairLight light;
    for (int32_t v = -reach; v <= reach; ++v)
        for (int32_t u = -reach; u <= reach; ++u) {
            if (u * u + v * v > radius * radius)
                continue;
            if (inside(px + u, py + v))
                light.primary += plane.at(px + u, py + v) - sky;
            if (inside(sx + u, sy + v) && inside(mx + u, my + v))
                light.secondary += plane.at(sx + u, sy + v) - plane.at(mx + u, my + v);
        }
    return light;
}

std::optional<FrameRow> measureClickedPair(MeasureFrame measure, const IntensityPlane& plane,
                                           int32_t px, int32_t py, int32_t sx, int32_t sy,
                                           int32_t boxSize, float yScale, int64_t timeUs) {
    WorkingState ws;
    ws.YScale = yScale;
    selectprimary(ws, plane, px, py, boxSize);
    selectsecondary(
        ws, plane, sx, sy, boxSize, [] {}, false);
    ws.FrameData.assign(1, FrameRow{});
    if (!measure(ws, plane, 0, timeUs) || !ws.FrameData[0].Valid)
        return std::nullopt;
    return ws.FrameData[0];
}

} // namespace corvane
