/*
 * The walk over formula code that admits it to evaluation (see the header).
 * It reads nothing beyond `available` bytes nor beyond the code length.
 */
#include "calc/code_check.h"

#include "calc/value.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"
#include "wks/bytes.h"

#include <cstring>

namespace wks::calc {

using namespace wks::formula;

namespace {

constexpr int kLengthWord = 2;

bool cell_inside(const unsigned char *words, int col, int row) {
    const int c = resolve_column(get_u16(words), col);
    const int r = resolve_row(get_u16(words + 2), row);
    return c >= 0 && c < kColumns && r >= 0 && r < kRows;
}

// Values an operator item takes; 0 for operands.
int takes(uint8_t op, const unsigned char *p) {
    switch (op) {
    case kParens:
    case kNegate:
    case kNot:
    case kUnaryPlus: return 1;
    default:
        if ((op >= kAdd && op <= kOr) || op == kConcat) return 2;
        if (is_function(op)) return function_arguments(p);
        return 0;
    }
}

}  // namespace

int function_arguments(const unsigned char *p) {
    const uint8_t argc = function_by_opcode(p[0]).argc;
    return argc == kVariableArgs ? p[1] : argc;
}

int item_size(const unsigned char *p) {
    switch (p[0]) {
    case kReal: return 9;
    case kCell: return 5;
    case kRange: return 9;
    case kInteger: return 3;
    case kString: return static_cast<int>(std::strlen(reinterpret_cast<const char *>(p + 1))) + 2;
    default:
        if (is_function(p[0]) && function_by_opcode(p[0]).argc == kVariableArgs) return 2;
        return 1;
    }
}

CodeShape check_code(const unsigned char *code, std::size_t available, int col, int row) {
    CodeShape bad{false, 0, 0};
    if (!code || available < kLengthWord + 1) return bad;
    const int length = get_i16(code);
    if (length < 1 || static_cast<std::size_t>(length) > available - kLengthWord) return bad;
    const unsigned char *items = code + kLengthWord;

    int values = 0, depth = 0;
    for (int pos = 0; pos < length;) {
        const unsigned char *p = items + pos;
        const uint8_t op = *p;
        const int left = length - pos;
        int size = 1;
        switch (op) {
        case kEnd:
            if (values > 1) return bad;
            return CodeShape{true, static_cast<uint16_t>(pos + 1), depth};
        case kReal: size = 9; break;
        case kCell: size = 5; break;
        case kRange: size = 9; break;
        case kInteger: size = 3; break;
        case kString: {
            const void *nul = std::memchr(p + 1, 0, static_cast<std::size_t>(left - 1));
            if (!nul) return bad;
            size = static_cast<int>(static_cast<const unsigned char *>(nul) - p) + 1;
            break;
        }
        case kError: return bad;  // never produced, and refused as an operand
        default:
            if (is_function(op) && function_by_opcode(op).argc == kVariableArgs) size = 2;
            else if (!is_function(op) && op != kParens && !(op >= kNegate && op <= kConcat)) return bad;
        }
        if (size > left) return bad;
        if ((op == kCell && !cell_inside(p + 1, col, row)) ||
            (op == kRange && !(cell_inside(p + 1, col, row) && cell_inside(p + 5, col, row))))
            return bad;
        const int n = takes(op, p);
        if (values < n) return bad;
        values += 1 - n;
        if (values > depth) depth = values;
        if (depth > kStackDepth) return bad;
        pos += size;
    }
    return bad;  // no end item inside the length
}

}  // namespace wks::calc
