#pragma once
// A model of both stars fitted to the pixels of a box by weighted least
// squares: two round star images, each with its own centre and light, on a
// flat sky. The image is a Gaussian or a Moffat profile (its wing steepness
// beta fitted), whichever explains the run's first frames better; both stars
// share one width unless both are bright enough to tell their own. Each
// pixel is weighed by its noise (the sky's scatter plus the photon noise of
// the light on it). Close pairs whose images overlap, which a weighted
// centre cannot split, are measured this way; every centre comes with its
// standard error.
#include "measure/NoiseModel.h"
#include "measure/PlaneView.h"
#include "measure/Scratch.h"

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
    BadStart,         // a starting centre or the starting width is not a finite number
    SecondaryAtReach  // the second star's centre met the bound of its reach
};

// Text for reports and messages, e.g. "centre outside the box".
const char* psfFitStatusText(PsfFitStatus status);

// The star image's profile.
enum class PsfProfile {
    Gaussian, // exp(-r^2 / 2 sigma^2), integrated over each pixel
    Moffat    // (1 + r^2 / alpha^2)^-beta, at each pixel's centre: a seeing disc's wider wings
};

// A star's light counts as there when it is at least this many standard
// errors above zero. Merely positive is not enough: on a noisy sky a second
// image fitted to an empty patch comes out positive half the time.
inline constexpr double kPsfMinFluxErrors = 3.0;

struct PsfStar {
    double x = 0, y = 0; // centre, plane pixels (pixel centres are whole numbers)
    double flux = 0;     // total light above the sky, intensity steps times pixels
    double xError = 0, yError = 0, fluxError = 0; // standard errors
    double width = 0; // the profile's width: Gaussian sigma or Moffat alpha, pixels

    bool lit() const { return flux > kPsfMinFluxErrors * fluxError; }
    // Whether the centre lies on the box [left, right) x [top, bottom), whose
    // area runs half a pixel beyond its first and last pixel centres.
    bool inside(int32_t left, int32_t top, int32_t right, int32_t bottom) const {
        return x >= left - 0.5 && y >= top - 0.5 && x <= right - 0.5 && y <= bottom - 0.5;
    }
};

struct PsfFitResult {
    PsfFitStatus status = PsfFitStatus::TooFewPixels;
    std::array<PsfStar, 2> stars; // in the order of the starting centres
    PsfProfile profile = PsfProfile::Gaussian;
    double beta = 0;                  // Moffat's wing steepness (0 for a Gaussian)
    bool ownWidths = false;           // each star fitted with its own width
    double sigma = 0, sigmaError = 0; // the first star's width as a Gaussian sigma (FWHM / 2.355)
    double sky = 0, skyError = 0;     // flat sky level, intensity steps
    double fluxRatio = 0, fluxRatioError = 0; // second star's light over the first's
    // The second star's centre less the first's, standard errors along x
    // and y: the centres' errors are correlated where the images overlap.
    double offsetXError = 0, offsetYError = 0;
    double residualSd = 0;       // scatter of the pixels about the model
    double reducedChiSquare = 0; // of the weighted residuals
    NoiseModel noise;            // the weights' noise model
    int32_t pixels = 0;          // pixels fitted
    int32_t iterations = 0;

    bool ok() const { return status == PsfFitStatus::Converged; }
    double fwhm() const { return sigma * kFwhmPerSigma; }
};

struct PsfFitStart {
    std::array<double, 2> x{}, y{}; // starting centres (the previous frame's fit, or the clicks)
    // Starting width (Gaussian sigma); 0 or less: the last frame's fit, or
    // kPsfDefaultSigmaPx on the first.
    double sigma = 0;
    // Noise model: 0 estimates it (the sky's scatter round the stars, the
    // photon noise from the fits' residuals over the frames fitted).
    double readNoise = 0; // steps
    double gain = 0;      // electrons per step
    // How far (pixels, along x and along y) the second star's centre may
    // move from its start; 0 or less: anywhere. A faint star's fit held
    // there cannot walk onto its neighbour or into the sky.
    double secondaryReach = 0;
};

// Fits the pixels [left, right) x [top, bottom) of the plane that lie near
// either starting centre (5 starting sigmas and 3 pixels); pixels of the box
// that lie off the plane are left out. One instance serves one run: it holds
// its working buffers (so frame after frame it allocates little), the
// profile and widths the run's first frames chose, the last widths as the
// next start, and the photon noise learnt so far.
class PsfFit {
public:
    PsfFitResult fit(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                     int32_t bottom, const PsfFitStart& start);

private:
    struct Solved;
    void collectPixels(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, const PsfFitStart& start, double sigma);
    Solved solve(PsfProfile profile, bool ownWidths, const double* start, int32_t width,
                 int32_t height, double secondaryReach);
    void learnNoise(PsfProfile profile, bool ownWidths, const double* params, int32_t width,
                    int32_t height, const NoiseModel& noise);

    // The frame's fitted pixels and what the fit works out on them.
    struct Buffers {
        std::vector<int32_t> columns, rows; // position of each fitted pixel
        std::vector<double> values;
        std::vector<double> skyValues; // fitted pixels away from both stars
        std::vector<double> light;     // starlight round each pixel, for its weight
        std::vector<double> invSd;     // 1 / each pixel's noise
        std::vector<double> residuals, widthColumns, mainRows;
        std::vector<double> axes; // the Gaussian's shares along x and y
        // Moffat's power of each pixel's distance to each star, which the
        // solver asks for twice at one point (its cost, then its slopes), and
        // the star's centre, width and beta it was worked out for.
        std::vector<double> power, logQ;
        std::array<std::array<double, 4>, 2> powerAt{};
        std::array<bool, 2> powerKnown{};
    };
    Scratch<Buffers> buffers_;

    // What the run's first frames decided.
    int32_t choiceFrames_ = 0;
    double gaussianScore_ = 0, moffatScore_ = 0;
    int32_t brightFrames_ = 0;
    bool overlapKnown_ = false, overlapping_ = false; // from the run's first frame
    double lastSigma_ = 0, lastBeta_ = 0;
    PhotonNoiseEstimate photonNoise_;
};

} // namespace corvane
