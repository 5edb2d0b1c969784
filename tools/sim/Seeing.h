#pragma once
// The atmosphere and the camera of the seeing model (SeeingParams): phase
// screens made once per recording, and frame n rendered from them in any
// order. Rendering keeps FFT buffers, so one SeeingSim serves one thread.
#include "sim/DriftSim.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace corvane::sim {

struct SeeingFrame {
    int width = 0;
    int height = 0;
    // Light without noise, counts above the bias, row by row from the top:
    // the sky and both stars, scintillation and spoiling included, before
    // the camera's noise, hot pixels, quantisation and saturation.
    std::vector<float> light;
    // The centres are the centroids of each star's image (light falling
    // outside the frame included); a star without light keeps its nominal place.
    FrameTruth truth;
    bool spoiled = false; // dimmed by a cloud or smeared by a shake
};

class SeeingSim {
public:
    // Makes the screens and the FFT plans. Takes the parameters even with
    // p.seeing.enabled false (the model is then used all the same).
    // Throws corvane::Error naming a bad parameter.
    explicit SeeingSim(const DriftParams& p);
    ~SeeingSim();
    SeeingSim(const SeeingSim&) = delete;
    SeeingSim& operator=(const SeeingSim&) = delete;

    // Frame n with the stars' nominal places `nominal` (nominalTruth's frame n).
    SeeingFrame render(int64_t n, const FrameTruth& nominal);
    SeeingFrame render(int64_t n);
    // What the camera records of it: samples 0 .. 2^bits - 1 with noise,
    // bias, hot pixels and the mosaic's filters, clipped at white.
    std::vector<uint16_t> record(const SeeingFrame& f, int64_t n) const;

    double pxPerLambdaOverD() const;
    // Pupil samples across the aperture and the focal plane's FFT size.
    int pupilSamples() const;
    int fftSize() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Checks the seeing model's parameters (part of validate()).
void validateSeeing(const DriftParams& p);
// Writes DriftParams::frameCode's blocks into frame n's samples.
void drawFrameCode(std::vector<uint16_t>& samples, const DriftParams& p, int64_t n);

// Renders a recording's frames one after another for the writers: the
// Gaussian stars as renderSamples draws them, or the seeing model's made
// once; with seeing each frame's truth gets the centroids of its stars.
class FrameRenderer {
public:
    explicit FrameRenderer(const DriftParams& p);
    ~FrameRenderer();
    std::vector<uint16_t> samples(int64_t n, FrameTruth& f);

private:
    DriftParams p_;
    std::unique_ptr<SeeingSim> seeing_;
};

} // namespace corvane::sim
