/*
 * Carrying the numeric constants of a formula's former code over into the
 * code recompiled from its rewritten text, so that a rewrite changes
 * references and nothing else.
 */
#ifndef WKS_CONVERT_FORMULA_CONSTANTS_H
#define WKS_CONVERT_FORMULA_CONSTANTS_H

#include <cstdint>

namespace wks::convert {

constexpr int32_t kConstantsDiffer = -1;  // the texts do not hold the same constants
constexpr int32_t kCodeTooLong = -2;      // the result would not fit
constexpr int32_t kRegrouped = -3;        // the fresh code is not the former code's structure

// former and fresh are code items (after the length prefix) of former_len
// and fresh_len bytes, each ending with the end item.  Writes fresh to out
// with each numeric constant replaced by the former code's constant at the
// same place in order, when that one is a real: the decoder prints reals
// with six significant digits and whole reals as integers, and this puts
// back the exact double.
//
// A rewrite changes the text of string constants and nothing else, so the
// two codes must hold the same items in the same order, strings aside and
// references compared by the cells they name from the formula's cell
// (col, row): a reference printed as its range name comes back as the
// name's range.
// Text has no negative numbers: a former constant -5 prints as "-5" and
// comes back as 5 and a negation.  Where the negation directly follows the
// number, it negates that number alone and the value is the same; a former
// real then comes back as its exact magnitude.  Anywhere else something
// that binds tighter took the number first ("-5^2" is -(5^2)): kRegrouped.
// Decoded text does not show every grouping of foreign code either (a
// negation under a power, powers nested to the left print as if compiled
// from "-5^2" and "5^2^3"): any other difference of items is kRegrouped too.
//
// Returns the length written, kRegrouped, kConstantsDiffer when the two
// codes do not hold the same numbers, as the decoder prints them, or
// kCodeTooLong when the result exceeds cap bytes.
int32_t carry_constants(const unsigned char *former, int32_t former_len, const unsigned char *fresh,
                        int32_t fresh_len, int16_t col, int16_t row, unsigned char *out, int32_t cap);

}  // namespace wks::convert

#endif
