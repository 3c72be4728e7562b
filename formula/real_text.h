/*
 * The conversion of a real number's text in formula text.  Formula text
 * always writes "." as the decimal point, so the conversion ignores the
 * host's locale; it is the same on every platform and allocates nothing.
 */
#ifndef WKS_FORMULA_REAL_TEXT_H
#define WKS_FORMULA_REAL_TEXT_H

namespace wks::formula {

// Converts the longest prefix of text that forms a decimal floating-point
// number (digits, an optional "." and digits, an optional exponent) and sets
// *end just past it; nothing converts: 0 and *end == text.  A value too
// large for a double gives infinity, one too small 0.
double convert_real(const char *text, const char **end);

}  // namespace wks::formula

#endif
