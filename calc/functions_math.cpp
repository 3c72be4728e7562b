/*
 * Arithmetic, trigonometry and rounding.  @INT truncates toward zero, @MOD
 * keeps the sign of the dividend, @ROUND rounds halves away from zero at
 * -15..15 decimals, @ATAN2(x, y) is the angle of the point (x, y).  Domain
 * errors (roots and logarithms of negatives, division by zero, arc sines
 * outside -1..1) are ERR.
 */
#include "calc/functions.h"

#include <cmath>

namespace wks::calc {

namespace {

constexpr int kMaxPlaces = 15;
constexpr double kPi = 3.14159265358979323846;

double x0(const Value *a) { return a[0].number; }

Value abs_(Evaluator &, Value *a, int) { return Value::of(std::fabs(x0(a))); }
Value int_(Evaluator &, Value *a, int) { return Value::of(std::trunc(x0(a))); }
Value sqrt_(Evaluator &, Value *a, int) { return x0(a) < 0 ? Value::error() : Value::of(std::sqrt(x0(a))); }
Value log_(Evaluator &, Value *a, int) { return x0(a) <= 0 ? Value::error() : Value::of(std::log10(x0(a))); }
Value ln_(Evaluator &, Value *a, int) { return x0(a) <= 0 ? Value::error() : Value::of(std::log(x0(a))); }
Value pi_(Evaluator &, Value *, int) { return Value::of(kPi); }
Value sin_(Evaluator &, Value *a, int) { return number_result(std::sin(x0(a))); }
Value cos_(Evaluator &, Value *a, int) { return number_result(std::cos(x0(a))); }
Value tan_(Evaluator &, Value *a, int) { return number_result(std::tan(x0(a))); }
Value atan_(Evaluator &, Value *a, int) { return Value::of(std::atan(x0(a))); }
Value asin_(Evaluator &, Value *a, int) {
    return std::fabs(x0(a)) > 1 ? Value::error() : Value::of(std::asin(x0(a)));
}
Value acos_(Evaluator &, Value *a, int) {
    return std::fabs(x0(a)) > 1 ? Value::error() : Value::of(std::acos(x0(a)));
}
Value atan2_(Evaluator &, Value *a, int) {
    const double x = a[0].number, y = a[1].number;
    return x == 0 && y == 0 ? Value::error() : Value::of(std::atan2(y, x));
}
Value exp_(Evaluator &, Value *a, int) { return number_result(std::exp(x0(a))); }
Value mod_(Evaluator &, Value *a, int) {
    return a[1].number == 0 ? Value::error() : number_result(std::fmod(a[0].number, a[1].number));
}
Value round_(Evaluator &, Value *a, int) {
    const double places = std::trunc(a[1].number);
    if (places < -kMaxPlaces || places > kMaxPlaces) return Value::error();
    return number_result(round_decimal(a[0].number, static_cast<int>(places)));
}

constexpr FunctionRow kTable[] = {
    {"@ABS", "n", abs_}, {"@INT", "n", int_}, {"@SQRT", "n", sqrt_}, {"@LOG", "n", log_}, {"@LN", "n", ln_},
    {"@PI", "", pi_}, {"@SIN", "n", sin_}, {"@COS", "n", cos_}, {"@TAN", "n", tan_}, {"@ATAN2", "nn", atan2_},
    {"@ATAN", "n", atan_}, {"@ASIN", "n", asin_}, {"@ACOS", "n", acos_}, {"@EXP", "n", exp_}, {"@MOD", "nn", mod_},
    {"@ROUND", "nn", round_},
};

}  // namespace

FunctionGroup math_functions() { return {kTable, sizeof kTable / sizeof kTable[0]}; }

}  // namespace wks::calc
