/* The last steps of placing a named pending file (pending_place.h). */
#include "platform/pending_place.h"

namespace wks::plat {

Placed close_and_rename(PendingFile &file) {
    const int32_t fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        discard_pending(file);
        return Placed::kNotClosed;
    }
    if (rename(file.name, file.target) != 0) {
        discard_pending(file);
        return Placed::kNotPlaced;
    }
    file.name[0] = '\0';
    return Placed::kDone;
}

}  // namespace wks::plat
