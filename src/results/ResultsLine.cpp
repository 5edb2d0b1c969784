#include "results/ResultsLine.h"

#include <clocale>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace corvane {

std::string buildResultsLine(const ResultsFields& f) {
    std::string line;
    line += f.recordDate + '\t';
    line += f.designation + '\t';
    line += f.raHours + ' ' + f.raMinutes + ' ' + f.raSeconds + '\t';
    line += f.decDegrees + ' ' + f.decMinutes + ' ' + f.decSeconds + '\t';
    line += f.epochJ + '\t';
    line += f.epochB + '\t';
    line += f.separation + '\t';
    line += f.positionAngle + '\t';
    line += std::to_string(f.validFrames) + '\t';
    line += f.notes;
    return line;
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
