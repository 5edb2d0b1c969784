#include "Report.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "common/Rounding.h"
#include "results/ResultsFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace corvane::tool {

namespace {

// One quantity: its name in the text form, its JSON key, the text the window
// shows (empty: the box is empty) and the unrounded value.
struct Field {
    const char* textName;
    const char* jsonKey;
    std::string shown;
    std::optional<double> raw;
};

void frameFields(const MeasureOutcome& o, std::vector<Field>& f);
void commonFields(const MeasureOutcome& o, std::vector<Field>& f);

// A speckle measurement's quantities: the pair in pixels and on the sky,
// its magnitude difference and the quadrant's confidence.
void speckleFields(const SpeckleOutcome& s, std::vector<Field>& f) {
    const SpeckleMeasurement& m = s.measurement;
    const bool measured = m.status == SpeckleStatus::Measured;
    const auto value = [measured](double v, int decimals) {
        return measured ? formatRounded(v, decimals, kDecimalSeparator) : std::string();
    };
    const auto error = [measured](double v, int decimals) {
        return measured ? errorText(v, decimals, kDecimalSeparator) : std::string();
    };
    const auto raw = [measured](double v) {
        return measured ? std::optional<double>(v) : std::nullopt;
    };
    f.push_back({"diffraction px", "diffraction_px",
                 formatRounded(m.diffractionPx, 2, kDecimalSeparator), m.diffractionPx});
    f.push_back({"sep px", "sep_px", value(m.separationPx, 2), raw(m.separationPx)});
    f.push_back({"sep px stderr", "sep_px_stderr", error(m.separationPxStderr, 2),
                 raw(m.separationPxStderr)});
    f.push_back({"screen angle", "screen_angle", value(m.screenAngle, 2), raw(m.screenAngle)});
    const bool onSky = measured && s.sky;
    f.push_back({"position angle", "position_angle", onSky ? s.positionAngleText : "",
                 onSky ? std::optional<double>(s.sky->positionAngle) : std::nullopt});
    f.push_back({"position angle stderr", "position_angle_stderr",
                 onSky ? errorText(s.sky->positionAngleStderr, 2, kDecimalSeparator) : "",
                 onSky ? std::optional<double>(s.sky->positionAngleStderr) : std::nullopt});
    f.push_back({"separation", "separation", onSky ? s.separationText : "",
                 onSky ? std::optional<double>(s.sky->separation) : std::nullopt});
    f.push_back({"separation stderr", "separation_stderr",
                 onSky ? errorText(s.sky->separationStderr, 2, kDecimalSeparator) : "",
                 onSky ? std::optional<double>(s.sky->separationStderr) : std::nullopt});
    f.push_back({"delta mag", "delta_mag", value(m.deltaMag, 2), raw(m.deltaMag)});
    f.push_back({"delta mag stderr", "delta_mag_stderr", error(m.deltaMagStderr, 2),
                 raw(m.deltaMagStderr)});
    f.push_back({"quadrant confidence", "quadrant_confidence", value(m.quadrantConfidence, 3),
                 raw(m.quadrantConfidence)});
}

std::vector<Field> resultFields(const MeasureOutcome& o) {
    std::vector<Field> f;
    if (o.speckle) {
        f.push_back({"frames measured", "frames_measured", std::to_string(o.framesMeasured),
                     o.framesMeasured});
        speckleFields(*o.speckle, f);
    } else {
        frameFields(o, f);
    }
    commonFields(o, f);
    return f;
}

// The frame-by-frame methods' quantities.
void frameFields(const MeasureOutcome& o, std::vector<Field>& f) {
    f.push_back(
        {"frames measured", "frames_measured", std::to_string(o.framesMeasured), o.framesMeasured});
    f.push_back({"valid frames", "valid_frames", std::to_string(o.validFrames), o.validFrames});
    f.push_back(
        {"frames accepted", "frames_accepted", std::to_string(o.validFrames), o.validFrames});
    f.push_back(
        {"frames clipped", "frames_clipped", std::to_string(o.clippedFrames), o.clippedFrames});
    if (o.reduction) {
        const ReductionResult& r = *o.reduction;
        const ReductionTexts t = reductionTexts(r, kDecimalSeparator);
        f.push_back({"sep px", "sep_px", t.sepPx, r.averages.meanSep});
        f.push_back({"screen angle", "screen_angle", t.screenAngle, r.averages.meanAngle});
        f.push_back({"drift angle", "drift_angle", t.primarySlope, r.regression.driftAngle});
        f.push_back(
            {"position angle", "position_angle", t.positionAngle, r.regression.positionAngle});
        f.push_back({"pixel scale", "pixel_scale", t.pixelScale, r.separation.pixelScale});
        f.push_back({"separation", "separation", t.separation, r.separation.separation});
        // The standard errors, with the decimals the results line shows (more
        // where those would show nothing); the sd's of one frame likewise.
        const ReductionStatistics& s = r.statistics;
        const ErrorTexts e = errorTexts(r, kDecimalSeparator);
        f.push_back({"separation stderr", "separation_stderr", e.separation, s.separationStderr});
        f.push_back({"position angle stderr", "position_angle_stderr", e.positionAngle,
                     s.positionAngleStderr});
        f.push_back({"pixel scale stderr", "pixel_scale_stderr",
                     errorText(s.pixelScaleStderr, 4, kDecimalSeparator), s.pixelScaleStderr});
        f.push_back({"drift angle stderr", "drift_angle_stderr",
                     errorText(s.driftAngleStderr, 2, kDecimalSeparator), s.driftAngleStderr});
        f.push_back({"sep px sd", "sep_px_sd", errorText(s.separationPx.sd, 2, kDecimalSeparator),
                     s.separationPx.sd});
        f.push_back({"screen angle sd", "screen_angle_sd",
                     errorText(s.screenAngle.sd, 2, kDecimalSeparator), s.screenAngle.sd});
        f.push_back({"frames effective", "frames_effective",
                     effectiveFramesText(s, kDecimalSeparator), s.framesEffective});
        // Only the methods that measure each star's light give it.
        if (std::isfinite(s.deltaMag)) {
            f.push_back({"delta mag", "delta_mag", formatRounded(s.deltaMag, 2, kDecimalSeparator),
                         s.deltaMag});
            f.push_back({"delta mag stderr", "delta_mag_stderr",
                         errorText(s.deltaMagStderr, 2, kDecimalSeparator), s.deltaMagStderr});
        }
    } else {
        // Without the reduction the window's result boxes stay empty.
        for (const auto& [name, key] : {std::pair{"sep px", "sep_px"},
                                        {"screen angle", "screen_angle"},
                                        {"drift angle", "drift_angle"},
                                        {"position angle", "position_angle"},
                                        {"pixel scale", "pixel_scale"},
                                        {"separation", "separation"},
                                        {"separation stderr", "separation_stderr"},
                                        {"position angle stderr", "position_angle_stderr"},
                                        {"pixel scale stderr", "pixel_scale_stderr"},
                                        {"drift angle stderr", "drift_angle_stderr"},
                                        {"sep px sd", "sep_px_sd"},
                                        {"screen angle sd", "screen_angle_sd"},
                                        {"frames effective", "frames_effective"}})
            f.push_back({name, key, std::string(), std::nullopt});
    }
}

// The calibration, the epoch and the bench: every method's.
void commonFields(const MeasureOutcome& o, std::vector<Field>& f) {
    // The calibration the reduction used, or the one this drift gave.
    const std::optional<Calibration>& cal =
        o.driftCalibration ? o.driftCalibration : o.calibrationUsed;
    if (cal) {
        f.push_back({"calibration pixel scale", "calibration_pixel_scale",
                     formatRounded(cal->pixelsPerArcsec, 4, kDecimalSeparator),
                     cal->pixelsPerArcsec});
        f.push_back({"calibration pixel scale stderr", "calibration_pixel_scale_stderr",
                     formatRounded(cal->pixelsPerArcsecStderr, 6, kDecimalSeparator),
                     cal->pixelsPerArcsecStderr});
        f.push_back({"calibration drift angle", "calibration_drift_angle",
                     formatRounded(cal->driftAngle, 2, kDecimalSeparator), cal->driftAngle});
        f.push_back({"calibration drift angle stderr", "calibration_drift_angle_stderr",
                     formatRounded(cal->driftAngleStderr, 4, kDecimalSeparator),
                     cal->driftAngleStderr});
    }
    const EpochTexts epoch = epochTexts(o.epoch, kDecimalSeparator);
    f.push_back({"epoch J", "epoch_julian", epoch.julian, o.epoch.julianEpoch});
    f.push_back({"epoch B", "epoch_besselian", epoch.besselian, o.epoch.besselianEpoch});
    if (o.bench) {
        const BenchResult& b = *o.bench;
        f.push_back({"decode fps", "decode_fps", formatRounded(b.decodeFps, 1, kDecimalSeparator),
                     b.decodeFps});
        f.push_back(
            {"run fps", "run_fps", formatRounded(b.runFps, 1, kDecimalSeparator), b.runFps});
        f.push_back({"ratio", "ratio", formatRounded(b.ratio(), 3, kDecimalSeparator), b.ratio()});
        f.push_back(
            {"frames in band", "frames_in_band", std::to_string(b.framesInBand), b.framesInBand});
        f.push_back({"frames read again whole", "frames_read_again_whole",
                     std::to_string(b.framesReadAgainWhole), b.framesReadAgainWhole});
    }
}

// Every digit of the value, so it reads back as the same double.
std::string rawNumber(const std::optional<double>& v) {
    if (!v || !std::isfinite(*v))
        return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *v);
    return buf;
}

