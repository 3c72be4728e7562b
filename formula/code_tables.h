/*
 * The definition of formula code, for everything that writes, reads or
 * walks it (compiler, decoder, rewriting, calculation): opcodes, the size of
 * each item, the one reader of items, the function table (by opcode, with
 * its by-name index built from it at compile time) and the decoder's
 * operator table.  All of it is constant data.
 *
 * Formula code: a 16-bit little-endian code length, then code items in
 * reverse Polish order ending with kEnd.  An item is an opcode byte and the
 * operand bytes the opcode defines.
 */
#ifndef WKS_FORMULA_CODE_TABLES_H
#define WKS_FORMULA_CODE_TABLES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wks::formula {

enum Opcode : uint8_t {
    kReal = 0,      // 8-byte little-endian double
    kCell = 1,      // column word, row word
    kRange = 2,     // four reference words
    kEnd = 3,
    kParens = 4,
    kInteger = 5,   // signed 16-bit
    kString = 6,    // bytes, then NUL
    kError = 7,     // never produced; rejected by the decoder
    kNegate = 8,
    kAdd = 9,
    kSubtract = 10,
    kMultiply = 11,
    kDivide = 12,
    kPower = 13,
    kEqual = 14,
    kNotEqual = 15,
    kLessEqual = 16,
    kGreaterEqual = 17,
    kLess = 18,
    kGreater = 19,
    kAnd = 20,
    kOr = 21,
    kNot = 22,
    kUnaryPlus = 23,
    kConcat = 24,
    kFirstFunction = 31,
    kLastFunction = 121,
};

constexpr int kFunctionCount = kLastFunction - kFirstFunction + 1;  // 91
constexpr uint8_t kVariableArgs = 255;  // argument count of a function followed by a count byte
constexpr int kMaxFunctionName = 19;    // characters, "@" included

// Operand bytes, and the sizes of whole items (opcode and operand bytes).
constexpr int kRealBytes = 8;
constexpr int kReferenceWordBytes = 2;
constexpr int kCellBytes = 2 * kReferenceWordBytes;   // column word, row word
constexpr int kRangeBytes = 2 * kCellBytes;           // first cell, last cell
constexpr int kIntegerBytes = 2;
constexpr int kRealItemSize = 1 + kRealBytes;
constexpr int kCellItemSize = 1 + kCellBytes;
constexpr int kRangeItemSize = 1 + kRangeBytes;
constexpr int kIntegerItemSize = 1 + kIntegerBytes;
constexpr int kVariableCallSize = 2;  // opcode, count byte

// Reference words: bit 15 marks a relative word whose bits 13..0 hold a
// 14-bit two's-complement offset from the formula's own cell.
constexpr uint16_t kRelativeBit = 0x8000;
constexpr uint16_t kUnusedBit = 0x4000;
constexpr uint16_t kOffsetSignBit = 0x2000;
constexpr int kColumns = 256;
constexpr int kRows = 8192;

// A row of the function table: the text that opens a call, and the
// argument count.
struct CallText {
    const char *open;  // the name with "(", e.g. "@SUM("
    uint8_t argc;      // 0..4, or kVariableArgs
};

