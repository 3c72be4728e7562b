/*
 * The handle is read directly by hosts, so its layout is part of the
 * interface.  These checks fail the build if a compiler or an edit moves a
 * field.  (The offsets inside records are in layout.h; the range-name node
 * is checked where the table lives.)
 */
#include "wks/layout.h"

#include "wks.h"

#include <cstddef>

namespace {
constexpr std::size_t kPointer = sizeof(void *);
}

// Worksheet handle: byte-packed, no gaps.
static_assert(offsetof(WKS, fd) == 0, "descriptor at 0");
static_assert(offsetof(WKS, mode) == 4, "mode letter at 4");
static_assert(offsetof(WKS, error) == 5, "error code at 5");
static_assert(offsetof(WKS, cursor) == 7, "record cursor at 7");
static_assert(offsetof(WKS, last_col) == 7 + kPointer, "last cell column after the cursor");
static_assert(offsetof(WKS, last_row) == 9 + kPointer, "last cell row");
static_assert(offsetof(WKS, carried) == 11 + kPointer, "carried-over count");
static_assert(offsetof(WKS, rec) == 13 + kPointer, "record type");
static_assert(offsetof(WKS, rec) + offsetof(WKS_RECORD, length) == 15 + kPointer, "record length");
static_assert(offsetof(WKS, rec) + offsetof(WKS_RECORD, body) == 17 + kPointer, "record body area");
static_assert(sizeof(WKS_RECORD) == WKS_RECORD_SIZE, "record buffer is type, length, body");
static_assert(sizeof(WKS) == 13 + kPointer + WKS_RECORD_SIZE, "handle size");
static_assert(kPointer != 8 || sizeof(WKS) == 2103, "2103 bytes on 64-bit targets");
