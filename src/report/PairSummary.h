#pragma once
// The saved measurements combined the way observers publish them: grouped by
// pair, and within a pair by night, with the mean epoch, position angle and
// separation, their scatter and standard errors, and the measurements that
// stand apart from the rest of their pair.
#include "report/MeasureList.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// Two measurements are of one pair when their designations match without
// regard to case and blanks, or when their typed positions lie this close.
inline constexpr double kSamePairArcsec = 30.0;
// Measurements of one pair within this many days of a night's first belong
// to that night.
inline constexpr double kNightDays = 0.5;
// A measurement this many standard deviations from the others of its pair
// is flagged (not left out); for a few others, as far as is as rare by
// chance (Student's t).
inline constexpr double kFlagSigma = 3.0;
// The fewest other measurements whose scatter can judge one.
inline constexpr std::size_t kFlagMinOthers = 3;

// How a mean and its standard error were formed.
enum class Weighting {
    Errors,  // weighted by 1 / stderr^2: the spread agrees with the errors
    Scatter, // plain mean, error from the spread (errors missing or too small)
    Single,  // one measurement: its own error, when it has one
};
const char* weightingName(Weighting w); // "errors", "scatter", "single"

struct MeanValue {
    double mean = 0;
    std::optional<double> sd;            // of one measurement; none for one alone
    std::optional<double> standardError; // of the mean
    Weighting weighting = Weighting::Scatter;
};

struct MeasureSummary {
    int32_t count = 0;
    double epoch = 0;        // mean Besselian epoch
    double julianDate = 0;   // of the first measurement
    MeanValue positionAngle; // degrees, 0 <= mean < 360, the circular mean
    MeanValue separation;    // arc-seconds
    std::optional<double> deltaMagnitude;
    int32_t deltaMagnitudeCount = 0;
    std::string methods; // those used, in the order first met, ", " between
};

struct Flag {
    std::size_t measure = 0; // index into the pair's measures
    std::string quantity;    // "PA" or "sep"
    double sigmas = 0;       // its distance from the others' mean in their SDs
};

struct NightSummary {
    std::vector<std::size_t> measures; // indexes into the pair's measures
    MeasureSummary summary;
};

struct PairReport {
    std::string designation;            // the first typed one
    std::string wdsId;                  // empty without a typed position
    std::vector<SavedMeasure> measures; // in time order
    std::vector<NightSummary> nights;
    MeasureSummary overall;
    std::vector<Flag> flags;
};

// Every pair of `measures`, in the order of their first measurement in the
// list.
std::vector<PairReport> summarisePairs(const std::vector<SavedMeasure>& measures);

// The statistics of a set of measurements (see Weighting).
MeasureSummary summarise(const std::vector<const SavedMeasure*>& measures);

// A mean of values with optional standard errors: weighted by the errors
// when every value has one and the chi-square of the values about the
// weighted mean is within what chance gives 95 times in 100; otherwise the
// plain mean with the error from the spread. `circular`: degrees on a circle.
MeanValue combine(const std::vector<double>& values,
                  const std::vector<std::optional<double>>& stderrs, bool circular);

// The WDS identifier of a J2000 position, "HHMMm+DDMM", every field
// truncated: 19h05m33s +33 52 40 gives "19055+3352" (a negative zero
// declination, typed "-00 10", keeps its sign).
std::string wdsIdentifier(double raHours, double decDegrees);

// The UT calendar date of a Julian date, "YYYY-MM-DD".
std::string dateOfJulianDate(double julianDate);

} // namespace corvane
