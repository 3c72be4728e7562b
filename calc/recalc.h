/*
 * Whole-sheet recalculation in natural order: every formula after the
 * formulas it refers to (through cell references and every cell of its
 * ranges), found by an iterative strongly-connected-components walk over
 * the references, so a chain of two million formulas needs no deeper call
 * stack than one.  Formulas that refer to themselves, directly or through
 * others, are circular: they are reported, and a sheet that has any is
 * calculated `iterations` times over in the same order, each pass starting
 * from the values the last one left (the file's stored values the first
 * time), which is how iterative recalculation converges.
 *
 * A formula cell that @@ or @CELLPOINTER reaches is a precedent too, but
 * only calculation shows which cell that is.  So a calculation notes the
 * formula cells they read (Sheet::reached); when one of them came later in
 * the order than its reader, the order is built again with them and the
 * sheet calculated again, at most kMaxRounds times in all.  A sheet
 * without circular references thus gets the same values whatever its
 * stored values were.
 */
#ifndef WKS_CALC_RECALC_H
#define WKS_CALC_RECALC_H

#include "calc/evaluator.h"
#include "calc/sheet.h"

#include <cstdint>

namespace wks::calc {

struct RecalcReport {
    uint32_t formulas = 0;   // formula cells calculated
    uint32_t circular = 0;   // of them in circular references (see Sheet::circular)
    int passes = 0;          // passes over the formulas, in all rounds
};

// Calculations of a sheet whose @@ or @CELLPOINTER read formulas that came
// later in the order: each round takes in what the one before found.
constexpr int kMaxRounds = 8;

// What recalculate returns when options.poll asked it to stop: the
// converters' stop result.
constexpr int16_t kStopped = WKS_CONVERT_STOPPED;

// Recalculates every formula of the sheet.  WKS_OK; kStopped (the values
// are then partly calculated); WKS_E_NO_FORMULA_MEMORY when the order
// could not be built (every value left as it was) or a string value found
// no room (that formula's value is ERR; the others are calculated).  Sheet::circular() then lists the
// circular formulas in the order they are calculated.
int16_t recalculate(Sheet &sheet, const Options &options, RecalcReport *report = nullptr);

}  // namespace wks::calc

#endif
