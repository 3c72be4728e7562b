/*
 * The coordinate index behind the reverse lookup: every entry of the table
 * hashed on its file number and four coordinates, so that wksgrxx finds its
 * answer without walking the table.  Kept in step with the table by
 * insertion, deletion and clear; a lookup never allocates.
 */
#ifndef WKS_NAMES_COORD_INDEX_H
#define WKS_NAMES_COORD_INDEX_H

#include "names/entry.h"

#include <cstdint>

namespace wks::names::coord_index {

struct Key {
    int32_t file;
    int16_t c1, r1, c2, r2;
};

// Fills e->coord_hash and links e in.  Never fails: when a larger slot array
// cannot be allocated the index keeps its size and only gets slower.
void add(Entry *e);

// Unlinks e, which must have been added.
void remove(Entry *e);

// Of the entries whose file number and four coordinates equal key (and,
// with in_text_only, that may stand in formula text), the one that comes
// first in iteration order; null when there is none.
Entry *find_first(const Key &key, bool in_text_only = false);

// Forgets every entry and gives back the slot array (the entries themselves
// belong to the table).
void clear();

}  // namespace wks::names::coord_index

#endif
