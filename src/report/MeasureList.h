#pragma once
// The saved measurements as a report reads them back from results.csv: one
// entry per row, its columns found by their header names, so files written
// before a column existed and files with columns added later read alike.
#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct SavedMeasure {
    std::string file; // where the row came from, for the messages
    int line = 0;     // the row's first line in that file
    std::string designation;
    std::string raText, decText;   // as typed ("19 05 33", "+33 52 40")
    std::optional<double> raHours; // J2000, decimal hours; none when not typed
    std::optional<double> decDegrees;
    double epoch = 0;      // Besselian year
    double julianDate = 0; // of the observation (from the epoch in older files)
    double separation = 0; // arc-seconds
    double positionAngle = 0;
    std::optional<double> separationStderr;
    std::optional<double> positionAngleStderr;
    std::optional<double> deltaMagnitude;
    std::string method;
    std::string video;
};

struct MeasureList {
    std::vector<SavedMeasure> measures;
    // Rows that could not be used, each with the file, the line and why.
    std::vector<std::string> skipped;
};

// Adds the rows of the results.csv at `path` to `list`. A row whose position
// angle, separation or epoch cannot be read is left out with a message in
// `skipped`. Throws Error naming the file when it cannot be read at all or
// lacks one of the columns a report needs.
void readResultsCsv(const std::string& path, MeasureList& list);

// The fields of one CSV record set (RFC 4180: quoted fields may hold commas,
// doubled quotes and line ends; CR LF or LF line ends). Each record comes with
// the line it starts on. A text cell guarded against spreadsheet formulas
// ("'=...", "'+...") is given back without its apostrophe.
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};
std::vector<CsvRecord> parseCsv(const std::string& text);

// "HH MM SS.s" (or with colons, or fewer fields) as decimal hours, "+DD MM SS"
// as signed decimal degrees; none for a text that is not such a position
// (the window's "HH" and "+00"-style placeholders count as typed).
std::optional<double> parseSexagesimal(const std::string& text);

} // namespace corvane
