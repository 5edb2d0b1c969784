#pragma once
// The secondary fitted as a copy of the primary's own image in the same
// frame: the primary's box, sky taken off, is the model of the secondary,
// scaled by the flux ratio and shifted by the offset between the stars, on
// the local sky. Both stars passed through nearly the same air, so whatever
// shape the seeing gave the primary on this frame the secondary shares; no
// profile is assumed, and a faint companion is not pulled by the primary's
// halo the way a centre of light is.
#include "measure/NoiseModel.h"
#include "measure/PlaneView.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

enum class TemplateFitStatus {
    Converged,    // the solver converged and the result passed every check
    NotConverged, // the solver stopped without converging, or the fit has no unique minimum
    NoLight,      // the secondary's light is not clearly above zero
    OutsideBox,   // the secondary left the box it was looked for in
    TooClose,     // the offset is under a pixel: one image fitted against itself
    TooFewPixels, // too few usable pixels around the secondary (off the plane or clipped)
    BadStart      // a starting centre is not a finite number, or the box is too small
};

// Text for reports and messages, e.g. "secondary outside its box".
const char* templateFitStatusText(TemplateFitStatus status);

// The secondary's light counts as there when the ratio is at least this many
// standard errors above zero (as for the PSF fit's stars).
inline constexpr double kTemplateMinRatioErrors = 3.0;
// The smallest box that holds a star image and the interpolation's reach.
inline constexpr int32_t kTemplateMinBox = 8;

struct TemplateFitStart {
    double primaryX = 0, primaryY = 0;     // where the primary is expected, plane pixels
    double secondaryX = 0, secondaryY = 0; // where the secondary is expected
    int32_t box = 20;                      // side of the primary's and the secondary's boxes
    // Noise model of a pixel: variance = readNoise^2 + light above the sky / gain,
    // in intensity steps. readNoise 0: the sky's own scatter around the
    // boxes (read noise and the sky's photons together). gain 0 (electrons
    // per step): estimated from how the stars' pixels scatter about the fit,
    // pooled over the frames one instance fits.
    double readNoise = 0;
    double gain = 0;
};

struct TemplateFitResult {
    TemplateFitStatus status = TemplateFitStatus::BadStart;
    // Primary: the centre of light of its cleaned template; secondary: the
    // primary plus the fitted offset. Plane pixels.
    double primaryX = 0, primaryY = 0, secondaryX = 0, secondaryY = 0;
    double offsetX = 0, offsetY = 0;           // secondary minus primary, pixels
    double offsetXError = 0, offsetYError = 0; // standard errors, from the fit's covariance
    double offsetCorrelation = 0;              // between the two offset errors
    double ratio = 0, ratioError = 0;          // secondary's light over the primary's
    double sky = 0;                            // level taken off the template, steps
    double readNoise = 0, gain = 0;            // the noise model used (given or estimated)
    int32_t pixels = 0;                        // pixels fitted
    int32_t iterations = 0;                    // rounds of fitting and cleaning the template
    double reducedChiSquare = 0;
    // The primary's image width (FWHM, pixels) in this frame; NaN where its
    // core is clipped.
    double primaryFwhm = std::numeric_limits<double>::quiet_NaN();

    bool ok() const { return status == TemplateFitStatus::Converged; }
    // -2.5 log10 ratio and its standard error; 0 and infinity without light.
    double deltaMag() const;
    double deltaMagError() const;
};

// Fits one frame. Holds its working buffers, so one instance used frame
// after frame allocates little; one instance serves one thread.
class TemplateFit {
public:
    TemplateFit() = default;
    // A copy (a run keeps one of its method state to measure a frame again)
    // takes what the frames taught, the photon noise, and none of the
    // working buffers, which every fit fills afresh.
    TemplateFit(const TemplateFit& other) : photonNoise_(other.photonNoise_) {}
    TemplateFit& operator=(const TemplateFit& other) {
        photonNoise_ = other.photonNoise_;
        return *this;
    }
    TemplateFit(TemplateFit&&) noexcept = default;
    TemplateFit& operator=(TemplateFit&&) noexcept = default;
    ~TemplateFit() = default;

    TemplateFitResult fit(const PlaneView& plane, const TemplateFitStart& start);

private:
    bool buildTemplate(const PlaneView& plane);
    void cleanTemplate(double ratio, double dx, double dy);
    void measureHalo(const PlaneView& plane, double dx, double dy);
    double haloAt(double x, double y) const;
    void centreOfLight(double floor);
    void coarseStart(const PlaneView& plane, double* params);
    bool nearerPrimary(int32_t x, int32_t y, double dx, double dy) const;
    void collectPixels(const PlaneView& plane, double dx, double dy);
    double imageWidth() const;

    int32_t side_ = 0, pad_ = 0, stride_ = 0;
    int32_t left_ = 0, top_ = 0;              // plane position of the template's first pixel
    std::vector<double> raw_, template_;      // light above the sky, padded with zeros
    std::vector<uint8_t> usable_, cleanable_; // not clipped, and not depending on clipped pixels
    bool clipped_ = false;                    // the primary's box holds clipped pixels
    std::vector<double> scratch_;
    std::vector<double> haloSum_; // the primary's mean light in rings one pixel wide
    std::vector<int32_t> haloCount_;
    std::vector<double> halo_; // the primary's light at each fitted pixel
    double sky_ = 0;
    double primaryX_ = 0, primaryY_ = 0; // expected primary
    // The fitted pixels round the secondary.
    std::vector<int32_t> columns_, rows_;
    std::vector<double> values_, dataVariance_, copyVariance_, light_, templateLight_, residuals_;
    std::vector<double> jacobianData_, pull_;
    std::vector<double> copyRows_, copySlopes_; // the shifted copy, filtered along x
    std::vector<int32_t> cells_; // each compared pixel's place in the template, unshifted
    // The photon noise learnt over the frames this instance fitted.
    PhotonNoiseEstimate photonNoise_;
};

} // namespace corvane