// The shown texts use '.' and the general format ("12.35", "2", "1E-6"),
// which JSON reads as numbers; anything else would be a fault upstream, and
// is written as null rather than as broken JSON.
std::string shownNumber(const std::string& s) {
    double v = 0;
    if (s.empty() || !tryTextToFloat(s, kDecimalSeparator, v) || !std::isfinite(v) ||
        s.find_first_of(" \t") != std::string::npos)
        return "null";
    return s;
}

std::string csvNumber(float v) {
    return formatGeneral(v, kDecimalSeparator);
}

// Empty for a number the method does not give (NaN).
std::string givenCsvNumber(float v) {
    return std::isnan(v) ? std::string() : csvNumber(v);
}

// What a speckle measurement gives beyond numbers: the quadrant, why there
// is no pair, the saved image, and the detection limit as a curve (the
// faintest companion that would have been seen at each separation).
nlohmann::json speckleJson(const SpeckleOutcome& s) {
    const SpeckleMeasurement& m = s.measurement;
    nlohmann::json j;
    j["method"] = kSpeckleMethodName;
    j["status"] = m.status == SpeckleStatus::Measured ? "pair" : "no pair";
    j["why"] = speckleNoResultText(m);
    j["quadrant"] = m.status != SpeckleStatus::Measured ? "none"
                    : m.quadrantDecided                 ? "decided"
                                                        : "ambiguous";
    j["frames"] = m.frames;
    j["reference_frames"] = m.referenceFrames;
    j["transfer"] = m.referenceFrames > 0 ? "reference" : "radial fit";
    j["calibration"] = s.calibrationFromDrift ? "drift" : "calibration";
    j["image"] = s.image;
    nlohmann::json curve = nlohmann::json::array();
    if (s.sky)
        for (const SpeckleLimitPoint& p : s.sky->limit)
            curve.push_back({{"separation", p.separation}, {"delta_mag", p.deltaMag}});
    j["detection_limit"] = curve;
    nlohmann::json curvePx = nlohmann::json::array();
    for (const DetectionPoint& p : m.limit)
        curvePx.push_back({{"sep_px", p.radiusPx}, {"delta_mag", p.deltaMag}});
    j["detection_limit_px"] = curvePx;
    return j;
}

