/*
 * What both systems' pending files (platform.h) share: the temporary names
 * they take, and the last steps of putting a named pending file in place.
 */
#ifndef WKS_PLATFORM_PENDING_PLACE_H
#define WKS_PLATFORM_PENDING_PLACE_H

#include "platform/platform.h"

#include <cstddef>

namespace wks::plat {

// A temporary name beside target, whose first dir_length characters are its
// directory: ".NAME.wks-XXXXXX", NAME the target's own name (cut to fit a
// file name of 255 bytes) and X six random letters or digits, a new draw on
// each call.  False when the path would not fit.
bool temporary_name(char (&out)[kPathCapacity], const char *target, std::size_t dir_length);

// Closes the flushed pending file and renames it onto its target: kDone, or
// kNotClosed / kNotPlaced with the pending file discarded.
Placed close_and_rename(PendingFile &file);

}  // namespace wks::plat

#endif
