#include "results/ResultsLine.h"

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

} // namespace corvane
