#include "reduce/Statistics.h"

#include "reduce/Reduction.h"
#include "reduce/ReductionSteps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace corvane {

namespace {

// How long the error of one frame lasts, in frames: the correlation time
// tau = 1 + 2 (rho_1 + rho_2 + ...) of a per-frame series, rho_k being its
// autocorrelation k accepted frames apart. n frames are then worth n / tau
// independent ones, and the mean's standard error is sd / sqrt(n / tau).
//
// Why the correlation time rather than a block jackknife over contiguous runs
// of frames: the jackknife needs blocks longer than the correlation and many
// of them, which a run of 16 to a few hundred frames cannot give both of, so
// its error of the error is large; it also changes the figure of frames that
// are not correlated at all. The correlation time needs no block length,
// leaves such frames counted exactly as before, and carries over to the pixel
// scale, whose twelve pairs are far too few to show their own correlation.
//
// The sum runs over pairs of lags, (1 + rho_1), (rho_2 + rho_3), ..., while a
// pair's sum stays positive and no larger than the pair before it: for any
// steady series the true pairs are positive and falling, so where the
// estimates stop being so they are noise. It is taken only when rho_1 stands
// clear of the spread an independent series gives it (2 / sqrt(n)); frames
// that show no correlation keep tau = 1.
struct Correlation {
    long double tau = 1;
    std::vector<long double> rho; // rho[k - 1]: lag k, for the lags summed
};

Correlation correlationOf(const std::vector<long double>& values) {
    Correlation c;
    const std::size_t n = values.size();
    if (n < 4)
        return c;
    long double mean = 0;
    for (const long double v : values)
        mean += v;
    mean /= static_cast<long double>(n);
    std::vector<long double> d;
    d.reserve(n);
    long double c0 = 0;
    for (const long double v : values) {
        d.push_back(v - mean);
        c0 += d.back() * d.back();
    }
    if (!(c0 > 0.0L))
        return c;
    const auto rhoAt = [&](std::size_t k) {
        long double sum = 0;
        for (std::size_t i = 0; i + k < n; ++i)
            sum += d[i] * d[i + k];
        return sum / c0;
    };
    const long double rho1 = rhoAt(1);
    if (!(rho1 > 2.0L / std::sqrt(static_cast<long double>(n))))
        return c;
    long double tau = 1.0L + 2.0L * rho1;
    long double previousPair = 1.0L + rho1;
    c.rho.push_back(rho1);
    for (std::size_t k = 2; k + 1 < n / 2; k += 2) {
        const long double even = rhoAt(k), odd = rhoAt(k + 1);
        const long double pair = even + odd;
        if (!(pair > 0.0L) || pair > previousPair)
            break;
        tau += 2.0L * pair;
        previousPair = pair;
        c.rho.push_back(even);
        c.rho.push_back(odd);
    }
    // Correlations measured about the series' own mean come out low by about
    // (1 - rho_k) tau / n each, the mean having taken up part of every
    // deviation; summed over the lags taken, tau is low by the share below.
    long double shortfall = 0;
    for (const long double r : c.rho)
        shortfall += 2.0L * (1.0L - r) / static_cast<long double>(n);
    tau /= std::max(1.0L - shortfall, 0.5L);
    // A series cannot be worth less than one frame.
    c.tau = std::min(tau, static_cast<long double>(n));
    return c;
}

// Values whose errors last tau frames scatter less about their own mean
// than about the truth: their variance about the mean is (n - tau) / (n - 1)
// of one value's. The factor that undoes it on a standard deviation; 1 for
// independent values.
long double scatterShrink(long double n, long double tau) {
    if (tau == 1.0L)
        return 1.0L;
    return std::sqrt((n - 1.0L) / std::max(n - tau, 1.0L));
}

// The scatter of values whose errors last `tau` frames.
Scatter scatterOf(const std::vector<long double>& values, long double tau) {
    const long double n = static_cast<long double>(values.size());
    if (values.size() < 2)
        return {};
    long double mean = 0;
    for (const long double v : values)
        mean += v;
    mean /= n;
    long double squares = 0;
    for (const long double v : values)
        squares += (v - mean) * (v - mean);
    const long double effective = n / tau;
    Scatter s;
    s.sd = static_cast<double>(std::sqrt(squares / (n - 1.0L)));
    s.stderrOfMean = static_cast<double>(s.sd / std::sqrt(effective) * scatterShrink(n, tau));
    s.effectiveFrames = static_cast<double>(effective);
    return s;
}

// The same for the weighted mean (no weights: the plain one). The sd stays
// one frame's plain scatter; the mean's error is the spread of the weighted
// deviations, which holds whether or not the weights are right, with the
// frames counted as the plain mean counts them.
Scatter weightedScatterOf(const std::vector<long double>& values,
                          const std::vector<long double>& weights, long double tau) {
    Scatter s = scatterOf(values, tau);
    if (weights.empty() || values.size() < 2)
        return s;
    const long double n = static_cast<long double>(values.size());
    const long double mean = detail::weightedMean(values, weights);
    long double total = 0, squares = 0, weightSquares = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        total += weights[i];
        weightSquares += weights[i] * weights[i];
        squares += weights[i] * weights[i] * (values[i] - mean) * (values[i] - mean);
    }
    s.stderrOfMean = static_cast<double>(std::sqrt(squares * n / (n - 1.0L) * tau) / total *
                                         scatterShrink(n, tau));
    s.effectiveFrames = static_cast<double>(total * total / weightSquares / tau);
    return s;
}

