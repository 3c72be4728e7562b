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
constexpr int32_t kRegrouped = -3;        // a negative constant no longer stands alone

// former and fresh are code items (after the length prefix) of former_len
// and fresh_len bytes, each ending with the end item.  Writes fresh to out
// with each numeric constant replaced by the former code's constant at the
// same place in order, when that one is a real: the decoder prints reals
// with six significant digits and whole reals as integers, and this puts
// back the exact double.
//
// Text has no negative numbers: a former constant -5 prints as "-5" and
// comes back as 5 and a negation.  Where the negation directly follows the
// number, it negates that number alone and the value is the same; a former
// real then comes back as its exact magnitude.  Anywhere else something
// that binds tighter took the number first ("-5^2" is -(5^2)): kRegrouped.
//
// Returns the length written, kRegrouped, kConstantsDiffer when the two
// codes do not otherwise hold the same numbers, as the decoder prints them,
// in the same order, or kCodeTooLong when the result exceeds cap bytes.
int32_t carry_constants(const unsigned char *former, int32_t former_len, const unsigned char *fresh,
                        int32_t fresh_len, unsigned char *out, int32_t cap);

}  // namespace wks::convert

#endif
