#include "report/ReportFiles.h"

#include "common/Angles.h"
#include "common/Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace corvane {

namespace {

std::string optionalFixed(const std::optional<double>& v, int decimals) {
    return v ? fixed(*v, decimals) : std::string();
}

// A text cell of the CSV: quoted when it holds a separator, a quote or a line
// end, and guarded with an apostrophe when a spreadsheet would run it as a
// formula.
std::string csvText(const std::string& text) {
    std::string t = text;
    if (!t.empty() && std::string("=+-@\t\r").find(t[0]) != std::string::npos)
        t = "'" + t;
    if (t.find_first_of(",\"\r\n") == std::string::npos)
        return t;
    std::string quoted = "\"";
    for (char c : t) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string htmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A table cell of Markdown: a bar would end the cell.
std::string markdownText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|')
            out += "\\|";
        else if (c == '\n' || c == '\r')
            out += ' ';
        else
            out += c;
    }
    return out;
}

std::string weights(const MeasureSummary& s) {
    const std::string pa = weightingName(s.positionAngle.weighting);
    const std::string sep = weightingName(s.separation.weighting);
    return pa == sep ? pa : "PA " + pa + ", sep " + sep;
}

// One row of the table: a night of a pair or the pair over all nights.
struct TableRow {
    const PairReport* pair;
    std::string night; // "1", "2", ... or "all"
    const MeasureSummary* summary;
    int32_t nights;
    int32_t flags;
};

std::vector<TableRow> tableRows(const std::vector<PairReport>& pairs) {
    std::vector<TableRow> rows;
    for (const PairReport& p : pairs) {
        for (std::size_t n = 0; n < p.nights.size(); ++n) {
            const NightSummary& night = p.nights[n];
            int32_t flags = 0;
            for (std::size_t i : night.measures)
                flags += std::any_of(p.flags.begin(), p.flags.end(),
                                     [i](const Flag& f) { return f.measure == i; });
            rows.push_back({&p, std::to_string(n + 1), &night.summary, 1, flags});
        }
        int32_t flagged = 0;
        for (std::size_t i = 0; i < p.measures.size(); ++i)
            flagged += std::any_of(p.flags.begin(), p.flags.end(),
                                   [i](const Flag& f) { return f.measure == i; });
        rows.push_back({&p, "all", &p.overall, static_cast<int32_t>(p.nights.size()), flagged});
    }
    return rows;
}

std::string deltaMagnitude(const MeasureSummary& s) {
    return s.deltaMagnitude ? fixed(*s.deltaMagnitude, 2) : std::string();
}

// ---------------------------------------------------------------- plots

