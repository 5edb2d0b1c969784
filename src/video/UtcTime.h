#pragma once
// Points in time as the SER format stores them: 100-ns ticks since
// 0001-01-01 00:00:00 on the proleptic Gregorian calendar. Both the SER and the
// FITS readers give their frame times in these ticks, so a frame's time is
// exact to the file's own resolution (SER stamps are ticks; FITS DATE-OBS
// goes to the microsecond at most).
#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

inline constexpr int64_t kTicksPerMicrosecond = 10;
inline constexpr int64_t kTicksPerSecond = 10'000'000;
inline constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;

// Ticks of a calendar date and time of day (UTC); `fractionTicks` adds the
// part of the second. No range check beyond what the caller gives.
int64_t ticksFromCivil(int year, int month, int day, int hour, int minute, int second,
                       int64_t fractionTicks = 0);

// Reads "YYYY-MM-DD", "YYYY-MM-DDThh:mm:ss" and "YYYY-MM-DDThh:mm:ss.f..."
// (any number of fraction digits; those beyond the tick are dropped), as FITS
// writes DATE-OBS. Nothing for any other text or an impossible date.
std::optional<int64_t> parseIsoTime(const std::string& text);

// "YYYY-MM-DDThh:mm:ss.ffffff" (microseconds, truncated) of a tick count.
std::string isoTimeOf(int64_t ticks);

} // namespace corvane
