/*
 * Sheets from record streams and computed values back into them, for both
 * cell layouts (WK1, and ORX with its 11-byte cell prefix).  The streams are
 * the library's own: a reader handle open for reading (its BOF record
 * current, as wksopen and wksopen_wk1 leave it) and, for writing, a handle
 * open for writing whose BOF record is already out; the caller opens and
 * closes both, so the files may be temporary ones that replace the
 * original only when everything is written.
 *
 * A string value goes into the file as the formula programs write it: the
 * formula record's value field holds the string mark (a NaN), and a record
 * of type 51 right after it holds the string (format byte, column and row of
 * the formula, then the text and a NUL; in an ORX file behind a copy of the
 * formula record's 11-byte prefix).  ERR and NA are written as the formats'
 * special values.
 */
#ifndef WKS_CALC_RECORDS_H
#define WKS_CALC_RECORDS_H

#include "calc/sheet.h"
#include "wks.h"
#include "wks/layout.h"

#include <cstdint>

namespace wks::calc {

using wks::Layout;  // kWk1 or kOrx (wks/layout.h)

struct LoadReport {
    uint32_t cells = 0;     // cell records taken into the sheet
    uint32_t formulas = 0;  // of them formulas
    uint32_t skipped = 0;   // cell records too short for their fields, or outside the sheet
};

// Reads every record after the current one up to the EOF record into the
// sheet: the cells, the string values of formulas (type 51), column widths
// (types 7 and 8) and range names (types 11 and 71, for @@; the
// process-wide range-name table is not touched).  Returns WKS_OK,
// WKS_E_READ (27, already reported by the record stream) or
// WKS_E_NO_FORMULA_MEMORY.
int16_t load_sheet(Sheet &sheet, WKS *in, Layout layout, LoadReport *report = nullptr);

// Copies every record after the reader's current one up to (not including)
// the EOF record to the writer, each formula record with the value its cell
// has in the sheet and, for a string value, its type-51 record after it; the
// type-51 records the input holds for formulas are replaced.  Other records
// pass byte for byte.  Returns WKS_OK, WKS_E_READ or WKS_E_WRITE (both already
// reported by the record stream).
int16_t write_values(const Sheet &sheet, WKS *in, WKS *out, Layout layout);

// True when two values are the same: the same kind, the same text, or
// numbers that differ by no more than `tolerance` times the larger one.
bool same_result(const Sheet &sheet, const Result &a, const Result &b, double tolerance);

}  // namespace wks::calc

#endif
