#pragma once
// A report of saved measurements in the forms observers pass on: a CSV
// table, a Markdown table, one HTML page with the table and a plot per pair,
// and the column layout of the WDS's listing of measures. corvane-report
// and the window's File > Report... both make their files here.
#include "report/PairSummary.h"

#include <string>
#include <vector>

namespace corvane {

// What goes into the last column of the WDS listing ("Aperture, Method and
// Observer"), each as given; the method code is the WDS's (e.g. "Ca").
struct ListingColumns {
    std::string aperture; // inches
    std::string methodCode;
    std::string observer;
};

std::string reportCsv(const std::vector<PairReport>& pairs);
std::string reportMarkdown(const std::vector<PairReport>& pairs);
// A page that needs nothing beyond itself: styles and plots inline.
std::string reportHtml(const std::vector<PairReport>& pairs, const std::string& title);
// One line per pair over all its nights, under the listing's header.
std::string wdsListing(const std::vector<PairReport>& pairs, const ListingColumns& columns);

// The flagged measurements, one line each: the pair, the file and line, the
// video and how far it lies from the others.
std::vector<std::string> flagTexts(const std::vector<PairReport>& pairs);

struct ReportRequest {
    std::vector<std::string> inputs; // results.csv files
    // Files to write; an empty name: not that one.
    std::string csv, markdown, html, wds;
    ListingColumns listing;
};

struct ReportOutcome {
    std::vector<PairReport> pairs;
    std::vector<std::string> skipped; // rows left out, and why
    std::vector<std::string> flags;   // see flagTexts
    std::vector<std::string> written; // the files written
};

// Reads every input, combines the measurements and writes the files asked
// for, each whole or not at all. Throws Error naming the file for an input
// that cannot be read or an output that cannot be written, and when the
// inputs hold no usable measurement.
ReportOutcome makeReport(const ReportRequest& request);

// Round to `decimals` with a point. A position angle is first brought into
// one turn, and one that rounds to "360.0" reads "0.0".
std::string fixed(double value, int decimals);
std::string fixedAngle(double degrees, int decimals);

} // namespace corvane
