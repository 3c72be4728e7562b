/*
 * The worksheet family (wks_identify, wks_open_family) for the library's
 * own callers.
 */
#ifndef WKS_FAMILY_H
#define WKS_FAMILY_H

#include "wks.h"

namespace wks::family {

int32_t identify(const char *path, WKS_FAMILY *out);
WKS *open(WKS *h, const char *path, WKS_FAMILY *out);

}  // namespace wks::family

#endif
