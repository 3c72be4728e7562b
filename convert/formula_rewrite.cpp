/*
 * Rewriting the external references of one formula record: decode its code
 * to text, rewrite the text by the direction's rules, and compile it back
 * into the record.  Owns the decoded-text and rewritten-text buffers and the
 * text-cut flag (process-wide, as the one-call-at-a-time library is).
 *
 * What must stay true: a record is either left exactly as it was, or
 * rebuilt from a text that differs from its decoded text; in the second
 * case its prefix, format byte, column and row stay, its value becomes 0.0,
 * its real constants keep their exact bits, and its new code decodes at its
 * cell.  A record whose cell lies off the sheet is never rebuilt.  Nothing
 * here allocates.
 */
#include "convert/formula_rewrite.h"

#include "convert/formula_constants.h"
#include "convert/rewrite_text.h"
#include "formula/code_tables.h"
#include "formula/decoder.h"
#include "names/names.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <cstring>

namespace wks::convert {
namespace {

constexpr int kDecodedSize = 2048;    // the decoder may write 2047 characters with the NUL
constexpr int kRewrittenSize = 4096;
constexpr int kLongestWk1Text = 255;  // longer texts are not taken into WK1 files
constexpr int kMaxCode = kFormulaCodeBuffer - kCodeLengthSize;

// Appended to the copy of a formula's code before decoding, so that code
// with no end item within its length stops here: an item that reaches into
// the pad meets an end item within its first nine bytes, a string meets the
// NUL and then an end item.
constexpr unsigned char kEnd = formula::kEnd;
constexpr unsigned char kPad[] = {kEnd, kEnd, kEnd, kEnd, kEnd, kEnd, kEnd, kEnd, kEnd, 0, kEnd};

char g_decoded[kDecodedSize];
char g_rewritten[kRewrittenSize];
bool g_text_cut = false;  // reported (and cleared) by the next WK1-to-ORX conversion
uint32_t g_long_texts = 0;  // texts the length guard met, ever: lets a caller see its own

bool holds_code(const WKS_RECORD &rec) {
    if (get_u16(rec.type) != WKS_FORMULA) return false;
    const int length = get_u16(rec.length);
    const int code_length = get_i16(rec.body + kOrxCodeLength);
    return length <= WKS_BODY_SIZE && code_length >= 1 && kOrxCode + code_length <= length;
}

int16_t shown(int16_t code) { return wkserr(code); }

// Relative references are decoded and compiled against the formula's cell;
// from a cell off the sheet they do not come back as they were.
bool on_sheet(int16_t col, int16_t row) {
    return col >= 0 && col < formula::kColumns && row >= 0 && row < formula::kRows;
}

}  // namespace

int16_t rewrite_formula(WKS_RECORD &rec, int32_t room, int32_t file, WKS *owner, Direction direction) {
    if (!holds_code(rec)) return shown(WKS_E_BAD_FUNCTION);
    const int16_t col = get_i16(rec.body + kOrxColumn);
    const int16_t row = get_i16(rec.body + kOrxRow);
    const int code_length = get_i16(rec.body + kOrxCodeLength);
    if (!on_sheet(col, row)) return shown(WKS_E_BAD_FUNCTION);

    unsigned char former[kCodeLengthSize + WKS_BODY_SIZE + sizeof kPad];
    std::memcpy(former, rec.body + kOrxCodeLength, kCodeLengthSize + static_cast<std::size_t>(code_length));
    std::memcpy(former + kCodeLengthSize + code_length, kPad, sizeof kPad);
    int16_t code = formula::decode_formula(file, col, row, former, g_decoded, kDecodedSize - 1);
    if (code != 0) return shown(code);

    // The rules change a text only at a "<<" (both directions) or at the
    // colon of a sheet prefix (WK1 to ORX); most texts have neither.
    const bool to_orx = direction == Direction::kWk1ToOrx;
    int32_t length;
    bool unchanged;
    if (!std::strpbrk(g_decoded, to_orx ? "<:" : "<")) {
        length = static_cast<int32_t>(std::strlen(g_decoded));
        unchanged = true;
    } else {
        length = to_orx ? rewrite_wk1_to_orx(g_decoded, g_rewritten, sizeof g_rewritten)
                        : rewrite_orx_to_wk1(g_decoded, g_rewritten, sizeof g_rewritten);
        if (length < 0) return shown(WKS_E_OUTPUT_EXHAUSTED);
        unchanged = std::strcmp(g_decoded, g_rewritten) == 0;
    }
    if (direction == Direction::kOrxToWk1 && length > kLongestWk1Text) {
        // Too long for a WK1 file.  Compiling a cut text would silently
        // change the formula: it stays as it is, and the flag tells.
        g_text_cut = true;
        ++g_long_texts;
        return unchanged ? 0 : WKS_E_FORMULA_SIZE;
    }
    if (unchanged) return 0;

    unsigned char fresh[kFormulaCodeBuffer];
    code = wksfe(file, col, row, g_rewritten, fresh, kFormulaCodeBuffer);
    if (code != 0) {
        if (owner) owner->error = code;  // a packed field: never through a pointer
        return shown(code);
    }
    unsigned char merged[kFormulaCodeBuffer];  // length word, then the code
    const int32_t merged_length = carry_constants(former + kCodeLengthSize, code_length, fresh + kCodeLengthSize,
                                                  get_i16(fresh), col, row, merged + kCodeLengthSize, kMaxCode);
    // A constant that would not come back the same is "Real is too long, or
    // has invalid format"; other items regrouped, "Unimplemented operator or
    // function": text cannot keep them as they were.
    if (merged_length == kConstantsDiffer) return shown(WKS_E_BAD_REAL);
    if (merged_length == kRegrouped) return shown(WKS_E_UNIMPLEMENTED);
    if (merged_length < 0 || kOrxCode + merged_length > room) return shown(WKS_E_CODE_SPACE);
    put_u16(merged, static_cast<uint16_t>(merged_length));

    // The new code must decode where it stands (its text is the rewritten
    // one, so it fits that buffer); a negation more can nest it too deeply.
    code = formula::decode_formula(file, col, row, merged, g_rewritten, kRewrittenSize);
    if (code != 0) return shown(code);

    put_u16(rec.length, static_cast<uint16_t>(kOrxCode + merged_length));
    put_f64(rec.body + kOrxValue, 0.0);
    std::memcpy(rec.body + kOrxCodeLength, merged, kCodeLengthSize + static_cast<std::size_t>(merged_length));
    return 0;
}

bool take_text_cut() {
    const bool cut = g_text_cut;
    g_text_cut = false;
    return cut;
}

uint32_t long_texts() { return g_long_texts; }

void reset_rewrite_state() {
    g_text_cut = false;
    g_long_texts = 0;
}

}  // namespace wks::convert

using namespace wks::convert;

namespace {

// The largest body a handle's record may be rebuilt to: a reading handle
// keeps the next record's header right after the current body.
int32_t room_of(const WKS *h) {
    if (h->mode != 'r' || h->carried <= 0) return WKS_BODY_SIZE;
    const uintptr_t body = reinterpret_cast<uintptr_t>(h->rec.body);
    const uintptr_t cursor = reinterpret_cast<uintptr_t>(h->cursor);
    if (cursor < body || cursor > body + WKS_BODY_SIZE) return 0;
    return static_cast<int32_t>(cursor - body);
}

}  // namespace

extern "C" {

int16_t modify_formula_wk12orx(WKS *h) {
    if (!h) return WKS_E_BAD_FUNCTION;
    return rewrite_formula(h->rec, room_of(h), wks::names::file_number_of(h), h, Direction::kWk1ToOrx);
}

int16_t modify_formula_orx2wk1(WKS *h) {
    if (!h) return WKS_E_BAD_FUNCTION;
    return rewrite_formula(h->rec, room_of(h), wks::names::file_number_of(h), h, Direction::kOrxToWk1);
}

}
