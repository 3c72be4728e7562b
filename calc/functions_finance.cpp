/*
 * Financial functions.  Rates are per period; a rate of -1 or less is ERR,
 * and so is a term or life of 0 where it divides.  At a rate of 0 the
 * annuity functions take their limits (@PMT = principal / term, @PV and
 * @FV = payment * term).  Cash-flow ranges (@NPV, @IRR) are one row or one
 * column, read in order; blank cells and labels are 0.  @IRR iterates
 * Newton's method from the guess, at most 20 steps, until a step is below
 * 0.0000001; otherwise it is ERR.  A step that would reach -1 or below goes
 * half way from the rate to -1 instead, so the rate stays where the cash
 * flows are defined.  @DDB depreciates twice the straight rate of the book
 * value each whole period, never below the salvage value: in closed form,
 * so a life of billions of periods costs no more than five.
 */
#include "calc/functions.h"

#include <cmath>

namespace wks::calc {

namespace {

constexpr int kIrrSteps = 20;
constexpr double kIrrTolerance = 1e-7;

bool bad_rate(double rate) { return rate <= -1; }

Value pmt_(Evaluator &, Value *a, int) {
    const double principal = a[0].number, rate = a[1].number, term = a[2].number;
    if (bad_rate(rate) || term == 0) return Value::error();
    if (rate == 0) return number_result(principal / term);
    return number_result(principal * rate / (1 - std::pow(1 + rate, -term)));
}

Value pv_(Evaluator &, Value *a, int) {
    const double payment = a[0].number, rate = a[1].number, term = a[2].number;
    if (bad_rate(rate)) return Value::error();
    if (rate == 0) return number_result(payment * term);
    return number_result(payment * (1 - std::pow(1 + rate, -term)) / rate);
}

Value fv_(Evaluator &, Value *a, int) {
    const double payment = a[0].number, rate = a[1].number, term = a[2].number;
    if (bad_rate(rate)) return Value::error();
    if (rate == 0) return number_result(payment * term);
    return number_result(payment * (std::pow(1 + rate, term) - 1) / rate);
}

Value rate_(Evaluator &, Value *a, int) {
    const double future = a[0].number, present = a[1].number, term = a[2].number;
    if (present == 0 || term == 0 || future / present < 0) return Value::error();
    return number_result(std::pow(future / present, 1 / term) - 1);
}

Value term_(Evaluator &, Value *a, int) {
    const double payment = a[0].number, rate = a[1].number, future = a[2].number;
    if (bad_rate(rate) || payment == 0) return Value::error();
    if (rate == 0) return number_result(future / payment);
    const double growth = 1 + future * rate / payment;
    if (growth <= 0) return Value::error();
    return number_result(std::log(growth) / std::log(1 + rate));
}

Value cterm_(Evaluator &, Value *a, int) {
    const double rate = a[0].number, future = a[1].number, present = a[2].number;
    if (bad_rate(rate) || rate == 0 || present == 0 || future / present <= 0) return Value::error();
    return number_result(std::log(future / present) / std::log(1 + rate));
}

Value sln_(Evaluator &, Value *a, int) {
    if (a[2].number == 0) return Value::error();
    return number_result((a[0].number - a[1].number) / a[2].number);
}

Value syd_(Evaluator &, Value *a, int) {
    const double cost = a[0].number, salvage = a[1].number, life = a[2].number, period = a[3].number;
    if (life <= 0 || period < 1 || period > life) return Value::error();
    return number_result((cost - salvage) * (life - period + 1) * 2 / (life * (life + 1)));
}

Value ddb_(Evaluator &, Value *a, int) {
    const double cost = a[0].number, salvage = a[1].number, life = a[2].number;
    const double period = std::trunc(a[3].number);
    if (cost < 0 || salvage < 0 || salvage > cost || life < 1 || period < 1 || period > life)
        return Value::error();
    const double rate = 2 / life;
    // The book value at the period's start had no period before it reached
    // the salvage value; a rate of 1 or more reaches it in the first.
    const double book = period == 1 ? cost : rate >= 1 ? 0 : cost * std::pow(1 - rate, period - 1);
    if (book < salvage) return Value::of(0);  // an earlier period reached the salvage value
    const double depreciation = book * rate;
    return number_result(book - depreciation < salvage ? book - salvage : depreciation);
}

// The cash flows of a one-row or one-column range; false (with the error
// in *error) for a larger block or an error value in a cell.
template <typename Flow>
bool flows(Evaluator &ev, const Range &r, Value *error, Flow flow) {
    if (r.columns() > 1 && r.rows() > 1) {
        *error = Value::error();
        return false;
    }
    Tag seen = Tag::kBlank;
    int i = 0;
    for (int c = r.c1; c <= r.c2; ++c)
        for (int row = r.r1; row <= r.r2; ++row, ++i) {
            const Value v = ev.sheet().value_at(c, row);
            seen = error_of(Value::tagged(seen), v);
            flow(i, number_of(v));
        }
    if (seen != Tag::kBlank) *error = Value::tagged(seen);
    return seen == Tag::kBlank;
}

Value npv_(Evaluator &ev, Value *a, int) {
    const double rate = a[0].number;
    if (bad_rate(rate)) return Value::error();
    double sum = 0, discount = 1;
    Value error;
    if (!flows(ev, a[1].range, &error, [&](int, double v) {
            discount /= 1 + rate;
            sum += v * discount;
        }))
        return error;
    return number_result(sum);
}

Value irr_(Evaluator &ev, Value *a, int) {
    double rate = a[0].number;
    const Range range = a[1].range;
    for (int step = 0; step < kIrrSteps; ++step) {
        if (bad_rate(rate)) return Value::error();
        double f = 0, slope = 0;
        Value error;
        if (!flows(ev, range, &error, [&](int i, double v) {
                f += v * std::pow(1 + rate, -i);
                slope -= i * v * std::pow(1 + rate, -i - 1);
            }))
            return error;
        if (slope == 0 || slope - slope != 0) return Value::error();
        double next = rate - f / slope;
        if (bad_rate(next)) next = (rate - 1) / 2;
        if (std::fabs(next - rate) < kIrrTolerance) return number_result(next);
        rate = next;
    }
    return Value::error();
}

constexpr FunctionRow kTable[] = {
    {"@PMT", "nnn", pmt_}, {"@PV", "nnn", pv_}, {"@FV", "nnn", fv_}, {"@NPV", "nr", npv_}, {"@IRR", "nr", irr_},
    {"@RATE", "nnn", rate_}, {"@TERM", "nnn", term_}, {"@CTERM", "nnn", cterm_}, {"@SLN", "nnn", sln_},
    {"@SYD", "nnnn", syd_}, {"@DDB", "nnnn", ddb_},
};

}  // namespace

FunctionGroup finance_functions() { return {kTable, sizeof kTable / sizeof kTable[0]}; }

}  // namespace wks::calc
