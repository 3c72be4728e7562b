/*
 * The table's private node: the public WKS_NAME first, so that the pointer a
 * host receives is the entry's own address, followed by what the coordinate
 * index needs.  Shared by the table and the coordinate index only.
 */
#ifndef WKS_NAMES_ENTRY_H
#define WKS_NAMES_ENTRY_H

#include "wks.h"

#include <cstdint>
#include <type_traits>

namespace wks::names {

constexpr int kBuckets = 128;  // name buckets; a name's bucket is (file + byte sum) mod 128

struct Entry {
    WKS_NAME node;        // must stay first: WKS_NAME * and Entry * convert both ways
    Entry *coord_next;    // next entry in the same coordinate-index slot
    uint64_t seq;         // insertion order, higher is newer: the order inside a name bucket
    uint64_t coord_hash;  // hash of file number and the four coordinates
    uint8_t bucket;       // the name bucket the node is linked into
    bool in_text;         // decoded formula text may print the name for its coordinates
};
static_assert(std::is_standard_layout_v<Entry>, "Entry must be pointer-interconvertible with its node");

inline Entry *entry_of(WKS_NAME *node) { return reinterpret_cast<Entry *>(node); }

// True when a comes before b in iteration order: lower name bucket first,
// newer first inside a bucket.
inline bool iterates_before(const Entry *a, const Entry *b) {
    return a->bucket != b->bucket ? a->bucket < b->bucket : a->seq > b->seq;
}

}  // namespace wks::names

#endif
