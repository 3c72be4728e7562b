/* Committing a whole file (whole_file.h): the platform's outcome as an error code. */
#include "convert/whole_file.h"

#include "wks.h"

namespace wks::convert {

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
