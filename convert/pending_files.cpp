/* The table of pending whole files (pending_files.h). */
#include "convert/pending_files.h"

#include "wks/stream.h"

namespace wks::convert {
namespace {

// The handles' slots, then the library's own.
PendingSlot g_slots[WKS_CREATE_MAX + 1];
PendingSlot &g_own = g_slots[WKS_CREATE_MAX];
unsigned long g_own_results = 0;  // results made in the library's slot so far: which one holds it
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads slot states");

bool is_handle_slot(const PendingSlot &s) { return &s != &g_own; }

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
    for (PendingSlot &s : g_slots) {
        int pending = kPending;
        if (s.state.compare_exchange_strong(pending, kFilling)) {
            s.file.abandon();  // close and unlink: both async-signal-safe
            if (s.owner) end_handle(s.owner);
            s.owner = nullptr;
            s.state.store(kFree);
        }
    }
}

void discard_pending_creates() {
    for (PendingSlot &s : g_slots)
        if (s.state.load() != kFree) release(s);
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

void PendingResult::abandon() {
    if (!holds_slot()) return;
    generation_ = 0;
    int pending = kPending;
    if (!g_own.state.compare_exchange_strong(pending, kFilling)) return;
    g_own.file.abandon();
    g_own.state.store(kFree);
}

}  // namespace wks::convert
