/*
 * The whole-file converters, WK1 to ORX and ORX to WK1.  Each opens its
 * source first (a source that cannot be opened leaves every file alone),
 * then the new version of its destination, passes every record between BOF
 * and EOF through the record translation and every formula through the
 * rewriting of external references, and puts the result in the
 * destination's place only when all of it is written.
 *
 * The result goes to a file beside the destination (whole_file.h), kept in
 * the table of pending files that wks_discard_all walks, whether or not
 * source and destination are one file.  A conversion stops at the first
 * record it cannot read, translate or write, and when the host's progress
 * handler asks it to, and then leaves the destination as it was.  The
 * header mode is restored on every return.
 *
 * A converter owns both of its files, so it reads the source and writes the
 * result in large blocks (block_io.h): the records, the bytes written and
 * every failure are those of one read and one write call per record.
 */
#include "convert/formula_rewrite.h"
#include "convert/pending_files.h"
#include "convert/progress.h"
#include "convert/translate.h"
#include "names/names.h"
#include "platform/platform.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cerrno>
#include <cstring>

namespace wks::convert {
namespace {

constexpr uint32_t kBlock = 1 << 17;  // bytes read or written at a time
static_assert(kBlock >= WKS_RECORD_SIZE, "a block holds a whole record");

// What a stream's opening has read of its file: an ORX file's header block,
// then the BOF record and the next record's header.
constexpr int64_t kBofAndNextHeader = 6 + kRecordHeaderSize;
constexpr int64_t opened_bytes(Layout layout) {
    return (layout == Layout::kOrx ? WKS_HEADER_SIZE : 0) + kBofAndNextHeader;
}

// A block of the heap for as long as a conversion runs; without memory for
// it the conversion reads or writes one record per call.
class Block {
public:
    Block() : p_(static_cast<unsigned char *>(plat::alloc(kBlock))) {}
    ~Block() { plat::release(p_); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    unsigned char *get() const { return p_; }

private:
    unsigned char *p_;
};

// The destination's new version and the record stream that writes it: its
// header block and BOF record written by the stream's start, every record
// after them through the writer.
struct Output {
    WKS h;
    PendingResult file;
    BlockWriter writer;
};

bool open_output(Output &out, Layout layout, const char *src, const char *dst) {
    std::memset(&out.h, 0, sizeof out.h);
    out.h.fd = -1;
    const uint16_t version = new_file_version(dst, layout, src);
    if (holding_results() && !held_slot_free()) {
        errno = EMFILE;
        return false;
    }
    if (!out.file.create(dst)) return false;
    if (start_stream(&out.h, out.file.fd(), layout, version)) return true;
    out.file.abandon();
    return false;
}

// The record loop both converters share: each record of the source after
// its BOF record made into the output's record by translate (false: it
// cannot be), then written.  Returns the conversion's result.
template <class Translate>
int32_t convert_records(WKS &in, Layout from, Output &out, Translate translate) {
    const Block read_block, write_block;
    BlockReader reader;
    reader.start(in.fd, read_block.get(), kBlock);
    out.writer.start(out.h.fd, write_block.get(), kBlock);
    Progress progress(plat::size_of(in.fd), &out.file);
    const int64_t start = opened_bytes(from);
    if (progress.report(start)) return WKS_CONVERT_STOPPED;

    int16_t status;
    while ((status = read_record(&in, from, reader)) == 0) {
        if (!translate()) return WKS_CONVERT_SOURCE_DAMAGED;
        if (write_record(&out.h, out.writer) != 0) return WKS_CONVERT_OUTPUT_FAILED;  // shown
        if (progress.check(start + reader.advanced())) return WKS_CONVERT_STOPPED;
    }
    if (status != -1) return WKS_CONVERT_SOURCE_DAMAGED;
    if (progress.report(start + reader.advanced())) return WKS_CONVERT_STOPPED;
    // The end of the result: its EOF record, and the last block.
    set_rec(&out.h, WKS_EOF, 0);
    if (write_record(&out.h, out.writer) != 0) return WKS_CONVERT_OUTPUT_FAILED;
    if (!out.writer.flush()) {
        wkserr(set_error(&out.h, WKS_E_WRITE));
        return WKS_CONVERT_OUTPUT_FAILED;
    }
    return WKS_CONVERTED;
}

// Puts the output in the destination's place when the record loop got
// through, else drops it.  Returns the conversion's result.
// A failure leaves in errno the system's reason it met (the cleanup after it
// changes nothing there).
int32_t finish(Output &out, int32_t result, int reason) {
    if (result != WKS_CONVERTED) {
        out.file.abandon();
        errno = reason;
        return result;
    }
    if (holding_results()) {
        out.h.fd = -1;
        if (out.file.hold()) return WKS_CONVERTED;
        errno = ECANCELED;  // wks_discard_all dropped it meanwhile
        return WKS_CONVERT_OUTPUT_FAILED;
    }
    const int16_t code = out.file.commit();
    out.h.fd = -1;
    if (code == 0) return WKS_CONVERTED;
    if (code != WKS_E_OPEN) wkserr(code);
    return WKS_CONVERT_OUTPUT_FAILED;
}

}  // namespace
}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

int32_t wk1_to_orx(const char *wk1_path, const char *orx_path) {
    if (called_from_handler()) return WKS_CONVERT_STOPPED;
    if (is_empty(wk1_path)) return WKS_CONVERT_SOURCE_FAILED;
    if (is_empty(orx_path)) return WKS_CONVERT_CREATE_FAILED;
    WKS in;
    std::memset(&in, 0, sizeof in);
    if (!wksopen_wk1(&in, wk1_path, "")) return WKS_CONVERT_SOURCE_FAILED;

    if (!header::prepare_converter_block()) {
        wksclose_wk1(&in);
        return WKS_CONVERT_NO_MEMORY;
    }
    header::ConvertMode mode;
    Output out;
    const bool opened = open_output(out, Layout::kOrx, wk1_path, orx_path);
    header::release_converter_block();  // written by the open, or of no more use
    if (!opened) {
        wksclose_wk1(&in);
        return WKS_CONVERT_CREATE_FAILED;
    }

    const int32_t file = names::file_number_of(&out.h);
    int32_t result = convert_records(in, Layout::kWk1, out, [&] {
        // A cell of 2064 to 2067 body bytes translates, but 11 bytes longer
        // it would be a record no reader can take back.
        if (translate_to_orx(in.rec, out.h.rec) != 0 || rec_length(&out.h) > WKS_MAX_READ_BODY) return false;
        if (rec_type(&out.h) == WKS_FORMULA)
            rewrite_formula(out.h.rec, WKS_MAX_READ_BODY, file, &out.h, Direction::kWk1ToOrx);
        return true;
    });
    const int reason = errno;
    wksclose_wk1(&in);  // before the result takes the place of a destination that may be the source
    result = finish(out, result, reason);
    if (result == WKS_CONVERTED && take_text_cut()) return WKS_CONVERT_TEXT_CUT;
    return result;
}

int32_t orx_to_wk1(const char *orx_path, const char *wk1_path) {
    if (called_from_handler()) return WKS_CONVERT_STOPPED;
    if (is_empty(orx_path) || !is_orx_file(orx_path)) return WKS_CONVERT_SOURCE_FAILED;
    if (is_empty(wk1_path)) return WKS_CONVERT_CREATE_FAILED;

    header::ConvertMode mode;
    WKS in;
    std::memset(&in, 0, sizeof in);
    const bool source_open = wksopen(&in, orx_path, "") != nullptr;
    header::release_converter_block();  // the source's block: a WK1 file has none
    if (!source_open) return WKS_CONVERT_CREATE_FAILED;

    Output out;
    if (!open_output(out, Layout::kWk1, orx_path, wk1_path)) {
        wksclose(&in);
        return WKS_CONVERT_CREATE_FAILED;
    }

    const int32_t file = names::file_number_of(&in);
    const uint32_t long_texts_before = long_texts();
    WKS_RECORD work;  // formulas are rebuilt here: the source's buffer holds the read-ahead
    int32_t result = convert_records(in, Layout::kOrx, out, [&] {
        const WKS_RECORD *rec = &in.rec;
        if (rec_type(&in) == WKS_FORMULA) {
            std::memcpy(&work, &in.rec, kRecordHeaderSize + static_cast<std::size_t>(rec_length(&in)));
            rewrite_formula(work, WKS_BODY_SIZE, file, nullptr, Direction::kOrxToWk1);
            rec = &work;
        }
        return translate_to_wk1(*rec, out.h.rec) == 0;
    });
    const bool cut = long_texts() != long_texts_before;
    const int reason = errno;
    wksclose(&in);  // before the result takes the place of a destination that may be the source
    result = finish(out, result, reason);
    return result == WKS_CONVERTED && cut ? WKS_CONVERT_TEXT_CUT : result;
}

}
