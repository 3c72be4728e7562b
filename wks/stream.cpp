/*
 * The record stream of ORX files: opening for reading or by creating, one
 * record (or one cell) at a time forward, writing, closing; and the two
 * starts every stream of the library goes through (stream.h).
 *
 * Each read fetches the rest of the current record together with the next
 * record's 4-byte header into the handle's record buffer; after a good read
 * the buffer holds the current record whole, the next header follows its
 * body, `cursor` points at that header and `carried` is 4.  For a host's
 * stream that is one read call per record and each write one write call;
 * a stream that reads ahead, and the converters' streams, go through a
 * BlockReader or BlockWriter (block_io.h), which fetch and write the same
 * bytes in large blocks.  Nothing here allocates.
 */
#include "wks/stream.h"

#include "convert/pending_files.h"
#include "platform/platform.h"
#include "wks/header.h"
#include "wks/read_ahead.h"

#include <cstdint>
#include <cstring>

namespace wks {
namespace {

unsigned char *record_start(WKS *h) { return reinterpret_cast<unsigned char *>(&h->rec); }

// Pointer arithmetic on addresses, for places that may lie outside the buffer.
uintptr_t address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// A stream under way carries 1..4 header bytes at a cursor inside the
// buffer; anything else would make the next read move or fill bytes outside
// the handle.
bool carried_bytes_in_buffer(WKS *h, int carried) {
    if (carried > kRecordHeaderSize) return false;
    uintptr_t start = address(record_start(h));
    uintptr_t cur = address(h->cursor);
    return cur >= start && cur + static_cast<uintptr_t>(carried) <= start + WKS_RECORD_SIZE;
}

int16_t fail_read(WKS *h) {
    set_error(h, WKS_E_READ);
    return wkserr(WKS_E_READ);
}

void put_bof(WKS *h, uint16_t version) {
    set_rec(h, WKS_BOF, 2);
    put_u16(h->rec.body, version);
}

// Gives up an input opening: h's descriptor and the one aside closed.
bool abandon_input(WKS *h, int32_t aside) {
    close_descriptor(h);
    if (aside >= 0) plat::close(aside);
    return false;
}

constexpr InputRules kReadRules{"cannot be opened.", true, 'r', -1};

WKS *open_read(WKS *h, const char *path) {
    if (!open_input(h, path, kReadRules)) return nullptr;
    set_error(h, 0);
    return h;
}

WKS *open_create(WKS *h, const char *path) {
    h->mode = 'w';
    h->fd = replace_file(path, plat::kCreateRW);
    if (h->fd < 0) {
        wkserr(set_error(h, WKS_E_OPEN));
        return nullptr;
    }
    if (start_stream(h, h->fd, Layout::kOrx, has_extension(path, ".ORX") ? kVersion1030 : kVersion1028)) return h;
    close_descriptor(h);
    return nullptr;
}

// One read call per record, straight from the descriptor.
struct DirectSource {
    int32_t fd;
    int32_t read(void *out, uint32_t count) { return plat::read(fd, out, count); }
    void skip(int64_t count) { plat::lseek(fd, count, plat::kSeekCur); }
};

template <class Source>
int16_t read_from(WKS *h, Layout layout, Source &source) {
    unsigned char *start = record_start(h);
    int carried = h->carried;
    if (carried > 0) {
        if (!carried_bytes_in_buffer(h, carried)) return fail_read(h);
        if (is_cell_type(rec_type(h))) {
            const unsigned char *cell = h->rec.body + cell_base(layout);
            h->last_col = get_i16(cell + WKS_CELL_COLUMN);
            h->last_row = get_i16(cell + WKS_CELL_ROW);
        }
        copy(start, h->cursor, static_cast<uint32_t>(carried));
    } else if (carried < 0) {
        return fail_read(h);  // no first-call state puts the cursor before the buffer
    } else {
        put_u16(h->rec.length, 2);  // first call: the 6-byte BOF record and the next header
    }

    // The rest of the current record plus the next record's header.
    const long wanted = static_cast<long>(rec_length(h)) + 8 - carried;
    const uint32_t chunk = wanted > WKS_BODY_SIZE ? WKS_BODY_SIZE : static_cast<uint32_t>(wanted);
    const int32_t got = source.read(start + carried, chunk);
    if (wanted > WKS_BODY_SIZE) source.skip(wanted - WKS_BODY_SIZE);

    const uint16_t length = rec_length(h);
    h->carried = static_cast<int16_t>(carried + wanted - (length + kRecordHeaderSize));
    h->cursor = reinterpret_cast<unsigned char *>(address(h->rec.body) + length);

    // Bytes of the buffer, from its start, that hold what the file delivered.
    const long filled = carried + (got > 0 ? got : 0);
    bool good = got >= 0 && got == wanted;
    if (!good && filled >= 2 && rec_type(h) == WKS_EOF) good = true;
    // A final EOF record cut short after its type word: the file ended (the
    // read returned less than it was asked for) after delivering that word.
    const long next_type_end = kRecordHeaderSize + static_cast<long>(length) + 2;
    const bool file_ended = got >= 0 && static_cast<uint32_t>(got) < chunk;
    if (!good && file_ended && filled >= next_type_end && get_u16(start + next_type_end - 2) == WKS_EOF)
        good = true;
    if (!good) return fail_read(h);
    set_error(h, 0);
    return rec_type(h) == WKS_EOF ? -1 : 0;
}

// One write call per record, straight to the descriptor.
struct DirectSink {
    int32_t fd;
    bool write(const void *data, uint32_t count) { return plat::write(fd, data, count) == static_cast<int32_t>(count); }
};

template <class Sink>
int16_t write_to(WKS *h, Sink &sink) {
    const uint16_t length = rec_length(h);
    if (length > WKS_BODY_SIZE) return wkserr(set_error(h, WKS_E_WRITE));  // would write past the handle
    if (!sink.write(record_start(h), length + static_cast<uint32_t>(kRecordHeaderSize)))
        return wkserr(set_error(h, WKS_E_WRITE));
    return set_error(h, 0);
}

}  // namespace

void reset_position(WKS *h) {
    h->last_col = 0;
    h->last_row = 0;
    h->carried = 0;
    end_read_ahead(h);
}

int16_t read_record(WKS *h, Layout layout) {
    if (!h) return wkserr(WKS_E_READ);
    if (BlockReader *ahead = read_ahead_of(h)) return read_from(h, layout, *ahead);
    DirectSource direct{h->fd};
    return read_from(h, layout, direct);
}

int16_t read_record(WKS *h, Layout layout, BlockReader &source) {
    if (!h) return wkserr(WKS_E_READ);
    return read_from(h, layout, source);
}

int16_t write_record(WKS *h) {
    if (!h) return wkserr(WKS_E_WRITE);
    DirectSink direct{h->fd};
    return write_to(h, direct);
}

int16_t write_record(WKS *h, BlockWriter &sink) {
    if (!h) return wkserr(WKS_E_WRITE);
    return write_to(h, sink);
}

int32_t close_descriptor(WKS *h) {
    int32_t result = plat::close(h->fd);
    h->fd = -1;  // the descriptor is gone; a second close must not hit a reused number
    return result;
}

bool has_extension(const char *path, const char *ext) {
    plat::SplitPath parts = plat::split_path(path);
    // The extension runs to the end of the path, so its data is NUL-terminated.
    return !parts.ext.empty() && plat::stricmp(parts.ext.data(), ext) == 0;
}

int32_t replace_file(const char *path, int flags) {
    plat::remove(path);
    return plat::open(path, flags, plat::kPermReadWrite);
}

WKS *start_stream(WKS *h, int32_t fd, Layout layout, uint16_t version) {
    h->fd = fd;
    h->mode = 'w';
    reset_position(h);
    // A header block that does not reach the disk whole would leave a file
    // that no longer opens; report it as the write error it is.
    const int32_t header = layout == Layout::kOrx ? header::write_block(fd) : -1;
    if (header == header::kSaveFailed) {
        wkserr(set_error(h, WKS_E_WRITE));
        return nullptr;
    }
    put_bof(h, version);
    if (write_record(h) != 0) return nullptr;
    if (header == 0) header::release_written_block();
    set_error(h, 0);
    return h;
}

bool open_input(WKS *h, const char *path, const InputRules &rules) {
    h->fd = plat::open(path, plat::kRead);
    if (h->fd < 0) {
        if (rules.aside >= 0) plat::close(rules.aside);
        if (msg_for_atat(path, rules.cannot_open) == 0) wkserr(set_error(h, WKS_E_OPEN));
        return false;
    }
    const int32_t header = read_header(h->fd);
    if (header < 0) {
        if (header == -1 && header::mode() != header::kConvert &&
            msg_for_atat(path, "is not an ORX file.") == 0)
            wkswin_printf("'%s' is not an ORX file.", path);
        return abandon_input(h, rules.aside);
    }
    h->mode = rules.mode;
    if (wksnextr(h) != 0) return abandon_input(h, rules.aside);
    if (!is_valid_bof(h)) {
        if (!rules.notice_for_bof || msg_for_atat(path, "is not an ORX file.") == 0)
            wkserr(set_error(h, WKS_E_NOT_ORX));
        return abandon_input(h, rules.aside);
    }
    return true;
}

}  // namespace wks

