/*
 * Internal side of WK1 file access, for the converters: starting a record
 * stream of either format on a new file they created themselves.
 */
#ifndef WKS_CONVERT_WK1_FILE_H
#define WKS_CONVERT_WK1_FILE_H

#include "wks.h"

#include <cstdint>

namespace wks::convert {

enum class Layout { kWk1, kOrx };

// Starts a write stream on fd, a new empty file: for kOrx the header block
// waiting for the header mode (written and released), then a BOF record of
// the given version.  Returns h, or null with h->error 32 (shown); the
// descriptor stays open and the caller's either way.
WKS *start_stream(WKS *h, int32_t fd, Layout layout, uint16_t version);

}  // namespace wks::convert

#endif
