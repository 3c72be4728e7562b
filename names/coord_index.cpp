/*
 * Owns the coordinate index: a power-of-two array of slots, each the head of
 * an intrusive chain through Entry::coord_next.  The array starts as a
 * static one (so the first insertions cannot fail on its account) and doubles
 * on the heap whenever there are more entries than slots.  Several entries
 * may share one key (different names, same range); a lookup walks one chain
 * and keeps the match that iterates first.
 */
#include "names/coord_index.h"

#include "platform/platform.h"

#include <cstddef>
#include <cstring>

namespace wks::names::coord_index {
namespace {

constexpr std::size_t kInitialSlots = 256;  // must be a power of two

Entry *g_initial[kInitialSlots];
Entry **g_slots = g_initial;
std::size_t g_slot_count = kInitialSlots;
std::size_t g_entries = 0;

// The finaliser of splitmix64: spreads every input bit over the result.
uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

uint64_t hash_of(const Key &k) {
    auto u16 = [](int16_t v) { return static_cast<uint64_t>(static_cast<uint16_t>(v)); };
    const uint64_t coords = u16(k.c1) | u16(k.r1) << 16 | u16(k.c2) << 32 | u16(k.r2) << 48;
    return mix(coords ^ mix(static_cast<uint32_t>(k.file)));
}

bool matches(const Entry *e, const Key &k) {
    const WKS_NAME &n = e->node;
    return n.file == k.file && n.c1 == k.c1 && n.r1 == k.r1 && n.c2 == k.c2 && n.r2 == k.r2;
}

Entry *&slot_of(uint64_t hash) { return g_slots[hash & (g_slot_count - 1)]; }

void release_slots() {
    if (g_slots != g_initial) plat::release(g_slots);
}

// Doubles the slot array and relinks every entry; on allocation failure the
// index stays as it is.
void grow() {
    const std::size_t count = g_slot_count * 2;
    auto **slots = static_cast<Entry **>(plat::alloc(count * sizeof(Entry *)));
    if (!slots) return;
    std::memset(slots, 0, count * sizeof(Entry *));
    for (std::size_t i = 0; i < g_slot_count; ++i) {
        for (Entry *e = g_slots[i], *next; e; e = next) {
            next = e->coord_next;
            Entry *&head = slots[e->coord_hash & (count - 1)];
            e->coord_next = head;
            head = e;
        }
    }
    release_slots();
    g_slots = slots;
    g_slot_count = count;
}

}  // namespace

void add(Entry *e) {
    const WKS_NAME &n = e->node;
    e->coord_hash = hash_of(Key{n.file, n.c1, n.r1, n.c2, n.r2});
    if (g_entries >= g_slot_count) grow();
    Entry *&head = slot_of(e->coord_hash);
    e->coord_next = head;
    head = e;
    ++g_entries;
}

void remove(Entry *e) {
    for (Entry **link = &slot_of(e->coord_hash); *link; link = &(*link)->coord_next) {
        if (*link == e) {
            *link = e->coord_next;
            e->coord_next = nullptr;
            --g_entries;
            return;
        }
    }
}

Entry *find_first(const Key &key, bool in_text_only) {
    if (g_entries == 0) return nullptr;  // the usual case while formulas are decoded: no names at all
    const uint64_t hash = hash_of(key);
    Entry *best = nullptr;
    for (Entry *e = slot_of(hash); e; e = e->coord_next)
        if (e->coord_hash == hash && matches(e, key) && (e->in_text || !in_text_only) &&
            (!best || iterates_before(e, best)))
            best = e;
    return best;
}

void clear() {
    release_slots();
    std::memset(g_initial, 0, sizeof g_initial);
    g_slots = g_initial;
    g_slot_count = kInitialSlots;
    g_entries = 0;
}

}  // namespace wks::names::coord_index
