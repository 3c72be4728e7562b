/* Committing a whole file (whole_file.h): the platform's outcome as an error code. */
#include "convert/whole_file.h"

namespace wks::convert {
namespace {

constexpr int16_t kWriteError = 32;
constexpr int16_t kCloseError = 25;
constexpr int16_t kOpenError = 38;

}  // namespace

int16_t WholeFile::commit() {
    switch (plat::place_pending(file_)) {
        case plat::Placed::kDone: return 0;
        case plat::Placed::kNotFlushed: return kWriteError;
        case plat::Placed::kNotClosed: return kCloseError;
        case plat::Placed::kNotPlaced: break;
    }
    return kOpenError;
}

}  // namespace wks::convert