// The artificial-star test: the biases read minus put with their errors,
// the copies, and the result as it would read corrected.
nlohmann::json artificialStarJson(const ArtificialStarResult& a, const ReductionResult& r) {
    nlohmann::json j;
    j["sep_bias"] = a.sepBias;
    j["sep_bias_stderr"] = a.sepBiasStderr;
    j["pa_bias"] = a.paBias;
    j["pa_bias_stderr"] = a.paBiasStderr;
    j["copies"] = a.copies;
    j["copies_lost"] = a.lost;
    j["angles"] = a.angles;
    j["flux_ratio"] = a.fluxRatio;
    j["sep_biased"] = separationBiased(a, r);
    j["pa_biased"] = positionAngleBiased(a, r);
    j["corrected_separation"] = correctedSeparation(a, r);
    j["corrected_position_angle"] = correctedPositionAngle(a, r);
    return j;
}

} // namespace

void writeText(std::ostream& out, const MeasureOutcome& o) {
    for (const Field& f : resultFields(o)) {
        out << f.textName << ":";
        if (!f.shown.empty())
            out << " " << f.shown;
        out << "\n";
    }
    if (o.speckle) {
        const SpeckleMeasurement& m = o.speckle->measurement;
        out << "quadrant: "
            << (m.status != SpeckleStatus::Measured ? ""
                : m.quadrantDecided                 ? "decided"
                                                    : "ambiguous by 180 degrees")
            << "\n";
        out << "detection limit:";
        if (o.speckle->sky)
            for (const SpeckleLimitPoint& p : o.speckle->sky->limit)
                out << " " << formatRounded(p.separation, 2, kDecimalSeparator) << "\"/"
                    << formatRounded(p.deltaMag, 1, kDecimalSeparator);
        out << "\n";
    }
}