// Round steps of 1, 2 or 5 times a power of ten, about five over the range.
double tickStep(double range) {
    const double raw = range / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

int decimalsFor(double step) {
    return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

struct PlotPoint {
    double x, y;
    std::optional<double> error;
    bool flagged;
};

// Measurements against the epoch with their error bars, as inline SVG.
std::string svgPlot(const std::vector<PlotPoint>& points, const std::string& yTitle,
                    std::optional<double> mean) {
    constexpr double W = 560, H = 230, left = 64, right = 14, top = 14, bottom = 40;
    double x0 = points[0].x, x1 = x0, y0 = points[0].y, y1 = y0;
    for (const PlotPoint& p : points) {
        const double e = p.error.value_or(0);
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y - e);
        y1 = std::max(y1, p.y + e);
    }
    // Room around the points, and a span even for one night or one value.
    const double xPad = std::max((x1 - x0) * 0.08, 0.002);
    const double yPad = std::max((y1 - y0) * 0.12, std::max(std::fabs(y1) * 1e-4, 0.01));
    x0 -= xPad, x1 += xPad, y0 -= yPad, y1 += yPad;
    const auto sx = [&](double x) { return left + (x - x0) / (x1 - x0) * (W - left - right); };
    const auto sy = [&](double y) { return top + (y1 - y) / (y1 - y0) * (H - top - bottom); };
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fixed(W, 0) +
                      "\" height=\"" + fixed(H, 0) + "\" viewBox=\"0 0 " + fixed(W, 0) + " " +
                      fixed(H, 0) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    svg += "<rect x=\"" + fixed(left, 0) + "\" y=\"" + fixed(top, 0) + "\" width=\"" +
           fixed(W - left - right, 0) + "\" height=\"" + fixed(H - top - bottom, 0) +
           "\" fill=\"#fff\" stroke=\"#888\"/>\n";
    const double xs = tickStep(x1 - x0), ys = tickStep(y1 - y0);
    for (double x = std::ceil(x0 / xs) * xs; x <= x1; x += xs)
        svg += "<line x1=\"" + fixed(sx(x), 1) + "\" y1=\"" + fixed(H - bottom, 1) + "\" x2=\"" +
               fixed(sx(x), 1) + "\" y2=\"" + fixed(top, 1) + "\" stroke=\"#eee\"/><text x=\"" +
               fixed(sx(x), 1) + "\" y=\"" + fixed(H - bottom + 14, 1) +
               "\" text-anchor=\"middle\">" + fixed(x, decimalsFor(xs)) + "</text>\n";
    for (double y = std::ceil(y0 / ys) * ys; y <= y1; y += ys)
        svg += "<line x1=\"" + fixed(left, 1) + "\" y1=\"" + fixed(sy(y), 1) + "\" x2=\"" +
               fixed(W - right, 1) + "\" y2=\"" + fixed(sy(y), 1) +
               "\" stroke=\"#eee\"/><text x=\"" + fixed(left - 4, 1) + "\" y=\"" +
               fixed(sy(y) + 4, 1) + "\" text-anchor=\"end\">" + fixed(y, decimalsFor(ys)) +
               "</text>\n";
    svg += "<text x=\"" + fixed((left + W - right) / 2, 1) + "\" y=\"" + fixed(H - 6, 1) +
           "\" text-anchor=\"middle\">Besselian epoch</text>\n";
    svg += "<text transform=\"translate(14," + fixed((top + H - bottom) / 2, 1) +
           ") rotate(-90)\" text-anchor=\"middle\">" + htmlText(yTitle) + "</text>\n";
    if (mean)
        svg += "<line x1=\"" + fixed(left, 1) + "\" y1=\"" + fixed(sy(*mean), 1) + "\" x2=\"" +
               fixed(W - right, 1) + "\" y2=\"" + fixed(sy(*mean), 1) +
               "\" stroke=\"#4a8\" stroke-dasharray=\"5,4\"/>\n";
    for (const PlotPoint& p : points) {
        const std::string colour = p.flagged ? "#d22" : "#236";
        if (p.error)
            svg += "<line x1=\"" + fixed(sx(p.x), 1) + "\" y1=\"" + fixed(sy(p.y - *p.error), 1) +
                   "\" x2=\"" + fixed(sx(p.x), 1) + "\" y2=\"" + fixed(sy(p.y + *p.error), 1) +
                   "\" stroke=\"" + colour + "\"/>\n";
        svg += "<circle cx=\"" + fixed(sx(p.x), 1) + "\" cy=\"" + fixed(sy(p.y), 1) +
               "\" r=\"3.5\" fill=\"" + colour + "\"/>\n";
    }
    return svg + "</svg>\n";
}

std::vector<PlotPoint> plotPoints(const PairReport& p, bool angle) {
    std::vector<PlotPoint> points;
    for (std::size_t i = 0; i < p.measures.size(); ++i) {
        const SavedMeasure& m = p.measures[i];
        const bool flagged = std::any_of(p.flags.begin(), p.flags.end(), [&](const Flag& f) {
            return f.measure == i && (f.quantity == "PA") == angle;
        });
        double y = m.separation;
        if (angle) {
            // Angles on the side of 0/360 nearest the pair's mean, so that a
            // pair near north does not split over the plot.
            const double mean = p.overall.positionAngle.mean;
            y = mean + wrapDegrees180(m.positionAngle - mean);
        }
        points.push_back({m.epoch, y, angle ? m.positionAngleStderr : m.separationStderr, flagged});
    }
    return points;
}

void writeWhole(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            throw Error(path + ": the file cannot be written (" + std::strerror(errno) + ")");
        out << content;
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            throw Error(path + ": the file cannot be written (" + std::strerror(errno) + ")");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int err = errno;
        std::remove(temporary.c_str());
        throw Error(path + ": the file cannot be written (" + std::strerror(err) + ")");
    }
}

} // namespace

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    // No "-0.00" for a value that rounds to zero.
    if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1))
        return text + 1;
    return text;
}

std::string fixedAngle(double degrees, int decimals) {
    const std::string text = fixed(wrapDegrees360(degrees), decimals);
    // 359.996 at two decimals reads 360.00, the same direction as north.
    return std::stod(text) >= 360.0 ? fixed(0.0, decimals) : text;
}

