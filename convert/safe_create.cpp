/*
 * Creating a record file without ever destroying one: wks_create starts a
 * write stream on a new file beside the destination (whole_file.h), and
 * wks_commit puts it in the destination's place once it is complete.  The
 * handle's layout is part of the ABI, so which handles are pending is kept
 * in the table of pending files (pending_files.h), which wks_discard_all
 * walks.
 */
#include "convert/pending_files.h"
#include "wks.h"
#include "wks/stream.h"

#include <cerrno>

namespace wks::convert {
namespace {

// 38 is silent: the caller learns the system's reason from errno, which
// stays as the failed call left it.
WKS *refuse(WKS *h, int saved_errno) {
    wkserr(set_error(h, WKS_E_OPEN));
    errno = saved_errno;
    return nullptr;
}

}  // namespace

int16_t write_host_record(WKS *h) {
    if (h && h->mode == kModeEnded) return set_error(h, WKS_E_CLOSE);
    if (h && rec_length(h) > WKS_MAX_READ_BODY && slot_of(h)) return wkserr(set_error(h, WKS_E_WRITE));
    return write_record(h);
}

}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

WKS *wks_create(WKS *h, const char *path, int32_t format, const char *source) {
    if (!h) return nullptr;
    if (!path || !path[0] || (format != WKS_FORMAT_ORX && format != WKS_FORMAT_WK1) || slot_of(h))
        return refuse(h, EINVAL);
    PendingSlot *s = claim_slot(h);
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
    PendingSlot *s = slot_of(h);
    if (!s) return h ? wkserr(set_error(h, WKS_E_CLOSE)) : wkserr(WKS_E_CLOSE);
    set_rec(h, WKS_EOF, 0);
    int16_t code = write_record(h);  // 32 shown
    int reason = 0;
    if (code == 0 && begin_commit(*s)) {
        code = s->file.commit();
        reason = errno;
        if (code != 0 && code != WKS_E_OPEN) wkserr(code);
    } else if (code == 0) {
        code = WKS_E_OPEN;  // wks_discard_all dropped the file meanwhile
        reason = ECANCELED;
    }
    release(*s);
    end_handle(h);
    if (code == WKS_E_OPEN) errno = reason;
    return set_error(h, code);
}

void wks_discard(WKS *h) {
    PendingSlot *s = slot_of(h);
    if (!s) return;
    release(*s);
    end_handle(h);
}

void wks_discard_all(void) { discard_all_pending(); }

int32_t wks_hold_results(int32_t hold) {
    const bool was = holding_results();
    set_holding_results(hold != 0);
    return was;
}

int32_t wks_place_held(wks_placed_visitor visit, void *context) { return place_held_results(visit, context); }

}
