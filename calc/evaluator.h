/*
 * Evaluates formula code directly: the code is already in evaluation order,
 * so operands push onto a fixed stack of values and operators and functions
 * pop their arguments and push their result.  Precedence and grouping are
 * exactly what the code encodes; nothing is parsed.
 *
 * One evaluator serves any number of evaluations on one sheet.  Strings an
 * evaluation makes live in its scratch arena until the next evaluation
 * starts, so a result string must be copied (Sheet::set_value does) before
 * the evaluator runs again.  Nothing is allocated per evaluation once the
 * arena has grown to the largest formula's need.
 */
#ifndef WKS_CALC_EVALUATOR_H
#define WKS_CALC_EVALUATOR_H

#include "calc/charsets.h"
#include "calc/code_check.h"
#include "calc/sheet.h"
#include "calc/text_arena.h"
#include "calc/value.h"

#include <cstddef>
#include <cstdint>

namespace wks::calc {

// The values the moment and the machine give, fixed in reproducible mode.
constexpr double kFixedNow = 32874.5;       // 1 January 1990, 12:00 noon
constexpr double kFixedRandom = 0.5;
constexpr int kMaxIterations = 50;

struct Options {
    // @NOW, @RAND, @CELLPOINTER and @DATEVALUE of a date without a year take
    // fixed values (kFixedNow, kFixedRandom, cell A1) instead of the clock's,
    // a random generator's and `pointer`.
    bool reproducible = false;
    // Passes over a sheet that has circular references, 1..kMaxIterations.
    int iterations = 1;
    // The host's cell pointer, for @CELLPOINTER.
    int pointer_col = 0;
    int pointer_row = 0;
    // The character set of the sheet's text (wks::charsets::kCharsets), for
    // letter case.
    int charset = 0;
    // For @CELL("filename"); null is the empty name.
    const char *file_name = nullptr;
    // Asked about every kPollEvery evaluations (formulas and formula
    // criteria) when set: a nonzero answer stops the recalculation, and
    // every evaluation after it is ERR.
    int (*poll)(void *context) = nullptr;
    void *poll_context = nullptr;
};

constexpr uint32_t kPollEvery = 4096;

class Evaluator {
public:
    Evaluator(const Sheet &sheet, const Options &options);
    Evaluator(const Evaluator &) = delete;
    Evaluator &operator=(const Evaluator &) = delete;

    // The value of formula code (from its length word on, `available` bytes
    // readable) standing in (col, row).  Code the decoder would refuse, or
    // that reaches outside the sheet, is ERR.  A string result may point into
    // the code, the sheet or the scratch arena: copy it before any of them
    // changes or the evaluator runs again.
    Value evaluate(const unsigned char *code, std::size_t available, int col, int row);
    // The value of the sheet's formula i, as it stands in its own cell.
    Value evaluate_formula(uint32_t i);
    // The value of the sheet's formula i as if it stood in (col, row): the
    // database functions shift a formula criterion down the records this way.
    // A formula criterion met inside its own evaluation, or inside the
    // shifted evaluation of any formula criterion, is not evaluated again:
    // it counts with the value the formula has now, as a circular reference
    // does.  So a database function costs its records times one formula
    // criterion's cost, never more.
    Value evaluate_shifted(uint32_t i, int col, int row);
    // Letter case in the sheet's character set.
    const charsets::CaseTable &letters() const { return charsets::kCaseTables.set[options_.charset]; }
    // True once options.poll asked to stop.
    bool stopped() const { return stopped_; }

    // --- for the functions ----------------------------------------------------
    const Sheet &sheet() const { return sheet_; }
    const Options &options() const { return options_; }
    // A single cell's value for a reference to one cell (or a one-cell range);
    // ERR for a larger range; the value itself otherwise.
    Value deref(const Value &v) const;
    // Room for a string result of n bytes (n <= kMaxText), or null.
    char *room(std::size_t n);
    // A string result of n bytes copied into the scratch arena; ERR when it
    // is longer than kMaxText or there is no room.
    Value text(const char *s, std::size_t n);
    double now();
    double random();
    // @@ and @CELLPOINTER read (col, row): when it holds a formula, notes it
    // as a precedent of the formula evaluate_formula is evaluating.
    void reach(int col, int row);
    // The precedents noted so far, in the order they were met.
    Buffer<Reach> &reached() { return reached_; }
    // True once a string found no room on the heap (its value became ERR),
    // or a precedent reach() met could not be noted.
    bool starved() const { return starved_; }

private:
    Value run(const unsigned char *items, int col, int row);
    Value finish(const Value &v) const;
    bool poll();  // counts an evaluation: true when evaluation is to stop

    const Sheet &sheet_;
    Options options_;
    TextArena scratch_;
    Value stack_[kStackDepth];
    int top_ = 0;       // stack entries held by evaluations under way
    int nesting_ = 0;   // evaluations under way
    uint32_t current_ = UINT32_MAX;  // the formula evaluate_formula is evaluating
    bool shifting_ = false;          // a shifted evaluation is under way
    uint32_t evaluations_ = 0;
    bool stopped_ = false;
    bool starved_ = false;
    uint64_t random_state_;
    Buffer<Reach> reached_;
};

// The numeric view of a value: strings and blanks count 0.
inline double number_of(const Value &v) { return v.tag == Tag::kNumber ? v.number : 0.0; }

// ERR if either is ERR, else NA if either is NA, else blank (no error).
inline Tag error_of(const Value &a, const Value &b) {
    if (a.tag == Tag::kErr || b.tag == Tag::kErr) return Tag::kErr;
    if (a.tag == Tag::kNa || b.tag == Tag::kNa) return Tag::kNa;
    return Tag::kBlank;
}

// A number result; a result that is no finite number is ERR.
inline Value number_result(double v) {
    return v - v == 0 ? Value::of(v) : Value::error();
}

// Calls function `opcode` on argc values at args.  Defined in functions.cpp.
Value call_function(Evaluator &ev, uint8_t opcode, Value *args, int argc);

}  // namespace wks::calc

#endif
