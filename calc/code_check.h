/*
 * The check every formula's code passes before it is evaluated: the walk
 * the decoder makes over the same bytes (every opcode valid, every operand
 * inside the code length, an end item, exactly one value left at it, none
 * for the empty formula), plus the two things evaluation needs that text
 * does not: every reference names a cell of the sheet from the formula's own
 * cell, and the values never pile up deeper than the evaluation stack.
 * Code that passes can be evaluated without a further bounds check.
 */
#ifndef WKS_CALC_CODE_CHECK_H
#define WKS_CALC_CODE_CHECK_H

#include <cstddef>
#include <cstdint>

namespace wks::calc {

// Values the evaluation stack holds; deeper code is refused.
constexpr int kStackDepth = 2048;

struct CodeShape {
    bool ok;
    uint16_t length;  // bytes of code items, the end item included
    int depth;        // the most values on the stack at once
};

// code: from the 2-byte length word on, `available` bytes readable; (col,
// row) the cell the formula stands in.
CodeShape check_code(const unsigned char *code, std::size_t available, int col, int row);

}  // namespace wks::calc

#endif
