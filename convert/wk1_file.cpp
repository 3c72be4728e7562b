/*
 * WK1 file access: the twins of the ORX record functions for files that
 * have no header block and whose cell records lack the 11-byte prefix, and
 * the two probes that tell the formats apart.
 *
 * Framing, read-ahead and error reporting are the record stream's own
 * (wks/stream.h); the only WK1 differences are the missing header block,
 * the BOF version chosen by a ".WK1" extension and the cell layout.
 * Nothing here allocates.
 */
#include "convert/pending_files.h"
#include "platform/platform.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cstring>

namespace wks::convert {
namespace {

WKS *open_read(WKS *h, const char *path) {
    h->fd = plat::open(path, plat::kRead);
    if (h->fd < 0) return nullptr;  // silent, unlike the ORX read mode
    h->mode = 'r';
    if (wksnextr_wk1(h) != 0 || !is_valid_bof(h)) {
        close_descriptor(h);
        return nullptr;
    }
    set_error(h, 0);
    return h;
}

WKS *open_create(WKS *h, const char *path) {
    const int32_t fd = replace_file(path, plat::kCreateWrite);
    if (fd < 0) {
        wkserr(set_error(h, WKS_E_OPEN));
        return nullptr;
    }
    if (!start_stream(h, fd, Layout::kWk1, has_extension(path, ".WK1") ? kVersion1030 : kVersion1028)) {
        close_descriptor(h);
        return nullptr;
    }
    return h;
}

}  // namespace
}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

WKS *wksopen_wk1(WKS *h, const char *read_path, const char *create_path) {
    if (!h) return nullptr;
    reset_position(h);
    const bool no_read = is_empty(read_path), no_create = is_empty(create_path);
    if (no_read == no_create) return nullptr;  // both given, or neither
    return no_create ? open_read(h, read_path) : open_create(h, create_path);
}

int16_t wksnextr_wk1(WKS *h) { return read_record(h, Layout::kWk1); }

int16_t wkswrec_wk1(WKS *h) { return write_host_record(h); }

// The EOF record goes out through the same writer as wkswrec_wk1's, so the
// ORX close is the WK1 close.
int16_t wksclose_wk1(WKS *h) { return wksclose(h); }

int16_t is_orx_file(const char *path) {
    if (is_empty(path)) return 0;
    const int32_t fd = plat::open(path, plat::kRead);
    if (fd < 0) return 0;
    int32_t result;
    {
        header::ConvertMode mode;
        result = read_header(fd);
    }
    plat::close(fd);
    return result >= 0 ? 1 : 0;
}

int16_t is_wk1_file(const char *path) {
    if (is_empty(path)) return 0;
    WKS h;
    std::memset(&h, 0, sizeof h);
    if (!wksopen_wk1(&h, path, "")) return 0;
    wksclose_wk1(&h);
    return 1;
}

}
