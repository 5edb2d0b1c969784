// corvane-report: the measurements saved in one or more results.csv files,
// combined per pair and per night, written as the tables and the listing
// observers pass on. Prints the Markdown table when no file is asked for.
//
// Exit status: 0 a report, 1 an error (a file that cannot be read or
// written, no measurement), 2 a usage error.
#include "common/Error.h"
#include "common/Version.h"
#include "report/ReportFiles.h"

#include <iostream>
#include <string>
#include <vector>

using namespace corvane;

namespace {

const char* const kUsage =
    "usage: corvane-report RESULTS.csv... [options]\n"
    "Combines the saved measurements per pair (the same designation, or typed\n"
    "positions within 30\") and per night (within 12 hours): mean epoch, position\n"
    "angle and separation with their spread and standard errors. A measurement\n"
    "more than 3 standard deviations from the others of its pair is flagged.\n"
    "  --csv FILE            the table as CSV\n"
    "  --markdown FILE       the table in Markdown\n"
    "  --html FILE           one page with the table and a plot per pair\n"
    "  --wds FILE            the pairs in the WDS's listing of measures (needs\n"
    "                        --method-code)\n"
    "  --method-code CODE    the WDS method code for the listing (e.g. Ca)\n"
    "  --aperture INCHES, --observer NAME\n"
    "                        the listing's other last-column entries\n"
    "  --help, --version     print this text or the version and exit\n"
    "Without --csv, --markdown, --html or --wds the Markdown table goes to stdout.\n"
    "Rows left out and flagged measurements are told on stderr.\n";

struct UsageError {
    std::string text;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    ReportRequest request;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            const auto value = [&]() -> std::string {
                if (i + 1 >= args.size())
                    throw UsageError{a + " needs a value"};
                return args[++i];
            };
            if (a == "--help") {
                std::cout << kUsage;
                return 0;
            }
            if (a == "--version") {
                std::cout << "corvane-report " << kVersion << "\n";
                return 0;
            }
            if (a == "--csv")
                request.csv = value();
            else if (a == "--markdown")
                request.markdown = value();
            else if (a == "--html")
                request.html = value();
            else if (a == "--wds")
                request.wds = value();
            else if (a == "--method-code")
                request.listing.methodCode = value();
            else if (a == "--aperture")
                request.listing.aperture = value();
            else if (a == "--observer")
                request.listing.observer = value();
            else if (a.size() > 1 && a[0] == '-')
                throw UsageError{"unknown option " + a};
            else
                request.inputs.push_back(a);
        }
        if (request.inputs.empty())
            throw UsageError{"no results.csv given"};
        if (!request.wds.empty() && request.listing.methodCode.empty())
            throw UsageError{"--wds needs --method-code"};
    } catch (const UsageError& e) {
        std::cerr << "corvane-report: " << e.text << "\nTry 'corvane-report --help'.\n";
        return 2;
    }
    try {
        const bool toStdout = request.csv.empty() && request.markdown.empty() &&
                              request.html.empty() && request.wds.empty();
        const ReportOutcome out = makeReport(request);
        for (const std::string& s : out.skipped)
            std::cerr << s << "\n";
        for (const std::string& f : out.flags)
            std::cerr << "Flagged: " << f << "\n";
        if (toStdout)
            std::cout << reportMarkdown(out.pairs);
        for (const std::string& w : out.written)
            std::cerr << "Written: " << w << "\n";
        return 0;
    } catch (const Error& e) {
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
