/*
 * The one printer of numbers in formula text: integers as "%d" writes them,
 * reals as "%g" does in the C locale (six significant digits, "inf",
 * "nan"), whatever locale the host set and without a formatted-output call.
 * The decoder prints constants and row numbers with it, and the rewriting
 * compares constants through it, so both see the same text.
 */
#ifndef WKS_FORMULA_NUMBER_TEXT_H
#define WKS_FORMULA_NUMBER_TEXT_H

#include <charconv>

namespace wks::formula {

// Room for the text of any int or double, with its NUL.
constexpr int kNumberTextSize = 32;
constexpr int kRealDigits = 6;  // significant digits of a real

// Write the text and its NUL into text; return the NUL's place.
inline char *print_integer(int value, char (&text)[kNumberTextSize]) {
    char *end = std::to_chars(text, text + kNumberTextSize - 1, value).ptr;
    *end = '\0';
    return end;
}

inline char *print_real(double value, char (&text)[kNumberTextSize]) {
    char *end = std::to_chars(text, text + kNumberTextSize - 1, value, std::chars_format::general, kRealDigits).ptr;
    *end = '\0';
    return end;
}

}  // namespace wks::formula

#endif
