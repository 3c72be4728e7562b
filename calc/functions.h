/*
 * The function table's implementations, grouped by subject in the
 * functions_*.cpp files.  Each group lists its rows (function name, argument
 * kinds, implementation); call_function prepares the arguments by their
 * kinds before the implementation sees them:
 *
 *   n  a number: the value of a reference, strings and blanks as 0
 *   s  a string: the value of a reference; anything else makes the call ERR
 *   v  a value: the value of a reference, as it is
 *   a  a value whose ERR or NA does not make the call ERR or NA (@IF's
 *      branches, @ISERR's argument...)
 *   r  a reference to a cell or range; anything else makes the call ERR
 *   x  left as written: a reference stays a reference (list arguments)
 *
 * A '*' at the end repeats the kind before it for the remaining arguments.
 * ERR in any argument of kind n, s or v makes the result ERR, else NA makes
 * it NA, before the implementation runs.
 */
#ifndef WKS_CALC_FUNCTIONS_H
#define WKS_CALC_FUNCTIONS_H

#include "calc/evaluator.h"
#include "calc/value.h"
#include "formula/code_tables.h"

#include <cstdint>

namespace wks::calc {

using FunctionImpl = Value (*)(Evaluator &ev, Value *args, int argc);

// A row names its function as the function table spells it ("@ABS"); the
// opcode is looked up when the library is compiled, and a name the table
// does not hold stops the compilation.
struct FunctionRow {
    constexpr FunctionRow(const char *name, const char *argument_kinds, FunctionImpl implementation)
        : opcode(formula::opcode_of(name)), kinds(argument_kinds), impl(implementation) {}
    uint8_t opcode;
    const char *kinds;
    FunctionImpl impl;
};

struct FunctionGroup {
    const FunctionRow *rows;
    int count;
};

FunctionGroup math_functions();
FunctionGroup logic_functions();
FunctionGroup text_functions();
FunctionGroup date_functions();
FunctionGroup finance_functions();
FunctionGroup statistics_functions();
FunctionGroup database_functions();
FunctionGroup lookup_functions();
FunctionGroup info_functions();

// Shared helpers.

// x rounded to `places` decimals (-15..15), halves away from zero, as the
// number reads with 15 significant digits.
double round_decimal(double x, int places);
// Truncated toward zero into an int, clamped to +-2^30.
int whole(double x);
// Every cell of r that holds something, row by row within each column,
// with its column and row; stops early when visit returns false.
template <typename Visit>
void for_each_cell(const Sheet &sheet, const Range &r, Visit visit) {
    for (int c = r.c1; c <= r.c2; ++c) {
        for (int row = r.r1; row <= r.r2;) {
            int page_end = (row / Sheet::kPageRows + 1) * Sheet::kPageRows - 1;
            if (page_end > r.r2) page_end = r.r2;
            if (!sheet.find(c, row)) {  // no page: nothing was ever set in these rows
                row = page_end + 1;
                continue;
            }
            for (; row <= page_end; ++row)
                if (sheet.find(c, row)->kind != CellKind::kEmpty && !visit(c, row)) return;
        }
    }
}
// Equality of two strings, letters of either case being the same.
bool same_text(const Value &a, const Value &b, const charsets::CaseTable &letters);

}  // namespace wks::calc

#endif
