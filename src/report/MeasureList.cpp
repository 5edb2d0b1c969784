#include "report/MeasureList.h"

#include "common/Angles.h"
#include "common/Error.h"
#include "common/NumberText.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace corvane {

namespace {

// A text cell that a spreadsheet would take for a formula is saved with an
// apostrophe in front; the apostrophe is not part of the text.
std::string withoutFormulaGuard(const std::string& cell) {
    if (cell.size() >= 2 && cell[0] == '\'' &&
        std::string("=+-@\t\r").find(cell[1]) != std::string::npos)
        return cell.substr(1);
    return cell;
}

std::string trimmed(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return std::string();
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// A number as the window wrote it: with a point, or with the decimal comma
// of the user's region.
std::optional<double> number(const std::string& cell) {
    std::string text = trimmed(cell);
    if (text.find('.') == std::string::npos) {
        const std::size_t comma = text.find(',');
        if (comma != std::string::npos && text.find(',', comma + 1) == std::string::npos)
            text[comma] = '.';
    }
    double value = 0;
    if (!tryTextToFloat(text, '.', value) || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Days of the Besselian year, and the Julian date of B1900.0.
constexpr double kBesselianYear = 365.242198781;
constexpr double kB1900 = 2415020.31352;

} // namespace

std::vector<CsvRecord> parseCsv(const std::string& text) {
    std::vector<CsvRecord> records;
    CsvRecord record;
    std::string field;
    bool quoted = false;     // inside a quoted field
    bool recordOpen = false; // something of the record has been read
    int line = 1;
    record.line = 1;
    const auto endField = [&] {
        record.fields.push_back(withoutFormulaGuard(field));
        field.clear();
    };
    const auto endRecord = [&] {
        if (recordOpen) {
            endField();
            records.push_back(std::move(record));
        }
        record = CsvRecord{};
        record.line = line;
        recordOpen = false;
    };
    std::size_t i = 0;
    // A byte order mark some editors put first.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n')
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == '"' && field.empty()) {
            quoted = recordOpen = true;
        } else if (c == ',') {
            endField();
            recordOpen = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++line;
            endRecord();
        } else {
            field += c;
            recordOpen = true;
        }
    }
    endRecord();
    return records;
}

std::optional<double> parseSexagesimal(const std::string& text) {
    std::string t = trimmed(text);
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t = trimmed(t.substr(1));
    }
    for (char& c : t)
        if (c == ':')
            c = ' ';
    std::istringstream in(t);
    std::string part;
    double value = 0;
    double unit = 1;
    int parts = 0;
    while (in >> part) {
        const std::optional<double> v = number(part);
        // Minutes and seconds below 60; no sign after the first field.
        if (!v || *v < 0 || (parts > 0 && *v >= 60) || parts == 3 || part[0] == '+' ||
            part[0] == '-')
            return std::nullopt;
        value += *v * unit;
        unit /= 60;
        ++parts;
    }
    if (parts == 0)
        return std::nullopt;
    return negative ? -value : value;
}

void readResultsCsv(const std::string& path, MeasureList& list) {
    // Not a folder, a device or a pipe, whose opening may wait for ever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw Error(path + (std::filesystem::exists(path, ec) ? ": not a file that can be read"
                                                              : ": no such file"));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error(path + ": the file cannot be read");
    // A results file grows by a line per saved measurement; one this large
    // is something else, and is not read into memory.
    constexpr std::streamoff kLargest = 256LL << 20;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size > kLargest)
        throw Error(path + ": the file is larger than 256 MB; is it a results.csv?");
    in.seekg(0, std::ios::beg);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Error(path + ": the file cannot be read");
    const std::vector<CsvRecord> records = parseCsv(text);
    if (records.empty())
        throw Error(path + ": the file is empty");
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < records[0].fields.size(); ++i)
        column.emplace(trimmed(records[0].fields[i]), i);
    for (const char* needed : {"designation", "Sep(rho)", "PA(theta)", "Epoch(B)"})
        if (!column.count(needed))
            throw Error(path + ": no column \"" + needed +
                        "\" in the first line; is it a results.csv?");
    const auto indexOf =
        [&](std::initializer_list<const char*> names) -> std::optional<std::size_t> {
        for (const char* name : names) {
            const auto it = column.find(name);
            if (it != column.end())
                return it->second;
        }
        return std::nullopt;
    };
    const auto sepStderr = indexOf({"separation_stderr"});
    const auto paStderr = indexOf({"position_angle_stderr"});
    const auto deltaMag = indexOf({"delta_magnitude", "delta_mag"});
    const auto julian = indexOf({"julian_date"});
    const auto ra = indexOf({"RA"});
    const auto dec = indexOf({"DEC"});
    const auto method = indexOf({"method"});
    const auto video = indexOf({"video"});

    for (std::size_t r = 1; r < records.size(); ++r) {
        const CsvRecord& rec = records[r];
        const auto cell = [&](std::optional<std::size_t> i) {
            return i && *i < rec.fields.size() ? rec.fields[*i] : std::string();
        };
        const auto numberIn = [&](std::optional<std::size_t> i) { return number(cell(i)); };
        const std::string where = path + " line " + std::to_string(rec.line);
        if (rec.fields.size() == 1 && trimmed(rec.fields[0]).empty())
            continue;
        SavedMeasure m;
        m.file = path;
        m.line = rec.line;
        m.designation = trimmed(cell(column["designation"]));
        bool usable = true;
        for (const auto& [name, target] :
             {std::pair<const char*, double*>{"Sep(rho)", &m.separation},
              {"PA(theta)", &m.positionAngle},
              {"Epoch(B)", &m.epoch}}) {
            const std::optional<double> v = numberIn(column[name]);
            if (!v) {
                list.skipped.push_back(where + ": '" + cell(column[name]) + "' in " + name +
                                       " is not a number; the row is left out");
                usable = false;
                break;
            }
            *target = *v;
        }
        if (!usable)
            continue;
        if (m.separation < 0) {
            list.skipped.push_back(where + ": a negative separation; the row is left out");
            continue;
        }
        m.positionAngle = wrapDegrees360(m.positionAngle);
        // Errors of 0 or below say nothing a weight could use.
        const auto positive = [](std::optional<double> v) {
            return v && *v > 0 ? v : std::nullopt;
        };
        m.separationStderr = positive(numberIn(sepStderr));
        m.positionAngleStderr = positive(numberIn(paStderr));
        m.deltaMagnitude = numberIn(deltaMag);
        const std::optional<double> jd = numberIn(julian);
        if (jd && *jd > 0) {
            // The epoch from the exact date: the saved one has 3 decimals.
            m.julianDate = *jd;
            m.epoch = 1900.0 + (*jd - kB1900) / kBesselianYear;
        } else {
            m.julianDate = kB1900 + (m.epoch - 1900.0) * kBesselianYear;
        }
        m.raText = trimmed(cell(ra));
        m.decText = trimmed(cell(dec));
        m.raHours = parseSexagesimal(m.raText);
        m.decDegrees = parseSexagesimal(m.decText);
        if (m.raHours && *m.raHours >= 24)
            m.raHours.reset();
        if (m.decDegrees && std::fabs(*m.decDegrees) > 90)
            m.decDegrees.reset();
        m.method = trimmed(cell(method));
        m.video = cell(video);
        list.measures.push_back(std::move(m));
    }
}

} // namespace corvane
