/*
 * wks_calc_file: a whole WK1 or ORX file recalculated, and its formulas'
 * values written back in place.
 *
 * The file is read once, whole, into memory, in large blocks: the sheet is
 * loaded from those bytes, recalculated and shown to the visitor, and the
 * same bytes, with the changed values, go in large blocks to a new file
 * beside it (whole_file.h) that takes its place only when complete.  So the
 * values written always come from the bytes they are written into, and
 * every byte but those values stays as it was: an ORX file's header block,
 * the BOF record, the records after the EOF record.  The opening only checks
 * the file: an ORX file's header block is read in the converters' header
 * mode, so it goes to the converter's buffer, never to the host's; the mode
 * is restored and the buffer emptied on every return.
 *
 * The converters' progress handler is asked as the file is read, now and
 * then while the formulas are computed, and before the new file takes the
 * file's place; a nonzero answer stops the call with the file as it was.
 */
#include "calc/recalc.h"
#include "calc/records.h"
#include "calc/sheet.h"
#include "convert/progress.h"
#include "convert/whole_file.h"
#include "platform/platform.h"
#include "wks.h"
#include "wks/family.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cerrno>
#include <cstring>

static_assert(sizeof(void *) != 8 || sizeof(WKS_VALUE) == 24, "WKS_VALUE is 24 bytes on 64-bit targets");
static_assert(sizeof(WKS_CALC) == 16, "WKS_CALC is four 32-bit counts");

