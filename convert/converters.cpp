/*
 * The whole-file converters, WK1 to ORX and ORX to WK1.  Each opens its
 * source first (a source that cannot be opened leaves every file alone),
 * then its destination, passes every record between BOF and EOF through
 * the record translation and every formula through the rewriting of
 * external references, and closes both.
 *
 * When source and destination are one file, the result goes to a
 * temporary file created exclusively beside the destination and is renamed
 * over it only once it is complete; on any failure the temporary file is
 * removed and the source stays as it was.  The header mode is restored on
 * every return.
 */
#include "convert/formula_rewrite.h"
#include "convert/wk1_file.h"
#include "platform/platform.h"
#include "wks/header.h"
#include "wks/stream.h"

#include <cstdio>
#include <cstring>

namespace wks::convert {
namespace {

// Converter results.
constexpr int32_t kConverted = 0;
constexpr int32_t kCreateFailed = -1;   // destination (or temporary file) not created
constexpr int32_t kSourceFailed = -2;   // source not opened (wk1_to_orx), not an ORX file (orx_to_wk1)
constexpr int32_t kNoMemory = -3;       // no header block for the output
constexpr int32_t kTextCut = -4;        // converted; a formula text was too long to rewrite
constexpr int32_t kSourceDamaged = -5;  // a record could not be read or translated
constexpr int32_t kOutputFailed = -6;   // the result could not be written whole

constexpr int16_t kNotCreated = 38;  // the open's code when the file could not be created

constexpr int kTempNameSize = 4096;
constexpr int kTempAttempts = 1000;
constexpr char kFirstTempName[] = "$_$";

bool is_empty(const char *path) { return path == nullptr || path[0] == '\0'; }

// One file when the names match without regard to case, or when both exist
// and are the same file; two different existing files never are.
bool one_file(const char *a, const char *b) {
    if (plat::exists(a) && plat::exists(b)) return plat::same_file(a, b);
    return plat::stricmp(a, b) == 0;
}

class ModeGuard {
public:
    ModeGuard() : saved_(header::mode()) {}
    ~ModeGuard() { header::set_mode(saved_); }
    ModeGuard(const ModeGuard &) = delete;
    ModeGuard &operator=(const ModeGuard &) = delete;

private:
    int32_t saved_;
};

struct Output {
    WKS h;
    Layout layout;
    bool temporary = false;
    char temp[kTempNameSize];
};

// The n-th temporary name beside path: "$_$", then "file0", "file1", ...
// False when the name would not fit.
bool temp_name(const char *path, int n, char (&out)[kTempNameSize]) {
    const plat::SplitPath parts = plat::split_path(path);
    const std::size_t dir = parts.drive.size() + parts.dir.size();
    char leaf[16];
    if (n == 0)
        std::snprintf(leaf, sizeof leaf, "%s", kFirstTempName);
    else
        std::snprintf(leaf, sizeof leaf, "file%d", n - 1);
    if (dir + std::strlen(leaf) + 1 > sizeof out) return false;
    std::memcpy(out, path, dir);  // drive and directory are the path's first characters
    std::strcpy(out + dir, leaf);
    return true;
}

uint16_t version_for(const char *path, Layout layout) {
    return has_extension(path, layout == Layout::kOrx ? ".ORX" : ".WK1") ? kVersion1030 : kVersion1028;
}

bool open_temporary(Output &out, const char *dst) {
    for (int n = 0; n < kTempAttempts; ++n) {
        if (!temp_name(dst, n, out.temp)) return false;
        if (create_exclusive(&out.h, out.temp, out.layout, version_for(dst, out.layout))) {
            out.temporary = true;
            return true;
        }
        if (out.h.error != kNotCreated) {  // created, but its first records could not be written
            plat::remove(out.temp);
            return false;
        }
        if (!plat::exists(out.temp)) return false;  // not a name clash: give up
    }
    return false;
}

bool open_output(Output &out, const char *src, const char *dst) {
    std::memset(&out.h, 0, sizeof out.h);
    if (one_file(src, dst)) return open_temporary(out, dst);
    return out.layout == Layout::kOrx ? wksopen(&out.h, "", dst) != nullptr
                                      : wksopen_wk1(&out.h, "", dst) != nullptr;
}

// What went wrong in a record loop.
struct LoopState {
    bool read_failed = false;
    bool refused = false;
    bool write_failed = false;
    bool cut = false;
};

// Closes the output and, for a temporary file, puts it in place of dst
// when the conversion went through, or removes it.  Returns the result.
int32_t finish(Output &out, const char *dst, const LoopState &state) {
    bool written = !state.write_failed;
    if (wksclose(&out.h) != 0) {
        written = false;
        if (out.h.fd >= 0) close_descriptor(&out.h);  // the EOF record was not written: still open
    }
    int32_t result = kConverted;
    if (state.read_failed || state.refused)
        result = kSourceDamaged;
    else if (!written)
        result = kOutputFailed;
    if (out.temporary) {
        if (result == kConverted && plat::rename(out.temp, dst) != 0) result = kOutputFailed;
        if (result != kConverted) plat::remove(out.temp);
    }
    return result;
}

}  // namespace
}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

