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

#include "calc/buffer.h"
#include "calc/sheet.h"
#include "wks.h"
#include "wks/block_io.h"
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

// A whole file as one reading got it, for load_image and write_image: its
// bytes, where its records after the BOF record start (after an ORX file's
// header block and the BOF record) and, once loaded, where its EOF record
// starts.  Everything from the EOF record on (its body, any bytes after it)
// is kept as it stands.
struct FileImage {
    Buffer<unsigned char> bytes;
    std::size_t records = 0;
    std::size_t eof = 0;
};

// load_sheet for a file held in memory: every record from image.records up
// to the EOF record, which sets image.eof.  A record that runs past the end
// of the bytes, one longer than a record stream reads
// (WKS_MAX_READ_BODY), or bytes that end before an EOF record are
// WKS_E_READ (shown), as the record stream has them.
int16_t load_image(Sheet &sheet, FileImage &image, Layout layout, LoadReport *report = nullptr);

// Numbers this close count as the same value: what a file written by
// another program may hold for a value computed in another order.
constexpr double kSameValue = 1e-12;

// True when formula f's computed value differs from the value its file
// stores (same_result with kSameValue): only such a formula's record is
// written anew.
bool value_changed(const Sheet &sheet, const Formula &f);

// Writes a loaded image to out: every byte as it is, but each formula
// record whose value changed with that value and, for a string value, its
// type-51 record after it (the type-51 records the image holds for those
// formulas are dropped).  The record of a formula whose value did not
// change, and its type-51 record, keep every byte.  Returns WKS_OK or
// WKS_E_WRITE (shown).
int16_t write_image(const Sheet &sheet, const FileImage &image, Layout layout, BlockWriter &out);

// True when two values are the same: the same kind, the same text, or
// numbers that differ by no more than `tolerance` times the larger one.
bool same_result(const Sheet &sheet, const Result &a, const Result &b, double tolerance);

}  // namespace wks::calc

#endif
