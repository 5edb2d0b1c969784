#include "reduce/Epoch.h"

#include <cmath>

namespace corvane {

namespace {

constexpr double kJ2000 = 2451545.0;            // Julian date of J2000.0
constexpr double kJulianYear = 365.25;          // days
constexpr double kB1900 = 2415020.31352;        // Julian date of B1900.0
constexpr double kTropicalYear = 365.242198781; // days
constexpr double kSecondsPerDay = 86400.0;

bool isLeapYear(int32_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int32_t daysInMonth(int32_t y, int32_t m) {
    static const int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Inverse of julianDayNumber (Fliegel and Van Flandern's companion formula).
void dateOfDayNumber(int64_t jdn, int32_t& year, int32_t& month, int32_t& day) {
    int64_t l = jdn + 68569;
    const int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const int64_t j = 80 * l / 2447;
    day = static_cast<int32_t>(l - 2447 * j / 80);
    l = j / 11;
    month = static_cast<int32_t>(j + 2 - 12 * l);
    year = static_cast<int32_t>(100 * (n - 49) + i + l);
}

} // namespace

bool isValidDateTime(const CivilDateTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= daysInMonth(t.year, t.month) &&
           t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0.0 &&
           t.second < 60.0;
}

int32_t julianDayNumber(int32_t y, int32_t m, int32_t d) {
    const int32_t a = (m - 14) / 12;
    return 1461 * (y + 4800 + a) / 4 + 367 * (m - 2 - 12 * a) / 12 -
           3 * ((y + 4900 + a) / 100) / 4 + d - 32075;
}

double julianDate(const CivilDateTime& t) {
    const double dayFraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / kSecondsPerDay;
    return julianDayNumber(t.year, t.month, t.day) - 0.5 + dayFraction;
}

EpochResult epoch(const CivilDateTime& t) {
    EpochResult out;
    out.julianDate = julianDate(t);
    out.besselianEpoch = (out.julianDate - kB1900) / kTropicalYear + 1900.0;
    out.julianEpoch = (out.julianDate - kJ2000) / kJulianYear + 2000.0;
    return out;
}

CivilDateTime addHours(const CivilDateTime& t, int32_t hours) {
    // Whole hours since the start of the day number's day, floored into days.
    const int64_t totalHours =
        static_cast<int64_t>(julianDayNumber(t.year, t.month, t.day)) * 24 + t.hour + hours;
    int64_t jdn = totalHours / 24;
    int64_t hour = totalHours % 24;
    if (hour < 0) {
        hour += 24;
        jdn -= 1;
    }
    CivilDateTime out = t;
    dateOfDayNumber(jdn, out.year, out.month, out.day);
    out.hour = static_cast<int32_t>(hour);
    return out;
}

} // namespace corvane