// The function table, by opcode: row index = opcode - kFirstFunction.
inline constexpr CallText kFunctionsByOpcode[kFunctionCount] = {
    {"@NA(", 0},        {"@ERR(", 0},       {"@ABS(", 1},        {"@INT(", 1},
    {"@SQRT(", 1},      {"@LOG(", 1},       {"@LN(", 1},         {"@PI(", 0},
    {"@SIN(", 1},       {"@COS(", 1},       {"@TAN(", 1},        {"@ATAN2(", 2},
    {"@ATAN(", 1},      {"@ASIN(", 1},      {"@ACOS(", 1},       {"@EXP(", 1},
    {"@MOD(", 2},       {"@CHOOSE(", 255},  {"@ISNA(", 1},       {"@ISERR(", 1},
    {"@FALSE(", 0},     {"@TRUE(", 0},      {"@RAND(", 0},       {"@DATE(", 3},
    {"@NOW(", 0},       {"@PMT(", 3},       {"@PV(", 3},         {"@FV(", 3},
    {"@IF(", 3},        {"@DAY(", 1},       {"@MONTH(", 1},      {"@YEAR(", 1},
    {"@ROUND(", 2},     {"@TIME(", 3},      {"@HOUR(", 1},       {"@MINUTE(", 1},
    {"@SECOND(", 1},    {"@ISNUMBER(", 1},  {"@ISSTRING(", 1},   {"@LENGTH(", 1},
    {"@VALUE(", 1},     {"@STRING(", 2},    {"@MID(", 3},        {"@CHAR(", 1},
    {"@CODE(", 1},      {"@FIND(", 3},      {"@DATEVALUE(", 1},  {"@TIMEVALUE(", 1},
    {"@CELLPOINTER(", 1}, {"@SUM(", 255},   {"@AVG(", 255},      {"@COUNT(", 255},
    {"@MIN(", 255},     {"@MAX(", 255},     {"@VLOOKUP(", 3},    {"@NPV(", 2},
    {"@VAR(", 255},     {"@STD(", 255},     {"@IRR(", 2},        {"@HLOOKUP(", 3},
    {"@DSUM(", 3},      {"@DAVG(", 3},      {"@DCOUNT(", 3},     {"@DMIN(", 3},
    {"@DMAX(", 3},      {"@DVAR(", 3},      {"@DSTD(", 3},       {"@INDEX(", 3},
    {"@COLS(", 1},      {"@ROWS(", 1},      {"@REPEAT(", 2},     {"@UPPER(", 1},
    {"@LOWER(", 1},     {"@LEFT(", 2},      {"@RIGHT(", 2},      {"@REPLACE(", 4},
    {"@PROPER(", 1},    {"@CELL(", 2},      {"@TRIM(", 1},       {"@CLEAN(", 1},
    {"@S(", 1},         {"@N(", 1},         {"@EXACT(", 2},      {"@APP(", 1},
    {"@@(", 1},         {"@RATE(", 3},      {"@TERM(", 3},       {"@CTERM(", 3},
    {"@SLN(", 3},       {"@SYD(", 4},       {"@DDB(", 4},
};

constexpr bool is_function(unsigned op) { return op >= kFirstFunction && op <= kLastFunction; }
constexpr const CallText &function_by_opcode(unsigned op) { return kFunctionsByOpcode[op - kFirstFunction]; }

namespace detail {

// <0, 0, >0 as the name `name` (NUL-terminated) compares with the name that
// `open` holds before its "(", byte by byte.  Names hold letters, digits
// and "@", all above "(", so the order is that of the names themselves.
constexpr int compare_name(const char *name, const char *open) {
    while (*name && *name == *open) ++name, ++open;
    const int o = *open == '(' ? 0 : static_cast<unsigned char>(*open);
    return static_cast<unsigned char>(*name) - o;
}

constexpr int compare_open(const char *a, const char *b) {
    while (*a == *b && *a != '(') ++a, ++b;
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

constexpr std::array<uint8_t, kFunctionCount> opcodes_sorted_by_name() {
    std::array<uint8_t, kFunctionCount> order{};
    for (int i = 0; i < kFunctionCount; ++i) {
        const auto op = static_cast<uint8_t>(kFirstFunction + i);
        int j = i;
        for (; j > 0 && compare_open(function_by_opcode(order[j - 1]).open, function_by_opcode(op).open) > 0; --j)
            order[j] = order[j - 1];
        order[j] = op;
    }
    return order;
}

}  // namespace detail

// The opcodes in ascending byte order of their names, for binary search.
inline constexpr std::array<uint8_t, kFunctionCount> kOpcodesByName = detail::opcodes_sorted_by_name();

// The opcode of the function with this exact name ("@SUM"), or -1.
constexpr int find_function(const char *name) {
    int lo = 0, hi = kFunctionCount - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = detail::compare_name(name, function_by_opcode(kOpcodesByName[mid]).open);
        if (c == 0) return kOpcodesByName[mid];
        if (c < 0) hi = mid - 1;
        else lo = mid + 1;
    }
    return -1;
}

// The opcode of a function named in the library's own tables; a name the
// function table does not hold stops the compilation.
constexpr uint8_t opcode_of(const char *name) {
    const int op = find_function(name);
    if (op < 0) throw "not in the function table";
    return static_cast<uint8_t>(op);
}

