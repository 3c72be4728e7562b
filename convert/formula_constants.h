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

// former and fresh are code items (after the length prefix) of former_len
// and fresh_len bytes, each ending with the end item.  Writes fresh to out
// with each numeric constant replaced by the former code's constant at the
// same place in order, when that one is a real: the decoder prints reals
// with six significant digits and whole reals as integers, and this puts
// back the exact double.  Returns the length written, or kConstantsDiffer
// when the two codes do not hold the same numbers, as the decoder prints
// them, in the same order (a negative constant, for instance, compiles
// back as a negation, which is not the same formula), or kCodeTooLong when
// the result exceeds cap bytes.
int32_t carry_constants(const unsigned char *former, int32_t former_len, const unsigned char *fresh,
                        int32_t fresh_len, unsigned char *out, int32_t cap);

}  // namespace wks::convert

#endif
