/*
 * Owns the range-name table: 128 buckets of singly linked nodes, the current
 * file number that scopes the `xx` functions, and the iteration cursor
 * shared by wksgf, wksgn, wksgrxx and wkscs.
 *
 * Invariants: a node's bucket is (file number + unsigned byte sum of its
 * name) mod 128; inside a bucket nodes stand newest first; no two nodes share
 * file number and name; every node is also in the coordinate index and its
 * first two characters are in the prefix filters; whether decoded formula
 * text may print a node's name is settled when it is inserted.  Every
 * lookup hashes once and walks one bucket (or one index chain); only
 * insertion allocates.
 */
#include "names/names.h"

#include "formula/lexer.h"
#include "names/coord_index.h"
#include "names/entry.h"
#include "names/prefix_filter.h"
#include "platform/platform.h"
#include "wks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Hosts read nodes directly; this is the layout they compile against.
static_assert(sizeof(void *) != 8 || sizeof(WKS_NAME) == 32, "WKS_NAME is 32 bytes on 64-bit targets");
static_assert(offsetof(WKS_NAME, next) == 0, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, file) == 8, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, name) == 16, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, c1) == 24, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, r1) == 26, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, c2) == 28, "WKS_NAME layout");
static_assert(sizeof(void *) != 8 || offsetof(WKS_NAME, r2) == 30, "WKS_NAME layout");

namespace wks::names {
namespace {

constexpr int16_t kNotFound = -1;  // wksdr: no such name
constexpr std::size_t kMinNameCopy = 8;  // a name copy is never smaller than this

WKS_NAME *g_buckets[kBuckets];
int32_t g_current_file = 0;
uint64_t g_next_seq = 0;

// The iteration cursor.  `node` is the node last returned, in bucket
// `bucket`.  {kBuckets, null} is the end.  {b < kBuckets, null} means "before
// the head of bucket b": where a deletion of the cursor's node at the head
// of its bucket leaves it, so that wksgn goes on with its successor.
struct Cursor {
    int bucket;
    WKS_NAME *node;
};
Cursor g_cursor{kBuckets, nullptr};

int bucket_of(int32_t file, const char *name) {
    uint32_t sum = static_cast<uint32_t>(file);  // unsigned: the mod of a negative number stays 0..127
    for (const char *p = name; *p; ++p) sum += static_cast<unsigned char>(*p);
    return static_cast<int>(sum % kBuckets);
}

bool is_empty(const char *name) { return !name || name[0] == '\0'; }

// The node of the current file with this name in its bucket, and the node
// before it (null at the head), for unlinking.
struct Found {
    WKS_NAME *prev;
    WKS_NAME *node;
};
Found find(int bucket, const char *name) {
    WKS_NAME *prev = nullptr;
    for (WKS_NAME *node = g_buckets[bucket]; node; prev = node, node = node->next)
        if (node->file == g_current_file && std::strcmp(node->name, name) == 0) return {prev, node};
    return {nullptr, nullptr};
}

// Puts the cursor on the first node at or after bucket `from`, or at the end.
WKS_NAME *settle_from(int from) {
    for (int b = from; b < kBuckets; ++b) {
        if (g_buckets[b]) {
            g_cursor = {b, g_buckets[b]};
            return g_buckets[b];
        }
    }
    g_cursor = {kBuckets, nullptr};
    return nullptr;
}

void free_entry(Entry *e) {
    plat::release(e->node.name);
    plat::release(e);
}

// Frees every node and empties the buckets.
void free_all() {
    for (WKS_NAME *&head : g_buckets) {
        for (WKS_NAME *node = head, *next; node; node = next) {
            next = node->next;
            free_entry(entry_of(node));
        }
        head = nullptr;
    }
}

// The reverse lookup: the same answer, and the same cursor, as iterating
// from wksgf to the first match.
Entry *find_by_coordinates(int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    Entry *e = coord_index::find_first(coord_index::Key{g_current_file, c1, r1, c2, r2});
    g_cursor = e ? Cursor{e->bucket, &e->node} : Cursor{kBuckets, nullptr};
    return e;
}

}  // namespace

int32_t current_file() { return g_current_file; }

const WKS_NAME *lookup(int32_t file, const char *name) {
    if (is_empty(name)) return nullptr;
    for (const WKS_NAME *node = g_buckets[bucket_of(file, name)]; node; node = node->next)
        if (node->file == file && std::strcmp(node->name, name) == 0) return node;
    return nullptr;
}
void set_current_file(int32_t file) { g_current_file = file; }

int32_t prefix_of(const char *text) { return prefix::test(text); }

void reset() {
    free_all();
    coord_index::clear();
    prefix::clear();
    g_cursor = {kBuckets, nullptr};
    g_current_file = 0;
    g_next_seq = 0;
}

const char *name_in_text(int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    const Entry *e = find_by_coordinates(c1, r1, c2, r2);
    if (e && !e->in_text) e = coord_index::find_first(coord_index::Key{g_current_file, c1, r1, c2, r2}, true);
    return e ? e->node.name : nullptr;
}

}  // namespace wks::names

