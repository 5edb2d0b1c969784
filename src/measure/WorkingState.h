#pragma once
// The working data that measuring and reduction share, owned by the main
// window (or by a headless caller) for the whole run of the program.
#include "measure/FrameTable.h"
#include "measure/SkyEstimate.h"
#include "measure/Starbox.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace corvane {

// Square grid of box-filtered intensities over the system box, indexed
// (x, y) and stored row by row, the order the smoothing fills it and the blob
// finder reads it.
class SmoothedGridT {
public:
    void setSize(int32_t s);
    int32_t size() const { return size_; }
    int32_t& at(int32_t x, int32_t y) { return cells_[index(x, y)]; }
    int32_t at(int32_t x, int32_t y) const { return cells_[index(x, y)]; }
    // Cells (0, y) .. (size - 1, y).
    const int32_t* row(int32_t y) const { return cells_.data() + index(0, y); }

private:
    std::size_t index(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
               static_cast<std::size_t>(x);
    }

private:
    int32_t size_ = 0;
    std::vector<int32_t> cells_;
};

// The intensities under the system box on the last frame measured, kept to
// tell whether the next frame repeats it.
struct SystemBoxPatch {
    int32_t frame = -1; // none kept
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::vector<uint16_t> intensities; // row by row
};

// What a measuring method carries from one frame to the next of a run (a
// fitter with its buffers, say): each method's own type, derived from
// MethodStateOf<itself>.
class MethodState {
public:
    virtual ~MethodState() = default;
    virtual std::unique_ptr<MethodState> clone() const = 0;
};

template <class T> class MethodStateOf : public MethodState {
public:
    std::unique_ptr<MethodState> clone() const override {
        return std::make_unique<T>(static_cast<const T&>(*this));
    }
};

// The method state of one working state. It is made on the first frame a
// method measures, replaced when another method measures, and dropped when
// the run is reset (`cleardata`); a copied working state holds a copy of its
// own, so two runs, or one run and the copy a run keeps to measure a frame
// again, never share a fitter, whichever threads they run on.
class MethodStateSlot {
public:
    MethodStateSlot() = default;
    MethodStateSlot(const MethodStateSlot& other)
        : state_(other.state_ ? other.state_->clone() : nullptr) {}
    MethodStateSlot& operator=(const MethodStateSlot& other) {
        if (this != &other)
            state_ = other.state_ ? other.state_->clone() : nullptr;
        return *this;
    }
    MethodStateSlot(MethodStateSlot&&) noexcept = default;
    MethodStateSlot& operator=(MethodStateSlot&&) noexcept = default;
    ~MethodStateSlot() = default;

    // The state of type T, made afresh when the slot holds none or another's.
    template <class T> T& get() {
        if (T* held = dynamic_cast<T*>(state_.get()))
            return *held;
        auto made = std::make_unique<T>();
        T& ref = *made;
        state_ = std::move(made);
        return ref;
    }
    void reset() { state_.reset(); }

private:
    std::unique_ptr<MethodState> state_;
};

struct WorkingState {
    TStarbox PrimaryBox;
    TStarbox SecondaryBox;
    TStarbox SystemBox;
    SmoothedGridT SmoothedGrid;
    float YScale = 1.0f;
    // The sky level the method measuring the current frame takes off every
    // intensity (estimated around the system box where the frame starts);
    // the smoothing reads it too. 0 on a black sky.
    uint16_t SkyLevel = 0;
    // The sky's pixel noise there (one pixel's standard deviation, intensity
    // steps): how far above the sky light must stand to be a star's.
    double SkyNoise = 0;
    int32_t ExpectedDX = 0;
    int32_t ExpectedDY = 0;
    // Where the user clicked each star, from the system box centre at
    // selection. The star boxes settle on the light near a click, and on a
    // pair whose images overlap both settle on the blend; a fit of two stars
    // then starts from the clicks instead.
    int32_t PrimaryClickDX = 0, PrimaryClickDY = 0;
    int32_t SecondaryClickDX = 0, SecondaryClickDY = 0;
    int32_t PrimaryClickX = 0, PrimaryClickY = 0; // the primary click, kept until the secondary
    // Both stars' images fitted once on the selection frame (see
    // `fitSelection`): how far apart they are and how wide, in pixels; 0 when
    // the fit did not converge.
    double SelectionSeparationPx = 0;
    double SelectionDX = 0, SelectionDY = 0; // secondary minus primary
    double SelectionFwhmPx = 0;
    double SelectionFluxRatio = 0; // the secondary's light over the primary's
    // The sky's slope round the pair on the selection frame (0 on a flat
    // sky): the light circles take it off, as a sky level read beside one
    // star lies under the other tilted by it.
    SkySlope SelectionSkySlope;
    // The run's own first frames found the images closer than the fits part
    // them soundly, where the selection's one fit did not: from then on the
    // run fits them as a close pair (`imagesCloseForFits`).
    bool RunImagesClose = false;
    // One star followed by both boxes, for the drift's calibration alone:
    // the boxes meeting is what is asked for, not two stars merged.
    bool OneStar = false;
    FrameTable FrameData;
    SystemBoxPatch LastPatch;
    MethodStateSlot MethodRun;
};

// What measuring frame n changes in a working state, kept so that the frame
// can be measured again as if the first measuring had not happened: the
// boxes, the sky, the repeat check's patch, the method's carried state and
// row n of the table. The smoothed grid is not kept: every frame fills it
// afresh.
class MeasuringUndo {
public:
    void keep(const WorkingState& ws, int32_t frame);
    void restore(WorkingState& ws) const;

private:
    TStarbox primary_, secondary_, system_;
    uint16_t skyLevel_ = 0;
    double skyNoise_ = 0;
    SystemBoxPatch patch_;
    MethodStateSlot method_; // empty for the methods that carry none
    int32_t frame_ = -1;     // no row kept
    FrameRow row_;
};

} // namespace corvane
