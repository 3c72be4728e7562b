/*
 * The statistical functions over lists (@SUM @AVG @COUNT @MIN @MAX @VAR
 * @STD) and the database functions over records selected by a criteria
 * range (@DSUM ... @DSTD).
 *
 * A list argument is a range, a cell reference or a value.  In a range,
 * blank cells are passed over and labels count as 0 (so @COUNT counts the
 * cells that are not blank); a cell reference counts as its value even when
 * the cell is blank (0); a string value counts as 0.  ERR anywhere makes the
 * result ERR, else NA makes it NA.  @VAR and @STD are of the population
 * (divided by the count).  @AVG, @VAR and @STD of nothing are ERR; @MIN and
 * @MAX of nothing are 0.
 *
 * Database functions: @DSUM(input, offset, criteria).  The first row of the
 * input range names its fields; each row below is a record, and offset (from
 * 0) picks the field the function reads.  The first row of the criteria
 * range names fields too; a record is selected when it meets every condition
 * of at least one row below it (a criteria range of one row selects every
 * record).  A condition is a number (the field equals it), a label or string
 * (the field's text matches: any case, ? any one character, * at the end the
 * rest, ~ in front negates), or a formula, evaluated for each record as if it
 * stood as many rows further down as the record lies below the first record
 * (true when not 0).  A blank condition is none.  A label or number condition
 * under a name no input field has selects nothing.
 */
#include "calc/functions.h"

#include <cmath>

namespace wks::calc {

namespace {

enum class Stat { kSum, kAvg, kCount, kMin, kMax, kVar, kStd };

struct Accumulator {
    long count = 0;
    double sum = 0, mean = 0, m2 = 0, min = 0, max = 0;
    Tag error = Tag::kBlank;

    void add(const Value &v) {
        if (v.is_error()) {
            error = error_of(Value::tagged(error), v);
            return;
        }
        const double x = number_of(v);
        ++count;
        sum += x;
        const double delta = x - mean;  // Welford: mean and squared deviations in one pass
        mean += delta / static_cast<double>(count);
        m2 += delta * (x - mean);
        if (count == 1 || x < min) min = x;
        if (count == 1 || x > max) max = x;
    }

    Value result(Stat stat) const {
        if (error != Tag::kBlank) return Value::tagged(error);
        const double n = static_cast<double>(count);
        switch (stat) {
        case Stat::kSum: return number_result(sum);
        case Stat::kCount: return Value::of(n);
        case Stat::kMin: return Value::of(count ? min : 0);
        case Stat::kMax: return Value::of(count ? max : 0);
        case Stat::kAvg: return count ? number_result(sum / n) : Value::error();
        case Stat::kVar: return count ? number_result(m2 / n) : Value::error();
        default: return count ? number_result(std::sqrt(m2 / n)) : Value::error();
        }
    }
};

void add_range(Evaluator &ev, const Range &r, Accumulator &acc) {
    const Sheet &sheet = ev.sheet();
    for_each_cell(sheet, r, [&](int c, int row) {
        const Value v = sheet.value_at(c, row);
        if (v.tag != Tag::kBlank) acc.add(v);
        return true;
    });
}

Value list(Evaluator &ev, Value *a, int argc, Stat stat) {
    Accumulator acc;
    for (int i = 0; i < argc; ++i) {
        const Value &v = a[i];
        if (v.tag == Tag::kRange && !v.cell) add_range(ev, v.range, acc);
        else acc.add(ev.deref(v));
    }
    return acc.result(stat);
}

Value sum_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kSum); }
Value avg_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kAvg); }
Value count_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kCount); }
Value min_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kMin); }
Value max_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kMax); }
Value var_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kVar); }
Value std_(Evaluator &ev, Value *a, int n) { return list(ev, a, n, Stat::kStd); }

// --- database functions ------------------------------------------------------

// Text against a pattern: any case, ? one character, * at the end the rest.
bool matches(const charsets::CaseTable &letters, const char *text, uint32_t n, const char *pattern, uint32_t m) {
    const auto upper = [&](char c) { return letters.upper[static_cast<unsigned char>(c)]; };
    uint32_t i = 0;
    for (uint32_t j = 0; j < m; ++j, ++i) {
        if (pattern[j] == '*' && j + 1 == m) return true;
        if (i >= n) return false;
        if (pattern[j] != '?' && upper(pattern[j]) != upper(text[i])) return false;
    }
    return i == n;
}

