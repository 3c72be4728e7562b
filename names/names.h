/*
 * Internal side of the range-name table for the other modules: the
 * process-wide current file number that scopes every `xx` function, and the
 * file number the library derives from a worksheet handle.  Hosts use the
 * exported functions of wks.h.
 */
#ifndef WKS_NAMES_NAMES_H
#define WKS_NAMES_NAMES_H

#include "wks.h"

#include <cstdint>

namespace wks::names {

// The file number the `xx` functions work on; 0 at load.
int32_t current_file();
void set_current_file(int32_t file);

// The node named exactly `name` under `file`, or null.  Unlike wkslr it
// leaves the current file number alone.
const WKS_NAME *lookup(int32_t file, const char *name);

// What wkslp answers for the first two characters of text: 2, a longer name
// may start so; 1, the one-character name may exist; 0, neither.
int32_t prefix_of(const char *text);

// The name decoded formula text shows for a cell or range of the current
// file: of the names with exactly these coordinates, the first in iteration
// order that reads back as itself in formula text; null when there is none.
// Leaves the iteration cursor where wksgrxx does.
const char *name_in_text(int16_t c1, int16_t r1, int16_t c2, int16_t r2);

// Empties the table with its filters and index, ends any iteration and puts
// the current file number back to 0: the state at load (the reset seam).
void reset();

// The file number the library uses for names of a worksheet handle: the low
// 32 bits of the handle's address, so that a host can compute it too.
inline int32_t file_number_of(const void *handle) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)));
}

}  // namespace wks::names

#endif
