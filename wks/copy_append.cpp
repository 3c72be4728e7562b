/*
 * The openings of wksopen that take both paths.  Both pass every record of
 * an existing file, register each range-name record under the handle's file
 * number, and end with the handle open for writing where the next record
 * belongs:
 *   copy   (paths differ)  input records from BOF up to, not including, EOF
 *                          are copied into a freshly created output, which
 *                          stays open; the input's header block is read as
 *                          in read mode but not copied;
 *   append (paths equal)   the file, which has no header block, is read to
 *                          its EOF record and left positioned on it, so the
 *                          next record written replaces it.
 * A failed opening leaves no descriptor open and the handle's fd at -1.
 * Names registered before a failure stay in the table; a copy's output
 * stays on disk with what had been written.
 */
#include "wks/stream.h"

#include "names/names.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstring>

namespace wks {
namespace {

bool is_range_name(uint16_t type) { return type == WKS_RANGE_NAME || type == WKS_RANGE_NAME2; }

// Registers the current record's range name under the handle's file number:
// 0, or the code wksir reported (and showed).  The name is read from the
// first 16 body bytes only, and a record too short to carry the four
// coordinates registers nothing (its bytes past the end are another
// record's leftovers).
int16_t register_name(WKS *h) {
    if (rec_length(h) < WKS_NAME_RECORD_SIZE) return 0;
    char name[WKS_NAME_TEXT_SIZE + 1];
    std::memcpy(name, h->rec.body, WKS_NAME_TEXT_SIZE);
    name[WKS_NAME_TEXT_SIZE] = '\0';
    const unsigned char *c = h->rec.body + WKS_NAME_COORDINATES;
    constexpr int w = kNameCoordinateSize;
    return wksir(names::file_number_of(h), name, get_i16(c), get_i16(c + w), get_i16(c + 2 * w), get_i16(c + 3 * w));
}

// Gives up an opening: closes whichever descriptors are given (-1 for
// none) and leaves the handle holding none.
WKS *abandon(WKS *h, int32_t fd1, int32_t fd2 = -1) {
    if (fd1 >= 0) plat::close(fd1);
    if (fd2 >= 0) plat::close(fd2);
    h->fd = -1;
    return nullptr;
}

WKS *refuse(WKS *h, int16_t code) {
    h->fd = -1;
    wkserr(set_error(h, code));
    return nullptr;
}

// After a read in the record loop: true when the stream may go on (a
// record, or the EOF record, is current); false after a read error, which
// wksnextr has stored and shown.
bool read_next(WKS *h) {
    const int16_t result = wksnextr(h);
    return result == 0 || rec_type(h) == WKS_EOF;
}

}  // namespace

WKS *open_copy(WKS *h, const char *in_path, const char *out_path) {
    h->mode = 'w';
    // Two spellings of one file would make the output's creation destroy
    // the input: refuse before anything is deleted.
    if (plat::same_file(in_path, out_path)) return refuse(h, WKS_E_OPEN);

    const int32_t out = replace_file(out_path, plat::kCreateRW);
    if (out < 0) return refuse(h, WKS_E_OPEN);
    // Unlike read mode, a first record that is no BOF record gets no notice.
    if (!open_input(h, in_path, InputRules{"can not be opened.", false, 'w', out})) return nullptr;
    const int32_t in = h->fd;

    do {
        if (is_range_name(rec_type(h)) && register_name(h) != 0) return abandon(h, in, out);
        h->fd = out;
        const int16_t written = write_record(h);
        h->fd = in;
        if (written != 0) return abandon(h, in, out);
        if (!read_next(h)) return abandon(h, in, out);
    } while (rec_type(h) != WKS_EOF);

    if (plat::close(in) != 0) {
        abandon(h, out);
        wkserr(set_error(h, WKS_E_CLOSE_INPUT));
        return nullptr;
    }
    h->fd = out;
    set_error(h, 0);
    return h;
}

WKS *open_append(WKS *h, const char *path) {
    h->mode = 'w';
    h->fd = plat::open(path, plat::kReadWrite);
    if (h->fd < 0) return refuse(h, WKS_E_OPEN);

    if (wksnextr(h) != 0) return abandon(h, h->fd);
    if (!is_valid_bof(h)) {
        wkserr(set_error(h, WKS_E_NOT_ORX));
        return abandon(h, h->fd);
    }

    // Where the EOF record starts: the sum of the sizes of the records
    // before it.  Positioning there, rather than 4 bytes before the end of
    // the file, keeps a cut-short EOF record (01 00) from costing the
    // previous record its last bytes, and keeps records written after
    // trailing bytes from landing behind the EOF record, where no reader
    // would see them.  In a well-formed file both places are the same.
    int64_t eof_offset = 0;
    do {
        if (is_range_name(rec_type(h)) && register_name(h) != 0) return abandon(h, h->fd);
        eof_offset += kRecordHeaderSize + rec_length(h);
        if (!read_next(h)) return abandon(h, h->fd);
    } while (rec_type(h) != WKS_EOF);

    if (plat::lseek(h->fd, eof_offset, plat::kSeekSet) != eof_offset) {
        wkserr(set_error(h, WKS_E_SEEK_END));
        return abandon(h, h->fd);
    }
    set_error(h, 0);
    return h;
}

}  // namespace wks
