/*
 * The walk over formula code that admits it to evaluation (see the header).
 * It reads nothing beyond `available` bytes nor beyond the code length.
 */
#include "calc/code_check.h"

#include "calc/value.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"
#include "wks/bytes.h"
#include "wks/layout.h"

namespace wks::calc {

using namespace wks::formula;

namespace {

bool cell_inside(const unsigned char *words, int col, int row) {
    const int c = resolve_column(get_u16(words), col);
    const int r = resolve_row(get_u16(words + kReferenceWordBytes), row);
    return c >= 0 && c < kColumns && r >= 0 && r < kRows;
}

}  // namespace

CodeShape check_code(const unsigned char *code, std::size_t available, int col, int row) {
    CodeShape bad{false, 0, 0};
    if (!code || available < kCodeLengthSize + 1) return bad;
    const int length = get_i16(code);
    if (length < 1 || static_cast<std::size_t>(length) > available - kCodeLengthSize) return bad;
    const unsigned char *items = code + kCodeLengthSize;

    int values = 0, depth = 0;
    for (int pos = 0; pos < length;) {
        const unsigned char *p = items + pos;
        const Item item = read_item(p, items + length);
        if (item.size == 0 || item.op == kError) return bad;  // kError: never produced, refused as an operand
        if (item.op == kEnd) {
            if (values > 1) return bad;
            return CodeShape{true, static_cast<uint16_t>(pos + 1), depth};
        }
        if ((item.op == kCell && !cell_inside(p + 1, col, row)) ||
            (item.op == kRange && !(cell_inside(p + 1, col, row) && cell_inside(p + 1 + kCellBytes, col, row))))
            return bad;
        if (values < item.takes) return bad;
        values += 1 - item.takes;
        if (values > depth) depth = values;
        if (depth > kStackDepth) return bad;
        pos += item.size;
    }
    return bad;  // no end item inside the length
}

}  // namespace wks::calc
