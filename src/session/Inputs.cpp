#include "session/Inputs.h"

#include "common/Error.h"
#include "common/NumberText.h"

#include <cmath>
#include <cstdio>

namespace corvane {

namespace {

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

double boxValue(RequestField field, const std::string& text, char sep) {
    double v = 0;
    if (!tryTextToFloat(text, sep, v) || !std::isfinite(v))
        throw RequestError(field, "'" + text + "' is not a number");
    return v;
}

double checkPart(RequestField field, const std::string& text, char sep, const char* unit) {
    const double v = boxValue(field, text, sep);
    if (!(v >= 0 && v < 60))
        throw RequestError(field, trimmed(text) + " is not 0 to under 60 " + unit);
    return v;
}

bool south(const std::string& degrees) {
    const std::string t = trimmed(degrees);
    return !t.empty() && t[0] == '-';
}

} // namespace

long double declinationMagnitude(const std::string& decDegrees, const std::string& decMinutes,
                                 const std::string& decSeconds, char sep) {
    const long double dd = textToFloat(decDegrees, sep);
    const long double mm = textToFloat(decMinutes, sep);
    const long double ss = decSeconds.empty() ? 0.0L : textToFloat(decSeconds, sep);
    const long double dec = std::fabs(dd) + mm / 60.0L + ss / 3600.0L;
    if (!(std::fabs(dec) < 90.0L))
        throw Error("The declination " + decDegrees + " " + decMinutes + " " + decSeconds +
                    " is not between -90 and +90 degrees; at the pole the stars do not drift. "
                    "Correct the Dec boxes.");
    return dec;
}

void checkDeclination(const std::string& degrees, const std::string& minutes,
                      const std::string& seconds, char sep) {
    const double d = boxValue(RequestField::DecDegrees, degrees, sep);
    if (!(std::fabs(d) <= 90))
        throw RequestError(RequestField::DecDegrees,
                           trimmed(degrees) + " is not -90 to +90 degrees");
    const double m = checkPart(RequestField::DecMinutes, minutes, sep, "minutes");
    const double s = trimmed(seconds).empty()
                         ? 0.0
                         : checkPart(RequestField::DecSeconds, seconds, sep, "seconds");
    // Only the size counts: the drift slows towards either pole.
    if (!(std::fabs(d) + m / 60.0 + s / 3600.0 < 90.0))
        throw RequestError(RequestField::DecDegrees,
                           trimmed(degrees) + " " + trimmed(minutes) + " " + trimmed(seconds) +
                               " lies at the pole, where the stars do not drift");
}

DeclinationTexts declinationTexts(const std::string& degrees, const std::string& minutes,
                                  const std::string& seconds, char sep) {
    const long double size = declinationMagnitude(degrees, minutes, trimmed(seconds), sep);
    const long long tenths = std::llround(size * 36000.0L);
    const long long d = tenths / 36000, m = tenths / 600 % 60, s = tenths % 600;
    char text[48];
    DeclinationTexts out;
    std::snprintf(text, sizeof text, "%c%02lld", south(degrees) ? '-' : '+', d);
    out.degrees = text;
    std::snprintf(text, sizeof text, "%02lld", m);
    out.minutes = text;
    if (s % 10 == 0)
        std::snprintf(text, sizeof text, "%02lld", s / 10);
    else
        std::snprintf(text, sizeof text, "%02lld%c%lld", s / 10, sep, s % 10);
    out.seconds = text;
    return out;
}

void checkDeclinationBeforeRun(const ReductionSettings& settings, bool calibrated) {
    if (calibrated)
        return;
    if (!settings.declinationGiven)
        throw RequestError(RequestField::DecDegrees,
                           "the pair's declination is needed for this video, since the pixel "
                           "scale rests on it");
    checkDeclination(settings.decDegrees, settings.decMinutes, settings.decSeconds,
                     settings.decimalSeparator);
}

void checkRange(int32_t startFrame, int32_t stopFrame, int32_t length) {
    if (startFrame < 0 || startFrame > length)
        throw RequestError(RequestField::StartFrame, std::to_string(startFrame) +
                                                         " lies beyond the video's last position " +
                                                         std::to_string(length));
    if (stopFrame < 0 || stopFrame > length)
        throw RequestError(RequestField::StopFrame, std::to_string(stopFrame) +
                                                        " lies beyond the video's last position " +
                                                        std::to_string(length));
    // A video without frames has nothing to measure whatever the range.
    if (length > 0 && stopFrame <= startFrame)
        throw RequestError(RequestField::StopFrame,
                           std::to_string(stopFrame) + " is not after the start frame " +
                               std::to_string(startFrame) + ": there is nothing to measure");
}

} // namespace corvane
