#include "results/ResultsLine.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace corvane {

namespace {

bool breaksColumns(char c) {
    return c == '\t' || c == '\r' || c == '\n';
}

// A field as one column of the line: tabs and line ends become spaces.
std::string column(std::string text) {
    std::replace_if(text.begin(), text.end(), breaksColumns, ' ');
    return text;
}

bool holdsBreaks(const std::string& text) {
    return std::any_of(text.begin(), text.end(), breaksColumns);
}

} // namespace

std::string buildResultsLine(const ResultsFields& f) {
    std::string line;
    line += column(f.recordDate) + '\t';
    line += column(f.designation) + '\t';
    line += column(f.raHours + ' ' + f.raMinutes + ' ' + f.raSeconds) + '\t';
    line += column(f.decDegrees + ' ' + f.decMinutes + ' ' + f.decSeconds) + '\t';
    line += column(f.epochJ) + '\t';
    line += column(f.epochB) + '\t';
    line += column(f.separation) + '\t';
    line += column(f.positionAngle) + '\t';
    line += std::to_string(f.validFrames) + '\t';
    line += column(f.notes);
    return line;
}

std::vector<std::string> typedFieldsWithBreaks(const ResultsFields& f) {
    std::vector<std::string> names;
    if (holdsBreaks(f.designation))
        names.push_back("designation");
    if (holdsBreaks(f.raHours + f.raMinutes + f.raSeconds))
        names.push_back("RA");
    if (holdsBreaks(f.decDegrees + f.decMinutes + f.decSeconds))
        names.push_back("Dec");
    if (holdsBreaks(f.notes))
        names.push_back("notes");
    return names;
}

std::string formatShortDateFallback(int32_t year, int32_t month, int32_t day) {
    int32_t yy = year % 100;
    if (yy < 0)
        yy += 100;
    const std::string twoDigits = (yy < 10 ? "0" : "") + std::to_string(yy);
    return std::to_string(month) + "/" + std::to_string(day) + "/" + twoDigits;
}

std::string recordDateToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::string text;
    if (const locale_t user = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr))) {
        const char* name = ::nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), user);
        const bool plain = !name || std::strcmp(name, "C") == 0 ||
                           std::strcmp(name, "POSIX") == 0 || std::strncmp(name, "C.", 2) == 0;
        char buffer[64];
        if (!plain && ::strftime_l(buffer, sizeof buffer, "%x", &local, user) > 0)
            text = buffer;
        ::freelocale(user);
    }
    if (text.empty())
        text = formatShortDateFallback(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

} // namespace corvane
