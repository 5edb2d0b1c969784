#include "reduce/Epoch.h"

#include "common/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;

namespace {

CivilDateTime at(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi = 0) {
    CivilDateTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = 0;
    return t;
}

// Meeus, Astronomical Algorithms, chapter 7: the Julian date from the
// calendar date with floors and the 30.6001 month factor, a different route
// from the day-number formula under test.
double meeusJulianDate(int y, int m, double dayWithFraction) {
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    const double a = std::floor(y / 100.0);
    const double b = 2 - a + std::floor(a / 4);
    return std::floor(365.25 * (y + 4716)) + std::floor(30.6001 * (m + 1)) + dayWithFraction + b -
           1524.5;
}

} // namespace

struct EpochCase {
    const char* name;
    CivilDateTime when;
    double julianDate;
    const char* julianText;
    const char* besselianText;
};

class EpochTexts : public ::testing::TestWithParam<EpochCase> {};

TEST_P(EpochTexts, AreShownWithThreeDecimals) {
    const EpochCase& c = GetParam();
    const EpochResult e = epoch(c.when);
    EXPECT_DOUBLE_EQ(e.julianDate, c.julianDate);
    EXPECT_EQ(formatRounded(e.julianEpoch, 3), c.julianText);
    EXPECT_EQ(formatRounded(e.besselianEpoch, 3), c.besselianText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EpochTexts,
    ::testing::ValuesIn(std::vector<EpochCase>{
        {"design_time_value", at(2006, 1, 1, 12), 2453737.0, "2006.001", "2006.003"},
        {"j2000", at(2000, 1, 1, 12), 2451545.0, "2000", "2000.001"},
        {"new_year_2006_midnight", at(2006, 1, 1, 0), 2453736.5, "2006", "2006.001"},
        {"hour_before_new_year", at(2005, 12, 31, 23), 2453736.5 - 1.0 / 24, "2006", "2006.001"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Epoch, UsesTheRegionalSeparator) {
    const EpochResult e = epoch(at(2006, 1, 1, 12));
    EXPECT_EQ(formatRounded(e.julianEpoch, 3, ','), "2006,001");
    EXPECT_EQ(formatRounded(e.besselianEpoch, 3, ','), "2006,003");
}

TEST(Epoch, MatchesPublishedEpochsOfJD2458310_5) {
    const EpochResult e = epoch(at(2018, 7, 11, 0));
    EXPECT_DOUBLE_EQ(e.julianDate, 2458310.5);
    EXPECT_NEAR(e.besselianEpoch, 2018.524603, 5e-7);
    EXPECT_NEAR(e.julianEpoch, 2018.522930, 5e-7);
    EXPECT_EQ(formatRounded(e.julianEpoch, 3), "2018.523");
    EXPECT_EQ(formatRounded(e.besselianEpoch, 3), "2018.525");
}

TEST(Epoch, JulianDateAgreesWithMeeusAcrossCenturiesAndLeapDays) {
    int checked = 0;
    for (int32_t y = 1583; y <= 2600; y += 7)
        for (int32_t m = 1; m <= 12; ++m)
            for (int32_t d : {1, 15, 28}) {
                EXPECT_EQ(julianDate(at(y, m, d, 6)), meeusJulianDate(y, m, d + 0.25))
                    << y << "-" << m << "-" << d;
                ++checked;
            }
    struct Day {
        int32_t y, m, d;
    };
    for (const Day& x : {Day{1600, 2, 29}, Day{1700, 2, 28}, Day{1700, 3, 1}, Day{1900, 2, 28},
                         Day{1900, 3, 1}, Day{2000, 2, 29}, Day{2000, 3, 1}, Day{2024, 2, 29},
                         Day{2100, 2, 28}, Day{2100, 3, 1}, Day{2400, 2, 29}, Day{1999, 12, 31}}) {
        EXPECT_EQ(julianDate(at(x.y, x.m, x.d, 18)), meeusJulianDate(x.y, x.m, x.d + 0.75))
            << x.y << "-" << x.m << "-" << x.d;
        ++checked;
    }
    EXPECT_GT(checked, 5000);
}

TEST(Epoch, ConsecutiveDaysAreOneDayApart) {
    CivilDateTime t = at(1895, 1, 1, 0);
    double previous = julianDate(t);
    for (int i = 0; i < 80000; ++i) {
        t = addHours(t, 24);
        const double jd = julianDate(t);
        ASSERT_EQ(jd - previous, 1.0) << t.year << "-" << t.month << "-" << t.day;
        previous = jd;
    }
}

TEST(Epoch, MinutesAndSecondsAreTheFractionOfTheDay) {
    CivilDateTime t = at(2006, 1, 1, 18, 30);
    t.second = 36;
    EXPECT_DOUBLE_EQ(julianDate(t), 2453737.0 + (6 * 3600 + 30 * 60 + 36) / 86400.0);
}

struct HourCase {
    const char* name;
    CivilDateTime from;
    int32_t hours;
    CivilDateTime to;
};

class AddHours : public ::testing::TestWithParam<HourCase> {};

TEST_P(AddHours, MovesTheWholeDateTime) {
    const HourCase& c = GetParam();
    const CivilDateTime r = addHours(c.from, c.hours);
    EXPECT_EQ(r.year, c.to.year);
    EXPECT_EQ(r.month, c.to.month);
    EXPECT_EQ(r.day, c.to.day);
    EXPECT_EQ(r.hour, c.to.hour);
    EXPECT_EQ(r.minute, c.to.minute);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddHours,
    ::testing::ValuesIn(std::vector<HourCase>{
        {"back_over_new_year", at(2006, 1, 1, 0), -1, at(2005, 12, 31, 23)},
        {"forward_over_midnight", at(2006, 1, 1, 23, 45), 1, at(2006, 1, 2, 0, 45)},
        {"into_leap_day", at(2024, 2, 28, 23), 1, at(2024, 2, 29, 0)},
        {"over_leap_day", at(2024, 2, 29, 23), 1, at(2024, 3, 1, 0)},
        {"no_leap_day_in_1900", at(1900, 2, 28, 23), 1, at(1900, 3, 1, 0)},
        {"back_over_month_end", at(2006, 5, 1, 0, 10), -1, at(2006, 4, 30, 23, 10)},
        {"same_hour", at(2006, 7, 4, 12), 0, at(2006, 7, 4, 12)},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Epoch, HourBeforeNewYear2006StillShows2006) {
    const EpochResult e = epoch(addHours(at(2006, 1, 1, 0), -1));
    EXPECT_NEAR(e.julianEpoch, 2005.99989, 1e-5);
    EXPECT_EQ(formatRounded(e.julianEpoch, 3), "2006");
}

TEST(Epoch, ValidatesDates) {
    EXPECT_TRUE(isValidDateTime(at(2024, 2, 29, 23, 59)));
    EXPECT_FALSE(isValidDateTime(at(2023, 2, 29, 0)));
    EXPECT_FALSE(isValidDateTime(at(1900, 2, 29, 0)));
    EXPECT_TRUE(isValidDateTime(at(2000, 2, 29, 0)));
    EXPECT_FALSE(isValidDateTime(at(2006, 13, 1, 0)));
    EXPECT_FALSE(isValidDateTime(at(2006, 4, 31, 0)));
    EXPECT_FALSE(isValidDateTime(at(2006, 4, 30, 24)));
}