using namespace wks;
using namespace wks::names;

extern "C" {

int16_t wksirxx(const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    if (is_empty(name)) return wkserr(WKS_E_INVALID_NAME);
    const std::size_t len = std::strlen(name);
    // Checked before anything changes: a name the filters cannot represent
    // never enters the table.
    if (!prefix::printable(name[0]) || (len > 1 && !prefix::printable(name[1]))) return wkserr(WKS_E_INVALID_NAME);

    const int bucket = bucket_of(g_current_file, name);
    if (find(bucket, name).node) return wkserr(WKS_E_DUPLICATE_NAME);

    auto *e = static_cast<Entry *>(plat::alloc(sizeof(Entry)));
    if (!e) return wkserr(WKS_E_NO_SYMBOL_MEMORY);
    auto *copy = static_cast<char *>(plat::alloc(len + 1 > kMinNameCopy ? len + 1 : kMinNameCopy));
    if (!copy) {
        plat::release(e);
        return wkserr(WKS_E_NO_NAME_MEMORY);
    }
    std::memcpy(copy, name, len + 1);

    e->node = WKS_NAME{g_buckets[bucket], g_current_file, copy, c1, r1, c2, r2};
    e->seq = g_next_seq++;
    e->bucket = static_cast<uint8_t>(bucket);
    e->in_text = wks::formula::reads_back_as_name(copy);  // decided once, not on every decode
    g_buckets[bucket] = &e->node;
    coord_index::add(e);
    prefix::note(name, len);
    return 0;
}

int16_t wksir(int32_t file, const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    g_current_file = file;
    return wksirxx(name, c1, r1, c2, r2);
}

int16_t wksdrxx(const char *name) {
    if (is_empty(name)) return WKS_E_INVALID_NAME;
    const int bucket = bucket_of(g_current_file, name);
    const Found found = find(bucket, name);
    WKS_NAME *node = found.node;
    if (!node) return kNotFound;

    // A cursor on the node steps back to its predecessor (or before the
    // bucket's head), so that wksgn goes on with the node's successor
    // instead of reading freed memory.
    if (g_cursor.node == node) g_cursor.node = found.prev;
    (found.prev ? found.prev->next : g_buckets[bucket]) = node->next;
    coord_index::remove(entry_of(node));
    free_entry(entry_of(node));
    return 0;
}

int16_t wksdr(int32_t file, const char *name) {
    g_current_file = file;
    return wksdrxx(name);
}

WKS_NAME *wkslrxx(const char *name) {
    if (is_empty(name)) return nullptr;
    return find(bucket_of(g_current_file, name), name).node;
}

WKS_NAME *wkslr(int32_t file, const char *name) {
    g_current_file = file;
    return wkslrxx(name);
}

WKS_NAME *wksgf(void) { return settle_from(0); }

WKS_NAME *wksgn(void) {
    WKS_NAME *next = nullptr;
    if (g_cursor.node)
        next = g_cursor.node->next;
    else if (g_cursor.bucket < kBuckets)
        next = g_buckets[g_cursor.bucket];
    if (next) {
        g_cursor.node = next;
        return next;
    }
    return settle_from(g_cursor.bucket + 1);
}

WKS_NAME *wksgrxx(int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    Entry *e = find_by_coordinates(c1, r1, c2, r2);
    return e ? &e->node : nullptr;
}

WKS_NAME *wksgr(int32_t file, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    g_current_file = file;
    return wksgrxx(c1, r1, c2, r2);
}

void wkscs(void) {
    // An empty table keeps its filters, but the coordinate index may still
    // hold a slot array grown for names deleted since.
    coord_index::clear();
    if (!wksgf()) return;
    free_all();
    prefix::clear();
    g_cursor = {kBuckets, nullptr};
}

int32_t wkslp(const char *text) { return prefix::test(text); }

}