// The primary's positions about a steady straight drift fitted against time,
// split along the drift (what moves the pixel scale) and across it (what
// turns the drift direction), in accepted-frame order.
struct TrackResiduals {
    std::vector<long double> along, across;
};

// The primary's track against time: the means and the sums of the least
// squares line x = x0 + vx t, y = y0 + vy t (vx = stx / stt, vy = sty / stt).
struct DriftLine {
    long double tm = 0, xm = 0, ym = 0;
    long double stt = 0, stx = 0, sty = 0;
};

DriftLine fitDriftLine(const std::vector<const PairPosition*>& rows) {
    DriftLine d;
    if (rows.empty())
        return d;
    const long double n = static_cast<long double>(rows.size());
    for (const PairPosition* r : rows) {
        d.tm += detail::timeMs(*r);
        d.xm += r->PrimaryX;
        d.ym += r->PrimaryY;
    }
    d.tm /= n;
    d.xm /= n;
    d.ym /= n;
    for (const PairPosition* r : rows) {
        const long double dt = detail::timeMs(*r) - d.tm;
        d.stt += dt * dt;
        d.stx += dt * (r->PrimaryX - d.xm);
        d.sty += dt * (r->PrimaryY - d.ym);
    }
    return d;
}

TrackResiduals primaryResiduals(const std::vector<const PairPosition*>& rows) {
    const DriftLine line = fitDriftLine(rows);
    const long double tm = line.tm, xm = line.xm, ym = line.ym;
    const long double stt = line.stt, stx = line.stx, sty = line.sty;
    TrackResiduals out;
    const long double speed = std::hypot(stx, sty);
    if (!(stt > 0.0L) || !(speed > 0.0L))
        return out;
    const long double vx = stx / stt, vy = sty / stt;
    const long double ux = stx / speed, uy = sty / speed;
    for (const PairPosition* r : rows) {
        const long double dt = detail::timeMs(*r) - tm;
        const long double rx = (r->PrimaryX - xm) - vx * dt;
        const long double ry = (r->PrimaryY - ym) - vy * dt;
        out.along.push_back(rx * ux + ry * uy);
        out.across.push_back(ry * ux - rx * uy);
    }
    return out;
}

// The magnitude difference from the mean flux ratio, converted once: a
// frame's ratio carries noise added to the light, alike on both sides, so
// its mean is unbiased, while the logarithm of a faint companion's noisy
// ratio is biased faint and undefined for a ratio at or below 0. The
// ratio's standard error counts the frames as the separation's does. A
// frame without a ratio (its primary's light clipped at white) is left out:
// the others' ratios do not depend on it. The accepted frames and those
// rejected for the secondary's fit alone count (RatioOnly).
void magnitudeDifference(const PairPositions& table, ReductionStatistics& s) {
    std::vector<long double> ratios;
    for (const PairPosition& r : table)
        if ((r.Valid || r.RatioOnly) && std::isfinite(r.FluxRatio))
            ratios.push_back(r.FluxRatio);
    if (ratios.size() < 2)
        return;
    long double mean = 0;
    for (const long double v : ratios)
        mean += v / static_cast<long double>(ratios.size());
    if (!(mean > 0.0L))
        return;
    const Scatter scatter = scatterOf(ratios, correlationOf(ratios).tau);
    s.deltaMag = static_cast<double>(-2.5L * std::log10(mean));
    s.deltaMagStderr = 2.5 / std::log(10.0) * scatter.stderrOfMean / static_cast<double>(mean);
}

