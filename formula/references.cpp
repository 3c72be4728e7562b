/*
 * Reference words back into coordinates (makecabs, makerabs, makeabs) and
 * into cell text (dcell, and put_cell for the decoder).
 *
 * A relative word holds a 14-bit two's-complement offset in bits 13..0; bit
 * 14 is ignored.  Columns take a positive offset from bits 7..0 only and wrap
 * modulo 256, rows wrap modulo 8192 (reference_words.h); makeabs adds without
 * wrapping.  Words are read byte by byte, so they may lie at any alignment.
 */
#define WKS_FORMULA_INTERNALS
#include "formula/code_tables.h"
#include "formula/decode_output.h"
#include "formula/reference_words.h"

#include "wks.h"
#include "wks/bytes.h"

namespace wks::formula {

namespace {

constexpr int kLetters = 26;

void put_column_letters(int column) {
    if (column >= kLetters) put_char(static_cast<char>('A' - 1 + column / kLetters));
    put_char(static_cast<char>('A' + column % kLetters));
}

}  // namespace

void put_cell(const unsigned char *words, int16_t base_col, int16_t base_row) {
    const uint16_t column_word = get_u16(words);
    const uint16_t row_word = get_u16(words + kReferenceWordBytes);
    const auto column = static_cast<uint16_t>(resolve_column(column_word, base_col));
    const auto row = static_cast<uint16_t>(resolve_row(row_word, base_row));
    if (column >= kColumns || row >= kRows) decode_fail(WKS_E_BAD_FUNCTION);

    if (!is_relative_word(column_word)) put_char('$');
    put_column_letters(column);
    if (!is_relative_word(row_word)) put_char('$');
    put_int(row + 1);
}

}  // namespace wks::formula

using namespace wks::formula;

extern "C" {

uint16_t makecabs(const unsigned char *word, int16_t base) {
    return word ? static_cast<uint16_t>(resolve_column(wks::get_u16(word), base)) : 0;
}

uint16_t makerabs(const unsigned char *word, int16_t base) {
    return word ? static_cast<uint16_t>(resolve_row(wks::get_u16(word), base)) : 0;
}

uint16_t makeabs(const unsigned char *word, int16_t base) {
    if (!word) return 0;
    const uint16_t w = wks::get_u16(word);
    if (!is_relative_word(w)) return w;
    return static_cast<uint16_t>(base + word_offset(w, kOffsetMagnitude));
}

void dcell(const unsigned char *words, int16_t col, int16_t row) {
    if (output_is_open() && words) put_cell(words, col, row);
}

}
