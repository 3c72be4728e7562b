/* The table of pending whole files (pending_files.h). */
#include "convert/pending_files.h"

#include "wks/stream.h"

#include <cerrno>

namespace wks::convert {
namespace {

// The handles' slots, then the library's own.
PendingSlot g_slots[WKS_CREATE_MAX + 1];
PendingSlot &g_own = g_slots[WKS_CREATE_MAX];
unsigned long g_own_results = 0;  // results made in the library's slot so far: which one holds it
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads slot states");

bool is_handle_slot(const PendingSlot &s) { return &s != &g_own; }

// The held results, filled from the first slot on in the order they come;
// placing empties the table.
PendingSlot g_held[WKS_HOLD_MAX];
std::size_t g_held_count = 0;  // slots used since the table was last emptied
bool g_holding = false;

// Drops the pending file of s, if it is pending (async-signal-safe).
void drop_if_pending(PendingSlot &s) {
    int pending = kPending;
    if (s.state.compare_exchange_strong(pending, kFilling)) {
        s.file.abandon();  // close and unlink: both async-signal-safe
        if (s.owner) end_handle(s.owner);
        s.owner = nullptr;
        s.state.store(kFree);
    }
}

}  // namespace

void end_handle(WKS *h) {
    h->fd = -1;
    h->mode = kModeEnded;
}

PendingSlot *slot_of(const WKS *h) {
    if (!h) return nullptr;
    for (PendingSlot &s : g_slots)
        if (is_handle_slot(s) && s.state.load() != kFree && s.owner == h) return &s;
    return nullptr;
}

PendingSlot *claim_slot(WKS *h) {
    for (PendingSlot &s : g_slots) {
        int free = kFree;
        if (is_handle_slot(s) && s.state.compare_exchange_strong(free, kFilling)) {
            s.owner = h;
            return &s;
        }
    }
    return nullptr;
}

// Marked as being filled first, so that a signal handler keeps off it.
void release(PendingSlot &s) {
    s.state.store(kFilling);
    s.file.abandon();
    s.owner = nullptr;
    s.state.store(kFree);
}

bool begin_commit(PendingSlot &s) {
    int pending = kPending;
    return s.state.compare_exchange_strong(pending, kCommitting);
}

void discard_all_pending() {
    for (PendingSlot &s : g_slots) drop_if_pending(s);
    for (PendingSlot &s : g_held) drop_if_pending(s);
}

void discard_pending_creates() {
    for (PendingSlot &s : g_slots)
        if (s.state.load() != kFree) release(s);
    for (PendingSlot &s : g_held)
        if (s.state.load() != kFree) release(s);
    g_held_count = 0;
    g_holding = false;
}

bool holding_results() { return g_holding; }

void set_holding_results(bool on) { g_holding = on; }

bool held_slot_free() { return g_held_count < WKS_HOLD_MAX; }

int32_t place_held_results(void (*visit)(void *, int32_t, int32_t), void *context) {
    plat::PendingFile *files[WKS_HOLD_MAX];
    std::size_t n = 0;
    for (PendingSlot &s : g_held)
        if (begin_commit(s)) files[n++] = &s.file.pending();
    // Every result flushed before any takes its name, so that a destination
    // never names a file whose bytes may not be on the disk.
    const bool flushed = plat::flush_pending_files(files, n);
    const int flush_reason = errno;
    int32_t failed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        bool placed = false;
        int reason = flush_reason;
        if (flushed) {
            placed = plat::place_flushed(*files[i]) == plat::Placed::kDone;
            reason = errno;
        } else {
            plat::discard_pending(*files[i]);
        }
        if (!placed && reason == 0) reason = EIO;
        failed += !placed;
        if (visit) visit(context, placed ? WKS_CONVERTED : WKS_CONVERT_OUTPUT_FAILED, placed ? 0 : reason);
    }
    for (PendingSlot &s : g_held) {
        int committing = kCommitting;
        s.state.compare_exchange_strong(committing, kFree);
    }
    g_held_count = 0;
    return failed;
}

bool PendingResult::create(const char *destination) {
    int free = kFree;
    if (generation_ != 0 || !g_own.state.compare_exchange_strong(free, kFilling)) return false;
    if (!g_own.file.create(destination)) {
        g_own.state.store(kFree);
        return false;
    }
    generation_ = ++g_own_results;
    g_own.state.store(kPending);
    return true;
}

int32_t PendingResult::fd() const { return g_own.file.fd(); }

bool PendingResult::holds_slot() const { return generation_ != 0 && generation_ == g_own_results; }

bool PendingResult::pending() const { return holds_slot() && g_own.state.load() == kPending; }

int16_t PendingResult::commit() {
    if (!holds_slot()) return WKS_E_OPEN;
    generation_ = 0;
    if (!begin_commit(g_own)) return WKS_E_OPEN;
    const int16_t code = g_own.file.commit();
    g_own.state.store(kFree);
    return code;
}

bool PendingResult::hold() {
    if (!holds_slot()) return false;
    generation_ = 0;
    int pending = kPending;
    if (!g_own.state.compare_exchange_strong(pending, kFilling)) return false;
    if (g_held_count < WKS_HOLD_MAX) {
        PendingSlot &s = g_held[g_held_count++];
        int free = kFree;
        if (s.state.compare_exchange_strong(free, kFilling)) {
            s.file.take(g_own.file);
            plat::start_writing_pending(s.file.pending());
            s.state.store(kPending);
            g_own.state.store(kFree);
            return true;
        }
    }
    g_own.file.abandon();
    g_own.state.store(kFree);
    return false;
}

void PendingResult::abandon() {
    if (!holds_slot()) return;
    generation_ = 0;
    int pending = kPending;
    if (!g_own.state.compare_exchange_strong(pending, kFilling)) return;
    g_own.file.abandon();
    g_own.state.store(kFree);
}

}  // namespace wks::convert
