/*
 * Creating a record file without ever destroying one: wks_create starts a
 * write stream on a new file beside the destination (whole_file.h), and
 * wks_commit puts it in the destination's place once it is complete.
 *
 * The handle's layout is part of the ABI, so which handles are pending is
 * kept here, in a fixed table of slots: nothing is allocated, and a signal
 * handler can walk the table (wks_discard_all).  A slot's state is the only
 * thing the handler trusts: a slot is filled before it is marked pending,
 * and marked committing before wks_commit lets go of its file, so the
 * handler never meets a file half made or half placed.
 */
#include "convert/whole_file.h"
#include "platform/platform.h"
#include "wks.h"
#include "wks/stream.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace wks::convert {
namespace {

enum State : int { kFree, kFilling, kPending, kCommitting };

struct Slot {
    std::atomic<int> state{kFree};
    const WKS *owner = nullptr;
    WholeFile file;
};

Slot g_slots[WKS_CREATE_MAX];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads slot states");

Slot *slot_of(const WKS *h) {
    if (!h) return nullptr;
    for (Slot &s : g_slots)
        if (s.state.load() != kFree && s.owner == h) return &s;
    return nullptr;
}

Slot *claim_slot(const WKS *h) {
    for (Slot &s : g_slots) {
        int free = kFree;
        if (s.state.compare_exchange_strong(free, kFilling)) {
            s.owner = h;
            return &s;
        }
    }
    return nullptr;
}

// Marked as being filled first, so that a signal handler keeps off it.
void release(Slot &s) {
    s.state.store(kFilling);
    s.file.abandon();
    s.owner = nullptr;
    s.state.store(kFree);
}

// 38 is silent: the caller learns the system's reason from errno, which
// stays as the failed call left it.
WKS *refuse(WKS *h, int saved_errno) {
    wkserr(set_error(h, WKS_E_OPEN));
    errno = saved_errno;
    return nullptr;
}

}  // namespace

void discard_pending_creates() {
    for (Slot &s : g_slots)
        if (s.state.load() != kFree) release(s);
}

}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

WKS *wks_create(WKS *h, const char *path, int32_t format, const char *source) {
    if (!h) return nullptr;
    if (!path || !path[0] || (format != WKS_FORMAT_ORX && format != WKS_FORMAT_WK1) || slot_of(h))
        return refuse(h, EINVAL);
    Slot *s = claim_slot(h);
    if (!s) return refuse(h, EMFILE);
    const Layout layout = format == WKS_FORMAT_ORX ? Layout::kOrx : Layout::kWk1;
    const uint16_t version = new_file_version(path, layout, source);
    if (!s->file.create(path)) {
        const int reason = errno;
        release(*s);
        return refuse(h, reason);
    }
    s->state.store(kPending);
    if (start_stream(h, s->file.fd(), layout, version)) return h;
    release(*s);
    h->fd = -1;
    return nullptr;
}

int16_t wks_commit(WKS *h) {
    Slot *s = slot_of(h);
    if (!s) return h ? wkserr(set_error(h, WKS_E_CLOSE)) : wkserr(WKS_E_CLOSE);
    set_rec(h, WKS_EOF, 0);
    int16_t code = write_record(h);  // 32 shown
    int reason = 0;
    if (code == 0) {
        s->state.store(kCommitting);
        code = s->file.commit();
        reason = errno;
        if (code != 0 && code != WKS_E_OPEN) wkserr(code);
    }
    release(*s);
    h->fd = -1;
    if (code == WKS_E_OPEN) errno = reason;
    return set_error(h, code);
}

void wks_discard(WKS *h) {
    Slot *s = slot_of(h);
    if (!s) return;
    release(*s);
    h->fd = -1;
}

void wks_discard_all(void) {
    for (Slot &s : g_slots) {
        int pending = kPending;
        if (s.state.compare_exchange_strong(pending, kFilling)) {
            s.file.abandon();  // close and unlink: both async-signal-safe
            s.owner = nullptr;
            s.state.store(kFree);
        }
    }
}

}