void writeJson(std::ostream& out, const MeasureOutcome& o) {
    const std::vector<Field> fields = resultFields(o);
    out << "{";
    for (const Field& f : fields)
        out << "\"" << f.jsonKey << "\": " << shownNumber(f.shown) << ", ";
    // The frame times are whole microseconds: three decimals of a millisecond.
    const FrameTiming& t = o.timing;
    out << "\"timing\": {\"source\": \"" << timeSourceText(t.source)
        << "\", \"median_interval_ms\": "
        << shownNumber(formatRounded(t.medianIntervalMs, 3, kDecimalSeparator))
        << ", \"jitter_ms\": " << shownNumber(formatRounded(t.jitterMs, 3, kDecimalSeparator))
        << ", \"dropped_frames\": " << t.droppedFrames << "}, ";
    out << "\"warnings\": " << nlohmann::json(o.warnings).dump() << ", ";
    if (!o.speckle) {
        const RejectionCounts& c = o.rejections;
        out << "\"rejections\": {\"too_faint\": " << c.tooFaint << ", \"merged\": " << c.merged
            << ", \"off_frame\": " << c.offFrame << ", \"offset\": " << c.offset
            << ", \"saturated\": " << c.saturated << ", \"refused\": " << c.refused
            << ", \"repeat\": " << c.repeat << ", \"not_converged\": " << c.notConverged
            << ", \"off_track\": " << c.offTrack << "}, ";
    }
    if (o.speckle)
        out << "\"speckle\": " << speckleJson(*o.speckle).dump() << ", ";
    if (o.reduction) {
        out << "\"artificial_star\": "
            << (o.artificialStars ? artificialStarJson(*o.artificialStars, *o.reduction).dump()
                                  : "null")
            << ", \"bias_corrected\": " << (o.biasCorrected ? "true" : "false") << ", ";
    }
    out << "\"raw\": {";
    for (std::size_t i = 0; i < fields.size(); ++i)
        out << (i ? ", " : "") << "\"" << fields[i].jsonKey << "\": " << rawNumber(fields[i].raw);
    out << "}}\n";
}

void writeFramesCsv(std::ostream& out, const FrameTable& table) {
    out << "frame,time_ms,primary_x,primary_y,secondary_x,secondary_y,sep_px,screen_angle,"
           "system_x,system_y,valid,primary_status,secondary_status,offset_x_stderr,"
           "offset_y_stderr,flux_ratio,flux_ratio_stderr,rejection\n";
    for (std::size_t i = 0; i < table.size(); ++i) {
        const FrameRow& r = table[i];
        out << i << ',' << millisecondsOf(r.TimeUs) << ',' << csvNumber(r.PrimaryX) << ','
            << csvNumber(r.PrimaryY) << ',' << csvNumber(r.SecondaryX) << ','
            << csvNumber(r.SecondaryY) << ',' << csvNumber(r.SepPixels) << ','
            << csvNumber(r.ScreenAngle) << ',' << r.SystemX << ',' << r.SystemY << ','
            << (r.Valid ? 1 : 0) << ',' << starStatusName(r.PrimaryStatus) << ','
            << starStatusName(r.SecondaryStatus) << ',' << givenCsvNumber(r.OffsetXError) << ','
            << givenCsvNumber(r.OffsetYError) << ',' << givenCsvNumber(r.FluxRatio) << ','
            << givenCsvNumber(r.FluxRatioError) << ',' << rowRejectionName(r.Rejection) << '\n';
    }
}

void writeFramesCsvFile(const std::string& path, const FrameTable& table) {
    // The message names the file and the option, so that it can be mended.
    const auto failed = [&path] {
        return Error("--frames " + path + ": " + fileErrorText(errno ? errno : EIO));
    };
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        throw failed();
    writeFramesCsv(file, table);
    file.flush();
    if (!file)
        throw failed();
    file.close();
    if (file.fail())
        throw failed();
}

} // namespace corvane::tool