// The input column (0-based) whose field name equals `name`, or -1.
int field_of(const Evaluator &ev, const Range &input, const Value &name) {
    const Sheet &sheet = ev.sheet();
    if (name.tag != Tag::kString) return -1;
    for (int c = input.c1; c <= input.c2; ++c) {
        const Value field = sheet.value_at(c, input.r1);
        if (field.tag == Tag::kString && same_text(field, name, ev.letters())) return c - input.c1;
    }
    return -1;
}

bool meets(Evaluator &ev, const Range &input, const Range &criteria, int criteria_row, int record_row) {
    const Sheet &sheet = ev.sheet();
    for (int c = criteria.c1; c <= criteria.c2; ++c) {
        const Cell *cell = sheet.find(c, criteria_row);
        if (!cell || cell->kind == CellKind::kEmpty || cell->kind == CellKind::kBlank) continue;
        if (cell->kind == CellKind::kFormula) {
            const int shifted = criteria_row + (record_row - (input.r1 + 1));
            const Value v = ev.evaluate_shifted(cell->ref, c, shifted % kRows);
            if (v.tag != Tag::kNumber || v.number == 0) return false;
            continue;
        }
        const int field = field_of(ev, input, sheet.value_at(c, criteria.r1));
        if (field < 0) return false;
        const Value have = sheet.value_at(input.c1 + field, record_row);
        const Value want = sheet.value_at(c, criteria_row);
        if (want.tag == Tag::kNumber) {
            if (have.tag != Tag::kNumber || have.number != want.number) return false;
            continue;
        }
        const bool negate = want.length && want.text[0] == '~';
        const uint32_t skip = negate ? 1 : 0;
        const bool match = have.tag == Tag::kString &&
                           matches(ev.letters(), have.text, have.length, want.text + skip, want.length - skip);
        if (match == negate) return false;
    }
    return true;
}

bool selected(Evaluator &ev, const Range &input, const Range &criteria, int record_row) {
    if (criteria.r1 == criteria.r2) return true;
    for (int row = criteria.r1 + 1; row <= criteria.r2; ++row)
        if (meets(ev, input, criteria, row, record_row)) return true;
    return false;
}

Value database(Evaluator &ev, Value *a, Stat stat) {
    const Range input = a[0].range, criteria = a[2].range;
    const double offset = std::trunc(a[1].number);
    if (!(offset >= 0 && offset < input.columns())) return Value::error();
    const int column = input.c1 + static_cast<int>(offset);
    Accumulator acc;
    for (int row = input.r1 + 1; row <= input.r2; ++row) {
        // A blank field adds nothing whatever the criteria say: only the
        // records that hold one are tested, so the cost follows the cells
        // present, not the rows the ranges span.
        const Value v = ev.sheet().value_at(column, row);
        if (v.tag != Tag::kBlank && selected(ev, input, criteria, row)) acc.add(v);
    }
    return acc.result(stat);
}

Value dsum_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kSum); }
Value davg_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kAvg); }
Value dcount_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kCount); }
Value dmin_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kMin); }
Value dmax_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kMax); }
Value dvar_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kVar); }
Value dstd_(Evaluator &ev, Value *a, int) { return database(ev, a, Stat::kStd); }

constexpr FunctionRow kListRows[] = {
    {"@SUM", "x*", sum_}, {"@AVG", "x*", avg_}, {"@COUNT", "x*", count_}, {"@MIN", "x*", min_}, {"@MAX", "x*", max_},
    {"@VAR", "x*", var_}, {"@STD", "x*", std_},
};

constexpr FunctionRow kDatabaseRows[] = {
    {"@DSUM", "rnr", dsum_}, {"@DAVG", "rnr", davg_}, {"@DCOUNT", "rnr", dcount_}, {"@DMIN", "rnr", dmin_},
    {"@DMAX", "rnr", dmax_}, {"@DVAR", "rnr", dvar_}, {"@DSTD", "rnr", dstd_},
};

}  // namespace

FunctionGroup statistics_functions() { return {kListRows, sizeof kListRows / sizeof kListRows[0]}; }
FunctionGroup database_functions() { return {kDatabaseRows, sizeof kDatabaseRows / sizeof kDatabaseRows[0]}; }

}  // namespace wks::calc