// The accepted frames' own scatter: separation and screen angle.
ReductionStatistics frameStatistics(const std::vector<const PairPosition*>& rows) {
    ReductionStatistics s;
    s.framesAccepted = static_cast<int32_t>(rows.size());
    s.framesEffective = static_cast<double>(rows.size());
    const std::vector<long double> seps = detail::separations(rows);
    const std::vector<long double> angles = detail::screenAngles(rows);
    s.separationPx =
        weightedScatterOf(seps, detail::frameWeights(rows, seps, &PairPosition::SepPixelsError),
                          correlationOf(seps).tau);
    s.screenAngle = weightedScatterOf(
        angles, detail::frameWeights(rows, angles, &PairPosition::ScreenAngleError),
        correlationOf(angles).tau);
    for (const Scatter* series : {&s.separationPx, &s.screenAngle})
        if (series->effectiveFrames > 0)
            s.framesEffective = std::min(s.framesEffective, series->effectiveFrames);
    return s;
}

// The position angle is computed from the screen angle as shown, rounded to
// 0.01 degrees: a uniform error of that width, sd 0.01 / sqrt(12).
constexpr double kShownAngleRoundingSd = 0.0028867513459481287;

// The separation is the mean separation in pixels over the scale; the
// position angle the mean screen angle less the drift direction (a mirror
// only changes the sign). The errors of the frames, of the scale and of the
// drift direction are independent, so they add in quadrature.
void propagate(ReductionStatistics& s, double separationArcsec, double pixelScale) {
    s.pixelScaleRelativeStderr = s.pixelScaleStderr / pixelScale;
    const double fromFrames = s.separationPx.stderrOfMean / pixelScale;
    s.separationStderrFromScale = separationArcsec * s.pixelScaleRelativeStderr;
    s.separationStderr = std::hypot(fromFrames, s.separationStderrFromScale);
    s.positionAngleStderrFromDrift = s.driftAngleStderr;
    s.positionAngleStderr = std::sqrt(s.screenAngle.stderrOfMean * s.screenAngle.stderrOfMean +
                                      s.driftAngleStderr * s.driftAngleStderr +
                                      kShownAngleRoundingSd * kShownAngleRoundingSd);
}

// Median of |x| over the standard deviation for a normal variable.
constexpr long double kMedianPerSd = 0.6744897501960817L;

// The primary's positions around x = x0 + vx t, y = y0 + vy t (least squares
// in time), in the rows' order.
std::vector<DriftResidual> residualsOf(const std::vector<const PairPosition*>& rows) {
    const std::size_t n = rows.size();
    std::vector<DriftResidual> out;
    if (n == 0)
        return out;
    const DriftLine line = fitDriftLine(rows);
    const long double tm = line.tm, xm = line.xm, ym = line.ym;
    const long double stt = line.stt, stx = line.stx, sty = line.sty;
    const long double vx = stt > 0.0L ? stx / stt : 0.0L;
    const long double vy = stt > 0.0L ? sty / stt : 0.0L;
    for (const PairPosition* r : rows) {
        const long double dt = detail::timeMs(*r) - tm;
        out.push_back({r->FrameNo, static_cast<double>((r->PrimaryX - xm) - vx * dt),
                       static_cast<double>((r->PrimaryY - ym) - vy * dt)});
    }
    return out;
}

// The rms residual of the primary's track and the frame-to-frame scatter, per axis.
void driftFit(const std::vector<const PairPosition*>& rows, ReductionStatistics& s) {
    const std::size_t n = rows.size();
    const std::vector<DriftResidual> residuals = residualsOf(rows);
    long double squares = 0, prevX = 0, prevY = 0;
    std::vector<long double> steps;
    for (std::size_t i = 0; i < n; ++i) {
        const long double rx = residuals[i].x;
        const long double ry = residuals[i].y;
        squares += rx * rx + ry * ry;
        if (i > 0) {
            steps.push_back(std::fabs(rx - prevX));
            steps.push_back(std::fabs(ry - prevY));
        }
        prevX = rx;
        prevY = ry;
    }
    // Two axes, each fitted line using two degrees of freedom.
    s.driftResidualPx =
        static_cast<double>(std::sqrt(squares / (2.0L * (static_cast<long double>(n) - 2.0L))));
    // The median of the successive differences, so that the few steps at a
    // jump do not raise the scatter they are compared with; a difference of
    // two independent normal residuals has sqrt(2) times their deviation, and
    // its median magnitude is 0.6745 times that.
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    s.driftFrameScatterPx = static_cast<double>(*middle / (kMedianPerSd * std::sqrt(2.0L)));
}

