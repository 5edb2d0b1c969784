#pragma once
// A model of both stars fitted to the pixels of a box by least squares: two
// round Gaussian images of one width, each with its own centre and light, on
// a flat sky. Close pairs whose images overlap, which a weighted centre
// cannot split, are measured this way; every centre comes with its
// standard error.
#include "measure/PlaneView.h"

#include <array>
#include <cstdint>
#include <vector>

namespace corvane {

// The narrowest star the fit accepts, Gaussian sigma in pixels: a star image
// must spread over more than one pixel for its centre to mean anything.
inline constexpr double kPsfMinSigmaPx = 0.3;
// Starting sigma when the caller has none: a seeing disc of 3 pixels FWHM.
inline constexpr double kPsfDefaultSigmaPx = 1.27;
// Full width at half maximum of a Gaussian, in sigmas.
inline constexpr double kFwhmPerSigma = 2.3548200450309493;

enum class PsfFitStatus {
    Converged,        // the solver converged and the result passed every check
    NotConverged,     // the solver stopped without converging
    NoLight,          // a star's light is not clearly above zero: it is not there
    CentreOutsideBox, // a centre left the box: the box does not hold that star
    TooClose,         // the centres lie within a quarter of the FWHM: one star fitted twice
    TooFewPixels,     // the box holds too few pixels of the plane near the starting centres
    BadStart          // a starting centre or the starting width is not a finite number
};

// Text for reports and messages, e.g. "centre outside the box".
const char* psfFitStatusText(PsfFitStatus status);

// A star's light counts as there when it is at least this many standard
// errors above zero. Merely positive is not enough: on a noisy sky a second
// image fitted to an empty patch comes out positive half the time.
inline constexpr double kPsfMinFluxErrors = 3.0;

struct PsfStar {
    double x = 0, y = 0; // centre, plane pixels (pixel centres are whole numbers)
    double flux = 0;     // total light above the sky, intensity steps times pixels
    double xError = 0, yError = 0, fluxError = 0; // standard errors

    bool lit() const { return flux > kPsfMinFluxErrors * fluxError; }
    // Whether the centre lies on the box [left, right) x [top, bottom), whose
    // area runs half a pixel beyond its first and last pixel centres.
    bool inside(int32_t left, int32_t top, int32_t right, int32_t bottom) const {
        return x >= left - 0.5 && y >= top - 0.5 && x <= right - 0.5 && y <= bottom - 0.5;
    }
};

struct PsfFitResult {
    PsfFitStatus status = PsfFitStatus::TooFewPixels;
    std::array<PsfStar, 2> stars;     // in the order of the starting centres
    double sigma = 0, sigmaError = 0; // shared Gaussian width, pixels
    double sky = 0, skyError = 0;     // flat sky level, intensity steps
    double residualSd = 0;            // scatter of the pixels about the model
    int32_t pixels = 0;               // pixels fitted
    int32_t iterations = 0;

    bool ok() const { return status == PsfFitStatus::Converged; }
    double fwhm() const { return sigma * kFwhmPerSigma; }
};

struct PsfFitStart {
    std::array<double, 2> x{}, y{}; // starting centres (the previous frame's fit, or the clicks)
    double sigma = 0;               // starting width; 0 or less: kPsfDefaultSigmaPx
};

// Fits the pixels [left, right) x [top, bottom) of the plane that lie near
// either starting centre (5 starting sigmas and 3 pixels); pixels of the box
// that lie off the plane are left out. Holds its working buffers, so one
// instance used frame after frame allocates little.
class PsfFit {
public:
    PsfFitResult fit(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                     int32_t bottom, const PsfFitStart& start);

private:
    void collectPixels(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, const PsfFitStart& start, double sigma);

    std::vector<int32_t> columns_, rows_; // position of each fitted pixel
    std::vector<double> values_;
    std::vector<double> skyValues_; // fitted pixels away from both stars
};

} // namespace corvane
