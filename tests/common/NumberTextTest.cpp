#include "common/NumberText.h"
#include "common/Angles.h"
#include "common/Error.h"
#include "common/Rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace corvane;

namespace {

struct FormatCase {
    const char* name;
    double value;
    const char* point;
    const char* comma;
};

const FormatCase kFormatCases[] = {
    {"zero", 0.0, "0", "0"},
    {"negative_zero", -0.0, "0", "0"},
    {"trailing_zeros_dropped", 12.50, "12.5", "12,5"},
    {"whole_number_has_no_separator", 2000.0, "2000", "2000"},
    {"negative", -30.25, "-30.25", "-30,25"},
    {"fifteen_digits", 0.1234567890123456, "0.123456789012346", "0,123456789012346"},
    {"smallest_fixed", 0.00001, "0.00001", "0,00001"},
    {"below_fixed_is_scientific", 0.000001, "1E-6", "1E-6"},
    {"large_scientific", 1.5e20, "1.5E20", "1,5E20"},
    {"negative_small_scientific", -2.5e-8, "-2.5E-8", "-2,5E-8"},
    {"fifteen_integer_digits_stay_fixed", 123456789012345.0, "123456789012345", "123456789012345"},
    {"sixteen_integer_digits_go_scientific", 1234567890123456.0, "1.23456789012346E15",
     "1,23456789012346E15"},
};

class FormatGeneral : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatGeneral, WritesTheGeneralFormatWithEitherSeparator) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(formatGeneral(c.value, '.'), c.point);
    EXPECT_EQ(formatGeneral(c.value, ','), c.comma);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatGeneral, ::testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormatGeneralFloat, ShowsTheWideningOfA32BitValue) {
    EXPECT_EQ(formatGeneral(0.1f), "0.100000001490116");
}

TEST(DisplayRounding, RoundsHalfToEvenAndDropsZeros) {
    EXPECT_EQ(formatRounded(12.3456, 2), "12.35");
    EXPECT_EQ(formatRounded(2.000049, 4), "2");
    EXPECT_EQ(formatRounded(2000.0, 3), "2000");
    EXPECT_EQ(formatRounded(2.5, 0), "2");
    EXPECT_EQ(formatRounded(3.5, 0), "4");
    EXPECT_EQ(formatRounded(-0.001, 2), "0");
}

TEST(RoundHalfEven, SendsTiesToTheEvenInteger) {
    EXPECT_EQ(roundToInt(6.5L), 6);
    EXPECT_EQ(roundToInt(7.5L), 8);
    EXPECT_EQ(roundToInt(-2.5L), -2);
    EXPECT_EQ(roundToInt(2.5000001L), 3);
}

// Each wrap of one input: into [0, 360), (-180, 180], (-90, 270], (-90, 90],
// [0, 180).
struct WrapCase {
    const char* name;
    double degrees, turn, difference, drift, axial, line;
};

const WrapCase kWrapCases[] = {
    {"inside_every_range", 45.25, 45.25, 45.25, 45.25, 45.25, 45.25},
    {"negative", -30.0, 330.0, -30.0, -30.0, -30.0, 150.0},
    {"exactly_360_is_0", 360.0, 0.0, 0.0, 0.0, 0.0, 0.0},
    {"exactly_180", 180.0, 180.0, 180.0, 180.0, 0.0, 0.0},
    {"exactly_minus_180", -180.0, 180.0, 180.0, 180.0, 0.0, 0.0},
    {"exactly_minus_90", -90.0, 270.0, -90.0, 270.0, 90.0, 90.0},
    {"exactly_270", 270.0, 270.0, -90.0, 270.0, 90.0, 90.0},
    {"several_turns_out", 1085.5, 5.5, 5.5, 5.5, 5.5, 5.5},
    {"several_turns_back", -1085.5, 354.5, -5.5, -5.5, -5.5, 174.5},
    {"huge_is_reduced_exactly", 1e17, 280.0, -80.0, -80.0, -80.0, 100.0},
    {"hair_below_0_is_0_not_360", -1e-20, 0.0, -1e-20, -1e-20, -1e-20, 0.0},
};

class AngleWrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(AngleWrap, BringsTheAngleIntoEachRange) {
    const WrapCase& c = GetParam();
    EXPECT_EQ(wrapDegrees360(c.degrees), c.turn);
    EXPECT_EQ(wrapDegrees180(c.degrees), c.difference);
    EXPECT_EQ(wrapDriftDegrees(c.degrees), c.drift);
    EXPECT_EQ(wrapAxialDegrees(c.degrees), c.axial);
    EXPECT_EQ(wrapLineDegrees(c.degrees), c.line);
    EXPECT_EQ(wrapDegrees360(static_cast<long double>(c.degrees)),
              static_cast<long double>(c.turn));
}

