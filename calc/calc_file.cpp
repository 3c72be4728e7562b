/*
 * wks_calc_file: a whole WK1 or ORX file recalculated, and its formulas'
 * values written back in place.
 *
 * The file is read twice: once into a sheet, which is recalculated and
 * shown to the visitor, and once more record by record into a new file
 * beside it (whole_file.h) that takes its place only when complete.  An ORX
 * file is read in the converters' header mode, so its header block goes to
 * the converter's buffer, never to the host's, and the new file's start
 * writes that same block back.  The file's range names live in the sheet
 * alone.  The header mode is restored and the converter's buffer emptied
 * on every return.
 */
#include "calc/recalc.h"
#include "calc/records.h"
#include "calc/sheet.h"
#include "convert/whole_file.h"
#include "wks.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cerrno>
#include <cstring>

static_assert(sizeof(void *) != 8 || sizeof(WKS_VALUE) == 24, "WKS_VALUE is 24 bytes on 64-bit targets");
static_assert(sizeof(WKS_CALC) == 16, "WKS_CALC is four 32-bit counts");

namespace wks::calc {
namespace {

// Numbers this close count as the same value: what a file written by
// another program may hold for a value computed in another order.
constexpr double kSameValue = 1e-12;

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
            open_ = wksopen_wk1(&h_, path, "") != nullptr;
        }
    }
    ~Source() { close(); }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    // WKS_OK, or what the opening failed with: 27 (shown), else 38.
    int16_t status() const { return open_ ? WKS_OK : h_.error == WKS_E_READ ? WKS_E_READ : WKS_E_OPEN; }
    uint16_t version() const { return get_u16(h_.rec.body); }
    WKS *handle() { return &h_; }
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
        const bool differs = !same_result(sheet, f.stored, f.value, kSameValue);
        counts.differences += differs;
        if (visit) {
            const Shown stored(sheet, f.stored), computed(sheet, f.value);
            visit(context, f.col, static_cast<int16_t>(f.row), stored.get(), computed.get(),
                  (differs ? WKS_FORMULA_DIFFERS : 0) | ((f.flags & kCircular) ? WKS_FORMULA_CIRCULAR : 0));
        }
    }
    if (summary) *summary = counts;
}

// Writes the sheet's values into a new version of the file and puts it in
// the file's place.
int16_t write_back(const Sheet &sheet, const char *path, Layout layout) {
    Source in(path, layout);
    if (const int16_t status = in.status()) return status;
    convert::WholeFile file;
    if (!file.create(path)) {
        const int reason = errno;  // why the file cannot be replaced, for the caller
        in.close();
        errno = reason;
        return WKS_E_OPEN;
    }
    WKS out;
    std::memset(&out, 0, sizeof out);
    if (!start_stream(&out, file.fd(), layout, in.version())) return WKS_E_WRITE;  // shown
    int16_t status = write_values(sheet, in.handle(), &out, layout);  // 27 and 32 shown
    if (status == WKS_OK) {
        set_rec(&out, WKS_EOF, 0);
        status = write_record(&out);
    }
    in.close();  // before the new file takes the place of the one it reads
    if (status != WKS_OK) return status;
    status = file.commit();
    if (status == WKS_E_WRITE || status == WKS_E_CLOSE) wkserr(status);
    return status;
}

int16_t calc_file(const char *path, int32_t flags, int32_t iterations, wks_calc_visitor visit, void *context,
                  WKS_CALC *summary) {
    if (is_empty(path)) return WKS_E_OPEN;
    HeaderModeGuard mode;
    const Layout layout = is_orx_file(path) ? Layout::kOrx : Layout::kWk1;
    Sheet sheet;
    {
        Source in(path, layout);
        if (const int16_t status = in.status()) return status;
        const int16_t loaded = load_sheet(sheet, in.handle(), layout);
        if (loaded == WKS_E_READ) return loaded;  // shown
        if (loaded != WKS_OK) return wkserr(WKS_E_NO_FORMULA_MEMORY);
    }
    header::release_converter_block();  // the second reading brings it again
    Options options;
    options.reproducible = (flags & WKS_CALC_REPRODUCIBLE) != 0;
    options.iterations = iterations;
    options.file_name = path;
    RecalcReport recalc;
    if (recalculate(sheet, options, &recalc) != WKS_OK) return wkserr(WKS_E_NO_FORMULA_MEMORY);
    report(sheet, recalc, visit, context, summary);
    if (flags & WKS_CALC_CHECK) return WKS_OK;
    return write_back(sheet, path, layout);
}

}  // namespace
}  // namespace wks::calc

extern "C" {

int16_t wks_calc_file(const char *path, int32_t flags, int32_t iterations, wks_calc_visitor visit, void *context,
                      WKS_CALC *summary) {
    return wks::calc::calc_file(path, flags, iterations, visit, context, summary);
}

}