// Slow image motion: a model of how far a track's errors drift apart with
// time, for the errors of the pixel scale and the drift direction.
//
// Both are contrasts of the track: the scale is the primary's place late in
// the run less its place early, the drift direction its place across the
// track at one end less at the other. A contrast's variance needs only the
// semivariogram of the errors, g(k) = half the mean square difference of two
// errors k frames apart: var(sum w_i e_i) = -sum_ij w_i w_j g(|i - j|) when
// the weights add up to 0. The errors' own variance, which image motion
// slower than the run makes unknowable, never enters.
//
// The semivariogram is taken as a white part (noise, and motion faster than
// a frame) and two parts that level off: the image motion of turbulence
// blown across the aperture, and a slower wander of the eddies larger than
// the aperture, which the turbulence's outer scale ends. Each part's range
// is picked from a grid by the best fit, the slow one no longer than the
// lags the fit sees: a growth the residuals cannot show is not carried on
// over the rest of the run. Only the residuals about the fitted drift are
// seen, and the fit takes up the slow part of the motion, most at long lags;
// so the model is fitted to what it would leave in the residuals (worked out
// exactly for the straight-line fit against frame number), not to the
// residuals' own semivariogram. The amounts follow by least squares, none
// below 0. The atmosphere moves the images alike along the track and across
// it, so the model is fitted to both axes' residuals together: a slow
// wander shows in a run only a few times, and one axis alone often fits it
// too short.
//
// A part growing in proportion to the lag, used before in place of the slow
// one, was never negative and barely showed about the fitted drift, so
// noise gave it a slope in half the runs and the run's length multiplied
// it. The simulator's image motion through D/r0 4 levels off within 30
// frames and stays level to 150; on Weighted Average's tracks of 40 of its
// runs of 200 frames the pixel scale's errors were 0.74 times that model's
// figure and the drift direction's 0.59 times; with the slow part
// levelling off they are 0.97 and 0.80.
struct Variogram {
    long double white = 0, sill = 0, range = 1, slowSill = 0, slowRange = 1;
};

// The semivariogram at lags 1..lags that errors of semivariogram g leave in
// the residuals of n frames about a straight line fitted against frame
// number. With P the projection on the line's two directions u (orthonormal:
// constant and centred frame number) and G the matrix g(|a - b|), the
// residuals' covariance is -(I - P) G (I - P), which the sums below expand;
// G u comes from running sums of g(k) and k g(k).
std::vector<long double> residualVariogram(const std::vector<long double>& g, std::size_t n,
                                           std::size_t lags) {
    const long double nn = static_cast<long double>(n), centre = (nn - 1.0L) / 2.0L;
    long double spread = 0;
    for (std::size_t a = 0; a < n; ++a)
        spread += (a - centre) * (a - centre);
    spread = std::sqrt(spread);
    std::vector<long double> sum(n, 0.0L), moment(n, 0.0L); // S(m), T(m): k = 1..m
    for (std::size_t m = 1; m < n; ++m) {
        sum[m] = sum[m - 1] + g[m];
        moment[m] = moment[m - 1] + static_cast<long double>(m) * g[m];
    }
    std::vector<std::array<long double, 2>> u(n), z(n);
    for (std::size_t a = 0; a < n; ++a) {
        const long double both = sum[a] + sum[n - 1 - a];
        const long double offset = static_cast<long double>(a) - centre;
        u[a] = {1.0L / std::sqrt(nn), offset / spread};
        z[a] = {both / std::sqrt(nn), (offset * both - moment[a] + moment[n - 1 - a]) / spread};
    }
    long double h[2][2] = {{0, 0}, {0, 0}};
    for (std::size_t a = 0; a < n; ++a)
        for (int j = 0; j < 2; ++j)
            for (int l = 0; l < 2; ++l)
                h[j][l] += u[a][j] * z[a][l];
    // Running sums of f[a] and a f[a] (first m terms at [m]), from which
    // every lag's sums over the pairs (a, a + k) follow in a few steps.
    struct Running {
        std::vector<long double> plain, moment;
    };
    const auto running = [n](const auto& f) {
        Running r{std::vector<long double>(n + 1, 0.0L), std::vector<long double>(n + 1, 0.0L)};
        for (std::size_t a = 0; a < n; ++a) {
            r.plain[a + 1] = r.plain[a] + f(a);
            r.moment[a + 1] = r.moment[a] + static_cast<long double>(a) * f(a);
        }
        return r;
    };
    const long double q = 1.0L / std::sqrt(nn);
    // (PG + GP - PGP) on the diagonal, and z's two columns.
    const Running diagonal = running([&](std::size_t a) {
        long double v = 0;
        for (int j = 0; j < 2; ++j) {
            v += 2.0L * u[a][j] * z[a][j];
            for (int l = 0; l < 2; ++l)
                v -= u[a][j] * h[j][l] * u[a][l];
        }
        return v;
    });
    const Running z0 = running([&](std::size_t a) { return z[a][0]; });
    const Running z1 = running([&](std::size_t a) { return z[a][1]; });
    std::vector<long double> out(lags + 1, 0.0L);
    for (std::size_t k = 1; k <= lags && k < n; ++k) {
        const std::size_t m = n - k;
        const long double lag = static_cast<long double>(k), count = static_cast<long double>(m);
        // Sums over a < m of u_j[a] z_j[a + k] and z_j[a] u_j[a + k].
        const long double cross =
            q * (z0.plain[n] - z0.plain[k]) + q * z0.plain[m] +
            ((z1.moment[n] - z1.moment[k]) - (lag + centre) * (z1.plain[n] - z1.plain[k])) /
                spread +
            (z1.moment[m] + (lag - centre) * z1.plain[m]) / spread;
        // Sums over a < m of u_j[a] u_l[a + k].
        const long double sumA = count * (count - 1.0L) / 2.0L;
        const long double sumA2 = (count - 1.0L) * count * (2.0L * count - 1.0L) / 6.0L;
        const long double uu[2][2] = {{count * q * q, q * (sumA + count * (lag - centre)) / spread},
                                      {q * (sumA - count * centre) / spread,
                                       (sumA2 - 2.0L * centre * sumA + count * centre * centre +
                                        lag * (sumA - count * centre)) /
                                           (spread * spread)}};
        long double projected = cross;
        for (int j = 0; j < 2; ++j)
            for (int l = 0; l < 2; ++l)
                projected -= h[j][l] * uu[j][l];
        const long double ends = 0.5L * (diagonal.plain[m] + diagonal.plain[n] - diagonal.plain[k]);
        out[k] = g[k] + (ends - projected) / count;
    }
    return out;
}

