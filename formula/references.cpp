/*
 * Reference words back into coordinates (makecabs, makerabs, makeabs) and
 * into cell text (dcell).  Owns the absolute flag: 1 when the word most
 * recently decoded here was absolute, 0 when it was relative, 0 at load.
 *
 * A relative word holds a 14-bit two's-complement offset in bits 13..0; bit
 * 14 is ignored.  Columns take a positive offset from bits 7..0 only and wrap
 * modulo 256, rows wrap modulo 8192; makeabs adds without wrapping.  Words
 * are read byte by byte, so they may lie at any alignment.
 */
#include "formula/code_tables.h"
#include "formula/decode_output.h"
#include "formula/reference_words.h"

#include "wks.h"
#include "wks/bytes.h"

namespace wks::formula {

namespace {

constexpr int kLetters = 26;

int g_absolute = 0;

uint16_t decode(const unsigned char *p, int16_t base, bool is_column, bool wraps) {
    if (!p) return 0;
    uint16_t word = get_u16(p);
    g_absolute = is_relative_word(word) ? 0 : 1;
    if (g_absolute) return word;
    if (!wraps) return static_cast<uint16_t>(base + word_offset(word, kOffsetMagnitude));
    return static_cast<uint16_t>(is_column ? resolve_column(word, base) : resolve_row(word, base));
}

void put_column_letters(int column) {
    if (column >= kLetters) put_char(static_cast<char>('A' - 1 + column / kLetters));
    put_char(static_cast<char>('A' + column % kLetters));
}

}  // namespace

void put_cell(const unsigned char *words, int16_t base_col, int16_t base_row) {
    uint16_t column = makecabs(words, base_col);
    bool column_absolute = g_absolute;
    uint16_t row = makerabs(words + 2, base_row);
    bool row_absolute = g_absolute;
    if (column >= kColumns || row >= kRows) decode_fail(kBadCode);

    if (column_absolute) put_char('$');
    put_column_letters(column);
    if (row_absolute) put_char('$');
    put_int(row + 1);
}

}  // namespace wks::formula

using namespace wks::formula;

extern "C" {

uint16_t makecabs(const unsigned char *word, int16_t base) {
    return decode(word, base, true, true);
}

uint16_t makerabs(const unsigned char *word, int16_t base) {
    return decode(word, base, false, true);
}

uint16_t makeabs(const unsigned char *word, int16_t base) {
    return decode(word, base, false, false);
}

void dcell(const unsigned char *words, int16_t col, int16_t row) {
    if (output_is_open() && words) put_cell(words, col, row);
}

}
