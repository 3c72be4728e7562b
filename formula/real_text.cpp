/* Locale-independent conversion of a real's text; see real_text.h. */
#include "formula/real_text.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace wks::formula {
namespace {

constexpr long kExponentCap = 100000;  // far beyond any double; stops the exponent growing

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal exponent of the first significant digit of a number that
// from_chars matched in [p, end) and found out of range: above 0 it was too
// large, otherwise too small.
long decimal_exponent(const char *p, const char *end) {
    long digits_before_point = 0, index = 0, first_significant = -1;
    bool after_point = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            after_point = true;
            continue;
        }
        if (first_significant < 0 && *p != '0') first_significant = index;
        ++index;
        if (!after_point) ++digits_before_point;
    }
    long exponent = 0;
    bool negative = false;
    if (p < end) {  // the exponent: e, an optional sign, digits
        ++p;
        if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        for (; p < end && is_digit(*p); ++p)
            if (exponent < kExponentCap) exponent = exponent * 10 + (*p - '0');
    }
    return digits_before_point - first_significant - 1 + (negative ? -exponent : exponent);
}

}  // namespace

double convert_real(const char *text, const char **end) {
    double value = 0.0;
    const char *stop = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, stop, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument) {
        *end = text;
        return 0.0;
    }
    *end = ptr;
    if (ec == std::errc::result_out_of_range)
        return decimal_exponent(text, ptr) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return value;
}

}  // namespace wks::formula