// The residuals' own semivariogram about a straight line against frame
// number, lags 1..lags.
std::vector<long double> observedVariogram(const std::vector<long double>& values,
                                           std::size_t lags) {
    const std::size_t n = values.size();
    const long double centre = (static_cast<long double>(n) - 1.0L) / 2.0L;
    long double mean = 0, sxy = 0, sxx = 0;
    for (const long double v : values)
        mean += v;
    mean /= static_cast<long double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        sxy += (i - centre) * (values[i] - mean);
        sxx += (i - centre) * (i - centre);
    }
    std::vector<long double> r(n);
    for (std::size_t i = 0; i < n; ++i)
        r[i] = values[i] - mean - sxy / sxx * (i - centre);
    std::vector<long double> out(lags + 1, 0.0L);
    for (std::size_t k = 1; k <= lags; ++k) {
        long double total = 0;
        for (std::size_t i = 0; i + k < n; ++i)
            total += (r[i + k] - r[i]) * (r[i + k] - r[i]);
        out[k] = total / (2.0L * static_cast<long double>(n - k));
    }
    return out;
}

// The lags the model is fitted to: a third of the run, and no more than
// this, which keeps long runs quick and is far past the image motion's
// correlation.
constexpr std::size_t kMaxFittedLag = 200;

// Weighted least squares of `seen` on the columns with no coefficient below
// 0: every subset of the columns is tried and the feasible one that leaves
// the smallest misfit kept. Returns the misfit.
long double nonNegativeFit(const std::vector<std::vector<long double>>& columns,
                           const std::vector<long double>& seen,
                           const std::vector<long double>& weight, std::vector<long double>& out) {
    const std::size_t m = columns.size(), lags = seen.size() - 1;
    long double best = -1;
    for (unsigned subset = 1; subset < (1u << m); ++subset) {
        std::vector<std::size_t> use;
        for (std::size_t c = 0; c < m; ++c)
            if (subset & (1u << c))
                use.push_back(c);
        const std::size_t q = use.size();
        // Normal equations, solved by Gaussian elimination (q <= 3).
        std::vector<std::vector<long double>> a(q, std::vector<long double>(q + 1, 0.0L));
        for (std::size_t k = 1; k <= lags; ++k)
            for (std::size_t r = 0; r < q; ++r) {
                for (std::size_t c = 0; c < q; ++c)
                    a[r][c] += weight[k] * columns[use[r]][k] * columns[use[c]][k];
                a[r][q] += weight[k] * columns[use[r]][k] * seen[k];
            }
        bool solved = true;
        for (std::size_t c = 0; c < q && solved; ++c) {
            std::size_t pivot = c;
            for (std::size_t r = c + 1; r < q; ++r)
                if (std::fabs(a[r][c]) > std::fabs(a[pivot][c]))
                    pivot = r;
            std::swap(a[c], a[pivot]);
            if (!(std::fabs(a[c][c]) > 1e-300L)) {
                solved = false;
                break;
            }
            for (std::size_t r = 0; r < q; ++r)
                if (r != c) {
                    const long double f = a[r][c] / a[c][c];
                    for (std::size_t x = c; x <= q; ++x)
                        a[r][x] -= f * a[c][x];
                }
        }
        if (!solved)
            continue;
        std::vector<long double> coef(m, 0.0L);
        bool feasible = true;
        for (std::size_t r = 0; r < q; ++r) {
            coef[use[r]] = a[r][q] / a[r][r];
            feasible = feasible && coef[use[r]] >= 0.0L;
        }
        if (!feasible)
            continue;
        long double misfit = 0;
        for (std::size_t k = 1; k <= lags; ++k) {
            long double model = 0;
            for (std::size_t c = 0; c < m; ++c)
                model += coef[c] * columns[c][k];
            misfit += weight[k] * (seen[k] - model) * (seen[k] - model);
        }
        if (best < 0 || misfit < best) {
            best = misfit;
            out = coef;
        }
    }
    return best;
}

