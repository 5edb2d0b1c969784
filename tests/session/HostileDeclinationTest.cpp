// Hostile texts in the three declination boxes: each gives the conversion
// message, the declination's own range message, or the right numbers, and no
// NaN or infinity ever reaches a shown text.
#include "../reduce/Tables.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "reduce/Reduction.h"
#include "session/Inputs.h"
#include "session/MeasuringSession.h"
#include "session/ReductionMessages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// 32 valid rows, every pixel-scale pair 100 px and 10000 ms apart, 20 px
// between the stars: at declination 60 the scale is 1.3297 and the
// separation 15.04 arc-seconds (the worked case of the separation tests).
PairPositions sixtyNorthTable() {
    PairPositions t = test::driftTable(test::Drift{});
    for (PairPosition& r : t)
        r.SepPixels = 20;
    return t;
}

std::string conversionMessage(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

bool hasNonFinite(const std::string& text) {
    for (const char* bad : {"NAN", "INF", "nan", "inf"})
        if (text.find(bad) != std::string::npos)
            return true;
    return false;
}

void expectFiniteTexts(const ReductionResult& r) {
    const ReductionTexts x = reductionTexts(r, '.');
    for (const std::string* t : {&x.sepPx, &x.screenAngle, &x.primarySlope, &x.secondarySlope,
                                 &x.positionAngle, &x.pixelScale, &x.separation})
        EXPECT_FALSE(hasNonFinite(*t)) << *t;
}

enum class Outcome { Sixty, ConversionMessage, RangeMessage, TooSlowMessage };

struct BoxCase {
    std::string name;
    int box; // 0 degrees, 1 minutes, 2 seconds
    std::string text;
    char separator;
    Outcome outcome;
};

std::string many(std::size_t n, char c) {
    return std::string(n, c);
}

// The other two boxes hold "60", "00", "00" in the separator's spelling; the
// case's text replaces one of them.
const std::vector<BoxCase> kBoxCases = {
    {"degrees_empty", 0, "", '.', Outcome::ConversionMessage},
    {"minutes_empty", 1, "", ',', Outcome::ConversionMessage},
    {"seconds_empty_counts_as_zero", 2, "", '.', Outcome::Sixty},
    {"seconds_only_spaces", 2, "  ", '.', Outcome::ConversionMessage},
    {"degrees_spaces_around", 0, "  +60  ", '.', Outcome::Sixty},
    {"minutes_spaces_around", 1, " 00 ", ',', Outcome::Sixty},
    {"degrees_plus_minus", 0, "+-60", '.', Outcome::ConversionMessage},
    {"seconds_plus_minus", 2, "+-5", ',', Outcome::ConversionMessage},
    {"degrees_1e400", 0, "1e400", '.', Outcome::ConversionMessage},
    {"minutes_1e400", 1, "1e400", '.', Outcome::ConversionMessage},
    {"seconds_minus_1e400", 2, "-1e400", ',', Outcome::ConversionMessage},
    {"degrees_nan", 0, "nan", '.', Outcome::ConversionMessage},
    {"minutes_nan", 1, "NaN", ',', Outcome::ConversionMessage},
    {"seconds_inf", 2, "inf", '.', Outcome::ConversionMessage},
    {"degrees_minus_inf", 0, "-inf", ',', Outcome::ConversionMessage},
    {"degrees_comma_with_point_separator", 0, "60,0", '.', Outcome::ConversionMessage},
    {"degrees_point_with_comma_separator", 0, "60.0", ',', Outcome::ConversionMessage},
    {"degrees_comma_with_comma_separator", 0, "60,0", ',', Outcome::Sixty},
    {"degrees_point_with_point_separator", 0, "60.0", '.', Outcome::Sixty},
    {"degrees_exponent", 0, "6e1", '.', Outcome::Sixty},
    {"degrees_ten_thousand_leading_zeros", 0, many(9998, '0') + "60", '.', Outcome::Sixty},
    {"minutes_ten_thousand_zero_decimals", 1, "0," + many(9998, '0'), ',', Outcome::Sixty},
    {"degrees_ten_thousand_nines", 0, many(10000, '9'), '.', Outcome::ConversionMessage},
    {"seconds_ten_thousand_letters", 2, many(10000, 'x'), ',', Outcome::ConversionMessage},
    // Finite but far beyond the pole: the declination's own message.
    {"degrees_1e300", 0, "1e300", '.', Outcome::RangeMessage},
    {"minutes_1e300", 1, "1e300", ',', Outcome::RangeMessage},
    {"minutes_minus_1e300", 1, "-1e300", '.', Outcome::RangeMessage},
    {"seconds_largest_double", 2, "1.7976931348623157e308", '.', Outcome::RangeMessage},
    {"degrees_ninety", 0, "90", '.', Outcome::RangeMessage},
    // So near the pole that the drift would give billions of pixels per
    // arc-second and a separation of 0.
    {"degrees_a_hair_from_the_pole", 0, "89.99999999", '.', Outcome::TooSlowMessage},
    {"seconds_adding_up_to_a_hair_from_the_pole", 2, "107999.9999", '.', Outcome::TooSlowMessage},
};

class HostileDeclination : public ::testing::TestWithParam<BoxCase> {};

TEST_P(HostileDeclination, GivesTheMessageOrTheRightNumbers) {
    const BoxCase& c = GetParam();
    std::string boxes[3] = {"60", "00", "00"};
    boxes[c.box] = c.text;
    const PairPositions t = sixtyNorthTable();

    std::string message;
    try {
        const SeparationResult s =
            separation(t, declinationMagnitude(boxes[0], boxes[1], boxes[2], c.separator));
        ASSERT_EQ(c.outcome, Outcome::Sixty) << "gave " << s.pixelScale;
        const std::string sep(1, c.separator);
        EXPECT_EQ(formatRounded(s.pixelScale, 4, c.separator), "1" + sep + "3297");
        EXPECT_EQ(formatRounded(s.separation, 2, c.separator), "15" + sep + "04");
    } catch (const RefusalError& e) {
        message = refusalText(e.refusal);
    } catch (const Error& e) {
        message = e.what();
    }
    if (c.outcome == Outcome::ConversionMessage) {
        EXPECT_EQ(message, conversionMessage(c.text));
    }
    if (c.outcome == Outcome::RangeMessage) {
        EXPECT_NE(message.find("is not between -90 and +90 degrees"), std::string::npos) << message;
    }
    if (c.outcome == Outcome::TooSlowMessage) {
        EXPECT_NE(message.find("the stars drift too slowly to give a pixel scale"),
                  std::string::npos)
            << message;
    }

    // The whole reduction: the declination stops it after the regression at
    // the latest, and nothing it returns shows a NaN or an infinity.
    const ReductionResult r = reduceAtTypedDeclination(t, Orientation::CorrectOrInverted, boxes[0],
                                                       boxes[1], boxes[2], c.separator);
    expectFiniteTexts(r);
    if (c.outcome == Outcome::Sixty) {
        EXPECT_EQ(r.reached, ReductionStage::Separation);
        EXPECT_EQ(r.error, "");
    } else {
        EXPECT_EQ(r.reached, ReductionStage::Regression);
        EXPECT_EQ(r.error, message);
        EXPECT_EQ(reductionTexts(r, '.').pixelScale, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, HostileDeclination, ::testing::ValuesIn(kBoxCases),
                         [](const auto& info) { return info.param.name; });

TEST(HostileDeclination, EveryDeclinationUpToThePoleGivesFiniteTexts) {
    // Declinations closer and closer to 90 degrees shrink the sidereal drift
    // towards 0 and the pixel scale grows without bound; what is shown must
    // stay a number (or the reduction must refuse).
    const PairPositions t = sixtyNorthTable();
    for (const char* degrees : {"89", "89.9", "89.999999", "89.999999999999", "89.99999999999999",
                                "89.999999999999999999", "-89.9999999999999"}) {
        SCOPED_TRACE(degrees);
        const ReductionResult r =
            reduceAtTypedDeclination(t, Orientation::UprightReverted, degrees, "0", "0", '.');
        expectFiniteTexts(r);
        if (r.reached == ReductionStage::Separation) {
            double scale = 0;
            EXPECT_TRUE(tryTextToFloat(reductionTexts(r, '.').pixelScale, '.', scale));
            EXPECT_GT(scale, 0.0);
        }
    }
}

TEST(HostileDeclination, AFarOutScreenAngleStillGivesAPositionAngleInOneTurn) {
    const PairPositions t = sixtyNorthTable();
    for (const float angle : {1e30f, -1e30f, 1e-30f, -0.0f}) {
        SCOPED_TRACE(angle);
        const RegressionResult r = regression(t, angle, Orientation::CorrectOrInverted);
        EXPECT_GE(r.positionAngle, 0.0f);
        EXPECT_LT(r.positionAngle, 360.0f);
    }
}

} // namespace
