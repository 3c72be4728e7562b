/* The public header as a C compiler sees it, formula internals included: the
 * layouts a C host reads must be the ones the library was built with. */
#define WKS_FORMULA_INTERNALS
#include "wks.h"

#include <stddef.h>

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
_Static_assert(sizeof(WKS) == 2103, "handle is 2103 bytes");
_Static_assert(offsetof(WKS, mode) == 4, "mode letter at 4");
_Static_assert(offsetof(WKS, error) == 5, "error code at 5");
_Static_assert(offsetof(WKS, cursor) == 7, "cursor at 7");
_Static_assert(offsetof(WKS, last_col) == 15, "last column at 15");
_Static_assert(offsetof(WKS, last_row) == 17, "last row at 17");
_Static_assert(offsetof(WKS, carried) == 19, "carried-over count at 19");
_Static_assert(offsetof(WKS, rec.type) == 21, "record type at 21");
_Static_assert(offsetof(WKS, rec.length) == 23, "record length at 23");
_Static_assert(offsetof(WKS, rec.body) == 25, "record body at 25");
_Static_assert(sizeof(WKS_NAME) == 32, "node is 32 bytes");
_Static_assert(offsetof(WKS_NAME, file) == 8, "file number at 8");
_Static_assert(offsetof(WKS_NAME, name) == 16, "name at 16");
_Static_assert(offsetof(WKS_NAME, c1) == 24 && offsetof(WKS_NAME, r2) == 30, "coordinates at 24..31");
#endif

size_t wkstest_c_handle_size(void) { return sizeof(WKS); }
size_t wkstest_c_body_offset(void) { return offsetof(WKS, rec.body); }