// The ranges a part of the model may take, frames; the image motion's are
// the first kMotionRanges of them.
constexpr std::array<long double, 10> kRanges = {0.5L,  1.0L,  2.0L,  4.0L,   8.0L,
                                                 16.0L, 32.0L, 64.0L, 128.0L, 256.0L};
constexpr std::size_t kMotionRanges = 7;

// The model of the residuals along the track and across it, fitted to the
// mean of their semivariograms.
Variogram fitVariogram(const std::vector<long double>& along,
                       const std::vector<long double>& across) {
    const std::size_t n = along.size();
    const std::size_t lags = std::clamp<std::size_t>(n / 3, 2, kMaxFittedLag);
    std::vector<long double> seen = observedVariogram(along, lags);
    const std::vector<long double> other = observedVariogram(across, lags);
    for (std::size_t k = 1; k <= lags; ++k)
        seen[k] = 0.5L * (seen[k] + other[k]);
    // What an error of the given semivariogram leaves in the residuals.
    const auto imprint = [&](const auto& shape) {
        std::vector<long double> g(n, 0.0L);
        for (std::size_t k = 1; k < n; ++k)
            g[k] = shape(static_cast<long double>(k));
        return residualVariogram(g, n, lags);
    };
    const std::vector<long double> white = imprint([](long double) { return 1.0L; });
    std::vector<std::vector<long double>> levelling;
    for (const long double range : kRanges)
        levelling.push_back(
            imprint([range](long double k) { return 1.0L - std::exp(-k / range); }));
    Variogram best;
    long double bestMisfit = -1;
    for (std::size_t fast = 0; fast < kMotionRanges; ++fast)
        // The slow part's range beyond the motion's and within the lags seen;
        // slow == fast: no slow part.
        for (std::size_t slow = fast; slow < kRanges.size(); ++slow) {
            if (slow > fast && kRanges[slow] > static_cast<long double>(lags))
                break;
            std::vector<std::vector<long double>> columns = {white, levelling[fast]};
            if (slow > fast)
                columns.push_back(levelling[slow]);
            std::vector<long double> coef(columns.size(), 0.0L), model(seen);
            long double misfit = -1;
            // Each lag weighted by its count of differences over the square of
            // its expected value, which the model itself gives.
            for (int round = 0; round < 3; ++round) {
                std::vector<long double> weight(lags + 1, 0.0L);
                for (std::size_t k = 1; k <= lags; ++k)
                    weight[k] =
                        static_cast<long double>(n - k) / std::max(model[k] * model[k], 1e-30L);
                misfit = nonNegativeFit(columns, seen, weight, coef);
                if (misfit < 0)
                    break;
                for (std::size_t k = 1; k <= lags; ++k) {
                    model[k] = 0;
                    for (std::size_t c = 0; c < columns.size(); ++c)
                        model[k] += coef[c] * columns[c][k];
                }
            }
            if (misfit >= 0 && (bestMisfit < 0 || misfit < bestMisfit)) {
                bestMisfit = misfit;
                best = {coef[0], coef[1], kRanges[fast], slow > fast ? coef[2] : 0.0L,
                        kRanges[slow]};
            }
        }
    return best;
}

