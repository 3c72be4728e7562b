/*
 * The whole files (whole_file.h) the library has pending, in one fixed table
 * that a signal handler can walk (wks_discard_all): a slot for each handle
 * wks_create started, WKS_CREATE_MAX of them, and one more for the library's
 * own result, a converter's or copy_file's (library calls never overlap, so
 * one is enough).  Nothing is allocated.
 *
 * A slot's state is the only thing the handler trusts: a slot is filled
 * before it is marked pending, and marked committing before its file is let
 * go, so the handler never meets a file half made or half placed.
 */
#ifndef WKS_CONVERT_PENDING_FILES_H
#define WKS_CONVERT_PENDING_FILES_H

#include "convert/whole_file.h"
#include "wks.h"

#include <atomic>

namespace wks::convert {

enum SlotState : int { kFree, kFilling, kPending, kCommitting };

struct PendingSlot {
    std::atomic<int> state{kFree};
    WKS *owner = nullptr;  // the handle of a wks_create slot
    WholeFile file;
};

// The slot of a handle wks_create started, or null.
PendingSlot *slot_of(const WKS *h);
// A free handle slot for h, marked as being filled; null when all are taken.
PendingSlot *claim_slot(WKS *h);
// Drops the slot's file, if any, and frees the slot.
void release(PendingSlot &s);
// Marks a wks_create handle no longer pending: its new file is placed or gone.
void end_handle(WKS *h);
// wkswrec and wkswrec_wk1: the record in h's buffer written.  On a handle
// wks_create started, a body longer than WKS_MAX_READ_BODY, which no reader
// takes back, is refused (32, shown, nothing written); once wks_commit or
// wks_discard ended the handle, nothing is written (25, silent).
int16_t write_host_record(WKS *h);
// Moves a pending slot on to committing: false when wks_discard_all has
// dropped its file meanwhile.
bool begin_commit(PendingSlot &s);
// Drops the file of every pending slot, held results included
// (async-signal-safe), and marks its handle ended, as wks_discard does;
// slots being filled or committed are left to their owners.
void discard_all_pending();
// Discards every pending file, whatever its state, and stops holding
// results: part of the process-wide reset.
void discard_pending_creates();

// Results held (wks_hold_results): while holding is on, a converter's
// complete result goes into a table of WKS_HOLD_MAX slots instead of its
// destination's place, and place_held_results flushes them together and
// puts each in place, in the order they were held.
bool holding_results();
void set_holding_results(bool on);
// Whether a held slot is free: a converter checks before it starts.
bool held_slot_free();
// Flushes and places every held result; visit (may be null) gets each
// one's result (0, or WKS_CONVERT_OUTPUT_FAILED with the system's reason).
// Returns how many could not be placed.
int32_t place_held_results(void (*visit)(void *, int32_t, int32_t), void *context);

// The library's own result, a converter's or copy_file's, written in the
// slot kept for it.  Its file is a WholeFile, which wks_discard_all drops
// while it is pending.
class PendingResult {
public:
    PendingResult() = default;
    ~PendingResult() { abandon(); }
    PendingResult(const PendingResult &) = delete;
    PendingResult &operator=(const PendingResult &) = delete;

    // As WholeFile::create; false also while another result holds the slot
    // (a library call from inside a progress handler).
    bool create(const char *destination);
    int32_t fd() const;
    // Whether the new file is still pending: false once wks_discard_all has
    // dropped it.
    bool pending() const;
    // As WholeFile::commit; also 38 when wks_discard_all dropped the file.
    int16_t commit();
    // Drops the new file, if it is still pending.
    void abandon();
    // Moves the complete new file into a free held slot: false (the file
    // dropped) when wks_discard_all dropped it or no slot is free.
    bool hold();

private:
    // Whether the slot is this result's: another result's file (one made
    // after wks_discard_all dropped this one) is never touched.
    bool holds_slot() const;
    unsigned long generation_ = 0;  // the slot's result number while this one holds it
};

}  // namespace wks::convert

#endif
