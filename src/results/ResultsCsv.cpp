#include "results/ResultsCsv.h"

namespace corvane {

namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::string buildResultsCsvRow(const ResultsCsvFields& f) {
    const ResultsFields& l = f.line;
    const std::string fields[] = {
        l.recordDate,
        l.designation,
        l.raHours + ' ' + l.raMinutes + ' ' + l.raSeconds,
        l.decDegrees + ' ' + l.decMinutes + ' ' + l.decSeconds,
        l.epochJ,
        l.epochB,
        l.separation,
        l.positionAngle,
        std::to_string(l.validFrames),
        l.notes,
        f.separationStderr,
        f.positionAngleStderr,
        f.pixelScale,
        f.pixelScaleStderr,
        f.driftAngleStderr,
        f.sepPxSd,
        f.screenAngleSd,
        std::to_string(f.framesMeasured),
        std::to_string(f.framesAccepted),
        std::to_string(f.framesClipped),
        f.method,
        f.video,
        f.timeFrom,
        f.timeTo,
        f.calibration,
        f.quadrant,
        f.quadrantConfidence,
        f.deltaMag,
        f.deltaMagStderr,
        f.julianDate,
        f.orientation,
        std::to_string(f.frameFrom),
        std::to_string(f.frameTo),
        f.framesEffective,
    };
    std::string row;
    for (const std::string& field : fields) {
        if (&field != &fields[0])
            row += ',';
        row += csvField(field);
    }
    return row;
}

} // namespace corvane
