/*
 * The openings of wksopen that take both paths.  Not built yet: both refuse
 * with "Error opening file" (38, silent) and leave every file alone.
 */
#include "wks/stream.h"

namespace wks {

WKS *open_copy(WKS *h, const char *, const char *) {
    wkserr(set_error(h, 38));
    return nullptr;
}

WKS *open_append(WKS *h, const char *) {
    wkserr(set_error(h, 38));
    return nullptr;
}

}  // namespace wks