// The decoder's texts per opcode 0..25; row 25 stands for every function
// call, whose prefix is the function's own CallText::open.
struct OperatorTexts {
    const char *prefix;   // before the first argument
    const char *infix;    // before each later argument
    const char *postfix;  // after the last argument
};
constexpr int kFunctionRow = 25;
inline constexpr OperatorTexts kOperatorTable[26] = {
    {"", "", ""},      {"", "", ""},       {"", "", ""},      {"", "", ""},
    {"(", "", ")"},    {"", "", ""},       {"", "", ""},      {"ERR", "", ""},
    {"-", "", ""},     {"", "+", ""},      {"", "-", ""},     {"", "*", ""},
    {"", "/", ""},     {"", "^", ""},      {"", "=", ""},     {"", "<>", ""},
    {"", "<=", ""},    {"", ">=", ""},     {"", "<", ""},     {"", ">", ""},
    {"", "#AND#", ""}, {"", "#OR#", ""},   {"#NOT#", "", ""}, {"+", "", ""},
    {"", "&", ""},     {nullptr, ",", ")"},
};

// --- items -------------------------------------------------------------------

// One item of formula code: its opcode, its size, and how many values it
// takes (an operator's or a call's arguments).  Operands, calls without
// arguments and the end item take none.
struct Item {
    uint8_t op;
    int32_t size;  // opcode and operand bytes; 0: no valid item
    int takes;
};

// The item at p, read no further than end (p < end).  An opcode that names
// no item, and operand bytes (or a string's NUL) beyond end, give size 0.
// kError is an item of size 1 that the decoder and the calculation refuse.
inline Item read_item(const unsigned char *p, const unsigned char *end) {
    const uint8_t op = *p;
    const std::ptrdiff_t left = end - p;
    Item item{op, 1, 0};
    switch (op) {
    case kReal: item.size = kRealItemSize; break;
    case kCell: item.size = kCellItemSize; break;
    case kRange: item.size = kRangeItemSize; break;
    case kInteger: item.size = kIntegerItemSize; break;
    case kString: {
        const void *nul = std::memchr(p + 1, 0, static_cast<std::size_t>(left - 1));
        if (!nul) return Item{op, 0, 0};
        item.size = static_cast<int32_t>(static_cast<const unsigned char *>(nul) - p) + 1;
        break;
    }
    case kEnd:
    case kError: break;
    case kParens:
    case kNegate:
    case kNot:
    case kUnaryPlus: item.takes = 1; break;
    default:
        if ((op >= kAdd && op <= kOr) || op == kConcat) {
            item.takes = 2;
        } else if (!is_function(op)) {
            return Item{op, 0, 0};
        } else if (function_by_opcode(op).argc == kVariableArgs) {
            if (left < kVariableCallSize) return Item{op, 0, 0};
            item.size = kVariableCallSize;
            item.takes = p[1];  // unsigned: 0..255 arguments
        } else {
            item.takes = function_by_opcode(op).argc;
        }
    }
    if (item.size > left) item.size = 0;
    return item;
}

// --- compile-time checks of the tables -----------------------------------

namespace detail {

constexpr int length(const char *s) {
    int n = 0;
    while (s[n]) ++n;
    return n;
}

constexpr bool rows_are_calls() {
    for (const CallText &c : kFunctionsByOpcode) {
        const int n = length(c.open);
        if (c.open[0] != '@' || n - 1 > kMaxFunctionName || c.open[n - 1] != '(') return false;
        for (int i = 1; i < n - 1; ++i)
            if (c.open[i] == '(') return false;
        if (!(c.argc <= 4 || c.argc == kVariableArgs)) return false;
    }
    return true;
}

constexpr bool names_are_unique() {
    for (int i = 1; i < kFunctionCount; ++i)
        if (compare_open(function_by_opcode(kOpcodesByName[i - 1]).open,
                         function_by_opcode(kOpcodesByName[i]).open) >= 0)
            return false;
    return true;
}

}  // namespace detail

static_assert(detail::rows_are_calls(), "every row opens a call: \"@NAME(\"");
static_assert(detail::names_are_unique(), "no two functions share a name");
static_assert(find_function("@SUM") == 80 && function_by_opcode(80).argc == kVariableArgs, "@SUM is opcode 80");
static_assert(find_function("@@") == 115, "@@ is opcode 115");
static_assert(find_function("@ATAN") == 43 && find_function("@ATAN2") == 42, "names that begin alike");
static_assert(find_function("@SUMX") == -1 && find_function("@SU") == -1, "only whole names");

}  // namespace wks::formula

#endif