INSTANTIATE_TEST_SUITE_P(Cases, AngleWrap, ::testing::ValuesIn(kWrapCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AngleWrap, KeepsTheSignOfZeroAndGivesNaNForNoAngle) {
    EXPECT_TRUE(std::signbit(wrapDegrees360(-0.0)));
    EXPECT_TRUE(std::signbit(wrapDegrees180(-0.0)));
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(std::isnan(wrapDegrees360(bad)));
        EXPECT_TRUE(std::isnan(wrapDegrees180(bad)));
        EXPECT_TRUE(std::isnan(wrapDriftDegrees(bad)));
        EXPECT_TRUE(std::isnan(wrapAxialDegrees(bad)));
        EXPECT_TRUE(std::isnan(wrapLineDegrees(bad)));
    }
}

// An angle moved by half turns to the side of its line nearest an axis.
struct NearAxisCase {
    const char* name;
    double degrees, axis, near;
};

const NearAxisCase kNearAxisCases[] = {
    // Kept as it is, not rebuilt from the axis (40.7 + (0.1 - 40.7) is not 0.1).
    {"near_is_kept_bit_for_bit", 0.1, 40.7, 0.1},
    {"across_the_wrap_above", 80.5, -60.0, -99.5},
    {"across_the_wrap_below", -85.25, 60.0, 94.75},
    {"a_right_angle_above_stays", 100.0, 10.0, 100.0},
    {"a_right_angle_below_moves", -80.0, 10.0, 100.0},
    {"turns_away_comes_back", 300.0, 0.0, -60.0},
};

class NearAxis : public ::testing::TestWithParam<NearAxisCase> {};

TEST_P(NearAxis, MovesByHalfTurnsOnly) {
    const NearAxisCase& c = GetParam();
    EXPECT_EQ(nearAxisDegrees(c.degrees, c.axis), c.near);
}

INSTANTIATE_TEST_SUITE_P(Cases, NearAxis, ::testing::ValuesIn(kNearAxisCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextToFloat, AcceptsTheStandardShapes) {
    EXPECT_DOUBLE_EQ(textToFloat("  -12.5  "), -12.5);
    EXPECT_DOUBLE_EQ(textToFloat("+5"), 5.0);
    EXPECT_DOUBLE_EQ(textToFloat(".5"), 0.5);
    EXPECT_DOUBLE_EQ(textToFloat("5."), 5.0);
    EXPECT_DOUBLE_EQ(textToFloat("1e3"), 1000.0);
    EXPECT_DOUBLE_EQ(textToFloat("1E-3"), 0.001);
    EXPECT_DOUBLE_EQ(textToFloat("+00"), 0.0);
    EXPECT_DOUBLE_EQ(textToFloat("1,25", ','), 1.25);
    EXPECT_EQ(textToFloat("1e-400"), 0.0);
}

TEST(TextToFloat, RejectsEverythingElseWithTheConversionMessage) {
    const char* bad[] = {"",    "   ", "+",   "-.",    ".",      "+-5",   "1.2.3", "1e",  "1e+",
                         "abc", "nan", "inf", "1e400", "-1e400", "1 000", "0x10",  "12a", "1,5"};
    for (const char* text : bad) {
        try {
            textToFloat(text, '.');
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

TEST(TextToFloat, TheSeparatorIsTheOneGiven) {
    EXPECT_THROW(textToFloat("1.5", ','), Error);
    EXPECT_THROW(textToFloat("1,5", '.'), Error);
}

TEST(TextToFloat, AVeryLongTextIsRejectedNotCrashed) {
    EXPECT_THROW(textToFloat(std::string(10000, '9') + "x"), Error);
    EXPECT_THROW(textToFloat(std::string(10000, '9')), Error); // 1e10000 is out of range
}

TEST(TextToInt, ReadsDecimal32BitIntegers) {
    EXPECT_EQ(textToInt("12"), 12);
    EXPECT_EQ(textToInt(" -7 "), -7);
    EXPECT_EQ(textToInt("2147483647"), 2147483647);
    EXPECT_EQ(textToInt("-2147483648"), -2147483647 - 1);
    for (const char* text : {"", "2147483648", "1.0", "x", "-", "99999999999999999999"}) {
        try {
            textToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

} // namespace