std::string reportCsv(const std::vector<PairReport>& pairs) {
    std::string out =
        "wds_id,designation,night,date,epoch,n,nights,pa,pa_sd,pa_se,pa_weighting,sep,sep_sd,"
        "sep_se,sep_weighting,delta_mag,delta_mag_n,methods,flagged\r\n";
    for (const TableRow& r : tableRows(pairs)) {
        const MeasureSummary& s = *r.summary;
        out += r.pair->wdsId + ',' + csvText(r.pair->designation) + ',' + r.night + ',' +
               dateOfJulianDate(s.julianDate) + ',' + fixed(s.epoch, 4) + ',' +
               std::to_string(s.count) + ',' + std::to_string(r.nights) + ',' +
               fixedAngle(s.positionAngle.mean, 2) + ',' + optionalFixed(s.positionAngle.sd, 3) +
               ',' + optionalFixed(s.positionAngle.standardError, 3) + ',' +
               weightingName(s.positionAngle.weighting) + ',' + fixed(s.separation.mean, 3) + ',' +
               optionalFixed(s.separation.sd, 3) + ',' +
               optionalFixed(s.separation.standardError, 3) + ',' +
               weightingName(s.separation.weighting) + ',' + optionalFixed(s.deltaMagnitude, 2) +
               ',' + std::to_string(s.deltaMagnitudeCount) + ',' + csvText(s.methods) + ',' +
               std::to_string(r.flags) + "\r\n";
    }
    return out;
}

std::string reportMarkdown(const std::vector<PairReport>& pairs) {
    std::string out = "| WDS | Designation | Night | Date | Epoch | N | PA (°) | ± SE | SD | "
                      "Sep (\") | ± SE | SD | Weights | Δm | Methods | Flagged |\n"
                      "|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---|"
                      "---:|\n";
    for (const TableRow& r : tableRows(pairs)) {
        const MeasureSummary& s = *r.summary;
        const bool all = r.night == "all";
        out += "| " + r.pair->wdsId + " | " + markdownText(r.pair->designation) + " | " +
               (all ? std::to_string(r.nights) + " nights" : r.night) + " | " +
               dateOfJulianDate(s.julianDate) + " | " + fixed(s.epoch, 3) + " | " +
               std::to_string(s.count) + " | " + fixedAngle(s.positionAngle.mean, 1) + " | " +
               optionalFixed(s.positionAngle.standardError, 2) + " | " +
               optionalFixed(s.positionAngle.sd, 2) + " | " + fixed(s.separation.mean, 2) + " | " +
               optionalFixed(s.separation.standardError, 3) + " | " +
               optionalFixed(s.separation.sd, 3) + " | " + weights(s) + " | " + deltaMagnitude(s) +
               " | " + markdownText(s.methods) + " | " + (r.flags ? std::to_string(r.flags) : "") +
               " |\n";
    }
    return out;
}

std::string reportHtml(const std::vector<PairReport>& pairs, const std::string& title) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>" +
                      htmlText(title) +
                      "</title>\n<style>\n"
                      "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
                      "table{border-collapse:collapse;font-size:13px}\n"
                      "th,td{border:1px solid #bbb;padding:3px 7px}\n"
                      "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
                      "tr.all td{font-weight:bold;background:#eef3f8}\n"
                      "h2{font-size:17px;margin-top:1.6em}\n"
                      ".plots{display:flex;flex-wrap:wrap;gap:12px}\n"
                      ".flag{color:#d22}\n"
                      "</style>\n</head>\n<body>\n<h1>" +
                      htmlText(title) + "</h1>\n";
    out += "<table>\n<tr><th>WDS</th><th>Designation</th><th>Night</th><th>Date</th>"
           "<th>Epoch</th><th>N</th><th>PA (°)</th><th>± SE</th><th>SD</th><th>Sep (\")</th>"
           "<th>± SE</th><th>SD</th><th>Weights</th><th>Δm</th><th>Methods</th>"
           "<th>Flagged</th></tr>\n";
    for (const TableRow& r : tableRows(pairs)) {
        const MeasureSummary& s = *r.summary;
        const bool all = r.night == "all";
        const auto num = [](const std::string& t) { return "<td class=\"n\">" + t + "</td>"; };
        out += std::string(all ? "<tr class=\"all\">" : "<tr>") + "<td>" + r.pair->wdsId +
               "</td><td>" + htmlText(r.pair->designation) + "</td><td>" +
               (all ? std::to_string(r.nights) + " nights" : r.night) + "</td><td>" +
               dateOfJulianDate(s.julianDate) + "</td>" + num(fixed(s.epoch, 3)) +
               num(std::to_string(s.count)) + num(fixedAngle(s.positionAngle.mean, 1)) +
               num(optionalFixed(s.positionAngle.standardError, 2)) +
               num(optionalFixed(s.positionAngle.sd, 2)) + num(fixed(s.separation.mean, 2)) +
               num(optionalFixed(s.separation.standardError, 3)) +
               num(optionalFixed(s.separation.sd, 3)) + "<td>" + weights(s) + "</td>" +
               num(deltaMagnitude(s)) + "<td>" + htmlText(s.methods) + "</td>" +
               num(r.flags ? std::to_string(r.flags) : "") + "</tr>\n";
    }
    out += "</table>\n<p>Weights: \"errors\" when the measurements' spread agrees with their "
           "standard errors (weighted mean, error from the weights), \"scatter\" when it does "
           "not or some have none (plain mean, error from the spread). Position angles are "
           "circular means.</p>\n";
    const std::vector<std::string> flags = flagTexts(pairs);
    if (!flags.empty()) {
        out += "<h2>Flagged measurements</h2>\n<ul>\n";
        for (const std::string& f : flags)
            out += "<li class=\"flag\">" + htmlText(f) + "</li>\n";
        out += "</ul>\n";
    }
    for (const PairReport& p : pairs) {
        out += "<h2>" + htmlText(p.designation) + (p.wdsId.empty() ? "" : " (" + p.wdsId + ")") +
               "</h2>\n<div class=\"plots\">\n";
        out += svgPlot(plotPoints(p, true), "position angle (°)", p.overall.positionAngle.mean);
        out += svgPlot(plotPoints(p, false), "separation (\")", p.overall.separation.mean);
        out += "</div>\n";
    }
    out += "<p>Error bars: each measurement's standard error; dashed: the pair's mean; red: "
           "flagged.</p>\n</body>\n</html>\n";
    return out;
}

