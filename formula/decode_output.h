/*
 * What the formula decoder writes and how it gives up.
 *
 * The output is the caller's buffer of one wksfr call: a cursor into it and
 * a budget of characters still allowed, the terminating NUL included.  It is
 * open only while wksfr runs; while it is closed the exported output helpers
 * (dc, ds, di, dx, dcell) do nothing, so a host calling them can never write
 * through a stale pointer.
 *
 * Every failure inside a decode leaves through the decoder's error exit:
 * decode_fail throws a DecodeFailure that only wksfr catches, so nothing is
 * ever thrown across the C interface.  The functions here that write may
 * throw; they are only called while the output is open.
 */
#ifndef WKS_FORMULA_DECODE_OUTPUT_H
#define WKS_FORMULA_DECODE_OUTPUT_H

#include <cstdint>

namespace wks::formula {

// The decoder's error codes.
constexpr int16_t kBadCode = 15;       // malformed formula code ("Bad function name")
constexpr int16_t kOutputFull = 18;    // no room in the output for one more character
constexpr int16_t kPendingFull = 19;   // pending-text stack overflow

struct DecodeFailure {
    int16_t code;
};

[[noreturn]] inline void decode_fail(int16_t code) { throw DecodeFailure{code}; }

// Opens the output on out with a budget of size characters (none when out is
// null), and closes it again.
void open_output(char *out, int32_t size);
void close_output();
bool output_is_open();

// Append to the open output; kOutputFull once the budget is spent.
void put_char(char c);
void put_text(const char *text);
void put_int(int value);  // "%d"

// Appends the text of the cell whose column and row reference words start
// at words ("$B$7", "IV8192"), decoded against the base cell.  A reference
// that decodes outside the sheet fails with kBadCode.
void put_cell(const unsigned char *words, int16_t base_col, int16_t base_row);

}  // namespace wks::formula

#endif