// The variance of sum w_i e_i over the given frames, weights adding up to 0.
struct Weight {
    std::size_t frame;
    long double w;
};
long double contrastVariance(const std::vector<Weight>& weights, const Variogram& g,
                             std::size_t frames) {
    std::vector<long double> w(frames, 0.0L);
    for (const Weight& x : weights)
        w[x.frame] += x.w;
    // Over pairs i != j: the sum of w_i w_j (white part) and of w_i w_j
    // exp(-|i - j| / range) for each levelling part, by running sums.
    long double total = 0, squares = 0, decaying = 0, slowDecaying = 0;
    long double carried = 0, slowCarried = 0;
    const long double r = std::exp(-1.0L / g.range), slowR = std::exp(-1.0L / g.slowRange);
    for (std::size_t j = 0; j < frames; ++j) {
        if (j > 0) {
            carried = r * (carried + w[j - 1]);
            slowCarried = slowR * (slowCarried + w[j - 1]);
        }
        decaying += 2.0L * w[j] * carried;
        slowDecaying += 2.0L * w[j] * slowCarried;
        total += w[j];
        squares += w[j] * w[j];
    }
    const long double pairs = total * total - squares;
    const long double v =
        -(g.white * pairs + g.sill * (pairs - decaying) + g.slowSill * (pairs - slowDecaying));
    return std::max(v, 0.0L);
}

} // namespace

// The pixel scale's standard error from the scatter of the pixel-scale pairs'
// own estimates. The scale is their mean, so their scatter over the square
// root of their number is the standard error of exactly that estimator, with
// the position and timing errors of the very frames it uses; the residuals of
// a drift fit would give the error of another estimator (one that weighs
// every frame), which the reduction does not use. With fewer than
// 2 x DriftPairCount accepted frames the pairs share frames, whose errors
// then partly cancel in the mean: the figure errs on the large side.
//
// When the track's errors along the drift are correlated from frame to frame
// (the gate of correlationOf), that scatter shows little of the error: the
// scale is the shift between the mean place of the first twelve frames and
// that of the last twelve over their time apart, and the seeing moves each
// run of twelve as a whole. The error is then that shift's, from the model
// of how the track's errors drift apart with time (fitVariogram), or the
// pairs' scatter when that is larger. The mean of the residuals over runs
// of twelve, used before, saw only what the fitted drift leaves of the
// image motion: on tracks through frozen turbulence (D/r0 2, 4 and 8,
// declination 0-75, 20 seeds each) the scale's errors were 1.2-1.4 times
// that figure. On Weighted Average's tracks of a 10" pair through the
// simulator's atmosphere (the same conditions, 120 frames, 12 seeds each)
// they are 0.7-1.3 times the figure given.
double detail::pixelScaleStderr(const std::vector<const PairPosition*>& rows,
                                long double declinationDeg) {
    const long double rate = detail::driftRate(declinationDeg);
    const auto scales = detail::pairScales(rows, rate);
    const double plain =
        scatterOf(std::vector<long double>(scales.begin(), scales.end()), 1.0L).stderrOfMean;
    const TrackResiduals track = primaryResiduals(rows);
    if (correlationOf(track.along).rho.empty())
        return plain;
    std::vector<Weight> weights;
    for (const DriftPair& p : driftPairs(static_cast<int32_t>(rows.size()))) {
        const auto early = static_cast<std::size_t>(p.early),
                   late = static_cast<std::size_t>(p.late);
        const long double w = 1000.0L / (detail::elapsedMs(*rows[early], *rows[late]) * rate *
                                         static_cast<long double>(DriftPairCount));
        weights.push_back({early, -w});
        weights.push_back({late, w});
    }
    return std::max(plain, static_cast<double>(std::sqrt(contrastVariance(
                               weights, fitVariogram(track.along, track.across), rows.size()))));
}

