/* Whole files (whole_file.h): committing one, with the platform's outcome as
 * an error code, and the naming rules of new files. */
#include "convert/whole_file.h"

#include "wks.h"
#include "wks/stream.h"

namespace wks::convert {

bool one_file(const char *a, const char *b) {
    if (plat::exists(a) && plat::exists(b)) return plat::same_file(a, b);
    return plat::stricmp(a, b) == 0;
}

uint16_t new_file_version(const char *destination, Layout layout, const char *source) {
    if (!is_empty(source) && one_file(destination, source)) return kVersion1028;
    return has_extension(destination, layout == Layout::kOrx ? ".ORX" : ".WK1") ? kVersion1030 : kVersion1028;
}

int16_t WholeFile::commit() {
    switch (plat::place_pending(file_)) {
        case plat::Placed::kDone: return 0;
        case plat::Placed::kNotFlushed: return WKS_E_WRITE;
        case plat::Placed::kNotClosed: return WKS_E_CLOSE;
        case plat::Placed::kNotPlaced: break;
    }
    return WKS_E_OPEN;
}

}  // namespace wks::convert
