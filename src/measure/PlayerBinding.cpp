// The measuring operations on the frame the player shows.
#include "measure/Methods.h"
#include "measure/Reset.h"
#include "measure/Selection.h"
#include "video/Player.h"

#include <algorithm>
#include <functional>

namespace corvane {

namespace {

struct FrameOnScreen {
    int32_t frame;
    int64_t timeUs;
};

FrameOnScreen frameOnScreen(Player& player) {
    player.SetTimeFormat(TimeFormat::Frames);
    FrameOnScreen f;
    f.frame = player.CurrentPosition();
    f.timeUs = player.CurrentTimeUs();
    return f;
}

} // namespace

bool findcentroid(WorkingState& ws, Player& player) {
    const FrameOnScreen f = frameOnScreen(player);
    return findcentroid(ws, player.Intensities(), f.frame, f.timeUs);
}

bool findpeaks(WorkingState& ws, Player& player) {
    const FrameOnScreen f = frameOnScreen(player);
    return findpeaks(ws, player.Intensities(), f.frame, f.timeUs);
}

bool fitpair(WorkingState& ws, Player& player) {
    const FrameOnScreen f = frameOnScreen(player);
    return fitpair(ws, player.Intensities(), f.frame, f.timeUs);
}

bool measureframe(WorkingState& ws, Player& player, Method method) {
    const FrameOnScreen f = frameOnScreen(player);
    const FrameSource* source = player.Source();
    const bool dropped = source && source->frameFate(f.frame) == FrameFate::Dropped;
    return measureframe(ws, player.Intensities(), method, f.frame, f.timeUs, dropped);
}

// Player::Intensities() names the same plane before and after the player
// moves, so the frame drawn afresh is the one measured.
void sysbox(WorkingState& ws, Player& player) {
    sysbox(ws, player.Intensities(), [&player] {
        player.RepaintPlayer();
        player.RedrawFrame();
    });
}

void selectsecondary(WorkingState& ws, Player& player, int32_t x, int32_t y, int32_t size) {
    player.RepaintPlayer();
    selectsecondary(ws, player.Intensities(), x, y, size, [&player] {
        player.RepaintPlayer();
        player.RedrawFrame();
    });
}

void cleardata(WorkingState& ws, Player& player) {
    player.SetTimeFormat(TimeFormat::Frames);
    ws.FrameData.clear();
    ws.LastPatch = SystemBoxPatch{};
    ws.MethodRun.reset();
    ws.RunImagesClose = false;
    const int32_t length = player.VideoLength();
    ws.FrameData.assign(static_cast<std::size_t>(std::max(length, 0)) + 1, FrameRow{});
}

void resetvideo(WorkingState& ws, Player& player, const std::function<int32_t()>& startFrame) {
    player.SetTimeFormat(TimeFormat::Frames);
    cleardata(ws, player);
    player.SeekTo(1);
    player.SeekToStart();
    player.SeekTo(startFrame());
}

void resetvideo(WorkingState& ws, Player& player, int32_t startFrame) {
    resetvideo(ws, player, [startFrame] { return startFrame; });
}

} // namespace corvane