using namespace wks;

extern "C" {

WKS *wksopen(WKS *h, const char *path1, const char *path2) {
    if (!h) return nullptr;
    const bool no_first = is_empty(path1), no_second = is_empty(path2);
    if (no_first && no_second) {
        wkserr(set_error(h, WKS_E_NO_PATHS));
        return nullptr;
    }
    reset_position(h);
    if (no_second) return open_read(h, path1);
    if (no_first) return open_create(h, path2);
    if (std::strcmp(path1, path2) != 0) return open_copy(h, path1, path2);
    return open_append(h, path1);
}

int16_t wksnextr(WKS *h) { return read_record(h, Layout::kOrx); }

int16_t wksnextc(WKS *h) {
    if (!h) return wkserr(WKS_E_READ);
    if (rec_type(h) == WKS_EOF) {
        set_error(h, 0);
        return -1;
    }
    for (;;) {
        if (wksnextr(h) == -1) return -1;
        if (h->error > 0) return h->error;
        if (is_cell_type(rec_type(h))) break;
    }
    const int16_t col = get_i16(h->rec.body + kOrxColumn);
    const int16_t row = get_i16(h->rec.body + kOrxRow);
    if (row < h->last_row || (row == h->last_row && col < h->last_col)) return wkserr(set_error(h, WKS_E_UNSORTED));
    return set_error(h, 0);
}

int16_t wkswrec(WKS *h) { return convert::write_host_record(h); }

int16_t wksclose(WKS *h) {
    if (!h) return wkserr(WKS_E_CLOSE);
    if (h->mode == kModeEnded) return set_error(h, WKS_E_CLOSE);
    end_read_ahead(h);
    if (h->mode == 'w') {
        set_rec(h, WKS_EOF, 0);
        if (write_record(h) != 0) return h->error;  // still open: a later close tries again
    }
    if (close_descriptor(h) != 0) return wkserr(set_error(h, WKS_E_CLOSE));
    return set_error(h, 0);
}

int32_t wks_open_close(const char *path) {
    WKS h;
    std::memset(&h, 0, sizeof h);
    if (!wksopen(&h, path, "")) return 0;
    wksclose(&h);
    return 1;
}

}
