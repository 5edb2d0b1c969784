#include "FuzzHarness.h"
#include "FuzzScratch.h"

#include "common/Error.h"
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "measure/Runs.h"
#include "measure/Selection.h"
#include "measure/WorkingState.h"
#include "video/Monochrome.h"
#include "video/PanelSurface.h"
#include "video/Player.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace corvane {

namespace {

using fuzz::scratchPath;
using fuzz::writeFile;

struct Spot {
    int32_t x = 0;
    int32_t y = 0;
};

// Where the pair is looked for: the fuzzer's frames are small (a few KB of
// data), and scanning the whole frame twice would cost more than decoding.
constexpr int32_t kSearchWidth = 160;
constexpr int32_t kSearchHeight = 120;

// The brightest pixel of the searched corner, and the brightest one at least
// `gap` pixels away from it in x or y: where a user would click the pair.
void brightestPair(const IntensityPlane& plane, Spot& first, Spot& second, int32_t gap) {
    int32_t best = -1;
    for (int32_t y = 0; y < kSearchHeight; ++y)
        for (int32_t x = 0; x < kSearchWidth; ++x)
            if (const int32_t v = plane.at(x, y); v > best) {
                best = v;
                first = {x, y};
            }
    best = -1;
    second = {first.x + gap, first.y};
    for (int32_t y = 0; y < kSearchHeight; ++y)
        for (int32_t x = 0; x < kSearchWidth; ++x) {
            if (std::abs(x - first.x) < gap && std::abs(y - first.y) < gap)
                continue;
            if (const int32_t v = plane.at(x, y); v > best) {
                best = v;
                second = {x, y};
            }
        }
}

void exercise(Player& player) {
    const int32_t length = player.VideoLength();
    player.SetTimeFormat(TimeFormat::Milliseconds);
    const int32_t lengthMs = player.VideoLength();
    player.SeekTo(lengthMs / 2);
    player.SetTimeFormat(TimeFormat::Frames);
    player.SetStepSize(1);
    for (const int32_t p : {length, 0, length / 2, 1, length - 1, length / 3})
        player.SeekTo(p);
    player.StepForward();
    player.StepForward();
    player.StepBack();
    player.RedrawFrame();
    player.SeekTo(length); // the end position: the next step wraps to the start
    player.StepForward();
    (void)player.CurrentTimeMs();

    // Click a pair on frame 0 as a user would and measure the next frame by
    // both methods, into a table sized as the window sizes it.
    WorkingState ws;
    ws.FrameData.assign(static_cast<std::size_t>(std::max(length, 0)) + 1, FrameRow{});
    player.SeekTo(0);
    Spot a, b;
    brightestPair(player.Intensities(), a, b, 8);
    constexpr int32_t kBoxSize = 12;
    selectprimary(ws, player.Intensities(), a.x, a.y, kBoxSize);
    selectsecondary(ws, player, b.x, b.y, kBoxSize);
    player.StepForward();
    findcentroid(ws, player);
    findpeaks(ws, player);
    player.StepBack();
    findpeaks(ws, player);
    findcentroid(ws, player);

    // A short run to the end (at most a few frames).
    RunHooks hooks;
    const int32_t stop = std::min(length, player.CurrentPosition() + 4);
    hooks.stopFrame = [stop] { return stop; };
    runFrames(ws, player, Method::PeakSearch, hooks);
    (void)reductionDue(ws.FrameData);
}

} // namespace

int corvaneFuzzOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath(".avi");
    if (!writeFile(path, data, size))
        return 0;
    PanelSurface panel;
    Player player(panel);
    try {
        player.OpenVideo(path);
        exercise(player);
    } catch (const Error&) {
        // A clear refusal is what a hostile file should get.
    }
    player.Close();
    std::remove(path.c_str());
    return 0;
}

} // namespace corvane
