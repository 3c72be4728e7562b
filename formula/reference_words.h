/*
 * Reference words back into sheet coordinates, shared by the decoder and the
 * calculation core so that both read a relative word the same way: bit 15
 * marks a relative word whose bits 13..0 hold a 14-bit two's-complement
 * offset (bit 14 ignored); a positive column offset takes bits 7..0 only;
 * columns wrap modulo 256 and rows modulo 8192, reduced once from above and
 * raised once from below.  A result outside the sheet (an absolute word
 * beyond it, or an offset that one raise cannot bring back) is returned as
 * it is, for the caller to refuse.
 */
#ifndef WKS_FORMULA_REFERENCE_WORDS_H
#define WKS_FORMULA_REFERENCE_WORDS_H

#include "formula/code_tables.h"

#include <cstdint>

namespace wks::formula {

constexpr uint16_t kOffsetMagnitude = 0x1FFF;        // bits 12..0
constexpr int kOffsetRange = 0x2000;                 // 2^13: a set sign bit subtracts this
constexpr uint16_t kColumnOffsetMagnitude = 0x00FF;  // a positive column offset's bits

constexpr bool is_relative_word(uint16_t word) { return (word & kRelativeBit) != 0; }

constexpr int word_offset(uint16_t word, uint16_t positive_magnitude) {
    if (word & kOffsetSignBit) return static_cast<int>(word & kOffsetMagnitude) - kOffsetRange;
    return word & positive_magnitude;
}

constexpr int wrap_onto_axis(int coordinate, int size) {
    if (coordinate >= size) coordinate %= size;
    if (coordinate < 0) coordinate += size;
    return coordinate;
}

// The column or row a word names from a formula at base; may lie outside
// 0..255 / 0..8191 only when the word is not a valid reference.
constexpr int resolve_column(uint16_t word, int base) {
    if (!is_relative_word(word)) return word;
    return wrap_onto_axis(base + word_offset(word, kColumnOffsetMagnitude), kColumns);
}
constexpr int resolve_row(uint16_t word, int base) {
    if (!is_relative_word(word)) return word;
    return wrap_onto_axis(base + word_offset(word, kOffsetMagnitude), kRows);
}

static_assert(resolve_column(0xBFFF, 0) == 255, "-1 from column A is column IV");
static_assert(resolve_row(0x8001, 8191) == 0, "+1 from row 8192 is row 1");

}  // namespace wks::formula

#endif
