/*
 * Internal side of WK1 file access, for the converters: starting a record
 * stream on a file this call creates itself.
 */
#ifndef WKS_CONVERT_WK1_FILE_H
#define WKS_CONVERT_WK1_FILE_H

#include "wks.h"

#include <cstdint>

namespace wks::convert {

enum class Layout { kWk1, kOrx };

// Creates path exclusively (an existing file or link of that name makes it
// fail) and starts a write stream on it: for kOrx the header block waiting
// for the header mode, then a BOF record of the given version.  Returns h,
// or null with h->error 38 (not created) or 32 (not written; the file is
// closed and stays behind for the caller to remove).
WKS *create_exclusive(WKS *h, const char *path, Layout layout, uint16_t version);

}  // namespace wks::convert

#endif
