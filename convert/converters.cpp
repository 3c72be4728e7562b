/*
 * The whole-file converters, WK1 to ORX and ORX to WK1.  Each opens its
 * source first (a source that cannot be opened leaves every file alone),
 * then the new version of its destination, passes every record between BOF
 * and EOF through the record translation and every formula through the
 * rewriting of external references, and puts the result in the
 * destination's place only when all of it is written.
 *
 * The result goes to a file beside the destination (whole_file.h) whether
 * or not source and destination are one file; a conversion stops at the
 * first record it cannot read, translate or write, and then leaves the
 * destination as it was.  The header mode is restored on every return.
 */
#include "convert/formula_rewrite.h"
#include "convert/whole_file.h"
#include "names/names.h"
#include "platform/platform.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cstring>

namespace wks::convert {
namespace {

class ModeGuard {
public:
    ModeGuard() : saved_(header::mode()) {}
    ~ModeGuard() { header::set_mode(saved_); }
    ModeGuard(const ModeGuard &) = delete;
    ModeGuard &operator=(const ModeGuard &) = delete;

private:
    int32_t saved_;
};

// The destination's new version and the record stream that writes it.
struct Output {
    WKS h;
    WholeFile file;
};

bool open_output(Output &out, Layout layout, const char *src, const char *dst) {
    std::memset(&out.h, 0, sizeof out.h);
    out.h.fd = -1;
    const uint16_t version = new_file_version(dst, layout, src);
    if (!out.file.create(dst)) return false;
    if (start_stream(&out.h, out.file.fd(), layout, version)) return true;
    out.file.abandon();
    return false;
}

// Ends the output after its record loop: with the EOF record and in the
// destination's place when everything so far went through, else dropped.
// Returns the conversion's result.
int32_t finish(Output &out, int32_t result) {
    if (result == WKS_CONVERTED) {
        set_rec(&out.h, WKS_EOF, 0);
        if (write_record(&out.h) != 0) result = WKS_CONVERT_OUTPUT_FAILED;  // shown
    }
    if (result != WKS_CONVERTED) {
        out.file.abandon();
        return result;
    }
    const int16_t code = out.file.commit();
    out.h.fd = -1;
    if (code == 0) return WKS_CONVERTED;
    wkserr(code);
    return WKS_CONVERT_OUTPUT_FAILED;
}

}  // namespace
}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

int32_t wk1_to_orx(const char *wk1_path, const char *orx_path) {
    if (is_empty(wk1_path)) return WKS_CONVERT_SOURCE_FAILED;
    if (is_empty(orx_path)) return WKS_CONVERT_CREATE_FAILED;
    WKS in;
    std::memset(&in, 0, sizeof in);
    if (!wksopen_wk1(&in, wk1_path, "")) return WKS_CONVERT_SOURCE_FAILED;

    ModeGuard mode;
    if (!header::prepare_converter_block()) {
        wksclose_wk1(&in);
        return WKS_CONVERT_NO_MEMORY;
    }
    header::set_mode(header::kConvert);
    Output out;
    const bool opened = open_output(out, Layout::kOrx, wk1_path, orx_path);
    header::release_converter_block();  // written by the open, or of no more use
    if (!opened) {
        wksclose_wk1(&in);
        return WKS_CONVERT_CREATE_FAILED;
    }

    int32_t result = WKS_CONVERTED;
    int16_t status;
    while ((status = wksnextr_wk1(&in)) == 0) {
        // A cell of 2064 to 2067 body bytes translates, but 11 bytes longer
        // it would be a record no reader can take back.
        if (wk1_rec_to_orx_rec(reinterpret_cast<const unsigned char *>(&in.rec),
                               reinterpret_cast<unsigned char *>(&out.h.rec)) != 0 ||
            rec_length(&out.h) > WKS_MAX_READ_BODY) {
            result = WKS_CONVERT_SOURCE_DAMAGED;
            break;
        }
        if (rec_type(&out.h) == WKS_FORMULA)
            rewrite_formula(out.h.rec, WKS_MAX_READ_BODY, names::file_number_of(&out.h), &out.h,
                            Direction::kWk1ToOrx);
        if (wkswrec(&out.h) != 0) {
            result = WKS_CONVERT_OUTPUT_FAILED;
            break;
        }
    }
    if (result == WKS_CONVERTED && status != -1) result = WKS_CONVERT_SOURCE_DAMAGED;
    wksclose_wk1(&in);  // before the result takes the place of a destination that may be the source
    result = finish(out, result);
    if (result == WKS_CONVERTED && take_text_cut()) return WKS_CONVERT_TEXT_CUT;
    return result;
}

int32_t orx_to_wk1(const char *orx_path, const char *wk1_path) {
    if (is_empty(orx_path) || !is_orx_file(orx_path)) return WKS_CONVERT_SOURCE_FAILED;
    if (is_empty(wk1_path)) return WKS_CONVERT_CREATE_FAILED;

    ModeGuard mode;
    header::set_mode(header::kConvert);
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

    int32_t result = WKS_CONVERTED;
    const uint32_t long_texts_before = long_texts();
    WKS_RECORD work;  // formulas are rebuilt here: the source's buffer holds the read-ahead
    int16_t status;
    while ((status = wksnextr(&in)) == 0) {
        const WKS_RECORD *rec = &in.rec;
        if (rec_type(&in) == WKS_FORMULA) {
            std::memcpy(&work, &in.rec, sizeof work);
            rewrite_formula(work, WKS_BODY_SIZE, names::file_number_of(&in), nullptr, Direction::kOrxToWk1);
            rec = &work;
        }
        if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(rec),
                               reinterpret_cast<unsigned char *>(&out.h.rec)) != 0) {
            result = WKS_CONVERT_SOURCE_DAMAGED;
            break;
        }
        if (wkswrec_wk1(&out.h) != 0) {
            result = WKS_CONVERT_OUTPUT_FAILED;
            break;
        }
    }
    if (result == WKS_CONVERTED && status != -1) result = WKS_CONVERT_SOURCE_DAMAGED;
    const bool cut = long_texts() != long_texts_before;
    wksclose(&in);  // before the result takes the place of a destination that may be the source
    result = finish(out, result);
    return result == WKS_CONVERTED && cut ? WKS_CONVERT_TEXT_CUT : result;
}

}
