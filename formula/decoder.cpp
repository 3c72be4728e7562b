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
#include "names/names.h"

#include "wks.h"
#include "wks/bytes.h"

#include <charconv>

namespace wks::formula {

namespace {

constexpr int kLengthPrefix = 2;
constexpr int kPendingTexts = 64;
constexpr int kNumberBuffer = 32;
constexpr int kRealDigits = 6;  // significant digits of a real, as "%lg" prints it

constexpr int kRealBytes = 8;
constexpr int kReferenceWordBytes = 2;
constexpr int kCellBytes = 2 * kReferenceWordBytes;
constexpr int kRangeBytes = 4 * kReferenceWordBytes;
constexpr int kIntegerBytes = 2;

// Formula code items, bounded by the code length.
struct Code {
    const unsigned char *items;
    int32_t length;
};

enum class Kind { End, Operand, Operator };

struct Item {
    Kind kind;
    uint8_t op;
    int32_t size;   // opcode and operand bytes
    int takes;      // values an operator takes
};

Item operand(uint8_t op, int32_t operand_bytes) { return {Kind::Operand, op, 1 + operand_bytes, 0}; }
Item taking(uint8_t op, int32_t size, int takes) { return {Kind::Operator, op, size, takes}; }

int32_t string_operand_bytes(const Code &code, int32_t pos) {
    for (int32_t i = pos + 1; i < code.length; ++i)
        if (code.items[i] == 0) return i - pos;
    decode_fail(kBadCode);
}

Item function_item(const Code &code, int32_t pos, uint8_t op) {
    uint8_t argc = function_by_opcode(op).argc;
    int32_t size = 1;
    if (argc == kVariableArgs) {
        if (pos + 1 >= code.length) decode_fail(kBadCode);
        argc = code.items[pos + 1];  // unsigned: 0..255 arguments
        size = 2;
    }
    return argc == 0 ? Item{Kind::Operand, op, size, 0} : taking(op, size, argc);
}

// The item at pos, with its operand bytes checked to lie inside the code.
Item item_at(const Code &code, int32_t pos) {
    if (pos >= code.length) decode_fail(kBadCode);  // no end item inside the length
    uint8_t op = code.items[pos];
    Item item;
    switch (op) {
    case kReal: item = operand(op, kRealBytes); break;
    case kCell: item = operand(op, kCellBytes); break;
    case kRange: item = operand(op, kRangeBytes); break;
    case kEnd: item = {Kind::End, op, 1, 0}; break;
    case kInteger: item = operand(op, kIntegerBytes); break;
    case kString: item = operand(op, string_operand_bytes(code, pos)); break;
    case kError: item = operand(op, 0); break;
    case kParens:
    case kNegate:
    case kNot:
    case kUnaryPlus: item = taking(op, 1, 1); break;
    default:
        if ((op >= kAdd && op <= kOr) || op == kConcat) item = taking(op, 1, 2);
        else if (is_function(op)) item = function_item(code, pos, op);
        else decode_fail(kBadCode);
    }
    if (item.size > code.length - pos) decode_fail(kBadCode);
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
        if (count_ == kPendingTexts) decode_fail(kPendingFull);
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
        if (item.kind == Kind::End) return;
        if (item.kind == Kind::Operand) {
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

void put_real(const unsigned char *p) {
    char text[kNumberBuffer];
    auto [end, ec] = std::to_chars(text, text + sizeof text - 1, get_f64(p), std::chars_format::general,
                                   kRealDigits);
    if (ec != std::errc()) decode_fail(kBadCode);
    *end = '\0';
    put_text(text);
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

void put_cell_reference(const unsigned char *words, Base base) {
    uint16_t c = makecabs(words, base.col);
    uint16_t r = makerabs(words + kReferenceWordBytes, base.row);
    if (const char *name = name_of(c, r, c, r)) return put_text(name);
    put_cell(words, base.col, base.row);
}

void put_range_reference(const unsigned char *words, Base base) {
    const unsigned char *last = words + kCellBytes;
    uint16_t c1 = makecabs(words, base.col);
    uint16_t r1 = makerabs(words + kReferenceWordBytes, base.row);
    uint16_t c2 = makecabs(last, base.col);
    uint16_t r2 = makerabs(last + kReferenceWordBytes, base.row);
    if (const char *name = name_of(c1, r1, c2, r2)) return put_text(name);
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
    case kReal: put_real(bytes); break;
    case kCell: put_cell_reference(bytes, base); break;
    case kRange: put_range_reference(bytes, base); break;
    case kInteger: put_int(get_i16(bytes)); break;
    case kString: put_string(bytes); break;
    case kError: decode_fail(kBadCode);
    default:  // a function that takes no values
        put_text(function_by_opcode(item.op).open);
        put_char(')');
    }
}

void decode(const unsigned char *code_with_length, Base base) {
    if (!code_with_length) decode_fail(kBadCode);
    Code code{code_with_length + kLengthPrefix, get_i16(code_with_length)};
    if (code.length < 1) decode_fail(kBadCode);  // the length is a signed 16-bit count

    int values = 0;  // left by the items so far and not yet taken
    for (int32_t pos = 0;;) {
        Item item = item_at(code, pos);
        switch (item.kind) {
        case Kind::End:
            if (values > 1) decode_fail(kBadCode);
            put_char('\0');
            return;
        case Kind::Operator:
            if (values < item.takes) decode_fail(kBadCode);
            values -= item.takes - 1;
            put_text(postfix_text(item));
            break;
        case Kind::Operand:
            put_operand(code, pos, item, base);
            ++values;
            break;
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
