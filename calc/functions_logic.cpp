/*
 * Logic, error values, choice and type tests.  @IF and @CHOOSE pass their
 * chosen value on as it is (ERR and NA in a branch not taken do not matter);
 * a condition is true when its number is not 0 (strings count 0).  @CHOOSE
 * counts from 0; an index outside the list is ERR.  @ISNUMBER is 1 for
 * anything that is not a string: numbers, blank cells, ERR and NA.
 */
#include "calc/functions.h"

#include <cmath>

namespace wks::calc {

namespace {

Value truth(bool b) { return Value::of(b ? 1 : 0); }

Value na_(Evaluator &, Value *, int) { return Value::na(); }
Value err_(Evaluator &, Value *, int) { return Value::error(); }
Value false_(Evaluator &, Value *, int) { return Value::of(0); }
Value true_(Evaluator &, Value *, int) { return Value::of(1); }
Value rand_(Evaluator &ev, Value *, int) { return Value::of(ev.random()); }
Value if_(Evaluator &, Value *a, int) { return a[0].number != 0 ? a[1] : a[2]; }
Value choose_(Evaluator &, Value *a, int argc) {
    const double i = std::trunc(a[0].number);
    if (!(i >= 0 && i < argc - 1)) return Value::error();
    return a[1 + static_cast<int>(i)];
}
Value isna_(Evaluator &, Value *a, int) { return truth(a[0].tag == Tag::kNa); }
Value iserr_(Evaluator &, Value *a, int) { return truth(a[0].tag == Tag::kErr); }
Value isnumber_(Evaluator &, Value *a, int) { return truth(a[0].tag != Tag::kString); }
Value isstring_(Evaluator &, Value *a, int) { return truth(a[0].tag == Tag::kString); }

constexpr FunctionRow kTable[] = {
    {"@NA", "", na_}, {"@ERR", "", err_}, {"@CHOOSE", "na*", choose_}, {"@ISNA", "a", isna_}, {"@ISERR", "a", iserr_},
    {"@FALSE", "", false_}, {"@TRUE", "", true_}, {"@RAND", "", rand_}, {"@IF", "naa", if_},
    {"@ISNUMBER", "a", isnumber_}, {"@ISSTRING", "a", isstring_},
};

}  // namespace

FunctionGroup logic_functions() { return {kTable, sizeof kTable / sizeof kTable[0]}; }

}  // namespace wks::calc
