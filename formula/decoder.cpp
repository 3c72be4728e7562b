/*
 * wksfr: formula code back into formula text, in one left-to-right pass
 * without a tree.
 *
 * At each operand a look-ahead walks the items that follow, counting the
 * values left and not yet taken, and collects on a 64-entry pending-text
 * stack the opening texts of the items that take the operand's subtree as
 * their first argument, and the separator of the one that takes it as a
 * later argument.  The stack is printed top first, then the operand.  Each
 * operator prints only its closing text when the main walk reaches it.
 *
 * Invariants: no byte outside the code length is read (the length bounds the
 * main walk and every look-ahead); no more characters are written than the
 * output size allows; nothing is allocated; a failure leaves through
 * decode_fail and is reported by wksfr alone.  Besides the text checks, the
 * main walk counts values, so code that does not leave exactly one value
 * (none for the empty formula) fails with 15 instead of decoding to text
 * that is not its formula.
 */
#include "formula/code_tables.h"
#include "formula/decode_output.h"
#include "formula/decoder.h"
#include "formula/reference_words.h"
#include "names/names.h"

#include "wks.h"
#include "wks/bytes.h"
#include "wks/layout.h"

namespace wks::formula {

namespace {

constexpr int kPendingTexts = 64;

// Formula code items, bounded by the code length.
struct Code {
    const unsigned char *items;
    int32_t length;
};

bool is_end(const Item &item) { return item.op == kEnd; }
bool is_operand(const Item &item) { return item.takes == 0 && !is_end(item); }

// The item at pos, with its operand bytes checked to lie inside the code.
Item item_at(const Code &code, int32_t pos) {
    if (pos >= code.length) decode_fail(WKS_E_BAD_FUNCTION);  // no end item inside the length
    const Item item = read_item(code.items + pos, code.items + code.length);
    if (item.size == 0) decode_fail(WKS_E_BAD_FUNCTION);
    return item;
}

const char *prefix_text(const Item &item) {
    return is_function(item.op) ? function_by_opcode(item.op).open : kOperatorTable[item.op].prefix;
}
const char *infix_text(const Item &item) {
    return kOperatorTable[is_function(item.op) ? kFunctionRow : item.op].infix;
}
const char *postfix_text(const Item &item) {
    return kOperatorTable[is_function(item.op) ? kFunctionRow : item.op].postfix;
}

class PendingTexts {
public:
    // A full stack refuses even an empty text; an empty text is never kept.
    void push(const char *text) {
        if (count_ == kPendingTexts) decode_fail(WKS_E_DECODE_DEPTH);
        if (*text) texts_[count_++] = text;
    }
    void print_top_first() const {
        for (int i = count_ - 1; i >= 0; --i) put_text(texts_[i]);
    }

private:
    const char *texts_[kPendingTexts];
    int count_ = 0;
};

// Collects the texts that must stand before the operand whose item ends
// just before `pos`.
void look_ahead(const Code &code, int32_t pos, PendingTexts &pending) {
    int depth = 0;  // values left after the operand's subtree, not yet taken
    for (;;) {
        Item item = item_at(code, pos);
        if (is_end(item)) return;
        if (is_operand(item)) {
            ++depth;
        } else {
            depth -= item.takes - 1;
            if (depth == 0) pending.push(prefix_text(item));  // the subtree is its first argument
            if (depth < 0) {                                   // ... a later argument
                pending.push(infix_text(item));
                return;
            }
        }
        pos += item.size;
    }
}

void put_string(const unsigned char *p) {
    put_char('"');
    for (; *p; ++p) {
        if (*p == '"') put_char('"');
        put_char(static_cast<char>(*p));
    }
    put_char('"');
}

// The range name of exactly these coordinates under the current file
// number that reads back as itself, or null.
const char *name_of(uint16_t c1, uint16_t r1, uint16_t c2, uint16_t r2) {
    return names::name_in_text(static_cast<int16_t>(c1), static_cast<int16_t>(r1), static_cast<int16_t>(c2),
                               static_cast<int16_t>(r2));
}

struct Base {
    int16_t col, row;
};

// The coordinates of the cell whose column and row words start at words,
// as makecabs and makerabs give them.
uint16_t column_at(const unsigned char *words, Base base) {
    return static_cast<uint16_t>(resolve_column(get_u16(words), base.col));
}
uint16_t row_at(const unsigned char *words, Base base) {
    return static_cast<uint16_t>(resolve_row(get_u16(words + kReferenceWordBytes), base.row));
}

void put_cell_reference(const unsigned char *words, Base base) {
    const uint16_t c = column_at(words, base), r = row_at(words, base);
    if (const char *name = name_of(c, r, c, r)) return put_text(name);
    put_cell(words, base.col, base.row);
}

void put_range_reference(const unsigned char *words, Base base) {
    const unsigned char *last = words + kCellBytes;
    const uint16_t c1 = column_at(words, base), r1 = row_at(words, base);
    if (const char *name = name_of(c1, r1, column_at(last, base), row_at(last, base))) return put_text(name);
    put_cell(words, base.col, base.row);
    put_text("..");
    put_cell(last, base.col, base.row);
}

void put_operand(const Code &code, int32_t pos, const Item &item, Base base) {
    PendingTexts pending;
    look_ahead(code, pos + item.size, pending);
    pending.print_top_first();

    const unsigned char *bytes = code.items + pos + 1;
    switch (item.op) {
    case kReal: put_real(get_f64(bytes)); break;
    case kCell: put_cell_reference(bytes, base); break;
    case kRange: put_range_reference(bytes, base); break;
    case kInteger: put_int(get_i16(bytes)); break;
    case kString: put_string(bytes); break;
    case kError: decode_fail(WKS_E_BAD_FUNCTION);
    default:  // a function that takes no values
        put_text(function_by_opcode(item.op).open);
        put_char(')');
    }
}

void decode(const unsigned char *code_with_length, Base base) {
    if (!code_with_length) decode_fail(WKS_E_BAD_FUNCTION);
    Code code{code_with_length + kCodeLengthSize, get_i16(code_with_length)};
    if (code.length < 1) decode_fail(WKS_E_BAD_FUNCTION);  // the length is a signed 16-bit count

    int values = 0;  // left by the items so far and not yet taken
    for (int32_t pos = 0;;) {
        Item item = item_at(code, pos);
        if (is_end(item)) {
            if (values > 1) decode_fail(WKS_E_BAD_FUNCTION);
            put_char('\0');
            return;
        }
        if (is_operand(item)) {
            put_operand(code, pos, item, base);
            ++values;
        } else {
            if (values < item.takes) decode_fail(WKS_E_BAD_FUNCTION);
            values -= item.takes - 1;
            put_text(postfix_text(item));
        }
        pos += item.size;
    }
}

}  // namespace

int16_t decode_formula(int32_t file, int16_t col, int16_t row, const unsigned char *code, char *out,
                       int32_t size) {
    names::set_current_file(file);  // scopes the name look-ups, and stays set
    int16_t result = 0;
    open_output(out, size);
    try {
        decode(code, Base{col, row});
    } catch (const DecodeFailure &failure) {
        result = failure.code;
    }
    close_output();
    return result;
}

}  // namespace wks::formula

extern "C" int16_t wksfr(int32_t file, int16_t col, int16_t row, const unsigned char *code, char *out,
                         int32_t size) {
    const int16_t result = wks::formula::decode_formula(file, col, row, code, out, size);
    return result ? wkserr(result) : 0;
}
