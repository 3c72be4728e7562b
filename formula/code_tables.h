/*
 * The definition of formula code shared by the compiler and the decoder:
 * opcodes, the function table in both of its orders (by name for the lexer,
 * by opcode for the decoder) and the decoder's operator table.  All of it is
 * constant data; the consistency of the two function orders is checked at
 * compile time below.
 *
 * Formula code: a 16-bit little-endian code length, then code items in
 * reverse Polish order ending with kEnd.  An item is an opcode byte and the
 * operand bytes the opcode defines.
 */
#ifndef WKS_FORMULA_CODE_TABLES_H
#define WKS_FORMULA_CODE_TABLES_H

#include <cstdint>

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

// Reference words: bit 15 marks a relative word whose bits 13..0 hold a
// 14-bit two's-complement offset from the formula's own cell.
constexpr uint16_t kRelativeBit = 0x8000;
constexpr uint16_t kUnusedBit = 0x4000;
constexpr uint16_t kOffsetSignBit = 0x2000;
constexpr int kColumns = 256;
constexpr int kRows = 8192;

struct Function {
    const char *name;  // as written in formula text, e.g. "@SUM"
    uint8_t opcode;
    uint8_t argc;      // 0..4, or kVariableArgs
};

// The decoder's row: the text that opens a call, and the argument count.
struct CallText {
    const char *open;  // the name with "(", e.g. "@SUM("
    uint8_t argc;
};

// Rows by opcode: row index = opcode - kFirstFunction.
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

// The same rows in ascending byte order of their names, for binary search.
inline constexpr Function kFunctionsByName[kFunctionCount] = {
    {"@@", 115, 1},         {"@ABS", 33, 1},        {"@ACOS", 45, 1},       {"@APP", 114, 1},
    {"@ASIN", 44, 1},       {"@ATAN", 43, 1},       {"@ATAN2", 42, 2},      {"@AVG", 81, 255},
    {"@CELL", 108, 2},      {"@CELLPOINTER", 79, 1}, {"@CHAR", 74, 1},      {"@CHOOSE", 48, 255},
    {"@CLEAN", 110, 1},     {"@CODE", 75, 1},       {"@COLS", 99, 1},       {"@COS", 40, 1},
    {"@COUNT", 82, 255},    {"@CTERM", 118, 3},     {"@DATE", 54, 3},       {"@DATEVALUE", 77, 1},
    {"@DAVG", 92, 3},       {"@DAY", 60, 1},        {"@DCOUNT", 93, 3},     {"@DDB", 121, 4},
    {"@DMAX", 95, 3},       {"@DMIN", 94, 3},       {"@DSTD", 97, 3},       {"@DSUM", 91, 3},
    {"@DVAR", 96, 3},       {"@ERR", 32, 0},        {"@EXACT", 113, 2},     {"@EXP", 46, 1},
    {"@FALSE", 51, 0},      {"@FIND", 76, 3},       {"@FV", 58, 3},         {"@HLOOKUP", 90, 3},
    {"@HOUR", 65, 1},       {"@IF", 59, 3},         {"@INDEX", 98, 3},      {"@INT", 34, 1},
    {"@IRR", 89, 2},        {"@ISERR", 50, 1},      {"@ISNA", 49, 1},       {"@ISNUMBER", 68, 1},
    {"@ISSTRING", 69, 1},   {"@LEFT", 104, 2},      {"@LENGTH", 70, 1},     {"@LN", 37, 1},
    {"@LOG", 36, 1},        {"@LOWER", 103, 1},     {"@MAX", 84, 255},      {"@MID", 73, 3},
    {"@MIN", 83, 255},      {"@MINUTE", 66, 1},     {"@MOD", 47, 2},        {"@MONTH", 61, 1},
    {"@N", 112, 1},         {"@NA", 31, 0},         {"@NOW", 55, 0},        {"@NPV", 86, 2},
    {"@PI", 38, 0},         {"@PMT", 56, 3},        {"@PROPER", 107, 1},    {"@PV", 57, 3},
    {"@RAND", 53, 0},       {"@RATE", 116, 3},      {"@REPEAT", 101, 2},    {"@REPLACE", 106, 4},
    {"@RIGHT", 105, 2},     {"@ROUND", 63, 2},      {"@ROWS", 100, 1},      {"@S", 111, 1},
    {"@SECOND", 67, 1},     {"@SIN", 39, 1},        {"@SLN", 119, 3},       {"@SQRT", 35, 1},
    {"@STD", 88, 255},      {"@STRING", 72, 2},     {"@SUM", 80, 255},      {"@SYD", 120, 4},
    {"@TAN", 41, 1},        {"@TERM", 117, 3},      {"@TIME", 64, 3},       {"@TIMEVALUE", 78, 1},
    {"@TRIM", 109, 1},      {"@TRUE", 52, 0},       {"@UPPER", 102, 1},     {"@VALUE", 71, 1},
    {"@VAR", 87, 255},      {"@VLOOKUP", 85, 3},    {"@YEAR", 62, 1},
};

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

// The function with this exact name ("@SUM"), or null.  Binary search.
const Function *find_function(const char *name);

constexpr bool is_function(unsigned op) { return op >= kFirstFunction && op <= kLastFunction; }
constexpr const CallText &function_by_opcode(unsigned op) { return kFunctionsByOpcode[op - kFirstFunction]; }

// --- compile-time checks of the tables -----------------------------------

namespace detail {

constexpr int compare(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

constexpr int length(const char *s) {
    int n = 0;
    while (s[n]) ++n;
    return n;
}

// open == name + "("
constexpr bool is_call_text_of(const char *open, const char *name) {
    while (*name && *name == *open) ++name, ++open;
    return *name == 0 && open[0] == '(' && open[1] == 0;
}

constexpr bool by_name_is_sorted() {
    for (int i = 1; i < kFunctionCount; ++i)
        if (compare(kFunctionsByName[i - 1].name, kFunctionsByName[i].name) >= 0) return false;
    return true;
}

constexpr bool orders_agree() {
    bool seen[kFunctionCount] = {};
    for (const Function &f : kFunctionsByName) {
        if (!is_function(f.opcode) || seen[f.opcode - kFirstFunction]) return false;
        seen[f.opcode - kFirstFunction] = true;
        const CallText &c = kFunctionsByOpcode[f.opcode - kFirstFunction];
        if (c.argc != f.argc || !is_call_text_of(c.open, f.name)) return false;
        if (f.name[0] != '@' || length(f.name) > kMaxFunctionName) return false;
        if (!(f.argc <= 4 || f.argc == kVariableArgs)) return false;
    }
    return true;
}

}  // namespace detail

static_assert(detail::by_name_is_sorted(), "function names must be in ascending byte order");
static_assert(detail::orders_agree(), "each name row must match the opcode row at opcode - 31");
static_assert(kFunctionsByOpcode[80 - kFirstFunction].argc == kVariableArgs, "@SUM is opcode 80");
static_assert(detail::is_call_text_of(kFunctionsByOpcode[115 - kFirstFunction].open, "@@"), "@@ is opcode 115");

}  // namespace wks::formula

#endif