// The drift direction's standard error: the scatter across the principal
// axis (n - 2 degrees of freedom, a line having two) over the spread of the
// frames along it, which is the slope error of a straight-line fit. Errors
// across the track that last tau frames make the slope's variance tau times
// as large, as they make a mean's. When they last (the gate of
// correlationOf), the slope is a contrast of the errors across the track,
// weighted by each frame's place along it, and its error also comes from
// the model of how those errors drift apart with time; the larger is kept.
// The correlation time sums only the lags whose estimates stand clear of
// their noise and so misses the image motion's slow part: on the same
// tracks the drift direction's errors were 1.2-2.0 times its figure. On
// Weighted Average's tracks (as for the scale) they are 0.55-1.05 times the
// figure given: for the drift direction it still errs large.
double detail::driftAngleStderr(const std::vector<const PairPosition*>& rows) {
    const detail::TrackSpread spread = detail::primarySpread(rows);
    const long double n = static_cast<long double>(rows.size());
    if (!(spread.along > 0.0L) || n < 3.0L)
        return 0.0;
    const long double across = std::max(spread.across, 0.0L) / (n - 2.0L);
    const TrackResiduals track = primaryResiduals(rows);
    const Correlation c = correlationOf(track.across);
    const double plain = static_cast<double>(std::sqrt(c.tau * across / spread.along) *
                                             scatterShrink(n, c.tau) * detail::kDegPerRad);
    if (c.rho.empty())
        return plain;
    const DriftLine line = fitDriftLine(rows);
    const long double speed = std::hypot(line.stx, line.sty);
    std::vector<long double> at;
    long double mean = 0;
    for (const PairPosition* r : rows) {
        at.push_back(((r->PrimaryX - line.xm) * line.stx + (r->PrimaryY - line.ym) * line.sty) /
                     speed);
        mean += at.back() / n;
    }
    long double squares = 0;
    for (const long double a : at)
        squares += (a - mean) * (a - mean);
    std::vector<Weight> weights;
    for (std::size_t i = 0; i < at.size(); ++i)
        weights.push_back({i, (at[i] - mean) / squares});
    const long double model =
        std::sqrt(contrastVariance(weights, fitVariogram(track.across, track.along), rows.size()));
    return std::max(plain, static_cast<double>(model * detail::kDegPerRad));
}

ReductionStatistics driftStatistics(const PairPositions& table, const ReductionResult& result,
                                    long double declinationDeg) {
    const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
    ReductionStatistics s = frameStatistics(rows);
    magnitudeDifference(table, s);
    s.driftMeasured = true;
    s.pixelScaleStderr = detail::pixelScaleStderr(rows, declinationDeg);
    s.driftAngleStderr = detail::driftAngleStderr(rows);
    const TrackResiduals track = primaryResiduals(rows);
    for (const std::vector<long double>* series : {&track.along, &track.across})
        if (!series->empty())
            s.framesEffective = std::min(s.framesEffective,
                                         static_cast<double>(static_cast<long double>(rows.size()) /
                                                             correlationOf(*series).tau));
    driftFit(rows, s);
    propagate(s, result.separation.separation, result.separation.pixelScale);
    return s;
}

std::vector<DriftResidual> driftResiduals(const PairPositions& table) {
    return residualsOf(detail::validRows(table));
}

ReductionStatistics calibratedStatistics(const PairPositions& table, const ReductionResult& result,
                                         double pixelScaleStderr, double driftAngleStderr) {
    const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
    ReductionStatistics s = frameStatistics(rows);
    magnitudeDifference(table, s);
    s.pixelScaleStderr = pixelScaleStderr;
    s.driftAngleStderr = driftAngleStderr;
    propagate(s, result.separation.separation, result.separation.pixelScale);
    return s;
}

std::vector<ReductionDoubt> reductionDoubts(const ReductionStatistics& s, int32_t framesMeasured) {
    std::vector<ReductionDoubt> out;
    if (framesMeasured > 0 &&
        static_cast<double>(s.framesAccepted) < kMinAcceptedFraction * framesMeasured) {
        ReductionDoubt d{DoubtKind::FewFramesAccepted};
        d.accepted = s.framesAccepted;
        d.measured = framesMeasured;
        out.push_back(d);
    }
    if (s.driftMeasured && s.driftResidualPx > 0.0) {
        const bool scatter = s.driftFrameScatterPx > 0.0;
        if (!scatter || s.driftResidualPx > kMaxDriftResidualRatio * s.driftFrameScatterPx)
            out.push_back({DoubtKind::TrackStrays,
                           scatter ? s.driftResidualPx / s.driftFrameScatterPx : 0.0});
    }
    if (s.pixelScaleRelativeStderr > kMaxScaleRelativeStderr)
        out.push_back({DoubtKind::ScaleUncertain, s.pixelScaleRelativeStderr});
    return out;
}

} // namespace corvane
