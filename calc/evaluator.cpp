/*
 * The evaluation loop and the operators.  Code reaching run() has passed
 * check_code, so every item, operand and reference is known to be inside the
 * code and the sheet, and the stack cannot overflow.
 *
 * Operators follow the language: a reference yields its cell's value; ERR
 * wins over NA and both pass through every operator; arithmetic, logic and
 * comparisons read strings and blank cells as 0, except that two strings
 * compare as text, ignoring case; & joins two strings and is ERR for
 * anything else.  A result that is no finite number is ERR.
 */
#include "calc/evaluator.h"

#include "calc/dates.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

namespace wks::calc {

using namespace wks::formula;

namespace {

uint64_t mix(uint64_t x) {  // splitmix64's finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// <0, 0, >0 as a and b compare, letters of either case being the same.
int compare_text(const charsets::CaseTable &letters, const Value &a, const Value &b) {
    const uint32_t n = a.length < b.length ? a.length : b.length;
    for (uint32_t i = 0; i < n; ++i) {
        const int d = letters.lower[static_cast<unsigned char>(a.text[i])] - letters.lower[static_cast<unsigned char>(b.text[i])];
        if (d) return d;
    }
    return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

Value truth(bool b) { return Value::of(b ? 1.0 : 0.0); }

Range cell_range(int c, int r) {
    return Range{static_cast<uint8_t>(c), static_cast<uint8_t>(c), static_cast<uint16_t>(r),
                 static_cast<uint16_t>(r)};
}

Range range_of(const unsigned char *words, int col, int row) {
    const unsigned char *last = words + kCellBytes;
    const int c1 = resolve_column(get_u16(words), col), r1 = resolve_row(get_u16(words + kReferenceWordBytes), row);
    const int c2 = resolve_column(get_u16(last), col), r2 = resolve_row(get_u16(last + kReferenceWordBytes), row);
    // Corners may be written in any order; the range is the rectangle.
    return Range{static_cast<uint8_t>(c1 < c2 ? c1 : c2), static_cast<uint8_t>(c1 < c2 ? c2 : c1),
                 static_cast<uint16_t>(r1 < r2 ? r1 : r2), static_cast<uint16_t>(r1 < r2 ? r2 : r1)};
}

}  // namespace

Evaluator::Evaluator(const Sheet &sheet, const Options &options) : sheet_(sheet), options_(options) {
    const auto ticks = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    random_state_ = mix(ticks ^ reinterpret_cast<uintptr_t>(this));
}

Value Evaluator::deref(const Value &v) const {
    if (v.tag != Tag::kRange) return v;
    if (!v.range.single()) return Value::error();
    return sheet_.value_at(v.range.c1, v.range.r1);
}

char *Evaluator::room(std::size_t n) {
    if (n > kMaxText) return nullptr;
    char *p = scratch_.take(n);
    if (!p) starved_ = true;
    return p;
}

Value Evaluator::text(const char *s, std::size_t n) {
    if (n == 0) return Value::string("", 0);
    char *p = room(n);
    if (!p) return Value::error();
    std::memcpy(p, s, n);
    return Value::string(p, static_cast<uint32_t>(n));
}

double Evaluator::now() {
    if (options_.reproducible) return kFixedNow;
    const std::time_t t = std::time(nullptr);
    const std::tm *local = std::localtime(&t);
    if (!local) return kFixedNow;
    const double day = date_serial(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday);
    return day + (local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec) / 86400.0;
}

double Evaluator::random() {
    if (options_.reproducible) return kFixedRandom;
    random_state_ = mix(random_state_);
    return static_cast<double>(random_state_ >> 11) * (1.0 / 9007199254740992.0);  // [0, 1)
}

void Evaluator::reach(int col, int row) {
    const Cell *cell = current_ == UINT32_MAX ? nullptr : sheet_.find(col, row);
    if (!cell || cell->kind != CellKind::kFormula) return;
    const Reach r{current_, cell->ref};
    if (!reached_.empty() && reached_.back().from == r.from && reached_.back().to == r.to) return;
    if (!reached_.push(r)) starved_ = true;
}

Value Evaluator::finish(const Value &v) const {
    Value r = deref(v);
    if (r.tag == Tag::kBlank) return Value::of(0);
    if (r.tag == Tag::kNumber) return number_result(r.number);
    if (r.tag == Tag::kString && r.length > kMaxText) return Value::error();  // a long label passed on
    return r;
}

Value Evaluator::evaluate(const unsigned char *code, std::size_t available, int col, int row) {
    if (col < 0 || col >= kColumns || row < 0 || row >= kRows) return Value::error();
    const CodeShape shape = check_code(code, available, col, row);
    if (!shape.ok || top_ + shape.depth > kStackDepth) return Value::error();
    if (nesting_ == 0) scratch_.reset();
    return run(code + kCodeLengthSize, col, row);
}

bool Evaluator::poll() {
    if (!stopped_ && options_.poll && ++evaluations_ % kPollEvery == 0)
        stopped_ = options_.poll(options_.poll_context) != 0;
    return stopped_;
}

Value Evaluator::evaluate_formula(uint32_t i) {
    const Formula &f = sheet_.formula(i);
    if (f.flags & kMalformed || poll()) return Value::error();
    if (nesting_ == 0) scratch_.reset();
    current_ = i;
    const Value v = run(sheet_.code_of(f), f.col, f.row);
    current_ = UINT32_MAX;
    return v;
}

Value Evaluator::evaluate_shifted(uint32_t i, int col, int row) {
    const Formula &f = sheet_.formula(i);
    if (f.flags & kMalformed || poll()) return Value::error();
    if (shifting_ || i == current_) return sheet_.value_of(f.value);
    // The code was checked for its own cell; another base needs its own check.
    const CodeShape shape = check_code(sheet_.code_with_length(f), f.length + kCodeLengthSize, col, row);
    if (!shape.ok || top_ + shape.depth > kStackDepth) return Value::error();
    shifting_ = true;
    const Value v = run(sheet_.code_of(f), col, row);
    shifting_ = false;
    return v;
}

Value Evaluator::run(const unsigned char *p, int col, int row) {
    Value *const base = stack_ + top_;
    Value *sp = base;
    ++nesting_;
    for (;;) {
        const uint8_t op = *p;
        switch (op) {
        case kReal:  // a constant that is no finite number is ERR, as such a result is
            *sp++ = number_result(get_f64(p + 1));
            p += kRealItemSize;
            continue;
        case kCell:
            *sp++ = Value::reference(
                cell_range(resolve_column(get_u16(p + 1), col), resolve_row(get_u16(p + 1 + kReferenceWordBytes), row)),
                true);
            p += kCellItemSize;
            continue;
        case kRange:
            *sp++ = Value::reference(range_of(p + 1, col, row), false);
            p += kRangeItemSize;
            continue;
        case kInteger:
            *sp++ = Value::of(get_i16(p + 1));
            p += kIntegerItemSize;
            continue;
        case kString: {
            const char *s = reinterpret_cast<const char *>(p + 1);
            const std::size_t n = std::strlen(s);
            *sp++ = Value::string(s, static_cast<uint32_t>(n));
            p += n + 2;  // opcode, text, NUL
            continue;
        }
        case kEnd: {
            --nesting_;
            return sp == base ? Value::of(0) : finish(sp[-1]);
        }
        case kParens:
        case kUnaryPlus:  // both leave their argument as it is
            ++p;
            continue;
        default: break;
        }

        if (is_function(op)) {
            int argc = function_by_opcode(op).argc;
            if (argc == kVariableArgs) argc = *++p;
            ++p;
            Value *args = sp - argc;
            const int saved_top = top_;
            top_ = static_cast<int>(sp - stack_);  // a nested evaluation starts above the arguments
            const Value result = call_function(*this, op, args, argc);
            top_ = saved_top;
            *args = result;
            sp = args + 1;
            continue;
        }

        ++p;
        if (op == kNegate || op == kNot) {
            const Value a = deref(sp[-1]);
            if (a.is_error()) sp[-1] = a;
            else if (op == kNegate) sp[-1] = Value::of(-number_of(a));
            else sp[-1] = truth(number_of(a) == 0);
            continue;
        }

        // Binary operators.
        const Value a = deref(sp[-2]), b = deref(sp[-1]);
        --sp;
        Value &out = sp[-1];
        const Tag error = error_of(a, b);
        if (error != Tag::kBlank) {
            out = Value::tagged(error);
            continue;
        }
        if (op == kConcat) {
            if (a.tag != Tag::kString || b.tag != Tag::kString) {
                out = Value::error();
                continue;
            }
            const std::size_t n = std::size_t{a.length} + b.length;
            char *s = n ? room(n) : nullptr;
            if (n && !s) {
                out = Value::error();
                continue;
            }
            if (a.length) std::memcpy(s, a.text, a.length);
            if (b.length) std::memcpy(s + a.length, b.text, b.length);
            out = Value::string(n ? s : "", static_cast<uint32_t>(n));
            continue;
        }
        if (op >= kEqual && op <= kGreater) {
            int c;
            if (a.tag == Tag::kString && b.tag == Tag::kString) {
                c = compare_text(letters(), a, b);
            } else {
                const double x = number_of(a), y = number_of(b);
                c = x < y ? -1 : x > y ? 1 : 0;
            }
            switch (op) {
            case kEqual: out = truth(c == 0); break;
            case kNotEqual: out = truth(c != 0); break;
            case kLessEqual: out = truth(c <= 0); break;
            case kGreaterEqual: out = truth(c >= 0); break;
            case kLess: out = truth(c < 0); break;
            default: out = truth(c > 0); break;
            }
            continue;
        }
        const double x = number_of(a), y = number_of(b);
        switch (op) {
        case kAdd: out = number_result(x + y); break;
        case kSubtract: out = number_result(x - y); break;
        case kMultiply: out = number_result(x * y); break;
        case kDivide: out = y == 0 ? Value::error() : number_result(x / y); break;
        case kPower: out = number_result(std::pow(x, y)); break;
        case kAnd: out = truth(x != 0 && y != 0); break;
        default: out = truth(x != 0 || y != 0); break;  // kOr
        }
    }
}

}  // namespace wks::calc
