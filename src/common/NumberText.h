#pragma once
// Numbers as the window shows and reads them: the general number format
// (15 significant digits, trailing zeros dropped) and its reverse. The decimal
// separator is passed in, so the core stays free of any locale.
#include <cstdint>
#include <string>

namespace corvane {

// The general format: fixed notation while the value has at most 15 digits
// before the point and is at least 0.00001 in magnitude, scientific otherwise
// ("1E-6", "1.5E20"). Zero and negative zero give "0".
std::string formatGeneral(double value, char decimalSeparator = '.');
// A 32-bit value is widened first, so the widening shows (0.1f -> "0.100000001490116").
inline std::string formatGeneral(float value, char decimalSeparator = '.') {
    return formatGeneral(static_cast<double>(value), decimalSeparator);
}
// Round to `decimals` with the display rounding, then format.
std::string formatRounded(long double value, int decimals, char decimalSeparator = '.');

// Text to number. Blanks around, an optional sign, digits with an optional
// separator, an optional exponent. Anything else, an empty text or a value
// out of the double range throws Error("'<text>' is not a valid floating point value").
double textToFloat(const std::string& text, char decimalSeparator = '.');
// Optional blanks and sign, decimal digits within 32 bits; otherwise throws
// Error("'<text>' is not a valid integer value").
int32_t textToInt(const std::string& text);

// Whether textToFloat would accept the text (no throw).
bool tryTextToFloat(const std::string& text, char decimalSeparator, double& out);

} // namespace corvane
