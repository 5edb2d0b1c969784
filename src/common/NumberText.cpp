#include "common/NumberText.h"

#include "common/Error.h"
#include "common/Rounding.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace corvane {

namespace {

constexpr int kPrecision = 15;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

// strtod in the "C" locale, whatever the process locale is.
double strtodC(const char* s, char** end) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(s, end, c);
}

} // namespace

std::string formatGeneral(double value, char sep) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (value == 0.0)
        return "0";

    // 15 significant digits, rounded to nearest by printf.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", kPrecision - 1, value);
    // buf: [-]d.dddddddddddddde[+-]XX
    std::string s(buf);
    const bool negative = s[0] == '-';
    if (negative)
        s.erase(0, 1);
    const size_t ePos = s.find('e');
    int exponent = std::atoi(s.c_str() + ePos + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, ePos - 2);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent < kPrecision) {
        if (exponent < 0) {
            out += "0";
            out += sep;
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            const size_t intDigits = static_cast<size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += sep;
                out += digits.substr(intDigits);
            }
        }
    } else {
        out += digits.substr(0, 1);
        if (digits.size() > 1) {
            out += sep;
            out += digits.substr(1);
        }
        out += 'E';
        if (exponent < 0)
            out += '-';
        out += std::to_string(std::abs(exponent));
    }
    return out;
}

std::string formatRounded(long double value, int decimals, char sep) {
    return formatGeneral(displayRound(value, decimals), sep);
}

bool tryTextToFloat(const std::string& text, char sep, double& out) {
    const std::string t = trimmed(text);
    // Validate the shape by hand, then convert a normalised copy.
    std::string norm;
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        norm += t[i++];
    size_t mantissaDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        norm += t[i++];
        ++mantissaDigits;
    }
    if (i < t.size() && t[i] == sep) {
        norm += '.';
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            norm += t[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            norm += t[i++];
        size_t expDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            norm += t[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != t.size())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = strtodC(norm.c_str(), &end);
    if (end != norm.c_str() + norm.size() || !std::isfinite(v))
        return false;
    // Underflow is harmless (the value is 0 or nearly); overflow is not a number.
    if (errno == ERANGE && std::fabs(v) > 1.0)
        return false;
    out = v;
    return true;
}

double textToFloat(const std::string& text, char sep) {
    double v = 0;
    if (!tryTextToFloat(text, sep, v))
        throw Error("'" + text + "' is not a valid floating point value");
    return v;
}

int32_t textToInt(const std::string& text) {
    const std::string t = trimmed(text);
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    if (i == t.size())
        throw Error("'" + text + "' is not a valid integer value");
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            throw Error("'" + text + "' is not a valid integer value");
        v = v * 10 + (t[i] - '0');
        if (v > 2147483648LL)
            throw Error("'" + text + "' is not a valid integer value");
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        throw Error("'" + text + "' is not a valid integer value");
    return static_cast<int32_t>(v);
}

} // namespace corvane
