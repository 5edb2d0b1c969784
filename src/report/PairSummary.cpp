#include "report/PairSummary.h"

#include "common/Angles.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;

// The 95 % point of the chi-square distribution (Wilson and Hilferty's
// cube-root approximation, within 3 % of the tables from 1 degree of
// freedom up).
double chiSquare95(int dof) {
    const double k = dof;
    const double a = 2.0 / (9.0 * k);
    const double c = 1.0 - a + 1.6448536 * std::sqrt(a);
    return k * c * c * c;
}

// The regularised incomplete beta function I_x(a, b), by its continued
// fraction (modified Lentz).
double incompleteBeta(double a, double b, double x) {
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    if (x > (a + 1) / (a + b + 2))
        return 1 - incompleteBeta(b, a, 1 - x);
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                  a * std::log(x) + b * std::log1p(-x)) /
                         a;
    constexpr double kTiny = 1e-300;
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::fabs(d) < kTiny ? kTiny : d);
    double f = d;
    for (int m = 1; m < 300; ++m) {
        for (int step = 0; step < 2; ++step) {
            const double num = step == 0
                                   ? m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
                                   : -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
            d = 1 + num * d;
            d = 1 / (std::fabs(d) < kTiny ? kTiny : d);
            c = 1 + num / c;
            if (std::fabs(c) < kTiny)
                c = kTiny;
            f *= c * d;
            if (step == 1 && std::fabs(c * d - 1) < 1e-12)
                return front * f;
        }
    }
    return front * f;
}

// The distance, in standard deviations of `dof` degrees of freedom, beyond
// which Student's t lies as rarely as a normal value beyond kFlagSigma.
double flagLimit(int dof) {
    const double rare = std::erfc(kFlagSigma / std::sqrt(2.0));
    const auto beyond = [dof](double t) { // two-sided
        return incompleteBeta(dof / 2.0, 0.5, dof / (dof + t * t));
    };
    double lo = kFlagSigma, hi = 1e4;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (beyond(mid) > rare ? lo : hi) = mid;
    }
    return hi;
}

double weightedMean(const std::vector<double>& v, const std::vector<double>& w, bool circular) {
    double sw = 0, s = 0, c = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        sw += w[i];
        if (circular) {
            s += w[i] * std::sin(v[i] * kRad);
            c += w[i] * std::cos(v[i] * kRad);
        } else {
            s += w[i] * v[i];
        }
    }
    if (!circular)
        return s / sw;
    // A hair below 0 comes back as 360: north is 0.
    return wrapDegrees360(std::atan2(s, c) / kRad);
}

double deviation(double value, double mean, bool circular) {
    return circular ? wrapDegrees180(value - mean) : value - mean;
}

// The spread of one value about `mean`, n - 1 in the divisor.
double spread(const std::vector<double>& v, double mean, bool circular) {
    double squares = 0;
    for (double x : v) {
        const double d = deviation(x, mean, circular);
        squares += d * d;
    }
    return std::sqrt(squares / static_cast<double>(v.size() - 1));
}

std::string designationKey(const std::string& designation) {
    std::string key;
    for (unsigned char c : designation)
        if (!std::isspace(c))
            key += static_cast<char>(std::tolower(c));
    return key;
}

// Great-circle distance in arc-seconds.
double distanceArcsec(const SavedMeasure& a, const SavedMeasure& b) {
    const double ra1 = *a.raHours * 15.0 * kRad, ra2 = *b.raHours * 15.0 * kRad;
    const double d1 = *a.decDegrees * kRad, d2 = *b.decDegrees * kRad;
    const double h = std::pow(std::sin((d2 - d1) / 2), 2) +
                     std::cos(d1) * std::cos(d2) * std::pow(std::sin((ra2 - ra1) / 2), 2);
    return 2.0 * std::asin(std::min(1.0, std::sqrt(h))) / kRad * 3600.0;
}

bool hasPosition(const SavedMeasure& m) {
    return m.raHours && m.decDegrees;
}

std::size_t root(std::vector<std::size_t>& parent, std::size_t i) {
    while (parent[i] != i)
        i = parent[i] = parent[parent[i]];
    return i;
}

