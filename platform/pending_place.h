/*
 * What both systems' pending files (platform.h) share: the last steps of
 * putting a named pending file in place.
 */
#ifndef WKS_PLATFORM_PENDING_PLACE_H
#define WKS_PLATFORM_PENDING_PLACE_H

#include "platform/platform.h"

namespace wks::plat {

// Closes the flushed pending file and renames it onto its target: kDone, or
// kNotClosed / kNotPlaced with the pending file discarded.
Placed close_and_rename(PendingFile &file);

}  // namespace wks::plat

#endif
