/*
 * Internal side of formula rewriting, for the converters: rewriting one
 * formula record wherever it lies, and the text-cut flag.
 */
#ifndef WKS_CONVERT_FORMULA_REWRITE_H
#define WKS_CONVERT_FORMULA_REWRITE_H

#include "wks.h"

#include <cstdint>

namespace wks::convert {

enum class Direction { kWk1ToOrx, kOrxToWk1 };

// Rewrites the external references of the formula record (ORX cell layout)
// in rec.  file scopes the range names of decoding and compiling; room is
// the largest body the record may grow to; a compile error is also stored
// as owner's error code when owner is not null.  Returns 0 (rewritten, or
// nothing to rewrite: the record is then untouched) or a code, the record
// untouched; every code but WKS_E_FORMULA_SIZE has been shown.  That one
// stands for an ORX-to-WK1 text that came to 256 characters or more when
// rewritten: the record keeps its references and the text-cut flag is
// raised.  A long text that needs no rewriting raises the flag too, with
// result 0.
int16_t rewrite_formula(WKS_RECORD &rec, int32_t room, int32_t file, WKS *owner, Direction direction);

// Reads and clears the text-cut flag.
bool take_text_cut();

// How many ORX-to-WK1 texts of 256 characters or more were met so far; a
// converter compares the count before and after its own run.
uint32_t long_texts();

// Clears the text-cut flag and the count of long texts: the state at load.
void reset_rewrite_state();

}  // namespace wks::convert

#endif