// The measurements that lie further from the others than kFlagSigma
// standard deviations would by chance. The others' SD comes from a few
// values: it is widened for a new value's distance from their mean, and the
// limit taken from Student's t, so that a pair of six measured with honest
// errors is not flagged every other time.
void flagOutliers(PairReport& pair) {
    const std::size_t n = pair.measures.size();
    if (n < kFlagMinOthers + 1)
        return;
    for (const bool circular : {true, false}) {
        std::vector<double> all;
        for (const SavedMeasure& m : pair.measures)
            all.push_back(circular ? m.positionAngle : m.separation);
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<double> others = all;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            const double mean =
                weightedMean(others, std::vector<double>(others.size(), 1.0), circular);
            const double sd = spread(others, mean, circular);
            const double d = std::fabs(deviation(all[i], mean, circular));
            const double m = static_cast<double>(others.size());
            const double limit =
                flagLimit(static_cast<int>(others.size()) - 1) * sd * std::sqrt(1 + 1 / m);
            if (sd > 0 && d > limit)
                pair.flags.push_back(Flag{i, circular ? "PA" : "sep", d / sd});
        }
    }
    std::sort(pair.flags.begin(), pair.flags.end(),
              [](const Flag& a, const Flag& b) { return a.measure < b.measure; });
}

} // namespace

const char* weightingName(Weighting w) {
    switch (w) {
    case Weighting::Errors:
        return "errors";
    case Weighting::Scatter:
        return "scatter";
    case Weighting::Single:
        return "single";
    }
    return "";
}

MeanValue combine(const std::vector<double>& values,
                  const std::vector<std::optional<double>>& stderrs, bool circular) {
    MeanValue out;
    const std::size_t n = values.size();
    if (n == 0)
        return out;
    if (n == 1) {
        out.mean = values[0];
        out.standardError = stderrs[0];
        out.weighting = Weighting::Single;
        return out;
    }
    const double plain = weightedMean(values, std::vector<double>(n, 1.0), circular);
    out.sd = spread(values, plain, circular);
    const bool allErrors = std::all_of(stderrs.begin(), stderrs.end(),
                                       [](const std::optional<double>& e) { return e && *e > 0; });
    if (allErrors) {
        std::vector<double> w;
        for (const std::optional<double>& e : stderrs)
            w.push_back(1.0 / (*e * *e));
        const double mean = weightedMean(values, w, circular);
        double chi2 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = deviation(values[i], mean, circular);
            chi2 += w[i] * d * d;
        }
        if (chi2 <= chiSquare95(static_cast<int>(n) - 1)) {
            out.mean = mean;
            out.standardError = 1.0 / std::sqrt(std::accumulate(w.begin(), w.end(), 0.0));
            out.weighting = Weighting::Errors;
            return out;
        }
    }
    out.mean = plain;
    out.standardError = *out.sd / std::sqrt(static_cast<double>(n));
    out.weighting = Weighting::Scatter;
    return out;
}

MeasureSummary summarise(const std::vector<const SavedMeasure*>& measures) {
    MeasureSummary s;
    s.count = static_cast<int32_t>(measures.size());
    if (measures.empty())
        return s;
    std::vector<double> pa, sep;
    std::vector<std::optional<double>> paErr, sepErr;
    double epochSum = 0, dmSum = 0;
    std::vector<std::string> methods;
    s.julianDate = measures[0]->julianDate;
    for (const SavedMeasure* m : measures) {
        pa.push_back(m->positionAngle);
        sep.push_back(m->separation);
        paErr.push_back(m->positionAngleStderr);
        sepErr.push_back(m->separationStderr);
        epochSum += m->epoch;
        s.julianDate = std::min(s.julianDate, m->julianDate);
        if (m->deltaMagnitude) {
            dmSum += *m->deltaMagnitude;
            ++s.deltaMagnitudeCount;
        }
        if (!m->method.empty() &&
            std::find(methods.begin(), methods.end(), m->method) == methods.end())
            methods.push_back(m->method);
    }
    s.epoch = epochSum / static_cast<double>(measures.size());
    s.positionAngle = combine(pa, paErr, true);
    s.separation = combine(sep, sepErr, false);
    if (s.deltaMagnitudeCount > 0)
        s.deltaMagnitude = dmSum / s.deltaMagnitudeCount;
    for (const std::string& m : methods)
        s.methods += (s.methods.empty() ? "" : ", ") + m;
    return s;
}