std::string wdsListing(const std::vector<PairReport>& pairs, const ListingColumns& columns) {
    std::string out =
        "WDS Coordinate Discovery        Epoch    PA     SEP    N  Aperture, Method and Observer\n"
        "               Designation       BY     theta   rho       Inches, see WDS method code, "
        "name\n"
        "-------------- -------------  --------  ------ ------  -  "
        "---------------------------------\n";
    std::string last;
    for (const std::string& part : {columns.aperture, columns.methodCode, columns.observer})
        if (!part.empty())
            last += (last.empty() ? "" : "  ") + part;
    for (const PairReport& p : pairs) {
        char line[512];
        std::snprintf(line, sizeof line, "%-14s %-13s  %8s  %6s %6s  %1zu  %s", p.wdsId.c_str(),
                      p.designation.c_str(), fixed(p.overall.epoch, 3).c_str(),
                      fixedAngle(p.overall.positionAngle.mean, 1).c_str(),
                      fixed(p.overall.separation.mean, 2).c_str(), p.nights.size(), last.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        out += text + "\n";
    }
    return out;
}

std::vector<std::string> flagTexts(const std::vector<PairReport>& pairs) {
    std::vector<std::string> out;
    for (const PairReport& p : pairs)
        for (const Flag& f : p.flags) {
            const SavedMeasure& m = p.measures[f.measure];
            out.push_back(p.designation + ": " + m.file + " line " + std::to_string(m.line) +
                          (m.video.empty() ? "" : " (" + m.video + ")") + ", " + f.quantity + " " +
                          (f.quantity == "PA" ? fixedAngle(m.positionAngle, 2) + "°"
                                              : fixed(m.separation, 2) + "\"") +
                          ", lies " + fixed(f.sigmas, 1) +
                          " standard deviations from the pair's other measurements");
        }
    return out;
}

ReportOutcome makeReport(const ReportRequest& request) {
    MeasureList list;
    for (const std::string& input : request.inputs)
        readResultsCsv(input, list);
    if (list.measures.empty())
        throw Error("No measurement to report in " +
                    (request.inputs.size() == 1 ? request.inputs[0] : std::string("the files")));
    ReportOutcome out;
    out.pairs = summarisePairs(list.measures);
    out.skipped = list.skipped;
    out.flags = flagTexts(out.pairs);
    const auto write = [&](const std::string& path, const std::string& content) {
        if (path.empty())
            return;
        writeWhole(path, content);
        out.written.push_back(path);
    };
    write(request.csv, reportCsv(out.pairs));
    write(request.markdown, reportMarkdown(out.pairs));
    write(request.html, reportHtml(out.pairs, "Double star measurements"));
    write(request.wds, wdsListing(out.pairs, request.listing));
    return out;
}

} // namespace corvane
