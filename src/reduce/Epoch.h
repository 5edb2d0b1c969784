#pragma once
// The epoch of an observation: the Julian and Besselian epochs of a date and
// time of day read as Universal Time, shown to 3 decimals.
#include <cstdint>

namespace corvane {

// A calendar date (Gregorian) and a time of day. Plain values: the window
// converts its own date-time type to this, the command-line tool fills it
// from its arguments.
struct CivilDateTime {
    int32_t year = 2006;
    int32_t month = 1; // 1..12
    int32_t day = 1;   // 1..days in the month
    int32_t hour = 12; // 0..23
    int32_t minute = 0;
    double second = 0; // 0 <= second < 60
};

// Whether the fields name a real date and time of day.
bool isValidDateTime(const CivilDateTime& t);

// Julian day number of a Gregorian date (Fliegel and Van Flandern, 1968),
// with every division an integer division truncating towards zero.
int32_t julianDayNumber(int32_t year, int32_t month, int32_t day);

// Astronomical Julian date: JDN - 0.5 + time of day / 24 hours.
double julianDate(const CivilDateTime& t);

// Edit17 "Epoch (J)" and Edit18 "(B)" show the epochs to 3 decimals.
struct EpochResult {
    double julianDate = 0;
    double julianEpoch = 0;
    double besselianEpoch = 0;
};

// J = 2000 + (JD - 2451545.0) / 365.25;
// B = 1900 + (JD - 2415020.31352) / 365.242198781.
EpochResult epoch(const CivilDateTime& t);

// The date and time moved by whole hours; crosses midnight, month and year
// ends (what "h+" and "h-" do).
CivilDateTime addHours(const CivilDateTime& t, int32_t hours);

} // namespace corvane
