/*
 * Reading ahead for a host's reading handle (wks_read_ahead): the handle's
 * records come from a BlockReader (block_io.h) that fetches the file in
 * large blocks, with the same records, codes and messages as one read call
 * per record.
 *
 * The handle's layout is part of the ABI, so which handles read ahead is
 * kept here, in a fixed table of WKS_READ_AHEAD_MAX slots keyed by the
 * handle's address and descriptor; a slot's buffer comes from the heap and
 * goes back at the handle's close, at its next opening, and with the
 * process-wide reset.  While no handle reads ahead, asking for a handle's
 * reader is one load and one compare.
 */
#ifndef WKS_READ_AHEAD_H
#define WKS_READ_AHEAD_H

#include "wks.h"
#include "wks/block_io.h"

namespace wks {

// The reader of h when h reads ahead, else null.
BlockReader *read_ahead_of(const WKS *h);

// Ends h's reading ahead, if it does: its buffer goes back to the heap.
void end_read_ahead(const WKS *h);

// Ends every handle's reading ahead: part of the process-wide reset.
void reset_read_ahead();

}  // namespace wks

#endif
