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

// What a failure carries to wksfr: WKS_E_BAD_FUNCTION for malformed code
// (15, whose text is "Bad function name"), WKS_E_DECODE_SPACE when the
// output is full, WKS_E_DECODE_DEPTH when the pending texts overflow.
struct DecodeFailure {
    int16_t code;
};

[[noreturn]] inline void decode_fail(int16_t code) { throw DecodeFailure{code}; }

// Opens the output on out with a budget of size characters (none when out is
// null), and closes it again.
void open_output(char *out, int32_t size);
void close_output();
bool output_is_open();

// Append to the open output; WKS_E_DECODE_SPACE once the budget is spent.
void put_char(char c);
void put_text(const char *text);
void put_int(int value);      // as "%d" prints it
void put_real(double value);  // as "%g" prints it (number_text.h)

// Appends the text of the cell whose column and row reference words start
// at words ("$B$7", "IV8192"), decoded against the base cell.  A reference
// that decodes outside the sheet fails with WKS_E_BAD_FUNCTION.
void put_cell(const unsigned char *words, int16_t base_col, int16_t base_row);

}  // namespace wks::formula

#endif
