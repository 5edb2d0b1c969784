#pragma once
// A refusal whose message quotes a number the reduction found or was given
// (a declination, a pixel scale, an outlier limit). The reduction gives the
// reason and the number; the session, which writes every text the user sees,
// writes the message (refusalText), so the reduction deals in numbers only.
#include "common/Error.h"

namespace corvane {

enum class RefusalReason {
    None = 0,
    DeclinationBeyondRange, // a calibration's declination beyond +-90
    DeclinationAtPole,      // a drift calibration at or beyond +-90
    DriftTooSlow,           // the drift gives more pixels per arc-second than a camera has
    ScaleBelowLowest,       // the drift gives fewer pixels per arc-second than a camera has
    ClipLimitTooSmall,      // an outlier limit that is no number of at least kMinClipSigma
};

struct Refusal {
    RefusalReason reason = RefusalReason::None;
    double value = 0; // the declination, pixel scale or limit the reason is about
};

// Thrown with the numbers. Still a corvane::Error, so a caller that does not
// write the message itself still reports a failure, never a result.
class RefusalError : public Error {
public:
    explicit RefusalError(Refusal r) : Error("The reduction refused its input."), refusal(r) {}
    Refusal refusal;
};

} // namespace corvane
