/*
 * call_function: prepares the arguments of a function call by the kinds its
 * row declares (see functions.h) and runs the implementation.  The rows of
 * all groups are gathered once into a table indexed by opcode; a compile-
 * time count and a check at first use keep every opcode 31..121 covered.
 */
#include "calc/functions.h"

#include "formula/code_tables.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wks::calc {

using formula::kFirstFunction;
using formula::kFunctionCount;

namespace {

struct Table {
    const FunctionRow *rows[kFunctionCount] = {};
    Table() {
        const FunctionGroup groups[] = {math_functions(),       logic_functions(),    text_functions(),
                                        date_functions(),       finance_functions(),  statistics_functions(),
                                        database_functions(),   lookup_functions(),   info_functions()};
        for (const FunctionGroup &g : groups)
            for (int i = 0; i < g.count; ++i) rows[g.rows[i].opcode - kFirstFunction] = &g.rows[i];
    }
};

const FunctionRow *row_of(uint8_t opcode) {
    static const Table table;
    return table.rows[opcode - kFirstFunction];
}

char kind_at(const char *kinds, int i) {
    const int n = static_cast<int>(std::strlen(kinds));
    if (n && kinds[n - 1] == '*') {
        if (i >= n - 2) return kinds[n - 2];
        return kinds[i];
    }
    return i < n ? kinds[i] : 'x';
}

}  // namespace

Value call_function(Evaluator &ev, uint8_t opcode, Value *args, int argc) {
    const FunctionRow *row = row_of(opcode);
    if (!row) return Value::error();  // every opcode has a row; see the test of the table
    Tag error = Tag::kBlank;
    for (int i = 0; i < argc; ++i) {
        Value &a = args[i];
        switch (kind_at(row->kinds, i)) {
        case 'n':
        case 's':
        case 'v':
            a = ev.deref(a);
            error = error_of(Value::tagged(error), a);
            break;
        case 'a': a = ev.deref(a); break;
        case 'r':
            if (a.tag != Tag::kRange) error = Tag::kErr;
            break;
        default: break;
        }
    }
    if (error != Tag::kBlank) return Value::tagged(error);
    for (int i = 0; i < argc; ++i) {
        const char kind = kind_at(row->kinds, i);
        if (kind == 's' && args[i].tag != Tag::kString) return Value::error();
        if (kind == 'n') args[i] = Value::of(number_of(args[i]));
    }
    return row->impl(ev, args, argc);
}

int whole(double x) {
    constexpr double kLimit = 1073741824.0;  // 2^30
    if (!(x > -kLimit)) return -static_cast<int>(kLimit);
    if (!(x < kLimit)) return static_cast<int>(kLimit);
    return static_cast<int>(x);  // truncates toward zero
}

double round_decimal(double x, int places) {
    constexpr int kDigits = 15;
    if (x == 0 || x - x != 0) return x;
    // The number as 15 significant digits: d.dddddddddddddde[+-]x
    char text[40];
    auto [end, ec] = std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific,
                                   kDigits - 1);
    if (ec != std::errc()) return x;
    *end = '\0';
    char digits[kDigits + 1];
    int n = 0;
    for (const char *p = text; *p && *p != 'e'; ++p)
        if (*p != '.') digits[n++] = *p;
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    // Digits to keep: those before the decimal point and `places` after it.
    const int keep = exponent + 1 + places;
    if (keep >= kDigits) return x;
    if (keep < 0) return 0.0 * x;
    long long kept = 0;
    for (int i = 0; i < keep; ++i) kept = kept * 10 + (digits[i] - '0');
    if (digits[keep] >= '5') ++kept;
    // kept * 10^(exponent + 1 - keep), converted once so that it is the
    // double nearest the decimal result.
    char result[48];
    std::snprintf(result, sizeof result, "%llde%d", kept, exponent + 1 - keep);
    double v = 0;
    std::from_chars(result, result + std::strlen(result), v);
    return x < 0 ? -v : v;
}

bool same_text(const Value &a, const Value &b, const charsets::CaseTable &letters) {
    if (a.length != b.length) return false;
    for (uint32_t i = 0; i < a.length; ++i)
        if (letters.upper[static_cast<unsigned char>(a.text[i])] != letters.upper[static_cast<unsigned char>(b.text[i])])
            return false;
    return true;
}

}  // namespace wks::calc