int32_t wk1_to_orx(const char *wk1_path, const char *orx_path) {
    if (is_empty(wk1_path)) return kSourceFailed;
    if (is_empty(orx_path)) return kCreateFailed;
    WKS in;
    std::memset(&in, 0, sizeof in);
    if (!wksopen_wk1(&in, wk1_path, "")) return kSourceFailed;

    ModeGuard mode;
    if (!header::prepare_converter_block()) {
        wksclose_wk1(&in);
        return kNoMemory;
    }
    header::set_mode(header::kConvert);
    Output out;
    out.layout = Layout::kOrx;
    const bool opened = open_output(out, wk1_path, orx_path);
    header::release_converter_block();  // written by the open, or of no more use
    if (!opened) {
        wksclose_wk1(&in);
        return kCreateFailed;
    }

    LoopState state;
    int16_t status;
    while ((status = wksnextr_wk1(&in)) == 0) {
        if (wk1_rec_to_orx_rec(reinterpret_cast<const unsigned char *>(&in.rec),
                               reinterpret_cast<unsigned char *>(&out.h.rec)) != 0) {
            state.refused = true;
            continue;
        }
        if (rec_type(&out.h) == WKS_FORMULA)
            rewrite_formula(out.h.rec, WKS_BODY_SIZE, file_number(&out.h), &out.h, Direction::kWk1ToOrx);
        if (wkswrec(&out.h) != 0) state.write_failed = true;
    }
    state.read_failed = status != -1;
    wksclose_wk1(&in);
    const int32_t result = finish(out, orx_path, state);
    if (result == kConverted && take_text_cut()) return kTextCut;
    return result;
}

int32_t orx_to_wk1(const char *orx_path, const char *wk1_path) {
    if (is_empty(orx_path) || !is_orx_file(orx_path)) return kSourceFailed;
    if (is_empty(wk1_path)) return kCreateFailed;

    ModeGuard mode;
    header::set_mode(header::kConvert);
    WKS in;
    std::memset(&in, 0, sizeof in);
    const bool source_open = wksopen(&in, orx_path, "") != nullptr;
    header::release_converter_block();  // the source's block: a WK1 file has none
    if (!source_open) return kCreateFailed;

    Output out;
    out.layout = Layout::kWk1;
    if (!open_output(out, orx_path, wk1_path)) {
        wksclose(&in);
        return kCreateFailed;
    }

    LoopState state;
    const uint32_t long_texts_before = long_texts();
    WKS_RECORD work;  // formulas are rebuilt here: the source's buffer holds the read-ahead
    int16_t status;
    while ((status = wksnextr(&in)) == 0) {
        const WKS_RECORD *rec = &in.rec;
        if (rec_type(&in) == WKS_FORMULA) {
            std::memcpy(&work, &in.rec, sizeof work);
            rewrite_formula(work, WKS_BODY_SIZE, file_number(&in), nullptr, Direction::kOrxToWk1);
            rec = &work;
        }
        if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(rec),
                               reinterpret_cast<unsigned char *>(&out.h.rec)) != 0) {
            state.refused = true;
            continue;
        }
        if (wkswrec_wk1(&out.h) != 0) state.write_failed = true;
    }
    state.read_failed = status != -1;
    state.cut = long_texts() != long_texts_before;
    wksclose(&in);
    const int32_t result = finish(out, wk1_path, state);
    return result == kConverted && state.cut ? kTextCut : result;
}

}
