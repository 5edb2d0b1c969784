// What a user can type into a number box, hostile or careless: each text
// gives the right number or the conversion message, never a NaN, an
// infinity or a crash, whichever decimal separator the desktop uses.
#include "common/Error.h"
#include "common/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;

namespace {

struct TypedCase {
    std::string name;
    std::string text;
    char separator;
    bool accepted;
    double value; // when accepted
};

std::string many(std::size_t n, char c) {
    return std::string(n, c);
}

// The 10,000-character texts: long, and each either a sound number or not.
const std::vector<TypedCase> kTypedCases = {
    {"empty_point", "", '.', false, 0},
    {"empty_comma", "", ',', false, 0},
    {"only_spaces", "     ", '.', false, 0},
    {"spaces_around_point", "  1.5  ", '.', true, 1.5},
    {"spaces_around_comma", "  1,5  ", ',', true, 1.5},
    {"tab_and_newline_around", "\t-2.25\r\n", '.', true, -2.25},
    {"space_inside", "1 5", '.', false, 0},
    {"plus_minus", "+-5", '.', false, 0},
    {"minus_plus", "-+5", ',', false, 0},
    {"double_minus", "--5", '.', false, 0},
    {"lone_sign", "-", '.', false, 0},
    {"overflow", "1e400", '.', false, 0},
    {"negative_overflow", "-1e400", ',', false, 0},
    {"just_over_the_largest_double", "1.8e308", '.', false, 0},
    {"largest_double", "1.7976931348623157e308", '.', true, 1.7976931348623157e308},
    {"underflow_is_zero", "1e-400", '.', true, 0.0},
    {"nan", "nan", '.', false, 0},
    {"NaN", "NaN", ',', false, 0},
    {"negative_nan", "-nan", '.', false, 0},
    {"inf", "inf", '.', false, 0},
    {"negative_inf", "-inf", ',', false, 0},
    {"Infinity", "Infinity", '.', false, 0},
    {"hex", "0x1p3", '.', false, 0},
    {"comma_where_point_is_the_separator", "1,5", '.', false, 0},
    {"point_where_comma_is_the_separator", "1.5", ',', false, 0},
    {"point_with_point", "1.5", '.', true, 1.5},
    {"comma_with_comma", "1,5", ',', true, 1.5},
    {"thousands_grouping_point", "1,000.5", '.', false, 0},
    {"thousands_grouping_comma", "1.000,5", ',', false, 0},
    {"exponent_with_comma", "2,5E2", ',', true, 250},
    {"ten_thousand_nines", many(10000, '9'), '.', false, 0},
    {"ten_thousand_characters_of_noise", many(10000, 'x'), '.', false, 0},
    {"ten_thousand_leading_zeros", many(9998, '0') + "15", '.', true, 15},
    {"ten_thousand_leading_spaces", many(9999, ' ') + "7", ',', true, 7},
    {"ten_thousand_decimals", "0," + many(9997, '3') + "4", ',', true, 1.0 / 3.0},
    {"ten_thousand_digits_after_a_tiny_exponent", many(9990, '1') + "e-9999", '.', true,
     1.1111111111111111e-10},
};

class TypedNumber : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedNumber, GivesTheNumberOrTheConversionMessage) {
    const TypedCase& c = GetParam();
    double v = 0;
    try {
        v = textToFloat(c.text, c.separator);
    } catch (const Error& e) {
        EXPECT_FALSE(c.accepted) << "refused: " << e.what();
        EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid floating point value");
        return;
    }
    ASSERT_TRUE(c.accepted) << "accepted as " << v;
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_DOUBLE_EQ(v, c.value);
    // The same answer from the non-throwing form.
    double w = 0;
    EXPECT_TRUE(tryTextToFloat(c.text, c.separator, w));
    EXPECT_EQ(w, v);
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedNumber, ::testing::ValuesIn(kTypedCases),
                         [](const auto& info) { return info.param.name; });

struct TypedIntCase {
    std::string name;
    std::string text;
    bool accepted;
    int32_t value;
};

const std::vector<TypedIntCase> kTypedIntCases = {
    {"empty", "", false, 0},
    {"spaces_around", "  12  ", true, 12},
    {"plus_minus", "+-5", false, 0},
    {"exponent", "1e3", false, 0},
    {"comma", "1,5", false, 0},
    {"point", "1.5", false, 0},
    {"nan", "nan", false, 0},
    {"just_over_32_bits", "2147483648", false, 0},
    {"just_under_32_bits", "-2147483649", false, 0},
    {"ten_thousand_nines", many(10000, '9'), false, 0},
    {"ten_thousand_leading_zeros", many(9999, '0') + "7", true, 7},
};

class TypedInteger : public ::testing::TestWithParam<TypedIntCase> {};

TEST_P(TypedInteger, GivesTheNumberOrTheConversionMessage) {
    const TypedIntCase& c = GetParam();
    try {
        const int32_t v = textToInt(c.text);
        EXPECT_TRUE(c.accepted) << "accepted as " << v;
        EXPECT_EQ(v, c.value);
    } catch (const Error& e) {
        EXPECT_FALSE(c.accepted) << "refused: " << e.what();
        EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedInteger, ::testing::ValuesIn(kTypedIntCases),
                         [](const auto& info) { return info.param.name; });

} // namespace
