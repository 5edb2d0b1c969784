#include "results/ResultsCsv.h"

#include <cstddef>

namespace corvane {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0 when the bytes
// there are not one (a stray byte, an overlong form, a surrogate, a code
// point past U+10FFFF, a sequence cut short).
std::size_t utf8Length(const std::string& s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b = byte(at);
    if (b < 0x80)
        return 1;
    std::size_t n;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (at + n > s.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return n;
}

const char* const kReplacement = "\xEF\xBF\xBD"; // U+FFFD

std::string validUtf8(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = utf8Length(text, at);
        if (n == 0) {
            out += kReplacement;
            ++at;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out;
}

bool startsAFormula(const std::string& text) {
    return !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos;
}

// A coordinate as typed: digits, signs, spaces, points, colons and commas.
bool looksLikeCoordinate(const std::string& text) {
    return text.find_first_not_of("0123456789+-., :") == std::string::npos;
}

// A text cell that a spreadsheet would take for a formula keeps its text
// behind an apostrophe, the usual guard; coordinates such as "+45 00 00"
// stay as they were typed.
std::string textCell(const std::string& text, bool coordinate = false) {
    const std::string valid = validUtf8(text);
    if (startsAFormula(valid) && !(coordinate && looksLikeCoordinate(valid)))
        return "'" + valid;
    return valid;
}

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
        textCell(l.designation),
        textCell(l.raHours + ' ' + l.raMinutes + ' ' + l.raSeconds, true),
        textCell(l.decDegrees + ' ' + l.decMinutes + ' ' + l.decSeconds, true),
        l.epochJ,
        l.epochB,
        l.separation,
        l.positionAngle,
        std::to_string(l.validFrames),
        textCell(l.notes),
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
        textCell(f.video),
        f.timeFrom,
        f.timeTo,
        textCell(f.calibration),
        f.quadrant,
        f.quadrantConfidence,
        f.deltaMag,
        f.deltaMagStderr,
        f.julianDate,
        f.orientation,
        std::to_string(f.frameFrom),
        std::to_string(f.frameTo),
        f.framesEffective,
        f.artificialSepBias,
        f.artificialSepBiasStderr,
        f.artificialPaBias,
        f.artificialPaBiasStderr,
        f.artificialCopies,
        f.biasCorrected,
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

namespace corvane {

std::vector<std::string> fieldsNotUtf8(const ResultsFields& typed, const std::string& video) {
    std::vector<std::string> names;
    const auto check = [&](const std::string& text, const char* name) {
        if (validUtf8(text) != text)
            names.push_back(name);
    };
    check(typed.designation, "designation");
    check(typed.raHours + typed.raMinutes + typed.raSeconds, "RA");
    check(typed.decDegrees + typed.decMinutes + typed.decSeconds, "Dec");
    check(typed.notes, "notes");
    check(video, "video name");
    return names;
}

} // namespace corvane