namespace wks::calc {
namespace {

constexpr uint32_t kBlock = 1 << 17;  // bytes read or written at a time
static_assert(kBlock >= WKS_RECORD_SIZE, "a block holds a whole record");

// Convert mode while the file is read and written; the ORX file's own
// header block, read into the converter buffer, goes at the end.
class HeaderModeGuard {
public:
    HeaderModeGuard() = default;
    ~HeaderModeGuard() { header::release_converter_block(); }
    HeaderModeGuard(const HeaderModeGuard &) = delete;
    HeaderModeGuard &operator=(const HeaderModeGuard &) = delete;

private:
    header::ConvertMode mode_;
};

// The file open for reading, its BOF record current.
class Source {
public:
    Source(const char *path, Layout layout) : layout_(layout) {
        std::memset(&h_, 0, sizeof h_);
        h_.fd = -1;
        if (layout == Layout::kOrx) {
            // A first record that is no BOF record is only 39 (silent), as
            // for the converters: no "not an ORX file" notice.
            static constexpr InputRules kRules{"cannot be opened.", false, 'r', -1};
            reset_position(&h_);
            open_ = open_input(&h_, path, kRules);
        } else {
            open_ = family::open(&h_, path, nullptr) != nullptr;  // WKS, WK1, Symphony, Works
        }
    }
    ~Source() { close(); }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    // WKS_OK, or what the opening failed with: 27 (shown), else 38.
    int16_t status() const { return open_ ? WKS_OK : h_.error == WKS_E_READ ? WKS_E_READ : WKS_E_OPEN; }
    int32_t fd() const { return h_.fd; }
    // Closing a file that was only read cannot lose anything: its result
    // does not matter.
    void close() {
        if (!open_) return;
        open_ = false;
        if (layout_ == Layout::kOrx) wksclose(&h_);
        else wksclose_wk1(&h_);
    }

private:
    WKS h_;
    Layout layout_;
    bool open_ = false;
};

// A string value in the visitor's form: the text copied out with a NUL.
class Shown {
public:
    Shown(const Sheet &sheet, const Result &r) {
        const Value v = sheet.value_of(r);
        value_.kind = v.tag == Tag::kNumber ? WKS_VALUE_NUMBER
                      : v.tag == Tag::kString ? WKS_VALUE_STRING
                      : v.tag == Tag::kNa     ? WKS_VALUE_NA
                                              : WKS_VALUE_ERR;
        value_.number = v.tag == Tag::kNumber ? v.number : 0;
        if (v.tag == Tag::kString) std::memcpy(text_, v.text, v.length);
        text_[v.tag == Tag::kString ? v.length : 0] = '\0';
        value_.text = text_;
    }
    const WKS_VALUE *get() const { return &value_; }

private:
    WKS_VALUE value_;
    char text_[kMaxText + 1];
};

void report(const Sheet &sheet, const RecalcReport &recalc, wks_calc_visitor visit, void *context,
            WKS_CALC *summary) {
    WKS_CALC counts{0, 0, static_cast<int32_t>(recalc.circular), recalc.passes};
    for (uint32_t i = 0; i < sheet.formula_count(); ++i) {
        const Formula &f = sheet.formula(i);
        if (f.flags & kReplaced) continue;
        ++counts.formulas;
        const bool differs = value_changed(sheet, f);
        counts.differences += differs;
        if (visit) {
            const Shown stored(sheet, f.stored), computed(sheet, f.value);
            visit(context, f.col, static_cast<int16_t>(f.row), stored.get(), computed.get(),
                  (differs ? WKS_FORMULA_DIFFERS : 0) | ((f.flags & kCircular) ? WKS_FORMULA_CIRCULAR : 0));
        }
    }
    if (summary) *summary = counts;
}

// Reads fd from its start to its end into bytes.  WKS_OK, WKS_E_READ
// (shown), WKS_E_NO_FORMULA_MEMORY, or kStopped.
int16_t read_whole(int32_t fd, Buffer<unsigned char> &bytes, convert::Progress &progress) {
    if (plat::lseek(fd, 0, plat::kSeekSet) != 0) return wkserr(WKS_E_READ);
    const int64_t size = plat::size_of(fd);
    // Room for the whole file and one more block, so that the read that
    // finds the end needs no larger copy of everything read before it.
    if (size > 0 && !bytes.reserve(static_cast<std::size_t>(size) + kBlock)) return WKS_E_NO_FORMULA_MEMORY;
    for (;;) {
        if (!bytes.reserve(bytes.size() + kBlock)) return WKS_E_NO_FORMULA_MEMORY;
        const int32_t got = plat::read(fd, bytes.data() + bytes.size(), kBlock);
        if (got < 0) return wkserr(WKS_E_READ);
        if (got == 0) return WKS_OK;
        bytes.shrink_to(bytes.size() + static_cast<std::size_t>(got));  // within the room reserved
        if (progress.check(static_cast<int64_t>(bytes.size()))) return kStopped;
    }
}

// The progress handler once the whole file is read: it is told so.
struct Asking {
    convert::Progress progress;
    int64_t total;
    bool stop() { return progress.report(total); }
};

int ask_progress(void *context) { return static_cast<Asking *>(context)->stop() ? 1 : 0; }

// Writes the image with the sheet's values into a new version of the file
// and puts it in the file's place.
int16_t write_back(const Sheet &sheet, const FileImage &image, const char *path, Layout layout,
                   Asking &asking) {
    convert::WholeFile file;
    if (!file.create(path)) return WKS_E_OPEN;  // errno: why the file cannot be replaced, for the caller
    Buffer<unsigned char> block;
    const bool buffered = block.reserve(kBlock);  // without it, one write per record
    BlockWriter out;
    out.start(file.fd(), block.data(), buffered ? kBlock : 0);
    int16_t status = write_image(sheet, image, layout, out);
    if (status == WKS_OK && !out.flush()) status = wkserr(WKS_E_WRITE);
    if (status != WKS_OK) return status;
    if (asking.stop()) return kStopped;
    status = file.commit();
    if (status == WKS_E_WRITE || status == WKS_E_CLOSE) wkserr(status);
    return status;
}

int16_t calc_file(const char *path, int32_t flags, int32_t iterations, wks_calc_visitor visit, void *context,
                  WKS_CALC *summary) {
    if (is_empty(path)) return WKS_E_OPEN;
    HeaderModeGuard mode;
    const Layout layout = is_orx_file(path) ? Layout::kOrx : Layout::kWk1;
    FileImage image;
    int64_t total;
    {
        Source in(path, layout);
        if (const int16_t status = in.status()) return status;
        header::release_converter_block();  // the header block goes back as the file holds it
        total = plat::size_of(in.fd());
        convert::Progress progress(total);
        if (progress.report(0)) return kStopped;
        const int16_t status = read_whole(in.fd(), image.bytes, progress);
        if (status != WKS_OK) return status == WKS_E_NO_FORMULA_MEMORY ? wkserr(status) : status;
    }
    Asking asking{convert::Progress(total), total};
    // The records after the BOF record, which the opening found whole.
    image.records = (layout == Layout::kOrx ? WKS_HEADER_SIZE : 0) + kRecordHeaderSize + 2;
    Sheet sheet;
    const int16_t loaded = load_image(sheet, image, layout);
    if (loaded == WKS_E_READ) return loaded;  // shown
    if (loaded != WKS_OK) return wkserr(WKS_E_NO_FORMULA_MEMORY);
    Options options;
    options.reproducible = (flags & WKS_CALC_REPRODUCIBLE) != 0;
    options.iterations = iterations;
    const int charset = (flags & WKS_CALC_CHARSET_MASK) >> 4;
    options.charset = charset < charsets::kCharsetCount ? charset : 0;
    options.file_name = path;
    options.poll = ask_progress;
    options.poll_context = &asking;
    RecalcReport recalc;
    const int16_t computed = recalculate(sheet, options, &recalc);
    if (computed == kStopped) return kStopped;
    if (computed != WKS_OK) return wkserr(WKS_E_NO_FORMULA_MEMORY);
    report(sheet, recalc, visit, context, summary);
    if (flags & WKS_CALC_CHECK) return WKS_OK;
    return write_back(sheet, image, path, layout, asking);
}

}  // namespace
}  // namespace wks::calc

extern "C" {

int16_t wks_calc_file(const char *path, int32_t flags, int32_t iterations, wks_calc_visitor visit, void *context,
                      WKS_CALC *summary) {
    return wks::calc::calc_file(path, flags, iterations, visit, context, summary);
}

}
