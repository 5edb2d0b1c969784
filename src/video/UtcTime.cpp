#include "video/UtcTime.h"

#include <cctype>
#include <cstdio>

namespace corvane {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil, exact for every year of the int range).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year, month, day;
};

// The inverse of daysFromCivil.
Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

// Day 1 of the tick count, 0001-01-01, counted from 1970-01-01.
constexpr int64_t kDayOfFirstTick = -719162;

bool leap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int64_t m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Reads exactly `count` digits at text[pos]; -1 when they are not all digits.
int64_t digits(const std::string& text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size())
        return -1;
    int64_t v = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

} // namespace

int64_t ticksFromCivil(int year, int month, int day, int hour, int minute, int second,
                       int64_t fractionTicks) {
    const int64_t days = daysFromCivil(year, month, day) - kDayOfFirstTick;
    return days * kTicksPerDay + (int64_t{hour} * 3600 + minute * 60 + second) * kTicksPerSecond +
           fractionTicks;
}

std::optional<int64_t> parseIsoTime(const std::string& raw) {
    std::string text = raw;
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    const int64_t y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || text.size() < 10 || text[4] != '-' ||
        text[7] != '-' || d > daysInMonth(y, mo))
        return std::nullopt;
    if (text.size() == 10)
        return ticksFromCivil(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d), 0, 0,
                              0);
    const int64_t h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':' || h < 0 ||
        h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60)
        return std::nullopt;
    int64_t fraction = 0;
    if (text.size() > 19) {
        if (text[19] != '.' || text.size() == 20)
            return std::nullopt;
        int64_t scale = kTicksPerSecond / 10;
        for (std::size_t i = 20; i < text.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i])))
                return std::nullopt;
            fraction += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    return ticksFromCivil(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d),
                          static_cast<int>(h), static_cast<int>(mi), static_cast<int>(s), fraction);
}

std::string isoTimeOf(int64_t ticks) {
    int64_t days = ticks / kTicksPerDay;
    int64_t rest = ticks % kTicksPerDay;
    if (rest < 0) {
        rest += kTicksPerDay;
        --days;
    }
    const Civil c = civilFromDays(days + kDayOfFirstTick);
    const int64_t seconds = rest / kTicksPerSecond;
    const int64_t micro = rest % kTicksPerSecond / kTicksPerMicrosecond;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lld",
                  static_cast<long long>(c.year), static_cast<long long>(c.month),
                  static_cast<long long>(c.day), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(micro));
    return buf;
}

} // namespace corvane
