/*
 * Where the fields of records stand, for every module of the library: the
 * record header, the two cell layouts, the formula record's value and code,
 * the range-name record.  Everything is derived from the public offsets of
 * wks.h (WKS_CELL_*, WKS_ORX_CELL_PREFIX, WKS_NAME_*) and written down
 * nowhere else; layout.cpp checks the handle itself.
 *
 * A cell record body is the WK1 cell (format byte, column, row, value) in a
 * WK1 file, and the same behind the 11-byte ORX cell prefix in an ORX file:
 * an offset into the WK1 cell plus cell_base(layout) is the offset in the
 * body.
 */
#ifndef WKS_LAYOUT_H
#define WKS_LAYOUT_H

#include "wks.h"

#include <cstddef>

namespace wks {

// Record type and record length in front of every body.
constexpr int kRecordHeaderSize = offsetof(WKS_RECORD, body);
constexpr int kRecordLengthOffset = offsetof(WKS_RECORD, length);

enum class Layout { kWk1, kOrx };

constexpr int cell_base(Layout layout) { return layout == Layout::kOrx ? WKS_ORX_CELL_PREFIX : 0; }

constexpr int kCellPositionSize = WKS_CELL_VALUE;  // format byte, column, row
constexpr int kIntegerSize = 2;                    // an integer cell's value
constexpr int kNumberSize = 8;                     // a number cell's value, a formula's value field
constexpr int kCodeLengthSize = 2;                 // the formula code's length word
constexpr int kCellFormulaItems = WKS_CELL_FORMULA_CODE + kCodeLengthSize;  // the first code item

// The same fields in the body of an ORX cell record.
constexpr int kOrxFormat = WKS_ORX_CELL(WKS_CELL_FORMAT);
constexpr int kOrxColumn = WKS_ORX_CELL(WKS_CELL_COLUMN);
constexpr int kOrxRow = WKS_ORX_CELL(WKS_CELL_ROW);
constexpr int kOrxValue = WKS_ORX_CELL(WKS_CELL_VALUE);
constexpr int kOrxCodeLength = WKS_ORX_CELL(WKS_CELL_FORMULA_CODE);
constexpr int kOrxCode = WKS_ORX_CELL(kCellFormulaItems);

// The buffer a formula record's code is compiled into: the length word and
// up to 2046 code bytes, so that the whole record fits the body area.
constexpr int kFormulaCodeBuffer = 2048;
static_assert(kOrxCodeLength + kFormulaCodeBuffer <= WKS_BODY_SIZE, "the longest code fits the record buffer");

// Range-name record: the name within its first WKS_NAME_TEXT_SIZE bytes,
// then four signed 16-bit coordinates.
constexpr int kNameCoordinateSize = 2;

static_assert(WKS_CELL_ROW == WKS_CELL_COLUMN + 2 && WKS_CELL_VALUE == WKS_CELL_ROW + 2, "cell fields in a row");
static_assert(WKS_CELL_FORMULA_CODE == WKS_CELL_VALUE + kNumberSize, "a formula's code follows its value");
static_assert(WKS_NAME_RECORD_SIZE == WKS_NAME_COORDINATES + 4 * kNameCoordinateSize, "range-name record size");

}  // namespace wks

#endif