std::vector<PairReport> summarisePairs(const std::vector<SavedMeasure>& measures) {
    const std::size_t n = measures.size();
    std::vector<std::size_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    std::map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string key = designationKey(measures[i].designation);
        if (key.empty())
            continue;
        const auto [it, added] = byName.emplace(key, i);
        if (!added)
            parent[root(parent, i)] = root(parent, it->second);
    }
    // By declination, so that each position is compared only with those
    // whose declination lies within reach.
    std::vector<std::size_t> placed;
    for (std::size_t i = 0; i < n; ++i)
        if (hasPosition(measures[i]))
            placed.push_back(i);
    std::sort(placed.begin(), placed.end(), [&](std::size_t a, std::size_t b) {
        return *measures[a].decDegrees < *measures[b].decDegrees;
    });
    for (std::size_t a = 0; a < placed.size(); ++a)
        for (std::size_t b = a + 1; b < placed.size(); ++b) {
            const SavedMeasure& p = measures[placed[a]];
            const SavedMeasure& q = measures[placed[b]];
            if ((*q.decDegrees - *p.decDegrees) * 3600.0 > kSamePairArcsec)
                break;
            if (root(parent, placed[a]) != root(parent, placed[b]) &&
                distanceArcsec(p, q) <= kSamePairArcsec)
                parent[root(parent, placed[b])] = root(parent, placed[a]);
        }

    std::vector<PairReport> pairs;
    std::map<std::size_t, std::size_t> pairOfRoot;
    for (std::size_t i = 0; i < n; ++i) {
        const auto [it, added] = pairOfRoot.emplace(root(parent, i), pairs.size());
        if (added) {
            pairs.emplace_back();
            pairs.back().designation = measures[i].designation;
        }
        PairReport& p = pairs[it->second];
        p.measures.push_back(measures[i]);
        if (p.wdsId.empty() && hasPosition(measures[i]))
            p.wdsId = wdsIdentifier(*measures[i].raHours, *measures[i].decDegrees);
    }
    for (PairReport& p : pairs) {
        std::stable_sort(p.measures.begin(), p.measures.end(),
                         [](const SavedMeasure& a, const SavedMeasure& b) {
                             return a.julianDate < b.julianDate;
                         });
        std::vector<const SavedMeasure*> all;
        for (std::size_t i = 0; i < p.measures.size(); ++i) {
            all.push_back(&p.measures[i]);
            if (p.nights.empty() ||
                p.measures[i].julianDate - p.measures[p.nights.back().measures[0]].julianDate >
                    kNightDays)
                p.nights.emplace_back();
            p.nights.back().measures.push_back(i);
        }
        for (NightSummary& night : p.nights) {
            std::vector<const SavedMeasure*> these;
            for (std::size_t i : night.measures)
                these.push_back(&p.measures[i]);
            night.summary = summarise(these);
        }
        p.overall = summarise(all);
        flagOutliers(p);
    }
    return pairs;
}

std::string wdsIdentifier(double raHours, double decDegrees) {
    // A hair over the truncation point, so that a typed 52' 00" is not read
    // as 51.99999...'.
    constexpr double kHair = 1e-7;
    const long tenths = static_cast<long>(std::floor(raHours * 600.0 + kHair));
    const double size = std::fabs(decDegrees);
    const long arcmin = static_cast<long>(std::floor(size * 60.0 + kHair));
    char text[128];
    std::snprintf(text, sizeof text, "%02ld%02ld%ld%c%02ld%02ld", tenths / 600 % 24,
                  tenths / 10 % 60, tenths % 10, std::signbit(decDegrees) ? '-' : '+', arcmin / 60,
                  arcmin % 60);
    return text;
}

std::string dateOfJulianDate(double julianDate) {
    // Meeus, Astronomical Algorithms, chapter 7.
    const long z = static_cast<long>(std::floor(julianDate + 0.5));
    const long alpha = static_cast<long>((z - 1867216.25) / 36524.25);
    const long a = z + 1 + alpha - alpha / 4;
    const long b = a + 1524;
    const long c = static_cast<long>((b - 122.1) / 365.25);
    const long d = static_cast<long>(365.25 * c);
    const long e = static_cast<long>((b - d) / 30.6001);
    const long day = b - d - static_cast<long>(30.6001 * e);
    const long month = e < 14 ? e - 1 : e - 13;
    const long year = month > 2 ? c - 4716 : c - 4715;
    char text[80];
    std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld", year, month, day);
    return text;
}

} // namespace corvane
