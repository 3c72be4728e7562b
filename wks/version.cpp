/*
 * The library's version, as the header it was built with spells it.
 */
#include "wks.h"

extern "C" {

const char *wks_version(int32_t *number) {
    if (number) *number = WKS_VERSION_NUMBER;
    return WKS_VERSION;
}

}
